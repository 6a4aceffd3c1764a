// eula_test.cpp - the agreement texts and the language they are chosen by.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "installer/setup.h"

KORVI_EMBEDDED(EULA_en_US);

namespace {

const char* const kCodes[] = {"en_US", "es_ES", "it_IT", "fr_FR", "ge_GE", "pr_BR", "cs_CZ",
                              "fi_FI", "hu_HU", "nl_NL", "no_NO", "pl_PL", "ru_RU", "sv_SE",
                              "tr_TR", "da_DK", "zh_CN", "zh_TW", "ko_KO", "ja_JP"};

// The code points of a UTF-8 text; false when it is not valid UTF-8 (overlong forms,
// surrogates and values past U+10FFFF included).
bool DecodeUtf8(const std::string& s, std::u32string* out) {
  for (size_t i = 0; i < s.size();) {
    unsigned char c = s[i];
    int n = c < 0x80 ? 0 : c >= 0xc2 && c < 0xe0 ? 1 : c >= 0xe0 && c < 0xf0 ? 2
            : c >= 0xf0 && c < 0xf5 ? 3 : -1;
    if (n < 0 || i + n >= s.size()) return false;
    char32_t cp = n == 0 ? c : c & (0x3f >> n);
    for (int k = 1; k <= n; k++) {
      unsigned char d = s[i + k];
      if ((d & 0xc0) != 0x80) return false;
      cp = cp << 6 | (d & 0x3f);
    }
    static const char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[n] || cp > 0x10ffff || (cp >= 0xd800 && cp < 0xe000)) return false;
    out->push_back(cp);
    i += n + 1;
  }
  return true;
}

// Terminal columns of a code point: two for the wide East Asian scripts.
int Columns(char32_t c) {
  bool wide = (c >= 0x1100 && c <= 0x115f) || (c >= 0x2e80 && c <= 0xa4cf && c != 0x303f) ||
              (c >= 0xac00 && c <= 0xd7a3) || (c >= 0xf900 && c <= 0xfaff) ||
              (c >= 0xfe30 && c <= 0xfe4f) || (c >= 0xff00 && c <= 0xff60) ||
              (c >= 0xffe0 && c <= 0xffe6);
  return wide ? 2 : 1;
}

std::vector<std::u32string> Lines(const std::u32string& text) {
  std::vector<std::u32string> lines(1);
  for (char32_t c : text) {
    if (c == U'\n')
      lines.emplace_back();
    else
      lines.back() += c;
  }
  return lines;
}

bool IsDigit(char32_t c) { return c >= U'0' && c <= U'9'; }

// The numbering of the text's sections and items, in order: "1.", "1.1", "(a)", ...
// A heading starts its line with "<n>. ", a clause with "<n>.<m> ", an item is indented
// and starts with "(<letter>) ".
std::string Numbering(const std::vector<std::u32string>& lines) {
  std::string labels;
  for (const std::u32string& line : lines) {
    size_t i = 0;
    while (i < line.size() && IsDigit(line[i])) i++;
    if (i > 0 && i + 1 < line.size() && line[i] == U'.') {
      size_t j = i + 1;
      while (j < line.size() && IsDigit(line[j])) j++;
      bool heading = j == i + 1 && line[j] == U' ', clause = j > i + 1 && line[j] == U' ';
      if (heading || clause) labels += std::string(line.begin(), line.begin() + j) + " ";
      continue;
    }
    size_t k = line.find_first_not_of(U' ');
    if (k > 0 && k != std::u32string::npos && k + 3 < line.size() && line[k] == U'(' &&
        line[k + 1] >= U'a' && line[k + 1] <= U'z' && line[k + 2] == U')' && line[k + 3] == U' ')
      labels += std::string("(") + static_cast<char>(line[k + 1]) + ") ";
  }
  return labels;
}

