// The analysis deck: the exact text the writer produces and the values the
// reader takes from it.
#include "io/deck.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/fortio.h"
#include "unit/fortio/example_deck.h"

namespace zalk::engine {
namespace {

using testing::kExampleDeck;

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

TEST(DeckWriter, ModeTwoDeckLayersAndDepthSums) {
  const Moduli m{{523456.f, 999999.f}, {30000.f, 30000.f}, {10000.f, 10000.f}};
  // h1 = 1.2345 (4-byte 1.23450005...): 6 + h1 in 8 bytes is 7.2345000505 -> 7.235,
  // h1 + 12 in 4 bytes is 13.23449993 -> 13.234 (8 bytes would give 13.235).
  const std::string deck = write_deck_text(request_for(m, 1.2345f, 5.9f, 12.f, 0.f, 2));
  const std::string one_case =
      "  4  1  1\n"
      ".523E+06  0.35   1.235 0000.\n"
      ".300E+05  0.40   5.900 0000.\n"
      ".100E+05  0.45  12.000 0000.\n"
      ".100E+08  0.49\n"
      " 2\n"
      " 00100.00 003.800 0000.00 0000.00 0. 0.\n"
      " 00100.00 003.800 0013.50 0000.00 0. 0.\n"
      " 5\n"
      "  1 0000.00 0000.00   1.235 0.\n"
      "  3 0000.00 0000.00   7.235 0.\n"
      "  3 0000.00 0000.00  13.234 0.\n"
      "  3 0006.75 0000.00   7.235 0.\n"
      "  3 0006.75 0000.00  13.234 0.\n";
  std::string second = one_case;
  second.replace(second.find(".523E+06"), 8, ".100E+07");  // 999999 rounds into the next decade
  EXPECT_EQ(deck, " QuORVAN input plate problem \n           2\n" + one_case + second);
}

TEST(DeckWriter, LayerNumbersOfTheDeepPointsUseStrictComparisons) {
  const Moduli m{{500000.f}, {30000.f}, {10000.f}};
  struct Case {
    float h2;
    int layer_at_6, layer_at_12;
  };
  for (const Case c : {Case{5.9f, 3, 3}, Case{6.0f, 2, 3}, Case{11.9f, 2, 3}, Case{12.0f, 2, 2},
                       Case{std::nextafter(6.0f, 0.f), 3, 3}}) {
    ProblemSet set;
    read_deck_text(write_deck_text(request_for(m, 4.f, c.h2, 10.f, 0.f, 7)), set);
    ASSERT_EQ(set.problems[0].npoint, 5);
    const auto& lp = set.problems[0].lpoint;
    EXPECT_EQ(lp[0], 1);
    EXPECT_EQ(lp[1], c.layer_at_6) << c.h2;
    EXPECT_EQ(lp[3], c.layer_at_6) << c.h2;
    EXPECT_EQ(lp[2], c.layer_at_12) << c.h2;
    EXPECT_EQ(lp[4], c.layer_at_12) << c.h2;
  }
}

TEST(DeckReader, ModuliKeepThreeSignificantDigits) {
  const Moduli m{{523456.f}, {1.0e7f}, {999999.f}};
  ProblemSet set;
  read_deck_text(write_deck_text(request_for(m, 4.f, 8.f, 12.f, 0.f, 2)), set);
  ASSERT_EQ(set.nprob, 1);
  EXPECT_EQ(set.problems[0].emod[0], 523000.0);
  EXPECT_EQ(set.problems[0].emod[1], 1.0e7);
  EXPECT_EQ(set.problems[0].emod[2], 1.0e6);
  EXPECT_EQ(set.problems[0].xload[1], 13.5);
  EXPECT_EQ(set.problems[0].xpoint[4], 6.75);
}

TEST(DeckReader, CountsOfZeroOrLessConsumeOneRecord) {
  // Layer count 0 and point count -2: each still takes one record (whose text
  // is not read), and a negative count is kept as no entries at all.
  const std::string deck =
      "title\n"
      "           1\n"
      "  0  1  1\n"
      "any text here is skipped\n"
      "  1\n"
      "   50.00   3.000\n"
      " -2\n"
      "**** also skipped\n";
  ProblemSet set;
  read_deck_text(deck, set);
  ASSERT_EQ(set.nprob, 1);
  EXPECT_EQ(set.title, "title" + std::string(45, ' '));
  const DeckProblem& p = set.problems[0];
  EXPECT_EQ(p.nlayer, 0);
  EXPECT_EQ(p.nload, 1);
  EXPECT_EQ(p.press[0], 50.0);
  EXPECT_EQ(p.radius[0], 3.0);
  EXPECT_EQ(p.xload[0], 0.0);  // short record: the rest reads as blanks
  EXPECT_EQ(p.npoint, 0);
}

TEST(DeckReader, NoCasesWritesTitleAndCountOnly) {
  for (int n : {0, -3}) {
    DeckRequest r;
    r.ncases = n;
    const std::string deck = write_deck_text(r);
    EXPECT_EQ(deck, " QuORVAN input plate problem \n" + std::string(n == 0 ? "           0\n" : "          -3\n"));
    ProblemSet set;
    set.problems.resize(3);
    read_deck_text(deck, set);
    EXPECT_EQ(set.nprob, 0);
    EXPECT_TRUE(set.problems.empty());
    EXPECT_EQ(set.reltol[0], 0.001);
  }
}

// A deck at the limits, written field by field with the output edits; the
// expected values come from the C library's own conversion of each field.
class BigDeck {
 public:
  std::string text;
  struct Problem {
    std::vector<double> emod, pratio, thick, bond;
    std::vector<double> press, radius, xload, yload;
    std::vector<int> lpoint;
    std::vector<double> xpoint, ypoint, zpoint;
  };
  std::vector<Problem> problems;

