// The menu display, selection and run loop, and the full-screen picker, each run in a child
// process with the answers as its standard input. The "clear" command is a stand-in that
// prints "<clear>"; texts come from the English catalogue built beside the tests.
#include <gtest/gtest.h>

#include <string>

#include "base/utils.h"
#include "nls/NlsUtils.h"
#include "syscmd/SysCmd.h"
#include "tests/tty/menu_test_util.h"
#include "tests/tty/tty_test_util.h"
#include "tty/TextMenu.h"

using menu_test::Menu;
using tty_test::RunWithInput;

namespace {

const std::string kClearDir = std::string(KORVI_SOURCE_DIR) + "/tests/tty/fixtures/bin";

// What every child does first: the catalogue, and "clear" from the fixtures.
void Setup() {
  pToolPath = const_cast<char*>(KORVI_BINARY_DIR);
  pDrvCoreDB = NlsOpenDB("CoreString", 2);
  if (!pDrvCoreDB) abort();
  ResetSysCmdList();
  static std::string dir = kClearDir;
  FillCmdPaths(dir.c_str());
  my_name = const_cast<char*>("kmenu");
}

ktest::Result InChild(const std::string& input, const std::function<void()>& fn) {
  return RunWithInput(input, [&] {
    Setup();
    fn();
  });
}

// A menu of every item type.
struct AllTypes : Menu {
  Menu Sub{"Network"};
  AllTypes() {
    Sub.Add("Host", kItemOptText);
    Add("Queue lp0", kItemLabel);
    Add("", kItemLabelBar);
    Add("", kItemLabel);
    AddText("Name", kItemText, "lp0");
    AddText("Note", kItemOptText, nullptr);
    Add("Paper", kItemOneOf, 1, "_A4,_Letter, Legal");
    int trays = Add("Trays", kItemSomeOf, 0, "_Upper,_Lower,_Manual");
    Items[trays].Value = 5;
    Add("Copies", kItemInt, 2);
    Add("Scale", kItemFloat, MenuFloatWord(2.5));
    int sub = Add("Network", kItemSubmenu);
    Items[sub].Value = reinterpret_cast<intptr_t>(Sub.Get());
    int dim = Add("Speed", kItemInt, 9600);
    Items[dim].State = kItemDimmed;
    int hidden = Add("Secret", kItemInt, 1);
    Items[hidden].State = kItemHidden;
    Add("Reload", kItemCommand);
    Add("~e Exit Help", kItemExit);
    Add("", kItemBar, 0);
    Items.back().Value = 2;
    Add("Test page", kItemCommand);
    Add("~a Accept", kItemAccept);
  }
};

std::string Printed(TextMenu* m, int style, int flags = 0) {
  m->TitleStyle = style;
  m->Flags = static_cast<uint16_t>(flags);
  return InChild("", [&] {
           int dot = InitMenu(m);
           int walked = PrintMenu(m, dot, StrLen(m->szTitle));
           printf("|%d", walked);
         })
      .out;
}

}  // namespace

TEST(PrintMenu, EveryItemTypeInBothTitleStyles) {
  AllTypes m;
  TextMenu* menu = m.Get();
  const std::string body =
      "Queue lp0 \n"
      "\n"
      "\n"     // the label bar: a line feed for its label
      "\n\n"
      " 1) Name ........ [lp0]\n"
      "\n"
      " 2) Note ........ []\n"
      "\n"
      " 3) Paper ....... [2. Letter]\n"
      "\n"
      " 4) Trays ....... [1,3]\n"
      "\n"
      " 5) Copies ...... [2]\n"
      "\n"
      " 6) Scale ....... [2.500]\n"
      "\n"
      " 7) Network \n"
      "\n"
      "    Speed ....... [9600]\n"
      "\n"
      "10) Reload \n"
      "\n"
      " e) Exit Help \n"
      "\n"
      "11) Test page" + std::string(25, ' ') + " "  // cut after 38 characters, then a blank
      " a) Accept" + std::string(28, ' ') + " \n"
      "\n"
      "\n"
      "Enter=leave\n"
      "Selection: |17";
  EXPECT_EQ(Printed(menu, 0), "<clear>\f\nQueue settings:\n\n" + body);
  EXPECT_EQ(Printed(menu, 1), "<clear>\f\n" + std::string(33, ' ') + "Queue settings\n\n" + body);
  EXPECT_EQ(Printed(menu, 2), "<clear>\f\n" + std::string(66, ' ') + "Queue settings\n\n" + body);
  EXPECT_EQ(Printed(menu, 3), "<clear>" + body);
}

