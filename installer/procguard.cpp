// procguard.cpp - the running-process guard: while any program of a list runs, report it and
// let the user wait or quit. The installer only watches other processes, never signals them.
// The answer is one character and the character after it (the newline of a one-character
// line); end of input counts as quit, so a run without a terminal never asks forever.
#include <unistd.h>

#include <cstdio>

#include "base/MemMgr.h"
#include "installer/setup.h"
#include "syscmd/SysCmd.h"

namespace {

constexpr int kWaitSteps = 6;        // "Wait 30 seconds": six steps
constexpr unsigned kStepSeconds = 5;  // of five seconds each

}  // namespace

bool QuitForRunningProcesses(const char* list) {
  const char* pHead = nullptr;
  const char* pMenu[4] = {};
  for (;;) {
    char* pReport = CheckProcTableForExecs(list);
    if (!pReport) return false;
    if (!pHead) {  // loaded on the first round, reused after
      pHead = nlsSetupStrCvt(kMsgProcsRunning);
      for (int i = 0; i < 4; i++) pMenu[i] = nlsSetupStrCvt(kMsgWouldYouLike + i);
    }
    fputs(pHead, stdout);
    printf("%s\n", pReport);
    PutMem(pReport);
    for (const char* pLine : pMenu) fputs(pLine, stdout);
    fflush(stdout);

    int ch = getchar();
    if (ch == EOF) {
      fputs("\n", stdout);
      fflush(stdout);
      return true;
    }
    getchar();  // the character after the answer
    if (ch == '2') return true;
    if (ch != '1') continue;
    for (int step = 0; step < kWaitSteps; step++) {
      sleep(kStepSeconds);
      pReport = CheckProcTableForExecs(list);
      if (!pReport) return false;
      PutMem(pReport);
    }
  }
}
