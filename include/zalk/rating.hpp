// Back-calculation of layer moduli from falling-weight deflection tests and
// the allowable load of each test over five seasons, in the legacy units
// (inches, lb, mils, degrees Fahrenheit, psi).
//
//   zalk::Rater rater;
//   if (!rater.load_table("backdefl.txt")) ...;
//   zalk::SectionRating r = rater.rate(section, tests);
//
// A Rater owns its deflection table (read once), its spline surfaces and its
// work storage; it rates one call at a time. Give each thread its own.
#pragma once

#include <array>
#include <filesystem>
#include <iosfwd>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "zalk/rating_model.hpp"
#include "zalk/status.hpp"

namespace zalk {

inline constexpr int kMaxOverlayPasses = 20;

// Seasons in the order fall, winter, spring 1, spring 2, summer.
using Seasonal = std::array<double, 5>;

// One pavement section: the columns of the rating tool's sections.csv.
struct Section {
  Seasonal days{};                  // days of each season
  Seasonal air_temperature_f{};     // mean air temperature of each season
  double surface_thickness_in = 0;  // surface layer (thicker than 12 in is rated as 12)
  double base_thickness_in = 0;
  double previous_day_air_f = 0;    // previous day's mean air temperature
  Seasonal base_factor{};           // seasonal modulus factors of the base
  Seasonal subgrade_factor{};       // and of the subgrade
};

// One deflection test: the columns of the rating tool's tests.csv.
struct DeflectionTest {
  double hour = 0;                  // time of day, hours
  double load_lb = 0;
  std::vector<double> sensor_offsets_in{kLegacySensorOffsets.begin(), kLegacySensorOffsets.end()};  // increasing
  std::vector<double> deflections_mils;                          // one per sensor
  double reps_per_year = 0;         // annual load repetitions
  double surface_temperature_f = 0;
};

struct RatingResult {
  // Kips (1000 lb), on the scale of the dual-wheel load the seasons are
  // analysed under (two 3.8-in circles at 100 psi, 9.07 kips): a strength
  // ratio of 1 allows 9. NaN when the test is not rated.
  double allowable_load = 0;
  double e_surface = 0;      // back-calculated surface modulus, psi
  double e_surface_72f = 0;  // the same referred to 72 F
  double e_base = 0;
  double e_subgrade = 0;
  double depth_in = 0;       // depth of the best-fitting depth candidate; +infinity when the
                             // fit's global search found no stiff layer (rated as 999 in)
  double fit_error = 0;      // design: sum of squared relative misfits of the basin at that depth
  bool fitted = false;       // a finite fit was found (otherwise the moduli are NaN)
  bool rated = false;        // the allowable load is a number

