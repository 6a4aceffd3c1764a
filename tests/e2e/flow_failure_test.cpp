// flow_failure_test.cpp - the failures of a setup run that the flow reports itself: what the
// user sees and the exit status of each (the agreement, "-v", space, the guard and the root
// check are covered with their own steps).
#include "tests/support/sandbox.h"

using namespace ktest;

namespace {

class Failure : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    MakeStandInDist();
  }
};

TEST_F(Failure, WorkAreaThatCannotBeMade) {
  WriteFile(At("/tmp/file"), "a file, not a directory\n");
  RunResult r = RunSetup({"/tmp/file/area"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.after, ".ERROR: couldn't open /tmp/file/area\n\n");
  std::string log = Log();
  EXPECT_EQ(log.rfind("initializing system\n/usr/bin/sh -c \"/usr/bin/mkdir -p /tmp/file/area\n", 0),
            0u);
  EXPECT_NE(log.find("WARNING_MSG: "), std::string::npos);
  EXPECT_EQ(log.find("cp -p"), std::string::npos);
}

TEST_F(Failure, FatalCommandPrintsErrorAndEndsWithOne) {
  // The file list names a file the distribution lacks: its copy fails.
  WriteFile(At("/tmp/dist/disks"), "disks isize\nmissing tsize\nend_of_list\n");
  RunResult r = RunSetup({}, "y\n", {"--user", "bob"}, nullptr, "umask 000; ");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.after, "...ERROR: exit status 1\n");
  std::string log = Log();
  EXPECT_NE(log.find("/usr/bin/sh -c \"/usr/bin/cp -p /tmp/dist/./missing /tmp/KorviInstall\n"),
            std::string::npos);
  EXPECT_EQ(log.substr(log.size() - 22), "\nERROR: exit status 1\n");
  EXPECT_EQ(log.find("tsize /tmp/KorviInstall"), std::string::npos);  // nothing after it
  // The work directory stays as made: the run's own, closed to everyone else even under
  // umask 0.
  struct stat st;
  ASSERT_EQ(lstat(At("/tmp/KorviInstall").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_EQ(st.st_uid, 0u);
}

TEST_F(Failure, CommandMissingFromTheSystem) {
  // du is needed once an old work directory exists; this host has none. (/usr/bin is the
  // sandbox's private overlay; the search path is cut to the places searched anyway.)
  ASSERT_EQ(Shell("mkdir -p " + Quote(At("/tmp/KorviInstall"))), 0);
  RunResult r = RunSetup({}, "y\n", {"--user", "bob"}, nullptr,
                 PrivateUsrBin() + "rm -f /usr/bin/du; PATH=/usr/bin:/bin:/usr/sbin:/sbin; ");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.after, "");
  EXPECT_EQ(r.err, "ERROR: unable to locate system command 'du'\n");
  EXPECT_TRUE(IsDir(At("/tmp/KorviInstall")));
  EXPECT_TRUE(Exists("/usr/bin/du"));  // the host's own is untouched
}

TEST_F(Failure, FileListMissing) {
  Shell("rm -f " + Quote(At("/tmp/dist/disks")));
  RunResult r = RunSetup({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.after, "");
  EXPECT_EQ(r.err, "ERROR: can't open file, KorviInstall/disks\n");
  EXPECT_EQ(Log(), "initializing system\n");
  EXPECT_FALSE(Exists(At("/tmp/KorviInstall")));
}

TEST_F(Failure, NotRootStillCleansUp) {
  MakeInstallation("/opt");
  RunResult r = RunSetup({}, "y\n", {"--user", "rootx"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.after, "....rootx is logged in\nYou must become root to run setup\n...\n");
  EXPECT_EQ(Count(Log(), "/usr/bin/rm -rf  /tmp/KorviInstall\n"), 1);
  EXPECT_FALSE(Exists(At("/tmp/KorviInstall")));
  EXPECT_EQ(ReadFile(At("/tmp/kpqadmin.calls")),
            "kpqadmin -upgrade LANG=unset\nkpqadmin -clean LANG=unset\n");
}

}  // namespace
