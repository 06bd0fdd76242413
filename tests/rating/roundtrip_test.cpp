// Back-calculation of basins the layered engine computes for known
// structures, with the project's deflection table (data/backdefl.txt).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "engine/driver.h"
#include "engine/platform.h"
#include "engine/quorvan.h"
#include "rating/backcalc.h"
#include "rating/context.h"
#include "rating/grids.h"
#include "rating/synthetic.h"

namespace zalk::rating {
namespace {

using testing::Host;
using testing::OwnBlocks;

struct Structure {
  double h1, h2, depth, e1, e2, e3, load;
};

class RoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::filesystem::path table = std::filesystem::path(ZALK_SOURCE_DIR) / "data" / "backdefl.txt";
    if (!std::filesystem::exists(table)) GTEST_SKIP() << "no deflection table at " << table;
    std::filesystem::copy_file(table, platform::table_path(), std::filesystem::copy_options::overwrite_existing);
    ws_ = engine::make_engine_workspace();
  }

  // The test's basin in mils, from the engine for the structure.
  void measure(int p, int j, const Structure& s, double hour = 10.0, double ts = 75.0) {
    const float e1 = float(s.e1), e2 = float(s.e2), e3 = float(s.e3), seastab = 0.0f;
    float defl[10] = {}, scratch[10] = {};
    engine::quorvan(*ws_, platform::deck_path(), float(std::min(s.h1, 12.0)), float(s.h2), float(s.depth), &e1,
                    &e2, &e3, float(s.load / 10940.0), defl, scratch, &seastab, 1, 1);
    host_.fwd_at(p, j, 1) = hour;
    host_.fwd_at(p, j, 2) = s.load;
    for (int k = 1; k <= 6; ++k) host_.fwd_at(p, j, 2 + k) = double(defl[k - 1]) * 1000.0;
    host_.fwd_at(p, j, 9) = 100000.0;
    host_.fwd_at(p, j, 10) = ts;
  }

  void rate() {
    ZALK3071DLL(ctx_, b_.view, host_.fwd.data(), host_.result.data(), host_.sect.data(), host_.ntest.data(),
                &host_.nsec);
  }

  std::unique_ptr<engine::EngineWorkspace> ws_;
  RatingContext ctx_;
  OwnBlocks b_;
  Host host_;
};

TEST_F(RoundTrip, GridStructuresComeBackWithTheirModuliAndDepth) {
  const Structure s[] = {{5.0, 12.0, 120.0, 800000.0, 40000.0, 10000.0, 10940.0},
                         {5.0, 12.0, 120.0, 800000.0, 40000.0, 15000.0, 13000.0},
                         {3.0, 18.0, 60.0, 400000.0, 60000.0, 8000.0, 9500.0}};
  host_.set_section(1, 5.0, 12.0);
  host_.set_section(2, 3.0, 18.0);
  measure(1, 1, s[0]);
  measure(1, 2, s[1]);
  measure(2, 1, s[2]);
  host_.ntest = {2, 1};
  host_.nsec = 2;
  rate();
  const int where[3][2] = {{1, 1}, {1, 2}, {2, 1}};
  for (int t = 0; t < 3; ++t) {
    const int p = where[t][0], j = where[t][1];
    SCOPED_TRACE("structure " + std::to_string(t + 1));
    EXPECT_EQ(host_.result_at(p, j, 6), s[t].depth);
    // The table holds the engine's own basins, so at grid moduli only the
    // deck's three significant digits, the subgrade scaling and the
    // discrete search separate the result from the structure.
    EXPECT_NEAR(host_.result_at(p, j, 2) / s[t].e1, 1.0, 0.05);
    EXPECT_NEAR(host_.result_at(p, j, 4) / s[t].e2, 1.0, 0.05);
    EXPECT_NEAR(host_.result_at(p, j, 5) / s[t].e3, 1.0, 0.02);
    EXPECT_TRUE(std::isfinite(host_.result_at(p, j, 1)));
    EXPECT_GT(host_.result_at(p, j, 1), 0.0);
    EXPECT_LE(host_.result_at(p, j, 1), 999.0);
  }
}

TEST_F(RoundTrip, OffGridStructuresComeBackNearTheirModuli) {
  // Thicknesses, moduli and depth between grid values; 84 in (7 ft) is no
  // depth candidate, so the nearest candidates compete.
  const Structure s[] = {{4.5, 10.0, 84.0, 650000.0, 35000.0, 8000.0, 12000.0},
                         {7.0, 15.0, 150.0, 1100000.0, 28000.0, 12500.0, 9000.0}};
  host_.set_section(1, 4.5, 10.0);
  host_.set_section(2, 7.0, 15.0);
  measure(1, 1, s[0]);
  measure(2, 1, s[1]);
  host_.ntest = {1, 1};
  host_.nsec = 2;
  rate();
  for (int t = 0; t < 2; ++t) {
    SCOPED_TRACE("structure " + std::to_string(t + 1));
    const int p = t + 1;
    const double depth = host_.result_at(p, 1, 6);
    EXPECT_GE(depth, 48.0);
    EXPECT_LE(depth, 240.0);
    EXPECT_NEAR(host_.result_at(p, 1, 2) / s[t].e1, 1.0, 0.25);
    EXPECT_NEAR(host_.result_at(p, 1, 4) / s[t].e2, 1.0, 0.25);
    EXPECT_NEAR(host_.result_at(p, 1, 5) / s[t].e3, 1.0, 0.10);
  }
}

TEST_F(RoundTrip, ASurfaceStifferThanTheTableIsFlaggedAtItsBound) {
  const Structure stiff{5.0, 12.0, 120.0, 6000000.0, 40000.0, 10000.0, 10940.0};
  host_.set_section(1, 5.0, 12.0);
  measure(1, 1, stiff);
  host_.ntest[0] = 1;
  rate();
  // Repeat the search of the chosen depth: its flags tell where it ended.
  const int d = b_.depth->IDEPTH;
  const float loadf = float(host_.fwd_at(1, 1, 2)) / 10940.0f;
  float err = 0;
  const std::array<float, 3> refc{10000.0f, 10940.0f, 3.141596f};
  BACKCALC(ctx_, b_.view, E1GRID.data(), E2GRID.data(), refc.data(), loadf, ctx_.e1out.data(), ctx_.e2out.data(),
           ctx_.e3out.data(), 11, 8, 5.0f, 12.0f, DEPGRID[std::size_t(d - 1)] * 12.0f, d, 1, err, 3);
  EXPECT_NEAR(ctx_.search.xopt[0], 4000.0f, 1e-3f);
  EXPECT_EQ(b_.code->ICODE / 10 * 10, ctx_.search.xopt[0] == 4000.0f ? 20 : 0);
}

}  // namespace
}  // namespace zalk::rating
