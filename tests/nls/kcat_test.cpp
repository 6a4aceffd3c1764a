// kcat, the catalogue compiler, as a translator runs it; and the shipped English catalogue.
#include <string>

#include "nls_test_util.h"

using namespace nls_test;

namespace {

class KcatTool : public NlsTest {};

TEST_F(KcatTool, SourceToCatalogueAndBack) {
  WriteFile(Dir + "/in.msg",
           "$ a comment\n"
           "# another\n"
           "\n"
           "25 1001 Press Enter\n"
           "25 1017 Leave %s?\\040\n"
           "30 22 tab\\there \\\"quoted\\\" back\\\\slash \\101\\x42 caf\xC3\xA9\n"
           "999 1 Default en_US \\n\\\n"
           "en_US = en_US en \\n\n"
           "7 1  two blanks lead\n"
           "7 2\n"
           "$key intro.help Introduction\n");
  Result c = Kcat({"-o", Dir + "/db/en_US/Test.kdb", Dir + "/in.msg"});
  ASSERT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(c.err, "");
  DbT* db = Open("en_US", "Test");
  char out[kNlsStrBufSize];
  EXPECT_STREQ(NlsFetchString(db, out, kNlsBySetNumber, 25, 1017), "Leave %s? ");
  EXPECT_STREQ(NlsFetchString(db, out, kNlsBySetNumber, 30, 22),
               "tab\there \"quoted\" back\\slash AB caf\xC3\xA9");
  EXPECT_STREQ(NlsFetchString(db, out, kNlsBySetNumber, 999, 1), "Default en_US \nen_US = en_US en \n");
  EXPECT_STREQ(NlsFetchString(db, out, kNlsBySetNumber, 7, 1), " two blanks lead");
  EXPECT_STREQ(NlsFetchString(db, out, kNlsBySetNumber, 7, 2), "");
  EXPECT_STREQ(NlsFetchString(db, out, kNlsByKey, "intro.help"), "Introduction");
  EXPECT_EQ(DbmTGetRecordSize(db, "25_1001"), 12);  // the text and its zero byte

  Result d = Kcat({"-d", Dir + "/db/en_US/Test.kdb"});
  ASSERT_EQ(d.status, 0);
  EXPECT_EQ(d.out,
            "$ Messages of " + Dir + "/db/en_US/Test.kdb\n"
            "7 1 \\040two blanks lead\n"
            "7 2 \n"
            "25 1001 Press Enter\n"
            "25 1017 Leave %s?\\040\n"
            "30 22 tab\\there \"quoted\" back\\\\slash AB caf\xC3\xA9\n"
            "999 1 Default en_US \\n\\\n"
            "en_US = en_US en \\n\n"
            "$key intro.help Introduction\n");
  // The decompiled source compiles to the same catalogue.
  WriteFile(Dir + "/back.msg", d.out);
  ASSERT_EQ(Kcat({"-o", Dir + "/db/en_US/Back.kdb", Dir + "/back.msg"}).status, 0);
  EXPECT_EQ(Kcat({"-d", Dir + "/db/en_US/Back.kdb"}).out.substr(d.out.find('\n')),
            d.out.substr(d.out.find('\n')));
}

TEST_F(KcatTool, StrictAboutTheSource) {
  WriteFile(Dir + "/bad.msg",
           "25 1 fine\n"
           "25 1 again\n"
           "25 2 bad \\q escape\n"
           "25 x no number\n"
           "25 3\\\n"
           "4 joined key\n"
           "0 1 zero set\n"
           "25 4 \\0 zero byte\n"
           "$set 3\n"
           "25 5text\n");
  std::filesystem::create_directories(Dir + "/db/en_US");
  WriteFile(Dir + "/db/en_US/Old.kdb", "keep");
  Result c = Kcat({"-o", Dir + "/db/en_US/Old.kdb", Dir + "/bad.msg"});
  EXPECT_EQ(c.status, 1);
  const std::string f = Dir + "/bad.msg:";
  EXPECT_EQ(c.err,
            f + "2: set 25 number 1: already defined at " + f + "1\n" +
            f + "3: set 25 number 2: unknown escape \\q\n" +
            f + "4: expected SET NUMBER text, each number from 1 to 2147483647\n" +
            f + "7: expected SET NUMBER text, each number from 1 to 2147483647\n" +
            f + "8: set 25 number 4: \\0 would end the message there\n" +
            f + "9: unknown directive $set\n" +
            f + "10: expected a blank between the key and the text\n" +
            "kcat: 7 errors; " + Dir + "/db/en_US/Old.kdb not written\n");
  EXPECT_EQ(ReadFile(Dir + "/db/en_US/Old.kdb"), "keep");
  // Line 5 continued into line 6: the entry "25 34 joined key" is fine.
  EXPECT_EQ(Kcat({}).status, 2);
  EXPECT_EQ(Kcat({"-x", "a"}).err,
            "usage: kcat -o CATALOGUE.kdb SOURCE...\n"
            "       kcat -d CATALOGUE.kdb\n"
            "       kcat --check REFERENCE CATALOGUE...\n");
}

TEST_F(KcatTool, CheckComparesConversionsWithTheReference) {
  WriteFile(Dir + "/en.msg",
           "25 1003 From %d to %d.\n"
           "25 1007 Character '%c' not allowed; only \"%s\".\n"
           "40 1 %s has %ld files\n"
           "40 2 plain\n");
  ASSERT_EQ(Kcat({"-o", Dir + "/db/en_US/Core.kdb", Dir + "/en.msg"}).status, 0);
  WriteFile(Dir + "/good.msg",
           "25 1003 De %i a %d.\n"
           "25 1007 Caractere '%c' interdit ; seulement \"%s\".\n"
           "40 1 %s a %ld fichiers (100%%)\n");
  Result ok = Kcat({"--check", Dir + "/db/en_US/Core.kdb", Dir + "/good.msg"});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.err, "");

