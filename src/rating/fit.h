// Back-calculation by least squares on the engine ("fit"), beside the
// table search of rating/backcalc.h, which it leaves untouched and starts
// from:
//
//  1. at each depth candidate the table search gives a start, which a local
//     search on the same surfaces then polishes free of the search's grid
//     cells (no engine runs);
//  2. the candidates are ranked by the polished fit error, and the best few
//     are refined by Levenberg-Marquardt on the logarithms of the three
//     moduli, with the engine run directly on an in-memory problem
//     (unrounded moduli, the stiff layer below kept at its own modulus) at
//     the test's own sensors and load;
//  3. optionally the depth to the stiff layer is refined too, between the
//     neighbouring candidates;
//  4. the best is kept, and never one worse than the table search's own
//     answer, whose error is measured the same way.
//
// Any sensor layout is fitted at its own offsets. The table only seeds the
// search: a layout other than the legacy six is interpolated to the
// table's sensors (linearly in the logarithm of the deflection; before the
// first sensor with the first two sensors' slope, beyond the last one not
// at all). Without a table start (a base thinner than 3 in or thicker than
// 48 in, a surface thinner than 2 in, fewer than three table sensors
// covered) each candidate starts from a typical structure scaled to the
// measured magnitude and refined for a few engine steps.
//
// With DepthMode::Global the table is not searched at all: the depth is
// searched over its whole range and without a stiff layer on a grid of the
// engine's basins kept per section (rating/basin_grid.h), the best valleys
// polished on the engine; only an answer held at a bound or unconverged is
// compared with the table search's. A section given fewer tests than would
// repay its grid (FitOptions::section_tests) is searched the same way on
// the engine itself. A basin fitted far below the noise (a computed one) is
// polished last on the engine's high accuracy.
//
// Standard errors: cov = A J' diag(sigma^2) J A with A = (J'J)^-1 in the
// logarithms of the parameters, J the Jacobian of the relative residuals at
// the answer and sigma each reading's relative noise by the noise model;
// sqrt(cov_jj) is then the relative standard error of parameter j. They
// describe the local fit at the chosen depth (with the depth fitted, its
// own uncertainty is included). With DepthMode::Global the depth's share
// comes from the search's profile instead of the linearisation: the
// covariance at the answer's depth plus the spread of the moduli fitted at
// the depths whose chi-square lies within 1 of the best (see fit.cpp).
//
// Units: inches, pounds, psi; deflections in inches (a reading in mils is
// 1000 times larger). The load is spread over the design's circular plate
// (radius 5.9 in) at 100 psi per 10940 lb, as in the table's reference runs.
#pragma once

#include <array>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "rating/basin_grid.h"
#include "rating/blocks.h"
#include "rating/context.h"

namespace zalk::engine {
struct EngineWorkspace;
}

