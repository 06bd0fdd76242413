// The data folder of the library's two fixed files. This is the one place
// with operating-system calls; everything else uses the standard library.
#include "io/platform.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <system_error>

#include "io/io_messages.h"
#include "toolkit/errors.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#endif

namespace zalk::platform {
namespace {

using namespace zalk::toolkit;

[[noreturn]] void folder_error(io::IoMessage m, const std::filesystem::path& folder) {
  E1STL(1, display_name(folder));
  io::raise(m);
  std::abort();  // not reached: a terminal error never returns
}

#ifdef _WIN32
// The environment in wide characters: the narrow copy holds the folder name
// only as far as the ANSI code page can spell it.
const wchar_t* non_empty_env(const wchar_t* name) {
  const wchar_t* v = _wgetenv(name);
  return (v != nullptr && v[0] != L'\0') ? v : nullptr;
}
#else
const char* non_empty_env(const char* name) {
  const char* v = std::getenv(name);
  return (v != nullptr && v[0] != '\0') ? v : nullptr;
}
#endif

std::filesystem::path configured_folder() {
#ifdef _WIN32
  if (const wchar_t* dir = non_empty_env(L"ZALK3071_DIR")) return std::filesystem::path(dir);
  return std::filesystem::path(L"C:\\ZALK3071\\");
#else
  if (const char* dir = non_empty_env("ZALK3071_DIR")) return dir;
  if (const char* home = non_empty_env("HOME")) return std::filesystem::path(home) / "ZALK3071";
  io::raise(io::IoMessage::no_folder_setting);
  std::abort();  // not reached
#endif
}

enum class FolderState { kMissing, kNotAFolder, kNotWritable, kUsable };

// Every engine call checks the folder, so on Windows this is one attribute
// query: under Wine a status query opens the folder through the server,
// which costs far more than the check is worth.
FolderState folder_state(const std::filesystem::path& folder) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FolderState::kMissing;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return FolderState::kNotAFolder;
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return FolderState::kNotWritable;
  return FolderState::kUsable;
#else
  std::error_code ec;
  const auto status = std::filesystem::status(folder, ec);
  if (!std::filesystem::exists(status)) return FolderState::kMissing;
  if (!std::filesystem::is_directory(status)) return FolderState::kNotAFolder;
  // Creating the deck needs write and search permission on the folder.
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return FolderState::kNotWritable;
  return FolderState::kUsable;
#endif
}

// File times closer to the present than this may still be shared by a later
// change: file systems stamp with a clock that advances in ticks of a few
// milliseconds.
constexpr std::int64_t kSettleNs = 100'000'000;

}  // namespace

std::filesystem::path data_folder() {
  const std::filesystem::path folder = configured_folder();
  switch (folder_state(folder)) {
    case FolderState::kMissing:
      folder_error(io::IoMessage::folder_missing, folder);
    case FolderState::kNotAFolder:
      folder_error(io::IoMessage::not_a_folder, folder);
    case FolderState::kNotWritable:
      folder_error(io::IoMessage::not_writable, folder);
    case FolderState::kUsable:
      break;
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

std::FILE* open_file(const std::filesystem::path& file, const char* mode) {
#ifdef _WIN32
  const std::wstring wide_mode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(file.c_str(), wide_mode.c_str());
#else
  return std::fopen(file.c_str(), mode);
#endif
}

bool cut_open_file(std::FILE* f, std::uintmax_t size) {
  if (std::fflush(f) != 0) return false;
#ifdef _WIN32
  const int fd = _fileno(f);
  const long long length = _filelengthi64(fd);
  if (length < 0) return false;
  return std::uintmax_t(length) <= size || _chsize(fd, static_cast<long>(size)) == 0;
#else
  struct stat st;
  if (::fstat(fileno(f), &st) != 0) return false;
  return std::uintmax_t(st.st_size) <= size || ::ftruncate(fileno(f), static_cast<off_t>(size)) == 0;
#endif
}

std::string display_name(const std::filesystem::path& file) {
  const std::u8string text = file.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace zalk::platform
