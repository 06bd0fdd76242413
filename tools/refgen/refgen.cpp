// Reference deflection basins for the fit tests, from the long-double
// layered solver of layered_reference.h (independent of the library's
// engine).
//
// Usage:
//   refgen check            closed-form checks of the solver
//   refgen basins <file>    the synthetic basins, one row per sensor:
//                           case,layout,h1,h2,h3,e1,e2,e3,load,r,w
//   refgen global <file>    the same for the search over every depth
//                           (h3 "inf": no stiff layer)
//
// The structures are those the rating analyses: surface (nu 0.35), base
// (0.40) and subgrade (0.45) layers, bonded, on a stiff layer of modulus
// 1e7 (0.49) reaching down indefinitely; a load of L lb spread at 100 psi
// per 10940 lb over a circle of radius 5.9 in. Deflections in inches.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "layered_reference.h"

namespace {

using refgen::real;

struct Case {
  const char* name;
  const char* layout;  // "legacy" (0..36 in) or "wide" (0..72 in, seven sensors)
  double h1, h2, h3, e1, e2, e3, load;
};

// Thin and thick surfaces, base thicknesses on and off the table's grid,
// round and non-round moduli, stiff-layer depths on the candidates (24, 36,
// 48, 60, 120, 180, 240 in) and between them (42, 84, 150, 200 in).
const Case kCases[] = {
    {"G01", "legacy", 2.0, 6.0, 120.0, 400e3, 30e3, 10e3, 10940},
    {"G02", "legacy", 3.0, 12.0, 60.0, 600e3, 40e3, 8e3, 9000},
    {"G03", "legacy", 4.0, 18.0, 180.0, 800e3, 50e3, 12e3, 12000},
    {"G04", "legacy", 5.0, 12.0, 120.0, 1200e3, 40e3, 10e3, 10940},
    {"G05", "legacy", 6.0, 24.0, 240.0, 1500e3, 60e3, 15e3, 14000},
    {"G06", "legacy", 8.0, 9.0, 36.0, 2000e3, 30e3, 9e3, 10940},
    {"G07", "legacy", 10.0, 36.0, 180.0, 3000e3, 80e3, 20e3, 16000},
    {"G08", "legacy", 12.0, 6.0, 24.0, 1000e3, 20e3, 6e3, 9500},
    {"G09", "legacy", 4.5, 10.0, 60.0, 650e3, 35e3, 8e3, 12000},
    {"G10", "legacy", 7.0, 15.0, 120.0, 1100e3, 28e3, 12.5e3, 9000},
    {"G11", "legacy", 2.5, 20.0, 240.0, 273e3, 43.7e3, 7.3e3, 11230},
    {"G12", "legacy", 3.5, 30.0, 48.0, 512e3, 61.2e3, 11.8e3, 10100},
    {"G13", "legacy", 9.0, 8.0, 180.0, 2340e3, 18.4e3, 4.9e3, 8800},
    {"G14", "legacy", 5.5, 42.0, 120.0, 980e3, 95e3, 25.5e3, 15500},
    {"G15", "legacy", 14.0, 12.0, 240.0, 1850e3, 52e3, 13.3e3, 10940},
    {"O01", "legacy", 4.0, 12.0, 84.0, 700e3, 40e3, 9e3, 10940},
    {"O02", "legacy", 6.0, 18.0, 150.0, 1300e3, 45e3, 11e3, 12000},
    {"O03", "legacy", 3.0, 10.0, 42.0, 450e3, 33e3, 7.5e3, 9600},
    {"O04", "legacy", 8.0, 24.0, 200.0, 1750e3, 65e3, 14e3, 13500},
    {"O05", "legacy", 5.0, 15.0, 100.0, 870e3, 38.5e3, 10.7e3, 10940},
    {"W01", "wide", 5.0, 12.0, 120.0, 900e3, 45e3, 11e3, 10940},
    {"W02", "wide", 4.0, 20.0, 84.0, 620e3, 52e3, 8.2e3, 9000},
};

// For the search over every depth: stiff layers between the candidates,
// thin bases with a stiff layer just below them, and no stiff layer at all
// (h3 = 0 here, "inf" in the file).
const Case kGlobalCases[] = {
    {"D01", "legacy", 5.0, 12.0, 30.0, 900e3, 40e3, 10e3, 10940},
    {"D02", "legacy", 4.0, 10.0, 66.0, 650e3, 35e3, 9e3, 10940},
    {"D03", "legacy", 6.0, 15.0, 100.0, 1200e3, 45e3, 12e3, 12000},
    {"D04", "legacy", 3.0, 8.0, 135.0, 500e3, 28e3, 7e3, 9000},
    {"D05", "legacy", 8.0, 20.0, 210.0, 1600e3, 60e3, 14e3, 14000},
    {"D06", "legacy", 4.0, 36.0, 5.0, 500e3, 35e3, 12e3, 10940},
    {"D07", "legacy", 3.0, 3.0, 84.0, 450e3, 25e3, 8e3, 10940},
    {"D08", "legacy", 5.0, 4.0, 33.0, 850e3, 30e3, 9.5e3, 10940},
    {"D09", "legacy", 2.5, 3.0, 40.0, 380e3, 22e3, 6.5e3, 9500},
    {"D10", "legacy", 7.0, 12.0, 9.0, 1400e3, 42e3, 13e3, 12000},
    {"D11", "wide", 5.0, 14.0, 55.0, 1000e3, 48e3, 10.5e3, 10940},
    {"N01", "legacy", 4.0, 12.0, 0.0, 700e3, 40e3, 9e3, 10940},
    {"N02", "legacy", 6.0, 18.0, 0.0, 1300e3, 55e3, 12e3, 12000},
    {"N03", "legacy", 3.0, 6.0, 0.0, 420e3, 26e3, 6.8e3, 9000},
    {"N04", "wide", 5.0, 10.0, 0.0, 950e3, 38e3, 8.5e3, 10940},
};

std::vector<double> offsets(const char* layout) {
  if (std::strcmp(layout, "wide") == 0) return {0, 12, 24, 36, 48, 60, 72};
  return {0, 8, 12, 18, 24, 36};
}

refgen::Structure structure(double h1, double h2, double h3, double e1, double e2, double e3) {
  if (h3 == 0) return {{{e1, 0.35L, h1}, {e2, 0.40L, h2}, {e3, 0.45L, 0}}, false};
  return {{{e1, 0.35L, h1}, {e2, 0.40L, h2}, {e3, 0.45L, h3}, {1.0e7L, 0.49L, 0}}, false};
}

constexpr real kRadius = 5.9L;
real pressure(double load) { return 100.0L * load / 10940.0L; }

int check() {
  int bad = 0;
  auto report = [&](const char* what, real got, real want, real tol) {
    const real rel = std::fabs(got / want - 1);
    std::printf("%-58s %.15Le  %.15Le  rel %.2Le%s\n", what, got, want, rel, rel <= tol ? "" : "  FAIL");
    bad += rel > tol;
  };
  // A half-space cut into four bonded layers of one material: the closed form.
  const real e = 50000, nu = 0.35L, q = 80, a = 5.9L;
  refgen::Structure cut{{{e, nu, 3}, {e, nu, 7}, {e, nu, 40}, {e, nu, 0}}, false};
  refgen::Deflection dc(cut, q, a);
  for (real r : {0.0L, 3.0L, 5.9L, 12.0L, 36.0L, 60.0L}) {
    const real w = 2 * (1 - nu * nu) * q * a / e * refgen::halfspace_integral(r, a);
    char what[80];
    std::snprintf(what, sizeof what, "half-space cut into layers, r = %.1Lf", r);
    report(what, dc.at(r), w, 1e-12L);
  }
  // A thin layer on a rigid base under a wide load: one-dimensional
  // compression, w = q h (1 + nu)(1 - 2 nu) / ((1 - nu) E), up to O(h/a).
  for (real h : {0.059L, 0.0059L}) {
    refgen::Structure thin{{{e, nu, h}}, true};
    refgen::Deflection dt(thin, q, a);
    char what[80];
    std::snprintf(what, sizeof what, "layer h/a = %.0e on a rigid base, centre", double(h / a));
    report(what, dt.at(0), q * h * (1 + nu) * (1 - 2 * nu) / ((1 - nu) * e), 2 * h / a);
  }
  // A very thick layer on a rigid base tends to the half-space.
  refgen::Structure thick{{{e, nu, 1.0e5L}}, true};
  refgen::Deflection dk(thick, q, a);
  report("layer h = 1e5 on a rigid base, centre", dk.at(0), 2 * (1 - nu * nu) * q * a / e, 1e-4L);
  return bad;
}

template <std::size_t N>
int basins(const char* file, const Case (&cases)[N]) {
  std::FILE* f = std::fopen(file, "w");
  if (f == nullptr) {
    std::perror(file);
    return 1;
  }
  std::fprintf(f, "case,layout,h1,h2,h3,e1,e2,e3,load,r,w\n");
  for (const Case& c : cases) {
    refgen::Deflection d(structure(c.h1, c.h2, c.h3, c.e1, c.e2, c.e3), pressure(c.load), kRadius);
    for (double r : offsets(c.layout)) {
      char h3[32] = "inf";
      if (c.h3 != 0) std::snprintf(h3, sizeof h3, "%g", c.h3);
      std::fprintf(f, "%s,%s,%g,%g,%s,%g,%g,%g,%g,%g,%.12Le\n", c.name, c.layout, c.h1, c.h2, h3, c.e1,
                   c.e2, c.e3, c.load, r, d.at(r));
    }
    std::fflush(f);
  }
  std::fclose(f);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "check") == 0) return check() == 0 ? 0 : 1;
  if (argc >= 3 && std::strcmp(argv[1], "basins") == 0) return basins(argv[2], kCases);
  if (argc >= 3 && std::strcmp(argv[1], "global") == 0) return basins(argv[2], kGlobalCases);
  std::fprintf(stderr, "usage: refgen check | refgen basins <file> | refgen global <file>\n");
  return 2;
}
