// SysCmd_query.cpp - questions about the machine: processes by name (ps -e), free space (df -b),
// the size of a tree (du -s) and directory listings (opendir/readdir).
// Process and disk queries run tools of the command table and read their output columns;
// listings are blank-framed texts (" . .. a b ") that FindToken searches. Every query fails
// soft (null or 0, no message); only an unresolved ps, df or du ends the program (exit 0).
// Paths are checked with ShellSafe before they reach a command line; an unsafe path gives 0.
#include <dirent.h>
#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unistd.h>

#include "syscmd/SysCmd.h"

namespace {

constexpr int kReportSize = 1024;  // its report, at most 1023 characters
constexpr int kFieldSize = 512;
constexpr char kBlanks[] = " \t\n";

// Field n (0-based) of line split at blanks, tabs and newlines, copied into out (cut to
// size - 1). 1 when the field exists, else 0.
int GetField(const char* line, int n, char* out, size_t size) {
  const char* p = line;
  for (int i = 0;; i++) {
    p += strspn(p, kBlanks);
    if (!*p) return 0;
    size_t len = strcspn(p, kBlanks);
    if (i == n) {
      if (len >= size) len = size - 1;
      memcpy(out, p, len);
      out[len] = '\0';
      return 1;
    }
    p += len;
  }
}

int AllDigits(const char* p) {
  if (!*p) return 0;
  for (; *p; p++)
    if (*p < '0' || *p > '9') return 0;
  return 1;
}

// The number a text starts with; 0 and *pfl = 0 when it does not start with one.
double ParseNumber(const char* text, int* pfl) {
  char* pEnd = nullptr;
  double v = strtod(text, &pEnd);
  *pfl = pEnd != text;
  return *pfl ? v : 0;
}

// Directory part of path in place, trailing slashes ignored: /a/b/ -> /a, /a -> /, a -> .
void ParentDir(char* path, size_t size) {
  size_t n = strlen(path);
  while (n > 1 && path[n - 1] == '/') path[--n] = '\0';
  DirPart(path, path, size);
}

}  // namespace

// ===========================================================================
// Processes
// ===========================================================================

char* GetSysPsIdList(const char* name) {
  if (!name || !name[0]) return nullptr;
  CmdResponse* pList = GetCmdResponse(kCmdPs, name, "%s", "");
  int nLen = 0;
  Line[0] = '\0';
  for (CmdResponse* p = pList; p; p = p->pNext) {
    char szPid[kFieldSize];
    char szCmd[kFieldSize];
    // PID TTY TIME CMD: the command column must equal name; the header line is no process.
    if (!GetField(p->pText, 0, szPid, sizeof szPid) || !AllDigits(szPid)) continue;
    if (!GetField(p->pText, 3, szCmd, sizeof szCmd) || strcmp(szCmd, name) != 0) continue;
    int n = static_cast<int>(strlen(szPid));
    if (nLen + n + 3 > kLineSize) break;  // room for " pid", the closing blank and the NUL
    Line[nLen++] = ' ';
    memcpy(Line + nLen, szPid, n + 1);
    nLen += n;
  }
  FreeResponseList(pList);
  if (!nLen) return nullptr;
  return SaveStr("%s ", Line);
}

char* CheckProcTableForExecs(const char* names) {
  if (!names) return nullptr;
  // A pool copy of the whole list: every name is looked for, however long the list.
  char* pNames = SaveStr_(names);
  char szReport[kReportSize];
  int nLen = 0;
  szReport[0] = '\0';
  char* pNext = pNames;
  while (pNext) {
    char* pName = pNext;
    char* pComma = strchr(pName, ',');
    pNext = pComma ? pComma + 1 : nullptr;
    if (pComma) *pComma = '\0';
    pName += strspn(pName, " \t");  // "a, b" names b, not " b"
    size_t len = strlen(pName);
    while (len && (pName[len - 1] == ' ' || pName[len - 1] == '\t')) pName[--len] = '\0';
    if (!len) continue;
    char* pIds = GetSysPsIdList(pName);
    if (!pIds) continue;
    int n = snprintf(szReport + nLen, sizeof szReport - nLen, "%s (%s)\n", pName, pIds);
    PutMem(pIds);
    if (n < 0) continue;
    if (n >= static_cast<int>(sizeof szReport) - nLen) {  // cut at 1023 characters
      nLen = static_cast<int>(sizeof szReport) - 1;
      break;
    }
    nLen += n;
  }
  PutMem(pNames);
  return nLen ? SaveStr_(szReport) : nullptr;
}

