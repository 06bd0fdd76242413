#include "rating/survey.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>
#include <queue>
#include <utility>

#include "rating/sensor_layout.h"
#include "toolkit/splez.h"

namespace zalk::rating::survey {
namespace {

constexpr int kShapePreserving = 3;
constexpr int kSplineMinSensors = 4;  // the fewest points the kind takes

// ------------------------------------------------------------ messages

struct FlagMessage {
  DropFlag flag;
  const char* name;
  const char* text;
};
constexpr std::array<FlagMessage, kDropFlagCount> kFlagMessages{{
    {kInterpolated, "interpolated",
     "an index offset has no sensor; its deflection comes from the shape-preserving spline"},
    {kBadLayout, "bad_layout",
     "the offsets do not increase, differ in number from the deflections, or hold a value that "
     "is not a number; the drop has no results"},
    {kBadCentreDeflection, "bad_d0",
     "no sensor at the load centre, or D(0) is zero or less; the drop has no results"},
    {kBadLoad, "bad_load", "the load is not a positive number; the drop has no AASHTO 93 results"},
    {kOffsetOutsideBasin, "offset_outside_basin",
     "an index needs a deflection beyond the outer sensors; that index is left blank"},
    {kNoSensorBeyondPlate, "no_sensor_beyond_plate",
     "no sensor lies beyond the plate to give M_R; the drop has no AASHTO 93 results"},
    {kMrSensorTooClose, "mr_sensor_too_close",
     "no sensor lies at 0.7 a_e or beyond; M_R is from the outermost sensor"},
    {kBadThickness, "bad_thickness",
     "the thickness above the subgrade is not a positive number; E_p, a_e and SN_eff are blank"},
    {kBadSensorDeflection, "bad_mr_deflection",
     "every sensor beyond the plate reads zero or less; the drop has no AASHTO 93 results"},
    {kBadPlate, "bad_plate", "the plate radius is not a positive number; the drop has no AASHTO 93 results"},
}};

struct IssueMessage {
  SectionIssue issue;
  const char* format;  // %1$g: the value, %2$g: the previous station or the survey's length
};
constexpr std::array<IssueMessage, 7> kIssueMessages{{
    {SectionIssue::kStationNotFinite, "the station is not a number; the drop is left out of the sectioning"},
    {SectionIssue::kStationDecreasing,
     "station %1$.10g is lower than the station before it (%2$.10g); the drop is left out of the "
     "sectioning"},
    {SectionIssue::kValueNotFinite,
     "the drop at station %1$.10g has no value of the column; it does not count in the station's mean"},
    {SectionIssue::kStationWithoutValue,
     "no drop at station %1$.10g has a value of the column; the station is left out of the sectioning"},
    {SectionIssue::kTooFewStations,
     "fewer than two stations have a value of the column; the survey is one unit"},
    {SectionIssue::kMinLengthBeyondSurvey,
     "the minimum length %1$.10g is longer than the survey (%2$.10g); the survey is one unit"},
    {SectionIssue::kCountsDiffer,
     "%1$.10g stations but %2$.10g values; only the drops that have both are sectioned"},
}};

// ------------------------------------------------------------ the basin

// Index of the sensor within the layout tolerance of `offset`, or -1.
int sensor_at(std::span<const double> offsets, double offset) {
  for (std::size_t i = 0; i < offsets.size(); ++i)
    if (std::abs(offsets[i] - offset) <= kOffsetToleranceIn) return int(i);
  return -1;
}

bool layout_ok(const Drop& d) {
  const auto& x = d.offsets_in;
  const auto& y = d.deflections_mils;
  if (x.size() != y.size() || x.empty()) return false;
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (!std::isfinite(x[i]) || !std::isfinite(y[i])) return false;
    if (i > 0 && !(x[i] > x[i - 1])) return false;
  }
  return true;
}

// D(0): the centre sensor's reading, or NaN with the flag set.
double centre_deflection(const Drop& d, unsigned& flags) {
  const int i = sensor_at(d.offsets_in, 0.0);
  const double d0 = i < 0 ? kNaN : d.deflections_mils[std::size_t(i)];
  if (!(d0 > 0)) {
    flags |= kBadCentreDeflection;
    return kNaN;
  }
  return d0;
}

// Deflections at 12, 24 and 36 in: the sensors there, the spline elsewhere
// within the basin, NaN (flagged) beyond it.
std::array<double, 3> ring_deflections(const Drop& d, unsigned& flags) {
  constexpr std::array<double, 3> kRings{12.0, 24.0, 36.0};
  std::array<double, 3> out{kNaN, kNaN, kNaN};
  std::array<double, 3> wanted{};
  std::array<std::size_t, 3> slot{};
  int missing = 0;
  const auto& x = d.offsets_in;
  for (std::size_t k = 0; k < kRings.size(); ++k) {
    const int i = sensor_at(x, kRings[k]);
    if (i >= 0) {
      out[k] = d.deflections_mils[std::size_t(i)];
    } else if (x.size() >= kSplineMinSensors && kRings[k] > x.front() && kRings[k] < x.back()) {
      wanted[std::size_t(missing)] = kRings[k];
      slot[std::size_t(missing++)] = k;
    } else {
      flags |= kOffsetOutsideBasin;
    }
  }
  if (missing > 0) {
    std::array<double, 3> got{};
    toolkit::DSPLEZ(int(x.size()), x.data(), d.deflections_mils.data(), kShapePreserving, 0, missing,
                    wanted.data(), got.data());
    for (int m = 0; m < missing; ++m) out[slot[std::size_t(m)]] = got[std::size_t(m)];
    flags |= kInterpolated;
  }
  return out;
}

// The sensors that may give M_R, inside out: beyond the plate and reading
// more than zero. Flags the drop when there are none.
std::vector<std::size_t> mr_candidates(const Drop& d, double plate_radius_in, unsigned& flags) {
  std::vector<std::size_t> out;
  bool beyond_plate = false;
  for (std::size_t i = 0; i < d.offsets_in.size(); ++i) {
    if (!(d.offsets_in[i] > plate_radius_in)) continue;
    beyond_plate = true;
    if (d.deflections_mils[i] > 0) out.push_back(i);
  }
  if (!beyond_plate)
    flags |= kNoSensorBeyondPlate;
  else if (out.empty())
    flags |= kBadSensorDeflection;
  return out;
}

// ------------------------------------------------------------ E_p

// d_0 M_R / (1.5 p a) as a function of u = (E_p/M_R)^(1/3); decreasing
// from infinity at u -> 0 to 0 at u -> infinity.
struct ModulusRatioEquation {
  double slenderness;  // D / a
  double stiff_part;   // 1 - 1/sqrt(1 + (D/a)^2)
  double target;       // d_0 M_R / (1.5 p a)

