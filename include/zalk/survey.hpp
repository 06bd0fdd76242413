// What an engineer computes from a survey's drops beside back-calculation:
// basin indices, the AASHTO 1993 NDT estimates of the subgrade and pavement
// moduli, and homogeneous units along the stations by cumulative
// differences, with statistics per unit. No engine run is needed.
//
//   std::vector<zalk::survey::Drop> drops = ...;       // basins at their loads
//   auto ix = zalk::survey::indices(drops, 9000);       // also at 9,000 lb
//   auto nd = zalk::survey::aashto93(drops, {14.0});    // 14 in above the subgrade
//   std::vector<double> d0;  for (auto& i : ix) d0.push_back(i.d0_mils);
//   auto units = zalk::survey::segment(stations, d0, 500.0);
//
// Units: inches, mils, lb, psi; stations in the survey's own unit.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

namespace zalk::survey {

inline constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kDefaultPlateRadiusIn = 5.9;
inline constexpr double kDefaultDesignFactor = 0.33;  // C in C M_R

// Per-drop flags. Results a flag makes impossible are NaN; the drop's other
// results, and the other drops, stand.
enum DropFlag : unsigned {
  flag_interpolated = 1u << 0,           // an index offset without a sensor: from the
                                         // shape-preserving spline of the basin
  flag_bad_layout = 1u << 1,             // offsets not increasing, counts differ, not a number
  flag_bad_d0 = 1u << 2,                 // no sensor at the centre, or D(0) <= 0
  flag_bad_load = 1u << 3,               // load not a positive number
  flag_offset_outside_basin = 1u << 4,   // an index offset beyond the outer sensors
  flag_no_sensor_beyond_plate = 1u << 5, // nothing to give M_R
  flag_mr_sensor_too_close = 1u << 6,    // no sensor at 0.7 a_e or beyond: the outermost used
  flag_bad_thickness = 1u << 7,          // surface + base not a positive number
  flag_bad_mr_deflection = 1u << 8,      // every sensor beyond the plate reads <= 0
  flag_bad_plate = 1u << 9,              // plate radius not a positive number
};
// The flags as words joined by '|' ("interpolated|mr_sensor_too_close").
std::string flag_names(unsigned flags);
// One sentence per flag set, joined by "; ".
std::string flag_texts(unsigned flags);

struct Drop {
  std::vector<double> offsets_in;        // increasing
  std::vector<double> deflections_mils;  // one per offset, at the drop's own load
  double load_lb = 0;
};

struct Indices {
  double d0_mils = kNoValue;
  double sci_mils = kNoValue;  // D(0) - D(12)
  double bdi_mils = kNoValue;  // D(12) - D(24)
  double bci_mils = kNoValue;  // D(24) - D(36)
  double area_in = kNoValue;   // 6 (1 + 2 D(12)/D(0) + 2 D(24)/D(0) + D(36)/D(0))
  // At the reference load, linear in load (the area is unchanged).
  double d0_norm = kNoValue, sci_norm = kNoValue, bdi_norm = kNoValue, bci_norm = kNoValue,
         area_norm = kNoValue;
  unsigned flags = 0;
};

// One row per drop. reference_load_lb: NaN for no normalised columns.
std::vector<Indices> indices(const std::vector<Drop>& drops, double reference_load_lb = kNoValue);

struct AashtoOptions {
  double thickness_in = kNoValue;  // surface + base, for every drop unless per-drop given
  double plate_radius_in = kDefaultPlateRadiusIn;
  double design_factor = kDefaultDesignFactor;
};

struct Aashto93 {
  double mr_psi = kNoValue;        // 0.24 P / (d_r r)
  double mr_offset_in = kNoValue;  // r: the innermost sensor with r >= 0.7 a_e
  double ep_psi = kNoValue;        // effective pavement modulus, solved to 1e-12
  double ae_in = kNoValue;
  double sneff = kNoValue;         // 0.0045 D E_p^(1/3)
  double mr_design_psi = kNoValue; // C M_R
  unsigned flags = 0;
};

// One row per drop; thickness_per_drop_in, when not empty, gives each
// drop's own thickness (one per drop) instead of options.thickness_in.
std::vector<Aashto93> aashto93(const std::vector<Drop>& drops, const AashtoOptions& options,
                               const std::vector<double>& thickness_per_drop_in = {});

// ---------------------------------------------------------------- sections

struct StationPoint {
  double station = kNoValue;
  double value = kNoValue;  // mean of the column over the station's drops
  double width = kNoValue;  // half-way to the neighbours
  double z = kNoValue;      // cumulative difference at the interval's right end
  std::size_t first_drop = 0, last_drop = 0;
};

struct Unit {
  std::size_t first_station = 0, last_station = 0;
  double station_from = kNoValue, station_to = kNoValue;
  double length = kNoValue;  // sum of its stations' widths
  double mean = kNoValue;    // of its stations' values, weighted by width
  std::size_t drops = 0;
};

inline constexpr std::size_t kWholeSurvey = std::numeric_limits<std::size_t>::max();

struct SectionProblem {
  std::size_t drop = kWholeSurvey;  // the drop concerned, or kWholeSurvey
  std::string message;              // names the value
};

struct Sections {
  std::vector<StationPoint> stations;
  std::vector<Unit> units;
  std::vector<int> drop_unit;  // per drop: its unit, -1 when left out
  std::vector<SectionProblem> problems;
};

// Homogeneous units by cumulative differences: stations in input order,
// equal consecutive stations one station, a lower station reported and left
// out; units end at strict local extrema of Z; units shorter than
// min_length merged, the shortest first (first on ties), into the
// neighbour of closer mean (the preceding on ties).
Sections segment(const std::vector<double>& stations, const std::vector<double>& values,
                 double min_length);

// Mean, sample standard deviation, coefficient of variation and the 15th
// and 85th percentiles (linear between order statistics, at position
// 1 + (n - 1) p) of the finite values.
struct Statistics {
  std::size_t n = 0;
  double mean = kNoValue, sd = kNoValue, cv = kNoValue, p15 = kNoValue, p85 = kNoValue;
};
Statistics describe(const std::vector<double>& values);
// The statistics of a column (one value per drop) over each unit's drops.
std::vector<Statistics> unit_statistics(const Sections& sections, const std::vector<double>& column);

}  // namespace zalk::survey
