// One-call spline fitting: the B-spline interpolant kinds 4..8 and the
// argument checks of every kind.
#include "toolkit/splez.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <numbers>
#include <numeric>
#include <random>
#include <vector>

#include "unit/bspline/recorder.h"
#include "unit/bspline/truncated_power.h"

namespace zalk::toolkit {
namespace {

using testing_support::ErrorRecorder;

std::vector<double> fit(const std::vector<double>& x, const std::vector<double>& f, int itype,
                        int ider, const std::vector<double>& xv) {
  std::vector<double> v(xv.size(), -999.0);
  DSPLEZ(int(x.size()), x.data(), f.data(), itype, ider, int(xv.size()), xv.data(), v.data());
  return v;
}

// Polynomial with coefficients c (lowest first) and its derivatives.
double poly(const std::vector<double>& c, int ider, double x) {
  double s = 0.0;
  for (int j = int(c.size()) - 1; j >= ider; --j) {
    double fall = 1.0;
    for (int m = 0; m < ider; ++m) fall *= j - m;
    s = s * x + c[j] * fall;
  }
  return s;
}

TEST(DsplezQuadratic, ThreePointsReproduceTheQuadraticInsideAndOutside) {
  const std::vector<double> c = {1.25, -0.75, 0.5};
  const std::vector<double> x = {0.5, 1.0, 2.5};
  std::vector<double> f;
  for (double xi : x) f.push_back(poly(c, 0, xi));
  const std::vector<double> xv = {-3.0, 0.5, 0.8, 1.9, 2.5, 2.6, 7.0};
  for (int ider = 0; ider <= 3; ++ider) {
    const auto v = fit(x, f, 5, ider, xv);
    for (std::size_t i = 0; i < xv.size(); ++i) {
      // Rounding of the solve, amplified by (x - 0.5)^2 far outside the data.
      EXPECT_NEAR(v[i], poly(c, ider, xv[i]), 1e-13 * (1.0 + xv[i] * xv[i])) << ider << " " << xv[i];
    }
  }
}

TEST(DsplezQuadratic, OrderOfDataAndPointsDoesNotChangeTheResult) {
  const std::vector<double> x = {0.0, 0.3, 1.1, 1.5, 2.4, 3.0, 4.2};
  std::vector<double> f;
  for (double xi : x) f.push_back(std::cos(xi) + 0.1 * xi);
  const std::vector<double> xv = {-0.5, 0.2, 1.3, 2.0, 3.9, 5.0};
  const auto ascending = fit(x, f, 5, 0, xv);
  const std::vector<double> xd(x.rbegin(), x.rend()), fd(f.rbegin(), f.rend());
  EXPECT_EQ(fit(xd, fd, 5, 0, xv), ascending);  // identical sorted problems: identical bits
  // Shuffled points: each value still belongs to its own point.
  const std::vector<double> xs = {3.9, -0.5, 5.0, 1.3, 0.2, 2.0};
  const auto shuffled = fit(x, f, 5, 0, xs);
  const int from[] = {4, 0, 5, 2, 1, 3};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(shuffled[i], ascending[from[i]]);
}

TEST(DsplezQuadratic, DataPointsReproducedAndSmoothFunctionsApproximated) {
  std::vector<double> x, f;
  for (int i = 0; i < 30; ++i) {
    x.push_back(std::numbers::pi * i / 29.0);
    f.push_back(std::sin(x.back()));
  }
  const auto at_data = fit(x, f, 5, 0, x);
  for (int i = 0; i < 30; ++i) EXPECT_NEAR(at_data[i], f[i], 1e-15);
  std::vector<double> xv;
  for (int i = 0; i < 50; ++i) xv.push_back(std::numbers::pi * (i + 0.5) / 50.0);
  const auto v = fit(x, f, 5, 0, xv);
  // Quadratic spline error is O(h^3 max|f'''|), h = pi/29: about 1.3e-3 times a
  // small constant.
  for (int i = 0; i < 50; ++i) EXPECT_NEAR(v[i], std::sin(xv[i]), 2e-4) << xv[i];
}

TEST(DsplezQuadratic, ReusedFactorsGiveTheSameBitsAndNoticeChangedAbscissas) {
  std::vector<double> x = {0.0, 0.4, 1.0, 1.7, 2.5, 3.0};
  const std::vector<double> f1 = {1, 3, 2, 5, 4, 6}, f2 = {0.5, -1, 2, 0, 1, 3};
  const std::vector<double> xv = {-1.0, 0.2, 1.1, 2.9, 4.0};
  fit(x, f1, 5, 0, xv);
  const auto reused = fit(x, f2, 5, 0, xv);  // same abscissas as the call before
  fit({0.0, 1.0, 2.0}, {1, 2, 3}, 5, 0, xv);
  EXPECT_EQ(fit(x, f2, 5, 0, xv), reused);  // built afresh
  // A change of one abscissa only, data from a quadratic: the new fit must
  // reproduce it, which factors of the old abscissas would not.
  x[3] = 1.6;
  std::vector<double> q;
  for (double xi : x) q.push_back(xi * xi - 2.0 * xi);
  fit(x, f1, 5, 0, xv);
  const auto v = fit(x, q, 5, 1, xv);
  for (std::size_t i = 0; i < xv.size(); ++i) EXPECT_NEAR(v[i], 2.0 * xv[i] - 2.0, 1e-12);
}

TEST(DsplezKinds, BsplineKindsReproducePolynomialsOfTheirDegreeAndDerivatives) {
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int itype = 4; itype <= 8; ++itype) {
    const int degree = itype - 3;
    std::vector<double> c(degree + 1);
    for (auto& ci : c) ci = u(gen);
    std::vector<double> x;
    double xi = -2.0;
    for (int i = 0; i < 12; ++i) {
      x.push_back(xi);
      xi += 0.3 + 0.4 * std::abs(u(gen));  // uneven spacing
    }
    std::vector<double> f;
    for (double v : x) f.push_back(poly(c, 0, v));
    std::vector<double> xv;
    for (int i = 0; i < 25; ++i) xv.push_back(-2.5 + i * (x.back() - x.front() + 1.0) / 24.0);
    for (int ider = 0; ider <= degree + 1; ++ider) {
      const auto v = fit(x, f, itype, ider, xv);
      for (std::size_t i = 0; i < xv.size(); ++i) {
        // Values of size ~10: 1e-11 allows the conditioning of order-6 collocation.
        EXPECT_NEAR(v[i], poly(c, ider, xv[i]), 1e-11 * std::pow(10.0, ider))
            << "kind " << itype << " ider " << ider << " x " << xv[i];
      }
    }
  }
}

TEST(DsplezKinds, BsplineKindsMatchAnIndependentConstructionOnSmoothData) {
  const std::vector<double> x = {0.0, 0.35, 1.0, 1.2, 2.0, 2.9, 3.1, 4.0, 4.6, 5.0};
  std::vector<double> f;
  for (double xi : x) f.push_back(std::exp(std::sin(xi)));
  std::vector<double> xv;
  for (int i = 0; i < 40; ++i) xv.push_back(-0.7 + 6.4 * i / 39.0);  // beyond both ends too
  for (int itype = 4; itype <= 8; ++itype) {
    const testing_support::TruncatedPowerSpline ref(x, f, itype - 2);
    for (int ider = 0; ider <= 2; ++ider) {
      const auto v = fit(x, f, itype, ider, xv);
      for (std::size_t i = 0; i < xv.size(); ++i) {
        // Observed agreement: 2e-11 relative at order 6, from the
        // reference's dense solve in powers up to x^5; far better at low order.
        EXPECT_NEAR(v[i], ref(xv[i], ider), 1e-10 * (1.0 + std::abs(ref(xv[i], ider))))
            << "kind " << itype << " ider " << ider << " x " << xv[i];
      }
    }
  }
}

TEST(DsplezKinds, SmallestDataSetOfEachBsplineKind) {
  for (int itype = 4; itype <= 8; ++itype) {
    const int n = itype - 2;
    std::vector<double> x, f;
    for (int i = 0; i < n; ++i) {
      x.push_back(i * 1.5);
      f.push_back(std::exp(0.1 * i));
    }
    const auto v = fit(x, f, itype, 0, x);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(v[i], f[i], 1e-13) << itype;
  }
}

TEST(DsplezKinds, WorkAreaVariantWithExactlySizedWork) {
  const std::vector<double> x = {3.0, 1.0, 2.0, 0.0, 5.0, 4.5};
  const std::vector<double> f = {9.0, 1.0, 4.0, 0.0, 25.0, 20.25};
  const std::vector<double> xv = {2.5, -1.0, 6.0};
  for (int itype = 4; itype <= 8; ++itype) {
    std::vector<double> wk(ds2lez_work_length(6, itype, 3)), v(3);
    std::vector<int> iwk(ds2lez_iwork_length(6, 3));
    DS2LEZ(6, x.data(), f.data(), itype, 0, 3, xv.data(), v.data(), wk.data(), iwk.data());
    EXPECT_EQ(v, fit(x, f, itype, 0, xv)) << itype;
    if (itype >= 5) {  // x^2 is in the spline space from order 3 on
      for (int i = 0; i < 3; ++i) EXPECT_NEAR(v[i], xv[i] * xv[i], 1e-12) << itype;
    }
  }
}

// ---------------------------------------------------------------------------
// Failure table.

struct Case {
  int ndata, itype, ider, n;
  const char* message;
};

TEST(DsplezChecks, EveryArgumentCheckHasItsMessage) {
  const Case cases[] = {
      {5, 5, 0, 0, "The length of XVEC must be at least 1 while N = 0 is given."},
      {5, 5, -1, 3, "The order of the derivative to be evaluated must be nonnegative, but IDER = -1."},
      {5, 0, 0, 3, "The value of ITYPE must be in the range 1,..,15, but ITYPE = 0."},
      {5, 16, 0, 3, "The value of ITYPE must be in the range 1,..,15, but ITYPE = 16."},
      {1, 1, 0, 3, "The number of data points must be 2 or more, but NDATA = 1 is given."},
      {3, 3, 0, 3, "The number of data points must be 4 or more, but NDATA = 3 is given."},
      {3, 2, 0, 3, "The number of data points must be 4 or more, but NDATA = 3 is given."},
      {2, 5, 0, 3, "The number of data points must be 3 or more, but NDATA = 2 is given."},
      {5, 8, 0, 3, "The number of data points must be 6 or more, but NDATA = 5 is given."},
      {3, 9, 0, 3, "The number of data points must be 4 or more, but NDATA = 3."},
      {3, 12, 0, 3, "The number of data points must be 4 or more, but NDATA = 3."},
      {4, 15, 0, 3, "The number of data points must be 5 or more, but NDATA = 4"},
      {1, 13, 0, 3, "The number of data points must be 3 or more, but NDATA = 1"},
  };
  const double x[] = {0, 1, 2, 3, 4, 5};
  const double xv[] = {0.5, 1.5, 2.5};
  double v[3];
  for (const Case& c : cases) {
    ErrorRecorder rec;
    EXPECT_THROW(DSPLEZ(c.ndata, x, x, c.itype, c.ider, c.n, xv, v), SevereError);
    ASSERT_EQ(rec.events().size(), 1u);
    EXPECT_EQ(rec.last_type(), TERMINAL);
    EXPECT_EQ(rec.last_message(), c.message) << c.itype;
  }
  EXPECT_EQ(name_stack_depth(), 0);
}

TEST(DsplezChecks, EqualAbscissasAndEqualPointsAreFatal) {
  ErrorRecorder rec;
  const double x[] = {2.0, 0.0, 1.0, 0.0};
  const double f[] = {1.0, 2.0, 3.0, 4.0};
  const double good[] = {2.0, 0.0, 1.0, 3.0};
  const double xv[] = {0.25, 1.5, 0.75, 1.5};
  double v[4] = {7.0, 7.0, 7.0, 7.0};
  EXPECT_THROW(DSPLEZ(4, x, f, 5, 0, 2, xv, v), SevereError);
  EXPECT_EQ(rec.last_type(), FATAL);
  EXPECT_EQ(rec.last_message(),
            "Points in the data point abscissas array, XDATA, must be distinct, but XDATA(2) = "
            "XDATA(4) = 0.");
  EXPECT_THROW(DSPLEZ(4, good, f, 5, 0, 4, xv, v), SevereError);
  EXPECT_EQ(rec.last_message(),
            "Points to be evaluated must be distinct, but XVEC(2) =  XVEC(4) = 1.5.");
  EXPECT_EQ(v[0], 7.0);  // nothing written on failure
  EXPECT_EQ(name_stack_depth(), 0);
}

TEST(DsplezChecks, NonFiniteArgumentsAreNamedForEveryKind) {
  const double nan = std::nan("");
  const double inf = HUGE_VAL;
  for (int kind = 1; kind <= 15; ++kind) {
    std::vector<double> x = {0, 1, 2, 3, 4, 5}, f = {1, 0, 2, 1, 3, 2}, xv = {0.5, 2.5};
    const struct {
      double* slot;
      const char* message;
    } rows[] = {{&x[2], "The XDATA(3) = NaN is not a finite number."},
                {&f[1], "The FDATA(2) = Infinity is not a finite number."},
                {&xv[0], "The XVEC(1) = -Infinity is not a finite number."}};
    const double bad[] = {nan, inf, -inf};
    for (int r = 0; r < 3; ++r) {
      const double kept = *rows[r].slot;
      *rows[r].slot = bad[r];
      ErrorRecorder rec;
      std::vector<double> v(2, 7.0);
      EXPECT_THROW(DSPLEZ(6, x.data(), f.data(), kind, 0, 2, xv.data(), v.data()), SevereError);
      EXPECT_EQ(rec.last_type(), TERMINAL);
      EXPECT_EQ(rec.last_message(), rows[r].message) << "kind " << kind;
      EXPECT_EQ(v[0], 7.0);
      *rows[r].slot = kept;
    }
  }
  EXPECT_EQ(name_stack_depth(), 0);
}

TEST(DsplezChecks, ValuesThatOverflowAreFatalNotReturned) {
  // The not-a-knot cubic through alternating values near the largest double
  // overshoots beyond it between the data.
  const double x[] = {0, 1, 2, 3, 4};
  const double f[] = {1e308, -1.7e308, 1.7e308, -1.7e308, 1e308};
  const double xv[] = {2.0, 0.5};
  double v[2] = {7.0, 7.0};
  ErrorRecorder rec;
  EXPECT_THROW(DSPLEZ(5, x, f, 1, 0, 2, xv, v), SevereError);
  EXPECT_EQ(rec.last_type(), FATAL);
  EXPECT_THAT(rec.last_message(),
              ::testing::StartsWith("The spline of kind ITYPE = 1 cannot be evaluated in 8-byte "
                                    "arithmetic: VALUE(2) = "));
  EXPECT_EQ(v[0], 7.0);
}

void two_points_of_kind_five() {
  dup2(2, 1);  // the reporter prints on standard output
  const double x[] = {0.0, 1.0};
  double v = 0.0;
  DSPLEZ(2, x, x, 5, 0, 1, x, &v);
}

TEST(DsplezDeath, TooFewPointsEndTheProcess) {
  EXPECT_EXIT(two_points_of_kind_five(), ::testing::ExitedWithCode(5),
              ::testing::AllOf(::testing::HasSubstr(" *** TERMINAL ERROR 6 from DSPLEZ.  The number of data"),
                               ::testing::HasSubstr("Stop - Program terminated.")));
}

}  // namespace
}  // namespace zalk::toolkit
