// DSPLEZ sits on the engine's innermost loop: once its per-thread work areas
// have grown, further calls of the same or smaller size must not allocate.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "toolkit/splez.h"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace zalk::toolkit {
namespace {

TEST(DsplezSteadyState, RepeatedCallsDoNotAllocate) {
  std::vector<double> x(100), f(100), xv(50), v(50);
  for (int i = 0; i < 100; ++i) {
    x[i] = 0.01 * i * i;
    f[i] = std::exp(-x[i]);
  }
  for (int i = 0; i < 50; ++i) xv[i] = 97.0 - 1.9 * i;  // descending: the sorting path too
  DSPLEZ(100, x.data(), f.data(), 5, 0, 50, xv.data(), v.data());
  const long before = g_allocations.load();
  for (int n : {100, 30, 64}) DSPLEZ(n, x.data(), f.data(), 5, 0, 50, xv.data(), v.data());
  EXPECT_EQ(g_allocations.load(), before);
  EXPECT_NEAR(v[49], std::exp(-3.9), 1e-4);  // x = 3.9 is inside the 64-point data
}

}  // namespace
}  // namespace zalk::toolkit
