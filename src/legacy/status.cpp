// Severe errors as a status for hosts that opted in, and ZALKSTATUS.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "legacy/boundary.h"
#include "zalk3071/zalk3071.h"
#include "toolkit/messages.h"

namespace zalk::api {
namespace {

#define ZALK_BOUNDARY_MESSAGES(X)                                                                  \
  X(call_failed, "entry point", TERMINAL, 1, "The call could not be completed: %(L1).")             \
  X(overlapping_call, "entry point", TERMINAL, 2,                                                   \
    "%(L1) was called while another call of the library was running. The library takes one "        \
    "call at a time; nothing was done.")                                                            \
  X(null_argument, "entry point", TERMINAL, 3,                                                      \
    "The argument %(L1) of %(L2) is a null pointer. Nothing was done.")                             \
  X(index_outside_array, "entry point", TERMINAL, 4,                                                \
    "The argument %(L1) = %(I1) of %(L2) is outside 1 to %(I2), the elements of the host's "        \
    "array it selects. Nothing was done.")
ZALK_MESSAGE_TABLE(BoundaryMessage, kBoundaryMessages, ZALK_BOUNDARY_MESSAGES)

// The status of a call belongs to the thread that made it, so that a call
// refused for overlapping another never writes where that call writes.
struct CallStatus {
  int status = ZALK_STATUS_OK;
  std::string message;  // lines as printed, joined by '\n'
};

CallStatus& call_status() {
  thread_local CallStatus s;
  return s;
}

std::atomic<bool> opted_in{false};
std::atomic_flag call_running = ATOMIC_FLAG_INIT;

bool host_handler_installed() {
  toolkit::ErrorHandler h = toolkit::set_error_handler({});
  const bool installed = static_cast<bool>(h);
  toolkit::set_error_handler(std::move(h));
  return installed;
}

// Prints as the default action does, then ends the process without running
// exit handlers.
void print_and_quit(const toolkit::ErrorEvent& event) {
  if (event.type < toolkit::WARNING) return;
  toolkit::print_error(event);
  if (event.type < toolkit::FATAL) return;
  std::fputs("Stop - Program terminated.\n", stdout);
  std::fflush(stdout);
  std::_Exit(event.type);
}

}  // namespace

OneCallAtATime::OneCallAtATime() noexcept : taken_(!call_running.test_and_set(std::memory_order_acquire)) {}
OneCallAtATime::~OneCallAtATime() {
  if (taken_) call_running.clear(std::memory_order_release);
}

void refuse_overlapping_call(std::string_view entry) {
  std::optional<toolkit::ScopedErrorHandler> quit;
  if (!host_handler_installed()) quit.emplace(print_and_quit);
  toolkit::RoutineScope scope(entry);
  toolkit::E1STL(1, entry);
  raise(BoundaryMessage::overlapping_call);
}

void require_arguments(std::string_view entry, std::initializer_list<NamedArgument> args) {
  for (const NamedArgument& a : args) {
    if (a.pointer != nullptr) continue;
    toolkit::RoutineScope scope(entry);
    toolkit::E1STL(1, a.name);
    toolkit::E1STL(2, entry);
    raise(BoundaryMessage::null_argument);
  }
}

void require_index(std::string_view entry, const char* name, int value, int limit) {
  if (value >= 1 && value <= limit) return;
  toolkit::RoutineScope scope(entry);
  toolkit::E1STL(1, name);
  toolkit::E1STL(2, entry);
  toolkit::E1STI(1, value);
  toolkit::E1STI(2, limit);
  raise(BoundaryMessage::index_outside_array);
}

bool status_opted_in() { return opted_in.load(); }
void set_status_opted_in(bool on) { opted_in.store(on); }

void clear_status() {
  CallStatus& s = call_status();
  s.status = ZALK_STATUS_OK;
  s.message.clear();
}

void record_severe(const toolkit::ErrorEvent& event) noexcept {
  CallStatus& s = call_status();
  s.status = event.type == toolkit::FATAL ? ZALK_STATUS_FATAL : ZALK_STATUS_TERMINAL;
  try {
    s.message.clear();
    for (const std::string& line : event.lines) {
      if (!s.message.empty()) s.message += '\n';
      s.message += line;
    }
  } catch (...) {
    s.message.clear();  // out of memory: the status alone must do
  }
}

void status_handler(const toolkit::ErrorEvent& event) {
  if (event.type >= toolkit::WARNING) toolkit::print_error(event);
}

void report_unexpected(std::string_view entry, const char* what) noexcept {
  try {
    toolkit::RoutineScope scope(entry);
    toolkit::E1STL(1, what);
    raise(BoundaryMessage::call_failed);
  } catch (const toolkit::SevereError& e) {
    record_severe(e.event());
  } catch (...) {
    CallStatus& s = call_status();
    s.status = ZALK_STATUS_TERMINAL;
    s.message.clear();
  }
}

}  // namespace zalk::api

extern "C" ZALK_API ZALK_ENTRY void ZALK_CALL ZALKSTATUS(int32_t* MODE, int32_t* STATUS,
                                                      char* MESSAGE, int32_t* LENGTH) {
  if (MODE != nullptr) {
    if (*MODE == 0 || *MODE == 1) zalk::api::set_status_opted_in(*MODE == 1);
    *MODE = zalk::api::status_opted_in() ? 1 : 0;
  }
  const auto& s = zalk::api::call_status();
  if (STATUS != nullptr) *STATUS = s.status;
  if (LENGTH == nullptr) return;
  const int32_t capacity = *LENGTH;
  if (MESSAGE != nullptr && capacity > 0) {
    const std::size_t n = std::min<std::size_t>(s.message.size(), std::size_t(capacity) - 1);
    std::memcpy(MESSAGE, s.message.data(), n);
    MESSAGE[n] = '\0';
  }
  *LENGTH = int32_t(std::min<std::size_t>(s.message.size(), INT32_MAX));
}
