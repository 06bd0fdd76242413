// The whole engine with the plate solution: near the surface of a homogeneous
// structure the layered part vanishes and the plate routine carries the whole
// half-space response; mode-1 deflection basins of layered structures against
// an independent high-precision layered solution.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "io/deck.h"
#include "engine/driver.h"
#include "engine/quorvan.h"
#include "unit/plate/halfspace_reference.h"
#include "plate/plateresp.h"
#include "reference_data.h"
#include "support/reference_structures.h"
#include "toolkit/errors.h"

namespace zalk::engine {
namespace {

constexpr double kE = 30000.0, kNu = 0.35, kQ = 100.0, kA = 5.9;

DeckProblem homogeneous_structure() {
  DeckProblem p;
  p.nlayer = 4;
  for (int i = 0; i < 4; ++i) {
    p.emod[i] = kE;
    p.pratio[i] = kNu;
    p.thick[i] = i < 3 ? 10.0 : 0.0;
    p.bond[i] = 1.0;
  }
  p.nload = 1;
  p.press[0] = kQ;
  p.radius[0] = kA;
  return p;
}

// Radii (on the +x axis) and depths in the top layer down to 0.45 a.
const double kRadii[] = {0.0, 2.0, 3.5, 5.0, 5.9, 7.0, 8.0, 12.0, 30.0, 100.0};
const double kDepths[] = {0.0, 0.3, 1.0, 2.0, 2.655};

// The fifteen slots of one load at a point of the +x axis (or the axis) from
// polar values W, U, ER, ET, EZ, ERZ.
std::array<double, 15> slots_from_polar(const double v[6], bool on_axis) {
  const double c = on_axis ? 0.7071067811865476 : 1.0, s = on_axis ? 0.7071067811865476 : 0.0;
  const double mu = kE / (1 + kNu) / 2, lambda = kNu * kE / (kNu + 1) / (1 - 2 * kNu);
  const double ex = s * s * v[3] + c * c * v[2], ey = s * s * v[2] + c * c * v[3], ez = v[4];
  const double exy = (v[2] - v[3]) * s * c, eyz = s * v[5], exz = c * v[5];
  const double th = ex + ey + ez;
  return {v[0],          c * v[1],      s * v[1],    2 * mu * ex + lambda * th, 2 * mu * ey + lambda * th,
          2 * mu * ez + lambda * th, 2 * mu * exy, 2 * mu * eyz, 2 * mu * exz, ex, ey, ez, exy, eyz, exz};
}

class WholeEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::deck_tolerances(abstol, reltol);
    p = homogeneous_structure();
    for (double z : kDepths)
      for (double r : kRadii) {
        p.lpoint[p.npoint] = 1;
        p.xpoint[p.npoint] = r;
        p.zpoint[p.npoint] = z;
        ++p.npoint;
      }
    analyse_problem(*ws, p, abstol, reltol);
  }
  std::unique_ptr<EngineWorkspace> ws = make_engine_workspace();
  std::array<double, 10> abstol{}, reltol{};
  DeckProblem p;
};

// The layered part of a homogeneous body vanishes in the top layer: every
// slot equals the plate routine's response alone. What remains is the
// integration's residual of that zero part; it is measured against the
// slot's scale (its largest magnitude over the points) and must stay below
// 1e-5 of it (measured: 1.7e-6).
TEST_F(WholeEngine, HomogeneousTopLayerIsThePlateSolutionAlone) {
  std::array<double, 15> scale{}, residual{};
  for (int k = 1; k <= p.npoint; ++k) {
    const double r = p.xpoint[k - 1], z = p.zpoint[k - 1];
    double v[6];
    plate::plate_response(1, r, kE, kNu, v[0], v[1], v[2], v[3], v[4], v[5], z, p.press.data(), p.radius.data());
    const auto want = slots_from_polar(v, r == 0.0);
    for (int s = 1; s <= 15; ++s) {
      scale[s - 1] = std::max(scale[s - 1], std::fabs(want[s - 1]));
      residual[s - 1] = std::max(residual[s - 1], std::fabs(result_slot(*ws, s, k) - want[s - 1]));
    }
  }
  double worst = 0;
  for (int s = 1; s <= 15; ++s) {
    if (scale[s - 1] == 0) {  // u_y and the y shears vanish on the x axis
      EXPECT_EQ(residual[s - 1], 0.0) << "slot " << s;
      continue;
    }
    EXPECT_LE(residual[s - 1], 1e-5 * scale[s - 1]) << "slot " << s;
    worst = std::max(worst, residual[s - 1] / scale[s - 1]);
  }
  std::printf("  layered residual in a homogeneous top layer: %.1e of the slot scale\n", worst);
}

