// The load-rating driver on the closed-form model: a table written from the
// model and a stand-in engine that answers from the same model.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <thread>
#include <limits>

#include "rating/context.h"
#include "legacy/host_rating.h"
#include "rating/driver.h"
#include "unit/rating/synthetic.h"
#include "toolkit/errors.h"

namespace zalk::rating {
namespace {

using legacy::rate_sections;

using testing::FakeEngine;
using testing::Host;
using testing::Model;
using testing::OwnBlocks;

class Driver : public ::testing::Test {
 protected:
  void SetUp() override { use_model(Model{}); }

  void use_model(const Model& m) {
    engine_.model = m;
    ctx_.table = testing::process_folder() / (m.depth_matters ? "driver_table.txt" : "driver_table_flat.txt");
    if (!std::filesystem::exists(ctx_.table)) testing::write_table(ctx_.table, m);
    ctx_.engine_override = engine_.fn();
  }

  void rate() { rate_sections(ctx_, b_.view, host_.fwd.data(), host_.result.data(), host_.sect.data(), host_.ntest.data(), &host_.nsec); }

  std::array<double, 6> result(int p, int j) {
    std::array<double, 6> r{};
    for (int k = 1; k <= 6; ++k) r[std::size_t(k - 1)] = host_.result_at(p, j, k);
    return r;
  }

