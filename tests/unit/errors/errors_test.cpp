// The toolkit error reporter: placeholder filling, the printed block layout,
// the default action of every type, the recording handler, the reporter's
// own checks and the name stack under warnings and unwinding errors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "toolkit/errors.h"
#include "toolkit/messages.h"

namespace zt = zalk::toolkit;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

const std::string kCont = " ***          ";

struct Recorder {
  std::vector<zt::ErrorEvent> events;
  zt::ScopedErrorHandler guard{[this](const zt::ErrorEvent& e) { events.push_back(e); }};
};

// Raises from inside a routine named ROUT under a recording handler and
// returns the recorded event; severe types are caught here.
zt::ErrorEvent raise_recorded(int type, int code, const std::string& text) {
  Recorder rec;
  try {
    zt::RoutineScope scope("ROUT");
    zt::E1MES(type, code, text);
  } catch (const zt::SevereError&) {
  }
  EXPECT_EQ(rec.events.size(), 1u);
  return rec.events.empty() ? zt::ErrorEvent{} : rec.events[0];
}

// Death-test body: the reporter prints on stdout, the matcher reads stderr.
void to_stderr() {
  std::fflush(stdout);
  dup2(2, 1);
}

// Joins the pieces of a printed block back into the body text: a piece that
// was broken at a blank lost that blank.
std::string rejoin(const std::vector<std::string>& lines, std::size_t head) {
  std::string s = lines[0].substr(head);
  for (std::size_t i = 1; i < lines.size(); ++i) s += " " + lines[i].substr(kCont.size());
  return s;
}

}  // namespace

TEST(ErrorPlaceholders, EveryKindAndCaseIsFilled) {
  zt::E1STI(1, -42);
  zt::E1STI(9, 7);
  zt::E1STR(2, 1.5f);
  zt::E1STD(3, 0.1);
  zt::E1STL(4, "XDATA");
  const auto e = raise_recorded(
      zt::WARNING, 1, "I=%(I1) i=%(i9) R=%(R2) r=%(r2) D=%(D3) d=%(d3) L=%(L4) l=%(l4)");
  EXPECT_EQ(e.message, "I=-42 i=7 R=1.5 r=1.5 D=0.1 d=0.1 L=XDATA l=XDATA");
  // Values that are not finite numbers are named, whatever their sign bit.
  zt::E1STD(5, -std::nan(""));
  zt::E1STR(6, HUGE_VALF);
  zt::E1STD(7, -HUGE_VAL);
  EXPECT_EQ(raise_recorded(zt::WARNING, 1, "%(D5) %(R6) %(D7)").message, "NaN Infinity -Infinity");
  // An unknown kind, a missing digit and the line break stay as written.
  const auto f = raise_recorded(zt::WARNING, 1, "%(Q1) %(I) 100% a%/b");
  EXPECT_EQ(f.message, "%(Q1) %(I) 100% a%/b");
}

TEST(ErrorLayout, HeadCarriesTheTypeWordInEightColumns) {
  const char* heads[] = {" *** NOTE     ERROR 3 from R.  x", " *** ALERT    ERROR 3 from R.  x",
                         " *** WARNING  ERROR 3 from R.  x", " *** FATAL    ERROR 3 from R.  x",
                         " *** TERMINAL ERROR 3 from R.  x"};
  for (int type = 1; type <= 5; ++type) {
    EXPECT_THAT(zt::format_error_lines(type, 3, "R", "x"), ElementsAre(heads[type - 1]));
  }
  // A message starting with its own full stop follows the name directly.
  EXPECT_THAT(zt::format_error_lines(5, 2, "R", ".  y"), ElementsAre(" *** TERMINAL ERROR 2 from R.  y"));
}

