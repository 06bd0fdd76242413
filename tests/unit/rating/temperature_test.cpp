// Pavement temperature from the surface temperature and the time of day.
#include <gtest/gtest.h>

#include <cmath>

#include "rating/driver.h"

namespace zalk::rating {
namespace {

// The calibration's value of pi, not the true one.
constexpr double kPiUsed = 3.141596;

double sine_term(double t, double shift) { return std::sin(2.0 * kPiUsed * (t - shift) / 18.0); }

// Float rounding of the argument (at most about 5 in size, one ulp 4.8e-7)
// and of the result bound the difference to the 8-byte reference.
constexpr double kSineTolerance = 2e-6;

TEST(PavementTemperature, TimeOfDayWindows) {
  struct Case {
    float hour;
    double a, b;
  };
  const Case cases[] = {
      {8.0f, -1.0, -1.0},
      {10.0f, -1.0, sine_term(10.0, 13.5)},
      {4.0f, sine_term(28.0, 15.5), -1.0},
      {2.0f, sine_term(26.0, 15.5), sine_term(26.0, 13.5)},
      {5.0f, -1.0, -1.0},
      {11.0f, -1.0, sine_term(11.0, 13.5)},
      {3.0f, sine_term(27.0, 15.5), -1.0},
      {9.0f, -1.0, -1.0},
      {14.25f, sine_term(14.25, 15.5), sine_term(14.25, 13.5)},
      {4.99f, sine_term(28.99, 15.5), -1.0},
      {11.01f, sine_term(11.01, 15.5), sine_term(11.01, 13.5)},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(bells3_a(c.hour), c.a, kSineTolerance) << "hour " << c.hour;
    EXPECT_NEAR(bells3_b(c.hour), c.b, kSineTolerance) << "hour " << c.hour;
  }
  // The window ends are inside the window: exactly -1, not a sine value.
  EXPECT_EQ(bells3_a(5.0f), -1.0f);
  EXPECT_EQ(bells3_a(11.0f), -1.0f);
  EXPECT_EQ(bells3_b(3.0f), -1.0f);
  EXPECT_EQ(bells3_b(9.0f), -1.0f);
}

// The prediction in 8-byte arithmetic, written out from the relation.
double reference_temperature(double hour, double ts, double t1_f, double h) {
  const double ir = (ts - 32.0) * 5.0 / 9.0;
  const double t1c = (t1_f - 32.0) * 5.0 / 9.0;
  const double a = (hour >= 5 && hour <= 11) ? -1.0 : sine_term(hour < 5 ? hour + 24 : hour, 15.5);
  const double b = (hour >= 3 && hour <= 9) ? -1.0 : sine_term(hour < 3 ? hour + 24 : hour, 13.5);
  const double dmm = h * 25.4 / 3.0;
  const double tdc = (std::log10(dmm) - 1.25) * (0.621 * t1c - 0.448 * ir + 1.83 * a) + (0.892 * ir + 0.95) +
                     0.042 * ir * b;
  return tdc * 9.0 / 5.0 + 32.0;
}

TEST(PavementTemperature, AgreesWithTheRelationInDoublePrecision) {
  struct Case {
    double hour, ts, t1, h;
  };
  const Case cases[] = {{10.0, 80.0, 66.0, 6.0}, {14.5, 110.0, 85.0, 3.0}, {2.0, 35.0, 30.0, 12.0},
                        {16.75, 60.0, 58.0, 4.5}, {7.0, 95.0, 75.0, 8.0}};
  for (const Case& c : cases) {
    const float t1c = (float(c.t1) - 32.0f) * 5.0f / 9.0f;
    const float dmm = float(c.h) * 25.4f / 3.0f;
    const double got = pavement_temperature(float(c.hour), float(c.ts), t1c, dmm);
    // About fifteen 4-byte operations on values below 200: a few 1e-5 F.
    EXPECT_NEAR(got, reference_temperature(c.hour, c.ts, c.t1, c.h), 2e-4) << "hour " << c.hour;
  }
  // At a third of the surface layer equal to 17.78 mm (log10 = 1.25) the
  // time-of-day term of the first bracket drops out.
  const float dmm = std::pow(10.0f, 1.25f);
  const double ir = (80.0 - 32.0) * 5.0 / 9.0;
  EXPECT_NEAR(pavement_temperature(8.0f, 80.0f, 20.0f, dmm), (0.892 * ir + 0.95 - 0.042 * ir) * 9.0 / 5.0 + 32.0, 2e-4);
}

}  // namespace
}  // namespace zalk::rating
