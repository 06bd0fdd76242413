#include "engine/accurate.h"

#include <algorithm>
#include <cmath>

#include "plate/halfspace_exact.h"
#include "toolkit/bessel.h"
#include "toolkit/gauss.h"

namespace zalk::engine {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr int kRulePoints = 50;
// The first interval [0, m1] is cut at m1 / 2^k, k = 1..kFirstPanels-1: the
// coefficients change on the scale of 1 / (depth of the structure), far
// below m1 when the structure is deep, and J1(m a) ~ m a / 2 near 0.
constexpr int kFirstPanels = 7;
// A component has converged when an interval adds less than this fraction
// of its running total (or less than kNegligible outright) on two intervals
// in a row.
constexpr double kRelativeStop = 1e-10;
constexpr double kNegligible = 1e-14;
constexpr int kMaxIntervals = 400;
// The system's rows reach at most this many columns either side of the diagonal.
constexpr int kBand = 5;

void make_rule(AccurateTables& t) {
  std::vector<double> x(kRulePoints), w(kRulePoints);
  const double fixed_nodes[2] = {0.0, 0.0};
  toolkit::DGQRUL(kRulePoints, 1, 0.0, 0.0, 0, fixed_nodes, x.data(), w.data());
  t.rule_x.resize(kRulePoints);
  t.rule_w.resize(kRulePoints);
  for (int k = 0; k < kRulePoints; ++k) {
    t.rule_x[k] = (x[k] + 1.0) / 2.0;
    t.rule_w[k] = w[k] / 2.0;
  }
}

// Gaussian elimination with partial pivoting of the banded system (column-major,
// order n): below the diagonal only kBand rows are nonzero, and pivoting widens
// the upper band to 2 kBand.
void solve_banded(int n, double* A, double* b) {
  const auto at = [&](int row, int col) -> double& { return A[std::size_t(col) * n + row]; };
  for (int k = 0; k < n; ++k) {
    const int last_row = std::min(n - 1, k + kBand);
    const int last_col = std::min(n - 1, k + 2 * kBand);
    int pivot = k;
    for (int i = k + 1; i <= last_row; ++i)
      if (std::abs(at(i, k)) > std::abs(at(pivot, k))) pivot = i;
    if (pivot != k) {
      for (int c = k; c <= last_col; ++c) std::swap(at(k, c), at(pivot, c));
      std::swap(b[k], b[pivot]);
    }
    for (int i = k + 1; i <= last_row; ++i) {
      const double f = at(i, k) / at(k, k);
      if (f == 0.0) continue;
      for (int c = k + 1; c <= last_col; ++c) at(i, c) -= f * at(k, c);
      b[i] -= f * b[k];
    }
  }
  for (int k = n - 1; k >= 0; --k) {
    double s = b[k];
    const int last_col = std::min(n - 1, k + 2 * kBand);
    for (int c = k + 1; c <= last_col; ++c) s -= at(k, c) * b[c];
    b[k] = s / at(k, k);
  }
}

// The coefficient vector at m with the top layer's homogeneous half-space
// solution removed, as the design's tables hold it.
void exact_coefficients(AccurateTables& t, const LayerSet& layers, double m, double* x) {
  const int n = t.ncoef;
  layer_matrix(m, layers, t.matrix.data(), false);
  load_vector(layers.n, t.rhs.data());
  solve_banded(n, t.matrix.data(), t.rhs.data());
  std::copy(t.rhs.begin(), t.rhs.begin() + n, x);
  x[1] -= 2.0 * layers.pr[0];
  x[3] -= 1.0;
}

void add_panel(AccurateTables& t, const LayerSet& layers, int interval, double from, double to) {
  auto& m = t.m[std::size_t(interval)];
  auto& w = t.weight[std::size_t(interval)];
  auto& j1a = t.j1a[std::size_t(interval)];
  auto& coef = t.coef[std::size_t(interval)];
  for (int p = 0; p < kRulePoints; ++p) {
    const double mp = from + (to - from) * t.rule_x[p];
    m.push_back(mp);
    w.push_back((to - from) * t.rule_w[p]);
    j1a.push_back(toolkit::bessel_j1(mp * t.radius));
    coef.resize(coef.size() + std::size_t(t.ncoef));
    exact_coefficients(t, layers, mp, coef.data() + coef.size() - std::size_t(t.ncoef));
  }
}

void prepare(AccurateTables& t, const LayerSet& layers, int interval) {
  const std::size_t i = std::size_t(interval);
  if (t.m.size() <= i) {
    for (auto* v : {&t.m, &t.weight, &t.j1a, &t.coef}) v->resize(i + 1);
  }
  for (auto* v : {&t.m, &t.weight, &t.j1a, &t.coef}) (*v)[i].clear();
  const double m1 = kFirstJ1Zero / t.radius;
  if (interval == 0) {
    double from = 0.0;
    for (int k = kFirstPanels - 1; k >= 0; --k) {
      const double to = m1 / double(1 << k);
      add_panel(t, layers, 0, from, to);
      from = to;
    }
  } else {
    const double step = kPi / t.radius;
    add_panel(t, layers, interval, m1 + (interval - 1) * step, m1 + interval * step);
  }
  t.prepared = interval + 1;
}

// Adds interval `interval`'s contribution of each active component to y.
void integrate_interval(const AccurateTables& t, const LayerSet& layers, int interval, int j, double r,
                        double zeta, const std::array<int, 6>& active, std::array<double, 6>& y) {
  const std::size_t i = std::size_t(interval);
  const double s = r != 0.0 ? 1.0 : 0.0;
  for (std::size_t p = 0; p < t.m[i].size(); ++p) {
    const double m = t.m[i][p];
    double b0, b1;
    toolkit::bessel_j0_j1(m * r, b0, b1);
    const double b2 = (active[3] || active[4]) ? toolkit::bessel_j2(m * r) : 0.0;
    const double scale = t.j1a[i][p] * t.weight[i][p];
    double F1, F2, F3, F4, F5, F6;
    layer_kernel(j, layers.n, t.coef[i].data() + p * std::size_t(t.ncoef), m, r, zeta, layers.h, layers.pr,
                 F1, F2, F3, F4, F5, F6);
    const double K[6] = {F2 * b0, F1 * b1, F6 * b1, F3 * (b0 - s * b2), F4 * (b0 + s * b2), F5 * b0};
    for (int c = 0; c < 6; ++c)
      if (active[c]) y[c] += K[c] * scale;
  }
}

double local_depth(const LayerSet& layers, int j, double z) {
  double top = 0.0;
  for (int i = 0; i < j - 1; ++i) top += layers.h[i];
  return z - top;
}

}  // namespace

