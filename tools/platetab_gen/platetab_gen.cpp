// Generates src/plate/platetab_data.cpp: the 6000 values of the plate coefficient
// table, i.e. the six half-space functions S1..S6 (see plate/platetab.h) on
// the four blocks' grids.
//
//   platetab_gen <output file>        writes the table
//   platetab_gen --check              prints the self-checks only
//
// How the values are made:
// - Rows are evaluated at the grid values exactly as the interpolation holds
//   them (4-byte constants widened to 8 bytes), not at the decimal values the
//   grids stand for: the spline then reproduces the true function at every
//   node. Tabulating at the decimal values instead would shift every node by
//   up to 2e-6 (the near grid is 5^(m/19) rounded to six digits), an error the
//   spline would carry everywhere; --check prints its size.
// - rho = 0 (load axis) and zeta = 0 away from the load edge use closed forms:
//   on the axis S1 = S2 = S3 = 0, S4 = sqrt(1 + z^2) - z, S5 = -(1 + z^2)^-1.5,
//   S6 = 1 - z / sqrt(1 + z^2); at the surface S1 = rho/2 or 1/(2 rho),
//   S2 = 0, S4 = (2/pi) E(rho) or (2/pi)[rho E(1/rho) - (rho - 1/rho) K(1/rho)],
//   S6 = 1, 1/2 or 0 inside, on and outside the edge, and at rho = 1 S3 = S5 = 0.
// - Everything else comes from the one-dimensional edge integrals of
//   halfspace_integrals.h in extended precision. --check compares two
//   quadrature rules with different panel gradings and the surface closed form
//   of S4 with its quadrature.
// - The surface row (zeta = 0) of the edge block is a bridge: there the true
//   functions have a kink (S1), an infinite slope (S4) or a jump (S6) at
//   rho = 1, and an interpolating spline through the true values rings on the
//   neighbouring intervals that the plate routine does evaluate (it evaluates
//   the edge block for 0.82 <= rho <= 0.98 and 1.02 <= rho < 1.2, never in
//   between). The bridge replaces the values at the three central nodes
//   0.98, 1, 1.02 by those of a smooth curve across the edge:
//     * function 1 holds the straight line 0.49011 + 0.005 (rho - 1), i.e.
//       0.49001, 0.49011, 0.49021: the established values of this system at
//       the load edge (within 1.4e-5 of the true one-sided values at 0.98 and
//       1.02);
//     * functions 2 to 6 keep their true values at 0.98 and 1.02, and at
//       rho = 1 hold the value that minimises, in least squares over the
//       evaluated ranges [0.82, 0.98] and [1.02, 1.2], the difference between
//       the row's interpolating spline and the true function.
//   --check prints the resulting largest interpolation error of each
//   surface row.
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "halfspace_integrals.h"
#include "plate/platetab.h"
#include "quadratic_spline.h"

