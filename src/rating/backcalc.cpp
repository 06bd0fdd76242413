#include "rating/backcalc.h"

#include <cmath>
#include <limits>

#include "engine/driver.h"
#include "engine/quorvan.h"
#include "rating/defltable.h"

namespace zalk::rating {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kSearchStart = 1.0e9f;  // FBEST at the start of every search
constexpr int kBasinSensors = 6;        // sensors measured in a test
constexpr int kWeightedSensors = 8;     // sensors a host may weight
constexpr int kEngineSensors = 8;       // deflections of a mode-1 engine run

float weight(const Blocks& b, int s) { return b.com3.WEIGHT[s - 1]; }

// Interval of pass p >= 2: from the grid point before the best one to the
// one after it; an end at which the best point lay stays.
void refine_intervals(SearchState& st) {
  const float a0 = st.a_lo;
  const float b0 = st.b_lo;
  if (st.ibest > 1) st.a_lo = float(st.ibest - 2) * st.da + a0;
  if (st.ibest < st.ni + 1) st.a_hi = float(st.ibest) * st.da + a0;
  if (st.jbest > 1) st.b_lo = float(st.jbest - 2) * st.db + b0;
  if (st.jbest < st.nj + 1) st.b_hi = float(st.jbest) * st.db + b0;
}

void scan_pass(SearchState& st, const Objective& objective) {
  st.da = (st.a_hi - st.a_lo) / float(st.ni);
  st.db = (st.b_hi - st.b_lo) / float(st.nj);
  for (int i = 1; i <= st.ni + 1; ++i) {
    for (int j = 1; j <= st.nj + 1; ++j) {
      st.x[0] = float(i - 1) * st.da + st.a_lo;
      st.x[1] = float(j - 1) * st.db + st.b_lo;
      float f = 0;
      objective(2, st.x.data(), f);
      if (f <= st.fbest) {  // ties go to the later point
        st.xopt = st.x;
        st.fbest = f;
        st.ibest = i;
        st.jbest = j;
        st.found = true;
      }
    }
  }
}

int bound_code(const std::array<float, 2>& xopt, const std::array<float, 2>& xlow,
               const std::array<float, 2>& xhigh) {
  int code = 0;
  if (xopt[0] == xhigh[0]) code += 20;
  if (xopt[0] == xlow[0]) code += 10;
  if (xopt[1] == xhigh[1]) code += 2;
  if (xopt[1] == xlow[1]) code += 1;
  return code;
}

// Fit error: relative misfit of the engine's basin over the weighted sensors.
float fit_error(const Blocks& b) {
  float err = 0;
  for (int s = 1; s <= kBasinSensors; ++s) {
    if (weight(b, s) > 0.0f) {
      const float r = b.dd.DCALC[s - 1] / b.dd.DMEAS[s - 1] - 1.0f;
      err = err + r * r;
    }
  }
  return err;
}

// The misfit of basin_objective with surface(s) giving the value of sensor s at
// the point; sensors are evaluated in turn, as they enter the sum.
template <class Surface>
void basin_misfit(RatingContext& ctx, const Blocks& blocks, float& F, const Surface& surface) {
  F = 0.0f;
  const float r1 = blocks.dd.DMEAS[0];
  for (int s = 1; s <= kWeightedSensors; ++s) {
    if (!(weight(blocks, s) > 0.0f)) continue;
    const float c = surface(s);
    if (s == 1) {
      ctx.search.c1 = c;
    } else {
      const float r = blocks.dd.DMEAS[s - 1] / r1 - c / ctx.search.c1;
      F = F + r * r;
    }
  }
}

}  // namespace

bool analysable_modulus(float e) { return std::isfinite(e) && e > 0.0f; }

void run_engine(RatingContext& ctx, float h1, float h2, float h3, const float* e1, const float* e2,
                const float* e3, float q, float* defl, float* resp, const float* seastab,
                int ncases, int mode) {
  if (ctx.engine_override) {
    ctx.engine_override(h1, h2, h3, e1, e2, e3, q, defl, resp, seastab, ncases, mode);
    return;
  }
  if (!ctx.engine) ctx.engine = engine::make_engine_workspace();
  engine::quorvan(*ctx.engine, h1, h2, h3, e1, e2, e3, q, defl, resp, seastab, ncases, mode);
}

// The basis at X is formed once; each sensor's value is then the active sum
// of its coefficients, which is what BS2GD computes for it (see
// evaluate_surface with a SurfacePoint), so F, c1 and the blocks are those
// of basin_objective_per_sensor.
void basin_objective(RatingContext& ctx, Blocks& blocks, int /*n*/, const float* X, float& F) {
  if (ctx.surfaces.ready) {
    // A search scans along the base modulus: the previous point's basis in
    // the surface modulus mostly serves again.
    move_surface_point(blocks, X[0], X[1], ctx.surfaces.point);
  }
  const SurfacePoint point =
      ctx.surfaces.ready ? ctx.surfaces.point : prepare_surface_point(blocks, X[0], X[1]);
  if (gathered_for(ctx.surfaces, blocks, point)) {
    std::array<float, kSurfaceSensors> values;
    evaluate_sensors(ctx.surfaces, point, values);
    int last = 0;
    basin_misfit(ctx, blocks, F, [&](int s) {
      last = s;
      return values[std::size_t(s - 1)];
    });
    if (last > 0) leave_surface_value(blocks, point, values[std::size_t(last - 1)]);
    return;
  }
  basin_misfit(ctx, blocks, F, [&](int s) { return evaluate_surface(blocks, point, s); });
}

