// The rating core in values: the search's carry is the only state that runs
// from one test to the next; the allowable load is the least of its four
// limits by closed forms; the compact surface store refuses what it lacks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "rating/defltable.h"
#include "rating/section_rating.h"
#include "toolkit/errors.h"
#include "unit/rating/synthetic.h"

namespace zalk::rating {
namespace {

using testing::FakeEngine;
using testing::Model;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

SectionValues section_values(double h1, double h2) {
  SectionValues s;
  s.days = {91, 90, 45, 45, 94};
  s.air_f = {56, 31, 49, 61, 79};
  s.surface_in = h1;
  s.base_in = h2;
  s.previous_day_air_f = 66;
  s.base_factor = {1.0, 1.3, 0.7, 0.85, 1.0};
  s.subgrade_factor = {1.0, 1.5, 0.6, 0.8, 1.0};
  return s;
}

TestValues model_test(const Model& m, const SectionValues& s, double depth, double e1, double e2, double e3,
                      double load, double hour) {
  TestValues t;
  t.hour = hour;
  t.load_lb = load;
  for (int k = 1; k <= 6; ++k)
    t.deflections_mils[std::size_t(k - 1)] =
        1000.0 * m.deflection(k, std::min(s.surface_in, 12.0), s.base_in, depth, e1 / 1000, e2 / 1000, e3 / 1000,
                              load / 10940.0);
  t.reps_per_year = 100000.0;
  t.surface_f = 80.0;
  return t;
}

// A context and blocks of their own, on the model's table and engine.
struct Core {
  FakeEngine engine;
  RatingContext ctx;
  testing::OwnBlocks blocks;

