// Message tables: every check of a module raises one entry of the module's
// table, so that codes and texts live in one place and tests can walk them.
//
// A module lists its messages once with an X-macro,
//
//   #define ZALK_GAUSS_MESSAGES(X) X(bad_n, "DGQRUL", TERMINAL, 1, "The number ...") ...
//
// and declares them with ZALK_MESSAGE_TABLE(GaussMessage, kGaussMessages,
// ZALK_GAUSS_MESSAGES): an enum class with one name per entry and a
// constexpr array of the entries in the same order. A call site records its
// placeholder values (E1STI, ...) and then calls raise(GaussMessage::bad_n).
#pragma once

#include <array>
#include <string_view>

#include "toolkit/errors.h"

namespace zalk::toolkit {

struct Message {
  std::string_view routine;  // the routine the reporter names after "from"
  int type;                  // NOTE .. TERMINAL
  int code;                  // error code within the routine
  std::string_view text;     // message text with %(I1)-style placeholders
};

// The longest message text a table may hold: with its placeholders filled it
// still fits in a block of a few printed lines.
constexpr std::size_t kMaxMessageText = 400;

// Raises `m` through the reporter (E1MES) with its type, code and text. The
// routine printed is the top of the name stack, as for E1MES; the table's
// routine documents which routine raises it.
void raise(const Message& m);

}  // namespace zalk::toolkit

#define ZALK_MESSAGE_NAME_(name, routine, type, code, text) name,
#define ZALK_MESSAGE_ENTRY_(name, routine, type, code, text) \
  ::zalk::toolkit::Message{routine, ::zalk::toolkit::type, code, text},

// Declares `enum class Enum` and `inline constexpr std::array Table`.
#define ZALK_MESSAGE_TABLE(Enum, Table, LIST)                                  \
  enum class Enum : int { LIST(ZALK_MESSAGE_NAME_) };                          \
  inline constexpr std::array Table{LIST(ZALK_MESSAGE_ENTRY_)};                \
  inline void raise(Enum e) { ::zalk::toolkit::raise(Table[static_cast<std::size_t>(e)]); }
