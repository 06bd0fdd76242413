// Every message the engine raises, with its routine, type, code and text.
// Call sites record the placeholder values (E1STI, E1STD) and then raise the
// entry by name. QUORVAN's codes 1 to 4 are those of the legacy entry.
#pragma once

#include "toolkit/messages.h"

#define ZALK_ENGINE_MESSAGES(X)                                                                   \
  X(layer_count, "QUORVAN", TERMINAL, 1, "The number of layers is %(I1); it must be 2 to 50.")     \
  X(point_layer, "QUORVAN", TERMINAL, 2,                                                          \
    "Point %(I1) is placed in layer %(I2), outside the %(I3) layers of the problem.")             \
  X(too_many_cases, "QUORVAN", TERMINAL, 3,                                                       \
    "The stress mode takes at most 5 cases, one per strength factor, but %(I1) cases are given.") \
  X(no_storage, "QUORVAN", TERMINAL, 4, "The work storage of the analysis cannot be allocated.")  \
  X(load_count, "QUORVAN", TERMINAL, 5, "The number of loads is %(I1); it must be 0 to 10.")      \
  X(point_count, "QUORVAN", TERMINAL, 6, "The number of points is %(I1); it must be 0 to 1000.")  \
  X(radius_below_reach, "QUORVAN", TERMINAL, 7,                                                   \
    "Load %(I1) has the radius %(D1), below the %(D2) that the integration grid serves.  The "    \
    "engine works in inches and psi; give lengths in inches.")                                    \
  X(bad_poisson, "QUORVAN", TERMINAL, 8,                                                          \
    "Layer %(I1) has Poisson's ratio %(D1); it must lie between -1 and 0.5, both excluded.")      \
  X(bad_modulus, "QUORVAN", TERMINAL, 9,                                                          \
    "Layer %(I1) has the modulus %(D1); it must be positive and finite.")                         \
  X(bad_thickness, "QUORVAN", TERMINAL, 10,                                                       \
    "Layer %(I1) has the thickness %(D1); it must be 0 or more and finite.")                       \
  X(bad_depth, "QUORVAN", TERMINAL, 11,                                                           \
    "Point %(I1) has the depth %(D1); it must be 0 or more and finite.")                          \
  X(point_moved, "QUORVAN", WARNING, 12,                                                          \
    "Point %(I1) at depth %(D1) is declared in layer %(I2) but lies in layer %(I3); it is "       \
    "evaluated in layer %(I3).")                                                                  \
  X(spline_capacity, "LAYERRESPONSE", TERMINAL, 1,                                                \
    "An integration interval holds %(I1) grid points, more than the %(I2) that one spline fit "   \
    "takes.  The load radius %(D1) is too small.")

namespace zalk::engine {
ZALK_MESSAGE_TABLE(EngineMessage, kEngineMessages, ZALK_ENGINE_MESSAGES)
}  // namespace zalk::engine
