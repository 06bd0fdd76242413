// Messages of the B-spline routines. Each routine field names a family: the
// routines of both float widths and their work-area variants (BSNAK stands
// for BSNAK, DBSNAK, B2NAK and DB2NAK; BS2IN for BS2IN, DBS2IN, B22IN and
// DB22IN; BS2GD for BS2GD and B22GD; BS2VL for DBS2VL, DBS2DR, DB22VL and
// DB22DR). A field that names several families marks a check they share;
// the collocation checks are also made by DSPLEZ's B-spline kinds (DS6LEZ).
// Real values are written %(R<n>); the 8-byte routines print them as
// %(D<n>).
#pragma once

#include "toolkit/messages.h"

// clang-format off
#define ZALK_BSPLINE_MESSAGES(X)                                                                   \
  X(knot_order_below_two, "BSNAK", TERMINAL, 1,                                                    \
    "The order of the spline must be at least 2 while KORDER = %(I1) is given.")                   \
  X(knot_too_few_points, "BSNAK", TERMINAL, 2,                                                     \
    "The number of data points must be at least as large as the order of the spline while "       \
    "NDATA = %(I1) and KORDER = %(I2) are given.")                                                 \
  X(knot_equal_abscissas, "BSNAK", FATAL, 3,                                                       \
    "Points in the data point abscissas array, XDATA, must be distinct, but XDATA(%(I1)) = "       \
    "XDATA(%(I2)) = %(R1).")                                                                       \
  X(knot_no_storage, "BSNAK", TERMINAL, 4,                                                         \
    "The required storage cannot be allocated.  Workspace allocation was based on NDATA = "        \
    "%(I1).")                                                                                      \
  X(knot_abscissa_not_finite, "BSNAK", TERMINAL, 5,                                               \
    "The XDATA(%(I1)) = %(R1) is not a finite number.")                                            \
  X(x_order_below_one, "BS2IN BS2GD BS2VL", TERMINAL, 1,                                           \
    "The order of the spline in the %(L1) direction must be at least 1 while %(L2) = %(I1) is "    \
    "given.")                                                                                      \
  X(y_order_below_one, "BS2IN BS2GD BS2VL", TERMINAL, 2,                                           \
    "The order of the spline in the %(L1) direction must be at least 1 while %(L2) = %(I1) is "    \
    "given.")                                                                                      \
  X(x_too_few_points, "BS2IN", TERMINAL, 3,                                                        \
    "The number of data points of the spline in the %(L1) direction must be at least as large "    \
    "as the order of the spline in the %(L1) direction while N%(L1)DATA = %(I1) and %(L2) = "      \
    "%(I2) are given.")                                                                            \
  X(y_too_few_points, "BS2IN", TERMINAL, 4,                                                        \
    "The number of data points of the spline in the %(L1) direction must be at least as large "    \
    "as the order of the spline in the %(L1) direction while N%(L1)DATA = %(I1) and %(L2) = "      \
    "%(I2) are given.")                                                                            \
  X(fdata_dimension_too_small, "BS2IN", TERMINAL, 5,                                               \
    "The leading dimension of FDATA must be at least as large as NXDATA while LDF = %(I1) "        \
    "and NXDATA = %(I2) are given.")                                                               \
  X(xdata_not_increasing, "BS2IN DB2INT", FATAL, 6,                                                \
    "The %(L1) data values must be strictly increasing, but %(L2)(%(I1)) = %(R1) and "             \
    "%(L2)(%(I2)) = %(R2).")                                                                       \
  X(ydata_not_increasing, "BS2IN", FATAL, 7,                                                       \
    "The %(L1) data values must be strictly increasing, but %(L2)(%(I1)) = %(R1) and "             \
    "%(L2)(%(I2)) = %(R2).")                                                                       \
  X(interpolation_no_storage, "BS2IN", TERMINAL, 8,                                                \
    "The required storage cannot be allocated.  Workspace allocation was based on NXDATA = "       \
    "%(I1) and NYDATA = %(I2).")                                                                   \
  X(knots_decreasing, "BS2IN DB2INT DS6LEZ", FATAL, 10,                                            \
    "The knot sequence %(L1)KNOT must be nondecreasing, but %(L1)KNOT(%(I1)) = %(R1) "             \
    "and %(L1)KNOT(%(I2)) = %(R2).")                                                               \
  X(knot_repeated_too_often, "BS2IN DB2INT DS6LEZ", FATAL, 11,                                     \
    "The knot %(L1)KNOT(%(I1)) = %(R1) is repeated more than the order of the "                    \
    "spline, %(I2), allows.")                                                                      \
  X(data_outside_knots, "BS2IN DB2INT DS6LEZ", FATAL, 12,                                          \
    "The Ith smallest element (I=%(I1)) in %(L1)DATA must be in the interval "                     \
    "(%(L1)KNOT(I),%(L1)KNOT(I+%(L2))) while %(L1)DATA(%(I1)) = %(R1), "                           \
    "%(L1)KNOT(%(I1)) = %(R2), %(L1)KNOT(%(I2)) = %(R3) are given.  ")                             \
  X(nearly_singular, "BS2IN DB2INT DS6LEZ", WARNING, 13,                                           \
    "The interpolation matrix in the %(L1) direction is nearly singular, try higher "              \
    "precision if possible.")                                                                      \
  X(nearly_singular_refinement_failed, "BS2IN DB2INT DS6LEZ", WARNING, 14,                         \
    "The interpolation matrix in the %(L1) direction is nearly singular.  Iterative "              \
    "refinement failed, try higher precision if possible.")                                        \
  X(single_order_below_one, "DB2INT", TERMINAL, 1,                                                 \
    "The order of the spline must be at least 1 while KORDER = %(I1) is given.")                   \
  X(single_too_few_points, "DB2INT", TERMINAL, 2,                                                  \
    "The number of data points must be at least as large as the order of the spline while "       \
    "NDATA = %(I1) and KORDER = %(I2) are given.")                                                 \
  X(x_derivative_negative, "BS2GD BS2VL", TERMINAL, 3,                                             \
    "The order of the derivative in the %(L1) direction must be at least zero, while %(L2) = "     \
    "%(I1) is given.")                                                                             \
  X(y_derivative_negative, "BS2GD BS2VL", TERMINAL, 4,                                             \
    "The order of the derivative in the %(L1) direction must be at least zero, while %(L2) = "     \
    "%(I1) is given.")                                                                             \
  X(x_too_few_coefficients, "BS2GD BS2VL", TERMINAL, 5,                                            \
    "The number of coefficients of the spline in the %(L1) direction must be at least as large "   \
    "as the order of the spline in the %(L1) direction while N%(L1)COEF = %(I1) and %(L2) = "      \
    "%(I2) are given.")                                                                            \
  X(y_too_few_coefficients, "BS2GD BS2VL", TERMINAL, 6,                                            \
    "The number of coefficients of the spline in the %(L1) direction must be at least as large "   \
    "as the order of the spline in the %(L1) direction while N%(L1)COEF = %(I1) and %(L2) = "      \
    "%(I2) are given.")                                                                            \
  X(value_dimension_too_small, "BS2GD", TERMINAL, 7,                                               \
    "The leading dimension of VALUE must be at least as large as NX while LDVALUE = %(I1) "        \
    "and NX = %(I2) are given.")                                                                   \
  X(xvec_not_increasing, "BS2GD", FATAL, 8,                                                        \
    "The %(L1) data values must be strictly increasing, but %(L2)(%(I1)) = %(R1) and "             \
    "%(L2)(%(I2)) = %(R2).")                                                                       \
  X(yvec_not_increasing, "BS2GD", FATAL, 9,                                                        \
    "The %(L1) data values must be strictly increasing, but %(L2)(%(I1)) = %(R1) and "             \
    "%(L2)(%(I2)) = %(R2).")                                                                       \
  X(grid_point_outside_knots, "BS2GD", WARNING, 10,                                                \
    "The point %(L1)(%(I2)) = %(R1) does not satisfy %(L1)KNOT(%(L2)) .LE. %(L1) .LE. "            \
    "%(L1)KNOT(%(L3)+1).  The value zero is returned in this case.")                               \
  X(grid_no_storage, "BS2GD", TERMINAL, 11,                                                        \
    "The required storage cannot be allocated.  Workspace allocation was based on NX = %(I1) "     \
    "and NY = %(I2).")                                                                             \
  X(point_outside_knots, "BS2VL", WARNING, 7,                                                      \
    "The point %(L1) = %(R1) does not satisfy %(L1)KNOT(%(L2)) .LE. %(L1) .LE. "                   \
    "%(L1)KNOT(%(L3)+1).  The value zero is returned in this case.")                               \
  X(point_no_storage, "BS2VL", TERMINAL, 8,                                                        \
    "The required storage cannot be allocated.  Workspace allocation was based on KXORD = "        \
    "%(I1) and KYORD = %(I2).")
// clang-format on

namespace zalk::toolkit {
ZALK_MESSAGE_TABLE(BsplineMessage, kBsplineMessages, ZALK_BSPLINE_MESSAGES)
}  // namespace zalk::toolkit
