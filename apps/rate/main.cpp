// rate: rates pavement sections from falling-weight deflection tests with
// the library's C++ API: sections from a CSV file, tests from a CSV file or
// from F25 field files, the design's method or the fit, on every core.
//
// Usage:
//   rate --sections FILE (--tests FILE | --f25 FILE [--f25 FILE ...])
//        [--f25-section ID] [--reps N] [--drops all|last|nearest LOAD]
//        [--method design|fit] [--depth candidates|continuous] [--threads N]
//        [--out FILE] [--residuals FILE] [--plots DIR] [--data DIR] [--digits N]
//        [--overlay FILE --dh INCHES [--overlay-out FILE]]
//
// The CSV columns are listed in README.md ("Rating tool").
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "io/f25.h"
#include "io/platform.h"
#include "rating/sensor_layout.h"
#include "apps/rate/rate_csv.h"
#include "apps/rate/rate_f25.h"
#include "zalk/zalk.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr double kMaxIncrement = 12.0;  // inches per overlay pass: the top of the thickness grid
constexpr std::size_t kTestsPerTask = 25;  // tests rated per call: the unit of work of a thread
constexpr int kWarningsShown = 5;          // of each kind of library warning

// Bad input or a failed library call: the message is printed and the tool
// ends with the exit code.
struct ToolError : std::runtime_error {
  ToolError(const std::string& what, int code) : std::runtime_error(what), exit_code(code) {}
  int exit_code;
};

// ---- options --------------------------------------------------------------------

struct Options {
  fs::path sections, tests, out, data, residuals, plots;
  std::vector<fs::path> f25;
  std::string f25_section;
  std::optional<double> reps;
  rate_f25::DropSelection drops;
  fs::path overlay, overlay_out;
  std::optional<double> dh;
  zalk::RatingOptions rating;
  unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  int digits = 6;  // significant digits of the results (17 keeps every bit)
};

[[noreturn]] void usage(const std::string& problem) {
  throw ToolError(problem +
                      "\nusage: rate --sections FILE (--tests FILE | --f25 FILE ...) [--f25-section ID]\n"
                      "            [--reps N] [--drops all|last|nearest LOAD] [--method design|fit]\n"
                      "            [--depth candidates|continuous] [--threads N] [--out FILE]\n"
                      "            [--residuals FILE] [--plots DIR] [--data DIR] [--digits N]\n"
                      "            [--overlay FILE --dh INCHES [--overlay-out FILE]]",
                  2);
}

double positive_number(const std::string& option, const std::string& v, double most) {
  double x = 0;
  if (!rate_csv::parse_decimal(v, x) || !(x > 0 && x <= most)) {
    usage(option + " needs a decimal number above 0 and at most " + std::to_string(int(most)) +
          ", found \"" + v + "\"");
  }
  return x;
}

void choose(const std::string& option, const std::string& v, std::initializer_list<const char*> words) {
  for (const char* w : words)
    if (v == w) return;
  usage(option + " takes one of its listed words, not \"" + v + "\"");
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
    else if (arg == "--f25") o.f25.push_back(value());
    else if (arg == "--f25-section") o.f25_section = value();
    else if (arg == "--reps") o.reps = positive_number(arg, value(), 1e12);
    else if (arg == "--out") o.out = value();
    else if (arg == "--residuals") o.residuals = value();
    else if (arg == "--plots") o.plots = value();
    else if (arg == "--data") o.data = value();
    else if (arg == "--overlay") o.overlay = value();
    else if (arg == "--overlay-out") o.overlay_out = value();
    else if (arg == "--threads") o.threads = unsigned(positive_number(arg, value(), 256));
    else if (arg == "--digits") o.digits = int(positive_number(arg, value(), 17));
    else if (arg == "--dh") {
      const std::string v = value();
      double dh = 0;
      if (!rate_csv::parse_decimal(v, dh) || !(dh > 0 && dh <= kMaxIncrement)) {
        usage("--dh needs a decimal number of inches above 0 and at most 12, found \"" + v + "\"");
      }
      o.dh = dh;
    } else if (arg == "--method") {
      const std::string v = value();
      choose(arg, v, {"design", "fit"});
      o.rating.method = v == "fit" ? zalk::Method::fit : zalk::Method::design;
    } else if (arg == "--depth") {
      const std::string v = value();
      choose(arg, v, {"candidates", "continuous"});
      o.rating.fit.depth = v == "continuous" ? zalk::DepthSearch::continuous : zalk::DepthSearch::candidates;
    } else if (arg == "--drops") {
      const std::string v = value();
      if (!rate_f25::parse_drop_choice(v, o.drops.choice)) usage("--drops takes all, last or nearest LOAD");
      if (o.drops.choice == rate_f25::DropChoice::nearest) o.drops.nearest_lb = positive_number(arg, value(), 1e6);
    } else if (arg == "--help" || arg == "-h") {
      usage("rate: load rating of pavement sections from deflection tests");
    } else {
      usage("unknown option " + arg);
    }
  }
  if (o.sections.empty() || (o.tests.empty() == o.f25.empty()))
    usage("--sections and one of --tests or --f25 are required");
  if (!o.overlay.empty() && !o.dh) usage("--overlay needs --dh");
  if (!o.overlay.empty() && !o.f25.empty()) usage("--overlay works with --tests only");
  if (!o.plots.empty() && o.out.empty()) usage("--plots needs --out (the plots are drawn from that file)");
  o.rating.residuals = !o.residuals.empty() || !o.plots.empty();
  return o;
}

