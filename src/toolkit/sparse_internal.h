// Inner workings of the sparse solver: the Markowitz threshold LU kept in the
// caller's two work areas, and its triangular solves.
//
// Storage inside the work areas (N the order, MAXNZ the nonzero limit):
//   8-byte area (MAXNZ + 2N):  values of the row-wise storage (MAXNZ), then two
//                              dense vectors of N.
//   integer area (17N + 4MAXNZ): 17 arrays of N (row and column bookkeeping),
//                              then per place of the row storage (MAXNZ each)
//                              its column index, its row and its index in its
//                              column's pattern, and the column patterns
//                              (MAXNZ), which list the places of the active
//                              entries of each column.
// Row i holds, from rbeg[i], first its multipliers (rnl[i] entries; their
// index field names the pivot row they were computed against) and then its
// active part (rna[i] entries). Once row i is pivotal its active part is its
// row of U with the pivot first. Whenever an active entry moves, its column's
// pattern is told. Only the parts written during a call are ever read, so the
// work areas need no clearing.
#pragma once

#include <cfloat>
#include <vector>

#include "toolkit/sparse.h"

namespace zalk::toolkit::sparse_detail {

struct PivotControls {
  int search_mode = 3;          // 1 rows, 2 columns, 3 rows and columns
  int search_count = 3;         // rows (columns) with the fewest nonzeros searched
  double stability = 10.0;      // threshold = largest magnitude / stability (at least 1)
  double drop_tolerance = 0.0;  // fill-in below it is dropped; 0 keeps all
};

enum class FactorStop { completed, breakdown, out_of_storage, pivot_underflow };

// A pivot this small leaves rounding noise only: 0.01 of the spacing of
// doubles at the largest magnitude of its row in the given matrix.
constexpr double kPivotNoiseLevel = 0.01 * DBL_EPSILON;
// Within two orders of magnitude of underflow (its reciprocal then also comes
// within two orders of overflow).
constexpr double kPivotUnderflowLevel = 100.0 * DBL_MIN;

// The pivot search's preference: an eligible entry of Markowitz cost `cost`
// and magnitude `mag` displaces the best one found so far when it is cheaper,
// or as cheap and larger; on a tie the earlier one stays.
inline bool displaces(long long cost, double mag, long long best_cost, double best_mag) {
  return cost < best_cost || (cost == best_cost && mag > best_mag);
}

struct FactorOutcome {
  FactorStop stop = FactorStop::completed;
  int stages_done = 0;          // pivots completed when it stopped
  long long peak_nonzeros = 0;  // most values held at once
  double growth = 1.0;          // largest magnitude met / largest given magnitude
  double smallest_pivot = 0.0;
  bool tiny_pivot = false;      // a pivot is below rounding level of its row
};

enum class PatternFault { none, duplicate, empty_row, empty_column };

struct PatternCheck {
  PatternFault fault = PatternFault::none;
  int row = 0;  // 1-based
  int col = 0;  // 1-based
};

// What the pivot search of one factorisation examined, stage by stage: each
// searched row or column (a group) with its active entries in the order they
// were examined and their Markowitz costs at the time, and the pivot chosen.
// Groups that an early end of the search skipped are not listed; every entry
// of theirs costs more than the pivot.
struct SearchTrace {
  struct Entry {
    int row;  // 0-based
    int col;
    long long cost;
  };
  struct Pivot {
    int row;
    int col;
    long long cost;
  };
  std::vector<Entry> entries;  // of every group, in search order
  std::vector<int> group_end;  // per group: end of its entries
  std::vector<int> stage_end;  // per stage: end of its groups
  std::vector<Pivot> pivots;   // per stage

  void clear() {
    entries.clear();
    group_end.clear();
    stage_end.clear();
    pivots.clear();
  }
};

class MarkowitzLU {
 public:
  // The areas must hold MAXNZ + 2N and 17N + 4MAXNZ entries, MAXNZ >= NZ.
  MarkowitzLU(int n, int maxnz, double* rwork, int* iwork);

  // Loads validated coordinates (indices already in 1..N): reports the first
  // duplicate in column-major key order, else the first empty row, else the
  // first empty column. Nothing else may be called after a fault.
  PatternCheck load(int nz, const double* a, const int* irow, const int* jcol);

  // With a trace, the pivot search also records what it examined (the
  // choices are the same either way).
  FactorOutcome factor(const PivotControls& controls, SearchTrace* trace = nullptr);

  // Solves A x = b (path 1) or A^T x = b (path 2) with the completed factors.
  // `rhs` (N) is overwritten; `out` (N) must not alias it.
  void solve(int path, double* rhs, double* out) const;

  // Two dense vectors of N that the solver lends out after the factorisation.
  double* vector1() const { return w1_; }
  double* vector2() const { return w2_; }

  // Largest number of entries in a row (column) of the given matrix.
  int max_row_count() const { return max_row_count_; }
  int max_col_count() const { return max_col_count_; }

