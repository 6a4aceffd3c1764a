// Tests of file access and queries: existence by listing, status, opening and its reports, the
// line readers, whole-file reads, and the file-system changes run through the command table,
// including planted links in world-writable directories.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "base/utils.h"
#include "tests/support/test_support.h"
#include "syscmd/SysCmd.h"

using namespace ktest;

namespace {

// A fresh private directory under /tmp, removed afterwards.
class FileTest : public testing::Test {
 protected:
  void SetUp() override { CloseInputFile(); }
  void TearDown() override { CloseInputFile(); }
  std::string P(const std::string& name) const { return Tmp / name; }
  TempDir Tmp{"kfile"};
  std::string Dir = Tmp.path;
};

// ---------------------------------------------------------------------------
// FindFile and status
// ---------------------------------------------------------------------------

TEST_F(FileTest, FindFileInItsFourForms) {
  EXPECT_EQ(FindFile("/etc", "passwd"), 1);
  EXPECT_EQ(FindFile(nullptr, "/etc/passwd"), 1);
  EXPECT_EQ(FindFile("/etc/passwd", nullptr), 1);
  EXPECT_EQ(FindFile("/etc/passwd", ""), 1);
  mkdir(P("sub").c_str(), 0755);
  WriteFile(P("sub/a"), "x");
  EXPECT_EQ(FindFile(Dir.c_str(), "sub/a"), 1);  // joined, then split at the last "/"
  EXPECT_EQ(FindFile(Dir.c_str(), "sub/b"), 0);
  EXPECT_EQ(FindFile("/etc", "no-such-entry"), 0);
  EXPECT_EQ(FindFile(nullptr, nullptr), 0);
  EXPECT_EQ(FindFile("", ""), 0);
  EXPECT_EQ(FindFile("/no/such/dir", "x"), 0);
}

TEST_F(FileTest, FindFileCountsEveryKindOfEntryButNeverANameWithABlank) {
  ASSERT_EQ(symlink("/no/such/target", P("dangling").c_str()), 0);
  mkdir(P("d").c_str(), 0755);
  WriteFile(P("a b"), "x");
  WriteFile(P("a"), "x");
  WriteFile(P("b"), "x");
  EXPECT_EQ(FindFile(Dir.c_str(), "dangling"), 1);
  EXPECT_EQ(FindFile(Dir.c_str(), "d"), 1);
  EXPECT_EQ(FindFile(Dir.c_str(), "a b"), 0);
  EXPECT_EQ(FindFile("/", nullptr), 1);              // the root
  EXPECT_EQ(FindFile((Dir + "/d/").c_str(), nullptr), 1);  // a trailing slash
  EXPECT_EQ(FindFile_(Dir.c_str(), "a"), 1);
  EXPECT_EQ(FindFile_(nullptr, P("a").c_str()), 1);
  EXPECT_EQ(FindFile_(Dir.c_str(), "dangling"), 0);  // stat follows the link
}

TEST_F(FileTest, GetFileTypeSizeAndTime) {
  mkdir(P("d").c_str(), 0755);
  ASSERT_EQ(symlink(P("d").c_str(), P("ld").c_str()), 0);
  WriteFile(P("f"), "12345");
  EXPECT_EQ(GetFileType(P("d").c_str()), 1);
  EXPECT_EQ(GetFileType(P("ld").c_str()), 2);
  EXPECT_EQ(GetFileType(P("f").c_str()), 3);
  EXPECT_EQ(GetFileType(P("missing").c_str()), 0);
  EXPECT_EQ(GetFileSize(P("f").c_str()), 5);
  EXPECT_EQ(GetFileSize(P("missing").c_str()), 0);
  struct stat st;
  stat(P("f").c_str(), &st);
  EXPECT_EQ(GetFileTime(P("f").c_str()), st.st_mtime);
  EXPECT_EQ(GetFileTime(P("missing").c_str()), 0);
}

TEST_F(FileTest, FindExistingPathWalksUpToTheDeepestExistingAncestor) {
  int flExists = 7;
  char* p = FindExistingPath(P("new/dir/x").c_str(), &flExists);
  EXPECT_EQ(std::string(p), Dir);
  EXPECT_EQ(flExists, 7);  // untouched
  PutMem(p);
  flExists = 0;
  p = FindExistingPath(Dir.c_str(), &flExists);
  EXPECT_EQ(std::string(p), Dir);
  EXPECT_EQ(flExists, 1);
  PutMem(p);
  flExists = 0;
  p = FindExistingPath("/no-such-top-dir/a/b", &flExists);
  EXPECT_STREQ(p, "/");
  EXPECT_EQ(flExists, 0);
  PutMem(p);
  p = FindExistingPath("no-such-rel-dir/a", &flExists);
  EXPECT_STREQ(p, ".");
  PutMem(p);
  p = FindExistingPath("/", &flExists);
  EXPECT_STREQ(p, "/");
  EXPECT_EQ(flExists, 1);
  PutMem(p);
  EXPECT_EQ(FindExistingPath(nullptr, &flExists), nullptr);
}

TEST_F(FileTest, FindExistingPathCutsAnOverlongPathAtASlash) {
  std::string sLong = Dir;
  while (sLong.size() < 6000) sLong += "/abcdefghij";
  int flExists = 0;
  char* p = FindExistingPath(sLong.c_str(), &flExists);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(p), Dir);
  EXPECT_EQ(flExists, 0);
  PutMem(p);
}

