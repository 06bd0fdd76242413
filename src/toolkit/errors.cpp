#include "toolkit/errors.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "toolkit/errors_messages.h"
#include "toolkit/messages.h"
#include "toolkit/per_thread.h"

namespace zalk::toolkit {
namespace {
constexpr int kSlots = 10;  // placeholder indices 1..9
}  // namespace

struct detail::ReporterState {
  // The name stack: fixed slots reused from call to call, so that a push
  // and a pop cost a short copy and nothing else.
  std::array<std::string, kMaxStackDepth> names;
  int depth = 0;
  std::string_view top() const { return names[static_cast<std::size_t>(depth - 1)]; }
  std::array<long long, kSlots> ints{};
  std::array<float, kSlots> reals{};
  std::array<double, kSlots> doubles{};
  std::array<std::string, kSlots> texts{};
  int last_type = 0;
  int last_code = 0;
  long long raised = 0;  // errors raised on this thread, of every type
  ErrorHandler handler;
  // Warning episode: nesting depth and the printed events counted so far.
  int episode_depth = 0;
  struct Repeat {
    int type;
    int code;
    std::string routine;
    long long count;
  };
  std::vector<Repeat> repeats;
};

namespace {

using detail::ReporterState;

ReporterState& state() { return per_thread<ReporterState>([] {}); }

const char* type_word(int type) {
  switch (type) {
    case NOTE: return "NOTE";
    case ALERT: return "ALERT";
    case WARNING: return "WARNING";
    case FATAL: return "FATAL";
    default: return "TERMINAL";
  }
}

// The shortest text that reads back as v; a value that is not a finite
// number is named as such, so that a message quoting it is plain.
template <class T>
std::string shortest(T v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

int slot_of(int index) { return (index >= 1 && index < kSlots) ? index : 0; }

// Replaces %(I<n>), %(i<n>), %(R<n>), %(D<n>), %(L<n>) by the recorded values.
std::string fill_placeholders(std::string_view text) {
  const ReporterState& s = state();
  std::string out;
  out.reserve(text.size() + 32);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 4 < text.size() && text[i + 1] == '(' && text[i + 4] == ')' &&
        text[i + 3] >= '0' && text[i + 3] <= '9') {
      const int n = slot_of(text[i + 3] - '0');
      switch (text[i + 2]) {
        case 'I': case 'i': out += std::to_string(s.ints[n]); i += 4; continue;
        case 'R': case 'r': out += shortest(s.reals[n]); i += 4; continue;
        case 'D': case 'd': out += shortest(s.doubles[n]); i += 4; continue;
        case 'L': case 'l': out += s.texts[n]; i += 4; continue;
        default: break;
      }
    }
    out += text[i];
  }
  return out;
}

// Splits `text` into pieces of at most `first` characters for the first piece
// and `rest` for the others, breaking after the last blank that fits.
void wrap(std::string_view text, std::size_t first, std::size_t rest, std::vector<std::string>& out) {
  std::size_t width = first;
  while (text.size() > width) {
    std::size_t cut = text.rfind(' ', width);
    std::size_t next;
    if (cut == std::string_view::npos || cut == 0) {
      cut = width;
      next = width;
    } else {
      next = cut + 1;
    }
    out.emplace_back(text.substr(0, cut));
    text.remove_prefix(next);
    width = rest;
  }
  out.emplace_back(text);
}

}  // namespace

SevereError::SevereError(ErrorEvent e)
    : std::runtime_error(e.message), event_(std::move(e)) {}

ErrorHandler set_error_handler(ErrorHandler handler) {
  return std::exchange(state().handler, std::move(handler));
}

ScopedErrorHandler::ScopedErrorHandler(ErrorHandler handler)
    : previous_(set_error_handler(std::move(handler))) {}

ScopedErrorHandler::~ScopedErrorHandler() { set_error_handler(std::move(previous_)); }

std::vector<std::string> format_error_lines(int type, int code, std::string_view routine,
                                            std::string_view message) {
  constexpr std::size_t kFirstWidth = 59;
  constexpr std::size_t kContinuationWidth = 64;
  std::string head = " *** ";
  std::string word = type_word(type);
  word.resize(8, ' ');
  head += word;
  head += " ERROR";
  const std::string cont = " ***          ";

  // A message that begins with its own full stop follows the name directly.
  std::string body = " ";
  body.append(std::to_string(code)).append(" from ").append(routine);
  if (message.empty() || message.front() != '.') body += ".  ";
  body += message;

  std::vector<std::string> pieces;
  std::string_view rest = body;
  bool first = true;
  while (true) {
    const std::size_t brk = rest.find("%/");
    std::string_view seg = rest.substr(0, brk);
    wrap(seg, first ? kFirstWidth : kContinuationWidth, kContinuationWidth, pieces);
    first = false;
    if (brk == std::string_view::npos) break;
    rest.remove_prefix(brk + 2);
  }
  std::vector<std::string> lines;
  lines.reserve(pieces.size());
  for (std::size_t i = 0; i < pieces.size(); ++i) lines.push_back((i == 0 ? head : cont) + pieces[i]);
  return lines;
}

