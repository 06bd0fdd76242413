// The data folder of the library's two fixed files (the analysis deck and the
// deflection table): $ZALK3071_DIR when set, otherwise $HOME/ZALK3071 (on
// Windows C:\ZALK3071\). Paths are handled as the system spells them (wide
// characters on Windows), so folder names with blanks or any Unicode
// characters work.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace zalk::platform {

// The folder, checked to exist and be writable; a missing or unwritable
// folder is reported through the toolkit reporter as a terminal error naming it.
std::filesystem::path data_folder();
std::filesystem::path deck_path();   // <folder>/input_m.txt
std::filesystem::path table_path();  // <folder>/backdefl.txt

// std::fopen by path: the wide-character open on Windows, where a narrow name
// cannot spell every folder. Sets errno on failure like std::fopen.
std::FILE* open_file(const std::filesystem::path& file, const char* mode);

// Cuts an open file (flushed) to `size` bytes when it is longer; false with
// errno set on failure. Works on the open file, without a second open.
bool cut_open_file(std::FILE* f, std::uintmax_t size);

// The path as UTF-8 text, for messages (never throws for unusual names).
std::string display_name(const std::filesystem::path& file);

// What tells one version of a file from another without reading it: size,
// modification and status-change times (nanoseconds) and the file's
// identity (device and inode where the system has them). `settled` says
// whether the times lie far enough in the past that a change made now would
// show in them; a file written within the clock's granularity might change
// again unseen, so callers must not trust a stamp that has not settled.
struct FileStamp {
  std::uintmax_t size = 0;
  std::int64_t modified_ns = 0;
  std::int64_t changed_ns = 0;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool settled = false;

  bool same_version(const FileStamp& o) const {
    return size == o.size && modified_ns == o.modified_ns && changed_ns == o.changed_ns &&
           device == o.device && inode == o.inode;
  }
};

// The stamp of a regular file, or nothing when it cannot be taken.
std::optional<FileStamp> file_stamp(const std::filesystem::path& file);

}  // namespace zalk::platform
