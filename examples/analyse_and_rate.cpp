// Uses the zalk3071 package: deflections of a four-layer structure under a
// falling-weight load, then the rating of deflection tests read from the
// rating tool's CSV files (sections.csv, tests.csv; see the README).
//
// Usage: analyse_and_rate [SAMPLE_DIR [TABLE]]
//   SAMPLE_DIR  the folder of sections.csv and tests.csv (default: data/sample)
//   TABLE       the deflection table (default: the one the package installed)
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <zalk/zalk.hpp>

namespace {

using Row = std::vector<std::string>;

// Comma-separated rows after the header; blank lines and '#' lines skipped.
std::vector<Row> read_csv(const std::string& file) {
  std::ifstream in(file);
  if (!in) throw std::runtime_error("cannot open " + file);
  std::vector<Row> rows;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    Row row;
    std::stringstream fields(line);
    for (std::string f; std::getline(fields, f, ',');) row.push_back(f);
    rows.push_back(row);
  }
  return rows;
}

double number(const Row& row, std::size_t column) { return std::stod(row.at(column)); }

// sections.csv: days and air temperatures of the five seasons, thicknesses,
// the previous day's air temperature, then seasonal factors that only the
// first row needs to give.
zalk::Section read_section(const Row& row, const zalk::Section* first) {
  zalk::Section s;
  for (std::size_t i = 0; i < 5; ++i) {
    s.days[i] = number(row, 1 + i);
    s.air_temperature_f[i] = number(row, 6 + i);
    s.base_factor[i] = first ? first->base_factor[i] : number(row, 14 + i);
    s.subgrade_factor[i] = first ? first->subgrade_factor[i] : number(row, 19 + i);
  }
  s.surface_thickness_in = number(row, 11);
  s.base_thickness_in = number(row, 12);
  s.previous_day_air_f = number(row, 13);
  return s;
}

// tests.csv: section, hour, load, six deflections, repetitions, surface temperature.
zalk::DeflectionTest read_test(const Row& row) {
  zalk::DeflectionTest t;
  t.hour = number(row, 1);
  t.load_lb = number(row, 2);
  for (std::size_t k = 0; k < 6; ++k) t.deflections_mils.push_back(number(row, 3 + k));
  t.reps_per_year = number(row, 9);
  t.surface_temperature_f = number(row, 10);
  return t;
}

int fail(const zalk::Status& status) {
  std::fprintf(stderr, "%s\n", status.error->text.c_str());
  return 1;
}

int run(int argc, char** argv) {
  const std::string sample = argc > 1 ? argv[1] : "data/sample";
  const std::string table = argc > 2 ? argv[2] : ZALK_EXAMPLE_TABLE;

  // Asphalt, base and subbase on a stiff subgrade; 100 psi on a 5.9-in plate.
  const zalk::Structure pavement{{{4, 500000, 0.35}, {8, 30000, 0.40}, {12, 10000, 0.45}, {0, 1e7, 0.49}}};
  std::vector<zalk::Point> surface;
  for (double r : {0.0, 12.0, 24.0, 36.0}) surface.push_back({r, 0, 0});
  const zalk::AnalysisResult analysis = zalk::analyse(pavement, {{0, 0, 100, 5.9}}, surface);
  if (!analysis.status) return fail(analysis.status);
  for (std::size_t i = 0; i < surface.size(); ++i)
    std::printf("w(r = %2.0f in) = %.4e in\n", surface[i].x, analysis.responses[i].w);

  zalk::Rater rater;
  if (zalk::Status s = rater.load_table(table); !s) return fail(s);
  std::map<std::string, zalk::Section> sections;
  const zalk::Section* first = nullptr;
  for (const Row& row : read_csv(sample + "/sections.csv")) {
    zalk::Section& s = sections[row.at(0)] = read_section(row, first);
    if (first == nullptr) first = &s;
  }
  std::map<std::string, std::vector<zalk::DeflectionTest>> tests;
  for (const Row& row : read_csv(sample + "/tests.csv")) tests[row.at(0)].push_back(read_test(row));

  for (const auto& [id, section_tests] : tests) {
    const zalk::SectionRating rating = rater.rate(sections.at(id), section_tests);
    if (!rating.status) return fail(rating.status);
    double load = 0, subgrade = 0;
    int rated = 0;
    for (const zalk::RatingResult& r : rating.tests) {
      if (!r.rated) continue;
      ++rated;
      load += r.allowable_load;
      subgrade += r.e_subgrade;
    }
    std::printf("%s: %d of %zu tests rated", id.c_str(), rated, section_tests.size());
    if (rated > 0) std::printf(", mean allowable load %.2f, mean subgrade modulus %.0f psi", load / rated,
                               subgrade / rated);
    std::printf("\n");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {  // unreadable or malformed CSV
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
}
