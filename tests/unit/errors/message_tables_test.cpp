// Every message table of the toolkit: codes unique per routine and type,
// types 1..5, placeholders well formed, texts short enough for the reporter.
#include <gtest/gtest.h>

#include "toolkit/bspline_messages.h"
#include "toolkit/errors_messages.h"
#include "toolkit/gauss_messages.h"
#include "toolkit/sparse_messages.h"
#include "toolkit/splez_messages.h"
#include "support/message_tables.h"

namespace zt = zalk::toolkit;

using zalk::testing::bad_placeholder;
constexpr auto walk = zalk::testing::walk_message_table;

TEST(MessageTables, CodesTypesPlaceholdersAndLengthsOfEveryToolkitTable) {
  walk("reporter", zt::kReporterMessages);
  walk("gauss", zt::kGaussMessages);
  walk("sparse", zt::kSparseMessages);
  walk("bspline", zt::kBsplineMessages);
  walk("splez", zt::kSplezMessages);
  EXPECT_EQ(bad_placeholder("a %(I1) %(d9) %/ %(L0)"), "%(L0)");
  EXPECT_EQ(bad_placeholder("100%"), "%");
}
