#include "rating/driver.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>

#include "engine/driver.h"
#include "io/platform.h"
#include "rating/backcalc.h"
#include "rating/defltable.h"
#include "rating/grids.h"
#include "rating/rating_messages.h"
#include "rating/section_rating.h"
#include "toolkit/errors.h"

namespace zalk::rating {
namespace {

constexpr float kPi = 3.141596f;  // the value the temperature equation was calibrated with
constexpr float REFC[3] = {kRefSubgradeModulus, kRefLoad, kPi};
constexpr float SEASTAB[kSeasons] = {10.0f, 0.2f, 1.0f, 1.3f, 1.0f};
constexpr float kRefTemperature = 72.0f;   // F, reference of the surface modulus
constexpr float kTempSlope = 0.01111111f;  // log10 of the modulus per F
constexpr float kThicknessCap = 12.0f;     // top of the thickness grid
constexpr float kBestStart = 9999.0f;      // fit error before the first depth
constexpr double kLimitStart = 999.0;      // MINA, MINB before the seasons
constexpr int kDepths = 8;
constexpr int kSearchMode = 3;

float& resp_at(SeasonalState& s, int field, int season) { return s.resp[std::size_t(season - 1) * 10 + std::size_t(field - 1)]; }

float pow4(float x, float y) { return float(std::pow(double(x), double(y))); }

void section_setup(RatingContext& ctx, Blocks& b, const SectionValues& v) {
  SectionState& sec = ctx.section;
  zalk_dam_block& dam = b.dam;
  for (int i = 1; i <= kSeasons; ++i) {
    dam.SDAYS[i - 1] = float(v.days[std::size_t(i - 1)]);
    dam.SAIRT[i - 1] = float(v.air_f[std::size_t(i - 1)]);
    dam.SBASEF[i - 1] = float(v.base_factor[std::size_t(i - 1)]);
    dam.SSUBF[i - 1] = float(v.subgrade_factor[std::size_t(i - 1)]);
  }
  sec.h = float(v.surface_in);
  if (sec.h > kThicknessCap) sec.h = kThicknessCap;
  sec.b = float(v.base_in);
  sec.t1 = float(v.previous_day_air_f);
  // Seasonal pavement temperature at a third of the surface layer.
  sec.z = sec.h / 3.0f;
  for (int i = 1; i <= kSeasons; ++i) {
    dam.SPAVT[i - 1] =
        (1.0f / (sec.z + 4.0f) + 1.0f) * dam.SAIRT[i - 1] - 34.0f / (sec.z + 4.0f) + 6.0f;
  }
  sec.dmm = sec.h * 25.4f / 3.0f;
  for (int i = 1; i <= kSeasons; ++i) dam.SYEARF[i - 1] = dam.SDAYS[i - 1] / 365.0f;
  sec.t1c = (sec.t1 - 32.0f) * 5.0f / 9.0f;
}

void read_test(RatingContext& ctx, Blocks& b, const TestValues& v) {
  TestState& t = ctx.test;
  t.hour = float(v.hour);
  t.load = float(v.load_lb);
  for (int s = 1; s <= 6; ++s) b.dd.DMEAS[s - 1] = float(v.deflections_mils[std::size_t(s - 1)] / 1000.0);
  t.reps = float(v.reps_per_year);
  t.ts = float(v.surface_f);
}

// Back-calculates at every depth candidate; the first smallest fit error wins.
void choose_depth(RatingContext& ctx, Blocks& b, int j) {
  TestState& t = ctx.test;
  SectionState& sec = ctx.section;
  t.best = kBestStart;
  t.bestd = 1;
  for (int d = 1; d <= kDepths; ++d) {
    b.depth.IDEPTH = d;
    sec.h3 = DEPGRID[d - 1] * 12.0f;
    back_calculate(ctx, b, E1GRID.data(), E2GRID.data(), REFC, t.loadf, ctx.e1out.data(),
             ctx.e2out.data(), ctx.e3out.data(), int(E1GRID.size()), int(E2GRID.size()), sec.h,
             sec.b, sec.h3, d, j, t.err, kSearchMode);
    if (t.best > t.err) {
      t.best = t.err;
      t.bestd = d;
    }
  }
}

// Moduli that are not positive finite numbers, or stiffer than any
// material a pavement is made of (a basin of negative or vanishing
// deflections, say), describe no pavement: the test keeps them as computed
// but gets no allowable load, and a warning says so.
constexpr float kStiffestMaterial = 1.0e10f;  // psi; steel is 3e7, diamond 1.7e8

bool meaningful_moduli(const SeasonalState& s, int p, int j) {
  const float e[3] = {s.e1, s.e2, s.e3};
  const auto physical = [](float m) { return analysable_modulus(m) && m <= kStiffestMaterial; };
  if (physical(e[0]) && physical(e[1]) && physical(e[2])) return true;
  toolkit::RoutineScope scope("ZALK3071DLL");
  toolkit::E1STI(1, p);
  toolkit::E1STI(2, j);
  for (int k = 1; k <= 3; ++k) toolkit::E1STR(k, e[k - 1]);
  raise(RatingMessage::meaningless_moduli);
  return false;
}

TestRating rate_test(RatingContext& ctx, Blocks& b, const TestValues& v, int p, int j) {
  read_test(ctx, b, v);
  TestState& t = ctx.test;
  t.td = pavement_temperature(t.hour, t.ts, ctx.section.t1c, ctx.section.dmm);
  t.loadf = t.load / kRefLoad;
  TestRating out;
  if (ctx.back_calculation) {
    const RatingContext::BackCalculated m = ctx.back_calculation(ctx, b);
    ctx.section.h3 = m.h3;
    seasonal_rating(ctx, b, m.e1, m.e2, m.e3, m.h3);
  } else {
    choose_depth(ctx, b, j);
    b.depth.IDEPTH = t.bestd;
    ctx.section.h3 = DEPGRID[t.bestd - 1] * 12.0f;
    const int d = t.bestd - 1;
    seasonal_rating(ctx, b, ctx.e1out[d], ctx.e2out[d], ctx.e3out[d], ctx.section.h3);
    out.fit_error = t.best;
  }
  const SeasonalState& s = ctx.season;
  const bool meaningful = meaningful_moduli(s, p, j);
  out.allowable_load = meaningful ? s.allow : std::numeric_limits<double>::quiet_NaN();
  out.e_surface = s.e1;
  out.e_surface_72f = s.e72;
  out.e_base = s.e2;
  out.e_subgrade = s.e3;
  out.depth_in = ctx.section.h3;
  out.season_allowable = season_allowable(s, t.reps);
  return out;
}

// Allowed repetitions and the damage sums of the five seasons.
void season_damage(SeasonalState& s, const Blocks& b, float reps) {
  for (int i = 1; i <= kSeasons; ++i) {
    s.nf[i - 1] = 0.37680003f * pow4(resp_at(s, 1, i), -3.291f) * pow4(s.e1s[i - 1], -0.854f);
    s.nd[i - 1] = 0.0261f * pow4(resp_at(s, 6, i), -2.35f);
  }
  s.df = 0.0;
  s.dr = 0.0f;
  for (int i = 1; i <= kSeasons; ++i) {
    s.df = s.df + double(reps * b.dam.SYEARF[i - 1] / s.nf[i - 1]);
    s.dr = s.dr + reps * b.dam.SYEARF[i - 1] / s.nd[i - 1];
  }
}

// Smallest strength ratio and the deflection-difference limit over the seasons.
void season_limits(SeasonalState& s) {
  s.mina = kLimitStart;
  s.minb = kLimitStart;
  for (int i = 1; i <= kSeasons; ++i) {
    if (double(resp_at(s, 5, i)) < s.mina) s.mina = resp_at(s, 5, i);
  }
  for (int i = 1; i <= kSeasons; ++i) {
    const float v = 11.5f / resp_at(s, 9, i) * 10.0f;
    if (double(v) < s.minb) s.minb = v;
  }
}

// The year's allowable load: the seasons' damages summed, and the least
// strength ratio and deflection limit of the seasons.
void year_allowable(SeasonalState& s) {
  const double factor = double(5.6f);
  s.la = std::pow(s.df, -0.25) * factor;
  s.lb = std::pow(double(s.dr), -0.25) * factor;
  s.allow = allowable_load(s.df, double(s.dr), s.minb, s.mina);
}

}  // namespace

float bells3_a(float hour) {
  if (hour >= 5.0f && hour <= 11.0f) return -1.0f;
  const float t = hour < 5.0f ? hour + 24.0f : hour;
  return float(std::sin(double(2.0f * kPi * (t - 15.5f) / 18.0f)));
}

float bells3_b(float hour) {
  if (hour >= 3.0f && hour <= 9.0f) return -1.0f;
  const float t = hour < 3.0f ? hour + 24.0f : hour;
  return float(std::sin(double(2.0f * kPi * (t - 13.5f) / 18.0f)));
}

float pavement_temperature(float hour, float ts, float t1c, float dmm) {
  const float ir = (ts - 32.0f) * 5.0f / 9.0f;
  const float a = bells3_a(hour);
  const float b = bells3_b(hour);
  const float logd = float(std::log10(double(dmm)));
  const float tdc = (logd - 1.25f) * (0.621f * t1c - 0.448f * ir + 1.83f * a) +
                    (0.892f * ir + 0.95f) + 0.042f * ir * b;
  return tdc * 9.0f / 5.0f + 32.0f;
}

namespace {

// The surface modulus at 72 F from the one at the test's pavement temperature.
float surface_modulus_72f(const RatingContext& ctx, float e1) {
  return e1 * pow4(10.0f, (ctx.test.td - kRefTemperature) * kTempSlope);
}

struct SeasonModuli {
  float e1 = 0, e2 = 0, e3 = 0;
  bool analysable() const { return analysable_modulus(e1) && analysable_modulus(e2) && analysable_modulus(e3); }
};

// Season i's moduli: the surface's at the season's pavement temperature,
// the base's and subgrade's by the section's seasonal factors.
SeasonModuli season_moduli(const Blocks& b, float e72, float e2, float e3, int i) {
  return {e72 * pow4(10.0f, (kRefTemperature - b.dam.SPAVT[i - 1]) * kTempSlope), e2 * b.dam.SBASEF[i - 1],
          e3 * b.dam.SSUBF[i - 1]};
}

}  // namespace

void seasonal_rating(RatingContext& ctx, Blocks& b, float e1, float e2, float e3, float h3) {
  SeasonalState& s = ctx.season;
  s.e1 = e1;
  s.e2 = e2;
  s.e3 = e3;
  s.e72 = surface_modulus_72f(ctx, e1);
  bool analysable = true;
  for (int i = 1; i <= kSeasons; ++i) {
    const SeasonModuli m = season_moduli(b, s.e72, e2, e3, i);
    s.e1s[i - 1] = m.e1;
    s.e2s[i - 1] = m.e2;
    s.e3s[i - 1] = m.e3;
    analysable = analysable && m.analysable();
  }
  // A structure the engine cannot analyse (a failed search, a temperature
  // that is not a number) has no allowable load.
  if (!analysable) {
    s.allow = std::numeric_limits<double>::quiet_NaN();
    return;
  }
  run_engine(ctx, ctx.section.h, ctx.section.b, h3, s.e1s.data(), s.e2s.data(), s.e3s.data(),
             ctx.test.loadf, b.dd.DMEAS, s.resp.data(), SEASTAB, kSeasons, 2);
  season_damage(s, b, ctx.test.reps);
  season_limits(s);
  year_allowable(s);
}

SeasonLimits limits_in_season(const SeasonalState& s, int season) {
  const std::size_t c = std::size_t(season - 1) * 10;
  return {9.0 * double(s.resp[c + 4]), double(11.5f / s.resp[c + 8] * 10.0f)};
}

SeasonLimits limits_in_season_alone(RatingContext& ctx, Blocks& b, float e1, float e2, float e3, float h3,
                                 int season) {
  const SeasonModuli m = season_moduli(b, surface_modulus_72f(ctx, e1), e2, e3, season);
  if (!m.analysable()) return {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN()};
  SeasonalState one;
  run_engine(ctx, ctx.section.h, ctx.section.b, h3, &m.e1, &m.e2, &m.e3, ctx.test.loadf, b.dd.DMEAS,
             one.resp.data(), &SEASTAB[season - 1], 1, 2);
  return limits_in_season(one, 1);
}

double allowable_load(double fatigue_damage, double rutting_damage, double deflection_limit,
                      double strength_ratio) {
  const double factor = double(5.6f);
  double allow = std::pow(fatigue_damage, -0.25) * factor;
  const double rutting = std::pow(rutting_damage, -0.25) * factor;
  if (allow > rutting) allow = rutting;
  if (allow > deflection_limit) allow = deflection_limit;
  if (9.0 * strength_ratio < allow) allow = 9.0 * strength_ratio;
  return allow;
}

SeasonValues season_allowable(const SeasonalState& s, float reps) {
  SeasonValues out;
  out.fill(std::numeric_limits<double>::quiet_NaN());
  if (!std::isfinite(s.allow)) return out;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const double deflection = double(11.5f / s.resp[i * 10 + 8] * 10.0f);
    out[i] = allowable_load(double(reps) / double(s.nf[i]), double(reps) / double(s.nd[i]), deflection,
                            double(s.resp[i * 10 + 4]));
  }
  return out;
}

