// Every check of the sparse solver: its message, type, code and routine, and
// that a warning leaves a usable (or plainly marked) result.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "toolkit/errors.h"
#include "toolkit/sparse.h"

namespace zt = zalk::toolkit;
using ::testing::HasSubstr;

namespace {

struct System {
  int n = 0;
  std::vector<double> a;
  std::vector<int> irow, jcol;
  std::vector<double> b;
  int iparam[6];
  double rparam[5];
  std::vector<double> x;

  explicit System(int order) : n(order), b(order, 1.0), x(order, -99.0) {
    zt::DLSLXG_INIT(iparam, rparam);
  }
  System& add(int i, int j, double v) {
    irow.push_back(i);
    jcol.push_back(j);
    a.push_back(v);
    return *this;
  }
  int nz() const { return static_cast<int>(a.size()); }
  void solve(int path = 1) {
    zt::DLSLXG(n, nz(), a.data(), irow.data(), jcol.data(), b.data(), path, iparam, rparam,
               x.data());
  }
};

// Runs f under a recording handler and returns the severe error it raised.
template <class F>
zt::ErrorEvent severe_error_of(F f) {
  zt::ScopedErrorHandler h([](const zt::ErrorEvent&) {});
  try {
    f();
  } catch (const zt::SevereError& e) {
    EXPECT_EQ(zt::name_stack_depth(), 0);
    return e.event();
  }
  ADD_FAILURE() << "no severe error was raised";
  return {};
}

// Runs f under a recording handler and returns the warnings it raised.
template <class F>
std::vector<zt::ErrorEvent> warnings_of(F f) {
  std::vector<zt::ErrorEvent> events;
  {
    zt::ScopedErrorHandler h([&events](const zt::ErrorEvent& e) { events.push_back(e); });
    f();
  }
  EXPECT_EQ(zt::name_stack_depth(), 0);
  return events;
}

void expect_event(const zt::ErrorEvent& e, int type, int code, const std::string& routine,
                  const std::string& message) {
  EXPECT_EQ(e.type, type);
  EXPECT_EQ(e.code, code);
  EXPECT_EQ(e.routine, routine);
  EXPECT_EQ(e.message, message);
}

System three_by_three() {
  System s(3);
  s.add(1, 1, 2.0).add(2, 2, 3.0).add(3, 3, 4.0).add(1, 3, 1.0);
  return s;
}

TEST(SparseMessages, OrderAndCountOfThePublicRoutine) {
  System s = three_by_three();
  expect_event(severe_error_of([&] {
                 zt::DLSLXG(0, s.nz(), s.a.data(), s.irow.data(), s.jcol.data(), s.b.data(), 1,
                            s.iparam, s.rparam, s.x.data());
               }),
               5, 1, "DLSLXG",
               "The order of system of equations must be positive, while N = 0 is given.");
  expect_event(severe_error_of([&] {
                 zt::DLSLXG(3, -3, s.a.data(), s.irow.data(), s.jcol.data(), s.b.data(), 1,
                            s.iparam, s.rparam, s.x.data());
               }),
               5, 2, "DLSLXG", "The number of nonzeros must be positive, while NZ = -3 is given.");
}

TEST(SparseMessages, WorkspaceLimits) {
  System s = three_by_three();
  // 21*N + 6*NZ beyond the largest integer; the arrays are never touched.
  expect_event(severe_error_of([&] {
                 zt::DLSLXG(110000000, 1, s.a.data(), s.irow.data(), s.jcol.data(), s.b.data(), 1,
                            s.iparam, s.rparam, s.x.data());
               }),
               5, 3, "DLSLXG",
               "The minimum amount of workspace 21*N+6*NZ = 2310000006 exceeds the maximum "
               "integer IMACH(5) = 2147483647.");
  // 21*3 + 6*4 = 87 is the least limit accepted.
  s.iparam[4] = 86;
  expect_event(severe_error_of([&] { s.solve(); }), 5, 4, "DLSLXG",
               "The nonzero workspace limit in IPARAM(5) = 86 must exceed 21*N+6*NZ = 87.");
  s.iparam[4] = -1;
  EXPECT_EQ(severe_error_of([&] { s.solve(); }).code, 4);
  s.iparam[4] = 87;
  EXPECT_TRUE(warnings_of([&] { s.solve(); }).empty());
  EXPECT_EQ(s.x[1], 1.0 / 3.0);
}

TEST(SparseMessages, PathAndIndicesAreCheckedBeforeUse) {
  System s = three_by_three();
  expect_event(severe_error_of([&] { s.solve(0); }), 5, 3, "DL2LXG",
               "The path indicator must be equal to 1 or 2 while IPATH = 0 is given.");
  for (int bad : {0, 4, -1, INT_MIN, INT_MAX}) {
    System r = three_by_three();
    r.irow[2] = bad;
    expect_event(severe_error_of([&] { r.solve(); }), 5, 4, "DL2LXG",
                 "IROW must satisfy 1 .LE. IROW(I) .LE. N, I = 1, ..., N, but IROW(3) = " +
                     std::to_string(bad) + ". ");
    System c = three_by_three();
    c.jcol[3] = bad;
    expect_event(severe_error_of([&] { c.solve(2); }), 5, 5, "DL2LXG",
                 "JCOL must satisfy 1 .LE. JCOL(I) .LE. N, I = 1, ..., N, but JCOL(4) = " +
                     std::to_string(bad) + ". ");
  }
}

TEST(SparseMessages, DuplicateReportsTheFirstKeyInColumnOrder) {
  // (1,3) repeats first in the input, but the key of (3,2) is smaller.
  System s(3);
  s.add(1, 3, 1.0).add(1, 1, 1.0).add(1, 3, 2.0).add(3, 2, 1.0).add(2, 2, 1.0).add(3, 2, 5.0);
  s.add(3, 3, 1.0);
  expect_event(severe_error_of([&] { s.solve(); }), 5, 8, "DL2LXG",
               "Two values of A are given for IROW = 3 and JCOL = 2.");
  // A row given more than N times must not overrun its storage.
  System many(2);
  for (int k = 0; k < 7; ++k) many.add(2, 1, 1.0);
  many.add(1, 2, 1.0);
  expect_event(severe_error_of([&] { many.solve(); }), 5, 8, "DL2LXG",
               "Two values of A are given for IROW = 2 and JCOL = 1.");
}

TEST(SparseMessages, EmptyRowAndColumn) {
  System row(3);
  row.add(1, 1, 1.0).add(3, 2, 1.0).add(1, 3, 1.0);
  expect_event(severe_error_of([&] { row.solve(); }), 5, 9, "DL2LXG",
               "An empty row has been found in the coefficient matrix: row number = 2 ");
  System col(3);
  col.add(1, 1, 1.0).add(2, 3, 1.0).add(3, 1, 1.0);
  expect_event(severe_error_of([&] { col.solve(); }), 5, 10, "DL2LXG",
               "An empty column has been found in the coefficient matrix: column number = 2");
}

// Arrowhead whose row-only search must pivot in the dense column and fill in.
System filling_arrowhead() {
  System s(6);
  s.add(1, 1, 4.0);
  for (int j = 2; j <= 6; ++j) s.add(1, j, 0.01).add(j, 1, 1.0).add(j, j, 0.05);
  s.iparam[1] = 1;
  return s;
}

TEST(SparseMessages, WorkspaceExhaustedDuringFactorisation) {
  System s = filling_arrowhead();
  s.iparam[4] = 21 * 6 + 6 * s.nz();  // room for the given entries only
  expect_event(severe_error_of([&] { s.solve(); }), 5, 1, "DL5TXG",
               "Factorization from row 1 to row 1 reached the workspace limit based on "
               "IPARAM(5) = 222. Set IPARAM(5) larger.");
}

TEST(SparseMessages, DefaultWorkspaceExhaustedSaysItsSize) {
  // Work areas of the least lengths leave no room for fill-in.
  System s = filling_arrowhead();
  const int n = s.n, nz = s.nz();
  std::vector<double> rwork(2 * n + nz);
  std::vector<int> iwork(17 * n + 4 * nz);
  s.iparam[4] = 0;
  expect_event(severe_error_of([&] {
                 zt::DL2LXG(n, nz, s.a.data(), s.irow.data(), s.jcol.data(), s.b.data(), 1,
                            s.iparam, s.rparam, s.x.data(), rwork.data(), 2 * n + nz,
                            iwork.data(), 17 * n + 4 * nz);
               }),
               5, 5, "DL5TXG",
               "Factorization from row 1 to row 1 reached the default workspace limit of MAXNZ = "
               "16 nonzeros (IPARAM(5) = 0).  Set IPARAM(5) larger than 21*N+6*MAXNZ = 222.");
}

TEST(SparseMessages, PivotNearUnderflow) {
  System s(2);
  s.add(1, 1, 1e-307).add(2, 2, 1.0);
  expect_event(severe_error_of([&] { s.solve(); }), 5, 2, "DL5TXG",
               "Factorization stopped after 1 rows, because the value selected as pivot is "
               "within two orders of magnitude of causing underflow or the reciprocal causing "
               "overflow.");
  // 100 times the smallest normal number is still a usable pivot.
  System ok(1);
  ok.add(1, 1, 1e-305);
  ok.b[0] = 1e-305;
  EXPECT_TRUE(warnings_of([&] { ok.solve(); }).empty());
  EXPECT_EQ(ok.x[0], 1.0);
}

TEST(SparseMessages, NumericallySingular) {
  const std::string text = "The coefficient matrix is numerically singular.";
  // Exact cancellation: no pivot is left for the second row.
  System exact(2);
  exact.add(1, 1, 1.0).add(1, 2, 1.0).add(2, 1, 1.0).add(2, 2, 1.0);
  auto ev = warnings_of([&] { exact.solve(); });
  ASSERT_EQ(ev.size(), 1u);
  expect_event(ev[0], 3, 4, "DL5TXG", text);
  EXPECT_TRUE(std::isnan(exact.x[0]) && std::isnan(exact.x[1]));
  EXPECT_EQ(exact.rparam[4], 0.0);

  // Structurally singular: rows 2 and 3 hold column 1 only.
  System structural(3);
  structural.add(1, 1, 1.0).add(1, 2, 1.0).add(1, 3, 1.0).add(2, 1, 2.0).add(3, 1, 3.0);
  ev = warnings_of([&] { structural.solve(); });
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].message, text);
  EXPECT_TRUE(std::isnan(structural.x[2]));

  // A pivot of 1 left in a row whose given entries reach 1e20: below 0.01 eps
  // of its row, so only rounding noise decides it. A solution is still given.
  System tiny(3);
  tiny.add(1, 1, 1.0).add(1, 2, 1.0).add(2, 1, 1e20).add(2, 2, 1e20).add(2, 3, 1.0);
  tiny.add(3, 2, 1.0).add(3, 3, 1.0);
  ev = warnings_of([&] { tiny.solve(); });
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].message, text);
  EXPECT_TRUE(std::isfinite(tiny.x[0]));
}

