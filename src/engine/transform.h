// Integration tables of one load radius: the grid of transform parameters m,
// the Gauss-Legendre rule on [0, 1], the interval ends of the response
// integrals, and the layered system's coefficients at every grid parameter.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "io/deck.h"
#include "toolkit/sparse.h"
#include "toolkit/sparse_replay.h"

namespace zalk::engine {

constexpr int kGaussPoints = 50;
constexpr int kGeomPoints = 200;
constexpr int kGridPoints = kGaussPoints + kGeomPoints;
constexpr int kBreaks = 100;
// The top-layer split may add one layer to the deck's 50.
constexpr int kMaxEngineLayers = kMaxLayers + 1;
constexpr int kMaxCoefficients = 4 * kMaxEngineLayers - 2;
// First positive zero of J1 as a 4-byte value: the first interval of the
// response integrals ends at it over the load radius.
constexpr double kFirstJ1Zero = 3.8317058086395264;
// An interface stiffness ratio of exactly 1 is nudged by the 4-byte value
// of 1e-6 (see layer_matrix).
constexpr double kUnitRatioNudge = 9.999999974752427e-07;
// Room for the nonzeros of one system (at most 8 per row are ever set).
constexpr int kMaxNonzeros = 20000;

// The engine's caches compare their keys' doubles by their bits: equal
// values give equal bits here, and a NaN key finds only its own entry.
inline bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// The layers of the structure being analysed; element [i-1] is layer i,
// layer n is the half-space (its thickness is not used). bond[i-1] is the
// bond factor of the interface below layer i (1 full continuity, 0 frictionless).
struct LayerSet {
  int n = 0;
  const double* e = nullptr;
  const double* pr = nullptr;
  const double* h = nullptr;
  const double* bond = nullptr;
};

// Number of coefficients of an n-layer system: four per finite layer, two
// for the half-space.
constexpr int coefficient_count(int n) { return 4 * n - 2; }

struct TransformTables {
  double radius = 0.0;
  int ncoef = 0;  // 4n - 2 of the layers the table was built for
  std::array<double, kGridPoints> grid{};    // [0,50): Gauss part; [50,250): geometric part
  std::array<double, kGaussPoints> nodes{};  // Gauss-Legendre rule mapped to [0, 1]
  std::array<double, kGaussPoints> weights{};
  std::array<double, kBreaks> breaks{};      // interval ends of the response integrals
  int ngeom = 0;
  // Coefficient vector at grid[c] in coef[c * ncoef + i], i = 0..ncoef-1,
  // with the top layer's homogeneous half-space solution removed.
  std::vector<double> coef = std::vector<double>(std::size_t(kMaxCoefficients) * kGridPoints);
  // Columns [0, solved) of coef hold their coefficients. A full build solves
  // every one; a deflection-only analysis solves them as its integration
  // reaches them (see ColumnsOnDemand).
  int solved = 0;

  const double* column(int c) const { return coef.data() + std::size_t(c) * ncoef; }
};

// exp(-m h) at every grid parameter m of a load radius for the layer
// thicknesses h met last: structures analysed one after another mostly
// share their thicknesses (the candidates of a back-calculation differ in
// one layer), and each value is the one exp gives for that argument.
class DecayColumns {
 public:
  // More than the finite layers of any structure, so that the columns of
  // one structure never push each other out.
  static constexpr std::size_t kColumns = 64;
  // Starts the look-ups of one structure: the columns it is given stay in
  // place until the next start.
  void start() { ++stamp_; }
  const double* column(const TransformTables& t, double h);