TEST(ErrorLayout, LongMessagesWrapAtBlanksWithinTheWidths) {
  std::string text;
  for (int i = 0; text.size() < 400; ++i) text += "word" + std::to_string(i * 37 % 1000) + " ";
  text += "end";
  const auto lines = zt::format_error_lines(4, 12, "DBS2VL", text);
  ASSERT_GE(lines.size(), 7u);
  EXPECT_LE(lines[0].size(), 19u + 59u);
  // The first line takes as much as fits: the next word would overflow it.
  const std::string next_word = lines[1].substr(kCont.size(), lines[1].find(' ', kCont.size()) - kCont.size());
  EXPECT_GT(lines[0].size() + 1 + next_word.size(), 78u);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].substr(0, kCont.size()), kCont);
    EXPECT_LE(lines[i].size(), 78u) << lines[i];
    EXPECT_NE(lines[i][kCont.size()], ' ');
  }
  EXPECT_EQ(rejoin(lines, 19), " 12 from DBS2VL.  " + text);
}

TEST(ErrorLayout, WordsLongerThanALineAreCutAtTheWidth) {
  const std::string word(150, 'A');
  const auto lines = zt::format_error_lines(3, 1, "R", word);
  // The word goes to the continuation lines whole where it can: 150 = 64 + 64 + 22.
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_THAT(lines[0], ::testing::StartsWith(" *** WARNING  ERROR 1 from R."));
  EXPECT_EQ(lines[1], kCont + std::string(64, 'A'));
  EXPECT_EQ(lines[2], kCont + std::string(64, 'A'));
  EXPECT_EQ(lines[3], kCont + std::string(22, 'A'));
}

TEST(ErrorLayout, ForcedBreaksStartContinuationLines) {
  const auto lines = zt::format_error_lines(3, 7, "DSPLEZ", "First part.%/Second part.%/%/Fourth.");
  EXPECT_THAT(lines, ElementsAre(" *** WARNING  ERROR 7 from DSPLEZ.  First part.", kCont + "Second part.",
                                 kCont, kCont + "Fourth."));
}

TEST(ErrorDefaults, NotesAndAlertsAreSilentWarningsPrintAndReturn) {
  zt::reset_error_record();
  ::testing::internal::CaptureStdout();
  {
    zt::RoutineScope scope("DBS2VL");
    zt::E1MES(zt::NOTE, 1, "a note");
    zt::E1MES(zt::ALERT, 2, "an alert");
    EXPECT_EQ(zt::last_error_type(), zt::ALERT);
    EXPECT_EQ(zt::last_error_code(), 2);
    zt::E1STD(1, 2.5);
    zt::E1MES(zt::WARNING, 3, "The point X = %(D1) is outside the knot range.");
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "\n *** WARNING  ERROR 3 from DBS2VL.  The point X = 2.5 is outside the knot\n"
            " ***          range.\n");
  EXPECT_EQ(zt::last_error_type(), zt::WARNING);
  EXPECT_EQ(zt::last_error_code(), 3);
  zt::reset_error_record();
  EXPECT_EQ(zt::last_error_type(), 0);
  EXPECT_EQ(zt::last_error_code(), 0);
  EXPECT_EQ(zt::name_stack_depth(), 0);
}

TEST(ErrorDefaultsDeathTest, FatalAndTerminalPrintAndStopWithTheirStatus) {
  EXPECT_EXIT(
      {
        to_stderr();
        zt::RoutineScope scope("DLSLXG");
        zt::E1STI(1, 0);
        zt::E1MES(zt::FATAL, 9, "The order of system of equations must be positive, while N = %(I1) is given.");
        std::puts("returned");
      },
      ::testing::ExitedWithCode(4),
      ::testing::EndsWith("\n *** FATAL    ERROR 9 from DLSLXG.  The order of system of equations must be\n"
                          " ***          positive, while N = 0 is given.\n"
                          "Stop - Program terminated.\n"));
  EXPECT_EXIT(
      {
        to_stderr();
        zt::RoutineScope scope("IMACH");
        zt::E1MES(zt::TERMINAL, 5, "The argument must be between 1 and 12 inclusive.");
        std::puts("returned");
      },
      ::testing::ExitedWithCode(5),
      ::testing::EndsWith("\n *** TERMINAL ERROR 5 from IMACH.  The argument must be between 1 and 12\n"
                          " ***          inclusive.\n"
                          "Stop - Program terminated.\n"));
}

