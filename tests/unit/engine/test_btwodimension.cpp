// Superposition of one load's polar response into the Cartesian result slots.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "plate/btwodimension.h"
#include "toolkit/errors.h"

namespace zalk::plate {
namespace {

struct Call {
  std::array<std::array<double, 4>, 15> slots{};
  double xl[2] = {0.0, 10.0}, yl[2] = {0.0, -2.0}, p[2] = {100.0, 80.0}, a[2] = {5.9, 3.8};
  double e[3] = {500000.0, 30000.0, 10000.0}, pr[3] = {0.35, 0.40, 0.45};

  // Adds a polar response of load `load` at point index `ipt` (1-based).
  void add(int ipt, int load, int layer, double px, double py, std::array<double, 6> polar) {
    int ndim = 1000, near = 0;
    double pz = 3.0;
    double w = polar[0], u = polar[1], er = polar[2], et = polar[3], ez = polar[4], erz = polar[5];
    auto s = [&](int i) { return slots[i].data(); };
    BTWODIMENSION(&ipt, &ndim, &load, &near, xl, yl, p, a, &pz, &layer, &px, &py, &w, &u, &er, &et,
                  &ez, &erz, s(0), s(1), s(2), s(3), s(4), s(5), s(6), s(7), s(8), s(9), s(10),
                  s(11), s(12), s(13), s(14), e, pr, nullptr);
  }
};

// Stresses of an isotropic body from strains with E and nu, written with the
// textbook constants G = E / (2 (1 + nu)) and K-form lambda.
std::array<double, 6> hooke(double E, double nu, const std::array<double, 6>& eps) {
  const double G = E / (2 * (1 + nu));
  const double lam = E * nu / ((1 + nu) * (1 - 2 * nu));
  const double tr = eps[0] + eps[1] + eps[2];
  return {2 * G * eps[0] + lam * tr, 2 * G * eps[1] + lam * tr, 2 * G * eps[2] + lam * tr,
          2 * G * eps[3], 2 * G * eps[4], 2 * G * eps[5]};
}

TEST(Btwodimension, RotatesThePolarResponseAndAppliesHooke) {
  Call c;
  // Point at (13, 2) from load 2 centred at (10, -2): direction (0.6, 0.8).
  const std::array<double, 6> polar = {0.01, 2e-3, 3e-4, -1e-4, -5e-4, 7e-5};
  c.add(2, 2, 2, 13.0, 2.0, polar);

  // Strain tensor in polar axes rotated by the direction cosines:
  // eps_ij = Q eps_polar Q^T, with Q columns (cos, sin, 0), (-sin, cos, 0), z.
  const double cs = 0.6, sn = 0.8;
  const double er = polar[2], et = polar[3], ez = polar[4], erz = polar[5];
  const std::array<double, 6> eps = {cs * cs * er + sn * sn * et, sn * sn * er + cs * cs * et, ez,
                                     /*yz*/ sn * erz, /*xz*/ cs * erz, /*xy*/ cs * sn * (er - et)};
  const auto sig = hooke(30000.0, 0.40, {eps[0], eps[1], eps[2], eps[5], eps[3], eps[4]});

  const double expected[15] = {0.01,   cs * 2e-3, sn * 2e-3, sig[0], sig[1], sig[2], sig[3], sig[4],
                               sig[5], eps[0],    eps[1],    eps[2], eps[5], eps[3], eps[4]};
  for (int i = 0; i < 15; ++i) {
    EXPECT_NEAR(c.slots[i][1], expected[i], 1e-14 * std::max(1.0, std::abs(expected[i])))
        << "slot " << i + 1;
    EXPECT_EQ(c.slots[i][0], 0.0);
    EXPECT_EQ(c.slots[i][2], 0.0);
  }
}

TEST(Btwodimension, BelowTheLoadCentreBothCosinesAreOneOverRootTwo) {
  Call c;
  c.add(1, 1, 1, 0.0, 0.0, {0.02, 1.0, 3e-4, 5e-4, -6e-4, 0.0});
  EXPECT_EQ(c.slots[1][0], 0.7071067811865476);  // u_x = c U
  EXPECT_EQ(c.slots[2][0], 0.7071067811865476);  // u_y = s U
  EXPECT_NEAR(c.slots[9][0], 4e-4, 1e-18);        // eps_x = (ER + ET) / 2
  EXPECT_NEAR(c.slots[10][0], 4e-4, 1e-18);
  EXPECT_NEAR(c.slots[12][0], -1e-4, 1e-18);      // eps_xy = (ER - ET) / 2
}

// An index outside the host's arrays (1000 points, 10 loads, 50 layers) is
// refused, naming the argument and its value, before anything is read or
// written.
TEST(Btwodimension, IndicesOutsideTheHostArraysAreRefused) {
  const struct {
    int ipt, load, layer;
    const char* says;
  } bad[] = {
      {0, 1, 1, "IPT is 0; it must be 1 to 1000"},     {1001, 1, 1, "IPT is 1001"},
      {1, 0, 1, "ILOAD is 0; it must be 1 to 10"},     {1, 11, 1, "ILOAD is 11"},
      {1, 1, 0, "PLAYER is 0; it must be 1 to 50"},    {1, 1, 51, "PLAYER is 51"},
  };
  toolkit::ErrorEvent seen;
  toolkit::ScopedErrorHandler handler([&](const toolkit::ErrorEvent& e) { seen = e; });
  for (const auto& b : bad) {
    Call c;
    EXPECT_THROW(c.add(b.ipt, b.load, b.layer, 3.0, 4.0, {1, 1, 1, 1, 1, 1}), toolkit::SevereError)
        << b.says;
    EXPECT_EQ(seen.type, toolkit::TERMINAL);
    EXPECT_EQ(seen.routine, "BTWODIMENSION");
    EXPECT_NE(seen.message.find(b.says), std::string::npos) << seen.message;
    for (const auto& slot : c.slots) EXPECT_EQ(slot, (std::array<double, 4>{}));
  }
}

}  // namespace
}  // namespace zalk::plate
