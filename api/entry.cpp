// The exported entry points: C linkage, every argument by reference, no
// results. Each forwards to the re-entrant core with the library's single set
// of legacy state (the exported blocks, one rating context, one engine
// workspace) and keeps every exception on this side of the boundary.
#include "api/zalk3071.h"

#include <type_traits>

#include "api/boundary.h"
#include "engine/driver.h"
#include "io/platform.h"
#include "engine/quorvan.h"
#include "plate/btwodimension.h"
#include "rating/context.h"

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

// The pointer types hosts call through match the declarations.
static_assert(std::is_same_v<decltype(&VERSIONNUM), ZALK_VERSIONNUM_FN>);
static_assert(std::is_same_v<decltype(&QUORVAN), ZALK_QUORVAN_FN>);
static_assert(std::is_same_v<decltype(&BTWODIMENSION), ZALK_BTWODIMENSION_FN>);
static_assert(std::is_same_v<decltype(&ZALK3071DLL), ZALK_ZALK3071DLL_FN>);
static_assert(std::is_same_v<decltype(&OVER), ZALK_OVER_FN>);
static_assert(std::is_same_v<decltype(&ZALKSTATUS), ZALK_ZALKSTATUS_FN>);

extern "C" {

ZALK_API ZALK_ENTRY void ZALK_CALL VERSIONNUM(double* VER) {
  if (VER != nullptr) *VER = 2.0;
}

ZALK_API ZALK_ENTRY void ZALK_CALL QUORVAN(float* H1, float* H2, float* H3, float* E1, float* E2,
                                           float* E3, float* Q, float* DEFL, float* RESP,
                                           float* SEASTAB, int32_t* NCASES, int32_t* MODE) {
  guarded("QUORVAN", [&] {
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
    zalk::plate::BTWODIMENSION(IPT, NDIM, ILOAD, NEAR, XL, YL, P, A, PZ, PLAYER, PX, PY, W, U, ER,
                               ET, EZ, ERZ, S1, S2, S3, S4, S5, S6, S7, S8, S9, S10, S11, S12, S13,
                               S14, S15, E, PR, SPARE);
  });
}

ZALK_API ZALK_ENTRY void ZALK_CALL ZALK3071DLL(double* FWD, double* RESULT, double* SECT,
                                               int32_t* NTEST, int32_t* NSEC) {
  guarded("ZALK3071DLL", [&] {
    zalk::api::engine_workspace();
    zalk::rating::rate_sections(zalk::api::rating_context(), zalk::api::exported_blocks(), FWD,
                              RESULT, SECT, NTEST, NSEC);
  });
}

ZALK_API ZALK_ENTRY void ZALK_CALL OVER(double* H3ITEM, double* E1ITEM, double* E2ITEM,
                                        double* E3ITEM, double* FWD, double* SECT, int32_t* NSEC,
                                        void* SPARE, double* DH, int32_t* NPASS, double* RPASS,
                                        double* TPASS) {
  guarded("OVER", [&] {
    zalk::api::engine_workspace();
    zalk::rating::overlay_iteration(zalk::api::rating_context(), zalk::api::exported_blocks(), H3ITEM, E1ITEM,
                       E2ITEM, E3ITEM, FWD, SECT, NSEC, SPARE, DH, NPASS, RPASS, TPASS);
  });
}

}  // extern "C"
