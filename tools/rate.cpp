// rate: rates pavement sections from falling-weight deflection tests with
// the shared library, as any host program would: it loads libzalk3071.so at
// run time, fills the library's fixed-size arrays from two CSV files, calls
// ZALK3071DLL (and OVER on request) and writes the results as CSV.
//
// Usage:
//   rate --sections FILE --tests FILE [--out FILE] [--lib FILE] [--data DIR]
//        [--overlay FILE --dh INCHES [--overlay-out FILE]]
//
// The CSV columns are listed in README.md ("Rating tool").
#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kMaxSections = 20;
constexpr int kMaxTests = 2000;
constexpr int kFwdSlabs = 10;
constexpr int kResults = 6;
constexpr int kSectColumns = 23;
constexpr int kMaxPasses = 20;
constexpr int kTestsPerCall = 25;  // tests rated per library call, for the progress line

// ---- errors -----------------------------------------------------------------

// Bad input or a failed library call: the message is printed and the tool
// ends with the exit code.
struct ToolError : std::runtime_error {
  int exit_code;
  ToolError(const std::string& what, int code) : std::runtime_error(what), exit_code(code) {}
};

[[noreturn]] void input_error(const std::string& what) { throw ToolError(what, 2); }

// ---- CSV input --------------------------------------------------------------

struct CsvRow {
  int line = 0;
  std::vector<std::string> fields;
};

std::string trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  const auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

std::vector<std::string> split_fields(const std::string& line) {
  std::vector<std::string> out;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, ',')) out.push_back(trim(field));
  if (!line.empty() && line.back() == ',') out.emplace_back();
  return out;
}

bool is_number(const std::string& s) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  std::strtod(s.c_str(), &end);
  return end == s.c_str() + s.size() && errno == 0;
}

// Rows of a CSV file: blank lines and lines starting with '#' are skipped, as
// is a first row whose first field is not a number (a header).
std::vector<CsvRow> read_csv(const fs::path& file, std::size_t columns) {
  std::ifstream in(file);
  if (!in) input_error(file.string() + ": cannot open the file: " + std::strerror(errno));
  std::vector<CsvRow> rows;
  std::string line;
  bool first = true;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string text = trim(line);
    if (text.empty() || text[0] == '#') continue;
    CsvRow row{number, split_fields(text)};
    if (first) {
      first = false;
      if (row.fields.size() >= 2 && !is_number(row.fields[1])) continue;  // header
    }
    if (row.fields.size() != columns) {
      input_error(file.string() + ":" + std::to_string(number) + ": expected " +
                  std::to_string(columns) + " columns, found " + std::to_string(row.fields.size()));
    }
    rows.push_back(std::move(row));
  }
  if (in.bad()) input_error(file.string() + ": read error");
  return rows;
}

// A finite number from column `col` (1-based) of a row.
double number_at(const fs::path& file, const CsvRow& row, int col, const char* name) {
  const std::string& s = row.fields[std::size_t(col - 1)];
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(s.c_str(), &end);
  if (s.empty() || end != s.c_str() + s.size() || errno == ERANGE || !std::isfinite(v)) {
    input_error(file.string() + ":" + std::to_string(row.line) + ":" + std::to_string(col) +
                ": expected a number for " + name + ", found \"" + s + "\"");
  }
  return v;
}

// ---- the host's arrays --------------------------------------------------------

// Column-major arrays with the library's fixed extents.
struct HostArrays {
  std::vector<double> fwd = std::vector<double>(std::size_t(kMaxSections) * kMaxTests * kFwdSlabs);
  std::vector<double> result = std::vector<double>(std::size_t(kMaxSections) * kMaxTests * kResults);
  std::vector<double> sect = std::vector<double>(std::size_t(kMaxSections) * kSectColumns);
  std::array<int32_t, kMaxSections> ntest{};

  double& fwd_at(int p, int j, int k) {
    return fwd[(std::size_t(k - 1) * kMaxTests + std::size_t(j - 1)) * kMaxSections + std::size_t(p - 1)];
  }
  double& result_at(int p, int j, int k) {
    return result[(std::size_t(k - 1) * kMaxTests + std::size_t(j - 1)) * kMaxSections + std::size_t(p - 1)];
  }
  double& sect_at(int p, int c) { return sect[std::size_t(c - 1) * kMaxSections + std::size_t(p - 1)]; }
};

