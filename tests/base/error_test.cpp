// Tests of reports, the run log and the environment queries: exact report texts and exit codes,
// the log's truncate-then-append behaviour and its refusal to write through planted entries,
// GetToolPath from each form of invocation, and the queries answered by stand-in tools.
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

// ---------------------------------------------------------------------------
// Reports
// ---------------------------------------------------------------------------

TEST(SysError, PrintsNameMessageAndSystemTextThenExits1) {
  Result c = RunChild([] {
    my_name = SaveStr_("setup");
    printf("buffered");
    errno = ENOENT;
    SysError("can't open file, %s", "/x/y");
  });
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(c.out, "buffered");
  EXPECT_EQ(c.err, "\nsetup: can't open file, /x/y : No such file or directory\n");
}

TEST(ErrorMsg, WarningErrorAndSilentTypes) {
  Result c = RunChild([] { printf("%d", ErrorMsg(1, 5, "disk %d%%", 90)); });
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.err, "WARNING: disk 90%\n");
  EXPECT_EQ(c.out, "18");  // the length written
  c = RunChild([] { printf("%d", ErrorMsg(0, 5, "quiet %s", "text")); });
  EXPECT_EQ(c.err, "");
  EXPECT_EQ(c.out, "10");  // the length formatted
  c = RunChild([] { ErrorMsg(2, 0, "no %s", "file list"); });
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.err, "ERROR: no file list\n");
  c = RunChild([] { ErrorMsg(2, 3, "x"); });
  EXPECT_EQ(c.status, 3);
  EXPECT_EQ(c.err, "ERROR: x\n");
}

TEST(ErrorMsg, FormatsIntoLineEvenFromLine) {
  testing::internal::CaptureStderr();
  ErrorMsg(1, 0, "abc %d", 1);
  EXPECT_STREQ(Line, "abc 1");
  ErrorMsg(1, 0, "<%s>", Line);  // an argument taken from the scratch itself
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "WARNING: abc 1\nWARNING: <abc 1>\n");
  EXPECT_STREQ(Line, "<abc 1>");
}

TEST(errormsg, PrefixesTheProgramNameAndGoesOn) {
  Result c = RunChild([] {
    my_name = SaveStr_("setup");
    errormsg("bad %s %d", "thing", 7);
    printf("after");
  });
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.err, "setup: bad thing 7\n");
  EXPECT_EQ(c.out, "after");
}

TEST(exit_app, EndsWithTheStatus) {
  EXPECT_EQ(RunChild([] { exit_app(4); }).status, 4);
  EXPECT_EQ(RunChild([] { exit_app(0); }).status, 0);
}

TEST(MessageTexts, AreTheFixedEnglishTexts) {
  EXPECT_STREQ(szNoMemory, "Unable to allocate memory");
  EXPECT_STREQ(szCantOpenFile, "can't open file, %s");
  EXPECT_STREQ(szErrCantOpenFileNl, "ERROR: can't open file, %s\n");
  EXPECT_STREQ(szErrCantOpenFile, "ERROR: can't open file, %s");
  EXPECT_STREQ(szErrCouldntOpen, "ERROR: couldn't open %s\n");
  EXPECT_STREQ(szErrorFmt, "ERROR: %s\n");
  EXPECT_STREQ(szWarningFmt, "WARNING: %s\n");
  EXPECT_STREQ(szError, "ERROR");
  EXPECT_STREQ(szWarningMsg, "WARNING_MSG");
  EXPECT_STREQ(szErrNoSysCmd, "ERROR: unable to locate system command '%s'\n");
}

// ---------------------------------------------------------------------------
// The run log
// ---------------------------------------------------------------------------

