// install_faults_test.cpp - the installer under hostile input and failing disks: a renamed
// program, paths longer than a buffer, installations nested in one another, a relocation
// or an upgrade that runs out of room on a real small file system, a failed first
// installation, a file list, size files and a package list that do not fit their readers.
// Each case checks that no injected command ran, that nothing outside the paths the run
// may change was touched, that the installation in place still works, and the status and
// message.
#include "tests/support/sandbox.h"

namespace {

using namespace ktest;

const char kAccept[] = "y\n";
const char kList[] = "t installed-by-list\n";
// What an injected command would make.
const char kInjected[] = "/tmp/INJECTED";

void ExpectNothingInjected(const Sandbox& sim) { EXPECT_FALSE(Exists(sim.At(kInjected))); }

// A first installation into base (the default "/opt" when empty).
void InstallFirst(Sandbox& sim, const std::string& base = "", const std::string& opts = "",
                  const std::string& list = kList) {
  sim.MakeDist(SamplePkgDir(), list);
  Result r = sim.Setup(kAccept, opts, base.empty() ? "" : "install " + Quote(base));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  sim.ClearRecords();
}

// ---------------------------------------------------------------------------------------
// The program's own name
// ---------------------------------------------------------------------------------------

TEST(Faults, RenamedProgramNeverReachesTheShell) {
  // The package list edits a file: its temporary file is named after the program.
  const std::string list = "t edited sed s/a/b/\n";
  // $M names the marker: a file name holds no "/".
  for (const std::string name : {"set;touch${IFS}$M;up", "set$(touch${IFS}$M)up", "set up"}) {
    Sandbox sim("name");
    sim.MakeDist(SamplePkgDir(), list);
    ASSERT_EQ(rename((sim.Dist() + "/setup").c_str(), (sim.Dist() + "/" + name).c_str()), 0);
    Result r = sim.Run(kAccept, "", "umask 022; export M=/tmp/INJECTED; exec ./" + Quote(name));
    EXPECT_EQ(r.status, 0) << name << r.out << r.err;
    EXPECT_TRUE(Contains(r.err, "WARNING: the program's name is not a plain file name; its "
                                "files are named after \"setup\"\n")) << name << r.err;
    ExpectNothingInjected(sim);
    EXPECT_TRUE(Exists(sim.At("/tmp/setup.log"))) << name;
    EXPECT_TRUE(Contains(sim.Log(), "> /tmp/setup.tmp; }")) << name;
    EXPECT_TRUE(Exists(sim.At("/opt/Korvi/kvln/edited"))) << name;
    ExpectUsable(sim);
  }
}

// ---------------------------------------------------------------------------------------
// Paths longer than a buffer
// ---------------------------------------------------------------------------------------

TEST(Faults, LongInstallDirectoryIsUpgradedWhereItIs) {
  Sandbox sim("longpath");
  // A base of 300 characters: its link's text is longer than 255.
  const std::string base = "/opt/" + std::string(98, 'a') + "/" + std::string(98, 'b') + "/" +
                           std::string(97, 'c');
  ASSERT_EQ(base.size(), 300u);
  InstallFirst(sim, base);
  char text[4096];
  ssize_t n = readlink(sim.At("/opt/Korvi/kvln").c_str(), text, sizeof text);
  ASSERT_EQ(std::string(text, n > 0 ? n : 0), base + "/Korvi/kvln");

  // The plain run that follows upgrades the real tree and nothing beside it.
  Shell("sed -i 's/^VERSION=.*/VERSION=4.40.1/' " +
        Quote(sim.At("/var/sadm/pkg/VLMRkvln/pkginfo")));
  Result r = sim.Setup(kAccept);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(Contains(sim.Calls(), "installf -c none VLMRkvln " + base + "/Korvi/kvln/driver "))
      << sim.Calls();
  Result dirs = sim.Run("", "", "ls -A " + Quote(base.substr(0, base.rfind('/'))));
  EXPECT_EQ(dirs.out, std::string(97, 'c') + "\n");  // no sibling of a cut name
  EXPECT_TRUE(Contains(ReadFile(sim.At("/var/sadm/pkg/VLMRkvln/pkginfo")), "VERSION=4.50.29\n"));
  EXPECT_TRUE(sim.CallsOf("pkgadd").empty());
  ExpectUsable(sim);
}

TEST(Faults, PathsTooLongForTheTargetAreRefusedBeforeAnyChange) {
  Sandbox sim("toolong");
  InstallFirst(sim);
  std::string deep = "/opt";
  while (deep.size() < 1100) deep += "/" + std::string(200, 'd');
  auto before = StateSnapshot(sim);

  Result r = sim.Setup(kAccept, "", "install " + Quote(deep));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "ERROR: install directory \"" + deep.substr(0, 60) +
                                  "...\" is too long: its application directory would have " +
                                  std::to_string(deep.size() + 11) + " characters, more than "
                                  "1023\n")) << r.err;
  EXPECT_EQ(ChangedPaths(before, StateSnapshot(sim)), std::vector<std::string>{});

  // A link planted at the fixed point with a text over the limit names no installation
  // that may be acted on.
  Shell("mkdir -p " + Quote(sim.At("/opt/real")) + " && mv " + Quote(sim.At("/opt/Korvi/kvln")) +
        " " + Quote(sim.At("/opt/real/")));
  std::string planted = deep + "/Korvi/kvln";
  ASSERT_EQ(symlink(planted.c_str(), sim.At("/opt/Korvi/kvln").c_str()), 0);
  Shell("mkdir -p " + Quote(sim.At(deep)) + "/Korvi && cp -a " + Quote(sim.At("/opt/real/kvln")) +
        " " + Quote(sim.At(deep + "/Korvi/")));
  before = StateSnapshot(sim);
  r = sim.Setup(kAccept);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "ERROR: the installation found through /opt/Korvi/kvln \"" +
                                  deep.substr(0, 60) + "...\" is too long")) << r.err;
  EXPECT_EQ(ChangedPaths(before, StateSnapshot(sim)), std::vector<std::string>{});
  EXPECT_TRUE(sim.CallsOf("installf").empty());
  ExpectNothingInjected(sim);
}

