// The layered elastic engine's entry points.
//
// quorvan() writes its arguments as an analysis deck, reads the deck back and
// analyses every problem of it; the deck goes through a file or, in the
// overload without a path, through memory (the same text, so the same results).
// analyse_problem() is the core for one problem without the deck file.
#pragma once

#include <array>
#include <filesystem>
#include <memory>

#include "io/deck.h"

namespace zalk::engine {

// All work storage of the engine (problem set, current problem, result
// slots, integration tables, solver and interpolation caches); defined in
// engine/driver.h. One workspace serves any number of calls, one at a time.
struct EngineWorkspace;

// A workspace with every table allocated to its full size.
std::unique_ptr<EngineWorkspace> make_engine_workspace();

// Number of result slots per point: 1 w; 2, 3 u_x, u_y; 4-6 sigma_x, sigma_y,
// sigma_z; 7-9 tau_xy, tau_yz, tau_xz; 10-12 eps_x, eps_y, eps_z; 13-15
// eps_xy, eps_yz, eps_xz (tensor shear strains). Normal stresses and strains
// are positive in tension, w positive downward.
constexpr int kSlots = 15;

// Mode 1 (one load of pressure 100*q and radius 5.9, eight surface points):
// defl[0..7] = w at x = 0, 8, 12, 18, 24, 36, 48, 60, last case wins.
// Mode 2 (two loads of radius 3.8, five points below the surface): column c
// of resp (10 x ncases, column-major) gets the nine indicators of case c;
// element 10 is never written; seastab holds one strength factor per case
// (at most 5 cases). Any other mode analyses the mode-2 deck and returns
// nothing. ncases < 1 writes and reads a deck with no problems and touches
// neither defl nor resp. The deck is left in the file `deck`.
void quorvan(EngineWorkspace& ws, const std::filesystem::path& deck, float h1, float h2, float h3,
             const float* e1, const float* e2, const float* e3, float q, float* defl, float* resp,
             const float* seastab, int ncases, int mode);
void quorvan(EngineWorkspace& ws, float h1, float h2, float h3, const float* e1, const float* e2,
             const float* e3, float q, float* defl, float* resp, const float* seastab, int ncases,
             int mode);

// Analyses one problem as the entry analyses each problem of its deck: layer
// set-up with the top-layer split, every load in turn (integration tables
// shared by consecutive loads of equal radius), every point. The summed
// responses are then available through result_slot(). abstol and reltol are
// the per-component tolerances of the integration (as the deck reader sets
// them). Problems outside the limits (fewer than 2 or more than 50 layers,
// more than 10 loads or 1000 points, a point layer outside the structure)
// are refused with a terminal error through the toolkit reporter.
// With accuracy.high the accurate integration (engine/accurate.h) replaces
// the design's, and abstol and reltol are not used.
struct EngineAccuracy {
  bool high = false;  // false: the design's integration, bit for bit
};

void analyse_problem(EngineWorkspace& ws, const DeckProblem& problem,
                     const std::array<double, 10>& abstol, const std::array<double, 10>& reltol,
                     const EngineAccuracy& accuracy = {});

// analyse_problem's slot 1 (vertical displacement) at every point, bit for
// bit, for the design's integration, from only the work that slot needs;
// the other slots are left incomplete. For callers that read deflections
// alone, as a back-calculation does at every step.
void analyse_deflections(EngineWorkspace& ws, const DeckProblem& problem,
                         const std::array<double, 10>& abstol, const std::array<double, 10>& reltol);

// Slot `slot` (1..15) at point `point` (1..1000, deck numbering) of the
// problem analysed last.
double result_slot(const EngineWorkspace& ws, int slot, int point);

}  // namespace zalk::engine
