// The rating tool's work: the tests rated on several threads, the overlay.
#pragma once

#include <memory>
#include <vector>

#include "apps/rate/inputs.h"
#include "apps/rate/options.h"
#include "apps/rate/outputs.h"
#include "apps/rate/rate_csv.h"

namespace rate_tool {

class WarningPrinter;

// The rating of a run, batch by batch: one rater per thread, loaded once;
// the library's warnings shown a few of each kind over the whole run.
class RatingRun {
 public:
  RatingRun(const Options& o, const fs::path& table);
  ~RatingRun();
  // Every section's tests rated, in input order.
  std::vector<std::vector<Rated>> rate(const std::vector<SectionInput>& sections);

 private:
  Options o_;  // a copy: a run for the design method is made from options built for it
  fs::path table_;
  std::vector<zalk::Rater> raters_;
  std::unique_ptr<WarningPrinter> warnings_;
};

// Every section's tests rated, in input order (a run of one batch).
std::vector<std::vector<Rated>> rate_all(const Options& o, const fs::path& table,
                                         const std::vector<SectionInput>& sections);
// Names every test the library refused, or could not fit, on standard
// error with its file, line and section; returns the number refused.
int report_tests(const std::vector<SectionInput>& sections, const std::vector<std::vector<Rated>>& rated);
void run_overlay(const fs::path& table, const std::vector<SectionInput>& sections,
                 const std::vector<rate_csv::OverlayItem>& items, double dh, Output& out);

}  // namespace rate_tool
