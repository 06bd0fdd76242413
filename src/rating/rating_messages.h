// Every message the rating core raises, with the routine, type and code the
// reporter prints (see toolkit/messages.h). Internal to the library.
#pragma once

#include "toolkit/messages.h"

// The deflection table: reading it and the surfaces built from it.
#define ZALK_TABLE_MESSAGES(X)                                                                     \
  X(table_missing, "DEFLTAB", TERMINAL, 1, "The deflection table file %(L1) does not exist.")       \
  X(table_unreadable, "DEFLTAB", TERMINAL, 2,                                                       \
    "The deflection table file %(L1) cannot be opened for reading.")                                \
  X(table_short, "DEFLTAB", TERMINAL, 3,                                                            \
    "The deflection table file %(L1) ends after %(I1) of its %(I2) records: record %(I3) is "       \
    "missing. Nothing was rated.")                                                                  \
  X(table_not_a_number, "DEFLTAB", TERMINAL, 4,                                                     \
    "The deflection table file %(L1) holds no number at %(L2).")                                    \
  X(no_surface, "DEFLTAB", TERMINAL, 5,                                                             \
    "No deflection surface exists for depth index %(I1) and sensor %(I2).")                         \
  X(table_long, "DEFLTAB", TERMINAL, 6,                                                             \
    "The deflection table file %(L1) holds more than its %(I2) records: record %(I1) is one too "   \
    "many. Nothing was rated.")                                                                     \
  X(table_not_regular, "DEFLTAB", TERMINAL, 7,                                                      \
    "The deflection table file %(L1) is not a regular file. Nothing was rated.")                    \
  X(table_too_large, "DEFLTAB", TERMINAL, 8,                                                        \
    "The deflection table file %(L1) is larger than the %(I1) bytes a complete table can take. "    \
    "Nothing was rated.")                                                                           \
  X(table_blank_field, "DEFLTAB", TERMINAL, 9,                                                      \
    "The deflection table file %(L1) has a blank field at %(L2). Nothing was rated.")               \
  X(table_out_of_range, "DEFLTAB", TERMINAL, 10,                                                    \
    "The deflection table file %(L1) holds a value beyond the range of a 4-byte float at %(L2). "   \
    "Nothing was rated.")

// The load-rating driver and the overlay iteration.
#define ZALK_RATING_MESSAGES(X)                                                                    \
  X(too_many_sections, "ZALK3071DLL", TERMINAL, 1,                                                  \
    "The number of sections NSEC = %(I1) exceeds the 20 rows of the host's arrays. "                \
    "Nothing was rated.")                                                                           \
  X(too_many_tests, "ZALK3071DLL", TERMINAL, 2,                                                     \
    "Section %(I1) has NTEST = %(I2) tests, more than the 2000 columns of the "                     \
    "host's arrays. Nothing was rated.")                                                            \
  X(meaningless_moduli, "ZALK3071DLL", WARNING, 3,                                                  \
    "Section %(I1), test %(I2): the back-calculated moduli E1 = %(R1), E2 = %(R2), E3 = %(R3) "     \
    "are not all positive numbers of a real material; the test has no allowable load.")                         \
  X(too_many_items, "OVER", TERMINAL, 1,                                                            \
    "The number of items NSEC = %(I1) exceeds the 20 rows of the host's arrays. "                   \
    "Nothing was changed.")                                                                         \
  X(bad_item_modulus, "OVER", TERMINAL, 2,                                                          \
    "Item %(I1) has a layer %(I2) modulus of %(D1); the moduli must be positive "                   \
    "numbers. Nothing was changed.")

namespace zalk::rating {

ZALK_MESSAGE_TABLE(TableMessage, kTableMessages, ZALK_TABLE_MESSAGES)
ZALK_MESSAGE_TABLE(RatingMessage, kRatingMessages, ZALK_RATING_MESSAGES)

}  // namespace zalk::rating
