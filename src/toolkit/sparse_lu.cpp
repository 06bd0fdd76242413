// Markowitz threshold LU in row-wise storage with column patterns.
//
// Pivot choice at every stage: the rows (columns) with the fewest active
// entries are taken from count lists, lowest count first; within one count the
// list order is: initially ascending index, afterwards the row (column)
// updated last comes first. In each searched row (column) an entry is
// eligible when its magnitude is not below the largest magnitude of that row
// (column) divided by the stability factor. The eligible entry of least
// Markowitz cost (r-1)(c-1) wins; among equal costs the larger magnitude, and
// among equal magnitudes the one found first (rows before columns, each row or
// column in its storage order).
#include "toolkit/sparse_internal.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <utility>

namespace zalk::toolkit::sparse_detail {
namespace {

constexpr int kNone = -1;
constexpr int kPivotal = -2;  // rnext_ of a row that has been pivotal

// Elbow room of a row or column that has to move: it may grow again soon.
int grown_capacity(int need, int n) { return std::min(n, need + std::max(4, need / 2)); }

}  // namespace

MarkowitzLU::MarkowitzLU(int n, int maxnz, double* rwork, int* iwork) : n_(n), maxnz_(maxnz) {
  val_ = rwork;
  w1_ = rwork + maxnz;
  w2_ = w1_ + n;
  int* p = iwork;
  for (int** a : {&rbeg_, &rcap_, &rnl_, &rna_, &rnext_, &rprev_, &rhead_, &cbeg_, &ccap_, &clen_,
                  &cnext_, &cprev_, &chead_, &pivrow_, &mark_, &seen_, &order_}) {
    *a = p;
    p += n;
  }
  colidx_ = p;
  colpat_ = colidx_ + maxnz;
  rowof_ = colpat_ + maxnz;
  slot_ = rowof_ + maxnz;
}

// ---------------------------------------------------------------- loading

PatternCheck MarkowitzLU::load(int nz, const double* a, const int* irow, const int* jcol) {
  nz_ = nz;
  std::fill(rna_, rna_ + n_, 0);
  std::fill(clen_, clen_ + n_, 0);
  for (int k = 0; k < nz; ++k) {
    ++rna_[irow[k] - 1];
    ++clen_[jcol[k] - 1];
  }
  max_row_count_ = *std::max_element(rna_, rna_ + n_);
  max_col_count_ = *std::max_element(clen_, clen_ + n_);
  lay_out(rna_, rbeg_, rcap_, rtail_);
  lay_out(clen_, cbeg_, ccap_, ctail_);
  std::fill(rna_, rna_ + n_, 0);
  std::fill(clen_, clen_ + n_, 0);
  // Entries usually come row by row: the next place of the current row is
  // kept in a local rather than counted up in memory entry by entry.
  int run_row = kNone;
  int next = 0;
  for (int k = 0; k < nz; ++k) {
    const int i = irow[k] - 1;
    if (i != run_row) {
      if (run_row != kNone) rna_[run_row] = next - rbeg_[run_row];
      run_row = i;
      next = rbeg_[i] + rna_[i];
    }
    val_[next] = a[k];
    colidx_[next] = jcol[k] - 1;
    ++next;
  }
  rna_[run_row] = next - rbeg_[run_row];

  // One sweep by rows: repeated (row, column) pairs, column patterns (rows
  // ascending), row scales for the singularity test, largest magnitude.
  std::fill(mark_, mark_ + n_, kNone);
  PatternCheck check;
  amax_ = 0.0;
  for (int i = 0; i < n_; ++i) {
    double largest = 0.0;
    for (int t = rbeg_[i]; t < rbeg_[i] + rna_[i]; ++t) {
      const int j = colidx_[t];
      largest = std::max(largest, std::abs(val_[t]));
      rowof_[t] = i;
      slot_[t] = clen_[j];
      colpat_[cbeg_[j] + clen_[j]++] = t;
      if (mark_[j] != i) {
        mark_[j] = i;
        continue;
      }
      // Keys N*(JCOL-1)+IROW order by column, then row: keep the smallest.
      const bool first = check.fault == PatternFault::none;
      if (first || j + 1 < check.col || (j + 1 == check.col && i + 1 < check.row)) {
        check = {PatternFault::duplicate, i + 1, j + 1};
      }
    }
    w2_[i] = largest;
    amax_ = std::max(amax_, largest);
  }
  if (check.fault != PatternFault::none) return check;
  for (int i = 0; i < n_; ++i) {
    if (rna_[i] == 0) return {PatternFault::empty_row, i + 1, 0};
  }
  for (int j = 0; j < n_; ++j) {
    if (clen_[j] == 0) return {PatternFault::empty_column, 0, j + 1};
  }

  gmax_ = amax_;
  held_ = nz;
  for (int i = 0; i < n_; ++i) rnl_[i] = 0;
  build_count_lists();
  return check;
}

// Places rows (or column patterns) one after the other. Each gets elbow room
// of about its own length when the limit allows it, else exactly its length;
// never less than its count, which repeated entries may push beyond N.
void MarkowitzLU::lay_out(const int* count, int* begin, int* capacity, int& tail) const {
  auto roomy = [this](int c) { return std::max(c, std::min(n_, 2 * c + 2)); };
  long long wanted = 0;
  for (int i = 0; i < n_; ++i) wanted += roomy(count[i]);
  const bool spacious = wanted <= (static_cast<long long>(nz_) + maxnz_) / 2;
  int pos = 0;
  for (int i = 0; i < n_; ++i) {
    capacity[i] = spacious ? roomy(count[i]) : count[i];
    begin[i] = pos;
    pos += capacity[i];
  }
  tail = pos;
}

void MarkowitzLU::build_count_lists() {
  std::fill(rhead_, rhead_ + n_, kNone);
  std::fill(chead_, chead_ + n_, kNone);
  rmin_ = n_;
  cmin_ = n_;
  // Inserted at the head, so descending insertion leaves ascending lists.
  for (int i = n_ - 1; i >= 0; --i) link_row(i);
  for (int j = n_ - 1; j >= 0; --j) link_col(j);
}

// ------------------------------------------------------------ count lists
// A row (column) with c active entries sits in list c; it must be unlinked
// before its count changes.

void MarkowitzLU::link_row(int i) {
  const int c = rna_[i];
  const int h = rhead_[c - 1];
  rprev_[i] = kNone;
  rnext_[i] = h;
  if (h != kNone) rprev_[h] = i;
  rhead_[c - 1] = i;
  rmin_ = std::min(rmin_, c);
}

void MarkowitzLU::unlink_row(int i) {
  if (rprev_[i] != kNone) {
    rnext_[rprev_[i]] = rnext_[i];
  } else {
    rhead_[rna_[i] - 1] = rnext_[i];
  }
  if (rnext_[i] != kNone) rprev_[rnext_[i]] = rprev_[i];
}

void MarkowitzLU::link_col(int j) {
  const int c = clen_[j];
  const int h = chead_[c - 1];
  cprev_[j] = kNone;
  cnext_[j] = h;
  if (h != kNone) cprev_[h] = j;
  chead_[c - 1] = j;
  cmin_ = std::min(cmin_, c);
}

void MarkowitzLU::unlink_col(int j) {
  if (cprev_[j] != kNone) {
    cnext_[cprev_[j]] = cnext_[j];
  } else {
    chead_[clen_[j] - 1] = cnext_[j];
  }
  if (cnext_[j] != kNone) cprev_[cnext_[j]] = cprev_[j];
}

// ----------------------------------------------------------- pivot search

void MarkowitzLU::search_row(int i, double stability, Candidate& best) const {
  const int b = rbeg_[i] + rnl_[i];
  const int e = b + rna_[i];
  double largest = 0.0;
  for (int t = b; t < e; ++t) largest = std::max(largest, std::abs(val_[t]));
  const double threshold = largest / stability;
  const long long r1 = rna_[i] - 1;
  for (int t = b; t < e; ++t) {
    const double mag = std::abs(val_[t]);
    if (mag < threshold) continue;
    const int j = colidx_[t];
    best.offer(i, j, t, r1 * (clen_[j] - 1), mag);
  }
}

void MarkowitzLU::search_col(int j, double stability, Candidate& best) const {
  const int b = cbeg_[j];
  const int len = clen_[j];
  const long long c1 = len - 1;
  double largest = 0.0;
  for (int s = 0; s < len; ++s) largest = std::max(largest, std::abs(val_[colpat_[b + s]]));
  const double threshold = largest / stability;
  for (int s = 0; s < len; ++s) {
    const int t = colpat_[b + s];
    const double mag = std::abs(val_[t]);
    if (mag < threshold) continue;
    const int i = rowof_[t];
    best.offer(i, j, t, (rna_[i] - 1) * c1, mag);
  }
}

MarkowitzLU::Candidate MarkowitzLU::select_pivot(const PivotControls& controls) {
  Candidate best;
  const int wanted = controls.search_count;
  while (rmin_ < n_ && rhead_[rmin_ - 1] == kNone) ++rmin_;
  while (cmin_ < n_ && chead_[cmin_ - 1] == kNone) ++cmin_;
  // A row of c entries costs at least (c-1)(cmin-1), a column of c entries at
  // least (rmin-1)(c-1); once that exceeds the best cost, this and every later
  // list can only lose, so the search ends early with the same choice.
  auto beaten = [&best](long long bound) { return best.row != kNone && bound > best.cost; };
  if (controls.search_mode != 2) {
    int searched = 0;
    for (int c = rmin_; c <= n_ && searched < wanted; ++c) {
      if (beaten(static_cast<long long>(c - 1) * (cmin_ - 1))) break;
      for (int i = rhead_[c - 1]; i != kNone && searched < wanted; i = rnext_[i], ++searched) {
        search_row(i, controls.stability, best);
        if (trace_) trace_row(i);
      }
    }
  }
  if (controls.search_mode != 1) {
    int searched = 0;
    for (int c = cmin_; c <= n_ && searched < wanted; ++c) {
      if (beaten(static_cast<long long>(rmin_ - 1) * (c - 1))) break;
      for (int j = chead_[c - 1]; j != kNone && searched < wanted; j = cnext_[j], ++searched) {
        search_col(j, controls.stability, best);
        if (trace_) trace_col(j);
      }
    }
  }
  if (trace_) {
    trace_->stage_end.push_back(static_cast<int>(trace_->group_end.size()));
    trace_->pivots.push_back({best.row, best.col, best.cost});
  }
  return best;
}

void MarkowitzLU::trace_row(int i) const {
  const int b = rbeg_[i] + rnl_[i];
  const long long r1 = rna_[i] - 1;
  for (int t = b; t < b + rna_[i]; ++t) {
    const int j = colidx_[t];
    trace_->entries.push_back({i, j, r1 * (clen_[j] - 1)});
  }
  trace_->group_end.push_back(static_cast<int>(trace_->entries.size()));
}

void MarkowitzLU::trace_col(int j) const {
  const int b = cbeg_[j];
  const long long c1 = clen_[j] - 1;
  for (int s = 0; s < clen_[j]; ++s) {
    const int i = rowof_[colpat_[b + s]];
    trace_->entries.push_back({i, j, (rna_[i] - 1) * c1});
  }
  trace_->group_end.push_back(static_cast<int>(trace_->entries.size()));
}

// ------------------------------------------------------------ elimination

FactorOutcome MarkowitzLU::factor(const PivotControls& controls, SearchTrace* trace) {
  trace_ = trace;
  if (trace_) trace_->clear();
  FactorOutcome out;
  out.smallest_pivot = std::numeric_limits<double>::infinity();
  for (int k = 0; k < n_; ++k) {
    const Candidate pivot = select_pivot(controls);
    const double mag = pivot.row == kNone ? 0.0 : pivot.mag;
    out.smallest_pivot = std::min(out.smallest_pivot, mag);
    out.stages_done = k;
    if (mag == 0.0) {
      out.stop = FactorStop::breakdown;
      break;
    }
    if (mag < kPivotUnderflowLevel) {
      out.stop = FactorStop::pivot_underflow;
      break;
    }
    if (mag <= kPivotNoiseLevel * w2_[pivot.row]) out.tiny_pivot = true;
    out.stop = eliminate(k, pivot, controls);
    if (out.stop == FactorStop::breakdown) out.smallest_pivot = 0.0;  // a pivot is missing
    if (out.stop != FactorStop::completed) break;
    out.stages_done = k + 1;
  }
  out.peak_nonzeros = held_;
  out.growth = amax_ > 0.0 ? gmax_ / amax_ : 1.0;
  trace_ = nullptr;
  return out;
}

// Swaps two active entries of one row; their columns follow them. (Values
// are held in locals: reloading what was just stored stalls the processor.)
void MarkowitzLU::swap_entries(int s, int t) {
  if (s == t) return;
  const double vs = val_[s], vt = val_[t];
  const int cs = colidx_[s], ct = colidx_[t];
  const int ss = slot_[s], st = slot_[t];
  val_[s] = vt;
  val_[t] = vs;
  colidx_[s] = ct;
  colidx_[t] = cs;
  slot_[s] = st;
  slot_[t] = ss;
  colpat_[cbeg_[ct] + st] = s;
  colpat_[cbeg_[cs] + ss] = t;
}

// Points the column pattern back at the active entry in place t.
void MarkowitzLU::relink(int t) { colpat_[cbeg_[colidx_[t]] + slot_[t]] = t; }

// Takes the entry in place t out of column j; the column's last entry fills the gap.
void MarkowitzLU::remove_from_col(int j, int t) {
  int* pat = colpat_ + cbeg_[j];
  const int s = slot_[t];
  const int last = --clen_[j];
  pat[s] = pat[last];
  slot_[pat[s]] = s;
}

FactorStop MarkowitzLU::eliminate(int stage, const Candidate& pivot, const PivotControls& controls) {
  const int r = pivot.row;
  const int c = pivot.col;
  unlink_row(r);
  unlink_col(c);
  pivrow_[stage] = r;
  rnext_[r] = kPivotal;
  stage_pivot_row_ = r;

  // The pivot goes first in the active part: that part is now row r of U.
  const int rb = rbeg_[r] + rnl_[r];
  swap_entries(rb, pivot.pos);
  const double p = val_[rb];
  const int lenr = rna_[r];
  // mark_[j] = stamp flags the columns of the pivot row (stamps lie above the
  // row indices the duplicate search left there); seen_[j] = i that row i
  // holds column j too.
  const int stamp = n_ + stage;
  for (int t = rb + 1; t < rb + lenr; ++t) {
    const int j = colidx_[t];
    unlink_col(j);
    remove_from_col(j, t);
    mark_[j] = stamp;
    seen_[j] = kNone;
    w1_[j] = val_[t];
  }

  // Every other row of column c is eliminated. The pattern may be moved by
  // compaction meanwhile, but only as a whole and in order.
  FactorStop stop = FactorStop::completed;
  for (int s = 0; s < clen_[c] && stop == FactorStop::completed; ++s) {
    const int q = colpat_[cbeg_[c] + s];
    const int i = rowof_[q];
    if (i != r) stop = eliminate_row(i, q, r, p, stamp, lenr, controls.drop_tolerance);
  }
  clen_[c] = 0;
  if (stop != FactorStop::completed) return stop;

  const int ub = rbeg_[r] + rnl_[r];
  for (int t = ub + 1; t < ub + lenr; ++t) {
    const int j = colidx_[t];
    if (clen_[j] == 0) return FactorStop::breakdown;  // no row left for column j
    link_col(j);
  }
  return FactorStop::completed;
}

// Row i -= l * (pivot row r), the multiplier l taking the place of the
// entry in place q, row i's entry in the pivot column.
FactorStop MarkowitzLU::eliminate_row(int i, int q, int r, double pivot, int stamp, int lenr,
                                      double drop_tolerance) {
  unlink_row(i);
  int b = rbeg_[i] + rnl_[i];
  const double l = val_[q] / pivot;
  if (q != b) {
    // The first active entry moves to q; column c, being eliminated, need
    // not learn where its entry went.
    const int cb = colidx_[b];
    const int sb = slot_[b];
    val_[q] = val_[b];
    colidx_[q] = cb;
    slot_[q] = sb;
    colpat_[cbeg_[cb] + sb] = q;
  }
  val_[b] = l;
  colidx_[b] = r;
  ++rnl_[i];
  --rna_[i];
  ++b;

  // Locals, not members, in the loops: stores through the value and index
  // arrays could otherwise alias them and force a reload every step.
  double* const val = val_;
  const int* const col = colidx_;
  const int* const mark = mark_;
  int* const seen = seen_;
  const double* const w = w1_;
  double largest = gmax_;
  int shared = 0;
  for (int t = b, e = b + rna_[i]; t < e; ++t) {
    const int j = col[t];
    if (mark[j] != stamp) continue;
    const double v = val[t] - l * w[j];
    val[t] = v;
    largest = std::max(largest, std::abs(v));
    seen[j] = i;
    ++shared;
  }
  gmax_ = largest;

  const int fills = lenr - 1 - shared;
  if (fills > 0) {
    if (!make_row_room(i, fills)) return FactorStop::out_of_storage;
    const int ub = rbeg_[r] + rnl_[r];
    for (int t = ub + 1; t < ub + lenr; ++t) {
      const int j = colidx_[t];
      if (seen[j] == i) continue;
      const double v = -l * w[j];
      if (drop_tolerance != 0.0 && std::abs(v) < drop_tolerance) continue;
      const int e = rbeg_[i] + rnl_[i] + rna_[i];
      val_[e] = v;
      colidx_[e] = j;
      rowof_[e] = i;
      ++rna_[i];
      ++held_;
      gmax_ = std::max(gmax_, std::abs(v));
      if (!append_to_col(j, e)) return FactorStop::out_of_storage;
    }
  }

  if (rna_[i] == 0) return FactorStop::breakdown;  // nothing left in row i
  link_row(i);
  return FactorStop::completed;
}

// ---------------------------------------------------------------- storage

// Makes room for `extra` more entries in row i: in place, by extending the
// last row, by moving the row to the free end, or after packing all rows and
// rotating row i behind the others, where it can grow into the free end.
bool MarkowitzLU::make_row_room(int i, int extra) {
  const int len = rnl_[i] + rna_[i];
  const int need = len + extra;
  if (need <= rcap_[i]) return true;
  const int want = grown_capacity(need, n_);
  const bool last = rbeg_[i] + rcap_[i] == rtail_;
  if (!last && rtail_ + need <= maxnz_) {
    move_entries(rbeg_[i], len, rtail_);
    rbeg_[i] = rtail_;
    relink_row(i);
  } else if (!last || rbeg_[i] + need > maxnz_) {
    compact_rows();
    const int from = rbeg_[i];
    for (auto* a : {colidx_, rowof_, slot_}) std::rotate(a + from, a + from + len, a + rtail_);
    std::rotate(val_ + from, val_ + from + len, val_ + rtail_);
    for (int k = 0; k < n_; ++k) {
      if (rbeg_[k] > from) rbeg_[k] -= len;
    }
    rbeg_[i] = rtail_ - len;
    for (int k = 0; k < n_; ++k) {
      if (rnext_[k] != kPivotal) relink_row(k);
    }
    // The pivot entry of this stage still stands in its column, which is
    // being worked through.
    relink(rbeg_[stage_pivot_row_] + rnl_[stage_pivot_row_]);
    if (rbeg_[i] + need > maxnz_) return false;
  }
  // Row i is now the last one: it extends into the free end.
  rcap_[i] = std::min(want, maxnz_ - rbeg_[i]);
  rtail_ = rbeg_[i] + rcap_[i];
  return true;
}

// Copies `len` stored entries from place `from` to place `to` (to <= from or
// the ranges disjoint), with what the column patterns need to find them.
void MarkowitzLU::move_entries(int from, int len, int to) {
  std::copy(val_ + from, val_ + from + len, val_ + to);
  for (auto* a : {colidx_, rowof_, slot_}) std::copy(a + from, a + from + len, a + to);
}

// Points the column patterns at the active entries of row i where they now are.
void MarkowitzLU::relink_row(int i) {
  const int b = rbeg_[i] + rnl_[i];
  for (int t = b; t < b + rna_[i]; ++t) relink(t);
}

// Packs all rows in their present order, each to its length; the caller
// relinks the column patterns.
void MarkowitzLU::compact_rows() {
  for (int i = 0; i < n_; ++i) order_[i] = i;
  std::sort(order_, order_ + n_, [this](int x, int y) { return rbeg_[x] < rbeg_[y]; });
  int dst = 0;
  for (int s = 0; s < n_; ++s) {
    const int i = order_[s];
    const int len = rnl_[i] + rna_[i];
    // Segments are disjoint and taken in place order, so dst <= rbeg_[i].
    move_entries(rbeg_[i], len, dst);
    rbeg_[i] = dst;
    rcap_[i] = len;
    dst += len;
  }
  rtail_ = dst;
}

bool MarkowitzLU::append_to_col(int j, int t) {
  if (clen_[j] == ccap_[j] && !make_col_room(j)) return false;
  slot_[t] = clen_[j];
  colpat_[cbeg_[j] + clen_[j]++] = t;
  return true;
}

bool MarkowitzLU::make_col_room(int j) {
  const int len = clen_[j];
  const int need = len + 1;
  const int want = grown_capacity(need, n_);
  const bool last = cbeg_[j] + ccap_[j] == ctail_;
  if (!last && ctail_ + need <= maxnz_) {
    std::copy(colpat_ + cbeg_[j], colpat_ + cbeg_[j] + len, colpat_ + ctail_);
    cbeg_[j] = ctail_;
  } else if (!last || cbeg_[j] + need > maxnz_) {
    compact_cols();
    if (len > 0) {
      const int from = cbeg_[j];
      std::rotate(colpat_ + from, colpat_ + from + len, colpat_ + ctail_);
      for (int k = 0; k < n_; ++k) {
        if (clen_[k] > 0 && cbeg_[k] > from) cbeg_[k] -= len;
      }
    }
    cbeg_[j] = ctail_ - len;
    if (cbeg_[j] + need > maxnz_) return false;
  }
  // Column j is now the last one: it extends into the free end.
  ccap_[j] = std::min(want, maxnz_ - cbeg_[j]);
  ctail_ = cbeg_[j] + ccap_[j];
  return true;
}

// Packs the patterns of the live columns (pivotal columns hold none).
void MarkowitzLU::compact_cols() {
  int m = 0;
  for (int j = 0; j < n_; ++j) {
    if (clen_[j] > 0) {
      order_[m++] = j;
    } else {
      ccap_[j] = 0;  // its old place may be reused: it must move when it grows
    }
  }
  std::sort(order_, order_ + m, [this](int x, int y) { return cbeg_[x] < cbeg_[y]; });
  int dst = 0;
  for (int s = 0; s < m; ++s) {
    const int j = order_[s];
    const int len = clen_[j];
    std::copy(colpat_ + cbeg_[j], colpat_ + cbeg_[j] + len, colpat_ + dst);
    cbeg_[j] = dst;
    ccap_[j] = len;
    dst += len;
  }
  ctail_ = dst;
}

// -------------------------------------------------------------- solutions
// With M holding the multipliers (unit diagonal, row r_k against the rows
// pivotal before it) and U the pivotal rows, A = M U.

void MarkowitzLU::solve(int path, double* rhs, double* out) const {
  if (path == 1) {
    // M y = b, row by row in pivot order; y overwrites b.
    for (int k = 0; k < n_; ++k) {
      const int r = pivrow_[k];
      double s = rhs[r];
      for (int t = rbeg_[r]; t < rbeg_[r] + rnl_[r]; ++t) s -= val_[t] * rhs[colidx_[t]];
      rhs[r] = s;
    }
    // U x = y, backwards.
    for (int k = n_ - 1; k >= 0; --k) {
      const int r = pivrow_[k];
      const int b = rbeg_[r] + rnl_[r];
      double s = rhs[r];
      for (int t = b + 1; t < b + rna_[r]; ++t) s -= val_[t] * out[colidx_[t]];
      out[colidx_[b]] = s / val_[b];
    }
    return;
  }
  // U^T z = b, forwards, spreading each z into the later columns.
  for (int k = 0; k < n_; ++k) {
    const int r = pivrow_[k];
    const int b = rbeg_[r] + rnl_[r];
    const double z = rhs[colidx_[b]] / val_[b];
    out[r] = z;
    for (int t = b + 1; t < b + rna_[r]; ++t) rhs[colidx_[t]] -= val_[t] * z;
  }
  // M^T x = z, backwards, spreading into the earlier pivotal rows.
  for (int k = n_ - 1; k >= 0; --k) {
    const int r = pivrow_[k];
    const double x = out[r];
    for (int t = rbeg_[r]; t < rbeg_[r] + rnl_[r]; ++t) out[colidx_[t]] -= val_[t] * x;
  }
}

}  // namespace zalk::toolkit::sparse_detail
