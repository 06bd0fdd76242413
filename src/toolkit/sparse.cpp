// Sparse general linear systems in coordinate form: argument checks, work
// areas, and the solution with optional iterative refinement around the
// Markowitz threshold LU of sparse_lu.cpp.
#include "toolkit/sparse.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>
#include <memory>
#include <new>

#include "toolkit/errors.h"
#include "toolkit/sparse_messages.h"
#include "toolkit/sparse_internal.h"

namespace zalk::toolkit {
namespace {

using sparse_detail::FactorOutcome;
using sparse_detail::FactorStop;
using sparse_detail::MarkowitzLU;
using sparse_detail::PatternCheck;
using sparse_detail::PatternFault;

constexpr int kMaxCorrections = 50;

// Both the public routine and its work-area variant start with these.
bool order_and_count_positive(int N, int NZ) {
  if (N < 1) {
    E1STI(1, N);
    raise(SparseMessage::bad_order);
    return false;
  }
  if (NZ < 1) {
    E1STI(1, NZ);
    raise(SparseMessage::bad_count);
    return false;
  }
  return true;
}

// Checks of the public routine (steps 1 and 2); false once an error was raised.
bool check_public_arguments(int N, int NZ, int* IPARAM, double* RPARAM) {
  if (!order_and_count_positive(N, NZ)) return false;
  if (IPARAM[0] == 0) DLSLXG_INIT(IPARAM, RPARAM);
  const double minimum = 21.0 * N + 6.0 * NZ;
  if (minimum > static_cast<double>(INT_MAX)) {
    E1STD(1, minimum);
    E1STD(2, static_cast<double>(INT_MAX));
    raise(SparseMessage::workspace_beyond_integers);
    return false;
  }
  if (IPARAM[4] != 0 && IPARAM[4] < 21 * N + 6 * NZ) {
    E1STI(1, IPARAM[4]);
    E1STI(2, 21 * N + 6 * NZ);
    raise(SparseMessage::workspace_limit_too_small);
    return false;
  }
  return true;
}

void report_allocation_failure(int NZ, const int* IPARAM) {
  if (IPARAM[4] != 0) {
    E1STI(1, IPARAM[4]);
    raise(SparseMessage::no_storage_for_limit);
  } else {
    E1STI(1, NZ);
    raise(SparseMessage::no_storage_for_default);
  }
}

// Work-area lengths as ints, or false (with the error raised) when they do not fit.
bool work_lengths(int N, int NZ, const int* IPARAM, int& lwk, int& liwk) {
  const SparseWorkSizes sizes = sparse_work_sizes(N, NZ, IPARAM[4]);
  if (sizes.lwk > INT_MAX || sizes.liwk > INT_MAX) {
    report_allocation_failure(NZ, IPARAM);
    return false;
  }
  lwk = static_cast<int>(sizes.lwk);
  liwk = static_cast<int>(sizes.liwk);
  return true;
}

// Checks of the work-area variant (step 4), indices before anything reads them.
bool check_work_arguments(int N, int NZ, const int* IROW, const int* JCOL, int IPATH, int LWK,
                          int LIWK) {
  if (!order_and_count_positive(N, NZ)) return false;
  if (IPATH != 1 && IPATH != 2) {
    E1STI(1, IPATH);
    raise(SparseMessage::bad_path);
    return false;
  }
  for (int k = 0; k < NZ; ++k) {
    // Unsigned wrap-around makes one comparison check both ends.
    if (static_cast<unsigned>(IROW[k]) - 1u >= static_cast<unsigned>(N)) {
      E1STI(1, k + 1);
      E1STI(2, IROW[k]);
      raise(SparseMessage::row_index_out_of_range);
      return false;
    }
    if (static_cast<unsigned>(JCOL[k]) - 1u >= static_cast<unsigned>(N)) {
      E1STI(1, k + 1);
      E1STI(2, JCOL[k]);
      raise(SparseMessage::column_index_out_of_range);
      return false;
    }
  }
  const long long min_lwk = 2LL * N + NZ;
  if (LWK < min_lwk) {
    E1STI(1, LWK);
    E1STD(2, static_cast<double>(min_lwk));
    raise(SparseMessage::real_workspace_too_short);
    return false;
  }
  const long long min_liwk = 17LL * N + 4LL * NZ;
  if (LIWK < min_liwk) {
    E1STI(1, LIWK);
    E1STD(2, static_cast<double>(min_liwk));
    raise(SparseMessage::integer_workspace_too_short);
    return false;
  }
  return true;
}

// A NaN or an infinity in A or B would only spread through the solution.
bool all_finite(int n, const double* v, SparseMessage message) {
  for (int i = 0; i < n; ++i) {
    if (std::isfinite(v[i])) continue;
    E1STI(1, i + 1);
    E1STD(1, v[i]);
    raise(message);
    return false;
  }
  return true;
}

bool report_pattern_fault(const PatternCheck& check) {
  switch (check.fault) {
    case PatternFault::none:
      return false;
    case PatternFault::duplicate:
      E1STI(1, check.row);
      E1STI(2, check.col);
      raise(SparseMessage::duplicate_entry);
      break;
    case PatternFault::empty_row:
      E1STI(1, check.row);
      raise(SparseMessage::empty_row);
      break;
    case PatternFault::empty_column:
      E1STI(1, check.col);
      raise(SparseMessage::empty_column);
      break;
  }
  return true;
}

// Residual b - op(A) x into r and the componentwise backward error
// max |r_i| / (|op(A)| |x| + |b|)_i, with s as work.
double backward_error(int N, int NZ, const double* A, const int* IROW, const int* JCOL,
                      const double* B, int IPATH, const double* X, double* r, double* s) {
  for (int i = 0; i < N; ++i) {
    r[i] = B[i];
    s[i] = std::abs(B[i]);
  }
  const int* out_index = IPATH == 1 ? IROW : JCOL;
  const int* in_index = IPATH == 1 ? JCOL : IROW;
  for (int k = 0; k < NZ; ++k) {
    const int i = out_index[k] - 1;
    const double x = X[in_index[k] - 1];
    r[i] -= A[k] * x;
    s[i] += std::abs(A[k]) * std::abs(x);
  }
  double worst = 0.0;
  for (int i = 0; i < N; ++i) {
    if (r[i] == 0.0) continue;
    const double e = s[i] > 0.0 ? std::abs(r[i]) / s[i] : std::numeric_limits<double>::infinity();
    if (!(e <= worst)) worst = e;  // a NaN residual stays visible
  }
  return worst;
}

// Corrections from residuals with the given matrix until the backward error
// reaches the rounding level of the residual itself; a correction that does
// not halve the backward error means refinement cannot help.
void refine(const MarkowitzLU& lu, int N, int NZ, const double* A, const int* IROW,
            const int* JCOL, const double* B, int IPATH, double* X) {
  double* r = lu.vector1();
  double* d = lu.vector2();
  const int width = IPATH == 1 ? lu.max_row_count() : lu.max_col_count();
  const double rounding_level = 2.0 * (width + 1) * DBL_EPSILON;
  double previous = std::numeric_limits<double>::infinity();
  for (int corrections = 0;; ++corrections) {
    const double error = backward_error(N, NZ, A, IROW, JCOL, B, IPATH, X, r, d);
    if (error <= rounding_level) return;
    if (corrections == kMaxCorrections || !(error <= 0.5 * previous)) {
      raise(SparseMessage::refinement_ineffective);
      return;
    }
    previous = error;
    lu.solve(IPATH, r, d);
    for (int i = 0; i < N; ++i) X[i] += d[i];
  }
}

}  // namespace

SparseWorkSizes sparse_work_sizes(int N, int NZ, int IPARAM5) {
  SparseWorkSizes s{};
  const long long n = N;
  s.maxnz = IPARAM5 != 0 ? (static_cast<long long>(IPARAM5) - 21 * n) / 6 : 3LL * NZ;
  // A row or column never holds more than N entries, so more than N*N places
  // are never used: obtaining them would only cost memory.
  const long long used = std::min(s.maxnz, std::max<long long>(NZ, n * n));
  s.lwk = used + 2 * n;
  s.liwk = 17 * n + 4 * used;
  return s;
}

void DLSLXG_INIT(int* IPARAM, double* RPARAM) {
  IPARAM[0] = 1;
  IPARAM[1] = 3;
  IPARAM[2] = 3;
  IPARAM[4] = 0;
  IPARAM[5] = 0;
  RPARAM[0] = 1e16;
  RPARAM[1] = 10.0;
  RPARAM[2] = 0.0;
}

void DLSLXG(int N, int NZ, const double* A, const int* IROW, const int* JCOL, const double* B,
            int IPATH, int* IPARAM, double* RPARAM, double* X) {
  RoutineScope scope("DLSLXG");
  int lwk = 0;
  int liwk = 0;
  if (!check_public_arguments(N, NZ, IPARAM, RPARAM) || !work_lengths(N, NZ, IPARAM, lwk, liwk)) {
    return;
  }
  // Not cleared: the solver reads only what it wrote during this call.
  std::unique_ptr<double[]> rwork(new (std::nothrow) double[static_cast<std::size_t>(lwk)]);
  std::unique_ptr<int[]> iwork(new (std::nothrow) int[static_cast<std::size_t>(liwk)]);
  if (!rwork || !iwork) {
    report_allocation_failure(NZ, IPARAM);
    return;
  }
  DL2LXG(N, NZ, A, IROW, JCOL, B, IPATH, IPARAM, RPARAM, X, rwork.get(), lwk, iwork.get(), liwk);
}

namespace {

// The work-area variant, optionally tracing its factorisation.
void solve_in_areas(int N, int NZ, const double* A, const int* IROW, const int* JCOL,
                    const double* B, int IPATH, int* IPARAM, double* RPARAM, double* X,
                    double* RWORK, int LWK, int* IWORK, int LIWK, sparse_detail::SearchTrace* trace,
                    sparse_detail::FactorObserver* observer) {
  RoutineScope scope("DL2LXG");
  if (!check_work_arguments(N, NZ, IROW, JCOL, IPATH, LWK, LIWK)) return;
  if (!all_finite(NZ, A, SparseMessage::matrix_entry_not_finite) ||
      !all_finite(N, B, SparseMessage::right_side_not_finite)) {
    return;
  }
  if (IPARAM[0] == 0) DLSLXG_INIT(IPARAM, RPARAM);
  const long long maxnz = std::min(static_cast<long long>(LWK) - 2LL * N,
                                   (static_cast<long long>(LIWK) - 17LL * N) / 4);

  MarkowitzLU lu(N, static_cast<int>(maxnz), RWORK, IWORK);
  if (report_pattern_fault(lu.load(NZ, A, IROW, JCOL))) return;

  const FactorOutcome factored = sparse_detail::DL5TXG(lu, IPARAM, RPARAM, trace);
  if (factored.stop != FactorStop::completed) {
    // No pivot could be found for every row: there is no solution to give.
    std::fill(X, X + N, std::numeric_limits<double>::quiet_NaN());
    return;
  }
  if (observer) observer->factored(lu, factored);
  double* rhs = lu.vector1();
  std::copy(B, B + N, rhs);
  lu.solve(IPATH, rhs, X);
  if (IPARAM[5] != 0) refine(lu, N, NZ, A, IROW, JCOL, B, IPATH, X);
}

// DLSLXG on the caller's workspace, optionally tracing its factorisation.
void solve_in_workspace(int N, int NZ, const double* A, const int* IROW, const int* JCOL,
                        const double* B, int IPATH, int* IPARAM, double* RPARAM, double* X,
                        SparseWorkspace& ws, sparse_detail::SearchTrace* trace,
                        sparse_detail::FactorObserver* observer) {
  RoutineScope scope("DLSLXG");
  int lwk = 0;
  int liwk = 0;
  if (!check_public_arguments(N, NZ, IPARAM, RPARAM) || !work_lengths(N, NZ, IPARAM, lwk, liwk)) {
    return;
  }
  // The areas only grow, so a caller solving many systems obtains them once.
  bool obtained = true;
  try {
    if (ws.rwork.size() < static_cast<std::size_t>(lwk)) ws.rwork.resize(lwk);
    if (ws.iwork.size() < static_cast<std::size_t>(liwk)) ws.iwork.resize(liwk);
  } catch (const std::bad_alloc&) {
    obtained = false;
  }
  if (!obtained) {
    report_allocation_failure(NZ, IPARAM);
    return;
  }
  solve_in_areas(N, NZ, A, IROW, JCOL, B, IPATH, IPARAM, RPARAM, X, ws.rwork.data(), lwk,
                 ws.iwork.data(), liwk, trace, observer);
}

}  // namespace

void DL2LXG(int N, int NZ, const double* A, const int* IROW, const int* JCOL, const double* B,
            int IPATH, int* IPARAM, double* RPARAM, double* X, double* RWORK, int LWK, int* IWORK,
            int LIWK) {
  solve_in_areas(N, NZ, A, IROW, JCOL, B, IPATH, IPARAM, RPARAM, X, RWORK, LWK, IWORK, LIWK,
                 nullptr, nullptr);
}

void DLSLXG(int N, int NZ, const double* A, const int* IROW, const int* JCOL, const double* B,
            int IPATH, int* IPARAM, double* RPARAM, double* X, SparseWorkspace& ws) {
  solve_in_workspace(N, NZ, A, IROW, JCOL, B, IPATH, IPARAM, RPARAM, X, ws, nullptr, nullptr);
}

namespace sparse_detail {
namespace {

// With IPARAM(5) = 0 the limit is the one the work areas were laid out for;
// the message says what it was and what IPARAM(5) must exceed.
void report_storage_exhausted(const MarkowitzLU& lu, const FactorOutcome& f, const int* IPARAM) {
  E1STI(1, f.stages_done + 1);
  if (IPARAM[4] != 0) {
    E1STI(2, IPARAM[4]);
    raise(SparseMessage::workspace_limit_reached);
    return;
  }
  E1STI(2, lu.max_nonzeros());
  E1STD(1, 21.0 * lu.order() + 6.0 * lu.max_nonzeros());
  raise(SparseMessage::default_workspace_limit_reached);
}

}  // namespace

PivotControls pivot_controls(const int* IPARAM, const double* RPARAM) {
  PivotControls controls;
  controls.search_mode = (IPARAM[1] == 1 || IPARAM[1] == 2) ? IPARAM[1] : 3;
  controls.search_count = std::max(1, IPARAM[2]);
  // Below 1 no entry could reach the threshold; 1 admits the largest only.
  controls.stability = RPARAM[1] >= 1.0 ? RPARAM[1] : 1.0;
  controls.drop_tolerance = RPARAM[2];
  return controls;
}

FactorOutcome DL5TXG(MarkowitzLU& lu, int* IPARAM, double* RPARAM, SearchTrace* trace) {
  RoutineScope scope("DL5TXG");
  const FactorOutcome f = lu.factor(pivot_controls(IPARAM, RPARAM), trace);
  IPARAM[3] = static_cast<int>(f.peak_nonzeros);
  RPARAM[3] = f.growth;
  RPARAM[4] = f.smallest_pivot;
  if (f.stop == FactorStop::out_of_storage) {
    report_storage_exhausted(lu, f, IPARAM);
    return f;
  }
  if (f.stop == FactorStop::pivot_underflow) {
    E1STI(1, f.stages_done);
    raise(SparseMessage::pivot_near_underflow);
    return f;
  }
  if (f.growth > RPARAM[0]) {
    E1STD(1, f.growth);
    E1STD(2, RPARAM[0]);
    raise(SparseMessage::large_growth);
  }
  if (f.stop == FactorStop::breakdown || f.tiny_pivot) {
    raise(SparseMessage::numerically_singular);
  }
  return f;
}

void DLSLXG_traced(int N, int NZ, const double* A, const int* IROW, const int* JCOL,
                   const double* B, int IPATH, int* IPARAM, double* RPARAM, double* X,
                   SparseWorkspace& ws, SearchTrace& trace, FactorObserver& observer) {
  solve_in_workspace(N, NZ, A, IROW, JCOL, B, IPATH, IPARAM, RPARAM, X, ws, &trace, &observer);
}

}  // namespace sparse_detail
}  // namespace zalk::toolkit
