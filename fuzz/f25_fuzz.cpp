// The F25 field-file reader on arbitrary bytes: every line it cannot use is
// a diagnostic, never a crash or a read beyond the text.
#include "fuzz/fuzz_support.h"
#include "io/f25.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const zalk::io::F25File f = zalk::io::read_f25(zalk::fuzz::as_text(data, size), "fuzz.f25");
  // Every drop kept is whole: as many deflections as offsets.
  for (const auto& d : f.drops)
    if (d.offsets_mm.size() != d.deflections_um.size()) __builtin_trap();
  return 0;
}