struct Section {
  std::string id;
  std::array<double, 13> columns{};  // SECT columns 1..13
};

struct Test {
  int line = 0;
  std::array<double, kFwdSlabs> slabs{};  // FWD slabs 1..10
};

struct Input {
  std::vector<Section> sections;
  std::array<double, 10> factors{};        // SECT row 1, columns 14..23
  std::vector<std::vector<Test>> tests;    // per section, in file order
};

const char* const kSectionNames[] = {
    "days_fall",    "days_winter",  "days_spring1", "days_spring2", "days_summer",
    "air_fall_f",   "air_winter_f", "air_spring1_f", "air_spring2_f", "air_summer_f",
    "surface_in",   "base_in",      "prev_day_air_f",
    "base_factor_fall", "base_factor_winter", "base_factor_spring1", "base_factor_spring2",
    "base_factor_summer", "subgrade_factor_fall", "subgrade_factor_winter",
    "subgrade_factor_spring1", "subgrade_factor_spring2", "subgrade_factor_summer"};

std::vector<Section> read_sections(const fs::path& file, std::array<double, 10>& factors) {
  const auto rows = read_csv(file, 1 + kSectColumns);
  if (rows.empty()) input_error(file.string() + ": no sections");
  if (rows.size() > kMaxSections) {
    input_error(file.string() + ":" + std::to_string(rows[kMaxSections].line) +
                ": more than 20 sections; the library rates at most 20 per run");
  }
  std::vector<Section> sections;
  std::map<std::string, int> seen;
  for (const CsvRow& row : rows) {
    Section s;
    s.id = row.fields[0];
    if (s.id.empty()) input_error(file.string() + ":" + std::to_string(row.line) + ":1: empty section id");
    if (!seen.emplace(s.id, row.line).second) {
      input_error(file.string() + ":" + std::to_string(row.line) + ":1: section \"" + s.id +
                  "\" already given on line " + std::to_string(seen[s.id]));
    }
    for (int c = 1; c <= 13; ++c) s.columns[std::size_t(c - 1)] = number_at(file, row, c + 1, kSectionNames[c - 1]);
    // The seasonal factors are one set for all sections: the first row's.
    // Later rows may leave them empty or repeat them.
    for (int c = 14; c <= kSectColumns; ++c) {
      const std::string& f = row.fields[std::size_t(c)];
      if (sections.empty()) {
        factors[std::size_t(c - 14)] = number_at(file, row, c + 1, kSectionNames[c - 1]);
      } else if (!f.empty() && number_at(file, row, c + 1, kSectionNames[c - 1]) != factors[std::size_t(c - 14)]) {
        input_error(file.string() + ":" + std::to_string(row.line) + ":" + std::to_string(c + 1) +
                    ": " + kSectionNames[c - 1] +
                    " differs from the first section's; the seasonal factors are shared by all sections");
      }
    }
    sections.push_back(s);
  }
  return sections;
}

const char* const kTestNames[] = {"hour", "load_lb", "d0_mils", "d8_mils", "d12_mils", "d18_mils",
                                  "d24_mils", "d36_mils", "reps_per_year", "surface_temp_f"};

void read_tests(const fs::path& file, Input& in) {
  const auto rows = read_csv(file, 1 + kFwdSlabs);
  std::map<std::string, std::size_t> index;
  for (std::size_t i = 0; i < in.sections.size(); ++i) index[in.sections[i].id] = i;
  in.tests.assign(in.sections.size(), {});
  for (const CsvRow& row : rows) {
    const auto it = index.find(row.fields[0]);
    if (it == index.end()) {
      input_error(file.string() + ":" + std::to_string(row.line) + ":1: section \"" + row.fields[0] +
                  "\" is not in the sections file");
    }
    auto& list = in.tests[it->second];
    if (list.size() == kMaxTests) {
      input_error(file.string() + ":" + std::to_string(row.line) + ": section \"" + row.fields[0] +
                  "\" has more than 2000 tests; the library rates at most 2000 per section");
    }
    Test t;
    t.line = row.line;
    for (int k = 1; k <= kFwdSlabs; ++k) t.slabs[std::size_t(k - 1)] = number_at(file, row, k + 1, kTestNames[k - 1]);
    list.push_back(t);
  }
}

struct OverlayItem {
  std::size_t section = 0;  // index into Input::sections
  double h3 = 0, e1 = 0, e2 = 0, e3 = 0;
};