// ---- input ------------------------------------------------------------------------

// One test to rate and where it came from.
struct TestRow {
  zalk::DeflectionTest test;
  int line = 0;
  const zalk::io::F25Drop* drop = nullptr;  // F25 only
  unsigned flags = 0;                        // flags known before rating (interpolated, implausible)
};

struct SectionInput {
  std::string id;
  zalk::Section section;
  double reps_per_year = 0;
  std::vector<TestRow> tests;
};

zalk::Section section_of(const rate_csv::Section& s, const std::array<double, 10>& f) {
  zalk::Section out;
  for (std::size_t k = 0; k < 5; ++k) {
    out.days[k] = s.columns[k];
    out.air_temperature_f[k] = s.columns[5 + k];
    out.base_factor[k] = f[k];
    out.subgrade_factor[k] = f[5 + k];
  }
  out.surface_thickness_in = s.columns[10];
  out.base_thickness_in = s.columns[11];
  out.previous_day_air_f = s.columns[12];
  return out;
}

zalk::DeflectionTest test_of(const rate_csv::Test& t) {
  zalk::DeflectionTest out;
  out.hour = t.slabs[0];
  out.load_lb = t.slabs[1];
  out.deflections_mils.assign(t.slabs.begin() + 2, t.slabs.begin() + 8);
  out.reps_per_year = t.slabs[8];
  out.surface_temperature_f = t.slabs[9];
  return out;
}

std::vector<SectionInput> sections_of(const rate_csv::Input& in) {
  std::vector<SectionInput> out;
  for (std::size_t s = 0; s < in.sections.size(); ++s) {
    SectionInput si{in.sections[s].id, section_of(in.sections[s], in.factors), in.sections[s].reps_per_year, {}};
    if (s < in.tests.size())
      for (const rate_csv::Test& t : in.tests[s]) si.tests.push_back({test_of(t), t.line, nullptr, 0});
    out.push_back(std::move(si));
  }
  return out;
}

// A basin whose sensors lie within 10 mm of the table's six offsets is
// taken as measured there, by either method. Otherwise the fit uses the
// sensors as they are, and the design method, which rates the table's six
// sensors, interpolates the basin to them (and marks it) or refuses it.
bool fit_layout(const Options& o, const rate_f25::Test& t, TestRow& row, std::string& problem) {
  const zalk::rating::TableBasin b = zalk::rating::table_basin(t.offsets_in, t.deflections_mils);
  if (b.ok && !b.interpolated) {
    row.test.deflections_mils.assign(b.deflections.begin(), b.deflections.end());
    return true;
  }
  if (o.rating.method == zalk::Method::fit) {
    row.test.sensor_offsets_in = t.offsets_in;
    row.test.deflections_mils = t.deflections_mils;
    return true;
  }
  if (!b.ok) {
    problem = b.problem;
    return false;
  }
  row.test.deflections_mils.assign(b.deflections.begin(), b.deflections.end());
  row.flags |= zalk::flag_interpolated;
  return true;
}

