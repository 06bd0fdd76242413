#include "toolkit/bessel.h"

#include <cmath>
#include <cstdint>

#include "toolkit/bessel_tables.h"

// Only +, -, *, / and sqrt (all correctly rounded under IEEE 754) are used,
// in a fixed order, so the results are the same bits wherever the build runs
// with double-width SSE2 arithmetic and no contraction into FMA. Where more
// than a double's precision is needed, values are carried as unevaluated
// sums hi + lo of two doubles.

namespace zalk::toolkit {
namespace {

namespace data = bessel_data;

struct Pair {
  double hi, lo;
};

// Error-free transformations (Knuth, Dekker).
Pair two_sum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

Pair quick_two_sum(double a, double b) {  // |a| >= |b|
  const double s = a + b;
  return {s, b - (s - a)};
}

Pair split(double a) {
  const double t = 134217729.0 * a;  // 2^27 + 1
  const double hi = t - (t - a);
  return {hi, a - hi};
}

Pair two_prod(double a, double b) {
  const double p = a * b;
  const Pair as = split(a), bs = split(b);
  const double e = ((as.hi * bs.hi - p) + as.hi * bs.lo + as.lo * bs.hi) + as.lo * bs.lo;
  return {p, e};
}

Pair add(Pair a, Pair b) {
  const Pair s = two_sum(a.hi, b.hi);
  return quick_two_sum(s.hi, s.lo + (a.lo + b.lo));
}

Pair mul(Pair a, Pair b) {
  const Pair p = two_prod(a.hi, b.hi);
  return quick_two_sum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

Pair div(Pair a, double b) {
  const double q = a.hi / b;
  const Pair p = two_prod(q, b);
  return quick_two_sum(q, (((a.hi - p.hi) - p.lo) + a.lo) / b);
}

// --- Below data::kTableEnd: piecewise polynomials ---------------------------

// The interval's polynomial in d = x - center; the center is a zero of the
// function where one is near, so d and the value keep their relative accuracy.
double table_value(const data::Piece (&table)[data::kIntervals], int index, double x) {
  const data::Piece& p = table[index];
  const double d = (x - p.center_hi) - p.center_lo;
  double s = p.c[data::kCoeffs - 1];
  for (int k = data::kCoeffs - 2; k >= 0; --k) s = s * d + p.c[k];
  return s;
}

int table_index(double x) { return static_cast<int>(x * (1.0 / data::kStep)); }

// --- Above it: J_n(x) = M cos(x - (2n+1) pi/4 + phi) -------------------------

// Beyond this the reduction by pi/4 is no longer exact (kPi4 pieces of 32 bits).
constexpr double kExactReduction = 1048576.0;  // 2^20
// In the sine quadrant closer than this to a zero the phase correction is
// formed to a pair's full precision.
constexpr double kNearZero = 0.0078125;  // 2^-7
// Leading phase terms used away from the zeros (error below 1e-21 at x >= 40).
constexpr int kFastPhaseTerms = 10;

// x = (2k+1) pi/4 + r with r as a pair, |r| <= pi/4.
struct Reduced {
  std::int64_t k;
  Pair r;
  double inv_x;  // 1/x and 1/x^2 of the true argument
  double u;
  double x;
};

Reduced reduce(double x) {
  Reduced out{};
  out.x = x;
  out.inv_x = 1.0 / x;
  out.u = out.inv_x * out.inv_x;
  double xr = x;
  if (xr >= kExactReduction) {
    // Far beyond the range of full accuracy: a deterministic reduction by a
    // double's 2 pi, whose phase error grows like 4e-17 x.
    xr = std::fmod(xr, 6.283185307179586);
  }
  const double k = std::floor(xr * data::kTwoOverPi);
  const double K = 2.0 * k + 1.0;
  const double s1 = xr - K * data::kPi4[0];  // exact: both terms within a factor 2
  const Pair s2 = two_sum(s1, -(K * data::kPi4[1]));
  const Pair s3 = two_sum(s2.hi, -(K * data::kPi4[2]));
  const double lo = (s2.lo + s3.lo) - K * data::kPi4[3];
  out.r = quick_two_sum(s3.hi, lo);
  out.k = static_cast<std::int64_t>(k);
  return out;
}

double modulus(int n, const Reduced& a) {
  const double* s = data::kAsym[n].s;
  double S = s[data::kModTerms - 1];
  for (int k = data::kModTerms - 2; k >= 0; --k) S = S * a.u + s[k];
  return std::sqrt(data::kTwoOverPi * S / a.x);
}

// phi = G(u)/x: the leading term as a pair, the rest in double.
Pair phase_fast(int n, const Reduced& a) {
  const double* g = data::kAsym[n].g;
  double G = g[kFastPhaseTerms - 1];
  for (int k = kFastPhaseTerms - 2; k >= 1; --k) G = G * a.u + g[k];
  const Pair lead = div(Pair{g[0], 0.0}, a.x);
  return quick_two_sum(lead.hi, lead.lo + G * a.u * a.inv_x);
}

// phi to a pair's precision: the leading terms of G(u) in pairs.
Pair phase_exact(int n, const Reduced& a) {
  const data::Asymptotic& c = data::kAsym[n];
  double tail = c.g[data::kPhaseTerms - 1];
  for (int k = data::kPhaseTerms - 2; k >= data::kPhaseExact; --k) tail = tail * a.u + c.g[k];
  const Pair inv = div(Pair{1.0, 0.0}, a.x);
  const Pair u = mul(inv, inv);
  Pair G{tail, 0.0};
  for (int k = data::kPhaseExact - 1; k >= 0; --k) G = add(mul(G, u), Pair{c.g[k], c.g_lo[k]});
  return mul(G, inv);
}

// sin and cos of t = hi + lo, |t| <= 0.84, by their Taylor series.
double sin_pair(Pair t) {
  const double z = t.hi * t.hi;
  double p = -1.0 / 121645100408832000.0;  // -1/19!
  p = p * z + 1.0 / 355687428096000.0;
  p = p * z - 1.0 / 1307674368000.0;
  p = p * z + 1.0 / 6227020800.0;
  p = p * z - 1.0 / 39916800.0;
  p = p * z + 1.0 / 362880.0;
  p = p * z - 1.0 / 5040.0;
  p = p * z + 1.0 / 120.0;
  p = p * z - 1.0 / 6.0;
  return t.hi + (t.hi * z * p + t.lo * (1.0 - 0.5 * z));
}

double cos_pair(Pair t) {
  const double z = t.hi * t.hi;
  double q = -1.0 / 6402373705728000.0;  // -1/18!
  q = q * z + 1.0 / 20922789888000.0;
  q = q * z - 1.0 / 87178291200.0;
  q = q * z + 1.0 / 479001600.0;
  q = q * z - 1.0 / 3628800.0;
  q = q * z + 1.0 / 40320.0;
  q = q * z - 1.0 / 720.0;
  q = q * z + 1.0 / 24.0;
  const double hz = 0.5 * z;
  const double w = 1.0 - hz;
  return w + (((1.0 - w) - hz) + (z * z * q - t.hi * t.lo));
}

// J_n for x >= kTableEnd from its reduced argument.
double asymptotic_value(int n, const Reduced& a) {
  const unsigned quadrant = static_cast<unsigned>(a.k - n) & 3u;
  const bool sine = quadrant & 1u;
  Pair t = add(a.r, phase_fast(n, a));
  if (sine && std::abs(t.hi) < kNearZero) t = add(a.r, phase_exact(n, a));
  const double c = sine ? sin_pair(t) : cos_pair(t);
  const double v = (quadrant == 1 || quadrant == 2) ? -c : c;
  return modulus(n, a) * v;
}

// --- Common handling of sign and special arguments ---------------------------

template <int N>
constexpr const data::Piece (&table_of())[data::kIntervals] {
  if constexpr (N == 0) return data::kJ0;
  else if constexpr (N == 1) return data::kJ1;
  else return data::kJ2;
}

template <int N>
double bessel(double x) {
  const auto& table = table_of<N>();
  const double ax = std::abs(x);
  double v;
  if (ax < data::kTableEnd) {
    v = table_value(table, table_index(ax), ax);
  } else if (ax <= 1.7976931348623157e308) {
    v = asymptotic_value(N, reduce(ax));
  } else {
    return ax == ax ? 0.0 : x;  // J(+-inf) = 0, NaN stays NaN
  }
  return (N == 1 && std::signbit(x)) ? -v : v;
}

}  // namespace

double bessel_j0(double x) { return bessel<0>(x); }
double bessel_j1(double x) { return bessel<1>(x); }
double bessel_j2(double x) { return bessel<2>(x); }

void bessel_j0_j1(double x, double& j0, double& j1) {
  const double ax = std::abs(x);
  if (ax < data::kTableEnd) {
    const int i = table_index(ax);
    j0 = table_value(data::kJ0, i, ax);
    j1 = table_value(data::kJ1, i, ax);
  } else if (ax <= 1.7976931348623157e308) {
    const Reduced a = reduce(ax);
    j0 = asymptotic_value(0, a);
    j1 = asymptotic_value(1, a);
  } else {
    j0 = j1 = ax == ax ? 0.0 : x;
    return;
  }
  if (std::signbit(x)) j1 = -j1;
}

}  // namespace zalk::toolkit
