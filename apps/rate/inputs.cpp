#include "apps/rate/inputs.h"

#include <algorithm>
#include <cstdio>

#include "apps/rate/fwd_input.h"
#include "apps/rate/station_ranges.h"

namespace rate_tool {

namespace {

zalk::Section section_of(const rate_csv::Section& s, const std::array<double, 10>& f) {
  zalk::Section out;
  for (std::size_t k = 0; k < 5; ++k) {
    out.days[k] = s.columns[k];
    out.air_temperature_f[k] = s.columns[5 + k];
    out.base_factor[k] = f[k];
    out.subgrade_factor[k] = f[5 + k];
  }
  out.surface_thickness_in = s.columns[10];
  out.base_thickness_in = s.columns[11];
  out.previous_day_air_f = s.columns[12];
  return out;
}

zalk::DeflectionTest test_of(const rate_csv::Test& t) {
  zalk::DeflectionTest out;
  out.hour = t.slabs[0];
  out.load_lb = t.slabs[1];
  out.deflections_mils.assign(t.slabs.begin() + 2, t.slabs.begin() + 8);
  out.reps_per_year = t.slabs[8];
  out.surface_temperature_f = t.slabs[9];
  return out;
}

}  // namespace

SectionInput section_input(const rate_csv::Section& s, const std::array<double, 10>& factors) {
  return {s.id, section_of(s, factors), s.reps_per_year, {}, s.station_from, s.station_to};
}

TestRow test_row(const rate_csv::Test& t, const std::string& file) { return {test_of(t), file, t.line, nullptr, 0, {}}; }

std::vector<SectionInput> sections_of(const rate_csv::Input& in, const std::string& file) {
  std::vector<SectionInput> out;
  for (std::size_t s = 0; s < in.sections.size(); ++s) {
    SectionInput si = section_input(in.sections[s], in.factors);
    if (s < in.tests.size())
      for (const rate_csv::Test& t : in.tests[s]) si.tests.push_back(test_row(t, file));
    out.push_back(std::move(si));
  }
  return out;
}

// The fit alone takes every sensor it is given, where it stands; a basin
// of just the table's six (within 10 mm) is taken as measured there. The
// design method, alone or beside the fit, rates the table's six sensors:
// those among the basin's, or the basin interpolated to them (and marked),
// or it refuses the basin.
bool fit_layout(const Options& o, const rate_f25::Test& t, TestRow& row, std::string& problem) {
  const bool fit_alone = o.rating.method == zalk::Method::fit && !o.both_methods;
  const zalk::TableBasin b = zalk::table_basin(t.offsets_in, t.deflections_mils);
  const bool just_the_six = b.ok && !b.interpolated && t.fit_offsets_in.size() == b.deflections_mils.size();
  if (b.ok && !b.interpolated && (just_the_six || !fit_alone)) {
    row.test.deflections_mils.assign(b.deflections_mils.begin(), b.deflections_mils.end());
    return true;
  }
  if (fit_alone || o.rating.method == zalk::Method::fit) {
    row.test.sensor_offsets_in = fit_alone ? t.fit_offsets_in : t.offsets_in;
    row.test.deflections_mils = fit_alone ? t.fit_deflections_mils : t.deflections_mils;
    return true;
  }
  if (!b.ok) {
    problem = b.problem;
    return false;
  }
  row.test.deflections_mils.assign(b.deflections_mils.begin(), b.deflections_mils.end());
  row.flags |= zalk::flag_interpolated;
  return true;
}

// What the methods make of a file's sensors, said once per file.
std::string layout_note(const Options& o, const zalk::FieldDrop& d, const TestRow& row) {
  std::string note;
  if (std::ranges::equal(row.test.sensor_offsets_in, zalk::kLegacySensorOffsets) &&
      !(row.flags & zalk::flag_interpolated))
    note = "sensors within 10 mm of 0, 8, 12, 18, 24, 36 in: taken as those";
  else if (row.flags & zalk::flag_interpolated)
    note = "sensors away from 0, 8, 12, 18, 24, 36 in: basins interpolated to them";
  else
    note = std::to_string(row.test.sensor_offsets_in.size()) + " sensors fitted where they are";
  if (std::ranges::any_of(d.offsets_mm, [](double x) { return x < 0; }))
    note += o.behind_plate == rate_f25::BehindPlate::mirrored
                ? "; sensors behind the plate taken at their distance from the load"
                : "; sensors behind the plate left out (--behind-plate mirrored lets the fit use them)";
  return note;
}

int add_f25(const Options& o, const fs::path& file, std::vector<zalk::FieldFile>& files,
             std::vector<SectionInput>& sections) {
  files.push_back(read_field_file(o, file));
  const zalk::FieldFile& f = files.back();
  std::vector<zalk::FieldDiagnostic> diagnostics = f.diagnostics;
  // With station ranges in the sections file (and no --f25-section), each
  // drop goes to the section of its station.
  const bool by_station = o.f25_section.empty() && any_station_range(sections);
  const std::string id = o.f25_section.empty() ? file.stem().string() : o.f25_section;
  if (!f.read) {  // the other files are still rated
    report_field_file(f, diagnostics, 0, id);
    return 1;
  }
  auto s = std::find_if(sections.begin(), sections.end(), [&](const SectionInput& x) { return x.id == id; });
  if (!by_station && s == sections.end())
    throw ToolError(file.string() + ": section \"" + id + "\" is not in the sections file", 2);
  bool said_layout = false;
  for (const rate_f25::Test& t : rate_f25::tests_of(f, o.drops, o.behind_plate, diagnostics)) {
    SectionInput* target = by_station ? section_at_station(sections, t.drop->station) : &*s;
    if (target == nullptr) {
      char station[64];
      std::snprintf(station, sizeof station, "%.10g", t.drop->station);
      diagnostics.push_back({f.file, t.drop->line, 1,
                             std::string("station ") + station +
                                 " lies in no section's station_from..station_to; the drop is not rated"});
      continue;
    }
    const double reps = o.reps ? *o.reps : target->reps_per_year;
    if (!(reps > 0))
      throw ToolError(file.string() + ": no annual repetitions for section \"" + target->id +
                          "\": give --reps or a reps_per_year column", 2);
    TestRow row;
    row.drop = t.drop;
    row.file = f.file;
    row.line = t.drop->line;
    row.test.hour = t.hour;
    row.test.load_lb = t.load_lb;
    row.test.reps_per_year = reps;
    row.test.surface_temperature_f = t.surface_temp_f;
    if (t.drop->implausible) row.flags |= zalk::flag_implausible;
    row.measured = {t.offsets_in, t.deflections_mils, t.load_lb};
    std::string problem;
    if (!fit_layout(o, t, row, problem)) {
      diagnostics.push_back({f.file, t.drop->line, 1, problem + "; the drop is not rated"});
      continue;
    }
    if (!said_layout) {
      std::fprintf(stderr, "rate: %s: %s\n", f.file.c_str(), layout_note(o, *t.drop, row).c_str());
      said_layout = true;
    }
    target->tests.push_back(std::move(row));
  }
  const int not_rated = int(diagnostics.size() - f.diagnostics.size());
  report_field_file(f, diagnostics, not_rated, by_station ? "by station" : id);
  return int(f.rejected_lines.size()) + not_rated;
}

// The data folder must be an existing folder; a path the system cannot
// even look up (too long, say) is reported as such.
fs::path table_in(const fs::path& dir) {
  if (dir.empty()) {
    fs::path table;
    const zalk::Status s = zalk::default_table_path(table);
    if (!s.ok()) throw ToolError("cannot use the data folder: " + s.error->message, 2);
    return table;
  }
  std::error_code ec;
  const fs::file_status st = fs::status(dir, ec);
  if (ec && ec != std::errc::no_such_file_or_directory) {
    throw ToolError(dir.string() + ": cannot use the data folder: " + ec.message(), 2);
  }
  if (!fs::exists(st)) throw ToolError(dir.string() + ": no such data folder", 2);
  if (!fs::is_directory(st)) throw ToolError(dir.string() + ": not a folder", 2);
  return dir / "backdefl.txt";
}

}  // namespace rate_tool
