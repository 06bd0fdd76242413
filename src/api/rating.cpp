// zalk::Rater: the rating core on the rater's own context, blocks and
// parsed table, fed through host-layout arrays of its own, so that a rating
// here is the legacy entry's rating of the same values, bit for bit.
#include <algorithm>
#include <cmath>
#include <istream>
#include <iterator>
#include <string>

#include "engine/driver.h"
#include "engine/quorvan.h"
#include "io/platform.h"
#include "rating/context.h"
#include "rating/defltable.h"
#include "rating/fit.h"
#include "api/checks.h"
#include "api/guard.h"
#include "zalk/rating.hpp"

namespace zalk {

namespace {

constexpr int kSections = rating::kMaxSections;
constexpr int kTests = rating::kMaxTests;
constexpr float kNoFitYet = 9999.0f;  // the core's fit error before the first depth

}  // namespace

struct Rater::Impl {
  rating::RatingContext ctx;
  rating::OwnedBlocks blocks;
  rating::DeflectionTables tables;
  bool loaded = false;
  // The legacy entry's arrays: FWD(20, 2000, 10), RESULT(20, 2000, 6), SECT(20, 23).
  std::vector<double> fwd = std::vector<double>(std::size_t(kSections) * kTests * 10, 0.0);
  std::vector<double> result = std::vector<double>(std::size_t(kSections) * kTests * rating::kResults, 0.0);
  std::vector<double> sect = std::vector<double>(std::size_t(kSections) * rating::kSectColumns, 0.0);
  std::vector<float> fit_errors;
  std::vector<Seasonal> seasons;  // season_allowable of each test of the call
  // The fit method's work storage, made at its first use.
  std::unique_ptr<rating::FitWorkspace> fit;
  std::unique_ptr<engine::EngineWorkspace> basin_engine;  // design residuals

  double& fwd_at(int p, int j, int k) {
    return fwd[(std::size_t(k - 1) * kTests + std::size_t(j - 1)) * kSections + std::size_t(p - 1)];
  }
  double result_at(int p, int j, int k) const {
    return result[(std::size_t(k - 1) * kTests + std::size_t(j - 1)) * kSections + std::size_t(p - 1)];
  }
  double& sect_at(int p, int c) { return sect[std::size_t(c - 1) * kSections + std::size_t(p - 1)]; }

