// Speed of DSPLEZ kind 5, the layer kernel's transfer from its transform grid
// to the Gauss nodes.
#include <benchmark/benchmark.h>

#include <cmath>
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
  for (int i = 0; i < n; ++i) xv[i] = x.back() * (0.5 - 0.5 * std::cos(M_PI * (i + 0.5) / n));
  for (auto _ : state) {
    zalk::toolkit::DSPLEZ(ndata, x.data(), f.data(), 5, 0, n, xv.data(), v.data());
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_DSPLEZ_Kind5)->Arg(30)->Arg(100);

}  // namespace
