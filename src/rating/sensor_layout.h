// Deflection basins measured at other offsets than the six the deflection
// table is built for (0, 8, 12, 18, 24 and 36 in from the load centre).
#pragma once

#include <array>
#include <span>
#include <string>

#include "zalk/rating_model.hpp"

namespace zalk::rating {

inline constexpr std::array<double, 6> kTableOffsetsIn = kLegacySensorOffsets;
// How far a sensor may sit from a table offset and still stand for it.
inline constexpr double kOffsetToleranceIn = kSameOffsetToleranceIn;

struct TableBasin {
  bool ok = false;            // false: the layout cannot give the six values
  bool interpolated = false;  // true: the values come from the spline
  std::array<double, 6> deflections{};
  std::string problem;        // why not ok
};

// The basin at the table offsets. When every table offset has a sensor
// within the tolerance, those readings are used as they are; otherwise, if
// the sensors span 0 to 36 in (within the tolerance), the basin is
// interpolated with the shape-preserving spline (DSPLEZ kind 3) and marked
// so; otherwise it is refused. Offsets must increase and readings be finite.
TableBasin table_basin(std::span<const double> offsets_in, std::span<const double> deflections);

}  // namespace zalk::rating
