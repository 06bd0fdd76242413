// The DSPLEZ kinds other than the not-a-knot B-spline interpolants.
//
// Every kind builds a piecewise polynomial (breakpoints and, per piece, the
// Taylor coefficients at its left end) and evaluates it, or a derivative of
// it, at the sorted points; points outside the breakpoints take the end
// pieces, as the B-spline kinds do. Choices made here:
//
//  1  (DC2INT) cubic interpolant with not-a-knot ends; two points give the
//     line, three the parabola through them.
//  2  (DC2AKM) Akima's cubic: local slopes from weighted neighbouring
//     secants, secants extended linearly by two beyond each end.
//  3  (DC2CON) shape-preserving C1 interpolant of degree at most 3. Slopes at
//     the data are weighted harmonic means of the neighbouring secants (zero
//     at a local extremum of the data); each interval takes the cubic Hermite
//     piece, or, where that cubic would lose the convexity or concavity of
//     the data, two quadratic pieces joined at an inserted breakpoint. The
//     result is monotone wherever the data are monotone and convex (concave)
//     wherever they are.
//  9  (DC2SCV) cubic smoothing spline minimising sum (f_i - g(x_i))^2 +
//     lambda * integral g''^2 (natural ends), lambda minimising the
//     generalised cross-validation score (coarse scan in log lambda, then a
//     golden-section refinement).
//  10..12 (DB2LSQ) least-squares B-spline fit of order k = ITYPE - 8 with
//     m = k + (NDATA - k + 1) / 2 coefficients: k-fold end knots at the first
//     and last abscissa, interior knots spread evenly over the data by index.
//  13..15 (DB2VLS) the same fit with order k = ITYPE - 11, its interior knots
//     then moved one at a time by golden-section search to lower the residual
//     sum of squares of the fit near the knot (at most three sweeps; a sweep
//     is kept only when it lowers the residual of the whole fit, so the
//     result never fits worse than kinds 10..12, and the cost grows about
//     linearly with NDATA).
#include "toolkit/splez_kinds.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <vector>

#include "toolkit/errors.h"
#include "toolkit/splez_messages.h"

