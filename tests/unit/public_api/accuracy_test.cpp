// The accurate analysis (Accuracy::high) against the independent references
// to 1e-10 (relative, floor 1e-3 of each quantity's largest magnitude;
// measured: 5e-11 at worst, on the half-space just below the load edge, and
// 1.3e-12 on the layered structures), and
// the default accuracy against the engine core bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>

#include "engine/driver.h"
#include "engine/quorvan.h"
#include "unit/engine/reference_data.h"
#include "unit/plate/halfspace_reference.h"
#include "support/reference_structures.h"
#include "zalk/zalk.hpp"

namespace {

using zalk::engine::testing::ErrorTally;
using zalk::engine::testing::read_csv;

constexpr double kHighLimit = 1e-10;

zalk::AnalysisOptions high_accuracy() {
  zalk::AnalysisOptions o;
  o.accuracy = zalk::Accuracy::high;
  return o;
}

const zalk::Structure kHalfSpace{{{5, 30000, 0.35}, {5, 30000, 0.35}, {20, 30000, 0.35}, {0, 30000, 0.35}}};

// Every point of the exact half-space table (one load, E 30000, nu 0.35,
// p 100, a 5.9; on the surface at the load edge the mean of the jumping
// strains), and points near the edge just below the surface against the
// test's own summation of the Hankel integrals over m (the library sums
// point-load potentials over the disk instead).
TEST(AccurateAnalysis, HalfSpaceToTheExactValues) {
  std::map<std::pair<double, double>, std::map<std::string, double>> ref;
  for (const auto& row : read_csv("halfspace_exact.csv"))
    ref[{std::stod(row[0]), std::stod(row[1])}][row[2]] = std::stod(row[3]);
  for (double r : {5.31, 5.6, 6.2, 6.49})
    for (double z : {0.05, 0.3, 1.0, 2.655}) {
      const auto h = plate_test::halfspace(r, z, 5.9, 100, 30000, 0.35);
      ref[{r, z}] = {{"w", h.W}, {"u", h.U}, {"eps_r", h.ER}, {"eps_t", h.ET}, {"eps_z", h.EZ}, {"eps_rz", h.ERZ}};
    }
  std::vector<zalk::Point> points;
  for (const auto& [rz, values] : ref)
    points.push_back({rz.first, 0, rz.second});
  const auto result = zalk::analyse(kHalfSpace, {{0, 0, 100, 5.9}}, points, high_accuracy());
  ASSERT_TRUE(result.status.ok()) << result.status.error->text;
  ErrorTally tally;
  for (std::size_t k = 0; k < points.size(); ++k) {
    const auto& p = points[k];
    const auto& v = result.responses[k];
    // On the positive x axis: radial is x, tangential y.
    const std::map<std::string, double> got = {
        {"w", v.w},           {"u", v.u_x},         {"sigma_r", v.stress.xx}, {"sigma_t", v.stress.yy},
        {"sigma_z", v.stress.zz}, {"tau_rz", v.stress.xz}, {"eps_r", v.strain.xx}, {"eps_t", v.strain.yy},
        {"eps_z", v.strain.zz}, {"eps_rz", v.strain.xz}};
    char where[40];
    std::snprintf(where, sizeof where, "r %.3g z %.3g", p.x, p.z);
    for (const auto& [quantity, value] : ref[{p.x, p.z}]) tally.add(quantity, where, got.at(quantity), value);
  }
  tally.check(kHighLimit, "high half-space");
}

using Layered = zalk::testing::ReferenceStructure;
constexpr const auto& kLayered = zalk::testing::kReferenceStructures;

zalk::Structure structure_of(const Layered& c) {
  return {{{c.h1, c.e1, 0.35}, {c.h2, c.e2, 0.40}, {c.h3, c.e3, 0.45}, {0, 1e7, 0.49}}};
}

// Mode 1: surface deflections under one load of radius 5.9.
TEST(AccurateAnalysis, LayeredSurfaceDeflections) {
  std::map<std::string, std::vector<std::pair<double, double>>> ref;
  for (const auto& row : read_csv("layered_mode1.csv")) ref[row[0]].push_back({std::stod(row[1]), std::stod(row[2])});
  zalk::AnalysisWorkspace ws;
  for (const Layered& c : kLayered) {
    std::vector<zalk::Point> points;
    for (const auto& [r, w] : ref[c.id]) points.push_back({r, 0, 0});
    const auto result = zalk::analyse(ws, structure_of(c), {{0, 0, 100, 5.9}}, points, high_accuracy());
    ASSERT_TRUE(result.status.ok());
    ErrorTally tally;
    for (std::size_t k = 0; k < points.size(); ++k)
      tally.add("w", std::to_string(points[k].x), result.responses[k].w, ref[c.id][k].second);
    tally.check(kHighLimit, c.id);
  }
}

// Mode 2: all fifteen components at buried points under two loads of radius
// 3.8, interface points on either side.
TEST(AccurateAnalysis, LayeredBuriedResponses) {
  const char* const names[15] = {"w",     "u_x",    "u_y",    "sigma_x", "sigma_y", "sigma_z", "tau_xy", "tau_yz",
                                 "tau_xz", "eps_x", "eps_y", "eps_z",   "eps_xy",  "eps_yz",  "eps_xz"};
  std::map<std::string, std::map<std::string, std::map<std::string, double>>> ref;
  for (const auto& row : read_csv("layered_mode2.csv")) ref[row[0]][row[1]][row[2]] = std::stod(row[3]);
  zalk::AnalysisWorkspace ws;
  for (const Layered& c : kLayered) {
    const std::vector<zalk::Point> points{{0, 0, c.h1}, {0, 0, c.h1 + 6}, {0, 0, c.h1 + 12},
                                          {6.75, 0, c.h1 + 6}, {6.75, 0, c.h1 + 12}};
    ErrorTally tally;
    for (auto rule : {zalk::InterfacePoints::layer_above, zalk::InterfacePoints::layer_below}) {
      zalk::AnalysisOptions options = high_accuracy();
      options.interface_points = rule;
      const auto result = zalk::analyse(ws, structure_of(c), {{0, 0, 100, 3.8}, {13.5, 0, 100, 3.8}}, points, options);
      ASSERT_TRUE(result.status.ok());
      for (int k = 1; k <= 5; ++k) {
        char name[8], below[16];
        std::snprintf(name, sizeof name, "P%d", k);
        std::snprintf(below, sizeof below, "P%d_below", k);
        const std::string point = rule == zalk::InterfacePoints::layer_below && ref[c.id].count(below) ? below : name;
        const auto& v = result.responses[std::size_t(k - 1)];
        const double got[15] = {v.w, v.u_x, v.u_y, v.stress.xx, v.stress.yy, v.stress.zz, v.stress.xy, v.stress.yz,
                                v.stress.xz, v.strain.xx, v.strain.yy, v.strain.zz, v.strain.xy, v.strain.yz, v.strain.xz};
        for (int q = 0; q < 15; ++q) {
          tally.include_scale(names[q], ref[c.id][name][names[q]]);
          tally.add(names[q], point, got[q], ref[c.id][point][names[q]]);
        }
      }
    }
    tally.check(kHighLimit, c.id);
  }
}

// The default accuracy runs the engine core's design integration unchanged.
TEST(AccurateAnalysis, DefaultAccuracyIsTheEngineCoreBitForBit) {
  const Layered& c = kLayered[0];
  const std::vector<zalk::Point> points{{0, 0, 0}, {5.9, 0, 1.0}, {8, 0, c.h1}, {13.5, 2, 30}};
  const auto api = zalk::analyse(structure_of(c), {{0, 0, 100, 5.9}}, points);
  ASSERT_TRUE(api.status.ok());

  zalk::engine::DeckProblem p;
  p.nlayer = 4;
  const double h[4] = {c.h1, c.h2, c.h3, 0}, e[4] = {c.e1, c.e2, c.e3, 1e7}, nu[4] = {0.35, 0.40, 0.45, 0.49};
  for (int i = 0; i < 4; ++i) {
    p.thick[i] = h[i];
    p.emod[i] = e[i];
    p.pratio[i] = nu[i];
    p.bond[i] = 1.0;
  }
  p.nload = 1;
  p.press[0] = 100;
  p.radius[0] = 5.9;
  p.npoint = int(points.size());
  for (std::size_t k = 0; k < points.size(); ++k) {
    p.xpoint[k] = points[k].x;
    p.ypoint[k] = points[k].y;
    p.zpoint[k] = points[k].z;
    p.lpoint[k] = api.responses[k].layer;
  }
  std::array<double, 10> abstol, reltol;
  zalk::engine::testing::deck_tolerances(abstol, reltol);
  const auto ws = zalk::engine::make_engine_workspace();
  zalk::engine::analyse_problem(*ws, p, abstol, reltol);
  for (int k = 1; k <= p.npoint; ++k) {
    const auto& v = api.responses[std::size_t(k - 1)];
    const double got[4] = {v.w, v.u_x, v.stress.zz, v.strain.xx};
    const int slot[4] = {1, 2, 6, 10};
    for (int i = 0; i < 4; ++i) {
      const double engine = zalk::engine::result_slot(*ws, slot[i], k);
      EXPECT_EQ(std::memcmp(&got[i], &engine, sizeof(double)), 0)
          << "point " << k << " slot " << slot[i];
    }
  }
}

}  // namespace
