// Gauss, Gauss-Radau and Gauss-Lobatto rules for classical weight functions,
// computed with the Golub-Welsch method: the nodes are the eigenvalues of the
// symmetric tridiagonal Jacobi matrix of the monic recurrence, the weights are
// mu0 times the squared first components of its normalised eigenvectors.
//
// Weight selectors:
//   1  1                              on (-1, 1)        (Legendre)
//   2  1 / sqrt(1 - x^2)              on (-1, 1)        (Chebyshev, first kind)
//   3  sqrt(1 - x^2)                  on (-1, 1)        (Chebyshev, second kind)
//   4  exp(-x^2)                      on (-inf, inf)    (Hermite)
//   5  (1 - x)^ALPHA (1 + x)^BETA     on (-1, 1)        (Jacobi, ALPHA, BETA > -1)
//   6  x^ALPHA exp(-x)                on (0, inf)       (generalised Laguerre, ALPHA > -1)
//   7  1 / cosh(x)                    on (-inf, inf)    (hyperbolic secant)
// The hyperbolic-secant weight has the monic recurrence B(k) = 0,
// C(k+1) = (pi k / 2)^2 and mu0 = pi (the Meixner-Pollaczek polynomials of
// parameter 1/2, rescaled from 1/cosh(pi t) to 1/cosh(x)).
#include "toolkit/gauss.h"

#include <cmath>
#include <cstddef>
#include <new>
#include <utility>
#include <vector>

#include "toolkit/errors.h"
#include "toolkit/gauss_messages.h"
#include "toolkit/per_thread.h"

