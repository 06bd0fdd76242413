// rate: rates pavement sections from falling-weight deflection tests with
// the library's C++ API: sections from a CSV file, tests from a CSV file or
// from field files (F25, JILS), the design's method or the fit, on every core.
//
// Usage:
//   rate --sections FILE (--tests FILE | --fwd FILE [--fwd FILE ...])
//        [--fwd-section ID] [--sensor-offsets LIST] [--reps N] [--drops all|last|nearest LOAD]
//        [--method design|fit|both] [--depth candidates|continuous|global]
//        [--noise MILS,SHARE] [--disagree SHARE] [--record FILE] [--replay FILE] [--threads N [--oversubscribe]]
//        [--out FILE] [--residuals FILE] [--plots DIR] [--report FILE.html] [--data DIR] [--digits N]
//        [--overlay FILE --dh INCHES [--overlay-out FILE]]
//        [--indices] [--reference-load LB] [--aashto-c C]
//        [--segments COLUMN --segments-out FILE [--min-length L]]
//
// The CSV columns and the exit statuses are listed in README.md ("Rating tool").
#include <cstdio>
#include <optional>
#include <vector>

#include "apps/rate/fwd_input.h"
#include "apps/rate/inputs.h"
#include "apps/rate/options.h"
#include "apps/rate/outputs.h"
#include "apps/rate/rate_csv.h"
#include "apps/rate/rating_run.h"
#include "apps/rate/survey_rows.h"
#include "apps/rate/report_output.h"
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
  in.sections =
      rate_csv::read_sections(rate_csv::read_file(o.sections), o.sections.string(), in.factors, &in.notes);
  std::vector<rate_csv::OverlayItem> items;
  if (!o.tests.empty()) {
    rate_csv::read_tests(rate_csv::read_file(o.tests), o.tests.string(), in);
    if (!o.overlay.empty()) items = rate_csv::read_overlay(rate_csv::read_file(o.overlay), o.overlay.string(), in);
  }
  for (const std::string& note : in.notes) std::fprintf(stderr, "rate: %s\n", note.c_str());
  for (const rate_csv::Refusal& r : in.refused) std::fprintf(stderr, "rate: %s; the test is not rated\n", r.message.c_str());
  int refused = int(in.refused.size());
  std::vector<SectionInput> sections = sections_of(in, o.tests.string());
  in = {};  // the tests are in `sections` now: held once, not twice
  std::vector<zalk::FieldFile> files;
  files.reserve(o.f25.size());
  for (const fs::path& f : o.f25) refused += add_f25(o, f, files, sections);
  const fs::path table = table_in(o.data);
  check_survey_options(o);
  check_replayed_digests(o, table);

  // Outputs are opened first, so that an unwritable file fails before the run.
  Output results(o.out);
  std::optional<Output> residuals, overlay;
  if (writes_residuals_file(o)) residuals.emplace(o.residuals.empty() ? fs::path(o.out.string() + ".residuals") : o.residuals);
  if (!items.empty()) overlay.emplace(o.overlay_out);
  std::optional<Output> segments;
  if (!o.survey.segments_out.empty()) segments.emplace(o.survey.segments_out);
  std::optional<Output> report;
  if (!o.report.empty()) report.emplace(o.report);
  auto rated = rate_all(o, table, sections);
  add_design_opinion(o, table, sections, rated);
  refused += report_tests(sections, rated);
  std::optional<rate_survey::Survey> survey;
  if (o.survey.wanted()) survey.emplace(survey_of(o, sections, rated));
  write_results(o, sections, rated, o.survey.indices ? &*survey : nullptr, results);
  write_run_record(o, table, rated);
  if (segments) {
    survey->write_segments(segments->get(), o.digits);
    segments->finish();
  }
  if (residuals) write_residuals(sections, rated, *residuals);
  if (report) write_report(o, files, sections, rated, survey ? &*survey : nullptr, *report);
  if (overlay) run_overlay(table, sections, items, *o.dh, *overlay);
  if (!o.plots.empty()) draw_plots(o);
  if (refused > 0) std::fprintf(stderr, "rate: %d test(s) or drop(s) not rated, each named above\n", refused);
  return refused > 0 ? kExitSkipped : 0;
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
