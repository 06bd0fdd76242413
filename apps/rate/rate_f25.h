// F25 field files as the rating tool's deflection tests: unit conversion
// (micrometres to mils, millimetres to inches, kPa on the plate to lb, C to F)
// and the choice of drops per test location.
#pragma once

#include <string>
#include <vector>

#include "zalk/fwd_file.hpp"

namespace rate_f25 {

enum class DropChoice { all, last, nearest };

struct DropSelection {
  DropChoice choice = DropChoice::all;
  double nearest_lb = 0;  // the load whose nearest drop a location gives (nearest)
};

// What the fit makes of a sensor behind the plate (negative offset): left
// out, as the design method always leaves it, or taken at its distance from
// the load, the basin being the same all round the plate. One at the
// distance of a sensor ahead of the plate (within 10 mm) is left out either
// way: that distance has its reading.
enum class BehindPlate { left_out, mirrored };

// One drop to rate, in the tool's units.
struct Test {
  const zalk::FieldDrop* drop = nullptr;
  double hour = 0, load_lb = 0, surface_temp_f = 0;
  // The sensors from the load outward (none behind the plate).
  std::vector<double> offsets_in;
  std::vector<double> deflections_mils;
  // The fit's sensors: the same, with those behind the plate mirrored when
  // asked, in increasing distance.
  std::vector<double> fit_offsets_in;
  std::vector<double> fit_deflections_mils;
};

// The drops chosen per location, converted. A drop without a surface
// temperature cannot be rated: it is left out with a diagnostic added to
// `diagnostics`.
std::vector<Test> tests_of(const zalk::FieldFile& file, const DropSelection& selection, BehindPlate behind,
                           std::vector<zalk::FieldDiagnostic>& diagnostics);

// "all", "last" or "nearest"; false for anything else.
bool parse_drop_choice(const std::string& text, DropChoice& choice);

}  // namespace rate_f25
