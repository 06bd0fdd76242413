#include "apps/rate/rate_csv.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

namespace rate_csv {
namespace {

// The largest input a run can use is 20 sections of 2000 tests; no sensible
// file of it comes near this, and a device that never ends stops here.
constexpr std::size_t kMaxFileBytes = std::size_t(64) << 20;

[[noreturn]] void input_error(const std::string& what) { throw InputError(what); }

std::string where(const std::string& file, int line, int col = 0) {
  std::string s = file;
  s += ':';
  s += std::to_string(line);
  if (col > 0) {
    s += ':';
    s += std::to_string(col);
  }
  return s;
}

struct CsvRow {
  int line = 0;
  std::vector<std::string> fields;
};

std::string_view trim(std::string_view s) {
  const auto b = s.find_first_not_of(" \t\r");
  if (b == std::string_view::npos) return {};
  const auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

std::vector<std::string> split_fields(std::string_view line) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = line.find(',', start);
    out.emplace_back(trim(line.substr(start, comma == std::string_view::npos ? line.npos : comma - start)));
    if (comma == std::string_view::npos) return out;
    start = comma + 1;
  }
}

bool is_number(std::string_view s) {
  double v = 0;
  return parse_decimal(s, v);
}

// Rows of a CSV text: blank lines and lines starting with '#' are skipped, as
// is a first row whose second field is not a number (a header).
std::vector<CsvRow> read_csv(std::string_view text, const std::string& file, std::size_t columns,
                             std::size_t optional_columns = 0) {
  std::vector<CsvRow> rows;
  bool first = true;
  int number = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t end = std::min(text.find('\n', pos), text.size());
    const std::string_view line = trim(text.substr(pos, end - pos));
    pos = end + 1;
    ++number;
    if (line.empty() || line[0] == '#') continue;
    CsvRow row{number, split_fields(line)};
    if (first) {
      first = false;
      if (row.fields.size() >= 2 && !is_number(row.fields[1])) continue;  // header
    }
    if (row.fields.size() < columns || row.fields.size() > columns + optional_columns) {
      input_error(where(file, number) + ": expected " + std::to_string(columns) + " columns, found " +
                  std::to_string(row.fields.size()));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

// A finite decimal number from column `col` (1-based) of a row.
double number_at(const std::string& file, const CsvRow& row, int col, const char* name) {
  const std::string& s = row.fields[std::size_t(col - 1)];
  double v = 0;
  if (!parse_decimal(s, v)) {
    input_error(where(file, row.line, col) + ": expected a number for " + name + ", found \"" + s + "\"");
  }
  return v;
}

double positive_at(const std::string& file, const CsvRow& row, int col, const char* name) {
  const double v = number_at(file, row, col, name);
  if (!(v > 0)) {
    input_error(where(file, row.line, col) + ": " + name + " must be positive, found \"" +
                row.fields[std::size_t(col - 1)] + "\"");
  }
  return v;
}

const char* const kSectionNames[] = {
    "days_fall",    "days_winter",  "days_spring1", "days_spring2", "days_summer",
    "air_fall_f",   "air_winter_f", "air_spring1_f", "air_spring2_f", "air_summer_f",
    "surface_in",   "base_in",      "prev_day_air_f",
    "base_factor_fall", "base_factor_winter", "base_factor_spring1", "base_factor_spring2",
    "base_factor_summer", "subgrade_factor_fall", "subgrade_factor_winter",
    "subgrade_factor_spring1", "subgrade_factor_spring2", "subgrade_factor_summer"};

const char* const kTestNames[] = {"hour", "load_lb", "d0_mils", "d8_mils", "d12_mils", "d18_mils",
                                  "d24_mils", "d36_mils", "reps_per_year", "surface_temp_f"};

}  // namespace

bool parse_decimal(std::string_view text, double& value) {
  std::size_t i = 0;
  auto digits = [&] {
    const std::size_t from = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return i - from;
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t mantissa = digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  if (i != text.size()) return false;
  const std::string s(text);
  errno = 0;
  const double v = std::strtod(s.c_str(), nullptr);
  // ERANGE on overflow and on underflow: neither is the number written.
  if (errno == ERANGE || !std::isfinite(v)) return false;
  value = v;
  return true;
}

std::string read_file(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) input_error(file.string() + ": cannot open the file: " + std::strerror(errno));
  std::string text;
  char chunk[1 << 16];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    text.append(chunk, std::size_t(in.gcount()));
    if (text.size() > kMaxFileBytes) input_error(file.string() + ": larger than 64 MiB; not an input file");
  }
  if (in.bad()) input_error(file.string() + ": read error");
  return text;
}

namespace {

// station_from and station_to (columns 26, 27): both or neither, in order.
void read_station_range(const std::string& file, const CsvRow& row, Section& s) {
  const std::size_t from = 2 + kSectColumns, to = 3 + kSectColumns;  // 0-based
  const bool has_from = row.fields.size() > from && !row.fields[from].empty();
  const bool has_to = row.fields.size() > to && !row.fields[to].empty();
  if (!has_from && !has_to) return;
  if (has_from != has_to)
    input_error(where(file, row.line, int(has_from ? to : from) + 1) + ": station_from and station_to go together");
  s.station_from = number_at(file, row, int(from) + 1, "station_from");
  s.station_to = number_at(file, row, int(to) + 1, "station_to");
  if (!(s.station_from <= s.station_to))
    input_error(where(file, row.line, int(to) + 1) + ": station_to " + row.fields[to] + " is below station_from " +
                row.fields[from]);
}

}  // namespace

std::vector<Section> read_sections(std::string_view text, const std::string& file,
                                   std::array<double, 10>& factors) {
  // Optional columns give the annual repetitions of F25 tests and the
  // stations a section covers in an F25 file.
  const auto rows = read_csv(text, file, 1 + kSectColumns, 3);
  if (rows.empty()) input_error(file + ": no sections");
  if (rows.size() > kMaxSections) {
    input_error(where(file, rows[kMaxSections].line) + ": more than 20 sections; the library rates at most 20 per run");
  }
  std::vector<Section> sections;
  std::map<std::string, int> seen;
  for (const CsvRow& row : rows) {
    Section s;
    s.id = row.fields[0];
    if (s.id.empty()) input_error(where(file, row.line, 1) + ": empty section id");
    if (!seen.emplace(s.id, row.line).second) {
      input_error(where(file, row.line, 1) + ": section \"" + s.id + "\" already given on line " +
                  std::to_string(seen[s.id]));
    }
    for (int c = 1; c <= 13; ++c) s.columns[std::size_t(c - 1)] = number_at(file, row, c + 1, kSectionNames[c - 1]);
    // The seasonal factors are one set for all sections: the first row's.
    // Later rows may leave them empty or repeat them.
    for (int c = 14; c <= kSectColumns; ++c) {
      const std::string& f = row.fields[std::size_t(c)];
      if (sections.empty()) {
        factors[std::size_t(c - 14)] = number_at(file, row, c + 1, kSectionNames[c - 1]);
      } else if (!f.empty() && number_at(file, row, c + 1, kSectionNames[c - 1]) != factors[std::size_t(c - 14)]) {
        input_error(where(file, row.line, c + 1) + ": " + kSectionNames[c - 1] +
                    " differs from the first section's; the seasonal factors are shared by all sections");
      }
    }
    if (row.fields.size() > std::size_t(1 + kSectColumns) && !row.fields[std::size_t(1 + kSectColumns)].empty())
      s.reps_per_year = positive_at(file, row, 2 + kSectColumns, "reps_per_year");
    read_station_range(file, row, s);
    sections.push_back(s);
  }
  return sections;
}

void read_tests(std::string_view text, const std::string& file, Input& in) {
  const auto rows = read_csv(text, file, 1 + kFwdSlabs);
  std::map<std::string, std::size_t> index;
  for (std::size_t i = 0; i < in.sections.size(); ++i) index[in.sections[i].id] = i;
  in.tests.assign(in.sections.size(), {});
  for (const CsvRow& row : rows) {
    const auto it = index.find(row.fields[0]);
    if (it == index.end()) {
      input_error(where(file, row.line, 1) + ": section \"" + row.fields[0] + "\" is not in the sections file");
    }
    auto& list = in.tests[it->second];
    if (list.size() == kMaxTests) {
      input_error(where(file, row.line) + ": section \"" + row.fields[0] +
                  "\" has more than 2000 tests; the library rates at most 2000 per section");
    }
    Test t;
    t.line = row.line;
    // The load and the six deflections describe a pavement only when positive.
    for (int k = 1; k <= kFwdSlabs; ++k) {
      const bool must_be_positive = k >= 2 && k <= 8;
      t.slabs[std::size_t(k - 1)] = must_be_positive ? positive_at(file, row, k + 1, kTestNames[k - 1])
                                                     : number_at(file, row, k + 1, kTestNames[k - 1]);
    }
    list.push_back(t);
  }
}

std::vector<OverlayItem> read_overlay(std::string_view text, const std::string& file, const Input& in) {
  const auto rows = read_csv(text, file, 5);
  if (rows.size() > kMaxSections) input_error(file + ": more than 20 overlay items");
  std::vector<OverlayItem> items;
  for (const CsvRow& row : rows) {
    OverlayItem item;
    std::size_t i = 0;
    while (i < in.sections.size() && in.sections[i].id != row.fields[0]) ++i;
    if (i == in.sections.size()) {
      input_error(where(file, row.line, 1) + ": section \"" + row.fields[0] + "\" is not in the sections file");
    }
    if (i >= in.tests.size() || in.tests[i].empty()) {
      input_error(where(file, row.line, 1) + ": section \"" + row.fields[0] +
                  "\" has no test; the overlay uses the load of its first test");
    }
    item.section = i;
    item.h3 = number_at(file, row, 2, "depth_in");
    item.e1 = positive_at(file, row, 3, "e_surface");
    item.e2 = positive_at(file, row, 4, "e_base");
    item.e3 = positive_at(file, row, 5, "e_subgrade");
    items.push_back(item);
  }
  return items;
}

}  // namespace rate_csv
