// The DSPLEZ kinds 1..3 and 9..15: interpolation, reproduction of the
// polynomials each space holds, shape preservation, smoothing, least
// squares with and without knot optimisation, and derivatives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "toolkit/splez.h"
#include "toolkit/splez_kinds.h"

namespace {

using Vec = std::vector<double>;
using zalk::toolkit::detail::splez_other_kind;

Vec fit(const Vec& x, const Vec& f, int kind, int ider, const Vec& xv) {
  Vec v(xv.size());
  splez_other_kind(static_cast<int>(x.size()), x.data(), f.data(), kind, ider,
                   static_cast<int>(xv.size()), xv.data(), v.data());
  return v;
}

Vec sample(const Vec& x, const std::function<double(double)>& fn) {
  Vec f(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) f[i] = fn(x[i]);
  return f;
}

Vec grid(double a, double b, int n) {
  Vec v(n);
  for (int i = 0; i < n; ++i) v[i] = a + (b - a) * i / (n - 1);
  return v;
}

// Unevenly spaced abscissas on [0, 3].
const Vec kUneven = {0.0, 0.15, 0.5, 0.6, 1.1, 1.7, 1.8, 2.3, 2.9, 3.0};

double rss_at_data(const Vec& x, const Vec& f, int kind) {
  const Vec g = fit(x, f, kind, 0, x);
  double s = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) s += (g[i] - f[i]) * (g[i] - f[i]);
  return s;
}

}  // namespace

TEST(SplezInterpolants, PassThroughTheData) {
  const Vec f = sample(kUneven, [](double x) { return std::sin(2.0 * x) + 0.3 * x * x; });
  for (int kind : {1, 2, 3}) {
    const Vec g = fit(kUneven, f, kind, 0, kUneven);
    // Interpolation conditions hold up to the rounding of the piece sums.
    for (std::size_t i = 0; i < f.size(); ++i) EXPECT_NEAR(g[i], f[i], 1e-14) << "kind " << kind << " i " << i;
  }
}

TEST(SplezInterpolants, NotAKnotCubicReproducesCubicsWithDerivatives) {
  auto p = [](double x) { return 1.0 - 2.0 * x + 0.5 * x * x - 0.75 * x * x * x; };
  auto p1 = [](double x) { return -2.0 + x - 2.25 * x * x; };
  auto p2 = [](double x) { return 1.0 - 4.5 * x; };
  const Vec xv = {-0.5, 0.05, 0.55, 1.234, 2.0, 2.95, 3.6};  // inside and outside the data
  for (int n : {4, 5, 10}) {
    const Vec x(kUneven.begin(), kUneven.begin() + n);
    const Vec f = sample(x, p);
    const Vec v0 = fit(x, f, 1, 0, xv), v1 = fit(x, f, 1, 1, xv), v2 = fit(x, f, 1, 2, xv),
              v3 = fit(x, f, 1, 3, xv), v4 = fit(x, f, 1, 4, xv);
    for (std::size_t i = 0; i < xv.size(); ++i) {
      // Values of size 10..40 with a few roundings in the slope system.
      EXPECT_NEAR(v0[i], p(xv[i]), 1e-12) << "n " << n << " x " << xv[i];
      EXPECT_NEAR(v1[i], p1(xv[i]), 1e-11);
      EXPECT_NEAR(v2[i], p2(xv[i]), 1e-10);
      EXPECT_NEAR(v3[i], -4.5, 1e-9);
      EXPECT_EQ(v4[i], 0.0);
    }
  }
  // Two points give the line, three the parabola.
  const Vec x2 = {1.0, 3.0}, x3 = {0.0, 0.4, 2.0};
  auto q = [](double x) { return 2.0 - x + 3.0 * x * x; };
  EXPECT_NEAR(fit(x2, {5.0, 9.0}, 1, 0, {0.0})[0], 3.0, 1e-14);
  EXPECT_NEAR(fit(x3, sample(x3, q), 1, 0, {-1.0})[0], q(-1.0), 1e-13);
  EXPECT_NEAR(fit(x3, sample(x3, q), 1, 2, {5.0})[0], 6.0, 1e-12);
}

