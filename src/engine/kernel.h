// Responses of a layered system to one circular load at one point: Hankel
// integrals over the transform parameter, with exact layer coefficients on
// the first interval and spline-interpolated ones beyond it.
#pragma once

#include <array>
#include <unordered_map>
#include <vector>

#include "engine/transform.h"

namespace zalk::engine {

// At most this many geometric grid points enter one interval's spline fit.
constexpr int kMaxSplineData = 100;
// A point in the top layer no deeper than this many load radii gets the
// homogeneous near field from the plate routine; the driver keeps the top
// layer within that depth.
constexpr double kNearSurfaceDepth = 0.45;
// Quadratic not-a-knot interpolation of the coefficients between grid
// points (the spline kind of DSPLEZ).
constexpr int kCoefficientSpline = 5;
// Component slots of the integration (six are used).
constexpr int kComponents = 10;

// The six kernel functions of layer j (1-based; j = n is the half-space) at
// parameter m for local depth zeta, from the layer's coefficients in X (the
// full coefficient vector). F1 and F6 are 0 on the axis (r = 0).
void layer_kernel(int j, int n, const double* X, double m, double r, double zeta, const double* h,
                 const double* nu, double& F1, double& F2, double& F3, double& F4, double& F5,
                 double& F6);

// What the integration of one point needs beyond the first interval, kept
// for every point of the same load table: per interval the 50 evaluation
// parameters, J1(m a) there, and the coefficients interpolated to them. The
// intervals follow each other in a fixed order, so they are prepared the
// first time a point reaches them and reused by every later point.
struct IntervalCache {
  int ncoef = 0;
  std::array<double, kGaussPoints> j1a_first{};  // J1(m a) at the first interval's nodes
  int prepared = 1;    // intervals 2..prepared are ready
  int stop_at = 0;     // first interval with fewer than 3 grid points (0: not reached)
  int last = 1;        // geometric point ending interval `prepared`
  std::array<double, kBreaks> width{};
  std::vector<double> xe = std::vector<double>(std::size_t(kBreaks) * kGaussPoints);
  std::vector<double> j1a = std::vector<double>(std::size_t(kBreaks) * kGaussPoints);
  // Coefficient vector at evaluation parameter p of interval k:
  // values[((k - 1) * 50 + p) * ncoef + c]. Sized for the largest structure
  // seen so far; it only grows.
  std::vector<double> values;
  // The coefficients of one interval share abscissas and nodes: fitted
  // together they share the sorting, factors and piece bases, with the
  // values of separate fits. Off, each is fitted by its own DSPLEZ call
  // (kept for comparison).
  bool fit_sets_together = true;
  // Set while the tables' columns are solved on demand (a deflection-only
  // analysis, or EngineWorkspace::columns_on_demand): the columns an
  // interval covers are solved when it is prepared. A deflection-only
  // analysis also fits only the first `coefficients_fitted` coefficients
  // (0: all), those the kernels of its points read.
  const ColumnsOnDemand* on_demand = nullptr;
  int coefficients_fitted = 0;
  // Scratch of one spline fit.
  std::array<double, kMaxSplineData> abscissa{};
  std::array<double, kMaxSplineData> ordinate{};
  std::array<double, kGaussPoints> fitted{};