GatheredSurfaces::GatheredSurfaces(RatingContext& ctx, const Blocks& blocks) : ctx_(ctx) {
  if (ctx_.share_surface_work) gather_sensor_surfaces(blocks, ctx_.surfaces);
}
GatheredSurfaces::~GatheredSurfaces() { ctx_.surfaces.ready = false; }

void basin_objective_per_sensor(RatingContext& ctx, Blocks& blocks, int /*n*/, const float* X,
                                float& F) {
  basin_misfit(ctx, blocks, F, [&](int s) { return evaluate_surface(blocks, X[0], X[1], s); });
}

void evaluate_basin(Blocks& blocks, const float* X, float* DFIT) {
  for (int s = 1; s <= kBasinSensors; ++s) {
    if (weight(blocks, s) > 0.0f) DFIT[s - 1] = evaluate_surface(blocks, X[0], X[1], s);
  }
}

void grid_search(RatingContext& ctx, Blocks& blocks, const Objective& objective,
             const std::array<float, 2>& XLOW, const std::array<float, 2>& XHIGH) {
  SearchState& st = ctx.search;
  st.xlow = XLOW;
  st.xhigh = XHIGH;
  st.fbest = kSearchStart;
  st.ni = 19;
  st.nj = 19;
  st.found = false;
  for (int pass = 1; pass <= 5; ++pass) {
    if (pass == 1) {
      st.a_lo = XLOW[0];
      st.a_hi = XHIGH[0];
      st.b_lo = XLOW[1];
      st.b_hi = XHIGH[1];
    } else {
      refine_intervals(st);
    }
    scan_pass(st, objective);
  }
  // A search that accepted no point has no optimum; a stale one from an
  // earlier search would pass for a result.
  if (!st.found) st.xopt = {kNaN, kNaN};
  st.fopt = st.fbest;
  blocks.code.ICODE = bound_code(st.xopt, XLOW, XHIGH);
}

void back_calculate(RatingContext& ctx, Blocks& blocks, const float* E1GRID, const float* E2GRID,
              const float* REFC, float LOADF, float* E1OUT, float* E2OUT, float* E3OUT, int N1,
              int N2, float H1, float H2, float H3, int d, int /*test*/, float& ERR, int /*mode*/) {
  const std::array<float, 2> xlow{E1GRID[0], E2GRID[0]};
  const std::array<float, 2> xhigh{E1GRID[N1 - 1], E2GRID[N2 - 1]};
  const Objective objective = [&ctx, &blocks](int n, const float* x, float& f) {
    basin_objective(ctx, blocks, n, x, f);
  };
  {
    const GatheredSurfaces gathered(ctx, blocks);
    grid_search(ctx, blocks, objective, xlow, xhigh);
  }
  const std::array<float, 2> xopt = ctx.search.xopt;
  zalk_dd_block& dd = blocks.dd;

  if (ctx.search.found) {
    evaluate_basin(blocks, xopt.data(), dd.DFIT);
  } else {
    for (int s = 1; s <= kBasinSensors; ++s)
      if (weight(blocks, s) > 0.0f) dd.DFIT[s - 1] = kNaN;
  }

  // R is the reciprocal of the least-squares factor from the fitted basin
  // (reference subgrade modulus and load) to the measured one.
  float sa = 0.0f;
  float sb = 0.0f;
  for (int s = 1; s <= kWeightedSensors; ++s) {
    sa = sa + dd.DFIT[s - 1] * dd.DFIT[s - 1] * weight(blocks, s);
    sb = sb + dd.DMEAS[s - 1] * dd.DFIT[s - 1] * weight(blocks, s);
  }
  const float r = sa / sb;
  float e3 = r * REFC[0] * LOADF;
  float e1 = r * xopt[0] * 1000.0f * LOADF;
  float e2 = r * xopt[1] * 1000.0f * LOADF;
  E1OUT[d - 1] = e1;
  E2OUT[d - 1] = e2;
  E3OUT[d - 1] = e3;

  // The deck cannot carry a modulus that is not a positive number; such a
  // depth gets no fit error and is never chosen.
  if (!analysable_modulus(e1) || !analysable_modulus(e2) || !analysable_modulus(e3)) {
    for (int s = 1; s <= kEngineSensors; ++s) dd.DCALC[s - 1] = kNaN;
    ERR = kNaN;
    return;
  }
  float seastab_scratch = 0.0f;
  run_engine(ctx, H1, H2, H3, &e1, &e2, &e3, LOADF, dd.DCALC, ctx.engine_scratch.data(),
             &seastab_scratch, 1, 1);
  ERR = fit_error(blocks);
}

}  // namespace zalk::rating
