#include "apps/rate/survey_output.h"

#include <algorithm>
#include <cmath>

#include "apps/rate/rate_csv.h"

namespace rate_survey {
namespace {

using zalk::survey::Aashto93;
using zalk::survey::Indices;

struct SurveyColumn {
  const char* name;
  bool normalised;  // present only with a reference load
  double (*get)(const Indices&, const Aashto93&);
};

constexpr SurveyColumn kColumns[] = {
    {"d0_mils", false, [](const Indices& i, const Aashto93&) { return i.d0_mils; }},
    {"sci_mils", false, [](const Indices& i, const Aashto93&) { return i.sci_mils; }},
    {"bdi_mils", false, [](const Indices& i, const Aashto93&) { return i.bdi_mils; }},
    {"bci_mils", false, [](const Indices& i, const Aashto93&) { return i.bci_mils; }},
    {"area_in", false, [](const Indices& i, const Aashto93&) { return i.area_in; }},
    {"d0_mils_norm", true, [](const Indices& i, const Aashto93&) { return i.d0_norm; }},
    {"sci_mils_norm", true, [](const Indices& i, const Aashto93&) { return i.sci_norm; }},
    {"bdi_mils_norm", true, [](const Indices& i, const Aashto93&) { return i.bdi_norm; }},
    {"bci_mils_norm", true, [](const Indices& i, const Aashto93&) { return i.bci_norm; }},
    {"area_in_norm", true, [](const Indices& i, const Aashto93&) { return i.area_norm; }},
    {"mr_psi", false, [](const Indices&, const Aashto93& a) { return a.mr_psi; }},
    {"mr_offset_in", false, [](const Indices&, const Aashto93& a) { return a.mr_offset_in; }},
    {"ep_psi", false, [](const Indices&, const Aashto93& a) { return a.ep_psi; }},
    {"ae_in", false, [](const Indices&, const Aashto93& a) { return a.ae_in; }},
    {"sneff", false, [](const Indices&, const Aashto93& a) { return a.sneff; }},
    {"mr_design_psi", false, [](const Indices&, const Aashto93& a) { return a.mr_design_psi; }},
};

// Besides the chosen column, the sections report these.
constexpr const char* kSectionStatistics[] = {"e_surface", "e_base", "e_subgrade", "allowable_load", "sneff",
                                              "mr_psi"};
constexpr const char* kStation = "station";

bool number_in(const std::string& text, double low, double high, bool low_open, double& out) {
  double x = 0;
  if (!rate_csv::parse_decimal(text, x)) return false;
  if (low_open ? !(x > low) : !(x >= low)) return false;
  if (!(x <= high)) return false;
  out = x;
  return true;
}

void print_number(std::FILE* f, double v, int digits) {
  if (std::isfinite(v)) std::fprintf(f, ",%.*g", digits, v);
  else std::fputc(',', f);
}

}  // namespace

bool take_option(const std::string& arg, const std::function<std::string()>& value, Options& o,
                 std::string& problem) {
  if (arg == "--indices") {
    o.indices = true;
  } else if (arg == "--reference-load") {
    const std::string v = value();
    if (!number_in(v, 0, 1e6, true, o.reference_load_lb))
      problem = "--reference-load needs a load in lb above 0 and at most 1e6, found \"" + v + "\"";
  } else if (arg == "--aashto-c") {
    const std::string v = value();
    if (!number_in(v, 0, 1, true, o.design_factor))
      problem = "--aashto-c needs a factor above 0 and at most 1, found \"" + v + "\"";
  } else if (arg == "--segments") {
    o.segments_column = value();
  } else if (arg == "--min-length") {
    const std::string v = value();
    if (!number_in(v, 0, 1e12, false, o.min_length))
      problem = "--min-length needs a length in station units, 0 or above, found \"" + v + "\"";
  } else if (arg == "--segments-out") {
    o.segments_out = value();
  } else {
    return false;
  }
  return true;
}

std::string check_options(const Options& o, const std::vector<std::string>& rated_columns) {
  if (o.segments_column.empty() && (o.min_length > 0 || !o.segments_out.empty()))
    return "--min-length and --segments-out need --segments COLUMN";
  if (!o.wanted() && std::isfinite(o.reference_load_lb)) return "--reference-load needs --indices or --segments";
  if (o.segments_column.empty()) return {};
  const std::string& c = o.segments_column;
  if (c == kStation || std::find(rated_columns.begin(), rated_columns.end(), c) != rated_columns.end()) return {};
  for (const SurveyColumn& s : kColumns)
    if (c == s.name) {
      if (s.normalised && !std::isfinite(o.reference_load_lb)) return "--segments " + c + " needs --reference-load";
      return {};
    }
  std::string names;
  for (const std::string& r : rated_columns) names += " " + r;
  for (const SurveyColumn& s : kColumns) names += std::string(" ") + s.name;
  return "--segments: \"" + c + "\" is not a numeric column of the results; they are:" + names;
}

Survey::Survey(const Options& o, std::vector<std::string> rated_columns, std::vector<DropRow> rows)
    : options_(o), rated_columns_(std::move(rated_columns)), rows_(std::move(rows)) {
  indices_.reserve(rows_.size());
  aashto_.reserve(rows_.size());
  for (const DropRow& r : rows_) {
    indices_.push_back(zalk::survey::indices({r.basin}, o.reference_load_lb).front());
    aashto_.push_back(
        zalk::survey::aashto93({r.basin}, {r.thickness_in, r.plate_radius_in, o.design_factor}).front());
  }
}

bool Survey::normalised() const { return std::isfinite(options_.reference_load_lb); }

void Survey::write_header(std::FILE* f) const {
  for (const SurveyColumn& s : kColumns)
    if (!s.normalised || normalised()) std::fprintf(f, ",%s", s.name);
  std::fputs(",survey_flags", f);
}

void Survey::write_row(std::FILE* f, std::size_t drop, int digits) const {
  const Indices& ix = indices_[drop];
  const Aashto93& a = aashto_[drop];
  for (const SurveyColumn& s : kColumns)
    if (!s.normalised || normalised()) print_number(f, s.get(ix, a), digits);
  std::fprintf(f, ",%s", zalk::survey::flag_names(ix.flags | a.flags).c_str());
}

std::vector<double> Survey::column(const std::string& name) const {
  std::vector<double> out;
  out.reserve(rows_.size());
  if (name == kStation) {
    for (const DropRow& r : rows_) out.push_back(r.station);
    return out;
  }
  const auto rated = std::find(rated_columns_.begin(), rated_columns_.end(), name);
  if (rated != rated_columns_.end()) {
    const std::size_t k = std::size_t(rated - rated_columns_.begin());
    for (const DropRow& r : rows_) out.push_back(k < r.rated.size() ? r.rated[k] : NAN);
    return out;
  }
  for (const SurveyColumn& s : kColumns)
    if (name == s.name)
      for (std::size_t i = 0; i < rows_.size(); ++i) out.push_back(s.get(indices_[i], aashto_[i]));
  return out;
}

void Survey::write_segments(std::FILE* f, int digits) const {
  const std::vector<double> stations = column(kStation);
  const zalk::survey::Sections s =
      zalk::survey::segment(stations, column(options_.segments_column), options_.min_length);
  for (const zalk::survey::SectionProblem& p : s.problems) {
    if (p.drop == zalk::survey::kWholeSurvey)
      std::fprintf(stderr, "rate: --segments %s: %s\n", options_.segments_column.c_str(), p.message.c_str());
    else
      std::fprintf(stderr, "%s:%d: %s\n", rows_[p.drop].file.c_str(), rows_[p.drop].line, p.message.c_str());
  }
  std::vector<std::string> described{options_.segments_column};
  for (const char* c : kSectionStatistics)
    if (std::find(described.begin(), described.end(), c) == described.end()) described.push_back(c);
  std::vector<std::vector<zalk::survey::Statistics>> stats;
  for (const std::string& c : described) stats.push_back(zalk::survey::unit_statistics(s, column(c)));

  std::fprintf(f, "segment,first_line,last_line,station_from,station_to,n");
  for (const std::string& c : described)
    for (const char* stat : {"mean", "sd", "cv", "p15", "p85"}) std::fprintf(f, ",%s_%s", c.c_str(), stat);
  std::fputc('\n', f);
  std::vector<int> first_line(s.units.size(), 0), last_line(s.units.size(), 0);
  for (std::size_t i = 0; i < s.drop_unit.size(); ++i) {
    if (s.drop_unit[i] < 0) continue;
    const std::size_t u = std::size_t(s.drop_unit[i]);
    if (first_line[u] == 0) first_line[u] = rows_[i].line;
    last_line[u] = rows_[i].line;
  }
  for (std::size_t u = 0; u < s.units.size(); ++u) {
    const zalk::survey::Unit& unit = s.units[u];
    std::fprintf(f, "%zu,%d,%d,%.*g,%.*g,%zu", u + 1, first_line[u], last_line[u], digits, unit.station_from,
                 digits, unit.station_to, unit.drops);
    for (const auto& per_column : stats) {
      const zalk::survey::Statistics& st = per_column[u];
      for (double v : {st.mean, st.sd, st.cv, st.p15, st.p85}) print_number(f, v, digits);
    }
    std::fputc('\n', f);
  }
}

}  // namespace rate_survey
