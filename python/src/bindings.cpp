// The compiled part of the zalk3071 Python package: thin wrappers of the C++
// API over numpy arrays. Arguments arrive checked by the Python layer (dtype,
// shape, finiteness); the C++ API checks every value again and its refusals
// come back as zalk3071.ZalkError. The GIL is released while the library works;
// a Rater serialises its calls with a lock of its own, as the library's rater
// rates one call at a time.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <array>
#include <cmath>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "zalk/version.h"
#include "zalk/zalk.hpp"

namespace py = pybind11;

namespace {

using Array = py::array_t<double, py::array::c_style | py::array::forcecast>;

py::dict error_dict(const zalk::Error& e) {
  py::dict d;
  d["routine"] = e.routine;
  d["code"] = e.code;
  d["type"] = int(e.type);
  d["message"] = e.message;
  d["text"] = e.text;
  d["errc"] = int(e.errc);
  return d;
}

// The names of zalk::Errc with their values, for the package's enum.
py::list errc_names() {
  py::list out;
  for (std::size_t k = 0; k < zalk::kErrcNames.size(); ++k)
    out.append(py::make_tuple(std::string(zalk::kErrcNames[k]), int(k)));
  return out;
}

py::list warnings_list(const zalk::Status& s) {
  py::list out;
  for (const zalk::Error& w : s.warnings) out.append(error_dict(w));
  return out;
}

// Raises the package's exception for a refused call: the Python side picks
// ZalkError or its input-error subclass.
[[noreturn]] void raise_status(const zalk::Status& s) {
  py::object make = py::module_::import("zalk3071._errors").attr("make_error");
  const zalk::Error& e = *s.error;
  py::object error = make(e.text, e.routine, e.code, int(e.type), e.message, int(e.errc));
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
  throw py::error_already_set();
}

zalk::Structure structure_from(const Array& layers) {
  zalk::Structure s;
  const auto r = layers.unchecked<2>();
  for (py::ssize_t i = 0; i < r.shape(0); ++i) {
    zalk::Layer l;
    l.thickness = r(i, 0);
    l.modulus = r(i, 1);
    l.poisson = r(i, 2);
    if (r.shape(1) > 3) l.bond = r(i, 3);
    s.layers.push_back(l);
  }
  return s;
}

std::vector<zalk::CircularLoad> loads_from(const Array& loads) {
  std::vector<zalk::CircularLoad> out;
  const auto r = loads.unchecked<2>();
  for (py::ssize_t i = 0; i < r.shape(0); ++i) out.push_back({r(i, 0), r(i, 1), r(i, 2), r(i, 3)});
  return out;
}

std::vector<zalk::Point> points_from(const Array& points) {
  std::vector<zalk::Point> out;
  const auto r = points.unchecked<2>();
  for (py::ssize_t i = 0; i < r.shape(0); ++i) out.push_back({r(i, 0), r(i, 1), r(i, 2)});
  return out;
}

// Per-component arrays of the responses.
py::dict response_arrays(const std::vector<zalk::Response>& rs) {
  const auto n = py::ssize_t(rs.size());
  Array w(n), ux(n), uy(n), stress({n, py::ssize_t(6)}), strain({n, py::ssize_t(6)});
  Array ps({n, py::ssize_t(3)}), pe({n, py::ssize_t(3)});
  py::array_t<int> layer(n);
  auto W = w.mutable_unchecked<1>(), UX = ux.mutable_unchecked<1>(), UY = uy.mutable_unchecked<1>();
  auto S = stress.mutable_unchecked<2>(), E = strain.mutable_unchecked<2>();
  auto PS = ps.mutable_unchecked<2>(), PE = pe.mutable_unchecked<2>();
  auto L = layer.mutable_unchecked<1>();
  for (py::ssize_t i = 0; i < n; ++i) {
    const zalk::Response& r = rs[std::size_t(i)];
    W(i) = r.w, UX(i) = r.u_x, UY(i) = r.u_y, L(i) = r.layer;
    const zalk::Tensor* t[2] = {&r.stress, &r.strain};
    decltype(S)* out[2] = {&S, &E};
    for (int k = 0; k < 2; ++k) {
      auto& o = *out[k];
      o(i, 0) = t[k]->xx, o(i, 1) = t[k]->yy, o(i, 2) = t[k]->zz;
      o(i, 3) = t[k]->xy, o(i, 4) = t[k]->yz, o(i, 5) = t[k]->xz;
    }
    for (int k = 0; k < 3; ++k) {
      PS(i, k) = r.principal_stresses[std::size_t(k)];
      PE(i, k) = r.principal_strains[std::size_t(k)];
    }
  }
  py::dict d;
  d["w"] = w, d["u_x"] = ux, d["u_y"] = uy, d["stress"] = stress, d["strain"] = strain;
  d["principal_stresses"] = ps, d["principal_strains"] = pe, d["layer"] = layer;
  return d;
}

py::dict analyse(const Array& layers, const Array& loads, const Array& points, bool si,
                 bool round_moduli_as_deck, bool interface_above) {
  zalk::AnalysisOptions opt;
  opt.units = si ? zalk::Units::si : zalk::Units::inch_psi;
  opt.round_moduli_as_deck = round_moduli_as_deck;
  opt.interface_points =
      interface_above ? zalk::InterfacePoints::layer_above : zalk::InterfacePoints::layer_below;
  const zalk::Structure s = structure_from(layers);
  const auto l = loads_from(loads);
  const auto p = points_from(points);
  zalk::AnalysisResult r;
  {
    py::gil_scoped_release release;
    // One workspace per thread, kept between calls: its tables and caches
    // make a repeated analysis as fast as from C++.
    thread_local zalk::AnalysisWorkspace workspace;
    r = zalk::analyse(workspace, s, l, p, opt);
  }
  if (!r.status) raise_status(r.status);
  py::dict d = response_arrays(r.responses);
  d["warnings"] = warnings_list(r.status);
  return d;
}

zalk::Seasonal seasonal(const Array& a, py::ssize_t row, py::ssize_t first) {
  const auto r = a.unchecked<2>();
  zalk::Seasonal s{};
  for (std::size_t k = 0; k < 5; ++k) s[k] = r(row, first + py::ssize_t(k));
  return s;
}

// A section row: days(5), air(5), surface, base, previous day's air,
// base factors(5), subgrade factors(5): 23 values, the rating tool's order.
zalk::Section section_from(const Array& a, py::ssize_t row) {
  const auto r = a.unchecked<2>();
  zalk::Section s;
  s.days = seasonal(a, row, 0);
  s.air_temperature_f = seasonal(a, row, 5);
  s.surface_thickness_in = r(row, 10);
  s.base_thickness_in = r(row, 11);
  s.previous_day_air_f = r(row, 12);
  s.base_factor = seasonal(a, row, 13);
  s.subgrade_factor = seasonal(a, row, 18);
  return s;
}

// Tests: values (n x 4: hour, load, reps, surface temperature), offsets
// (k sensors, shared) and deflections (n x k).
std::vector<zalk::DeflectionTest> tests_from(const Array& values, const Array& offsets,
                                             const Array& deflections) {
  const auto v = values.unchecked<2>();
  const auto o = offsets.unchecked<1>();
  const auto d = deflections.unchecked<2>();
  std::vector<zalk::DeflectionTest> out(std::size_t(v.shape(0)));
  for (py::ssize_t i = 0; i < v.shape(0); ++i) {
    zalk::DeflectionTest& t = out[std::size_t(i)];
    t.hour = v(i, 0), t.load_lb = v(i, 1), t.reps_per_year = v(i, 2);
    t.surface_temperature_f = v(i, 3);
    t.sensor_offsets_in.assign(o.data(0), o.data(0) + o.shape(0));
    t.deflections_mils.assign(d.data(i, 0), d.data(i, 0) + d.shape(1));
  }
  return out;
}

zalk::Method method_from(const std::string& name) {
  if (name == "design") return zalk::Method::design;
  if (name == "fit") return zalk::Method::fit;
  throw py::value_error("method must be \"design\" or \"fit\", not \"" + name + "\"");
}

zalk::DepthSearch depth_search_from(const std::string& name) {
  if (name == "candidates") return zalk::DepthSearch::candidates;
  if (name == "continuous") return zalk::DepthSearch::continuous;
  if (name == "global") return zalk::DepthSearch::global;
  throw py::value_error("depth must be \"candidates\", \"continuous\" or \"global\", not \"" + name + "\"");
}

// The fit's settings, field by field as FitSettings holds them.
zalk::FitSettings fit_settings_from(const std::string& depth, int refined_depths,
                                    const std::array<double, 3>& lower, const std::array<double, 3>& upper,
                                    double noise_mils, double noise_relative, double min_depth_in) {
  zalk::FitSettings out;
  out.depth = depth_search_from(depth);
  out.refined_depths = refined_depths;
  out.lower = lower;
  out.upper = upper;
  out.noise_mils = noise_mils;
  out.noise_relative = noise_relative;
  out.min_depth_in = min_depth_in;
  return out;
}

// The library's defaults, so that Python does not type them again.
py::dict fit_defaults() {
  const zalk::FitSettings f;
  py::dict d;
  d["depth"] = f.depth == zalk::DepthSearch::continuous ? "continuous"
               : f.depth == zalk::DepthSearch::global   ? "global"
                                                        : "candidates";
  d["refined_depths"] = f.refined_depths;
  d["lower"] = py::make_tuple(f.lower[0], f.lower[1], f.lower[2]);
  d["upper"] = py::make_tuple(f.upper[0], f.upper[1], f.upper[2]);
  d["noise_mils"] = f.noise_mils;
  d["noise_relative"] = f.noise_relative;
  d["min_depth_in"] = f.min_depth_in;
  return d;
}

// Overlay items: row k of sections, tests (values, deflections) and items
// (depth, e_surface, e_base, e_subgrade) make item k.
std::vector<zalk::OverlayItem> overlay_items_from(const Array& sections, const Array& values,
                                                  const Array& offsets, const Array& deflections,
                                                  const Array& items) {
  // The Python layer builds these arrays row for row; a call that does not
  // is refused here rather than read past an array's end.
  const py::ssize_t n = items.ndim() == 2 ? items.shape(0) : -1;
  if (n < 0 || items.shape(1) != 4 || sections.ndim() != 2 || sections.shape(0) != n ||
      sections.shape(1) != 23 || values.ndim() != 2 || values.shape(0) != n || values.shape(1) != 4 ||
      offsets.ndim() != 1 || deflections.ndim() != 2 || deflections.shape(0) != n ||
      deflections.shape(1) != offsets.shape(0))
    throw py::value_error("overlay: sections (n x 23), values (n x 4), deflections (n x sensors) and items "
                          "(n x 4) must have one row per item");
  const auto tests = tests_from(values, offsets, deflections);
  const auto r = items.unchecked<2>();
  std::vector<zalk::OverlayItem> out(tests.size());
  for (py::ssize_t k = 0; k < r.shape(0); ++k) {
    zalk::OverlayItem& item = out[std::size_t(k)];
    item.section = section_from(sections, k);
    item.test = tests[std::size_t(k)];
    item.depth_in = r(k, 0), item.e_surface = r(k, 1), item.e_base = r(k, 2), item.e_subgrade = r(k, 3);
  }
  return out;
}

class PyRater {
 public:
  explicit PyRater(const std::filesystem::path& table) {
    zalk::Status s;
    {
      py::gil_scoped_release release;
      s = rater_.load_table(table);
    }
    if (!s) raise_status(s);
  }

