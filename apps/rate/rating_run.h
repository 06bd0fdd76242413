// The rating tool's work: the tests rated on several threads, the overlay.
#pragma once

#include <vector>

#include "apps/rate/inputs.h"
#include "apps/rate/options.h"
#include "apps/rate/outputs.h"
#include "apps/rate/rate_csv.h"

namespace rate_tool {

// Every section's tests rated, in input order.
std::vector<std::vector<Rated>> rate_all(const Options& o, const fs::path& table,
                                         const std::vector<SectionInput>& sections);
void run_overlay(const fs::path& table, const std::vector<SectionInput>& sections,
                 const std::vector<rate_csv::OverlayItem>& items, double dh, Output& out);

}  // namespace rate_tool