  FakeEngine engine_;
  RatingContext ctx_;
  OwnBlocks b_;
  Host host_;
};

TEST_F(Driver, RecoversTheModuliAndDepthOfTheModel) {
  host_.set_section(1, 5.0, 12.0);
  // Grid moduli and depth, then moduli between grid values.
  host_.set_test(1, 1, engine_.model, 5.0, 12.0, 120.0, 800000.0, 40000.0, 12000.0, 12000.0);
  host_.set_test(1, 2, engine_.model, 5.0, 12.0, 60.0, 700000.0, 35000.0, 8000.0, 9500.0);
  host_.ntest[0] = 2;
  rate();
  // The model's table is exact at grid points; between them the 3 x 3
  // spline surfaces and the discrete search leave errors of a few per cent
  // in the surface and base moduli (the normalised basin trades one against
  // the other) and well under 1 % in the subgrade modulus, which the whole
  // basin's magnitude fixes.
  EXPECT_EQ(host_.result_at(1, 1, 6), 120.0);
  EXPECT_NEAR(host_.result_at(1, 1, 2) / 800000.0, 1.0, 0.03);
  EXPECT_NEAR(host_.result_at(1, 1, 4) / 40000.0, 1.0, 0.03);
  EXPECT_NEAR(host_.result_at(1, 1, 5) / 12000.0, 1.0, 0.005);
  EXPECT_EQ(host_.result_at(1, 2, 6), 60.0);
  EXPECT_NEAR(host_.result_at(1, 2, 2) / 700000.0, 1.0, 0.05);
  EXPECT_NEAR(host_.result_at(1, 2, 4) / 35000.0, 1.0, 0.05);
  EXPECT_NEAR(host_.result_at(1, 2, 5) / 8000.0, 1.0, 0.005);
  EXPECT_EQ(b_.depth->IDEPTH, 5);  // best depth of the last test
  EXPECT_EQ(ctx_.section.h3, 0.0f);
}

// The seasonal rating written out in 8-byte arithmetic from the results.
double reference_allowable(const std::array<double, 6>& r, double hour, double ts, double t1,
                           double h, double reps) {
  const double pi = 3.141596;
  const double ir = (ts - 32) * 5 / 9, t1c = (t1 - 32) * 5 / 9;
  const double a = (hour >= 5 && hour <= 11) ? -1 : std::sin(2 * pi * ((hour < 5 ? hour + 24 : hour) - 15.5) / 18);
  const double b = (hour >= 3 && hour <= 9) ? -1 : std::sin(2 * pi * ((hour < 3 ? hour + 24 : hour) - 13.5) / 18);
  const double td = ((std::log10(h * 25.4 / 3) - 1.25) * (0.621 * t1c - 0.448 * ir + 1.83 * a) + 0.892 * ir + 0.95 +
                     0.042 * ir * b) * 9 / 5 + 32;
  const double e72 = r[1] * std::pow(10.0, (td - 72) * 0.01111111);
  EXPECT_NEAR(r[2] / e72, 1.0, 1e-5);
  const double days[5] = {91, 90, 45, 45, 94}, air[5] = {56, 31, 49, 61, 79};
  const double basef[5] = {1.0, 1.3, 0.7, 0.85, 1.0}, subf[5] = {1.0, 1.5, 0.6, 0.8, 1.0};
  const double z = h / 3;
  double df = 0, dr = 0, mina = 999, minb = 999;
  for (int i = 0; i < 5; ++i) {
    const double spavt = (1 / (z + 4) + 1) * air[i] - 34 / (z + 4) + 6;
    const double e1s = e72 * std::pow(10.0, (72 - spavt) * 0.01111111);
    const auto resp = testing::mode2_response(e1s, r[3] * basef[i], r[4] * subf[i]);
    const double nf = 0.37680003 * std::pow(resp[0], -3.291) * std::pow(e1s, -0.854);
    const double nd = 0.0261 * std::pow(resp[5], -2.35);
    df += reps * days[i] / 365 / nf;
    dr += reps * days[i] / 365 / nd;
    mina = std::min(mina, resp[4]);
    minb = std::min(minb, 11.5 / resp[8] * 10);
  }
  return std::min({std::pow(df, -0.25) * 5.6, std::pow(dr, -0.25) * 5.6, minb, 9 * mina});
}

TEST_F(Driver, SeasonalRatingAgreesWithAnIndependentComputation) {
  host_.set_section(1, 5.0, 12.0);
  const double hours[3] = {8.0, 13.0, 2.5}, temps[3] = {60.0, 95.0, 40.0};
  for (int j = 1; j <= 3; ++j)
    host_.set_test(1, j, engine_.model, 5.0, 12.0, 120.0, 800000.0, 40000.0, 12000.0, 9000.0 + 2000.0 * j,
                   hours[j - 1], temps[j - 1]);
  host_.ntest[0] = 3;
  rate();
  for (int j = 1; j <= 3; ++j) {
    const auto r = result(1, j);
    // 4-byte arithmetic through powers with exponents up to 3.3 leaves a few
    // 1e-6 relative; 1e-4 leaves room without hiding a wrong term (the
    // smallest seasonal term is several per cent of the sums).
    EXPECT_NEAR(r[0] / reference_allowable(r, hours[j - 1], temps[j - 1], 66.0, 5.0, 100000.0), 1.0, 1e-4)
        << "test " << j;
  }
}

TEST_F(Driver, SurfaceThicknessAboveTwelveIsRatedAsTwelve) {
  host_.set_section(1, 12.0, 9.0);
  host_.set_test(1, 1, engine_.model, 12.0, 9.0, 60.0, 900000.0, 30000.0, 10000.0, 11000.0);
  host_.ntest[0] = 1;
  rate();
  const auto at12 = result(1, 1);
  host_.sect_at(1, 11) = 15.0;
  rate();
  EXPECT_EQ(result(1, 1), at12);
}

TEST_F(Driver, ASectionWithoutTestsBuildsItsSurfacesAndRatesNothing) {
  host_.set_section(1, 5.0, 12.0);
  host_.set_test(1, 1, engine_.model, 5.0, 12.0, 120.0, 800000.0, 40000.0, 12000.0, 12000.0);
  std::fill(host_.result.begin(), host_.result.end(), -7.0);
  host_.ntest[0] = 0;
  rate();
  EXPECT_TRUE(std::all_of(host_.result.begin(), host_.result.end(), [](double v) { return v == -7.0; }));
  EXPECT_EQ(b_.com3->NXDATA, 11);  // the modulus surfaces were fitted
  EXPECT_EQ(engine_.calls, 0);
  host_.ntest[0] = -3;  // a negative count is no tests either
  rate();
  EXPECT_EQ(engine_.calls, 0);
}

TEST_F(Driver, EqualFitErrorsChooseTheLowestDepth) {
  Model flat;
  flat.depth_matters = false;  // every depth candidate fits equally
  use_model(flat);
  host_.set_section(1, 5.0, 12.0);
  host_.set_test(1, 1, flat, 5.0, 12.0, 120.0, 800000.0, 40000.0, 12000.0, 12000.0);
  host_.ntest[0] = 1;
  rate();
  EXPECT_EQ(host_.result_at(1, 1, 6), 12.0);
  EXPECT_EQ(b_.depth->IDEPTH, 1);
}

TEST_F(Driver, AllowableLoadIsCappedAt999) {
  engine_.tiny_damage = true;
  host_.set_section(1, 5.0, 12.0);
  host_.set_test(1, 1, engine_.model, 5.0, 12.0, 120.0, 800000.0, 40000.0, 12000.0, 12000.0);
  host_.ntest[0] = 1;
  rate();
  EXPECT_EQ(host_.result_at(1, 1, 1), 999.0);
}

TEST_F(Driver, ASecondCallGivesTheSameResultsAndBlocks) {
  host_.set_section(1, 5.0, 12.0);
  host_.set_section(2, 3.0, 18.0);
  host_.set_test(1, 1, engine_.model, 5.0, 12.0, 120.0, 800000.0, 40000.0, 12000.0, 12000.0);
  host_.set_test(2, 1, engine_.model, 3.0, 18.0, 48.0, 400000.0, 60000.0, 9000.0, 10000.0);
  host_.set_test(2, 2, engine_.model, 3.0, 18.0, 48.0, 450000.0, 55000.0, 9500.0, 14000.0);
  host_.ntest = {1, 2};
  host_.nsec = 2;
  rate();
  const std::vector<double> first = host_.result;
  OwnBlocks copy;
  std::memcpy(copy.code.get(), b_.code.get(), sizeof(zalk_code_block));
  std::memcpy(copy.dd.get(), b_.dd.get(), sizeof(zalk_dd_block));
  std::memcpy(copy.com1.get(), b_.com1.get(), sizeof(zalk_com1_block));
  std::memcpy(copy.com2.get(), b_.com2.get(), sizeof(zalk_com2_block));
  std::memcpy(copy.com3.get(), b_.com3.get(), sizeof(zalk_com3_block));
  std::memcpy(copy.depth.get(), b_.depth.get(), sizeof(zalk_depth_block));
  std::memcpy(copy.dam.get(), b_.dam.get(), sizeof(zalk_dam_block));
  rate();
  EXPECT_EQ(std::memcmp(first.data(), host_.result.data(), first.size() * sizeof(double)), 0);
  EXPECT_EQ(std::memcmp(copy.code.get(), b_.code.get(), sizeof(zalk_code_block)), 0);
  EXPECT_EQ(std::memcmp(copy.dd.get(), b_.dd.get(), sizeof(zalk_dd_block)), 0);
  EXPECT_EQ(std::memcmp(copy.com1.get(), b_.com1.get(), sizeof(zalk_com1_block)), 0);
  EXPECT_EQ(std::memcmp(copy.com2.get(), b_.com2.get(), sizeof(zalk_com2_block)), 0);
  EXPECT_EQ(std::memcmp(copy.com3.get(), b_.com3.get(), sizeof(zalk_com3_block)), 0);
  EXPECT_EQ(std::memcmp(copy.depth.get(), b_.depth.get(), sizeof(zalk_depth_block)), 0);
  EXPECT_EQ(std::memcmp(copy.dam.get(), b_.dam.get(), sizeof(zalk_dam_block)), 0);
  // The blocks tell what the last section and test left.
  EXPECT_EQ(b_.com3->KXORD, 3);
  EXPECT_EQ(b_.com3->NX, 1);
  EXPECT_EQ(b_.com3->NXCOEF, 11);
  EXPECT_EQ(b_.com3->NYCOEF, 8);
  EXPECT_EQ(b_.dam->SDAYS[0], 91.0f);
  EXPECT_FLOAT_EQ(b_.dd->DMEAS[0], float(host_.fwd_at(2, 2, 3) / 1000.0));
}

TEST_F(Driver, AWeightAHostSetsOnSensorSevenTakesPart) {
  host_.set_section(1, 5.0, 12.0);
  host_.set_test(1, 1, engine_.model, 5.0, 12.0, 120.0, 800000.0, 40000.0, 12000.0, 12000.0);
  host_.ntest[0] = 1;
  for (float& w : b_.com3->WEIGHT) w = -5.0f;  // the driver sets 1..6 itself
  b_.com3->WEIGHT[6] = 0.0f;
  b_.com3->WEIGHT[7] = 0.0f;
  b_.com3->WEIGHT[8] = 0.0f;
  rate();
  const auto plain = result(1, 1);
  EXPECT_EQ(b_.com3->WEIGHT[0], 1.0f);
  EXPECT_EQ(b_.com3->WEIGHT[5], 1.0f);

  b_.com3->WEIGHT[8] = 1.0f;  // element 9 is never read
  rate();
  EXPECT_EQ(result(1, 1), plain);

  // Sensor 7 with its model deflection: the search still finds the model.
  b_.com3->WEIGHT[6] = 1.0f;
  b_.dd->DMEAS[6] = float(engine_.model.deflection(7, 5.0, 12.0, 120.0, 800, 40, 12, 12000.0 / 10940.0));
  rate();
  EXPECT_EQ(b_.com3->WEIGHT[6], 1.0f);  // never written by the driver
  const auto with7 = result(1, 1);
  EXPECT_NEAR(with7[1] / 800000.0, 1.0, 0.01);
  EXPECT_NEAR(with7[4] / 12000.0, 1.0, 0.01);
  // A zero deflection at sensor 7 (the driver never sets it) enters the
  // objective and pulls the optimum away from the model.
  b_.dd->DMEAS[6] = 0.0f;
  rate();
  const auto zero7 = result(1, 1);
  EXPECT_GT(std::abs(zero7[1] / 800000.0 - 1.0), 0.05) << zero7[1];
}

TEST_F(Driver, NoSectionCountStillRatesSectionOne) {
  host_.set_section(1, 5.0, 12.0);
  host_.set_test(1, 1, engine_.model, 5.0, 12.0, 120.0, 800000.0, 40000.0, 12000.0, 12000.0);
  host_.ntest[0] = 1;
  host_.nsec = 0;
  rate();
  EXPECT_EQ(host_.result_at(1, 1, 6), 120.0);
}

TEST_F(Driver, AZeroFirstDeflectionShowsInItsOwnResultsOnly) {
  host_.set_section(1, 5.0, 12.0);
  for (int j = 1; j <= 3; ++j)
    host_.set_test(1, j, engine_.model, 5.0, 12.0, 120.0, 800000.0, 40000.0, 12000.0, 12000.0);
  host_.fwd_at(1, 2, 3) = 0.0;
  host_.ntest[0] = 3;
  rate();
  const auto bad = result(1, 2);
  for (int k = 0; k < 5; ++k) EXPECT_TRUE(std::isnan(bad[std::size_t(k)])) << "result " << k + 1;
  EXPECT_EQ(bad[5], 12.0);  // no depth fitted: the first candidate stands
  EXPECT_EQ(result(1, 1), result(1, 3));
  EXPECT_TRUE(std::isfinite(result(1, 3)[0]));
}

// Basins no pavement gives: the moduli are reported as back-calculated, but
// the test gets no allowable load and a warning naming section and test.
TEST_F(Driver, MeaninglessModuliGiveNoAllowableLoadAndAWarning) {
  struct Case {
    const char* what;
    double scale;  // of the model's deflections
  };
  for (const Case& c : {Case{"negative deflections", -1.0}, Case{"vanishing deflections", 1e-40},
                        Case{"deflections of 1e-30 in", 1e-28},
                        Case{"zero deflections", 0.0}}) {
    SCOPED_TRACE(c.what);
    host_.set_section(1, 5.0, 12.0);
    for (int j = 1; j <= 2; ++j)
      host_.set_test(1, j, engine_.model, 5.0, 12.0, 120.0, 800000.0, 40000.0, 12000.0, 12000.0);
    for (int s = 1; s <= 6; ++s) host_.fwd_at(1, 2, 2 + s) *= c.scale;
    host_.ntest[0] = 2;
    std::vector<toolkit::ErrorEvent> events;
    toolkit::ScopedErrorHandler h([&](const toolkit::ErrorEvent& e) { events.push_back(e); });
    rate();
    EXPECT_TRUE(std::isfinite(result(1, 1)[0]));
    const auto bad = result(1, 2);
    EXPECT_TRUE(std::isnan(bad[0]));
    const bool moduli_reported = c.scale < 0 ? bad[1] < 0 && bad[3] < 0 && bad[4] < 0 : true;
    EXPECT_TRUE(moduli_reported) << bad[1] << " " << bad[3] << " " << bad[4];
    std::vector<toolkit::ErrorEvent> warnings;
    for (const auto& e : events)
      if (e.type == toolkit::WARNING && e.routine == "ZALK3071DLL") warnings.push_back(e);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].code, 3);
    EXPECT_EQ(warnings[0].message.rfind("Section 1, test 2: the back-calculated moduli E1 = ", 0), 0u)
        << warnings[0].message;
  }
}

