// Solutions of the sparse solver against dense references: Eigen's LU in
// double for random systems, and in long double for the layered systems whose
// scaling spans many decades.
//
// Random systems use a printed seed; set ZALK_SPARSE_SEED to replay one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "unit/sparse/layered_system.h"
#include "toolkit/errors.h"
#include "toolkit/sparse.h"

namespace zt = zalk::toolkit;
namespace st = zalk::sparse_testing;

namespace {

constexpr double kEps = DBL_EPSILON;

std::uint64_t test_seed() {
  if (const char* s = std::getenv("ZALK_SPARSE_SEED")) return std::strtoull(s, nullptr, 10);
  return 20261207;
}

struct Params {
  int iparam[6];
  double rparam[5];
  Params() { zt::DLSLXG_INIT(iparam, rparam); }
};

struct Solved {
  std::vector<double> x;
  Params p;
};

Solved solve(const st::Coordinates& c, int n, const std::vector<double>& b, int path = 1,
             Params p = Params()) {
  Solved s{std::vector<double>(n), p};
  zt::DLSLXG(n, c.nz(), c.a.data(), c.irow.data(), c.jcol.data(), b.data(), path, s.p.iparam,
             s.p.rparam, s.x.data());
  return s;
}

Eigen::MatrixXd dense(const st::Coordinates& c, int n) {
  Eigen::MatrixXd A = Eigen::MatrixXd::Zero(n, n);
  for (int k = 0; k < c.nz(); ++k) A(c.irow[k] - 1, c.jcol[k] - 1) = c.a[k];
  return A;
}

Eigen::VectorXd vec(const std::vector<double>& v) {
  return Eigen::Map<const Eigen::VectorXd>(v.data(), static_cast<Eigen::Index>(v.size()));
}

// Normwise backward error ||b - A x|| / (||A|| ||x|| + ||b||) in the max norm.
double backward_error(const Eigen::MatrixXd& A, const std::vector<double>& x,
                      const std::vector<double>& b) {
  const Eigen::VectorXd r = vec(b) - A * vec(x);
  const double anorm = A.cwiseAbs().rowwise().sum().maxCoeff();
  return r.lpNorm<Eigen::Infinity>() /
         (anorm * vec(x).lpNorm<Eigen::Infinity>() + vec(b).lpNorm<Eigen::Infinity>());
}

// A random sparse matrix of order n: a random permutation carries entries of
// magnitude 0.5..2 (so no row or column is empty), and about `per_row` more
// entries per row fall anywhere with values in -1..1.
st::Coordinates random_sparse(int n, double per_row, std::mt19937_64& rng) {
  std::vector<int> perm(n);
  for (int i = 0; i < n; ++i) perm[i] = i;
  std::shuffle(perm.begin(), perm.end(), rng);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_real_distribution<double> big(0.5, 2.0);
  std::bernoulli_distribution coin(0.5);
  std::bernoulli_distribution take(std::min(1.0, per_row / n));
  Eigen::MatrixXd A = Eigen::MatrixXd::Zero(n, n);
  for (int i = 0; i < n; ++i) A(i, perm[i]) = coin(rng) ? big(rng) : -big(rng);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      if (A(i, j) == 0.0 && take(rng)) A(i, j) = unit(rng);
    }
  }
  // Entries in a shuffled order: the solver must not rely on the engine's order.
  st::Coordinates c;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      if (A(i, j) == 0.0) continue;
      c.a.push_back(A(i, j));
      c.irow.push_back(i + 1);
      c.jcol.push_back(j + 1);
    }
  }
  std::vector<int> idx(c.a.size());
  for (std::size_t k = 0; k < idx.size(); ++k) idx[k] = static_cast<int>(k);
  std::shuffle(idx.begin(), idx.end(), rng);
  st::Coordinates s;
  for (int k : idx) {
    s.a.push_back(c.a[k]);
    s.irow.push_back(c.irow[k]);
    s.jcol.push_back(c.jcol[k]);
  }
  return s;
}

