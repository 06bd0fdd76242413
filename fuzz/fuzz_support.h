// Shared by the fuzz targets: the reporter's handler for a run, so that a
// severe error comes back as an exception instead of ending the process, and
// warnings are not printed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "toolkit/errors.h"

namespace zalk::fuzz {

inline std::string_view as_text(const uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Runs `body` with a quiet handler; a severe error is an expected outcome.
template <class Body>
void quietly(Body&& body) {
  toolkit::ScopedErrorHandler quiet([](const toolkit::ErrorEvent&) {});
  try {
    body();
  } catch (const toolkit::SevereError&) {
  }
  if (toolkit::name_stack_depth() != 0) __builtin_trap();  // a scope left behind
}

}  // namespace zalk::fuzz