  // Rates one section; returns per-test result columns.
  py::dict rate(const Array& section, const Array& values, const Array& offsets,
                const Array& deflections, const std::string& method, const std::string& depth_search,
                int refined_depths, const std::array<double, 3>& lower, const std::array<double, 3>& upper,
                double noise_mils, double noise_relative, double min_depth_in) {
    const zalk::Section s = section_from(section, 0);
    const auto tests = tests_from(values, offsets, deflections);
    zalk::RatingOptions opt;
    opt.method = method_from(method);
    opt.fit = fit_settings_from(depth_search, refined_depths, lower, upper, noise_mils, noise_relative,
                                min_depth_in);
    zalk::SectionRating r;
    {
      // The GIL first, then the lock: a thread waiting for the lock must
      // not hold the GIL the rating thread needs to return.
      py::gil_scoped_release release;
      const std::lock_guard<std::mutex> one_call_at_a_time(busy_);
      r = rater_.rate(s, tests, opt);
    }
    if (!r.status) raise_status(r.status);
    const auto n = py::ssize_t(r.tests.size());
    Array allow(n), e1(n), e72(n), e2(n), e3(n), depth_in(n), err(n), rms(n);
    Array se1(n), se2(n), se3(n), low(n), high(n);
    py::list flags, messages;
    Array seasons({n, py::ssize_t(5)});
    auto S = seasons.mutable_unchecked<2>();
    py::array_t<bool> fitted(n), rated(n);
    for (py::ssize_t i = 0; i < n; ++i) {
      const zalk::RatingResult& t = r.tests[std::size_t(i)];
      allow.mutable_at(i) = t.allowable_load, e1.mutable_at(i) = t.e_surface;
      e72.mutable_at(i) = t.e_surface_72f, e2.mutable_at(i) = t.e_base;
      e3.mutable_at(i) = t.e_subgrade, depth_in.mutable_at(i) = t.depth_in;
      se1.mutable_at(i) = t.e_surface_se_pct, se2.mutable_at(i) = t.e_base_se_pct;
      se3.mutable_at(i) = t.e_subgrade_se_pct;
      low.mutable_at(i) = t.allowable_load_low, high.mutable_at(i) = t.allowable_load_high;
      err.mutable_at(i) = t.fit_error;
      rms.mutable_at(i) = t.fit_rms_pct;
      flags.append(zalk::flag_names(t.flags));
      messages.append(t.message);
      for (py::ssize_t k = 0; k < 5; ++k) S(i, k) = t.season_allowable[std::size_t(k)];
      fitted.mutable_at(i) = t.fitted, rated.mutable_at(i) = t.rated;
    }
    py::dict d;
    d["allowable_load"] = allow, d["e_surface"] = e1, d["e_surface_72f"] = e72;
    d["e_base"] = e2, d["e_subgrade"] = e3, d["depth_in"] = depth_in, d["fit_error"] = err;
    d["e_surface_se_pct"] = se1, d["e_base_se_pct"] = se2, d["e_subgrade_se_pct"] = se3;
    d["allowable_load_low"] = low, d["allowable_load_high"] = high;
    d["fitted"] = fitted, d["rated"] = rated, d["fit_rms_pct"] = rms, d["flag_names"] = flags;
    d["message"] = messages;
    d["season_allowable"] = seasons;
    d["warnings"] = warnings_list(r.status);
    return d;
  }

