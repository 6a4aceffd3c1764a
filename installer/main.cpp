// main.cpp - setup, the installer of the Korvi print software: the whole run from the
// agreement to exit, one step after the other. Every orderly stop and every failure ends the
// process with exit() at once; a file that could not be written ends it with status 1 after
// the clean-up. Exit status 0 for the orderly stops,
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
  // The name becomes part of file names the shell reads (the run log, the package list's
  // temporary file). A distribution may have been renamed by anyone: a name the shell could
  // read as more than a word, an empty one or one cut by its buffer gives way to "setup".
  if (!my_name[0] || strlen(my_name) >= static_cast<size_t>(kPathBufSize - 1) ||
      !ShellSafe(my_name, 0)) {
    my_name = SaveStr_("setup");
    ErrorMsg(1, 0, "the program's name is not a plain file name; its files are named after "
                   "\"setup\"");
  }

  // Before the first change, the run log included: a second run must change nothing.
  LockOutOtherRuns();
  // The run log records what runs as root: a run that cannot keep it (another user's
  // directory stands at its name) does not start.
  if (!PrepareLogFile())
    ErrorMsg(2, 1, "cannot make the run log %s; setup was not started", GetLogFileName());
  InitSysCmdList();
  // The distribution directory reaches the shell in every copy: check it before any change.
  if (!pPathToSetup) ErrorMsg(2, 1, "cannot tell the directory that holds %s", my_name);
  ShellSafe(pPathToSetup, 2);
  if (strlen(pPathToSetup) > static_cast<size_t>(kMaxPathLen))
    ErrorMsg(2, 1, "the directory that holds %s is longer than %d characters", my_name,
             kMaxPathLen);
  parseCommandLineOptions(argc, argv);

  // A move of the installation that a stopped run left part-way is ended first: the
  // installation is then found where /opt/Korvi/kvln leads, whole.
  FinishInterruptedMove();
  pCurrentInstallDir = locatePreviousInstallation();
  if (pCurrentInstallDir) ShellSafe(pCurrentInstallDir, 2);
  if (pCmdLineInstallDir)
    pTargetInstallDir = pCmdLineInstallDir;
  else if (pCurrentInstallDir)
    pTargetInstallDir = pCurrentInstallDir;
  else
    pTargetInstallDir = SaveStr_(kDefaultBase);
  pAppDir = SaveStr("%s/%s/%s", pTargetInstallDir, kVendorWord, kProductCode);
  RefuseNestedPlaces();

  FreeSpaceForInstall(pKorviInstallDir, pTargetInstallDir, kVendorWord);

  if (pCurrentInstallDir) {
    if (QuitForRunningProcesses(pBinaryInstanceCheckList)) exit(0);
    if (strcmp(pTargetInstallDir, pCurrentInstallDir) != 0)
      RelocateInstallation(pCurrentInstallDir, pTargetInstallDir);
  }

  installFromSite(pKorviInstallDir);
  KorviClean(pKorviInstallDir);
  exit(flInstallFailed ? 1 : 0);
}
