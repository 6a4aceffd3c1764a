// The sandbox runner: what a program does inside stays inside; state, start
// directory, standard input and exit status pass as documented.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tests/support/sandbox.h"

using namespace ktest;
namespace fs = std::filesystem;

namespace {

// Places a probe writes to: every private place of the sandbox, the layers
// that make room for them, and the stand-ins' directories.
const std::vector<std::string> kProbePlaces = {
    "/opt", "/tmp", "/var/spool", "/var/sadm", "/etc/rc2.d", "/usr/share/printconf",
    "/usr/bin", "/usr/sbin", "/bin", "/sbin", "/var", "/etc", "/usr/share", "/var/korvi-sim",
    "/opt/Korvi/kvln", "/var/spool/Korvi/kvln"};

// Places elsewhere on the host's root file system (not on a file system of
// their own, which the sandbox binds in as it is): writes there vanish too.
std::vector<std::string> RootFsPlaces() {
  std::vector<std::string> v;
  struct stat root {};
  stat("/", &root);
  for (const char* p : {"/usr/local", "/root", "/srv", "/export/apps", "/usr/lib/lp"}) {
    std::string existing = p;
    while (!fs::exists(existing)) existing = fs::path(existing).parent_path();
    struct stat st {};
    if (stat(existing.c_str(), &st) == 0 && st.st_dev == root.st_dev) v.push_back(p);
  }
  return v;
}

std::string ProbeScript(const std::string& tag, const std::vector<std::string>& extra = {}) {
  std::string s;
  std::vector<std::string> places = kProbePlaces;
  places.insert(places.end(), extra.begin(), extra.end());
  for (const auto& p : places)
    s += "mkdir -p " + p + " && echo probe > " + p + "/" + tag + " && test -f " + p + "/" + tag +
         " && echo ok " + p + "; ";
  return s;
}

// What the private /tmp holds inside at the start: nothing of the host's but
// the first names of the given paths that lie under the real /tmp (the start
// directory, kept paths, the checkout the runner belongs to), one a line.
std::string TmpInside(const std::vector<std::string>& given) {
  std::set<std::string> tops;
  for (const auto& p : given)
    if (p.rfind("/tmp/", 0) == 0) tops.insert(p.substr(5, p.find('/', 5) - 5));
  std::string s;
  for (const auto& top : tops) s += top + "\n";
  return s;
}

std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> v;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) v.push_back(e.path().filename());
  std::sort(v.begin(), v.end());
  return v;
}

TEST(Sandbox, ProbeWritesEverywhereAndTheMachineIsUnchanged) {
  const std::string tag = "korvi-probe-" + std::to_string(getpid());
  const std::vector<std::string> watched = {"/opt", "/var/spool", "/etc/rc2.d", "/usr/bin",
                                            "/usr/sbin", "/var", "/etc", "/usr/share"};
  std::vector<std::vector<std::string>> before;
  for (const auto& d : watched) before.push_back(Listing(d));
  const bool hadSadm = fs::exists("/var/sadm");
  const bool hadKorvi = fs::exists("/opt/Korvi");
  const bool hadPrintconf = fs::exists("/usr/share/printconf");

  const std::vector<std::string> extra = RootFsPlaces();
  std::vector<bool> extraExisted;
  for (const auto& p : extra) extraExisted.push_back(fs::exists(p));
  Result r = InSandbox("", ProbeScript(tag, extra));
  EXPECT_EQ(r.status, 0) << r.out;
  for (const auto& p : kProbePlaces) EXPECT_TRUE(HasLine(r.out, "ok " + p)) << p << "\n" << r.out;
  for (const auto& p : extra) EXPECT_TRUE(HasLine(r.out, "ok " + p)) << p << "\n" << r.out;

  for (const auto& p : kProbePlaces) EXPECT_FALSE(fs::exists(p + "/" + tag)) << p;
  for (size_t i = 0; i < extra.size(); ++i) {
    EXPECT_FALSE(fs::exists(extra[i] + "/" + tag)) << extra[i];
    EXPECT_EQ(fs::exists(extra[i]), extraExisted[i]) << extra[i];
  }
  EXPECT_EQ(fs::exists("/opt/Korvi"), hadKorvi);
  EXPECT_EQ(fs::exists("/var/sadm"), hadSadm);
  EXPECT_EQ(fs::exists("/usr/share/printconf"), hadPrintconf);
  EXPECT_FALSE(fs::exists("/var/korvi-sim"));
  for (size_t i = 0; i < watched.size(); ++i) EXPECT_EQ(Listing(watched[i]), before[i]) << watched[i];
}

