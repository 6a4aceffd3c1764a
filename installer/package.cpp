// package.cpp - the package steps of an installation, in the order Install runs them:
// root check and the older-daemon question, the archive joined from its pieces,
// uncompressed and untarred in the work directory, then either pkgadd and the package
// list (new installation) or the installed package upgraded file by file with installf
// (previous installation), and the flag file and queue scripts in both cases. A new
// installation keeps a mark in the application directory until its package list has run,
// so that a run stopped part-way is finished by the next one, not taken for an upgrade.
// Failing fatal commands end the program with status 1 (SysCmd mode 2). A package map
// whose entries are not safe for the shell is refused before the upgrade changes anything.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "installer/install.h"
#include "installer/setup.h"
#include "syscmd/SysCmd.h"

namespace {

constexpr char kInstallfPath[] = "/usr/sbin/installf";
constexpr char kEndOfList[] = "end_of_list";
constexpr char kOldDaemon[] = "KavlonD";
constexpr char kOldDaemonStop[] = "KavlonDStop";
constexpr char kRcDir[] = "/etc/rc2.d";
constexpr int kAnswerSize = 511;  // LineBuf holds the answer: at most 510 characters

// The mark of a first installation under way, in the application directory. Made empty
// before pkgadd; holds kAddedWord once pkgadd has succeeded; removed when the package list
// has run. Whatever else it holds (a write cut by a kill) counts as empty.
constexpr char kUnfinishedMark[] = ".kvln_unfinished";
constexpr char kAddedWord[] = "added\n";

enum Stage { kNotMarked, kToAdd, kAdded };

// The stage a stopped first installation reached, read from its mark.
Stage UnfinishedStage() {
  if (!FindFile(pAppDir, kUnfinishedMark)) return kNotMarked;
  char szText[sizeof kAddedWord + 1];
  if (!GetFileContentR(pAppDir, kUnfinishedMark, szText, sizeof szText - 1)) return kToAdd;
  return strcmp(szText, kAddedWord) == 0 ? kAdded : kToAdd;
}

// Sets the mark to stage (kNotMarked removes it). A mark that cannot be made before pkgadd
// ends the run (1): without it a run stopped later would be taken for a finished
// installation. One that cannot be raised afterwards only costs the next run a pkgadd.
void MarkUnfinished(Stage stage) {
  char* pMark = SaveStr("%s/%s", pAppDir, kUnfinishedMark);
  if (stage == kToAdd && !CreateFreshFile(pMark, 0644)) {
    RemoveCreatedInstallationDirectories();
    PutLogMsg("ERROR: cannot make %s; the installation of %s was not made\n", pMark,
              pKorviPkgName);
    ErrorMsg(2, 1, "cannot make %s; the installation of %s was not made", pMark,
             pKorviPkgName);
  }
  if (stage == kAdded) {
    FILE* f = OpenRegularFile(pMark, 1);
    int flOk = f && fputs(kAddedWord, f) >= 0;
    if (f && fclose(f) != 0) flOk = 0;
    if (!flOk) PutLogMsg("WARNING_MSG: cannot write %s\n", pMark);
  }
  if (stage == kNotMarked && unlink(pMark) != 0)
    PutLogMsg("WARNING_MSG: cannot remove %s: %s\n", pMark, strerror(errno));
  PutMem(pMark);
}

void ChangeDir(const char* dir) {
  if (chdir(dir) != 0) SysError("can't change directory to %s", dir);
}

// A path of the package map is refused when the shell could read it as more than a path,
// or when it climbs out of its tree with "..". Ends the program (1) before anything of
// the upgrade is changed.
void CheckMapWord(const char* mapPath, int lineNo, const char* word, int flPath) {
  const char* pWhy = nullptr;
  if (!ShellSafe(word, 0)) pWhy = "holds characters that are not safe in a shell command";
  else if (flPath && PathClimbsOut(word)) pWhy = "climbs out of its directory with \"..\"";
  if (!pWhy) return;
  PutLogMsg("ERROR: %s line %d: \"%s\" %s\n", mapPath, lineNo, word, pWhy);
  ErrorMsg(2, 1, "%s line %d: \"%s\" %s", mapPath, lineNo, word, pWhy);
}

// Runs a command line through the shell as it is (the registrations and copies of the
// upgrade are not table commands). 1 when it ran and exited with status 0.
int RunShell(char* cmd) {
  int status = system(cmd);
  if (status == -1) PutLogMsg("WARNING_MSG: %s: %s\n", cmd, strerror(errno));
  PutMem(cmd);
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A list read into LineBuf is acted on word by word: a list longer than LineBuf holds, or a
// word longer than the tokenizer's buffer, would be acted on cut; a word that climbs out of
// the distribution with ".." would copy a file from elsewhere into the work directory. Such
// a list is refused (exit 1) before anything of it is used.
void RefuseCutList(const char* dir, const char* name) {
  char* pPath = SaveStr("%s/%s", dir, name);
  if (GetFileSize(pPath) > kLineBufSize - 1)
    ErrorMsg(2, 1, "%s is longer than %d bytes; the list is refused", pPath, kLineBufSize - 1);
  for (const char* p = LineBuf + strspn(LineBuf, " \t\r\n"); *p; p += strspn(p, " \t\r\n")) {
    size_t n = strcspn(p, " \t\r\n");
    if (n == strlen(kEndOfList) && strncmp(p, kEndOfList, n) == 0) break;
    if (n >= static_cast<size_t>(kTokenBufSize))
      ErrorMsg(2, 1, "%s: the name \"%.40s...\" is longer than %d characters; the list is "
               "refused", pPath, p, kTokenBufSize - 1);
    char szWord[kTokenBufSize];
    memcpy(szWord, p, n);
    szWord[n] = 0;
    if (PathClimbsOut(szWord))
      ErrorMsg(2, 1, "%s: the name \"%s\" climbs out of the distribution directory with "
               "\"..\"; the list is refused", pPath, szWord);
    p += n;
  }
  PutMem(pPath);
}

}  // namespace

int SplitMapLine(char* buf, char** words) {
  memcpy(buf, LineBuf, kLineBufSize);
  buf[kLineBufSize - 1] = 0;
  char* array[kMapWords + 1];
  int n = ParseStr(buf, " \r\n", array, kMapWords + 1);
  for (int i = 0; i < kMapWords; i++) words[i] = array[i];
  return n >= kMapWords;
}

int GetWholeFileLine(int* lines) {
  *lines = 0;
  if (!GetFileLine()) return 0;
  for (const char* p = LineBuf; (p = strchr(p, '\n')) != nullptr; p++) ++*lines;
  if (!pIn) return 1;
  size_t n = strlen(LineBuf);
  int ch = 0;
  if (n >= 2 && LineBuf[n - 2] == '\\' && LineBuf[n - 1] == '\n') {
    // Still continued: only a reader that ran out of room stops there.
    if (n < static_cast<size_t>(kLineBufSize - 2)) return 1;
  } else if (n && LineBuf[n - 1] == '\n') {
    return 1;
  } else {
    ch = getc(pIn);
    if (ch == EOF) return 1;
    if (ch == '\n') {  // the line filled the reader exactly: only its end was left
      ++*lines;
      return 1;
    }
  }
  // Cut: the rest of the physical line, and of the lines a backslash joins to it, goes.
  for (int prev = ch; (ch = getc(pIn)) != EOF; prev = ch) {
    if (ch == '\n') {
      ++*lines;
      if (prev != '\\') break;
    }
  }
  if (ch == EOF) ++*lines;
  return -1;
}

int PathClimbsOut(const char* path) {
  if (!path) return 0;
  for (const char* p = path; *p;) {
    const char* pEnd = strchr(p, '/');
    size_t len = pEnd ? static_cast<size_t>(pEnd - p) : strlen(p);
    if (len == 2 && p[0] == '.' && p[1] == '.') return 1;
    if (!pEnd) break;
    p = pEnd + 1;
  }
  return 0;
}

void GetDisksData(const char* dir) {
  if (GetFileContent(dir, "disks")) {
    RefuseCutList(dir, "disks");
    return;
  }
  if (!GetFileContent(dir, "DISKS")) ErrorMsg(2, 1, nlsSetupStrCvt(kMsgCantOpenDisks), kVendorWord);
  RefuseCutList(dir, "DISKS");
  // Media written in upper case: the names are upper case, the terminator is not.
  char* pEnd = strstr(LineBuf, kEndOfList);
  for (char* p = LineBuf; *p && p != pEnd; p++) {
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
  }
}

bool readyForInstallation() {
  char* pUser = GetUserName();
  if (!pUser || strcmp(pUser, "root") != 0) {
    printf(nlsSetupStrCvt(kMsgNotRoot), pUser ? pUser : "", my_name);
    fflush(stdout);
    return false;
  }
  pKorviPkgName = SaveStr_(kPackageName);
  if (!FindFile(pAppDir, kOldDaemon) && !FindFile(pAppDir, kOldDaemonStop)) return true;

  // An older product with the print daemon KavlonD is installed here.
  printf(nlsSetupStrCvt(kMsgOldDaemon), kVendorWord, kVendorWord, kVendorWord, kProductCode);
  for (;;) {
    fputs(nlsSetupStrCvt(kMsgContinueYn), stdout);
    fflush(stdout);
    if (!Gets(LineBuf, kAnswerSize)) {
      // End of input: nobody can answer, so nothing is installed (as "no").
      fputs("\n", stdout);
      fflush(stdout);
      exit(0);
    }
    char* pWord = GetToken(LineBuf, " \t\r\n");
    switch (pWord && !strchr(pWord, ',') ? FindToken(pWord, ",y,yes,n,no,") : 0) {
      case 1:  // y
      case 2:  // yes
        return true;
      case 3:  // n: the older daemon must not start again; go on without it
        DeleteFile(kRcDir, "KKorviPrintD");
        DeleteFile(kRcDir, "SKorviPrintD");
        return true;
      case 4:  // no
        exit(0);
      default:
        break;
    }
  }
}

void genZFile() {
  ChangeDir(pKorviInstallDir);
  GetDisksData(pKorviInstallDir);
  char* pList = SaveStr_(LineBuf);

  // The pieces reach the shell: all of them are checked before the first is appended.
  for (int flRun = 0; flRun < 2; flRun++) {
    const char* pCursor = pList;
    char szWord[kTokenBufSize];
    for (char* pWord = GetTokenD(pList, " \n\r", &pCursor, szWord);
         pWord && strcmp(pWord, kEndOfList) != 0;
         pWord = GetTokenD(nullptr, " \n\r", &pCursor, szWord)) {
      if (strncmp(pWord, "pkg_tar.", 8) != 0 && strncmp(pWord, "PKG_TAR.", 8) != 0) continue;
      if (!FindFile(pKorviInstallDir, pWord)) continue;
      if (!flRun) {
        if (!ShellSafe(pWord, 0))
          ErrorMsg(2, 1, "archive piece \"%s\" holds characters that are not safe in a shell "
                   "command", pWord);
        continue;
      }
      SysCmd(-kCmdCat, kSysCmdFatal, "%s/%s >> %s/%s.tar.Z", pKorviInstallDir, pWord,
             pKorviInstallDir, kArchiveName);
    }
  }
  PutMem(pList);
}

int upgradeSolarisPackage(const char* pkg, const char* workDir) {
  char* pMap = SaveStr("%s/%s/pkgmap", workDir, pkg);
  char szBuf[kLineBufSize];
  char* words[kMapWords];

  // Every entry that will reach the shell is checked before anything is changed.
  OpenInputFile(pMap, 2);
  for (int lineNo = 1, lines = 0, got; (got = GetWholeFileLine(&lines)) != 0; lineNo += lines) {
    if (got < 0) {
      PutLogMsg("ERROR: %s line %d: longer than a line may be\n", pMap, lineNo);
      ErrorMsg(2, 1, "%s line %d: longer than a line may be", pMap, lineNo);
    }
    if (!SplitMapLine(szBuf, words) || strcmp(words[kMapType], "f") != 0) continue;
    CheckMapWord(pMap, lineNo, words[kMapClass], 0);
    CheckMapWord(pMap, lineNo, words[kMapPath], 1);
    CheckMapWord(pMap, lineNo, words[kMapMode], 0);
    CheckMapWord(pMap, lineNo, words[kMapOwner], 0);
    CheckMapWord(pMap, lineNo, words[kMapGroup], 0);
  }
  CloseInputFile();

  if (!FindFile(pAppDir, "lib")) {
    char* pLib = SaveStr("%s/lib", pAppDir);
    CreateFile(pLib, nullptr, "755", nullptr, nullptr);
    PutMem(pLib);
    static const char* const kGtkDirs[] = {
        "%s/lib/gtk",
        "%s/lib/gtk/modules",
        "%s/lib/gtk/modules/2.2.0",
        "%s/lib/gtk/modules/2.2.0/engines",
        "%s/lib/gtk/modules/2.2.0/immodules",
        "%s/lib/gtk/modules/2.2.0/loaders",
        "%s/lib/gtk/modules/etc",
        "%s/lib/gtk/modules/etc/gtk-2.0",
        "%s/lib/gtk/modules/etc/pango",
        "%s/lib/gtk/modules/include",
        "%s/lib/gtk/modules/modules",
        "%s/lib/gtk/modules/pango",
        "%s/lib/gtk/modules/pango/1.2.0",
        "%s/lib/gtk/modules/pango/1.2.0/modules",
    };
    for (const char* pFmt : kGtkDirs) {
      char* pDir = SaveStr(pFmt, pAppDir);
      SysCmd(kCmdMkdir, kSysCmdFatal, "%s", pDir);
      PutMem(pDir);
    }
  }

  int nFailed = 0;  // files that could not be copied
  OpenInputFile(pMap, 2);
  while (GetFileLine()) {
    if (!SplitMapLine(szBuf, words) || strcmp(words[kMapType], "f") != 0) continue;
    const char* pPath = words[kMapPath];
    char* pReg;
    char* pCopy;
    if (pPath[0] == '/') {
      pReg = SaveStr("%s -c %s %s \"%s\" %s %s %s %s 1>/dev/null 2>/dev/null", kInstallfPath,
                     words[kMapClass], pkg, pPath, words[kMapType], words[kMapMode],
                     words[kMapOwner], words[kMapGroup]);
      pCopy = SaveStr("cp %s/%s/root%s %s", workDir, pkg, pPath, pPath);
    } else {
      pReg = SaveStr("%s -c %s %s \"%s/%s/%s\" %s %s %s %s 1>/dev/null 2>/dev/null",
                     kInstallfPath, words[kMapClass], pkg, pTargetInstallDir, kVendorWord,
                     pPath, words[kMapType], words[kMapMode], words[kMapOwner],
                     words[kMapGroup]);
      pCopy = SaveStr("cp \"%s/%s/reloc/%s\" \"%s/%s/%s\"", workDir, pkg, pPath,
                      pTargetInstallDir, kVendorWord, pPath);
    }
    RunShell(pReg);  // a registration that fails leaves the file upgraded: it goes on
    if (!RunShell(pCopy)) nFailed++;
    fputs(".", stdout);
    fflush(stdout);
  }
  CloseInputFile();
  PutMem(pMap);

  RunShell(SaveStr("%s -f %s 1>/dev/null 2>/dev/null", kInstallfPath, pkg));
  if (nFailed) {
    // The package must not claim a version its files do not all have.
    fputs("\n", stdout);
    fflush(stdout);
    PutLogMsg("ERROR: %s was not upgraded whole: %d of its files could not be copied; its "
              "version stays as it was\n", pkg, nFailed);
    fprintf(stderr, "ERROR: %s was not upgraded whole: %d of its files could not be copied; "
            "its version stays as it was\n", pkg, nFailed);
    flInstallFailed = 1;
    return 0;
  }

  // The package records now report this installer's version.
  SysCmd(kCmdRm, kSysCmdLog, "/var/sadm/pkg/%s/pkginfo.tmp", pkg);
  char* pSed = SaveStr("sed -e\"s/VERSION=[0-9.].*/VERSION=%s/\" /var/sadm/pkg/%s/pkginfo >> "
                       "/var/sadm/pkg/%s/pkginfo.tmp", kSetupVersion, pkg, pkg);
  int status = system(pSed);
  PutMem(pSed);
  fputs(".", stdout);
  fflush(stdout);
  if (status == 0) {
    SysCmd(kCmdMv, kSysCmdLog, "/var/sadm/pkg/%s/pkginfo.tmp /var/sadm/pkg/%s/pkginfo", pkg,
           pkg);
  } else {
    // An unreadable pkginfo is kept as it is rather than replaced by an empty copy.
    PutLogMsg("WARNING_MSG: /var/sadm/pkg/%s/pkginfo: version not updated\n", pkg);
    SysCmd(kCmdRm, kSysCmdQuiet, "/var/sadm/pkg/%s/pkginfo.tmp", pkg);
  }
  return 1;
}

int Install() {
  if (!readyForInstallation()) return 0;
  const char* pWork = pKorviInstallDir;

  genZFile();
  SysCmd(kCmdUncompress, kSysCmdFatal, "%s/%s.tar.Z", pWork, kArchiveName);
  ChangeDir(pWork);
  SysCmd(kCmdTarX, kSysCmdFatal, "%s/%s.tar", pWork, kArchiveName);
  char* pTar = SaveStr("%s.tar", kArchiveName);
  DeleteFile(pWork, pTar);
  PutMem(pTar);
  // Nothing of the tree is read or copied before it is known to be root's alone and free of
  // links that lead elsewhere.
  CheckUnpackedTree(pWork, pKorviPkgName);

  char* pSpool = SaveStr("/var/spool/%s", kVendorWord);
  // A tree without the package's record was never installed (a first installation that
  // failed): it gets a new installation, not an upgrade.
  char* pRecord = SaveStr("/var/sadm/pkg/%s/pkginfo", pKorviPkgName);
  int flRecorded = FindFile_(pRecord, nullptr);
  PutMem(pRecord);
  // A first installation stopped before its package list had run (killed, or the user quit
  // at a process check) left its mark: it is finished, from pkgadd on unless that had
  // succeeded, instead of being taken for a previous installation.
  Stage stage = pCurrentInstallDir ? UnfinishedStage() : kNotMarked;
  if (pCurrentInstallDir && flRecorded && stage == kNotMarked) {
    upgradeSolarisPackage(pKorviPkgName, pWork);
    createPrintingSubsystemFile(pAppDir);
    createQueueScripts(pSpool);
  } else {
    CheckPkgList(".");  // a list that would be refused stops the run before pkgadd
    createInstallationDirectories(pTargetInstallDir);
    int flAdded = flRecorded && stage == kAdded;
    if (!flAdded) MarkUnfinished(kToAdd);
    int flFlag = createPrintingSubsystemFile(pAppDir);
    ChangeDir(pWork);
    if (!flFlag ||
        (!flAdded && SysCmd(-kCmdPkgadd, kSysCmdLog, "-d %s %s", pWork, pKorviPkgName) != 0)) {
      // Nothing of a failed installation may look like a previous one to the next run.
      RemoveCreatedInstallationDirectories();
      const char* pWhy = flFlag ? "pkgadd failed" : "the flag file could not be written";
      PutLogMsg("ERROR: %s; the installation of %s was not made\n", pWhy, pKorviPkgName);
      printf("ERROR: %s; the installation of %s was not made\n", pWhy, pKorviPkgName);
      fflush(stdout);
      exit(1);
    }
    if (!flAdded) MarkUnfinished(kAdded);
    createQueueScripts(pSpool);
    CreateFile(pSpool, nullptr, "775", nullptr, nullptr);
    char* pDownload = SaveStr("%s/%s/__%spa_download__", pSpool, kProductCode, kProductPrefix);
    CreateFile(pDownload, nullptr, "777", nullptr, nullptr);
    PutMem(pDownload);
    PutMem(pSpool);
    pSpool = nullptr;
    if (ProcessPkgList(".") == 1) return 1;  // the user quit at a process check
    MarkUnfinished(kNotMarked);
  }
  PutMem(pSpool);
  SysCmd(kCmdChmod, kSysCmdQuiet, "755 %s/%s", pTargetInstallDir, kVendorWord);
  return 0;
}
