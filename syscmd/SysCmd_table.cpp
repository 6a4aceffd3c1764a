// SysCmd_table.cpp - the command table ComList and its resolution on the search path.
// Start-up lists each directory of SearchPaths, then of PATH, once, and matches every entry
// against the names of the rows still unresolved (through a small hash of the row names), so
// the first directory that holds a tool wins and the walk stops as soon as every row is known.
// Before start-up a row is looked up on first use along FullSearchPath. Directories that are
// relative or hold characters unsafe in a command line are never used. Part of kbase.
#include <dirent.h>

#include <cstdlib>
#include <cstring>

#include "syscmd/SysCmd.h"

// clang-format off
ComRow ComList[kComListRows + 1] = {
  /*  0 */ {"", "", nullptr, 0},
  /*  1 */ {"", "", nullptr, 0},
  /*  2 */ {"cancel", "", nullptr, 2},
  /*  3 */ {"cat", "", nullptr, 0},
  /*  4 */ {"chgrp", "", nullptr, 0},
  /*  5 */ {"chmod", "", nullptr, 0},
  /*  6 */ {"chown", "", nullptr, 0},
  /*  7 */ {"clear", "", nullptr, 0},
  /*  8 */ {"compress", "", nullptr, 0},
  /*  9 */ {"cp", "-p", nullptr, 0},
  /* 10 */ {"cp", "-pr", nullptr, 0},
  /* 11 */ {"cupsd", "", nullptr, 0},
  /* 12 */ {"id", "", nullptr, 0},
  /* 13 */ {"echo", "", nullptr, 0},
  /* 14 */ {"eject", "-f", nullptr, 1},
  /* 15 */ {"eject", "-q", nullptr, 1},
  /* 16 */ {"file", "", nullptr, 0},
  /* 17 */ {"ln", "", nullptr, 0},
  /* 18 */ {"lp", "", nullptr, 0},
  /* 19 */ {"lpc", "", nullptr, 1},
  /* 20 */ {"lpr", "", nullptr, 0},
  /* 21 */ {"lprm", "", nullptr, 1},
  /* 22 */ {"lpstat", "", nullptr, 1},
  /* 23 */ {"ls", "", nullptr, 0},
  /* 24 */ {"kill", "-KILL", nullptr, 0},
  /* 25 */ {"mv", "-f", nullptr, 0},
  /* 26 */ {"mkdir", "-p", nullptr, 0},
  /* 27 */ {"more", "", nullptr, 0},
  /* 28 */ {"ping", "", nullptr, 0},
  /* 29 */ {"rm", "-f", nullptr, 0},
  /* 30 */ {"rm", "-rf", nullptr, 0},
  /* 31 */ {"sh", "", nullptr, 0},
  /* 32 */ {"sleep", "", nullptr, 0},
  /* 33 */ {"tar", "cvfp", nullptr, 0},
  /* 34 */ {"tar", "xvfp", nullptr, 0},
  /* 35 */ {"touch", "", nullptr, 0},
  /* 36 */ {"uncompress", "", nullptr, 0},
  /* 37 */ {"whoami", "", nullptr, 0},
  /* 38 */ {"zcat", "", nullptr, 0},
  /* 39 */ {"uname", "", nullptr, 0},
  /* 40 */ {"sed", "", nullptr, 0},
  /* 41 */ {"du", "-s", nullptr, 0},
  /* 42 */ {"checkpc", "", nullptr, 0},
  /* 43 */ {"lpd", "", nullptr, 0},
  /* 44 */ {"pkgadd", "", nullptr, 1},
  /* 45 */ {"pkginfo", "", nullptr, 0},
  /* 46 */ {"pkgrm", "", nullptr, 1},
  /* 47 */ {"accept", "", nullptr, 1},
  /* 48 */ {"disable", "", nullptr, 1},
  /* 49 */ {"enable", "", nullptr, 1},
  /* 50 */ {"lpadmin", "", nullptr, 1},
  /* 51 */ {"lpfilter", "", nullptr, 1},
  /* 52 */ {"lpsched", "", nullptr, 1},
  /* 53 */ {"lpshut", "", nullptr, 1},
  /* 54 */ {"lpsystem", "", nullptr, 1},
  /* 55 */ {"ps", "-e", nullptr, 0},
  /* 56 */ {"bar", "", nullptr, 0},
  /* 57 */ {"df", "-b", nullptr, 0},
  /* 58 */ {"lpq", "-P", nullptr, 0},
  /* 59 */ {"ypcat", "", nullptr, 0},
  /* 60 */ {"reject", "", nullptr, 1},
  /* 61 */ {"pmadm", "", nullptr, 1},
  /* 62 */ {"sacadm", "", nullptr, 1},
  /* 63 */ {"volcheck", "", nullptr, 0},
  /* 64 */ {"capture", "", nullptr, 0},
  /* 65 */ {"lpset", "", nullptr, 1},
  /* 66 */ {"instnetpr", "", nullptr, 1},
  /* 67 */ {"piomkpq", "", nullptr, 0},
  /* 68 */ {"piomisc_ext", "", nullptr, 0},
  /* 69 */ {"piomisc_base", "", nullptr, 0},
  /* 70 */ {"lsallq", "", nullptr, 0},
  /* 71 */ {"mkque", "", nullptr, 0},
  /* 72 */ {"mkquedev", "", nullptr, 0},
  /* 73 */ {"rmque", "", nullptr, 0},
  /* 74 */ {"rmquedev", "", nullptr, 0},
  /* 75 */ {"piochdfq", "", nullptr, 0},
  /* 76 */ {"enq", "", nullptr, 0},
  /* 77 */ {"lsquedev", "", nullptr, 0},
  /* 78 */ {"lsque", "", nullptr, 0},
  /* 79 */ {"startsrc", "", nullptr, 1},
  /* 80 */ {"stopsrc", "", nullptr, 0},
  /* 81 */ {"lssrc", "", nullptr, 0},
  /* 82 */ {nullptr, nullptr, nullptr, 0},
};
// clang-format on
static_assert(sizeof ComList / sizeof ComList[0] == 83, "82 rows and the terminating row");

