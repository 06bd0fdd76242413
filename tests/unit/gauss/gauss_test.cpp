// Gauss rules against references computed independently here: Newton's
// method on the Legendre polynomial in long double, closed-form moments of
// each weight, and the known small Radau and Lobatto rules.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "toolkit/errors.h"
#include "toolkit/gauss.h"

namespace zt = zalk::toolkit;

namespace {

constexpr double kEps = 2.220446049250313e-16;
constexpr long double kPiL = 3.141592653589793238462643383279502884L;

struct Rule {
  std::vector<double> x, w;
};

Rule make_rule(int n, int iweigh, double alpha = 0.0, double beta = 0.0, int nfix = 0,
               std::vector<double> fixed = {0.0, 0.0}) {
  Rule r{std::vector<double>(n), std::vector<double>(n)};
  zt::DGQRUL(n, iweigh, alpha, beta, nfix, fixed.data(), r.x.data(), r.w.data());
  return r;
}

long double apply(const Rule& r, const std::function<long double(long double)>& f) {
  long double s = 0.0L;
  for (std::size_t i = 0; i < r.x.size(); ++i) s += r.w[i] * f(r.x[i]);
  return s;
}

// Legendre P_n and its derivative at x by the three-term recurrence.
void legendre_value(int n, long double x, long double& p, long double& dp) {
  long double p0 = 1.0L, p1 = x;
  for (int k = 2; k <= n; ++k) {
    const long double p2 = ((2 * k - 1) * x * p1 - (k - 1) * p0) / k;
    p0 = p1;
    p1 = p2;
  }
  p = p1;
  dp = n * (x * p1 - p0) / (x * x - 1.0L);
}

// Nodes (ascending) and weights of the n-point Gauss-Legendre rule by Newton's method.
Rule legendre_reference(int n) {
  Rule r{std::vector<double>(n), std::vector<double>(n)};
  for (int i = 1; i <= n; ++i) {
    long double x = std::cos(kPiL * (i - 0.25L) / (n + 0.5L));
    long double p = 0, dp = 1;
    for (int it = 0; it < 100; ++it) {
      legendre_value(n, x, p, dp);
      const long double dx = p / dp;
      x -= dx;
      if (std::fabs(dx) < 1e-21L) break;
    }
    legendre_value(n, x, p, dp);
    r.x[n - i] = static_cast<double>(x);
    r.w[n - i] = static_cast<double>(2.0L / ((1.0L - x * x) * dp * dp));
  }
  return r;
}

double double_factorial_ratio(int k) {  // (2k-1)!! / (2k)!!
  long double r = 1.0L;
  for (int i = 1; i <= k; ++i) r *= (2.0L * i - 1.0L) / (2.0L * i);
  return static_cast<double>(r);
}

// Euler numbers |E_0|, |E_2|, ..., |E_2m| from sum_k C(2n,2k) E_2k = 0.
std::vector<long double> euler_numbers(int m) {
  std::vector<long double> e(m + 1);
  e[0] = 1.0L;
  for (int n = 1; n <= m; ++n) {
    long double s = 0.0L, binom = 1.0L;  // C(2n, 2k)
    for (int k = 0; k < n; ++k) {
      s += binom * e[k];
      binom = binom * (2 * n - 2 * k) * (2 * n - 2 * k - 1) / ((2 * k + 1) * (2 * k + 2));
    }
    e[n] = -s;
  }
  for (auto& v : e) v = std::fabs(v);
  return e;
}

// Integral of (x + shift)^m against a symmetric weight with even moments
// even_moment(k) = integral of x^(2k) w(x) dx. All terms are positive.
long double shifted_power_integral(int m, long double shift,
                                   const std::function<long double(int)>& even_moment) {
  long double s = 0.0L, binom = 1.0L;  // C(m, j)
  for (int j = 0; j <= m; ++j) {
    if (j % 2 == 0) s += binom * std::pow(shift, m - j) * even_moment(j / 2);
    binom = binom * (m - j) / (j + 1);
  }
  return s;
}

}  // namespace

