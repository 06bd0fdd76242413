// The survey report's page from the tables of a survey of 20,000 drops
// (F25 columns, six sensors each): the JSON block built from the CSV texts
// and put into the template. The tool adds to this only the two tables
// written once more into memory.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "apps/rate/report_page.h"

namespace {

constexpr int kDrops = 20000;
constexpr double kOffsets[] = {0, 8, 12, 18, 24, 36};

std::string results_csv() {
  std::string out =
      "section,test,line,allowable_load,e_surface,e_surface_72f,e_base,e_subgrade,depth_in,fit_rms_pct,flags,"
      "station,lane,drop,load_lb,latitude,longitude\n";
  char row[512];
  for (int k = 0; k < kDrops; ++k) {
    std::snprintf(row, sizeof row, "S2,%d,%d,%.6g,%.6g,%.6g,%.6g,%.6g,120,%.6g,%s,%.6g,L1,1,%.6g,%.8g,%.8g\n",
                  k + 1, 45 + 5 * k, 5.1 + k % 17 * 0.1, 523846.0 + k, 564978.0 - k, 42863.5 + k % 91,
                  12246.2 + k % 53, 0.54 + k % 7 * 0.01, k % 50 == 0 ? "implausible" : "", 25.0 * k,
                  10341.7 + k % 13, 44.97 + k * 2.25e-4, -93.26 + k * 3.18e-4);
    out += row;
  }
  return out;
}

std::string residuals_csv() {
  std::string out = "section,test,sensor,offset_in,measured_mils,computed_mils,residual\n";
  char row[256];
  for (int k = 0; k < kDrops; ++k)
    for (int s = 0; s < 6; ++s) {
      const double measured = 20.0 / (1 + s) + k % 11 * 0.01, computed = measured * 1.003;
      std::snprintf(row, sizeof row, "S2,%d,%d,%.6g,%.6g,%.6g,%.6g\n", k + 1, s + 1, kOffsets[s], measured,
                    computed, computed - measured);
      out += row;
    }
  return out;
}

void BM_ReportPage20000Drops(benchmark::State& state) {
  const std::string results = results_csv(), residuals = residuals_csv();
  report_output::Summary summary;
  summary.inputs.push_back({"survey.f25", "F25 field file", kDrops, 0});
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string page = report_output::report_page(summary, {results, residuals, {}});
    bytes = page.size();
    benchmark::DoNotOptimize(page.data());
  }
  state.counters["MB"] = double(bytes) / 1e6;
}
BENCHMARK(BM_ReportPage20000Drops)->Unit(benchmark::kMillisecond);

}  // namespace
