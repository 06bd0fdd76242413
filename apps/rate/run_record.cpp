#include "apps/rate/run_record.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>

#include "apps/rate/rate_csv.h"
#include "apps/rate/rating_run.h"
#include "zalk/version.h"

namespace rate_tool {
namespace {

// The FNV-1a digest of a file's bytes, 16 hex digits: enough to tell one
// table or input from another.
std::string file_digest(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw ToolError(file.string() + ": cannot read it for its digest", 2);
  std::uint64_t h = 0xcbf29ce484222325ULL;
  char buf[65536];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    for (std::streamsize i = 0; i < in.gcount(); ++i) {
      h ^= std::uint8_t(buf[i]);
      h *= 0x100000001b3ULL;
    }
  }
  char out[17];
  std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(h));
  return out;
}

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char u[8];
      std::snprintf(u, sizeof u, "\\u%04x", c);
      out += u;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

// The next JSON string at or after `at` in text (as json_string writes them).
bool read_json_string(const std::string& text, std::size_t& at, std::string& s) {
  at = text.find('"', at);
  if (at == std::string::npos) return false;
  s.clear();
  for (++at; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '"') {
      ++at;
      return true;
    }
    if (c != '\\') {
      s += c;
      continue;
    }
    if (++at >= text.size()) return false;
    if (text[at] == 'u' && at + 4 < text.size()) {
      s += char(std::stoi(text.substr(at + 1, 4), nullptr, 16));
      at += 4;
    } else {
      s += text[at];
    }
  }
  return false;
}

// The strings of the record's array named key.
std::vector<std::string> json_string_array(const std::string& text, const std::string& key, const fs::path& file) {
  std::size_t at = text.find("\"" + key + "\": [");
  if (at == std::string::npos) throw ToolError(file.string() + ": not a run record: no \"" + key + "\"", 2);
  at = text.find('[', at) + 1;
  const std::size_t end = text.find(']', at);
  std::vector<std::string> out;
  std::string s;
  while (at < end && read_json_string(text, at, s) && at <= end) out.push_back(s);
  return out;
}

std::string read_text(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw ToolError(file.string() + ": cannot read the run record", 2);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

const char* method_name(const Options& o) {
  if (o.both_methods) return "both";
  return o.rating.method == zalk::Method::fit ? "fit" : "design";
}

const char* depth_name(zalk::DepthSearch d) {
  switch (d) {
    case zalk::DepthSearch::continuous: return "continuous";
    case zalk::DepthSearch::global: return "global";
    default: return "candidates";
  }
}

double share_argument(const std::string& option, const std::string& v) {
  double x = 0;
  if (!rate_csv::parse_decimal(v, x) || !(x >= 0 && x <= 10))
    usage(option + " needs a decimal number from 0 to 10, found \"" + v + "\"");
  return x;
}

// The inputs a record names with their digests: what a replay must find again.
std::vector<std::pair<std::string, fs::path>> recorded_inputs(const Options& o, const fs::path& table) {
  std::vector<std::pair<std::string, fs::path>> in = {{"table", table}, {"sections", o.sections}};
  if (!o.tests.empty()) in.push_back({"tests", o.tests});
  if (!o.overlay.empty()) in.push_back({"overlay", o.overlay});
  for (const fs::path& f : o.f25) in.push_back({"f25", f});
  return in;
}

}  // namespace

bool parse_fit_option(const std::string& arg, const std::function<std::string()>& value, Options& o) {
  if (arg == "--noise") {
    // MILS,SHARE: a reading's standard deviation is MILS plus SHARE of it.
    const std::string v = value();
    const std::size_t comma = v.find(',');
    double mils = 0, share = 0;
    if (comma == std::string::npos || !rate_csv::parse_decimal(v.substr(0, comma), mils) ||
        !rate_csv::parse_decimal(v.substr(comma + 1), share) || !(mils >= 0 && share >= 0) || !(mils > 0 || share > 0))
      usage("--noise needs MILS,SHARE (0.08,0.01 by default), neither negative nor both 0, found \"" + v + "\"");
    o.rating.fit.noise_mils = mils;
    o.rating.fit.noise_relative = share;
  } else if (arg == "--disagree") {
    o.disagree_share = share_argument(arg, value());
  } else if (arg == "--record") {
    o.record = value();
  } else if (arg == "--replay") {
    o.replay = value();
  } else {
    return false;
  }
  return true;
}

std::vector<std::string> replay_arguments(int argc, char** argv) {
  std::vector<std::string> given(argv + 1, argv + argc);
  fs::path record;
  for (std::size_t i = 0; i + 1 < given.size(); ++i)
    if (given[i] == "--replay") record = given[i + 1];
  std::vector<std::string> args;
  if (!record.empty()) args = json_string_array(read_text(record), "arguments", record);
  args.insert(args.end(), given.begin(), given.end());
  return args;
}

std::vector<std::string> recordable_arguments(const std::vector<std::string>& args) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if ((args[i] == "--record" || args[i] == "--replay") && i + 1 < args.size()) {
      ++i;
      continue;
    }
    out.push_back(args[i]);
  }
  return out;
}

Options design_options(const Options& o) {
  Options design = o;
  design.rating.method = zalk::Method::design;
  design.both_methods = false;
  return design;
}