namespace {

char szDefaultSearchPaths[] = "/usr/bin:/usr/ucb:/usr/sbin:/bin:/sbin:/usr/lib:/usr/lib/lp";

constexpr int kHashSlots = 256;  // power of two, well above the number of distinct names

// State of the resolution that the globals do not show.
struct ResolveState {
  char* pPathCopy;                   // saved copy of PATH, split in place at start-up
  char* pShellEnv;                   // "SHELL=..." given to putenv, replaced by the next start-up
  char flOwned[kComListRows + 1];    // row's pDir is a saved string of the lazy lookup
  unsigned char Slot[kHashSlots];    // first row of each distinct name, 0 when empty
  unsigned char Next[kComListRows + 1];  // next row with the same name, 0 at the end
};
ResolveState rs;

unsigned HashName(const char* p) {
  unsigned h = 2166136261u;
  while (*p) h = (h ^ static_cast<unsigned char>(*p++)) * 16777619u;
  return h;
}

// Number of rows from 2 up to the first null or empty name that have no directory.
int CountUnresolved() {
  int n = 0;
  for (int i = 2; i < kComListRows && ComList[i].pName && ComList[i].pName[0]; i++)
    if (!ComList[i].pDir) n++;
  return n;
}

// Builds the name hash over the rows FillCmdPaths walks. Cheap (80 names); rebuilt per call
// so that a test may rename rows.
void BuildNameHash() {
  memset(rs.Slot, 0, sizeof rs.Slot);
  memset(rs.Next, 0, sizeof rs.Next);
  for (int i = 2; i < kComListRows && ComList[i].pName && ComList[i].pName[0]; i++) {
    unsigned h = HashName(ComList[i].pName) & (kHashSlots - 1);
    while (rs.Slot[h] && strcmp(ComList[rs.Slot[h]].pName, ComList[i].pName) != 0)
      h = (h + 1) & (kHashSlots - 1);
    if (!rs.Slot[h]) {
      rs.Slot[h] = static_cast<unsigned char>(i);
    } else {  // append to the chain of rows sharing this name
      int j = rs.Slot[h];
      while (rs.Next[j]) j = rs.Next[j];
      rs.Next[j] = static_cast<unsigned char>(i);
    }
  }
}

// First row named name, or 0.
int LookupName(const char* name) {
  unsigned h = HashName(name) & (kHashSlots - 1);
  while (rs.Slot[h]) {
    if (strcmp(ComList[rs.Slot[h]].pName, name) == 0) return rs.Slot[h];
    h = (h + 1) & (kHashSlots - 1);
  }
  return 0;
}

// A directory we may put into a command line: absolute, and only shell-safe characters.
int UsableDir(const char* dir) { return dir && dir[0] == '/' && ShellSafe(dir, 0); }

// The search texts are walked here rather than with the shared tokenizer, so that resolving
// a tool (lazily, from inside SysCmd too) never moves a scan that a caller has in progress.
// Runs of ":" give no empty entry.

// Next entry of the text at *pos, split off in place; null at the end.
char* NextDirInPlace(char** pos) {
  char* s = *pos;
  while (*s == ':') s++;
  if (!*s) {
    *pos = s;
    return nullptr;
  }
  char* pDir = s;
  while (*s && *s != ':') s++;
  if (*s) *s++ = '\0';
  *pos = s;
  return pDir;
}

// Next entry of the text at *pos copied into out (size characters); an entry too long for
// out is passed over. Null at the end.
char* NextDirCopy(const char** pos, char* out, size_t size) {
  for (;;) {
    const char* s = *pos;
    while (*s == ':') s++;
    if (!*s) {
      *pos = s;
      return nullptr;
    }
    size_t n = strcspn(s, ":");
    *pos = s + n;
    if (n < size) return CopyCut(out, size, s, n);
  }
}

void BuildFullSearchPath() {
  const char* pPath = getenv("PATH");
  FullSearchPath = SaveStr("%s:%s", SearchPaths ? SearchPaths : "", pPath ? pPath : "");
}

}  // namespace

