// What engineers compute from a survey's drops beside back-calculation:
// basin indices, the AASHTO 1993 nondestructive-testing estimates of the
// subgrade and pavement moduli, and homogeneous units along the stations by
// cumulative differences. Everything here is a value computation on the
// measured basins; nothing runs the layered engine.
//
// Units: offsets, radii and thicknesses in inches, deflections in mils,
// loads in lb, moduli in psi, stations in whatever unit the survey uses.
#pragma once

#include <cstddef>
#include <limits>
#include <span>
#include <string>
#include <vector>

namespace zalk::rating::survey {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// The plate of most devices: 300 mm across.
inline constexpr double kDefaultPlateRadiusIn = 5.9;
// The share of the back-calculated subgrade modulus taken for design.
inline constexpr double kDefaultDesignFactor = 0.33;
// The sensor used for M_R must lie at least this share of a_e out.
inline constexpr double kEffectiveRadiusShare = 0.7;

// Per-drop flags; a drop's results are NaN where a flag says they cannot be
// had, and its other results stand.
enum DropFlag : unsigned {
  kInterpolated = 1u << 0,         // an index offset had no sensor: read from the spline
  kBadLayout = 1u << 1,            // offsets not increasing, counts differ, a value not finite
  kBadCentreDeflection = 1u << 2,  // no sensor at the centre, or D(0) <= 0
  kBadLoad = 1u << 3,              // load not a positive number
  kOffsetOutsideBasin = 1u << 4,   // an index needs an offset beyond the outer sensors
  kNoSensorBeyondPlate = 1u << 5,  // no sensor outside the plate to give M_R
  kMrSensorTooClose = 1u << 6,     // no sensor reaches 0.7 a_e: the outermost was used
  kBadThickness = 1u << 7,         // surface + base not a positive number
  kBadSensorDeflection = 1u << 8,  // every sensor beyond the plate reads zero or less
  kBadPlate = 1u << 9,             // plate radius not a positive number
};
inline constexpr unsigned kDropFlagCount = 10;

// The flag's name as a results column would carry it (e.g. "interpolated").
std::string flag_name(DropFlag flag);
// A sentence for a report: what the flag means for the drop's results.
std::string flag_text(DropFlag flag);
// The names of the flags set in `flags`, joined by '|' ("" for none).
std::string flag_names(unsigned flags);

// One drop: its basin at its own load.
struct Drop {
  std::span<const double> offsets_in;
  std::span<const double> deflections_mils;
  double load_lb = kNaN;
};

struct Indices {
  double d0_mils = kNaN;
  double sci_mils = kNaN;  // D(0) - D(12)
  double bdi_mils = kNaN;  // D(12) - D(24)
  double bci_mils = kNaN;  // D(24) - D(36)
  double area_in = kNaN;   // 6 (1 + 2 D(12)/D(0) + 2 D(24)/D(0) + D(36)/D(0))
  // The same at the reference load, deflections scaled linearly with load
  // (so the area, a ratio of deflections, is unchanged). NaN without a
  // reference load.
  double d0_norm = kNaN, sci_norm = kNaN, bdi_norm = kNaN, bci_norm = kNaN, area_norm = kNaN;
  unsigned flags = 0;
};

// The basin indices of a drop. A deflection at 12, 24 or 36 in comes from a
// sensor within the sensor-layout tolerance of that offset, or else from the
// shape-preserving spline (DSPLEZ kind 3) through the basin (four sensors
// or more, spanning the offset), and the drop is flagged interpolated.
// reference_load_lb: NaN (or any value not a positive number) for none.
Indices basin_indices(const Drop& drop, double reference_load_lb = kNaN);

struct AashtoOptions {
  double thickness_in = kNaN;  // total above the subgrade: surface + base
  double plate_radius_in = kDefaultPlateRadiusIn;
  double design_factor = kDefaultDesignFactor;  // C in C M_R
};

struct Aashto93 {
  double mr_psi = kNaN;
  double mr_offset_in = kNaN;  // the sensor M_R comes from
  double ep_psi = kNaN;
  double ae_in = kNaN;
  double sneff = kNaN;
  double mr_design_psi = kNaN;
  unsigned flags = 0;
};

// The AASHTO 1993 NDT method for one drop. The sensors beyond the plate
// are tried from the inside out: M_R from the sensor, E_p solved from D(0),
// a_e from both; the first sensor with r >= 0.7 a_e is used. When none
// qualifies the outermost is used and the drop flagged mr_sensor_too_close.
Aashto93 aashto93(const Drop& drop, const AashtoOptions& options);

// The pieces of the method, each for one set of inputs (inches, lb, psi).
double subgrade_modulus(double load_lb, double deflection_in, double offset_in);
// E_p from d_0 = 1.5 p a { 1 / (M_R sqrt(1 + (D/a (E_p/M_R)^(1/3))^2))
//                         + (1 - 1/sqrt(1 + (D/a)^2)) / E_p },
// by a bracketed root finder to 1e-12 relative in (E_p/M_R)^(1/3). NaN
// unless every input is a positive number.
double pavement_modulus(double d0_in, double pressure_psi, double plate_radius_in,
                        double thickness_in, double mr_psi);
double effective_radius(double plate_radius_in, double thickness_in, double ep_psi, double mr_psi);
double effective_structural_number(double thickness_in, double ep_psi);

// ---------------------------------------------------------------- sections

// Why a drop (or the whole survey) is left out of, or limits, the sectioning.
enum class SectionIssue {
  kStationNotFinite,       // the drop's station is not a number
  kStationDecreasing,      // lower than the station before it: left out
  kValueNotFinite,         // the drop has no value of the column: not counted
  kStationWithoutValue,    // none of the station's drops has a value: left out
  kTooFewStations,         // fewer than two stations: one unit, no Z
  kMinLengthBeyondSurvey,  // the minimum length exceeds the survey: one unit
  kCountsDiffer,           // stations and values differ in number: the extra ones unused
};
// A sentence naming the issue and the value concerned.
std::string section_issue_text(SectionIssue issue, double value, double previous);

struct SectionProblem {
  SectionIssue issue;
  std::size_t drop;        // index into the input; kWholeSurvey for the survey
  double value = kNaN;     // the station, or the minimum length
  double previous = kNaN;  // the station before it, or the survey's length
};
inline constexpr std::size_t kWholeSurvey = std::numeric_limits<std::size_t>::max();

// One station of the sectioning: the drops of a run of equal stations.
struct StationPoint {
  double station = kNaN;
  double value = kNaN;  // mean of the column over its drops with a value
  double width = kNaN;  // its interval, half-way to its neighbours
  double z = kNaN;      // the cumulative difference at its interval's right end
  std::size_t first_drop = 0, last_drop = 0;  // input indices
};

struct Unit {
  std::size_t first_station = 0, last_station = 0;  // into Segmentation::stations
  double station_from = kNaN, station_to = kNaN;
  double length = kNaN;  // sum of its stations' widths
  double mean = kNaN;    // of its stations' values, weighted by width
  std::size_t drops = 0;
};

struct Segmentation {
  std::vector<StationPoint> stations;
  std::vector<Unit> units;
  std::vector<int> drop_unit;  // per input drop: its unit, or -1 when left out
  std::vector<SectionProblem> problems;
};

// Homogeneous units by cumulative differences. Stations are taken in input
// order; drops at a station equal to the one before belong to the same
// station. A unit ends where Z has a strict local extremum; units shorter
// than min_length are then merged, the shortest first (the first on ties),
// into the neighbour with the closer mean (the preceding on ties).
Segmentation segment(std::span<const double> stations, std::span<const double> values,
                     double min_length);

// Mean, sample standard deviation (n - 1), coefficient of variation and the
// 15th and 85th percentiles of the finite values. The percentiles
// interpolate linearly between order statistics x(1) <= ... <= x(n) at
// position 1 + (n - 1) p (the "linear" definition, Hyndman and Fan's type 7).
struct Statistics {
  std::size_t n = 0;
  double mean = kNaN, sd = kNaN, cv = kNaN, p15 = kNaN, p85 = kNaN;
};
Statistics describe(std::vector<double> values);

// The statistics of `column` (one value per input drop) over each unit's drops.
std::vector<Statistics> unit_statistics(const Segmentation& segmentation,
                                        std::span<const double> column);

}  // namespace zalk::rating::survey