TEST(ErrorHandler, RecordsEveryTypeAndThrowsOnlyForSevereOnes) {
  Recorder rec;
  {
    zt::RoutineScope scope("DSPLEZ");
    for (int type = 1; type <= 3; ++type) EXPECT_NO_THROW(zt::E1MES(type, type, "soft"));
    try {
      zt::E1MES(zt::FATAL, 4, "hard");
      ADD_FAILURE() << "a fatal error returned";
    } catch (const zt::SevereError& e) {
      EXPECT_EQ(e.event().type, 4);
      EXPECT_EQ(e.event().message, "hard");
      EXPECT_STREQ(e.what(), "hard");
    }
    EXPECT_THROW(zt::E1MES(zt::TERMINAL, 5, "harder"), zt::SevereError);
  }
  ASSERT_EQ(rec.events.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(rec.events[i].type, i + 1);
    EXPECT_EQ(rec.events[i].code, i + 1);
    EXPECT_EQ(rec.events[i].routine, "DSPLEZ");
    EXPECT_EQ(rec.events[i].lines, zt::format_error_lines(i + 1, i + 1, "DSPLEZ", rec.events[i].message));
  }
}

TEST(ErrorHandler, LeavingTheScopeRestoresThePreviousHandler) {
  {
    Recorder outer;
    {
      Recorder inner;
      zt::E1MES(zt::WARNING, 1, "inner");
      EXPECT_EQ(inner.events.size(), 1u);
    }
    zt::E1MES(zt::WARNING, 2, "outer");
    ASSERT_EQ(outer.events.size(), 1u);
    EXPECT_EQ(outer.events[0].code, 2);
  }
  // No handler left: the default action prints, naming USER outside any routine.
  ::testing::internal::CaptureStdout();
  zt::E1MES(zt::WARNING, 1, "after");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\n *** WARNING  ERROR 1 from USER.  after\n");
}

TEST(ReporterChecks, PushBeyondTheDepthLimit) {
  Recorder rec;
  const std::string names = "ABCDEFGHIJ";  // one single-letter routine per level
  for (int i = 0; i < zt::kMaxStackDepth; ++i) zt::E1PSH(names.substr(i, 1));
  EXPECT_EQ(zt::name_stack_depth(), zt::kMaxStackDepth);
  EXPECT_THROW(zt::E1PSH("ONEMORE"), zt::SevereError);
  EXPECT_EQ(zt::name_stack_depth(), zt::kMaxStackDepth);
  for (int i = zt::kMaxStackDepth - 1; i >= 0; --i) zt::E1POP(names.substr(i, 1));
  ASSERT_EQ(rec.events.size(), 1u);
  EXPECT_EQ(rec.events[0].type, 5);
  EXPECT_EQ(rec.events[0].routine, "E1PSH");
  EXPECT_EQ(rec.events[0].message, "Error condition in E1PSH.  Push would cause stack level to exceed 10.");
}

TEST(ReporterChecks, PopOnEmptyStackAndPopMismatch) {
  Recorder rec;
  EXPECT_THROW(zt::E1POP("DBS2IN"), zt::SevereError);
  zt::E1PSH("DBS2IN");
  EXPECT_THROW(zt::E1POP("DBSNAK"), zt::SevereError);
  EXPECT_EQ(zt::name_stack_depth(), 1);
  zt::E1POP("DBS2IN");
  ASSERT_EQ(rec.events.size(), 2u);
  EXPECT_EQ(rec.events[0].message, "Error condition in E1POP.  Cannot pop from DBS2IN because stack is empty.");
  EXPECT_EQ(rec.events[1].message,
            "Error condition in E1POP.  DBSNAK does not match the name DBS2IN in the stack.");
  EXPECT_EQ(rec.events[1].routine, "E1POP");
  EXPECT_EQ(rec.events[1].type, 5);
}

