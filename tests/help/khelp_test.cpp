// The help program as scripts use it: khelp --dump on the sample help set and on bad input.
#include <gtest/gtest.h>

#include <string>

#include "help_test_util.h"

using help_test::kExpected;
using help_test::kSample;
using help_test::ReadAll;
using help_test::RunKhelp;

TEST(KhelpDump, SampleHelpSetMatchesTheExpectedText) {
  for (const char* name : {"index", "tables", "pages"}) {
    SCOPED_TRACE(name);
    base_test::Child r = RunKhelp({"--dump", kSample + "/" + name + ".html"});
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Err, "");
    std::string expected = ReadAll(kExpected + "/" + name + ".txt");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(r.Out, expected);
  }
}

TEST(KhelpDump, PagesFollowEachOtherEachEndedByAFormFeedLine) {
  base_test::Child r = RunKhelp({"--dump", "file://" + kSample + "/pages.html#printing"});
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out.substr(r.Out.size() - 3), "\n\f\n");
  size_t nOverview = r.Out.find("Overview"), nPrinting = r.Out.find("Printing");
  EXPECT_LT(nOverview, nPrinting);
  EXPECT_EQ(r.Out.find("not shown"), std::string::npos);
}

TEST(KhelpDump, BadCommandLinesAndFiles) {
  base_test::Child r = RunKhelp({});
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(r.Err, "usage: khelp --dump FILE.html\n");
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(RunKhelp({"--show", kSample + "/index.html"}).Status, 2);
  EXPECT_EQ(RunKhelp({"--dump", "a", "b"}).Status, 2);
  r = RunKhelp({"--dump", "/nonexistent/help.html"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "khelp: cannot load help file /nonexistent/help.html\n");
  r = RunKhelp({"--dump", kExpected + "/index.txt"});  // no html tag: no pages
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "khelp: cannot load help file " + kExpected + "/index.txt\n");
}
