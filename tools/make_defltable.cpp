// Computes the deflection table that the load rating reads (backdefl.txt):
// the mode-1 surface deflections of the engine for every structure of the
// table's five grids, at the reference subgrade modulus 10000 and the
// reference load (load value 10940 / 10940 = 1, a pressure of 100).
//
// Usage: make_defltable <output file> [first record] [count]
//   With a first record (1-based) and a count only those records are
//   computed and written (for spot checks); without them all 45,056 are.
//
// One record per structure, in the order the reader expects: surface
// thickness index i slowest, then base thickness k, depth d, surface
// modulus m, base modulus n fastest. Record layout (174 columns), written
// as (3(1X,F6.0),3(1X,F8.0),9(2X,F12.8)):
//   fields 1-3   surface thickness (in), base thickness (in), depth (ft)
//   fields 4-6   surface modulus and base modulus (thousands), subgrade
//                modulus (the reference 10000, in the modulus unit)
//   fields 7-14  deflections of sensors 1..8 (offsets 0, 8, 12, 18, 24, 36,
//                48, 60 from the load centre)
//   field 15     0 (not read by the library)
// The reader uses only the position of a record and fields 7-14.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "engine/driver.h"
#include "engine/quorvan.h"
#include "rating/grids.h"
#include "tools/defltable_records.h"

namespace {

namespace fs = std::filesystem;
using namespace zalk;
using defltable_records::GridPoint;

int usage() {
  std::fprintf(stderr, "usage: make_defltable <output file> [first record] [count]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4) return usage();
  const fs::path out = argv[1];
  int first = 1, count = rating::kTableRecords;
  if (argc == 4) {
    first = std::atoi(argv[2]);
    count = std::atoi(argv[3]);
    if (first < 1 || count < 0 || first - 1 + count > rating::kTableRecords) return usage();
  }

  // A private folder for the engine's deck, so that runs never collide.
  const fs::path work =
      fs::temp_directory_path() / ("make_defltable_" + std::to_string(std::random_device{}()));
  fs::create_directories(work);
  const fs::path deck = work / "input_m.txt";
  const fs::path partial = out.string() + ".partial";

  std::FILE* f = std::fopen(partial.c_str(), "wb");
  if (f == nullptr) {
    std::fprintf(stderr, "make_defltable: cannot write %s\n", partial.c_str());
    return 1;
  }
  auto ws = engine::make_engine_workspace();
  float defl[8] = {};
  for (int r = first - 1; r < first - 1 + count; ++r) {
    const GridPoint g = defltable_records::grid_point(r);
    defltable_records::deflections(*ws, deck, g, defl);
    const std::string line = defltable_records::format_record(g, defl);
    std::fwrite(line.data(), 1, line.size(), f);
    if ((r + 1) % 2048 == 0) std::fprintf(stderr, "%d records\n", r + 1);
  }
  const bool written = std::fclose(f) == 0;
  std::error_code ec;
  fs::remove_all(work, ec);
  if (!written) {
    std::fprintf(stderr, "make_defltable: writing %s failed\n", partial.c_str());
    return 1;
  }
  fs::rename(partial, out);
  return 0;
}