TEST(PrintMenu, FooterAndSpacingByFlags) {
  Menu m;
  m.Add("Reload", kItemCommand);
  m.Add("Paper", kItemOneOf, 0, "_A4,_Letter");
  TextMenu* menu = m.Get();
  const std::string items = "<clear> 1) Reload \n 2) Paper . [1. A4]\n";
  EXPECT_EQ(Printed(menu, 3, kMenuNoBlankLine), items + "\nEnter=leave\nSelection: |2");
  EXPECT_EQ(Printed(menu, 3, kMenuNoBlankLine | kMenuEnterSelects | kMenuHelp),
            items + "\nh=help   \nSelection: |2");
  EXPECT_EQ(Printed(menu, 3, kMenuNoBlankLine | kMenuSaveAs),
            items + "\ns=save settings   Enter=leave\nSelection: |2");
  EXPECT_EQ(Printed(menu, 3, kMenuNoBlankLine | kMenuSaveExit | kMenuHelp),
            items + "\ns=save settings   h=help   Enter=leave\nSelection: |2");
}

namespace {

// Runs the menu on the given input and prints each item's value after it, one per line.
std::string Values(Menu& m, const std::string& input, int flags = kMenuNoBlankLine) {
  TextMenu* menu = m.Get();
  menu->Flags = static_cast<uint16_t>(flags | kMenuKeepValues);
  menu->TitleStyle = 3;
  ktest::Result c = InChild(input, [&] {
    RunMenu(menu, nullptr, 1);
    fprintf(stderr, "values:");
    for (TextMenuItem* it = menu->pItems; it->szText; it++) {
      if (it->Type == kItemText || it->Type == kItemOptText) {
        fprintf(stderr, " %s", reinterpret_cast<const char*>(it->Value));
      } else if (it->Type == kItemFloat) {
        fprintf(stderr, " %.3f", MenuFloat(it->Value));
      } else if (it->Type >= kItemOneOf) {
        fprintf(stderr, " %ld", static_cast<long>(it->Value));
      }
    }
  });
  size_t at = c.err.find("values:");
  return at == std::string::npos ? c.err : c.err.substr(at);
}

int g_Actions = 0;
int CountAction(TextMenu*, TextMenuItem*) { return g_Actions++, 0; }

}  // namespace

TEST(FindSelection, NumbersHotKeysAndOptions) {
  Menu m;
  m.Add("~e Exit Help", kItemExit);
  m.Add("Paper", kItemOneOf, 0, "_A4, Letter,_Legal,_A3");
  m.Add("Copies", kItemInt, 1, nullptr, "d(1,99)");
  m.AddText("Name", kItemText, "lp0", "A(1,8)");
  m.Add("Scale", kItemFloat, MenuFloatWord(1.0));
  // Typing 1 moves to the next shown choice (Letter is hidden); "1 4" picks the fourth; "1 2"
  // names a hidden choice and moves on instead; E leaves.
  EXPECT_EQ(Values(m, "1\n1 4\n1 2\n2 7\n3 lp9\n4 2.5\nE\n"), "values: 0 7 lp9 2.500");
  EXPECT_EQ(Values(m, "1\n1 4\nE\n"), "values: 3 1 lp0 1.000");
  EXPECT_EQ(Values(m, "1\nE\n"), "values: 2 1 lp0 1.000");
  // Unknown numbers and keys select nothing; a prompt takes the value when the line has none.
  EXPECT_EQ(Values(m, "9\nq\n0\n2\n42\ne\n"), "values: 0 42 lp0 1.000");
}

