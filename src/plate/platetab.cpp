#include "plate/platetab.h"

#include <algorithm>
#include <cmath>

namespace zalk::plate {

int plate_block_of(double rho) {
  const double h = std::trunc(100.0 * rho);
  if (h >= 0.0 && h <= 81.0) return kInnerBlock;
  if (h >= 82.0 && h <= 119.0) return kEdgeBlock;
  if (h >= 120.0 && h <= 499.0) return kNearBlock;
  return kFarBlock;
}

void plate_tables(PlateTables& t) {
  std::copy_n(kPlateTab, kPlateRows * kPlateCols, t.tab);
  std::copy_n(kRhoIn, 20, t.rhoin);
  std::copy_n(kZetaShort, 10, t.zin);
  std::copy_n(kRhoNear, 20, t.rhonear);
  std::copy_n(kZetaShort, 10, t.znear);
  std::copy_n(kRhoFar, 20, t.rhofar);
  std::copy_n(kZetaShort, 10, t.zfar);
  std::copy_n(kRhoEdge, 20, t.rhoedge);
  std::copy_n(kZetaEdge, 20, t.zedge);
  t.nrhoin = 20;
  t.nzin = 10;
  t.nrhonear = 20;
  t.nznear = 10;
  t.nrhofar = 20;
  t.nzfar = 10;
  t.nrhoedge = 20;
  t.nzedge = 20;
}

}  // namespace zalk::plate