  // The exponentials of layer_kernel by node, exp(-m zeta) and (above the
  // half-space) exp(m (zeta - h)), for one load radius, depth below the
  // layer's top and layer thickness h. The moduli do not enter, so they are
  // kept across analyses: a back-calculation varies the moduli of one
  // structure. Node numbers as in BesselTable.
  struct DecayTable {
    double radius = 0.0, zeta = 0.0, h = 0.0;
    bool above_bottom = false;   // h is the layer's thickness (not the half-space)
    std::vector<double> values;  // [node * 2]: exp(-m zeta), exp(m (zeta - h))
    std::vector<unsigned char> known;
  };
  // The kernel values F1..F6 of layer_kernel by node, before the zeros of a
  // point on the axis, for the points of one layer at one depth below its
  // top: they depend on nothing else (the node fixes m and the
  // coefficients), so every such point shares them. Node numbers as in
  // BesselTable; storage grows with the intervals reached.
  struct KernelTable {
    int j = 0;
    double zeta = 0.0;
    std::vector<double> values;  // [node * 6 + i]
    std::vector<unsigned char> known;
  };
  static constexpr std::size_t kKernelTables = 16;  // depths kept; beyond, replaced in turn
  std::vector<KernelTable> kernels;  // storage kept across resets
  std::size_t kernels_used = 0, next_kernel = 0;
  KernelTable& kernel_table(int j, double zeta);
  double radius = 0.0;  // of the current tables
  static constexpr std::size_t kDecayTables = 16;
  std::vector<DecayTable> decays;  // kept across resets; beyond, replaced in turn
  std::size_t next_decay = 0;
  DecayTable& decay_table(double zeta, bool above_bottom, double h);

  // Forgets every interval; to be called whenever the tables are rebuilt.
  void reset(const TransformTables& tables);
  const double* coefficients(int k, int p) const {
    return values.data() + (std::size_t(k - 1) * kGaussPoints + p) * ncoef;
  }
};

// J0, J1 and J2 of m r at the integration nodes for one load radius and one
// distance r. The nodes depend on the radius alone, so these values serve
// every point at that distance, under any load of that radius, in any call
// (the layers do not enter). Node i: the first interval's nodes are 0..49,
// interval k's are (k - 1) * 50 + p. The storage grows with the intervals an
// integration reaches (most stop long before the last).
struct BesselTable {
  double radius = 0.0, r = 0.0;
  std::vector<double> values;        // [node * 3 + order]
  std::vector<unsigned char> known;  // set once values[...] holds the function value
};

// Tables for the (radius, distance) pairs met so far. It holds as many as the
// current problem has pairs (at least kMinTables, at most kMaxTables), so
// that a problem analysed again, as a back-calculation loop does, finds every
// pair it needs; beyond that, tables are replaced in turn.
class BesselCache {
 public:
  static constexpr int kMinTables = 16;
  static constexpr int kMaxTables = 1024;  // at most about 140 MB when every table is full

  // Room for `pairs` tables (clamped to kMinTables..kMaxTables); the tables
  // held are kept.
  void fit_to(int pairs);
  BesselTable& table_for(double radius, double r);
  int size() const { return int(tables_.size()); }

 private:
  struct Key {
    double radius, r;
    bool operator==(const Key& o) const;
  };
  struct KeyHash {
    std::size_t operator()(const Key& k) const;
  };
  std::vector<BesselTable> tables_;
  std::unordered_map<Key, int, KeyHash> index_;
  int capacity_ = kMinTables;
  int next_ = 0;  // the table replaced next once the capacity is reached
};

// The six responses of one point to one load and the near-surface flag.
struct PointResponse {
  double w = 0, u = 0, er = 0, et = 0, ez = 0, erz = 0;  // w, u; radial, tangential, vertical, r-z shear strain
  int near_surface = 0;
};

// The responses an integration carries to convergence: all six, or the
// vertical displacement alone (the others are then returned as 0). The
// displacement is the same bit for bit either way: each response is summed
// and tested on its own, so the others only make the integration go on.
enum class Responses { all, deflection };

// Integrates the responses at depth z in layer j (1-based) at horizontal
// distance r from the centre of load L (1-based into q and a: pressure and
// radius). The tables must have been built for a[L-1] and these layers.
// For points in layer 1 the result lacks the top layer's homogeneous
// half-space response (see transform_grid); near_surface says when the
// caller has to add it back.
void layer_response(const TransformTables& tables, IntervalCache& cache, BesselCache& bessel,
                   const LayerSet& layers, int L, const double* q, const double* a, double z, int j, double r,
                   const std::array<double, 10>& abstol, const std::array<double, 10>& reltol,
                   PointResponse& out, Responses wanted = Responses::all);

}  // namespace zalk::engine
