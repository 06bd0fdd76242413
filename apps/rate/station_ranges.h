// Sections by station range: one F25 file covering several structures,
// each drop rated with the section whose station_from..station_to holds it.
#pragma once

#include <vector>

#include "apps/rate/inputs.h"

namespace rate_tool {

bool any_station_range(const std::vector<SectionInput>& sections);
// The first section (in the order of sections.csv) whose range holds the
// station, ends included; nullptr when none does.
SectionInput* section_at_station(std::vector<SectionInput>& sections, double station);

}  // namespace rate_tool