TEST(ReporterChecks, IllegalTypeIsTerminal) {
  for (int type : {0, 6, -3}) {
    const auto e = raise_recorded(type, 8, "ignored");
    EXPECT_EQ(e.type, 5);
    EXPECT_EQ(e.code, 8);
    EXPECT_THAT(e.lines, ElementsAre(" *** TERMINAL ERROR 8 from ROUT.  Error from E1MES.  Illegal error type",
                                     kCont + "specified."));
  }
}

TEST(ReporterChecksDeathTest, StackErrorsEndTheProcess) {
  EXPECT_EXIT(
      {
        to_stderr();
        zt::E1POP("DBS2GD");
      },
      ::testing::ExitedWithCode(5),
      ::testing::EndsWith("\n *** TERMINAL ERROR 1 from E1POP.  Error condition in E1POP.  Cannot pop from\n"
                          " ***          DBS2GD because stack is empty.\n"
                          "Stop - Program terminated.\n"));
  EXPECT_EXIT(
      {
        to_stderr();
        for (int i = 0; i <= zt::kMaxStackDepth; ++i) zt::E1PSH("DEEP");
      },
      ::testing::ExitedWithCode(5),
      ::testing::EndsWith("\n *** TERMINAL ERROR 1 from E1PSH.  Error condition in E1PSH.  Push would cause\n"
                          " ***          stack level to exceed 10.\n"
                          "Stop - Program terminated.\n"));
}

TEST(RoutineScopes, NestedWarningLeavesBothNamesPopped) {
  Recorder rec;
  {
    zt::RoutineScope outer("DSPLEZ");
    {
      zt::RoutineScope inner("DS2LEZ");
      EXPECT_EQ(zt::name_stack_depth(), 2);
      zt::E1MES(zt::WARNING, 1, "inner warning");
    }
    EXPECT_EQ(zt::name_stack_depth(), 1);
    zt::E1MES(zt::WARNING, 2, "outer warning");
  }
  EXPECT_EQ(zt::name_stack_depth(), 0);
  ASSERT_EQ(rec.events.size(), 2u);
  EXPECT_EQ(rec.events[0].routine, "DS2LEZ");
  EXPECT_EQ(rec.events[1].routine, "DSPLEZ");
}

TEST(RoutineScopes, SevereErrorUnwindsTheStackToTheCatchingLevel) {
  Recorder rec;
  zt::RoutineScope host("HOST");
  try {
    zt::RoutineScope a("DGQRUL");
    zt::RoutineScope b("DG2RUL");
    zt::RoutineScope c("DG2RCF");
    zt::E1MES(zt::FATAL, 1, "No convergence in 100 iterations.");
  } catch (const zt::SevereError& e) {
    EXPECT_EQ(e.event().routine, "DG2RCF");
  }
  EXPECT_EQ(zt::name_stack_depth(), 1);
  // The stack works normally afterwards.
  {
    zt::RoutineScope again("DGQRUL");
    zt::E1MES(zt::WARNING, 1, "w");
  }
  EXPECT_EQ(zt::name_stack_depth(), 1);
  EXPECT_EQ(rec.events.back().routine, "DGQRUL");
}

namespace table_example {
#define EXAMPLE_MESSAGES(X)                                            \
  X(too_few, "EXAMPLE", TERMINAL, 1, "N = %(I1).  N must be at least 1.") \
  X(odd_value, "EXAMPLE", WARNING, 2, "X = %(D1) is odd.")
ZALK_MESSAGE_TABLE(ExampleMessage, kExampleMessages, EXAMPLE_MESSAGES)
}  // namespace table_example

