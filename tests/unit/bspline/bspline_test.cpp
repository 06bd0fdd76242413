// Tensor-product B-spline knots, interpolation and evaluation in both widths.
#include "toolkit/bspline.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "unit/bspline/recorder.h"
#include "unit/bspline/truncated_power.h"

namespace zalk::toolkit {
namespace {

using testing_support::ErrorRecorder;
using testing_support::TruncatedPowerSpline;

// One spelling for both families, so that each test runs in both widths.
void knots(int n, const float* x, int k, float* t) { BSNAK(n, x, k, t); }
void knots(int n, const double* x, int k, double* t) { DBSNAK(n, x, k, t); }
void interpolate(int nx, const float* x, int ny, const float* y, const float* f, int ldf, int kx,
                 int ky, const float* tx, const float* ty, float* c) {
  BS2IN(nx, x, ny, y, f, ldf, kx, ky, tx, ty, c);
}
void interpolate(int nx, const double* x, int ny, const double* y, const double* f, int ldf,
                 int kx, int ky, const double* tx, const double* ty, double* c) {
  DBS2IN(nx, x, ny, y, f, ldf, kx, ky, tx, ty, c);
}
float evaluate(int dx, int dy, float x, float y, int kx, int ky, const float* tx, const float* ty,
               int nx, int ny, const float* c) {
  float v = -1.0f;
  BS2GD(dx, dy, 1, &x, 1, &y, kx, ky, tx, ty, nx, ny, c, &v, 1);
  return v;
}
double evaluate(int dx, int dy, double x, double y, int kx, int ky, const double* tx,
                const double* ty, int nx, int ny, const double* c) {
  if (dx == 0 && dy == 0) return DBS2VL(x, y, kx, ky, tx, ty, nx, ny, c);
  return DBS2DR(dx, dy, x, y, kx, ky, tx, ty, nx, ny, c);
}

// A fitted surface on a non-uniform grid.
template <class T>
struct Surface {
  int kx, ky;
  std::vector<T> x, y, f, tx, ty, c;
  static constexpr int kLdf = 20;