  double residual(double u) const {
    const double s = slenderness * u;
    return 1.0 / std::sqrt(1.0 + s * s) + stiff_part / (u * u * u) - target;
  }
};

// Brent's method on [a, b] with f(a) and f(b) of opposite signs (or zero):
// inverse quadratic or secant steps kept inside the bracket, bisection when
// they do not shrink it fast enough. Stops when the bracket is below
// rel_tol |b| (plus the smallest normal number, for a root at zero).
template <class F>
double bracketed_root(const F& f, double a, double b, double rel_tol) {
  double fa = f(a), fb = f(b);
  if (fa == 0) return a;
  if (fb == 0) return b;
  double c = a, fc = fa, d = b - a, e = d;
  for (int iter = 0; iter < 200; ++iter) {
    if ((fb > 0) == (fc > 0)) {
      c = a;
      fc = fa;
      d = e = b - a;
    }
    if (std::abs(fc) < std::abs(fb)) {
      a = b;
      b = c;
      c = a;
      fa = fb;
      fb = fc;
      fc = fa;
    }
    const double tol = 2 * std::numeric_limits<double>::epsilon() * std::abs(b) +
                       0.5 * rel_tol * std::abs(b) + std::numeric_limits<double>::min();
    const double m = 0.5 * (c - b);
    if (std::abs(m) <= tol || fb == 0) return b;
    if (std::abs(e) >= tol && std::abs(fa) > std::abs(fb)) {
      double p, q;
      const double s = fb / fa;
      if (a == c) {
        p = 2 * m * s;
        q = 1 - s;
      } else {
        const double qa = fa / fc, r = fb / fc;
        p = s * (2 * m * qa * (qa - r) - (b - a) * (r - 1));
        q = (qa - 1) * (r - 1) * (s - 1);
      }
      if (p > 0) q = -q;
      p = std::abs(p);
      if (2 * p < std::min(3 * m * q - std::abs(tol * q), std::abs(e * q))) {
        e = d;
        d = p / q;
      } else {
        d = e = m;
      }
    } else {
      d = e = m;
    }
    a = b;
    fa = fb;
    b += std::abs(d) > tol ? d : (m > 0 ? tol : -tol);
    fb = f(b);
  }
  return b;
}

bool positive(double v) { return v > 0 && std::isfinite(v); }

// ------------------------------------------------------------ sections

// Stations in input order, equal stations merged, decreasing ones and
// drops without a value reported.
std::vector<StationPoint> collect_stations(std::span<const double> stations,
                                           std::span<const double> values,
                                           std::vector<SectionProblem>& problems) {
  std::vector<StationPoint> out;
  double last = -std::numeric_limits<double>::infinity();
  double sum = 0;
  std::size_t counted = 0;
  auto close_station = [&] {
    if (out.empty()) return;
    StationPoint& s = out.back();
    if (counted == 0) {
      problems.push_back({SectionIssue::kStationWithoutValue, s.first_drop, s.station, kNaN});
      out.pop_back();
    } else {
      s.value = sum / double(counted);
    }
    sum = 0;
    counted = 0;
  };
  const std::size_t n = std::min(stations.size(), values.size());
  for (std::size_t i = 0; i < n; ++i) {
    const double x = stations[i];
    if (!std::isfinite(x)) {
      problems.push_back({SectionIssue::kStationNotFinite, i, x, kNaN});
      continue;
    }
    if (x < last) {
      problems.push_back({SectionIssue::kStationDecreasing, i, x, last});
      continue;
    }
    if (out.empty() || x > last) {
      close_station();
      out.push_back({x, kNaN, kNaN, kNaN, i, i});
      last = x;
    }
    out.back().last_drop = i;
    if (std::isfinite(values[i])) {
      sum += values[i];
      ++counted;
    } else {
      problems.push_back({SectionIssue::kValueNotFinite, i, x, kNaN});
    }
  }
  close_station();
  return out;
}

// Widths and Z; prefix sums of width and of value times width returned for
// the units' lengths and means.
void cumulative_differences(std::vector<StationPoint>& st, std::vector<double>& width_sum,
                            std::vector<double>& area_sum) {
  const std::size_t n = st.size();
  width_sum.assign(n + 1, 0.0);
  area_sum.assign(n + 1, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    const double left = i == 0 ? st[i].station : 0.5 * (st[i - 1].station + st[i].station);
    const double right = i + 1 == n ? st[i].station : 0.5 * (st[i].station + st[i + 1].station);
    st[i].width = right - left;
    width_sum[i + 1] = width_sum[i] + st[i].width;
    area_sum[i + 1] = area_sum[i] + st[i].value * st[i].width;
  }
  const double mean = area_sum[n] / width_sum[n];
  for (std::size_t i = 0; i < n; ++i) {
    const double right = i + 1 == n ? st[i].station : 0.5 * (st[i].station + st[i + 1].station);
    st[i].z = area_sum[i + 1] - mean * (right - st[0].station);
  }
}

int sign(double v) { return (v > 0) - (v < 0); }

// Last stations of the units: the strict local extrema of Z, and the end.
std::vector<std::size_t> unit_ends(const std::vector<StationPoint>& st) {
  std::vector<std::size_t> ends;
  for (std::size_t i = 1; i + 1 < st.size(); ++i) {
    const int before = sign(st[i].z - st[i - 1].z), after = sign(st[i + 1].z - st[i].z);
    if (before != 0 && after != 0 && before != after) ends.push_back(i);
  }
  ends.push_back(st.size() - 1);
  return ends;
}

// Merges units shorter than min_length, the shortest first, into the
// neighbour with the closer mean. Units live in a doubly linked list; the
// candidates, keyed by (length, first station), in a binary heap whose
// entries go stale when their unit changes (and are then passed over), so
// the whole pass takes O(units log units) with a small constant.
class UnitMerger {
 public:
  UnitMerger(std::vector<Unit> units, const std::vector<double>& width_sum,
             const std::vector<double>& area_sum)
      : units_(std::move(units)), width_sum_(width_sum), area_sum_(area_sum) {
    const std::size_t n = units_.size();
    prev_.resize(n);
    next_.resize(n);
    alive_.assign(n, true);
    for (std::size_t u = 0; u < n; ++u) {
      prev_[u] = u == 0 ? kNone : u - 1;
      next_[u] = u + 1 == n ? kNone : u + 1;
      queue_.push(key(u));
    }
    live_ = n;
  }

