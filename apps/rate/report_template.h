// The report page's template with its style and script inlined, written by
// the build from apps/rate/report/ (cmake/embed_report.cmake). The data go where
// the text "@DATA@" stands.
#pragma once

#include <cstddef>

namespace report_output {
extern const char kReportPage[];
extern const std::size_t kReportPageSize;
}  // namespace report_output
