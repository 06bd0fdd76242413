#include "io/f25.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <numeric>
#include <system_error>

#include "io/field_text.h"
#include "zalk/units.hpp"

namespace zalk::io {
namespace {

using field_text::Field;
using field_text::quoted_excerpt;
using field_text::to_double;
using field_text::to_int;

constexpr double kPi = 3.14159265358979323846;
// A centre reading per unit stress this many times above or below the
// previous drop's at the same location is not believable.
constexpr double kCentreJump = 1.5;
// Station lines of the device shape have at least this many fields.
constexpr std::size_t kDeviceStationFields = 14;
constexpr std::size_t kDescribedStationFields = 10;

// "N0" followed by blanks: a number the device did not record.
bool missing(const Field& f) { return !f.quoted && f.text == "N0"; }

// One pass over the text: header first, then the location groups.
class Reader {
 public:
  Reader(std::string_view text, std::string_view file)
      : lines_(text), utf8_(field_text::valid_utf8(text)) {
    out_.file = file;
  }

  F25File run() {
    if (!read_header()) return std::move(out_);
    out_.header_ok = true;
    std::string_view line;
    if (!header_stop_.empty()) read_body_line(header_stop_);
    while (lines_.next(line)) read_body_line(line);
    close_location();
    note_cut_station();
    return std::move(out_);
  }

 private:
  field_text::Lines lines_;
  bool utf8_;
  F25File out_;
  std::vector<Field> f_;  // the fields of the current line
  // Present sensor slots (0-based) in slot order: the drop fields they fill.
  std::vector<int> columns_;
  // Positions in columns_ by increasing offset, duplicates left out.
  std::vector<std::size_t> order_;
  int offsets_line_ = 0;
  std::vector<int> offset_columns_ = std::vector<int>(kF25MaxSensors, 1);
  std::string_view header_stop_;  // the line that ended the header early
  bool header_group_pending_ = false;

  // The current location.
  F25Drop location_;
  bool in_location_ = false;
  bool in_history_ = false;
  std::optional<F25Gps> pending_gps_;
  const F25Drop* previous_drop_ = nullptr;  // the last drop kept at this location
  int drop_lines_in_location_ = 0;
  int drops_of_first_location_ = 0;

  int line_no() const { return lines_.number(); }

  std::string text(const Field& f) const { return field_text::utf8_text(f.text, utf8_); }

  void diagnose(int column, std::string message) { diagnose_at(line_no(), column, std::move(message)); }

  void diagnose_at(int line, int column, std::string message) {
    field_text::add_diagnostic(out_.diagnostics, {out_.file, line, column, std::move(message)});
  }

  void reject_drop(int column, std::string message) {
    ++out_.drops_rejected;
    out_.rejected_lines.push_back(line_no());
    diagnose(column, std::move(message) + "; the drop is not used");
  }

  // The line id, or -1 when the line has none.
  static int line_id(const std::vector<Field>& f) {
    int id = 0;
    if (f.empty() || f[0].quoted || !to_int(f[0].text, id) || id < 0) return -1;
    return id;
  }

  bool number(std::size_t i, double& v, std::string_view what) {
    if (i >= f_.size()) {
      diagnose(1, "the line ends before its " + std::string(what));
      return false;
    }
    if (missing(f_[i]) || !to_double(f_[i].text, v)) {
      diagnose(f_[i].column, std::string(what) + " is not a number: " + quoted_excerpt(f_[i].text));
      return false;
    }
    return true;
  }

  void keep(const char* name, std::size_t from) {
    std::string value;
    for (std::size_t i = from; i < f_.size(); ++i) {
      if (i > from) value += ", ";
      value += text(f_[i]);
    }
    out_.metadata.emplace_back(name, std::move(value));
  }

  // ---- header -----------------------------------------------------------

