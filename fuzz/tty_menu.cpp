// tty_menu.cpp - menus over hostile state formats, conditions and settings files. The input's
// first three lines are the state formats of two list items and the conditions that choose a
// submenu; its fourth line is a condition; the rest is a settings file. A menu of every item
// type (with a submenu that holds itself) is initialised, the settings file loaded, saved,
// loaded into a fresh copy of the menu and saved again.
// Properties: no access outside a buffer; after loading, every item still fits its type (a
// choice index within the choices, a state of 0 to 2, a text within its buffer, the type only
// traded between the two text types); a loaded menu saved and loaded again saves every value
// the first save held, in the same place; applying a format leaves the shared tokenizer where it was; a condition that holds
// still holds in parentheses and doubled with "&", and its negation does not.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "fuzz/support.h"
#include "tty/TextMenu.h"

namespace {

// The texts a menu's items point to: choices are written in place, so each menu has its own.
struct Texts {
  std::string format0, format6, conditions, subFormat;
  std::string choices0 = "_A4,_Letter, Legal,_B5,_Tabloid";
  std::string choices6 = "_x,_y,_z";
  std::string choices7 = "_one,_two";
  std::string subChoices = "_on, off,_auto";
};

// A menu of every valued item type, its submenu table and two submenus, the first of which
// holds itself as item 3.
struct Fixture {
  Texts t;
  TextMenuItem items[11] = {};
  TextMenuItem subItems[5] = {};
  TextMenuItem sub2Items[2] = {};
  TextMenu menu{}, sub{}, sub2{};
  TextMenu* table[3] = {&sub, &sub2, nullptr};

  void Item(TextMenuItem* it, const char* text, int type, intptr_t def = 0,
            std::string* choices = nullptr, std::string* rule = nullptr) {
    it->szText = const_cast<char*>(text);
    it->Type = type;
    it->Default = def;
    if (choices) it->szChoices = &(*choices)[0];
    if (rule && !rule->empty()) it->szRule = &(*rule)[0];
  }

  Fixture(const std::string& f0, const std::string& f6, const std::string& cond,
          const std::string& subFormat) {
    t.format0 = f0;
    t.format6 = f6;
    t.conditions = cond;
    t.subFormat = subFormat;
    Item(&items[0], "Paper", kItemOneOf, 1, &t.choices0, &t.format0);
    Item(&items[1], "Copies", kItemInt, 5);
    Item(&items[2], "Queue", kItemText, reinterpret_cast<intptr_t>("lp0"));
    Item(&items[3], "Note", kItemOptText);
    Item(&items[4], "Scale", kItemFloat, MenuFloatWord(1.5));
    Item(&items[5], "Connection", kItemSubmenu, 0, nullptr, &t.conditions);
    items[5].Value = reinterpret_cast<intptr_t>(items[5].szRule ? static_cast<void*>(table)
                                                                  : static_cast<void*>(&sub));
    Item(&items[6], "Tray", kItemOneOf, 0, &t.choices6, &t.format6);
    Item(&items[7], "Options", kItemSomeOf, 3, &t.choices7);
    Item(&items[8], "OK", kItemAccept);
    Item(&items[9], "Printer settings", kItemLabel);
    menu.szTitle = const_cast<char*>("Printer");
    menu.pItems = items;

    Item(&subItems[0], "Mode", kItemOneOf, 0, &t.subChoices, &t.subFormat);
    Item(&subItems[1], "Port", kItemInt, 9100);
    Item(&subItems[2], "Host", kItemText);
    Item(&subItems[3], "More", kItemSubmenu);
    subItems[3].Value = reinterpret_cast<intptr_t>(&sub);
    sub.szTitle = const_cast<char*>("Network");
    sub.pItems = subItems;
    Item(&sub2Items[0], "Device", kItemOptText, reinterpret_cast<intptr_t>("/dev/lp"));
    sub2.szTitle = const_cast<char*>("Local");
    sub2.pItems = sub2Items;
  }

  ~Fixture() {
    for (TextMenu* m : {&menu, &sub, &sub2}) {
      FreeMenu(m);
      for (TextMenuItem* it = m->pItems; it->szText; it++) PutMem(it->szCurChoice);
    }
  }