std::vector<OverlayItem> read_overlay(const fs::path& file, const Input& in) {
  const auto rows = read_csv(file, 5);
  if (rows.size() > kMaxSections) input_error(file.string() + ": more than 20 overlay items");
  std::vector<OverlayItem> items;
  for (const CsvRow& row : rows) {
    OverlayItem item;
    std::size_t i = 0;
    while (i < in.sections.size() && in.sections[i].id != row.fields[0]) ++i;
    if (i == in.sections.size()) {
      input_error(file.string() + ":" + std::to_string(row.line) + ":1: section \"" + row.fields[0] +
                  "\" is not in the sections file");
    }
    if (in.tests[i].empty()) {
      input_error(file.string() + ":" + std::to_string(row.line) + ":1: section \"" + row.fields[0] +
                  "\" has no test; the overlay uses the load of its first test");
    }
    item.section = i;
    item.h3 = number_at(file, row, 2, "depth_in");
    const char* names[3] = {"e_surface", "e_base", "e_subgrade"};
    double* moduli[3] = {&item.e1, &item.e2, &item.e3};
    for (int k = 0; k < 3; ++k) {
      *moduli[k] = number_at(file, row, 3 + k, names[k]);
      if (!(*moduli[k] > 0)) {
        input_error(file.string() + ":" + std::to_string(row.line) + ":" + std::to_string(3 + k) +
                    ": " + names[k] + " must be positive");
      }
    }
    items.push_back(item);
  }
  return items;
}

// ---- the library ----------------------------------------------------------------

using RateFn = void (*)(double*, double*, double*, int32_t*, int32_t*);
using OverFn = void (*)(double*, double*, double*, double*, double*, double*, int32_t*, void*,
                        double*, int32_t*, double*, double*);
using StatusFn = void (*)(int32_t*, int32_t*, char*, int32_t*);

class Library {
 public:
  explicit Library(const fs::path& file) {
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw ToolError(std::string("cannot load the library: ") + dlerror(), 3);
    rate_ = reinterpret_cast<RateFn>(symbol("ZALK3071DLL", true));
    over_ = reinterpret_cast<OverFn>(symbol("OVER", true));
    status_ = reinterpret_cast<StatusFn>(symbol("ZALKSTATUS", false));
    if (status_ != nullptr) {
      int32_t mode = 1;  // a severe error comes back as a status instead of ending the tool
      status_(&mode, nullptr, nullptr, nullptr);
    }
  }
  ~Library() { dlclose(handle_); }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  void rate(HostArrays& a, int32_t nsec) {
    rate_(a.fwd.data(), a.result.data(), a.sect.data(), a.ntest.data(), &nsec);
    check("ZALK3071DLL");
  }

  void over(std::array<double, kMaxSections>& h3, std::array<double, kMaxSections>& e1,
            std::array<double, kMaxSections>& e2, std::array<double, kMaxSections>& e3, HostArrays& a,
            int32_t nsec, double dh, std::array<int32_t, kMaxSections>& npass,
            std::vector<double>& rpass, std::vector<double>& tpass) {
    over_(h3.data(), e1.data(), e2.data(), e3.data(), a.fwd.data(), a.sect.data(), &nsec, nullptr,
          &dh, npass.data(), rpass.data(), tpass.data());
    check("OVER");
  }

 private:
  void* symbol(const char* name, bool required) {
    void* s = dlsym(handle_, name);
    if (s == nullptr && required) throw ToolError(std::string("the library has no entry point ") + name, 3);
    return s;
  }

  void check(const char* entry) {
    if (status_ == nullptr) return;
    int32_t status = 0;
    int32_t length = 4096;
    std::vector<char> message(std::size_t(length) + 1, '\0');
    status_(nullptr, &status, message.data(), &length);
    if (status != 0) throw ToolError(std::string(entry) + " failed:\n" + message.data(), 3);
  }

  void* handle_ = nullptr;
  RateFn rate_ = nullptr;
  OverFn over_ = nullptr;
  StatusFn status_ = nullptr;
};

// ---- options ------------------------------------------------------------------------

struct Options {
  fs::path sections, tests, out, lib, data;
  fs::path overlay, overlay_out;
  std::optional<double> dh;
};

[[noreturn]] void usage(const std::string& problem) {
  throw ToolError(problem +
                      "\nusage: rate --sections FILE --tests FILE [--out FILE] [--lib FILE] [--data DIR]\n"
                      "            [--overlay FILE --dh INCHES [--overlay-out FILE]]",
                  2);
}