TEST_F(Driver, AShortTableRatesNothing) {
  // The first 100 records only (161 bytes each as written here).
  const std::filesystem::path full = ctx_.table;
  ctx_.table = testing::process_folder() / "driver_table_short.txt";
  std::filesystem::copy_file(full, ctx_.table, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::resize_file(ctx_.table, 161 * 100);
  host_.set_section(1, 5.0, 12.0);
  host_.set_test(1, 1, engine_.model, 5.0, 12.0, 120.0, 800000.0, 40000.0, 12000.0, 12000.0);
  host_.ntest[0] = 1;
  std::fill(host_.result.begin(), host_.result.end(), -7.0);
  for (int nsec : {0, 1}) {
    host_.nsec = nsec;
    std::vector<toolkit::ErrorEvent> events;
    toolkit::ScopedErrorHandler h([&](const toolkit::ErrorEvent& e) { events.push_back(e); });
    EXPECT_THROW(rate(), toolkit::SevereError);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, toolkit::TERMINAL);
    EXPECT_NE(events[0].message.find("ends after 100 of its 45056 records"), std::string::npos);
  }
  EXPECT_TRUE(std::all_of(host_.result.begin(), host_.result.end(), [](double v) { return v == -7.0; }));
  EXPECT_EQ(engine_.calls, 0);
}

