// J0, J1, J2 against high-precision reference values (tests/data/README.md),
// their symmetry and special arguments. ZALK_BESSEL_REFERENCE names another
// reference file of the same layout, e.g. a larger one from
// tools/bessel_reference.py.
#include "toolkit/bessel.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace zalk::toolkit {
namespace {

struct Reference {
  double x;
  std::array<long double, 3> j;  // to 22 digits
  int zero_of;                   // n when x is next to a zero of Jn, else -1
};

std::vector<Reference> load_reference() {
  const char* env = std::getenv("ZALK_BESSEL_REFERENCE");
  const std::string path = env ? env : ZALK_TEST_DATA "/bessel_reference.csv";
  std::ifstream in(path);
  std::vector<Reference> rows;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream s(line);
    std::string f[5];
    for (auto& field : f) std::getline(s, field, ',');
    rows.push_back({std::strtod(f[0].c_str(), nullptr),
                    {std::strtold(f[1].c_str(), nullptr), std::strtold(f[2].c_str(), nullptr),
                     std::strtold(f[3].c_str(), nullptr)},
                    std::atoi(f[4].c_str())});
  }
  return rows;
}

// |value - truth| in units of the last place of the true value.
double ulps(double value, long double truth) {
  const int e = std::max(std::ilogb(static_cast<double>(truth)), -1022);
  return static_cast<double>(std::fabs(value - truth) / std::ldexp(1.0L, e - 52));
}

enum Range { kSmall, kMedium, kLarge, kZeros, kRanges };
constexpr const char* kRangeNames[kRanges] = {"x < 2", "2 <= x < 40", "x >= 40", "next to zeros"};

Range range_of(const Reference& r, int n) {
  if (r.zero_of == n) return kZeros;
  return r.x < 2.0 ? kSmall : r.x < 40.0 ? kMedium : kLarge;
}

double (*const kFunctions[3])(double) = {bessel_j0, bessel_j1, bessel_j2};

TEST(Bessel, WithinAFewUlpsOfTheReferenceInEveryRange) {
  const std::vector<Reference> ref = load_reference();
  ASSERT_GE(ref.size(), 2000u);
  double worst[3][kRanges] = {};
  double worst_x[3][kRanges] = {};
  for (const Reference& r : ref) {
    for (int n = 0; n < 3; ++n) {
      const double e = ulps(kFunctions[n](r.x), r.j[n]);
      double& w = worst[n][range_of(r, n)];
      if (e > w) {
        w = e;
        worst_x[n][range_of(r, n)] = r.x;
      }
    }
  }
  std::printf("worst error in ulps over %zu arguments (at x)\n", ref.size());
  for (int n = 0; n < 3; ++n) {
    for (int g = 0; g < kRanges; ++g) {
      std::printf("  J%d %-14s %6.2f  (%.17g)\n", n, kRangeNames[g], worst[n][g], worst_x[n][g]);
      EXPECT_LE(worst[n][g], 4.0) << "J" << n << ", " << kRangeNames[g];
    }
  }
}

TEST(Bessel, PairedEvaluationAndSymmetryGiveTheSameBits) {
  for (const Reference& r : load_reference()) {
    double j0 = 0.0, j1 = 0.0;
    bessel_j0_j1(r.x, j0, j1);
    EXPECT_EQ(j0, bessel_j0(r.x)) << r.x;
    EXPECT_EQ(j1, bessel_j1(r.x)) << r.x;
    EXPECT_EQ(bessel_j0(-r.x), bessel_j0(r.x)) << r.x;
    EXPECT_EQ(bessel_j1(-r.x), -bessel_j1(r.x)) << r.x;
    EXPECT_EQ(bessel_j2(-r.x), bessel_j2(r.x)) << r.x;
  }
}

TEST(Bessel, SpecialArguments) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double x, j0, j1, j2;
  };
  const Case cases[] = {
      {0.0, 1.0, 0.0, 0.0},
      {-0.0, 1.0, 0.0, 0.0},
      {1e-300, 1.0, 5e-301, 0.0},  // J1 = x/2, J2 = x^2/8 underflows
      {1e-10, 1.0, 5e-11, 1.25e-21},
      {inf, 0.0, 0.0, 0.0},
      {-inf, 0.0, 0.0, 0.0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bessel_j0(c.x), c.j0) << c.x;
    EXPECT_DOUBLE_EQ(bessel_j1(c.x), std::copysign(c.j1, c.x)) << c.x;
    EXPECT_DOUBLE_EQ(bessel_j2(c.x), c.j2) << c.x;
  }
  EXPECT_TRUE(std::isnan(bessel_j0(nan)) && std::isnan(bessel_j1(nan)) && std::isnan(bessel_j2(nan)));
  double j0 = 0.0, j1 = 0.0;
  bessel_j0_j1(nan, j0, j1);
  EXPECT_TRUE(std::isnan(j0) && std::isnan(j1));
  // Far beyond the accurate range the values stay inside the envelope.
  for (double x : {1e7, 1e15, 1e300}) {
    const double envelope = std::sqrt(2.0 / (M_PI * x)) * 1.0001;
    EXPECT_LE(std::fabs(bessel_j0(x)), envelope) << x;
    EXPECT_LE(std::fabs(bessel_j1(x)), envelope) << x;
    EXPECT_LE(std::fabs(bessel_j2(x)), envelope) << x;
  }
}

}  // namespace
}  // namespace zalk::toolkit