std::vector<double> random_vector(int n, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::vector<double> v(n);
  for (double& x : v) x = unit(rng);
  return v;
}

// Checks one random system against Eigen: backward error at rounding level
// (n eps times the growth of the elimination bounds it) and the solution
// within what the condition number allows.
// Returns false when the system was too close to singular to be compared.
bool check_random_system(int n, double per_row, int path, std::mt19937_64& rng, Params p,
                         const std::string& what) {
  const st::Coordinates c = random_sparse(n, per_row, rng);
  const std::vector<double> b = random_vector(n, rng);
  Eigen::MatrixXd A = dense(c, n);
  if (path == 2) A.transposeInPlace();
  const Eigen::PartialPivLU<Eigen::MatrixXd> lu(A);
  const double cond = 1.0 / lu.rcond();
  if (!(cond < 1e10)) return false;
  const Eigen::VectorXd ref = lu.solve(vec(b));
  // The default limit 3*NZ is too small for the fill of the larger systems.
  if (p.iparam[4] == 0 && n > 30) p.iparam[4] = 21 * n + 6 * (n * n + c.nz());
  const Solved s = solve(c, n, b, path, p);
  SCOPED_TRACE(what + " n=" + std::to_string(n) + " path=" + std::to_string(path));
  const double growth = std::max(1.0, s.p.rparam[3]);
  EXPECT_LE(backward_error(A, s.x, b), 4.0 * n * kEps * growth);
  const double err = (vec(s.x) - ref).lpNorm<Eigen::Infinity>() / ref.lpNorm<Eigen::Infinity>();
  EXPECT_LE(err, 8.0 * n * kEps * growth * cond);
  return true;
}

// Orders 1 to 200, both paths, sparse to fairly dense.
TEST(SparseSolve, RandomSystemsMatchDenseLU) {
  const std::uint64_t seed = test_seed();
  std::printf("random sparse systems: seed %llu (replay with ZALK_SPARSE_SEED)\n",
              static_cast<unsigned long long>(seed));
  std::mt19937_64 rng(seed);
  int tried = 0, compared = 0;
  for (int n = 1; n <= 200; n += (n < 30 ? 1 : 17)) {
    for (double per_row : {1.0, 3.0, 8.0}) {
      ++tried;
      compared += check_random_system(n, per_row, 1 + tried % 2, rng, Params(),
                                      "seed " + std::to_string(seed));
    }
  }
  EXPECT_GE(compared, tried * 9 / 10) << "too many nearly singular draws";
}

// Every pivot-search mode, search width and stability factor, with and
// without refinement (which must then stay silent).
TEST(SparseSolve, EverySearchModeAndWidth) {
  const std::uint64_t seed = test_seed() + 2;
  std::printf("search modes: seed %llu\n", static_cast<unsigned long long>(seed));
  std::mt19937_64 rng(seed);
  std::vector<zt::ErrorEvent> events;
  zt::ScopedErrorHandler h([&events](const zt::ErrorEvent& e) { events.push_back(e); });
  for (int mode : {1, 2, 3}) {
    for (int width : {1, 3, 1000}) {
      for (double stability : {1.0, 10.0, 1000.0}) {
        Params p;
        p.iparam[1] = mode;
        p.iparam[2] = width;
        p.rparam[1] = stability;
        p.iparam[5] = width == 3;
        for (int n : {7, 31, 90}) {
          for (int path : {1, 2}) {
            check_random_system(n, 4.0, path, rng, p,
                                "mode " + std::to_string(mode) + " width " + std::to_string(width) +
                                    " stability " + std::to_string(stability));
          }
        }
      }
    }
  }
  EXPECT_TRUE(events.empty()) << events.front().message;
}

