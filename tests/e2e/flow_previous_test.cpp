// flow_previous_test.cpp - the installation found through /opt/Korvi/kvln (none, a
// directory, a link, a dangling link) and its move to a new base in both directions,
// including targets that name the same directory under another spelling.
#include "tests/support/sandbox.h"

using namespace ktest;

namespace {

class Previous : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    MakeStandInDist();
  }
  void LinkFixedPoint(const std::string& text) {
    ASSERT_EQ(Shell("mkdir -p " + Quote(At("/opt/Korvi"))), 0);
    ASSERT_EQ(symlink(text.c_str(), At("/opt/Korvi/kvln").c_str()), 0);
  }
  // The lines of the run log that are commands (without "initializing system").
  std::string Commands() const {
    std::string log = Log(), out;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
      if (line.rfind("/usr/bin/sh -c ", 0) == 0 && line.find("/usr/bin/cp -p") == std::string::npos)
        out += line.substr(15) + "\n";
    return out;
  }
  std::string QueueToolPaths() const { return ReadFile(At("/tmp/kpqadmin.paths")); }
  static std::string QueueToolAt(const std::string& app) {
    return app + "/kpqadmin -upgrade\n" + app + "/kpqadmin -clean\n";
  }
  static constexpr const char* kNotRoot =
      "....bob is logged in\nYou must become root to run setup\n...\n";
};

