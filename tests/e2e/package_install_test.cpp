// End-to-end runs of setup in the simulated host: a new installation from a whole archive,
// from pieces and from an upper-case "DISKS" list; the root check; the older-daemon
// question; an upgrade over a previous installation; a hostile package map.
#include "tests/support/sandbox.h"

namespace {

using namespace ktest;

const char kAD[] = "/opt/Korvi/kvln";
const char kSimpleList[] = "t installed-by-list\n";

// The agreement's answer; pkgadd takes "y" at the end of input.
const char kAccept[] = "y\n";

void ExpectScript(const Sandbox& sim, const std::string& name) {
  std::string path = sim.At(std::string(kAD) + "/" + name);
  SCOPED_TRACE(name);
  ASSERT_TRUE(Exists(path));
  EXPECT_EQ(Mode(path), 0755);
  std::string text = ReadFile(path);
  EXPECT_EQ(text.compare(0, 10, "#!/bin/sh\n"), 0);
  std::string year = std::to_string(CurrentYear());
  // The banner: a comment block right after the shell line naming the vendor and the year.
  const std::string banner = "#!/bin/sh\n#\n# Korvi print software, " + year + ".\n"
                             "# Written by the Korvi installer; it is written anew by every "
                             "installation,\n# so changes made here do not last.\n#\n";
  EXPECT_EQ(text.compare(0, banner.size(), banner), 0) << text.substr(0, 300);
  EXPECT_TRUE(Contains(text, "ToolPath=\"/opt/Korvi/kvln\"\n"));
  EXPECT_EQ(Shell("sh -n " + Quote(path)), 0) << "not valid shell: " << path;
}

// What every successful new installation leaves.
void ExpectFreshInstall(const Sandbox& sim, const Result& r) {
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(sim.CallsOf("pkgadd"), std::vector<std::string>{"pkgadd -d /tmp/KorviInstall VLMRkvln"});
  EXPECT_TRUE(Exists(sim.At("/opt/Korvi/kvln/kpqadmin")));
  EXPECT_EQ(ReadFile(sim.At("/opt/Korvi/kvln/.kp_cfg")), " V5 ");
  EXPECT_EQ(Mode(sim.At("/opt/Korvi/kvln/.kp_cfg")), 0644);
  for (const char* s : {"KorviPrintkvln", "v4DriverScript", "v5DriverScript", "KorviKSF"})
    ExpectScript(sim, s);
  EXPECT_EQ(Mode(sim.At("/var/spool/Korvi")), 0775);
  EXPECT_EQ(Mode(sim.At("/var/spool/Korvi/kvln/__kpa_download__")), 0777);
  EXPECT_TRUE(Exists(sim.At("/opt/Korvi/kvln/installed-by-list")));
  // Under umask 077 the vendor directory is made 700; the last step opens it to 755.
  EXPECT_EQ(Mode(sim.At("/opt/Korvi")), 0755);
  // The clean-up: the work directory goes and the queue tool is run twice.
  EXPECT_FALSE(Exists(sim.At("/tmp/KorviInstall")));
  std::vector<std::string> kp = sim.CallsOf("kpqadmin");
  EXPECT_EQ(kp, (std::vector<std::string>{"kpqadmin -upgrade", "kpqadmin -clean"}));
}

TEST(Install, NewInstallationFromWholeArchive) {
  Sandbox sim("whole");
  sim.MakeDist(SamplePkgDir(), kSimpleList);
  ASSERT_TRUE(Exists(sim.Dist() + "/Solarisi386Kvln.tar.Z"));
  Result r = sim.Setup(kAccept, "", "", "077");
  ExpectFreshInstall(sim, r);
  // The archive is unpacked in the work directory and its tar file deleted there.
  std::string log = sim.Log();
  EXPECT_TRUE(Contains(log, "uncompress  /tmp/KorviInstall/Solarisi386Kvln.tar.Z"));
  EXPECT_TRUE(Contains(log, "tar xvfp /tmp/KorviInstall/Solarisi386Kvln.tar"));
  EXPECT_TRUE(Contains(log, "rm -rf /tmp/KorviInstall/Solarisi386Kvln.tar"));
  // pkgadd talked to the terminal itself.
  EXPECT_TRUE(Contains(r.out, "Installation of <VLMRkvln> was successful."));
  EXPECT_FALSE(Contains(log, "pkgadd -d"));
}

TEST(Install, NewInstallationFromPieces) {
  Sandbox sim("pieces");
  sim.MakeDist(SamplePkgDir(), kSimpleList, "--pieces 3");
  ASSERT_TRUE(Exists(sim.Dist() + "/pkg_tar.03"));
  ASSERT_FALSE(Exists(sim.Dist() + "/Solarisi386Kvln.tar.Z"));
  ExpectFreshInstall(sim, sim.Setup(kAccept, "", "", "077"));
}

TEST(Install, NewInstallationFromUpperCaseDisksList) {
  Sandbox sim("upper");
  sim.MakeDist(SamplePkgDir(), kSimpleList, "--upper --pieces 2");
  ASSERT_TRUE(Exists(sim.Dist() + "/DISKS"));
  ASSERT_FALSE(Exists(sim.Dist() + "/disks"));
  // A list written in lower case is read upper case up to "end_of_list", which stays.
  std::string list = ReadFile(sim.Dist() + "/DISKS");
  std::string lower;
  for (char c : list) lower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
  WriteFile(sim.Dist() + "/DISKS", lower);
  ASSERT_TRUE(Contains(lower, "pkg_tar.01\npkg_tar.02\nend_of_list"));
  ExpectFreshInstall(sim, sim.Setup(kAccept, "", "", "077"));
}

TEST(Install, PiecesAreJoinedInListOrder) {
  Sandbox sim("order");
  sim.MakeDist(SamplePkgDir(), kSimpleList, "--pieces 2");
  // Swapped in the list, the pieces make no archive: the uncompress step fails (fatal).
  WriteFile(sim.Dist() + "/disks", "disks isize tsize pkg_tar.02 pkg_tar.01 end_of_list\n");
  Result r = sim.Setup(kAccept);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(sim.CallsOf("pkgadd").empty());
}

TEST(Install, NotRootInstallsNothingButCleansUp) {
  Sandbox sim("notroot");
  sim.MakeDist(SamplePkgDir(), kSimpleList);
  Result r = sim.Setup(kAccept, "--user alice");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Contains(r.out, "alice is logged in\nYou must become root to run setup\n"));
  EXPECT_TRUE(sim.CallsOf("pkgadd").empty());
  EXPECT_FALSE(Exists(sim.At("/opt/Korvi/kvln/.kp_cfg")));
  EXPECT_FALSE(Exists(sim.At("/tmp/KorviInstall")));
  EXPECT_TRUE(Contains(sim.Log(), "rm -rf  /tmp/KorviInstall"));
}

