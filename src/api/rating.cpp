// zalk::Rater: the rating core on the rater's own context, blocks and
// parsed table, given the section and tests as values. The core is the one
// the legacy entry stands on, so a rating here is the legacy entry's rating
// of the same values, bit for bit.
#include <algorithm>
#include <cmath>
#include <functional>
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
#include "rating/overlay.h"
#include "rating/section_rating.h"
#include "rating/sensor_layout.h"
#include "api/guard.h"
#include "zalk/rating.hpp"

namespace zalk {

struct Rater::Impl {
  rating::RatingContext ctx;
  rating::CompactBlocks blocks;
  rating::DeflectionTables tables;
  bool loaded = false;
  // The fit method's work storage, made at its first use.
  std::unique_ptr<rating::FitWorkspace> fit;
  std::unique_ptr<engine::EngineWorkspace> basin_engine;  // design residuals

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
    ctx.overlay = {};
    ctx.tables = &tables;
  }
};

namespace {

using detail::ApiMessage;
using detail::number_text;
using detail::refuse;

// Tests are numbered from 1 in messages; past what an int holds the number
// stays at its top.
int test_number(std::size_t index) { return int(std::min<std::size_t>(index + 1, 2'000'000'000)); }

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

rating::SectionValues section_values(const Section& s) {
  rating::SectionValues v;
  v.days = s.days;
  v.air_f = s.air_temperature_f;
  v.surface_in = s.surface_thickness_in;
  v.base_in = s.base_thickness_in;
  v.previous_day_air_f = s.previous_day_air_f;
  v.base_factor = s.base_factor;
  v.subgrade_factor = s.subgrade_factor;
  return v;
}

// The design's six sensors; a fit of another layout reads the test itself.
rating::TestValues test_values(const DeflectionTest& t) {
  rating::TestValues v;
  v.hour = t.hour;
  v.load_lb = t.load_lb;
  if (t.deflections_mils.size() == v.deflections_mils.size())
    std::copy(t.deflections_mils.begin(), t.deflections_mils.end(), v.deflections_mils.begin());
  v.reps_per_year = t.reps_per_year;
  v.surface_f = t.surface_temperature_f;
  return v;
}

std::vector<rating::TestValues> test_values(const std::vector<DeflectionTest>& tests) {
  std::vector<rating::TestValues> out;
  out.reserve(tests.size());
  for (const DeflectionTest& t : tests) out.push_back(test_values(t));
  return out;
}

RatingResult result_of(const rating::TestRating& r) {
  RatingResult out;
  out.allowable_load = r.allowable_load;
  out.e_surface = r.e_surface;
  out.e_surface_72f = r.e_surface_72f;
  out.e_base = r.e_base;
  out.e_subgrade = r.e_subgrade;
  out.depth_in = r.depth_in;
  out.fitted = r.fit_error < rating::TestRating::kNoFit;
  out.fit_error = out.fitted ? double(r.fit_error) : std::nan("");
  // The design's error is a sum over its six sensors.
  out.fit_rms_pct = out.fitted ? 100.0 * std::sqrt(double(r.fit_error) / 6.0) : std::nan("");
  out.rated = std::isfinite(out.allowable_load);
  out.season_allowable = r.season_allowable;
  if (!out.rated) out.season_allowable.fill(std::nan(""));
  return out;
}

// One section rated by the core from a fresh state.
// `after_test` runs right after each test is rated, while the context still
// holds that test's values.
std::vector<rating::TestRating> rate_core(Rater::Impl& r, const Section& section,
                                          const std::vector<DeflectionTest>& tests,
                                          const std::function<void(std::size_t)>& after_test = {}) {
  r.reset_state();
  const rating::SectionValues v = section_values(section);
  rating::begin_call(r.blocks.view, v);
  rating::SearchCarry carry;
  std::vector<rating::TestRating> out(tests.size());
  const rating::TestSink sink = [&](std::size_t k, const rating::TestRating& t) {
    out[k] = t;
    if (after_test) after_test(k);
  };
  rating::rate_section(r.ctx, r.blocks.view, r.tables, v, test_values(tests), carry, sink);
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

// Turns on the engine's on-demand column solving for the fit's ratings and
// off again however they end: the same responses from fewer solves. The
// design method's runs keep building the whole tables, as they always have.
class ColumnsSolvedOnDemand {
 public:
  explicit ColumnsSolvedOnDemand(std::unique_ptr<engine::EngineWorkspace>& ws) {
    if (!ws) ws = engine::make_engine_workspace();
    ws_ = ws.get();
    ws_->columns_on_demand = true;
  }
  ~ColumnsSolvedOnDemand() { ws_->columns_on_demand = false; }
  ColumnsSolvedOnDemand(const ColumnsSolvedOnDemand&) = delete;
  ColumnsSolvedOnDemand& operator=(const ColumnsSolvedOnDemand&) = delete;

 private:
  engine::EngineWorkspace* ws_;
};

// The fit takes the place of the table search in the core; the seasonal
// rating of the fitted moduli and depth is the design's own.
void rate_fit(Rater::Impl& r, const Section& section, const std::vector<DeflectionTest>& tests,
              const FitSettings& settings, std::vector<RatingResult>& out) {
  if (!r.fit) r.fit = std::make_unique<rating::FitWorkspace>();
  // The global search's warm starts serve this call's tests only: a call's
  // results depend on its section and tests alone. Its grids of basins are
  // kept for later sections of the same thicknesses and sensors, whose
  // results they leave as they would be (a node is the same engine run),
  // only cheaper.
  r.fit->warm.clear();
  std::vector<rating::FitResult> fits(tests.size());
  std::vector<rating::AllowableBand> bands(tests.size());
  rating::FitOptions options = fit_options(settings);
  options.section_tests = int(tests.size());
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
  std::vector<rating::TestRating> rated;
  const ColumnsSolvedOnDemand on_demand(r.ctx.engine);
  try {
    rated = rate_core(r, section, tests, [&](std::size_t j) {
      bands[j] = rating::allowable_band(r.ctx, r.blocks.view, fits[j]);
    });
  } catch (...) {
    r.ctx.back_calculation = nullptr;
    throw;
  }
  r.ctx.back_calculation = nullptr;
  out.reserve(tests.size());
  for (std::size_t j = 0; j < tests.size(); ++j) {
    RatingResult res = result_of(rated[j]);
    take_fit(fits[j], tests[j], res);
    if (res.rated) {
      res.allowable_load_low = bands[j].low;
      res.allowable_load_high = bands[j].high;
    }
    out.push_back(std::move(res));
  }
}

void rate_design(Rater::Impl& r, const Section& section, const std::vector<DeflectionTest>& tests,
                 bool residuals, std::vector<RatingResult>& out) {
  for (std::size_t j = 0; j < tests.size(); ++j) check_design_sensors(tests[j], test_number(j));
  const std::vector<rating::TestRating> rated = rate_core(r, section, tests);
  out.reserve(tests.size());
  for (std::size_t j = 0; j < tests.size(); ++j) {
    RatingResult res = result_of(rated[j]);
    if (residuals) add_residuals(r, section, tests[j], res);
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
    if (tests.empty()) {
      refuse(ApiMessage::test_count);
    }
    check_section(section);
    detail::check_section_ranges(section, ApiMessage::section_value, 0);
    // The fit flags a basin it cannot use and rates the other tests.
    const bool fit = options.method == Method::fit;
    for (std::size_t j = 0; j < tests.size(); ++j) {
      check_test(tests[j], test_number(j), ApiMessage::test_value, fit);
      detail::check_test_ranges(tests[j], test_number(j), ApiMessage::test_value, fit);
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

// Each section starts from a fresh state, as a call of its own would.
std::vector<SectionRating> Rater::rate(const std::vector<SectionTests>& sections, const RatingOptions& options) {
  std::vector<SectionRating> out;
  out.reserve(sections.size());
  for (const SectionTests& s : sections) out.push_back(rate(s.section, s.tests, options));
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
    if (items.empty()) {
      refuse(ApiMessage::item_count);
    }
    if (!positive(dh_in)) {
      toolkit::E1STL(1, number_text(dh_in));
      refuse(ApiMessage::increment);
    }
    detail::check_increment(dh_in);
    std::vector<rating::OverlayItemValues> values;
    values.reserve(items.size());
    for (std::size_t k = 0; k < items.size(); ++k) {
      const OverlayItem& item = items[k];
      const int i = int(std::min<std::size_t>(k + 1, 1'000'000'000));
      check_section(item.section, ApiMessage::item_value, i);
      check_test(item.test, i, ApiMessage::item_value);
      detail::check_section_ranges(item.section, ApiMessage::item_value, i);
      detail::check_test_ranges(item.test, i, ApiMessage::item_value, false);
      check_design_sensors(item.test, i);
      require({"depth", item.depth_in, positive(item.depth_in), kPositive}, ApiMessage::item_value, i);
      require({"surface modulus", item.e_surface, positive(item.e_surface), kPositive}, ApiMessage::item_value, i);
      require({"base modulus", item.e_base, positive(item.e_base), kPositive}, ApiMessage::item_value, i);
      require({"subgrade modulus", item.e_subgrade, positive(item.e_subgrade), kPositive}, ApiMessage::item_value, i);
      rating::SectionValues section = section_values(item.section);
      // As in the legacy entry, the first item's seasonal factors serve every item.
      section.base_factor = items[0].section.base_factor;
      section.subgrade_factor = items[0].section.subgrade_factor;
      values.push_back({section, test_values(item.test), item.depth_in, item.e_surface, item.e_base,
                        item.e_subgrade});
    }
    r.reset_state();
    rating::SearchCarry carry;
    std::vector<std::vector<rating::OverlayPassValues>> passes;
    rating::overlay_passes(r.ctx, r.blocks.view, values, dh_in, carry, passes);
    out.items.resize(items.size());
    for (std::size_t i = 0; i < items.size(); ++i)
      for (const rating::OverlayPassValues& p : passes[i])
        if (p.rated) out.items[i].push_back({p.surface_in, p.allowable_load});
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

Status default_table_path(std::filesystem::path& path) {
  return detail::run_guarded("zalk::default_table_path", [&] { path = platform::table_path(); });
}

TableBasin table_basin(const std::vector<double>& offsets_in, const std::vector<double>& deflections_mils) {
  rating::TableBasin b;
  // The spline's own checks report through the reporter: a refusal there is
  // a basin refused, never the end of the caller's process.
  const Status s = detail::run_guarded("zalk::table_basin", [&] { b = rating::table_basin(offsets_in, deflections_mils); });
  if (!s.ok()) return {false, false, {}, s.error->message};
  return {b.ok, b.interpolated, b.deflections, b.problem};
}

}  // namespace zalk
