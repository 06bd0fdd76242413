// Cost of the fit method per test: each synthetic legacy basin of
// tests/data/fit (one benchmark argument per case), candidate depths with
// the two best refined on the engine, the section's surfaces already built
// (they are built once per section: see BM_FitNewSection). Counters give
// the engine runs per test. The median over the cases is the figure to
// quote; run with --benchmark_min_time=0.5s on a quiet core.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/driver.h"
#include "rating/defltable.h"
#include "rating/fit.h"

namespace {

using namespace zalk;
namespace fs = std::filesystem;

struct Data {
  rating::DeflectionTables table;
  std::vector<rating::FitTest> tests;

  Data() {
    rating::OwnedBlocks blocks;
    rating::read_deflection_table(fs::path(ZALK_SOURCE_DIR) / "data" / "backdefl.txt", table, blocks.view);
    std::ifstream in(fs::path(ZALK_SOURCE_DIR) / "tests" / "data" / "fit" / "basins.csv");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      std::stringstream row(line);
      std::string name, layout, f;
      std::getline(row, name, ',');
      std::getline(row, layout, ',');
      double v[9];
      for (double& x : v) {
        std::getline(row, f, ',');
        x = std::stod(f);
      }
      if (layout != "legacy") continue;
      if (tests.empty() || tests.back().name != name) {
        rating::FitTest t;
        t.name = name;
        t.h1 = v[0];
        t.h2 = v[1];
        t.load = v[6];
        t.deflections.clear();
        tests.push_back(t);
      }
      tests.back().deflections.push_back(v[8]);
    }
  }
};

const Data& data() {
  static const Data d;
  return d;
}

void BM_FitTest(benchmark::State& state) {
  const Data& d = data();
  const rating::FitTest& test = d.tests[std::size_t(state.range(0))];
  rating::FitWorkspace ws;
  rating::FitResult r = rating::fit_test(ws, d.table, test);  // builds the section's surfaces
  for (auto _ : state) {
    r = rating::fit_test(ws, d.table, test);
    benchmark::DoNotOptimize(r.fit_error);
  }
  state.SetLabel(test.name);
  state.counters["engine_calls"] = r.engine_calls;
}
BENCHMARK(BM_FitTest)->DenseRange(0, 19)->Unit(benchmark::kMillisecond);

// One engine run of the fit (six sensors).
void BM_FitEngineRun(benchmark::State& state) {
  auto ws = engine::make_engine_workspace();
  const std::vector<double> offsets{0, 8, 12, 18, 24, 36};
  double e1 = 800e3;
  for (auto _ : state) {
    e1 *= 1.0001;  // a new structure each time, as in the fit
    benchmark::DoNotOptimize(rating::engine_basin(*ws, 5, 12, 120, {e1, 40e3, 10e3}, 10940, offsets));
  }
}
BENCHMARK(BM_FitEngineRun)->Unit(benchmark::kMillisecond);

// A test on a section of new thicknesses: the surfaces are built first.
void BM_FitNewSection(benchmark::State& state) {
  const Data& d = data();
  rating::FitWorkspace ws;
  std::size_t k = 0;
  for (auto _ : state) {
    rating::FitTest t = d.tests[k % 2];  // alternating sections
    benchmark::DoNotOptimize(rating::fit_test(ws, d.table, t).fit_error);
    ++k;
  }
}
BENCHMARK(BM_FitNewSection)->Unit(benchmark::kMillisecond);

}  // namespace
