// Sparse general linear systems in coordinate form: Markowitz threshold LU.
//
// Choices this solver makes:
// - Pivot ties: among eligible entries of equal Markowitz cost the larger
//   magnitude wins, and among equal magnitudes the one found first (rows are
//   searched before columns, lowest count first; within one count initially
//   in ascending index, later the row or column updated last comes first).
// - A pivot counts as numerically singular when its magnitude is at most
//   0.01 * DBL_EPSILON times the largest magnitude of its row in the given
//   matrix (only rounding noise is left of that row): the warning is given and
//   the solution computed. When no nonzero pivot is left at all (exact
//   cancellation or a structurally singular pattern), RPARAM(5) is 0, the
//   warning is given and X is filled with quiet NaN.
// - A pivot below 100 * DBL_MIN stops the factorisation (terminal error).
// - IPARAM(2) other than 1 or 2 acts as 3, IPARAM(3) below 1 as 1, and a
//   stability factor RPARAM(2) below 1 as 1 (only the largest entry qualifies).
// - Refinement stops when the componentwise backward error reaches the
//   rounding level of the residual; a correction that fails to halve it, or
//   50 corrections without reaching it, give the ill-conditioning warning.
// - IPARAM(4) counts the values held (given entries plus kept fill-in).
// - X must not share storage with B: refinement reads B after X is written.
#pragma once

#include <vector>

namespace zalk::toolkit {

// Stores the defaults of IPARAM(1..6) and RPARAM(1..5) (0-based arrays here:
// IPARAM[0] is IPARAM(1)).
void DLSLXG_INIT(int* IPARAM, double* RPARAM);

// Solves A x = b (IPATH = 1) or A^T x = b (IPATH = 2) for the NZ coordinate
// entries (A, IROW, JCOL; 1-based indices). The input arrays are not changed.
void DLSLXG(int N, int NZ, const double* A, const int* IROW, const int* JCOL, const double* B,
            int IPATH, int* IPARAM, double* RPARAM, double* X);

// Work-area variant: RWORK of LWK 8-byte values, IWORK of LIWK integers.
void DL2LXG(int N, int NZ, const double* A, const int* IROW, const int* JCOL, const double* B,
            int IPATH, int* IPARAM, double* RPARAM, double* X, double* RWORK, int LWK, int* IWORK,
            int LIWK);

// Work areas kept by a caller that solves many systems, so that they are not
// obtained from the operating system on every call. DLSLXG with a workspace
// gives exactly the results of DLSLXG without one.
struct SparseWorkspace {
  std::vector<double> rwork;
  std::vector<int> iwork;
};
void DLSLXG(int N, int NZ, const double* A, const int* IROW, const int* JCOL, const double* B,
            int IPATH, int* IPARAM, double* RPARAM, double* X, SparseWorkspace& ws);

// Work-area sizes for a system of order N with NZ nonzeros under the limit
// IPARAM5 (the value of IPARAM(5); 0 selects the default 3*NZ).
struct SparseWorkSizes {
  long long maxnz;  // nonzero limit: (IPARAM5 - 21*N) / 6, or 3*NZ
  long long lwk;    // 8-byte values DLSLXG obtains
  long long liwk;   // integers DLSLXG obtains
};
SparseWorkSizes sparse_work_sizes(int N, int NZ, int IPARAM5);

}  // namespace zalk::toolkit