// ---------------------------------------------------------------------------
// Opening and its reports
// ---------------------------------------------------------------------------

TEST_F(FileTest, OpenFileReportsByLevel) {
  std::string sMissing = P("missing");
  Result c = RunChild([&] { OpenFile(nullptr, sMissing.c_str(), "r", 1); });
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.err, "ERROR: can't open file, " + sMissing + "\n");
  c = RunChild([&] { OpenFile(nullptr, sMissing.c_str(), "r", 0); });
  EXPECT_EQ(c.err, "");
  c = RunChild([&] {
    my_name = SaveStr_("setup");
    OpenFile(nullptr, sMissing.c_str(), "r", 2);
  });
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(c.err, "\nsetup: can't open file, " + sMissing + " : No such file or directory\n");
  c = RunChild([&] { OpenFileF(nullptr, "r", 1, "%s/%s", Dir.c_str(), "missing"); });
  EXPECT_EQ(c.err, "ERROR: can't open file, " + sMissing + "\n");
  c = RunChild([&] { OpenRawFile(sMissing.c_str(), O_RDONLY); });
  EXPECT_EQ(c.out, "ERROR: can't open file, " + sMissing);  // standard output, no newline
}

TEST_F(FileTest, OpenFileClosesTheGivenStreamAndOpens) {
  WriteFile(P("f"), "abc");
  FILE* f = OpenFile(nullptr, P("f").c_str(), "r", 0);
  ASSERT_NE(f, nullptr);
  f = OpenFile(f, P("f").c_str(), "r", 0);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(fgetc(f), 'a');
  fclose(f);
  int fd = OpenRawFile(P("f").c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  close(fd);
}

TEST_F(FileTest, OpenInputFileFailureByLevel) {
  std::string sMissing = P("missing");
  Result c = RunChild([&] {
    strcpy(LineBuf, "old");
    LineLen = 3;
    int r = OpenInputFile(sMissing.c_str(), 1);
    printf("%d %d [%s] %d", r, FileStatus, LineBuf, LineLen);
  });
  EXPECT_EQ(c.err, "WARNING: can't open file, " + sMissing + "\n");
  EXPECT_EQ(c.out, "0 2 [] 0");
  c = RunChild([&] { OpenInputFile(sMissing.c_str(), 2); });
  EXPECT_EQ(c.status, 0);  // ErrorMsg with status 0
  EXPECT_EQ(c.err, "ERROR: can't open file, " + sMissing + "\n");
  c = RunChild([&] { OpenInputFileF(0, "%s", sMissing.c_str()); });
  EXPECT_EQ(c.err, "");
}

// ---------------------------------------------------------------------------
// Line readers
// ---------------------------------------------------------------------------

TEST_F(FileTest, GetFileLineJoinsBackslashContinuations) {
  WriteFile(P("t"), "a \\\nbc \\\nd\ne\n");
  ASSERT_EQ(OpenInputFile(P("t").c_str(), 0), 1);
  EXPECT_EQ(FileStatus, 0);
  EXPECT_STREQ(InputFileName, P("t").c_str());
  ASSERT_EQ(GetFileLine(), 1);
  EXPECT_STREQ(LineBuf, "a \\\nbc \\\nd\n");
  EXPECT_EQ(LineLen, 4 + 5);
  ASSERT_EQ(GetFileLine(), 1);
  EXPECT_STREQ(LineBuf, "e\n");
  EXPECT_EQ(LineLen, 0);
  EXPECT_EQ(GetFileLine(), 0);
  EXPECT_EQ(FileStatus, 1);
  EXPECT_EQ(pIn, nullptr);
  EXPECT_EQ(GetFileLine(), 0);  // no file open
}

TEST_F(FileTest, GetFileLineReadsLongLinesInPiecesAndNeverOverflows) {
  std::string sLong(1200, 'x');
  std::string sCont;
  for (int i = 0; i < 20; i++) sCont += std::string(300, 'y') + "\\\n";
  WriteFile(P("t"), sLong + "\n" + sCont + "end\n");
  ASSERT_EQ(OpenInputFile(P("t").c_str(), 0), 1);
  ASSERT_EQ(GetFileLine(), 1);
  EXPECT_EQ(strlen(LineBuf), 510u);  // the first piece of the long line
  while (GetFileLine() && LineBuf[0] == 'x') {
  }
  // The continued line is cut at 4095 characters.
  while (LineBuf[0] != 'y' && GetFileLine()) {
  }
  EXPECT_LE(strlen(LineBuf), 4095u);
  EXPECT_GT(strlen(LineBuf), 3000u);
}

TEST_F(FileTest, GetFileTextLineGivesTheFirstWordOfTheFirstRealLine) {
  WriteFile(P("disks"), "# comment pkg\n\n  \t\npkg_tar.aa x\nsecond\n");
  ASSERT_EQ(OpenInputFile(P("disks").c_str(), 0), 1);
  ASSERT_EQ(GetFileTextLine(" \t\n"), 1);
  EXPECT_STREQ(LineBuf, "pkg_tar.aa");
  ASSERT_EQ(GetFileTextLine(" \t\n"), 1);
  EXPECT_STREQ(LineBuf, "second");
  EXPECT_EQ(GetFileTextLine(" \t\n"), 0);
  EXPECT_EQ(GetFileTextLine(nullptr), 0);
}

TEST_F(FileTest, GetLineRemovesComments) {
  ASSERT_EQ(OpenInputFile(Src("tests/base/fixtures/comments.txt").c_str(), 0), 1);
  std::string sGot;
  int n;
  while ((n = GetLine()) > 0) sGot += std::to_string(n) + ":" + Line + "|";
  EXPECT_EQ(sGot, "1:alpha|1:beta|1:|3:tail|1:|1:gamma  delta|1:x|");
  EXPECT_EQ(pLine, Line);
}

TEST_F(FileTest, GetLinePosAndRawMode) {
  WriteFile(P("t"), "  one // c\ntwo\n");
  ASSERT_EQ(OpenInputFile(P("t").c_str(), 0), 1);
  EXPECT_EQ(GetLineN(2), 1);
  EXPECT_STREQ(Line, "two");
  EXPECT_EQ(InPos, 11);
  EXPECT_EQ(GetLinePos(0), 1);
  EXPECT_STREQ(Line, "one ");
  flInputFilterState = 0;
  EXPECT_EQ(GetLinePos(0), 1);
  EXPECT_STREQ(Line, "  one // c\n");
  flInputFilterState = 1;
  char buf[8];
  FILE* f = fopen(P("t").c_str(), "r");
  EXPECT_STREQ(fgetsp(buf, sizeof buf, f, 11), "two\n");
  EXPECT_STREQ(fgetsp(buf, 3, f, 0), "  ");
  fclose(f);
}

// ---------------------------------------------------------------------------
// Whole files
// ---------------------------------------------------------------------------

TEST_F(FileTest, GetFileContentReadsAtMost4095Bytes) {
  std::string s(10000, 'q');
  s[4094] = 'E';
  WriteFile(P("big"), s);
  ASSERT_EQ(GetFileContent(Dir.c_str(), "big"), 1);
  EXPECT_EQ(strlen(LineBuf), 4095u);
  EXPECT_EQ(LineBuf[4094], 'E');
  ASSERT_EQ(GetFileContent(P("big").c_str(), nullptr), 1);
  EXPECT_EQ(GetFileContent(Dir.c_str(), "missing"), 0);
  char buf[6];
  ASSERT_EQ(GetFileContentR(Dir.c_str(), "big", buf, 5), 1);
  EXPECT_STREQ(buf, "qqqqq");
  EXPECT_EQ(GetFileContentR(Dir.c_str(), "missing", buf, 5), 0);
}

TEST_F(FileTest, GetSavedFileContentEdgeCases) {
  WriteFile(P("empty"), "");
  WriteFile(P("one"), "x");
  WriteFile(P("two"), "xy");
  EXPECT_EQ(GetSavedFileContent(Dir.c_str(), "empty"), nullptr);
  EXPECT_EQ(SavedFileSize, 0);
  EXPECT_EQ(GetSavedFileContent(Dir.c_str(), "missing"), nullptr);
  char* p = GetSavedFileContent(Dir.c_str(), "one");
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p, "");  // a 1-byte file is not read
  EXPECT_EQ(SavedFileSize, 1);
  PutMem(p);
  p = GetSavedFileContent(P("two").c_str(), nullptr);
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p, "xy");
  EXPECT_EQ(SavedFileSize, 2);
  PutMem(p);
}

