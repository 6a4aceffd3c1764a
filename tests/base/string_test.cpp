// Tests of the path and text functions, string searches, SortTokens, SetVarContent,
// MaxD, CvtFloatFormat and Gets.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "base/utils.h"

namespace {

// Makes standard input read the given bytes.
void FeedStdin(const std::string& bytes) {
  char path[] = "/tmp/string_test_stdin_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fd);
  ASSERT_NE(freopen(path, "r", stdin), nullptr);
  unlink(path);
}

std::string Sorted(const char* list, char delim, int ignoreCase) {
  std::string s = list;
  std::string buf = s;  // SortTokens works in place
  EXPECT_EQ(SortTokens(&buf[0], delim, ignoreCase), &buf[0]);
  EXPECT_EQ(buf.size(), s.size());
  return buf.c_str();
}

}  // namespace

// ---------------------------------------------------------------------------
// Paths
// ---------------------------------------------------------------------------

TEST(StripPath, LastElementOfAPath) {
  EXPECT_STREQ(StripPath("/a/b/c"), "c");
  EXPECT_STREQ(StripPath("/a/b/"), "b");
  EXPECT_STREQ(StripPath("//a//"), "a");
  EXPECT_STREQ(StripPath("a"), "a");
  EXPECT_STREQ(StripPath("a/"), "a");
  EXPECT_STREQ(StripPath("/"), "/");
  EXPECT_STREQ(StripPath("///"), "///");
  EXPECT_STREQ(StripPath(""), "");
  EXPECT_STREQ(StripPath(nullptr), "");
}

TEST(StripFn, DirectoryPart) {
  EXPECT_STREQ(StripFn("/a/b/c"), "/a/b");
  EXPECT_STREQ(StripFn("/a/b/"), "/a/b");
  EXPECT_STREQ(StripFn("a/b"), "a");
  EXPECT_STREQ(StripFn("/a"), "/");
  EXPECT_STREQ(StripFn("/"), "/");
  EXPECT_STREQ(StripFn("a"), ".");
  EXPECT_STREQ(StripFn(""), ".");
  EXPECT_STREQ(StripFn(nullptr), ".");
}

TEST(StripExt, CutAtTheFirstDotAfterANonDot) {
  EXPECT_STREQ(StripExt("file.tar.Z"), "file");
  EXPECT_STREQ(StripExt(".profile"), ".profile");
  EXPECT_STREQ(StripExt(".profile.old"), ".profile");
  EXPECT_STREQ(StripExt("..x.y"), "..x");
  EXPECT_STREQ(StripExt("a."), "a");
  EXPECT_STREQ(StripExt("."), ".");
  EXPECT_STREQ(StripExt(".."), "..");
  EXPECT_STREQ(StripExt("plain"), "plain");
  EXPECT_STREQ(StripExt("dir.d/file"), "dir");  // a name, not a path
  EXPECT_STREQ(StripExt(nullptr), "");
}

TEST(StripPathExt, LastElementWithoutExtension) {
  EXPECT_STREQ(StripPathExt("/opt/dist/Solarisi386Kvln.tar.Z"), "Solarisi386Kvln");
  EXPECT_STREQ(StripPathExt("/home/.profile"), ".profile");
  EXPECT_STREQ(StripPathExt("/a.d/b.c/"), "b");
  EXPECT_STREQ(StripPathExt("x.y"), "x");
  EXPECT_STREQ(StripPathExt(""), "");
  EXPECT_STREQ(StripPathExt(nullptr), "");
}

TEST(StripPathName, FileNameOrEmpty) {
  EXPECT_STREQ(StripPathName(nullptr), "");
  EXPECT_STREQ(StripPathName("."), "");
  EXPECT_STREQ(StripPathName(".."), "");
  EXPECT_STREQ(StripPathName("name.txt"), "name.txt");
  EXPECT_STREQ(StripPathName("/a/b"), "b");
  EXPECT_STREQ(StripPathName("/a/b/"), "");
  EXPECT_STREQ(StripPathName("/a/.."), "");
  EXPECT_STREQ(StripPathName("/a/."), "");
  EXPECT_STREQ(StripPathName("/a/.x"), ".x");
}

TEST(StaticPathBuffers, EachFunctionHasItsOwnBufferReusedByTheNextCall) {
  char* p1 = StripPath("/a/one");
  char* p2 = StripFn("/b/two");
  char* p3 = StripExt("three.x");
  char* p4 = StripPathExt("/c/four.y");
  char* p5 = StripPathName("/d/five");
  EXPECT_STREQ(p1, "one");
  EXPECT_STREQ(p2, "/b");
  EXPECT_STREQ(p3, "three");
  EXPECT_STREQ(p4, "four");
  EXPECT_STREQ(p5, "five");
  EXPECT_EQ(StripPath("/again"), p1);
  EXPECT_STREQ(p1, "again");
  EXPECT_EQ(StripFn(nullptr), p2);
}