// A NaN or an infinity in A or B is named; nothing is solved.
TEST(SparseMessages, NonFiniteEntriesAreRejected) {
  for (double bad : {std::nan(""), HUGE_VAL}) {
    const std::string text = std::isnan(bad) ? "NaN" : "Infinity";
    System s(3);
    s.add(1, 1, 1.0).add(1, 2, 1.0).add(2, 1, 1.0).add(2, 2, bad).add(3, 3, 2.0).add(3, 1, 1.0);
    expect_event(severe_error_of([&] { s.solve(); }), 5, 12, "DL2LXG",
                 "The matrix entry A(4) = " + text + " is not a finite number.");
    EXPECT_EQ(s.x[0], -99.0);
    System r = three_by_three();
    r.b[2] = -bad;  // a NaN is named without its sign
    expect_event(severe_error_of([&] { r.solve(); }), 5, 13, "DL2LXG",
                 "The right-hand side entry B(3) = " + std::string(std::isnan(bad) ? "" : "-") +
                     text + " is not a finite number.");
  }
}

TEST(SparseMessages, GrowthFactorAboveLimit) {
  System s = three_by_three();
  s.rparam[0] = 0.5;
  const auto ev = warnings_of([&] { s.solve(); });
  ASSERT_EQ(ev.size(), 1u);
  expect_event(ev[0], 3, 3, "DL5TXG", "The growth factor, 1, exceeds 0.5 = RPARAM(1).");
  EXPECT_EQ(s.rparam[3], 1.0);
  EXPECT_EQ(s.x[2], 0.25);  // the solution is still given
}