fs::path default_library() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return "libzalk3071.so";
  return exe.parent_path().parent_path() / "api" / "libzalk3071.so";
}

Options parse_options(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage("option " + arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--sections") o.sections = value();
    else if (arg == "--tests") o.tests = value();
    else if (arg == "--out") o.out = value();
    else if (arg == "--lib") o.lib = value();
    else if (arg == "--data") o.data = value();
    else if (arg == "--overlay") o.overlay = value();
    else if (arg == "--overlay-out") o.overlay_out = value();
    else if (arg == "--dh") {
      const std::string v = value();
      if (!is_number(v)) usage("--dh needs a number, found \"" + v + "\"");
      o.dh = std::strtod(v.c_str(), nullptr);
    } else if (arg == "--help" || arg == "-h") {
      usage("rate: load rating of pavement sections from deflection tests");
    } else {
      usage("unknown option " + arg);
    }
  }
  if (o.sections.empty() || o.tests.empty()) usage("--sections and --tests are required");
  if (!o.overlay.empty() && !o.dh) usage("--overlay needs --dh");
  if (o.lib.empty()) o.lib = default_library();
  return o;
}

// ---- rating --------------------------------------------------------------------------

class Progress {
 public:
  explicit Progress(std::size_t total) : total_(total), on_(isatty(STDERR_FILENO) == 1) {}
  void update(std::size_t done, const std::string& section) {
    if (!on_) return;
    const auto secs = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::steady_clock::now() - start_).count();
    std::fprintf(stderr, "\rrating: %zu/%zu tests, section %s, %lld s   ", done, total_,
                 section.c_str(), static_cast<long long>(secs));
    std::fflush(stderr);
  }
  ~Progress() {
    if (on_) std::fputc('\n', stderr);
  }

 private:
  std::size_t total_;
  bool on_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Row 1 of SECT: the section's own columns and the shared seasonal factors.
void put_section(HostArrays& a, int row, const Section& s, const std::array<double, 10>& factors) {
  for (int c = 1; c <= 13; ++c) a.sect_at(row, c) = s.columns[std::size_t(c - 1)];
  for (int c = 14; c <= kSectColumns; ++c) a.sect_at(row, c) = factors[std::size_t(c - 14)];
}

struct Rated {
  std::array<double, kResults> values{};
};

// Each library call rates one slice of a section's tests (row 1 of the
// arrays); every test is rated independently, so slicing changes no result.
std::vector<std::vector<Rated>> rate_all(Library& lib, const Input& in) {
  std::size_t total = 0;
  for (const auto& t : in.tests) total += t.size();
  Progress progress(total);
  std::vector<std::vector<Rated>> out(in.sections.size());
  HostArrays a;
  std::size_t done = 0;
  for (std::size_t s = 0; s < in.sections.size(); ++s) {
    const auto& tests = in.tests[s];
    for (std::size_t first = 0; first < tests.size(); first += kTestsPerCall) {
      const std::size_t n = std::min<std::size_t>(kTestsPerCall, tests.size() - first);
      progress.update(done, in.sections[s].id);
      put_section(a, 1, in.sections[s], in.factors);
      for (std::size_t j = 0; j < n; ++j)
        for (int k = 1; k <= kFwdSlabs; ++k) a.fwd_at(1, int(j + 1), k) = tests[first + j].slabs[std::size_t(k - 1)];
      a.ntest[0] = int32_t(n);
      lib.rate(a, 1);
      for (std::size_t j = 0; j < n; ++j) {
        Rated r;
        for (int k = 1; k <= kResults; ++k) r.values[std::size_t(k - 1)] = a.result_at(1, int(j + 1), k);
        out[s].push_back(r);
      }
      done += n;
    }
  }
  progress.update(done, "-");
  return out;
}

