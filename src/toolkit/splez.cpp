// One-call spline fitting and evaluation. DSPLEZ checks its arguments and
// hands per-thread work areas (kept from call to call, so that the steady
// state allocates nothing) to DS2LEZ, which sorts the data and the
// evaluation points and calls the routine of the kind: DS6LEZ for the
// B-spline interpolants (kinds 4..8), the other kinds elsewhere.
#include "toolkit/splez.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "toolkit/bspline.h"
#include "toolkit/bspline_core.h"
#include "toolkit/errors.h"
#include "toolkit/per_thread.h"
#include "toolkit/splez_kinds.h"
#include "toolkit/splez_messages.h"

namespace zalk::toolkit {
namespace {

using bspline_detail::obtain;
using bspline_detail::piece_basis_table;
using bspline_detail::piece_breaks;
using bspline_detail::piece_coefficients;
using bspline_detail::piece_from_table;
using bspline_detail::piece_derivative;
using bspline_detail::sort_with_permutation;

bool is_bspline_kind(int ITYPE) { return ITYPE >= 4 && ITYPE <= 8; }

// The least number of points of each kind, with the message that quotes it.
bool enough_points(int NDATA, int ITYPE) {
  if (ITYPE == 1 || ITYPE == 3) {
    if (NDATA >= ITYPE + 1) return true;
    E1STI(1, NDATA);
    E1STI(2, ITYPE + 1);
    raise(SplezMessage::too_few_points_for_cubic);
  } else if (ITYPE == 2) {
    if (NDATA >= 4) return true;
    E1STI(1, NDATA);
    raise(SplezMessage::too_few_points_for_akima);
  } else if (is_bspline_kind(ITYPE)) {
    if (NDATA >= ITYPE - 2) return true;
    E1STI(1, ITYPE - 2);
    E1STI(2, NDATA);
    raise(SplezMessage::too_few_points_for_bspline);
  } else if (ITYPE <= 12) {
    if (NDATA >= 4) return true;
    E1STI(1, NDATA);
    raise(SplezMessage::too_few_points_to_smooth);
  } else {
    if (NDATA >= ITYPE - 10) return true;
    E1STI(1, NDATA);
    E1STI(2, ITYPE - 10);
    raise(SplezMessage::too_few_points_for_fit);
  }
  return false;
}

bool arguments_ok(int NDATA, int ITYPE, int IDER, int N) {
  if (N < 1) {
    E1STI(1, N);
    raise(SplezMessage::no_points_to_evaluate);
    return false;
  }
  if (IDER < 0) {
    E1STI(1, IDER);
    raise(SplezMessage::negative_derivative);
    return false;
  }
  if (ITYPE < 1 || ITYPE > 15) {
    E1STI(1, ITYPE);
    raise(SplezMessage::bad_kind);
    return false;
  }
  return enough_points(NDATA, ITYPE);
}

// Work of DS6LEZ, carved from one array; every part sized for NDATA points
// and order k.
struct BsplineKindWork {
  double* xsrt;     // NDATA, for the knot routine
  double* coef;     // NDATA
  double* brk;      // NDATA + 2 (NDATA - k + 2 used)
  double* pc;       // k, the piece in use
  double* scratch;  // k k + 3 k
  double* solve;    // 4 NDATA + 2 k: scratch of the factorisation (2 NDATA + 2 k), then of the solve (4 NDATA)
  int* perm;        // NDATA, for the knot routine
  int* lefts;       // NDATA + 1, first knot of each piece

  static std::size_t length(int n, int k) {
    const std::size_t nn = static_cast<std::size_t>(n);
    const std::size_t kk = static_cast<std::size_t>(k);
    return 2 * nn + (nn + 2) + kk + kk * kk + 3 * kk + 4 * nn + 2 * kk;
  }
  static std::size_t ilength(int n) { return 2 * static_cast<std::size_t>(n) + 1; }

