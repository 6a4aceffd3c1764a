// TextMenuModel.cpp - the menu model: initialising and releasing a menu's items, the choices
// of list items and their markers, submenus under conditions.
// Value buffers of text items and szCurChoice copies come from the pool; FreeMenu returns the
// buffers, a new current choice returns the copy it replaces.
#include <cstring>

#include "base/MemMgr.h"
#include "tty/TextMenu.h"
#include "tty/TextMenu_private.h"

namespace textmenu {

const char* ChoiceAt(const TextMenuItem* pItem, int n, int* pLen) {
  if (!pItem->szChoices || n < 0) return nullptr;
  const char* p = pItem->szChoices;
  for (int k = 0;; k++) {
    while (*p == ',') p++;
    if (!*p) return nullptr;
    const char* pEnd = strchr(p, ',');
    int len = pEnd ? static_cast<int>(pEnd - p) : static_cast<int>(strlen(p));
    if (k == n) {
      if (pLen) *pLen = len;
      return p;
    }
    p += len;
  }
}

int CountChoices(const char* choices) {
  TextMenuItem probe{};
  probe.szChoices = const_cast<char*>(choices);
  int n = 0;
  while (ChoiceAt(&probe, n, nullptr)) n++;
  return n;
}

int ChoiceHidden(const TextMenuItem* pItem, int n) {
  const char* p = ChoiceAt(pItem, n, nullptr);
  return p && *p == ' ';
}

void SetCurChoice(TextMenuItem* pItem, int n) {
  int len = 0;
  const char* p = ChoiceAt(pItem, n, &len);
  if (p && pItem->szCurChoice && static_cast<int>(strlen(pItem->szCurChoice)) == len &&
      strncmp(pItem->szCurChoice, p, len) == 0) {
    return;
  }
  PutMem(pItem->szCurChoice);  // a table's own text is no pool allocation and stays
  pItem->szCurChoice = nullptr;
  if (!p) return;
  char* copy = static_cast<char*>(GetMem(len + 1));
  if (!copy) return;
  memcpy(copy, p, len);
  pItem->szCurChoice = copy;
}

TextMenuItem* ItemAt(TextMenu* pMenu, int index) {
  if (!pMenu || !pMenu->pItems || index < 0) return nullptr;
  for (int i = 0; i <= index; i++) {
    if (!pMenu->pItems[i].szText) return nullptr;
  }
  return &pMenu->pItems[index];
}

}  // namespace textmenu

using namespace textmenu;

double MenuFloat(intptr_t word) {
  double d = 0;
  static_assert(sizeof(intptr_t) >= sizeof(double), "a float value fits a word");
  memcpy(&d, &word, sizeof d);
  return d;
}

intptr_t MenuFloatWord(double value) {
  intptr_t w = 0;
  memcpy(&w, &value, sizeof value);
  return w;
}

int MenuItemCount(const TextMenu* pMenu) {
  int n = 0;
  if (pMenu && pMenu->pItems) {
    while (pMenu->pItems[n].szText) n++;
  }
  return n;
}

int InitMenu(TextMenu* pMenu) {
  int maxLen = 0;
  int number = 0;
  for (TextMenuItem* it = pMenu->pItems; it->szText; it++) it->SavedValue = -1;
  for (int i = 0; pMenu->pItems[i].szText; i++) {
    TextMenuItem* it = &pMenu->pItems[i];
    it->TextLen = static_cast<int32_t>(strlen(it->szText));
    if (it->TextLen > maxLen) maxLen = it->TextLen;
    switch (it->Type) {
      case kItemOneOf:
      case kItemSomeOf:
        it->ChoiceCount = CountChoices(it->szChoices);
        if (it->Type == kItemOneOf) {
          it->Value = it->Default;
          if (it->Value < 0 || it->Value >= it->ChoiceCount) it->Value = 0;
        } else if (it->Value == 0) {
          it->Default = it->Value = 1;
        }
        it->PrevValue = it->Default;
        UpdateStateSelection(it);
        ProcessStateFormat(pMenu, i);
        break;
      case kItemInt:
      case kItemFloat:
        it->Value = it->Default;
        break;
      case kItemText:
      case kItemOptText:
        if (!it->Value) {
          char* buf = static_cast<char*>(GetMem(kMenuTextSize));
          if (buf && it->Default) {
            strncpy(buf, reinterpret_cast<const char*>(it->Default), kMenuTextSize - 1);
          }
          it->Value = reinterpret_cast<intptr_t>(buf);
        }
        break;
      default:
        break;
    }
    if (it->Type <= kItemBar) {
      it->HotKey = 0;
    } else if (it->szText[0] == '~' && it->szText[1]) {
      it->HotKey = static_cast<unsigned char>(it->szText[1]);
    } else {
      it->HotKey = ++number;
    }
  }
  return maxLen;
}