namespace zalk::rating {

struct DeflectionTables;

// The sensor offsets of a legacy test (in), sensors 1..6.
inline constexpr std::array<double, 6> kLegacyOffsets{0, 8, 12, 18, 24, 36};

// Physical bounds of the fitted moduli (psi) and how the depth is fitted.
struct FitBounds {
  std::array<double, 3> lower{50.0e3, 5.0e3, 2.0e3};      // surface, base, subgrade
  std::array<double, 3> upper{5000.0e3, 500.0e3, 100.0e3};
};

enum class DepthMode {
  Candidates,  // the eight candidate depths of the table (12 to 240 in)
  Continuous,  // the best candidate's depth refined between its neighbours
  // Every depth from just below the base (min_depth) to the deepest
  // candidate, and no stiff layer at all (a subgrade reaching down
  // indefinitely) as a choice of its own: a profile of converged fits of
  // the moduli over depth, the best of its valleys refined.
  Global,
};

// The noise of one deflection reading: a standard deviation of absolute
// plus relative times the reading. Both must be finite, neither negative,
// and not both zero.
struct NoiseModel {
  double absolute = 0.08e-3;  // in (2 micrometres)
  double relative = 0.01;     // share of the reading
};

struct FitOptions {
  FitBounds bounds;
  DepthMode depth_mode = DepthMode::Candidates;
  int refined_depths = 2;          // candidates refined on the engine (1..8)
  int max_iterations = 100;        // Levenberg-Marquardt iterations per refinement
  double step_tolerance = 1.0e-7;  // converged once a step changes no log-modulus by more
  double log_step = 1.0e-4;        // forward-difference step of the Jacobian (log units)
  // Flags a fit that leaves a modulus undetermined: its relative standard
  // error above this (50 %: one standard error spans a factor 1.65 either
  // way), or none at all.
  double ill_conditioned_error = 0.5;
  // The readings' noise: the standard errors, and the level below which the
  // global search stops looking at further valleys.
  NoiseModel noise;
  double min_depth = 2.0;  // in: the shallowest stiff layer the global search tries
  // The tests the section's fit is given (0: not known). A section of few
  // is searched on the engine itself rather than on a grid of basins.
  int section_tests = 0;
};

// The depth of a fit that found no stiff layer (the subgrade a half-space).
inline constexpr double kNoStiffLayer = std::numeric_limits<double>::infinity();
// The third layer's thickness with which the rating analyses such a fit:
// deep enough that the pavement's responses no longer feel it, and the
// deepest the analysis deck's field holds.
inline constexpr double kNoStiffLayerRatingDepth = 999.0;

// One deflection test on one section.
struct FitTest {
  std::string name;                 // names the test in messages
  double h1 = 0;                    // surface thickness (in)
  double h2 = 0;                    // base thickness (in)
  double load = 0;                  // lb
  std::vector<double> offsets{kLegacyOffsets.begin(), kLegacyOffsets.end()};  // in, increasing
  std::vector<double> deflections;  // in, one per offset
};

enum FitFlag : unsigned {
  kFitNotFitted = 1u << 0,       // the basin cannot be fitted: moduli NaN, see message
  kFitAtBound = 1u << 1,         // a modulus (or the continuous depth) at a bound
  kFitNotConverged = 1u << 2,    // iteration limit reached before the step tolerance
  kFitIllConditioned = 1u << 3,  // a modulus's standard error above FitOptions::ill_conditioned_error
  kFitRisingBasin = 1u << 4,     // a deflection rises with offset somewhere (fitted all the same)
  kFitNoTableStart = 1u << 5,    // thicknesses or sensors outside the table: engine-based start
  kFitAboveNoise = 1u << 8,      // the misfit is far above the noise model (chi-square per sensor > 9)
};

// The table search's answer for the same test: its moduli at its chosen
// depth, the depth chosen by the fit error of each candidate measured as
// the fit measures its own (engine at the test's sensors, unrounded moduli).
struct DesignAnswer {
  std::array<double, 3> moduli{};  // psi; NaN without a table start
  double depth = 0;                // in
  int depth_index = 0;             // 1..8; 0 without a table start
  double fit_error = 0;            // percent
};

struct FitResult {
  std::array<double, 3> moduli{};  // surface, base, subgrade (psi)
  double depth = 0;                // depth to the stiff layer, i.e. the third layer's thickness (in);
                                   // kNoStiffLayer when none fits best
  int depth_index = 0;             // the candidate (1..8) the depth was refined from; 0 from the global search
  double fit_error = 0;            // RMS of (computed / measured - 1) over the sensors, percent
  std::vector<double> residuals;   // computed / measured - 1, per sensor
  // Standard errors from the Jacobian at the answer and the noise model
  // (the global search: and its profile over depth): relative for the
  // moduli, and for a fitted finite depth (else 0).
  std::array<double, 3> relative_std_error{};
  double depth_relative_std_error = 0;
  // Their covariance in the logarithms of E1, E2, E3 and the depth the
  // rating analyses (the depth's row and column zero when it was not
  // fitted, or no stiff layer was found): what a quantity derived from the
  // moduli propagates.
  std::array<std::array<double, 4>, 4> log_covariance{};
  double chi_square = 0;  // sum of (misfit / noise)^2 over the sensors
  int engine_calls = 0;
  int grid_engine_calls = 0;  // global search: runs that filled the section's grid for this test
  unsigned flags = 0;
  std::string message;  // why a basin was not fitted, or what the flags mean
  DesignAnswer design;
};

// Work storage of the fit: the table surfaces of the section last fitted
// (rebuilt when a test's thicknesses differ), private blocks and search
// state for the table search, the engine's work storage and the problem.
struct FitWorkspace {
  FitWorkspace();
  ~FitWorkspace();
  FitWorkspace(const FitWorkspace&) = delete;
  FitWorkspace& operator=(const FitWorkspace&) = delete;

