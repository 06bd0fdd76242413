#include "rating/basin_grid.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "rating/fit.h"

namespace zalk::rating {
namespace {

// Weights of cubic Lagrange interpolation on nodes -1, 0, 1, 2 at x in
// [0, 1], and of its derivative.
void cubic_weights(double x, std::array<double, 4>& c, std::array<double, 4>& d) {
  c = {-x * (x - 1) * (x - 2) / 6, (x + 1) * (x - 1) * (x - 2) / 2, -(x + 1) * x * (x - 2) / 2,
       (x + 1) * x * (x - 1) / 6};
  d = {-(3 * x * x - 6 * x + 2) / 6, (3 * x * x - 4 * x - 1) / 2, -(3 * x * x - 2 * x - 2) / 2,
       (3 * x * x - 1) / 6};
}

// The first of the four nodes around u (lattice step h), and u's place
// from the second of them.
int lattice_start(double u, double h, double& x) {
  const double f = std::floor(u / h);
  x = u / h - f;
  return int(f) - 1;
}

std::uint64_t key(int i, int j, int k) {
  return (std::uint64_t(std::uint32_t(i + (1 << 20))) << 40) ^ (std::uint64_t(std::uint32_t(j + (1 << 20))) << 16) ^
         std::uint64_t(std::uint32_t(k + 1));
}

}  // namespace

void BasinGrid::use_section(double h1, double h2, const std::vector<double>& offsets,
                            const std::vector<double>& depths) {
  const auto same = [&](const Section& s) {
    return s.h1 == h1 && s.h2 == h2 && s.offsets == offsets && s.depths == depths;
  };
  auto kept = std::find_if(sections_.begin(), sections_.end(), same);
  if (kept == sections_.end()) {
    if (sections_.size() < kSectionsKept) {
      kept = sections_.emplace(sections_.end());
    } else {
      kept = std::min_element(sections_.begin(), sections_.end(),
                              [](const Section& a, const Section& b) { return a.last_use < b.last_use; });
    }
    *kept = Section{h1, h2, offsets, depths, {}, 0};
  }
  kept->last_use = ++uses_;
  current_ = std::size_t(kept - sections_.begin());
  h1_ = h1;
  h2_ = h2;
  offsets_ = offsets;
  depths_ = depths;
  depth_step_ = std::log(depths.back() / depths.front()) / double(depths.size() - 1);
}

// Node (i, j) of the ratio lattice at depth k (k < 0: no stiff layer).
const std::vector<double>* BasinGrid::node(engine::EngineWorkspace& ws, int i, int j, int k) {
  auto& nodes = sections_[current_].nodes;
  const std::uint64_t id = key(i, j, k);
  auto at = nodes.find(id);
  if (at != nodes.end()) return at->second.empty() ? nullptr : &at->second;
  const double e3 = kReferenceSubgrade;
  const std::array<double, 3> moduli{std::exp(i * kRatioStep) * e3, std::exp(j * kRatioStep) * e3, e3};
  const double depth = k < 0 ? kNoStiffLayer : depths_[std::size_t(k)];
  std::vector<double> w = engine_basin(ws, h1_, h2_, depth, moduli, kReferenceLoad, offsets_, &engine_runs_);
  for (double v : w)
    if (!std::isfinite(v)) w.clear();
  const std::vector<double>& held = nodes.emplace(id, std::move(w)).first->second;
  return held.empty() ? nullptr : &held;
}

bool BasinGrid::basin(engine::EngineWorkspace& ws, double u1, double u2, double t, std::vector<double>& w,
                      std::vector<std::array<double, 3>>& grad) {
  return interpolate(ws, u1, u2, t, w, &grad);
}

bool BasinGrid::basin(engine::EngineWorkspace& ws, double u1, double u2, double t, std::vector<double>& w) {
  return interpolate(ws, u1, u2, t, w, nullptr);
}

// Without derivatives, nodes of weight zero are not visited: at a depth of
// the grid itself that leaves one depth's nodes of the four, and the
// engine runs for the other three are not made until a search with the
// depth free needs them. Their terms would add zeros: the values are the
// same either way.
bool BasinGrid::interpolate(engine::EngineWorkspace& ws, double u1, double u2, double t, std::vector<double>& w,
                            std::vector<std::array<double, 3>>* grad) {
  const std::size_t n = offsets_.size();
  w.assign(n, 0.0);
  if (grad != nullptr) grad->assign(n, {0.0, 0.0, 0.0});
  double x1 = 0, x2 = 0;
  const int i0 = lattice_start(u1, kRatioStep, x1), j0 = lattice_start(u2, kRatioStep, x2);
  std::array<double, 4> c1, d1, c2, d2, c3{1, 0, 0, 0}, d3{0, 0, 0, 0};
  cubic_weights(x1, c1, d1);
  cubic_weights(x2, c2, d2);
  int k0 = -1, nk = 1;
  if (t >= 0) {
    // Four depths around t, shifted inwards at the ends of the list.
    const int last = int(depths_.size()) - 1;
    k0 = std::clamp(int(std::floor(t)) - 1, 0, last - 3);
    cubic_weights(t - double(k0 + 1), c3, d3);
    nk = 4;
  }
  for (int a = 0; a < 4; ++a)
    for (int b = 0; b < 4; ++b)
      for (int c = 0; c < nk; ++c) {
        const double wv = c1[std::size_t(a)] * c2[std::size_t(b)] * c3[std::size_t(c)];
        if (grad == nullptr && wv == 0.0) continue;
        const std::vector<double>* v = node(ws, i0 + a, j0 + b, t >= 0 ? k0 + c : -1);
        if (v == nullptr) return false;
        for (std::size_t s = 0; s < n; ++s) w[s] += wv * (*v)[s];
        if (grad == nullptr) continue;
        const double g1 = d1[std::size_t(a)] * c2[std::size_t(b)] * c3[std::size_t(c)] / kRatioStep;
        const double g2 = c1[std::size_t(a)] * d2[std::size_t(b)] * c3[std::size_t(c)] / kRatioStep;
        const double g3 = c1[std::size_t(a)] * c2[std::size_t(b)] * d3[std::size_t(c)] / depth_step_;
        for (std::size_t s = 0; s < n; ++s) {
          (*grad)[s][0] += g1 * (*v)[s];
          (*grad)[s][1] += g2 * (*v)[s];
          (*grad)[s][2] += g3 * (*v)[s];
        }
      }
  return true;
}

}  // namespace zalk::rating
