// Field files as devices write them: the synthetic files of both F25 shapes
// and of the JILS shape read completely against the list their generator
// wrote independently, the format told by content, and the faults of real
// files each read as far as it can be, with its diagnostic.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "io/fwd.h"

namespace zalk::io {
namespace {

const std::string kFolder = std::string(ZALK_TEST_DATA) + "/fwd/";

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out(1);
  for (char c : s) {
    if (c == sep) out.emplace_back();
    else out.back().push_back(c);
  }
  return out;
}

// The rows of expected.csv (no field there holds a comma or a quote).
std::vector<std::map<std::string, std::string>> expected_rows() {
  std::istringstream in(read_text(kFolder + "expected.csv"));
  std::string line;
  std::getline(in, line);
  const std::vector<std::string> names = split(line, ',');
  std::vector<std::map<std::string, std::string>> rows;
  while (std::getline(in, line)) {
    const std::vector<std::string> v = split(line, ',');
    std::map<std::string, std::string>& row = rows.emplace_back();
    for (std::size_t i = 0; i < names.size() && i < v.size(); ++i) row[names[i]] = v[i];
  }
  return rows;
}

std::string two(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

void expect_drop(const F25File& f, const F25Drop& d, const std::map<std::string, std::string>& e) {
  SCOPED_TRACE(e.at("file") + ":" + e.at("line"));
  EXPECT_EQ(d.line, std::stoi(e.at("line")));
  EXPECT_EQ(d.station, std::stod(e.at("station")));
  EXPECT_EQ(d.lane, e.at("lane"));
  EXPECT_EQ(d.drop_in_location, std::stoi(e.at("drop")));
  if (f.format == FwdFormat::jils) {
    EXPECT_EQ(d.force_lb(), std::stod(e.at("load")) * 1000.0);
  } else {
    EXPECT_EQ(d.stress_kpa, std::stod(e.at("load")));
  }
  EXPECT_EQ(std::to_string(d.year) + "-" + two(d.month) + "-" + two(d.day), e.at("date"));
  EXPECT_EQ(two(d.hour) + ":" + two(d.minute), e.at("time"));
  EXPECT_EQ(d.temperatures.surface, std::stod(e.at("surface")));
  EXPECT_EQ(d.temperatures.air, std::stod(e.at("air")));
  ASSERT_TRUE(d.gps.has_value());
  EXPECT_NEAR(d.gps->latitude, std::stod(e.at("latitude")), 1e-12);
  EXPECT_NEAR(d.gps->longitude, std::stod(e.at("longitude")), 1e-12);
  const double unit = f.format == FwdFormat::jils ? 25.4 : 1.0;  // mils as micrometres
  std::vector<double> want;
  for (const std::string& v : split(e.at("deflections"), ';')) want.push_back(std::stod(v) * unit);
  EXPECT_EQ(d.deflections_um, want);
  EXPECT_EQ(d.implausible, e.at("flagged") == "1");
}

TEST(FieldFiles, SyntheticFilesOfEachShapeReadCompletely) {
  struct Case {
    const char* file;
    FwdFormat format;
    int stations;
    std::vector<double> offsets_mm;
    std::string lane_code;
    std::size_t extra_fields;
    std::map<std::string, std::string> metadata;
    std::vector<int> diagnostic_lines;  // notes and flags it must give, no more
  };
  const Case cases[] = {
      {"device_a.f25", FwdFormat::f25, 6, {0, 200, 300, 450, 600, 900, 1200, 1500, 1800}, "M", 0,
       {{"operator", "OPR A"}, {"roadway", "MW-7"}, {"subsection", "KM 41-42"},
        {"drop_heights", "4, 100, 200, 300, 400"}, {"comment", "synthetic survey"}}, {}},
      {"device_b.f25", FwdFormat::f25, 5, {0, 300, 450, 600, 900, 1200, 1500, 1800, 2100}, "NA", 1,
       {{"operator", "OPR B"}, {"roadway", "RWY 09/27"}, {"date_time", "2014, 07, 07, 08, 30"}},
       {19}},  // the header ends at the first 5280, before its count
      {"survey.dat", FwdFormat::jils, 4, jils_default_offsets_mm(), "", 0,
       {{"device", "M5"}, {"location", "SiteDay1"}, {"operator", "xy"}, {"weight_spring", "3"}}, {18, 24}},  // a dead sensor, an outer one high
  };
  const auto rows = expected_rows();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(detect_fwd_format(read_text(kFolder + c.file)), c.format);
    const F25File f = read_fwd_file(kFolder + c.file);
    ASSERT_TRUE(f.header_ok);
    EXPECT_EQ(f.format, c.format);
    EXPECT_EQ(f.stations, c.stations);
    for (const auto& [name, value] : c.metadata) EXPECT_EQ(f.metadata_value(name), value) << name;
    std::vector<int> lines;
    for (const F25Diagnostic& d : f.diagnostics) lines.push_back(d.line);
    EXPECT_EQ(lines, c.diagnostic_lines) << (f.diagnostics.empty() ? "" : f.diagnostics[0].message);
    std::size_t k = 0, flagged = 0;
    for (const auto& row : rows) {
      if (row.at("file") != c.file) continue;
      ASSERT_LT(k, f.drops.size());
      const F25Drop& d = f.drops[k++];
      expect_drop(f, d, row);
      flagged += d.implausible;
      EXPECT_EQ(d.offsets_mm, c.offsets_mm);
      EXPECT_EQ(d.lane_code, c.lane_code);
      EXPECT_EQ(d.extra_fields.size(), c.extra_fields);
    }
    EXPECT_EQ(k, f.drops.size());
    EXPECT_EQ(f.summary(), std::to_string(k) + " drops read, 0 skipped, " + std::to_string(flagged) + " flagged");
  }
}

// The text of a sample with line `n` (1-based) replaced; an empty `with`
// removes the line.
std::string with_line(std::string text, int n, const std::string& with) {
  std::size_t at = 0;
  for (int k = 1; k < n; ++k) at = text.find('\n', at) + 1;
  const std::size_t end = text.find('\n', at) + 1;
  return text.replace(at, end - at, with.empty() ? "" : with + "\r\n");
}

struct FaultCase {
  std::string name, text;
  JilsOptions jils;
  std::size_t drops;
  std::vector<int> rejected;
  int line, column;  // of the diagnostic it must give (line 0: none)
  const char* message;
  void (*check)(const F25File&) = nullptr;
};

void run_fault_cases(const std::vector<FaultCase>& cases) {
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    const F25File f = read_fwd(c.text, "t", c.jils);
    EXPECT_EQ(f.drops.size(), c.drops);
    EXPECT_EQ(f.rejected_lines, c.rejected);
    EXPECT_EQ(f.drops_rejected, int(c.rejected.size()));
    bool found = c.line == 0 && f.diagnostics.empty();
    for (const F25Diagnostic& d : f.diagnostics)
      found |= d.line == c.line && d.column == c.column && d.message.find(c.message) != std::string::npos;
    EXPECT_TRUE(found) << (f.diagnostics.empty() ? std::string("no diagnostic")
                                                 : std::to_string(f.diagnostics[0].line) + ":" +
                                                       std::to_string(f.diagnostics[0].column) + " " +
                                                       f.diagnostics[0].message);
    if (c.check) c.check(f);
  }
}

