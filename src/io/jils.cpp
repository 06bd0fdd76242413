#include "io/jils.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numeric>
#include <string>

#include "io/field_text.h"
#include "zalk/units.hpp"

namespace zalk::io {
namespace {

using field_text::Field;
using field_text::quoted_excerpt;
using field_text::to_double;
using field_text::to_int;
using field_text::trim;

constexpr double kPi = 3.14159265358979323846;
constexpr double kDefaultOffsetsIn[] = {0, 8, 12, 18, 24, 36, 48, 60, 72};
// Station, drop, distance and drop type stand before the readings; load and
// pavement temperature after them.
constexpr std::size_t kLeadingFields = 4;
constexpr std::size_t kTrailingFields = 2;

// "a<sep>b<sep>c" into up to n integers; false unless exactly n are given.
bool integers(std::string_view s, char sep, int* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t end = i + 1 == n ? s.size() : s.find(sep);
    if (end == std::string_view::npos || !to_int(s.substr(0, end), out[i])) return false;
    s.remove_prefix(std::min(s.size(), end + 1));
  }
  return true;
}

// The text after `key` and the blanks and '=' that follow it, up to `stop`.
std::string_view value_after(std::string_view line, std::string_view key, std::string_view stop) {
  const std::size_t at = line.find(key);
  if (at == std::string_view::npos) return {};
  std::string_view rest = trim(line.substr(at + key.size()));
  if (!rest.empty() && (rest.front() == '=' || rest.front() == ':')) rest = trim(rest.substr(1));
  return trim(rest.substr(0, rest.find(stop)));
}

// "34 deg58.140880  N" (or decimal degrees "34.969 N") as signed degrees.
bool angle(std::string_view s, char positive, char negative, double limit, double& out) {
  if (s.empty()) return false;
  const char hemisphere = s.back();
  if (hemisphere != positive && hemisphere != negative) return false;
  s = trim(s.substr(0, s.size() - 1));
  double degrees = 0, minutes = 0;
  const std::size_t deg = s.find("deg");
  if (deg == std::string_view::npos) {
    if (!to_double(s, degrees)) return false;
  } else if (!to_double(trim(s.substr(0, deg)), degrees) || !to_double(trim(s.substr(deg + 3)), minutes)) {
    return false;
  }
  if (!(degrees >= 0) || !(minutes >= 0 && minutes < 60)) return false;
  const double value = degrees + minutes / 60.0;
  if (!(value <= limit)) return false;
  out = hemisphere == negative ? -value : value;
  return true;
}

class JilsReader {
 public:
  JilsReader(std::string_view text, std::string_view file, const JilsOptions& options)
      : lines_(text), utf8_(field_text::valid_utf8(text)) {
    out_.file = file;
    out_.format = FwdFormat::jils;
    out_.plate_radius_mm = options.plate_radius_mm;
    offsets_ = options.offsets_mm.empty() ? jils_default_offsets_mm() : options.offsets_mm;
  }

  F25File run() {
    if (!check_options()) return std::move(out_);
    out_.header_ok = true;
    set_sensors(default_sensors());
    std::string_view line;
    while (lines_.next(line)) read_line(trim(line));
    return std::move(out_);
  }

 private:
  field_text::Lines lines_;
  bool utf8_;
  F25File out_;
  std::vector<double> offsets_;
  std::vector<Field> f_;
  std::vector<int> sensors_;         // sensor numbers of the readings, in file order
  std::vector<std::size_t> order_;   // positions in sensors_ by increasing offset

  // Date and time of the last Date-Time line.
  int year_ = 0, month_ = 0, day_ = 0, hour_ = 0, minute_ = 0, second_ = 0;
  // The station being read: its first drop in out_.drops, its number as
  // written, and whether a trailer line has closed it.
  std::size_t station_first_drop_ = 0;
  std::string station_text_;
  bool station_open_ = false;
  int drop_lines_in_station_ = 0;

  int line_no() const { return lines_.number(); }
  std::string text(std::string_view s) const { return field_text::utf8_text(s, utf8_); }

  void diagnose(int column, std::string message) {
    field_text::add_diagnostic(out_.diagnostics, {out_.file, line_no(), column, std::move(message)});
  }

