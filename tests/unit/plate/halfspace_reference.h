// Independent reference for the plate tests: the exact response of an elastic
// half-space under a uniformly loaded circle, from the Hankel integrals
//   I(mu, p) = integral_0^inf m^p J_mu(m rho) J1(m) exp(-m zeta) dm
// summed directly over m (Gauss-Legendre panels up to exp(-m zeta) < 1e-20),
// with closed forms at the surface. This is a different method from the one
// that generated the tables (integrals along the load edge).
#pragma once

#include <cmath>

namespace plate_test {

struct Integrals {
  double i0[3];  // I(0, -1), I(0, 0), I(0, 1)
  double i1[3];  // I(1, -1), I(1, 0), I(1, 1)
};

inline const double kPi = 3.14159265358979323846;

// Direct summation for zeta > 0.
inline Integrals hankel_integrals(double rho, double zeta) {
  static const double x[10] = {0.0765265211334973, 0.2277858511416451, 0.3737060887154196,
                               0.5108670019508271, 0.6360536807265150, 0.7463319064601508,
                               0.8391169718222188, 0.9122344282513259, 0.9639719272779138,
                               0.9931285991850949};
  static const double w[10] = {0.1527533871307258, 0.1491729864726037, 0.1420961093183820,
                               0.1316886384491766, 0.1181945319615184, 0.1019301198172404,
                               0.0832767415767048, 0.0626720483341091, 0.0406014298003869,
                               0.0176140071391521};
  const double mmax = 47.0 / zeta;
  const double h = std::fmin(0.5, 1.5 / (1.0 + rho));
  long double s0[3] = {0, 0, 0}, s1[3] = {0, 0, 0};
  for (double m0 = 0; m0 < mmax; m0 += h) {
    const double mid = m0 + h / 2;
    for (int i = 0; i < 20; ++i) {
      const double m = i < 10 ? mid - h / 2 * x[i] : mid + h / 2 * x[i - 10];
      const double wt = h / 2 * w[i % 10];
      const double base = wt * std::exp(-m * zeta) * ::j1(m);
      const double a0 = base * ::j0(m * rho), a1 = base * ::j1(m * rho);
      s0[0] += a0 / m;
      s0[1] += a0;
      s0[2] += a0 * m;
      s1[0] += a1 / m;
      s1[1] += a1;
      s1[2] += a1 * m;
    }
  }
  Integrals r{};
  for (int p = 0; p < 3; ++p) {
    r.i0[p] = double(s0[p]);
    r.i1[p] = double(s1[p]);
  }
  return r;
}

// Complete elliptic integrals K(k), E(k) by the arithmetic-geometric mean,
// in extended precision (outside the circle the closed form below loses
// about log10(rho^2) digits to cancellation).
inline void elliptic(long double k, long double& K, long double& E) {
  long double a = 1, b = std::sqrt(1 - k * k), c = k, sum = c * c / 2, pow2 = 0.5L;
  for (int i = 0; i < 40 && c > 1e-20L; ++i) {
    const long double an = (a + b) / 2;
    c = (a - b) / 2;
    b = std::sqrt(a * b);
    a = an;
    pow2 *= 2;
    sum += pow2 * c * c;
  }
  K = 3.141592653589793238462643383279502884L / (2 * a);
  E = K * (1 - sum);
}

// Surface value of I(0, -1): (2/pi) E(rho) inside the circle,
// (2/pi) [rho E(1/rho) - (rho - 1/rho) K(1/rho)] outside.
inline long double surface_i0m1_ext(long double rho) {
  const long double two_over_pi = 0.636619772367581343075535053490057448L;
  if (rho == 1) return two_over_pi;  // E(1) = 1; K(1) is infinite
  long double K, E;
  if (rho < 1) {
    elliptic(rho, K, E);
    return two_over_pi * E;
  }
  elliptic(1 / rho, K, E);
  return two_over_pi * (rho * E - (rho - 1 / rho) * K);
}

inline double surface_i0m1(double rho) { return double(surface_i0m1_ext(rho)); }

// The six table functions S1..S6 from the integrals.
inline void table_functions(double rho, const Integrals& in, double S[6]) {
  const double d = rho - 1;
  S[0] = in.i1[0];
  S[1] = d * d * d * d * in.i1[2];
  S[2] = d * d * in.i1[1];
  S[3] = in.i0[0];
  S[4] = d * d * d * in.i0[2];
  S[5] = in.i0[1];
}

struct Response {
  double W, U, ER, ET, EZ, ERZ;
};

// The integrals a response needs at (rho, zeta): elementary on the axis,
// surface limits at zeta = 0 (only the combinations used below), summed
// otherwise.
inline Integrals response_integrals(double rho, double zeta) {
  Integrals in{};
  if (rho == 0) {
    const double s = std::sqrt(1 + zeta * zeta);
    in.i0[0] = s - zeta;
    in.i0[1] = 1 - zeta / s;
    in.i0[2] = 1 / (s * s * s);
  } else if (zeta == 0) {
    in.i1[0] = rho < 1 ? rho / 2 : 1 / (2 * rho);
    in.i0[0] = surface_i0m1(rho);
    in.i0[1] = rho < 1 ? 1 : 0;
  } else {
    in = hankel_integrals(rho, zeta);
  }
  return in;
}

// Exact half-space response at offset rho a and depth zeta a from the
// integrals there; rho = 1 at zeta = 0 (the strain jump) is not covered.
inline Response halfspace(double rho, double zeta, const Integrals& in, double a, double q,
                          double E, double nu) {
  const double K = (1 + nu) * q / E;
  const double* i0 = in.i0;
  const double* i1 = in.i1;
  Response o{};
  // u = K a [zeta I(1,0) - (1-2nu) I(1,-1)], w = K a [2(1-nu) I(0,-1) + zeta I(0,0)];
  // strains by d/dr = (1/a) d/drho, d/dz = (1/a) d/dzeta, with
  // d/drho I(1,p) = I(0,p+1) - I(1,p)/rho, d/drho I(0,p) = -I(1,p+1), d/dzeta I(mu,p) = -I(mu,p+1).
  o.U = K * a * (zeta * i1[1] - (1 - 2 * nu) * i1[0]);
  o.W = K * a * (2 * (1 - nu) * i0[0] + zeta * i0[1]);
  if (rho == 0) {
    o.ER = o.ET = K * (zeta * i0[2] - (1 - 2 * nu) * i0[1]) / 2;  // u/r -> du/dr on the axis
  } else {
    o.ER = K * (zeta * (i0[2] - i1[1] / rho) - (1 - 2 * nu) * (i0[1] - i1[0] / rho));
    o.ET = o.U / (rho * a);
  }
  o.EZ = K * ((2 * nu - 1) * i0[1] - zeta * i0[2]);
  o.ERZ = -K * zeta * i1[2];
  return o;
}

inline Response halfspace(double r, double z, double a, double q, double E, double nu) {
  const double rho = r / a, zeta = z / a;
  return halfspace(rho, zeta, response_integrals(rho, zeta), a, q, E, nu);
}

// A second method for points far from the load (r > 25 a, any depth):
// Boussinesq's point-load solution summed over the loaded circle, 10-point
// Gauss-Legendre in the source radius and a 64-point trapezoid rule in its
// angle (the integrand is smooth and periodic; its terms fall as (a / r)^n,
// so both rules are exact to rounding there). Point at (r, 0, z).
inline Response boussinesq_disk(double r, double z, double a, double q, double E, double nu) {
  static const double x[10] = {-0.9739065285171717, -0.8650633666889845, -0.6794095682990244,
                               -0.4333953941292472, -0.1488743389816312, 0.1488743389816312,
                               0.4333953941292472,  0.6794095682990244,  0.8650633666889845,
                               0.9739065285171717};
  static const double w[10] = {0.0666713443086881, 0.1494513491505806, 0.2190863625159820,
                               0.2692667193099963, 0.2955242247147529, 0.2955242247147529,
                               0.2692667193099963, 0.2190863625159820, 0.1494513491505806,
                               0.0666713443086881};
  constexpr int kAngles = 64;
  long double W = 0, U = 0, sxx = 0, syy = 0, szz = 0, sxz = 0;
  for (int i = 0; i < 10; ++i) {
    const double s = a / 2 * (1 + x[i]);
    for (int j = 0; j < kAngles; ++j) {
      const double phi = 2 * kPi * j / kAngles;
      const double P = q * s * (a / 2 * w[i]) * (2 * kPi / kAngles);  // force of the element
      const double dx = r - s * std::cos(phi), dy = -s * std::sin(phi);
      const double d = std::hypot(dx, dy), R = std::hypot(d, z);
      const double c = dx / d, sn = dy / d;
      const double K = P * (1 + nu) / (2 * kPi * E);
      const double ur = K * (d * z / (R * R * R) - (1 - 2 * nu) * d / (R * (R + z)));
      W += K * (z * z / (R * R * R) + 2 * (1 - nu) / R);
      U += c * ur;
      // Stresses, tension positive; (1 - z / R) / d^2 written as 1 / (R (R + z)).
      const double R5 = R * R * R * R * R, soft = 1 / (R * (R + z));
      const double sr = P / (2 * kPi) * ((1 - 2 * nu) * soft - 3 * z * d * d / R5);
      const double st = -P / (2 * kPi) * (1 - 2 * nu) * (soft - z / (R * R * R));
      const double sz = -3 * P * z * z * z / (2 * kPi * R5);
      const double trz = -3 * P * d * z * z / (2 * kPi * R5);
      sxx += c * c * sr + sn * sn * st;
      syy += sn * sn * sr + c * c * st;
      szz += sz;
      sxz += c * trz;
    }
  }
  Response o{};
  o.W = double(W);
  o.U = double(U);
  o.ER = double((sxx - nu * (syy + szz)) / E);
  o.ET = double((syy - nu * (sxx + szz)) / E);
  o.EZ = double((szz - nu * (sxx + syy)) / E);
  o.ERZ = double((1 + nu) * sxz / E);
  return o;
}

}  // namespace plate_test
