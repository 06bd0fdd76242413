// The library boundary's own state and the guard every entry point runs its
// body in. Internal to the shared library (nothing here is exported).
#pragma once

#include <exception>
#include <optional>
#include <string_view>

#include "rating/blocks.h"
#include "toolkit/errors.h"

// Entry points of the 32-bit Windows module realign the stack on entry: a
// host built by another compiler guarantees only 4-byte alignment there,
// while code built for SSE keeps 16-byte values on the stack.
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

// Status of the last guarded call (ZALKSTATUS).
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

// Runs one entry point's body: clears the status, routes severe errors into
// the status when the host opted in, and keeps every exception inside the
// library. Without the opt-in a severe error ends the process in the
// reporter, so the catch clauses only see errors of hosts (such as C++ test
// programs) that installed a reporter handler of their own.
template <class Body>
void guarded(std::string_view entry, Body&& body) noexcept {
  clear_status();
  // One call is one warning episode: a warning repeated thousands of times
  // prints its first few occurrences and then a count.
  toolkit::WarningEpisode episode;
  std::optional<toolkit::ScopedErrorHandler> handler;
  try {
    if (status_opted_in()) handler.emplace(status_handler);
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
