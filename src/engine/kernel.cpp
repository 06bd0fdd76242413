#include "engine/kernel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/engine_messages.h"
#include "toolkit/bessel.h"
#include "toolkit/errors.h"
#include "toolkit/splez.h"

namespace zalk::engine {
namespace {

using toolkit::bessel_j0;
using toolkit::bessel_j1;
using toolkit::bessel_j2;

struct Integrand {
  std::array<double, 6> K{};
};

// The point-specific part of the integrand: everything but the load's
// J1(m a) and the coefficients, which the caller supplies.
struct PointSetup {
  const LayerSet* layers;
  int j;
  double r;
  double zeta;
  double s;  // 1 off the axis, 0 on it
  IntervalCache::DecayTable* decay;  // the exponentials at this depth
};

// Grows a table by node to hold node `node`, an interval at a time:
// `per_node` values and `flags` known-flags a node. The check is made for
// every value asked for and the growth once an interval, so only the check
// is inline.
[[gnu::noinline]] void grow_for_node(std::vector<double>& values,
                                     std::vector<unsigned char>& known, int node,
                                     std::size_t per_node, std::size_t flags) {
  const std::size_t nodes = (std::size_t(node) / kGaussPoints + 1) * kGaussPoints;
  values.resize(nodes * per_node);
  known.resize(nodes * flags, 0);
}

inline void grow_to_node(std::vector<double>& values, std::vector<unsigned char>& known, int node,
                         std::size_t per_node, std::size_t flags) {
  if ((std::size_t(node) + 1) * flags > known.size()) {
    grow_for_node(values, known, node, per_node, flags);
  }
}

void reach_node(BesselTable& tab, int node) { grow_to_node(tab.values, tab.known, node, 3, 3); }

// The function of the given order (0, 1, 2) at node `node` of the table,
// evaluated the first time it is asked for.
[[gnu::noinline]] void evaluate_bessel(BesselTable& tab, std::size_t i, int order, double x) {
  tab.values[i] = order == 0 ? bessel_j0(x) : order == 1 ? bessel_j1(x) : bessel_j2(x);
  tab.known[i] = 1;
}

inline double bessel_at(BesselTable& tab, int node, int order, double x) {
  reach_node(tab, node);
  const std::size_t i = std::size_t(node) * 3 + order;
  if (!tab.known[i]) evaluate_bessel(tab, i, order, x);
  return tab.values[i];
}

// Orders 0 and 1 at the node together, when neither is known yet: the two
// share their argument reduction.
void bessel_pair_at(BesselTable& tab, int node, double x) {
  reach_node(tab, node);
  const std::size_t i = std::size_t(node) * 3;
  if (tab.known[i] || tab.known[i + 1]) return;
  toolkit::bessel_j0_j1(x, tab.values[i], tab.values[i + 1]);
  tab.known[i] = tab.known[i + 1] = 1;
}

// layer_kernel with its exponentials given: E2 = exp(-m zeta) and, above the
// half-space, E1 = exp(m (zeta - h(j))).
void kernel_from_decay(int j, int n, const double* X, double m, double r, double zeta,
                       const double* nu_of, double E1, double E2, double& F1, double& F2,
                       double& F3, double& F4, double& F5, double& F6) {
  const double nu = nu_of[j - 1];
  const double mz = m * zeta;
  if (j < n) {
    const double A = X[4 * j - 4], B = X[4 * j - 3], C = X[4 * j - 2], D = X[4 * j - 1];
    const double radial = A * E1 + B * E2 + (1.0 + mz) * C * E1 - (1.0 - mz) * D * E2;
    F1 = radial / m;
    F2 = (-A * E1 + B * E2 + (2.0 - 4.0 * nu - mz) * C * E1 + (2.0 - 4.0 * nu + mz) * D * E2) / m;
    F3 = 0.5 * radial;
    F4 = F3;
    F5 = -(A * E1 + B * E2 - (1.0 - 4.0 * nu - mz) * C * E1 + (1.0 - 4.0 * nu + mz) * D * E2);
    F6 = A * E1 - B * E2 + (2.0 * nu + mz) * C * E1 + (2.0 * nu - mz) * D * E2;
  } else {
    const double A = X[4 * n - 4], B = X[4 * n - 3];
    F1 = E2 * (A - (1.0 - mz) * B) / m;
    F2 = E2 * (A + (2.0 - 4.0 * nu + mz) * B) / m;
    F3 = 0.5 * E2 * (A - (1.0 - mz) * B);
    F4 = F3;
    F5 = -E2 * (A + (1.0 - 4.0 * nu + mz) * B);
    F6 = E2 * ((2.0 * nu - mz) * B - A);
  }
  if (r == 0.0) {
    F1 = 0.0;
    F6 = 0.0;
  }
}

// exp(-m zeta), 1 exactly for a point at the top of its layer, and
// exp(m (zeta - h)) of a layer of thickness h.
double decay_below_top(double m, double zeta) { return zeta == 0.0 ? 1.0 : std::exp(-m * zeta); }
double decay_above_bottom(double m, double zeta, double h) { return std::exp(m * (zeta - h)); }

// The exponentials at node `node` (parameter m) from the table, computed
// the first time they are asked for.
const double* decay_at(IntervalCache::DecayTable& d, int node, double m) {
  grow_to_node(d.values, d.known, node, 2, 1);
  double* e = d.values.data() + std::size_t(node) * 2;
  if (!d.known[std::size_t(node)]) {
    e[0] = decay_below_top(m, d.zeta);
    e[1] = d.above_bottom ? decay_above_bottom(m, d.zeta, d.h) : 0.0;
    d.known[std::size_t(node)] = 1;
  }
  return e;
}

// The six kernels at node `node`, off the axis, from the point's kernel
// table, computed the first time they are asked for.
const double* kernel_at(const PointSetup& pt, IntervalCache::KernelTable& kt, const double* X,
                        double m, int node) {
  grow_to_node(kt.values, kt.known, node, 6, 1);
  double* v = kt.values.data() + std::size_t(node) * 6;
  if (!kt.known[std::size_t(node)]) {
    const double* e = decay_at(*pt.decay, node, m);
    kernel_from_decay(pt.j, pt.layers->n, X, m, /*off the axis*/ 1.0, pt.zeta, pt.layers->pr, e[1],
                      e[0], v[0], v[1], v[2], v[3], v[4], v[5]);
    kt.known[std::size_t(node)] = 1;
  }
  return v;
}

// Only the Bessel products that the active components use are formed: a
// converged component needs none of its own, and J2 (the costliest) serves
// only the radial and tangential strains. On the axis m r = 0 and the
// functions' values there are taken from a first evaluation at 0.
void evaluate_integrand(const PointSetup& pt, const std::array<int, 6>& active, const double* X,
                        double m, double j1a, BesselTable& tab, IntervalCache::KernelTable& kt,
                        int node, Integrand& out) {
  const bool need_b0 = active[0] || active[3] || active[4] || active[5];
  const bool need_b1 = active[1] || active[2];
  const bool need_b2 = active[3] || active[4];
  const double mr = m * pt.r;
  double B0 = 0.0, B1 = 0.0, B2 = 0.0;
  if (mr == 0.0) {
    static const double at_zero[3] = {bessel_j0(0.0), bessel_j1(0.0), bessel_j2(0.0)};
    B0 = at_zero[0] * j1a;
    B1 = at_zero[1] * j1a;
    B2 = at_zero[2] * j1a;
  } else {
    if (need_b0 && need_b1) bessel_pair_at(tab, node, mr);
    if (need_b0) B0 = bessel_at(tab, node, 0, mr) * j1a;
    if (need_b1) B1 = bessel_at(tab, node, 1, mr) * j1a;
    if (need_b2) B2 = bessel_at(tab, node, 2, mr) * j1a;
  }
  // Read in place: a copy of the six, which the table has only just written
  // when the node is new, waits on those stores. On the axis F1 and F6 are
  // zero.
  const double* F = kernel_at(pt, kt, X, m, node);
  const bool on_axis = pt.r == 0.0;
  out.K[0] = F[1] * B0;
  out.K[1] = (on_axis ? 0.0 : F[0]) * B1;
  out.K[2] = (on_axis ? 0.0 : F[5]) * B1;
  out.K[3] = F[2] * (B0 - pt.s * B2);
  out.K[4] = F[3] * (B0 + pt.s * B2);
  out.K[5] = F[4] * B0;
}

// Depth of the point below the top of its own layer.
double local_depth(const LayerSet& layers, int j, double z) {
  if (j <= 1) return z;
  double top = 0.0;
  for (int i = 0; i < j - 1; ++i) top += layers.h[i];
  return z - top;
}

// Prepares interval k (>= 2) after interval k - 1: finds the geometric
// points that cover it, fits each coefficient over them and evaluates the
// fits at the interval's Gauss nodes. Returns false when fewer than three
// points cover it, where every integration stops.
bool prepare_interval(const TransformTables& t, IntervalCache& cache, int k) {
  if (cache.stop_at != 0) return false;
  const int first = cache.last;
  int last = cache.last;
  const double end = t.breaks[k];  // breaks(k + 1)
  for (int i = last; i <= t.ngeom; ++i) {
    if (t.grid[kGaussPoints + i - 1] >= end) {
      last = i;
      break;
    }
  }
  const int count = last - first + 1;
  if (count < 3) {
    cache.stop_at = k;
    return false;
  }
  if (count > kMaxSplineData) {
    toolkit::RoutineScope scope("LAYERRESPONSE");
    toolkit::E1STI(1, count);
    toolkit::E1STI(2, kMaxSplineData);
    toolkit::E1STD(1, t.radius);
    raise(EngineMessage::spline_capacity);
  }

  const double w = t.breaks[k] - t.breaks[k - 1];
  double* xe = cache.xe.data() + std::size_t(k - 1) * kGaussPoints;
  double* j1a = cache.j1a.data() + std::size_t(k - 1) * kGaussPoints;
  for (int p = 0; p < kGaussPoints; ++p) {
    xe[p] = t.breaks[k - 1] + w * t.nodes[p];
    j1a[p] = bessel_j1(xe[p] * t.radius);
  }
  for (int p = 0; p < count; ++p) cache.abscissa[p] = t.grid[kGaussPoints + first + p - 1];
  if (cache.on_demand != nullptr) cache.on_demand->before(kGaussPoints + last);

  const int nc = cache.ncoef;
  const int nfit = cache.coefficients_fitted > 0 ? std::min(cache.coefficients_fitted, nc) : nc;
  double* values = cache.values.data() + std::size_t(k - 1) * kGaussPoints * nc;
  if (cache.fit_sets_together) {
    // Coefficient c at the interval's grid points and at its nodes: stride
    // nc from point to point in both the table and the values.
    toolkit::DSPLEZ_sets(count, cache.abscissa.data(), nfit, t.column(kGaussPoints + first - 1), nc, 1,
                         kCoefficientSpline, 0, kGaussPoints, xe, values, nc, 1);
  } else {
    for (int c = 0; c < nfit; ++c) {
      for (int p = 0; p < count; ++p) cache.ordinate[p] = t.column(kGaussPoints + first + p - 1)[c];
      toolkit::DSPLEZ(count, cache.abscissa.data(), cache.ordinate.data(), kCoefficientSpline, 0,
                      kGaussPoints, xe, cache.fitted.data());
      for (int p = 0; p < kGaussPoints; ++p) values[std::size_t(p) * nc + c] = cache.fitted[p];
    }
  }
  cache.width[k - 1] = w;
  cache.last = last;
  cache.prepared = k;
  return true;
}

bool interval_ready(const TransformTables& t, IntervalCache& cache, int k) {
  if (k <= cache.prepared) return true;
  return prepare_interval(t, cache, k);
}

}  // namespace

// Keys compare by their bits: equal values give equal bits here (the radius
// is positive and the distance an absolute value), and a NaN distance finds
// its own table, whose values are NaN whatever they are.
bool BesselCache::Key::operator==(const Key& o) const {
  return std::memcmp(this, &o, sizeof(Key)) == 0;
}

std::size_t BesselCache::KeyHash::operator()(const Key& k) const {
  std::uint64_t a, b;
  std::memcpy(&a, &k.radius, sizeof a);
  std::memcpy(&b, &k.r, sizeof b);
  return std::hash<std::uint64_t>()(a ^ (b * 0x9E3779B97F4A7C15ull));
}

void BesselCache::fit_to(int pairs) {
  capacity_ = std::clamp(pairs, kMinTables, kMaxTables);
  if (int(tables_.size()) > capacity_) {  // keep the first tables, forget the rest
    for (std::size_t i = std::size_t(capacity_); i < tables_.size(); ++i)
      index_.erase(Key{tables_[i].radius, tables_[i].r});
    tables_.resize(std::size_t(capacity_));
  }
  if (next_ >= capacity_) next_ = 0;
}

BesselTable& BesselCache::table_for(double radius, double r) {
  const Key key{radius, r};
  const auto found = index_.find(key);
  if (found != index_.end()) return tables_[std::size_t(found->second)];

  int slot;
  if (int(tables_.size()) < capacity_) {
    slot = int(tables_.size());
    tables_.emplace_back();
  } else {
    slot = next_;
    next_ = (next_ + 1) % capacity_;
    index_.erase(Key{tables_[std::size_t(slot)].radius, tables_[std::size_t(slot)].r});
  }
  BesselTable& t = tables_[std::size_t(slot)];
  t.values.clear();
  t.known.clear();
  t.radius = radius;
  t.r = r;
  index_.emplace(key, slot);
  return t;
}

IntervalCache::DecayTable& IntervalCache::decay_table(double zeta, bool above_bottom, double h) {
  if (!above_bottom) h = 0.0;
  for (DecayTable& d : decays) {
    if (same_bits(d.radius, radius) && same_bits(d.zeta, zeta) && d.above_bottom == above_bottom &&
        same_bits(d.h, h)) {
      return d;
    }
  }
  DecayTable* d = nullptr;
  if (decays.size() < kDecayTables) {
    d = &decays.emplace_back();
  } else {
    d = &decays[next_decay];
    next_decay = (next_decay + 1) % kDecayTables;
  }
  d->radius = radius;
  d->zeta = zeta;
  d->above_bottom = above_bottom;
  d->h = h;
  std::fill(d->known.begin(), d->known.end(), 0);
  return *d;
}

IntervalCache::KernelTable& IntervalCache::kernel_table(int j, double zeta) {
  for (std::size_t i = 0; i < kernels_used; ++i) {
    KernelTable& kt = kernels[i];
    if (kt.j == j && same_bits(kt.zeta, zeta)) return kt;
  }
  std::size_t slot = kernels_used;
  if (kernels_used < kKernelTables) {
    ++kernels_used;
  } else {
    slot = next_kernel;
    next_kernel = (next_kernel + 1) % kKernelTables;
  }
  if (kernels.size() <= slot) kernels.resize(slot + 1);
  KernelTable& kt = kernels[slot];
  kt.j = j;
  kt.zeta = zeta;
  std::fill(kt.known.begin(), kt.known.end(), 0);
  return kt;
}

void IntervalCache::reset(const TransformTables& t) {
  kernels_used = 0;
  next_kernel = 0;
  ncoef = t.ncoef;
  radius = t.radius;
  const std::size_t need = std::size_t(kBreaks) * kGaussPoints * ncoef;
  if (values.size() < need) values.resize(need);
  prepared = 1;
  stop_at = 0;
  last = 1;
  for (int k = 0; k < kGaussPoints; ++k) j1a_first[k] = bessel_j1(t.grid[k] * t.radius);
}

void layer_kernel(int j, int n, const double* X, double m, double r, double zeta, const double* h,
                  const double* nu_of, double& F1, double& F2, double& F3, double& F4, double& F5,
                  double& F6) {
  const double E2 = decay_below_top(m, zeta);
  const double E1 = j < n ? decay_above_bottom(m, zeta, h[j - 1]) : 0.0;
  kernel_from_decay(j, n, X, m, r, zeta, nu_of, E1, E2, F1, F2, F3, F4, F5, F6);
}

void layer_response(const TransformTables& t, IntervalCache& cache, BesselCache& bessel,
                   const LayerSet& layers, int L,
                   const double* q, const double* a, double z, int j, double r,
                   const std::array<double, 10>& abstol, const std::array<double, 10>& reltol,
                   PointResponse& out, Responses wanted) {
  const double aL = a[L - 1];
  const double m1 = kFirstJ1Zero / aL;
  const double zeta = local_depth(layers, j, z);
  const bool above_bottom = j < layers.n;
  IntervalCache::DecayTable& decay =
      cache.decay_table(zeta, above_bottom, above_bottom ? layers.h[j - 1] : 0.0);
  const PointSetup pt{&layers, j, r, zeta, r != 0.0 ? 1.0 : 0.0, &decay};

  std::array<double, 6> S{};
  std::array<int, 6> active{1, 1, 1, 1, 1, 1};
  if (r == 0.0) active[1] = 0;  // no radial displacement on the axis
  if (wanted == Responses::deflection) active = {1, 0, 0, 0, 0, 0};

  BesselTable& tab = bessel.table_for(t.radius, r);
  IntervalCache::KernelTable& kt = cache.kernel_table(j, pt.zeta);
  Integrand f;
  for (int k = 0; k < kGaussPoints; ++k) {
    evaluate_integrand(pt, active, t.column(k), t.grid[k], cache.j1a_first[k], tab, kt, k, f);
    for (int c = 0; c < 6; ++c) {
      if (active[c]) S[c] += f.K[c] * t.weights[k] * m1;
    }
  }

  // Later intervals until every component has converged, the grid runs out
  // or the last break is reached.
  int k = 2;
  bool any_active = true;
  do {
    if (!interval_ready(t, cache, k)) break;
    const double w = cache.width[k - 1];
    const double* xe = cache.xe.data() + std::size_t(k - 1) * kGaussPoints;
    const double* j1a = cache.j1a.data() + std::size_t(k - 1) * kGaussPoints;
    std::array<double, 6> Y{};
    for (int p = 0; p < kGaussPoints; ++p) {
      evaluate_integrand(pt, active, cache.coefficients(k, p), xe[p], j1a[p], tab, kt,
                         (k - 1) * kGaussPoints + p, f);
      for (int c = 0; c < 6; ++c) {
        if (active[c]) Y[c] += f.K[c] * t.weights[p] * w;
      }
    }
    any_active = false;
    for (int c = 0; c < 6; ++c) {
      const double da = std::abs(Y[c]);
      const double dr = S[c] != 0.0 ? std::abs(Y[c] / S[c]) : 0.0;
      active[c] = (da > abstol[c] || dr > reltol[c]) ? 1 : 0;
      S[c] += Y[c];
      if (active[c]) any_active = true;
    }
    ++k;
  } while (k < kBreaks && any_active);

  out.near_surface = (j == 1 && kNearSurfaceDepth * aL >= z) ? 1 : 0;
  const double f_scale = (1.0 + layers.pr[j - 1]) / layers.e[j - 1] * q[L - 1] * aL;
  out.w = f_scale * S[0];
  out.u = f_scale * S[1];
  out.er = f_scale * S[3];
  out.et = f_scale * S[4];
  out.ez = f_scale * S[5];
  out.erz = f_scale * S[2];
}

}  // namespace zalk::engine
