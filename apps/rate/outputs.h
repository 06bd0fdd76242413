// The rating tool's outputs: results files written whole or not at all,
// the results and residuals tables, the plots.
#pragma once

#include <cstdio>
#include <string_view>
#include <optional>
#include <vector>

#include "apps/rate/inputs.h"
#include "apps/rate/options.h"
#include "apps/rate/survey_output.h"
#include "apps/rate/tool.h"

namespace rate_tool {

// A test's outcome: its result, or why the library refused it.
struct Rated {
  zalk::RatingResult result;
  std::string refusal;  // empty: rated
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
  struct InMemory {};
  // A text kept in memory (text() once finished): a table the report takes.
  explicit Output(InMemory);
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  std::FILE* get() const { return f_; }
  std::string_view text() const { return memory_ ? std::string_view(memory_, memory_size_) : std::string_view(); }
  // Closes the file and puts it in place; a write error throws.
  void finish();

 private:
  std::FILE* open_temporary(fs::perms perms);
  void discard_temporary();
  fs::path file_, target_, temporary_;
  std::FILE* f_ = nullptr;
  char* memory_ = nullptr;
  std::size_t memory_size_ = 0;
};

// With a survey, its columns follow each row. The header and the rows apart
// are for results written a batch of sections at a time.
void write_results_header(const Options& o, const rate_survey::Survey* survey, std::FILE* f);
void write_result_rows(const Options& o, const std::vector<SectionInput>& sections,
                       const std::vector<std::vector<Rated>>& rated, const rate_survey::Survey* survey, std::FILE* f);
void write_results(const Options& o, const std::vector<SectionInput>& sections,
                   const std::vector<std::vector<Rated>>& rated, const rate_survey::Survey* survey, Output& out);
// Per test and sensor: offset, measured and computed deflection (mils).
void write_residuals(const std::vector<SectionInput>& sections, const std::vector<std::vector<Rated>>& rated,
                     Output& out);
void write_residuals_header(std::FILE* f);
void write_residual_rows(const std::vector<SectionInput>& sections, const std::vector<std::vector<Rated>>& rated,
                         std::FILE* f);
// The plots are drawn by the Python package (zalk3071.report).
void draw_plots(const Options& o);

}  // namespace rate_tool
