// The library boundary in process: severe errors become a status when the
// host opted in and end the process otherwise, no exception crosses the C
// entry points, and ZALKSTATUS reports exactly what was printed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <filesystem>
#include <functional>
#include <future>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "legacy/boundary.h"
#include "zalk3071/zalk3071.h"
#include "engine/driver.h"
#include "engine/quorvan.h"
#include "io/platform.h"
#include "toolkit/errors.h"

namespace {

struct Status {
  int32_t mode = -1;
  int32_t status = -1;
  std::string message;
};

Status query() {
  Status s;
  char buf[1024] = {};
  int32_t len = sizeof buf;
  ZALKSTATUS(&s.mode, &s.status, buf, &len);
  s.message = buf;
  EXPECT_EQ(len, int32_t(s.message.size()));
  return s;
}

void opt_in(bool on) {
  int32_t mode = on ? 1 : 0, status = 0, len = 0;
  ZALKSTATUS(&mode, &status, nullptr, &len);
  ASSERT_EQ(mode, on ? 1 : 0);
}

// Points the data folder somewhere else for the life of the object.
class DataFolder {
 public:
  explicit DataFolder(const std::filesystem::path& dir) : old_(std::getenv("ZALK3071_DIR")) {
    ::setenv("ZALK3071_DIR", dir.c_str(), 1);
  }
  ~DataFolder() { ::setenv("ZALK3071_DIR", old_.c_str(), 1); }

