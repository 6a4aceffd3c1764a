// The menu model: initialisation, choices, the state and condition languages, settings files.
#include <gtest/gtest.h>

#include <string>

#include "base/utils.h"
#include "tests/support/test_support.h"
#include "tests/tty/menu_test_util.h"
#include "tty/TextMenu.h"

using menu_test::Menu;

namespace {

// Items 0..6 of a queue menu used by several tests.
struct QueueMenu : Menu {
  int Label, Paper, Copies, Name, Scale, Some, Sub;
  QueueMenu() {
    Label = Add("Print queue", kItemLabel);
    Paper = Add("Paper size", kItemOneOf, 0, "_A4, Letter,_Legal");
    Copies = Add("Copies", kItemInt, 1);
    Name = AddText("Queue name", kItemText, "lp0");
    Scale = Add("Scale", kItemFloat, MenuFloatWord(1.5));
    Some = Add("Trays", kItemSomeOf, 0, "_Upper,_Lower,_Manual");
    Sub = -1;
  }
};

std::string TempPath(const char* name) {
  return ::testing::TempDir() + "/menu_" + std::to_string(getpid()) + "_" + name;
}

std::string StoreToText(TextMenu* m) {
  std::string path = TempPath("store");
  FILE* f = fopen(path.c_str(), "w");
  FILE* old = pOut;
  pOut = f;
  StoreMenu(m);
  pOut = old;
  fclose(f);
  return ktest::ReadFile(path);
}

void LoadFromText(TextMenu* m, const std::string& text) {
  std::string path = TempPath("load");
  ktest::WriteFile(path, text);
  ASSERT_EQ(OpenInputFile(path.c_str(), 0), 1);
  LoadMenu(m);
  CloseInputFile();
}

}  // namespace

TEST(InitMenu, HotKeysNumbersAndFirstValues) {
  Menu m;
  int exitItem = m.Add("~e Exit Help", kItemExit);
  int label = m.Add("Printer", kItemLabel);
  int reload = m.Add("Reload", kItemCommand);
  int paper = m.Add("Paper size", kItemOneOf, 1, "_A4, Letter,_Legal");
  int name = m.AddText("Queue name", kItemText, "lp0");
  int empty = m.AddText("Comment", kItemOptText, nullptr);
  int trays = m.Add("Trays", kItemSomeOf, 0, "_Upper,_Lower");
  int copies = m.Add("Copies", kItemInt, 3);
  TextMenu* menu = m.Get();

  EXPECT_EQ(InitMenu(menu), 12);  // "~e Exit Help"
  EXPECT_EQ(m[exitItem].HotKey, 'e');
  EXPECT_EQ(m[label].HotKey, 0);
  EXPECT_EQ(m[reload].HotKey, 1);
  EXPECT_EQ(m[paper].HotKey, 2);
  EXPECT_EQ(m[copies].HotKey, 6);
  EXPECT_EQ(m[reload].TextLen, 6);

  // Default 1 names a hidden choice: the value moves on to the next shown one.
  EXPECT_EQ(m[paper].ChoiceCount, 3);
  EXPECT_EQ(m[paper].Value, 2);
  EXPECT_STREQ(m[paper].szCurChoice, "_Legal");
  EXPECT_EQ(m[paper].SavedValue, -1);

  EXPECT_STREQ(m.Text(name), "lp0");
  EXPECT_STREQ(m.Text(empty), "");
  EXPECT_EQ(m[trays].Value, 1);
  EXPECT_EQ(m[trays].Default, 1);
  EXPECT_EQ(m[copies].Value, 3);

  // A kept buffer is not refilled from Default by a second initialisation.
  strcpy(reinterpret_cast<char*>(m[name].Value), "lp7");
  InitMenu(menu);
  EXPECT_STREQ(m.Text(name), "lp7");
  FreeMenu(menu);
  EXPECT_EQ(m[name].Value, 0);
  EXPECT_EQ(m[empty].Value, 0);
}

