#include "rating/fit.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <span>
#include <sstream>

#include "engine/driver.h"
#include "engine/quorvan.h"
#include "io/deck.h"
#include "rating/backcalc.h"
#include "rating/defltable.h"
#include "rating/driver.h"
#include "rating/grids.h"
#include "zalk/rating_model.hpp"

namespace zalk::rating {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kCandidates = int(DEPGRID.size());
constexpr int kTableSensors = 6;  // the table's sensors a search may use
constexpr double kPlateRadius = kRatingModel.plate_radius_in;
constexpr double kPressurePerLoad = kRatingModel.pressure_per_lb();  // as the table's runs
constexpr std::array<double, 4> kPoisson = kRatingModel.poisson;
constexpr double kStiffLayerModulus = kRatingModel.stiff_layer_modulus_psi;
// A chi-square per sensor above this (three standard deviations a reading
// on average) is a misfit the noise does not explain.
constexpr double kAboveNoiseChiSquare = 9.0;
// A chi-square per sensor below this (a hundredth of a standard deviation a
// reading) leaves the engine's own rounding as the largest error: the
// answer is polished on the engine's high accuracy, in this many iterations at most.
constexpr double kAccuratePolishChiSquare = 1.0e-4;
constexpr int kAccurateIterations = 20;

double candidate_depth(int d) { return double(DEPGRID[std::size_t(d - 1)]) * 12.0; }

// ---- small dense linear algebra -------------------------------------------

using Vec = std::vector<double>;

// Rows are sensors, columns parameters.
struct Matrix {
  int rows = 0, cols = 0;
  Vec a;
  Matrix() = default;
  Matrix(int r, int c) : rows(r), cols(c), a(std::size_t(r) * std::size_t(c), 0.0) {}
  double& operator()(int i, int j) { return a[std::size_t(i) * std::size_t(cols) + std::size_t(j)]; }
  double operator()(int i, int j) const { return a[std::size_t(i) * std::size_t(cols) + std::size_t(j)]; }
};

Matrix normal_matrix(const Matrix& J) {
  Matrix n(J.cols, J.cols);
  for (int p = 0; p < J.cols; ++p)
    for (int q = 0; q < J.cols; ++q) {
      double s = 0;
      for (int i = 0; i < J.rows; ++i) s += J(i, p) * J(i, q);
      n(p, q) = s;
    }
  return n;
}

// Solves the symmetric positive definite system A x = b by Cholesky; false
// when A is not positive definite.
bool cholesky_solve(Matrix A, Vec& x) {
  const int n = A.rows;
  for (int j = 0; j < n; ++j) {
    double d = A(j, j);
    for (int k = 0; k < j; ++k) d -= A(j, k) * A(j, k);
    if (!(d > 0.0)) return false;
    A(j, j) = std::sqrt(d);
    for (int i = j + 1; i < n; ++i) {
      double s = A(i, j);
      for (int k = 0; k < j; ++k) s -= A(i, k) * A(j, k);
      A(i, j) = s / A(j, j);
    }
  }
  for (int i = 0; i < n; ++i) {
    double s = x[std::size_t(i)];
    for (int k = 0; k < i; ++k) s -= A(i, k) * x[std::size_t(k)];
    x[std::size_t(i)] = s / A(i, i);
  }
  for (int i = n - 1; i >= 0; --i) {
    double s = x[std::size_t(i)];
    for (int k = i + 1; k < n; ++k) s -= A(k, i) * x[std::size_t(k)];
    x[std::size_t(i)] = s / A(i, i);
  }
  return true;
}

// Inverse of a small symmetric positive definite matrix (column by column).
bool invert_spd(const Matrix& A, Matrix& inv) {
  const int n = A.rows;
  inv = Matrix(n, n);
  for (int j = 0; j < n; ++j) {
    Vec e(std::size_t(n), 0.0);
    e[std::size_t(j)] = 1.0;
    if (!cholesky_solve(A, e)) return false;
    for (int i = 0; i < n; ++i) inv(i, j) = e[std::size_t(i)];
  }
  return true;
}

// The covariance of least-squares parameters whose residuals carry
// independent noise of standard deviation sigma_i: A J' diag(sigma^2) J A
// with A = (J'J)^-1 (the estimator weighs the residuals equally, so the
// noise enters between the two inverses). False when J'J is singular.
bool noise_covariance(const Matrix& J, const Vec& sigma, Matrix& cov) {
  Matrix A;
  if (!invert_spd(normal_matrix(J), A)) return false;
  const int m = J.cols;
  Matrix B(m, m);  // J' diag(sigma^2) J
  for (int p = 0; p < m; ++p)
    for (int q = 0; q < m; ++q) {
      double s = 0;
      for (int i = 0; i < J.rows; ++i) s += J(i, p) * sigma[std::size_t(i)] * sigma[std::size_t(i)] * J(i, q);
      B(p, q) = s;
    }
  cov = Matrix(m, m);
  for (int p = 0; p < m; ++p)
    for (int q = 0; q < m; ++q) {
      double s = 0;
      for (int k = 0; k < m; ++k)
        for (int l = 0; l < m; ++l) s += A(p, k) * B(k, l) * A(l, q);
      cov(p, q) = s;
    }
  return true;
}

double sum_of_squares(const Vec& r) {
  double s = 0;
  for (double v : r) s += v * v;
  return s;
}

double rms_percent(const Vec& r) {
  return r.empty() ? kNaN : 100.0 * std::sqrt(sum_of_squares(r) / double(r.size()));
}

// The moduli's covariance at the answer with the depth's share taken out:
// with J = [J3 jd] (moduli, depth), the moduli fitted at any fixed depth
// move with the residuals r as M r (M = (J3'J3)^-1 J3'), and the depth's
// estimate along q = jd - J3 M jd alone; the part of the moduli's noise
// correlated with the depth's is what a spread over depth adds back.
// Formed on the noise-weighted rows (sigma o M_j made orthogonal to
// sigma o q), which stays accurate where the depth is so poorly determined
// that the four-parameter covariance has lost every digit of its moduli
// block. Without a depth column: the moduli's sandwich covariance at the
// fixed depth. False when J3'J3 is singular.
bool covariance_given_depth(const Matrix& J, const Vec& sigma, Matrix& cov) {
  Matrix J3(J.rows, 3);
  for (int i = 0; i < J.rows; ++i)
    for (int j = 0; j < 3; ++j) J3(i, j) = J(i, j);
  Matrix A;
  if (!invert_spd(normal_matrix(J3), A)) return false;
  Matrix M(3, J.rows);
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < J.rows; ++i)
      for (int k = 0; k < 3; ++k) M(j, i) += A(j, k) * J3(i, k);
  Matrix u(3, J.rows);
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < J.rows; ++i) u(j, i) = sigma[std::size_t(i)] * M(j, i);
  if (J.cols == 4) {
    std::array<double, 3> mjd{};  // M jd
    for (int j = 0; j < 3; ++j)
      for (int i = 0; i < J.rows; ++i) mjd[std::size_t(j)] += M(j, i) * J(i, 3);
    Vec v(std::size_t(J.rows));  // sigma o q
    for (int i = 0; i < J.rows; ++i) {
      double q = J(i, 3);
      for (int j = 0; j < 3; ++j) q -= J3(i, j) * mjd[std::size_t(j)];
      v[std::size_t(i)] = sigma[std::size_t(i)] * q;
    }
    const double vv = sum_of_squares(v);
    for (int j = 0; j < 3 && vv > 0; ++j) {
      double uv = 0;
      for (int i = 0; i < J.rows; ++i) uv += u(j, i) * v[std::size_t(i)];
      for (int i = 0; i < J.rows; ++i) u(j, i) -= uv / vv * v[std::size_t(i)];
    }
  }
  cov = Matrix(3, 3);
  for (int j = 0; j < 3; ++j)
    for (int k = 0; k < 3; ++k)
      for (int i = 0; i < J.rows; ++i) cov(j, k) += u(j, i) * u(k, i);
  return true;
}

// ---- bounded Levenberg-Marquardt ------------------------------------------

// Residuals at parameters p; false when the model cannot be evaluated there.
using ResidualFn = std::function<bool(const Vec& p, Vec& r)>;

struct LmSettings {
  Vec lower, upper;
  int max_iterations = 30;
  double step_tolerance = 1e-7;
  double fd_step = 1e-4;
  // Convergence is declared on a Jacobian formed by differences at the
  // point; otherwise a Jacobian updated by secants (Broyden) may decide it.
  bool verify_with_differences = true;
  // An accepted step that lowers the sum of squares by less than this
  // fraction ends the iteration.
  double stall_gain = 1e-3;
  // Such a step on a secant Jacobian forms it again by differences, so
  // that the next step decides: without, a flat valley can be crawled
  // along on secants for every iteration allowed.
  bool refresh_when_stalled = false;
  // A parameter at a bound that the step would take beyond it is held
  // there and the step solved again without it; otherwise it is clipped,
  // and the other parameters keep their share of a step that assumed it
  // moved (along a flat valley, a step far worse than none).
  bool hold_at_bounds = false;
  // When given, an accepted point for which it holds ends the iteration
  // (unconverged): a start that has reached an answer known already.
  std::function<bool(const Vec&)> stop_at;
};

constexpr double kLambdaDown = 3.0;  // damping divided by this after a successful step

// Where the iteration starts: parameters, and optionally the residuals
// there and a Jacobian estimate (updated by secants from then on).
struct LmStart {
  Vec p;
  Vec r;           // empty: evaluated first
  Matrix jacobian;  // no columns: formed by differences
};

struct LmOutcome {
  Vec p, r;
  double ssr = kNaN;
  Matrix jacobian;             // at p, by differences when jacobian_fresh, else by secant updates
  bool jacobian_fresh = false;
  bool converged = false;
};

// Forward differences, stepping inwards at an upper bound.
bool jacobian_at(const ResidualFn& f, const LmSettings& s, const Vec& p, const Vec& r, Matrix& J) {
  const int m = int(p.size());
  J = Matrix(int(r.size()), m);
  Vec q = p, rq;
  for (int j = 0; j < m; ++j) {
    double h = s.fd_step;
    if (p[std::size_t(j)] + h > s.upper[std::size_t(j)]) h = -h;
    q[std::size_t(j)] = p[std::size_t(j)] + h;
    if (!f(q, rq)) return false;
    for (int i = 0; i < J.rows; ++i) J(i, j) = (rq[std::size_t(i)] - r[std::size_t(i)]) / h;
    q[std::size_t(j)] = p[std::size_t(j)];
  }
  return true;
}

