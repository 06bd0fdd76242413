// The standard errors of the fit against the spread of the fitted moduli
// over repeated noisy readings of one exact basin (0.5 % of each reading
// plus 0.04 mil, normal, fixed seed). The depth is fitted as well, so that
// its uncertainty enters both: between the candidates by the Jacobian, and
// over every depth by the search's profile (a stiff layer the basin feels
// clearly, and none at all).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "unit/fit/basins.h"

namespace zalk::rating {
namespace {

struct SpreadCase {
  const char* name;
  DepthMode mode;
  int reps;
};

TEST(FitNoise, StandardErrorsMatchTheSpreadOfRepeatedFits) {
  auto cases = testing::load_basins();
  for (const auto& c : testing::load_basins("global_basins.csv")) cases.push_back(c);
  const SpreadCase rows[] = {
      {"G02", DepthMode::Continuous, 100},
      {"D09", DepthMode::Global, 60},
      {"N03", DepthMode::Global, 60},
  };
  for (const SpreadCase& row : rows) {
    SCOPED_TRACE(row.name);
    const testing::SyntheticCase* c = nullptr;
    for (const auto& k : cases)
      if (k.name == row.name) c = &k;
    ASSERT_NE(c, nullptr);
    FitOptions options;
    options.depth_mode = row.mode;
    options.noise = {0.04e-3, 0.005};  // the noise drawn below
    FitWorkspace ws;
    std::mt19937_64 rng(20261207);
    std::normal_distribution<double> normal(0.0, 1.0);
    double sum[3] = {}, sum2[3] = {}, se2[3] = {};
    for (int k = 0; k < row.reps; ++k) {
      FitTest t = c->test();
      for (double& w : t.deflections) w += (0.005 * w + 0.04e-3) * normal(rng);
      const FitResult r = fit_test(ws, testing::project_table(), t, options);
      ASSERT_FALSE(r.flags & kFitNotFitted);
      for (int j = 0; j < 3; ++j) {
        const double l = std::log(r.moduli[std::size_t(j)]);
        sum[j] += l;
        sum2[j] += l * l;
        se2[j] += r.relative_std_error[std::size_t(j)] * r.relative_std_error[std::size_t(j)];
      }
    }
    const double n = row.reps;
    for (int j = 0; j < 3; ++j) {
      const double mean = sum[j] / n;
      const double spread = std::sqrt((sum2[j] / n - mean * mean) * n / (n - 1));
      const double se = std::sqrt(se2[j] / n);
      std::printf("%s modulus %d: spread of ln E %.4f, rms standard error %.4f, ratio %.2f\n", row.name, j + 1,
                  spread, se, spread / se);
      EXPECT_GT(spread / se, 1.0 / 1.5) << "modulus " << j + 1;
      EXPECT_LT(spread / se, 1.5) << "modulus " << j + 1;
    }
  }
}

}  // namespace
}  // namespace zalk::rating