TEST(Sandbox, WithoutAPrivateRootThePlacesStayPrivate) {
  // The fallback for kernels that refuse an overlay of the root file system.
  const std::string tag = "korvi-probe-plain-" + std::to_string(getpid());
  Result r = Capture("KORVI_SIM_PLAIN_ROOT=1 " + Quote(Src("sim/run")) + " -- bash -c " + Quote(ProbeScript(tag)) + " 2>&1");
  EXPECT_EQ(r.status, 0) << r.out;
  for (const auto& p : kProbePlaces) {
    EXPECT_TRUE(HasLine(r.out, "ok " + p)) << p << "\n" << r.out;
    EXPECT_FALSE(fs::exists(p + "/" + tag)) << p;
  }
  r = Capture("KORVI_SIM_PLAIN_ROOT=1 " + Quote(Src("sim/run")) + " --proc cupsd -- bash -c 'df -b /tmp; ps -e | grep -c cupsd' 2>&1");
  EXPECT_EQ(r.out, "Filesystem              avail\nswap                  2000000\n1\n");
}

TEST(Sandbox, WithStateTheWritesLandInTheStateOnly) {
  TempDir t;
  const std::string s = t / "state";
  const std::string tag = "korvi-probe-state-" + std::to_string(getpid());
  Result r = InSandbox("--state " + Quote(s), ProbeScript(tag));
  EXPECT_EQ(r.status, 0) << r.out;
  for (const auto& p : kProbePlaces) EXPECT_FALSE(fs::exists(p + "/" + tag)) << p;
  // Kept: the private places and what was written to /usr/bin and /usr/sbin.
  for (const char* p : {"opt", "tmp", "var/spool", "var/sadm", "etc/rc2.d", "usr/share/printconf",
                        "usr/bin", "usr/sbin", "opt/Korvi/kvln", "var/spool/Korvi/kvln"})
    EXPECT_TRUE(fs::exists(s + "/" + p + "/" + tag)) << p;
  // /bin is /usr/bin here, and the control directory is the state itself.
  EXPECT_TRUE(fs::exists(s + "/" + tag));
  EXPECT_TRUE(fs::exists(s + "/calls.log"));
  // The layers that only make room for mount points keep nothing.
  EXPECT_FALSE(fs::exists(s + "/var/" + tag));
  EXPECT_FALSE(fs::exists(s + "/etc/" + tag));
  EXPECT_FALSE(fs::exists(s + "/usr/share/" + tag));
  EXPECT_EQ(Mode(s + "/tmp"), 01777);
}

TEST(Sandbox, StateIsSeenByTheNextRunAndUsrBinIsCopiedBack) {
  TempDir t;
  const std::string s = t / "state";
  WriteFile(s + "/usr/bin/mytool", "#!/bin/sh\necho mytool ran\n");
  chmod((s + "/usr/bin/mytool").c_str(), 0755);
  WriteFile(s + "/opt/Korvi/kvln/old.txt", "old\n");

  Result r = InSandbox("--state " + Quote(s),
                 "mytool; cat /opt/Korvi/kvln/old.txt; printf '#!/bin/sh\\necho launched\\n' > /usr/bin/launch;"
                 " chmod 755 /usr/bin/launch; rm /usr/bin/mytool; df -b / | head -n 1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "mytool ran\nold\nFilesystem              avail\n");
  EXPECT_TRUE(fs::exists(s + "/usr/bin/launch"));
  EXPECT_EQ(Mode(s + "/usr/bin/launch"), 0755);
  // The removal is no file of its own in the state (no overlay whiteout).
  EXPECT_FALSE(fs::exists(fs::symlink_status(s + "/usr/bin/mytool")));
  EXPECT_FALSE(fs::exists(s + "/usr/bin/df"));  // the stand-ins are not copied out

  r = InSandbox("--state " + Quote(s), "launch; command -v mytool || echo no mytool");
  EXPECT_EQ(r.out, "launched\nno mytool\n");
}

TEST(Sandbox, StandardInputAndExitStatusPassThrough) {
  Result r = InSandbox("", "read x; echo \"got $x\"; exit 3", "hello\n");
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "got hello\n");
  r = InSandbox("", "kill -TERM $$");
  EXPECT_EQ(r.status, 128 + 15);
  r = InSandbox("", "true");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  r = InSandbox("", "echo KORVI_SIM=$KORVI_SIM KORVI_SIM_DIR=$KORVI_SIM_DIR; whoami");
  EXPECT_EQ(r.out, "KORVI_SIM=1 KORVI_SIM_DIR=/var/korvi-sim\nroot\n");
}

