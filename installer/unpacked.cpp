// unpacked.cpp - the tree the archive unpacked into the work directory, checked before any of
// it is read or copied. Everything in it is later run or copied as root, so it must be
// root's alone: the work directory still closed to everyone else, every member owned by the
// user running setup (the owners the archive recorded are dropped, as the tar option "o"
// would), no device, pipe or socket, no link that leads out of the work directory, no hard
// link to a file elsewhere, and the package map and the package list regular files that
// nobody else may write. A member the package map copies is no link at all (the package list's
// copies are checked in pkglist.cpp). Any fault ends the run (1) before anything is changed.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "installer/install.h"
#include "installer/setup.h"

namespace {

// Regular files with more than one name: each must have all its names inside the tree.
struct LinkedFile {
  dev_t dev;
  ino_t ino;
  nlink_t nlink;
  nlink_t seen;
};

// The state of one walk over the tree.
struct TreeWalk {
  const char* pWork;     // the work directory as named
  char* pRealWork;       // its real location
  size_t nWork;          // length of pWork
  LinkedFile* pLinked;   // pool array
  int nLinked;
};

[[noreturn]] void RefuseArchive(const char* fmt, ...) KORVI_PRINTF(1, 2);
void RefuseArchive(const char* fmt, ...) {
  char szMsg[2 * PATH_MAX];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(szMsg, sizeof szMsg, fmt, ap);
  va_end(ap);
  PutLogMsg("ERROR: %s; the archive is refused\n", szMsg);
  ErrorMsg(2, 1, "%s; the archive is refused", szMsg);
  exit(1);  // not reached: ErrorMsg type 2 ends the program
}

// 1 when path is dir or lies below it (both real locations, no "." or ".." parts).
int InsideDir(const char* path, const char* dir) {
  size_t n = strlen(dir);
  if (strncmp(path, dir, n) != 0) return 0;
  return path[n] == '\0' || path[n] == '/' || (n == 1 && dir[0] == '/');
}

// The member's name inside the work directory, for messages.
const char* MemberName(const TreeWalk* w, const char* path) {
  const char* p = path + w->nWork;
  while (*p == '/') p++;
  return p;
}

// Where the link at path leads: its target's real location when it resolves; for a
// dangling link, the real location of the deepest part that exists with the rest
// appended, "." and ".." taken away by the text. A saved string, or null for a loop.
char* LinkDestination(const char* path) {
  char real[PATH_MAX];
  if (realpath(path, real)) return SaveStr_(real);
  if (errno == ELOOP) return nullptr;
  char text[PATH_MAX];
  ssize_t n = readlink(path, text, sizeof text - 1);
  if (n <= 0) return nullptr;
  text[n] = '\0';
  char* pJoined;
  if (text[0] == '/') {
    pJoined = SaveStr_(text);
  } else {
    char* pDir = SaveStr_(path);
    *strrchr(pDir, '/') = '\0';
    pJoined = SaveStr("%s/%s", pDir, text);
    PutMem(pDir);
  }
  int flWhole = 0;
  char* pHead = FindExistingPath(pJoined, &flWhole);
  char* pDest = nullptr;
  if (pHead && realpath(pHead, real)) {
    // The parts below the existing head, resolved by their text.
    char* pOut = static_cast<char*>(GetMem(static_cast<int>(strlen(real) + strlen(pJoined) + 2)));
    if (!pOut) SysError("%s", szNoMemory);
    strcpy(pOut, strcmp(real, "/") == 0 ? "" : real);
    char* pRest = SaveStr_(pJoined + strlen(pHead));
    for (char* pPart = strtok(pRest, "/"); pPart; pPart = strtok(nullptr, "/")) {
      if (strcmp(pPart, ".") == 0) continue;
      if (strcmp(pPart, "..") == 0) {
        if (char* pSlash = strrchr(pOut, '/')) *pSlash = '\0';
        continue;
      }
      strcat(pOut, "/");
      strcat(pOut, pPart);
    }
    if (!pOut[0]) strcpy(pOut, "/");
    PutMem(pRest);
    pDest = pOut;
  }
  PutMem(pHead);
  PutMem(pJoined);
  return pDest;
}

void NoteLinkedFile(TreeWalk* w, const struct stat* st) {
  for (int i = 0; i < w->nLinked; i++) {
    if (w->pLinked[i].dev == st->st_dev && w->pLinked[i].ino == st->st_ino) {
      w->pLinked[i].seen++;
      return;
    }
  }
  void* pGrown = AdjustMem(w->pLinked, static_cast<int>((w->nLinked + 1) * sizeof(LinkedFile)));
  if (!pGrown) SysError("%s", szNoMemory);
  w->pLinked = static_cast<LinkedFile*>(pGrown);
  w->pLinked[w->nLinked++] = {st->st_dev, st->st_ino, st->st_nlink, 1};
}

void CheckMember(TreeWalk* w, const char* path);

void WalkDirectory(TreeWalk* w, const char* dir) {
  DIR* d = opendir(dir);
  if (!d) RefuseArchive("the unpacked directory %s cannot be read: %s", dir, strerror(errno));
  while (struct dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    char* pPath = SaveStr("%s/%s", dir, e->d_name);
    CheckMember(w, pPath);
    PutMem(pPath);
  }
  closedir(d);
}

// One member: made root's, then checked by its kind; directories are walked.
void CheckMember(TreeWalk* w, const char* path) {
  struct stat st;
  if (lstat(path, &st) != 0)
    RefuseArchive("the member \"%s\" cannot be examined: %s", MemberName(w, path),
                  strerror(errno));
  if ((st.st_uid != geteuid() || st.st_gid != getegid()) &&
      lchown(path, geteuid(), getegid()) != 0)
    RefuseArchive("the member \"%s\" cannot be given to the user running setup: %s",
                  MemberName(w, path), strerror(errno));
  if (S_ISDIR(st.st_mode)) {
    WalkDirectory(w, path);
  } else if (S_ISLNK(st.st_mode)) {
    char* pDest = LinkDestination(path);
    if (!pDest)
      RefuseArchive("the member \"%s\" is a link that leads nowhere (a loop)", MemberName(w, path));
    if (!InsideDir(pDest, w->pRealWork))
      RefuseArchive("the member \"%s\" is a link that leads out of the work directory, to %s",
                    MemberName(w, path), pDest);
    PutMem(pDest);
  } else if (S_ISREG(st.st_mode)) {
    if (st.st_nlink > 1) NoteLinkedFile(w, &st);
  } else {
    RefuseArchive("the member \"%s\" is not a file, a directory or a link", MemberName(w, path));
  }
}

// The map or the list as it will be read: a regular file of this user that nobody else may
// write. A missing one is left to the step that reads it.
void CheckListFile(const TreeWalk* w, const char* path) {
  struct stat st;
  if (lstat(path, &st) != 0) return;
  if (!S_ISREG(st.st_mode))
    RefuseArchive("\"%s\" is not a regular file", MemberName(w, path));
  if (st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    RefuseArchive("\"%s\" may be written by others than the user running setup",
                  MemberName(w, path));
}

}  // namespace

void CheckUnpackedTree(const char* workDir, const char* pkg) {
  // Closed to everyone else since it was made; an archive that opened it (a member "./")
  // may have let another user in while it was unpacked.
  struct stat st;
  if (lstat(workDir, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
      (st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
    RefuseArchive("the work directory %s was opened to other users while the archive was "
                  "unpacked", workDir);

  char real[PATH_MAX];
  if (!realpath(workDir, real))
    RefuseArchive("the work directory %s cannot be resolved: %s", workDir, strerror(errno));
  TreeWalk w = {workDir, SaveStr_(real), strlen(workDir), nullptr, 0};
  WalkDirectory(&w, workDir);
  for (int i = 0; i < w.nLinked; i++) {
    if (w.pLinked[i].seen < w.pLinked[i].nlink)
      RefuseArchive("a member is a hard link to a file outside the work directory (inode "
                    "%lu)", static_cast<unsigned long>(w.pLinked[i].ino));
  }
  PutMem(w.pLinked);

  char* pMap = SaveStr("%s/%s/pkgmap", workDir, pkg);
  char* pList = SaveStr("%s/pkg.list", workDir);
  CheckListFile(&w, pMap);
  CheckListFile(&w, pList);
  PutMem(pList);

  // The files the package map places are copied from the tree: none may be a link.
  if (GetFileType(pMap) == 3 && OpenInputFile(pMap, 0)) {
    char szBuf[kLineBufSize];
    char* words[kMapWords];
    for (int lineNo = 1, lines = 0, got; (got = GetWholeFileLine(&lines)) != 0; lineNo += lines) {
      // A cut line would be read as a shorter one: the member it names goes unchecked.
      if (got < 0) {
        CloseInputFile();
        RefuseArchive("\"%s\" line %d is longer than a line may be", MemberName(&w, pMap),
                      lineNo);
      }
      if (!SplitMapLine(szBuf, words) || strlen(words[kMapType]) != 1 ||
          !strchr("fev", words[kMapType][0]))
        continue;
      const char* pPath = words[kMapPath];
      char* pMember = pPath[0] == '/' ? SaveStr("%s/%s/root%s", workDir, pkg, pPath)
                                      : SaveStr("%s/%s/reloc/%s", workDir, pkg, pPath);
      if (GetFileType(pMember) == 2)
        RefuseArchive("the member \"%s\", which the package map copies, is a link",
                      MemberName(&w, pMember));
      PutMem(pMember);
    }
    CloseInputFile();
  }
  PutMem(pMap);
  PutMem(w.pRealWork);
}
