// flow_guard_test.cpp - the running-process guard before an existing installation is touched:
// the report of the product's running programs, waiting for them, quitting, wrong answers and
// the end of input.
#include <regex>

#include "tests/support/sandbox.h"

using namespace ktest;

namespace {

const char kHead[] =
    "\nThe following processes are running.\nThe installer can not continue until these "
    "terminate:\n";
const char kMenu[] =
    "Would you like to:\n1.  Wait 30 seconds for these processes to terminate\n2.  Quit the "
    "installation\n\nEnter a selection:  ";
const char kNotRoot[] = "....bob is logged in\nYou must become root to run setup\n...\n";

class Guard : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    MakeStandInDist();
    MakeInstallation("/opt");
  }
  // The report and menu for the given report lines (a regular expression).
  static std::string Round(const std::string& reportRe) {
    return Escape(kHead) + reportRe + "\\n" + Escape(kMenu);
  }
  static std::string Escape(const std::string& s) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(s, special, R"(\$&)");
  }
  static std::string DriverLine() { return "driver \\( [0-9]+ \\)\\n"; }
  // Nothing after the guard: no copy, no clean-up, the installation untouched.
  void ExpectNothingDone() {
    EXPECT_EQ(Log(), "initializing system\n");
    EXPECT_FALSE(Exists(At("/tmp/kpqadmin.calls")));
    EXPECT_TRUE(Exists(At("/opt/Korvi/kvln/bin/marker")));
  }
};

TEST_F(Guard, QuitEndsTheRunAtOnce) {
  RunResult r = RunSetup({}, "y\n2\n", {"--user", "bob", "--proc", "driver"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(std::regex_match(r.after, std::regex(Round(DriverLine())))) << r.after;
  EXPECT_EQ(r.err, "");
  ExpectNothingDone();
}

TEST_F(Guard, ReportsEveryRunningProgramInListOrder) {
  RunResult r = RunSetup({}, "y\n2\n",
                 {"--user", "bob", "--proc", "driver", "--proc", "ksf", "--proc", "kpadmin"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(std::regex_match(
      r.after, std::regex(Round("kpadmin \\( [0-9]+ \\)\\nksf \\( [0-9]+ \\)\\n" + DriverLine()))))
      << r.after;
}

TEST_F(Guard, ProgramsOutsideTheListDoNotCount) {
  RunResult r = RunSetup({}, "y\n", {"--user", "bob", "--proc", "cupsd", "--proc", "drivers"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.after, kNotRoot);
}

TEST_F(Guard, WrongAnswerShowsReportAndMenuAgain) {
  RunResult r = RunSetup({}, "y\nx\n\n\n2\n", {"--user", "bob", "--proc", "driver"});
  EXPECT_EQ(r.status, 0);
  // "x" and its newline, then an empty line whose newline swallows the next, then "2".
  std::string round = Round(DriverLine());
  EXPECT_TRUE(std::regex_match(r.after, std::regex(round + round + round))) << r.after;
  ExpectNothingDone();
}

TEST_F(Guard, EndOfInputCountsAsQuit) {
  for (const char* input : {"y\n", "y\nx\n"}) {
    RunResult r = RunSetup({}, input, {"--user", "bob", "--proc", "driver"});
    EXPECT_EQ(r.status, 0);
    std::string round = Round(DriverLine());
    std::string expected = std::string(input) == "y\n" ? round : round + round;
    EXPECT_TRUE(std::regex_match(r.after, std::regex(expected + "\\n"))) << r.after;
    ExpectNothingDone();
  }
}

TEST_F(Guard, WaitingGoesOnOnceTheProgramsEnd) {
  // driver ends after 7 seconds: the second five-second step finds nothing running and the
  // installation goes on without another word from the guard.
  RunResult r = RunSetup({}, "y\n1\n", {"--user", "bob", "--proc", "driver:7"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(std::regex_match(r.after, std::regex(Round(DriverLine()) + Escape(kNotRoot))))
      << r.after;
  EXPECT_EQ(ReadFile(At("/tmp/kpqadmin.calls")),
            "kpqadmin -upgrade LANG=unset\nkpqadmin -clean LANG=unset\n");
}

TEST_F(Guard, NoGuardWithoutAPreviousInstallation) {
  Shell("rm -rf " + Quote(At("/opt/Korvi")));
  RunResult r = RunSetup({}, "y\n", {"--user", "bob", "--proc", "driver"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.after, kNotRoot);
}

}  // namespace
