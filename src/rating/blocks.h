// The shared blocks as the rating core sees them: references to one set of
// blocks, so the core keeps no state of its own. The library boundary binds
// them to the exported blocks; tests may bind private copies.
#pragma once

#include <memory>

#include "zalk3071/block_layout.h"

namespace zalk::rating {

struct Blocks {
  zalk_code_block& code;
  zalk_dd_block& dd;
  zalk_com1_block& com1;
  zalk_com2_block& com2;
  zalk_com3_block& com3;
  zalk_depth_block& depth;
  zalk_dam_block& dam;
};

// A private set of blocks, zero like the exported ones at load, for callers
// that run the rating core on their own state. COM2 alone is 1.6 MB, so the
// set lives on the heap.
struct OwnedBlocks {
  std::unique_ptr<zalk_code_block> code = std::make_unique<zalk_code_block>();
  std::unique_ptr<zalk_dd_block> dd = std::make_unique<zalk_dd_block>();
  std::unique_ptr<zalk_com1_block> com1 = std::make_unique<zalk_com1_block>();
  std::unique_ptr<zalk_com2_block> com2 = std::make_unique<zalk_com2_block>();
  std::unique_ptr<zalk_com3_block> com3 = std::make_unique<zalk_com3_block>();
  std::unique_ptr<zalk_depth_block> depth = std::make_unique<zalk_depth_block>();
  std::unique_ptr<zalk_dam_block> dam = std::make_unique<zalk_dam_block>();
  Blocks view{*code, *dd, *com1, *com2, *com3, *depth, *dam};
};

}  // namespace zalk::rating
