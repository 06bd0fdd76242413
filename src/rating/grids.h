// The fixed grids of the deflection table.
#pragma once

#include <array>

#include "zalk/rating_model.hpp"

namespace zalk::rating {

inline constexpr std::array<float, 8> HACGRID{2, 3, 4, 5, 6, 8, 10, 12};        // inches
inline constexpr std::array<float, 8> HBGRID{3, 6, 9, 12, 18, 24, 36, 48};      // inches
inline constexpr std::array<float, 8> DEPGRID{1, 2, 3, 4, 5, 10, 15, 20};       // feet
inline constexpr std::array<float, 11> E1GRID{100, 200, 300, 400, 600, 800, 1200, 1500, 2000, 3000, 4000};
inline constexpr std::array<float, 8> E2GRID{10, 20, 30, 40, 50, 60, 80, 100};  // thousands
inline constexpr float kRefSubgradeModulus = 10000.0f;
inline constexpr float kRefLoad = float(kRatingModel.reference_load_lb);  // lb
inline constexpr int kTableRecords = 8 * 8 * 8 * 11 * 8;  // 45,056

}  // namespace zalk::rating
