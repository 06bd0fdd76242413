// The deflection-table reader on arbitrary text. A complete table is far
// larger than a fuzz input, so this exercises the record reading and every
// refusal; the count check follows the first records.
#include "fuzz/fuzz_support.h"
#include "rating/blocks.h"
#include "rating/defltable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static zalk::rating::OwnedBlocks blocks;
  static zalk::rating::DeflectionTables tables;
  zalk::fuzz::quietly([&] {
    zalk::rating::read_deflection_table_text(zalk::fuzz::as_text(data, size), "fuzz", tables, blocks.view);
  });
  return 0;
}