  // Overlay iteration; returns per pass its item (0-based), pass number,
  // surface thickness and allowable load.
  py::dict overlay(const Array& sections, const Array& values, const Array& offsets,
                   const Array& deflections, const Array& items, double dh_in) {
    const auto in = overlay_items_from(sections, values, offsets, deflections, items);
    zalk::OverlayResult r;
    {
      py::gil_scoped_release release;
      const std::lock_guard<std::mutex> one_call_at_a_time(busy_);
      r = rater_.overlay(in, dh_in);
    }
    if (!r.status) raise_status(r.status);
    std::vector<int> item, pass;
    std::vector<double> surface, allow;
    for (std::size_t k = 0; k < r.items.size(); ++k)
      for (std::size_t p = 0; p < r.items[k].size(); ++p) {
        item.push_back(int(k)), pass.push_back(int(p) + 1);
        surface.push_back(r.items[k][p].surface_thickness_in);
        allow.push_back(r.items[k][p].allowable_load);
      }
    py::dict d;
    d["item"] = py::array_t<int>(py::ssize_t(item.size()), item.data());
    d["pass"] = py::array_t<int>(py::ssize_t(pass.size()), pass.data());
    d["surface_in"] = Array(py::ssize_t(surface.size()), surface.data());
    d["allowable_load"] = Array(py::ssize_t(allow.size()), allow.data());
    d["warnings"] = warnings_list(r.status);
    return d;
  }