  // Every call starts from the state of a fresh context, so that results do
  // not depend on what the rater rated before. The engine's storage stays.
  void reset_state() {
    ctx.search = {};
    ctx.section = {};
    ctx.test = {};
    ctx.season = {};
    ctx.e1out.fill(0.0f);
    ctx.e2out.fill(0.0f);
    ctx.e3out.fill(0.0f);
    std::vector<double> res = std::move(ctx.overlay.res);
    ctx.overlay = {};
    ctx.overlay.res = std::move(res);
    ctx.tables = &tables;
    ctx.test_rated = nullptr;
  }
};

namespace {

using detail::ApiMessage;
using detail::number_text;
using detail::refuse;

bool positive(double v) { return std::isfinite(v) && v > 0.0; }
bool non_negative(double v) { return std::isfinite(v) && v >= 0.0; }

constexpr const char* kPositive = "must be a finite number above 0";
constexpr const char* kNonNegative = "must be a finite number, 0 or above";
constexpr const char* kFinite = "must be a finite number";

// A value check of a section, test or item: what, its value and the rule.
struct Check {
  const char* what;
  double value;
  bool ok;
  const char* rule;
};

void require(const Check& c, ApiMessage m, int index = 0) {
  if (c.ok) return;
  if (index > 0) toolkit::E1STI(1, index);
  toolkit::E1STL(1, c.what);
  toolkit::E1STL(2, number_text(c.value));
  toolkit::E1STL(3, c.rule);
  refuse(m);
}

void check_seasonal(const Seasonal& v, const char* const names[5], bool (*test)(double),
                    const char* rule, ApiMessage m, int index) {
  for (int i = 0; i < 5; ++i) require({names[i], v[std::size_t(i)], test(v[std::size_t(i)]), rule}, m, index);
}

void check_section(const Section& s, ApiMessage m = ApiMessage::section_value, int index = 0) {
  static const char* const days[5] = {"days of fall", "days of winter", "days of spring 1",
                                      "days of spring 2", "days of summer"};
  static const char* const air[5] = {"air temperature of fall", "air temperature of winter",
                                     "air temperature of spring 1", "air temperature of spring 2",
                                     "air temperature of summer"};
  static const char* const base[5] = {"base factor of fall", "base factor of winter",
                                      "base factor of spring 1", "base factor of spring 2",
                                      "base factor of summer"};
  static const char* const sub[5] = {"subgrade factor of fall", "subgrade factor of winter",
                                     "subgrade factor of spring 1", "subgrade factor of spring 2",
                                     "subgrade factor of summer"};
  check_seasonal(s.days, days, non_negative, kNonNegative, m, index);
  check_seasonal(s.air_temperature_f, air, [](double v) { return bool(std::isfinite(v)); }, kFinite, m, index);
  require({"surface thickness", s.surface_thickness_in, positive(s.surface_thickness_in), kPositive}, m, index);
  require({"base thickness", s.base_thickness_in, positive(s.base_thickness_in), kPositive}, m, index);
  require({"previous day's air temperature", s.previous_day_air_f, std::isfinite(s.previous_day_air_f), kFinite},
          m, index);
  check_seasonal(s.base_factor, base, positive, kPositive, m, index);
  check_seasonal(s.subgrade_factor, sub, positive, kPositive, m, index);
}

void check_sensors(const DeflectionTest& t, int j) {
  const std::size_t n = t.sensor_offsets_in.size();
  if (n != t.deflections_mils.size()) {
    toolkit::E1STI(1, j);
    toolkit::E1STI(2, int(std::min<std::size_t>(n, 1'000'000)));
    toolkit::E1STI(3, int(std::min<std::size_t>(t.deflections_mils.size(), 1'000'000)));
    refuse(ApiMessage::sensor_count);
  }
  for (std::size_t s = 1; s < n; ++s) {
    if (t.sensor_offsets_in[s] > t.sensor_offsets_in[s - 1]) continue;
    toolkit::E1STI(1, j);
    toolkit::E1STI(2, int(s + 1));
    toolkit::E1STI(3, int(s));
    toolkit::E1STL(1, number_text(t.sensor_offsets_in[s]));
    toolkit::E1STL(2, number_text(t.sensor_offsets_in[s - 1]));
    refuse(ApiMessage::sensor_order);
  }
}

void check_test(const DeflectionTest& t, int j, ApiMessage m = ApiMessage::test_value,
                bool any_deflection = false) {
  require({"hour", t.hour, std::isfinite(t.hour) && t.hour >= 0.0 && t.hour <= 24.0,
           "must lie between 0 and 24"}, m, j);
  require({"load", t.load_lb, positive(t.load_lb), kPositive}, m, j);
  check_sensors(t, j);
  if (!any_deflection)
    for (double d : t.deflections_mils) require({"deflection", d, non_negative(d), kNonNegative}, m, j);
  require({"repetitions per year", t.reps_per_year, positive(t.reps_per_year), kPositive}, m, j);
  require({"surface temperature", t.surface_temperature_f, std::isfinite(t.surface_temperature_f), kFinite}, m, j);
}

// The design method rates the six sensors of the table, at their offsets.
void check_design_sensors(const DeflectionTest& t, int j) {
  for (std::size_t s = 0; s < t.sensor_offsets_in.size() || s < kLegacySensorOffsets.size(); ++s) {
    const bool present = s < t.sensor_offsets_in.size();
    if (present && s < kLegacySensorOffsets.size() && t.sensor_offsets_in[s] == kLegacySensorOffsets[s]) continue;
    toolkit::E1STI(1, j);
    toolkit::E1STI(2, int(s + 1));
    toolkit::E1STL(1, present ? number_text(t.sensor_offsets_in[s]) : "none");
    refuse(ApiMessage::sensor_layout);
  }
}

void put_section(Rater::Impl& r, int p, const Section& s, const Section& factors_from) {
  for (int i = 1; i <= 5; ++i) {
    r.sect_at(p, i) = s.days[std::size_t(i - 1)];
    r.sect_at(p, 5 + i) = s.air_temperature_f[std::size_t(i - 1)];
    // The core takes the seasonal factors of row 1 for every section.
    r.sect_at(1, 13 + i) = factors_from.base_factor[std::size_t(i - 1)];
    r.sect_at(1, 18 + i) = factors_from.subgrade_factor[std::size_t(i - 1)];
  }
  r.sect_at(p, 11) = s.surface_thickness_in;
  r.sect_at(p, 12) = s.base_thickness_in;
  r.sect_at(p, 13) = s.previous_day_air_f;
}

void put_test(Rater::Impl& r, int p, int j, const DeflectionTest& t) {
  r.fwd_at(p, j, 1) = t.hour;
  r.fwd_at(p, j, 2) = t.load_lb;
  // The design's six sensors; a fit of another layout reads the test itself.
  const bool legacy = t.deflections_mils.size() == 6;
  for (int s = 1; s <= 6; ++s) r.fwd_at(p, j, 2 + s) = legacy ? t.deflections_mils[std::size_t(s - 1)] : 0.0;
  r.fwd_at(p, j, 9) = t.reps_per_year;
  r.fwd_at(p, j, 10) = t.surface_temperature_f;
}

RatingResult result_of(const Rater::Impl& r, int j) {
  RatingResult out;
  out.allowable_load = r.result_at(1, j, 1);
  out.e_surface = r.result_at(1, j, 2);
  out.e_surface_72f = r.result_at(1, j, 3);
  out.e_base = r.result_at(1, j, 4);
  out.e_subgrade = r.result_at(1, j, 5);
  out.depth_in = r.result_at(1, j, 6);
  const float best = r.fit_errors[std::size_t(j - 1)];
  out.fitted = best < kNoFitYet;
  out.fit_error = out.fitted ? double(best) : std::nan("");
  // The design's error is a sum over its six sensors.
  out.fit_rms_pct = out.fitted ? 100.0 * std::sqrt(double(best) / 6.0) : std::nan("");
  out.rated = std::isfinite(out.allowable_load);
  if (std::size_t(j) <= r.seasons.size()) out.season_allowable = r.seasons[std::size_t(j - 1)];
  if (!out.rated) out.season_allowable.fill(std::nan(""));
  return out;
}

// Per season the limits the allowable load takes the least of, with the
// season standing for the whole year (as rating/driver.cpp combines them).
Seasonal season_allowable(const rating::SeasonalState& s, float reps) {
  Seasonal out;
  out.fill(std::nan(""));
  if (!std::isfinite(s.allow)) return out;
  const double factor = double(5.6f);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const double fatigue = std::pow(double(reps) / double(s.nf[i]), -0.25) * factor;
    const double rutting = std::pow(double(reps) / double(s.nd[i]), -0.25) * factor;
    const double deflection = double(11.5f / s.resp[i * 10 + 8] * 10.0f);
    const double strength = 9.0 * double(s.resp[i * 10 + 4]);
    out[i] = std::min({fatigue, rutting, deflection, strength});
  }
  return out;
}

bool rises_somewhere(const std::vector<double>& d) {
  for (std::size_t s = 1; s < d.size(); ++s)
    if (d[s] > d[s - 1]) return true;
  return false;
}

// The engine's basin of the rated structure at the test's sensors.
void add_residuals(Rater::Impl& r, const Section& section, const DeflectionTest& t, RatingResult& out) {
  if (!out.fitted || !std::isfinite(out.e_surface)) return;
  if (!r.basin_engine) r.basin_engine = engine::make_engine_workspace();
  const double h1 = std::min(section.surface_thickness_in, 12.0);
  const std::vector<double> w =
      rating::engine_basin(*r.basin_engine, h1, section.base_thickness_in, out.depth_in,
                           {out.e_surface, out.e_base, out.e_subgrade}, t.load_lb, t.sensor_offsets_in);
  for (std::size_t s = 0; s < w.size(); ++s) {
    out.computed_mils.push_back(1000.0 * w[s]);
    out.residuals.push_back(1000.0 * w[s] / t.deflections_mils[s] - 1.0);
  }
}

rating::FitOptions fit_options(const FitSettings& f) {
  rating::FitOptions o;
  o.depth_mode = f.depth == DepthSearch::continuous ? rating::DepthMode::Continuous
                 : f.depth == DepthSearch::global   ? rating::DepthMode::Global
                                                    : rating::DepthMode::Candidates;
  o.noise = {f.noise_mils / 1000.0, f.noise_relative};
  o.min_depth = f.min_depth_in;
  o.refined_depths = f.refined_depths;
  o.bounds.lower = f.lower;
  o.bounds.upper = f.upper;
  return o;
}

void take_fit(const rating::FitResult& f, const DeflectionTest& t, RatingResult& out) {
  out.fit_rms_pct = f.fit_error;
  out.fit_error = f.fit_error;
  out.fitted = !(f.flags & rating::kFitNotFitted);
  out.flags |= f.flags;  // the fit's flag bits are the public ones
  out.message = f.message;
  out.residuals = f.residuals;
  for (std::size_t s = 0; s < f.residuals.size(); ++s)
    out.computed_mils.push_back(t.deflections_mils[s] * (1.0 + f.residuals[s]));
  out.relative_std_error = f.relative_std_error;
  out.engine_calls = f.engine_calls + f.grid_engine_calls;
  out.e_surface_se_pct = 100.0 * f.relative_std_error[0];
  out.e_base_se_pct = 100.0 * f.relative_std_error[1];
  out.e_subgrade_se_pct = 100.0 * f.relative_std_error[2];
  if (std::isinf(f.depth)) out.depth_in = f.depth;
}

// The settings only the fit reads: its noise model and the global
// search's shallowest depth.
void check_fit_noise(const FitSettings& f) {
  require({"noise_mils", f.noise_mils, non_negative(f.noise_mils), kNonNegative}, ApiMessage::fit_setting);
  require({"noise_relative", f.noise_relative, non_negative(f.noise_relative), kNonNegative},
          ApiMessage::fit_setting);
  require({"noise_relative", f.noise_relative, f.noise_mils > 0 || f.noise_relative > 0,
           "must be above 0 when noise_mils is 0 (a noise model of zero gives no standard errors)"},
          ApiMessage::fit_setting);
  require({"min_depth_in", f.min_depth_in, positive(f.min_depth_in) && f.min_depth_in < 240.0,
           "must lie above 0 and below the deepest candidate, 240 in"},
          ApiMessage::fit_setting);
}

// A basin beyond any pavement's magnitudes is flagged here, so that one such
// test does not make the engine fail the whole call.
rating::FitResult fit_in_range(rating::FitWorkspace& ws, const rating::DeflectionTables& tables,
                               const rating::FitTest& ft, const DeflectionTest& t, const rating::FitOptions& options) {
  const std::string why = detail::basin_outside_fit_range(t);
  if (why.empty()) return rating::fit_test(ws, tables, ft, options);
  rating::FitResult f;
  const double nan = std::nan("");
  f.flags = rating::kFitNotFitted;
  f.moduli = {nan, nan, nan};
  f.depth = nan;
  f.fit_error = nan;
  f.message = "Test '" + ft.name + "' cannot be fitted: " + why + ".";
  return f;
}

// The fit takes the place of the table search in the driver; the seasonal
// rating of the fitted moduli and depth is the design's own.
void rate_fit(Rater::Impl& r, const Section& section, const std::vector<DeflectionTest>& tests,
              const FitSettings& settings, std::vector<RatingResult>& out) {
  const int n = int(tests.size());
  r.reset_state();
  put_section(r, 1, section, section);
  for (int j = 1; j <= n; ++j) put_test(r, 1, j, tests[std::size_t(j - 1)]);
  r.fit_errors.assign(std::size_t(n), 0.0f);
  r.seasons.assign(std::size_t(n), Seasonal{});
  if (!r.fit) r.fit = std::make_unique<rating::FitWorkspace>();
  // The global search's grid and warm starts serve this call's tests only:
  // a call's results depend on its section and tests alone.
  r.fit->grid = rating::BasinGrid();
  r.fit->warm.clear();
  std::vector<rating::FitResult> fits(static_cast<std::size_t>(n));
  std::vector<rating::AllowableBand> bands(static_cast<std::size_t>(n));
  r.ctx.test_rated = [&r, &fits, &bands](int, int j) {
    r.seasons[std::size_t(j - 1)] = season_allowable(r.ctx.season, r.ctx.test.reps);
    bands[std::size_t(j - 1)] = rating::allowable_band(r.ctx, r.blocks.view, fits[std::size_t(j - 1)]);
  };
  const rating::FitOptions options = fit_options(settings);
  std::size_t next = 0;
  r.ctx.back_calculation = [&](rating::RatingContext& c, rating::Blocks&) {
    const DeflectionTest& t = tests[next];
    rating::FitTest ft;
    ft.name = std::to_string(next + 1);
    ft.h1 = c.section.h;
    ft.h2 = c.section.b;
    ft.load = t.load_lb;
    ft.offsets = t.sensor_offsets_in;
    for (double d : t.deflections_mils) ft.deflections.push_back(d / 1000.0);
    rating::FitResult& f = fits[next++] = fit_in_range(*r.fit, r.tables, ft, t, options);
    return rating::RatingContext::BackCalculated{float(f.moduli[0]), float(f.moduli[1]),
                                                 float(f.moduli[2]), float(rating::rating_depth(f.depth))};
  };
  std::array<int, kSections> ntest{};
  ntest[0] = n;
  const int nsec = 1;
  try {
    rating::rate_sections(r.ctx, r.blocks.view, r.fwd.data(), r.result.data(), r.sect.data(), ntest.data(), &nsec);
  } catch (...) {
    r.ctx.back_calculation = nullptr;
    r.ctx.test_rated = nullptr;
    throw;
  }
  r.ctx.back_calculation = nullptr;
  r.ctx.test_rated = nullptr;
  out.reserve(tests.size());
  for (int j = 1; j <= n; ++j) {
    RatingResult res = result_of(r, j);
    take_fit(fits[std::size_t(j - 1)], tests[std::size_t(j - 1)], res);
    if (res.rated) {
      res.allowable_load_low = bands[std::size_t(j - 1)].low;
      res.allowable_load_high = bands[std::size_t(j - 1)].high;
    }
    out.push_back(std::move(res));
  }
}

void rate_design(Rater::Impl& r, const Section& section, const std::vector<DeflectionTest>& tests,
                 bool residuals, std::vector<RatingResult>& out) {
  const int n = int(tests.size());
  for (int j = 1; j <= n; ++j) check_design_sensors(tests[std::size_t(j - 1)], j);
  r.reset_state();
  put_section(r, 1, section, section);
  for (int j = 1; j <= n; ++j) put_test(r, 1, j, tests[std::size_t(j - 1)]);
  r.fit_errors.assign(std::size_t(n), kNoFitYet);
  r.seasons.assign(std::size_t(n), Seasonal{});
  r.ctx.test_rated = [&r](int, int j) {
    r.fit_errors[std::size_t(j - 1)] = r.ctx.test.best;
    r.seasons[std::size_t(j - 1)] = season_allowable(r.ctx.season, r.ctx.test.reps);
  };
  std::array<int, kSections> ntest{};
  ntest[0] = n;
  const int nsec = 1;
  rating::rate_sections(r.ctx, r.blocks.view, r.fwd.data(), r.result.data(), r.sect.data(), ntest.data(), &nsec);
  r.ctx.test_rated = nullptr;
  out.reserve(tests.size());
  for (int j = 1; j <= n; ++j) {
    RatingResult res = result_of(r, j);
    if (residuals) add_residuals(r, section, tests[std::size_t(j - 1)], res);
    out.push_back(std::move(res));
  }
}

void require_table(const Rater::Impl& r) {
  if (!r.loaded) refuse(ApiMessage::no_table);
}

// The reader refuses any table that is not complete, so a table read is kept.
void keep_if_complete(Rater::Impl& r, rating::TableRead, const std::string&) { r.loaded = true; }

}  // namespace

