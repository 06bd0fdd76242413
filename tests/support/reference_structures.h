// The four layered reference structures of tests/data/layered_mode1.csv and
// layered_mode2.csv: three layer thicknesses (in) over a half-space and the
// moduli (psi) of the three layers. Every value is exact in a 4-byte float.
#pragma once

namespace zalk::testing {

struct ReferenceStructure {
  const char* id;
  double h1, h2, h3, e1, e2, e3;
};

inline constexpr ReferenceStructure kReferenceStructures[] = {
    {"S1", 4, 8, 12, 500000, 30000, 10000},
    {"S3", 6, 12, 60, 1500000, 50000, 15000},
    {"S5", 3, 18, 36, 3000000, 100000, 20000},
    {"S7", 5, 4, 24, 300000, 60000, 12000}};

}  // namespace zalk::testing
