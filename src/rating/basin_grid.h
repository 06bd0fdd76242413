// The engine's basins of one section's structure (its two upper layers'
// thicknesses and its sensors) on a grid of modulus ratios and depths to a
// stiff layer, filled as searches reach its nodes and kept for the
// section's other tests: a test's search over every depth then costs
// interpolations, and only its last steps run the engine.
//
// At fixed ratios E1/E3 and E2/E3 a basin scales with load / E3 (exactly
// without a stiff layer; with one, to the share the stiff layer's own
// modulus takes, which the engine's last steps settle), so the grid holds
// the basin of the reference load and subgrade modulus over
//   u1 = ln(E1/E3), u2 = ln(E2/E3)   on a square lattice of step kRatioStep,
//   t = the index of a depth among `depths` (geometric, so uniform in ln depth),
// plus the same lattice without a stiff layer. Values between nodes come
// from cubic Lagrange interpolation on the four nearest nodes of each
// coordinate, with its derivatives.
#pragma once

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace zalk::engine {
struct EngineWorkspace;
}

namespace zalk::rating {

class BasinGrid {
 public:
  static constexpr double kRatioStep = 0.75;
  static constexpr double kReferenceSubgrade = 1.0e4;  // psi
  static constexpr double kReferenceLoad = 10940.0;    // lb

  // Takes up the section's basins: those kept from an earlier use of the
  // same thicknesses, sensors and depths (whichever survey section they came
  // from: a node is the same engine run), or none yet. The basins of the
  // kSectionsKept sections used last are kept.
  void use_section(double h1, double h2, const std::vector<double>& offsets, const std::vector<double>& depths);
  static constexpr std::size_t kSectionsKept = 32;

  // The basin at the reference load and subgrade (in) and its derivatives
  // in u1, u2 and ln depth; depth index t continuous in [0, depths - 1], or
  // t < 0 for no stiff layer (then d/d ln depth is 0). False when a node
  // the engine cannot analyse is needed.
  bool basin(engine::EngineWorkspace& ws, double u1, double u2, double t, std::vector<double>& w,
             std::vector<std::array<double, 3>>& grad);
  // The basin alone, the same values; only the nodes that weigh in are run.
  bool basin(engine::EngineWorkspace& ws, double u1, double u2, double t, std::vector<double>& w);

  double depth_step() const { return depth_step_; }  // of ln depth between neighbouring depths
  int depth_count() const { return int(depths_.size()); }
  int engine_runs() const { return engine_runs_; }     // for nodes, in all sections

 private:
  const std::vector<double>* node(engine::EngineWorkspace& ws, int i, int j, int k);
  bool interpolate(engine::EngineWorkspace& ws, double u1, double u2, double t, std::vector<double>& w,
                   std::vector<std::array<double, 3>>* grad);

  struct Section {
    double h1 = -1, h2 = -1;
    std::vector<double> offsets, depths;
    std::unordered_map<std::uint64_t, std::vector<double>> nodes;
    std::uint64_t last_use = 0;
  };
  std::vector<Section> sections_;
  std::size_t current_ = 0;  // into sections_, when not empty
  std::uint64_t uses_ = 0;
  double h1_ = -1, h2_ = -1, depth_step_ = 0;
  std::vector<double> offsets_, depths_;
  int engine_runs_ = 0;
};

}  // namespace zalk::rating
