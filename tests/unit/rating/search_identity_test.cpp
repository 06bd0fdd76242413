// The grid search's objective forms the surfaces' basis once per point and
// shares it between sensors, and within a search (back_calculate's, or one
// with GatheredSurfaces) evaluates all sensors at once and keeps the basis in
// the surface modulus along a scan. That must change nothing: on the project's
// deflection table, searches and back-calculations through basin_objective and
// through the one-evaluation-per-sensor reference give the same bits,
// in the results and in everything left in the blocks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <vector>

#include "io/platform.h"
#include "rating/backcalc.h"
#include "rating/defltable.h"
#include "unit/rating/synthetic.h"
#include "toolkit/errors.h"

namespace zalk::rating {
namespace {

using testing::OwnBlocks;

template <class T>
bool same_bits(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Two block sets and contexts with the same surfaces: one searched through
// basin_objective, the other through the reference objective.
struct Twin {
  RatingContext ctx;
  OwnBlocks b;
};

void copy_blocks(const OwnBlocks& from, OwnBlocks& to) {
  *to.code = *from.code;
  *to.dd = *from.dd;
  *to.com1 = *from.com1;
  *to.com2 = *from.com2;
  *to.com3 = *from.com3;
  *to.depth = *from.depth;
  *to.dam = *from.dam;
}

// Everything either objective may touch: the whole blocks and the search state.
void expect_same_state(const Twin& a, const Twin& b) {
  EXPECT_TRUE(same_bits(*a.b.code, *b.b.code)) << "code block";
  EXPECT_TRUE(same_bits(*a.b.dd, *b.b.dd)) << "DD block";
  EXPECT_TRUE(same_bits(*a.b.com1, *b.b.com1)) << "COM1";
  EXPECT_TRUE(same_bits(*a.b.com2, *b.b.com2)) << "COM2 (XVEC, YVEC, VALUE, SCOEF)";
  EXPECT_TRUE(same_bits(*a.b.com3, *b.b.com3)) << "COM3 (NX, NY, counts)";
  EXPECT_TRUE(same_bits(*a.b.depth, *b.b.depth)) << "IDEPTH";
  const SearchState& s = a.ctx.search;
  const SearchState& r = b.ctx.search;
  EXPECT_TRUE(same_bits(s.xopt, r.xopt)) << s.xopt[0] << " " << s.xopt[1] << " vs " << r.xopt[0] << " " << r.xopt[1];
  EXPECT_TRUE(same_bits(s.fopt, r.fopt)) << s.fopt << " vs " << r.fopt;
  EXPECT_TRUE(same_bits(s.c1, r.c1));
  EXPECT_TRUE(same_bits(s.x, r.x));
  EXPECT_EQ(s.ibest, r.ibest);
  EXPECT_EQ(s.jbest, r.jbest);
  EXPECT_EQ(s.found, r.found);
}

// A reproducible stream of numbers in [0, 1).
struct Lcg {
  std::uint64_t state;
  double next() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return double(state >> 11) / 9007199254740992.0;
  }
};

class SearchIdentity : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::filesystem::path shipped = std::filesystem::path(ZALK_SOURCE_DIR) / "data" / "backdefl.txt";
    ASSERT_TRUE(std::filesystem::exists(shipped)) << shipped;
    std::filesystem::copy_file(shipped, platform::table_path(), std::filesystem::copy_options::overwrite_existing);
    tables_ = std::make_unique<DeflectionTables>();
    OwnBlocks ob;
    ASSERT_EQ(read_deflection_table(platform::table_path(), *tables_, ob.view), TableRead::Complete);
  }
  static void TearDownTestSuite() { tables_.reset(); }

  // Surfaces of the section (h, base) in a, copied to b.
  void fit_section(float h, float base) {
    a_.b.com3->KXORD = a_.b.com3->KYORD = 3;
    fit_thickness(*tables_, h, base, a_.b.view);
    fit_modulus_surfaces(*tables_, a_.b.view);
    copy_blocks(a_.b, b_.b);
  }

  // A measured basin: the surfaces' own basin at a random structure, scaled
  // and disturbed by a few per cent, as field data are.
  void measure_basin(Lcg& rng, const std::array<float, 9>& weights) {
    a_.b.depth->IDEPTH = 1 + int(rng.next() * 8.0);
    const float e1 = float(100.0 + rng.next() * 3900.0);
    const float e2 = float(10.0 + rng.next() * 90.0);
    const double scale = 0.5 + 2.0 * rng.next();
    for (int s = 1; s <= 8; ++s) {
      const double w = evaluate_surface(a_.b.view, e1, e2, s);
      a_.b.dd->DMEAS[s - 1] = float(scale * w * (1.0 + 0.04 * (rng.next() - 0.5)));
    }
    for (int s = 0; s < 9; ++s) a_.b.com3->WEIGHT[s] = weights[std::size_t(s)];
    copy_blocks(a_.b, b_.b);
  }