TEST(SplezInterpolants, AkimaReproducesLinesAndUniformQuadratics) {
  const Vec line = sample(kUneven, [](double x) { return 4.0 - 1.5 * x; });
  const Vec xv = grid(-0.2, 3.2, 41);
  const Vec g = fit(kUneven, line, 2, 0, xv);
  for (std::size_t i = 0; i < xv.size(); ++i) EXPECT_NEAR(g[i], 4.0 - 1.5 * xv[i], 1e-13);
  // On equally spaced data the weights balance and the slopes are exact for a quadratic.
  const Vec x = grid(0.0, 2.0, 9);
  const Vec f = sample(x, [](double t) { return t * t - t; });
  const Vec q = fit(x, f, 2, 0, xv);
  for (std::size_t i = 0; i < xv.size(); ++i) EXPECT_NEAR(q[i], xv[i] * xv[i] - xv[i], 1e-12);
}

TEST(SplezInterpolants, AkimaScalesWithDataNearTheTopOfTheRange) {
  // Akima's cubic is homogeneous in the data: values scaled by 1e200 give
  // the scaled fit, although the plain weighted mean of its slopes overflows.
  const Vec f = {0.0, 1.0, -2.0, 0.5, 3.0, 1.0};
  Vec big(f.size());
  for (std::size_t i = 0; i < f.size(); ++i) big[i] = 1e200 * f[i];
  const Vec x(kUneven.begin(), kUneven.begin() + 6);
  const Vec xv = grid(-0.2, 1.9, 31);
  const Vec g = fit(x, f, 2, 0, xv);
  const Vec gb = fit(x, big, 2, 0, xv);
  for (std::size_t i = 0; i < xv.size(); ++i) {
    EXPECT_NEAR(gb[i] / 1e200, g[i], 1e-13 * (1.0 + std::fabs(g[i]))) << xv[i];
  }
}

TEST(SplezShapePreserving, MonotoneDataStayMonotoneWherePlainCubicOvershoots) {
  // A steep step: the not-a-knot cubic overshoots above 1 and below 0.
  const Vec x = {0.0, 1.0, 2.0, 3.0, 3.2, 4.0, 5.0, 6.0};
  const Vec f = {0.0, 0.0, 0.01, 0.05, 0.95, 0.99, 1.0, 1.0};
  const Vec xv = grid(0.0, 6.0, 601);
  const Vec plain = fit(x, f, 1, 0, xv);
  EXPECT_GT(*std::max_element(plain.begin(), plain.end()), 1.01);
  const Vec shaped = fit(x, f, 3, 0, xv);
  const Vec slope = fit(x, f, 3, 1, xv);
  for (std::size_t i = 0; i < xv.size(); ++i) {
    EXPECT_GE(slope[i], -1e-15) << xv[i];
    if (i > 0) {
      EXPECT_GE(shaped[i], shaped[i - 1] - 1e-15) << xv[i];
    }
    EXPECT_GE(shaped[i], -1e-15);
    EXPECT_LE(shaped[i], 1.0 + 1e-15);
  }
}

TEST(SplezShapePreserving, ConvexDataStayConvexAndLinesAreKept) {
  // Strictly convex data with a sharp bend, where Hermite cubics with local
  // slopes would change curvature.
  const Vec x = {0.0, 0.5, 0.9, 1.0, 1.1, 2.0, 4.0};
  const Vec f = {3.0, 1.6, 0.5, 0.3, 0.25, 0.2, 0.5};
  const Vec xv = grid(0.0, 4.0, 801);
  const Vec curv = fit(x, f, 3, 2, xv);
  const Vec v = fit(x, f, 3, 0, xv);
  for (std::size_t i = 0; i < xv.size(); ++i) {
    EXPECT_GE(curv[i], -1e-12) << xv[i];
    if (i > 0 && i + 1 < xv.size()) {
      EXPECT_GE(v[i - 1] + v[i + 1] - 2.0 * v[i], -1e-14) << xv[i];
    }
  }
  const Vec plain_curv = fit(x, f, 1, 2, xv);
  EXPECT_LT(*std::min_element(plain_curv.begin(), plain_curv.end()), -0.01);
  // Collinear data give the line itself.
  const Vec l = fit(kUneven, sample(kUneven, [](double t) { return 2.0 * t - 1.0; }), 3, 0, xv);
  for (std::size_t i = 0; i < xv.size(); ++i) EXPECT_NEAR(l[i], 2.0 * xv[i] - 1.0, 1e-13);
}

