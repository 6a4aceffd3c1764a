// Running commands: the exact command lines, log lines, progress dots and redirections of the
// three modes, quiet rows, failures and their exit codes, settle delays, output capture and
// SysCmdP. The stand-in sh of the fixtures records each text it is given; index 0 and 1 lines
// are read back from /proc/<pid>/cmdline of the shell system() starts.
#include <ctime>

#include "syscmd_fixture.h"

namespace {

using kvtest::FixDir;
using kvtest::SysCmdTest;
using namespace ktest;

// argv[2] of a process's NUL-separated command line (the text of "sh -c <text>").
std::string ShText(const std::string& cmdline) {
  std::vector<std::string> argv;
  size_t start = 0;
  for (size_t i = 0; i < cmdline.size(); i++) {
    if (cmdline[i] == '\0') {
      argv.push_back(cmdline.substr(start, i - start));
      start = i + 1;
    }
  }
  return argv.size() >= 3 ? argv[2] : "(no text: " + std::to_string(argv.size()) + " args)";
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

TEST_F(SysCmdTest, Mode1LogsTheLineAndPrintsOneDot) {
  TempDir t;
  t.Touch("victim");
  std::string victim = t / "victim";
  testing::internal::CaptureStdout();
  int rc = SysCmd(kCmdRm, kSysCmdLog, "%s", victim.c_str());
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(out, ".");
  EXPECT_EQ(access(victim.c_str(), F_OK), -1);
  // The logged line ends with the caller's text: opening quote in, redirections and closing
  // quote out.
  EXPECT_EQ(LogTail(), Sh() + " -c \"/usr/bin/rm -f " + victim + "\n");
  // What sh ran: the tool, its arguments, the text and both redirections into the log.
  EXPECT_EQ(Recorded(), "/usr/bin/rm -f " + victim + " 1>>/tmp/" + my_name + ".log 2>>/tmp/" +
                            my_name + ".log\n");
}

TEST_F(SysCmdTest, Mode1AppendsTheToolsOutputToTheLog) {
  testing::internal::CaptureStdout();
  SysCmd(kCmdEcho, kSysCmdLog, "%s", "hello log");
  SysCmd(kCmdLs, kSysCmdLog, "%s", "/nonexistent/kv");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "..");
  std::string log = LogTail();
  // Two blanks after a tool with empty default arguments; the tool's output follows its line.
  std::string head = Sh() + " -c \"/usr/bin/echo  hello log\nhello log\n" + Sh() +
                     " -c \"/usr/bin/ls  /nonexistent/kv\n";
  EXPECT_EQ(log.substr(0, head.size()), head);
  // ls's complaint went to the log too, then the warning with the exit status.
  EXPECT_NE(log.find("/nonexistent/kv", head.size()), std::string::npos) << log;
  EXPECT_TRUE(EndsWith(log, "\nWARNING_MSG: exit status 2\n")) << log;
}

TEST_F(SysCmdTest, EmptyArgumentsGiveTwoBlanksAndALeadingBlankThree) {
  SysCmd(kCmdEcho, kSysCmdQuiet, "%s", "a");
  SysCmd(kCmdEcho, kSysCmdQuiet, " %s", "b");
  SysCmd(kCmdCp, kSysCmdQuiet, "%s", "/nonexistent/x /nonexistent/y");
  EXPECT_EQ(Recorded(),
            "/usr/bin/echo  a 1>/dev/null 2>/dev/null\n"
            "/usr/bin/echo   b 1>/dev/null 2>/dev/null\n"
            "/usr/bin/cp -p /nonexistent/x /nonexistent/y 1>/dev/null 2>/dev/null\n");
}

TEST_F(SysCmdTest, Mode0DiscardsAndNeverLogs) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  int rc = SysCmd(kCmdLs, kSysCmdQuiet, "%s", "/nonexistent/kv");
  std::string err = testing::internal::GetCapturedStderr();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(rc, 0);  // the status is returned, nothing reported
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "");
  EXPECT_EQ(LogTail(), "");
}

TEST_F(SysCmdTest, LoggingOffSendsOutputToDevNull) {
  flUseLog = 0;
  Init(FixDir("bin") + ":/usr/bin");
  testing::internal::CaptureStdout();
  SysCmd(kCmdEcho, kSysCmdLog, "%s", "x");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "");  // no dot without command logging
  EXPECT_EQ(Recorded(), "/usr/bin/echo  x 1>>/dev/null 2>>/dev/null\n");
  EXPECT_EQ(LogTail(), "");
}

