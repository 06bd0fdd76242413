// The analysis deck: the exact text the writer produces, the values the
// reader takes from it, and the refusal of input that would be misread.
#include "engine/deck.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "engine/fortio.h"
#include "toolkit/errors.h"

namespace zalk::engine {
namespace {

using toolkit::ErrorEvent;
using toolkit::ScopedErrorHandler;
using toolkit::SevereError;

// The deck of one mode-1 case with h = 4, 8, 12, moduli 500000, 30000, 10000
// and q = 0.82, written out by hand from the record layout.
constexpr const char* kExampleDeck =
    " QuORVAN input plate problem \n"
    "           1\n"
    "  4  1  1\n"
    ".500E+06  0.35   4.000 0000.\n"
    ".300E+05  0.40   8.000 0000.\n"
    ".100E+05  0.45  12.000 0000.\n"
    ".100E+08  0.49\n"
    " 1\n"
    "   82.000 005.900 0000.00 0000.00 0. 0.\n"
    " 8\n"
    "  1 0000.00 0000.00 0000.00 0.\n"
    "  1    8.00    0.00    0.00 0.\n"
    "  1   12.00    0.00    0.00 0.\n"
    "  1   18.00    0.00    0.00 0.\n"
    "  1   24.00    0.00    0.00 0.\n"
    "  1   36.00    0.00    0.00 0.\n"
    "  1   48.00    0.00    0.00 0.\n"
    "  1   60.00    0.00    0.00 0.\n";

struct Moduli {
  std::vector<float> e1, e2, e3;
};

DeckRequest request_for(const Moduli& m, float h1, float h2, float h3, float q, int mode) {
  DeckRequest r;
  r.h1 = h1;
  r.h2 = h2;
  r.h3 = h3;
  r.e1 = m.e1.data();
  r.e2 = m.e2.data();
  r.e3 = m.e3.data();
  r.q = q;
  r.ncases = static_cast<int>(m.e1.size());
  r.mode = mode;
  return r;
}

// Records every reported error; severe ones then throw SevereError.
struct Recorder {
  std::vector<ErrorEvent> events;
  ScopedErrorHandler handler{[this](const ErrorEvent& e) { events.push_back(e); }};
};

TEST(DeckWriter, ExampleModeOneDeckByteForByte) {
  const Moduli m{{500000.f}, {30000.f}, {10000.f}};
  EXPECT_EQ(write_deck_text(request_for(m, 4.f, 8.f, 12.f, 0.82f, 1)), kExampleDeck);
}

TEST(DeckReader, ExampleDeckValues) {
  ProblemSet set;
  read_deck_text(kExampleDeck, set);
  ASSERT_EQ(set.nprob, 1);
  EXPECT_EQ(set.title, std::string(" QuORVAN input plate problem ") + std::string(21, ' '));
  const DeckProblem& p = set.problems[0];
  ASSERT_EQ(p.nlayer, 4);
  const double emod[] = {500000, 30000, 10000, 1.0e7};
  const double pratio[] = {0.35, 0.40, 0.45, 0.49};
  const double thick[] = {4, 8, 12, 0};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(p.emod[i], emod[i]) << i;
    EXPECT_EQ(p.pratio[i], pratio[i]) << i;  // decimal text read as the nearest double
    EXPECT_EQ(p.thick[i], thick[i]) << i;
    EXPECT_EQ(p.bond[i], 1.0) << i;  // " 0000." and the missing field of the bottom layer
  }
  ASSERT_EQ(p.nload, 1);
  EXPECT_EQ(p.press[0], 82.0);
  EXPECT_EQ(p.radius[0], 5.9);
  EXPECT_EQ(p.xload[0], 0.0);
  EXPECT_EQ(p.yload[0], 0.0);
  ASSERT_EQ(p.npoint, 8);
  const double x[] = {0, 8, 12, 18, 24, 36, 48, 60};
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(p.lpoint[k], 1);
    EXPECT_EQ(p.xpoint[k], x[k]);
    EXPECT_EQ(p.ypoint[k], 0.0);
    EXPECT_EQ(p.zpoint[k], 0.0);
  }
  EXPECT_EQ(set.abstol[0], 1e-6);
  EXPECT_EQ(set.abstol[2], 1e-7);
  EXPECT_EQ(set.abstol[5], 1e-7);
  EXPECT_EQ(set.abstol[6], 1e-6);
  EXPECT_EQ(set.reltol[9], 0.001);
}

}  // namespace
}  // namespace zalk::engine
