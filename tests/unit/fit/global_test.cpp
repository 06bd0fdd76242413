// The search over every depth on exact basins of known structures from the
// long-double reference solver: stiff layers between the candidates, thin
// bases with a stiff layer just below them, no stiff layer at all, and the
// candidate-depth cases of basins.csv. Every depth within 3 %, every
// modulus within 1 %, and never worse than the table search's answer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "fit/basins.h"

namespace zalk::rating {
namespace {

using testing::SyntheticCase;

double worst_modulus_error(const FitResult& r, const SyntheticCase& c) {
  const double truth[3] = {c.e1, c.e2, c.e3};
  double worst = 0;
  for (int j = 0; j < 3; ++j) worst = std::max(worst, std::abs(r.moduli[std::size_t(j)] / truth[j] - 1.0));
  return worst;
}

TEST(FitGlobal, FindsEveryDepthAndTheHalfSpace) {
  std::vector<SyntheticCase> cases = testing::load_basins("global_basins.csv");
  ASSERT_GE(cases.size(), 15u);
  for (const SyntheticCase& c : testing::load_basins()) cases.push_back(c);
  FitOptions options;
  options.depth_mode = DepthMode::Global;
  FitWorkspace ws;
  int calls = 0;
  std::printf("case  truth depth  found depth  worst modulus error  rms%%  table rms%%  engine runs\n");
  for (const SyntheticCase& c : cases) {
    SCOPED_TRACE(c.name);
    const FitResult r = fit_test(ws, testing::project_table(), c.test(), options);
    std::printf("%-5s %10.1f %12.1f %10.4f%% %12.2e %10.2e %6d\n", c.name.c_str(), c.h3, r.depth,
                100 * worst_modulus_error(r, c), r.fit_error, r.design.fit_error, r.engine_calls);
    calls += r.engine_calls;
    EXPECT_EQ(r.flags & (kFitNotFitted | kFitNotConverged | kFitAtBound | kFitAboveNoise), 0u);
    if (std::isinf(c.h3)) {
      EXPECT_TRUE(std::isinf(r.depth)) << r.depth;
    } else {
      EXPECT_NEAR(r.depth / c.h3, 1.0, 0.03);
    }
    EXPECT_LT(worst_modulus_error(r, c), 0.01);
    if (std::isfinite(r.design.fit_error)) {
      EXPECT_LE(r.fit_error, r.design.fit_error);
    }
  }
  std::printf("engine runs per test: %.1f\n", double(calls) / double(cases.size()));
}

}  // namespace
}  // namespace zalk::rating
