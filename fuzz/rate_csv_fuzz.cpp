// The rating tool's CSV readers on arbitrary text: the input is split at
// form feeds into a sections, a tests and an overlay file. Every fault is an
// InputError; anything else escaping, or a crash, is a finding.
#include <array>
#include <string>

#include "fuzz/fuzz_support.h"
#include "apps/rate/rate_csv.h"

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
  try {
    rate_csv::Input in;
    in.sections = rate_csv::read_sections(parts[0], "sections.csv", in.factors);
    rate_csv::read_tests(parts[1], "tests.csv", in);
    const auto items = rate_csv::read_overlay(parts[2], "overlay.csv", in);
    for (const auto& item : items) {
      if (item.section >= in.sections.size() || in.tests[item.section].empty()) __builtin_trap();
    }
  } catch (const rate_csv::InputError&) {
  }
  return 0;
}
