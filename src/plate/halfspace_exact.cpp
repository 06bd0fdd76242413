#include "plate/halfspace_exact.h"

#include <cmath>


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

// Below the surface the integrals are sums of point-load potentials over the
// loaded disk (the addition theorem turns J_mu(m rho) J1(m) / m into the
// disk's mean of J0(m d), resp. cos psi J1(m d), d the distance to a source
// point and psi the angle of the offset to the radial direction):
//   I(0,-1), I(0,0), I(0,1) = (1/2pi) ∫ 1/R, zeta/R^3, (2 zeta^2 - d^2)/R^5 dA,
//   I(1,-1), I(1,0), I(1,1) = (1/2pi) ∫ cos psi [(1 - zeta/R)/d, d/R^3, 3 d zeta/R^5] dA,
// R = sqrt(d^2 + zeta^2). In polar coordinates about the point the radial
// integrals are elementary; the angle is integrated adaptively.
struct Kernel {
  double v[6];  // I(0,-1), I(0,0), I(0,1), I(1,-1), I(1,0), I(1,1) integrands
};

// Radial antiderivatives at distance s (without their constants where the
// angular integral of cos psi removes them).
struct Radial {
  double r, zr, s2r3, c_m1, c_0, c_1;
};

Radial radial(double s, double zeta) {
  const double R = std::sqrt(s * s + zeta * zeta);
  const double ash = std::asinh(s / zeta);
  Radial o;
  o.r = R;
  o.zr = zeta / R;
  o.s2r3 = s * s / (R * R * R);
  o.c_m1 = s - zeta * ash;
  o.c_0 = ash - s / R;
  // s^3 / (zeta R^3) less its limit 1 / zeta, without cancellation.
  o.c_1 = -zeta * (R * R + R * s + s * s) / ((R + s) * R * R * R);
  return o;
}

// Point inside the circle (rho <= 1), angle phi of the offset from the source.
Kernel inside_kernel(double rho, double zeta, double phi) {
  const double c = std::cos(phi), sn = std::sin(phi);
  const double s2 = rho * c + std::sqrt(1.0 - rho * rho * sn * sn);
  const Radial b = radial(s2, zeta);
  return {{b.r - zeta, 1.0 - b.zr, b.s2r3, c * b.c_m1, c * b.c_0, c * b.c_1}};
}

// Point outside the circle: phi = asin(sin t / rho) takes the square root at
// the tangents out of the chord length.
Kernel outside_kernel(double rho, double zeta, double t) {
  const double st = std::sin(t), q = std::cos(t);
  const double c = std::sqrt(1.0 - st * st / (rho * rho));
  const double jac = q / (rho * c);
  const Radial b2 = radial(rho * c + q, zeta), b1 = radial(rho * c - q, zeta);
  return {{jac * (b2.r - b1.r), jac * (b1.zr - b2.zr), jac * (b2.s2r3 - b1.s2r3), jac * c * (b2.c_m1 - b1.c_m1),
           jac * c * (b2.c_0 - b1.c_0), jac * c * (b2.c_1 - b1.c_1)}};
}

template <class F>
Kernel gauss(const F& f, double from, double to) {
  Kernel sum{};
  const double mid = 0.5 * (from + to), half = 0.5 * (to - from);
  for (int n = 0; n < 20; ++n) {
    const double x = n < 10 ? -kNodes[n] : kNodes[n - 10];
    const Kernel k = f(mid + half * x);
    for (int c = 0; c < 6; ++c) sum.v[c] += half * kWeights[n % 10] * k.v[c];
  }
  return sum;
}

// Adaptive bisection until halving changes no component by more than tol.
template <class F>
Kernel adaptive(const F& f, double from, double to, const Kernel& whole, const double* tol, int depth) {
  const double mid = 0.5 * (from + to);
  const Kernel left = gauss(f, from, mid), right = gauss(f, mid, to);
  bool done = true;
  for (int c = 0; c < 6; ++c) done = done && std::abs(left.v[c] + right.v[c] - whole.v[c]) <= tol[c];
  done = done || depth >= 40;
  if (done) {
    Kernel sum{};
    for (int c = 0; c < 6; ++c) sum.v[c] = left.v[c] + right.v[c];
    return sum;
  }
  const Kernel a = adaptive(f, from, mid, left, tol, depth + 1), b = adaptive(f, mid, to, right, tol, depth + 1);
  Kernel sum{};
  for (int c = 0; c < 6; ++c) sum.v[c] = a.v[c] + b.v[c];
  return sum;
}

// The angular integral over [from, to] (half the range, by symmetry), to
// about 1e-14 of each component's size.
template <class F>
Integrals angular_integral(const F& f, double from, double to) {
  constexpr int kStart = 8;
  Kernel part[kStart], coarse{};
  for (int i = 0; i < kStart; ++i) {
    part[i] = gauss(f, from + (to - from) * i / kStart, from + (to - from) * (i + 1) / kStart);
    for (int c = 0; c < 6; ++c) coarse.v[c] += std::abs(part[i].v[c]);
  }
  double tol[6];
  for (int c = 0; c < 6; ++c) tol[c] = 1e-15 * coarse.v[c] + 1e-300;
  Kernel sum{};
  for (int i = 0; i < kStart; ++i) {
    const Kernel k = adaptive(f, from + (to - from) * i / kStart, from + (to - from) * (i + 1) / kStart, part[i], tol, 0);
    for (int c = 0; c < 6; ++c) sum.v[c] += k.v[c];
  }
  Integrals in;
  for (int p = 0; p < 3; ++p) {
    in.i0[p] = sum.v[p] / kPi;
    in.i1[p] = sum.v[3 + p] / kPi;
  }
  return in;
}

Integrals buried_integrals(double rho, double zeta) {
  if (rho <= 1.0) return angular_integral([&](double phi) { return inside_kernel(rho, zeta, phi); }, 0.0, kPi);
  return angular_integral([&](double t) { return outside_kernel(rho, zeta, t); }, 0.0, 0.5 * kPi);
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
  const Integrals in = buried_integrals(rho, zeta);
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
