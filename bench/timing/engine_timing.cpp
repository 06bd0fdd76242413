// The engine benchmark of structure S1 (h 4, 8, 12; E 500000, 30000, 10000),
// mode 1, timed with the steady clock, for builds where Google Benchmark is
// not at hand: the Windows builds run it under Wine side by side with the
// Linux build (scripts/time_platforms.sh). It times the core as BM_CoreMode1
// does, on the problems of the deck without the file, and the entry with
// its deck file as BM_QuorvanMode1 does.
//
// Usage: engine_timing [analyses = 600] [deck folder = the temporary folder]
// Prints two lines, the core and the entry: median and least time of one
// analysis in microseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "bench/structure_s1.h"
#include "engine/driver.h"
#include "engine/quorvan.h"
#include "io/deck.h"

namespace {

using namespace zalk::engine;
using namespace zalk::bench;

// Median and least of `count` timings of `analyse` (after one untimed run,
// which fills the caches as a benchmark's warm-up does).
template <class Analyse>
void time_and_print(const char* what, int count, Analyse&& analyse) {
  using Clock = std::chrono::steady_clock;
  analyse();
  std::vector<double> us;
  us.reserve(std::size_t(count));
  for (int i = 0; i < count; ++i) {
    const Clock::time_point start = Clock::now();
    analyse();
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(us.begin(), us.end());
  std::printf("%s: median %.1f us, least %.1f us (%d analyses)\n", what, us[us.size() / 2], us.front(),
              count);
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 600;
  const std::filesystem::path folder =
      argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
  auto ws = make_engine_workspace();

  ProblemSet set;
  read_deck_text(write_deck_text(s1_request(1, 1)), set);
  time_and_print("core, mode 1 of S1", count, [&] {
    for (int p = 0; p < set.nprob; ++p) analyse_problem(*ws, set.problems[p], set.abstol, set.reltol);
  });

  const std::filesystem::path deck = folder / "input_m.txt";
  float defl[8], resp[50];
  time_and_print("QUORVAN with its deck file", count, [&] {
    quorvan(*ws, deck, 4, 8, 12, kS1E1, kS1E2, kS1E3, 1.0f, defl, resp, kS1Seastab, 1, 1);
  });
  return 0;
}
