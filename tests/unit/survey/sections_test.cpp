// Homogeneous units by cumulative differences, the per-unit statistics and
// the basin indices' spline, against values worked out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "rating/survey.h"

namespace zalk::rating::survey {
namespace {

struct Span {
  double from, to;
};

std::vector<Span> spans(const Segmentation& s) {
  std::vector<Span> out;
  for (const Unit& u : s.units) out.push_back({u.station_from, u.station_to});
  return out;
}

void expect_spans(const Segmentation& s, const std::vector<Span>& want, const std::string& what) {
  const std::vector<Span> got = spans(s);
  ASSERT_EQ(got.size(), want.size()) << what;
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].from, want[i].from) << what << ", unit " << i;
    EXPECT_EQ(got[i].to, want[i].to) << what << ", unit " << i;
  }
}

std::vector<double> stations_every(double step, std::size_t n) {
  std::vector<double> x(n);
  for (std::size_t i = 0; i < n; ++i) x[i] = step * double(i);
  return x;
}

TEST(CumulativeDifferences, WidthsAndZWorkedByHand) {
  // Widths 5, 10, 15, 10 (total 40); A = 5, 35, 65, 105; A-bar = 2.625;
  // right ends 5, 15, 30, 40 from the first station.
  const std::vector<double> x{0, 10, 20, 40}, v{1, 3, 2, 4};
  const Segmentation s = segment(x, v, 0);
  const double width[] = {5, 10, 15, 10}, z[] = {-8.125, -4.375, -13.75, 0};
  ASSERT_EQ(s.stations.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(s.stations[i].width, width[i]) << i;
    EXPECT_DOUBLE_EQ(s.stations[i].z, z[i]) << i;
  }
  // Z rises then falls at 10 and falls then rises at 20: units end there.
  expect_spans(s, {{0, 10}, {20, 20}, {40, 40}}, "no minimum");
  EXPECT_DOUBLE_EQ(s.units[0].mean, 35.0 / 15.0);
  EXPECT_EQ(s.units[1].length, 15);
}

TEST(CumulativeDifferences, ShortUnitsMergeByTheTieRules) {
  // Eleven stations 10 apart (widths 5, 10 x 9, 5). A unit ends wherever
  // the value crosses the survey's mean, so the units before merging are
  // the runs above and below it: 0-20, 30, 40-70, 80, 90-100 (lengths 25,
  // 10, 40, 10, 15).
  const std::vector<double> x = stations_every(10, 11);
  struct Row {
    const char* what;
    std::vector<double> values;
    double min_length;
    std::vector<Span> units;
  };
  const std::vector<double> even{20, 20, 20, 0, 20, 20, 20, 20, 0, 20, 20};
  const std::vector<double> uneven{30, 30, 30, 0, 20, 20, 20, 20, 0, 20, 20};
  const Row rows[] = {
      {"none shorter", even, 10, {{0, 20}, {30, 30}, {40, 70}, {80, 80}, {90, 100}}},
      // Two shortest of 10: the first goes first; both neighbours equally
      // far in mean: into the preceding. Then 80 likewise into 40-70.
      {"ties", even, 12, {{0, 30}, {40, 80}, {90, 100}}},
      // 90-100 (15) is then short too; at the end it has one neighbour.
      {"end unit", even, 20, {{0, 30}, {40, 100}}},
      // 30 (mean 0) is closer to 40-70 (20) than to 0-20 (30); then 80
      // (0) is closer to 30-70 (mean 16) than to 90-100 (20).
      {"closer mean", uneven, 12, {{0, 20}, {30, 80}, {90, 100}}},
  };
  for (const Row& r : rows) {
    const Segmentation s = segment(x, r.values, r.min_length);
    expect_spans(s, r.units, r.what);
    EXPECT_TRUE(s.problems.empty()) << r.what;
  }
}

// A deterministic noise in [-1, 1).
struct Noise {
  std::uint64_t state = 88172645463325252ull;
  double operator()() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return double(state >> 11) / double(1ull << 52) - 1.0;
  }
};

