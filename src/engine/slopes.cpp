#include "engine/slopes.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "engine/kernel.h"
#include "engine/quorvan.h"
#include "engine/transform.h"
#include "toolkit/bessel.h"
#include "toolkit/splez.h"

namespace zalk::engine {
namespace {

// The matrix's entries are linear in the interface stiffness ratios and
// bond terms, which are exponentials of the log-moduli: a central
// difference of the matrix in ln E with this step is exact to h^2 / 6.
constexpr double kMatrixStep = 1e-4;

// Dense LU with partial pivoting of an order-N column-major matrix, in
// place: the derivative systems share the layer system's matrix, and their
// right sides are known only once its solution is.
struct DenseLU {
  int n = 0;
  std::vector<double> a;
  std::vector<int> pivot;

  void factor(int order, const double* matrix) {
    n = order;
    a.assign(matrix, matrix + std::size_t(n) * n);
    pivot.assign(std::size_t(n), 0);
    // The layer systems are block bidiagonal: a row's entries end a few
    // columns past the diagonal, which bounds every update.
    for (int k = 0; k < n; ++k) {
      int p = k;
      for (int i = k + 1; i < n; ++i)
        if (std::abs(at(i, k)) > std::abs(at(p, k))) p = i;
      pivot[std::size_t(k)] = p;
      if (p != k)
        for (int j = 0; j < n; ++j) std::swap(at(k, j), at(p, j));
      const double d = at(k, k);
      if (d == 0.0) continue;  // a singular system gives non-finite slopes
      int end = n;
      while (end > k + 1 && at(k, end - 1) == 0.0) --end;
      for (int i = k + 1; i < n; ++i) {
        if (at(i, k) == 0.0) continue;
        const double l = at(i, k) / d;
        at(i, k) = l;
        for (int j = k + 1; j < end; ++j) at(i, j) -= l * at(k, j);
      }
    }
  }
  void solve(double* x) const {
    // The rows were swapped whole, multipliers included: every swap first.
    for (int k = 0; k < n; ++k) std::swap(x[k], x[pivot[std::size_t(k)]]);
    for (int k = 0; k < n; ++k)
      for (int i = k + 1; i < n; ++i) x[i] -= at(i, k) * x[k];
    for (int k = n - 1; k >= 0; --k) {
      for (int j = k + 1; j < n; ++j) x[k] -= at(k, j) * x[j];
      x[k] /= at(k, k);
    }
  }
  double& at(int i, int j) { return a[std::size_t(j) * n + i]; }
  double at(int i, int j) const { return a[std::size_t(j) * n + i]; }
};

// The engine layer's deck layer (0-based): the top-layer split makes engine
// layers 1 and 2 both the deck's first.
int deck_layer(int engine_layer, bool split) { return split ? std::max(0, engine_layer - 1) : engine_layer; }

// Derivative coefficient tables of one load radius, filled as far as the
// integrals reach: dcoef[(c * P + p) * N + i] is d X_i / d ln E_(p+1) at grid
// parameter c, for the P deck layers. The layer system's own columns are
// solved on demand as well.
class SlopeTables {
 public:
  SlopeTables(const CurrentProblem& cur, int P, bool split, TransformTables& t, SolverWorkspace& solver)
      : cur_(cur), layers_(cur.layers()), P_(P), N_(t.ncoef), split_(split), t_(t), solver_(solver) {
    dcoef_.assign(std::size_t(kGridPoints) * P * N_, 0.0);
    const std::size_t nn = std::size_t(N_) * N_;
    a_.assign(nn, 0.0);  // the entries off the row bands stay zero
    up_.resize(nn);
    down_.resize(nn);
    x_.resize(std::size_t(N_));
    for (int i = 0; i + 1 < cur.nl; ++i) fully_bonded_ = fully_bonded_ && cur.bd[std::size_t(i)] == 1.0;
    for (int p = 0; p < P; ++p) {
      for (int i = 0; i < cur.nl; ++i) {
        const bool moved = deck_layer(i, split) == p;
        const double e = cur.e[std::size_t(i)];
        e_up_[std::size_t(p)][std::size_t(i)] = moved ? e * std::exp(kMatrixStep) : e;
        e_down_[std::size_t(p)][std::size_t(i)] = moved ? e * std::exp(-kMatrixStep) : e;
      }
    }
  }
  int parameters() const { return P_; }
  // Columns [0, end) ready.
  void ensure(int end) {
    end = std::min(end, kGridPoints);
    if (end <= built_) return;
    solve_columns_before(end, layers_, t_, solver_);
    for (; built_ < end; ++built_) build_column(built_);
  }
  const double* column(int c, int p) const { return dcoef_.data() + (std::size_t(c) * P_ + p) * N_; }