// device_a.f25: a 40-line header (5020 on line 6, operator on line 12), then
// six stations of eight lines from line 41 (5280, 5301, 5302, 5303, four drops).
TEST(FieldFiles, F25FaultsAreReadAsFarAsTheyCanBe) {
  const std::string a = read_text(kFolder + "device_a.f25");
  std::string lf = a, many = a;
  for (std::size_t at; (at = lf.find('\r')) != std::string::npos;) lf.erase(at, 1);
  for (int k = 0; k < 1500; ++k) many += "   5,   abc\r\n";
  const std::string offsets = "5020,   150,     0,   200,   300,   450,   600,   900,  1200,  1500,";
  const int ninth = int(offsets.size()) + 1;  // the column of sensor 9's offset
  std::string nineteen = "5020,   150";
  for (int k = 0; k < 19; ++k) nineteen += "," + std::to_string(100 * k);
  const int nineteenth = int(nineteen.rfind(',')) + 2;
  std::vector<int> many_lines;
  for (int k = 0; k < 1500; ++k) many_lines.push_back(89 + k);
  const std::vector<FaultCase> cases = {
      {"byte-order mark", "\xEF\xBB\xBF" + a, {}, 24, {}, 0, 0, ""},
      {"LF line ends", lf, {}, 24, {}, 0, 0, ""},
      {"Latin-1 text", with_line(a, 12, "5030,\"J\xF6rg    \""), {}, 24, {}, 0, 0, "",
       [](const F25File& f) { EXPECT_EQ(f.metadata_value("operator"), "J\xC3\xB6rg"); }},
      {"UTF-8 text", with_line(a, 12, "5030,\"J\xC3\xB6rg\""), {}, 24, {}, 0, 0, "",
       [](const F25File& f) { EXPECT_EQ(f.metadata_value("operator"), "J\xC3\xB6rg"); }},
      {"seconds on the station line", with_line(a, 42, "5301,2,1,4,2,   41000,1,1,\"M       \",2013,06,28,04,33,17"),
       {}, 24, {}, 0, 0, "", [](const F25File& f) { EXPECT_EQ(f.drops[0].second, 17); }},
      {"no header count", with_line(a, 1, "5001,25.12,1,  , 3, 1,\"x\""), {}, 24, {}, 1, 14, "header line count"},
      {"a sensor behind the plate", with_line(a, 6, offsets + "  -305"), {}, 24, {}, 6, ninth, "each reading is kept",
       [](const F25File& f) {
         // Line 45 ends in 9.9 (sensor 9) and begins with 86.1 (sensor 1).
         EXPECT_EQ(f.drops[0].offsets_mm.front(), -305);
         EXPECT_EQ(f.drops[0].deflections_um.front(), 9.9);
         EXPECT_EQ(f.drops[0].sensor_slots.front(), 9);
         EXPECT_EQ(f.drops[0].deflections_um[1], 86.1);
         EXPECT_FALSE(f.drops[0].implausible);
       }},
      {"two sensors at one offset", with_line(a, 6, offsets + "  1500"), {}, 24, {}, 6, ninth, "has the offset of sensor 8",
       [](const F25File& f) { EXPECT_EQ(f.drops[0].offsets_mm.size(), 8u); }},
      // Sensors 10 to 18 are named NA in the header: the drops still read.
      {"19 sensors", with_line(a, 6, nineteen), {}, 24, {}, 6, nineteenth, "beyond the 18"},
      {"fewer deflections than sensors", with_line(a, 46, "   2,   720, 107.9,  85.4,  74.5,  61.8,  51.3,  35.9,  25.0,  17.5"),
       {}, 23, {46}, 46, 1, "the drop has 8 deflections, the header names 9 sensors"},
      {"zero stress", with_line(a, 47, "   3,     0, 104.0,  81.9,  71.7,  58.9,  48.8,  34.4,  24.1,  16.7,  11.7"),
       {}, 23, {47}, 47, 6, "is not positive"},
      {"negative stress", with_line(a, 47, "   3,  -694, 104.0,  81.9,  71.7,  58.9,  48.8,  34.4,  24.1,  16.7,  11.7"),
       {}, 23, {47}, 47, 6, "is not positive"},
      {"a station with no drops", with_line(with_line(with_line(with_line(a, 45, ""), 45, ""), 45, ""), 45, ""), {}, 20,
       {}, 42, 1, "the station has no drops"},
      // Drops straight after the header take its station group as theirs.
      {"drops right after the header", with_line(with_line(with_line(with_line(a, 41, ""), 41, ""), 41, ""), 41, ""),
       {}, 24, {}, 0, 0, "", [](const F25File& f) {
         EXPECT_EQ(f.drops[0].line, 41);
         EXPECT_EQ(f.drops[0].station_line, 34);
         EXPECT_EQ(f.drops[0].minute, 20);
         EXPECT_EQ(f.stations, 6);
       }},
      {"cut in a station", a.substr(0, a.find("\n", a.find("   2,", a.find("5301,2,1,4,2,   41250"))) + 14), {}, 22, {87},
       87, 1, "the file may be cut"},
      {"1500 rejected drops", many, {}, 24, many_lines, 89, 1, "the drop has 0 deflections",
       [](const F25File& f) { EXPECT_EQ(f.diagnostics.size(), 1001u); }},
      {"another format", "section,hour,load\r\nS1,9,9000\r\n", {}, 0, {}, 1, 1, "neither an F25 file"},
      {"binary", std::string("\x7f" "ELF\x02\x01\x01\0\0\0", 10), {}, 0, {}, 1, 1, "neither an F25 file"},
  };
  run_fault_cases(cases);
}