TEST(SplezSmoothing, ExactDataGiveNearlyTheInterpolantAndLinesExactly) {
  // sin(2t) on [0, pi] has f'' = 0 at both ends, as the natural spline does.
  const double pi = std::acos(-1.0);
  const Vec x = grid(0.0, pi, 25);
  const Vec f = sample(x, [](double t) { return std::sin(2.0 * t); });
  const Vec xv = grid(0.0, pi, 121);
  const Vec s = fit(x, f, 9, 0, xv), c = fit(x, f, 9, 0, x);
  double worst = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) worst = std::max(worst, std::fabs(c[i] - f[i]));
  // Without noise cross-validation picks almost no smoothing: the fit stays
  // within the interpolation error of a cubic on this grid (5/384 h^4 |f''''|
  // is about 6e-5 for h = pi/24).
  EXPECT_LT(worst, 1e-4);
  for (std::size_t i = 0; i < xv.size(); ++i) EXPECT_NEAR(s[i], std::sin(2.0 * xv[i]), 2e-4);
  const Vec lin = fit(x, sample(x, [](double t) { return 0.5 - t; }), 9, 0, xv);
  for (std::size_t i = 0; i < xv.size(); ++i) EXPECT_NEAR(lin[i], 0.5 - xv[i], 1e-12);
}

TEST(SplezSmoothing, NoisyDataAreFittedBetterThanByTheInterpolant) {
  const unsigned seed = 20261207u;
  std::printf("noise seed %u\n", seed);
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 0.05);
  const Vec x = grid(0.0, 3.0, 60);
  auto truth = [](double t) { return std::sin(2.0 * t) + 0.5 * t; };
  Vec f = sample(x, truth);
  for (double& v : f) v += noise(rng);
  const Vec xv = grid(0.0, 3.0, 301);
  const Vec smooth = fit(x, f, 9, 0, xv), interp = fit(x, f, 1, 0, xv);
  double err_s = 0.0, err_i = 0.0;
  for (std::size_t i = 0; i < xv.size(); ++i) {
    err_s += std::pow(smooth[i] - truth(xv[i]), 2);
    err_i += std::pow(interp[i] - truth(xv[i]), 2);
  }
  // With 60 points and noise 0.05 the interpolant carries the full noise,
  // a well-chosen smoother removes most of it.
  EXPECT_LT(err_s, 0.5 * err_i);
}

TEST(SplezLeastSquares, PolynomialsOfTheSpaceAreReproduced) {
  const Vec xv = {-0.3, 0.0, 0.37, 1.05, 1.9, 2.99, 3.0, 3.4};
  const Vec coef = {0.7, -1.2, 0.4, -0.25};  // of 1, x, x^2, x^3
  for (int kind : {10, 11, 12, 13, 14, 15}) {
    const int order = kind <= 12 ? kind - 8 : kind - 11;
    auto p = [&](double t) {
      double v = 0.0;
      for (int j = order - 1; j >= 0; --j) v = v * t + coef[j];
      return v;
    };
    const Vec f = sample(kUneven, p);
    const Vec g = fit(kUneven, f, kind, 0, xv);
    const Vec d = fit(kUneven, f, kind, 1, xv);
    for (std::size_t i = 0; i < xv.size(); ++i) {
      // The data lie in the spline space: the least-squares fit is exact up
      // to the rounding of the banded QR (condition of the basis is modest).
      EXPECT_NEAR(g[i], p(xv[i]), 1e-11) << "kind " << kind << " x " << xv[i];
      double dp = 0.0;
      for (int j = order - 1; j >= 1; --j) dp = dp * xv[i] + j * coef[j];
      EXPECT_NEAR(d[i], dp, 1e-9) << "kind " << kind << " x " << xv[i];
    }
    EXPECT_EQ(fit(kUneven, f, kind, order, {1.3})[0], 0.0);
  }
}

TEST(SplezLeastSquares, KnotOptimisationLowersTheResidual) {
  // A kink between the default knots: moving a knot onto it pays off.
  const Vec x = grid(0.0, 1.0, 41);
  const Vec f = sample(x, [](double t) { return std::fabs(t - 0.318) + 0.2 * t; });
  for (int order : {2, 3, 4}) {
    const double fixed = rss_at_data(x, f, order + 8), moved = rss_at_data(x, f, order + 11);
    EXPECT_LT(moved, 0.7 * fixed) << "order " << order;
  }
}