 private:
  void build_column(int c) {
    const int N = N_;
    const double m = t_.grid[std::size_t(c)];
    layer_matrix_at_column(c, layers_, t_, solver_, a_.data());
    lu_.factor(N, a_.data());
    // The system's own solution: the table holds it less the top layer's
    // homogeneous part, a constant.
    std::copy(t_.column(c), t_.column(c) + N, x_.begin());
    x_[1] += 2.0 * layers_.pr[0];
    x_[3] += 1.0;
    for (int p = 0; p < P_; ++p) {
      double* dx = dcoef_.data() + (std::size_t(c) * P_ + p) * N;
      if (fully_bonded_)
        minus_ratio_terms(p, dx);
      else
        minus_matrix_difference(m, p, dx);
      lu_.solve(dx);
    }
  }

  // -dA X of a fully bonded structure. The moduli enter the matrix only
  // through the stiffness ratio R of each interface, and linearly: the
  // displacement and bond rows (4i, 4i + 2) carry R in every entry of the
  // lower layer's columns. With d R / d ln E = +R of the upper layer and -R
  // of the lower (the nudged ratio of equal materials has the slope of the
  // ratio it stands for), -dA X follows from those entries of A itself.
  void minus_ratio_terms(int p, double* dx) const {
    const int N = N_;
    for (int i = 0; i < N; ++i) dx[i] = 0.0;
    for (int i = 1; i <= cur_.nl - 1; ++i) {
      const double slope = double(deck_layer(i - 1, split_) == p) - double(deck_layer(i, split_) == p);
      if (slope == 0.0) continue;
      const double raw = (1.0 + cur_.pr[std::size_t(i)]) * cur_.e[std::size_t(i - 1)] /
                         ((1.0 + cur_.pr[std::size_t(i - 1)]) * cur_.e[std::size_t(i)]);
      const double used = ratio_used(raw);
      const int first = 4 * i, last = std::min(4 * i + 3, N - 1);  // 0-based columns of layer i + 1
      for (int row : {4 * i - 1, 4 * i + 1}) {                       // 0-based rows 4i, 4i + 2
        double sum = 0.0;
        for (int col = first; col <= last; ++col) sum += a_[std::size_t(col) * N + row] * x_[std::size_t(col)];
        dx[row] = -slope * raw / used * sum;
      }
    }
  }
  static double ratio_used(double raw) { return raw == 1.0 ? raw + kUnitRatioNudge : raw; }

  // -dA X by a central difference of the whole matrix in ln E: the bond
  // rows of a partly bonded interface carry the upper modulus outside R too.
  void minus_matrix_difference(double m, int p, double* dx) {
    const int N = N_;
    layer_matrix(m, LayerSet{cur_.nl, e_up_[std::size_t(p)].data(), cur_.pr.data(), cur_.h.data(), cur_.bd.data()},
                 up_.data());
    layer_matrix(m, LayerSet{cur_.nl, e_down_[std::size_t(p)].data(), cur_.pr.data(), cur_.h.data(), cur_.bd.data()},
                 down_.data());
    for (int i = 0; i < N; ++i) dx[i] = 0.0;
    for (int j = 0; j < N; ++j) {
      const double xj = x_[std::size_t(j)];
      for (int i = 0; i < N; ++i) dx[i] -= (up_[std::size_t(j) * N + i] - down_[std::size_t(j) * N + i]) * xj;
    }
    for (int i = 0; i < N; ++i) dx[i] /= 2.0 * kMatrixStep;
  }