namespace zalk::toolkit::detail {
namespace {

using Vec = std::vector<double>;

// Piece j covers [breaks[j], breaks[j+1]); coef[j*order + i] is the i-th
// derivative at breaks[j] divided by i!.
struct Piecewise {
  int order = 0;
  Vec breaks;
  Vec coef;
};

// ---------------------------------------------------------------- evaluation

void evaluate(const Piecewise& pp, int IDER, int N, const double* XV, double* VALUE) {
  const int pieces = static_cast<int>(pp.breaks.size()) - 1;
  int j = 0;
  for (int p = 0; p < N; ++p) {
    const double x = XV[p];
    // XV ascends, so the piece index only moves forward.
    while (j < pieces - 1 && x >= pp.breaks[j + 1]) ++j;
    const double h = x - pp.breaks[j];
    const double* c = &pp.coef[static_cast<std::size_t>(j) * pp.order];
    double v = 0.0;
    for (int i = pp.order - 1; i >= IDER; --i) {
      double falling = 1.0;  // i! / (i - IDER)!
      for (int q = 0; q < IDER; ++q) falling *= i - q;
      v = v * h + falling * c[i];
    }
    VALUE[p] = IDER >= pp.order ? 0.0 : v;
  }
}

// ------------------------------------------------------ cubic Hermite pieces

void add_hermite_piece(Piecewise& pp, double x0, double x1, double f0, double f1, double s0,
                       double s1) {
  const double h = x1 - x0;
  const double delta = (f1 - f0) / h;
  pp.breaks.push_back(x0);
  pp.coef.insert(pp.coef.end(), {f0, s0, (3.0 * delta - 2.0 * s0 - s1) / h,
                                 (s0 + s1 - 2.0 * delta) / (h * h)});
}

Piecewise hermite_spline(int n, const double* x, const double* f, const Vec& slope) {
  Piecewise pp;
  pp.order = 4;
  for (int i = 0; i + 1 < n; ++i) add_hermite_piece(pp, x[i], x[i + 1], f[i], f[i + 1], slope[i], slope[i + 1]);
  pp.breaks.push_back(x[n - 1]);
  return pp;
}

Vec secants(int n, const double* x, const double* f) {
  Vec d(n - 1);
  for (int i = 0; i + 1 < n; ++i) d[i] = (f[i + 1] - f[i]) / (x[i + 1] - x[i]);
  return d;
}

// ------------------------------------------------ kind 1: not-a-knot cubic

// Solves the tridiagonal system sub(i) s(i-1) + diag(i) s(i) + sup(i) s(i+1) = rhs(i)
// by elimination without pivoting (the slope systems here do not need it).
Vec solve_tridiagonal(Vec sub, Vec diag, Vec sup, Vec rhs) {
  const std::size_t n = diag.size();
  for (std::size_t i = 1; i < n; ++i) {
    const double factor = sub[i] / diag[i - 1];
    diag[i] -= factor * sup[i - 1];
    rhs[i] -= factor * rhs[i - 1];
  }
  Vec s(n);
  s[n - 1] = rhs[n - 1] / diag[n - 1];
  for (std::size_t i = n - 1; i-- > 0;) s[i] = (rhs[i] - sup[i] * s[i + 1]) / diag[i];
  return s;
}

Vec not_a_knot_slopes(int n, const double* x, const double* f) {
  const Vec d = secants(n, x, f);
  Vec h(n - 1);
  for (int i = 0; i + 1 < n; ++i) h[i] = x[i + 1] - x[i];
  if (n == 2) return {d[0], d[0]};
  if (n == 3) {
    // The parabola through the three points.
    const double c = (d[1] - d[0]) / (h[0] + h[1]);
    return {d[0] - c * h[0], d[0] + c * h[0], d[0] + c * (h[0] + 2.0 * h[1])};
  }
  Vec sub(n, 0.0), diag(n), sup(n, 0.0), rhs(n);
  // Interior rows: continuity of the second derivative.
  for (int i = 1; i + 1 < n; ++i) {
    sub[i] = h[i];
    diag[i] = 2.0 * (h[i - 1] + h[i]);
    sup[i] = h[i - 1];
    rhs[i] = 3.0 * (h[i] * d[i - 1] + h[i - 1] * d[i]);
  }
  // End rows: equal third derivatives on both sides of the second (and the
  // last but one) point, with the third slope eliminated through row 1.
  diag[0] = h[1];
  sup[0] = h[0] + h[1];
  rhs[0] = (d[0] * h[1] * (2.0 * h[1] + 3.0 * h[0]) + d[1] * h[0] * h[0]) / (h[0] + h[1]);
  const int l = n - 2;  // last interval
  sub[n - 1] = h[l] + h[l - 1];
  diag[n - 1] = h[l - 1];
  rhs[n - 1] = (d[l] * h[l - 1] * (2.0 * h[l - 1] + 3.0 * h[l]) + d[l - 1] * h[l] * h[l]) /
               (h[l] + h[l - 1]);
  return solve_tridiagonal(sub, diag, sup, rhs);
}

// ------------------------------------------------------------ kind 2: Akima

// The weighted mean of akima_slopes with the weights scaled to at most 1:
// with secants beyond about 1e154 the plain products overflow. Used only
// where the plain form failed, so that other slopes keep their bits.
double scaled_akima_slope(double wl, double wr, double ml, double mr) {
  const double scale = std::max(wl, wr);
  if (!(scale > 0.0) || !std::isfinite(scale)) return 0.5 * ml + 0.5 * mr;
  const double a = wl / scale;
  const double b = wr / scale;
  return (a * ml + b * mr) / (a + b);
}

Vec akima_slopes(int n, const double* x, const double* f) {
  const Vec d = secants(n, x, f);
  // m[i + 2] is the secant of interval i; two extrapolated secants each side.
  Vec m(n + 3);
  for (int i = 0; i + 1 < n; ++i) m[i + 2] = d[i];
  m[1] = 2.0 * m[2] - m[3];
  m[0] = 2.0 * m[1] - m[2];
  m[n + 1] = 2.0 * m[n] - m[n - 1];
  m[n + 2] = 2.0 * m[n + 1] - m[n];
  Vec s(n);
  for (int i = 0; i < n; ++i) {
    // Secants left of x(i): m[i+1], m[i]; right of it: m[i+2], m[i+3].
    const double wl = std::abs(m[i + 3] - m[i + 2]);
    const double wr = std::abs(m[i + 1] - m[i]);
    s[i] = (wl + wr > 0.0) ? (wl * m[i + 1] + wr * m[i + 2]) / (wl + wr)
                           : 0.5 * (m[i + 1] + m[i + 2]);
    if (!std::isfinite(s[i])) s[i] = scaled_akima_slope(wl, wr, m[i + 1], m[i + 2]);
  }
  return s;
}

// ------------------------------------------------- kind 3: shape-preserving

Vec shape_preserving_slopes(int n, const double* x, const double* f) {
  const Vec d = secants(n, x, f);
  Vec s(n, 0.0);
  for (int i = 1; i + 1 < n; ++i) {
    if (d[i - 1] * d[i] <= 0.0) continue;  // extremum or flat: zero slope
    // Harmonic mean weighted by the interval lengths: it lies between the two
    // secants and is at most twice the smaller one.
    const double hl = x[i] - x[i - 1], hr = x[i + 1] - x[i];
    s[i] = (hl + hr) / (hl / d[i - 1] + hr / d[i]);
  }
  // End slopes make the end interval's quadratic meet the secant; they keep
  // the sign of the end secant (at most 3/2 of it) or are set to zero.
  auto end_slope = [](double secant, double inner) {
    const double v = 0.5 * (3.0 * secant - inner);
    return v * secant > 0.0 ? v : 0.0;
  };
  if (n == 2) {
    s[0] = s[1] = d[0];
  } else {
    s[0] = end_slope(d[0], s[1]);
    s[n - 1] = end_slope(d[n - 2], s[n - 2]);
  }
  return s;
}

// A Hermite cubic with end slopes s0, s1 has a second derivative that is
// linear over the interval; it keeps the sign of (s1 - s0) when the slope
// excesses a = delta - s0 and b = s1 - delta satisfy a/2 <= b <= 2a. When
// delta is not strictly between s0 and s1 the data do not curve one way here
// (or, for collinear neighbours, no C1 interpolant could keep the curvature).
bool cubic_keeps_curvature(double delta, double s0, double s1) {
  const double a = delta - s0, b = s1 - delta;
  if (a * b <= 0.0) return true;
  const double sign = a > 0.0 ? 1.0 : -1.0;
  return sign * (2.0 * a - b) >= 0.0 && sign * (2.0 * b - a) >= 0.0;
}

// Two quadratic pieces for an interval whose secant delta lies strictly
// between the end slopes s0 and s1. Joined at x0 + t h with slope z, they
// interpolate when z = 2 delta - s0 t - s1 (1 - t); t = 1 - r with
// r = (delta - s0) / (s1 - s0) in (0, 1) gives z = delta, so the slope runs
// monotonically from s0 through delta to s1: the pieces keep the curvature,
// and the monotonicity when s0 and s1 have the sign of delta.
void add_two_quadratics(Piecewise& pp, double x0, double x1, double f0, double f1, double s0,
                        double s1) {
  const double h = x1 - x0;
  const double delta = (f1 - f0) / h;
  const double t = 1.0 - (delta - s0) / (s1 - s0);
  const double xi = x0 + t * h;
  if (!(xi > x0 && xi < x1)) {
    // delta lies within rounding of an end slope: the cubic is as good.
    add_hermite_piece(pp, x0, x1, f0, f1, s0, s1);
    return;
  }
  const double z = delta;
  const double a = xi - x0, b = x1 - xi;
  pp.breaks.push_back(x0);
  pp.coef.insert(pp.coef.end(), {f0, s0, 0.5 * (z - s0) / a, 0.0});
  pp.breaks.push_back(xi);
  pp.coef.insert(pp.coef.end(), {f0 + 0.5 * (s0 + z) * a, z, 0.5 * (s1 - z) / b, 0.0});
}

Piecewise shape_preserving(int n, const double* x, const double* f) {
  const Vec s = shape_preserving_slopes(n, x, f);
  Piecewise pp;
  pp.order = 4;
  for (int i = 0; i + 1 < n; ++i) {
    const double delta = (f[i + 1] - f[i]) / (x[i + 1] - x[i]);
    if (cubic_keeps_curvature(delta, s[i], s[i + 1])) {
      add_hermite_piece(pp, x[i], x[i + 1], f[i], f[i + 1], s[i], s[i + 1]);
    } else {
      add_two_quadratics(pp, x[i], x[i + 1], f[i], f[i + 1], s[i], s[i + 1]);
    }
  }
  pp.breaks.push_back(x[n - 1]);
  return pp;
}

// -------------------------------------------------- kind 9: smoothing spline

// The Reinsch form: with Q (n x (n-2)) the second-difference matrix and R
// ((n-2) x (n-2)) the tridiagonal Gram matrix of the hat functions, the
// second derivatives gamma at the interior points solve
// (R + lambda Q'Q) gamma = Q'f and the fitted values are g = f - lambda Q gamma.
class SmoothingSpline {
 public:
  SmoothingSpline(int n, const double* x, const double* f) : n_(n), p_(n - 2), x_(x), f_(f) {
    h_.resize(n - 1);
    for (int i = 0; i + 1 < n; ++i) h_[i] = x[i + 1] - x[i];
    r0_.resize(p_);
    r1_.assign(p_, 0.0);
    for (int c = 0; c < p_; ++c) {
      r0_[c] = (h_[c] + h_[c + 1]) / 3.0;
      if (c + 1 < p_) r1_[c] = h_[c + 1] / 6.0;
    }
    // Q'Q as three diagonals, and Q'f.
    qq0_.assign(p_, 0.0);
    qq1_.assign(p_, 0.0);
    qq2_.assign(p_, 0.0);
    qtf_.assign(p_, 0.0);
    for (int c = 0; c < p_; ++c) {
      const auto q = column(c);
      qq0_[c] = q[0] * q[0] + q[1] * q[1] + q[2] * q[2];
      if (c + 1 < p_) {
        const auto q1 = column(c + 1);
        qq1_[c] = q[1] * q1[0] + q[2] * q1[1];
      }
      if (c + 2 < p_) qq2_[c] = q[2] * column(c + 2)[0];
      qtf_[c] = q[0] * f[c] + q[1] * f[c + 1] + q[2] * f[c + 2];
    }
    tr_r_ = tr_qq_ = 0.0;
    for (int c = 0; c < p_; ++c) {
      tr_r_ += r0_[c];
      tr_qq_ += qq0_[c];
    }
  }

