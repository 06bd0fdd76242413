// Cost of the survey columns: basin indices and the AASHTO 93 columns for a
// survey of 100,000 drops (eight sensors at the inch offsets, a spread of
// pavements, so the sensor choice tries one to four sensors), and the
// sectioning by cumulative differences for 10,000 to 1,000,000 drops, whose
// cost should grow in proportion (the complexity fit reports it).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "rating/survey.h"

namespace {

namespace survey = zalk::rating::survey;

constexpr double kOffsets[] = {0, 8, 12, 18, 24, 36, 48, 60};
constexpr std::size_t kSensors = std::size(kOffsets);

struct Survey {
  std::vector<double> deflections;  // kSensors per drop
  std::vector<double> loads, thickness, stations, values;

  explicit Survey(std::size_t drops) {
    std::uint64_t s = 12345;
    auto uniform = [&s] {
      s = s * 6364136223846793005ull + 1442695040888963407ull;
      return double(s >> 11) / double(1ull << 53);
    };
    for (std::size_t i = 0; i < drops; ++i) {
      const double d0 = 5 + 40 * uniform(), spread = 6 + 30 * uniform();
      for (double r : kOffsets) deflections.push_back(d0 * spread / std::sqrt(r * r + spread * spread));
      loads.push_back(8000 + 4000 * uniform());
      thickness.push_back(4 + 30 * uniform());
      stations.push_back(double(i / 2));
      values.push_back(double((i / 500) % 3) * 10 + 8 * uniform());
    }
  }
};

void BM_IndicesAndAashto(benchmark::State& state) {
  const std::size_t drops = std::size_t(state.range(0));
  const Survey sv(drops);
  for (auto _ : state) {
    double sum = 0;
    for (std::size_t i = 0; i < drops; ++i) {
      const survey::Drop drop{{kOffsets, kSensors}, {&sv.deflections[i * kSensors], kSensors}, sv.loads[i]};
      const survey::Indices ix = survey::basin_indices(drop, 9000);
      const survey::Aashto93 a = survey::aashto93(drop, {sv.thickness[i], 5.9, 0.33});
      sum += ix.area_in + a.ep_psi;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t(drops));
}
BENCHMARK(BM_IndicesAndAashto)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_Sectioning(benchmark::State& state) {
  const std::size_t drops = std::size_t(state.range(0));
  const Survey sv(drops);
  for (auto _ : state) {
    const survey::Segmentation s = survey::segment(sv.stations, sv.values, 500);
    benchmark::DoNotOptimize(s.units.data());
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_Sectioning)->RangeMultiplier(10)->Range(10000, 1000000)->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

}  // namespace
