// Reading the reference tables of tests/data and building engine problems
// for the tests of the engine group.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "io/deck.h"

namespace zalk::engine::testing {

// Rows of a CSV file after its header, split at commas.
inline std::vector<std::vector<std::string>> read_csv(const std::string& name) {
  std::ifstream in(std::string(ZALK_TEST_DATA) + "/" + name);
  EXPECT_TRUE(in.good()) << "cannot open " << name;
  std::vector<std::vector<std::string>> rows;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::vector<std::string> fields;
    std::stringstream ss(line);
    std::string f;
    while (std::getline(ss, f, ',')) fields.push_back(f);
    rows.push_back(fields);
  }
  return rows;
}

// The per-component tolerances the deck reader sets for the integration.
inline void deck_tolerances(std::array<double, 10>& abstol, std::array<double, 10>& reltol) {
  ProblemSet set;
  DeckRequest request;
  read_deck_text(write_deck_text(request), set);
  abstol = set.abstol;
  reltol = set.reltol;
}

// Largest error of a set of values against their references, relative to
// the reference but never to less than a floor (1e-3 of the largest
// reference magnitude of the quantity), so that values that are zero or
// nearly so are judged against the scale of the quantity. A quantity that
// vanishes at every point is judged by its absolute value.
struct ErrorTally {
  struct Entry {
    std::vector<std::pair<double, double>> pairs;  // (computed, reference)
    std::vector<std::string> where;
  };
  std::map<std::string, Entry> by_quantity;
  std::map<std::string, double> extra_scale;

  // Counts a reference value towards the quantity's scale only.
  void include_scale(const std::string& quantity, double ref) {
    extra_scale[quantity] = std::max(extra_scale[quantity], std::abs(ref));
  }

  void add(const std::string& quantity, const std::string& where, double got, double ref) {
    auto& e = by_quantity[quantity];
    e.pairs.emplace_back(got, ref);
    e.where.push_back(where);
  }

  // Checks every quantity against `limit` and prints the largest error of each.
  void check(double limit, const std::string& title) const {
    double overall = 0.0;
    for (const auto& [quantity, e] : by_quantity) {
      double scale = extra_scale.count(quantity) ? extra_scale.at(quantity) : 0.0;
      for (const auto& [got, ref] : e.pairs) scale = std::max(scale, std::abs(ref));
      const double floor = 1e-3 * scale;
      double worst = 0.0;
      std::string worst_at;
      for (std::size_t i = 0; i < e.pairs.size(); ++i) {
        const auto [got, ref] = e.pairs[i];
        // A quantity that is zero at every point (by symmetry) must come out zero.
        const double denom = std::max(std::abs(ref), floor);
        const double err = denom > 0.0 ? std::abs(got - ref) / denom : std::abs(got - ref);
        EXPECT_LE(err, limit) << title << " " << quantity << " at " << e.where[i] << ": " << got
                              << " vs " << ref;
        if (!(err <= worst)) {
          worst = err;
          worst_at = e.where[i];
        }
      }
      overall = std::max(overall, worst);
      std::printf("  %s %-8s max rel. error %.2e (%s)\n", title.c_str(), quantity.c_str(), worst,
                  worst_at.c_str());
    }
    std::printf("  %s overall max rel. error %.2e\n", title.c_str(), overall);
  }
};

}  // namespace zalk::engine::testing
