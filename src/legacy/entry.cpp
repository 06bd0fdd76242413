// The exported entry points: C linkage, every argument by reference, no
// results. Each forwards to the re-entrant core with the library's single set
// of legacy state (the exported blocks, one rating context, one engine
// workspace) and keeps every exception on this side of the boundary.
#include "zalk3071/zalk3071.h"

#include <type_traits>

#include "legacy/boundary.h"
#include "legacy/host_rating.h"
#include "engine/driver.h"
#include "io/platform.h"
#include "engine/quorvan.h"
#include "plate/btwodimension.h"
#include "rating/context.h"
#include "zalk/version.h"

namespace zalk::api {

rating::Blocks& exported_blocks() {
  static rating::Blocks blocks{CODE, DD, COM1, COM2, COM3, DEPTH, DAM};
  return blocks;
}

rating::RatingContext& rating_context() {
  static rating::RatingContext ctx;
  return ctx;
}

// The rating core and the host's own QUORVAN calls share one workspace.
engine::EngineWorkspace& engine_workspace() {
  rating::RatingContext& ctx = rating_context();
  if (!ctx.engine) ctx.engine = engine::make_engine_workspace();
  return *ctx.engine;
}

}  // namespace zalk::api

using zalk::api::guarded;
using zalk::api::require_arguments;
using zalk::api::require_index;

namespace {
// Extents of BTWODIMENSION's arrays (zalk3071.h).
constexpr int kMaxPoints = 1000;  // S1..S15
constexpr int kMaxLoads = 10;     // XL, YL, P, A
constexpr int kMaxLayers = 50;    // E, PR
}  // namespace

// The pointer types hosts call through match the declarations.
static_assert(std::is_same_v<decltype(&VERSIONNUM), ZALK_VERSIONNUM_FN>);
static_assert(std::is_same_v<decltype(&QUORVAN), ZALK_QUORVAN_FN>);
static_assert(std::is_same_v<decltype(&BTWODIMENSION), ZALK_BTWODIMENSION_FN>);
static_assert(std::is_same_v<decltype(&ZALK3071DLL), ZALK_ZALK3071DLL_FN>);
static_assert(std::is_same_v<decltype(&OVER), ZALK_OVER_FN>);
static_assert(std::is_same_v<decltype(&ZALKSTATUS), ZALK_ZALKSTATUS_FN>);

extern "C" {

ZALK_API ZALK_ENTRY void ZALK_CALL VERSIONNUM(double* VER) {
  if (VER != nullptr) *VER = ZALK_VERSION_NUMBER;
}

ZALK_API ZALK_ENTRY void ZALK_CALL QUORVAN(float* H1, float* H2, float* H3, float* E1, float* E2,
                                           float* E3, float* Q, float* DEFL, float* RESP,
                                           float* SEASTAB, int32_t* NCASES, int32_t* MODE) {
  guarded("QUORVAN", [&] {
    require_arguments("QUORVAN", {{"H1", H1}, {"H2", H2}, {"H3", H3}, {"E1", E1}, {"E2", E2},
                                  {"E3", E3}, {"Q", Q}, {"DEFL", DEFL}, {"RESP", RESP},
                                  {"SEASTAB", SEASTAB}, {"NCASES", NCASES}, {"MODE", MODE}});
    zalk::engine::quorvan(zalk::api::engine_workspace(), zalk::platform::deck_path(), *H1, *H2,
                          *H3, E1, E2, E3, *Q, DEFL, RESP, SEASTAB, *NCASES, *MODE);
  });
}

ZALK_API ZALK_ENTRY void ZALK_CALL BTWODIMENSION(
    int32_t* IPT, int32_t* NDIM, int32_t* ILOAD, int32_t* NEAR, double* XL, double* YL, double* P,
    double* A, double* PZ, int32_t* PLAYER, double* PX, double* PY, double* W, double* U,
    double* ER, double* ET, double* EZ, double* ERZ, double* S1, double* S2, double* S3,
    double* S4, double* S5, double* S6, double* S7, double* S8, double* S9, double* S10,
    double* S11, double* S12, double* S13, double* S14, double* S15, double* E, double* PR,
    void* SPARE) {
  guarded("BTWODIMENSION", [&] {
    // NDIM and SPARE are never read and may be null.
    require_arguments("BTWODIMENSION",
                      {{"IPT", IPT}, {"ILOAD", ILOAD}, {"NEAR", NEAR}, {"XL", XL}, {"YL", YL},
                       {"P", P}, {"A", A}, {"PZ", PZ}, {"PLAYER", PLAYER}, {"PX", PX}, {"PY", PY},
                       {"W", W}, {"U", U}, {"ER", ER}, {"ET", ET}, {"EZ", EZ}, {"ERZ", ERZ},
                       {"S1", S1}, {"S2", S2}, {"S3", S3}, {"S4", S4}, {"S5", S5}, {"S6", S6},
                       {"S7", S7}, {"S8", S8}, {"S9", S9}, {"S10", S10}, {"S11", S11},
                       {"S12", S12}, {"S13", S13}, {"S14", S14}, {"S15", S15}, {"E", E},
                       {"PR", PR}});
    require_index("BTWODIMENSION", "IPT", *IPT, kMaxPoints);
    require_index("BTWODIMENSION", "ILOAD", *ILOAD, kMaxLoads);
    require_index("BTWODIMENSION", "PLAYER", *PLAYER, kMaxLayers);
    zalk::plate::BTWODIMENSION(IPT, NDIM, ILOAD, NEAR, XL, YL, P, A, PZ, PLAYER, PX, PY, W, U, ER,
                               ET, EZ, ERZ, S1, S2, S3, S4, S5, S6, S7, S8, S9, S10, S11, S12, S13,
                               S14, S15, E, PR, SPARE);
  });
}

ZALK_API ZALK_ENTRY void ZALK_CALL ZALK3071DLL(double* FWD, double* RESULT, double* SECT,
                                               int32_t* NTEST, int32_t* NSEC) {
  guarded("ZALK3071DLL", [&] {
    require_arguments("ZALK3071DLL",
                      {{"FWD", FWD}, {"RESULT", RESULT}, {"SECT", SECT}, {"NTEST", NTEST}, {"NSEC", NSEC}});
    zalk::api::engine_workspace();
    zalk::legacy::rate_sections(zalk::api::rating_context(), zalk::api::exported_blocks(), FWD,
                              RESULT, SECT, NTEST, NSEC);
  });
}

ZALK_API ZALK_ENTRY void ZALK_CALL OVER(double* H3ITEM, double* E1ITEM, double* E2ITEM,
                                        double* E3ITEM, double* FWD, double* SECT, int32_t* NSEC,
                                        void* SPARE, double* DH, int32_t* NPASS, double* RPASS,
                                        double* TPASS) {
  guarded("OVER", [&] {
    // SPARE is never read and may be null.
    require_arguments("OVER", {{"H3ITEM", H3ITEM}, {"E1ITEM", E1ITEM}, {"E2ITEM", E2ITEM},
                               {"E3ITEM", E3ITEM}, {"FWD", FWD}, {"SECT", SECT}, {"NSEC", NSEC},
                               {"DH", DH}, {"NPASS", NPASS}, {"RPASS", RPASS}, {"TPASS", TPASS}});
    zalk::api::engine_workspace();
    zalk::legacy::overlay_iteration(zalk::api::rating_context(), zalk::api::exported_blocks(), H3ITEM, E1ITEM,
                                    E2ITEM, E3ITEM, FWD, SECT, NSEC, SPARE, DH, NPASS, RPASS, TPASS);
  });
}

}  // extern "C"