// The damped step (J'J + lambda diag(J'J)) dp = -J'r with the parameters
// marked in `held` kept where they are.
bool solve_damped(const Matrix& J, const Vec& r, double lambda, const std::vector<bool>& held, Vec& dp) {
  const Matrix JtJ = normal_matrix(J);
  const int m = JtJ.rows;
  dp.assign(std::size_t(m), 0.0);
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < J.rows; ++i) dp[std::size_t(j)] -= J(i, j) * r[std::size_t(i)];
  Matrix A = JtJ;
  double dmax = 0;
  for (int j = 0; j < m; ++j) dmax = std::max(dmax, JtJ(j, j));
  for (int j = 0; j < m; ++j) A(j, j) += lambda * std::max(JtJ(j, j), 1e-12 * dmax);
  for (int j = 0; j < m; ++j) {
    if (!held[std::size_t(j)]) continue;
    for (int k = 0; k < m; ++k) A(j, k) = A(k, j) = 0.0;
    A(j, j) = 1.0;
    dp[std::size_t(j)] = 0.0;
  }
  return cholesky_solve(A, dp);
}

// The damped step, clipped to the bounds (see LmSettings::hold_at_bounds).
bool damped_step(const Matrix& J, const Vec& r, double lambda, const LmSettings& s, const Vec& p,
                 Vec& trial) {
  std::vector<bool> held(p.size(), false);
  Vec dp;
  for (std::size_t pass = 0; pass <= p.size(); ++pass) {
    if (!solve_damped(J, r, lambda, held, dp)) return false;
    bool again = false;
    for (std::size_t j = 0; j < p.size() && s.hold_at_bounds; ++j) {
      const bool outwards = (p[j] <= s.lower[j] && dp[j] < 0) || (p[j] >= s.upper[j] && dp[j] > 0);
      if (outwards && !held[j]) held[j] = again = true;
    }
    if (!again) break;
  }
  trial = p;
  for (std::size_t j = 0; j < p.size(); ++j)
    trial[j] = std::clamp(p[j] + dp[j], s.lower[j], s.upper[j]);
  return true;
}

// The sum of squares the linear model r + J (q - p) gives at q.
double predicted_sum_of_squares(const Matrix& J, const Vec& r, const Vec& p, const Vec& q) {
  double ssr = 0;
  for (int i = 0; i < J.rows; ++i) {
    double v = r[std::size_t(i)];
    for (int j = 0; j < J.cols; ++j) v += J(i, j) * (q[std::size_t(j)] - p[std::size_t(j)]);
    ssr += v * v;
  }
  return ssr;
}

double max_change(const Vec& a, const Vec& b) {
  double d = 0;
  for (std::size_t j = 0; j < a.size(); ++j) d = std::max(d, std::abs(a[j] - b[j]));
  return d;
}

// Broyden's secant update of J from the step p -> q and residuals r -> rq.
void secant_update(Matrix& J, const Vec& p, const Vec& q, const Vec& r, const Vec& rq) {
  Vec dp(p.size());
  double dd = 0;
  for (std::size_t j = 0; j < p.size(); ++j) {
    dp[j] = q[j] - p[j];
    dd += dp[j] * dp[j];
  }
  if (!(dd > 0)) return;
  for (int i = 0; i < J.rows; ++i) {
    double jd = 0;
    for (int j = 0; j < J.cols; ++j) jd += J(i, j) * dp[std::size_t(j)];
    const double c = (rq[std::size_t(i)] - r[std::size_t(i)] - jd) / dd;
    for (int j = 0; j < J.cols; ++j) J(i, j) += c * dp[std::size_t(j)];
  }
}

// Levenberg-Marquardt within box bounds. A Jacobian given at the start is
// carried by secant updates, and formed again by differences when its steps
// fail twice in a row or when it would decide convergence.
LmOutcome levenberg_marquardt(const ResidualFn& f, const LmStart& start, const LmSettings& s) {
  LmOutcome out;
  out.p = start.p;
  out.r = start.r;
  if (out.r.empty() && !f(out.p, out.r)) return out;
  out.ssr = sum_of_squares(out.r);
  const bool have_start_jacobian = start.jacobian.cols == int(out.p.size()) && start.jacobian.rows == int(out.r.size());
  if (have_start_jacobian) out.jacobian = start.jacobian;
  bool have_jacobian = have_start_jacobian;
  double lambda = 1e-3;
  int failures = 0;
  Vec trial, rt;
  auto refresh = [&] {
    if (!jacobian_at(f, s, out.p, out.r, out.jacobian)) return false;
    out.jacobian_fresh = true;
    have_jacobian = true;
    failures = 0;
    return true;
  };
  for (int it = 0; it < s.max_iterations; ++it) {
    if (!have_jacobian && !refresh()) return out;
    if (!damped_step(out.jacobian, out.r, lambda, s, out.p, trial)) {
      lambda *= 10.0;
      continue;
    }
    // A step too small to matter (or nothing left inside the bounds).
    if (max_change(trial, out.p) < s.step_tolerance) {
      if (out.jacobian_fresh || !s.verify_with_differences) {
        out.converged = true;
        return out;
      }
      if (!refresh()) return out;
      lambda = std::min(lambda, 1e-3);
      continue;
    }
    const bool evaluated = f(trial, rt);
    if (evaluated && sum_of_squares(rt) < out.ssr) {
      const double gain = 1.0 - sum_of_squares(rt) / out.ssr;
      const bool exact = out.jacobian_fresh;
      secant_update(out.jacobian, out.p, trial, out.r, rt);
      out.p = trial;
      out.r = rt;
      out.ssr = sum_of_squares(rt);
      out.jacobian_fresh = false;
      failures = 0;
      lambda = std::max(lambda / kLambdaDown, 1e-9);
      if (s.stop_at && s.stop_at(out.p)) return out;
      // Progress too slow to matter: a valley floor that the model's
      // rounding or the wrong depth makes flat.
      if (gain < s.stall_gain && (exact || !s.verify_with_differences)) {
        out.converged = true;
        return out;
      }
      if (gain < s.stall_gain && s.refresh_when_stalled && !refresh()) return out;
      continue;
    }
    if (evaluated) secant_update(out.jacobian, out.p, trial, out.r, rt);
    lambda *= 10.0;
    if (!out.jacobian_fresh && ++failures >= 2) {
      if (!refresh()) return out;
      lambda = 1e-3;
      continue;
    }
    // No descent even on a steepest-descent-sized step: the fit sits at
    // the level where the model's own rounding decides.
    if (lambda > 1e8 && (out.jacobian_fresh || !s.verify_with_differences)) {
      out.converged = true;
      return out;
    }
  }
  return out;
}

// ---- the engine on an in-memory problem -----------------------------------

engine::DeckProblem structure_problem(double h1, double h2, double h3,
                                      const std::array<double, 3>& moduli, double load,
                                      const Vec& offsets) {
  engine::DeckProblem p;
  // Without a stiff layer the subgrade is the half-space at the bottom.
  p.nlayer = std::isfinite(h3) ? 4 : 3;
  const std::array<double, 4> e{moduli[0], moduli[1], moduli[2], kStiffLayerModulus};
  const std::array<double, 4> h{h1, h2, std::isfinite(h3) ? h3 : 0.0, 0.0};
  for (int i = 0; i < p.nlayer; ++i) {
    p.emod[std::size_t(i)] = e[std::size_t(i)];
    p.pratio[std::size_t(i)] = kPoisson[std::size_t(i)];
    p.thick[std::size_t(i)] = h[std::size_t(i)];
    p.bond[std::size_t(i)] = 1.0;  // full bonding
  }
  p.nload = 1;
  p.press[0] = kPressurePerLoad * load;
  p.radius[0] = kPlateRadius;
  p.npoint = int(offsets.size());
  for (std::size_t k = 0; k < offsets.size(); ++k) {
    p.lpoint[k] = 1;
    p.xpoint[k] = offsets[k];
  }
  return p;
}

// The integration tolerances the deck reader gives every problem.
const engine::ProblemSet& reader_tolerances() {
  static const engine::ProblemSet set = [] {
    const float e = 1.0e5f;
    engine::DeckRequest request;
    request.e1 = request.e2 = request.e3 = &e;
    request.h1 = request.h2 = request.h3 = 1.0f;
    request.q = 1.0f;
    request.ncases = 1;
    engine::ProblemSet s;
    engine::read_deck_text(engine::write_deck_text(request), s);
    return s;
  }();
  return set;
}

// ---- the fit of one test ---------------------------------------------------

std::array<double, 3> from_log(const Vec& p) {
  return {std::exp(p[0]), std::exp(p[1]), std::exp(p[2])};
}

struct Candidate {
  int d = 0;                          // depth index 1..8
  double depth = 0;                   // in
  std::array<double, 3> seed{};       // start of the refinement (psi)
  double seed_error = kNaN;           // ranking error (percent)
  std::array<double, 3> design{};     // table search's moduli at this depth
  double design_error = kNaN;         // its engine fit error (percent)
  Vec design_residuals;
  bool at_table_edge = false;         // the polished seed sits on the table's grid bounds
  std::array<double, 3> start{};      // of the engine refinement
  Vec start_residuals;                // there; empty until chosen
};

struct Refined {
  LmOutcome lm;
  double depth = 0;
  int d = 0;
  bool depth_free = false;
};

class TestFit {
 public:
  TestFit(FitWorkspace& ws, const DeflectionTables& tables, const FitTest& test, const FitOptions& opt)
      : ws_(ws), tables_(tables), test_(test), opt_(opt) {}

  FitResult run();

 private:
  bool basin_is_fittable();
  bool legacy_layout() const;
  bool table_start_possible() const;
  bool table_basin();
  void ensure_surfaces();
  void table_candidates();
  bool table_search_at(Candidate& c, std::array<float, 2>& xopt);
  std::array<double, kTableSensors> surface_basin(double x1, double x2);
  void polish_at(Candidate& c, const std::array<float, 2>& xopt);
  void engine_candidates();
  Vec engine_residuals(const std::array<double, 3>& moduli, double depth, bool accurate = false);
  LmSettings settings(int nparams, int d) const;
  Refined refine(Candidate& c);
  void choose_start(Candidate& c);
  Refined finish_refinement(const Refined& best);
  Matrix surface_jacobian(int d, const std::array<double, 3>& e, const Vec& r);
  ResidualFn at_depth(double depth);
  Refined refine_depth(const Refined& start);
  void finish(const Refined& best);
  void keep_design_if_better(Refined& best);
  void polish_accurately(Refined& best);
  Vec relative_noise() const;
  double noise_level() const;
  bool global() const { return opt_.depth_mode == DepthMode::Global; }

  // The global search in depth.
  // A fit on the grid: x = (ln E1/E3, ln E2/E3, t), t the place among the
  // grid's depths (negative: no stiff layer); the subgrade from the scale.
  struct GridFit {
    Vec x;
    double e3 = kNaN;
    Vec r;
    double ssr = kNaN;
    Matrix jacobian;  // of the ratios' fit at x (direct search only)
  };
  ResidualFn grid_residuals(double t, double* e3);
  bool reference_basin(double u1, double u2, double t, Vec& w);
  LmSettings grid_settings(int nparams, double t_lo, double t_hi) const;
  GridFit grid_fit_at(double t, const std::vector<Vec>& starts, const Matrix& jacobian = {},
                      const std::vector<Vec>* known = nullptr);
  std::vector<GridFit> grid_profile(bool spread);
  Vec predicted_start(const std::vector<GridFit>& profile, int k) const;
  std::vector<GridFit> grid_valleys(const std::vector<GridFit>& profile);
  void polish_valleys(std::vector<GridFit> valleys, Refined& best);
  bool at_modulus_bound(const Refined& r) const;
  void refine_on_grid(GridFit& f);
  bool grid_jacobian(const Vec& p, Matrix& J);
  Refined polish_on_engine(const GridFit& f);
  Refined global_search();
  Refined candidate_search();

