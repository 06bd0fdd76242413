// Per-problem set-up, the mode-2 indicators and the entry's handling of its
// arguments.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include "engine/driver.h"
#include "engine/quorvan.h"
#include "toolkit/errors.h"

namespace zalk::engine {
namespace {

ProblemSet deck_of(float h1, float h2, int mode) {
  const float e1 = 500000, e2 = 30000, e3 = 10000;
  DeckRequest r;
  r.h1 = h1;
  r.h2 = h2;
  r.h3 = 12;
  r.e1 = &e1;
  r.e2 = &e2;
  r.e3 = &e3;
  r.q = 1;
  r.ncases = 1;
  r.mode = mode;
  ProblemSet set;
  read_deck_text(write_deck_text(r), set);
  return set;
}

std::filesystem::path deck_file() {
  const char* dir = std::getenv("ZALK3071_DIR");
  return std::filesystem::path(dir ? dir : ".") / "input_m.txt";
}

class SetUp : public ::testing::Test {
 protected:
  const CurrentProblem& set_up(float h1, float h2, int mode) {
    set_up_problem(*ws, deck_of(h1, h2, mode).problems[0]);
    return ws->current;
  }
  std::unique_ptr<EngineWorkspace> ws = make_engine_workspace();
};

TEST_F(SetUp, TopLayerSplitUnderTheMode1Load) {
  // Radius 5.9: 0.45 a = 2.655, 0.9 a = 5.31.
  const CurrentProblem& thin = set_up(2, 8, 1);
  EXPECT_EQ(thin.nl, 4);
  EXPECT_EQ(thin.h[0], 2.0);

  const CurrentProblem& halves = set_up(4, 8, 1);
  ASSERT_EQ(halves.nl, 5);
  EXPECT_EQ(halves.h[0], 2.0);
  EXPECT_EQ(halves.h[1], 2.0);
  EXPECT_EQ(halves.h[2], 8.0);
  EXPECT_EQ(halves.e[1], 500000.0);
  EXPECT_EQ(halves.e[2], 30000.0);
  EXPECT_EQ(halves.pr[1], halves.pr[0]);
  EXPECT_EQ(halves.pr[4], 0.49);
  EXPECT_EQ(halves.bd[0], 1.0);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(halves.lp[k], 1);  // surface points stay

  const CurrentProblem& thick = set_up(6, 8, 1);
  ASSERT_EQ(thick.nl, 5);
  EXPECT_EQ(thick.h[0], 0.45 * 5.9);
  EXPECT_EQ(thick.h[1], 6.0 - 0.45 * 5.9);
}

TEST_F(SetUp, TopLayerSplitUnderTheMode2Loads) {
  // Radius 3.8: split above 1.71, halves up to 3.42.
  const CurrentProblem& thin = set_up(1.5f, 8, 2);
  EXPECT_EQ(thin.nl, 4);
  EXPECT_EQ(thin.lp[0], 1);

  const CurrentProblem& halves = set_up(3, 8, 2);
  ASSERT_EQ(halves.nl, 5);
  EXPECT_EQ(halves.h[0], 1.5);
  EXPECT_EQ(halves.h[1], 1.5);
  // Point 1 at depth h1 moves into the lower half; deeper points one layer down.
  EXPECT_EQ(halves.lp[0], 2);
  EXPECT_EQ(halves.lp[1], 3);
  EXPECT_EQ(halves.lp[2], 4);

  const CurrentProblem& thick = set_up(4, 8, 2);
  ASSERT_EQ(thick.nl, 5);
  EXPECT_EQ(thick.h[0], 0.45 * 3.8);
  EXPECT_EQ(thick.h[1], 4.0 - 0.45 * 3.8);
}

TEST_F(SetUp, PointOnTheNewInterfaceStaysInTheTopLayer) {
  DeckProblem p = deck_of(4, 8, 1).problems[0];
  p.zpoint[1] = 2.0;   // on the interface of the halves
  p.zpoint[2] = 2.01;  // just below it
  set_up_problem(*ws, p);
  EXPECT_EQ(ws->current.lp[1], 1);
  EXPECT_EQ(ws->current.lp[2], 2);
}

TEST_F(SetUp, ResultSlotsAreZeroedAndLimitsEnforced) {
  ws->rslot.at(7, 1000) = 3.0;
  set_up(4, 8, 1);
  EXPECT_EQ(ws->rslot.at(7, 1000), 0.0);

  toolkit::ErrorEvent seen;
  toolkit::ScopedErrorHandler handler([&](const toolkit::ErrorEvent& e) { seen = e; });
  DeckProblem p = deck_of(4, 8, 1).problems[0];
  p.nlayer = 1;
  EXPECT_THROW(set_up_problem(*ws, p), toolkit::SevereError);
  EXPECT_EQ(seen.type, toolkit::TERMINAL);
  p = deck_of(4, 8, 1).problems[0];
  p.lpoint[3] = 5;
  EXPECT_THROW(set_up_problem(*ws, p), toolkit::SevereError);
  EXPECT_NE(seen.message.find("Point 4 is placed in layer 5"), std::string::npos) << seen.message;
}

// Layer and point values the analysis cannot take are refused in the
// set-up, naming the layer or point and the value.
TEST_F(SetUp, LayerAndPointValuesOutsideTheirRangesAreRefused) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    void (*spoil)(DeckProblem&, double);
    double value;
    const char* says;
  } rows[] = {
      {[](DeckProblem& p, double v) { p.pratio[1] = v; }, 0.5, "Layer 2 has Poisson's ratio 0.5"},
      {[](DeckProblem& p, double v) { p.pratio[3] = v; }, -1.0, "Layer 4 has Poisson's ratio -1"},
      {[](DeckProblem& p, double v) { p.pratio[0] = v; }, nan, "Layer 1 has Poisson's ratio"},
      {[](DeckProblem& p, double v) { p.emod[2] = v; }, 0.0, "Layer 3 has the modulus 0"},
      {[](DeckProblem& p, double v) { p.emod[3] = v; }, -5.0, "Layer 4 has the modulus -5"},
      {[](DeckProblem& p, double v) { p.emod[0] = v; }, inf, "Layer 1 has the modulus"},
      {[](DeckProblem& p, double v) { p.thick[1] = v; }, -1.0, "Layer 2 has the thickness -1"},
      {[](DeckProblem& p, double v) { p.thick[2] = v; }, nan, "Layer 3 has the thickness"},
      {[](DeckProblem& p, double v) { p.zpoint[4] = v; }, -0.5, "Point 5 has the depth -0.5"},
      {[](DeckProblem& p, double v) { p.zpoint[0] = v; }, inf, "Point 1 has the depth"},
  };
  toolkit::ErrorEvent seen;
  toolkit::ScopedErrorHandler handler([&](const toolkit::ErrorEvent& e) { seen = e; });
  for (const auto& row : rows) {
    DeckProblem p = deck_of(4, 8, 1).problems[0];
    row.spoil(p, row.value);
    EXPECT_THROW(set_up_problem(*ws, p), toolkit::SevereError) << row.says;
    EXPECT_EQ(seen.type, toolkit::TERMINAL);
    EXPECT_NE(seen.message.find(row.says), std::string::npos) << seen.message;
  }
  // The half-space's thickness is not used, and a layer may be 0 thick.
  DeckProblem p = deck_of(4, 8, 1).problems[0];
  p.thick[3] = -1.0;
  p.thick[2] = 0.0;
  EXPECT_NO_THROW(set_up_problem(*ws, p));
}