// The layered systems: block-banded, entries from 1e-250 to 1e9, solutions
// spanning as many decades. The reference is Eigen's full-pivoting LU in long
// double (64-bit mantissa).
TEST(SparseSolve, LayeredSystemsMatchLongDoubleReference) {
  std::mt19937_64 rng(test_seed() + 3);
  std::uniform_real_distribution<double> logE(3.0, 7.0), nu(0.2, 0.49), h(1.0, 20.0);
  const double bonds[] = {0.0, 0.5, 1.0};
  for (int layers = 2; layers <= 50; layers += (layers < 8 ? 1 : 7)) {
    st::LayeredStructure s;
    for (int i = 0; i < layers; ++i) {
      s.E.push_back(std::pow(10.0, logE(rng)));
      s.nu.push_back(nu(rng));
      s.h.push_back(h(rng));
      if (i + 1 < layers) s.bond.push_back(bonds[(i + layers) % 3]);
    }
    const int N = s.order();
    for (double m : {1e-3, 0.05, 0.5, 3.0, 29.0}) {
      const std::vector<double> M = st::layered_matrix(s, m);
      const st::Coordinates c = st::to_coordinates(M, N);
      std::vector<double> b(N, 0.0);
      b[0] = 1.0;
      Params p;
      p.iparam[4] = 100000;
      const Solved got = solve(c, N, b, 1, p);

      using MatL = Eigen::Matrix<long double, Eigen::Dynamic, Eigen::Dynamic>;
      using VecL = Eigen::Matrix<long double, Eigen::Dynamic, 1>;
      MatL A(N, N);
      for (int j = 0; j < N; ++j)
        for (int i = 0; i < N; ++i) A(i, j) = M[static_cast<std::size_t>(j) * N + i];
      VecL bl = VecL::Zero(N);
      bl(0) = 1.0L;
      const VecL ref = A.fullPivLu().solve(bl);
      SCOPED_TRACE("layers " + std::to_string(layers) + " m " + std::to_string(m));
      long double diff = 0.0L, size = 0.0L, resid = 0.0L, anorm = 0.0L;
      for (int i = 0; i < N; ++i) {
        diff = std::max(diff, std::fabs(got.x[i] - ref(i)));
        size = std::max(size, std::fabs(ref(i)));
        long double r = bl(i), rowsum = 0.0L;
        for (int j = 0; j < N; ++j) {
          r -= A(i, j) * got.x[j];
          rowsum += std::fabs(A(i, j));
        }
        resid = std::max(resid, std::fabs(r));
        anorm = std::max(anorm, rowsum);
      }
      long double xnorm = 0.0L;
      for (double v : got.x) xnorm = std::max(xnorm, std::fabs(static_cast<long double>(v)));
      // Normwise backward error: the LU bound n eps times the growth.
      EXPECT_LE(static_cast<double>(resid / (anorm * xnorm + 1.0L)),
                4.0 * N * kEps * std::max(1.0, got.p.rparam[3]));
      // Forward error: moduli up to 1e4 apart put entries of 1e-5 next to
      // entries of 1 in the displacement rows; eliminating such a row with a
      // pivot row of order 1 rounds its small entries at 1e-16 absolute, which
      // loses up to ~1e4 of relative accuracy depending on the pivot order.
      // Up to 2.4e-10 was seen over seeds 1..60; 1e-9 leaves a margin of 4.
      EXPECT_LE(static_cast<double>(diff / size), 1e-9);
    }
  }
}

// The engine's five-layer structure: solution against long double, and the
// equal-modulus interface that takes R = 1 + 1e-6 (single precision) is in it.
TEST(SparseSolve, FiveLayerEngineSystem) {
  const st::LayeredStructure s = st::five_layer_structure();
  const int N = s.order();
  ASSERT_EQ(N, 18);
  const std::vector<double> M = st::layered_matrix(s, 0.5);
  const st::Coordinates c = st::to_coordinates(M, N);
  EXPECT_LE(c.nz(), 8 * N);
  std::vector<double> b(N, 0.0);
  b[0] = 1.0;
  zt::SparseWorkspace ws;
  Params p;
  p.iparam[4] = 100000;
  std::vector<double> x(N);
  zt::DLSLXG(N, c.nz(), c.a.data(), c.irow.data(), c.jcol.data(), b.data(), 1, p.iparam,
             p.rparam, x.data(), ws);
  Eigen::Matrix<long double, Eigen::Dynamic, Eigen::Dynamic> A(N, N);
  for (int j = 0; j < N; ++j)
    for (int i = 0; i < N; ++i) A(i, j) = M[static_cast<std::size_t>(j) * N + i];
  Eigen::Matrix<long double, Eigen::Dynamic, 1> bl = Eigen::Matrix<long double, Eigen::Dynamic, 1>::Zero(N);
  bl(0) = 1.0L;
  const auto ref = A.fullPivLu().solve(bl).eval();
  for (int i = 0; i < N; ++i) {
    // Unit-pressure coefficients are of order 1 at most; 1e-13 absolute is
    // a few hundred eps of that scale.
    EXPECT_NEAR(x[i], static_cast<double>(ref(i)), 1e-13) << "component " << i + 1;
  }
}