TEST(GaussLegendre, FiftyPointsMatchNewtonReference) {
  const Rule r = make_rule(50, 1);
  const Rule ref = legendre_reference(50);
  double wsum = 0.0;
  for (int i = 0; i < 50; ++i) {
    // Eigenvalues of a matrix of norm about 1 are found to a few units of
    // eps absolutely. The weights are squared first eigenvector components,
    // and those carry an absolute (not relative) error of a few eps, so the
    // small outer weights are only good to about 1e-13 relatively
    // (measured: nodes 3.3 eps, weights 6.3 eps).
    EXPECT_NEAR(r.x[i], ref.x[i], 6 * kEps) << "node " << i;
    EXPECT_NEAR(r.w[i], ref.w[i], 10 * kEps) << "weight " << i;
    EXPECT_GT(r.w[i], 0.0);
    if (i > 0) {
      EXPECT_LT(r.x[i - 1], r.x[i]);
    }
    EXPECT_NEAR(r.x[i], -r.x[49 - i], 4 * kEps);
    wsum += r.w[i];
  }
  EXPECT_GT(r.x.front(), -1.0);
  EXPECT_LT(r.x.back(), 1.0);
  EXPECT_NEAR(wsum, 2.0, 8 * kEps);
  // x^98 has the largest degree the rule integrates exactly; the sum is
  // dominated by the outer nodes, where x^98 magnifies node errors 98 times.
  EXPECT_NEAR(static_cast<double>(apply(r, [](long double x) { return std::pow(x, 98); })),
              2.0 / 99.0, 200 * kEps * 2.0 / 99.0);
}

TEST(GaussLegendre, OnePointRuleIsMidpoint) {
  const Rule r = make_rule(1, 1);
  EXPECT_EQ(r.x[0], 0.0);
  EXPECT_EQ(r.w[0], 2.0);
}

TEST(GaussLegendre, WorkAreaVariantAgreesAndGivesOddRulesAZeroNode) {
  std::vector<double> x(7), w(7), wk(14);
  const double fixed[2] = {0.0, 0.0};
  zt::DG2RUL(7, 1, 0.0, 0.0, 0, fixed, x.data(), w.data(), wk.data());
  const Rule ref = legendre_reference(7);
  for (int i = 0; i < 7; ++i) {
    EXPECT_NEAR(x[i], ref.x[i], 4 * kEps);
    EXPECT_NEAR(w[i], ref.w[i], 16 * kEps);
  }
  EXPECT_NEAR(x[3], 0.0, 2 * kEps);
}

// For the symmetric weights: the weights sum to mu0 and (x + 0.3)^(2N-1),
// which has every monomial up to degree 2N-1, is integrated exactly.
struct SymmetricCase {
  const char* name;
  int iweigh;
  long double mu0;
  std::function<long double(int)> even_moment;
};

TEST(GaussOtherWeights, SymmetricWeightsIntegrateDegree2NMinus1) {
  const auto euler = euler_numbers(12);
  const std::vector<SymmetricCase> cases = {
      {"Chebyshev 1", 2, kPiL, [](int k) { return kPiL * double_factorial_ratio(k); }},
      {"Chebyshev 2", 3, kPiL / 2,
       [](int k) { return kPiL * double_factorial_ratio(k) / (2.0L * k + 2.0L); }},
      {"Hermite", 4, std::sqrt(kPiL), [](int k) { return std::tgamma(k + 0.5L); }},
      {"sech", 7, kPiL,
       [&euler](int k) { return 2.0L * std::pow(kPiL / 2, 2 * k + 1) * euler[k]; }},
  };
  for (const auto& c : cases) {
    for (int n : {1, 2, 5, 10}) {
      const Rule r = make_rule(n, c.iweigh);
      // Sums of n positive terms, each correct to a few eps relative.
      EXPECT_NEAR(static_cast<double>(apply(r, [](long double) { return 1.0L; })),
                  static_cast<double>(c.mu0), 16 * n * kEps * static_cast<double>(c.mu0))
          << c.name << " N=" << n;
      const int m = 2 * n - 1;
      const long double exact = shifted_power_integral(m, 0.3L, c.even_moment);
      const long double got = apply(r, [m](long double x) { return std::pow(x + 0.3L, m); });
      // Node errors of a few eps are magnified by the degree m.
      EXPECT_NEAR(static_cast<double>(got / exact), 1.0, 64 * (m + 1) * kEps)
          << c.name << " N=" << n;
    }
  }
}

