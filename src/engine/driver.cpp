#include "engine/driver.h"

#include <algorithm>
#include <cmath>

#include "engine/engine_messages.h"
#include "plate/btwodimension.h"
#include "toolkit/errors.h"

namespace zalk::engine {
namespace {

// A top layer deeper than this many radii is split into two of the same
// material: the upper one kNearSurfaceDepth radii deep, or halves when
// that would leave a thinner lower one.
constexpr double kHalvingDepth = 0.9;

// Raises a terminal message of the set-up under QUORVAN, the routine the
// engine's messages have always named.
void refuse(EngineMessage message) {
  toolkit::RoutineScope scope("QUORVAN");
  raise(message);
}

void check_counts(const DeckProblem& problem) {
  if (problem.nlayer < 2 || problem.nlayer > kMaxLayers) {
    toolkit::E1STI(1, problem.nlayer);
    refuse(EngineMessage::layer_count);
  }
  if (problem.nload < 0 || problem.nload > kMaxLoads) {
    toolkit::E1STI(1, problem.nload);
    refuse(EngineMessage::load_count);
  }
  if (problem.npoint < 0 || problem.npoint > kMaxPoints) {
    toolkit::E1STI(1, problem.npoint);
    refuse(EngineMessage::point_count);
  }
}

void refuse_layer_value(EngineMessage message, int layer, double value) {
  toolkit::E1STI(1, layer);
  toolkit::E1STD(1, value);
  refuse(message);
}

// Moduli and Poisson's ratios that the layer system and Hooke's law can take
// (nu = 0.5 makes the stresses infinite), and thicknesses of the finite
// layers (the half-space's is not used). A layer of thickness 0 is allowed.
void check_layers(const DeckProblem& problem) {
  for (int i = 0; i < problem.nlayer; ++i) {
    const double e = problem.emod[i], nu = problem.pratio[i], h = problem.thick[i];
    if (!(e > 0.0 && std::isfinite(e))) refuse_layer_value(EngineMessage::bad_modulus, i + 1, e);
    if (!(nu > -1.0 && nu < 0.5)) refuse_layer_value(EngineMessage::bad_poisson, i + 1, nu);
    if (i + 1 < problem.nlayer && !(h >= 0.0 && std::isfinite(h)))
      refuse_layer_value(EngineMessage::bad_thickness, i + 1, h);
  }
}

// Radii the integration grid serves: it is laid out for lengths in inches,
// and a smaller radius would be integrated over too short a range.
void check_loads(const DeckProblem& problem) {
  for (int j = 0; j < problem.nload; ++j) {
    const double a = problem.radius[j];
    if (!(a >= smallest_served_radius() && std::isfinite(a))) {
      toolkit::E1STI(1, j + 1);
      toolkit::E1STD(1, a);
      toolkit::E1STD(2, smallest_served_radius());
      refuse(EngineMessage::radius_below_reach);
    }
  }
}

void check_points(const DeckProblem& problem) {
  for (int k = 0; k < problem.npoint; ++k) {
    const int layer = problem.lpoint[k];
    if (layer < 1 || layer > problem.nlayer) {
      toolkit::E1STI(1, k + 1);
      toolkit::E1STI(2, layer);
      toolkit::E1STI(3, problem.nlayer);
      refuse(EngineMessage::point_layer);
    }
    const double z = problem.zpoint[k];
    if (!(z >= 0.0 && std::isfinite(z))) {
      toolkit::E1STI(1, k + 1);
      toolkit::E1STD(1, z);
      refuse(EngineMessage::bad_depth);
    }
  }
}

// Depths of the interfaces read from a deck carry rounding of their decimal
// fields: a point this close (relative) to an interface counts as on it.
constexpr double kOnInterface = 1e-9;

bool within_layer(const CurrentProblem& cur, int layer, double z) {
  double top = 0.0;
  for (int i = 0; i < layer - 1; ++i) top += cur.h[i];
  const double slack = kOnInterface * std::max(1.0, top + cur.h[layer - 1]);
  if (z < top - slack) return false;
  return layer == cur.nl || z <= top + cur.h[layer - 1] + slack;
}

// The layer whose depth range holds z; a depth on an interface belongs to
// the layer above it.
int layer_at_depth(const CurrentProblem& cur, double z) {
  double bottom = 0.0;
  for (int i = 1; i < cur.nl; ++i) {
    bottom += cur.h[i - 1];
    if (z <= bottom) return i;
  }
  return cur.nl;
}

// A point declared in a layer that does not hold its depth would be
// evaluated with that layer's solution continued outside it, which grows
// without bound; it is evaluated in the layer that holds it instead, with a
// warning. Points in (or on the boundary of) their declared layer keep it.
void place_points_in_their_layers(CurrentProblem& cur) {
  for (int k = 0; k < cur.npt; ++k) {
    if (within_layer(cur, cur.lp[k], cur.zp[k])) continue;
    const int actual = layer_at_depth(cur, cur.zp[k]);
    toolkit::RoutineScope scope("QUORVAN");
    toolkit::E1STI(1, k + 1);
    toolkit::E1STD(1, cur.zp[k]);
    toolkit::E1STI(2, cur.lp[k]);
    toolkit::E1STI(3, actual);
    raise(EngineMessage::point_moved);
    cur.lp[k] = actual;
  }
}

// The smallest load radius decides the split, so that every point left in
// the top layer is near the surface for every load (the near-surface flag
// is decided per load, with the load's own radius).
double smallest_radius(const CurrentProblem& cur) {
  double a = cur.a[0];
  for (int j = 1; j < cur.nld; ++j) {
    if (cur.a[j] < a) a = cur.a[j];
  }
  return a;
}

// Splits a top layer deeper than 0.45 radii into two of the same material,
// the upper one no deeper than 0.45 radii, and moves the points below the
// new interface one layer down. A point exactly on it stays in the top layer.
void split_top_layer(CurrentProblem& cur) {
  if (cur.nld < 1) return;
  const double a = smallest_radius(cur);
  if (!(kNearSurfaceDepth * a < cur.h[0])) return;

  for (int m = cur.nl + 1; m >= 3; --m) {
    cur.h[m - 1] = cur.h[m - 2];
    cur.e[m - 1] = cur.e[m - 2];
    cur.pr[m - 1] = cur.pr[m - 2];
    cur.bd[m - 1] = cur.bd[m - 2];
  }
  cur.e[1] = cur.e[0];
  cur.pr[1] = cur.pr[0];
  cur.bd[1] = cur.bd[0];
  cur.bd[0] = 1.0;
  cur.nl = cur.nl + 1;

  const double old_h1 = cur.h[0];
  if (kHalvingDepth * a < old_h1) {
    cur.h[1] = old_h1 - kNearSurfaceDepth * a;
    cur.h[0] = kNearSurfaceDepth * a;
  } else {
    cur.h[0] = old_h1 / 2.0;
    cur.h[1] = old_h1 / 2.0;
  }
  for (int k = 0; k < cur.npt; ++k) {
    if (cur.zp[k] > cur.h[0]) cur.lp[k] = cur.lp[k] + 1;
  }
}

struct Candidate {
  double s1 = 0, s3 = 0, s1f = 0, ratio = 0;
};

// Mohr-Coulomb check in one vertical plane: major and minor principal
// stresses (compression positive, overburden zov added) and the major
// stress the soil could bear at the given minor stress.
Candidate mohr_coulomb(double sa, double sb, double t, float zov, float coh, double kp) {
  Candidate c;
  const double cm = (sb + sa) / 2.0;
  const double dm = (sb - sa) / 2.0;
  const double rm = std::sqrt(dm * dm + t * t);
  c.s1 = (rm - cm) + double(zov);
  c.s3 = double(0.5f * zov) - (rm + cm);
  c.s1f = double(coh) * 2.0 * kp + kp * kp * c.s3;
  c.ratio = c.s1f / c.s1;
  return c;
}

// Candidates A (x-z plane) and B (y-z plane) at point k; a horizontal
// tension is not carried by the granular layer and is set to 0 in the slots.
Candidate plane_xz(ResultSlots& rs, int k, float zov, float coh, double kp) {
  if (rs.at(4, k) > 0.0) rs.at(4, k) = 0.0;
  return mohr_coulomb(rs.at(4, k), rs.at(6, k), rs.at(9, k), zov, coh, kp);
}
Candidate plane_yz(ResultSlots& rs, int k, float zov, float coh, double kp) {
  if (rs.at(5, k) > 0.0) rs.at(5, k) = 0.0;
  return mohr_coulomb(rs.at(5, k), rs.at(6, k), rs.at(8, k), zov, coh, kp);
}

}  // namespace

double passive_coefficient() {
  const double friction_angle = 24.0;
  return std::tan((friction_angle / 2.0 + 45.0) / 180.0 * double(3.141596f));
}

void set_up_problem(EngineWorkspace& ws, const DeckProblem& problem) {
  check_counts(problem);
  check_layers(problem);
  check_loads(problem);
  check_points(problem);
  CurrentProblem& cur = ws.current;
  cur.nl = problem.nlayer;
  for (int i = 0; i < cur.nl; ++i) {
    cur.e[i] = problem.emod[i];
    cur.pr[i] = problem.pratio[i];
    cur.h[i] = problem.thick[i];
    cur.bd[i] = problem.bond[i];
  }
  cur.nld = problem.nload;
  for (int j = 0; j < cur.nld; ++j) {
    cur.p[j] = problem.press[j];
    cur.a[j] = problem.radius[j];
    cur.xl[j] = problem.xload[j];
    cur.yl[j] = problem.yload[j];
  }
  cur.npt = problem.npoint;
  for (int k = 0; k < cur.npt; ++k) {
    cur.lp[k] = problem.lpoint[k];
    cur.xp[k] = problem.xpoint[k];
    cur.yp[k] = problem.ypoint[k];
    cur.zp[k] = problem.zpoint[k];
  }
  place_points_in_their_layers(cur);
  split_top_layer(cur);
  for (auto& s : ws.rslot.slot) s.fill(0.0);
}

namespace {

// The coefficients the kernels of the current points read: four per layer
// down to the deepest point's (the half-space's two after them).
int coefficients_read(const CurrentProblem& cur) {
  int deepest = 1;
  for (int k = 0; k < cur.npt; ++k) deepest = std::max(deepest, cur.lp[k]);
  return std::min(4 * deepest, coefficient_count(cur.nl));
}

// Takes the interval cache out of its on-demand state however the analysis
// ends (a refused problem throws through the reporter).
struct OnDemandScope {
  IntervalCache& cache;
  OnDemandScope(IntervalCache& c, const ColumnsOnDemand* on_demand, int fitted) : cache(c) {
    cache.on_demand = on_demand;
    cache.coefficients_fitted = fitted;
  }
  ~OnDemandScope() {
    cache.on_demand = nullptr;
    cache.coefficients_fitted = 0;
  }
  OnDemandScope(const OnDemandScope&) = delete;
  OnDemandScope& operator=(const OnDemandScope&) = delete;
};

void analyse_loads_and_points(EngineWorkspace& ws, const std::array<double, 10>& abstol,
                              const std::array<double, 10>& reltol, Responses wanted) {
  CurrentProblem& cur = ws.current;
  const LayerSet layers = cur.layers();
  const ColumnsOnDemand on_demand{&layers, &ws.tables, &ws.solver};
  const bool deflection = wanted == Responses::deflection;
  const bool lazy = deflection || ws.columns_on_demand;
  const OnDemandScope scope(ws.intervals, lazy ? &on_demand : nullptr, deflection ? coefficients_read(cur) : 0);
  // Every (radius, distance) pair of the problem keeps its Bessel table.
  ws.bessel.fit_to(cur.nld * cur.npt);
  PointResponse resp;
  for (int j = 1; j <= cur.nld; ++j) {
    // The tables depend only on the radius and the layers.
    if (j == 1 || !(cur.a[j - 1] == cur.a[j - 2])) {
      if (lazy)
        start_transform_grid(cur.a[j - 1], layers, ws.tables, ws.solver);
      else
        transform_grid(cur.a[j - 1], layers, ws.tables, ws.solver);
      ws.intervals.reset(ws.tables);
    }
    for (int k = 1; k <= cur.npt; ++k) {
      int ipt = k;
      int iload = j;
      double px = cur.xp[k - 1], py = cur.yp[k - 1], pz = cur.zp[k - 1];
      int player = cur.lp[k - 1];
      const double dx = cur.xl[j - 1] - px;
      const double dy = cur.yl[j - 1] - py;
      const double rdist = std::abs(std::sqrt(dx * dx + dy * dy));
      layer_response(ws.tables, ws.intervals, ws.bessel, layers, j, cur.p.data(), cur.a.data(), pz, player,
                    rdist, abstol, reltol, resp, wanted);
      auto& s = ws.rslot.slot;
      plate::add_load_response(kMaxEngineLayers, &ipt, &iload, &resp.near_surface, cur.xl.data(),
                               cur.yl.data(), cur.p.data(), cur.a.data(), &pz, &player, &px, &py,
                               &resp.w, &resp.u, &resp.er, &resp.et, &resp.ez, &resp.erz,
                               s[0].data(), s[1].data(), s[2].data(), s[3].data(), s[4].data(),
                               s[5].data(), s[6].data(), s[7].data(), s[8].data(), s[9].data(),
                               s[10].data(), s[11].data(), s[12].data(), s[13].data(),
                               s[14].data(), cur.e.data(), cur.pr.data());
    }
  }
}

}  // namespace

void analyse_current(EngineWorkspace& ws, const std::array<double, 10>& abstol,
                     const std::array<double, 10>& reltol) {
  analyse_loads_and_points(ws, abstol, reltol, Responses::all);
}

void analyse_current_deflections(EngineWorkspace& ws, const std::array<double, 10>& abstol,
                                 const std::array<double, 10>& reltol) {
  analyse_loads_and_points(ws, abstol, reltol, Responses::deflection);
}

void analyse_current_accurately(EngineWorkspace& ws) {
  CurrentProblem& cur = ws.current;
  const LayerSet layers = cur.layers();
  PointResponse resp;
  for (int j = 1; j <= cur.nld; ++j) {
    if (j == 1 || !(cur.a[j - 1] == cur.a[j - 2])) reset_accurate_tables(ws.accurate, cur.a[j - 1], layers);
    for (int k = 1; k <= cur.npt; ++k) {
      int ipt = k, iload = j, player = cur.lp[k - 1];
      double px = cur.xp[k - 1], py = cur.yp[k - 1], pz = cur.zp[k - 1];
      const double rdist = std::hypot(cur.xl[j - 1] - px, cur.yl[j - 1] - py);
      accurate_layer_response(ws.accurate, layers, j, cur.p.data(), cur.a.data(), pz, player, rdist, resp);
      auto& s = ws.rslot.slot;
      plate::add_load_response(kMaxEngineLayers, &ipt, &iload, &resp.near_surface, cur.xl.data(),
                               cur.yl.data(), cur.p.data(), cur.a.data(), &pz, &player, &px, &py,
                               &resp.w, &resp.u, &resp.er, &resp.et, &resp.ez, &resp.erz,
                               s[0].data(), s[1].data(), s[2].data(), s[3].data(), s[4].data(),
                               s[5].data(), s[6].data(), s[7].data(), s[8].data(), s[9].data(),
                               s[10].data(), s[11].data(), s[12].data(), s[13].data(),
                               s[14].data(), cur.e.data(), cur.pr.data());
    }
  }
}

void mode2_indicators(ResultSlots& rs, float h1, float h2, float coh, double kp, float* column) {
  // Overburden at mid-depth of the base layer.
  const float zov = 0.087f * (h1 + h2 / 2.0f);

  const Candidate a2 = plane_xz(rs, 2, zov, coh, kp);
  const Candidate b2 = plane_yz(rs, 2, zov, coh, kp);
  Candidate gov = a2.ratio < b2.ratio ? a2 : b2;
  const Candidate a4 = plane_xz(rs, 4, zov, coh, kp);
  if (a4.ratio < gov.ratio) gov = a4;
  const Candidate b4 = plane_yz(rs, 4, zov, coh, kp);
  if (b4.ratio < gov.ratio) gov = b4;

  const double ez3 = std::abs(rs.at(12, 3));
  const double ez5 = std::abs(rs.at(12, 5));
  column[0] = float(rs.at(10, 1));
  column[1] = float(std::abs(rs.at(12, 2)));
  column[2] = float(gov.s3);
  column[3] = float(gov.s1f);
  column[4] = float(gov.ratio);
  column[5] = float(ez5 > ez3 ? ez5 : ez3);
  column[6] = float(gov.s1);
  column[7] = float(rs.at(5, 3));
  column[8] = float((rs.at(1, 1) - rs.at(1, 3)) * 1000.0);
}

}  // namespace zalk::engine
