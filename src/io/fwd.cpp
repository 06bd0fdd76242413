#include "io/fwd.h"

#include <cmath>
#include <string>

#include "io/field_text.h"
#include "zalk/units.hpp"

namespace zalk::io {
namespace {

bool starts_with(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// How many leading lines may stand before a JILS file shows its header keys.
constexpr int kJilsProbeLines = 20;

}  // namespace

FwdFormat detect_fwd_format(std::string_view text) {
  field_text::Lines lines(text);
  std::string_view line;
  std::vector<field_text::Field> fields;
  while (lines.next(line) && lines.number() <= kJilsProbeLines) {
    line = field_text::trim(line);
    if (line.empty()) continue;
    if (lines.number() == 1) {
      field_text::split_commas(line, fields);
      int id = 0;
      if (fields.size() > 1 && field_text::to_int(fields[0].text, id) && id == 5001) return FwdFormat::f25;
    }
    if (starts_with(line, "Date-Time:") || starts_with(line, "Sensors:")) return FwdFormat::jils;
  }
  return FwdFormat::unknown;
}

const char* format_name(FwdFormat format) {
  switch (format) {
    case FwdFormat::f25: return "F25";
    case FwdFormat::jils: return "JILS";
    default: return "unknown";
  }
}

FwdFile read_fwd(std::string_view text, std::string_view file, const JilsOptions& jils) {
  switch (detect_fwd_format(text)) {
    case FwdFormat::f25: return read_f25(text, file);
    case FwdFormat::jils: return read_jils(text, file, jils);
    default: break;
  }
  FwdFile f;
  f.file = file;
  f.format = FwdFormat::unknown;
  f.diagnostics.push_back({f.file, 1, 1,
                           "neither an F25 file (first line a 5001 record) nor a JILS file (a Date-Time: or "
                           "Sensors: line among the first 20); nothing is read"});
  return f;
}

FwdFile read_fwd_file(const std::filesystem::path& path, const JilsOptions& jils) {
  std::string text, name, why;
  if (field_text::load_file(path, text, name, why)) return read_fwd(text, name, jils);
  FwdFile f;
  f.file = name;
  f.format = FwdFormat::unknown;
  f.diagnostics.push_back({name, 0, 0, why});
  return f;
}

bool parse_sensor_offsets(std::string_view list, std::vector<double>& mm, std::string& problem) {
  constexpr double kFarthestMm = 10000.0;
  mm.clear();
  std::string_view numbers = field_text::trim(list);
  double unit = 0;
  if (numbers.size() > 2 && numbers.substr(numbers.size() - 2) == "in") unit = kMillimetresPerInch;
  if (numbers.size() > 2 && numbers.substr(numbers.size() - 2) == "mm") unit = 1.0;
  if (unit == 0) {
    problem = "the list " + field_text::quoted_excerpt(list) + " does not end in its unit, in or mm";
    return false;
  }
  numbers.remove_suffix(2);
  std::vector<field_text::Field> items;
  field_text::split_commas(numbers, items);
  for (std::size_t k = 0; k < items.size(); ++k) {
    double v = 0;
    const std::string which = "offset " + std::to_string(k + 1) + " of the list, ";
    if (items[k].quoted || !field_text::to_double(items[k].text, v)) {
      problem = which + field_text::quoted_excerpt(items[k].text) + ", is not a number";
      return false;
    }
    v *= unit;
    if (!(std::abs(v) <= kFarthestMm)) {
      problem = which + std::string(items[k].text) + ", lies beyond 10 m";
      return false;
    }
    if (!mm.empty() && !(v > mm.back())) {
      problem = which + std::string(items[k].text) + ", is not beyond the one before it";
      return false;
    }
    mm.push_back(v);
  }
  if (mm.size() > std::size_t(kF25MaxSensors)) {
    problem = std::to_string(mm.size()) + " offsets listed; at most 18";
    return false;
  }
  return true;
}

}  // namespace zalk::io
