// The overlay iteration on the closed-form model (see synthetic.h).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "rating/context.h"
#include "legacy/host_rating.h"
#include "unit/rating/synthetic.h"
#include "toolkit/errors.h"

namespace zalk::rating {
namespace {

using legacy::overlay_iteration;

using testing::FakeEngine;
using testing::Host;
using testing::Model;
using testing::OwnBlocks;

class Overlay : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx_.table = testing::process_folder() / "overlay_table.txt";
    if (!std::filesystem::exists(ctx_.table)) testing::write_table(ctx_.table, engine_.model);
    recorder_.model = engine_.model;
    auto inner = engine_.fn();
    ctx_.engine_override = [this, inner](float h1, float h2, float h3, const float* e1, const float* e2,
                                         const float* e3, float q, float* defl, float* resp,
                                         const float* seastab, int ncases, int mode) {
      if (mode == 1 && ncases == 1 && h3 == item_h3_) mode1_h1_.push_back(h1);
      inner(h1, h2, h3, e1, e2, e3, q, defl, resp, seastab, ncases, mode);
    };
  }

  // One item of surface thickness h1 on a 12-in base over a stiff layer at 100 in.
  void one_item(double h1) {
    host_.set_section(1, h1, 12.0);
    host_.set_test(1, 1, engine_.model, std::min(h1, 12.0), 12.0, item_h3_, 700000.0, 40000.0, 10000.0, 11000.0);
    h3_[0] = item_h3_;
    e1_[0] = 700000.0;
    e2_[0] = 40000.0;
    e3_[0] = 10000.0;
  }

  void over(int nsec, double dh) {
    overlay_iteration(ctx_, b_.view, h3_.data(), e1_.data(), e2_.data(), e3_.data(), host_.fwd.data(), host_.sect.data(),
         &nsec, nullptr, &dh, npass_.data(), rpass_.data(), tpass_.data());
  }

  double& rpass(int i, int k) { return rpass_[std::size_t(k - 1) * 20 + std::size_t(i - 1)]; }
  double& tpass(int i, int k) { return tpass_[std::size_t(k - 1) * 20 + std::size_t(i - 1)]; }

  FakeEngine engine_, recorder_;
  RatingContext ctx_;
  OwnBlocks b_;
  Host host_;
  // 100 in is no depth candidate, so the overlay's own engine runs can be told apart.
  float item_h3_ = 100.0f;
  std::vector<float> mode1_h1_;
  std::array<double, 20> h3_{}, e1_{}, e2_{}, e3_{};
  std::array<int, 20> npass_{};
  std::vector<double> rpass_ = std::vector<double>(400, -1.0), tpass_ = std::vector<double>(400, -1.0);
};

TEST_F(Overlay, OneInchPassesFromFourInchesStopAfterTheLimit) {
  one_item(4.0);
  over(1, 1.0);
  EXPECT_EQ(npass_[0], 7);
  for (int k = 1; k <= 8; ++k) EXPECT_EQ(tpass(1, k), 4.0 + k) << "pass " << k;
  for (int k = 1; k <= 7; ++k) EXPECT_GT(rpass(1, k), 0.0) << "pass " << k;
  for (int k = 8; k <= 20; ++k) EXPECT_EQ(rpass(1, k), 0.0) << "pass " << k;
  EXPECT_EQ(host_.sect_at(1, 11), 12.0);
  // Test 1 holds the basin of the last (unrated) pass, 12 in thick.
  for (int s = 1; s <= 6; ++s) {
    const double w = 1000.0 * engine_.model.deflection(s, 12.0, 12.0, 100.0, 700, 40, 10, 11000.0 / 10940.0);
    EXPECT_NEAR(host_.fwd_at(1, 1, 2 + s) / w, 1.0, 1e-6) << "sensor " << s;
  }
}

TEST_F(Overlay, ThicknessesAboveTwelveReachTheHostButNotTheAnalysis) {
  one_item(11.0);
  over(1, 2.0);
  EXPECT_EQ(npass_[0], 4);  // 13, 15, 17, 19 rated; 21 > 11 + 6 + 2 is not
  for (int k = 1; k <= 5; ++k) EXPECT_EQ(tpass(1, k), 11.0 + 2.0 * k);
  EXPECT_EQ(host_.sect_at(1, 11), 21.0);
  ASSERT_EQ(mode1_h1_.size(), 5u);
  for (float h : mode1_h1_) EXPECT_EQ(h, 12.0f);
  // The rating sees the same 12-in structure in every pass.
  for (int k = 2; k <= 4; ++k) EXPECT_EQ(rpass(1, k), rpass(1, 1));
}

TEST_F(Overlay, SmallIncrementsStopAfterTwentyRatedPasses) {
  one_item(4.0);
  over(1, 0.25);
  EXPECT_EQ(npass_[0], 20);
  EXPECT_EQ(tpass(1, 20), 9.0);
  EXPECT_GT(rpass(1, 20), 0.0);
}

TEST_F(Overlay, NoItemsWritesOnlyThePassCounts) {
  one_item(4.0);
  npass_.fill(9);
  const std::vector<double> fwd = host_.fwd, sect = host_.sect;
  over(0, 1.0);
  EXPECT_EQ(npass_, (std::array<int, 20>{}));
  EXPECT_TRUE(std::all_of(rpass_.begin(), rpass_.end(), [](double v) { return v == -1.0; }));
  EXPECT_TRUE(std::all_of(tpass_.begin(), tpass_.end(), [](double v) { return v == -1.0; }));
  EXPECT_EQ(host_.fwd, fwd);
  EXPECT_EQ(host_.sect, sect);
  EXPECT_EQ(engine_.calls, 0);
}

TEST_F(Overlay, ANegativeItemCountRatesNothingAndStopsAfterThreePasses) {
  one_item(4.0);
  npass_.fill(9);
  over(-2, 1.0);
  EXPECT_EQ(npass_, (std::array<int, 20>{}));
  EXPECT_EQ(ctx_.overlay.pass, 3);
  EXPECT_EQ(ctx_.overlay.nflag, 3);
  EXPECT_TRUE(std::all_of(rpass_.begin(), rpass_.end(), [](double v) { return v == -1.0; }));
}

TEST_F(Overlay, InputsTheHostArraysOrTheEngineCannotTakeAreRefused) {
  one_item(4.0);
  const std::vector<double> sect = host_.sect;
  std::vector<toolkit::ErrorEvent> events;
  toolkit::ScopedErrorHandler h([&](const toolkit::ErrorEvent& e) { events.push_back(e); });
  EXPECT_THROW(over(21, 1.0), toolkit::SevereError);
  e2_[0] = 0.0;
  EXPECT_THROW(over(1, 1.0), toolkit::SevereError);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].routine, "OVER");
  EXPECT_NE(events[0].message.find("NSEC = 21"), std::string::npos);
  EXPECT_NE(events[1].message.find("Item 1 has a layer 2 modulus of 0"), std::string::npos);
  EXPECT_EQ(host_.sect, sect);
  EXPECT_EQ(engine_.calls, 0);
  EXPECT_TRUE(std::all_of(tpass_.begin(), tpass_.end(), [](double v) { return v == -1.0; }));
}

}  // namespace
}  // namespace zalk::rating
