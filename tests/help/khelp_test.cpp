// The help program as scripts use it: khelp --dump on the sample help set and on bad input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "help_test_util.h"

using help_test::kExpected;
using help_test::kSample;
using help_test::ReadFile;
using help_test::RunKhelp;
using help_test::WriteFile;

TEST(KhelpDump, SampleHelpSetMatchesTheExpectedText) {
  for (const char* name : {"index", "tables", "pages"}) {
    SCOPED_TRACE(name);
    ktest::Result r = RunKhelp({"--dump", kSample + "/" + name + ".html"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    std::string expected = ReadFile(kExpected + "/" + name + ".txt");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(r.out, expected);
  }
}

TEST(KhelpDump, PagesFollowEachOtherEachEndedByAFormFeedLine) {
  ktest::Result r = RunKhelp({"--dump", "file://" + kSample + "/pages.html#printing"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.substr(r.out.size() - 3), "\n\f\n");
  size_t nOverview = r.out.find("Overview"), nPrinting = r.out.find("Printing");
  EXPECT_LT(nOverview, nPrinting);
  EXPECT_EQ(r.out.find("not shown"), std::string::npos);
}

TEST(KhelpDump, BadCommandLinesAndFiles) {
  ktest::Result r = RunKhelp({});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "usage: khelp FILE.html[#target]\n       khelp --dump FILE.html\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(RunKhelp({"--show", kSample + "/index.html"}).status, 2);
  EXPECT_EQ(RunKhelp({"--dump", "a", "b"}).status, 2);
  r = RunKhelp({"--dump", "/nonexistent/help.html"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "khelp: cannot load help file /nonexistent/help.html\n");
  r = RunKhelp({"--dump", kExpected + "/index.txt"});  // no html tag: no pages
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "khelp: cannot load help file " + kExpected + "/index.txt\n");
}

// The dump lays out and lets go of one page at a time: its text is that of the loaded file,
// page for page, whatever the pages' sizes and order (the arena's chunks are used again,
// large and small), with skipped pages, a page continued by a second html tag, a NUL byte,
// and a file whose size is a whole number of memory pages (the terminator lies past it).
TEST(KhelpDump, PageByPageDumpMatchesTheLoadedFile) {
  auto bigPage = [](int n, int paragraphs) {
    std::string s = "<html page=\"p" + std::to_string(n) + "\"><head><title>T</title></head><body>";
    for (int p = 0; p < paragraphs; p++) {
      s += "<p>Paragraph " + std::to_string(p) + " &auml; <a href=\"#x" + std::to_string(p) +
           "\">link</a> <b>bold</b></p>";
      if (p % 50 == 0) {
        s += "<table border=1><tr><td>a" + std::to_string(p) +
             "</td><td><table border=1><tr><td>n</td></tr></table></td></tr></table>";
      }
    }
    return s + "</body></html>\n";
  };
  std::string html = bigPage(1, 3000) + bigPage(2, 2) +
                     "<html SkipPage><body>not shown</body></html>\n" + bigPage(3, 800) +
                     "<html><body><p>continued</p></body></html>\n" + bigPage(4, 5000);
  html += std::string(1, '\0') + "<html page=\"last\"><body><ol><li>one<li>two</ol></body></html>\n";
  html += std::string(4096 - html.size() % 4096, '\n');
  char dir[] = "/tmp/khelpdumpXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/many.html";
  WriteFile(path, html);

  std::string expected;
  std::string loaded = html;  // as the loader reads it: the NUL as a blank
  loaded[loaded.find('\0')] = ' ';
  HtmlFile* file = help_test::Load(loaded);
  ASSERT_NE(file, nullptr);
  for (Link* l = file->Pages.pFirst; l; l = l->pNext) {
    auto* page = static_cast<HtmlPage*>(l->pItem);
    expected += std::string(page->pImage ? page->pImage : "") + "\f\n";
  }
  ktest::Result r = RunKhelp({"--dump", path});
  unlink(path.c_str());
  rmdir(dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(file->Pages.Count, 5);
  EXPECT_NE(r.out.find("continued"), std::string::npos);
  EXPECT_EQ(r.out, expected);
}
