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
// Names every test the library refused, or could not fit, on standard
// error with its file, line and section; returns the number refused.
int report_tests(const std::vector<SectionInput>& sections, const std::vector<std::vector<Rated>>& rated);
void run_overlay(const fs::path& table, const std::vector<SectionInput>& sections,
                 const std::vector<rate_csv::OverlayItem>& items, double dh, Output& out);

}  // namespace rate_tool