TEST_F(FileTest, FileSearchFindsTheFirstMatchingLine) {
  WriteFile(P("t"), "alpha\nVERSION=1\nVERSION=2\n");
  EXPECT_STREQ(FileSearch(P("t").c_str(), "VERSION", 0), "VERSION=1\n");
  EXPECT_STREQ(FileSearch(P("t").c_str(), nullptr, 0), "alpha\n");
  EXPECT_EQ(FileSearch(P("t").c_str(), "none", 0), nullptr);
  EXPECT_EQ(FileSearch(P("missing").c_str(), nullptr, 0), nullptr);
}

// ---------------------------------------------------------------------------
// Changing the file system
// ---------------------------------------------------------------------------

// Logging on into a log of this test's own, so the command lines can be read back.
class FileCmdTest : public FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    Name = "kfiletest" + std::to_string(getpid());
    my_name = SaveStr_(Name.c_str());
    flUseLog = 1;
    flSysCmdLog = 1;
    PutLogMsg("start\n");
  }
  void TearDown() override {
    flUseLog = 0;
    flSysCmdLog = 0;
    unlink(LogPath().c_str());
    FileTest::TearDown();
  }
  std::string LogPath() const { return "/tmp/" + Name + ".log"; }
  std::string Log() const { return ReadFile(LogPath()); }
  std::string Name;
};