  bool read_header() {
    std::string_view line;
    if (!lines_.next(line)) {
      diagnose_at(1, 1, "the file is empty; it is not an F25 file");
      return false;
    }
    field_text::split_commas(line, f_);
    if (line_id(f_) != 5001) {
      diagnose(1, "the first line is not a 5001 line; the file is not an F25 file");
      return false;
    }
    read_edition_line();
    out_.sensors.assign(kF25MaxSensors, F25Sensor{});
    bool have_offsets = false;
    const int count = out_.header_lines > 0 ? out_.header_lines : std::numeric_limits<int>::max();
    for (int k = 2; k <= count; ++k) {
      if (!lines_.next(line)) {
        if (out_.header_lines > 0)
          diagnose(1, "the header ends at line " + std::to_string(line_no()) + ", before the " +
                          std::to_string(count) + " lines its 5001 line counts");
        break;
      }
      field_text::split_commas(line, f_);
      if (ends_header()) {
        header_stop_ = line;
        break;
      }
      if (!read_header_line(have_offsets)) return false;
    }
    header_group_pending_ = in_location_;
    if (!have_offsets) {
      diagnose(1, "the header has no 5020 line (plate radius and sensor offsets)");
      return false;
    }
    return settle_sensors();
  }

  // Edition and header line count; the count stands in field 2 after a quoted
  // edition and in field 3 after a numeric one.
  void read_edition_line() {
    if (f_.size() > 1) out_.program_edition = text(f_[1]);
    const std::size_t at = f_.size() > 1 && f_[1].quoted ? 2 : 3;
    if (f_.size() > 6) out_.program = text(f_.back());
    int count = 0;
    if (at < f_.size() && to_int(f_[at].text, count) && count >= 2 && count <= 10000) {
      out_.header_lines = count;
      return;
    }
    diagnose(at < f_.size() ? f_[at].column : 1,
             "the 5001 line does not give a header line count between 2 and 10000 in field " +
                 std::to_string(at) + "; the header ends at the first line that cannot belong to it");
  }

  // A GPS line, a drop line or a second station line cannot be part of the
  // header: the header ends before it, whatever the count says.
  bool ends_header() {
    const int id = line_id(f_);
    const bool stop = id == 5280 || (id >= 0 && id < 1000) || (id == 5301 && header_station_seen_);
    if (stop && out_.header_lines > 0)
      diagnose(1, "the header ends before this line (line id " + std::to_string(id) + "), " +
                      "earlier than the " + std::to_string(out_.header_lines) +
                      " lines its 5001 line counts");
    return stop;
  }
  bool header_station_seen_ = false;

  bool read_header_line(bool& have_offsets) {
    const int id = line_id(f_);
    if (id == 5020) {
      if (!read_offsets()) return false;
      have_offsets = true;
    } else if (id == 5021) {
      read_y_offsets();
    } else if (id >= 5201 && id <= 5200 + kF25MaxSensors) {
      out_.sensors[std::size_t(id - 5201)].name = f_.size() > 1 ? text(f_[1]) : "";
    } else if (id == 5301) {
      header_station_seen_ = true;
      read_station();
    } else if (id == 5302 || id == 5303) {
      read_body_record(id);
    } else {
      keep_header_metadata(id);
    }
    return true;
  }

  void keep_header_metadata(int id) {
    if (f_.size() < 2) return;
    switch (id) {
      case 5011: return keep("date_time", 1);
      case 5022: return keep("drop_heights", 1);
      case 5030: return keep("operator", 1);
      case 5031:
        out_.roadway_id = text(f_[1]);
        return keep("roadway", 1);
      case 5032:
        out_.subsection_id = text(f_[1]);
        return keep("subsection", 1);
      case 5041: case 5042: case 5043: case 5044:
        if (!f_[1].text.empty()) keep("comment", 1);
        return;
      default: return;
    }
  }

  bool read_offsets() {
    offsets_line_ = line_no();
    if (!number(1, out_.plate_radius_mm, "the plate radius")) return false;
    if (!(out_.plate_radius_mm > 0)) {
      diagnose(f_[1].column, "the plate radius is not positive");
      return false;
    }
    for (int s = 0; s < kF25MaxSensors; ++s) {
      const std::size_t i = std::size_t(s) + 2;
      if (i >= f_.size() || missing(f_[i]) || f_[i].text.empty()) continue;
      F25Sensor& sensor = out_.sensors[std::size_t(s)];
      offset_columns_[std::size_t(s)] = f_[i].column;
      if (!to_double(f_[i].text, sensor.x_offset_mm)) {
        diagnose(f_[i].column, "the offset of sensor " + std::to_string(s + 1) + " is not a number");
        return false;
      }
      sensor.present = true;
    }
    for (std::size_t i = kF25MaxSensors + 2; i < f_.size(); ++i) {
      if (missing(f_[i]) || f_[i].text.empty()) continue;
      diagnose(f_[i].column, "an offset for a sensor beyond the 18 an F25 file can hold; it is not used");
      break;
    }
    return true;
  }