TEST(SplezDerivatives, AgreeWithFiniteDifferences) {
  const Vec f = sample(kUneven, [](double x) { return std::exp(-x) * std::cos(3.0 * x); });
  const Vec xv = {0.07, 0.33, 0.81, 1.25, 1.77, 2.41, 2.83};
  const double h = 1e-6;
  Vec xp(xv), xm(xv);
  for (std::size_t i = 0; i < xv.size(); ++i) xp[i] += h, xm[i] -= h;
  // Kinds with a continuous first derivative (C2 for 1, 9, 12 and 15).
  for (int kind : {1, 2, 3, 9, 11, 12, 14, 15}) {
    const Vec d = fit(kUneven, f, kind, 1, xv);
    const Vec vp = fit(kUneven, f, kind, 0, xp), vm = fit(kUneven, f, kind, 0, xm);
    const bool c2 = kind == 1 || kind == 9 || kind == 12 || kind == 15;
    const Vec d2 = fit(kUneven, f, kind, 2, xv);
    const Vec dp = fit(kUneven, f, kind, 1, xp), dm = fit(kUneven, f, kind, 1, xm);
    for (std::size_t i = 0; i < xv.size(); ++i) {
      // Central differences: truncation ~h^2 f''' plus rounding ~1e-16 / h.
      EXPECT_NEAR(d[i], (vp[i] - vm[i]) / (2 * h), 1e-8) << "kind " << kind << " x " << xv[i];
      if (c2) {
        EXPECT_NEAR(d2[i], (dp[i] - dm[i]) / (2 * h), 1e-7) << "kind " << kind << " x " << xv[i];
      }
    }
  }
}

TEST(SplezThroughDsplez, UnsortedInputGivesTheDirectResultInTheCallersOrder) {
  const Vec xs = {0.0, 0.4, 1.0, 1.3, 2.2, 2.5, 3.1};
  const Vec fs = sample(xs, [](double x) { return std::cos(x) + x; });
  const std::vector<int> perm = {3, 0, 6, 2, 5, 1, 4};
  Vec xd, fd;
  for (int p : perm) xd.push_back(xs[p]), fd.push_back(fs[p]);
  const Vec xv_sorted = {-0.1, 0.5, 1.7, 2.9};
  const Vec xv = {1.7, -0.1, 2.9, 0.5};
  for (int kind : {1, 2, 3, 9, 10, 11, 12, 13, 14, 15}) {
    const Vec direct = fit(xs, fs, kind, 1, xv_sorted);
    Vec v(xv.size());
    zalk::toolkit::DSPLEZ(static_cast<int>(xd.size()), xd.data(), fd.data(), kind, 1,
                          static_cast<int>(xv.size()), xv.data(), v.data());
    EXPECT_EQ(v[0], direct[2]) << "kind " << kind;
    EXPECT_EQ(v[1], direct[0]) << "kind " << kind;
    EXPECT_EQ(v[2], direct[3]) << "kind " << kind;
    EXPECT_EQ(v[3], direct[1]) << "kind " << kind;
  }
}

TEST(SplezThroughDsplez, NotAKnotCubicAgreesWithTheOrderFourBsplineInterpolant) {
  // Kind 6 builds the same not-a-knot cubic from B-splines and a banded
  // collocation solve: a second, independent construction.
  const Vec f = sample(kUneven, [](double x) { return std::exp(-x) * std::cos(3.0 * x); });
  const Vec xv = grid(-0.3, 3.3, 37);
  for (int ider : {0, 1, 2}) {
    Vec a(xv.size()), b(xv.size());
    for (auto [kind, out] : {std::pair{1, &a}, std::pair{6, &b}}) {
      zalk::toolkit::DSPLEZ(static_cast<int>(kUneven.size()), kUneven.data(), f.data(), kind, ider,
                            static_cast<int>(xv.size()), xv.data(), out->data());
    }
    // Both solve well-conditioned systems of size 10; values are O(1),
    // second derivatives O(10).
    for (std::size_t i = 0; i < xv.size(); ++i) EXPECT_NEAR(a[i], b[i], 1e-12 * std::pow(10.0, ider)) << xv[i];
  }
}
