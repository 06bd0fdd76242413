// The F25 field-file reader: every field and quirk of a hand-made file, the
// diagnostics with their lines and columns, files that are not F25 at all,
// and a round trip through a small writer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "io/f25.h"

namespace zalk::io {
namespace {

const std::string kQuirks = std::string(ZALK_TEST_DATA) + "/f25/quirks.f25";

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(F25Reader, ReadsEveryFieldOfTheHandMadeFile) {
  const F25File f = read_f25_file(kQuirks);
  ASSERT_TRUE(f.header_ok);
  EXPECT_EQ(f.program_edition, "1.20");
  EXPECT_EQ(f.header_lines, 40);
  EXPECT_EQ(f.roadway_id, "RD-101");
  EXPECT_EQ(f.subsection_id, "SUB-A");
  EXPECT_EQ(f.plate_radius_mm, 150.0);
  // Slot 9 has an offset but is named NA: absent, like the N0 slots.
  int present = 0;
  for (const F25Sensor& s : f.sensors) present += s.present;
  EXPECT_EQ(present, 8);
  EXPECT_FALSE(f.sensors[8].present);

  ASSERT_EQ(f.drops.size(), 4u);
  const F25Drop& a = f.drops[0];
  EXPECT_EQ(a.line, 45);
  EXPECT_EQ(a.location, 1);
  EXPECT_EQ(a.drop_in_location, 1);
  EXPECT_EQ(a.sequence, 1);
  EXPECT_EQ(a.side, "0");
  EXPECT_EQ(a.station_kind, "m");
  EXPECT_EQ(a.station, 100.0);
  EXPECT_EQ(a.lane, "L1");
  EXPECT_EQ(a.comment, "dry, sunny");  // a comma inside quotes
  EXPECT_EQ(a.year, 2026);
  EXPECT_EQ(a.month, 11);
  EXPECT_EQ(a.day, 2);
  EXPECT_DOUBLE_EQ(a.hour_of_day(), 9.25);
  ASSERT_TRUE(a.gps.has_value());
  EXPECT_EQ(a.gps->utc_seconds_of_week, 345600.0);
  EXPECT_EQ(a.gps->latitude, 45.123456);
  EXPECT_EQ(a.gps->longitude, -93.654321);
  EXPECT_EQ(a.gps->height, 250.5);
  EXPECT_FALSE(a.temperatures.fahrenheit);
  EXPECT_EQ(a.temperatures.asphalt, 12.5);
  EXPECT_DOUBLE_EQ(*a.temperatures.surface_f(), 50.0);  // 10 C
  EXPECT_EQ(a.stress_kpa, 566.0);
  // 566 kPa on a 150-mm plate: 40.01 kN, 8994.5 lb.
  EXPECT_NEAR(a.force_kn(), 566.0 * M_PI * 0.15 * 0.15, 1e-12);
  EXPECT_NEAR(a.force_lb(), a.force_kn() * 1000 / 4.4482216152605, 1e-9);
  EXPECT_EQ(a.offsets_mm, (std::vector<double>{0, 200, 300, 450, 600, 900, 1200, 1500}));
  EXPECT_EQ(a.deflections_um, (std::vector<double>{410, 330, 270, 200, 150, 90, 60, 45}));
  EXPECT_FALSE(a.implausible);

  // The glitch at 300 mm is flagged, kept and listed.
  EXPECT_TRUE(f.drops[2].implausible);
  EXPECT_EQ(f.drops[2].suspect_sensor, 3);
  EXPECT_EQ(f.drops_implausible, 1);

  // Second location: GPS only where given, temperatures in F, the drop after
  // a rejected one keeps its number within the location.
  const F25Drop& b = f.drops[3];
  EXPECT_EQ(b.location, 2);
  EXPECT_EQ(b.drop_in_location, 2);
  EXPECT_EQ(b.lane, "L2");
  EXPECT_FALSE(b.gps.has_value());
  EXPECT_TRUE(b.temperatures.fahrenheit);
  EXPECT_EQ(*b.temperatures.surface_f(), 59.0);
  EXPECT_EQ(b.stress_kpa, 702.5);
  EXPECT_EQ(f.drops_rejected, 2);
}

TEST(F25Reader, DiagnosticsNameLineAndColumn) {
  const F25File f = read_f25_file(kQuirks);
  struct Expected {
    int line, column;
    const char* text;
  };
  const Expected expected[] = {
      {47, 1, "not plausible at the sensor at 300 mm"},
      {55, 14, "deflection of sensor 1 is not a number"},
      {57, 1, "the drop has 3 deflections, the header names 8 sensors"},
  };
  ASSERT_EQ(f.diagnostics.size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(f.diagnostics[i].file, kQuirks);
    EXPECT_EQ(f.diagnostics[i].line, expected[i].line);
    EXPECT_EQ(f.diagnostics[i].column, expected[i].column);
    EXPECT_NE(f.diagnostics[i].message.find(expected[i].text), std::string::npos)
        << f.diagnostics[i].message;
  }
}

// Edits of the good file, each with the diagnostic it must give.
TEST(F25Reader, BadFilesAndLinesGiveOneClearDiagnostic) {
  const std::string good = read_text(kQuirks);
  auto replace_line = [&](int line, const std::string& with) {
    std::string s = good;
    std::size_t at = 0;
    for (int k = 1; k < line; ++k) at = s.find('\n', at) + 1;
    const std::size_t end = s.find('\n', at);
    return s.replace(at, end - at, with);
  };
  struct Case {
    std::string name, text;
    bool header_ok;
    int line;
    const char* message;
  };
  const Case cases[] = {
      {"empty", "", false, 1, "the file is empty"},
      {"not F25", "section,hour,load\nS1,9,9000\n", false, 1, "not an F25 file"},
      {"binary", std::string("\x7f" "ELF\x02\x01\x01\0\0\0", 10), false, 1, "not an F25 file"},
      {"short header", good.substr(0, good.find("5020")), false, 24, "before the 40 lines"},
      {"no 5020", replace_line(25, "5099,  1"), false, 40, "no 5020 line"},
      // Without a count the header ends at the first line that cannot belong to it.
      {"bad count", replace_line(1, "5001,\"1.20\",  abc,    4,    1"), true, 1, "header line count"},
      {"bad radius", replace_line(25, "5020,   N0,    0"), false, 25, "plate radius is not a number"},
      {"garbage line", replace_line(48, "\x01\x02garbage"), true, 48, "does not start with a line id"},
      {"unknown id", replace_line(48, "6123,  1"), true, 48, "line id 6123 is not one"},
      {"bad date", replace_line(42, "5301,    0,\"m\",   100.0,\"L1\",2026,13, 2, 9,15"), true, 42,
       "date or time"},
      {"drop without station", replace_line(42, "7902,\"x\""), true, 45, "without a valid station"},
      {"long line", replace_line(48, "5302," + std::string(100000, 'x')), true, 57, "the drop has 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const F25File f = read_f25(c.text, "t.f25");
    EXPECT_EQ(f.header_ok, c.header_ok);
    if (!c.header_ok) {
      EXPECT_TRUE(f.drops.empty());
    }
    ASSERT_FALSE(f.diagnostics.empty());
    bool found = false;
    for (const F25Diagnostic& d : f.diagnostics)
      found |= d.line == c.line && d.message.find(c.message) != std::string::npos;
    EXPECT_TRUE(found) << f.diagnostics[0].line << ": " << f.diagnostics[0].message;
  }
  // Not a regular file, or none at all: one diagnostic naming it.
  for (const char* path : {"/nonexistent/x.f25", "/dev/zero", "/tmp"}) {
    const F25File f = read_f25_file(path);
    EXPECT_FALSE(f.header_ok);
    ASSERT_EQ(f.diagnostics.size(), 1u);
    EXPECT_EQ(f.diagnostics[0].file, path);
  }
}

TEST(F25Reader, PlausibilityOfBasins) {
  const std::vector<double> x{0, 200, 300, 450, 600, 900, 1500};
  struct Case {
    std::vector<double> d;
    int suspect;
  };
  const Case cases[] = {
      {{410, 330, 270, 200, 150, 90, 45}, 0},     // smooth
      {{80, 78, 77, 75, 73, 70, 62}, 0},           // flat, stiff pavement
      {{410, 330, 2700, 200, 150, 90, 45}, 3},    // ten times its neighbours
      {{410, 330, 270, 200, 15, 90, 45}, 5},      // a tenth
      {{1100, 330, 270, 200, 150, 90, 45}, 1},    // centre far above
      {{410, 330, 270, 200, 150, 90, 0}, 7},      // a zero reading
      {{410, 330, 270, -200, 150, 90, 45}, 4},    // negative
  };
  for (const Case& c : cases) EXPECT_EQ(implausible_sensor(x, c.d), c.suspect);
}

// A small writer of the two shapes the reader documents: the described one
// (quoted edition, count in field 2, 10-field station lines, LF) and the one
// devices write (count in field 3, 15-field station lines with lane number,
// lane code and second, zero-padded stresses, a trailing field, CR LF).
enum class Shape { described, device };

std::string write_f25(const std::vector<F25Drop>& drops, double radius, const std::vector<double>& offsets,
                      Shape shape = Shape::described) {
  const bool device = shape == Shape::device;
  const char* eol = device ? "\r\n" : "\n";
  std::ostringstream o;
  char buf[160];
  o << (device ? "5001,25.60,1,40, 3, 1,\"RT writer       \"" : "5001,\"1.00\",   40,    4,    1") << eol;
  for (int k = 2; k <= 38; ++k) o << "5099,    0" << eol;
  o << "5020," << radius;
  for (int s = 0; s < kF25MaxSensors; ++s) {
    if (s < int(offsets.size())) o << "," << offsets[std::size_t(s)];
    else o << (device ? ",N0    " : ",   N0");
  }
  o << eol << "5032,\"SUB\"" << eol;
  for (const F25Drop& d : drops) {
    if (d.drop_in_location == 1) {
      if (device) {
        std::snprintf(buf, sizeof buf, "5301,0,1,3,3,%8.3f,1,%s,\"%-8s\",%04d,%02d,%02d,%02d,%02d,%02d", d.station,
                      d.lane.c_str(), d.lane_code.c_str(), d.year, d.month, d.day, d.hour, d.minute, d.second);
      } else {
        std::snprintf(buf, sizeof buf, "5301,    0,\"m\",%10.3f,\"%s\",%04d,%02d,%02d,%02d,%02d", d.station,
                      d.lane.c_str(), d.year, d.month, d.day, d.hour, d.minute);
      }
      o << buf << eol << (device ? "5302,0,1,8,0,0,0,1,0,\"            \"" : "5302,\"\"") << eol;
      std::snprintf(buf, sizeof buf, "5303,    %d,%7.1f,%7.1f,%7.1f", d.temperatures.fahrenheit ? 1 : 0,
                    *d.temperatures.asphalt, *d.temperatures.surface, *d.temperatures.air);
      o << buf << eol;
    }
    std::snprintf(buf, sizeof buf, device ? "%4d,%08.1f" : "%4d,%8.1f", d.sequence, d.stress_kpa);
    o << buf;
    for (double v : d.deflections_um) o << "," << v;
    o << (device ? ", 29.750" : "") << eol;
  }
  return o.str();
}

const std::string kLanes[2] = {"R1", "L1"};

TEST(F25Reader, RoundTripThroughTheWriter) {
  const std::vector<double> offsets{0, 203, 305, 457, 610, 914};
  std::mt19937 rng(20261207);
  std::uniform_int_distribution<int> um(0, 20);
  std::vector<F25Drop> drops;
  for (int loc = 1; loc <= 20; ++loc) {
    for (int k = 1; k <= 3; ++k) {
      F25Drop d{};
      d.location = loc;
      d.drop_in_location = k;
      d.sequence = k;
      d.station = 12.5 * loc;
      d.lane = kLanes[loc % 2];
      d.lane_code = "C" + std::to_string(loc % 3);
      d.second = loc % 60;
      d.year = 2026, d.month = 5, d.day = 1 + loc % 28, d.hour = 8 + loc % 10, d.minute = loc;
      d.temperatures.fahrenheit = loc % 3 == 0;
      d.temperatures.asphalt = 20.5, d.temperatures.surface = 18.0 + loc,
      d.temperatures.air = 15.5;
      d.stress_kpa = 500.0 + 100.0 * k + 0.5 * loc;
      // Deflections in proportion to the load, as a real basin's are.
      double v = std::floor((um(rng) + 200) * d.stress_kpa / 700.0);
      for (std::size_t s = 0; s < offsets.size(); ++s) {
        d.deflections_um.push_back(v);
        v = std::floor(v * 0.8);
      }
      drops.push_back(d);
    }
  }
  for (Shape shape : {Shape::described, Shape::device}) {
    SCOPED_TRACE(shape == Shape::device ? "device shape" : "described shape");
    const bool device = shape == Shape::device;
    const F25File f = read_f25(write_f25(drops, 150, offsets, shape), "rt.f25");
    ASSERT_TRUE(f.header_ok);
    EXPECT_TRUE(f.diagnostics.empty()) << f.diagnostics[0].message;
    ASSERT_EQ(f.drops.size(), drops.size());
    for (std::size_t i = 0; i < drops.size(); ++i) {
      const F25Drop &w = drops[i], &r = f.drops[i];
      EXPECT_EQ(r.location, w.location);
      EXPECT_EQ(r.drop_in_location, w.drop_in_location);
      EXPECT_EQ(r.station, w.station);
      EXPECT_EQ(r.lane, w.lane);
      EXPECT_EQ(r.hour_of_day(), w.hour_of_day());
      EXPECT_EQ(r.day, w.day);
      EXPECT_EQ(r.temperatures.surface, w.temperatures.surface);
      EXPECT_EQ(r.temperatures.fahrenheit, w.temperatures.fahrenheit);
      EXPECT_EQ(r.stress_kpa, w.stress_kpa);
      EXPECT_EQ(r.offsets_mm, offsets);
      EXPECT_EQ(r.deflections_um, w.deflections_um);
      EXPECT_EQ(r.lane_code, device ? w.lane_code : "");
      EXPECT_EQ(r.second, device ? w.second : 0);
      EXPECT_EQ(r.extra_fields, device ? std::vector<std::string>{"29.750"} : std::vector<std::string>{});
    }
  }
}

}  // namespace
}  // namespace zalk::io
