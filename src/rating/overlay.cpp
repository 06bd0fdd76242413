#include "rating/overlay.h"

#include <array>
#include <cstddef>

#include "rating/backcalc.h"
#include "rating/grids.h"

namespace zalk::rating {
namespace {

constexpr float SEASTAB[kSeasons] = {10.0f, 0.2f, 1.0f, 1.3f, 1.0f};
constexpr double kMaxAddedThickness = 6.0;  // beyond the first increment
constexpr float kThicknessCap = 12.0f;      // top of the table's thickness grid

// Thickens the item by dh and writes the basin the engine computes for it
// into its test, as if it had been measured. Whether the new thickness
// passed the item's limit comes back.
bool thicken_item(RatingContext& ctx, OverlayItemValues& item, double dh, double limit) {
  std::array<float, 10> defl{};
  const float load = float(item.test.load_lb);
  float h1 = float(item.section.surface_in + dh);
  const bool over = double(h1) > limit;
  item.section.surface_in = h1;
  const float h2 = float(item.section.base_in);
  const float loadf = load / kRefLoad;
  float e1 = float(item.e_surface);
  float e2 = float(item.e_base);
  float e3 = float(item.e_subgrade);
  const float h3 = float(item.depth_in);
  if (h1 > kThicknessCap) h1 = kThicknessCap;  // the engine only; the section keeps the full value
  run_engine(ctx, h1, h2, h3, &e1, &e2, &e3, loadf, defl.data(), ctx.engine_scratch.data(), SEASTAB, 1, 1);
  for (std::size_t k = 0; k < 6; ++k) item.test.deflections_mils[k] = double(defl[k] * 1000.0f);
  return over;
}

// Every item rated as a section of one test, as one rating call. The pass
// counts as rated only once every item is.
void rate_items(RatingContext& ctx, Blocks& blocks, std::span<OverlayItemValues> items, SearchCarry& carry,
                std::vector<std::vector<OverlayPassValues>>& passes) {
  begin_call(blocks, items[0].section);
  DeflectionTables& tables = table_of_call(ctx, blocks);
  std::vector<double> allowable(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    const TestSink sink = [&allowable, i](std::size_t, const TestRating& r) { allowable[i] = r.allowable_load; };
    rate_section(ctx, blocks, tables, items[i].section, std::span(&items[i].test, 1), carry, sink,
                 {int(i + 1), 1});
  }
  for (std::size_t i = 0; i < items.size(); ++i) passes[i].back() = {passes[i].back().surface_in, allowable[i], true};
}

}  // namespace

void overlay_passes(RatingContext& ctx, Blocks& blocks, std::span<OverlayItemValues> items, double dh,
                    SearchCarry& carry, std::vector<std::vector<OverlayPassValues>>& passes) {
  OverlayState& ov = ctx.overlay;
  passes.assign(items.size(), {});
  std::vector<double> limit(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) limit[i] = items[i].section.surface_in + kMaxAddedThickness + dh;
  ov.pass = 1;
  ov.nflag = 0;
  for (;;) {
    ov.nover = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (thicken_item(ctx, items[i], dh, limit[i])) ++ov.nover;
      passes[i].push_back({items[i].section.surface_in, 0.0, false});
    }
    if (std::size_t(ov.nover) == items.size()) return;
    rate_items(ctx, blocks, items, carry, passes);
    if (ov.pass >= kMaxPasses) return;
    ++ov.pass;
  }
}

}  // namespace zalk::rating
