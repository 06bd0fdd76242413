// The overlay iteration in values: every item's surface layer thickened pass
// by pass, its basin recomputed by the engine for the item's moduli and
// written into its test as if measured, and all items rated again, until the
// added thickness has grown by 6 in beyond the first increment or 20 passes
// have been rated.
#pragma once

#include <span>
#include <vector>

#include "rating/section_rating.h"

namespace zalk::rating {

struct OverlayItemValues {
  SectionValues section;  // surface_in grows by the increment each pass
  TestValues test;        // load and the rest as given; the deflections become the thickened basin
  double depth_in = 0;    // third-layer thickness
  double e_surface = 0, e_base = 0, e_subgrade = 0;  // psi
};

struct OverlayPassValues {
  double surface_in = 0;       // the thickness of the pass
  double allowable_load = 0;   // of the item's test; 0 for the last pass when it is not rated
  bool rated = false;
};

// Runs the passes. `passes` gets one list per item and every pass appended
// as it is made, so that a failure part way keeps what was done; the items
// keep their thickened sections and basins. The items' moduli must be ones
// the engine takes. The first item's seasonal factors serve every item; the
// search's carry runs on from item to item and pass to pass.
void overlay_passes(RatingContext& ctx, Blocks& blocks, std::span<OverlayItemValues> items, double dh,
                    SearchCarry& carry, std::vector<std::vector<OverlayPassValues>>& passes);

}  // namespace zalk::rating
