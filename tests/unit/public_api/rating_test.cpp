// zalk::Rater against the legacy rating core on the same tests, bit for
// bit: one section at a time, on threads, and the overlay iteration.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "unit/engine/reference_data.h"
#include "unit/fit/basins.h"
#include "rating/context.h"
#include "legacy/host_arrays.h"
#include "legacy/host_rating.h"
#include "zalk/zalk.hpp"

namespace {

using zalk::engine::testing::read_csv;

const std::filesystem::path kTable = std::filesystem::path(ZALK_SOURCE_DIR) / "data" / "backdefl.txt";

struct SampleSection {
  std::string id;
  zalk::Section section;
  std::vector<zalk::DeflectionTest> tests;
};

// Sections and tests in the rating tool's CSV layout; the first row's
// seasonal factors serve every section, as in the tool.
std::vector<SampleSection> read_sample(const std::string& dir) {
  std::vector<SampleSection> out;
  zalk::Seasonal base{}, sub{};
  for (const auto& row : read_csv(dir + "/sections.csv")) {
    SampleSection s;
    s.id = row[0];
    auto v = [&](int c) { return std::stod(row[std::size_t(c)]); };
    for (int i = 0; i < 5; ++i) {
      s.section.days[std::size_t(i)] = v(1 + i);
      s.section.air_temperature_f[std::size_t(i)] = v(6 + i);
      if (out.empty()) {
        base[std::size_t(i)] = v(14 + i);
        sub[std::size_t(i)] = v(19 + i);
      }
    }
    s.section.surface_thickness_in = v(11);
    s.section.base_thickness_in = v(12);
    s.section.previous_day_air_f = v(13);
    s.section.base_factor = base;
    s.section.subgrade_factor = sub;
    out.push_back(s);
  }
  for (const auto& row : read_csv(dir + "/tests.csv")) {
    auto v = [&](int c) { return std::stod(row[std::size_t(c)]); };
    zalk::DeflectionTest t;
    t.hour = v(1);
    t.load_lb = v(2);
    for (int s = 0; s < 6; ++s) t.deflections_mils.push_back(v(3 + s));
    t.reps_per_year = v(9);
    t.surface_temperature_f = v(10);
    for (auto& s : out)
      if (s.id == row[0]) s.tests.push_back(t);
  }
  return out;
}

// The legacy core's RESULT of all sections rated in one call.
struct Legacy {
  std::vector<double> fwd = std::vector<double>(zalk::legacy::kFwdSize, 0.0);
  std::vector<double> result = std::vector<double>(zalk::legacy::kResultSize, 0.0);
  std::vector<double> sect = std::vector<double>(zalk::legacy::kSectSize, 0.0);
  std::array<int, 20> ntest{};
  static std::size_t at(int p, int j, int k) { return zalk::legacy::test_at(p, j, k); }

