// flow_agreement_test.cpp - the agreement prompt of a real setup run: each answer form,
// "-v" after consent, and the language rules as a run sees them.
#include "flow_harness.h"

namespace flow {
namespace {

class Agreement : public FlowTest {
 protected:
  void SetUp() override {
    FlowTest::SetUp();
    MakeDist();
  }
};

TEST_F(Agreement, ConsentFormsGoOnAndVersionFollows) {
  for (const char* answer : {"y\n", "Y\n", "yes\n", "Yes\n", "yo\n", "y", "yesplease\n"}) {
    Result r = Run({"-v"}, answer);
    EXPECT_EQ(r.status, 0) << answer;
    EXPECT_EQ(r.out, AgreementPrompt()) << answer;
    EXPECT_EQ(r.err, "setup 4.50.29\n") << answer;
    // Consent switched the log on: the command table was resolved.
    EXPECT_EQ(Log(), "initializing system\n") << answer;
  }
}

TEST_F(Agreement, RefusalFormsStopSilentlyAndTouchNothing) {
  for (const char* answer : {"n\n", "no\n", "\n", "", " y\n", "x\n", "N\n", "\ty\n"}) {
    Result r = Run({"-v"}, answer);
    EXPECT_EQ(r.status, 0) << answer;
    EXPECT_EQ(r.out, AgreementPrompt()) << answer;
    EXPECT_EQ(r.err, "") << answer;
    EXPECT_FALSE(Exists(H("/tmp/setup.log"))) << answer;
    EXPECT_FALSE(Exists(H("/tmp/KorviInstall"))) << answer;
    EXPECT_EQ(Calls(), "") << answer;
  }
}

TEST_F(Agreement, RefusalBeforeAnyArgumentIsLookedAt) {
  // A work area that would be made, refused at the prompt: nothing is made.
  Result r = Run({"/tmp/newarea"}, "n\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(Exists(H("/tmp/newarea")));
}

TEST_F(Agreement, ThreeCharacterAnswerLeavesTheRestForTheNextPrompt) {
  // "yes" is read as three characters; its newline is what the process guard reads first
  // (and the character after it, "x", is skipped): the guard shows its menu again, then
  // "2" quits. With "y" the guard reads "2" at once.
  MakeInstallation("/opt");
  Result r = Run({}, "yes\nx2\n", {"--user", "bob", "--proc", "driver"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Count(r.after, "Enter a selection:  "), 2);
  Result r2 = Run({}, "y\n2\n", {"--user", "bob", "--proc", "driver"});
  EXPECT_EQ(r2.status, 0);
  EXPECT_EQ(Count(r2.after, "Enter a selection:  "), 1);
}

TEST_F(Agreement, EveryLanguageShowsTheEnglishTextUntilTranslated) {
  for (const char* lang : {"fr_FR.ISO8859-1", "fr_CA", "de_DE", "ja_JP", "zh_TW.BIG5", "C",
                           "POSIX", "es", ""}) {
    Result r = Run({"-v"}, "n\n", {"--user", "bob"}, lang);
    EXPECT_EQ(r.out, AgreementPrompt()) << lang;
    EXPECT_EQ(r.status, 0) << lang;
  }
}

TEST_F(Agreement, CodesetSuffixIsCutForTheCommandsRunLater) {
  // The queue tool of an installation found under /opt records the LANG it sees.
  MakeInstallation("/opt");
  Result r = Run({}, "y\n", {"--user", "bob"}, "fr_FR.ISO8859-1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadAll(H("/tmp/kpqadmin.calls")),
            "kpqadmin -upgrade LANG=fr_FR\nkpqadmin -clean LANG=fr_FR\n");
  // The setup messages stay English for fr_FR until the French table is translated.
  EXPECT_NE(r.after.find("bob is logged in\nYou must become root to run setup\n"),
            std::string::npos);
}

TEST_F(Agreement, SetupMessagesInEveryLanguageCode) {
  for (const char* lang : {"en_US", "es_ES", "it_IT", "fr_FR", "ge_GE", "pr_BR", "de_DE"}) {
    Result r = Run({}, "y\n", {"--user", "bob"}, lang);
    EXPECT_EQ(r.status, 0) << lang;
    EXPECT_EQ(r.after, "....bob is logged in\nYou must become root to run setup\n...\n") << lang;
  }
}

}  // namespace
}  // namespace flow