void add_f25(const Options& o, const fs::path& file, std::vector<zalk::io::F25File>& files,
             std::vector<SectionInput>& sections) {
  files.push_back(zalk::io::read_f25_file(file));
  const zalk::io::F25File& f = files.back();
  std::vector<zalk::io::F25Diagnostic> diagnostics = f.diagnostics;
  if (!f.header_ok) {
    const auto& d = diagnostics.front();
    throw ToolError(d.file + ":" + std::to_string(d.line) + ": " + d.message + "; nothing is rated from it", 2);
  }
  const std::string id = o.f25_section.empty() ? file.stem().string() : o.f25_section;
  auto s = std::find_if(sections.begin(), sections.end(), [&](const SectionInput& x) { return x.id == id; });
  if (s == sections.end()) throw ToolError(file.string() + ": section \"" + id + "\" is not in the sections file", 2);
  const double reps = o.reps ? *o.reps : s->reps_per_year;
  if (!(reps > 0)) throw ToolError(file.string() + ": no annual repetitions: give --reps or a reps_per_year column", 2);
  bool said_layout = false;
  for (const rate_f25::Test& t : rate_f25::tests_of(f, o.drops, diagnostics)) {
    TestRow row;
    row.drop = t.drop;
    row.line = t.drop->line;
    row.test.hour = t.hour;
    row.test.load_lb = t.load_lb;
    row.test.reps_per_year = reps;
    row.test.surface_temperature_f = t.surface_temp_f;
    if (t.drop->implausible) row.flags |= zalk::flag_implausible;
    std::string problem;
    if (!fit_layout(o, t, row, problem)) {
      diagnostics.push_back({f.file, t.drop->line, 1, problem + "; the drop is not rated"});
      continue;
    }
    if (!said_layout) {
      const bool table_layout =
          row.test.sensor_offsets_in == zalk::kLegacySensorOffsets && !(row.flags & zalk::flag_interpolated);
      std::fprintf(stderr, "rate: %s: %s\n", f.file.c_str(),
                   table_layout ? "sensors within 10 mm of 0, 8, 12, 18, 24, 36 in: taken as those"
                   : o.rating.method == zalk::Method::fit
                       ? "sensors away from 0, 8, 12, 18, 24, 36 in: fitted where they are"
                       : "sensors away from 0, 8, 12, 18, 24, 36 in: basins interpolated to them");
      said_layout = true;
    }
    s->tests.push_back(std::move(row));
  }
  for (const auto& d : diagnostics)
    std::fprintf(stderr, "%s:%d:%d: %s\n", d.file.c_str(), d.line, d.column, d.message.c_str());
  std::fprintf(stderr, "rate: %s: %zu drops read, %d rejected, %d flagged implausible\n", f.file.c_str(),
               f.drops.size(), f.drops_rejected, f.drops_implausible);
}

// ---- rating -----------------------------------------------------------------------

struct Task {
  std::size_t section = 0, first = 0, count = 0;
};

struct Rated {
  zalk::RatingResult result;
};

// Prints the library's warnings on standard error, a few of each kind.
class WarningPrinter {
 public:
  void print(const std::vector<zalk::Error>& warnings) {
    for (const zalk::Error& w : warnings) {
      const int n = ++seen_[{w.routine, w.code}];
      if (n <= kWarningsShown) std::fprintf(stderr, "\n%s\n", w.text.c_str());
    }
  }
  ~WarningPrinter() {
    for (const auto& [key, n] : seen_)
      if (n > kWarningsShown)
        std::fprintf(stderr, "rate: %d more warnings %d from %s not shown\n", n - kWarningsShown, key.second,
                     key.first.c_str());
  }

 private:
  std::map<std::pair<std::string, int>, int> seen_;
};

zalk::Rater load_rater(const fs::path& table) {
  zalk::Rater r;
  const zalk::Status s = r.load_table(table);
  if (!s) throw ToolError(s.error->text, 3);
  return r;
}

