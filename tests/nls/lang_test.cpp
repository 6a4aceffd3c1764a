// Language resolution and opening catalogues.
#include <cstdlib>
#include <string>

#include "nls_test_util.h"

using namespace nls_test;

namespace {

class Lang : public NlsTest {
 protected:
  // The language resolved by a fresh process with LANG (null: unset) and the table as
  // "trans.conf" (null: none).
  std::string Resolve(const char* lang, const char* table) {
    if (table) WriteFile(Dir + "/trans.conf", table);
    Result c = RunChild([&] {
      if (lang) setenv("LANG", lang, 1);
      fputs(GetDesiredNLSLang(), stdout);
    });
    return c.out;
  }
};

TEST_F(Lang, NormalisedTable) {
  WriteFile(Dir + "/trans.conf",
           "# languages\n"
           "Default es_ES\n"
           "fr_FR=fr_FR  fr\tfrench # comment\n"
           "de_DE = de_DE de \n"
           "  de_AT a=b#c\r\n"
           "it_IT = it it_CH\r"
           "pt_BR = pt");
  EXPECT_STREQ(ParseTransFile("trans.conf"),
               "Default es_ES \n"
               "fr_FR=fr_FR fr french de_DE = de_DE de de_AT a=b#c it_IT = it it_CH pt_BR = pt ");
  EXPECT_EQ(ParseTransFile("missing.conf"), nullptr);
  WriteFile(Dir + "/empty.conf", "");
  EXPECT_EQ(ParseTransFile("empty.conf"), nullptr);
  WriteFile(Dir + "/open.conf", "en_US = en # no line end");
  EXPECT_STREQ(ParseTransFile("open.conf"), "en_US = en ");
}

TEST_F(Lang, OversizedTableEndsAfterItsLastWholeWord) {
  std::string table;
  for (int i = 0; table.size() < 9000; i++) table += "xx_" + std::to_string(i) + " ";
  WriteFile(Dir + "/trans.conf", table);
  std::string got = ParseTransFile("trans.conf");
  EXPECT_LE(got.size(), 8191u);
  EXPECT_GT(got.size(), 8180u);
  EXPECT_EQ(table.compare(0, got.size(), got), 0);
  EXPECT_EQ(got.back(), ' ');
}

TEST_F(Lang, ByTheTable) {
  const char* table =
      "Default es_ES\n"
      "fr_FR = fr_FR fr french\n"
      "de_DE = de_DE de\n"
      "de_AT de_CH\n";
  EXPECT_EQ(Resolve("fr_FR.UTF-8", table), "fr_FR");  // codeset suffix dropped
  EXPECT_EQ(Resolve("french", table), "fr_FR");
  EXPECT_EQ(Resolve("de_CH", table), "de_DE");  // on a continuation line
  EXPECT_EQ(Resolve("de_AT", table), "es_ES");  // the first word of a line is never found
  EXPECT_EQ(Resolve(nullptr, table), "es_ES");  // LANG unset: the default
  EXPECT_EQ(Resolve("es_ES", table), "en_US");  // found only before the first "="
  EXPECT_EQ(Resolve("xx_XX", "fr_FR = fr_FR fr\n"), "en_US");  // no default
}

// The table lookup on its own: any table, any LANG value, without resolving the process's
// language.
TEST(NlsTableLanguage, LooksUpWithoutResolving) {
  const char* table = "Default es_ES \nfr_FR = fr_FR fr \nde_DE = de_DE de ";
  char* resolved = pNLSLang;
  EXPECT_STREQ(NlsTableLanguage(table, "fr.ISO8859-1"), "fr_FR");
  EXPECT_STREQ(NlsTableLanguage(table, "xx"), "es_ES");
  EXPECT_STREQ(NlsTableLanguage(table, nullptr), "es_ES");
  EXPECT_STREQ(NlsTableLanguage(nullptr, "fr"), "en_US");
  EXPECT_EQ(pNLSLang, resolved);
}

TEST_F(Lang, ResolvedOncePerProcess) {
  WriteFile(Dir + "/trans.conf", "fr_FR = fr_FR fr\nen_US = en_US en\n");
  Result c = RunChild([&] {
    setenv("LANG", "fr", 1);
    printf("%s ", GetDesiredNLSLang());
    setenv("LANG", "en", 1);
    WriteFile(Dir + "/trans.conf", "");
    printf("%s", GetDesiredNLSLang());
  });
  EXPECT_EQ(c.out, "fr_FR fr_FR");
}

// Lines that the normalised table joins (a trailing comment, blank or carriage return)
// still give each entry its own language.
TEST_F(Lang, JoinedEntriesKeepTheirOwnLanguage) {
  const char* table =
      "fr_FR = fr_FR fr # French\n"
      "de_DE = de_DE de \n"
      "it_IT = it_IT it\r\n"
      "pt_BR = pt_BR pt\r\n";
  for (const char* lang : {"fr", "de", "it", "pt"}) {
    EXPECT_EQ(Resolve(lang, table).substr(0, 2), lang);
  }
}

TEST_F(Lang, CatalogueTableWithoutTransConf) {
  EXPECT_EQ(Resolve("fr_FR", nullptr), "en_US");  // nothing to go by
  MakeCatalogue("en_US", "CoreString",
                {{"999_1", "Default en_US \nit_IT = it_IT it italian \n"}});
  EXPECT_EQ(Resolve("italian", nullptr), "it_IT");
  EXPECT_EQ(Resolve("de", nullptr), "en_US");
  Result c = RunChild([] {
    GetDesiredNLSLang();
    fputs(pDrvCoreDB ? "opened" : "null", stdout);
  });
  EXPECT_EQ(c.out, "opened");
}

TEST_F(Lang, OpeningCatalogues) {
  pNLSLang = SaveStr_("en_US");
  EXPECT_EQ(NlsOpenDB("CoreString", 0), nullptr);  // en_US without its file
  MakeCatalogue("en_US", "CoreString", {{"25_1001", "Press Enter"}});
  DbT* db = NlsOpenDB("CoreString", 2);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->Flags, 2);
  EXPECT_STREQ(NlsFetchString(db, nullptr, kNlsBySetNumber, 25, 1001), "Press Enter");

  pNLSLang = SaveStr_("fr_FR");  // another language: a handle even without a file...
  DbT* fr = NlsOpenDB("CoreString", 0);
  ASSERT_NE(fr, nullptr);
  EXPECT_STREQ(NlsFetchString(fr, nullptr, kNlsBySetNumber, 25, 1001), "25_1001");
  MakeCatalogue("fr_FR", "CoreString", {{"25_1001", "Appuyez sur Entrée"}});
  // ...which finds the messages once the file is there.
  EXPECT_STREQ(NlsFetchString(fr, nullptr, kNlsBySetNumber, 25, 1001), "Appuyez sur Entrée");
}

}  // namespace

namespace {

TEST_F(Lang, SampleTransConf) {
  std::string sample = ReadFile(std::string(KORVI_SOURCE_DIR) + "/nls/catalogues/trans.conf");
  EXPECT_EQ(Resolve("de_AT.ISO8859-1", sample.c_str()), "de_DE");
  EXPECT_EQ(Resolve("fr_CA", sample.c_str()), "fr_FR");
  EXPECT_EQ(Resolve("C", sample.c_str()), "en_US");
  EXPECT_EQ(Resolve("pt_PT.UTF-8", sample.c_str()), "pt_BR");
  EXPECT_EQ(Resolve("sv_SE", sample.c_str()), "en_US");
}

}  // namespace
