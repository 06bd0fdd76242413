// Library outputs kept bit for bit in tests/data/recorded/: engine responses
// of varied layered structures, records of the deflection table, and the
// sample's load rating and overlay iteration through the legacy core.
// record_outputs computes them once with every fast path off (the plain
// algorithms) and writes them; the regression test computes them again with
// the library's defaults and compares every bit.
//
// A recording is text: '#' lines describe it, every other line is
//   <where> <kind> <value> <value> ...
// with `where` naming the source of the values (unique in the file) and each
// value the hexadecimal bit pattern of a d (8-byte float), f (4-byte float),
// i (4-byte integer) or h (64-bit FNV-1a hash of bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace recorded {

// The library's default paths, or every fast path off: the engine's pivot
// replay and interval fits done together, and the rating's grid search that
// evaluates all sensors at once.
enum class Paths { defaults, plain };

struct Row {
  std::string where;
  char kind = 'd';
  std::vector<std::uint64_t> bits;
};

struct Recording {
  std::vector<std::string> header;  // the '#' lines, without the '#'
  std::vector<Row> rows;
};

// The files under tests/data/recorded/.
inline constexpr const char* kEngineFile = "engine.txt";
inline constexpr const char* kTableFile = "table_records.txt";
inline constexpr const char* kRatingFile = "sample_rating.txt";
inline constexpr const char* kOverlayFile = "sample_overlay.txt";

// Engine: random layered structures and the four reference structures
// through both entry modes.
Recording engine_outputs(Paths paths);

// The record numbers (1-based, ascending) sampled from the deflection table.
std::vector<int> table_sample();

// The deflections of the sampled records whose position in table_sample() is
// a multiple of `stride`; the analysis deck goes through the file `deck`.
Recording table_records(Paths paths, const std::filesystem::path& deck, int stride = 1);

// The load rating of data/sample (every section and test) and the overlay
// iteration of its items in 1-inch passes, with the shipped table; `source`
// is the project's source folder.
Recording sample_rating(Paths paths, const std::filesystem::path& source);
Recording sample_overlay(Paths paths, const std::filesystem::path& source);

std::string format(const Recording& r);
// Throws std::runtime_error naming the line of a malformed one.
Recording parse(std::string_view text);

// Every value of `actual` against the row of `expected` with the same
// `where`. Unless `subset`, both must hold the same rows.
struct Comparison {
  std::size_t values = 0;       // values compared
  std::size_t mismatches = 0;   // values (or rows) that differ
  std::vector<std::string> first;  // descriptions of the first few
};
Comparison compare(const Recording& expected, const Recording& actual, bool subset = false);

std::uint64_t fnv1a(const void* bytes, std::size_t size);

}  // namespace recorded