TEST(StaticPathBuffers, LongResultsAreCutToTheBuffer) {
  std::string longName(400, 'n');
  std::string longDir = "/" + std::string(400, 'd');
  std::string path = longDir + "/" + longName + ".ext";
  EXPECT_EQ(std::string(StripPath(path.c_str())), std::string(127, 'n'));
  EXPECT_EQ(std::string(StripPathExt(path.c_str())), std::string(127, 'n'));
  EXPECT_EQ(std::string(StripExt((longName + ".e").c_str())), std::string(127, 'n'));
  EXPECT_EQ(std::string(StripPathName(path.c_str())), std::string(127, 'n'));
  EXPECT_EQ(std::string(StripPathName(longName.c_str())), std::string(127, 'n'));
  EXPECT_EQ(std::string(StripFn(path.c_str())), ("/" + std::string(254, 'd')));
  // At the limit nothing is cut.
  std::string fits = "/" + std::string(126, 'f');
  EXPECT_EQ(std::string(StripPath((fits + "/x").c_str())), "x");
  EXPECT_EQ(std::string(StripPath(fits.c_str())), std::string(126, 'f'));
  std::string dir255 = std::string(255, 'g');
  EXPECT_EQ(std::string(StripFn((dir255 + "/x").c_str())), dir255);
}

// ---------------------------------------------------------------------------
// Texts
// ---------------------------------------------------------------------------

TEST(SkipSpace, SkipsTheCLocaleSpaceClass) {
  const char* s = " \t\n\v\f\rx y";
  EXPECT_EQ(SkipSpace(s), s + 6);
  const char* t = "\xa0z";  // not a space in the "C" locale
  EXPECT_EQ(SkipSpace(t), t);
  const char* e = "   ";
  EXPECT_EQ(SkipSpace(e), e + 3);
  EXPECT_EQ(SkipSpace(nullptr), nullptr);
}

TEST(StripAllBackslashes, RemovesEveryBackslash) {
  char s[] = "a\\\\b\\c\\";
  EXPECT_EQ(StripAllBackslashes(s), s);
  EXPECT_STREQ(s, "abc");
  EXPECT_EQ(StripAllBackslashes(nullptr), nullptr);
}

TEST(StripNonPrint, RemovesControlAndHighBytes) {
  char s[] = "a\tb\r\nc\x7f\x80\xff d~";
  EXPECT_EQ(StripNonPrint(s, 0), s);
  EXPECT_STREQ(s, "abc d~");
  char t[] = "a\tb\r\nc\x01";
  EXPECT_STREQ(StripNonPrint(t, 1), "ab\r\nc");
  EXPECT_EQ(StripNonPrint(nullptr, 0), nullptr);
}

TEST(StrLen, CountsAndTakesNull) {
  EXPECT_EQ(StrLen("abc"), 3);
  EXPECT_EQ(StrLen(""), 0);
  EXPECT_EQ(StrLen(nullptr), 0);
}

TEST(StrChr, SkipsEscapedCharacters) {
  const char* s = "a\\,b,c";
  EXPECT_EQ(StrChr(s, ','), s + 4);
  const char* t = "\\\\,";  // an escaped backslash, then a real comma
  EXPECT_EQ(StrChr(t, ','), t + 2);
  EXPECT_EQ(StrChr("a\\,", ','), nullptr);
  EXPECT_EQ(StrChr("ab\\", 'x'), nullptr);
  EXPECT_EQ(StrChr("a\\", '\\'), nullptr);
  EXPECT_EQ(StrChr(nullptr, ','), nullptr);
}

TEST(StrNChr, NthOccurrence) {
  const char* s = "a,b,c";
  EXPECT_EQ(StrNChr(s, ',', 1), s + 1);
  EXPECT_EQ(StrNChr(s, ',', 2), s + 3);
  EXPECT_EQ(StrNChr(s, ',', 3), nullptr);
  EXPECT_EQ(StrNChr(s, ',', 0), nullptr);
  EXPECT_EQ(StrNChr(nullptr, ',', 1), nullptr);
  EXPECT_EQ(StrNChr(s, '\0', 2), nullptr);
}

TEST(StrStr, FirstOccurrenceAndNulls) {
  const char* s = "abcabc";
  EXPECT_EQ(StrStr(s, "ca"), s + 2);
  EXPECT_EQ(StrStr(s, "abc"), s);
  EXPECT_EQ(StrStr(s, "abcd"), nullptr);
  EXPECT_EQ(StrStr(s, "ABC"), nullptr);
  EXPECT_EQ(StrStr(s, ""), nullptr);
  EXPECT_EQ(StrStr(nullptr, "a"), nullptr);
  EXPECT_EQ(StrStr(s, nullptr), nullptr);
  EXPECT_EQ(StrStr("", "a"), nullptr);
}

