// The library's outputs against values recorded once from the plain
// algorithms (every fast path off; tools/record_outputs), bit for bit:
// engine responses, deflection-table records, and the sample's rating and
// overlay iteration through the legacy core. Computed here with the
// library's default (fast) paths, so that speed work that moves a bit is
// caught even when it changes the fast and the plain path alike.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "io/platform.h"
#include "tools/defltable_records.h"
#include "tools/recorded_sets.h"

namespace {

namespace fs = std::filesystem;
using recorded::Paths;
using recorded::Recording;

const fs::path kSource = ZALK_SOURCE_DIR;

Recording load(const char* name) {
  const fs::path file = fs::path(ZALK_TEST_DATA) / "recorded" / name;
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  std::stringstream text;
  text << in.rdbuf();
  return recorded::parse(text.str());
}

void expect_recorded(const char* name, const Recording& computed, bool subset = false) {
  const Recording expected = load(name);
  const recorded::Comparison c = recorded::compare(expected, computed, subset);
  std::string first;
  for (const std::string& line : c.first) first += "\n  " + line;
  EXPECT_EQ(c.mismatches, 0u) << name << ": " << c.mismatches << " of " << c.values
                              << " values differ from the recording; the first:" << first;
  EXPECT_GT(c.values, 0u);
  std::printf("  %s: %zu values compared\n", name, c.values);
}

fs::path deck() { return zalk::platform::data_folder() / "recorded_deck.txt"; }

TEST(RecordedOutputs, EngineResponses) {
  expect_recorded(recorded::kEngineFile, recorded::engine_outputs(Paths::defaults));
}

// The recorded records, as the table prints them, are the shipped table's
// lines; the default paths give the recorded bits.
TEST(RecordedOutputs, DeflectionTableRecords) {
  std::ifstream table(kSource / "data" / "backdefl.txt");
  std::vector<std::string> lines;
  for (std::string line; std::getline(table, line);) lines.push_back(line + '\n');
  ASSERT_EQ(lines.size(), std::size_t(zalk::rating::kTableRecords));
  int checked = 0;
  for (const recorded::Row& row : load(recorded::kTableFile).rows) {
    const int n = std::stoi(row.where.substr(3));
    ASSERT_EQ(row.bits.size(), 8u) << row.where;
    float defl[8];
    for (int s = 0; s < 8; ++s) {
      const auto b = std::uint32_t(row.bits[std::size_t(s)]);
      std::memcpy(&defl[s], &b, sizeof b);
    }
    EXPECT_EQ(defltable_records::format_record(defltable_records::grid_point(n - 1), defl),
              lines[std::size_t(n - 1)])
        << row.where;
    ++checked;
  }
  EXPECT_EQ(checked, int(recorded::table_sample().size()));

  expect_recorded(recorded::kTableFile, recorded::table_records(Paths::defaults, deck()));
}

// The recording is what the plain algorithms give (every tenth record).
TEST(RecordedOutputs, PlainPathsGiveTheRecording) {
  expect_recorded(recorded::kTableFile, recorded::table_records(Paths::plain, deck(), 10), true);
}

TEST(RecordedOutputs, SampleRating) {
  expect_recorded(recorded::kRatingFile, recorded::sample_rating(Paths::defaults, kSource));
}

TEST(RecordedOutputs, SampleOverlay) {
  expect_recorded(recorded::kOverlayFile, recorded::sample_overlay(Paths::defaults, kSource));
}

}  // namespace