TEST(Sandbox, RunnerErrorsExitWith125) {
  Result r = Capture(Quote(Src("sim/run")) + " --bogus -- true 2>&1");
  EXPECT_EQ(r.status, 125);
  EXPECT_EQ(r.out, "sim/run: unknown option --bogus\n");
  r = Capture(Quote(Src("sim/run")) + " 2>&1");
  EXPECT_EQ(r.status, 125);
  EXPECT_EQ(r.out.rfind("usage: sim/run ", 0), 0u) << r.out;
  r = Capture(Quote(Src("sim/run")) + " --cwd /nonexistent/dir -- true 2>&1");
  EXPECT_EQ(r.status, 125);
  EXPECT_EQ(r.out, "sim/run: no directory /nonexistent/dir\n");
  r = Capture(Quote(Src("sim/run")) + " --df opt=12 -- true 2>&1");
  EXPECT_EQ(r.status, 125);
  EXPECT_EQ(r.out, "sim/run: --df takes MOUNT=KB with an absolute MOUNT: opt=12\n");
  r = Capture(Quote(Src("sim/run")) + " --lpd cups -- true 2>&1");
  EXPECT_EQ(r.status, 125);
  EXPECT_EQ(r.out, "sim/run: --lpd takes none, lprng or plain\n");
  r = Capture(Quote(Src("sim/run")) + " --proc a/b -- true 2>&1");
  EXPECT_EQ(r.status, 125);
  r = Capture(Quote(Src("sim/run")) + " --keep / -- true 2>&1");
  EXPECT_EQ(r.status, 125);
  EXPECT_EQ(r.out, "sim/run: cannot keep /: it holds the private place /opt\n");
  r = Capture(Quote(Src("sim/run")) + " --keep /var -- true 2>&1");
  EXPECT_EQ(r.out, "sim/run: cannot keep /var: it holds the private place /var/spool\n");
  r = Capture(Quote(Src("sim/run")) + " --keep /nonexistent/x -- true 2>&1");
  EXPECT_EQ(r.out, "sim/run: nothing to keep at /nonexistent/x\n");
  r = Capture(Quote(Src("sim/run")) + " --state / -- true 2>&1");
  EXPECT_EQ(r.status, 125);
  EXPECT_EQ(r.out, "sim/run: the state directory cannot be /\n");
  r = Capture(Quote(Src("sim/run")) + " --state 2>&1");
  EXPECT_EQ(r.status, 125);
  EXPECT_EQ(r.out, "sim/run: option --state needs a value\n");
}

TEST(Sandbox, StartDirectoryUnderAPrivatePlaceStaysVisible) {
  TempDir t;  // under the real /tmp, which the sandbox replaces
  WriteFile(t / "dist/disks", "end_of_list\n");
  Result r = InSandbox("--cwd " + Quote(t / "dist"), "pwd; cat disks; LC_ALL=C ls -A /tmp");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, t / "dist" + "\nend_of_list\n" + TmpInside({t.path, std::string(KORVI_SOURCE_DIR)}));

  // A start directory inside the state's places is used at its inside path,
  // and the mount points made for kept paths do not stay in the state.
  const std::string s = t / "state";
  WriteFile(s + "/tmp/dist/disks", "x\n");
  WriteFile(t / "kept.txt", "kept\n");
  r = InSandbox("--state " + Quote(s) + " --cwd " + Quote(s + "/tmp/dist") + " --keep " + Quote(t / "kept.txt"),
          "pwd; cat disks; cat " + t / "kept.txt" + "; echo more >> " + t / "kept.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "/tmp/dist\nx\nkept\n");
  EXPECT_EQ(ReadFile(t / "kept.txt"), "kept\nmore\n");
  EXPECT_EQ(Listing(s + "/tmp"), std::vector<std::string>{"dist"});
}

TEST(Sandbox, TerminatingTheRunnerEndsTheSandbox) {
  // The named process shows that the sandbox is up; after TERM to the runner
  // nothing of the sandbox stays behind.
  const std::string name = "kvterm" + std::to_string(getpid() % 100000);
  Result r = Capture(Quote(Src("sim/run")) + " --proc " + name + " -- sleep 1000 </dev/null >/dev/null 2>&1 & r=$!;"
                " n=0; until pgrep -x " + name + " >/dev/null || [ $n -ge 200 ]; do sleep 0.1; n=$((n+1)); done;"
                " kill -TERM $r; wait $r; echo status $?;"
                " n=0; while pgrep -x " + name + " >/dev/null && [ $n -lt 100 ]; do sleep 0.1; n=$((n+1)); done;"
                " pgrep -x " + name + " || echo gone");
  EXPECT_EQ(r.out, "status 143\ngone\n");
}

