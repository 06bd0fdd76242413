#include "apps/rate/rating_run.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>

namespace rate_tool {

namespace {

constexpr std::size_t kTestsPerTask = 25;  // tests rated per call: the unit of work of a thread
constexpr int kWarningsShown = 5;          // of each kind of library warning

struct Task {
  std::size_t section = 0, first = 0, count = 0;
};

}  // namespace

// Prints the library's warnings on standard error, a few of each kind,
// after the file, lines and section of the tests that raised them.
class WarningPrinter {
 public:
  void print(const std::vector<zalk::Error>& warnings, const std::string& context = {}) {
    bool said = false;
    for (const zalk::Error& w : warnings) {
      const int n = ++seen_[{w.routine, w.code}];
      if (n > kWarningsShown) continue;
      if (!context.empty() && !std::exchange(said, true)) std::fprintf(stderr, "\nrate: %s:", context.c_str());
      std::fprintf(stderr, "\n%s\n", w.text.c_str());
    }
  }
  ~WarningPrinter() {
    for (const auto& [key, n] : seen_)
      if (n > kWarningsShown)
        std::fprintf(stderr, "rate: %d more warnings %d from %s not shown\n", n - kWarningsShown, key.second,
                     key.first.c_str());
  }

 private:
  std::map<std::pair<std::string, int>, int> seen_;
};

namespace {

zalk::Rater load_rater(const fs::path& table) {
  zalk::Rater r;
  const zalk::Status s = r.load_table(table);
  if (!s) throw ToolError(s.error->text, 3);
  return r;
}

// "tests.csv:2-26, section \"S1\"": where a slice's tests come from.
std::string slice_context(const SectionInput& s, const Task& t) {
  const TestRow& a = s.tests[t.first];
  const TestRow& b = s.tests[t.first + t.count - 1];
  std::string where = a.file + ":" + std::to_string(a.line);
  if (b.line != a.line) where += "-" + std::to_string(b.line);
  return where + ", section \"" + s.id + "\"";
}

// The library refuses a call for one test's sake with a message beginning
// "Test N: " or "Test N " (N counting the call's tests from 1).
struct CountedRefusal {
  std::size_t index = 0;  // the test's place in the call
  std::string text;       // the message without the count: the tool names the test by file and line
};

std::optional<CountedRefusal> counted_refusal(const zalk::Error& e, std::size_t tests) {
  const std::string& m = e.message;
  const std::string prefix = "Test ";
  if (m.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  std::size_t n = 0, at = prefix.size();
  while (at < m.size() && at < prefix.size() + 9 && std::isdigit(static_cast<unsigned char>(m[at])))
    n = n * 10 + std::size_t(m[at++] - '0');
  if (at == prefix.size() || n < 1 || n > tests || at == m.size() || (m[at] != ':' && m[at] != ' '))
    return std::nullopt;
  return CountedRefusal{n - 1, m[at] == ':' ? m.substr(std::min(m.size(), at + 2)) : "the test" + m.substr(at)};
}

// A refusal as the tool prints it after the test's file and line.
std::string refusal_text(const zalk::Error& e, std::size_t tests) {
  const std::optional<CountedRefusal> counted = counted_refusal(e, tests);
  std::string text = counted ? counted->text : e.message;
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

// A fit's message without the "Test '2' " that counts the test within its
// slice: the tool names it by file and line instead.
std::string without_test_name(const std::string& message) {
  if (message.rfind("Test '", 0) != 0) return message;
  const std::size_t end = message.find('\'', 6);
  if (end == std::string::npos) return message;
  std::size_t from = end + 1;
  if (from < message.size() && message[from] == ':') ++from;
  while (from < message.size() && message[from] == ' ') ++from;
  return message.substr(from);
}

// A slice the library refuses for one test's sake is rated again without
// that test, until the rest is rated: the test at fault is named, and the
// others are rated in one call as a slice without it would be (the fit's
// search over depth differs with the number of tests a call gives it). A
// refusal that names no test is tried on each test alone. Returns the
// warnings raised.
std::vector<zalk::Error> rate_slice(zalk::Rater& rater, const Options& o, const SectionInput& s, const Task& t,
                                    std::vector<Rated>& out) {
  std::vector<std::size_t> rows;  // into out, of the tests still in the call
  for (std::size_t j = 0; j < t.count; ++j) rows.push_back(t.first + j);
  while (!rows.empty()) {
    std::vector<zalk::DeflectionTest> tests;
    for (std::size_t row : rows) tests.push_back(s.tests[row].test);
    zalk::SectionRating r = rater.rate(s.section, tests, o.rating);
    if (r.status) {
      for (std::size_t j = 0; j < rows.size(); ++j) out[rows[j]].result = std::move(r.tests[j]);
      return r.status.warnings;
    }
    const std::optional<CountedRefusal> refused = counted_refusal(*r.status.error, rows.size());
    if (!refused) break;
    out[rows[refused->index]].refusal = refusal_text(*r.status.error, rows.size());
    rows.erase(rows.begin() + std::ptrdiff_t(refused->index));
  }
  std::vector<zalk::Error> warnings;
  for (std::size_t row : rows) {
    zalk::SectionRating one = rater.rate(s.section, {s.tests[row].test}, o.rating);
    warnings.insert(warnings.end(), one.status.warnings.begin(), one.status.warnings.end());
    if (one.status) out[row].result = std::move(one.tests.front());
    else out[row].refusal = refusal_text(*one.status.error, 1);
  }
  return warnings;
}

}  // namespace

RatingRun::RatingRun(const Options& o, const fs::path& table)
    : o_(o), table_(table), warnings_(std::make_unique<WarningPrinter>()) {}
RatingRun::~RatingRun() = default;

// Slices of at most kTestsPerTask tests are rated by the threads, each with
// a rater of its own (loaded once for the run); a test's result depends on
// it and its section alone, so the results are those of a serial run, in
// input order.
std::vector<std::vector<Rated>> RatingRun::rate(const std::vector<SectionInput>& sections) {
  std::vector<Task> tasks;
  std::vector<std::vector<Rated>> out(sections.size());
  // The fit's global search keeps a section's grid for the rest of a call:
  // a whole section per call lets every test after the first use it.
  const bool global = o_.rating.method == zalk::Method::fit && o_.rating.fit.depth == zalk::DepthSearch::global;
  for (std::size_t s = 0; s < sections.size(); ++s) {
    const std::size_t n = sections[s].tests.size();
    const std::size_t per_task = global ? std::max<std::size_t>(n, 1) : kTestsPerTask;
    out[s].resize(n);
    for (std::size_t first = 0; first < n; first += per_task)
      tasks.push_back({s, first, std::min(per_task, n - first)});
  }
  std::vector<std::vector<zalk::Error>> warnings_of(tasks.size());
  std::atomic<std::size_t> next{0};
  auto work = [&](zalk::Rater& rater) {
    for (std::size_t k; (k = next++) < tasks.size();)
      warnings_of[k] = rate_slice(rater, o_, sections[tasks[k].section], tasks[k], out[tasks[k].section]);
  };
  const unsigned n = std::max(1u, std::min<unsigned>(o_.threads, unsigned(tasks.size())));
  while (raters_.size() < n) raters_.push_back(load_rater(table_));
  std::vector<std::thread> threads;
  for (unsigned i = 1; i < n; ++i) threads.emplace_back(work, std::ref(raters_[i]));
  work(raters_[0]);
  for (std::thread& t : threads) t.join();
  for (std::size_t k = 0; k < tasks.size(); ++k)
    warnings_->print(warnings_of[k], slice_context(sections[tasks[k].section], tasks[k]));
  return out;
}

std::vector<std::vector<Rated>> rate_all(const Options& o, const fs::path& table,
                                         const std::vector<SectionInput>& sections) {
  return RatingRun(o, table).rate(sections);
}

int report_tests(const std::vector<SectionInput>& sections, const std::vector<std::vector<Rated>>& rated) {
  int refused = 0;
  for (std::size_t s = 0; s < sections.size(); ++s) {
    for (std::size_t j = 0; j < rated[s].size(); ++j) {
      const TestRow& row = sections[s].tests[j];
      const Rated& r = rated[s][j];
      const std::string where = row.file + ":" + std::to_string(row.line) + ": section \"" + sections[s].id + "\": ";
      if (!r.refusal.empty()) {
        std::fprintf(stderr, "rate: %s%s; the test is not rated\n", where.c_str(), r.refusal.c_str());
        ++refused;
      } else if ((r.result.flags & zalk::flag_not_fitted) && !r.result.message.empty()) {
        std::fprintf(stderr, "rate: %s%s\n", where.c_str(), without_test_name(r.result.message).c_str());
      }
    }
  }
  return refused;
}

void run_overlay(const fs::path& table, const std::vector<SectionInput>& sections,
                 const std::vector<rate_csv::OverlayItem>& items, double dh, Output& out) {
  std::vector<zalk::OverlayItem> list;
  for (const rate_csv::OverlayItem& i : items) {
    const SectionInput& s = sections[i.section];
    list.push_back({s.section, s.tests.front().test, i.h3, i.e1, i.e2, i.e3});
  }
  if (isatty(STDERR_FILENO) == 1) std::fprintf(stderr, "overlay: %zu items, up to 20 passes\n", items.size());
  zalk::Rater rater = load_rater(table);
  const zalk::OverlayResult r = rater.overlay(list, dh);
  WarningPrinter().print(r.status.warnings);
  if (!r.status) throw ToolError(r.status.error->text, 3);
  std::FILE* f = out.get();
  std::fprintf(f, "section,pass,surface_in,allowable_load\n");
  for (std::size_t i = 0; i < items.size(); ++i)
    for (std::size_t p = 0; p < r.items[i].size(); ++p)
      std::fprintf(f, "%s,%zu,%.6g,%.6g\n", rate_csv::csv_field(sections[items[i].section].id).c_str(), p + 1,
                   r.items[i][p].surface_thickness_in, r.items[i][p].allowable_load);
  out.finish();
}

}  // namespace rate_tool