namespace {

// Counts a printed event inside an episode; false once a warning has been
// printed as often as the episode allows.
bool within_print_limit(const ErrorEvent& e) {
  ReporterState& s = state();
  if (s.episode_depth == 0 || e.type >= FATAL) return true;
  for (auto& r : s.repeats) {
    if (r.type == e.type && r.code == e.code && r.routine == e.routine) {
      return ++r.count <= kWarningsPrintedPerEpisode;
    }
  }
  s.repeats.push_back({e.type, e.code, e.routine, 1});
  return true;
}

// One line per warning that went over the limit, laid out like the head line
// of its blocks, then forgets the counts.
void print_unprinted_counts() noexcept {
  ReporterState& s = state();
  for (const auto& r : s.repeats) {
    if (r.count <= kWarningsPrintedPerEpisode) continue;
    char line[160];
    std::snprintf(line, sizeof line,
                  "\n *** %-8s ERROR %d from %.40s: %lld more of the same were not printed.\n",
                  type_word(r.type), r.code, r.routine.c_str(),
                  r.count - kWarningsPrintedPerEpisode);
    std::fputs(line, stdout);
  }
  s.repeats.clear();
  std::fflush(stdout);
}

}  // namespace

WarningEpisode::WarningEpisode() {
  ReporterState& s = state();
  if (s.episode_depth++ == 0) s.repeats.clear();
}

WarningEpisode::~WarningEpisode() {
  ReporterState& s = state();
  if (--s.episode_depth == 0) print_unprinted_counts();
}

void print_error(const ErrorEvent& e) {
  if (!within_print_limit(e)) return;
  std::fputs("\n", stdout);
  for (const auto& line : e.lines) {
    std::fputs(line.c_str(), stdout);
    std::fputs("\n", stdout);
  }
  std::fflush(stdout);
}

namespace {

[[noreturn]] void stop_process(int status) {
  print_unprinted_counts();
  std::fputs("Stop - Program terminated.\n", stdout);
  std::fflush(stdout);
  std::exit(status);
}

void raise(int type, int code, std::string_view routine, std::string_view text) {
  ReporterState& s = state();
  ErrorEvent e;
  e.type = type;
  e.code = code;
  e.routine = std::string(routine);
  e.message = fill_placeholders(text);
  e.lines = format_error_lines(type, code, e.routine, e.message);
  s.last_type = type;
  s.last_code = code;
  ++s.raised;
  if (s.handler) {
    s.handler(e);
    if (type >= FATAL) throw SevereError(std::move(e));
    return;
  }
  if (type >= WARNING) print_error(e);
  if (type >= FATAL) stop_process(type);
}

std::string_view current_routine() {
  const ReporterState& s = state();
  return s.depth == 0 ? std::string_view("USER") : s.top();
}

// A check of the stack itself, printed as from the stack routine it names.
void raise_own(ReporterMessage e) {
  const Message& m = kReporterMessages[static_cast<std::size_t>(e)];
  raise(m.type, m.code, m.routine, m.text);
}

}  // namespace

namespace {

void push_name(ReporterState& s, std::string_view name) {
  if (s.depth >= kMaxStackDepth) {
    E1STI(1, kMaxStackDepth);
    raise_own(ReporterMessage::push_too_deep);
    return;
  }
  s.names[static_cast<std::size_t>(s.depth++)].assign(name);
}

}  // namespace

void E1PSH(std::string_view name) { push_name(state(), name); }

void E1POP(std::string_view name) {
  ReporterState& s = state();
  if (s.depth == 0) {
    E1STL(1, name);
    raise_own(ReporterMessage::pop_from_empty);
    return;
  }
  if (s.top() != name) {
    E1STL(1, name);
    E1STL(2, s.top());
    raise_own(ReporterMessage::pop_mismatch);
    return;
  }
  --s.depth;
}

int name_stack_depth() { return state().depth; }

RoutineScope::RoutineScope(std::string_view name) : state_(&state()), depth_(state_->depth) {
  push_name(*state_, name);
}

RoutineScope::~RoutineScope() {
  // The scopes nest, so the stack goes back to where it stood on entry; this
  // also holds after an error unwound inner scopes.
  if (state_->depth > depth_) state_->depth = depth_;
}

void E1STI(int index, int value) { state().ints[slot_of(index)] = value; }
void E1STR(int index, float value) { state().reals[slot_of(index)] = value; }
void E1STD(int index, double value) { state().doubles[slot_of(index)] = value; }
void E1STL(int index, std::string_view value) { state().texts[slot_of(index)] = std::string(value); }

void E1MES(int type, int code, std::string_view text) {
  if (type < NOTE || type > TERMINAL) {
    const Message& m = kReporterMessages[static_cast<std::size_t>(ReporterMessage::illegal_type)];
    raise(m.type, code, current_routine(), m.text);
    return;
  }
  raise(type, code, current_routine(), text);
}

long long errors_raised() { return state().raised; }
int last_error_type() { return state().last_type; }
int last_error_code() { return state().last_code; }
void reset_error_record() {
  state().last_type = 0;
  state().last_code = 0;
}

void raise(const Message& m) { E1MES(m.type, m.code, m.text); }

}  // namespace zalk::toolkit