 private:
  std::mutex busy_;
  zalk::Rater rater_;
};

py::object optional_value(const std::optional<double>& v) {
  return v ? py::object(py::float_(*v)) : py::object(py::none());
}

// One field file: its drops as columns (lists), its metadata, diagnostics
// and rejected lines. The Python layer makes the DataFrame.
py::dict read_field_file(const std::filesystem::path& path, const std::vector<double>& offsets_mm) {
  zalk::FieldFileOptions options;
  options.sensor_offsets_mm = offsets_mm;
  zalk::FieldFile f;
  {
    py::gil_scoped_release release;
    f = zalk::read_field_file(path, options);
  }
  py::dict columns;
  const char* names[] = {"line", "station_index", "station", "lane", "lane_code", "drop", "sequence", "year",
                         "month", "day", "hour", "minute", "second", "latitude", "longitude",
                         "surface_temp_f", "air_temp_f", "asphalt_temp_f", "load_lb", "stress_kpa",
                         "implausible", "suspect_sensor", "offsets_mm", "deflections_um", "sensor_slots",
                         "comment"};
  std::vector<py::list> c(std::size(names));
  for (const zalk::FieldDrop& d : f.drops) {
    std::size_t k = 0;
    for (const py::object& v :
         {py::object(py::int_(d.line)), py::object(py::int_(d.station_index)), py::object(py::float_(d.station)),
          py::object(py::str(d.lane)), py::object(py::str(d.lane_code)), py::object(py::int_(d.drop)),
          py::object(py::int_(d.sequence)), py::object(py::int_(d.year)), py::object(py::int_(d.month)),
          py::object(py::int_(d.day)), py::object(py::int_(d.hour)), py::object(py::int_(d.minute)),
          py::object(py::int_(d.second)), optional_value(d.latitude), optional_value(d.longitude),
          optional_value(d.surface_temperature_f), optional_value(d.air_temperature_f),
          optional_value(d.asphalt_temperature_f), py::object(py::float_(d.load_lb)),
          py::object(py::float_(d.stress_kpa)), py::object(py::bool_(d.implausible)),
          py::object(py::int_(d.suspect_sensor)), py::object(py::tuple(py::cast(d.offsets_mm))),
          py::object(py::tuple(py::cast(d.deflections_um))), py::object(py::tuple(py::cast(d.sensor_slots))),
          py::object(py::str(d.comment))})
      c[k++].append(v);
  }
  for (std::size_t k = 0; k < std::size(names); ++k) columns[names[k]] = c[k];
  py::list diagnostics;
  for (const zalk::FieldDiagnostic& d : f.diagnostics) {
    py::dict e;
    e["file"] = d.file, e["line"] = d.line, e["column"] = d.column, e["message"] = d.message;
    diagnostics.append(e);
  }
  static const char* const kFormats[] = {"unknown", "F25", "JILS"};
  py::dict out;
  out["file"] = f.file;
  out["format"] = kFormats[int(f.format)];
  out["read"] = f.read;
  out["metadata"] = f.metadata;
  out["drops"] = columns;
  out["diagnostics"] = diagnostics;
  out["rejected_lines"] = f.rejected_lines;
  out["summary"] = f.summary;
  return out;
}

std::vector<double> parse_sensor_offsets(const std::string& list) {
  std::vector<double> mm;
  std::string problem;
  if (!zalk::parse_sensor_offsets(list, mm, problem)) throw py::value_error("sensor_offsets: " + problem);
  return mm;
}

// ---- survey: indices, AASHTO 93, sections --------------------------------------

// Drops of one sensor layout: offsets (k), deflections (n x k), loads (n).
std::vector<zalk::survey::Drop> survey_drops(const Array& offsets, const Array& deflections, const Array& loads) {
  const auto o = offsets.unchecked<1>();
  const auto d = deflections.unchecked<2>();
  const auto l = loads.unchecked<1>();
  std::vector<zalk::survey::Drop> out(std::size_t(d.shape(0)));
  for (py::ssize_t i = 0; i < d.shape(0); ++i) {
    zalk::survey::Drop& x = out[std::size_t(i)];
    x.offsets_in.assign(o.data(0), o.data(0) + o.shape(0));
    x.deflections_mils.assign(d.data(i, 0), d.data(i, 0) + d.shape(1));
    x.load_lb = l(i);
  }
  return out;
}

// One array per field of the rows, and the flags as words.
template <class Row, std::size_t N>
py::dict survey_columns(const std::vector<Row>& rows, const std::array<std::pair<const char*, double Row::*>, N>& fields) {
  const auto n = py::ssize_t(rows.size());
  py::dict d;
  for (const auto& [name, member] : fields) {
    Array a(n);
    for (py::ssize_t i = 0; i < n; ++i) a.mutable_at(i) = rows[std::size_t(i)].*member;
    d[name] = a;
  }
  py::list flags;
  for (const Row& r : rows) flags.append(zalk::survey::flag_names(r.flags));
  d["flags"] = flags;
  return d;
}

py::dict survey_indices(const Array& offsets, const Array& deflections, const Array& loads, double reference_load) {
  std::vector<zalk::survey::Indices> rows;
  {
    const auto drops = survey_drops(offsets, deflections, loads);
    py::gil_scoped_release release;
    rows = zalk::survey::indices(drops, reference_load);
  }
  using I = zalk::survey::Indices;
  return survey_columns(rows, std::array<std::pair<const char*, double I::*>, 10>{{
      {"d0_mils", &I::d0_mils}, {"sci_mils", &I::sci_mils}, {"bdi_mils", &I::bdi_mils},
      {"bci_mils", &I::bci_mils}, {"area_in", &I::area_in}, {"d0_mils_norm", &I::d0_norm},
      {"sci_mils_norm", &I::sci_norm}, {"bdi_mils_norm", &I::bdi_norm}, {"bci_mils_norm", &I::bci_norm},
      {"area_in_norm", &I::area_norm}}});
}

py::dict survey_aashto93(const Array& offsets, const Array& deflections, const Array& loads, const Array& thickness,
                         double plate_radius, double design_factor) {
  std::vector<zalk::survey::Aashto93> rows;
  {
    const auto drops = survey_drops(offsets, deflections, loads);
    const auto t = thickness.unchecked<1>();
    const std::vector<double> per_drop(t.data(0), t.data(0) + t.shape(0));
    py::gil_scoped_release release;
    rows = zalk::survey::aashto93(drops, {NAN, plate_radius, design_factor}, per_drop);
  }
  using A = zalk::survey::Aashto93;
  return survey_columns(rows, std::array<std::pair<const char*, double A::*>, 6>{{
      {"mr_psi", &A::mr_psi}, {"mr_offset_in", &A::mr_offset_in}, {"ep_psi", &A::ep_psi}, {"ae_in", &A::ae_in},
      {"sneff", &A::sneff}, {"mr_design_psi", &A::mr_design_psi}}});
}

py::dict survey_segment(const Array& stations, const Array& values, double min_length) {
  const std::vector<double> x(stations.data(), stations.data() + stations.size());
  const std::vector<double> v(values.data(), values.data() + values.size());
  const zalk::survey::Sections s = zalk::survey::segment(x, v, min_length);
  py::dict st, un, d;
  const auto ns = py::ssize_t(s.stations.size()), nu = py::ssize_t(s.units.size());
  Array station(ns), value(ns), width(ns), z(ns);
  py::array_t<long long> first_drop(ns), last_drop(ns);
  for (py::ssize_t i = 0; i < ns; ++i) {
    const auto& p = s.stations[std::size_t(i)];
    station.mutable_at(i) = p.station, value.mutable_at(i) = p.value, width.mutable_at(i) = p.width;
    z.mutable_at(i) = p.z, first_drop.mutable_at(i) = (long long)p.first_drop;
    last_drop.mutable_at(i) = (long long)p.last_drop;
  }
  st["station"] = station, st["value"] = value, st["width"] = width, st["z"] = z;
  st["first_drop"] = first_drop, st["last_drop"] = last_drop;
  Array from(nu), to(nu), length(nu), mean(nu);
  py::array_t<long long> first(nu), last(nu), drops(nu);
  for (py::ssize_t i = 0; i < nu; ++i) {
    const auto& u = s.units[std::size_t(i)];
    first.mutable_at(i) = (long long)u.first_station, last.mutable_at(i) = (long long)u.last_station;
    from.mutable_at(i) = u.station_from, to.mutable_at(i) = u.station_to;
    length.mutable_at(i) = u.length, mean.mutable_at(i) = u.mean, drops.mutable_at(i) = (long long)u.drops;
  }
  un["first_station"] = first, un["last_station"] = last, un["station_from"] = from, un["station_to"] = to;
  un["length"] = length, un["mean"] = mean, un["n"] = drops;
  py::list problems;
  for (const auto& p : s.problems)
    problems.append(py::make_tuple(p.drop == zalk::survey::kWholeSurvey ? py::object(py::none()) : py::int_(p.drop),
                                   p.message));
  d["stations"] = st, d["units"] = un, d["problems"] = problems;
  d["drop_unit"] = py::array_t<int>(py::ssize_t(s.drop_unit.size()), s.drop_unit.data());
  return d;
}

// Statistics of a column over each unit's drops: mean, sd, cv, p15, p85 and n.
py::dict survey_unit_statistics(const py::array_t<int, py::array::c_style | py::array::forcecast>& drop_unit,
                                std::size_t units, const Array& column) {
  zalk::survey::Sections s;
  s.drop_unit.assign(drop_unit.data(), drop_unit.data() + drop_unit.size());
  s.units.resize(units);
  const std::vector<double> c(column.data(), column.data() + column.size());
  const auto st = zalk::survey::unit_statistics(s, c);
  const auto n = py::ssize_t(st.size());
  Array mean(n), sd(n), cv(n), p15(n), p85(n);
  py::array_t<long long> count(n);
  for (py::ssize_t i = 0; i < n; ++i) {
    const auto& x = st[std::size_t(i)];
    mean.mutable_at(i) = x.mean, sd.mutable_at(i) = x.sd, cv.mutable_at(i) = x.cv;
    p15.mutable_at(i) = x.p15, p85.mutable_at(i) = x.p85, count.mutable_at(i) = (long long)x.n;
  }
  py::dict d;
  d["n"] = count, d["mean"] = mean, d["sd"] = sd, d["cv"] = cv, d["p15"] = p15, d["p85"] = p85;
  return d;
}

}  // namespace

