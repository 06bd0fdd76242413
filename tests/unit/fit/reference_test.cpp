// The reference solver behind tests/data/fit (tools/refgen) against closed
// forms, and the library's engine against the reference basins.
#include <gtest/gtest.h>

#include <cmath>

#include "tools/refgen/layered_reference.h"
#include "engine/driver.h"
#include "unit/fit/basins.h"

namespace zalk::rating {
namespace {

using refgen::real;

TEST(FitReference, SolverMeetsClosedForms) {
  const real e = 50000, nu = 0.35L, q = 80, a = 5.9L;
  // One material cut into bonded layers is the homogeneous half-space,
  // w(r) = 2 (1 - nu^2) q a / E * I(r) with I in elliptic integrals.
  refgen::Deflection cut({{{e, nu, 3}, {e, nu, 7}, {e, nu, 40}, {e, nu, 0}}, false}, q, a);
  for (real r : {0.0L, 5.9L, 36.0L}) {
    const real w = 2 * (1 - nu * nu) * q * a / e * refgen::halfspace_integral(r, a);
    EXPECT_NEAR(double(cut.at(r) / w), 1.0, 1e-12) << double(r);
  }
  // A thin layer on a rigid base is compressed one-dimensionally under the
  // centre of a wide load: w = q h (1 + nu)(1 - 2 nu) / ((1 - nu) E).
  const real h = 0.0059L;
  refgen::Deflection thin({{{e, nu, h}}, true}, q, a);
  EXPECT_NEAR(double(thin.at(0) / (q * h * (1 + nu) * (1 - 2 * nu) / ((1 - nu) * e))), 1.0, 1e-6);
  // The half-space centre value at r = 0: I(0) = 1.
  EXPECT_NEAR(double(refgen::halfspace_integral(0, a)), 1.0, 1e-18);
}

TEST(FitReference, EngineAgreesWithTheReferenceBasins) {
  auto ws = engine::make_engine_workspace();
  double worst = 0;
  for (const auto& c : testing::load_basins()) {
    const std::vector<double> w =
        engine_basin(*ws, c.h1, c.h2, c.h3, {c.e1, c.e2, c.e3}, c.load, c.offsets);
    for (std::size_t k = 0; k < w.size(); ++k) {
      const double rel = std::abs(w[k] / c.deflections[k] - 1.0);
      worst = std::max(worst, rel);
      EXPECT_LT(rel, 1e-4) << c.name << " at " << c.offsets[k] << " in";
    }
  }
  std::printf("engine against the reference: largest relative difference %.1e\n", worst);
}

}  // namespace
}  // namespace zalk::rating
