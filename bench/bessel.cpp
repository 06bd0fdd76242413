// The toolkit's J0, J1, J2 against the C library's j0, j1, jn(2, .) on the
// same arguments, per range and on a mix of all three (time per call).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "toolkit/bessel.h"

namespace {

// Range 0: x < 2, 1: 2..40, 2: 40..1e4, 3: a third of each.
std::vector<double> arguments(int range) {
  const double lo[3] = {0.0, 2.0, 40.0}, hi[3] = {2.0, 40.0, 1e4};
  std::mt19937_64 rng(42);
  std::vector<double> x(4096);
  for (std::size_t i = 0; i < x.size(); ++i) {
    const int r = range == 3 ? int(i % 3) : range;
    x[i] = std::uniform_real_distribution<double>(lo[r], hi[r])(rng);
  }
  return x;
}

template <typename F>
void run(benchmark::State& state, F f) {
  const std::vector<double> x = arguments(int(state.range(0)));
  for (auto _ : state) {
    double sum = 0.0;
    for (double v : x) sum += f(v);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t(x.size()));
}

void BM_J0(benchmark::State& s) { run(s, zalk::toolkit::bessel_j0); }
void BM_J0_libc(benchmark::State& s) { run(s, [](double x) { return ::j0(x); }); }
void BM_J1(benchmark::State& s) { run(s, zalk::toolkit::bessel_j1); }
void BM_J1_libc(benchmark::State& s) { run(s, [](double x) { return ::j1(x); }); }
void BM_J2(benchmark::State& s) { run(s, zalk::toolkit::bessel_j2); }
void BM_J2_libc(benchmark::State& s) { run(s, [](double x) { return ::jn(2, x); }); }
void BM_J0J1(benchmark::State& s) {
  run(s, [](double x) {
    double a, b;
    zalk::toolkit::bessel_j0_j1(x, a, b);
    return a + b;
  });
}
void BM_J0J1_libc(benchmark::State& s) { run(s, [](double x) { return ::j0(x) + ::j1(x); }); }

#define ZALK_BESSEL_BENCH(fn) BENCHMARK(fn)->DenseRange(0, 3)
ZALK_BESSEL_BENCH(BM_J0);
ZALK_BESSEL_BENCH(BM_J0_libc);
ZALK_BESSEL_BENCH(BM_J1);
ZALK_BESSEL_BENCH(BM_J1_libc);
ZALK_BESSEL_BENCH(BM_J2);
ZALK_BESSEL_BENCH(BM_J2_libc);
ZALK_BESSEL_BENCH(BM_J0J1);
ZALK_BESSEL_BENCH(BM_J0J1_libc);

}  // namespace
