#include "apps/rate/fwd_input.h"

#include "apps/rate/rate_csv.h"

namespace rate_tool {

std::vector<double> sensor_offsets_option(const std::string& list) {
  std::vector<double> mm;
  std::string problem;
  if (!zalk::parse_sensor_offsets(list, mm, problem)) usage("--sensor-offsets: " + problem);
  return mm;
}

zalk::FieldFile read_field_file(const Options& o, const fs::path& file) {
  zalk::FieldFileOptions options;
  options.sensor_offsets_mm = o.sensor_offsets_mm;
  return zalk::read_field_file(file, options);
}

void report_field_file(const zalk::FieldFile& f, const std::vector<zalk::FieldDiagnostic>& diagnostics,
                       int not_rated, const std::string& section) {
  for (const auto& d : diagnostics)
    std::fprintf(stderr, "%s:%d:%d: section \"%s\": %s\n", d.file.c_str(), d.line, d.column, section.c_str(),
                 d.message.c_str());
  if (f.diagnostics.size() > 1000 && !f.rejected_lines.empty()) {
    std::fprintf(stderr, "rate: %s: the lines of all %zu rejected drops:", f.file.c_str(), f.rejected_lines.size());
    for (int line : f.rejected_lines) std::fprintf(stderr, " %d", line);
    std::fputc('\n', stderr);
  }
  std::fprintf(stderr, "rate: %s (%s): %s; %d more not rated\n", f.file.c_str(), zalk::field_format_name(f.format),
               f.summary.c_str(), not_rated);
}

void write_drop_columns(std::FILE* f, const zalk::FieldDrop& d, double load_lb) {
  std::fprintf(f, ",%.10g,%s,%d,%.6g,", d.station, rate_csv::csv_field(d.lane).c_str(), d.drop, load_lb);
  if (d.latitude && d.longitude) std::fprintf(f, "%.10g,%.10g", *d.latitude, *d.longitude);
  else std::fputc(',', f);
}

}  // namespace rate_tool