TEST(GaussOtherWeights, JacobiIntegratesDegree2NMinus1) {
  // integral over (-1,1) of ((1+x)/2)^j (1-x)^a (1+x)^b = 2^(a+b+1) B(b+j+1, a+1).
  for (auto [a, b] : {std::pair{0.5, -0.5}, std::pair{-0.7, 2.25}, std::pair{3.0, 0.0}}) {
    for (int n : {1, 4, 9}) {
      const Rule r = make_rule(n, 5, a, b);
      auto exact = [a = a, b = b](int j) {
        return std::exp2l(a + b + 1) * std::tgamma(b + j + 1.0L) * std::tgamma(a + 1.0L) /
               std::tgamma(a + b + j + 2.0L);
      };
      for (int j : {0, 2 * n - 1}) {
        const long double got =
            apply(r, [j](long double x) { return std::pow((1.0L + x) / 2.0L, j); });
        EXPECT_NEAR(static_cast<double>(got / exact(j)), 1.0, 64 * (j + 1) * kEps)
            << "a=" << a << " b=" << b << " N=" << n << " j=" << j;
      }
    }
  }
}

TEST(GaussOtherWeights, LaguerreIntegratesDegree2NMinus1) {
  // integral over (0,inf) of x^j x^a exp(-x) = Gamma(a + j + 1).
  for (double a : {0.0, -0.5, 1.75}) {
    for (int n : {1, 3, 8}) {
      const Rule r = make_rule(n, 6, a);
      for (int j : {0, 1, 2 * n - 1}) {
        const long double got = apply(r, [j](long double x) { return std::pow(x, j); });
        EXPECT_NEAR(static_cast<double>(got / std::tgamma(a + j + 1.0L)), 1.0, 128 * (j + 1) * kEps)
            << "a=" << a << " N=" << n << " j=" << j;
      }
      for (std::size_t i = 1; i < r.x.size(); ++i) EXPECT_LT(r.x[i - 1], r.x[i]);
      EXPECT_GT(r.x[0], 0.0);
    }
  }
}

TEST(GaussFixedNodes, SmallRadauAndLobattoRulesMatchClosedForms) {
  // Radau N=2 at -1: nodes -1, 1/3, weights 1/2, 3/2.
  const Rule radau = make_rule(2, 1, 0, 0, 1, {-1.0, 0.0});
  EXPECT_NEAR(radau.x[0], -1.0, 4 * kEps);
  EXPECT_NEAR(radau.x[1], 1.0 / 3.0, 4 * kEps);
  EXPECT_NEAR(radau.w[0], 0.5, 4 * kEps);
  EXPECT_NEAR(radau.w[1], 1.5, 4 * kEps);
  // Lobatto N=3: nodes -1, 0, 1, weights 1/3, 4/3, 1/3.
  const Rule lob = make_rule(3, 1, 0, 0, 2, {1.0, -1.0});
  const double xs[3] = {-1.0, 0.0, 1.0}, ws[3] = {1.0 / 3, 4.0 / 3, 1.0 / 3};
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(lob.x[i], xs[i], 4 * kEps);
    EXPECT_NEAR(lob.w[i], ws[i], 4 * kEps);
  }
}