char* SearchPaths = szDefaultSearchPaths;
char* FullSearchPath = nullptr;
int flInitSysCmd = 1;
int flSysCmdLog = 0;

int FillCmdPaths(const char* dir) {
  if (!dir) return 1;
  DIR* d = opendir(dir);
  if (!d) return 1;
  BuildNameHash();
  int nLeft = CountUnresolved();
  while (nLeft > 0) {
    struct dirent* e = readdir(d);
    if (!e) break;
    for (int i = LookupName(e->d_name); i; i = rs.Next[i]) {
      if (!ComList[i].pDir) {
        ComList[i].pDir = dir;
        rs.flOwned[i] = 0;
        nLeft--;
      }
    }
  }
  closedir(d);
  return nLeft > 0;
}

void InitSysCmdList(void) {
  flInitSysCmd = 0;
  const char* pEnv = getenv("PATH");
  PutMem(FullSearchPath);  // a lazy lookup may have built it already
  // (an earlier copy of PATH is kept: rows of an earlier start-up may point into it)
  rs.pPathCopy = pEnv ? SaveStr_(pEnv) : nullptr;
  FullSearchPath = SaveStr("%s:%s", SearchPaths ? SearchPaths : "", pEnv ? pEnv : "");

  int flLeft = 1;
  char* const aTexts[] = {SearchPaths, rs.pPathCopy};
  for (char* pPos : aTexts) {
    if (!pPos) continue;
    for (char* pDir = NextDirInPlace(&pPos); pDir && flLeft; pDir = NextDirInPlace(&pPos)) {
      if (UsableDir(pDir)) flLeft = FillCmdPaths(pDir);
    }
  }

  // SHELL names the shell the commands run through. Without a resolved sh it is left alone.
  if (ComList[kCmdSh].pDir) {
    char* pOld = rs.pShellEnv;
    rs.pShellEnv = SaveStr("SHELL=%s/%s", ComList[kCmdSh].pDir, ComList[kCmdSh].pName);
    putenv(rs.pShellEnv);  // the environment now holds the new text; the old one is free
    PutMem(pOld);
  }

  if (flUseLog) {
    flSysCmdLog = 1;
    PutLogMsg("initializing system\n");
  }
}

int FillCmdPath(int index) {
  if (index < 2 || index >= kComListRows || !ComList[index].pName || !ComList[index].pName[0])
    return 0;
  if (ComList[index].pDir) return 1;
  if (!FullSearchPath) BuildFullSearchPath();
  const char* pPos = FullSearchPath;
  char szDir[kLineBufSize];
  for (char* pDir = NextDirCopy(&pPos, szDir, sizeof szDir); pDir;
       pDir = NextDirCopy(&pPos, szDir, sizeof szDir)) {
    if (UsableDir(pDir) && FindFile(pDir, ComList[index].pName)) {
      ComList[index].pDir = SaveStr_(pDir);
      rs.flOwned[index] = 1;
      return 1;
    }
  }
  return 0;
}

int TestCmd(int index) {
  if (index < 2 || index >= kComListRows) return 0;
  if (!ComList[index].pDir && flInitSysCmd) FillCmdPath(index);
  return ComList[index].pDir != nullptr;
}

void ResetSysCmdList(void) {
  for (int i = 0; i <= kComListRows; i++) {
    if (rs.flOwned[i]) PutMem(const_cast<char*>(ComList[i].pDir));
    rs.flOwned[i] = 0;
    ComList[i].pDir = nullptr;
  }
  PutMem(rs.pPathCopy);
  rs.pPathCopy = nullptr;
  PutMem(FullSearchPath);
  FullSearchPath = nullptr;
  flInitSysCmd = 1;
  flSysCmdLog = 0;
}

char* GetCmd(int index) {
  if (!TestCmd(index)) return nullptr;
  const ComRow& r = ComList[index];
  return SaveStr("%s/%s %s", r.pDir, r.pName, r.pArgs);
}

char* GetCmdNoFlags(int index) {
  if (!TestCmd(index)) return nullptr;
  const ComRow& r = ComList[index];
  return SaveStr("%s/%s", r.pDir, r.pName);
}
