// Messages of the one-call spline fitting routines (DSPLEZ, its work-area
// variant DS2LEZ and the routines of the kinds). A routine field that names
// several routines marks a check they share.
#pragma once

#include "toolkit/messages.h"

// clang-format off
#define ZALK_SPLEZ_MESSAGES(X)                                                                     \
  X(no_points_to_evaluate, "DSPLEZ DS2LEZ", TERMINAL, 1,                                           \
    "The length of XVEC must be at least 1 while N = %(I1) is given.")                             \
  X(negative_derivative, "DSPLEZ DS2LEZ", TERMINAL, 2,                                             \
    "The order of the derivative to be evaluated must be nonnegative, but IDER = %(I1).")          \
  X(bad_kind, "DSPLEZ DS2LEZ", TERMINAL, 3,                                                        \
    "The value of ITYPE must be in the range 1,..,15, but ITYPE = %(I1).")                         \
  X(too_few_points_for_cubic, "DSPLEZ DS2LEZ", TERMINAL, 4,                                        \
    "The number of data points must be %(I2) or more, but NDATA = %(I1) is given.")                \
  X(too_few_points_for_akima, "DSPLEZ DS2LEZ", TERMINAL, 5,                                        \
    "The number of data points must be 4 or more, but NDATA = %(I1) is given.")                    \
  X(too_few_points_for_bspline, "DSPLEZ DS2LEZ", TERMINAL, 6,                                      \
    "The number of data points must be %(I1) or more, but NDATA = %(I2) is given.")                \
  X(too_few_points_to_smooth, "DSPLEZ DS2LEZ", TERMINAL, 7,                                        \
    "The number of data points must be 4 or more, but NDATA = %(I1).")                             \
  X(too_few_points_for_fit, "DSPLEZ DS2LEZ", TERMINAL, 8,                                          \
    "The number of data points must be %(I2) or more, but NDATA = %(I1)")                          \
  X(equal_abscissas, "DS2LEZ", FATAL, 9,                                                           \
    "Points in the data point abscissas array, XDATA, must be distinct, but XDATA(%(I1)) "         \
    "= XDATA(%(I2)) = %(D1).")                                                                     \
  X(equal_points, "DS2LEZ", FATAL, 10,                                                             \
    "Points to be evaluated must be distinct, but XVEC(%(I1)) =  XVEC(%(I2)) = %(D1).")            \
  X(argument_not_finite, "DS2LEZ", TERMINAL, 12,                                                  \
    "The %(L1)(%(I1)) = %(D1) is not a finite number.")                                            \
  X(value_overflows, "DS2LEZ", FATAL, 13,                                                          \
    "The spline of kind ITYPE = %(I1) cannot be evaluated in 8-byte arithmetic: VALUE(%(I2)) = "   \
    "%(D1).  The data are too large in magnitude.")                                                \
  X(no_storage, "DSPLEZ DS6LEZ", TERMINAL, 11,                                                     \
    "The required storage cannot be allocated.  Workspace allocation is based on NDATA =%(i1) "    \
    "and N =%(i2).")                                                                               \
  X(kind_no_storage, "DS2LEZ", TERMINAL, 10,                                                       \
    "The required storage cannot be allocated.  Workspace allocation is based on NDATA "           \
    "=%(i1) and N =%(i2).")                                                                        \
  X(kind_not_handled, "DS2LEZ", TERMINAL, 20,                                                      \
    "Spline kind ITYPE = %(I1) is not handled by this routine.")
// clang-format on

namespace zalk::toolkit {
ZALK_MESSAGE_TABLE(SplezMessage, kSplezMessages, ZALK_SPLEZ_MESSAGES)
}  // namespace zalk::toolkit
