// The analysis deck: the fixed-column text through which the engine entry
// hands its problems to the analysis, and the problem set read back from it.
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zalk::engine {

constexpr int kMaxProblems = 200;
constexpr int kMaxLayers = 50;
constexpr int kMaxLoads = 10;
constexpr int kMaxPoints = 1000;

// One problem of the deck; element [i-1] holds layer, load or point i.
struct DeckProblem {
  int nlayer = 0;
  std::array<double, kMaxLayers> emod{}, pratio{}, thick{}, bond{};
  int nload = 0;
  std::array<double, kMaxLoads> press{}, radius{}, xload{}, yload{};
  int npoint = 0;
  std::array<int, kMaxPoints> lpoint{};
  std::array<double, kMaxPoints> xpoint{}, ypoint{}, zpoint{};
};

struct ProblemSet {
  int nprob = 0;
  std::string title;                  // 50 characters, blank-padded
  std::vector<DeckProblem> problems;  // problems[p-1], nprob of them
  std::array<double, 10> abstol{};    // set by the reader
  std::array<double, 10> reltol{};
};

// The arguments of the engine entry that go into the deck.
struct DeckRequest {
  float h1 = 0, h2 = 0, h3 = 0;
  const float* e1 = nullptr;  // ncases values each
  const float* e2 = nullptr;
  const float* e3 = nullptr;
  float q = 0;
  int ncases = 0;
  int mode = 1;
};

// The deck text, one record per line, each line ended by '\n'.
std::string write_deck_text(const DeckRequest& request);
// Reads a deck text into `out` (storage is reused). Malformed or short decks
// and counts beyond the limits are reported through the toolkit reporter as
// terminal errors naming the record.
void read_deck_text(std::string_view text, ProblemSet& out);

// The modulus the analysis reads back for modulus `e` written into a layer
// record (three significant digits); NaN when the field cannot hold it.
double modulus_through_deck(float e);

// The same through a file, replacing its content; file errors are reported
// through the reporter as terminal errors naming the file.
void write_deck_file(const std::filesystem::path& path, const DeckRequest& request);
void read_deck_file(const std::filesystem::path& path, ProblemSet& out);
// Both in turn, through one open of the file.
void write_and_read_deck_file(const std::filesystem::path& path, const DeckRequest& request,
                              ProblemSet& out);

}  // namespace zalk::engine
