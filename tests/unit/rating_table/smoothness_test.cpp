// Accuracy of the modulus surfaces built from the shipped deflection table
// (data/backdefl.txt) between its grid points: the surfaces of a section
// are compared with the layered engine's own mode-1 deflections of the same
// structure (reference subgrade modulus 10000, load value 1, stiff layer at
// the depth candidate), which is what the table's values are at its grid
// points. The difference is the interpolation error of the two spline
// stages (thickness, then moduli); the back-calculation inherits it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "engine/driver.h"
#include "io/platform.h"
#include "engine/quorvan.h"
#include "rating/defltable.h"
#include "rating/grids.h"
#include "table_support.h"

namespace zalk::testing {
namespace {

using rating::DEPGRID;

constexpr int kSensors = 8;

// Moduli between the grid values of the table (thousands), with at most
// three significant digits, so that the engine's deck carries them exactly.
constexpr std::array<float, 4> kOffGridE1{250, 700, 1750, 3500};
constexpr std::array<float, 4> kOffGridE2{15, 45, 70, 90};
// Grid values, for the baseline of how well the engine reproduces the table.
constexpr std::array<float, 4> kGridE1{200, 600, 1500, 4000};
constexpr std::array<float, 4> kGridE2{10, 40, 60, 100};

// Largest errors of one sensor over depths and moduli: relative to the
// sensor's own deflection, and relative to the peak (sensor 1) deflection
// of the same basin. The far sensors pass through zero for shallow stiff
// layers, where only the second measure means anything.
struct SensorError {
  double own = 0;
  double peak = 0;
  double own_at_w = 0;  // the engine deflection where `own` was found
};

class SurfaceSmoothness : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::filesystem::path shipped = std::filesystem::path(ZALK_SOURCE_DIR) / "data" / "backdefl.txt";
    ASSERT_TRUE(std::filesystem::exists(shipped)) << shipped;
    std::filesystem::copy_file(shipped, platform::table_path(),
                               std::filesystem::copy_options::overwrite_existing);
    tables_ = std::make_unique<rating::DeflectionTables>();
    OwnedBlocks ob;
    ASSERT_EQ(rating::read_deflection_table(platform::table_path(), *tables_, ob.view),
              rating::TableRead::Complete);
    engine_ = engine::make_engine_workspace();
  }
  static void TearDownTestSuite() {
    tables_.reset();
    engine_.reset();
  }

  // Engine deflections of sensors 1..8 for the table's reference structure.
  static std::array<float, kSensors> engine_basin(float h, float b, int d, float e1k, float e2k) {
    const float e1 = e1k * 1000.0f, e2 = e2k * 1000.0f, e3 = rating::kRefSubgradeModulus;
    const float seastab = 0.0f;
    std::array<float, 10> defl{}, scratch{};
    engine::quorvan(*engine_, platform::deck_path(), h, b, DEPGRID[std::size_t(d - 1)] * 12.0f, &e1, &e2, &e3,
                    1.0f, defl.data(), scratch.data(), &seastab, 1, 1);
    std::array<float, kSensors> w{};
    std::copy_n(defl.begin(), kSensors, w.begin());
    return w;
  }

  // Fits the section's surfaces, then compares them with the engine at
  // every depth and every pair of the given moduli.
  static std::array<SensorError, kSensors> measure(float h, float b, const std::array<float, 4>& e1s,
                                                   const std::array<float, 4>& e2s) {
    OwnedBlocks ob;
    rating::fit_thickness(*tables_, h, b, ob.view);
    rating::fit_modulus_surfaces(*tables_, ob.view);
    std::array<SensorError, kSensors> worst{};
    for (int d = 1; d <= 8; ++d) {
      for (float e1 : e1s) {
        for (float e2 : e2s) {
          const std::array<float, kSensors> w = engine_basin(h, b, d, e1, e2);
          ob.depth->IDEPTH = d;
          for (int s = 1; s <= kSensors; ++s) {
            const double fitted = rating::evaluate_surface(ob.view, e1, e2, s);
            const double exact = w[std::size_t(s - 1)];
            const double diff = std::abs(fitted - exact);
            SensorError& e = worst[std::size_t(s - 1)];
            if (diff / std::abs(exact) > e.own) {
              e.own = diff / std::abs(exact);
              e.own_at_w = exact;
            }
            e.peak = std::max(e.peak, diff / double(w[0]));
          }
        }
      }
    }
    return worst;
  }

