// The checks every module's message table must pass: codes unique per
// routine and type, types 1..5, placeholders the reporter can fill, texts
// short enough to print and lines within 78 columns.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <span>
#include <string>
#include <string_view>
#include <tuple>

#include "toolkit/messages.h"

namespace zalk::testing {

// Empty when every '%' starts "%/" or "%(" kind digit ")" with kind one of
// IiRrDdLl and digit 1..9; otherwise the first bad piece.
inline std::string bad_placeholder(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    if (i + 1 < text.size() && text[i + 1] == '/') continue;
    const std::string_view p = text.substr(i, 5);
    if (p.size() < 5 || p[1] != '(' || p[4] != ')' ||
        std::string_view("IiRrDdLl").find(p[2]) == std::string_view::npos || p[3] < '1' ||
        p[3] > '9') {
      return std::string(p);
    }
  }
  return {};
}

inline void walk_message_table(const char* table, std::span<const toolkit::Message> messages) {
  std::set<std::tuple<std::string, int, int>> seen;
  for (const toolkit::Message& m : messages) {
    SCOPED_TRACE(std::string(table) + ": " + std::string(m.text));
    EXPECT_GE(m.type, toolkit::NOTE);
    EXPECT_LE(m.type, toolkit::TERMINAL);
    EXPECT_GE(m.code, 1);
    EXPECT_FALSE(m.routine.empty());
    // A routine field may name several routines that share the check.
    std::string_view names = m.routine;
    while (!names.empty()) {
      const std::size_t blank = names.find(' ');
      const std::string name(names.substr(0, blank));
      EXPECT_TRUE(seen.emplace(name, m.type, m.code).second)
          << name << " raises type " << m.type << " code " << m.code << " twice";
      names = blank == std::string_view::npos ? std::string_view() : names.substr(blank + 1);
    }
    EXPECT_EQ(bad_placeholder(m.text), "");
    EXPECT_LE(m.text.size(), toolkit::kMaxMessageText);
    for (const auto& line : toolkit::format_error_lines(m.type, m.code, "DB22VL", m.text)) {
      EXPECT_LE(line.size(), 78u) << line;
    }
  }
}

}  // namespace zalk::testing
