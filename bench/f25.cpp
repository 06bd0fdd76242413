// Reading field files from memory: a synthetic F25 survey of 10,000 drops
// (2,500 locations of four drops, nine sensors) in the described shape, and
// surveys of 100,000 drops (25,000 stations of four) as devices write them:
// F25 with CR LF, zero-padded stresses and a trailing field, and JILS.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "io/fwd.h"

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

constexpr int kStations = 25000;

std::string device_survey(int stations) {
  std::string s = "5001,25.60,1,40, 3, 1,\"bench           \"\r\n";
  for (int k = 2; k <= 39; ++k) s += "5099,0\r\n";
  s += "5020,   150,     0,   300,   450,   600,   900,  1200,  1500,  1800,  2100";
  for (int k = 9; k < 18; ++k) s += ",N0    ";
  s += "\r\n";
  char buf[256];
  for (int st = 0; st < stations; ++st) {
    std::snprintf(buf, sizeof buf,
                  "5280,0,%9.1f,%11.7f,%12.7f,  00.3, 2, 9,   0,  0\r\n"
                  "5301,0,1,3,3,%8.3f,1,1,NA      ,2014,07,07,%02d,%02d\r\n"
                  "5302,0,1,8,0,0,0,1,0,\"rs          \"\r\n5303,0, 21.0, 22.5, 19.5\r\n",
                  5294500.0 + st, 51.4733632 + 1e-6 * st, 3.6226845 + 1e-6 * st, 0.025 * st, 8 + st % 10, st % 60);
    s += buf;
    for (int drop = 1; drop <= 4; ++drop) {
      const double f = 0.6 + 0.2 * drop;
      std::snprintf(buf, sizeof buf, "%4d,  %04d,%6.1f,%6.1f,%6.1f,%6.1f,%6.1f,%6.1f,%6.1f,%6.1f,%6.1f, 29.750\r\n",
                    drop, int(732 * f), 92.5 * f, 64.5 * f, 53.8 * f, 44.8 * f, 31.6 * f, 22.1 * f, 15.4 * f,
                    10.9 * f, 7.7 * f);
      s += buf;
    }
  }
  return s;
}

std::string jils_survey(int stations) {
  std::string s = "M5\r\nDate-Time:  5/13/2019  8:35:57\r\nSensors: 1,  2,  3,  4,  5,  6,  7,  8,  9\r\n"
                  "Weight/spring: 3\r\nLocation: Bench\r\nTemp:   71.74\r\nOperator: xy\r\nComments:\r\n";
  char buf[256];
  for (int st = 0; st < stations; ++st) {
    for (int drop = 1; drop <= 4; ++drop) {
      const double f = 0.6 + 0.2 * drop;
      std::snprintf(buf, sizeof buf, "%d %d %7.3f 1%6.2f%6.2f%6.2f%6.2f%6.2f%6.2f%6.2f%6.2f%6.2f%6.2f  74.2\r\n",
                    st + 1, drop, 50.0 + st, 10.8 * f, 8.48 * f, 7.38 * f, 6.17 * f, 5.15 * f, 3.62 * f, 2.53 * f,
                    1.77 * f, 1.22 * f, 5.89 * f);
      s += buf;
    }
    std::snprintf(buf, sizeof buf,
                  "Drop Sequence Completed Time: %02d:%02d    Air Temp (F): 72.4\r\n"
                  "GPS: Quality : DGPS Fix   Latitude = 34 deg%09.6f  N   Longitude = 89 deg%09.6f   W   PDOP = 0.00\r\n"
                  "Note: %d\r\n",
                  8 + st % 10, st % 60, 10 + 1e-4 * (st % 1000), 20 + 1e-4 * (st % 1000), st);
    s += buf;
  }
  return s;
}

// Reads `text` over and over; the rate counted is drops per second.
void read_repeatedly(benchmark::State& state, const std::string& text, const char* name) {
  std::size_t drops = 0;
  for (auto _ : state) {
    const zalk::io::FwdFile f = zalk::io::read_fwd(text, name);
    drops = f.drops.size();
    benchmark::DoNotOptimize(drops);
  }
  if (drops != 4u * kStations) state.SkipWithError("the survey did not read whole");
  state.counters["drops_per_second"] =
      benchmark::Counter(double(drops) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_ReadF25DeviceShape100k(benchmark::State& state) {
  read_repeatedly(state, device_survey(kStations), "survey.f25");
}
BENCHMARK(BM_ReadF25DeviceShape100k)->Unit(benchmark::kMillisecond);

void BM_ReadJils100k(benchmark::State& state) { read_repeatedly(state, jils_survey(kStations), "survey.dat"); }
BENCHMARK(BM_ReadJils100k)->Unit(benchmark::kMillisecond);

}  // namespace
