// The compiled part of the zalk3071 Python package: thin wrappers of the C++
// API over numpy arrays. Arguments arrive checked by the Python layer (dtype,
// shape, finiteness); the C++ API checks every value again and its refusals
// come back as zalk3071.ZalkError. The GIL is released while the library works.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <array>
#include <string>
#include <vector>

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
  return d;
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
  py::object error = make(e.text, e.routine, e.code, int(e.type), e.message);
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
  throw py::value_error("depth must be \"candidates\" or \"continuous\", not \"" + name + "\"");
}

// The fit's settings, field by field as FitSettings holds them.
zalk::FitSettings fit_settings_from(const std::string& depth, int refined_depths,
                                    const std::array<double, 3>& lower, const std::array<double, 3>& upper) {
  zalk::FitSettings out;
  out.depth = depth_search_from(depth);
  out.refined_depths = refined_depths;
  out.lower = lower;
  out.upper = upper;
  return out;
}

// The library's defaults, so that Python does not type them again.
py::dict fit_defaults() {
  const zalk::FitSettings f;
  py::dict d;
  d["depth"] = f.depth == zalk::DepthSearch::continuous ? "continuous" : "candidates";
  d["refined_depths"] = f.refined_depths;
  d["lower"] = py::make_tuple(f.lower[0], f.lower[1], f.lower[2]);
  d["upper"] = py::make_tuple(f.upper[0], f.upper[1], f.upper[2]);
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
                int refined_depths, const std::array<double, 3>& lower, const std::array<double, 3>& upper) {
    const zalk::Section s = section_from(section, 0);
    const auto tests = tests_from(values, offsets, deflections);
    zalk::RatingOptions opt;
    opt.method = method_from(method);
    opt.fit = fit_settings_from(depth_search, refined_depths, lower, upper);
    zalk::SectionRating r;
    {
      py::gil_scoped_release release;
      r = rater_.rate(s, tests, opt);
    }
    if (!r.status) raise_status(r.status);
    const auto n = py::ssize_t(r.tests.size());
    Array allow(n), e1(n), e72(n), e2(n), e3(n), depth(n), err(n), rms(n);
    py::list flags, messages;
    Array seasons({n, py::ssize_t(5)});
    auto S = seasons.mutable_unchecked<2>();
    py::array_t<bool> fitted(n), rated(n);
    for (py::ssize_t i = 0; i < n; ++i) {
      const zalk::RatingResult& t = r.tests[std::size_t(i)];
      allow.mutable_at(i) = t.allowable_load, e1.mutable_at(i) = t.e_surface;
      e72.mutable_at(i) = t.e_surface_72f, e2.mutable_at(i) = t.e_base;
      e3.mutable_at(i) = t.e_subgrade, depth.mutable_at(i) = t.depth_in;
      err.mutable_at(i) = t.fit_error;
      rms.mutable_at(i) = t.fit_rms_pct;
      flags.append(zalk::flag_names(t.flags));
      messages.append(t.message);
      for (py::ssize_t k = 0; k < 5; ++k) S(i, k) = t.season_allowable[std::size_t(k)];
      fitted.mutable_at(i) = t.fitted, rated.mutable_at(i) = t.rated;
    }
    py::dict d;
    d["allowable_load"] = allow, d["e_surface"] = e1, d["e_surface_72f"] = e72;
    d["e_base"] = e2, d["e_subgrade"] = e3, d["depth_in"] = depth, d["fit_error"] = err;
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
  zalk::Rater rater_;
};

}  // namespace

PYBIND11_MODULE(_zalk3071, m) {
  m.doc() = "Compiled core of zalk3071 (use the zalk3071 package, not this module).";
  m.def("analyse", &analyse, py::arg("layers"), py::arg("loads"), py::arg("points"), py::arg("si"),
        py::arg("round_moduli_as_deck"), py::arg("interface_above"));
  m.def("fit_defaults", &fit_defaults);
  py::class_<PyRater>(m, "Rater")
      .def(py::init<const std::filesystem::path&>(), py::arg("table"))
      .def("rate", &PyRater::rate, py::arg("section"), py::arg("values"), py::arg("offsets"),
           py::arg("deflections"), py::arg("method"), py::arg("depth"), py::arg("refined_depths"),
           py::arg("lower"), py::arg("upper"))
      .def("overlay", &PyRater::overlay, py::arg("sections"), py::arg("values"), py::arg("offsets"),
           py::arg("deflections"), py::arg("items"), py::arg("dh_in"));
}
