// Field files for the rating tool: read by content (F25 or JILS), with the
// sensor offsets of --sensor-offsets for formats that do not carry them;
// the columns a drop adds to its result row.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "apps/rate/options.h"
#include "zalk/fwd_file.hpp"

namespace rate_tool {

// --sensor-offsets LIST in mm; a usage error names what is wrong.
std::vector<double> sensor_offsets_option(const std::string& list);

zalk::FieldFile read_field_file(const Options& o, const fs::path& file);

// The diagnostics and summary of a field file on standard error. Past the
// diagnostics' limit every rejected drop's line is still listed. Each
// diagnostic names the section the file's drops belong to.
void report_field_file(const zalk::FieldFile& f, const std::vector<zalk::FieldDiagnostic>& diagnostics,
                       int not_rated, const std::string& section);

// The columns a field-file drop adds to its result row: station, lane, drop,
// load_lb, latitude, longitude.
void write_drop_columns(std::FILE* f, const zalk::FieldDrop& d, double load_lb);

}  // namespace rate_tool