TEST(Install, RootxIsNotRoot) {
  Sandbox sim("rootx");
  sim.MakeDist(SamplePkgDir(), kSimpleList);
  Result r = sim.Setup(kAccept, "--user rootx");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Contains(r.out, "rootx is logged in\nYou must become root to run setup\n"));
  EXPECT_TRUE(sim.CallsOf("pkgadd").empty());
}

TEST(Install, FailingPkgaddEndsTheRun) {
  Sandbox sim("pkgaddfail");
  sim.MakeDist(SamplePkgDir(), kSimpleList);
  Result r = sim.Setup(kAccept, "--fail pkgadd");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "ERROR"));
  EXPECT_FALSE(Exists(sim.At("/opt/Korvi/kvln/installed-by-list")));
  EXPECT_TRUE(sim.CallsOf("kpqadmin").empty());
}

TEST(Install, MissingFileListEndsWithStatus1) {
  Sandbox sim("nodisks");
  sim.MakeDist(SamplePkgDir(), kSimpleList);
  Shell("rm -f " + Quote(sim.Dist() + "/disks"));
  Result r = sim.Setup(kAccept);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "ERROR: can't open file, KorviInstall/disks\n")) << r.err;
  EXPECT_TRUE(sim.CallsOf("pkgadd").empty());
}

// The README's main job installs the sample distribution end to end in the sandbox.
TEST(Install, SampleDistributionThroughTheMainJob) {
  Sandbox sim("demo");
  std::string out = sim.state + "/demo";
  std::string cmd = "cd " + Quote(KORVI_SOURCE_DIR) + " && printf 'y\\n' | KORVI_DEMO_SETUP=" +
                    Quote(SetupBinary()) + " KORVI_DEMO_OUT=" + Quote(out) +
                    " timeout 300 scripts/demo.sh >" + Quote(sim.state + "/demo.out") + " 2>&1";
  int status = Shell(cmd);
  std::string text = ReadFile(sim.state + "/demo.out");
  EXPECT_EQ(status, 0) << text;
  EXPECT_TRUE(Contains(text, "Installation of <VLMRkvln> was successful.")) << text;
  std::string log = ReadFile(out + "/setup.log");
  EXPECT_TRUE(Contains(log, "cp -p /tmp/KorviInstall/./kpadmin /opt/Korvi/kvln\n")) << log;
  EXPECT_FALSE(Contains(log, "ERROR"));
  EXPECT_FALSE(Contains(log, "WARNING"));
}

