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

#include "tools/rate_csv.h"

namespace {

namespace fs = std::filesystem;

using rate_csv::kFwdSlabs;
using rate_csv::kMaxSections;
using rate_csv::kMaxTests;
using rate_csv::kSectColumns;
constexpr int kResults = 6;
constexpr int kMaxPasses = 20;
constexpr int kTestsPerCall = 25;
constexpr double kMaxIncrement = 12.0;  // inches per overlay pass: the top of the thickness grid  // tests rated per library call, for the progress line

// ---- errors -----------------------------------------------------------------

// Bad input or a failed library call: the message is printed and the tool
// ends with the exit code.
struct ToolError : std::runtime_error {
  int exit_code;
  ToolError(const std::string& what, int code) : std::runtime_error(what), exit_code(code) {}
};

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

using rate_csv::Input;
using rate_csv::OverlayItem;
using rate_csv::Section;

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
      double dh = 0;
      if (!rate_csv::parse_decimal(v, dh) || !(dh > 0 && dh <= kMaxIncrement)) {
        usage("--dh needs a decimal number of inches above 0 and at most 12, found \"" + v + "\"");
      }
      o.dh = dh;
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

// While the tool runs, standard output is standard error, so that whatever
// the library prints (warnings, severe errors) never mixes with results;
// results meant for standard output go through a copy of the original.
class LibraryOutputToStderr {
 public:
  LibraryOutputToStderr() {
    std::fflush(stdout);
    results_fd_ = dup(STDOUT_FILENO);
    if (results_fd_ < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
      throw ToolError(std::string("cannot redirect standard output: ") + std::strerror(errno), 1);
    }
  }
  ~LibraryOutputToStderr() {
    std::fflush(stdout);
    dup2(results_fd_, STDOUT_FILENO);
    close(results_fd_);
  }
  LibraryOutputToStderr(const LibraryOutputToStderr&) = delete;
  LibraryOutputToStderr& operator=(const LibraryOutputToStderr&) = delete;

  int results_fd() const { return results_fd_; }

 private:
  int results_fd_ = -1;
};

// An output file, or the results descriptor when no name is given. A file
// that was not completed is removed, so that a failed run leaves no partial
// results behind.
class Output {
 public:
  Output(fs::path file, int results_fd) : file_(std::move(file)) {
    if (file_.empty()) {
      const int fd = dup(results_fd);
      f_ = fd < 0 ? nullptr : fdopen(fd, "w");
      if (f_ == nullptr) throw ToolError(std::string("standard output: ") + std::strerror(errno), 2);
      return;
    }
    f_ = std::fopen(file_.c_str(), "w");
    if (f_ == nullptr) throw ToolError(file_.string() + ": cannot write: " + std::strerror(errno), 2);
  }
  ~Output() {
    if (f_ == nullptr) return;
    std::fclose(f_);
    remove_file();
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  std::FILE* get() const { return f_; }

  void finish() {
    const bool failed = std::ferror(f_) != 0;
    const bool closed = std::fclose(f_) == 0;
    f_ = nullptr;
    if (!closed || failed) {
      remove_file();
      throw ToolError((file_.empty() ? std::string("standard output") : file_.string()) + ": write error", 2);
    }
  }

 private:
  void remove_file() {
    std::error_code ec;
    if (!file_.empty()) fs::remove(file_, ec);
  }

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

// The data folder must be an existing folder; a path the system cannot
// even look up (too long, say) is reported as such.
void use_data_folder(const fs::path& dir) {
  std::error_code ec;
  const fs::file_status st = fs::status(dir, ec);
  if (ec && ec != std::errc::no_such_file_or_directory) {
    throw ToolError(dir.string() + ": cannot use the data folder: " + ec.message(), 2);
  }
  if (!fs::exists(st)) throw ToolError(dir.string() + ": no such data folder", 2);
  if (!fs::is_directory(st)) throw ToolError(dir.string() + ": not a folder", 2);
  ::setenv("ZALK3071_DIR", dir.c_str(), 1);
}

Input read_input(const Options& o, std::vector<OverlayItem>& items) {
  Input in;
  in.sections = rate_csv::read_sections(rate_csv::read_file(o.sections), o.sections.string(), in.factors);
  rate_csv::read_tests(rate_csv::read_file(o.tests), o.tests.string(), in);
  if (!o.overlay.empty()) items = rate_csv::read_overlay(rate_csv::read_file(o.overlay), o.overlay.string(), in);
  return in;
}

int run(int argc, char** argv) {
  const Options o = parse_options(argc, argv);
  std::vector<OverlayItem> items;
  const Input in = read_input(o, items);
  if (!o.data.empty()) use_data_folder(o.data);

  const LibraryOutputToStderr redirect;
  Library lib(o.lib);
  // Outputs are opened first, so that an unwritable file fails before the run.
  Output results(o.out, redirect.results_fd());
  std::optional<Output> overlay;
  if (!items.empty()) overlay.emplace(o.overlay_out, redirect.results_fd());
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
  } catch (const rate_csv::InputError& e) {
    std::fprintf(stderr, "rate: %s\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "rate: %s\n", e.what());
    return 1;
  }
}
