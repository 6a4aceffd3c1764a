// pkglist.cpp - the package list "pkg.list" that finishes a new installation.
// Each line: keyword, argument A, then attribute pairs (key, value); "v <op> <release>"
// makes the rest of the line a new line when the system's release compares true (as byte
// strings). Words are separated by blanks and line ends (not tabs); a backslash at the end
// of a line continues it. The list is read whole and every name that will reach the shell
// is checked first, so an unsafe list is refused (exit 1) before any of its lines runs.
// A line lacking the argument its keyword needs is logged as a warning and skipped.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "installer/install.h"
#include "installer/setup.h"
#include "syscmd/SysCmd.h"

namespace {

constexpr char kKeywords[] = ",dir,dirto,t,c,m,#,v,s,newdir,checkps";
enum : int { kKwOther, kKwDir, kKwDirto, kKwTouch, kKwCopy, kKwIfThere, kKwComment,
             kKwVersion, kKwIfThereS, kKwNewdir, kKwCheckps };
constexpr char kAttributes[] = ",mode,bat,owner,group,link,name,sed";
enum : int { kAtOther, kAtMode, kAtBat, kAtOwner, kAtGroup, kAtLink, kAtName, kAtSed };
constexpr char kOperators[] = ",<,<=,=,>,>=,";
enum : int { kOpNone, kOpLess, kOpLessEq, kOpEq, kOpGreater, kOpGreaterEq };
constexpr char kWordDelims[] = " \n\r";

// What a checked word is used as: a word, a path, a launcher name of /usr/bin, or a place
// outside the application directory (a link or a copy's destination), which must be
// absolute: a relative one would be taken from the run's working directory, the work
// directory that goes at the end of the run.
enum CheckKind { kCheckWord, kCheckPath, kCheckBat, kCheckPlace };

// The state of one run over the list.
struct PkgListRun {
  const char* pDirWord;  // directory word of the archive inside the work directory
  int flCheck;           // 1: only check what would reach the shell; 0: act
  int lineNo;            // 1-based number of the logical line
};

// The words of one line, split in place: a blank, "\n" or "\r" ends a word.
struct WordScan {
  char* p;
};

char* NextWord(WordScan* s) {
  while (*s->p && strchr(kWordDelims, *s->p)) s->p++;
  if (!*s->p) return nullptr;
  char* pWord = s->p;
  while (*s->p && !strchr(kWordDelims, *s->p)) s->p++;
  if (*s->p) *s->p++ = 0;
  return pWord;
}

// The rest of the line (leading blanks skipped, the line end cut off); null when empty.
char* RestOfLine(WordScan* s) {
  while (*s->p == ' ') s->p++;
  char* pRest = s->p;
  size_t len = strlen(pRest);
  while (len && (pRest[len - 1] == '\n' || pRest[len - 1] == '\r')) pRest[--len] = 0;
  s->p += len;
  return *pRest ? pRest : nullptr;
}

// Position of word in a comma-framed list; a word holding the frame character is no word
// of the list.
int FindWord(const char* word, const char* list) {
  return strchr(word, ',') ? 0 : FindToken(word, list);
}

// A backslash that continues a line becomes a word separator.
void JoinContinuations(char* line) {
  for (char* p = line; (p = strchr(p, '\\')) != nullptr;) {
    if (p[1] == '\n') {
      p[0] = p[1] = ' ';
    } else if (p[1] == '\r' && p[2] == '\n') {
      p[0] = p[1] = p[2] = ' ';
    } else {
      p++;
    }
  }
}

[[noreturn]] void RefuseWord(const PkgListRun* run, const char* word, const char* why) {
  PutLogMsg("ERROR: pkg.list line %d: \"%s\" %s\n", run->lineNo, word, why);
  ErrorMsg(2, 1, "pkg.list line %d: \"%s\" %s", run->lineNo, word, why);
  exit(1);  // not reached: ErrorMsg type 2 ends the program
}

void CheckWord(const PkgListRun* run, const char* word, CheckKind kind) {
  if (!run->flCheck) return;
  if (!ShellSafe(word, 0)) RefuseWord(run, word, "holds characters that are not safe in a shell command");
  if ((kind == kCheckPath || kind == kCheckPlace) && PathClimbsOut(word))
    RefuseWord(run, word, "climbs out of its directory with \"..\"");
  if (kind == kCheckPlace && word[0] != '/') RefuseWord(run, word, "is not an absolute path");
  if (kind == kCheckBat && (strchr(word, '/') || !strcmp(word, ".") || !strcmp(word, "..")))
    RefuseWord(run, word, "is not a file name of /usr/bin");
}

// The first link in the tree at path (path itself included), a saved string of its name
// below base; null when there is none.
char* FindLinkInTree(const char* path, size_t baseLen) {
  int type = GetFileType(path);
  if (type == 2) return SaveStr_(path + baseLen);
  if (type != 1) return nullptr;
  DIR* d = opendir(path);
  if (!d) return nullptr;
  char* pFound = nullptr;
  while (struct dirent* e = readdir(d)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    char* pSub = SaveStr("%s/%s", path, e->d_name);
    pFound = FindLinkInTree(pSub, baseLen);
    PutMem(pSub);
    if (pFound) break;
  }
  closedir(d);
  return pFound;
}

// A member the list copies from the archive (with its whole tree for a directory) holds no
// link: copied and then given a mode or owner, a link would hand over the file it names.
void CheckCopiedMember(const PkgListRun* run, const char* word) {
  if (!run->flCheck) return;
  char* pBase = SaveStr("%s/%s/", pKorviInstallDir, run->pDirWord);
  char* pMember = SaveStr("%s%s", pBase, word);
  char* pLink = FindLinkInTree(pMember, strlen(pBase));
  if (pLink) RefuseWord(run, pLink, "is a link in the archive; the list copies only files");
  PutMem(pMember);
  PutMem(pBase);
}

void WarnMissing(const PkgListRun* run, const char* keyword, const char* what) {
  if (run->flCheck) return;
  PutLogMsg("WARNING_MSG: pkg.list line %d: \"%s\" without %s, line skipped\n", run->lineNo,
            keyword, what);
}

// The release name of the running system, as "uname -r" reports it (for example 5.10), in
// a static buffer, read once; null when it cannot be read.
const char* GetReleaseName() {
  static char szRelease[64];
  if (szRelease[0]) return szRelease;
  if (!TestCmd(kCmdUname)) {
    errno = ENOENT;
    return nullptr;
  }
  CmdResponse* pList = GetCmdResponse(kCmdUname, "", "-r");
  if (!pList) {
    errno = ENODATA;  // uname printed no release
    return nullptr;
  }
  snprintf(szRelease, sizeof szRelease, "%s", pList->pText);
  FreeResponseList(pList);
  szRelease[strcspn(szRelease, "\r\n")] = 0;
  if (!szRelease[0]) {
    errno = ENODATA;
    return nullptr;
  }
  return szRelease;
}

bool VersionHolds(const char* release, const char* op, const char* version) {
  int cmp = strcmp(release, version);
  switch (FindWord(op, kOperators)) {
    case kOpLess: return cmp < 0;
    case kOpLessEq: return cmp <= 0;
    case kOpEq: return cmp == 0;
    case kOpGreater: return cmp > 0;
    case kOpGreaterEq: return cmp >= 0;
    default: return false;
  }
}

// sed with the package author's arguments over <AD>/<name>: the edited text goes through
// /tmp/<my_name>.tmp (made fresh, so no link planted there is followed, and given the
// file's mode, which the copy back keeps) and is copied back over the file. The copy also
// gives the file the temporary file's owners, so the file's own are put back afterwards
// (not given to the temporary file, whose owner could swap it for a link before the copy).
void EditFile(const char* name, const char* sedArgs) {
  char* pTarget = SaveStr("%s/%s", pAppDir, name);
  char* pTmp = SaveStr("/tmp/%s.tmp", my_name);
  struct stat st;
  bool flFound = stat(pTarget, &st) == 0;
  int perm = flFound ? static_cast<int>(st.st_mode & 0777) : 0644;
  if (!CreateFreshFile(pTmp, perm)) ErrorMsg(2, 1, "can't make the temporary file %s", pTmp);
  char* pSed = GetCmd(kCmdSed);
  if (!pSed) {
    fprintf(stderr, szErrNoSysCmd, "sed");
    exit(0);
  }
  // Grouped, so that only the group's error output joins the run log while sed's standard
  // output stays in the temporary file.
  SysCmd(kCmdNone, kSysCmdFatal, "{ %s%s %s > %s; }", pSed, sedArgs, pTarget, pTmp);
  SysCmd(kCmdCp, kSysCmdQuiet, "%s %s", pTmp, pTarget);
  if (flFound && chown(pTarget, st.st_uid, st.st_gid) != 0)
    ErrorMsg(1, 0, "can't give %s back its owners", pTarget);
  SysCmd(kCmdRm, kSysCmdQuiet, "%s", pTmp);
  PutMem(pSed);
  PutMem(pTmp);
  PutMem(pTarget);
}

// A directory at the temporary file's place would stop the list after pkgadd: it is found
// while the list is checked, before anything is installed.
void CheckEditPlace(const PkgListRun* run) {
  char* pTmp = SaveStr("/tmp/%s.tmp", my_name);
  if (GetFileType(pTmp) == 1) {
    PutLogMsg("ERROR: pkg.list line %d: can't make the temporary file %s: a directory stands "
              "there\n", run->lineNo, pTmp);
    ErrorMsg(2, 1, "pkg.list line %d: can't make the temporary file %s: a directory stands "
                   "there", run->lineNo, pTmp);
  }
  PutMem(pTmp);
}

// The attribute pairs after a line's keyword words, for the name A of the application
// directory. Pairs are taken until a key or a value is missing. Only a "sed" that is the
// first pair takes the rest of the line (a script with blanks); a later one takes one word
// like every other value, and the pairs after it still apply.
void ProcessAttributes(const PkgListRun* run, WordScan* s, const char* name) {
  for (int flFirst = 1;; flFirst = 0) {
    char* pKey = NextWord(s);
    if (!pKey) return;
    int key = FindWord(pKey, kAttributes);
    char* pValue = key == kAtSed && flFirst ? RestOfLine(s) : NextWord(s);
    if (!pValue) return;
    switch (key) {
      case kAtMode:
        CheckWord(run, pValue, kCheckWord);
        if (!run->flCheck) SysCmd(kCmdChmod, kSysCmdFatal, "%s %s/%s", pValue, pAppDir, name);
        break;
      case kAtBat:
        CheckWord(run, pValue, kCheckBat);
        if (!run->flCheck) {
          char* pLauncher = SaveStr("/usr/bin/%s", pValue);
          // A launcher that cannot be written is reported there and ends the run with 1.
          GenSimpleScript(pLauncher, ScriptShShell, SimpleScript, pAppDir, pAppDir, name);
          PutMem(pLauncher);
        }
        break;
      case kAtOwner:
        CheckWord(run, pValue, kCheckWord);
        if (!run->flCheck) SysCmd(kCmdChown, kSysCmdFatal, "-R %s %s/%s", pValue, pAppDir, name);
        break;
      case kAtGroup:
        CheckWord(run, pValue, kCheckWord);
        if (!run->flCheck) SysCmd(kCmdChgrp, kSysCmdFatal, "-R %s %s/%s", pValue, pAppDir, name);
        break;
      case kAtLink:
        CheckWord(run, pValue, kCheckPlace);
        if (!run->flCheck) {
          // A link left by an earlier installation is replaced; nothing else is.
          if (GetFileType(pValue) == 2) DeleteFile(nullptr, pValue);
          SysCmd(kCmdLn, kSysCmdFatal, "-s %s/%s %s", pAppDir, name, pValue);
        }
        break;
      case kAtName:
        CheckWord(run, pValue, kCheckPath);
        if (!run->flCheck)
          SysCmd(kCmdMv, kSysCmdFatal, "%s/%s %s/%s", pAppDir, name, pAppDir, pValue);
        break;
      case kAtSed:
        if (run->flCheck)
          CheckEditPlace(run);
        else
          EditFile(name, pValue);
        if (flFirst) return;  // the value was the rest of the line
        break;
      default:
        break;  // an unknown key: the pair is ignored
    }
  }
}

// One logical line (its copy is split in place). 1 when the user chose to quit at a
// process check, else 0.
int ProcessLine(const PkgListRun* run, char* line) {
  JoinContinuations(line);
  WordScan scan = {line};
  char* pKeyword = NextWord(&scan);
  const char* pWork = pKorviInstallDir;
  while (pKeyword) {
    if (pKeyword[0] == '#') return 0;  // a comment, also one written without a blank
    int keyword = FindWord(pKeyword, kKeywords);
    char* pArg = NextWord(&scan);
    if (!pArg) {
      WarnMissing(run, pKeyword, keyword == kKwVersion ? "an operator" : "an argument");
      return 0;
    }
    if (keyword == kKwVersion) {
      char* pVersion = NextWord(&scan);
      if (!pVersion) {
        WarnMissing(run, pKeyword, "a version");
        return 0;
      }
      if (!run->flCheck) {
        const char* pRelease = GetReleaseName();
        if (!pRelease) {
          // Without a release the test cannot hold: the line ends here.
          perror(nlsSetupStrCvt(kMsgVersionFailed));
          return 0;
        }
        if (!VersionHolds(pRelease, pArg, pVersion)) return 0;
      }
      pKeyword = NextWord(&scan);  // the rest of the line is a line of its own
      continue;
    }

    CheckWord(run, pArg, kCheckPath);
    switch (keyword) {
      case kKwDir:
        CheckCopiedMember(run, pArg);
        if (!run->flCheck)
          SysCmd(kCmdCpR, kSysCmdLog, "%s/%s/%s %s", pWork, run->pDirWord, pArg, pAppDir);
        break;
      case kKwDirto: {
        char* pDest = NextWord(&scan);
        if (!pDest) {
          WarnMissing(run, pKeyword, "a destination");
          return 0;
        }
        CheckWord(run, pDest, kCheckPlace);
        CheckCopiedMember(run, pArg);
        if (!run->flCheck)
          SysCmd(kCmdCpR, kSysCmdLog, "%s/%s/%s %s", pWork, run->pDirWord, pArg, pDest);
        break;
      }
      case kKwTouch:
        if (!run->flCheck) SysCmd(kCmdTouch, kSysCmdLog, "%s/%s", pAppDir, pArg);
        break;
      case kKwIfThere:
      case kKwIfThereS:
        if (!run->flCheck && !FindFile(pAppDir, pArg)) return 0;
        break;
      case kKwNewdir:
        if (!run->flCheck) {
          if (FindFile(pAppDir, pArg)) return 0;
          char* pDir = SaveStr("%s/%s", pAppDir, pArg);
          CreateFile(pDir, nullptr, "775", nullptr, nullptr);
          PutMem(pDir);
        }
        break;
      case kKwCheckps:
        if (!run->flCheck && QuitForRunningProcesses(pArg)) return 1;
        break;
      default:  // "c" and any other word: copy the file into the application directory
        CheckCopiedMember(run, pArg);
        if (!run->flCheck)
          SysCmd(kCmdCp, kSysCmdLog, "%s/%s/%s %s", pWork, run->pDirWord, pArg, pAppDir);
        break;
    }
    ProcessAttributes(run, &scan, pArg);
    return 0;
  }
  return 0;
}

// Reads the list, checks every line, then (unless flCheckOnly) runs them. As ProcessPkgList.
int RunPkgList(const char* dirWord, int flCheckOnly) {
  char* pPath = SaveStr("%s/%s/pkg.list", pKorviInstallDir, dirWord);
  OpenInputFile(pPath, 2);  // a missing list: error line, exit 0

  // The whole list first: it is checked before any line of it runs. A line longer than the
  // reader takes is refused, unless it is a comment: its rest never becomes a line.
  char** pLines = nullptr;
  int nLines = 0;
  for (int lineNo = 1, lines = 0, got; (got = GetWholeFileLine(&lines)) != 0; lineNo += lines) {
    if (got < 0 && LineBuf[strspn(LineBuf, kWordDelims)] != '#') {
      PutLogMsg("ERROR: pkg.list line %d: longer than a line may be\n", lineNo);
      ErrorMsg(2, 1, "pkg.list line %d: longer than a line may be", lineNo);
    }
    void* pGrown = AdjustMem(pLines, static_cast<int>((nLines + 1) * sizeof(char*)));
    if (!pGrown) SysError("%s", szNoMemory);
    pLines = static_cast<char**>(pGrown);
    if (got > 0) {
      pLines[nLines++] = SaveStr_(LineBuf);
      continue;
    }
    // A cut comment is kept as "#" and its line ends, so that later lines keep their numbers.
    char* pComment = static_cast<char*>(GetMem(lines + 2));
    if (!pComment) SysError("%s", szNoMemory);
    pComment[0] = '#';
    memset(pComment + 1, '\n', static_cast<size_t>(lines));
    pComment[lines + 1] = 0;
    pLines[nLines++] = pComment;
  }
  CloseInputFile();

  int result = 0;
  PkgListRun run = {dirWord, 1, 0};
  for (int flCheck = 1; flCheck >= flCheckOnly && !result; flCheck--) {
    run.flCheck = flCheck;
    run.lineNo = 1;
    for (int i = 0; i < nLines && !result; i++) {
      if (i) {  // the physical number of the line's first line
        for (const char* p = pLines[i - 1]; (p = strchr(p, '\n')) != nullptr; p++) run.lineNo++;
      }
      char* pCopy = SaveStr_(pLines[i]);
      result = ProcessLine(&run, pCopy);
      PutMem(pCopy);
    }
  }
  for (int i = 0; i < nLines; i++) PutMem(pLines[i]);
  PutMem(pLines);
  PutMem(pPath);
  return result;
}

}  // namespace

int ProcessPkgList(const char* dirWord) { return RunPkgList(dirWord, 0); }

void CheckPkgList(const char* dirWord) {
  char* pPath = SaveStr("%s/%s/pkg.list", pKorviInstallDir, dirWord);
  int flThere = GetFileType(pPath) != 0;
  PutMem(pPath);
  if (flThere) RunPkgList(dirWord, 1);  // a missing list is reported where it is run
}
