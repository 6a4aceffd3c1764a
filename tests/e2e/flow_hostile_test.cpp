// flow_hostile_test.cpp - texts that would reach the shell (command-line paths, words of the
// file list, the distribution directory) and work directories planted by someone else: each
// is refused with its message and status before anything is changed.
#include "tests/support/sandbox.h"

using namespace ktest;

namespace {

const char* const kHostile[] = {"$(touch /tmp/X)", "`touch /tmp/X`", "a\"b", "a;touch /tmp/X",
                                "a b",             "a'b",            "a|b", "a&b"};

class Hostile : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    MakeStandInDist();
  }
  // Nothing was made, run or copied.
  void ExpectUntouched(const std::string& label) {
    EXPECT_FALSE(Exists(At("/tmp/X"))) << label;
    EXPECT_FALSE(Exists(At("/tmp/KorviInstall"))) << label;
    EXPECT_FALSE(Exists(At("/tmp/newarea"))) << label;
    EXPECT_EQ(Log().find("/usr/bin/sh -c"), std::string::npos) << label;
    // At most the read-only queries of the space check ran.
    std::istringstream calls(Calls());
    for (std::string line; std::getline(calls, line);)
      EXPECT_EQ(line.rfind("df -b ", 0), 0u) << label << ": " << line;
    Shell("rm -f " + Quote(state + "/calls.log"));
  }
};

TEST_F(Hostile, WorkAreaIsRefusedWithMessageThreeAndStatusTwo) {
  for (const char* text : kHostile) {
    std::string area = std::string("/tmp/") + text;
    RunResult r = RunSetup({area});
    EXPECT_EQ(r.status, 2) << text;
    EXPECT_EQ(r.after, "ERROR: couldn't open " + area + "\n\n") << text;
    EXPECT_EQ(r.err.rfind("ERROR: ", 0), 0u) << text;
    ExpectUntouched(text);
  }
  // A relative one is named as the absolute path it would have been.
  RunResult r = RunSetup({"a b"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.after, "ERROR: couldn't open /tmp/dist/a b\n\n");
}

TEST_F(Hostile, InstallDirectoryIsRefusedWithStatusOne) {
  for (const char* text : kHostile) {
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"install", std::string("/opt/") + text}, {"/tmp/newarea", std::string("/opt/") + text},
             {"/tmp/newarea", "install", std::string("/opt/") + text}}) {
      RunResult r = RunSetup(args);
      EXPECT_EQ(r.status, 1) << text;
      EXPECT_EQ(r.after, "") << text;
      EXPECT_EQ(r.err.rfind("ERROR: ", 0), 0u) << text;
      ExpectUntouched(text);
    }
  }
}

TEST_F(Hostile, InstallDirectoryCutToNothingIsRefused) {
  for (const char* text : {"kvln", "Korvi/kvln", "Korvi", "kvln/Korvi"}) {
    RunResult r = RunSetup({"/tmp/newarea", "install", text});
    EXPECT_EQ(r.status, 1) << text;
    EXPECT_EQ(r.after, "") << text;
    EXPECT_EQ(r.err, "ERROR: install directory \"" + std::string(text) +
                         "\" names no base directory; run 'setup install /new_install_path'\n")
        << text;
    ExpectUntouched(text);
  }
}