RatingContext::RatingContext() = default;
RatingContext::~RatingContext() = default;

void begin_call(Blocks& b, const SectionValues& factors_from) {
  for (int s = 1; s <= 6; ++s) b.com3.WEIGHT[s - 1] = 1.0f;
  b.com3.KXORD = 3;
  b.com3.KYORD = 3;
  b.com3.NX = 1;
  b.com3.NY = 1;
  for (int i = 1; i <= kSeasons; ++i) {
    b.dam.SBASEF[i - 1] = float(factors_from.base_factor[std::size_t(i - 1)]);
    b.dam.SSUBF[i - 1] = float(factors_from.subgrade_factor[std::size_t(i - 1)]);
  }
}

// A parsed table of the caller's, or the file through the cache. A file is
// reused only when its stamp is unchanged, and re-read otherwise; what the
// reading leaves in the blocks (IDEPTH past the last depth) is left by a
// reuse too. A table that cannot be read whole ends the call in the reader.
DeflectionTables& table_of_call(RatingContext& ctx, Blocks& blocks) {
  if (ctx.tables != nullptr) return *ctx.tables;
  TableCache& cache = ctx.table_cache;
  const std::filesystem::path file = ctx.table.empty() ? platform::table_path() : ctx.table;
  const std::optional<platform::FileStamp> before = platform::file_stamp(file);
  if (cache.valid && before && cache.file == file && before->same_version(cache.stamp)) {
    blocks.depth.IDEPTH = int(DEPGRID.size()) + 1;
    return cache.tables;
  }
  cache.valid = false;
  ++cache.reads;
  const TableRead read = read_deflection_table(file, cache.tables, blocks);
  const std::optional<platform::FileStamp> after = platform::file_stamp(file);
  if (read == TableRead::Complete && before && after && before->settled && after->same_version(*before)) {
    cache.valid = true;
    cache.file = file;
    cache.stamp = *after;
  }
  return cache.tables;
}