// The table file is parsed again whenever it may have changed, and only
// then: a file whose times are too recent to tell a later change from this
// one is never trusted.
TEST_F(Driver, TheTableFileIsReadAgainExactlyWhenItMayHaveChanged) {
  namespace fs = std::filesystem;
  const fs::path file = testing::process_folder() / "driver_table_cache.txt";
  fs::copy_file(ctx_.table, file, fs::copy_options::overwrite_existing);
  ctx_.table = file;
  host_.set_section(1, 5.0, 12.0);
  host_.set_test(1, 1, engine_.model, 5.0, 12.0, 120.0, 800000.0, 40000.0, 12000.0, 12000.0);
  host_.ntest[0] = 1;
  // The last digit of record 1's first deflection, changed in place.
  const auto flip_digit = [&] {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(61);
    const char c = char(f.get());
    f.seekp(61);
    f.put(c == '9' ? '0' : char(c + 1));
  };
  const auto first_deflection = [&] {
    std::ifstream f(file, std::ios::binary);
    std::string rec;
    std::getline(f, rec);
    return std::stof(rec.substr(50, 12));
  };
  struct Step {
    const char* what;
    std::function<void()> change;
    bool settle, read_again;
  };
  const Step steps[] = {
      {"first call", [] {}, true, true},
      {"unchanged", [] {}, true, false},
      {"rewritten in place, same size", flip_digit, true, true},
      {"touched", [&] { fs::last_write_time(file, fs::file_time_type::clock::now()); }, true, true},
      {"replaced by a copy", [&] {
         fs::copy_file(file, file.string() + ".new", fs::copy_options::overwrite_existing);
         fs::rename(file.string() + ".new", file);
       }, true, true},
      {"rewritten, rated at once", flip_digit, false, true},
      {"rewritten again at once", flip_digit, false, true},
      {"unchanged after settling", [] {}, true, true},
      {"unchanged, settled", [] {}, true, false},
  };
  for (const Step& step : steps) {
    step.change();
    if (step.settle) std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const int reads = ctx_.table_cache.reads;
    rate();
    EXPECT_EQ(ctx_.table_cache.reads - reads, step.read_again ? 1 : 0) << step.what;
    EXPECT_EQ(ctx_.table_cache.tables.dtab[0], first_deflection()) << step.what;
  }
}

