// Runs of sparse systems that share one sparsity pattern, each solved with
// exactly the results DLSLXG gives it.
//
// Most of DLSLXG's time goes into the bookkeeping of the Markowitz search,
// which depends on the pattern alone. This solver has DLSLXG factor the
// first system of a pattern and records what its pivot search examined and
// chose. For a later system of the same pattern and parameters it repeats
// the recorded elimination on a dense array with the same operations in the
// same order, and at every stage re-runs the search's decision on the
// entries that could compete with the recorded pivot (those of equal or
// smaller Markowitz cost, with the thresholds of their rows and columns).
// Where the search would choose differently, a recording that took the
// other way at that stage (with the same pivots before it) continues: the
// search's state depends on the pattern and the pivots so far. The last
// kSchedules recordings of each of the last kPatterns patterns are kept
// (the engine's systems alternate between a few patterns). Where none fits, or a warning
// or error is due (numerically singular, growth above RPARAM(1), a pivot
// near underflow, entries that are not finite), the system goes to DLSLXG,
// which gives the messages, and its factorisation is recorded.
//
// The repeated path serves IPATH = 1 without drop tolerance and without
// iterative refinement, up to order kMaxReplayOrder; everything else always
// goes to DLSLXG.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "toolkit/sparse.h"

namespace zalk::toolkit {

class SparseReplaySolver {
 public:
  // The dense array of the repeated elimination has N*N places.
  static constexpr int kMaxReplayOrder = 256;
  static constexpr std::size_t kPatterns = 4;

  struct Counts {
    long long repeated = 0;  // systems solved by repeating the recorded elimination
    long long searched = 0;  // systems handed to DLSLXG
    long long departed = 0;  // of these, systems where a repetition was tried and abandoned
  };

  SparseReplaySolver();
  ~SparseReplaySolver();
  SparseReplaySolver(SparseReplaySolver&&) noexcept;
  SparseReplaySolver& operator=(SparseReplaySolver&&) noexcept;

  // Arguments and results as DLSLXG's (with a caller's workspace).
  void solve(int N, int NZ, const double* A, const int* IROW, const int* JCOL, const double* B,
             int IPATH, int* IPARAM, double* RPARAM, double* X);

  // A system given as a dense column-major matrix of order N whose row r
  // (1-based) may hold nonzeros only in columns first[r-1]..last[r-1]:
  // solved by repeating a recorded factorisation of its nonzeros listed row
  // by row, columns ascending, with what solve() gives for that list. False,
  // with nothing written, where no recording can simply be repeated: the
  // caller then lists the nonzeros and calls solve().
  bool repeat_dense(int N, const double* matrix, const int* first, const int* last,
                    const double* B, int IPATH, int* IPARAM, double* RPARAM, double* X);

  // Forgets the recorded factorisation: the next system goes to DLSLXG.
  void forget();

  const Counts& counts() const { return counts_; }

 private:
  struct Schedule;
  struct Library;
  Library* library_for(int N, int NZ, const int* IROW, const int* JCOL, int IPATH,
                       const int* IPARAM, const double* RPARAM);
  void adopt(std::unique_ptr<Schedule> fresh);
  std::vector<std::unique_ptr<Library>> libraries_;  // most recently used first
  std::unique_ptr<Schedule> spare_;                  // storage for the next recording
  SparseWorkspace workspace_;
  Counts counts_;
};

}  // namespace zalk::toolkit