namespace platetab_gen {
namespace {

using Functions = std::array<real, 6>;

// Functions S1..S6 at (rho, zeta), zeta = 0 included except at rho = 1 with
// zeta = 0 handled by its limits.
Functions table_functions(real rho, real zeta, const GaussRule& rule, real grading) {
  if (rho == 0) {
    const real s = std::sqrt(1 + zeta * zeta);
    return {0, 0, 0, s - zeta, -1 / (s * s * s), 1 - zeta / s};
  }
  if (zeta == 0 && rho == 1) return {0.5L, 0, 0, 2 / kPi, 0, 0.5L};
  const Integrals in = lipschitz_hankel(rho, zeta, rule, grading);
  const real d = rho - 1;
  Functions f = {in[1][0], d * d * d * d * in[1][2], d * d * in[1][1],
                 in[0][0], d * d * d * in[0][2],     in[0][1]};
  if (zeta == 0) {
    f[0] = rho < 1 ? rho / 2 : 1 / (2 * rho);
    f[1] = 0;
    f[3] = surface_I0m1(rho);
    f[5] = rho < 1 ? 1 : 0;
  }
  return f;
}

using Table = std::vector<double>;  // 300 x 20, column-major

double& entry(Table& t, int row, int col) { return t[(row - 1) + (col - 1) * zalk::plate::kPlateRows]; }

// Largest interpolation error of a surface row of the edge block over the
// ranges the plate routine evaluates, for function k (0-based).
struct RowFit {
  std::vector<real> nodes, samples, truth;
  QuadraticSpline spline;
  explicit RowFit(const std::vector<real>& x) : nodes(x), spline(x) {}
};

std::vector<real> edge_samples() {
  std::vector<real> s;
  for (int i = 0; i <= 800; ++i) {
    const real r = 0.82L + i * 0.0005L;
    if (r <= 0.98L || r >= 1.02L) s.push_back(r);
  }
  return s;
}

real max_row_error(const QuadraticSpline& sp, const std::vector<real>& row, const std::vector<real>& samples,
                   const std::vector<real>& truth) {
  real e = 0;
  for (size_t i = 0; i < samples.size(); ++i) e = std::fmax(e, std::fabs(sp.value(row, samples[i]) - truth[i]));
  return e;
}

// Fills the surface row of the edge block with the bridge (see the header).
void bridge_edge_surface_row(Table& t, const GaussRule& rule, bool report) {
  const auto& b = zalk::plate::kPlateBlocks[zalk::plate::kEdgeBlock];
  std::vector<real> x(b.rho, b.rho + 20);
  QuadraticSpline sp(x);
  const std::vector<real> samples = edge_samples();
  std::vector<Functions> truth;
  for (real r : samples) truth.push_back(table_functions(r, 0, rule, 2));
  const int j98 = 9, j100 = 10, j102 = 11;  // 1-based columns of 0.98, 1, 1.02
  for (int k = 1; k <= 6; ++k) {
    const int row = zalk::plate::plate_row(b, k, 1);
    std::vector<real> f(20), tk(samples.size());
    for (int j = 1; j <= 20; ++j) f[j - 1] = entry(t, row, j);
    for (size_t i = 0; i < samples.size(); ++i) tk[i] = truth[i][k - 1];
    const real plain = max_row_error(sp, f, samples, tk);
    if (k == 1) {
      for (int j : {j98, j100, j102}) f[j - 1] = 0.49011L + 0.005L * (x[j - 1] - 1);
    } else {
      // The error is affine in the middle value v: e = e0 + v g.
      std::vector<real> f0 = f, unit(20, 0);
      f0[j100 - 1] = 0;
      unit[j100 - 1] = 1;
      real num = 0, den = 0;
      for (size_t i = 0; i < samples.size(); ++i) {
        const real e0 = sp.value(f0, samples[i]) - tk[i], g = sp.value(unit, samples[i]);
        num += e0 * g;
        den += g * g;
      }
      f[j100 - 1] = -num / den;
    }
    for (int j = 1; j <= 20; ++j) entry(t, row, j) = double(f[j - 1]);
    if (report)
      std::printf("edge surface row, function %d: bridge %.7Lf %.7Lf %.7Lf; max spline error %.3Le (true values: %.3Le)\n",
                  k, f[j98 - 1], f[j100 - 1], f[j102 - 1], max_row_error(sp, f, samples, tk), plain);
  }
}

Table make_table(const GaussRule& rule, real grading, bool exact_grid = false) {
  Table t(zalk::plate::kPlateRows * zalk::plate::kPlateCols);
  for (int blk = 0; blk < 4; ++blk) {
    const auto& b = zalk::plate::kPlateBlocks[blk];
    for (int j = 1; j <= 20; ++j) {
      for (int i = 1; i <= b.ny; ++i) {
        real rho = b.rho[j - 1], zeta = b.zeta[i - 1];
        if (exact_grid) {  // the decimal values the 4-byte grid stands for
          const real m = j - 1;
          rho = blk == 0 ? m / 19 : blk == 1 ? std::pow(5.0L, m / 19) : blk == 2 ? 5 * std::pow(7.0L, m / 19) : (82 + 2 * m) / 100;
          zeta = std::round(zeta * 100) / 100;
        }
        const Functions f = table_functions(rho, zeta, rule, grading);
        for (int k = 1; k <= 6; ++k) entry(t, zalk::plate::plate_row(b, k, i), j) = double(f[k - 1]);
      }
    }
  }
  return t;
}

int check(const Table& t, const GaussRule& rule) {
  const GaussRule other(20);
  const Table t2 = make_table(other, 1.5L);
  double dmax = 0;
  for (size_t i = 0; i < t.size(); ++i) dmax = std::fmax(dmax, std::fabs(t[i] - t2[i]));
  std::printf("largest difference between two quadrature rules (away from the bridge): %.3e\n", dmax);
  real smax = 0;
  for (int i = 0; i <= 400; ++i) {
    const real r = 0.01L + i * 0.1L;
    if (std::fabs(r - 1) < 1e-9L) continue;
    const Integrals in = lipschitz_hankel(r, 0, rule, 2);
    smax = std::fmax(smax, std::fabs(in[0][0] - surface_I0m1(r)));
  }
  std::printf("surface S4, closed form against quadrature: %.3Le\n", smax);
  const Table te = make_table(rule, 2, true);
  for (int blk = 0; blk < 4; ++blk) {
    const auto& b = zalk::plate::kPlateBlocks[blk];
    double e = 0;
    for (int row = b.first_row; row < b.first_row + 6 * b.ny; ++row)
      for (int j = 1; j <= 20; ++j) e = std::fmax(e, std::fabs(t[(row - 1) + (j - 1) * 300] - te[(row - 1) + (j - 1) * 300]));
    std::printf("block %d: largest change if rows held the decimal grid values: %.3e\n", blk, e);
  }
  return dmax < 1e-14 && smax < 1e-15L ? 0 : 1;
}

void write_table(const Table& t, const char* path) {
  FILE* out = std::fopen(path, "w");
  if (!out) {
    std::perror(path);
    std::exit(1);
  }
  std::fprintf(out,
               "// GENERATED by tools/platetab_gen (do not edit): run\n"
               "//   platetab_gen plate/platetab_data.cpp\n"
               "// from the source root. The values are the half-space functions S1..S6 of\n"
               "// plate/platetab.h, evaluated in extended precision at the grid values as\n"
               "// held (4-byte constants widened to 8 bytes): closed forms on the load axis\n"
               "// and at the surface, one-dimensional edge integrals elsewhere, and a smooth\n"
               "// bridge in the surface row of the edge block (see the generator).\n"
               "#include \"plate/platetab.h\"\n\nnamespace zalk::plate {\n\n"
               "const double kPlateTab[kPlateRows * kPlateCols] = {\n");
  for (int j = 1; j <= 20; ++j) {
    std::fprintf(out, "    // column %d\n", j);
    for (int row = 1; row <= 300; row += 4) {
      std::fprintf(out, "   ");
      for (int r = row; r < row + 4; ++r) std::fprintf(out, " %.17g,", t[(r - 1) + (j - 1) * 300]);
      std::fprintf(out, "\n");
    }
  }
  std::fprintf(out, "};\n\n}  // namespace zalk::plate\n");
  std::fclose(out);
}

}  // namespace
}  // namespace platetab_gen

int main(int argc, char** argv) {
  using namespace platetab_gen;
  const bool check_only = argc == 2 && std::strcmp(argv[1], "--check") == 0;
  if (argc != 2) {
    std::fprintf(stderr, "usage: platetab_gen <output.cpp> | --check\n");
    return 2;
  }
  const GaussRule rule(32);
  Table t = make_table(rule, 2);
  int status = 0;
  if (check_only) status = check(t, rule);
  bridge_edge_surface_row(t, rule, check_only);
  if (!check_only) write_table(t, argv[1]);
  return status;
}