TEST(SparseSolve, DiagonalSystemIsExact) {
  const int n = 9;
  st::Coordinates c;
  std::vector<double> b(n), expect(n);
  for (int i = n; i >= 1; --i) {  // given in descending order
    c.a.push_back(0.25 * i * (i % 2 ? 1 : -1));
    c.irow.push_back(i);
    c.jcol.push_back(i);
  }
  for (int i = 0; i < n; ++i) {
    expect[i] = 3.0 * (i + 1);
    b[i] = expect[i] * 0.25 * (i + 1) * ((i + 1) % 2 ? 1 : -1);
  }
  for (int path : {1, 2}) {
    const Solved s = solve(c, n, b, path);
    for (int i = 0; i < n; ++i) EXPECT_EQ(s.x[i], expect[i]) << "path " << path << " i " << i;
    EXPECT_EQ(s.p.iparam[3], n);
    EXPECT_EQ(s.p.rparam[3], 1.0);
    EXPECT_EQ(s.p.rparam[4], 0.25);
  }
}

// An arrowhead with small diagonal entries, dense first row and column:
//   a11 = 4, a1j = 0.01, aj1 = 1, ajj = 0.05 (j >= 2).
// Searching columns admits the diagonal (largest in its column) at cost 1 and
// never fills; searching rows only sees it below the threshold 1/10 of its
// row and must pivot in column 1, which fills.
st::Coordinates arrowhead(int n) {
  st::Coordinates c;
  auto add = [&c](int i, int j, double v) {
    c.a.push_back(v);
    c.irow.push_back(i);
    c.jcol.push_back(j);
  };
  add(1, 1, 4.0);
  for (int j = 2; j <= n; ++j) {
    add(1, j, 0.01);
    add(j, 1, 1.0);
    add(j, j, 0.05);
  }
  return c;
}

TEST(SparseSolve, SearchModesFollowTheirThresholds) {
  const int n = 6;
  const st::Coordinates c = arrowhead(n);
  const int nz = c.nz();
  std::vector<double> b(n, 1.0);
  const Eigen::VectorXd ref = dense(c, n).fullPivLu().solve(vec(b));
  auto run = [&](int mode, double stability) {
    Params p;
    p.iparam[1] = mode;
    p.rparam[1] = stability;
    const Solved s = solve(c, n, b, 1, p);
    EXPECT_LE((vec(s.x) - ref).lpNorm<Eigen::Infinity>(), 1e-14 * ref.lpNorm<Eigen::Infinity>());
    return s.p;
  };
  const Params by_columns = run(2, 10.0);
  EXPECT_EQ(by_columns.iparam[3], nz);  // diagonal pivots, no fill
  // Pivots 0.05 at (2,2)..(5,5), each taking 0.2 off a11; then column 1 and
  // column 6 tie at cost 1 and the larger a11 = 3.2 wins, leaving
  // a66 = 0.05 - 0.01 / 3.2 = 0.046875 (to rounding of 3.2).
  EXPECT_NEAR(by_columns.rparam[4], 0.046875, 1e-15);
  EXPECT_EQ(run(3, 10.0).iparam[3], nz);       // the column search finds it too
  EXPECT_GT(run(1, 10.0).iparam[3], nz);       // rows alone: the diagonal fails the threshold
  EXPECT_EQ(run(1, 100.0).iparam[3], nz);      // a looser threshold admits it
}