// The structure every rating analyses (zalk::kRatingModel), for the package
// to use rather than type again.
py::dict rating_model() {
  const zalk::RatingModel& r = zalk::kRatingModel;
  py::dict d;
  d["poisson"] = py::make_tuple(r.poisson[0], r.poisson[1], r.poisson[2], r.poisson[3]);
  d["stiff_layer_modulus_psi"] = r.stiff_layer_modulus_psi;
  d["plate_radius_in"] = r.plate_radius_in;
  d["reference_load_lb"] = r.reference_load_lb;
  d["reference_pressure_psi"] = r.reference_pressure_psi;
  d["pressure_per_lb"] = r.pressure_per_lb();
  d["sensor_offsets_in"] = py::tuple(py::cast(std::vector<double>(r.sensor_offsets_in.begin(), r.sensor_offsets_in.end())));
  return d;
}

PYBIND11_MODULE(_zalk3071, m) {
  m.doc() = "Compiled core of zalk3071 (use the zalk3071 package, not this module).";
  m.attr("__version__") = ZALK_VERSION_STRING;
  m.attr("RATING_MODEL") = rating_model();
  m.def("analyse", &analyse, py::arg("layers"), py::arg("loads"), py::arg("points"), py::arg("si"),
        py::arg("round_moduli_as_deck"), py::arg("interface_above"));
  m.def("fit_defaults", &fit_defaults);
  m.def("errc_names", &errc_names);
  py::class_<PyRater>(m, "Rater")
      .def(py::init<const std::filesystem::path&>(), py::arg("table"))
      .def("rate", &PyRater::rate, py::arg("section"), py::arg("values"), py::arg("offsets"),
           py::arg("deflections"), py::arg("method"), py::arg("depth"), py::arg("refined_depths"),
           py::arg("lower"), py::arg("upper"), py::arg("noise_mils"), py::arg("noise_relative"),
           py::arg("min_depth_in"))
      .def("overlay", &PyRater::overlay, py::arg("sections"), py::arg("values"), py::arg("offsets"),
           py::arg("deflections"), py::arg("items"), py::arg("dh_in"));
  m.def("read_field_file", &read_field_file, py::arg("path"), py::arg("offsets_mm"));
  m.def("parse_sensor_offsets", &parse_sensor_offsets, py::arg("list"));
  m.def("survey_indices", &survey_indices, py::arg("offsets"), py::arg("deflections"), py::arg("loads"),
        py::arg("reference_load"));
  m.def("survey_aashto93", &survey_aashto93, py::arg("offsets"), py::arg("deflections"), py::arg("loads"),
        py::arg("thickness"), py::arg("plate_radius"), py::arg("design_factor"));
  m.def("survey_segment", &survey_segment, py::arg("stations"), py::arg("values"), py::arg("min_length"));
  m.def("survey_unit_statistics", &survey_unit_statistics, py::arg("drop_unit"), py::arg("units"),
        py::arg("column"));
}
