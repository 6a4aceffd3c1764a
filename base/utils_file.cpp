// utils_file.cpp - reading files and asking about them; creating, deleting and renaming them.
// Existence is decided by the directory's listing (GetDirFileList, FindToken), not by stat.
// The line readers fill the process-wide LineBuf and Line; each call overwrites them.
// Changes to the file system run tools of the command table (SysCmd). Files written in a
// world-writable directory (such as /tmp) are never reached through a link or a non-regular
// entry that someone else may have planted there: such an entry counts as an open failure, or
// is replaced by a fresh file when this code creates the file.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/utils.h"
#include "syscmd/SysCmd.h"

char LineBuf[kLineBufSize];
int LineLen = 0;
FILE* pIn = nullptr;
char InputFileName[kInputFileNameSize];
int FileStatus = 1;
char Line[kLineSize];
char* pLine = Line;
int InPos = 0;
int LineCnt = 0;
int flInputFilterState = 1;
int SavedFileSize = 0;

namespace {

constexpr int kPathMax = 4104;       // paths built or split here: 4103 characters at most
constexpr int kFmtPathSize = 512;    // formatted paths of the ...F functions: 511 at most
constexpr int kPieceSize = 511;      // physical lines are read 510 characters at a time

struct FileState {
  int flInBlockComment;              // GetLine: a /* comment continues on the next line
  char SearchBuf[kSearchBufSize];    // FileSearch's result
};
FileState State;

// Splits path into its directory and its last entry (trailing slashes ignored; a path of
// slashes only is the root with an empty entry). 0 when the path does not fit.
int SplitPath(const char* path, char* dir, char* entry) {
  size_t n = strlen(path);
  if (n >= kPathMax) return 0;
  char szCopy[kPathMax];
  memcpy(szCopy, path, n + 1);
  while (n > 1 && szCopy[n - 1] == '/') szCopy[--n] = 0;
  const char* pSlash = strrchr(szCopy, '/');
  strcpy(entry, pSlash ? pSlash + 1 : szCopy);
  DirPart(szCopy, dir, kPathMax);
  return 1;
}

// Joins "%s%s%s" of dir, "/" when name is given, and name (dir alone for a null name, name
// alone for a null dir) into out. 0 when it does not fit.
int JoinPath(char* out, size_t size, const char* dir, const char* name) {
  int n;
  if (dir && name)
    n = snprintf(out, size, "%s/%s", dir, name);
  else
    n = snprintf(out, size, "%s", dir ? dir : name ? name : "");
  return n >= 0 && static_cast<size_t>(n) < size;
}

// 1 when the directory that holds path can be written by every user.
int InWorldWritableDir(const char* path) {
  char szDir[kPathMax], szEntry[kPathMax];
  if (!SplitPath(path, szDir, szEntry)) return 1;  // unknown: be careful
  struct stat st;
  return stat(szDir, &st) == 0 && (st.st_mode & S_IWOTH);
}

// 1 when the stream mode writes.
int WritesMode(const char* mode) {
  return strchr(mode, 'w') || strchr(mode, 'a') || strchr(mode, '+');
}

// Opens path without following a link and only when it is a regular file owned by this
// process's user with no other name (or made by the open itself). flags are open(2) flags without O_TRUNC;
// truncate empties it after the checks. -1 with errno set on refusal.
int OpenRegularFd(const char* path, int flags, int truncate) {
  int fd = open(path, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
      st.st_nlink != 1) {
    close(fd);
    errno = EPERM;
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (truncate && ftruncate(fd, 0) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// fopen, except that a writing open in a world-writable directory goes through OpenRegularFd.
FILE* OpenStream(const char* path, const char* mode) {
  if (!WritesMode(mode) || !InWorldWritableDir(path)) return fopen(path, mode);
  int flPlus = strchr(mode, '+') != nullptr;
  int flags = flPlus ? O_RDWR : O_WRONLY;
  int flTrunc = 0;
  char szMode[4] = {0, 0, 0, 0};
  if (mode[0] == 'w') {
    flags |= O_CREAT;
    flTrunc = 1;
  } else if (mode[0] == 'a') {
    flags |= O_CREAT | O_APPEND;
  } else if (mode[0] != 'r') {
    errno = EINVAL;
    return nullptr;
  }
  szMode[0] = mode[0];
  if (flPlus) szMode[1] = '+';
  int fd = OpenRegularFd(path, flags, flTrunc);
  if (fd < 0) return nullptr;
  FILE* f = fdopen(fd, szMode);
  if (!f) close(fd);
  return f;
}

// A link or file planted in a world-writable directory where dir or one of its ancestors
// belongs would make mkdir -p a no-op or create the tree elsewhere, and chmod change the link's
// target: such entries are removed, from the top down. Directories are left as they are.
void ClearPlantedDirs(const char* dir) {
  char szPath[kPathMax];
  size_t n = strlen(dir);
  if (n >= kPathMax) return;
  memcpy(szPath, dir, n + 1);
  for (size_t i = 1; i <= n; i++) {
    if (i < n && szPath[i] != '/') continue;
    if (i < n && szPath[i - 1] == '/') continue;
    char ch = szPath[i];
    szPath[i] = 0;
    struct stat st;
    if (lstat(szPath, &st) == 0 && !S_ISDIR(st.st_mode) && InWorldWritableDir(szPath))
      unlink(szPath);
    szPath[i] = ch;
  }
}

// Reads up to size bytes of the file into buf and terminates them; a read error gives "".
int ReadWhole(const char* path, char* buf, size_t size) {
  FILE* f = fopen(path, "rb");
  if (!f) return 0;
  size_t n = fread(buf, 1, size, f);
  if (ferror(f)) n = 0;
  buf[n] = 0;
  fclose(f);
  return 1;
}

// Cuts s at its first newline or carriage return.
void CutLineEnd(char* s) { s[strcspn(s, "\r\n")] = 0; }

}  // namespace

// ===========================================================================
// Existence and status
// ===========================================================================

int FindFile(const char* dir, const char* name) {
  if (dir && !*dir) dir = nullptr;
  if (name && !*name) name = nullptr;
  char szDir[kPathMax], szEntry[kPathMax];
  if (dir && name && !strchr(name, '/')) {
    if (strlen(dir) >= kPathMax || strlen(name) >= kPathMax) return 0;
    strcpy(szDir, dir);
    strcpy(szEntry, name);
  } else if (dir && name) {
    char szPath[kPathMax];
    if (!JoinPath(szPath, sizeof szPath, dir, name) || !SplitPath(szPath, szDir, szEntry)) return 0;
  } else if (dir || name) {
    if (!SplitPath(dir ? dir : name, szDir, szEntry)) return 0;
  } else {
    return 0;
  }
  if (strchr(szEntry, ' ')) return 0;  // the listing is blank-framed: never a match
  char* pList = GetDirFileList(szDir);
  if (!pList) return 0;
  // The empty entry (the root) matches the empty tail after the listing's closing blank.
  int flFound = FindToken(szEntry, pList) != 0;
  PutMem(pList);
  return flFound;
}

int FindFile_(const char* dir, const char* name) {
  char szPath[kPathMax];
  if (!dir && !name) return 0;
  if (!JoinPath(szPath, sizeof szPath, dir, name)) return 0;
  struct stat st;
  return stat(szPath, &st) == 0;
}

char* FindExistingPath(const char* path, int* exists) {
  if (!path || !*path) return nullptr;
  char szPath[kPathMax];
  size_t n = strlen(path);
  if (n < kPathMax) {
    memcpy(szPath, path, n + 1);
  } else {  // too long: keep the longest prefix that ends before a "/", an ancestor of path
    memcpy(szPath, path, kPathMax - 1);
    szPath[kPathMax - 1] = 0;
    char* pSlash = strrchr(szPath, '/');
    if (!pSlash) strcpy(szPath, ".");
    else if (pSlash == szPath) strcpy(szPath, "/");
    else *pSlash = 0;
  }
  char szDir[kPathMax], szEntry[kPathMax];
  for (;;) {
    if (strcmp(szPath, "/") == 0 || strcmp(szPath, ".") == 0) break;
    if (FindFile(szPath, nullptr)) break;
    SplitPath(szPath, szDir, szEntry);
    strcpy(szPath, szDir);
  }
  if (exists && strcmp(szPath, path) == 0) *exists = 1;
  return SaveStr_(szPath);
}

long GetFileSize(const char* path) {
  struct stat st;
  return path && stat(path, &st) == 0 ? static_cast<long>(st.st_size) : 0;
}

long GetFileTime(const char* path) {
  struct stat st;
  return path && stat(path, &st) == 0 ? static_cast<long>(st.st_mtime) : 0;
}

int GetFileType(const char* path) {
  struct stat st;
  if (!path || lstat(path, &st) != 0) return 0;
  if (S_ISDIR(st.st_mode)) return 1;
  if (S_ISLNK(st.st_mode)) return 2;
  return 3;
}

// ===========================================================================
// Opening
// ===========================================================================

FILE* OpenFile(FILE* file, const char* path, const char* mode, int report) {
  if (file) fclose(file);
  FILE* f = path && mode ? OpenStream(path, mode) : nullptr;
  if (f) return f;
  if (!path) errno = EINVAL;
  if (report == 2) SysError(szCantOpenFile, path ? path : "");
  if (report == 1) fprintf(stderr, szErrCantOpenFileNl, path ? path : "");
  return nullptr;
}

FILE* OpenFileF(FILE* file, const char* mode, int report, const char* fmt, ...) {
  char szPath[kFmtPathSize];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(szPath, sizeof szPath, fmt, ap);
  va_end(ap);
  if (n < 0 || n >= kFmtPathSize) {  // a cut path names another file: refuse it
    if (file) fclose(file);
    errno = ENAMETOOLONG;
    if (report == 2) SysError(szCantOpenFile, szPath);
    if (report == 1) fprintf(stderr, szErrCantOpenFileNl, szPath);
    return nullptr;
  }
  return OpenFile(file, szPath, mode, report);
}

int OpenRawFile(const char* path, int flags) {
  int fd = -1;
  if (path) {
    if ((flags & O_ACCMODE) != O_RDONLY && InWorldWritableDir(path)) {
      int flTrunc = (flags & O_TRUNC) != 0;
      fd = OpenRegularFd(path, flags & ~O_TRUNC, flTrunc);
    } else {
      fd = open(path, flags, 0644);
    }
  }
  if (fd < 0) {
    printf(szErrCantOpenFile, path ? path : "");
    fflush(stdout);
  }
  return fd;
}

// ===========================================================================
// Input-file line reader
// ===========================================================================

int OpenInputFile(const char* path, int report) {
  CopyCut(InputFileName, sizeof InputFileName, path ? path : "", strlen(path ? path : ""));
  if (pIn) fclose(pIn);
  pIn = path ? fopen(path, "r") : nullptr;
  State.flInBlockComment = 0;
  if (pIn) {
    FileStatus = 0;
    return 1;
  }
  FileStatus = 2;
  LineBuf[0] = 0;
  LineLen = 0;
  ErrorMsg(report, 0, szCantOpenFile, path ? path : "");
  return 0;
}

int OpenInputFileF(int report, const char* fmt, ...) {
  char szPath[kFmtPathSize];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(szPath, sizeof szPath, fmt, ap);
  va_end(ap);
  if (n < 0 || n >= kFmtPathSize) {  // refused rather than cut
    CopyCut(InputFileName, sizeof InputFileName, szPath, strlen(szPath));
    if (pIn) fclose(pIn);
    pIn = nullptr;
    FileStatus = 2;
    LineBuf[0] = 0;
    LineLen = 0;
    ErrorMsg(report, 0, szCantOpenFile, szPath);
    return 0;
  }
  return OpenInputFile(szPath, report);
}

void CloseInputFile() {
  if (pIn) fclose(pIn);
  pIn = nullptr;
  FileStatus = 1;
}

int GetFileLine() {
  if (!pIn) return 0;
  if (!fgets(LineBuf, kPieceSize, pIn)) {
    LineBuf[0] = 0;
    CloseInputFile();
    return 0;
  }
  LineLen = 0;
  size_t nLen = strlen(LineBuf);
  size_t nPiece = 0;  // start of the piece just read
  while (nLen - nPiece >= 2 && LineBuf[nLen - 2] == '\\' && LineBuf[nLen - 1] == '\n') {
    size_t nRoom = kLineBufSize - nLen;  // bytes left, NUL included
    if (nRoom < 2) break;
    int nRead = nRoom < kPieceSize ? static_cast<int>(nRoom) : kPieceSize;
    if (!fgets(LineBuf + nLen, nRead, pIn)) break;
    LineLen += static_cast<int>(nLen - nPiece);
    nPiece = nLen;
    nLen += strlen(LineBuf + nLen);
  }
  return 1;
}

int GetFileTextLine(const char* delims) {
  if (!delims) return 0;
  while (GetFileLine()) {
    if (LineBuf[0] == '#') continue;
    char* pWord = LineBuf + strspn(LineBuf, delims);
    if (!*pWord) continue;
    size_t n = strcspn(pWord, delims);
    memmove(LineBuf, pWord, n);
    LineBuf[n] = 0;
    return 1;
  }
  return 0;
}

// ===========================================================================
// Filtering reader
// ===========================================================================

int GetLine() {
  LineCnt = 0;
  pLine = Line;
  Line[0] = 0;
  if (!pIn) return 0;
  InPos = static_cast<int>(ftell(pIn));
  for (;;) {
    if (State.flInBlockComment) InPos = static_cast<int>(ftell(pIn));
    if (!fgets(Line, kPieceSize, pIn)) {
      Line[0] = 0;
      return 0;
    }
    LineCnt++;
    if (!flInputFilterState) return LineCnt;

    if (State.flInBlockComment) {
      char* pEnd = strstr(Line, "*/");
      if (!pEnd) continue;  // the whole line is inside the comment
      memmove(Line, pEnd + 2, strlen(pEnd + 2) + 1);
      State.flInBlockComment = 0;
    }
    if (char* p = strstr(Line, "//")) *p = 0;
    size_t nSpace = 0;
    while (Line[nSpace] && isspace(static_cast<unsigned char>(Line[nSpace]))) nSpace++;
    if (nSpace) memmove(Line, Line + nSpace, strlen(Line + nSpace) + 1);
    char* pOpen = strstr(Line, "/*");
    int flOpened = 0;
    while (pOpen) {
      char* pEnd = strstr(pOpen + 2, "*/");
      if (!pEnd) {
        flOpened = 1;
        break;
      }
      memmove(pOpen, pEnd + 2, strlen(pEnd + 2) + 1);
      pOpen = strstr(pOpen, "/*");
    }
    if (flOpened) {  // the comment goes on: the rest of this line is dropped with it
      State.flInBlockComment = 1;
      continue;
    }
    CutLineEnd(Line);
    Line[kSearchBufSize - 1] = 0;
    return LineCnt;
  }
}

int GetLineN(int n) {
  int nResult = 0;
  for (int i = 0; i < n; i++) nResult = GetLine();
  return nResult;
}

int GetLinePos(long offset) {
  if (!pIn) {
    LineCnt = 0;
    Line[0] = 0;
    return 0;
  }
  fseek(pIn, offset, SEEK_SET);
  State.flInBlockComment = 0;
  return GetLine();
}

char* fgetsp(char* buf, int size, FILE* file, long offset) {
  if (!buf || !file || size < 1) return nullptr;
  if (fseek(file, offset, SEEK_SET) != 0) return nullptr;
  return fgets(buf, size, file);
}

// ===========================================================================
// Whole files
// ===========================================================================

int GetFileContent(const char* path, const char* name) {
  char szPath[kPathMax];
  LineBuf[0] = 0;
  if (!path || !JoinPath(szPath, sizeof szPath, path, name)) return 0;
  return ReadWhole(szPath, LineBuf, kLineBufSize - 1);
}

int GetFileContentR(const char* path, const char* name, char* buf, int size) {
  char szPath[kPathMax];
  if (!buf || size < 0) return 0;
  buf[0] = 0;
  if (!path || !JoinPath(szPath, sizeof szPath, path, name)) return 0;
  return ReadWhole(szPath, buf, static_cast<size_t>(size));
}

char* GetSavedFileContent(const char* dir, const char* name) {
  char szPath[kPathMax];
  SavedFileSize = 0;
  if (!dir || !JoinPath(szPath, sizeof szPath, dir, name)) return nullptr;
  long nSize = GetFileSize(szPath);
  SavedFileSize = nSize > INT_MAX ? INT_MAX : static_cast<int>(nSize);
  if (nSize <= 0) return nullptr;
  char* pData = nSize < INT_MAX - 1 ? static_cast<char*>(GetMem(static_cast<int>(nSize) + 1))
                                    : nullptr;
  if (!pData) {
    ErrorMsg(1, 0, "%s", szNoMemory);
    return nullptr;
  }
  if (nSize == 1) return pData;  // a 1-byte file is not read: the empty text
  if (!ReadWhole(szPath, pData, static_cast<size_t>(nSize))) {
    PutMem(pData);
    return nullptr;
  }
  return pData;
}

char* FileSearch(const char* path, const char* pattern, int report) {
  FILE* f = OpenFile(nullptr, path, "r", report);
  if (!f) return nullptr;
  while (fgets(State.SearchBuf, kPieceSize, f)) {
    if (!pattern || strstr(State.SearchBuf, pattern)) {
      fclose(f);
      return State.SearchBuf;
    }
  }
  fclose(f);
  State.SearchBuf[0] = 0;
  return nullptr;
}

// ===========================================================================
// Changing the file system
// ===========================================================================

int CreateFreshFile(const char* path, int perm) {
  if (!path || !*path) return 0;
  for (int nTry = 0; nTry < 3; nTry++) {
    struct stat st;
    if (lstat(path, &st) == 0) {
      if (S_ISDIR(st.st_mode)) return 0;
      if (unlink(path) != 0) return 0;
    }
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;  // someone planted an entry again: remove it once more
      return 0;
    }
    int flOk = fchmod(fd, static_cast<mode_t>(perm) & 07777) == 0;
    close(fd);
    return flOk;
  }
  return 0;
}

FILE* OpenRegularFile(const char* path, int truncate) {
  if (!path) return nullptr;
  int fd = OpenRegularFd(path, O_WRONLY | O_APPEND, truncate);
  if (fd < 0) return nullptr;
  FILE* f = fdopen(fd, "a");
  if (!f) close(fd);
  return f;
}

int CreateFile(const char* dir, const char* name, const char* perm, const char* owner,
               const char* group) {
  if (dir && !*dir) dir = nullptr;
  if (name && !*name) name = nullptr;
  if (!dir && !name) return 0;
  const char* aTexts[] = {dir, name, perm, owner, group};
  for (const char* pText : aTexts)
    if (pText) ShellSafe(pText, 2);
  char szTarget[kPathMax];
  if (!JoinPath(szTarget, sizeof szTarget, dir, name))
    ErrorMsg(2, 1, "path too long: %.200s...", dir ? dir : name);

  if (dir) {
    ClearPlantedDirs(dir);
    if (!FindFile(dir, nullptr)) SysCmd(kCmdMkdir, kSysCmdFatal, "%s", dir);
  }
  if (name) {
    if (InWorldWritableDir(szTarget)) {
      struct stat st;
      int flOwn = lstat(szTarget, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid();
      if (!flOwn && !CreateFreshFile(szTarget, 0644)) {
        errno = EEXIST;
        SysError(szCantOpenFile, szTarget);
      }
    }
    SysCmd(kCmdTouch, kSysCmdFatal, "%s", szTarget);
  }
  if (perm && *perm) SysCmd(kCmdChmod, kSysCmdFatal, "%s %s", perm, szTarget);
  if (owner && *owner) SysCmd(kCmdChown, kSysCmdFatal, "%s %s", owner, szTarget);
  if (group && *group) SysCmd(kCmdChgrp, kSysCmdFatal, "%s %s", group, szTarget);
  return 1;
}

int DeleteFile(const char* dir, const char* name) {
  if (dir && !*dir) dir = nullptr;
  if (name && !*name) name = nullptr;
  if (!dir && !name) return 0;
  if (!FindFile(dir, name)) return 0;
  if ((dir && !ShellSafe(dir, 1)) || (name && !ShellSafe(name, 1))) return 0;
  char szTarget[kPathMax];
  if (!JoinPath(szTarget, sizeof szTarget, dir, name)) return 0;
  return SysCmd(kCmdRmRf, kSysCmdLog, "%s", szTarget) == 0;
}

int DeleteFile_(const char* path, const char* name) { return DeleteFile(path, name); }

int RenameFile(const char* dir, const char* name, const char* newname) {
  if (dir && !*dir) dir = nullptr;
  if (!name || !*name || !newname || !*newname) return 0;
  if (!FindFile(dir, name)) return 0;
  if ((dir && !ShellSafe(dir, 1)) || !ShellSafe(name, 1) || !ShellSafe(newname, 1)) return 0;
  if (dir) return SysCmd(-kCmdMv, kSysCmdLog, "%s/%s %s/%s", dir, name, dir, newname) == 0;
  return SysCmd(-kCmdMv, kSysCmdLog, "%s %s", name, newname) == 0;
}

int CreateTextFile(const char* path, const char* mode, int perm, const char* fmt, ...) {
  FILE* f = path && mode ? OpenStream(path, mode) : nullptr;
  if (!f) {
    fprintf(stderr, szErrCouldntOpen, path ? path : "");
    return 0;
  }
  va_list ap;
  va_start(ap, fmt);
  vfprintf(f, fmt, ap);
  va_end(ap);
  if (perm) fchmod(fileno(f), static_cast<mode_t>(perm));
  int flOk = !ferror(f);
  if (fclose(f) != 0) flOk = 0;
  if (!flOk) fprintf(stderr, "ERROR: couldn't write %s\n", path);
  return flOk;
}
