#include "apps/rate/outputs.h"

#include "apps/rate/run_record.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "apps/rate/fwd_input.h"

extern char** environ;

namespace rate_tool {

namespace {

fs::perms default_permissions() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return fs::perms(0666 & ~mask);
}

}  // namespace

Output::Output(fs::path file) : file_(std::move(file)) {
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

Output::Output(InMemory) : file_("a table kept in memory"), f_(::open_memstream(&memory_, &memory_size_)) {
  if (f_ == nullptr) throw ToolError(std::string("cannot keep a table in memory: ") + std::strerror(errno), 1);
}

Output::~Output() {
  if (f_ != nullptr && f_ != stdout) {
    std::fclose(f_);
    discard_temporary();
  }
  std::free(memory_);
}

void Output::finish() {
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

// A new file in the target's folder (so that the rename stays on one file system).
std::FILE* Output::open_temporary(fs::perms perms) {
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

void Output::discard_temporary() {
  std::error_code ec;
  if (!temporary_.empty()) fs::remove(temporary_, ec);
  temporary_.clear();
}

void write_results_header(const Options& o, const rate_survey::Survey* survey, std::FILE* f) {
  std::fprintf(f, "section,test,line,allowable_load,e_surface,e_surface_72f,e_base,e_subgrade,depth_in,"
                  "fit_rms_pct,flags");
  if (!o.f25.empty()) std::fprintf(f, ",station,lane,drop,load_lb,latitude,longitude");
  write_fit_header(o, f);
  if (survey) survey->write_header(f);
  std::fputc('\n', f);
}

void write_result_rows(const Options& o, const std::vector<SectionInput>& sections,
                       const std::vector<std::vector<Rated>>& rated, const rate_survey::Survey* survey,
                       std::FILE* f) {
  const bool f25 = !o.f25.empty();
  const int g = o.digits;
  std::size_t drop = 0;
  for (std::size_t s = 0; s < sections.size(); ++s) {
    for (std::size_t j = 0; j < rated[s].size(); ++j) {
      if (!rated[s][j].refusal.empty()) continue;
      const zalk::RatingResult& r = rated[s][j].result;
      const TestRow& row = sections[s].tests[j];
      std::fprintf(f, "%s,%zu,%d,%.*g,%.*g,%.*g,%.*g,%.*g,%.*g,%.*g,%s", rate_csv::csv_field(sections[s].id).c_str(),
                   j + 1, row.line, g, r.allowable_load, g, r.e_surface, g, r.e_surface_72f, g, r.e_base, g,
                   r.e_subgrade, g, r.depth_in, g, r.fit_rms_pct, zalk::flag_names(r.flags | row.flags).c_str());
      if (f25) write_drop_columns(f, *row.drop, row.test.load_lb);
      write_fit_columns(o, rated[s][j], g, f);
      if (survey) survey->write_row(f, drop++, g);
      std::fputc('\n', f);
    }
  }
}

void write_results(const Options& o, const std::vector<SectionInput>& sections,
                   const std::vector<std::vector<Rated>>& rated, const rate_survey::Survey* survey, Output& out) {
  write_results_header(o, survey, out.get());
  write_result_rows(o, sections, rated, survey, out.get());
  out.finish();
}

void write_residuals_header(std::FILE* f) {
  std::fprintf(f, "section,test,sensor,offset_in,measured_mils,computed_mils,residual\n");
}

void write_residual_rows(const std::vector<SectionInput>& sections, const std::vector<std::vector<Rated>>& rated,
                         std::FILE* f) {
  for (std::size_t s = 0; s < sections.size(); ++s) {
    for (std::size_t j = 0; j < rated[s].size(); ++j) {
      const zalk::RatingResult& r = rated[s][j].result;
      const zalk::DeflectionTest& t = sections[s].tests[j].test;
      for (std::size_t k = 0; k < r.residuals.size(); ++k)
        std::fprintf(f, "%s,%zu,%zu,%.6g,%.6g,%.6g,%.6g\n", rate_csv::csv_field(sections[s].id).c_str(), j + 1, k + 1,
                     t.sensor_offsets_in[k], t.deflections_mils[k], r.computed_mils[k], r.residuals[k]);
    }
  }
}

void write_residuals(const std::vector<SectionInput>& sections, const std::vector<std::vector<Rated>>& rated,
                     Output& out) {
  write_residuals_header(out.get());
  write_residual_rows(sections, rated, out.get());
  out.finish();
}

// The interpreter that draws the plots: ZALK_PYTHON when set, otherwise the
// one the build found.
namespace {

std::string python_interpreter() {
  const char* env = std::getenv("ZALK_PYTHON");
  if (env != nullptr && *env != '\0') return env;
#ifdef ZALK_PYTHON_EXECUTABLE
  return ZALK_PYTHON_EXECUTABLE;
#else
  return "python3";
#endif
}

}  // namespace

// The paths go to the interpreter as arguments of their own: no shell sees them.
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

}  // namespace rate_tool
