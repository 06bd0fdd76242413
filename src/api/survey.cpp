// zalk::survey: the survey module of the rating layer behind the public
// types, one drop at a time.
#include "zalk/survey.hpp"

#include <cmath>
#include <span>

#include "rating/survey.h"

namespace zalk::survey {
namespace {

namespace core = rating::survey;

// The public flags are the module's, bit for bit.
static_assert(unsigned(flag_interpolated) == core::kInterpolated);
static_assert(unsigned(flag_bad_layout) == core::kBadLayout);
static_assert(unsigned(flag_bad_d0) == core::kBadCentreDeflection);
static_assert(unsigned(flag_bad_load) == core::kBadLoad);
static_assert(unsigned(flag_offset_outside_basin) == core::kOffsetOutsideBasin);
static_assert(unsigned(flag_no_sensor_beyond_plate) == core::kNoSensorBeyondPlate);
static_assert(unsigned(flag_mr_sensor_too_close) == core::kMrSensorTooClose);
static_assert(unsigned(flag_bad_thickness) == core::kBadThickness);
static_assert(unsigned(flag_bad_mr_deflection) == core::kBadSensorDeflection);
static_assert(unsigned(flag_bad_plate) == core::kBadPlate);

core::Drop core_drop(const Drop& d) { return {d.offsets_in, d.deflections_mils, d.load_lb}; }

}  // namespace

std::string flag_names(unsigned flags) { return core::flag_names(flags); }

std::string flag_texts(unsigned flags) {
  std::string out;
  for (unsigned bit = 0; bit < core::kDropFlagCount; ++bit) {
    if ((flags & (1u << bit)) == 0) continue;
    if (!out.empty()) out += "; ";
    out += core::flag_text(core::DropFlag(1u << bit));
  }
  return out;
}

std::vector<Indices> indices(const std::vector<Drop>& drops, double reference_load_lb) {
  std::vector<Indices> out;
  out.reserve(drops.size());
  for (const Drop& d : drops) {
    const core::Indices c = core::basin_indices(core_drop(d), reference_load_lb);
    out.push_back({c.d0_mils, c.sci_mils, c.bdi_mils, c.bci_mils, c.area_in, c.d0_norm, c.sci_norm,
                   c.bdi_norm, c.bci_norm, c.area_norm, c.flags});
  }
  return out;
}

std::vector<Aashto93> aashto93(const std::vector<Drop>& drops, const AashtoOptions& options,
                               const std::vector<double>& thickness_per_drop_in) {
  std::vector<Aashto93> out;
  out.reserve(drops.size());
  for (std::size_t i = 0; i < drops.size(); ++i) {
    core::AashtoOptions o{options.thickness_in, options.plate_radius_in, options.design_factor};
    // A list of the wrong length gives no thickness rather than another drop's.
    if (!thickness_per_drop_in.empty())
      o.thickness_in = thickness_per_drop_in.size() == drops.size() ? thickness_per_drop_in[i] : kNoValue;
    const core::Aashto93 c = core::aashto93(core_drop(drops[i]), o);
    out.push_back({c.mr_psi, c.mr_offset_in, c.ep_psi, c.ae_in, c.sneff, c.mr_design_psi, c.flags});
  }
  return out;
}

Sections segment(const std::vector<double>& stations, const std::vector<double>& values,
                 double min_length) {
  const core::Segmentation c = core::segment(stations, values, min_length);
  Sections s;
  for (const core::StationPoint& p : c.stations)
    s.stations.push_back({p.station, p.value, p.width, p.z, p.first_drop, p.last_drop});
  for (const core::Unit& u : c.units)
    s.units.push_back({u.first_station, u.last_station, u.station_from, u.station_to, u.length, u.mean, u.drops});
  s.drop_unit = c.drop_unit;
  for (const core::SectionProblem& p : c.problems)
    s.problems.push_back({p.drop, core::section_issue_text(p.issue, p.value, p.previous)});
  return s;
}

Statistics describe(const std::vector<double>& values) {
  const core::Statistics c = core::describe(values);
  return {c.n, c.mean, c.sd, c.cv, c.p15, c.p85};
}

std::vector<Statistics> unit_statistics(const Sections& sections, const std::vector<double>& column) {
  // The module reads only the drops' units.
  core::Segmentation c;
  c.drop_unit = sections.drop_unit;
  c.units.resize(sections.units.size());
  std::vector<Statistics> out;
  for (const core::Statistics& st : core::unit_statistics(c, column))
    out.push_back({st.n, st.mean, st.sd, st.cv, st.p15, st.p85});
  return out;
}

}  // namespace zalk::survey