void FreeMenu(TextMenu* pMenu) {
  for (TextMenuItem* it = pMenu->pItems; it->szText; it++) {
    if (it->Type == kItemText || it->Type == kItemOptText) {
      PutMem(reinterpret_cast<void*>(it->Value));
      it->Value = 0;
    }
  }
}

void UpdateStateSelection(TextMenuItem* pItem) {
  for (int k = 0; k < pItem->ChoiceCount; k++) {
    int n = static_cast<int>(pItem->Value);
    if (pItem->Type != kItemOneOf || pItem->Value < 0 || pItem->Value >= pItem->ChoiceCount) {
      n = -1;  // a bit set names no single choice
    }
    SetCurChoice(pItem, n);
    if (!pItem->szCurChoice || pItem->szCurChoice[0] != ' ') return;
    pItem->PrevValue = pItem->Value;
    pItem->Value = (pItem->Value + 1) % pItem->ChoiceCount;
  }
}

namespace {

void SetMarker(TextMenuItem* pItem, int n, char marker) {
  char* p = const_cast<char*>(ChoiceAt(pItem, n, nullptr));
  if (!p) return;
  *p = marker;
}

}  // namespace

void HideStateSelection(TextMenuItem* pItem, int n) {
  if (!ChoiceAt(pItem, n, nullptr)) return;
  SetMarker(pItem, n, ' ');
  UpdateStateSelection(pItem);
}

void ShowStateSelection(TextMenuItem* pItem, int n) {
  SetMarker(pItem, n, '_');
}

TextMenu* ValidateMenu(TextMenu* pMenu, int index) {
  TextMenuItem* it = ItemAt(pMenu, index);
  if (!it || it->State != kItemNormal) return nullptr;
  return SubmenuOf(pMenu, index);
}

namespace textmenu {

TextMenu* SubmenuOf(TextMenu* pMenu, int index) {
  TextMenuItem* it = ItemAt(pMenu, index);
  if (!it) return nullptr;
  if (!it->szRule) return reinterpret_cast<TextMenu*>(it->Value);
  TextMenu** table = reinterpret_cast<TextMenu**>(it->Value);
  if (!table) return nullptr;
  // Conditions separated by blanks, one per table entry; the table ends with a null entry, so a
  // rule with more conditions than entries reads no further. A condition is copied out whole
  // (a longer one never holds).
  const char* p = it->szRule;
  for (int pos = 0; *p && table[pos]; pos++) {
    while (*p == ' ') p++;
    if (!*p) break;
    const char* pEnd = p;
    while (*pEnd && *pEnd != ' ') pEnd++;
    char cond[256];
    size_t len = static_cast<size_t>(pEnd - p);
    if (len < sizeof cond) {
      memcpy(cond, p, len);
      cond[len] = '\0';
      if (TestStateCondition(pMenu, cond, index)) return table[pos];
    }
    p = pEnd;
  }
  return nullptr;
}

}  // namespace textmenu

TextMenuItem* FindTextMenuItem(TextMenu* pMenu, int type) {
  for (TextMenuItem* it = pMenu->pItems; it->szText; it++) {
    if (it->Type == type) return it;
  }
  return nullptr;
}
