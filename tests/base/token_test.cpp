// Tests of the shared tokenizer (GetToken family, ParseStr) and the framed word-list
// searches (FindToken, FindTokenC, FindTokenWithDelim).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/utils.h"

namespace {

// All tokens of a fresh scan, joined by "|".
std::string AllTokens(const char* input, const char* delims) {
  std::string s;
  for (char* p = GetToken(input, delims); p; p = GetToken(nullptr, delims)) {
    if (!s.empty()) s += "|";
    s += p;
  }
  return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// GetToken
// ---------------------------------------------------------------------------

TEST(GetToken, DelimiterRunsGiveNoEmptyTokensAndChTokenDelIsTheLastConsumed) {
  const char* in = "  a  b";
  ASSERT_STREQ(GetToken(in, " "), "a");
  EXPECT_EQ(chTokenDel, ' ');
  EXPECT_EQ(GetToken(nullptr, " "), GetTokenBuf);
  EXPECT_STREQ(GetTokenBuf, "b");
  EXPECT_EQ(chTokenDel, ' ');  // the blank skipped before b: the input's end ended b
  EXPECT_EQ(GetToken(nullptr, " "), nullptr);
  EXPECT_EQ(chTokenDel, 0);
  EXPECT_EQ(GetToken(nullptr, " "), nullptr);  // stays at the end
}

TEST(GetToken, ChTokenDelTellsWhichDelimiterEndedTheToken) {
  ASSERT_STREQ(GetToken("key=value rest", " ="), "key");
  EXPECT_EQ(chTokenDel, '=');
  ASSERT_STREQ(GetToken(nullptr, " ="), "value");
  EXPECT_EQ(chTokenDel, ' ');
  ASSERT_STREQ(GetToken(nullptr, " ="), "rest");
  EXPECT_EQ(chTokenDel, 0);
  // A mixed run: the last delimiter of the run before the token counts when the end of
  // the text ends the token.
  ASSERT_STREQ(GetToken("a,;b", ",;"), "a");
  EXPECT_EQ(chTokenDel, ',');
  ASSERT_STREQ(GetToken(nullptr, ",;"), "b");
  EXPECT_EQ(chTokenDel, ';');
}

TEST(GetToken, LeavesTheInputUnchangedAndSzTokenInAfterTheDelimiter) {
  const char in[] = "ab,cd,,ef";
  ASSERT_STREQ(GetToken(in, ","), "ab");
  EXPECT_EQ(szTokenIn, in + 3);
  EXPECT_EQ(GetTokenBufInput(), in + 3);
  ASSERT_STREQ(GetToken(nullptr, ","), "cd");
  EXPECT_EQ(szTokenIn, in + 6);
  ASSERT_STREQ(GetToken(nullptr, ","), "ef");
  EXPECT_EQ(szTokenIn, in + 9);
  EXPECT_EQ(std::string(in, sizeof in - 1), "ab,cd,,ef");
}

TEST(GetToken, EmptyAndDelimiterOnlyInputsGiveNull) {
  EXPECT_EQ(GetToken("", ","), nullptr);
  EXPECT_EQ(chTokenDel, 0);
  EXPECT_EQ(GetToken(",,,", ","), nullptr);
  EXPECT_EQ(chTokenDel, ',');
  EXPECT_STREQ(GetTokenBuf, "");
  EXPECT_EQ(AllTokens("abc", nullptr), "abc");  // no delimiters: the whole text
  SetTokenBuf(nullptr);  // no scan at all
  EXPECT_EQ(GetToken(nullptr, ","), nullptr);
  EXPECT_EQ(GetTokenParse(nullptr, ","), nullptr);
  EXPECT_EQ(GetTokenN(nullptr, ",", 2), nullptr);
}

TEST(GetToken, EscapesAreConvertedAndProtectDelimiters) {
  EXPECT_EQ(AllTokens("a\\,b,c", ","), "a,b|c");
  EXPECT_EQ(AllTokens("x\\ny\\tz\\r", ","), "x\ny\tz\r");
  EXPECT_EQ(AllTokens("a\\\\,b", ","), "a\\|b");  // two backslashes give one
  EXPECT_EQ(AllTokens("\\q\\\"", ","), "q\"");
  EXPECT_EQ(AllTokens("\\,", ","), ",");  // an escaped delimiter alone is a token
  // A trailing backslash is dropped and ends the input.
  ASSERT_STREQ(GetToken("ab\\", ","), "ab");
  EXPECT_EQ(GetToken(nullptr, ","), nullptr);
  EXPECT_EQ(GetToken("\\", ","), nullptr);
}

TEST(GetToken, NewlineModeEndsTheLineWithNull) {
  const char in[] = "a b\nc d";
  ASSERT_STREQ(GetToken(in, " \n"), "a");
  char* pAfterA = szTokenIn;
  // b is ended by the newline: null, b stays in GetTokenBuf, szTokenIn does not move.
  EXPECT_EQ(GetToken(kTokenNewline, " \n"), nullptr);
  EXPECT_STREQ(GetTokenBuf, "b");
  EXPECT_EQ(chTokenDel, '\n');
  EXPECT_EQ(szTokenIn, pAfterA);
  EXPECT_EQ(GetTokenBufInput(), in + 4);  // the scan itself went past the newline
  ASSERT_STREQ(GetToken(kTokenNewline, " \n"), "c");
  EXPECT_EQ(szTokenIn, in + 6);
  ASSERT_STREQ(GetToken(kTokenNewline, " \n"), "d");
  EXPECT_EQ(GetToken(kTokenNewline, " \n"), nullptr);
  EXPECT_EQ(chTokenDel, 0);
  // Without newline mode the newline is a delimiter like any other; a leading newline
  // never ends a line in newline mode.
  EXPECT_EQ(AllTokens(in, " \n"), "a|b|c|d");
  ASSERT_STREQ(GetToken("x\n\ny", " \n"), "x");
  ASSERT_STREQ(GetToken(kTokenNewline, " \n"), "y");
}

TEST(GetToken, LongTokensAreCutTo127AndTheScanGoesOn) {
  std::string exact(127, 'e');
  ASSERT_STREQ(GetToken((exact + ",z").c_str(), ","), exact.c_str());

  std::string longWord(300, 'x');
  std::string in = longWord + ",y";
  char* p = GetToken(in.c_str(), ",");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(p), std::string(127, 'x'));
  EXPECT_EQ(chTokenDel, ',');
  EXPECT_EQ(szTokenIn, in.c_str() + 301);
  EXPECT_STREQ(GetToken(nullptr, ","), "y");

  // Escapes count as one character each.
  std::string escaped;
  for (int i = 0; i < 200; i++) escaped += "\\n";
  ASSERT_NE(GetToken(escaped.c_str(), ","), nullptr);
  EXPECT_EQ(std::string(GetTokenBuf), std::string(127, '\n'));
}

// ---------------------------------------------------------------------------
// GetTokenParse
// ---------------------------------------------------------------------------

TEST(GetTokenParse, SplitsInPlaceSkippingDelimiterRuns) {
  char buf[] = ",a,,bc,";
  char* p = GetTokenParse(buf, ",");
  ASSERT_EQ(p, buf + 1);
  EXPECT_STREQ(p, "a");
  EXPECT_EQ(chTokenDel, ',');
  EXPECT_EQ(szTokenIn, buf + 3);
  p = GetTokenParse(nullptr, ",");
  ASSERT_EQ(p, buf + 4);
  EXPECT_STREQ(p, "bc");
  EXPECT_EQ(GetTokenParse(nullptr, ","), nullptr);
  EXPECT_EQ(chTokenDel, 0);
  EXPECT_EQ(std::string(buf, sizeof buf - 1), std::string("\0a\0\0bc\0", 7));
}

TEST(GetTokenParse, EscapesStayUnconvertedAndMinusOneContinues) {
  char buf[] = "a\\,b:c\\\\:\\";
  ASSERT_STREQ(GetTokenParse(buf, ",:"), "a\\,b");
  EXPECT_EQ(chTokenDel, ':');
  ASSERT_STREQ(GetTokenParse(const_cast<char*>(kTokenNewline), ",:"), "c\\\\");
  ASSERT_STREQ(GetTokenParse(nullptr, ",:"), "\\");  // a lone final backslash is text
  EXPECT_EQ(GetTokenParse(nullptr, ",:"), nullptr);
}

TEST(GetTokenParse, LongTokensAreNotCut) {
  std::string s = std::string(300, 'p') + ":q";
  std::vector<char> buf(s.begin(), s.end());
  buf.push_back('\0');
  ASSERT_EQ(strlen(GetTokenParse(buf.data(), ":")), 300u);
  EXPECT_STREQ(GetTokenParse(nullptr, ":"), "q");
}

// ---------------------------------------------------------------------------
// GetTokenD
// ---------------------------------------------------------------------------

TEST(GetTokenD, KeepsItsOwnPositionAndLeavesTheSharedScanAlone) {
  ASSERT_STREQ(GetToken("1 2 3", " "), "1");
  char* pShared = szTokenIn;

  char out[kTokenBufSize];
  const char* cur = nullptr;
  ASSERT_EQ(GetTokenD("x,,y\\,z", ",", &cur, out), out);
  EXPECT_STREQ(out, "x");
  EXPECT_EQ(chTokenDel, ',');
  ASSERT_EQ(GetTokenD(nullptr, ",", &cur, out), out);
  EXPECT_STREQ(out, "y,z");
  EXPECT_EQ(GetTokenD(nullptr, ",", &cur, out), nullptr);
  EXPECT_STREQ(out, "");

  EXPECT_EQ(szTokenIn, pShared);
  EXPECT_STREQ(GetTokenBuf, "1");
  EXPECT_STREQ(GetToken(nullptr, " "), "2");
}

TEST(GetTokenD, NewlineModeAndTheBufferLimit) {
  char out[kTokenBufSize];
  const char* cur = nullptr;
  ASSERT_NE(GetTokenD("a b\nc", " \n", &cur, out), nullptr);
  EXPECT_EQ(GetTokenD(kTokenNewline, " \n", &cur, out), nullptr);
  EXPECT_STREQ(out, "b");
  EXPECT_EQ(chTokenDel, '\n');
  ASSERT_NE(GetTokenD(kTokenNewline, " \n", &cur, out), nullptr);
  EXPECT_STREQ(out, "c");

  // The caller's buffer is exactly kTokenBufSize characters: a heap block of that size
  // lets the address sanitizer catch any write past it.
  std::vector<char> exact(kTokenBufSize);
  std::string in = std::string(500, 'w') + " v";
  cur = nullptr;
  ASSERT_NE(GetTokenD(in.c_str(), " ", &cur, exact.data()), nullptr);
  EXPECT_EQ(strlen(exact.data()), 127u);
  ASSERT_NE(GetTokenD(nullptr, " ", &cur, exact.data()), nullptr);
  EXPECT_STREQ(exact.data(), "v");

  EXPECT_EQ(GetTokenD(nullptr, " ", nullptr, out), nullptr);
  EXPECT_EQ(GetTokenD("a", " ", &cur, nullptr), nullptr);
}

// ---------------------------------------------------------------------------
// GetTokenN, GetTokenCount, SetTokenBuf
// ---------------------------------------------------------------------------

TEST(GetTokenN, PicksTheNthTokenAndLeavesTheScanAfterIt) {
  EXPECT_STREQ(GetTokenN("a b c", " ", 3), "c");
  EXPECT_EQ(GetTokenN("a b c", " ", 4), nullptr);
  EXPECT_STREQ(GetTokenN("a b c", " ", 0), "a");
  EXPECT_STREQ(GetTokenN("a b c", " ", -5), "a");
  ASSERT_STREQ(GetTokenN("  a  b  c", " ", 2), "b");
  EXPECT_STREQ(GetToken(nullptr, " "), "c");
  EXPECT_EQ(GetTokenN("", " ", 1), nullptr);
}

TEST(GetTokenCount, CountsWithoutDisturbingAnOngoingScan) {
  const char in[] = "one two three";
  ASSERT_STREQ(GetToken(in, " "), "one");
  char* pSaved = szTokenIn;
  EXPECT_EQ(GetTokenCount(" ,a,,b\\,c, ", ", "), 2);
  EXPECT_EQ(szTokenIn, pSaved);
  EXPECT_STREQ(GetTokenBuf, "one");
  EXPECT_STREQ(GetToken(nullptr, " "), "two");
  EXPECT_EQ(GetTokenCount("", " "), 0);
  EXPECT_EQ(GetTokenCount(",,,", ","), 0);
  EXPECT_EQ(GetTokenCount(nullptr, " "), 0);
  EXPECT_STREQ(GetToken(nullptr, " "), "three");
}

TEST(SetTokenBuf, NestedScanRestoredWithSzTokenInAndChTokenDel) {
  const char text[] = "a=1,2\nb=3\n";
  std::string seen;
  for (char* pLine = GetToken(text, "\n"); pLine; pLine = GetToken(nullptr, "\n")) {
    char* pSaveIn = szTokenIn;
    char chSaveDel = chTokenDel;
    std::string line = pLine;  // the inner scan overwrites GetTokenBuf
    for (char* p = GetToken(line.c_str(), "=,"); p; p = GetToken(nullptr, "=,")) {
      seen += p;
      seen += ".";
    }
    EXPECT_EQ(SetTokenBuf(pSaveIn), pSaveIn);
    EXPECT_EQ(szTokenIn, pSaveIn);
    EXPECT_EQ(GetTokenBufInput(), pSaveIn);
    chTokenDel = chSaveDel;
    seen += "/";
  }
  EXPECT_EQ(seen, "a.1.2./b.3./");
}

TEST(SetTokenBuf, StartsAScanThatGetTokenParseContinues) {
  char buf[] = "p:q";
  SetTokenBuf(buf);
  EXPECT_STREQ(GetTokenParse(nullptr, ":"), "p");
  EXPECT_STREQ(GetTokenParse(nullptr, ":"), "q");
  SetTokenBuf("r s");
  EXPECT_STREQ(GetToken(nullptr, " "), "r");
}

// ---------------------------------------------------------------------------
// ParseStr
// ---------------------------------------------------------------------------

TEST(ParseStr, SplitsAtDelimiterRunsUpToMax) {
  char text[] = "  a \t b\\ c  ";
  char* arr[6];
  for (auto& p : arr) p = text;  // stale entries must be cleared
  ASSERT_EQ(ParseStr(text, " \t", arr, 6), 3);
  EXPECT_STREQ(arr[0], "a");
  EXPECT_STREQ(arr[1], "b\\");  // no escapes
  EXPECT_STREQ(arr[2], "c");
  for (int i = 3; i < 6; i++) EXPECT_EQ(arr[i], nullptr);

  char text2[] = "x,y,z,w";
  char* arr2[2];
  ASSERT_EQ(ParseStr(text2, ",", arr2, 2), 2);
  EXPECT_STREQ(arr2[0], "x");
  EXPECT_STREQ(arr2[1], "y");
  EXPECT_STREQ(text2 + 4, "z,w");  // the rest is untouched
}

TEST(ParseStr, NullAndEmptyInputs) {
  char* arr[3] = {nullptr, nullptr, nullptr};
  char empty[] = ",,,";
  EXPECT_EQ(ParseStr(empty, ",", arr, 3), 0);
  arr[0] = empty;
  EXPECT_EQ(ParseStr(nullptr, ",", arr, 3), 0);
  EXPECT_EQ(arr[0], nullptr);
  EXPECT_EQ(ParseStr(empty, ",", nullptr, 3), 0);
  EXPECT_EQ(ParseStr(empty, ",", arr, 0), 0);
}

// ---------------------------------------------------------------------------
// FindToken, FindTokenC, FindTokenWithDelim
// ---------------------------------------------------------------------------

TEST(FindToken, FramedListsWithAndWithoutTheClosingSeparator) {
  EXPECT_EQ(FindToken("install", ",install,-v"), 1);
  EXPECT_EQ(FindToken("-v", ",install,-v"), 2);
  EXPECT_EQ(FindToken("v", ",install,-v"), 0);
  EXPECT_EQ(FindToken("y", ",y,yes,n,no,"), 1);
  EXPECT_EQ(FindToken("yes", ",y,yes,n,no,"), 2);
  EXPECT_EQ(FindToken("no", ",y,yes,n,no,"), 4);
  EXPECT_EQ(FindToken("x", ",x"), 1);
  EXPECT_EQ(FindToken("b", ",ab,b"), 2);   // b inside ab is no match
  EXPECT_EQ(FindToken("in", ",install,-v"), 0);
  EXPECT_EQ(FindToken("INSTALL", ",install,-v"), 0);
  EXPECT_EQ(FindToken("install,-v", ",install"), 0);
}

TEST(FindToken, EmptyWordsAndOtherFrames) {
  EXPECT_EQ(FindToken("", ",a,,b"), 2);
  EXPECT_EQ(FindToken("", ",a,"), 2);   // the empty tail after the closing separator
  EXPECT_EQ(FindToken("", ",a"), 0);
  EXPECT_EQ(FindToken("", ","), 1);
  EXPECT_EQ(FindToken("345", " 12 345 6"), 2);  // a blank-framed listing
  EXPECT_EQ(FindToken("6", " 12 345 6"), 3);
  EXPECT_EQ(FindToken("34", " 12 345 6"), 0);
  EXPECT_EQ(FindToken("b", ":a:b:"), 2);
  EXPECT_EQ(FindToken(nullptr, ",a"), 0);
  EXPECT_EQ(FindToken("a", nullptr), 0);
  EXPECT_EQ(FindToken("a", ""), 0);
}

TEST(FindToken, WordsLongerThanAnyFixedBufferAreFound) {
  std::string w(700, 'L');
  EXPECT_EQ(FindToken(w.c_str(), (",x," + w + ",y").c_str()), 2);
  EXPECT_EQ(FindToken(w.c_str(), (",x," + w).c_str()), 2);
  EXPECT_EQ(FindToken(w.c_str(), (",x," + w + "L").c_str()), 0);
}

TEST(FindTokenC, IgnoresCaseWithAndWithoutClosingSeparator) {
  EXPECT_EQ(FindTokenC("TD", ",tr,/tr,td,/td,"), 3);
  EXPECT_EQ(FindTokenC("/Td", ",tr,/tr,td,/td,"), 4);
  EXPECT_EQ(FindTokenC("b", ",a,B"), 2);
  EXPECT_EQ(FindTokenC("t", ",tr,/tr,td,/td,"), 0);
  EXPECT_EQ(FindTokenC("tdx", ",tr,td"), 0);
  EXPECT_EQ(FindTokenC("", ",a,,b"), 2);
  EXPECT_EQ(FindTokenC("", ",a,"), 2);
  EXPECT_EQ(FindTokenC("", ",a"), 0);
  EXPECT_EQ(FindTokenC("A", nullptr), 0);
  EXPECT_EQ(FindTokenC(nullptr, ",a"), 0);
  EXPECT_EQ(FindTokenC("a", ""), 0);
}

TEST(FindTokenWithDelim, PiecesStartAtTheFirstCharacter) {
  EXPECT_EQ(FindTokenWithDelim("a:b:c", "a", ':'), 1);
  EXPECT_EQ(FindTokenWithDelim("a:b:c", "c", ':'), 3);
  EXPECT_EQ(FindTokenWithDelim(":a", "", ':'), 1);
  EXPECT_EQ(FindTokenWithDelim(":a", "a", ':'), 2);
  EXPECT_EQ(FindTokenWithDelim("a:", "", ':'), 2);
  EXPECT_EQ(FindTokenWithDelim("ab:b", "a", ':'), 0);
  EXPECT_EQ(FindTokenWithDelim("a:B", "b", ':'), 0);
  EXPECT_EQ(FindTokenWithDelim(nullptr, "a", ':'), 0);
  EXPECT_EQ(FindTokenWithDelim("a", nullptr, ':'), 0);
}