  OwnedBlocks blocks;
  RatingContext search;
  std::unique_ptr<engine::EngineWorkspace> engine;
  float surface_h = -1.0f, surface_b = -1.0f;  // thicknesses of the surfaces in blocks
  bool surfaces_valid = false;
  FitResult last;  // of the last test fitted through install_fit
  // The global search's basins of the sections fitted last, and its answer
  // at each of the grid's depths for the next test of the section to start from.
  BasinGrid grid;
  std::vector<std::vector<double>> warm;
};

// Fits one test. `tables` is the deflection table read by
// read_deflection_table; it seeds the search only.
FitResult fit_test(FitWorkspace& ws, const DeflectionTables& tables, const FitTest& test,
                   const FitOptions& options = {});

// Deflections (in) the engine computes at the offsets for the structure
// (three moduli in psi, layer thicknesses in in) under the load (lb): the
// model the fit matches. Counts one engine call in *calls when given.
// `accurate`: on the engine's high accuracy instead of the design's
// integration (about 2.4 times the cost).
std::vector<double> engine_basin(engine::EngineWorkspace& ws, double h1, double h2, double h3,
                                 const std::array<double, 3>& moduli, double load,
                                 const std::vector<double>& offsets, int* calls = nullptr,
                                 bool accurate = false);

// Makes the fit the rating core's back-calculation: rate_section then
// rates every test with the fitted moduli and depth (the section's surface
// thickness as the driver caps it). The result of the last test stays in
// ws.last. ws and tables must outlive the context's use of them.
void install_fit(RatingContext& ctx, FitWorkspace& ws, const DeflectionTables& tables,
                 const FitOptions& options = {});

// The seasonal rating of a fitted test, exactly as the driver rates the
// table search's moduli: ctx.test (hour, surface temperature, repetitions,
// load) and ctx.section must hold the test and its section, and blocks the
// section's season data (as the driver leaves them). Fills ctx.season and
// returns the allowable load; NaN for a test that was not fitted.
double rate_fitted(RatingContext& ctx, Blocks& blocks, const FitResult& fit);

// The allowable load one standard error either side: the rating's
// logarithmic slopes in the moduli and depth (by forward differences)
// propagated through log_covariance. Called right after the rating of fit
// (ctx.season holds it), which it leaves as it was. NaN without a rating
// or without standard errors.
//
// Mostly one season's strength ratio or deflection limit sets the
// allowable load, and then only that season is rated again for a slope
// (one engine case, not the year's five), unless another limit comes close
// enough that the step could hand it the binding; full_ratings rates every
// season for every slope (the same slopes, bit for bit, when one binds).
struct AllowableBand {
  double low = 0, high = 0;
};
enum class BandSlopes { binding_season, full_ratings };
AllowableBand allowable_band(RatingContext& ctx, Blocks& blocks, const FitResult& fit,
                             BandSlopes slopes = BandSlopes::binding_season);

// The third layer's thickness the rating analyses for a fitted depth.
double rating_depth(double depth);

}  // namespace zalk::rating
