// Tests of the in-place line editors: each editor's rule on the lines, the file names (with and
// without extension), the temporary file beside the file, refusal of unsafe or overlong names,
// the OpenIOFiles/ReplaceInputFile pair and GenName.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "base/utils.h"
#include "tests/support/test_support.h"

using namespace ktest;

namespace {

// A private directory holding the file "<dir>/conf.cfg" (base name B, extension "cfg").
class EditTest : public testing::Test {
 protected:
  TempDir Tmp{"kedit"};
  std::string Dir = Tmp.path, B = Dir + "/conf", F = B + ".cfg";
};

// ---------------------------------------------------------------------------
// The editors
// ---------------------------------------------------------------------------

TEST_F(EditTest, FileChangeReplacesTheFirstOccurrence) {
  WriteFile(F, "a=b=c\nplain\n=\n");
  EXPECT_EQ(FileChange(B.c_str(), "cfg", "=", ": "), 0);
  EXPECT_EQ(ReadFile(F), "a: b=c\nplain\n: \n");
  EXPECT_FALSE(Exists(B + ".cfgout"));  // the copy was moved into place
  EXPECT_EQ(FileChange(B.c_str(), "cfg", "b=c", ""), 0);
  EXPECT_EQ(ReadFile(F), "a: \nplain\n: \n");
}

TEST_F(EditTest, AnEmptyExtensionNamesTheBaseFileAndItsOutCopy) {
  WriteFile(B, "x\n");
  WriteFile(B + ".cfg", "untouched\n");
  // The temporary file is conf.out: a file of that name is replaced by the edit.
  WriteFile(B + ".out", "old copy\n");
  EXPECT_EQ(FileChange(B.c_str(), "", "x", "y"), 0);
  EXPECT_EQ(ReadFile(B), "y\n");
  EXPECT_EQ(ReadFile(B + ".cfg"), "untouched\n");
  EXPECT_FALSE(Exists(B + ".out"));
  EXPECT_EQ(FileChange(B.c_str(), nullptr, "y", "z"), 0);
  EXPECT_EQ(ReadFile(B), "z\n");
}

TEST_F(EditTest, FileChangeCharReplacesEveryOccurrence) {
  WriteFile(F, "a\tb\t\tc\n");
  EXPECT_EQ(FileChangeChar(B.c_str(), "cfg", "9", "32,32"), 0);
  EXPECT_EQ(ReadFile(F), "a  b    c\n");
  EXPECT_EQ(FileChangeChar(B.c_str(), "cfg", "0x20", "0x5f,0,0x5f"), 0);  // a 0 ends the list
  EXPECT_EQ(ReadFile(F), "a__b____c\n");
  EXPECT_EQ(FileChangeChar(B.c_str(), "cfg", "0137", nullptr), 0);  // octal; null deletes
  EXPECT_EQ(ReadFile(F), "abc\n");
}

TEST_F(EditTest, FileChangeCharRefusesBadCodesBeforeTouchingTheFile) {
  WriteFile(F, "a\n");
  std::string sList = "65";
  for (int i = 0; i < 130; i++) sList += ",65";
  Result c = RunChild([&] { FileChangeChar(B.c_str(), "cfg", "97", sList.c_str()); });
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(c.err.rfind("ERROR: too many replacement characters", 0), 0u) << c.err;
  c = RunChild([&] { FileChangeChar(B.c_str(), "cfg", "tab", "32"); });
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(c.err.rfind("ERROR: ", 0), 0u);
  EXPECT_EQ(ReadFile(F), "a\n");
  EXPECT_FALSE(Exists(B + ".cfgout"));
}

TEST_F(EditTest, FileDelKeepsTheFirstCountAndCutsThePatternFromLaterLines) {
  WriteFile(F, "x1 x\ny\nx2 x\nx3\n");
  EXPECT_EQ(FileDel(B.c_str(), "cfg", 1, "x"), 0);
  EXPECT_EQ(ReadFile(F), "x1 x\ny\n2 x\n3\n");
}

TEST_F(EditTest, FileDelLineKeepsTheFirstCountAndDeletesLaterLines) {
  WriteFile(F, "x1\ny\nx2\nx3\n");
  EXPECT_EQ(FileDelLine(B.c_str(), "cfg", 1, "x"), 0);
  EXPECT_EQ(ReadFile(F), "x1\ny\n");
  WriteFile(F, "x1\ny\n");
  EXPECT_EQ(FileDelLine(B.c_str(), "cfg", 0, "x"), 0);
  EXPECT_EQ(ReadFile(F), "y\n");
}

TEST_F(EditTest, FileDelLinePairDeletesEachOpenerWithItsCloser) {
  WriteFile(F, "BEGIN\na\nEND\nb\nEND\n");
  EXPECT_EQ(FileDelLinePair(B.c_str(), "cfg", 0, "BEGIN", "END"), 0);
  EXPECT_EQ(ReadFile(F), "a\nb\nEND\n");
  WriteFile(F, "BEGIN 1\nBEGIN 2\nEND\nEND\nEND\n");
  EXPECT_EQ(FileDelLinePair(B.c_str(), "cfg", 1, "BEGIN", "END"), 0);
  EXPECT_EQ(ReadFile(F), "BEGIN 1\nEND\nEND\n");
}

TEST_F(EditTest, FileDelFormatBySelector) {
  WriteFile(F, "x=1 # note\nplain\n");
  EXPECT_EQ(FileDelFormat(B.c_str(), "cfg", "a", "#"), 0);
  EXPECT_EQ(ReadFile(F), "x=1 #\nplain\n");
  WriteFile(F, "x=1 # note\nplain\n");
  EXPECT_EQ(FileDelFormat(B.c_str(), "cfg", "b", "#"), 0);
  EXPECT_EQ(ReadFile(F), "# note\nplain\n");
  WriteFile(F, "x=1 # note\nplain\n");
  EXPECT_EQ(FileDelFormat(B.c_str(), "cfg", "l", "#"), 0);
  EXPECT_EQ(ReadFile(F), "plain\n");
  WriteFile(F, "x=1 # note #\nplain\n");
  EXPECT_EQ(FileDelFormat(B.c_str(), "cfg", "", "# "), 0);
  EXPECT_EQ(ReadFile(F), "x=1 note #\nplain\n");
  WriteFile(F, "a\r\nb\r\n");
  EXPECT_EQ(FileDelFormat(B.c_str(), "cfg", "c", "13"), 0);
  EXPECT_EQ(ReadFile(F), "a\nb\n");
  EXPECT_EQ(FileDelFormat(B.c_str(), "cfg", "line", "b"), 0);  // only the first character counts
  EXPECT_EQ(ReadFile(F), "a\n");
}

TEST_F(EditTest, FileDelFormatWithAnUnknownSelectorChangesNothing) {
  WriteFile(F, "x=1 # note\n");
  EXPECT_EQ(FileDelFormat(B.c_str(), "cfg", "z", "#"), 1);
  EXPECT_EQ(ReadFile(F), "x=1 # note\n");
  EXPECT_FALSE(Exists(B + ".cfgout"));
}

TEST_F(EditTest, FileInsertNumbersTheLines) {
  WriteFile(F, "a\nb\nc\n");
  EXPECT_EQ(FileInsert(B.c_str(), "cfg", "%s1%#1: "), 0);
  EXPECT_EQ(ReadFile(F), "00000: a\n00001: b\n00002: c\n");
  WriteFile(F, "a\nb\nc\nd\n");
  EXPECT_EQ(FileInsert(B.c_str(), "cfg", "L%#2|"), 0);  // counter from 0: no prefix below 2
  EXPECT_EQ(ReadFile(F), "a\nb\nL00000|c\nL00001|d\n");
  WriteFile(F, "a\nb\n");
  EXPECT_EQ(FileInsert(B.c_str(), "cfg", "%s7> "), 0);  // no "%#": the text itself
  EXPECT_EQ(ReadFile(F), "> a\n> b\n");
  WriteFile(F, "a\n");
  EXPECT_EQ(FileInsert(B.c_str(), "cfg", "%s12%#2 "), 0);
  EXPECT_EQ(ReadFile(F), "00010 a\n");
}

TEST_F(EditTest, FileSearchInsertNumbersOnlyMatchingLines) {
  WriteFile(F, "queue a\nother\nqueue b\n");
  EXPECT_EQ(FileSearchInsert(B.c_str(), "cfg", "%s0%#0 ", "queue"), 0);
  EXPECT_EQ(ReadFile(F), "00000 queue a\nother\n00001 queue b\n");
}

TEST_F(EditTest, LongLinesArriveInPiecesAndAreKept) {
  std::string sLong(1500, 'k');
  WriteFile(F, sLong + "=\n");
  EXPECT_EQ(FileChange(B.c_str(), "cfg", "=", ":"), 0);
  EXPECT_EQ(ReadFile(F), sLong + ":\n");
  EXPECT_EQ(FileInsert(B.c_str(), "cfg", "> "), 0);  // each piece of 510 counts as a line
  EXPECT_EQ(ReadFile(F), "> " + sLong.substr(0, 510) + "> " + sLong.substr(0, 510) + "> " +
                            sLong.substr(0, 480) + ":\n");
}

// ---------------------------------------------------------------------------
// Failures and refusals
// ---------------------------------------------------------------------------

TEST_F(EditTest, AMissingFileEndsTheProgram) {
  Result c = RunChild([&] {
    my_name = SaveStr_("setup");
    FileChange(B.c_str(), "none", "a", "b");
  });
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(c.err, "\nsetup: can't open file, " + B + ".none : No such file or directory\n");
}

TEST_F(EditTest, UnsafeAndOverlongNamesAreRefusedAndNothingRuns) {
  WriteFile(F, "a\n");
  const char* aBad[] = {"$(touch MARK)", "`touch MARK`", "x;touch MARK", "a b", "a\"b", "a\nb"};
  for (const char* pBad : aBad) {
    std::string sName = Dir + "/" + pBad;
    WriteFile(sName, "a\n");
    Result c = RunChild([&] {
      if (chdir(Dir.c_str()) != 0) _exit(9);
      FileChange(sName.c_str(), "", "a", "b");
    });
    EXPECT_EQ(c.status, 1) << pBad;
    EXPECT_EQ(c.err.rfind("ERROR: ", 0), 0u) << c.err;
    EXPECT_FALSE(Exists(Dir + "/MARK")) << pBad;
    EXPECT_EQ(ReadFile(sName), "a\n") << pBad;
  }
  Result c = RunChild([&] { FileChange(B.c_str(), "cfg;touch MARK", "a", "b"); });
  EXPECT_EQ(c.status, 1);
  std::string sLong = Dir + "/" + std::string(130, 'n');
  c = RunChild([&] { FileChange(sLong.c_str(), "", "a", "b"); });
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(c.err.rfind("ERROR: file name too long", 0), 0u) << c.err;
  std::string sEdge = Dir + "/" + std::string(127 - Dir.size() - 1 - 4, 'm');  // out copy: 127
  WriteFile(sEdge, "a\n");
  EXPECT_EQ(FileChange(sEdge.c_str(), "", "a", "b"), 0);
  EXPECT_EQ(ReadFile(sEdge), "b\n");
  EXPECT_EQ(ReadFile(F), "a\n");
  EXPECT_FALSE(Exists(Dir + "/MARK"));
}

TEST_F(EditTest, AnIncompleteCopyLeavesTheFileAsItWas) {
  if (!Exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  WriteFile(F, "a\n");
  ASSERT_EQ(symlink("/dev/full", (B + ".cfgout").c_str()), 0);  // every write fails
  Result c = RunChild([&] { printf("%d", FileChange(B.c_str(), "cfg", "a", "b")); });
  EXPECT_EQ(c.out, "1");
  EXPECT_EQ(c.err, "ERROR: couldn't write " + B + ".cfgout\n");
  EXPECT_EQ(ReadFile(F), "a\n");
}

// ---------------------------------------------------------------------------
// OpenIOFiles, ReplaceInputFile, GenName
// ---------------------------------------------------------------------------

TEST_F(EditTest, OpenIOFilesLeavesTheCopyingToTheCaller) {
  WriteFile(F, "one\ntwo\n");
  FILE* f = OpenIOFiles(B.c_str(), "cfg");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f, pOut);
  EXPECT_EQ(std::string(Fn), F);
  EXPECT_EQ(std::string(FnOut), F + "out");
  char buf[64];
  while (fgets(buf, sizeof buf, pIn)) fprintf(pOut, "[%s", buf);
  EXPECT_EQ(ReplaceInputFile(), 0);
  EXPECT_EQ(pIn, nullptr);
  EXPECT_EQ(pOut, nullptr);
  EXPECT_EQ(ReadFile(F), "[one\n[two\n");
  EXPECT_FALSE(Exists(F + "out"));
  EXPECT_STREQ(Line, ("mv " + F + "out " + F).c_str());  // the command is built in Line
  // Without an extension the copy is <name>out, not <name>.out.
  WriteFile(B, "x\n");
  ASSERT_NE(OpenIOFiles(B.c_str(), ""), nullptr);
  EXPECT_EQ(std::string(FnOut), B + "out");
  fputs("y\n", pOut);
  EXPECT_EQ(ReplaceInputFile(), 0);
  EXPECT_EQ(ReadFile(B), "y\n");
}

TEST(GenName, UpperCamelCaseFromTheWords) {
  EXPECT_STREQ(GenName("my printer.name"), "MyPrinterName");
  EXPECT_STREQ(GenName("x-2y"), "X2y");
  EXPECT_STREQ(GenName("  12 LASER jet"), "LaserJet");
  EXPECT_STREQ(GenName("1234 -- !"), "");
  EXPECT_STREQ(GenName(nullptr), "");
  std::string sLong(300, 'a');
  EXPECT_EQ(strlen(GenName(sLong.c_str())), 127u);
}

}  // namespace
