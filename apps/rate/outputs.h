// The rating tool's outputs: results files written whole or not at all,
// the results and residuals tables, the plots.
#pragma once

#include <cstdio>
#include <optional>
#include <vector>

#include "apps/rate/inputs.h"
#include "apps/rate/options.h"
#include "apps/rate/tool.h"

namespace rate_tool {

struct Rated {
  zalk::RatingResult result;
  std::optional<zalk::RatingResult> design;  // --method both: the design method's
};

// A results file. A regular file (or a new one) is written to a temporary
// file beside it and renamed over it only when everything is written, so a
// failed run leaves the target exactly as it was. Anything else (a device
// such as /dev/null, a pipe) is written directly and never removed or
// renamed over. Standard output when no file is named.
class Output {
 public:
  explicit Output(fs::path file);
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  std::FILE* get() const { return f_; }
  // Closes the file and puts it in place; a write error throws.
  void finish();

 private:
  std::FILE* open_temporary(fs::perms perms);
  void discard_temporary();
  fs::path file_, target_, temporary_;
  std::FILE* f_ = nullptr;
};

void write_results(const Options& o, const std::vector<SectionInput>& sections,
                   const std::vector<std::vector<Rated>>& rated, Output& out);
// Per test and sensor: offset, measured and computed deflection (mils).
void write_residuals(const std::vector<SectionInput>& sections, const std::vector<std::vector<Rated>>& rated,
                     Output& out);
// The plots are drawn by the Python package (zalk3071.report).
void draw_plots(const Options& o);

}  // namespace rate_tool
