// Basins at other sensor offsets, brought to the table's six offsets.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "rating/sensor_layout.h"

namespace zalk::rating {
namespace {

// A smooth basin of the shape a layered pavement gives (decreasing, convex
// beyond the load): the surface deflection of a point load on a half-space
// smoothed over the plate, in mils at r inches.
double basin(double r) { return 30.0 / std::sqrt(r * r + 36.0); }

std::vector<double> mm_to_in(std::vector<double> mm) {
  for (double& v : mm) v /= 25.4;
  return mm;
}

TEST(TableBasin, SensorsWithinTenMillimetresAreUsedAsTheyAre) {
  const std::vector<double> x = mm_to_in({0, 203, 305, 457, 610, 914, 1219, 1524});
  std::vector<double> d;
  for (double r : x) d.push_back(basin(r));
  const TableBasin b = table_basin(x, d);
  ASSERT_TRUE(b.ok);
  EXPECT_FALSE(b.interpolated);
  for (std::size_t k = 0; k < 6; ++k) EXPECT_EQ(b.deflections[k], d[k]);
}

TEST(TableBasin, OtherLayoutsAreInterpolatedCloseToTheTrueBasin) {
  // A common device layout: 0, 300, 450, 600, 900, 1200, 1500 mm.
  const std::vector<double> x = mm_to_in({0, 300, 450, 600, 900, 1200, 1500});
  std::vector<double> d;
  for (double r : x) d.push_back(basin(r));
  const TableBasin b = table_basin(x, d);
  ASSERT_TRUE(b.ok);
  EXPECT_TRUE(b.interpolated);
  EXPECT_EQ(b.deflections[0], d[0]);  // a sensor at the centre is kept exactly
  // Between sensors 12 in apart the shape-preserving spline stays within 2 %
  // of the smooth basin.
  for (std::size_t k = 0; k < 6; ++k)
    EXPECT_NEAR(b.deflections[k], basin(kTableOffsetsIn[k]), 0.02 * basin(kTableOffsetsIn[k])) << k;
}

TEST(TableBasin, LayoutsThatCannotGiveTheSixValuesAreRefused) {
  struct Case {
    std::vector<double> mm;
    const char* problem;
  };
  const Case cases[] = {
      {{0, 300, 600, 900}, "do not span"},           // ends 14 mm short of 36 in
      {{100, 300, 600, 1200}, "do not span"},         // no centre sensor
      {{0, 300, 300, 1200}, "do not increase"},
      {{0}, "fewer than two"},
  };
  for (const Case& c : cases) {
    const std::vector<double> x = mm_to_in(c.mm);
    std::vector<double> d(x.size(), 10.0);
    const TableBasin b = table_basin(x, d);
    EXPECT_FALSE(b.ok);
    EXPECT_NE(b.problem.find(c.problem), std::string::npos) << b.problem;
  }
  const std::vector<double> x{0, 12, 36}, nan_reading{10, NAN, 5};
  EXPECT_NE(table_basin(x, nan_reading).problem.find("not a finite"), std::string::npos);
}

}  // namespace
}  // namespace zalk::rating
