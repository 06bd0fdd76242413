// Errors and warnings of the zalk API.
//
// No call of the API ends the process or prints: a refused input or a failure
// inside the analysis comes back as a Status, with the text the library's
// reporter would have printed for it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "zalk/errc.hpp"

namespace zalk {

// The reporter's error types; the API returns warnings and the two severe ones.
enum class ErrorType : int { note = 1, alert = 2, warning = 3, fatal = 4, terminal = 5 };

struct Error {
  std::string routine;  // the routine that raised it (printed after "from")
  int code = 0;         // the error's number within that routine
  Errc errc = Errc::other;  // the message raised, to branch on (zalk/errc.hpp)
  ErrorType type = ErrorType::terminal;
  std::string message;  // the message alone, values filled in
  std::string text;     // the lines exactly as the reporter prints them, joined by '\n'
};

struct Status {
  // Set when the call was refused or failed; nothing was computed then.
  std::optional<Error> error;
  // Warnings raised while the call worked (in the order raised).
  std::vector<Error> warnings;

  bool ok() const { return !error.has_value(); }
  explicit operator bool() const { return ok(); }
};

}  // namespace zalk