TEST_F(SysCmdTest, QuietNegativeIndex) {
  testing::internal::CaptureStdout();
  int rc = SysCmd(-kCmdEcho, kSysCmdLog, "%s", "on the terminal");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(out, "on the terminal\n");  // no dot, and the tool's output is not redirected
  EXPECT_EQ(LogTail(), "");             // no log line
  EXPECT_EQ(Recorded(), "/usr/bin/echo  on the terminal\n");
}

TEST_F(SysCmdTest, QuietIndexStillFailsFatally) {
  auto r = RunChild([] { SysCmd(-kCmdLs, kSysCmdFatal, "%s", "/nonexistent/kv"); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "ERROR: exit status 2\n");  // no dot; the failure line on standard output
  EXPECT_NE(r.err.find("/nonexistent/kv"), std::string::npos);  // ls spoke on the terminal
  EXPECT_EQ(LogTail(), "ERROR: exit status 2\n");
}

TEST_F(SysCmdTest, Mode2FailureLogsPrintsAndExits1) {
  EXPECT_EXIT(SysCmd(kCmdLs, kSysCmdFatal, "%s", "/nonexistent/kv"), testing::ExitedWithCode(1),
              "");
  MarkLog();
  auto r = RunChild([] { SysCmd(kCmdLs, kSysCmdFatal, "%s", "/nonexistent/kv"); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, ".ERROR: exit status 2\n");
  EXPECT_EQ(r.err, "");  // ls's complaint went to the log
  std::string log = LogTail();
  std::string first = Sh() + " -c \"/usr/bin/ls  /nonexistent/kv\n";
  ASSERT_GE(log.size(), first.size());
  EXPECT_EQ(log.substr(0, first.size()), first);
  EXPECT_TRUE(EndsWith(log, "\nERROR: exit status 2\n")) << log;
}

TEST_F(SysCmdTest, Mode2SuccessContinues) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(SysCmd(kCmdLs, kSysCmdFatal, "%s", "/"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), ".");
}

TEST_F(SysCmdTest, FailureReasonNamesTheSignal) {
  int rc = SysCmd(kCmdNone, kSysCmdLog, "%s", "kill -KILL $$");
  EXPECT_NE(rc, 0);
  EXPECT_EQ(LogTail(), "kill -KILL $$\nWARNING_MSG: killed by signal 9\n");
  auto r = RunChild([] { SysCmd(kCmdNone, kSysCmdFatal, "%s", "exit 7"); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, ".ERROR: exit status 7\n");
}

TEST_F(SysCmdTest, Index0And1CommandLines) {
  TempDir t;
  std::string rec = t / "cmdline";
  // The caller's text runs as it is; only the redirections follow, without a closing quote.
  std::string text = "cat /proc/$$/cmdline | tee " + rec;
  SysCmd(kCmdNoneQuiet, kSysCmdQuiet, "%s", text.c_str());
  EXPECT_EQ(ShText(ReadFile(rec)), text + " 1>/dev/null 2>/dev/null");

  testing::internal::CaptureStdout();
  SysCmd(kCmdNone, kSysCmdLog, "%s", text.c_str());
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, ".");
  std::string log = "/tmp/" + std::string(my_name) + ".log";
  EXPECT_EQ(ShText(ReadFile(rec)), text + " 1>>" + log + " 2>>" + log);
  std::string tail = LogTail();
  EXPECT_EQ(tail.substr(0, text.size() + 1), text + "\n");  // the line, then cat's own output

  // Index 0 is quiet: no dot, no log line, no redirection in mode 1.
  testing::internal::CaptureStdout();
  MarkLog();
  SysCmd(kCmdNoneQuiet, kSysCmdLog, "%s 1>/dev/null", text.c_str());
  out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "");
  EXPECT_EQ(LogTail(), "");
  EXPECT_EQ(ShText(ReadFile(rec)), text + " 1>/dev/null");
  EXPECT_EQ(Recorded(), "");  // rows 0 and 1 never go through the sh row
}

TEST_F(SysCmdTest, UnresolvedToolEndsWithExitCode0) {
  EXPECT_EXIT(SysCmd(kCmdPkgadd, kSysCmdLog, "-d %s", "/tmp"), testing::ExitedWithCode(0),
              "^ERROR: unable to locate system command 'pkgadd'\n$");
  EXPECT_EXIT(GetCmdResponse(kCmdPkginfo, "", "%s", ""), testing::ExitedWithCode(0),
              "^ERROR: unable to locate system command 'pkginfo'\n$");
  EXPECT_EXIT(GetCmdResponseStr(kCmdLpsched, nullptr, "%s", ""), testing::ExitedWithCode(0),
              "^ERROR: unable to locate system command 'lpsched'\n$");
  EXPECT_EXIT(SysCmd(90, kSysCmdQuiet, "%s", ""), testing::ExitedWithCode(0),
              "^ERROR: unable to locate system command '#90'\n$");
  auto r = RunChild([] { SysCmd(kCmdPkgadd, kSysCmdLog, "%s", "x"); });
  EXPECT_EQ(r.out, "");  // nothing ran, no dot
}

