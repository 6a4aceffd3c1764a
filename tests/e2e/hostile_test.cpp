// hostile_test.cpp - setup run as root on texts and places a hostile local user controls:
// paths with shell metacharacters, blanks, newlines, relative and empty forms on the command
// line, in the file list, the package map and the package list; links and other users'
// entries planted at the fixed names in /tmp; the installation named again under another
// spelling; size files with garbage; a link to the installation with a text too long to use.
// Every case checks that no injected command ran (an injected command would run the marker
// program), that only the paths the run may change changed, the status and message, and
// that the installation in place is still usable.
#include <functional>

#include "tests/support/sandbox.h"

namespace {

using namespace ktest;

const char kAccept[] = "y\n";
// The package list of every distribution here: a sed step uses /tmp/setup.tmp.
const char kList[] = "t installed-by-list\nt edited sed s/a/b/\n";
// An injected command would run this program, which makes kInjected.
const char kMarker[] = "kvmark";
const char kInjected[] = "/tmp/INJECTED";
// A file no run may touch, the target of planted links.
const char kVictim[] = "/opt/victim";
const char kVictimText[] = "keep me\n";
// The installation in place: at /opt/apps/Korvi/kvln, reached through /opt/Korvi/kvln.
const char kOldAD[] = "/opt/apps/Korvi/kvln";
// What an upgrade in place changes.
const std::vector<std::string> kUpgrade = {"/opt/apps/Korvi/kvln", "/var/sadm",
                                           "/var/spool/Korvi"};

// Makes a state once: a root run of setup costs seconds, a copy of its result does not.
class Template {
 public:
  // A distribution of the sample package with kList, the victim and the marker program.
  static const Sandbox& Fresh() {
    static Sandbox* sim = [] {
      auto* s = new Sandbox("hostile-fresh");
      s->MakeDist(SamplePkgDir(), kList, "--extra " + Quote(SampleExtra()));
      s->Run("", "", "true");  // the sandbox's places exist in the state
      WriteFile(s->At(kVictim), kVictimText);
      Shell("mkdir -p " + Quote(s->At("/usr/bin")));
      WriteFile(s->At(std::string("/usr/bin/") + kMarker),
                std::string("#!/bin/sh\ntouch ") + kInjected + "\n", 0755);
      return s;
    }();
    return *sim;
  }
  // The same with an installation made by setup at /opt/apps.
  static const Sandbox& Installed() {
    static Sandbox* sim = [] {
      auto* s = new Sandbox("hostile-installed");
      CopyState(Fresh(), *s);
      Result r = s->Setup(kAccept, "", "install /opt/apps");
      EXPECT_EQ(r.status, 0) << r.out << r.err;
      s->ClearRecords();
      return s;
    }();
    return *sim;
  }
  static void CopyState(const Sandbox& from, const Sandbox& to) {
    ASSERT_EQ(Shell("cp -a " + Quote(from.state) + "/. " + Quote(to.state)), 0);
  }
};

// A path is one the run may change when it lies at or under one of places.
bool Under(const std::string& path, const std::vector<std::string>& places) {
  for (const std::string& p : places)
    if (path == p || path.compare(0, p.size() + 1, p + "/") == 0) return true;
  return false;
}

struct HostileCase {
  const char* name;
  bool installed;                       // with the installation at /opt/apps in place
  std::function<void(Sandbox&)> plant;  // lays out the hostile input before the run
  std::vector<std::string> args;        // setup's arguments
  int status;
  std::string message;                  // a line the output or the error output holds
  std::vector<std::string> mayChange;   // beyond the work directory and the run log
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

// Runs a case and checks the three things every case must show.
void RunCase(const HostileCase& c) {
  Sandbox sim("hostile");
  Template::CopyState(c.installed ? Template::Installed() : Template::Fresh(), sim);
  if (c.plant) c.plant(sim);
  auto before = StateSnapshot(sim);
  std::string args;
  for (const std::string& a : c.args) args += " " + Quote(a);
  Result r = sim.Setup(kAccept, "", args);

  EXPECT_EQ(r.status, c.status) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out + r.err, c.message)) << "out:\n" << r.out << "err:\n" << r.err;
  EXPECT_FALSE(Exists(sim.At(kInjected))) << "an injected command ran";
  EXPECT_EQ(ReadFile(sim.At(kVictim)), kVictimText);
  for (const std::string& p : ChangedPaths(before, StateSnapshot(sim)))
    EXPECT_TRUE(Under(p, c.mayChange) || Under(p, {"/tmp/KorviInstall"})) << "changed: " << p;
  if (c.installed) ExpectUsable(sim);
  if (::testing::Test::HasFailure()) sim.Keep();
}

class Hostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(Hostile, NothingInjectedNothingElseChangedInstallationKept) { RunCase(GetParam()); }

