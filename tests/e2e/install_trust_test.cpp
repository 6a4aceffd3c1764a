// install_trust_test.cpp - the unpacked archive as a trust boundary and one installer at a
// time: links in the archive that a copy would follow, a local user who rewrites the unpacked
// package list or package map right after tar returns, archives that record another owner,
// a second setup started while the first is inside pkgadd, and runs killed part-way through
// a first installation or a move, then run again. Each case checks what ran,
// that nothing outside the paths a run may change was touched, what is installed and
// registered at the end, and the status and message.
#include "tests/support/sandbox.h"

namespace {

using namespace ktest;

const char kAccept[] = "y\n";
const char kAD[] = "/opt/Korvi/kvln";
// A file only root may read, made inside the sandbox by the run's own command line.
const char kSecret[] = "/etc/korvi-secret";
const std::string kMakeSecret =
    "umask 077; echo 'root only' > /etc/korvi-secret; umask 022; ";
// After setup, inside the same sandbox: setup's status, then the secret's mode.
const std::string kAfter = "; rc=$?; stat -c 'secret=%a' /etc/korvi-secret; exit $rc";

// The state's entries (see StateSnapshot) but the work directory, the distribution and
// /usr; the sandbox's places are made first.
std::map<std::string, std::string> Snapshot(const Sandbox& sim) {
  if (!Exists(sim.At("/var/sadm"))) sim.Run("", "", "true");
  return StateSnapshot(sim, {"/tmp/KorviInstall", "/tmp/dist", "/usr"});
}

// Unpacks the distribution's whole archive, runs edit (sh, in the unpacked tree) and packs
// it again with tarOpts.
void Repack(const Sandbox& sim, const std::string& edit,
            const std::string& tarOpts = "--owner=0 --group=0 --numeric-owner") {
  std::string cmd = "cd " + Quote(sim.Dist()) + " && rm -rf .u && mkdir .u && cd .u && "
                    "uncompress -c ../Solarisi386Kvln.tar.Z | tar xpf - && " + edit +
                    " && tar --format=ustar " + tarOpts + " -cf - $(ls -A) | compress -c > "
                    "../Solarisi386Kvln.tar.Z && cd .. && rm -rf .u";
  ASSERT_EQ(Shell(cmd), 0) << cmd;
}

// The complete installation reached through /opt/Korvi/kvln: programs, flag file and
// scripts, the package list's work, the spool directories and the package record.
void ExpectComplete(const Sandbox& sim, const std::string& listMade = "installed-by-list") {
  Result r = sim.Run("", "",
                     "cd /opt/Korvi/kvln && test -x kpqadmin && test -x driver && "
                     "test -s .kp_cfg && sh -n KorviPrintkvln && test -s KorviKSF && "
                     "test -e " + listMade + " && test -d /var/spool/Korvi/kvln/__kpa_download__"
                     " && pkginfo -q VLMRkvln");
  EXPECT_EQ(r.status, 0) << "the installation is not complete: " << r.out << r.err;
}

// A stand-in tool in the state's /usr/bin or /usr/sbin (above the simulated host's own).
void PutTool(const Sandbox& sim, const std::string& path, const std::string& script) {
  Shell("mkdir -p " + Quote(sim.state + path.substr(0, path.rfind('/'))));
  WriteFile(sim.state + path, script, 0755);
}

// ---------------------------------------------------------------------------------------
// Links inside the archive
// ---------------------------------------------------------------------------------------

struct LinkCase {
  const char* name;
  const char* edit;     // run in the unpacked tree
  const char* list;     // the package list
  const char* message;  // the error line
};

class ArchiveLink : public ::testing::TestWithParam<LinkCase> {};

TEST_P(ArchiveLink, NewInstallationIsRefusedBeforeAnyCopy) {
  const LinkCase& c = GetParam();
  Sandbox sim("link");
  sim.MakeDist(SamplePkgDir(), c.list, "--extra " + Quote(SampleExtra()));
  Repack(sim, c.edit);
  auto before = Snapshot(sim);
  Result r = sim.Run(kAccept, "", kMakeSecret + "./setup" + kAfter);
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_TRUE(Contains(r.err, c.message)) << r.err;
  EXPECT_TRUE(Contains(r.out, "secret=600\n")) << r.out;
  EXPECT_TRUE(sim.CallsOf("pkgadd").empty());
  EXPECT_EQ(ChangedPaths(before, Snapshot(sim)), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Trust, ArchiveLink,
    ::testing::Values(
        LinkCase{"ListCopiesALinkOut", "ln -s /etc/korvi-secret secret",
                 "c secret mode 644\n",
                 "ERROR: the member \"secret\" is a link that leads out of the work directory, "
                 "to /etc/korvi-secret; the archive is refused\n"},
        LinkCase{"UncopiedDanglingLinkOut", "ln -s ../../../etc/korvi-none fonts/later",
                 "t installed-by-list\n",
                 "ERROR: the member \"fonts/later\" is a link that leads out of the work "
                 "directory, to /etc/korvi-none; the archive is refused\n"},
        LinkCase{"ListCopiesALinkInside", "ln -s kpinfo.txt alias", "c alias mode 644\n",
                 "ERROR: pkg.list line 1: \"alias\" is a link in the archive; the list copies "
                 "only files\n"},
        LinkCase{"ListCopiesADirectoryHoldingALink", "ln -s ../kpinfo.txt fonts/info",
                 "t installed-by-list\ndir fonts mode 755\n",
                 "ERROR: pkg.list line 2: \"fonts/info\" is a link in the archive; the list "
                 "copies only files\n"}),
    [](const ::testing::TestParamInfo<LinkCase>& i) { return std::string(i.param.name); });

TEST(Trust, UpgradeIsRefusedWhenTheMapCopiesALink) {
  Sandbox sim("maplink");
  sim.MakeDist(SamplePkgDir(), "t installed-by-list\n");
  ASSERT_EQ(sim.Setup(kAccept).status, 0);
  sim.ClearRecords();
  auto before = Snapshot(sim);
  const std::string readme = ReadFile(sim.At(std::string(kAD) + "/README"));

  struct {
    const char* edit;
    const char* message;
  } cases[] = {
      {"ln -sf /etc/korvi-secret VLMRkvln/reloc/kvln/README",
       "ERROR: the member \"VLMRkvln/reloc/kvln/README\" is a link that leads out of the work "
       "directory, to /etc/korvi-secret; the archive is refused\n"},
      {"ln -sf ../../pkginfo VLMRkvln/reloc/kvln/README",
       "ERROR: the member \"VLMRkvln/reloc/kvln/README\", which the package map copies, is a "
       "link; the archive is refused\n"},
  };
  for (const auto& c : cases) {
    sim.MakeDist(SamplePkgDir(), "t installed-by-list\n");
    Repack(sim, c.edit);
    Result r = sim.Run(kAccept, "", kMakeSecret + "./setup" + kAfter);
    EXPECT_EQ(r.status, 1) << c.edit << r.out << r.err;
    EXPECT_TRUE(Contains(r.err, c.message)) << r.err;
    EXPECT_TRUE(Contains(r.out, "secret=600\n")) << r.out;
    EXPECT_EQ(Grep(sim.Calls(), "installf "), std::vector<std::string>{}) << c.edit;
    EXPECT_EQ(ReadFile(sim.At(std::string(kAD) + "/README")), readme);
    EXPECT_EQ(ChangedPaths(before, Snapshot(sim)), std::vector<std::string>{}) << c.edit;
    ExpectComplete(sim);
    sim.ClearRecords();
  }
}

// ---------------------------------------------------------------------------------------
// Owners of the unpacked tree
// ---------------------------------------------------------------------------------------

// tar as the host has it, then a hook run as the local user 1000 (who owns every member the
// archive records) while setup goes on.
void PutTarHook(const Sandbox& sim, const std::string& hook) {
  ASSERT_EQ(Shell("cp \"$(command -v tar)\" " + Quote(sim.state + "/realtar")), 0);
  WriteFile(sim.state + "/hook.sh", hook, 0755);
  PutTool(sim, "/usr/bin/tar",
          "#!/bin/sh\n/var/korvi-sim/realtar \"$@\"\nrc=$?\n"
          "setpriv --reuid=1000 --regid=1000 --clear-groups sh -c \"$(cat "
          "/var/korvi-sim/hook.sh)\" >/var/korvi-sim/hook.out 2>&1\nexit $rc\n");
}

const char kForeignOwner[] = "--owner=1000 --group=1000 --numeric-owner";

TEST(Trust, LocalUserCannotRewriteTheListAfterTar) {
  Sandbox sim("hooklist");
  sim.MakeDist(SamplePkgDir(), "c kpadmin mode 755\nt installed-by-list\n",
               "--extra " + Quote(SampleExtra()));
  Repack(sim, "true", kForeignOwner);
  PutTarHook(sim, "cd /tmp/KorviInstall && echo 't hooked' >> pkg.list && echo rewritten\n");
  Result r = sim.Setup(kAccept);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_FALSE(Contains(ReadFile(sim.state + "/hook.out"), "rewritten"));
  EXPECT_FALSE(Exists(sim.At(std::string(kAD) + "/hooked")));
  ExpectComplete(sim);
  // What the list copied is root's, not the owner the archive recorded.
  struct stat st;
  ASSERT_EQ(stat(sim.At(std::string(kAD) + "/kpadmin").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_gid, 0u);
}

TEST(Trust, LocalUserCannotRewriteTheMapBeforeTheUpgrade) {
  Sandbox sim("hookmap");
  sim.MakeDist(SamplePkgDir(), "t installed-by-list\n");
  ASSERT_EQ(sim.Setup(kAccept).status, 0);
  sim.ClearRecords();
  Repack(sim, "true", kForeignOwner);
  PutTarHook(sim,
             "cd /tmp/KorviInstall/VLMRkvln && mkdir -p root/etc && echo hooked > "
             "root/etc/korvi-hooked && echo '1 f none /etc/korvi-hooked 0644 root other' >> "
             "pkgmap && echo rewritten\n");
  Result r = sim.Run(kAccept, "", "./setup; rc=$?; test -e /etc/korvi-hooked && echo HOOKED; "
                                  "exit $rc");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_FALSE(Contains(ReadFile(sim.state + "/hook.out"), "rewritten"));
  EXPECT_FALSE(Contains(r.out, "HOOKED"));
  EXPECT_FALSE(Contains(sim.Calls(), "korvi-hooked"));
  EXPECT_EQ(Grep(sim.Calls(), "installf -c none VLMRkvln /opt/Korvi/kvln/driver ").size(), 1u);
  ExpectComplete(sim);
}

TEST(Trust, ListOrMapThatOthersMayWriteIsRefused) {
  for (const char* edit : {"chmod 666 pkg.list", "chmod 664 VLMRkvln/pkgmap"}) {
    Sandbox sim("writable");
    sim.MakeDist(SamplePkgDir(), "t installed-by-list\n");
    Repack(sim, edit);
    auto before = Snapshot(sim);
    Result r = sim.Setup(kAccept);
    EXPECT_EQ(r.status, 1) << edit;
    std::string member = Contains(edit, "pkgmap") ? "VLMRkvln/pkgmap" : "pkg.list";
    EXPECT_TRUE(Contains(r.err, "ERROR: \"" + member + "\" may be written by others than the "
                                "user running setup; the archive is refused\n")) << r.err;
    EXPECT_TRUE(sim.CallsOf("pkgadd").empty()) << edit;
    EXPECT_EQ(ChangedPaths(before, Snapshot(sim)), std::vector<std::string>{}) << edit;
  }
}

// ---------------------------------------------------------------------------------------
// One installer at a time
// ---------------------------------------------------------------------------------------

TEST(Trust, SecondSetupDuringPkgaddRefusesAndChangesNothing) {
  Sandbox sim("twice");
  sim.MakeDist(SamplePkgDir(), "t installed-by-list\n");
  // The first run's pkgadd starts a second setup and waits for it, then installs.
  PutTool(sim, "/usr/sbin/pkgadd",
          "#!/bin/sh\nif mkdir /var/korvi-sim/second 2>/dev/null; then\n"
          "  (cd /tmp/dist && printf 'y\\n' | ./setup >/var/korvi-sim/second.out "
          "2>/var/korvi-sim/second.err; echo $? >/var/korvi-sim/second.status)\nfi\n"
          "exec bash " + Src("sim/bin/pkgadd") + " \"$@\"\n");
  Result r = sim.Setup(kAccept);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile(sim.state + "/second.status"), "1\n");
  std::string err = ReadFile(sim.state + "/second.err");
  EXPECT_EQ(err.rfind("ERROR: another setup is running (process ", 0), 0u) << err;
  EXPECT_TRUE(Contains(err, "); nothing was changed. Wait until it has ended, then run setup "
                            "again\n")) << err;
  // The second run showed the agreement and nothing more, and ran nothing.
  std::string eula = ReadFile(Src("installer/data/eula.en_US.txt"));
  while (!eula.empty() && eula.back() == '\n') eula.pop_back();
  EXPECT_EQ(ReadFile(sim.state + "/second.out"), eula + " ");
  EXPECT_EQ(sim.CallsOf("pkgadd"), std::vector<std::string>{"pkgadd -d /tmp/KorviInstall VLMRkvln"});
  EXPECT_EQ(sim.CallsOf("kpqadmin").size(), 2u);
  // The log is the first run's, whole.
  EXPECT_FALSE(Contains(sim.Log(), "another setup"));
  EXPECT_TRUE(Contains(sim.Log(), "tar xvfp /tmp/KorviInstall/Solarisi386Kvln.tar"));
  ExpectComplete(sim);
  EXPECT_FALSE(Exists(sim.At("/tmp/KorviInstall.lock")));
}

TEST(Trust, LockFileLeftOrPlantedDoesNotStopARun) {
  Sandbox sim("stale");
  sim.MakeDist(SamplePkgDir(), "t installed-by-list\n");
  Shell("mkdir -p " + Quote(sim.At("/opt")));
  WriteFile(sim.At("/opt/victim"), "keep me\n");
  // A link planted by another user, then the file of a killed run: neither holds a lock.
  ASSERT_EQ(symlink("/opt/victim", sim.At("/tmp/KorviInstall.lock").c_str()), 0);
  ASSERT_EQ(lchown(sim.At("/tmp/KorviInstall.lock").c_str(), 1000, 1000), 0);
  Result r = sim.Setup(kAccept);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile(sim.At("/opt/victim")), "keep me\n");
  EXPECT_FALSE(Exists(sim.At("/tmp/KorviInstall.lock")));
  ExpectComplete(sim);

  WriteFile(sim.At("/tmp/KorviInstall.lock"), "", 0600);
  Result again = sim.Setup(kAccept);
  EXPECT_EQ(again.status, 0) << again.out << again.err;
  EXPECT_FALSE(Exists(sim.At("/tmp/KorviInstall.lock")));
}

TEST(Trust, MapLineLongerThanTheReaderIsRefused) {
  Sandbox sim("longmap");
  sim.MakeDist(SamplePkgDir(), "t installed-by-list\n");
  // The line's end names a member that only a cut reading would take for a line's start.
  Repack(sim, "printf '1 f none %s/README 0644 root other\\n' \"$(head -c 5000 /dev/zero | "
              "tr '\\0' x)\" >> VLMRkvln/pkgmap");
  size_t lineNo = Lines(ReadFile(SamplePkgDir() + "/pkgmap")).size() + 1;
  auto before = Snapshot(sim);
  Result r = sim.Setup(kAccept);
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_TRUE(Contains(r.err, "ERROR: \"VLMRkvln/pkgmap\" line " + std::to_string(lineNo) +
                              " is longer than a line may be; the archive is refused\n")) << r.err;
  EXPECT_TRUE(sim.CallsOf("pkgadd").empty());
  EXPECT_EQ(ChangedPaths(before, Snapshot(sim)), std::vector<std::string>{});
}

// ---------------------------------------------------------------------------------------
// Runs killed part-way, then run again
// ---------------------------------------------------------------------------------------

// A stand-in for the tool at path that kills setup with SIGKILL (nothing of setup runs after
// it) when its arguments match the shell pattern `when`: before the tool does its work, or
// after it with flAfter. Other calls run the tool itself.
void KillSetupAt(const Sandbox& sim, const std::string& path, const std::string& when,
                 bool flAfter) {
  std::string name = path.substr(path.rfind('/') + 1);
  std::string real = "/var/korvi-sim/real-" + name;
  if (name == "pkgadd")
    real = "bash " + Src("sim/bin/pkgadd");
  else
    ASSERT_EQ(Shell("cp \"$(command -v " + name + ")\" " + Quote(sim.state + "/real-" + name)),
              0);
  PutTool(sim, path,
          "#!/bin/sh\ncase \"$*\" in\n  " + when + ")\n" +
          (flAfter ? "    " + real + " \"$@\"\n" : "") +
          "    p=$PPID\n"
          "    while [ \"$p\" -gt 1 ] && [ \"$(cat /proc/$p/comm)\" != setup ]; do\n"
          "      p=$(cut -d' ' -f4 /proc/$p/stat)\n"
          "    done\n"
          "    kill -9 \"$p\"; sleep 5; exit 137 ;;\nesac\nexec " + real + " \"$@\"\n");
}

// Runs setup with args, killed where KillSetupAt says; the stand-in is gone afterwards.
void RunKilled(Sandbox& sim, const std::string& path, const std::string& when, bool flAfter,
               const std::string& args = "") {
  KillSetupAt(sim, path, when, flAfter);
  Result r = sim.Setup(kAccept, "", args);
  EXPECT_EQ(r.status, 128 + 9) << "not killed at " << path << " " << when << r.out << r.err;
  Shell("rm -f " + Quote(sim.state + path) + " " + Quote(sim.state) + "/real-*");
  sim.ClearRecords();
}

// The link's text at path, "" when it is no link.
std::string LinkText(const std::string& path) {
  char text[4096];
  ssize_t n = readlink(path.c_str(), text, sizeof text);
  return std::string(text, n > 0 ? n : 0);
}

struct KillCase {
  const char* name;
  const char* base;  // the install directory argument ("" for the default /opt)
  const char* tool;  // the tool whose call is the moment of the kill
  const char* when;  // its arguments, a shell pattern
  bool after;        // killed after the tool did its work
  size_t pkgadds;    // pkgadd calls of the run that finishes the installation
};

void PrintTo(const KillCase& c, std::ostream* os) { *os << c.name; }

class KilledFirstInstallation : public ::testing::TestWithParam<KillCase> {};

TEST_P(KilledFirstInstallation, RerunCompletesIt) {
  const KillCase& c = GetParam();
  Sandbox sim("killed");
  sim.MakeDist(SamplePkgDir(), "t first\nt second\n");
  const std::string args = c.base[0] ? std::string("install ") + c.base : "";
  RunKilled(sim, c.tool, c.when, c.after, args);

  Result again = sim.Setup(kAccept, "", args);
  EXPECT_EQ(again.status, 0) << again.out << again.err;
  EXPECT_EQ(sim.CallsOf("pkgadd").size(), c.pkgadds);
  EXPECT_EQ(sim.CallsOf("kpqadmin").size(), 2u);  // upgrade and clean-up, once each
  ExpectComplete(sim, "first");
  ExpectComplete(sim, "second");
  EXPECT_FALSE(Exists(sim.At(std::string(kAD) + "/.kvln_unfinished")));
  if (c.base[0]) {
    EXPECT_EQ(LinkText(sim.At(kAD)), std::string(c.base) + "/Korvi/kvln");
  }

  // Finished now: the next run is an upgrade.
  sim.ClearRecords();
  Result upgrade = sim.Setup(kAccept, "", args);
  EXPECT_EQ(upgrade.status, 0) << upgrade.out << upgrade.err;
  EXPECT_TRUE(sim.CallsOf("pkgadd").empty());
  EXPECT_FALSE(sim.CallsOf("installf -c").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Trust, KilledFirstInstallation,
    ::testing::Values(
        KillCase{"BeforeItsLink", "/opt/apps", "/usr/bin/ln", "\"-s \"*", false, 1},
        KillCase{"BeforePkgadd", "", "/usr/sbin/pkgadd", "*", false, 1},
        KillCase{"AtTheEndOfPkgadd", "", "/usr/sbin/pkgadd", "*", true, 1},
        KillCase{"BeforeTheDownloadDirectory", "/opt/apps", "/usr/bin/mkdir",
                 "*__kpa_download__*", false, 0},
        KillCase{"DuringTheList", "", "/usr/bin/touch", "*/second", false, 0}),
    [](const ::testing::TestParamInfo<KillCase>& i) { return std::string(i.param.name); });

TEST(Trust, JournalThatNamesNoMoveIsRemovedAndNothingElse) {
  Sandbox sim("journal");
  sim.MakeDist(SamplePkgDir(), "t installed-by-list\n");
  ASSERT_EQ(sim.Setup(kAccept).status, 0);
  sim.ClearRecords();
  const std::string odd = "/opt/k;touch /tmp/INJECTED;/Korvi/kvln";
  Shell("mkdir -p " + Quote(sim.At("/opt/keep/Korvi/kvln")) + " " + Quote(sim.At(odd)));
  WriteFile(sim.At("/opt/keep/Korvi/kvln/data"), "keep me\n");
  // Each would have a directory removed as the old place of a move that reached /opt: one
  // that is no application directory, one holding a command, one beside a third line.
  const std::vector<std::string> journals = {
      "/opt/keep\n/opt/Korvi/kvln\n", odd + "\n/opt/Korvi/kvln\n",
      "/opt/keep/Korvi/kvln\n/opt/Korvi/kvln\n/opt/x/Korvi/kvln\n"};
  for (const std::string& text : journals) {
    WriteFile(sim.At("/opt/Korvi/.kvln.move"), text, 0600);
    Result r = sim.Setup(kAccept);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.err, "WARNING: /opt/Korvi/.kvln.move is not the record of a move; it "
                                "is removed\n")) << r.err;
    EXPECT_FALSE(Exists(sim.At("/opt/Korvi/.kvln.move")));
    EXPECT_EQ(ReadFile(sim.At("/opt/keep/Korvi/kvln/data")), "keep me\n");
    EXPECT_FALSE(Exists(sim.At("/tmp/INJECTED")));
    EXPECT_TRUE(Exists(sim.At(odd)));
    ExpectComplete(sim);
  }
}

