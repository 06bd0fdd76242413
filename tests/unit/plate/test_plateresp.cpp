// The plate coefficient surfaces and the plate routine: combination formulas,
// fitted-once surfaces, block choice, grid limits with their warnings, the
// load axis, the surface strains and the edge bridge.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "unit/plate/halfspace_reference.h"
#include "plate/platecoef.h"
#include "plate/plateresp.h"
#include "plate/platetab.h"
#include "toolkit/errors.h"

namespace zalk::plate {
namespace {

using toolkit::ErrorEvent;
using toolkit::ScopedErrorHandler;

struct Result {
  double v[6];  // W, U, ER, ET, EZ, ERZ
};

Result plateresp(double R, double z, double E, double nu, double a = 5.9, double q = 100.0) {
  const double P[1] = {q}, A[1] = {a};
  Result r{};
  plate_response(1, R, E, nu, r.v[0], r.v[1], r.v[2], r.v[3], r.v[4], r.v[5], z, P, A);
  return r;
}

// The six tables of one block in the layout plate_coefficients takes (20 x NY, LD 20).
struct BlockTables {
  std::vector<double> t[6];
  explicit BlockTables(int block) {
    const PlateBlock& b = kPlateBlocks[block];
    for (int k = 1; k <= 6; ++k) {
      t[k - 1].resize(20 * b.ny);
      for (int i = 1; i <= b.ny; ++i)
        for (int j = 1; j <= 20; ++j)
          t[k - 1][(j - 1) + (i - 1) * 20] = kPlateTab[(plate_row(b, k, i) - 1) + (j - 1) * kPlateRows];
    }
  }
};

Result platecoef_refit(int block, double rho, double zeta, double D, double nu) {
  const BlockTables bt(block);
  const PlateBlock& b = kPlateBlocks[block];
  Result r{};
  plate_coefficients(rho, zeta, D, nu, r.v[0], r.v[1], r.v[2], r.v[3], r.v[4], r.v[5], bt.t[0].data(),
            bt.t[1].data(), bt.t[2].data(), bt.t[3].data(), bt.t[4].data(), bt.t[5].data(), b.rho,
            b.zeta, 20, b.ny);
  return r;
}

struct WarningCounter {
  int warnings = 0, others = 0;
  ScopedErrorHandler handler{[this](const ErrorEvent& e) { (e.type == toolkit::WARNING ? warnings : others)++; }};
};

// The combination formulas turn the exact functions S1..S6 into the exact
// half-space response (independent derivation in halfspace_reference.h), also
// next to the load edge; so what remains in the plate routine's error is the
// interpolation of the tables. 1e-11: the summation's accuracy, amplified by
// the division by (rho - 1)^3 at 0.97.
TEST(PlateCoef, CombinationOfExactFunctionsIsTheHalfSpace) {
  const double D = 300.0;
  for (double nu : {0.2, 0.35, 0.49}) {
    for (double rho : {0.3, 0.97, 1.03, 2.5, 20.0}) {
      for (double zeta : {0.02, 0.2, 0.45}) {
        const auto in = plate_test::hankel_integrals(rho, zeta);
        double S[6], o[6];
        plate_test::table_functions(rho, in, S);
        combine_plate_functions(rho, zeta, D, nu, S, o);
        const auto ref = plate_test::halfspace(rho, zeta, in, 1.0, 1.0, D, nu);
        const double want[6] = {ref.U, ref.W, ref.ER, ref.ET, ref.EZ, ref.ERZ};
        for (int k = 0; k < 6; ++k)
          EXPECT_NEAR(o[k], want[k], 1e-11 * (1 + nu) / D) << nu << " " << rho << " " << zeta << " " << k;
      }
    }
  }
}

TEST(PlateCoef, FittedOnceEqualsRefittingEveryCall) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double lo[4] = {0.01, 1.2, 5.0, 0.82}, hi[4] = {0.81, 4.99, 35.0, 1.19};
  for (int b = 0; b < 4; ++b) {
    for (int n = 0; n < 5; ++n) {
      const double rho = lo[b] + (hi[b] - lo[b]) * unit(gen), zeta = 0.44 * unit(gen);
      double cached[6];
      plate_coef_fitted(plate_surfaces(b), rho, zeta, 250.0, 0.35, cached);
      const Result refit = platecoef_refit(b, rho, zeta, 250.0, 0.35);
      for (int k = 0; k < 6; ++k) EXPECT_EQ(cached[k], refit.v[k]) << b << " " << rho << " " << zeta;
    }
  }
}

// At the surface every zeta term drops out. S1 at rho = 0.5 is 0.25 up to the
// offset of the 4-byte grid values (about 1e-8).
TEST(PlateCoef, SurfaceKeepsOnlyTheNonZetaTerms) {
  const double D = 300.0, nu = 0.35, c = 2 * nu * nu + nu - 1;
  const Result o = platecoef_refit(kInnerBlock, 0.5, 0.0, D, nu);
  const double S1 = o.v[0] * D / c;
  EXPECT_NEAR(S1, 0.25, 1e-6);
  const double S4 = o.v[1] * D / (2 - 2 * nu * nu);
  EXPECT_NEAR(S4, plate_test::surface_i0m1(0.5), 1e-5);  // spline between nodes
}

TEST(PlateCoef, PointsBeyondTheGridGiveZeroAndSixWarnings) {
  struct Case {
    int block;
    double rho, zeta;
  };
  for (const Case& c : {Case{kInnerBlock, 0.5, 0.46}, Case{kFarBlock, 36.0, 0.2},
                        Case{kInnerBlock, 0.5, 0.45}}) {
    WarningCounter w;
    const Result o = platecoef_refit(c.block, c.rho, c.zeta, 300.0, 0.35);
    for (double v : o.v) EXPECT_EQ(v, 0.0);
    EXPECT_EQ(w.warnings, 6) << c.rho << " " << c.zeta;
    EXPECT_EQ(w.others, 0);
  }
  WarningCounter w;  // rho = 35 itself is inside the far block
  const Result o = platecoef_refit(kFarBlock, 35.0, 0.2, 300.0, 0.35);
  EXPECT_NE(o.v[1], 0.0);
  EXPECT_EQ(w.warnings, 0);
}

TEST(PlateResp, BlockChoiceFromTruncatedHundredfoldRho) {
  EXPECT_EQ(plate_block_of(0.0), kInnerBlock);
  EXPECT_EQ(plate_block_of(0.81), kInnerBlock);
  EXPECT_EQ(plate_block_of(0.83), kEdgeBlock);
  EXPECT_EQ(plate_block_of(1.19), kEdgeBlock);
  EXPECT_EQ(plate_block_of(1.21), kNearBlock);
  EXPECT_EQ(plate_block_of(4.99), kNearBlock);
  EXPECT_EQ(plate_block_of(5.0), kFarBlock);
  EXPECT_EQ(plate_block_of(35.0), kFarBlock);
  EXPECT_EQ(plate_block_of(36.0), kFarBlock);
  EXPECT_EQ(plate_block_of(1e300), kFarBlock);
  EXPECT_EQ(plate_block_of(std::nan("")), kFarBlock);
  // The routine uses that block's surfaces: same values as the block's fit.
  const double a = 2.0, q = 100.0, E = 30000.0, nu = 0.35, zeta = 0.2;
  for (double rho : {0.81, 0.83, 1.19, 1.21, 4.99, 5.0, 35.0}) {
    const Result r = plateresp(rho * a, zeta * a, E, nu, a, q);
    double o[6];
    plate_coef_fitted(plate_surfaces(plate_block_of(rho)), rho, zeta, E / q, nu, o);
    EXPECT_EQ(r.v[0], o[1] * a) << rho;
    EXPECT_EQ(r.v[1], o[0] * a) << rho;
    for (int k = 2; k < 6; ++k) EXPECT_EQ(r.v[k], o[k]) << rho;
  }
}

// Below the tables' depth the surfaces give zero and warn; beyond their
// distance (rho > 35) the far-field series takes over without warnings.
TEST(PlateResp, BeyondTheTablesDepthWarnsDistanceUsesTheFarField) {
  const double a = 5.9;
  {
    WarningCounter w;
    const Result r = plateresp(0.5 * a, 0.46 * a, 30000.0, 0.35);
    for (double v : r.v) EXPECT_EQ(v, 0.0);
    EXPECT_EQ(w.warnings, 6);
  }
  for (double zeta : {0.0, 0.2}) {
    WarningCounter w;
    const Result r = plateresp(36.0 * a, zeta * a, 30000.0, 0.35);
    const auto ref = plate_test::boussinesq_disk(36.0 * a, zeta * a, a, 100.0, 30000.0, 0.35);
    EXPECT_NEAR(r.v[0], ref.W, 1e-9 * ref.W);
    EXPECT_NE(r.v[1], 0.0);
    EXPECT_EQ(w.warnings, 0);
    if (zeta == 0.0) {  // at the surface the exact strains
      const double l = (2 * 0.35 * 0.35 + 0.35 - 1) * 100.0 * 0.5 / 30000.0;
      EXPECT_DOUBLE_EQ(r.v[2], -l / (36.0 * 36.0));
    }
  }
}

// The kernel hands over points down to z = 0.45 a inclusive; there the
// routine gives the half-space response, not zero.
TEST(PlateResp, DeepestHandedOverPointIsEvaluated) {
  const double a = 5.9, E = 30000.0, nu = 0.35, q = 100.0;
  for (double rho : {0.0, 0.5, 0.9, 1.0, 2.0, 10.0}) {
    WarningCounter w;
    const double z = 0.45 * a;
    const Result r = plateresp(rho * a, z, E, nu);
    const auto ref = plate_test::halfspace(rho * a, z, a, q, E, nu);
    EXPECT_EQ(w.warnings, 0);
    EXPECT_NEAR(r.v[0], ref.W, 1e-3 * std::fabs(ref.W)) << rho;
  }
}

TEST(PlateResp, LoadAxisInClosedForm) {
  const double a = 5.9, q = 100.0, E = 30000.0, nu = 0.35;
  const Result s = plateresp(0.0, 0.0, E, nu);
  EXPECT_DOUBLE_EQ(s.v[0], 2 * (1 - nu * nu) * q * a / E);
  EXPECT_DOUBLE_EQ(s.v[2], -(1 + nu) * (1 - 2 * nu) * q / (2 * E));
  EXPECT_DOUBLE_EQ(s.v[3], s.v[2]);
  EXPECT_DOUBLE_EQ(s.v[4], -(1 + nu) * (1 - 2 * nu) * q / E);
  for (double z : {0.3, 1.0, 2.655, 10.0}) {  // closed forms hold at any depth
    const Result r = plateresp(0.0, z, E, nu);
    const auto ref = plate_test::halfspace(0.0, z, a, q, E, nu);
    const double want[6] = {ref.W, ref.U, ref.ER, ref.ET, ref.EZ, ref.ERZ};
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(r.v[k], want[k], 1e-15) << z << " " << k;
  }
}

TEST(PlateResp, SurfaceStrainsAreExact) {
  const double a = 5.9, q = 100.0, E = 30000.0, nu = 0.35;
  const double l = (2 * nu * nu + nu - 1) * q * 0.5 / E;
  const Result in = plateresp(0.3 * a, 0.0, E, nu);
  EXPECT_EQ(in.v[2], l);
  EXPECT_EQ(in.v[3], l);
  EXPECT_EQ(in.v[4], 2 * l);
  EXPECT_EQ(in.v[5], 0.0);
  const Result out = plateresp(2.0 * a, 0.0, E, nu);
  EXPECT_DOUBLE_EQ(out.v[2], -l / 4);
  EXPECT_DOUBLE_EQ(out.v[3], l / 4);
  EXPECT_EQ(out.v[4], 0.0);
  const Result edge = plateresp(a, 0.0, E, nu);
  EXPECT_EQ(edge.v[2], 0.0);
  EXPECT_EQ(edge.v[3], l);
  EXPECT_EQ(edge.v[4], l);
  // Displacements at the edge come from the bridge: exact W = 4(1-nu^2) q a / (pi E).
  EXPECT_NEAR(edge.v[0], 4 * (1 - nu * nu) * q * a / (plate_test::kPi * E), 1e-3 * edge.v[0]);
}

// Inside the band the six values are interpolated linearly between the
// surface evaluations at the 4-byte radii 0.98 a and 1.02 a.
TEST(PlateResp, EdgeBandInterpolatesBetweenBandLimits) {
  const double a = 5.9, q = 100.0, E = 30000.0, nu = 0.35, z = 0.1 * a;
  const double Rp = double(1.02f) * a, Rm = double(0.98f) * a;
  auto direct = [&](double R) {
    double o[6];
    plate_coef_fitted(plate_surfaces(kEdgeBlock), R / a, z / a, E / q, nu, o);
    return Result{{o[1] * a, o[0] * a, o[2], o[3], o[4], o[5]}};
  };
  const Result vp = direct(Rp), vm = direct(Rm);
  for (double R : {0.99 * a, a, 1.01 * a}) {
    const Result v = plateresp(R, z, E, nu);
    for (int k = 0; k < 6; ++k) {
      const double want = vp.v[k] + (R - Rp) * (vp.v[k] - vm.v[k]) * 25.0 / a;
      EXPECT_NEAR(v.v[k], want, 1e-15 * std::fabs(vp.v[k])) << R << " " << k;
    }
  }
  // At R = a the weight is 0.49999952 (4-byte 1.02), i.e. nearly the mean.
  const Result mid = plateresp(a, z, E, nu);
  EXPECT_NEAR(mid.v[0], (vp.v[0] + vm.v[0]) / 2, 1e-6 * std::fabs(vp.v[0] - vm.v[0]));
}

TEST(PlateResp, LoadIndexOutsideTheArraysGivesNaN) {
  const double P[1] = {100.0}, A[1] = {5.9};
  double v[6];
  for (int iload : {0, -3, 11}) {
    plate_response(iload, 1.0, 30000.0, 0.35, v[0], v[1], v[2], v[3], v[4], v[5], 0.5, P, A);
    for (double x : v) EXPECT_TRUE(std::isnan(x));
  }
}

}  // namespace
}  // namespace zalk::plate
