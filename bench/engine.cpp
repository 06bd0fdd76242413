// Speed of the layered elastic engine on structure S1 (h 4, 8, 12; E
// 500000, 30000, 10000): the entry with its deck file, and the core on the
// problems of that deck without the file.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "bench/structure_s1.h"
#include "engine/driver.h"
#include "engine/quorvan.h"
#include "engine/slopes.h"
#include "io/deck.h"
#include "tests/support/layer_points.h"

namespace {

using namespace zalk::engine;
using zalk::bench::kS1E1;
using zalk::bench::kS1E2;
using zalk::bench::kS1E3;
using zalk::bench::kS1Seastab;

std::filesystem::path bench_deck() {
  const auto dir = std::filesystem::temp_directory_path() / "zalk_bench_engine";
  std::filesystem::create_directories(dir);
  return dir / "input_m.txt";
}

void run_entry(benchmark::State& state, int ncases, int mode) {
  auto ws = make_engine_workspace();
  const auto deck = bench_deck();
  float defl[8], resp[50];
  for (auto _ : state) {
    quorvan(*ws, deck, 4, 8, 12, kS1E1, kS1E2, kS1E3, 1.0f, defl, resp, kS1Seastab, ncases, mode);
    benchmark::DoNotOptimize(defl);
    benchmark::DoNotOptimize(resp);
  }
}

void run_core(benchmark::State& state, int ncases, int mode) {
  auto ws = make_engine_workspace();
  ProblemSet set;
  read_deck_text(write_deck_text(zalk::bench::s1_request(ncases, mode)), set);
  for (auto _ : state) {
    for (int p = 0; p < set.nprob; ++p) analyse_problem(*ws, set.problems[p], set.abstol, set.reltol);
    benchmark::DoNotOptimize(result_slot(*ws, 1, 1));
  }
}

// One load (radius 5.9) on structure S1 and `state.range(0)` points at
// distinct distances (1 in apart on the surface), analysed again and again as
// a back-calculation or an overlay loop does: the Bessel functions of every distance can be
// kept from one analysis to the next when the cache holds them all.
void BM_CoreDistinctDistances(benchmark::State& state) {
  auto ws = make_engine_workspace();
  ProblemSet set;
  DeckRequest request;
  read_deck_text(write_deck_text(request), set);
  DeckProblem p;
  p.nlayer = 4;
  const double e[4] = {500000, 30000, 10000, 1e7}, nu[4] = {0.35, 0.40, 0.45, 0.49};
  const double h[3] = {4, 8, 12};
  for (int i = 0; i < 4; ++i) {
    p.emod[i] = e[i];
    p.pratio[i] = nu[i];
    p.thick[i] = i < 3 ? h[i] : 0.0;
    p.bond[i] = 1.0;
  }
  p.nload = 1;
  p.press[0] = 100.0;
  p.radius[0] = 5.9;
  p.npoint = int(state.range(0));
  for (int k = 0; k < p.npoint; ++k) {
    p.lpoint[k] = 1;
    p.xpoint[k] = double(k);
  }
  for (auto _ : state) {
    analyse_problem(*ws, p, set.abstol, set.reltol);
    benchmark::DoNotOptimize(result_slot(*ws, 1, 1));
  }
  state.counters["per_point_us"] =
      benchmark::Counter(double(p.npoint) * double(state.iterations()), benchmark::Counter::kIsRate |
                                                                        benchmark::Counter::kInvert);
}

// A back-calculation's engine run: structure S1 over a stiff layer, nine
// sensors on the surface to 72 in, the moduli moved at every run as a
// search moves them; the full analysis (range 0) against the deflections
// alone (range 1), which give the same deflections, and the deflections
// with their slopes in the three log-moduli a back-calculation varies
// (range 2).
void BM_CoreSensorBasin(benchmark::State& state) {
  auto ws = make_engine_workspace();
  ProblemSet set;
  read_deck_text(write_deck_text(DeckRequest{}), set);
  DeckProblem p;
  p.nlayer = 4;
  const double nu[4] = {0.35, 0.40, 0.45, 0.49}, h[3] = {4, 8, 60};
  for (int i = 0; i < 4; ++i) {
    p.pratio[i] = nu[i];
    p.thick[i] = i < 3 ? h[i] : 0.0;
    p.bond[i] = 1.0;
  }
  p.emod[3] = 1e6;
  zalk::testing::place_plate_and_nine_sensors(p, 80.0);
  double step = 1.0;
  std::vector<double> w, dw;
  for (auto _ : state) {
    step = step > 1.2 ? 1.0 : step * 1.01;
    p.emod[0] = 500000 * step;
    p.emod[1] = 30000 / step;
    p.emod[2] = 10000 * step;
    if (state.range(0) == 0)
      analyse_problem(*ws, p, set.abstol, set.reltol);
    else if (state.range(0) == 1)
      analyse_deflections(*ws, p, set.abstol, set.reltol);
    else
      analyse_deflection_slopes(*ws, p, set.abstol, set.reltol, w, dw, 3);
    benchmark::DoNotOptimize(result_slot(*ws, 1, 1));
  }
}

void BM_QuorvanMode1(benchmark::State& state) { run_entry(state, 1, 1); }
void BM_QuorvanMode2FiveCases(benchmark::State& state) { run_entry(state, 5, 2); }
void BM_CoreMode1(benchmark::State& state) { run_core(state, 1, 1); }
void BM_CoreMode2FiveCases(benchmark::State& state) { run_core(state, 5, 2); }

BENCHMARK(BM_QuorvanMode1)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_QuorvanMode2FiveCases)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_CoreMode1)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_CoreMode2FiveCases)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_CoreSensorBasin)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_CoreDistinctDistances)->Arg(16)->Arg(17)->Arg(64)->Arg(400)->Unit(benchmark::kMillisecond)->MinTime(0.5);

}  // namespace
