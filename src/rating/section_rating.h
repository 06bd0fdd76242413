// The rating core in values: a section, its tests (any count) and what one
// test leaves for the next go in; the six rated values, the best fit error
// and the seasons' own allowable loads of every test come out. The legacy
// entry points and the public Rater both stand on these functions; neither
// shapes the other's arrays.
//
// The core still works in the rating context and the blocks it is given:
// they are its working storage (the table surfaces live in COM2), and what
// the work leaves there is what the legacy hosts have always seen.
#pragma once

#include <array>
#include <functional>
#include <span>
#include <vector>

#include "rating/blocks.h"
#include "rating/context.h"

namespace zalk::rating {

using SeasonValues = std::array<double, kSeasons>;

// One section as the rating reads it (in, F, days; factors are plain ratios).
struct SectionValues {
  SeasonValues days{};
  SeasonValues air_f{};
  double surface_in = 0;  // thicker than 12 in is rated as 12
  double base_in = 0;
  double previous_day_air_f = 0;
  SeasonValues base_factor{};
  SeasonValues subgrade_factor{};
};

// One test on the table's six sensors.
struct TestValues {
  double hour = 0;
  double load_lb = 0;
  std::array<double, 6> deflections_mils{};
  double reps_per_year = 0;
  double surface_f = 0;
};

// The search's best grid indices, which one test hands to the next: a
// search whose first pass accepts no point refines around them. A fresh
// value is what a fresh context holds.
struct SearchCarry {
  int ibest = 0;
  int jbest = 0;
};

struct TestRating {
  double allowable_load = 0;  // kips (see zalk::RatingResult); NaN when not rated
  double e_surface = 0, e_surface_72f = 0, e_base = 0, e_subgrade = 0;  // psi
  double depth_in = 0;        // depth to the stiff layer of the chosen candidate
  float fit_error = kNoFit;   // the chosen depth's fit error; kNoFit when no depth fitted
  SeasonValues season_allowable{};  // each season standing for the year; NaN when not rated

  static constexpr float kNoFit = 9999.0f;
};

// Where the tests of a call are numbered from in warnings (1-based).
struct TestNumbering {
  int section = 1;
  int first_test = 1;
};

using TestSink = std::function<void(std::size_t test, const TestRating& rating)>;

// What every call sets before its first section: the weights of the six
// sensors, the spline orders and the seasonal factors (of `factors_from`).
void begin_call(Blocks& blocks, const SectionValues& factors_from);

// The deflection table of a call: the context's parsed one when set, else
// its file through the context's cache (see RatingContext::table).
DeflectionTables& table_of_call(RatingContext& ctx, Blocks& blocks);

// Rates the tests of one section in order, handing each result to `sink` as
// soon as it is known (so that a failure part way keeps what was rated).
// `carry` comes in from the test before and leaves as this section's last.
void rate_section(RatingContext& ctx, Blocks& blocks, DeflectionTables& tables,
                  const SectionValues& section, std::span<const TestValues> tests,
                  SearchCarry& carry, const TestSink& sink, TestNumbering numbering = {});

// The same, the results returned in the order of the tests.
std::vector<TestRating> rate_section(RatingContext& ctx, Blocks& blocks, DeflectionTables& tables,
                                     const SectionValues& section,
                                     std::span<const TestValues> tests, SearchCarry& carry,
                                     TestNumbering numbering = {});

// The allowable load (kips) of the least of four limits: fatigue and
// rutting damage (each taken to the power -1/4 and scaled), the deflection
// limit and the strength ratio times nine. Ties and NaNs go as the first
// smaller value met, in that order.
double allowable_load(double fatigue_damage, double rutting_damage, double deflection_limit,
                      double strength_ratio);

// Per season the allowable load with the season standing for the whole
// year; NaN for every season of a test without an allowable load.
SeasonValues season_allowable(const SeasonalState& s, float reps);

}  // namespace zalk::rating