  FitWorkspace& ws_;
  const DeflectionTables& tables_;
  const FitTest& test_;
  const FitOptions& opt_;
  FitResult res_;
  std::vector<Candidate> cands_;
  bool table_start_ = false;  // the candidates come from the table's surfaces
  std::array<double, kTableSensors> dmeas_{};  // the measured basin at the table's sensors
  std::array<bool, kTableSensors> used_{};     // which of them it covers

  // Standard errors of the global search, over its profile in depth.
  struct DepthNode;
  void store_covariance(const Matrix& cov);
  void keep_profile(const std::vector<GridFit>& profile);
  std::vector<DepthNode> depth_nodes(const Refined& best, const Vec& noise);
  void profile_covariance(const Refined& best, const Matrix& J, const Vec& noise);
  GridFit answer_node(const Refined& best, double t) const;
  void flag_ill_determined();
  std::vector<GridFit> profile_;  // the best fit at each of the profile's depths (the half-space last)
  std::vector<GridFit> valleys_;  // the profile's valleys refined with the depth free
  bool direct_ = false;           // the search runs the engine itself, not the section's grid
};

bool TestFit::basin_is_fittable() {
  const auto& x = test_.offsets;
  const auto& w = test_.deflections;
  std::ostringstream why;
  if (x.size() != w.size()) {
    why << x.size() << " offsets but " << w.size() << " deflections";
  } else if (w.size() < 3) {
    why << "only " << w.size() << " sensors; three moduli need at least three";
  } else if (!(std::isfinite(test_.load) && test_.load > 0)) {
    why << "the load " << test_.load << " is not a positive number";
  } else if (!(std::isfinite(test_.h1) && test_.h1 > 0 && std::isfinite(test_.h2) && test_.h2 > 0)) {
    why << "the layer thicknesses " << test_.h1 << " and " << test_.h2 << " are not positive numbers";
  } else {
    for (std::size_t k = 0; k < w.size() && why.tellp() == 0; ++k) {
      if (!(std::isfinite(w[k]) && w[k] > 0))
        why << "deflection " << k + 1 << " (" << w[k] << ") is not a positive number";
      else if (!std::isfinite(x[k]) || x[k] < 0 || (k > 0 && !(x[k] > x[k - 1])))
        why << "offset " << k + 1 << " (" << x[k] << ") does not follow the previous one upwards";
    }
  }
  if (why.tellp() == 0) return true;
  res_.flags |= kFitNotFitted;
  res_.moduli = {kNaN, kNaN, kNaN};
  res_.depth = kNaN;
  res_.fit_error = kNaN;
  res_.message = "Test '" + test_.name + "' cannot be fitted: " + why.str() + ".";
  return false;
}

bool TestFit::legacy_layout() const {
  return std::equal(test_.offsets.begin(), test_.offsets.end(), kLegacyOffsets.begin(),
                    kLegacyOffsets.end());
}

// The table covers surface thicknesses 2..12 (thicker ones are rated as 12
// by the table search too) and base thicknesses 3..48.
bool TestFit::table_start_possible() const {
  return test_.h1 >= double(HACGRID.front()) && test_.h2 >= double(HBGRID.front()) &&
         test_.h2 <= double(HBGRID.back());
}

// The measured basin at the table's sensors: as measured for a legacy
// layout, otherwise interpolated linearly in the logarithm of the
// deflection between neighbouring sensors; offsets before the first sensor
// take the first two sensors' slope, those beyond the last one are left out.
bool TestFit::table_basin() {
  auto& dmeas = dmeas_;
  auto& used = used_;
  const auto& x = test_.offsets;
  const auto& w = test_.deflections;
  if (legacy_layout()) {
    for (int s = 0; s < kTableSensors; ++s) {
      dmeas[std::size_t(s)] = w[std::size_t(s)];
      used[std::size_t(s)] = true;
    }
    return true;
  }
  int count = 0;
  for (int s = 0; s < kTableSensors; ++s) {
    const double r = kLegacyOffsets[std::size_t(s)];
    used[std::size_t(s)] = r <= x.back();
    if (!used[std::size_t(s)]) continue;
    std::size_t k = 1;
    while (k + 1 < x.size() && x[k] < r) ++k;
    const double t = (r - x[k - 1]) / (x[k] - x[k - 1]);
    dmeas[std::size_t(s)] = std::exp((1.0 - t) * std::log(w[k - 1]) + t * std::log(w[k]));
    ++count;
  }
  return count >= 3;
}

void TestFit::ensure_surfaces() {
  const float h = std::min(float(test_.h1), HACGRID.back());
  const float b = float(test_.h2);
  if (ws_.surfaces_valid && h == ws_.surface_h && b == ws_.surface_b) return;
  Blocks& blocks = ws_.blocks.view;
  blocks.com3.KXORD = 3;
  blocks.com3.KYORD = 3;
  blocks.com3.NX = 1;
  blocks.com3.NY = 1;
  DeflectionTables work{tables_.dtab, std::vector<float>(tables_.dthk.size())};
  fit_thickness(work, h, b, blocks);
  fit_modulus_surfaces(work, blocks);
  ws_.surface_h = h;
  ws_.surface_b = b;
  ws_.surfaces_valid = true;
}

Vec TestFit::engine_residuals(const std::array<double, 3>& moduli, double depth, bool accurate) {
  // A start or step the engine cannot analyse is a failed evaluation, not
  // a stop of the program.
  for (double e : moduli)
    if (!(std::isfinite(e) && e > 0)) return Vec(test_.deflections.size(), kNaN);
  if (!(depth > 0)) return Vec(test_.deflections.size(), kNaN);
  const Vec w = engine_basin(*ws_.engine, test_.h1, test_.h2, depth, moduli, test_.load, test_.offsets,
                             &res_.engine_calls, accurate);
  Vec r(w.size());
  for (std::size_t k = 0; k < w.size(); ++k) r[k] = w[k] / test_.deflections[k] - 1.0;
  return r;
}

// Relative misfit of a surface basin c after the best common scale, which
// it returns in `scale` (measured = scale x surface).
double scaled_misfit(const std::array<double, kTableSensors>& c,
                     const std::array<double, kTableSensors>& m,
                     const std::array<bool, kTableSensors>& used, double& scale) {
  double sa = 0, sb = 0;
  for (int s = 0; s < kTableSensors; ++s) {
    if (!used[std::size_t(s)]) continue;
    const double v = c[std::size_t(s)] / m[std::size_t(s)];
    sa += v;
    sb += v * v;
  }
  scale = sa / sb;
  double f = 0;
  int n = 0;
  for (int s = 0; s < kTableSensors; ++s) {
    if (!used[std::size_t(s)]) continue;
    const double r = scale * c[std::size_t(s)] / m[std::size_t(s)] - 1.0;
    f += r * r;
    ++n;
  }
  return 100.0 * std::sqrt(f / n);
}

// The table search at candidate d exactly as the rating core runs it, its
// moduli scaled as it scales them; the optimum (table units) goes to xopt.
// False when it finds nothing the engine could analyse.
bool TestFit::table_search_at(Candidate& c, std::array<float, 2>& xopt) {
  Blocks& blocks = ws_.blocks.view;
  RatingContext& ctx = ws_.search;
  const Objective objective = [&ctx, &blocks](int n, const float* x, float& f) {
    basin_objective(ctx, blocks, n, x, f);
  };
  blocks.depth.IDEPTH = c.d;
  {
    const GatheredSurfaces gathered(ctx, blocks);
    grid_search(ctx, blocks, objective, {E1GRID.front(), E2GRID.front()}, {E1GRID.back(), E2GRID.back()});
  }
  if (!ctx.search.found) return false;
  xopt = ctx.search.xopt;
  float dfit[8] = {};
  evaluate_basin(blocks, xopt.data(), dfit);
  float sa = 0.0f, sb = 0.0f;
  for (int s = 0; s < kTableSensors; ++s) {
    if (!used_[std::size_t(s)]) continue;
    sa = sa + dfit[s] * dfit[s];
    sb = sb + blocks.dd.DMEAS[s] * dfit[s];
  }
  const float r = sa / sb;
  const float loadf = float(test_.load) / kRefLoad;
  const std::array<float, 3> e{r * xopt[0] * 1000.0f * loadf, r * xopt[1] * 1000.0f * loadf,
                               r * kRefSubgradeModulus * loadf};
  if (!(analysable_modulus(e[0]) && analysable_modulus(e[1]) && analysable_modulus(e[2]))) return false;
  c.design = {double(e[0]), double(e[1]), double(e[2])};
  c.design_residuals = engine_residuals(c.design, c.depth);
  c.design_error = rms_percent(c.design_residuals);
  return true;
}

std::array<double, kTableSensors> TestFit::surface_basin(double x1, double x2) {
  std::array<double, kTableSensors> cb{};
  for (int s = 0; s < kTableSensors; ++s)
    if (used_[std::size_t(s)])
      cb[std::size_t(s)] = double(evaluate_surface(ws_.blocks.view, float(x1), float(x2), s + 1));
  return cb;
}

// The search's optimum polished on the same surfaces by Levenberg-Marquardt
// in the logarithms of the two table moduli, free of the search's cells
// (bounded by the table's grid only), with the common scale to the
// measured basin solved for at every point: the candidate's seed and its
// ranking error.
void TestFit::polish_at(Candidate& c, const std::array<float, 2>& xopt) {
  const ResidualFn surf = [&](const Vec& p, Vec& res) {
    const auto cb = surface_basin(std::exp(p[0]), std::exp(p[1]));
    double scale = 0;
    scaled_misfit(cb, dmeas_, used_, scale);
    res.clear();
    for (int s = 0; s < kTableSensors; ++s)
      if (used_[std::size_t(s)]) res.push_back(scale * cb[std::size_t(s)] / dmeas_[std::size_t(s)] - 1.0);
    return std::all_of(res.begin(), res.end(), [](double v) { return std::isfinite(v); });
  };
  LmSettings s;
  s.lower = {std::log(double(E1GRID.front())), std::log(double(E2GRID.front()))};
  s.upper = {std::log(double(E1GRID.back())), std::log(double(E2GRID.back()))};
  s.max_iterations = 40;
  s.step_tolerance = 1e-5;
  s.fd_step = 1e-3;  // the surfaces are evaluated in 4-byte floats
  ws_.blocks.view.depth.IDEPTH = c.d;
  const LmOutcome lm = levenberg_marquardt(surf, {{std::log(double(xopt[0])), std::log(double(xopt[1]))}, {}, {}}, s);
  if (!std::isfinite(lm.ssr)) return;
  const double x1 = std::exp(lm.p[0]), x2 = std::exp(lm.p[1]);
  for (int j = 0; j < 2; ++j)
    c.at_table_edge = c.at_table_edge || std::abs(lm.p[std::size_t(j)] - s.lower[std::size_t(j)]) < 1e-6 ||
                      std::abs(lm.p[std::size_t(j)] - s.upper[std::size_t(j)]) < 1e-6;
  double scale = 0;
  c.seed_error = scaled_misfit(surface_basin(x1, x2), dmeas_, used_, scale);
  const double k = test_.load / double(kRefLoad) / scale;  // moduli factor from the table's structure
  c.seed = {k * x1 * 1000.0, k * x2 * 1000.0, k * double(kRefSubgradeModulus)};
}

