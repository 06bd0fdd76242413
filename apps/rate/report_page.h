// The survey report: one HTML file holding its style, script and data, that
// opens from the file system with no network. The data are one JSON block
// built from the tool's CSV texts, cell for cell, so that the page shows the
// numbers of the CSV files with their printed digits.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace report_output {

// One input file of the run; a count below 0 is not known and not shown.
struct InputFile {
  std::string file, kind;
  long read = -1, skipped = -1;
};

struct Summary {
  std::string title = "Survey report";
  std::string generator, version, method;
  std::vector<InputFile> inputs;
  std::vector<std::pair<std::string, std::string>> settings;
  std::vector<std::pair<std::string, std::string>> run_record;  // empty: none
};

// The CSV texts of the run (header row first; empty when the run has none).
struct Tables {
  std::string_view results, residuals, segments;
};

// A JSON string literal of `text`, safe inside an HTML script element:
// '<', '>' and '&' are written as \u escapes, so that no "</script>" or
// "<!--" in the data can end the block.
std::string json_string(std::string_view text);

// {"columns":[...],"rows":[[...],...]} from a CSV text, every cell a string.
std::string table_json(std::string_view csv);

// The JSON block of the page.
std::string report_json(const Summary& summary, const Tables& tables);

// The whole page: the template with its style and script, and the data.
std::string report_page(const Summary& summary, const Tables& tables);

}  // namespace report_output
