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

}  // namespace
}  // namespace zalk::engine