std::vector<toolkit::ErrorEvent> refused_call(Driver& d, const std::function<void()>& call) {
  std::vector<toolkit::ErrorEvent> events;
  toolkit::ScopedErrorHandler h([&](const toolkit::ErrorEvent& e) { events.push_back(e); });
  EXPECT_THROW(call(), toolkit::SevereError);
  (void)d;
  return events;
}

TEST_F(Driver, CountsBeyondTheHostArraysAreRefusedBeforeAnythingIsWritten) {
  host_.set_section(1, 5.0, 12.0);
  host_.set_test(1, 1, engine_.model, 5.0, 12.0, 120.0, 800000.0, 40000.0, 12000.0, 12000.0);
  std::fill(host_.result.begin(), host_.result.end(), -7.0);
  auto untouched = [&] {
    EXPECT_TRUE(std::all_of(host_.result.begin(), host_.result.end(), [](double v) { return v == -7.0; }));
    EXPECT_EQ(b_.com3->WEIGHT[0], 0.0f);
    EXPECT_EQ(b_.com3->KXORD, 0);
    EXPECT_EQ(engine_.calls, 0);
  };
  host_.nsec = 21;
  host_.ntest[0] = 1;
  auto events = refused_call(*this, [&] { rate(); });
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, toolkit::TERMINAL);
  EXPECT_EQ(events[0].routine, "ZALK3071DLL");
  EXPECT_NE(events[0].message.find("NSEC = 21"), std::string::npos);
  untouched();

  host_.nsec = 2;
  host_.ntest = {1, 2001};
  events = refused_call(*this, [&] { rate(); });
  ASSERT_EQ(events.size(), 1u);
  EXPECT_NE(events[0].message.find("Section 2 has NTEST = 2001"), std::string::npos);
  untouched();

  host_.nsec = 0;  // section 1 is rated all the same, so its count is checked
  host_.ntest = {2001, 0};
  events = refused_call(*this, [&] { rate(); });
  ASSERT_EQ(events.size(), 1u);
  untouched();
}

TEST_F(Driver, TooManySectionsEndTheProcessWithAMessageByDefault) {
  host_.nsec = 25;
  EXPECT_EXIT(
      {
        dup2(2, 1);
        rate();
      },
      ::testing::ExitedWithCode(5),
      " \\*\\*\\* TERMINAL ERROR 1 from ZALK3071DLL\\.  The number of sections NSEC = 25\n"
      " \\*\\*\\*          exceeds the 20 rows of the host's arrays\\. Nothing was rated\\.\n"
      "Stop - Program terminated\\.");
}

}  // namespace
}  // namespace zalk::rating
