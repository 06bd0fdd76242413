#include "apps/rate/station_ranges.h"

#include <cmath>

namespace rate_tool {

bool any_station_range(const std::vector<SectionInput>& sections) {
  for (const SectionInput& s : sections)
    if (!std::isnan(s.station_from)) return true;
  return false;
}

SectionInput* section_at_station(std::vector<SectionInput>& sections, double station) {
  for (SectionInput& s : sections)
    if (s.station_from <= station && station <= s.station_to) return &s;
  return nullptr;
}

}  // namespace rate_tool
