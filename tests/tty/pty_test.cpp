// The prompts as a person meets them: tty_probe runs in a shell inside a tmux pseudo-terminal,
// keys are typed with send-keys and the screen is read back with capture-pane.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "tests/tty/pane_test_util.h"

namespace {

constexpr int kPolls = 600;  // 50 ms apart: 30 seconds for a slow, busy machine
const std::string kProbe = std::string(KORVI_BINARY_DIR) + "/tty/tty_probe";

// Standard output of a shell command.
std::string Run(const std::string& cmd) { return pane_test::Capture(cmd); }

using pane_test::Quote;

// One tmux server of its own with one window running an interactive bash.
class Terminal {
 public:
  Terminal(int width, int height) {
    static int counter = 0;
    sock_ = "korvi_tty_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    Tmux("-f /dev/null new-session -d -s t -x " + std::to_string(width) + " -y " +
         std::to_string(height) + " " + Quote("env -i PATH=/usr/bin:/bin TERM=xterm PS1='$ ' "
                                              "bash --norc --noprofile -i"));
    WaitFor("$ ");
  }
  ~Terminal() { Tmux("kill-server"); }

  std::string Tmux(const std::string& args) {
    return Run("tmux -L " + sock_ + " " + args + " 2>/dev/null");
  }
  void Type(const std::string& text) { Tmux("send-keys -t t -l " + Quote(text)); }
  void Key(const std::string& key) { Tmux("send-keys -t t " + key); }
  void Line(const std::string& text) {
    Type(text);
    Key("Enter");
  }
  // The screen as text, wrapped lines joined (blanks at line ends kept).
  std::string Screen() { return Tmux("capture-pane -p -J -t t"); }
  // Types a command line once the shell shows its prompt on the last line.
  void Command(const std::string& text) {
    for (int i = 0; i < kPolls && !AtPrompt(); i++) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Line(text);
  }
  bool AtPrompt() {
    std::string s = Screen();
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s == "$ " || (s.size() >= 3 && s.compare(s.size() - 3, 3, "\n$ ") == 0);
  }
  // True once text is on the screen (30 seconds at most).
  bool WaitFor(const std::string& text) {
    for (int i = 0; i < kPolls; i++) {
      if (Screen().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  // The terminal's echo flag as stty reports it in the shell: "echo" or "-echo".
  std::string EchoFlag() {
    auto count = [this] {
      std::string s = Screen();
      size_t n = 0;
      for (size_t at = s.find("\nflag:"); at != std::string::npos; at = s.find("\nflag:", at + 1)) n++;
      return n;
    };
    size_t before = count();
    Command("stty -a | tr ' ' '\\n' | grep -x -e echo -e -echo | sed 's/^/flag:/'");
    for (int i = 0; i < kPolls && count() == before; i++) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::string s = Screen();
    size_t at = s.rfind("\nflag:");
    return at == std::string::npos ? "" : s.substr(at + 6, s.find('\n', at + 1) - at - 6);
  }

 private:
  std::string sock_;
};

bool HaveTmux() { return system("command -v tmux >/dev/null 2>&1") == 0; }

}  // namespace

class PtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTmux()) GTEST_SKIP() << "tmux is not installed (scripts/deps.sh installs it)";
  }
};

TEST_F(PtyTest, PromptYNAsksUntilYOrNAndEndsAtEndOfInput) {
  Terminal t(200, 24);
  t.Command(kProbe + " yn");
  ASSERT_TRUE(t.WaitFor("Continue? [y/n] "));
  t.Line("Y");
  t.Line("yes");
  ASSERT_TRUE(t.WaitFor("answer="));
  EXPECT_NE(t.Screen().find("Continue? [y/n] Y\nContinue? [y/n] yes\nanswer=1\n"), std::string::npos)
      << t.Screen();
  t.Command(kProbe + " yn");
  ASSERT_TRUE(t.WaitFor("answer=1\n$ " + kProbe + " yn\nContinue? [y/n] "));
  t.Key("C-d");
  ASSERT_TRUE(t.WaitFor("answer=-1")) << t.Screen();
}

TEST_F(PtyTest, PromptUserReadsALineOrEnds) {
  Terminal t(200, 24);
  t.Command(kProbe + " user");
  ASSERT_TRUE(t.WaitFor("Name: "));
  t.Line("kvln admin");
  ASSERT_TRUE(t.WaitFor("Name: kvln admin\ngot=kvln admin\n")) << t.Screen();
  t.Command(kProbe + " user");
  ASSERT_TRUE(t.WaitFor("got=kvln admin\n$ " + kProbe + " user\nName: "));
  t.Key("C-d");
  ASSERT_TRUE(t.WaitFor("got=(end)")) << t.Screen();
}

TEST_F(PtyTest, PassPhraseIsNotEchoedAndEchoComesBack) {
  Terminal t(200, 24);
  ASSERT_EQ(t.EchoFlag(), "echo");
  t.Command(kProbe + " pass");
  ASSERT_TRUE(t.WaitFor("Pass phrase: "));
  t.Line("typed-secret");  // 12 characters, byte sum 1241
  ASSERT_TRUE(t.WaitFor("pass=")) << t.Screen();
  EXPECT_NE(t.Screen().find("Pass phrase: \npass=12 sum=1241 echo=on\n"), std::string::npos)
      << t.Screen();
  EXPECT_EQ(t.Screen().find("typed-secret"), std::string::npos);
  EXPECT_EQ(t.EchoFlag(), "echo");
}

TEST_F(PtyTest, PassPhraseEndedByASignalOrTheWaitLeavesEchoOn) {
  Terminal t(200, 24);
  t.Command(kProbe + " pass");
  ASSERT_TRUE(t.WaitFor("Pass phrase: "));
  t.Type("half-typed");
  t.Key("C-c");  // SIGINT: caught, terminal restored, delivered again: the probe ends
  ASSERT_TRUE(t.WaitFor("Pass phrase: \n\n$ ")) << t.Screen();
  EXPECT_EQ(t.Screen().find("half-typed"), std::string::npos);
  EXPECT_EQ(t.EchoFlag(), "echo");

  t.Command(kProbe + " passwait 1");
  ASSERT_TRUE(t.WaitFor("pass=(none) echo=on")) << t.Screen();
  t.Command(kProbe + " pass");
  ASSERT_TRUE(t.WaitFor(kProbe + " pass\nPass phrase: "));
  t.Key("C-d");
  ASSERT_TRUE(t.WaitFor("Pass phrase: \npass=(none) echo=on")) << t.Screen();
}

TEST_F(PtyTest, PassPhraseStoppedAndContinuedAsksAgain) {
  Terminal t(200, 24);
  t.Command(kProbe + " pass");
  ASSERT_TRUE(t.WaitFor("Pass phrase: "));
  t.Type("abc");
  t.Key("C-z");  // SIGTSTP: the terminal is restored before the probe stops
  ASSERT_TRUE(t.WaitFor("Stopped")) << t.Screen();
  EXPECT_EQ(t.EchoFlag(), "echo");
  t.Command("fg");
  ASSERT_TRUE(t.WaitFor("fg\n" + kProbe + " pass\nPass phrase: ")) << t.Screen();
  t.Line("ok");
  ASSERT_TRUE(t.WaitFor("pass=2 sum=218 echo=on")) << t.Screen();  // the phrase starts over
}

TEST_F(PtyTest, GetTermInfoTakesTheTerminalsSize) {
  Terminal t(100, 30);
  t.Command(kProbe + " size");
  ASSERT_TRUE(t.WaitFor("size=100x30")) << t.Screen();
}