TEST(GaussFixedNodes, RadauAndLobattoContainFixedNodesAndKeepTheirDegree) {
  // Legendre, Jacobi and Chebyshev weights, with fixed points at and beyond the ends.
  struct Case {
    int iweigh;
    double a, b;
    int nfix;
    std::vector<double> fixed;
  };
  const std::vector<Case> cases = {{1, 0, 0, 1, {1.0, 0}},    {1, 0, 0, 2, {-1.0, 1.0}},
                                   {5, 0.5, 1.5, 1, {-1.0, 0}}, {5, 0.5, 1.5, 2, {-1.0, 1.0}},
                                   {2, 0, 0, 2, {-1.0, 1.0}},  {1, 0, 0, 2, {-1.0, 2.0}}};
  for (const auto& c : cases) {
    for (int n : {3, 6, 11}) {
      const Rule r = make_rule(n, c.iweigh, c.a, c.b, c.nfix, c.fixed);
      for (int f = 0; f < c.nfix; ++f) {
        double closest = 1e300;
        for (double x : r.x) closest = std::min(closest, std::fabs(x - c.fixed[f]));
        EXPECT_LT(closest, 16 * kEps) << "fixed node " << c.fixed[f] << " N=" << n;
      }
      const int deg = 2 * n - 1 - c.nfix;
      // Reference moment of ((1+x)/2)^deg: 2^(a+b+1) B(b+deg+1, a+1) for the
      // Jacobi family (Legendre a=b=0); Chebyshev T is Jacobi with a=b=-1/2.
      const long double a = c.iweigh == 2 ? -0.5L : c.a, b = c.iweigh == 2 ? -0.5L : c.b;
      const long double exact = std::exp2l(a + b + 1) * std::tgamma(b + deg + 1.0L) *
                                std::tgamma(a + 1.0L) / std::tgamma(a + b + deg + 2.0L);
      const long double got =
          apply(r, [deg](long double x) { return std::pow((1.0L + x) / 2.0L, deg); });
      EXPECT_NEAR(static_cast<double>(got / exact), 1.0, 64 * (deg + 1) * kEps)
          << "weight " << c.iweigh << " nfix " << c.nfix << " N=" << n;
    }
  }
}

namespace {

struct Recorder {
  std::vector<zt::ErrorEvent> events;
  zt::ScopedErrorHandler guard{[this](const zt::ErrorEvent& e) { events.push_back(e); }};
};

// Runs a call that must fail, returns the one recorded event.
zt::ErrorEvent expect_severe(const std::function<void()>& call) {
  Recorder rec;
  EXPECT_THROW(call(), zt::SevereError);
  EXPECT_EQ(rec.events.size(), 1u);
  EXPECT_EQ(zt::name_stack_depth(), 0);
  return rec.events.empty() ? zt::ErrorEvent{} : rec.events[0];
}

}  // namespace