  void read_y_offsets() {
    for (int s = 0; s < kF25MaxSensors; ++s) {
      const std::size_t i = std::size_t(s) + 2;
      if (i < f_.size() && !missing(f_[i])) to_double(f_[i].text, out_.sensors[std::size_t(s)].y_offset_mm);
    }
  }

  // A sensor named "NA" is absent whatever its offset says. Drop fields follow
  // the present sensors in slot order; a drop lists its readings by offset.
  bool settle_sensors() {
    for (F25Sensor& s : out_.sensors)
      if (s.name == "NA") s.present = false;
    for (int s = 0; s < kF25MaxSensors; ++s)
      if (out_.sensors[std::size_t(s)].present) columns_.push_back(s);
    if (columns_.empty()) {
      diagnose_at(offsets_line_, 1, "the header names no sensor with an offset");
      return false;
    }
    std::vector<std::size_t> by_offset(columns_.size());
    std::iota(by_offset.begin(), by_offset.end(), std::size_t{0});
    std::stable_sort(by_offset.begin(), by_offset.end(),
                     [&](std::size_t a, std::size_t b) { return offset(a) < offset(b); });
    for (std::size_t k = 0; k < by_offset.size(); ++k) {
      if (k > 0 && offset(by_offset[k]) == offset(by_offset[k - 1])) {
        note_duplicate(by_offset[k - 1], by_offset[k]);
        continue;
      }
      order_.push_back(by_offset[k]);
    }
    note_out_of_order();
    return true;
  }

  double offset(std::size_t column) const {
    return out_.sensors[std::size_t(columns_[column])].x_offset_mm;
  }

  void note_duplicate(std::size_t kept, std::size_t dropped) {
    const int slot = columns_[dropped];
    diagnose_at(offsets_line_, offset_columns_[std::size_t(slot)],
                "sensor " + std::to_string(slot + 1) + " has the offset of sensor " +
                    std::to_string(columns_[kept] + 1) + "; its readings are not used");
  }

  void note_out_of_order() {
    for (std::size_t k = 1; k < columns_.size(); ++k) {
      if (offset(k) >= offset(k - 1)) continue;
      const int slot = columns_[k];
      diagnose_at(offsets_line_, offset_columns_[std::size_t(slot)],
                  "the offsets do not increase in sensor order (sensor " + std::to_string(slot + 1) +
                      " lies before sensor " + std::to_string(columns_[k - 1] + 1) +
                      "); each reading is kept with its own sensor");
      return;
    }
  }

  // ---- body ---------------------------------------------------------------

  void read_body_line(std::string_view line) {
    if (field_text::trim(line).empty()) return;
    field_text::split_commas(line, f_);
    const int id = line_id(f_);
    if (id < 0) {
      diagnose(1, "the line does not start with a line id; it is not an F25 record");
      return;
    }
    settle_header_group(id);
    if (in_history_ && id >= 1001 && id <= 4999) return;
    in_history_ = false;
    if (id < 1000) return read_drop(id);
    if (id >= 7000 && id <= 7999) return;  // comment objects
    if (!read_body_record(id)) diagnose(1, "line id " + std::to_string(id) + " is not one this reader uses; skipped");
  }

  bool read_body_record(int id) {
    switch (id) {
      case 5185: in_history_ = true; return true;
      case 5280: read_gps(); return true;
      case 5301: read_station(); return true;
      case 5302: location_.comment = comment_of_condition_line(); return true;
      case 5303: read_temperatures(); return true;
      default: return false;
    }
  }

  // The header's station group is the first station only when drop lines
  // follow it directly.
  void settle_header_group(int id) {
    if (!header_group_pending_) return;
    header_group_pending_ = false;
    if (id < 1000) return;
    in_location_ = false;
    out_.stations = 0;
  }

  // Condition codes, then an optional comment: the last field when it is text.
  std::string comment_of_condition_line() const {
    double v = 0;
    if (f_.size() < 2 || (!f_.back().quoted && to_double(f_.back().text, v))) return "";
    return text(f_.back());
  }