// A log name of this test's own in the real /tmp, and a victim file outside /tmp.
class LogTest : public testing::Test {
 protected:
  void SetUp() override {
    Name = "klogtest" + std::to_string(getpid());
    LogPath = "/tmp/" + Name + ".log";
    unlink(LogPath.c_str());
    chmod(VictimDir.c_str(), 0700);
    Victim = VictimDir + "/victim";
    WriteFile(Victim, "keep\n");
    chmod(Victim.c_str(), 0640);
  }
  void TearDown() override {
    flUseLog = 0;
    unlink(LogPath.c_str());
  }
  // Runs fn as a run of the program with logging on.
  Result Run(const std::function<void()>& fn) {
    std::string sName = Name;
    return RunChild([&] {
      my_name = SaveStr_(sName.c_str());
      pLogPath = SaveStr_("/tmp");
      flUseLog = 1;
      fn();
    });
  }
  void ExpectVictimUnchanged() {
    EXPECT_EQ(ReadFile(Victim), "keep\n");
    EXPECT_EQ(Mode(Victim), 0640);
  }
  TempDir Tmp{"kvictim"};
  std::string Name, LogPath, VictimDir = Tmp.path, Victim;
};

TEST_F(LogTest, TheLogLivesInTmpUnderTheProgramsName) {
  EXPECT_STREQ(pLogPath, "/tmp");
  Result c = Run([] { printf("%s", GetLogFileName()); });
  EXPECT_EQ(c.out, LogPath);
}

TEST_F(LogTest, FirstMessageTruncatesLaterOnesAppend) {
  WriteFile(LogPath, "an earlier run\n");
  Result c = Run([] {
    PutLogMsg("initializing system\n");
    PutLogMsg("second %d", 2);
    PutLogMsg("%s", " and more\n");
  });
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.err, "");
  EXPECT_EQ(ReadFile(LogPath), "initializing system\nsecond 2 and more\n");
  EXPECT_TRUE(IsRegular(LogPath));
  EXPECT_EQ(Mode(LogPath), 0666);
  Run([] { PutLogMsg("a new run\n"); });
  EXPECT_EQ(ReadFile(LogPath), "a new run\n");
}

TEST_F(LogTest, NothingWithoutLogging) {
  Result c = RunChild([&] {
    my_name = SaveStr_(Name.c_str());
    flUseLog = 0;
    PutLogMsg("lost\n");
    printf("%d", PrepareLogFile());
  });
  EXPECT_EQ(c.out, "0");
  EXPECT_EQ(GetFileType(LogPath.c_str()), 0);
}

TEST_F(LogTest, PlantedLinkAtTheLogPathIsReplacedNotFollowed) {
  ASSERT_EQ(symlink(Victim.c_str(), LogPath.c_str()), 0);
  Result c = Run([] {
    PutLogMsg("first\n");
    PutLogMsg("second\n");
  });
  EXPECT_EQ(c.err, "");
  ExpectVictimUnchanged();
  EXPECT_TRUE(IsRegular(LogPath));
  EXPECT_EQ(Mode(LogPath), 0666);
  EXPECT_EQ(ReadFile(LogPath), "first\nsecond\n");
}

TEST_F(LogTest, DanglingLinkAndFifoAreReplaced) {
  std::string sTarget = VictimDir + "/would-be-created";
  ASSERT_EQ(symlink(sTarget.c_str(), LogPath.c_str()), 0);
  Run([] { PutLogMsg("x\n"); });
  EXPECT_EQ(GetFileType(sTarget.c_str()), 0);
  EXPECT_EQ(ReadFile(LogPath), "x\n");
  unlink(LogPath.c_str());
  ASSERT_EQ(mkfifo(LogPath.c_str(), 0666), 0);
  Result c = Run([] { PutLogMsg("y\n"); });  // must not block on the pipe
  EXPECT_EQ(c.status, 0);
  EXPECT_TRUE(IsRegular(LogPath));
  EXPECT_EQ(ReadFile(LogPath), "y\n");
}

TEST_F(LogTest, LinkPlantedDuringTheRunIsRefused) {
  std::string sLog = LogPath, sVictim = Victim;
  Result c = Run([&] {
    PutLogMsg("first\n");
    unlink(sLog.c_str());
    if (symlink(sVictim.c_str(), sLog.c_str()) != 0) _exit(9);
    PutLogMsg("second\n");
  });
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.err, "ERROR: couldn't open " + LogPath + "\n");
  ExpectVictimUnchanged();
}

TEST_F(LogTest, ALogThatCannotBeMadeCostsOnlyTheMessage) {
  ASSERT_EQ(mkdir(LogPath.c_str(), 0755), 0);
  Result c = Run([] {
    PutLogMsg("lost\n");
    PutLogMsg("lost too\n");
    printf("went on");
  });
  rmdir(LogPath.c_str());
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.out, "went on");
  EXPECT_EQ(c.err, "ERROR: couldn't open " + LogPath + "\nERROR: couldn't open " + LogPath + "\n");
}