// The cycle [[1,1,0],[1,0,1],[0,1,1]] pivots first at (1,1) and fills -1 at
// (2,2); a drop tolerance of 2 discards it, so the factors belong to A + e2 e2^T.
// The correction step then multiplies errors by inv(A + e2 e2^T) e2 e2^T, whose
// eigenvalue is -1: corrections cannot converge.
TEST(SparseMessages, RefinementThatCannotConverge) {
  System s(3);
  s.add(1, 1, 1.0).add(1, 2, 1.0).add(2, 1, 1.0).add(2, 3, 1.0).add(3, 2, 1.0).add(3, 3, 1.0);
  s.rparam[2] = 2.0;
  EXPECT_TRUE(warnings_of([&] { s.solve(); }).empty());
  s.iparam[5] = 1;
  const auto ev = warnings_of([&] { s.solve(); });
  ASSERT_EQ(ev.size(), 1u);
  expect_event(ev[0], 3, 11, "DL2LXG",
               "The matrix is too ill-conditioned for iterative refinement to be effective.");
  // With the fill kept, refinement has nothing to do and stays silent.
  s.rparam[2] = 0.0;
  EXPECT_TRUE(warnings_of([&] { s.solve(); }).empty());
  EXPECT_EQ(s.x[0], 0.5);
}