void TestFit::table_candidates() {
  ensure_surfaces();
  table_start_ = true;
  Blocks& blocks = ws_.blocks.view;
  for (int s = 0; s < 8; ++s) {
    const bool on = s < kTableSensors && used_[std::size_t(s)];
    blocks.com3.WEIGHT[s] = on ? 1.0f : 0.0f;
    blocks.dd.DMEAS[s] = on ? float(dmeas_[std::size_t(s)]) : 0.0f;
  }
  for (int d = 1; d <= kCandidates; ++d) {
    Candidate c;
    c.d = d;
    c.depth = candidate_depth(d);
    std::array<float, 2> xopt{};
    if (!table_search_at(c, xopt)) continue;
    polish_at(c, xopt);
    if (std::isfinite(c.seed_error)) cands_.push_back(c);
  }
}

// Without the table: one start per candidate, a typical structure scaled
// to the measured magnitude and refined for a few steps on the engine,
// ranked by the engine's fit error.
void TestFit::engine_candidates() {
  res_.flags |= kFitNoTableStart;
  for (int d = 1; d <= kCandidates; ++d) {
    Candidate c;
    c.d = d;
    c.depth = candidate_depth(d);
    std::array<double, 3> e{500.0e3, 40.0e3, 10.0e3};
    const Vec r = engine_residuals(e, c.depth);
    // computed = (1 + r) measured: stiffen by the mean ratio.
    double sa = 0, sb = 0;
    for (double v : r) {
      sa += (1.0 + v);
      sb += (1.0 + v) * (1.0 + v);
    }
    const double k = sb / sa;
    for (double& m : e) m *= k;
    // A short refinement per candidate, so that the candidates are ranked
    // by what they can fit rather than by the typical structure.
    LmSettings s = settings(3, d);
    s.max_iterations = 8;
    s.verify_with_differences = false;
    const LmOutcome lm = levenberg_marquardt(at_depth(c.depth), {{std::log(e[0]), std::log(e[1]), std::log(e[2])}, {}, {}}, s);
    if (!std::isfinite(lm.ssr)) continue;
    c.seed = from_log(lm.p);
    c.seed_error = rms_percent(lm.r);
    cands_.push_back(c);
  }
}

LmSettings TestFit::settings(int nparams, int d) const {
  LmSettings s;
  for (int j = 0; j < 3; ++j) {
    s.lower.push_back(std::log(opt_.bounds.lower[std::size_t(j)]));
    s.upper.push_back(std::log(opt_.bounds.upper[std::size_t(j)]));
  }
  if (nparams == 4 && global()) {
    s.lower.push_back(std::log(opt_.min_depth));
    s.upper.push_back(std::log(candidate_depth(kCandidates)));
  } else if (nparams == 4) {
    s.lower.push_back(std::log(candidate_depth(std::max(d - 1, 1))));
    s.upper.push_back(std::log(candidate_depth(std::min(d + 1, kCandidates))));
  }
  s.max_iterations = opt_.max_iterations;
  s.step_tolerance = opt_.step_tolerance;
  s.fd_step = opt_.log_step;
  return s;
}

// The Jacobian of the relative residuals in the logarithms of the three
// moduli as the table's surfaces give it: the deflections are homogeneous
// of degree -1 in the moduli (the stiff layer aside), so with x = 10 E / E3
// (thousands) d ln w / d ln(E1, E2, E3) = (g1, g2, -1 - g1 - g2), where g
// are the surfaces' logarithmic slopes. Only for the table's own sensors
// and moduli inside its grid; otherwise no columns.
Matrix TestFit::surface_jacobian(int d, const std::array<double, 3>& e, const Vec& r) {
  if (!legacy_layout() || !table_start_) return {};
  // The table's structure with the same ratios: subgrade at the reference
  // modulus, the others in thousands.
  const double x1 = double(kRefSubgradeModulus) / 1000.0 * e[0] / e[2];
  const double x2 = double(kRefSubgradeModulus) / 1000.0 * e[1] / e[2];
  const double h = 1e-3;
  if (!(x1 >= double(E1GRID.front()) && x1 * std::exp(h) <= double(E1GRID.back()) &&
        x2 >= double(E2GRID.front()) && x2 * std::exp(h) <= double(E2GRID.back())))
    return {};
  Blocks& blocks = ws_.blocks.view;
  blocks.depth.IDEPTH = d;
  Matrix J(kTableSensors, 3);
  for (int s = 0; s < kTableSensors; ++s) {
    const double c = double(evaluate_surface(blocks, float(x1), float(x2), s + 1));
    const double c1 = double(evaluate_surface(blocks, float(x1 * std::exp(h)), float(x2), s + 1));
    const double c2 = double(evaluate_surface(blocks, float(x1), float(x2 * std::exp(h)), s + 1));
    const double g1 = std::log(c1 / c) / h, g2 = std::log(c2 / c) / h;
    const double w = 1.0 + r[std::size_t(s)];
    J(s, 0) = w * g1;
    J(s, 1) = w * g2;
    J(s, 2) = w * (-1.0 - g1 - g2);
  }
  return J;
}

ResidualFn TestFit::at_depth(double depth) {
  return [this, depth](const Vec& p, Vec& r) {
    r = engine_residuals(from_log(p), depth);
    return std::all_of(r.begin(), r.end(), [](double v) { return std::isfinite(v); });
  };
}

// The start of a candidate's refinement: the better on the engine of the
// polished seed and the table search's own answer, so that the refinement
// can only improve on the latter.
void TestFit::choose_start(Candidate& c) {
  if (!c.start_residuals.empty()) return;
  c.start = c.seed;
  for (int j = 0; j < 3; ++j)
    c.start[std::size_t(j)] = std::clamp(c.start[std::size_t(j)], opt_.bounds.lower[std::size_t(j)],
                                         opt_.bounds.upper[std::size_t(j)]);
  c.start_residuals = engine_residuals(c.start, c.depth);
  if (!std::isfinite(c.design_error)) return;
  bool design_inside = true;
  for (int j = 0; j < 3; ++j)
    design_inside = design_inside && c.design[std::size_t(j)] >= opt_.bounds.lower[std::size_t(j)] &&
                    c.design[std::size_t(j)] <= opt_.bounds.upper[std::size_t(j)];
  if (design_inside && !(rms_percent(c.start_residuals) <= c.design_error)) {
    c.start = c.design;
    c.start_residuals = c.design_residuals;
  }
}

Refined TestFit::refine(Candidate& c) {
  choose_start(c);
  const std::array<double, 3>& start = c.start;
  const Vec& r = c.start_residuals;
  LmSettings s = settings(3, c.d);
  s.verify_with_differences = false;  // the winner is verified in finish_refinement
  const Vec p0{std::log(start[0]), std::log(start[1]), std::log(start[2])};
  Refined out;
  out.lm = levenberg_marquardt(at_depth(c.depth), {p0, r, surface_jacobian(c.d, start, r)}, s);
  out.depth = c.depth;
  out.d = c.d;
  return out;
}

// The winner's iteration carried on until a Jacobian by differences
// confirms it (and gives the standard errors).
Refined TestFit::finish_refinement(const Refined& best) {
  Refined out = best;
  out.lm = levenberg_marquardt(at_depth(best.depth), {best.lm.p, best.lm.r, best.lm.jacobian}, settings(3, best.d));
  if (!(out.lm.ssr <= best.lm.ssr)) return best;
  return out;
}

Refined TestFit::refine_depth(const Refined& start) {
  const ResidualFn f = [&](const Vec& p, Vec& r) {
    r = engine_residuals(from_log(p), std::exp(p[3]));
    return std::all_of(r.begin(), r.end(), [](double v) { return std::isfinite(v); });
  };
  Vec p0 = start.lm.p;
  p0.push_back(std::log(start.depth));
  Refined out;
  out.lm = levenberg_marquardt(f, {p0, {}, {}}, settings(4, start.d));
  out.depth = std::exp(out.lm.p[3]);
  out.d = start.d;
  out.depth_free = true;
  // The four-parameter problem starts where the three-parameter one ended;
  // a failed evaluation keeps that.
  if (!(out.lm.ssr <= start.lm.ssr)) return start;
  return out;
}

// The table search's answer over all candidates: the smallest engine fit
// error, the earlier candidate on a tie (as the rating core chooses).
void TestFit::keep_design_if_better(Refined& best) {
  const Candidate* design = nullptr;
  for (const Candidate& c : cands_)
    if (std::isfinite(c.design_error) && (design == nullptr || c.design_error < design->design_error)) design = &c;
  if (design == nullptr) {
    res_.design.moduli = {kNaN, kNaN, kNaN};
    res_.design.fit_error = kNaN;
    return;
  }
  res_.design = {design->design, design->depth, design->d, design->design_error};
  if (std::isfinite(best.lm.ssr) && rms_percent(best.lm.r) <= design->design_error) return;
  // Never worse than the table search: its answer stands (outside the
  // physical bounds it is kept as it is).
  best.lm.p = {std::log(design->design[0]), std::log(design->design[1]), std::log(design->design[2])};
  best.lm.r = design->design_residuals;
  best.lm.ssr = sum_of_squares(best.lm.r);
  best.lm.jacobian_fresh = false;
  best.lm.converged = true;
  best.depth = design->depth;
  best.d = design->d;
  best.depth_free = false;
}

