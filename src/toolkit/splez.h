// One-call spline fitting and evaluation.
#pragma once

#include <cstddef>

namespace zalk::toolkit {

// Fits a spline of kind ITYPE (1..15) to (XDATA(i), FDATA(i)), i = 1..NDATA,
// abscissas distinct and in any order, and stores the IDER-th derivative of
// the fit at XVEC(i) in VALUE(i), i = 1..N (points distinct, any order).
void DSPLEZ(int NDATA, const double* XDATA, const double* FDATA, int ITYPE, int IDER, int N,
            const double* XVEC, double* VALUE);

// DSPLEZ for NSETS ordinate sets over the same abscissas and points:
// ordinate i of set f is FDATA[i * fpoint + f * fset], and value i of set f
// goes to VALUE[i * vpoint + f * vset]. Every set gets bit for bit the
// values (and messages) that DSPLEZ gives it alone; for the B-spline kinds
// the sorting, knots, factors and piece bases are shared by all sets.
void DSPLEZ_sets(int NDATA, const double* XDATA, int NSETS, const double* FDATA,
                 std::ptrdiff_t fpoint, std::ptrdiff_t fset, int ITYPE, int IDER, int N,
                 const double* XVEC, double* VALUE, std::ptrdiff_t vpoint, std::ptrdiff_t vset);

// Work-area variant: WK holds ds2lez_work_length(NDATA, ITYPE, N) values and
// IWK ds2lez_iwork_length(NDATA, N) integers.
std::size_t ds2lez_work_length(int NDATA, int ITYPE, int N);
std::size_t ds2lez_iwork_length(int NDATA, int N);
void DS2LEZ(int NDATA, const double* XDATA, const double* FDATA, int ITYPE, int IDER, int N,
            const double* XVEC, double* VALUE, double* WK, int* IWK);

}  // namespace zalk::toolkit
