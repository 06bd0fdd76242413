// Messages of the Gauss rule routines. A routine field that names several
// routines marks a check they share.
#pragma once

#include "toolkit/messages.h"

// clang-format off
#define ZALK_GAUSS_MESSAGES(X)                                                                     \
  X(bad_n, "DRECCF DG2RCF DG2RUL DGQRUL", TERMINAL, 1,                                             \
    "The number of quadrature points N = %(I1).  It must be at least 1.")                           \
  X(bad_weight, "DRECCF", TERMINAL, 2,                                                             \
    "The weight function selector IWEIGH = %(I1).  It must be in the range 1 to 7.")               \
  X(bad_jacobi_parameters, "DRECCF", TERMINAL, 3,                                                  \
    "The Jacobi weight parameters must be greater than -1, while ALPHA = %(D1) and "               \
    "BETA = %(D2) are given.")                                                                     \
  X(bad_laguerre_parameter, "DRECCF", TERMINAL, 4,                                                 \
    "The generalized Laguerre weight parameter must be greater than -1, while ALPHA = "            \
    "%(D1) is given.")                                                                             \
  X(bad_nfix, "DG2RCF DG2RUL", TERMINAL, 2,                                                        \
    "The number of fixed quadrature points NFIX = %(I1).  It must be 0, 1 or 2.")                  \
  X(nfix_not_below_n, "DG2RCF DG2RUL", TERMINAL, 3,                                                \
    "The number of fixed quadrature points NFIX = %(I1) must be less than the number of "          \
    "quadrature points N = %(I2).")                                                                \
  X(fixed_point_inside, "DG2RCF DG2RUL", TERMINAL, 4,                                              \
    "The fixed quadrature point QXFIX(%(I1)) = %(D1) lies inside (-1,1).  Fixed points "           \
    "must not be inside this interval.")                                                           \
  X(fixed_points_equal, "DG2RCF DG2RUL", TERMINAL, 5,                                              \
    "The fixed quadrature points must be distinct, but QXFIX(1) = QXFIX(2) = %(D1).")              \
  X(no_real_rule_one_point, "DG2RCF", TERMINAL, 6,                                                 \
    "No rule with real nodes has the fixed quadrature point QXFIX(1) = %(D1).")                    \
  X(coefficient_b_not_finite, "DG2RCF", TERMINAL, 7,                                               \
    "The recurrence coefficient B(%(I1)) is not a finite number.")                                 \
  X(coefficient_c_not_positive, "DG2RCF", TERMINAL, 8,                                             \
    "The recurrence coefficient C(%(I1)) = %(D1).  It must be positive and finite.")               \
  X(no_real_rule_two_points, "DG2RCF", TERMINAL, 9,                                                \
    "No rule with real nodes has the fixed quadrature points QXFIX(1) = %(D1) and "                \
    "QXFIX(2) = %(D2).")                                                                           \
  X(no_convergence, "DG2RCF", FATAL, 1, "No convergence in 100 iterations.")                       \
  X(weight_parameter_not_finite, "DRECCF", TERMINAL, 5,                                           \
    "The weight parameter %(L1) = %(D1) is not a finite number.")                                  \
  X(jacobi_coefficients_overflow, "DRECCF", TERMINAL, 6,                                           \
    "The recurrence coefficient %(L1)(%(I1)) = %(D1) cannot be computed in 8-byte arithmetic: "    \
    "the Jacobi weight parameters ALPHA = %(D2) and BETA = %(D3) are too large.")                  \
  X(laguerre_coefficients_overflow, "DRECCF", TERMINAL, 7,                                         \
    "The recurrence coefficient %(L1)(%(I1)) = %(D1) cannot be computed in 8-byte arithmetic: "    \
    "the generalized Laguerre weight parameter ALPHA = %(D2) is too large.")                       \
  X(fixed_point_not_finite, "DG2RCF DG2RUL", TERMINAL, 10,                                         \
    "The fixed quadrature point QXFIX(%(I1)) = %(D1) is not a finite number.")                     \
  X(no_storage, "DGQRUL", TERMINAL, 2,                                                             \
    "The required storage cannot be allocated.  The workspace requirement was based on "           \
    "N = %(I1).")
// clang-format on

namespace zalk::toolkit {
ZALK_MESSAGE_TABLE(GaussMessage, kGaussMessages, ZALK_GAUSS_MESSAGES)
}  // namespace zalk::toolkit