// Slices of at most kTestsPerTask tests are rated by the threads, each with
// a rater of its own; a test's result depends on it and its section alone,
// so the results are those of a serial run, in input order.
std::vector<std::vector<Rated>> rate_all(const Options& o, const fs::path& table,
                                         const std::vector<SectionInput>& sections) {
  std::vector<Task> tasks;
  std::vector<std::vector<Rated>> out(sections.size());
  for (std::size_t s = 0; s < sections.size(); ++s) {
    out[s].resize(sections[s].tests.size());
    for (std::size_t first = 0; first < sections[s].tests.size(); first += kTestsPerTask)
      tasks.push_back({s, first, std::min(kTestsPerTask, sections[s].tests.size() - first)});
  }
  std::vector<zalk::Status> statuses(tasks.size());
  std::atomic<std::size_t> next{0};
  auto work = [&](zalk::Rater& rater) {
    for (std::size_t k; (k = next++) < tasks.size();) {
      const Task& t = tasks[k];
      std::vector<zalk::DeflectionTest> tests;
      for (std::size_t j = 0; j < t.count; ++j) tests.push_back(sections[t.section].tests[t.first + j].test);
      zalk::SectionRating r = rater.rate(sections[t.section].section, tests, o.rating);
      statuses[k] = r.status;
      for (std::size_t j = 0; j < r.tests.size(); ++j) out[t.section][t.first + j].result = std::move(r.tests[j]);
    }
  };
  const unsigned n = std::max(1u, std::min<unsigned>(o.threads, unsigned(tasks.size())));
  std::vector<zalk::Rater> raters;
  for (unsigned i = 0; i < n; ++i) raters.push_back(load_rater(table));
  std::vector<std::thread> threads;
  for (unsigned i = 1; i < n; ++i) threads.emplace_back(work, std::ref(raters[i]));
  work(raters[0]);
  for (std::thread& t : threads) t.join();
  WarningPrinter warnings;
  for (const zalk::Status& s : statuses) {
    warnings.print(s.warnings);
    if (!s) throw ToolError(s.error->text, 3);
  }
  return out;
}

// ---- output -----------------------------------------------------------------------

