#include "zalk/fwd_file.hpp"

#include "io/fwd.h"
#include "zalk/units.hpp"

namespace zalk {
namespace {

std::optional<double> in_fahrenheit(const std::optional<double>& t, bool fahrenheit) {
  if (!t || fahrenheit) return t;
  return fahrenheit_of_celsius(*t);
}

FieldDrop drop_of(const io::FwdDrop& d) {
  FieldDrop out;
  out.line = d.line;
  out.station_index = d.location;
  out.drop = d.drop_in_location;
  out.sequence = d.sequence;
  out.station = d.station;
  out.lane = d.lane;
  out.lane_code = d.lane_code;
  out.comment = d.comment;
  out.year = d.year, out.month = d.month, out.day = d.day;
  out.hour = d.hour, out.minute = d.minute, out.second = d.second;
  if (d.gps) out.latitude = d.gps->latitude, out.longitude = d.gps->longitude;
  const bool f = d.temperatures.fahrenheit;
  out.surface_temperature_f = d.temperatures.surface_f();
  out.air_temperature_f = in_fahrenheit(d.temperatures.air, f);
  out.asphalt_temperature_f = in_fahrenheit(d.temperatures.asphalt, f);
  out.load_lb = d.force_lb();
  out.stress_kpa = d.stress_kpa;
  out.plate_radius_mm = d.plate_radius_mm;
  out.offsets_mm = d.offsets_mm;
  out.deflections_um = d.deflections_um;
  out.sensor_slots = d.sensor_slots;
  out.implausible = d.implausible;
  out.suspect_sensor = d.suspect_sensor;
  return out;
}

FieldFile file_of(const io::FwdFile& f) {
  FieldFile out;
  out.file = f.file;
  out.format = FieldFormat(int(f.format));
  out.read = f.header_ok;
  out.metadata = f.metadata;
  out.drops.reserve(f.drops.size());
  for (const io::FwdDrop& d : f.drops) out.drops.push_back(drop_of(d));
  for (const io::FwdDiagnostic& d : f.diagnostics) out.diagnostics.push_back({d.file, d.line, d.column, d.message});
  out.rejected_lines = f.rejected_lines;
  out.drops_flagged = f.drops_implausible;
  out.summary = f.summary();
  return out;
}

io::JilsOptions jils_options(const FieldFileOptions& o) {
  io::JilsOptions j;
  j.offsets_mm = o.sensor_offsets_mm;
  j.plate_radius_mm = o.plate_radius_mm;
  return j;
}

}  // namespace

static_assert(int(FieldFormat::jils) == int(io::FwdFormat::jils) && int(FieldFormat::f25) == int(io::FwdFormat::f25));

FieldFormat detect_field_format(std::string_view text) { return FieldFormat(int(io::detect_fwd_format(text))); }

const char* field_format_name(FieldFormat format) { return io::format_name(io::FwdFormat(int(format))); }

FieldFile read_field_file(const std::filesystem::path& path, const FieldFileOptions& options) {
  return file_of(io::read_fwd_file(path, jils_options(options)));
}

FieldFile read_field_text(std::string_view text, std::string_view name, const FieldFileOptions& options) {
  return file_of(io::read_fwd(text, name, jils_options(options)));
}

bool parse_sensor_offsets(std::string_view list, std::vector<double>& mm, std::string& problem) {
  return io::parse_sensor_offsets(list, mm, problem);
}

}  // namespace zalk
