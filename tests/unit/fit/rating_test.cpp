// The rating core with the fit as its back-calculation: the host's results
// carry the fitted moduli and depth, and the allowable load comes from the
// same seasonal rating as the table search's.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "unit/fit/basins.h"
#include "rating/context.h"
#include "rating/driver.h"
#include "legacy/host_rating.h"

namespace zalk::rating {
namespace {

using legacy::rate_sections;

TEST(FitRating, TheRatingCoreRatesTheFittedModuli) {
  const auto cases = testing::load_basins();
  const testing::SyntheticCase& c = cases.front();
  std::vector<double> fwd(std::size_t(20) * 2000 * 10, 0.0), result(std::size_t(20) * 2000 * 6, 0.0),
      sect(std::size_t(20) * 23, 0.0);
  auto fwd_at = [&](int k) -> double& { return fwd[std::size_t(k - 1) * 2000 * 20]; };  // section 1, test 1
  auto sect_at = [&](int col) -> double& { return sect[std::size_t(col - 1) * 20]; };
  for (int i = 1; i <= 5; ++i) {
    sect_at(i) = 73;              // days of season i
    sect_at(5 + i) = 40 + 8 * i;  // its mean air temperature
    sect_at(13 + i) = 1.0;        // base and subgrade factors
    sect_at(18 + i) = 1.0;
  }
  sect_at(11) = c.h1;
  sect_at(12) = c.h2;
  sect_at(13) = 70;
  fwd_at(1) = 10.0;
  fwd_at(2) = c.load;
  for (int s = 1; s <= 6; ++s) fwd_at(2 + s) = c.deflections[std::size_t(s - 1)] * 1000.0;
  fwd_at(9) = 1.0e5;
  fwd_at(10) = 75;
  std::array<int, 20> ntest{};
  ntest[0] = 1;
  const int nsec = 1;

  RatingContext ctx;
  ctx.table = std::filesystem::path(ZALK_SOURCE_DIR) / "data" / "backdefl.txt";
  OwnedBlocks blocks;
  FitWorkspace ws;
  install_fit(ctx, ws, testing::project_table());
  rate_sections(ctx, blocks.view, fwd.data(), result.data(), sect.data(), ntest.data(), &nsec);

  auto result_at = [&](int k) { return result[std::size_t(k - 1) * 2000 * 20]; };
  ASSERT_FALSE(ws.last.flags & kFitNotFitted) << ws.last.message;
  EXPECT_EQ(result_at(2), double(float(ws.last.moduli[0])));
  EXPECT_EQ(result_at(4), double(float(ws.last.moduli[1])));
  EXPECT_EQ(result_at(5), double(float(ws.last.moduli[2])));
  EXPECT_EQ(result_at(6), c.h3);
  EXPECT_NEAR(result_at(2) / c.e1, 1.0, 1e-3);
  const double allow = result_at(1);
  EXPECT_TRUE(allow > 0 && allow <= 999.0) << allow;
  // The same moduli rated directly give the same allowable load.
  EXPECT_EQ(rate_fitted(ctx, blocks.view, ws.last), allow);

  // The band against a second method: the spread of ln(allowable load)
  // over moduli drawn from the fit's covariance (200 draws, fixed seed).
  const AllowableBand band = allowable_band(ctx, blocks.view, ws.last);
  EXPECT_EQ(ctx.season.allow, allow);  // left as the rating left it
  // One season's limit binds here: its slopes from that season alone are
  // those of full seasonal ratings, bit for bit.
  // Each season rated alone gives that season's limits of the full
  // seasonal rating, bit for bit.
  const SeasonalState full_rating = ctx.season;
  for (int i = 1; i <= kSeasons; ++i) {
    const SeasonLimits alone = limits_in_season_alone(ctx, blocks.view, float(ws.last.moduli[0]), float(ws.last.moduli[1]),
                                                      float(ws.last.moduli[2]), float(rating_depth(ws.last.depth)), i);
    EXPECT_EQ(alone.strength, limits_in_season(full_rating, i).strength) << "season " << i;
    EXPECT_EQ(alone.deflection, limits_in_season(full_rating, i).deflection) << "season " << i;
  }
  EXPECT_EQ(ctx.season.allow, allow);
  int binding = 0;
  for (int i = 1; i <= kSeasons; ++i)
    if (limits_in_season(ctx.season, i).strength == allow || limits_in_season(ctx.season, i).deflection == allow)
      binding = i;
  EXPECT_GT(binding, 0) << allow;
  const AllowableBand full = allowable_band(ctx, blocks.view, ws.last, BandSlopes::full_ratings);
  EXPECT_EQ(full.low, band.low);
  EXPECT_EQ(full.high, band.high);
  const double sigma = std::log(band.high / allow);
  EXPECT_NEAR(std::log(allow / band.low), sigma, 1e-12);
  const auto& cov = ws.last.log_covariance;
  double l[3][3] = {};  // Cholesky factor of the moduli's covariance
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j <= i; ++j) {
      double v = cov[std::size_t(i)][std::size_t(j)];
      for (int k = 0; k < j; ++k) v -= l[i][k] * l[j][k];
      l[i][j] = i == j ? std::sqrt(v) : v / l[j][j];
    }
  std::mt19937_64 rng(7);
  std::normal_distribution<double> normal(0.0, 1.0);
  double s1 = 0, s2 = 0;
  const int draws = 200;
  for (int k = 0; k < draws; ++k) {
    const double z[3] = {normal(rng), normal(rng), normal(rng)};
    FitResult drawn = ws.last;
    for (int i = 0; i < 3; ++i) {
      double d = 0;
      for (int j = 0; j <= i; ++j) d += l[i][j] * z[j];
      drawn.moduli[std::size_t(i)] *= std::exp(d);
    }
    const double a = std::log(rate_fitted(ctx, blocks.view, drawn));
    s1 += a;
    s2 += a * a;
  }
  const double spread = std::sqrt((s2 - s1 * s1 / draws) / (draws - 1));
  std::printf("ln allowable load: band's sigma %.4f, spread over draws %.4f\n", sigma, spread);
  EXPECT_NEAR(sigma / spread, 1.0, 0.25);
}

}  // namespace
}  // namespace zalk::rating