TEST(GaussChecks, InvalidArgumentsAreRejectedWithTheirMessages) {
  std::vector<double> x(4), w(4);
  auto rule = [&](int n, int iw, double a, double b, int nfix, std::vector<double> fixed) {
    return expect_severe(
        [&] { zt::DGQRUL(n, iw, a, b, nfix, fixed.data(), x.data(), w.data()); });
  };
  auto e = rule(4, 1, 0, 0, 3, {0, 0});
  EXPECT_EQ(e.type, 5);
  EXPECT_EQ(e.routine, "DG2RUL");
  EXPECT_EQ(e.message, "The number of fixed quadrature points NFIX = 3.  It must be 0, 1 or 2.");
  e = rule(2, 1, 0, 0, 2, {-1, 1});
  EXPECT_EQ(e.message,
            "The number of fixed quadrature points NFIX = 2 must be less than the number of "
            "quadrature points N = 2.");
  e = rule(4, 8, 0, 0, 0, {0, 0});
  EXPECT_EQ(e.routine, "DRECCF");
  EXPECT_EQ(e.message, "The weight function selector IWEIGH = 8.  It must be in the range 1 to 7.");
  e = rule(4, 5, -1.0, 0.5, 0, {0, 0});
  EXPECT_EQ(e.message,
            "The Jacobi weight parameters must be greater than -1, while ALPHA = -1 and BETA = "
            "0.5 are given.");
  e = rule(4, 5, 0.0, std::nan(""), 0, {0, 0});
  EXPECT_EQ(e.code, 3);
  e = rule(4, 6, -2.5, 0, 0, {0, 0});
  EXPECT_EQ(e.message,
            "The generalized Laguerre weight parameter must be greater than -1, while ALPHA = "
            "-2.5 is given.");
  e = rule(4, 1, 0, 0, 2, {-1.0, 0.5});
  EXPECT_EQ(e.message,
            "The fixed quadrature point QXFIX(2) = 0.5 lies inside (-1,1).  Fixed points must not "
            "be inside this interval.");
  e = rule(4, 1, 0, 0, 2, {1.0, 2.0});
  EXPECT_EQ(e.routine, "DG2RCF");
  EXPECT_EQ(e.message,
            "No rule with real nodes has the fixed quadrature points QXFIX(1) = 1 and QXFIX(2) = 2.");
  e = rule(4, 1, 0, 0, 2, {1.0, 1.0});
  EXPECT_EQ(e.message, "The fixed quadrature points must be distinct, but QXFIX(1) = QXFIX(2) = 1.");

  // Values that are not finite numbers are named as such, not as points
  // inside (-1,1) or as recurrence coefficients that came out NaN.
  e = rule(4, 1, 0, 0, 1, {std::nan(""), 0});
  EXPECT_EQ(e.code, 10);
  EXPECT_EQ(e.message, "The fixed quadrature point QXFIX(1) = NaN is not a finite number.");
  e = rule(4, 1, 0, 0, 2, {-1.0, -HUGE_VAL});
  EXPECT_EQ(e.message, "The fixed quadrature point QXFIX(2) = -Infinity is not a finite number.");
  e = rule(4, 5, HUGE_VAL, 0.5, 0, {0, 0});
  EXPECT_EQ(e.routine, "DRECCF");
  EXPECT_EQ(e.message, "The weight parameter ALPHA = Infinity is not a finite number.");
  e = rule(4, 5, 0.5, 1e300, 0, {0, 0});
  EXPECT_EQ(e.code, 6);
  EXPECT_EQ(e.message,
            "The recurrence coefficient C(1) = Infinity cannot be computed in 8-byte arithmetic: the "
            "Jacobi weight parameters ALPHA = 0.5 and BETA = 1e+300 are too large.");
  e = rule(4, 6, 200.0, 0, 0, {0, 0});
  EXPECT_EQ(e.message,
            "The recurrence coefficient C(1) = Infinity cannot be computed in 8-byte arithmetic: "
            "the generalized Laguerre weight parameter ALPHA = 200 is too large.");

  // Coefficients handed to DG2RCF directly must give a real symmetric matrix.
  std::vector<double> B = {0, 0, 0}, C = {2, 0.25, -0.1}, wk(3);
  const double fixed[2] = {0, 0};
  e = expect_severe([&] { zt::DG2RCF(3, B.data(), C.data(), 0, fixed, x.data(), w.data(), wk.data()); });
  EXPECT_EQ(e.message, "The recurrence coefficient C(3) = -0.1.  It must be positive and finite.");
}

TEST(GaussChecksDeathTest, ZeroPointsEndsTheProcessWithItsMessage) {
  std::vector<double> x(1), w(1);
  const double fixed[2] = {0, 0};
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(2, 1);
        zt::DGQRUL(0, 1, 0.0, 0.0, 0, fixed, x.data(), w.data());
      },
      ::testing::ExitedWithCode(5),
      ::testing::HasSubstr("\n *** TERMINAL ERROR 1 from DGQRUL.  The number of quadrature "
                           "points N = 0.  It\n ***          must be at least 1.\n"
                           "Stop - Program terminated.\n"));
}
