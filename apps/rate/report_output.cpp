#include "apps/rate/report_output.h"

#include <cstdio>

#include "apps/rate/report_page.h"
#include "zalk/version.h"

namespace report_output {
namespace {

constexpr std::string_view kDataMarker = "@DATA@";

void append_cells(std::string& out, std::string_view line) {
  out += '[';
  std::size_t start = 0;
  for (bool first = true;; first = false) {
    const std::size_t comma = line.find(',', start);
    if (!first) out += ',';
    out += json_string(line.substr(start, comma == std::string_view::npos ? line.npos : comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  out += ']';
}

std::string pairs_json(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::string out = "[";
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    if (k) out += ',';
    out += '[' + json_string(pairs[k].first) + ',' + json_string(pairs[k].second) + ']';
  }
  return out + ']';
}

std::string inputs_json(const std::vector<InputFile>& inputs) {
  std::string out = "[";
  for (std::size_t k = 0; k < inputs.size(); ++k) {
    const InputFile& f = inputs[k];
    if (k) out += ',';
    out += "{\"file\":" + json_string(f.file) + ",\"kind\":" + json_string(f.kind);
    if (f.read >= 0) out += ",\"read\":" + std::to_string(f.read);
    if (f.skipped >= 0) out += ",\"skipped\":" + std::to_string(f.skipped);
    out += '}';
  }
  return out + ']';
}

}  // namespace

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || c == '<' || c == '>' || c == '&') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + '"';
}

std::string table_json(std::string_view csv) {
  std::string out = "{\"columns\":";
  bool header = true;
  for (std::size_t pos = 0; pos < csv.size();) {
    std::size_t end = csv.find('\n', pos);
    if (end == std::string_view::npos) end = csv.size();
    std::string_view line = csv.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    append_cells(out, line);
    out += header ? ",\"rows\":[" : ",";
    header = false;
  }
  if (header) return "{\"columns\":[],\"rows\":[]}";
  if (out.back() == ',') out.pop_back();
  return out + "]}";
}

std::string report_json(const Summary& s, const Tables& t) {
  std::string out = "{\"format\":1,\"title\":" + json_string(s.title) + ",\"generator\":" + json_string(s.generator) +
                    ",\"version\":" + json_string(s.version) + ",\"method\":" + json_string(s.method) +
                    ",\"inputs\":" + inputs_json(s.inputs) + ",\"settings\":" + pairs_json(s.settings) +
                    ",\"run_record\":" + pairs_json(s.run_record) + ",\"results\":" + table_json(t.results);
  if (!t.residuals.empty()) out += ",\"residuals\":" + table_json(t.residuals);
  if (!t.segments.empty()) out += ",\"segments\":" + table_json(t.segments);
  return out + '}';
}

std::string report_page(const Summary& summary, const Tables& tables) {
  const std::string_view page(kReportPage, kReportPageSize);
  const std::size_t at = page.find(kDataMarker);
  std::string out(page.substr(0, at));
  out += report_json(summary, tables);
  out += page.substr(at + kDataMarker.size());
  return out;
}

}  // namespace report_output

namespace rate_tool {
namespace {

// Drops read from an F25 file and those of them that are rated.
report_output::InputFile f25_input(const zalk::io::F25File& f, const std::vector<SectionInput>& sections) {
  long rated = 0;
  for (const SectionInput& s : sections)
    for (const TestRow& t : s.tests)
      if (t.drop != nullptr && !f.drops.empty() && t.drop >= &f.drops.front() && t.drop <= &f.drops.back()) ++rated;
  const long read = long(f.drops.size()) + f.drops_rejected;
  return {f.file, "F25 field file", read, read - rated};
}

std::string number_text(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", x);
  return text;
}

report_output::Summary report_summary(const Options& o, const std::vector<zalk::io::F25File>& files,
                                      const std::vector<SectionInput>& sections) {
  report_output::Summary s;
  s.generator = "rate";
  s.version = ZALK_VERSION_STRING;
  s.method = o.rating.method == zalk::Method::fit ? "fit" : "design";
  s.inputs.push_back({o.sections.string(), "sections", long(sections.size()), 0});
  long tests = 0;
  for (const SectionInput& x : sections) tests += long(x.tests.size());
  if (!o.tests.empty()) s.inputs.push_back({o.tests.string(), "tests", tests, 0});
  for (const zalk::io::F25File& f : files) s.inputs.push_back(f25_input(f, sections));
  if (o.rating.method == zalk::Method::fit)
    s.settings.push_back({"depth", o.rating.fit.depth == zalk::DepthSearch::continuous ? "continuous" : "candidates"});
  if (!o.f25.empty()) {
    const char* drops[] = {"all", "last", "nearest"};
    std::string d = drops[int(o.drops.choice)];
    if (o.drops.choice == rate_f25::DropChoice::nearest) d += " " + number_text(o.drops.nearest_lb) + " lb";
    s.settings.push_back({"drops", d});
  }
  if (o.reps) s.settings.push_back({"reps per year", number_text(*o.reps)});
  s.settings.push_back({"digits", std::to_string(o.digits)});
  return s;
}

}  // namespace

// The report takes the results and residuals as the CSV files have them,
// written once more into memory: the same cells, the same digits.
void write_report(const Options& o, const std::vector<zalk::io::F25File>& files,
                  const std::vector<SectionInput>& sections, const std::vector<std::vector<Rated>>& rated,
                  Output& out) {
  Output results(Output::InMemory{}), residuals(Output::InMemory{});
  write_results(sections, rated, !o.f25.empty(), o.digits, results);
  write_residuals(sections, rated, residuals);
  const std::string page =
      report_output::report_page(report_summary(o, files, sections), {results.text(), residuals.text(), {}});
  std::fwrite(page.data(), 1, page.size(), out.get());
  out.finish();
}

}  // namespace rate_tool