  void read_gps() {
    F25Gps g;
    double* v[] = {&g.failure_cause, &g.utc_seconds_of_week, &g.latitude, &g.longitude, &g.height};
    const char* what[] = {"the GPS status", "the GPS time", "the latitude", "the longitude", "the height"};
    for (std::size_t i = 0; i < 5; ++i)
      if (!number(i + 1, *v[i], what[i])) return;
    if (std::fabs(g.latitude) > 90 || std::fabs(g.longitude) > 180) {
      diagnose(f_[3].column, "the position lies outside +-90 latitude, +-180 longitude; not used");
      return;
    }
    for (std::size_t i = 6; i < f_.size(); ++i) {
      double q = 0;
      if (!missing(f_[i]) && to_double(f_[i].text, q)) g.quality.push_back(q);
    }
    pending_gps_ = g;
  }

  void read_station() {
    close_location();
    in_location_ = false;
    location_ = F25Drop{};
    location_.station_line = line_no();
    location_.gps = pending_gps_;
    pending_gps_.reset();
    const bool device = f_.size() >= kDeviceStationFields;
    if (f_.size() < kDescribedStationFields) {
      diagnose(1, "the station line has " + std::to_string(f_.size()) +
                      " fields, 10 or 14 expected; its drops are not used");
      return;
    }
    const std::size_t at = device ? read_device_station() : read_described_station();
    if (at == 0 || !read_date(at)) return;
    location_.location = ++out_.stations;
    in_location_ = true;
    previous_drop_ = nullptr;
    drop_lines_in_location_ = 0;
  }

  // Side, kind, station, lane, then the date from field 5.
  std::size_t read_described_station() {
    location_.side = text(f_[1]);
    location_.station_kind = text(f_[2]);
    location_.lane = text(f_[4]);
    return number(3, location_.station, "the station") ? 5 : 0;
  }

  // Four codes, station, a code, lane number, lane code, then the date from
  // field 9.
  std::size_t read_device_station() {
    for (std::size_t i : {1, 2, 3, 4, 6}) location_.station_codes.push_back(text(f_[i]));
    location_.lane = text(f_[7]);
    location_.lane_code = text(f_[8]);
    return number(5, location_.station, "the station") ? 9 : 0;
  }

  bool read_date(std::size_t at) {
    int* when[] = {&location_.year, &location_.month, &location_.day, &location_.hour,
                   &location_.minute, &location_.second};
    const int low[] = {1900, 1, 1, 0, 0, 0}, high[] = {2999, 12, 31, 23, 59, 59};
    const std::size_t n = at == 5 ? 5 : std::min<std::size_t>(6, f_.size() - at);
    for (std::size_t i = 0; i < n; ++i) {
      const Field& field = f_[at + i];
      if (!to_int(field.text, *when[i]) || *when[i] < low[i] || *when[i] > high[i]) {
        diagnose(field.column, "the date or time field " + quoted_excerpt(field.text, 20) +
                                   " is not valid; the station's drops are not used");
        return false;
      }
    }
    return true;
  }

  void read_temperatures() {
    F25Temperatures t;
    int flag = 0;
    if (f_.size() < 2 || !to_int(f_[1].text, flag) || (flag != 0 && flag != 1)) {
      diagnose(f_.size() < 2 ? 1 : f_[1].column, "the temperature unit flag is not 0 (C) or 1 (F)");
      return;
    }
    t.fahrenheit = flag == 1;
    std::optional<double>* v[] = {&t.asphalt, &t.surface, &t.air};
    for (std::size_t i = 0; i < 3; ++i) {
      const std::size_t k = i + 2;
      double x = 0;
      if (k >= f_.size() || missing(f_[k]) || f_[k].text.empty()) continue;
      if (!to_double(f_[k].text, x)) {
        diagnose(f_[k].column, "the temperature " + quoted_excerpt(f_[k].text, 20) + " is not a number");
        continue;
      }
      *v[i] = x;
    }
    location_.temperatures = t;
  }

