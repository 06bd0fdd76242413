// Limits of the response integration: small load radii and non-finite data.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

#include "engine/driver.h"
#include "engine/quorvan.h"
#include "reference_data.h"
#include "toolkit/errors.h"

namespace zalk::engine {
namespace {

DeckProblem two_layers(double radius) {
  DeckProblem p;
  p.nlayer = 2;
  p.emod[0] = 30000.0;
  p.emod[1] = 10000.0;
  p.pratio[0] = 0.35;
  p.pratio[1] = 0.45;
  p.thick[0] = 10.0;
  p.bond[0] = p.bond[1] = 1.0;
  p.nload = 1;
  p.press[0] = 100.0;
  p.radius[0] = radius;
  p.npoint = 2;
  p.lpoint[0] = p.lpoint[1] = 2;
  p.xpoint[1] = 1.0;
  p.zpoint[0] = p.zpoint[1] = 12.0;
  return p;
}

class Kernel : public ::testing::Test {
 protected:
  void SetUp() override { testing::deck_tolerances(abstol, reltol); }
  std::unique_ptr<EngineWorkspace> ws = make_engine_workspace();
  std::array<double, 10> abstol{}, reltol{};
};

// The interpolated coefficients and J1(m a) of an interval are shared by
// all points of a load, and the Bessel functions of m r by all points at the
// same distance, across loads and calls. A point must get exactly what it
// gets when it is analysed alone in a fresh workspace.
TEST_F(Kernel, SharedDataGiveEachPointItsOwnResult) {
  DeckProblem all = two_layers(3.8);
  const double depth[] = {0.0, 2.0, 9.5, 10.0, 30.0};
  const double x[] = {0.0, 25.0, 3.8, 25.0, 60.0};
  all.npoint = 0;
  for (int k = 0; k < 5; ++k) {
    all.lpoint[k] = depth[k] <= 10.0 ? 1 : 2;
    all.xpoint[k] = x[k];
    all.zpoint[k] = depth[k];
    ++all.npoint;
  }
  all.nload = 2;  // equal radii: the second load reuses the tables
  all.press[1] = 50.0;
  all.radius[1] = 3.8;
  all.xload[1] = 13.5;
  // Earlier work at the same distances with another radius and layers.
  DeckProblem other = all;
  other.emod[1] = 90000.0;
  other.radius[0] = other.radius[1] = 5.9;
  analyse_problem(*ws, other, abstol, reltol);
  analyse_problem(*ws, all, abstol, reltol);

  for (int k = 0; k < 5; ++k) {
    DeckProblem one = all;
    one.npoint = 1;
    one.lpoint[0] = all.lpoint[k];
    one.xpoint[0] = all.xpoint[k];
    one.zpoint[0] = all.zpoint[k];
    auto fresh = make_engine_workspace();
    analyse_problem(*fresh, one, abstol, reltol);
    for (int q = 1; q <= kSlots; ++q) {
      EXPECT_EQ(result_slot(*fresh, q, 1), result_slot(*ws, q, k + 1)) << k << " " << q;
    }
  }
}

// A problem with more distances than the cache's least size keeps a table
// for each (radius, distance) pair, and a later problem finds its own pairs
// among them: each point again gets exactly its own result.
TEST_F(Kernel, EveryDistanceOfAProblemKeepsItsBesselTable) {
  DeckProblem many = two_layers(3.8);
  many.npoint = 40;
  for (int k = 0; k < many.npoint; ++k) {
    many.lpoint[k] = 1;
    many.xpoint[k] = 0.75 * k;
    many.zpoint[k] = k % 3;
  }
  DeckProblem shifted = many;
  for (int k = 0; k < many.npoint; ++k) shifted.xpoint[k] += 0.25;
  analyse_problem(*ws, many, abstol, reltol);
  EXPECT_EQ(ws->bessel.size(), 40);
  analyse_problem(*ws, shifted, abstol, reltol);
  analyse_problem(*ws, many, abstol, reltol);
  for (int k : {0, 1, 17, 39}) {
    DeckProblem one = many;
    one.npoint = 1;
    one.lpoint[0] = many.lpoint[k];
    one.xpoint[0] = many.xpoint[k];
    one.zpoint[0] = many.zpoint[k];
    auto fresh = make_engine_workspace();
    analyse_problem(*fresh, one, abstol, reltol);
    for (int q = 1; q <= kSlots; ++q)
      EXPECT_EQ(result_slot(*fresh, q, 1), result_slot(*ws, q, k + 1)) << k << " " << q;
  }
}

// The integration of point 1 of a two-layer problem straight through the
// kernel, for radii the driver refuses.
void integrate_point_1(EngineWorkspace& ws, const DeckProblem& p, const std::array<double, 10>& abstol,
                       const std::array<double, 10>& reltol, PointResponse& out) {
  const LayerSet layers{p.nlayer, p.emod.data(), p.pratio.data(), p.thick.data(), p.bond.data()};
  transform_grid(p.radius[0], layers, ws.tables, ws.solver);
  ws.intervals.reset(ws.tables);
  layer_response(ws.tables, ws.intervals, ws.bessel, layers, 1, p.press.data(), p.radius.data(),
                 p.zpoint[0], p.lpoint[0], p.xpoint[0], abstol, reltol, out);
}

TEST_F(Kernel, TinyRadiusIntegratesOnlyTheFirstInterval) {
  // Radius 0.3: the geometric grid ends at 30 - m1, below the second J1
  // zero over the radius, so no later interval has three grid points.
  PointResponse out;
  integrate_point_1(*ws, two_layers(0.3), abstol, reltol, out);
  EXPECT_EQ(ws->intervals.prepared, 1);
  EXPECT_EQ(ws->intervals.stop_at, 2);
  EXPECT_TRUE(std::isfinite(out.w));
}

TEST_F(Kernel, IntervalBeyondTheSplineCapacityIsReported) {
  // Radius 0.5 would need 114 grid points in one spline fit (at most 100).
  toolkit::ErrorEvent seen;
  toolkit::ScopedErrorHandler handler([&](const toolkit::ErrorEvent& e) { seen = e; });
  PointResponse out;
  EXPECT_THROW(integrate_point_1(*ws, two_layers(0.5), abstol, reltol, out), toolkit::SevereError);
  EXPECT_EQ(seen.type, toolkit::TERMINAL);
  EXPECT_EQ(seen.routine, "LAYERRESPONSE");
  EXPECT_NE(seen.message.find("holds 114 grid points"), std::string::npos) << seen.message;
  // Radius 0.56 is the smallest that fits.
  EXPECT_NO_THROW(integrate_point_1(*ws, two_layers(0.56), abstol, reltol, out));
}

// The grid is laid out for inches: the driver refuses a radius whose
// integration range is cut short (the same load in metres, 0.15, lost up to
// 0.9 % on surface strains; in feet, 0.49, it overflowed a spline fit),
// naming the load, its radius and the units.
TEST_F(Kernel, RadiusBelowTheGridsReachIsRefused) {
  toolkit::ErrorEvent seen;
  toolkit::ScopedErrorHandler handler([&](const toolkit::ErrorEvent& e) { seen = e; });
  for (double radius : {0.15, 0.49, 0.78, 0.0, -5.9, std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity()}) {
    EXPECT_THROW(analyse_problem(*ws, two_layers(radius), abstol, reltol), toolkit::SevereError)
        << radius;
    EXPECT_EQ(seen.routine, "QUORVAN");
    EXPECT_NE(seen.message.find("Load 1 has the radius"), std::string::npos) << seen.message;
    EXPECT_NE(seen.message.find("inches and psi"), std::string::npos) << seen.message;
  }
  for (double radius : {0.79, 3.8, 5.9, 40.0})
    EXPECT_NO_THROW(analyse_problem(*ws, two_layers(radius), abstol, reltol)) << radius;
}

// A structure scaled with its load keeps its strains (similarity): down to
// the reach the grid gives those of radius 5.9 to the engine's accuracy
// (1e-4 of each quantity's largest value at the four points).
TEST_F(Kernel, ScaledStructureKeepsItsStrainsDownToTheReach) {
  auto scaled = [](double radius) {
    const double s = radius / 5.9;
    DeckProblem p;
    p.nlayer = 4;
    const double h[4] = {3, 18, 36, 0}, e[4] = {3e6, 1e5, 2e4, 1e7}, nu[4] = {0.35, 0.4, 0.45, 0.49};
    for (int i = 0; i < 4; ++i)
      std::tie(p.emod[i], p.pratio[i], p.thick[i], p.bond[i]) = std::tuple(e[i], nu[i], h[i] * s, 1.0);
    p.nload = 1;
    p.press[0] = 100.0;
    p.radius[0] = radius;
    for (p.npoint = 0; p.npoint < 4; ++p.npoint) {
      p.lpoint[p.npoint] = 1;
      p.xpoint[p.npoint] = 0.5 * p.npoint * radius;
      p.zpoint[p.npoint] = 0.2 * radius;
    }
    return p;
  };
  analyse_problem(*ws, scaled(5.9), abstol, reltol);
  const ResultSlots at_5_9 = ws->rslot;
  analyse_problem(*ws, scaled(smallest_served_radius()), abstol, reltol);
  for (int q = 4; q <= kSlots; ++q) {
    double scale = 0.0;
    for (int k = 1; k <= 4; ++k) scale = std::max(scale, std::abs(at_5_9.at(q, k)));
    for (int k = 1; k <= 4; ++k)
      EXPECT_NEAR(result_slot(*ws, q, k), at_5_9.at(q, k), 1e-4 * scale) << q << " " << k;
  }
}

TEST_F(Kernel, NonFiniteDataPassThrough) {
  DeckProblem p = two_layers(5.9);
  p.press[0] = std::numeric_limits<double>::quiet_NaN();
  analyse_problem(*ws, p, abstol, reltol);
  EXPECT_TRUE(std::isnan(result_slot(*ws, 1, 1)));

  // A non-finite radius or modulus must neither crash nor read out of
  // range; whatever the solver reports is recorded, not fatal here.
  toolkit::ScopedErrorHandler handler([](const toolkit::ErrorEvent&) {});
  for (double bad : {std::numeric_limits<double>::quiet_NaN(),
                     std::numeric_limits<double>::infinity(), 0.0, -5.9}) {
    p = two_layers(bad);
    try {
      analyse_problem(*ws, p, abstol, reltol);
    } catch (const toolkit::SevereError&) {
    }
    p = two_layers(5.9);
    p.emod[1] = bad;
    try {
      analyse_problem(*ws, p, abstol, reltol);
    } catch (const toolkit::SevereError&) {
    }
  }
}

}  // namespace
}  // namespace zalk::engine