  BsplineKindWork(int n, int k, double* wk, int* iwk) {
    const std::size_t nn = static_cast<std::size_t>(n);
    const std::size_t kk = static_cast<std::size_t>(k);
    xsrt = wk;
    coef = xsrt + nn;
    brk = coef + nn;
    pc = brk + nn + 2;
    scratch = pc + kk;
    solve = scratch + kk * kk + 3 * kk;
    perm = iwk;
    lefts = perm + nn;
  }
};

// Knots and factored collocation matrix of the last abscissas seen by this
// thread. The layer kernel fits many ordinate sets over one set of
// abscissas in a row; for those only the triangular solves remain. Reusing
// the factors is exact: the same abscissas give bit for bit the same knots
// and factors.
class FactorCache {
 public:
  bool holds(int n, int k, const double* xs) const {
    return valid_ && n == n_ && k == k_ &&
           std::equal(xs, xs + n, xs_.begin(), [](double a, double b) {
             return std::memcmp(&a, &b, sizeof a) == 0;
           });
  }

  // Rebuilds for new abscissas; false when the storage cannot be had.
  bool rebuild(int n, int k, const double* xs, const BsplineKindWork& w) {
    valid_ = false;  // stays so if a check below ends the call
    const std::size_t nn = static_cast<std::size_t>(n);
    if (!obtain(xs_, nn) || !obtain(knot_, nn + static_cast<std::size_t>(k)) ||
        !obtain(fac_, bspline_detail::CollocationFactors::factors_length(n, k)) || !obtain(ipiv_, nn)) {
      return false;
    }
    DB2NAK(n, xs, k, knot_.data(), w.xsrt, w.perm);
    {
      RoutineScope scope("DB2INT");
      if (!bspline_detail::check_collocation(n, xs, k, knot_.data(), kAxis)) return true;
      factors_ = bspline_detail::collocation_factor(n, xs, k, knot_.data(), fac_.data(), ipiv_.data(),
                                                    w.solve);
    }
    std::copy(xs, xs + n, xs_.begin());
    n_ = n;
    k_ = k;
    valid_ = true;
    return true;
  }

  // Coefficients of the interpolant of fs.
  void solve(const double* fs, double* coef, double* work) const {
    RoutineScope scope("DB2INT");
    bspline_detail::collocation_apply(factors_, k_, fac_.data(), ipiv_.data(), 1,
                                      bspline_detail::Strided<const double>{fs, 1, 0},
                                      bspline_detail::Strided<double>{coef, 1, 0}, work, kAxis);
  }

  bool valid() const { return valid_; }
  bool near_singular() const { return factors_.near_singular; }
  const double* knots() const { return knot_.data(); }