TEST(UpdateStateSelection, HideAndShowMoveTheChoice) {
  QueueMenu m;
  TextMenu* menu = m.Get();
  InitMenu(menu);
  TextMenuItem& paper = m[m.Paper];
  EXPECT_EQ(paper.Value, 0);
  EXPECT_STREQ(paper.szCurChoice, "_A4");

  HideStateSelection(&paper, 0);
  EXPECT_STREQ(paper.szChoices, " A4, Letter,_Legal");
  EXPECT_EQ(paper.Value, 2);
  EXPECT_STREQ(paper.szCurChoice, "_Legal");

  ShowStateSelection(&paper, 1);
  EXPECT_STREQ(paper.szChoices, " A4,_Letter,_Legal");
  HideStateSelection(&paper, -1);
  HideStateSelection(&paper, 3);
  EXPECT_STREQ(paper.szChoices, " A4,_Letter,_Legal");

  // Every choice hidden: the search stops after one round.
  HideStateSelection(&paper, 1);
  HideStateSelection(&paper, 2);
  EXPECT_EQ(paper.szCurChoice[0], ' ');
}

TEST(TestState, ReferencesAndTheirBase) {
  QueueMenu m;
  TextMenu* menu = m.Get();
  InitMenu(menu);  // Paper 0, Copies 1
  EXPECT_EQ(TestState(menu, "2.1", 0), 1);
  EXPECT_EQ(TestState(menu, "2.2", 0), 0);
  EXPECT_EQ(TestState(menu, "+1.1", 1), 1);
  EXPECT_EQ(TestState(menu, "-3.0", 4), 1);
  m[m.Copies].State = kItemDimmed;
  EXPECT_EQ(TestState(menu, "2.1", 0), 2);
  // Malformed or naming no item.
  for (const char* bad : {"", "2", "2.", "x.1", "2.1x", "99.0", "-9.0", "2.1.1", "9999999999.0"}) {
    EXPECT_EQ(TestState(menu, bad, 0), 0) << bad;
  }
}

TEST(TestStateCondition, OperatorsGroupsAndDepth) {
  Menu m;
  for (int i = 0; i < 5; i++) m.Add("Value", kItemInt, i);  // item i has value i
  TextMenu* menu = m.Get();
  InitMenu(menu);
  m[4].State = kItemHidden;
  struct Case {
    const char* Cond;
    bool Holds;
  } cases[] = {
      {"3.3&4.4", true},   {"3.3&4.2", false},  {"3.1&4.4", false},
      {"3.1|4.4", true},   {"3.1|4.2", false},  {"3.3|4.2", true},
      {"!3.1", true},      {"!3.3", false},     {"!(3.1|2.2)", false},
      {"(3.1|2.2)&1.1", true}, {"1.1&(3.1|2.0)", false}, {"3.1|2.2&1.1", true},
      {"4.4A", true},      {"3.3A", false},     {"4.4A&3.3", true},
      {"+1.3", false},     {" 3.3 & 4.4 ", true},
      {"", false},         {"(3.3", false},     {"3.3)", false},  {"&", false},
      {"3.3&", false},     {"0.0|", false},
  };
  for (const Case& c : cases) EXPECT_EQ(TestStateCondition(menu, c.Cond, 0), c.Holds) << c.Cond;
  EXPECT_TRUE(TestStateCondition(menu, "+1.3", 2));

  // Nesting up to the limit holds; one level more, or a hostile depth, is refused.
  auto nested = [](int depth) { return std::string(depth, '(') + "3.3" + std::string(depth, ')'); };
  EXPECT_TRUE(TestStateCondition(menu, nested(kMenuMaxDepth).c_str(), 0));
  EXPECT_FALSE(TestStateCondition(menu, nested(kMenuMaxDepth + 1).c_str(), 0));
  EXPECT_FALSE(TestStateCondition(menu, (std::string(100000, '!') + "3.3").c_str(), 0));
  EXPECT_FALSE(TestStateCondition(menu, (std::string(200, '1') + ".3").c_str(), 0));
}

