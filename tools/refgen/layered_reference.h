// A reference solver for the surface deflection of a layered elastic
// half-space under a uniform circular load, written independently of the
// library's engine and in long double throughout.
//
// Formulation. Axisymmetric elasticity, z downward, full bonding. In the
// Hankel domain (wavenumber k) the state (U, W, S/k, T/k) of u_r, w, tau_rz,
// sigma_zz in a layer is a sum of four exact solutions: two decaying
// downwards from the layer's top, e^{-t} and t e^{-t} (t = k(z - z_top)),
// and two decaying upwards from its bottom, e^{s} and s e^{s}
// (s = k(z - z_bot) <= 0). Every exponential is at most 1, so the global
// system (traction at the surface, continuity of the four components at
// every interface, and either the two decaying solutions of a half-space
// below or zero displacement on a rigid base) is well conditioned at every
// k; it is solved by Gaussian elimination with partial pivoting.
//
// The surface deflection is
//   w(r) = q a Int_0^inf W(k) J1(k a) J0(k r) / k dk,
// W(k) the surface W for a unit normal traction. W(k) tends to the top
// layer's half-space value W_inf = (1 - nu1) / mu1 exponentially fast, so
// w = q a [W_inf I(r) + Int (W(k) - W_inf) J1 J0 / k dk], with the
// half-space integral I(r) in closed form by complete elliptic integrals,
// and the remainder integrated only up to where it has died out, by
// adaptive Gauss-Legendre (16 against 32 points, 1e-14 of each panel) on panels no wider than a
// quarter of the oscillation period of J0(k r) J1(k a).
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace refgen {

using real = long double;

struct Layer {
  real e = 0;   // Young's modulus
  real nu = 0;  // Poisson's ratio
  real h = 0;   // thickness (ignored for the last layer of a half-space)
};

struct Structure {
  std::vector<Layer> layers;  // top first; the last is a half-space unless rigid_base
  bool rigid_base = false;    // the last layer rests on a rigid, bonded base
};

inline real shear_modulus(const Layer& l) { return l.e / (2 * (1 + l.nu)); }

// The four solutions of one layer at a point, as columns of (U, W, S/k, T/k).
// t >= 0 is k times the distance below the layer's top, s <= 0 k times the
// (negative) distance above its bottom.
inline void layer_modes(real mu, real nu, real t, real s, std::array<std::array<real, 4>, 4>& m) {
  const real et = std::exp(-t), es = std::exp(s);
  // e^{-t}: a harmonic potential.
  m[0] = {et, et, -2 * mu * et, -2 * mu * et};
  // t e^{-t}: the Boussinesq-type solution.
  m[1] = {-t * et, (-t - (3 - 4 * nu)) * et, mu * (2 * t + 2 - 4 * nu) * et, 2 * mu * (t + 2 * (1 - nu)) * et};
  // e^{s} and s e^{s}: their mirror images, decaying upwards.
  m[2] = {es, -es, 2 * mu * es, -2 * mu * es};
  m[3] = {-s * es, (s - 3 + 4 * nu) * es, mu * (2 - 4 * nu - 2 * s) * es, 2 * mu * (s - 2 * (1 - nu)) * es};
}

// Solves A x = b (n x n, row-major) by elimination with partial pivoting.
inline std::vector<real> solve_dense(std::vector<real> a, std::vector<real> b, int n) {
  for (int c = 0; c < n; ++c) {
    int p = c;
    for (int r = c + 1; r < n; ++r)
      if (std::fabs(a[std::size_t(r * n + c)]) > std::fabs(a[std::size_t(p * n + c)])) p = r;
    if (a[std::size_t(p * n + c)] == 0) throw std::runtime_error("singular layer system");
    if (p != c) {
      for (int j = 0; j < n; ++j) std::swap(a[std::size_t(c * n + j)], a[std::size_t(p * n + j)]);
      std::swap(b[std::size_t(c)], b[std::size_t(p)]);
    }
    for (int r = c + 1; r < n; ++r) {
      const real f = a[std::size_t(r * n + c)] / a[std::size_t(c * n + c)];
      if (f == 0) continue;
      for (int j = c; j < n; ++j) a[std::size_t(r * n + j)] -= f * a[std::size_t(c * n + j)];
      b[std::size_t(r)] -= f * b[std::size_t(c)];
    }
  }
  std::vector<real> x(static_cast<std::size_t>(n));
  for (int r = n - 1; r >= 0; --r) {
    real s = b[std::size_t(r)];
    for (int j = r + 1; j < n; ++j) s -= a[std::size_t(r * n + j)] * x[std::size_t(j)];
    x[std::size_t(r)] = s / a[std::size_t(r * n + r)];
  }
  return x;
}

// W at the surface for the traction T/k = -1, S = 0 at wavenumber k.
inline real surface_w(const Structure& st, real k) {
  const int nl = int(st.layers.size());
  const int nfinite = st.rigid_base ? nl : nl - 1;
  const int n = 4 * nfinite + (st.rigid_base ? 0 : 2);
  std::vector<real> a(std::size_t(n * n), 0), b(std::size_t(n), 0);
  std::array<std::array<real, 4>, 4> top{}, bot{};
  int row = 0;
  auto put = [&](int r, int col, real v) { a[std::size_t(r * n + col)] += v; };
  const real mu0 = shear_modulus(st.layers[0]);
  for (int j = 0; j < nl; ++j) {
    const Layer& l = st.layers[std::size_t(j)];
    const real mu = shear_modulus(l) / mu0;
    const bool halfspace = j == nfinite;
    const int ncol = halfspace ? 2 : 4;
    const int col0 = 4 * j;
    layer_modes(mu, l.nu, 0, halfspace ? 0 : -k * l.h, top);
    if (j == 0) {  // surface: S = 0, T/k = -1
      for (int m = 0; m < ncol; ++m) {
        put(row, col0 + m, top[std::size_t(m)][2]);
        put(row + 1, col0 + m, top[std::size_t(m)][3]);
      }
      b[std::size_t(row + 1)] = -1;
      row += 2;
    } else {  // continuity with the layer above: above(bottom) - this(top) = 0
      for (int m = 0; m < ncol; ++m)
        for (int c = 0; c < 4; ++c) put(row + c, col0 + m, -top[std::size_t(m)][std::size_t(c)]);
      row += 4;
    }
    if (halfspace) break;
    layer_modes(mu, l.nu, k * l.h, 0, bot);
    if (j + 1 < nl || !st.rigid_base) {
      for (int m = 0; m < 4; ++m)
        for (int c = 0; c < 4; ++c) put(row + c, col0 + m, bot[std::size_t(m)][std::size_t(c)]);
    } else {  // rigid base: U = W = 0
      for (int m = 0; m < 4; ++m)
        for (int c = 0; c < 2; ++c) put(row + c, col0 + m, bot[std::size_t(m)][std::size_t(c)]);
      row += 2;
    }
  }
  if (row != n) throw std::logic_error("layer system not square");
  const std::vector<real> x = solve_dense(a, b, n);
  layer_modes(1, st.layers[0].nu, 0, -k * (nfinite > 0 ? st.layers[0].h : 0), top);
  real w = 0;
  const int ncol0 = nfinite > 0 ? 4 : 2;
  for (int m = 0; m < ncol0; ++m) w += x[std::size_t(m)] * top[std::size_t(m)][1];
  return w / mu0;
}

// Int_0^inf J1(k a) J0(k r) / k dk in closed form.
inline real halfspace_integral(real r, real a) {
  const real pi = 3.14159265358979323846264338327950288L;
  if (r < a) return 2 / pi * std::comp_ellint_2(r / a);
  if (r == a) return 2 / pi;
  const real m = a / r;
  return 2 / pi * (r / a) * (std::comp_ellint_2(m) - (1 - m * m) * std::comp_ellint_1(m));
}

// Gauss-Legendre nodes and weights on [-1, 1] by Newton's method.
struct GaussRule {
  std::vector<real> x, w;
  explicit GaussRule(int n) : x(static_cast<std::size_t>(n)), w(static_cast<std::size_t>(n)) {
    const real pi = 3.14159265358979323846264338327950288L;
    for (int i = 0; i < n; ++i) {
      real z = std::cos(pi * (i + 0.75L) / (n + 0.5L)), dp = 0;
      for (int it = 0; it < 100; ++it) {
        real p0 = 1, p1 = z;
        for (int j = 2; j <= n; ++j) {
          const real p2 = ((2 * j - 1) * z * p1 - (j - 1) * p0) / j;
          p0 = p1;
          p1 = p2;
        }
        dp = n * (z * p1 - p0) / (z * z - 1);
        const real dz = p1 / dp;
        z -= dz;
        if (std::fabs(dz) < 1e-30L) break;
      }
      x[std::size_t(i)] = z;
      w[std::size_t(i)] = 2 / ((1 - z * z) * dp * dp);
    }
  }
};

class Deflection {
 public:
  Deflection(const Structure& st, real pressure, real radius) : st_(st), q_(pressure), a_(radius) {
    const Layer& top = st.layers[0];
    winf_ = (1 - top.nu) / shear_modulus(top);
    // The remainder decays as exp(-2 k h1) (times a polynomial): beyond
    // 40 / (2 h1) it is below 1e-17 of its size.
    const real h1 = st.layers.size() > 1 || st.rigid_base ? top.h : real(1e30);
    kmax_ = std::min<real>(20.0L / h1, real(1e4) / a_);
  }

  // Surface deflection at offset r.
  real at(real r) {
    r_ = r;
    const real pi = 3.14159265358979323846264338327950288L;
    const real period = 2 * pi / (r + a_);
    real sum = 0;
    // Panels: geometric near 0 (the layering is felt over 1/depth), then
    // a quarter period wide.
    std::vector<real> breaks{0};
    for (real k = 1e-6L; k < std::min(period / 4, kmax_); k *= 2) breaks.push_back(k);
    for (real k = breaks.back() + period / 4; k < kmax_; k += period / 4) breaks.push_back(k);
    breaks.push_back(kmax_);
    for (std::size_t i = 0; i + 1 < breaks.size(); ++i) sum += adaptive(breaks[i], breaks[i + 1], 0);
    return q_ * a_ * (winf_ * halfspace_integral(r, a_) + sum);
  }

 private:
  real integrand(real k) const {
    const real d = surface_w(st_, k) - winf_;
    return d * std::cyl_bessel_j(1.0L, k * a_) * std::cyl_bessel_j(0.0L, k * r_) / k;
  }
  real gauss(const GaussRule& g, real lo, real hi) const {
    const real c = (lo + hi) / 2, h = (hi - lo) / 2;
    real s = 0;
    for (std::size_t i = 0; i < g.x.size(); ++i) s += g.w[i] * integrand(c + h * g.x[i]);
    return s * h;
  }
  real adaptive(real lo, real hi, int depth) const {
    static const GaussRule g16(16), g32(32);
    const real coarse = gauss(g16, lo, hi), fine = gauss(g32, lo, hi);
    // Relative to the panel's integral, with a floor for panels where it
    // nearly cancels: the Bessel functions carry about 18 digits.
    const real tol = 1e-14L * std::max(std::fabs(fine), 1e-3L * winf_ * (hi - lo) * a_);
    if (std::fabs(fine - coarse) <= tol || depth >= 20) return fine;
    const real mid = (lo + hi) / 2;
    return adaptive(lo, mid, depth + 1) + adaptive(mid, hi, depth + 1);
  }

  Structure st_;
  real q_, a_, winf_, kmax_, r_ = 0;
};

}  // namespace refgen