TEST(SparseMessages, WorkAreaLengthsOfTheWorkAreaVariant) {
  System s = three_by_three();
  std::vector<double> rwork(2 * 3 + 4);
  std::vector<int> iwork(17 * 3 + 4 * 4);
  auto run = [&](int lwk, int liwk) {
    zt::DL2LXG(3, s.nz(), s.a.data(), s.irow.data(), s.jcol.data(), s.b.data(), 1, s.iparam,
               s.rparam, s.x.data(), rwork.data(), lwk, iwork.data(), liwk);
  };
  expect_event(severe_error_of([&] { run(9, 67); }), 5, 6, "DL2LXG",
               "The real workspace length LWK = 9 must be at least 2*N+NZ = 10.");
  expect_event(severe_error_of([&] { run(10, 66); }), 5, 7, "DL2LXG",
               "The integer workspace length LIWK = 66 must be at least 17*N+4*NZ = 67.");
  EXPECT_TRUE(warnings_of([&] { run(10, 67); }).empty());  // exactly enough
  EXPECT_EQ(s.x[2], 0.25);
}

// The default action prints the block and ends the process.
TEST(SparseMessagesDeathTest, DuplicatePrintsAndStops) {
  System s(2);
  s.add(1, 1, 1.0).add(2, 2, 1.0).add(2, 2, 3.0);
  EXPECT_EXIT(
      {
        dup2(2, 1);
        s.solve();
      },
      ::testing::ExitedWithCode(5),
      HasSubstr("\n *** TERMINAL ERROR 8 from DL2LXG.  Two values of A are given for IROW = 2 and\n"
                " ***          JCOL = 2.\nStop - Program terminated.\n"));
}

#if defined(__SANITIZE_ADDRESS__)
#define ZALK_NO_ADDRESS_LIMIT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZALK_NO_ADDRESS_LIMIT 1
#endif
#endif

// Work areas that cannot be obtained: the process is given too little address space.
TEST(SparseMessagesDeathTest, WorkAreasNotObtained) {
#ifdef ZALK_NO_ADDRESS_LIMIT
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#else
  System s = three_by_three();
  auto starved = [&](int limit) {
    dup2(2, 1);
    rlimit cap{512L << 20, 512L << 20};
    setrlimit(RLIMIT_AS, &cap);
    s.iparam[4] = limit;
    // Order 100 million: 17*N integers alone need 6.8 GB.
    zt::DLSLXG(100000000, 1, s.a.data(), s.irow.data(), s.jcol.data(), s.b.data(), 1, s.iparam,
               s.rparam, s.x.data());
  };
  EXPECT_EXIT(starved(0), ::testing::ExitedWithCode(5),
              ::testing::AllOf(
                  HasSubstr("ERROR 6 from DLSLXG.  The required storage cannot be allocated."),
                  HasSubstr("based on MAXNZ = 3*NZ, where NZ=1,")));
  EXPECT_EXIT(starved(2100000006), ::testing::ExitedWithCode(5),
              ::testing::AllOf(
                  HasSubstr("ERROR 5 from DLSLXG.  The required storage cannot be allocated."),
                  HasSubstr("IPARAM(5) = 2100000006.")));
#endif
}

}  // namespace