void reset_accurate_tables(AccurateTables& t, double a, const LayerSet& layers) {
  if (t.rule_x.empty()) make_rule(t);
  t.radius = a;
  t.ncoef = coefficient_count(layers.n);
  t.prepared = 0;
  t.matrix.resize(std::size_t(t.ncoef) * t.ncoef);
  t.rhs.resize(std::size_t(t.ncoef));
}

void accurate_layer_response(AccurateTables& t, const LayerSet& layers, int L, const double* q,
                             const double* a, double z, int j, double r, PointResponse& out) {
  const double zeta = local_depth(layers, j, z);
  std::array<double, 6> S{};
  std::array<int, 6> active{1, 1, 1, 1, 1, 1};
  std::array<int, 6> quiet{};  // intervals in a row that added next to nothing
  if (r == 0.0) active[1] = 0;  // no radial displacement on the axis
  for (int k = 0; k < kMaxIntervals; ++k) {
    if (k >= t.prepared) prepare(t, layers, k);
    std::array<double, 6> Y{};
    integrate_interval(t, layers, k, j, r, zeta, active, Y);
    bool any_active = false;
    for (int c = 0; c < 6; ++c) {
      if (!active[c]) continue;
      S[c] += Y[c];
      const bool small = std::abs(Y[c]) <= kRelativeStop * std::abs(S[c]) || std::abs(Y[c]) <= kNegligible;
      quiet[c] = k > 0 && small ? quiet[c] + 1 : 0;
      if (quiet[c] >= 2) active[c] = 0;
      any_active = any_active || active[c];
    }
    if (!any_active) break;
  }
  const double f_scale = (1.0 + layers.pr[j - 1]) / layers.e[j - 1] * q[L - 1] * a[L - 1];
  out.w = f_scale * S[0];
  out.u = f_scale * S[1];
  out.er = f_scale * S[3];
  out.et = f_scale * S[4];
  out.ez = f_scale * S[5];
  out.erz = f_scale * S[2];
  out.near_surface = 0;
  if (j == 1) {  // the top layer's homogeneous response, removed from the coefficients
    const auto h = plate::halfspace_exact(r, z, a[L - 1], q[L - 1], layers.e[0], layers.pr[0]);
    out.w += h.w;
    out.u += h.u;
    out.er += h.er;
    out.et += h.et;
    out.ez += h.ez;
    out.erz += h.erz;
  }
}

}  // namespace zalk::engine
