// Shared main of every test program: each test process gets a data folder of
// its own, so that test programs (and ctest -j) can run side by side. The
// folder goes when the process ends with every test passed; after a failure
// it stays, and its place is printed, so that the files the library left
// there can be looked at.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <unistd.h>

namespace {

// Makes the process's data folder and points ZALK3071_DIR at it. Returns an
// empty path when the caller named a folder already (death-test children
// inherit their parent's, and a developer may choose one): that folder is
// not ours to remove.
std::filesystem::path make_own_data_folder() {
  if (std::getenv("ZALK3071_DIR") != nullptr) return {};
  const char* base = std::getenv("ZALK_TEST_TMP");
  std::filesystem::path dir = base ? base : std::filesystem::temp_directory_path() / "zalk_tests";
  dir /= "proc" + std::to_string(::getpid());
  std::filesystem::create_directories(dir);
  ::setenv("ZALK3071_DIR", dir.c_str(), 1);
  return dir;
}

void remove_or_keep(const std::filesystem::path& dir, bool passed) {
  if (dir.empty()) return;
  if (!passed) {
    std::cerr << "Data folder kept for inspection: " << dir.string() << '\n';
    return;
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  if (ec) std::cerr << "Could not remove the data folder " << dir.string() << ": " << ec.message() << '\n';
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::GTEST_FLAG(death_test_style) = "threadsafe";
  const std::filesystem::path own = make_own_data_folder();
  const int status = RUN_ALL_TESTS();
  remove_or_keep(own, status == 0);
  return status;
}
