// The search over every depth on exact basins of known structures from the
// long-double reference solver: stiff layers between the candidates, thin
// bases with a stiff layer just below them, no stiff layer at all, and the
// candidate-depth cases of basins.csv. Every depth within 3 %, every
// modulus within 0.1 %, and never worse than the table search's answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "engine/driver.h"
#include "unit/fit/basins.h"

namespace zalk::rating {
namespace {

using testing::SyntheticCase;

double worst_modulus_error(const FitResult& r, const SyntheticCase& c) {
  const double truth[3] = {c.e1, c.e2, c.e3};
  double worst = 0;
  for (int j = 0; j < 3; ++j) worst = std::max(worst, std::abs(r.moduli[std::size_t(j)] / truth[j] - 1.0));
  return worst;
}

// Each case as one test of a long section (the search on the section's
// grid of basins) and as a section's only test (on the engine directly).
TEST(FitGlobal, FindsEveryDepthAndTheHalfSpace) {
  std::vector<SyntheticCase> cases = testing::load_basins("global_basins.csv");
  ASSERT_GE(cases.size(), 15u);
  for (const SyntheticCase& c : testing::load_basins()) cases.push_back(c);
  for (const int section_tests : {100, 1}) {
    FitOptions options;
    options.depth_mode = DepthMode::Global;
    options.section_tests = section_tests;
    FitWorkspace ws;
    int calls = 0;
    std::printf("case  truth depth  found depth  worst modulus error  rms%%  table rms%%  engine runs: polish, grid\n");
    for (const SyntheticCase& c : cases) {
      SCOPED_TRACE(c.name + (section_tests == 1 ? " alone" : " in a section"));
      const FitResult r = fit_test(ws, testing::project_table(), c.test(), options);
      std::printf("%-5s %10.1f %12.1f %10.4f%% %12.2e %10.2e %6d %6d\n", c.name.c_str(), c.h3, r.depth,
                  100 * worst_modulus_error(r, c), r.fit_error, r.design.fit_error, r.engine_calls,
                  r.grid_engine_calls);
      calls += r.engine_calls + r.grid_engine_calls;
      EXPECT_EQ(r.flags & (kFitNotFitted | kFitNotConverged | kFitAtBound | kFitAboveNoise), 0u);
      if (std::isinf(c.h3)) {
        EXPECT_TRUE(std::isinf(r.depth)) << r.depth;
      } else {
        EXPECT_NEAR(r.depth / c.h3, 1.0, 0.03);
      }
      // A basin fitted far below the noise is polished on the engine's high
      // accuracy: without, a 6 in base under 12 in of surface (G08), which
      // moves the basin by less than the design's integration rounds, came
      // out 1.008 % off.
      EXPECT_LT(worst_modulus_error(r, c), 0.001);
      if (std::isfinite(r.design.fit_error)) {
        EXPECT_LE(r.fit_error, r.design.fit_error);
      }
    }
    std::printf("engine runs per test: %.1f\n", double(calls) / double(cases.size()));
  }
}

// A section's grid of basins is kept when another section is fitted in
// between: the same test fitted again runs no node a second time and gets
// the same answer, bit for bit, as from a fresh workspace.
TEST(FitGlobal, ASectionsGridIsKeptAcrossSectionsWithoutChangingItsAnswers) {
  const std::vector<SyntheticCase> cases = testing::load_basins("global_basins.csv");
  const SyntheticCase& a = cases.front();
  const auto other = std::find_if(cases.begin(), cases.end(),
                                  [&](const SyntheticCase& c) { return c.h1 != a.h1 || c.h2 != a.h2; });
  ASSERT_NE(other, cases.end());
  FitOptions options;
  options.depth_mode = DepthMode::Global;
  FitWorkspace ws;
  const FitResult first = fit_test(ws, testing::project_table(), a.test(), options);
  (void)fit_test(ws, testing::project_table(), other->test(), options);
  ws.warm.clear();  // the section's answers as a fresh workspace has them
  const FitResult again = fit_test(ws, testing::project_table(), a.test(), options);
  EXPECT_GT(first.grid_engine_calls, 0);
  EXPECT_EQ(again.grid_engine_calls, 0);
  EXPECT_EQ(again.moduli, first.moduli);
  EXPECT_EQ(again.depth, first.depth);
  EXPECT_EQ(again.residuals, first.residuals);
  EXPECT_EQ(again.engine_calls, first.engine_calls);
}

// The grid's basin without derivatives visits only the nodes that weigh in
// (one depth's at a depth of the grid) and gives the same values, bit for
// bit, as with them; between depths it needs all four.
TEST(FitGlobal, TheGridsBasinWithoutDerivativesRunsOnlyTheNodesThatWeigh) {
  const SyntheticCase c = testing::load_basins().front();
  auto engine = engine::make_engine_workspace();
  const std::vector<double> depths{12, 24, 48, 96, 192};
  struct Row {
    double t;
    int runs_alone;  // nodes the value alone needs from an empty grid
  };
  for (const Row row : {Row{2.0, 16}, Row{0.0, 16}, Row{4.0, 16}, Row{-1.0, 16}, Row{2.5, 64}}) {
    SCOPED_TRACE(row.t);
    BasinGrid alone, with;
    alone.use_section(c.h1, c.h2, c.offsets, depths);
    with.use_section(c.h1, c.h2, c.offsets, depths);
    std::vector<double> w_alone, w_with;
    std::vector<std::array<double, 3>> grad;
    ASSERT_TRUE(alone.basin(*engine, 3.1, 1.2, row.t, w_alone));
    ASSERT_TRUE(with.basin(*engine, 3.1, 1.2, row.t, w_with, grad));
    EXPECT_EQ(w_alone, w_with);
    EXPECT_EQ(alone.engine_runs(), row.runs_alone);
    EXPECT_EQ(with.engine_runs(), row.t < 0 ? 16 : 64);
  }
}

}  // namespace
}  // namespace zalk::rating

