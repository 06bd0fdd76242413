// The synthetic basins of tests/data/fit/basins.csv (exact basins of known
// structures from the long-double reference solver) and the deflection
// table the fit starts from.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "rating/defltable.h"
#include "rating/fit.h"

namespace zalk::rating::testing {

struct SyntheticCase {
  std::string name, layout;
  double h1 = 0, h2 = 0, h3 = 0, e1 = 0, e2 = 0, e3 = 0, load = 0;
  std::vector<double> offsets, deflections;  // in

  FitTest test() const {
    FitTest t;
    t.name = name;
    t.h1 = h1;
    t.h2 = h2;
    t.load = load;
    t.offsets = offsets;
    t.deflections = deflections;
    return t;
  }
};

// h3 "inf" in a file: no stiff layer.
inline std::vector<SyntheticCase> load_basins(const char* file = "basins.csv") {
  std::ifstream in(std::filesystem::path(ZALK_TEST_DATA) / "fit" / file);
  std::string line;
  std::getline(in, line);  // header
  std::vector<SyntheticCase> cases;
  while (std::getline(in, line)) {
    std::stringstream row(line);
    std::string name, layout, field;
    std::getline(row, name, ',');
    std::getline(row, layout, ',');
    double v[9];
    for (double& x : v) {
      std::getline(row, field, ',');
      x = std::stod(field);
    }
    if (cases.empty() || cases.back().name != name)
      cases.push_back({name, layout, v[0], v[1], v[2], v[3], v[4], v[5], v[6], {}, {}});
    cases.back().offsets.push_back(v[7]);
    cases.back().deflections.push_back(v[8]);
  }
  return cases;
}

// The project's deflection table, read once per test program.
inline const DeflectionTables& project_table() {
  static const std::unique_ptr<DeflectionTables> tables = [] {
    auto t = std::make_unique<DeflectionTables>();
    OwnedBlocks blocks;
    read_deflection_table(std::filesystem::path(ZALK_SOURCE_DIR) / "data" / "backdefl.txt", *t, blocks.view);
    return t;
  }();
  return *tables;
}

}  // namespace zalk::rating::testing
