// Help navigation and the help menu's items: each case runs in a child process (the loaded
// files and the history are process-wide) on help files written into a fresh folder, and
// prints where it went; the parent compares that trace as text.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "help_test_util.h"

#include "base/utils.h"
#include "help/HelpTty.h"
#include "nls/NlsUtils.h"

namespace {

using ktest::Result;
using ktest::RunChild;
using ktest::WriteFile;

// A first page with exactly two links, and a second page named "a".
const char kTwo[] =
    "<html page=\"one\"><body><p>Start: <a href=\"#a\">to a</a> or <a href=\"other.htm\">More</a>."
    "</p></body></html>\n"
    "<html page=\"a\"><body><p>Page a.</p></body></html>\n";
const char kHelp[] =
    "<html page=\"one\"><body><p><a href=\"#a\">to a</a> <a href=\"other.htm\">More</a>"
    " <a href=\"help.htm#s\">own s</a> <a href=\"other.htm#s\">other s</a>"
    " <a href=\"missing.htm\">gone</a> <a href=\"other.htm#nosuch\">no target</a>"
    " <a href=\"broken.htm\">broken</a> <a href=\"http://example.com/x.htm\">web</a>"
    " <a href=\"#one\">loop</a> <a href=\"#nosuch\">nowhere</a></p></body></html>\n"
    "<html page=\"a\"><body><p>Page a. <a name=\"s\">Anchor s</a> here.</p></body></html>\n";
const char kOther[] =
    "<html><body><p>Other, first page.</p></body></html>\n"
    "<html page=\"second\"><body><p>Then <a name=\"s\">S here</a>.</p></body></html>\n";

class HelpNav : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/helpnavXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    WriteFile(dir + "/two.htm", kTwo);
    WriteFile(dir + "/help.htm", kHelp);
    WriteFile(dir + "/other.htm", kOther);
    WriteFile(dir + "/broken.htm", "no html tag, so no pages\n");
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  // Runs fn in a child with the toolkit's catalogue open and standard input empty.
  Result Run(const std::function<void()>& fn) {
    return RunChild([&] {
      if (!freopen("/dev/null", "r", stdin)) _exit(99);
      pToolPath = SaveStr_(KORVI_BINARY_DIR);
      pDrvCoreDB = NlsOpenDB("CoreString", 2);
      fn();
    });
  }
  std::string Path(const char* name) { return dir + "/" + name; }
  std::string dir;
};

// "file/page h=<history entries> f=<loaded files>" of the current place.
void Where(const char* label) {
  const char* file = FileIndex ? StripPath(aFile[CurrentFile]->szName) : "-";
  const char* page = pCurrentPage && pCurrentPage->szPage ? pCurrentPage->szPage : "-";
  printf("%s: %s/%s h=%d f=%d\n", label, file, page, HistoryI, FileIndex);
}

// The link of the current page with that target.
HtmlAnchor* Anchor(const char* target) {
  for (Link* l = pCurrentPage->Links.pFirst; l; l = l->pNext) {
    HtmlAnchor* a = *static_cast<HtmlAnchor**>(l->pItem);
    if (a->szTarget && strcmp(a->szTarget, target) == 0) return a;
  }
  printf("no anchor %s\n", target);
  fflush(stdout);
  _exit(98);
}

int Follow(const char* target) {
  int r = ProcessLink(Anchor(target));
  fflush(stdout);
  return r;
}

TEST_F(HelpNav, TwoLinksGiveTwoNumberedItemsThenExitHelpContentsAndBack) {
  Result c = Run([&] {
    if (!HtmlHelp(Path("two.htm").c_str(), nullptr)) return;
    char* title = TtyHelpBuildMenuItems();
    printf("title %s, menu flags %#x style %d\n", title, HelpMenu.Flags, HelpMenu.TitleStyle);
    printf("item 0 is the page: %d\n", HelpMenu.pItems[0].szText == pCurrentPage->pImage);
    for (TextMenuItem* it = HelpMenu.pItems + 1; it->szText; it++) {
      const char* action = it->pfnAction == TtyHelpGotoLink   ? " goto"
                           : it->pfnAction == TtyHelpContents ? " contents"
                           : it->pfnAction == TtyHelpBack     ? " back"
                                                              : "";
      auto* a = static_cast<HtmlAnchor*>(it->pUserData);
      printf("[%s] type %d key %c value %d%s%s%s\n", it->szText, it->Type,
             isalnum(it->HotKey) ? it->HotKey : '0' + it->HotKey, static_cast<int>(it->Value),
             action, a ? " " : "", a ? a->szTarget : "");
    }
  });
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.out,
            "title Korvi Help, menu flags 0x1e1 style 1\n"
            "item 0 is the page: 1\n"
            "[to a] type 7 key 1 value 0 goto #a\n"
            "[More] type 7 key 2 value 0 goto other.htm\n"
            "[] type 3 key 0 value 1\n"
            "[] type 3 key 0 value 3\n"
            "[~e Exit Help] type 6 key e value 0\n"
            "[~c Contents] type 7 key c value 0 contents\n"
            "[~b Back] type 7 key b value 0 back\n");
}

