#include "apps/rate/survey_rows.h"

#include <cmath>
#include <string>

#include "zalk/units.hpp"

namespace rate_tool {
namespace {

using zalk::kMillimetresPerInch;

// The numeric results columns --segments may name (the station aside).
std::vector<std::string> rated_columns(bool f25) {
  std::vector<std::string> c{"allowable_load", "e_surface", "e_surface_72f", "e_base",
                             "e_subgrade",     "depth_in",  "fit_rms_pct"};
  if (f25) c.insert(c.end(), {"load_lb", "latitude", "longitude"});
  return c;
}

}  // namespace

void check_survey_options(const Options& o) {
  const std::string problem = rate_survey::check_options(o.survey, rated_columns(!o.f25.empty()));
  if (!problem.empty()) usage(problem);
}

rate_survey::Survey survey_of(const Options& o, const std::vector<SectionInput>& sections,
                              const std::vector<std::vector<Rated>>& rated) {
  std::vector<rate_survey::DropRow> rows;
  for (std::size_t s = 0; s < sections.size(); ++s) {
    const zalk::Section& sec = sections[s].section;
    for (std::size_t j = 0; j < rated[s].size(); ++j) {
      if (!rated[s][j].refusal.empty()) continue;  // named on standard error, not in the results
      const TestRow& t = sections[s].tests[j];
      const zalk::RatingResult& r = rated[s][j].result;
      rate_survey::DropRow d;
      d.line = t.line;
      d.thickness_in = sec.surface_thickness_in + sec.base_thickness_in;
      d.rated = {r.allowable_load, r.e_surface, r.e_surface_72f, r.e_base, r.e_subgrade, r.depth_in, r.fit_rms_pct};
      if (t.drop != nullptr) {
        d.file = t.file;
        d.station = t.drop->station;
        d.basin = t.measured;
        d.plate_radius_in = t.drop->plate_radius_mm / kMillimetresPerInch;
        d.rated.insert(d.rated.end(), {t.test.load_lb, t.drop->latitude.value_or(NAN),
                                       t.drop->longitude.value_or(NAN)});
      } else {
        d.file = o.tests.string();
        d.station = double(rows.size() + 1);
        d.basin = {t.test.sensor_offsets_in, t.test.deflections_mils, t.test.load_lb};
      }
      rows.push_back(std::move(d));
    }
  }
  return rate_survey::Survey(o.survey, rated_columns(!o.f25.empty()), std::move(rows));
}

}  // namespace rate_tool