TEST_F(LogTest, ACommandsOutputNeverReachesAPlantedLink) {
  ASSERT_EQ(symlink(Victim.c_str(), LogPath.c_str()), 0);
  Result c = Run([] {
    // The shell appends the command's output to the log: the log must be ours first.
    SysCmd(kCmdEcho, kSysCmdLog, "%s", "from-echo");
  });
  EXPECT_EQ(c.status, 0);
  ExpectVictimUnchanged();
  EXPECT_TRUE(IsRegular(LogPath));
  EXPECT_EQ(ReadFile(LogPath), "from-echo\n");
}

TEST_F(LogTest, TemporaryFileInTmpIsMadeFreshOverAPlantedLink) {
  std::string sTmp = "/tmp/" + Name + ".tmp";
  unlink(sTmp.c_str());
  ASSERT_EQ(symlink(Victim.c_str(), sTmp.c_str()), 0);
  EXPECT_EQ(CreateFreshFile(sTmp.c_str(), 0600), 1);
  ExpectVictimUnchanged();
  EXPECT_TRUE(IsRegular(sTmp));
  EXPECT_EQ(Mode(sTmp), 0600);
  // Written afterwards through the checked open: a link planted meanwhile is refused.
  unlink(sTmp.c_str());
  ASSERT_EQ(symlink(Victim.c_str(), sTmp.c_str()), 0);
  EXPECT_EQ(OpenRegularFile(sTmp.c_str(), 1), nullptr);
  EXPECT_EQ(OpenFile(nullptr, sTmp.c_str(), "wt", 0), nullptr);
  ExpectVictimUnchanged();
  unlink(sTmp.c_str());
}

// ---------------------------------------------------------------------------
// Environment
// ---------------------------------------------------------------------------

TEST(GetEnv, CopiesTheValueVerbatim) {
  setenv("KORVI_TEST_VALUE", "50%s%d x", 1);
  char* p = GetEnv("KORVI_TEST_VALUE");
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p, "50%s%d x");
  PutMem(p);
  unsetenv("KORVI_TEST_VALUE");
  EXPECT_EQ(GetEnv("KORVI_TEST_VALUE"), nullptr);
  EXPECT_EQ(GetEnv(nullptr), nullptr);
}

// Prints GetToolPath(invocation) run from directory dir.
std::string ToolPathFrom(const std::string& dir, const std::string& invocation) {
  Result c = RunChild([&] {
    if (chdir(dir.c_str()) != 0) _exit(9);
    char* p = GetToolPath(invocation.c_str());
    printf("%s", p ? p : "(null)");
  });
  return c.out;
}

TEST(GetToolPath, FromEachFormOfInvocation) {
  TempDir tmp("ktool");
  std::string sBase = tmp.path;
  std::string sExport = sBase + "/export";
  ASSERT_EQ(system(("mkdir -p " + sExport + "/kit " + sExport + "/x/y").c_str()), 0);
  char* p = GetToolPath("/opt/kit/setup");
  EXPECT_STREQ(p, "/opt/kit");
  PutMem(p);
  p = GetToolPath("/setup");
  EXPECT_STREQ(p, "/");
  PutMem(p);
  EXPECT_EQ(ToolPathFrom(sExport + "/kit", "./setup"), sExport + "/kit/.");
  EXPECT_EQ(ToolPathFrom(sExport + "/kit", "setup"), sExport + "/kit/.");  // found through PATH
  EXPECT_EQ(ToolPathFrom(sExport + "/x", "../kit/setup"), sExport + "/kit");
  EXPECT_EQ(ToolPathFrom(sExport + "/x", "../setup"), sExport + "/x/..");
  EXPECT_EQ(ToolPathFrom(sExport + "/x/y", "../../kit/setup"), sExport + "/kit");
  EXPECT_EQ(ToolPathFrom(sExport, "sub/setup"), sExport + "/sub");
  EXPECT_EQ(ToolPathFrom(sExport, "./sub/setup"), sExport + "/sub");
  EXPECT_EQ(GetToolPath(nullptr), nullptr);
  EXPECT_EQ(GetToolPath(""), nullptr);
}