// ---------------------------------------------------------------------------------------
// Nested places
// ---------------------------------------------------------------------------------------

TEST(Faults, TargetHoldingTheOldInstallationIsRefused) {
  Sandbox sim("nested");
  // The installation lies inside /opt/new/Korvi/kvln, reached through the link /opt/b.
  Shell("mkdir -p " + Quote(sim.At("/opt/new/Korvi/kvln/old")));
  ASSERT_EQ(symlink("/opt/new/Korvi/kvln/old", sim.At("/opt/b").c_str()), 0);
  InstallFirst(sim, "/opt/b");
  auto before = StateSnapshot(sim);

  Result r = sim.Setup(kAccept, "", "install /opt/new");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "ERROR: the new application directory and the installation found through "
            "/opt/Korvi/kvln lie inside one another; name another install directory: 'setup "
            "install /new_install_path' (/tmp/KorviInstall, /opt/new/Korvi/kvln, "
            "/opt/new/Korvi/kvln/old/Korvi/kvln)\n");
  EXPECT_EQ(ChangedPaths(before, StateSnapshot(sim)), std::vector<std::string>{});
  ExpectUsable(sim);

  // The other way round: the new place inside the installation.
  Shell("mkdir -p " + Quote(sim.At("/opt/new/Korvi/kvln/old/Korvi/kvln/sub")));
  ASSERT_EQ(symlink("/opt/new/Korvi/kvln/old/Korvi/kvln/sub", sim.At("/opt/inner").c_str()), 0);
  before = StateSnapshot(sim);
  r = sim.Setup(kAccept, "", "install /opt/inner");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "lie inside one another; name another install directory")) << r.err;
  EXPECT_EQ(ChangedPaths(before, StateSnapshot(sim)), std::vector<std::string>{});
  ExpectUsable(sim);
}

TEST(Faults, WorkDirectoryHoldingTheInstallationIsRefused) {
  Sandbox sim("nestedwork");
  // The base is reached through a link: a path naming "Korvi" would be cut there.
  Shell("mkdir -p " + Quote(sim.At("/opt/w/KorviInstall/inst")));
  ASSERT_EQ(symlink("/opt/w/KorviInstall/inst", sim.At("/opt/lnk").c_str()), 0);
  InstallFirst(sim, "/opt/lnk");
  auto before = StateSnapshot(sim);
  // The work directory /opt/w/KorviInstall would be emptied before the copy.
  Result r = sim.Setup(kAccept, "", "/opt/w");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "ERROR: the work directory and the application directory lie "
                              "inside one another; name another work area: 'setup "
                              "/new_work_area_path'")) << r.err;
  EXPECT_EQ(ChangedPaths(before, StateSnapshot(sim)), std::vector<std::string>{});
  // A work area the run made for itself goes again.
  r = sim.Setup(kAccept, "", "/opt/lnk/Korvi/kvln/area");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ChangedPaths(before, StateSnapshot(sim)), std::vector<std::string>{});
  ExpectUsable(sim);
}

