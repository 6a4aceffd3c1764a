// Dbm_io.cpp - database paths, the chained XOR and the locked rewrite that publishes a change.
// A change is written to <file>_new while this process holds an exclusive lock on that file,
// synced, renamed over <file>, and the directory synced: a crash leaves the old or the new
// file whole, and a second writer waits for the lock and then reads the published file.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <endian.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/utils.h"
#include "db/Dbm_private.h"

int DbDirPath(char* buf, int size) {
  const char* pTool = (pToolPath && *pToolPath) ? pToolPath : ".";
  int n = snprintf(buf, size_t(size), "%s/db", pTool);
  return n > 0 && n < size;
}

int DbFilePath(char* buf, int size, const char* name, const char* ext) {
  const char* pTool = (pToolPath && *pToolPath) ? pToolPath : ".";
  int n = snprintf(buf, size_t(size), "%s/db/%s.%s", pTool, name, ext);
  return n > 0 && n < size;
}

int DbMakeDir(const char* dir) {
  struct stat st;
  if (stat(dir, &st) == 0) return S_ISDIR(st.st_mode) ? 1 : 0;
  char szParent[kDbPathMax];
  size_t n = strlen(dir);
  if (n >= sizeof szParent) return 0;
  memcpy(szParent, dir, n + 1);
  while (n > 1 && szParent[n - 1] == '/') szParent[--n] = 0;  // "a/b/" -> "a/b"
  char* pSlash = strrchr(szParent, '/');
  if (pSlash && pSlash != szParent) {
    *pSlash = 0;
    if (!DbMakeDir(szParent)) return 0;
  }
  if (mkdir(dir, 0777) != 0) return errno == EEXIST && stat(dir, &st) == 0 && S_ISDIR(st.st_mode);
  chmod(dir, 0777);  // the database directory is shared: 777 whatever the umask
  return 1;
}

void DbScramble(unsigned char* dst, const unsigned char* src, int n) {
  if (n <= 0) return;
  for (int i = 0; i < n - 1; i++) dst[i] = (unsigned char)(src[i] ^ src[i + 1]);
  dst[n - 1] = src[n - 1];
}

// Plain byte i is the XOR of the stored bytes from i to the end. Eight bytes at a time from
// the end: a suffix XOR inside the word (three shifts), then the XOR of everything after it.
void DbUnscramble(unsigned char* dst, const unsigned char* src, int n) {
  if (n <= 0) return;
  uint64_t carry = 0;  // XOR of the stored bytes after the current word
  int i = n;
  for (; i >= 8; i -= 8) {
    uint64_t w;
    memcpy(&w, src + i - 8, 8);
    w = le64toh(w);
    w ^= w >> 8;
    w ^= w >> 16;
    w ^= w >> 32;
    w ^= carry * 0x0101010101010101ull;
    carry = w & 0xFF;
    w = htole64(w);
    memcpy(dst + i - 8, &w, 8);
  }
  unsigned char c = (unsigned char)carry;
  while (i-- > 0) dst[i] = c = (unsigned char)(src[i] ^ c);
}

namespace {

void SyncDir(const char* path) {
  char szDir[kDbPathMax];
  DirPart(path, szDir, sizeof szDir);
  int fd = open(szDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

int DbRewriteBegin(DbRewrite* rw, const char* target) {
  rw->fd = -1;
  if (!target) return 0;
  int n = snprintf(rw->szTarget, sizeof rw->szTarget, "%s", target);
  if (n <= 0 || n >= int(sizeof rw->szTarget)) return 0;
  n = snprintf(rw->szNew, sizeof rw->szNew, "%s_new", target);
  if (n <= 0 || n >= int(sizeof rw->szNew)) return 0;
  char szDir[kDbPathMax];
  DirPart(target, szDir, sizeof szDir);
  if (!DbMakeDir(szDir)) return 0;
  // The lock lives on the rewrite file's inode. A writer that waited may wake up holding the
  // inode that the previous writer has just renamed over the database: then the name no
  // longer leads to it, and it tries again with a fresh rewrite file.
  for (int attempt = 0; attempt < 10000; attempt++) {
    int fd = open(rw->szNew, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return 0;
    int rc;
    while ((rc = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    struct stat stFd, stName;
    if (rc == 0 && fstat(fd, &stFd) == 0 && stat(rw->szNew, &stName) == 0 &&
        stFd.st_dev == stName.st_dev && stFd.st_ino == stName.st_ino) {
      if (stFd.st_size != 0 && ftruncate(fd, 0) != 0) {  // left behind by a crash
        close(fd);
        return 0;
      }
      if ((stFd.st_mode & 07777) != 0666) fchmod(fd, 0666);  // whatever the umask
      rw->fd = fd;
      return 1;
    }
    close(fd);
    if (rc != 0) return 0;
  }
  return 0;
}

int DbRewriteWrite(DbRewrite* rw, const void* data, int64_t len) {
  const char* p = static_cast<const char*>(data);
  while (len > 0) {
    ssize_t n = write(rw->fd, p, size_t(len));
    if (n < 0) {
      if (errno == EINTR) continue;
      return 0;
    }
    p += n;
    len -= n;
  }
  return 1;
}

int DbRewriteCommit(DbRewrite* rw, FILE* file, struct stat* st) {
  int ok = rw->fd >= 0;
  if (ok && file && fflush(file) != 0) ok = 0;
  if (ok && fsync(rw->fd) != 0) ok = 0;
  if (ok && st && fstat(rw->fd, st) != 0) ok = 0;
  if (ok && rename(rw->szNew, rw->szTarget) != 0) ok = 0;
  if (ok) {
    SyncDir(rw->szTarget);
  } else if (rw->fd >= 0) {
    unlink(rw->szNew);  // still ours: the lock is held
  }
  if (file) {
    fclose(file);
  } else if (rw->fd >= 0) {
    close(rw->fd);
  }
  rw->fd = -1;
  return ok;
}

void DbRewriteAbort(DbRewrite* rw, FILE* file) {
  if (rw->fd >= 0) unlink(rw->szNew);
  if (file) {
    fclose(file);
  } else if (rw->fd >= 0) {
    close(rw->fd);
  }
  rw->fd = -1;
}
