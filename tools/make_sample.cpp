// make_sample: writes the synthetic sample data of the rating tool.
//
// Every deflection basin is computed by the layered elastic engine for a
// known structure (moduli, thicknesses, depth to the stiff layer) under the
// test's load, then perturbed by measurement noise. The surface modulus of
// each test follows the pavement temperature predicted for the test from its
// surface temperature and time of day, so the rating tool should recover the
// section's modulus at 72 F test after test. The true values go to
// truth.csv beside the data.
//
// Usage: make_sample [OUTPUT_DIR] [TESTS_PER_SECTION]
// Defaults: data/sample and 60. The random sequence has a fixed seed and is
// drawn from mt19937 words only, so the output is the same on every platform.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine/driver.h"
#include "engine/quorvan.h"
#include "zalk/rating_model.hpp"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kSeed = 3071;
constexpr double kPi = 3.14159265358979323846;
constexpr double kRefLoad = zalk::kRatingModel.reference_load_lb;  // the engine's unit load

struct SectionTruth {
  const char* id;
  double h1, h2, h3;            // surface, base thickness; depth to the stiff layer (in)
  double e72, e2, e3;           // surface modulus at 72 F, base and subgrade moduli (psi)
  double prev_day_air;          // F
  double air[5];                // mean air temperature of the five seasons, F
};

// Depths 84 and 150 in lie between the table's depth candidates; 120 and 48
// are candidates themselves.
const SectionTruth kSections[] = {
    {"S1", 3.5, 10.0, 84.0, 450000.0, 30000.0, 9000.0, 66.0, {56, 31, 49, 61, 79}},
    {"S2", 6.0, 12.0, 120.0, 600000.0, 45000.0, 12000.0, 70.0, {58, 33, 51, 63, 82}},
    {"S3", 8.0, 8.0, 150.0, 800000.0, 25000.0, 15000.0, 61.0, {54, 28, 47, 60, 77}},
    {"S4", 4.5, 18.0, 48.0, 350000.0, 60000.0, 7000.0, 74.0, {60, 36, 53, 65, 85}},
};
const double kSeasonDays[5] = {91, 90, 45, 45, 94};  // Fall, Winter, Spring1, Spring2, Summer
const double kBaseFactors[5] = {1.0, 1.3, 0.7, 0.85, 1.0};
const double kSubgradeFactors[5] = {1.0, 1.5, 0.6, 0.8, 1.0};

// Uniform (0, 1) and normal deviates from raw mt19937 words (the standard
// distributions are not the same on every library).
class Noise {
 public:
  double uniform() { return (double(gen_()) + 0.5) / 4294967296.0; }
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  double normal() {  // Box-Muller, one deviate per pair of words
    const double u1 = uniform();
    const double u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * kPi * u2);
  }

 private:
  std::mt19937 gen_{kSeed};
};

// Pavement temperature (F) at a third of the surface layer, the relation the
// rating uses, in 8-byte arithmetic.
double pavement_temperature(double hour, double surface_f, double prev_day_air_f, double h1) {
  const double ir = (surface_f - 32.0) * 5.0 / 9.0;
  const double t1c = (prev_day_air_f - 32.0) * 5.0 / 9.0;
  const double a = (hour >= 5 && hour <= 11) ? -1.0
                                             : std::sin(2.0 * kPi * ((hour < 5 ? hour + 24 : hour) - 15.5) / 18.0);
  const double b = (hour >= 3 && hour <= 9) ? -1.0
                                            : std::sin(2.0 * kPi * ((hour < 3 ? hour + 24 : hour) - 13.5) / 18.0);
  const double dmm = h1 * 25.4 / 3.0;
  const double tdc = (std::log10(dmm) - 1.25) * (0.621 * t1c - 0.448 * ir + 1.83 * a) +
                     (0.892 * ir + 0.95) + 0.042 * ir * b;
  return tdc * 9.0 / 5.0 + 32.0;
}

std::FILE* open_or_die(const fs::path& file) {
  std::FILE* f = std::fopen(file.c_str(), "w");
  if (f == nullptr) {
    std::fprintf(stderr, "make_sample: cannot write %s\n", file.c_str());
    std::exit(2);
  }
  return f;
}