  std::vector<Unit> merge_shorter_than(double min_length) {
    while (live_ > 1 && !queue_.empty()) {
      const Key top = queue_.top();
      const std::size_t u = top.second;
      if (!alive_[u] || top != key(u)) {
        queue_.pop();
        continue;
      }
      if (!(units_[u].length < min_length)) break;
      queue_.pop();
      const std::size_t into = closer_neighbour(u);
      join(std::min(u, into), std::max(u, into));
    }
    std::vector<Unit> out;
    for (std::size_t u = 0; u < units_.size(); ++u)
      if (alive_[u]) out.push_back(units_[u]);
    return out;
  }

 private:
  static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
  using Key = std::pair<std::pair<double, std::size_t>, std::size_t>;
  using Heap = std::priority_queue<Key, std::vector<Key>, std::greater<Key>>;

  Key key(std::size_t u) const { return {{units_[u].length, units_[u].first_station}, u}; }

  std::size_t closer_neighbour(std::size_t u) const {
    const std::size_t p = prev_[u], n = next_[u];
    if (p == kNone) return n;
    if (n == kNone) return p;
    const double to_prev = std::abs(units_[p].mean - units_[u].mean);
    const double to_next = std::abs(units_[n].mean - units_[u].mean);
    return to_next < to_prev ? n : p;
  }

