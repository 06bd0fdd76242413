// Reader of F25 falling-weight deflectometer field files.
//
// An F25 file is text, one record per line, comma-separated fields. The
// first field of every line is a line id saying what the line holds. Numbers
// may be padded with blanks or zeros and carry a sign; text is quoted and
// padded with blanks, or unquoted; a missing number is written "N0" followed
// by blanks. Lines end in LF or CR LF; a UTF-8 byte-order mark is skipped,
// and text that is not UTF-8 is read as Latin-1. Units are metric:
// deflections in micrometres, peak load as a stress in kPa, distances in mm,
// temperatures in C unless the temperature line's flag says F.
//
// Files come in two shapes, told apart line by line:
//   5001  the edition quoted, then the header line count (field 2), or the
//         edition as a number, a flag, the header line count (field 3), two
//         more counts and the writing program
//   5301  station line of 10 fields: side, station kind, station, lane,
//         date and time as YYYY, MM, DD, HH, MM; or of 14 or 15 fields:
//         four codes, station, a code, lane number, lane/position code,
//         date and time as YYYY, MM, DD, HH, MM and an optional second
//
// Header (ended by its line count, or earlier at the first line that cannot
// belong to it: a 5280, a second 5301 or a drop line, with a note):
//     5020  plate radius, x-offsets of sensors 1..18 (N0: no sensor)
//     5021  plate diameter, y-offsets of sensors 1..18
//     5201..5218  sensor name (text; "NA": absent), type, gains
//     5011 date and time, 5022 drop heights, 5030 operator, 5031 roadway,
//     5032 subsection, 5041..5044 comments: kept as metadata
//     a 5301/5302/5303 group: the settings for the first station, not a
//     station, unless drop lines follow it directly
// then per test location, in time order:
//     5280  (optional) GPS: status (0 = a fix), a number kept as written
//           (GPS time or 0), latitude, longitude (signed decimal degrees),
//           height, then quality figures
//     5301  station, as above
//     5302  condition codes and comment (the last text field)
//     5303  temperatures: unit flag (0 = C, 1 = F), asphalt, surface, air
//     one line per drop: sequence number (below 1000), peak stress (kPa),
//           one deflection per present sensor in slot order; further
//           trailing fields are kept as written, not read as sensors
//   comment objects (7000..7999) and sensor-history blocks (5185 followed by
//   lines 1001..4999) may stand between groups and are skipped.
//
// Sensors may stand at any offsets: each reading stays with its own sensor,
// and a drop lists its readings by increasing offset with the slot each came
// from. A sensor behind the plate (negative offset) is read and kept; users
// of the basin decide whether to use it.
//
// The reader never gives up on a file for a bad drop: each line it cannot use
// gets a diagnostic (file, line, column, message) and only that drop is
// dropped; every rejected drop's line is listed in rejected_lines however
// many there are. A file whose header cannot be read yields no drops at all.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zalk::io {

inline constexpr int kF25MaxSensors = 18;

// The formats of field files this library reads.
enum class FwdFormat { unknown, f25, jils };

struct F25Diagnostic {
  std::string file;
  int line = 0;    // 1-based
  int column = 0;  // 1-based column of the field concerned (1 for the line)
  std::string message;
};

struct F25Gps {
  double failure_cause = 0;        // status: 0 for a fix
  double utc_seconds_of_week = 0;  // the number after the status, as written
  double latitude = 0, longitude = 0, height = 0;
  std::vector<double> quality;     // the figures after the height, as written
  std::string fix;                 // the fix as the device words it (JILS)
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
  std::string lane_code;                   // lane/position code (14-field 5301)
  std::vector<std::string> station_codes;  // the codes of a 14-field 5301
  int station_line = 0;                    // line of the station line
  double station = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  std::optional<F25Gps> gps;
  F25Temperatures temperatures;

  double plate_radius_mm = 0;
  double stress_kpa = 0;
  std::vector<double> offsets_mm;       // increasing
  std::vector<double> deflections_um;   // same order as offsets_mm
  std::vector<int> sensor_slots;        // the 1-based sensor of each reading
  std::vector<std::string> extra_fields;  // trailing fields after the readings

  // JILS drops give their load, not a stress; F25 drops leave this empty.
  std::optional<double> load_lb_written;
  std::optional<double> distance_ft;  // JILS: distance as written
  int drop_type = 0;                  // JILS: drop type as written

  double force_kn() const;  // stress times plate area, or the load written
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
  FwdFormat format = FwdFormat::f25;
  bool header_ok = false;
  std::string program_edition, roadway_id, subsection_id;
  std::string program;  // the writing program (5001, last field)
  int header_lines = 0;  // as the 5001 line counts them (0 when it does not)
  // Header lines whose meaning is plain, as (name, text) in file order:
  // date_time, drop_heights, operator, roadway, subsection, comment, ...
  std::vector<std::pair<std::string, std::string>> metadata;
  double plate_radius_mm = 0;
  std::vector<F25Sensor> sensors;  // slots 1..18 as written
  std::vector<F25Drop> drops;
  std::vector<F25Diagnostic> diagnostics;
  std::vector<int> rejected_lines;  // every rejected drop line, in file order
  int drops_rejected = 0;
  int drops_implausible = 0;
  int stations = 0;

  // "N drops read, M skipped, K flagged" for a summary line.
  std::string summary() const;
  // The first metadata entry of that name, or an empty string.
  std::string metadata_value(std::string_view name) const;
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

// Judges a drop's basin (sensors at or ahead of the plate): a suspect
// sensor, or a centre reading per unit stress far from the previous drop's at
// the same location (nullptr: none). Sets implausible and suspect_sensor and
// returns true when the basin is not believable.
bool judge_basin(F25Drop& d, const F25Drop* previous);
// The diagnostic for a drop judge_basin flagged.
std::string implausible_message(const F25Drop& d);

}  // namespace zalk::io