  // Factors R + lambda Q'Q, solves for gamma and returns the GCV score.
  double gcv(double lambda) {
    factor(lambda);
    solve();
    double rss = 0.0;
    for (int i = 0; i < n_; ++i) {
      const double r = lambda * q_gamma(i);
      rss += r * r;
    }
    const double trace = lambda * trace_s_qq();
    return trace > 0.0 ? n_ * rss / (trace * trace) : 0.0;
  }

  // Scale that makes lambda comparable between R and Q'Q.
  double lambda_scale() const { return tr_r_ / tr_qq_; }

  Piecewise pieces(double lambda) {
    factor(lambda);
    solve();
    Vec g(n_), second(n_, 0.0);
    for (int i = 0; i < n_; ++i) g[i] = f_[i] - lambda * q_gamma(i);
    for (int c = 0; c < p_; ++c) second[c + 1] = gamma_[c];
    Piecewise pp;
    pp.order = 4;
    for (int i = 0; i + 1 < n_; ++i) {
      const double h = h_[i];
      pp.breaks.push_back(x_[i]);
      pp.coef.insert(pp.coef.end(),
                     {g[i], (g[i + 1] - g[i]) / h - h * (2.0 * second[i] + second[i + 1]) / 6.0,
                      0.5 * second[i], (second[i + 1] - second[i]) / (6.0 * h)});
    }
    pp.breaks.push_back(x_[n_ - 1]);
    return pp;
  }