// Plants a link at path (inside) to the victim, owned by another user.
std::function<void(Sandbox&)> PlantLink(const std::string& path) {
  return [path](Sandbox& sim) {
    unlink(sim.At(path).c_str());
    ASSERT_EQ(symlink(kVictim, sim.At(path).c_str()), 0);
    ASSERT_EQ(lchown(sim.At(path).c_str(), 1000, 1000), 0);
  };
}

// Plants a directory of another user, open to all, at path (inside).
std::function<void(Sandbox&)> PlantForeignDir(const std::string& path) {
  return [path](Sandbox& sim) {
    ASSERT_EQ(Shell("rm -f " + Quote(sim.At(path)) + " && mkdir " + Quote(sim.At(path)) + " && chown 1000:1000 " +
                    Quote(sim.At(path)) + " && chmod 0777 " + Quote(sim.At(path))),
              0);
  };
}

// Writes text to the distribution's file name.
std::function<void(Sandbox&)> DistFile(const std::string& name, const std::string& text) {
  return [name, text](Sandbox& sim) { WriteFile(sim.Dist() + "/" + name, text); };
}

const std::string kInj = std::string(";") + kMarker;  // an injected command after a word

INSTANTIATE_TEST_SUITE_P(
    CommandLine, Hostile,
    ::testing::Values(
        HostileCase{"InstallDirWithNewline", true, nullptr,
                    {"install", std::string("/opt/new\n") + kMarker}, 1, "ERROR: ", {}},
        HostileCase{"InstallDirWithSubstitution", true, nullptr,
                    {"install", std::string("/opt/$(") + kMarker + ")"}, 1, "ERROR: ", {}},
        HostileCase{"WorkAreaWithNewline", true, nullptr,
                    {std::string("/tmp/area\n") + kMarker}, 2, "ERROR: ", {}},
        HostileCase{"WorkAreaWithBackquotes", true, nullptr,
                    {std::string("/tmp/`") + kMarker + "`"}, 2, "ERROR: ", {}},
        HostileCase{"EmptyInstallDir", true, nullptr, {"install", ""}, 1, "ERROR: ", {}},
        // An empty work area is the current directory, as any relative one.
        HostileCase{"EmptyWorkArea", true, nullptr, {""}, 0, "", kUpgrade},
        // A relative install directory is taken from the current directory: no option.
        HostileCase{"InstallDirLikeAnOption", true, nullptr, {"install", "-rf"}, 0, "",
                    {"/opt/Korvi/kvln", "/opt/apps", "/tmp/dist/-rf", "/var/sadm",
                     "/var/spool/Korvi"}},
        HostileCase{"RelativeInstallDirWithBlank", true, nullptr, {"install", "new dir"}, 1,
                    "ERROR: ", {}}),
    [](const ::testing::TestParamInfo<HostileCase>& i) { return std::string(i.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Lists, Hostile,
    ::testing::Values(
        HostileCase{"FileListNamesAFileOutside", true,
                    DistFile("disks", "disks isize tsize\n../../etc/shadow\n"
                                      "Solarisi386Kvln.tar.Z\nend_of_list\n"),
                    {}, 1,
                    "ERROR: /tmp/dist/./disks: the name \"../../etc/shadow\" climbs out of the "
                    "distribution directory with \"..\"; the list is refused\n",
                    {}},
        HostileCase{"FileListNamesAnAbsolutePath", true,
                    DistFile("disks", "disks isize tsize\n/etc/shadow\n"
                                      "Solarisi386Kvln.tar.Z\nend_of_list\n"),
                    {}, 1, "ERROR: ", {}},
        HostileCase{"FileListWithAPattern", true,
                    DistFile("disks", "disks isize tsize\n*\nend_of_list\n"), {}, 1, "ERROR: ",
                    {}},
        HostileCase{"EmptyFileList", true, DistFile("disks", ""), {}, 1, "ERROR: ", {}},
        HostileCase{"FileListWithoutItsEnd", true,
                    DistFile("disks", "disks isize tsize\nSolarisi386Kvln.tar.Z\n"), {}, 0, "",
                    kUpgrade},
        HostileCase{"PackageListWithAPattern", false,
                    [](Sandbox& sim) {
                      std::string pkg = CopySamplePackage(sim.state + "/pkg");
                      sim.MakeDist(pkg, "c k*\n", "--extra " + Quote(SampleExtra()));
                    },
                    {}, 1, "ERROR: pkg.list line 1: ", {}},
        HostileCase{"PackageListLinkRelative", false,
                    [](Sandbox& sim) {
                      sim.MakeDist(SamplePkgDir(), "t x\nt y link rel/y\n",
                                   "--extra " + Quote(SampleExtra()));
                    },
                    {}, 1, "ERROR: pkg.list line 2: \"rel/y\" is not an absolute path\n", {}},
        HostileCase{"PackageListCopyToARelativePlace", false,
                    [](Sandbox& sim) {
                      sim.MakeDist(SamplePkgDir(), "dirto samples spool\n",
                                   "--extra " + Quote(SampleExtra()));
                    },
                    {}, 1, "ERROR: pkg.list line 1: \"spool\" is not an absolute path\n", {}}),
    [](const ::testing::TestParamInfo<HostileCase>& i) { return std::string(i.param.name); });

INSTANTIATE_TEST_SUITE_P(
    FixedNames, Hostile,
    ::testing::Values(
        HostileCase{"LogIsALink", true, PlantLink("/tmp/setup.log"), {}, 0, "", kUpgrade},
        HostileCase{"LogIsAnotherUsersDirectory", true, PlantForeignDir("/tmp/setup.log"), {}, 1,
                    "ERROR: cannot make the run log /tmp/setup.log; setup was not started\n", {}},
        HostileCase{"LockIsAnotherUsersDirectory", true,
                    PlantForeignDir("/tmp/KorviInstall.lock"), {}, 1,
                    "ERROR: cannot make the lock file /tmp/KorviInstall.lock (Is a directory); "
                    "setup was not started\n",
                    {}},
        HostileCase{"SedFileIsALink", false, PlantLink("/tmp/setup.tmp"), {}, 0, "",
                    {"/opt/Korvi", "/var/sadm", "/var/spool/Korvi", "/tmp/setup.tmp"}},
        HostileCase{"SedFileIsAnotherUsersDirectory", false, PlantForeignDir("/tmp/setup.tmp"),
                    {}, 1,
                    "ERROR: pkg.list line 2: can't make the temporary file /tmp/setup.tmp: a "
                    "directory stands there\n",
                    {}},
        HostileCase{"WorkDirIsALinkToTheInstallation", true,
                    [](Sandbox& sim) {
                      Shell("mkdir -p " + Quote(sim.At("/tmp/area")));
                      ASSERT_EQ(symlink(kOldAD, sim.At("/tmp/area/KorviInstall").c_str()), 0);
                    },
                    {"/tmp/area"}, 1,
                    "ERROR: the work directory and the application directory lie inside one "
                    "another; name another work area: 'setup /new_work_area_path' "
                    "(/tmp/area/KorviInstall, /opt/apps/Korvi/kvln, /opt/apps/Korvi/kvln)\n",
                    {}}),
    [](const ::testing::TestParamInfo<HostileCase>& i) { return std::string(i.param.name); });

INSTANTIATE_TEST_SUITE_P(
    SameInstallation, Hostile,
    ::testing::Values(
        HostileCase{"ThroughDotDot", true, nullptr, {"install", "/opt/apps/../apps"}, 0, "",
                    kUpgrade},
        HostileCase{"ThroughALink", true,
                    [](Sandbox& sim) { ASSERT_EQ(symlink("apps", sim.At("/opt/lnk").c_str()), 0); },
                    {"install", "/opt/lnk"}, 0, "", kUpgrade},
        HostileCase{"RelativeFromElsewhere", true, nullptr, {"install", "../../opt/apps"}, 0, "",
                    kUpgrade}),
    [](const ::testing::TestParamInfo<HostileCase>& i) { return std::string(i.param.name); });

INSTANTIATE_TEST_SUITE_P(
    SizeFiles, Hostile,
    ::testing::Values(
        HostileCase{"NumberPastTheReadersBuffer", true,
                    DistFile("isize", std::string(5000, '0') + "99999999999999\n"), {}, 0,
                    "Could not determine how much space needed for install, missing isize.", {}},
        HostileCase{"BlanksPastTheReadersBuffer", true,
                    DistFile("tsize", std::string(5000, ' ') + "99999999999999\n"), {}, 0,
                    "Could not determine how much space needed for install, missing isize.", {}},
        HostileCase{"HexadecimalNaN", true, DistFile("isize", "NAN(0x1)\n"), {}, 0,
                    "Could not determine how much space needed for install, missing isize.", {}},
        HostileCase{"BinaryGarbage", true, DistFile("isize", std::string("\x00\xff\x01", 3)), {},
                    0, "", kUpgrade}),
    [](const ::testing::TestParamInfo<HostileCase>& i) { return std::string(i.param.name); });

INSTANTIATE_TEST_SUITE_P(
    LongLink, Hostile,
    ::testing::Values(HostileCase{
        "LinkTextOfTheSystemsLimit", true,
        [](Sandbox& sim) {
          std::string text;
          while (text.size() + 2 + std::string(kOldAD).size() <= 4095) text += "./";
          text = "/" + text.substr(1) + std::string(kOldAD).substr(1);
          unlink(sim.At("/opt/Korvi/kvln").c_str());
          ASSERT_EQ(symlink(text.c_str(), sim.At("/opt/Korvi/kvln").c_str()), 0);
        },
        {}, 1, "ERROR: the installation found through /opt/Korvi/kvln", {}}),
    [](const ::testing::TestParamInfo<HostileCase>& i) { return std::string(i.param.name); });

}  // namespace
