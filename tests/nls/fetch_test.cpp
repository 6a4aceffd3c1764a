// Fetching, printing and the texts built from messages.
#include <cstring>
#include <string>
#include <vector>

#include "nls_test_util.h"

using namespace nls_test;

namespace {

class Fetch : public NlsTest {
 protected:
  void SetUp() override {
    NlsTest::SetUp();
    MakeCatalogue("en_US", "Test",
                  {{"25_1001", "Press Enter"},
                   {"25_1003", "from %d to %d"},
                   {"25_1017", "Leave %s"},
                   {"25_1009", "%s%n"},
                   {"30_42", "%d %s"},
                   {"25_510", "[%s|%s|%s]"},
                   {"help", "intro.html"},
                   {"7_1", "one"},
                   {"7_2", "two"}});
    Db = Open("en_US", "Test");
    ASSERT_NE(Db, nullptr);
  }
  DbT* Db = nullptr;
  char Out[kNlsStrBufSize];
};

TEST_F(Fetch, FoundTextIsCopiedOrSaved) {
  memset(Out, 'x', sizeof Out);
  EXPECT_EQ(NlsFetchString(Db, Out, kNlsBySetNumber, 25, 1001), Out);
  EXPECT_STREQ(Out, "Press Enter");
  char* p = NlsFetchString(Db, nullptr, kNlsBySetNumber, 25, 1001);
  EXPECT_STREQ(p, "Press Enter");
  EXPECT_NE(FindBlock(p), nullptr);  // a saved copy, the caller's
  EXPECT_STREQ(NlsFetchString(Db, Out, kNlsByKey, "help"), "intro.html");
  EXPECT_STREQ(NlsFetchString(Db, nullptr, kNlsByKey2, "25_1017"), "Leave %s");
  char* v = NlsFetchString(Db, Out, kNlsBySetNumberV, 7, 2);
  EXPECT_STREQ(v, "two");
  EXPECT_NE(v, Out);  // mode 3 never uses out
}

TEST_F(Fetch, MissingMessageShowsItsKey) {
  memset(Out, 'x', sizeof Out);
  EXPECT_STREQ(NlsFetchString(Db, Out, kNlsBySetNumber, 25, 1002), "25_1002");
  EXPECT_STREQ(Out, "25_1002");
  EXPECT_STREQ(NlsFetchString(Db, nullptr, kNlsBySetNumberV, 25, 9), "25_9");
  EXPECT_STREQ(NlsFetchString(Db, nullptr, kNlsByKey, "nothing"), "nothing");
  // Without a catalogue: a set and number still give the key, a key text "Error".
  EXPECT_STREQ(NlsFetchString(nullptr, nullptr, kNlsBySetNumber, 25, 1), "25_1");
  EXPECT_STREQ(NlsFetchString(nullptr, Out, kNlsByKey, "25_1"), "Error");
  EXPECT_STREQ(NlsFetchString(nullptr, nullptr, kNlsBySetNumber, 0, 1), "Error");
  EXPECT_STREQ(NlsFetchString(Db, nullptr, 4, 25, 1001), "Error");
}

// Fetched texts are kept per handle; a change of the catalogue is seen at once.
TEST_F(Fetch, ChangedCatalogueIsSeenByTheNextFetch) {
  EXPECT_STREQ(NlsFetchString(Db, Out, kNlsBySetNumber, 25, 1001), "Press Enter");
  EXPECT_STREQ(NlsFetchString(Db, Out, kNlsBySetNumber, 25, 1001), "Press Enter");
  DbmTPutRecord(Db, "25_1001", "Changed", 8);
  EXPECT_STREQ(NlsFetchString(Db, Out, kNlsBySetNumber, 25, 1001), "Changed");
  DbmTDeleteRecord(Db, "25_1001");
  EXPECT_STREQ(NlsFetchString(Db, Out, kNlsBySetNumber, 25, 1001), "25_1001");

  // Another writer rewrites the file: a handle with refresh on reads the new text.
  DbT* reader = DbTOpen((Dir + "/db/en_US/Test.kdb").c_str(), 0);
  EXPECT_STREQ(NlsFetchString(reader, Out, kNlsBySetNumber, 7, 1), "one");
  DbT* writer = DbTOpen((Dir + "/db/en_US/Test.kdb").c_str(), 0);
  DbmTPutRecord(writer, "7_1", "uno", 4);
  EXPECT_STREQ(NlsFetchString(reader, Out, kNlsBySetNumber, 7, 1), "uno");
  // A handle closed and another opened in its place does not see the old texts.
  DbTClose(reader);
  MakeCatalogue("fr_FR", "Test", {{"7_1", "un"}});
  DbT* other = Open("fr_FR", "Test");
  EXPECT_STREQ(NlsFetchString(other, Out, kNlsBySetNumber, 7, 1), "un");
}

// Thousands of kept texts (the table and the text store grow many times), read back from the
// store with two handles taking turns.
TEST_F(Fetch, ManyKeptTextsComeBackWhole) {
  std::vector<std::pair<std::string, std::string>> records;
  for (int set = 1; set <= 6; set++)
    for (int n = 1; n <= 700; n++)
      records.push_back({std::to_string(set) + "_" + std::to_string(n),
                         "message " + std::to_string(set) + "/" + std::to_string(n) +
                             std::string(size_t(n % 97), char('a' + n % 26))});
  MakeCatalogue("en_US", "Many", records);
  DbT* many = Open("en_US", "Many");
  ASSERT_NE(many, nullptr);
  for (int pass = 0; pass < 2; pass++) {
    size_t i = 0;
    for (int set = 1; set <= 6; set++) {
      for (int n = 1; n <= 700; n++, i++) {
        ASSERT_STREQ(NlsFetchString(many, Out, kNlsBySetNumber, set, n), records[i].second.c_str());
        if (n % 100 == 0) {
          EXPECT_STREQ(NlsFetchString(Db, Out, kNlsBySetNumber, 7, 2), "two");
        }
      }
    }
    EXPECT_STREQ(NlsFetchString(many, Out, kNlsBySetNumber, 6, 701), "6_701");
  }
}

TEST_F(Fetch, LongAndUnterminatedRecordsStayInsideTheBuffers) {
  // 2046 "a" then "é" (2 bytes): the 2048-byte limit falls inside the character.
  std::string longText = std::string(2046, 'a') + "\xC3\xA9" + "tail";
  DbmTPutRecord(Db, "9_1", longText.c_str(), int(longText.size() + 1));
  DbmTPutRecord(Db, "9_2", "raw", 3);  // no zero byte
  memset(Out, 'x', sizeof Out);
  NlsFetchString(Db, Out, kNlsBySetNumber, 9, 1);
  EXPECT_EQ(std::string(Out), std::string(2046, 'a'));
  char* whole = NlsFetchString(Db, nullptr, kNlsBySetNumberV, 9, 1);
  EXPECT_EQ(std::string(whole), longText);
  EXPECT_STREQ(NlsFetchString(Db, Out, kNlsBySetNumber, 9, 2), "raw");
  EXPECT_STREQ(NlsFetchString(Db, nullptr, kNlsBySetNumberV, 9, 2), "raw");
}

TEST_F(Fetch, PrintingWithMessagesAsFormats) {
  Result c = RunChild([&] {
    Nlsfprintf(stdout, Db, 25, 1003, 1, 12);
    Nlsfprintf(stdout, Db, 25, 1002);   // missing
    Nlsfprintf(stdout, nullptr, 25, 1001);  // no catalogue
    Nlsfprintf(stdout, Db, 25, 1017, "Options");
  });
  EXPECT_EQ(c.out, "from 1 to 12ErrorErrorLeave Options");
  char buf[64];
  EXPECT_EQ(Nlssprintf(buf, Db, 25, 1003, 3, 4), 11);
  EXPECT_STREQ(buf, "from 3 to 4");
  Nlssprintf(buf, Db, 25, 1002);
  EXPECT_STREQ(buf, "Error");
  Nlssprintf(buf, nullptr, 25, 1003, 3, 4);
  EXPECT_STREQ(buf, "Error");
  EXPECT_EQ(Nlssnprintf(buf, 8, Db, 25, 1017, "Options"), 7);
  EXPECT_STREQ(buf, "Leave O");
}

// A catalogue text is only used as a format when its conversions are the caller's.
TEST_F(Fetch, TextsNotMatchingTheirCallerPrintError) {
  Result c = RunChild([&] {
    Nlsfprintf(stdout, Db, 25, 1009, "v");            // holds %n
    Nlsfprintf(stdout, Db, 30, 42, 4, 8);             // "%d %s" where the caller passes two ints
    Nlsfprintf(stdout, Db, 25, 1001, 5);               // no conversions: printed as it is
  });
  EXPECT_EQ(c.out, "ErrorErrorPress Enter");
  char buf[64];
  DbmTPutRecord(Db, "25_1003", "%d to %s", 9);  // swapped types
  Nlssprintf(buf, Db, 25, 1003, 1, 2);
  EXPECT_STREQ(buf, "Error");
  DbmTPutRecord(Db, "25_1003", "%d", 3);  // one conversion missing
  Nlssprintf(buf, Db, 25, 1003, 1, 2);
  EXPECT_STREQ(buf, "Error");
  DbmTPutRecord(Db, "25_1003", "%2$d %1$d", 10);  // reordered
  Nlssprintf(buf, Db, 25, 1003, 1, 2);
  EXPECT_STREQ(buf, "Error");
}

// A char printed as a wide character fails in the C library for a character outside the
// locale, which would leave the message empty or cut: such a text is refused whole.
TEST_F(Fetch, WideCharacterForACharPrintsError) {
  char buf[64];
  for (const char* text : {"%lc is not allowed in %s", "%C is not allowed in %s"}) {
    DbmTPutRecord(Db, "25_1007", text, int(strlen(text)) + 1);
    EXPECT_EQ(Nlssprintf(buf, Db, 25, 1007, -23, "ab"), 5) << text;  // a Latin-1 e-acute
    EXPECT_STREQ(buf, "Error") << text;
    Result c = RunChild([&] { Nlsfprintf(stdout, Db, 25, 1007, 'q', "ab"); });
    EXPECT_EQ(c.out, "Error") << text;
  }
  char args[kNlsArgsSize];
  EXPECT_EQ(NlsFormatArgs("%c %lc %C", args, sizeof args), 3);
  EXPECT_STREQ(args, "iWW");
}

TEST(NlsFormatArgs, ClassesOfConversions) {
  char args[kNlsArgsSize];
  EXPECT_EQ(NlsFormatArgs("%-5d %c %hhx %ld %lld %zu %s %ls %.*f %Lg %p 100%%", args, sizeof args), 12);
  EXPECT_STREQ(args, "iiilqzswidDp");
  EXPECT_EQ(NlsFormatArgs("%*.*s", args, sizeof args), 3);
  EXPECT_STREQ(args, "iis");
  for (const char* bad : {"%n", "%hn", "%1$s", "%", "%5%", "%k", "%Ld", "%m", "abc %"})
    EXPECT_EQ(NlsFormatArgs(bad, args, sizeof args), -1) << bad;
  EXPECT_EQ(NlsFormatArgs("%d%d%d", args, 3), -1);  // more than args holds
  EXPECT_EQ(NlsFormatArgs("plain", args, sizeof args), 0);
}

TEST(NlsDeclareArgs, HostMessagesGetTheirOwnArguments) {
  EXPECT_STREQ(NlsExpectedArgs(70, 1), "");
  EXPECT_EQ(NlsCheckArgs("%s", 70, 1), 0);
  EXPECT_EQ(NlsDeclareArgs(70, 1, "%s %d"), 1);
  EXPECT_EQ(NlsCheckArgs("%d %s", 70, 1), 0);
  EXPECT_EQ(NlsCheckArgs("name %s, %i times", 70, 1), 1);
  EXPECT_EQ(NlsDeclareArgs(70, 1, "%n"), 0);
  EXPECT_STREQ(NlsExpectedArgs(70, 1), "%s %d");
  EXPECT_STREQ(NlsExpectedArgs(25, 1007), "%c%s");
}

TEST_F(Fetch, MenuTextsFromSet25) {
  pDrvCoreDB = Db;
  std::string longText(300, 'm');
  DbmTPutRecord(Db, "25_1002", longText.c_str(), int(longText.size() + 1));
  TextMenuItem items[3] = {};
  EXPECT_EQ(NlsTtyMenuItemCvt(items, 1001, 2), 2);
  EXPECT_STREQ(items[0].szText, "Press Enter");
  EXPECT_EQ(std::string(items[1].szText), std::string(127, 'm'));
  EXPECT_EQ(NlsTtyMenuItemStateCvt(items, 1003, 1), 1);
  EXPECT_STREQ(items[0].szChoices, "from %d to %d");
  EXPECT_EQ(NlsTtyMenuItemPromptCvt(items + 2, 4242, 1), 1);
  EXPECT_STREQ(items[2].szPrompt, "25_4242");
  EXPECT_EQ(items[2].szText, nullptr);
  char* title = nullptr;
  EXPECT_EQ(NlsTtyMenuCvt(&title, 1017), title);
  EXPECT_STREQ(title, "Leave %s");
}

TEST_F(Fetch, TemplateTakesMessagesInOrder) {
  pDrvCoreDB = Db;
  char out[32];
  EXPECT_STREQ(NlsGuiStrCvt("<%s/%s/%s>", 7, out, sizeof out), "<one/two/7_3>");
  EXPECT_STREQ(NlsGuiStrCvt("%s%s%s%s%s%s%s%s", 7, out, 12), "onetwo7_37_");  // cut to 11
}

TEST(NlsCalcStrVal, WeightedAndPlainSums) {
  EXPECT_STREQ(NlsCalcStrVal("abc"), "0000056400000126");
  EXPECT_STREQ(NlsCalcStrVal(""), "0000000000000000");
  EXPECT_STREQ(NlsCalcStrVal("\xff"), "FFFFFFFFFFFFFFFF");  // bytes count as signed
}

TEST_F(Fetch, RedirectNames) {
  char name[kNlsStrBufSize] = "page$$intro.REDIRECT";
  EXPECT_STREQ(FindRedirect(name), "intro");
  EXPECT_STREQ(name, "page$$intro");
  strcpy(name, "page$$intro.html");
  EXPECT_EQ(FindRedirect(name), nullptr);
  EXPECT_STREQ(name, "page$$intro.html");
  strcpy(name, "page.redirect");
  EXPECT_EQ(FindRedirect(name), nullptr);

  pPrtHelpDB = Db;
  strcpy(name, "x$$help.redirect");
  EXPECT_EQ(CheckForRedirect(name), TmpKey);
  EXPECT_STREQ(TmpKey, "help");
  EXPECT_STREQ(name, "intro.html");
  strcpy(name, "x$$gone.redirect");
  CheckForRedirect(name);
  EXPECT_STREQ(name, "gone");
  pPrtHelpDB = nullptr;  // no help catalogue: the name is the key as well
  std::string longName = "x$$" + std::string(100, 'k') + ".redirect";
  strcpy(name, longName.c_str());
  EXPECT_EQ(std::string(CheckForRedirect(name)), std::string(63, 'k'));
  EXPECT_EQ(std::string(name), std::string(63, 'k'));
  strcpy(name, "plain.html");
  EXPECT_EQ(CheckForRedirect(name), nullptr);
  EXPECT_STREQ(name, "plain.html");
}

}  // namespace
