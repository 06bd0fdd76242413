// Messages of the sparse solver. A routine field that names several routines
// marks a check they share.
#pragma once

#include "toolkit/messages.h"

// clang-format off
#define ZALK_SPARSE_MESSAGES(X)                                                                    \
  X(bad_order, "DLSLXG DL2LXG", TERMINAL, 1,                                                       \
    "The order of system of equations must be positive, while N = %(I1) is given.")                \
  X(bad_count, "DLSLXG DL2LXG", TERMINAL, 2,                                                       \
    "The number of nonzeros must be positive, while NZ = %(I1) is given.")                         \
  X(workspace_beyond_integers, "DLSLXG", TERMINAL, 3,                                              \
    "The minimum amount of workspace 21*N+6*NZ = %(D1) exceeds the maximum integer IMACH(5) "      \
    "= %(D2).")                                                                                    \
  X(workspace_limit_too_small, "DLSLXG", TERMINAL, 4,                                              \
    "The nonzero workspace limit in IPARAM(5) = %(I1) must exceed 21*N+6*NZ = %(I2).")             \
  X(no_storage_for_limit, "DLSLXG", TERMINAL, 5,                                                   \
    "The required storage cannot be allocated.  The workspace request failed based on "            \
    "IPARAM(5) = %(I1). Solutions may be to remove workstation tools or increase virtual "         \
    "memory.")                                                                                     \
  X(no_storage_for_default, "DLSLXG", TERMINAL, 6,                                                 \
    "The required storage cannot be allocated.  The workspace request failed based on MAXNZ "      \
    "= 3*NZ, where NZ=%(I1), is given. Solutions may be to remove workstation tools or "           \
    "increase virtual memory.")                                                                    \
  X(bad_path, "DL2LXG", TERMINAL, 3,                                                               \
    "The path indicator must be equal to 1 or 2 while IPATH = %(I1) is given.")                    \
  X(row_index_out_of_range, "DL2LXG", TERMINAL, 4,                                                 \
    "IROW must satisfy 1 .LE. IROW(I) .LE. N, I = 1, ..., N, but IROW(%(I1)) = %(I2). ")           \
  X(column_index_out_of_range, "DL2LXG", TERMINAL, 5,                                              \
    "JCOL must satisfy 1 .LE. JCOL(I) .LE. N, I = 1, ..., N, but JCOL(%(I1)) = %(I2). ")           \
  X(real_workspace_too_short, "DL2LXG", TERMINAL, 6,                                               \
    "The real workspace length LWK = %(I1) must be at least 2*N+NZ = %(D2).")                      \
  X(integer_workspace_too_short, "DL2LXG", TERMINAL, 7,                                            \
    "The integer workspace length LIWK = %(I1) must be at least 17*N+4*NZ = %(D2).")               \
  X(duplicate_entry, "DL2LXG", TERMINAL, 8,                                                        \
    "Two values of A are given for IROW = %(I1) and JCOL = %(I2).")                                \
  X(empty_row, "DL2LXG", TERMINAL, 9,                                                              \
    "An empty row has been found in the coefficient matrix: row number = %(I1) ")                  \
  X(empty_column, "DL2LXG", TERMINAL, 10,                                                          \
    "An empty column has been found in the coefficient matrix: column number = %(I1)")             \
  X(refinement_ineffective, "DL2LXG", WARNING, 11,                                                 \
    "The matrix is too ill-conditioned for iterative refinement to be effective.")                 \
  X(matrix_entry_not_finite, "DL2LXG", TERMINAL, 12,                                              \
    "The matrix entry A(%(I1)) = %(D1) is not a finite number.")                                   \
  X(right_side_not_finite, "DL2LXG", TERMINAL, 13,                                                 \
    "The right-hand side entry B(%(I1)) = %(D1) is not a finite number.")                          \
  X(default_workspace_limit_reached, "DL5TXG", TERMINAL, 5,                                        \
    "Factorization from row 1 to row %(I1) reached the default workspace limit of MAXNZ = "        \
    "%(I2) nonzeros (IPARAM(5) = 0).  Set IPARAM(5) larger than 21*N+6*MAXNZ = %(D1).")            \
  X(workspace_limit_reached, "DL5TXG", TERMINAL, 1,                                                \
    "Factorization from row 1 to row %(I1) reached the workspace limit based on IPARAM(5) = "      \
    "%(I2). Set IPARAM(5) larger.")                                                                \
  X(pivot_near_underflow, "DL5TXG", TERMINAL, 2,                                                   \
    "Factorization stopped after %(I1) rows, because the value selected as pivot is within "       \
    "two orders of magnitude of causing underflow or the reciprocal causing overflow.")            \
  X(large_growth, "DL5TXG", WARNING, 3, "The growth factor, %(D1), exceeds %(D2) = RPARAM(1).")   \
  X(numerically_singular, "DL5TXG", WARNING, 4, "The coefficient matrix is numerically singular.")
// clang-format on

namespace zalk::toolkit {
ZALK_MESSAGE_TABLE(SparseMessage, kSparseMessages, ZALK_SPARSE_MESSAGES)
}  // namespace zalk::toolkit