  void put(int p, const SampleSection& s) {
    using zalk::legacy::row_at;
    for (int i = 1; i <= 5; ++i) {
      sect[row_at(p, i)] = s.section.days[std::size_t(i - 1)];
      sect[row_at(p, 5 + i)] = s.section.air_temperature_f[std::size_t(i - 1)];
      sect[row_at(1, 13 + i)] = s.section.base_factor[std::size_t(i - 1)];
      sect[row_at(1, 18 + i)] = s.section.subgrade_factor[std::size_t(i - 1)];
    }
    sect[row_at(p, 11)] = s.section.surface_thickness_in;
    sect[row_at(p, 12)] = s.section.base_thickness_in;
    sect[row_at(p, 13)] = s.section.previous_day_air_f;
    ntest[std::size_t(p - 1)] = int(s.tests.size());
    for (int j = 1; j <= int(s.tests.size()); ++j) {
      const auto& t = s.tests[std::size_t(j - 1)];
      const double v[10] = {t.hour, t.load_lb, t.deflections_mils[0], t.deflections_mils[1], t.deflections_mils[2],
                            t.deflections_mils[3], t.deflections_mils[4], t.deflections_mils[5], t.reps_per_year,
                            t.surface_temperature_f};
      for (int k = 1; k <= 10; ++k) fwd[at(p, j, k)] = v[k - 1];
    }
  }
};

std::array<double, 6> values_of(const zalk::RatingResult& r) {
  return {r.allowable_load, r.e_surface, r.e_surface_72f, r.e_base, r.e_subgrade, r.depth_in};
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(PublicRating, RaterEqualsTheLegacyCoreBitForBit) {
  const auto sample = read_sample("rating");
  Legacy legacy;
  for (std::size_t p = 0; p < sample.size(); ++p) legacy.put(int(p + 1), sample[p]);
  zalk::rating::RatingContext ctx;
  zalk::rating::OwnedBlocks blocks;
  ctx.table = kTable;
  const int nsec = int(sample.size());
  zalk::legacy::rate_sections(ctx, blocks.view, legacy.fwd.data(), legacy.result.data(), legacy.sect.data(),
                              legacy.ntest.data(), &nsec);

  // The sample's sections in one call, one call each, and split in two at
  // section boundaries: every way gives the legacy core's results.
  std::vector<zalk::SectionTests> all;
  for (const SampleSection& s : sample) all.push_back({s.section, s.tests});
  const struct {
    const char* name;
    std::vector<std::size_t> calls;  // the sections each call begins with
  } splits[] = {{"one call per section", {0, 1}}, {"both in one call", {0}}};
  ASSERT_EQ(all.size(), 2u);
  for (const auto& split : splits) {
    zalk::Rater rater;
    ASSERT_TRUE(rater.load_table(kTable).ok());
    std::vector<zalk::SectionRating> rated;
    for (std::size_t c = 0; c < split.calls.size(); ++c) {
      const std::size_t end = c + 1 < split.calls.size() ? split.calls[c + 1] : all.size();
      const std::vector<zalk::SectionTests> part(all.begin() + std::ptrdiff_t(split.calls[c]),
                                                 all.begin() + std::ptrdiff_t(end));
      ::testing::internal::CaptureStdout();
      for (zalk::SectionRating& r : rater.rate(part)) rated.push_back(std::move(r));
      EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    }
    ASSERT_EQ(rated.size(), sample.size()) << split.name;
    for (std::size_t p = 0; p < sample.size(); ++p) {
      const zalk::SectionRating& r = rated[p];
      ASSERT_TRUE(r.status.ok()) << r.status.error->text;
      ASSERT_EQ(r.tests.size(), sample[p].tests.size());
      for (std::size_t j = 0; j < r.tests.size(); ++j) {
        const auto got = values_of(r.tests[j]);
        for (int k = 1; k <= 6; ++k)
          EXPECT_TRUE(same_bits(got[std::size_t(k - 1)], legacy.result[Legacy::at(int(p + 1), int(j + 1), k)]))
              << split.name << ": " << sample[p].id << " test " << j + 1 << " result " << k;
        EXPECT_TRUE(r.tests[j].fitted && r.tests[j].rated);
        EXPECT_GT(r.tests[j].fit_error, 0.0);
        EXPECT_LT(r.tests[j].fit_error, 0.01);  // the sample's basins come from the engine itself
      }
    }
  }
}

// Eight sections (the sample's four, each twice with a different test)
// rated on 2, 4 and 8 threads, one rater per thread, give the serial
// results bit for bit.
TEST(PublicRating, ThreadsWithOneRaterEachGiveTheSerialResults) {
  const auto sample = read_sample("../../data/sample");
  std::vector<SampleSection> sections;
  for (int i = 0; i < 8; ++i) {
    SampleSection s = sample[std::size_t(i % 4)];
    s.tests = {s.tests[std::size_t(i / 4)]};
    sections.push_back(s);
  }
  std::ifstream in(kTable);
  std::stringstream text;
  text << in.rdbuf();
  auto rate_all = [&](int threads) {
    std::vector<zalk::SectionRating> out(sections.size());
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
      pool.emplace_back([&, t] {
        zalk::Rater rater;
        std::istringstream table(text.str());
        if (!rater.load_table(table).ok()) return;
        for (std::size_t i = std::size_t(t); i < sections.size(); i += std::size_t(threads))
          out[i] = rater.rate(sections[i].section, sections[i].tests);
      });
    }
    for (auto& th : pool) th.join();
    return out;
  };
  const auto serial = rate_all(1);
  for (const auto& r : serial) ASSERT_TRUE(r.status.ok() && r.tests.size() == 1);
  for (int threads : {2, 4, 8}) {
    const auto parallel = rate_all(threads);
    for (std::size_t i = 0; i < sections.size(); ++i) {
      ASSERT_TRUE(parallel[i].status.ok()) << threads << " threads, section " << i;
      const auto a = values_of(serial[i].tests[0]), b = values_of(parallel[i].tests[0]);
      for (int k = 0; k < 6; ++k)
        EXPECT_TRUE(same_bits(a[std::size_t(k)], b[std::size_t(k)])) << threads << " threads, section " << i;
    }
  }
}

// The overlay iteration of the sample's items equals the legacy one.
TEST(PublicRating, OverlayEqualsTheLegacyIteration) {
  auto sample = read_sample("../../data/sample");
  std::vector<zalk::OverlayItem> items;
  Legacy legacy;
  std::array<double, 20> h3{}, e1{}, e2{}, e3{};
  for (const auto& row : read_csv("../../data/sample/overlay.csv")) {
    const std::size_t i = items.size();
    SampleSection s = sample[i];
    s.tests.resize(1);
    legacy.put(int(i + 1), s);
    items.push_back({s.section, s.tests[0], std::stod(row[1]), std::stod(row[2]), std::stod(row[3]), std::stod(row[4])});
    h3[i] = items[i].depth_in;
    e1[i] = items[i].e_surface;
    e2[i] = items[i].e_base;
    e3[i] = items[i].e_subgrade;
  }
  zalk::rating::RatingContext ctx;
  zalk::rating::OwnedBlocks blocks;
  ctx.table = kTable;
  const int nsec = int(items.size());
  const double dh = 1.0;
  std::array<int, 20> npass{};
  std::vector<double> rpass(400), tpass(400);
  zalk::legacy::overlay_iteration(ctx, blocks.view, h3.data(), e1.data(), e2.data(), e3.data(), legacy.fwd.data(),
                                  legacy.sect.data(), &nsec, nullptr, &dh, npass.data(), rpass.data(), tpass.data());

  zalk::Rater rater;
  ASSERT_TRUE(rater.load_table(kTable).ok());
  const zalk::OverlayResult r = rater.overlay(items, dh);
  ASSERT_TRUE(r.status.ok()) << r.status.error->text;
  ASSERT_EQ(r.items.size(), items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    ASSERT_EQ(int(r.items[i].size()), npass[i]);
    EXPECT_GT(npass[i], 0);
    for (std::size_t k = 0; k < r.items[i].size(); ++k) {
      EXPECT_TRUE(same_bits(r.items[i][k].surface_thickness_in, tpass[k * 20 + i])) << "item " << i << " pass " << k;
      EXPECT_TRUE(same_bits(r.items[i][k].allowable_load, rpass[k * 20 + i])) << "item " << i << " pass " << k;
    }
  }
}

}  // namespace