 private:
  // The three entries of column c of Q, in rows c, c+1, c+2.
  std::array<double, 3> column(int c) const {
    return {1.0 / h_[c], -1.0 / h_[c] - 1.0 / h_[c + 1], 1.0 / h_[c + 1]};
  }

  // (Q gamma)(i).
  double q_gamma(int i) const {
    double v = 0.0;
    for (int c = std::max(0, i - 2); c <= std::min(p_ - 1, i); ++c) v += column(c)[i - c] * gamma_[c];
    return v;
  }

  // LDL' of the pentadiagonal R + lambda Q'Q: l1(c) = L(c+1,c), l2(c) = L(c+2,c).
  void factor(double lambda) {
    d_.assign(p_, 0.0);
    l1_.assign(p_, 0.0);
    l2_.assign(p_, 0.0);
    for (int c = 0; c < p_; ++c) {
      double dc = r0_[c] + lambda * qq0_[c];
      if (c >= 1) dc -= l1_[c - 1] * l1_[c - 1] * d_[c - 1];
      if (c >= 2) dc -= l2_[c - 2] * l2_[c - 2] * d_[c - 2];
      d_[c] = dc;
      if (c + 1 < p_) {
        double m1 = r1_[c] + lambda * qq1_[c];
        if (c >= 1) m1 -= l2_[c - 1] * l1_[c - 1] * d_[c - 1];
        l1_[c] = m1 / dc;
      }
      l2_[c] = lambda * qq2_[c] / dc;
    }
  }

