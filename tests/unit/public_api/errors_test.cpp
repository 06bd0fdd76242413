// Every refused input comes back as a Status naming the value, with the
// text the reporter prints for it; nothing is printed and nothing computed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <sstream>

#include "api/api_messages.h"
#include "support/message_tables.h"
#include "toolkit/errors.h"
#include "zalk/zalk.hpp"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// The error must be the terminal error `code` of `routine` with exactly
// `message`, and its text the lines the reporter prints for it.
void expect_error(const zalk::Status& s, const char* routine, int code, const std::string& message,
                  const std::string& label) {
  ASSERT_FALSE(s.ok()) << label;
  const zalk::Error& e = *s.error;
  EXPECT_EQ(e.routine, routine) << label;
  EXPECT_EQ(e.code, code) << label;
  EXPECT_EQ(e.type, zalk::ErrorType::terminal) << label;
  EXPECT_EQ(e.message, message) << label;
  std::string printed;
  for (const auto& line : zalk::toolkit::format_error_lines(5, code, routine, message))
    printed += (printed.empty() ? "" : "\n") + line;
  EXPECT_EQ(e.text, printed) << label;
}

struct AnalysisInput {
  zalk::Structure structure;
  std::vector<zalk::CircularLoad> loads;
  std::vector<zalk::Point> points;
  zalk::AnalysisOptions options;

  AnalysisInput() {
    structure.layers = {zalk::Layer{4, 500000, 0.35, 1}, zalk::Layer{8, 30000, 0.40, 1}, zalk::Layer{0, 10000, 0.45, 1}};
    loads.push_back(zalk::CircularLoad{0, 0, 100, 5.9});
    points.push_back(zalk::Point{0, 0, 0});
    points.push_back(zalk::Point{8, 0, 2});
  }
};

