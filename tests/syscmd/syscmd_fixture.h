// syscmd_fixture.h - shared set-up of the command-layer tests.
// Each test resolves the table afresh against a search path that starts with the fixture
// directory of stand-in tools (tests/syscmd/fixtures/bin: sh that records what it runs, a
// Solaris-style df, lpd, accept), followed by the real /usr/bin and /bin. Logging is on; the
// run log is /tmp/<my_name>.log with a per-process name, removed at the end.
#ifndef KORVI_TESTS_SYSCMD_FIXTURE_H
#define KORVI_TESTS_SYSCMD_FIXTURE_H

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "syscmd/SysCmd.h"

namespace kvtest {

inline std::string FixDir(const char* sub) {
  return std::string(KORVI_SOURCE_DIR) + "/tests/syscmd/fixtures/" + sub;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

inline long FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
}

// Splits a blank-framed listing into its words.
inline std::multiset<std::string> Words(const char* listing) {
  std::multiset<std::string> out;
  std::istringstream in(listing ? listing : "");
  std::string w;
  while (in >> w) out.insert(w);
  return out;
}

// Runs fn in a child process with standard output and error sent to files; returns the raw
// wait status and the two texts. The child ends with exit code 0 when fn returns.
struct ChildResult {
  int status = 0;
  std::string out, err;
  int ExitCode() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
};
inline ChildResult RunInChild(const std::function<void()>& fn) {
  char outName[] = "/tmp/kvsyscmd_outXXXXXX";
  char errName[] = "/tmp/kvsyscmd_errXXXXXX";
  int outFd = mkstemp(outName);
  int errFd = mkstemp(errName);
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(outFd, 1);
    dup2(errFd, 2);
    fn();
    fflush(stdout);
    fflush(stderr);
    _exit(0);
  }
  ChildResult r;
  waitpid(pid, &r.status, 0);
  close(outFd);
  close(errFd);
  r.out = ReadAll(outName);
  r.err = ReadAll(errName);
  unlink(outName);
  unlink(errName);
  return r;
}

// A fresh temporary directory, removed with its contents at the end of the test.
struct TempDir {
  std::string path;
  TempDir() {
    char name[] = "/tmp/kvsyscmd_dirXXXXXX";
    path = mkdtemp(name);
  }
  ~TempDir() { std::system(("/bin/rm -rf " + path).c_str()); }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
  void Touch(const std::string& name, const std::string& content = "") const {
    std::ofstream(path + "/" + name) << content;
  }
};

class SysCmdTest : public ::testing::Test {
 protected:
  static inline char* pDefaultSearchPaths = nullptr;
  char szPaths[4096];
  std::string savedPath;
  std::string record;  // file the stand-in sh writes each text it runs into
  long logStart = 0;

  void SetUp() override {
    if (!pDefaultSearchPaths) pDefaultSearchPaths = SearchPaths;
    if (!my_name) my_name = SaveStr("kvsyscmd%d", static_cast<int>(getpid()));
    pLogPath = nullptr;
    flUseLog = 1;
    const char* p = getenv("PATH");
    savedPath = p ? p : "";
    setenv("PATH", "/usr/bin:/bin", 1);
    record = "/tmp/kvsyscmd_rec" + std::to_string(getpid());
    unlink(record.c_str());
    setenv("KV_SH_RECORD", record.c_str(), 1);
    Init(FixDir("bin") + ":/usr/bin:/bin");
  }
  void TearDown() override {
    ResetSysCmdList();
    SearchPaths = pDefaultSearchPaths;
    setenv("PATH", savedPath.c_str(), 1);
    unsetenv("KV_SH_RECORD");
    unlink(record.c_str());
  }
  // Resolves the table afresh against searchPaths (copied: start-up splits it in place).
  void Init(const std::string& searchPaths) {
    ResetSysCmdList();
    snprintf(szPaths, sizeof szPaths, "%s", searchPaths.c_str());
    SearchPaths = szPaths;
    InitSysCmdList();
    MarkLog();
  }
  std::string LogName() const { return GetLogFileName(); }
  void MarkLog() { logStart = FileSize(LogName()); }
  // What was appended to the run log since the last MarkLog.
  std::string LogTail() const {
    std::string all = ReadAll(LogName());
    return all.size() >= static_cast<size_t>(logStart) ? all.substr(logStart) : all;
  }
  // Texts the stand-in sh was asked to run, one per line.
  std::string Recorded() const { return ReadAll(record); }
  std::string Dir(int index) const { return ComList[index].pDir ? ComList[index].pDir : "(null)"; }
  std::string Sh() const { return Dir(kCmdSh) + "/sh"; }
};

}  // namespace kvtest

#endif  // KORVI_TESTS_SYSCMD_FIXTURE_H
