// Helpers of the deflection-table tests: private shared blocks, table
// indexing and writing table files in the record layout.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "io/fortio.h"
#include "rating/blocks.h"
#include "rating/defltable.h"
#include "rating/grids.h"

namespace zalk::testing {

using OwnedBlocks = rating::OwnedBlocks;

// Column-major offsets of read_deflection_table(8, 8, 8, 11, 8, 8) and thickness_surfaces(8, 11, 8, 8), 1-based.
inline std::size_t dtab_index(int i, int k, int d, int m, int n, int s) {
  return std::size_t((i - 1) + 8 * ((k - 1) + 8 * ((d - 1) + 8 * ((m - 1) + 11 * ((n - 1) + 8 * (s - 1))))));
}
inline std::size_t dthk_index(int d, int m, int n, int s) {
  return std::size_t((d - 1) + 8 * ((m - 1) + 11 * ((n - 1) + 8 * (s - 1))));
}
constexpr std::size_t kDtabSize = std::size_t(8) * 8 * 8 * 11 * 8 * 8;
constexpr std::size_t kDthkSize = std::size_t(8) * 11 * 8 * 8;

inline std::filesystem::path scratch_dir() {
  const char* dir = std::getenv("ZALK3071_DIR");
  return dir ? std::filesystem::path(dir) : std::filesystem::temp_directory_path();
}

// Deflection of sensor s for the grid point (i, k, d, m, n), 1-based.
using TableFunction = std::function<double(int i, int k, int d, int m, int n, int s)>;

struct TableStyle {
  bool true_keys = true;  // the six leading fields hold the grid values
  int columns = 174;      // 174 (with field 15) or 160 (without)
  int records = rating::kTableRecords;
};

// One record: " " F6.0 x3 (1X), F8.0 x3 (1X), F12.8 x9 (2X), cut to `columns`.
inline std::string table_record(const TableFunction& f, int i, int k, int d, int m, int n,
                                const TableStyle& style) {
  std::string r;
  const double keys[6] = {rating::HACGRID[i - 1], rating::HBGRID[k - 1], rating::DEPGRID[d - 1],
                          rating::E1GRID[m - 1],  rating::E2GRID[n - 1], 10000.0};
  const double junk[6] = {-9.0, 12345.0, 0.0, -999.0, 7.25, 99999.0};  // fit F6.0
  for (int j = 0; j < 6; ++j) {
    r += ' ';
    fortio::put_f(r, style.true_keys ? keys[j] : junk[(j + i + k + m) % 6], j < 3 ? 6 : 8, 0);
  }
  for (int s = 1; s <= 9; ++s) {
    r += "  ";
    fortio::put_f(r, s <= 8 ? f(i, k, d, m, n, s) : 0.5, 12, 8);
  }
  r.resize(std::size_t(style.columns));
  return r;
}

inline void write_table(const std::filesystem::path& file, const TableFunction& f,
                        const TableStyle& style = {}) {
  std::string text;
  text.reserve(std::size_t(style.records) * 176);
  int written = 0;
  for (int i = 1; i <= 8; ++i)
    for (int k = 1; k <= 8; ++k)
      for (int d = 1; d <= 8; ++d)
        for (int m = 1; m <= 11; ++m)
          for (int n = 1; n <= 8; ++n) {
            if (written++ == style.records) goto done;
            text += table_record(f, i, k, d, m, n, style);
            text += '\n';
          }
done:
  std::ofstream(file, std::ios::binary) << text;
}

// A smooth positive deflection, decreasing with the thicknesses, moduli and
// sensor offset, of the size of real table values (0.001 .. 0.1).
inline double smooth_deflection(int i, int k, int d, int m, int n, int s) {
  const double h = rating::HACGRID[i - 1], b = rating::HBGRID[k - 1];
  const double e1 = rating::E1GRID[m - 1], e2 = rating::E2GRID[n - 1];
  return 0.05 / (1.0 + 0.1 * h + 0.01 * b) / (1.0 + 0.1 * s) * (1.0 + 1.0 / d) /
         (1.0 + e1 / 2000.0 + e2 / 200.0);
}

}  // namespace zalk::testing
