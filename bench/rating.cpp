// Cost of the load rating with the project's deflection table
// (data/backdefl.txt): one back-calculation at one depth candidate, and a
// rating call with and without one test (their difference is the cost of a
// test: eight back-calculations and the seasonal rating).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/driver.h"
#include "engine/quorvan.h"
#include "rating/backcalc.h"
#include "rating/context.h"
#include "rating/defltable.h"
#include "rating/grids.h"

namespace {

using namespace zalk;
namespace fs = std::filesystem;

struct OwnBlocks {
  std::unique_ptr<zalk_code_block> code = std::make_unique<zalk_code_block>();
  std::unique_ptr<zalk_dd_block> dd = std::make_unique<zalk_dd_block>();
  std::unique_ptr<zalk_com1_block> com1 = std::make_unique<zalk_com1_block>();
  std::unique_ptr<zalk_com2_block> com2 = std::make_unique<zalk_com2_block>();
  std::unique_ptr<zalk_com3_block> com3 = std::make_unique<zalk_com3_block>();
  std::unique_ptr<zalk_depth_block> depth = std::make_unique<zalk_depth_block>();
  std::unique_ptr<zalk_dam_block> dam = std::make_unique<zalk_dam_block>();
  rating::Blocks view{*code, *dd, *com1, *com2, *com3, *depth, *dam};
};

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
    ctx.deck = folder / "input_m.txt";
    const double row[23] = {91, 90, 45, 45, 94, 56, 31, 49, 61, 79, 5, 12, 66, 1, 1.3, 0.7, 0.85, 1, 1, 1.5, 0.6, 0.8, 1};
    for (int c = 0; c < 23; ++c) sect[std::size_t(c) * 20] = row[c];
    const float e1 = 800000, e2 = 40000, e3 = 12000, seastab = 0;
    float scratch[10] = {};
    ctx.engine = engine::make_engine_workspace();
    engine::quorvan(*ctx.engine, ctx.deck, 5, 12, 120, &e1, &e2, &e3, 12000.0f / 10940.0f, basin.data(), scratch,
                    &seastab, 1, 1);
    const double test[10] = {10.0, 12000.0, 0, 0, 0, 0, 0, 0, 100000.0, 75.0};
    for (int k = 0; k < 10; ++k) fwd[std::size_t(k) * 20 * 2000] = test[k];
    for (int s = 0; s < 6; ++s) fwd[std::size_t(2 + s) * 20 * 2000] = double(basin[std::size_t(s)]) * 1000.0;
    return true;
  }
  ~Bench() { fs::remove_all(folder); }

  void rate(int tests) {
    ntest[0] = tests;
    int nsec = 1;
    rating::ZALK3071DLL(ctx, b.view, fwd.data(), result.data(), sect.data(), ntest.data(), &nsec);
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
    rating::BACKCALC(bench.ctx, bench.b.view, rating::E1GRID.data(), rating::E2GRID.data(), refc.data(),
                     12000.0f / 10940.0f, bench.ctx.e1out.data(), bench.ctx.e2out.data(), bench.ctx.e3out.data(),
                     11, 8, 5.0f, 12.0f, 120.0f, 6, 1, err, 3);
    benchmark::DoNotOptimize(err);
  }
}
BENCHMARK(BM_BackcalcOneDepth)->Unit(benchmark::kMillisecond);

// Table read and surface fitting of one section, no test.
void BM_RatingCallNoTest(benchmark::State& state) {
  Bench bench;
  if (!bench.ready()) {
    state.SkipWithError("no deflection table in data/");
    return;
  }
  for (auto _ : state) bench.rate(0);
}
BENCHMARK(BM_RatingCallNoTest)->Unit(benchmark::kMillisecond);

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

}  // namespace
