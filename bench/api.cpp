// The public API against the legacy paths on the same work:
// - analyse of the mode-1 problem (eight surface points, one load) against
//   the engine entry writing and reading its deck file, at the design's
//   accuracy (0) and the high one (1);
// - Rater::rate of 100 tests against the rating core's entry (table file
//   checked and surfaces fitted per call, as the legacy entry does);
// - 400 tests on one and on two threads, one rater per thread (real time).
//
// The tests are those of data/sample (taken in turn), all rated as section S1.
#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/driver.h"
#include "engine/quorvan.h"
#include "rating/context.h"
#include "legacy/host_rating.h"
#include "zalk/zalk.hpp"

namespace {

namespace fs = std::filesystem;
const fs::path kSource = ZALK_SOURCE_DIR;
const fs::path kTable = kSource / "data" / "backdefl.txt";

std::vector<std::vector<double>> csv_rows(const fs::path& file) {
  std::ifstream in(file);
  std::vector<std::vector<double>> rows;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::vector<double> row;
    std::stringstream ss(line);
    std::string field;
    std::getline(ss, field, ',');  // the section id
    while (std::getline(ss, field, ',')) row.push_back(field.empty() ? 0.0 : std::stod(field));
    rows.push_back(row);
  }
  return rows;
}

zalk::Section sample_section() {
  const auto row = csv_rows(kSource / "data" / "sample" / "sections.csv").at(0);
  zalk::Section s;
  for (std::size_t i = 0; i < 5; ++i) {
    s.days[i] = row[i];
    s.air_temperature_f[i] = row[5 + i];
    s.base_factor[i] = row[13 + i];
    s.subgrade_factor[i] = row[18 + i];
  }
  s.surface_thickness_in = row[10];
  s.base_thickness_in = row[11];
  s.previous_day_air_f = row[12];
  return s;
}

std::vector<zalk::DeflectionTest> sample_tests(std::size_t count) {
  const auto rows = csv_rows(kSource / "data" / "sample" / "tests.csv");
  std::vector<zalk::DeflectionTest> tests;
  for (std::size_t j = 0; j < count; ++j) {
    const auto& r = rows[j % rows.size()];
    zalk::DeflectionTest t;
    t.hour = r[0];
    t.load_lb = r[1];
    t.deflections_mils.assign(r.begin() + 2, r.begin() + 8);
    t.reps_per_year = r[8];
    t.surface_temperature_f = r[9];
    tests.push_back(t);
  }
  return tests;
}

// ---- analysis -----------------------------------------------------------------

constexpr float kH[3] = {5, 12, 120};
constexpr float kE[3] = {812345.6f, 41234.5f, 11987.6f};

void BM_QuorvanModeOneDeckFile(benchmark::State& state) {
  const fs::path deck = fs::temp_directory_path() / ("zalk_bench_api_" + std::to_string(::getpid()) + ".txt");
  const auto ws = zalk::engine::make_engine_workspace();
  float defl[8], scratch[10], seastab = 0;
  for (auto _ : state) {
    zalk::engine::quorvan(*ws, deck, kH[0], kH[1], kH[2], &kE[0], &kE[1], &kE[2], 1.0f, defl, scratch, &seastab, 1, 1);
    benchmark::DoNotOptimize(defl[0]);
  }
  fs::remove(deck);
}
BENCHMARK(BM_QuorvanModeOneDeckFile)->Unit(benchmark::kMicrosecond);

void BM_AnalyseModeOne(benchmark::State& state) {
  const zalk::Structure s{{{kH[0], kE[0], 0.35}, {kH[1], kE[1], 0.40}, {kH[2], kE[2], 0.45}, {0, 1e7, 0.49}}};
  std::vector<zalk::Point> points;
  for (double x : {0, 8, 12, 18, 24, 36, 48, 60}) points.push_back({x, 0, 0});
  const std::vector<zalk::CircularLoad> loads{{0, 0, 100, 5.9}};
  zalk::AnalysisOptions options;
  options.round_moduli_as_deck = true;  // the same numbers as the deck's
  options.accuracy = state.range(0) == 0 ? zalk::Accuracy::design : zalk::Accuracy::high;
  state.SetLabel(state.range(0) == 0 ? "design" : "high");
  zalk::AnalysisWorkspace ws;
  for (auto _ : state) {
    const zalk::AnalysisResult r = zalk::analyse(ws, s, loads, points, options);
    benchmark::DoNotOptimize(r.responses[0].w);
  }
}
BENCHMARK(BM_AnalyseModeOne)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// ---- rating -------------------------------------------------------------------

