// The legacy entry points' work on the hosts' arrays: the values of each
// section, test and item unpacked, the rating core run on them, and the
// results packed back into the arrays, element for element as hosts have
// always received them. Counts the arrays cannot hold are refused here,
// through the reporter, before anything is written.
#pragma once

#include "rating/blocks.h"
#include "rating/context.h"

namespace zalk::legacy {

// Load rating of NSEC sections: FWD(20, 2000, 10), RESULT(20, 2000, 6),
// SECT(20, 23), NTEST(20) (legacy/host_arrays.h). NSEC above 20 or a test
// count above 2000 is refused. Section 1 is rated even when NSEC < 1; the
// seasonal factors of row 1 serve every section; the search's carry runs on
// from the last call (it lives in the context).
void rate_sections(rating::RatingContext& ctx, rating::Blocks& blocks, const double* FWD, double* RESULT,
                   const double* SECT, const int* NTEST, const int* NSEC);

// Overlay iteration: H3ITEM..E3ITEM(20), FWD and SECT as above (test 1 of
// each item and its surface thickness rewritten in place), DH, NPASS(20),
// RPASS(20, 20), TPASS(20, 20). `spare` is never read. NSEC above 20, or an
// item modulus that is not a positive number, is refused.
void overlay_iteration(rating::RatingContext& ctx, rating::Blocks& blocks, const double* H3ITEM,
                       const double* E1ITEM, const double* E2ITEM, const double* E3ITEM, double* FWD,
                       double* SECT, const int* NSEC, const void* spare, const double* DH, int* NPASS,
                       double* RPASS, double* TPASS);

}  // namespace zalk::legacy
