// flow_cmdline_test.cpp - every form of setup's command line as a real run shows it: the work
// directory in the copy commands of the run log, the target in the df queries, and the cut of
// an install directory to its base.
#include "tests/support/sandbox.h"

using namespace ktest;

namespace {

class CommandLine : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    MakeStandInDist();
    ASSERT_EQ(Shell("mkdir -p " + Quote(At("/opt/d")) + " " + Quote(At("/tmp/w"))), 0);
  }

  // The run log of a non-root run that copies the distribution into work.
  static std::string CopyLog(const std::string& work) {
    std::string log = "initializing system\n";
    for (const char* f : {"disks", "isize", "tsize", "Solarisi386Kvln.tar.Z"})
      log += "/usr/bin/sh -c \"/usr/bin/cp -p /tmp/dist/./" + std::string(f) + " " + work + "\n";
    return log + "/usr/bin/sh -c \"/usr/bin/rm -rf  " + work + "\n";
  }

  // The df queries: the work area, then the target twice (measured, then tested).
  static std::string SpaceCalls(const std::string& workArea, const std::string& target) {
    return "df -b " + workArea + "\ndf -b " + target + "\ndf -b " + target + "\nwhoami\n";
  }

  void ExpectRun(const std::vector<std::string>& args, const std::string& work,
                 const std::string& workArea, const std::string& target) {
    std::string label;
    for (const std::string& a : args) label += a + " ";
    RunResult r = RunSetup(args);
    EXPECT_EQ(r.status, 0) << label;
    EXPECT_EQ(r.after, "....bob is logged in\nYou must become root to run setup\n...\n") << label;
    EXPECT_EQ(r.err, "") << label;
    EXPECT_EQ(Log(), CopyLog(work)) << label;
    EXPECT_EQ(Calls(), SpaceCalls(workArea, target)) << label;
    EXPECT_FALSE(Exists(At(work))) << label;
    Shell("rm -f " + Quote(state + "/calls.log"));
  }
};

TEST_F(CommandLine, NoArgumentsUseTheDefaults) {
  ExpectRun({}, "/tmp/KorviInstall", "/tmp", "/opt");
}

TEST_F(CommandLine, WorkAreaAndInstallDirectoryInEveryOrder) {
  ExpectRun({"/tmp/w", "/opt/d"}, "/tmp/w/KorviInstall", "/tmp/w", "/opt/d");
  ExpectRun({"/tmp/w", "install", "/opt/d"}, "/tmp/w/KorviInstall", "/tmp/w", "/opt/d");
  ExpectRun({"install", "/opt/d", "/tmp/w"}, "/tmp/w/KorviInstall", "/tmp/w", "/opt/d");
  ExpectRun({"/tmp/w/"}, "/tmp/w/KorviInstall", "/tmp/w", "/opt");
  ExpectRun({"install"}, "/tmp/KorviInstall", "/tmp", "/opt");
  EXPECT_TRUE(IsDir(At("/tmp/w")));  // an area that existed stays
}

TEST_F(CommandLine, LaterWorkAreaReplacesAnEarlierOne) {
  // The earlier area is made when it is read; the later one, which existed, is used and
  // stays after the clean-up.
  RunResult r = RunSetup({"/tmp/x", "install", "/opt/d", "/tmp/w"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Log(), "initializing system\n/usr/bin/sh -c \"/usr/bin/mkdir -p /tmp/x\n" +
                       CopyLog("/tmp/w/KorviInstall").substr(20));
  EXPECT_EQ(Calls(), SpaceCalls("/tmp/w", "/opt/d"));
  EXPECT_TRUE(IsDir(At("/tmp/w")));
  EXPECT_TRUE(IsDir(At("/tmp/x")));
}

TEST_F(CommandLine, InstallDirectoryIsCutToItsBase) {
  for (const char* dir : {"/opt/d/Korvi/kvln", "/opt/d/Korvi", "/opt/d/", "/opt/d/Korvi/kvln/bin",
                          "/opt/d/kvln"})
    ExpectRun({"install", dir}, "/tmp/KorviInstall", "/tmp", "/opt/d");
}

TEST_F(CommandLine, VersionWhereverItStands) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"-v"}, {"/tmp/w", "-v"}, {"install", "/opt/d", "-v", "/tmp/zz"}}) {
    RunResult r = RunSetup(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.after, "");
    EXPECT_EQ(r.err, "setup 4.50.29\n");
    EXPECT_FALSE(Exists(At("/tmp/zz")));
  }
  // "-v" is a whole word: "-vx" is a work area.
  RunResult r = RunSetup({"-vx"});
  EXPECT_EQ(r.err, "");
  EXPECT_NE(Log().find(" /tmp/dist/-vx/KorviInstall\n"), std::string::npos);
}

TEST_F(CommandLine, WorkAreaThatDidNotExistIsMadeAndRemovedAfterwards) {
  RunResult r = RunSetup({"/tmp/new/area"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.after, ".....bob is logged in\nYou must become root to run setup\n....\n");
  std::string log = Log();
  EXPECT_EQ(log.substr(0, log.find("/usr/bin/sh -c \"/usr/bin/cp")),
            "initializing system\n/usr/bin/sh -c \"/usr/bin/mkdir -p /tmp/new/area\n");
  // The work directory is removed twice (from / and from /opt), the area it was made in
  // goes once empty; its parent, which existed, stays.
  EXPECT_EQ(Count(log, "/usr/bin/sh -c \"/usr/bin/rm -rf  /tmp/new/area/KorviInstall\n"), 2);
  EXPECT_FALSE(Exists(At("/tmp/new/area")));
  EXPECT_TRUE(IsDir(At("/tmp/new")));
}

TEST_F(CommandLine, RelativePathsAreTakenFromTheCurrentDirectory) {
  ASSERT_EQ(Shell("mkdir -p " + Quote(At("/tmp/dist/rel"))), 0);
  RunResult r = RunSetup({"rel", "../../opt/d"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Log(), CopyLog("/tmp/dist/rel/KorviInstall"));
  EXPECT_EQ(Calls(), SpaceCalls("/tmp/dist/rel", "/tmp/dist/../../opt/d"));
}

}  // namespace