  static void print(const char* title, float h, float b, const std::array<SensorError, kSensors>& worst) {
    std::printf("%s, h = %g, b = %g: largest error per sensor\n", title, double(h), double(b));
    std::printf("  sensor  |error|/|w|  (at w)        |error|/w1\n");
    for (int s = 1; s <= kSensors; ++s) {
      const SensorError& e = worst[std::size_t(s - 1)];
      std::printf("  %6d  %10.2e  (%11.4e)  %10.2e\n", s, e.own, e.own_at_w, e.peak);
    }
  }

  static std::unique_ptr<rating::DeflectionTables> tables_;
  static std::unique_ptr<engine::EngineWorkspace> engine_;
};

std::unique_ptr<rating::DeflectionTables> SurfaceSmoothness::tables_;
std::unique_ptr<engine::EngineWorkspace> SurfaceSmoothness::engine_;

// Every sensor's largest error relative to the peak deflection (the search
// compares basins normalised by sensor 1, so this is the error it sees).
void expect_within(const std::array<SensorError, kSensors>& worst, double limit) {
  for (int s = 1; s <= kSensors; ++s) EXPECT_LE(worst[std::size_t(s - 1)].peak, limit) << "sensor " << s;
}

// At a grid point of all five grids the surfaces hold the table's values,
// which are the engine's deflections written with 8 decimals (5e-9, about
// 1e-6 of the smallest peak of 0.003 here); the float arithmetic of the two
// fits adds a few hundred float ulps at most (measured: 1.0e-6).
TEST_F(SurfaceSmoothness, AtGridPointsTheSurfacesGiveTheEngineBack) {
  const auto worst = measure(4.0f, 12.0f, kGridE1, kGridE2);
  print("grid thicknesses, grid moduli", 4.0f, 12.0f, worst);
  expect_within(worst, 3e-5);
}

// Grid thicknesses, moduli between grid values: the error of the modulus
// surfaces alone. Measured 1.2e-2 of the peak, at base modulus 15 (between
// 10 and 20, where the deflection curves most in the base modulus); 3e-3
// at 45, 70 and 90. Limit: the measured error with a quarter of margin.
TEST_F(SurfaceSmoothness, ModulusSurfacesBetweenGridModuli) {
  const auto worst = measure(4.0f, 12.0f, kOffGridE1, kOffGridE2);
  print("grid thicknesses, off-grid moduli", 4.0f, 12.0f, worst);
  expect_within(worst, 1.5e-2);
}

// Thicknesses between grid values, grid moduli: the error of the thickness
// stage alone. Measured 1.7e-4 of the peak for a base of 10 on a surface
// layer of 5 (a grid value), 1.2e-2 for a surface layer of 2.5 (between 2
// and 3 in, where the surface layer's share of the basin changes fastest).
TEST_F(SurfaceSmoothness, ThicknessStageBetweenGridThicknesses) {
  struct Case {
    float h, b;
    double limit;
  };
  for (const Case c : {Case{5.0f, 10.0f, 3e-4}, Case{2.5f, 30.0f, 1.5e-2}}) {
    SCOPED_TRACE(::testing::Message() << "h = " << c.h << ", b = " << c.b);
    const auto worst = measure(c.h, c.b, kGridE1, kGridE2);
    print("off-grid thicknesses, grid moduli", c.h, c.b, worst);
    expect_within(worst, c.limit);
  }
}

// Both stages between grid values: the error a back-calculation inherits.
// Measured (of the peak): 8.7e-3 at h 5, b 10; 9.2e-3 at 7, 15; 1.25e-2 at
// 11, 42; 3.0e-2 at 2.5, 30. Limits: the measured errors with a quarter to
// a third of margin.
TEST_F(SurfaceSmoothness, BothStagesBetweenGridValues) {
  struct Case {
    float h, b;
    double limit;
  };
  for (const Case c : {Case{5.0f, 10.0f, 1.2e-2}, Case{7.0f, 15.0f, 1.2e-2}, Case{11.0f, 42.0f, 1.6e-2},
                       Case{2.5f, 30.0f, 4e-2}}) {
    SCOPED_TRACE(::testing::Message() << "h = " << c.h << ", b = " << c.b);
    const auto worst = measure(c.h, c.b, kOffGridE1, kOffGridE2);
    print("off-grid thicknesses, off-grid moduli", c.h, c.b, worst);
    expect_within(worst, c.limit);
  }
}

}  // namespace
}  // namespace zalk::testing
