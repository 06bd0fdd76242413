// Bessel functions of the first kind of orders 0, 1 and 2 in double
// precision, computed with plain double arithmetic so that every platform
// and build type gives the same bits. Accurate to a few units in the last
// place relative to the true value for |x| below 2^20, next to the zeros
// included (worst seen 2.9 ulps up to 1e4); further out the values stay
// within the envelope sqrt(2/(pi x)) but lose phase accuracy. Odd orders are
// odd in x, even orders even; J(+-inf) = 0 and a NaN argument gives NaN.
#pragma once

namespace zalk::toolkit {

double bessel_j0(double x);
double bessel_j1(double x);
double bessel_j2(double x);

// J0(x) and J1(x) together; cheaper than two calls, same bits as each.
void bessel_j0_j1(double x, double& j0, double& j1);

}  // namespace zalk::toolkit
