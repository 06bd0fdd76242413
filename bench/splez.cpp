// Speed of DSPLEZ kind 5, the layer kernel's transfer from its transform grid
// to the Gauss nodes: many ordinate sets over the same abscissas, and new
// abscissas on every call.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "toolkit/splez.h"

namespace {

void BM_DSPLEZ_Kind5(benchmark::State& state) {
  const int ndata = static_cast<int>(state.range(0));
  const int n = 50;
  std::vector<double> x(ndata), f(ndata), xv(n), v(n);
  for (int i = 0; i < ndata; ++i) {
    x[i] = 0.05 * i + 0.001 * i * i;
    f[i] = std::exp(-x[i]) * std::cos(3.0 * x[i]);
  }
  for (int i = 0; i < n; ++i) xv[i] = x.back() * (0.5 - 0.5 * std::cos(std::numbers::pi * (i + 0.5) / n));
  for (auto _ : state) {
    zalk::toolkit::DSPLEZ(ndata, x.data(), f.data(), 5, 0, n, xv.data(), v.data());
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_DSPLEZ_Kind5)->Arg(30)->Arg(100);

// New abscissas on every call: knots and factors are rebuilt each time.
void BM_DSPLEZ_Kind5_NewAbscissas(benchmark::State& state) {
  const int ndata = static_cast<int>(state.range(0));
  const int n = 50;
  std::vector<double> x[2], f(ndata), xv(n), v(n);
  for (int s = 0; s < 2; ++s) {
    x[s].resize(ndata);
    for (int i = 0; i < ndata; ++i) x[s][i] = 0.05 * i + 0.001 * (s + 1) * i * i;
  }
  for (int i = 0; i < ndata; ++i) f[i] = std::exp(-x[0][i]) * std::cos(3.0 * x[0][i]);
  for (int i = 0; i < n; ++i) xv[i] = x[0].back() * (0.5 - 0.5 * std::cos(std::numbers::pi * (i + 0.5) / n));
  int s = 0;
  for (auto _ : state) {
    zalk::toolkit::DSPLEZ(ndata, x[s].data(), f.data(), 5, 0, n, xv.data(), v.data());
    benchmark::DoNotOptimize(v.data());
    s = 1 - s;
  }
}
BENCHMARK(BM_DSPLEZ_Kind5_NewAbscissas)->Arg(30)->Arg(100);

}  // namespace
