// The message tables of the engine, the plate routines and the deck: one code per
// message within a routine, and placeholders the reporter can fill.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

#include "engine/engine_messages.h"
#include "io/io_messages.h"
#include "plate/plate_messages.h"

namespace zalk {
namespace {

// Every '%' opens a placeholder %(K<n>) with K one of I, i, R, D, L and n
// 1..9, or is the line break "%/".
bool placeholders_well_formed(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    if (i + 1 < text.size() && text[i + 1] == '/') continue;
    if (i + 4 >= text.size() || text[i + 1] != '(' || text[i + 4] != ')') return false;
    if (std::string_view("IiRDL").find(text[i + 2]) == std::string_view::npos) return false;
    if (text[i + 3] < '1' || text[i + 3] > '9') return false;
  }
  return true;
}

template <class Table>
void check_table(const Table& table, const char* module) {
  std::set<std::pair<std::string_view, int>> seen;
  for (const toolkit::Message& m : table) {
    EXPECT_TRUE(seen.insert({m.routine, m.code}).second)
        << module << ": code " << m.code << " of " << m.routine << " used twice";
    EXPECT_TRUE(placeholders_well_formed(m.text)) << module << ": " << m.text;
    EXPECT_TRUE(m.type >= toolkit::NOTE && m.type <= toolkit::TERMINAL && !m.text.empty()) << m.text;
  }
}

TEST(MessageTables, CodesUniquePerRoutineAndPlaceholdersWellFormed) {
  EXPECT_TRUE(placeholders_well_formed("A %(I1) and %(D2).%/Next line."));
  EXPECT_FALSE(placeholders_well_formed("A %(X1)."));
  EXPECT_FALSE(placeholders_well_formed("A %(I1"));
  check_table(engine::kEngineMessages, "engine");
  check_table(plate::kPlateMessages, "plate");
  check_table(io::kIoMessages, "io");
}

}  // namespace
}  // namespace zalk