TEST_F(HelpNav, ATargetInTheFileIsRecordedAndBackReturnsUntilTheHistoryIsEmpty) {
  Result c = Run([&] {
    HtmlHelp(Path("two.htm").c_str(), nullptr);
    TtyHelpBuildMenuItems();
    Where("open");
    printf("goto %d\n", TtyHelpGotoLink(&HelpMenu, &HelpMenu.pItems[1]));
    Where("#a");
    printf("menu rebuilt: %d\n", HelpMenu.pItems[0].szText == pCurrentPage->pImage);
    printf("back %d\n", TtyHelpBack(&HelpMenu, nullptr));
    Where("back");
    printf("back %d\n", TtyHelpBack(&HelpMenu, nullptr));
    Where("back");
  });
  EXPECT_EQ(c.out,
            "open: two.htm/one h=0 f=1\n"
            "goto 1\n"
            "#a: two.htm/a h=1 f=1\n"
            "menu rebuilt: 1\n"
            "back 1\n"
            "back: two.htm/one h=0 f=1\n"
            "back 0\n"
            "back: two.htm/one h=0 f=1\n");
}

TEST_F(HelpNav, LinksIntoAnotherFileLoadItOnceAndIntoTheSameFileLoadNothing) {
  Result c = Run([&] {
    HtmlHelp(Path("help.htm").c_str(), nullptr);
    Follow("other.htm#s");
    Where("other.htm#s");
    printf("target at %d of \"%s\"\n", TargetPos, pCurrentPage->pImage);
    HtmlSetHistory(-1);
    Where("back");
    Follow("other.htm");
    Where("other.htm");
    HtmlSetHistory(-1);
    Follow("help.htm#s");
    Where("help.htm#s");
    HtmlSetHistory(-1);
    Follow("#one");
    Where("#one (itself)");
    HtmlSetHistory(-1);
    Where("back");
  });
  EXPECT_EQ(c.out,
            "other.htm#s: other.htm/second h=1 f=2\n"
            "target at 7 of \"\n\nThen S here.\n\"\n"
            "back: help.htm/one h=0 f=2\n"
            "other.htm: other.htm/- h=1 f=2\n"
            "help.htm#s: help.htm/a h=1 f=2\n"
            "#one (itself): help.htm/one h=1 f=2\n"
            "back: help.htm/one h=0 f=2\n");
}

TEST_F(HelpNav, LinksThatLeadNowhereLeaveTheUserWhereHeWasWithAMessage) {
  Result c = Run([&] {
    HtmlHelp(Path("help.htm").c_str(), nullptr);
    for (const char* t : {"missing.htm", "other.htm#nosuch", "broken.htm",
                          "http://example.com/x.htm", "#nosuch"}) {
      printf("%d\n", Follow(t));
      Where(t);
    }
  });
  EXPECT_EQ(c.out,
            "Error in reading file missing.htm\n0\nmissing.htm: help.htm/one h=0 f=1\n"
            "Error in finding target other.htm#nosuch\n0\n"
            "other.htm#nosuch: help.htm/one h=0 f=2\n"
            "Error in reading file broken.htm\n0\nbroken.htm: help.htm/one h=0 f=2\n"
            "Error in reading file http://example.com/x.htm\n0\n"
            "http://example.com/x.htm: help.htm/one h=0 f=2\n"
            "Error in finding target #nosuch\n0\n#nosuch: help.htm/one h=0 f=2\n");
}