TEST(GetToolPath, AWorkingDirectoryTooLongIsRefused) {
  TempDir tmp("ktool");
  std::string sBase = tmp.path;
  Result c = RunChild([&] {
    if (chdir(sBase.c_str()) != 0) _exit(9);
    std::string sPiece(200, 'd');
    for (int i = 0; i < 25; i++) {  // about 5000 characters deep
      if (mkdir(sPiece.c_str(), 0755) != 0 || chdir(sPiece.c_str()) != 0) _exit(9);
    }
    char* p = GetToolPath("./setup");
    printf("%s", p ? p : "(null)");
    p = GetToolPath("/abs/setup");
    printf(" %s", p ? p : "(null)");
  });
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.out, "(null) /abs");
}

TEST(GetHostname, IsTheSystemsNameWithoutLineEnds) {
  char* p = GetHostname();
  ASSERT_NE(p, nullptr);
  char szHost[256] = {0};
  gethostname(szHost, sizeof szHost - 1);
  EXPECT_STREQ(p, szHost);
  EXPECT_EQ(strpbrk(p, "\r\n"), nullptr);
  PutMem(p);
}

// Points the command table at fixture directories (and only them) for one child run.
void UseTools(const std::string& dirs) {
  SearchPaths = SaveStr_(dirs.c_str());
  ResetSysCmdList();
}

TEST(Environment, UserNameFromWhoamiOrTheUserId) {
  std::string sEmpty = "/tmp/kempty" + std::to_string(getpid());
  mkdir(sEmpty.c_str(), 0755);
  std::string sUser = Src("tests/base/fixtures/tools_user");
  Result c = RunChild([&] {
    UseTools(sUser);
    char* p = GetUserName();
    printf("[%s]", p ? p : "(null)");
  });
  EXPECT_EQ(c.out, "[kvtester]");
  c = RunChild([&] {
    setenv("PATH", sEmpty.c_str(), 1);
    UseTools(sEmpty);
    char* p = GetUserName();
    printf("[%s]", p ? p : "(null)");
  });
  EXPECT_EQ(c.out, "[root]");
  c = RunChild([&] {
    setenv("PATH", sEmpty.c_str(), 1);
    UseTools(sEmpty);
    if (setuid(100) != 0) _exit(9);
    char* p = GetUserName();
    printf("[%s]", p ? p : "(null)");
  });
  EXPECT_EQ(c.out, "[User ID:  100]");
  rmdir(sEmpty.c_str());
}

TEST(Environment, SniffLprngReadsLpdsVersionLine) {
  std::string sEmpty = "/tmp/kempty" + std::to_string(getpid());
  mkdir(sEmpty.c_str(), 0755);
  std::string sLprng = Src("tests/base/fixtures/tools_lprng"), sPlain = Src("tests/base/fixtures/tools_plain");
  Result c = RunChild([&] {
    UseTools(sLprng);
    printf("%d", SniffLprng());
  });
  EXPECT_EQ(c.out, "1");
  c = RunChild([&] {
    UseTools(sPlain);
    printf("%d", SniffLprng());
  });
  EXPECT_EQ(c.out, "0");
  EXPECT_EQ(c.err, "");  // lpd's error output was taken in by 2>&1
  c = RunChild([&] {
    setenv("PATH", sEmpty.c_str(), 1);
    UseTools(sEmpty);
    printf("%d", SniffLprng());
  });
  EXPECT_EQ(c.out, "0");
  EXPECT_EQ(c.status, 0);
  rmdir(sEmpty.c_str());
}

TEST(Environment, SniffCUPSLooksForACupsdProcess) {
  std::string sCups = Src("tests/base/fixtures/tools_cups"), sNoCups = Src("tests/base/fixtures/tools_nocups");
  Result c = RunChild([&] {
    UseTools(sCups);
    printf("%d", SniffCUPS());
  });
  EXPECT_EQ(c.out, "1");
  c = RunChild([&] {
    UseTools(sNoCups);
    printf("%d", SniffCUPS());
  });
  EXPECT_EQ(c.out, "0");
}

}  // namespace
