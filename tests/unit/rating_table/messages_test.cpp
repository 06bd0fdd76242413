// The rating core's message tables: the checks every table passes, one entry
// per routine and code, each raised with its own type, code and text.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "rating/rating_messages.h"
#include "support/message_tables.h"

namespace zalk::rating {
namespace {

template <class Table>
void check_table(const Table& table, std::set<std::pair<std::string, int>>& seen) {
  for (const toolkit::Message& m : table) {
    SCOPED_TRACE(std::string(m.routine) + " " + std::to_string(m.code));
    EXPECT_TRUE(seen.emplace(std::string(m.routine), m.code).second) << "code used twice";
    EXPECT_GE(m.type, toolkit::NOTE);
    EXPECT_LE(m.type, toolkit::TERMINAL);
    EXPECT_EQ(m.text.back(), '.');

    std::vector<toolkit::ErrorEvent> events;
    toolkit::ScopedErrorHandler h([&](const toolkit::ErrorEvent& e) { events.push_back(e); });
    toolkit::RoutineScope scope(m.routine);
    try {
      toolkit::raise(m);
    } catch (const toolkit::SevereError&) {
      EXPECT_GE(m.type, toolkit::FATAL);
    }
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, m.type);
    EXPECT_EQ(events[0].code, m.code);
    EXPECT_EQ(events[0].routine, m.routine);
  }
}

TEST(RatingMessages, EveryEntryIsUniqueAndRaisesAsListed) {
  std::set<std::pair<std::string, int>> seen;
  testing::walk_message_table("table", kTableMessages);
  testing::walk_message_table("rating", kRatingMessages);
  check_table(kTableMessages, seen);
  check_table(kRatingMessages, seen);
  EXPECT_EQ(seen.size(), kTableMessages.size() + kRatingMessages.size());
}

}  // namespace
}  // namespace zalk::rating
