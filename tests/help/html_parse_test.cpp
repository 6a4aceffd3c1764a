// Parsing help files: entities and references, white space, anchors, pages, loading.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/utils.h"
#include "help_test_util.h"

using help_test::Elements;
using help_test::Load;
using help_test::PageN;
using Strings = std::vector<std::string>;

namespace {

// The elements of the first page's body of "<html><body>" + body.
Strings BodyElements(const std::string& body) {
  HtmlFile* f = Load("<html><body>" + body + "</body></html>");
  return f ? Elements(&PageN(f, 1)->Body) : Strings{"(not loaded)"};
}

// The first page's body as one text run.
std::string TextRun(const std::string& text) {
  Strings e = BodyElements("<p>" + text + "</p>");
  return e.size() == 3 ? e[1] : "(" + std::to_string(e.size()) + " elements)";
}

}  // namespace

TEST(ParseHtml, LatinEntitiesDecodeToTheirCharacters) {
  EXPECT_EQ(TextRun("a&nbsp;b"), "a\xA0" "b");
  EXPECT_EQ(TextRun("&Auml;&auml;&yuml;"), "\xC4\xE4\xFF");
  EXPECT_EQ(TextRun("&iexcl;&AElig;&szlig;&divide;"), "\xA1\xC6\xDF\xF7");
  EXPECT_EQ(TextRun("&quot;&QUOT;&Quot;"), "\"\"\"");
  // amp, lt, unknown names, wrong case and names too long stay as written
  EXPECT_EQ(TextRun("&amp; &lt; &foo; &AUML; &abcdefghijklmnop;"),
            "&amp; &lt; &foo; &AUML; &abcdefghijklmnop;");
  EXPECT_EQ(TextRun("a & b"), "a & b");
  EXPECT_EQ(TextRun("&x"), "&x");
}

TEST(ParseHtml, NumericReferences) {
  EXPECT_EQ(TextRun("&#65;&#66"), "AB");  // the last one without its semicolon
  EXPECT_EQ(TextRun("&#65x&#66;y"), "AxBy");  // a reference ends after its digits
  EXPECT_EQ(TextRun("&#x41;&#X62;&#xe4;"), "Ab\xE4");
  EXPECT_EQ(TextRun("&#233;"), "\xE9");
  // no Latin-1 character, however large: "?"
  EXPECT_EQ(TextRun("&#8217;|&#99999999999999999999999;|&#xFFFFFFFFFFFFFFFFFF;"), "?|?|?");
  EXPECT_EQ(TextRun("a&#0;b"), "ab");
  EXPECT_EQ(TextRun("&#;&#x;&#a"), "&#;&#x;&#a");
  EXPECT_EQ(TextRun("&#"), "&#");
}

// Control characters never reach the terminal: written or referenced they read as "?", a
// referenced line feed or tab as a blank (a line feed inside a row would break the page's
// rows apart); bytes above 159 as written stay (texts in other encodings).
TEST(ParseHtml, ControlCharactersBecomeQuestionMarks) {
  EXPECT_EQ(TextRun("a&#27;[2Jb&#x9B;c&#127;d&#7;"), "a?[2Jb?c?d?");
  EXPECT_EQ(TextRun("a\x1b[2Jb\x7f\x01" "c"), "a?[2Jb??c");
  EXPECT_EQ(TextRun("a&#10;b&#xA;c&#9;d&#13;"), "a b c d ");
  EXPECT_EQ(TextRun("\xC3\xA9\x85"), "\xC3\xA9\x85");
  EXPECT_EQ(help_test::Body("<p>x&#10;y&#xa;z</p>"), "\n\nx y z\n");
}

TEST(ParseHtml, WhiteSpaceFoldsToOneBlank) {
  EXPECT_EQ(BodyElements("<p>  Hello   world  </p>"), (Strings{"<p>", "Hello world ", "</p>"}));
  EXPECT_EQ(TextRun("a\n\t \r\nb\f\vc"), "a b c");
  // after the end of an inline stretch a blank still separates the words
  EXPECT_EQ(BodyElements("<b>x</b> y <a href=h>l</a>\nz <p> w"),
            (Strings{"<b>", "x", "</b>", " y ", "<a>", "l", "</a>", " z ", "<p>", "w"}));
  // text after the last tag is not an element
  EXPECT_EQ(Elements(&PageN(Load("<html><body><p>kept</p>lost"), 1)->Body),
            (Strings{"<p>", "kept", "</p>"}));
}

