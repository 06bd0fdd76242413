// The survey report's page writer: the JSON text of data cells, tables from
// CSV texts, and the page around them. The expected texts are written out
// by hand; the browser test opens whole pages.
#include <gtest/gtest.h>

#include <string>

#include "apps/rate/report_page.h"

namespace {

using report_output::json_string;
using report_output::table_json;

struct Case {
  const char* input;
  const char* expected;
};

TEST(ReportPage, JsonStringsEscapeQuotesControlsAndWhatCouldEndTheScript) {
  const Case cases[] = {
      {"S1", R"("S1")"},
      {R"(a"b\c)", R"("a\"b\\c")"},
      {"</script><!--", R"("\u003c/script\u003e\u003c!--")"},
      {"A&B", R"("A\u0026B")"},
      {"\n\t\x01\x1f", R"("\u000a\u0009\u0001\u001f")"},
      {"\xc3\xa9 \x7f", "\"\xc3\xa9 \x7f\""},  // UTF-8 and DEL pass as they are
      {"", R"("")"},
  };
  for (const Case& c : cases) EXPECT_EQ(json_string(c.input), c.expected) << c.input;
}

TEST(ReportPage, TablesKeepEveryCellAsItsText) {
  const Case cases[] = {
      {"", R"({"columns":[],"rows":[]})"},
      {"\n\n", R"({"columns":[],"rows":[]})"},
      {"a,b\n", R"({"columns":["a","b"],"rows":[]})"},
      {"a,b\r\n1,\r\n\r\n2e+06,nan\n", R"({"columns":["a","b"],"rows":[["1",""],["2e+06","nan"]]})"},
      {"a,b\n-inf,<x>", R"({"columns":["a","b"],"rows":[["-inf","\u003cx\u003e"]]})"},
      {"flags\nnot_fitted|at_bound\n", R"({"columns":["flags"],"rows":[["not_fitted|at_bound"]]})"},
  };
  for (const Case& c : cases) EXPECT_EQ(table_json(c.input), c.expected) << c.input;
}

TEST(ReportPage, TheDataStandInTheirBlockAndNothingOfThemEndsIt) {
  report_output::Summary s;
  s.title = "</script><script>alert(1)</script>";
  s.inputs.push_back({"<b>.csv", "tests", 2, 0});
  const std::string results = "section,test\n</script>,1\n";
  const std::string page = report_output::report_page(s, {results, {}, {}});
  const std::string open = "<script type=\"application/json\" id=\"survey-data\">";
  const std::size_t from = page.find(open);
  ASSERT_NE(from, std::string::npos);
  const std::size_t to = page.find("</script>", from);
  const std::string data = page.substr(from + open.size(), to - from - open.size());
  EXPECT_EQ(data, report_output::report_json(s, {results, {}, {}}));
  EXPECT_EQ(data.find('<'), std::string::npos);
  EXPECT_EQ(page.find("@DATA@"), std::string::npos);
  EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(data.find(R"("inputs":[{"file":"\u003cb\u003e.csv","kind":"tests","read":2,"skipped":0}])"),
            std::string::npos);
  EXPECT_EQ(data.find("\"residuals\""), std::string::npos);  // absent tables are left out
}

}  // namespace
