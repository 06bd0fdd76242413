// Back-calculation of the three layer moduli for one test and one depth
// candidate: a refined grid search of the normalised basin over the surface
// and base moduli on the table's surfaces, a least-squares scale to the
// measured magnitude and load, and an engine run that measures the fit.
#pragma once

#include <array>
#include <functional>

#include "rating/blocks.h"
#include "rating/context.h"

namespace zalk::rating {

// Objective of the grid search: f(n, X) with n = 2 unknowns.
using Objective = std::function<void(int n, const float* x, float& f)>;

// Squared misfit of the normalised basin at X = (surface modulus, base
// modulus) in thousands, over the weighted sensors 2..8 (sensor 1 normalises).
// The basis of the surfaces at X is formed once per call and shared by the
// sensors; results and blocks are bit for bit those of
// basin_objective_per_sensor.
void basin_objective(RatingContext& ctx, Blocks& blocks, int n, const float* X, float& F);

// While one lives, basin_objective evaluates all sensors at once from a copy
// of the current depth's coefficients (taken when it is made: the surfaces
// must not change during its life), with the same results and blocks.
class GatheredSurfaces {
 public:
  GatheredSurfaces(RatingContext& ctx, const Blocks& blocks);
  ~GatheredSurfaces();
  GatheredSurfaces(const GatheredSurfaces&) = delete;
  GatheredSurfaces& operator=(const GatheredSurfaces&) = delete;

 private:
  RatingContext& ctx_;
};

// basin_objective in its straightforward form, one full surface evaluation per
// sensor: the reference the shared-basis form is checked against.
void basin_objective_per_sensor(RatingContext& ctx, Blocks& blocks, int n, const float* X, float& F);

// DFIT(s) = surface value at X for the weighted sensors 1..6 at depth IDEPTH.
void evaluate_basin(Blocks& blocks, const float* X, float* DFIT);

// Five-pass 20 x 20 grid search over the box [XLOW, XHIGH]: XOPT and FOPT
// go to ctx.search, the bound flags to ICODE. When no point of the search is
// accepted (no finite objective), XOPT is NaN rather than a stale optimum.
void grid_search(RatingContext& ctx, Blocks& blocks, const Objective& objective,
             const std::array<float, 2>& XLOW, const std::array<float, 2>& XHIGH);

// One back-calculation for depth index d (also IDEPTH): fills E1OUT(d),
// E2OUT(d), E3OUT(d) (1-based d), DFIT, DCALC, ICODE and ERR. Moduli the
// engine cannot analyse (not finite or not positive) leave ERR and DCALC NaN
// and skip the engine.
void back_calculate(RatingContext& ctx, Blocks& blocks, const float* E1GRID, const float* E2GRID,
              const float* REFC, float LOADF, float* E1OUT, float* E2OUT, float* E3OUT, int N1,
              int N2, float H1, float H2, float H3, int d, int test, float& ERR, int mode);

// The engine run for the rating core: through ctx.engine_override when set,
// otherwise the engine with the context's workspace, the deck in memory.
void run_engine(RatingContext& ctx, float h1, float h2, float h3, const float* e1, const float* e2,
                const float* e3, float q, float* defl, float* resp, const float* seastab,
                int ncases, int mode);

// Whether a modulus can be handed to the engine.
bool analysable_modulus(float e);

}  // namespace zalk::rating