// The fit method through the Rater: exact basins of known structures come
// back at their moduli and depth; a basin that cannot be fitted is flagged
// and leaves the other tests of the call as they are alone.
TEST(PublicRating, FitMethodFindsKnownStructuresAndFlagsBadBasins) {
  zalk::Rater rater;
  ASSERT_TRUE(rater.load_table(kTable).ok());
  const auto samples = read_sample("rating");
  zalk::RatingOptions fit;
  fit.method = zalk::Method::fit;
  int checked = 0;
  for (const auto& c : zalk::rating::testing::load_basins()) {
    if (c.layout != "legacy" || c.name > "G03") continue;
    zalk::Section s = samples[0].section;
    s.surface_thickness_in = c.h1;
    s.base_thickness_in = c.h2;
    zalk::DeflectionTest t = samples[0].tests[0];
    t.load_lb = c.load;
    t.deflections_mils.clear();
    for (double w : c.deflections) t.deflections_mils.push_back(1000.0 * w);
    zalk::DeflectionTest bad = t;
    bad.deflections_mils[2] = -1.0;
    const zalk::SectionRating both = rater.rate(s, {t, bad}, fit);
    ASSERT_TRUE(both.status.ok()) << c.name;
    const zalk::RatingResult& r = both.tests[0];
    EXPECT_NEAR(r.e_surface / c.e1, 1.0, 1e-3) << c.name;
    EXPECT_NEAR(r.e_base / c.e2, 1.0, 1e-3) << c.name;
    EXPECT_NEAR(r.e_subgrade / c.e3, 1.0, 1e-3) << c.name;
    EXPECT_EQ(r.depth_in, c.h3) << c.name;
    EXPECT_LT(r.fit_rms_pct, 0.01);
    EXPECT_EQ(r.residuals.size(), c.deflections.size());
    EXPECT_GT(r.engine_calls, 0);
    EXPECT_TRUE(r.rated);
    EXPECT_EQ(both.tests[1].flags & zalk::flag_not_fitted, zalk::flag_not_fitted);
    EXPECT_TRUE(std::isnan(both.tests[1].e_surface));
    EXPECT_NE(both.tests[1].message.find("2"), std::string::npos) << both.tests[1].message;
    const zalk::SectionRating alone = rater.back_calculate(s, t, fit);
    EXPECT_EQ(std::memcmp(&alone.tests[0].allowable_load, &r.allowable_load, sizeof(double)), 0);
    ++checked;
  }
  EXPECT_EQ(checked, 3);
  EXPECT_EQ(zalk::flag_names(zalk::flag_at_bound | zalk::flag_interpolated), "at_bound|interpolated");
}