TEST_F(Previous, NoneFound) {
  RunResult r = RunSetup({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.after, kNotRoot);
  EXPECT_EQ(Commands(), "\"/usr/bin/rm -rf  /tmp/KorviInstall\n");
  EXPECT_FALSE(Exists(At("/opt/Korvi")));
  EXPECT_FALSE(Exists(At("/tmp/kpqadmin.paths")));
}

TEST_F(Previous, DirectoryUnderOptIsTheBase) {
  MakeInstallation("/opt");
  RunResult r = RunSetup({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.after, kNotRoot);
  EXPECT_EQ(Calls(), "df -b /tmp\ndf -b /opt/Korvi/kvln\nwhoami\n");
  EXPECT_EQ(QueueToolPaths(), QueueToolAt("/opt/Korvi/kvln"));
  EXPECT_TRUE(Exists(At("/opt/Korvi/kvln/bin/marker")));
}

TEST_F(Previous, LinkNamesTheBase) {
  MakeInstallation("/opt/apps");
  LinkFixedPoint("/opt/apps/Korvi/kvln");
  RunResult r = RunSetup({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.after, kNotRoot);
  EXPECT_EQ(Calls(), "df -b /tmp\ndf -b /opt/apps/Korvi/kvln\nwhoami\n");
  EXPECT_EQ(QueueToolPaths(), QueueToolAt("/opt/apps/Korvi/kvln"));
  EXPECT_EQ(LinkText(At("/opt/Korvi/kvln")), "/opt/apps/Korvi/kvln");
}

TEST_F(Previous, RelativeLinkIsReadFromWhereItStands) {
  MakeInstallation("/opt/apps");
  LinkFixedPoint("../apps/Korvi/kvln");
  RunResult r = RunSetup({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(QueueToolPaths(), QueueToolAt("/opt/apps/Korvi/kvln"));
  EXPECT_EQ(LinkText(At("/opt/Korvi/kvln")), "../apps/Korvi/kvln");
}

TEST_F(Previous, DanglingLinkIsRemovedAndTheInstallationIsNew) {
  for (const char* text : {"/opt/gone/Korvi/kvln", "/opt/file"}) {
    WriteFile(At("/opt/file"), "not a directory\n");
    LinkFixedPoint(text);
    RunResult r = RunSetup({});
    EXPECT_EQ(r.status, 0) << text;
    EXPECT_EQ(r.after, "." + std::string(kNotRoot)) << text;
    EXPECT_EQ(Commands(), "\"/usr/bin/rm -f /opt/Korvi/kvln\n\"/usr/bin/rm -rf  /tmp/KorviInstall\n")
        << text;
    EXPECT_FALSE(Exists(At("/opt/Korvi/kvln"))) << text;
    EXPECT_TRUE(IsDir(At("/opt/Korvi"))) << text;
    EXPECT_EQ(Calls(), "df -b /tmp\ndf -b /opt/Korvi\ndf -b /opt/Korvi\nwhoami\n") << text;
    Shell("rm -f " + Quote(state + "/calls.log"));
  }
}

TEST_F(Previous, MovesFromOptToANewBase) {
  MakeInstallation("/opt");
  RunResult r = RunSetup({"install", "/opt/apps"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.after, "......" + std::string(kNotRoot));
  // Copied beside the new place (the copy itself is left out here), renamed into place, the
  // old directory renamed aside, the link renamed over the fixed point, the old tree removed.
  EXPECT_EQ(Commands(),
            "\"/usr/bin/mkdir -p /opt/apps/Korvi\n"
            "\"/usr/bin/chmod  755 /opt/apps/Korvi\n"
            "\"/usr/bin/mkdir -p /opt/apps/Korvi/.kvln.new\n"
            "\"/usr/bin/ln  -s /opt/apps/Korvi/kvln /opt/Korvi/.kvln.link\n"
            "\"/usr/bin/rm -rf  /opt/Korvi/.kvln.old\n"
            "\"/usr/bin/rm -rf  /tmp/KorviInstall\n");
  EXPECT_EQ(Count(Log(), "\nrenamed /opt/apps/Korvi/.kvln.new to /opt/apps/Korvi/kvln\n"
                         "renamed /opt/Korvi/kvln to /opt/Korvi/.kvln.old\n"), 1);
  EXPECT_TRUE(Exists(At("/opt/apps/Korvi/kvln/bin/marker")));
  EXPECT_EQ(LinkText(At("/opt/Korvi/kvln")), "/opt/apps/Korvi/kvln");
  EXPECT_EQ(QueueToolPaths(), QueueToolAt("/opt/apps/Korvi/kvln"));
}

TEST_F(Previous, MovesFromANewBaseBackToOpt) {
  MakeInstallation("/opt/apps");
  LinkFixedPoint("/opt/apps/Korvi/kvln");
  RunResult r = RunSetup({"install", "/opt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Commands(),
            "\"/usr/bin/chmod  755 /opt/Korvi\n"
            "\"/usr/bin/mkdir -p /opt/Korvi/.kvln.new\n"
            "\"/usr/bin/rm -f /opt/Korvi/kvln\n"
            "\"/usr/bin/rm -rf  /opt/apps/Korvi/kvln\n"
            "\"/usr/bin/rm -rf  /tmp/KorviInstall\n");
  EXPECT_EQ(Count(Log(), "\nrenamed /opt/Korvi/.kvln.new to /opt/Korvi/kvln\n"), 1);
  EXPECT_TRUE(IsDir(At("/opt/Korvi/kvln")));
  EXPECT_TRUE(Exists(At("/opt/Korvi/kvln/bin/marker")));
  EXPECT_FALSE(Exists(At("/opt/apps/Korvi/kvln")));
  EXPECT_EQ(QueueToolPaths(), QueueToolAt("/opt/Korvi/kvln"));
}

TEST_F(Previous, MovesBetweenTwoOtherBasesAndRepointsTheLink) {
  MakeInstallation("/opt/apps");
  LinkFixedPoint("/opt/apps/Korvi/kvln");
  ASSERT_EQ(Shell("mkdir -p " + Quote(At("/var/spool/base"))), 0);
  RunResult r = RunSetup({"install", "/var/spool/base/Korvi/kvln"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Exists(At("/var/spool/base/Korvi/kvln/bin/marker")));
  EXPECT_FALSE(Exists(At("/opt/apps/Korvi/kvln")));
  EXPECT_EQ(LinkText(At("/opt/Korvi/kvln")), "/var/spool/base/Korvi/kvln");
  EXPECT_EQ(QueueToolPaths(), QueueToolAt("/var/spool/base/Korvi/kvln"));
}

TEST_F(Previous, SameDirectoryUnderAnotherSpellingIsNotMoved) {
  MakeInstallation("/opt");
  ASSERT_EQ(symlink("/opt", At("/opt/alias").c_str()), 0);  // /opt/alias -> /opt
  for (const char* target : {"/opt", "/opt//", "/opt///", "/opt/alias", "/opt/./"}) {
    RunResult r = RunSetup({"install", target});
    EXPECT_EQ(r.status, 0) << target;
    EXPECT_EQ(r.after, kNotRoot) << target;
    EXPECT_EQ(Commands(), "\"/usr/bin/rm -rf  /tmp/KorviInstall\n") << target;
    EXPECT_TRUE(Exists(At("/opt/Korvi/kvln/bin/marker"))) << target;
    EXPECT_TRUE(IsDir(At("/opt/Korvi/kvln"))) << target;
  }
}

TEST_F(Previous, LinkedInstallationUnderAnotherSpellingIsNotMoved) {
  MakeInstallation("/opt/apps");
  LinkFixedPoint("/opt/apps/Korvi/kvln");
  for (const char* target : {"/opt/apps/", "/opt//apps", "/opt/apps/Korvi/kvln/"}) {
    RunResult r = RunSetup({"install", target});
    EXPECT_EQ(r.status, 0) << target;
    EXPECT_EQ(Commands(), "\"/usr/bin/rm -rf  /tmp/KorviInstall\n") << target;
    EXPECT_TRUE(Exists(At("/opt/apps/Korvi/kvln/bin/marker"))) << target;
    EXPECT_EQ(LinkText(At("/opt/Korvi/kvln")), "/opt/apps/Korvi/kvln") << target;
  }
}

}  // namespace
