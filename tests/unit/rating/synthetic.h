// A closed-form pavement model for the rating tests: a deflection table and
// a stand-in engine that agree with each other exactly, so that a test can
// tell the rating logic apart from the accuracy of the layered engine.
//
// Deflection of sensor s (offset r) for thicknesses h, b, depth z (in),
// moduli in thousands of psi and load value q (1 = the table's load):
//   w = q * (A(r, h) / E1 + B(r, b) / E2 + C(r, z) / E3)
// with terms that decay with the offset r over lengths set by h, b and z.
// The model is homogeneous of degree -1 in the moduli, as elastic
// deflections are, so a scaled structure gives a scaled basin.
#pragma once

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "zalk3071/zalk3071.h"
#include "legacy/host_arrays.h"
#include "rating/blocks.h"
#include "rating/context.h"
#include "rating/grids.h"

namespace zalk::rating::testing {

inline constexpr std::array<double, 8> kOffsets{0, 8, 12, 18, 24, 36, 48, 60};

struct Model {
  bool depth_matters = true;

  double deflection(int s, double h, double b, double z, double e1k, double e2k, double e3k,
                    double q) const {
    const double r = kOffsets[std::size_t(s - 1)];
    const double a = 2.0 * std::exp(-r / (4.0 + h)) * 6.0 / (h + 2.0);
    const double bb = 0.5 * std::exp(-r / (10.0 + b)) * 12.0 / (b + 6.0);
    // A shallower stiff layer makes the subgrade's share of the basin die
    // out sooner: the depth shapes the basin (its magnitude alone would
    // trade against the subgrade modulus).
    const double c = 0.1 * std::exp(-r / (depth_matters ? z / 2.0 + 12.0 : 60.0));
    return q * (a / e1k + bb / e2k + c / e3k);
  }
};

// Writes the table file of the model in the fixed-column layout (the six
// leading fields hold the grid values, as a producer would write them).
inline void write_table(const std::filesystem::path& file, const Model& m) {
  std::FILE* f = std::fopen(file.c_str(), "w");
  if (f == nullptr) throw std::runtime_error("cannot write " + file.string());
  for (float h : HACGRID)
    for (float b : HBGRID)
      for (float d : DEPGRID)
        for (float e1 : E1GRID)
          for (float e2 : E2GRID) {
            std::fprintf(f, " %6.1f %6.1f %6.1f %8.0f %8.0f %8.0f", double(h), double(b), double(d),
                         double(e1) * 1000, double(e2) * 1000, 10000.0);
            for (int s = 1; s <= 8; ++s)
              std::fprintf(f, "  %12.8f", m.deflection(s, h, b, d * 12.0, e1, e2, 10.0, 1.0));
            std::fprintf(f, "\n");
          }
  std::fclose(f);
}

// Mode-2 responses of the stand-in engine: smooth functions of the seasonal
// moduli, positive, with a strength ratio above 1.
inline std::array<double, 9> mode2_response(double e1, double e2, double e3) {
  std::array<double, 9> r{};
  r[0] = 1.0e-4 * std::sqrt(500000.0 / e1);  // horizontal strain under the surface layer
  r[4] = 2.0 + e2 / 100000.0;               // strength ratio
  r[5] = 3.0e-4 * std::sqrt(10000.0 / e3);  // vertical strain in the subgrade
  r[8] = 5.0 * (10000.0 / e3);              // deflection difference x 1000
  return r;
}

// The stand-in engine: mode 1 from the model, mode 2 from mode2_response.
// It records the thicknesses of the last mode-1 call.
struct FakeEngine {
  Model model;
  float last_h1 = 0;
  int calls = 0;
  bool tiny_damage = false;  // mode 2 answers with responses that make the damage negligible

  RatingContext::EngineFn fn() {
    return [this](float h1, float h2, float h3, const float* e1, const float* e2, const float* e3,
                  float q, float* defl, float* resp, const float*, int ncases, int mode) {
      ++calls;
      if (mode == 1) {
        last_h1 = h1;
        for (int s = 1; s <= 8; ++s)
          defl[s - 1] = float(model.deflection(s, h1, h2, h3, e1[0] / 1000.0, e2[0] / 1000.0,
                                               e3[0] / 1000.0, q));
        return;
      }
      for (int c = 0; c < ncases; ++c) {
        std::array<double, 9> r = mode2_response(e1[c], e2[c], e3[c]);
        if (tiny_damage) {
          r[0] = 1.0e-9;
          r[4] = 1.0e6;
          r[5] = 1.0e-9;
          r[8] = 1.0e-9;
        }
        for (int k = 0; k < 9; ++k) resp[c * 10 + k] = float(r[std::size_t(k)]);
      }
    };
  }
};

using OwnBlocks = rating::OwnedBlocks;

// Host arrays with the library's extents, column-major.
struct Host {
  std::vector<double> fwd = std::vector<double>(legacy::kFwdSize, 0.0);
  std::vector<double> result = std::vector<double>(legacy::kResultSize, 0.0);
  std::vector<double> sect = std::vector<double>(legacy::kSectSize, 0.0);
  std::array<int, legacy::kMaxSections> ntest{};
  int nsec = 1;

  double& fwd_at(int p, int j, int k) { return fwd[legacy::test_at(p, j, k)]; }
  double& result_at(int p, int j, int k) { return result[legacy::test_at(p, j, k)]; }
  double& sect_at(int p, int c) { return sect[legacy::row_at(p, c)]; }

  // A section with typical seasons; the factors go to row 1.
  void set_section(int p, double h1, double h2) {
    const double days[5] = {91, 90, 45, 45, 94};
    const double air[5] = {56, 31, 49, 61, 79};
    for (int i = 1; i <= 5; ++i) {
      sect_at(p, i) = days[i - 1];
      sect_at(p, 5 + i) = air[i - 1];
    }
    sect_at(p, 11) = h1;
    sect_at(p, 12) = h2;
    sect_at(p, 13) = 66.0;
    const double base[5] = {1.0, 1.3, 0.7, 0.85, 1.0};
    const double sub[5] = {1.0, 1.5, 0.6, 0.8, 1.0};
    for (int i = 1; i <= 5; ++i) {
      sect_at(1, 13 + i) = base[i - 1];
      sect_at(1, 18 + i) = sub[i - 1];
    }
  }

  // A test whose basin is the model's for the given structure, in mils.
  void set_test(int p, int j, const Model& m, double h1, double h2, double depth, double e1,
                double e2, double e3, double load, double hour = 10.0, double ts = 80.0) {
    fwd_at(p, j, 1) = hour;
    fwd_at(p, j, 2) = load;
    for (int s = 1; s <= 6; ++s)
      fwd_at(p, j, 2 + s) =
          1000.0 * m.deflection(s, std::min(h1, 12.0), h2, depth, e1 / 1000, e2 / 1000, e3 / 1000, load / 10940.0);
    fwd_at(p, j, 9) = 100000.0;
    fwd_at(p, j, 10) = ts;
  }
};

// A folder of the test process's own (ZALK3071_DIR, set by the test main).
inline std::filesystem::path process_folder() {
  const char* dir = std::getenv("ZALK3071_DIR");
  return dir != nullptr ? std::filesystem::path(dir) : std::filesystem::temp_directory_path();
}

}  // namespace zalk::rating::testing