TEST(CumulativeDifferences, ThreeKnownUnitsAndAShortStretchMerged) {
  // Stations 1 apart, two drops each. Units of mean 10, 20 and 13, then 30
  // stations of mean 30: shorter than the minimum of 100. The noise (up to
  // 2.5) takes the third unit across the survey's mean (about 14.4) now and
  // then, cutting it into short pieces that must merge back.
  struct Stretch {
    std::size_t stations;
    double mean;
  };
  const Stretch stretches[] = {{400, 10}, {300, 20}, {300, 13}, {30, 30}};
  std::vector<double> x, v;
  Noise noise;
  double station = 0;
  for (const Stretch& s : stretches)
    for (std::size_t i = 0; i < s.stations; ++i, station += 1)
      for (int drop = 0; drop < 2; ++drop) {
        x.push_back(station);
        v.push_back(s.mean + 2.5 * noise());
      }
  const std::vector<Span> want{{0, 399}, {400, 699}, {700, 1029}};
  const Segmentation before = segment(x, v, 0);
  EXPECT_GT(before.units.size(), 6u) << "the noise should cut the third unit";
  const Segmentation s = segment(x, v, 100);
  expect_spans(s, want, "minimum 100");
  EXPECT_TRUE(s.problems.empty());
  const std::size_t drops[] = {800, 600, 660};
  const double means[] = {10, 20, (300 * 13 + 30 * 30) / 330.0};
  const std::vector<Statistics> stats = unit_statistics(s, v);
  for (std::size_t u = 0; u < 3; ++u) {
    EXPECT_EQ(s.units[u].drops, drops[u]) << u;
    EXPECT_EQ(stats[u].n, drops[u]) << u;
    EXPECT_NEAR(stats[u].mean, means[u], 0.2) << u;
    EXPECT_NEAR(s.units[u].mean, means[u], 0.2) << u;
  }
  // The noise is uniform: its sd is 2.5 / sqrt(3).
  EXPECT_NEAR(stats[0].sd, 2.5 / std::sqrt(3.0), 0.1);
}

TEST(CumulativeDifferences, BadStationsAndValuesAreReportedAndLeftOut) {
  const double nan = kNaN;
  struct Row {
    const char* what;
    std::vector<double> x, v;
    double min_length;
    std::vector<SectionIssue> issues;
    std::vector<std::size_t> problem_drops;
    std::vector<int> drop_unit;
    const char* text;  // in the first problem's message
  };
  const Row rows[] = {
      {"decreasing", {0, 10, 5, 10, 20, 30}, {1, 1, 9, 1, 5, 5}, 0,
       {SectionIssue::kStationDecreasing}, {2}, {0, 0, -1, 0, 1, 1}, "station 5 is lower than the station before it (10)"},
      {"not a number", {0, nan, 10, 20, 30}, {1, 1, 1, 5, 5}, 0,
       {SectionIssue::kStationNotFinite}, {1}, {0, -1, 0, 1, 1}, "not a number"},
      {"no value", {0, 0, 10, 20, 20, 30}, {1, nan, 1, nan, nan, 5}, 0,
       {SectionIssue::kValueNotFinite, SectionIssue::kValueNotFinite, SectionIssue::kValueNotFinite,
        SectionIssue::kStationWithoutValue},
       {1, 3, 4, 3}, {0, 0, 0, -1, -1, 1}, "station 0 has no value"},
      {"minimum beyond the survey", {0, 10, 20}, {1, 5, 1}, 25.5,
       {SectionIssue::kMinLengthBeyondSurvey}, {kWholeSurvey}, {0, 0, 0},
       "minimum length 25.5 is longer than the survey (20)"},
      {"one station", {7, 7}, {1, 2}, 0, {SectionIssue::kTooFewStations}, {kWholeSurvey}, {0, 0},
       "fewer than two stations"},
      {"nothing", {}, {}, 0, {SectionIssue::kTooFewStations}, {kWholeSurvey}, {}, "fewer than two"},
      {"counts differ", {0, 10, 20}, {1, 5}, 0, {SectionIssue::kCountsDiffer}, {kWholeSurvey}, {0, 0},
       "3 stations but 2 values"},
  };
  for (const Row& r : rows) {
    const Segmentation s = segment(r.x, r.v, r.min_length);
    ASSERT_EQ(s.problems.size(), r.issues.size()) << r.what;
    for (std::size_t i = 0; i < r.issues.size(); ++i) {
      EXPECT_EQ(s.problems[i].issue, r.issues[i]) << r.what << " " << i;
      EXPECT_EQ(s.problems[i].drop, r.problem_drops[i]) << r.what << " " << i;
    }
    EXPECT_EQ(s.drop_unit, r.drop_unit) << r.what;
    std::size_t counted = 0;
    for (const Unit& u : s.units) counted += u.drops;
    EXPECT_EQ(counted, r.drop_unit.size() - std::size_t(std::count(r.drop_unit.begin(), r.drop_unit.end(), -1)))
        << r.what;
    const SectionProblem& p = s.problems.front();
    EXPECT_NE(section_issue_text(p.issue, p.value, p.previous).find(r.text), std::string::npos)
        << r.what << ": " << section_issue_text(p.issue, p.value, p.previous);
  }
}