TEST_F(SysCmdTest, UnresolvedShellEndsToo) {
  ComList[kCmdSh].pDir = nullptr;
  EXPECT_EXIT(SysCmd(kCmdLs, kSysCmdQuiet, "%s", "/"), testing::ExitedWithCode(0),
              "^ERROR: unable to locate system command 'sh'\n$");
}

TEST_F(SysCmdTest, TooLongLineNeverRuns) {
  TempDir t;
  std::string marker = t / "ran";
  std::string longArg(4100, 'a');
  int rc = SysCmd(kCmdTouch, kSysCmdLog, "%s %s", marker.c_str(), longArg.c_str());
  EXPECT_NE(rc, 0);
  EXPECT_EQ(access(marker.c_str(), F_OK), -1);
  EXPECT_EQ(LogTail(), "WARNING_MSG: command line too long\n");
  auto r = RunChild([&] {
    SysCmd(kCmdTouch, kSysCmdFatal, "%s %s", marker.c_str(), longArg.c_str());
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "ERROR: command line too long\n");
  EXPECT_EQ(access(marker.c_str(), F_OK), -1);
  // A line that just fits runs: 4095 characters in all.
  std::string head = Sh() + " -c \"/usr/bin/touch  " + marker + " ";
  std::string tail = " 1>/dev/null 2>/dev/null\"";
  std::string fill(4095 - head.size() - tail.size(), 'b');
  fill[0] = '/';  // "/bbb..." is too long a name to touch: it fails, after running
  EXPECT_NE(SysCmd(kCmdTouch, kSysCmdQuiet, "%s %s", marker.c_str(), fill.c_str()), -1);
  EXPECT_EQ(access(marker.c_str(), F_OK), 0);
}

// SysCmdP's line buffer holds 512 bytes: a command of 511 characters runs as written, one
// of 512, 513 or 5120 characters never runs and is reported.
TEST_F(SysCmdTest, SysCmdPLineAtItsLimits) {
  TempDir t;
  std::string marker = t / "ran";
  for (size_t len : {511u, 512u, 513u, 5120u}) {
    std::string cmd = "touch " + marker + " #";
    cmd += std::string(len - cmd.size(), 'c');
    auto r = RunChild([&] { SysCmdP(kSysCmdLog, "%s", cmd.c_str()); });
    EXPECT_EQ(r.status, 0) << len;
    if (len < 512) {
      EXPECT_EQ(r.out, cmd + "\n") << len;
      EXPECT_EQ(r.err, "") << len;
      EXPECT_EQ(access(marker.c_str(), F_OK), 0) << len;
      unlink(marker.c_str());
    } else {
      EXPECT_EQ(r.out, "") << len;
      EXPECT_EQ(r.err, "ERROR: command line too long\n") << len;
      EXPECT_EQ(access(marker.c_str(), F_OK), -1) << len;
    }
  }
}

TEST_F(SysCmdTest, SettleDelayFollowsTheCommand) {
  time_t t0 = time(nullptr);
  SysCmd(kCmdAccept, kSysCmdQuiet, "%s", "q1");
  EXPECT_GE(time(nullptr) - t0, 1);  // accept settles one second
}

TEST_F(SysCmdTest, CaptureReturnsLinesInOrder) {
  CmdResponse* p = GetCmdResponse(kCmdNone, "", "%s", "printf 'one\\ntwo\\nthree\\n'");
  std::vector<std::string> lines;
  for (CmdResponse* q = p; q; q = q->pNext) lines.push_back(q->pText);
  EXPECT_EQ(lines, (std::vector<std::string>{"one\n", "two\n", "three\n"}));
  EXPECT_EQ(p->pText, reinterpret_cast<char*>(p + 1));  // text in the node's own allocation
  FreeResponseList(p);

  p = GetCmdResponse(kCmdNone, "t", "%s", "printf 'one\\ntwo\\nthree'");
  lines.clear();
  for (CmdResponse* q = p; q; q = q->pNext) lines.push_back(q->pText);
  EXPECT_EQ(lines, (std::vector<std::string>{"two\n", "three"}));  // last line as read
  FreeResponseList(p);

  EXPECT_EQ(GetCmdResponse(kCmdNone, "zzz", "%s", "printf 'one\\n'"), nullptr);
  EXPECT_EQ(GetCmdResponse(kCmdNone, "", "%s", "true"), nullptr);
  EXPECT_EQ(LogTail(), "");  // capture logs nothing
  EXPECT_EQ(Recorded(), "");  // and does not use the sh row
}

TEST_F(SysCmdTest, CaptureCommandLineOfATool) {
  // popen's shell prints its own command line: "<dir>/<tool> <args> <text>".
  std::string text = "x; cat /proc/$$/cmdline | tr '\\000' '\\n'";
  CmdResponse* p = GetCmdResponse(kCmdEcho, "", "%s", text.c_str());
  std::vector<std::string> lines;
  for (CmdResponse* q = p; q; q = q->pNext) lines.push_back(q->pText);
  FreeResponseList(p);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "x\n");
  EXPECT_EQ(lines[2], "-c\n");
  EXPECT_EQ(lines[3], "/usr/bin/echo  " + text + "\n");

  p = GetCmdResponse(kCmdPs, "", "%s", "; cat /proc/$$/cmdline | tr '\\000' '\\n' | tail -1");
  std::string last;
  for (CmdResponse* q = p; q; q = q->pNext) last = q->pText;
  FreeResponseList(p);
  EXPECT_EQ(last, "/usr/bin/ps -e ; cat /proc/$$/cmdline | tr '\\000' '\\n' | tail -1\n");
}

