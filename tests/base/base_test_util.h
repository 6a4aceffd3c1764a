// base_test_util.h - what the foundation's tests share: running a piece of code in a child
// process with its output captured, and reading, writing and inspecting files.
#ifndef KORVI_TESTS_BASE_TEST_UTIL_H
#define KORVI_TESTS_BASE_TEST_UTIL_H

#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

namespace base_test {

const std::string kFixtures = std::string(KORVI_SOURCE_DIR) + "/tests/base/fixtures";

struct Child {
  int Status;  // exit code, or 128 + signal
  std::string Out, Err;
};

// Runs fn in a child process (a run of its own) with standard output and error captured.
inline Child RunChild(const std::function<void()>& fn) {
  fflush(stdout);
  fflush(stderr);
  int po[2], pe[2];
  if (pipe(po) != 0 || pipe(pe) != 0) abort();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(po[1], 1);
    dup2(pe[1], 2);
    close(po[0]);
    close(pe[0]);
    close(po[1]);
    close(pe[1]);
    fn();
    fflush(stdout);
    fflush(stderr);
    _exit(0);
  }
  close(po[1]);
  close(pe[1]);
  Child c{0, "", ""};
  struct pollfd fds[2] = {{po[0], POLLIN, 0}, {pe[0], POLLIN, 0}};
  int nOpen = 2;
  while (nOpen > 0) {
    poll(fds, 2, -1);
    for (int i = 0; i < 2; i++) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        nOpen--;
      } else {
        (i ? c.Err : c.Out).append(buf, static_cast<size_t>(n));
      }
    }
  }
  int st = 0;
  waitpid(pid, &st, 0);
  c.Status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return c;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

inline void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << text;
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

inline int ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

inline bool IsRegular(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace base_test

#endif  // KORVI_TESTS_BASE_TEST_UTIL_H
