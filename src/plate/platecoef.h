// Plate coefficient surfaces: order-3 tensor-product splines through the six
// tabulated half-space functions of one table block, combined with closed-form
// factors in Poisson's ratio and (rho - 1) into the half-space response.
#pragma once

namespace zalk::plate {

// Fits the six surfaces of T1..T6 (each NX x NY, leading dimension 20) on the
// grids XGRID (rho) and YGRID (zeta), evaluates them at (RHO, ZETA) and
// combines them for modulus-over-pressure D and Poisson's ratio NU:
// O1 radial and O2 vertical displacement (times the radius), O3, O4, O5 the
// radial, tangential and vertical strain, O6 the radial-vertical shear strain
// (tensor component); compression negative. Fits on every call.
void plate_coefficients(double RHO, double ZETA, double D, double NU, double& O1, double& O2, double& O3,
               double& O4, double& O5, double& O6, const double* T1, const double* T2,
               const double* T3, const double* T4, const double* T5, const double* T6,
               const double* XGRID, const double* YGRID, int NX, int NY);

// The six surfaces of one table block, fitted once from the constant tables.
struct PlateSurfaces {
  int nx = 0, ny = 0;
  double rho_knots[23] = {};
  double zeta_knots[23] = {};
  double coef[6][400] = {};
  const double* zeta_grid = nullptr;  // the block's zeta values (ny)
};

// Fitted surfaces of block 0..3 (inner, near, far, edge; see platetab.h),
// computed on first use (thread-safe) and shared afterwards.
const PlateSurfaces& plate_surfaces(int block);

// plate_coefficients on fitted surfaces: same results as refitting every call.
void plate_coef_fitted(const PlateSurfaces& s, double rho, double zeta, double D, double nu,
                       double out[6]);

// The combination of the surface values S1..S6 into O1..O6.
void combine_plate_functions(double rho, double zeta, double D, double nu, const double S[6],
                             double out[6]);

}  // namespace zalk::plate