  void reject_drop(int column, std::string message) {
    ++out_.drops_rejected;
    out_.rejected_lines.push_back(line_no());
    diagnose(column, std::move(message) + "; the drop is not used");
  }

  bool check_options() {
    if (!(out_.plate_radius_mm > 0 && std::isfinite(out_.plate_radius_mm))) {
      diagnose(0, "the plate radius " + std::to_string(out_.plate_radius_mm) + " mm is not positive");
      return false;
    }
    if (offsets_.size() > std::size_t(kF25MaxSensors)) {
      diagnose(0, std::to_string(offsets_.size()) + " sensor offsets given; at most 18");
      return false;
    }
    for (std::size_t k = 0; k < offsets_.size(); ++k) {
      if (std::isfinite(offsets_[k]) && (k == 0 || offsets_[k] > offsets_[k - 1])) continue;
      diagnose(0, "the sensor offsets given do not increase at sensor " + std::to_string(k + 1) + " (" +
                      std::to_string(offsets_[k]) + " mm)");
      return false;
    }
    return true;
  }

  std::vector<int> default_sensors() const {
    std::vector<int> s(offsets_.size());
    std::iota(s.begin(), s.end(), 1);
    return s;
  }

  void set_sensors(std::vector<int> sensors) {
    sensors_ = std::move(sensors);
    order_.resize(sensors_.size());
    std::iota(order_.begin(), order_.end(), std::size_t{0});
    std::stable_sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
      return offset_of(sensors_[a]) < offset_of(sensors_[b]);
    });
  }

  double offset_of(int sensor) const { return offsets_[std::size_t(sensor - 1)]; }

  void read_line(std::string_view line) {
    if (line.empty()) return;
    if (is_drop_line(line)) return read_drop(line);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
      if (line_no() == 1) {
        out_.metadata.emplace_back("device", text(line));
        return;
      }
      return diagnose(1, "the line " + quoted_excerpt(line) + " is not one this reader uses; skipped");
    }
    read_keyed_line(trim(line.substr(0, colon)), line, trim(line.substr(colon + 1)));
  }

  static bool is_drop_line(std::string_view line) {
    const char c = line.front();
    return (std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.') &&
           line.find(':') == std::string_view::npos;
  }

  void read_keyed_line(std::string_view key, std::string_view line, std::string_view value) {
    if (key == "Drop Sequence Completed Time") return read_completion(line);
    if (key == "GPS") return read_gps(line);
    if (key == "Note") return apply_note(value);
    if (key == "Date-Time") read_date_time(value);
    if (key == "Sensors") read_sensor_list(value);
    static const std::pair<std::string_view, const char*> kKept[] = {
        {"Date-Time", "date_time"}, {"Sensors", "sensors"},     {"Weight/spring", "weight_spring"},
        {"Location", "location"},   {"Temp", "temperature"},     {"Operator", "operator"},
        {"Comments", "comment"}};
    for (const auto& [name, as] : kKept) {
      if (key != name) continue;
      if (key == "Location") out_.subsection_id = text(value);
      out_.metadata.emplace_back(as, text(value));
      return;
    }
    diagnose(1, "the line " + quoted_excerpt(line) + " is not one this reader uses; skipped");
  }

  void read_date_time(std::string_view value) {
    field_text::split_blanks(value, f_);
    int date[3] = {}, time[3] = {};
    if (f_.size() != 2 || !integers(f_[0].text, '/', date, 3) || !integers(f_[1].text, ':', time, 3) ||
        date[0] < 1 || date[0] > 12 || date[1] < 1 || date[1] > 31 || date[2] < 1900 || date[2] > 2999 ||
        time[0] < 0 || time[0] > 23 || time[1] < 0 || time[1] > 59 || time[2] < 0 || time[2] > 59) {
      return diagnose(1, "the date and time " + quoted_excerpt(value) + " are not M/D/YYYY H:MM:SS; not used");
    }
    month_ = date[0], day_ = date[1], year_ = date[2];
    hour_ = time[0], minute_ = time[1], second_ = time[2];
  }

  void read_sensor_list(std::string_view value) {
    std::string spaced(value);
    std::replace(spaced.begin(), spaced.end(), ',', ' ');
    field_text::split_blanks(spaced, f_);
    std::vector<int> sensors;
    for (const Field& f : f_) {
      int k = 0;
      if (!to_int(f.text, k) || k < 1 || k > int(offsets_.size()) ||
          std::find(sensors.begin(), sensors.end(), k) != sensors.end()) {
        return diagnose(1, "the sensor list names " + quoted_excerpt(f.text, 10) + ", not one of sensors 1 to " +
                               std::to_string(offsets_.size()) + " with an offset; the list is not used");
      }
      sensors.push_back(k);
    }
    if (sensors.empty()) return diagnose(1, "the sensor list is empty; not used");
    set_sensors(std::move(sensors));
  }

  // ---- drops ----------------------------------------------------------------

  void read_drop(std::string_view line) {
    field_text::split_blanks(line, f_);
    const std::size_t n = sensors_.size();
    double station = 0;
    if (!to_double(f_[0].text, station)) {
      ++drop_lines_in_station_;
      return reject_drop(f_[0].column, "the station " + quoted_excerpt(f_[0].text, 20) + " is not a number");
    }
    start_station_if_new(f_[0].text);
    ++drop_lines_in_station_;
    // Load and temperature close the line, so a line of another length cannot
    // be placed field by field.
    const std::size_t expected = kLeadingFields + n + kTrailingFields;
    if (f_.size() != expected) {
      return reject_drop(f_.size() < expected ? 1 : f_[expected].column,
                         "the drop line has " + std::to_string(f_.size()) + " fields, " + std::to_string(expected) +
                             " expected for " + std::to_string(n) + " sensors");
    }
    F25Drop d;
    d.station = station;
    if (!read_drop_fields(d)) return;
    d.drop_in_location = drop_lines_in_station_;
    const F25Drop* previous = out_.drops.size() > station_first_drop_ ? &out_.drops.back() : nullptr;
    if (judge_basin(d, previous)) {
      ++out_.drops_implausible;
      diagnose(1, implausible_message(d));
    }
    out_.drops.push_back(std::move(d));
  }

  void start_station_if_new(std::string_view station) {
    if (station_open_ && station == station_text_) return;
    station_open_ = true;
    station_text_ = std::string(station);
    station_first_drop_ = out_.drops.size();
    drop_lines_in_station_ = 0;
    ++out_.stations;
  }

  bool read_drop_fields(F25Drop& d) {
    const std::size_t n = sensors_.size();
    double distance = 0, kips = 0, pavement = 0;
    if (!to_int(f_[1].text, d.sequence))
      return reject_drop(f_[1].column, "the drop number " + quoted_excerpt(f_[1].text, 20) + " is not a whole number"), false;
    if (!to_double(f_[2].text, distance))
      return reject_drop(f_[2].column, "the distance " + quoted_excerpt(f_[2].text, 20) + " is not a number"), false;
    if (!to_int(f_[3].text, d.drop_type))
      return reject_drop(f_[3].column, "the drop type " + quoted_excerpt(f_[3].text, 20) + " is not a whole number"), false;
    const Field& load = f_[kLeadingFields + n];
    const Field& temperature = f_[kLeadingFields + n + 1];
    if (!to_double(load.text, kips) || !(kips > 0))
      return reject_drop(load.column, "the load " + quoted_excerpt(load.text, 20) + " kips is not a positive number"), false;
    if (!to_double(temperature.text, pavement))
      return reject_drop(temperature.column, "the pavement temperature " + quoted_excerpt(temperature.text, 20) +
                                                 " is not a number"), false;
    for (std::size_t k : order_) {
      const Field& field = f_[kLeadingFields + k];
      double mils = 0;
      if (!to_double(field.text, mils))
        return reject_drop(field.column, "the deflection of sensor " + std::to_string(sensors_[k]) + " " +
                                             quoted_excerpt(field.text, 20) + " is not a number"), false;
      d.offsets_mm.push_back(offset_of(sensors_[k]));
      d.deflections_um.push_back(mils * kMicrometresPerMil);
      d.sensor_slots.push_back(sensors_[k]);
    }
    d.line = line_no();
    d.location = out_.stations;
    d.distance_ft = distance;
    d.load_lb_written = kips * kPoundsPerKip;
    d.plate_radius_mm = out_.plate_radius_mm;
    const double area_m2 = kPi * d.plate_radius_mm * d.plate_radius_mm * 1e-6;
    d.stress_kpa = *d.load_lb_written * kNewtonsPerPound / 1000.0 / area_m2;
    d.temperatures.fahrenheit = true;
    d.temperatures.surface = pavement;
    d.year = year_, d.month = month_, d.day = day_, d.hour = hour_, d.minute = minute_, d.second = second_;
    return true;
  }

  // ---- trailer lines: they close the station whose drops precede them -------

  std::size_t station_drops() const { return out_.drops.size() - station_first_drop_; }

  bool trailer_applies(const char* what) {
    station_open_ = false;
    if (station_drops() > 0) return true;
    diagnose(1, std::string(what) + " follows no drop of a station; not used");
    return false;
  }

  void read_completion(std::string_view line) {
    int time[2] = {};
    double air = 0;
    const std::string_view when = value_after(line, "Time:", " ");
    const std::string_view air_text = value_after(line, "Air Temp (F):", " ");
    const bool time_ok = integers(when, ':', time, 2) && time[0] >= 0 && time[0] <= 23 && time[1] >= 0 && time[1] <= 59;
    const bool air_ok = !air_text.empty() && to_double(air_text, air);
    if (!time_ok) diagnose(1, "the completion time " + quoted_excerpt(when, 20) + " is not HH:MM; not used");
    if (!air_ok && !air_text.empty()) diagnose(1, "the air temperature " + quoted_excerpt(air_text, 20) + " is not a number; not used");
    if (!trailer_applies("the completion line")) return;
    for (std::size_t i = station_first_drop_; i < out_.drops.size(); ++i) {
      F25Drop& d = out_.drops[i];
      if (time_ok) d.hour = time[0], d.minute = time[1], d.second = 0;
      if (air_ok) d.temperatures.air = air;
    }
  }

  void read_gps(std::string_view line) {
    F25Gps g;
    g.fix = text(value_after(line, "Quality", "Latitude"));
    const std::string_view lat = value_after(line, "Latitude", "Longitude");
    const std::string_view lon = value_after(line, "Longitude", "PDOP");
    if (!angle(lat, 'N', 'S', 90, g.latitude) || !angle(lon, 'E', 'W', 180, g.longitude)) {
      const std::size_t at = line.find("Latitude");
      return diagnose(at == std::string_view::npos ? 1 : int(at) + 1,
                      "the position " + quoted_excerpt(lat, 30) + " / " + quoted_excerpt(lon, 30) +
                          " is not degrees and minutes with N/S and E/W; the GPS line is not used");
    }
    double pdop = 0;
    if (to_double(value_after(line, "PDOP", " \t"), pdop)) g.quality.push_back(pdop);
    if (!trailer_applies("the GPS line")) return;
    for (std::size_t i = station_first_drop_; i < out_.drops.size(); ++i) out_.drops[i].gps = g;
  }

  void apply_note(std::string_view value) {
    if (!trailer_applies("the note")) return;
    for (std::size_t i = station_first_drop_; i < out_.drops.size(); ++i) out_.drops[i].comment = text(value);
  }
};

}  // namespace

std::vector<double> jils_default_offsets_mm() {
  std::vector<double> mm;
  for (double in : kDefaultOffsetsIn) mm.push_back(in * kMillimetresPerInch);
  return mm;
}

F25File read_jils(std::string_view text, std::string_view file, const JilsOptions& options) {
  return JilsReader(text, file, options).run();
}

F25File read_jils_file(const std::filesystem::path& path, const JilsOptions& options) {
  std::string text, name, why;
  if (field_text::load_file(path, text, name, why)) return read_jils(text, name, options);
  F25File f;
  f.file = name;
  f.format = FwdFormat::jils;
  f.diagnostics.push_back({name, 0, 0, why});
  return f;
}

}  // namespace zalk::io