// The paragraphs of a text (separated by empty lines) as counts of their non-blank
// characters.
std::vector<int> Paragraphs(const std::vector<std::u32string>& lines) {
  std::vector<int> sizes;
  bool flIn = false;
  for (const std::u32string& line : lines) {
    int n = 0;
    for (char32_t c : line) n += c != U' ' && c != 0xa0 && c != 0x3000;
    if (n == 0) {
      flIn = false;
      continue;
    }
    if (!flIn) sizes.push_back(0);
    flIn = true;
    sizes.back() += n;
  }
  return sizes;
}

int Occurrences(const std::string& text, const std::string& word) {
  int n = 0;
  for (size_t p = text.find(word); p != std::string::npos; p = text.find(word, p + 1)) n++;
  return n;
}

// How often the English words that carry the agreement's sentences occur as whole words.
int EnglishWords(const std::string& text) {
  int n = 0;
  for (const char* w : {"the", "and", "of", "you", "will", "shall", "this", "with", "any"}) {
    size_t len = strlen(w);
    for (size_t p = text.find(w); p != std::string::npos; p = text.find(w, p + 1)) {
      bool before = p == 0 || !isalpha(static_cast<unsigned char>(text[p - 1]));
      bool after = p + len >= text.size() || !isalpha(static_cast<unsigned char>(text[p + len]));
      n += before && after;
    }
  }
  return n;
}

// The letter c stands alone in the line: no ASCII letter right before or after it.
bool HasLoneLetter(const std::u32string& line, char32_t c) {
  auto letter = [](char32_t x) { return (x >= U'a' && x <= U'z') || (x >= U'A' && x <= U'Z'); };
  for (size_t i = 0; i < line.size(); i++) {
    if (line[i] == c && (i == 0 || !letter(line[i - 1])) &&
        (i + 1 == line.size() || !letter(line[i + 1])))
      return true;
  }
  return false;
}

TEST(GetEULAText, EnglishIsACompleteTextEndingInTheQuestion) {
  std::string text = GetEULAText("en_US");
  EXPECT_EQ(text.c_str(), std::string(EULA_en_US));
  EXPECT_GE(text.size(), 8000u);
  EXPECT_LE(text.size(), 25000u);
  EXPECT_EQ(text.size(), EULA_en_USLen);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  const std::string question = "\nAgree (y) / Disagree (n)?";
  ASSERT_GE(text.size(), question.size());
  EXPECT_EQ(text.substr(text.size() - question.size()), question);
  for (const char* heading : {"GRANT OF LICENCE", "RESTRICTIONS", "OWNERSHIP", "WARRANTY",
                              "LIMITATION OF LIABILITY", "TERMINATION", "EXPORT",
                              "GOVERNING TERMS"}) {
    std::string upper = text;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    EXPECT_NE(upper.find(heading), std::string::npos) << heading;
  }
  for (unsigned char c : text) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << int(c);
}

TEST(GetEULAText, UnknownCodesShowEnglish) {
  for (const char* code : {"xx_XX", "", "en_US", "EN_US", "fr", "ko_KR"})
    EXPECT_EQ(GetEULAText(code), static_cast<const char*>(EULA_en_US)) << code;
  EXPECT_EQ(GetEULAText(nullptr), static_cast<const char*>(EULA_en_US));
}