TEST(Sandbox, OnlyKeptPathsOutsideThePlacesAreWrittenForReal) {
  // A directory outside every private place, wherever the checkout lies.
  char tmpl[] = "/var/tmp/korvi-simkeep-XXXXXX";
  fs::create_directories("/var/tmp");
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  WriteFile(dir + "/kept/a", "a\n");
  WriteFile(dir + "/other/b", "b\n");
  // And one kept in the build tree, which may lie under the real /tmp.
  const std::string build = std::string(KORVI_BINARY_DIR) + "/sim-keep-" + std::to_string(getpid());
  fs::remove_all(build);
  WriteFile(build + "/kept/c", "c\n");
  Result r = InSandbox("--keep " + Quote(dir + "/kept") + " --keep " + Quote(build + "/kept"),
                 "echo x >> " + dir + "/kept/a; echo y >> " + dir + "/other/b; cat " + dir + "/other/b; " +
                 "echo z >> " + build + "/kept/c");
  EXPECT_EQ(r.out, "b\ny\n");
  EXPECT_EQ(ReadFile(dir + "/kept/a"), "a\nx\n");
  EXPECT_EQ(ReadFile(dir + "/other/b"), "b\n");
  EXPECT_EQ(ReadFile(build + "/kept/c"), "c\nz\n");
  fs::remove_all(dir);
  fs::remove_all(build);
}

TEST(Sandbox, CheckoutAndProgramUnderAPrivatePlaceStayVisible) {
  // The runner in a checkout under the real /tmp: the checkout is seen inside
  // (its writes vanish), a kept path in it is written for real, and a program
  // given by its path under /tmp runs.
  TempDir t;
  const std::string repo = t / "repo";
  ASSERT_EQ(Capture("mkdir -p " + Quote(repo) + " && cp -R " + Quote(Src("sim")) + " " + Quote(repo + "/sim")).status, 0);
  WriteFile(repo + "/notes", "notes\n");
  WriteFile(repo + "/build/out/log", "log\n");
  WriteFile(t / "prog", "#!/bin/sh\necho prog \"$@\"; LC_ALL=C ls -A /tmp\n");
  chmod((t / "prog").c_str(), 0755);
  const std::string top = TmpInside({t.path});
  Result r = Capture("cd " + Quote(t.path) + " && " + Quote(repo + "/sim/run") + " --keep " + Quote(repo + "/build/out") +
                " -- " + Quote(t / "prog") + " arg </dev/null 2>&1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "prog arg\n" + top);
  r = Capture(Quote(repo + "/sim/run") + " --keep " + Quote(repo + "/build/out") + " -- bash -c " +
         Quote("cat " + repo + "/notes; echo more >> " + repo + "/notes; cat " + repo + "/notes; echo x >> " +
           repo + "/build/out/log; " + repo + "/sim/listing >/dev/null && echo listed") +
         " </dev/null 2>&1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "notes\nnotes\nmore\nlisted\n");
  EXPECT_EQ(ReadFile(repo + "/notes"), "notes\n");
  EXPECT_EQ(ReadFile(repo + "/build/out/log"), "log\nx\n");

  // With a state, the mount points made for them do not stay in it; a
  // program at a path the state holds inside is the state's.
  const std::string s = t / "state";
  WriteFile(s + "/tmp/inside", "#!/bin/sh\necho inside\n");
  chmod((s + "/tmp/inside").c_str(), 0755);
  r = Capture("cd " + Quote(t.path) + " && " + Quote(repo + "/sim/run") + " --state " + Quote(s) + " -- " + Quote(t / "prog") +
         " </dev/null 2>&1");
  EXPECT_EQ(r.out, "prog\ninside\n" + top);
  r = Capture(Quote(repo + "/sim/run") + " --state " + Quote(s) + " -- /tmp/inside </dev/null 2>&1");
  EXPECT_EQ(r.out, "inside\n");
  EXPECT_EQ(Listing(s + "/tmp"), std::vector<std::string>{"inside"});
}

TEST(Sandbox, StartingInAPrivatePlaceItself) {
  Result r = Capture("cd /tmp && " + Quote(Src("sim/run")) + " -- sh -c 'pwd; LC_ALL=C ls -A' 2>&1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "/tmp\n" + TmpInside({std::string(KORVI_SOURCE_DIR)}));
}

TEST(Sandbox, ProcessTableHoldsOnlyTheSandbox) {
  Result r = InSandbox("", "ps -e | awk 'NR > 1 {print $1, $4}'");
  EXPECT_EQ(r.status, 0);
  // The runner's shell is process 1; the host's processes are not listed.
  EXPECT_TRUE(HasLine(r.out, "1 bash")) << r.out;
  EXPECT_LE(Lines(r.out).size(), 5u) << r.out;
  EXPECT_EQ(r.out.find("sim_tests"), std::string::npos);
}

}  // namespace
