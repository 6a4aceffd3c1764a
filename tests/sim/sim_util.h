// Helpers for the tests of the simulated Solaris host: running shell commands,
// the sandbox runner and the distribution builder, and temporary directories.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace simtest {

namespace fs = std::filesystem;

inline const std::string kSource = KORVI_SOURCE_DIR;
inline const std::string kRun = kSource + "/sim/run";
inline const std::string kMkdist = kSource + "/sim/mkdist";
inline const std::string kSample = kSource + "/sim/sample";

struct Result {
  int status = -1;  // exit status, or 128 + signal
  std::string out;  // standard output (and error when the command merges it)
};

// Quotes a text for sh.
inline std::string Q(const std::string& s) {
  std::string r = "'";
  for (char c : s) {
    if (c == '\'')
      r += "'\\''";
    else
      r += c;
  }
  return r + "'";
}

// Runs a command line through sh and captures its standard output.
inline Result Sh(const std::string& cmd) {
  Result r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = pclose(p);
  if (WIFEXITED(st))
    r.status = WEXITSTATUS(st);
  else if (WIFSIGNALED(st))
    r.status = 128 + WTERMSIG(st);
  return r;
}

// Runs a bash script inside the sandbox; opts are options of sim/run.
// Standard error is merged into the captured output unless noMerge is set.
inline Result Sim(const std::string& opts, const std::string& script,
                  const std::string& input = "", bool merge = true) {
  std::string cmd;
  if (!input.empty())
    cmd = "printf '%s' " + Q(input) + " | ";
  else
    cmd = "</dev/null ";
  cmd += Q(kRun) + " " + opts + " -- bash -c " + Q(script);
  if (merge) cmd += " 2>&1";
  return Sh(cmd);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

inline unsigned Mode(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) v.push_back(line);
  return v;
}

inline bool HasLine(const std::string& text, const std::string& line) {
  for (const auto& l : Lines(text))
    if (l == line) return true;
  return false;
}

// A directory under /tmp, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/korvi-simtest-XXXXXX";
    char* d = mkdtemp(tmpl);
    path_ = d ? d : "";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

 private:
  std::string path_;
};

// A stand-in setup program for distributions built by the tests.
inline std::string FakeSetup(const TempDir& t) {
  std::string p = t / "fake-setup";
  WriteFile(p, "#!/bin/sh\necho setup\n");
  chmod(p.c_str(), 0755);
  return p;
}

// Builds the sample distribution with the given mkdist options into out.
inline Result MakeSampleDist(const std::string& opts, const std::string& setup,
                             const std::string& out, bool extra = true) {
  std::string cmd = Q(kMkdist) + " " + opts;
  if (extra) cmd += " --extra " + Q(kSample + "/extra");
  cmd += " " + Q(kSample + "/VLMRkvln") + " " + Q(kSample + "/pkg.list") + " " + Q(setup) +
         " " + Q(out) + " 2>&1";
  return Sh(cmd);
}

// The installer's steps up to the package: copy the files of the list into the
// work directory, join the pieces, uncompress and untar (run in the
// distribution directory inside the sandbox).
inline const char* kUnpackSteps =
    "set -e; W=/tmp/KorviInstall; rm -rf $W; mkdir $W;"
    " L=disks; [ -f disks ] || L=DISKS;"
    " for f in $(cat $L); do [ $f = end_of_list ] && break; cp -p $f $W; done;"
    " cd $W; for f in $(cat $L); do case $f in pkg_tar.*|PKG_TAR.*) cat $f >> Solarisi386Kvln.tar.Z;; esac; done;"
    " uncompress Solarisi386Kvln.tar.Z; tar xfp Solarisi386Kvln.tar; rm Solarisi386Kvln.tar;";

}  // namespace simtest