  const CurrentProblem& cur_;
  LayerSet layers_;
  int P_, N_;
  bool split_;
  bool fully_bonded_ = true;
  TransformTables& t_;
  SolverWorkspace& solver_;
  int built_ = 0;
  std::vector<double> dcoef_, a_, up_, down_, x_;
  std::array<std::array<double, kMaxEngineLayers>, kMaxLayers> e_up_{}, e_down_{};
  DenseLU lu_;
};

// The geometric points that cover interval k after those ending at `last`,
// as the response integration finds them; false when fewer than three do.
bool interval_points(const TransformTables& t, int k, int& first, int& last) {
  first = last;
  for (int i = last; i <= t.ngeom; ++i) {
    if (t.grid[std::size_t(kGaussPoints + i - 1)] >= t.breaks[std::size_t(k)]) {
      last = i;
      break;
    }
  }
  return last - first + 1 >= 3;
}

// d S0 / d ln E_(p+1) of the deflection integral at distance r and depth z
// in the top layer, for every deck layer p; integrated over the intervals
// until every slope has converged by the deflection's tolerances.
void integrate_slopes(const CurrentProblem& cur, const TransformTables& t, SlopeTables& s, double r,
                      double z, double aL, double abstol, double reltol, std::vector<double>& S) {
  const int P = s.parameters();
  S.assign(std::size_t(P), 0.0);
  const LayerSet layers = cur.layers();
  const double m1 = kFirstJ1Zero / aL;
  auto kernel = [&](const double* X, double m) {
    double F1, F2, F3, F4, F5, F6;
    layer_kernel(1, layers.n, X, m, r, z, layers.h, layers.pr, F1, F2, F3, F4, F5, F6);
    return F2;
  };
  s.ensure(kGaussPoints);
  for (int i = 0; i < kGaussPoints; ++i) {
    const double m = t.grid[std::size_t(i)];
    const double b0 = toolkit::bessel_j0(m * r) * toolkit::bessel_j1(m * aL);
    for (int p = 0; p < P; ++p) S[std::size_t(p)] += kernel(s.column(i, p), m) * b0 * t.weights[std::size_t(i)] * m1;
  }
  // Only the top layer's four coefficients enter its kernel: set p * 4 + i
  // of the fits is coefficient i of slope p.
  constexpr int kRead = 4;
  const int sets = kRead * P;
  std::array<double, kMaxSplineData> xd{};
  std::vector<double> data(std::size_t(kMaxSplineData) * sets), values(std::size_t(kGaussPoints) * sets);
  std::array<double, kGaussPoints> xe{};
  std::vector<double> Y(std::size_t(P), 0.0);
  std::vector<char> active(std::size_t(P), 1);
  std::array<double, kMaxCoefficients> X{};
  int last = 1;
  for (int k = 2; k < kBreaks; ++k) {
    int first = 0;
    if (!interval_points(t, k, first, last)) break;
    const int count = last - first + 1;
    if (count > kMaxSplineData) break;
    s.ensure(kGaussPoints + last);
    const double w = t.breaks[std::size_t(k)] - t.breaks[std::size_t(k - 1)];
    for (int q = 0; q < kGaussPoints; ++q) xe[std::size_t(q)] = t.breaks[std::size_t(k - 1)] + w * t.nodes[std::size_t(q)];
    for (int q = 0; q < count; ++q) {
      xd[std::size_t(q)] = t.grid[std::size_t(kGaussPoints + first + q - 1)];
      for (int p = 0; p < P; ++p)
        std::copy_n(s.column(kGaussPoints + first + q - 1, p), kRead, data.begin() + std::ptrdiff_t(q * sets + p * kRead));
    }
    toolkit::DSPLEZ_sets(count, xd.data(), sets, data.data(), sets, 1, kCoefficientSpline, 0, kGaussPoints, xe.data(),
                         values.data(), sets, 1);
    std::fill(Y.begin(), Y.end(), 0.0);
    for (int q = 0; q < kGaussPoints; ++q) {
      const double m = xe[std::size_t(q)];
      const double b0 = toolkit::bessel_j0(m * r) * toolkit::bessel_j1(m * aL);
      for (int p = 0; p < P; ++p) {
        if (!active[std::size_t(p)]) continue;
        std::copy_n(values.begin() + std::ptrdiff_t(q * sets + p * kRead), kRead, X.begin());
        Y[std::size_t(p)] += kernel(X.data(), m) * b0 * t.weights[std::size_t(q)] * w;
      }
    }
    // Each slope is summed and tested on its own, as the responses are: a
    // slope's value does not depend on which others are asked for.
    bool any = false;
    for (int p = 0; p < P; ++p) {
      if (!active[std::size_t(p)]) continue;
      const double sum = S[std::size_t(p)];
      const double rel = sum != 0.0 ? std::abs(Y[std::size_t(p)] / sum) : 0.0;
      active[std::size_t(p)] = std::abs(Y[std::size_t(p)]) > abstol || rel > reltol;
      S[std::size_t(p)] += Y[std::size_t(p)];
      any = any || active[std::size_t(p)];
    }
    if (!any) break;
  }
}

}  // namespace

bool analyse_deflection_slopes(EngineWorkspace& ws, const DeckProblem& problem,
                               const std::array<double, 10>& abstol, const std::array<double, 10>& reltol,
                               std::vector<double>& w, std::vector<double>& dw, int layers) {
  analyse_deflections(ws, problem, abstol, reltol);
  const CurrentProblem& cur = ws.current;
  const int P = layers > 0 ? std::min(layers, problem.nlayer) : problem.nlayer;
  w.assign(std::size_t(cur.npt), 0.0);
  for (int k = 0; k < cur.npt; ++k) w[std::size_t(k)] = ws.rslot.at(1, k + 1);
  dw.assign(std::size_t(cur.npt) * P, std::numeric_limits<double>::quiet_NaN());
  for (int k = 0; k < cur.npt; ++k)
    if (cur.lp[std::size_t(k)] != 1) return false;
  std::fill(dw.begin(), dw.end(), 0.0);

  const bool split = cur.nl == problem.nlayer + 1;
  std::unique_ptr<SlopeTables> slopes;
  std::vector<double> S;
  // Loads of one radius: the analysis has left its tables of them, with the
  // columns it needed solved.
  bool one_radius = true;
  for (int j = 1; j < cur.nld; ++j) one_radius = one_radius && cur.a[std::size_t(j)] == cur.a[0];
  for (int j = 0; j < cur.nld; ++j) {
    if (j == 0 || !(cur.a[std::size_t(j)] == cur.a[std::size_t(j - 1)])) {
      if (!one_radius) start_transform_grid(cur.a[std::size_t(j)], cur.layers(), ws.tables, ws.solver);
      slopes = std::make_unique<SlopeTables>(cur, P, split, ws.tables, ws.solver);
    }
    const double aL = cur.a[std::size_t(j)];
    // As the response's scale: (1 + nu1) / E1 q a.
    const double f_scale = (1.0 + cur.pr[0]) / cur.e[0] * cur.p[std::size_t(j)] * aL;
    for (int k = 0; k < cur.npt; ++k) {
      const double r = std::hypot(cur.xl[std::size_t(j)] - cur.xp[std::size_t(k)],
                                  cur.yl[std::size_t(j)] - cur.yp[std::size_t(k)]);
      integrate_slopes(cur, ws.tables, *slopes, r, cur.zp[std::size_t(k)], aL, abstol[0], reltol[0], S);
      for (int p = 0; p < P; ++p) dw[std::size_t(k) * P + p] += f_scale * S[std::size_t(p)];
    }
  }
  // Every term of a top-layer deflection carries 1 / E1 besides the
  // layers' coefficients: the integral's scale and the homogeneous part.
  for (int k = 0; k < cur.npt; ++k) dw[std::size_t(k) * P] -= w[std::size_t(k)];
  return true;
}

}  // namespace zalk::engine