// Dropping the fill of magnitude 0.05 below a tolerance of 0.1 keeps the
// nonzero count; refinement with the given matrix recovers the solution.
TEST(SparseSolve, DropToleranceWithRefinement) {
  const int n = 6;
  const st::Coordinates c = arrowhead(n);
  std::vector<double> b(n);
  for (int i = 0; i < n; ++i) b[i] = 1.0 + i;
  const Eigen::VectorXd ref = dense(c, n).fullPivLu().solve(vec(b));
  Params p;
  p.iparam[1] = 1;
  Params dropped = p;
  dropped.rparam[2] = 0.1;
  dropped.iparam[5] = 1;
  const Solved full = solve(c, n, b, 1, p);
  const Solved thin = solve(c, n, b, 1, dropped);
  EXPECT_GT(full.p.iparam[3], c.nz());
  EXPECT_EQ(thin.p.iparam[3], c.nz());
  // Refinement stops at the residual's rounding level; the system is well
  // conditioned, so the solution is good to a few eps of its size.
  EXPECT_LE((vec(thin.x) - ref).lpNorm<Eigen::Infinity>(), 1e-14 * ref.lpNorm<Eigen::Infinity>());

  // On random systems dropped fill may spoil the factors beyond repair: then
  // the refinement must say so, else its solution must be accurate.
  std::mt19937_64 rng(test_seed() + 4);
  int refined = 0;
  for (int mode : {1, 2, 3}) {
    Params q;
    q.iparam[1] = mode;
    q.rparam[2] = 1e-3;
    q.iparam[5] = 1;
    for (int size : {20, 60, 150}) {
      q.iparam[4] = 21 * size + 12 * size * size;  // room for any fill
      std::vector<zt::ErrorEvent> events;
      zt::ScopedErrorHandler h([&events](const zt::ErrorEvent& e) { events.push_back(e); });
      std::mt19937_64 replay = rng;
      const st::Coordinates c = random_sparse(size, 4.0, replay);
      const std::vector<double> b = random_vector(size, replay);
      solve(c, size, b, 1, q);
      if (!events.empty()) {
        EXPECT_EQ(events.back().code, 11);
        rng = replay;
        continue;
      }
      refined += check_random_system(size, 4.0, 1, rng, q, "drop");
    }
  }
  EXPECT_GE(refined, 5) << "refinement should repair most of these";
}

// Tight storage forces rows and columns to move and be compacted: the result
// must be bit for bit the one with ample storage, and one place less must
// exhaust it.
TEST(SparseSolve, CompactionGivesIdenticalResults) {
  std::mt19937_64 rng(test_seed() + 6);
  for (int n : {12, 50, 140}) {
    const st::Coordinates c = random_sparse(n, 3.0, rng);
    const std::vector<double> b = random_vector(n, rng);
    const Solved roomy = solve(c, n, b);
    const int peak = roomy.p.iparam[3];
    ASSERT_GT(peak, c.nz()) << "the system should fill in";
    Params tight;
    tight.iparam[4] = 21 * n + 6 * peak;
    const Solved packed = solve(c, n, b, 1, tight);
    for (int i = 0; i < n; ++i) ASSERT_EQ(packed.x[i], roomy.x[i]) << "n " << n << " i " << i;
    EXPECT_EQ(packed.p.iparam[3], peak);

    zt::ScopedErrorHandler h([](const zt::ErrorEvent&) {});
    Params short_by_one;
    short_by_one.iparam[4] = 21 * n + 6 * (peak - 1);
    std::vector<double> x(n);
    try {
      zt::DLSLXG(n, c.nz(), c.a.data(), c.irow.data(), c.jcol.data(), b.data(), 1,
                 short_by_one.iparam, short_by_one.rparam, x.data());
      ADD_FAILURE() << "storage of " << peak - 1 << " should not suffice";
    } catch (const zt::SevereError& e) {
      EXPECT_THAT(e.event().message, ::testing::StartsWith("Factorization from row 1 to row "));
    }
  }
}

