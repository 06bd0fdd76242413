// Messages of the analysis deck (routine QUORVAN) and of the data folder.
#pragma once

#include "toolkit/messages.h"

namespace zalk::io {

#define ZALK_IO_MESSAGES(X)                                                                         \
  X(value_does_not_fit, "QUORVAN", TERMINAL, 1,                                                    \
    "The %(L1), %(L2), does not fit its %(L3) field of the analysis deck (%(L4)). "                \
    "The deck is not written.")                                                                    \
  X(too_many_cases, "QUORVAN", TERMINAL, 2,                                                        \
    "The number of cases, %(I1), is above the %(I2) problems an analysis deck can hold. "          \
    "The deck is not written.")                                                                    \
  X(no_moduli, "QUORVAN", TERMINAL, 3,                                                             \
    "%(I1) cases were asked for without their moduli. The deck is not written.")                   \
  X(deck_ends, "QUORVAN", TERMINAL, 4,                                                             \
    "The %(L1) ends after record %(I1): the %(L2) (record %(I2)) is missing.")                     \
  X(not_a_number, "QUORVAN", TERMINAL, 5,                                                          \
    "Input conversion error in the %(L1), %(L2): not a number for the %(L3).")                     \
  X(count_above_limit, "QUORVAN", TERMINAL, 6,                                                     \
    "Record %(I1) of the %(L1) (%(L2)) gives %(I2) %(L3); at most %(I3) are allowed.")             \
  X(cannot_write, "QUORVAN", TERMINAL, 7, "The analysis deck %(L1) cannot be %(L2): %(L3).")       \
  X(cannot_read, "QUORVAN", TERMINAL, 8, "The analysis deck %(L1) cannot be %(L2): %(L3).")        \
  X(layer_of_point, "QUORVAN", TERMINAL, 9,                                                        \
    "Record %(I1) of the %(L1) (%(L2)) places the point in layer %(I2); the problem has "          \
    "%(I3) layers.")                                                                               \
  X(no_folder_setting, "data folder", TERMINAL, 1,                                                 \
    "Neither ZALK3071_DIR nor HOME is set, so the data folder cannot be found.")                   \
  X(folder_missing, "data folder", TERMINAL, 2,                                                    \
    "The data folder %(L1) does not exist. Create it or set ZALK3071_DIR to an existing folder.") \
  X(not_a_folder, "data folder", TERMINAL, 3, "The data folder %(L1) is not a folder.")            \
  X(not_writable, "data folder", TERMINAL, 4,                                                      \
    "The data folder %(L1) is not writable; the analysis deck is written there.")

ZALK_MESSAGE_TABLE(IoMessage, kIoMessages, ZALK_IO_MESSAGES)

}  // namespace zalk::io
