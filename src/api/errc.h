// The public error value of a message the reporter raised.
#pragma once

#include <string_view>

#include "zalk/errc.hpp"

namespace zalk::detail {

// The message of `routine` with this type and code; Errc::other for none.
// The data folder's messages are raised under the name of the routine that
// needed the folder, so they are told by their type, code and wording.
Errc errc_of(std::string_view routine, int type, int code, std::string_view message);

}  // namespace zalk::detail
