#include "api/checks.h"

#include <cmath>

#include "api/guard.h"

namespace zalk::detail {
namespace {

std::string between(double lo, double hi, const char* unit) {
  return "must lie between " + number_text(lo) + " and " + number_text(hi) + unit;
}

// Refuses `value` of `what` with message `m` unless lo <= value <= hi.
void within(const char* what, double value, double lo, double hi, const char* unit, ApiMessage m, int index) {
  if (value >= lo && value <= hi) return;
  if (index > 0) toolkit::E1STI(1, index);
  toolkit::E1STL(1, what);
  toolkit::E1STL(2, number_text(value));
  toolkit::E1STL(3, between(lo, hi, unit));
  refuse(m);
}

void seasons_within(const char* const names[5], const Seasonal& v, double lo, double hi, const char* unit,
                    ApiMessage m, int index) {
  for (std::size_t i = 0; i < 5; ++i) within(names[i], v[i], lo, hi, unit, m, index);
}

[[noreturn]] void refuse_setting(const std::string& what, double value, const std::string& rule) {
  toolkit::E1STL(1, what);
  toolkit::E1STL(2, number_text(value));
  toolkit::E1STL(3, rule);
  refuse(ApiMessage::fit_setting);
}

[[noreturn]] void refuse_reach(ApiMessage m, int index, const char* axis, double value) {
  toolkit::E1STI(1, index);
  toolkit::E1STL(1, axis);
  toolkit::E1STL(2, number_text(value));
  toolkit::E1STL(3, number_text(kFarthestCoordinateIn) + " in (254 m)");
  refuse(m);
}

void reach(ApiMessage m, int index, const char* axis, double value, double inches_per_unit) {
  if (std::fabs(value) * inches_per_unit <= kFarthestCoordinateIn) return;
  refuse_reach(m, index, axis, value);
}

constexpr const char* kDegrees = " (degrees F)";

}  // namespace

void check_section_ranges(const Section& s, ApiMessage m, int index) {
  static const char* const days[5] = {"days of fall", "days of winter", "days of spring 1",
                                      "days of spring 2", "days of summer"};
  static const char* const air[5] = {"air temperature of fall", "air temperature of winter",
                                     "air temperature of spring 1", "air temperature of spring 2",
                                     "air temperature of summer"};
  static const char* const base[5] = {"base factor of fall", "base factor of winter", "base factor of spring 1",
                                      "base factor of spring 2", "base factor of summer"};
  static const char* const sub[5] = {"subgrade factor of fall", "subgrade factor of winter",
                                     "subgrade factor of spring 1", "subgrade factor of spring 2",
                                     "subgrade factor of summer"};
  seasons_within(days, s.days, 0.0, kMostDays, "", m, index);
  within("surface thickness", s.surface_thickness_in, kThinnestSurfaceIn, kThickestSurfaceIn, " (in)", m, index);
  within("base thickness", s.base_thickness_in, kThinnestBaseIn, kThickestBaseIn, " (in)", m, index);
  seasons_within(air, s.air_temperature_f, kLowestTemperatureF, kHighestTemperatureF, kDegrees, m, index);
  within("previous day's air temperature", s.previous_day_air_f, kLowestTemperatureF, kHighestTemperatureF,
         kDegrees, m, index);
  seasons_within(base, s.base_factor, kSmallestFactor, kLargestFactor, "", m, index);
  seasons_within(sub, s.subgrade_factor, kSmallestFactor, kLargestFactor, "", m, index);
}

void check_test_ranges(const DeflectionTest& t, int j, ApiMessage m, bool fit) {
  within("load", t.load_lb, kSmallestLoadLb, kLargestLoadLb, " (lb)", m, j);
  for (double x : t.sensor_offsets_in)
    within("sensor offset", x, -kFarthestSensorIn, kFarthestSensorIn, " (in)", m, j);
  if (!fit)
    for (double d : t.deflections_mils) within("deflection", d, 0.0, kLargestDeflectionMils, " (mils)", m, j);
  within("repetitions per year", t.reps_per_year, 0.0, kMostRepetitions, "", m, j);
  within("surface temperature", t.surface_temperature_f, kLowestTemperatureF, kHighestTemperatureF, kDegrees, m,
         j);
}

void check_fit_settings(const FitSettings& f) {
  if (f.depth != DepthSearch::candidates && f.depth != DepthSearch::continuous && f.depth != DepthSearch::global)
    refuse_setting("depth", double(int(f.depth)), "is not one of the depth searches this library knows");
  if (!(f.refined_depths >= 1 && f.refined_depths <= 8))
    refuse_setting("refined_depths", double(f.refined_depths), "must lie between 1 and 8");
  static const char* const layer[3] = {"surface", "base", "subgrade"};
  for (std::size_t i = 0; i < 3; ++i) {
    const std::string lo = std::string("lower bound of the ") + layer[i] + " modulus";
    const std::string hi = std::string("upper bound of the ") + layer[i] + " modulus";
    if (!(std::isfinite(f.lower[i]) && f.lower[i] > 0.0)) refuse_setting(lo, f.lower[i], "must be a finite number above 0");
    if (!(std::isfinite(f.upper[i]) && f.upper[i] > 0.0)) refuse_setting(hi, f.upper[i], "must be a finite number above 0");
    if (!(f.lower[i] < f.upper[i])) refuse_setting(hi, f.upper[i], "must lie above the lower bound, " + number_text(f.lower[i]));
  }
}

void check_increment(double dh_in) {
  if (dh_in <= kLargestIncrementIn) return;
  toolkit::E1STL(1, number_text(dh_in));
  toolkit::E1STL(2, number_text(kLargestIncrementIn));
  refuse(ApiMessage::increment_range);
}

void check_load_reach(const CircularLoad& l, int index, double inches_per_unit) {
  reach(ApiMessage::load_reach, index, "x", l.x, inches_per_unit);
  reach(ApiMessage::load_reach, index, "y", l.y, inches_per_unit);
}

void check_point_reach(const Point& p, int index, double inches_per_unit) {
  reach(ApiMessage::point_reach, index, "x", p.x, inches_per_unit);
  reach(ApiMessage::point_reach, index, "y", p.y, inches_per_unit);
  reach(ApiMessage::point_reach, index, "depth z", p.z, inches_per_unit);
}

std::string basin_outside_fit_range(const DeflectionTest& t) {
  for (std::size_t k = 0; k < t.deflections_mils.size(); ++k) {
    const double d = t.deflections_mils[k];
    // Zero, negative and NaN deflections are the fit's own to flag.
    if (!(d > 0.0) || (d >= kSmallestFitDeflectionMils && d <= kLargestDeflectionMils)) continue;
    return "deflection " + std::to_string(k + 1) + " (" + number_text(d) + " mils) lies outside " +
           number_text(kSmallestFitDeflectionMils) + " to " + number_text(kLargestDeflectionMils) +
           " mils, the range of any pavement's basin";
  }
  return {};
}

}  // namespace zalk::detail
