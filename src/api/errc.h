// The public error value of a message the reporter raised.
#pragma once

#include <string_view>

#include "zalk/errc.hpp"

namespace zalk::detail {

// The message of `routine` with this type and code; Errc::other for none.
Errc errc_of(std::string_view routine, int type, int code);

}  // namespace zalk::detail