Rater::Rater() : impl_(std::make_unique<Impl>()) {}
Rater::~Rater() = default;
Rater::Rater(Rater&&) noexcept = default;
Rater& Rater::operator=(Rater&&) noexcept = default;

bool Rater::has_table() const { return impl_ && impl_->loaded; }

// A rater that was moved from starts again without a table.
Rater::Impl& Rater::impl() {
  if (!impl_) impl_ = std::make_unique<Impl>();
  return *impl_;
}

Status Rater::load_table(const std::filesystem::path& file) {
  Impl& r = impl();
  r.loaded = false;
  return detail::run_guarded("zalk::Rater::load_table", [&] {
    keep_if_complete(r, rating::read_deflection_table(file, r.tables, r.blocks.view),
                     platform::display_name(file));
  });
}

Status Rater::load_table(std::istream& in) {
  Impl& r = impl();
  r.loaded = false;
  return detail::run_guarded("zalk::Rater::load_table", [&] {
    std::string text(std::istreambuf_iterator<char>(in), {});
    if (in.bad()) refuse(ApiMessage::stream_unreadable);
    const std::string name = "<stream>";
    keep_if_complete(r, rating::read_deflection_table_text(text, name, r.tables, r.blocks.view), name);
  });
}

static void mark_rising(const std::vector<DeflectionTest>& tests, std::vector<RatingResult>& out) {
  for (std::size_t j = 0; j < out.size(); ++j)
    if (rises_somewhere(tests[j].deflections_mils)) out[j].flags |= flag_rising_basin;
}

