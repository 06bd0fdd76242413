#include "api/errc.h"

#include <array>

#include "api/api_messages.h"
#include "engine/engine_messages.h"
#include "io/io_messages.h"
#include "plate/plate_messages.h"
#include "rating/rating_messages.h"
#include "toolkit/bspline_messages.h"
#include "toolkit/errors_messages.h"
#include "toolkit/gauss_messages.h"
#include "toolkit/messages.h"
#include "toolkit/sparse_messages.h"
#include "toolkit/splez_messages.h"

namespace zalk::detail {
namespace {

struct Row {
  std::string_view routine;
  int type;
  int code;
  Errc errc;
  std::string_view text;
};

// Every table's messages by the enumerator names tools/make_errc.py gives
// them: a message without its enumerator does not compile.
#define ZALK_ERRC_ROW_(table, name, routine, type, code, text) {routine, toolkit::type, code, Errc::table##_##name, text},
#define ZALK_ERRC_TABLE_(table, LIST) LIST(ZALK_ERRC_##table##_)
#define ZALK_ERRC_api_(n, r, t, c, x) ZALK_ERRC_ROW_(api, n, r, t, c, x)
#define ZALK_ERRC_engine_(n, r, t, c, x) ZALK_ERRC_ROW_(engine, n, r, t, c, x)
#define ZALK_ERRC_io_(n, r, t, c, x) ZALK_ERRC_ROW_(io, n, r, t, c, x)
#define ZALK_ERRC_plate_(n, r, t, c, x) ZALK_ERRC_ROW_(plate, n, r, t, c, x)
#define ZALK_ERRC_table_(n, r, t, c, x) ZALK_ERRC_ROW_(table, n, r, t, c, x)
#define ZALK_ERRC_rating_(n, r, t, c, x) ZALK_ERRC_ROW_(rating, n, r, t, c, x)
#define ZALK_ERRC_bspline_(n, r, t, c, x) ZALK_ERRC_ROW_(bspline, n, r, t, c, x)
#define ZALK_ERRC_reporter_(n, r, t, c, x) ZALK_ERRC_ROW_(reporter, n, r, t, c, x)
#define ZALK_ERRC_gauss_(n, r, t, c, x) ZALK_ERRC_ROW_(gauss, n, r, t, c, x)
#define ZALK_ERRC_sparse_(n, r, t, c, x) ZALK_ERRC_ROW_(sparse, n, r, t, c, x)
#define ZALK_ERRC_splez_(n, r, t, c, x) ZALK_ERRC_ROW_(splez, n, r, t, c, x)

constexpr Row kRows[] = {
    ZALK_ERRC_TABLE_(api, ZALK_API_MESSAGES)
    ZALK_ERRC_TABLE_(engine, ZALK_ENGINE_MESSAGES)
    ZALK_ERRC_TABLE_(io, ZALK_IO_MESSAGES)
    ZALK_ERRC_TABLE_(plate, ZALK_PLATE_MESSAGES)
    ZALK_ERRC_TABLE_(table, ZALK_TABLE_MESSAGES)
    ZALK_ERRC_TABLE_(rating, ZALK_RATING_MESSAGES)
    ZALK_ERRC_TABLE_(bspline, ZALK_BSPLINE_MESSAGES)
    ZALK_ERRC_TABLE_(reporter, ZALK_REPORTER_MESSAGES)
    ZALK_ERRC_TABLE_(gauss, ZALK_GAUSS_MESSAGES)
    ZALK_ERRC_TABLE_(sparse, ZALK_SPARSE_MESSAGES)
    ZALK_ERRC_TABLE_(splez, ZALK_SPLEZ_MESSAGES)
};

// One row per enumerator but Errc::other: the header and the tables agree.
static_assert(std::size(kRows) + 1 == kErrcNames.size());

// The raising routine of the data folder's messages is whichever asked for it.
constexpr std::string_view kFolderRoutine = "data folder";

// The message's words up to its first value.
std::string_view fixed_words(std::string_view text) { return text.substr(0, text.find("%(")); }

}  // namespace

Errc errc_of(std::string_view routine, int type, int code, std::string_view message) {
  for (const Row& r : kRows)
    if (r.code == code && r.type == type && r.routine == routine) return r.errc;
  for (const Row& r : kRows)
    if (r.routine == kFolderRoutine && r.code == code && r.type == type && message.starts_with(fixed_words(r.text)))
      return r.errc;
  return Errc::other;
}

}  // namespace zalk::detail