TEST(StrCaseStr, IgnoresCase) {
  const char* s = "Hello World";
  EXPECT_EQ(StrCaseStr(s, "WORLD"), s + 6);
  EXPECT_EQ(StrCaseStr(s, "lo w"), s + 3);
  EXPECT_EQ(StrCaseStr(s, "worlds"), nullptr);
  EXPECT_EQ(StrCaseStr(s, ""), nullptr);
  EXPECT_EQ(StrCaseStr(nullptr, "x"), nullptr);
}

TEST(StrNStr, OverlappingOccurrences) {
  const char* s = "aaaa";
  EXPECT_EQ(StrNStr(s, "aa", 1), s);
  EXPECT_EQ(StrNStr(s, "aa", 2), s + 1);
  EXPECT_EQ(StrNStr(s, "aa", 3), s + 2);
  EXPECT_EQ(StrNStr(s, "aa", 4), nullptr);
  EXPECT_EQ(StrNStr(s, "aa", 0), nullptr);
  EXPECT_EQ(StrNStr(s, "", 1), nullptr);
  EXPECT_EQ(StrNStr(nullptr, "a", 1), nullptr);
}

// ---------------------------------------------------------------------------
// SortTokens
// ---------------------------------------------------------------------------

TEST(SortTokens, SortsWordsAscending) {
  EXPECT_EQ(Sorted("c,a,b", ',', 0), "a,b,c");
  EXPECT_EQ(Sorted("abc,ab,a,abd", ',', 0), "a,ab,abc,abd");
  EXPECT_EQ(Sorted("pear apple fig", ' ', 0), "apple fig pear");
  EXPECT_EQ(Sorted("b,a,B,A", ',', 0), "A,B,a,b");
  EXPECT_EQ(Sorted("only", ',', 0), "only");
  EXPECT_EQ(Sorted("", ',', 0), "");
  EXPECT_EQ(SortTokens(nullptr, ',', 0), nullptr);
}

TEST(SortTokens, IgnoringCaseKeepsTheOrderOfEqualWords) {
  EXPECT_EQ(Sorted("b,A,a,B", ',', 1), "A,a,b,B");
  EXPECT_EQ(Sorted("Zeta,alpha,BETA", ',', 1), "alpha,BETA,Zeta");
  EXPECT_EQ(Sorted("x,X,x", ',', 1), "x,X,x");
}

TEST(SortTokens, FramesAndEmptyWords) {
  EXPECT_EQ(Sorted(",,c,a", ',', 0), ",,a,c");   // leading delimiters stay in front
  EXPECT_EQ(Sorted(",b,a,", ',', 0), ",a,b,");   // the closing delimiter stays at the end
  EXPECT_EQ(Sorted("b,,a", ',', 0), ",a,b");     // an empty word sorts first
  EXPECT_EQ(Sorted(",,,", ',', 0), ",,,");
  // A prefix sorts before the longer word whatever the delimiter's code.
  EXPECT_EQ(Sorted("abc~ab~b", '~', 0), "ab~abc~b");
}

// Blocks and free nodes of the pool: the same before and after a call that only borrows.
std::pair<int, long> PoolUse() {
  int nBlocks = 0;
  long nFree = 0;
  for (MemBlock* b = pMemB; b; b = b->pNext, nBlocks++) nFree += b->FreeNodeCount;
  return {nBlocks, nFree};
}

TEST(SortTokens, LongListsThroughThePoolWhichGetsItsCopyBack) {
  void* pKeep = GetMem(1);  // keeps a block, so a returned copy shows as free nodes
  auto before = PoolUse();
  std::string list;
  for (int i = 999; i >= 0; i--) {
    char w[8];
    snprintf(w, sizeof w, "%04d", i);
    list += w;
    if (i) list += ",";
  }
  std::string out = Sorted(list.c_str(), ',', 0);
  EXPECT_EQ(out.substr(0, 15), "0000,0001,0002,");
  EXPECT_EQ(out.substr(out.size() - 9), "0998,0999");
  EXPECT_EQ(PoolUse(), before);
  EXPECT_EQ(MemPoolIsValid(), 1);
  PutMem(pKeep);
}

// ---------------------------------------------------------------------------
// SetVarContent, MaxD, CvtFloatFormat
// ---------------------------------------------------------------------------