TEST(SparseSolve, WorkspaceGivesIdenticalResultsAndInputsStayUnchanged) {
  std::mt19937_64 rng(test_seed() + 7);
  zt::SparseWorkspace ws;
  for (int n : {150, 5, 40}) {  // the workspace first grows, then is reused larger
    const st::Coordinates c = random_sparse(n, 4.0, rng);
    const st::Coordinates keep = c;
    const std::vector<double> b = random_vector(n, rng);
    const std::vector<double> bkeep = b;
    for (int path : {1, 2}) {
      Params p1, p2;
      p1.iparam[4] = p2.iparam[4] = 100000;
      std::vector<double> x1(n), x2(n);
      zt::DLSLXG(n, c.nz(), c.a.data(), c.irow.data(), c.jcol.data(), b.data(), path, p1.iparam,
                 p1.rparam, x1.data());
      zt::DLSLXG(n, c.nz(), c.a.data(), c.irow.data(), c.jcol.data(), b.data(), path, p2.iparam,
                 p2.rparam, x2.data(), ws);
      EXPECT_EQ(x1, x2);
      EXPECT_EQ(p1.iparam[3], p2.iparam[3]);
      EXPECT_EQ(p1.rparam[3], p2.rparam[3]);
      EXPECT_EQ(p1.rparam[4], p2.rparam[4]);
    }
    EXPECT_EQ(c.a, keep.a);
    EXPECT_EQ(c.irow, keep.irow);
    EXPECT_EQ(c.jcol, keep.jcol);
    EXPECT_EQ(b, bkeep);
  }
}

TEST(SparseSolve, ParameterDefaultsAndInitialisationFlag) {
  int iparam[6] = {0, -7, -7, -7, -7, -7};
  double rparam[5] = {-7, -7, -7, -7, -7};
  zt::DLSLXG_INIT(iparam, rparam);
  EXPECT_THAT(iparam, ::testing::ElementsAre(1, 3, 3, -7, 0, 0));
  EXPECT_THAT(rparam, ::testing::ElementsAre(1e16, 10.0, 0.0, -7, -7));

  // IPARAM(1) = 0 makes the solver store the defaults itself.
  int ip[6] = {0, 99, 99, 0, 99, 99};
  double rp[5] = {-1, -1, -1, 0, 0};
  const double a[] = {2.0, 4.0};
  const int ir[] = {1, 2}, jc[] = {1, 2};
  const double b[] = {1.0, 1.0};
  double x[2];
  zt::DLSLXG(2, 2, a, ir, jc, b, 1, ip, rp, x);
  EXPECT_EQ(x[0], 0.5);
  EXPECT_EQ(x[1], 0.25);
  EXPECT_EQ(ip[4], 0);
  EXPECT_EQ(rp[1], 10.0);
}

TEST(SparseSolve, WorkspaceSizes) {
  // Two layers: order 6 under the engine's limit.
  EXPECT_EQ(zt::sparse_work_sizes(6, 20, 100000).maxnz, 16645);
  EXPECT_EQ(zt::sparse_work_sizes(6, 20, 0).maxnz, 60);
  EXPECT_EQ(zt::sparse_work_sizes(18, 126, 100000).maxnz, (100000 - 21 * 18) / 6);
  // More than N*N places are never obtained; never fewer than NZ.
  const zt::SparseWorkSizes s = zt::sparse_work_sizes(6, 20, 100000);
  EXPECT_EQ(s.lwk, 36 + 2 * 6);
  EXPECT_EQ(s.liwk, 17 * 6 + 4 * 36);
  const zt::SparseWorkSizes d = zt::sparse_work_sizes(100, 300, 0);
  EXPECT_EQ(d.lwk, 900 + 200);
  EXPECT_EQ(d.liwk, 1700 + 3600);
}

}  // namespace