// ---------------------------------------------------------------------------
// The older daemon-based product
// ---------------------------------------------------------------------------

class OldDaemon : public ::testing::Test {
 protected:
  OldDaemon() : sim("daemon") {}
  void SetUp() override {
    sim.MakeDist(SamplePkgDir(), kSimpleList);
    Shell("mkdir -p " + Quote(sim.At("/opt/Korvi/kvln")) + " " + Quote(sim.At("/etc/rc2.d")));
    WriteFile(sim.At("/opt/Korvi/kvln/KavlonD"), "old daemon\n", 0755);
    WriteFile(sim.At("/etc/rc2.d/KKorviPrintD"), "stop\n", 0755);
    WriteFile(sim.At("/etc/rc2.d/SKorviPrintD"), "start\n", 0755);
  }
  static int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) n++;
    return n;
  }
  const std::string kNotice =
      "\nIf you currently have Korvi printer software installed that uses KavlonD\nprint "
      "daemon, you must delete all your Korvi print queues prior to installing\nthis "
      "package.\n\nNOTE: KavlonD is located in <install directory>/Korvi/kvln\n";
  const std::string kQuestion = "\nDo You want to continue with the installation? [yn] ";
  Sandbox sim;
};

TEST_F(OldDaemon, YesGoesOnAndKeepsTheStartupLinks) {
  Result r = sim.Setup("y\nyes\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, kNotice + kQuestion));
  EXPECT_TRUE(Exists(sim.At("/etc/rc2.d/KKorviPrintD")));
  EXPECT_TRUE(Exists(sim.At("/etc/rc2.d/SKorviPrintD")));
  EXPECT_EQ(ReadFile(sim.At("/opt/Korvi/kvln/.kp_cfg")), " V5 ");
}

TEST_F(OldDaemon, NRemovesTheStartupLinksAndGoesOn) {
  Result r = sim.Setup("y\nn\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Exists(sim.At("/etc/rc2.d/KKorviPrintD")));
  EXPECT_FALSE(Exists(sim.At("/etc/rc2.d/SKorviPrintD")));
  EXPECT_EQ(ReadFile(sim.At("/opt/Korvi/kvln/.kp_cfg")), " V5 ");
}

TEST_F(OldDaemon, NWithOnlyOneLinkPresent) {
  Shell("rm -f " + Quote(sim.At("/etc/rc2.d/SKorviPrintD")));
  Result r = sim.Setup("y\nn\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Exists(sim.At("/etc/rc2.d/KKorviPrintD")));
  EXPECT_EQ(Count(sim.Log(), "/etc/rc2.d/"), 1);
}

TEST_F(OldDaemon, NoEndsTheProgramWithoutCleanUp) {
  Result r = sim.Setup("y\nno\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Exists(sim.At("/etc/rc2.d/SKorviPrintD")));
  EXPECT_TRUE(Exists(sim.At("/tmp/KorviInstall")));  // no clean-up ran
  EXPECT_TRUE(sim.CallsOf("kpqadmin").empty());
  EXPECT_FALSE(Exists(sim.At("/opt/Korvi/kvln/.kp_cfg")));
}

TEST_F(OldDaemon, EndOfInputIsLikeNo) {
  Result r = sim.Setup("y\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Count(r.out, kQuestion), 1);
  EXPECT_EQ(r.out.substr(r.out.size() - kQuestion.size() - 1), kQuestion + "\n");
  EXPECT_TRUE(Exists(sim.At("/tmp/KorviInstall")));
  EXPECT_TRUE(sim.CallsOf("kpqadmin").empty());
  EXPECT_FALSE(Exists(sim.At("/opt/Korvi/kvln/.kp_cfg")));
}

TEST_F(OldDaemon, OtherAnswersAskAgain) {
  Result r = sim.Setup("y\nmaybe\n\n  Y\nyes,n\n  yes please\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.out, kQuestion), 5);  // "Y" is not "y"; the first word decides
  EXPECT_EQ(Count(r.out, kNotice), 1);
  EXPECT_EQ(ReadFile(sim.At("/opt/Korvi/kvln/.kp_cfg")), " V5 ");
}

TEST_F(OldDaemon, KavlonDStopAloneAlsoAsks) {
  Shell("mv " + Quote(sim.At("/opt/Korvi/kvln/KavlonD")) + " " +
        Quote(sim.At("/opt/Korvi/kvln/KavlonDStop")));
  Result r = sim.Setup("y\nno\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Contains(r.out, kQuestion));
}

// ---------------------------------------------------------------------------
// Upgrade over a previous installation
// ---------------------------------------------------------------------------

class Upgrade : public ::testing::Test {
 protected:
  Upgrade() : sim("upgrade") {}
  // A new installation of the sample, then a package record of an older version and
  // installed files that differ from the package's.
  void SetUp() override {
    sim.MakeDist(SamplePkgDir(), kSimpleList);
    Result r = sim.Setup(kAccept);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::string info = sim.At("/var/sadm/pkg/VLMRkvln/pkginfo");
    ASSERT_TRUE(Contains(ReadFile(info), "VERSION=4.50.29\n"));
    Shell("sed -i 's/^VERSION=.*/VERSION=4.50.1/' " + Quote(info));
    WriteFile(sim.At("/opt/Korvi/kvln/README"), "stale\n");
    WriteFile(sim.At("/var/spool/Korvi/kvln/README"), "stale\n");
    WriteFile(sim.At("/opt/Korvi/kvln/KorviPrintkvln"), "junk\n", 0600);
    Shell("rm -f " + Quote(sim.At("/opt/Korvi/kvln/.kp_cfg")) + " " +
          Quote(sim.At("/opt/Korvi/kvln/installed-by-list")));
    sim.ClearRecords();
  }
  Sandbox sim;
};

TEST_F(Upgrade, RegistersAndCopiesEveryFileOfThePackageMap) {
  sim.MakeDist(SamplePkgDir(), "t list-ran-on-upgrade\n");
  Result r = sim.Setup(kAccept);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(sim.CallsOf("pkgadd").empty());
  std::vector<std::string> inst = sim.CallsOf("installf");
  const std::vector<std::string> expected = {
      "installf -c none VLMRkvln /opt/Korvi/kvln/AixInterface f 0755 root other",
      "installf -c none VLMRkvln /opt/Korvi/kvln/README f 0644 root other",
      "installf -c none VLMRkvln /opt/Korvi/kvln/bin/kvlninfo f 0755 root other",
      "installf -c none VLMRkvln /opt/Korvi/kvln/driver f 0755 root other",
      "installf -c none VLMRkvln /opt/Korvi/kvln/kpqadmin f 0755 root other",
      "installf -c none VLMRkvln /opt/Korvi/kvln/kprkvlntty f 0755 root other",
      "installf -c none VLMRkvln /opt/Korvi/kvln/ksf f 0755 root other",
      "installf -c none VLMRkvln /opt/Korvi/kvln/v5driver f 0755 root other",
      "installf -c none VLMRkvln /var/spool/Korvi/kvln/README f 0644 root other",
      "installf -f VLMRkvln",
  };
  EXPECT_EQ(inst, expected);  // directories, the link and the information file are skipped
  // Relative paths come from reloc/, absolute ones from root/.
  EXPECT_EQ(ReadFile(sim.At("/opt/Korvi/kvln/README")),
            ReadFile(SamplePkgDir() + "/reloc/kvln/README"));
  EXPECT_EQ(ReadFile(sim.At("/var/spool/Korvi/kvln/README")),
            ReadFile(SamplePkgDir() + "/root/var/spool/Korvi/kvln/README"));
  // The package record reports this installer's version; the rest of it is kept.
  std::string info = ReadFile(sim.At("/var/sadm/pkg/VLMRkvln/pkginfo"));
  EXPECT_TRUE(Contains(info, "\nVERSION=4.50.29\n")) << info;
  EXPECT_TRUE(Contains(info, "PKG=VLMRkvln\n"));
  EXPECT_FALSE(Exists(sim.At("/var/sadm/pkg/VLMRkvln/pkginfo.tmp")));
  // The package list is not run on an upgrade.
  EXPECT_FALSE(Exists(sim.At("/opt/Korvi/kvln/list-ran-on-upgrade")));
  EXPECT_FALSE(Contains(sim.Log(), "list-ran-on-upgrade"));
  // Flag file and scripts are written anew; the clean-up runs.
  EXPECT_EQ(ReadFile(sim.At("/opt/Korvi/kvln/.kp_cfg")), " V5 ");
  ExpectScript(sim, "KorviPrintkvln");
  EXPECT_EQ(sim.CallsOf("kpqadmin"),
            (std::vector<std::string>{"kpqadmin -upgrade", "kpqadmin -clean"}));
}

TEST_F(Upgrade, CreatesTheGtkDirectories) {
  ASSERT_FALSE(Exists(sim.At("/opt/Korvi/kvln/lib")));
  Result r = sim.Setup(kAccept);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Mode(sim.At("/opt/Korvi/kvln/lib")), 0755);
  for (const char* d :
       {"lib/gtk", "lib/gtk/modules", "lib/gtk/modules/2.2.0", "lib/gtk/modules/2.2.0/engines",
        "lib/gtk/modules/2.2.0/immodules", "lib/gtk/modules/2.2.0/loaders",
        "lib/gtk/modules/etc", "lib/gtk/modules/etc/gtk-2.0", "lib/gtk/modules/etc/pango",
        "lib/gtk/modules/include", "lib/gtk/modules/modules", "lib/gtk/modules/pango",
        "lib/gtk/modules/pango/1.2.0", "lib/gtk/modules/pango/1.2.0/modules"}) {
    EXPECT_TRUE(Exists(sim.At(std::string("/opt/Korvi/kvln/") + d))) << d;
  }
}

TEST_F(Upgrade, ExistingLibDirectoryIsLeftAlone) {
  Shell("mkdir -p " + Quote(sim.At("/opt/Korvi/kvln/lib")));
  Result r = sim.Setup(kAccept);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_FALSE(Exists(sim.At("/opt/Korvi/kvln/lib/gtk")));
}

TEST_F(Upgrade, UnreadablePackageRecordIsKeptAsItIs) {
  std::string info = sim.At("/var/sadm/pkg/VLMRkvln/pkginfo");
  Shell("rm -f " + Quote(info) + " && mkdir " + Quote(info));
  Result r = sim.Setup(kAccept);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(Contains(sim.Log(), "WARNING_MSG: /var/sadm/pkg/VLMRkvln/pkginfo: version not updated\n"));
  EXPECT_EQ(Shell("test -d " + Quote(info)), 0);
  EXPECT_FALSE(Exists(info + ".tmp"));
}

TEST_F(Upgrade, FailingRegistrationsDoNotStopIt) {
  Result r = sim.Setup(kAccept, "--fail installf");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(sim.CallsOf("installf").size(), 10u);
  EXPECT_EQ(ReadFile(sim.At("/opt/Korvi/kvln/README")),
            ReadFile(SamplePkgDir() + "/reloc/kvln/README"));
}

// Relative paths of the package map are registered and copied under the installation's
// own base directory.
TEST(UpgradeElsewhere, RelativePathsGoUnderTheInstallationsBase) {
  Sandbox sim("upgradeapps");
  sim.MakeDist(SamplePkgDir(), kSimpleList);
  ASSERT_EQ(sim.Setup(kAccept, "", "install /opt/apps").status, 0);
  WriteFile(sim.At("/opt/apps/Korvi/kvln/README"), "stale\n");
  sim.ClearRecords();
  Result r = sim.Setup(kAccept);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::vector<std::string> inst = sim.CallsOf("installf");
  ASSERT_EQ(inst.size(), 10u);
  EXPECT_EQ(inst[0], "installf -c none VLMRkvln /opt/apps/Korvi/kvln/AixInterface f 0755 root other");
  EXPECT_EQ(inst[8], "installf -c none VLMRkvln /var/spool/Korvi/kvln/README f 0644 root other");
  EXPECT_EQ(ReadFile(sim.At("/opt/apps/Korvi/kvln/README")),
            ReadFile(SamplePkgDir() + "/reloc/kvln/README"));
  EXPECT_EQ(Mode(sim.At("/opt/apps/Korvi/kvln/lib/gtk/modules")), 0755);
  std::string script = ReadFile(sim.At("/opt/apps/Korvi/kvln/KorviPrintkvln"));
  EXPECT_TRUE(Contains(script, "\nToolPath=\"/opt/apps/Korvi/kvln\"\n"));
  EXPECT_EQ(Mode(sim.At("/opt/apps/Korvi/kvln/KorviPrintkvln")), 0755);
  EXPECT_EQ(ReadFile(sim.At("/opt/apps/Korvi/kvln/.kp_cfg")), " V5 ");
}

// A package map whose entries could be read by the shell as more than a path, or that
// climb out of their tree, is refused before the upgrade changes anything.
struct HostileMapCase {
  const char* name;
  const char* line;      // the pkgmap line added
  const char* file;      // the file it names inside the package (made so mkdist accepts it)
  const char* word;      // the word refused
  bool climbs;           // refused for "..", else for its characters
};

void PrintTo(const HostileMapCase& c, std::ostream* os) { *os << c.name; }

class HostileMap : public Upgrade, public ::testing::WithParamInterface<HostileMapCase> {};

TEST_P(HostileMap, IsRefusedBeforeAnythingChanges) {
  const HostileMapCase& c = GetParam();
  std::string pkg = CopySamplePackage(sim.state + "/hostile");
  std::string file = pkg + "/" + c.file;
  Shell("mkdir -p \"$(dirname " + Quote(file) + ")\"");
  WriteFile(file, "x\n");
  std::string map = ReadFile(pkg + "/pkgmap");
  size_t at = map.find("1 i pkginfo");
  map.insert(at, std::string(c.line) + "\n");
  int lineNo = 1 + static_cast<int>(std::count(map.begin(), map.begin() + at, '\n'));
  WriteFile(pkg + "/pkgmap", map);
  sim.MakeDist(pkg, kSimpleList);
  Result r = sim.Setup(kAccept);
  EXPECT_EQ(r.status, 1);
  std::string message = "ERROR: /tmp/KorviInstall/VLMRkvln/pkgmap line " + std::to_string(lineNo) +
                        ": \"" + c.word + "\" " +
                        (c.climbs ? "climbs out of its directory with \"..\""
                                  : "holds characters that are not safe in a shell command") +
                        "\n";
  EXPECT_EQ(r.err, message);
  EXPECT_TRUE(Contains(sim.Log(), message));
  EXPECT_TRUE(sim.CallsOf("installf").empty());
  EXPECT_FALSE(Exists(sim.At("/opt/Korvi/kvln/lib")));
  EXPECT_EQ(ReadFile(sim.At("/opt/Korvi/kvln/README")), "stale\n");
  EXPECT_TRUE(Contains(ReadFile(sim.At("/var/sadm/pkg/VLMRkvln/pkginfo")), "VERSION=4.50.1\n"));
  EXPECT_FALSE(Exists(sim.At("/tmp/pwned")));
  EXPECT_FALSE(Exists("/tmp/pwned"));
}

INSTANTIATE_TEST_SUITE_P(
    Package, HostileMap,
    ::testing::Values(
        HostileMapCase{"Semicolon", "1 f none kvln/a;touch${IFS}/tmp/pwned 0644 root other 1 1 1",
                       "reloc/kvln/a;touch${IFS}/tmp/pwned", "kvln/a;touch${IFS}/tmp/pwned",
                       false},
        HostileMapCase{"Dollar", "1 f none kvln/$(touch${IFS}/tmp/pwned) 0644 root other 1 1 1",
                       "reloc/kvln/$(touch${IFS}/tmp/pwned)", "kvln/$(touch${IFS}/tmp/pwned)",
                       false},
        HostileMapCase{"Backquote", "1 f none kvln/`touch${IFS}/tmp/pwned` 0644 root other 1 1 1",
                       "reloc/kvln/`touch${IFS}/tmp/pwned`", "kvln/`touch${IFS}/tmp/pwned`",
                       false},
        HostileMapCase{"Quote", "1 f none kvln/a\"b 0644 root other 1 1 1", "reloc/kvln/a\"b",
                       "kvln/a\"b", false},
        HostileMapCase{"ClimbsOut", "1 f none kvln/../../etc/x 0644 root other 1 1 1", "etc/x",
                       "kvln/../../etc/x", true},
        HostileMapCase{"AbsoluteClimbsOut", "1 f none /var/../etc/x 0644 root other 1 1 1",
                       "root/etc/x", "/var/../etc/x", true},
        HostileMapCase{"HostileOwner",
                       "1 f none kvln/ok 0644 root;touch${IFS}/tmp/pwned other 1 1 1",
                       "reloc/kvln/ok", "root;touch${IFS}/tmp/pwned", false}),
    [](const ::testing::TestParamInfo<HostileMapCase>& i) { return std::string(i.param.name); });

}  // namespace
