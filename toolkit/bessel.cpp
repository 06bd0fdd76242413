#include "toolkit/bessel.h"

#include <cmath>

namespace zalk::toolkit {

// Interim: the platform's functions until our own are in place.
double bessel_j0(double x) { return ::j0(x); }
double bessel_j1(double x) { return ::j1(x); }
double bessel_j2(double x) { return ::jn(2, x); }

void bessel_j0_j1(double x, double& j0, double& j1) {
  j0 = bessel_j0(x);
  j1 = bessel_j1(x);
}

}  // namespace zalk::toolkit
