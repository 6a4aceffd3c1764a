// target.cpp - where the software goes: the command line, the installation found through
// /opt/Korvi/kvln, the cut of a user's path to a base directory, the move of an installation
// to a new base and the directories of a fresh one.
// Paths from the command line are made absolute and checked (ShellSafe) before anything is
// changed: a refused work area ends the run with setup message 3 and status 2, a refused
// install directory with an error line and status 1. Two texts naming the same directory
// (a doubled "/", a link) are the same place: an installation is never moved onto itself.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "installer/setup.h"
#include "syscmd/SysCmd.h"

namespace {

constexpr char kArgWords[] = ",install,-v";
constexpr int kLinkTextSize = 256;  // a link's text: at most 255 bytes
constexpr int kCwdSize = 4096;

// The fixed point of reference, "/opt/Korvi/kvln".
const char* FixedAppDir() {
  static char* pFixed = nullptr;
  if (!pFixed) pFixed = SaveStr("%s/%s/%s", kDefaultBase, kVendorWord, kProductCode);
  return pFixed;
}

// A saved copy of path, made absolute against the current directory when relative.
char* AbsolutePath(const char* path) {
  if (path[0] == '/') return SaveStr_(path);
  char cwd[kCwdSize];
  if (!getcwd(cwd, sizeof cwd)) return SaveStr_(path);
  if (path[0] == '\0') return SaveStr_(cwd);
  return SaveStr("%s%s%s", cwd, strcmp(cwd, "/") == 0 ? "" : "/", path);
}

// The install directory argument, cut to its base and made absolute; refused (exit 1) when
// nothing is left or the text is not safe for the shell.
char* InstallDirArg(const char* arg) {
  char* pDir = SaveStr_(arg);
  StripToBaseName(pDir);
  if (pDir[0] == '\0')
    ErrorMsg(2, 1, "install directory \"%s\" names no base directory; "
                   "run 'setup install /new_install_path'", arg);
  char* pAbs = AbsolutePath(pDir);
  PutMem(pDir);
  ShellSafe(pAbs, 2);
  return pAbs;
}

[[noreturn]] void RefuseWorkArea(const char* area) {
  printf(nlsSetupStrCvt(kMsgCouldntOpen), area);
  printf("\n\n");
  fflush(stdout);
  exit(2);
}

// The work area argument without one trailing "/", made absolute; refused (message 3,
// exit 2) when it is not safe for the shell.
char* WorkAreaArg(const char* arg) {
  char* pArea = SaveStr_(arg);
  size_t n = strlen(pArea);
  if (n > 0 && pArea[n - 1] == '/') pArea[n - 1] = '\0';
  char* pAbs = pArea;
  if (arg[0] != '/') {
    pAbs = AbsolutePath(pArea);
    PutMem(pArea);
  }
  if (!ShellSafe(pAbs, 1)) RefuseWorkArea(pAbs);
  return pAbs;
}

// Makes the work area's directory when missing (flCreatedTmpDir); message 3, exit 2 when it
// still does not exist afterwards.
void UseWorkArea(char* pArea) {
  const char* pPath = pArea[0] ? pArea : "/";
  pKorviInstallDir = SaveStr("%s/%sInstall", pArea, kVendorWord);
  // The flag speaks of the area in use: a later area that existed clears it, so the clean-up
  // never takes away an area this run did not make.
  flCreatedTmpDir = 0;
  if (FindFile(pPath, "")) return;
  flCreatedTmpDir = 1;
  SysCmd(kCmdMkdir, kSysCmdLog, "%s", pPath);
  if (!FindFile(pPath, "")) RefuseWorkArea(pPath);
}

// One walk over the arguments. flAct 0 only checks them (stopping at "-v"), so that a
// refused argument stops the run before an earlier one created anything; flAct 1 acts.
int WalkArguments(int argc, char** argv, int flAct) {
  int i = 1;
  for (; i < argc; i++) {
    switch (FindToken(argv[i], kArgWords)) {
      case 1:  // "install" <dir>; a last "install" is ignored
        if (i + 1 < argc) {
          char* pDir = InstallDirArg(argv[++i]);
          if (flAct) pCmdLineInstallDir = pDir;
          else PutMem(pDir);
        }
        break;
      case 2:  // "-v"
        if (!flAct) return i;
        fprintf(stderr, "%s %s\n", my_name, kSetupVersion);
        exit(0);
      default:
        if (i == 2) {
          char* pDir = InstallDirArg(argv[i]);
          if (flAct) pCmdLineInstallDir = pDir;
          else PutMem(pDir);
        } else {
          char* pArea = WorkAreaArg(argv[i]);
          if (flAct) UseWorkArea(pArea);
          else PutMem(pArea);
        }
        break;
    }
  }
  return i;
}

}  // namespace