 private:
  std::string old_;
};

class Boundary : public ::testing::Test {
 protected:
  void TearDown() override { opt_in(false); }
};

void run_quorvan() {
  float h1 = 4, h2 = 10, h3 = 60, e1 = 400000, e2 = 30000, e3 = 10000, q = 1;
  float defl[8] = {}, resp[10] = {}, seastab[5] = {10, 0.2f, 1, 1.3f, 1};
  int32_t ncases = 1, mode = 1;
  QUORVAN(&h1, &h2, &h3, &e1, &e2, &e3, &q, defl, resp, seastab, &ncases, &mode);
}

std::string file_text(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The exported QUORVAN leaves its deck in the data folder; the core's
// in-memory deck is the same text, and the results are the same bits.
TEST_F(Boundary, QuorvanDeckFileIsTheInMemoryDeckText) {
  struct Case {
    float h1, h2, h3, q;
    int32_t ncases, mode;
  };
  const Case cases[] = {{4, 8, 12, 1, 1, 1},      {12, 48, 240, 1.37f, 3, 1}, {2.5f, 5.5f, 60, 0.8f, 5, 2},
                        {3, 18, 36, 1, 2, 2},     {6, 3, 999.5f, 2, 1, 1},    {5, 12, 120, 1, 0, 1}};
  float e1[5] = {500000, 1234567, 3.3e6f, 98765.4f, 700000};
  float e2[5] = {30000, 45678.9f, 100000, 20000, 12345};
  float e3[5] = {10000, 7777.7f, 20000, 15000, 5000};
  float factors[5] = {10.0f, 0.2f, 1.0f, 1.3f, 1.0f};
  const auto ws = zalk::engine::make_engine_workspace();
  for (const Case& c0 : cases) {
    Case c = c0;
    float defl[8] = {}, resp[50] = {}, defl_mem[8] = {}, resp_mem[50] = {};
    std::filesystem::remove(zalk::platform::deck_path());
    QUORVAN(&c.h1, &c.h2, &c.h3, e1, e2, e3, &c.q, defl, resp, factors, &c.ncases, &c.mode);
    zalk::engine::DeckRequest request{c.h1, c.h2, c.h3, e1, e2, e3, c.q, c.ncases, c.mode};
    EXPECT_EQ(file_text(zalk::platform::deck_path()), zalk::engine::write_deck_text(request))
        << "case h1 = " << c.h1 << ", mode " << c.mode;
    zalk::engine::quorvan(*ws, c.h1, c.h2, c.h3, e1, e2, e3, c.q, defl_mem, resp_mem, factors,
                          c.ncases, c.mode);
    EXPECT_EQ(std::memcmp(defl, defl_mem, sizeof defl), 0);
    EXPECT_EQ(std::memcmp(resp, resp_mem, sizeof resp), 0);
  }
}

TEST_F(Boundary, SevereErrorBecomesTheStatusWithThePrintedText) {
  opt_in(true);
  const std::filesystem::path missing = "/nonexistent/zalk_data_folder";
  DataFolder folder(missing);
  ::testing::internal::CaptureStdout();
  run_quorvan();
  const std::string printed = ::testing::internal::GetCapturedStdout();
  const Status s = query();
  EXPECT_EQ(s.mode, 1);
  EXPECT_EQ(s.status, ZALK_STATUS_TERMINAL);
  EXPECT_NE(s.message.find("TERMINAL ERROR"), std::string::npos);
  EXPECT_NE(s.message.find(missing.string()), std::string::npos) << s.message;
  // Printed as the reporter prints it (empty line, then the lines), but
  // without the stop line, since the process goes on.
  EXPECT_EQ(printed, "\n" + s.message + "\n");
  EXPECT_EQ(zalk::toolkit::name_stack_depth(), 0);
}

TEST_F(Boundary, NextCallClearsTheStatus) {
  opt_in(true);
  {
    DataFolder folder("/nonexistent/zalk_data_folder");
    ::testing::internal::CaptureStdout();
    run_quorvan();
    ::testing::internal::GetCapturedStdout();
  }
  ASSERT_EQ(query().status, ZALK_STATUS_TERMINAL);
  run_quorvan();  // the test's own data folder exists
  const Status s = query();
  EXPECT_EQ(s.status, ZALK_STATUS_OK);
  EXPECT_EQ(s.message, "");
}

TEST_F(Boundary, WarningsArePrintedAndLeaveTheStatusAlone) {
  opt_in(true);
  ::testing::internal::CaptureStdout();
  zalk::api::guarded("TESTCALL", [] {
    zalk::toolkit::RoutineScope scope("TESTCALL");
    zalk::toolkit::E1MES(zalk::toolkit::WARNING, 2, "Only a warning.");
  });
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(printed.find("*** WARNING  ERROR 2 from TESTCALL.  Only a warning."), std::string::npos) << printed;
  EXPECT_EQ(query().status, ZALK_STATUS_OK);
}

TEST_F(Boundary, OtherFailuresTakeTheSameRoad) {
  opt_in(true);
  ::testing::internal::CaptureStdout();
  zalk::api::guarded("TESTCALL", [] { throw std::bad_alloc(); });
  ::testing::internal::GetCapturedStdout();
  const Status s = query();
  EXPECT_EQ(s.status, ZALK_STATUS_TERMINAL);
  EXPECT_NE(s.message.find("from TESTCALL.  The call could not be completed:"), std::string::npos) << s.message;
  EXPECT_NE(s.message.find("std::bad_alloc."), std::string::npos) << s.message;
  EXPECT_EQ(zalk::toolkit::name_stack_depth(), 0);
}

TEST_F(Boundary, AnEmbeddingHandlerDoesNotLetExceptionsOut) {
  // A C++ host with a reporter handler of its own but no opt-in: the severe
  // error reaches its handler and the entry point still returns normally.
  int seen = 0;
  zalk::toolkit::ScopedErrorHandler h([&](const zalk::toolkit::ErrorEvent& e) { seen += e.type; });
  DataFolder folder("/nonexistent/zalk_data_folder");
  run_quorvan();
  EXPECT_EQ(seen, zalk::toolkit::TERMINAL);
  EXPECT_EQ(query().status, ZALK_STATUS_TERMINAL);
}

TEST_F(Boundary, StatusQueryToleratesMissingArgumentsAndKeepsOtherModes) {
  opt_in(true);
  ZALKSTATUS(nullptr, nullptr, nullptr, nullptr);
  int32_t mode = 7, len = 5;
  ZALKSTATUS(&mode, nullptr, nullptr, &len);  // no buffer: only the length comes back
  EXPECT_EQ(mode, 1);                         // 7 is no setting: the opt-in stays
  EXPECT_EQ(len, int32_t(query().message.size()));
  double* none = nullptr;
  VERSIONNUM(none);
}

using BoundaryDeathTest = Boundary;

TEST_F(BoundaryDeathTest, WithoutTheOptInASevereErrorEndsTheProcess) {
  EXPECT_EXIT(
      {
        dup2(2, 1);
        DataFolder folder("/nonexistent/zalk_data_folder");
        run_quorvan();
      },
      ::testing::ExitedWithCode(5), "TERMINAL ERROR(.|\n)*zalk_data_folder(.|\n)*Stop - Program terminated\\.");
}

TEST_F(BoundaryDeathTest, WithoutTheOptInOtherFailuresEndTheProcessToo) {
  EXPECT_EXIT(
      {
        dup2(2, 1);
        zalk::api::guarded("TESTCALL", [] { throw std::runtime_error("broken"); });
      },
      ::testing::ExitedWithCode(5), "from TESTCALL\\.  The call could not be completed:(.|\n)*broken\\.(.|\n)*Stop");
}

}  // namespace

namespace {

// A printed message as one line: its continuation prefixes become blanks.
std::string one_line(const std::string& message) {
  std::string out;
  for (std::size_t i = 0; i < message.size(); ++i) {
    if (message[i] != '\n') {
      out += message[i];
      continue;
    }
    i = message.find_first_not_of(" *", i + 1) - 1;
    out += ' ';
  }
  return out;
}

// Runs a guarded call on another thread that stays inside the library until
// released, so that a second call is sure to overlap it.
class CallInProgress {
 public:
  CallInProgress() : thread_([this] {
      zalk::api::guarded("TESTCALL", [this] {
        entered_.set_value();
        release_.get_future().wait();
      });
    }) {
    entered_future_.wait();
  }
  ~CallInProgress() {
    release_.set_value();
    thread_.join();
  }

