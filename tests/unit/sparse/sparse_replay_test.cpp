// The replay solver against DLSLXG, bit for bit: solutions, IPARAM(4),
// RPARAM(4) and RPARAM(5), and the warnings, on runs of systems of one
// pattern whose pivots stay (layered systems along m) or change (random
// values), where a warning falls due, and where the parameters change.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "unit/sparse/layered_system.h"
#include "toolkit/errors.h"
#include "toolkit/sparse.h"
#include "toolkit/sparse_replay.h"

namespace zt = zalk::toolkit;
namespace st = zalk::sparse_testing;

namespace {

struct Outcome {
  std::vector<double> x;
  int iparam[6];
  double rparam[5];
  std::vector<std::string> warnings;
};

Outcome solve_with(zt::SparseReplaySolver* replay, const st::Coordinates& c, int n,
                   const std::vector<double>& b, double growth_limit = 1e16) {
  Outcome o;
  o.x.assign(std::size_t(n), -99.0);
  zt::DLSLXG_INIT(o.iparam, o.rparam);
  o.iparam[4] = 100000;
  o.rparam[0] = growth_limit;
  zt::ScopedErrorHandler h([&o](const zt::ErrorEvent& e) { o.warnings.push_back(e.routine + ": " + e.message); });
  if (replay) {
    replay->solve(n, c.nz(), c.a.data(), c.irow.data(), c.jcol.data(), b.data(), 1, o.iparam,
                  o.rparam, o.x.data());
  } else {
    zt::DLSLXG(n, c.nz(), c.a.data(), c.irow.data(), c.jcol.data(), b.data(), 1, o.iparam,
               o.rparam, o.x.data());
  }
  return o;
}

void expect_identical(zt::SparseReplaySolver& replay, const st::Coordinates& c, int n,
                      const std::vector<double>& b, const std::string& what,
                      double growth_limit = 1e16) {
  const Outcome want = solve_with(nullptr, c, n, b, growth_limit);
  const Outcome got = solve_with(&replay, c, n, b, growth_limit);
  EXPECT_EQ(0, std::memcmp(got.x.data(), want.x.data(), sizeof(double) * std::size_t(n))) << what;
  EXPECT_EQ(got.iparam[3], want.iparam[3]) << what;
  EXPECT_EQ(0, std::memcmp(&got.rparam[3], &want.rparam[3], 2 * sizeof(double))) << what;
  EXPECT_EQ(got.warnings, want.warnings) << what;
}

std::vector<double> unit_load(int n) {
  std::vector<double> b(std::size_t(n), 0.0);
  b[0] = 1.0;
  return b;
}

// Along m the pattern stays and the pivots mostly do: most systems are
// repeated, a few recorded anew.
TEST(SparseReplay, LayeredSystemsAlongTheTransformParameter) {
  const st::LayeredStructure structures[] = {
      st::five_layer_structure(),
      {{3000, 200000, 200000, 8000}, {0.45, 0.3, 0.3, 0.4}, {1.5, 6, 30}, {0.0, 0.5, 1.0}},
      {{1e6, 1e4}, {0.2, 0.49}, {0.7}, {1.0}}};
  for (const auto& s : structures) {
    zt::SparseReplaySolver replay;
    const int n = s.order();
    long long searched_first_sweep = 0;
    // The second sweep finds every pivot sequence recorded: where the pivots
    // part from one recording, another continues from that stage.
    for (int sweep = 0; sweep < 2; ++sweep) {
      for (int i = 0; i < 120; ++i) {
        const double m = 1e-3 * std::pow(1.08, i);
        const auto c = st::to_coordinates(st::layered_matrix(s, m), n);
        expect_identical(replay, c, n, unit_load(n), "order " + std::to_string(n) + " m " + std::to_string(m));
      }
      if (sweep == 0) searched_first_sweep = replay.counts().searched;
    }
    EXPECT_GT(replay.counts().repeated, 180) << n;
    EXPECT_EQ(replay.counts().searched, searched_first_sweep) << n;
  }
}

// Random values on a fixed random pattern: the pivots change from system to
// system, so the repetition is abandoned and the system recorded anew.
// The entries listed row by row, and shuffled (a row's entries then come in
// several runs, whose largest magnitudes must meet).
TEST(SparseReplay, RandomValuesOnOnePattern) {
  std::mt19937_64 rng(20261207);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (const auto& [n, shuffled] : {std::pair{5, false}, {12, false}, {30, false}, {12, true}, {30, true}}) {
    st::Coordinates c;
    for (int i = 1; i <= n; ++i) {
      for (int j = 1; j <= n; ++j) {
        if (i != j && unit(rng) < 0.6) continue;
        c.irow.push_back(i);
        c.jcol.push_back(j);
        c.a.push_back(0.0);
      }
    }
    if (shuffled) {
      std::vector<std::size_t> order(c.irow.size());
      for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
      std::shuffle(order.begin(), order.end(), rng);
      const st::Coordinates listed = c;
      for (std::size_t k = 0; k < order.size(); ++k) {
        c.irow[k] = listed.irow[order[k]];
        c.jcol[k] = listed.jcol[order[k]];
      }
    }
    zt::SparseReplaySolver replay;
    std::vector<double> b(static_cast<std::size_t>(n));
    for (int t = 0; t < 80; ++t) {
      // Every fourth system only scales the previous one: same pivots. The
      // second half takes values +-1, +-2 only: ties of cost and magnitude
      // everywhere, decided by the order of the search.
      const bool tied = t >= 40;
      for (auto& v : c.a) {
        v = t % 4 == 3 ? 2.0 * v
            : tied     ? (unit(rng) < 0.0 ? -1.0 : 1.0) * (unit(rng) < 0.0 ? 1.0 : 2.0)
                       : unit(rng) * std::pow(10.0, 3.0 * unit(rng));
      }
      for (auto& v : b) v = unit(rng);
      expect_identical(replay, c, n, b, "order " + std::to_string(n) + " system " + std::to_string(t));
    }
    EXPECT_GT(replay.counts().departed, 0) << n;
    EXPECT_GT(replay.counts().repeated, 0) << n;
  }
}

// Cases that must go to DLSLXG after a recording: a cancellation that leaves
// a tiny pivot, exact singularity, the growth limit, a pivot whose threshold
// test fails, non-finite values, a changed pattern, other parameters.
TEST(SparseReplay, DeparturesGiveDLSLXGsResultsAndWarnings) {
  st::Coordinates c;
  for (int i = 1; i <= 3; ++i) {
    for (int j = 1; j <= 3; ++j) {
      c.irow.push_back(i);
      c.jcol.push_back(j);
      c.a.push_back(i == j ? 4.0 : 1.0);
    }
  }
  const std::vector<double> b = {1.0, 2.0, 3.0};
  zt::SparseReplaySolver replay;
  expect_identical(replay, c, 3, b, "recorded");
  expect_identical(replay, c, 3, b, "repeated");
  EXPECT_EQ(replay.counts().repeated, 1);

  auto variant = [&](auto change, const std::string& what, double growth_limit = 1e16) {
    st::Coordinates d = c;
    change(d);
    expect_identical(replay, d, 3, b, what, growth_limit);
    expect_identical(replay, c, 3, b, what + ", then the first again");
  };
  variant([](st::Coordinates& d) { d.a[1] = 100.0; }, "another pivot");
  variant([](st::Coordinates& d) { d.a = {1, 1, 0.5, 1, 1, 0.5, 0.5, 0.5, 3}; }, "exactly singular");
  variant([](st::Coordinates& d) { d.a = {1, 1, 1, 1, 1 + 1e-17, 1, 1, 1, 1e20}; }, "tiny pivot");
  variant([](st::Coordinates&) {}, "growth limit", 0.5);
  variant([](st::Coordinates& d) { std::swap(d.jcol[0], d.jcol[1]); }, "permuted pattern");
  EXPECT_GE(replay.counts().departed, 4);

  // A non-finite value is named by DLSLXG as a severe error.
  st::Coordinates bad = c;
  bad.a[4] = std::nan("");
  zt::ScopedErrorHandler h([](const zt::ErrorEvent&) {});
  int iparam[6];
  double rparam[5];
  zt::DLSLXG_INIT(iparam, rparam);
  std::vector<double> x(3, -99.0);
  EXPECT_THROW(replay.solve(3, bad.nz(), bad.a.data(), bad.irow.data(), bad.jcol.data(), b.data(),
                            1, iparam, rparam, x.data()),
               zt::SevereError);
}

// A system given densely is repeated from the matrix where its nonzeros,
// listed row by row, are a recorded pattern, and the caller otherwise lists
// them for solve(): the same bits as DLSLXG either way. Layered systems
// along m (full rows as the band), then a nonzero more, an entry gone, and
// a value that is not a number, which the dense entry leaves to solve().
TEST(SparseReplay, DenseSystemsRepeatedStraightFromTheMatrix) {
  const st::LayeredStructure s = st::five_layer_structure();
  const int n = s.order();
  const std::vector<int> first(std::size_t(n), 1), last(std::size_t(n), n);
  zt::SparseReplaySolver replay;
  int repeated_dense = 0;
  // repeated: 1 must, 0 must not, -1 may be repeated from the matrix.
  auto solve_dense = [&](const std::vector<double>& M, const std::string& what, int repeated) {
    const st::Coordinates c = st::to_coordinates(M, n);
    const Outcome want = solve_with(nullptr, c, n, unit_load(n));
    Outcome got;
    got.x.assign(std::size_t(n), -99.0);
    zt::DLSLXG_INIT(got.iparam, got.rparam);
    got.iparam[4] = 100000;
    got.rparam[0] = 1e16;
    const std::vector<double> b = unit_load(n);
    const bool dense = replay.repeat_dense(n, M.data(), first.data(), last.data(), b.data(), 1,
                                           got.iparam, got.rparam, got.x.data());
    if (repeated >= 0) {
      EXPECT_EQ(dense, repeated == 1) << what;
    }
    repeated_dense += dense;
    if (!dense) got = solve_with(&replay, c, n, b);
    EXPECT_EQ(0, std::memcmp(got.x.data(), want.x.data(), sizeof(double) * std::size_t(n))) << what;
    EXPECT_EQ(got.iparam[3], want.iparam[3]) << what;
    EXPECT_EQ(0, std::memcmp(&got.rparam[3], &want.rparam[3], 2 * sizeof(double))) << what;
  };
  const std::vector<double> base = st::layered_matrix(s, 0.5);
  solve_dense(base, "first: recorded", 0);
  solve_dense(base, "the same again", 1);
  for (int sweep = 0; sweep < 2; ++sweep) {
    for (int i = 0; i < 60; ++i) {
      const double m = 1e-2 * std::pow(1.1, i);
      solve_dense(st::layered_matrix(s, m), "m " + std::to_string(m), sweep == 0 ? -1 : 1);
    }
  }
  EXPECT_GT(repeated_dense, 100);
  std::vector<double> more = base, fewer = base, nan = base;
  const auto zero = std::find(more.begin(), more.end(), 0.0);
  ASSERT_NE(zero, more.end());
  *zero = 1.0;
  *std::find_if(fewer.begin(), fewer.end(), [](double v) { return v != 0.0; }) = 0.0;
  *std::find_if(nan.begin(), nan.end(), [](double v) { return v != 0.0; }) = 1.0 + 0.0 * std::nan("");
  solve_dense(more, "a nonzero more", 0);
  solve_dense(fewer, "an entry gone", 0);
  EXPECT_FALSE(replay.repeat_dense(n, nan.data(), first.data(), last.data(), unit_load(n).data(), 1,
                                   std::array<int, 6>{1, 3, 3, 0, 100000, 0}.data(),
                                   std::array<double, 5>{1e16, 0.1, 0, 0, 0}.data(),
                                   std::vector<double>(std::size_t(n)).data()));
}

}  // namespace