  // Right (the later unit) joins left; left is recomputed from the sums.
  void join(std::size_t left, std::size_t right) {
    Unit& l = units_[left];
    const Unit& r = units_[right];
    l.last_station = r.last_station;
    l.station_to = r.station_to;
    l.length = width_sum_[l.last_station + 1] - width_sum_[l.first_station];
    l.mean = (area_sum_[l.last_station + 1] - area_sum_[l.first_station]) / l.length;
    alive_[right] = false;
    next_[left] = next_[right];
    if (next_[right] != kNone) prev_[next_[right]] = left;
    --live_;
    queue_.push(key(left));
  }

  std::vector<Unit> units_;
  const std::vector<double>& width_sum_;
  const std::vector<double>& area_sum_;
  std::vector<std::size_t> prev_, next_;
  std::vector<bool> alive_;
  Heap queue_;
  std::size_t live_ = 0;
};

Unit make_unit(const std::vector<StationPoint>& st, std::size_t first, std::size_t last,
               const std::vector<double>& width_sum, const std::vector<double>& area_sum) {
  Unit u;
  u.first_station = first;
  u.last_station = last;
  u.station_from = st[first].station;
  u.station_to = st[last].station;
  u.length = width_sum[last + 1] - width_sum[first];
  u.mean = u.length > 0 ? (area_sum[last + 1] - area_sum[first]) / u.length : st[first].value;
  return u;
}

}  // namespace

// ------------------------------------------------------------ flags

std::string flag_name(DropFlag flag) {
  for (const FlagMessage& m : kFlagMessages)
    if (m.flag == flag) return m.name;
  return "unknown";
}

std::string flag_text(DropFlag flag) {
  for (const FlagMessage& m : kFlagMessages)
    if (m.flag == flag) return m.text;
  return "unknown flag";
}

std::string flag_names(unsigned flags) {
  std::string out;
  for (const FlagMessage& m : kFlagMessages) {
    if ((flags & m.flag) == 0) continue;
    if (!out.empty()) out += '|';
    out += m.name;
  }
  return out;
}

std::string section_issue_text(SectionIssue issue, double value, double previous) {
  for (const IssueMessage& m : kIssueMessages) {
    if (m.issue != issue) continue;
    char buf[256];
    std::snprintf(buf, sizeof buf, m.format, value, previous);
    return buf;
  }
  return "unknown issue";
}

// ------------------------------------------------------------ indices

