// The shipped deflection table (data/backdefl.txt): one record per grid
// point in the order the reader expects, in the record layout, and its
// deflections the engine's mode-1 deflections for the record's structure at
// the reference subgrade modulus and load, to the last digit written.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "zalk3071/zalk3071.h"
#include "io/fortio.h"
#include "rating/grids.h"

namespace {

using namespace zalk;

std::vector<std::string> shipped_records() {
  std::ifstream in(ZALK_SOURCE_DIR "/data/backdefl.txt", std::ios::binary);
  std::vector<std::string> records;
  for (std::string line; std::getline(in, line);) records.push_back(line);
  return records;
}

struct GridPoint {
  int i, k, d, m, n;  // 0-based
};

GridPoint grid_point(int record) {  // record 0-based; base modulus fastest
  GridPoint g{};
  g.n = record % 8;
  g.m = record / 8 % 11;
  g.d = record / 88 % 8;
  g.k = record / 704 % 8;
  g.i = record / 5632;
  return g;
}

std::string f_field(double v, int w, int d) {
  std::string s;
  fortio::put_f(s, v, w, d);
  return s;
}

TEST(ShippedTable, OneRecordPerGridPointInReaderOrder) {
  const std::vector<std::string> records = shipped_records();
  ASSERT_EQ(int(records.size()), rating::kTableRecords);
  for (int r = 0; r < rating::kTableRecords; ++r) {
    const std::string& rec = records[std::size_t(r)];
    ASSERT_EQ(rec.size(), 174u) << "record " << r + 1;
    const GridPoint g = grid_point(r);
    std::string keys;
    for (double v : {rating::HACGRID[g.i], rating::HBGRID[g.k], rating::DEPGRID[g.d]}) {
      keys += ' ';
      fortio::put_f(keys, v, 6, 0);
    }
    for (double v : {rating::E1GRID[g.m], rating::E2GRID[g.n], 10000.0f}) {
      keys += ' ';
      fortio::put_f(keys, v, 8, 0);
    }
    ASSERT_EQ(rec.substr(0, 48), keys) << "record " << r + 1;
    ASSERT_EQ(rec.substr(160), std::string(4, ' ') + "0.00000000") << "record " << r + 1;
  }
}

TEST(ShippedTable, SampleOfRecordsMatchesTheEngineToTheLastDigit) {
  const std::vector<std::string> records = shipped_records();
  ASSERT_EQ(int(records.size()), rating::kTableRecords);
  // One record for every surface thickness and depth (the two grids that
  // change the engine's layering most), with random base thickness and moduli,
  // plus the first and the last record.
  std::mt19937 pick(3071);
  std::uniform_int_distribution<int> k8(0, 7), m11(0, 10);
  std::vector<int> sample{0, rating::kTableRecords - 1};
  for (int i = 0; i < 8; ++i)
    for (int d = 0; d < 8; ++d) sample.push_back(i * 5632 + k8(pick) * 704 + d * 88 + m11(pick) * 8 + k8(pick));
  for (int r : sample) {
    const GridPoint g = grid_point(r);
    float h1 = rating::HACGRID[g.i], h2 = rating::HBGRID[g.k], h3 = rating::DEPGRID[g.d] * 12.0f;
    float e1 = rating::E1GRID[g.m] * 1000.0f, e2 = rating::E2GRID[g.n] * 1000.0f, e3 = 10000.0f;
    float q = 1.0f, defl[8] = {}, resp[10] = {}, seastab[5] = {10.0f, 0.2f, 1.0f, 1.3f, 1.0f};
    int32_t ncases = 1, mode = 1;
    QUORVAN(&h1, &h2, &h3, &e1, &e2, &e3, &q, defl, resp, seastab, &ncases, &mode);
    const std::string& rec = records[std::size_t(r)];
    for (int s = 0; s < 8; ++s) {
      EXPECT_EQ(rec.substr(std::size_t(50 + 14 * s), 12), f_field(defl[s], 12, 8))
          << "record " << r + 1 << ", sensor " << s + 1;
    }
  }
}

}  // namespace
