// eula_test.cpp - the agreement texts and the language they are chosen by.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "installer/setup.h"

KORVI_EMBEDDED(EULA_en_US);

namespace {

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

TEST(GetEULAText, LanguagesWithoutTheirOwnTextShowEnglish) {
  for (const char* code : {"es_ES", "fr_FR", "ge_GE", "ja_JP", "zh_TW", "xx_XX", "", "en_US"})
    EXPECT_EQ(GetEULAText(code), static_cast<const char*>(EULA_en_US)) << code;
  EXPECT_EQ(GetEULAText(nullptr), static_cast<const char*>(EULA_en_US));
}

}  // namespace
