// The engine's fast paths against its general ones, bit for bit: the layer
// systems solved by repeating a recorded factorisation against the sparse
// solver itself, the coefficients of an interval fitted together against
// one DSPLEZ call each, on the reference structures and on random layered
// structures of 2 to 10 layers (thick layers whose exponentials underflow
// change the pattern along the grid, and the pivot order changes at small
// m, so recording anew is exercised too).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/driver.h"
#include "engine/quorvan.h"
#include "reference_data.h"
#include "support/layer_points.h"

namespace zalk::engine {
namespace {

struct Pair {
  std::unique_ptr<EngineWorkspace> fast = make_engine_workspace();
  std::unique_ptr<EngineWorkspace> general = make_engine_workspace();
  std::array<double, 10> abstol{}, reltol{};

  Pair() {
    general->solver.reuse_pivots = false;
    general->intervals.fit_sets_together = false;
    testing::deck_tolerances(abstol, reltol);
  }

  // Analyses the problem both ways and compares the coefficient tables of
  // the last load radius and every result slot of every point.
  void expect_identical(const DeckProblem& problem, const std::string& what) {
    analyse_problem(*fast, problem, abstol, reltol);
    analyse_problem(*general, problem, abstol, reltol);
    const TransformTables& a = fast->tables;
    const TransformTables& b = general->tables;
    ASSERT_EQ(a.ncoef, b.ncoef) << what;
    EXPECT_EQ(0, std::memcmp(a.coef.data(), b.coef.data(),
                             sizeof(double) * std::size_t(a.ncoef) * kGridPoints))
        << what << ": coefficient table";
    EXPECT_EQ(0, std::memcmp(&fast->rslot, &general->rslot, sizeof(ResultSlots)))
        << what << ": result slots";
  }
};

// The problems of the entry's decks for the four reference structures.
TEST(FastPaths, ReferenceStructuresThroughBothDecks) {
  struct Structure {
    float h1, h2, h3, e1, e2, e3;
  };
  const Structure structures[] = {{4, 8, 12, 500000, 30000, 10000},
                                  {6, 12, 60, 1500000, 50000, 15000},
                                  {3, 18, 36, 3000000, 100000, 20000},
                                  {5, 4, 24, 300000, 60000, 12000}};
  Pair pair;
  for (const Structure& s : structures) {
    for (int mode : {1, 2}) {
      DeckRequest request;
      request.h1 = s.h1;
      request.h2 = s.h2;
      request.h3 = s.h3;
      request.e1 = &s.e1;
      request.e2 = &s.e2;
      request.e3 = &s.e3;
      request.q = 1;
      request.ncases = 1;
      request.mode = mode;
      ProblemSet set;
      read_deck_text(write_deck_text(request), set);
      ASSERT_EQ(set.nprob, 1);
      pair.expect_identical(set.problems[0], "h1 " + std::to_string(s.h1) + " mode " + std::to_string(mode));
    }
  }
  EXPECT_GT(pair.fast->solver.replay.counts().repeated, 0);
}

// Random structures: moduli over four decades, thicknesses up to 400 (whose
// exponentials underflow at large m), every kind of bond, one or two loads of
// the radii the engine meets, points on the axis and off it in every layer
// and on interfaces.
DeckProblem random_problem(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  DeckProblem p;
  p.nlayer = 2 + int(unit(rng) * 9.0);
  for (int i = 0; i < p.nlayer; ++i) {
    p.emod[i] = std::pow(10.0, 3.0 + 4.0 * unit(rng));
    p.pratio[i] = 0.15 + 0.34 * unit(rng);
    const double roll = unit(rng);
    p.thick[i] = i + 1 == p.nlayer ? 0.0 : roll < 0.1 ? 400.0 * unit(rng) + 20.0 : 0.5 + 30.0 * unit(rng);
    const double kind = unit(rng);
    p.bond[i] = kind < 0.6 ? 1.0 : kind < 0.75 ? 0.0 : unit(rng);
  }
  if (unit(rng) < 0.2) p.emod[1] = p.emod[0] * (1.0 + p.pratio[1]) / (1.0 + p.pratio[0]);  // R = 1
  const double radii[] = {0.8, 3.8, 5.9, 12.0};
  p.nload = 1 + int(unit(rng) * 2.0);
  for (int j = 0; j < p.nload; ++j) {
    p.press[j] = 50.0 + 100.0 * unit(rng);
    p.radius[j] = radii[int(unit(rng) * 4.0)];
    p.xload[j] = 12.0 * j;
  }
  zalk::testing::place_points_in_every_layer(p);
  return p;
}

TEST(FastPaths, RandomStructures) {
  std::mt19937_64 rng(20261207);
  Pair pair;
  for (int t = 0; t < 60; ++t) {
    const DeckProblem p = random_problem(rng);
    pair.expect_identical(p, "random structure " + std::to_string(t) + " of " +
                                 std::to_string(p.nlayer) + " layers");
  }
  const auto& counts = pair.fast->solver.replay.counts();
  std::printf("  systems repeated %lld, searched %lld (after a departure %lld)\n", counts.repeated,
              counts.searched, counts.departed);
  EXPECT_GT(counts.repeated, counts.searched);
  EXPECT_GT(counts.departed, 0);  // recorded anew where the pivots change
}

// Deflections alone against the full analysis, bit for bit: on random
// structures with points in every layer, and on surface basins like a
// back-calculation's (nine sensors to 72 in, the top layer split, a stiff
// layer anywhere from just below the base to none). The same workspace
// alternates between the two kinds of analysis, so a table left partly
// solved, or a cache left in the deflection-only state, would show in the
// full analyses that follow. A full analysis that solves the columns on
// demand gives every response as the one that solves them all.
TEST(FastPaths, DeflectionsAloneAsTheFullAnalysisGivesThem) {
  std::mt19937_64 rng(20261208);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<DeckProblem> problems;
  for (int t = 0; t < 40; ++t) problems.push_back(random_problem(rng));
  for (int t = 0; t < 40; ++t) {
    DeckProblem p;
    p.nlayer = t % 4 == 0 ? 3 : 4;
    const double e[] = {std::pow(10.0, 5.0 + 1.5 * unit(rng)), std::pow(10.0, 4.0 + unit(rng)),
                        std::pow(10.0, 3.5 + unit(rng)), 1e6};
    const double h[] = {2.0 + 10.0 * unit(rng), 4.0 + 20.0 * unit(rng), 1.0 + 200.0 * unit(rng), 0.0};
    const double nu[] = {0.35, 0.4, 0.45, 0.5 - 1e-3};
    for (int i = 0; i < p.nlayer; ++i) {
      p.emod[i] = e[i];
      p.pratio[i] = nu[i];
      p.thick[i] = h[i];
      p.bond[i] = 1.0;
    }
    zalk::testing::place_plate_and_nine_sensors(p, 80.0 + 10.0 * unit(rng));
    problems.push_back(p);
  }

  Pair pair;
  auto alone = make_engine_workspace();
  auto on_demand = make_engine_workspace();
  on_demand->columns_on_demand = true;
  for (std::size_t t = 0; t < problems.size(); ++t) {
    const DeckProblem& p = problems[t];
    const std::string what = "problem " + std::to_string(t) + " of " + std::to_string(p.nlayer) + " layers";
    analyse_deflections(*alone, p, pair.abstol, pair.reltol);
    analyse_problem(*pair.general, p, pair.abstol, pair.reltol);
    for (int k = 1; k <= p.npoint; ++k) {
      const double a = result_slot(*alone, 1, k), b = result_slot(*pair.general, 1, k);
      EXPECT_EQ(0, std::memcmp(&a, &b, sizeof a)) << what << ", point " << k << ": " << a << " vs " << b;
    }
    // Every response of a full analysis whose columns are solved on demand.
    analyse_problem(*on_demand, p, pair.abstol, pair.reltol);
    EXPECT_EQ(0, std::memcmp(&on_demand->rslot, &pair.general->rslot, sizeof(ResultSlots)))
        << what << ": result slots with the columns solved on demand";
    if (t % 5 == 0) analyse_deflections(*on_demand, p, pair.abstol, pair.reltol);
    // Back to a full analysis in the workspace that analysed deflections only.
    if (t % 3 == 0) pair.expect_identical(p, what + " (full analysis after deflections alone)");
    std::swap(pair.fast, alone);
  }
}

}  // namespace
}  // namespace zalk::engine
