// sandbox.h - the simulated Solaris host for the tests that run programs in it (sim/run).
// A Sandbox is a state directory: the host's private /opt, /tmp, /var/spool, ... are its
// subdirectories, so a test lays out a host before a run and inspects it afterwards, with
// the stand-in tools' call log (calls.log) and the product programs' records (progs/).
// Distributions are built with sim/mkdist from a package directory (MakeDist) or laid out
// by hand with a stand-in archive (MakeStandInDist); both live in /tmp/dist inside.
// SandboxTest is the same as a GoogleTest fixture that keeps the state of a failed test.
#ifndef KORVI_TESTS_SUPPORT_SANDBOX_H
#define KORVI_TESTS_SUPPORT_SANDBOX_H

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace ktest {

// A run of a program in the sandbox; when its output starts with an agreement prompt,
// prompted is set, agreement names its language and after holds what follows the prompt.
struct RunResult : Result {
  std::string after;
  bool prompted = false;
  std::string agreement;  // language code of the agreement shown, "" when none
};

// One call of a stand-in product program, as recorded in progs/NNN-NAME.
struct ProgCall {
  std::vector<std::string> args;
  std::string cwd;
  std::map<std::string, std::string> env;
};

// The agreement languages: each has installer/data/eula.<code>.txt.
inline const std::vector<std::string>& AgreementCodes() {
  static const std::vector<std::string> codes = {
      "en_US", "es_ES", "it_IT", "fr_FR", "ge_GE", "pr_BR", "cs_CZ", "fi_FI", "hu_HU", "nl_NL",
      "no_NO", "pl_PL", "ru_RU", "sv_SE", "tr_TR", "da_DK", "zh_CN", "zh_TW", "ko_KO", "ja_JP"};
  return codes;
}

// An agreement as setup prints it: the text without its final line end, a blank.
inline std::string AgreementPrompt(const std::string& code = "en_US") {
  std::string t = ReadFile(Src("installer/data/eula." + code + ".txt"));
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
  return t + " ";
}

inline std::string SamplePkgDir() { return Src("sim/sample/VLMRkvln"); }
inline std::string SampleExtra() { return Src("sim/sample/extra"); }

// A copy of the sample package in dir/VLMRkvln, for a test that changes it.
inline std::string CopySamplePackage(const std::string& dir) {
  Shell("mkdir -p " + Quote(dir) + " && cp -R " + Quote(SamplePkgDir()) + " " +
        Quote(dir + "/VLMRkvln"));
  return dir + "/VLMRkvln";
}

// Prelude for runs that change /usr/bin: goes on only when /usr/bin is the sandbox's
// private overlay, so that a change can never reach the host's tools (exit 99 otherwise).
inline std::string PrivateUsrBin() {
  return "grep -q ' /usr/bin overlay ' /proc/mounts || { echo 'no private /usr/bin' >&2; "
         "exit 99; }; ";
}

// Runs a bash script in a sandbox of its own (sim/run with opts, which may name a --state);
// input on its standard input, error output merged into out unless merge is false.
inline Result InSandbox(const std::string& opts, const std::string& script,
                        const std::string& input = "", bool merge = true) {
  std::string cmd = input.empty() ? "</dev/null " : "printf '%s' " + Quote(input) + " | ";
  cmd += Quote(Src("sim/run")) + " " + opts + " -- bash -c " + Quote(script);
  if (merge) cmd += " 2>&1";
  return Capture(cmd);
}

// A stand-in setup program (prints "setup") at dir/fake-setup, for distributions that are
// only built, never run.
inline std::string FakeSetup(const TempDir& dir) {
  std::string p = dir / "fake-setup";
  WriteFile(p, "#!/bin/sh\necho setup\n", 0755);
  return p;
}

// Builds the sample distribution into out with sim/mkdist and its options; the output of
// mkdist, error output included.
inline Result MakeSampleDist(const std::string& opts, const std::string& setup,
                             const std::string& out, bool extra = true) {
  std::string cmd = Quote(Src("sim/mkdist")) + " " + opts;
  if (extra) cmd += " --extra " + Quote(SampleExtra());
  cmd += " " + Quote(SamplePkgDir()) + " " + Quote(Src("sim/sample/pkg.list")) + " " +
         Quote(setup) + " " + Quote(out) + " 2>&1";
  return Capture(cmd);
}

// The installer's steps up to the package, as a script to run in the distribution
// directory inside the sandbox: copy the files of the list into the work directory, join
// the pieces, uncompress and untar.
inline const char* kUnpackSteps =
    "set -e; W=/tmp/KorviInstall; rm -rf $W; mkdir $W;"
    " L=disks; [ -f disks ] || L=DISKS;"
    " for f in $(cat $L); do [ $f = end_of_list ] && break; cp -p $f $W; done;"
    " cd $W; for f in $(cat $L); do case $f in pkg_tar.*|PKG_TAR.*) cat $f >> Solarisi386Kvln.tar.Z;; esac; done;"
    " uncompress Solarisi386Kvln.tar.Z; tar xfp Solarisi386Kvln.tar; rm Solarisi386Kvln.tar;";

inline int CurrentYear() {
  time_t now = time(nullptr);
  struct tm tmNow;
  localtime_r(&now, &tmNow);
  return tmNow.tm_year + 1900;
}

class Sandbox {
 public:
  explicit Sandbox(const std::string& tag = "sandbox") : dir_(tag), state(dir_.path) {
    Shell("mkdir -p " + Quote(state + "/tmp"));
  }

  // The host path of a path inside the sandbox.
  std::string At(const std::string& inside) const { return state + inside; }
  std::string Dist() const { return At("/tmp/dist"); }
  // Leaves the state directory behind for a look after the test.
  void Keep() {
    dir_.Keep();
    fprintf(stderr, "state kept in %s\n", state.c_str());
  }

  // Builds /tmp/dist with sim/mkdist from a package directory and a package list text;
  // mkdistOpts go before the operands (--pieces 3, --upper, --extra DIR, ...).
  void MakeDist(const std::string& pkgDir, const std::string& pkgList,
                const std::string& mkdistOpts = "") const {
    std::string list = state + "/pkg.list.src";
    WriteFile(list, pkgList);
    Shell("rm -rf " + Quote(Dist()));
    std::string cmd = Quote(Src("sim/mkdist")) + " " + mkdistOpts + " " + Quote(pkgDir) + " " +
                      Quote(list) + " " + Quote(SetupBinary()) + " " + Quote(Dist()) +
                      " >/dev/null";
    ASSERT_EQ(Shell(cmd), 0) << cmd;
  }

  // A distribution at dir (inside) laid out by hand: setup, the file list, the size files
  // (an empty text leaves a size file out) and a stand-in archive.
  void MakeStandInDist(const std::string& dir = "/tmp/dist", const std::string& isize = "1000\n",
                       const std::string& tsize = "2000\n") const {
    std::string d = At(dir);
    ASSERT_EQ(Shell("mkdir -p " + Quote(d) + " && cp " + Quote(SetupBinary()) + " " +
                    Quote(d + "/setup")),
              0);
    WriteFile(d + "/disks", "disks isize tsize\nSolarisi386Kvln.tar.Z\nend_of_list\n");
    if (!isize.empty()) WriteFile(d + "/isize", isize);
    if (!tsize.empty()) WriteFile(d + "/tsize", tsize);
    WriteFile(d + "/Solarisi386Kvln.tar.Z", "stand-in archive\n");
  }

  // An installed product at <base>/Korvi/kvln (inside path), with a queue tool that records
  // its arguments and LANG in /tmp/kpqadmin.calls and its own path in /tmp/kpqadmin.paths.
  void MakeInstallation(const std::string& base) const {
    std::string app = At(base + "/Korvi/kvln");
    ASSERT_EQ(Shell("mkdir -p " + Quote(app + "/bin")), 0);
    WriteFile(app + "/bin/marker", "installed\n");
    WriteFile(app + "/kpqadmin",
              "#!/bin/sh\n"
              "echo \"kpqadmin $* LANG=${LANG-unset}\" >> /tmp/kpqadmin.calls\n"
              "echo \"$0 $*\" >> /tmp/kpqadmin.paths\n",
              0755);
  }

  // Runs a shell command line in the sandbox (sim/run with runnerOpts, from cwd inside,
  // the distribution directory by default) with input on its standard input.
  RunResult Run(const std::string& input, const std::string& runnerOpts, const std::string& cmd,
                const std::string& cwd = "") const {
    std::string in = state + "/.input", out = state + "/.stdout", err = state + "/.stderr";
    WriteFile(in, input);
    std::string line = "timeout 300 " + Quote(Src("sim/run")) + " --state " + Quote(state) +
                       " --cwd " + Quote(cwd.empty() ? Dist() : At(cwd)) + " " + runnerOpts +
                       " -- sh -c " + Quote(cmd) + " <" + Quote(in) + " >" + Quote(out) +
                       " 2>" + Quote(err);
    RunResult r;
    r.status = Shell(line);
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    for (const std::string& code : AgreementCodes()) {
      std::string prompt = AgreementPrompt(code);
      if (prompt == " " || r.out.compare(0, prompt.size(), prompt) != 0) continue;
      r.prompted = true;
      r.agreement = code;
      r.after = r.out.substr(prompt.size());
      break;
    }
    return r;
  }

  // Runs ./setup args in the distribution directory with the umask given, answers piped in.
  RunResult Setup(const std::string& input, const std::string& runnerOpts = "",
                  const std::string& args = "", const std::string& umask = "022") const {
    return Run(input, runnerOpts, "umask " + umask + "; exec ./setup " + args);
  }

  std::string Log() const { return ReadFile(At("/tmp/setup.log")); }
  std::string Calls() const { return ReadFile(state + "/calls.log"); }
  std::vector<std::string> CallsOf(const std::string& name) const {
    return Grep(Calls(), name + " ");
  }

  // Empties the call log and the programs' records before a further run.
  void ClearRecords() const {
    WriteFile(state + "/calls.log", "");
    Shell("rm -rf " + Quote(state + "/progs") + "/*");
  }

  // The recorded calls of a product program, in call order.
  std::vector<ProgCall> Progs(const std::string& name) const {
    std::vector<std::string> files;
    std::string dir = state + "/progs";
    if (DIR* d = opendir(dir.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n.size() > 4 && n.substr(4) == name) files.push_back(n);
      }
      closedir(d);
    }
    std::sort(files.begin(), files.end());
    std::vector<ProgCall> calls;
    for (const std::string& f : files) {
      ProgCall c;
      for (const std::string& l : Lines(ReadFile(dir + "/" + f))) {
        if (l.compare(0, 4, "arg=") == 0) {
          c.args.push_back(l.substr(4));
        } else if (l.compare(0, 4, "cwd=") == 0) {
          c.cwd = l.substr(4);
        } else if (l.compare(0, 4, "env=") == 0) {
          size_t eq = l.find('=', 4);
          if (eq != std::string::npos) c.env[l.substr(4, eq - 4)] = l.substr(eq + 1);
        }
      }
      calls.push_back(c);
    }
    return calls;
  }

 private:
  TempDir dir_;

 public:
  const std::string state;  // the state directory on the host
};

