// Field files of deflection surveys, whatever device wrote them: the format
// told by content, then read by its own reader into one shape.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "io/f25.h"
#include "io/jils.h"

namespace zalk::io {

using FwdFile = F25File;
using FwdDrop = F25Drop;
using FwdDiagnostic = F25Diagnostic;

// F25 when the first line is a 5001 record; JILS when one of the first lines
// is a "Date-Time:" or "Sensors:" line; unknown otherwise.
FwdFormat detect_fwd_format(std::string_view text);

// "F25", "JILS" or "unknown".
const char* format_name(FwdFormat format);

// Reads a field file of either format; a file of neither gives header_ok =
// false, format unknown and one diagnostic. `jils` serves JILS files only.
FwdFile read_fwd(std::string_view text, std::string_view file, const JilsOptions& jils = {});
FwdFile read_fwd_file(const std::filesystem::path& path, const JilsOptions& jils = {});

// A list of sensor offsets as users write it: numbers separated by commas,
// the last followed by its unit, "in" or "mm" ("0,8,12,18,24,36,48,60,72in",
// "0,200,300mm"); blanks are allowed around the numbers. Gives the offsets in
// mm, or false with the problem named (the item, its place in the list).
// At most 18 offsets, increasing, each within 10 m.
bool parse_sensor_offsets(std::string_view list, std::vector<double>& mm, std::string& problem);

}  // namespace zalk::io
