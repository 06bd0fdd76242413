// The library boundary's own state and the guard every entry point runs its
// body in. Internal to the shared library (nothing here is exported).
#pragma once

#include <exception>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "rating/blocks.h"
#include "toolkit/errors.h"

// Entry points of the 32-bit Windows module realign the stack on entry: a
// host built by another compiler guarantees only 4-byte alignment there,
// while the module's own code assumes 8 (for its doubles) and realigns only
// where it keeps 16-byte values on the stack.
#if defined(_WIN32) && !defined(_WIN64) && defined(__GNUC__)
#define ZALK_ENTRY __attribute__((force_align_arg_pointer))
#else
#define ZALK_ENTRY
#endif

namespace zalk::rating {
struct RatingContext;
}
namespace zalk::engine {
struct EngineWorkspace;
}

namespace zalk::api {

// The exported blocks, bound once for the rating core.
rating::Blocks& exported_blocks();
// The one set of legacy working storage of the loaded library.
rating::RatingContext& rating_context();
engine::EngineWorkspace& engine_workspace();

// Status of the last guarded call of this thread (ZALKSTATUS); the opt-in
// is process-wide.
bool status_opted_in();
void set_status_opted_in(bool on);
void clear_status();
void record_severe(const toolkit::ErrorEvent& event) noexcept;
// The handler in force while a host has opted in: prints as the default does
// (warnings and severe errors alike); the reporter then throws SevereError.
void status_handler(const toolkit::ErrorEvent& event);
// A failure that is not the reporter's (out of memory, a library fault),
// raised as a terminal error of the entry point so it takes the same road.
void report_unexpected(std::string_view entry, const char* what) noexcept;

// The legacy state allows one call at a time. Every guarded entry point
// takes this flag on entry and gives it back on return; a call that finds it
// taken is refused (a severe error) and touches nothing shared.
class OneCallAtATime {
 public:
  OneCallAtATime() noexcept;
  ~OneCallAtATime();
  OneCallAtATime(const OneCallAtATime&) = delete;
  OneCallAtATime& operator=(const OneCallAtATime&) = delete;
  bool taken() const noexcept { return taken_; }

 private:
  bool taken_;
};

// The severe error of a call that overlaps another. Without the opt-in and
// without a handler of the host's it ends the process at once, running no
// exit handlers: the call in progress is still using the library's storage,
// which exit handlers would release under it.
void refuse_overlapping_call(std::string_view entry);

// A severe error naming `entry` and the first of `args` that is a null pointer.
struct NamedArgument {
  const char* name;
  const void* pointer;
};
void require_arguments(std::string_view entry, std::initializer_list<NamedArgument> args);

// An index argument of `entry` outside 1..limit (it would address outside the
// host's array of `limit` elements) is a severe error naming it.
void require_index(std::string_view entry, const char* name, int value, int limit);

// Runs one entry point's body: takes the one-call flag, clears the status,
// routes severe errors into the status when the host opted in, and keeps
// every exception inside the library. Without the opt-in a severe error ends
// the process in the reporter, so the catch clauses only see errors of hosts
// (such as C++ test programs) that installed a reporter handler of their own.
template <class Body>
void guarded(std::string_view entry, Body&& body) noexcept {
  const OneCallAtATime call;
  clear_status();
  // One call is one warning episode: a warning repeated thousands of times
  // prints its first few occurrences and then a count.
  toolkit::WarningEpisode episode;
  std::optional<toolkit::ScopedErrorHandler> handler;
  try {
    if (status_opted_in()) handler.emplace(status_handler);
    if (!call.taken()) {
      refuse_overlapping_call(entry);
      return;
    }
    body();
  } catch (const toolkit::SevereError& e) {
    record_severe(e.event());
  } catch (const std::exception& e) {
    report_unexpected(entry, e.what());
  } catch (...) {
    report_unexpected(entry, "an unknown failure");
  }
}

}  // namespace zalk::api