void write_sections(const fs::path& dir) {
  std::FILE* f = open_or_die(dir / "sections.csv");
  std::fprintf(f,
               "section,days_fall,days_winter,days_spring1,days_spring2,days_summer,"
               "air_fall_f,air_winter_f,air_spring1_f,air_spring2_f,air_summer_f,"
               "surface_in,base_in,prev_day_air_f,"
               "base_factor_fall,base_factor_winter,base_factor_spring1,base_factor_spring2,base_factor_summer,"
               "subgrade_factor_fall,subgrade_factor_winter,subgrade_factor_spring1,subgrade_factor_spring2,"
               "subgrade_factor_summer\n");
  bool first = true;
  for (const SectionTruth& s : kSections) {
    std::fprintf(f, "%s", s.id);
    for (double d : kSeasonDays) std::fprintf(f, ",%g", d);
    for (double t : s.air) std::fprintf(f, ",%g", t);
    std::fprintf(f, ",%g,%g,%g", s.h1, s.h2, s.prev_day_air);
    // The factors are shared by all sections; only the first row gives them.
    for (double x : kBaseFactors) first ? std::fprintf(f, ",%g", x) : std::fprintf(f, ",");
    for (double x : kSubgradeFactors) first ? std::fprintf(f, ",%g", x) : std::fprintf(f, ",");
    std::fprintf(f, "\n");
    first = false;
  }
  std::fclose(f);
}

void write_overlay(const fs::path& dir) {
  std::FILE* f = open_or_die(dir / "overlay.csv");
  std::fprintf(f, "section,depth_in,e_surface,e_base,e_subgrade\n");
  for (const SectionTruth& s : kSections)
    std::fprintf(f, "%s,%g,%g,%g,%g\n", s.id, s.h3, s.e72, s.e2, s.e3);
  std::fclose(f);
}

void write_tests(const fs::path& dir, int per_section) {
  const fs::path deck_dir = fs::temp_directory_path() / ("zalk_make_sample_" + std::to_string(::getpid()));
  fs::create_directories(deck_dir);
  auto ws = zalk::engine::make_engine_workspace();
  Noise noise;
  std::FILE* tests = open_or_die(dir / "tests.csv");
  std::FILE* truth = open_or_die(dir / "truth.csv");
  std::fprintf(tests, "section,hour,load_lb,d0_mils,d8_mils,d12_mils,d18_mils,d24_mils,d36_mils,"
                      "reps_per_year,surface_temp_f\n");
  std::fprintf(truth, "section,test,pavement_temp_f,e_surface,e_surface_72f,e_base,e_subgrade,depth_in\n");
  for (const SectionTruth& s : kSections) {
    for (int j = 1; j <= per_section; ++j) {
      const double hour = noise.uniform(7.0, 17.5);
      const double surface = noise.uniform(45.0, 115.0);
      const double load = std::round(noise.uniform(9000.0, 16000.0));
      const double reps = std::round(noise.uniform(50000.0, 250000.0) / 100.0) * 100.0;
      const double td = pavement_temperature(hour, surface, s.prev_day_air, s.h1);
      // Point-to-point variation of the layers along the section.
      const double e1 = s.e72 * std::pow(10.0, -(td - 72.0) * 0.01111111) * (1.0 + 0.05 * noise.normal());
      const double e2 = s.e2 * (1.0 + 0.05 * noise.normal());
      const double e3 = s.e3 * (1.0 + 0.05 * noise.normal());
      const float fe1 = float(e1), fe2 = float(e2), fe3 = float(e3), seastab = 0.0f;
      float defl[10] = {};
      float scratch[10] = {};
      zalk::engine::quorvan(*ws, deck_dir / "input_m.txt", float(s.h1), float(s.h2), float(s.h3), &fe1,
                            &fe2, &fe3, float(load / kRefLoad), defl, scratch, &seastab, 1, 1);
      std::fprintf(tests, "%s,%.2f,%.0f", s.id, hour, load);
      for (int k = 0; k < 6; ++k) {
        // About 0.5 % of the reading plus 0.04 mil (1 micrometre) of sensor noise.
        const double mils = double(defl[k]) * 1000.0 * (1.0 + 0.005 * noise.normal()) + 0.04 * noise.normal();
        std::fprintf(tests, ",%.2f", mils);
      }
      std::fprintf(tests, ",%.0f,%.1f\n", reps, surface);
      std::fprintf(truth, "%s,%d,%.1f,%.0f,%.0f,%.0f,%.0f,%g\n", s.id, j, td, e1,
                   e1 * std::pow(10.0, (td - 72.0) * 0.01111111), e2, e3, s.h3);
    }
    std::fprintf(stderr, "make_sample: section %s done\n", s.id);
  }
  std::fclose(tests);
  std::fclose(truth);
  fs::remove_all(deck_dir);
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path dir = argc > 1 ? argv[1] : "data/sample";
  const int per_section = argc > 2 ? std::atoi(argv[2]) : 60;
  if (per_section < 1 || per_section > 2000) {
    std::fprintf(stderr, "make_sample: tests per section must be 1..2000\n");
    return 2;
  }
  fs::create_directories(dir);
  write_sections(dir);
  write_overlay(dir);
  write_tests(dir, per_section);
  return 0;
}