TEST(ProcessSelection, RefusedEntriesKeepTheValue) {
  Menu m;
  m.Add("Copies", kItemInt, 1, nullptr, "d(1,99)");
  m.AddText("Name", kItemText, "lp0", "A(1,8)");
  m.Add("Scale", kItemFloat, MenuFloatWord(1.0));
  m.Add("~x Exit", kItemExit);
  TextMenu* menu = m.Get();
  menu->TitleStyle = 3;
  menu->Flags = kMenuNoBlankLine | kMenuKeepValues;
  ktest::Result c = InChild("1 100\n\n2 a-b\n\n3 1.5x\n\n3 1e999\n\nx\n", [&] {
    RunMenu(menu, nullptr, 1);
    fprintf(stderr, "%ld %s %.3f", static_cast<long>(m[0].Value), m.Text(1), MenuFloat(m[2].Value));
  });
  EXPECT_EQ(c.err, "1 lp0 1.000");
  EXPECT_NE(c.out.find("The number must be from 1 to 99.\nPress Enter to continue."), std::string::npos);
  EXPECT_NE(c.out.find("The character '-' is not allowed here"), std::string::npos);
  EXPECT_NE(c.out.find("The character 'x' is not allowed in a number.\n"), std::string::npos);
}

TEST(RunMenu, LeavingSavingAndTheEndOfInput) {
  Menu m;
  m.Add("Copies", kItemInt, 1);
  m.AddText("Name", kItemText, "");
  m.Add("~a Accept", kItemAccept, 0, nullptr, nullptr);
  m[2].pfnAction = CountAction;
  TextMenu* menu = m.Get();
  menu->TitleStyle = 3;
  menu->Flags = kMenuNoBlankLine;
  menu->szSaveQuestion = m.Keep("Save the changes");
  menu->pfnOnFinish = [](TextMenu*) { return printf("<finish>"), 0; };

  // No change: straight to the leave question, which "n" answers, then "y".
  ktest::Result c = InChild("\nn\n\ny\n", [&] { RunMenu(menu, nullptr, 1); });
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.out.find("Save the changes"), std::string::npos);
  EXPECT_NE(c.out.find("Quit kmenu? [y/n] <clear>"), std::string::npos);
  EXPECT_NE(c.out.find("Quit kmenu? [y/n] \n"), std::string::npos);
  EXPECT_EQ(c.out.find("<finish>"), std::string::npos);

  // A change, then the save question: the required name is empty, so it is refused first.
  c = InChild("1 3\n\ny\n\n2 lp1\n\ny\n", [&] { RunMenu(menu, nullptr, 1); });
  EXPECT_NE(c.out.find("Save the changes? [y/n] A required entry is empty.\nPress Enter to continue."),
            std::string::npos);
  EXPECT_NE(c.out.find("Save the changes? [y/n] <finish>"), std::string::npos);

  // Accept checks the required name too, then runs its action and leaves.
  c = InChild("a\n\n2 lp1\na\n", [&] {
    RunMenu(menu, nullptr, 1);
    printf("|actions %d", g_Actions);
  });
  EXPECT_NE(c.out.find("A required entry is empty."), std::string::npos);
  EXPECT_NE(c.out.find("|actions 1"), std::string::npos);

  // End of input while the menu waits ends the program.
  c = InChild("1 3\n", [&] { RunMenu(menu, nullptr, 1); });
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(c.err.rfind("\nkmenu: End of input while a menu waits for a selection : ", 0), 0u);
}