  explicit BigDeck(int nprob) {
    text = "big deck\n";
    fortio::put_i(text, nprob, 12);
    text += '\n';
    for (int p = 1; p <= nprob; ++p) add_problem(p, nprob);
  }

 private:
  unsigned state_ = 12345u;
  double uniform(double lo, double hi) {
    state_ = state_ * 1664525u + 1013904223u;
    return lo + (hi - lo) * (state_ >> 8) / double(1u << 24);
  }
  // Appends a field and returns the value the field's text denotes.
  double field(double v, int w, int d, bool e_edit = false) {
    const std::size_t start = text.size();
    const bool ok = e_edit ? fortio::put_e(text, v, w, d) : fortio::put_f(text, v, w, d);
    EXPECT_TRUE(ok);
    return std::strtod(text.c_str() + start, nullptr);
  }
  void count(int n) {
    EXPECT_TRUE(fortio::put_i(text, n, 3));
    text += "  1  1\n";
  }
  void add_problem(int p, int nprob) {
    const bool full = p == 1 || p == nprob;
    const int nl = full ? kMaxLayers : 1 + (p * 7) % kMaxLayers;
    const int nld = full ? kMaxLoads : 1 + p % kMaxLoads;
    // An I3 count field holds at most 999 points.
    const int npt = full ? 999 : 1 + (p * 37) % 97;
    Problem pr;
    count(nl);
    for (int i = 0; i < nl; ++i) {
      pr.emod.push_back(field(uniform(1e3, 1e8), 10, 4, true));
      pr.pratio.push_back(field(uniform(0.1, 0.5), 5, 3));
      pr.thick.push_back(field(uniform(0, 9999), 8, 2));
      const double v = field(uniform(0, 2000), 8, 1);
      pr.bond.push_back(std::fabs(1.0 - v / 1000.0));
      text += '\n';
    }
    count(nld);
    for (int j = 0; j < nld; ++j) {
      pr.press.push_back(field(uniform(-999, 99999), 9, 2));
      pr.radius.push_back(field(uniform(0, 999), 8, 3));
      pr.xload.push_back(field(uniform(-999, 9999), 8, 2));
      pr.yload.push_back(field(uniform(-999, 9999), 8, 2));
      text += " 1. 2.\n";
    }
    count(npt);
    for (int k = 0; k < npt; ++k) {
      pr.lpoint.push_back(1 + k % nl);
      fortio::put_i(text, pr.lpoint.back(), 3);
      pr.xpoint.push_back(field(uniform(-999, 9999), 8, 2));
      pr.ypoint.push_back(field(uniform(-999, 9999), 8, 2));
      pr.zpoint.push_back(field(uniform(0, 9999), 8, 2));
      text += " 3.\n";
    }
    problems.push_back(std::move(pr));
  }
};

template <std::size_t N, class T>
void expect_prefix(const std::array<T, N>& got, const std::vector<T>& want, const char* what, int p) {
  for (std::size_t i = 0; i < want.size(); ++i) {
    ASSERT_EQ(got[i], want[i]) << what << " " << i + 1 << " of problem " << p;
  }
}

TEST(DeckReader, DeckAtTheLimitsReadsBackExactly) {
  const BigDeck big(kMaxProblems);
  ProblemSet set;
  read_deck_text(big.text, set);
  ASSERT_EQ(set.nprob, kMaxProblems);
  for (int p = 0; p < kMaxProblems; ++p) {
    const DeckProblem& got = set.problems[static_cast<std::size_t>(p)];
    const BigDeck::Problem& want = big.problems[static_cast<std::size_t>(p)];
    ASSERT_EQ(got.nlayer, static_cast<int>(want.emod.size()));
    ASSERT_EQ(got.nload, static_cast<int>(want.press.size()));
    ASSERT_EQ(got.npoint, static_cast<int>(want.lpoint.size()));
    expect_prefix(got.emod, want.emod, "modulus", p + 1);
    expect_prefix(got.pratio, want.pratio, "Poisson's ratio", p + 1);
    expect_prefix(got.thick, want.thick, "thickness", p + 1);
    expect_prefix(got.bond, want.bond, "bond", p + 1);
    expect_prefix(got.press, want.press, "pressure", p + 1);
    expect_prefix(got.radius, want.radius, "radius", p + 1);
    expect_prefix(got.xload, want.xload, "x load", p + 1);
    expect_prefix(got.yload, want.yload, "y load", p + 1);
    expect_prefix(got.lpoint, want.lpoint, "layer of point", p + 1);
    expect_prefix(got.xpoint, want.xpoint, "x point", p + 1);
    expect_prefix(got.ypoint, want.ypoint, "y point", p + 1);
    expect_prefix(got.zpoint, want.zpoint, "depth", p + 1);
  }
  EXPECT_EQ(set.problems[0].nlayer, kMaxLayers);
  EXPECT_EQ(set.problems[0].nload, kMaxLoads);
  EXPECT_EQ(set.problems[0].npoint, 999);
}

TEST(DeckReader, StorageIsReusedBetweenReads) {
  ProblemSet set;
  read_deck_text(BigDeck(kMaxProblems).text, set);
  const DeckProblem* storage = set.problems.data();
  read_deck_text(kExampleDeck, set);
  EXPECT_EQ(set.problems.size(), 1u);
  read_deck_text(BigDeck(50).text, set);
  EXPECT_EQ(set.problems.size(), 50u);
  EXPECT_EQ(set.problems.data(), storage);
}

}  // namespace
}  // namespace zalk::engine
