// The toolkit's error reporter: a stack of active routine names, one error
// record with placeholder values, and the printing and default actions of the
// five error types.
//
// Every toolkit routine pushes its name on entry and pops it on return
// (RoutineScope does both). A failed check records its placeholder values
// with E1STI/E1STR/E1STD/E1STL and raises the error with E1MES.
//
// Default actions: types 1 (NOTE) and 2 (ALERT) are silent; type 3 (WARNING)
// is printed on standard output and the routine goes on; types 4 (FATAL) and
// 5 (TERMINAL) are printed, then "Stop - Program terminated." is printed and
// the process ends with exit status 4 or 5 respectively.
//
// A host or a test may install a handler. It receives every error (all five
// types) in place of the default action. When the handler returns from an
// error of type 4 or 5, the reporter throws SevereError, so a severe error
// never returns to the routine that raised it; the library boundary catches
// it and hands the host a status instead of ending the process.
//
// All reporter state (stack, record, handler) is per thread.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zalk::toolkit {

enum ErrorType : int { NOTE = 1, ALERT = 2, WARNING = 3, FATAL = 4, TERMINAL = 5 };

struct ErrorEvent {
  int type = 0;
  int code = 0;
  std::string routine;               // the name printed after "from"
  std::string message;               // placeholders filled; "%/" left in place
  std::vector<std::string> lines;    // the printed block, without the leading empty line
};

// Thrown when a handler returns from a type 4 or 5 error.
class SevereError : public std::runtime_error {
 public:
  explicit SevereError(ErrorEvent e);
  const ErrorEvent& event() const noexcept { return event_; }

 private:
  ErrorEvent event_;
};

using ErrorHandler = std::function<void(const ErrorEvent&)>;

// Installs a handler for this thread and returns the previous one; an empty
// handler restores the default actions.
ErrorHandler set_error_handler(ErrorHandler handler);

// Installs a handler for the lifetime of the object.
class ScopedErrorHandler {
 public:
  explicit ScopedErrorHandler(ErrorHandler handler);
  ~ScopedErrorHandler();
  ScopedErrorHandler(const ScopedErrorHandler&) = delete;
  ScopedErrorHandler& operator=(const ScopedErrorHandler&) = delete;

 private:
  ErrorHandler previous_;
};

// Prints an event as the default action does (empty line, then its lines) on
// stdout. Inside a warning episode (below) a warning is printed only for its
// first kWarningsPrintedPerEpisode occurrences; the rest are counted.
void print_error(const ErrorEvent& e);

// A warning episode: one call into the library, within which a repeated
// warning (same type, code and routine) is printed only for its first few
// occurrences. When the outermost episode ends, one line per such warning
// tells how many more were not printed. Only printing is limited: handlers
// still receive every event, the error record is still set, and severe
// errors (types 4 and 5) are always printed. Episodes nest; only the
// outermost one counts. Outside any episode nothing is limited.
constexpr int kWarningsPrintedPerEpisode = 5;

class WarningEpisode {
 public:
  WarningEpisode();
  ~WarningEpisode();
  WarningEpisode(const WarningEpisode&) = delete;
  WarningEpisode& operator=(const WarningEpisode&) = delete;
};

// Name stack.
void E1PSH(std::string_view name);
void E1POP(std::string_view name);
int name_stack_depth();                 // number of names on the stack
constexpr int kMaxStackDepth = 10;

namespace detail {
struct ReporterState;  // the reporter of one thread
}

// Pushes on construction and pops on destruction (also while a SevereError unwinds).
class RoutineScope {
 public:
  explicit RoutineScope(std::string_view name);
  ~RoutineScope();
  RoutineScope(const RoutineScope&) = delete;
  RoutineScope& operator=(const RoutineScope&) = delete;

 private:
  // The thread's reporter, found once: the lookup of a thread-local object
  // is a call on some platforms, and scopes open in inner loops.
  detail::ReporterState* state_;
  int depth_;
};

// Placeholder values, index 1..9: %(I<n>) / %(i<n>), %(R<n>), %(D<n>), %(L<n>).
void E1STI(int index, int value);
void E1STR(int index, float value);
void E1STD(int index, double value);
void E1STL(int index, std::string_view value);

// Raises an error of the given type and code with the given message text.
void E1MES(int type, int code, std::string_view text);

// How many errors of any type this thread has raised: a caller can tell
// whether a piece of work raised any (a result that comes with messages
// cannot be reused without them).
long long errors_raised();
// The last error record of this thread: type and code (0 when none since reset).
int last_error_type();
int last_error_code();
void reset_error_record();

// Formats an event's lines from type, code, routine and filled message (exposed for tests).
std::vector<std::string> format_error_lines(int type, int code, std::string_view routine,
                                            std::string_view message);

}  // namespace zalk::toolkit
