// Records the outputs that tests/recorded compares bit for bit, computed with
// every fast path off (the plain algorithms): engine responses, sampled
// records of the deflection table, and the sample's rating and overlay
// iteration through the legacy core (tools/recorded_sets.h).
//
// Usage: record_outputs <source folder>
//   Reads <source>/data (the shipped table and the sample) and writes the
//   files of <source>/tests/data/recorded/. Run it only when a legacy result
//   is meant to change.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

#include "tools/recorded_sets.h"

namespace {

namespace fs = std::filesystem;
using recorded::Paths;

bool write(const fs::path& file, const recorded::Recording& r) {
  const std::string text = recorded::format(r);
  const fs::path partial = file.string() + ".partial";
  {
    std::ofstream out(partial, std::ios::binary);
    out << text;
    if (!out.flush()) return false;
  }
  fs::rename(partial, file);
  std::printf("%s: %zu rows, %zu bytes\n", file.string().c_str(), r.rows.size(), text.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: record_outputs <source folder>\n");
    return 2;
  }
  const fs::path source = argv[1];
  const fs::path out = source / "tests" / "data" / "recorded";
  if (!fs::exists(source / "data" / "backdefl.txt")) {
    std::fprintf(stderr, "record_outputs: %s holds no data/backdefl.txt\n", source.string().c_str());
    return 2;
  }
  fs::create_directories(out);
  // A private folder for the engine's deck, so that runs never collide.
  const fs::path work = fs::temp_directory_path() / ("record_outputs_" + std::to_string(std::random_device{}()));
  fs::create_directories(work);

  const bool written = write(out / recorded::kEngineFile, recorded::engine_outputs(Paths::plain)) &&
                       write(out / recorded::kTableFile, recorded::table_records(Paths::plain, work / "deck.txt")) &&
                       write(out / recorded::kRatingFile, recorded::sample_rating(Paths::plain, source)) &&
                       write(out / recorded::kOverlayFile, recorded::sample_overlay(Paths::plain, source));
  std::error_code ec;
  fs::remove_all(work, ec);
  if (!written) {
    std::fprintf(stderr, "record_outputs: writing under %s failed\n", out.string().c_str());
    return 1;
  }
  return 0;
}
