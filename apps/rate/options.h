// The rating tool's command line.
#pragma once

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "apps/rate/rate_f25.h"
#include "apps/rate/survey_output.h"
#include "apps/rate/tool.h"
#include "zalk/zalk.hpp"

namespace rate_tool {

inline constexpr double kMaxIncrement = 12.0;  // inches per overlay pass: the top of the thickness grid

struct Options {
  fs::path sections, tests, out, data, residuals, plots;
  fs::path report;  // the survey report (HTML)
  std::vector<fs::path> f25;  // field files of any format (--fwd, --f25)
  std::string f25_section;
  std::vector<double> sensor_offsets_mm;  // for field files that do not give them
  std::optional<double> reps;
  rate_f25::DropSelection drops;
  rate_f25::BehindPlate behind_plate = rate_f25::BehindPlate::left_out;
  fs::path overlay, overlay_out;
  std::optional<double> dh;
  zalk::RatingOptions rating;
  unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  bool oversubscribe = false;  // more threads than cores, each with its own rater's memory
  // The fit's second opinion and run record (apps/rate/run_record.h).
  bool both_methods = false;    // --method both
  double disagree_share = 0.2;  // --disagree
  fs::path record, replay;      // --record, --replay
  std::vector<std::string> arguments;  // the command line a record keeps
  int digits = 6;  // significant digits of the results (17 keeps every bit)
  rate_survey::Options survey;
};

[[noreturn]] void usage(const std::string& problem);
Options parse_options(int argc, char** argv);
// The residuals go to a file of their own when asked for or when the plots
// need them; the report holds them itself.
inline bool writes_residuals_file(const Options& o) { return !o.residuals.empty() || !o.plots.empty(); }
// Two outputs on one file, or an output over an input, are refused.
void refuse_clashing_files(const Options& o);

}  // namespace rate_tool