// ---------------------------------------------------------------------------------------
// Relocation on a file system that fills up
// ---------------------------------------------------------------------------------------

TEST(Faults, RelocationThatRunsOutOfRoomKeepsTheInstallation) {
  for (const std::string from : {"", "/opt/apps"}) {
    Sandbox sim("relocfull");
    InstallFirst(sim, from);
    std::string old = from.empty() ? "/opt/Korvi/kvln" : from + "/Korvi/kvln";
    auto before = StateSnapshot(sim);
    // 24 KB: the vendor directory fits, the installation does not.
    Result r = sim.Setup(kAccept, "--small-fs /opt/full=24", "install /opt/full");
    EXPECT_EQ(r.status, 1) << from;
    EXPECT_TRUE(Contains(r.out, "ERROR: the installation was not moved to /opt/full/Korvi/kvln: "
                                "it could not be copied there; it stays at " + old + "\n"))
        << from << r.out;
    EXPECT_FALSE(Exists(sim.At("/opt/full/Korvi/.kvln.new"))) << from;
    EXPECT_FALSE(Exists(sim.At("/opt/full/Korvi/kvln"))) << from;
    std::vector<std::string> changed = ChangedPaths(before, StateSnapshot(sim));
    EXPECT_EQ(changed, std::vector<std::string>{"/opt/full"}) << from;  // the mount point
    ExpectUsable(sim);
    ExpectNothingInjected(sim);
  }
}

TEST(Faults, RelocationMovesTheWholeTreeAndRemovesTheOldOneLast) {
  Sandbox sim("relocok");
  InstallFirst(sim, "/opt/apps");
  Result r = sim.Setup(kAccept, "", "install /opt/new");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_FALSE(Exists(sim.At("/opt/apps/Korvi/kvln")));
  EXPECT_FALSE(Exists(sim.At("/opt/new/Korvi/.kvln.new")));
  EXPECT_FALSE(Exists(sim.At("/opt/Korvi/.kvln.link")));
  EXPECT_TRUE(Exists(sim.At("/opt/new/Korvi/kvln/installed-by-list")));
  char text[256];
  ssize_t n = readlink(sim.At("/opt/Korvi/kvln").c_str(), text, sizeof text);
  EXPECT_EQ(std::string(text, n > 0 ? n : 0), "/opt/new/Korvi/kvln");
  std::string log = sim.Log();
  size_t copy = log.find("cp -pr /opt/apps/Korvi/kvln/. /opt/new/Korvi/.kvln.new");
  size_t link = log.find("renamed /opt/Korvi/.kvln.link to /opt/Korvi/kvln\n");
  size_t gone = log.find("rm -rf  /opt/apps/Korvi/kvln\n");
  EXPECT_LT(copy, link) << log;
  EXPECT_LT(link, gone) << log;
  EXPECT_NE(gone, std::string::npos) << log;
  ExpectUsable(sim);

  // Back to /opt under another spelling: the directory takes the link's place.
  ASSERT_EQ(symlink("/opt", sim.At("/opt/alias").c_str()), 0);
  r = sim.Setup(kAccept, "", "install /opt/alias");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_FALSE(IsLink(sim.At("/opt/Korvi/kvln")));
  EXPECT_TRUE(Exists(sim.At("/opt/Korvi/kvln/installed-by-list")));
  EXPECT_FALSE(Exists(sim.At("/opt/new/Korvi/kvln")));
  ExpectUsable(sim);
}

// ---------------------------------------------------------------------------------------
// A failed first installation
// ---------------------------------------------------------------------------------------

TEST(Faults, FailedFirstInstallationLeavesNothingThatLooksInstalled) {
  Sandbox sim("firstfail");
  sim.MakeDist(SamplePkgDir(), kList);
  sim.Run("", "", "true");  // the sandbox's places exist in the state
  auto before = StateSnapshot(sim);
  Result r = sim.Setup(kAccept, "--fail pkgadd", "install /opt/apps");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "ERROR: pkgadd failed; the installation of VLMRkvln was not "
                              "made\n")) << r.out;
  std::vector<std::string> changed = ChangedPaths(before, StateSnapshot(sim));
  for (const std::string& p : changed)  // only the work directory's leftovers
    EXPECT_EQ(p.rfind("/tmp/KorviInstall", 0), 0u) << p;
  EXPECT_FALSE(Exists(sim.At("/opt/Korvi")));
  EXPECT_FALSE(Exists(sim.At("/opt/apps")));

  // The next run is a new installation, not an upgrade of nothing.
  sim.ClearRecords();
  r = sim.Setup(kAccept, "", "install /opt/apps");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(sim.CallsOf("pkgadd").size(), 1u);
  EXPECT_TRUE(Exists(sim.At("/opt/apps/Korvi/kvln/installed-by-list")));
  ExpectUsable(sim);
}

