// The rating tool's CSV readers on arbitrary text: the input is split at
// form feeds into a sections, a tests and an overlay file. Every fault is an
// InputError; anything else escaping, or a crash, is a finding. A tests file
// the reader takes must account for every row: each data line is either a
// test or a refusal naming that line (the header alone may be neither).
#include <algorithm>
#include <array>
#include <set>
#include <string>
#include <vector>

#include "apps/rate/rate_csv.h"
#include "fuzz/fuzz_support.h"

namespace {

// A sections file the tests can be read against when the input's is refused.
constexpr std::string_view kSections =
    "S1,91,90,45,45,94,56,31,49,61,79,3.5,10,66,1,1.3,0.7,0.85,1,1,1.5,0.6,0.8,1\n"
    "S4,91,90,45,45,94,60,36,53,65,85,4.5,18,74,,,,,,,,,,\n";

// Line numbers of the lines that are neither blank nor comments, split at
// LF, CR LF or CR on their own (not with the reader's code).
std::vector<int> data_lines(std::string_view text) {
  std::vector<int> out;
  int number = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t end = pos;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
    const std::string_view line = text.substr(pos, end - pos);
    pos = end + 1 + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 1 : 0);
    ++number;
    const std::size_t first = line.find_first_not_of(" \t\r");
    if (first != std::string_view::npos && line[first] != '#') out.push_back(number);
  }
  return out;
}

void check_every_row_accounted(std::string_view text, const rate_csv::Input& in) {
  std::set<int> seen;
  for (const auto& list : in.tests)
    for (const auto& t : list) seen.insert(t.line);
  for (const auto& r : in.refused) {
    if (r.message.find(":" + std::to_string(r.line) + ":") == std::string::npos) __builtin_trap();
    seen.insert(r.line);
  }
  const std::vector<int> lines = data_lines(text);
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const bool header_place = k == 0;  // the first data line may be the header
    if (!header_place && !seen.count(lines[k])) __builtin_trap();
  }
  for (int line : seen)
    if (!std::binary_search(lines.begin(), lines.end(), line)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = zalk::fuzz::as_text(data, size);
  std::array<std::string_view, 3> parts{};
  std::size_t start = 0;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    const std::size_t end = k + 1 < parts.size() ? std::min(text.find('\f', start), text.size()) : text.size();
    parts[k] = start < text.size() ? text.substr(start, end - start) : std::string_view();
    start = end + 1;
  }
  double v = 0;
  rate_csv::parse_decimal(parts[0], v);
  rate_csv::Input in;
  try {
    in.sections = rate_csv::read_sections(parts[0], "sections.csv", in.factors, &in.notes);
  } catch (const rate_csv::InputError&) {
    in.sections = rate_csv::read_sections(kSections, "sections.csv", in.factors);
  }
  try {
    rate_csv::read_tests(parts[1], "tests.csv", in);
  } catch (const rate_csv::InputError&) {
    return 0;  // the file refused as a whole (a header lacking a column)
  }
  check_every_row_accounted(parts[1], in);
  try {
    const auto items = rate_csv::read_overlay(parts[2], "overlay.csv", in);
    for (const auto& item : items) {
      if (item.section >= in.sections.size() || in.tests[item.section].empty()) __builtin_trap();
    }
  } catch (const rate_csv::InputError&) {
  }
  return 0;
}
