// Every message the plate routines raise, with its routine, type, code and
// text. Call sites record the placeholder values and raise the entry by name.
#pragma once

#include "toolkit/messages.h"

#define ZALK_PLATE_MESSAGES(X)                                                                  \
  X(point_index, "BTWODIMENSION", TERMINAL, 1,                                                  \
    "The point number IPT is %(I1); it must be 1 to %(I2).  Nothing is added to the slots.")   \
  X(load_index, "BTWODIMENSION", TERMINAL, 2,                                                   \
    "The load number ILOAD is %(I1); it must be 1 to %(I2).  Nothing is added to the slots.")  \
  X(layer_index, "BTWODIMENSION", TERMINAL, 3,                                                  \
    "The layer number PLAYER is %(I1); it must be 1 to %(I2).  Nothing is added to the slots.")

namespace zalk::plate {
ZALK_MESSAGE_TABLE(PlateMessage, kPlateMessages, ZALK_PLATE_MESSAGES)
}  // namespace zalk::plate