void BM_LegacyRateSections100(benchmark::State& state) {
  const zalk::Section s = sample_section();
  const auto tests = sample_tests(100);
  std::vector<double> fwd(20 * 2000 * 10), result(20 * 2000 * 6), sect(20 * 23);
  const double row[13] = {s.days[0], s.days[1], s.days[2], s.days[3], s.days[4],
                          s.air_temperature_f[0], s.air_temperature_f[1], s.air_temperature_f[2],
                          s.air_temperature_f[3], s.air_temperature_f[4], s.surface_thickness_in,
                          s.base_thickness_in, s.previous_day_air_f};
  for (std::size_t c = 0; c < 13; ++c) sect[c * 20] = row[c];
  for (std::size_t i = 0; i < 5; ++i) {
    sect[(13 + i) * 20] = s.base_factor[i];
    sect[(18 + i) * 20] = s.subgrade_factor[i];
  }
  for (std::size_t j = 0; j < tests.size(); ++j) {
    const auto& t = tests[j];
    const double v[10] = {t.hour, t.load_lb, t.deflections_mils[0], t.deflections_mils[1], t.deflections_mils[2],
                          t.deflections_mils[3], t.deflections_mils[4], t.deflections_mils[5], t.reps_per_year,
                          t.surface_temperature_f};
    for (std::size_t k = 0; k < 10; ++k) fwd[(k * 2000 + j) * 20] = v[k];
  }
  zalk::rating::RatingContext ctx;
  zalk::rating::OwnedBlocks blocks;
  ctx.table = kTable;
  std::array<int, 20> ntest{};
  ntest[0] = int(tests.size());
  const int nsec = 1;
  for (auto _ : state) {
    zalk::legacy::rate_sections(ctx, blocks.view, fwd.data(), result.data(), sect.data(), ntest.data(), &nsec);
    benchmark::DoNotOptimize(result[0]);
  }
}
BENCHMARK(BM_LegacyRateSections100)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_RaterRate100(benchmark::State& state) {
  const zalk::Section s = sample_section();
  const auto tests = sample_tests(100);
  zalk::Rater rater;
  if (!rater.load_table(kTable).ok()) {
    state.SkipWithError("no deflection table in data/");
    return;
  }
  for (auto _ : state) {
    const zalk::SectionRating r = rater.rate(s, tests);
    benchmark::DoNotOptimize(r.tests[0].allowable_load);
  }
}
BENCHMARK(BM_RaterRate100)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_RaterLoadTable(benchmark::State& state) {
  zalk::Rater rater;
  for (auto _ : state) benchmark::DoNotOptimize(rater.load_table(kTable).ok());
}
BENCHMARK(BM_RaterLoadTable)->Unit(benchmark::kMillisecond);

double thread_cpu_seconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// 400 tests shared out to state.range(0) threads, one rater each (tables
// loaded before the clock starts).
void BM_Rate400OnThreads(benchmark::State& state) {
  const int threads = int(state.range(0));
  const zalk::Section s = sample_section();
  const auto all = sample_tests(400);
  std::vector<zalk::Rater> raters(static_cast<std::size_t>(threads));
  std::vector<std::vector<zalk::DeflectionTest>> shares(static_cast<std::size_t>(threads));
  for (std::size_t j = 0; j < all.size(); ++j) shares[j % std::size_t(threads)].push_back(all[j]);
  for (auto& r : raters) {
    if (!r.load_table(kTable).ok()) {
      state.SkipWithError("no deflection table in data/");
      return;
    }
  }
  // CPU time of the rating threads: on a machine shared with other work the
  // real time depends on the cores left free, their CPU time does not; equal
  // sums on one and two threads mean the raters do not slow each other.
  std::vector<double> cpu(static_cast<std::size_t>(threads), 0.0);
  for (auto _ : state) {
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
      pool.emplace_back([&, t] {
        const double start = thread_cpu_seconds();
        const auto r = raters[std::size_t(t)].rate(s, shares[std::size_t(t)]);
        benchmark::DoNotOptimize(r.tests.size());
        cpu[std::size_t(t)] += thread_cpu_seconds() - start;
      });
    }
    for (auto& th : pool) th.join();
  }
  double total = 0.0;
  for (double c : cpu) total += c;
  state.counters["thread_cpu_s"] = total / double(state.iterations());
}
BENCHMARK(BM_Rate400OnThreads)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