TEST(ParseHtml, TagsKeepNameCaseAndAttributeText) {
  EXPECT_EQ(BodyElements("<P  class=x\ty>a< br >< /x>"),
            (Strings{"<P  class=x\ty>", "a", "<br>", "</x>"}));
  // a "<" without ">" takes the rest of the text as the tag
  HtmlFile* f = Load("<html><body><p>a<font size=2");
  EXPECT_EQ(Elements(&PageN(f, 1)->Body), (Strings{"<p>", "a", "<font size=2>"}));
}

TEST(AddAtribute, AnchorsTakeTheLastOfNameAndHref) {
  HtmlFile* f = Load(
      "<html><body><A HREF=\"x.htm#t\">1</A><a name=n href=h>2</a><a href=h NAME=\"n m\">3</a>"
      "<a>4</a></body></html>");
  auto anchor = [&](int n) {
    return static_cast<HtmlAnchor*>(help_test::BodyElement(f, n)->pData);
  };
  EXPECT_STREQ(help_test::BodyElement(f, 1)->szTag, "A");
  EXPECT_STREQ(anchor(1)->szTarget, "x.htm#t");
  EXPECT_EQ(anchor(1)->Kind, 2);
  EXPECT_EQ(help_test::BodyElement(f, 1)->Len, 14);  // the attribute text before the split
  EXPECT_STREQ(anchor(4)->szTarget, "h");
  EXPECT_EQ(anchor(4)->Kind, 2);
  EXPECT_STREQ(anchor(7)->szTarget, "n");  // a quoted value is cut at its blank
  EXPECT_EQ(anchor(7)->Kind, 1);
  EXPECT_EQ(anchor(10)->szTarget, nullptr);
  EXPECT_EQ(anchor(10)->Kind, 0);
}

TEST(ParseHtmlFile, PagesAndSkipPage) {
  HtmlFile* f = Load(
      "<html page=\"one\"><body>1</body></html>"
      "<html SkipPage><body>hidden</body></HTML >"
      "<html page=\"two\"><head><title>T</title></head><body>2</body></html>");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(f->Pages.Count, 2);
  EXPECT_STREQ(PageN(f, 1)->szPage, "one");
  EXPECT_STREQ(PageN(f, 2)->szPage, "two");
  EXPECT_EQ(Elements(&PageN(f, 2)->Head), (Strings{"<title>", "T", "</title>"}));

  // the first html tag makes a page even without a name; a later one without page= does not
  f = Load("<html><body>a</body></html><html><body>b</body></html>");
  ASSERT_EQ(f->Pages.Count, 1);
  EXPECT_EQ(PageN(f, 1)->szPage, nullptr);
  EXPECT_EQ(Elements(&PageN(f, 1)->Body), (Strings{"a", "b"}));

  // bounded by the end of the text: no closing quote, no closing /HTML, no closing ">"
  f = Load("<html page=\"open><body>x</body>");
  ASSERT_NE(f, nullptr);
  EXPECT_STREQ(PageN(f, 1)->szPage, "open");
  EXPECT_EQ(Load("<html SkipPage><body>x</body>"), nullptr);
  EXPECT_EQ(Load("<html SkipPage><body>x</body></html"), nullptr);
  EXPECT_EQ(Load("no tags at all"), nullptr);
  EXPECT_EQ(Load("<html"), nullptr);
}

class ParseHtmlFileOnDisk : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/khelpdiskXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override { ASSERT_EQ(system(("rm -rf " + dir).c_str()), 0); }
  std::string dir;
};

