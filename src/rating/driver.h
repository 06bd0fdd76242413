// The load-rating driver: per section the table surfaces, per test the
// back-calculation at eight depths, the pavement temperature and the
// seasonal rating that gives the allowable load. The entry points are
// declared in rating/section_rating.h.
#pragma once

#include "rating/blocks.h"
#include "rating/context.h"

namespace zalk::rating {

// Time-of-day terms of the pavement-temperature prediction (4-byte floats):
// A is -1 from 5 to 11 h, B is -1 from 3 to 9 h, otherwise sine terms of an
// 18-hour period, with hours before the window counted on the previous day.
float bells3_a(float hour);
float bells3_b(float hour);

// Pavement temperature (F) at depth dmm (mm) from the surface temperature ts
// (F), the time of day and the previous day's mean air temperature t1c (C).
float pavement_temperature(float hour, float ts, float t1c, float dmm);

// Seasonal rating of the moduli e1, e2, e3 with third-layer thickness h3 for
// the current section and test: fills ctx.season (ALLOW last).
void seasonal_rating(RatingContext& ctx, Blocks& blocks, float e1, float e2, float e3, float h3);

// The two limits of the allowable load that one season sets alone: nine
// times its strength ratio, and its deflection limit (both kips), as the
// year's allowable load compares them.
struct SeasonLimits {
  double strength = 0, deflection = 0;
};
SeasonLimits limits_in_season(const SeasonalState& s, int season);

// The same for moduli and depth as seasonal_rating takes them, with the
// engine run for that season alone: the same numbers as that season of a
// full seasonal rating, at a fifth of its cost. NaN for moduli the engine
// cannot analyse. ctx.season is left alone.
SeasonLimits limits_in_season_alone(RatingContext& ctx, Blocks& blocks, float e1, float e2, float e3, float h3,
                                 int season);

}  // namespace zalk::rating
