// Shared main of every test program: each test process gets a data folder of
// its own, so that test programs (and ctest -j) can run side by side.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::GTEST_FLAG(death_test_style) = "threadsafe";
  if (std::getenv("ZALK3071_DIR") == nullptr) {
    const char* base = std::getenv("ZALK_TEST_TMP");
    std::filesystem::path dir = base ? base : std::filesystem::temp_directory_path() / "zalk_tests";
    dir /= "proc" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    ::setenv("ZALK3071_DIR", dir.c_str(), 1);
  }
  return RUN_ALL_TESTS();
}