  void read_drop(int sequence) {
    ++drop_lines_in_location_;
    if (!in_location_) {
      reject_drop(1, "a drop line without a valid station line before it");
      return;
    }
    const std::size_t n = columns_.size();
    if (f_.size() < n + 2) {
      reject_drop(1, "the drop has " + std::to_string(f_.size() < 2 ? 0 : f_.size() - 2) +
                                        " deflections, the header names " + std::to_string(n) + " sensors");
      return;
    }
    F25Drop d = location_;
    d.line = line_no();
    d.sequence = sequence;
    d.plate_radius_mm = out_.plate_radius_mm;
    if (missing(f_[1]) || !to_double(f_[1].text, d.stress_kpa)) {
      reject_drop(f_[1].column, "the peak load is not a number");
      return;
    }
    if (!(d.stress_kpa > 0)) {
      reject_drop(f_[1].column, "the peak stress " + quoted_excerpt(f_[1].text, 20) + " kPa is not positive");
      return;
    }
    if (!read_readings(d)) return;
    for (std::size_t i = n + 2; i < f_.size(); ++i) d.extra_fields.push_back(text(f_[i]));
    d.drop_in_location = drop_lines_in_location_;
    judge_plausibility(d);
    out_.drops.push_back(std::move(d));
    previous_drop_ = &out_.drops.back();
  }

  // Each reading is taken from its own sensor's field and listed by offset.
  bool read_readings(F25Drop& d) {
    d.offsets_mm.reserve(order_.size());
    d.deflections_um.reserve(order_.size());
    d.sensor_slots.reserve(order_.size());
    for (std::size_t k : order_) {
      const Field& field = f_[k + 2];
      double v = 0;
      if (missing(field) || !to_double(field.text, v)) {
        reject_drop(field.column, "the deflection of sensor " + std::to_string(columns_[k] + 1) +
                                      " is not a number");
        return false;
      }
      d.offsets_mm.push_back(offset(k));
      d.deflections_um.push_back(v);
      d.sensor_slots.push_back(columns_[k] + 1);
    }
    return true;
  }

  void judge_plausibility(F25Drop& d) {
    if (!judge_basin(d, previous_drop_)) return;
    ++out_.drops_implausible;
    diagnose(1, implausible_message(d));
  }

  void close_location() {
    if (!in_location_) return;
    in_location_ = false;
    closed_drop_lines_ = drop_lines_in_location_;
    if (drop_lines_in_location_ == 0) {
      diagnose_at(location_.station_line, 1, "the station has no drops");
    } else if (drops_of_first_location_ == 0) {
      drops_of_first_location_ = drop_lines_in_location_;
    }
  }
  int closed_drop_lines_ = 0;