TEST(Mode2Deck, LayerOfThePointsFollowsTheBaseThickness) {
  auto layers = [](float h2) {
    const DeckProblem p = deck_of(4, h2, 2).problems[0];
    return std::array<int, 5>{p.lpoint[0], p.lpoint[1], p.lpoint[2], p.lpoint[3], p.lpoint[4]};
  };
  EXPECT_EQ(layers(5.9f), (std::array<int, 5>{1, 3, 3, 3, 3}));
  EXPECT_EQ(layers(6.0f), (std::array<int, 5>{1, 2, 3, 2, 3}));
  EXPECT_EQ(layers(11.9f), (std::array<int, 5>{1, 2, 3, 2, 3}));
  EXPECT_EQ(layers(12.0f), (std::array<int, 5>{1, 2, 2, 2, 2}));
}

TEST(Mode2Indicators, PassiveCoefficient) {
  // tan(57 degrees) with the 4-byte value of pi: 1.5398686...
  EXPECT_NEAR(passive_coefficient(), 1.5398686, 5e-8);
}

// With no overburden and no cohesion a candidate's ratio is
// -kp^2 (rm + cm) / (rm - cm); doubling every stress keeps the ratio
// exactly and doubles s1, which tells equal-ratio candidates apart.
struct Plane {
  double horizontal, shear;
};
ResultSlots slots_with(Plane a2, Plane b2, Plane a4, Plane b4) {
  ResultSlots rs;
  rs.at(4, 2) = a2.horizontal;
  rs.at(9, 2) = a2.shear;
  rs.at(5, 2) = b2.horizontal;
  rs.at(8, 2) = b2.shear;
  rs.at(4, 4) = a4.horizontal;
  rs.at(9, 4) = a4.shear;
  rs.at(5, 4) = b4.horizontal;
  rs.at(8, 4) = b4.shear;
  return rs;
}