 private:
  struct Column {
    double radius = 0.0, h = 0.0;
    unsigned stamp = 0;
    std::array<double, kGridPoints> values{};
  };
  std::vector<Column> columns_;  // reserved to kColumns: columns never move
  std::size_t next_ = 0;
  unsigned stamp_ = 0;
};

// Storage of the per-parameter solves, kept between loads and calls.
struct SolverWorkspace {
  std::vector<double> matrix = std::vector<double>(std::size_t(kMaxCoefficients) * kMaxCoefficients);
  std::vector<double> rhs = std::vector<double>(kMaxCoefficients);
  std::vector<double> solution = std::vector<double>(kMaxCoefficients);
  std::vector<int> tiny = std::vector<int>(kMaxCoefficients);
  std::vector<double> values = std::vector<double>(kMaxNonzeros);
  std::vector<int> rows = std::vector<int>(kMaxNonzeros);
  std::vector<int> cols = std::vector<int>(kMaxNonzeros);
  std::array<int, 6> iparam{};
  std::array<double, 5> rparam{};
  // The systems of one layer set share their pattern and mostly their pivot
  // sequence: the replay solver repeats the recorded factorisation with the
  // same results as the sparse solver. With reuse_pivots off every system
  // goes to the sparse solver itself (kept for comparison).
  bool reuse_pivots = true;
  toolkit::SparseReplaySolver replay;
  std::vector<int> band_first, band_last;  // of the layer systems' rows, 1-based columns
  DecayColumns decay;
  // exp(-m h) of each finite layer of the tables being built, from `decay`.
  std::array<const double*, kMaxEngineLayers> decay_columns{};
  toolkit::SparseWorkspace sparse;
};

// The smallest load radius the grid serves in full. The geometric grid ends
// at the fixed parameter 30 - m1 (lengths in inches), so a smaller radius
// sees fewer of the integration intervals, which end at the zeros of J1 over
// the radius. Down to this radius (0.79) the grid reaches the sixth zero; below it
// surface and near-surface strains lose accuracy (measured on scaled
// structures: 1e-4 and more), and below 0.56 one interval overflows the
// spline fit.
double smallest_served_radius();

// Builds the tables for a load of radius a on the given layers (n >= 2,
// 4n - 2 <= kMaxCoefficients).
void transform_grid(double a, const LayerSet& layers, TransformTables& tables, SolverWorkspace& ws);

// The grid and the first interval's columns only (Gauss part): the later
// columns are left to solve_columns_before, which must be called for them
// before anything reads them and before the solver workspace serves other
// tables.
void start_transform_grid(double a, const LayerSet& layers, TransformTables& tables, SolverWorkspace& ws);

// Solves the columns of the tables not solved yet that lie before column
// `end`, in grid order, each bit for bit as transform_grid solves it (the
// solves are chained by the tiny-coefficient marks, so the order matters).
void solve_columns_before(int end, const LayerSet& layers, TransformTables& tables, SolverWorkspace& ws);

// What an integration needs to have columns solved as it reaches them.
struct ColumnsOnDemand {
  const LayerSet* layers = nullptr;
  TransformTables* tables = nullptr;
  SolverWorkspace* solver = nullptr;
  void before(int end) const {
    if (end > tables->solved) solve_columns_before(end, *layers, *tables, *solver);
  }
};

// The system of surface and interface conditions at parameter m, dense,
// column-major with leading dimension 4n - 2; the leading block is zeroed first.
// The design nudges a stiffness ratio of exactly 1 (equal materials either side
// of an interface, as the top-layer split makes) by 1e-6; the accurate
// integration asks for the ratio as it is.
void layer_matrix(double m, const LayerSet& layers, double* matrix, bool nudge_unit_ratio = true);

// layer_matrix at column c of the tables being built with ws, from the
// build's exponentials. Only the entries of the row bands are written:
// `matrix` must hold zeros elsewhere (it does after one layer_matrix call
// of the same order).
void layer_matrix_at_column(int c, const LayerSet& layers, const TransformTables& tables,
                            const SolverWorkspace& ws, double* matrix);

// Unit normal pressure at the surface: the first unit vector of length 4n - 2.
void load_vector(int n, double* vector);

// Solves matrix * x = rhs (order 4n - 2) with the sparse solver and zeroes a
// coefficient that stays below 1e-99 at two consecutive solves (ws.tiny
// carries the marks from one solve to the next).
void solve_coefficients(int n, SolverWorkspace& ws, const double* matrix, const double* rhs, double* x);

// x^n by repeated squaring (a negative n takes the reciprocal of x^|n|), the
// way an integer power of a real is evaluated.
double integer_power(double x, int n);

}  // namespace zalk::engine
