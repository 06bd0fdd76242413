// The spline kinds of DSPLEZ other than the B-spline interpolants (kinds 4..8).
#pragma once

namespace zalk::toolkit::detail {

// Fits kind ITYPE (1..3 or 9..15) to NDATA points with strictly increasing
// XS and values FS, and stores the IDER-th derivative of the fit at the N
// strictly increasing points XV in VALUE. The caller (DS2LEZ) has checked
// the arguments and sorted both sets of points.
void splez_other_kind(int NDATA, const double* XS, const double* FS, int ITYPE, int IDER, int N,
                      const double* XV, double* VALUE);

}  // namespace zalk::toolkit::detail
