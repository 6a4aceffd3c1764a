// flow_agreement_test.cpp - the agreement prompt of a real setup run: each answer form,
// "-v" after consent, and the languages as a run sees them: every agreement text, and the
// setup messages of the six message tables.
#include "tests/support/sandbox.h"

using namespace ktest;

namespace {

class Agreement : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    MakeStandInDist();
  }
};

TEST_F(Agreement, ConsentFormsGoOnAndVersionFollows) {
  for (const char* answer : {"y\n", "Y\n", "yes\n", "Yes\n", "yo\n", "y", "yesplease\n"}) {
    RunResult r = RunSetup({"-v"}, answer);
    EXPECT_EQ(r.status, 0) << answer;
    EXPECT_EQ(r.out, AgreementPrompt()) << answer;
    EXPECT_EQ(r.err, "setup 4.50.29\n") << answer;
    // Consent switched the log on: the command table was resolved.
    EXPECT_EQ(Log(), "initializing system\n") << answer;
  }
}

TEST_F(Agreement, RefusalFormsStopSilentlyAndTouchNothing) {
  for (const char* answer : {"n\n", "no\n", "\n", "", " y\n", "x\n", "N\n", "\ty\n"}) {
    RunResult r = RunSetup({"-v"}, answer);
    EXPECT_EQ(r.status, 0) << answer;
    EXPECT_EQ(r.out, AgreementPrompt()) << answer;
    EXPECT_EQ(r.err, "") << answer;
    EXPECT_FALSE(Exists(At("/tmp/setup.log"))) << answer;
    EXPECT_FALSE(Exists(At("/tmp/KorviInstall"))) << answer;
    EXPECT_EQ(Calls(), "") << answer;
  }
}

TEST_F(Agreement, RefusalBeforeAnyArgumentIsLookedAt) {
  // A work area that would be made, refused at the prompt: nothing is made.
  RunResult r = RunSetup({"/tmp/newarea"}, "n\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(Exists(At("/tmp/newarea")));
}

TEST_F(Agreement, ThreeCharacterAnswerLeavesTheRestForTheNextPrompt) {
  // "yes" is read as three characters; its newline is what the process guard reads first
  // (and the character after it, "x", is skipped): the guard shows its menu again, then
  // "2" quits. With "y" the guard reads "2" at once.
  MakeInstallation("/opt");
  RunResult r = RunSetup({}, "yes\nx2\n", {"--user", "bob", "--proc", "driver"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Count(r.after, "Enter a selection:  "), 2);
  RunResult r2 = RunSetup({}, "y\n2\n", {"--user", "bob", "--proc", "driver"});
  EXPECT_EQ(r2.status, 0);
  EXPECT_EQ(Count(r2.after, "Enter a selection:  "), 1);
}

TEST_F(Agreement, LangVariantsLeadToTheirLanguagesAgreement) {
  const char* const cases[][2] = {
      {"fr_CA", "fr_FR"},      {"de_DE", "ge_GE"}, {"zh_TW.BIG5", "zh_TW"}, {"es", "pr_BR"},
      {"sv_FI", "fi_FI"},      {"nb_NO", "no_NO"}, {"C", "en_US"},          {"POSIX", "en_US"},
      {"ko_KR", "en_US"},      {"", "en_US"},
  };
  for (const auto& c : cases) {
    RunResult r = RunSetup({"-v"}, "n\n", {"--user", "bob"}, c[0]);
    EXPECT_EQ(r.out, AgreementPrompt(c[1])) << c[0];
    EXPECT_EQ(r.status, 0) << c[0];
    EXPECT_EQ(r.err, "") << c[0];
  }
}

TEST_F(Agreement, CodesetSuffixIsCutForTheCommandsRunLater) {
  // The queue tool of an installation found under /opt records the LANG it sees.
  MakeInstallation("/opt");
  RunResult r = RunSetup({}, "y\n", {"--user", "bob"}, "fr_FR.ISO8859-1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.agreement, "fr_FR");
  EXPECT_EQ(ReadFile(At("/tmp/kpqadmin.calls")),
            "kpqadmin -upgrade LANG=fr_FR\nkpqadmin -clean LANG=fr_FR\n");
  // The setup messages follow the cut value: French.
  EXPECT_EQ(r.after, "....bob est connect\xe9\nVous devez \xeatre root pour lancer setup\n...\n");
}

// Each agreement language, chosen by its own code: its text is shown and "y" goes on.
class AgreementLanguage : public Agreement, public testing::WithParamInterface<std::string> {};

TEST_P(AgreementLanguage, ShowsItsTextAndAcceptsY) {
  const std::string code = GetParam();
  RunResult r = RunSetup({"-v"}, "y\n", {"--user", "bob"}, code.c_str());
  EXPECT_EQ(r.out, AgreementPrompt(code));
  EXPECT_EQ(r.agreement, code);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "setup 4.50.29\n");
  EXPECT_EQ(Log(), "initializing system\n");  // consent: the command table was resolved
}

INSTANTIATE_TEST_SUITE_P(Codes, AgreementLanguage, testing::ValuesIn(AgreementCodes()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           return info.param;
                         });

// The setup messages in each of the six codes (ISO 8859-1 bytes) and in a code that has
// only an agreement: a run without a file list, and one by a user who is not root.
struct SetupCase {
  const char* lang;
  const char* noFileList;  // the message of a distribution without "disks", on stderr
  const char* notRoot;     // the message to user bob, between the progress dots
};
const SetupCase kSetupCases[] = {
    {"en_US", "ERROR: can't open file, KorviInstall/disks\n",
     "bob is logged in\nYou must become root to run setup\n"},
    {"es_ES", "ERROR: no se puede abrir el archivo KorviInstall/disks\n",
     "bob ha iniciado la sesi\xf3n\nDebe ser root para ejecutar setup\n"},
    {"it_IT", "ERROR: impossibile aprire il file KorviInstall/disks\n",
     "bob \xe8 collegato\nPer eseguire setup occorre essere root\n"},
    {"fr_FR", "ERROR: impossible d'ouvrir le fichier KorviInstall/disks\n",
     "bob est connect\xe9\nVous devez \xeatre root pour lancer setup\n"},
    {"ge_GE", "ERROR: Datei KorviInstall/disks kann nicht ge\xf6" "ffnet werden\n",
     "bob ist angemeldet\nSie m\xfcssen root sein, um setup auszuf\xfchren\n"},
    {"pr_BR", "ERROR: n\xe3o \xe9 poss\xedvel abrir o arquivo KorviInstall/disks\n",
     "bob est\xe1 conectado\nVoc\xea precisa ser root para executar setup\n"},
    {"de_DE", "ERROR: can't open file, KorviInstall/disks\n",
     "bob is logged in\nYou must become root to run setup\n"},
};

class SetupLanguage : public Agreement, public testing::WithParamInterface<SetupCase> {};

TEST_P(SetupLanguage, EarlyStopsSpeakTheLanguage) {
  const SetupCase& c = GetParam();
  RunResult r = RunSetup({}, "y\n", {"--user", "bob"}, c.lang);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.after, std::string("....") + c.notRoot + "...\n");

  Shell("rm -f " + Quote(At("/tmp/dist/disks")));
  r = RunSetup({}, "y\n", {"--user", "bob"}, c.lang);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.after, "");
  EXPECT_EQ(r.err, c.noFileList);
}

INSTANTIATE_TEST_SUITE_P(Codes, SetupLanguage, testing::ValuesIn(kSetupCases),
                         [](const testing::TestParamInfo<SetupCase>& info) {
                           return std::string(info.param.lang);
                         });

}  // namespace
