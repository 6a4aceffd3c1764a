// flow_road_test.cpp - whole runs as root with a small package built here: a fresh
// installation into /opt, into another base (with the /opt/Korvi/kvln link), into /opt under
// another spelling, and a second run over the first.
#include "tests/support/sandbox.h"

using namespace ktest;

namespace {

class Road : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    std::string p = state + "/pkg/VLMRkvln";
    ASSERT_EQ(Shell("mkdir -p " + Quote(p + "/reloc/kvln/bin")), 0);
    WriteFile(p + "/pkginfo",
             "PKG=VLMRkvln\nNAME=Korvi print software\nARCH=i386\nVERSION=4.50.28\n"
             "BASEDIR=/opt/Korvi\n");
    WriteFile(p + "/reloc/kvln/kpqadmin", "#!/bin/sh\necho \"$0 $*\" >> /tmp/kpqadmin.paths\n");
    chmod((p + "/reloc/kvln/kpqadmin").c_str(), 0755);
    WriteFile(p + "/reloc/kvln/bin/marker", "installed\n");
    WriteFile(state + "/pkg/pkg.list", "# nothing to do for this package\n");
    std::string src = KORVI_SOURCE_DIR;
    ASSERT_EQ(Shell(Quote(src + "/sim/mkpkgmap") + " " + Quote(p) + " > " + Quote(p + "/pkgmap")), 0);
    ASSERT_EQ(Shell(Quote(src + "/sim/mkdist") + " " + Quote(p) + " " + Quote(state + "/pkg/pkg.list") +
                 " " + Quote(SetupBinary()) + " " + Quote(At("/tmp/dist")) + " >/dev/null"),
              0);
  }
  RunResult RunAsRoot(const std::vector<std::string>& args) {
    Shell("rm -f " + Quote(state + "/calls.log") + " " + Quote(At("/tmp/kpqadmin.paths")));
    return RunSetup(args, "y\n", {"--pkgadd-answer", "y"});
  }
  int Mode(const std::string& inside) {
    struct stat st;
    return lstat(At(inside).c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
  }
  static std::string QueueToolAt(const std::string& app) {
    return app + "/kpqadmin -upgrade\n" + app + "/kpqadmin -clean\n";
  }
};

TEST_F(Road, FreshInstallationIntoOpt) {
  RunResult r = RunAsRoot({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_NE(Calls().find("pkgadd -d /tmp/KorviInstall VLMRkvln\n"), std::string::npos);
  EXPECT_TRUE(IsDir(At("/opt/Korvi/kvln")));
  EXPECT_EQ(ReadFile(At("/opt/Korvi/kvln/bin/marker")), "installed\n");
  EXPECT_EQ(Mode("/opt/Korvi"), 0755);
  EXPECT_FALSE(Exists(At("/tmp/KorviInstall")));
  EXPECT_EQ(ReadFile(At("/tmp/kpqadmin.paths")), QueueToolAt("/opt/Korvi/kvln"));
  // The run ends with the clean-up: the work directory's removal, two dots and a newline.
  ASSERT_GE(r.after.size(), 4u);
  EXPECT_EQ(r.after.substr(r.after.size() - 4), "...\n");
  std::string log = Log();
  EXPECT_EQ(log.substr(log.rfind("/usr/bin/sh -c")), "/usr/bin/sh -c \"/usr/bin/rm -rf  /tmp/KorviInstall\n");
}

TEST_F(Road, FreshInstallationIntoAnotherBaseLinksTheFixedPoint) {
  RunResult r = RunAsRoot({"install", "/opt/apps"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(IsDir(At("/opt/apps/Korvi/kvln")));
  EXPECT_EQ(LinkText(At("/opt/Korvi/kvln")), "/opt/apps/Korvi/kvln");
  EXPECT_EQ(ReadFile(At("/opt/apps/Korvi/kvln/bin/marker")), "installed\n");
  EXPECT_EQ(Mode("/opt/apps/Korvi"), 0755);
  EXPECT_EQ(ReadFile(At("/tmp/kpqadmin.paths")), QueueToolAt("/opt/apps/Korvi/kvln"));
  std::string log = Log();
  EXPECT_NE(log.find("/usr/bin/sh -c \"/usr/bin/mkdir -p /opt/apps/Korvi/kvln\n"), std::string::npos);
  EXPECT_NE(log.find("/usr/bin/sh -c \"/usr/bin/chmod  775 /opt/apps/Korvi/kvln\n"), std::string::npos);
  EXPECT_NE(log.find("/usr/bin/sh -c \"/usr/bin/ln  -s /opt/apps/Korvi/kvln /opt/Korvi/kvln\n"),
            std::string::npos);
}

TEST_F(Road, OptUnderAnotherSpellingGetsNoLinkOntoItself) {
  RunResult r = RunAsRoot({"install", "/opt//"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(IsDir(At("/opt/Korvi/kvln")));
  EXPECT_FALSE(Exists(At("/opt/Korvi/kvln/kvln")));
  EXPECT_EQ(Log().find("/usr/bin/ln "), std::string::npos);
  EXPECT_EQ(ReadFile(At("/opt/Korvi/kvln/bin/marker")), "installed\n");
}

TEST_F(Road, SecondRunUpgradesInPlace) {
  ASSERT_EQ(RunAsRoot({"install", "/opt/apps"}).status, 0);
  RunResult r = RunAsRoot({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Calls().find("pkgadd"), std::string::npos);  // an upgrade, not a new package
  EXPECT_EQ(LinkText(At("/opt/Korvi/kvln")), "/opt/apps/Korvi/kvln");
  EXPECT_EQ(ReadFile(At("/opt/apps/Korvi/kvln/bin/marker")), "installed\n");
  EXPECT_EQ(ReadFile(At("/tmp/kpqadmin.paths")), QueueToolAt("/opt/apps/Korvi/kvln"));
  // The installation moves back to /opt on request and keeps its files.
  r = RunAsRoot({"install", "/opt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(IsDir(At("/opt/Korvi/kvln")));
  EXPECT_EQ(ReadFile(At("/opt/Korvi/kvln/bin/marker")), "installed\n");
  EXPECT_FALSE(Exists(At("/opt/apps/Korvi/kvln")));
}

}  // namespace
