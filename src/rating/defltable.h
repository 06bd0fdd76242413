// The deflection table and the spline surfaces built from it per section.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

#include "rating/blocks.h"
#include "toolkit/bspline.h"

namespace zalk::rating {

// read_deflection_table(8, 8, 8, 11, 8, 8) and thickness_surfaces(8, 11, 8, 8), column-major, 4-byte floats.
struct DeflectionTables {
  std::vector<float> dtab;  // read_deflection_table(i,k,d,m,n,s)
  std::vector<float> dthk;  // thickness_surfaces(d,m,n,s)
  // Set anew, unique in the process, by every reading: surfaces fitted on
  // one reading are never taken for another's.
  std::uint64_t generation = 0;
};

enum class TableRead { Complete };

// Sizes both tables and reads the table file into read_deflection_table,
// every value of it (the loop variable d runs in IDEPTH). The file must be a regular file of exactly the
// 45,056 records of the layout; a missing, unreadable, oversized, short or
// long file, and a field that is blank, not a number or beyond the range of a
// 4-byte float, are terminal errors through the reporter naming the file (and
// record and columns), so a table that is read is always complete.
TableRead read_deflection_table(const std::filesystem::path& file, DeflectionTables& t, Blocks& b);

// The same for the table's text; `name` stands for the file in messages.
TableRead read_deflection_table_text(std::string_view text, std::string_view name,
                                     DeflectionTables& t, Blocks& b);

// Thickness interpolation into thickness_surfaces at surface thickness h and base thickness b.
void fit_thickness(DeflectionTables& t, float h, float base, Blocks& b);

// Modulus surfaces SCOEF(., d, s), d, s = 1..8, with grids and knots in COM1/COM3.
void fit_modulus_surfaces(const DeflectionTables& t, Blocks& b);

// The surfaces of one section, kept so that a later rating of the same
// section (the same table reading and thicknesses, bit for bit) takes them
// instead of fitting them again. Only a fit that raised no message is kept:
// taking it again must not silence a warning.
struct SectionSurfaces {
  std::uint64_t table = 0;
  std::uint32_t h = 0, base = 0;  // the thicknesses' bits
  float value = 0;                // VALUE(1) the thickness stage leaves
  std::vector<float> dthk, scoef;
};
inline constexpr std::size_t kCachedSections = 20;  // a host's sections per call
struct SurfaceCache {
  std::vector<SectionSurfaces> entries;  // most recently used first
  long long fits = 0;                    // sections fitted rather than taken
};

// fit_thickness then fit_modulus_surfaces at (h, base); the thickness
// values in t and everything the two leave in the blocks are taken from the
// cache where it holds the section.
void fit_section_surfaces(DeflectionTables& t, float h, float base, Blocks& b, SurfaceCache& cache);

// Deflection of sensor s (1..8) at (x1, x2) (thousands) for depth IDEPTH;
// leaves XVEC, YVEC, VALUE as the evaluation does.
float evaluate_surface(Blocks& b, float x1, float x2, int sensor);

// The basis of one point at depth IDEPTH, formed once for all sensors: their
// surfaces share knots, orders and counts and differ only in coefficients.
struct SurfacePoint {
  float x1 = 0, x2 = 0;
  toolkit::PreparedPoint basis;  // not ready: every sensor goes through BS2GD
};
// Reads the knots and counts only; the blocks are left untouched. Knots or
// counts must not change between this and the evaluations at the point.
SurfacePoint prepare_surface_point(const Blocks& b, float x1, float x2);

// The surfaces of sensors 1..8 at one depth, coefficient by coefficient with
// the sensors side by side, so that one point's basis serves all of them in
// one pass. Each sensor's value is formed with the operations, in the order,
// that evaluate_surface forms it with.
inline constexpr int kSurfaceSensors = 8;
struct SensorSurfaces {
  bool ready = false;
  int depth = 0, kxord = 0, kyord = 0, nxcoef = 0, nycoef = 0;
  std::vector<std::array<float, kSurfaceSensors>> coef;
  SurfacePoint point;  // the last point evaluated (see move_surface_point)
};
// Copies the coefficients of depth IDEPTH; not ready when the depth or the
// counts do not fit the blocks.
void gather_sensor_surfaces(const Blocks& b, SensorSurfaces& s);
// Whether s holds the surfaces p is prepared for (depth, orders and counts).
bool gathered_for(const SensorSurfaces& s, const Blocks& b, const SurfacePoint& p);
// p prepared again at (x1, x2), as prepare_surface_point would prepare it:
// a p that is ready keeps its x basis where x1 is unchanged. The knots,
// orders and counts must be those p was prepared with.
void move_surface_point(const Blocks& b, float x1, float x2, SurfacePoint& p);
// Every sensor's value at a point gathered_for s.
void evaluate_sensors(const SensorSurfaces& s, const SurfacePoint& p,
                      std::array<float, kSurfaceSensors>& values);
// What evaluate_surface(b, p, sensor) leaves in the blocks, given its value.
void leave_surface_value(Blocks& b, const SurfacePoint& p, float value);

// evaluate_surface(b, p.x1, p.x2, sensor), bit for bit, blocks included,
// without forming the basis again: the same index check, the same
// XVEC/YVEC/VALUE left behind, and BS2GD's single-point value from the same
// basis and the same active sum. A point BS2GD would warn about (outside the
// knots, not a number) or arguments it would reject take evaluate_surface.
float evaluate_surface(Blocks& b, const SurfacePoint& p, int sensor);

}  // namespace zalk::rating
