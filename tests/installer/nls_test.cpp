// nls_test.cpp - the setup message tables, their data files and the two language choices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "installer/setup.h"

KORVI_EMBEDDED(SetupMessages_en);
KORVI_EMBEDDED(SetupMessages_es);
KORVI_EMBEDDED(SetupMessages_it);
KORVI_EMBEDDED(SetupMessages_fr);
KORVI_EMBEDDED(SetupMessages_ge);
KORVI_EMBEDDED(SetupMessages_pr);

namespace {

// The English table as its data file gives it: what the translations are measured against.
const char* const* English() {
  static const char* table[kSetupMsgCount];
  static int bad = -1;
  static const int ok = ParseSetupMessages(SetupMessages_en, table, &bad);
  EXPECT_EQ(ok, 1) << "line " << bad;
  return table;
}

void SetLang(const char* value) {
  if (value)
    setenv("LANG", value, 1);
  else
    unsetenv("LANG");
  ResetSetupLanguage();
}

std::string Signature(const char* fmt) {
  std::string sig;
  for (const char* p = fmt; *p; p++) {
    if (*p != '%') continue;
    p++;
    while (*p && strchr("-+ #0123456789.lh", *p)) p++;
    if (*p && *p != '%') sig += *p;
    if (!*p) break;
  }
  return sig;
}

class SetupLanguage : public testing::Test {
 protected:
  void SetUp() override {
    const char* p = getenv("LANG");
    flHadLang = p != nullptr;
    if (p) savedLang = p;
  }
  void TearDown() override { SetLang(flHadLang ? savedLang.c_str() : nullptr); }
  bool flHadLang = false;
  std::string savedLang;
};

TEST(ParseSetupMessages, EnglishFileFillsEveryEntry) {
  const char* table[kSetupMsgCount] = {};
  int bad = -1;
  ASSERT_EQ(ParseSetupMessages(SetupMessages_en, table, &bad), 1) << "line " << bad;
  for (int i = 0; i < kSetupMsgCount; i++) EXPECT_NE(table[i], nullptr) << i;
}

// A translated table: its name, its data file, and the entries beyond the three shared ones
// that may read as in English because the English text is right in that language too.
struct Translation {
  const char* name;
  const char* data;
  std::set<int> sameAsEnglish;
};
const Translation kTranslations[] = {
    {"Spanish", SetupMessages_es, {28, 58}}, {"Italian", SetupMessages_it, {28}},
    {"French", SetupMessages_fr, {28}},      {"German", SetupMessages_ge, {28}},
    {"Portuguese", SetupMessages_pr, {28}},
};

// Leading or trailing blanks, tabs and line ends of a text.
std::string Edge(const std::string& s, bool leading) {
  const char* blank = " \t\n";
  if (leading) return s.substr(0, std::min(s.size(), s.find_first_not_of(blank)));
  size_t last = s.find_last_not_of(blank);
  return last == std::string::npos ? s : s.substr(last + 1);
}

// Why the bytes are not ISO 8859-1 text (line ends, tabs, printable characters), or "".
// A UTF-8 sequence for a Latin letter (0xc2 or 0xc3 and a byte 0x80 to 0xbf) would show
// as two wrong letters, so it is refused as well.
std::string NotLatin1Text(const std::string& s) {
  for (size_t i = 0; i < s.size(); i++) {
    unsigned char c = s[i], next = i + 1 < s.size() ? s[i + 1] : 0;
    if (c < 0x20 && c != '\n' && c != '\t') return "control byte at " + std::to_string(i);
    if (c == 0x7f || (c >= 0x80 && c < 0xa0)) return "non-text byte at " + std::to_string(i);
    if ((c == 0xc2 || c == 0xc3) && next >= 0x80 && next < 0xc0)
      return "UTF-8 sequence at " + std::to_string(i);
  }
  return "";
}

// Lists of choices: "_" marks the hot key of a choice, "," separates the choices.
const std::set<int> kChoiceLists = {40, 41, 45, 46, 47, 48, 50};

// A choice list as "_" or "." per choice ("_,_" for "_No,_Yes").
std::string ChoiceShape(const std::string& list) {
  std::string shape;
  bool flStart = true;
  for (char c : list) {
    if (flStart) shape += c == '_' ? '_' : '.';
    flStart = c == ',';
    if (flStart) shape += ',';
  }
  return shape;
}

TEST(SetupMessageTables, EveryTranslationIsCompleteTranslatedAndPrintsItsArguments) {
  // Texts that programs and users read, kept in every language.
  const std::map<int, std::vector<std::string>> kept = {
      {21, {"%sInstall/disks"}},
      {24, {"/floppy/floppy0/disks"}},
      {26, {"%s/disks"}},
      {29, {"/dev/%s"}},
      {35, {"root"}},
      {39, {"offset_files", "disk1"}},
      {47, {"_TCP/IP,"}},
      {49, {"/new_work_area_path", "/tmp\n", "`setup /new_work_area_path`"}},
      {51, {"ppd/*"}},
      {55, {"/new_install_path", "'setup install /new_install_path'"}},
      {59, {"KavlonD"}},
      {61, {"Velmora Services for Unix Systems"}},
      {62, {"KavlonD"}},
      {63, {" [yn] "}},
      {65, {"isize"}},
      {68, {"1.  "}},
      {69, {"2.  "}},
  };
  for (const Translation& t : kTranslations) {
    SCOPED_TRACE(t.name);
    EXPECT_EQ(NotLatin1Text(t.data), "");
    const char* table[kSetupMsgCount] = {};
    int bad = -1;
    ASSERT_EQ(ParseSetupMessages(t.data, table, &bad), 1) << "line " << bad;
    std::set<int> same;
    for (int i = 0; i < kSetupMsgCount; i++) {
      SCOPED_TRACE("entry " + std::to_string(i));
      ASSERT_NE(table[i], nullptr);
      std::string text = table[i], en = English()[i];
      EXPECT_EQ(Signature(table[i]), Signature(English()[i]));
      EXPECT_EQ(NotLatin1Text(text), "");
      EXPECT_EQ(text.empty(), en.empty());
      EXPECT_EQ(Edge(text, true), Edge(en, true));
      EXPECT_EQ(Edge(text, false), Edge(en, false));
      for (char c : {'\n', '\t'}) {
        EXPECT_EQ(std::count(text.begin(), text.end(), c), std::count(en.begin(), en.end(), c));
      }
      // Hot keys: the letter after "~", and "_" before each choice of a list.
      if (en[0] == '~') {
        EXPECT_EQ(text.substr(0, 3), en.substr(0, 3));
      }
      if (kChoiceLists.count(i)) {
        EXPECT_EQ(ChoiceShape(text), ChoiceShape(en));
      }
      auto k = kept.find(i);
      for (const std::string& word : k != kept.end() ? k->second : std::vector<std::string>{}) {
        EXPECT_NE(text.find(word), std::string::npos) << word;
      }
      if (text == en) same.insert(i);
    }
    for (int i : {15, 16, 57}) {
      EXPECT_STREQ(table[i], English()[i]);
      same.erase(i);
    }
    EXPECT_EQ(same, t.sameAsEnglish);
  }
}

TEST(ParseSetupMessages, EscapesCommentsAndRawBytes) {
  const char* table[kSetupMsgCount] = {};
  const char* data =
      "# comment\n"
      "\n"
      "  3 \"a\\tb\\nc\\\\d\\\"e\"   \r\n"
      "4\t\"caf\\xe9 \xe0\"\n"
      "57 \"\"";
  ASSERT_EQ(ParseSetupMessages(data, table, nullptr), 1);
  EXPECT_STREQ(table[3], "a\tb\nc\\d\"e");
  EXPECT_STREQ(table[4], "caf\xe9 \xe0");
  EXPECT_STREQ(table[57], "");
  EXPECT_EQ(table[5], nullptr);
}

TEST(ParseSetupMessages, RefusesBadLinesAndNamesThem) {
  const char* const bad[] = {
      "71 \"out of range\"\n", "3 \"unclosed\n",   "3 \"bad \\q escape\"\n",
      "3 unquoted\n",          "x3 \"a\"\n",       "3 \"a\" trailing\n",
      "3\"no blank\"\n",       "3 \"nul \\x00\"\n", "3 \"short \\x4\"\n",
  };
  for (const char* data : bad) {
    const char* table[kSetupMsgCount] = {};
    int line = 0;
    EXPECT_EQ(ParseSetupMessages(data, table, &line), 0) << data;
    EXPECT_EQ(line, 1) << data;
  }
  const char* table[kSetupMsgCount] = {};
  int line = 0;
  EXPECT_EQ(ParseSetupMessages("# c\n1 \"ok\"\n\n2 \"x\n", table, &line), 0);
  EXPECT_EQ(line, 4);
  EXPECT_STREQ(table[1], "ok");
}

TEST(FillSetupTable, TranslationsThatCannotPrintTheirArgumentsFallBackToEnglish) {
  const char* table[kSetupMsgCount] = {};
  FillSetupTable(table,
                 "3 \"ERREUR : impossible d'ouvrir %s\"\n"  // fits
                 "35 \"%d est connect\xe9\\nDevenez root pour lancer %s\\n\"\n"  // %d for %s
                 "49 \"Pas de place dans %s (%e octets) %s\"\n"  // one too many
                 "55 \"Pas de place : %e octets dans %s\"\n"    // order changed
                 "56 \"Pas de place: %s, %s, %5.1e octets, 100%% plein\"\n"  // fits
                 "15 \"autre chose\"\n"
                 "57 \"rien\"\n");
  EXPECT_STREQ(table[3], "ERREUR : impossible d'ouvrir %s");
  EXPECT_STREQ(table[35], English()[35]);
  EXPECT_STREQ(table[49], English()[49]);
  EXPECT_STREQ(table[55], English()[55]);
  EXPECT_STREQ(table[56], "Pas de place: %s, %s, %5.1e octets, 100%% plein");
  EXPECT_STREQ(table[15], English()[15]);
  EXPECT_STREQ(table[57], "");
  EXPECT_STREQ(table[70], English()[70]);  // missing entries are English
}

TEST(FillSetupTable, EntriesFromABadLineOnStayEnglish) {
  const char* table[kSetupMsgCount] = {};
  FillSetupTable(table, "1 \"un\"\n2 \"deux\n3 \"trois\"\n");
  EXPECT_STREQ(table[1], "un");
  EXPECT_STREQ(table[2], English()[2]);
  EXPECT_STREQ(table[3], English()[3]);
}

TEST_F(SetupLanguage, MessagesFollowTheSixExactCodes) {
  struct Case {
    const char* lang;
    const char** table;
  };
  const Case cases[] = {
      {nullptr, NLS_ENGLISH},          {"en_US", NLS_ENGLISH},
      {"es_ES", NLS_SPANISH},          {"it_IT", NLS_ITALIAN},
      {"fr_FR.ISO8859-1", NLS_FRENCH}, {"ge_GE", NLS_GERMAN},
      {"pr_BR", NLS_PORTUGUESE},       {"fr_CA", NLS_ENGLISH},
      {"fr", NLS_ENGLISH},             {"de_DE", NLS_ENGLISH},
      {"C", NLS_ENGLISH},              {"", NLS_ENGLISH},
      {"FR_FR", NLS_ENGLISH},
  };
  for (const Case& c : cases) {
    SetLang(c.lang);
    EXPECT_EQ(nlsSetupStrCvt(kMsgCouldntOpen), c.table[kMsgCouldntOpen]) << c.lang;
    EXPECT_EQ(pCurLang, c.table) << (c.lang ? c.lang : "(unset)");
  }
}

TEST_F(SetupLanguage, LookupIsTheTablesOwnTextAndOutOfRangeIsEmpty) {
  SetLang(nullptr);
  EXPECT_EQ(nlsSetupStrCvt(70), NLS_ENGLISH[70]);
  EXPECT_STREQ(nlsSetupStrCvt(70), "\nEnter a selection:  ");
  EXPECT_STREQ(nlsSetupStrCvt(57), "");
  EXPECT_STREQ(nlsSetupStrCvt(-1), "");
  EXPECT_STREQ(nlsSetupStrCvt(71), "");
}

TEST_F(SetupLanguage, CodesetSuffixIsCutInTheEnvironment) {
  SetLang("fr_FR.ISO8859-1");
  nlsSetupStrCvt(0);
  EXPECT_STREQ(getenv("LANG"), "fr_FR");
  SetLang("zh_TW.BIG5");
  EXPECT_STREQ(GetTargetNLSLang(), "zh_TW");
  EXPECT_STREQ(getenv("LANG"), "zh_TW");
  SetLang("a.b.c");
  GetTargetNLSLang();
  EXPECT_STREQ(getenv("LANG"), "a");
}

TEST_F(SetupLanguage, AgreementLanguageFromTheMappingText) {
  const char* const cases[][2] = {
      {nullptr, "en_US"},     {"fr_FR.ISO8859-1", "fr_FR"}, {"fr_CA", "fr_FR"},
      {"fr", "fr_FR"},        {"de_DE", "ge_GE"},           {"de", "ge_GE"},
      {"ge_GE", "ge_GE"},     {"es", "pr_BR"},              {"es_MX", "es_ES"},
      {"sv_FI", "fi_FI"},     {"sv_SE", "sv_SE"},           {"C", "en_US"},
      {"en_GB", "en_US"},     {"en", "en_US"},              {"POSIX", "en_US"},
      {"ko_KR", "en_US"},     {"japanese", "ja_JP"},        {"nese", "en_US"},
      {"zh_TW.BIG5", "zh_TW"}, {"pt_PT", "pr_BR"},          {"nb_NO", "no_NO"},
      {"De_DE", "ge_GE"},     {"fran\xc3\xa7" "ais", "fr_FR"}, {"espa\xc3\xb1ol", "es_ES"},
      {"ru_UA", "ru_RU"},     {"", "en_US"},                {"ko_KO", "ko_KO"},
  };
  for (const auto& c : cases) {
    SetLang(c[0]);
    EXPECT_STREQ(GetTargetNLSLang(), c[1]) << (c[0] ? c[0] : "(unset)");
  }
}

TEST_F(SetupLanguage, AgreementLanguageIsChosenOnce) {
  SetLang("fr_FR");
  const char* first = GetTargetNLSLang();
  setenv("LANG", "ja_JP", 1);
  EXPECT_EQ(GetTargetNLSLang(), first);
  EXPECT_STREQ(first, "fr_FR");
}

TEST(TransBuf, TheTwentyOneLinesExactly) {
  const char* expected =
      "en_US = en_US en english en_AU en_BW en_CA\n"
      "en_DK en_GB en_IE en_NZ en_SE en_ZA en_ZW\n"
      "pr_BR = pr_BR pt portuguese pt_BR pt_PT\n"
      "fr_FR = fr_FR fr fran\xc3\xa7" "ais french fr_BE fr_CA fr_CH fr\n"
      "it_IT = it_IT it italian\n"
      "ge_GE = ge_GE ge german de de_AT de_CH De_DE de_DE\n"
      "es_ES = es_ES es spanish espa\xc3\xb1ol es_AR es_BO es_CL es_CO es_CR es_EC es_GT es_MX "
      "es_NI es_PA es_PE es_PY es_SV es_UY es_VE\n"
      "cs_CZ = cs_CZ\n"
      "fi_FI = fi_FI finnish sv_FI\n"
      "hu_HU = hu_HU hungarian\n"
      "nl_NL = nl_NL nl_BE\n"
      "no_NO = nb_NO nn_NO no_NO norwegian nynorsk se_NO\n"
      "pl_PL = pl_PL\n"
      "ru_RU = ru_RU russian ru_UA\n"
      "sv_SE = sv_FI sv_SE\n"
      "tr_TR = tr_TR\n"
      "da_DK = da_DK danish dansk\n"
      "zh_CN = zh_CN\n"
      "zh_TW = zh_TW\n"
      "ko_KO = ko_KO korean\n"
      "ja_JP = ja_JP japanese\n";
  EXPECT_STREQ(pTransBuf, expected);
}

}  // namespace
