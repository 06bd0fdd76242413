// Building blocks of the B-spline routines, written once for both float
// widths: interval search, de Boor-Cox basis values and derivatives, the band
// LU factorisation with its condition estimate, the univariate collocation
// solve and the conversion to piecewise-polynomial form.
//
// Every routine computes in its own type T: the 4-byte family never widens
// to double, so that its results are those of 4-byte arithmetic.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <exception>
#include <string>
#include <string_view>

#include "toolkit/bspline_messages.h"
#include "toolkit/errors.h"

namespace zalk::toolkit::bspline_detail {

// Width-dependent pieces: machine epsilon of the end knots and the way a real
// is quoted in a message (%(R<n>) for 4-byte, %(D<n>) for 8-byte values).
template <class T>
struct Family;

template <>
struct Family<float> {
  static constexpr float eps = 1.1920928955078125e-07f;
  static void store(int index, float v) { E1STR(index, v); }
  static constexpr char tag = 'R';
};

template <>
struct Family<double> {
  static constexpr double eps = 2.220446049250313e-16;
  static void store(int index, double v) { E1STD(index, v); }
  static constexpr char tag = 'D';
};

// The message text with its real placeholders in the family's notation
// (texts are written with %(R<n>)).
template <class T>
std::string family_text(std::string_view text) {
  std::string s(text);
  if constexpr (Family<T>::tag != 'R') {
    for (std::size_t i = 0; i + 2 < s.size(); ++i) {
      if (s[i] == '%' && s[i + 1] == '(' && s[i + 2] == 'R') s[i + 2] = Family<T>::tag;
    }
  }
  return s;
}

// Raises the entry (written with %(R<n>)) in the family's notation.
template <class T>
void raise(BsplineMessage e) {
  const Message& m = kBsplineMessages[static_cast<std::size_t>(e)];
  E1MES(m.type, m.code, family_text<T>(m.text));
}

// ---------------------------------------------------------------------------
// Sorting with a permutation.

// Strict weak order on reals that puts NaN last, so that sorting cannot fail
// on bad data; ties are broken by position, which keeps equal values in
// their given order.
template <class T>
struct AscendingByValue {
  const T* x;
  bool operator()(int a, int b) const {
    const T u = x[a];
    const T v = x[b];
    if (u < v) return true;
    if (v < u) return false;
    const bool un = std::isnan(u);
    const bool vn = std::isnan(v);
    if (un != vn) return vn;
    return a < b;
  }
};

// xs = x sorted ascending, x(perm(i)) = xs(i); a nondecreasing x is copied
// without sorting.
template <class T>
void sort_with_permutation(int n, const T* x, T* xs, int* perm) {
  for (int i = 0; i < n; ++i) perm[i] = i;
  bool ascending = true;
  for (int i = 0; i + 1 < n && ascending; ++i) ascending = x[i] <= x[i + 1];
  if (!ascending) std::sort(perm, perm + n, AscendingByValue<T>{x});
  for (int i = 0; i < n; ++i) xs[i] = x[perm[i]];
}

// Grows a per-thread work vector; false when the storage cannot be had.
template <class V>
bool obtain(V& v, std::size_t n) {
  try {
    if (v.size() < n) v.resize(n);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// ---------------------------------------------------------------------------
// Interval search and basis values. Knots t[0..n+k-1] (0-based), n
// coefficients, order k. Points are in [t[k-1], t[n]].

// Returns `left` in [k-1, n-1] with t[left] <= x < t[left+1]; the right end
// point t[n] belongs to the last non-empty interval.
template <class T>
int find_interval(const T* t, int k, int n, T x) {
  if (!(x < t[n])) {
    int left = n - 1;
    while (left > k - 1 && !(t[left] < t[n])) --left;
    return left;
  }
  // Invariant t[lo] <= x < t[lo + len]; halving without branches on the data.
  int lo = k - 1;
  int len = n - lo;
  while (len > 1) {
    const int half = len / 2;
    lo = (t[lo + half] <= x) ? lo + half : lo;
    len -= half;
  }
  return lo;
}

// b[r] = B(left-m+1+r, order m)(x), r = 0..m-1, by the de Boor-Cox
// recurrence in its stable form. dr and dl hold m-1 values each.
template <class T>
void basis_values(const T* t, int left, int m, T x, T* b, T* dr, T* dl) {
  b[0] = T(1);
  for (int j = 1; j < m; ++j) {
    dr[j - 1] = t[left + j] - x;
    dl[j - 1] = x - t[left + 1 - j];
    T saved = T(0);
    for (int r = 0; r < j; ++r) {
      const T term = b[r] / (dr[r] + dl[j - 1 - r]);
      b[r] = saved + dr[r] * term;
      saved = dl[j - 1 - r] * term;
    }
    b[j] = saved;
  }
}

// b[r] = the ider-th derivative of B(left-k+1+r, order k) at x, r = 0..k-1:
// values of order k-ider, raised to order k by the derivative recurrence
// D B(i,m) = (m-1) (B(i,m-1) / (t(i+m-1)-t(i)) - B(i+1,m-1) / (t(i+m)-t(i+1))).
template <class T>
void basis_derivatives(const T* t, int left, int k, int ider, T x, T* b, T* dr, T* dl) {
  if (ider >= k) {
    std::fill(b, b + k, T(0));
    return;
  }
  basis_values(t, left, k - ider, x, b, dr, dl);
  for (int m = k - ider + 1; m <= k; ++m) {
    // b[0..m-2] belong to order m-1; q(r) = (m-1) b(r) / (t(left+r+1) - t(left+r+2-m)).
    for (int r = 0; r <= m - 2; ++r) {
      b[r] = T(m - 1) * b[r] / (t[left + r + 1] - t[left + r + 2 - m]);
    }
    b[m - 1] = b[m - 2];
    for (int r = m - 2; r >= 1; --r) b[r] = b[r - 1] - b[r];
    b[0] = -b[0];
  }
}

// ---------------------------------------------------------------------------
// Band LU factorisation with partial pivoting. A (n x n) has kl sub- and ku
// superdiagonals; A(i, j) (0-based) is stored at ab[kl + ku + i - j + j * ldab]
// with ldab = 2 kl + ku + 1, the top kl rows holding the fill-in of U.

struct BandShape {
  int n;
  int kl;
  int ku;
  int upper = 0;  // superdiagonals of U actually filled, set by band_factor (<= kl + ku)
  int ldab() const { return 2 * kl + ku + 1; }
  std::size_t at(int i, int j) const {
    return static_cast<std::size_t>(kl + ku + i - j) + static_cast<std::size_t>(j) * ldab();
  }
};

// Factors in place; returns false when a pivot is exactly zero. Records in
// s.upper how far the row interchanges widened U, so that the solves skip
// the fill-in band when few or no interchanges happened.
template <class T>
bool band_factor(BandShape& s, T* ab, int* ipiv) {
  bool regular = true;
  int ju = 0;  // last column touched by the row interchanges so far
  s.upper = 0;
  for (int j = 0; j < s.n; ++j) {
    const int km = std::min(s.kl, s.n - 1 - j);
    int jp = 0;
    T big = std::abs(ab[s.at(j, j)]);
    for (int p = 1; p <= km; ++p) {
      const T v = std::abs(ab[s.at(j + p, j)]);
      if (v > big) {
        big = v;
        jp = p;
      }
    }
    ipiv[j] = j + jp;
    if (ab[s.at(j + jp, j)] == T(0)) {
      regular = false;
      continue;
    }
    ju = std::max(ju, std::min(j + s.ku + jp, s.n - 1));
    s.upper = std::max(s.upper, ju - j);
    if (jp != 0) {
      for (int c = j; c <= ju; ++c) std::swap(ab[s.at(j, c)], ab[s.at(j + jp, c)]);
    }
    const T pivot = ab[s.at(j, j)];
    for (int p = 1; p <= km; ++p) ab[s.at(j + p, j)] /= pivot;
    for (int c = j + 1; c <= ju; ++c) {
      const T u = ab[s.at(j, c)];
      if (u == T(0)) continue;
      for (int p = 1; p <= km; ++p) ab[s.at(j + p, c)] -= ab[s.at(j + p, j)] * u;
    }
  }
  return regular;
}

// Solves A X = B in place with the factors of band_factor, for nrhs
// right-hand sides stored side by side: B(i, r) = b[i * nrhs + r]. Every
// right-hand side sees the same operations in the same order as if solved
// alone; solving them together only hides the latency of the recurrences.
template <class T>
void band_solve(const BandShape& s, const T* ab, const int* ipiv, T* b, int nrhs = 1) {
  const std::size_t w = static_cast<std::size_t>(nrhs);
  for (int j = 0; j + 1 < s.n; ++j) {
    const int km = std::min(s.kl, s.n - 1 - j);
    T* bj = b + j * w;
    if (ipiv[j] != j) std::swap_ranges(bj, bj + w, b + ipiv[j] * w);
    for (int p = 1; p <= km; ++p) {
      const T l = ab[s.at(j + p, j)];
      T* bp = b + (j + p) * w;
      for (std::size_t r = 0; r < w; ++r) bp[r] -= l * bj[r];
    }
  }
  for (int j = s.n - 1; j >= 0; --j) {
    const T d = ab[s.at(j, j)];
    T* bj = b + j * w;
    for (std::size_t r = 0; r < w; ++r) bj[r] /= d;
    for (int i = std::max(0, j - s.upper); i < j; ++i) {
      const T u = ab[s.at(i, j)];
      T* bi = b + i * w;
      for (std::size_t r = 0; r < w; ++r) bi[r] -= u * bj[r];
    }
  }
}

// Solves A^T x = b in place with the factors of band_factor.
template <class T>
void band_solve_transposed(const BandShape& s, const T* ab, const int* ipiv, T* b) {
  for (int j = 0; j < s.n; ++j) {
    T sum = b[j];
    for (int i = std::max(0, j - s.upper); i < j; ++i) sum -= ab[s.at(i, j)] * b[i];
    b[j] = sum / ab[s.at(j, j)];
  }
  for (int j = s.n - 2; j >= 0; --j) {
    const int km = std::min(s.kl, s.n - 1 - j);
    T sum = b[j];
    for (int p = 1; p <= km; ++p) sum -= ab[s.at(j + p, j)] * b[j + p];
    b[j] = sum;
    if (ipiv[j] != j) std::swap(b[j], b[ipiv[j]]);
  }
}

template <class T>
T sum_abs(int n, const T* v) {
  T s = T(0);
  for (int i = 0; i < n; ++i) s += std::abs(v[i]);
  return s;
}

// Estimate of the 1-norm of A^{-1} from the factors: two steps of Hager's
// method (the second solves for the column that the first points to, which
// is where the method almost always stops) and Higham's alternating vector
// as a safeguard; y and z hold n values each. Collocation matrices are
// small-banded and usually well conditioned, so the estimate only has to
// tell "nearly singular" apart, and it costs three solves and one
// transposed solve.
template <class T>
T inverse_norm_estimate(const BandShape& s, const T* ab, const int* ipiv, T* y, T* z) {
  constexpr int kSteps = 2;
  const int n = s.n;
  std::fill(y, y + n, T(1) / T(n));
  T est = T(0);
  for (int iter = 0; iter < kSteps; ++iter) {
    band_solve(s, ab, ipiv, y);  // y = A^{-1} x
    const T norm = sum_abs(n, y);
    if (iter > 0 && !(norm > est)) break;
    est = norm;
    if (iter + 1 == kSteps) break;
    for (int i = 0; i < n; ++i) z[i] = y[i] < T(0) ? T(-1) : T(1);
    band_solve_transposed(s, ab, ipiv, z);
    int jmax = 0;
    for (int i = 1; i < n; ++i) {
      if (std::abs(z[i]) > std::abs(z[jmax])) jmax = i;
    }
    std::fill(y, y + n, T(0));
    y[jmax] = T(1);
  }
  // Alternating test vector: catches matrices on which the iteration stalls.
  for (int i = 0; i < n; ++i) {
    const T mag = T(1) + (n > 1 ? T(i) / T(n - 1) : T(0));
    y[i] = (i % 2 == 0) ? mag : -mag;
  }
  band_solve(s, ab, ipiv, y);
  const T alt = T(2) * sum_abs(n, y) / T(3 * n);
  return std::max(est, alt);
}

// ---------------------------------------------------------------------------
// Univariate interpolation at n points with knots t, for several right-hand
// sides at once.

// Names that the messages of one direction quote.
struct Direction {
  const char* axis;   // "X" or "Y"
  const char* order;  // "KXORD", "KYORD" or "KORDER"
};

// Checks the knots and the Schoenberg-Whitney conditions: knots
// nondecreasing, no knot of multiplicity above k, every x(i) inside
// [t(k), t(n+1)] and where B(i) is nonzero. Returns false after a fatal error.
template <class T>
bool check_collocation(int n, const T* x, int k, const T* t, const Direction& d) {
  for (int i = 0; i + 1 < n + k; ++i) {
    if (!(t[i] <= t[i + 1])) {
      E1STL(1, d.axis);
      E1STI(1, i + 1);
      E1STI(2, i + 2);
      Family<T>::store(1, t[i]);
      Family<T>::store(2, t[i + 1]);
      raise<T>(BsplineMessage::knots_decreasing);
      return false;
    }
  }
  for (int i = 0; i < n; ++i) {
    if (!(t[i] < t[i + k])) {
      E1STL(1, d.axis);
      E1STI(1, i + 1);
      E1STI(2, k);
      Family<T>::store(1, t[i]);
      raise<T>(BsplineMessage::knot_repeated_too_often);
      return false;
    }
  }
  for (int i = 0; i < n; ++i) {
    const T xi = x[i];
    // B(i) vanishes at its left end unless that knot has multiplicity k; at
    // the right end only the last B-spline survives (right end point rule).
    const bool after_left = t[i] < xi || (t[i] == xi && t[i + k - 1] == xi);
    const bool before_right = xi < t[i + k] || (i == n - 1 && xi == t[n] && t[n] == t[n + k - 1]);
    const bool in_range = t[k - 1] <= xi && xi <= t[n];
    if (!(after_left && before_right && in_range)) {
      E1STL(1, d.axis);
      E1STL(2, d.order);
      E1STI(1, i + 1);
      E1STI(2, i + 1 + k);
      Family<T>::store(1, xi);
      Family<T>::store(2, t[i]);
      Family<T>::store(3, t[i + k]);
      raise<T>(BsplineMessage::data_outside_knots);
      return false;
    }
  }
  return true;
}

// A strided set of right-hand sides or solutions: element i of vector j is
// at p[i * elem + j * vec].
template <class T>
struct Strided {
  T* p;
  std::ptrdiff_t elem;
  std::ptrdiff_t vec;
  T& operator()(int i, int j) const { return p[i * elem + j * vec]; }
};

// Iterative refinement of sol for A sol = b in working precision. Succeeds
// when the residual reaches the size of the rounding errors of forming it,
// n eps (|A| |sol| + |b|) in the max norm.
template <class T>
bool refine_solution(int n, int k, const T* orig, const T* ab, const BandShape& s, const int* ipiv,
                     const T* b, T* sol, T* r) {
  const int ldo = 2 * k - 1;
  auto residual = [&]() {
    T worst = T(0);
    bool finite = true;
    for (int i = 0; i < n; ++i) {
      T sum = b[i];
      T mag = std::abs(b[i]);
      for (int j = std::max(0, i - k + 1); j <= std::min(n - 1, i + k - 1); ++j) {
        const T a = orig[static_cast<std::size_t>(k - 1 + i - j) + static_cast<std::size_t>(j) * ldo];
        sum -= a * sol[j];
        mag += std::abs(a) * std::abs(sol[j]);
      }
      r[i] = sum;
      if (!std::isfinite(sum) || !std::isfinite(mag)) finite = false;
      worst = std::max(worst, std::abs(sum) - T(n) * Family<T>::eps * mag);
    }
    return finite && worst <= T(0);
  };
  for (int iter = 0; iter < 3; ++iter) {
    if (residual()) return true;
    band_solve(s, ab, ipiv, r);
    for (int i = 0; i < n; ++i) sol[i] += r[i];
  }
  return residual();
}

// Collocation matrices of B-splines are nearly singular when the reciprocal
// condition number (1-norm estimate) falls to 100 eps; the solutions are then
// refined in place, which restores a small backward error unless the
// factorisation is worthless.
template <class T>
constexpr T near_singular_rcond() {
  return T(100) * Family<T>::eps;
}

// A factored collocation matrix: the band LU factors followed by the
// unfactored band (kept for refinement), in factors_length(n, k) values, and
// n pivot indices.
struct CollocationFactors {
  BandShape shape;
  bool near_singular = false;

  static std::size_t factors_length(int n, int k) {
    return static_cast<std::size_t>(5 * k - 3) * static_cast<std::size_t>(n);
  }
  template <class T>
  static T* unfactored(T* fac, int n, int k) {
    return fac + static_cast<std::size_t>(3 * k - 2) * static_cast<std::size_t>(n);
  }
};

// Builds and factors the collocation matrix of points x (arguments checked
// by check_collocation). fac holds factors_length(n, k) values, ipiv n
// integers, scratch 2n + 2k values.
template <class T>
CollocationFactors collocation_factor(int n, const T* x, int k, const T* t, T* fac, int* ipiv,
                                      T* scratch) {
  CollocationFactors f{BandShape{n, k - 1, k - 1}};
  BandShape& s = f.shape;
  const std::size_t nn = static_cast<std::size_t>(n);
  T* ab = fac;
  T* orig = CollocationFactors::unfactored(fac, n, k);
  const int ldo = 2 * k - 1;
  T* v1 = scratch;
  T* v2 = v1 + nn;
  T* dr = v2 + nn;
  T* dl = dr + k;

  // Collocation rows: B-spline values at x(i), kept unfactored for refinement.
  std::fill(fac, fac + CollocationFactors::factors_length(n, k), T(0));
  auto orig_at = [&](int i, int j) -> T& {
    return orig[static_cast<std::size_t>(k - 1 + i - j) + static_cast<std::size_t>(j) * ldo];
  };
  for (int i = 0; i < n; ++i) {
    const int left = find_interval(t, k, n, x[i]);
    basis_values(t, left, k, x[i], v1, dr, dl);
    for (int r = 0; r < k; ++r) {
      const int j = left - k + 1 + r;
      if (j < 0 || j >= n || std::abs(i - j) > k - 1) continue;
      ab[s.at(i, j)] = v1[r];
      orig_at(i, j) = v1[r];
    }
  }
  T anorm = T(0);
  for (int j = 0; j < n; ++j) {
    T col = T(0);
    for (int i = std::max(0, j - k + 1); i <= std::min(n - 1, j + k - 1); ++i) col += std::abs(orig_at(i, j));
    anorm = std::max(anorm, col);
  }

  const bool regular = band_factor(s, ab, ipiv);
  T rcond = T(0);
  if (regular && anorm > T(0)) {
    const T inv = inverse_norm_estimate(s, ab, ipiv, v1, v2);
    rcond = (inv > T(0)) ? T(1) / (anorm * inv) : T(0);
  }
  f.near_singular = !(rcond > near_singular_rcond<T>());
  return f;
}

// Solves, for each j = 0..nrhs-1, sum_c B(c)(x(i)) out(c, j) = rhs(i, j)
// with the factors of collocation_factor, refining the solutions of a nearly
// singular matrix and raising the warning that says so. work holds
// n nrhs + 3n values.
template <class T>
void collocation_apply(const CollocationFactors& f, int k, const T* fac, const int* ipiv, int nrhs,
                       Strided<const T> rhs, Strided<T> out, T* work, const Direction& d) {
  const BandShape& s = f.shape;
  const int n = s.n;
  const std::size_t nn = static_cast<std::size_t>(n);
  const std::size_t w = static_cast<std::size_t>(nrhs);
  T* block = work;
  T* v1 = block + nn * w;
  T* v2 = v1 + nn;
  T* v3 = v2 + nn;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < nrhs; ++j) block[i * w + j] = rhs(i, j);
  band_solve(s, fac, ipiv, block, nrhs);
  if (!f.near_singular) {
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < nrhs; ++j) out(i, j) = block[i * w + j];
    return;
  }
  bool refined_ok = true;
  const T* orig = CollocationFactors::unfactored(fac, n, k);
  for (int j = 0; j < nrhs; ++j) {
    for (int i = 0; i < n; ++i) {
      v1[i] = rhs(i, j);
      v2[i] = block[i * w + j];
    }
    refined_ok = refine_solution(n, k, orig, fac, s, ipiv, v1, v2, v3) && refined_ok;
    for (int i = 0; i < n; ++i) out(i, j) = v2[i];
  }
  E1STL(1, d.axis);
  if (refined_ok) {
    raise<T>(BsplineMessage::nearly_singular);
  } else {
    raise<T>(BsplineMessage::nearly_singular_refinement_failed);
  }
}

// Work of collocation_solve.
struct CollocationWork {
  static std::size_t length(int n, int k, int nrhs) {
    const std::size_t nn = static_cast<std::size_t>(n);
    // the factorisation's scratch (2n + 2k) and the solve's (n nrhs + 3n) share one area
    return CollocationFactors::factors_length(n, k) + nn * static_cast<std::size_t>(nrhs) + 3 * nn +
           2 * static_cast<std::size_t>(k);
  }
};

// Factors and solves in one go; wk holds CollocationWork::length(n, k, nrhs)
// values, ipiv n integers.
template <class T>
void collocation_solve(int n, const T* x, int k, const T* t, int nrhs, Strided<const T> rhs,
                       Strided<T> out, T* wk, int* ipiv, const Direction& d) {
  T* fac = wk;
  T* rest = wk + CollocationFactors::factors_length(n, k);
  const CollocationFactors f = collocation_factor(n, x, k, t, fac, ipiv, rest);
  collocation_apply(f, k, fac, ipiv, nrhs, rhs, out, rest, d);
}

// ---------------------------------------------------------------------------
// Piecewise-polynomial form: on piece l, [brk(l), brk(l+1)), the spline is
// sum_{j<k} c(j) (x - brk(l))^j / j!, c(j) its j-th derivative at brk(l).

// Breakpoints: the distinct knots of [t(k), t(n+1)]. Piece l starts at knot
// index lefts(l). Returns the number of pieces; brk holds n-k+2 values,
// lefts n-k+1.
template <class T>
int piece_breaks(int n, int k, const T* t, T* brk, int* lefts) {
  int pieces = 0;
  for (int left = k - 1; left < n; ++left) {
    if (!(t[left] < t[left + 1])) continue;
    brk[pieces] = t[left];
    lefts[pieces] = left;
    ++pieces;
  }
  brk[pieces] = t[n];
  return pieces;
}

// The basis of every order at the break of the piece that starts at knot
// index `left` (row m-1 of `table`, k*k values: order m), which depends on
// the knots alone. dr and dl hold k values each.
template <class T>
void piece_basis_table(int k, const T* t, int left, T* table, T* dr, T* dl) {
  const T x = t[left];
  table[0] = T(1);
  for (int m = 2; m <= k; ++m) {
    const T* previous = table + (m - 2) * k;
    T* row = table + (m - 1) * k;
    // one step of the recurrence from order m-1 to m
    dr[m - 2] = t[left + m - 1] - x;
    dl[m - 2] = x - t[left + 2 - m];
    T saved = T(0);
    for (int r = 0; r < m - 1; ++r) {
      const T term = previous[r] / (dr[r] + dl[m - 2 - r]);
      row[r] = saved + dr[r] * term;
      saved = dl[m - 2 - r] * term;
    }
    row[m - 1] = saved;
  }
}

// c(0..k-1) of the piece that starts at knot index `left` from the B-spline
// coefficients and the piece's basis table: the coefficients differenced
// once per derivative. a holds k values.
template <class T>
void piece_from_table(int k, const T* t, const T* coef, int left, const T* table, T* c, T* a) {
  for (int r = 0; r < k; ++r) a[r] = coef[left - k + 1 + r];
  for (int m = 0; m < k; ++m) {
    if (m > 0) {
      for (int r = k - 1; r >= m; --r) {
        const int i = left - k + 1 + r;
        a[r] = (a[r] - a[r - 1]) * T(k - m) / (t[i + k - m] - t[i]);
      }
    }
    const T* basis = table + (k - m - 1) * k;
    T sum = T(0);
    for (int r = m; r < k; ++r) sum += a[r] * basis[r - m];
    c[m] = sum;
  }
}

// c(0..k-1) of the piece that starts at knot index `left`, from the
// B-spline coefficients: the basis of every order at the break, and the
// coefficients differenced once per derivative. scratch holds k*k + 3k.
template <class T>
void piece_coefficients(int k, const T* t, const T* coef, int left, T* c, T* scratch) {
  T* table = scratch;    // row m-1: basis values of order m at the break
  T* a = table + k * k;  // active coefficients, differenced in place
  T* dr = a + k;
  T* dl = dr + k;
  piece_basis_table(k, t, left, table, dr, dl);
  piece_from_table(k, t, coef, left, table, c, a);
}

// The ider-th derivative at x of the piece with coefficients c(0..k-1) that
// starts at `start`.
template <class T>
T piece_derivative(int k, const T* c, T start, int ider, T x) {
  if (ider >= k) return T(0);
  const T h = x - start;
  T s = c[k - 1];
  for (int j = k - 2; j >= ider; --j) s = c[j] + s * h / T(j + 1 - ider);
  return s;
}

}  // namespace zalk::toolkit::bspline_detail
