// The message tables of the engine, the plate routines and the deck: one code per
// message within a routine, and placeholders the reporter can fill.
#include <gtest/gtest.h>

#include "engine/engine_messages.h"
#include "io/io_messages.h"
#include "plate/plate_messages.h"
#include "support/message_tables.h"

namespace zalk {
namespace {

TEST(MessageTables, CodesUniquePerRoutineAndPlaceholdersWellFormed) {
  testing::walk_message_table("engine", engine::kEngineMessages);
  testing::walk_message_table("plate", plate::kPlateMessages);
  testing::walk_message_table("io", io::kIoMessages);
}

}  // namespace
}  // namespace zalk