  void search_both(int d, const std::array<float, 2>& low, const std::array<float, 2>& high) {
    a_.b.depth->IDEPTH = b_.b.depth->IDEPTH = d;
    const Objective shared = [this](int n, const float* x, float& f) { basin_objective(a_.ctx, a_.b.view, n, x, f); };
    const Objective reference = [this](int n, const float* x, float& f) {
      basin_objective_per_sensor(b_.ctx, b_.b.view, n, x, f);
    };
    grid_search(a_.ctx, a_.b.view, shared, low, high);
    grid_search(b_.ctx, b_.b.view, reference, low, high);
  }

  static inline std::unique_ptr<DeflectionTables> tables_;
  Twin a_, b_;
};

const std::array<float, 2> kLow{E1GRID.front(), E2GRID.front()};
const std::array<float, 2> kHigh{E1GRID.back(), E2GRID.back()};
const std::array<float, 9> kSixSensors{1, 1, 1, 1, 1, 1, 0, 0, 0};

TEST_F(SearchIdentity, SearchesAndBackCalculationsGiveTheSameBitsAtEveryDepth) {
  // Sections across the table (between and on grid thicknesses), several
  // basins each, every depth candidate; the weight sets include all eight
  // sensors and an unweighted first sensor (c1 then stays from before).
  const std::array<std::array<float, 2>, 3> sections{{{3.5f, 9.0f}, {6.0f, 20.0f}, {11.2f, 40.0f}}};
  const std::array<std::array<float, 9>, 3> weight_sets{
      {kSixSensors, {1, 0.5f, 1, 1, 2, 1, 1, 1, 0}, {0, 1, 1, 1, 1, 1, 0, 0, 0}}};
  Lcg rng{12345};
  std::vector<toolkit::ErrorEvent> events;
  toolkit::ScopedErrorHandler record([&](const toolkit::ErrorEvent& e) { events.push_back(e); });
  const std::array<float, 3> refc{kRefSubgradeModulus, kRefLoad, 3.141596f};
  int cases = 0;
  for (const auto& sec : sections) {
    fit_section(sec[0], sec[1]);
    for (int basin = 0; basin < 4; ++basin) {
      measure_basin(rng, weight_sets[std::size_t(basin % 3)]);
      for (int d = 1; d <= 8; ++d) {
        SCOPED_TRACE(::testing::Message() << "h " << sec[0] << " b " << sec[1] << " basin " << basin << " d " << d);
        search_both(d, kLow, kHigh);
        expect_same_state(a_, b_);

        // The back-calculation: back_calculate's own search against the reference
        // search followed by the same basin evaluation; its engine is a
        // stand-in, as only the search and DFIT are compared.
        a_.ctx.engine_override = [](float, float, float, const float*, const float*, const float*, float,
                                    float* defl, float*, const float*, int, int) {
          for (int s = 0; s < 8; ++s) defl[s] = 1.0f;
        };
        std::array<float, 20> e1{}, e2{}, e3{};
        float err = 0;
        back_calculate(a_.ctx, a_.b.view, E1GRID.data(), E2GRID.data(), refc.data(), 1.0f, e1.data(), e2.data(),
                 e3.data(), 11, 8, sec[0], sec[1], DEPGRID[std::size_t(d - 1)] * 12.0f, d, 1, err, 3);
        grid_search(b_.ctx, b_.b.view,
                [this](int n, const float* x, float& f) { basin_objective_per_sensor(b_.ctx, b_.b.view, n, x, f); },
                kLow, kHigh);
        std::array<float, 8> dfit_ref{};
        std::memcpy(dfit_ref.data(), b_.b.dd->DFIT, sizeof(dfit_ref));
        evaluate_basin(b_.b.view, b_.ctx.search.xopt.data(), dfit_ref.data());
        EXPECT_TRUE(same_bits(a_.ctx.search.xopt, b_.ctx.search.xopt));
        EXPECT_TRUE(same_bits(a_.ctx.search.fopt, b_.ctx.search.fopt));
        EXPECT_EQ(a_.b.code->ICODE, b_.b.code->ICODE);
        EXPECT_EQ(std::memcmp(a_.b.dd->DFIT, dfit_ref.data(), sizeof(dfit_ref)), 0);
        EXPECT_TRUE(same_bits(a_.b.com2->XVEC, b_.b.com2->XVEC));
        EXPECT_TRUE(same_bits(a_.b.com2->YVEC, b_.b.com2->YVEC));
        EXPECT_TRUE(same_bits(a_.b.com2->VALUE, b_.b.com2->VALUE));
        EXPECT_TRUE(std::isfinite(a_.ctx.search.fopt));
        copy_blocks(a_.b, b_.b);  // DCALC and the moduli come from back_calculate only
        ++cases;
      }
    }
  }
  EXPECT_EQ(cases, 3 * 4 * 8);
  EXPECT_TRUE(events.empty()) << "a search inside the knots raises nothing";
}

