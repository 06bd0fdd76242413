#include "plate/platecoef.h"

#include <array>
#include <memory>

#include "plate/platetab.h"
#include "toolkit/bspline.h"

namespace zalk::plate {
namespace {

constexpr int kOrder = 3;
constexpr int kLdf = 20;

// Knots and coefficients of the six surfaces on one grid.
void fit_surfaces(const double* const T[6], const double* xgrid, const double* ygrid, int nx,
                  int ny, PlateSurfaces& s) {
  s.nx = nx;
  s.ny = ny;
  toolkit::DBSNAK(nx, xgrid, kOrder, s.rho_knots);
  toolkit::DBSNAK(ny, ygrid, kOrder, s.zeta_knots);
  for (int k = 0; k < 6; ++k)
    toolkit::DBS2IN(nx, xgrid, ny, ygrid, T[k], kLdf, kOrder, kOrder, s.rho_knots, s.zeta_knots,
                    s.coef[k]);
}

void evaluate_surfaces(const PlateSurfaces& s, double rho, double zeta, double S[6]) {
  for (int k = 0; k < 6; ++k)
    S[k] = toolkit::DBS2VL(rho, zeta, kOrder, kOrder, s.rho_knots, s.zeta_knots, s.nx, s.ny,
                           s.coef[k]);
}

// Integer powers, exact for negative bases.
double square(double x) { return x * x; }
double cube(double x) { return x * x * x; }
double fourth(double x) { return square(x) * square(x); }

using AllSurfaces = std::array<PlateSurfaces, 4>;

std::unique_ptr<AllSurfaces> fit_all_blocks() {
  auto tables = std::make_unique<PlateTables>();
  plate_tables(*tables);
  auto all = std::make_unique<AllSurfaces>();
  std::array<std::array<double, 400>, 6> t{};
  for (int b = 0; b < 4; ++b) {
    const PlateBlock& blk = kPlateBlocks[b];
    const double* T[6];
    for (int k = 1; k <= 6; ++k) {
      for (int i = 1; i <= blk.ny; ++i)
        for (int j = 1; j <= kPlateCols; ++j)
          t[k - 1][(j - 1) + (i - 1) * kLdf] = tables->tab[(plate_row(blk, k, i) - 1) + (j - 1) * kPlateRows];
      T[k - 1] = t[k - 1].data();
    }
    fit_surfaces(T, blk.rho, blk.zeta, kPlateCols, blk.ny, (*all)[b]);
    (*all)[b].zeta_grid = blk.zeta;
  }
  return all;
}

}  // namespace

void combine_plate_functions(double rho, double zeta, double D, double nu, const double S[6],
                             double out[6]) {
  const double c = 2.0 * nu * nu + nu - 1.0;
  const double onu = 1.0 + nu;
  const double d = rho - 1.0;
  out[0] = (onu * zeta * S[2] / square(d) + c * S[0]) / D;
  out[1] = (onu * zeta * S[5] + (2.0 - 2.0 * nu * nu) * S[3]) / D;
  out[2] = (onu * zeta * S[4] / cube(d) + c * S[5] + (1.0 - 2.0 * nu * nu - nu) * S[0] / rho -
            onu * zeta * S[2] / (rho * square(d))) /
           D;
  out[3] = (onu * zeta * S[2] / (rho * square(d)) + c * S[0] / rho) / D;
  out[4] = (-onu * zeta * S[4] / cube(d) + c * S[5]) / D;
  out[5] = -onu * zeta * S[1] / fourth(d) / D;
}

void plate_coefficients(double RHO, double ZETA, double D, double NU, double& O1, double& O2, double& O3,
               double& O4, double& O5, double& O6, const double* T1, const double* T2,
               const double* T3, const double* T4, const double* T5, const double* T6,
               const double* XGRID, const double* YGRID, int NX, int NY) {
  // Heap storage: the surfaces are 20 kB, and a failed fit unwinds cleanly.
  auto s = std::make_unique<PlateSurfaces>();
  const double* T[6] = {T1, T2, T3, T4, T5, T6};
  fit_surfaces(T, XGRID, YGRID, NX, NY, *s);
  double S[6], out[6];
  evaluate_surfaces(*s, RHO, ZETA, S);
  combine_plate_functions(RHO, ZETA, D, NU, S, out);
  O1 = out[0];
  O2 = out[1];
  O3 = out[2];
  O4 = out[3];
  O5 = out[4];
  O6 = out[5];
}

const PlateSurfaces& plate_surfaces(int block) {
  // The fits depend only on the constant tables: computed once, then shared
  // read-only (initialisation of a function-local static is thread-safe).
  static const std::unique_ptr<AllSurfaces> all = fit_all_blocks();
  return (*all)[block];
}

void plate_coef_fitted(const PlateSurfaces& s, double rho, double zeta, double D, double nu,
                       double out[6]) {
  double S[6];
  evaluate_surfaces(s, rho, zeta, S);
  combine_plate_functions(rho, zeta, D, nu, S, out);
}

}  // namespace zalk::plate
