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
#include <string>
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

// Tests rated at a time when results are written as they come: enough to
// keep every thread busy, few enough that memory holds a batch, not a survey.
constexpr std::size_t kBatchTests = 4096;

void print_notes(std::vector<std::string>& notes) {
  for (const std::string& note : notes) std::fprintf(stderr, "rate: %s\n", note.c_str());
  notes.clear();
}

void print_refusal(const rate_csv::Refusal& r) {
  std::fprintf(stderr, "rate: %s; the test is not rated\n", r.message.c_str());
}

// The outputs that need every result before they can be written (the
// survey's columns and sections, the report, the overlay) keep the whole
// run in memory; without them a tests file whose sections come in order is
// rated and written a batch at a time.
bool needs_whole_run(const Options& o) {
  return o.tests.empty() || o.survey.wanted() || !o.report.empty() || !o.overlay.empty() || !o.f25.empty();
}

// The tests file read whole: each row in its section, refusals named.
int read_all_tests(const Options& o, rate_csv::Input& in) {
  int refused = 0;
  rate_csv::TestRows rows(o.tests, in.sections, &in.notes);
  in.tests.assign(in.sections.size(), {});
  std::size_t s = 0;
  rate_csv::Test t;
  rate_csv::Refusal r;
  while (rows.next(s, t, r)) {
    print_notes(in.notes);
    if (s < in.sections.size()) in.tests[s].push_back(t);
    else print_refusal(r), ++refused;
  }
  print_notes(in.notes);
  return refused;
}

struct RunOutputs {
  Output results;
  std::optional<Output> residuals;
  explicit RunOutputs(const Options& o) : results(o.out) {
    if (writes_residuals_file(o))
      residuals.emplace(o.residuals.empty() ? fs::path(o.out.string() + ".residuals") : o.residuals);
  }
};

// Rates a batch of whole sections and writes its rows; returns the tests
// the library refused.
int rate_batch(const Options& o, RatingRun& run, RatingRun* design, std::vector<SectionInput>& batch,
               RunOutputs& out, RunCounts& counts) {
  auto rated = run.rate(batch);
  add_design_opinion(o, design, batch, rated);
  const int refused = report_tests(batch, rated);
  write_result_rows(o, batch, rated, nullptr, out.results.get());
  if (out.residuals) write_residual_rows(batch, rated, out.residuals->get());
  counts.add(rated);
  batch.clear();
  return refused;
}

// The tests file rated a batch of sections at a time as it is read, the
// results written as each batch is done: memory holds a batch (at least
// one whole section), whatever the length of the survey.
int rate_as_read(const Options& o, rate_csv::Input& in, const fs::path& table) {
  RunOutputs out(o);
  write_results_header(o, nullptr, out.results.get());
  if (out.residuals) write_residuals_header(out.residuals->get());
  RatingRun run(o, table);
  std::optional<RatingRun> design;
  if (o.both_methods) design.emplace(design_options(o), table);
  RunCounts counts;
  int refused = 0;
  std::vector<SectionInput> batch;
  std::size_t tests = 0, current = in.sections.size();
  // The global search rates a section per thread: a batch gives each one.
  const std::size_t sections_per_batch = o.rating.fit.depth == zalk::DepthSearch::global ? o.threads : 1;
  rate_csv::TestRows rows(o.tests, in.sections, &in.notes);
  std::size_t s = 0;
  rate_csv::Test t;
  rate_csv::Refusal r;
  while (rows.next(s, t, r)) {
    print_notes(in.notes);
    if (s >= in.sections.size()) {
      print_refusal(r), ++refused;
      continue;
    }
    if (s != current) {
      if (tests >= kBatchTests && batch.size() >= sections_per_batch) {
        refused += rate_batch(o, run, design ? &*design : nullptr, batch, out, counts);
        tests = 0;
      }
      batch.push_back(section_input(in.sections[s], in.factors));
      current = s;
    }
    batch.back().tests.push_back(test_row(t, o.tests.string()));
    ++tests;
  }
  print_notes(in.notes);
  if (!batch.empty()) refused += rate_batch(o, run, design ? &*design : nullptr, batch, out, counts);
  out.results.finish();
  if (out.residuals) out.residuals->finish();
  write_run_record(o, table, counts);
  return refused;
}

// Every test read, rated and then written: the survey, the report and the
// overlay need the whole run.
int rate_whole(const Options& o, const fs::path& table, std::vector<SectionInput>& sections,
               std::vector<zalk::FieldFile>& files, const std::vector<rate_csv::OverlayItem>& items) {
  // Outputs are opened first, so that an unwritable file fails before the run.
  RunOutputs out(o);
  std::optional<Output> overlay;
  if (!items.empty()) overlay.emplace(o.overlay_out);
  std::optional<Output> segments;
  if (!o.survey.segments_out.empty()) segments.emplace(o.survey.segments_out);
  std::optional<Output> report;
  if (!o.report.empty()) report.emplace(o.report);
  RatingRun run(o, table);
  auto rated = run.rate(sections);
  std::optional<RatingRun> design;
  if (o.both_methods) design.emplace(design_options(o), table);
  add_design_opinion(o, design ? &*design : nullptr, sections, rated);
  int refused = report_tests(sections, rated);
  std::optional<rate_survey::Survey> survey;
  if (o.survey.wanted()) survey.emplace(survey_of(o, sections, rated));
  write_results(o, sections, rated, o.survey.indices ? &*survey : nullptr, out.results);
  RunCounts counts;
  counts.add(rated);
  write_run_record(o, table, counts);
  if (segments) {
    survey->write_segments(segments->get(), o.digits);
    segments->finish();
  }
  if (out.residuals) write_residuals(sections, rated, *out.residuals);
  if (report) write_report(o, files, sections, rated, survey ? &*survey : nullptr, *report);
  if (overlay) run_overlay(table, sections, items, *o.dh, *overlay);
  return refused;
}

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
  print_notes(in.notes);
  int refused = 0;
  if (!needs_whole_run(o) && rate_csv::grouped_in_section_order(o.tests, in.sections)) {
    const fs::path table = table_in(o.data);
    check_survey_options(o);
    check_replayed_digests(o, table);
    refused = rate_as_read(o, in, table);
  } else {
    std::vector<rate_csv::OverlayItem> items;
    if (!o.tests.empty()) {
      refused += read_all_tests(o, in);
      if (!o.overlay.empty()) items = rate_csv::read_overlay(rate_csv::read_file(o.overlay), o.overlay.string(), in);
    }
    std::vector<SectionInput> sections = sections_of(in, o.tests.string());
    in.tests.clear();  // the tests are in `sections` now: held once, not twice
    std::vector<zalk::FieldFile> files;
    files.reserve(o.f25.size());
    for (const fs::path& f : o.f25) refused += add_f25(o, f, files, sections);
    const fs::path table = table_in(o.data);
    check_survey_options(o);
    check_replayed_digests(o, table);
    refused += rate_whole(o, table, sections, files, items);
  }
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
