// Analysis of a layered elastic structure under circular loads.
//
//   zalk::Structure s{{{4, 500000, 0.35}, {8, 30000, 0.40}, {12, 10000, 0.45}, {0, 1e7, 0.49}}};
//   zalk::AnalysisResult r = zalk::analyse(s, {{0, 0, 100, 5.9}}, {{0, 0, 0}, {8, 0, 0}});
//   if (r.status) use(r.responses[0].w);
//
// Default units are inches and psi (Units::si: metres and pascals). The
// structure's first layer is at the top; z is the depth below the surface,
// positive downward, and w is positive downward. Normal stresses and strains
// are positive in tension.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "zalk/status.hpp"

namespace zalk {

inline constexpr int kMinLayers = 2, kMaxLayers = 50;
inline constexpr int kMaxLoads = 10;
inline constexpr int kMaxPoints = 1000;

enum class Units {
  inch_psi,  // lengths in inches, pressures, moduli and stresses in psi
  si,        // metres and pascals, converted at the API's boundary
};

struct Layer {
  double thickness = 0;  // not used for the last layer, which is semi-infinite
  double modulus = 0;    // Young's modulus
  double poisson = 0.35; // Poisson's ratio, in (-1, 0.5)
  // Bond of the interface below this layer: 1 full friction (the layers move
  // together), 0 frictionless, values between weight the two; not used for
  // the last layer.
  double bond = 1.0;
};

// 2 to 50 layers, top first; the last one is the semi-infinite subgrade.
struct Structure {
  std::vector<Layer> layers;
};

// A uniform pressure on a circle of the surface centred at (x, y).
struct CircularLoad {
  double x = 0, y = 0;
  double pressure = 0;
  double radius = 0;
};

// A point where responses are wanted; z is the depth below the surface.
struct Point {
  double x = 0, y = 0, z = 0;
};

// Symmetric tensor components in the x, y, z axes (shear strains are tensor
// components, half the engineering shear strains).
struct Tensor {
  double xx = 0, yy = 0, zz = 0, xy = 0, yz = 0, xz = 0;
};

// The responses at one point, summed over the loads.
struct Response {
  int layer = 0;           // the structure's layer the point was taken in (1-based)
  double w = 0;            // vertical displacement, positive downward
  double u_x = 0, u_y = 0; // horizontal displacements
  Tensor stress;
  Tensor strain;
  std::array<double, 3> principal_stresses{};  // largest first
  std::array<double, 3> principal_strains{};   // largest first
};

// Where a point lying exactly on an interface is taken.
enum class InterfacePoints { layer_below, layer_above };

// How the integrals of the analysis are evaluated.
enum class Accuracy {
  design,  // the design's integration: responses to about 1e-5 (1e-2 near the
           // load edge just below the surface), bit for bit the legacy entry's
  high,    // exact layer coefficients, tight convergence and the exact
           // homogeneous near field: within 1e-10 of independent references
           // (measured 5e-11 at worst); 2.4 times the design's time for a
           // basin of eight surface points, more for points just below it
};

struct AnalysisOptions {
  Units units = Units::inch_psi;
  // false (default): the moduli are analysed as given. true: each modulus is
  // first rounded to three significant digits of a 4-byte value, as the
  // legacy entry's analysis deck carries it; a structure of the legacy entry
  // then gives its results bit for bit. (The deck's other fields hold
  // thicknesses to 0.001 in, points to 0.01 in and pressures to 0.001 psi;
  // values given within those carry through unchanged.)
  bool round_moduli_as_deck = false;
  InterfacePoints interface_points = InterfacePoints::layer_below;
  Accuracy accuracy = Accuracy::design;
};

struct AnalysisResult {
  Status status;                     // on an error, responses is empty
  std::vector<Response> responses;   // one per point, in the order given
};

// The analysis's work storage (about 1 MB, allocated at the first call and
// reused). One workspace serves any number of calls, one at a time: give
// each thread its own.
class AnalysisWorkspace {
 public:
  AnalysisWorkspace();
  ~AnalysisWorkspace();
  AnalysisWorkspace(AnalysisWorkspace&&) noexcept;
  AnalysisWorkspace& operator=(AnalysisWorkspace&&) noexcept;
  AnalysisWorkspace(const AnalysisWorkspace&) = delete;
  AnalysisWorkspace& operator=(const AnalysisWorkspace&) = delete;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
  friend AnalysisResult analyse(AnalysisWorkspace&, const Structure&, const std::vector<CircularLoad>&,
                                const std::vector<Point>&, const AnalysisOptions&);
};

// Every input is checked before any work; a refused input is the status's
// error naming the value. 1 to 10 loads and 1 to 1000 points.
AnalysisResult analyse(AnalysisWorkspace& workspace, const Structure& structure,
                       const std::vector<CircularLoad>& loads, const std::vector<Point>& points,
                       const AnalysisOptions& options = {});

// The same with a workspace of its own (allocated per call).
AnalysisResult analyse(const Structure& structure, const std::vector<CircularLoad>& loads,
                       const std::vector<Point>& points, const AnalysisOptions& options = {});

}  // namespace zalk
