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

// One drop to rate, in the tool's units.
struct Test {
  const zalk::FieldDrop* drop = nullptr;
  double hour = 0, load_lb = 0, surface_temp_f = 0;
  std::vector<double> offsets_in;
  std::vector<double> deflections_mils;
};

// The drops chosen per location, converted. A drop without a surface
// temperature cannot be rated: it is left out with a diagnostic added to
// `diagnostics`.
std::vector<Test> tests_of(const zalk::FieldFile& file, const DropSelection& selection,
                           std::vector<zalk::FieldDiagnostic>& diagnostics);

// "all", "last" or "nearest"; false for anything else.
bool parse_drop_choice(const std::string& text, DropChoice& choice);

}  // namespace rate_f25
