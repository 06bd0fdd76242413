// The data folder of the library's two fixed files (the analysis deck and the
// deflection table): $ZALK3071_DIR when set, otherwise $HOME/ZALK3071 (on
// Windows C:\ZALK3071\). Paths are handled as the system spells them (wide
// characters on Windows), so folder names with blanks or any Unicode
// characters work.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
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

}  // namespace zalk::platform
