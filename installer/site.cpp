// site.cpp - the copy of the distribution into the work directory and the clean-up after it.
// The work directory is made anew by this run: a new directory owned by the user running
// setup and closed to everyone else (mode 0700), since everything in it is later run as
// root. Anything else standing there after the removal (a directory planted by another user,
// a link) is refused with setup message 3 and status 2 before a file is copied. Every word
// of the file list is checked for the shell before the first change.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "installer/install.h"
#include "installer/setup.h"
#include "syscmd/SysCmd.h"

namespace {

constexpr char kListEnd[] = "end_of_list";
constexpr char kListDelims[] = " \t\r\n";

// Refuses every word of the file list that is not safe for the shell (exit 1).
void CheckFileList(const char* list) {
  for (const char* pWord = GetToken(list, kListDelims); pWord; pWord = GetToken(nullptr, kListDelims)) {
    if (strcmp(pWord, kListEnd) == 0) break;
    ShellSafe(pWord, 2);
  }
}

[[noreturn]] void RefuseWorkDir(const char* workDir, const char* reason) {
  printf(nlsSetupStrCvt(kMsgCouldntOpen), workDir);
  printf("\n%s\n\n", reason);
  fflush(stdout);
  exit(2);
}

// Makes workDir with mode 0700 and checks that what stands there is that new directory. It
// stays closed to everyone else: nobody may read or change what is unpacked into it before
// it has been checked.
void MakeWorkDir(const char* workDir) {
  if (mkdir(workDir, 0700) != 0) {
    const char* reason = errno == EEXIST
        ? "The work directory is in the way: it could not be removed, or another user made it "
          "again. Remove it, or name another work area: 'setup /new_work_area_path'."
        : strerror(errno);
    RefuseWorkDir(workDir, reason);
  }
  struct stat st;
  if (lstat(workDir, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
      (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    RefuseWorkDir(workDir, "The work directory must be a directory of its own, owned by the "
                           "user running setup and writable by nobody else.");
  }
}

}  // namespace

int installFromSite(const char* workDir) {
  // Read and check the list first: a refused word stops the run before anything changes.
  GetDisksData(pPathToSetup);
  char* pList = SaveStr_(LineBuf);
  CheckFileList(pList);

  DeleteFile(nullptr, workDir);
  MakeWorkDir(workDir);

  for (const char* pWord = GetToken(pList, kListDelims); pWord; pWord = GetToken(nullptr, kListDelims)) {
    if (strcmp(pWord, kListEnd) == 0) break;
    SysCmd(kCmdCp, kSysCmdFatal, "%s/%s %s", pPathToSetup, pWord, workDir);
  }
  PutMem(pList);

  Install();
  return 0;
}

void KorviClean(const char* workDir) {
  if (chdir("/") != 0) PutLogMsg("WARNING_MSG: cannot change to /\n");
  SysCmd(kCmdRmRf, kSysCmdLog, " %s", workDir);
  if (flCreatedTmpDir) {
    if (chdir(kDefaultBase) != 0) PutLogMsg("WARNING_MSG: cannot change to %s\n", kDefaultBase);
    SysCmd(kCmdRmRf, kSysCmdLog, " %s", workDir);
    // The work area this run made goes too, but only when nothing else was put in it.
    char* pArea = SaveStr_(workDir);
    if (char* pSlash = strrchr(pArea, '/')) {
      *pSlash = '\0';
      if (pArea[0] && rmdir(pArea) == 0) PutLogMsg("removed the work area %s\n", pArea);
    }
    PutMem(pArea);
  }

  // The product's queue tool, when the package brought it: upgrade, then clean-up.
  const char* const kQueueSteps[] = {"upgrade", "clean"};
  for (const char* pStep : kQueueSteps) {
    char* pTool = SaveStr("%s/%spqadmin", pAppDir, kProductPrefix);
    if (access(pTool, X_OK) == 0) {
      char* pCmd = SaveStr("%s/%spqadmin -%s", pAppDir, kProductPrefix, pStep);
      fflush(stdout);
      if (system(pCmd) == -1) PutLogMsg("WARNING_MSG: cannot run %s\n", pCmd);
      PutMem(pCmd);
    }
    PutMem(pTool);
    fputs(".", stdout);
  }
  fputs("\n", stdout);
  fflush(stdout);
}