TEST(SetVarContent, CopiesForwardOrReversed) {
  char dst[5] = "....";
  EXPECT_EQ(SetVarContent(dst, "abcd", 4, 0), 4);
  EXPECT_STREQ(dst, "abcd");
  EXPECT_EQ(SetVarContent(dst, "wxyz", 4, 1), 4);
  EXPECT_STREQ(dst, "zyxw");
  EXPECT_EQ(SetVarContent(dst, "12", 2, 1), 2);
  EXPECT_STREQ(dst, "21xw");
  EXPECT_EQ(SetVarContent(dst, dst, 4, 1), 4);  // in place
  EXPECT_STREQ(dst, "wx12");
  uint32_t v = 0x11223344, r = 0;
  SetVarContent(&r, &v, 4, 1);
  EXPECT_EQ(r, 0x44332211u);
  EXPECT_EQ(SetVarContent(dst, "q", 0, 0), 0);
  EXPECT_STREQ(dst, "wx12");
}

TEST(MaxD, LargerOfTwo) {
  EXPECT_EQ(MaxD(1.5, 2.5), 2.5);
  EXPECT_EQ(MaxD(3.0, -3.0), 3.0);
  EXPECT_EQ(MaxD(-1.0, -1.0), -1.0);
}

TEST(CvtFloatFormat, ConvertsBetweenInchesCentimetresAndPoints) {
  EXPECT_FLOAT_EQ(CvtFloatFormat(1.0f, 0, 2), 72.0f);
  EXPECT_FLOAT_EQ(CvtFloatFormat(2.54f, 1, 0), 1.0f);
  EXPECT_FLOAT_EQ(CvtFloatFormat(5.0f, 1, 1), 5.0f);
  EXPECT_FLOAT_EQ(CvtFloatFormat(1.0f, 0, 1), 2.54f);
  EXPECT_FLOAT_EQ(CvtFloatFormat(144.0f, 2, 0), 2.0f);
  EXPECT_FLOAT_EQ(CvtFloatFormat(2.54f, 1, 2), 72.0f);
  EXPECT_FLOAT_EQ(CvtFloatFormat(72.0f, 2, 1), 2.54f);
  EXPECT_FLOAT_EQ(CvtFloatFormat(7.0f, 3, 0), 7.0f);
  EXPECT_FLOAT_EQ(CvtFloatFormat(7.0f, 0, -1), 7.0f);
}

// ---------------------------------------------------------------------------
// Gets
// ---------------------------------------------------------------------------

TEST(Gets, ReadsLinesWithoutTheirNewline) {
  FeedStdin("first line\n\nlast");
  char buf[64];
  ASSERT_EQ(Gets(buf, sizeof buf), buf);
  EXPECT_STREQ(buf, "first line");
  ASSERT_EQ(Gets(buf, sizeof buf), buf);
  EXPECT_STREQ(buf, "");
  ASSERT_EQ(Gets(buf, sizeof buf), buf);  // a last line without newline
  EXPECT_STREQ(buf, "last");
  EXPECT_EQ(Gets(buf, sizeof buf), nullptr);
  EXPECT_STREQ(buf, "");
}

TEST(Gets, ALongLineIsCutAndItsRestStaysUnread) {
  FeedStdin("yes\nabcdefg\n");
  char buf[4];
  ASSERT_EQ(Gets(buf, 4), buf);
  EXPECT_STREQ(buf, "yes");
  ASSERT_EQ(Gets(buf, 4), buf);  // the newline left by the first call
  EXPECT_STREQ(buf, "");
  ASSERT_EQ(Gets(buf, 4), buf);
  EXPECT_STREQ(buf, "abc");
  ASSERT_EQ(Gets(buf, 4), buf);
  EXPECT_STREQ(buf, "def");
  ASSERT_EQ(Gets(buf, 4), buf);
  EXPECT_STREQ(buf, "g");
  EXPECT_EQ(Gets(buf, 4), nullptr);
}

TEST(Gets, AByte0xFFIsTextAndBadArgumentsReadNothing) {
  FeedStdin("a\xff" "b\nnext\n");
  char buf[16];
  ASSERT_EQ(Gets(buf, sizeof buf), buf);
  EXPECT_STREQ(buf, "a\xff" "b");
  EXPECT_EQ(Gets(nullptr, 16), nullptr);
  EXPECT_EQ(Gets(buf, 0), nullptr);
  ASSERT_EQ(Gets(buf, 1), buf);  // room for the NUL only
  EXPECT_STREQ(buf, "");
  ASSERT_EQ(Gets(buf, sizeof buf), buf);
  EXPECT_STREQ(buf, "next");
}

TEST(Gets, EmptyInputGivesNull) {
  FeedStdin("");
  char buf[8] = "x";
  EXPECT_EQ(Gets(buf, sizeof buf), nullptr);
}