TEST(PublicErrors, AnalysisInputsAreCheckedBeforeAnyWork) {
  struct Case {
    std::function<void(AnalysisInput&)> change;
    int code;
    std::string message;
  };
  const Case cases[] = {
      {[](auto& in) { in.structure.layers.resize(1); }, 1, "The structure has 1 layers; it must have 2 to 50."},
      {[](auto& in) { in.structure.layers.resize(51, {1, 1000, 0.3}); }, 1, "The structure has 51 layers; it must have 2 to 50."},
      {[](auto& in) { in.loads.clear(); }, 2, "0 loads are given; 1 to 10 are allowed."},
      {[](auto& in) { in.loads.resize(11, in.loads[0]); }, 2, "11 loads are given; 1 to 10 are allowed."},
      {[](auto& in) { in.points.resize(1001); }, 3, "1001 points are given; 1 to 1000 are allowed."},
      {[](auto& in) { in.structure.layers[1].thickness = 0; }, 4, "The thickness of layer 2, 0, must be a finite number above 0."},
      {[](auto& in) { in.structure.layers[0].thickness = kInf; }, 4, "The thickness of layer 1, infinity, must be a finite number above 0."},
      {[](auto& in) { in.structure.layers[2].modulus = -5; }, 5, "The modulus of layer 3, -5, must be a finite number above 0."},
      {[](auto& in) { in.structure.layers[0].modulus = kNaN; }, 5, "The modulus of layer 1, NaN, must be a finite number above 0."},
      {[](auto& in) { in.structure.layers[0].modulus = 1e300; in.options.round_moduli_as_deck = true; }, 6,
       "The modulus of layer 1, 1e+300, is outside the range of the 4-byte values the analysis deck rounds."},
      {[](auto& in) { in.structure.layers[1].poisson = 0.5; }, 7, "Poisson's ratio of layer 2, 0.5, must lie between -1 and 0.5 (both excluded)."},
      {[](auto& in) { in.structure.layers[2].poisson = -1; }, 7, "Poisson's ratio of layer 3, -1, must lie between -1 and 0.5 (both excluded)."},
      {[](auto& in) { in.structure.layers[0].bond = 1.25; }, 8, "The bond of layer 1, 1.25, must lie between 0 (frictionless) and 1 (full friction)."},
      {[](auto& in) { in.loads[0].pressure = 0; }, 9, "The pressure of load 1, 0, must be a finite number above 0."},
      {[](auto& in) { in.loads[0].radius = -5.9; }, 10, "The radius of load 1, -5.9, must be a finite number above 0."},
      {[](auto& in) { in.loads[0].y = kNaN; }, 11, "The centre of load 1, (0, NaN), must have finite coordinates."},
      {[](auto& in) { in.points[1].x = -kInf; }, 12, "Point 2, (-infinity, 0, 2), must have finite coordinates."},
      {[](auto& in) { in.points[1].z = -0.001; }, 13, "Point 2 lies above the surface: its depth z is -0.001."},
      {[](auto& in) { in.options.accuracy = zalk::Accuracy(7); }, 28, "The analysis option accuracy has the value 7, not one this library knows."},
      // Beyond 10,000 in the engine's integrals lose every digit: refused, in either unit.
      {[](auto& in) { in.loads[0].y = -10000.5; }, 31, "Load 1: its y, -10000.5, lies beyond 10000 in (254 m), the farthest the analysis takes."},
      {[](auto& in) { in.points[1].z = 1e5; }, 32, "Point 2: its depth z, 1e+05, lies beyond 10000 in (254 m), the farthest the analysis takes."},
      {[](auto& in) { in.options.units = zalk::Units::si; in.points[0].x = 1e307; }, 32,
       "Point 1: its x, 1e+307, lies beyond 10000 in (254 m), the farthest the analysis takes."},
      {[](auto& in) { in.options.units = zalk::Units::si; in.points[0].y = 254.01; }, 32,
       "Point 1: its y, 254.01, lies beyond 10000 in (254 m), the farthest the analysis takes."},
  };
  zalk::AnalysisWorkspace ws;
  ::testing::internal::CaptureStdout();
  for (const Case& c : cases) {
    AnalysisInput in;
    c.change(in);
    const auto r = zalk::analyse(ws, in.structure, in.loads, in.points, in.options);
    expect_error(r.status, "zalk::analyse", c.code, c.message, c.message);
    EXPECT_TRUE(r.responses.empty());
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  // The same workspace still analyses.
  AnalysisInput in;
  EXPECT_TRUE(zalk::analyse(ws, in.structure, in.loads, in.points).status.ok());
}

zalk::Section valid_section() {
  zalk::Section s;
  s.days = {91, 90, 45, 45, 94};
  s.air_temperature_f = {56, 31, 49, 61, 79};
  s.surface_thickness_in = 3.5;
  s.base_thickness_in = 10;
  s.previous_day_air_f = 66;
  s.base_factor = {1, 1.3, 0.7, 0.85, 1};
  s.subgrade_factor = {1, 1.5, 0.6, 0.8, 1};
  return s;
}

zalk::DeflectionTest valid_test() {
  zalk::DeflectionTest t;
  t.hour = 15.94;
  t.load_lb = 9453;
  t.deflections_mils = {23.25, 17.99, 14.70, 10.84, 7.84, 4.15};
  t.reps_per_year = 151700;
  t.surface_temperature_f = 47.3;
  return t;
}

// A table of one record: the reader stops at its end.
std::string short_table() {
  return "     2.     3.     1.     100.      10.   10000.    0.05536273    0.01743078    0.00412217"
         "   -0.00112492   -0.00138700   -0.00040757   -0.00006567   -0.00001885    0.00000000\n";
}

TEST(PublicErrors, RatingInputsAreCheckedBeforeAnyWork) {
  zalk::Rater rater;
  const auto section = valid_section();
  const std::vector<zalk::DeflectionTest> tests{valid_test(), valid_test()};
  expect_error(rater.rate(section, tests).status, "zalk::Rater", 15,
               "The rater has no deflection table; load one with load_table first.", "no table");
  std::istringstream short_stream(short_table());
  const zalk::Status loaded = rater.load_table(short_stream);
  expect_error(loaded, "DEFLTAB", 3,
               "The deflection table file <stream> ends after 1 of its 45056 records: record 2 is missing. "
               "Nothing was rated.", "short");
  EXPECT_FALSE(rater.has_table());
  const zalk::Status missing = rater.load_table("/nonexistent/backdefl.txt");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error->routine, "DEFLTAB");
  EXPECT_EQ(missing.error->message, "The deflection table file /nonexistent/backdefl.txt does not exist.");
  ASSERT_TRUE(rater.load_table(std::filesystem::path(ZALK_SOURCE_DIR) / "data" / "backdefl.txt").ok());

  struct Case {
    std::function<void(zalk::Section&, std::vector<zalk::DeflectionTest>&)> change;
    int code;
    std::string message;
  };
  const Case cases[] = {
      {[](auto&, auto& t) { t.clear(); }, 18, "No tests are given; at least 1 is needed."},
      // No limit on the count: the 2001st test is checked like the first.
      {[](auto&, auto& t) { t.resize(2001, t[0]), t[2000].hour = 25; }, 20, "Test 2001: the hour, 25, must lie between 0 and 24."},
      {[](auto& s, auto&) { s.days[2] = -1; }, 19, "The section's days of spring 1, -1, must be a finite number, 0 or above."},
      {[](auto& s, auto&) { s.air_temperature_f[4] = kNaN; }, 19, "The section's air temperature of summer, NaN, must be a finite number."},
      {[](auto& s, auto&) { s.surface_thickness_in = 0; }, 19, "The section's surface thickness, 0, must be a finite number above 0."},
      {[](auto& s, auto&) { s.base_thickness_in = kInf; }, 19, "The section's base thickness, infinity, must be a finite number above 0."},
      {[](auto& s, auto&) { s.subgrade_factor[1] = 0; }, 19, "The section's subgrade factor of winter, 0, must be a finite number above 0."},
      {[](auto&, auto& t) { t[1].hour = 25; }, 20, "Test 2: the hour, 25, must lie between 0 and 24."},
      {[](auto&, auto& t) { t[0].load_lb = -9453; }, 20, "Test 1: the load, -9453, must be a finite number above 0."},
      {[](auto&, auto& t) { t[1].deflections_mils[3] = -0.5; }, 20, "Test 2: the deflection, -0.5, must be a finite number, 0 or above."},
      {[](auto&, auto& t) { t[0].reps_per_year = 0; }, 20, "Test 1: the repetitions per year, 0, must be a finite number above 0."},
      {[](auto&, auto& t) { t[0].deflections_mils.pop_back(); }, 21, "Test 1 gives 6 sensor offsets and 5 deflections; each sensor needs one."},
      {[](auto&, auto& t) { t[1].sensor_offsets_in[3] = 12; }, 22,
       "Test 2: sensor 4 at 12 in does not lie beyond sensor 3 at 12 in; the offsets must increase."},
      {[](auto&, auto& t) { t[1].sensor_offsets_in[5] = 48; }, 23,
       "Test 2: the design method rates deflections at 0, 8, 12, 18, 24 and 36 in, the sensors of the deflection "
       "table; sensor 6 is at 48 in."},
      // Physical ranges: beyond them the core returned NaN or 0 as a rating.
      {[](auto& s, auto&) { s.air_temperature_f[0] = 1e300; }, 19, "The section's air temperature of fall, 1e+300, must lie between -100 and 200 (degrees F)."},
      {[](auto& s, auto&) { s.previous_day_air_f = -1e6; }, 19, "The section's previous day's air temperature, -1e+06, must lie between -100 and 200 (degrees F)."},
      {[](auto& s, auto&) { s.base_factor[4] = 1e300; }, 19, "The section's base factor of summer, 1e+300, must lie between 0.01 and 100."},
      {[](auto& s, auto&) { s.subgrade_factor[0] = 1e-300; }, 19, "The section's subgrade factor of fall, 1e-300, must lie between 0.01 and 100."},
      {[](auto& s, auto&) { s.days[1] = 367; }, 19, "The section's days of winter, 367, must lie between 0 and 366."},
      {[](auto&, auto& t) { t[1].surface_temperature_f = 200.5; }, 20, "Test 2: the surface temperature, 200.5, must lie between -100 and 200 (degrees F)."},
      {[](auto&, auto& t) { t[0].load_lb = 1e30; }, 20, "Test 1: the load, 1e+30, must lie between 1 and 1e+06 (lb)."},
      {[](auto&, auto& t) { t[1].load_lb = 1e-300; }, 20, "Test 2: the load, 1e-300, must lie between 1 and 1e+06 (lb)."},
      {[](auto& s, auto&) { s.surface_thickness_in = 0.5; }, 19, "The section's surface thickness, 0.5, must lie between 1 and 100 (in)."},
      {[](auto& s, auto&) { s.base_thickness_in = 1000; }, 19, "The section's base thickness, 1000, must lie between 0.1 and 500 (in)."},
      {[](auto&, auto& t) { t[1].deflections_mils[0] = 1e300; }, 20, "Test 2: the deflection, 1e+300, must lie between 0 and 10000 (mils)."},
      {[](auto&, auto& t) { t[0].reps_per_year = 1e300; }, 20, "Test 1: the repetitions per year, 1e+300, must lie between 0 and 1e+12."},
  };
  for (const Case& c : cases) {
    zalk::Section s = section;
    std::vector<zalk::DeflectionTest> t = tests;
    c.change(s, t);
    const auto r = rater.rate(s, t);
    expect_error(r.status, "zalk::Rater", c.code, c.message, c.message);
    EXPECT_TRUE(r.tests.empty());
  }

  // A basin that cannot be back-calculated is no error: the test is
  // reported unfitted, the core's warnings come back, nothing is printed.
  std::vector<zalk::DeflectionTest> flat = tests;
  flat[1].deflections_mils.assign(6, 0.0);
  ::testing::internal::CaptureStdout();
  const auto r = rater.rate(section, flat);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  ASSERT_TRUE(r.status.ok());
  EXPECT_TRUE(r.tests[0].fitted && r.tests[0].rated);
  EXPECT_FALSE(r.tests[1].fitted || r.tests[1].rated);
  EXPECT_TRUE(std::isnan(r.tests[1].fit_error) && std::isnan(r.tests[1].e_surface));
  ASSERT_FALSE(r.status.warnings.empty());
  EXPECT_EQ(r.status.warnings.back().errc, zalk::Errc::rating_meaningless_moduli) << r.status.warnings.back().text;

  zalk::OverlayItem item{section, tests[0], 84, 450000, 30000, 9000};
  expect_error(rater.overlay({}, 1.0).status, "zalk::Rater", 24, "No overlay items are given; at least 1 is needed.", "items");
  expect_error(rater.overlay({item}, kNaN).status, "zalk::Rater", 26,
               "The overlay increment, NaN, must be a finite number above 0.", "increment");
  expect_error(rater.overlay({item}, 1e30).status, "zalk::Rater", 30,
               "The overlay increment, 1e+30 in, is more than 12 in, the top of the deflection table's thickness "
               "grid.", "huge increment");
  item.section.base_factor[2] = 250;
  expect_error(rater.overlay({item}, 1.0).status, "zalk::Rater", 25,
               "Overlay item 1: the base factor of spring 1, 250, must lie between 0.01 and 100.", "item range");
  item.section = section;
  item.e_base = 0;
  expect_error(rater.overlay({item, item}, 1.0).status, "zalk::Rater", 25,
               "Overlay item 1: the base modulus, 0, must be a finite number above 0.", "item");
}

