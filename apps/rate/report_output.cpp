#include "apps/rate/report_output.h"

#include <cstdio>
#include <string>

#include "apps/rate/report_page.h"
#include "zalk/version.h"

namespace rate_tool {
namespace {

// Drops read from an F25 file and those of them that are rated.
report_output::InputFile f25_input(const zalk::FieldFile& f, const std::vector<SectionInput>& sections) {
  long rated = 0;
  for (const SectionInput& s : sections)
    for (const TestRow& t : s.tests)
      if (t.drop != nullptr && !f.drops.empty() && t.drop >= &f.drops.front() && t.drop <= &f.drops.back()) ++rated;
  const long read = long(f.drops.size()) + long(f.rejected_lines.size());
  return {f.file, "F25 field file", read, read - rated};
}

std::string number_text(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", x);
  return text;
}

report_output::Summary report_summary(const Options& o, const std::vector<zalk::FieldFile>& files,
                                      const std::vector<SectionInput>& sections) {
  report_output::Summary s;
  s.generator = "rate";
  s.version = ZALK_VERSION_STRING;
  s.method = o.both_methods ? "both" : o.rating.method == zalk::Method::fit ? "fit" : "design";
  s.inputs.push_back({o.sections.string(), "sections", long(sections.size()), 0});
  long tests = 0;
  for (const SectionInput& x : sections) tests += long(x.tests.size());
  if (!o.tests.empty()) s.inputs.push_back({o.tests.string(), "tests", tests, 0});
  for (const zalk::FieldFile& f : files) s.inputs.push_back(f25_input(f, sections));
  if (o.rating.method == zalk::Method::fit)
    s.settings.push_back({"depth", o.rating.fit.depth == zalk::DepthSearch::continuous ? "continuous"
                                   : o.rating.fit.depth == zalk::DepthSearch::global   ? "global"
                                                                                       : "candidates"});
  if (!o.f25.empty()) {
    const char* drops[] = {"all", "last", "nearest"};
    std::string d = drops[int(o.drops.choice)];
    if (o.drops.choice == rate_f25::DropChoice::nearest) d += " " + number_text(o.drops.nearest_lb) + " lb";
    s.settings.push_back({"drops", d});
  }
  if (o.reps) s.settings.push_back({"reps per year", number_text(*o.reps)});
  s.settings.push_back({"digits", std::to_string(o.digits)});
  if (o.rating.method == zalk::Method::fit)
    s.settings.push_back({"noise model", number_text(o.rating.fit.noise_mils) + " mils + " +
                                             number_text(100 * o.rating.fit.noise_relative) + " % of the reading"});
  // The run record: what a later run needs to repeat this one.
  std::string command = "rate";
  for (const std::string& a : o.arguments) command += " " + a;
  s.run_record.push_back({"command line", command});
  if (!o.record.empty()) s.run_record.push_back({"record file", o.record.string()});
  return s;
}

}  // namespace

// The report takes the results and residuals as the CSV files have them,
// written once more into memory: the same cells, the same digits.
void write_report(const Options& o, const std::vector<zalk::FieldFile>& files,
                  const std::vector<SectionInput>& sections, const std::vector<std::vector<Rated>>& rated,
                  const rate_survey::Survey* survey, Output& out) {
  Output results(Output::InMemory{}), residuals(Output::InMemory{}), units(Output::InMemory{});
  write_results(o, sections, rated, o.survey.indices ? survey : nullptr, results);
  write_residuals(sections, rated, residuals);
  std::string unit_table;
  if (survey != nullptr && !o.survey.segments_column.empty()) {
    survey->write_segments(units.get(), o.digits);
    units.finish();
    unit_table = units.text();
  }
  const std::string page = report_output::report_page(report_summary(o, files, sections),
                                                      {results.text(), residuals.text(), unit_table});
  std::fwrite(page.data(), 1, page.size(), out.get());
  out.finish();
}

}  // namespace rate_tool
