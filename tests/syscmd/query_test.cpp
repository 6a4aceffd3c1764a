// System queries: process ids from ps -e (a fixed stand-in table and the real ps), df -b and
// du -s figures, AvailSpace's walk up to an existing directory, and directory listings.
#include <signal.h>

#include <ctime>

#include "syscmd_fixture.h"

namespace {

using kvtest::FixDir;
using kvtest::SysCmdTest;
using namespace ktest;

std::string Take(char* p) {  // the text, returned to the pool
  std::string s = p ? p : "(null)";
  PutMem(p);
  return s;
}

class PsTable : public SysCmdTest {
 protected:
  void SetUp() override {
    SysCmdTest::SetUp();
    Init(FixDir("ps") + ":" + FixDir("bin") + ":/usr/bin");
  }
};

TEST_F(PsTable, IdsOfExactlyTheName) {
  EXPECT_EQ(Take(GetSysPsIdList("lp")), " 500 501 ");  // not lpsched
  EXPECT_EQ(Take(GetSysPsIdList("lpsched")), " 413 ");
  EXPECT_EQ(Take(GetSysPsIdList("cupsd")), " 412 ");
  EXPECT_EQ(Take(GetSysPsIdList("0")), "(null)");        // the command column, not any column
  EXPECT_EQ(Take(GetSysPsIdList("cups")), "(null)");     // a part of a name is no match
  EXPECT_EQ(Take(GetSysPsIdList("CMD")), " 777 ");       // the header is no process
  EXPECT_EQ(Take(GetSysPsIdList("")), "(null)");
  EXPECT_EQ(Take(GetSysPsIdList(nullptr)), "(null)");
}

TEST_F(PsTable, ProcessReport) {
  EXPECT_EQ(Take(CheckProcTableForExecs("a,cupsd")), "cupsd ( 412 )\n");
  EXPECT_EQ(Take(CheckProcTableForExecs("cupsd,lp,nothere")),
            "cupsd ( 412 )\nlp ( 500 501 )\n");
  EXPECT_EQ(Take(CheckProcTableForExecs("lpsched, ksh")), "lpsched ( 413 )\nksh ( 1234 )\n");
  EXPECT_EQ(Take(CheckProcTableForExecs("nothere,alsono")), "(null)");
  EXPECT_EQ(Take(CheckProcTableForExecs(",,")), "(null)");
  EXPECT_EQ(Take(CheckProcTableForExecs(nullptr)), "(null)");
}

// The name list has no length limit: a running name after 510, 511, 512 and 5110 characters
// of other names is found (a list cut at a fixed buffer would miss it).
TEST_F(PsTable, ProcessReportReadsTheWholeList) {
  for (size_t size : {510u, 511u, 512u, 5110u}) {
    std::string names;
    while (names.size() + 6 < size) names += std::string(250, 'n') + ",";  // few ps runs
    names.resize(size - 6, 'x');
    names += ",cupsd";
    ASSERT_EQ(names.size(), size);
    EXPECT_EQ(Take(CheckProcTableForExecs(names.c_str())), "cupsd ( 412 )\n") << size;
  }
}

// A copy of sleep under a name of our own, so ps -e shows it by that name.
struct NamedSleeper {
  std::string name;
  pid_t pid = -1;
  TempDir dir;
  explicit NamedSleeper(const std::string& n) : name(n) {
    std::string exe = dir / name;
    std::system(("cp /bin/sleep " + exe).c_str());
    pid = fork();
    if (pid == 0) {
      execl(exe.c_str(), name.c_str(), "60", static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 100 && !Running(); i++) usleep(20000);  // until exec has happened
  }
  bool Running() const {
    std::string comm = ReadFile("/proc/" + std::to_string(pid) + "/comm");
    return comm == name + "\n";
  }
  ~NamedSleeper() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};

TEST_F(SysCmdTest, RealProcessTableAndKill) {
  std::string name = "kvq" + std::to_string(getpid() % 100000);
  NamedSleeper s(name);
  ASSERT_TRUE(s.Running());
  EXPECT_EQ(Take(GetSysPsIdList(name.c_str())), " " + std::to_string(s.pid) + " ");
  EXPECT_EQ(Take(GetSysPsIdList(name.substr(0, 4).c_str())), "(null)");
  EXPECT_EQ(Take(CheckProcTableForExecs(("kvnothere," + name).c_str())),
            name + " ( " + std::to_string(s.pid) + " )\n");

  EXPECT_EQ(KillProcessByName(name.c_str()), 0);
  int status = 0;
  ASSERT_EQ(waitpid(s.pid, &status, 0), s.pid);
  s.pid = -1;
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  EXPECT_EQ(KillProcessByName(name.c_str()), 0);  // nothing left: still 0
}

TEST_F(SysCmdTest, DiskSpaceFromDf) {
  DiskSpace ds;
  ASSERT_EQ(GetDiskSpace("/tmp", &ds), 1);
  EXPECT_EQ(ds.Avail, 1234567.0);
  EXPECT_STREQ(ds.DfLine, "/dev/dsk/c0t0d0s0       1234567\n");

  setenv("KV_DF_HEADER", "Filesystem 1k-blocks Used AVAILABLE Capacity", 1);
  setenv("KV_DF_AVAIL", "10 20 30", 1);
  EXPECT_EQ(GetDiskSpace("/tmp", &ds), 1);  // the column headed avail, case ignored
  EXPECT_EQ(ds.Avail, 30.0);

  setenv("KV_DF_HEADER", "Filesystem kbytes used", 1);
  EXPECT_EQ(GetDiskSpace("/tmp", &ds), 0);  // no avail column
  EXPECT_EQ(ds.Avail, 0.0);

  setenv("KV_DF_HEADER", "Filesystem x y avail", 1);
  setenv("KV_DF_AVAIL", "10", 1);
  EXPECT_EQ(GetDiskSpace("/tmp", &ds), 0);  // the data line has no such column
  EXPECT_EQ(ds.Avail, 0.0);
  setenv("KV_DF_AVAIL", "1 2 -", 1);
  EXPECT_EQ(GetDiskSpace("/tmp", &ds), 0);  // not a number
  unsetenv("KV_DF_HEADER");
  unsetenv("KV_DF_AVAIL");

  setenv("KV_DF_NODATA", "1", 1);
  EXPECT_EQ(GetDiskSpace("/tmp", &ds), 0);
  unsetenv("KV_DF_NODATA");
  testing::internal::CaptureStderr();
  EXPECT_EQ(GetDiskSpace("/nonexistent/kv", &ds), 0);  // df says so on standard error
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(ds.Avail, 0.0);
  EXPECT_EQ(GetDiskSpace(nullptr, &ds), 0);
  EXPECT_EQ(GetDiskSpace("/tmp", nullptr), 0);
}

TEST_F(SysCmdTest, DiskSpaceCutsALongDataLine) {
  std::string big(600, '9');
  setenv("KV_DF_AVAIL", big.c_str(), 1);
  DiskSpace ds;
  EXPECT_EQ(GetDiskSpace("/tmp", &ds), 1);
  unsetenv("KV_DF_AVAIL");
  EXPECT_EQ(strlen(ds.DfLine), 511u);
  EXPECT_GT(ds.Avail, 1e300);
}

TEST_F(SysCmdTest, DuFirstNumber) {
  TempDir t;
  t.Touch("f", std::string(100000, 'x'));
  FILE* p = popen(("du -s " + t.path).c_str(), "r");
  double expect = 0;
  ASSERT_EQ(fscanf(p, "%lf", &expect), 1);
  pclose(p);
  EXPECT_GT(expect, 0);
  EXPECT_EQ(DUPath(t.path.c_str()), expect);
  testing::internal::CaptureStderr();
  EXPECT_EQ(DUPath("/nonexistent/kv"), 0.0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(DUPath(nullptr), 0.0);
}

TEST_F(SysCmdTest, AvailSpaceCountsAnOldCopyAsFree) {
  TempDir t;
  mkdir((t / "old").c_str(), 0755);
  t.Touch("old/data", std::string(200000, 'x'));
  double du = DUPath((t / "old").c_str());
  ASSERT_GT(du, 0);
  setenv("KV_DF_AVAIL", "1000", 1);
  EXPECT_EQ(AvailSpace(t.path.c_str(), nullptr, 1000), 1);
  EXPECT_EQ(AvailSpace(t.path.c_str(), nullptr, 1001), 0);
  EXPECT_EQ(AvailSpace(t.path.c_str(), "old", 1000 + du), 1);
  EXPECT_EQ(AvailSpace(t.path.c_str(), "old", 1000 + du + 1), 0);
  EXPECT_EQ(AvailSpace(t.path.c_str(), "missing", 1001), 0);  // no such entry: plain df
  unsetenv("KV_DF_AVAIL");
}

TEST_F(SysCmdTest, AvailSpaceWalksUpToAnExistingDirectory) {
  TempDir t;
  std::string dfRecord = t / "df.rec";
  setenv("KV_DF_RECORD", dfRecord.c_str(), 1);
  setenv("KV_DF_AVAIL", "500", 1);
  std::string target = t / "new/deeper/kvln";
  testing::internal::CaptureStderr();
  EXPECT_EQ(AvailSpace(target.c_str(), "Korvi", 400), 1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(ReadFile(dfRecord), "-b " + target + "\n-b " + t.path + "/new/deeper\n-b " + t.path +
                                   "/new\n-b " + t.path + "\n");
  unlink(dfRecord.c_str());
  // df fails everywhere (even at "/"): 0.
  setenv("KV_DF_HEADER", "Filesystem kbytes", 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(AvailSpace("/kvnothere/x", nullptr, 1), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(ReadFile(dfRecord), "-b /kvnothere/x\n-b /kvnothere\n-b /\n");
  unsetenv("KV_DF_HEADER");
  unsetenv("KV_DF_AVAIL");
  unsetenv("KV_DF_RECORD");
}

TEST(GetDirFileList, BlankFramedListingOfEveryEntry) {
  TempDir t;
  char* p = GetDirFileList(t.path.c_str());
  ASSERT_NE(p, nullptr);
  std::string s = p;
  EXPECT_EQ(s.size(), 6u);  // " . .. " in the directory's order
  EXPECT_EQ(Words(p), (std::multiset<std::string>{".", ".."}));
  EXPECT_EQ(FindToken(".", p) > 0, true);
  PutMem(p);

  t.Touch("a");
  t.Touch("b c");
  std::vector<std::string> many;
  for (int i = 0; i < 3000; i++) t.Touch("file_with_a_longish_name_" + std::to_string(i));
  p = GetDirFileList(t.path.c_str());
  ASSERT_NE(p, nullptr);
  s = p;
  EXPECT_EQ(s.front(), ' ');
  EXPECT_EQ(s.back(), ' ');
  EXPECT_EQ(s.find("  "), std::string::npos);
  EXPECT_GT(FindToken("a", p), 0);
  EXPECT_GT(FindToken("file_with_a_longish_name_2999", p), 0);
  EXPECT_EQ(Words(p).size(), 3000u + 2 + 3);
  PutMem(p);

  EXPECT_EQ(GetDirFileList("/nonexistent/kv"), nullptr);
  EXPECT_EQ(GetDirFileList(nullptr), nullptr);
}

TEST(SearchDirFileList, ByExtension) {
  TempDir t;
  t.Touch("a.tar.Z");
  t.Touch("b.Z");
  t.Touch("c");
  t.Touch("d.z");
  t.Touch("Z");
  EXPECT_EQ(Words(Take(SearchDirFileList(t.path.c_str(), "Z")).c_str()),
            (std::multiset<std::string>{"a.tar.Z", "b.Z"}));
  EXPECT_EQ(Words(Take(SearchDirFileList(t.path.c_str(), nullptr)).c_str()),
            (std::multiset<std::string>{"a.tar.Z", "b.Z", "c", "d.z", "Z"}));
  std::string s = Take(SearchDirFileList(t.path.c_str(), "Z"));
  EXPECT_EQ(s.front(), ' ');
  EXPECT_EQ(s.back(), ' ');
  EXPECT_EQ(s.size(), strlen(" a.tar.Z b.Z "));
  EXPECT_EQ(SearchDirFileList(t.path.c_str(), "gz"), nullptr);
  EXPECT_EQ(SearchDirFileList("/nonexistent/kv", "Z"), nullptr);
  TempDir empty;
  EXPECT_EQ(SearchDirFileList(empty.path.c_str(), nullptr), nullptr);
}

TEST(ReadDir, EntriesThenNull) {
  TempDir t;
  t.Touch("only");
  DIR* d = opendir(t.path.c_str());
  std::multiset<std::string> names;
  while (char* p = ReadDir(d)) names.insert(p);
  closedir(d);
  EXPECT_EQ(names, (std::multiset<std::string>{".", "..", "only"}));
  EXPECT_EQ(ReadDir(nullptr), nullptr);
  EXPECT_EQ(SysGetSubnetMask(), 0);
}

}  // namespace

namespace {

using kvtest::FixDir;
using kvtest::SysCmdTest;
using namespace ktest;

// Settle -1: after the command, wait until a process with the tool's name shows in ps -e.
TEST_F(SysCmdTest, SettleWaitsForTheToolsProcess) {
  std::string name = "kvs" + std::to_string(getpid() % 100000);
  TempDir dir;
  std::string exe = dir / name;
  std::system(("/bin/cp /bin/sleep " + exe).c_str());
  ComRow saved = ComList[kCmdBar];
  ComList[kCmdBar] = {name.c_str(), "", dir.path.c_str(), -1};
  time_t t0 = time(nullptr);
  SysCmd(kCmdBar, kSysCmdLog, "%s", "30 &");  // the tool goes on in the background
  EXPECT_LT(time(nullptr) - t0, 10);          // found before the 11 tries ran out
  EXPECT_EQ(LogTail().find("Time out"), std::string::npos);
  char* pIds = GetSysPsIdList(name.c_str());
  EXPECT_NE(pIds, nullptr);
  PutMem(pIds);
  KillProcessByName(name.c_str());
  ComList[kCmdBar] = saved;
}

// A link planted at the log path before any message: the shell's appending redirection must
// not write through it, and the link's target keeps its content and mode.
TEST_F(SysCmdTest, PlantedLogLinkIsNeverWrittenThrough) {
  TempDir t;
  std::string target = t / "precious";
  t.Touch("precious", "keep\n");
  chmod(target.c_str(), 0640);
  std::string log = LogName();
  unlink(log.c_str());
  ASSERT_EQ(symlink(target.c_str(), log.c_str()), 0);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();  // the log's own complaint about the link
  SysCmd(kCmdEcho, kSysCmdLog, "%s", "through the link?");
  SysCmd(kCmdLs, kSysCmdLog, "%s", "/nonexistent/kv");
  testing::internal::GetCapturedStderr();
  testing::internal::GetCapturedStdout();
  struct stat st;
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadFile(target), "keep\n");
  unlink(log.c_str());
}

}  // namespace
