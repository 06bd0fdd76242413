// Reading the deflection table file: position decides the grid point, the
// fixed columns and implied decimals of the record layout; damaged, missing
// and oversized files.
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

// A complete table of smooth_deflection as text, written once.
const std::string& smooth_table_text() {
  static const std::string text = [] {
    const auto file = scratch_dir() / "smooth_text.txt";
    write_table(file, smooth_deflection);
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  return text;
}
constexpr std::size_t kRecordBytes = 175;  // 174 columns and the line end

// Record `number` (1-based) of the smooth table, its columns [from, to) only.
std::string smooth_record(int number, std::size_t from = 0, std::size_t to = 174) {
  return smooth_table_text().substr(std::size_t(number - 1) * kRecordBytes + from, to - from);
}

// The smooth table with record `number` replaced.
std::string with_record(int number, const std::string& record) {
  std::string text = smooth_table_text();
  text.replace(std::size_t(number - 1) * kRecordBytes, kRecordBytes - 1, record);
  return text;
}

TEST(DeflectionTableFile, FixedColumnsFollowTheFormattedInputRules) {
  // Field 7 without a point has 8 implied decimals; field 8 has blanks in it;
  // field 9 an exponent; the record ends inside field 14, so its tail reads
  // as blanks; a CR before the line end is no data.
  std::string r = smooth_record(1, 0, 50);
  r += "    12345678";           // 51-62
  r += "  " "  0.0 1 2 3 ";      // 65-76
  r += "  " "    1.5E-2  ";      // 79-90
  r += "  " "           0";      // 93-104
  r += "  " "-0.25       ";      // 107-118
  r += "  " "  1.0       ";      // 121-132
  r += "  " "  2.0       ";      // 135-146
  r += "  " "    7\r";             // 149-153, record ends
  OwnedBlocks ob;
  DeflectionTables t;
  EXPECT_EQ(rating::read_deflection_table_text(with_record(1, r), "t", t, ob.view), TableRead::Complete);
  EXPECT_EQ(t.dtab[dtab_index(1, 1, 1, 1, 1, 1)], 0.12345678f);
  EXPECT_EQ(t.dtab[dtab_index(1, 1, 1, 1, 1, 2)], 0.0123f);
  EXPECT_EQ(t.dtab[dtab_index(1, 1, 1, 1, 1, 3)], 0.015f);
  EXPECT_EQ(t.dtab[dtab_index(1, 1, 1, 1, 1, 4)], 0.0f);
  EXPECT_EQ(t.dtab[dtab_index(1, 1, 1, 1, 1, 5)], -0.25f);
  EXPECT_EQ(t.dtab[dtab_index(1, 1, 1, 1, 1, 8)], 0.00000007f);  // "    7" padded: 7e-8
  EXPECT_EQ(t.dtab[dtab_index(1, 1, 1, 1, 2, 1)], written_value(smooth_deflection(1, 1, 1, 1, 2, 1)));
}

// A table that is not complete, or that holds a field that is not a 4-byte
// float, is refused as a whole, naming the file and the record and columns.
TEST(DeflectionTableFile, DamagedTablesAreTerminalErrorsNamingRecordAndColumns) {
  const std::string& full = smooth_table_text();
  struct Case {
    const char* what;
    std::string text;
    const char* message;  // after "The deflection table file t "
  };
  const Case cases[] = {
      {"half", full.substr(0, full.size() / 2),
       "ends after 22528 of its 45056 records: record 22529 is missing."},
      {"cut inside a record", full.substr(0, 99 * kRecordBytes + 50),
       "has a blank field at record 100, columns 51-62 (\"            \")."},
      {"records cut short", with_record(3, smooth_record(3, 0, 104)),
       "has a blank field at record 3, columns 107-118"},
      {"blank deflection", with_record(5, smooth_record(5, 0, 64) + std::string(12, ' ') + smooth_record(5, 76)),
       "has a blank field at record 5, columns 65-76"},
      {"blank scratch field", with_record(7, std::string(8, ' ') + smooth_record(7, 8)),
       "has a blank field at record 7, columns 2-7"},
      {"too big for a float", with_record(9, smooth_record(9, 0, 78) + "     1.0E+39" + smooth_record(9, 90)),
       "holds a value beyond the range of a 4-byte float at record 9, columns 79-90"},
      {"huge negative", with_record(9, smooth_record(9, 0, 78) + "  -1.0E+300 " + smooth_record(9, 90)),
       "holds a value beyond the range of a 4-byte float at record 9, columns 79-90"},
      {"one record too many", full + smooth_record(1) + "\n",
       "holds more than its 45056 records: record 45057 is one too many."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OwnedBlocks ob;
    DeflectionTables t;
    Recorder rec;
    EXPECT_THROW(rating::read_deflection_table_text(c.text, "t", t, ob.view), toolkit::SevereError);
    ASSERT_EQ(rec.events.size(), 1u);
    EXPECT_EQ(rec.events[0].type, toolkit::TERMINAL);
    EXPECT_EQ(rec.events[0].routine, "DEFLTAB");
    EXPECT_EQ(rec.events[0].message.rfind(std::string("The deflection table file t ") + c.message, 0), 0u)
        << rec.events[0].message;
  }
}

// What is not a regular file, or is larger than a table can be, is not read.
TEST(DeflectionTableFile, OnlyARegularFileOfATablesSizeIsRead) {
  const auto dir = scratch_dir();
  const auto zero = dir / "zero_link.txt";
  std::filesystem::remove(zero);
  std::filesystem::create_symlink("/dev/zero", zero);
  const auto big = dir / "big.txt";
  std::ofstream(big, std::ios::binary).flush();
  std::filesystem::resize_file(big, 45056 * 176 + 65537);  // sparse: no disk taken
  const std::pair<std::filesystem::path, std::string> cases[] = {
      {zero, " is not a regular file."},
      {dir, " is not a regular file."},
      {big, " is larger than the 7995392 bytes a complete table can take."},
  };
  for (const auto& [file, message] : cases) {
    SCOPED_TRACE(file.string());
    OwnedBlocks ob;
    DeflectionTables t;
    Recorder rec;
    EXPECT_THROW(read_deflection_table(file, t, ob.view), toolkit::SevereError);
    ASSERT_EQ(rec.events.size(), 1u);
    EXPECT_EQ(rec.events[0].message.rfind("The deflection table file " + file.string() + message, 0), 0u)
        << rec.events[0].message;
  }
  std::filesystem::remove(big);
}

TEST(DeflectionTableFile, ShortFileIsATerminalErrorNamingTheMissingRecord) {
  const auto file = scratch_dir() / "short.txt";
  write_table(file, smooth_deflection, {true, 174, 100});
  OwnedBlocks ob;
  DeflectionTables t;
  Recorder rec;
  EXPECT_THROW(read_deflection_table(file, t, ob.view), toolkit::SevereError);
  ASSERT_EQ(rec.events.size(), 1u);
  EXPECT_EQ(rec.events[0].type, toolkit::TERMINAL);
  EXPECT_EQ(rec.events[0].message, "The deflection table file " + file.string() +
                                       " ends after 100 of its 45056 records: record 101 is "
                                       "missing. Nothing was rated.");
  // 88 records per depth and 8 per surface modulus: record 101 is (1, 1, 2, 2, 5).
  EXPECT_EQ(ob.depth->IDEPTH, 2);
}

TEST(DeflectionTableFile, EmptyFileIsATerminalErrorNamingRecordOne) {
  const auto file = scratch_dir() / "empty.txt";
  std::ofstream(file, std::ios::binary).flush();
  OwnedBlocks ob;
  DeflectionTables t;
  Recorder rec;
  EXPECT_THROW(read_deflection_table(file, t, ob.view), toolkit::SevereError);
  ASSERT_EQ(rec.events.size(), 1u);
  EXPECT_NE(rec.events[0].message.find("ends after 0 of its 45056 records: record 1 is missing"),
            std::string::npos);
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
  // Field 15 is never read, so garbage there is harmless; field 9 of record 3 is
  // read (and refused before the short file is).
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
