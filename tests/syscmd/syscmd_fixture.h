// syscmd_fixture.h - shared set-up of the command-layer tests.
// Each test resolves the table afresh against a search path that starts with the fixture
// directory of stand-in tools (tests/syscmd/fixtures/bin: sh that records what it runs, a
// Solaris-style df, lpd, accept), followed by the real /usr/bin and /bin. Logging is on; the
// run log is /tmp/<my_name>.log with a per-process name, removed at the end.
#ifndef KORVI_TESTS_SYSCMD_FIXTURE_H
#define KORVI_TESTS_SYSCMD_FIXTURE_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "syscmd/SysCmd.h"
#include "tests/support/test_support.h"

namespace kvtest {

inline std::string FixDir(const char* sub) {
  return ktest::Src(std::string("tests/syscmd/fixtures/") + sub);
}

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
  void MarkLog() { logStart = ktest::FileSize(LogName()); }
  // What was appended to the run log since the last MarkLog.
  std::string LogTail() const {
    std::string all = ktest::ReadFile(LogName());
    return all.size() >= static_cast<size_t>(logStart) ? all.substr(logStart) : all;
  }
  // Texts the stand-in sh was asked to run, one per line.
  std::string Recorded() const { return ktest::ReadFile(record); }
  std::string Dir(int index) const { return ComList[index].pDir ? ComList[index].pDir : "(null)"; }
  std::string Sh() const { return Dir(kCmdSh) + "/sh"; }
};

}  // namespace kvtest

#endif  // KORVI_TESTS_SYSCMD_FIXTURE_H
