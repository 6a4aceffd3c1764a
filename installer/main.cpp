// main.cpp - setup, the installer of the Korvi print software: the whole run from the
// agreement to exit, one step after the other. Every orderly stop and every failure ends the
// process with exit() at once; nothing is rolled back. Exit status 0 for the orderly stops,
// 1 for a failed command or a refused path, 2 for a work area that cannot be used.
#include <cstdlib>
#include <cstring>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "installer/install.h"
#include "installer/setup.h"
#include "syscmd/SysCmd.h"

int main(int argc, char** argv) {
  if (!UserAcceptedEULA()) exit(0);

  flUseLog = 1;
  pKorviInstallDir = SaveStr("/tmp/%sInstall", kVendorWord);
  LineBuf[0] = '\0';
  const char* pInvocation = argc > 0 && argv[0] ? argv[0] : "setup";
  pPathToSetup = GetToolPath(pInvocation);
  my_name = SaveStr_(StripPath(pInvocation));
  if (!pLogPath) pLogPath = SaveStr_("/tmp");

  // Before the first change, the run log included: a second run must change nothing.
  LockOutOtherRuns();
  InitSysCmdList();
  // The distribution directory reaches the shell in every copy: check it before any change.
  if (!pPathToSetup) ErrorMsg(2, 1, "cannot tell the directory that holds %s", my_name);
  ShellSafe(pPathToSetup, 2);
  parseCommandLineOptions(argc, argv);

  pCurrentInstallDir = locatePreviousInstallation();
  if (pCurrentInstallDir) ShellSafe(pCurrentInstallDir, 2);
  if (pCmdLineInstallDir)
    pTargetInstallDir = pCmdLineInstallDir;
  else if (pCurrentInstallDir)
    pTargetInstallDir = pCurrentInstallDir;
  else
    pTargetInstallDir = SaveStr_(kDefaultBase);
  pAppDir = SaveStr("%s/%s/%s", pTargetInstallDir, kVendorWord, kProductCode);

  FreeSpaceForInstall(pKorviInstallDir, pTargetInstallDir, kVendorWord);

  if (pCurrentInstallDir) {
    if (QuitForRunningProcesses(pBinaryInstanceCheckList)) exit(0);
    if (strcmp(pTargetInstallDir, pCurrentInstallDir) != 0)
      RelocateInstallation(pCurrentInstallDir, pTargetInstallDir);
  }

  installFromSite(pKorviInstallDir);
  KorviClean(pKorviInstallDir);
  exit(0);
}