// The section's surfaces are fitted first; the third-layer thickness goes
// back to 0 after its last test.
void rate_section(RatingContext& ctx, Blocks& blocks, DeflectionTables& tables,
                  const SectionValues& section, std::span<const TestValues> tests,
                  SearchCarry& carry, const TestSink& sink, TestNumbering numbering) {
  section_setup(ctx, blocks, section);
  fit_section_surfaces(tables, ctx.section.h, ctx.section.b, blocks, ctx.surface_cache);
  for (std::size_t k = 0; k < tests.size(); ++k) {
    ctx.search.ibest = carry.ibest;
    ctx.search.jbest = carry.jbest;
    const TestRating r = rate_test(ctx, blocks, tests[k], numbering.section, numbering.first_test + int(k));
    carry = {ctx.search.ibest, ctx.search.jbest};
    sink(k, r);
  }
  ctx.section.h3 = 0.0f;
}

std::vector<TestRating> rate_section(RatingContext& ctx, Blocks& blocks, DeflectionTables& tables,
                                     const SectionValues& section,
                                     std::span<const TestValues> tests, SearchCarry& carry,
                                     TestNumbering numbering) {
  std::vector<TestRating> out(tests.size());
  rate_section(ctx, blocks, tables, section, tests, carry,
               [&out](std::size_t k, const TestRating& r) { out[k] = r; }, numbering);
  return out;
}

}  // namespace zalk::rating