TEST_F(Hostile, FileListWordIsRefusedBeforeAnythingIsCopied) {
  for (const char* text : {"a;touch${IFS}/tmp/X", "$(touch${IFS}/tmp/X)", "`id`", "a\"b",
                           "-rf"}) {
    WriteFile(At("/tmp/dist/disks"),
             std::string("disks isize tsize\n") + text + "\nSolarisi386Kvln.tar.Z\nend_of_list\n");
    RunResult r = RunSetup({});
    EXPECT_EQ(r.status, 1) << text;
    EXPECT_EQ(r.after, "") << text;
    EXPECT_EQ(r.err.rfind("ERROR: ", 0), 0u) << text;
    ExpectUntouched(text);
  }
  // Words after the end of the list are never looked at.
  WriteFile(At("/tmp/dist/disks"),
           "disks isize tsize Solarisi386Kvln.tar.Z end_of_list $(touch${IFS}/tmp/X)\n");
  RunResult r = RunSetup({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.after, "....bob is logged in\nYou must become root to run setup\n...\n");
}

TEST_F(Hostile, DistributionDirectoryUnsafeForTheShell) {
  MakeStandInDist("/tmp/my dist");
  RunResult r = RunSetup({}, "y\n", {"--user", "bob"}, nullptr, "", "/tmp/my dist");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.after, "");
  EXPECT_EQ(r.err.rfind("ERROR: ", 0), 0u);
  ExpectUntouched("my dist");
}

class PlantedWorkDir : public Hostile {
 protected:
  // rm that removes nothing, so that what was planted is still there when setup makes the
  // work directory (the window between its removal and its creation).
  static std::string NoRemoval() {
    return PrivateUsrBin() +
           "printf '#!/bin/sh\\nexit 0\\n' > /usr/bin/rm; chmod 755 /usr/bin/rm; ";
  }
  static std::string Refusal(const std::string& reason) {
    return ".ERROR: couldn't open /tmp/KorviInstall\n" + reason + "\n\n";
  }
};

TEST_F(PlantedWorkDir, ADirectoryOfAnotherUserIsRefused) {
  ASSERT_EQ(Shell("mkdir -p " + Quote(At("/tmp/KorviInstall")) + " && chown 1000:1000 " +
               Quote(At("/tmp/KorviInstall")) + " && chmod 0777 " + Quote(At("/tmp/KorviInstall")) +
               " && echo evil > " + Quote(At("/tmp/KorviInstall/Solarisi386Kvln.tar.Z"))),
            0);
  RunResult r = RunSetup({}, "y\n", {}, nullptr, NoRemoval());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.after, Refusal("The work directory is in the way: it could not be removed, or "
                             "another user made it again. Remove it, or name another work area: "
                             "'setup /new_work_area_path'."));
  EXPECT_EQ(Log().find("cp -p"), std::string::npos);
  EXPECT_EQ(ReadFile(At("/tmp/KorviInstall/Solarisi386Kvln.tar.Z")), "evil\n");
}

TEST_F(PlantedWorkDir, ALinkIsRefusedAndItsTargetLeftAlone) {
  ASSERT_EQ(Shell("mkdir -p " + Quote(At("/tmp/elsewhere"))), 0);
  ASSERT_EQ(symlink("/tmp/elsewhere", At("/tmp/KorviInstall").c_str()), 0);
  RunResult r = RunSetup({}, "y\n", {}, nullptr, NoRemoval());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.after.find(".ERROR: couldn't open /tmp/KorviInstall\n"), 0u);
  EXPECT_FALSE(Exists(At("/tmp/elsewhere/disks")));
}

TEST_F(PlantedWorkDir, WhatStoodThereIsRemovedAndMadeAnew) {
  // With a working rm the planted directory goes and the run makes its own.
  ASSERT_EQ(Shell("mkdir -p " + Quote(At("/tmp/KorviInstall")) + " && chown 1000:1000 " +
               Quote(At("/tmp/KorviInstall")) + " && chmod 0777 " + Quote(At("/tmp/KorviInstall")) +
               " && echo evil > " + Quote(At("/tmp/KorviInstall/evil"))),
            0);
  WriteFile(At("/tmp/dist/disks"), "disks isize tsize\nmissing\nend_of_list\n");
  RunResult r = RunSetup({});
  EXPECT_EQ(r.status, 1);  // stops at the missing file, leaving the work directory to look at
  struct stat st;
  ASSERT_EQ(lstat(At("/tmp/KorviInstall").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_mode & 022, 0u);
  EXPECT_FALSE(Exists(At("/tmp/KorviInstall/evil")));
  EXPECT_TRUE(Exists(At("/tmp/KorviInstall/disks")));
}

}  // namespace
