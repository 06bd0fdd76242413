// Slopes of the deflections with respect to the layers' moduli, from the
// same integrals as the deflections: at every transform parameter the layer
// system's solution X is differentiated (A dX = -dA X, with the system's
// own matrix), the derivative coefficients are interpolated and integrated
// as the coefficients are. One analysis then gives what a finite-difference
// Jacobian takes one analysis per modulus for.
#pragma once

#include <array>
#include <vector>

#include "engine/driver.h"

namespace zalk::engine {

// Deflections at the problem's points (slot 1 of analyse_problem, bit for
// bit, in w[k]) and their slopes dw[k * P + i] = d w_k / d ln E_(i+1) for
// the first P deck layers: P = `layers`, or every layer when it is 0 (a
// back-calculation holds the stiff layer's modulus). The points must lie
// in the top layer (the surface sensors of a back-calculation); otherwise
// the slopes are NaN and the result is false. By homogeneity the slopes
// in every layer of a point sum to -w, with full or no bonding.
bool analyse_deflection_slopes(EngineWorkspace& ws, const DeckProblem& problem,
                               const std::array<double, 10>& abstol, const std::array<double, 10>& reltol,
                               std::vector<double>& w, std::vector<double>& dw, int layers = 0);

}  // namespace zalk::engine