  // The factors' structure after a completed factorisation: the pivot row and
  // column of stage k; the columns of row r of U in storage order (its pivot
  // first); the pivot rows that the multipliers of row r were computed
  // against, in storage order.
  int pivot_row(int k) const { return pivrow_[k]; }
  int pivot_col(int k) const { return colidx_[rbeg_[pivrow_[k]] + rnl_[pivrow_[k]]]; }
  int u_length(int r) const { return rna_[r]; }
  int u_col(int r, int s) const { return colidx_[rbeg_[r] + rnl_[r] + s]; }
  int l_length(int r) const { return rnl_[r]; }
  int l_pivot_row(int r, int s) const { return colidx_[rbeg_[r] + s]; }

  // The order and the nonzero limit the work areas were laid out for.
  int order() const { return n_; }
  int max_nonzeros() const { return maxnz_; }

 private:
  struct Candidate {
    int row = -1;
    int col = -1;
    int pos = -1;
    long long cost = 0;
    double mag = 0.0;
    // Keeps the cheaper entry; on equal cost the larger, on a tie the earlier.
    void offer(int i, int j, int t, long long c, double m) {
      if (row != -1 && !displaces(c, m, cost, mag)) return;
      row = i;
      col = j;
      pos = t;
      cost = c;
      mag = m;
    }
  };

  void lay_out(const int* count, int* begin, int* capacity, int& tail) const;
  void build_count_lists();

  void link_row(int i);
  void unlink_row(int i);
  void link_col(int j);
  void unlink_col(int j);

  Candidate select_pivot(const PivotControls& controls);
  void search_row(int i, double stability, Candidate& best) const;
  void search_col(int j, double stability, Candidate& best) const;
  void trace_row(int i) const;
  void trace_col(int j) const;

  FactorStop eliminate(int stage, const Candidate& pivot, const PivotControls& controls);
  FactorStop eliminate_row(int i, int q, int r, double pivot, int stamp, int lenr,
                           double drop_tolerance);
  void remove_from_col(int j, int t);
  bool append_to_col(int j, int t);
  void relink(int t);
  void relink_row(int i);
  void move_entries(int from, int len, int to);
  bool make_row_room(int i, int extra);
  bool make_col_room(int j);
  void compact_rows();
  void compact_cols();
  void swap_entries(int s, int t);

  int n_;
  int maxnz_;
  SearchTrace* trace_ = nullptr;
  // 8-byte area
  double* val_;
  double* w1_;
  double* w2_;
  // integer area
  int* colidx_;  // per place: column of an active or U entry, pivot row of a multiplier
  int* colpat_;  // per column: the places of its active entries
  int* rowof_;   // per place: the row that holds it
  int* slot_;    // per place of an active entry: its index in its column's pattern
  int* order_;
  int *rbeg_, *rcap_, *rnl_, *rna_, *rnext_, *rprev_, *rhead_;
  int *cbeg_, *ccap_, *clen_, *cnext_, *cprev_, *chead_;
  int *pivrow_, *mark_, *seen_;  // pivot rows in stage order (U's first entry names the column)

  int nz_ = 0;
  int stage_pivot_row_ = -1;
  int rtail_ = 0;  // first free position of the row storage
  int ctail_ = 0;  // first free position of the column storage
  int rmin_ = 1;   // no active row has fewer entries
  int cmin_ = 1;   // no active column has fewer entries
  int max_row_count_ = 0;
  int max_col_count_ = 0;
  long long held_ = 0;
  double amax_ = 0.0;
  double gmax_ = 0.0;
};

// The pivot controls that IPARAM/RPARAM select.
PivotControls pivot_controls(const int* IPARAM, const double* RPARAM);

// The factorisation step: takes its controls from IPARAM/RPARAM, records
// IPARAM(4), RPARAM(4) and RPARAM(5), and reports storage exhaustion and a
// pivot near underflow (terminal) and the growth and singularity warnings.
FactorOutcome DL5TXG(MarkowitzLU& lu, int* IPARAM, double* RPARAM, SearchTrace* trace = nullptr);

// Receives the completed factorisation of a traced solve (before the
// triangular solves), with the outcome of the factorisation.
class FactorObserver {
 public:
  virtual void factored(const MarkowitzLU& lu, const FactorOutcome& outcome) = 0;

 protected:
  ~FactorObserver() = default;
};

// DLSLXG with a caller's workspace whose factorisation records its pivot
// search into `trace` and is shown to `observer` once completed: the same
// checks, messages and results as DLSLXG.
void DLSLXG_traced(int N, int NZ, const double* A, const int* IROW, const int* JCOL,
                   const double* B, int IPATH, int* IPARAM, double* RPARAM, double* X,
                   SparseWorkspace& ws, SearchTrace& trace, FactorObserver& observer);

}  // namespace zalk::toolkit::sparse_detail
