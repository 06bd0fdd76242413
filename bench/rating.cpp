// Cost of the load rating with the project's deflection table
// (data/backdefl.txt): one back-calculation at one depth candidate, one grid
// search alone, a rating call with and without one test (their difference
// is the cost of a test: eight back-calculations and the seasonal rating),
// a rating call of a section of 100 tests, and the steps of one test on
// their own.
//
// Run with --benchmark_repetitions=3 on a quiet machine (one core busy): the
// 100-test call takes a few seconds per repetition.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/driver.h"
#include "engine/quorvan.h"
#include "rating/backcalc.h"
#include "rating/context.h"
#include "legacy/host_rating.h"
#include "rating/defltable.h"
#include "rating/driver.h"
#include "rating/grids.h"

namespace {

using namespace zalk;
namespace fs = std::filesystem;

using OwnBlocks = rating::OwnedBlocks;

// A section of 5 in on 12 in, with one test computed by the engine for
// 800000 / 40000 / 12000 psi over a stiff layer at 120 in, 12000 lb.
struct Bench {
  fs::path folder = fs::temp_directory_path() / ("zalk_bench_rating_" + std::to_string(::getpid()));
  rating::RatingContext ctx;
  OwnBlocks b;
  std::vector<double> fwd = std::vector<double>(20 * 2000 * 10, 0.0);
  std::vector<double> result = std::vector<double>(20 * 2000 * 6, 0.0);
  std::vector<double> sect = std::vector<double>(20 * 23, 0.0);
  std::vector<int> ntest = std::vector<int>(20, 0);
  std::array<float, 10> basin{};

  bool ready() {
    const fs::path table = fs::path(ZALK_SOURCE_DIR) / "data" / "backdefl.txt";
    if (!fs::exists(table)) return false;
    fs::create_directories(folder);
    ctx.table = table;
    const double row[23] = {91, 90, 45, 45, 94, 56, 31, 49, 61, 79, 5, 12, 66, 1, 1.3, 0.7, 0.85, 1, 1, 1.5, 0.6, 0.8, 1};
    for (int c = 0; c < 23; ++c) sect[std::size_t(c) * 20] = row[c];
    const float e1 = 800000, e2 = 40000, e3 = 12000, seastab = 0;
    float scratch[10] = {};
    ctx.engine = engine::make_engine_workspace();
    engine::quorvan(*ctx.engine, 5, 12, 120, &e1, &e2, &e3, 12000.0f / 10940.0f, basin.data(), scratch,
                    &seastab, 1, 1);
    const double test[10] = {10.0, 12000.0, 0, 0, 0, 0, 0, 0, 100000.0, 75.0};
    for (int k = 0; k < 10; ++k) fwd[std::size_t(k) * 20 * 2000] = test[k];
    for (int s = 0; s < 6; ++s) fwd[std::size_t(2 + s) * 20 * 2000] = double(basin[std::size_t(s)]) * 1000.0;
    return true;
  }
  ~Bench() { fs::remove_all(folder); }

  // Replaces the tests of section 1 by `count` tests whose basins the engine
  // computes for moduli, depths to the stiff layer and loads spread around
  // those of a real pavement (a fixed sequence, the same on every run).
  void make_tests(int count) {
    std::mt19937 gen(3071);
    auto uniform = [&gen](double lo, double hi) { return lo + (hi - lo) * (double(gen()) + 0.5) / 4294967296.0; };
    const float depths[5] = {48, 84, 120, 150, 200};
    for (int j = 0; j < count; ++j) {
      const float e1 = float(uniform(300000, 1500000)), e2 = float(uniform(20000, 80000));
      const float e3 = float(uniform(6000, 20000)), seastab = 0;
      const double load = std::round(uniform(9000, 16000));
      float defl[10] = {}, scratch[10] = {};
      engine::quorvan(*ctx.engine, 5, 12, depths[j % 5], &e1, &e2, &e3, float(load / 10940.0), defl,
                      scratch, &seastab, 1, 1);
      const double test[10] = {uniform(7, 17.5), load, 0, 0, 0, 0, 0, 0, 100000.0, uniform(45, 115)};
      for (int k = 0; k < 10; ++k) fwd_at(j, k) = test[k];
      for (int s = 0; s < 6; ++s) fwd_at(j, 2 + s) = double(defl[s]) * 1000.0;
    }
  }
  double& fwd_at(int test, int field) { return fwd[(std::size_t(field) * 2000 + std::size_t(test)) * 20]; }

