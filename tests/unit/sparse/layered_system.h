// The system of layer-interface conditions of a layered elastic structure at
// one transform parameter m, assembled independently of the engine from the
// row tables of the layered solution, and its coordinate form as the engine
// hands it to the sparse solver (rows ascending, columns ascending, exact
// zeros skipped). Shared by the solver's tests and its benchmark.
#pragma once

#include <cmath>
#include <vector>

namespace zalk::sparse_testing {

struct LayeredStructure {
  std::vector<double> E;     // modulus per layer (n)
  std::vector<double> nu;    // Poisson ratio per layer (n)
  std::vector<double> h;     // thickness per layer (n - 1 used)
  std::vector<double> bond;  // bond factor per interface (n - 1)
  int layers() const { return static_cast<int>(E.size()); }
  int order() const { return 4 * layers() - 2; }
};

// Dense matrix, column-major, order 4n - 2.
inline std::vector<double> layered_matrix(const LayeredStructure& s, double m) {
  const int n = s.layers();
  const int N = s.order();
  std::vector<double> M(static_cast<std::size_t>(N) * N, 0.0);
  auto at = [&](int row, int col) -> double& {  // 1-based
    return M[static_cast<std::size_t>(col - 1) * N + (row - 1)];
  };
  {
    const double e = std::exp(-m * s.h[0]);
    const double v = s.nu[0];
    at(1, 1) = e;
    at(1, 2) = 1.0;
    at(1, 3) = (2 * v - 1) * e;
    at(1, 4) = 1 - 2 * v;
    at(2, 1) = e;
    at(2, 2) = -1.0;
    at(2, 3) = 2 * v * e;
    at(2, 4) = 2 * v;
  }
  for (int i = 1; i <= n - 1; ++i) {
    const double e = std::exp(-m * s.h[i - 1]);
    const double lam = m * s.h[i - 1];
    const double v = s.nu[i - 1];
    const double v1 = s.nu[i];
    const double k = s.bond[i - 1];
    double R = (1 + s.nu[i]) * s.E[i - 1] / ((1 + s.nu[i - 1]) * s.E[i]);
    if (R == 1.0) R += double(1e-6f);
    const double F = (1 - k) * s.E[i - 1] / (1 + s.nu[i - 1]);
    const int r = 4 * i - 1;  // first row of the interface
    const int c = 4 * i - 3;  // first column of layer i
    at(r, c) = 1;
    at(r, c + 1) = e;
    at(r, c + 2) = 2 * v - 1 + lam;
    at(r, c + 3) = (1 + lam - 2 * v) * e;
    at(r + 1, c) = 1;
    at(r + 1, c + 1) = -e;
    at(r + 1, c + 2) = 4 * v - 2 + lam;
    at(r + 1, c + 3) = (4 * v - 2 - lam) * e;
    at(r + 2, c) = 1;
    at(r + 2, c + 1) = -e;
    at(r + 2, c + 2) = 2 * v + lam;
    at(r + 2, c + 3) = (2 * v - lam) * e;
    at(r + 3, c) = F * m + k;
    at(r + 3, c + 1) = (k - F * m) * e;
    at(r + 3, c + 2) = m * F * (2 * v + lam) + k * (1 + lam);
    at(r + 3, c + 3) = (k * (lam - 1) - m * F * (lam - 2 * v)) * e;
    const int d = c + 4;  // first column of layer i + 1
    if (i + 1 < n) {
      const double e1 = std::exp(-m * s.h[i]);
      at(r, d) = -e1;
      at(r, d + 1) = -1;
      at(r, d + 2) = (1 - 2 * v1) * e1;
      at(r, d + 3) = 2 * v1 - 1;
      at(r + 1, d) = -R * e1;
      at(r + 1, d + 1) = R;
      at(r + 1, d + 2) = (2 - 4 * v1) * R * e1;
      at(r + 1, d + 3) = (2 - 4 * v1) * R;
      at(r + 2, d) = -e1;
      at(r + 2, d + 1) = 1;
      at(r + 2, d + 2) = -2 * v1 * e1;
      at(r + 2, d + 3) = -2 * v1;
      at(r + 3, d) = -R * k * e1;
      at(r + 3, d + 1) = -R * k;
      at(r + 3, d + 2) = -R * k * e1;
      at(r + 3, d + 3) = R * k;
    } else {
      at(r, d) = -1;
      at(r, d + 1) = 2 * v1 - 1;
      at(r + 1, d) = R;
      at(r + 1, d + 1) = (2 - 4 * v1) * R;
      at(r + 2, d) = 1;
      at(r + 2, d + 1) = -2 * v1;
      at(r + 3, d) = -R * k;
      at(r + 3, d + 1) = R * k;
    }
  }
  return M;
}

struct Coordinates {
  std::vector<double> a;
  std::vector<int> irow;
  std::vector<int> jcol;
  int nz() const { return static_cast<int>(a.size()); }
};

// Row by row, columns ascending within a row, exact zeros skipped.
inline Coordinates to_coordinates(const std::vector<double>& M, int N) {
  Coordinates c;
  for (int i = 1; i <= N; ++i) {
    for (int j = 1; j <= N; ++j) {
      const double v = M[static_cast<std::size_t>(j - 1) * N + (i - 1)];
      if (v == 0.0) continue;
      c.a.push_back(v);
      c.irow.push_back(i);
      c.jcol.push_back(j);
    }
  }
  return c;
}

// The five-layer structure the engine's typical use looks like.
inline LayeredStructure five_layer_structure() {
  return {{500000, 500000, 30000, 10000, 1e7},
          {0.35, 0.35, 0.40, 0.45, 0.49},
          {2, 2, 8, 12},
          {1, 1, 1, 1}};
}

}  // namespace zalk::sparse_testing