// The fit's global search through the Rater on an exact basin without a
// stiff layer: found as such, with standard errors and a band around the
// allowable load; noise models and depths it cannot use are refused by name.
TEST(PublicRating, GlobalSearchFindsNoStiffLayerAndRefusesUnusableSettings) {
  zalk::Rater rater;
  ASSERT_TRUE(rater.load_table(kTable).ok());
  const auto samples = read_sample("rating");
  const auto cases = zalk::rating::testing::load_basins("global_basins.csv");
  const auto c = std::find_if(cases.begin(), cases.end(), [](const auto& k) { return k.name == "N01"; });
  ASSERT_NE(c, cases.end());
  zalk::Section s = samples[0].section;
  s.surface_thickness_in = c->h1;
  s.base_thickness_in = c->h2;
  zalk::DeflectionTest t = samples[0].tests[0];
  t.load_lb = c->load;
  t.deflections_mils.clear();
  for (double w : c->deflections) t.deflections_mils.push_back(1000.0 * w);
  zalk::RatingOptions global;
  global.method = zalk::Method::fit;
  global.fit.depth = zalk::DepthSearch::global;
  const zalk::SectionRating r = rater.rate(s, {t}, global);
  ASSERT_TRUE(r.status.ok()) << r.status.error->text;
  const zalk::RatingResult& f = r.tests[0];
  EXPECT_TRUE(std::isinf(f.depth_in));
  EXPECT_NEAR(f.e_subgrade / c->e3, 1.0, 1e-2);
  for (double se : {f.e_surface_se_pct, f.e_base_se_pct, f.e_subgrade_se_pct}) EXPECT_TRUE(se > 0 && se < 100) << se;
  EXPECT_TRUE(f.rated);
  EXPECT_LT(f.allowable_load_low, f.allowable_load);
  EXPECT_GT(f.allowable_load_high, f.allowable_load);

  struct Bad {
    double noise_mils, noise_relative, min_depth_in;
    const char* named;
  } bad[] = {
      {0.0, 0.0, 2.0, "noise_relative, 0"},
      {-0.1, 0.01, 2.0, "noise_mils, -0.1"},
      {0.08, std::nan(""), 2.0, "noise_relative, NaN"},
      {0.08, 0.01, 0.0, "min_depth_in, 0"},
      {0.08, 0.01, 300.0, "min_depth_in, 300"},
  };
  for (const Bad& b : bad) {
    zalk::RatingOptions o = global;
    o.fit.noise_mils = b.noise_mils;
    o.fit.noise_relative = b.noise_relative;
    o.fit.min_depth_in = b.min_depth_in;
    const zalk::SectionRating e = rater.rate(s, {t}, o);
    ASSERT_FALSE(e.status.ok()) << b.named;
    EXPECT_NE(e.status.error->text.find(b.named), std::string::npos) << e.status.error->text;
  }
}

