// menu_test_util.h - building menus for the menu tests: items from a short description, the
// menu record over them, and writable texts that live as long as the menu.
#ifndef KORVI_TESTS_TTY_MENU_TEST_UTIL_H
#define KORVI_TESTS_TTY_MENU_TEST_UTIL_H

#include <deque>
#include <string>
#include <vector>

#include "base/MemMgr.h"
#include "tty/TextMenu.h"

namespace menu_test {

// A menu whose items and texts it owns; Add returns the new item's index.
struct Menu {
  std::deque<std::string> Texts;   // stable addresses, writable
  std::vector<TextMenuItem> Items;
  TextMenu M{};

  explicit Menu(const char* title = "Queue settings") { M.szTitle = Keep(title); }
  char* Keep(const char* text) {
    if (!text) return nullptr;
    Texts.emplace_back(text);
    return Texts.back().data();
  }
  int Add(const char* label, int type, intptr_t def = 0, const char* choices = nullptr,
          const char* rule = nullptr) {
    TextMenuItem it{};
    it.szText = Keep(label);
    it.Type = type;
    it.Default = def;
    it.szChoices = choices ? SaveStr_(choices) : nullptr;  // markers are written in place
    it.szRule = Keep(rule);
    it.szPrompt = Keep(label);
    Items.push_back(it);
    return static_cast<int>(Items.size()) - 1;
  }
  int AddText(const char* label, int type, const char* def, const char* rule = nullptr) {
    return Add(label, type, reinterpret_cast<intptr_t>(Keep(def)), nullptr, rule);
  }
  // The record, its item array ended by a null label. Call after the last Add.
  TextMenu* Get() {
    if (Items.empty() || Items.back().szText) Items.push_back(TextMenuItem{});
    M.pItems = Items.data();
    return &M;
  }
  TextMenuItem& operator[](int i) { return Items[i]; }
  const char* Text(int i) { return reinterpret_cast<const char*>(Items[i].Value); }
};

}  // namespace menu_test

#endif  // KORVI_TESTS_TTY_MENU_TEST_UTIL_H
