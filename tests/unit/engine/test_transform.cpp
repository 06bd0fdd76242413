// Transform grid, interval ends, Gauss mapping and the per-parameter layer
// system.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/transform.h"

namespace zalk::engine {
namespace {

struct Layers {
  std::vector<double> e, pr, h, bd;
  LayerSet set() const { return LayerSet{int(e.size()), e.data(), pr.data(), h.data(), bd.data()}; }
};

Layers homogeneous(int n) {
  Layers L;
  L.e.assign(n, 30000.0);
  L.pr.assign(n, 0.35);
  L.h.assign(n, 10.0);
  L.h.back() = 0.0;
  L.bd.assign(n, 1.0);
  return L;
}

class TransformTest : public ::testing::Test {
 protected:
  TransformTables tables;
  SolverWorkspace solver;
};

TEST_F(TransformTest, GridBreaksAndRuleForRadius59) {
  const Layers L = homogeneous(4);
  transform_grid(5.9, L.set(), tables, solver);
  const double m1 = 3.8317058086395264 / 5.9;

  // The mapped rule integrates polynomials up to degree 99 on [0, 1]
  // exactly; degree 0, 7 and 99 to rounding (1e-14).
  for (int deg : {0, 7, 99}) {
    double sum = 0.0;
    for (int k = 0; k < kGaussPoints; ++k) sum += tables.weights[k] * std::pow(tables.nodes[k], deg);
    EXPECT_NEAR(sum, 1.0 / (deg + 1), 1e-14) << deg;
  }
  for (int k = 0; k < kGaussPoints; ++k) {
    EXPECT_GT(tables.nodes[k], 0.0);
    EXPECT_LT(tables.nodes[k], 1.0);
    EXPECT_NEAR(tables.nodes[k] + tables.nodes[kGaussPoints - 1 - k], 1.0, 1e-15);
    EXPECT_DOUBLE_EQ(tables.grid[k], m1 * tables.nodes[k]);
  }

  // Geometric part: from m1 exactly to 30 - m1 with a constant ratio.
  EXPECT_EQ(tables.ngeom, 200);
  EXPECT_EQ(tables.grid[50], m1);
  EXPECT_NEAR(tables.grid[249], 30.0 - m1, 1e-12);
  const double ratio = std::pow((30.0 - m1) / m1, 1.0 / 199.0);
  for (int i = 51; i < kGridPoints; ++i) {
    EXPECT_NEAR(tables.grid[i] / tables.grid[i - 1], ratio, 1e-13) << i;
  }

  // Interval ends: J1 zeros over the radius, then steps of pi / a.
  EXPECT_EQ(tables.breaks[0], 1e-12);
  EXPECT_EQ(tables.breaks[1], m1);
  EXPECT_EQ(tables.breaks[2], 7.015586853027344 / 5.9);
  EXPECT_EQ(tables.breaks[16], 51.04354476928711 / 5.9);
  for (int k = 17; k < kBreaks; ++k) {
    EXPECT_NEAR(tables.breaks[k] - tables.breaks[k - 1], M_PI / 5.9, 1e-12) << k;
  }
  // The ends are zeros of J1 as 4-byte values, within 1e-5 of the true
  // zeros, where |J1'| is at most 0.4: |J1| below 4e-6.
  for (int k = 1; k <= 16; ++k) EXPECT_NEAR(::j1(tables.breaks[k] * 5.9), 0.0, 4e-6) << k;
}

// In a homogeneous structure the top layer's coefficients are those of the
// homogeneous half-space (B = 2 nu, D = 1), so they vanish once that
// solution is removed; what remains comes from nudging the unit stiffness
// ratio by 1e-6 and from rounding.
TEST_F(TransformTest, HomogeneousTopLayerCoefficientsVanish) {
  const Layers L = homogeneous(4);
  transform_grid(5.9, L.set(), tables, solver);
  ASSERT_EQ(tables.ncoef, 14);
  for (int c = 0; c < kGridPoints; ++c) {
    for (int i = 0; i < 4; ++i) EXPECT_LT(std::abs(tables.column(c)[i]), 1e-5) << c << " " << i;
  }
}

TEST(LayerMatrix, UnitStiffnessRatioIsNudged) {
  Layers L = homogeneous(2);
  std::vector<double> a(36);
  layer_matrix(0.5, L.set(), a.data());
  // Row 4 (vertical displacement at interface 1), column 5 (half-space A) is R.
  EXPECT_EQ(a[4 * 6 + 3], 1.0 + 9.999999974752427e-07);
  // A stiffer lower layer: R = (1 + nu2) E1 / ((1 + nu1) E2) as it is.
  L.e[1] = 60000.0;
  layer_matrix(0.5, L.set(), a.data());
  EXPECT_EQ(a[4 * 6 + 3], 0.5);
}

TEST(SolveCoeff, SolutionSatisfiesEveryCondition) {
  // Two layers with a real interface: the coordinate form handed to the
  // sparse solver must describe the dense system, so the solution leaves
  // no residual beyond rounding.
  Layers L = homogeneous(2);
  L.e[1] = 15000.0;  // a real interface
  SolverWorkspace ws;
  std::vector<double> a(36), b(6), x(6);
  const double m = 0.8;
  layer_matrix(m, L.set(), a.data());
  load_vector(2, b.data());
  solve_coefficients(2, ws, a.data(), b.data(), x.data());
  for (int row = 0; row < 6; ++row) {
    double r = -b[row];
    for (int col = 0; col < 6; ++col) r += a[col * 6 + row] * x[col];
    EXPECT_NEAR(r, 0.0, 1e-13) << row;
  }
}

TEST(SolveCoeff, TinyCoefficientsAreZeroedOnlyAtTheSecondConsecutiveSolve) {
  SolverWorkspace ws;
  std::vector<double> a(36, 0.0), b(6), x(6);
  for (int i = 0; i < 6; ++i) a[i * 6 + i] = 1.0;
  const std::vector<double> tiny_first = {1e-100, 1.0, 1e-100, 1.0, 2.0, 3.0};
  const std::vector<double> tiny_second = {1e-100, 1e-100, 1.0, 1.0, 2.0, 3.0};
  // Marks start cleared.
  b = tiny_first;
  solve_coefficients(2, ws, a.data(), b.data(), x.data());
  EXPECT_EQ(x[0], 1e-100);
  EXPECT_EQ(x[2], 1e-100);
  b = tiny_second;
  solve_coefficients(2, ws, a.data(), b.data(), x.data());
  EXPECT_EQ(x[0], 0.0);      // tiny twice in a row
  EXPECT_EQ(x[1], 1e-100);   // first time tiny
  EXPECT_EQ(x[2], 1.0);
  b = {1e-100, 1.0, 1e-100, 1.0, 2.0, 3.0};
  solve_coefficients(2, ws, a.data(), b.data(), x.data());
  EXPECT_EQ(x[0], 0.0);      // zeroed value keeps its mark
  EXPECT_EQ(x[1], 1.0);
  EXPECT_EQ(x[2], 1e-100);   // the mark was cleared by 1.0
}

}  // namespace
}  // namespace zalk::engine