int parseCommandLineOptions(int argc, char** argv) {
  WalkArguments(argc, argv, 0);
  return WalkArguments(argc, argv, 1);
}

char* StripToBaseName(char* text) {
  if (!text) return nullptr;
  if (char* p = strstr(text, kProductCode)) *p = '\0';
  if (char* p = strstr(text, kVendorWord)) *p = '\0';
  size_t n = strlen(text);
  if (n > 1 && text[n - 1] == '/') text[n - 1] = '\0';
  return text;
}

char* locatePreviousInstallation() {
  const char* pFixed = FixedAppDir();
  int type = GetFileType(pFixed);
  if (type == 0) return nullptr;
  if (type != 2) return SaveStr_(kDefaultBase);

  char link[kLinkTextSize];
  ssize_t n = readlink(pFixed, link, sizeof link - 1);
  struct stat st;
  if (n > 0 && stat(pFixed, &st) == 0 && S_ISDIR(st.st_mode)) {
    link[n] = '\0';
    char* pBase;
    if (link[0] == '/') {
      pBase = SaveStr_(link);
    } else {
      // A relative link is relative to /opt/Korvi, where it stands: take the directory it
      // really reaches.
      char real[PATH_MAX];
      if (!realpath(pFixed, real)) return nullptr;
      pBase = SaveStr_(real);
    }
    return StripToBaseName(pBase);
  }
  // A dangling link, or one to something that is not a directory: no installation.
  SysCmd(kCmdRm, kSysCmdLog, "%s/%s/%s", kDefaultBase, kVendorWord, kProductCode);
  return nullptr;
}

int SameDirectory(const char* a, const char* b) {
  struct stat sa, sb;
  if (!a || !b || stat(a, &sa) != 0 || stat(b, &sb) != 0) return 0;
  if (!S_ISDIR(sa.st_mode) || !S_ISDIR(sb.st_mode)) return 0;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void RelocateInstallation(const char* prevBase, const char* target) {
  // Same place under two spellings: the base itself, or its vendor directory reached through
  // a link. Moving would first remove the very directory it is about to move.
  char* pPrevVendor = SaveStr("%s/%s", prevBase, kVendorWord);
  char* pNewVendor = SaveStr("%s/%s", target, kVendorWord);
  int flSame = SameDirectory(prevBase, target) || SameDirectory(pPrevVendor, pNewVendor);
  PutMem(pPrevVendor);
  if (flSame) {
    PutMem(pNewVendor);
    return;
  }
  SysCmd(kCmdRmRf, kSysCmdLog, " %s", pAppDir);
  CreateFile(pNewVendor, nullptr, "755", nullptr, nullptr);
  PutMem(pNewVendor);
  SysCmd(kCmdMv, kSysCmdFatal, "-f %s/%s/%s %s/%s", prevBase, kVendorWord, kProductCode, target,
         kVendorWord);
  if (strcmp(FixedAppDir(), pAppDir) != 0 && !SameDirectory(FixedAppDir(), pAppDir)) {
    SysCmd(kCmdRm, kSysCmdLog, "%s/%s/%s", kDefaultBase, kVendorWord, kProductCode);
    SysCmd(kCmdLn, kSysCmdFatal, "-s %s/%s/%s %s/%s/%s", target, kVendorWord, kProductCode,
           kDefaultBase, kVendorWord, kProductCode);
  }
}

void createInstallationDirectories(const char* target) {
  if (strcmp(target, kDefaultBase) == 0) {
    CreateFile(FixedAppDir(), nullptr, "755", nullptr, nullptr);
    return;
  }
  char* pApp = SaveStr("%s/%s/%s", target, kVendorWord, kProductCode);
  CreateFile(pApp, nullptr, "775", nullptr, nullptr);
  // "/opt/" or a link to /opt names the fixed point itself: no link onto itself.
  if (!SameDirectory(pApp, FixedAppDir())) {
    char* pOptVendor = SaveStr("%s/%s", kDefaultBase, kVendorWord);
    if (GetFileType(pOptVendor) == 0) CreateFile(pOptVendor, nullptr, "775", nullptr, nullptr);
    PutMem(pOptVendor);
    SysCmd(kCmdLn, kSysCmdFatal, "-s %s/%s/%s %s/%s/%s", target, kVendorWord, kProductCode,
           kDefaultBase, kVendorWord, kProductCode);
  }
  PutMem(pApp);
}