int KillProcessByName(const char* name) {
  char* pIds = GetSysPsIdList(name);
  if (pIds) {
    pid_t self = getpid();
    for (char* p = pIds; *p;) {
      char* pEnd = nullptr;
      long id = strtol(p, &pEnd, 10);
      if (pEnd == p) break;
      p = pEnd;
      if (id <= 0 || id == self) continue;  // never a process group, never ourselves
      if (kill(static_cast<pid_t>(id), SIGKILL) != 0 && errno == EPERM) break;
    }
    PutMem(pIds);
  }
  sleep(1);
  return 0;
}

// ===========================================================================
// Disk space
// ===========================================================================

int GetDiskSpace(const char* path, DiskSpace* ds) {
  if (!ds) return 0;
  ds->Avail = 0;
  ds->DfLine[0] = '\0';
  if (!path || !path[0] || !ShellSafe(path, 0)) return 0;
  CmdResponse* pList = GetCmdResponse(kCmdDf, "", "%s", path);
  if (!pList) return 0;

  int flFound = 0;
  int nCol = -1;
  char szField[kFieldSize];
  for (int i = 0; GetField(pList->pText, i, szField, sizeof szField); i++) {
    if (strncasecmp(szField, "avail", 5) == 0) {
      nCol = i;
      break;
    }
  }
  if (nCol >= 0 && pList->pNext) {
    const char* pData = pList->pNext->pText;
    snprintf(ds->DfLine, sizeof ds->DfLine, "%s", pData);
    if (GetField(pData, nCol, szField, sizeof szField)) {
      int flNum = 0;
      double v = ParseNumber(szField, &flNum);
      if (flNum) {  // a column that holds no number is no answer
        ds->Avail = v;
        flFound = 1;
      }
    }
  }
  FreeResponseList(pList);
  return flFound;
}

double DUPath(const char* path) {
  if (!path || !path[0] || !ShellSafe(path, 0)) return 0;
  CmdResponse* pList = GetCmdResponse(kCmdDu, "", "%s", path);
  double v = 0;
  for (CmdResponse* p = pList; p; p = p->pNext) {
    char szField[kFieldSize];
    int flNum = 0;
    if (GetField(p->pText, 0, szField, sizeof szField)) v = ParseNumber(szField, &flNum);
    if (flNum) break;
  }
  FreeResponseList(pList);
  return v;
}

int AvailSpace(const char* dir, const char* name, double needed) {
  if (!dir || !dir[0] || !ShellSafe(dir, 0)) return 0;
  if (name && name[0] && !ShellSafe(name, 0)) return 0;
  char szDir[kLineBufSize];
  if (snprintf(szDir, sizeof szDir, "%s", dir) >= static_cast<int>(sizeof szDir)) return 0;
  DiskSpace ds;

  if (name && name[0] && FindFile(szDir, name)) {  // the old copy's space becomes free
    char szPath[kLineBufSize + kFieldSize];
    snprintf(szPath, sizeof szPath, "%s/%s", szDir, name);
    double du = DUPath(szPath);
    GetDiskSpace(szDir, &ds);
    return needed <= ds.Avail + du;
  }
  for (;;) {  // a directory not made yet is measured at its nearest existing ancestor
    if (GetDiskSpace(szDir, &ds)) return needed <= ds.Avail;
    if (strcmp(szDir, "/") == 0 || strcmp(szDir, ".") == 0) return 0;
    ParentDir(szDir, sizeof szDir);
  }
}

// ===========================================================================
// Directories
// ===========================================================================

char* ReadDir(DIR* handle) {
  if (!handle) return nullptr;
  struct dirent* e = readdir(handle);
  return e ? e->d_name : nullptr;
}

namespace {

// The blank-framed listing of dir: every entry when flAll is set, else the entries whose
// extension is ext (every entry but "." and ".." for a null ext). Null when dir cannot be
// read or the pool runs out: a listing that misses entries would give wrong answers.
char* ListDirectory(const char* dir, const char* ext, int flAll) {
  if (!dir) return nullptr;
  DIR* d = opendir(dir);
  if (!d) return nullptr;
  PoolText t = {};
  while (char* pName = ReadDir(d)) {
    if (flAll) {
      // every entry
    } else if (ext) {
      const char* pDot = strrchr(pName, '.');
      if (!pDot || strcmp(pDot + 1, ext) != 0) continue;
    } else if (strcmp(pName, ".") == 0 || strcmp(pName, "..") == 0) {
      continue;
    }
    if (!PoolTextAppendStr(&t, " ") || !PoolTextAppendStr(&t, pName)) break;
  }
  closedir(d);
  if (!t.p) return nullptr;  // no entry
  PoolTextAppendStr(&t, " ");
  return PoolTextTake(&t);
}

}  // namespace

char* GetDirFileList(const char* dir) { return ListDirectory(dir, nullptr, 1); }

char* SearchDirFileList(const char* dir, const char* ext) { return ListDirectory(dir, ext, 0); }

int SysGetSubnetMask(void) { return 0; }