struct MoveCase {
  const char* name;
  const char* from;  // base of the installation ("/opt", or another)
  const char* to;    // the install directory it is moved to
  const char* tool;  // where the kill comes, as in KillCase
  const char* when;
  bool after;
  bool moved;        // the stopped run had switched the link: the move is completed
};

void PrintTo(const MoveCase& c, std::ostream* os) { *os << c.name; }

class KilledRelocation : public ::testing::TestWithParam<MoveCase> {};

TEST_P(KilledRelocation, RerunFindsOneWholeInstallation) {
  const MoveCase& c = GetParam();
  Sandbox sim("killmove");
  sim.MakeDist(SamplePkgDir(), "t installed-by-list\n");
  const std::string from = std::string(c.from) + "/Korvi/kvln";
  const std::string to = std::string(c.to) + "/Korvi/kvln";
  Result first = sim.Setup(kAccept, "", std::string("install ") + c.from);
  ASSERT_EQ(first.status, 0) << first.out << first.err;
  // The queue database the product keeps in its directory.
  Shell("mkdir -p " + Quote(sim.At(from + "/db")));
  WriteFile(sim.At(from + "/db/queues.kdb"), "queue lp0\n");
  sim.ClearRecords();
  RunKilled(sim, c.tool, c.when, c.after, std::string("install ") + c.to);

  // A plain rerun finds the installation whole at one of the two places, and only there.
  Result again = sim.Setup(kAccept);
  EXPECT_EQ(again.status, 0) << again.out << again.err;
  const std::string& at = c.moved ? to : from;
  const std::string& gone = c.moved ? from : to;
  EXPECT_TRUE(Contains(again.err, "WARNING: an earlier setup was stopped while it moved the "
                                  "installation from " + from + " to " + to + "; " +
                                  (c.moved ? "the move is completed"
                                           : "the installation stays where it was") + "\n"))
      << again.err;
  EXPECT_TRUE(sim.CallsOf("pkgadd").empty());
  ExpectComplete(sim);
  EXPECT_EQ(ReadFile(sim.At(at + "/db/queues.kdb")), "queue lp0\n");
  EXPECT_EQ(LinkText(sim.At(kAD)), at == kAD ? "" : at);
  if (gone != kAD) {
    EXPECT_FALSE(Exists(sim.At(gone)));
  }
  const std::vector<std::string> leftovers = {"/opt/Korvi/.kvln.move", "/opt/Korvi/.kvln.old",
                                               "/opt/Korvi/.kvln.link", "/opt/Korvi/.kvln.new",
                                               std::string(c.to) + "/Korvi/.kvln.new"};
  for (const std::string& leftover : leftovers)
    EXPECT_FALSE(Exists(sim.At(leftover))) << leftover;

  // The same move asked again ends where it was meant to.
  sim.ClearRecords();
  Result moved = sim.Setup(kAccept, "", std::string("install ") + c.to);
  EXPECT_EQ(moved.status, 0) << moved.out << moved.err;
  EXPECT_FALSE(Contains(moved.err, "earlier setup")) << moved.err;
  ExpectComplete(sim);
  EXPECT_EQ(ReadFile(sim.At(to + "/db/queues.kdb")), "queue lp0\n");
  if (from != kAD) {
    EXPECT_FALSE(Exists(sim.At(from)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Trust, KilledRelocation,
    ::testing::Values(
        MoveCase{"DuringTheCopy", "/opt/apps", "/opt/new", "/usr/bin/cp", "\"-pr \"*", true, false},
        MoveCase{"BeforeTheSwitch", "/opt/apps", "/opt/new", "/usr/bin/ln", "\"-s \"*", false,
                 false},
        MoveCase{"BeforeTheOldTreeGoes", "/opt/apps", "/opt/new", "/usr/bin/rm",
                 "\"-rf /opt/apps/Korvi/kvln\"", false, true},
        MoveCase{"FromOptBeforeTheLink", "/opt", "/opt/new", "/usr/bin/ln", "\"-s \"*", false,
                 false},
        MoveCase{"FromOptBeforeTheOldTreeGoes", "/opt", "/opt/new", "/usr/bin/rm",
                 "\"-rf /opt/Korvi/.kvln.old\"", false, true},
        MoveCase{"ToOptAfterTheLinkWent", "/opt/new", "/opt", "/usr/bin/rm",
                 "\"-f /opt/Korvi/kvln\"", true, false},
        MoveCase{"ToOptBeforeTheOldTreeGoes", "/opt/new", "/opt", "/usr/bin/rm",
                 "\"-rf /opt/new/Korvi/kvln\"", false, true}),
    [](const ::testing::TestParamInfo<MoveCase>& i) { return std::string(i.param.name); });

}  // namespace
