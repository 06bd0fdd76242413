// An independent construction of the not-a-knot spline interpolant, for
// checking the B-spline routines: the truncated power basis 1, x, ..,
// x^(k-1), (x - xi_j)_+^(k-1) over the interior knots xi_j, with the
// interpolation conditions solved densely. It shares no code with the
// library and extrapolates with the end pieces by its nature.
#pragma once

#include <cmath>
#include <utility>
#include <vector>

namespace zalk::testing_support {

class TruncatedPowerSpline {
 public:
  // Interior knots of the not-a-knot rule: midpoints of neighbouring data
  // for odd k, data points for even k. x ascending.
  TruncatedPowerSpline(const std::vector<double>& x, const std::vector<double>& f, int k) : k_(k) {
    const int n = int(x.size());
    for (int j = 1; j <= n - k; ++j) {
      xi_.push_back(k % 2 == 1 ? 0.5 * (x[j + (k - 1) / 2 - 1] + x[j + (k + 1) / 2 - 1])
                               : x[j + k / 2 - 1]);
    }
    std::vector<std::vector<double>> a(n, std::vector<double>(n + 1));
    for (int i = 0; i < n; ++i) {
      for (int c = 0; c < n; ++c) a[i][c] = basis(c, x[i], 0);
      a[i][n] = f[i];
    }
    coef_ = solve(std::move(a));
  }

  // The d-th derivative at x.
  double operator()(double x, int d = 0) const {
    double s = 0.0;
    for (std::size_t c = 0; c < coef_.size(); ++c) s += coef_[c] * basis(int(c), x, d);
    return s;
  }

 private:
  double basis(int c, double x, int d) const {
    const int p = c < k_ ? c : k_ - 1;  // power of the term
    const double origin = c < k_ ? 0.0 : xi_[c - k_];
    const double u = x - origin;
    if (d > p || (c >= k_ && u < 0.0)) return 0.0;
    double fall = 1.0;
    for (int m = 0; m < d; ++m) fall *= p - m;
    return fall * std::pow(u, p - d);
  }

  // Gaussian elimination with partial pivoting on the augmented matrix.
  static std::vector<double> solve(std::vector<std::vector<double>> a) {
    const int n = int(a.size());
    for (int c = 0; c < n; ++c) {
      int p = c;
      for (int r = c + 1; r < n; ++r)
        if (std::abs(a[r][c]) > std::abs(a[p][c])) p = r;
      std::swap(a[c], a[p]);
      for (int r = c + 1; r < n; ++r) {
        const double m = a[r][c] / a[c][c];
        for (int q = c; q <= n; ++q) a[r][q] -= m * a[c][q];
      }
    }
    std::vector<double> s(n);
    for (int r = n - 1; r >= 0; --r) {
      double v = a[r][n];
      for (int q = r + 1; q < n; ++q) v -= a[r][q] * s[q];
      s[r] = v / a[r][r];
    }
    return s;
  }

  int k_;
  std::vector<double> xi_;
  std::vector<double> coef_;
};

}  // namespace zalk::testing_support