TEST(ValidateMenu, SubmenuUnderConditions) {
  Menu a("Spooler"), b("Network");
  a.Add("Spool dir", kItemOptText);
  b.Add("Host", kItemOptText);
  Menu m;
  int mode = m.Add("Mode", kItemOneOf, 1, "_Local,_Remote");
  TextMenu* table[] = {a.Get(), b.Get(), nullptr};
  int sub = m.Add("Connection", kItemSubmenu, 0, nullptr, "-1.0 -1.1 -1.1");
  m[sub].Value = reinterpret_cast<intptr_t>(table);
  int plain = m.Add("Direct", kItemSubmenu);
  m[plain].Value = reinterpret_cast<intptr_t>(a.Get());
  TextMenu* menu = m.Get();
  InitMenu(menu);
  EXPECT_EQ(ValidateMenu(menu, sub), b.Get());
  m[mode].Value = 0;
  EXPECT_EQ(ValidateMenu(menu, sub), a.Get());
  EXPECT_EQ(ValidateMenu(menu, plain), a.Get());
  m[sub].State = kItemDimmed;
  EXPECT_EQ(ValidateMenu(menu, sub), nullptr);
  EXPECT_EQ(ValidateMenu(menu, 99), nullptr);
  // More conditions than table entries: the table's end stops the search.
  m[sub].State = kItemNormal;
  m[mode].Value = 5;
  EXPECT_EQ(ValidateMenu(menu, sub), nullptr);
  EXPECT_EQ(FindTextMenuItem(menu, kItemSubmenu), &m[sub]);
  EXPECT_EQ(FindTextMenuItem(menu, kItemAccept), nullptr);
}

TEST(TestFormatState, NumbersAndStar) {
  EXPECT_EQ(TestFormatState("1", 1), 1);
  EXPECT_EQ(TestFormatState("0;2;13", 13), 1);
  EXPECT_EQ(TestFormatState("0;2;13", 1), 0);
  EXPECT_EQ(TestFormatState("*", 42), 1);
  EXPECT_EQ(TestFormatState("", 0), 0);
  EXPECT_EQ(TestFormatState("99999999999999999999", 1), 0);
}

namespace {
int g_Calls = 0;
int CountCall(TextMenu*, TextMenuItem*) { return ++g_Calls; }
}  // namespace

TEST(ProcessStateFormat, ActionsNHPS) {
  Menu m;
  int list = m.Add("Mode", kItemOneOf, 0, "_Off,_On,_Auto", "H1{1,2} N2;0{3} S1{4,9}");
  m.Add("A", kItemCommand);
  m.Add("B", kItemCommand);
  m.Add("C", kItemCommand);
  int copies = m.Add("Copies", kItemInt, 4);
  TextMenu* menu = m.Get();
  InitMenu(menu);  // value 0
  EXPECT_EQ(m[1].State, kItemNormal);
  EXPECT_EQ(m[3].State, kItemDimmed);
  EXPECT_EQ(m[copies].Value, 4);

  m[list].Value = 1;
  ProcessStateFormat(menu, list);
  EXPECT_EQ(m[1].State, kItemHidden);
  EXPECT_EQ(m[2].State, kItemHidden);
  EXPECT_EQ(m[3].State, kItemNormal);
  EXPECT_EQ(m[copies].Value, 9);
  EXPECT_EQ(m[copies].SavedValue, 4);
  ProcessStateFormat(menu, list);  // matching again keeps the first saved value
  EXPECT_EQ(m[copies].SavedValue, 4);

  m[list].Value = 2;
  ProcessStateFormat(menu, list);
  EXPECT_EQ(m[1].State, kItemNormal);
  EXPECT_EQ(m[3].State, kItemDimmed);
  EXPECT_EQ(m[copies].Value, 4);
  EXPECT_EQ(m[copies].SavedValue, -1);

  // A dimmed list item applies nothing.
  m[list].State = kItemDimmed;
  m[list].Value = 1;
  ProcessStateFormat(menu, list);
  EXPECT_EQ(m[1].State, kItemNormal);
}

