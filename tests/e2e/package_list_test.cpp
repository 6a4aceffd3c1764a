// End-to-end runs of the package list "pkg.list" in a new installation of the sample
// package: every keyword and attribute, the release test, the process check, lines that
// lack their argument, and lists whose names are not safe for the shell.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include "tests/support/sandbox.h"

namespace {

using namespace ktest;

const std::string kAD = "/opt/Korvi/kvln";

// A new installation of the sample package (with the sample's extra files in the archive)
// running the given list.
Result InstallWithList(Sandbox& sim, const std::string& list, const std::string& runnerOpts = "",
                       const std::string& input = "y\n") {
  sim.MakeDist(SamplePkgDir(), list, "--extra " + Quote(SampleExtra()));
  return sim.Setup(input, runnerOpts, "", "077");
}

// "user:group" of path.
std::string Owner(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return "";
  std::string out;
  FILE* p = popen(("getent passwd " + std::to_string(st.st_uid) + " | cut -d: -f1; getent group " +
                   std::to_string(st.st_gid) + " | cut -d: -f1").c_str(), "r");
  char buf[128];
  while (p && fgets(buf, sizeof buf, p)) out += buf;
  if (p) pclose(p);
  size_t nl = out.find('\n');
  if (nl != std::string::npos) out[nl] = ':';
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

TEST(PackageList, EveryKeywordAndAttribute) {
  Sandbox sim("keywords");
  Result r = InstallWithList(sim,
      "# a comment: c nothing mode 000\n"
      "#also a comment, written without a blank\n"
      "c kpadmin mode 750 owner daemon group bin bat kpadmin\n"
      "dir fonts mode 755 owner root group bin\n"
      "dirto samples /var/spool/Korvi\n"
      "install kvln.conf mode 640\n"
      "m kvln.conf sed s#@SPOOL@#/var/spool/Korvi#g\n"
      "s kvln.conf sed -e 's#@TOOL@#kpq admin#' -e s/queue_tool/tool/\n"
      "m missing.cfg mode 600\n"
      "s missing.cfg mode 600\n"
      "t kavlonkvln.log mode 666 link /var/spool/Korvi/kavlonkvln.log\n"
      "newdir queues mode 777\n"
      "newdir fonts mode 700 owner daemon\n"
      "c kpinfo.txt \\\n"
      "   mode 600\n"
      "m kpqadmin colour red mode 700 group\n"
      "t after-continuation\n");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::string log = sim.Log();

  // c: copied into the application directory, then mode, owner, group and a launcher.
  EXPECT_TRUE(Contains(log, "cp -p /tmp/KorviInstall/./kpadmin /opt/Korvi/kvln\n"));
  EXPECT_EQ(Mode(sim.At(kAD + "/kpadmin")), 0750);
  EXPECT_TRUE(Contains(log, "chmod  750 /opt/Korvi/kvln/kpadmin\n"));
  EXPECT_TRUE(Contains(log, "chown  -R daemon /opt/Korvi/kvln/kpadmin\n"));
  EXPECT_TRUE(Contains(log, "chgrp  -R bin /opt/Korvi/kvln/kpadmin\n"));
  EXPECT_EQ(Owner(sim.At(kAD + "/kpadmin")), "daemon:bin");
  std::string launcher = ReadFile(sim.At("/usr/bin/kpadmin"));
  EXPECT_EQ(Mode(sim.At("/usr/bin/kpadmin")), 0755);
  EXPECT_EQ(launcher.compare(0, 12, "#!/bin/sh\n#\n"), 0) << launcher;
  EXPECT_TRUE(Contains(launcher, "# Korvi print software, " + std::to_string(CurrentYear())));
  EXPECT_TRUE(Contains(launcher,
                       "\nKavlonFileSourceDir=`pwd`\nexport KavlonFileSourceDir\n\n"
                       "cd /opt/Korvi/kvln\nexec /opt/Korvi/kvln/kpadmin $*\n"))
      << launcher;

  // dir and dirto: recursive copies.
  EXPECT_TRUE(Contains(log, "cp -pr /tmp/KorviInstall/./fonts /opt/Korvi/kvln\n"));
  EXPECT_TRUE(Exists(sim.At(kAD + "/fonts/courier.pfa")));
  EXPECT_EQ(Owner(sim.At(kAD + "/fonts")), "root:bin");
  EXPECT_TRUE(Contains(log, "cp -pr /tmp/KorviInstall/./samples /var/spool/Korvi\n"));
  EXPECT_TRUE(Exists(sim.At("/var/spool/Korvi/samples/page1.ps")));

  // Any other keyword copies like c; sed edits in place and keeps the file's mode.
  EXPECT_EQ(ReadFile(sim.At(kAD + "/kvln.conf")), "spool_dir=/var/spool/Korvi\ntool=kpq admin\n");
  EXPECT_EQ(Mode(sim.At(kAD + "/kvln.conf")), 0640);
  EXPECT_FALSE(Exists(sim.At("/tmp/setup.tmp")));

  // m and s with a missing file: nothing.
  EXPECT_FALSE(Exists(sim.At(kAD + "/missing.cfg")));
  EXPECT_FALSE(Contains(log, "missing.cfg"));

  // t with mode and link.
  EXPECT_EQ(Mode(sim.At(kAD + "/kavlonkvln.log")), 0666);
  EXPECT_TRUE(IsLink(sim.At("/var/spool/Korvi/kavlonkvln.log")));
  EXPECT_EQ(Shell("test \"$(readlink " + Quote(sim.At("/var/spool/Korvi/kavlonkvln.log")) +
                  ")\" = /opt/Korvi/kvln/kavlonkvln.log"), 0);

  // newdir: made 775, then the attributes; an existing directory: nothing at all.
  EXPECT_EQ(Mode(sim.At(kAD + "/queues")), 0777);
  EXPECT_TRUE(Contains(log, "chmod  775 /opt/Korvi/kvln/queues\n"));
  EXPECT_EQ(Mode(sim.At(kAD + "/fonts")), 0755);
  EXPECT_FALSE(Contains(log, "chmod  700 /opt/Korvi/kvln/fonts"));
  EXPECT_FALSE(Contains(log, "daemon /opt/Korvi/kvln/fonts"));

  // A continued line; unknown pairs ignored; a key without a value ends the pairs.
  EXPECT_EQ(Mode(sim.At(kAD + "/kpinfo.txt")), 0600);
  EXPECT_EQ(Mode(sim.At(kAD + "/kpqadmin")), 0700);
  EXPECT_TRUE(Exists(sim.At(kAD + "/after-continuation")));

  // Comments did nothing.
  EXPECT_FALSE(Contains(log, "nothing"));
  EXPECT_FALSE(Contains(log, "./also"));
}

TEST(PackageList, NameRenamesAndLaterAttributesStillUseTheOldName) {
  Sandbox sim("name");
  Result r = InstallWithList(sim, "t a name b mode 755\nt never\n");
  // chmod runs on the old name, which no longer exists: a fatal command that fails.
  EXPECT_EQ(r.status, 1);
  std::string log = sim.Log();
  size_t mv = log.find("mv -f /opt/Korvi/kvln/a /opt/Korvi/kvln/b\n");
  size_t chmod = log.find("chmod  755 /opt/Korvi/kvln/a\n");
  ASSERT_NE(mv, std::string::npos) << log;
  ASSERT_NE(chmod, std::string::npos) << log;
  EXPECT_LT(mv, chmod);
  EXPECT_TRUE(Exists(sim.At(kAD + "/b")));
  EXPECT_FALSE(Exists(sim.At(kAD + "/a")));
  EXPECT_FALSE(Exists(sim.At(kAD + "/never")));
  EXPECT_TRUE(Contains(r.out, "ERROR"));
}

// "v <op> <release>": the release of the system ("uname -r") against the version, as
// byte strings, so "5.10" sorts before "5.9".
struct ReleaseCase {
  const char* release;
  std::vector<std::string> made;  // marker files the list makes on that release
};

void PrintTo(const ReleaseCase& c, std::ostream* os) { *os << c.release; }

class VersionTest : public ::testing::TestWithParam<ReleaseCase> {};

TEST_P(VersionTest, ComparesReleasesAsStrings) {
  Sandbox sim("version");
  Result r = InstallWithList(sim,
                             "v >= 5.10 t ge\n"
                             "v > 5.10 t gt\n"
                             "v = 5.10 t eq\n"
                             "v <= 5.10 t le\n"
                             "v < 5.10 t lt\n"
                             "v <> 5.10 t unknown-op\n"
                             "v => 5.10 t unknown-op2\n"
                             "v <,<= 5.10 t unknown-op3\n"
                             "v >= 5.10 v <= 5.10 t chained\n"
                             "v >= 5.10 c solaris10.cfg mode 600\n"
                             "v >= 0\n",
                             std::string("--release ") + GetParam().release);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::vector<std::string> made;
  for (const char* m : {"ge", "gt", "eq", "le", "lt", "unknown-op", "unknown-op2", "unknown-op3",
                        "chained"})
    if (Exists(sim.At(kAD + "/" + m))) made.push_back(m);
  EXPECT_EQ(made, GetParam().made);
  bool copied = Exists(sim.At(kAD + "/solaris10.cfg"));
  EXPECT_EQ(copied, std::find(made.begin(), made.end(), "ge") != made.end());
  if (copied) {
    EXPECT_EQ(Mode(sim.At(kAD + "/solaris10.cfg")), 0600);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Package, VersionTest,
    ::testing::Values(ReleaseCase{"5.10", {"ge", "eq", "le", "chained"}},
                      ReleaseCase{"5.9", {"ge", "gt"}},
                      ReleaseCase{"5.11", {"ge", "gt"}},
                      ReleaseCase{"5.1", {"le", "lt"}}),
    [](const ::testing::TestParamInfo<ReleaseCase>& i) {
      std::string n = i.param.release;
      for (char& c : n) if (c == '.') c = '_';
      return "Release" + n;
    });

TEST(PackageList, CheckpsQuitStopsTheListAndInstall) {
  Sandbox sim("checkps");
  Result r = InstallWithList(sim, "t before\ncheckps kpadmin,driver mode 700\nt after\n",
                             "--proc driver:120", "y\n2\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "driver ( ")) << r.out;
  EXPECT_TRUE(Exists(sim.At(kAD + "/before")));
  EXPECT_FALSE(Exists(sim.At(kAD + "/after")));
  EXPECT_FALSE(Contains(sim.Log(), "chmod  700"));
  // Install answered 1 before its last step: the vendor directory keeps its mode (made
  // under umask 077), while the clean-up still runs.
  EXPECT_EQ(Mode(sim.At("/opt/Korvi")), 0700);
  EXPECT_EQ(sim.CallsOf("kpqadmin"),
            (std::vector<std::string>{"kpqadmin -upgrade", "kpqadmin -clean"}));
}

TEST(PackageList, CheckpsWithNothingRunningGoesOn) {
  Sandbox sim("checkps2");
  Result r = InstallWithList(sim, "checkps kpadmin,driver,\nt after\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Contains(r.out, "The following processes are running"));
  EXPECT_TRUE(Exists(sim.At(kAD + "/after")));
  EXPECT_EQ(Mode(sim.At("/opt/Korvi")), 0755);
}

TEST(PackageList, LinesWithoutTheirArgumentAreWarnedAndSkipped) {
  Sandbox sim("missing");
  Result r = InstallWithList(sim,
                             "c\n"
                             "dirto samples\n"
                             "v\n"
                             "v >=\n"
                             "newdir\n"
                             "t\n"
                             "\n"
                             "m kvln.conf mode\n"
                             "t last\n");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::string log = sim.Log();
  EXPECT_TRUE(Contains(log, "WARNING_MSG: pkg.list line 1: \"c\" without an argument, line skipped\n"));
  EXPECT_TRUE(Contains(log, "WARNING_MSG: pkg.list line 2: \"dirto\" without a destination, line skipped\n"));
  EXPECT_TRUE(Contains(log, "WARNING_MSG: pkg.list line 3: \"v\" without an operator, line skipped\n"));
  EXPECT_TRUE(Contains(log, "WARNING_MSG: pkg.list line 4: \"v\" without a version, line skipped\n"));
  EXPECT_TRUE(Contains(log, "WARNING_MSG: pkg.list line 5: \"newdir\" without an argument, line skipped\n"));
  EXPECT_TRUE(Contains(log, "WARNING_MSG: pkg.list line 6: \"t\" without an argument, line skipped\n"));
  EXPECT_FALSE(Contains(log, "pkg.list line 7"));
  EXPECT_FALSE(Contains(log, "pkg.list line 8"));
  EXPECT_FALSE(Contains(log, "cp -pr /tmp/KorviInstall/./samples"));
  EXPECT_FALSE(Contains(log, "touch  /opt/Korvi/kvln/\n"));
  EXPECT_TRUE(Exists(sim.At(kAD + "/last")));
}

TEST(PackageList, UnreadableReleaseEndsTheVersionLine) {
  Sandbox sim("norelease");
  Shell("mkdir -p " + Quote(sim.At("/usr/bin")));
  WriteFile(sim.At("/usr/bin/uname"), "#!/bin/sh\nexit 1\n", 0755);
  Result r = InstallWithList(sim, "v >= 0 t ge mode 600\nv < 9 t lt\nt after\n");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(Contains(r.err, "failed ts get version: No data available\n")) << r.err;
  EXPECT_FALSE(Exists(sim.At(kAD + "/ge")));
  EXPECT_FALSE(Exists(sim.At(kAD + "/lt")));
  EXPECT_FALSE(Contains(sim.Log(), "chmod  600"));
  EXPECT_TRUE(Exists(sim.At(kAD + "/after")));
}

TEST(PackageList, LauncherThatCannotBeWrittenIsReportedAndSkipped) {
  Sandbox sim("nolauncher");
  Shell("mkdir -p " + Quote(sim.At("/usr/bin/kvdir")));
  Result r = InstallWithList(sim, "m driver bat kvdir\nt after\n");
  // The list goes on; the run ends with status 1, after the clean-up.
  ASSERT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_FALSE(Exists(sim.At("/tmp/KorviInstall")));
  EXPECT_TRUE(Contains(r.err, "ERROR: can't open file, /usr/bin/kvdir\n")) << r.err;
  EXPECT_TRUE(Exists(sim.At(kAD + "/after")));
}

TEST(PackageList, MissingListIsAnErrorLineAndStatus0) {
  Sandbox sim("nolist");
  sim.MakeDist(SamplePkgDir(), "t x\n");
  // Rebuild the archive without its pkg.list.
  std::string dist = sim.Dist();
  ASSERT_EQ(Shell("cd " + Quote(dist) + " && mkdir u && cd u && uncompress -c ../Solarisi386Kvln.tar.Z"
                  " | tar xf - && rm pkg.list && tar cf - VLMRkvln | compress -c"
                  " > ../Solarisi386Kvln.tar.Z && cd .. && rm -rf u"), 0);
  Result r = sim.Setup("y\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Contains(r.err, "ERROR: can't open file, /tmp/KorviInstall/./pkg.list\n")) << r.err;
}

TEST(PackageList, SedNeverWritesThroughALinkPlantedInTmp) {
  Sandbox sim("sedlink");
  Shell("mkdir -p " + Quote(sim.At("/opt")));
  WriteFile(sim.At("/opt/victim"), "keep me\n");
  ASSERT_EQ(ReadFile(sim.At("/opt/victim")), "keep me\n");
  ASSERT_EQ(symlink("/opt/victim", sim.At("/tmp/setup.tmp").c_str()), 0);
  Result r = InstallWithList(sim, "install kvln.conf\nm kvln.conf sed s/@SPOOL@/spool/\n");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile(sim.At("/opt/victim")), "keep me\n");
  EXPECT_EQ(ReadFile(sim.At(kAD + "/kvln.conf")), "spool_dir=spool\nqueue_tool=@TOOL@\n");
  EXPECT_FALSE(Exists(sim.At("/tmp/setup.tmp")));
}

TEST(PackageList, LinkReplacesALinkLeftBehind) {
  Sandbox sim("relink");
  Shell("mkdir -p " + Quote(sim.At("/var/spool/Korvi")));
  ASSERT_EQ(symlink("/nowhere", sim.At("/var/spool/Korvi/kavlonkvln.log").c_str()), 0);
  Result r = InstallWithList(sim, "t kavlonkvln.log link /var/spool/Korvi/kavlonkvln.log\n");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Shell("test \"$(readlink " + Quote(sim.At("/var/spool/Korvi/kavlonkvln.log")) +
                  ")\" = /opt/Korvi/kvln/kavlonkvln.log"), 0);
}

// Names that reach the shell are checked before the first line runs.
struct HostileListCase {
  const char* name;
  const char* line;
};

void PrintTo(const HostileListCase& c, std::ostream* os) { *os << c.name; }

class HostileList : public ::testing::TestWithParam<HostileListCase> {};

TEST_P(HostileList, IsRefusedBeforeAnyLineRuns) {
  Sandbox sim("hostile");
  Result r = InstallWithList(sim, std::string("t first-line\n# fine\n") + GetParam().line + "\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "ERROR: pkg.list line 3: ")) << r.err;
  EXPECT_TRUE(Contains(sim.Log(), "ERROR: pkg.list line 3: "));
  EXPECT_FALSE(Exists(sim.At(kAD + "/first-line")));
  EXPECT_FALSE(Exists(sim.At("/tmp/pwned")));
  EXPECT_FALSE(Exists("/tmp/pwned"));
}

INSTANTIATE_TEST_SUITE_P(
    Package, HostileList,
    ::testing::Values(
        HostileListCase{"Semicolon", "c kpadmin;touch${IFS}/tmp/pwned"},
        HostileListCase{"Dollar", "t $(touch${IFS}/tmp/pwned)"},
        HostileListCase{"Backquote", "m `touch${IFS}/tmp/pwned` mode 755"},
        HostileListCase{"Quote", "t a\"b"},
        HostileListCase{"SingleQuote", "t a'b"},
        HostileListCase{"ClimbsOut", "t ../../../etc/pwned"},
        HostileListCase{"DirtoClimbsOut", "dirto samples /var/spool/../../etc"},
        HostileListCase{"ModeValue", "t x mode 755;touch${IFS}/tmp/pwned"},
        HostileListCase{"OwnerValue", "t x owner root`touch${IFS}/tmp/pwned`"},
        HostileListCase{"GroupValue", "t x group $HOME"},
        HostileListCase{"LinkValue", "t x link /usr/bin/a;b"},
        HostileListCase{"NameClimbsOut", "t x name ../../../usr/bin/x"},
        HostileListCase{"BatWithSlash", "t x bat ../sbin/x"},
        HostileListCase{"BatDotDot", "t x bat .."},
        HostileListCase{"InsideVersionTest", "v = 0.0 t $(touch${IFS}/tmp/pwned)"},
        HostileListCase{"AfterContinuation", "t x \\\n mode 7;7"}),
    [](const ::testing::TestParamInfo<HostileListCase>& i) { return std::string(i.param.name); });

TEST(PackageList, RefusalsNameTheLineTheWordAndTheReason) {
  struct Case {
    const char* line;
    const char* message;
  };
  for (const Case& c : {
           Case{"t a;b", "ERROR: pkg.list line 1: \"a;b\" holds characters that are not safe in "
                         "a shell command\n"},
           Case{"t a/../../b", "ERROR: pkg.list line 1: \"a/../../b\" climbs out of its "
                               "directory with \"..\"\n"},
           Case{"t a bat x/y", "ERROR: pkg.list line 1: \"x/y\" is not a file name of /usr/bin\n"},
       }) {
    SCOPED_TRACE(c.line);
    Sandbox sim("refusal");
    Result r = InstallWithList(sim, std::string(c.line) + "\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.message);
    EXPECT_TRUE(Contains(sim.Log(), c.message));
  }
}

TEST(PackageList, SedWithoutAPlaceForItsOutputIsRefusedBeforeInstalling) {
  Sandbox sim("sedtmpdir");
  Shell("mkdir -p " + Quote(sim.At("/tmp/setup.tmp")));
  Result r = InstallWithList(sim, "install kvln.conf\nm kvln.conf sed s/a/b/\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: pkg.list line 2: can't make the temporary file /tmp/setup.tmp: a "
                   "directory stands there\n");
  EXPECT_TRUE(sim.CallsOf("pkgadd").empty());
  EXPECT_FALSE(Exists(sim.At("/opt/Korvi")));
}

// A sed that is the first pair takes the rest of the line, blanks and all; a later one
// takes one word, and the pairs after it still apply.
TEST(PackageList, SedFirstTakesTheRestOfTheLineLaterOneWord) {
  Sandbox sim("sedargs");
  Result r = InstallWithList(sim,
                             "install kvln.conf\n"
                             "m kvln.conf owner daemon sed s/@SPOOL@/spool/ group bin\n"
                             "m kvln.conf sed -e \"s/@TOOL@/a b/\" -e 's/$/;/'\n");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile(sim.At(kAD + "/kvln.conf")), "spool_dir=spool;\nqueue_tool=a b;\n");
  // The edits keep the owner given before them.
  struct stat st;
  ASSERT_EQ(stat(sim.At(kAD + "/kvln.conf").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, getpwnam("daemon")->pw_uid);
  EXPECT_EQ(st.st_gid, getgrnam("bin")->gr_gid);
  std::string log = sim.Log();
  size_t chown = log.find("chown  -R daemon /opt/Korvi/kvln/kvln.conf\n");
  size_t sed = log.find("s/@SPOOL@/spool/ /opt/Korvi/kvln/kvln.conf > /tmp/setup.tmp");
  size_t chgrp = log.find("chgrp  -R bin /opt/Korvi/kvln/kvln.conf\n");
  ASSERT_NE(chgrp, std::string::npos) << log;
  EXPECT_LT(chown, sed);
  EXPECT_LT(sed, chgrp);
}

}  // namespace
