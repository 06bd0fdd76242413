#include "api/guard.h"

#include <charconv>
#include <cmath>

#include "api/errc.h"

namespace zalk::detail {

std::string number_text(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "infinity" : "-infinity";
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

void refuse(ApiMessage m) {
  const toolkit::Message& entry = kApiMessages[static_cast<std::size_t>(m)];
  toolkit::RoutineScope scope(entry.routine);
  raise(m);
  throw std::logic_error("a terminal error returned");  // not reached: the handler throws
}

Error error_of(const toolkit::ErrorEvent& event) {
  Error e;
  e.routine = event.routine;
  e.code = event.code;
  e.type = static_cast<ErrorType>(event.type);
  e.errc = errc_of(event.routine, event.type, event.code, event.message);
  e.message = event.message;
  for (const std::string& line : event.lines) {
    if (!e.text.empty()) e.text += '\n';
    e.text += line;
  }
  return e;
}

// Notes and alerts are silent in the reporter's default action, so they are
// not returned either; severe errors come back through SevereError.
void record_warning(Status& status, const toolkit::ErrorEvent& event) {
  if (event.type == toolkit::WARNING) status.warnings.push_back(error_of(event));
}

void record_unexpected(Status& status, std::string_view routine, const char* what) noexcept {
  try {
    toolkit::ScopedErrorHandler handler([](const toolkit::ErrorEvent&) {});
    toolkit::RoutineScope scope(routine);
    toolkit::E1STL(1, what);
    raise(ApiMessage::unexpected);
  } catch (const toolkit::SevereError& e) {
    try {
      status.error = error_of(e.event());
    } catch (...) {
      status.error.reset();
    }
  } catch (...) {
  }
  if (!status.error) {
    // Out of memory even for the message: the error alone must do.
    try {
      status.error.emplace();
    } catch (...) {
    }
  }
}

}  // namespace zalk::detail