// A box reaching beyond the knots: the points outside go through BS2GD,
// which warns and gives zero; both objectives give the same warnings and
// the same bits.
TEST_F(SearchIdentity, PointsOutsideTheKnotsGiveTheSameWarningsAndValues) {
  fit_section(5.0f, 12.0f);
  Lcg rng{777};
  measure_basin(rng, kSixSensors);
  std::vector<toolkit::ErrorEvent> shared_events, reference_events;
  std::vector<toolkit::ErrorEvent>* sink = &shared_events;
  toolkit::ScopedErrorHandler record([&](const toolkit::ErrorEvent& e) { sink->push_back(e); });
  const std::array<float, 2> low{50.0f, 5.0f};
  const std::array<float, 2> high{4500.0f, 120.0f};
  a_.b.depth->IDEPTH = b_.b.depth->IDEPTH = 4;
  const Objective shared = [this](int n, const float* x, float& f) { basin_objective(a_.ctx, a_.b.view, n, x, f); };
  const Objective reference = [this](int n, const float* x, float& f) {
    basin_objective_per_sensor(b_.ctx, b_.b.view, n, x, f);
  };
  {
    // All sensors at once where the point is inside, each through BS2GD where not.
    const GatheredSurfaces gathered(a_.ctx, a_.b.view);
    grid_search(a_.ctx, a_.b.view, shared, low, high);
  }
  sink = &reference_events;
  grid_search(b_.ctx, b_.b.view, reference, low, high);
  expect_same_state(a_, b_);
  ASSERT_FALSE(shared_events.empty());
  ASSERT_EQ(shared_events.size(), reference_events.size());
  for (std::size_t i = 0; i < shared_events.size(); ++i) {
    EXPECT_EQ(shared_events[i].lines, reference_events[i].lines);
  }

  // A point that is not a number is outside as well.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float x[2] = {nan, 50.0f};
  float fa = 0, fb = 0;
  shared_events.clear();
  reference_events.clear();
  sink = &shared_events;
  basin_objective(a_.ctx, a_.b.view, 2, x, fa);
  sink = &reference_events;
  basin_objective_per_sensor(b_.ctx, b_.b.view, 2, x, fb);
  EXPECT_TRUE(same_bits(fa, fb));
  expect_same_state(a_, b_);
  ASSERT_EQ(shared_events.size(), 6u);  // one warning per weighted sensor
  for (std::size_t i = 0; i < shared_events.size(); ++i) EXPECT_EQ(shared_events[i].lines, reference_events[i].lines);
}

// Arguments BS2GD rejects, or a depth without surfaces, are reported by the
// same routine with the same text on both paths.
TEST_F(SearchIdentity, RejectedArgumentsGiveTheSameError) {
  fit_section(5.0f, 12.0f);
  Lcg rng{99};
  measure_basin(rng, kSixSensors);
  const float x[2] = {1000.0f, 40.0f};
  auto error_of = [&](Twin& t, bool shared) {
    std::vector<toolkit::ErrorEvent> events;
    toolkit::ScopedErrorHandler record([&](const toolkit::ErrorEvent& e) { events.push_back(e); });
    float f = 0;
    if (shared) {
      EXPECT_THROW(basin_objective(t.ctx, t.b.view, 2, x, f), toolkit::SevereError);
    } else {
      EXPECT_THROW(basin_objective_per_sensor(t.ctx, t.b.view, 2, x, f), toolkit::SevereError);
    }
    return events.empty() ? std::vector<std::string>{} : events.back().lines;
  };
  a_.b.com3->KYORD = b_.b.com3->KYORD = 0;  // an order BS2GD refuses
  std::vector<std::string> shared = error_of(a_, true);
  EXPECT_FALSE(shared.empty());
  EXPECT_EQ(shared, error_of(b_, false));
  expect_same_state(a_, b_);

  a_.b.com3->KYORD = b_.b.com3->KYORD = 3;
  a_.b.depth->IDEPTH = b_.b.depth->IDEPTH = 21;  // no surfaces there
  shared = error_of(a_, true);
  EXPECT_FALSE(shared.empty());
  EXPECT_EQ(shared, error_of(b_, false));
  expect_same_state(a_, b_);
}

}  // namespace
}  // namespace zalk::rating
