// Placeholder until the coefficient tables land: no near-surface part.
#include "plate/plateresp.h"

namespace zalk::plate {

void PLATERESP(int, double, double, double, double& W, double& U, double& ER, double& ET,
               double& EZ, double& ERZ, double, const double*, const double*) {
  W = U = ER = ET = EZ = ERZ = 0.0;
}

}  // namespace zalk::plate
