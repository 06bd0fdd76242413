// The rating tool's inputs: sections and tests from CSV files, drops from
// F25 field files, the data folder.
#pragma once

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "apps/rate/options.h"
#include "apps/rate/rate_csv.h"
#include "zalk/zalk.hpp"

namespace rate_tool {

// One test to rate and where it came from.
struct TestRow {
  zalk::DeflectionTest test;
  std::string file;  // the input it came from, with its line
  int line = 0;
  const zalk::FieldDrop* drop = nullptr;  // F25 only
  unsigned flags = 0;                        // flags known before rating (interpolated, implausible)
  // Field files: the drop as measured, for the survey columns.
  zalk::survey::Drop measured;
};

struct SectionInput {
  std::string id;
  zalk::Section section;
  double reps_per_year = 0;
  std::vector<TestRow> tests;
  double station_from = NAN, station_to = NAN;  // F25 drops by station (NaN: none)
};

std::vector<SectionInput> sections_of(const rate_csv::Input& in, const std::string& file);
// One section of the sections file, without tests, and one test row.
SectionInput section_input(const rate_csv::Section& s, const std::array<double, 10>& factors);
TestRow test_row(const rate_csv::Test& t, const std::string& file);
// Reads a field file and adds its drops to their section; gives the number
// of drops (or whole files) skipped, each named on standard error.
int add_f25(const Options& o, const fs::path& file, std::vector<zalk::FieldFile>& files,
             std::vector<SectionInput>& sections);
// The deflection table in the data folder (the library's default folder
// when none is given).
fs::path table_in(const fs::path& dir);

}  // namespace rate_tool
