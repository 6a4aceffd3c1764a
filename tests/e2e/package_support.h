// package_support.h - helpers of the package end-to-end tests: a sandbox state directory
// for sim/run, distributions built with sim/mkdist from the sample package (or a copy of
// it changed by the test), runs of the real setup with answers piped in, and readers for
// what a run leaves behind: files, the stand-ins' call log, the product programs' records
// and the run log.
#ifndef KORVI_TESTS_E2E_PACKAGE_SUPPORT_H
#define KORVI_TESTS_E2E_PACKAGE_SUPPORT_H

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace pkgtest {

inline std::string Src(const std::string& rel) { return std::string(KORVI_SOURCE_DIR) + "/" + rel; }
inline std::string SetupBin() { return std::string(KORVI_BINARY_DIR) + "/installer/setup"; }

inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  chmod(path.c_str(), mode);
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

inline bool IsLink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Permission bits of path (following links), -1 when it does not exist.
inline int Mode(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream ss(text);
  for (std::string line; std::getline(ss, line);) out.push_back(line);
  return out;
}

// The lines of text that start with prefix.
inline std::vector<std::string> Grep(const std::string& text, const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& l : Lines(text))
    if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l);
  return out;
}

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

inline int Shell(const std::string& cmd) {
  int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

inline int CurrentYear() {
  time_t now = time(nullptr);
  struct tm tmNow;
  localtime_r(&now, &tmNow);
  return tmNow.tm_year + 1900;
}

struct Result {
  int status = -1;
  std::string out, err;
};

// One call of a stand-in product program, as recorded in progs/NNN-NAME.
struct ProgCall {
  std::vector<std::string> args;
  std::string cwd;
  std::map<std::string, std::string> env;
};

// A sandbox state directory (the simulated host's private places) under /tmp.
class Sim {
 public:
  explicit Sim(const std::string& tag) {
    std::string tmpl = "/tmp/korvi_pkg_" + tag + "_XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    state = mkdtemp(buf.data());
    Shell("mkdir -p " + Quote(state + "/tmp"));
  }
  ~Sim() {
    if (!getenv("KORVI_KEEP_SANDBOX")) Shell("rm -rf " + Quote(state));
  }
  Sim(const Sim&) = delete;
  Sim& operator=(const Sim&) = delete;

  std::string state;

  // The host path of a path inside the sandbox.
  std::string At(const std::string& inside) const { return state + inside; }
  std::string Dist() const { return At("/tmp/dist"); }

  // Builds <sandbox>/tmp/dist with sim/mkdist from a package directory and a package list
  // text; mkdistOpts go before the operands (--pieces 3, --upper, --extra DIR, ...).
  void MakeDist(const std::string& pkgDir, const std::string& pkgList,
                const std::string& mkdistOpts = "") {
    std::string list = state + "/pkg.list.src";
    WriteFile(list, pkgList);
    Shell("rm -rf " + Quote(Dist()));
    std::string cmd = Quote(Src("sim/mkdist")) + " " + mkdistOpts + " " + Quote(pkgDir) + " " +
                      Quote(list) + " " + Quote(SetupBin()) + " " + Quote(Dist()) + " >/dev/null";
    ASSERT_EQ(Shell(cmd), 0) << cmd;
  }

  // Runs a shell command line inside the sandbox (in the distribution directory) with
  // input on its standard input.
  Result Run(const std::string& input, const std::string& runnerOpts, const std::string& cmd,
             const std::string& cwd = "") const {
    std::string in = state + "/.input", out = state + "/.stdout", err = state + "/.stderr";
    WriteFile(in, input);
    std::string line = "timeout 300 " + Quote(Src("sim/run")) + " --state " + Quote(state) +
                       " --cwd " + Quote(cwd.empty() ? Dist() : cwd) + " " + runnerOpts +
                       " -- sh -c " + Quote(cmd) + " <" + Quote(in) + " >" + Quote(out) +
                       " 2>" + Quote(err);
    Result r;
    r.status = Shell(line);
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    return r;
  }

  // Runs ./setup with args (umask 022 unless given), answers piped in.
  Result Setup(const std::string& input, const std::string& runnerOpts = "",
               const std::string& args = "", const std::string& umask = "022") const {
    return Run(input, runnerOpts, "umask " + umask + "; exec ./setup " + args);
  }

  std::string Calls() const { return ReadFile(state + "/calls.log"); }
  std::vector<std::string> CallsOf(const std::string& name) const {
    return Grep(Calls(), name + " ");
  }
  std::string Log() const { return ReadFile(At("/tmp/setup.log")); }

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
        if (l.compare(0, 4, "arg=") == 0) c.args.push_back(l.substr(4));
        else if (l.compare(0, 4, "cwd=") == 0) c.cwd = l.substr(4);
        else if (l.compare(0, 4, "env=") == 0) {
          size_t eq = l.find('=', 4);
          if (eq != std::string::npos) c.env[l.substr(4, eq - 4)] = l.substr(eq + 1);
        }
      }
      calls.push_back(c);
    }
    return calls;
  }
};

// A copy of the sample package in dir/VLMRkvln, for a test that changes it.
inline std::string CopySamplePackage(const std::string& dir) {
  Shell("mkdir -p " + Quote(dir) + " && cp -R " + Quote(Src("sim/sample/VLMRkvln")) + " " +
        Quote(dir + "/VLMRkvln"));
  return dir + "/VLMRkvln";
}

inline std::string SamplePkgDir() { return Src("sim/sample/VLMRkvln"); }
inline std::string SampleExtra() { return Src("sim/sample/extra"); }

inline std::string Join(const std::vector<std::string>& v, const std::string& sep = " ") {
  std::string out;
  for (size_t i = 0; i < v.size(); i++) out += (i ? sep : "") + v[i];
  return out;
}

}  // namespace pkgtest

#endif  // KORVI_TESTS_E2E_PACKAGE_SUPPORT_H
