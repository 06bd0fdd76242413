// Severe errors as a status for hosts that opted in, and ZALKSTATUS.
#include <algorithm>
#include <cstring>
#include <string>

#include "api/boundary.h"
#include "api/zalk3071.h"

namespace zalk::api {
namespace {

struct CallStatus {
  bool opted_in = false;
  int status = ZALK_STATUS_OK;
  std::string message;  // lines as printed, joined by '\n'
};

CallStatus& call_status() {
  static CallStatus s;
  return s;
}

}  // namespace

bool status_opted_in() { return call_status().opted_in; }
void set_status_opted_in(bool on) { call_status().opted_in = on; }

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
    toolkit::E1MES(toolkit::TERMINAL, 1, "The call could not be completed: %(L1).");
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
