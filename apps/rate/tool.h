// The rating tool's shared pieces: its error and the folders' namespace.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace rate_tool {

namespace fs = std::filesystem;

// Bad input or a failed library call: the message is printed and the tool
// ends with the exit code.
struct ToolError : std::runtime_error {
  ToolError(const std::string& what, int code) : std::runtime_error(what), exit_code(code) {}
  int exit_code;
};

}  // namespace rate_tool