 private:
  std::promise<void> entered_, release_;
  std::future<void> entered_future_ = entered_.get_future();
  std::thread thread_;
};

TEST_F(Boundary, AnOverlappingCallIsRefusedAndTouchesNothing) {
  opt_in(true);
  std::string printed;
  {
    CallInProgress other;
    ::testing::internal::CaptureStdout();
    float defl[8] = {-7, -7, -7, -7, -7, -7, -7, -7};
    float h = 4, e = 400000, q = 1, resp[10] = {}, seastab[5] = {};
    int32_t ncases = 1, mode = 1;
    QUORVAN(&h, &h, &h, &e, &e, &e, &q, defl, resp, seastab, &ncases, &mode);
    printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(defl[0], -7.0f);
    const Status s = query();
    EXPECT_EQ(s.status, ZALK_STATUS_TERMINAL);
    EXPECT_NE(one_line(s.message).find("from QUORVAN.  QUORVAN was called while another call of the library was running."),
              std::string::npos) << s.message;
  }
  EXPECT_NE(printed.find("one call at a time"), std::string::npos);
  run_quorvan();  // the flag is free again
  EXPECT_EQ(query().status, ZALK_STATUS_OK);
}

TEST_F(BoundaryDeathTest, WithoutTheOptInAnOverlappingCallEndsTheProcess) {
  EXPECT_EXIT(
      {
        dup2(2, 1);
        CallInProgress other;
        run_quorvan();
      },
      ::testing::ExitedWithCode(5), "was called while another call(.|\n)*Stop - Program terminated\\.");
}

// Every pointer argument but the unread spares, null one at a time.
TEST_F(Boundary, ANullArgumentIsRefusedByName) {
  opt_in(true);
  std::vector<double> big(20 * 2000 * 10, 0.0), res(20 * 2000 * 6, 0.0), sect(20 * 23, 0.0);
  std::vector<double> s1000(1000, 0.0), d50(50, 1.0), d20(20, 1.0), passes(400, 0.0);
  double d10[10] = {}, d = 0;
  float f = 1, f8[8] = {}, f10[10] = {}, f5[5] = {};
  int32_t one = 1, i20[20] = {};
  struct Case {
    const char* entry;
    std::vector<const char*> names;
    std::function<void(const std::vector<void*>&)> call;
    std::vector<void*> args;
  };
  const std::vector<Case> cases = {
      {"QUORVAN", {"H1", "H2", "H3", "E1", "E2", "E3", "Q", "DEFL", "RESP", "SEASTAB", "NCASES", "MODE"},
       [](const std::vector<void*>& a) {
         QUORVAN((float*)a[0], (float*)a[1], (float*)a[2], (float*)a[3], (float*)a[4], (float*)a[5],
                 (float*)a[6], (float*)a[7], (float*)a[8], (float*)a[9], (int32_t*)a[10], (int32_t*)a[11]);
       },
       {&f, &f, &f, &f, &f, &f, &f, f8, f10, f5, &one, &one}},
      {"ZALK3071DLL", {"FWD", "RESULT", "SECT", "NTEST", "NSEC"},
       [](const std::vector<void*>& a) {
         ZALK3071DLL((double*)a[0], (double*)a[1], (double*)a[2], (int32_t*)a[3], (int32_t*)a[4]);
       },
       {big.data(), res.data(), sect.data(), i20, &one}},
      {"OVER", {"H3ITEM", "E1ITEM", "E2ITEM", "E3ITEM", "FWD", "SECT", "NSEC", "DH", "NPASS", "RPASS", "TPASS"},
       [](const std::vector<void*>& a) {
         OVER((double*)a[0], (double*)a[1], (double*)a[2], (double*)a[3], (double*)a[4], (double*)a[5],
              (int32_t*)a[6], nullptr, (double*)a[7], (int32_t*)a[8], (double*)a[9], (double*)a[10]);
       },
       {d20.data(), d20.data(), d20.data(), d20.data(), big.data(), sect.data(), &one, &d, i20,
        passes.data(), passes.data()}},
  };
  for (const Case& c : cases) {
    for (std::size_t k = 0; k < c.args.size(); ++k) {
      SCOPED_TRACE(std::string(c.entry) + " " + c.names[k]);
      std::vector<void*> args = c.args;
      args[k] = nullptr;
      ::testing::internal::CaptureStdout();
      c.call(args);
      ::testing::internal::GetCapturedStdout();
      const Status s = query();
      EXPECT_EQ(s.status, ZALK_STATUS_TERMINAL);
      EXPECT_NE(one_line(s.message).find(std::string("from ") + c.entry + ".  The argument " + c.names[k] + " of " +
                               c.entry + " is a null pointer."),
                std::string::npos)
          << s.message;
    }
  }
  // BTWODIMENSION: the first and the last pointer it reads, and an index
  // beyond its arrays.
  int32_t ipt = 1, iload = 1, layer = 1, zero = 0;
  auto btwo = [&](int32_t* ipt_arg, double* pr) {
    double* sl = s1000.data();
    ::testing::internal::CaptureStdout();
    BTWODIMENSION(ipt_arg, nullptr, &iload, &zero, d10, d10, d10, d10, &d, &layer, &d, &d, &d, &d, &d, &d,
                  &d, &d, sl, sl, sl, sl, sl, sl, sl, sl, sl, sl, sl, sl, sl, sl, sl, d50.data(), pr, nullptr);
    ::testing::internal::GetCapturedStdout();
    Status s = query();
    s.message = one_line(s.message);
    return s;
  };
  EXPECT_NE(btwo(nullptr, d50.data()).message.find("The argument IPT of BTWODIMENSION is a null pointer."),
            std::string::npos);
  EXPECT_NE(btwo(&ipt, nullptr).message.find("The argument PR of BTWODIMENSION is a null pointer."),
            std::string::npos);
  int32_t beyond = 1001;
  EXPECT_NE(btwo(&beyond, d50.data()).message.find("The argument IPT = 1001 of BTWODIMENSION is outside 1 to 1000"),
            std::string::npos);
  EXPECT_EQ(btwo(&ipt, d50.data()).status, ZALK_STATUS_OK);
}

}  // namespace
