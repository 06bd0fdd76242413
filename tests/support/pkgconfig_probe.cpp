// Built by the package check with pkg-config's flags alone: the installed
// headers compile and the installed libraries link and work.
#include <cmath>
#include <cstdio>

#include <zalk/version.h>
#include <zalk/zalk.hpp>

int main() {
  // A homogeneous half-space (two layers of one material) under 100 psi on a
  // 5.9-in circle: at the centre w = 2 (1 - nu^2) q a / E.
  const double e = 30000, nu = 0.35, q = 100, a = 5.9;
  const zalk::Structure halfspace{{{10, e, nu}, {0, e, nu}}};
  const zalk::AnalysisResult r = zalk::analyse(halfspace, {{0, 0, q, a}}, {{0, 0, 0}});
  std::printf("zalk3071 %s\n", ZALK_VERSION_STRING);
  if (!r.status) return 1;
  const double exact = 2 * (1 - nu * nu) * q * a / e;
  const double w = r.responses[0].w;
  // The transform integration resolves the centre deflection to far better
  // than 1e-5; a wrong library or unit misses by much more.
  if (std::fabs(w - exact) > 1e-5 * exact) {
    std::printf("half-space w %.9g, closed form %.9g\n", w, exact);
    return 1;
  }
  std::printf("half-space w agrees with the closed form: %.6f\n", w);
  return 0;
}
