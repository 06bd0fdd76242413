// The formatted-input field readers on arbitrary text: integer and real
// fields of every width and implied-decimal count, character fields, whole
// records through a layout, and the record splitter.
#include <cmath>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "io/fortio.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zalk::fortio;
  if (size < 2) return 0;
  // Two leading bytes choose the decimals and a width; the rest is the text.
  const int d = data[0] % 16;
  const int w = 1 + data[1] % 40;
  const std::string_view text = zalk::fuzz::as_text(data + 2, size - 2);

  int i = 0;
  parse_int(text, i);
  double v = 0;
  if (parse_real(text, d, v) && std::isnan(v)) __builtin_trap();  // no NaN from digits

  std::vector<RealField> layout;
  append_fields(layout, 3, 1, 6, 0);
  append_fields(layout, 3, 1, 8, 0);
  append_fields(layout, 9, 2, 12, d);
  std::vector<double> values(layout.size());
  RecordReader reader(text);
  while (reader.next()) {
    const std::string_view record = reader.record();
    const int bad = read_reals(record, layout, values.data());
    if (bad >= 0) describe_field(reader.record_number(), layout[std::size_t(bad)].first_col, w, record);
    for (int col = 1; col <= 3; ++col) {
      if (read_a(record, col, w, 1 + d).size() != std::size_t(1 + d)) __builtin_trap();
      field_at(record, col, w);
    }
  }
  return 0;
}
