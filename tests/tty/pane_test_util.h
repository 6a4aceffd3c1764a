// pane_test_util.h - terminal programs as a person uses them: a command runs in a tmux pane
// of its own server, keys are typed with send-keys and the screen is read back with
// capture-pane and compared as text.
#ifndef KORVI_TESTS_TTY_PANE_TEST_UTIL_H
#define KORVI_TESTS_TTY_PANE_TEST_UTIL_H

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace pane_test {

// text quoted for sh.
inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Standard output of a shell command.
inline std::string Capture(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// One tmux server of its own, one pane (80 columns, rows as given) running a command; when the
// command ends the pane shows "[exit N]" with its status.
class Pane {
 public:
  explicit Pane(const std::string& command, int rows = 40) {
    sock_ = "korvi_pane_" + std::to_string(getpid()) + "_" + std::to_string(++count_);
    Tmux("new-session -d -x 80 -y " + std::to_string(rows) + " " +
         Quote("TERM=xterm " + command + "; echo \"[exit $?]\"; sleep 60"));
  }
  ~Pane() { Tmux("kill-server"); }
  // Types text, then Enter.
  void Line(const std::string& text) {
    if (!text.empty()) Tmux("send-keys -l " + Quote(text));
    Tmux("send-keys Enter");
  }
  // Sends one key by its tmux name ("C-d").
  void Key(const std::string& name) { Tmux("send-keys " + name); }
  // The screen, each row without its trailing blanks, trailing empty rows dropped.
  std::string Screen() {
    std::string s = Tmux("capture-pane -p");
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
  }
  // Waits until the screen is exactly screen (up to 30 s); returns what was there last.
  std::string WaitForScreen(const std::string& screen) {
    std::string s;
    for (int i = 0; i < 600; i++) {  // up to 30 s on a busy machine
      s = Screen();
      if (s == screen) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return s;
  }

 private:
  std::string Tmux(const std::string& args) {
    return Capture("tmux -L " + sock_ + " " + args + " 2>/dev/null");
  }
  std::string sock_;
  static inline int count_ = 0;
};

}  // namespace pane_test

#endif  // KORVI_TESTS_TTY_PANE_TEST_UTIL_H