namespace zalk::toolkit {
namespace {

constexpr double kEps = 2.220446049250313e-16;  // 8-byte machine epsilon
constexpr int kMaxIterations = 100;             // per eigenvalue
constexpr double kPi = 3.14159265358979323846;

void report_bad_n(int N) {
  E1STI(1, N);
  raise(GaussMessage::bad_n);
}

// Gamma(a) Gamma(b) / Gamma(a + b) for a, b > 0, computed with the gamma
// function itself while it cannot overflow (exact for small integers), and
// through logarithms beyond that.
double beta_function(double a, double b) {
  if (a + b < 170.0) return std::tgamma(a) * std::tgamma(b) / std::tgamma(a + b);
  return std::exp(std::lgamma(a) + std::lgamma(b) - std::lgamma(a + b));
}

void legendre(int N, double* B, double* C) {
  C[0] = 2.0;
  for (int k = 1; k < N; ++k) {
    const double dk = k;
    B[k - 1] = 0.0;
    C[k] = dk * dk / ((2.0 * dk) * (2.0 * dk) - 1.0);
  }
  B[N - 1] = 0.0;
}

// Weights with B = 0 and constant C(k) = c for k >= 3 (both Chebyshev kinds).
void chebyshev(int N, double mu0, double c2, double* B, double* C) {
  for (int k = 0; k < N; ++k) {
    B[k] = 0.0;
    C[k] = 0.25;
  }
  C[0] = mu0;
  if (N > 1) C[1] = c2;
}

void hermite(int N, double* B, double* C) {
  C[0] = std::sqrt(kPi);
  for (int k = 0; k < N; ++k) B[k] = 0.0;
  for (int k = 1; k < N; ++k) C[k] = 0.5 * k;
}

void jacobi(int N, double a, double b, double* B, double* C) {
  const double ab = a + b;
  C[0] = std::exp2(ab + 1.0) * beta_function(a + 1.0, b + 1.0);
  // n = 0 and the first C are written in reduced form: the general
  // expressions hold 0/0 when a + b = 0 or a + b = -1.
  B[0] = (b - a) / (ab + 2.0);
  if (N > 1) C[1] = 4.0 * (1.0 + a) * (1.0 + b) / ((2.0 + ab) * (2.0 + ab) * (3.0 + ab));
  for (int n = 1; n < N; ++n) {
    const double s = 2.0 * n + ab;
    B[n] = (b * b - a * a) / (s * (s + 2.0));
    if (n >= 2) {
      C[n] = 4.0 * n * (n + a) * (n + b) * (n + ab) / (s * s * (s + 1.0) * (s - 1.0));
    }
  }
}

void laguerre(int N, double a, double* B, double* C) {
  C[0] = std::tgamma(a + 1.0);
  for (int n = 0; n < N; ++n) {
    B[n] = 2.0 * n + a + 1.0;
    if (n >= 1) C[n] = n * (n + a);
  }
}

void hyperbolic_secant(int N, double* B, double* C) {
  C[0] = kPi;
  for (int k = 0; k < N; ++k) B[k] = 0.0;
  for (int k = 1; k < N; ++k) {
    const double h = 0.5 * kPi * k;
    C[k] = h * h;
  }
}

// p(N-2)(x) / p(N-1)(x) of the monic polynomials of the recurrence, by the
// continued fraction r(k) = p(k)/p(k-1) = x - B(k) - C(k) / r(k-1).
double ratio_below_last(int N, const double* B, const double* C, double x) {
  double r = x - B[0];
  for (int k = 1; k < N - 1; ++k) r = x - B[k] - C[k] / r;
  return 1.0 / r;
}

// Changes the last recurrence coefficients so that the fixed nodes become
// zeros of the N-th polynomial, i.e. eigenvalues of the Jacobi matrix. The
// first 2N - 1 - NFIX moments of the rule do not involve these entries, which
// is why the modified rule keeps that degree of exactness.
void fix_nodes(int N, double* B, double* C, int NFIX, const double* QXFIX) {
  if (NFIX == 1) {
    const double a = QXFIX[0];
    B[N - 1] = a - C[N - 1] * ratio_below_last(N, B, C, a);
  } else if (NFIX == 2) {
    const double a = QXFIX[0];
    const double b = QXFIX[1];
    const double ga = ratio_below_last(N, B, C, a);
    const double gb = ratio_below_last(N, B, C, b);
    C[N - 1] = (b - a) / (gb - ga);
    B[N - 1] = a - C[N - 1] * ga;
  }
}

bool coefficients_usable(int N, const double* B, const double* C) {
  for (int k = 0; k < N; ++k) {
    if (!std::isfinite(B[k])) {
      E1STI(1, k + 1);
      raise(GaussMessage::coefficient_b_not_finite);
      return false;
    }
    if (!(C[k] > 0.0) || !std::isfinite(C[k])) {
      E1STI(1, k + 1);
      E1STD(1, C[k]);
      raise(GaussMessage::coefficient_c_not_positive);
      return false;
    }
  }
  return true;
}

// sqrt(a^2 + b^2). The plain formula is several times faster than hypot and
// exact enough; hypot takes over only where the squares would overflow or
// lose precision to underflow.
double pythag(double a, double b) {
  const double s = a * a + b * b;
  if (s > 1e-290 && s < 1e290) return std::sqrt(s);
  return std::hypot(a, b);
}

// Two fixed nodes on the same side of every zero of the (N-1)-th polynomial
// (both beyond the same end of the interval, say) ask for a negative C(N):
// no rule with real nodes has them both.
bool modified_coefficients_usable(int N, const double* B, const double* C, int NFIX,
                                  const double* QXFIX) {
  if (std::isfinite(B[N - 1]) && C[N - 1] > 0.0 && std::isfinite(C[N - 1])) return true;
  E1STD(1, QXFIX[0]);
  if (NFIX == 1) {
    raise(GaussMessage::no_real_rule_one_point);
  } else {
    E1STD(2, QXFIX[1]);
    raise(GaussMessage::no_real_rule_two_points);
  }
  return false;
}

bool negligible(const double* d, const double* e, int m) {
  return std::abs(e[m]) <= kEps * (std::abs(d[m]) + std::abs(d[m + 1]));
}

// Implicit QL iteration with Wilkinson shifts on the tridiagonal matrix with
// diagonal d(0..n-1) and off-diagonal e(0..n-2) (e(n-1) is used as zero).
// z(0..n-1) is the first row of the eigenvector matrix, started as e1.
// Returns false when an eigenvalue needs more than kMaxIterations sweeps.
bool tridiagonal_ql(int n, double* d, double* e, double* z) {
  e[n - 1] = 0.0;
  for (int l = 0; l < n; ++l) {
    int iterations = 0;
    while (true) {
      int m = l;
      while (m < n - 1 && !negligible(d, e, m)) ++m;
      if (m == l) break;
      if (iterations == kMaxIterations) return false;
      ++iterations;
      // Wilkinson shift from the leading 2 x 2 block, folded into g.
      double g = (d[l + 1] - d[l]) / (2.0 * e[l]);
      double r = pythag(g, 1.0);
      g = d[m] - d[l] + e[l] / (g + std::copysign(r, g));
      double s = 1.0;
      double c = 1.0;
      double p = 0.0;
      bool underflow = false;
      for (int i = m - 1; i >= l; --i) {
        const double f = s * e[i];
        const double b = c * e[i];
        r = pythag(f, g);
        e[i + 1] = r;
        if (r == 0.0) {
          // The rotation vanished: deflate here and sweep again.
          d[i + 1] -= p;
          e[m] = 0.0;
          underflow = true;
          break;
        }
        s = f / r;
        c = g / r;
        g = d[i + 1] - p;
        r = (d[i] - g) * s + 2.0 * c * b;
        p = s * r;
        d[i + 1] = g + p;
        g = c * r - b;
        const double zf = z[i + 1];
        z[i + 1] = s * z[i] + c * zf;
        z[i] = c * z[i] - s * zf;
      }
      if (underflow) continue;
      d[l] -= p;
      e[l] = g;
      e[m] = 0.0;
    }
  }
  return true;
}

// Ascending selection sort of the nodes, carrying the weights; a later
// candidate replaces the current minimum only when strictly smaller.
void sort_ascending(int n, double* x, double* w) {
  for (int i = 0; i < n - 1; ++i) {
    int k = i;
    for (int j = i + 1; j < n; ++j) {
      if (x[j] < x[k]) k = j;
    }
    if (k != i) {
      std::swap(x[i], x[k]);
      std::swap(w[i], w[k]);
    }
  }
}

bool fixed_nodes_valid(int N, int NFIX, const double* QXFIX) {
  if (NFIX < 0 || NFIX > 2) {
    E1STI(1, NFIX);
    raise(GaussMessage::bad_nfix);
    return false;
  }
  if (NFIX >= N) {
    E1STI(1, NFIX);
    E1STI(2, N);
    raise(GaussMessage::nfix_not_below_n);
    return false;
  }
  for (int i = 0; i < NFIX; ++i) {
    if (!std::isfinite(QXFIX[i])) {
      E1STI(1, i + 1);
      E1STD(1, QXFIX[i]);
      raise(GaussMessage::fixed_point_not_finite);
      return false;
    }
    if (!(std::abs(QXFIX[i]) >= 1.0)) {
      E1STI(1, i + 1);
      E1STD(1, QXFIX[i]);
      raise(GaussMessage::fixed_point_inside);
      return false;
    }
  }
  if (NFIX == 2 && QXFIX[0] == QXFIX[1]) {
    E1STD(1, QXFIX[0]);
    raise(GaussMessage::fixed_points_equal);
    return false;
  }
  return true;
}

// Large weight parameters overflow the recurrence coefficients (the
// integral of the weight, C(1), first). Records the first coefficient that
// is not finite, or not positive for C, in %(L1), %(I1) and %(D1).
bool coefficients_finite(int N, const double* B, const double* C) {
  for (int k = 0; k < N; ++k) {
    const bool b_ok = std::isfinite(B[k]);
    if (b_ok && C[k] > 0.0 && std::isfinite(C[k])) continue;
    E1STL(1, b_ok ? "C" : "B");
    E1STI(1, k + 1);
    E1STD(1, b_ok ? C[k] : B[k]);
    return false;
  }
  return true;
}

bool parameter_finite(const char* name, double value) {
  if (std::isfinite(value)) return true;
  E1STL(1, name);
  E1STD(1, value);
  raise(GaussMessage::weight_parameter_not_finite);
  return false;
}

}  // namespace

void DRECCF(int N, int IWEIGH, double ALPHA, double BETA, double* B, double* C) {
  RoutineScope scope("DRECCF");
  if (N < 1) {
    report_bad_n(N);
    return;
  }
  switch (IWEIGH) {
    case 1: legendre(N, B, C); return;
    case 2: chebyshev(N, kPi, 0.5, B, C); return;
    case 3: chebyshev(N, 0.5 * kPi, 0.25, B, C); return;
    case 4: hermite(N, B, C); return;
    case 5:
      if (!(ALPHA > -1.0) || !(BETA > -1.0)) {
        E1STD(1, ALPHA);
        E1STD(2, BETA);
        raise(GaussMessage::bad_jacobi_parameters);
        return;
      }
      if (!parameter_finite("ALPHA", ALPHA) || !parameter_finite("BETA", BETA)) return;
      jacobi(N, ALPHA, BETA, B, C);
      if (!coefficients_finite(N, B, C)) {
        E1STD(2, ALPHA);
        E1STD(3, BETA);
        raise(GaussMessage::jacobi_coefficients_overflow);
      }
      return;
    case 6:
      if (!(ALPHA > -1.0)) {
        E1STD(1, ALPHA);
        raise(GaussMessage::bad_laguerre_parameter);
        return;
      }
      if (!parameter_finite("ALPHA", ALPHA)) return;
      laguerre(N, ALPHA, B, C);
      if (!coefficients_finite(N, B, C)) {
        E1STD(2, ALPHA);
        raise(GaussMessage::laguerre_coefficients_overflow);
      }
      return;
    case 7: hyperbolic_secant(N, B, C); return;
    default:
      E1STI(1, IWEIGH);
      raise(GaussMessage::bad_weight);
      return;
  }
}

void DG2RCF(int N, double* B, double* C, int NFIX, const double* QXFIX, double* QNODE,
            double* QWGHT, double* WK) {
  RoutineScope scope("DG2RCF");
  if (N < 1) {
    report_bad_n(N);
    return;
  }
  if (!fixed_nodes_valid(N, NFIX, QXFIX)) return;
  if (!coefficients_usable(N, B, C)) return;
  fix_nodes(N, B, C, NFIX, QXFIX);
  if (NFIX > 0 && !modified_coefficients_usable(N, B, C, NFIX, QXFIX)) return;

  const double mu0 = C[0];
  // d lives in QNODE, the first eigenvector row in QWGHT, the off-diagonal in WK.
  double* d = QNODE;
  double* z = QWGHT;
  double* e = WK;
  for (int k = 0; k < N; ++k) {
    d[k] = B[k];
    z[k] = 0.0;
  }
  z[0] = 1.0;
  for (int k = 0; k + 1 < N; ++k) e[k] = std::sqrt(C[k + 1]);

  if (!tridiagonal_ql(N, d, e, z)) {
    raise(GaussMessage::no_convergence);
    return;
  }
  for (int k = 0; k < N; ++k) z[k] = mu0 * z[k] * z[k];
  sort_ascending(N, d, z);
}

void DG2RUL(int N, int IWEIGH, double ALPHA, double BETA, int NFIX, const double* QXFIX,
            double* QNODE, double* QWGHT, double* WK) {
  RoutineScope scope("DG2RUL");
  if (N < 1) {
    report_bad_n(N);
    return;
  }
  if (!fixed_nodes_valid(N, NFIX, QXFIX)) return;
  // B goes straight into QNODE (DG2RCF copies it onto itself), C into the
  // first half of the work area; the second half holds the off-diagonal.
  double* B = QNODE;
  double* C = WK;
  // A failed check in DRECCF never returns here: its errors are terminal.
  DRECCF(N, IWEIGH, ALPHA, BETA, B, C);
  DG2RCF(N, B, C, NFIX, QXFIX, QNODE, QWGHT, WK + N);
}

void DGQRUL(int N, int IWEIGH, double ALPHA, double BETA, int NFIX, const double* QXFIX,
            double* QNODE, double* QWGHT) {
  RoutineScope scope("DGQRUL");
  if (N < 1) {
    report_bad_n(N);
    return;
  }
  // The engine asks for a rule at every new load radius; a work area kept
  // per thread saves the allocation on every call after the first.
  std::vector<double>& work = per_thread<std::vector<double>>([] {});
  const std::size_t need = 2 * static_cast<std::size_t>(N);
  if (work.size() < need) {
    try {
      work.resize(need);
    } catch (const std::bad_alloc&) {
      E1STI(1, N);
      raise(GaussMessage::no_storage);
      return;
    }
  }
  DG2RUL(N, IWEIGH, ALPHA, BETA, NFIX, QXFIX, QNODE, QWGHT, work.data());
}

}  // namespace zalk::toolkit
