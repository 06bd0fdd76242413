// Homogeneous half-space response near the surface: closed forms on the load
// axis, the fitted coefficient surfaces elsewhere, a linear bridge across the
// load edge, a far-field series beyond the tables and the exact surface
// strains.
#include "plate/plateresp.h"

#include <cmath>
#include <limits>

#include "plate/platecoef.h"
#include "plate/platetab.h"

namespace zalk::plate {
namespace {

constexpr int kMaxLoads = 10;  // capacity of the load arrays P and A

// Edge band bounds and the evaluation radii on either side, 4-byte constants.
const double kEdgeLow = double(0.98f);   // 0.9800000190734863
const double kEdgeHigh = double(1.02f);  // 1.0199999809265137
// Deepest point the kernel hands over (z <= 0.45 a), allowing for the
// rounding of z / a.
const double kDeepestFlagged = 0.45 * (1.0 + 1e-12);

struct Response {
  double W, U, ER, ET, EZ, ERZ;
};

Response axis_response(double a, double q, double E, double nu, double z) {
  const double S = std::sqrt(a * a + z * z);
  const double S3 = std::pow(a * a + z * z, 1.5);
  Response r{};
  r.W = (1.0 + nu) * q * a / E * (a / S + (1.0 - 2.0 * nu) * (S - z) / a);
  r.U = 0.0;
  r.ERZ = 0.0;
  r.ER = -(1.0 + nu) * q / (2.0 * E) * ((1.0 - 2.0 * nu) - 2.0 * (1.0 - nu) * z / S + z * z * z / S3);
  r.ET = r.ER;
  r.EZ = -(1.0 + nu) * q / E * (2.0 * nu * z / S + (1.0 - 2.0 * nu) - z * z * z / S3);
  return r;
}

Response surface_fit_response(double R, double a, double zeta, double D, double nu) {
  const double rho = R / a;
  const PlateSurfaces& s = plate_surfaces(plate_block_of(rho));
  // The last zeta grid value is 0.45 in 4-byte precision, just below 0.45,
  // but the kernel hands over points down to z = 0.45 a inclusive. Such
  // points are evaluated on the last grid line (a shift of at most 1.2e-8 a,
  // far below the interpolation error) instead of losing the whole
  // homogeneous part. Deeper points stay outside the grid (zero, warnings).
  const double zmax = s.zeta_grid[s.ny - 1];
  const double zeta_eval = zeta > zmax && zeta <= kDeepestFlagged ? zmax : zeta;
  double o[6];
  plate_coef_fitted(s, rho, zeta_eval, D, nu, o);
  return {o[1] * a, o[0] * a, o[2], o[3], o[4], o[5]};
}

// The half-space integrals I(mu, p) = integral_0^inf m^p J_mu(m rho) J1(m)
// exp(-m zeta) dm, mu = 0, 1 and p = -1, 0, 1, far from the load (rho > 35).
// The power series of J1(m) = sum_k (-1)^k (m/2)^(2k+1) / (k! (k+1)!) turns
// each into a sum of the Laplace transforms
//   L(mu, n) = integral_0^inf m^n J_mu(m rho) exp(-m zeta) dm
//            = (n - mu)! P_n^mu(cos t) / R^(n+1),  n >= mu,
// with R = sqrt(rho^2 + zeta^2), cos t = zeta / R and the associated Legendre
// functions without the (-1)^mu phase; L(1, 0) = rho / (R (R + zeta)). The
// terms fall by about 1 / R^2 < 1e-3 each, so eight reach full precision.
struct FarIntegrals {
  double i0[3];  // I(0, -1), I(0, 0), I(0, 1)
  double i1[3];  // I(1, -1), I(1, 0), I(1, 1)
};

constexpr int kFarTerms = 8;
constexpr int kFarDegree = 2 * kFarTerms + 1;  // highest n of L(mu, n) used

FarIntegrals far_integrals(double rho, double zeta) {
  const double R = std::sqrt(rho * rho + zeta * zeta);
  const double x = zeta / R, sine = rho / R;
  // L(0, n) and L(1, n) for n = 0..kFarDegree.
  double L0[kFarDegree + 1], L1[kFarDegree + 1];
  double p0_prev = 1.0, p0 = x;     // P_0, P_1
  double p1_prev = 0.0, p1 = sine;  // P_0^1, P_1^1
  double factorial = 1.0;           // (n - 1)!
  double inverse_power = 1.0 / (R * R);  // 1 / R^(n+1) at n = 1
  L0[0] = 1.0 / R;
  L1[0] = rho / (R * (R + zeta));
  for (int n = 1; n <= kFarDegree; ++n) {
    L1[n] = factorial * p1 * inverse_power;
    factorial *= n;
    L0[n] = factorial * p0 * inverse_power;
    const double p0_next = ((2 * n + 1) * x * p0 - n * p0_prev) / (n + 1);
    const double p1_next = ((2 * n + 1) * x * p1 - (n + 1) * p1_prev) / n;
    p0_prev = p0;
    p0 = p0_next;
    p1_prev = p1;
    p1 = p1_next;
    inverse_power /= R;
  }
  FarIntegrals out{};
  double c = 0.5;  // (-1)^k / (2^(2k+1) k! (k+1)!)
  for (int k = 0; k < kFarTerms; ++k) {
    for (int p = -1; p <= 1; ++p) {
      out.i0[p + 1] += c * L0[p + 2 * k + 1];
      out.i1[p + 1] += c * L1[p + 2 * k + 1];
    }
    c = -c / (4.0 * (k + 1) * (k + 2));
  }
  return out;
}

// The half-space response from the integrals (the same combinations as the
// table functions' formulas, without their (rho - 1) factors).
Response far_field_response(double R, double a, double q, double E, double nu, double z) {
  const double rho = R / a, zeta = z / a;
  const FarIntegrals in = far_integrals(rho, zeta);
  const double K = (1.0 + nu) * q / E;
  const double* i0 = in.i0;
  const double* i1 = in.i1;
  Response r{};
  r.U = K * a * (zeta * i1[1] - (1.0 - 2.0 * nu) * i1[0]);
  r.W = K * a * (2.0 * (1.0 - nu) * i0[0] + zeta * i0[1]);
  r.ER = K * (zeta * (i0[2] - i1[1] / rho) - (1.0 - 2.0 * nu) * (i0[1] - i1[0] / rho));
  r.ET = r.U / R;
  r.EZ = K * ((2.0 * nu - 1.0) * i0[1] - zeta * i0[2]);
  r.ERZ = -K * zeta * i1[2];
  return r;
}

Response off_axis_response(double R, double a, double q, double E, double nu, double z) {
  const double rho = R / a, zeta = z / a, D = E / q;
  // Beyond the last column of the far table the surfaces would return zero.
  if (rho > kRhoFar[kPlateCols - 1]) return far_field_response(R, a, q, E, nu, z);
  if (!(kEdgeLow < rho && rho < kEdgeHigh)) return surface_fit_response(R, a, zeta, D, nu);
  // Across the load edge the functions change too fast to interpolate:
  // straight line between the values at 0.98 a and 1.02 a (25 = 1 / 0.04).
  const double Rp = kEdgeHigh * a, Rm = kEdgeLow * a;
  const Response vp = surface_fit_response(Rp, a, zeta, D, nu);
  const Response vm = surface_fit_response(Rm, a, zeta, D, nu);
  const double t = (R - Rp) * 25.0 / a;
  auto mix = [t](double p, double m) { return p + t * (p - m); };
  return {mix(vp.W, vm.W),   mix(vp.U, vm.U),   mix(vp.ER, vm.ER),
          mix(vp.ET, vm.ET), mix(vp.EZ, vm.EZ), mix(vp.ERZ, vm.ERZ)};
}

// Exact surface strains: the surfaces cannot carry the jumps at the edge.
void apply_surface_strains(Response& r, double R, double a, double q, double E, double nu) {
  const double rho = R / a;
  const double l = (2.0 * nu * nu + nu - 1.0) * q * 0.5 / E;
  r.ERZ = 0.0;
  if (R > a) {
    r.ER = -l / (rho * rho);
    r.ET = l / (rho * rho);
    r.EZ = 0.0;
  } else if (R < a) {
    r.ER = l;
    r.ET = l;
    r.EZ = 2.0 * l;
  } else {
    r.ER = 0.0;
    r.ET = l;
    r.EZ = l;
  }
}

}  // namespace

void plate_response(int ILOAD, double R, double E1, double NU1, double& W, double& U, double& ER,
               double& ET, double& EZ, double& ERZ, double Z, const double* P, const double* A) {
  if (ILOAD < 1 || ILOAD > kMaxLoads) {  // no such load: never read past the arrays
    W = U = ER = ET = EZ = ERZ = std::numeric_limits<double>::quiet_NaN();
    return;
  }
  const double a = A[ILOAD - 1], q = P[ILOAD - 1];
  Response r;
  if (R == 0.0) {
    r = axis_response(a, q, E1, NU1, Z);
  } else {
    r = off_axis_response(R, a, q, E1, NU1, Z);
    if (Z == 0.0) apply_surface_strains(r, R, a, q, E1, NU1);
  }
  W = r.W;
  U = r.U;
  ER = r.ER;
  ET = r.ET;
  EZ = r.EZ;
  ERZ = r.ERZ;
}

}  // namespace zalk::plate
