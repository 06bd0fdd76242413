// Tensor-product B-spline routines of both float widths. Each routine is one
// template instantiated for float (BSNAK, BS2IN, BS2GD) and double (DBSNAK,
// DBS2IN, DBS2VL, DBS2DR); the public routines check their arguments, obtain
// per-thread work areas that are reused from call to call, and call the
// work-area variants.
#include "toolkit/bspline.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "toolkit/bspline_core.h"
#include "toolkit/bspline_messages.h"
#include "toolkit/errors.h"
#include "toolkit/per_thread.h"

namespace zalk::toolkit {
namespace {

using namespace bspline_detail;

constexpr Direction kX{"X", "KXORD"};
constexpr Direction kY{"Y", "KYORD"};

// ---------------------------------------------------------------------------
// Not-a-knot knots

bool knot_arguments_ok(int NDATA, int KORDER) {
  if (KORDER < 2) {
    E1STI(1, KORDER);
    raise(BsplineMessage::knot_order_below_two);
    return false;
  }
  if (NDATA < KORDER) {
    E1STI(1, NDATA);
    E1STI(2, KORDER);
    raise(BsplineMessage::knot_too_few_points);
    return false;
  }
  return true;
}

template <class T>
void report_equal_abscissas(int i1, int i2, T value) {
  E1STI(1, i1);
  E1STI(2, i2);
  Family<T>::store(1, value);
  raise<T>(BsplineMessage::knot_equal_abscissas);
}

// Sorted copy of XDATA in XSRT (permutation in IWK); false after reporting two
// equal abscissas, quoted by their positions in XDATA.
template <class T>
bool sorted_distinct_abscissas(int n, const T* x, T* xs, int* perm) {
  bool increasing = true;
  for (int i = 0; i + 1 < n && increasing; ++i) increasing = x[i] < x[i + 1];
  if (!increasing) {
    for (int i = 0; i + 1 < n; ++i) {
      if (x[i] == x[i + 1]) {
        report_equal_abscissas(i + 1, i + 2, x[i]);
        return false;
      }
    }
  }
  sort_with_permutation(n, x, xs, perm);
  for (int i = 0; i + 1 < n; ++i) {
    if (xs[i] == xs[i + 1]) {
      report_equal_abscissas(perm[i] + 1, perm[i + 1] + 1, xs[i]);
      return false;
    }
  }
  return true;
}

// A NaN would leave the sort undefined and an infinity the knots NaN.
template <class T>
bool finite_abscissas(int n, const T* x) {
  for (int i = 0; i < n; ++i) {
    if (std::isfinite(x[i])) continue;
    E1STI(1, i + 1);
    Family<T>::store(1, x[i]);
    raise<T>(BsplineMessage::knot_abscissa_not_finite);
    return false;
  }
  return true;
}

template <class T>
void not_a_knot_work(int n, const T* x, int k, T* knot, T* xs, int* perm) {
  if (!knot_arguments_ok(n, k) || !finite_abscissas(n, x)) return;
  if (!sorted_distinct_abscissas(n, x, xs, perm)) return;
  for (int i = 0; i < k; ++i) knot[i] = xs[0];
  // The last knots lie just beyond the largest abscissa, so that it falls
  // inside the last knot interval.
  const T xn = xs[n - 1];
  const T hundred_eps = T(100) * Family<T>::eps;
  T end;
  if (xn == T(0)) {
    end = hundred_eps;
  } else {
    const T sign = xn < T(0) ? T(-1) : T(1);
    end = xn * (T(1) + hundred_eps * sign);
  }
  for (int i = n; i < n + k; ++i) knot[i] = end;
  for (int j = 1; j <= n - k; ++j) {
    if (k % 2 == 1) {
      knot[k + j - 1] = (xs[j + (k - 1) / 2 - 1] + xs[j + (k + 1) / 2 - 1]) / T(2);
    } else {
      knot[k + j - 1] = xs[j + k / 2 - 1];
    }
  }
}

template <class T>
void not_a_knot(int n, const T* x, int k, T* knot, const char* work_name) {
  if (!knot_arguments_ok(n, k)) return;
  std::vector<T>& xs = per_thread<std::vector<T>>([] {});
  std::vector<int>& perm = per_thread<std::vector<int>>([] {});
  const std::size_t nn = static_cast<std::size_t>(n);
  if (!obtain(xs, nn) || !obtain(perm, nn)) {
    E1STI(1, n);
    raise(BsplineMessage::knot_no_storage);
    return;
  }
  RoutineScope scope(work_name);
  not_a_knot_work(n, x, k, knot, xs.data(), perm.data());
}

// ---------------------------------------------------------------------------
// Interpolation

bool order_ok(int order, const char* axis, const char* name, BsplineMessage code) {
  if (order >= 1) return true;
  E1STI(1, order);
  E1STL(1, axis);
  E1STL(2, name);
  raise(code);
  return false;
}

bool orders_ok(int KXORD, int KYORD) {
  return order_ok(KXORD, "X", "KXORD", BsplineMessage::x_order_below_one) &&
         order_ok(KYORD, "Y", "KYORD", BsplineMessage::y_order_below_one);
}

bool enough_points(int ndata, int order, const Direction& d, BsplineMessage code) {
  if (ndata >= order) return true;
  E1STI(1, ndata);
  E1STI(2, order);
  E1STL(1, d.axis);
  E1STL(2, d.order);
  raise(code);
  return false;
}

// `what` names the array in the message ("XDATA", "YVEC", ...).
template <class T>
bool strictly_increasing(int n, const T* v, const char* axis, const char* what, BsplineMessage code) {
  for (int i = 0; i + 1 < n; ++i) {
    if (!(v[i] < v[i + 1])) {
      E1STI(1, i + 1);
      E1STI(2, i + 2);
      Family<T>::store(1, v[i]);
      Family<T>::store(2, v[i + 1]);
      E1STL(1, axis);
      E1STL(2, what);
      raise<T>(code);
      return false;
    }
  }
  return true;
}

template <class T>
bool interpolation_arguments_ok(int NXDATA, const T* XDATA, int NYDATA, const T* YDATA, int LDF,
                                int KXORD, int KYORD) {
  if (!orders_ok(KXORD, KYORD)) return false;
  if (!enough_points(NXDATA, KXORD, kX, BsplineMessage::x_too_few_points) ||
      !enough_points(NYDATA, KYORD, kY, BsplineMessage::y_too_few_points)) {
    return false;
  }
  if (LDF < NXDATA) {
    E1STI(1, LDF);
    E1STI(2, NXDATA);
    raise(BsplineMessage::fdata_dimension_too_small);
    return false;
  }
  return strictly_increasing(NXDATA, XDATA, "X", "XDATA", BsplineMessage::xdata_not_increasing) &&
         strictly_increasing(NYDATA, YDATA, "Y", "YDATA", BsplineMessage::ydata_not_increasing);
}

template <class T>
void interpolate_work(int NXDATA, const T* XDATA, int NYDATA, const T* YDATA, const T* FDATA,
                      int LDF, int KXORD, int KYORD, const T* XKNOT, const T* YKNOT, T* BSCOEF,
                      T* WK, int* IWK) {
  if (!interpolation_arguments_ok(NXDATA, XDATA, NYDATA, YDATA, LDF, KXORD, KYORD)) return;
  if (!check_collocation(NXDATA, XDATA, KXORD, XKNOT, kX)) return;
  if (!check_collocation(NYDATA, YDATA, KYORD, YKNOT, kY)) return;
  // In x for every data column, then in y for every row of that result.
  T* partial = WK;
  T* work = WK + static_cast<std::size_t>(NXDATA) * static_cast<std::size_t>(NYDATA);
  collocation_solve(NXDATA, XDATA, KXORD, XKNOT, NYDATA, Strided<const T>{FDATA, 1, LDF},
                    Strided<T>{partial, 1, NXDATA}, work, IWK, kX);
  collocation_solve(NYDATA, YDATA, KYORD, YKNOT, NXDATA, Strided<const T>{partial, NXDATA, 1},
                    Strided<T>{BSCOEF, NXDATA, 1}, work, IWK, kY);
}

std::size_t interpolation_work_length(int NXDATA, int NYDATA, int KXORD, int KYORD) {
  return static_cast<std::size_t>(NXDATA) * static_cast<std::size_t>(NYDATA) +
         std::max(CollocationWork::length(NXDATA, KXORD, NYDATA),
                  CollocationWork::length(NYDATA, KYORD, NXDATA));
}

template <class T>
void interpolate(int NXDATA, const T* XDATA, int NYDATA, const T* YDATA, const T* FDATA, int LDF,
                 int KXORD, int KYORD, const T* XKNOT, const T* YKNOT, T* BSCOEF,
                 const char* work_name) {
  if (!interpolation_arguments_ok(NXDATA, XDATA, NYDATA, YDATA, LDF, KXORD, KYORD)) return;
  std::vector<T>& wk = per_thread<std::vector<T>>([] {});
  std::vector<int>& iwk = per_thread<std::vector<int>>([] {});
  if (!obtain(wk, interpolation_work_length(NXDATA, NYDATA, KXORD, KYORD)) ||
      !obtain(iwk, static_cast<std::size_t>(std::max(NXDATA, NYDATA)))) {
    E1STI(1, NXDATA);
    E1STI(2, NYDATA);
    raise(BsplineMessage::interpolation_no_storage);
    return;
  }
  RoutineScope scope(work_name);
  interpolate_work(NXDATA, XDATA, NYDATA, YDATA, FDATA, LDF, KXORD, KYORD, XKNOT, YKNOT, BSCOEF,
                   wk.data(), iwk.data());
}

// ---------------------------------------------------------------------------
// Evaluation

bool derivative_ok(int ider, const char* axis, const char* name, BsplineMessage code) {
  if (ider >= 0) return true;
  E1STI(1, ider);
  E1STL(1, axis);
  E1STL(2, name);
  raise(code);
  return false;
}

bool coefficients_ok(int ncoef, int order, const Direction& d, BsplineMessage code) {
  if (ncoef >= order) return true;
  E1STI(1, ncoef);
  E1STI(2, order);
  E1STL(1, d.axis);
  E1STL(2, d.order);
  raise(code);
  return false;
}

bool evaluation_arguments_ok(int IXDER, int IYDER, int KXORD, int KYORD, int NXCOEF, int NYCOEF) {
  using M = BsplineMessage;
  return orders_ok(KXORD, KYORD) && derivative_ok(IXDER, "X", "IXDER", M::x_derivative_negative) &&
         derivative_ok(IYDER, "Y", "IYDER", M::y_derivative_negative) &&
         coefficients_ok(NXCOEF, KXORD, kX, M::x_too_few_coefficients) &&
         coefficients_ok(NYCOEF, KYORD, kY, M::y_too_few_coefficients);
}

template <class T>
bool grid_arguments_ok(int IXDER, int IYDER, int NX, const T* XVEC, int NY, const T* YVEC,
                       int KXORD, int KYORD, int NXCOEF, int NYCOEF, int LDVALUE) {
  if (!evaluation_arguments_ok(IXDER, IYDER, KXORD, KYORD, NXCOEF, NYCOEF)) return false;
  if (NY > 1 && LDVALUE < NX) {
    E1STI(1, LDVALUE);
    E1STI(2, NX);
    raise(BsplineMessage::value_dimension_too_small);
    return false;
  }
  return strictly_increasing(NX, XVEC, "X", "XVEC", BsplineMessage::xvec_not_increasing) &&
         strictly_increasing(NY, YVEC, "Y", "YVEC", BsplineMessage::yvec_not_increasing);
}

template <class T>
bool inside_knots(T x, int k, const T* knot, int ncoef) {
  return knot[k - 1] <= x && x <= knot[ncoef];
}

// Basis function values (or derivatives) at the points v(0..n-1): the
// interval of point i in lefts[i] (-1 when outside the knots, after a
// warning) and its k values in b[i k ..].
template <class T>
void grid_axis(int n, const T* v, int k, int ider, const T* knot, int ncoef, const Direction& d,
               T* b, int* lefts, T* dr, T* dl) {
  for (int i = 0; i < n; ++i) {
    if (!inside_knots(v[i], k, knot, ncoef)) {
      lefts[i] = -1;
      E1STI(2, i + 1);
      Family<T>::store(1, v[i]);
      E1STL(1, d.axis);
      E1STL(2, d.order);
      E1STL(3, d.axis[0] == 'X' ? "NXCOEF" : "NYCOEF");
      raise<T>(BsplineMessage::grid_point_outside_knots);
      continue;
    }
    lefts[i] = find_interval(knot, k, ncoef, v[i]);
    basis_derivatives(knot, lefts[i], k, ider, v[i], b + static_cast<std::size_t>(i) * k, dr, dl);
  }
}

std::size_t grid_work_length(int NX, int NY, int KXORD, int KYORD) {
  const std::size_t nx = static_cast<std::size_t>(std::max(NX, 0));
  const std::size_t ny = static_cast<std::size_t>(std::max(NY, 0));
  return nx * static_cast<std::size_t>(KXORD) + ny * static_cast<std::size_t>(KYORD) +
         2 * static_cast<std::size_t>(std::max(KXORD, KYORD));
}

// Sum over the KXORD x KYORD active coefficients of the intervals lx, ly,
// weighted by the basis values wx, wy: in x first, then in y.
template <class T>
T active_sum(const T* wx, const T* wy, int KXORD, int KYORD, const T* BSCOEF, int NXCOEF, int lx,
             int ly) {
  const int cx = lx - KXORD + 1;
  const int cy = ly - KYORD + 1;
  T sum = T(0);
  for (int b = 0; b < KYORD; ++b) {
    const T* col = BSCOEF + static_cast<std::size_t>(cy + b) * NXCOEF + cx;
    T inner = T(0);
    for (int a = 0; a < KXORD; ++a) inner += wx[a] * col[a];
    sum += wy[b] * inner;
  }
  return sum;
}

// The grid values for checked arguments.
template <class T>
void grid_values(int IXDER, int IYDER, int NX, const T* XVEC, int NY, const T* YVEC, int KXORD,
                 int KYORD, const T* XKNOT, const T* YKNOT, int NXCOEF, int NYCOEF,
                 const T* BSCOEF, T* VALUE, int LDVALUE, T* WK, int* IWK) {
  if (NX < 1 || NY < 1) return;
  T* bx = WK;
  T* by = bx + static_cast<std::size_t>(NX) * KXORD;
  T* dr = by + static_cast<std::size_t>(NY) * KYORD;
  T* dl = dr + std::max(KXORD, KYORD);
  int* lx = IWK;
  int* ly = IWK + NX;
  grid_axis(NX, XVEC, KXORD, IXDER, XKNOT, NXCOEF, kX, bx, lx, dr, dl);
  grid_axis(NY, YVEC, KYORD, IYDER, YKNOT, NYCOEF, kY, by, ly, dr, dl);
  for (int j = 0; j < NY; ++j) {
    for (int i = 0; i < NX; ++i) {
      T& out = VALUE[i + static_cast<std::size_t>(j) * LDVALUE];
      if (lx[i] < 0 || ly[j] < 0) {
        out = T(0);
        continue;
      }
      out = active_sum(bx + static_cast<std::size_t>(i) * KXORD, by + static_cast<std::size_t>(j) * KYORD,
                       KXORD, KYORD, BSCOEF, NXCOEF, lx[i], ly[j]);
    }
  }
}

template <class T>
bool point_inside(T v, int k, const T* knot, int ncoef, const Direction& d) {
  if (inside_knots(v, k, knot, ncoef)) return true;
  Family<T>::store(1, v);
  E1STL(1, d.axis);
  E1STL(2, d.order);
  E1STL(3, d.axis[0] == 'X' ? "NXCOEF" : "NYCOEF");
  raise<T>(BsplineMessage::point_outside_knots);
  return false;
}

// Intervals lx, ly and basis values bx (KXORD), by (KYORD) of a point
// inside the knots; dr and dl hold max(KXORD, KYORD) values each. The value
// of a coefficient set is then active_sum(bx, by, ..., lx, ly).
template <class T>
void point_basis(int IXDER, int IYDER, T X, T Y, int KXORD, int KYORD, const T* XKNOT,
                 const T* YKNOT, int NXCOEF, int NYCOEF, int& lx, int& ly, T* bx, T* by, T* dr,
                 T* dl) {
  lx = find_interval(XKNOT, KXORD, NXCOEF, X);
  ly = find_interval(YKNOT, KYORD, NYCOEF, Y);
  basis_derivatives(XKNOT, lx, KXORD, IXDER, X, bx, dr, dl);
  basis_derivatives(YKNOT, ly, KYORD, IYDER, Y, by, dr, dl);
}

// The value at one point for checked arguments.
template <class T>
T point_value_checked(int IXDER, int IYDER, T X, T Y, int KXORD, int KYORD, const T* XKNOT,
                      const T* YKNOT, int NXCOEF, int NYCOEF, const T* BSCOEF, T* WK) {
  if (!point_inside(X, KXORD, XKNOT, NXCOEF, kX) || !point_inside(Y, KYORD, YKNOT, NYCOEF, kY)) {
    return T(0);
  }
  T* bx = WK;
  T* by = bx + KXORD;
  T* dr = by + KYORD;
  T* dl = dr + std::max(KXORD, KYORD);
  int lx = 0;
  int ly = 0;
  point_basis(IXDER, IYDER, X, Y, KXORD, KYORD, XKNOT, YKNOT, NXCOEF, NYCOEF, lx, ly, bx, by, dr, dl);
  return active_sum(bx, by, KXORD, KYORD, BSCOEF, NXCOEF, lx, ly);
}

// Whether the arguments pass evaluation_arguments_ok; asked without a
// message by callers that hand a failing case to BS2GD, which reports it.
bool evaluation_arguments_valid(int IXDER, int IYDER, int KXORD, int KYORD, int NXCOEF, int NYCOEF) {
  return KXORD >= 1 && KYORD >= 1 && IXDER >= 0 && IYDER >= 0 && NXCOEF >= KXORD &&
         NYCOEF >= KYORD;
}

std::size_t point_work_length(int KXORD, int KYORD) {
  return static_cast<std::size_t>(std::max(KXORD, 0)) + static_cast<std::size_t>(std::max(KYORD, 0)) +
         2 * static_cast<std::size_t>(std::max({KXORD, KYORD, 0}));
}

double point_value(int IXDER, int IYDER, double X, double Y, int KXORD, int KYORD,
                   const double* XKNOT, const double* YKNOT, int NXCOEF, int NYCOEF,
                   const double* BSCOEF, bool derivative) {
  if (!evaluation_arguments_ok(IXDER, IYDER, KXORD, KYORD, NXCOEF, NYCOEF)) return 0.0;
  std::vector<double>& wk = per_thread<std::vector<double>>([] {});
  if (!obtain(wk, point_work_length(KXORD, KYORD))) {
    E1STI(1, KXORD);
    E1STI(2, KYORD);
    raise(BsplineMessage::point_no_storage);
    return 0.0;
  }
  // The work-area variant's name goes on the stack; its checks are done.
  RoutineScope scope(derivative ? "DB22DR" : "DB22VL");
  return point_value_checked(IXDER, IYDER, X, Y, KXORD, KYORD, XKNOT, YKNOT, NXCOEF, NYCOEF, BSCOEF,
                             wk.data());
}

}  // namespace

// ---------------------------------------------------------------------------
// Knots

void BSNAK(int NDATA, const float* XDATA, int KORDER, float* XKNOT) {
  RoutineScope scope("BSNAK");
  not_a_knot(NDATA, XDATA, KORDER, XKNOT, "B2NAK");
}

void DBSNAK(int NDATA, const double* XDATA, int KORDER, double* XKNOT) {
  RoutineScope scope("DBSNAK");
  not_a_knot(NDATA, XDATA, KORDER, XKNOT, "DB2NAK");
}

void B2NAK(int NDATA, const float* XDATA, int KORDER, float* XKNOT, float* XSRT, int* IWK) {
  RoutineScope scope("B2NAK");
  not_a_knot_work(NDATA, XDATA, KORDER, XKNOT, XSRT, IWK);
}

void DB2NAK(int NDATA, const double* XDATA, int KORDER, double* XKNOT, double* XSRT, int* IWK) {
  RoutineScope scope("DB2NAK");
  not_a_knot_work(NDATA, XDATA, KORDER, XKNOT, XSRT, IWK);
}

// ---------------------------------------------------------------------------
// Interpolation

std::size_t bs2in_work_length(int NXDATA, int NYDATA, int KXORD, int KYORD) {
  return interpolation_work_length(NXDATA, NYDATA, KXORD, KYORD);
}

void BS2IN(int NXDATA, const float* XDATA, int NYDATA, const float* YDATA, const float* FDATA,
           int LDF, int KXORD, int KYORD, const float* XKNOT, const float* YKNOT, float* BSCOEF) {
  RoutineScope scope("BS2IN");
  interpolate(NXDATA, XDATA, NYDATA, YDATA, FDATA, LDF, KXORD, KYORD, XKNOT, YKNOT, BSCOEF, "B22IN");
}

void DBS2IN(int NXDATA, const double* XDATA, int NYDATA, const double* YDATA, const double* FDATA,
            int LDF, int KXORD, int KYORD, const double* XKNOT, const double* YKNOT,
            double* BSCOEF) {
  RoutineScope scope("DBS2IN");
  interpolate(NXDATA, XDATA, NYDATA, YDATA, FDATA, LDF, KXORD, KYORD, XKNOT, YKNOT, BSCOEF,
              "DB22IN");
}

void B22IN(int NXDATA, const float* XDATA, int NYDATA, const float* YDATA, const float* FDATA,
           int LDF, int KXORD, int KYORD, const float* XKNOT, const float* YKNOT, float* BSCOEF,
           float* WK, int* IWK) {
  RoutineScope scope("B22IN");
  interpolate_work(NXDATA, XDATA, NYDATA, YDATA, FDATA, LDF, KXORD, KYORD, XKNOT, YKNOT, BSCOEF,
                   WK, IWK);
}

void DB22IN(int NXDATA, const double* XDATA, int NYDATA, const double* YDATA,
            const double* FDATA, int LDF, int KXORD, int KYORD, const double* XKNOT,
            const double* YKNOT, double* BSCOEF, double* WK, int* IWK) {
  RoutineScope scope("DB22IN");
  interpolate_work(NXDATA, XDATA, NYDATA, YDATA, FDATA, LDF, KXORD, KYORD, XKNOT, YKNOT, BSCOEF,
                   WK, IWK);
}

std::size_t b2int_work_length(int NDATA, int KORDER) {
  return CollocationWork::length(NDATA, KORDER, 1);
}

void DB2INT(int NDATA, const double* XDATA, const double* FDATA, int KORDER, const double* XKNOT,
            double* BSCOEF, double* WK, int* IWK) {
  RoutineScope scope("DB2INT");
  constexpr Direction kAlone{"X", "KORDER"};
  if (KORDER < 1) {
    E1STI(1, KORDER);
    raise(BsplineMessage::single_order_below_one);
    return;
  }
  if (NDATA < KORDER) {
    E1STI(1, NDATA);
    E1STI(2, KORDER);
    raise(BsplineMessage::single_too_few_points);
    return;
  }
  if (!strictly_increasing(NDATA, XDATA, "X", "XDATA", BsplineMessage::xdata_not_increasing)) return;
  if (!check_collocation(NDATA, XDATA, KORDER, XKNOT, kAlone)) return;
  collocation_solve(NDATA, XDATA, KORDER, XKNOT, 1, Strided<const double>{FDATA, 1, 0},
                    Strided<double>{BSCOEF, 1, 0}, WK, IWK, kAlone);
}

// ---------------------------------------------------------------------------
// Evaluation

std::size_t bs2gd_work_length(int NX, int NY, int KXORD, int KYORD) {
  return grid_work_length(NX, NY, KXORD, KYORD);
}

void BS2GD(int IXDER, int IYDER, int NX, const float* XVEC, int NY, const float* YVEC, int KXORD,
           int KYORD, const float* XKNOT, const float* YKNOT, int NXCOEF, int NYCOEF,
           const float* BSCOEF, float* VALUE, int LDVALUE) {
  RoutineScope scope("BS2GD");
  if (!grid_arguments_ok(IXDER, IYDER, NX, XVEC, NY, YVEC, KXORD, KYORD, NXCOEF, NYCOEF, LDVALUE))
    return;
  std::vector<float>& wk = per_thread<std::vector<float>>([] {});
  std::vector<int>& iwk = per_thread<std::vector<int>>([] {});
  if (!obtain(wk, grid_work_length(NX, NY, KXORD, KYORD)) ||
      !obtain(iwk, static_cast<std::size_t>(std::max(NX, 0)) + static_cast<std::size_t>(std::max(NY, 0)))) {
    E1STI(1, NX);
    E1STI(2, NY);
    raise(BsplineMessage::grid_no_storage);
    return;
  }
  RoutineScope work_scope("B22GD");
  // One point inside the knots, the rating driver's only use: the point
  // evaluator does the same arithmetic with less bookkeeping.
  if (NX == 1 && NY == 1 && inside_knots(XVEC[0], KXORD, XKNOT, NXCOEF) &&
      inside_knots(YVEC[0], KYORD, YKNOT, NYCOEF)) {
    VALUE[0] = point_value_checked(IXDER, IYDER, XVEC[0], YVEC[0], KXORD, KYORD, XKNOT, YKNOT,
                                   NXCOEF, NYCOEF, BSCOEF, wk.data());
    return;
  }
  grid_values(IXDER, IYDER, NX, XVEC, NY, YVEC, KXORD, KYORD, XKNOT, YKNOT, NXCOEF, NYCOEF, BSCOEF,
              VALUE, LDVALUE, wk.data(), iwk.data());
}

bool prepare_point(int IXDER, int IYDER, float X, float Y, int KXORD, int KYORD,
                   const float* XKNOT, const float* YKNOT, int NXCOEF, int NYCOEF,
                   PreparedPoint& P) {
  P.ready = false;
  if (!evaluation_arguments_valid(IXDER, IYDER, KXORD, KYORD, NXCOEF, NYCOEF)) return false;
  if (KXORD > PreparedPoint::kMaxOrder || KYORD > PreparedPoint::kMaxOrder) return false;
  if (!inside_knots(X, KXORD, XKNOT, NXCOEF) || !inside_knots(Y, KYORD, YKNOT, NYCOEF)) return false;
  std::array<float, PreparedPoint::kMaxOrder> dr{};
  std::array<float, PreparedPoint::kMaxOrder> dl{};
  point_basis(IXDER, IYDER, X, Y, KXORD, KYORD, XKNOT, YKNOT, NXCOEF, NYCOEF, P.lx, P.ly,
              P.bx.data(), P.by.data(), dr.data(), dl.data());
  P.kxord = KXORD;
  P.kyord = KYORD;
  P.nxcoef = NXCOEF;
  P.x = X;
  P.ready = true;
  return true;
}

bool move_prepared_point(int IXDER, int IYDER, float X, float Y, const float* XKNOT,
                         const float* YKNOT, int NYCOEF, PreparedPoint& P) {
  if (!P.ready || std::bit_cast<std::uint32_t>(X) != std::bit_cast<std::uint32_t>(P.x)) {
    return prepare_point(IXDER, IYDER, X, Y, P.kxord, P.kyord, XKNOT, YKNOT, P.nxcoef, NYCOEF, P);
  }
  P.ready = false;
  if (!inside_knots(Y, P.kyord, YKNOT, NYCOEF)) return false;
  std::array<float, PreparedPoint::kMaxOrder> dr{};
  std::array<float, PreparedPoint::kMaxOrder> dl{};
  P.ly = find_interval(YKNOT, P.kyord, NYCOEF, Y);
  basis_derivatives(YKNOT, P.ly, P.kyord, IYDER, Y, P.by.data(), dr.data(), dl.data());
  P.ready = true;
  return true;
}

float prepared_value(const PreparedPoint& P, const float* BSCOEF) {
  return active_sum(P.bx.data(), P.by.data(), P.kxord, P.kyord, BSCOEF, P.nxcoef, P.lx, P.ly);
}

void B22GD(int IXDER, int IYDER, int NX, const float* XVEC, int NY, const float* YVEC, int KXORD,
           int KYORD, const float* XKNOT, const float* YKNOT, int NXCOEF, int NYCOEF,
           const float* BSCOEF, float* VALUE, int LDVALUE, float* WK, int* IWK) {
  RoutineScope scope("B22GD");
  if (!grid_arguments_ok(IXDER, IYDER, NX, XVEC, NY, YVEC, KXORD, KYORD, NXCOEF, NYCOEF, LDVALUE))
    return;
  grid_values(IXDER, IYDER, NX, XVEC, NY, YVEC, KXORD, KYORD, XKNOT, YKNOT, NXCOEF, NYCOEF, BSCOEF,
            VALUE, LDVALUE, WK, IWK);
}

std::size_t bs2dr_work_length(int KXORD, int KYORD) { return point_work_length(KXORD, KYORD); }

double DBS2VL(double X, double Y, int KXORD, int KYORD, const double* XKNOT, const double* YKNOT,
              int NXCOEF, int NYCOEF, const double* BSCOEF) {
  RoutineScope scope("DBS2VL");
  return point_value(0, 0, X, Y, KXORD, KYORD, XKNOT, YKNOT, NXCOEF, NYCOEF, BSCOEF, false);
}

double DBS2DR(int IXDER, int IYDER, double X, double Y, int KXORD, int KYORD, const double* XKNOT,
              const double* YKNOT, int NXCOEF, int NYCOEF, const double* BSCOEF) {
  RoutineScope scope("DBS2DR");
  return point_value(IXDER, IYDER, X, Y, KXORD, KYORD, XKNOT, YKNOT, NXCOEF, NYCOEF, BSCOEF, true);
}

double DB22VL(double X, double Y, int KXORD, int KYORD, const double* XKNOT, const double* YKNOT,
              int NXCOEF, int NYCOEF, const double* BSCOEF, double* WK) {
  RoutineScope scope("DB22VL");
  if (!evaluation_arguments_ok(0, 0, KXORD, KYORD, NXCOEF, NYCOEF)) return 0.0;
  return point_value_checked(0, 0, X, Y, KXORD, KYORD, XKNOT, YKNOT, NXCOEF, NYCOEF, BSCOEF, WK);
}

double DB22DR(int IXDER, int IYDER, double X, double Y, int KXORD, int KYORD,
              const double* XKNOT, const double* YKNOT, int NXCOEF, int NYCOEF,
              const double* BSCOEF, double* WK) {
  RoutineScope scope("DB22DR");
  if (!evaluation_arguments_ok(IXDER, IYDER, KXORD, KYORD, NXCOEF, NYCOEF)) return 0.0;
  return point_value_checked(IXDER, IYDER, X, Y, KXORD, KYORD, XKNOT, YKNOT, NXCOEF, NYCOEF, BSCOEF, WK);
}

}  // namespace zalk::toolkit