// survey.dat: header lines 1 to 8 (Sensors on 3, Location on 5), then four
// stations of seven lines from line 9 (four drops, completion, GPS, note).
TEST(FieldFiles, JilsFaultsAreReadAsFarAsTheyCanBe) {
  const std::string j = read_text(kFolder + "survey.dat");
  const std::string drop10 = "4 1  50.000 1  8.73  6.90  6.02  5.00  4.15  2.90  2.04  1.44  1.00  0.00  74.2";
  const std::string gps = "GPS: Quality : DGPS Fix   Latitude = 34 deg58.140880  ";
  const std::string west = "   Longitude = 89 deg49.034160   W   PDOP = 0.00";
  const JilsOptions mm{{0, 200, 300, 450, 600, 900, 1200, 1500, 1800}};
  std::vector<int> all_drops;
  for (int s = 0; s < 4; ++s)
    for (int k = 0; k < 4; ++k) all_drops.push_back(9 + 7 * s + k);
  const std::vector<FaultCase> cases = {
      {"eight deflections", with_line(j, 10, "4 1  50.000 1  8.73  6.90  6.02  5.00  4.15  2.90  2.04  1.44  4.76  74.2"),
       {}, 15, {10}, 10, 1, "has 14 fields, 15 expected for 9 sensors"},
      {"a field too many", with_line(j, 10, drop10 + "  1"), {}, 15, {10}, 10, int(drop10.size()) + 3, "has 16 fields"},
      {"zero load", with_line(j, 10, drop10), {}, 15, {10}, 10, int(drop10.rfind("0.00")) + 1, "not a positive number"},
      {"southern latitude, eastern longitude",
       with_line(j, 14, "GPS: Quality : DGPS Fix   Latitude = 34 deg58.140880  S   Longitude = 89 deg49.034160   E"), {}, 16, {},
       18, 1, "not plausible", [](const F25File& f) {
         EXPECT_NEAR(f.drops[0].gps->latitude, -(34 + 58.140880 / 60), 1e-13);
         EXPECT_NEAR(f.drops[0].gps->longitude, 89 + 49.034160 / 60, 1e-13);
         EXPECT_EQ(f.drops[0].gps->fix, "DGPS Fix");
       }},
      {"decimal degrees", with_line(j, 14, "GPS: Quality : DGPS Fix   Latitude = 34.969 N   Longitude = 89.817 W"), {}, 16,
       {}, 18, 1, "not plausible", [](const F25File& f) { EXPECT_EQ(f.drops[3].gps->latitude, 34.969); }},
      {"no hemisphere", with_line(j, 14, gps + west.substr(0, west.find('W'))), {}, 16, {}, 14, 27, "not degrees and minutes",
       [](const F25File& f) { EXPECT_FALSE(f.drops[0].gps.has_value()); }},
      {"minutes past 60", with_line(j, 14, "GPS: Quality : DGPS Fix   Latitude = 34 deg61.0 N" + west), {}, 16, {}, 14, 27,
       "not degrees and minutes"},
      {"GPS before any drop", with_line(j, 8, "Comments:\r\n" + gps + "N" + west), {}, 16, {}, 9, 1, "follows no drop"},
      {"offsets in mm from the caller", j, mm, 16, {}, 18, 1, "not plausible", [](const F25File& f) {
         EXPECT_EQ(f.drops[0].offsets_mm, (std::vector<double>{0, 200, 300, 450, 600, 900, 1200, 1500, 1800}));
       }},
      {"fewer offsets than sensors", j, JilsOptions{{0, 200, 300, 450, 600, 900, 1200}}, 0, all_drops, 3, 1,
       "not one of sensors 1 to 7"},
      {"offsets not increasing", j, JilsOptions{{0, 300, 200}}, 0, {}, 0, 0, "do not increase at sensor 3"},
      {"a bad date", with_line(j, 2, "Date-Time:  13/45/2019  8:35:57"), {}, 16, {}, 2, 1, "not M/D/YYYY",
       [](const F25File& f) { EXPECT_EQ(f.drops[0].year, 0); }},
      {"Latin-1 location", with_line(j, 5, "Location: Sta\xE9"), {}, 16, {}, 18, 1, "not plausible",
       [](const F25File& f) { EXPECT_EQ(f.metadata_value("location"), "Sta\xC3\xA9"); }},
      {"an unknown line", with_line(j, 8, "Comments:\r\nshifted ahead"), {}, 16, {}, 9, 1, "not one this reader uses"},
  };
  run_fault_cases(cases);
}

TEST(FieldFiles, FormatToldByContent) {
  struct Case {
    std::string text;
    FwdFormat format;
  };
  const Case cases[] = {
      {"5001,25.12,1,40, 3, 1,\"x\"\r\n5002,\"y\"", FwdFormat::f25},
      {"\xEF\xBB\xBF" "5001,\"1.00\",   40,    4,    2\n", FwdFormat::f25},
      {"   5001,1\n", FwdFormat::f25},
      {"M5\r\nDate-Time:  5/13/2019  8:35:57\r\n", FwdFormat::jils},
      {"\n\nSensors: 1, 2, 3\n", FwdFormat::jils},
      {"5002,\"y\"\n5001,1\n", FwdFormat::unknown},
      {"section,hour,load\nDate-Time: late\n", FwdFormat::jils},  // keyed lines win over other text
      {std::string(25, '\n') + "Sensors: 1\n", FwdFormat::unknown},
      {"", FwdFormat::unknown},
      {std::string("\0\x01\x02", 3), FwdFormat::unknown},
  };
  for (const Case& c : cases) EXPECT_EQ(detect_fwd_format(c.text), c.format) << c.text;
}

}  // namespace
}  // namespace zalk::io
