#include "toolkit/splez_kinds.h"

#include "toolkit/errors.h"

namespace zalk::toolkit::detail {

void splez_other_kind(int, const double*, const double*, int ITYPE, int, int, const double*,
                      double* /*VALUE*/) {
  E1STI(1, ITYPE);
  E1MES(TERMINAL, 20, "Spline kind ITYPE = %(I1) is not available in this version.");
}

}  // namespace zalk::toolkit::detail