SectionRating Rater::rate(const Section& section, const std::vector<DeflectionTest>& tests,
                          const RatingOptions& options) {
  SectionRating out;
  Impl& r = impl();
  out.status = detail::run_guarded("zalk::Rater::rate", [&] {
    require_table(r);
    if (tests.empty() || tests.size() > std::size_t(kMaxTestsPerSection)) {
      toolkit::E1STI(1, int(std::min<std::size_t>(tests.size(), 1'000'000)));
      refuse(ApiMessage::test_count);
    }
    check_section(section);
    detail::check_section_ranges(section, ApiMessage::section_value, 0);
    // The fit flags a basin it cannot use and rates the other tests.
    const bool fit = options.method == Method::fit;
    for (std::size_t j = 0; j < tests.size(); ++j) {
      check_test(tests[j], int(j + 1), ApiMessage::test_value, fit);
      detail::check_test_ranges(tests[j], int(j + 1), ApiMessage::test_value, fit);
    }
    if (fit) {
      detail::check_fit_settings(options.fit);
      check_fit_noise(options.fit);
    }
    switch (options.method) {
      case Method::design:
        rate_design(r, section, tests, options.residuals, out.tests);
        mark_rising(tests, out.tests);
        return;
      case Method::fit:
        rate_fit(r, section, tests, options.fit, out.tests);
        return;
    }
    toolkit::E1STI(1, int(options.method));
    refuse(ApiMessage::method);
  });
  if (!out.status) out.tests.clear();
  return out;
}

