// Reader of F25 falling-weight deflectometer field files.
//
// An F25 file is text, one record per line, comma-separated fields, text in
// double quotes. The first field of every line is a line id saying what the
// line holds. Numbers are right-justified in fixed fields; a missing number
// is written "N0" followed by blanks. Units are metric: deflections in
// micrometres, peak load as a stress in kPa, distances in mm, temperatures in
// C unless the temperature line's flag says F.
//
// Layout read here:
//   header (its line count is the second field of 5001):
//     5001  program edition, header line count, lines per station, per drop
//     5020  plate radius, x-offsets of sensors 1..18 (N0: no sensor)
//     5021  plate diameter, y-offsets of sensors 1..18
//     5201..5218  sensor name (text; "NA": absent), type, gains
//     5031, 5032  roadway id, subsection id (text)
//     any other header line is kept only as far as listed here
//   then per test location, in time order:
//     5280  (optional) GPS: failure cause, UTC seconds of the week,
//           latitude, longitude, height
//     5301  station: side of road, station kind/units, station value, lane,
//           date and time as YYYY, MM, DD, HH, MM
//     5302  condition / comment
//     5303  temperatures: unit flag (0 = C, 1 = F), asphalt, surface, air
//     one line per drop: sequence number (below 1000), peak stress (kPa),
//           deflections of the present sensors in sensor order; further
//           trailing fields are ignored
//   comment objects (7000..7999) and sensor-history blocks (5185 followed by
//   lines 1001..4999) may stand between groups and are skipped.
//
// The reader never gives up on a file for a bad drop: each line it cannot use
// gets a diagnostic (file, line, column, message) and only that drop is
// dropped. A file whose header cannot be read yields no drops at all.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zalk::io {

inline constexpr int kF25MaxSensors = 18;

struct F25Diagnostic {
  std::string file;
  int line = 0;    // 1-based
  int column = 0;  // 1-based column of the field concerned (1 for the line)
  std::string message;
};

struct F25Gps {
  double failure_cause = 0;
  double utc_seconds_of_week = 0;
  double latitude = 0, longitude = 0, height = 0;
};

struct F25Temperatures {
  bool fahrenheit = false;  // as written in the file
  std::optional<double> asphalt, surface, air;
  // The surface temperature in F (nullopt when the file gives none).
  std::optional<double> surface_f() const;
};

struct F25Drop {
  int line = 0;              // line of the drop in the file
  int location = 0;          // 1-based index of its test location
  int drop_in_location = 0;  // 1-based within its location
  int sequence = 0;          // sequence number as written

  // From the location's lines.
  std::string side, station_kind, lane, comment;
  double station = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  std::optional<F25Gps> gps;
  F25Temperatures temperatures;

  double plate_radius_mm = 0;
  double stress_kpa = 0;
  std::vector<double> offsets_mm;       // increasing
  std::vector<double> deflections_um;   // same order as offsets_mm

  double force_kn() const;  // stress times plate area
  double force_lb() const;
  // Time of day in hours (HH + MM / 60).
  double hour_of_day() const { return hour + minute / 60.0; }

  // Set when the basin does not look like a deflection basin: a sensor far
  // off the smooth basin through the others, or a centre reading far from the
  // previous drop's at the same location (scaled by load). The reader lists
  // every such drop in the diagnostics too; the drop is kept.
  bool implausible = false;
  int suspect_sensor = 0;  // 1-based position in offsets_mm, 0 when none
};

struct F25Sensor {
  std::string name;
  double x_offset_mm = 0, y_offset_mm = 0;
  bool present = false;
};

struct F25File {
  std::string file;  // the name used in diagnostics
  bool header_ok = false;
  std::string program_edition, roadway_id, subsection_id;
  int header_lines = 0;
  double plate_radius_mm = 0;
  std::vector<F25Sensor> sensors;  // slots 1..18 as written
  std::vector<F25Drop> drops;
  std::vector<F25Diagnostic> diagnostics;
  int drops_rejected = 0;
  int drops_implausible = 0;
};

// Reads F25 text; `file` names it in the diagnostics.
F25File read_f25(std::string_view text, std::string_view file);

// Reads an F25 file (regular files of at most 256 MB). An unreadable file
// gives header_ok = false and one diagnostic naming it.
F25File read_f25_file(const std::filesystem::path& path);

// The index of a sensor whose reading lies far off the smooth basin through
// its neighbours (1-based), or 0 when the basin is plausible. Deflections are
// expected to fall with offset; a reading more than `factor` times above or
// below the log-linear interpolation of its neighbours (the extrapolation of
// the next two for the end sensors) is suspect.
int implausible_sensor(const std::vector<double>& offsets, const std::vector<double>& deflections,
                       double factor = 2.0);

}  // namespace zalk::io
