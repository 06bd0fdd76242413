// Working storage of the load-rating core: the search, the driver and the
// overlay iteration keep their values here while they work. The core's entry
// points (rating/section_rating.h, rating/overlay.h) take values; what runs
// on from one test to the next is passed explicitly.
//
// The legacy boundary keeps a single static context between calls; a Rater,
// a test or a benchmark owns its own. Nothing in the core keeps state
// outside it or the blocks it is given.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "io/platform.h"
#include "rating/blocks.h"
#include "rating/defltable.h"

namespace zalk::engine {
struct EngineWorkspace;
}

namespace zalk::rating {

inline constexpr int kMaxPasses = 20;  // rated passes of the overlay iteration
inline constexpr int kSeasons = 5;

// State of the two-dimensional grid search (4-byte floats). FBEST is set
// afresh per search; IBEST/JBEST survive a pass that improves nothing.
struct SearchState {
  std::array<float, 2> x{};      // working point X
  std::array<float, 2> xlow{};   // XLOW
  std::array<float, 2> xhigh{};  // XHIGH
  float a_lo = 0, a_hi = 0, b_lo = 0, b_hi = 0;  // current intervals
  float da = 0, db = 0;                          // their steps
  float fbest = 0;                               // FBEST
  std::array<float, 2> xopt{};                   // XOPT
  int ibest = 0, jbest = 0;                      // IBEST, JBEST
  int ni = 19, nj = 19;                          // NI, NJ intervals
  float fopt = 0;                                // FOPT
  float c1 = 0;                                  // first-sensor surface value of the objective
  bool found = false;  // whether this search accepted any point
};

// Values of the section being rated (4-byte floats).
struct SectionState {
  float h = 0;    // surface thickness, capped at 12
  float b = 0;    // base thickness
  float t1 = 0;   // previous-day mean air temperature, F
  float t1c = 0;  // the same in C
  float z = 0;    // a third of the surface thickness
  float dmm = 0;  // depth of the temperature prediction, mm
  float h3 = 0;   // third-layer thickness in use; 0 between sections
};

// Values of the test being rated.
struct TestState {
  float hour = 0, load = 0, reps = 0, ts = 0;  // time of day, load, annual repetitions N, surface temperature
  float loadf = 0;                             // LOADF = load / 10940
  float td = 0;                                // predicted pavement temperature, F
  float best = 0;                              // best fit error
  int bestd = 1;                               // its depth index
  float err = 0;                               // fit error of the last search
};

// The seasonal rating of the best depth.
struct SeasonalState {
  float e1 = 0, e2 = 0, e3 = 0, e72 = 0;
  std::array<float, kSeasons> e1s{}, e2s{}, e3s{};
  std::array<float, 10 * 12> resp{};  // RESP(10, 12), column-major
  std::array<float, kSeasons> nf{}, nd{};
  double df = 0;
  float dr = 0;
  double mina = 0, minb = 0, la = 0, lb = 0, allow = 0;
};

// Where the overlay iteration stands: its pass, the passes that rated
// nothing, the items past their thickness limit in the pass, and (for the
// legacy entry, which rates section 1 with it when given no items) the test
// count of each item.
struct OverlayState {
  int pass = 0, nflag = 0, nover = 0;
  std::array<int, 20> nt{};
};

// The last table file read and what it held. Only a complete table whose
// stamp had settled, and was the same before and after the reading, is kept.
struct TableCache {
  bool valid = false;
  std::filesystem::path file;
  platform::FileStamp stamp;
  DeflectionTables tables;
  int reads = 0;  // table files parsed through this cache
};

struct RatingContext {
  SearchState search;
  SectionState section;
  TestState test;
  SeasonalState season;
  OverlayState overlay;
  std::array<float, 20> e1out{}, e2out{}, e3out{};  // E1OUT, E2OUT, E3OUT by depth index
  std::array<float, 10> engine_scratch{};           // argument 9 of the mode-1 engine calls (never written)
  SensorSurfaces surfaces;  // the current depth's surfaces during a search (GatheredSurfaces)
  // With this off every grid-search point forms its own basis and evaluates
  // the sensors one by one (the same results; kept for comparison).
  bool share_surface_work = true;

  // The deflection table the core rates with when set: parsed, complete, and
  // owned by the caller (its thickness scratch is written per section).
  DeflectionTables* tables = nullptr;
  // Otherwise the table file, read on every call unless it is unchanged
  // since the last read; an empty path means the data folder's file
  // (resolved on every call). The analysis deck never leaves memory.
  std::filesystem::path table;
  TableCache table_cache;
  // The surfaces of the sections rated last, per table reading.
  SurfaceCache surface_cache;

  // The engine's work storage, created on first use.
  std::unique_ptr<engine::EngineWorkspace> engine;

  // Replaces the engine when set (same arguments as the engine entry without
  // its workspace and deck); lets tests stand in a model with known answers.
  using EngineFn = std::function<void(float h1, float h2, float h3, const float* e1, const float* e2,
                                      const float* e3, float q, float* defl, float* resp,
                                      const float* seastab, int ncases, int mode)>;
  EngineFn engine_override;

  // Replaces the table search of each test when set: from the section
  // (section), the test (test, and DMEAS in the blocks, in inches) it gives
  // the moduli and the depth to the stiff layer (in) that the seasonal
  // rating then uses as it uses the table search's.
  struct BackCalculated {
    float e1 = 0, e2 = 0, e3 = 0, h3 = 0;
  };
  using BackCalculationFn = std::function<BackCalculated(RatingContext& ctx, Blocks& blocks)>;
  BackCalculationFn back_calculation;

  RatingContext();
  ~RatingContext();
  RatingContext(const RatingContext&) = delete;
  RatingContext& operator=(const RatingContext&) = delete;
};

}  // namespace zalk::rating