// Every field of the fit's settings is checked before work: inverted
// bounds used to reach std::clamp(lo > hi), which aborts under the
// library's assertions.
TEST(PublicErrors, FitSettingsAreCheckedBeforeAnyWork) {
  zalk::Rater rater;
  ASSERT_TRUE(rater.load_table(std::filesystem::path(ZALK_SOURCE_DIR) / "data" / "backdefl.txt").ok());
  struct Case {
    std::function<void(zalk::FitSettings&)> change;
    std::string message;
  };
  const Case cases[] = {
      {[](auto& f) { f.depth = zalk::DepthSearch(5); }, "The fit setting depth, 5, is not one of the depth searches this library knows."},
      {[](auto& f) { f.refined_depths = 0; }, "The fit setting refined_depths, 0, must lie between 1 and 8."},
      {[](auto& f) { f.refined_depths = 9; }, "The fit setting refined_depths, 9, must lie between 1 and 8."},
      {[](auto& f) { f.lower[0] = kNaN; }, "The fit setting lower bound of the surface modulus, NaN, must be a finite number above 0."},
      {[](auto& f) { f.lower[1] = 0; }, "The fit setting lower bound of the base modulus, 0, must be a finite number above 0."},
      {[](auto& f) { f.upper[2] = kInf; }, "The fit setting upper bound of the subgrade modulus, infinity, must be a finite number above 0."},
      {[](auto& f) { f.upper[1] = -5; }, "The fit setting upper bound of the base modulus, -5, must be a finite number above 0."},
      {[](auto& f) { f.lower[0] = 1e6; f.upper[0] = 5e5; },
       "The fit setting upper bound of the surface modulus, 5e+05, must lie above the lower bound, 1e+06."},
      {[](auto& f) { f.lower[2] = f.upper[2]; },
       "The fit setting upper bound of the subgrade modulus, 1e+05, must lie above the lower bound, 1e+05."},
  };
  for (const Case& c : cases) {
    zalk::RatingOptions options;
    options.method = zalk::Method::fit;
    c.change(options.fit);
    expect_error(rater.rate(valid_section(), {valid_test()}, options).status, "zalk::Rater", 29, c.message, c.message);
  }
}

