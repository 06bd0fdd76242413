// The accurate integration, an alternative to the design's for callers that
// want the responses to rounding rather than to the design's 1e-5: exact
// layer coefficients at every integration parameter (no spline fits, no
// nudge of a unit stiffness ratio), the first interval split into panels
// that refine toward m = 0, a convergence test of 1e-10 that must hold on
// two intervals in a row, and the exact homogeneous half-space near the
// surface in place of the plate tables.
#pragma once

#include <array>
#include <vector>

#include "engine/kernel.h"
#include "engine/transform.h"

namespace zalk::engine {

// Exact coefficient vectors of one load radius and one layer set at the
// integration parameters, prepared interval by interval as the points reach
// them. Interval 0 is the first (0 to the first zero of J1 over the radius,
// in panels); interval k >= 1 is [m1 + (k-1) pi/a, m1 + k pi/a].
struct AccurateTables {
  double radius = 0.0;
  int ncoef = 0;
  int prepared = 0;  // intervals 0..prepared-1 are ready
  std::vector<double> rule_x, rule_w;  // Gauss-Legendre on [0, 1]
  // Per interval: nodes, weights (including the width), J1(m a), coefficients.
  std::vector<std::vector<double>> m, weight, j1a, coef;
  std::vector<double> matrix, rhs;  // scratch of one solve
};

// Forgets the prepared intervals: the tables are to serve radius a on these layers.
void reset_accurate_tables(AccurateTables& tables, double a, const LayerSet& layers);

// The responses of one point to load L, as layer_response gives them, but
// with the accurate integration. For points in layer 1 the homogeneous
// half-space response of the top layer is included (near_surface is 0).
void accurate_layer_response(AccurateTables& tables, const LayerSet& layers, int L, const double* q,
                             const double* a, double z, int j, double r, PointResponse& out);

}  // namespace zalk::engine