SectionRating Rater::back_calculate(const Section& section, const DeflectionTest& test,
                                   const RatingOptions& options) {
  return rate(section, {test}, options);
}

OverlayResult Rater::overlay(const std::vector<OverlayItem>& items, double dh_in) {
  OverlayResult out;
  Impl& r = impl();
  out.status = detail::run_guarded("zalk::Rater::overlay", [&] {
    require_table(r);
    const int n = int(std::min<std::size_t>(items.size(), 1'000'000));
    if (n < 1 || n > kMaxOverlayItems) {
      toolkit::E1STI(1, n);
      refuse(ApiMessage::item_count);
    }
    if (!positive(dh_in)) {
      toolkit::E1STL(1, number_text(dh_in));
      refuse(ApiMessage::increment);
    }
    detail::check_increment(dh_in);
    std::array<double, kSections> h3{}, e1{}, e2{}, e3{};
    for (int i = 1; i <= n; ++i) {
      const OverlayItem& item = items[std::size_t(i - 1)];
      check_section(item.section, ApiMessage::item_value, i);
      check_test(item.test, i, ApiMessage::item_value);
      detail::check_section_ranges(item.section, ApiMessage::item_value, i);
      detail::check_test_ranges(item.test, i, ApiMessage::item_value, false);
      check_design_sensors(item.test, i);
      require({"depth", item.depth_in, positive(item.depth_in), kPositive}, ApiMessage::item_value, i);
      require({"surface modulus", item.e_surface, positive(item.e_surface), kPositive}, ApiMessage::item_value, i);
      require({"base modulus", item.e_base, positive(item.e_base), kPositive}, ApiMessage::item_value, i);
      require({"subgrade modulus", item.e_subgrade, positive(item.e_subgrade), kPositive}, ApiMessage::item_value, i);
      h3[std::size_t(i - 1)] = item.depth_in;
      e1[std::size_t(i - 1)] = item.e_surface;
      e2[std::size_t(i - 1)] = item.e_base;
      e3[std::size_t(i - 1)] = item.e_subgrade;
    }
    r.reset_state();
    for (int i = 1; i <= n; ++i) {
      put_section(r, i, items[std::size_t(i - 1)].section, items[0].section);
      put_test(r, i, 1, items[std::size_t(i - 1)].test);
    }
    std::array<int, kSections> npass{};
    std::vector<double> rpass(std::size_t(kSections) * rating::kMaxPasses, 0.0);
    std::vector<double> tpass(std::size_t(kSections) * rating::kMaxPasses, 0.0);
    rating::overlay_iteration(r.ctx, r.blocks.view, h3.data(), e1.data(), e2.data(), e3.data(), r.fwd.data(),
                              r.sect.data(), &n, nullptr, &dh_in, npass.data(), rpass.data(), tpass.data());
    out.items.resize(std::size_t(n));
    for (int i = 1; i <= n; ++i) {
      for (int k = 1; k <= npass[std::size_t(i - 1)]; ++k) {
        const std::size_t at = std::size_t(k - 1) * kSections + std::size_t(i - 1);
        out.items[std::size_t(i - 1)].push_back({tpass[at], rpass[at]});
      }
    }
  });
  if (!out.status) out.items.clear();
  return out;
}

std::string flag_names(unsigned flags) {
  static const char* const names[] = {"not_fitted", "at_bound", "not_converged", "ill_conditioned",
                                      "rising_basin", "no_table_start", "interpolated", "implausible",
                                      "misfit_above_noise", "methods_disagree"};
  std::string out;
  for (unsigned k = 0; k < std::size(names); ++k) {
    if (!(flags & (1u << k))) continue;
    if (!out.empty()) out += '|';
    out += names[k];
  }
  return out;
}

}  // namespace zalk
