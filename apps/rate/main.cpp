// rate: rates pavement sections from falling-weight deflection tests with
// the library's C++ API: sections from a CSV file, tests from a CSV file or
// from F25 field files, the design's method or the fit, on every core.
//
// Usage:
//   rate --sections FILE (--tests FILE | --f25 FILE [--f25 FILE ...])
//        [--f25-section ID] [--reps N] [--drops all|last|nearest LOAD]
//        [--method design|fit|both] [--depth candidates|continuous|global]
//        [--noise MILS,SHARE] [--disagree SHARE] [--record FILE] [--replay FILE] [--threads N]
//        [--out FILE] [--residuals FILE] [--plots DIR] [--data DIR] [--digits N]
//        [--overlay FILE --dh INCHES [--overlay-out FILE]]
//
// The CSV columns are listed in README.md ("Rating tool").
#include <cstdio>
#include <optional>
#include <vector>

#include "apps/rate/inputs.h"
#include "apps/rate/options.h"
#include "apps/rate/outputs.h"
#include "apps/rate/rate_csv.h"
#include "apps/rate/rating_run.h"
#include "apps/rate/run_record.h"

namespace rate_tool {
namespace {

int run(int argc, char** argv) {
  std::vector<std::string> args = replay_arguments(argc, argv);
  std::vector<char*> argp{argv[0]};
  for (std::string& a : args) argp.push_back(a.data());
  Options o = parse_options(int(argp.size()), argp.data());
  o.arguments = recordable_arguments(args);
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
  check_replayed_digests(o, table);

  // Outputs are opened first, so that an unwritable file fails before the run.
  Output results(o.out);
  std::optional<Output> residuals, overlay;
  if (o.rating.residuals) residuals.emplace(o.residuals.empty() ? fs::path(o.out.string() + ".residuals") : o.residuals);
  if (!items.empty()) overlay.emplace(o.overlay_out);
  auto rated = rate_all(o, table, sections);
  add_design_opinion(o, table, sections, rated);
  write_results(o, sections, rated, results);
  write_run_record(o, table, rated);
  if (residuals) write_residuals(sections, rated, *residuals);
  if (overlay) run_overlay(table, sections, items, *o.dh, *overlay);
  if (!o.plots.empty()) draw_plots(o);
  return 0;
}

}  // namespace
}  // namespace rate_tool

int main(int argc, char** argv) {
  try {
    return rate_tool::run(argc, argv);
  } catch (const rate_tool::ToolError& e) {
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