TEST(Faults, TreeWithoutPackageRecordGetsANewInstallation) {
  Sandbox sim("norecord");
  // What an older failed run left: the tree and the link, no package record.
  Shell("mkdir -p " + Quote(sim.At("/opt/apps/Korvi/kvln")) + " " + Quote(sim.At("/opt/Korvi")));
  ASSERT_EQ(symlink("/opt/apps/Korvi/kvln", sim.At("/opt/Korvi/kvln").c_str()), 0);
  sim.MakeDist(SamplePkgDir(), kList);
  Result r = sim.Setup(kAccept);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(sim.CallsOf("pkgadd").size(), 1u);
  EXPECT_TRUE(sim.CallsOf("installf -c").empty());
  EXPECT_TRUE(Exists(sim.At("/opt/apps/Korvi/kvln/installed-by-list")));
  ExpectUsable(sim);
}

// ---------------------------------------------------------------------------------------
// An upgrade on a full disk
// ---------------------------------------------------------------------------------------

TEST(Faults, UpgradeOnAFullDiskIsReportedAndKeepsItsVersionAndScripts) {
  Sandbox sim("upfull");
  const std::string opts = "--small-fs /opt/full=400";
  InstallFirst(sim, "/opt/full", opts);
  Shell("sed -i 's/^VERSION=.*/VERSION=4.40.1/' " +
        Quote(sim.At("/var/sadm/pkg/VLMRkvln/pkginfo")));
  Shell("mkdir -p " + Quote(sim.At("/opt/full/Korvi/kvln/lib")));
  std::string script = ReadFile(sim.At("/opt/full/Korvi/kvln/KorviPrintkvln"));
  ASSERT_FALSE(script.empty());

  // The new release carries a larger README; the disk is full when the upgrade starts.
  std::string pkg = CopySamplePackage(sim.state + "/newpkg");
  Shell("head -c 100000 /dev/zero | tr '\\0' x >> " + Quote(pkg + "/reloc/kvln/README") +
        " && " + Quote(Src("sim/mkpkgmap")) + " " + Quote(pkg) + " > " + Quote(pkg + "/pkgmap.new") +
        " && mv " + Quote(pkg + "/pkgmap.new") + " " + Quote(pkg + "/pkgmap"));
  sim.MakeDist(pkg, kList);
  Result r = sim.Run(kAccept, opts,
                     "dd if=/dev/zero of=/opt/full/filler bs=4k 2>/dev/null; umask 022; "
                     "exec ./setup");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_TRUE(Contains(r.err, "ERROR: VLMRkvln was not upgraded whole: 1 of its files could "
                              "not be copied; its version stays as it was\n"))
      << r.err;
  EXPECT_TRUE(Contains(r.err, "ERROR: can't write /opt/full/Korvi/kvln/KorviPrintkvln: No space "
                              "left on device\n")) << r.err;
  EXPECT_TRUE(Contains(ReadFile(sim.At("/var/sadm/pkg/VLMRkvln/pkginfo")), "VERSION=4.40.1\n"));
  // The old scripts and flag file stay whole; no temporary file is left.
  EXPECT_EQ(ReadFile(sim.At("/opt/full/Korvi/kvln/KorviPrintkvln")), script);
  EXPECT_EQ(ReadFile(sim.At("/opt/full/Korvi/kvln/.kp_cfg")), " V5 ");
  Result left = sim.Run("", opts, "ls -a /opt/full/Korvi/kvln | grep -c '[.]new$'");
  EXPECT_EQ(left.out, "0\n");
  // The clean-up still ran.
  EXPECT_FALSE(Exists(sim.At("/tmp/KorviInstall")));
  Shell("rm -f " + Quote(sim.At("/opt/full/filler")));
  ExpectUsable(sim, opts);
  ExpectNothingInjected(sim);
}

// ---------------------------------------------------------------------------------------
// Lists and size files that do not fit their readers
// ---------------------------------------------------------------------------------------