TEST_F(ParseHtmlFileOnDisk, LoadingAgainReturnsTheLoadedFileAndAppliesTheTarget) {
  std::string path = dir + "/two.html";
  help_test::WriteFile(path,
                       "<html page=\"first\"><body>1</body></html>"
                       "<html page=\"second\"><body>2 <a name=\"mark\">here</a></body></html>");
  HtmlFile* f = ParseHtmlFile(path.c_str(), nullptr);
  ASSERT_NE(f, nullptr);
  int nLoaded = FileIndex;
  EXPECT_STREQ(f->szName, path.c_str());
  EXPECT_EQ(pCurrentPage, PageN(f, 1));
  help_test::WriteFile(path, "changed: not read again");
  EXPECT_EQ(ParseHtmlFile(("file://" + path + "#second").c_str(), nullptr), f);
  EXPECT_EQ(pCurrentPage, PageN(f, 2));
  EXPECT_EQ(ParseHtmlFile(path.c_str(), nullptr), f);
  EXPECT_EQ(pCurrentPage, PageN(f, 1));
  EXPECT_EQ(ParseHtmlFile((path + "#mark").c_str(), nullptr), f);
  EXPECT_EQ(pCurrentPage, PageN(f, 2));
  EXPECT_EQ(FileIndex, nLoaded);
  EXPECT_EQ(FindHtmlFile(path.c_str()), f);
  EXPECT_EQ(aFile[CurrentFile], f);
  EXPECT_EQ(FindHtmlFile((path + "#mark").c_str()), nullptr);
}

TEST_F(ParseHtmlFileOnDisk, UnreadableAndRemoteFilesGiveNull) {
  EXPECT_EQ(ParseHtmlFile((dir + "/missing.html").c_str(), nullptr), nullptr);
  EXPECT_EQ(ParseHtmlFile("HTTP://example/x.html", nullptr), nullptr);
  help_test::WriteFile(dir + "/empty.html", "");
  EXPECT_EQ(ParseHtmlFile((dir + "/empty.html").c_str(), nullptr), nullptr);
}

TEST_F(ParseHtmlFileOnDisk, ANulByteInTheFileReadsAsABlank) {
  std::string path = dir + "/nul.html";
  help_test::WriteFile(path, std::string("<html><body><p>a\0b</p><p>c</p></body></html>", 44));
  HtmlFile* f = ParseHtmlFile(path.c_str(), nullptr);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(Elements(&PageN(f, 1)->Body), (Strings{"<p>", "a b", "</p>", "<p>", "c", "</p>"}));
}

TEST(ParseHtmlFile, TheHundredAndFirstFileIsRefused) {
  EXPECT_EXIT(
      {
        char szName[32];
        while (FileIndex < kMaxHtmlFiles) {
          snprintf(szName, sizeof szName, "full%d.html", FileIndex);
          if (!ParseHtmlFile(szName, SaveStr_("<html><body>x</body></html>"))) exit(1);
        }
        HtmlFile* f = ParseHtmlFile("extra.html", SaveStr_("<html><body>x</body></html>"));
        // the loaded ones are still found
        exit(!f && FileIndex == kMaxHtmlFiles && FindHtmlFile("full99.html") ? 3 : 2);
      },
      testing::ExitedWithCode(3),
      "^WARNING: help file extra.html not loaded: 100 help files are loaded already\n$");
}

TEST(HTMLKeys, NinetySixNamesInCodePointOrderWithTheirSizes) {
  int n = 0;
  const char* p = HTMLKeys + 1;
  for (; *p; n++) {
    const char* q = strchr(p, ',');
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(HTMLKeySizes[n + 1], q - p) << std::string(p, q);
    EXPECT_EQ(q[-1], ';');
    p = q + 1;
  }
  EXPECT_EQ(n, 96);
  EXPECT_EQ(std::string(HTMLKeys).substr(0, 13), ",nbsp;,iexcl;");
  EXPECT_EQ(FindToken("nbsp;", HTMLKeys), 1);
  EXPECT_EQ(FindToken("Agrave;", HTMLKeys), 192 - 159);
  EXPECT_EQ(FindToken("yuml;", HTMLKeys), 96);
}
