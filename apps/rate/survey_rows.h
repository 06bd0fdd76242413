// The rated drops as the survey columns see them (apps/rate/survey_output.h).
#pragma once

#include <vector>

#include "apps/rate/inputs.h"
#include "apps/rate/options.h"
#include "apps/rate/outputs.h"
#include "apps/rate/survey_output.h"

namespace rate_tool {

// Refuses survey options that do not fit together or name no column.
void check_survey_options(const Options& o);
// Each rated drop: F25 drops with their own sensors, station and plate; CSV
// tests at the table's six offsets, their row order standing for the station.
rate_survey::Survey survey_of(const Options& o, const std::vector<SectionInput>& sections,
                              const std::vector<std::vector<Rated>>& rated);

}  // namespace rate_tool