Indices basin_indices(const Drop& drop, double reference_load_lb) {
  Indices r;
  if (!layout_ok(drop)) {
    r.flags |= kBadLayout;
    return r;
  }
  const double d0 = centre_deflection(drop, r.flags);
  if (!(d0 > 0)) return r;
  const auto [d12, d24, d36] = ring_deflections(drop, r.flags);
  r.d0_mils = d0;
  r.sci_mils = d0 - d12;
  r.bdi_mils = d12 - d24;
  r.bci_mils = d24 - d36;
  r.area_in = 6.0 * (1.0 + 2.0 * d12 / d0 + 2.0 * d24 / d0 + d36 / d0);
  if (positive(reference_load_lb)) {
    if (!positive(drop.load_lb)) {
      r.flags |= kBadLoad;
      return r;
    }
    const double scale = reference_load_lb / drop.load_lb;
    r.d0_norm = r.d0_mils * scale;
    r.sci_norm = r.sci_mils * scale;
    r.bdi_norm = r.bdi_mils * scale;
    r.bci_norm = r.bci_mils * scale;
    r.area_norm = r.area_in;
  }
  return r;
}

// ------------------------------------------------------------ AASHTO 93

double subgrade_modulus(double load_lb, double deflection_in, double offset_in) {
  return 0.24 * load_lb / (deflection_in * offset_in);
}

double pavement_modulus(double d0_in, double pressure_psi, double plate_radius_in,
                        double thickness_in, double mr_psi) {
  if (!positive(d0_in) || !positive(pressure_psi) || !positive(plate_radius_in) ||
      !positive(thickness_in) || !positive(mr_psi))
    return kNaN;
  const double slenderness = thickness_in / plate_radius_in;
  const ModulusRatioEquation eq{slenderness,
                                1.0 - 1.0 / std::sqrt(1.0 + slenderness * slenderness),
                                d0_in * mr_psi / (1.5 * pressure_psi * plate_radius_in)};
  // The residual lies above c/u^3 - T and below 1/(s u) + c/u^3 - T, which
  // gives a bracket in closed form: at u_lo = (c/T)^(1/3) it is >= 0, at
  // u_hi, where each upper term is at most T/2, it is <= 0.
  const double c = eq.stiff_part, t = eq.target;
  const double u_lo = std::cbrt(c / t);
  const double u_hi = std::max(2.0 / (slenderness * t), std::cbrt(2.0 * c / t));
  if (!positive(u_lo) || !positive(u_hi)) return kNaN;
  const double u = bracketed_root([&eq](double v) { return eq.residual(v); }, u_lo, u_hi, 1e-12);
  return mr_psi * u * u * u;
}

double effective_radius(double plate_radius_in, double thickness_in, double ep_psi, double mr_psi) {
  const double reach = thickness_in * std::cbrt(ep_psi / mr_psi);
  return std::sqrt(plate_radius_in * plate_radius_in + reach * reach);
}

double effective_structural_number(double thickness_in, double ep_psi) {
  return 0.0045 * thickness_in * std::cbrt(ep_psi);
}

Aashto93 aashto93(const Drop& drop, const AashtoOptions& options) {
  Aashto93 r;
  if (!layout_ok(drop)) {
    r.flags |= kBadLayout;
    return r;
  }
  const double d0_mils = centre_deflection(drop, r.flags);
  if (!positive(drop.load_lb)) r.flags |= kBadLoad;
  if (!positive(options.thickness_in)) r.flags |= kBadThickness;
  const double a = options.plate_radius_in;
  if (!positive(a)) r.flags |= kBadPlate;
  const std::vector<std::size_t> candidates = mr_candidates(drop, a, r.flags);
  if (r.flags & (kBadCentreDeflection | kBadLoad | kNoSensorBeyondPlate | kBadSensorDeflection | kBadPlate))
    return r;

  const double pressure = drop.load_lb / (std::numbers::pi * a * a);
  const double d0_in = d0_mils / 1000.0;
  auto use_sensor = [&](std::size_t i) {
    r.mr_offset_in = drop.offsets_in[i];
    r.mr_psi = subgrade_modulus(drop.load_lb, drop.deflections_mils[i] / 1000.0, r.mr_offset_in);
    r.mr_design_psi = options.design_factor * r.mr_psi;
    if (r.flags & kBadThickness) return;
    r.ep_psi = pavement_modulus(d0_in, pressure, a, options.thickness_in, r.mr_psi);
    r.ae_in = effective_radius(a, options.thickness_in, r.ep_psi, r.mr_psi);
    r.sneff = effective_structural_number(options.thickness_in, r.ep_psi);
  };
  if (r.flags & kBadThickness) {
    // Without D there is no a_e to choose by: the outermost sensor, the one
    // the pavement above affects least, gives M_R.
    use_sensor(candidates.back());
    return r;
  }
  for (std::size_t i : candidates) {
    use_sensor(i);
    if (drop.offsets_in[i] >= kEffectiveRadiusShare * r.ae_in) return r;
  }
  r.flags |= kMrSensorTooClose;  // the outermost stands, as computed last
  return r;
}

