// The engine builds a 50-point Gauss-Legendre rule for every new load radius.
#include <benchmark/benchmark.h>

#include <vector>

#include "toolkit/gauss.h"

namespace {

void BM_DGQRUL_Legendre50(benchmark::State& state) {
  std::vector<double> x(50), w(50);
  const double fixed[2] = {0.0, 0.0};
  for (auto _ : state) {
    zalk::toolkit::DGQRUL(50, 1, 0.0, 0.0, 0, fixed, x.data(), w.data());
    benchmark::DoNotOptimize(x.data());
    benchmark::DoNotOptimize(w.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_DGQRUL_Legendre50)->Unit(benchmark::kMicrosecond);

}  // namespace