 private:
  static constexpr bspline_detail::Direction kAxis{"X", "KORDER"};
  bool valid_ = false;
  int n_ = 0;
  int k_ = 0;
  std::vector<double> xs_, knot_, fac_;
  std::vector<int> ipiv_;
  bspline_detail::CollocationFactors factors_{};
};

// The factors of this thread's last abscissas, shared by DS6LEZ and
// DSPLEZ_sets.
FactorCache& factor_cache() {
  return per_thread<FactorCache>([] {});
}

void report_storage(int NDATA, int N) {
  E1STI(1, NDATA);
  E1STI(2, N);
  raise(SplezMessage::no_storage);
}

// B-spline interpolant of order ITYPE - 2 with not-a-knot knots, turned into
// piecewise-polynomial form and evaluated at the ascending points XV; points
// outside the data take the end pieces.
void DS6LEZ(int NDATA, const double* XS, const double* FS, int ITYPE, int IDER, int N,
            const double* XV, double* VS, double* WK, int* IWK) {
  RoutineScope scope("DS6LEZ");
  const int k = ITYPE - 2;
  const BsplineKindWork w(NDATA, k, WK, IWK);
  FactorCache& cache = factor_cache();
  if (!cache.holds(NDATA, k, XS)) {
    if (!cache.rebuild(NDATA, k, XS, w)) {
      report_storage(NDATA, N);
      return;
    }
    if (!cache.valid()) return;
  }
  cache.solve(FS, w.coef, w.solve);
  // The points ascend, so the pieces are visited in order: each is converted
  // when first needed, and pieces without points are never converted.
  const int pieces = piece_breaks(NDATA, k, cache.knots(), w.brk, w.lefts);
  int l = 0;
  int converted = -1;
  for (int i = 0; i < N; ++i) {
    while (l + 1 < pieces && !(XV[i] < w.brk[l + 1])) ++l;
    if (l != converted) {
      piece_coefficients(k, cache.knots(), w.coef, w.lefts[l], w.pc, w.scratch);
      converted = l;
    }
    VS[i] = piece_derivative(k, w.pc, w.brk[l], IDER, XV[i]);
  }
}

// Sorted copy and permutation of `v`; false after reporting two equal values.
bool sort_distinct(int n, const double* v, double* vs, int* perm, bool data) {
  sort_with_permutation(n, v, vs, perm);
  for (int i = 0; i + 1 < n; ++i) {
    if (vs[i] == vs[i + 1]) {
      E1STI(1, perm[i] + 1);
      E1STI(2, perm[i + 1] + 1);
      E1STD(1, vs[i]);
      if (data) {
        raise(SplezMessage::equal_abscissas);
      } else {
        raise(SplezMessage::equal_points);
      }
      return false;
    }
  }
  return true;
}

// A NaN or an infinity among the data or the points would only give
// meaningless values, or a misleading message further on.
bool finite_arguments(int NDATA, const double* XDATA, const double* FDATA, int N,
                      const double* XVEC) {
  const struct {
    const char* name;
    int n;
    const double* v;
  } arrays[] = {{"XDATA", NDATA, XDATA}, {"FDATA", NDATA, FDATA}, {"XVEC", N, XVEC}};
  for (const auto& a : arrays) {
    for (int i = 0; i < a.n; ++i) {
      if (std::isfinite(a.v[i])) continue;
      E1STL(1, a.name);
      E1STI(1, i + 1);
      E1STD(1, a.v[i]);
      raise(SplezMessage::argument_not_finite);
      return false;
    }
  }
  return true;
}

// Finite data far out in magnitude can still overflow the fit: no such value
// is handed back as a result. `vs` is in sorted order, `permv` maps back.
bool finite_values(int ITYPE, int N, const double* vs, const int* permv) {
  for (int i = 0; i < N; ++i) {
    if (std::isfinite(vs[i])) continue;
    E1STI(1, ITYPE);
    E1STI(2, permv[i] + 1);
    E1STD(1, vs[i]);
    raise(SplezMessage::value_overflows);
    return false;
  }
  return true;
}

}  // namespace

std::size_t ds2lez_work_length(int NDATA, int ITYPE, int N) {
  const std::size_t n = static_cast<std::size_t>(std::max(NDATA, 0));
  const std::size_t m = static_cast<std::size_t>(std::max(N, 0));
  std::size_t len = 2 * n + 2 * m;  // sorted data and points, values in sorted order
  if (is_bspline_kind(ITYPE)) len += BsplineKindWork::length(NDATA, ITYPE - 2);
  return len;
}

std::size_t ds2lez_iwork_length(int NDATA, int N) {
  const std::size_t n = static_cast<std::size_t>(std::max(NDATA, 0));
  return n + static_cast<std::size_t>(std::max(N, 0)) + BsplineKindWork::ilength(NDATA);
}

void DSPLEZ(int NDATA, const double* XDATA, const double* FDATA, int ITYPE, int IDER, int N,
            const double* XVEC, double* VALUE) {
  RoutineScope scope("DSPLEZ");
  if (!arguments_ok(NDATA, ITYPE, IDER, N)) return;
  std::vector<double>& wk = per_thread<std::vector<double>>([] {});
  std::vector<int>& iwk = per_thread<std::vector<int>>([] {});
  if (!obtain(wk, ds2lez_work_length(NDATA, ITYPE, N)) || !obtain(iwk, ds2lez_iwork_length(NDATA, N))) {
    report_storage(NDATA, N);
    return;
  }
  DS2LEZ(NDATA, XDATA, FDATA, ITYPE, IDER, N, XVEC, VALUE, wk.data(), iwk.data());
}

void DS2LEZ(int NDATA, const double* XDATA, const double* FDATA, int ITYPE, int IDER, int N,
            const double* XVEC, double* VALUE, double* WK, int* IWK) {
  RoutineScope scope("DS2LEZ");
  if (!arguments_ok(NDATA, ITYPE, IDER, N)) return;
  if (!finite_arguments(NDATA, XDATA, FDATA, N, XVEC)) return;
  const std::size_t n = static_cast<std::size_t>(NDATA);
  const std::size_t m = static_cast<std::size_t>(N);
  double* xs = WK;
  double* fs = xs + n;
  double* xv = fs + n;
  double* vs = xv + m;
  double* rest = vs + m;
  int* perm = IWK;
  int* permv = perm + n;
  int* irest = permv + m;
  if (!sort_distinct(NDATA, XDATA, xs, perm, true)) return;
  if (!sort_distinct(N, XVEC, xv, permv, false)) return;
  for (std::size_t i = 0; i < n; ++i) fs[i] = FDATA[perm[i]];
  if (is_bspline_kind(ITYPE)) {
    DS6LEZ(NDATA, xs, fs, ITYPE, IDER, N, xv, vs, rest, irest);
  } else {
    detail::splez_other_kind(NDATA, xs, fs, ITYPE, IDER, N, xv, vs);
  }
  if (!finite_values(ITYPE, N, vs, permv)) return;
  for (std::size_t i = 0; i < m; ++i) VALUE[permv[i]] = vs[i];
}

namespace {

// What the sets of one DSPLEZ_sets call share: the sorted abscissas and
// points with their permutations, the pieces, and each piece's basis table.
struct SharedFit {
  std::vector<double> xs, xv, brk, tables, vs, fs, coef, pc, a, dr, dl, work;
  std::vector<int> perm, permv, lefts, piece_of;
  int pieces = 0;
};

// The sorting and checks of DS2LEZ without their messages: false where
// DS2LEZ would report something (the caller then goes set by set).
bool share_points(int NDATA, const double* XDATA, int N, const double* XVEC, SharedFit& f) {
  for (int i = 0; i < NDATA; ++i) {
    if (!std::isfinite(XDATA[i])) return false;
  }
  for (int i = 0; i < N; ++i) {
    if (!std::isfinite(XVEC[i])) return false;
  }
  const std::size_t n = static_cast<std::size_t>(NDATA);
  const std::size_t m = static_cast<std::size_t>(N);
  if (!obtain(f.xs, n) || !obtain(f.perm, n) || !obtain(f.xv, m) || !obtain(f.permv, m)) return false;
  sort_with_permutation(NDATA, XDATA, f.xs.data(), f.perm.data());
  sort_with_permutation(N, XVEC, f.xv.data(), f.permv.data());
  for (int i = 0; i + 1 < NDATA; ++i) {
    if (f.xs[i] == f.xs[i + 1]) return false;
  }
  for (int i = 0; i + 1 < N; ++i) {
    if (f.xv[i] == f.xv[i + 1]) return false;
  }
  return true;
}

// Pieces of the cached knots, the piece of every sorted point (as DS6LEZ
// walks them) and the basis table of every piece that holds a point.
bool share_pieces(int NDATA, int k, int N, const FactorCache& cache, SharedFit& f) {
  const std::size_t n = static_cast<std::size_t>(NDATA);
  const std::size_t kk = static_cast<std::size_t>(k);
  if (!obtain(f.brk, n + 2) || !obtain(f.lefts, n + 1) || !obtain(f.piece_of, static_cast<std::size_t>(N)) ||
      !obtain(f.tables, (n + 1) * kk * kk) || !obtain(f.dr, kk) || !obtain(f.dl, kk)) {
    return false;
  }
  f.pieces = piece_breaks(NDATA, k, cache.knots(), f.brk.data(), f.lefts.data());
  int l = 0;
  int tabled = -1;
  for (int i = 0; i < N; ++i) {
    while (l + 1 < f.pieces && !(f.xv[i] < f.brk[l + 1])) ++l;
    f.piece_of[i] = l;
    if (l != tabled) {
      piece_basis_table(k, cache.knots(), f.lefts[l], f.tables.data() + static_cast<std::size_t>(l) * kk * kk,
                        f.dr.data(), f.dl.data());
      tabled = l;
    }
  }
  return true;
}

// One set through the shared fit: DS2LEZ's and DS6LEZ's arithmetic on it.
// False where DSPLEZ would report something for this set.
bool fit_one_set(int NDATA, const double* FDATA, std::ptrdiff_t fpoint, int k, int IDER, int N,
                 double* VALUE, std::ptrdiff_t vpoint, const FactorCache& cache, SharedFit& f) {
  for (int i = 0; i < NDATA; ++i) {
    if (!std::isfinite(FDATA[i * fpoint])) return false;
  }
  for (int i = 0; i < NDATA; ++i) f.fs[i] = FDATA[f.perm[i] * fpoint];
  cache.solve(f.fs.data(), f.coef.data(), f.work.data());
  const std::size_t kk = static_cast<std::size_t>(k);
  int converted = -1;
  for (int i = 0; i < N; ++i) {
    const int l = f.piece_of[i];
    if (l != converted) {
      piece_from_table(k, cache.knots(), f.coef.data(), f.lefts[l],
                       f.tables.data() + static_cast<std::size_t>(l) * kk * kk, f.pc.data(), f.a.data());
      converted = l;
    }
    f.vs[i] = bspline_detail::piece_derivative(k, f.pc.data(), f.brk[l], IDER, f.xv[i]);
  }
  for (int i = 0; i < N; ++i) {
    if (!std::isfinite(f.vs[i])) return false;
  }
  for (int i = 0; i < N; ++i) VALUE[f.permv[i] * vpoint] = f.vs[i];
  return true;
}

}  // namespace

void DSPLEZ_sets(int NDATA, const double* XDATA, int NSETS, const double* FDATA,
                 std::ptrdiff_t fpoint, std::ptrdiff_t fset, int ITYPE, int IDER, int N,
                 const double* XVEC, double* VALUE, std::ptrdiff_t vpoint, std::ptrdiff_t vset) {
  // One set as DSPLEZ takes it, with its messages.
  std::vector<double> fdata, value;
  auto single = [&](int set) {
    fdata.resize(static_cast<std::size_t>(std::max(NDATA, 0)));
    value.resize(static_cast<std::size_t>(std::max(N, 0)));
    for (int i = 0; i < NDATA; ++i) fdata[i] = FDATA[set * fset + i * fpoint];
    DSPLEZ(NDATA, XDATA, fdata.data(), ITYPE, IDER, N, XVEC, value.data());
    for (int i = 0; i < N; ++i) VALUE[set * vset + i * vpoint] = value[i];
  };
  if (NSETS < 1) return;
  // The first set goes through DSPLEZ: it checks the arguments and leaves
  // the factors of these abscissas in the cache.
  single(0);
  SharedFit& f = per_thread<SharedFit>([] {});
  const int k = ITYPE - 2;
  const FactorCache& cache = factor_cache();
  bool shared = is_bspline_kind(ITYPE) && IDER >= 0 && N >= 1 && NDATA >= k &&
                share_points(NDATA, XDATA, N, XVEC, f) && cache.holds(NDATA, k, f.xs.data()) &&
                !cache.near_singular();
  if (shared) {
    const std::size_t n = static_cast<std::size_t>(NDATA);
    const std::size_t kk = static_cast<std::size_t>(k);
    shared = share_pieces(NDATA, k, N, cache, f) && obtain(f.fs, n) && obtain(f.coef, n) &&
             obtain(f.pc, kk) && obtain(f.a, kk) && obtain(f.vs, static_cast<std::size_t>(N)) &&
             obtain(f.work, 4 * n);
  }
  for (int set = 1; set < NSETS; ++set) {
    if (!shared || !fit_one_set(NDATA, FDATA + set * fset, fpoint, k, IDER, N, VALUE + set * vset,
                                vpoint, cache, f)) {
      single(set);
    }
  }
}

}  // namespace zalk::toolkit
