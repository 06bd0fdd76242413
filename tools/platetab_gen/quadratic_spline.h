// A small order-3 not-a-knot interpolating spline (knots at the midpoints of
// the abscissas), used only to design the surface-row bridge of the edge
// block: it measures how a candidate row would interpolate between nodes.
#pragma once

#include <cmath>
#include <utility>
#include <vector>

namespace platetab_gen {

using real = long double;

class QuadraticSpline {
 public:
  explicit QuadraticSpline(std::vector<real> x) : x_(std::move(x)), n_(int(x_.size())) {
    knots_.assign(3, x_[0]);
    for (int j = 0; j + 3 < n_; ++j) knots_.push_back((x_[j + 1] + x_[j + 2]) / 2);
    knots_.insert(knots_.end(), 3, x_[n_ - 1] * (1 + 1e-15L));
  }

  // Value at t of the spline interpolating f at the abscissas.
  real value(const std::vector<real>& f, real t) const {
    std::vector<real> coef = solve_collocation(f);
    std::vector<real> b = basis(t);
    real s = 0;
    for (int i = 0; i < n_; ++i) s += coef[i] * b[i];
    return s;
  }

 private:
  std::vector<real> basis(real t) const {
    std::vector<real> b(n_, 0);
    int i = 2;
    while (i < n_ - 1 && t >= knots_[i + 1]) ++i;
    real N[3] = {1, 0, 0}, left[3], right[3];
    for (int j = 1; j < 3; ++j) {  // de Boor-Cox recurrence
      left[j] = t - knots_[i + 1 - j];
      right[j] = knots_[i + j] - t;
      real saved = 0;
      for (int r = 0; r < j; ++r) {
        real tmp = N[r] / (right[r + 1] + left[j - r]);
        N[r] = saved + right[r + 1] * tmp;
        saved = left[j - r] * tmp;
      }
      N[j] = saved;
    }
    for (int r = 0; r < 3; ++r) b[i - 2 + r] = N[r];
    return b;
  }

  std::vector<real> solve_collocation(std::vector<real> f) const {
    std::vector<std::vector<real>> a;
    for (int i = 0; i < n_; ++i) a.push_back(basis(x_[i]));
    for (int c = 0; c < n_; ++c) {  // Gaussian elimination with partial pivoting
      int p = c;
      for (int r = c + 1; r < n_; ++r)
        if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
      std::swap(a[c], a[p]);
      std::swap(f[c], f[p]);
      for (int r = c + 1; r < n_; ++r) {
        real m = a[r][c] / a[c][c];
        for (int k = c; k < n_; ++k) a[r][k] -= m * a[c][k];
        f[r] -= m * f[c];
      }
    }
    std::vector<real> x(n_);
    for (int r = n_ - 1; r >= 0; --r) {
      real s = f[r];
      for (int k = r + 1; k < n_; ++k) s -= a[r][k] * x[k];
      x[r] = s / a[r][r];
    }
    return x;
  }

  std::vector<real> x_;
  int n_;
  std::vector<real> knots_;
};

}  // namespace platetab_gen
