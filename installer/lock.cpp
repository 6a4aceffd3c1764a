// lock.cpp - one installer at a time. A run holds a write lock (fcntl) on the whole of
// "/tmp/KorviInstall.lock" from before its first change to its exit; the kernel drops the lock
// when the process ends, however it ends, so a killed run never blocks the next one. /tmp is
// writable by everyone: the file is opened without following links, and one that this user
// does not own alone (planted, or another user's) is replaced. A run that finds the lock held
// refuses at once (exit 1) and changes nothing. An orderly exit removes the file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/utils.h"
#include "installer/setup.h"

namespace {

constexpr char kLockPath[] = "/tmp/KorviInstall.lock";
constexpr int kOpenTries = 5;  // replacements of a file someone else keeps putting there

// The lock this process holds.
struct RunLock {
  int fd = -1;
  pid_t owner = 0;  // the process that took it (a forked child must not remove it)
  dev_t dev = 0;
  ino_t ino = 0;
};
RunLock Held;

void RemoveLockFile() {
  if (Held.fd < 0 || getpid() != Held.owner) return;
  struct stat st;
  // Only the file this run locked: a file that replaced it belongs to someone else.
  if (lstat(kLockPath, &st) == 0 && st.st_dev == Held.dev && st.st_ino == Held.ino)
    unlink(kLockPath);
}

// The lock file, opened for writing: a regular file of this user's alone. -1 with errno set
// when it cannot be had.
int OpenLockFile() {
  for (int i = 0; i < kOpenTries; i++) {
    int fd = open(kLockPath, O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd >= 0) {
      struct stat st;
      if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
          st.st_nlink == 1 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return fd;
      close(fd);
    } else if (errno != ELOOP && errno != EACCES && errno != EPERM && errno != EMLINK) {
      return -1;
    }
    // A link, or a file of another user: not ours to lock. Take its place.
    if (unlink(kLockPath) != 0 && errno != ENOENT) return -1;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

void LockOutOtherRuns() {
  for (int i = 0; i < kOpenTries; i++) {
    int fd = OpenLockFile();
    if (fd < 0)
      ErrorMsg(2, 1, "cannot make the lock file %s (%s); setup was not started", kLockPath,
               strerror(errno));
    struct flock fl;
    memset(&fl, 0, sizeof fl);
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (fcntl(fd, F_SETLK, &fl) != 0) {
      int nErr = errno;
      if (nErr != EAGAIN && nErr != EACCES)
        ErrorMsg(2, 1, "cannot lock %s (%s); setup was not started", kLockPath, strerror(nErr));
      // Held by another run: name it when the system tells which.
      fl.l_type = F_WRLCK;
      long pid = fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK
                     ? static_cast<long>(fl.l_pid) : 0;
      char szWho[32] = "";
      if (pid > 0) snprintf(szWho, sizeof szWho, " (process %ld)", pid);
      ErrorMsg(2, 1, "another setup is running%s; nothing was changed. Wait until it has "
                     "ended, then run setup again", szWho);
    }
    // Locked: it counts only when the path still names this file (a run ending at this
    // moment removes its file; then the lock is taken again on a new one).
    struct stat stFd, stPath;
    if (fstat(fd, &stFd) == 0 && lstat(kLockPath, &stPath) == 0 &&
        stFd.st_dev == stPath.st_dev && stFd.st_ino == stPath.st_ino) {
      fcntl(fd, F_SETFD, FD_CLOEXEC);  // the commands the run starts do not inherit it
      Held.fd = fd;
      Held.owner = getpid();
      Held.dev = stFd.st_dev;
      Held.ino = stFd.st_ino;
      atexit(RemoveLockFile);
      return;
    }
    close(fd);
  }
  ErrorMsg(2, 1, "the lock file %s keeps being replaced; setup was not started", kLockPath);
}
