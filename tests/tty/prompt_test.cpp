// Prompts fed through a pipe: the answers PromptYN takes and refuses, end of input for every
// prompt, PromptUser's buffers, PostMsg, TestName and the pass-phrase reader without a terminal.
#include <gtest/gtest.h>

#include <string>

#include "tests/tty/tty_test_util.h"
#include "tty/TextMenu.h"
#include "tty/tty_private.h"

using tty_test::RunWithInput;

namespace {

class PromptTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { tty_test::OpenTestCatalogue(); }
};

std::string AskYN(const std::string& input) {
  return RunWithInput(input, [] { printf("=%d", PromptYN("Install %s", "kvln")); }).out;
}

}  // namespace

TEST_F(PromptTest, PromptYNTakesOnlyLowerCaseYAndN) {
  EXPECT_EQ(AskYN("Y\nyes\n"), "Install kvln? [y/n] Install kvln? [y/n] =1");
  EXPECT_EQ(AskYN("N\n\n maybe\nnope\n"),
            "Install kvln? [y/n] Install kvln? [y/n] Install kvln? [y/n] Install kvln? [y/n] =0");
  EXPECT_EQ(AskYN("y"), "Install kvln? [y/n] =1");  // a last line without its line feed
}

TEST_F(PromptTest, PromptYNEndsAtEndOfInput) {
  EXPECT_EQ(AskYN(""), "Install kvln? [y/n] =-1");
  EXPECT_EQ(AskYN("Y\nx\n"), "Install kvln? [y/n] Install kvln? [y/n] Install kvln? [y/n] =-1");
}

TEST_F(PromptTest, PromptYNDropsTheRestOfALongLine) {
  std::string longLine = "x" + std::string(5000, 'y') + "\nn\n";
  EXPECT_EQ(AskYN(longLine), "Install kvln? [y/n] Install kvln? [y/n] =0");
}

TEST_F(PromptTest, PromptUserReadsIntoTheBufferOrASavedCopy) {
  auto c = RunWithInput("first\n" + std::string(1500, 'z') + "\nthird\n", [] {
    char buf[kLineBufSize];
    char* p = PromptUser("Name (100%%, %s): ", buf);
    printf("[%s %d]", p, p == buf);
    char* q = PromptUser("> ", nullptr);
    printf("[%zu]", strlen(q));
    printf("[%s]", PromptUser("> ", nullptr));
    printf("[%s]", PromptUser("> ", nullptr) ? "line" : "null");
  });
  EXPECT_EQ(c.out, "Name (100%, %s): [first 1]> [1023]> [third]> [null]");
}

TEST_F(PromptTest, PostMsgWaitsForEnterAndEndsAtEndOfInput) {
  auto c = RunWithInput("ok\n", [] {
    char* p = PostMsg("Disk %d is full.\n", 2);
    printf("[%s]", p ? p : "null");
    p = PostMsg("Again.");
    printf("[%s]", p ? p : "null");
  });
  EXPECT_EQ(c.out, "Disk 2 is full.\n[Enter][ok]Again.[Enter][null]");
}

TEST_F(PromptTest, MissingMessagesShowError) {
  auto c = RunWithInput("\n", [] {
    pDrvCoreDB = nullptr;
    PostMsg("Text. ");
    printf("=%d", TestName("a b"));
  });
  EXPECT_EQ(c.out, "Text. ErrorErrorError=-1");
}

TEST_F(PromptTest, TestNameReportsTheFirstBadCharacter) {
  auto c = RunWithInput("\n", [] {
    printf("=%d", TestName("good_Name-42"));
    printf("=%d", TestName(""));
    printf("=%d", TestName("bad/name x"));
    printf("=%d", TestName("n\xe9"));
  });
  EXPECT_EQ(c.out,
            "=1=1Bad character '/'. Use letters, digits, _ and -.\n=0"
            "Bad character '\xe9'. Use letters, digits, _ and -.\n=-1");
}

TEST_F(PromptTest, PassPhraseFromAPipeWithoutATerminal) {
  // setsid: no controlling terminal, so the reader falls back to standard input and error.
  auto read = [](const std::string& input) {
    return RunWithInput(input, [] {
      setsid();
      char* p = ReadPassPhrase("Pass phrase: ", 2);
      printf("[%s]", p ? p : "null");
      p = ReadPassPhrase("Again: ", 1);
      printf("[%s]", p ? p : "null");
    });
  };
  auto c = read("open sesame\rrest\n");
  EXPECT_EQ(c.out, "[open sesame][rest]");
  EXPECT_EQ(c.err, "Pass phrase: Again: ");
  c = read(std::string(300, 's') + "\n");
  EXPECT_EQ(c.out, "[" + std::string(256, 's') + "][" + std::string(44, 's') + "]");
  c = read("\nlast");
  EXPECT_EQ(c.out, "[][last]");
  c = read("");
  EXPECT_EQ(c.out, "[null][null]");
}
