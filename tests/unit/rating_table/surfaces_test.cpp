// The two interpolation stages of the deflection table: thickness
// interpolation into thickness_surfaces and the modulus surfaces in the shared blocks,
// checked against closed forms (not-a-knot quadratic splines reproduce
// quadratics exactly) and against the tabulated values at grid points.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "rating/defltable.h"
#include "table_support.h"
#include "toolkit/errors.h"

namespace zalk::testing {
namespace {

using rating::DeflectionTables;
using rating::E1GRID;
using rating::E2GRID;
using rating::HACGRID;
using rating::HBGRID;

// Every fit solves an 8- or 11-point banded system in 4-byte floats and
// evaluates a 3 x 3 sum; with the small condition numbers of quadratic
// collocation matrices the result is within a few hundred float ulps.
constexpr double kRelTol = 3e-5;

DeflectionTables table_of(const TableFunction& f) {
  DeflectionTables t;
  t.dtab.assign(kDtabSize, 0.0f);
  t.dthk.assign(kDthkSize, 0.0f);
  for (int i = 1; i <= 8; ++i)
    for (int k = 1; k <= 8; ++k)
      for (int d = 1; d <= 8; ++d)
        for (int m = 1; m <= 11; ++m)
          for (int n = 1; n <= 8; ++n)
            for (int s = 1; s <= 8; ++s) t.dtab[dtab_index(i, k, d, m, n, s)] = float(f(i, k, d, m, n, s));
  return t;
}

// Distinct positive factor per (d, m, n, s), so that a mixed-up index shows.
double tag(int d, int m, int n, int s) { return 1.0 + 0.01 * d + 0.003 * m + 0.0007 * n + 0.05 * s; }

double quad_h(double h) { return 1.0 + 0.3 * h - 0.01 * h * h; }
double quad_b(double b) { return 2.0 - 0.02 * b + 0.0002 * b * b; }

TEST(ThicknessInterpolation, ReproducesQuadraticsBetweenGridPoints) {
  DeflectionTables t = table_of([](int i, int k, int d, int m, int n, int s) {
    return 0.01 * quad_h(HACGRID[i - 1]) * quad_b(HBGRID[k - 1]) * tag(d, m, n, s);
  });
  OwnedBlocks ob;
  rating::fit_thickness(t, 7.3f, 20.5f, ob.view);
  const double hb = 0.01 * quad_h(7.3f) * quad_b(20.5f);
  for (int d = 1; d <= 8; ++d)
    for (int m = 1; m <= 11; ++m)
      for (int n = 1; n <= 8; ++n)
        for (int s = 1; s <= 8; ++s) {
          const double want = hb * tag(d, m, n, s);
          ASSERT_NEAR(t.dthk[dthk_index(d, m, n, s)], want, kRelTol * want) << d << m << n << s;
        }
  EXPECT_EQ(ob.depth->IDEPTH, 9);
  EXPECT_EQ(ob.com3->NXCOEF, 8);
  EXPECT_EQ(ob.com3->NYCOEF, 8);
}

TEST(DeflectionSurfaces, SectionAtGridThicknessesReproducesTheTable) {
  // A non-polynomial table: only interpolation (not smoothing) gives it back.
  DeflectionTables t = table_of(smooth_deflection);
  OwnedBlocks ob;
  rating::fit_thickness(t, HACGRID[2], HBGRID[4], ob.view);  // h = 4, b = 18
  rating::fit_modulus_surfaces(t, ob.view);
  for (int d = 1; d <= 8; ++d) {
    ob.depth->IDEPTH = d;
    for (int m = 1; m <= 11; ++m)
      for (int n = 1; n <= 8; ++n)
        for (int s = 1; s <= 8; ++s) {
          const double want = t.dtab[dtab_index(3, 5, d, m, n, s)];
          ASSERT_NEAR(t.dthk[dthk_index(d, m, n, s)], want, kRelTol * want);
          ASSERT_NEAR(rating::evaluate_surface(ob.view, E1GRID[m - 1], E2GRID[n - 1], s), want,
                      kRelTol * want)
              << d << m << n << s;
        }
  }
}

TEST(DeflectionSurfaces, ReproduceQuadraticsInTheModuliAndLeaveTheBlocksAsDocumented) {
  DeflectionTables t;
  t.dtab.assign(kDtabSize, 0.0f);
  t.dthk.assign(kDthkSize, 0.0f);
  auto r = [](double e1) { return 1.0 - e1 / 5000.0 + (e1 / 5000.0) * (e1 / 5000.0); };
  auto q = [](double e2) { return 1.5 - e2 / 150.0 + (e2 / 150.0) * (e2 / 150.0); };
  for (int d = 1; d <= 8; ++d)
    for (int m = 1; m <= 11; ++m)
      for (int n = 1; n <= 8; ++n)
        for (int s = 1; s <= 8; ++s)
          t.dthk[dthk_index(d, m, n, s)] = float(0.02 * r(E1GRID[m - 1]) * q(E2GRID[n - 1]) * tag(d, 1, 1, s));
  OwnedBlocks ob;
  ob.com3->NX = 7;  // whatever the host left there
  rating::fit_modulus_surfaces(t, ob.view);
  EXPECT_EQ(ob.depth->IDEPTH, 9);
  EXPECT_EQ(ob.com3->KXORD, 3);
  EXPECT_EQ(ob.com3->KYORD, 3);
  EXPECT_EQ(ob.com3->NXDATA, 11);
  EXPECT_EQ(ob.com3->NYDATA, 8);
  EXPECT_EQ(ob.com3->NXCOEF, 11);
  EXPECT_EQ(ob.com3->NYCOEF, 8);
  for (int m = 0; m < 11; ++m) EXPECT_EQ(ob.com1->XDATA[m], E1GRID[std::size_t(m)]);
  for (int n = 0; n < 8; ++n) EXPECT_EQ(ob.com1->YDATA[n], E2GRID[std::size_t(n)]);

  for (auto [x1, x2] : {std::pair{750.0f, 45.0f}, std::pair{100.0f, 10.0f}, std::pair{4000.0f, 100.0f},
                        std::pair{2345.6f, 12.5f}}) {
    for (int d : {1, 5, 8}) {
      for (int s : {1, 4, 8}) {
        ob.depth->IDEPTH = d;
        const float v = rating::evaluate_surface(ob.view, x1, x2, s);
        const double want = 0.02 * r(x1) * q(x2) * tag(d, 1, 1, s);
        EXPECT_NEAR(v, want, kRelTol * want) << x1 << " " << x2 << " " << d << " " << s;
        EXPECT_EQ(ob.com2->VALUE[0], v);
        EXPECT_EQ(ob.com2->XVEC[0], x1);
        EXPECT_EQ(ob.com2->YVEC[0], x2);
        EXPECT_EQ(ob.com3->NX, 1);
        EXPECT_EQ(ob.com3->NY, 1);
      }
    }
  }
  // The surface of (d, s) is SCOEF(., d, s): zero beyond its 88 coefficients
  // and in the depth and sensor slots 9..20 that nothing fits.
  EXPECT_NE(ob.com2->SCOEF[7][7][87], 0.0f);
  EXPECT_EQ(ob.com2->SCOEF[7][7][88], 0.0f);
  EXPECT_EQ(ob.com2->SCOEF[8][0][0], 0.0f);
  EXPECT_EQ(ob.com2->SCOEF[0][8][0], 0.0f);
}

TEST(ThicknessInterpolation, BaseOutsideTheGridGivesZeroWithAWarningPerEvaluation) {
  DeflectionTables t = table_of(smooth_deflection);
  OwnedBlocks ob;
  int warnings = 0;
  toolkit::ScopedErrorHandler h([&](const toolkit::ErrorEvent& e) { warnings += e.type == toolkit::WARNING; });
  rating::fit_thickness(t, 5.0f, 60.0f, ob.view);
  EXPECT_EQ(warnings, 8 * 11 * 8 * 8);
  EXPECT_EQ(t.dthk, std::vector<float>(kDthkSize, 0.0f));
}

// A section taken from the cache leaves the blocks and the thickness values
// exactly as fitting it does, whatever the blocks held before: every byte
// of the seven blocks is compared after starting from different fillings.
// A fit that warned is not kept, so its warnings come again.
void fill(OwnedBlocks& ob, unsigned char byte) {
  std::memset(ob.code.get(), byte, sizeof(*ob.code));
  std::memset(ob.dd.get(), byte, sizeof(*ob.dd));
  std::memset(ob.com1.get(), byte, sizeof(*ob.com1));
  std::memset(ob.com2.get(), byte, sizeof(*ob.com2));
  std::memset(ob.com3.get(), byte, sizeof(*ob.com3));
  std::memset(ob.depth.get(), byte, sizeof(*ob.depth));
  std::memset(ob.dam.get(), byte, sizeof(*ob.dam));
  ob.com3->KXORD = ob.com3->KYORD = 3;  // as the rating call sets them
}

bool same_blocks(const OwnedBlocks& a, const OwnedBlocks& b) {
  return std::memcmp(a.code.get(), b.code.get(), sizeof(*a.code)) == 0 &&
         std::memcmp(a.dd.get(), b.dd.get(), sizeof(*a.dd)) == 0 &&
         std::memcmp(a.com1.get(), b.com1.get(), sizeof(*a.com1)) == 0 &&
         std::memcmp(a.com2.get(), b.com2.get(), sizeof(*a.com2)) == 0 &&
         std::memcmp(a.com3.get(), b.com3.get(), sizeof(*a.com3)) == 0 &&
         std::memcmp(a.depth.get(), b.depth.get(), sizeof(*a.depth)) == 0 &&
         std::memcmp(a.dam.get(), b.dam.get(), sizeof(*a.dam)) == 0;
}

TEST(SectionSurfaces, TakenFromTheCacheExactlyAsFitted) {
  DeflectionTables t = table_of(smooth_deflection);
  t.generation = ~std::uint64_t(0);
  rating::SurfaceCache cache;
  struct Case {
    float h, base;
    std::uint64_t generation;
    long long fits_after;  // sections fitted so far
  };
  const Case cases[] = {
      {5.0f, 12.0f, t.generation, 1},      // fitted and kept
      {5.0f, 12.0f, t.generation, 1},      // taken
      {5.0f, 12.5f, t.generation, 2},      // another base: fitted
      {5.0f, 12.0f, t.generation, 2},      // the first again: still kept
      {5.0f, 12.0f, t.generation - 1, 3},  // another reading of the table: fitted
  };
  for (const Case& c : cases) {
    t.generation = c.generation;
    OwnedBlocks fitted, cached;
    fill(fitted, 0xA5);
    fill(cached, 0xA5);
    rating::fit_thickness(t, c.h, c.base, fitted.view);
    rating::fit_modulus_surfaces(t, fitted.view);
    const std::vector<float> dthk = t.dthk;
    std::fill(t.dthk.begin(), t.dthk.end(), -1.0f);
    rating::fit_section_surfaces(t, c.h, c.base, cached.view, cache);
    EXPECT_EQ(cache.fits, c.fits_after) << c.base;
    EXPECT_TRUE(same_blocks(fitted, cached)) << c.base;
    EXPECT_EQ(t.dthk, dthk) << c.base;
  }

  int warnings = 0;
  toolkit::ScopedErrorHandler h([&](const toolkit::ErrorEvent& e) { warnings += e.type == toolkit::WARNING; });
  OwnedBlocks ob;
  for (int call = 1; call <= 2; ++call) rating::fit_section_surfaces(t, 5.0f, 60.0f, ob.view, cache);
  EXPECT_EQ(warnings, 2 * 8 * 11 * 8 * 8);
}

TEST(DeflectionSurfaces, DepthOrSensorOutsideTheBlocksIsRefused) {
  DeflectionTables t = table_of(smooth_deflection);
  OwnedBlocks ob;
  rating::fit_thickness(t, 5.0f, 12.0f, ob.view);
  rating::fit_modulus_surfaces(t, ob.view);
  int severe = 0;
  toolkit::ScopedErrorHandler h([&](const toolkit::ErrorEvent& e) { severe += e.type == toolkit::TERMINAL; });
  ob.depth->IDEPTH = 9;  // as the fitting loops leave it: a zero surface, but inside the block
  EXPECT_EQ(rating::evaluate_surface(ob.view, 500.0f, 50.0f, 1), 0.0f);
  for (auto [d, s] : {std::pair{0, 1}, std::pair{21, 1}, std::pair{1, 0}, std::pair{1, 21}}) {
    ob.depth->IDEPTH = d;
    EXPECT_THROW(rating::evaluate_surface(ob.view, 500.0f, 50.0f, s), toolkit::SevereError);
  }
  EXPECT_EQ(severe, 4);
  EXPECT_EQ(toolkit::name_stack_depth(), 0);
}

}  // namespace
}  // namespace zalk::testing
