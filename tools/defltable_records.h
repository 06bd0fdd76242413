// One record of the deflection table (data/backdefl.txt): the grid point of a
// record number and the engine's eight surface deflections there. Shared by
// make_defltable, which writes the table, and record_outputs, which keeps a
// sample of records as bit patterns for the regression tests.
#pragma once

#include <filesystem>

#include "engine/quorvan.h"
#include "rating/grids.h"

namespace defltable_records {

struct GridPoint {
  int i, k, d, m, n;  // 0-based grid indices
};

// Record order: surface thickness index i slowest, then base thickness k,
// depth d, surface modulus m, base modulus n fastest.
inline GridPoint grid_point(int record) {  // record 0-based
  GridPoint g{};
  g.n = record % 8;
  record /= 8;
  g.m = record % 11;
  record /= 11;
  g.d = record % 8;
  record /= 8;
  g.k = record % 8;
  g.i = record / 8;
  return g;
}

// The engine's deflections for one structure, exactly as the load rating's
// own engine calls compute them; the analysis deck goes through `deck`.
inline void deflections(zalk::engine::EngineWorkspace& ws, const std::filesystem::path& deck,
                        const GridPoint& g, float* defl) {
  using namespace zalk;
  const float h1 = rating::HACGRID[g.i];
  const float h2 = rating::HBGRID[g.k];
  const float h3 = rating::DEPGRID[g.d] * 12.0f;
  const float e1 = rating::E1GRID[g.m] * 1000.0f;
  const float e2 = rating::E2GRID[g.n] * 1000.0f;
  const float e3 = rating::kRefSubgradeModulus;
  const float q = rating::kRefLoad / rating::kRefLoad;
  float resp[10] = {};
  const float seastab[5] = {10.0f, 0.2f, 1.0f, 1.3f, 1.0f};
  engine::quorvan(ws, deck, h1, h2, h3, &e1, &e2, &e3, q, defl, resp, seastab, 1, 1);
}

}  // namespace defltable_records
