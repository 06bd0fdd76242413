// Input the deck cannot carry: values its fields cannot hold, short or
// malformed decks, counts beyond the limits, file and data-folder failures.
// Each is a terminal error with a message naming what is wrong, and nothing
// is written first.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "io/deck.h"
#include "io/platform.h"
#include "toolkit/errors.h"
#include "unit/fortio/example_deck.h"

namespace zalk::engine {
namespace {

namespace fs = std::filesystem;
using toolkit::ErrorEvent;
using toolkit::ScopedErrorHandler;
using toolkit::SevereError;

using testing::kExampleDeck;

// Runs `action`, which must raise exactly one terminal error; returns it.
ErrorEvent terminal_error_of(const std::function<void()>& action) {
  std::vector<ErrorEvent> events;
  {
    ScopedErrorHandler handler([&events](const ErrorEvent& e) { events.push_back(e); });
    EXPECT_THROW(action(), SevereError);
  }
  EXPECT_EQ(toolkit::name_stack_depth(), 0);  // scopes unwound with the error
  if (events.size() != 1) {
    ADD_FAILURE() << events.size() << " errors reported";
    return {};
  }
  EXPECT_EQ(events[0].type, toolkit::TERMINAL);
  return events[0];
}

std::string file_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Request {
  float h1 = 4, h2 = 8, h3 = 12, q = 0.82f;
  std::vector<float> e1{500000.f, 500000.f}, e2{30000.f, 30000.f}, e3{10000.f, 10000.f};
  int mode = 1;
  DeckRequest get() const {
    DeckRequest r;
    r.h1 = h1;
    r.h2 = h2;
    r.h3 = h3;
    r.q = q;
    r.e1 = e1.data();
    r.e2 = e2.data();
    r.e3 = e3.data();
    r.ncases = static_cast<int>(e1.size());
    r.mode = mode;
    return r;
  }
};

TEST(DeckWriterErrors, ValuesTheFieldsCannotHoldLeaveTheFileAlone) {
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    std::function<void(Request&)> change;
    std::string message;
  };
  const Case cases[] = {
      {[](Request& r) { r.e2[1] = -5.f; },
       "The modulus of layer 2 in case 2, -5, does not fit its E8.3 field of the analysis deck "
       "(a modulus must be finite and not negative). The deck is not written."},
      {[](Request& r) { r.e1[0] = std::nanf(""); }, "The modulus of layer 1 in case 1, nan,"},
      {[](Request& r) { r.h3 = 1000.f; },
       "The thickness of layer 3, 1000, does not fit its F8.3 field of the analysis deck (a "
       "thickness must be finite, above -100 and below 1000). The deck is not written."},
      // Rounds to 1000.000, which leaves no blank before the value.
      {[](Request& r) { r.h2 = 999.9996f; }, "The thickness of layer 2, 999.9996,"},
      {[](Request& r) { r.h1 = -100.f; }, "The thickness of layer 1, -100,"},
      {[inf](Request& r) { r.h1 = -inf; }, "The thickness of layer 1, -inf,"},
      {[](Request& r) { r.q = 1000.f; },
       "The pressure 100 x q, 100000, does not fit its F9.3 field of the analysis deck (it must be "
       "finite, above -10000 and below 100000). The deck is not written."},
      {[](Request& r) {
         r.e1.assign(201, 1e5f);
         r.e2.assign(201, 1e5f);
         r.e3.assign(201, 1e5f);
       },
       "The number of cases, 201, is above the 200 problems an analysis deck can hold. The deck "
       "is not written."},
  };
  const fs::path deck = platform::deck_path();
  for (const Case& c : cases) {
    std::ofstream(deck, std::ios::binary) << kExampleDeck;
    Request r;
    c.change(r);
    const ErrorEvent e = terminal_error_of([&] { write_deck_file(deck, r.get()); });
    EXPECT_EQ(e.routine, "QUORVAN");
    EXPECT_EQ(e.message.substr(0, c.message.size()), c.message);
    EXPECT_EQ(file_text(deck), kExampleDeck) << c.message;
  }
}

TEST(DeckWriterErrors, ValuesThatStillFit) {
  // The edges on the good side: a zero modulus, thicknesses just inside,
  // mode 2 does not look at q at all.
  Request r;
  r.e1[0] = 0.f;
  r.h1 = 999.999f;
  r.h2 = -99.999f;
  r.q = 999.99f;
  ProblemSet set;
  read_deck_text(write_deck_text(r.get()), set);
  EXPECT_EQ(set.problems[0].emod[0], 0.0);
  EXPECT_EQ(set.problems[0].thick[0], 999.999);
  EXPECT_EQ(set.problems[0].thick[1], -99.999);
  EXPECT_EQ(set.problems[0].press[0], 99999.0);
  r.mode = 2;
  r.q = std::nanf("");
  EXPECT_NO_THROW(write_deck_text(r.get()));
}

TEST(DeckWriterErrors, CasesWithoutModuli) {
  DeckRequest r;
  r.ncases = 2;
  const ErrorEvent e = terminal_error_of([&] { write_deck_text(r); });
  EXPECT_EQ(e.message, "2 cases were asked for without their moduli. The deck is not written.");
}

TEST(DeckWriterErrors, WithoutAHandlerTheProcessStops) {
  Request r;
  r.e1[0] = -1.f;
  EXPECT_EXIT(
      {
        dup2(2, 1);
        write_deck_text(r.get());
      },
      ::testing::ExitedWithCode(5),
      "\n \\*\\*\\* TERMINAL ERROR 1 from QUORVAN\\.  The modulus of layer 1 in case 1, -1,\n"
      " \\*\\*\\*          does not fit its E8\\.3 field of the analysis deck \\(a modulus must\n"
      " \\*\\*\\*          be finite and not negative\\)\\. The deck is not written\\.\n"
      "Stop - Program terminated\\.\n");
}

// The example deck cut after its first n records.
std::string first_records(int n) {
  const std::string deck = kExampleDeck;
  std::size_t pos = 0;
  for (int i = 0; i < n; ++i) pos = deck.find('\n', pos) + 1;
  return deck.substr(0, pos);
}

TEST(DeckReaderErrors, ShortDeckNamesTheMissingRecord) {
  const char* missing[] = {
      "title record",          "problem count record",  "layer count record of problem 1",
      "layer record 1 of problem 1", "layer record 2 of problem 1", "layer record 3 of problem 1",
      "layer record 4 of problem 1", "load count record of problem 1", "load record 1 of problem 1",
      "point count record of problem 1"};
  for (int n = 0; n < 18; ++n) {
    ProblemSet set;
    const std::string deck = first_records(n);
    const ErrorEvent e = terminal_error_of([&] { read_deck_text(deck, set); });
    const std::string what =
        n < 10 ? missing[n] : "point record " + std::to_string(n - 9) + " of problem 1";
    EXPECT_EQ(e.message, "The analysis deck text ends after record " + std::to_string(n) + ": the " +
                             what + " (record " + std::to_string(n + 1) + ") is missing.");
    EXPECT_EQ(e.routine, "QUORVAN");
  }
}

TEST(DeckReaderErrors, ZeroCountStillNeedsItsRecord) {
  const std::string deck = "t\n           1\n  0\n";
  ProblemSet set;
  const ErrorEvent e = terminal_error_of([&] { read_deck_text(deck, set); });
  EXPECT_EQ(e.message,
            "The analysis deck text ends after record 3: the record standing for the layer records "
            "of problem 1 (record 4) is missing.");
}

std::string with_record(int record, std::string_view text) {
  std::string deck = kExampleDeck;
  std::size_t pos = 0;
  for (int i = 1; i < record; ++i) pos = deck.find('\n', pos) + 1;
  deck.replace(pos, deck.find('\n', pos) - pos, text);
  return deck;
}

TEST(DeckReaderErrors, MalformedFieldNamesRecordColumnsAndText) {
  struct Case {
    int record;
    std::string_view text;
    std::string message;
  };
  const Case cases[] = {
      {4, ".5x0E+06  0.35   4.000 0000.",
       "Input conversion error in the analysis deck text, record 4, columns 1-10 (\".5x0E+06  \"): "
       "not a number for the modulus of layer 1 of problem 1."},
      // A thickness written as asterisks runs into the Poisson's ratio field.
      {5, ".300E+05  0.40******** 0000.",
       "Input conversion error in the analysis deck text, record 5, columns 11-15 (\"0.40*\"): "
       "not a number for the Poisson's ratio of layer 2 of problem 1."},
      {3, "  4  x  1",
       "Input conversion error in the analysis deck text, record 3, columns 4-6 (\"  x\"): not a "
       "number for the layer count record of problem 1."},
      {9, "*********005.900 0000.00 0000.00 0. 0.",
       "Input conversion error in the analysis deck text, record 9, columns 1-9 (\"*********\"): "
       "not a number for the pressure of load 1 of problem 1."},
      {18, "  1   60.00    0.00    0.0- 0.",
       "Input conversion error in the analysis deck text, record 18, columns 20-27 (\"    0.0-\"): "
       "not a number for the depth of point 8 of problem 1."},
  };
  for (const Case& c : cases) {
    ProblemSet set;
    const std::string deck = with_record(c.record, c.text);
    const ErrorEvent e = terminal_error_of([&] { read_deck_text(deck, set); });
    EXPECT_EQ(e.message, c.message);
  }
}

TEST(DeckReaderErrors, CountsAboveTheLimitsAndPointsOutsideTheLayers) {
  struct Case {
    int record;
    std::string_view text;
    std::string message;
  };
  const Case cases[] = {
      {2, "         201",
       "Record 2 of the analysis deck text (problem count record) gives 201 problems; at most 200 "
       "are allowed."},
      {3, " 51  1  1",
       "Record 3 of the analysis deck text (layer count record of problem 1) gives 51 layers; at "
       "most 50 are allowed."},
      {8, " 11",
       "Record 8 of the analysis deck text (load count record of problem 1) gives 11 loads; at "
       "most 10 are allowed."},
      {13, "  5   12.00    0.00    0.00 0.",
       "Record 13 of the analysis deck text (point record 3 of problem 1) places the point in "
       "layer 5; the problem has 4 layers."},
      {18, "  0   60.00    0.00    0.00 0.",
       "Record 18 of the analysis deck text (point record 8 of problem 1) places the point in "
       "layer 0; the problem has 4 layers."},
  };
  for (const Case& c : cases) {
    ProblemSet set;
    const std::string deck = with_record(c.record, c.text);
    const ErrorEvent e = terminal_error_of([&] { read_deck_text(deck, set); });
    EXPECT_EQ(e.message, c.message);
  }
}

TEST(DeckFiles, WriteThenReadReplacesTheWholeFile) {
  const fs::path deck = platform::deck_path();
  Request two;
  write_deck_file(deck, two.get());
  Request one;
  one.e1.resize(1);
  one.e2.resize(1);
  one.e3.resize(1);
  write_deck_file(deck, one.get());
  EXPECT_EQ(file_text(deck), kExampleDeck);
  ProblemSet set;
  read_deck_file(deck, set);
  ASSERT_EQ(set.nprob, 1);
  EXPECT_EQ(set.problems[0].press[0], 82.0);
  // Written and read back through one open: the same file, the same problems.
  write_deck_file(deck, two.get());
  ProblemSet again;
  write_and_read_deck_file(deck, one.get(), again);
  EXPECT_EQ(file_text(deck), kExampleDeck);
  ASSERT_EQ(again.nprob, 1);
  EXPECT_EQ(again.problems[0].press[0], 82.0);
  fs::remove(deck);
  write_and_read_deck_file(deck, one.get(), again);
  EXPECT_EQ(file_text(deck), kExampleDeck);
}

TEST(DeckFiles, UnreadableOrUnwritableFileNamesIt) {
  const fs::path folder = platform::data_folder();
  const fs::path missing = folder / "no_such_deck.txt";
  ProblemSet set;
  ErrorEvent e = terminal_error_of([&] { read_deck_file(missing, set); });
  EXPECT_EQ(e.message, "The analysis deck " + missing.string() +
                           " cannot be read: No such file or directory.");
  const fs::path nowhere = folder / "no_such_folder" / "input_m.txt";
  e = terminal_error_of([&] { write_deck_file(nowhere, Request().get()); });
  EXPECT_EQ(e.message, "The analysis deck " + nowhere.string() +
                           " cannot be written: No such file or directory.");
  fs::create_directories(folder / "a_folder");
  e = terminal_error_of([&] { read_deck_file(folder / "a_folder", set); });
  EXPECT_EQ(e.message.rfind("The analysis deck " + (folder / "a_folder").string() + " cannot be read: ", 0),
            0u);
  const fs::path deck = folder / "deck_file.txt";
  std::ofstream(deck, std::ios::binary) << first_records(7);
  e = terminal_error_of([&] { read_deck_file(deck, set); });
  EXPECT_EQ(e.message, "The analysis deck " + deck.string() +
                           " ends after record 7: the load count record of problem 1 (record 8) is "
                           "missing.");
}

// Sets an environment variable for the lifetime of the object.
class EnvSetting {
 public:
  EnvSetting(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) ::setenv(name, value, 1);
    else ::unsetenv(name);
  }
  ~EnvSetting() {
    if (old_) ::setenv(name_, old_->c_str(), 1);
    else ::unsetenv(name_);
  }
  EnvSetting(const EnvSetting&) = delete;
  EnvSetting& operator=(const EnvSetting&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(DataFolder, FromTheEnvironmentOrHome) {
  const fs::path base = platform::data_folder();
  EXPECT_EQ(platform::deck_path(), base / "input_m.txt");
  EXPECT_EQ(platform::table_path(), base / "backdefl.txt");
  const fs::path home = base / "home";
  fs::create_directories(home / "ZALK3071");
  EnvSetting h("HOME", home.c_str());
  {
    EnvSetting d("ZALK3071_DIR", nullptr);
    EXPECT_EQ(platform::data_folder(), home / "ZALK3071");
  }
  {
    EnvSetting d("ZALK3071_DIR", "");  // empty counts as not set
    EXPECT_EQ(platform::data_folder(), home / "ZALK3071");
  }
}

TEST(DataFolder, MissingOrUnusableFolderIsNamed) {
  const fs::path base = platform::data_folder();
  const fs::path missing = base / "missing";
  {
    EnvSetting d("ZALK3071_DIR", missing.c_str());
    const ErrorEvent e = terminal_error_of([] { platform::deck_path(); });
    EXPECT_EQ(e.message, "The data folder " + missing.string() +
                             " does not exist. Create it or set ZALK3071_DIR to an existing folder.");
  }
  const fs::path file = base / "plain_file";
  std::ofstream(file) << "x";
  {
    EnvSetting d("ZALK3071_DIR", file.c_str());
    const ErrorEvent e = terminal_error_of([] { platform::table_path(); });
    EXPECT_EQ(e.message, "The data folder " + file.string() + " is not a folder.");
  }
  {
    EnvSetting d("ZALK3071_DIR", nullptr);
    EnvSetting h("HOME", nullptr);
    const ErrorEvent e = terminal_error_of([] { platform::data_folder(); });
    EXPECT_EQ(e.message, "Neither ZALK3071_DIR nor HOME is set, so the data folder cannot be found.");
  }
  // Permission bits do not bind the super-user; a folder of the process
  // file system stays unwritable even for it.
  fs::path locked = base / "locked";
  fs::create_directories(locked);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  if (::access(locked.c_str(), W_OK) == 0) locked = "/proc/self";
  if (::access(locked.c_str(), W_OK) == 0) GTEST_SKIP() << "no unwritable folder available";
  {
    EnvSetting d("ZALK3071_DIR", locked.c_str());
    const ErrorEvent e = terminal_error_of([] { platform::data_folder(); });
    EXPECT_EQ(e.message, "The data folder " + locked.string() +
                             " is not writable; the analysis deck is written there.");
  }
  fs::permissions(base / "locked", fs::perms::owner_all);
}

}  // namespace
}  // namespace zalk::engine
