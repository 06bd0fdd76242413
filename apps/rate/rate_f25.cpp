#include "apps/rate/rate_f25.h"

#include <algorithm>
#include <cmath>

#include "zalk/rating_model.hpp"
#include "zalk/units.hpp"

namespace rate_f25 {
namespace {

using zalk::kMicrometresPerMil;
using zalk::kMillimetresPerInch;

// The fit's sensors: those ahead of the plate, and each behind it at its
// distance from the load unless a sensor ahead already reads there. A
// sensor that read nothing (0, a fault the devices' files carry) is left
// out: the basin stays flagged, and the fit rests on the other readings
// rather than refusing the basin whole.
void fit_sensors(const zalk::FieldDrop& d, BehindPlate behind, Test& t) {
  const auto trusted = [&](std::size_t k) { return d.deflections_um[k] > 0; };
  std::vector<std::pair<double, double>> sensors;  // mm, micrometres
  for (std::size_t k = 0; k < d.offsets_mm.size(); ++k)
    if (d.offsets_mm[k] >= 0 && trusted(k)) sensors.emplace_back(d.offsets_mm[k], d.deflections_um[k]);
  const std::size_t ahead = sensors.size();
  if (behind == BehindPlate::mirrored) {
    for (std::size_t k = 0; k < d.offsets_mm.size(); ++k) {
      const double r = -d.offsets_mm[k];
      if (!(r > 0) || !trusted(k)) continue;
      const bool read_ahead = std::any_of(sensors.begin(), sensors.begin() + std::ptrdiff_t(ahead),
                                          [&](const auto& s) {
                                            return std::fabs(s.first - r) / kMillimetresPerInch <=
                                                   zalk::kSameOffsetToleranceIn;
                                          });
      if (!read_ahead) sensors.emplace_back(r, d.deflections_um[k]);
    }
    std::stable_sort(sensors.begin(), sensors.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  }
  for (const auto& [mm, um] : sensors) {
    t.fit_offsets_in.push_back(mm / kMillimetresPerInch);
    t.fit_deflections_mils.push_back(um / kMicrometresPerMil);
  }
}

Test converted(const zalk::FieldDrop& d, BehindPlate behind) {
  Test t;
  t.drop = &d;
  t.hour = d.hour_of_day();
  t.load_lb = d.load_lb;
  t.surface_temp_f = d.surface_temperature_f.value_or(NAN);
  // A sensor behind the plate (negative offset) is kept in the drop but left
  // out of the design method's basin, which runs from the load outward.
  for (std::size_t k = 0; k < d.offsets_mm.size(); ++k) {
    if (d.offsets_mm[k] < 0) continue;
    t.offsets_in.push_back(d.offsets_mm[k] / kMillimetresPerInch);
    t.deflections_mils.push_back(d.deflections_um[k] / kMicrometresPerMil);
  }
  fit_sensors(d, behind, t);
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

std::vector<Test> tests_of(const zalk::FieldFile& file, const DropSelection& selection, BehindPlate behind,
                           std::vector<zalk::FieldDiagnostic>& diagnostics) {
  std::vector<Test> out;
  for (std::size_t i : chosen(file.drops, selection)) {
    const zalk::FieldDrop& d = file.drops[i];
    if (!d.surface_temperature_f) {
      diagnostics.push_back({file.file, d.line, 1,
                             "the location has no surface temperature (5303 line); the drop is not rated"});
      continue;
    }
    out.push_back(converted(d, behind));
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