void TestFit::finish(const Refined& best) {
  res_.moduli = from_log(best.lm.p);
  res_.depth = best.depth;
  res_.depth_index = best.d;
  res_.residuals = best.lm.r;
  res_.fit_error = rms_percent(best.lm.r);
  if (!best.lm.converged) res_.flags |= kFitNotConverged;

  const int m = best.depth_free ? 4 : 3;
  const LmSettings s = settings(m, best.d);
  // The global search's depth range is a search range, not a bound: a
  // stiff layer beyond it is the half-space's answer.
  const int bounded = global() ? 3 : m;
  for (int j = 0; j < bounded; ++j) {
    const double p = best.lm.p[std::size_t(j)];
    if (std::abs(p - s.lower[std::size_t(j)]) < 1e-9 || std::abs(p - s.upper[std::size_t(j)]) < 1e-9 ||
        p < s.lower[std::size_t(j)] || p > s.upper[std::size_t(j)])
      res_.flags |= kFitAtBound;
  }

  // Standard errors from the Jacobian at the answer (the noise model's
  // sandwich covariance in log units, see fit.h).
  Matrix J = best.lm.jacobian;
  if (!best.lm.jacobian_fresh) {
    const ResidualFn f = [&](const Vec& p, Vec& r) {
      r = engine_residuals(from_log(p), best.depth_free ? std::exp(p[3]) : best.depth);
      return std::all_of(r.begin(), r.end(), [](double v) { return std::isfinite(v); });
    };
    if (!jacobian_at(f, s, best.lm.p, best.lm.r, J)) J = Matrix();
  }
  const int n = int(best.lm.r.size());
  const Vec noise = relative_noise();
  res_.chi_square = 0;
  for (int i = 0; i < n; ++i) res_.chi_square += std::pow(best.lm.r[std::size_t(i)] / noise[std::size_t(i)], 2);
  if (res_.chi_square > kAboveNoiseChiSquare * n) res_.flags |= kFitAboveNoise;
  res_.relative_std_error = {kNaN, kNaN, kNaN};
  Matrix cov;
  if (J.cols == m && noise_covariance(J, noise, cov)) {
    store_covariance(cov);
    if (global() && !profile_.empty()) {
      // The nodes around the answer may reach grid nodes not run yet.
      const int runs_before = ws_.grid.engine_runs();
      profile_covariance(best, J, noise);
      res_.grid_engine_calls += ws_.grid.engine_runs() - runs_before;
    }
  }
  flag_ill_determined();
}

// The covariance in the logarithms of the moduli (and of a fitted depth)
// and the standard errors it gives.
void TestFit::store_covariance(const Matrix& cov) {
  res_.log_covariance = {};
  for (int j = 0; j < cov.rows; ++j)
    for (int k = 0; k < cov.cols; ++k) res_.log_covariance[std::size_t(j)][std::size_t(k)] = cov(j, k);
  for (int j = 0; j < 3; ++j) res_.relative_std_error[std::size_t(j)] = std::sqrt(cov(j, j));
  res_.depth_relative_std_error = cov.rows == 4 && std::isfinite(res_.depth) ? std::sqrt(cov(3, 3)) : 0.0;
}

// A modulus the basin does not determine: its standard error above
// ill_conditioned_error, or none at all (the Jacobian singular).
void TestFit::flag_ill_determined() {
  static const char* const names[3] = {"surface", "base", "subgrade"};
  int worst = -1;
  for (int j = 0; j < 3; ++j) {
    const double e = res_.relative_std_error[std::size_t(j)];
    if (!(e <= opt_.ill_conditioned_error) &&
        (worst < 0 || !(e <= res_.relative_std_error[std::size_t(worst)])))
      worst = j;
  }
  if (worst < 0) return;
  res_.flags |= kFitIllConditioned;
  if (!res_.message.empty()) return;
  std::ostringstream why;
  why << "Test '" << test_.name << "': the basin does not determine the " << names[worst] << " modulus (";
  if (std::isfinite(res_.relative_std_error[std::size_t(worst)]))
    why << "standard error " << std::lround(100.0 * res_.relative_std_error[std::size_t(worst)]) << " %";
  else
    why << "no standard error";
  why << ", above " << std::lround(100.0 * opt_.ill_conditioned_error) << " %).";
  res_.message = why.str();
}

// The relative noise of each reading: its standard deviation over it.
Vec TestFit::relative_noise() const {
  Vec v(test_.deflections.size());
  for (std::size_t i = 0; i < v.size(); ++i)
    v[i] = (opt_.noise.absolute + opt_.noise.relative * test_.deflections[i]) / test_.deflections[i];
  return v;
}

// ---- the global search in depth --------------------------------------------
//
// On the section's basin grid (rating/basin_grid.h): a profile of fits of
// the two modulus ratios at every depth of the grid and without a stiff
// layer (the subgrade scaled to the measured basin in closed form at each
// point), its valleys refined with the depth free between their
// neighbours, and the best polished on the engine itself with the grid's
// derivatives.

constexpr int kProfileDepths = 14;          // finite depths of the profile, geometric
constexpr int kValleysRefined = 3;          // at most, best first
// A section of fewer tests than this is searched on the engine directly:
// its grid's nodes (some 400 engine runs) would not be shared widely
// enough. Measured: two tests take 49 ms each directly, 57 on the grid;
// three 47 and 43.
constexpr int kGridWorthTests = 3;
constexpr double kStartsMerged = 0.05;       // ln ratio: two starts this close are one
constexpr int kCarriedFitIterations = 10;   // of a fit carried from depth to depth in the direct search
constexpr double kDirectStep = 1e-3;        // of the differences in the direct search (log units)
constexpr int kPolishSteps = 12;            // engine runs of the polish at most (after the first)
constexpr double kPolishSettled = 1.0e-6;   // a step moving no logarithm by more ends the polish
constexpr double kPolishStalled = 1.0e-3;
// The grid's forecast of the misfit counts once the engine's last change
// came within this share of it.
constexpr double kPolishForetold = 0.25;

// Where the profile starts at every depth besides its neighbour's and the
// previous test's answers: ratios E1/E3 and E2/E3 spread over pavements.
constexpr std::array<std::array<double, 2>, 3> kSpreadRatios{{{50.0, 4.0}, {200.0, 10.0}, {20.0, 1.5}}};

std::vector<double> profile_depths(double shallowest, double deepest) {
  std::vector<double> d(kProfileDepths);
  const double step = std::log(deepest / shallowest) / double(kProfileDepths - 1);
  for (int k = 0; k < kProfileDepths; ++k) d[std::size_t(k)] = shallowest * std::exp(step * k);
  d.back() = deepest;
  return d;
}

// Residuals on the grid at the ratios p[0], p[1] and the depth place
// p[2] when given, else t; the subgrade the scale gives goes to *e3.
ResidualFn TestFit::grid_residuals(double t, double* e3) {
  return [this, t, e3](const Vec& p, Vec& r) {
    Vec w;
    if (!reference_basin(p[0], p[1], p.size() > 2 ? p[2] : t, w)) return false;
    const double f = test_.load / BasinGrid::kReferenceLoad;
    double sa = 0, sb = 0;
    r.resize(w.size());
    for (std::size_t i = 0; i < w.size(); ++i) {
      r[i] = f * w[i] / test_.deflections[i];
      sa += r[i];
      sb += r[i] * r[i];
    }
    const double s = sa / sb;  // = reference subgrade / subgrade
    for (double& v : r) v = s * v - 1.0;
    if (e3 != nullptr) *e3 = BasinGrid::kReferenceSubgrade / s;
    return std::isfinite(s) && s > 0;
  };
}

// The basin at the reference load and subgrade: the grid's interpolation,
// or with direct_ the engine's own (a node of the grid where (u1, u2, t)
// lies on one).
bool TestFit::reference_basin(double u1, double u2, double t, Vec& w) {
  if (!direct_) return ws_.grid.basin(*ws_.engine, u1, u2, t, w);
  const double e3 = BasinGrid::kReferenceSubgrade;
  const double depth = t < 0 ? kNoStiffLayer : opt_.min_depth * std::exp(t * ws_.grid.depth_step());
  w = engine_basin(*ws_.engine, test_.h1, test_.h2, depth, {std::exp(u1) * e3, std::exp(u2) * e3, e3},
                   BasinGrid::kReferenceLoad, test_.offsets, &res_.engine_calls);
  return std::all_of(w.begin(), w.end(), [](double v) { return std::isfinite(v); });
}

LmSettings TestFit::grid_settings(int nparams, double t_lo, double t_hi) const {
  const auto& lo = opt_.bounds.lower;
  const auto& hi = opt_.bounds.upper;
  LmSettings s;
  s.lower = {std::log(lo[0] / hi[2]), std::log(lo[1] / hi[2])};
  s.upper = {std::log(hi[0] / lo[2]), std::log(hi[1] / lo[2])};
  if (nparams == 3) {
    s.lower.push_back(t_lo);
    s.upper.push_back(t_hi);
  }
  s.max_iterations = opt_.max_iterations;
  s.step_tolerance = 1e-6;
  // The engine's integration rounds at about 1e-5: its differences need a
  // wider step than the grid's polynomials.
  s.fd_step = direct_ ? kDirectStep : 1e-4;
  s.verify_with_differences = false;
  return s;
}

// The best of fits of the ratios at depth place t from each start.
// A Jacobian given (a neighbouring depth's, in the direct search) starts
// each fit in place of one by differences; a fit that reaches one of the
// `known` answers stops there.
bool same(const Vec& a, const Vec& b) {
  return std::abs(a[0] - b[0]) < kStartsMerged && std::abs(a[1] - b[1]) < kStartsMerged;
}

TestFit::GridFit TestFit::grid_fit_at(double t, const std::vector<Vec>& starts, const Matrix& jacobian,
                                      const std::vector<Vec>* known) {
  LmSettings s = grid_settings(2, 0, 0);
  if (known != nullptr)
    s.stop_at = [known](const Vec& p) {
      return std::any_of(known->begin(), known->end(), [&](const Vec& k) { return same(p, k); });
    };
  // A fit carried on from a neighbouring depth may crawl on the engine for
  // dozens of runs to a misfit the profile does not need exactly: a valley
  // there is refined with the depth free all the same.
  if (direct_ && jacobian.cols > 0) s.max_iterations = kCarriedFitIterations;
  GridFit best;
  for (const Vec& u : starts) {
    Vec p{std::clamp(u[0], s.lower[0], s.upper[0]), std::clamp(u[1], s.lower[1], s.upper[1])};
    const LmOutcome lm = levenberg_marquardt(grid_residuals(t, nullptr), {p, {}, jacobian}, s);
    if (!std::isfinite(lm.ssr) || best.ssr <= lm.ssr) continue;
    best.x = {lm.p[0], lm.p[1], t};
    best.r = lm.r;
    best.ssr = lm.ssr;
    if (direct_) best.jacobian = lm.jacobian;
  }
  if (std::isfinite(best.ssr)) {
    Vec r;
    grid_residuals(t, &best.e3)(best.x, r);
  }
  return best;
}

// Spread starts that ended where the profile's fit or an earlier start
// did: they would follow the same path from depth to depth. On the grid
// that path's nodes are run once whoever takes it; on the engine each
// taker pays for every step.
void drop_merged_starts(const Vec& fit, std::vector<Vec>& starts) {
  std::vector<Vec> kept;
  for (const Vec& s : starts)
    if (!same(s, fit) && std::none_of(kept.begin(), kept.end(), [&](const Vec& k) { return same(s, k); }))
      kept.push_back(s);
  starts = std::move(kept);
}

