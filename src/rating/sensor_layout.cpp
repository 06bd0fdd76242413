#include "rating/sensor_layout.h"

#include <cmath>
#include <string>

#include "toolkit/splez.h"

namespace zalk::rating {
namespace {

constexpr int kShapePreserving = 3;

// Index of the sensor within the tolerance of `offset`, or -1.
int sensor_at(std::span<const double> offsets, double offset) {
  for (std::size_t i = 0; i < offsets.size(); ++i)
    if (std::abs(offsets[i] - offset) <= kOffsetToleranceIn) return int(i);
  return -1;
}

std::string check_layout(std::span<const double> offsets, std::span<const double> defl) {
  if (offsets.size() != defl.size()) return "the offsets and deflections differ in number";
  if (offsets.size() < 2) return "fewer than two sensors";
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    if (!std::isfinite(offsets[i]) || !std::isfinite(defl[i]))
      return "sensor " + std::to_string(i + 1) + " has a value that is not a finite number";
    if (i > 0 && !(offsets[i] > offsets[i - 1]))
      return "the sensor offsets do not increase at sensor " + std::to_string(i + 1);
  }
  return {};
}

}  // namespace

TableBasin table_basin(std::span<const double> offsets, std::span<const double> defl) {
  TableBasin b;
  b.problem = check_layout(offsets, defl);
  if (!b.problem.empty()) return b;
  bool all_present = true;
  for (std::size_t k = 0; k < kTableOffsetsIn.size(); ++k) {
    const int i = sensor_at(offsets, kTableOffsetsIn[k]);
    if (i < 0) {
      all_present = false;
      break;
    }
    b.deflections[k] = defl[std::size_t(i)];
  }
  if (all_present) {
    b.ok = true;
    return b;
  }
  if (offsets.front() > kTableOffsetsIn.front() + kOffsetToleranceIn ||
      offsets.back() < kTableOffsetsIn.back() - kOffsetToleranceIn || offsets.size() < 3) {
    b.problem = "the sensors do not span 0 to 36 in, so the basin cannot be interpolated";
    return b;
  }
  toolkit::DSPLEZ(int(offsets.size()), offsets.data(), defl.data(), kShapePreserving, 0,
                  int(kTableOffsetsIn.size()), kTableOffsetsIn.data(), b.deflections.data());
  b.ok = b.interpolated = true;
  return b;
}

}  // namespace zalk::rating
