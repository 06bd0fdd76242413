// Messages of the reporter's own checks. The illegal-type message is printed
// with the code and routine of the faulty call.
#pragma once

#include "toolkit/messages.h"

// clang-format off
#define ZALK_REPORTER_MESSAGES(X)                                                                  \
  X(push_too_deep, "E1PSH", TERMINAL, 1,                                                           \
    "Error condition in E1PSH.  Push would cause stack level to exceed %(I1).")                    \
  X(pop_from_empty, "E1POP", TERMINAL, 1,                                                          \
    "Error condition in E1POP.  Cannot pop from %(L1) because stack is empty.")                    \
  X(pop_mismatch, "E1POP", TERMINAL, 2,                                                            \
    "Error condition in E1POP.  %(L1) does not match the name %(L2) in the stack.")                \
  X(illegal_type, "E1MES", TERMINAL, 1, ".  Error from E1MES.  Illegal error type specified.")
// clang-format on

namespace zalk::toolkit {
ZALK_MESSAGE_TABLE(ReporterMessage, kReporterMessages, ZALK_REPORTER_MESSAGES)
}  // namespace zalk::toolkit