// The global search on the sample's measured basins: never a worse RMS
// misfit than the design method's on the same sensors. Bad basins among
// them (one rising with offset, a reading of zero, a sensor far off the
// basin) are flagged or refused each on its own, the others rated, and no
// NaN comes without a flag.
TEST(PublicRating, GlobalSearchNeverLosesToTheDesignAndFlagsBadBasins) {
  zalk::Rater rater;
  ASSERT_TRUE(rater.load_table(kTable).ok());
  const auto samples = read_sample("rating");
  zalk::RatingOptions design;
  design.residuals = true;
  zalk::RatingOptions global;
  global.method = zalk::Method::fit;
  global.fit.depth = zalk::DepthSearch::global;
  for (const auto& sample : samples) {
    const std::vector<zalk::DeflectionTest> tests(sample.tests.begin(),
                                                  sample.tests.begin() + std::min<std::size_t>(12, sample.tests.size()));
    const zalk::SectionRating d = rater.rate(sample.section, tests, design);
    const zalk::SectionRating f = rater.rate(sample.section, tests, global);
    ASSERT_TRUE(d.status.ok() && f.status.ok());
    for (std::size_t j = 0; j < tests.size(); ++j)
      EXPECT_LE(f.tests[j].fit_rms_pct, d.tests[j].fit_rms_pct + 1e-9) << "test " << j + 1;
  }
  struct Bad {
    const char* what;
    void (*spoil)(std::vector<double>&);
    unsigned flag;
  } bad[] = {
      {"rising", [](std::vector<double>& w) { std::swap(w[4], w[5]); }, zalk::flag_rising_basin},
      {"zero reading", [](std::vector<double>& w) { w[5] = 0; }, zalk::flag_not_fitted},
      {"sensor far off", [](std::vector<double>& w) { w[3] *= 3; }, zalk::flag_misfit_above_noise},
  };
  std::vector<zalk::DeflectionTest> tests{samples[0].tests[0]};
  for (const Bad& b : bad) {
    tests.push_back(samples[0].tests[0]);
    b.spoil(tests.back().deflections_mils);
  }
  const zalk::SectionRating r = rater.rate(samples[0].section, tests, global);
  ASSERT_TRUE(r.status.ok()) << r.status.error->text;
  EXPECT_TRUE(r.tests[0].rated);
  for (std::size_t k = 0; k < std::size(bad); ++k) {
    const zalk::RatingResult& t = r.tests[k + 1];
    EXPECT_TRUE(t.flags & bad[k].flag) << bad[k].what << ": " << zalk::flag_names(t.flags);
    EXPECT_TRUE(t.rated || t.flags != 0) << bad[k].what;
  }
}

// Five seasons alike in days, temperatures and factors (they still differ in
// the design's strength factors): the year's allowable load is then the
// least of the seasons' own.
TEST(PublicRating, IdenticalSeasonsEachGiveTheYearsAllowableLoad) {
  zalk::Rater rater;
  ASSERT_TRUE(rater.load_table(kTable).ok());
  auto sample = read_sample("rating");
  zalk::Section s = sample[0].section;
  s.days = {73, 73, 73, 73, 73};
  s.air_temperature_f = {60, 60, 60, 60, 60};
  s.base_factor = s.subgrade_factor = {1, 1, 1, 1, 1};
  const zalk::SectionRating r = rater.rate(s, {sample[0].tests[0]});
  ASSERT_TRUE(r.status.ok());
  const zalk::RatingResult& t = r.tests[0];
  ASSERT_TRUE(t.rated);
  const double least = *std::min_element(t.season_allowable.begin(), t.season_allowable.end());
  EXPECT_NEAR(least, t.allowable_load, 1e-6 * t.allowable_load);
  EXPECT_GT(*std::max_element(t.season_allowable.begin(), t.season_allowable.end()), least);
}