namespace zalk::rating {
namespace {

// Noise drawn from the default model on the exact basins (fixed seed): the
// share of true moduli within one standard error of the fit should be that
// of a normal variable, 68 %; 60 to 76 % over 3 x 222 moduli. Each basin is
// drawn six times in a row, as a section's drops come, so that the section's
// grid serves all six. The linear errors alone put 79 % within one standard
// error with the depth fitted (its linear error is huge where the basin
// barely feels a deep stiff layer) and 47 % with it held.
TEST(FitGlobalSlow, StandardErrorsAreCalibratedOnNoisyBasins) {
  std::vector<testing::SyntheticCase> cases = testing::load_basins("global_basins.csv");
  for (const auto& c : testing::load_basins()) cases.push_back(c);
  // On the section's grid of basins, and on the engine directly as for a
  // section of few tests.
  for (const int section_tests : {100, 1}) {
    FitOptions options;
    options.depth_mode = DepthMode::Global;
    options.section_tests = section_tests;
    FitWorkspace ws;
    std::mt19937_64 rng(20261208);
    std::normal_distribution<double> normal(0.0, 1.0);
    const int draws = 6;
    int within = 0, total = 0;
    for (const testing::SyntheticCase& c : cases) {
      for (int k = 0; k < draws; ++k) {
        FitTest t = c.test();
        for (double& w : t.deflections) w += (options.noise.absolute + options.noise.relative * w) * normal(rng);
        // A far reading of a few tenths of a mil may come out at or below 0:
        // not a basin to fit (and flagged as such elsewhere).
        if (*std::min_element(t.deflections.begin(), t.deflections.end()) <= 0) continue;
        const FitResult r = fit_test(ws, testing::project_table(), t, options);
        ASSERT_FALSE(r.flags & kFitNotFitted) << c.name;
        const double truth[3] = {c.e1, c.e2, c.e3};
        for (int j = 0; j < 3; ++j) {
          ASSERT_TRUE(std::isfinite(r.relative_std_error[std::size_t(j)])) << c.name;
          within += std::abs(std::log(r.moduli[std::size_t(j)] / truth[j])) <= r.relative_std_error[std::size_t(j)];
          ++total;
        }
      }
    }
    ASSERT_GE(total, 3 * 200);
    const double share = double(within) / double(total);
    std::printf("true moduli within one standard error: %d of %d (%.1f %%)\n", within, total, 100 * share);
    EXPECT_GE(share, 0.60);
    EXPECT_LE(share, 0.76);
  }
}

}  // namespace
}  // namespace zalk::rating

namespace zalk::rating {
namespace {

// ill_conditioned names the modulus the basin leaves undetermined (standard
// error above 50 %) and stays off where every modulus is determined: a
// stiff layer 9 in under a 12 in base leaves the base and subgrade to trade
// off, a 6 in base under 12 in of surface barely moves the basin; a thin
// structure on a half-space is determined.
TEST(FitGlobal, IllConditionedNamesTheUndeterminedModulus) {
  struct Row {
    const char* name;
    const char* named;  // in the message; nullptr: not flagged
  };
  const Row rows[] = {{"D10", "subgrade"}, {"G08", "base"}, {"N03", nullptr}};
  std::vector<testing::SyntheticCase> cases = testing::load_basins("global_basins.csv");
  for (const auto& c : testing::load_basins()) cases.push_back(c);
  FitOptions options;
  options.depth_mode = DepthMode::Global;
  for (const int section_tests : {100, 1})  // on the section's grid, on the engine directly
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(row.name) + (section_tests == 1 ? " alone" : " in a section"));
      const auto c = std::find_if(cases.begin(), cases.end(), [&](const auto& k) { return k.name == row.name; });
      ASSERT_NE(c, cases.end());
      options.section_tests = section_tests;
      FitWorkspace ws;
      const FitResult r = fit_test(ws, testing::project_table(), c->test(), options);
      std::printf("%s: standard errors %.0f %.0f %.0f %%, %s\n", row.name, 100 * r.relative_std_error[0],
                  100 * r.relative_std_error[1], 100 * r.relative_std_error[2], r.message.c_str());
      EXPECT_EQ((r.flags & kFitIllConditioned) != 0, row.named != nullptr);
      if (row.named != nullptr) {
        EXPECT_NE(r.message.find(std::string("the ") + row.named + " modulus"), std::string::npos) << r.message;
      }
    }
}

}  // namespace
}  // namespace zalk::rating
