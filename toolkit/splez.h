// One-call spline fitting and evaluation.
#pragma once

namespace zalk::toolkit {

// Fits a spline of kind ITYPE (1..15) to (XDATA(i), FDATA(i)), i = 1..NDATA,
// abscissas distinct and in any order, and stores the IDER-th derivative of
// the fit at XVEC(i) in VALUE(i), i = 1..N (points distinct, any order).
void DSPLEZ(int NDATA, const double* XDATA, const double* FDATA, int ITYPE, int IDER, int N,
            const double* XVEC, double* VALUE);

}  // namespace zalk::toolkit
