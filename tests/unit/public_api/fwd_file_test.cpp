// Field files through the public API: the drops of each format in the
// library's conventions (load in lb, temperatures in F, signed degrees), and
// the sensor-offset lists users write.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "zalk/zalk.hpp"

namespace {

const std::filesystem::path kFwd = std::filesystem::path(ZALK_TEST_DATA) / "fwd";

TEST(PublicFieldFiles, DropsOfEachFormatInTheLibrarysUnits) {
  struct Case {
    const char* file;
    zalk::FieldFormat format;
    std::size_t drops;
    int flagged;
    double first_load_lb, first_asphalt_f, latitude, longitude;
  };
  // First drops: 575 kPa on the 150-mm plate; 743 kPa; 5.89 kips. Asphalt
  // 17.8 C and 21.0 C; none in JILS.
  const double plate_lb = M_PI * 0.15 * 0.15 * 1000 / 4.4482216152605;
  const Case cases[] = {
      {"device_a.f25", zalk::FieldFormat::f25, 24, 0, 575 * plate_lb, 64.04, 52.2097983, 5.3552517},
      {"device_b.f25", zalk::FieldFormat::f25, 20, 0, 743 * plate_lb, 69.8, 51.4733632, 3.6226845},
      {"survey.dat", zalk::FieldFormat::jils, 16, 2, 5890, NAN, 34 + 58.140880 / 60, -(89 + 49.034160 / 60)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const zalk::FieldFile f = zalk::read_field_file(kFwd / c.file);
    ASSERT_TRUE(f.read);
    EXPECT_EQ(f.format, c.format);
    ASSERT_EQ(f.drops.size(), c.drops);
    EXPECT_EQ(f.drops_flagged, c.flagged);
    EXPECT_EQ(f.summary, std::to_string(c.drops) + " drops read, 0 skipped, " + std::to_string(c.flagged) + " flagged");
    const zalk::FieldDrop& d = f.drops[0];
    EXPECT_NEAR(d.load_lb, c.first_load_lb, 1e-9 * c.first_load_lb);
    EXPECT_EQ(d.asphalt_temperature_f.has_value(), !std::isnan(c.first_asphalt_f));
    if (d.asphalt_temperature_f) {
      EXPECT_NEAR(*d.asphalt_temperature_f, c.first_asphalt_f, 1e-12);
    }
    ASSERT_TRUE(d.latitude && d.longitude);
    EXPECT_NEAR(*d.latitude, c.latitude, 1e-12);
    EXPECT_NEAR(*d.longitude, c.longitude, 1e-12);
    EXPECT_EQ(d.offsets_mm.size(), d.deflections_um.size());
  }
  // JILS offsets as the caller gives them; a text of neither format.
  zalk::FieldFileOptions mm;
  mm.sensor_offsets_mm = {0, 200, 300, 450, 600, 900, 1200, 1500, 1800};
  EXPECT_EQ(zalk::read_field_file(kFwd / "survey.dat", mm).drops[0].offsets_mm, mm.sensor_offsets_mm);
  const zalk::FieldFile other = zalk::read_field_text("a,b\n1,2\n", "other.csv");
  EXPECT_FALSE(other.read);
  EXPECT_EQ(other.format, zalk::FieldFormat::unknown);
  ASSERT_EQ(other.diagnostics.size(), 1u);
  EXPECT_EQ(other.diagnostics[0].file, "other.csv");
}

TEST(PublicFieldFiles, SensorOffsetLists) {
  struct Case {
    std::string list;
    std::vector<double> mm;  // empty: refused
    const char* problem;
  };
  const Case cases[] = {
      {"0,8,12,18,24,36,48,60,72in", {0, 203.2, 304.8, 457.2, 609.6, 914.4, 1219.2, 1524, 1828.8}, ""},
      {" 0, 200 ,300mm ", {0, 200, 300}, ""},
      {"-305,0,+200mm", {-305, 0, 200}, ""},
      {"0,8,12", {}, "does not end in its unit"},
      {"in", {}, "does not end in its unit"},
      {"0,,8in", {}, "offset 2 of the list, \"\", is not a number"},
      {"0,8,8in", {}, "offset 3 of the list, 8, is not beyond"},
      {"0,12,8in", {}, "offset 3 of the list, 8, is not beyond"},
      {"0,1e9mm", {}, "beyond 10 m"},
      {"0,nan,8in", {}, "is not a number"},
      {"1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19mm", {}, "19 offsets listed; at most 18"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    std::vector<double> mm;
    std::string problem;
    const bool ok = zalk::parse_sensor_offsets(c.list, mm, problem);
    EXPECT_EQ(ok, !c.mm.empty());
    if (ok) {
      ASSERT_EQ(mm.size(), c.mm.size());
      for (std::size_t k = 0; k < mm.size(); ++k) EXPECT_NEAR(mm[k], c.mm[k], 1e-12);
    } else {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    }
  }
}

}  // namespace

// A basin at any sensors as the design method's six: taken as read within
// 10 mm of them, interpolated (close to a smooth basin) when the sensors
// span 0 to 36 in, refused otherwise.
TEST(PublicFieldFiles, TableBasinsFromAnyLayout) {
  const auto smooth = [](double r) { return 20.0 * std::exp(-r / 15.0); };  // mils
  const auto basin = [&](std::vector<double> offsets) {
    std::vector<double> w;
    for (double r : offsets) w.push_back(smooth(r));
    return zalk::table_basin(offsets, w);
  };
  const zalk::TableBasin near = basin({0, 8.2, 12, 17.9, 24, 36, 48});
  ASSERT_TRUE(near.ok) << near.problem;
  EXPECT_FALSE(near.interpolated);
  EXPECT_EQ(near.deflections_mils[1], smooth(8.2));
  const zalk::TableBasin spread = basin({0, 10, 20, 30, 40, 60});
  ASSERT_TRUE(spread.ok) << spread.problem;
  EXPECT_TRUE(spread.interpolated);
  const double table[] = {0, 8, 12, 18, 24, 36};
  // A cubic between sensors 10 in apart on a basin falling by e every 15 in:
  // within 3 % (a straight line would be 6 % off at 36 in).
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(spread.deflections_mils[k] / smooth(table[k]), 1.0, 0.03) << table[k];
  EXPECT_FALSE(basin({8, 12, 18, 24, 36}).ok);
  EXPECT_FALSE(zalk::table_basin({0, 8, 12}, {3, 2}).ok);
}

// The data folder is named, not assumed: a missing one is an error value,
// never the end of the process.
TEST(PublicFieldFiles, DefaultTablePathIsInTheDataFolder) {
  const char* was = std::getenv("ZALK3071_DIR");
  const std::string saved = was ? was : "";
  const std::filesystem::path folder = std::filesystem::temp_directory_path();
  setenv("ZALK3071_DIR", folder.c_str(), 1);
  std::filesystem::path table;
  EXPECT_TRUE(zalk::default_table_path(table).ok());
  EXPECT_EQ(table, folder / "backdefl.txt");
  setenv("ZALK3071_DIR", (folder / "no such folder here").c_str(), 1);
  const zalk::Status s = zalk::default_table_path(table);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error->errc, zalk::Errc::io_folder_missing) << s.error->text;
  if (was) setenv("ZALK3071_DIR", saved.c_str(), 1);
  else unsetenv("ZALK3071_DIR");
}
