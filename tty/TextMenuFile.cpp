// TextMenuFile.cpp - menu settings files: StoreMenu writes a menu's values, one line per item
// (submenus as blocks), LoadMenu reads them back, SaveMenuFile replaces a file whole.
//
//   LINE                    ITEM TYPES   FIELDS
//   <i>[<int>] <t> <s>      9, 13        item index (0-based in its menu), value, type, state
//   <i>[<text>] <t> <s>     11, 12       the text runs to the line's last "]"
//   <i>[<%.3f>] <t> <s>     14
//   <i>{ ... }              8            the submenu's own lines between the two
//
// A settings file is text from outside: a line that does not parse, that names no item or
// whose value or type does not fit the item is skipped, and the item keeps its value.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "tty/TextMenu.h"
#include "tty/TextMenu_private.h"

using namespace textmenu;

int flLoadedSettings = 0;

namespace {

void StoreLevel(TextMenu* pMenu, int depth) {
  TextMenuItem* items = pMenu->pItems;
  for (int i = 0; items[i].szText; i++) {
    TextMenuItem* it = &items[i];
    switch (it->Type) {
      case kItemOneOf:
      case kItemInt:
        fprintf(pOut, "%i[%i] %i %i\n", i, static_cast<int>(it->Value), it->Type, it->State);
        break;
      case kItemText:
      case kItemOptText: {
        const char* text = reinterpret_cast<const char*>(it->Value);
        fprintf(pOut, "%i[%s] %i %i\n", i, text ? text : "", it->Type, it->State);
        break;
      }
      case kItemFloat:
        fprintf(pOut, "%i[%.3f] %i %i\n", i, MenuFloat(it->Value), it->Type, it->State);
        break;
      default:
        break;
    }
  }
  if (depth >= kMenuMaxDepth) return;  // a menu that holds itself is written once per level
  for (int i = 0; items[i].szText; i++) {
    if (items[i].Type != kItemSubmenu) continue;
    TextMenu* pSub = SubmenuOf(pMenu, i);
    if (!pSub || !pSub->pItems) continue;
    fprintf(pOut, "%i{\n", i);
    StoreLevel(pSub, depth + 1);
    fprintf(pOut, "}\n");
  }
}

bool ParseLong(const char* text, long* pOut) {
  if (!*text || isspace(static_cast<unsigned char>(*text))) return false;
  char* pEnd = nullptr;
  errno = 0;
  long v = strtol(text, &pEnd, 10);
  if (errno || *pEnd || v < INT_MIN || v > INT_MAX) return false;
  *pOut = v;
  return true;
}

// Skips the lines of a block whose "{" line was just read, up to its closing "}".
void SkipBlock() {
  int open = 1;
  while (open > 0 && GetFileLine()) {
    if (LineBuf[0] == '}') {
      open--;
    } else {
      const char* p = LineBuf;
      while (isdigit(static_cast<unsigned char>(*p))) p++;
      if (p != LineBuf && *p == '{') open++;
    }
  }
}

// A submenu read before it was ever shown has no value buffers or choice counts yet.
bool NeedsInit(TextMenu* pMenu) {
  for (TextMenuItem* it = pMenu->pItems; it->szText; it++) {
    if ((it->Type == kItemText || it->Type == kItemOptText) && !it->Value) return true;
    if ((it->Type == kItemOneOf || it->Type == kItemSomeOf) &&
        it->ChoiceCount != CountChoices(it->szChoices)) {
      return true;
    }
  }
  return false;
}

// What the lines of one menu level have set, so that the file's own values win over the
// state formats applied on the way: after each list item's format, the values and states
// read so far are put back (an S group of a later line would otherwise replace a value the
// file gives explicitly, an N or H group a state, and a submenu block would be chosen by
// values that the file does not hold).
struct LoadedValue {
  intptr_t Value;
  int32_t State;
  unsigned char flValue, flState;
};

// Puts back the values and states that the lines of the level gave.
void ReassertLoaded(TextMenu* pMenu, const LoadedValue* pLoaded) {
  if (!pLoaded) return;
  for (int i = 0; pMenu->pItems[i].szText; i++) {
    TextMenuItem* it = &pMenu->pItems[i];
    if (pLoaded[i].flState) it->State = pLoaded[i].State;
    if (!pLoaded[i].flValue || it->Value == pLoaded[i].Value) continue;
    it->Value = pLoaded[i].Value;
    if (it->Type == kItemOneOf) UpdateStateSelection(it);
  }
}

// One value line "<i>[<value>]< type state>"; false when it is skipped. What it sets is
// noted in pLoaded (when not null).
bool LoadValueLine(TextMenu* pMenu, int index, char* text, LoadedValue* pLoaded) {
  TextMenuItem* it = ItemAt(pMenu, index);
  char* pClose = strrchr(text, ']');
  if (!it || !pClose) return false;
  *pClose = '\0';
  const char* value = text;
  const char* rest = pClose + 1;

  long type = 0, state = -1;
  while (*rest == ' ' || *rest == '\t') rest++;
  if (*rest) {
    int nRead = 0;
    if (sscanf(rest, "%ld %ld%n", &type, &state, &nRead) != 2) return false;
    for (rest += nRead; *rest; rest++) {
      if (!isspace(static_cast<unsigned char>(*rest))) return false;
    }
    if (state < kItemNormal || state > kItemHidden) return false;
    bool flTexts = (type == kItemText || type == kItemOptText) &&
                   (it->Type == kItemText || it->Type == kItemOptText);
    if (type != 0 && type != it->Type && !flTexts) return false;
  }

  long n = 0;
  switch (it->Type) {
    case kItemOneOf:
      if (!ParseLong(value, &n) || n < 0 || n >= it->ChoiceCount) return false;
      break;
    case kItemInt:
      if (!ParseLong(value, &n)) return false;
      break;
    case kItemFloat: {
      char* pEnd = nullptr;
      double d = strtod(value, &pEnd);
      if (!*value || isspace(static_cast<unsigned char>(*value)) || *pEnd || !std::isfinite(d)) {
        return false;
      }
      it->Value = MenuFloatWord(d);
      break;
    }
    case kItemText:
    case kItemOptText:
      if (strlen(value) > kMenuTextSize - 1 || !it->Value) return false;
      break;
    default:
      break;
  }

  if (state >= 0) it->State = static_cast<int32_t>(state);
  if (pLoaded) {
    pLoaded[index].flState = state >= 0;
    pLoaded[index].State = static_cast<int32_t>(state);
    pLoaded[index].flValue = it->Type == kItemOneOf || it->Type == kItemInt || it->Type == kItemFloat;
  }
  switch (it->Type) {
    case kItemOneOf:
      it->PrevValue = it->Value;
      it->Value = n;
      UpdateStateSelection(it);
      if (pLoaded) pLoaded[index].Value = it->Value;
      ProcessStateFormat(pMenu, index);
      ReassertLoaded(pMenu, pLoaded);
      break;
    case kItemInt:
      it->Value = n;
      if (pLoaded) pLoaded[index].Value = n;
      break;
    case kItemFloat:
      if (pLoaded) pLoaded[index].Value = it->Value;
      break;
    case kItemText:
    case kItemOptText:
      strcpy(reinterpret_cast<char*>(it->Value), value);
      break;
    default:
      break;
  }
  if (type != 0) it->Type = static_cast<int32_t>(type);
  return true;
}

void LoadLevel(TextMenu* pMenu, int depth) {
  // Without memory for the notes the values load as the lines come, formats applied.
  int nItems = MenuItemCount(pMenu);
  auto* pLoaded = static_cast<LoadedValue*>(GetMem(static_cast<int>(sizeof(LoadedValue)) * (nItems + 1)));
  if (pLoaded) memset(pLoaded, 0, sizeof(LoadedValue) * (nItems + 1));
  while (GetFileLine()) {
    char* line = LineBuf;
    line[strcspn(line, "\r\n")] = '\0';
    if (line[0] == '}') {
      PutMem(pLoaded);
      TextMenuItem* pAccept = FindTextMenuItem(pMenu, kItemAccept);
      if (pAccept && pAccept->pfnAction) pAccept->pfnAction(pMenu, pAccept);
      return;
    }
    char* p = line;
    while (isdigit(static_cast<unsigned char>(*p))) p++;
    long index = 0;
    char c = *p;
    *p = '\0';
    bool flIndex = ParseLong(line, &index);
    *p = c;
    if (!flIndex) continue;
    if (c == '{') {
      TextMenuItem* it = ItemAt(pMenu, static_cast<int>(index));
      TextMenu* pSub = nullptr;
      if (it && it->Type == kItemSubmenu && depth < kMenuMaxDepth) {
        pSub = SubmenuOf(pMenu, static_cast<int>(index));
      }
      if (!pSub || !pSub->pItems) {
        SkipBlock();  // its lines are no lines of this menu
        continue;
      }
      if (NeedsInit(pSub)) InitMenu(pSub);
      LoadLevel(pSub, depth + 1);
      continue;
    }
    if (c == '[') LoadValueLine(pMenu, static_cast<int>(index), p + 1, pLoaded);
  }
  PutMem(pLoaded);
}

}  // namespace