  void solve() {
    gamma_.assign(p_, 0.0);
    for (int c = 0; c < p_; ++c) {
      double z = qtf_[c];
      if (c >= 1) z -= l1_[c - 1] * gamma_[c - 1];
      if (c >= 2) z -= l2_[c - 2] * gamma_[c - 2];
      gamma_[c] = z;
    }
    for (int c = 0; c < p_; ++c) gamma_[c] /= d_[c];
    for (int c = p_ - 1; c >= 0; --c) {
      if (c + 1 < p_) gamma_[c] -= l1_[c] * gamma_[c + 1];
      if (c + 2 < p_) gamma_[c] -= l2_[c] * gamma_[c + 2];
    }
  }

  // trace(S Q'Q) with S the inverse of the factored matrix; only the band
  // of S within Q'Q's band is needed, and it follows from the LDL' factors
  // by the backward recursion S = D^-1 L^-1 + (I - L') S.
  double trace_s_qq() const {
    Vec s0(p_ + 2, 0.0), s1(p_ + 2, 0.0), s2(p_ + 2, 0.0);  // S(c,c), S(c,c+1), S(c,c+2)
    double trace = 0.0;
    for (int c = p_ - 1; c >= 0; --c) {
      s2[c] = -l1_[c] * s1[c + 1] - l2_[c] * s0[c + 2];
      s1[c] = -l1_[c] * s0[c + 1] - l2_[c] * s1[c + 1];
      s0[c] = 1.0 / d_[c] - l1_[c] * s1[c] - l2_[c] * s2[c];
      trace += s0[c] * qq0_[c] + 2.0 * (s1[c] * qq1_[c] + s2[c] * qq2_[c]);
    }
    return trace;
  }

