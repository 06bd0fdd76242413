// Field files of falling-weight deflection surveys, as the devices write
// them: F25 files (both shapes field programs write) and JILS .DAT files, the
// format told by content. Every drop line becomes a drop or a diagnostic with
// its file, line and column; nothing is skipped silently.
//
//   zalk::FieldFile f = zalk::read_field_file("survey.f25");
//   for (const zalk::FieldDrop& d : f.drops) ... d.load_lb, d.deflections_um
//   for (const zalk::FieldDiagnostic& d : f.diagnostics) ...
//
// JILS files do not say where their sensors stand: give the offsets in
// FieldFileOptions (default 0, 8, 12, 18, 24, 36, 48, 60 and 72 in).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zalk {

enum class FieldFormat { unknown, f25, jils };

struct FieldDiagnostic {
  std::string file;
  int line = 0;    // 1-based; 0 for the file as a whole
  int column = 0;  // 1-based; 0 for the file as a whole
  std::string message;
};

struct FieldDrop {
  int line = 0;           // its line in the file
  int station_index = 0;  // 1-based index of its station in the file
  int drop = 0;           // 1-based within its station
  int sequence = 0;       // drop number as written
  double station = 0;     // chainage as written
  std::string lane, lane_code, comment;  // UTF-8
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  double hour_of_day() const { return hour + minute / 60.0; }  // HH + MM / 60
  std::optional<double> latitude, longitude;  // signed decimal degrees
  std::optional<double> surface_temperature_f, air_temperature_f, asphalt_temperature_f;
  double load_lb = 0;
  double stress_kpa = 0;  // on the plate
  double plate_radius_mm = 0;
  std::vector<double> offsets_mm;      // increasing; negative: behind the plate
  std::vector<double> deflections_um;  // one per offset
  std::vector<int> sensor_slots;       // the 1-based sensor each reading came from
  bool implausible = false;            // the basin is flagged
  int suspect_sensor = 0;              // 1-based position in offsets_mm, 0 when none
};

struct FieldFile {
  std::string file;
  FieldFormat format = FieldFormat::unknown;
  bool read = false;  // false: the file as a whole could not be read (see diagnostics)
  // Header lines whose meaning is plain, as (name, text): operator, roadway,
  // subsection, location, comment, date_time, drop_heights, ...
  std::vector<std::pair<std::string, std::string>> metadata;
  std::vector<FieldDrop> drops;
  std::vector<FieldDiagnostic> diagnostics;  // the first 1000
  std::vector<int> rejected_lines;           // every drop line not read, however many
  int drops_flagged = 0;
  std::string summary;  // "N drops read, M skipped, K flagged"
};

struct FieldFileOptions {
  std::vector<double> sensor_offsets_mm;  // JILS: offset of sensor k at [k-1]; empty: the default
  double plate_radius_mm = 150.0;         // JILS: the plate the stress is computed on
};

FieldFormat detect_field_format(std::string_view text);
// "F25" or "JILS" ("unknown" for an unknown format), for messages.
const char* field_format_name(FieldFormat format);
FieldFile read_field_file(const std::filesystem::path& path, const FieldFileOptions& options = {});
FieldFile read_field_text(std::string_view text, std::string_view name, const FieldFileOptions& options = {});

// "0,8,12,18,24,36,48,60,72in" or "0,200,300mm" in mm: false with the
// problem named when the list is not increasing numbers with a unit.
bool parse_sensor_offsets(std::string_view list, std::vector<double>& mm, std::string& problem);

}  // namespace zalk
