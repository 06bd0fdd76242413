// The survey calls of the public API: per-drop rows, per-drop thickness,
// sections with their problems named.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "zalk/survey.hpp"

namespace {

using namespace zalk::survey;

Drop smooth_drop(double d0, double spread, double load) {
  Drop d{{0, 8, 12, 18, 24, 36, 48, 60}, {}, load};
  for (double r : d.offsets_in) d.deflections_mils.push_back(d0 * spread / std::sqrt(r * r + spread * spread));
  return d;
}

// d_0 from the method's equation at the returned moduli, in inches.
double centre_deflection(double load, double a, double thickness, double ep, double mr) {
  const double p = load / (std::numbers::pi * a * a), s = thickness / a;
  return 1.5 * p * a * (1 / (mr * std::sqrt(1 + std::pow(s * std::cbrt(ep / mr), 2))) +
                        (1 - 1 / std::sqrt(1 + s * s)) / ep);
}

TEST(PublicSurvey, RowsPerDropWithTheirOwnThickness) {
  std::vector<Drop> drops{smooth_drop(20, 15, 9000), smooth_drop(12, 25, 11000), smooth_drop(20, 15, 9000)};
  drops[2].deflections_mils[0] = -1;
  const std::vector<double> thickness{6, 20, 10};
  const std::vector<Aashto93> rows = aashto93(drops, {}, thickness);
  ASSERT_EQ(rows.size(), 3u);
  for (std::size_t i = 0; i < 2; ++i) {
    const Aashto93& r = rows[i];
    const std::size_t k = std::size_t(std::find(drops[i].offsets_in.begin(), drops[i].offsets_in.end(),
                                                r.mr_offset_in) - drops[i].offsets_in.begin());
    ASSERT_LT(k, drops[i].offsets_in.size()) << i;
    EXPECT_DOUBLE_EQ(r.mr_psi, 0.24 * drops[i].load_lb / (drops[i].deflections_mils[k] / 1000 * r.mr_offset_in));
    EXPECT_NEAR(centre_deflection(drops[i].load_lb, 5.9, thickness[i], r.ep_psi, r.mr_psi) * 1000,
                drops[i].deflections_mils[0], 1e-9 * drops[i].deflections_mils[0]) << i;
    EXPECT_DOUBLE_EQ(r.sneff, 0.0045 * thickness[i] * std::cbrt(r.ep_psi));
    EXPECT_DOUBLE_EQ(r.mr_design_psi, 0.33 * r.mr_psi);
  }
  EXPECT_EQ(flag_names(rows[2].flags), "bad_d0");
  EXPECT_NE(flag_texts(rows[2].flags).find("D(0)"), std::string::npos);
  // A thickness list of the wrong length is no thickness for any drop.
  EXPECT_EQ(aashto93(drops, {}, {6, 20})[0].flags, unsigned(flag_bad_thickness));
  const std::vector<Indices> ix = indices(drops, 4500);
  EXPECT_DOUBLE_EQ(ix[0].d0_norm, 10);
  EXPECT_TRUE(std::isnan(ix[2].sci_mils));
}

TEST(PublicSurvey, SectionsNameTheirProblems) {
  const std::vector<double> x{0, 10, 5, 20, 30}, v{1, 1, 9, 5, 5};
  const Sections s = segment(x, v, 100);
  ASSERT_EQ(s.units.size(), 1u);
  ASSERT_EQ(s.problems.size(), 2u);
  EXPECT_EQ(s.problems[0].drop, 2u);
  EXPECT_NE(s.problems[0].message.find("station 5 is lower"), std::string::npos);
  EXPECT_EQ(s.problems[1].drop, kWholeSurvey);
  EXPECT_NE(s.problems[1].message.find("minimum length 100"), std::string::npos);
  const std::vector<Statistics> st = unit_statistics(s, v);
  EXPECT_EQ(st[0].n, 4u);
  EXPECT_DOUBLE_EQ(st[0].mean, 3);
}

}  // namespace