// A results file. A regular file (or a new one) is written to a temporary
// file beside it and renamed over it only when everything is written, so a
// failed run leaves the target exactly as it was. Anything else (a device
// such as /dev/null, a pipe) is written directly and never removed or
// renamed over. Standard output when no file is named.
class Output {
 public:
  explicit Output(fs::path file) : file_(std::move(file)) {
    if (file_.empty()) {
      f_ = stdout;
      return;
    }
    std::error_code ec;
    const fs::file_status st = fs::status(file_, ec);
    if (fs::exists(st) && !fs::is_regular_file(st)) {
      f_ = std::fopen(file_.c_str(), "w");
    } else {
      target_ = fs::is_symlink(fs::symlink_status(file_, ec)) ? fs::weakly_canonical(file_, ec) : file_;
      if (ec) target_ = file_;
      f_ = open_temporary(fs::exists(st) ? st.permissions() : default_permissions());
    }
    if (f_ == nullptr) throw ToolError(file_.string() + ": cannot write: " + std::strerror(errno), 2);
  }
  ~Output() {
    if (f_ == nullptr || f_ == stdout) return;
    std::fclose(f_);
    discard_temporary();
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  std::FILE* get() const { return f_; }

  void finish() {
    const bool failed = std::ferror(f_) != 0;
    const bool closed = f_ == stdout ? std::fflush(f_) == 0 : std::fclose(f_) == 0;
    f_ = nullptr;
    std::error_code ec;
    if (closed && !failed && !temporary_.empty()) fs::rename(temporary_, target_, ec);
    if (!closed || failed || ec) {
      discard_temporary();
      throw ToolError((file_.empty() ? std::string("standard output") : file_.string()) + ": write error" +
                          (ec ? ": " + ec.message() : std::string()),
                      2);
    }
    temporary_.clear();
  }

 private:
  static fs::perms default_permissions() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return fs::perms(0666 & ~mask);
  }
  // A new file in the target's folder (so that the rename stays on one file system).
  std::FILE* open_temporary(fs::perms perms) {
    std::string name = (target_.parent_path() / ("." + target_.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return nullptr;
    temporary_ = name;
    ::fchmod(fd, static_cast<mode_t>(perms & fs::perms::mask));
    std::FILE* f = ::fdopen(fd, "w");
    if (f == nullptr) {
      ::close(fd);
      discard_temporary();
    }
    return f;
  }
  void discard_temporary() {
    std::error_code ec;
    if (!temporary_.empty()) fs::remove(temporary_, ec);
    temporary_.clear();
  }
  fs::path file_, target_, temporary_;
  std::FILE* f_ = nullptr;
};

void write_results(const std::vector<SectionInput>& sections, const std::vector<std::vector<Rated>>& rated,
                   bool f25, int g, Output& out) {
  std::FILE* f = out.get();
  std::fprintf(f, "section,test,line,allowable_load,e_surface,e_surface_72f,e_base,e_subgrade,depth_in,"
                  "fit_rms_pct,flags");
  if (f25) std::fprintf(f, ",station,lane,drop,load_lb,latitude,longitude");
  std::fputc('\n', f);
  for (std::size_t s = 0; s < sections.size(); ++s) {
    for (std::size_t j = 0; j < rated[s].size(); ++j) {
      const zalk::RatingResult& r = rated[s][j].result;
      const TestRow& row = sections[s].tests[j];
      std::fprintf(f, "%s,%zu,%d,%.*g,%.*g,%.*g,%.*g,%.*g,%.*g,%.*g,%s", sections[s].id.c_str(), j + 1, row.line,
                   g, r.allowable_load, g, r.e_surface, g, r.e_surface_72f, g, r.e_base, g, r.e_subgrade, g,
                   r.depth_in, g, r.fit_rms_pct, zalk::flag_names(r.flags | row.flags).c_str());
      if (f25) {
        const zalk::io::F25Drop& d = *row.drop;
        std::fprintf(f, ",%.6g,%s,%d,%.6g,", d.station, d.lane.c_str(), d.drop_in_location, row.test.load_lb);
        if (d.gps) std::fprintf(f, "%.8g,%.8g", d.gps->latitude, d.gps->longitude);
        else std::fputc(',', f);
      }
      std::fputc('\n', f);
    }
  }
  out.finish();
}

// Per test and sensor: offset, measured and computed deflection (mils).
void write_residuals(const std::vector<SectionInput>& sections, const std::vector<std::vector<Rated>>& rated,
                     Output& out) {
  std::FILE* f = out.get();
  std::fprintf(f, "section,test,sensor,offset_in,measured_mils,computed_mils,residual\n");
  for (std::size_t s = 0; s < sections.size(); ++s) {
    for (std::size_t j = 0; j < rated[s].size(); ++j) {
      const zalk::RatingResult& r = rated[s][j].result;
      const zalk::DeflectionTest& t = sections[s].tests[j].test;
      for (std::size_t k = 0; k < r.residuals.size(); ++k)
        std::fprintf(f, "%s,%zu,%zu,%.6g,%.6g,%.6g,%.6g\n", sections[s].id.c_str(), j + 1, k + 1,
                     t.sensor_offsets_in[k], t.deflections_mils[k], r.computed_mils[k], r.residuals[k]);
    }
  }
  out.finish();
}

void run_overlay(const fs::path& table, const std::vector<SectionInput>& sections,
                 const std::vector<rate_csv::OverlayItem>& items, double dh, Output& out) {
  std::vector<zalk::OverlayItem> list;
  for (const rate_csv::OverlayItem& i : items) {
    const SectionInput& s = sections[i.section];
    list.push_back({s.section, s.tests.front().test, i.h3, i.e1, i.e2, i.e3});
  }
  if (isatty(STDERR_FILENO) == 1) std::fprintf(stderr, "overlay: %zu items, up to 20 passes\n", items.size());
  zalk::Rater rater = load_rater(table);
  const zalk::OverlayResult r = rater.overlay(list, dh);
  WarningPrinter().print(r.status.warnings);
  if (!r.status) throw ToolError(r.status.error->text, 3);
  std::FILE* f = out.get();
  std::fprintf(f, "section,pass,surface_in,allowable_load\n");
  for (std::size_t i = 0; i < items.size(); ++i)
    for (std::size_t p = 0; p < r.items[i].size(); ++p)
      std::fprintf(f, "%s,%zu,%.6g,%.6g\n", sections[items[i].section].id.c_str(), p + 1,
                   r.items[i][p].surface_thickness_in, r.items[i][p].allowable_load);
  out.finish();
}

// The interpreter that draws the plots: ZALK_PYTHON when set, otherwise the
// one the build found.
std::string python_interpreter() {
  const char* env = std::getenv("ZALK_PYTHON");
  if (env != nullptr && *env != '\0') return env;
#ifdef ZALK_PYTHON_EXECUTABLE
  return ZALK_PYTHON_EXECUTABLE;
#else
  return "python3";
#endif
}

// The plots are drawn by the Python package (zalk3071.report). The paths go
// to the interpreter as arguments of their own: no shell sees them.
void draw_plots(const Options& o) {
  std::error_code ec;
  fs::create_directories(o.plots, ec);
  if (ec) throw ToolError(o.plots.string() + ": cannot make the plots folder: " + ec.message(), 2);
  const std::string python = python_interpreter();
  std::vector<std::string> args = {python, "-m", "zalk3071.report", o.out.string(),
                                   o.residuals.empty() ? o.out.string() + ".residuals" : o.residuals.string(),
                                   o.plots.string()};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, python.c_str(), nullptr, nullptr, argv.data(), environ);
  if (spawned != 0) throw ToolError(python + ": cannot start the plots' interpreter: " + std::strerror(spawned), 1);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw ToolError("the plots could not be drawn (is the zalk3071 Python package on PYTHONPATH?)", 1);
}

// Two outputs on one file, or an output over an input, would lose one of
// them: refused before anything is read.
void refuse_clashing_files(const Options& o) {
  std::vector<std::pair<std::string, fs::path>> outputs = {{"--out", o.out}, {"--overlay-out", o.overlay_out}};
  if (o.rating.residuals)
    outputs.push_back({"--residuals", o.residuals.empty() ? fs::path(o.out.string() + ".residuals") : o.residuals});
  std::vector<std::pair<std::string, fs::path>> inputs = {
      {"--sections", o.sections}, {"--tests", o.tests}, {"--overlay", o.overlay}};
  for (const fs::path& f : o.f25) inputs.push_back({"--f25", f});
  auto same = [](const fs::path& a, const fs::path& b) {
    if (a.empty() || b.empty()) return false;
    std::error_code ec;
    if (fs::equivalent(a, b, ec)) return true;
    return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
  };
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    for (std::size_t j = i + 1; j < outputs.size(); ++j)
      if (same(outputs[i].second, outputs[j].second))
        usage(outputs[i].first + " and " + outputs[j].first + " name the same file: " + outputs[i].second.string());
    for (const auto& [option, input] : inputs)
      if (same(outputs[i].second, input))
        usage(outputs[i].first + " names the input file of " + option + ": " + input.string());
  }
}

