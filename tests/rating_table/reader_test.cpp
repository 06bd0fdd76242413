// Reading the deflection table file: position decides the grid point, the
// fixed columns and implied decimals of the record layout, short, missing and
// malformed files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "rating/defltable.h"
#include "table_support.h"
#include "toolkit/errors.h"

namespace zalk::testing {
namespace {

using rating::DeflectionTables;
using rating::read_deflection_table;
using rating::TableRead;
using toolkit::ErrorEvent;

struct Recorder {
  std::vector<ErrorEvent> events;
  toolkit::ScopedErrorHandler handler{[this](const ErrorEvent& e) { events.push_back(e); }};
};

// The value a correct reader must give: the written decimal, rounded once to 4 bytes.
float written_value(double v) {
  std::string s;
  fortio::put_f(s, v, 12, 8);
  return std::strtof(s.c_str(), nullptr);
}

TEST(DeflectionTableFile, PositionAndDeflectionFieldsAloneDecideTheTable) {
  // Keys true or arbitrary, field 15 present or cut off: the same table.
  const auto dir = scratch_dir();
  write_table(dir / "keys.txt", smooth_deflection, {true, 174});
  write_table(dir / "junk.txt", smooth_deflection, {false, 160});
  OwnedBlocks ob;
  DeflectionTables a, b;
  EXPECT_EQ(read_deflection_table(dir / "keys.txt", a, ob.view), TableRead::Complete);
  EXPECT_EQ(ob.depth->IDEPTH, 9);  // the depth loop ran to its end
  EXPECT_EQ(read_deflection_table(dir / "junk.txt", b, ob.view), TableRead::Complete);
  ASSERT_EQ(a.dtab.size(), kDtabSize);
  ASSERT_EQ(a.dthk.size(), kDthkSize);
  EXPECT_EQ(a.dtab, b.dtab);
  // Spot checks of the index order against the function itself.
  for (auto [i, k, d, m, n, s] : {std::array{1, 1, 1, 1, 1, 1}, std::array{8, 8, 8, 11, 8, 8},
                                  std::array{3, 7, 2, 10, 4, 5}, std::array{6, 1, 8, 1, 8, 2}}) {
    EXPECT_EQ(a.dtab[dtab_index(i, k, d, m, n, s)], written_value(smooth_deflection(i, k, d, m, n, s)))
        << i << k << d << m << n << s;
  }
}

// A table of one record given as text, followed by nothing (a short file).
DeflectionTables read_one_record(const std::string& record, Recorder& rec) {
  const auto file = scratch_dir() / "one.txt";
  std::ofstream(file, std::ios::binary) << record << "\r\n";
  OwnedBlocks ob;
  DeflectionTables t;
  EXPECT_EQ(read_deflection_table(file, t, ob.view), TableRead::Short);
  EXPECT_EQ(rec.events.size(), 1u);
  return t;
}

TEST(DeflectionTableFile, FixedColumnsFollowTheFormattedInputRules) {
  // Field 7 without a point has 8 implied decimals; field 8 has blanks in it;
  // field 9 an exponent; field 10 is blank; the record ends inside field 12,
  // so 12's tail and 13, 14 read as blanks; a CR before the line end is no data.
  std::string r(50, ' ');
  r += "    12345678";           // 51-62
  r += "  " "  0.0 1 2 3 ";      // 65-76
  r += "  " "    1.5E-2  ";      // 79-90
  r += "  " "            ";      // 93-104
  r += "  " "-0.25       ";      // 107-118
  r += "  " "    7";               // 121-125, record ends
  Recorder rec;
  const DeflectionTables t = read_one_record(r, rec);
  EXPECT_EQ(t.dtab[dtab_index(1, 1, 1, 1, 1, 1)], 0.12345678f);
  EXPECT_EQ(t.dtab[dtab_index(1, 1, 1, 1, 1, 2)], 0.0123f);
  EXPECT_EQ(t.dtab[dtab_index(1, 1, 1, 1, 1, 3)], 0.015f);
  EXPECT_EQ(t.dtab[dtab_index(1, 1, 1, 1, 1, 4)], 0.0f);
  EXPECT_EQ(t.dtab[dtab_index(1, 1, 1, 1, 1, 5)], -0.25f);
  EXPECT_EQ(t.dtab[dtab_index(1, 1, 1, 1, 1, 6)], 0.00000007f);  // "    7" padded: 7e-8
  EXPECT_EQ(t.dtab[dtab_index(1, 1, 1, 1, 1, 7)], 0.0f);
  // The second record's place stays zero.
  EXPECT_EQ(t.dtab[dtab_index(1, 1, 1, 1, 2, 1)], 0.0f);
}

TEST(DeflectionTableFile, ShortFileStopsReadingWithAWarning) {
  const auto file = scratch_dir() / "short.txt";
  write_table(file, smooth_deflection, {true, 174, 100});
  OwnedBlocks ob;
  DeflectionTables t;
  t.dtab.assign(kDtabSize, 1.0f);  // a table from an earlier call must not survive
  Recorder rec;
  EXPECT_EQ(read_deflection_table(file, t, ob.view), TableRead::Short);
  ASSERT_EQ(rec.events.size(), 1u);
  EXPECT_EQ(rec.events[0].type, toolkit::WARNING);
  EXPECT_NE(rec.events[0].message.find("ends after 100 of its 45056 records"), std::string::npos);
  EXPECT_NE(rec.events[0].message.find(file.string()), std::string::npos);
  // 88 records per depth and 8 per surface modulus: record 100 is
  // (1, 1, 2, 2, 4); record 101, (1, 1, 2, 2, 5), is not read.
  EXPECT_EQ(t.dtab[dtab_index(1, 1, 2, 2, 4, 8)], written_value(smooth_deflection(1, 1, 2, 2, 4, 8)));
  EXPECT_EQ(t.dtab[dtab_index(1, 1, 2, 2, 5, 1)], 0.0f);
  EXPECT_EQ(t.dtab[dtab_index(8, 8, 8, 11, 8, 8)], 0.0f);
  EXPECT_EQ(ob.depth->IDEPTH, 2);  // the depth being read when the end was met
}

TEST(DeflectionTableFile, EmptyFileIsAShortFileOfNoRecords) {
  const auto file = scratch_dir() / "empty.txt";
  std::ofstream(file, std::ios::binary).flush();
  OwnedBlocks ob;
  DeflectionTables t;
  Recorder rec;
  EXPECT_EQ(read_deflection_table(file, t, ob.view), TableRead::Short);
  ASSERT_EQ(rec.events.size(), 1u);
  EXPECT_NE(rec.events[0].message.find("ends after 0 of its 45056"), std::string::npos);
  EXPECT_EQ(t.dtab, std::vector<float>(kDtabSize, 0.0f));
}

TEST(DeflectionTableFile, MissingFileIsATerminalErrorAndCreatesNoFile) {
  const auto file = scratch_dir() / "no_such_table.txt";
  OwnedBlocks ob;
  DeflectionTables t;
  Recorder rec;
  EXPECT_THROW(read_deflection_table(file, t, ob.view), toolkit::SevereError);
  ASSERT_EQ(rec.events.size(), 1u);
  EXPECT_EQ(rec.events[0].type, toolkit::TERMINAL);
  EXPECT_EQ(rec.events[0].message, "The deflection table file " + file.string() + " does not exist.");
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(toolkit::name_stack_depth(), 0);
}

TEST(DeflectionTableFileDeathTest, MissingFileEndsTheProcessWithItsMessage) {
  const auto file = scratch_dir() / "gone.txt";
  EXPECT_EXIT(
      {
        dup2(2, 1);
        OwnedBlocks ob;
        DeflectionTables t;
        read_deflection_table(file, t, ob.view);
      },
      ::testing::ExitedWithCode(5),
      "TERMINAL ERROR 1 from DEFLTAB\\.  The deflection table(.|\n)*gone\\.txt(.|\n)*"
      "Stop - Program terminated\\.");
}

TEST(DeflectionTableFile, MalformedDeflectionNamesRecordAndColumns) {
  const auto file = scratch_dir() / "bad.txt";
  write_table(file, smooth_deflection, {true, 174, 3});
  std::string text;
  {
    std::ifstream in(file, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), {});
  }
  // Field 15 is never read, so garbage there is harmless; field 9 of record 3 is read.
  text[174 - 3] = 'x';
  const std::size_t third = 2 * 175;
  text[third + 80] = 'Q';
  std::ofstream(file, std::ios::binary) << text;
  OwnedBlocks ob;
  DeflectionTables t;
  Recorder rec;
  EXPECT_THROW(read_deflection_table(file, t, ob.view), toolkit::SevereError);
  ASSERT_EQ(rec.events.size(), 1u);
  EXPECT_EQ(rec.events[0].type, toolkit::TERMINAL);
  EXPECT_NE(rec.events[0].message.find("record 3, columns 79-90"), std::string::npos)
      << rec.events[0].message;
}

}  // namespace
}  // namespace zalk::testing
