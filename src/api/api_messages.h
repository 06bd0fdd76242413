// The public API's own messages: every check of an input the API takes.
// Values are named in the text (%(L..) holds a number as the shortest text
// that reads back as it).
#pragma once

#include "toolkit/messages.h"

namespace zalk::detail {

#define ZALK_API_MESSAGES(X)                                                                        \
  X(layer_count, "zalk::analyse", TERMINAL, 1,                                                      \
    "The structure has %(I1) layers; it must have 2 to 50.")                                        \
  X(load_count, "zalk::analyse", TERMINAL, 2, "%(I1) loads are given; 1 to 10 are allowed.")       \
  X(point_count, "zalk::analyse", TERMINAL, 3, "%(I1) points are given; 1 to 1000 are allowed.")   \
  X(thickness, "zalk::analyse", TERMINAL, 4,                                                        \
    "The thickness of layer %(I1), %(L1), must be a finite number above 0.")                        \
  X(modulus, "zalk::analyse", TERMINAL, 5,                                                          \
    "The modulus of layer %(I1), %(L1), must be a finite number above 0.")                          \
  X(deck_modulus, "zalk::analyse", TERMINAL, 6,                                                     \
    "The modulus of layer %(I1), %(L1), is outside the range of the 4-byte values the analysis "    \
    "deck rounds.")                                                                                 \
  X(poisson, "zalk::analyse", TERMINAL, 7,                                                          \
    "Poisson's ratio of layer %(I1), %(L1), must lie between -1 and 0.5 (both excluded).")          \
  X(bond, "zalk::analyse", TERMINAL, 8,                                                             \
    "The bond of layer %(I1), %(L1), must lie between 0 (frictionless) and 1 (full friction).")     \
  X(pressure, "zalk::analyse", TERMINAL, 9,                                                         \
    "The pressure of load %(I1), %(L1), must be a finite number above 0.")                          \
  X(radius, "zalk::analyse", TERMINAL, 10,                                                          \
    "The radius of load %(I1), %(L1), must be a finite number above 0.")                            \
  X(load_position, "zalk::analyse", TERMINAL, 11,                                                   \
    "The centre of load %(I1), (%(L1), %(L2)), must have finite coordinates.")                      \
  X(point_position, "zalk::analyse", TERMINAL, 12,                                                  \
    "Point %(I1), (%(L1), %(L2), %(L3)), must have finite coordinates.")                            \
  X(point_above_surface, "zalk::analyse", TERMINAL, 13,                                             \
    "Point %(I1) lies above the surface: its depth z is %(L1).")                                    \
  X(unexpected, "zalk", TERMINAL, 14, "The call could not be completed: %(L1).")                   \
  X(no_table, "zalk::Rater", TERMINAL, 15,                                                          \
    "The rater has no deflection table; load one with load_table first.")                           \
  X(stream_unreadable, "zalk::Rater", TERMINAL, 17, "The deflection table stream cannot be read.")  \
  X(test_count, "zalk::Rater", TERMINAL, 18, "No tests are given; at least 1 is needed.")          \
  X(section_value, "zalk::Rater", TERMINAL, 19, "The section's %(L1), %(L2), %(L3).")               \
  X(test_value, "zalk::Rater", TERMINAL, 20, "Test %(I1): the %(L1), %(L2), %(L3).")                \
  X(sensor_count, "zalk::Rater", TERMINAL, 21,                                                      \
    "Test %(I1) gives %(I2) sensor offsets and %(I3) deflections; each sensor needs one.")          \
  X(sensor_order, "zalk::Rater", TERMINAL, 22,                                                      \
    "Test %(I1): sensor %(I2) at %(L1) in does not lie beyond sensor %(I3) at %(L2) in; the "      \
    "offsets must increase.")                                                                       \
  X(sensor_layout, "zalk::Rater", TERMINAL, 23,                                                     \
    "Test %(I1): the design method rates deflections at 0, 8, 12, 18, 24 and 36 in, the sensors "   \
    "of the deflection table; sensor %(I2) is at %(L1) in.")                                        \
  X(item_count, "zalk::Rater", TERMINAL, 24, "No overlay items are given; at least 1 is needed.") \
  X(item_value, "zalk::Rater", TERMINAL, 25, "Overlay item %(I1): the %(L1), %(L2), %(L3).")        \
  X(increment, "zalk::Rater", TERMINAL, 26,                                                         \
    "The overlay increment, %(L1), must be a finite number above 0.")                               \
  X(method, "zalk::Rater", TERMINAL, 27, "Rating method %(I1) is not one this library knows.")     \
  X(analysis_option, "zalk::analyse", TERMINAL, 28,                                                 \
    "The analysis option %(L1) has the value %(I1), not one this library knows.")                  \
  X(fit_setting, "zalk::Rater", TERMINAL, 29, "The fit setting %(L1), %(L2), %(L3).")              \
  X(increment_range, "zalk::Rater", TERMINAL, 30,                                                   \
    "The overlay increment, %(L1) in, is more than %(L2) in, the top of the deflection table's "    \
    "thickness grid.")                                                                              \
  X(load_reach, "zalk::analyse", TERMINAL, 31,                                                      \
    "Load %(I1): its %(L1), %(L2), lies beyond %(L3), the farthest the analysis takes.")            \
  X(point_reach, "zalk::analyse", TERMINAL, 32,                                                     \
    "Point %(I1): its %(L1), %(L2), lies beyond %(L3), the farthest the analysis takes.")

ZALK_MESSAGE_TABLE(ApiMessage, kApiMessages, ZALK_API_MESSAGES)

}  // namespace zalk::detail
