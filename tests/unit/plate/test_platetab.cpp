// The generated plate table: its defining entries, the reference values of
// S1 and S4, and a sample of entries recomputed by direct Hankel summation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "unit/plate/halfspace_reference.h"
#include "plate/platetab.h"

namespace zalk::plate {
namespace {

double tab(int row, int col) { return kPlateTab[(row - 1) + (col - 1) * kPlateRows]; }
double entry(int block, int k, int i, int j) { return tab(plate_row(kPlateBlocks[block], k, i), j); }

TEST(PlateTable, SurfaceRowsOfInnerNearFarBlocks) {
  for (int b : {kInnerBlock, kNearBlock, kFarBlock}) {
    for (int j = 1; j <= 20; ++j) {
      const double rho = kPlateBlocks[b].rho[j - 1];
      EXPECT_DOUBLE_EQ(entry(b, 1, 1, j), rho <= 1 ? rho / 2 : 1 / (2 * rho)) << b << " " << j;
      EXPECT_EQ(entry(b, 2, 1, j), 0.0);
    }
  }
  // Values quoted to the digits shown.
  EXPECT_NEAR(entry(kFarBlock, 1, 1, 1), 0.1, 1e-16);
  EXPECT_NEAR(entry(kFarBlock, 1, 1, 20), 0.014286, 5e-7);
  EXPECT_DOUBLE_EQ(entry(kInnerBlock, 4, 1, 1), 1.0);
  EXPECT_NEAR(entry(kInnerBlock, 4, 1, 20), 0.63662, 5e-6);
  EXPECT_NEAR(entry(kNearBlock, 4, 1, 20), 0.10051, 5e-6);
  EXPECT_DOUBLE_EQ(entry(kInnerBlock, 5, 1, 1), -1.0);
  EXPECT_EQ(entry(kInnerBlock, 5, 1, 20), 0.0);
  for (int j = 1; j <= 19; ++j) EXPECT_EQ(entry(kInnerBlock, 6, 1, j), 1.0);
  EXPECT_EQ(entry(kInnerBlock, 6, 1, 20), 0.5);
  EXPECT_EQ(entry(kNearBlock, 6, 1, 1), 0.5);
  for (int j = 2; j <= 20; ++j) EXPECT_EQ(entry(kNearBlock, 6, 1, j), 0.0);
  // S4 and S5 rise/fall monotonically along the inner surface row.
  for (int j = 2; j <= 20; ++j) {
    EXPECT_LT(entry(kInnerBlock, 4, 1, j), entry(kInnerBlock, 4, 1, j - 1));
    EXPECT_GT(entry(kInnerBlock, 5, 1, j), entry(kInnerBlock, 5, 1, j - 1));
  }
}

TEST(PlateTable, EdgeBlockSurfaceBridge) {
  // Function 1 at rho = 0.98, 1, 1.02 (columns 9..11), to the five digits quoted.
  EXPECT_NEAR(entry(kEdgeBlock, 1, 1, 9), 0.49001, 5e-6);
  EXPECT_NEAR(entry(kEdgeBlock, 1, 1, 10), 0.49011, 5e-6);
  EXPECT_NEAR(entry(kEdgeBlock, 1, 1, 11), 0.49021, 5e-6);
  // Away from the three central nodes the surface row holds the true values.
  for (int j : {1, 5, 8, 12, 20}) {
    const double rho = kRhoEdge[j - 1];
    EXPECT_DOUBLE_EQ(entry(kEdgeBlock, 1, 1, j), rho < 1 ? rho / 2 : 1 / (2 * rho));
    EXPECT_NEAR(entry(kEdgeBlock, 4, 1, j), plate_test::surface_i0m1(rho), 1e-14);
  }
}

TEST(PlateTable, NeighbouringBlocksAgreeOnSharedLines) {
  for (int k = 1; k <= 6; ++k) {
    for (int i = 1; i <= 10; ++i) {
      EXPECT_EQ(entry(kInnerBlock, k, i, 20), entry(kNearBlock, k, i, 1)) << k << " " << i;
      EXPECT_EQ(entry(kNearBlock, k, i, 20), entry(kFarBlock, k, i, 1)) << k << " " << i;
    }
  }
}

TEST(PlateTable, LoadAxisColumn) {
  // The table holds these in extended precision rounded once; the double
  // evaluation here is good to a few units in the last place.
  for (int i = 1; i <= 10; ++i) {
    const double z = kZetaShort[i - 1], s = std::sqrt(1 + z * z);
    for (int k = 1; k <= 3; ++k) EXPECT_EQ(entry(kInnerBlock, k, i, 1), 0.0);
    EXPECT_NEAR(entry(kInnerBlock, 4, i, 1), s - z, 5e-16);
    EXPECT_NEAR(entry(kInnerBlock, 5, i, 1), -1 / (s * s * s), 5e-16);
    EXPECT_NEAR(entry(kInnerBlock, 6, i, 1), 1 - z / s, 5e-16);
  }
  // The quoted examples at zeta = 0.05 and 0.45 (six digits).
  EXPECT_NEAR(entry(kInnerBlock, 4, 2, 1), 0.951249, 5e-7);
  EXPECT_NEAR(entry(kInnerBlock, 5, 2, 1), -0.996262, 5e-7);
  EXPECT_NEAR(entry(kInnerBlock, 6, 2, 1), 0.950062, 5e-7);
  EXPECT_NEAR(entry(kInnerBlock, 4, 10, 1), 0.646586, 5e-7);
  EXPECT_NEAR(entry(kInnerBlock, 5, 10, 1), -0.758355, 5e-7);
  EXPECT_NEAR(entry(kInnerBlock, 6, 10, 1), 0.589635, 5e-7);
}

struct FunctionValue {
  double rho, zeta, f1, f4;
};

std::vector<FunctionValue> read_plate_functions() {
  std::ifstream in(std::string(ZALK_TEST_DATA) + "/plate_functions.csv");
  std::vector<FunctionValue> v;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::replace(line.begin(), line.end(), ',', ' ');
    std::istringstream is(line);
    FunctionValue f{};
    is >> f.rho >> f.zeta >> f.f1 >> f.f4;
    v.push_back(f);
  }
  return v;
}

// The reference summation itself against the 16-digit values.
TEST(PlateTable, ReferenceSummationReproducesTabulatedFunctions) {
  const auto values = read_plate_functions();
  ASSERT_EQ(values.size(), 21u);
  for (const auto& f : values) {
    if (f.zeta == 0) continue;
    const auto in = plate_test::hankel_integrals(f.rho, f.zeta);
    EXPECT_NEAR(in.i1[0], f.f1, 2e-13) << f.rho << " " << f.zeta;
    EXPECT_NEAR(in.i0[0], f.f4, 2e-13) << f.rho << " " << f.zeta;
  }
}

// Table entries at the reference points that are grid nodes. The nodes are
// 4-byte values within 2e-8 of the reference points (0.98 is held as
// 0.9800000190734863, 0.45 as 0.44999998807907104) and the slopes are below
// 1, so the entries may differ by up to 3e-8.
TEST(PlateTable, S1AndS4AgreeWithReferenceValuesAtNodes) {
  int compared = 0;
  for (const auto& f : read_plate_functions()) {
    for (int b = 0; b < 4; ++b) {
      const PlateBlock& blk = kPlateBlocks[b];
      for (int j = 1; j <= 20; ++j) {
        for (int i = 1; i <= blk.ny; ++i) {
          if (std::fabs(blk.rho[j - 1] - f.rho) > 1e-7 || std::fabs(blk.zeta[i - 1] - f.zeta) > 1e-7) continue;
          if (b == kEdgeBlock && i == 1 && j >= 9 && j <= 11) continue;  // the bridge
          EXPECT_NEAR(entry(b, 1, i, j), f.f1, 3e-8) << b << " " << f.rho << " " << f.zeta;
          EXPECT_NEAR(entry(b, 4, i, j), f.f4, 3e-8) << b << " " << f.rho << " " << f.zeta;
          ++compared;
        }
      }
    }
  }
  EXPECT_GE(compared, 20);
}

// A random sample of entries below the surface, all six functions,
// recomputed by direct Hankel summation. The summation is good to about
// 1e-13 (previous test); 1e-10 leaves room and is far below what the
// interpolation needs.
TEST(PlateTable, RandomEntriesAgreeWithDirectHankelSummation) {
  std::mt19937 gen(20261207);
  int checked = 0;
  for (int b = 0; b < 4; ++b) {
    const PlateBlock& blk = kPlateBlocks[b];
    for (int n = 0; n < 12; ++n) {
      const int j = 1 + int(gen() % 20), i = 2 + int(gen() % (blk.ny - 1));
      const double rho = blk.rho[j - 1], zeta = blk.zeta[i - 1];
      double S[6];
      plate_test::table_functions(rho, plate_test::hankel_integrals(rho, zeta), S);
      for (int k = 1; k <= 6; ++k) {
        EXPECT_NEAR(entry(b, k, i, j), S[k - 1], 1e-10 * std::fmax(1.0, std::fabs(S[k - 1])))
            << "block " << b << " function " << k << " rho " << rho << " zeta " << zeta;
      }
      ++checked;
    }
  }
  EXPECT_EQ(checked, 48);
}

// Surface rows of S3 and S5 from the closed form of S4 = I(0,-1) by the
// Bessel recurrences I(1,0) = -d/drho I(0,-1) and I(0,1) = d/drho I(1,0) +
// I(1,0)/rho, differentiated numerically: fourth-order differences with a
// step of 0.3% of the function's length scale (the distance to the edge or to
// the axis) balance truncation and rounding at about 1e-9 relative.
TEST(PlateTable, SurfaceRowsOfS3AndS5FollowFromS4) {
  int checked = 0;
  for (int b = 0; b < 4; ++b) {
    const PlateBlock& blk = kPlateBlocks[b];
    for (int j = 1; j <= 20; ++j) {
      const double rho = blk.rho[j - 1], d = rho - 1;
      if (rho == 0 || std::fabs(d) < 0.03) continue;  // axis, edge and the bridge
      const long double h = 0.003L * std::fmin(std::fabs(d), rho), x = rho;
      auto f = [](long double t) { return plate_test::surface_i0m1_ext(t); };
      const long double f1 = (f(x - 2 * h) - 8 * f(x - h) + 8 * f(x + h) - f(x + 2 * h)) / (12 * h);
      const long double f2 = (-f(x + 2 * h) + 16 * f(x + h) - 30 * f(x) + 16 * f(x - h) - f(x - 2 * h)) / (12 * h * h);
      const double i10 = double(-f1), i01 = double(-f2 - f1 / x);
      EXPECT_NEAR(entry(b, 3, 1, j), d * d * i10, 1e-8 * std::fabs(d * d * i10) + 1e-12) << b << " " << rho;
      EXPECT_NEAR(entry(b, 5, 1, j), d * d * d * i01, 1e-8 * std::fabs(d * d * d * i01) + 1e-12) << b << " " << rho;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 18 + 19 + 20 + 17);
}

TEST(PlateTable, PlateTablesCopiesTablesAndGrids) {
  auto t = std::make_unique<PlateTables>();
  plate_tables(*t);
  EXPECT_EQ(0, std::memcmp(t->tab, kPlateTab, sizeof t->tab));
  EXPECT_EQ(t->nrhoin, 20);
  EXPECT_EQ(t->nzin, 10);
  EXPECT_EQ(t->nrhonear, 20);
  EXPECT_EQ(t->nznear, 10);
  EXPECT_EQ(t->nrhofar, 20);
  EXPECT_EQ(t->nzfar, 10);
  EXPECT_EQ(t->nrhoedge, 20);
  EXPECT_EQ(t->nzedge, 20);
  EXPECT_EQ(t->zedge[19], 0.44999998807907104);
  EXPECT_EQ(t->rhoedge[0], 0.8199999928474426);
  EXPECT_EQ(t->rhofar[19], 35.0);
}

}  // namespace
}  // namespace zalk::plate