  // A file cut in the middle of a station ends with fewer drop lines than
  // the first station has.
  void note_cut_station() {
    if (out_.stations < 2 || closed_drop_lines_ == 0 || closed_drop_lines_ >= drops_of_first_location_)
      return;
    diagnose_at(line_no(), 1,
                "the file ends after " + std::to_string(closed_drop_lines_) + " drop lines of the last station; "
                "the first has " + std::to_string(drops_of_first_location_) + " (the file may be cut)");
  }
};

// log(d) of the straight line through (x1, d1), (x2, d2), at x.
double log_line(double x1, double d1, double x2, double d2, double x) {
  const double t = (x - x1) / (x2 - x1);
  return std::log(d1) + t * (std::log(d2) - std::log(d1));
}

// The largest gap (in log deflection) between a reading and the line through
// its neighbours (the next two for the end sensors), skipping sensor `skip`.
double largest_gap(const std::vector<double>& x, const std::vector<double>& d, std::size_t skip,
                   std::size_t& at) {
  std::vector<std::size_t> keep;
  for (std::size_t i = 0; i < x.size(); ++i)
    if (i != skip) keep.push_back(i);
  const std::size_t n = keep.size();
  double worst = 0;
  at = x.size();
  for (std::size_t k = 0; k < n && n >= 3; ++k) {
    const std::size_t a = keep[k == 0 ? 1 : k == n - 1 ? n - 3 : k - 1];
    const std::size_t b = keep[k == 0 ? 2 : k == n - 1 ? n - 2 : k + 1];
    if (x[a] == x[b]) continue;
    const std::size_t i = keep[k];
    const double gap = std::abs(std::log(d[i]) - log_line(x[a], d[a], x[b], d[b], x[i]));
    if (gap > worst) {
      worst = gap;
      at = i;
    }
  }
  return worst;
}

}  // namespace

// Sensors behind the plate take no part in judging the basin.
bool judge_basin(F25Drop& d, const F25Drop* previous) {
  const auto front = std::size_t(std::lower_bound(d.offsets_mm.begin(), d.offsets_mm.end(), 0.0) -
                                 d.offsets_mm.begin());
  if (front == d.offsets_mm.size()) return false;
  // Copies only when there are sensors behind the plate to leave out.
  std::vector<double> ahead_x, ahead_v;
  if (front > 0) {
    ahead_x.assign(d.offsets_mm.begin() + std::ptrdiff_t(front), d.offsets_mm.end());
    ahead_v.assign(d.deflections_um.begin() + std::ptrdiff_t(front), d.deflections_um.end());
  }
  const std::vector<double>& x = front > 0 ? ahead_x : d.offsets_mm;
  const std::vector<double>& v = front > 0 ? ahead_v : d.deflections_um;
  int suspect = implausible_sensor(x, v);
  if (suspect == 0 && previous != nullptr && previous->deflections_um.size() > front &&
      previous->deflections_um[front] > 0 && previous->stress_kpa > 0 && d.stress_kpa > 0) {
    const double ratio = (v[0] / d.stress_kpa) / (previous->deflections_um[front] / previous->stress_kpa);
    if (!(ratio <= kCentreJump && ratio >= 1.0 / kCentreJump)) suspect = 1;
  }
  if (suspect == 0) return false;
  d.implausible = true;
  d.suspect_sensor = suspect + int(front);
  return true;
}

std::string implausible_message(const F25Drop& d) {
  const double at = d.offsets_mm[std::size_t(d.suspect_sensor - 1)];
  return "the basin is not plausible at the sensor at " + std::to_string(int(std::lround(at))) +
         " mm; the drop is rated and flagged";
}


std::optional<double> F25Temperatures::surface_f() const {
  if (!surface) return std::nullopt;
  return fahrenheit ? *surface : fahrenheit_of_celsius(*surface);
}

double F25Drop::force_kn() const {
  if (load_lb_written) return *load_lb_written * kNewtonsPerPound / 1000.0;
  return stress_kpa * kPi * plate_radius_mm * plate_radius_mm * 1e-6;
}

double F25Drop::force_lb() const {
  if (load_lb_written) return *load_lb_written;
  return force_kn() * 1000.0 / kNewtonsPerPound;
}

std::string F25File::summary() const {
  return std::to_string(drops.size()) + " drops read, " + std::to_string(drops_rejected) + " skipped, " +
         std::to_string(drops_implausible) + " flagged";
}

std::string F25File::metadata_value(std::string_view name) const {
  for (const auto& [key, value] : metadata)
    if (key == name) return value;
  return "";
}

// One glitch spoils the lines through its neighbours too, so the suspect is
// the sensor whose removal leaves the smoothest basin.
int implausible_sensor(const std::vector<double>& x, const std::vector<double>& d, double factor) {
  const std::size_t n = std::min(x.size(), d.size());
  for (std::size_t i = 0; i < n; ++i)
    if (!(d[i] > 0) || !std::isfinite(d[i])) return int(i) + 1;
  if (n < 3) return 0;
  const double limit = std::log(factor);
  std::size_t at = n;
  const std::vector<double> xs(x.begin(), x.begin() + std::ptrdiff_t(n));
  const std::vector<double> ds(d.begin(), d.begin() + std::ptrdiff_t(n));
  if (largest_gap(xs, ds, n, at) <= limit) return 0;
  std::size_t best = at;
  double best_rest = largest_gap(xs, ds, at, at);
  for (std::size_t i = 0; i < n && n > 3; ++i) {
    const double rest = largest_gap(xs, ds, i, at);
    if (rest < best_rest) {
      best_rest = rest;
      best = i;
    }
  }
  return int(best) + 1;
}

F25File read_f25(std::string_view text, std::string_view file) { return Reader(text, file).run(); }

F25File read_f25_file(const std::filesystem::path& path) {
  std::string text, name, why;
  if (field_text::load_file(path, text, name, why)) return read_f25(text, name);
  F25File f;
  f.file = name;
  f.diagnostics.push_back({name, 0, 0, why});
  return f;
}

}  // namespace zalk::io
