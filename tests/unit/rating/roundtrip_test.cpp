// Back-calculation of basins the layered engine computes for known
// structures, with the project's deflection table (data/backdefl.txt).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "engine/driver.h"
#include "io/platform.h"
#include "engine/quorvan.h"
#include "rating/backcalc.h"
#include "rating/context.h"
#include "legacy/host_rating.h"
#include "rating/grids.h"
#include "unit/rating/synthetic.h"

namespace zalk::rating {
namespace {

using legacy::rate_sections;

using testing::Host;
using testing::OwnBlocks;

struct Structure {
  double h1, h2, depth, e1, e2, e3, load;
};

class RoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::filesystem::path table = std::filesystem::path(ZALK_SOURCE_DIR) / "data" / "backdefl.txt";
    ASSERT_TRUE(std::filesystem::exists(table)) << "the shipped deflection table is missing: " << table;
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

  void check(const Structure& s);

  void rate() {
    rate_sections(ctx_, b_.view, host_.fwd.data(), host_.result.data(), host_.sect.data(), host_.ntest.data(),
                &host_.nsec);
  }

  std::unique_ptr<engine::EngineWorkspace> ws_;
  RatingContext ctx_;
  OwnBlocks b_;
  Host host_;
};

// Index of a depth (inches) among the candidates, or of the candidate just
// below it.
int depth_index(double inches) {
  int d = 0;
  while (d + 1 < int(DEPGRID.size()) && DEPGRID[std::size_t(d + 1)] * 12.0 <= inches) ++d;
  return d;
}

// Each structure is rated alone, so that the fit error of its chosen depth
// is the one the driver kept.
void RoundTrip::check(const Structure& s) {
  host_.set_section(1, s.h1, s.h2);
  measure(1, 1, s);
  host_.ntest[0] = 1;
  host_.nsec = 1;
  rate();
  const double depth = host_.result_at(1, 1, 6);
  // The search refines a 20 x 20 grid within two cells of its best point,
  // so it settles where the grid meets the narrow valley of the objective
  // (a softer surface layer against a stiffer base) rather than at the
  // structure itself; a neighbouring depth candidate may then fit a little
  // better than the true one. Measured on these five structures: the depth
  // is the true candidate or a neighbour (84 in comes back as 120, 150 in
  // as 120), surface moduli within 11 %, base moduli within 22 %, subgrade
  // moduli within 23 % (grid structures at the true depth within 2 %), and
  // the engine's basin of the result within 0.7 % rms of the measured one
  // (fit error at most 3e-4 over six sensors). The bounds below leave a
  // margin over those figures.
  EXPECT_LE(std::abs(depth_index(depth) - depth_index(s.depth)), 1) << depth;
  EXPECT_NEAR(host_.result_at(1, 1, 2) / s.e1, 1.0, 0.2);
  EXPECT_NEAR(host_.result_at(1, 1, 4) / s.e2, 1.0, 0.25);
  EXPECT_NEAR(host_.result_at(1, 1, 5) / s.e3, 1.0, 0.30);
  EXPECT_LT(ctx_.test.best, 1e-3f);
  const double allow = host_.result_at(1, 1, 1);
  EXPECT_TRUE(allow > 0.0 && allow <= 999.0) << allow;
}

TEST_F(RoundTrip, GridStructuresComeBackNearTheirModuliAndDepth) {
  check({5.0, 12.0, 120.0, 800000.0, 40000.0, 10000.0, 10940.0});
  check({5.0, 12.0, 120.0, 800000.0, 40000.0, 15000.0, 13000.0});
  check({3.0, 18.0, 60.0, 400000.0, 60000.0, 8000.0, 9500.0});
}

TEST_F(RoundTrip, OffGridStructuresComeBackNearTheirModuliAndDepth) {
  // Thicknesses, moduli and depths between grid values (84 and 150 in are
  // no depth candidates).
  check({4.5, 10.0, 84.0, 650000.0, 35000.0, 8000.0, 12000.0});
  check({7.0, 15.0, 150.0, 1100000.0, 28000.0, 12500.0, 9000.0});
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
  back_calculate(ctx_, b_.view, E1GRID.data(), E2GRID.data(), refc.data(), loadf, ctx_.e1out.data(), ctx_.e2out.data(),
           ctx_.e3out.data(), 11, 8, 5.0f, 12.0f, DEPGRID[std::size_t(d - 1)] * 12.0f, d, 1, err, 3);
  EXPECT_NEAR(ctx_.search.xopt[0], 4000.0f, 1e-3f);
  EXPECT_EQ(b_.code->ICODE / 10 * 10, ctx_.search.xopt[0] == 4000.0f ? 20 : 0);
}

}  // namespace
}  // namespace zalk::rating
