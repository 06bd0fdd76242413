// Repeating a recorded Markowitz factorisation on new values of its pattern.
//
// The dense array holds entry (i, j) of the system, later of its factors, in
// place i*N + j: U in the pivot rows, each multiplier where the entry it
// eliminated stood. The factorisation of sparse_lu.cpp keeps every fill-in
// (no drop tolerance), so its pattern grows by symbolic elimination alone
// and the arithmetic of each stage is fixed by the pivot: for every other
// active row i of the pivot column, l = a(i,c) / a(r,c) replaces a(i,c), and
// for every other column j of the pivot row a(i,j) - l*a(r,j) replaces an
// entry of row i, or -l*a(r,j) becomes a new one. The values of different
// places do not meet within a stage, so the order of the places does not
// matter; the triangular solves, where it does, follow the storage order of
// the recorded factors.
#include "toolkit/sparse_replay.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "toolkit/sparse_internal.h"

namespace zalk::toolkit {

using sparse_detail::FactorOutcome;
using sparse_detail::MarkowitzLU;
using sparse_detail::SearchTrace;

namespace {

// Element by element: the arrays are short, and where the C runtime is a
// separate library a call to its memcmp costs more than the comparison.
bool same_ints(const int* a, const int* b, int n) {
  for (int i = 0; i < n; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

}  // namespace

struct SparseReplaySolver::Schedule final : sparse_detail::FactorObserver {
  // The recorded system: pattern and the parameters its pivots depend on.
  bool valid = false;
  int n = 0;
  int nz = 0;
  std::vector<int> irow, jcol;
  int search_mode = 0;   // IPARAM(2)
  int search_count = 0;  // IPARAM(3)
  int limit = 0;         // IPARAM(5)
  double stability_parameter = 0.0;  // RPARAM(2) as given
  double stability = 0.0;            // as the search uses it
  long long peak = 0;

  std::vector<int> place;      // per given entry: its place in the dense array
  std::vector<int> place_row;  // per given entry: its row
  // The loading of the dense array: per given entry, where its value comes
  // from (its index in the list, or its place in a column-major matrix) and
  // its place; in runs of entries of one row.
  struct Gather {
    int source;
    int target;
  };
  struct RowRun {
    int row;
    int end;     // one past the run's last entry
    bool first;  // the row's first run
  };
  std::vector<Gather> gather_listed, gather_dense;
  std::vector<RowRun> row_runs;
  std::vector<int> empty_rows;  // rows without a given entry
  // Whether the entries were given row by row, columns ascending (as a dense
  // matrix lists its nonzeros); their places in such a column-major matrix;
  // the row bands they were last found inside, and the other places of those.
  bool row_major = false;
  std::vector<int> column_major;
  std::vector<int> band_first, band_last;
  std::vector<int> band_zeros;

  struct Stage {
    int pivot;  // place
    int row;
    int col;
    int cost;  // the pivot's Markowitz cost (see kMaxCost)
    int groups_end;        // into group_end
    int candidates_end;    // into candidates
    int pivot_groups_end;  // into pivot_groups
    int equals_end;        // into equals
    int cheaper_end;       // into cheaper
    int eliminations_end;  // into eliminations
    int updates_end;       // into ops
    int fills_end;         // into ops
    int forward_end;       // into forward
    int backward_end;      // into backward
  };
  // Where the first stage's lists begin: stage k's lists begin where stage
  // k - 1's end.
  static constexpr Stage kBeforeFirst{};
  const Stage& stage_before(int k) const {
    return k == 0 ? kBeforeFirst : stages[std::size_t(k - 1)];
  }
  // A searched row or column that holds a rival of the pivot: its places,
  // which set its threshold.
  std::vector<int> group_places, group_end;
  // Entries of cost up to the pivot's, in search order, with their group;
  // and the same sorted by role: the groups where the pivot was examined,
  // the rivals of the pivot's cost (places), the cheaper rivals.
  struct Candidate {
    int place;
    int group;
    int cost;
  };
  // The costs are kept as int, which a 32-bit build compares in one
  // instruction; a system with a pivot dearer than this is not recorded.
  static constexpr long long kMaxCost = std::numeric_limits<int>::max();
  std::vector<Candidate> candidates, cheaper;
  std::vector<int> pivot_groups, equals;
  // Per stage: the places of the pivot column that take the multipliers;
  // the updates of the other rows, then their fill-in, each naming its
  // row's multiplier by its index within the stage.
  std::vector<int> eliminations;
  struct Op {
    int target;
    int source;      // in the pivot row
    int multiplier;  // index within the stage
  };
  std::vector<Op> ops, fills;
  // Terms of the triangular solves: a factor's place and the index of the
  // value it multiplies (a pivot row forward, a column backward).
  struct Term {
    int place;
    int index;
  };
  std::vector<Stage> stages;
  std::vector<Term> forward, backward;
  std::vector<double> multipliers;  // of one stage

  std::vector<double> threshold;  // per group
  SearchTrace trace;
  bool compiled = false;

  void begin_recording(int N, int NZ, const int* IROW, const int* JCOL) {
    valid = false;
    compiled = false;
    n = N;
    nz = NZ;
    irow.assign(IROW, IROW + NZ);
    jcol.assign(JCOL, JCOL + NZ);
    row_major = true;
    column_major.resize(std::size_t(NZ));
    for (int k = 0; k < NZ; ++k) {
      const std::size_t i = std::size_t(k);
      if (k > 0 && (irow[i] < irow[i - 1] || (irow[i] == irow[i - 1] && jcol[i] <= jcol[i - 1]))) {
        row_major = false;
      }
      column_major[i] = (jcol[i] - 1) * N + (irow[i] - 1);
    }
    band_first.clear();
    band_last.clear();
  }

  void factored(const MarkowitzLU& lu, const FactorOutcome& outcome) override {
    compiled = compile(lu, outcome);
  }

  void finish_recording(const int* IPARAM, const double* RPARAM) {
    search_mode = IPARAM[1];
    search_count = IPARAM[2];
    limit = IPARAM[4];
    stability_parameter = RPARAM[1];
    stability = sparse_detail::pivot_controls(IPARAM, RPARAM).stability;
    valid = compiled && IPARAM[5] == 0 && RPARAM[2] == 0.0;
  }

  bool accepts(int N, int NZ, const int* IROW, const int* JCOL, int IPATH, const int* IPARAM,
               const double* RPARAM) const {
    return accepts_parameters(N, NZ, IPATH, IPARAM, RPARAM) &&
           std::memcmp(IROW, irow.data(), sizeof(int) * std::size_t(nz)) == 0 &&
           std::memcmp(JCOL, jcol.data(), sizeof(int) * std::size_t(nz)) == 0;
  }
  bool accepts_parameters(int N, int NZ, int IPATH, const int* IPARAM, const double* RPARAM) const {
    return valid && N == n && NZ == nz && IPATH == 1 && IPARAM[0] != 0 &&
           IPARAM[1] == search_mode && IPARAM[2] == search_count && IPARAM[4] == limit &&
           IPARAM[5] == 0 && RPARAM[1] == stability_parameter && RPARAM[2] == 0.0;
  }
  // Whether the band's nonzeros listed row by row are exactly the recorded
  // entries: the entries lie inside the band (checked once per band), each
  // is nonzero in the matrix, and every other place of the band is zero.
  bool lists_band(const double* matrix, const int* first, const int* last) {
    if (!row_major) return false;
    if (band_first.size() != std::size_t(n) || !same_ints(first, band_first.data(), n) ||
        !same_ints(last, band_last.data(), n)) {
      if (!learn_band(first, last)) return false;
    }
    bool listed = true;
    for (int k = 0; k < nz; ++k) listed &= matrix[column_major[std::size_t(k)]] != 0.0;
    for (const int at : band_zeros) listed &= matrix[at] == 0.0;
    return listed;
  }
  bool learn_band(const int* first, const int* last) {
    band_first.clear();
    band_last.clear();
    std::vector<char> entry(std::size_t(n) * std::size_t(n), 0);
    for (int k = 0; k < nz; ++k) {
      const int r = irow[std::size_t(k)] - 1;
      if (jcol[std::size_t(k)] < first[r] || jcol[std::size_t(k)] > last[r]) return false;
      entry[std::size_t(column_major[std::size_t(k)])] = 1;
    }
    band_zeros.clear();
    for (int r = 0; r < n; ++r) {
      for (int c = first[r]; c <= last[r]; ++c) {
        const int at = (c - 1) * n + r;
        if (!entry[std::size_t(at)]) band_zeros.push_back(at);
      }
    }
    band_first.assign(first, first + n);
    band_last.assign(last, last + n);
    return true;
  }

  // Same pattern and parameters: one may stand in for the other from any
  // stage on where their pivots so far agree.
  bool same_system(const Schedule& o) const {
    return n == o.n && nz == o.nz && irow == o.irow && jcol == o.jcol &&
           search_mode == o.search_mode && search_count == o.search_count && limit == o.limit &&
           stability_parameter == o.stability_parameter;
  }
  bool same_pivots_before(const Schedule& o, int stage) const {
    for (int k = 0; k < stage; ++k) {
      if (stages[std::size_t(k)].pivot != o.stages[std::size_t(k)].pivot) return false;
    }
    return true;
  }

  void plan_gathers() {
    gather_listed.resize(std::size_t(nz));
    gather_dense.resize(std::size_t(nz));
    row_runs.clear();
    std::vector<char> seen(std::size_t(n), 0);
    for (int k = 0; k < nz; ++k) {
      const std::size_t i = std::size_t(k);
      gather_listed[i] = {k, place[i]};
      gather_dense[i] = {column_major[i], place[i]};
      if (k + 1 == nz || place_row[i + 1] != place_row[i]) {
        const std::size_t row = std::size_t(place_row[i]);
        row_runs.push_back({place_row[i], k + 1, !seen[row]});
        seen[row] = 1;
      }
    }
    empty_rows.clear();
    for (int r = 0; r < n; ++r) {
      if (!seen[std::size_t(r)]) empty_rows.push_back(r);
    }
  }
  bool compile(const MarkowitzLU& lu, const FactorOutcome& outcome);
  void compile_search(int k, int& group, int& entry);
  int compile_elimination(int r, int c, std::vector<char>& present, std::vector<char>& row_done,
                          std::vector<char>& col_done, long long& held, int& updates_end);
  static constexpr int kReport = -1;  // eliminate(): DLSLXG has to report this system
  int eliminate(int from, double* v, const double* row_largest, double& smallest, double& gmax);
  template <class Threshold>
  bool chosen_in_search_order(const Stage& s, int first, const double* v, double mag,
                              Threshold&& threshold_of) const;
  void substitute(const double* v, const double* B, double* y, double* X) const;
};

// The recorded factorisations of one pattern, most recently used first,
// and the dense arrays they work in.
struct SparseReplaySolver::Library {
  static constexpr std::size_t kSchedules = 64;
  std::vector<std::unique_ptr<Schedule>> schedules;
  std::vector<double> value, row_largest, rhs;

  Schedule* front() { return schedules.empty() ? nullptr : schedules.front().get(); }
  // Takes a recording of this library's pattern; returns the one it drops.
  std::unique_ptr<Schedule> adopt(std::unique_ptr<Schedule> fresh);
  bool repeat(const double* A, const double* B, int* IPARAM, double* RPARAM, double* X);
  bool repeat_dense(const double* matrix, const double* B, int* IPARAM, double* RPARAM, double* X);
  bool repeat_with(const double* source, const Schedule::Gather* g, const double* B, int* IPARAM,
                   double* RPARAM, double* X);
  Schedule* stand_in(const Schedule& from, int stage, std::size_t& next);
};

// ------------------------------------------------------------- recording

// The groups of stage k that hold an entry of cost up to the pivot's; the
// other groups cannot matter while the pivot stays eligible.
void SparseReplaySolver::Schedule::compile_search(int k, int& group, int& entry) {
  const long long pivot_cost = trace.pivots[std::size_t(k)].cost;
  for (; group < trace.stage_end[std::size_t(k)]; ++group) {
    const int b = entry;
    const int e = trace.group_end[std::size_t(group)];
    entry = e;
    bool rival = false;
    for (int t = b; t < e; ++t) rival = rival || trace.entries[std::size_t(t)].cost <= pivot_cost;
    if (!rival) continue;
    const int g = static_cast<int>(group_end.size());
    const SearchTrace::Pivot& p = trace.pivots[std::size_t(k)];
    for (int t = b; t < e; ++t) {
      const SearchTrace::Entry& x = trace.entries[std::size_t(t)];
      const int at = x.row * n + x.col;
      group_places.push_back(at);
      if (x.cost > pivot_cost) continue;
      candidates.push_back({at, g, static_cast<int>(x.cost)});
      if (x.row == p.row && x.col == p.col) {
        pivot_groups.push_back(g);
      } else if (x.cost == pivot_cost) {
        equals.push_back(at);
      } else {
        cheaper.push_back({at, g, static_cast<int>(x.cost)});
      }
    }
    group_end.push_back(static_cast<int>(group_places.size()));
  }
}

// The symbolic elimination of pivot (r, c); returns the length of row r of U.
int SparseReplaySolver::Schedule::compile_elimination(int r, int c, std::vector<char>& present,
                                                       std::vector<char>& row_done,
                                                       std::vector<char>& col_done,
                                                       long long& held, int& updates_end) {
  std::vector<int> ucols;
  for (int j = 0; j < n; ++j) {
    if (j != c && !col_done[std::size_t(j)] && present[std::size_t(r * n + j)]) ucols.push_back(j);
  }
  fills.clear();
  int slot = 0;
  for (int i = 0; i < n; ++i) {
    if (i == r || row_done[std::size_t(i)] || !present[std::size_t(i * n + c)]) continue;
    eliminations.push_back(i * n + c);
    for (int j : ucols) {
      if (present[std::size_t(i * n + j)]) {
        ops.push_back({i * n + j, r * n + j, slot});
      } else {
        fills.push_back({i * n + j, r * n + j, slot});
      }
    }
    ++slot;
  }
  updates_end = static_cast<int>(ops.size());
  for (const Op& f : fills) {
    ops.push_back(f);
    present[std::size_t(f.target)] = 1;
    ++held;
  }
  if (multipliers.size() < std::size_t(slot)) multipliers.resize(std::size_t(slot));
  row_done[std::size_t(r)] = 1;
  col_done[std::size_t(c)] = 1;
  return static_cast<int>(ucols.size()) + 1;
}

bool SparseReplaySolver::Schedule::compile(const MarkowitzLU& lu, const FactorOutcome& outcome) {
  const std::size_t places = std::size_t(n) * std::size_t(n);
  stages.clear();
  group_places.clear();
  group_end.clear();
  candidates.clear();
  cheaper.clear();
  pivot_groups.clear();
  equals.clear();
  eliminations.clear();
  ops.clear();
  forward.clear();
  backward.clear();
  if (trace.pivots.size() != std::size_t(n)) return false;

  std::vector<char> present(places, 0), row_done(std::size_t(n), 0), col_done(std::size_t(n), 0);
  place.resize(std::size_t(nz));
  place_row.resize(std::size_t(nz));
  for (int k = 0; k < nz; ++k) {
    place_row[std::size_t(k)] = irow[std::size_t(k)] - 1;
    place[std::size_t(k)] = (irow[std::size_t(k)] - 1) * n + (jcol[std::size_t(k)] - 1);
    present[std::size_t(place[std::size_t(k)])] = 1;
  }
  plan_gathers();
  std::vector<int> pivot_col_of_row(static_cast<std::size_t>(n));
  for (int k = 0; k < n; ++k) pivot_col_of_row[std::size_t(lu.pivot_row(k))] = lu.pivot_col(k);

  long long held = nz;
  int group = 0;
  int entry = 0;
  for (int k = 0; k < n; ++k) {
    const SearchTrace::Pivot& p = trace.pivots[std::size_t(k)];
    if (p.row != lu.pivot_row(k) || p.col != lu.pivot_col(k) || p.cost > kMaxCost) return false;
    compile_search(k, group, entry);
    const int r = p.row;
    // The symbolic row of U must be the recorded one.
    int updates_end = 0;
    if (compile_elimination(r, p.col, present, row_done, col_done, held, updates_end) !=
        lu.u_length(r)) {
      return false;
    }
    for (int s = 0; s < lu.l_length(r); ++s) {
      const int pr = lu.l_pivot_row(r, s);
      forward.push_back({r * n + pivot_col_of_row[std::size_t(pr)], pr});
    }
    for (int s = 1; s < lu.u_length(r); ++s) {
      const int j = lu.u_col(r, s);
      backward.push_back({r * n + j, j});
    }
    stages.push_back({r * n + p.col, r, p.col, static_cast<int>(p.cost),
                      static_cast<int>(group_end.size()),
                      static_cast<int>(candidates.size()), static_cast<int>(pivot_groups.size()),
                      static_cast<int>(equals.size()), static_cast<int>(cheaper.size()),
                      static_cast<int>(eliminations.size()), updates_end,
                      static_cast<int>(ops.size()), static_cast<int>(forward.size()),
                      static_cast<int>(backward.size())});
  }
  // The fill-in of the symbolic elimination must be the recorded one.
  if (held != outcome.peak_nonzeros) return false;
  peak = outcome.peak_nonzeros;
  threshold.resize(group_end.size());
  return true;
}

// ------------------------------------------------------------- repeating

// The recorded stages from `from` on, on the values in v: returns n when
// done, the stage where the search would choose another pivot, or kReport
// where the factorisation would warn or stop.
int SparseReplaySolver::Schedule::eliminate(int from, double* v, const double* row_largest,
                                            double& smallest, double& gmax) {
  const int* const places = group_places.data();
  const int* const ends = group_end.data();
  double* const thresholds = threshold.data();
  for (int k = from; k < n; ++k) {
    const Stage& s = stages[std::size_t(k)];
    const Stage& before = stage_before(k);
    // A group's threshold is formed when a rival in it needs it.
    for (int q = before.groups_end; q < s.groups_end; ++q) thresholds[q] = -1.0;
    auto threshold_of = [&](int q) {
      if (thresholds[q] < 0.0) {
        double largest = 0.0;
        for (int e = q == 0 ? 0 : ends[q - 1]; e < ends[q]; ++e) {
          largest = std::max(largest, std::abs(v[places[e]]));
        }
        thresholds[q] = largest / stability;
      }
      return thresholds[q];
    };
    const double mag = std::abs(v[s.pivot]);
    if (!(mag <= DBL_MAX)) return kReport;
    // Rivals of the pivot's cost and smaller magnitude cannot displace it.
    // When none reaches its magnitude, the pivot is chosen exactly when it is
    // eligible in one of its groups and no cheaper rival is eligible;
    // otherwise the search order decides.
    bool reached = false;
    for (int e = before.equals_end; e < s.equals_end; ++e) {
      if (!(std::abs(v[equals[std::size_t(e)]]) < mag)) {
        reached = true;
        break;
      }
    }
    if (reached) {
      if (!chosen_in_search_order(s, before.candidates_end, v, mag, threshold_of)) {
        return k;
      }
    } else {
      bool eligible = false;
      for (int e = before.pivot_groups_end; e < s.pivot_groups_end && !eligible; ++e) {
        eligible = !(mag < threshold_of(pivot_groups[std::size_t(e)]));
      }
      if (!eligible) return k;
      for (int e = before.cheaper_end; e < s.cheaper_end; ++e) {
        const Candidate& c = cheaper[std::size_t(e)];
        if (!(std::abs(v[c.place]) < threshold_of(c.group))) return k;
      }
    }
    smallest = std::min(smallest, mag);
    if (mag == 0.0 || mag < sparse_detail::kPivotUnderflowLevel ||
        mag <= sparse_detail::kPivotNoiseLevel * row_largest[s.row]) {
      return kReport;
    }

    // The multipliers first: no update reads or writes the pivot column.
    const double pivot = v[s.pivot];
    double* const l = multipliers.data();
    const int first = before.eliminations_end;
    for (int e = first; e < s.eliminations_end; ++e) {
      const int at = eliminations[std::size_t(e)];
      l[e - first] = v[at] / pivot;
      v[at] = l[e - first];
    }
    double largest = gmax;
    const Op* const o = ops.data();
    int op = before.fills_end;
    for (; op < s.updates_end; ++op) {
      const double x = v[o[op].target] - l[o[op].multiplier] * v[o[op].source];
      v[o[op].target] = x;
      largest = std::max(largest, std::abs(x));
    }
    for (; op < s.fills_end; ++op) {
      const double x = -l[o[op].multiplier] * v[o[op].source];
      v[o[op].target] = x;
      largest = std::max(largest, std::abs(x));
    }
    gmax = largest;
  }
  return n;
}

// The search's own decision over the rivals in search order: the pivot
// must be eligible in one of its groups and no eligible rival cheaper,
// larger, or as large and examined before the pivot's first eligible place.
// (A NaN rival counts as choosing otherwise, which leaves the decision to
// the search itself.)
template <class Threshold>
bool SparseReplaySolver::Schedule::chosen_in_search_order(const Stage& s, int first,
                                                          const double* v, double mag,
                                                          Threshold&& threshold_of) const {
  bool eligible = false;
  for (int i = first; i < s.candidates_end; ++i) {
    const Candidate& c = candidates[std::size_t(i)];
    const double m = std::abs(v[c.place]);
    if (c.place == s.pivot) {
      if (!eligible && !(m < threshold_of(c.group))) eligible = true;
      continue;
    }
    if (c.cost == s.cost && m < mag) continue;
    if (m < threshold_of(c.group)) continue;
    if (c.cost < s.cost || !(m <= mag) || !eligible) return false;
  }
  return eligible;
}

// Forward with the multipliers in pivot order, backward with U. Each
// stage's row of y is first read at its stage, and its terms read only the
// rows of earlier stages, so y starts from B there.
void SparseReplaySolver::Schedule::substitute(const double* v, const double* B, double* y,
                                              double* X) const {
  const Term* const fwd = forward.data();
  const Term* t = fwd;
  for (const Stage& s : stages) {
    double sum = B[s.row];
    for (const Term* const end = fwd + s.forward_end; t != end; ++t) sum -= v[t->place] * y[t->index];
    y[s.row] = sum;
  }
  const Term* const bwd = backward.data();
  for (int k = n - 1; k >= 0; --k) {
    const Stage& s = stages[std::size_t(k)];
    double sum = y[s.row];
    const Term* const end = bwd + s.backward_end;
    for (t = bwd + stage_before(k).backward_end; t != end; ++t) {
      sum -= v[t->place] * X[t->index];
    }
    X[s.col] = sum / v[s.pivot];
  }
}

// The next recorded factorisation, from library place `next` on, that
// agrees with `from` on the pivots before `stage`.
SparseReplaySolver::Schedule* SparseReplaySolver::Library::stand_in(const Schedule& from, int stage,
                                                                    std::size_t& next) {
  for (; next < schedules.size(); ++next) {
    Schedule* o = schedules[next].get();
    if (o != &from && o->same_pivots_before(from, stage)) return schedules[next++].get();
  }
  return nullptr;
}

bool SparseReplaySolver::Library::repeat(const double* A, const double* B, int* IPARAM,
                                         double* RPARAM, double* X) {
  return repeat_with(A, front()->gather_listed.data(), B, IPARAM, RPARAM, X);
}

bool SparseReplaySolver::Library::repeat_dense(const double* matrix, const double* B, int* IPARAM,
                                               double* RPARAM, double* X) {
  return repeat_with(matrix, front()->gather_dense.data(), B, IPARAM, RPARAM, X);
}

// The recorded elimination on the entries source[g.source] of the gathers
// g, in the recorded order.
bool SparseReplaySolver::Library::repeat_with(const double* source, const Schedule::Gather* g,
                                              const double* B, int* IPARAM, double* RPARAM,
                                              double* X) {
  Schedule* s = front();
  const int n = s->n;
  double* const v = value.data();
  double* const largest_of = row_largest.data();
  for (const int row : s->empty_rows) largest_of[row] = 0.0;
  // Each run of one row keeps its largest magnitude in a register (a
  // maximum of finite magnitudes in any order).
  const Schedule::Gather* const first = g;
  for (const Schedule::RowRun& run : s->row_runs) {
    double largest = run.first ? 0.0 : largest_of[run.row];
    for (const Schedule::Gather* const end = first + run.end; g != end; ++g) {
      const double a = source[g->source];
      if (!std::isfinite(a)) return false;  // DLSLXG names it
      v[g->target] = a;
      largest = std::max(largest, std::abs(a));
    }
    largest_of[run.row] = largest;
  }
  double amax = 0.0;
  for (int i = 0; i < n; ++i) {
    if (!std::isfinite(B[i])) return false;
    amax = std::max(amax, row_largest[std::size_t(i)]);
  }
  double smallest = std::numeric_limits<double>::infinity();
  double gmax = amax;
  // Where the pivots part from one recording, another that took the other
  // way there continues: the search's state depends on the pivots so far.
  int stage = 0;
  int departed_at = -1;
  std::size_t next = 1;
  for (;;) {
    const int reached = s->eliminate(stage, v, row_largest.data(), smallest, gmax);
    if (reached == s->n) break;
    if (reached == Schedule::kReport) return false;
    if (reached != departed_at) next = 0;
    departed_at = reached;
    stage = reached;
    s = stand_in(*s, stage, next);
    if (!s) return false;
  }
  const double growth = amax > 0.0 ? gmax / amax : 1.0;
  if (growth > RPARAM[0]) return false;  // DLSLXG warns
  IPARAM[3] = static_cast<int>(s->peak);
  RPARAM[3] = growth;
  RPARAM[4] = smallest;
  s->substitute(v, B, rhs.data(), X);
  // Most recently used first.
  auto used = std::find_if(schedules.begin(), schedules.end(), [s](const auto& p) { return p.get() == s; });
  std::rotate(schedules.begin(), used, used + 1);
  return true;
}

std::unique_ptr<SparseReplaySolver::Schedule> SparseReplaySolver::Library::adopt(
    std::unique_ptr<Schedule> fresh) {
  std::unique_ptr<Schedule> dropped;
  if (schedules.size() == kSchedules) {
    dropped = std::move(schedules.back());
    schedules.pop_back();
  }
  const std::size_t places = std::size_t(fresh->n) * std::size_t(fresh->n);
  if (value.size() < places) value.resize(places);
  if (row_largest.size() < std::size_t(fresh->n)) {
    row_largest.resize(std::size_t(fresh->n));
    rhs.resize(std::size_t(fresh->n));
  }
  schedules.insert(schedules.begin(), std::move(fresh));
  return dropped;
}

// ---------------------------------------------------------------- solver

SparseReplaySolver::SparseReplaySolver() = default;
SparseReplaySolver::~SparseReplaySolver() = default;
SparseReplaySolver::SparseReplaySolver(SparseReplaySolver&&) noexcept = default;
SparseReplaySolver& SparseReplaySolver::operator=(SparseReplaySolver&&) noexcept = default;

void SparseReplaySolver::forget() { libraries_.clear(); }

// The library whose latest recording accepts the system, moved to the front.
SparseReplaySolver::Library* SparseReplaySolver::library_for(int N, int NZ, const int* IROW,
                                                             const int* JCOL, int IPATH,
                                                             const int* IPARAM,
                                                             const double* RPARAM) {
  for (auto it = libraries_.begin(); it != libraries_.end(); ++it) {
    const Schedule* front = (*it)->front();
    if (front && front->accepts(N, NZ, IROW, JCOL, IPATH, IPARAM, RPARAM)) {
      std::rotate(libraries_.begin(), it, it + 1);
      return libraries_.front().get();
    }
  }
  return nullptr;
}

// Files a valid recording with those of its pattern; a pattern not seen
// among the last kPatterns gets a library of its own.
void SparseReplaySolver::adopt(std::unique_ptr<Schedule> fresh) {
  auto it = std::find_if(libraries_.begin(), libraries_.end(), [&](const auto& lib) {
    return lib->front() && lib->front()->same_system(*fresh);
  });
  if (it == libraries_.end()) {
    if (libraries_.size() == kPatterns) libraries_.pop_back();
    libraries_.insert(libraries_.begin(), std::make_unique<Library>());
  } else {
    std::rotate(libraries_.begin(), it, it + 1);
  }
  spare_ = libraries_.front()->adopt(std::move(fresh));
}

bool SparseReplaySolver::repeat_dense(int N, const double* matrix, const int* first,
                                      const int* last, const double* B, int IPATH, int* IPARAM,
                                      double* RPARAM, double* X) {
  for (auto it = libraries_.begin(); it != libraries_.end(); ++it) {
    Schedule* front = (*it)->front();
    if (!front || !front->accepts_parameters(N, front->nz, IPATH, IPARAM, RPARAM) ||
        !front->lists_band(matrix, first, last)) {
      continue;
    }
    std::rotate(libraries_.begin(), it, it + 1);
    if (!libraries_.front()->repeat_dense(matrix, B, IPARAM, RPARAM, X)) return false;
    ++counts_.repeated;
    return true;
  }
  return false;
}

void SparseReplaySolver::solve(int N, int NZ, const double* A, const int* IROW, const int* JCOL,
                               const double* B, int IPATH, int* IPARAM, double* RPARAM,
                               double* X) {
  if (Library* lib = library_for(N, NZ, IROW, JCOL, IPATH, IPARAM, RPARAM)) {
    if (lib->repeat(A, B, IPARAM, RPARAM, X)) {
      ++counts_.repeated;
      return;
    }
    ++counts_.departed;
  }
  ++counts_.searched;
  if (IPATH != 1 || N < 1 || N > kMaxReplayOrder || NZ < 1) {
    DLSLXG(N, NZ, A, IROW, JCOL, B, IPATH, IPARAM, RPARAM, X, workspace_);
    return;
  }
  std::unique_ptr<Schedule> fresh = spare_ ? std::move(spare_) : std::make_unique<Schedule>();
  fresh->begin_recording(N, NZ, IROW, JCOL);
  sparse_detail::DLSLXG_traced(N, NZ, A, IROW, JCOL, B, IPATH, IPARAM, RPARAM, X, workspace_,
                               fresh->trace, *fresh);
  fresh->finish_recording(IPARAM, RPARAM);
  if (fresh->valid) {
    adopt(std::move(fresh));
  } else {
    spare_ = std::move(fresh);
  }
}

}  // namespace zalk::toolkit