TEST(ProcessStateFormat, HostileFormatsChangeNothingElse) {
  Menu m;
  // Item 0 applies item 1, which applies item 0 and itself again: each runs once.
  int a = m.Add("A", kItemOneOf, 0, "_x,_y", "P*{1} H*{99,-1,x}");
  int b = m.Add("B", kItemOneOf, 0, "_x,_y", "P*{0,1} S*{2,7,3,5,x,1,4,1}");
  int text = m.AddText("Name", kItemText, "lp0");
  int pick = m.Add("Paper", kItemOneOf, 0, "_A4,_Letter");
  int copies = m.Add("Copies", kItemInt, 2);
  m[a].pfnAction = CountCall;
  m[b].pfnAction = CountCall;
  TextMenu* menu = m.Get();
  InitMenu(menu);
  g_Calls = 0;
  char scan[] = "first second";
  GetToken(scan, " ");
  chTokenDel = '#';
  ProcessStateFormat(menu, a);
  EXPECT_EQ(g_Calls, 1);  // B's action once; A is not applied again
  EXPECT_STREQ(m.Text(text), "lp0");  // S refuses a text item
  EXPECT_EQ(m[pick].Value, 0);        // and a choice that does not exist
  EXPECT_EQ(m[copies].Value, 1);
  EXPECT_EQ(chTokenDel, '#');
  EXPECT_STREQ(GetToken(nullptr, " "), "second");
}

TEST(StoreMenu, LinesAndSubmenuBlocks) {
  QueueMenu m;
  Menu sub("Network");
  sub.Add("Host", kItemOptText);
  sub.Add("Port", kItemInt, 515);
  m.Sub = m.Add("Network", kItemSubmenu);
  TextMenu* menu = m.Get();
  m[m.Sub].Value = reinterpret_cast<intptr_t>(sub.Get());
  InitMenu(menu);
  InitMenu(sub.Get());
  strcpy(reinterpret_cast<char*>(sub[0].Value), "spool.example");
  m[m.Copies].Value = 7;
  m[m.Paper].State = kItemDimmed;
  m[m.Scale].Value = MenuFloatWord(2.5);
  EXPECT_EQ(StoreToText(menu),
            "1[0] 9 1\n"
            "2[7] 13 0\n"
            "3[lp0] 11 0\n"
            "4[2.500] 14 0\n"
            "6{\n"
            "0[spool.example] 12 0\n"
            "1[515] 13 0\n"
            "}\n");
}

TEST(LoadMenu, ValuesStatesAndRefusals) {
  QueueMenu m;
  TextMenu* menu = m.Get();
  InitMenu(menu);
  flLoadedSettings = 0;
  LoadFromText(menu, "2[9] 13 1\n1[2] 9 0\n3[my queue] 11 0\n4[0.250] 14 0\n");
  EXPECT_EQ(flLoadedSettings, 1);
  EXPECT_EQ(m[m.Copies].Value, 9);
  EXPECT_EQ(m[m.Copies].State, kItemDimmed);
  EXPECT_EQ(m[m.Paper].Value, 2);
  EXPECT_STREQ(m[m.Paper].szCurChoice, "_Legal");
  EXPECT_STREQ(m.Text(m.Name), "my queue");  // a value with a blank comes back whole
  EXPECT_DOUBLE_EQ(MenuFloat(m[m.Scale].Value), 0.25);
  LoadFromText(menu, "2[5]\n");  // without type and state
  EXPECT_EQ(m[m.Copies].Value, 5);

  // Each of these lines is refused and leaves every item as it was.
  std::string longText(kMenuTextSize, 'x');
  LoadFromText(menu,
               "99[5] 13 0\n"                 // no such item
               "-1[5] 13 0\n"                 // no index
               "2[abc] 13 0\n"                // not a number
               "2[99999999999] 13 0\n"        // too large for the item
               "2[5] 11 0\n"                  // a type that does not fit
               "2[5] 13 7\n"                  // a state that does not exist
               "2[5] 13\n"                    // half a tail
               "1[3] 9 0\n"                   // a choice that does not exist
               "4[nan] 14 0\n"                // not a finite number
               "3[" + longText + "] 11 0\n"   // too long for the buffer
               "5[3] 10 0\n"                  // several-of values are not loaded
               "garbage\n"
               "2[6\n");                      // no closing bracket
  EXPECT_EQ(m[m.Copies].Value, 5);
  EXPECT_EQ(m[m.Copies].Type, kItemInt);
  EXPECT_EQ(m[m.Paper].Value, 2);
  EXPECT_STREQ(m.Text(m.Name), "my queue");
  EXPECT_DOUBLE_EQ(MenuFloat(m[m.Scale].Value), 0.25);
  EXPECT_EQ(m[m.Some].Value, 1);

  // Required and optional texts may trade places.
  LoadFromText(menu, "3[lp1] 12 0\n");
  EXPECT_EQ(m[m.Name].Type, kItemOptText);
  EXPECT_STREQ(m.Text(m.Name), "lp1");
}

