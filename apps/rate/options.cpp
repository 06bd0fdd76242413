#include <cstdio>
#include "apps/rate/options.h"

#include <algorithm>
#include <initializer_list>

#include "apps/rate/fwd_input.h"
#include "apps/rate/rate_csv.h"
#include "apps/rate/run_record.h"

namespace rate_tool {

[[noreturn]] void usage(const std::string& problem) {
  throw ToolError(problem +
                      "\nusage: rate --sections FILE (--tests FILE | --fwd FILE ...) [--fwd-section ID]\n"
                      "            [--sensor-offsets LIST] [--behind-plate out|mirrored]\n"
                      "            [--reps N] [--drops all|last|nearest LOAD] [--method design|fit|both]\n"
                      "            [--depth candidates|continuous|global] [--noise MILS,SHARE]\n"
                      "            [--disagree SHARE] [--record FILE] [--replay FILE]\n"
                      "            [--threads N [--oversubscribe]] [--out FILE]\n"
                      "            [--residuals FILE] [--plots DIR] [--report FILE.html] [--data DIR] [--digits N]\n"
                      "            [--overlay FILE --dh INCHES [--overlay-out FILE]]\n"
                      "            [--indices] [--reference-load LB] [--aashto-c C]\n"
                      "            [--segments COLUMN --segments-out FILE [--min-length L]]",
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

// Each thread holds a rater's tables and work storage (about 15 MB): more
// threads than cores cost that memory and win nothing, unless asked.
void cap_threads(Options& o) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  if (o.threads <= cores || o.oversubscribe) return;
  std::fprintf(stderr, "rate: --threads %u is more than the %u cores; %u used (--oversubscribe keeps %u)\n",
               o.threads, cores, cores, o.threads);
  o.threads = cores;
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
    else if (arg == "--fwd" || arg == "--f25") o.f25.push_back(value());
    else if (arg == "--fwd-section" || arg == "--f25-section") o.f25_section = value();
    else if (arg == "--sensor-offsets") o.sensor_offsets_mm = sensor_offsets_option(value());
    else if (arg == "--reps") o.reps = positive_number(arg, value(), 1e12);
    else if (arg == "--out") o.out = value();
    else if (arg == "--residuals") o.residuals = value();
    else if (arg == "--plots") o.plots = value();
    else if (arg == "--report") o.report = value();
    else if (arg == "--data") o.data = value();
    else if (arg == "--overlay") o.overlay = value();
    else if (arg == "--overlay-out") o.overlay_out = value();
    else if (arg == "--threads") o.threads = unsigned(positive_number(arg, value(), 256));
    else if (arg == "--oversubscribe") o.oversubscribe = true;
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
      choose(arg, v, {"design", "fit", "both"});
      o.rating.method = v == "design" ? zalk::Method::design : zalk::Method::fit;
      o.both_methods = v == "both";
    } else if (arg == "--depth") {
      const std::string v = value();
      choose(arg, v, {"candidates", "continuous", "global"});
      o.rating.fit.depth = v == "continuous" ? zalk::DepthSearch::continuous
                           : v == "global"   ? zalk::DepthSearch::global
                                             : zalk::DepthSearch::candidates;
    } else if (arg == "--behind-plate") {
      const std::string v = value();
      choose(arg, v, {"out", "mirrored"});
      o.behind_plate = v == "mirrored" ? rate_f25::BehindPlate::mirrored : rate_f25::BehindPlate::left_out;
    } else if (arg == "--drops") {
      const std::string v = value();
      if (!rate_f25::parse_drop_choice(v, o.drops.choice)) usage("--drops takes all, last or nearest LOAD");
      if (o.drops.choice == rate_f25::DropChoice::nearest) o.drops.nearest_lb = positive_number(arg, value(), 1e6);
    } else if (parse_fit_option(arg, value, o)) {
      // taken by parse_fit_option
    } else if (std::string problem; rate_survey::take_option(arg, value, o.survey, problem)) {
      if (!problem.empty()) usage(problem);
    } else if (arg == "--help" || arg == "-h") {
      usage("rate: load rating of pavement sections from deflection tests");
    } else {
      usage("unknown option " + arg);
    }
  }
  if (o.sections.empty() || (o.tests.empty() == o.f25.empty()))
    usage("--sections and one of --tests or --fwd are required");
  if (!o.overlay.empty() && !o.dh) usage("--overlay needs --dh");
  if (!o.overlay.empty() && !o.f25.empty()) usage("--overlay works with --tests only");
  if (!o.sensor_offsets_mm.empty() && o.f25.empty()) usage("--sensor-offsets works with --fwd only");
  if (o.behind_plate == rate_f25::BehindPlate::mirrored &&
      (o.f25.empty() || o.rating.method != zalk::Method::fit || o.both_methods))
    usage("--behind-plate mirrored works with --fwd and --method fit only (the design method rates the sensors "
          "ahead of the plate)");
  if (!o.plots.empty() && o.out.empty()) usage("--plots needs --out (the plots are drawn from that file)");
  o.rating.residuals = writes_residuals_file(o) || !o.report.empty();
  cap_threads(o);
  if (!o.survey.segments_column.empty() && o.survey.segments_out.empty()) usage("--segments needs --segments-out");
  return o;
}

// Two outputs on one file, or an output over an input, would lose one of
// them: refused before anything is read.
void refuse_clashing_files(const Options& o) {
  std::vector<std::pair<std::string, fs::path>> outputs = {
      {"--out", o.out}, {"--overlay-out", o.overlay_out}, {"--segments-out", o.survey.segments_out},
      {"--report", o.report}};
  if (writes_residuals_file(o))
    outputs.push_back({"--residuals", o.residuals.empty() ? fs::path(o.out.string() + ".residuals") : o.residuals});
  std::vector<std::pair<std::string, fs::path>> inputs = {
      {"--sections", o.sections}, {"--tests", o.tests}, {"--overlay", o.overlay}};
  for (const fs::path& f : o.f25) inputs.push_back({"--fwd", f});
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

}  // namespace rate_tool