// The data folder must be an existing folder; a path the system cannot
// even look up (too long, say) is reported as such.
fs::path table_in(const fs::path& dir) {
  if (dir.empty()) return zalk::platform::table_path();
  std::error_code ec;
  const fs::file_status st = fs::status(dir, ec);
  if (ec && ec != std::errc::no_such_file_or_directory) {
    throw ToolError(dir.string() + ": cannot use the data folder: " + ec.message(), 2);
  }
  if (!fs::exists(st)) throw ToolError(dir.string() + ": no such data folder", 2);
  if (!fs::is_directory(st)) throw ToolError(dir.string() + ": not a folder", 2);
  return dir / "backdefl.txt";
}

int run(int argc, char** argv) {
  Options o = parse_options(argc, argv);
  refuse_clashing_files(o);
  rate_csv::Input in;
  in.sections = rate_csv::read_sections(rate_csv::read_file(o.sections), o.sections.string(), in.factors);
  std::vector<rate_csv::OverlayItem> items;
  if (!o.tests.empty()) {
    rate_csv::read_tests(rate_csv::read_file(o.tests), o.tests.string(), in);
    if (!o.overlay.empty()) items = rate_csv::read_overlay(rate_csv::read_file(o.overlay), o.overlay.string(), in);
  }
  std::vector<SectionInput> sections = sections_of(in);
  std::vector<zalk::io::F25File> files;
  files.reserve(o.f25.size());
  for (const fs::path& f : o.f25) add_f25(o, f, files, sections);
  const fs::path table = table_in(o.data);

  // Outputs are opened first, so that an unwritable file fails before the run.
  Output results(o.out);
  std::optional<Output> residuals, overlay;
  if (o.rating.residuals) residuals.emplace(o.residuals.empty() ? fs::path(o.out.string() + ".residuals") : o.residuals);
  if (!items.empty()) overlay.emplace(o.overlay_out);
  const auto rated = rate_all(o, table, sections);
  write_results(sections, rated, !o.f25.empty(), o.digits, results);
  if (residuals) write_residuals(sections, rated, *residuals);
  if (overlay) run_overlay(table, sections, items, *o.dh, *overlay);
  if (!o.plots.empty()) draw_plots(o);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const ToolError& e) {
    std::fprintf(stderr, "rate: %s\n", e.what());
    return e.exit_code;
  } catch (const rate_csv::InputError& e) {
    std::fprintf(stderr, "rate: %s\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "rate: %s\n", e.what());
    return 1;
  }
}
