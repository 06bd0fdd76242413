#include "io/f25.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cmath>
#include <fstream>
#include <iterator>
#include <numeric>
#include <system_error>

#include "io/platform.h"

namespace zalk::io {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kNewtonsPerPound = 4.4482216152605;
constexpr std::uintmax_t kMaxFileBytes = 256u << 20;
constexpr std::size_t kMaxDiagnostics = 1000;
// A centre reading per unit stress this many times above or below the
// previous drop's at the same location is not believable.
constexpr double kCentreJump = 1.5;

struct Field {
  std::string_view text;  // blanks and quotes stripped
  int column = 0;         // 1-based column where the field starts
  bool quoted = false;
};

bool blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// Splits one line at commas; a field that begins with a double quote runs to
// the closing quote (commas inside are kept).
std::vector<Field> split_fields(std::string_view line) {
  std::vector<Field> fields;
  std::size_t i = 0;
  while (true) {
    const std::size_t start = i;
    while (i < line.size() && blank(line[i])) ++i;
    Field f;
    f.column = int(start) + 1;
    if (i < line.size() && line[i] == '"') {
      const std::size_t close = line.find('"', i + 1);
      const std::size_t end = close == std::string_view::npos ? line.size() : close;
      f.text = line.substr(i + 1, end - i - 1);
      f.quoted = true;
      i = line.find(',', end);
    } else {
      const std::size_t comma = line.find(',', i);
      f.text = trim(line.substr(i, comma == std::string_view::npos ? line.npos : comma - i));
      i = comma;
    }
    fields.push_back(f);
    if (i == std::string_view::npos) break;
    ++i;  // past the comma
  }
  return fields;
}

// "N0" followed by blanks: a number the device did not record.
bool missing(const Field& f) { return !f.quoted && f.text == "N0"; }

bool to_double(std::string_view s, double& v) {
  if (s.empty()) return false;
  if (s.front() == '+') s.remove_prefix(1);
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(v);
}

bool to_int(std::string_view s, int& v) {
  if (s.empty()) return false;
  if (s.front() == '+') s.remove_prefix(1);
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// One pass over the text: header first, then the location groups.
class Reader {
 public:
  Reader(std::string_view text, std::string_view file) : text_(text) { out_.file = file; }

  F25File run() {
    if (!read_header()) return std::move(out_);
    out_.header_ok = true;
    std::string_view line;
    while (next_line(line)) read_body_line(line);
    return std::move(out_);
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  int line_no_ = 0;
  F25File out_;
  std::vector<int> order_;  // present sensor slots (0-based), by offset

  // The current location.
  F25Drop location_;
  bool in_location_ = false;
  bool in_history_ = false;
  std::optional<F25Gps> pending_gps_;
  const F25Drop* previous_drop_ = nullptr;  // the last drop kept at this location

  bool next_line(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    const std::size_t end = text_.find('\n', pos_);
    line = text_.substr(pos_, end == text_.npos ? text_.npos : end - pos_);
    pos_ = end == text_.npos ? text_.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++line_no_;
    return true;
  }

  void diagnose(int column, std::string message) {
    if (out_.diagnostics.size() == kMaxDiagnostics) {
      out_.diagnostics.push_back({out_.file, line_no_, 1, "further diagnostics are not listed"});
    }
    if (out_.diagnostics.size() > kMaxDiagnostics) return;
    out_.diagnostics.push_back({out_.file, line_no_, column, std::move(message)});
  }

  void reject_drop(int column, std::string message) {
    ++out_.drops_rejected;
    diagnose(column, std::move(message) + "; the drop is not used");
  }

  // The line id, or -1 (with a diagnostic) when the line has none.
  int line_id(const std::vector<Field>& f) {
    int id = 0;
    if (f.empty() || !to_int(f[0].text, id) || id < 0) return -1;
    return id;
  }

  bool number(const std::vector<Field>& f, std::size_t i, double& v, std::string_view what) {
    if (i >= f.size()) {
      diagnose(1, "the line ends before its " + std::string(what));
      return false;
    }
    if (missing(f[i]) || !to_double(f[i].text, v)) {
      diagnose(f[i].column, std::string(what) + " is not a number: \"" +
                                std::string(f[i].text.substr(0, 40)) + "\"");
      return false;
    }
    return true;
  }

  // ---- header -----------------------------------------------------------

  bool read_header() {
    std::string_view line;
    if (!next_line(line)) {
      line_no_ = 1;
      diagnose(1, "the file is empty; it is not an F25 file");
      return false;
    }
    std::vector<Field> f = split_fields(line);
    if (line_id(f) != 5001) {
      diagnose(1, "the first line is not a 5001 line; the file is not an F25 file");
      return false;
    }
    if (f.size() > 1) out_.program_edition = std::string(f[1].text);
    int count = 0;
    if (f.size() < 3 || !to_int(f[2].text, count) || count < 2 || count > 10000) {
      diagnose(f.size() < 3 ? 1 : f[2].column,
               "the 5001 line does not give a header line count between 2 and 10000");
      return false;
    }
    out_.header_lines = count;
    bool have_offsets = false;
    out_.sensors.assign(kF25MaxSensors, F25Sensor{});
    for (int k = 2; k <= count; ++k) {
      if (!next_line(line)) {
        diagnose(1, "the header ends at line " + std::to_string(line_no_) + ", before the " +
                        std::to_string(count) + " lines its 5001 line counts");
        return false;
      }
      f = split_fields(line);
      const int id = line_id(f);
      if (id == 5020) {
        if (!read_offsets(f)) return false;
        have_offsets = true;
      } else if (id == 5021) {
        read_y_offsets(f);
      } else if (id >= 5201 && id <= 5200 + kF25MaxSensors) {
        out_.sensors[std::size_t(id - 5201)].name = f.size() > 1 ? std::string(f[1].text) : "";
      } else if (id == 5031 && f.size() > 1) {
        out_.roadway_id = std::string(f[1].text);
      } else if (id == 5032 && f.size() > 1) {
        out_.subsection_id = std::string(f[1].text);
      }
    }
    if (!have_offsets) {
      diagnose(1, "the header has no 5020 line (plate radius and sensor offsets)");
      return false;
    }
    return settle_sensors();
  }

  bool read_offsets(const std::vector<Field>& f) {
    if (!number(f, 1, out_.plate_radius_mm, "the plate radius")) return false;
    if (!(out_.plate_radius_mm > 0)) {
      diagnose(f[1].column, "the plate radius is not positive");
      return false;
    }
    for (int s = 0; s < kF25MaxSensors; ++s) {
      const std::size_t i = std::size_t(s) + 2;
      if (i >= f.size() || missing(f[i]) || f[i].text.empty()) continue;
      F25Sensor& sensor = out_.sensors[std::size_t(s)];
      if (!to_double(f[i].text, sensor.x_offset_mm)) {
        diagnose(f[i].column, "the offset of sensor " + std::to_string(s + 1) + " is not a number");
        return false;
      }
      sensor.present = true;
    }
    return true;
  }

  void read_y_offsets(const std::vector<Field>& f) {
    for (int s = 0; s < kF25MaxSensors; ++s) {
      const std::size_t i = std::size_t(s) + 2;
      if (i < f.size() && !missing(f[i])) to_double(f[i].text, out_.sensors[std::size_t(s)].y_offset_mm);
    }
  }

  // A sensor named "NA" is absent whatever its offset says; the present ones
  // are taken in order of offset.
  bool settle_sensors() {
    for (F25Sensor& s : out_.sensors)
      if (s.name == "NA") s.present = false;
    for (int s = 0; s < kF25MaxSensors; ++s)
      if (out_.sensors[std::size_t(s)].present) order_.push_back(s);
    std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) {
      return out_.sensors[std::size_t(a)].x_offset_mm < out_.sensors[std::size_t(b)].x_offset_mm;
    });
    if (order_.empty()) {
      diagnose(1, "the header names no sensor with an offset");
      return false;
    }
    return true;
  }

  // ---- body ---------------------------------------------------------------

  void read_body_line(std::string_view line) {
    if (trim(line).empty()) return;
    const std::vector<Field> f = split_fields(line);
    const int id = line_id(f);
    if (id < 0) {
      diagnose(1, "the line does not start with a line id; it is not an F25 record");
      return;
    }
    if (in_history_ && id >= 1001 && id <= 4999) return;
    in_history_ = false;
    if (id < 1000) return read_drop(f, id);
    if (id >= 7000 && id <= 7999) return;  // comment objects
    switch (id) {
      case 5185: in_history_ = true; return;
      case 5280: return read_gps(f);
      case 5301: return read_station(f);
      case 5302: location_.comment = f.size() > 1 ? std::string(f[1].text) : ""; return;
      case 5303: return read_temperatures(f);
      default:
        diagnose(1, "line id " + std::to_string(id) + " is not one this reader uses; skipped");
    }
  }

  void read_gps(const std::vector<Field>& f) {
    F25Gps g;
    double* v[] = {&g.failure_cause, &g.utc_seconds_of_week, &g.latitude, &g.longitude, &g.height};
    const char* what[] = {"the GPS failure cause", "the GPS time", "the latitude", "the longitude",
                          "the height"};
    for (std::size_t i = 0; i < 5; ++i)
      if (!number(f, i + 1, *v[i], what[i])) return;
    pending_gps_ = g;
  }

  void read_station(const std::vector<Field>& f) {
    in_location_ = false;
    location_ = F25Drop{};
    location_.gps = pending_gps_;
    pending_gps_.reset();
    if (f.size() < 10) {
      diagnose(1, "the station line has " + std::to_string(f.size()) +
                      " fields, 10 expected; its drops are not used");
      return;
    }
    location_.side = std::string(f[1].text);
    location_.station_kind = std::string(f[2].text);
    location_.lane = std::string(f[4].text);
    if (!number(f, 3, location_.station, "the station")) return;
    int* when[] = {&location_.year, &location_.month, &location_.day, &location_.hour,
                   &location_.minute};
    const int low[] = {1900, 1, 1, 0, 0}, high[] = {2999, 12, 31, 23, 59};
    for (std::size_t i = 0; i < 5; ++i) {
      const Field& field = f[5 + i];
      if (!to_int(field.text, *when[i]) || *when[i] < low[i] || *when[i] > high[i]) {
        diagnose(field.column, "the date or time field \"" + std::string(field.text.substr(0, 20)) +
                                   "\" is not valid; the station's drops are not used");
        return;
      }
    }
    location_.location = ++location_count_;
    in_location_ = true;
    previous_drop_ = nullptr;
    drop_lines_in_location_ = 0;
  }
  int location_count_ = 0;
  int drop_lines_in_location_ = 0;

  void read_temperatures(const std::vector<Field>& f) {
    F25Temperatures t;
    int flag = 0;
    if (f.size() < 2 || !to_int(f[1].text, flag) || (flag != 0 && flag != 1)) {
      diagnose(f.size() < 2 ? 1 : f[1].column, "the temperature unit flag is not 0 (C) or 1 (F)");
      return;
    }
    t.fahrenheit = flag == 1;
    std::optional<double>* v[] = {&t.asphalt, &t.surface, &t.air};
    for (std::size_t i = 0; i < 3; ++i) {
      const std::size_t k = i + 2;
      double x = 0;
      if (k >= f.size() || missing(f[k]) || f[k].text.empty()) continue;
      if (!to_double(f[k].text, x)) {
        diagnose(f[k].column, "the temperature \"" + std::string(f[k].text.substr(0, 20)) +
                                  "\" is not a number");
        continue;
      }
      *v[i] = x;
    }
    location_.temperatures = t;
  }

  void read_drop(const std::vector<Field>& f, int sequence) {
    ++drop_lines_in_location_;
    if (!in_location_) {
      reject_drop(1, "a drop line without a valid station line before it");
      return;
    }
    const std::size_t n = order_.size();
    if (f.size() < n + 2) {
      reject_drop(1, "the drop has " + std::to_string(f.size() < 2 ? 0 : f.size() - 2) +
                         " deflections, the header names " + std::to_string(n) + " sensors");
      return;
    }
    F25Drop d = location_;
    d.line = line_no_;
    d.sequence = sequence;
    d.plate_radius_mm = out_.plate_radius_mm;
    if (missing(f[1]) || !to_double(f[1].text, d.stress_kpa)) {
      reject_drop(f[1].column, "the peak load is not a number");
      return;
    }
    d.offsets_mm.reserve(n);
    d.deflections_um.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
      const Field& field = f[i + 2];
      double v = 0;
      if (missing(field) || !to_double(field.text, v)) {
        reject_drop(field.column, "the deflection of sensor " + std::to_string(order_[i] + 1) +
                                      " is not a number");
        return;
      }
      d.offsets_mm.push_back(out_.sensors[std::size_t(order_[i])].x_offset_mm);
      d.deflections_um.push_back(v);
    }
    d.drop_in_location = drop_lines_in_location_;
    judge_plausibility(d);
    out_.drops.push_back(std::move(d));
    previous_drop_ = &out_.drops.back();
  }