TEST(CumulativeDifferences, AStationsValueIsTheMeanOfItsDrops) {
  const std::vector<double> x{0, 0, 0, 10, 20, 20}, v{1, 2, 6, 4, 5, 8};
  const Segmentation s = segment(x, v, 0);
  ASSERT_EQ(s.stations.size(), 3u);
  EXPECT_EQ(s.stations[0].value, 3);
  EXPECT_EQ(s.stations[2].value, 6.5);
  EXPECT_EQ(s.stations[0].last_drop, 2u);
}

TEST(Describe, MomentsAndLinearPercentiles) {
  struct Row {
    std::vector<double> values;
    std::size_t n;
    double mean, sd, p15, p85;
  };
  const double nan = kNaN;
  // 1..10: sd = sqrt(82.5 / 9); positions 1 + 9 p: 2.35 and 9.65 -> 2.35, 8.65.
  const Row rows[] = {
      {{10, 9, 8, 7, 6, 5, 4, 3, 2, 1}, 10, 5.5, std::sqrt(82.5 / 9), 2.35, 8.65},
      {{4, nan, 2}, 2, 3, std::sqrt(2.0), 2.3, 3.7},
      {{7}, 1, 7, nan, 7, 7},
  };
  for (const Row& r : rows) {
    const Statistics s = describe(r.values);
    EXPECT_EQ(s.n, r.n);
    EXPECT_DOUBLE_EQ(s.mean, r.mean);
    if (std::isnan(r.sd)) {
      EXPECT_TRUE(std::isnan(s.sd) && std::isnan(s.cv));
    } else {
      EXPECT_DOUBLE_EQ(s.sd, r.sd);
      EXPECT_DOUBLE_EQ(s.cv, r.sd / r.mean);
    }
    EXPECT_DOUBLE_EQ(s.p15, r.p15);
    EXPECT_DOUBLE_EQ(s.p85, r.p85);
  }
  EXPECT_EQ(describe({}).n, 0u);
}

TEST(BasinIndices, OffsetsWithoutASensorComeFromTheSpline) {
  // A straight basin: the shape-preserving spline gives the straight line.
  const std::vector<double> r{0, 6, 18, 30, 42};
  std::vector<double> d;
  for (double x : r) d.push_back(40 - 0.5 * x);
  const Indices ix = basin_indices({r, d, 9000}, 4500);
  EXPECT_EQ(ix.flags, unsigned(kInterpolated));
  EXPECT_NEAR(ix.sci_mils, 6, 1e-12);
  EXPECT_NEAR(ix.bdi_mils, 6, 1e-12);
  EXPECT_NEAR(ix.bci_mils, 6, 1e-12);
  EXPECT_NEAR(ix.area_in, 6 * (1 + 2 * 34 / 40.0 + 2 * 28 / 40.0 + 22 / 40.0), 1e-12);
  EXPECT_NEAR(ix.sci_norm, 3, 1e-12);
  EXPECT_EQ(ix.area_norm, ix.area_in);
}

TEST(BasinIndices, EveryFlagHasItsOwnNameAndText) {
  std::set<std::string> names, texts;
  for (unsigned bit = 0; bit < kDropFlagCount; ++bit) {
    names.insert(flag_name(DropFlag(1u << bit)));
    texts.insert(flag_text(DropFlag(1u << bit)));
  }
  EXPECT_EQ(names.size(), kDropFlagCount);
  EXPECT_EQ(texts.size(), kDropFlagCount);
  EXPECT_EQ(names.count("unknown"), 0u);
  EXPECT_EQ(flag_names(kInterpolated | kMrSensorTooClose), "interpolated|mr_sensor_too_close");
}

}  // namespace
}  // namespace zalk::rating::survey
