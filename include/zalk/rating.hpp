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
#include <memory>
#include <vector>

#include "zalk/status.hpp"

namespace zalk {

inline constexpr int kMaxTestsPerSection = 2000;
inline constexpr int kMaxOverlayItems = 20;
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

// The sensor offsets of the deflection table (inches from the load centre).
inline const std::vector<double> kLegacySensorOffsets{0, 8, 12, 18, 24, 36};

// One deflection test: the columns of the rating tool's tests.csv.
struct DeflectionTest {
  double hour = 0;                  // time of day, hours
  double load_lb = 0;
  std::vector<double> sensor_offsets_in = kLegacySensorOffsets;  // increasing
  std::vector<double> deflections_mils;                          // one per sensor
  double reps_per_year = 0;         // annual load repetitions
  double surface_temperature_f = 0;
};

struct RatingResult {
  double allowable_load = 0;
  double e_surface = 0;      // back-calculated surface modulus, psi
  double e_surface_72f = 0;  // the same referred to 72 F
  double e_base = 0;
  double e_subgrade = 0;
  double depth_in = 0;       // depth of the best-fitting depth candidate
  double fit_error = 0;      // sum of squared relative misfits of the basin at that depth
  bool fitted = false;       // a finite fit was found (otherwise the moduli are NaN)
  bool rated = false;        // the allowable load is a number
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
  // Further methods are added here (each with its own core under rating/).
};

struct RatingOptions {
  Method method = Method::design;
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

  // Rates the tests of one section (1 to 2000 tests). Every input is checked
  // before any work. The results depend on the section and tests alone, not
  // on earlier calls.
  SectionRating rate(const Section& section, const std::vector<DeflectionTest>& tests,
                     const RatingOptions& options = {});

  // Overlay iteration of 1 to 20 items with thickness increment dh_in per pass.
  OverlayResult overlay(const std::vector<OverlayItem>& items, double dh_in);

  struct Impl;

 private:
  Impl& impl();
  std::unique_ptr<Impl> impl_;
};

}  // namespace zalk