TEST_F(SysCmdTest, CaptureOnlyStandardOutput) {
  testing::internal::CaptureStderr();
  CmdResponse* p = GetCmdResponse(kCmdLpd, "LPRng", "%s", " -V");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(err, "lpd: version 1.0\n");  // standard error reaches the terminal

  setenv("KV_LPD_LPRNG", "1", 1);
  p = GetCmdResponse(kCmdLpd, "LPRng", "%s", " -V 2>&1");
  unsetenv("KV_LPD_LPRNG");
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p->pText, "lpd: LPRng-3.8.28, Copyright 1988-2004 Patrick Powell\n");
  EXPECT_EQ(p->pNext, nullptr);
  FreeResponseList(p);
}

TEST_F(SysCmdTest, CaptureLongLinesArriveInPieces) {
  CmdResponse* p = GetCmdResponse(kCmdNone, nullptr, "%s", "printf '%05000d\\n' 0");
  ASSERT_NE(p, nullptr);
  ASSERT_NE(p->pNext, nullptr);
  EXPECT_EQ(strlen(p->pText), 4095u);
  EXPECT_EQ(std::string(p->pNext->pText), std::string(905, '0') + "\n");
  EXPECT_EQ(p->pNext->pNext, nullptr);
  FreeResponseList(p);
}

TEST_F(SysCmdTest, CaptureAsOneText) {
  char* s = GetCmdResponseStr(kCmdNone, "", "%s", "printf 'a\\nbb\\nc'");
  EXPECT_STREQ(s, "a\nbb\nc\n");  // a newline added to the last line
  PutMem(s);
  s = GetCmdResponseStr(kCmdNone, "b", "%s", "printf 'a\\nbb\\nc\\nb2\\n'");
  EXPECT_STREQ(s, "bb\nb2\n");
  PutMem(s);
  EXPECT_EQ(GetCmdResponseStr(kCmdNone, "", "%s", "true"), nullptr);
  EXPECT_EQ(GetCmdResponseStr(kCmdNone, "q", "%s", "echo a"), nullptr);

  // Many lines grow the text.
  s = GetCmdResponseStr(kCmdNone, nullptr, "%s", "seq 1 3000");
  ASSERT_NE(s, nullptr);
  std::string expect;
  for (int i = 1; i <= 3000; i++) expect += std::to_string(i) + "\n";
  EXPECT_EQ(std::string(s), expect);
  PutMem(s);

  s = GetCmdResponseStr(kCmdEcho, nullptr, "%s", "hi");
  EXPECT_STREQ(s, "hi\n");
  PutMem(s);
}

TEST_F(SysCmdTest, SysCmdPEchoesRunsAndSleeps) {
  TempDir t;
  std::string marker = t / "p";
  auto r = RunChild([&] { SysCmdP(kSysCmdLog, "touch %s", marker.c_str()); });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "touch " + marker + "\n");
  EXPECT_EQ(access(marker.c_str(), F_OK), 0);

  r = RunChild([] { SysCmdP(kSysCmdLog, "%s", "exit 3"); });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "exit 3\n");
  EXPECT_EQ(r.err, "ERROR: exit status 3\n");

  r = RunChild([] { SysCmdP(kSysCmdFatal, "%s", "exit 3"); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: exit status 3\n");

  r = RunChild([] { exit(SysCmdP(kSysCmdQuiet, "%s", "exit 3")); });
  EXPECT_EQ(r.status, 0);  // the result is the status of the sleep that follows
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

}  // namespace
