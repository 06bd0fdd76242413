// The deflection table's per-call and per-section costs: reading the whole
// file (every rating call), the thickness stage and the modulus surfaces (every
// section), and one surface evaluation (about 12,000 per depth candidate).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/driver.h"
#include "engine/quorvan.h"
#include "io/fortio.h"
#include "rating/defltable.h"
#include "rating/grids.h"
#include "toolkit/errors.h"

namespace {

using namespace zalk;

using Blocks = rating::OwnedBlocks;

// A full table of plausible deflections in the shipped layout (174 columns).
std::filesystem::path table_file() {
  static const std::filesystem::path file = [] {
    const auto path = std::filesystem::temp_directory_path() / "bench_defltable_backdefl.txt";
    std::string text;
    for (int i = 0; i < 8; ++i)
      for (int k = 0; k < 8; ++k)
        for (int d = 0; d < 8; ++d)
          for (int m = 0; m < 11; ++m)
            for (int n = 0; n < 8; ++n) {
              const double keys[6] = {rating::HACGRID[i], rating::HBGRID[k], rating::DEPGRID[d],
                                      rating::E1GRID[m],  rating::E2GRID[n],  10000.0};
              for (int f = 0; f < 6; ++f) {
                text += ' ';
                fortio::put_f(text, keys[f], f < 3 ? 6 : 8, 0);
              }
              for (int s = 0; s < 9; ++s) {
                text += "  ";
                const double w = 0.05 / (1 + 0.1 * keys[0] + 0.01 * keys[1]) / (1 + 0.2 * s) /
                                 (1 + keys[3] / 2000 + keys[4] / 200);
                fortio::put_f(text, s < 8 ? w : 0.0, 12, 8);
              }
              text += '\n';
            }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return path;
  }();
  return file;
}

void BM_ReadTable(benchmark::State& state) {
  Blocks b;
  rating::DeflectionTables t;
  const auto file = table_file();
  for (auto _ : state) {
    rating::read_deflection_table(file, t, b.view);
    benchmark::DoNotOptimize(t.dtab.data());
  }
}
BENCHMARK(BM_ReadTable)->Unit(benchmark::kMillisecond);

void BM_ThicknessStage(benchmark::State& state) {
  Blocks b;
  rating::DeflectionTables t;
  rating::read_deflection_table(table_file(), t, b.view);
  for (auto _ : state) {
    rating::fit_thickness(t, 5.5f, 14.0f, b.view);
    benchmark::DoNotOptimize(t.dthk.data());
  }
}
BENCHMARK(BM_ThicknessStage)->Unit(benchmark::kMillisecond);

void BM_ModulusSurfaces(benchmark::State& state) {
  Blocks b;
  rating::DeflectionTables t;
  rating::read_deflection_table(table_file(), t, b.view);
  rating::fit_thickness(t, 5.5f, 14.0f, b.view);
  for (auto _ : state) {
    rating::fit_modulus_surfaces(t, b.view);
    benchmark::DoNotOptimize(b.com2->SCOEF);
  }
}
BENCHMARK(BM_ModulusSurfaces)->Unit(benchmark::kMicrosecond);

void BM_EvaluateSurface(benchmark::State& state) {
  Blocks b;
  rating::DeflectionTables t;
  rating::read_deflection_table(table_file(), t, b.view);
  rating::fit_thickness(t, 5.5f, 14.0f, b.view);
  rating::fit_modulus_surfaces(t, b.view);
  b.depth->IDEPTH = 4;
  float x1 = 100.0f;
  for (auto _ : state) {
    x1 = x1 < 3990.0f ? x1 + 7.3f : 100.0f;
    benchmark::DoNotOptimize(rating::evaluate_surface(b.view, x1, 37.0f, 3));
  }
}
BENCHMARK(BM_EvaluateSurface);

// Deflection-table records as make_defltable computes them (the mode-1
// engine run of one grid structure at the reference subgrade modulus and
// load), through the in-memory deck: the 88 records of one thickness and
// depth combination, with the engine's fast paths (argument 1) or with the
// plain sparse solver and one spline fit per coefficient (0).
void BM_TableRecords(benchmark::State& state) {
  auto ws = engine::make_engine_workspace();
  ws->solver.reuse_pivots = state.range(0) == 1;
  ws->intervals.fit_sets_together = state.range(0) == 1;
  const float seastab[5] = {10.0f, 0.2f, 1.0f, 1.3f, 1.0f};
  const float e3 = rating::kRefSubgradeModulus;
  float defl[8] = {}, resp[10] = {};
  for (auto _ : state) {
    for (float e1k : rating::E1GRID) {
      for (float e2k : rating::E2GRID) {
        const float e1 = e1k * 1000.0f, e2 = e2k * 1000.0f;
        engine::quorvan(*ws, rating::HACGRID[3], rating::HBGRID[3], rating::DEPGRID[4] * 12.0f, &e1, &e2,
                        &e3, 1.0f, defl, resp, seastab, 1, 1);
      }
    }
    benchmark::DoNotOptimize(defl);
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t(rating::E1GRID.size() * rating::E2GRID.size()));
}
BENCHMARK(BM_TableRecords)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace
