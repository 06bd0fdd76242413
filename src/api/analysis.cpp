// zalk::analyse: checks the inputs, builds the engine's problem in inches
// and psi, runs the engine under a recording handler and reads the summed
// result slots back as named responses.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <memory>

#include "engine/driver.h"
#include "engine/quorvan.h"
#include "io/deck.h"
#include "api/checks.h"
#include "api/guard.h"
#include "zalk/analysis.hpp"

namespace zalk {

struct AnalysisWorkspace::Impl {
  std::unique_ptr<engine::EngineWorkspace> engine;  // allocated by the first call
  engine::DeckProblem problem;
  std::array<double, 10> abstol{}, reltol{};
};

AnalysisWorkspace::AnalysisWorkspace() : impl_(std::make_unique<Impl>()) {}
AnalysisWorkspace::~AnalysisWorkspace() = default;
AnalysisWorkspace::AnalysisWorkspace(AnalysisWorkspace&&) noexcept = default;
AnalysisWorkspace& AnalysisWorkspace::operator=(AnalysisWorkspace&&) noexcept = default;

namespace {

using detail::ApiMessage;
using detail::number_text;
using detail::refuse;

constexpr double kMetresPerInch = 0.0254;
constexpr double kPascalsPerPsi = 6894.757293168361;  // 0.45359237 kg x 9.80665 / 0.0254^2

struct Scale {
  double length = 1.0;  // inches per unit of the caller
  double stress = 1.0;  // psi per unit of the caller
};

Scale scale_of(Units units) {
  if (units == Units::si) return {1.0 / kMetresPerInch, 1.0 / kPascalsPerPsi};
  return {};
}

bool positive(double v) { return std::isfinite(v) && v > 0.0; }

[[noreturn]] void refuse_value(ApiMessage m, int index, double value) {
  toolkit::E1STI(1, index);
  toolkit::E1STL(1, number_text(value));
  refuse(m);
}

void check_counts(const Structure& s, const std::vector<CircularLoad>& loads,
                  const std::vector<Point>& points) {
  const auto n = [](std::size_t v) { return v > 1'000'000 ? 1'000'000 : int(v); };
  if (s.layers.size() < std::size_t(kMinLayers) || s.layers.size() > std::size_t(kMaxLayers)) {
    toolkit::E1STI(1, n(s.layers.size()));
    refuse(ApiMessage::layer_count);
  }
  if (loads.empty() || loads.size() > std::size_t(kMaxLoads)) {
    toolkit::E1STI(1, n(loads.size()));
    refuse(ApiMessage::load_count);
  }
  if (points.empty() || points.size() > std::size_t(kMaxPoints)) {
    toolkit::E1STI(1, n(points.size()));
    refuse(ApiMessage::point_count);
  }
}

void check_layers(const Structure& s, const AnalysisOptions& options, const Scale& scale) {
  const int nl = int(s.layers.size());
  for (int i = 1; i <= nl; ++i) {
    const Layer& layer = s.layers[std::size_t(i - 1)];
    const bool last = i == nl;
    if (!last && !positive(layer.thickness)) refuse_value(ApiMessage::thickness, i, layer.thickness);
    if (!positive(layer.modulus)) refuse_value(ApiMessage::modulus, i, layer.modulus);
    if (options.round_moduli_as_deck) {
      const double psi = layer.modulus * scale.stress;
      if (!(psi >= double(FLT_MIN) && psi <= double(FLT_MAX)))
        refuse_value(ApiMessage::deck_modulus, i, layer.modulus);
    }
    if (!(layer.poisson > -1.0 && layer.poisson < 0.5)) refuse_value(ApiMessage::poisson, i, layer.poisson);
    if (!last && !(layer.bond >= 0.0 && layer.bond <= 1.0)) refuse_value(ApiMessage::bond, i, layer.bond);
  }
}

void check_loads(const std::vector<CircularLoad>& loads) {
  for (std::size_t j = 0; j < loads.size(); ++j) {
    const CircularLoad& l = loads[j];
    const int index = int(j + 1);
    if (!positive(l.pressure)) refuse_value(ApiMessage::pressure, index, l.pressure);
    if (!positive(l.radius)) refuse_value(ApiMessage::radius, index, l.radius);
    if (!std::isfinite(l.x) || !std::isfinite(l.y)) {
      toolkit::E1STI(1, index);
      toolkit::E1STL(1, number_text(l.x));
      toolkit::E1STL(2, number_text(l.y));
      refuse(ApiMessage::load_position);
    }
  }
}

void check_points(const std::vector<Point>& points) {
  for (std::size_t k = 0; k < points.size(); ++k) {
    const Point& p = points[k];
    const int index = int(k + 1);
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
      toolkit::E1STI(1, index);
      toolkit::E1STL(1, number_text(p.x));
      toolkit::E1STL(2, number_text(p.y));
      toolkit::E1STL(3, number_text(p.z));
      refuse(ApiMessage::point_position);
    }
    if (p.z < 0.0) refuse_value(ApiMessage::point_above_surface, index, p.z);
  }
}

// Enumerations given a value outside their list (by a cast) are refused
// rather than read as some default.
void check_options(const AnalysisOptions& options) {
  const auto refuse_option = [](const char* name, int value) {
    toolkit::E1STI(1, value);
    toolkit::E1STL(1, name);
    refuse(ApiMessage::analysis_option);
  };
  if (options.units != Units::inch_psi && options.units != Units::si) refuse_option("units", int(options.units));
  if (options.interface_points != InterfacePoints::layer_below && options.interface_points != InterfacePoints::layer_above)
    refuse_option("interface_points", int(options.interface_points));
  if (options.accuracy != Accuracy::design && options.accuracy != Accuracy::high)
    refuse_option("accuracy", int(options.accuracy));
}

// The layer (1-based) holding depth z: interfaces lie at the running sums of
// the thicknesses; a point on one belongs to the layer below unless asked.
int layer_of(const engine::DeckProblem& problem, double z, InterfacePoints rule) {
  double bottom = 0.0;
  for (int i = 1; i < problem.nlayer; ++i) {
    bottom += problem.thick[std::size_t(i - 1)];
    const bool inside = rule == InterfacePoints::layer_below ? z < bottom : z <= bottom;
    if (inside) return i;
  }
  return problem.nlayer;
}

void build_problem(engine::DeckProblem& problem, const Structure& s,
                   const std::vector<CircularLoad>& loads, const std::vector<Point>& points,
                   const AnalysisOptions& options, const Scale& scale) {
  problem.nlayer = int(s.layers.size());
  for (std::size_t i = 0; i < s.layers.size(); ++i) {
    const Layer& layer = s.layers[i];
    const bool last = i + 1 == s.layers.size();
    const double psi = layer.modulus * scale.stress;
    problem.emod[i] = options.round_moduli_as_deck ? engine::modulus_through_deck(float(psi)) : psi;
    problem.pratio[i] = layer.poisson;
    problem.thick[i] = last ? 0.0 : layer.thickness * scale.length;
    problem.bond[i] = last ? 1.0 : layer.bond;  // as the deck leaves the half-space's
  }
  problem.nload = int(loads.size());
  for (std::size_t j = 0; j < loads.size(); ++j) {
    problem.press[j] = loads[j].pressure * scale.stress;
    problem.radius[j] = loads[j].radius * scale.length;
    problem.xload[j] = loads[j].x * scale.length;
    problem.yload[j] = loads[j].y * scale.length;
  }
  problem.npoint = int(points.size());
  for (std::size_t k = 0; k < points.size(); ++k) {
    problem.xpoint[k] = points[k].x * scale.length;
    problem.ypoint[k] = points[k].y * scale.length;
    problem.zpoint[k] = points[k].z * scale.length;
    problem.lpoint[k] = layer_of(problem, problem.zpoint[k], options.interface_points);
  }
}

// Eigenvalues of a symmetric tensor, largest first (trigonometric form).
std::array<double, 3> principal_values(const Tensor& t) {
  const double off = t.xy * t.xy + t.yz * t.yz + t.xz * t.xz;
  std::array<double, 3> v;
  if (off == 0.0) {
    v = {t.xx, t.yy, t.zz};
  } else {
    const double q = (t.xx + t.yy + t.zz) / 3.0;
    const double dx = t.xx - q, dy = t.yy - q, dz = t.zz - q;
    const double p = std::sqrt((dx * dx + dy * dy + dz * dz + 2.0 * off) / 6.0);
    const double det = dx * (dy * dz - t.yz * t.yz) - t.xy * (t.xy * dz - t.yz * t.xz) +
                       t.xz * (t.xy * t.yz - dy * t.xz);
    const double r = std::fmax(-1.0, std::fmin(1.0, det / (2.0 * p * p * p)));
    const double phi = std::acos(r) / 3.0;
    const double pi = 3.14159265358979323846;
    v[0] = q + 2.0 * p * std::cos(phi);
    v[2] = q + 2.0 * p * std::cos(phi + 2.0 * pi / 3.0);
    v[1] = 3.0 * q - v[0] - v[2];
  }
  std::sort(v.begin(), v.end(), [](double a, double b) { return a > b; });
  return v;
}

Response response_at(const engine::EngineWorkspace& ws, int k, int layer, const Scale& scale) {
  const auto slot = [&](int s) { return engine::result_slot(ws, s, k); };
  const double to_length = 1.0 / scale.length, to_stress = 1.0 / scale.stress;
  Response r;
  r.layer = layer;
  r.w = slot(1) * to_length;
  r.u_x = slot(2) * to_length;
  r.u_y = slot(3) * to_length;
  r.stress = {slot(4) * to_stress, slot(5) * to_stress, slot(6) * to_stress,
              slot(7) * to_stress, slot(8) * to_stress, slot(9) * to_stress};
  r.strain = {slot(10), slot(11), slot(12), slot(13), slot(14), slot(15)};
  r.principal_stresses = principal_values(r.stress);
  r.principal_strains = principal_values(r.strain);
  return r;
}

// The integration tolerances the deck reader gives every problem.
void set_deck_tolerances(AnalysisWorkspace::Impl& w) {
  engine::ProblemSet set;
  engine::read_deck_text(engine::write_deck_text(engine::DeckRequest{}), set);
  w.abstol = set.abstol;
  w.reltol = set.reltol;
}

}  // namespace