  void judge_plausibility(F25Drop& d) {
    int suspect = implausible_sensor(d.offsets_mm, d.deflections_um);
    if (suspect == 0 && previous_drop_ != nullptr && d.stress_kpa > 0 &&
        previous_drop_->stress_kpa > 0 && previous_drop_->deflections_um[0] > 0) {
      const double ratio = (d.deflections_um[0] / d.stress_kpa) /
                           (previous_drop_->deflections_um[0] / previous_drop_->stress_kpa);
      if (!(ratio <= kCentreJump && ratio >= 1.0 / kCentreJump)) suspect = 1;
    }
    if (suspect == 0) return;
    d.implausible = true;
    d.suspect_sensor = suspect;
    ++out_.drops_implausible;
    diagnose(1, "the basin is not plausible at the sensor at " +
                    std::to_string(int(std::lround(d.offsets_mm[std::size_t(suspect - 1)]))) +
                    " mm; the drop is rated and flagged");
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

std::optional<double> F25Temperatures::surface_f() const {
  if (!surface) return std::nullopt;
  return fahrenheit ? *surface : *surface * 9.0 / 5.0 + 32.0;
}

double F25Drop::force_kn() const {
  return stress_kpa * kPi * plate_radius_mm * plate_radius_mm * 1e-6;
}

double F25Drop::force_lb() const { return force_kn() * 1000.0 / kNewtonsPerPound; }

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
  const std::string name = platform::display_name(path);
  auto refuse = [&](const std::string& why) {
    F25File f;
    f.file = name;
    f.diagnostics.push_back({name, 0, 0, why});
    return f;
  };
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return refuse("not a readable regular file");
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) return refuse("its size cannot be read");
  if (size > kMaxFileBytes) return refuse("larger than 256 MB; not an F25 file");
  std::ifstream in(path, std::ios::binary);
  if (!in) return refuse("cannot be opened");
  std::string text(static_cast<std::size_t>(size), '\0');
  in.read(text.data(), std::streamsize(size));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return read_f25(text, name);
}

}  // namespace zalk::io
