#include "apps/rate/report_page.h"

#include <cstdio>

#include "apps/rate/report_template.h"

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