void StoreMenu(TextMenu* pMenu) {
  if (pMenu && pMenu->pItems && pOut) StoreLevel(pMenu, 0);
}

void LoadMenu(TextMenu* pMenu) {
  if (pMenu && pMenu->pItems) LoadLevel(pMenu, 0);
  flLoadedSettings = 1;
}

int SaveMenuFile(TextMenu* pMenu, const char* path) {
  char tmp[PATH_MAX];
  bool ok = path && *path && snprintf(tmp, sizeof tmp, "%s_new", path) < static_cast<int>(sizeof tmp);
  int perm = 0644;
  struct stat st;
  if (ok && stat(path, &st) == 0) perm = st.st_mode & 0777;  // the file keeps its permissions
  FILE* f = nullptr;
  if (ok && CreateFreshFile(tmp, perm)) f = OpenRegularFile(tmp, 1);
  if (f) {
    FILE* pOld = pOut;
    pOut = f;
    StoreMenu(pMenu);
    pOut = pOld;
    ok = fflush(f) == 0 && !ferror(f) && fsync(fileno(f)) == 0;
    ok = fclose(f) == 0 && ok;
    ok = ok && rename(tmp, path) == 0;
  } else {
    ok = false;
  }
  if (!ok) {
    if (f) unlink(tmp);
    fprintf(stderr, "ERROR: can't write file, %s\n", path ? path : "");
    return 0;
  }
  return 1;
}