  void Init() {
    InitMenu(&menu);
    InitMenu(&sub);
    InitMenu(&sub2);
  }
};

// Each item still fits its type after loading.
void CheckItems(TextMenu* m, const TextMenuItem* original, const char* name) {
  for (int i = 0; m->pItems[i].szText; i++) {
    const TextMenuItem& it = m->pItems[i];
    FUZZ_CHECK(it.State >= kItemNormal && it.State <= kItemHidden, "%s item %d state %d", name, i,
               it.State);
    bool texts = (it.Type == kItemText || it.Type == kItemOptText) &&
                 (original[i].Type == kItemText || original[i].Type == kItemOptText);
    FUZZ_CHECK(it.Type == original[i].Type || texts, "%s item %d type %d became %d", name, i,
               original[i].Type, it.Type);
    if (it.Type == kItemOneOf)
      FUZZ_CHECK(it.Value >= 0 && it.Value < it.ChoiceCount, "%s item %d choice %ld of %d", name,
                 i, long(it.Value), it.ChoiceCount);
    if (texts && it.Value)
      FUZZ_CHECK(strnlen(reinterpret_cast<char*>(it.Value), kMenuTextSize) < size_t(kMenuTextSize),
                 "%s item %d text past its buffer", name, i);
  }
}

void Load(TextMenu* m, const std::string& path) {
  FUZZ_CHECK(OpenInputFile(path.c_str(), 0) == 1, "cannot open %s", path.c_str());
  LoadMenu(m);
  CloseInputFile();
}

std::string Save(TextMenu* m, const std::string& path) {
  FUZZ_CHECK(SaveMenuFile(m, path.c_str()) == 1, "cannot save %s", path.c_str());
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Upper bound of the nesting a condition asks for: open groups plus every "!".
int Nesting(const std::string& c) {
  int open = 0, deepest = 0, nots = 0;
  for (char ch : c) {
    if (ch == '(') deepest = std::max(deepest, ++open);
    if (ch == ')') open--;
    if (ch == '!') nots++;
  }
  return deepest + nots;
}

void CheckCondition(TextMenu* m, const std::string& cond, int base) {
  bool v = TestStateCondition(m, cond.c_str(), base);
  FUZZ_CHECK(TestStateCondition(m, cond.c_str(), base) == v, "the same condition differs");
  if (!v || Nesting(cond) + 2 > kMenuMaxDepth) return;
  FUZZ_CHECK(TestStateCondition(m, ("(" + cond + ")").c_str(), base), "(%s) fails", cond.c_str());
  FUZZ_CHECK(!TestStateCondition(m, ("!(" + cond + ")").c_str(), base), "!(%s) holds",
             cond.c_str());
  FUZZ_CHECK(TestStateCondition(m, ("(" + cond + ")&(" + cond + ")").c_str(), base),
             "(%s)&(%s) fails", cond.c_str(), cond.c_str());
}

// The value lines of a saved file by where they stand: "5/3/1" is item 1 of the block of
// item 3 inside the block of item 5.
std::map<std::string, std::string> ValueLines(const std::string& text) {
  std::map<std::string, std::string> lines;
  std::vector<std::string> path{""};
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    size_t digits = line.find_first_not_of("0123456789");
    if (line == "}") {
      if (path.size() > 1) path.pop_back();
    } else if (digits != std::string::npos && line[digits] == '{') {
      path.push_back(path.back() + line.substr(0, digits) + "/");
    } else {
      lines[path.back() + line.substr(0, digits)] = line;
    }
  }
  return lines;
}

std::string NextLine(const std::string& in, size_t* pos) {
  if (*pos >= in.size()) return "";
  size_t nl = in.find('\n', *pos);
  std::string line = in.substr(*pos, nl == std::string::npos ? std::string::npos : nl - *pos);
  *pos = nl == std::string::npos ? in.size() : nl + 1;
  return line.c_str();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzInit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string in(reinterpret_cast<const char*>(data), size);
  size_t pos = 0;
  std::string f0 = NextLine(in, &pos), f6 = NextLine(in, &pos), conds = NextLine(in, &pos);
  std::string cond = NextLine(in, &pos);
  std::string settings = FuzzWriteFile("settings", data + pos, size - pos);
  std::string first = FuzzScratch() + "/first", second = FuzzScratch() + "/second";

  Fixture a(f0, f6, conds, f6);
  a.Init();
  // A format applied leaves the shared tokenizer's scan as it was.
  char* tok = GetToken("left,right", ",");
  FUZZ_CHECK(tok && strcmp(tok, "left") == 0, "tokenizer");
  char del = chTokenDel;
  ProcessStateFormat(&a.menu, 0);
  ProcessStateFormat(&a.menu, 6);
  ProcessStateFormat(&a.sub, 0);
  FUZZ_CHECK(chTokenDel == del, "format changed the last delimiter");
  tok = GetToken(nullptr, ",");
  FUZZ_CHECK(tok && strcmp(tok, "right") == 0, "format moved the tokenizer's scan");

  Fixture pristine(f0, f6, conds, f6);
  Load(&a.menu, settings);
  CheckItems(&a.menu, pristine.items, "menu");
  CheckItems(&a.sub, pristine.subItems, "submenu");
  CheckItems(&a.sub2, pristine.sub2Items, "second submenu");
  TextMenu* chosen = ValidateMenu(&a.menu, 5);
  FUZZ_CHECK(!chosen || chosen == &a.sub || chosen == &a.sub2, "submenu from outside the table");

  std::string saved = Save(&a.menu, first);
  Fixture b(f0, f6, conds, f6);
  b.Init();
  Load(&b.menu, first);
  std::string again = Save(&b.menu, second);
  // Every value saved comes back where it was. (The second file may hold more: a submenu
  // item dimmed by a format is not saved, and the formats of a list item loaded dimmed are
  // not applied, so the same submenu may be saved the second time.)
  std::map<std::string, std::string> before = ValueLines(saved), after = ValueLines(again);
  for (const auto& [where, line] : before) {
    FUZZ_CHECK(after.count(where) && after[where] == line,
               "%s: saved \"%s\", loaded and saved again \"%s\"\n%s---\n%s", where.c_str(),
               line.c_str(), after.count(where) ? after[where].c_str() : "(none)", saved.c_str(),
               again.c_str());
  }

  CheckCondition(&a.menu, cond, 3);
  CheckCondition(&a.menu, conds.substr(0, conds.find(' ')), 5);
  return 0;
}
