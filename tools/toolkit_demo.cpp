// Shows the toolkit at work: the 50-point Gauss-Legendre rule the engine uses
// for its transform integrals, mapped to (0, 1) as the engine maps it.
#include <cmath>
#include <cstdio>
#include <initializer_list>

#include "toolkit/gauss.h"

int main() {
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
  return 0;
}
