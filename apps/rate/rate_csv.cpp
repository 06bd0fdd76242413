#include "apps/rate/rate_csv.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <utility>

namespace rate_csv {
namespace {

// The sections and overlay files, read whole, hold a line per section: no
// sensible one comes near this, and a device that never ends stops here.
// (The tests file is read a row at a time.)
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

// A field as a message quotes it: in double quotes, a long one cut short
// (a field of a damaged file may be a megabyte of anything).
std::string shown_field(std::string_view field) {
  constexpr std::size_t kShown = 60;
  if (field.size() <= kShown) return "\"" + std::string(field) + "\"";
  return "\"" + std::string(field.substr(0, kShown)) + "...\" (" + std::to_string(field.size()) + " characters)";
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

// The next line of `text` from `pos`, without its end (LF, CR LF or CR).
std::string_view next_line(std::string_view text, std::size_t& pos) {
  const std::size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
  const std::string_view line = text.substr(pos, end - pos);
  pos = end + 1;
  if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ++pos;
  return line;
}

// The columns a file holds: each known name with the place of its field.
struct Columns {
  std::vector<std::size_t> place;  // per name of the file's list; npos: absent (optional)
  std::size_t least = 0, most = 0; // fields a data row may have
};

constexpr std::size_t kAbsent = std::size_t(-1);

bool names_a_column(const std::vector<std::string>& fields, const std::vector<std::string_view>& names) {
  for (const std::string& f : fields)
    if (std::find(names.begin(), names.end(), f) != names.end()) return true;
  return false;
}

// Columns read by the header's names; `required` of `names` must be there.
Columns columns_of_header(const CsvRow& header, const std::vector<std::string_view>& names, std::size_t required,
                          const std::string& file, std::vector<std::string>* notes) {
  Columns c;
  c.place.assign(names.size(), kAbsent);
  std::string missing;
  for (std::size_t k = 0; k < header.fields.size(); ++k) {
    const auto it = std::find(names.begin(), names.end(), header.fields[k]);
    if (it == names.end()) {
      if (notes != nullptr)
        notes->push_back(where(file, header.line, int(k + 1)) + ": column " + shown_field(header.fields[k]) +
                         " is not one the tool reads; it is ignored");
      continue;
    }
    std::size_t& place = c.place[std::size_t(it - names.begin())];
    if (place != kAbsent) input_error(where(file, header.line, int(k + 1)) + ": column " + shown_field(header.fields[k]) + " given twice");
    place = k;
  }
  for (std::size_t n = 0; n < required; ++n)
    if (c.place[n] == kAbsent) missing += (missing.empty() ? "" : ", ") + std::string(names[n]);
  if (!missing.empty()) input_error(where(file, header.line) + ": the header lacks the column(s) " + missing);
  c.least = c.most = header.fields.size();
  return c;
}

// Columns in the documented order when the file has no header.
Columns columns_in_order(std::size_t names, std::size_t required) {
  Columns c;
  for (std::size_t n = 0; n < names; ++n) c.place.push_back(n);
  c.least = required;
  c.most = names;
  return c;
}

// Lines numbered from 1, without their ends (LF, CR LF or CR).
class Lines {
 public:
  virtual ~Lines() = default;
  virtual bool next(std::string_view& line) = 0;
  int number() const { return number_; }

 protected:
  int number_ = 0;
};

class TextLines : public Lines {
 public:
  explicit TextLines(std::string_view text) : text_(text) {}
  bool next(std::string_view& line) override {
    if (pos_ >= text_.size()) return false;
    line = next_line(text_, pos_);
    ++number_;
    return true;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// A file read piece by piece, so that a file of any size takes the memory of
// its longest line. A line longer than any row of these files, or a NUL
// byte, refuses the file: it is not a text of comma-separated rows.
class FileLines : public Lines {
 public:
  explicit FileLines(const std::filesystem::path& file) : name_(file.string()), in_(file, std::ios::binary) {
    if (!in_) input_error(name_ + ": cannot open the file: " + std::strerror(errno));
  }
  bool next(std::string_view& line) override {
    for (;;) {
      const std::size_t end = buffer_.find_first_of("\r\n", pos_);
      // A CR at the end of what is read may be the first half of a CR LF.
      const bool whole = end != std::string::npos && (buffer_[end] == '\n' || end + 1 < buffer_.size() || ended_);
      if (whole || (ended_ && pos_ < buffer_.size())) {
        std::string_view text(buffer_);
        line = next_line(text, pos_);
        if (line.size() > kMaxLineBytes) too_long();
        check_line(line);
        ++number_;
        return true;
      }
      if (ended_) return false;
      if (buffer_.size() - pos_ > kMaxLineBytes) too_long();
      read_more();
    }
  }

 private:
  static constexpr std::size_t kMaxLineBytes = std::size_t(1) << 20;
  static constexpr std::size_t kPiece = std::size_t(1) << 16;

  void read_more() {
    buffer_.erase(0, pos_);
    pos_ = 0;
    const std::size_t had = buffer_.size();
    buffer_.resize(had + kPiece);
    in_.read(buffer_.data() + had, std::streamsize(kPiece));
    buffer_.resize(had + std::size_t(in_.gcount()));
    if (in_.bad()) input_error(name_ + ": read error");
    if (in_.eof()) ended_ = true;
  }
  [[noreturn]] void too_long() const {
    input_error(where(name_, number_ + 1) + ": a line longer than 1 MiB; not a file of comma-separated rows");
  }
  void check_line(std::string_view line) const {
    const std::size_t nul = line.find('\0');
    if (nul != std::string_view::npos)
      input_error(where(name_, number_ + 1, int(nul + 1)) + ": a NUL byte; not a file of comma-separated rows");
  }

  std::string name_;
  std::ifstream in_;
  std::string buffer_;
  std::size_t pos_ = 0;
  bool ended_ = false;
};

// The data rows of a CSV text: blank lines and lines starting with '#' are
// skipped; the first row is the header when it names any of the file's
// columns.
class CsvRows {
 public:
  CsvRows(Lines& lines, const std::string& file, const std::vector<std::string_view>& names, std::size_t required,
          std::vector<std::string>* notes)
      : lines_(lines), file_(file), names_(names), required_(required), notes_(notes),
        columns_(columns_in_order(names.size(), required)) {}
  bool next(CsvRow& row) {
    std::string_view text;
    while (lines_.next(text)) {
      const std::string_view line = trim(text);
      if (line.empty() || line[0] == '#') continue;
      row = {lines_.number(), split_fields(line)};
      if (std::exchange(first_, false) && names_a_column(row.fields, names_)) {
        columns_ = columns_of_header(row, names_, required_, file_, notes_);
        continue;
      }
      return true;
    }
    return false;
  }
  const Columns& columns() const { return columns_; }

 private:
  Lines& lines_;
  const std::string& file_;
  const std::vector<std::string_view>& names_;
  std::size_t required_;
  std::vector<std::string>* notes_;
  Columns columns_;
  bool first_ = true;
};

std::vector<CsvRow> read_csv(std::string_view text, const std::string& file, const std::vector<std::string_view>& names,
                             std::size_t required, Columns& columns, std::vector<std::string>* notes) {
  TextLines lines(text);
  CsvRows reader(lines, file, names, required, notes);
  std::vector<CsvRow> rows;
  for (CsvRow row; reader.next(row);) rows.push_back(std::move(row));
  columns = reader.columns();
  return rows;
}

// A data row with the number of fields its file's columns take.
void require_width(const std::string& file, const CsvRow& row, const Columns& c) {
  if (row.fields.size() >= c.least && row.fields.size() <= c.most) return;
  input_error(where(file, row.line) + ": expected " + std::to_string(c.least) + " columns, found " +
              std::to_string(row.fields.size()));
}

// The field of column `name` (index into the file's names) or null when absent.
const std::string* field(const CsvRow& row, const Columns& c, std::size_t name) {
  const std::size_t k = c.place[name];
  return k < row.fields.size() ? &row.fields[k] : nullptr;
}

// A finite decimal number from column `name` of a row.
double number_at(const std::string& file, const CsvRow& row, const Columns& c, std::size_t name,
                 std::string_view what) {
  const std::string& s = row.fields[c.place[name]];
  double v = 0;
  if (!parse_decimal(s, v)) {
    input_error(where(file, row.line, int(c.place[name] + 1)) + ": expected a number for " + std::string(what) +
                ", found " + shown_field(s));
  }
  return v;
}

double positive_at(const std::string& file, const CsvRow& row, const Columns& c, std::size_t name,
                   std::string_view what) {
  const double v = number_at(file, row, c, name, what);
  if (!(v > 0)) {
    input_error(where(file, row.line, int(c.place[name] + 1)) + ": " + std::string(what) +
                " must be positive, found " + shown_field(row.fields[c.place[name]]));
  }
  return v;
}

// The files' columns in their documented order; the first `required` of
// each list must be given.
const std::vector<std::string_view> kSectionColumns = {
    "section",          "days_fall",          "days_winter",         "days_spring1",        "days_spring2",
    "days_summer",      "air_fall_f",         "air_winter_f",        "air_spring1_f",       "air_spring2_f",
    "air_summer_f",     "surface_in",         "base_in",             "prev_day_air_f",      "base_factor_fall",
    "base_factor_winter", "base_factor_spring1", "base_factor_spring2", "base_factor_summer",
    "subgrade_factor_fall", "subgrade_factor_winter", "subgrade_factor_spring1", "subgrade_factor_spring2",
    "subgrade_factor_summer", "reps_per_year", "station_from", "station_to"};
constexpr std::size_t kSectionRequired = 1 + kSectColumns;

const std::vector<std::string_view> kTestColumns = {"section",  "hour",     "load_lb",  "d0_mils",
                                                    "d8_mils",  "d12_mils", "d18_mils", "d24_mils",
                                                    "d36_mils", "reps_per_year", "surface_temp_f"};

const std::vector<std::string_view> kOverlayColumns = {"section", "depth_in", "e_surface", "e_base", "e_subgrade"};

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

std::string csv_field(std::string_view text) {
  const bool plain = text.find_first_of(",\"\r\n") == std::string_view::npos && trim(text).size() == text.size();
  if (plain) return std::string(text);
  std::string out = "\"";
  for (char ch : text) {
    if (ch == '"') out += '"';
    out += ch;
  }
  return out + '"';
}

// station_from and station_to: both or neither, in order.
void read_station_range(const std::string& file, const CsvRow& row, const Columns& c, Section& s) {
  const std::size_t from = kSectionRequired + 1, to = kSectionRequired + 2;
  const std::string* from_text = field(row, c, from);
  const std::string* to_text = field(row, c, to);
  const bool has_from = from_text != nullptr && !from_text->empty();
  const bool has_to = to_text != nullptr && !to_text->empty();
  if (!has_from && !has_to) return;
  if (has_from != has_to) {  // pointed at the missing one when its column is there
    const std::size_t missing = has_from ? to : from;
    const std::size_t place = c.place[missing] != kAbsent ? c.place[missing] : c.place[has_from ? from : to];
    input_error(where(file, row.line, int(place + 1)) + ": station_from and station_to go together");
  }
  s.station_from = number_at(file, row, c, from, "station_from");
  s.station_to = number_at(file, row, c, to, "station_to");
  if (!(s.station_from <= s.station_to))
    input_error(where(file, row.line, int(c.place[to] + 1)) + ": station_to " + *to_text +
                " is below station_from " + *from_text);
}

std::vector<Section> read_sections(std::string_view text, const std::string& file,
                                   std::array<double, 10>& factors, std::vector<std::string>* notes) {
  Columns c;
  // Optional columns give the annual repetitions of field-file drops and the
  // stations a section covers in a field file.
  const auto rows = read_csv(text, file, kSectionColumns, kSectionRequired, c, notes);
  if (rows.empty()) input_error(file + ": no sections");
  std::vector<Section> sections;
  std::map<std::string, int> seen;
  for (const CsvRow& row : rows) {
    require_width(file, row, c);
    Section s;
    s.id = *field(row, c, 0);
    if (s.id.empty()) input_error(where(file, row.line, int(c.place[0] + 1)) + ": empty section id");
    if (!seen.emplace(s.id, row.line).second) {
      input_error(where(file, row.line, int(c.place[0] + 1)) + ": section " + shown_field(s.id) + " already given on line " +
                  std::to_string(seen[s.id]));
    }
    for (std::size_t k = 1; k <= 13; ++k) s.columns[k - 1] = number_at(file, row, c, k, kSectionColumns[k]);
    // The seasonal factors are one set for all sections: the first row's.
    // Later rows may leave them empty or repeat them.
    for (std::size_t k = 14; k <= std::size_t(kSectColumns); ++k) {
      const std::string& f = *field(row, c, k);
      if (sections.empty()) {
        factors[k - 14] = number_at(file, row, c, k, kSectionColumns[k]);
      } else if (!f.empty() && number_at(file, row, c, k, kSectionColumns[k]) != factors[k - 14]) {
        input_error(where(file, row.line, int(c.place[k] + 1)) + ": " + std::string(kSectionColumns[k]) +
                    " differs from the first section's; the seasonal factors are shared by all sections");
      }
    }
    const std::string* reps = field(row, c, kSectionRequired);
    if (reps != nullptr && !reps->empty())
      s.reps_per_year = positive_at(file, row, c, kSectionRequired, "reps_per_year");
    read_station_range(file, row, c, s);
    sections.push_back(s);
  }
  return sections;
}

namespace {

// One row of the tests file; an InputError names what is wrong with it.
Test test_of_row(const std::string& file, const CsvRow& row, const Columns& c) {
  Test t;
  t.line = row.line;
  // The load and the six deflections describe a pavement only when positive.
  for (std::size_t k = 1; k <= std::size_t(kFwdSlabs); ++k) {
    const bool must_be_positive = k >= 2 && k <= 8;
    t.slabs[k - 1] = must_be_positive ? positive_at(file, row, c, k, kTestColumns[k])
                                      : number_at(file, row, c, k, kTestColumns[k]);
  }
  return t;
}

}  // namespace

namespace {

using SectionIndex = std::map<std::string, std::size_t, std::less<>>;

SectionIndex index_of(const std::vector<Section>& sections) {
  SectionIndex index;
  for (std::size_t i = 0; i < sections.size(); ++i) index.emplace(sections[i].id, i);
  return index;
}

// A row of the tests file: its section's index and test, or the refusal
// naming it (section npos).
std::size_t test_row(const std::string& file, const CsvRow& row, const Columns& c, const SectionIndex& index,
                     Test& test, Refusal& refusal) {
  try {
    require_width(file, row, c);
    const std::string& id = *field(row, c, 0);
    const auto it = index.find(id);
    if (it == index.end())
      input_error(where(file, row.line, int(c.place[0] + 1)) + ": section " + shown_field(id) + " is not in the sections file");
    test = test_of_row(file, row, c);
    return it->second;
  } catch (const InputError& e) {
    // The message names the row's section unless it is about the section.
    const std::string* id = field(row, c, 0);
    std::string message = e.what();
    if (id != nullptr && !id->empty() && message.find("section \"") == std::string::npos)
      message += " (section " + shown_field(*id) + ")";
    refusal = {row.line, std::move(message)};
    return kAbsent;
  }
}

}  // namespace

void read_tests(std::string_view text, const std::string& file, Input& in) {
  TextLines lines(text);
  CsvRows rows(lines, file, kTestColumns, kTestColumns.size(), &in.notes);
  const SectionIndex index = index_of(in.sections);
  in.tests.assign(in.sections.size(), {});
  Test t;
  Refusal r;
  for (CsvRow row; rows.next(row);) {
    const std::size_t s = test_row(file, row, rows.columns(), index, t, r);
    if (s == kAbsent) in.refused.push_back(std::move(r));
    else in.tests[s].push_back(t);
  }
}

struct TestRows::Reader {
  Reader(const std::filesystem::path& path, const std::vector<Section>& sections, std::vector<std::string>* notes)
      : file(path.string()), lines(path), rows(lines, file, kTestColumns, kTestColumns.size(), notes),
        index(index_of(sections)) {}
  std::string file;
  FileLines lines;
  CsvRows rows;
  SectionIndex index;
  CsvRow row;
};

TestRows::TestRows(const std::filesystem::path& file, const std::vector<Section>& sections,
                   std::vector<std::string>* notes)
    : reader_(std::make_unique<Reader>(file, sections, notes)) {}
TestRows::~TestRows() = default;

bool TestRows::next(std::size_t& section, Test& test, Refusal& refusal) {
  Reader& r = *reader_;
  if (!r.rows.next(r.row)) return false;
  section = test_row(r.file, r.row, r.rows.columns(), r.index, test, refusal);
  return true;
}

bool grouped_in_section_order(const std::filesystem::path& file, const std::vector<Section>& sections) {
  TestRows rows(file, sections, nullptr);
  std::size_t section = kAbsent, last = 0;
  bool any = false;
  Test t;
  Refusal r;
  while (rows.next(section, t, r)) {
    if (section == kAbsent) continue;
    if (any && section < last) return false;
    last = section;
    any = true;
  }
  return true;
}

std::vector<OverlayItem> read_overlay(std::string_view text, const std::string& file, const Input& in) {
  Columns c;
  const auto rows = read_csv(text, file, kOverlayColumns, kOverlayColumns.size(), c, nullptr);
  std::vector<OverlayItem> items;
  for (const CsvRow& row : rows) {
    require_width(file, row, c);
    OverlayItem item;
    const std::string& id = *field(row, c, 0);
    std::size_t i = 0;
    while (i < in.sections.size() && in.sections[i].id != id) ++i;
    const int id_column = int(c.place[0] + 1);
    if (i == in.sections.size()) {
      input_error(where(file, row.line, id_column) + ": section " + shown_field(id) + " is not in the sections file");
    }
    if (i >= in.tests.size() || in.tests[i].empty()) {
      input_error(where(file, row.line, id_column) + ": section " + shown_field(id) +
                  " has no test; the overlay uses the load of its first test");
    }
    item.section = i;
    item.h3 = number_at(file, row, c, 1, "depth_in");
    item.e1 = positive_at(file, row, c, 2, "e_surface");
    item.e2 = positive_at(file, row, c, 3, "e_base");
    item.e3 = positive_at(file, row, c, 4, "e_subgrade");
    items.push_back(item);
  }
  return items;
}

}  // namespace rate_csv