TEST_F(HelpNav, AMenuLinkThatFailsShowsItsMessageUntilEnter) {
  Result c = Run([&] {
    HtmlHelp(Path("help.htm").c_str(), nullptr);
    TtyHelpBuildMenuItems();
    TextMenuItem* it = HelpMenu.pItems + 1;
    while (it->szText && strcmp(it->szText, "gone") != 0) it++;
    printf("goto %d\n", TtyHelpGotoLink(&HelpMenu, it));
  });
  EXPECT_EQ(c.out, "Error in reading file missing.htm\nPress Enter to continue.goto 0\n");
}

TEST_F(HelpNav, TheHistoryKeepsAHundredPlacesAndBackWalksThem) {
  Result c = Run([&] {
    HtmlHelp(Path("help.htm").c_str(), nullptr);
    for (int i = 0; i < 101; i++) {
      Follow(i % 2 ? "#one" : "#a");
      if (i % 2 == 0) pCurrentPage = static_cast<HtmlPage*>(aFile[0]->Pages.pFirst->pItem);
    }
    Where("101 jumps");
    GoToTarget("a");
    Where("one more");
    int nBack = 0;
    while (HtmlSetHistory(-1)) nBack++;
    printf("back %d times\n", nBack);
    Where("end");
  });
  EXPECT_EQ(c.out,
            "101 jumps: help.htm/one h=100 f=1\n"
            "one more: help.htm/a h=100 f=1\n"
            "back 100 times\n"
            "end: help.htm/one h=0 f=1\n");
}

TEST_F(HelpNav, ContentsGoesToTheFirstPageOfTheOpenedFileAndEmptiesTheHistory) {
  Result c = Run([&] {
    HtmlHelp(Path("help.htm").c_str(), nullptr);
    TtyHelpBuildMenuItems();
    printf("contents %d\n", TtyHelpContents(&HelpMenu, nullptr));
    Follow("other.htm#s");
    GoToTarget("s");
    Where("jumps");
    printf("contents %d\n", TtyHelpContents(&HelpMenu, nullptr));
    Where("contents");
  });
  EXPECT_EQ(c.out,
            "contents 0\n"
            "jumps: other.htm/second h=2 f=2\n"
            "contents 1\n"
            "contents: help.htm/one h=0 f=2\n");
}

TEST_F(HelpNav, OpeningHelpAndClickingOnTheText) {
  Result c = Run([&] {
    printf("%d\n", HtmlHelp(Path("absent.htm").c_str(), nullptr));
    printf("%d\n", HtmlHelp("buffer.htm", SaveStr_("no html tag")));
    printf("building %d\n", flBuildingFile);
    HtmlHelp(Path("two.htm").c_str(), nullptr);
    flBuildingFile = 1;
    HtmlProcessLink(Anchor("other.htm")->Start);
    Where("while building");
    flBuildingFile = 0;
    HtmlProcessLink(0);
    Where("offset 0");
    HtmlProcessLink(Anchor("other.htm")->Start + 2);
    Where("inside More");
    printf("TargetPos %d\n", TargetPos);
    printf("%d\n", HtmlHelp(Path("two.htm#a").c_str(), nullptr));
    Where("two.htm#a");
  });
  EXPECT_EQ(c.out,
            "Error in reading HTML file " + Path("absent.htm") + "\n0\n"
            "Error reading HTML buffer\n0\n"
            "building 1\n"
            "while building: two.htm/one h=0 f=1\n"
            "offset 0: two.htm/one h=0 f=1\n"
            "inside More: other.htm/- h=1 f=2\n"
            "TargetPos 0\n"
            "1\n"
            "two.htm#a: two.htm/a h=1 f=2\n");
}

TEST_F(HelpNav, TheHundredAndFirstFileIsRefusedByALink) {
  Result c = Run([&] {
    char name[32];
    while (FileIndex < kMaxHtmlFiles - 1) {
      snprintf(name, sizeof name, "fill%d.html", FileIndex);
      if (!ParseHtmlFile(name, SaveStr_("<html><body>x</body></html>"))) _exit(2);
    }
    HtmlHelp(Path("help.htm").c_str(), nullptr);
    printf("%d\n", Follow("other.htm"));
    Where("101st");
  });
  EXPECT_EQ(c.out, "Error in reading file other.htm\n0\n101st: help.htm/one h=0 f=100\n");
  EXPECT_EQ(c.err, "WARNING: help file " + Path("other.htm") +
                       " not loaded: 100 help files are loaded already\n");
}

}  // namespace