  int n_, p_;
  const double* x_;
  const double* f_;
  Vec h_, r0_, r1_, qq0_, qq1_, qq2_, qtf_;
  double tr_r_ = 0.0, tr_qq_ = 0.0;
  Vec d_, l1_, l2_, gamma_;
};

constexpr double kGolden = 0.6180339887498949;

// Minimises fn over [lo, hi] by golden-section search; returns the best point seen.
template <class F>
double golden_minimum(F&& fn, double lo, double hi, int iterations, double& best_value) {
  double a = lo, b = hi;
  double c = b - kGolden * (b - a), d = a + kGolden * (b - a);
  double fc = fn(c), fd = fn(d);
  double best = fc <= fd ? c : d;
  best_value = std::min(fc, fd);
  for (int it = 0; it < iterations; ++it) {
    if (fc <= fd) {
      b = d;
      d = c;
      fd = fc;
      c = b - kGolden * (b - a);
      fc = fn(c);
      if (fc < best_value) best_value = fc, best = c;
    } else {
      a = c;
      c = d;
      fc = fd;
      d = a + kGolden * (b - a);
      fd = fn(d);
      if (fd < best_value) best_value = fd, best = d;
    }
  }
  return best;
}

Piecewise smoothing_spline(int n, const double* x, const double* f) {
  SmoothingSpline s(n, x, f);
  const double scale = s.lambda_scale();
  auto score = [&](double log10p) { return s.gcv(scale * std::pow(10.0, log10p)); };
  // Coarse scan over twenty decades, then refine around the best grid point.
  constexpr double kLow = -14.0, kHigh = 6.0, kStep = 0.25;
  double best_log = kLow, best_score = score(kLow);
  for (double t = kLow + kStep; t <= kHigh + 1e-9; t += kStep) {
    const double v = score(t);
    if (v < best_score) best_score = v, best_log = t;
  }
  double refined_score = 0.0;
  const double refined = golden_minimum(score, best_log - kStep, best_log + kStep, 40, refined_score);
  if (refined_score < best_score) best_log = refined;
  return s.pieces(scale * std::pow(10.0, best_log));
}

// ------------------------------------------- kinds 10..15: least squares

// Values of the k B-splines that are nonzero on [t(i), t(i+1)] at x.
void bspline_values(const Vec& t, int k, int i, double x, double* b) {
  double left[8], right[8];
  b[0] = 1.0;
  for (int j = 1; j < k; ++j) {
    left[j] = x - t[i + 1 - j];
    right[j] = t[i + j] - x;
    double saved = 0.0;
    for (int r = 0; r < j; ++r) {
      const double temp = b[r] / (right[r + 1] + left[j - r]);
      b[r] = saved + right[r + 1] * temp;
      saved = left[j - r] * temp;
    }
    b[j] = saved;
  }
}

// Index i with t(i) <= x < t(i+1) among the m spline intervals; the last
// interval also takes its right end.
int knot_interval(const Vec& t, int k, int m, double x, int from) {
  int i = std::max(from, k - 1);
  while (i < m - 1 && x >= t[i + 1]) ++i;
  return i;
}

struct LeastSquaresFit {
  Vec coef;
  double rss = 0.0;
};

// Least-squares B-spline coefficients for knots t (m + k values) by Givens
// rotations into a banded triangle; columns without data get a zero
// coefficient instead of a division by zero.
LeastSquaresFit least_squares(int n, const double* x, const double* f, const Vec& t, int k, int m) {
  Vec band(static_cast<std::size_t>(m) * k, 0.0), rhs(m, 0.0);
  double row[8];
  double rss = 0.0;
  int interval = k - 1;
  for (int p = 0; p < n; ++p) {
    interval = knot_interval(t, k, m, x[p], interval);
    const int first = interval - k + 1;
    bspline_values(t, k, interval, x[p], row);
    double y = f[p];
    for (int j = 0; j < k; ++j) {
      const int col = first + j;
      double* r = &band[static_cast<std::size_t>(col) * k];
      const double a = row[j];
      if (a == 0.0) continue;
      const double rho = std::hypot(r[0], a);
      const double c = r[0] / rho, s = a / rho;
      r[0] = rho;
      for (int q = 1; q < k - j; ++q) {
        const double u = r[q], v = row[j + q];
        r[q] = c * u + s * v;
        row[j + q] = -s * u + c * v;
      }
      const double u = rhs[col];
      rhs[col] = c * u + s * y;
      y = -s * u + c * y;
    }
    rss += y * y;  // the part of f(p) no rotation could absorb
  }
  double largest = 0.0;
  for (int col = 0; col < m; ++col) largest = std::max(largest, std::abs(band[static_cast<std::size_t>(col) * k]));
  LeastSquaresFit fit;
  fit.coef.assign(m, 0.0);
  for (int col = m - 1; col >= 0; --col) {
    const double* r = &band[static_cast<std::size_t>(col) * k];
    if (std::abs(r[0]) <= 1e-13 * largest) continue;
    double v = rhs[col];
    for (int q = 1; q < k && col + q < m; ++q) v -= r[q] * fit.coef[col + q];
    fit.coef[col] = v / r[0];
  }
  fit.rss = rss;
  return fit;
}

int default_coefficient_count(int n, int k) { return k + (n - k + 1) / 2; }

// k-fold end knots at the data ends, interior knots at evenly spaced
// fractional data indices.
Vec default_knots(int n, const double* x, int k, int m) {
  Vec t(static_cast<std::size_t>(m) + k);
  for (int j = 0; j < k; ++j) {
    t[j] = x[0];
    t[m + j] = x[n - 1];
  }
  const int interior = m - k;
  for (int j = 1; j <= interior; ++j) {
    const double pos = static_cast<double>(j) * (n - 1) / (interior + 1);
    const int lo = std::min(static_cast<int>(pos), n - 2);
    const double frac = pos - lo;
    t[k - 1 + j] = x[lo] + frac * (x[lo + 1] - x[lo]);
  }
  return t;
}

// Residual of the least-squares fit restricted to the knot intervals
// lo .. hi - 1 (indices into t): the data there, fitted by the B-splines that
// are nonzero there. Moving one knot changes the fit mostly nearby, so this
// small problem ranks candidate positions at a fraction of the cost.
double local_residual(int n, const double* x, const double* f, const Vec& t, int k, int lo, int hi) {
  const double* first = std::lower_bound(x, x + n, t[lo]);
  const double* last = std::upper_bound(x, x + n, t[hi]);
  const Vec sub(t.begin() + (lo - k + 1), t.begin() + (hi + k));
  const int m_sub = hi - lo + k - 1;
  const int count = static_cast<int>(last - first);
  if (count == 0) return 0.0;
  return least_squares(count, first, f + (first - x), sub, k, m_sub).rss;
}

// Moves each interior knot within the gap left by its neighbours to the
// position a golden-section search finds best for the fit near the knot. A
// sweep over all knots is kept only when it lowers the residual of the whole
// fit; otherwise its knots are restored and the search ends.
void optimise_knots(int n, const double* x, const double* f, Vec& t, int k, int m) {
  constexpr int kSweeps = 3;
  constexpr int kSearchSteps = 24;
  const int reach = k + 1;  // knot intervals on each side seen by the local fit
  double current = least_squares(n, x, f, t, k, m).rss;
  for (int sweep = 0; sweep < kSweeps; ++sweep) {
    const Vec before = t;
    for (int j = k; j < m; ++j) {
      const double lo = t[j - 1], hi = t[j + 1];
      if (!(hi - lo > 0.0)) continue;
      const double margin = 1e-3 * (hi - lo);
      const int wlo = std::max(k - 1, j - reach), whi = std::min(m, j + reach);
      const double keep = t[j];
      auto residual = [&](double pos) {
        t[j] = pos;
        return local_residual(n, x, f, t, k, wlo, whi);
      };
      const double now = residual(keep);
      double found = 0.0;
      const double best = golden_minimum(residual, lo + margin, hi - margin, kSearchSteps, found);
      t[j] = found < now ? best : keep;
    }
    const double after = least_squares(n, x, f, t, k, m).rss;
    if (!(after < current)) {
      t = before;
      return;
    }
    current = after;
  }
}

// Derivatives of the B-spline at the left end of every nonempty knot interval.
Piecewise bspline_pieces(const Vec& t, int k, int m, const Vec& coef) {
  // Differenced coefficients: level[r][i] is the coefficient of B-spline
  // i + r of order k - r (on the same knots) in the r-th derivative.
  std::vector<Vec> level(k);
  level[0] = coef;
  for (int r = 1; r < k; ++r) {
    level[r].assign(m - r, 0.0);
    for (int i = 0; i < m - r; ++i) {
      const double span = t[i + k] - t[i + r];
      if (span > 0.0) level[r][i] = (k - r) * (level[r - 1][i + 1] - level[r - 1][i]) / span;
    }
  }
  Piecewise pp;
  pp.order = k;
  double factorial = 1.0;
  std::vector<double> inv_factorial(k);
  for (int r = 0; r < k; ++r) {
    if (r > 0) factorial *= r;
    inv_factorial[r] = 1.0 / factorial;
  }
  for (int i = k - 1; i < m; ++i) {
    if (!(t[i + 1] > t[i])) continue;
    pp.breaks.push_back(t[i]);
    const double x = t[i];
    for (int r = 0; r < k; ++r) {
      // De Boor's scheme for the order k - r spline on interval i.
      const int kr = k - r;
      double d[8];
      for (int j = 0; j < kr; ++j) d[j] = level[r][i - kr + 1 + j - r];
      for (int lev = 1; lev < kr; ++lev) {
        for (int j = kr - 1; j >= lev; --j) {
          const int ti = i - kr + 1 + j;
          const double denom = t[ti + kr - lev] - t[ti];
          const double alpha = denom > 0.0 ? (x - t[ti]) / denom : 0.0;
          d[j] = (1.0 - alpha) * d[j - 1] + alpha * d[j];
        }
      }
      pp.coef.push_back(d[kr - 1] * inv_factorial[r]);
    }
  }
  pp.breaks.push_back(t[m]);
  return pp;
}

Piecewise least_squares_spline(int n, const double* x, const double* f, int k, bool optimise) {
  const int m = default_coefficient_count(n, k);
  Vec t = default_knots(n, x, k, m);
  if (optimise) optimise_knots(n, x, f, t, k, m);
  return bspline_pieces(t, k, m, least_squares(n, x, f, t, k, m).coef);
}

// ------------------------------------------------------------------ dispatch

Piecewise fit(int NDATA, const double* XS, const double* FS, int ITYPE) {
  switch (ITYPE) {
    case 1: {
      RoutineScope scope("DC2INT");
      return hermite_spline(NDATA, XS, FS, not_a_knot_slopes(NDATA, XS, FS));
    }
    case 2: {
      RoutineScope scope("DC2AKM");
      return hermite_spline(NDATA, XS, FS, akima_slopes(NDATA, XS, FS));
    }
    case 3: {
      RoutineScope scope("DC2CON");
      return shape_preserving(NDATA, XS, FS);
    }
    case 9: {
      RoutineScope scope("DC2SCV");
      return smoothing_spline(NDATA, XS, FS);
    }
    default:
      if (ITYPE >= 10 && ITYPE <= 12) {
        RoutineScope scope("DB2LSQ");
        return least_squares_spline(NDATA, XS, FS, ITYPE - 8, false);
      }
      RoutineScope scope("DB2VLS");
      return least_squares_spline(NDATA, XS, FS, ITYPE - 11, true);
  }
}

}  // namespace

void splez_other_kind(int NDATA, const double* XS, const double* FS, int ITYPE, int IDER, int N,
                      const double* XV, double* VALUE) {
  if ((ITYPE < 1 || ITYPE > 3) && (ITYPE < 9 || ITYPE > 15)) {
    E1STI(1, ITYPE);
    raise(SplezMessage::kind_not_handled);
    return;
  }
  try {
    evaluate(fit(NDATA, XS, FS, ITYPE), IDER, N, XV, VALUE);
  } catch (const std::bad_alloc&) {
    E1STI(1, NDATA);
    E1STI(2, N);
    raise(SplezMessage::kind_no_storage);
  }
}

}  // namespace zalk::toolkit::detail
