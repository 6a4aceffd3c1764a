// ShellSafe, the check of outside texts, and the hostile texts it stands between: nothing they
// hold may run, and a refused text reaches no command line.
#include <cctype>

#include "syscmd_fixture.h"

namespace {

using kvtest::SysCmdTest;
using namespace ktest;

TEST(ShellSafe, AcceptsThePlainCharacters) {
  for (const char* p : {"/opt/Korvi/kvln", "pkg_tar.aa", "VLMRkvln", "a+b,c:d@e%f=g", "x-y",
                        "/tmp/KorviInstall", "Solarisi386Kvln.tar.Z", "", "0123456789",
                        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._/-+,:@%="}) {
    EXPECT_EQ(ShellSafe(p, 0), 1) << p;
    EXPECT_EQ(ShellSafe(p, 2), 1) << p;  // a safe text never ends the program
  }
}

const char* const kHostile[] = {
    "$(touch /tmp/kvX)", "`touch /tmp/kvX`", "a\"b", "a;b", "/opt /x", "a\nb", "a\tb",
    "a'b", "a|b", "a&b", "a>b", "a<b", "a\\b", "a*b", "a?b", "a[b]", "~root", "a{b}", "a(b)",
    "a!b", "a#b", "a$b", "-rf", "--help", "a\rb", "caf\xc3\xa9", "a\x7f"};

TEST(ShellSafe, RefusesEverythingElse) {
  for (const char* p : kHostile) EXPECT_EQ(ShellSafe(p, 0), 0) << p;
  EXPECT_EQ(ShellSafe(nullptr, 0), 0);
  for (int c = 1; c < 256; c++) {
    char text[2] = {static_cast<char>(c), 0};
    bool plain = isalnum(c) && c < 128;
    EXPECT_EQ(ShellSafe(text, 0), plain || (c != '-' && strchr("._/+,:@%=", c) != nullptr)) << c;
  }
}

TEST(ShellSafe, ReportLevels) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(ShellSafe("a;b", 0), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  testing::internal::CaptureStderr();
  EXPECT_EQ(ShellSafe("/opt /x", 1), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: unsafe text for a command, a character other than letters, digits and "
            "._/-+,:@%=: \"/opt /x\"\n");

  testing::internal::CaptureStderr();
  EXPECT_EQ(ShellSafe("x\n$(id)\x01", 1), 0);  // shown with its control characters escaped
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: unsafe text for a command, a character other than letters, digits and "
            "._/-+,:@%=: \"x\\n$(id)\\001\"\n");

  testing::internal::CaptureStderr();
  EXPECT_EQ(ShellSafe("-rf", 1), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: unsafe text for a command, a leading '-': \"-rf\"\n");

  testing::internal::CaptureStderr();
  EXPECT_EQ(ShellSafe(nullptr, 1), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: unsafe text for a command, no text: \"\"\n");

  EXPECT_EXIT(ShellSafe("a`b`", 2), testing::ExitedWithCode(1),
              "^ERROR: unsafe text for a command, .*: \"a`b`\"\n$");

  std::string longText(2000, 'a');
  longText[1000] = ';';
  testing::internal::CaptureStderr();
  EXPECT_EQ(ShellSafe(longText.c_str(), 1), 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_LT(err.size(), 700u);  // cut, not overflowing
  EXPECT_NE(err.find("...\"\n"), std::string::npos);
}

TEST_F(SysCmdTest, RefusalIsLogged) {
  testing::internal::CaptureStderr();
  ShellSafe("a;b", 1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(LogTail(),
            "ERROR: unsafe text for a command, a character other than letters, digits and "
            "._/-+,:@%=: \"a;b\"\n");
}

// Every hostile text handed to the queries that build command lines from a path: refused,
// and nothing it holds runs (no marker file, no df or du run at all).
TEST_F(SysCmdTest, HostileTextsRunNothing) {
  TempDir t;
  std::string marker = t / "X";
  std::string dfRecord = t / "df.rec";
  setenv("KV_DF_RECORD", dfRecord.c_str(), 1);
  std::vector<std::string> texts;
  for (const char* p : kHostile) texts.push_back(p);
  texts.push_back("$(touch " + marker + ")");
  texts.push_back("`touch " + marker + "`");
  texts.push_back(t.path + "\"; touch " + marker + "; \"");
  texts.push_back(t.path + ";touch " + marker);
  texts.push_back(t.path + "\ntouch " + marker);
  texts.push_back(t.path + " " + marker);
  for (const std::string& s : texts) {
    DiskSpace ds;
    EXPECT_EQ(GetDiskSpace(s.c_str(), &ds), 0) << s;
    EXPECT_EQ(DUPath(s.c_str()), 0.0) << s;
    EXPECT_EQ(AvailSpace(s.c_str(), nullptr, 0), 0) << s;
    EXPECT_EQ(AvailSpace(t.path.c_str(), s.c_str(), 0), 0) << s;
    auto r = RunChild([&] {
      if (ShellSafe(s.c_str(), 2)) SysCmd(kCmdTouch, kSysCmdLog, "%s", s.c_str());
    });
    EXPECT_EQ(r.status, 1) << s;
    EXPECT_EQ(r.out, "") << s;  // no dot: nothing was run
  }
  EXPECT_EQ(access(marker.c_str(), F_OK), -1);
  EXPECT_EQ(access("/tmp/kvX", F_OK), -1);
  EXPECT_EQ(ReadFile(dfRecord), "");
  EXPECT_EQ(Recorded(), "");
  unsetenv("KV_DF_RECORD");

  // The same texts without the check would have run: the guard is what stops them.
  SysCmd(kCmdTouch, kSysCmdQuiet, "%s", ("$(touch " + marker + ")").c_str());
  EXPECT_EQ(access(marker.c_str(), F_OK), 0);
}

}  // namespace
