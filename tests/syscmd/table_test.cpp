// Command table resolution: start-up over the search path and PATH, the lazy lookup, SHELL,
// and the command texts GetCmd and GetCmdNoFlags give.
#include "syscmd_fixture.h"

namespace {

using kvtest::FixDir;
using kvtest::SysCmdTest;
using namespace ktest;

// Removes the run log of this test process when the tests are done.
class LogCleanup : public ::testing::Environment {
 public:
  void TearDown() override {
    if (my_name) unlink(GetLogFileName());
  }
};
const auto* const kLogCleanup = ::testing::AddGlobalTestEnvironment(new LogCleanup);

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

TEST_F(SysCmdTest, AScanInProgressSurvivesCommandsLookupsAndStartUp) {
  ResetSysCmdList();  // every row below is looked up lazily
  snprintf(szPaths, sizeof szPaths, "%s:/usr/bin", FixDir("bin").c_str());
  SearchPaths = szPaths;
  ASSERT_STREQ(GetToken("first second:third", " "), "first");
  TempDir t;
  SysCmd(kCmdTouch, kSysCmdQuiet, "%s", (t / "x").c_str());
  EXPECT_EQ(access((t / "x").c_str(), F_OK), 0);
  EXPECT_STREQ(GetTokenBuf, "first");
  EXPECT_EQ(chTokenDel, ' ');
  Init(FixDir("bin") + ":/usr/bin:/bin");
  EXPECT_STREQ(GetTokenBuf, "first");
  EXPECT_EQ(chTokenDel, ' ');
  EXPECT_STREQ(GetToken(nullptr, " "), "second:third");
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
