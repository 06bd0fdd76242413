// Records every toolkit error raised while it lives.
#pragma once

#include <string>
#include <vector>

#include "toolkit/errors.h"

namespace zalk::testing_support {

class ErrorRecorder {
 public:
  ErrorRecorder() : scope_([this](const toolkit::ErrorEvent& e) { events_.push_back(e); }) {}

  const std::vector<toolkit::ErrorEvent>& events() const { return events_; }
  int count(int type) const {
    int n = 0;
    for (const auto& e : events_) n += e.type == type;
    return n;
  }
  std::string last_message() const { return events_.empty() ? std::string() : events_.back().message; }
  int last_type() const { return events_.empty() ? 0 : events_.back().type; }

 private:
  std::vector<toolkit::ErrorEvent> events_;
  toolkit::ScopedErrorHandler scope_;
};

}  // namespace zalk::testing_support
