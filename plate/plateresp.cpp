// Homogeneous half-space response near the surface: closed forms on the load
// axis, the fitted coefficient surfaces elsewhere, a linear bridge across the
// load edge and the exact surface strains.
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

Response off_axis_response(double R, double a, double q, double E, double nu, double z) {
  const double rho = R / a, zeta = z / a, D = E / q;
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
