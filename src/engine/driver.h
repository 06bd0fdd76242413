// The engine's work storage and the steps of one analysis: the per-problem
// set-up (with the top-layer split), the load and point loops, and the two
// ways the summed result slots are reported.
#pragma once

#include <array>
#include <vector>

#include "io/deck.h"
#include "engine/accurate.h"
#include "engine/kernel.h"
#include "engine/quorvan.h"
#include "engine/transform.h"

namespace zalk::engine {

// The problem being analysed, after the top-layer split; element [i-1] is
// layer, load or point i.
struct CurrentProblem {
  int nl = 0, nld = 0, npt = 0;
  std::array<double, kMaxEngineLayers> e{}, pr{}, h{}, bd{};
  std::array<double, kMaxLoads> p{}, a{}, xl{}, yl{};
  std::array<int, kMaxPoints> lp{};
  std::array<double, kMaxPoints> xp{}, yp{}, zp{};

  LayerSet layers() const { return LayerSet{nl, e.data(), pr.data(), h.data(), bd.data()}; }
};

// Responses per point summed over the loads: slot[s-1][k-1] is slot s
// (numbering of kSlots) at point k.
struct ResultSlots {
  std::array<std::array<double, kMaxPoints>, kSlots> slot{};
  double& at(int s, int k) { return slot[s - 1][k - 1]; }
  double at(int s, int k) const { return slot[s - 1][k - 1]; }
};

// Everything one engine call works in. Tables are sized once (the
// interpolation and Bessel caches when first needed) and reused by later
// calls; only the Bessel cache carries values from one call to the next,
// and those depend on the load radius and distance alone.
struct EngineWorkspace {
  ProblemSet problems;     // the deck read back
  CurrentProblem current;  // the problem being analysed
  ResultSlots rslot;
  TransformTables tables;  // of the current load radius and layers
  SolverWorkspace solver;
  IntervalCache intervals;  // of the current tables
  BesselCache bessel;
  AccurateTables accurate;  // of the accurate integration only
  // Solve the tables' columns as the integrals reach them, not all at the
  // build: the same responses bit for bit, mostly from well under half the
  // solves, but the tables are left partly solved. Off, every column is
  // solved as the tables are built.
  bool columns_on_demand = false;
};

// Takes problem `problem` into ws.current: copies its layers, loads and
// points, splits a top layer thicker than 0.45 load radii, and zeroes the
// result slots. Refuses problems outside the engine's limits.
void set_up_problem(EngineWorkspace& ws, const DeckProblem& problem);

// Runs every load and point of ws.current into ws.rslot.
void analyse_current(EngineWorkspace& ws, const std::array<double, 10>& abstol,
                     const std::array<double, 10>& reltol);

// Slot 1 (vertical deflection) of analyse_current, bit for bit, with only
// the work that slot needs: the deflection integrals alone, the tables'
// columns solved as far as those integrals reach, and only the
// coefficients of the points' layers fitted. The other slots are left
// incomplete.
void analyse_current_deflections(EngineWorkspace& ws, const std::array<double, 10>& abstol,
                                 const std::array<double, 10>& reltol);

// The same with the accurate integration (engine/accurate.h).
void analyse_current_accurately(EngineWorkspace& ws);

// One case's mode-2 indicators from the result slots of the mode-2 points
// (1..5): fills column[0..8] (column[9] is left alone). h1, h2 are the
// layer thicknesses, coh the case's cohesion (6 x strength factor) and kp
// the passive earth-pressure coefficient. Positive horizontal stresses at
// points 2 and 4 are set to 0 in the slots.
void mode2_indicators(ResultSlots& rslot, float h1, float h2, float coh, double kp, float* column);

// Passive earth-pressure coefficient of the 24-degree friction angle.
double passive_coefficient();

}  // namespace zalk::engine
