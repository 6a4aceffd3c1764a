// Command table and its resolution: the rows as tabled, start-up over the search path and
// PATH, the lazy lookup, SHELL, and the command texts GetCmd and GetCmdNoFlags give.
#include "syscmd_fixture.h"

namespace {

using kvtest::FixDir;
using kvtest::SysCmdTest;
using kvtest::TempDir;

// Removes the run log of this test process when the tests are done.
class LogCleanup : public ::testing::Environment {
 public:
  void TearDown() override {
    if (my_name) unlink(GetLogFileName());
  }
};
const auto* const kLogCleanup = ::testing::AddGlobalTestEnvironment(new LogCleanup);

TEST(ComList, RowsAsTabled) {
  // index: name, default arguments, settle; the whole table, so any change shows.
  const char* const kRows[] = {
      "||0", "||0", "cancel||2", "cat||0", "chgrp||0", "chmod||0", "chown||0", "clear||0",
      "compress||0", "cp|-p|0", "cp|-pr|0", "cupsd||0", "id||0", "echo||0", "eject|-f|1",
      "eject|-q|1", "file||0", "ln||0", "lp||0", "lpc||1", "lpr||0", "lprm||1", "lpstat||1",
      "ls||0", "kill|-KILL|0", "mv|-f|0", "mkdir|-p|0", "more||0", "ping||0", "rm|-f|0",
      "rm|-rf|0", "sh||0", "sleep||0", "tar|cvfp|0", "tar|xvfp|0", "touch||0", "uncompress||0",
      "whoami||0", "zcat||0", "uname||0", "sed||0", "du|-s|0", "checkpc||0", "lpd||0",
      "pkgadd||1", "pkginfo||0", "pkgrm||1", "accept||1", "disable||1", "enable||1",
      "lpadmin||1", "lpfilter||1", "lpsched||1", "lpshut||1", "lpsystem||1", "ps|-e|0", "bar||0",
      "df|-b|0", "lpq|-P|0", "ypcat||0", "reject||1", "pmadm||1", "sacadm||1", "volcheck||0",
      "capture||0", "lpset||1", "instnetpr||1", "piomkpq||0", "piomisc_ext||0",
      "piomisc_base||0", "lsallq||0", "mkque||0", "mkquedev||0", "rmque||0", "rmquedev||0",
      "piochdfq||0", "enq||0", "lsquedev||0", "lsque||0", "startsrc||1", "stopsrc||0",
      "lssrc||0"};
  ASSERT_EQ(sizeof kRows / sizeof kRows[0], 82u);
  for (int i = 0; i < kComListRows; i++) {
    std::string row = std::string(ComList[i].pName) + "|" + ComList[i].pArgs + "|" +
                      std::to_string(ComList[i].Settle);
    EXPECT_EQ(row, kRows[i]) << "row " << i;
  }
  EXPECT_EQ(ComList[kComListRows].pName, nullptr);
  EXPECT_EQ(kCmdSh, 31);
  EXPECT_STREQ(ComList[kCmdRmRf].pArgs, "-rf");
  EXPECT_STREQ(ComList[kCmdPkgadd].pName, "pkgadd");
  EXPECT_STREQ(ComList[kCmdDf].pName, "df");
  EXPECT_STREQ(ComList[kCmdLssrc].pName, "lssrc");
}

TEST(SearchPaths, DefaultDirectoriesInOrder) {
  EXPECT_STREQ(SearchPaths, "/usr/bin:/usr/ucb:/usr/sbin:/bin:/sbin:/usr/lib:/usr/lib/lp");
  EXPECT_EQ(flInitSysCmd, 1);
}

TEST_F(SysCmdTest, InitResolvesFirstDirectoryThatHoldsTheTool) {
  EXPECT_EQ(flInitSysCmd, 0);
  EXPECT_EQ(flSysCmdLog, 1);
  EXPECT_EQ(Dir(kCmdDf), FixDir("bin"));  // the stand-in wins over the real df
  EXPECT_EQ(Dir(kCmdSh), FixDir("bin"));
  EXPECT_EQ(Dir(kCmdLs), "/usr/bin");
  EXPECT_EQ(Dir(kCmdCp), "/usr/bin");
  EXPECT_EQ(Dir(kCmdCpR), "/usr/bin");  // both rows of a tool resolve together
  EXPECT_EQ(ComList[kCmdPkgadd].pDir, nullptr);
  EXPECT_EQ(TestCmd(kCmdPkgadd), 0);  // after start-up a missing tool stays missing
  EXPECT_EQ(ComList[kCmdPkgadd].pDir, nullptr);
  EXPECT_EQ(std::string(FullSearchPath), FixDir("bin") + ":/usr/bin:/bin:/usr/bin:/bin");
  EXPECT_EQ(getenv("SHELL"), FixDir("bin") + "/sh");
}

TEST_F(SysCmdTest, InitLogsItsFirstLine) {
  ResetSysCmdList();
  snprintf(szPaths, sizeof szPaths, "/usr/bin");
  SearchPaths = szPaths;
  MarkLog();
  InitSysCmdList();
  EXPECT_EQ(LogTail(), "initializing system\n");

  flUseLog = 0;  // logging off: no log line and no command logging
  ResetSysCmdList();
  snprintf(szPaths, sizeof szPaths, "/usr/bin");
  SearchPaths = szPaths;
  MarkLog();
  InitSysCmdList();
  EXPECT_EQ(LogTail(), "");
  EXPECT_EQ(flSysCmdLog, 0);
}

TEST_F(SysCmdTest, SearchPathsBeforePathAndPathAfter) {
  TempDir path;
  path.Touch("ls");
  path.Touch("pkgadd");
  setenv("PATH", path.path.c_str(), 1);
  Init("/usr/bin");
  EXPECT_EQ(Dir(kCmdLs), "/usr/bin");     // in both: the search directories win
  EXPECT_EQ(Dir(kCmdPkgadd), path.path);  // only on PATH: found there
}

TEST_F(SysCmdTest, UnusableDirectoriesAreSkipped) {
  // A relative PATH entry, one holding a blank and one that cannot be read are never used.
  TempDir rel;
  rel.Touch("pkgadd");
  rel.Touch("pkgrm");
  std::string spaced = rel / "a b";
  mkdir(spaced.c_str(), 0755);
  std::ofstream(spaced + "/pkginfo") << "";
  ASSERT_EQ(chdir(rel.path.c_str()), 0);
  setenv("PATH", (".:" + spaced + ":/nonexistent/dir").c_str(), 1);
  Init("/nonexistent:/usr/bin");
  EXPECT_EQ(ComList[kCmdPkgadd].pDir, nullptr);
  EXPECT_EQ(ComList[kCmdPkginfo].pDir, nullptr);
  EXPECT_EQ(Dir(kCmdLs), "/usr/bin");
  ASSERT_EQ(chdir("/"), 0);
}

TEST_F(SysCmdTest, FillCmdPathsReportsWhatRemains) {
  ResetSysCmdList();
  std::string fix = FixDir("bin");
  EXPECT_EQ(FillCmdPaths("/nonexistent"), 1);
  EXPECT_EQ(FillCmdPaths(fix.c_str()), 1);
  EXPECT_EQ(ComList[kCmdDf].pDir, fix.c_str());  // the text itself, not a copy
  EXPECT_EQ(ComList[kCmdLs].pDir, nullptr);

  // Every row resolvable from one directory: nothing remains.
  TempDir all;
  for (int i = 2; i < kComListRows; i++) all.Touch(ComList[i].pName);
  ResetSysCmdList();
  EXPECT_EQ(FillCmdPaths(all.path.c_str()), 0);
  for (int i = 2; i < kComListRows; i++) EXPECT_EQ(Dir(i), all.path) << i;
  EXPECT_EQ(ComList[0].pDir, nullptr);
  EXPECT_EQ(ComList[1].pDir, nullptr);
}

TEST_F(SysCmdTest, LazyLookupBeforeStartUp) {
  ResetSysCmdList();
  snprintf(szPaths, sizeof szPaths, "%s:/usr/bin", FixDir("bin").c_str());
  SearchPaths = szPaths;
  EXPECT_EQ(FullSearchPath, nullptr);
  EXPECT_EQ(TestCmd(kCmdDf), 1);
  EXPECT_EQ(std::string(FullSearchPath), std::string(szPaths) + ":/usr/bin:/bin");
  EXPECT_EQ(Dir(kCmdDf), FixDir("bin"));
  EXPECT_NE(ComList[kCmdDf].pDir, szPaths);  // a saved copy
  EXPECT_EQ(ComList[kCmdLs].pDir, nullptr);  // only the row asked for
  EXPECT_EQ(FillCmdPath(kCmdLs), 1);
  EXPECT_EQ(Dir(kCmdLs), "/usr/bin");
  EXPECT_EQ(FillCmdPath(kCmdPkgadd), 0);
  EXPECT_EQ(TestCmd(0), 0);
  EXPECT_EQ(TestCmd(1), 0);
  EXPECT_EQ(TestCmd(82), 0);
  EXPECT_EQ(TestCmd(-5), 0);

  // SysCmd resolves both its row and sh lazily.
  TempDir t;
  t.Touch("x");
  SysCmd(kCmdRm, kSysCmdQuiet, "%s", (t / "x").c_str());
  EXPECT_EQ(Dir(kCmdSh), FixDir("bin"));
  EXPECT_EQ(access((t / "x").c_str(), F_OK), -1);
}

TEST_F(SysCmdTest, GetCmdTexts) {
  char* p = GetCmd(kCmdRm);
  EXPECT_STREQ(p, "/usr/bin/rm -f");
  PutMem(p);
  p = GetCmd(kCmdCat);
  EXPECT_STREQ(p, "/usr/bin/cat ");  // empty default arguments leave the blank
  PutMem(p);
  p = GetCmdNoFlags(kCmdRmRf);
  EXPECT_STREQ(p, "/usr/bin/rm");
  PutMem(p);
  EXPECT_EQ(GetCmd(kCmdPkgadd), nullptr);
  EXPECT_EQ(GetCmdNoFlags(kCmdPkgadd), nullptr);
  EXPECT_EQ(GetCmd(0), nullptr);
  EXPECT_EQ(GetCmdNoFlags(82), nullptr);
  EXPECT_EQ(GetCmdNoFlags(-1), nullptr);
}

TEST_F(SysCmdTest, ResetForgetsEverything) {
  ResetSysCmdList();
  for (int i = 0; i <= kComListRows; i++) EXPECT_EQ(ComList[i].pDir, nullptr);
  EXPECT_EQ(FullSearchPath, nullptr);
  EXPECT_EQ(flInitSysCmd, 1);
  EXPECT_EQ(flSysCmdLog, 0);
}

}  // namespace