TEST(RunMenu, SettingsFiles) {
  Menu m;
  m.Add("Copies", kItemInt, 1);
  m.Add("~c Cancel", kItemCancel);
  m[1].pfnAction = [](TextMenu*, TextMenuItem*) { return printf("<cancel>"), 0; };
  TextMenu* menu = m.Get();
  menu->TitleStyle = 3;
  menu->Flags = kMenuNoBlankLine | kMenuSaveExit;
  std::string dir = ::testing::TempDir() + "/menu_run_" + std::to_string(getpid());
  mkdir(dir.c_str(), 0700);

  // "s" writes .settings in the working directory and ends the program.
  ktest::Result c = InChild("1 4\ns\n", [&] {
    if (chdir(dir.c_str()) != 0) abort();
    RunMenu(menu, nullptr, 1);
  });
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(ktest::ReadFile(dir + "/.settings"), "0[4] 13 0\n");

  // Loaded without a dialogue; a file that cannot be opened runs the cancel action.
  c = InChild("", [&] {
    RunMenu(menu, (dir + "/.settings").c_str(), 0);
    printf("%ld|", static_cast<long>(m[0].Value));
    RunMenu(menu, (dir + "/missing").c_str(), 0);
  });
  EXPECT_EQ(c.out, "4|<cancel>");

  // "s" with a name: a name that is no absolute path is refused.
  menu->Flags = kMenuNoBlankLine | kMenuSaveAs;
  std::string named = dir + "/queue_cfg";  // "." is no character of a settings file name
  c = InChild("1 6\ns\nrelative.cfg\ns\n" + named + "\n\ny\n", [&] { RunMenu(menu, nullptr, 1); });
  EXPECT_NE(c.out.find("Enter the settings file name: "), std::string::npos);
  EXPECT_EQ(ktest::ReadFile(named), "0[6] 13 0\n");
  EXPECT_FALSE(ktest::Exists(dir + "/relative.cfg"));
}

namespace {

// A 40-choice list whose choices are too wide for two columns of an 80-column screen.
struct TrayMenu : Menu {
  TrayMenu(int type) {
    std::string choices;
    for (int i = 1; i <= 40; i++) {
      char one[64];
      snprintf(one, sizeof one, "%c%s %02d: a tray with a description this long", i == 3 || i == 20 ? ' ' : '_',
               "Tray", i);
      choices += (i > 1 ? "," : "") + std::string(one);
    }
    Add("Input trays", type, 0, choices.c_str());
  }
};

// The rows of a refreshed 80 x 24 screen (the last cell is never printed).
std::vector<std::string> Rows(const std::string& out) {
  std::vector<std::string> rows;
  for (size_t i = 0; i < out.size(); i += 80) rows.push_back(out.substr(i, 80));
  return rows;
}

}  // namespace

TEST(PrintPickOneManyScreen, PagesAndHiddenChoices) {
  TrayMenu m(kItemOneOf);
  TextMenu* menu = m.Get();
  ktest::Result c = InChild("", [&] {
    InitMenu(menu);
    uint64_t mask = 0;
    int shown = PrintPickOneManyScreen(&m[0], &mask, 0);
    fprintf(stderr, "%d %llx|", shown, static_cast<unsigned long long>(mask));
    shown = PrintPickOneManyScreen(&m[0], &mask, 18);
    fprintf(stderr, "%d %llx|", shown, static_cast<unsigned long long>(mask));
    shown = PrintPickOneManyScreen(&m[0], &mask, 36);
    fprintf(stderr, "%d %llx", shown, static_cast<unsigned long long>(mask));
  });
  EXPECT_EQ(c.err, "18 4|18 2|0 0");
  ASSERT_EQ(c.out.size(), 3u * (80 * 24 - 1));
  std::vector<std::string> rows = Rows(c.out.substr(0, 80 * 24 - 1));
  std::string blank(80, ' ');
  EXPECT_EQ(rows[0], std::string(34, ' ') + "Input trays" + std::string(35, ' '));
  EXPECT_EQ(rows[1], blank);
  EXPECT_EQ(rows[2], " ->  1) Tray 01: a tray with a description this long" + std::string(28, ' '));
  EXPECT_EQ(rows[4], "        Tray 03: a tray with a description this long" + std::string(28, ' '));
  EXPECT_EQ(rows[19], "    18) Tray 18: a tray with a description this long" + std::string(28, ' '));
  EXPECT_EQ(rows[20], blank);
  EXPECT_EQ(rows[21], "s=Save" + std::string(34, ' ') + "c=Cancel" + std::string(32, ' '));
  EXPECT_EQ(rows[22], "Selected: Tray 01: a tray with a description this long" + std::string(26, ' '));
  EXPECT_EQ(rows[23], ("Type a number to switch a choice, Enter for the next page" + blank).substr(0, 79));
  rows = Rows(c.out.substr(2 * (80 * 24 - 1)));
  EXPECT_EQ(rows[2], "    37) Tray 37: a tray with a description this long" + std::string(28, ' '));
  EXPECT_EQ(rows[6], blank);
  EXPECT_EQ(rows[22], "Selected: " + std::string(70, ' '));
}

