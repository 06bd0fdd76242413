// Sparse solver on the engine's system: the 18 x 18 interface system of a
// five-layer structure, solved as the engine does it (defaults, then the
// workspace limit 100000), with and without a caller-owned workspace.
#include <benchmark/benchmark.h>

#include <vector>

#include "tests/unit/sparse/layered_system.h"
#include "toolkit/sparse.h"
#include "toolkit/sparse_replay.h"

namespace {

using zalk::sparse_testing::Coordinates;

struct EngineSystem {
  int n = 0;
  Coordinates c;
  std::vector<double> rhs;
};

EngineSystem engine_system(double m) {
  const auto s = zalk::sparse_testing::five_layer_structure();
  EngineSystem sys;
  sys.n = s.order();
  sys.c = zalk::sparse_testing::to_coordinates(zalk::sparse_testing::layered_matrix(s, m), sys.n);
  sys.rhs.assign(sys.n, 0.0);
  sys.rhs[0] = 1.0;
  return sys;
}

void BM_EngineSystemWithWorkspace(benchmark::State& state) {
  const EngineSystem sys = engine_system(0.5);
  std::vector<double> x(sys.n);
  zalk::toolkit::SparseWorkspace ws;
  int iparam[6];
  double rparam[5];
  for (auto _ : state) {
    zalk::toolkit::DLSLXG_INIT(iparam, rparam);
    iparam[4] = 100000;
    zalk::toolkit::DLSLXG(sys.n, sys.c.nz(), sys.c.a.data(), sys.c.irow.data(), sys.c.jcol.data(),
                          sys.rhs.data(), 1, iparam, rparam, x.data(), ws);
    benchmark::DoNotOptimize(x.data());
    benchmark::ClobberMemory();
  }
  state.counters["N"] = sys.n;
  state.counters["NZ"] = sys.c.nz();
  state.counters["peak_nz"] = iparam[3];
}
BENCHMARK(BM_EngineSystemWithWorkspace)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_EngineSystemOwnAreas(benchmark::State& state) {
  const EngineSystem sys = engine_system(0.5);
  std::vector<double> x(sys.n);
  int iparam[6];
  double rparam[5];
  for (auto _ : state) {
    zalk::toolkit::DLSLXG_INIT(iparam, rparam);
    iparam[4] = 100000;
    zalk::toolkit::DLSLXG(sys.n, sys.c.nz(), sys.c.a.data(), sys.c.irow.data(), sys.c.jcol.data(),
                          sys.rhs.data(), 1, iparam, rparam, x.data());
    benchmark::DoNotOptimize(x.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_EngineSystemOwnAreas)->Repetitions(5)->ReportAggregatesOnly(true);

// Large m: the exponentials of the thick layers are tiny, the pattern the same.
void BM_EngineSystemLargeM(benchmark::State& state) {
  const EngineSystem sys = engine_system(25.0);
  std::vector<double> x(sys.n);
  zalk::toolkit::SparseWorkspace ws;
  int iparam[6];
  double rparam[5];
  for (auto _ : state) {
    zalk::toolkit::DLSLXG_INIT(iparam, rparam);
    iparam[4] = 100000;
    zalk::toolkit::DLSLXG(sys.n, sys.c.nz(), sys.c.a.data(), sys.c.irow.data(), sys.c.jcol.data(),
                          sys.rhs.data(), 1, iparam, rparam, x.data(), ws);
    benchmark::DoNotOptimize(x.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_EngineSystemLargeM)->Repetitions(5)->ReportAggregatesOnly(true);

// The replay solver on the same system: after the first call every solve
// repeats the recorded factorisation (same results as DLSLXG).
void BM_EngineSystemRepeated(benchmark::State& state) {
  const EngineSystem sys = engine_system(0.5);
  std::vector<double> x(sys.n);
  zalk::toolkit::SparseReplaySolver replay;
  int iparam[6];
  double rparam[5];
  for (auto _ : state) {
    zalk::toolkit::DLSLXG_INIT(iparam, rparam);
    iparam[4] = 100000;
    replay.solve(sys.n, sys.c.nz(), sys.c.a.data(), sys.c.irow.data(), sys.c.jcol.data(),
                 sys.rhs.data(), 1, iparam, rparam, x.data());
    benchmark::DoNotOptimize(x.data());
    benchmark::ClobberMemory();
  }
  state.counters["searched"] = double(replay.counts().searched);
}
BENCHMARK(BM_EngineSystemRepeated)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
