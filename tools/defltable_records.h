// One record of the deflection table (data/backdefl.txt): the grid point of a
// record number, the engine's eight surface deflections there and the
// record's line. Shared by make_defltable, which writes the table, and
// record_outputs, which keeps a sample of records as bit patterns for the
// regression tests.
#pragma once

#include <filesystem>
#include <string>

#include "engine/quorvan.h"
#include "io/fortio.h"
#include "rating/grids.h"

namespace defltable_records {

namespace engine = zalk::engine;
namespace fortio = zalk::fortio;
namespace rating = zalk::rating;

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
inline void deflections(engine::EngineWorkspace& ws, const std::filesystem::path& deck,
                        const GridPoint& g, float* defl) {
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

// The record's line in the table (174 columns and a newline).
inline std::string format_record(const GridPoint& g, const float* defl) {
  std::string line;
  line.reserve(176);
  for (double v : {double(rating::HACGRID[g.i]), double(rating::HBGRID[g.k]),
                   double(rating::DEPGRID[g.d])}) {
    fortio::put_a(line, " ");
    fortio::put_f(line, v, 6, 0);
  }
  for (double v : {double(rating::E1GRID[g.m]), double(rating::E2GRID[g.n]),
                   double(rating::kRefSubgradeModulus)}) {
    fortio::put_a(line, " ");
    fortio::put_f(line, v, 8, 0);
  }
  for (int s = 0; s < 8; ++s) {
    fortio::put_a(line, "  ");
    fortio::put_f(line, double(defl[s]), 12, 8);
  }
  fortio::put_a(line, "  ");
  fortio::put_f(line, 0.0, 12, 8);
  line += '\n';
  return line;
}

}  // namespace defltable_records