TEST(GetEULAText, EveryLanguageHasItsOwnCompleteAgreement) {
  std::u32string english;
  ASSERT_TRUE(DecodeUtf8(EULA_en_US, &english));
  const std::string numbering = Numbering(Lines(english));
  const std::vector<int> paragraphs = Paragraphs(Lines(english));
  int total = 0;
  for (int n : paragraphs) total += n;
  ASSERT_EQ(numbering.substr(0, 16), "1. 1.1 1.2 1.3 1");
  std::set<std::string> seen;
  for (const char* code : kCodes) {
    SCOPED_TRACE(code);
    const char* data = GetEULAText(code);
    std::string text = data;
    bool flEnglish = strcmp(code, "en_US") == 0;
    EXPECT_EQ(data == static_cast<const char*>(EULA_en_US), flEnglish) << "no text of its own";
    EXPECT_TRUE(seen.insert(text).second) << "the same text as another language";

    std::u32string cps;
    ASSERT_TRUE(DecodeUtf8(text, &cps)) << "not UTF-8";
    for (char32_t c : cps)
      ASSERT_TRUE(c == U'\n' || (c >= 0x20 && c != 0x7f && c != 0xfeff)) << uint32_t(c);
    // As long as the English text: the East Asian scripts say the same in fewer characters.
    bool flEastAsian = code[0] == 'z' || code[0] == 'j' || code[0] == 'k';
    double ratio = static_cast<double>(cps.size()) / english.size();
    EXPECT_GE(ratio, flEastAsian ? 0.25 : 0.9);
    EXPECT_LE(ratio, flEastAsian ? 0.8 : 1.5);
    // Complete: every section, clause and item in the English order, every paragraph in
    // proportion to its English one, every name and number.
    std::vector<std::u32string> lines = Lines(cps);
    EXPECT_EQ(Numbering(lines), numbering);
    std::vector<int> own = Paragraphs(lines);
    ASSERT_EQ(own.size(), paragraphs.size());
    int ownTotal = 0;
    for (int n : own) ownTotal += n;
    for (size_t i = 0; i < own.size(); i++) {
      if (paragraphs[i] < 150) continue;  // headings and short lines vary too much
      double share = (static_cast<double>(own[i]) / ownTotal) /
                     (static_cast<double>(paragraphs[i]) / total);
      EXPECT_GE(share, 0.65) << "paragraph " << i + 1;
      EXPECT_LE(share, 1.6) << "paragraph " << i + 1;
    }
    for (const char* name : {"Velmora", "Korvi", "Solaris", "System V", "LPRng", "CUPS", "90",
                             "30", "7.1", "10.4", "13"}) {
      EXPECT_GE(Occurrences(text, name), Occurrences(EULA_en_US, name)) << name;
    }
    if (!flEnglish) {
      EXPECT_LE(EnglishWords(text), 3) << "left in English";
    }
    for (const std::u32string& line : lines) {
      int cols = 0;
      for (char32_t c : line) cols += Columns(c);
      EXPECT_LE(cols, 80) << "wider than the terminal";
    }
    // The last line asks for the letters y and n.
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    ASSERT_FALSE(lines.empty());
    const std::u32string& question = lines.back();
    EXPECT_TRUE(HasLoneLetter(question, U'y'));
    EXPECT_TRUE(HasLoneLetter(question, U'n'));
    EXPECT_TRUE(question.back() == U'?' || question.back() == U'\xff1f');
    EXPECT_LT(question.size(), 60u);
  }
}

TEST(GetEULAText, SimplifiedAndTraditionalChineseKeepToTheirScripts) {
  // The same words in the two scripts: software, agreement, licence, we, this, for, with.
  const std::string simplified[] = {"\xe8\xbd\xaf", "\xe5\x8d\x8f", "\xe8\xae\xae",
                                    "\xe8\xae\xb8", "\xe4\xbb\xac", "\xe8\xbf\x99",
                                    "\xe4\xb8\xba", "\xe4\xb8\x8e"};
  const std::string traditional[] = {"\xe8\xbb\x9f", "\xe5\x8d\x94", "\xe8\xad\xb0",
                                     "\xe8\xa8\xb1", "\xe5\x80\x91", "\xe9\x80\x99",
                                     "\xe7\x82\xba", "\xe8\x88\x87"};
  std::string cn = GetEULAText("zh_CN"), tw = GetEULAText("zh_TW");
  int cnOwn = 0, twOwn = 0;
  for (int i = 0; i < 8; i++) {
    EXPECT_EQ(cn.find(traditional[i]), std::string::npos) << "zh_CN " << i;
    EXPECT_EQ(tw.find(simplified[i]), std::string::npos) << "zh_TW " << i;
    cnOwn += cn.find(simplified[i]) != std::string::npos;
    twOwn += tw.find(traditional[i]) != std::string::npos;
  }
  EXPECT_GE(cnOwn, 5);
  EXPECT_GE(twOwn, 5);
}

}  // namespace
