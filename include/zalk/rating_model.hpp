// The structure every rating analyses, and how: the facts the deflection
// table was computed with, which the rating, the back-calculation, the
// analysis deck, the fit and the Python package all take from here.
//
// A test's structure is a surface layer, a base and a subgrade over a stiff
// layer reaching down indefinitely, loaded by the falling weight's plate: a
// uniform pressure on a circle, in proportion to the test's load.
#pragma once

#include <array>

namespace zalk {

struct RatingModel {
  // Poisson's ratios of the surface layer, the base, the subgrade and the
  // stiff layer.
  std::array<double, 4> poisson;
  double stiff_layer_modulus_psi;
  double plate_radius_in;
  // The reference test: this load (lb) spread at this pressure (psi) over
  // the plate. A test of another load is the reference scaled.
  double reference_load_lb;
  double reference_pressure_psi;
  // The engine's integration tolerances per response (absolute; the
  // relative one is the same for all ten responses).
  std::array<double, 10> absolute_tolerance;
  double relative_tolerance;
  // The offsets (in from the load centre) of the table's six sensors.
  std::array<double, 6> sensor_offsets_in;

  // Pressure (psi) per lb of load on the plate.
  constexpr double pressure_per_lb() const { return reference_pressure_psi / reference_load_lb; }
};

inline constexpr RatingModel kRatingModel{
    {0.35, 0.40, 0.45, 0.49},
    1.0e7,
    5.9,
    10940.0,
    100.0,
    {1e-6, 1e-6, 1e-7, 1e-7, 1e-7, 1e-7, 1e-6, 1e-6, 1e-6, 1e-6},
    0.001,
    {0, 8, 12, 18, 24, 36},
};

// The sensor offsets of the deflection table (inches from the load centre).
inline constexpr std::array<double, 6> kLegacySensorOffsets = kRatingModel.sensor_offsets_in;

// How far apart two sensor offsets may be and still stand for one place on
// the basin (10 mm): a reading this close to a table offset is taken as
// there, and two this close read the same distance from the load.
inline constexpr double kSameOffsetToleranceIn = 10.0 / 25.4;

}  // namespace zalk
