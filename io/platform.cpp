// The data folder of the library's two fixed files. This is the one place
// with operating-system calls; everything else uses the standard library.
#include "io/platform.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <system_error>

#include "toolkit/errors.h"

#ifdef _WIN32
#include <io.h>
#else
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#endif

namespace zalk::platform {
namespace {

using namespace zalk::toolkit;

enum FolderError : int { kNoFolderSetting = 1, kFolderMissing = 2, kNotAFolder = 3, kNotWritable = 4 };

[[noreturn]] void folder_error(int code, const std::filesystem::path& folder, std::string_view text) {
  E1STL(1, folder.string());
  E1MES(TERMINAL, code, text);
  std::abort();  // not reached: a terminal error never returns
}

const char* non_empty_env(const char* name) {
  const char* v = std::getenv(name);
  return (v != nullptr && v[0] != '\0') ? v : nullptr;
}

std::filesystem::path configured_folder() {
  if (const char* dir = non_empty_env("ZALK3071_DIR")) return dir;
#ifdef _WIN32
  return "C:\\ZALK3071";
#else
  if (const char* home = non_empty_env("HOME")) return std::filesystem::path(home) / "ZALK3071";
  E1MES(TERMINAL, kNoFolderSetting,
        "Neither ZALK3071_DIR nor HOME is set, so the data folder cannot be found.");
  std::abort();  // not reached
#endif
}

bool writable(const std::filesystem::path& folder) {
#ifdef _WIN32
  return _waccess(folder.c_str(), 2) == 0;
#else
  // Creating the deck needs write and search permission on the folder.
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
#endif
}

// File times closer to the present than this may still be shared by a later
// change: file systems stamp with a clock that advances in ticks of a few
// milliseconds.
constexpr std::int64_t kSettleNs = 100'000'000;

}  // namespace

std::filesystem::path data_folder() {
  const std::filesystem::path folder = configured_folder();
  std::error_code ec;
  const auto status = std::filesystem::status(folder, ec);
  if (!std::filesystem::exists(status)) {
    folder_error(kFolderMissing, folder,
                 "The data folder %(L1) does not exist. Create it or set ZALK3071_DIR to an existing "
                 "folder.");
  }
  if (!std::filesystem::is_directory(status)) {
    folder_error(kNotAFolder, folder, "The data folder %(L1) is not a folder.");
  }
  if (!writable(folder)) {
    folder_error(kNotWritable, folder,
                 "The data folder %(L1) is not writable; the analysis deck is written there.");
  }
  return folder;
}

std::filesystem::path deck_path() { return data_folder() / "input_m.txt"; }

#ifdef _WIN32
// Without device and inode: size and modification time through the standard library.
std::optional<FileStamp> file_stamp(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return std::nullopt;
  FileStamp s;
  s.size = std::filesystem::file_size(file, ec);
  if (ec) return std::nullopt;
  const auto written = std::filesystem::last_write_time(file, ec);
  if (ec) return std::nullopt;
  const auto age = std::filesystem::file_time_type::clock::now() - written;
  s.modified_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(written.time_since_epoch()).count();
  s.changed_ns = s.modified_ns;
  s.settled = std::chrono::duration_cast<std::chrono::nanoseconds>(age).count() >= kSettleNs;
  return s;
}
#else
std::optional<FileStamp> file_stamp(const std::filesystem::path& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  auto ns = [](const timespec& t) { return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec; };
  FileStamp s;
  s.size = std::uintmax_t(st.st_size);
  s.modified_ns = ns(st.st_mtim);
  s.changed_ns = ns(st.st_ctim);
  s.device = std::uint64_t(st.st_dev);
  s.inode = std::uint64_t(st.st_ino);
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  s.settled = ns(now) - std::max(s.modified_ns, s.changed_ns) >= kSettleNs;
  return s;
}
#endif
std::filesystem::path table_path() { return data_folder() / "backdefl.txt"; }

}  // namespace zalk::platform
