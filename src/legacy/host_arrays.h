// The legacy hosts' arrays: their extents and where an element lies in them.
// Every array is column-major with 1-based indices, as the hosts declare
// them: FWD(20, 2000, 10) and RESULT(20, 2000, 6) by section, test and
// column; SECT(20, 23) by section and column; H3ITEM..E3ITEM(20), NPASS(20),
// RPASS(20, 20) and TPASS(20, 20) by item and pass.
#pragma once

#include <cstddef>

namespace zalk::legacy {

inline constexpr int kMaxSections = 20;
inline constexpr int kMaxTests = 2000;
inline constexpr int kFwdColumns = 10;
inline constexpr int kResultColumns = 6;
inline constexpr int kSectColumns = 23;
inline constexpr int kMaxPasses = 20;

inline constexpr std::size_t kFwdSize = std::size_t(kMaxSections) * kMaxTests * kFwdColumns;
inline constexpr std::size_t kResultSize = std::size_t(kMaxSections) * kMaxTests * kResultColumns;
inline constexpr std::size_t kSectSize = std::size_t(kMaxSections) * kSectColumns;
inline constexpr std::size_t kPassSize = std::size_t(kMaxSections) * kMaxPasses;

// FWD(p, j, k) and RESULT(p, j, k): section p, test j, column k.
constexpr std::size_t test_at(int p, int j, int k) {
  return (std::size_t(k - 1) * kMaxTests + std::size_t(j - 1)) * kMaxSections + std::size_t(p - 1);
}
// SECT(p, c), RPASS(i, k), TPASS(i, k): row p (section or item), column c.
constexpr std::size_t row_at(int p, int c) { return std::size_t(c - 1) * kMaxSections + std::size_t(p - 1); }

}  // namespace zalk::legacy
