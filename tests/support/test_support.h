// test_support.h - what every test binary shares: paths of the checkout and the build,
// reading, writing and inspecting files, texts for sh and pieces of output, shell commands
// and child processes with their output captured, and temporary directories.
// The sandbox of the simulated host is in sandbox.h beside this file.
#ifndef KORVI_TESTS_SUPPORT_TEST_SUPPORT_H
#define KORVI_TESTS_SUPPORT_TEST_SUPPORT_H

#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace ktest {

// ---- Paths of the checkout and the build ----

inline std::string Src(const std::string& rel) { return std::string(KORVI_SOURCE_DIR) + "/" + rel; }
inline std::string Built(const std::string& rel) {
  return std::string(KORVI_BINARY_DIR) + "/" + rel;
}
inline std::string SetupBinary() { return Built("installer/setup"); }

// ---- Files ----

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Writes text to path (its directories made as needed); mode >= 0 sets the permission bits.
inline void WriteFile(const std::string& path, const std::string& text, int mode = -1) {
  std::error_code ec;
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  if (mode >= 0) chmod(path.c_str(), static_cast<mode_t>(mode));
}

// Exists, IsDir, IsLink and IsRegular look at path itself, not where a link leads.
inline bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}
inline bool IsDir(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
inline bool IsLink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}
inline bool IsRegular(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
inline std::string LinkText(const std::string& path) {
  char buf[4096];
  ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
  return n < 0 ? "" : std::string(buf, static_cast<size_t>(n));
}

// Permission bits of path (following links), -1 when it does not exist.
inline int Mode(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

inline long FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
}

// ---- Texts ----

// Quoted for sh: every text passes through unchanged.
inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream ss(text);
  for (std::string line; std::getline(ss, line);) out.push_back(line);
  return out;
}

// The lines of text that start with prefix.
inline std::vector<std::string> Grep(const std::string& text, const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& l : Lines(text))
    if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l);
  return out;
}

inline bool HasLine(const std::string& text, const std::string& line) {
  for (const std::string& l : Lines(text))
    if (l == line) return true;
  return false;
}

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

inline int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) n++;
  return n;
}

inline std::string Join(const std::vector<std::string>& v, const std::string& sep = " ") {
  std::string out;
  for (size_t i = 0; i < v.size(); i++) out += (i ? sep : "") + v[i];
  return out;
}

// The words of a blank-framed listing.
inline std::multiset<std::string> Words(const char* listing) {
  std::multiset<std::string> out;
  std::istringstream in(listing ? listing : "");
  for (std::string w; in >> w;) out.insert(w);
  return out;
}

// ---- Commands and child processes ----

// What a command or a child left: exit status (128 + signal when killed) and its output.
struct Result {
  int status = -1;
  std::string out, err;
};

inline int StatusOf(int waitStatus) {
  return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

// Runs a command line through sh; its exit status.
inline int Shell(const std::string& cmd) { return StatusOf(std::system(cmd.c_str())); }

// Runs a command line through sh with its standard output captured (error output goes
// where the command line sends it).
inline Result Capture(const std::string& cmd) {
  Result r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
  r.status = StatusOf(pclose(p));
  return r;
}

// Runs fn in a child process with standard output and error captured; the child ends with
// status 0 when fn returns.
inline Result RunChild(const std::function<void()>& fn) {
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
  Result r;
  struct pollfd fds[2] = {{po[0], POLLIN, 0}, {pe[0], POLLIN, 0}};
  for (int nOpen = 2; nOpen > 0;) {
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
        (i ? r.err : r.out).append(buf, static_cast<size_t>(n));
      }
    }
  }
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = StatusOf(st);
  return r;
}

// ---- Temporary directories ----

// A fresh directory /tmp/korvi_<tag>_XXXXXX, removed with everything in it at the end
// (kept when KORVI_KEEP_TMP is set, or after Keep()).
class TempDir {
 public:
  explicit TempDir(const std::string& tag = "test") {
    std::string tmpl = "/tmp/korvi_" + tag + "_XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data())) {
      perror("mkdtemp");
      abort();
    }
    path = buf.data();
  }
  ~TempDir() {
    if (!flKeep && !getenv("KORVI_KEEP_TMP")) Shell("rm -rf " + Quote(path));
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string operator/(const std::string& rel) const { return path + "/" + rel; }
  // Writes a file of the directory.
  void Touch(const std::string& rel, const std::string& text = "") const {
    WriteFile(*this / rel, text);
  }
  void Keep() { flKeep = true; }

  std::string path;

 private:
  bool flKeep = false;
};

}  // namespace ktest

#endif  // KORVI_TESTS_SUPPORT_TEST_SUPPORT_H