// The ratios at depth k carried on from the two deeper depths' answers
// along their line (the answers move smoothly with the depth), or the
// deeper one's alone next to the half-space.
Vec TestFit::predicted_start(const std::vector<GridFit>& profile, int k) const {
  const GridFit& a = profile[std::size_t(k + 1)];
  if (k + 2 >= ws_.grid.depth_count() || !std::isfinite(profile[std::size_t(k + 2)].ssr)) return {a.x[0], a.x[1]};
  const GridFit& b = profile[std::size_t(k + 2)];
  return {2 * a.x[0] - b.x[0], 2 * a.x[1] - b.x[1]};
}

// Fits at every depth of the grid and without a stiff layer (the last),
// from the half-space up, each started from its deeper neighbour's answer
// and the previous test's answer there, or the spread ratios.
std::vector<TestFit::GridFit> TestFit::grid_profile(bool spread) {
  const int nd = ws_.grid.depth_count();
  std::vector<GridFit> profile(std::size_t(nd + 1));
  if (ws_.warm.size() != profile.size()) ws_.warm.assign(profile.size(), {});
  const double noise = noise_level();
  // Each spread start is carried from depth to depth as the neighbour's
  // answer is: from where it ended at the last depth that took it.
  std::vector<Vec> spread_starts;
  for (const auto& ratio : kSpreadRatios) spread_starts.push_back({std::log(ratio[0]), std::log(ratio[1])});
  for (int k = nd; k >= 0; --k) {
    const double t = k == nd ? -1.0 : double(k);
    std::vector<Vec> starts;
    const GridFit* deeper = k < nd && std::isfinite(profile[std::size_t(k + 1)].ssr) ? &profile[std::size_t(k + 1)] : nullptr;
    if (deeper != nullptr) starts.push_back(direct_ ? predicted_start(profile, k) : deeper->x);
    if (!ws_.warm[std::size_t(k)].empty()) starts.push_back(ws_.warm[std::size_t(k)]);
    GridFit fit = starts.empty() ? GridFit{} : grid_fit_at(t, starts, deeper != nullptr ? deeper->jacobian : Matrix{});
    // The spread starts reach far over the grid, and each node they reach
    // costs an engine run: they are taken where the section has no answer
    // yet and the neighbour's does not fit this test within the noise, or
    // when the answers near the section's others do not fit this test.
    // On the engine a spread start that reaches an answer found already
    // stops there, and is dropped.
    std::vector<Vec> found;
    if (std::isfinite(fit.ssr)) found.push_back(fit.x);
    if (spread || (ws_.warm[std::size_t(k)].empty() && !(fit.ssr <= noise)))
      for (Vec& start : spread_starts) {
        GridFit other = grid_fit_at(t, {start}, {}, direct_ ? &found : nullptr);
        if (!std::isfinite(other.ssr)) continue;
        found.push_back(other.x);
        start = {other.x[0], other.x[1]};
        if (other.ssr < fit.ssr || !std::isfinite(fit.ssr)) fit = std::move(other);
      }
    if (direct_ && std::isfinite(fit.ssr)) drop_merged_starts(fit.x, spread_starts);
    profile[std::size_t(k)] = std::move(fit);
    if (std::isfinite(profile[std::size_t(k)].ssr)) ws_.warm[std::size_t(k)] = profile[std::size_t(k)].x;
  }
  keep_profile(profile);
  return profile;
}

// The sum of squares of relative residuals that the noise model expects
// of a basin fitted as well as its readings allow.
double TestFit::noise_level() const {
  double level = 0;
  for (double v : relative_noise()) level += v * v;
  return level;
}

// A valley of the profile with the depth free between its neighbours.
void TestFit::refine_on_grid(GridFit& f) {
  if (f.x[2] < 0) return;  // no stiff layer: nothing to free
  const double last = double(ws_.grid.depth_count() - 1);
  const LmSettings s = grid_settings(3, std::max(0.0, f.x[2] - 1.0), std::min(last, f.x[2] + 1.0));
  const LmOutcome lm = levenberg_marquardt(grid_residuals(0, nullptr), {f.x, {}, {}}, s);
  if (!(lm.ssr < f.ssr)) return;
  f.x = lm.p;
  f.r = lm.r;
  f.ssr = lm.ssr;
  grid_residuals(0, &f.e3)(f.x, f.r);
}

// The Jacobian of the engine's relative residuals in the logarithms of the
// moduli (and depth) as the grid gives it: the basin is load / E3 times the
// grid's reference basin at the ratios, so d/d ln E3 = -w - d/d ln E1 - d/d ln E2.
bool TestFit::grid_jacobian(const Vec& p, Matrix& J) {
  const bool finite = p.size() > 3;
  const double t = finite ? (p[3] - std::log(opt_.min_depth)) / ws_.grid.depth_step() : -1.0;
  Vec w;
  std::vector<std::array<double, 3>> g;
  if (!ws_.grid.basin(*ws_.engine, p[0] - p[2], p[1] - p[2], t, w, g)) return false;
  const double s = test_.load / BasinGrid::kReferenceLoad * BasinGrid::kReferenceSubgrade / std::exp(p[2]);
  J = Matrix(int(w.size()), int(p.size()));
  for (int i = 0; i < J.rows; ++i) {
    const double m = test_.deflections[std::size_t(i)];
    J(i, 0) = s * g[std::size_t(i)][0] / m;
    J(i, 1) = s * g[std::size_t(i)][1] / m;
    J(i, 2) = -s * w[std::size_t(i)] / m - J(i, 0) - J(i, 1);
    if (finite) J(i, 3) = s * g[std::size_t(i)][2] / m;
  }
  return true;
}

// The grid's answer carried to the engine's own: damped Gauss-Newton steps
// on the engine's residuals with the grid's derivatives, one engine run
// each, until a step no longer moves the answer or the misfit.
Refined TestFit::polish_on_engine(const GridFit& f) {
  const bool finite = f.x[2] >= 0;
  const int m = finite ? 4 : 3;
  LmSettings s = settings(m, 0);
  s.hold_at_bounds = true;
  Vec p{std::log(f.e3) + f.x[0], std::log(f.e3) + f.x[1], std::log(f.e3)};
  if (finite) p.push_back(std::log(opt_.min_depth) + f.x[2] * ws_.grid.depth_step());
  for (int j = 0; j < m; ++j) p[std::size_t(j)] = std::clamp(p[std::size_t(j)], s.lower[std::size_t(j)], s.upper[std::size_t(j)]);
  auto engine_at = [&](const Vec& q) {
    return engine_residuals(from_log(q), finite ? std::exp(q[3]) : kNoStiffLayer);
  };
  Refined out;
  out.depth_free = finite;
  LmOutcome& lm = out.lm;
  lm.p = p;
  lm.r = engine_at(p);
  lm.ssr = sum_of_squares(lm.r);
  if (!std::isfinite(lm.ssr)) return out;
  double lambda = 1e-6;
  double foretold = kNaN;  // the engine's last change of the misfit over the grid's forecast
  Vec trial;
  for (int it = 0; it < kPolishSteps && !lm.converged && !direct_; ++it) {
    if (!grid_jacobian(lm.p, lm.jacobian) || !damped_step(lm.jacobian, lm.r, lambda, s, lm.p, trial)) break;
    // A step too small to matter is not run, nor one that the grid's
    // derivatives say would lower the misfit by less than a stalled step
    // does, once they have foretold the engine's last step well.
    const double predicted = predicted_sum_of_squares(lm.jacobian, lm.r, lm.p, trial);
    if (max_change(trial, lm.p) < kPolishSettled ||
        (std::abs(foretold - 1.0) < kPolishForetold && predicted <= lm.ssr &&
         1.0 - predicted / lm.ssr < kPolishStalled)) {
      lm.converged = true;
      break;
    }
    Vec rt = engine_at(trial);
    const double ssr = sum_of_squares(rt);
    foretold = (lm.ssr - ssr) / (lm.ssr - predicted);
    if (ssr < lm.ssr) {
      lm.converged = 1.0 - ssr / lm.ssr < kPolishStalled;
      lm.p = trial;
      lm.r = std::move(rt);
      lm.ssr = ssr;
      lambda = std::max(lambda / 10.0, 1e-9);
    } else {
      lambda *= 10.0;
      lm.converged = lambda > 1e3;  // no descent left along the grid's directions
    }
  }
  if (lm.converged) {
    lm.jacobian_fresh = grid_jacobian(lm.p, lm.jacobian);
  } else {
    // Where the grid's derivatives lead too slowly (a stiff layer close
    // under a thin base), the engine's own by differences finish the work.
    const ResidualFn f = [&](const Vec& q, Vec& r) {
      r = engine_at(q);
      return std::all_of(r.begin(), r.end(), [](double v) { return std::isfinite(v); });
    };
    LmSettings stalled = s;
    stalled.refresh_when_stalled = true;
    LmOutcome fd = levenberg_marquardt(f, {lm.p, lm.r, {}}, stalled);
    if (fd.ssr <= lm.ssr) lm = std::move(fd);
  }
  out.depth = finite ? std::exp(lm.p[3]) : kNoStiffLayer;
  return out;
}

// The profile from the section's earlier answers, again from the spread
// starts when no valley fits within the noise; the valleys polished on the
// engine.
Refined TestFit::global_search() {
  ws_.grid.use_section(test_.h1, test_.h2, test_.offsets,
                       profile_depths(opt_.min_depth, candidate_depth(kCandidates)));
  direct_ = opt_.section_tests > 0 && opt_.section_tests < kGridWorthTests;
  const int runs_before = ws_.grid.engine_runs();
  const double noise = noise_level();
  Refined best;
  // Without the section's earlier answers the first profile takes the
  // spread starts wherever its neighbours' answers fall short already; on
  // the engine a second pass from the same starts would run the same fits.
  const bool answers_before =
      std::any_of(ws_.warm.begin(), ws_.warm.end(), [](const Vec& x) { return !x.empty(); });
  bool spread = false;
  std::vector<GridFit> valleys = grid_valleys(grid_profile(spread));
  if ((valleys.empty() || valleys.front().ssr > noise) && (answers_before || !direct_)) {
    spread = true;
    for (GridFit& v : grid_valleys(grid_profile(spread))) valleys.push_back(std::move(v));
  }
  polish_valleys(valleys, best);
  // An answer held at a bound or left unconverged sits in a valley the
  // section's earlier answers led to: the spread starts get their turn.
  if (!spread && (answers_before || !direct_) && (!best.lm.converged || at_modulus_bound(best)))
    polish_valleys(grid_valleys(grid_profile(true)), best);
  res_.grid_engine_calls = ws_.grid.engine_runs() - runs_before;
  return best;
}

// The best valley polished on the engine, and each other that the grid
// says might still beat the best so far, by however little: a misfit below
// the noise may still be above the design method's, which the fit must
// never lose to.
void TestFit::polish_valleys(std::vector<GridFit> valleys, Refined& best) {
  std::stable_sort(valleys.begin(), valleys.end(), [](const GridFit& a, const GridFit& b) { return a.ssr < b.ssr; });
  for (const GridFit& v : valleys) {
    if (std::isfinite(best.lm.ssr) && !(v.ssr < best.lm.ssr)) continue;
    Refined r = polish_on_engine(v);
    if (std::isfinite(r.lm.ssr) && !(best.lm.ssr <= r.lm.ssr)) best = std::move(r);
  }
}