// A basin far beyond any pavement's (all deflections 1e300 or 1e-300 mils,
// or with a single NaN offset) is that test's fault alone: the fit flags
// it not fitted with its reason and rates the others.
TEST(PublicErrors, AnExtremeBasinIsFlaggedAndTheOtherTestsAreRated) {
  zalk::Rater rater;
  ASSERT_TRUE(rater.load_table(std::filesystem::path(ZALK_SOURCE_DIR) / "data" / "backdefl.txt").ok());
  zalk::RatingOptions options;
  options.method = zalk::Method::fit;
  std::vector<zalk::DeflectionTest> tests(3, valid_test());
  for (double& d : tests[1].deflections_mils) d *= 1e298;
  for (double& d : tests[2].deflections_mils) d *= 1e-300;
  const auto r = rater.rate(valid_section(), tests, options);
  ASSERT_TRUE(r.status.ok()) << r.status.error->text;
  EXPECT_TRUE(r.tests[0].fitted && r.tests[0].rated && !(r.tests[0].flags & zalk::flag_not_fitted));
  EXPECT_EQ(r.tests[1].message,
            "Test '2' cannot be fitted: deflection 1 (2.325e+299 mils) lies outside 0.001 to 10000 mils, the range "
            "of any pavement's basin.");
  EXPECT_EQ(r.tests[2].message,
            "Test '3' cannot be fitted: deflection 1 (2.325e-299 mils) lies outside 0.001 to 10000 mils, the range "
            "of any pavement's basin.");
  for (std::size_t j = 1; j < 3; ++j) {
    EXPECT_EQ(r.tests[j].flags & zalk::flag_not_fitted, unsigned(zalk::flag_not_fitted)) << j;
    EXPECT_FALSE(r.tests[j].fitted || r.tests[j].rated) << j;
    EXPECT_TRUE(std::isnan(r.tests[j].e_surface) && std::isnan(r.tests[j].allowable_load)) << j;
  }
  zalk::DeflectionTest nan_offset = valid_test();
  nan_offset.sensor_offsets_in = {kNaN};
  nan_offset.deflections_mils = {20};
  expect_error(rater.rate(valid_section(), {nan_offset}, options).status, "zalk::Rater", 20,
               "Test 1: the sensor offset, NaN, must lie between -1200 and 1200 (in).", "NaN offset");
}

