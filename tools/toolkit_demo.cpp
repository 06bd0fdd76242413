// Shows the toolkit at work: the 50-point Gauss-Legendre rule the engine uses
// for its transform integrals, mapped to (0, 1) as the engine maps it, and a
// tensor-product spline surface of order 3 x 3 in 4-byte floats, as the
// deflection surfaces are built.
#include <cmath>
#include <cstdio>
#include <initializer_list>

#include "toolkit/bspline.h"
#include "toolkit/gauss.h"

namespace {

void gauss_summary() {
  constexpr int kN = 50;
  double x[kN], w[kN];
  const double fixed[2] = {0.0, 0.0};
  zalk::toolkit::DGQRUL(kN, 1, 0.0, 0.0, 0, fixed, x, w);

  std::printf("50-point Gauss-Legendre rule on (-1, 1)\n");
  std::printf("  %4s %24s %24s\n", "j", "node", "weight");
  for (int j : {0, 1, 2, 24, 25, 47, 48, 49}) std::printf("  %4d %24.17e %24.17e\n", j + 1, x[j], w[j]);
  double sum = 0.0, moment = 0.0, integral = 0.0;
  for (int j = 0; j < kN; ++j) {
    sum += w[j];
    moment += w[j] * std::pow(x[j], 98);
    // The engine's map to (0, 1): node (x + 1) / 2, weight w / 2.
    integral += 0.5 * w[j] * std::exp(0.5 * (x[j] + 1.0));
  }
  std::printf("  sum of weights            %.17f (exact 2)\n", sum);
  std::printf("  integral of x^98          %.17f (exact %.17f)\n", moment, 2.0 / 99.0);
  std::printf("  integral of e^t on (0,1)  %.17f (exact %.17f)\n", integral, std::exp(1.0) - 1.0);
}

void spline_summary() {
  namespace zt = zalk::toolkit;
  constexpr int kNx = 7, kNy = 6, kOrder = 3;
  float x[kNx], y[kNy], f[kNx * kNy], xknot[kNx + kOrder], yknot[kNy + kOrder], coef[kNx * kNy];
  auto surface = [](float u, float v) { return std::exp(-0.5f * u) * std::cos(v); };
  for (int i = 0; i < kNx; ++i) x[i] = 0.5f * static_cast<float>(i);
  for (int j = 0; j < kNy; ++j) y[j] = 0.3f * static_cast<float>(j);
  for (int j = 0; j < kNy; ++j) {
    for (int i = 0; i < kNx; ++i) f[i + j * kNx] = surface(x[i], y[j]);
  }
  zt::BSNAK(kNx, x, kOrder, xknot);
  zt::BSNAK(kNy, y, kOrder, yknot);
  zt::BS2IN(kNx, x, kNy, y, f, kNx, kOrder, kOrder, xknot, yknot, coef);
  const float xv[3] = {0.25f, 1.6f, 2.9f}, yv[2] = {0.45f, 1.2f};
  float value[3 * 2];
  zt::BS2GD(0, 0, 3, xv, 2, yv, kOrder, kOrder, xknot, yknot, kNx, kNy, coef, value, 3);
  std::printf("\nOrder 3 x 3 spline surface of exp(-x/2) cos(y) on a 7 x 6 grid\n");
  std::printf("  %6s %6s %14s %14s\n", "x", "y", "spline", "exact");
  for (int j = 0; j < 2; ++j) {
    for (int i = 0; i < 3; ++i) {
      std::printf("  %6.2f %6.2f %14.7f %14.7f\n", xv[i], yv[j], value[i + 3 * j], surface(xv[i], yv[j]));
    }
  }
}

}  // namespace

int main() {
  gauss_summary();
  spline_summary();
  return 0;
}
