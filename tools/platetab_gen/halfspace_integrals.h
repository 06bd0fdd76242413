// Lipschitz-Hankel integrals of the uniformly loaded circle on a half-space,
//   I(mu, p) = integral_0^inf m^p J_mu(m rho) J1(m) exp(-m zeta) dm,
// for mu = 0, 1 and p = -1, 0, 1, in extended precision.
//
// Method. J0(m rho) J1(m) / m is the mean of J0(m |x - y|) over the unit disk
// (times its area / 2 pi), and the Hankel integrals of J0(m R) exp(-m zeta)
// are elementary (1/s, zeta/s^3, ... with s = sqrt(R^2 + zeta^2)). The disk
// integral then reduces by the divergence theorem to one integral along the
// load edge, y = (cos t, sin t), R^2 = (1 - rho)^2 + 4 rho sin^2(t/2):
//   I(0,-1) = 1/pi int_0^pi (1 - rho cos t) / (s + zeta) dt
//   I(0, 0) = 1/pi int_0^pi (1 - rho cos t) / (s (s + zeta)) dt
//   I(0, 1) = 1/pi int_0^pi (1 - rho cos t) / s^3 dt
//   I(1,-1) = -1/pi int_0^pi ln(zeta + s) cos t dt
//   I(1, 0) = 1/pi int_0^pi cos t / s dt
//   I(1, 1) = 1/pi int_0^pi zeta cos t / s^3 dt
// (the mu = 1 integrals are -d/drho of the mu = 0 ones with p - 1). These are
// the integrals that the classical closed forms in complete elliptic
// integrals express; here they are summed directly. The integrands are
// analytic with their nearest singularities at t = +-i delta / sqrt(rho),
// delta = sqrt((1 - rho)^2 + zeta^2), so geometrically graded Gauss-Legendre
// panels starting at width delta / sqrt(rho) give full extended precision
// even next to the load edge. delta = 0 (the edge itself at the surface) is
// not handled here.
#pragma once

#include <array>
#include <cmath>
#include <vector>

namespace platetab_gen {

using real = long double;

inline const real kPi = 3.141592653589793238462643383279502884L;

// Gauss-Legendre nodes and weights on [-1, 1] by Newton iteration.
struct GaussRule {
  std::vector<real> x, w;
  explicit GaussRule(int n) : x(n), w(n) {
    for (int i = 0; i < n; ++i) {
      real z = std::cos(kPi * (i + 0.75L) / (n + 0.5L));
      real dp = 0;
      for (int it = 0; it < 100; ++it) {
        real p0 = 1, p1 = z;
        for (int k = 2; k <= n; ++k) {
          real p2 = ((2 * k - 1) * z * p1 - (k - 1) * p0) / k;
          p0 = p1;
          p1 = p2;
        }
        dp = n * (z * p1 - p0) / (z * z - 1);
        real dz = p1 / dp;
        z -= dz;
        if (std::fabs(dz) < 1e-21L) break;
      }
      // recompute derivative at the converged node
      real p0 = 1, p1 = z;
      for (int k = 2; k <= n; ++k) {
        real p2 = ((2 * k - 1) * z * p1 - (k - 1) * p0) / k;
        p0 = p1;
        p1 = p2;
      }
      dp = n * (z * p1 - p0) / (z * z - 1);
      x[i] = z;
      w[i] = 2 / ((1 - z * z) * dp * dp);
    }
  }
};

// Values of I(mu, p), indexed [mu][p + 1].
using Integrals = std::array<std::array<real, 3>, 2>;

// Panel ends on [0, pi]: widths growing geometrically from the scale of the
// nearest singularity, none wider than pi / 16.
inline std::vector<real> panel_ends(real rho, real zeta, real grading) {
  const real delta = std::sqrt((1 - rho) * (1 - rho) + zeta * zeta);
  real h = rho > 0 ? delta / std::sqrt(rho) : kPi;
  const real hmax = kPi / 16;
  if (h > hmax) h = hmax;
  if (h < 1e-12L) h = 1e-12L;  // delta = 0 is not supported; keep the loop finite
  std::vector<real> ends{0};
  real t = 0;
  while (t < kPi) {
    t += h;
    if (t > kPi - h / 4) t = kPi;
    ends.push_back(t);
    h = std::fmin(h * grading, hmax);
  }
  return ends;
}

inline Integrals lipschitz_hankel(real rho, real zeta, const GaussRule& rule, real grading = 2) {
  Integrals sum{};
  const std::vector<real> ends = panel_ends(rho, zeta, grading);
  const real d2 = (1 - rho) * (1 - rho) + zeta * zeta;
  for (size_t p = 0; p + 1 < ends.size(); ++p) {
    const real mid = (ends[p] + ends[p + 1]) / 2, half = (ends[p + 1] - ends[p]) / 2;
    for (size_t i = 0; i < rule.x.size(); ++i) {
      const real t = mid + half * rule.x[i], w = half * rule.w[i];
      const real sn = std::sin(t / 2), c = std::cos(t);
      const real s2 = d2 + 4 * rho * sn * sn, s = std::sqrt(s2);
      const real radial = 1 - rho * c;
      sum[0][0] += w * radial / (s + zeta);
      sum[0][1] += w * radial / (s * (s + zeta));
      sum[0][2] += w * radial / (s2 * s);
      sum[1][0] -= w * std::log(zeta + s) * c;
      sum[1][1] += w * c / s;
      sum[1][2] += w * zeta * c / (s2 * s);
    }
  }
  for (auto& row : sum)
    for (auto& v : row) v /= kPi;
  return sum;
}

// Complete elliptic integrals K(k), E(k) by the arithmetic-geometric mean.
inline void elliptic_KE(real k, real& K, real& E) {
  real a = 1, b = std::sqrt(1 - k * k), c = k, sum = c * c / 2, pow2 = 0.5L;
  for (int i = 0; i < 60 && std::fabs(c) > 1e-22L; ++i) {
    const real an = (a + b) / 2;
    c = (a - b) / 2;
    b = std::sqrt(a * b);
    a = an;
    pow2 *= 2;
    sum += pow2 * c * c;
  }
  K = kPi / (2 * a);
  E = K * (1 - sum);
}

// Surface value of I(0,-1) in closed form: (2/pi) E(rho) inside the circle,
// (2/pi) [rho E(1/rho) - (rho - 1/rho) K(1/rho)] outside.
inline real surface_I0m1(real rho) {
  real K, E;
  if (rho <= 1) {
    elliptic_KE(rho, K, E);
    return 2 / kPi * E;
  }
  elliptic_KE(1 / rho, K, E);
  return 2 / kPi * (rho * E - (rho - 1 / rho) * K);
}

}  // namespace platetab_gen