TEST(Mode2Indicators, CandidateChoiceAndTies) {
  const double kp = passive_coefficient();
  const Plane base{-8, 3};    // rm 5, cm -4: s1 9, s3 -1
  const Plane doubled{-16, 6};  // same ratio, s1 18
  const Plane weak{-1, 0};    // s3 0: ratio 0, larger than -kp^2/9
  float col[10];

  // Equal ratios at point 2: B is taken.
  ResultSlots rs = slots_with(base, doubled, weak, weak);
  mode2_indicators(rs, 0, 0, 0, kp, col);
  EXPECT_EQ(col[6], 18.0f);
  EXPECT_EQ(col[2], -2.0f);
  EXPECT_FLOAT_EQ(col[4], float(-kp * kp / 9.0));

  // A smaller ratio at point 2 is A.
  rs = slots_with(base, weak, weak, weak);
  mode2_indicators(rs, 0, 0, 0, kp, col);
  EXPECT_EQ(col[6], 9.0f);

  // An equal ratio at point 4 does not replace point 2's choice, neither A nor B.
  rs = slots_with(base, weak, doubled, doubled);
  mode2_indicators(rs, 0, 0, 0, kp, col);
  EXPECT_EQ(col[6], 9.0f);

  // A strictly smaller ratio at point 4 (B) does.
  const Plane stronger{-8, 4};  // rm sqrt(32): ratio below -kp^2/9
  rs = slots_with(base, weak, weak, stronger);
  mode2_indicators(rs, 0, 0, 0, kp, col);
  EXPECT_NE(col[6], 9.0f);
  EXPECT_LT(col[4], float(-kp * kp / 9.0));
}

TEST(Mode2Indicators, PositiveHorizontalStressesAreDropped) {
  const double kp = passive_coefficient();
  ResultSlots rs = slots_with({5, 3}, {2, 3}, {-1, 0}, {7, 0});
  rs.at(4, 3) = 9.0;  // other points keep theirs
  rs.at(6, 2) = -8.0;
  float col[10];
  mode2_indicators(rs, 0, 0, 0, kp, col);
  EXPECT_EQ(rs.at(4, 2), 0.0);
  EXPECT_EQ(rs.at(5, 2), 0.0);
  EXPECT_EQ(rs.at(5, 4), 0.0);
  EXPECT_EQ(rs.at(4, 4), -1.0);
  EXPECT_EQ(rs.at(4, 3), 9.0);
  // Point 2 with sigma_h 0, sigma_z -8, tau 3: rm 5, cm -4, as `base` above.
  EXPECT_EQ(col[6], 9.0f);
}

TEST(Mode2Indicators, OverburdenCohesionAndSlotIndicators) {
  const double kp = passive_coefficient();
  ResultSlots rs = slots_with({-8, 3}, {-1, 0}, {-1, 0}, {-1, 0});
  rs.at(10, 1) = 2.5e-4;
  rs.at(12, 2) = -3e-4;
  rs.at(12, 3) = -1e-4;
  rs.at(12, 5) = 2e-4;
  rs.at(5, 3) = -4.5;
  rs.at(1, 1) = 0.012;
  rs.at(1, 3) = 0.008;
  float col[10];
  col[9] = 42.0f;
  // h1 4, h2 8: overburden 0.087 * 8 = 0.696 (4-byte).
  mode2_indicators(rs, 4, 8, 60.0f, kp, col);
  const double zov = double(0.087f * 8.0f);
  EXPECT_DOUBLE_EQ(col[6], float(9.0 + zov));                       // s1
  EXPECT_DOUBLE_EQ(col[2], float(0.5 * zov - 1.0));                 // s3
  EXPECT_FLOAT_EQ(col[3], float(120.0 * kp + kp * kp * (0.5 * zov - 1.0)));
  EXPECT_FLOAT_EQ(col[4], col[3] / col[6]);
  EXPECT_EQ(col[0], 2.5e-4f);
  EXPECT_EQ(col[1], 3e-4f);
  EXPECT_EQ(col[5], 2e-4f);
  EXPECT_EQ(col[7], -4.5f);
  EXPECT_FLOAT_EQ(col[8], 4.0f);
  EXPECT_EQ(col[9], 42.0f);
}

class Entry : public ::testing::Test {
 protected:
  std::unique_ptr<EngineWorkspace> ws = make_engine_workspace();
  const float e1[2] = {500000, 1500000}, e2[2] = {30000, 50000}, e3[2] = {10000, 15000};
  const float seastab[5] = {10.0f, 0.2f, 1.0f, 1.3f, 1.0f};
};

