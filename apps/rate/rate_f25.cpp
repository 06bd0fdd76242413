#include "apps/rate/rate_f25.h"

#include <cmath>

#include "zalk/units.hpp"

namespace rate_f25 {
namespace {

using zalk::kMicrometresPerMil;
using zalk::kMillimetresPerInch;

Test converted(const zalk::FieldDrop& d) {
  Test t;
  t.drop = &d;
  t.hour = d.hour_of_day();
  t.load_lb = d.load_lb;
  t.surface_temp_f = d.surface_temperature_f.value_or(NAN);
  // A sensor behind the plate (negative offset) is kept in the drop but left
  // out of the back-calculation, which takes offsets from the load outward.
  for (std::size_t k = 0; k < d.offsets_mm.size(); ++k) {
    if (d.offsets_mm[k] < 0) continue;
    t.offsets_in.push_back(d.offsets_mm[k] / kMillimetresPerInch);
    t.deflections_mils.push_back(d.deflections_um[k] / kMicrometresPerMil);
  }
  return t;
}

// The indices of the drops to rate: all, or one per location.
std::vector<std::size_t> chosen(const std::vector<zalk::FieldDrop>& drops, const DropSelection& s) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < drops.size(); ++i) {
    const bool last_of_location = i + 1 == drops.size() || drops[i + 1].station_index != drops[i].station_index;
    if (s.choice == DropChoice::all) {
      out.push_back(i);
    } else if (last_of_location) {
      std::size_t pick = i;
      if (s.choice == DropChoice::nearest) {
        // The first drop of the location nearest the wanted load.
        for (std::size_t k = i + 1; k-- > 0 && drops[k].station_index == drops[i].station_index;)
          if (std::fabs(drops[k].load_lb - s.nearest_lb) <= std::fabs(drops[pick].load_lb - s.nearest_lb))
            pick = k;
      }
      out.push_back(pick);
    }
  }
  return out;
}

}  // namespace

std::vector<Test> tests_of(const zalk::FieldFile& file, const DropSelection& selection,
                           std::vector<zalk::FieldDiagnostic>& diagnostics) {
  std::vector<Test> out;
  for (std::size_t i : chosen(file.drops, selection)) {
    const zalk::FieldDrop& d = file.drops[i];
    if (!d.surface_temperature_f) {
      diagnostics.push_back({file.file, d.line, 1,
                             "the location has no surface temperature (5303 line); the drop is not rated"});
      continue;
    }
    out.push_back(converted(d));
  }
  return out;
}

bool parse_drop_choice(const std::string& text, DropChoice& choice) {
  if (text == "all") choice = DropChoice::all;
  else if (text == "last") choice = DropChoice::last;
  else if (text == "nearest") choice = DropChoice::nearest;
  else return false;
  return true;
}

}  // namespace rate_f25