// ------------------------------------------------------------ sections

Segmentation segment(std::span<const double> stations, std::span<const double> values,
                     double min_length) {
  Segmentation s;
  if (stations.size() != values.size())
    s.problems.push_back(
        {SectionIssue::kCountsDiffer, kWholeSurvey, double(stations.size()), double(values.size())});
  s.stations = collect_stations(stations, values, s.problems);
  s.drop_unit.assign(std::min(stations.size(), values.size()), -1);
  std::vector<StationPoint>& st = s.stations;
  if (st.empty()) {
    s.problems.push_back({SectionIssue::kTooFewStations, kWholeSurvey, kNaN, kNaN});
    return s;
  }
  std::vector<double> width_sum, area_sum;
  std::vector<Unit> units;
  if (st.size() < 2) {
    s.problems.push_back({SectionIssue::kTooFewStations, kWholeSurvey, kNaN, kNaN});
    st[0].width = 0;
    width_sum = {0, 0};
    area_sum = {0, 0};
    units.push_back(make_unit(st, 0, 0, width_sum, area_sum));
  } else {
    cumulative_differences(st, width_sum, area_sum);
    const double survey_length = width_sum.back();
    if (min_length > survey_length)
      s.problems.push_back({SectionIssue::kMinLengthBeyondSurvey, kWholeSurvey, min_length, survey_length});
    std::size_t first = 0;
    for (std::size_t end : unit_ends(st)) {
      units.push_back(make_unit(st, first, end, width_sum, area_sum));
      first = end + 1;
    }
    units = UnitMerger(std::move(units), width_sum, area_sum).merge_shorter_than(min_length);
  }
  s.units = std::move(units);

  // A station's drops run from its first to its last, less any left out
  // between them (a lower station between two equal ones).
  std::vector<bool> left_out(s.drop_unit.size(), false);
  for (const SectionProblem& p : s.problems)
    if (p.issue == SectionIssue::kStationNotFinite || p.issue == SectionIssue::kStationDecreasing)
      left_out[p.drop] = true;
  for (std::size_t u = 0; u < s.units.size(); ++u)
    for (std::size_t k = s.units[u].first_station; k <= s.units[u].last_station; ++k)
      for (std::size_t i = st[k].first_drop; i <= st[k].last_drop; ++i)
        if (!left_out[i]) {
          s.drop_unit[i] = int(u);
          ++s.units[u].drops;
        }
  return s;
}

// ------------------------------------------------------------ statistics

Statistics describe(std::vector<double> values) {
  std::erase_if(values, [](double v) { return !std::isfinite(v); });
  Statistics s;
  s.n = values.size();
  if (s.n == 0) return s;
  double sum = 0;
  for (double v : values) sum += v;
  s.mean = sum / double(s.n);
  if (s.n > 1) {
    double sq = 0;
    for (double v : values) sq += (v - s.mean) * (v - s.mean);
    s.sd = std::sqrt(sq / double(s.n - 1));
    s.cv = s.sd / s.mean;
  }
  std::sort(values.begin(), values.end());
  auto percentile = [&values](double p) {
    const double h = double(values.size() - 1) * p;
    const std::size_t lo = std::size_t(h);
    const double frac = h - double(lo);
    if (lo + 1 >= values.size()) return values.back();
    return values[lo] + frac * (values[lo + 1] - values[lo]);
  };
  s.p15 = percentile(0.15);
  s.p85 = percentile(0.85);
  return s;
}

std::vector<Statistics> unit_statistics(const Segmentation& segmentation,
                                        std::span<const double> column) {
  std::vector<std::vector<double>> per_unit(segmentation.units.size());
  const std::size_t n = std::min(column.size(), segmentation.drop_unit.size());
  for (std::size_t i = 0; i < n; ++i)
    if (segmentation.drop_unit[i] >= 0) per_unit[std::size_t(segmentation.drop_unit[i])].push_back(column[i]);
  std::vector<Statistics> out;
  out.reserve(per_unit.size());
  for (auto& v : per_unit) out.push_back(describe(std::move(v)));
  return out;
}

}  // namespace zalk::rating::survey