  template <class F>
  Surface(std::vector<T> xs, std::vector<T> ys, int kx_, int ky_, F fn)
      : kx(kx_), ky(ky_), x(std::move(xs)), y(std::move(ys)) {
    f.assign(kLdf * y.size(), T(0));
    for (std::size_t j = 0; j < y.size(); ++j)
      for (std::size_t i = 0; i < x.size(); ++i) f[i + j * kLdf] = T(fn(double(x[i]), double(y[j])));
    tx.resize(x.size() + kx);
    ty.resize(y.size() + ky);
    c.resize(x.size() * y.size());
    knots(nx(), x.data(), kx, tx.data());
    knots(ny(), y.data(), ky, ty.data());
    interpolate(nx(), x.data(), ny(), y.data(), f.data(), kLdf, kx, ky, tx.data(), ty.data(),
                c.data());
  }
  int nx() const { return int(x.size()); }
  int ny() const { return int(y.size()); }
  T at(T px, T py, int dx = 0, int dy = 0) const {
    return evaluate(dx, dy, px, py, kx, ky, tx.data(), ty.data(), nx(), ny(), c.data());
  }
};

template <class T>
std::vector<T> grid_x() {
  return {T(0.0), T(0.7), T(1.5), T(2.0), T(3.25), T(4.0), T(5.5), T(6.0), T(7.5), T(9.0), T(10.0)};
}
template <class T>
std::vector<T> grid_y() {
  return {T(-2.0), T(-1.0), T(-0.25), T(0.5), T(1.0), T(2.5), T(3.0), T(4.0)};
}

// p(x) q(y) with p, q quadratics, and its derivatives in closed form.
double p(double x, int d) {
  return d == 0 ? 1.0 + 0.5 * x - 0.05 * x * x : d == 1 ? 0.5 - 0.1 * x : d == 2 ? -0.1 : 0.0;
}
double q(double y, int d) {
  return d == 0 ? 2.0 - 0.3 * y + 0.2 * y * y : d == 1 ? -0.3 + 0.4 * y : d == 2 ? 0.4 : 0.0;
}

template <class T>
class BsplineFamily : public ::testing::Test {
 protected:
  // Error of a well-conditioned interpolation per unit of data size: the two
  // collocation solves and the evaluation each add a few rounding units
  // (observed: about 2 units in either width); 30 leaves room for other
  // compilers' rounding without hiding a wrong basis or a wrong knot.
  static constexpr double tol = 30.0 * std::numeric_limits<T>::epsilon();
};
using Widths = ::testing::Types<float, double>;
TYPED_TEST_SUITE(BsplineFamily, Widths);

TYPED_TEST(BsplineFamily, NotAKnotKnotsOfTheWorkedExample) {
  using T = TypeParam;
  const T x[] = {0, 1, 2, 3, 4};
  T t[8];
  knots(5, x, 3, t);
  // 4 (1 + 100 eps) with eps = 2^-23 or 2^-52, exact in either width.
  const int mant = std::numeric_limits<T>::digits - 1;
  const T end = T(4) + std::ldexp(T(400), -mant);
  const T expected[] = {0, 0, 0, 1.5, 2.5, end, end, end};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(t[i], expected[i]) << i;
}

TYPED_TEST(BsplineFamily, EndKnotsForNegativeAndZeroLastAbscissa) {
  using T = TypeParam;
  const int mant = std::numeric_limits<T>::digits - 1;
  const T neg[] = {-4, -3, -2, -1};
  T t[7];
  knots(4, neg, 3, t);
  EXPECT_EQ(t[4], T(-1) + std::ldexp(T(100), -mant));  // -1 (1 - 100 eps)
  EXPECT_EQ(t[3], T(-2.5));
  const T zero[] = {-3, -2, -1, 0};
  knots(4, zero, 3, t);
  EXPECT_EQ(t[6], std::ldexp(T(100), -mant));  // 100 eps
}

TYPED_TEST(BsplineFamily, EvenOrderInteriorKnotsAreAbscissas) {
  using T = TypeParam;
  const T x[] = {0, 1, 2, 3, 4, 5};
  T t[10];
  knots(6, x, 4, t);
  EXPECT_EQ(t[3], T(0));
  EXPECT_EQ(t[4], T(2));
  EXPECT_EQ(t[5], T(3));
  EXPECT_GT(t[6], T(5));
}

TYPED_TEST(BsplineFamily, UnsortedDistinctAbscissasGiveSortedKnots) {
  using T = TypeParam;
  const T sorted[] = {-1, 0.5, 2, 2.25, 4, 7};
  const T shuffled[] = {2.25, 7, -1, 4, 0.5, 2};
  T ts[9], tu[9];
  knots(6, sorted, 3, ts);
  knots(6, shuffled, 3, tu);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(tu[i], ts[i]) << i;
}

TYPED_TEST(BsplineFamily, EqualAbscissasAreFatalAndQuotedByPosition) {
  using T = TypeParam;
  const char* value = std::is_same_v<T, float> ? "1.5" : "1.5";
  ErrorRecorder rec;
  const T neighbours[] = {0, 1.5, 1.5, 3};
  T t[7];
  EXPECT_THROW(knots(4, neighbours, 3, t), SevereError);
  EXPECT_EQ(rec.last_type(), FATAL);
  EXPECT_EQ(rec.last_message(),
            std::string("Points in the data point abscissas array, XDATA, must be distinct, but "
                        "XDATA(2) = XDATA(3) = ") + value + ".");
  // Not neighbours as given: found after sorting, quoted by original positions.
  const T apart[] = {3, 1.5, 0, 1.5};
  EXPECT_THROW(knots(4, apart, 3, t), SevereError);
  EXPECT_EQ(rec.last_message(),
            std::string("Points in the data point abscissas array, XDATA, must be distinct, but "
                        "XDATA(2) = XDATA(4) = ") + value + ".");
  EXPECT_EQ(name_stack_depth(), 0);
}

TYPED_TEST(BsplineFamily, KnotArgumentChecksAreTerminal) {
  using T = TypeParam;
  ErrorRecorder rec;
  const T x[] = {0, 1, 2};
  T t[6];
  EXPECT_THROW(knots(3, x, 1, t), SevereError);
  EXPECT_EQ(rec.last_type(), TERMINAL);
  EXPECT_EQ(rec.last_message(),
            "The order of the spline must be at least 2 while KORDER = 1 is given.");
  EXPECT_THROW(knots(2, x, 3, t), SevereError);
  EXPECT_EQ(rec.last_message(),
            "The number of data points must be at least as large as the order of the spline while "
            "NDATA = 2 and KORDER = 3 are given.");
  // An abscissa that is not a finite number would give NaN knots.
  const T nan_at_2[] = {0, std::numeric_limits<T>::quiet_NaN(), 2};
  const T inf_at_3[] = {0, 1, -std::numeric_limits<T>::infinity()};
  EXPECT_THROW(knots(3, nan_at_2, 3, t), SevereError);
  EXPECT_EQ(rec.last_message(), "The XDATA(2) = NaN is not a finite number.");
  EXPECT_THROW(knots(3, inf_at_3, 3, t), SevereError);
  EXPECT_EQ(rec.last_message(), "The XDATA(3) = -Infinity is not a finite number.");
  EXPECT_EQ(rec.last_type(), TERMINAL);
}

TYPED_TEST(BsplineFamily, QuadraticTimesQuadraticReproducedAtRandomPoints) {
  using T = TypeParam;
  const Surface<T> s(grid_x<T>(), grid_y<T>(), 3, 3, [](double x, double y) { return p(x, 0) * q(y, 0); });
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> ux(0.0, 10.0), uy(-2.0, 4.0);
  for (int trial = 0; trial < 200; ++trial) {
    const T x = T(ux(gen)), y = T(uy(gen));
    const double exact = p(double(x), 0) * q(double(y), 0);
    EXPECT_NEAR(double(s.at(x, y)), exact, this->tol * 8.0) << x << ", " << y;
  }
}

TYPED_TEST(BsplineFamily, CubicSurfaceReproducedByOrderFour) {
  using T = TypeParam;
  auto f = [](double x, double y) { return (1.0 + x * x * x / 200.0 - x / 3.0) * (1.0 + y - y * y * y / 20.0); };
  const Surface<T> s(grid_x<T>(), grid_y<T>(), 4, 4, f);
  std::mt19937 gen(11);
  std::uniform_real_distribution<double> ux(0.0, 10.0), uy(-2.0, 4.0);
  for (int trial = 0; trial < 100; ++trial) {
    const T x = T(ux(gen)), y = T(uy(gen));
    EXPECT_NEAR(double(s.at(x, y)), f(double(x), double(y)), this->tol * 10.0);
  }
}

TYPED_TEST(BsplineFamily, DataPointsReproducedIncludingTheLargestAbscissa) {
  using T = TypeParam;
  std::mt19937 gen(3);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> data(11 * 8);
  for (auto& v : data) v = u(gen);
  const Surface<T> s(grid_x<T>(), grid_y<T>(), 3, 3, [&](double x, double y) {
    const auto xs = grid_x<T>();
    const auto ys = grid_y<T>();
    int i = 0, j = 0;
    while (double(xs[i]) != x) ++i;
    while (double(ys[j]) != y) ++j;
    return data[i + 11 * j];
  });
  for (int j = 0; j < s.ny(); ++j)
    for (int i = 0; i < s.nx(); ++i)
      EXPECT_NEAR(double(s.at(s.x[i], s.y[j])), double(s.f[i + j * 20]), this->tol) << i << "," << j;
}

TYPED_TEST(BsplineFamily, DerivativesOfAReproducedSurface) {
  using T = TypeParam;
  const Surface<T> s(grid_x<T>(), grid_y<T>(), 3, 3, [](double x, double y) { return p(x, 0) * q(y, 0); });
  const T pts[][2] = {{T(0.3), T(-1.7)}, {T(4.4), T(0.1)}, {T(9.9), T(3.9)}, {T(2.0), T(1.0)}};
  for (const auto& pt : pts) {
    for (int dx = 0; dx <= 3; ++dx) {
      for (int dy = 0; dy <= 3; ++dy) {
        const double exact = p(double(pt[0]), dx) * q(double(pt[1]), dy);
        // Each derivative order multiplies coefficient errors by (k-1) / spacing,
        // at most 2 / 0.5 = 4 on these grids.
        const double tol = this->tol * 8.0 * std::pow(4.0, dx + dy);
        EXPECT_NEAR(double(s.at(pt[0], pt[1], dx, dy)), exact, tol) << dx << dy;
      }
    }
  }
}

TYPED_TEST(BsplineFamily, OutsideTheKnotsGivesZeroAndOneWarning) {
  using T = TypeParam;
  const Surface<T> s(grid_x<T>(), grid_y<T>(), 3, 3, [](double x, double y) { return 1.0 + x + y; });
  ErrorRecorder rec;
  const T last = s.tx[s.nx()];  // XKNOT(NXCOEF+1) belongs to the last interval
  EXPECT_NE(s.at(last, T(0)), T(0));
  EXPECT_EQ(rec.events().size(), 0u);
  const T beyond = std::nextafter(last, T(100));
  EXPECT_EQ(s.at(beyond, T(0)), T(0));
  ASSERT_EQ(rec.events().size(), 1u);
  EXPECT_EQ(rec.last_type(), WARNING);
  EXPECT_THAT(rec.last_message(), ::testing::HasSubstr(
      "does not satisfy XKNOT(KXORD) .LE. X .LE. XKNOT(NXCOEF+1).  The value zero is returned in this case."));
  EXPECT_EQ(s.at(T(0), T(-2.5)), T(0));
  EXPECT_EQ(rec.events().size(), 2u);
  EXPECT_THAT(rec.last_message(), ::testing::HasSubstr("YKNOT(KYORD) .LE. Y .LE. YKNOT(NYCOEF+1)"));
  EXPECT_EQ(name_stack_depth(), 0);
}

TYPED_TEST(BsplineFamily, SmoothSurfaceMatchesAnIndependentConstruction) {
  // The tensor-product interpolant is the y-interpolant of the x-interpolants
  // of the data columns; both are built here in the truncated power basis.
  using T = TypeParam;
  auto fn = [](double x, double y) { return std::sin(0.7 * x) * std::exp(0.2 * y) + 0.3 * std::cos(x * y / 4.0); };
  const Surface<T> s(grid_x<T>(), grid_y<T>(), 3, 3, fn);
  std::vector<double> xd(s.x.begin(), s.x.end()), yd(s.y.begin(), s.y.end());
  std::vector<TruncatedPowerSpline> columns;
  for (int j = 0; j < s.ny(); ++j) {
    std::vector<double> col;
    for (int i = 0; i < s.nx(); ++i) col.push_back(double(s.f[i + 20 * j]));
    columns.emplace_back(xd, col, 3);
  }
  auto reference = [&](double x, double y, int dx, int dy) {
    std::vector<double> g;
    for (const auto& c : columns) g.push_back(c(x, dx));
    return TruncatedPowerSpline(yd, g, 3)(y, dy);
  };
  // Observed agreement: 1e-13 in 8 bytes (the reference's own dense solve),
  // 9e-7 in 4 bytes (values up to 2, rounded data and coefficients); the
  // bounds leave a factor of about 2 to 10, times 4 per derivative order.
  const double tol = std::is_same_v<T, float> ? 2e-6 : 1e-12;
  std::mt19937 gen(13);
  std::uniform_real_distribution<double> ux(0.0, 10.0), uy(-2.0, 4.0);
  for (int trial = 0; trial < 100; ++trial) {
    const T x = T(ux(gen)), y = T(uy(gen));
    for (const auto& [dx, dy] : {std::pair{0, 0}, std::pair{1, 0}, std::pair{0, 1}, std::pair{1, 1}}) {
      EXPECT_NEAR(double(s.at(x, y, dx, dy)), reference(double(x), double(y), dx, dy),
                  tol * std::pow(4.0, dx + dy))
          << x << ", " << y << " d" << dx << dy;
    }
  }
}

// ---------------------------------------------------------------------------
// Failure table of the 4-byte family, with the exact texts.

struct Grid4 {
  std::vector<float> x = grid_x<float>(), y = grid_y<float>(), f = std::vector<float>(20 * 8, 1.0f);
  std::vector<float> tx = std::vector<float>(14), ty = std::vector<float>(11), c = std::vector<float>(88);
  Grid4() {
    BSNAK(11, x.data(), 3, tx.data());
    BSNAK(8, y.data(), 3, ty.data());
  }
};

TEST(Bs2in, ArgumentChecksHaveTheirMessages) {
  Grid4 g;
  ErrorRecorder rec;
  auto in = [&](int nx, int ny, int ldf, int kx, int ky) {
    BS2IN(nx, g.x.data(), ny, g.y.data(), g.f.data(), ldf, kx, ky, g.tx.data(), g.ty.data(), g.c.data());
  };
  EXPECT_THROW(in(11, 8, 20, 0, 3), SevereError);
  EXPECT_EQ(rec.last_message(), "The order of the spline in the X direction must be at least 1 while KXORD = 0 is given.");
  EXPECT_EQ(rec.last_type(), TERMINAL);
  EXPECT_THROW(in(11, 8, 20, 3, -1), SevereError);
  EXPECT_EQ(rec.last_message(), "The order of the spline in the Y direction must be at least 1 while KYORD = -1 is given.");
  EXPECT_THROW(in(2, 8, 20, 3, 3), SevereError);
  EXPECT_EQ(rec.last_message(),
            "The number of data points of the spline in the X direction must be at least as large as "
            "the order of the spline in the X direction while NXDATA = 2 and KXORD = 3 are given.");
  EXPECT_THROW(in(11, 2, 20, 3, 3), SevereError);
  EXPECT_EQ(rec.last_message(),
            "The number of data points of the spline in the Y direction must be at least as large as "
            "the order of the spline in the Y direction while NYDATA = 2 and KYORD = 3 are given.");
  EXPECT_THROW(in(11, 8, 10, 3, 3), SevereError);
  EXPECT_EQ(rec.last_message(),
            "The leading dimension of FDATA must be at least as large as NXDATA while LDF = 10 and "
            "NXDATA = 11 are given.");
  g.x[4] = 1.5f;
  EXPECT_THROW(in(11, 8, 20, 3, 3), SevereError);
  EXPECT_EQ(rec.last_type(), FATAL);
  EXPECT_EQ(rec.last_message(),
            "The X data values must be strictly increasing, but XDATA(4) = 2 and XDATA(5) = 1.5.");
  g.x = grid_x<float>();
  g.y[7] = -3.0f;
  EXPECT_THROW(in(11, 8, 20, 3, 3), SevereError);
  EXPECT_EQ(rec.last_message(),
            "The Y data values must be strictly increasing, but YDATA(7) = 3 and YDATA(8) = -3.");
  EXPECT_EQ(name_stack_depth(), 0);
}

TEST(Bs2in, DataOutsideTheSupportOfItsBsplineIsFatal) {
  Grid4 g;
  ErrorRecorder rec;
  // Knots crowded to the left leave XDATA(2) = 0.7 right of XKNOT(5).
  std::vector<float> tx = {0, 0, 0, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 6, 7, 8, 10.1f, 10.1f, 10.1f};
  EXPECT_THROW(BS2IN(11, g.x.data(), 8, g.y.data(), g.f.data(), 20, 3, 3, tx.data(), g.ty.data(), g.c.data()),
               SevereError);
  EXPECT_EQ(rec.last_type(), FATAL);
  EXPECT_EQ(rec.last_message(),
            "The Ith smallest element (I=2) in XDATA must be in the interval (XKNOT(I),XKNOT(I+KXORD)) "
            "while XDATA(2) = 0.7, XKNOT(2) = 0, XKNOT(5) = 0.2 are given.  ");
}

TEST(Bs2in, KnotsThatNoSplineSpaceHasAreFatal) {
  Grid4 g;
  ErrorRecorder rec;
  auto in = [&](const std::vector<float>& tx) {
    BS2IN(11, g.x.data(), 8, g.y.data(), g.f.data(), 20, 3, 3, tx.data(), g.ty.data(), g.c.data());
  };
  std::vector<float> tx = g.tx;
  std::swap(tx[4], tx[5]);
  EXPECT_THROW(in(tx), SevereError);
  EXPECT_EQ(rec.last_message(),
            "The knot sequence XKNOT must be nondecreasing, but XKNOT(5) = 2.625 and XKNOT(6) = 1.75.");
  tx = g.tx;
  tx[1] = tx[2] = tx[3] = 0.0f;  // four equal knots for order 3
  EXPECT_THROW(in(tx), SevereError);
  EXPECT_EQ(rec.last_message(),
            "The knot XKNOT(1) = 0 is repeated more than the order of the spline, 3, allows.");
  EXPECT_EQ(rec.last_type(), FATAL);
}

TEST(Bs2in, NearlyCoincidentDataWarnsAndStillInterpolates) {
  // Two abscissas 1e-5 apart make the 4-byte collocation matrix nearly singular.
  std::vector<float> x = {0.0f, 1.0f, 1.00001f, 2.0f, 3.0f};
  std::vector<float> y = {0.0f, 1.0f, 2.0f};
  std::vector<float> f(20 * 3);
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 5; ++i) f[i + 20 * j] = x[i] + y[j];
  std::vector<float> tx(8), ty(6), c(15);
  BSNAK(5, x.data(), 3, tx.data());
  BSNAK(3, y.data(), 3, ty.data());
  ErrorRecorder rec;
  BS2IN(5, x.data(), 3, y.data(), f.data(), 20, 3, 3, tx.data(), ty.data(), c.data());
  ASSERT_EQ(rec.count(WARNING), 1);
  EXPECT_THAT(rec.last_message(), ::testing::StartsWith("The interpolation matrix in the X direction is nearly singular"));
  // The data are linear, which the spline contains: values stay accurate.
  float v = 0.0f;
  const float px = 2.5f, py = 1.5f;
  BS2GD(0, 0, 1, &px, 1, &py, 3, 3, tx.data(), ty.data(), 5, 3, c.data(), &v, 1);
  EXPECT_NEAR(v, 4.0f, 1e-3f);
}

TEST(Bs2in, SingularCollocationReportsThatRefinementFailed) {
  // Hat functions (order 2) with XDATA(2) so close to XKNOT(2) that its
  // B-spline value underflows to zero: rows 1 and 2 coincide. The
  // Schoenberg-Whitney conditions hold exactly, the arithmetic cannot tell.
  const float tiny = std::numeric_limits<float>::denorm_min();
  std::vector<float> x = {0.0f, tiny, 1500.0f, 3000.0f};
  std::vector<float> tx = {0.0f, 0.0f, 1000.0f, 2000.0f, 3000.5f, 3000.5f};
  std::vector<float> y = {0.0f, 1.0f};
  std::vector<float> ty = {0.0f, 0.0f, 1.5f, 1.5f};
  std::vector<float> f(20 * 2, 1.0f), c(8);
  ErrorRecorder rec;
  BS2IN(4, x.data(), 2, y.data(), f.data(), 20, 2, 2, tx.data(), ty.data(), c.data());
  ASSERT_EQ(rec.count(WARNING), 1);
  EXPECT_EQ(rec.last_message(),
            "The interpolation matrix in the X direction is nearly singular.  Iterative refinement "
            "failed, try higher precision if possible.");
  EXPECT_EQ(name_stack_depth(), 0);
}

TEST(Bs2gd, GridOfValuesMatchesPointValuesAndChecksItsArguments) {
  const Surface<float> s(grid_x<float>(), grid_y<float>(), 3, 3, [](double x, double y) { return p(x, 0) * q(y, 0); });
  const float xv[] = {0.5f, 3.0f, 9.5f};
  const float yv[] = {-1.5f, 3.5f};
  float v[4 * 2];
  BS2GD(1, 0, 3, xv, 2, yv, 3, 3, s.tx.data(), s.ty.data(), 11, 8, s.c.data(), v, 4);
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(v[i + 4 * j], p(xv[i], 1) * q(yv[j], 0), 1e-4) << i << j;

  ErrorRecorder rec;
  auto gd = [&](int dx, int dy, int nx, const float* x, int ny, int ncx, int ncy, int ld) {
    BS2GD(dx, dy, nx, x, ny, yv, 3, 3, s.tx.data(), s.ty.data(), ncx, ncy, s.c.data(), v, ld);
  };
  EXPECT_THROW(gd(-1, 0, 3, xv, 2, 11, 8, 4), SevereError);
  EXPECT_EQ(rec.last_message(), "The order of the derivative in the X direction must be at least zero, while IXDER = -1 is given.");
  EXPECT_THROW(gd(0, -2, 3, xv, 2, 11, 8, 4), SevereError);
  EXPECT_EQ(rec.last_message(), "The order of the derivative in the Y direction must be at least zero, while IYDER = -2 is given.");
  EXPECT_THROW(gd(0, 0, 3, xv, 2, 2, 8, 4), SevereError);
  EXPECT_EQ(rec.last_message(),
            "The number of coefficients of the spline in the X direction must be at least as large as "
            "the order of the spline in the X direction while NXCOEF = 2 and KXORD = 3 are given.");
  EXPECT_THROW(gd(0, 0, 3, xv, 2, 11, 1, 4), SevereError);
  EXPECT_EQ(rec.last_message(),
            "The number of coefficients of the spline in the Y direction must be at least as large as "
            "the order of the spline in the Y direction while NYCOEF = 1 and KYORD = 3 are given.");
  const float down[] = {3.0f, 0.5f};
  EXPECT_THROW(gd(0, 0, 2, down, 2, 11, 8, 4), SevereError);
  EXPECT_EQ(rec.last_type(), FATAL);
  EXPECT_EQ(rec.last_message(), "The X data values must be strictly increasing, but XVEC(1) = 3 and XVEC(2) = 0.5.");
  const float ydown[] = {1.0f, 1.0f};
  EXPECT_THROW(BS2GD(0, 0, 3, xv, 2, ydown, 3, 3, s.tx.data(), s.ty.data(), 11, 8, s.c.data(), v, 4), SevereError);
  EXPECT_EQ(rec.last_message(), "The Y data values must be strictly increasing, but YVEC(1) = 1 and YVEC(2) = 1.");
  EXPECT_THROW(gd(0, 0, 3, xv, 2, 11, 8, 2), SevereError);
  EXPECT_EQ(rec.last_message(),
            "The leading dimension of VALUE must be at least as large as NX while LDVALUE = 2 and NX = 3 are given.");

  // Out-of-range points: one warning per point, zeros in their row only.
  const float xo[] = {-1.0f, 5.0f, 20.0f};
  const size_t before = rec.events().size();
  gd(0, 0, 3, xo, 2, 11, 8, 4);
  EXPECT_EQ(rec.events().size(), before + 2);
  EXPECT_EQ(rec.last_message(),
            "The point X(3) = 20 does not satisfy XKNOT(KXORD) .LE. X .LE. XKNOT(NXCOEF+1).  The value "
            "zero is returned in this case.");
  EXPECT_EQ(v[0], 0.0f);
  EXPECT_EQ(v[2], 0.0f);
  EXPECT_NEAR(v[1], p(5.0, 0) * q(-1.5, 0), 1e-4);
  EXPECT_EQ(name_stack_depth(), 0);
}

TEST(Dbs2vl, PointOutsideIsQuotedInEightByteNotation) {
  const Surface<double> s(grid_x<double>(), grid_y<double>(), 3, 3, [](double x, double y) { return x * y; });
  ErrorRecorder rec;
  EXPECT_EQ(DBS2VL(5.0, 4.125, 3, 3, s.tx.data(), s.ty.data(), 11, 8, s.c.data()), 0.0);
  EXPECT_EQ(rec.last_message(),
            "The point Y = 4.125 does not satisfy YKNOT(KYORD) .LE. Y .LE. YKNOT(NYCOEF+1).  The value "
            "zero is returned in this case.");
  EXPECT_EQ(rec.events().front().routine.substr(0, 2), "DB");
}

void knots_of_order_one() {
  dup2(2, 1);  // the reporter prints on standard output
  const float x[] = {0.0f, 1.0f};
  float t[4];
  BSNAK(2, x, 1, t);
}

void knots_of_equal_abscissas() {
  dup2(2, 1);
  const double x[] = {0.0, 2.0, 2.0};
  double t[6];
  DBSNAK(3, x, 3, t);
}

TEST(Db2int, OrderAndSizeChecks) {
  ErrorRecorder rec;
  const double x[] = {0.0, 1.0}, t[] = {0.0, 0.0, 1.0, 1.0};
  double c[2], wk[64];
  int iwk[2];
  EXPECT_THROW(DB2INT(2, x, x, 0, t, c, wk, iwk), SevereError);
  EXPECT_EQ(rec.last_message(), "The order of the spline must be at least 1 while KORDER = 0 is given.");
  EXPECT_THROW(DB2INT(2, x, x, 3, t, c, wk, iwk), SevereError);
  EXPECT_EQ(rec.last_message(),
            "The number of data points must be at least as large as the order of the spline while "
            "NDATA = 2 and KORDER = 3 are given.");
  EXPECT_THROW(DBS2DR(0, -1, 0.5, 0.5, 2, 2, t, t, 2, 2, x), SevereError);
  EXPECT_EQ(rec.last_message(),
            "The order of the derivative in the Y direction must be at least zero, while IYDER = -1 is given.");
}

TEST(BsnakDeath, TerminalErrorPrintsItsBlockAndStops) {
  EXPECT_EXIT(knots_of_order_one(), ::testing::ExitedWithCode(5),
              ::testing::AllOf(
                  ::testing::HasSubstr(" *** TERMINAL ERROR 1 from BSNAK.  The order of the spline"),
                  ::testing::HasSubstr("Stop - Program terminated.")));
}

TEST(DbsnakDeath, EqualAbscissasAreFatal) {
  EXPECT_EXIT(knots_of_equal_abscissas(), ::testing::ExitedWithCode(4),
              ::testing::HasSubstr(" *** FATAL    ERROR 3 from DB2NAK."));
}

// A prepared point serves several coefficient sets on the same knots; each
// value must be BS2GD's at that point, bit for bit, for every order and
// derivative, also on knots and at the right end.
TEST(PreparedPoint, ValuesAreThoseOfBs2gdBitForBit) {
  const std::pair<int, int> orders[] = {{2, 2}, {3, 3}, {4, 3}, {5, 5}};
  std::mt19937 gen(21);
  std::uniform_real_distribution<float> ux(0.0f, 10.0f), uy(-2.0f, 4.0f);
  ErrorRecorder rec;
  for (const auto& [kx, ky] : orders) {
    const Surface<float> s(grid_x<float>(), grid_y<float>(), kx, ky,
                           [](double x, double y) { return p(x, 0) * q(y, 0) + std::sin(x * y); });
    std::vector<float> other(s.c.size());  // a second coefficient set on the same knots
    for (std::size_t i = 0; i < other.size(); ++i) other[i] = s.c[i] * 0.37f - float(i) * 0.01f;
    std::vector<std::pair<float, float>> pts = {{s.tx[std::size_t(kx - 1)], s.ty[std::size_t(ky - 1)]},
                                                {s.tx[std::size_t(s.nx())], s.ty[std::size_t(s.ny())]},
                                                {2.0f, 0.5f}};
    for (int i = 0; i < 50; ++i) pts.emplace_back(ux(gen), uy(gen));
    for (const auto& [x, y] : pts) {
      for (int dx = 0; dx <= 2; ++dx) {
        for (int dy = 0; dy <= 2; ++dy) {
          PreparedPoint pp;
          ASSERT_TRUE(prepare_point(dx, dy, x, y, kx, ky, s.tx.data(), s.ty.data(), s.nx(), s.ny(), pp));
          for (const std::vector<float>* c : {&s.c, static_cast<const std::vector<float>*>(&other)}) {
            float v = -1.0f;
            BS2GD(dx, dy, 1, &x, 1, &y, kx, ky, s.tx.data(), s.ty.data(), s.nx(), s.ny(), c->data(), &v, 1);
            const float w = prepared_value(pp, c->data());
            EXPECT_EQ(std::memcmp(&v, &w, sizeof v), 0) << kx << ky << " " << x << " " << y << " " << dx << dy;
          }
        }
      }
    }
  }
  EXPECT_TRUE(rec.events().empty());
}

// Every case BS2GD would report, or would not evaluate by its single-point
// path, is refused without a message, so that the caller hands it to BS2GD.
TEST(PreparedPoint, RefusesSilentlyWhatBs2gdWouldReport) {
  const Surface<float> s(grid_x<float>(), grid_y<float>(), 3, 3, [](double x, double y) { return x + y; });
  ErrorRecorder rec;
  PreparedPoint pp;
  auto prep = [&](int dx, int dy, float x, float y, int kx, int ky, int nx, int ny) {
    return prepare_point(dx, dy, x, y, kx, ky, s.tx.data(), s.ty.data(), nx, ny, pp);
  };
  EXPECT_TRUE(prep(0, 0, 5.0f, 1.0f, 3, 3, 11, 8));
  EXPECT_TRUE(pp.ready);
  EXPECT_FALSE(prep(0, 0, -0.5f, 1.0f, 3, 3, 11, 8));  // outside in x
  EXPECT_FALSE(pp.ready);
  EXPECT_FALSE(prep(0, 0, 5.0f, 4.5f, 3, 3, 11, 8));   // outside in y
  EXPECT_FALSE(prep(0, 0, std::numeric_limits<float>::quiet_NaN(), 1.0f, 3, 3, 11, 8));
  EXPECT_FALSE(prep(-1, 0, 5.0f, 1.0f, 3, 3, 11, 8));
  EXPECT_FALSE(prep(0, -1, 5.0f, 1.0f, 3, 3, 11, 8));
  EXPECT_FALSE(prep(0, 0, 5.0f, 1.0f, 0, 3, 11, 8));
  EXPECT_FALSE(prep(0, 0, 5.0f, 1.0f, 3, 0, 11, 8));
  EXPECT_FALSE(prep(0, 0, 5.0f, 1.0f, 3, 3, 2, 8));
  EXPECT_FALSE(prep(0, 0, 5.0f, 1.0f, 3, 3, 11, 2));
  EXPECT_FALSE(prep(0, 0, 5.0f, 1.0f, PreparedPoint::kMaxOrder + 1, 3, 11, 8));
  EXPECT_TRUE(rec.events().empty());
}

}  // namespace
}  // namespace zalk::toolkit
