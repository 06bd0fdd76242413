#include "engine/transform.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "toolkit/gauss.h"

namespace zalk::engine {
namespace {

// The first sixteen positive zeros of J1 as 4-byte values; the intervals
// beyond them have the asymptotic spacing pi.
constexpr std::array<double, 16> kJ1Zeros = {
    3.8317058086395264, 7.015586853027344,  10.173468589782715, 13.323689460754395,
    16.470630645751953, 19.61585807800293,  22.76008415222168,  25.903669357299805,
    29.046829223632812, 32.18967819213867,  35.332305908203125, 38.47476577758789,
    41.617095947265625, 44.75931930541992,  47.901458740234375, 51.04354476928711};

constexpr double kPi = 3.141592653589793;
// The geometric part of the grid ends at this parameter (less m1).
constexpr double kGridEnd = 30.0;
constexpr double kTiny = 1e-99;

void gauss_rule_on_unit_interval(TransformTables& t) {
  std::array<double, kGaussPoints> x{}, w{};
  const double fixed_nodes[2] = {0.0, 0.0};  // not read for a plain Gauss rule
  toolkit::DGQRUL(kGaussPoints, 1, 0.0, 0.0, 0, fixed_nodes, x.data(), w.data());
  for (int k = 0; k < kGaussPoints; ++k) {
    t.nodes[k] = (x[k] + 1.0) / 2.0;
    t.weights[k] = w[k] / 2.0;
  }
}

void fill_grid_and_breaks(double a, TransformTables& t) {
  const double m1 = kFirstJ1Zero / a;
  for (int k = 0; k < kGaussPoints; ++k) t.grid[k] = m1 * t.nodes[k];

  // Geometric points from m1 to 30 - m1: denser where the coefficients
  // change fastest, at small m.
  t.ngeom = kGeomPoints;
  const double ratio = std::pow((kGridEnd - m1) / m1, -1.0 / double(kGeomPoints - 1));
  for (int i = 1; i <= kGeomPoints; ++i) {
    t.grid[kGaussPoints + i - 1] = m1 * integer_power(ratio, 1 - i);
  }

  t.breaks[0] = 1e-12;
  for (int k = 1; k <= 16; ++k) t.breaks[k] = kJ1Zeros[k - 1] / a;
  for (int k = 18; k <= kBreaks; ++k) t.breaks[k - 1] = t.breaks[k - 2] + kPi / a;
}

void set(double* matrix, int ld, int row, int col, double value) {
  matrix[std::size_t(col - 1) * ld + (row - 1)] = value;
}

}  // namespace

double smallest_served_radius() {
  // 30 - z1 / a >= z6 / a, rounded up to hundredths.
  constexpr int kZerosReached = 6;
  return std::ceil((kJ1Zeros[kZerosReached - 1] + kFirstJ1Zero) / kGridEnd * 100.0) / 100.0;
}

double integer_power(double x, int n) {
  unsigned int k = n < 0 ? 0u - static_cast<unsigned int>(n) : static_cast<unsigned int>(n);
  double y = (k % 2) ? x : 1.0;
  while (k >>= 1) {
    x = x * x;
    if (k % 2) y = y * x;
  }
  return n < 0 ? 1.0 / y : y;
}

namespace {

// The nonzero entries of layer_matrix; every place of the row bands (see
// row_band) is written, the other places are left alone.
// decay[i] = exp(-m h(i)) of every finite layer i (0-based): the surface
// and both interfaces of a layer take the same value.
void layer_matrix_entries(double m, const LayerSet& L, const double* decay, double* matrix,
                          bool nudge_unit_ratio = true) {
  const int n = L.n;
  const int ld = coefficient_count(n);

  // Surface: unit normal pressure (row 1) and no shear (row 2).
  {
    const double e = decay[0];
    const double nu = L.pr[0];
    set(matrix, ld, 1, 1, e);
    set(matrix, ld, 1, 2, 1.0);
    set(matrix, ld, 1, 3, (2.0 * nu - 1.0) * e);
    set(matrix, ld, 1, 4, 1.0 - 2.0 * nu);
    set(matrix, ld, 2, 1, e);
    set(matrix, ld, 2, 2, -1.0);
    set(matrix, ld, 2, 3, 2.0 * nu * e);
    set(matrix, ld, 2, 4, 2.0 * nu);
  }

  for (int i = 1; i <= n - 1; ++i) {
    const double e = decay[i - 1];
    const double lam = m * L.h[i - 1];
    const double nu = L.pr[i - 1];
    const double nu2 = L.pr[i];
    const double k = L.bond[i - 1];
    double R = (1.0 + L.pr[i]) * L.e[i - 1] / ((1.0 + L.pr[i - 1]) * L.e[i]);
    if (R == 1.0 && nudge_unit_ratio) R = R + kUnitRatioNudge;
    const double F = (1.0 - k) * L.e[i - 1] / (1.0 + L.pr[i - 1]);

    const int r1 = 4 * i - 1, r2 = 4 * i, r3 = 4 * i + 1, r4 = 4 * i + 2;
    const int c = 4 * i - 3;  // column of A(i)

    // Rows: normal stress, vertical displacement, shear stress, bond condition.
    set(matrix, ld, r1, c, 1.0);
    set(matrix, ld, r1, c + 1, e);
    set(matrix, ld, r1, c + 2, 2.0 * nu - 1.0 + lam);
    set(matrix, ld, r1, c + 3, (1.0 + lam - 2.0 * nu) * e);
    set(matrix, ld, r2, c, 1.0);
    set(matrix, ld, r2, c + 1, -e);
    set(matrix, ld, r2, c + 2, 4.0 * nu - 2.0 + lam);
    set(matrix, ld, r2, c + 3, (4.0 * nu - 2.0 - lam) * e);
    set(matrix, ld, r3, c, 1.0);
    set(matrix, ld, r3, c + 1, -e);
    set(matrix, ld, r3, c + 2, 2.0 * nu + lam);
    set(matrix, ld, r3, c + 3, (2.0 * nu - lam) * e);
    set(matrix, ld, r4, c, F * m + k);
    set(matrix, ld, r4, c + 1, (k - F * m) * e);
    set(matrix, ld, r4, c + 2, m * F * (2.0 * nu + lam) + k * (1.0 + lam));
    set(matrix, ld, r4, c + 3, (k * (lam - 1.0) - m * F * (lam - 2.0 * nu)) * e);

    const int c2 = 4 * i + 1;  // column of A(i+1)
    if (i + 1 < n) {
      const double e2 = decay[i];
      set(matrix, ld, r1, c2, -e2);
      set(matrix, ld, r1, c2 + 1, -1.0);
      set(matrix, ld, r1, c2 + 2, (1.0 - 2.0 * nu2) * e2);
      set(matrix, ld, r1, c2 + 3, 2.0 * nu2 - 1.0);
      set(matrix, ld, r2, c2, -R * e2);
      set(matrix, ld, r2, c2 + 1, R);
      set(matrix, ld, r2, c2 + 2, (2.0 - 4.0 * nu2) * R * e2);
      set(matrix, ld, r2, c2 + 3, (2.0 - 4.0 * nu2) * R);
      set(matrix, ld, r3, c2, -e2);
      set(matrix, ld, r3, c2 + 1, 1.0);
      set(matrix, ld, r3, c2 + 2, -2.0 * nu2 * e2);
      set(matrix, ld, r3, c2 + 3, -2.0 * nu2);
      set(matrix, ld, r4, c2, -R * k * e2);
      set(matrix, ld, r4, c2 + 1, -R * k);
      set(matrix, ld, r4, c2 + 2, -R * k * e2);
      set(matrix, ld, r4, c2 + 3, R * k);
    } else {
      // The half-space keeps only its decaying terms.
      set(matrix, ld, r1, c2, -1.0);
      set(matrix, ld, r1, c2 + 1, 2.0 * nu2 - 1.0);
      set(matrix, ld, r2, c2, R);
      set(matrix, ld, r2, c2 + 1, (2.0 - 4.0 * nu2) * R);
      set(matrix, ld, r3, c2, 1.0);
      set(matrix, ld, r3, c2 + 1, -2.0 * nu2);
      set(matrix, ld, r4, c2, -R * k);
      set(matrix, ld, r4, c2 + 1, R * k);
    }
  }
}

}  // namespace

void layer_matrix(double m, const LayerSet& L, double* matrix, bool nudge_unit_ratio) {
  const int ld = coefficient_count(L.n);
  for (std::size_t i = 0; i < std::size_t(ld) * ld; ++i) matrix[i] = 0.0;
  std::array<double, kMaxEngineLayers> decay;
  for (int i = 0; i < L.n - 1; ++i) decay[std::size_t(i)] = std::exp(-m * L.h[i]);
  layer_matrix_entries(m, L, decay.data(), matrix, nudge_unit_ratio);
}

void layer_matrix_at_column(int c, const LayerSet& layers, const TransformTables& t, const SolverWorkspace& ws,
                            double* matrix) {
  std::array<double, kMaxEngineLayers> decay{};
  for (int i = 0; i < layers.n - 1; ++i) decay[std::size_t(i)] = ws.decay_columns[std::size_t(i)][c];
  layer_matrix_entries(t.grid[std::size_t(c)], layers, decay.data(), matrix);
}

static_assert(DecayColumns::kColumns > std::size_t(kMaxEngineLayers), "a structure must fit the columns");

const double* DecayColumns::column(const TransformTables& t, double h) {
  for (Column& c : columns_) {
    if (same_bits(c.radius, t.radius) && same_bits(c.h, h)) {
      c.stamp = stamp_;
      return c.values.data();
    }
  }
  Column* c = nullptr;
  if (columns_.size() < kColumns) {
    columns_.reserve(kColumns);
    c = &columns_.emplace_back();
  } else {
    while (columns_[next_].stamp == stamp_) next_ = (next_ + 1) % kColumns;
    c = &columns_[next_];
    next_ = (next_ + 1) % kColumns;
  }
  c->radius = t.radius;
  c->h = h;
  c->stamp = stamp_;
  for (int k = 0; k < kGridPoints; ++k) c->values[std::size_t(k)] = std::exp(-t.grid[k] * h);
  return c->values.data();
}

void load_vector(int n, double* vector) {
  const int N = coefficient_count(n);
  for (int i = 0; i < N; ++i) vector[i] = 0.0;
  vector[0] = 1.0;
}

namespace {

// Columns that row `row` (1-based) of an order-N layer system can occupy:
// the surface rows the four of layer 1, an interface row the four of each
// layer it joins (two for the half-space).
void row_band(int row, int N, int& first, int& last) {
  if (row <= 2) {
    first = 1;
    last = 4;
    return;
  }
  const int i = (row + 1) / 4;  // interface of rows 4i-1 .. 4i+2
  first = 4 * i - 3;
  last = std::min(4 * i + 4, N);
}

// Coordinate form of the dense matrix (column-major, order N): rows
// ascending, within a row the columns ascending, exact zeros skipped; only
// columns first(row)..last(row) are read.
template <class Band>
int to_coordinates(int N, const double* matrix, Band band, SolverWorkspace& ws) {
  int nz = 0;
  for (int row = 1; row <= N; ++row) {
    int first = 1, last = N;
    band(row, first, last);
    for (int col = first; col <= last; ++col) {
      const double v = matrix[std::size_t(col - 1) * N + (row - 1)];
      if (v != 0.0) {
        ws.values[nz] = v;
        ws.rows[nz] = row;
        ws.cols[nz] = col;
        ++nz;
      }
    }
  }
  return nz;
}

void set_solver_parameters(SolverWorkspace& ws) {
  toolkit::DLSLXG_INIT(ws.iparam.data(), ws.rparam.data());
  ws.iparam[4] = 100000;
}

// Underflowing exponentials leave coefficients of no consequence; zero one
// only when it is tiny at two consecutive parameters, so that a single
// accidental small value is kept.
void drop_tiny_coefficients(int N, SolverWorkspace& ws, double* x) {
  for (int p = 0; p < N; ++p) {
    if (ws.tiny[p] == 1 && std::abs(x[p]) < kTiny) x[p] = 0.0;
    ws.tiny[p] = std::abs(x[p]) < kTiny ? 1 : 0;
  }
}

void solve_coordinates(int N, int nz, SolverWorkspace& ws, const double* rhs, double* x) {
  set_solver_parameters(ws);
  if (ws.reuse_pivots) {
    ws.replay.solve(N, nz, ws.values.data(), ws.rows.data(), ws.cols.data(), rhs, 1,
                    ws.iparam.data(), ws.rparam.data(), x);
  } else {
    toolkit::DLSLXG(N, nz, ws.values.data(), ws.rows.data(), ws.cols.data(), rhs, 1,
                    ws.iparam.data(), ws.rparam.data(), x, ws.sparse);
  }
  drop_tiny_coefficients(N, ws, x);
}

// The row bands of a layer system of order N, 1-based columns.
void set_bands(int N, SolverWorkspace& ws) {
  if (int(ws.band_first.size()) == N) return;
  ws.band_first.resize(std::size_t(N));
  ws.band_last.resize(std::size_t(N));
  for (int row = 1; row <= N; ++row) {
    row_band(row, N, ws.band_first[std::size_t(row - 1)], ws.band_last[std::size_t(row - 1)]);
  }
}

// solve_coefficients for a matrix of layer_matrix, whose entries outside
// the row bands are zero: the same coordinates from fewer reads. Mostly a
// recorded factorisation is repeated straight from the matrix, and the
// coordinates are listed only when it cannot be.
void solve_layer_system(int n, SolverWorkspace& ws, const double* matrix, const double* rhs, double* x) {
  const int N = coefficient_count(n);
  set_bands(N, ws);
  if (ws.reuse_pivots) {
    set_solver_parameters(ws);
    if (ws.replay.repeat_dense(N, matrix, ws.band_first.data(), ws.band_last.data(), rhs, 1,
                               ws.iparam.data(), ws.rparam.data(), x)) {
      drop_tiny_coefficients(N, ws, x);
      return;
    }
  }
  const int nz = to_coordinates(N, matrix, [&ws](int row, int& first, int& last) {
    first = ws.band_first[std::size_t(row - 1)];
    last = ws.band_last[std::size_t(row - 1)];
  }, ws);
  solve_coordinates(N, nz, ws, rhs, x);
}

}  // namespace

void solve_coefficients(int n, SolverWorkspace& ws, const double* matrix, const double* rhs, double* x) {
  const int N = coefficient_count(n);
  // At most eight entries per row are ever set, so the list stays far below
  // its capacity.
  const int nz = to_coordinates(N, matrix, [](int, int&, int&) {}, ws);
  solve_coordinates(N, nz, ws, rhs, x);
}

namespace {

// Grid, breaks and the solver's state for a build of the tables; no column
// solved yet.
void begin_build(double a, const LayerSet& layers, TransformTables& t, SolverWorkspace& ws) {
  // The rule does not depend on the radius; it is built once per table set.
  if (t.weights[0] == 0.0) gauss_rule_on_unit_interval(t);
  t.radius = a;
  t.ncoef = coefficient_count(layers.n);
  fill_grid_and_breaks(a, t);
  t.solved = 0;

  const int N = t.ncoef;
  for (int p = 0; p < N; ++p) ws.tiny[p] = 0;
  ws.decay.start();
  for (int i = 0; i < layers.n - 1; ++i) ws.decay_columns[std::size_t(i)] = ws.decay.column(t, layers.h[i]);
  std::fill(ws.matrix.begin(), ws.matrix.begin() + std::size_t(N) * N, 0.0);
}

}  // namespace

void solve_columns_before(int end, const LayerSet& layers, TransformTables& t, SolverWorkspace& ws) {
  const int N = t.ncoef;
  const double nu1 = layers.pr[0];
  std::array<double, kMaxEngineLayers> decay{};
  for (int c = t.solved; c < std::min(end, kGridPoints); ++c) {
    const double m = t.grid[c];
    for (int i = 0; i < layers.n - 1; ++i) decay[std::size_t(i)] = ws.decay_columns[std::size_t(i)][c];
    // Every parameter writes the same places: the zeros stay from the first.
    layer_matrix_entries(m, layers, decay.data(), ws.matrix.data());
    load_vector(layers.n, ws.rhs.data());
    double* x = t.coef.data() + std::size_t(c) * N;
    solve_layer_system(layers.n, ws, ws.matrix.data(), ws.rhs.data(), x);
    // Remove the top layer's homogeneous half-space solution (B = 2 nu1,
    // D = 1), which alone satisfies the surface conditions; the plate
    // routine adds it back in closed form near the surface.
    x[1] = x[1] - 2.0 * nu1;
    x[3] = x[3] - 1.0;
    t.solved = c + 1;
  }
}

void transform_grid(double a, const LayerSet& layers, TransformTables& t, SolverWorkspace& ws) {
  begin_build(a, layers, t, ws);
  solve_columns_before(kGridPoints, layers, t, ws);
}

void start_transform_grid(double a, const LayerSet& layers, TransformTables& t, SolverWorkspace& ws) {
  begin_build(a, layers, t, ws);
  solve_columns_before(kGaussPoints, layers, t, ws);
}

}  // namespace zalk::engine