namespace {
int g_Accepted = 0;
int Accept(TextMenu*, TextMenuItem*) { return ++g_Accepted, 0; }
}  // namespace

TEST(LoadMenu, SubmenuBlocks) {
  QueueMenu m;
  Menu sub("Network");
  sub.Add("Host", kItemOptText);
  sub.Add("Port", kItemInt, 515);
  sub.Add("OK", kItemAccept);
  sub[2].pfnAction = Accept;
  m.Sub = m.Add("Network", kItemSubmenu);
  TextMenu* menu = m.Get();
  m[m.Sub].Value = reinterpret_cast<intptr_t>(sub.Get());
  InitMenu(menu);
  g_Accepted = 0;
  // A block for an item without a submenu is skipped whole, nested blocks included; the
  // submenu, never shown before, gets its buffers first.
  LoadFromText(menu,
               "2{\n0[5] 13 0\n1{\n2[6] 13 0\n}\n}\n"
               "6{\n0[spool] 12 0\n1[9100] 13 0\n}\n"
               "2[8] 13 0\n");
  EXPECT_EQ(m[m.Copies].Value, 8);
  EXPECT_STREQ(sub.Text(0), "spool");
  EXPECT_EQ(sub[1].Value, 9100);
  EXPECT_EQ(g_Accepted, 1);
}

TEST(SaveMenuFile, ReplacesTheFileWhole) {
  QueueMenu m;
  TextMenu* menu = m.Get();
  InitMenu(menu);
  m[m.Copies].Value = 3;
  std::string path = TempPath("save.cfg");
  ktest::WriteFile(path, "old contents\n");
  chmod(path.c_str(), 0600);
  ASSERT_EQ(SaveMenuFile(menu, path.c_str()), 1);
  EXPECT_EQ(ktest::ReadFile(path), StoreToText(menu));
  EXPECT_EQ(ktest::Mode(path), 0600);
  EXPECT_FALSE(ktest::Exists(path + "_new"));

  // A fresh menu loaded from the file gets every value back.
  QueueMenu again;
  TextMenu* menu2 = again.Get();
  InitMenu(menu2);
  LoadFromText(menu2, ktest::ReadFile(path));
  EXPECT_EQ(again[again.Copies].Value, 3);

  // A place that cannot be written: reported, nothing replaced.
  std::string bad = TempPath("nodir") + "/x.cfg";
  ktest::Result c = ktest::RunChild([&] { exit(SaveMenuFile(menu, bad.c_str())); });
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.err, "ERROR: can't write file, " + bad + "\n");
}