  void rate(int tests) {
    ntest[0] = tests;
    int nsec = 1;
    zalk::legacy::rate_sections(ctx, b.view, fwd.data(), result.data(), sect.data(), ntest.data(), &nsec);
  }
};

void BM_BackcalcOneDepth(benchmark::State& state) {
  Bench bench;
  if (!bench.ready()) {
    state.SkipWithError("no deflection table in data/");
    return;
  }
  bench.rate(0);  // fits the section's surfaces, sets the weights
  for (int s = 0; s < 6; ++s) bench.b.dd->DMEAS[s] = bench.basin[std::size_t(s)];
  bench.b.depth->IDEPTH = 6;
  const std::array<float, 3> refc{10000.0f, 10940.0f, 3.141596f};
  float err = 0;
  for (auto _ : state) {
    rating::back_calculate(bench.ctx, bench.b.view, rating::E1GRID.data(), rating::E2GRID.data(), refc.data(),
                     12000.0f / 10940.0f, bench.ctx.e1out.data(), bench.ctx.e2out.data(), bench.ctx.e3out.data(),
                     11, 8, 5.0f, 12.0f, 120.0f, 6, 1, err, 3);
    benchmark::DoNotOptimize(err);
  }
}
BENCHMARK(BM_BackcalcOneDepth)->Unit(benchmark::kMillisecond);

// A call with one section and no test: the table is kept from the first
// call; the section's surfaces are fitted (argument 1: the host rates a new
// section every call) or kept from the last call (0: the same section).
void BM_RatingCallNoTest(benchmark::State& state) {
  Bench bench;
  if (!bench.ready()) {
    state.SkipWithError("no deflection table in data/");
    return;
  }
  for (auto _ : state) {
    if (state.range(0) == 1) bench.ctx.surface_cache.entries.clear();
    bench.rate(0);
  }
}
BENCHMARK(BM_RatingCallNoTest)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// The same plus one test: eight depth candidates and the seasonal rating.
void BM_RatingCallOneTest(benchmark::State& state) {
  Bench bench;
  if (!bench.ready()) {
    state.SkipWithError("no deflection table in data/");
    return;
  }
  for (auto _ : state) {
    bench.rate(1);
    benchmark::DoNotOptimize(bench.result[0]);
  }
}
BENCHMARK(BM_RatingCallOneTest)->Unit(benchmark::kMillisecond);

// One grid search alone (2000 objective calls of five or six surface
// evaluations) on the fitted surfaces of the section, at a depth candidate.
void BM_GridSearchAlone(benchmark::State& state) {
  Bench bench;
  if (!bench.ready()) {
    state.SkipWithError("no deflection table in data/");
    return;
  }
  bench.rate(0);
  for (int s = 0; s < 6; ++s) bench.b.dd->DMEAS[s] = bench.basin[std::size_t(s)];
  bench.b.depth->IDEPTH = int(state.range(0));
  long calls = 0;
  const rating::Objective objective = [&](int n, const float* x, float& f) {
    ++calls;
    rating::basin_objective(bench.ctx, bench.b.view, n, x, f);
  };
  const std::array<float, 2> xlow{rating::E1GRID.front(), rating::E2GRID.front()};
  const std::array<float, 2> xhigh{rating::E1GRID.back(), rating::E2GRID.back()};
  const rating::GatheredSurfaces gathered(bench.ctx, bench.b.view);
  for (auto _ : state) {
    rating::grid_search(bench.ctx, bench.b.view, objective, xlow, xhigh);
    benchmark::DoNotOptimize(bench.ctx.search.fopt);
  }
  state.counters["objective_calls"] = double(calls) / double(state.iterations());
}
BENCHMARK(BM_GridSearchAlone)->Arg(1)->Arg(6)->Unit(benchmark::kMicrosecond);

// A whole rating call on one section of 100 tests: table read, surface
// fitting, then per test eight back-calculations and the seasonal rating.
void BM_RatingCall100Tests(benchmark::State& state) {
  Bench bench;
  if (!bench.ready()) {
    state.SkipWithError("no deflection table in data/");
    return;
  }
  bench.make_tests(100);
  for (auto _ : state) {
    bench.rate(100);
    benchmark::DoNotOptimize(bench.result[0]);
  }
}
BENCHMARK(BM_RatingCall100Tests)->Unit(benchmark::kMillisecond)->Iterations(1);

// The work of one test on its own, as the driver does it: eight depth
// candidates (search, scale, engine check) and the seasonal engine run with
// the best one; the tests of the 100-test section in turn.
void BM_RatingPerTest(benchmark::State& state) {
  Bench bench;
  if (!bench.ready()) {
    state.SkipWithError("no deflection table in data/");
    return;
  }
  bench.make_tests(100);
  bench.rate(0);  // section set-up and surfaces
  const std::array<float, 3> refc{rating::kRefSubgradeModulus, rating::kRefLoad, 3.141596f};
  rating::RatingContext& ctx = bench.ctx;
  int j = 0;
  for (auto _ : state) {
    ctx.test.load = float(bench.fwd_at(j, 1));
    for (int s = 0; s < 6; ++s) bench.b.dd->DMEAS[s] = float(bench.fwd_at(j, 2 + s) / 1000.0);
    ctx.test.loadf = ctx.test.load / rating::kRefLoad;
    ctx.test.td = rating::pavement_temperature(float(bench.fwd_at(j, 0)), float(bench.fwd_at(j, 9)),
                                               ctx.section.t1c, ctx.section.dmm);
    ctx.test.reps = float(bench.fwd_at(j, 8));
    float best = 9999.0f;
    int bestd = 1;
    for (int d = 1; d <= 8; ++d) {
      bench.b.depth->IDEPTH = d;
      float err = 0;
      rating::back_calculate(ctx, bench.b.view, rating::E1GRID.data(), rating::E2GRID.data(), refc.data(),
                       ctx.test.loadf, ctx.e1out.data(), ctx.e2out.data(), ctx.e3out.data(), 11, 8,
                       ctx.section.h, ctx.section.b, rating::DEPGRID[std::size_t(d - 1)] * 12.0f, d, j + 1,
                       err, 3);
      if (best > err) {
        best = err;
        bestd = d;
      }
    }
    bench.b.depth->IDEPTH = bestd;
    const std::size_t k = std::size_t(bestd - 1);
    rating::seasonal_rating(ctx, bench.b.view, ctx.e1out[k], ctx.e2out[k], ctx.e3out[k],
                            rating::DEPGRID[k] * 12.0f);
    benchmark::DoNotOptimize(ctx.season.allow);
    j = (j + 1) % 100;
  }
  const auto& counts = ctx.engine->solver.replay.counts();
  state.counters["repeated"] = double(counts.repeated);
  state.counters["searched"] = double(counts.searched);
  state.counters["departed"] = double(counts.departed);
}
BENCHMARK(BM_RatingPerTest)->Unit(benchmark::kMillisecond)->Iterations(100);  // every test of the section once

}  // namespace
