// Cost of the plate routine at an off-axis point below the surface, with the
// surfaces fitted once (as the engine uses it) and, for the record, with the
// six surfaces refitted on every call.
#include <benchmark/benchmark.h>

#include <vector>

#include "plate/platecoef.h"
#include "plate/plateresp.h"
#include "plate/platetab.h"

namespace {

using namespace zalk::plate;

void BM_PlateRespOffAxis(benchmark::State& state) {
  const double P[1] = {100.0}, A[1] = {5.9};
  double w, u, er, et, ez, erz;
  for (auto _ : state) {
    plate_response(1, 8.0, 30000.0, 0.35, w, u, er, et, ez, erz, 1.0, P, A);
    benchmark::DoNotOptimize(w);
    benchmark::DoNotOptimize(erz);
  }
}
BENCHMARK(BM_PlateRespOffAxis);

void BM_PlateRespEdgeBand(benchmark::State& state) {  // two evaluations
  const double P[1] = {100.0}, A[1] = {5.9};
  double w, u, er, et, ez, erz;
  for (auto _ : state) {
    plate_response(1, 5.9, 30000.0, 0.35, w, u, er, et, ez, erz, 1.0, P, A);
    benchmark::DoNotOptimize(w);
  }
}
BENCHMARK(BM_PlateRespEdgeBand);

void BM_PlateCoefRefitEveryCall(benchmark::State& state) {
  const PlateBlock& b = kPlateBlocks[kNearBlock];
  std::vector<double> t[6];
  for (int k = 1; k <= 6; ++k) {
    t[k - 1].resize(20 * b.ny);
    for (int i = 1; i <= b.ny; ++i)
      for (int j = 1; j <= 20; ++j)
        t[k - 1][(j - 1) + (i - 1) * 20] = kPlateTab[(plate_row(b, k, i) - 1) + (j - 1) * kPlateRows];
  }
  double o[6];
  for (auto _ : state) {
    plate_coefficients(8.0 / 5.9, 1.0 / 5.9, 300.0, 0.35, o[0], o[1], o[2], o[3], o[4], o[5], t[0].data(),
              t[1].data(), t[2].data(), t[3].data(), t[4].data(), t[5].data(), b.rho, b.zeta, 20, b.ny);
    benchmark::DoNotOptimize(o[0]);
  }
}
BENCHMARK(BM_PlateCoefRefitEveryCall);

}  // namespace