  WriteFile(Dir + "/bad.msg",
           "25 1003 De %d.\n"
           "25 1007 \"%s\" seulement, pas '%c'.\n"
           "40 1 %s a %d fichiers\n"
           "40 2 ecrit%n\n"
           "40 3 extra\n");
  ASSERT_EQ(Kcat({"-o", Dir + "/db/fr_FR/Core.kdb", Dir + "/bad.msg"}).status, 0);
  for (std::string file : {Dir + "/bad.msg", Dir + "/db/fr_FR/Core.kdb"}) {
    Result c = Kcat({"--check", Dir + "/db/en_US/Core.kdb", file});
    EXPECT_EQ(c.status, 1);
    EXPECT_EQ(c.err,
              file + ": set 25 number 1003: expected conversions \"%d, %d\", found \"%d\"\n" +
              file + ": set 25 number 1007: expected conversions \"%c, %s\", found \"%s, %c\"\n" +
              file + ": set 40 number 1: expected conversions \"%s, %ld\", found \"%s, %d\"\n" +
              file + ": set 40 number 2: expected conversions \"none\", found \"%n\" (%n is never allowed)\n" +
              file + ": set 40 number 3: warning: not in the reference catalogue\n" +
              "kcat: 4 conversion errors\n");
  }
}

TEST_F(KcatTool, CoreStringIsHeldToWhatTheToolkitPasses) {
  WriteFile(Dir + "/CoreString.msg", "25 1017 Leave %d\n25 1001 Press Enter\n");
  Result c = Kcat({"--check", Dir + "/CoreString.msg", Dir + "/CoreString.msg"});
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(c.err, Dir + "/CoreString.msg: set 25 number 1017: expected conversions \"%s\", found \"%d\"\n" +
                       "kcat: 1 conversion error\n");
}

// The catalogue the build ships: checked, complete, and found through NlsOpenDB.
TEST_F(KcatTool, ShippedEnglishCatalogue) {
  const std::string kdb = kShippedDir + "/db/en_US/CoreString.kdb";
  Result c = Kcat({"--check", kdb, kdb});
  EXPECT_EQ(c.status, 0) << c.err;
  pToolPath = SaveStr_(kShippedDir.c_str());
  pNLSLang = SaveStr_("en_US");
  DbT* db = NlsOpenDB("CoreString", 2);
  ASSERT_NE(db, nullptr);
  const int kToolkit[][2] = {
      {20, 150}, {20, 151}, {20, 152}, {25, 201}, {25, 202}, {25, 203}, {25, 204},
      {25, 205}, {25, 206}, {25, 207}, {25, 208}, {25, 230}, {25, 231}, {25, 232},
      {25, 270}, {25, 271}, {25, 510}, {25, 1000}, {25, 1001}, {25, 1002}, {25, 1003},
      {25, 1004}, {25, 1006}, {25, 1007}, {25, 1008}, {25, 1009}, {25, 1011}, {25, 1016},
      {25, 1017}, {25, 1018}, {25, 1020}, {25, 1024}, {25, 1025}, {30, 22}, {30, 42},
      {30, 44}, {999, 1}};
  char out[kNlsStrBufSize];
  for (const auto& m : kToolkit) {
    std::string key = std::to_string(m[0]) + "_" + std::to_string(m[1]);
    EXPECT_STRNE(NlsFetchString(db, out, kNlsBySetNumber, m[0], m[1]), key.c_str()) << key;
    EXPECT_TRUE(m[0] == 999 || NlsCheckArgs(out, m[0], m[1])) << key;
  }
  EXPECT_EQ(std::string(NlsFetchString(db, out, kNlsBySetNumber, 20, 150)).substr(0, 3), "~e ");
  Result lang = RunChild([] {
    pNLSLang = nullptr;
    setenv("LANG", "en_GB.UTF-8", 1);
    fputs(GetDesiredNLSLang(), stdout);
  });
  EXPECT_EQ(lang.out, "en_US");
}

}  // namespace
