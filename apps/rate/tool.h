// The rating tool's shared pieces: its error and the folders' namespace.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace rate_tool {

namespace fs = std::filesystem;

// Exit status of a run that rated some tests or drops and left others out,
// each of them named on standard error with its file and line.
inline constexpr int kExitSkipped = 4;

// Bad input or a failed library call: the message is printed and the tool
// ends with the exit code.
struct ToolError : std::runtime_error {
  ToolError(const std::string& what, int code) : std::runtime_error(what), exit_code(code) {}
  int exit_code;
};

}  // namespace rate_tool