TEST(ProcessStateValue, AnswersSaveCancelAndTheEnd) {
  TrayMenu one(kItemOneOf);
  TextMenu* m1 = one.Get();
  auto pick = [](TextMenu* m, const std::string& input, const char* preset = nullptr) {
    return InChild(input, [&] {
             InitMenu(m);
             m->pItems[0].pfnAction = CountAction;
             ProcessStateValue(m, 0, preset);
             fprintf(stderr, "%ld %s %d", static_cast<long>(m->pItems[0].Value),
                     m->pItems[0].szCurChoice, g_Actions);
           })
        .err;
  };
  // A hidden choice (3) and numbers outside the list are ignored; the last shown one counts.
  EXPECT_EQ(pick(m1, "3\n41 0\n5\n\n\n\ns\n"), "4 _Tray 05: a tray with a description this long 1");
  EXPECT_EQ(pick(m1, "5\n7\nc\n"), "0 _Tray 01: a tray with a description this long 3");
  EXPECT_EQ(pick(m1, "5\n"), "0 _Tray 01: a tray with a description this long 1");  // the end: as cancel
  EXPECT_EQ(pick(m1, "S\n", "6"), "5 _Tray 06: a tray with a description this long 1");

  TrayMenu some(kItemSomeOf);
  TextMenu* m2 = some.Get();
  // Value 1 (the first tray) at the start; 2 and 4 are switched on, 1 off, 3 is hidden.
  EXPECT_EQ(InChild("2,4 3 1\ns\n", [&] {
              InitMenu(m2);
              ProcessStateValue(m2, 0, nullptr);
              fprintf(stderr, "%ld", static_cast<long>(m2->pItems[0].Value));
            }).err,
            "10");
}

TEST(PrintPickOneManyScreen, TooSmallForTheList) {
  Menu m;
  m.Add("Trays", kItemOneOf, 0, ("_" + std::string(130, 'x') + ",_short").c_str());
  TextMenu* menu = m.Get();
  ktest::Result c = InChild("\n", [&] {
    InitMenu(menu);
    uint64_t mask = 0;
    printf("|%d", PrintPickOneManyScreen(&m[0], &mask, 0));
  });
  EXPECT_EQ(c.out,
            "The screen is too small for this list.\n"
            "It has 80 columns and 24 rows;\n"
            "at least 85 columns and 7 rows are needed. Press Enter.\n|-1");
}

TEST(RunMenu, HelpHookAndExitFlag) {
  Menu m;
  m.Add("Stop", kItemCommand);
  m[0].pfnAction = [](TextMenu*, TextMenuItem*) { return flExitTextMenu = 1, 1; };
  TextMenu* menu = m.Get();
  menu->TitleStyle = 3;
  menu->Flags = kMenuNoBlankLine | kMenuHelp;
  menu->pfnOnShow = [](TextMenu*) { return printf("<show>"), 0; };
  // "h" opens help through the hook; an action that sets flExitTextMenu leaves the menu even
  // though it failed, and while the flag stays set RunMenu does nothing but pfnOnShow.
  ktest::Result c = InChild("H\n1\n", [&] {
    pfnTextMenuHelp = [](TextMenu*) { printf("<help>"); };
    RunMenu(menu, nullptr, 1);
    printf("|");
    RunMenu(menu, nullptr, 1);
  });
  EXPECT_EQ(c.status, 0);
  const std::string screen = "<clear> 1) Stop \n\nh=help   Enter=leave\nSelection: ";
  EXPECT_EQ(c.out, "<show>" + screen + "<help>" + screen + "|<show>");
}