// And the total is the exact half-space response (independent Hankel
// summation). Away from the load edge (r/a <= 0.64 or >= 1.5) the plate
// tables interpolate to 1.2e-3 in displacements and 8e-3 in strains and
// stresses (tests/unit/plate); at the surface the strains are exact and the
// displacements within 3e-4 (the far block's first interval, r/a = 5.08)
// everywhere but on the edge itself.
TEST_F(WholeEngine, HomogeneousTopLayerIsTheExactHalfSpace) {
  double worst_smooth = 0, worst_surface = 0;
  for (int k = 1; k <= p.npoint; ++k) {
    const double r = p.xpoint[k - 1], z = p.zpoint[k - 1], rho = r / kA;
    const bool smooth = rho <= 0.64 || rho >= 1.5;
    if (!smooth && z > 0) continue;  // towards the edge: see tests/unit/plate
    if (rho == 1.0 && z == 0) continue;  // U on the edge: chord across its kink
    const auto ref = plate_test::halfspace(r, z, kA, kQ, kE, kNu);
    const double polar[6] = {ref.W, ref.U, ref.ER, ref.ET, ref.EZ, ref.ERZ};
    const auto want = slots_from_polar(polar, r == 0.0);
    const double disp = (1 + kNu) * kQ * kA / kE, strain = (1 + kNu) * kQ / kE;
    for (int s = 1; s <= 15; ++s) {
      const bool is_disp = s <= 3, is_stress = s >= 4 && s <= 9;
      const double scale = is_disp ? disp : is_stress ? kQ : strain;
      const double e = std::fabs(result_slot(*ws, s, k) - want[s - 1]) / std::max(std::fabs(want[s - 1]), 0.01 * scale);
      const double tol = z == 0 ? (is_disp ? 5e-4 : 1e-4) : (is_disp ? 1.2e-3 : 8e-3);
      EXPECT_LE(e, tol) << "r=" << r << " z=" << z << " slot " << s;
      (z == 0 ? worst_surface : worst_smooth) = std::max(z == 0 ? worst_surface : worst_smooth, e);
    }
  }
  std::printf("  surface: max rel. error %.2e; below the surface away from the edge: %.2e\n", worst_surface,
              worst_smooth);
}

// Far from the load (36 to 1000 radii) the top layer's half-space part comes
// from the plate routine's far field: the displacements of a homogeneous
// structure are those of the exact half-space (Boussinesq's solution summed
// over the circle) to 1e-4 (measured 3e-5; before, this part was dropped
// with out-of-range warnings and w was 0), without warnings.
TEST(WholeEngineFarField, HomogeneousStructureFarFromTheLoad) {
  std::array<double, 10> abstol{}, reltol{};
  testing::deck_tolerances(abstol, reltol);
  DeckProblem p = homogeneous_structure();
  for (double z : {0.0, 2.655})
    for (double rho : {36.0, 150.0, 1000.0}) {
      p.lpoint[p.npoint] = 1;
      p.xpoint[p.npoint] = rho * kA;
      p.zpoint[p.npoint] = z;
      ++p.npoint;
    }
  int warnings = 0;
  toolkit::ScopedErrorHandler handler([&](const toolkit::ErrorEvent&) { ++warnings; });
  auto ws = make_engine_workspace();
  analyse_problem(*ws, p, abstol, reltol);
  EXPECT_EQ(warnings, 0);
  for (int k = 1; k <= p.npoint; ++k) {
    const double r = p.xpoint[k - 1], z = p.zpoint[k - 1];
    const auto exact = plate_test::boussinesq_disk(r, z, kA, kQ, kE, kNu);
    EXPECT_NEAR(result_slot(*ws, 1, k), exact.W, 1e-4 * std::fabs(exact.W)) << r << " " << z;
    EXPECT_NEAR(result_slot(*ws, 2, k), exact.U, 1e-4 * std::fabs(exact.U)) << r << " " << z;
  }
}

// Mode 1 through the engine entry: surface deflections of four layered
// structures (pressure 100, radius 5.9; Poisson's ratios 0.35..0.49, bottom
// modulus 1e7) against the independent layered solution. Error relative to
// each deflection, floor 1% of the deflection under the load. A prototype
// with the exact half-space in place of the tables reached 1.3e-6; the
// tables add their interpolation error of the top layer's surface W (1e-5 to
// 6e-5 of it at r/a = 1.36 .. 10). Measured: 1.6e-5 at most (S7 at r = 36
// and 48, where the plate part's own error is 2.6e-9 and 9.2e-9 inches and
// the basin passes through zero); the results are 4-byte floats. Above 1e-4
// is a fault.
TEST(WholeEngineMode1, LayeredDeflectionBasins) {
  std::map<std::string, std::map<int, double>> ref;
  for (const auto& row : testing::read_csv("layered_mode1.csv")) ref[row[0]][std::stoi(row[1])] = std::stod(row[2]);
  const char* dir = std::getenv("ZALK3071_DIR");
  ASSERT_NE(dir, nullptr);
  const std::filesystem::path deck = std::filesystem::path(dir) / "whole_engine_deck.txt";
  auto ws = make_engine_workspace();
  const int offsets[8] = {0, 8, 12, 18, 24, 36, 48, 60};
  double worst = 0;
  for (const zalk::testing::ReferenceStructure& s : zalk::testing::kReferenceStructures) {
    float defl[8] = {}, resp[10] = {}, seastab[5] = {1, 1, 1, 1, 1};
    const float e1 = float(s.e1), e2 = float(s.e2), e3 = float(s.e3);
    quorvan(*ws, deck, float(s.h1), float(s.h2), float(s.h3), &e1, &e2, &e3, 1.0f, defl, resp, seastab, 1, 1);
    const double w0 = ref[s.id].at(0);
    for (int i = 0; i < 8; ++i) {
      const double want = ref[s.id].at(offsets[i]);
      const double e = std::fabs(defl[i] - want) / std::max(std::fabs(want), 0.01 * w0);
      EXPECT_LE(e, 1e-4) << s.id << " r=" << offsets[i] << ": " << defl[i] << " vs " << want;
      std::printf("  %s r=%2d w %.7e ref %.7e rel. error %.1e\n", s.id, offsets[i], defl[i], want, e);
      worst = std::max(worst, e);
    }
  }
  std::printf("  mode 1 max rel. error %.2e\n", worst);
}

}  // namespace
}  // namespace zalk::engine
