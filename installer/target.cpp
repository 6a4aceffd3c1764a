// target.cpp - where the software goes: the command line, the installation found through
// /opt/Korvi/kvln, the cut of a user's path to a base directory, the move of an installation
// to a new base and the directories of a fresh one.
// Paths from the command line are made absolute and checked (ShellSafe) before anything is
// changed: a refused work area ends the run with setup message 3 and status 2, a refused
// install directory with an error line and status 1. Two texts naming the same directory
// (a doubled "/", a link) are the same place: an installation is never moved onto itself.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "installer/install.h"
#include "installer/setup.h"
#include "syscmd/SysCmd.h"

namespace {

constexpr char kArgWords[] = ",install,-v";
constexpr int kCwdSize = 4096;
constexpr char kStaging[] = ".kvln.new";   // the copy of a moving installation, beside its place
constexpr char kRetired[] = ".kvln.old";   // an installation directory taken from /opt/Korvi/kvln
constexpr char kNewLink[] = ".kvln.link";  // the new link, renamed over /opt/Korvi/kvln
// While an installation moves: its old and its new application directory (real locations),
// one a line, in /opt/Korvi. A run stopped part-way is finished or undone from it.
constexpr char kJournal[] = ".kvln.move";

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

// A base directory whose application directory would not fit kMaxPathLen is refused (exit 1)
// before anything changes: a longer path would be cut or refused somewhere on its way.
void RefuseLongBase(const char* base, const char* what) {
  size_t n = strlen(base) + strlen("/Korvi/kvln");
  if (n <= static_cast<size_t>(kMaxPathLen)) return;
  ErrorMsg(2, 1, "%s \"%.60s...\" is too long: its application directory would have %zu "
                 "characters, more than %d", what, base, n, kMaxPathLen);
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
  RefuseLongBase(pAbs, "install directory");
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
  if (strlen(pAbs) + strlen("/KorviInstall") > static_cast<size_t>(kMaxPathLen)) {
    fprintf(stderr, "ERROR: the work area is too long: its work directory would have more than "
                    "%d characters\n", kMaxPathLen);
    RefuseWorkArea(pAbs);
  }
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

// The real location of path: its deepest ancestor that resolves (links, "..", doubled "/"),
// resolved, with the rest appended. A saved string.
char* RealLocation(const char* path) {
  char* pHead = SaveStr_(path);
  char real[PATH_MAX];
  for (;;) {
    if (realpath(pHead, real)) break;
    char* pSlash = strrchr(pHead, '/');
    if (!pSlash || (pSlash == pHead && !pHead[1])) {
      PutMem(pHead);
      return SaveStr_(path);
    }
    pSlash[pSlash == pHead ? 1 : 0] = '\0';
  }
  const char* pRest = path + strlen(pHead);
  PutMem(pHead);
  while (*pRest == '/') pRest++;
  if (!*pRest) return SaveStr_(real);
  return SaveStr("%s%s%s", real, strcmp(real, "/") == 0 ? "" : "/", pRest);
}

// 1 when inner is outer or lies below it (both real locations).
int Inside(const char* inner, const char* outer) {
  size_t n = strlen(outer);
  if (strncmp(inner, outer, n) != 0) return 0;
  return inner[n] == '\0' || inner[n] == '/' || (n == 1 && outer[0] == '/');
}

// 1 when the tree at copy holds every entry of the tree at orig with the same kind, and every
// regular file with the same size.
int SameTree(const char* orig, const char* copy) {
  struct stat so, sc;
  if (stat(orig, &so) != 0 || lstat(copy, &sc) != 0) return 0;
  if (S_ISDIR(so.st_mode) != S_ISDIR(sc.st_mode)) return 0;
  DIR* d = opendir(orig);
  if (!d) return 0;
  int flSame = 1;
  while (struct dirent* e = readdir(d)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    char* pA = SaveStr("%s/%s", orig, e->d_name);
    char* pB = SaveStr("%s/%s", copy, e->d_name);
    struct stat sa, sb;
    if (lstat(pA, &sa) != 0 || lstat(pB, &sb) != 0 ||
        (sa.st_mode & S_IFMT) != (sb.st_mode & S_IFMT) ||
        (S_ISREG(sa.st_mode) && sa.st_size != sb.st_size) ||
        (S_ISDIR(sa.st_mode) && !SameTree(pA, pB)))
      flSame = 0;
    PutMem(pA);
    PutMem(pB);
    if (!flSame) break;
  }
  closedir(d);
  return flSame;
}

// rename(2), logged as the command it replaces; 1 on success.
int RenameLogged(const char* from, const char* to) {
  if (rename(from, to) == 0) {
    PutLogMsg("renamed %s to %s\n", from, to);
    return 1;
  }
  PutLogMsg("WARNING_MSG: cannot rename %s to %s: %s\n", from, to, strerror(errno));
  return 0;
}

// Points /opt/Korvi/kvln at dir in one step: a new link beside it is renamed over it.
int RelinkFixedPoint(const char* dir) {
  char* pNew = SaveStr("%s/%s/%s", kDefaultBase, kVendorWord, kNewLink);
  if (GetFileType(pNew)) SysCmd(kCmdRm, kSysCmdLog, "%s", pNew);
  int flOk = SysCmd(kCmdLn, kSysCmdLog, "-s %s %s", dir, pNew) == 0 &&
             RenameLogged(pNew, FixedAppDir());
  if (!flOk) SysCmd(kCmdRm, kSysCmdLog, "%s", pNew);
  PutMem(pNew);
  return flOk;
}

// "/opt/Korvi/<name>", a saved string.
char* OptVendorEntry(const char* name) {
  return SaveStr("%s/%s/%s", kDefaultBase, kVendorWord, name);
}

// The real location of dir's parent with dir's last part appended (dir itself may be a
// link, or missing), a saved string.
char* RealParentLocation(const char* dir) {
  char* pParent = SaveStr_(dir);
  char* pSlash = strrchr(pParent, '/');
  if (!pSlash || pSlash == pParent) {
    PutMem(pParent);
    return SaveStr_(dir);
  }
  *pSlash = '\0';
  char* pReal = RealLocation(pParent);
  char* pOut = SaveStr("%s%s%s", pReal, strcmp(pReal, "/") == 0 ? "" : "/", pSlash + 1);
  PutMem(pReal);
  PutMem(pParent);
  return pOut;
}

// Writes the journal of a move (beside it first, then renamed: it is there whole or not at
// all). 1 when written.
int WriteJournal(const char* old, const char* dest) {
  char* pJournal = OptVendorEntry(kJournal);
  char* pTmp = SaveStr("%s.new", pJournal);
  FILE* f = CreateFreshFile(pTmp, 0600) ? OpenRegularFile(pTmp, 1) : nullptr;
  int flOk = f && fprintf(f, "%s\n%s\n", old, dest) > 0;
  if (f && fclose(f) != 0) flOk = 0;
  if (flOk) flOk = rename(pTmp, pJournal) == 0;
  if (!flOk) unlink(pTmp);
  PutMem(pTmp);
  PutMem(pJournal);
  return flOk;
}

void RemoveJournal() {
  char* pJournal = OptVendorEntry(kJournal);
  if (unlink(pJournal) != 0 && errno != ENOENT)
    PutLogMsg("WARNING_MSG: cannot remove %s: %s\n", pJournal, strerror(errno));
  PutMem(pJournal);
}

// A path of the journal as a move writes it: absolute, an application directory, nothing
// the shell or a ".." could read otherwise, not longer than a path may be.
int JournalPath(const char* path) {
  char* pTail = SaveStr("/%s/%s", kVendorWord, kProductCode);
  size_t n = strlen(path), nTail = strlen(pTail);
  int flOk = path[0] == '/' && n > nTail && n <= static_cast<size_t>(kMaxPathLen) &&
             strcmp(path + n - nTail, pTail) == 0 && ShellSafe(path, 0) && !PathClimbsOut(path);
  PutMem(pTail);
  return flOk;
}

// Reads the journal into *old and *dest (saved strings). 1 when it holds two such paths.
int ReadJournal(const char* journal, char** old, char** dest) {
  struct stat st;
  char szText[2 * (kMaxPathLen + 1) + 1];
  if (lstat(journal, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
      (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 || st.st_size >= static_cast<off_t>(sizeof szText) ||
      !GetFileContentR(journal, nullptr, szText, sizeof szText - 1))
    return 0;
  char* pEnd = strchr(szText, '\n');
  if (!pEnd) return 0;
  *pEnd = '\0';
  char* pDest = pEnd + 1;
  pEnd = strchr(pDest, '\n');
  if (!pEnd || pEnd[1] != '\0') return 0;
  *pEnd = '\0';
  if (!JournalPath(szText) || !JournalPath(pDest) || strcmp(szText, pDest) == 0) return 0;
  *old = SaveStr_(szText);
  *dest = SaveStr_(pDest);
  return 1;
}

// A relocation that could not be completed: the installation stays at old (exit 1). The
// vendor directory goes again when this run made it (and it is empty). The journal goes
// once /opt/Korvi/kvln leads to old again; else the next run puts it back from there.
[[noreturn]] void RelocationFailed(const char* old, const char* madeVendor, const char* why) {
  if (madeVendor) rmdir(madeVendor);
  if (SameDirectory(FixedAppDir(), old)) RemoveJournal();
  PutLogMsg("ERROR: the installation was not moved to %s: %s; it stays at %s\n", pAppDir, why,
            old);
  printf("ERROR: the installation was not moved to %s: %s; it stays at %s\n", pAppDir, why,
         old);
  fflush(stdout);
  exit(1);
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

  // The whole text, however long: a cut text would name another directory.
  char link[PATH_MAX];
  ssize_t n = readlink(pFixed, link, sizeof link);
  if (n >= static_cast<ssize_t>(sizeof link))
    ErrorMsg(2, 1, "%s: the link's text is longer than %d characters", pFixed, PATH_MAX - 1);
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
    StripToBaseName(pBase);
    RefuseLongBase(pBase, "the installation found through /opt/Korvi/kvln");
    return pBase;
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
  // a link. Nothing to move.
  char* pPrevVendor = SaveStr("%s/%s", prevBase, kVendorWord);
  char* pNewVendor = SaveStr("%s/%s", target, kVendorWord);
  int flSame = SameDirectory(prevBase, target) || SameDirectory(pPrevVendor, pNewVendor);
  PutMem(pPrevVendor);
  if (flSame) {
    PutMem(pNewVendor);
    return;
  }
  // The old tree is copied beside its new place and the copy checked; only then does the new
  // place take it and /opt/Korvi/kvln lead there. The old tree goes last. Until the switch,
  // any failure leaves the installation where it was, linked as it was.
  char* pOld = SaveStr("%s/%s/%s", prevBase, kVendorWord, kProductCode);
  char* pStaging = SaveStr("%s/%s", pNewVendor, kStaging);
  char* pMadeVendor = GetFileType(pNewVendor) == 0 ? pNewVendor : nullptr;
  CreateFile(pNewVendor, nullptr, "755", nullptr, nullptr);
  // From here a run stopped at any moment is finished or undone by the next one.
  char* pRealOld = RealParentLocation(pOld);
  char* pRealNew = RealParentLocation(pAppDir);
  int flJournal = WriteJournal(pRealOld, pRealNew);
  PutMem(pRealOld);
  PutMem(pRealNew);
  if (!flJournal)
    RelocationFailed(pOld, pMadeVendor, "its move could not be recorded in /opt/Korvi/.kvln.move");
  if (GetFileType(pStaging)) SysCmd(kCmdRmRf, kSysCmdLog, " %s", pStaging);  // an older attempt's
  int flCopied = SysCmd(kCmdMkdir, kSysCmdLog, "%s", pStaging) == 0 &&
                 SysCmd(kCmdCpR, kSysCmdLog, "%s/. %s", pOld, pStaging) == 0 &&
                 SameTree(pOld, pStaging);
  if (!flCopied) {
    SysCmd(kCmdRmRf, kSysCmdLog, " %s", pStaging);
    RelocationFailed(pOld, pMadeVendor, "it could not be copied there");
  }

  const char* pFixed = FixedAppDir();
  char* pOptVendor = SaveStr("%s/%s", kDefaultBase, kVendorWord);
  int flToOpt = strcmp(pFixed, pAppDir) == 0 || SameDirectory(pNewVendor, pOptVendor);
  PutMem(pOptVendor);
  char* pRetired = nullptr;  // the old tree when it stood at /opt/Korvi/kvln itself
  if (flToOpt) {
    // Back to /opt (under any spelling): the link that stands there gives way to the
    // directory.
    SysCmd(kCmdRm, kSysCmdLog, "%s", pFixed);
    if (!RenameLogged(pStaging, pAppDir)) {
      RelinkFixedPoint(pOld);
      SysCmd(kCmdRmRf, kSysCmdLog, " %s", pStaging);
      RelocationFailed(pOld, pMadeVendor, "the copy could not take its place");
    }
  } else {
    if (GetFileType(pAppDir)) SysCmd(kCmdRmRf, kSysCmdLog, " %s", pAppDir);  // in the way
    if (!RenameLogged(pStaging, pAppDir)) {
      SysCmd(kCmdRmRf, kSysCmdLog, " %s", pStaging);
      RelocationFailed(pOld, pMadeVendor, "the copy could not take its place");
    }
    if (GetFileType(pFixed) == 1) {
      pRetired = SaveStr("%s/%s/%s", kDefaultBase, kVendorWord, kRetired);
      if (GetFileType(pRetired)) SysCmd(kCmdRmRf, kSysCmdLog, " %s", pRetired);
      if (!RenameLogged(pFixed, pRetired)) {
        SysCmd(kCmdRmRf, kSysCmdLog, " %s", pAppDir);
        RelocationFailed(pOld, pMadeVendor, "/opt/Korvi/kvln could not be freed for the link");
      }
    }
    if (!RelinkFixedPoint(pAppDir)) {
      if (pRetired) RenameLogged(pRetired, pFixed);
      SysCmd(kCmdRmRf, kSysCmdLog, " %s", pAppDir);
      RelocationFailed(pOld, pMadeVendor, "/opt/Korvi/kvln could not be pointed at the new place");
    }
  }
  SysCmd(kCmdRmRf, kSysCmdLog, " %s", pRetired ? pRetired : pOld);
  RemoveJournal();
  PutMem(pNewVendor);
  PutMem(pRetired);
  PutMem(pStaging);
  PutMem(pOld);
}

void FinishInterruptedMove() {
  char* pJournal = OptVendorEntry(kJournal);
  char* pHalfWritten = SaveStr("%s.new", pJournal);
  if (GetFileType(pHalfWritten) == 3) unlink(pHalfWritten);
  PutMem(pHalfWritten);
  if (!GetFileType(pJournal)) {
    PutMem(pJournal);
    return;
  }
  char* pOld = nullptr;
  char* pNew = nullptr;
  if (!ReadJournal(pJournal, &pOld, &pNew)) {
    PutLogMsg("WARNING_MSG: %s is not the record of a move; it is removed\n", pJournal);
    ErrorMsg(1, 0, "%s is not the record of a move; it is removed", pJournal);
    SysCmd(kCmdRmRf, kSysCmdLog, " %s", pJournal);
    PutMem(pJournal);
    return;
  }
  const char* pFixed = FixedAppDir();
  char* pFix = RealParentLocation(pFixed);
  int flToOpt = strcmp(pNew, pFix) == 0;
  int flFromOpt = strcmp(pOld, pFix) == 0;
  char* pRetired = OptVendorEntry(kRetired);
  char* pLink = OptVendorEntry(kNewLink);
  char* pStaging = SaveStr("%.*s/%s", static_cast<int>(strrchr(pNew, '/') - pNew), pNew,
                           kStaging);
  int type = GetFileType(pFixed);
  // The switch is the one step that decides: /opt/Korvi/kvln is the new directory itself, or
  // a link that leads to it.
  int flSwitched = flToOpt ? type == 1 : type == 2 && SameDirectory(pFixed, pNew);
  const char* pVerdict;
  if (flSwitched) {
    // The installation is at its new place: what the stopped run had still to remove goes.
    const char* pGone = flFromOpt ? pRetired : pOld;
    if (GetFileType(pGone)) SysCmd(kCmdRmRf, kSysCmdLog, " %s", pGone);
    pVerdict = "the move is completed";
  } else {
    // /opt/Korvi/kvln leads to the old tree again; the copy, whole or not, goes.
    if (flFromOpt) {
      if (type == 0 && GetFileType(pRetired) == 1) RenameLogged(pRetired, pFixed);
    } else if (type != 1 && !SameDirectory(pFixed, pOld) && GetFileType(pOld) == 1) {
      RelinkFixedPoint(pOld);
    }
    if (GetFileType(pStaging)) SysCmd(kCmdRmRf, kSysCmdLog, " %s", pStaging);
    if (!flToOpt && GetFileType(pNew) == 1 && SameTree(pFixed, pNew))
      SysCmd(kCmdRmRf, kSysCmdLog, " %s", pNew);
    pVerdict = "the installation stays where it was";
  }
  if (GetFileType(pLink)) SysCmd(kCmdRm, kSysCmdLog, "%s", pLink);
  struct stat st;
  if (stat(pFixed, &st) != 0 || !S_ISDIR(st.st_mode)) {
    // Kept: the next run tries again from the journal.
    PutLogMsg("ERROR: an earlier setup was stopped while it moved the installation from %s to "
              "%s, and %s could not be made to lead to it again\n", pOld, pNew, pFixed);
    ErrorMsg(2, 1, "an earlier setup was stopped while it moved the installation from %s to %s, "
                   "and %s could not be made to lead to it again", pOld, pNew, pFixed);
  }
  PutLogMsg("WARNING_MSG: an earlier setup was stopped while it moved the installation from %s "
            "to %s; %s\n", pOld, pNew, pVerdict);
  ErrorMsg(1, 0, "an earlier setup was stopped while it moved the installation from %s to %s; "
                 "%s", pOld, pNew, pVerdict);
  RemoveJournal();
  PutMem(pStaging);
  PutMem(pLink);
  PutMem(pRetired);
  PutMem(pFix);
  PutMem(pOld);
  PutMem(pNew);
  PutMem(pJournal);
}

void RefuseNestedPlaces() {
  char* pWork = RealLocation(pKorviInstallDir);
  char* pNew = RealLocation(pAppDir);
  char* pOld = nullptr;
  if (pCurrentInstallDir) pOld = RealLocation(FixedAppDir());
  const char* pWhy = nullptr;
  if (pOld && strcmp(pOld, pNew) != 0 && (Inside(pOld, pNew) || Inside(pNew, pOld)))
    pWhy = "the new application directory and the installation found through /opt/Korvi/kvln "
           "lie inside one another; name another install directory: "
           "'setup install /new_install_path'";
  else if (Inside(pWork, pNew) || Inside(pNew, pWork) ||
           (pOld && (Inside(pWork, pOld) || Inside(pOld, pWork))))
    pWhy = "the work directory and the application directory lie inside one another; name "
           "another work area: 'setup /new_work_area_path'";
  if (!pWhy) {
    PutMem(pWork);
    PutMem(pNew);
    PutMem(pOld);
    return;
  }
  // The work area this run made is taken away again; nothing else was changed.
  if (flCreatedTmpDir) {
    char* pArea = SaveStr_(pKorviInstallDir);
    if (char* pSlash = strrchr(pArea, '/')) *pSlash = '\0';
    if (pArea[0]) rmdir(pArea);
    PutMem(pArea);
  }
  PutLogMsg("ERROR: %s (%s, %s%s%s)\n", pWhy, pKorviInstallDir, pAppDir, pOld ? ", " : "",
            pOld ? pOld : "");
  ErrorMsg(2, 1, "%s (%s, %s%s%s)", pWhy, pKorviInstallDir, pAppDir, pOld ? ", " : "",
           pOld ? pOld : "");
}

namespace {

// What createInstallationDirectories made: the first directory of the application directory's
// path that did not exist, /opt/Korvi when it did not exist, and the link.
struct MadePlaces {
  char* pTop;
  int flOptVendor;
  int flLink;
};
MadePlaces Made = {nullptr, 0, 0};

// The first directory of path that does not exist yet (a saved string), or null.
char* FirstMissing(const char* path) {
  int flExists = 0;
  char* pFound = FindExistingPath(path, &flExists);
  char* pTop = nullptr;
  if (pFound && !flExists) {
    size_t n = strlen(pFound);
    const char* pRest = path + n;
    while (*pRest == '/') pRest++;
    size_t len = strcspn(pRest, "/");
    pTop = SaveStr("%s%s%.*s", pFound, strcmp(pFound, "/") == 0 ? "" : "/",
                   static_cast<int>(len), pRest);
  }
  PutMem(pFound);
  return pTop;
}

}  // namespace

void createInstallationDirectories(const char* target) {
  if (strcmp(target, kDefaultBase) == 0) {
    Made.pTop = FirstMissing(FixedAppDir());
    CreateFile(FixedAppDir(), nullptr, "755", nullptr, nullptr);
    return;
  }
  char* pApp = SaveStr("%s/%s/%s", target, kVendorWord, kProductCode);
  Made.pTop = FirstMissing(pApp);
  CreateFile(pApp, nullptr, "775", nullptr, nullptr);
  // "/opt/" or a link to /opt names the fixed point itself: no link onto itself.
  if (!SameDirectory(pApp, FixedAppDir())) {
    char* pOptVendor = SaveStr("%s/%s", kDefaultBase, kVendorWord);
    if (GetFileType(pOptVendor) == 0) {
      CreateFile(pOptVendor, nullptr, "775", nullptr, nullptr);
      Made.flOptVendor = 1;
    }
    PutMem(pOptVendor);
    SysCmd(kCmdLn, kSysCmdFatal, "-s %s/%s/%s %s/%s/%s", target, kVendorWord, kProductCode,
           kDefaultBase, kVendorWord, kProductCode);
    Made.flLink = 1;
  }
  PutMem(pApp);
}

void RemoveCreatedInstallationDirectories() {
  if (Made.flLink) SysCmd(kCmdRm, kSysCmdLog, "%s", FixedAppDir());
  if (Made.pTop) SysCmd(kCmdRmRf, kSysCmdLog, " %s", Made.pTop);
  if (Made.flOptVendor) SysCmd(kCmdRmRf, kSysCmdLog, " %s/%s", kDefaultBase, kVendorWord);
  PutMem(Made.pTop);
  Made = MadePlaces{nullptr, 0, 0};
}