// Each error carries the value of its message, whichever layer raised it.
TEST(PublicErrors, ErrorsCarryTheValueOfTheirMessage) {
  zalk::Rater rater;
  zalk::AnalysisWorkspace ws;
  std::istringstream short_stream(short_table());
  AnalysisInput one_layer;
  one_layer.structure.layers.resize(1);
  const struct {
    const char* what;
    zalk::Status status;
    zalk::Errc errc;
  } cases[] = {
      {"no table", rater.rate(valid_section(), {valid_test()}).status, zalk::Errc::api_no_table},
      {"short table", rater.load_table(short_stream), zalk::Errc::table_table_short},
      {"missing table", rater.load_table("/nonexistent/backdefl.txt"), zalk::Errc::table_table_missing},
      {"one layer", zalk::analyse(ws, one_layer.structure, one_layer.loads, one_layer.points).status,
       zalk::Errc::api_layer_count},
  };
  for (const auto& c : cases) {
    ASSERT_FALSE(c.status.ok()) << c.what;
    EXPECT_EQ(c.status.error->errc, c.errc) << c.what << ": " << c.status.error->text;
  }
  EXPECT_EQ(zalk::errc_name(zalk::Errc::table_table_short), "table_table_short");
  EXPECT_EQ(zalk::errc_name(zalk::Errc::other), "other");
}

}  // namespace

TEST(PublicErrors, TheApiMessageTablePassesTheTableChecks) {
  zalk::testing::walk_message_table("api", zalk::detail::kApiMessages);
}
