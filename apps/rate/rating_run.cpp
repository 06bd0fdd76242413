#include "apps/rate/rating_run.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <thread>

namespace rate_tool {

namespace {

constexpr std::size_t kTestsPerTask = 25;  // tests rated per call: the unit of work of a thread
constexpr int kWarningsShown = 5;          // of each kind of library warning

struct Task {
  std::size_t section = 0, first = 0, count = 0;
};

// Prints the library's warnings on standard error, a few of each kind.
class WarningPrinter {
 public:
  void print(const std::vector<zalk::Error>& warnings) {
    for (const zalk::Error& w : warnings) {
      const int n = ++seen_[{w.routine, w.code}];
      if (n <= kWarningsShown) std::fprintf(stderr, "\n%s\n", w.text.c_str());
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

zalk::Rater load_rater(const fs::path& table) {
  zalk::Rater r;
  const zalk::Status s = r.load_table(table);
  if (!s) throw ToolError(s.error->text, 3);
  return r;
}

}  // namespace

// Slices of at most kTestsPerTask tests are rated by the threads, each with
// a rater of its own; a test's result depends on it and its section alone,
// so the results are those of a serial run, in input order.
std::vector<std::vector<Rated>> rate_all(const Options& o, const fs::path& table,
                                         const std::vector<SectionInput>& sections) {
  std::vector<Task> tasks;
  std::vector<std::vector<Rated>> out(sections.size());
  // The fit's global search keeps a section's grid for the rest of a call:
  // a whole section per call lets every test after the first use it.
  const bool global = o.rating.method == zalk::Method::fit && o.rating.fit.depth == zalk::DepthSearch::global;
  const std::size_t per_task = global ? std::size_t(zalk::kMaxTestsPerSection) : kTestsPerTask;
  for (std::size_t s = 0; s < sections.size(); ++s) {
    out[s].resize(sections[s].tests.size());
    for (std::size_t first = 0; first < sections[s].tests.size(); first += per_task)
      tasks.push_back({s, first, std::min(per_task, sections[s].tests.size() - first)});
  }
  std::vector<zalk::Status> statuses(tasks.size());
  std::atomic<std::size_t> next{0};
  auto work = [&](zalk::Rater& rater) {
    for (std::size_t k; (k = next++) < tasks.size();) {
      const Task& t = tasks[k];
      std::vector<zalk::DeflectionTest> tests;
      for (std::size_t j = 0; j < t.count; ++j) tests.push_back(sections[t.section].tests[t.first + j].test);
      zalk::SectionRating r = rater.rate(sections[t.section].section, tests, o.rating);
      statuses[k] = r.status;
      for (std::size_t j = 0; j < r.tests.size(); ++j) out[t.section][t.first + j].result = std::move(r.tests[j]);
    }
  };
  const unsigned n = std::max(1u, std::min<unsigned>(o.threads, unsigned(tasks.size())));
  std::vector<zalk::Rater> raters;
  for (unsigned i = 0; i < n; ++i) raters.push_back(load_rater(table));
  std::vector<std::thread> threads;
  for (unsigned i = 1; i < n; ++i) threads.emplace_back(work, std::ref(raters[i]));
  work(raters[0]);
  for (std::thread& t : threads) t.join();
  WarningPrinter warnings;
  for (const zalk::Status& s : statuses) {
    warnings.print(s.warnings);
    if (!s) throw ToolError(s.error->text, 3);
  }
  return out;
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
      std::fprintf(f, "%s,%zu,%.6g,%.6g\n", sections[items[i].section].id.c_str(), p + 1,
                   r.items[i][p].surface_thickness_in, r.items[i][p].allowable_load);
  out.finish();
}

}  // namespace rate_tool