// An output file (or standard output when no name is given). A file that
// was not completed is removed, so that a failed run leaves no partial
// results behind.
class Output {
 public:
  explicit Output(fs::path file) : file_(std::move(file)) {
    if (file_.empty()) return;
    f_ = std::fopen(file_.c_str(), "w");
    if (f_ == nullptr) throw ToolError(file_.string() + ": cannot write: " + std::strerror(errno), 2);
  }
  ~Output() {
    if (f_ == nullptr) return;
    std::fclose(f_);
    std::error_code ec;
    fs::remove(file_, ec);
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  std::FILE* get() const { return f_ != nullptr ? f_ : stdout; }

  void finish() {
    const bool failed = std::ferror(get()) != 0;
    if (f_ == nullptr) {
      std::fflush(stdout);
    } else {
      const bool closed = std::fclose(f_) == 0;
      f_ = nullptr;
      if (!closed || failed) {
        std::error_code ec;
        fs::remove(file_, ec);
      }
      if (!closed) throw ToolError(file_.string() + ": write error", 2);
    }
    if (failed) throw ToolError((file_.empty() ? std::string("standard output") : file_.string()) + ": write error", 2);
  }

 private:
  fs::path file_;
  std::FILE* f_ = nullptr;
};

void write_results(const Input& in, const std::vector<std::vector<Rated>>& rated, Output& out) {
  std::FILE* f = out.get();
  std::fprintf(f, "section,test,line,allowable_load,e_surface,e_surface_72f,e_base,e_subgrade,depth_in\n");
  for (std::size_t s = 0; s < in.sections.size(); ++s) {
    for (std::size_t j = 0; j < rated[s].size(); ++j) {
      const auto& v = rated[s][j].values;
      std::fprintf(f, "%s,%zu,%d,%.6g,%.6g,%.6g,%.6g,%.6g,%.6g\n", in.sections[s].id.c_str(), j + 1,
                   in.tests[s][j].line, v[0], v[1], v[2], v[3], v[4], v[5]);
    }
  }
  out.finish();
}

void run_overlay(Library& lib, const Input& in, const std::vector<OverlayItem>& items, double dh,
                 Output& out) {
  HostArrays a;
  std::array<double, kMaxSections> h3{}, e1{}, e2{}, e3{};
  for (std::size_t i = 0; i < items.size(); ++i) {
    const int row = int(i + 1);
    const OverlayItem& item = items[i];
    put_section(a, row, in.sections[item.section], in.factors);
    for (int k = 1; k <= kFwdSlabs; ++k) a.fwd_at(row, 1, k) = in.tests[item.section][0].slabs[std::size_t(k - 1)];
    h3[i] = item.h3;
    e1[i] = item.e1;
    e2[i] = item.e2;
    e3[i] = item.e3;
  }
  // Row 1 carries the shared seasonal factors whichever section it holds.
  std::array<int32_t, kMaxSections> npass{};
  std::vector<double> rpass(std::size_t(kMaxSections) * kMaxPasses), tpass(std::size_t(kMaxSections) * kMaxPasses);
  if (isatty(STDERR_FILENO) == 1) std::fprintf(stderr, "overlay: %zu items, up to 20 passes\n", items.size());
  lib.over(h3, e1, e2, e3, a, int32_t(items.size()), dh, npass, rpass, tpass);

  std::FILE* f = out.get();
  std::fprintf(f, "section,pass,surface_in,allowable_load\n");
  for (std::size_t i = 0; i < items.size(); ++i) {
    for (int p = 1; p <= npass[i]; ++p) {
      const std::size_t at = std::size_t(p - 1) * kMaxSections + i;
      std::fprintf(f, "%s,%d,%.6g,%.6g\n", in.sections[items[i].section].id.c_str(), p, tpass[at], rpass[at]);
    }
  }
  out.finish();
}

int run(int argc, char** argv) {
  const Options o = parse_options(argc, argv);
  Input in;
  in.sections = read_sections(o.sections, in.factors);
  read_tests(o.tests, in);
  std::vector<OverlayItem> items;
  if (!o.overlay.empty()) items = read_overlay(o.overlay, in);

  if (!o.data.empty()) {
    if (!fs::is_directory(o.data)) throw ToolError(o.data.string() + ": no such data folder", 2);
    ::setenv("ZALK3071_DIR", o.data.c_str(), 1);
  }
  Library lib(o.lib);
  // Outputs are opened first, so that an unwritable file fails before the run.
  Output results(o.out);
  std::optional<Output> overlay;
  if (!items.empty()) overlay.emplace(o.overlay_out);
  write_results(in, rate_all(lib, in), results);
  if (overlay) run_overlay(lib, in, items, *o.dh, *overlay);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const ToolError& e) {
    std::fprintf(stderr, "rate: %s\n", e.what());
    return e.exit_code;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "rate: %s\n", e.what());
    return 1;
  }
}
