#include "plate/halfspace_exact.h"

#include <cmath>

#include "toolkit/bessel.h"

namespace zalk::plate {
namespace {

constexpr double kPi = 3.14159265358979323846;

// The integrals I(mu, p) = integral_0^inf m^p J_mu(m rho) J1(m) exp(-m zeta) dm
// for mu = 0, 1 and p = -1, 0, 1.
struct Integrals {
  double i0[3] = {0, 0, 0};
  double i1[3] = {0, 0, 0};
};

// 20-point Gauss-Legendre rule on [-1, 1]: the positive nodes and weights.
constexpr double kNodes[10] = {0.0765265211334973338, 0.2277858511416450781, 0.3737060887154195607,
                               0.5108670019508270980, 0.6360536807265150254, 0.7463319064601507926,
                               0.8391169718222188233, 0.9122344282513259059, 0.9639719272779137913,
                               0.9931285991850949247};
constexpr double kWeights[10] = {0.1527533871307258507, 0.1491729864726037467, 0.1420961093183820513,
                                 0.1316886384491766269, 0.1181945319615184174, 0.1019301198172404351,
                                 0.0832767415767047487, 0.0626720483341090636, 0.0406014298003869413,
                                 0.0176140071391521183};

// Direct summation below the surface (zeta > 0) up to where exp(-m zeta)
// falls below 1e-20 of its start. Panels are short enough (0.4 / (1 + rho))
// for the 20-point rule to resolve the oscillation of J(m rho) J1(m) to
// rounding; the sums are kept in extended precision.
Integrals summed_integrals(double rho, double zeta) {
  const double end = 46.0 / zeta;
  const double h = 0.4 / (1.0 + rho);
  const long panels = long(std::ceil(end / h));
  long double s0[3] = {0, 0, 0}, s1[3] = {0, 0, 0};
  for (long i = 0; i < panels; ++i) {
    const double mid = (double(i) + 0.5) * h;
    for (int n = 0; n < 20; ++n) {
      const double x = n < 10 ? -kNodes[n] : kNodes[n - 10];
      const double m = mid + 0.5 * h * x;
      double j0r, j1r, j0, j1;
      toolkit::bessel_j0_j1(m * rho, j0r, j1r);
      toolkit::bessel_j0_j1(m, j0, j1);
      const double base = 0.5 * h * kWeights[n % 10] * std::exp(-m * zeta) * j1;
      const double a0 = base * j0r, a1 = base * j1r;
      s0[0] += a0 / m;
      s0[1] += a0;
      s0[2] += a0 * m;
      s1[0] += a1 / m;
      s1[1] += a1;
      s1[2] += a1 * m;
    }
  }
  Integrals in;
  for (int p = 0; p < 3; ++p) {
    in.i0[p] = double(s0[p]);
    in.i1[p] = double(s1[p]);
  }
  return in;
}

// Complete elliptic integrals K(k) and E(k), k < 1, by the arithmetic-geometric
// mean in extended precision (the surface form outside the circle cancels).
void elliptic(long double k, long double& K, long double& E) {
  long double a = 1, b = std::sqrt(1 - k * k), c = k, sum = c * c / 2, pow2 = 0.5L;
  for (int i = 0; i < 40 && c > 1e-20L; ++i) {
    const long double next = (a + b) / 2;
    c = (a - b) / 2;
    b = std::sqrt(a * b);
    a = next;
    pow2 *= 2;
    sum += pow2 * c * c;
  }
  K = 3.141592653589793238462643383279502884L / (2 * a);
  E = K * (1 - sum);
}

// I(0, -1) at the surface: (2/pi) E(rho) inside the circle, 2/pi on its edge,
// (2/pi) [rho E(1/rho) - (rho - 1/rho) K(1/rho)] outside.
double surface_i0m1(double rho) {
  const long double two_over_pi = 0.636619772367581343075535053490057448L;
  if (rho == 1.0) return double(two_over_pi);
  long double K, E;
  if (rho < 1.0) {
    elliptic(rho, K, E);
    return double(two_over_pi * E);
  }
  const long double x = rho;
  elliptic(1 / x, K, E);
  return double(two_over_pi * (x * E - (x - 1 / x) * K));
}

HalfSpaceResponse on_axis(double a, double q, double e, double nu, double z) {
  const double zeta = z / a, s = std::sqrt(1.0 + zeta * zeta);
  const double K = (1.0 + nu) * q / e;
  HalfSpaceResponse o;
  o.w = K * a * (2.0 * (1.0 - nu) * (s - zeta) + zeta * (1.0 - zeta / s));
  o.er = o.et = 0.5 * K * (zeta / (s * s * s) - (1.0 - 2.0 * nu) * (1.0 - zeta / s));
  o.ez = K * ((2.0 * nu - 1.0) * (1.0 - zeta / s) - zeta / (s * s * s));
  return o;
}

// Surface (z = 0): I(1, -1) = rho/2 inside, 1/(2 rho) outside; the strains
// are uniform inside the circle and fall as 1/rho^2 outside it.
HalfSpaceResponse on_surface(double rho, double a, double q, double e, double nu) {
  const double K = (1.0 + nu) * q / e;
  const double l = (2.0 * nu * nu + nu - 1.0) * q * 0.5 / e;  // -(1+nu)(1-2nu) q / (2e)
  HalfSpaceResponse o;
  const double i1m1 = rho <= 1.0 ? 0.5 * rho : 0.5 / rho;
  o.u = -K * a * (1.0 - 2.0 * nu) * i1m1;
  o.w = K * a * 2.0 * (1.0 - nu) * surface_i0m1(rho);
  if (rho < 1.0) {
    o.er = o.et = l;
    o.ez = 2.0 * l;
  } else if (rho > 1.0) {
    o.er = -l / (rho * rho);
    o.et = l / (rho * rho);
  } else {
    o.et = o.ez = l;
  }
  return o;
}

}  // namespace

HalfSpaceResponse halfspace_exact(double r, double z, double a, double q, double e, double nu) {
  if (r == 0.0) return on_axis(a, q, e, nu, z);
  const double rho = r / a, zeta = z / a;
  if (z == 0.0) return on_surface(rho, a, q, e, nu);
  const Integrals in = summed_integrals(rho, zeta);
  const double K = (1.0 + nu) * q / e;
  const double* i0 = in.i0;
  const double* i1 = in.i1;
  // u and w from the integrals; the strains by d/dr = (1/a) d/drho and
  // d/dz = (1/a) d/dzeta with d/drho I(1,p) = I(0,p+1) - I(1,p)/rho,
  // d/drho I(0,p) = -I(1,p+1) and d/dzeta I(mu,p) = -I(mu,p+1).
  HalfSpaceResponse o;
  o.u = K * a * (zeta * i1[1] - (1.0 - 2.0 * nu) * i1[0]);
  o.w = K * a * (2.0 * (1.0 - nu) * i0[0] + zeta * i0[1]);
  o.er = K * (zeta * (i0[2] - i1[1] / rho) - (1.0 - 2.0 * nu) * (i0[1] - i1[0] / rho));
  o.et = o.u / r;
  o.ez = K * ((2.0 * nu - 1.0) * i0[1] - zeta * i0[2]);
  o.erz = -K * zeta * i1[2];
  return o;
}

}  // namespace zalk::plate