TEST(Faults, FileListThatDoesNotFitIsRefused) {
  Sandbox sim("cutlist");
  InstallFirst(sim);
  // A word of 200 characters whose first 127 name a file that exists.
  const std::string longName = std::string(127, 'p') + std::string(73, 'q');
  WriteFile(sim.Dist() + "/" + std::string(127, 'p'), "cut name\n");
  WriteFile(sim.Dist() + "/disks",
            "disks isize tsize\nSolarisi386Kvln.tar.Z\n" + longName + "\nend_of_list\n");
  auto before = StateSnapshot(sim);
  Result r = sim.Setup(kAccept);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: /tmp/dist/./disks: the name \"" + longName.substr(0, 40) +
                       "...\" is longer than 127 characters; the list is refused\n");
  EXPECT_EQ(ChangedPaths(before, StateSnapshot(sim)), std::vector<std::string>{});

  // A list longer than its buffer.
  WriteFile(sim.Dist() + "/disks", "disks isize tsize" + std::string(4090, ' ') +
                                       "\nSolarisi386Kvln.tar.Z\nend_of_list\n");
  before = StateSnapshot(sim);
  r = sim.Setup(kAccept);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: /tmp/dist/./disks is longer than 4095 bytes; the list is refused\n");
  EXPECT_EQ(ChangedPaths(before, StateSnapshot(sim)), std::vector<std::string>{});
  EXPECT_TRUE(sim.CallsOf("pkgadd").empty());
  ExpectUsable(sim);
}

TEST(Faults, SizeFileWithoutAFiniteSizeCannotBeRead) {
  Sandbox sim("badsize");
  InstallFirst(sim);
  const std::string msg65 =
      "Could not determine how much space needed for install, missing isize.\n";
  for (const char* text : {"nan", "-inf", "-1e9", "-Infinity", "1e999"}) {
    for (const char* file : {"isize", "tsize"}) {
      std::string other = std::string(file) == "isize" ? "tsize" : "isize";
      WriteFile(sim.Dist() + "/" + file, std::string(text) + "\n");
      WriteFile(sim.Dist() + "/" + other, "10\n");
      auto before = StateSnapshot(sim);
      Result r = sim.Setup(kAccept, "--df /=100 --df /tmp=100");
      EXPECT_EQ(r.status, 0) << text << file;
      EXPECT_TRUE(Contains(r.out, msg65)) << text << file << r.out;
      EXPECT_TRUE(sim.CallsOf("pkgadd").empty()) << text;
      EXPECT_TRUE(sim.CallsOf("installf").empty()) << text;
      EXPECT_EQ(ChangedPaths(before, StateSnapshot(sim)), std::vector<std::string>{}) << text << file;
    }
  }
  ExpectUsable(sim);
}

TEST(Faults, PackageListLineLongerThanTheReaderNeverRunsItsTail) {
  // The reader takes 510 characters of a line: the tail of each long line below would be a
  // line of its own ("t tail-ran").
  const std::string tail = " t tail-ran";
  const std::string comment = "#" + std::string(509, 'x') + tail + std::string(190, 'y') + "\n";
  // A comment continued by backslashes past the 4095 characters of a logical line.
  std::string continued;
  for (int i = 0; i < 8; i++) continued += "#" + std::string(498, 'x') + "\\\n";
  continued += std::string(87, 'x') + tail + "\n";
  {
    Sandbox sim("longcomment");
    sim.MakeDist(SamplePkgDir(), "t before\n" + comment + continued + "t after\n");
    Result r = sim.Setup(kAccept);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Exists(sim.At("/opt/Korvi/kvln/before")));
    EXPECT_TRUE(Exists(sim.At("/opt/Korvi/kvln/after")));
    EXPECT_FALSE(Exists(sim.At("/opt/Korvi/kvln/tail-ran")));
    ExpectUsable(sim);
  }
  {
    Sandbox sim("longline");
    const std::string line = "t " + std::string(508, 'z') + tail + "\n";
    sim.MakeDist(SamplePkgDir(), "t before\n" + comment + line + "t after\n");
    Result r = sim.Setup(kAccept);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "ERROR: pkg.list line 3: longer than a line may be\n")) << r.err;
    EXPECT_FALSE(Exists(sim.At("/opt/Korvi/kvln/tail-ran")));
    // The list is checked whole before pkgadd: nothing was installed.
    EXPECT_FALSE(Exists(sim.At("/opt/Korvi")));
  }
}

}  // namespace
