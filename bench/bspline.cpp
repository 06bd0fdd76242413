// Speed of the tensor-product spline routines at the sizes the rating driver
// and the plate tables use.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "toolkit/bspline.h"

namespace {

using namespace zalk::toolkit;

template <class T>
struct Table {
  std::vector<T> x, y, f, tx, ty, c;
  Table(int nx, int ny) : x(nx), y(ny), f(20 * ny), tx(nx + 3), ty(ny + 3), c(nx * ny) {
    for (int i = 0; i < nx; ++i) x[i] = T(1000 + 250 * i + 10 * i * i);
    for (int j = 0; j < ny; ++j) y[j] = T(5 + 3 * j + 0.5 * j * j);
    for (int j = 0; j < ny; ++j)
      for (int i = 0; i < nx; ++i) f[i + 20 * j] = T(std::log(double(x[i])) * std::sqrt(double(y[j])));
  }
};

void BM_BS2GD_OnePoint(benchmark::State& state) {
  Table<float> t(11, 8);
  BSNAK(11, t.x.data(), 3, t.tx.data());
  BSNAK(8, t.y.data(), 3, t.ty.data());
  BS2IN(11, t.x.data(), 8, t.y.data(), t.f.data(), 20, 3, 3, t.tx.data(), t.ty.data(), t.c.data());
  float px = 2345.0f, py = 17.5f, v = 0.0f;
  for (auto _ : state) {
    BS2GD(0, 0, 1, &px, 1, &py, 3, 3, t.tx.data(), t.ty.data(), 11, 8, t.c.data(), &v, 1);
    benchmark::DoNotOptimize(v);
    px = px < 3000.0f ? px + 1.0f : 2345.0f;
  }
}
BENCHMARK(BM_BS2GD_OnePoint);

void BM_BS2IN_8x8(benchmark::State& state) {
  Table<float> t(8, 8);
  BSNAK(8, t.x.data(), 3, t.tx.data());
  BSNAK(8, t.y.data(), 3, t.ty.data());
  for (auto _ : state) {
    BS2IN(8, t.x.data(), 8, t.y.data(), t.f.data(), 20, 3, 3, t.tx.data(), t.ty.data(), t.c.data());
    benchmark::DoNotOptimize(t.c.data());
  }
}
BENCHMARK(BM_BS2IN_8x8);

void BM_DBS2VL_OnePoint(benchmark::State& state) {
  Table<double> t(11, 8);
  DBSNAK(11, t.x.data(), 3, t.tx.data());
  DBSNAK(8, t.y.data(), 3, t.ty.data());
  DBS2IN(11, t.x.data(), 8, t.y.data(), t.f.data(), 20, 3, 3, t.tx.data(), t.ty.data(), t.c.data());
  double px = 2345.0, py = 17.5;
  for (auto _ : state) {
    benchmark::DoNotOptimize(DBS2VL(px, py, 3, 3, t.tx.data(), t.ty.data(), 11, 8, t.c.data()));
    px = px < 3000.0 ? px + 1.0 : 2345.0;
  }
}
BENCHMARK(BM_DBS2VL_OnePoint);

}  // namespace