  Core() {
    ctx.table = testing::process_folder() / "section_rating_table.txt";
    if (!std::filesystem::exists(ctx.table)) testing::write_table(ctx.table, engine.model);
    ctx.engine_override = engine.fn();
  }
  std::vector<TestRating> rate(const SectionValues& s, std::span<const TestValues> tests, SearchCarry& carry) {
    begin_call(blocks.view, s);
    return rate_section(ctx, blocks.view, table_of_call(ctx, blocks.view), s, tests, carry);
  }
};

void expect_same(const TestRating& a, const TestRating& b, const char* what) {
  const double x[] = {a.allowable_load, a.e_surface, a.e_surface_72f, a.e_base, a.e_subgrade, a.depth_in,
                      double(a.fit_error)};
  const double y[] = {b.allowable_load, b.e_surface, b.e_surface_72f, b.e_base, b.e_subgrade, b.depth_in,
                      double(b.fit_error)};
  for (std::size_t k = 0; k < std::size(x); ++k) EXPECT_TRUE(same_bits(x[k], y[k])) << what << ", value " << k;
  for (std::size_t i = 0; i < a.season_allowable.size(); ++i)
    EXPECT_TRUE(same_bits(a.season_allowable[i], b.season_allowable[i])) << what << ", season " << i;
}

// Three tests in one call, and the same tests split after each test over
// fresh contexts and blocks with only the carry handed on: bit for bit the
// same. A basin of zero deflections (no point of any search accepted) sits
// in the middle.
TEST(SectionRating, TheCarryIsAllThatRunsFromOneTestToTheNext) {
  const SectionValues s = section_values(5.0, 12.0);
  const Model m;
  std::vector<TestValues> tests{model_test(m, s, 120, 800000, 40000, 12000, 12000, 10),
                                model_test(m, s, 60, 700000, 35000, 8000, 9500, 14),
                                model_test(m, s, 180, 450000, 25000, 15000, 11000, 16)};
  tests[1].deflections_mils.fill(0.0);
  Core whole;
  SearchCarry carry;
  toolkit::ScopedErrorHandler quiet([](const toolkit::ErrorEvent&) {});
  const std::vector<TestRating> together = whole.rate(s, tests, carry);
  ASSERT_EQ(together.size(), 3u);
  EXPECT_TRUE(std::isfinite(together[0].allowable_load) && std::isfinite(together[2].allowable_load));
  EXPECT_TRUE(std::isnan(together[1].allowable_load));
  for (std::size_t split = 1; split < tests.size(); ++split) {
    Core first, second;
    SearchCarry handed;
    const auto a = first.rate(s, std::span(tests).first(split), handed);
    const auto b = second.rate(s, std::span(tests).subspan(split), handed);
    for (std::size_t j = 0; j < tests.size(); ++j)
      expect_same(j < split ? a[j] : b[j - split], together[j], j < split ? "before the split" : "after the split");
    EXPECT_EQ(handed.ibest, carry.ibest);
    EXPECT_EQ(handed.jbest, carry.jbest);
  }
}

// The least of the fatigue limit (5.6 kips at a damage of 1, scaling as
// damage^-1/4), the rutting limit, the deflection limit and nine times the
// strength ratio; a NaN limit after the first is passed over, a NaN fatigue
// limit stays.
TEST(SectionRating, TheAllowableLoadIsTheLeastOfItsLimits) {
  const double f = double(5.6f);
  const struct {
    double fatigue, rutting, deflection, strength, expected;
  } rows[] = {
      {1, 1, 999, 999, f},           {16, 1, 999, 999, f / 2},      {1, 16, 999, 999, f / 2},
      {1, 1, 2.5, 999, 2.5},         {1, 1, 999, 0.25, 2.25},       {kInf, 1, 999, 999, 0.0},
      {1, 1, kNaN, 999, f},          {1, kNaN, 999, 0.5, 4.5},      {kNaN, 1, 999, 999, kNaN},
      {1e-8, 1e-8, 999, 999, f * 100}, {1, 1, f, 999, f},
  };
  for (const auto& r : rows) {
    const double got = allowable_load(r.fatigue, r.rutting, r.deflection, r.strength);
    if (std::isnan(r.expected)) {
      EXPECT_TRUE(std::isnan(got)) << r.fatigue << " " << r.rutting;
    } else {
      EXPECT_NEAR(got, r.expected, 1e-15 * r.expected) << r.fatigue << " " << r.rutting << " " << r.deflection;
    }
  }
}

// Each season standing for the year, each limited by a different term.
TEST(SectionRating, EachSeasonTakesItsOwnLeastLimit) {
  SeasonalState s;
  s.allow = 1.0;
  const float reps = 1000.0f;
  const double f = double(5.6f);
  const struct {
    float nf, nd, resp9, resp5;
    double expected;
  } seasons[] = {
      {1000.0f, 1e12f, 1.0f, 100.0f, f},            // fatigue: damage 1
      {1e12f, 16000.0f, 1.0f, 100.0f, f * 2},       // rutting: damage 1/16
      {1e12f, 1e12f, 46.0f, 100.0f, 2.5},           // deflection: 11.5 / 46 * 10
      {1e12f, 1e12f, 1.0f, 0.5f, 4.5},              // strength: 9 * 0.5
      {1e12f, 1e12f, 11.5f, 2.0f, 10.0},            // deflection again, 11.5 / 11.5 * 10
  };
  for (std::size_t i = 0; i < 5; ++i) {
    s.nf[i] = seasons[i].nf;
    s.nd[i] = seasons[i].nd;
    s.resp[i * 10 + 8] = seasons[i].resp9;
    s.resp[i * 10 + 4] = seasons[i].resp5;
  }
  const SeasonValues got = season_allowable(s, reps);
  for (std::size_t i = 0; i < 5; ++i) EXPECT_NEAR(got[i], seasons[i].expected, 1e-6 * seasons[i].expected) << i;
  s.allow = kNaN;
  for (double v : season_allowable(s, reps)) EXPECT_TRUE(std::isnan(v));
}

// The compact store holds the 8 x 8 surfaces of 88 coefficients; a depth or
// a coefficient count beyond them, which the legacy block has room for, is
// refused (the surfaces are not gathered) rather than read outside the store.
TEST(SectionRating, TheCompactSurfaceStoreRefusesSlotsItLacks) {
  const struct {
    int depth, nxcoef, nycoef;
    bool compact_ready, legacy_ready;
  } rows[] = {{8, 11, 8, true, true}, {9, 11, 8, false, true}, {20, 11, 8, false, true},
              {21, 11, 8, false, false}, {1, 11, 9, false, true}, {0, 11, 8, false, false}};
  for (const auto& r : rows) {
    CompactBlocks compact;
    OwnedBlocks legacy;
    for (Blocks* b : {&compact.view, &legacy.view}) {
      b->com3.KXORD = b->com3.KYORD = 3;
      b->com3.NXCOEF = r.nxcoef;
      b->com3.NYCOEF = r.nycoef;
      b->depth.IDEPTH = r.depth;
    }
    SensorSurfaces a, b;
    gather_sensor_surfaces(compact.view, a);
    gather_sensor_surfaces(legacy.view, b);
    EXPECT_EQ(a.ready, r.compact_ready) << r.depth << " " << r.nxcoef << " x " << r.nycoef;
    EXPECT_EQ(b.ready, r.legacy_ready) << r.depth << " " << r.nxcoef << " x " << r.nycoef;
  }
}

}  // namespace
}  // namespace zalk::rating
