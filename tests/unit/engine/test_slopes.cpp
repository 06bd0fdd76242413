// Slopes of the deflections in the log-moduli from one analysis, against
// central differences of the deflections over separate analyses (they agree
// to 2e-6 of the deflection; the differences carry the engine's own
// truncation of the integrals), the homogeneity of the elastic problem
// (scaling every modulus scales every deflection inversely) and the
// homogeneous half-space's closed form.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/quorvan.h"
#include "engine/slopes.h"
#include "reference_data.h"
#include "support/layer_points.h"

namespace zalk::engine {
namespace {

struct Structure {
  std::vector<double> e, nu, h;  // h of the finite layers
};

DeckProblem surface_basin(const Structure& s, double pressure = 80.0) {
  DeckProblem p;
  p.nlayer = int(s.e.size());
  for (int i = 0; i < p.nlayer; ++i) {
    p.emod[i] = s.e[std::size_t(i)];
    p.pratio[i] = s.nu[std::size_t(i)];
    p.thick[i] = i + 1 < p.nlayer ? s.h[std::size_t(i)] : 0.0;
    p.bond[i] = 1.0;
  }
  zalk::testing::place_plate_and_nine_sensors(p, pressure);
  return p;
}

class Slopes : public ::testing::Test {
 protected:
  void SetUp() override { testing::deck_tolerances(abstol, reltol); }
  std::vector<double> deflections(DeckProblem p) {
    analyse_deflections(*fd, p, abstol, reltol);
    std::vector<double> w(std::size_t(p.npoint));
    for (int k = 0; k < p.npoint; ++k) w[std::size_t(k)] = result_slot(*fd, 1, k + 1);
    return w;
  }
  std::unique_ptr<EngineWorkspace> ws = make_engine_workspace();
  std::unique_ptr<EngineWorkspace> fd = make_engine_workspace();
  std::array<double, 10> abstol{}, reltol{};
};

// A back-calculation's structures: thin and thick tops (split or not), a
// stiff layer shallow, deep or absent, soft and stiff bases, equal
// materials either side of an interface.
TEST_F(Slopes, MatchCentralDifferencesAndSumToMinusTheDeflection) {
  const Structure structures[] = {
      {{500000, 30000, 10000, 1e6}, {0.35, 0.4, 0.45, 0.45}, {4, 8, 60}},
      {{1500000, 60000, 14000, 1e6}, {0.35, 0.4, 0.45, 0.45}, {8, 20, 12}},
      {{300000, 80000, 6000, 1e6}, {0.35, 0.4, 0.45, 0.45}, {2, 6, 200}},
      {{800000, 40000, 12000}, {0.35, 0.4, 0.45}, {5, 12}},
      {{2500000, 20000, 20000}, {0.35, 0.4, 0.45}, {12, 4}},
  };
  std::vector<DeckProblem> problems;
  for (const Structure& s : structures) problems.push_back(surface_basin(s));
  // Partly bonded and frictionless interfaces, whose bond rows carry the
  // upper modulus outside the stiffness ratio.
  for (double bond : {0.5, 0.0}) {
    DeckProblem p = surface_basin(structures[0]);
    p.bond[0] = p.bond[1] = bond;
    problems.push_back(p);
  }
  {  // two loads of different radii: tables of each
    DeckProblem p = surface_basin(structures[1]);
    p.nload = 2;
    p.press[1] = 60.0;
    p.radius[1] = 3.8;
    p.xload[1] = 12.0;
    problems.push_back(p);
  }
  const double step = 1e-3;
  for (std::size_t s = 0; s < problems.size(); ++s) {
    const DeckProblem& p = problems[s];
    std::vector<double> w, dw;
    ASSERT_TRUE(analyse_deflection_slopes(*ws, p, abstol, reltol, w, dw));
    EXPECT_EQ(w, deflections(p)) << "structure " << s << ": the deflections are analyse_deflections' own";
    const int P = p.nlayer;
    for (int i = 0; i < P; ++i) {
      DeckProblem up = p, down = p;
      up.emod[i] *= std::exp(step);
      down.emod[i] *= std::exp(-step);
      const std::vector<double> wu = deflections(up), wd = deflections(down);
      for (int k = 0; k < p.npoint; ++k) {
        const double diff = (wu[std::size_t(k)] - wd[std::size_t(k)]) / (2 * step);
        EXPECT_NEAR(dw[std::size_t(k * P + i)], diff, 1e-5 * std::abs(w[std::size_t(k)]))
            << "structure " << s << ", layer " << i + 1 << ", sensor " << k + 1;
      }
    }
    // Fewer slopes asked for: the same values of those asked for.
    std::vector<double> w3, dw3;
    ASSERT_TRUE(analyse_deflection_slopes(*ws, p, abstol, reltol, w3, dw3, P - 1));
    for (int k = 0; k < p.npoint; ++k)
      for (int i = 0; i + 1 < P; ++i)
        EXPECT_EQ(dw3[std::size_t(k * (P - 1) + i)], dw[std::size_t(k * P + i)])
            << "structure " << s << ", layer " << i + 1 << ", sensor " << k + 1 << " of the first " << P - 1;
    // A partly bonded interface's spring carries a stiffness of its own,
    // which the moduli do not scale.
    if (p.bond[0] != 0.0 && p.bond[0] != 1.0) continue;
    for (int k = 0; k < p.npoint; ++k) {
      double sum = 0;
      for (int i = 0; i < P; ++i) sum += dw[std::size_t(k * P + i)];
      EXPECT_NEAR(sum, -w[std::size_t(k)], 1e-9 * std::abs(w[std::size_t(k)]))
          << "structure " << s << ", sensor " << k + 1;
    }
  }
}

// One material throughout: w = 2 (1 - nu^2) q a / E under the centre, and
// d ln w / d ln E = -1 when the material's modulus moves in both layers.
TEST_F(Slopes, HalfSpaceUnderTheCentre) {
  const double e = 50000, nu = 0.35, q = 80, a = 5.9;
  for (double h : {3.0, 10.0}) {
    const DeckProblem p = surface_basin({{e, e}, {nu, nu}, {h}}, q);
    std::vector<double> w, dw;
    ASSERT_TRUE(analyse_deflection_slopes(*ws, p, abstol, reltol, w, dw));
    const double closed = 2 * (1 - nu * nu) * q * a / e;
    EXPECT_NEAR(w[0], closed, 1e-4 * closed) << "h " << h;
    EXPECT_NEAR((dw[0] + dw[1]) / w[0], -1.0, 1e-9) << "h " << h;
  }
}

// Points below the top layer are not served: NaN slopes and false.
TEST_F(Slopes, PointsBelowTheTopLayerGetNoSlopes) {
  DeckProblem p = surface_basin({{500000, 30000, 10000}, {0.35, 0.4, 0.45}, {4, 8}});
  p.lpoint[8] = 2;
  p.zpoint[8] = 6;
  std::vector<double> w, dw;
  EXPECT_FALSE(analyse_deflection_slopes(*ws, p, abstol, reltol, w, dw));
  for (double d : dw) EXPECT_TRUE(std::isnan(d));
}

}  // namespace
}  // namespace zalk::engine
