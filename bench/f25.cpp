// Reading F25 field files: a synthetic survey of 10,000 drops (2,500
// locations of four drops, nine sensors) parsed from memory.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "io/f25.h"

namespace {

std::string survey(int locations) {
  std::string s = "5001,\"1.00\",   40,    4,    1\n";
  for (int k = 2; k <= 38; ++k) s += "5099,    0\n";
  s += "5020,  150,    0,  200,  300,  450,  600,  900, 1200, 1500, 1800";
  for (int k = 9; k < 18; ++k) s += ",   N0";
  s += "\n5032,\"SUB\"\n";
  char buf[256];
  for (int loc = 0; loc < locations; ++loc) {
    std::snprintf(buf, sizeof buf,
                  "5280,    0, %9.1f, 45.%06d, -93.%06d,  250.5\n"
                  "5301,    0,\"m\",%10.1f,\"L1\",2026,11, 2,%2d,%2d\n5302,\"\"\n"
                  "5303,    0, 12.5, 10.0,  8.0\n",
                  345600.0 + loc, loc, loc, 10.0 * loc, 8 + loc % 10, loc % 60);
    s += buf;
    for (int drop = 1; drop <= 4; ++drop) {
      const double f = 0.6 + 0.2 * drop;
      std::snprintf(buf, sizeof buf,
                    "%4d,%7.1f,%5.0f,%5.0f,%5.0f,%5.0f,%5.0f,%5.0f,%5.0f,%5.0f,%5.0f\n", drop,
                    700.0 * f, 410 * f, 330 * f, 270 * f, 200 * f, 150 * f, 90 * f, 60 * f,
                    45 * f, 38 * f);
      s += buf;
    }
  }
  return s;
}

void BM_ReadF25(benchmark::State& state) {
  const std::string text = survey(2500);
  std::size_t drops = 0;
  for (auto _ : state) {
    const zalk::io::F25File f = zalk::io::read_f25(text, "survey.f25");
    drops = f.drops.size();
    benchmark::DoNotOptimize(drops);
  }
  state.counters["drops_per_second"] =
      benchmark::Counter(double(drops) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadF25)->Unit(benchmark::kMillisecond);

}  // namespace
