#include "rating/overlay.h"

#include <cstddef>

#include "rating/backcalc.h"
#include "rating/rating_messages.h"
#include "toolkit/errors.h"

namespace zalk::rating {
namespace {

constexpr float SEASTAB[kSeasons] = {10.0f, 0.2f, 1.0f, 1.3f, 1.0f};
constexpr double kMaxAddedThickness = 6.0;  // beyond the first increment
constexpr float kThicknessCap = 12.0f;      // top of the table's thickness grid
constexpr int kMaxIdlePasses = 3;           // passes that rated nothing

std::size_t fwd_at(int i, int j, int k) {
  return (std::size_t(k - 1) * kMaxTests + std::size_t(j - 1)) * kMaxSections + std::size_t(i - 1);
}
std::size_t item_at(int i, int c) { return std::size_t(c - 1) * kMaxSections + std::size_t(i - 1); }

// Refuses what would write outside the host's arrays or what the engine
// could not analyse, before anything is changed.
bool items_acceptable(int nsec, const double* E1ITEM, const double* E2ITEM, const double* E3ITEM) {
  toolkit::RoutineScope scope("OVER");
  if (nsec > kMaxSections) {
    toolkit::E1STI(1, nsec);
    raise(RatingMessage::too_many_items);
    return false;
  }
  for (int i = 1; i <= nsec; ++i) {
    const double* moduli[3] = {E1ITEM, E2ITEM, E3ITEM};
    for (int layer = 1; layer <= 3; ++layer) {
      if (!analysable_modulus(float(moduli[layer - 1][i - 1]))) {
        toolkit::E1STI(1, i);
        toolkit::E1STI(2, layer);
        toolkit::E1STD(1, moduli[layer - 1][i - 1]);
        raise(RatingMessage::bad_item_modulus);
        return false;
      }
    }
  }
  return true;
}

// Thickens item i by DH and writes the basin the engine computes for it into
// test 1 of the item, as if it had been measured.
void thicken_item(RatingContext& ctx, const double* H3ITEM, const double* E1ITEM,
                  const double* E2ITEM, const double* E3ITEM, double* FWD, double* SECT, double dh,
                  double* TPASS, int i) {
  OverlayState& ov = ctx.overlay;
  ov.defl.fill(0.0f);
  ov.load = float(FWD[fwd_at(i, 1, 2)]);
  ov.h1 = float(SECT[item_at(i, 11)] + dh);
  if (double(ov.h1) > ov.limit[i - 1]) ++ov.nover;
  SECT[item_at(i, 11)] = ov.h1;
  ov.h2 = float(SECT[item_at(i, 12)]);
  ov.loadf = ov.load / 10940.0f;
  ov.e1 = float(E1ITEM[i - 1]);
  ov.e2 = float(E2ITEM[i - 1]);
  ov.e3 = float(E3ITEM[i - 1]);
  ov.h3 = float(H3ITEM[i - 1]);
  if (ov.h1 > kThicknessCap) ov.h1 = kThicknessCap;  // the engine only; SECT keeps the full value
  run_engine(ctx, ov.h1, ov.h2, ov.h3, &ov.e1, &ov.e2, &ov.e3, ov.loadf, ov.defl.data(),
             ctx.engine_scratch.data(), SEASTAB, 1, 1);
  for (int k = 1; k <= 6; ++k) FWD[fwd_at(i, 1, 2 + k)] = double(ov.defl[k - 1] * 1000.0f);
  ov.nt[i - 1] = 1;
  TPASS[item_at(i, ov.pass)] = SECT[item_at(i, 11)];
}

}  // namespace

void overlay_iteration(RatingContext& ctx, Blocks& blocks, const double* H3ITEM, const double* E1ITEM,
          const double* E2ITEM, const double* E3ITEM, double* FWD, double* SECT, const int* NSEC,
          const void* /*spare*/, const double* DH, int* NPASS, double* RPASS, double* TPASS) {
  const int nsec = *NSEC;
  if (!items_acceptable(nsec, E1ITEM, E2ITEM, E3ITEM)) return;
  const double dh = *DH;
  OverlayState& ov = ctx.overlay;
  for (int i = 1; i <= kMaxSections; ++i) NPASS[i - 1] = 0;
  ov.pass = 1;
  ov.nflag = 0;
  for (int k = 1; k <= kMaxPasses; ++k)
    for (int i = 1; i <= nsec; ++i) RPASS[item_at(i, k)] = 0.0;
  for (int i = 1; i <= nsec; ++i) ov.limit[i - 1] = SECT[item_at(i, 11)] + kMaxAddedThickness + dh;

  for (;;) {
    ov.flag = true;
    ov.nover = 0;
    for (int i = 1; i <= nsec; ++i)
      thicken_item(ctx, H3ITEM, E1ITEM, E2ITEM, E3ITEM, FWD, SECT, dh, TPASS, i);
    if (ov.nover == nsec) return;
    rate_sections(ctx, blocks, FWD, ov.res.data(), SECT, ov.nt.data(), NSEC);
    for (int i = 1; i <= nsec; ++i) {
      ++NPASS[i - 1];
      ov.flag = false;
      RPASS[item_at(i, ov.pass)] = ov.res[fwd_at(i, 1, 1)];
    }
    if (ov.flag) ++ov.nflag;
    if (ov.pass >= kMaxPasses || ov.nflag >= kMaxIdlePasses) return;
    ++ov.pass;
  }
}

}  // namespace zalk::rating