void add_design_opinion(const Options& o, RatingRun* design, const std::vector<SectionInput>& sections,
                        std::vector<std::vector<Rated>>& rated) {
  if (!o.both_methods || design == nullptr) return;
  const auto second = design->rate(sections);
  for (std::size_t s = 0; s < rated.size(); ++s)
    for (std::size_t j = 0; j < rated[s].size(); ++j) {
      Rated& r = rated[s][j];
      r.design = second[s][j].result;
      const double a = r.result.allowable_load, b = r.design->allowable_load;
      const bool apart = std::isfinite(a) != std::isfinite(b) ||
                         (std::isfinite(a) && std::abs(a - b) > o.disagree_share * std::abs(b));
      if (apart) r.result.flags |= zalk::flag_methods_disagree;
    }
}

void write_fit_header(const Options& o, std::FILE* f) {
  if (o.rating.method != zalk::Method::fit) return;
  std::fprintf(f, ",e_surface_se_pct,e_base_se_pct,e_subgrade_se_pct,allowable_load_low,allowable_load_high");
  if (o.both_methods)
    std::fprintf(f, ",design_allowable_load,design_e_surface,design_e_base,design_e_subgrade,design_depth_in,"
                    "design_fit_rms_pct");
}

void write_fit_columns(const Options& o, const Rated& r, int g, std::FILE* f) {
  if (o.rating.method != zalk::Method::fit) return;
  const zalk::RatingResult& x = r.result;
  std::fprintf(f, ",%.*g,%.*g,%.*g,%.*g,%.*g", g, x.e_surface_se_pct, g, x.e_base_se_pct, g, x.e_subgrade_se_pct, g,
               x.allowable_load_low, g, x.allowable_load_high);
  if (o.both_methods && r.design) {
    const zalk::RatingResult& d = *r.design;
    std::fprintf(f, ",%.*g,%.*g,%.*g,%.*g,%.*g,%.*g", g, d.allowable_load, g, d.e_surface, g, d.e_base, g,
                 d.e_subgrade, g, d.depth_in, g, d.fit_rms_pct);
  }
}

void check_replayed_digests(const Options& o, const fs::path& table) {
  if (o.replay.empty()) return;
  const std::string text = read_text(o.replay);
  const std::vector<std::string> digests = json_string_array(text, "digests", o.replay);
  const auto inputs = recorded_inputs(o, table);
  if (digests.size() != 2 * inputs.size())
    throw ToolError(o.replay.string() + ": the record names " + std::to_string(digests.size() / 2) +
                        " inputs, this run " + std::to_string(inputs.size()), 2);
  for (std::size_t k = 0; k < inputs.size(); ++k) {
    const std::string now = file_digest(inputs[k].second);
    if (digests[2 * k + 1] != now)
      throw ToolError(o.replay.string() + ": the " + inputs[k].first + " file " + inputs[k].second.string() +
                          " is not the one recorded (digest " + now + ", recorded " + digests[2 * k + 1] + ")",
                      2);
  }
}

void RunCounts::add(const std::vector<std::vector<Rated>>& rated) {
  for (const auto& section : rated)
    for (const Rated& r : section) {
      ++tests;
      for (unsigned k = 0; k < 32; ++k)
        if (r.result.flags & (1u << k)) ++flags[zalk::flag_names(1u << k)];
    }
}

void write_run_record(const Options& o, const fs::path& table, const RunCounts& run) {
  if (o.record.empty()) return;
  const std::map<std::string, int>& counts = run.flags;
  const long tests = run.tests;
  Output out(o.record);
  std::FILE* f = out.get();
  const zalk::FitSettings& s = o.rating.fit;
  std::fprintf(f, "{\n  \"tool\": \"rate\",\n  \"library_version\": \"%s\",\n", ZALK_VERSION_STRING);
  std::fprintf(f, "  \"method\": \"%s\",\n  \"depth\": \"%s\",\n  \"refined_depths\": %d,\n", method_name(o),
               depth_name(s.depth), s.refined_depths);
  std::fprintf(f, "  \"noise\": {\"mils\": %.17g, \"relative\": %.17g},\n", s.noise_mils, s.noise_relative);
  std::fprintf(f, "  \"min_depth_in\": %.17g,\n  \"disagree_share\": %.17g,\n", s.min_depth_in, o.disagree_share);
  std::fprintf(f, "  \"bounds_psi\": {\"lower\": [%.17g, %.17g, %.17g], \"upper\": [%.17g, %.17g, %.17g]},\n",
               s.lower[0], s.lower[1], s.lower[2], s.upper[0], s.upper[1], s.upper[2]);
  std::fprintf(f, "  \"digests\": [");
  const auto inputs = recorded_inputs(o, table);
  for (std::size_t k = 0; k < inputs.size(); ++k)
    std::fprintf(f, "%s%s, %s", k ? ", " : "", json_string(inputs[k].first + " " + inputs[k].second.string()).c_str(),
                 json_string(file_digest(inputs[k].second)).c_str());
  std::fprintf(f, "],\n  \"tests\": %ld,\n  \"flag_counts\": {", tests);
  bool first = true;
  for (const auto& [name, n] : counts) {
    std::fprintf(f, "%s%s: %d", first ? "" : ", ", json_string(name).c_str(), n);
    first = false;
  }
  std::fprintf(f, "},\n  \"arguments\": [");
  for (std::size_t k = 0; k < o.arguments.size(); ++k)
    std::fprintf(f, "%s%s", k ? ", " : "", json_string(o.arguments[k]).c_str());
  std::fprintf(f, "]\n}\n");
  out.finish();
}

}  // namespace rate_tool