// Formats applied while a file loads change only what the file does not give: a later list
// line's S group does not replace a value the file holds, its N group not a state the file
// holds, and a submenu block goes to the submenu that the file's own values choose.
TEST(LoadMenu, TheFilesValuesWinOverFormatsOnTheWay) {
  Menu m, net("Network"), local("Local");
  int copies = m.Add("Copies", kItemInt, 1);
  int paper = m.Add("Paper size", kItemOneOf, 0, "_A4,_Letter", "S1{0,7} N1{0}");
  int sub = m.Add("Connection", kItemSubmenu, 0, nullptr, "0.7 0.2");
  net.Add("Port", kItemInt, 515);
  local.Add("Device", kItemInt, 0);
  TextMenu* menu = m.Get();
  TextMenu* table[] = {net.Get(), local.Get(), nullptr};
  m[sub].Value = reinterpret_cast<intptr_t>(table);
  InitMenu(menu);

  LoadFromText(menu, "0[2] 13 0\n1[1] 9 0\n2{\n0[9100] 13 0\n}\n");
  EXPECT_EQ(m[copies].Value, 2);            // not the 7 of S
  EXPECT_EQ(m[copies].State, kItemNormal);  // not dimmed by N
  EXPECT_EQ(local[0].Value, 9100);          // the block went where Copies 2 leads
  EXPECT_NE(net[0].Value, 9100);
  EXPECT_EQ(StoreToText(menu), "0[2] 13 0\n1[1] 9 0\n2{\n0[9100] 13 0\n}\n");

  // What the file does not give, the formats still set.
  LoadFromText(menu, "1[0] 9 0\n");
  EXPECT_EQ(m[copies].Value, 2);
  LoadFromText(menu, "1[1]\n");
  EXPECT_EQ(m[copies].Value, 7);
  EXPECT_EQ(m[copies].State, kItemDimmed);
  EXPECT_EQ(m[paper].Value, 1);
}

// A chain of P groups stops at kMenuMaxDepth formats; a chain within it is applied whole.
TEST(ProcessStateFormat, ApplyChainsStopAtTheDepthLimit) {
  for (int length : {kMenuMaxDepth - 6, kMenuMaxDepth + 4}) {
    Menu m;
    std::vector<std::string> formats;
    for (int i = 0; i < length; i++) formats.push_back("P*{" + std::to_string(i + 1) + "}");
    formats.push_back("H*{" + std::to_string(length + 1) + "}");
    for (const std::string& f : formats) m.Add("Step", kItemOneOf, 0, "_x,_y", f.c_str());
    int marker = m.Add("Marker", kItemCommand);
    TextMenu* menu = m.Get();
    InitMenu(menu);
    m[marker].State = kItemNormal;
    ProcessStateFormat(menu, 0);
    EXPECT_EQ(m[marker].State, length < kMenuMaxDepth ? kItemHidden : kItemNormal) << length;
  }
}

// Settings blocks nested deeper than kMenuMaxDepth are skipped whole, and the lines after
// them load at their own level.
TEST(LoadMenu, BlocksNestedTooDeepAreSkipped) {
  Menu m;
  int self = m.Add("Again", kItemSubmenu);
  int level = m.Add("Level", kItemInt, -1);
  int after = m.Add("After", kItemInt, 0);
  TextMenu* menu = m.Get();
  m[self].Value = reinterpret_cast<intptr_t>(menu);  // a menu that holds itself
  InitMenu(menu);
  std::string text;
  for (int d = 0; d <= kMenuMaxDepth + 4; d++) text += "1[" + std::to_string(d) + "] 13 0\n0{\n";
  text += "2[5] 13 0\n";
  for (int d = 0; d <= kMenuMaxDepth + 4; d++) text += "}\n";
  LoadFromText(menu, text + "2[99] 13 0\n");
  EXPECT_EQ(m[level].Value, kMenuMaxDepth);  // the deepest level loaded
  EXPECT_EQ(m[after].Value, 99);             // 5 lay in a skipped block
}

// A submenu's values stay in the settings file while its item is dimmed or hidden, and load
// back into it: hiding an option does not lose what it holds.
TEST(SaveMenuFile, DimmedSubmenusKeepTheirValues) {
  Menu m, net("Network");
  int port = net.Add("Port", kItemInt, 515);
  int sub = m.Add("Network", kItemSubmenu);
  TextMenu* menu = m.Get();
  m[sub].Value = reinterpret_cast<intptr_t>(net.Get());
  InitMenu(menu);
  InitMenu(net.Get());
  net[port].Value = 9100;
  m[sub].State = kItemHidden;
  EXPECT_EQ(StoreToText(menu), "0{\n0[9100] 13 0\n}\n");
  net[port].Value = 515;
  m[sub].State = kItemDimmed;
  LoadFromText(menu, "0{\n0[631] 13 0\n}\n");
  EXPECT_EQ(net[port].Value, 631);
  EXPECT_EQ(ValidateMenu(menu, sub), nullptr);  // still not to be chosen while dimmed
}
