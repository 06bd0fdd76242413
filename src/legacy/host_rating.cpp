#include "legacy/host_rating.h"

#include <algorithm>
#include <span>
#include <vector>

#include "legacy/host_arrays.h"
#include "rating/backcalc.h"
#include "rating/overlay.h"
#include "rating/rating_messages.h"
#include "rating/section_rating.h"
#include "toolkit/errors.h"

namespace zalk::legacy {
namespace {

using rating::RatingMessage;

// Larger counts than the arrays hold would write outside them. Section 1 is
// rated even when NSEC < 1, so its count is checked then too.
bool host_counts_fit(const int* NTEST, int nsec) {
  toolkit::RoutineScope scope("ZALK3071DLL");
  if (nsec > kMaxSections) {
    toolkit::E1STI(1, nsec);
    rating::raise(RatingMessage::too_many_sections);
    return false;
  }
  const int last = nsec < 1 ? 1 : nsec;
  for (int p = 1; p <= last; ++p) {
    if (NTEST[p - 1] > kMaxTests) {
      toolkit::E1STI(1, p);
      toolkit::E1STI(2, NTEST[p - 1]);
      rating::raise(RatingMessage::too_many_tests);
      return false;
    }
  }
  return true;
}

bool items_acceptable(int nsec, const double* E1ITEM, const double* E2ITEM, const double* E3ITEM) {
  toolkit::RoutineScope scope("OVER");
  if (nsec > kMaxSections) {
    toolkit::E1STI(1, nsec);
    rating::raise(RatingMessage::too_many_items);
    return false;
  }
  for (int i = 1; i <= nsec; ++i) {
    const double* moduli[3] = {E1ITEM, E2ITEM, E3ITEM};
    for (int layer = 1; layer <= 3; ++layer) {
      if (!rating::analysable_modulus(float(moduli[layer - 1][i - 1]))) {
        toolkit::E1STI(1, i);
        toolkit::E1STI(2, layer);
        toolkit::E1STD(1, moduli[layer - 1][i - 1]);
        rating::raise(RatingMessage::bad_item_modulus);
        return false;
      }
    }
  }
  return true;
}

// Row p of SECT; every section takes the seasonal factors of row 1.
rating::SectionValues section_of(const double* SECT, int p) {
  rating::SectionValues v;
  for (int i = 1; i <= rating::kSeasons; ++i) {
    const std::size_t s = std::size_t(i - 1);
    v.days[s] = SECT[row_at(p, i)];
    v.air_f[s] = SECT[row_at(p, 5 + i)];
    v.base_factor[s] = SECT[row_at(1, 13 + i)];
    v.subgrade_factor[s] = SECT[row_at(1, 18 + i)];
  }
  v.surface_in = SECT[row_at(p, 11)];
  v.base_in = SECT[row_at(p, 12)];
  v.previous_day_air_f = SECT[row_at(p, 13)];
  return v;
}

rating::TestValues test_of(const double* FWD, int p, int j) {
  rating::TestValues t;
  t.hour = FWD[test_at(p, j, 1)];
  t.load_lb = FWD[test_at(p, j, 2)];
  for (int s = 1; s <= 6; ++s) t.deflections_mils[std::size_t(s - 1)] = FWD[test_at(p, j, 2 + s)];
  t.reps_per_year = FWD[test_at(p, j, 9)];
  t.surface_f = FWD[test_at(p, j, 10)];
  return t;
}

std::vector<rating::TestValues> tests_of(const double* FWD, int p, int count) {
  std::vector<rating::TestValues> out;
  out.reserve(std::size_t(std::max(count, 0)));
  for (int j = 1; j <= count; ++j) out.push_back(test_of(FWD, p, j));
  return out;
}

void put_result(double* RESULT, int p, int j, const rating::TestRating& r) {
  const double v[kResultColumns] = {r.allowable_load, r.e_surface, r.e_surface_72f,
                                    r.e_base,         r.e_subgrade, r.depth_in};
  for (int k = 1; k <= kResultColumns; ++k) RESULT[test_at(p, j, k)] = v[k - 1];
}

// The search's carry is kept in the context from call to call.
rating::SearchCarry carry_of(const rating::RatingContext& ctx) { return {ctx.search.ibest, ctx.search.jbest}; }

// An overlay call given a negative item count thickens nothing and rates
// section 1 (with the test count the last items left) in each of three idle
// passes, as the iteration always has.
void idle_overlay_passes(rating::RatingContext& ctx, rating::Blocks& blocks, double* FWD, double* SECT,
                         const int* NSEC) {
  rating::OverlayState& ov = ctx.overlay;
  std::vector<double> res(kResultSize, 0.0);
  ov.pass = 1;
  ov.nflag = 0;
  for (;;) {
    ov.nover = 0;
    rate_sections(ctx, blocks, FWD, res.data(), SECT, ov.nt.data(), NSEC);
    ++ov.nflag;
    if (ov.pass >= kMaxPasses || ov.nflag >= 3) return;
    ++ov.pass;
  }
}

// What the passes did, back into the hosts' arrays; also after a failure
// part way, as the iteration wrote them pass by pass.
void put_overlay(std::span<const rating::OverlayItemValues> items,
                 const std::vector<std::vector<rating::OverlayPassValues>>& passes, double* FWD,
                 double* SECT, int* NPASS, double* RPASS, double* TPASS) {
  for (std::size_t n = 0; n < items.size(); ++n) {
    const int i = int(n + 1);
    SECT[row_at(i, 11)] = items[n].section.surface_in;
    for (int s = 1; s <= 6; ++s) FWD[test_at(i, 1, 2 + s)] = items[n].test.deflections_mils[std::size_t(s - 1)];
    if (n >= passes.size()) continue;
    for (std::size_t k = 0; k < passes[n].size(); ++k) {
      const rating::OverlayPassValues& pass = passes[n][k];
      TPASS[row_at(i, int(k + 1))] = pass.surface_in;
      if (!pass.rated) continue;
      RPASS[row_at(i, int(k + 1))] = pass.allowable_load;
      ++NPASS[n];
    }
  }
}

}  // namespace

void rate_sections(rating::RatingContext& ctx, rating::Blocks& blocks, const double* FWD, double* RESULT,
                   const double* SECT, const int* NTEST, const int* NSEC) {
  const int nsec = *NSEC;
  if (!host_counts_fit(NTEST, nsec)) return;
  rating::begin_call(blocks, section_of(SECT, 1));
  rating::DeflectionTables& tables = rating::table_of_call(ctx, blocks);
  rating::SearchCarry carry = carry_of(ctx);
  for (int p = 1; p <= std::max(nsec, 1); ++p) {
    const std::vector<rating::TestValues> tests = tests_of(FWD, p, NTEST[p - 1]);
    const rating::TestSink sink = [RESULT, p](std::size_t k, const rating::TestRating& r) {
      put_result(RESULT, p, int(k + 1), r);
    };
    rating::rate_section(ctx, blocks, tables, section_of(SECT, p), tests, carry, sink, {p, 1});
  }
}

void overlay_iteration(rating::RatingContext& ctx, rating::Blocks& blocks, const double* H3ITEM,
                       const double* E1ITEM, const double* E2ITEM, const double* E3ITEM, double* FWD,
                       double* SECT, const int* NSEC, const void* /*spare*/, const double* DH, int* NPASS,
                       double* RPASS, double* TPASS) {
  const int nsec = *NSEC;
  if (!items_acceptable(nsec, E1ITEM, E2ITEM, E3ITEM)) return;
  for (int i = 1; i <= kMaxSections; ++i) NPASS[i - 1] = 0;
  for (int k = 1; k <= kMaxPasses; ++k)
    for (int i = 1; i <= nsec; ++i) RPASS[row_at(i, k)] = 0.0;
  if (nsec < 0) {
    idle_overlay_passes(ctx, blocks, FWD, SECT, NSEC);
    return;
  }
  std::vector<rating::OverlayItemValues> items;
  for (int i = 1; i <= nsec; ++i) {
    items.push_back({section_of(SECT, i), test_of(FWD, i, 1), H3ITEM[i - 1], E1ITEM[i - 1], E2ITEM[i - 1],
                     E3ITEM[i - 1]});
    ctx.overlay.nt[std::size_t(i - 1)] = 1;
  }
  std::vector<std::vector<rating::OverlayPassValues>> passes;
  rating::SearchCarry carry = carry_of(ctx);
  try {
    rating::overlay_passes(ctx, blocks, items, *DH, carry, passes);
  } catch (...) {
    put_overlay(items, passes, FWD, SECT, NPASS, RPASS, TPASS);
    throw;
  }
  put_overlay(items, passes, FWD, SECT, NPASS, RPASS, TPASS);
}

}  // namespace zalk::legacy
