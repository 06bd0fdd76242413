// How the API runs the core: a recording reporter handler for the call, so
// that nothing is printed and no error ends the process; warnings are
// collected and a severe error ends the call as its Status.
#pragma once

#include <string>
#include <string_view>

#include "api/api_messages.h"
#include "zalk/status.hpp"

namespace zalk::detail {

// Runs `body` under a recording handler and returns what it raised. Every
// exception stays inside: a failure that is not the reporter's becomes a
// terminal error of `routine`.
template <class Body>
Status run_guarded(std::string_view routine, Body&& body);

// The shortest text that reads back as `value`.
std::string number_text(double value);

// Raises `m` from its table routine: the check of an input failed.
[[noreturn]] void refuse(ApiMessage m);

// ---- implementation ------------------------------------------------------------

Error error_of(const toolkit::ErrorEvent& event);
void record_warning(Status& status, const toolkit::ErrorEvent& event);
void record_unexpected(Status& status, std::string_view routine, const char* what) noexcept;

template <class Body>
Status run_guarded(std::string_view routine, Body&& body) {
  Status status;
  try {
    toolkit::ScopedErrorHandler handler(
        [&status](const toolkit::ErrorEvent& e) { record_warning(status, e); });
    try {
      body();
    } catch (const toolkit::SevereError& e) {
      status.error = error_of(e.event());
    }
  } catch (const std::exception& e) {
    record_unexpected(status, routine, e.what());
  } catch (...) {
    record_unexpected(status, routine, "an unknown failure");
  }
  return status;
}

}  // namespace zalk::detail
