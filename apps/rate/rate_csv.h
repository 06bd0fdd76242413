// The rating tool's input files: comma-separated sections, tests and overlay
// items read into the values the library's arrays take. Every fault is an
// InputError whose text names file, line and (where there is one) column.
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace rate_csv {

inline constexpr int kFwdSlabs = 10;
inline constexpr int kSectColumns = 23;

struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Section {
  std::string id;
  std::array<double, 13> columns{};  // SECT columns 1..13
  double reps_per_year = 0;          // optional column 25 (0: not given)
  // Optional columns 26 and 27: the stations of an F25 file this section's
  // drops lie at (both given, from <= to); NaN when not given.
  double station_from = std::numeric_limits<double>::quiet_NaN();
  double station_to = std::numeric_limits<double>::quiet_NaN();
};

struct Test {
  int line = 0;
  std::array<double, kFwdSlabs> slabs{};  // FWD slabs 1..10
};

// A test row that is not rated: its line and the message naming it
// ("tests.csv:7:3: expected a number for load_lb, found \"x\"").
struct Refusal {
  int line = 0;
  std::string message;
};

struct Input {
  std::vector<Section> sections;
  std::array<double, 10> factors{};      // SECT row 1, columns 14..23
  std::vector<std::vector<Test>> tests;  // per section, in file order
  std::vector<Refusal> refused;          // test rows left out, each named
  std::vector<std::string> notes;        // what was read but not used (an extra column)
};

struct OverlayItem {
  std::size_t section = 0;  // index into Input::sections
  double h3 = 0, e1 = 0, e2 = 0, e3 = 0;
};

// A decimal number ("-1.5", "2e3", ".5"), finite and within the range of an
// 8-byte float; hexadecimal, "inf", "nan" and anything around it are not.
bool parse_decimal(std::string_view text, double& value);

// A field of an output CSV file: quoted (with inner quotes doubled) when it
// holds a comma, a quote, a line end or leading or trailing blanks.
std::string csv_field(std::string_view text);

// The text of a sections or overlay file, refused beyond 64 MiB (a device that never ends).
std::string read_file(const std::filesystem::path& file);

// The readers of the three files' texts; `file` names the file in messages.
// Lines end in LF, CR LF or CR. A first row naming any of the file's columns
// is its header: the columns are then read by name in any order, a missing
// one refused by name, an extra one noted; without a header they are read
// in the documented order. A fault in the sections or overlay file refuses
// the file; a fault in a test row refuses that row alone (Input::refused).
std::vector<Section> read_sections(std::string_view text, const std::string& file,
                                   std::array<double, 10>& factors, std::vector<std::string>* notes = nullptr);
void read_tests(std::string_view text, const std::string& file, Input& in);
std::vector<OverlayItem> read_overlay(std::string_view text, const std::string& file, const Input& in);

// The tests file row by row, for a file of any size: it holds one line at a
// time. A line longer than 1 MiB or a NUL byte refuses the file (an
// InputError naming its line); each row is read as read_tests reads it.
class TestRows {
 public:
  TestRows(const std::filesystem::path& file, const std::vector<Section>& sections, std::vector<std::string>* notes);
  ~TestRows();
  // The next data row: its section's index in `sections` and its test, or
  // a refusal (section is then npos). False at the end of the file.
  bool next(std::size_t& section, Test& test, Refusal& refusal);

 private:
  struct Reader;
  std::unique_ptr<Reader> reader_;
};

// Whether every section's rows stand together, the sections in the order
// of the sections file (rows refused aside): then the results can be
// written section by section as the rows come. Reads the whole file, so
// that a file that is no CSV text is refused before any work.
bool grouped_in_section_order(const std::filesystem::path& file, const std::vector<Section>& sections);

}  // namespace rate_csv
