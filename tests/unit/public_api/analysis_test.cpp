// zalk::analyse against the independent references of tests/data (the exact
// half-space and the high-precision layered solutions) and, through the
// deck's rounding of moduli, against the legacy engine entry bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <set>

#include "engine/driver.h"
#include "engine/quorvan.h"
#include "unit/engine/reference_data.h"
#include "support/reference_structures.h"
#include "zalk/zalk.hpp"

namespace {

using zalk::engine::testing::ErrorTally;
using zalk::engine::testing::read_csv;

// Integration accuracy of the engine on these references (see the engine's
// reference test): 1e-4 relative, with a floor of 1e-3 of the largest value.
constexpr double kLimit = 1e-4;

const char* const kQuantities[15] = {"w",      "u_x",    "u_y",    "sigma_x", "sigma_y",
                                     "sigma_z", "tau_xy", "tau_yz", "tau_xz",  "eps_x",
                                     "eps_y",  "eps_z",  "eps_xy", "eps_yz",  "eps_xz"};

std::array<double, 15> values_of(const zalk::Response& r) {
  return {r.w,         r.u_x,       r.u_y,       r.stress.xx, r.stress.yy,
          r.stress.zz, r.stress.xy, r.stress.yz, r.stress.xz, r.strain.xx,
          r.strain.yy, r.strain.zz, r.strain.xy, r.strain.yz, r.strain.xz};
}

// Exact half-space response to one load (E 30000, nu 0.35, p 100, a 5.9) at
// distance r and depth z, by polar quantity.
std::map<std::string, double> halfspace(double r, double z) {
  static const auto rows = read_csv("halfspace_exact.csv");
  std::map<std::string, double> out;
  for (const auto& row : rows)
    if (std::abs(std::stod(row[0]) - r) < 1e-9 && std::stod(row[1]) == z) out[row[2]] = std::stod(row[3]);
  EXPECT_EQ(out.size(), 10u) << "r " << r << " z " << z;
  return out;
}

// The polar half-space values of each load turned to x, y, z and summed.
std::array<double, 15> superposed(const std::vector<zalk::CircularLoad>& loads, const zalk::Point& p) {
  std::array<double, 15> sum{};
  for (const auto& load : loads) {
    const double dx = p.x - load.x, dy = p.y - load.y, r = std::hypot(dx, dy);
    const double c = r > 0 ? dx / r : 1.0, s = r > 0 ? dy / r : 0.0;
    auto h = halfspace(r, p.z);
    const double v[15] = {h["w"],
                          h["u"] * c,
                          h["u"] * s,
                          h["sigma_r"] * c * c + h["sigma_t"] * s * s,
                          h["sigma_r"] * s * s + h["sigma_t"] * c * c,
                          h["sigma_z"],
                          (h["sigma_r"] - h["sigma_t"]) * s * c,
                          h["tau_rz"] * s,
                          h["tau_rz"] * c,
                          h["eps_r"] * c * c + h["eps_t"] * s * s,
                          h["eps_r"] * s * s + h["eps_t"] * c * c,
                          h["eps_z"],
                          (h["eps_r"] - h["eps_t"]) * s * c,
                          h["eps_rz"] * s,
                          h["eps_rz"] * c};
    for (int q = 0; q < 15; ++q) sum[std::size_t(q)] += v[q];
  }
  return sum;
}

// Four layers of one material (interfaces at 5, 10 and 30) under three
// loads placed so that every point's distance to every load is one of the
// reference's radii; depths on the interfaces are taken once in the layer
// below (the default) and once above, so every layer holds points. Points
// within 0.45 radii of the surface take the plate routine's near field,
// good to its table accuracy (4e-3 for strains inside the load); deeper ones are
// integrated in full.
TEST(PublicAnalysis, HomogeneousFourLayersUnderThreeLoadsIsTheHalfSpace) {
  const zalk::Structure s{{{5, 30000, 0.35}, {5, 30000, 0.35}, {20, 30000, 0.35}, {0, 30000, 0.35}}};
  const std::vector<zalk::CircularLoad> loads{{0, 0, 100, 5.9}, {-8, 0, 100, 5.9}, {-4, -3, 100, 5.9}};
  std::vector<zalk::Point> points;
  for (double z : {1.0, 5.0, 10.0, 30.0})
    for (auto [x, y] : {std::pair{0.0, 0.0}, {-8.0, 0.0}, {-4.0, -3.0}}) points.push_back({x, y, z});

  zalk::AnalysisWorkspace ws;
  ErrorTally deep, near_surface;
  std::set<int> layers;
  for (auto rule : {zalk::InterfacePoints::layer_below, zalk::InterfacePoints::layer_above}) {
    zalk::AnalysisOptions options;
    options.interface_points = rule;
    const zalk::AnalysisResult r = zalk::analyse(ws, s, loads, points, options);
    ASSERT_TRUE(r.status.ok()) << r.status.error->text;
    ASSERT_EQ(r.responses.size(), points.size());
    for (std::size_t k = 0; k < points.size(); ++k) {
      layers.insert(r.responses[k].layer);
      const auto got = values_of(r.responses[k]);
      const auto ref = superposed(loads, points[k]);
      char where[48];
      std::snprintf(where, sizeof where, "point %zu layer %d", k + 1, r.responses[k].layer);
      ErrorTally& tally = points[k].z < 0.45 * 5.9 ? near_surface : deep;
      for (int q = 0; q < 15; ++q) tally.add(kQuantities[q], where, got[std::size_t(q)], ref[std::size_t(q)]);
    }
  }
  EXPECT_EQ(layers, (std::set<int>{1, 2, 3, 4}));
  deep.check(kLimit, "API half-space");
  near_surface.check(4e-3, "API half-space near the surface");
}

// The layered reference structures over a stiff bottom layer: two loads of
// radius 3.8, five points, interface points on either side.
using Layered = zalk::testing::ReferenceStructure;
constexpr const auto& kLayered = zalk::testing::kReferenceStructures;

TEST(PublicAnalysis, LayeredStructuresMatchTheReferenceSolutions) {
  std::map<std::string, std::map<std::string, std::map<std::string, double>>> ref;  // [id][point][quantity]
  for (const auto& row : read_csv("layered_mode2.csv")) ref[row[0]][row[1]][row[2]] = std::stod(row[3]);
  zalk::AnalysisWorkspace ws;
  for (const Layered& c : kLayered) {
    const zalk::Structure s{{{c.h1, c.e1, 0.35}, {c.h2, c.e2, 0.40}, {c.h3, c.e3, 0.45}, {0, 1e7, 0.49}}};
    const std::vector<zalk::CircularLoad> loads{{0, 0, 100, 3.8}, {13.5, 0, 100, 3.8}};
    const std::vector<zalk::Point> points{{0, 0, c.h1},         {0, 0, c.h1 + 6},    {0, 0, c.h1 + 12},
                                          {6.75, 0, c.h1 + 6}, {6.75, 0, c.h1 + 12}};
    ErrorTally tally;
    for (auto rule : {zalk::InterfacePoints::layer_above, zalk::InterfacePoints::layer_below}) {
      zalk::AnalysisOptions options;
      options.interface_points = rule;
      const zalk::AnalysisResult r = zalk::analyse(ws, s, loads, points, options);
      ASSERT_TRUE(r.status.ok()) << r.status.error->text;
      for (int k = 1; k <= 5; ++k) {
        char name[16];
        std::snprintf(name, sizeof name, "P%d", k);
        std::string point = name;
        if (rule == zalk::InterfacePoints::layer_below && ref[c.id].count(point.append("_below")) == 0)
          point = name;
        const auto got = values_of(r.responses[std::size_t(k - 1)]);
        for (int q = 0; q < 15; ++q) {
          tally.include_scale(kQuantities[q], ref[c.id][name][kQuantities[q]]);
          tally.add(kQuantities[q], point, got[std::size_t(q)], ref[c.id][point][kQuantities[q]]);
        }
      }
    }
    tally.check(kLimit, c.id);
  }
}

// SI units are the same analysis converted at the boundary.
TEST(PublicAnalysis, SiUnitsConvertAtTheBoundary) {
  const double m = 0.0254, pa = 6894.757293168361;
  const zalk::Structure us{{{4, 500000, 0.35}, {8, 30000, 0.4}, {0, 10000, 0.45}}};
  zalk::Structure si = us;
  for (auto& l : si.layers) {
    l.thickness *= m;
    l.modulus *= pa;
  }
  zalk::AnalysisOptions options;
  const auto a = zalk::analyse(us, {{0, 0, 80, 5.9}}, {{3, 4, 6}}, options);
  options.units = zalk::Units::si;
  const auto b = zalk::analyse(si, {{0, 0, 80 * pa, 5.9 * m}}, {{3 * m, 4 * m, 6 * m}}, options);
  ASSERT_TRUE(a.status.ok() && b.status.ok());
  const auto va = values_of(a.responses[0]), vb = values_of(b.responses[0]);
  const double unit[15] = {m, m, m, pa, pa, pa, pa, pa, pa, 1, 1, 1, 1, 1, 1};
  for (int q = 0; q < 15; ++q) EXPECT_NEAR(vb[q], va[q] * unit[q], 1e-9 * std::abs(va[q] * unit[q]) + 1e-300) << kQuantities[q];
  // Principal values are those of the tensor: their sum is its trace.
  const auto& p = a.responses[0].principal_stresses;
  EXPECT_GE(p[0], p[1]);
  EXPECT_GE(p[1], p[2]);
  EXPECT_NEAR(p[0] + p[1] + p[2], va[3] + va[4] + va[5], 1e-9 * std::abs(p[0]));
}

// Through the deck's rounding of moduli the legacy mode-1 structure gives
// the engine entry's deflections bit for bit, moduli that need rounding included.
TEST(PublicAnalysis, DeckRoundingGivesTheLegacyModeOneDeflections) {
  struct Case {
    float h1, h2, h3, e1, e2, e3, q;
  };
  const Case cases[] = {{4, 8, 12, 500000, 30000, 10000, 1},
                        {5, 12, 120, 812345.6f, 41234.5f, 11987.6f, 1.25f},
                        {12, 48, 240, 2345678, 98765, 4321.5f, 0.5f}};
  const auto legacy = zalk::engine::make_engine_workspace();
  zalk::AnalysisWorkspace ws;
  zalk::AnalysisOptions options;
  options.round_moduli_as_deck = true;
  const std::filesystem::path deck = std::filesystem::path(std::getenv("ZALK3071_DIR")) / "input_m.txt";
  for (const Case& c : cases) {
    float defl[8] = {}, scratch[10] = {}, seastab = 0;
    zalk::engine::quorvan(*legacy, deck, c.h1, c.h2, c.h3, &c.e1, &c.e2, &c.e3, c.q, defl, scratch, &seastab, 1, 1);
    const zalk::Structure s{{{c.h1, c.e1, 0.35}, {c.h2, c.e2, 0.40}, {c.h3, c.e3, 0.45}, {0, 1e7, 0.49}}};
    std::vector<zalk::Point> points;
    for (double x : {0, 8, 12, 18, 24, 36, 48, 60}) points.push_back({x, 0, 0});
    const auto r = zalk::analyse(ws, s, {{0, 0, double(100.0f * c.q), 5.9}}, points, options);
    ASSERT_TRUE(r.status.ok());
    for (int i = 0; i < 8; ++i) EXPECT_EQ(float(r.responses[std::size_t(i)].w), defl[i]) << "h1 " << c.h1 << " point " << i + 1;
  }
}

}  // namespace