TEST_F(Entry, NoCasesTouchesNothing) {
  float defl[8], resp[10];
  std::fill(defl, defl + 8, -1.0f);
  std::fill(resp, resp + 10, -1.0f);
  quorvan(*ws, deck_file(), 4, 8, 12, e1, e2, e3, 1, defl, resp, seastab, 0, 1);
  quorvan(*ws, deck_file(), 4, 8, 12, e1, e2, e3, 1, defl, resp, seastab, -3, 2);
  for (float v : defl) EXPECT_EQ(v, -1.0f);
  for (float v : resp) EXPECT_EQ(v, -1.0f);
}

TEST_F(Entry, Mode1LastCaseWinsAndScalesWithTheLoad) {
  float one[8], both[8], half[8], resp[10];
  std::fill(resp, resp + 10, -1.0f);
  quorvan(*ws, deck_file(), 4, 8, 12, e1 + 1, e2 + 1, e3 + 1, 1, one, resp, seastab, 1, 1);
  quorvan(*ws, deck_file(), 4, 8, 12, e1, e2, e3, 1, both, resp, seastab, 2, 1);
  quorvan(*ws, deck_file(), 4, 8, 12, e1 + 1, e2 + 1, e3 + 1, 0.5f, half, resp, seastab, 1, 1);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(both[i], one[i]) << i;
    // Linear elasticity: half the pressure, half the deflection.
    EXPECT_FLOAT_EQ(half[i], one[i] / 2) << i;
  }
  EXPECT_GT(one[0], one[1]);
  for (float v : resp) EXPECT_EQ(v, -1.0f);
}

TEST_F(Entry, Mode2ColumnsPerCaseAndTooManyCasesRefused) {
  float defl[8], resp[20], single[10];
  std::fill(defl, defl + 8, -1.0f);
  resp[9] = resp[19] = -5.0f;
  quorvan(*ws, deck_file(), 4, 8, 12, e1, e2, e3, 1, defl, resp, seastab, 2, 2);
  quorvan(*ws, deck_file(), 4, 8, 12, e1 + 1, e2 + 1, e3 + 1, 1, defl, single, seastab + 1, 1, 2);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(resp[10 + i], single[i]) << i;
  EXPECT_EQ(resp[9], -5.0f);
  EXPECT_EQ(resp[19], -5.0f);
  for (float v : defl) EXPECT_EQ(v, -1.0f);

  toolkit::ErrorEvent seen;
  toolkit::ScopedErrorHandler handler([&](const toolkit::ErrorEvent& e) { seen = e; });
  const float many[6] = {1e5f, 1e5f, 1e5f, 1e5f, 1e5f, 1e5f};
  float big[60];
  EXPECT_THROW(quorvan(*ws, deck_file(), 4, 8, 12, many, many, many, 1, defl, big, seastab, 6, 2),
               toolkit::SevereError);
  EXPECT_EQ(seen.type, toolkit::TERMINAL);
  EXPECT_NE(seen.message.find("at most 5 cases"), std::string::npos);
}

// Thin base and subbase layers (h2 = 1, h3 = 2 or 0): the deck declares
// points 2 to 5 in layer 3 but they lie in the half-space. Each case warns
// about the four points and returns indicators of the half-space there
// (vertical strains about 1e-6 and a w difference near 1e-3 in, where the
// declared layer's solution continued outside it gave up to 1e27 or inf).
TEST_F(Entry, Mode2WithThinLowerLayersEvaluatesThePointsWhereTheyLie) {
  int warnings = 0;
  toolkit::ScopedErrorHandler handler([&](const toolkit::ErrorEvent& e) {
    if (e.type == toolkit::WARNING) ++warnings;
  });
  for (float h3 : {2.0f, 0.0f}) {
    warnings = 0;
    float resp[10];
    quorvan(*ws, deck_file(), 4, 1, h3, e1, e2, e3, 1, nullptr, resp, seastab, 1, 2);
    EXPECT_EQ(warnings, 4) << h3;
    for (int i = 0; i < 9; ++i) EXPECT_TRUE(std::isfinite(resp[i])) << h3 << " element " << i + 1;
    EXPECT_LT(std::abs(resp[1]), 1e-4f) << h3;  // eps_z at point 2
    EXPECT_LT(std::abs(resp[5]), 1e-4f) << h3;  // eps_z at points 3 and 5
    EXPECT_LT(std::abs(resp[8]), 10.0f) << h3;  // (w1 - w3) x 1000
  }
}

}  // namespace
}  // namespace zalk::engine