bool TestFit::at_modulus_bound(const Refined& r) const {
  const LmSettings s = settings(3, 0);
  for (std::size_t j = 0; j < 3 && j < r.lm.p.size(); ++j)
    if (!(r.lm.p[j] > s.lower[j] + 1e-9 && r.lm.p[j] < s.upper[j] - 1e-9)) return true;
  return false;
}

// The profile's valleys (depths no worse than their neighbours, the
// half-space next to the deepest depth), the best few refined on the grid
// with the depth free between their neighbours, best first.
std::vector<TestFit::GridFit> TestFit::grid_valleys(const std::vector<GridFit>& profile) {
  const int n = int(profile.size());
  std::vector<int> at;
  for (int k = 0; k < n; ++k) {
    const double v = profile[std::size_t(k)].ssr;
    if (!std::isfinite(v)) continue;
    const bool left = k == 0 || !(profile[std::size_t(k - 1)].ssr < v);
    const bool right = k + 1 == n || !(profile[std::size_t(k + 1)].ssr < v);
    if (left && right) at.push_back(k);
  }
  std::stable_sort(at.begin(), at.end(),
                   [&](int a, int b) { return profile[std::size_t(a)].ssr < profile[std::size_t(b)].ssr; });
  std::vector<GridFit> out;
  for (std::size_t i = 0; i < std::min<std::size_t>(kValleysRefined, at.size()); ++i) {
    out.push_back(profile[std::size_t(at[i])]);
    refine_on_grid(out.back());
  }
  std::stable_sort(out.begin(), out.end(), [](const GridFit& a, const GridFit& b) { return a.ssr < b.ssr; });
  valleys_.insert(valleys_.end(), out.begin(), out.end());
  return out;
}

// The depth among the candidates (optionally refined between its
// neighbours): the best few candidates' starts refined on the engine.
Refined TestFit::candidate_search() {
  if (cands_.empty()) engine_candidates();

  std::vector<Candidate*> order;
  for (Candidate& c : cands_) order.push_back(&c);
  std::stable_sort(order.begin(), order.end(), [](const Candidate* a, const Candidate* b) {
    return a->seed_error < b->seed_error;
  });
  // A structure beyond the table's grid leaves the surfaces' ranking
  // without meaning: the candidates are ranked by the engine's error at
  // their starts instead.
  if (!order.empty() && order.front()->at_table_edge) {
    for (Candidate* c : order) choose_start(*c);
    std::stable_sort(order.begin(), order.end(), [](const Candidate* a, const Candidate* b) {
      return rms_percent(a->start_residuals) < rms_percent(b->start_residuals);
    });
  }
  const std::size_t nref = std::size_t(std::clamp(opt_.refined_depths, 1, kCandidates));
  Refined best;
  for (std::size_t i = 0; i < std::min(nref, order.size()); ++i) {
    Refined r = refine(*order[i]);
    if (std::isfinite(r.lm.ssr) && !(best.lm.ssr <= r.lm.ssr)) best = std::move(r);
  }
  if (std::isfinite(best.lm.ssr)) best = finish_refinement(best);
  if (opt_.depth_mode == DepthMode::Continuous && std::isfinite(best.lm.ssr)) best = refine_depth(best);
  return best;
}

// ---- standard errors over the depth profile --------------------------------
//
// Where the basin hardly feels a deep stiff layer, the depth's linear error
// is huge and, through its correlation with the moduli, inflates theirs far
// beyond how much they actually move with the depth (the moduli settle once
// the stiff layer is deep enough); held at the answer's depth, the errors
// leave the depth's uncertainty out. So the moduli's covariance is that at
// the answer with the depth's share taken out (covariance_given_depth) plus
// the spread of the moduli fitted at the depths the basin does not tell
// from the answer's: the profile's depths (and refined valleys) whose
// chi-square lies within 1 of the smallest (the depth's one-sigma
// interval), and nodes close around the answer at fractions of its linear
// depth error (these resolve a sharp minimum between the profile's depths
// and count whatever their chi-square). Each node weighs
// exp(-delta chi-square / 2) times the share of ln depth it stands for; no
// stiff layer stands for one profile step. The depth's own row is the
// spread of the depth the rating analyses. Over 222 noisy synthetic basins
// (tests/unit/fit/global_test.cpp) about 69 % of the true moduli lie within
// one standard error, where the linear errors put 75 to 79 % with the depth
// fitted and 47 % with it held.

constexpr double kProfileInterval = 1.0;      // delta chi-square of the depth's one-sigma interval
constexpr double kLocalSpacing = 0.25;        // of the profile's step, at most, between the local nodes
// The nodes around the answer, in local spacings either side.
constexpr std::array<double, 6> kLocalSteps{0.0, 0.5, 1.0, 1.5, 2.0, 3.0};
// Fewer where each costs a fit on the engine (the direct search), over the
// same reach.
constexpr std::array<double, 4> kDirectLocalSteps{0.0, 1.0, 2.0, 3.0};

struct TestFit::DepthNode {
  double t = 0;                 // place among the profile's depths; negative: no stiff layer
  std::array<double, 4> p{};    // ln E1, ln E2, ln E3, ln of the depth the rating analyses
  double chi_square = kNaN;
  bool local = false;           // one of the nodes around the answer
  bool answer = false;          // at the answer's own depth
  double weight = 0;
};

// The best fit at each depth over the profile's passes.
void TestFit::keep_profile(const std::vector<GridFit>& profile) {
  if (profile_.size() != profile.size()) profile_.assign(profile.size(), GridFit{});
  for (std::size_t k = 0; k < profile.size(); ++k)
    if (profile[k].ssr < profile_[k].ssr || !std::isfinite(profile_[k].ssr)) profile_[k] = profile[k];
}

// The profile, its refined valleys and the local nodes, ordered by depth
// (no stiff layer last), each with the share of ln depth it stands for.
std::vector<TestFit::DepthNode> TestFit::depth_nodes(const Refined& best, const Vec& noise) {
  const double step = ws_.grid.depth_step();
  const double last = double(ws_.grid.depth_count() - 1);
  std::vector<DepthNode> nodes;
  // The answer's node: the local one at its depth, or no stiff layer.
  auto add = [&](const GridFit& g, bool local, bool at_answer) {
    if (!std::isfinite(g.ssr) || !(g.e3 > 0)) return;
    DepthNode n;
    n.t = g.x[2];
    n.answer = at_answer || (n.t < 0 && !std::isfinite(best.depth));
    const double depth = n.t < 0 ? kNoStiffLayer : opt_.min_depth * std::exp(n.t * step);
    n.p = {g.x[0] + std::log(g.e3), g.x[1] + std::log(g.e3), std::log(g.e3), std::log(rating_depth(depth))};
    n.chi_square = 0;
    for (std::size_t i = 0; i < g.r.size(); ++i) n.chi_square += std::pow(g.r[i] / noise[i], 2);
    n.local = local;
    nodes.push_back(n);
  };
  for (const GridFit& g : profile_) add(g, false, false);
  for (const GridFit& g : valleys_) add(g, false, false);
  if (std::isfinite(best.depth)) {
    const double t0 = (std::log(best.depth) - std::log(opt_.min_depth)) / step;
    const double spread = res_.depth_relative_std_error / step;
    const double h = spread > 0 ? std::min(spread, kLocalSpacing) : kLocalSpacing;
    // Walked outwards from the answer, each fit started from the last. On
    // the engine itself the answer is its own node: the polish fitted the
    // ratios there already.
    const Vec at_answer{best.lm.p[0] - best.lm.p[2], best.lm.p[1] - best.lm.p[2]};
    const GridFit answer = direct_ ? answer_node(best, t0) : GridFit{};
    for (const double side : {-1.0, 1.0}) {
      Vec start = at_answer;
      Matrix jacobian = answer.jacobian;
      for (const double k : direct_ ? std::span<const double>(kDirectLocalSteps) : std::span<const double>(kLocalSteps)) {
        const double t = t0 + side * k * h;
        if ((k == 0 && side > 0) || t < 0 || t > last) continue;
        const GridFit g = direct_ && k == 0 ? answer : grid_fit_at(t, {start}, jacobian);
        if (std::isfinite(g.ssr)) {
          start = g.x;
          jacobian = g.jacobian;
        }
        add(g, true, k == 0);
      }
    }
  }
  // By depth, the half-space last; of nodes at one depth the better one,
  // which takes over the other's roles.
  std::stable_sort(nodes.begin(), nodes.end(), [](const DepthNode& a, const DepthNode& b) {
    const double ta = a.t < 0 ? kNoStiffLayer : a.t, tb = b.t < 0 ? kNoStiffLayer : b.t;
    return ta < tb || (ta == tb && a.chi_square < b.chi_square);
  });
  std::vector<DepthNode> distinct;
  for (const DepthNode& n : nodes) {
    if (distinct.empty() || std::abs(n.t - distinct.back().t) > 1e-9) {
      distinct.push_back(n);
      continue;
    }
    distinct.back().local = distinct.back().local || n.local;
    distinct.back().answer = distinct.back().answer || n.answer;
  }
  nodes = std::move(distinct);
  std::size_t finite = 0;
  while (finite < nodes.size() && nodes[finite].t >= 0) ++finite;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    if (i >= finite || finite == 1) {
      nodes[i].weight = 1.0;
      continue;
    }
    const double lo = nodes[i == 0 ? i : i - 1].t, hi = nodes[i + 1 == finite ? i : i + 1].t;
    nodes[i].weight = 0.5 * (hi - lo);
  }
  return nodes;
}

// The polished answer as a fit of the ratios at its depth (place t).
TestFit::GridFit TestFit::answer_node(const Refined& best, double t) const {
  GridFit g;
  g.x = {best.lm.p[0] - best.lm.p[2], best.lm.p[1] - best.lm.p[2], t};
  g.e3 = std::exp(best.lm.p[2]);
  g.r = best.lm.r;
  g.ssr = best.lm.ssr;
  return g;
}