  // How well the moduli explain the basin: the RMS of (computed / measured
  // - 1) over the sensors, in percent (both methods).
  double fit_rms_pct = 0;
  unsigned flags = 0;        // RatingFlag bits
  std::string message;       // why a test was not fitted, or what its flags mean
  // Per sensor, computed / measured - 1 (the fit method always; the design
  // method when RatingOptions::residuals is set), and the computed
  // deflections (mils) at the test's sensors.
  std::vector<double> residuals;
  std::vector<double> computed_mils;
  // Fit method: the relative standard error of each modulus from the
  // Jacobian (surface, base, subgrade), and the engine runs the test took
  // (the global search: with those that filled the section's grid for it,
  // none for nodes an earlier section of the same structure filled).
  std::array<double, 3> relative_std_error{};
  int engine_calls = 0;
  // Fit method: the standard errors of the moduli in percent, from the
  // Jacobian at the answer and the noise model of FitSettings, and the
  // allowable load one standard error either side (propagated through the
  // rating, the moduli's correlations included). NaN for the design method
  // or when the basin does not determine them.
  double e_surface_se_pct = std::numeric_limits<double>::quiet_NaN();
  double e_base_se_pct = std::numeric_limits<double>::quiet_NaN();
  double e_subgrade_se_pct = std::numeric_limits<double>::quiet_NaN();
  double allowable_load_low = std::numeric_limits<double>::quiet_NaN();
  double allowable_load_high = std::numeric_limits<double>::quiet_NaN();
  // The allowable load each season alone would give (fall, winter, spring 1,
  // spring 2, summer): the least of its fatigue and rutting limits at the
  // test's annual repetitions, its strength limit and its deflection limit,
  // by the formulas of the allowable load. NaN when the test is not rated.
  Seasonal season_allowable{};
};

// Flags of a rated test.
enum RatingFlag : unsigned {
  flag_not_fitted = 1u << 0,        // the basin cannot be fitted: moduli NaN, see message
  flag_at_bound = 1u << 1,          // a modulus at a bound of the search
  flag_not_converged = 1u << 2,     // fit: iteration limit reached
  flag_ill_conditioned = 1u << 3,   // fit: a modulus's standard error above 50 %: the basin does not determine it
  flag_rising_basin = 1u << 4,      // a deflection rises with offset somewhere (fitted all the same)
  flag_no_table_start = 1u << 5,    // fit: the table could not seed the search
  flag_interpolated = 1u << 6,      // the basin was interpolated to the table's sensors
  flag_implausible = 1u << 7,       // a reading lies far off the smooth basin (set by the caller)
  flag_misfit_above_noise = 1u << 8,  // fit: the basin misses the readings by far more than their noise
  flag_methods_disagree = 1u << 9,    // the design's and the fit's allowable loads part (set by the caller)
};

// The flags as words joined by '|' ("at_bound|interpolated"), "" for none.
std::string flag_names(unsigned flags);

// One section and its tests, for a call that rates several sections.
struct SectionTests {
  Section section;
  std::vector<DeflectionTest> tests;
};

struct SectionRating {
  Status status;                     // on an error, tests is empty
  std::vector<RatingResult> tests;   // one per test, in the order given
};

enum class Method {
  // The legacy rating: a grid search of the normalised basin on the table's
  // surfaces at eight depths to a stiff layer, the best depth chosen by an
  // engine run per depth.
  design,
  // Least squares on the engine at the test's own sensors: starts from the
  // design's search, polishes it on the table's surfaces, refines the best
  // depth candidates with Levenberg-Marquardt on the logarithms of the
  // moduli (optionally the depth too), and keeps the best; never worse than
  // the design's answer. Any sensor layout and load.
  fit,
};

enum class DepthSearch {
  candidates,  // the eight candidate depths to the stiff layer (12 to 240 in)
  continuous,  // the best candidate's depth refined between its neighbours
  // Every depth from min_depth_in to the deepest candidate and no stiff
  // layer at all, each a converged fit of the moduli, the best valleys
  // refined: right where the candidates' search stops in a local minimum,
  // at many more engine runs. A call of three tests or more searches a grid
  // of the engine's basins filled once for its section (its later tests
  // take a few engine runs each); one of fewer runs the engine directly,
  // some 190 runs a test.
  global,
};

struct FitSettings {
  DepthSearch depth = DepthSearch::candidates;
  int refined_depths = 2;  // candidates refined on the engine (1 to 8)
  // Physical bounds of the moduli (psi): surface, base, subgrade.
  std::array<double, 3> lower{50.0e3, 5.0e3, 2.0e3};
  std::array<double, 3> upper{5000.0e3, 500.0e3, 100.0e3};
  // The noise of a reading (one standard deviation): absolute plus relative
  // times the reading. Neither negative, not both 0. It gives the standard
  // errors and the level at which the global search stops looking.
  double noise_mils = 0.08;      // 2 micrometres
  double noise_relative = 0.01;  // 1 % of the reading
  double min_depth_in = 2.0;     // global search: the shallowest stiff layer (above 0, below 240)
};

struct RatingOptions {
  Method method = Method::design;
  FitSettings fit;
  // Design method: also compute the basin of the rated moduli at the test's
  // sensors (one more engine run per test) for residuals and fit_rms_pct.
  bool residuals = false;
};

// Overlay: the section thickened pass by pass, the test's basin recomputed
// for the given moduli and the test rated again, until the thickness has
// grown by 6 in beyond the first increment (at most 20 passes). As in the
// legacy entry, the seasonal factors of the first item serve every item.
struct OverlayItem {
  Section section;
  DeflectionTest test;     // its load and the rest of its values are used
  double depth_in = 0;     // thickness of the third layer
  double e_surface = 0, e_base = 0, e_subgrade = 0;  // psi
};

struct OverlayPass {
  double surface_thickness_in = 0;
  double allowable_load = 0;
};

struct OverlayResult {
  Status status;
  std::vector<std::vector<OverlayPass>> items;  // the passes of each item
};

class Rater {
 public:
  Rater();
  ~Rater();
  Rater(Rater&&) noexcept;
  Rater& operator=(Rater&&) noexcept;
  Rater(const Rater&) = delete;
  Rater& operator=(const Rater&) = delete;

  // Reads the deflection table (45,056 records); a missing, malformed or
  // short table is an error and leaves the rater without a table.
  Status load_table(const std::filesystem::path& file);
  Status load_table(std::istream& in);
  bool has_table() const;

  // Rates the tests of one section (any number from 1). Every input is
  // checked before any work. The results depend on the section and tests
  // alone, not on earlier calls; the work storage grows with the number of
  // tests of the call and nothing else.
  SectionRating rate(const Section& section, const std::vector<DeflectionTest>& tests,
                     const RatingOptions& options = {});

  // Several sections in one call, each with its own status: the results of
  // one rate(section, tests) call per section, bit for bit, so a survey may
  // be split between calls at any section boundary.
  std::vector<SectionRating> rate(const std::vector<SectionTests>& sections, const RatingOptions& options = {});

  // One test back-calculated (and rated) on its own: rate(section, {test}).
  SectionRating back_calculate(const Section& section, const DeflectionTest& test,
                               const RatingOptions& options = {});

  // Overlay iteration of any number of items (from 1) with thickness
  // increment dh_in per pass.
  OverlayResult overlay(const std::vector<OverlayItem>& items, double dh_in);

  struct Impl;

 private:
  Impl& impl();
  std::unique_ptr<Impl> impl_;
};

// The deflection table the legacy entry points read: backdefl.txt in the
// library's data folder ($ZALK3071_DIR when set, otherwise $HOME/ZALK3071;
// C:\ZALK3071\ on Windows). An error when the folder is not set, missing,
// not a folder or not writable; the file itself is not opened.
Status default_table_path(std::filesystem::path& path);

// A basin at the design method's six sensors (0, 8, 12, 18, 24 and 36 in)
// from readings at any offsets: readings within 10 mm of those offsets are
// taken as they are; otherwise a basin spanning 0 to 36 in is interpolated
// with a shape-preserving spline (interpolated = true); any other layout is
// refused with the reason in `problem`.
struct TableBasin {
  bool ok = false;
  bool interpolated = false;
  std::array<double, 6> deflections_mils{};
  std::string problem;
};
TableBasin table_basin(const std::vector<double>& offsets_in, const std::vector<double>& deflections_mils);

}  // namespace zalk