TEST_F(FileCmdTest, CreateFileMakesTheDirectoryAndNeverTouchesWithoutAName) {
  std::string sDir = P("a/b");
  testing::internal::CaptureStdout();
  EXPECT_EQ(CreateFile(sDir.c_str(), nullptr, "755", nullptr, nullptr), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "..");  // one progress dot per command
  EXPECT_EQ(Mode(sDir), 0755);
  std::string sLog = Log();
  EXPECT_NE(sLog.find("/mkdir -p " + sDir + "\n"), std::string::npos) << sLog;
  EXPECT_NE(sLog.find("/chmod  755 " + sDir + "\n"), std::string::npos) << sLog;
  EXPECT_EQ(sLog.find("touch"), std::string::npos) << sLog;
  // The whole logged line: the shell, its -c and the opening quote, the tool and its text.
  EXPECT_NE(sLog.find("/usr/bin/sh -c \"/usr/bin/mkdir -p " + sDir + "\n"), std::string::npos)
      << sLog;
}

TEST_F(FileCmdTest, CreateFileTouchesANamedFileAndSetsItsModeAndOwner) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(CreateFile(P("new").c_str(), "f", "640", "root", "root"), 1);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(IsRegular(P("new/f")));
  EXPECT_EQ(Mode(P("new/f")), 0640);
  std::string sLog = Log();
  EXPECT_NE(sLog.find("/touch  " + P("new/f") + "\n"), std::string::npos) << sLog;
  EXPECT_NE(sLog.find("/chown  root " + P("new/f") + "\n"), std::string::npos) << sLog;
  EXPECT_NE(sLog.find("/chgrp  root " + P("new/f") + "\n"), std::string::npos) << sLog;
  EXPECT_EQ(sLog.find("mkdir -p " + P("new") + "\n"), sLog.find("mkdir"));
  // An existing directory is not made again.
  std::string sBefore = Log();
  testing::internal::CaptureStdout();
  CreateFile(P("new").c_str(), "g", nullptr, nullptr, nullptr);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(Log().substr(sBefore.size()).find("mkdir"), std::string::npos);
}

