// Every message table of the toolkit: codes unique per routine and type,
// types 1..5, placeholders well formed, texts short enough for the reporter.
#include <gtest/gtest.h>

#include <set>
#include <span>
#include <string>
#include <tuple>

#include "toolkit/bspline_messages.h"
#include "toolkit/errors_messages.h"
#include "toolkit/gauss_messages.h"
#include "toolkit/sparse_messages.h"
#include "toolkit/splez_messages.h"

namespace zt = zalk::toolkit;

namespace {

// Empty when every '%' starts "%/" or "%(" kind digit ")" with kind one of
// IiRrDdLl and digit 1..9; otherwise the first bad piece.
std::string bad_placeholder(std::string_view text) {
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

void walk(const char* table, std::span<const zt::Message> messages) {
  std::set<std::tuple<std::string, int, int>> seen;
  for (const zt::Message& m : messages) {
    SCOPED_TRACE(std::string(table) + ": " + std::string(m.text));
    EXPECT_GE(m.type, zt::NOTE);
    EXPECT_LE(m.type, zt::TERMINAL);
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
    EXPECT_LE(m.text.size(), zt::kMaxMessageText);
    for (const auto& line : zt::format_error_lines(m.type, m.code, "DB22VL", m.text)) {
      EXPECT_LE(line.size(), 78u) << line;
    }
  }
}

}  // namespace

TEST(MessageTables, CodesTypesPlaceholdersAndLengthsOfEveryToolkitTable) {
  walk("reporter", zt::kReporterMessages);
  walk("gauss", zt::kGaussMessages);
  walk("sparse", zt::kSparseMessages);
  walk("bspline", zt::kBsplineMessages);
  walk("splez", zt::kSplezMessages);
  EXPECT_EQ(bad_placeholder("a %(I1) %(d9) %/ %(L0)"), "%(L0)");
  EXPECT_EQ(bad_placeholder("100%"), "%");
}