AnalysisResult analyse(AnalysisWorkspace& workspace, const Structure& structure,
                       const std::vector<CircularLoad>& loads, const std::vector<Point>& points,
                       const AnalysisOptions& options) {
  AnalysisResult result;
  if (!workspace.impl_) workspace.impl_ = std::make_unique<AnalysisWorkspace::Impl>();  // moved from
  AnalysisWorkspace::Impl& w = *workspace.impl_;
  const Scale scale = scale_of(options.units);
  result.status = detail::run_guarded("zalk::analyse", [&] {
    check_options(options);
    check_counts(structure, loads, points);
    check_layers(structure, options, scale);
    check_loads(loads);
    check_points(points);
    for (std::size_t j = 0; j < loads.size(); ++j) detail::check_load_reach(loads[j], int(j + 1), scale.length);
    for (std::size_t k = 0; k < points.size(); ++k) detail::check_point_reach(points[k], int(k + 1), scale.length);
    if (!w.engine) {
      w.engine = engine::make_engine_workspace();
      set_deck_tolerances(w);
    }
    build_problem(w.problem, structure, loads, points, options, scale);
    engine::EngineAccuracy accuracy;
    accuracy.high = options.accuracy == Accuracy::high;
    engine::analyse_problem(*w.engine, w.problem, w.abstol, w.reltol, accuracy);
    result.responses.reserve(points.size());
    for (int k = 1; k <= w.problem.npoint; ++k)
      result.responses.push_back(response_at(*w.engine, k, w.problem.lpoint[std::size_t(k - 1)], scale));
  });
  if (!result.status) result.responses.clear();
  return result;
}

AnalysisResult analyse(const Structure& structure, const std::vector<CircularLoad>& loads,
                       const std::vector<Point>& points, const AnalysisOptions& options) {
  AnalysisWorkspace workspace;
  return analyse(workspace, structure, loads, points, options);
}

}  // namespace zalk
