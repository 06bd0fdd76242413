// The rating tool's survey report (--report).
#pragma once

#include <vector>

#include "apps/rate/inputs.h"
#include "apps/rate/options.h"
#include "apps/rate/outputs.h"
#include "apps/rate/survey_output.h"
#include "zalk/fwd_file.hpp"

namespace rate_tool {

// The run's report (--report): its inputs and settings, and its results and
// residuals as the CSV files have them, and the survey's columns and
// homogeneous units when the run has them.
void write_report(const Options& o, const std::vector<zalk::FieldFile>& files,
                  const std::vector<SectionInput>& sections, const std::vector<std::vector<Rated>>& rated,
                  const rate_survey::Survey* survey, Output& out);

}  // namespace rate_tool
