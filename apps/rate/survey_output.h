// The rating tool's survey columns: basin indices and the AASHTO 93
// columns of each rated drop (--indices), and homogeneous sections along the
// stations on any numeric results column (--segments) with their statistics
// (--segments-out).
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "zalk/survey.hpp"

namespace rate_survey {

struct Options {
  bool indices = false;
  double reference_load_lb = std::numeric_limits<double>::quiet_NaN();
  double design_factor = zalk::survey::kDefaultDesignFactor;
  std::string segments_column;
  double min_length = 0;
  std::filesystem::path segments_out;

  bool wanted() const { return indices || !segments_column.empty(); }
};

// Takes one of the survey's options (value() reads its argument); false
// when `arg` is none of them. A bad value sets `problem`.
bool take_option(const std::string& arg, const std::function<std::string()>& value, Options& o,
                 std::string& problem);
// Options that need another, or a column name that is not a numeric column
// of the results: the problem, or "".
std::string check_options(const Options& o, const std::vector<std::string>& rated_columns);

// One rated drop, in the order of the results.
struct DropRow {
  std::string file;
  int line = 0;
  double station = 0;
  zalk::survey::Drop basin;  // as measured, at the drop's own load
  double thickness_in = 0;   // surface + base of the drop's section
  double plate_radius_in = zalk::survey::kDefaultPlateRadiusIn;
  std::vector<double> rated;  // the values of the rated columns, in their order
};

class Survey {
 public:
  Survey(const Options& o, std::vector<std::string> rated_columns, std::vector<DropRow> rows);

  // The results file's extra columns (with --indices): header and one row.
  void write_header(std::FILE* f) const;
  void write_row(std::FILE* f, std::size_t drop, int digits) const;

  // The sectioning (with --segments): its problems on standard error, named
  // by file and line, and the sections with their statistics.
  void write_segments(std::FILE* f, int digits) const;

 private:
  std::vector<double> column(const std::string& name) const;
  bool normalised() const;

  Options options_;
  std::vector<std::string> rated_columns_;
  std::vector<DropRow> rows_;
  std::vector<zalk::survey::Indices> indices_;
  std::vector<zalk::survey::Aashto93> aashto_;
};

}  // namespace rate_survey