void TestFit::profile_covariance(const Refined& best, const Matrix& J, const Vec& noise) {
  Matrix c3;
  if (!covariance_given_depth(J, noise, c3)) return;
  std::vector<DepthNode> nodes = depth_nodes(best, noise);
  if (nodes.empty()) return;
  // The spread is taken about the answer's own node (the best one should
  // the grid have failed there), the weights from the best chi-square.
  const auto by_chi_square = [](const DepthNode& a, const DepthNode& b) { return a.chi_square < b.chi_square; };
  const double least = std::min_element(nodes.begin(), nodes.end(), by_chi_square)->chi_square;
  auto at = std::find_if(nodes.begin(), nodes.end(), [](const DepthNode& n) { return n.answer; });
  if (at == nodes.end()) at = std::min_element(nodes.begin(), nodes.end(), by_chi_square);
  const DepthNode ref = *at;
  double total = 0;
  for (DepthNode& n : nodes) {
    const double excess = n.chi_square - least;
    n.weight = n.local || excess <= kProfileInterval ? n.weight * std::exp(-0.5 * excess) : 0.0;
    total += n.weight;
  }
  if (!(total > 0)) return;
  Matrix cov(4, 4);
  for (int j = 0; j < 3; ++j)
    for (int k = 0; k < 3; ++k) cov(j, k) = c3(j, k);
  for (const DepthNode& n : nodes)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k)
        cov(j, k) += n.weight / total * (n.p[std::size_t(j)] - ref.p[std::size_t(j)]) * (n.p[std::size_t(k)] - ref.p[std::size_t(k)]);
  // Without a stiff layer the rating does not feel the depth: no row for it.
  if (!std::isfinite(best.depth))
    for (int j = 0; j < 4; ++j) cov(j, 3) = cov(3, j) = 0.0;
  store_covariance(cov);
}

// Where the misfit lies far below the noise (a basin computed rather than
// measured), the engine's own rounding of about 1e-5 is the largest error
// left, and along a modulus the basin barely feels it moves the answer by
// up to 1 %: a few steps on the engine's high accuracy take it out,
// starting from the Jacobian the search ended with (the design accuracy's
// differs from the high one's by as little). A measured basin never comes near.
void TestFit::polish_accurately(Refined& best) {
  const int m = int(best.lm.p.size());
  if (!global() || !std::isfinite(best.lm.ssr) || best.lm.jacobian.cols != m) return;
  const Vec noise = relative_noise();
  double chi_square = 0;
  for (std::size_t i = 0; i < best.lm.r.size(); ++i) chi_square += std::pow(best.lm.r[i] / noise[i], 2);
  if (!(chi_square < kAccuratePolishChiSquare * double(best.lm.r.size()))) return;
  LmSettings s = settings(m, best.d);
  s.hold_at_bounds = true;
  s.max_iterations = kAccurateIterations;
  s.stall_gain = 0.0;
  s.refresh_when_stalled = true;
  const ResidualFn accurate_at = [&](const Vec& q, Vec& r) {
    r = engine_residuals(from_log(q), best.depth_free ? std::exp(q[3]) : best.depth, true);
    return std::all_of(r.begin(), r.end(), [](double v) { return std::isfinite(v); });
  };
  LmOutcome lm = levenberg_marquardt(accurate_at, {best.lm.p, {}, best.lm.jacobian}, s);
  if (!std::isfinite(lm.ssr)) return;
  lm.converged = best.lm.converged;
  best.lm = std::move(lm);
  if (best.depth_free) best.depth = std::exp(best.lm.p[3]);
}

FitResult TestFit::run() {
  if (!basin_is_fittable()) return res_;
  for (std::size_t k = 1; k < test_.deflections.size(); ++k)
    if (test_.deflections[k] > test_.deflections[k - 1]) res_.flags |= kFitRisingBasin;
  if (!ws_.engine) ws_.engine = engine::make_engine_workspace();

  // The global search starts from its own grid: the table's search would
  // cost what the design method costs.
  if (!global() && table_start_possible() && !tables_.dtab.empty() && table_basin()) table_candidates();
  Refined best = global() ? global_search() : candidate_search();
  // An answer of the global search held at a bound or left unconverged is
  // checked against the table search's, which it must not lose to.
  if (global() && (!best.lm.converged || at_modulus_bound(best)) && table_start_possible() &&
      !tables_.dtab.empty() && table_basin())
    table_candidates();
  keep_design_if_better(best);
  polish_accurately(best);
  if (!std::isfinite(best.lm.ssr)) {
    res_.flags |= kFitNotFitted;
    res_.moduli = {kNaN, kNaN, kNaN};
    res_.depth = kNaN;
    res_.fit_error = kNaN;
    res_.message = "Test '" + test_.name + "': the engine could not be evaluated at any start.";
    return res_;
  }
  finish(best);
  return res_;
}

}  // namespace

FitWorkspace::FitWorkspace() = default;
FitWorkspace::~FitWorkspace() = default;

std::vector<double> engine_basin(engine::EngineWorkspace& ws, double h1, double h2, double h3,
                                 const std::array<double, 3>& moduli, double load,
                                 const std::vector<double>& offsets, int* calls, bool accurate) {
  const engine::DeckProblem problem = structure_problem(h1, h2, h3, moduli, load, offsets);
  const engine::ProblemSet& tol = reader_tolerances();
  // The accurate integration has no deflections-only path: it computes
  // every response.
  if (accurate)
    engine::analyse_problem(ws, problem, tol.abstol, tol.reltol, engine::EngineAccuracy{true});
  else
    engine::analyse_deflections(ws, problem, tol.abstol, tol.reltol);
  if (calls != nullptr) ++*calls;
  std::vector<double> w(offsets.size());
  for (std::size_t k = 0; k < offsets.size(); ++k) w[k] = engine::result_slot(ws, 1, int(k) + 1);
  return w;
}

FitResult fit_test(FitWorkspace& ws, const DeflectionTables& tables, const FitTest& test,
                   const FitOptions& options) {
  return TestFit(ws, tables, test, options).run();
}

void install_fit(RatingContext& ctx, FitWorkspace& ws, const DeflectionTables& tables,
                 const FitOptions& options) {
  ctx.back_calculation = [&ws, &tables, options](RatingContext& c, Blocks& b) {
    FitTest t;
    std::ostringstream name;
    name << "of " << c.test.load << " lb at hour " << c.test.hour;
    t.name = name.str();
    t.h1 = c.section.h;
    t.h2 = c.section.b;
    t.load = c.test.load;
    t.deflections.assign(b.dd.DMEAS, b.dd.DMEAS + kLegacyOffsets.size());
    ws.last = fit_test(ws, tables, t, options);
    const FitResult& r = ws.last;
    return RatingContext::BackCalculated{float(r.moduli[0]), float(r.moduli[1]), float(r.moduli[2]),
                                         float(rating_depth(r.depth))};
  };
}

double rate_fitted(RatingContext& ctx, Blocks& blocks, const FitResult& fit) {
  if (fit.flags & kFitNotFitted) {
    ctx.season.allow = kNaN;
    return kNaN;
  }
  seasonal_rating(ctx, blocks, float(fit.moduli[0]), float(fit.moduli[1]), float(fit.moduli[2]),
                  float(rating_depth(fit.depth)));
  return ctx.season.allow;
}

double rating_depth(double depth) { return std::isfinite(depth) ? depth : kNoStiffLayerRatingDepth; }

namespace {

constexpr double kBandStep = 0.01;  // log step of the rating's slopes: 1 %
// A limit binds the allowable load clearly when every other limit (the
// other seasons', and the year's fatigue and rutting limits) lies this far
// above it in the logarithm: a step of kBandStep moves each limit by its
// slope times 1 %, so slopes of up to 5 cannot hand the binding to another.
constexpr double kBindingMargin = 0.1;

// The fit with parameter j (a modulus, or 3: the depth) moved by dp in its logarithm.
FitResult moved_fit(const FitResult& fit, int j, double dp) {
  FitResult moved = fit;
  if (j < 3)
    moved.moduli[std::size_t(j)] *= std::exp(dp);
  else
    moved.depth *= std::exp(dp);
  return moved;
}

// The season whose strength ratio or deflection limit sets the allowable
// load, and which of the two; season 0 when the year's damage sets it or
// another limit comes too close.
struct BindingLimit {
  int season = 0;
  bool strength = false;
};

BindingLimit clear_binding_limit(const SeasonalState& s) {
  BindingLimit binding;
  int holders = 0;
  bool contested = false;
  const auto consider = [&](double limit, int season, bool strength) {
    if (limit == s.allow) {
      binding = {season, strength};
      ++holders;
    } else if (!(limit >= s.allow * std::exp(kBindingMargin))) {
      contested = true;
    }
  };
  consider(s.la, 0, false);
  consider(s.lb, 0, false);
  for (int i = 1; i <= kSeasons; ++i) {
    const SeasonLimits l = limits_in_season(s, i);
    consider(l.strength, i, true);
    consider(l.deflection, i, false);
  }
  return holders == 1 && !contested ? binding : BindingLimit{};
}

// ln(allowable load) with parameter j moved by dp. With a clearly binding
// season only that season is rated again (the year's allowable load is its
// limit as long as the move stays within half the margin); otherwise, or
// beyond that, the whole seasonal rating, whose state the caller restores.
double log_allowable_moved(RatingContext& ctx, Blocks& blocks, const FitResult& fit, int j, double dp,
                           const BindingLimit& binding, double allow) {
  const FitResult moved = moved_fit(fit, j, dp);
  if (binding.season > 0) {
    const SeasonLimits l =
        limits_in_season_alone(ctx, blocks, float(moved.moduli[0]), float(moved.moduli[1]), float(moved.moduli[2]),
                               float(rating_depth(moved.depth)), binding.season);
    const double change = std::log(binding.strength ? l.strength : l.deflection) - std::log(allow);
    if (std::abs(change) <= kBindingMargin / 2) return std::log(allow) + change;
  }
  return std::log(rate_fitted(ctx, blocks, moved));
}

}  // namespace

AllowableBand allowable_band(RatingContext& ctx, Blocks& blocks, const FitResult& fit, BandSlopes slopes) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double allow = ctx.season.allow;
  const SeasonalState kept = ctx.season;
  // The seasonal rating leaves its computed basin in the measured block.
  std::array<float, sizeof(blocks.dd.DMEAS) / sizeof(float)> kept_deflections{};
  std::copy(std::begin(blocks.dd.DMEAS), std::end(blocks.dd.DMEAS), kept_deflections.begin());
  const auto& c = fit.log_covariance;
  const int m = c[3][3] > 0 && std::isfinite(fit.depth) ? 4 : 3;
  if ((fit.flags & kFitNotFitted) || !(allow > 0) || !(c[0][0] > 0)) return {nan, nan};
  const BindingLimit binding = slopes == BandSlopes::binding_season ? clear_binding_limit(kept) : BindingLimit{};
  // Forward differences of ln(allowable load) in each parameter's
  // logarithm, from the rating the driver has just made.
  std::array<double, 4> g{};
  for (int j = 0; j < m; ++j)
    g[std::size_t(j)] = (log_allowable_moved(ctx, blocks, fit, j, kBandStep, binding, allow) - std::log(allow)) / kBandStep;
  ctx.season = kept;
  std::copy(kept_deflections.begin(), kept_deflections.end(), std::begin(blocks.dd.DMEAS));
  double var = 0;
  for (int j = 0; j < m; ++j)
    for (int k = 0; k < m; ++k) var += g[std::size_t(j)] * c[std::size_t(j)][std::size_t(k)] * g[std::size_t(k)];
  if (!std::isfinite(var)) return {nan, nan};
  const double se = std::sqrt(var);
  return {allow * std::exp(-se), allow * std::exp(se)};
}

}  // namespace zalk::rating
