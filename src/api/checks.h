// Limits of the public API's inputs beyond "a finite number": the physical
// ranges a pavement's values lie in, and the settings of the fit. A value
// outside is refused before any work, naming the value and its limit,
// because the core would otherwise carry it into routines whose own words
// ("FDATA(1) = NaN") say nothing to the caller, or return NaN as a rating.
#pragma once

#include <string>

#include "api/api_messages.h"
#include "zalk/zalk.hpp"

namespace zalk::detail {

// Temperatures in degrees F, the seasonal modulus factors, the days of a
// season, the load (lb), the annual repetitions, the deflections (mils) and
// the sensor offsets (in).
inline constexpr double kLowestTemperatureF = -100.0, kHighestTemperatureF = 200.0;
inline constexpr double kSmallestFactor = 0.01, kLargestFactor = 100.0;
inline constexpr double kMostDays = 366.0;
// A surface thinner than an inch rates as NaN; a base of 1000 in no longer
// fits the analysis deck's field.
inline constexpr double kThinnestSurfaceIn = 1.0, kThickestSurfaceIn = 100.0;
inline constexpr double kThinnestBaseIn = 0.1, kThickestBaseIn = 500.0;
inline constexpr double kSmallestLoadLb = 1.0, kLargestLoadLb = 1.0e6;
inline constexpr double kMostRepetitions = 1.0e12;
inline constexpr double kSmallestFitDeflectionMils = 1.0e-3, kLargestDeflectionMils = 1.0e4;
inline constexpr double kFarthestSensorIn = 1200.0;
// An overlay pass adds at most the top of the deflection table's thickness grid.
inline constexpr double kLargestIncrementIn = 12.0;
// The farthest a load or point may lie from the origin, and the deepest
// point, in inches: beyond, the engine's integrals lose every digit.
inline constexpr double kFarthestCoordinateIn = 1.0e4;

// The section's values within their ranges (after they are known finite).
void check_section_ranges(const Section& s, ApiMessage m, int index);
// A test's values within their ranges; `fit` leaves the deflections to
// basin_outside_fit_range, which flags the test instead.
void check_test_ranges(const DeflectionTest& t, int j, ApiMessage m, bool fit);
// Every field of the fit's settings.
void check_fit_settings(const FitSettings& f);
void check_increment(double dh_in);
// The farthest coordinate of a load or point, given in the caller's units
// with `inches_per_unit`.
void check_load_reach(const CircularLoad& l, int index, double inches_per_unit);
void check_point_reach(const Point& p, int index, double inches_per_unit);

// Why the fit cannot use this basin's magnitudes ("" when it can): a
// deflection beyond what any pavement shows makes the engine's moduli
// overflow, so the test is flagged not fitted rather than failing the call.
std::string basin_outside_fit_range(const DeflectionTest& t);

}  // namespace zalk::detail
