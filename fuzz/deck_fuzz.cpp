// The analysis deck reader on arbitrary text: every fault is a terminal
// error through the reporter, never a crash or a read beyond the text.
#include "fuzz/fuzz_support.h"
#include "io/deck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static zalk::engine::ProblemSet problems;  // storage reused, as by the engine
  zalk::fuzz::quietly([&] { zalk::engine::read_deck_text(zalk::fuzz::as_text(data, size), problems); });
  return 0;
}
