// The fit's search over every depth against the design method on the same
// drops, in one run: five sections of 100 drops each (the structure of each
// drop varied around its section's, the readings computed by the engine
// and given the default noise, fixed seed), rated whole through the public
// API by each method. Counters: milliseconds per drop, and for the fit the
// engine runs per drop (with those that filled the sections' grids) and
// its mean RMS misfit. The figure to quote is fit / design at 100 drops per section;
// Arg(1) gives a drop rated alone, its section new, and the fit's Arg(2) and
// Arg(3) where its search on the engine directly gives way to the grid.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <vector>

#include "engine/driver.h"
#include "rating/fit.h"
#include "zalk/rating.hpp"

namespace {

namespace fs = std::filesystem;

struct SectionDrops {
  zalk::Section section;
  std::vector<zalk::DeflectionTest> drops;
};

// h1, h2, h3 (0: no stiff layer), E1, E2, E3 of each section.
constexpr std::array<std::array<double, 6>, 5> kSections{{{5, 12, 120, 800e3, 40e3, 12e3},
                                                          {3, 8, 60, 450e3, 28e3, 8e3},
                                                          {8, 20, 200, 1600e3, 60e3, 14e3},
                                                          {4, 10, 0, 700e3, 35e3, 9e3},
                                                          {6, 15, 30, 1100e3, 45e3, 11e3}}};

std::vector<SectionDrops> survey(int drops_per_section) {
  std::mt19937_64 rng(20261208);
  std::normal_distribution<double> normal(0.0, 1.0);
  auto ws = zalk::engine::make_engine_workspace();
  std::vector<SectionDrops> out;
  for (const auto& s : kSections) {
    SectionDrops sd;
    sd.section.days = {91, 90, 45, 45, 94};
    sd.section.air_temperature_f = {56, 31, 49, 61, 79};
    sd.section.surface_thickness_in = s[0];
    sd.section.base_thickness_in = s[1];
    sd.section.previous_day_air_f = 66;
    sd.section.base_factor = {1, 1.3, 0.7, 0.85, 1};
    sd.section.subgrade_factor = {1, 1.5, 0.6, 0.8, 1};
    for (int k = 0; k < drops_per_section; ++k) {
      zalk::DeflectionTest t;
      t.hour = 10;
      t.load_lb = 9000 + 200 * (k % 20);
      t.reps_per_year = 1e5;
      t.surface_temperature_f = 75;
      const std::array<double, 3> e{s[3] * std::exp(0.15 * normal(rng)), s[4] * std::exp(0.15 * normal(rng)),
                                    s[5] * std::exp(0.1 * normal(rng))};
      const double h3 = s[2] == 0 ? zalk::rating::kNoStiffLayer : s[2];
      const auto w = zalk::rating::engine_basin(*ws, s[0], s[1], h3, e, t.load_lb, t.sensor_offsets_in);
      for (double v : w) t.deflections_mils.push_back(1000 * v + (0.08 + 0.01 * 1000 * v) * normal(rng));
      sd.drops.push_back(t);
    }
    out.push_back(sd);
  }
  return out;
}

void rate_survey(benchmark::State& state, const zalk::RatingOptions& options, int drops_per_section) {
  const auto sections = survey(drops_per_section);
  double runs = 0, rms = 0;
  int rated = 0;
  for (auto _ : state) {
    state.PauseTiming();
    zalk::Rater fresh;  // no grid or warm start kept from an earlier iteration
    (void)fresh.load_table(fs::path(ZALK_SOURCE_DIR) / "data" / "backdefl.txt");
    state.ResumeTiming();
    for (const auto& s : sections) {
      const zalk::SectionRating r = fresh.rate(s.section, s.drops, options);
      if (!r.status.ok()) state.SkipWithError(r.status.error->text.c_str());
      for (const auto& t : r.tests) {
        runs += t.engine_calls;
        rated += t.rated;
        rms += t.fit_rms_pct;
        if (std::getenv("ZALK_SURVEY_VERBOSE") && !t.rated)
          std::fprintf(stderr, "%s %g %g %g %g %s\n", zalk::flag_names(t.flags).c_str(), t.e_surface, t.e_base,
                       t.e_subgrade, t.depth_in, t.message.c_str());
      }
    }
  }
  const double drops = double(state.iterations()) * double(sections.size()) * drops_per_section;
  state.counters["ms_per_drop"] = benchmark::Counter(drops / 1000.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["engine_runs_per_drop"] = runs / drops;
  state.counters["rated_share"] = rated / drops;
  // The fit's misfit, which a faster search must not raise (the design
  // method reports none unless asked for residuals).
  state.counters["mean_fit_rms_pct"] = rms / drops;
}

void BM_SurveyDesign(benchmark::State& state) { rate_survey(state, {}, int(state.range(0))); }
BENCHMARK(BM_SurveyDesign)->Arg(100)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_SurveyFitGlobal(benchmark::State& state) {
  zalk::RatingOptions o;
  o.method = zalk::Method::fit;
  o.fit.depth = zalk::DepthSearch::global;
  rate_survey(state, o, int(state.range(0)));
}
BENCHMARK(BM_SurveyFitGlobal)->Arg(100)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
