// The data folder of the library's two fixed files (the analysis deck and the
// deflection table): $ZALK3071_DIR when set, otherwise $HOME/ZALK3071.
#pragma once

#include <filesystem>

namespace zalk::platform {

// The folder, checked to exist and be writable; a missing or unwritable
// folder is reported through the toolkit reporter as a terminal error naming it.
std::filesystem::path data_folder();
std::filesystem::path deck_path();   // <folder>/input_m.txt
std::filesystem::path table_path();  // <folder>/backdefl.txt

}  // namespace zalk::platform