TEST(MessageTable, EntriesRaiseWithTheirTypeCodeAndText) {
  static_assert(table_example::kExampleMessages.size() == 2);
  std::vector<zalk::toolkit::ErrorEvent> seen;
  zalk::toolkit::ScopedErrorHandler h([&](const zalk::toolkit::ErrorEvent& e) { seen.push_back(e); });
  zalk::toolkit::RoutineScope scope("EXAMPLE");
  zalk::toolkit::E1STD(1, 3.5);
  table_example::raise(table_example::ExampleMessage::odd_value);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].type, zalk::toolkit::WARNING);
  EXPECT_EQ(seen[0].code, 2);
  EXPECT_EQ(seen[0].message, "X = 3.5 is odd.");
  zalk::toolkit::E1STI(1, 0);
  EXPECT_THROW(table_example::raise(table_example::ExampleMessage::too_few), zalk::toolkit::SevereError);
  EXPECT_EQ(seen.back().message, "N = 0.  N must be at least 1.");
}

TEST(WarningEpisodes, RepeatsArePrintedFiveTimesThenCountedWhileHandlersSeeAll) {
  int handled = 0;
  zt::ScopedErrorHandler h([&](const zt::ErrorEvent& e) {
    ++handled;
    zt::print_error(e);  // prints as the status handler of the library does
  });
  ::testing::internal::CaptureStdout();
  {
    zt::WarningEpisode episode;
    zt::WarningEpisode inner;  // nested episodes count as one
    zt::RoutineScope scope("DTHK");
    for (int i = 0; i < 20; ++i) zt::E1MES(zt::WARNING, 3, "w3");
    for (int i = 0; i < 7; ++i) zt::E1MES(zt::WARNING, 4, "w4");
    zt::E1MES(zt::WARNING, 5, "w5");
    EXPECT_EQ(zt::last_error_code(), 5);
  }
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(handled, 28);
  auto count = [&](const std::string& s) {
    int n = 0;
    for (auto p = out.find(s); p != std::string::npos; p = out.find(s, p + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("ERROR 3 from DTHK.  w3\n"), 5);
  EXPECT_EQ(count("ERROR 4 from DTHK.  w4\n"), 5);
  EXPECT_EQ(count("ERROR 5 from DTHK.  w5\n"), 1);
  EXPECT_THAT(out, ::testing::EndsWith(
                       "\n *** WARNING  ERROR 3 from DTHK: 15 more of the same were not printed.\n"
                       "\n *** WARNING  ERROR 4 from DTHK: 2 more of the same were not printed.\n"));
  EXPECT_EQ(count("more of the same"), 2);
}

TEST(WarningEpisodes, OutsideAnEpisodeAndForSevereErrorsNothingIsLimited) {
  zt::ScopedErrorHandler h([](const zt::ErrorEvent& e) { zt::print_error(e); });
  ::testing::internal::CaptureStdout();
  {
    zt::RoutineScope scope("DTHK");
    for (int i = 0; i < 7; ++i) zt::E1MES(zt::WARNING, 3, "w3");
    zt::WarningEpisode episode;
    for (int i = 0; i < 7; ++i) EXPECT_THROW(zt::E1MES(zt::TERMINAL, 6, "t6"), zt::SevereError);
  }
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("more of the same"), std::string::npos);
  std::string expected;
  for (int i = 0; i < 7; ++i) expected += "\n *** WARNING  ERROR 3 from DTHK.  w3\n";
  for (int i = 0; i < 7; ++i) expected += "\n *** TERMINAL ERROR 6 from DTHK.  t6\n";
  EXPECT_EQ(out, expected);
}

TEST(WarningEpisodes, TheDefaultActionIsLimitedAsWell) {
  ::testing::internal::CaptureStdout();
  {
    zt::WarningEpisode episode;
    zt::RoutineScope scope("DBS2VL");
    for (int i = 0; i < 6; ++i) zt::E1MES(zt::WARNING, 7, "w");
  }
  std::string expected;
  for (int i = 0; i < 5; ++i) expected += "\n *** WARNING  ERROR 7 from DBS2VL.  w\n";
  expected += "\n *** WARNING  ERROR 7 from DBS2VL: 1 more of the same were not printed.\n";
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), expected);
}