// Every entry of the state (type, mode, owner, size, link text), but the records every run
// rewrites and the trees of leftOut (paths in the host such as "/usr", with all below them).
inline std::map<std::string, std::string> StateSnapshot(
    const Sandbox& sim, const std::vector<std::string>& leftOut = {}) {
  std::map<std::string, std::string> out;
  std::string list = sim.state + "/.snapshot", prune;
  for (const std::string& p : leftOut) prune += "-path " + Quote("." + p) + " -prune -o ";
  Shell("cd " + Quote(sim.state) + " && find . -path ./progs -prune -o -path ./conf -prune -o "
        "-path ./.snapshot -prune -o " + prune + "-type d -printf '%p\\t%y %m %u\\n' "
        "-o -printf '%p\\t%y %m %u %s %l\\n' > " + Quote(list));
  for (const std::string& l : Lines(ReadFile(list))) {
    size_t tab = l.find('\t');
    std::string path = l.substr(1, tab - 1);
    for (const char* skip : {"/calls.log", "/.input", "/.stdout", "/.stderr", "/tmp/setup.log",
                             "/tmp/KorviInstall", "/tmp"})
      if (path == skip) path.clear();
    // A directory's size changes with its entries: the entries themselves are compared.
    if (!path.empty()) out[path] = l.substr(tab + 1);
  }
  return out;
}

