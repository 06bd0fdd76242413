// The shared blocks as the rating core sees them: references to one set of
// blocks, so the core keeps no state of its own. The library boundary binds
// them to the exported blocks; tests may bind private copies.
#pragma once

#include "api/zalk3071.h"

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

}  // namespace zalk::rating