TEST_F(FileCmdTest, CreateFileFailureIsFatal) {
  WriteFile(P("plain"), "x");
  std::string sDir = P("plain/sub");  // mkdir -p under a regular file fails
  Result c = RunChild([&] { CreateFile(sDir.c_str(), "f", nullptr, nullptr, nullptr); });
  EXPECT_EQ(c.status, 1);
  EXPECT_NE(c.out.find("ERROR: "), std::string::npos);
}

TEST_F(FileCmdTest, DeleteFileRemovesOnlyWhatExists) {
  std::string sBefore = Log();
  testing::internal::CaptureStdout();
  EXPECT_EQ(DeleteFile(Dir.c_str(), "missing"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(Log(), sBefore);  // nothing ran
  mkdir(P("d").c_str(), 0755);
  WriteFile(P("d/x"), "x");
  testing::internal::CaptureStdout();
  EXPECT_EQ(DeleteFile(Dir.c_str(), "d"), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), ".");
  EXPECT_EQ(GetFileType(P("d").c_str()), 0);
  EXPECT_NE(Log().find("/rm -rf " + P("d") + "\n"), std::string::npos);
  WriteFile(P("f"), "x");
  testing::internal::CaptureStdout();
  EXPECT_EQ(DeleteFile(nullptr, P("f").c_str()), 1);
  WriteFile(P("g"), "x");
  EXPECT_EQ(DeleteFile_(P("g").c_str(), nullptr), 1);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(GetFileType(P("f").c_str()), 0);
  EXPECT_EQ(GetFileType(P("g").c_str()), 0);
}

TEST_F(FileCmdTest, RenameFileMovesQuietly) {
  WriteFile(P("old"), "content");
  std::string sBefore = Log();
  testing::internal::CaptureStdout();
  EXPECT_EQ(RenameFile(Dir.c_str(), "old", "new"), 1);
  EXPECT_EQ(RenameFile(Dir.c_str(), "missing", "x"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // quiet: no dot
  EXPECT_EQ(Log(), sBefore);                                // and no log line
  EXPECT_EQ(ReadFile(P("new")), "content");
  EXPECT_EQ(GetFileType(P("old").c_str()), 0);
  EXPECT_EQ(RenameFile(nullptr, P("new").c_str(), P("newer").c_str()), 1);
  EXPECT_EQ(ReadFile(P("newer")), "content");
}

TEST_F(FileCmdTest, UnsafeTextsAreRefusedAndNothingRuns) {
  std::string sMark = P("MARK");
  const char* aBad[] = {"$(touch MARK)", "`touch MARK`", "a\"b", "a;touch MARK", "a b", "a\nb"};
  for (const char* pBad : aBad) {
    std::string sName = std::string(pBad);
    Result c = RunChild([&] {
      if (chdir(Dir.c_str()) != 0) _exit(9);
      CreateFile(Dir.c_str(), sName.c_str(), "644", nullptr, nullptr);
    });
    EXPECT_EQ(c.status, 1) << pBad;
    EXPECT_EQ(c.err.rfind("ERROR: ", 0), 0u) << c.err;
    EXPECT_EQ(GetFileType(sMark.c_str()), 0) << pBad;
  }
  // Deleting and renaming refuse without ending the program.
  Result c = RunChild([&] {
    WriteFile(P("x;y"), "x");
    printf("%d%d", DeleteFile(Dir.c_str(), "x;y"), RenameFile(Dir.c_str(), "x;y", "z"));
  });
  EXPECT_EQ(c.out, "00");
  EXPECT_EQ(c.status, 0);
}

TEST_F(FileTest, CreateTextFileWritesAndSetsThePermission) {
  EXPECT_EQ(CreateTextFile(P("cfg").c_str(), "wt", 0600, " %s ", "LPRng"), 1);
  EXPECT_EQ(ReadFile(P("cfg")), " LPRng ");
  EXPECT_EQ(Mode(P("cfg")), 0600);
  EXPECT_EQ(CreateTextFile(P("cfg").c_str(), "at", 0, "%d\n", 5), 1);
  EXPECT_EQ(ReadFile(P("cfg")), " LPRng 5\n");
  EXPECT_EQ(Mode(P("cfg")), 0600);
  std::string sBad = P("no/such/file");
  testing::internal::CaptureStderr();
  EXPECT_EQ(CreateTextFile(sBad.c_str(), "wt", 0, "x"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: couldn't open " + sBad + "\n");
}

// ---------------------------------------------------------------------------
// Planted entries in world-writable directories
// ---------------------------------------------------------------------------

// A world-writable, sticky directory like /tmp, with a victim file outside it.
class PlantedTest : public FileCmdTest {
 protected:
  void SetUp() override {
    FileCmdTest::SetUp();
    Open = P("open");
    mkdir(Open.c_str(), 0777);
    chmod(Open.c_str(), 01777);
    Victim = P("victim");
    WriteFile(Victim, "secret\n");
    chmod(Victim.c_str(), 0600);
    mkdir(P("vdir").c_str(), 0700);
  }
  void ExpectVictimUnchanged() {
    EXPECT_EQ(ReadFile(Victim), "secret\n");
    EXPECT_EQ(Mode(Victim), 0600);
    EXPECT_EQ(Mode(P("vdir")), 0700);
  }
  std::string Open, Victim;
};

TEST_F(PlantedTest, WritingOpensRefuseLinksInAWorldWritableDirectory) {
  std::string sLink = Open + "/out";
  ASSERT_EQ(symlink(Victim.c_str(), sLink.c_str()), 0);
  EXPECT_EQ(OpenFile(nullptr, sLink.c_str(), "wt", 0), nullptr);
  EXPECT_EQ(OpenFile(nullptr, sLink.c_str(), "a", 0), nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(CreateTextFile(sLink.c_str(), "wt", 0666, "owned\n"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: couldn't open " + sLink + "\n");
  testing::internal::CaptureStdout();
  EXPECT_LT(OpenRawFile(sLink.c_str(), O_WRONLY | O_TRUNC), 0);
  testing::internal::GetCapturedStdout();
  ExpectVictimUnchanged();
  // A dangling link is not followed to create its target either.
  std::string sTarget = P("created-through-link");
  ASSERT_EQ(symlink(sTarget.c_str(), (Open + "/dang").c_str()), 0);
  EXPECT_EQ(OpenFile(nullptr, (Open + "/dang").c_str(), "wt", 0), nullptr);
  EXPECT_EQ(GetFileType(sTarget.c_str()), 0);
  // Reading through a link is not affected, and a regular file is written as usual.
  FILE* f = OpenFile(nullptr, sLink.c_str(), "r", 0);
  EXPECT_NE(f, nullptr);
  if (f) fclose(f);
  EXPECT_EQ(CreateTextFile((Open + "/plain").c_str(), "wt", 0644, "ok"), 1);
  EXPECT_EQ(ReadFile(Open + "/plain"), "ok");
}

TEST_F(PlantedTest, CreateFileReplacesAPlantedLinkInsteadOfChangingItsTarget) {
  std::string sLink = Open + "/made";
  ASSERT_EQ(symlink(Victim.c_str(), sLink.c_str()), 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(CreateFile(Open.c_str(), "made", "666", nullptr, nullptr), 1);
  testing::internal::GetCapturedStdout();
  ExpectVictimUnchanged();
  EXPECT_TRUE(IsRegular(sLink));
  EXPECT_EQ(Mode(sLink), 0666);
  // A link planted where a directory is to be made.
  std::string sDirLink = Open + "/work";
  ASSERT_EQ(symlink(P("vdir").c_str(), sDirLink.c_str()), 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(CreateFile(sDirLink.c_str(), nullptr, "777", nullptr, nullptr), 1);
  testing::internal::GetCapturedStdout();
  ExpectVictimUnchanged();
  EXPECT_EQ(GetFileType(sDirLink.c_str()), 1);
  EXPECT_EQ(Mode(sDirLink), 0777);
  // A link planted where an ancestor of the directory belongs.
  std::string sUpLink = Open + "/area";
  ASSERT_EQ(symlink(P("vdir").c_str(), sUpLink.c_str()), 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(CreateFile((sUpLink + "/KorviInstall").c_str(), "f", "755", nullptr, nullptr), 1);
  testing::internal::GetCapturedStdout();
  ExpectVictimUnchanged();
  EXPECT_EQ(GetFileType(P("vdir/KorviInstall").c_str()), 0);
  EXPECT_EQ(GetFileType(sUpLink.c_str()), 1);
  EXPECT_TRUE(IsRegular(sUpLink + "/KorviInstall/f"));
}

TEST_F(PlantedTest, CreateFreshFileReplacesWhateverStandsThere) {
  std::string sLink = Open + "/fresh";
  ASSERT_EQ(symlink(Victim.c_str(), sLink.c_str()), 0);
  EXPECT_EQ(CreateFreshFile(sLink.c_str(), 0666), 1);
  EXPECT_TRUE(IsRegular(sLink));
  EXPECT_EQ(Mode(sLink), 0666);  // the umask does not apply
  EXPECT_EQ(GetFileSize(sLink.c_str()), 0);
  ExpectVictimUnchanged();
  std::string sFifo = Open + "/fifo";
  ASSERT_EQ(mkfifo(sFifo.c_str(), 0666), 0);
  EXPECT_EQ(OpenRegularFile(sFifo.c_str(), 0), nullptr);
  EXPECT_EQ(CreateFreshFile(sFifo.c_str(), 0600), 1);
  EXPECT_TRUE(IsRegular(sFifo));
  std::string sHard = Open + "/hard";
  ASSERT_EQ(link(Victim.c_str(), sHard.c_str()), 0);  // a second name of the victim
  EXPECT_EQ(OpenRegularFile(sHard.c_str(), 1), nullptr);
  EXPECT_EQ(OpenFile(nullptr, sHard.c_str(), "a", 0), nullptr);
  ExpectVictimUnchanged();
  std::string sOther = Open + "/other";
  WriteFile(sOther, "theirs");
  ASSERT_EQ(chown(sOther.c_str(), 100, 100), 0);  // another user's file
  EXPECT_EQ(OpenFile(nullptr, sOther.c_str(), "wt", 0), nullptr);
  EXPECT_EQ(ReadFile(sOther), "theirs");
  EXPECT_EQ(CreateFreshFile(Open.c_str(), 0600), 0);  // never a directory
  EXPECT_EQ(GetFileType(Open.c_str()), 1);
}

}  // namespace