// The paths whose entry differs between two snapshots.
inline std::vector<std::string> ChangedPaths(const std::map<std::string, std::string>& a,
                                             const std::map<std::string, std::string>& b) {
  std::vector<std::string> out;
  for (const auto& [path, what] : a) {
    auto it = b.find(path);
    if (it == b.end() || it->second != what) out.push_back(path);
  }
  for (const auto& [path, what] : b)
    if (!a.count(path)) out.push_back(path);
  return out;
}

// The installation reached through /opt/Korvi/kvln works: its queue tool and its scripts
// are there, seen from inside the sandbox, and the package is registered.
inline void ExpectUsable(const Sandbox& sim, const std::string& opts = "") {
  Result r = sim.Run("", opts,
                     "cd /opt/Korvi/kvln && test -x kpqadmin && test -x driver && "
                     "test -s KorviPrintkvln && test -s .kp_cfg && sh -n KorviPrintkvln && "
                     "pkginfo -q VLMRkvln");
  EXPECT_EQ(r.status, 0) << "the installation is not usable: " << r.out << r.err;
}

// A sandbox per test with /tmp/dist and /opt made; the state of a failed test is kept.
// RunSetup runs ./setup with its arguments as a person would type them.
class SandboxTest : public testing::Test, public Sandbox {
 protected:
  SandboxTest() : Sandbox("flow") {}
  void SetUp() override {
    ASSERT_EQ(Shell("mkdir -p " + Quote(At("/tmp/dist")) + " " + Quote(At("/opt"))), 0);
  }
  void TearDown() override {
    if (HasFailure()) Keep();
  }

  // Runs setup (args) in the sandbox from cwd, input piped in. simOpts: options of sim/run;
  // lang null: LANG unset. Non-root by default so that the package steps stop at their root
  // check and only the flow is exercised.
  RunResult RunSetup(const std::vector<std::string>& args, const std::string& input = "y\n",
                     const std::vector<std::string>& simOpts = {"--user", "bob"},
                     const char* lang = nullptr, const std::string& prelude = "",
                     const std::string& cwd = "/tmp/dist") const {
    std::string inner = prelude;
    inner += lang ? "LANG=" + Quote(lang) + " exec ./setup" : "unset LANG; exec ./setup";
    for (const std::string& a : args) inner += " " + Quote(a);
    std::string opts;
    for (const std::string& o : simOpts) opts += " " + Quote(o);
    return Sandbox::Run(input, opts, inner, cwd);
  }
};

}  // namespace ktest

#endif  // KORVI_TESTS_SUPPORT_SANDBOX_H
