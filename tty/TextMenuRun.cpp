// TextMenuRun.cpp - the menu run loop: the menu printed as a numbered list (after the "clear"
// command), a line read, the item it names found and carried out, until the user leaves.
// Every text shown comes from pDrvCoreDB, set 25, and is printed as data or through
// Nlsfprintf (which checks a format against its arguments). End of input at the menu prompt
// ends the program through SysError with message (25, 1016).
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/utils.h"
#include "nls/NlsUtils.h"
#include "syscmd/SysCmd.h"
#include "tty/TextMenu.h"
#include "tty/TextMenu_private.h"

using namespace textmenu;

int flExitTextMenu = 0;
char* pOption = nullptr;
TextMenuHelpFn pfnTextMenuHelp = nullptr;

namespace {

constexpr char kSettingsRule[] = "/A(1,255)+-+_+/";
// Whether the last interactive RunMenu saw a selection take effect: a submenu's changes count
// as a change of the menu that holds it (its save question then asks).
bool g_flLastRunChanged = false;
constexpr char kSettingsDefault[] = ".settings";

// Message (25, number) without arguments into out (kNlsStrBufSize bytes).
char* Msg(char* out, int number) {
  Nlssnprintf(out, kNlsStrBufSize, pDrvCoreDB, 25, number);
  return out;
}

[[noreturn]] void InputEnded() {
  char msg[kNlsStrBufSize];
  SysError("%s", Msg(msg, 1016));
}

// The shown label: a hot-key label from its fourth character.
const char* ShownLabel(const TextMenuItem* it) {
  if (it->szText[0] != '~') return it->szText;
  return strlen(it->szText) > 3 ? it->szText + 3 : "";
}

void PrintValue(TextMenuItem* it) {
  switch (it->Type) {
    case kItemOneOf: {
      const char* cur = it->szCurChoice;
      if (!cur || cur[0] == ' ' || cur[0] == '\0') {
        printf(" [ ]");
      } else {
        printf(" [%i. %s]", static_cast<int>(it->Value) + 1, cur[0] == '_' ? cur + 1 : cur);
      }
      break;
    }
    case kItemSomeOf:
      fflush(stdout);
      Nlsfprintf(stdout, pDrvCoreDB, 25, 270);
      if (it->Value == 1) {
        Nlsfprintf(stdout, pDrvCoreDB, 25, 271);
      } else {
        const char* sep = "";
        for (int b = 0; b < kMaxSetChoices; b++) {
          if (!(static_cast<uint64_t>(it->Value) >> b & 1)) continue;
          printf("%s%d", sep, b + 1);
          sep = ",";
        }
      }
      printf("]");
      break;
    case kItemText:
    case kItemOptText: {
      const char* text = reinterpret_cast<const char*>(it->Value);
      printf(" [%s]", text ? text : "");
      break;
    }
    case kItemInt:
      printf(" [%i]", static_cast<int>(it->Value));
      break;
    case kItemFloat:
      printf(" [%.3f]", MenuFloat(it->Value));
      break;
    default:
      break;
  }
}

// Reads one answer line into buf (4096 bytes) after printing "<prompt>: ". Null at the end.
char* AskValue(const TextMenuItem* it, char* buf) {
  printf("%s: ", it->szPrompt ? it->szPrompt : ShownLabel(it));
  fflush(stdout);
  return PromptUser("", buf);
}

// Strict number checks of typed values, reported like the entry rules' own refusals.
bool IntOk(const char* text, long* pOut) {
  const char* p = text;
  if (*p == '-' || *p == '+') p++;
  for (const char* q = p; *q; q++) {
    if (!isdigit(static_cast<unsigned char>(*q))) {
      PostMsg("Invalid digit:  %c\n", *q);
      return false;
    }
  }
  errno = 0;
  long v = strtol(text, nullptr, 10);
  if (!*p || errno || v < INT_MIN || v > INT_MAX) {
    char msg[kNlsStrBufSize];
    Nlssnprintf(msg, sizeof msg, pDrvCoreDB, 25, 1003, INT_MIN, INT_MAX);
    PostMsg("%s", msg);
    return false;
  }
  *pOut = v;
  return true;
}

bool FloatOk(const char* text, double* pOut) {
  char* pEnd = nullptr;
  double d = strtod(text, &pEnd);
  if (pEnd == text || *pEnd || !std::isfinite(d)) {
    char msg[kNlsStrBufSize];
    char bad = pEnd && *pEnd ? *pEnd : text[0];
    Nlssnprintf(msg, sizeof msg, pDrvCoreDB, 25, 1006, bad);
    PostMsg("%s", msg);
    return false;
  }
  *pOut = d;
  return true;
}

// Types 11 to 14: the option text or the answer to the prompt, checked and stored.
bool TakeValue(TextMenuItem* it, const char* option) {
  char buf[kLineBufSize];
  const char* value = option;
  if (!value || !*value) {
    value = AskValue(it, buf);
    if (!value || !*value) return false;
  }
  if (ValidateEntry(value, it->szRule) != kEntryValid) return false;
  switch (it->Type) {
    case kItemText:
    case kItemOptText: {
      char* text = reinterpret_cast<char*>(it->Value);
      if (!text) return false;
      if (strlen(value) > kMenuTextSize - 1) {
        char msg[kNlsStrBufSize];
        Nlssnprintf(msg, sizeof msg, pDrvCoreDB, 30, 42, 1, kMenuTextSize - 1);
        PostMsg("%s", msg);
        return false;
      }
      strcpy(text, value);
      return true;
    }
    case kItemInt: {
      long n = 0;
      if (!IntOk(value, &n)) return false;
      it->Value = n;
      return true;
    }
    case kItemFloat: {
      double d = 0;
      if (!FloatOk(value, &d)) return false;
      it->Value = MenuFloatWord(d);
      return true;
    }
    default:
      return false;
  }
}

// Type 9: choice n (1-based) when it is shown, else the next shown one after the current.
bool NextChoice(TextMenu* pMenu, int index, TextMenuItem* it, const char* option) {
  int count = it->ChoiceCount;
  if (count <= 0) return false;
  int pick = -1;
  if (option && isdigit(static_cast<unsigned char>(option[0]))) {
    long n = strtol(option, nullptr, 10);
    if (n >= 1 && n <= count && !ChoiceHidden(it, static_cast<int>(n - 1))) {
      pick = static_cast<int>(n - 1);
    }
  }
  for (int k = 1; pick < 0 && k <= count; k++) {
    int c = static_cast<int>((it->Value + k) % count);
    if (!ChoiceHidden(it, c)) pick = c;
  }
  if (pick < 0) return false;
  it->PrevValue = it->Value;
  it->Value = pick;
  SetCurChoice(it, pick);
  ProcessStateFormat(pMenu, index);
  return true;
}

void SaveAsk(TextMenu* pMenu) {
  printf("Enter the settings file name: ");
  fflush(stdout);
  char name[kLineBufSize];
  if (!Gets(name, sizeof name)) return;
  if (ValidateEntry(name, kSettingsRule) != kEntryValid) return;
  if (!SaveMenuFile(pMenu, name)) PostMsg("ERROR: can't write file, %s\n", name);
}

}  // namespace

int TestNames(TextMenu* pMenu) {
  for (TextMenuItem* it = pMenu->pItems; it->szText && it->State != kItemHidden; it++) {
    if (it->Type != kItemText) continue;
    const char* text = reinterpret_cast<const char*>(it->Value);
    if (text && text[0]) continue;
    char msg[kNlsStrBufSize];
    Nlssnprintf(msg, sizeof msg, pDrvCoreDB, 25, 1011);
    PostMsg("%s", msg);
    return 0;
  }
  return 1;
}

int PrintMenu(TextMenu* pMenu, int dotCol, int titleLen) {
  fflush(stdout);
  SysCmd(-kCmdClear, kSysCmdLog, "%s", "");  // quiet: its output reaches the terminal
  const char* title = pMenu->szTitle ? pMenu->szTitle : "";
  switch (pMenu->TitleStyle) {
    case 0:
      printf("\f\n%s:\n\n", title);
      break;
    case 1:
      printf("\f\n%*s%s\n\n", titleLen < kMenuWidth ? (kMenuWidth - titleLen) / 2 : 0, "", title);
      break;
    case 2:
      printf("\f\n%*s%s\n\n", titleLen < kMenuWidth ? kMenuWidth - titleLen : 0, "", title);
      break;
    default:
      break;
  }

  int index = 0;
  int number = 0;
  TextMenuItem* items = pMenu->pItems;
  for (; items[index].szText; index++) {
    TextMenuItem* it = &items[index];
    bool flPrinted = true;
    if (it->Type > kItemBar && it->szText[0] != '~') number++;
    if (it->Type == kItemSubmenu) {
      TextMenu* pSub = ValidateMenu(pMenu, index);
      if (!pSub) continue;  // nothing, not even the line end
      if (it->szText[0] == '~') {
        printf(" %c) %s ", it->HotKey, pSub->szTitle ? pSub->szTitle : "");
      } else {
        printf("%2i) %s ", it->HotKey, pSub->szTitle ? pSub->szTitle : "");
      }
    } else if (it->Type == kItemLabelBar || it->Type == kItemBar) {
      TextMenuItem* pLast = PrintMenuBarItem(it, it->Type, &index, &number);
      index = static_cast<int>(pLast - items);
    } else if (it->Type == kItemLabel) {
      printf("%s ", it->szText);
    } else if (it->State == kItemDimmed) {
      printf("%*s  %s ", 2, " ", ShownLabel(it));
    } else if (it->State == kItemHidden) {
      flPrinted = false;
    } else if (it->szText[0] == '~') {
      printf(" %c) %s ", it->HotKey, ShownLabel(it));
    } else {
      printf("%2i) %s ", it->Type == kItemBlank ? number : it->HotKey, it->szText);
    }
    if (flPrinted && it->Type >= kItemOneOf && it->Type <= kItemFloat) {
      for (int k = it->TextLen; k < dotCol; k++) putchar('.');
      PrintValue(it);
    }
    if (flPrinted) printf("\n%s", pMenu->Flags & kMenuNoBlankLine ? "" : "\n");
  }

  char save[kNlsStrBufSize] = "", help[kNlsStrBufSize] = "", leave[kNlsStrBufSize] = "";
  if (pMenu->Flags & (kMenuSaveAs | kMenuSaveExit)) Msg(save, 230);
  if (pMenu->Flags & kMenuHelp) Msg(help, 231);
  if (!(pMenu->Flags & kMenuEnterSelects)) Msg(leave, 232);
  fflush(stdout);
  Nlsfprintf(stdout, pDrvCoreDB, 25, 510, save, help, leave);
  fflush(stdout);
  return index;
}

TextMenuItem* PrintMenuBarItem(TextMenuItem* pBar, int type, int* pIndex, int* pNumber) {
  int cols = pBar->Value > 0 && pBar->Value <= kMenuWidth ? static_cast<int>(pBar->Value) : 3;
  int width = kMenuWidth / cols;
  int used = 0;
  TextMenuItem* pLast = pBar;
  for (TextMenuItem* it = pBar + 1; it->szText && (type == kItemBar || it->Type == kItemLabel); it++) {
    pLast = it;
    (*pIndex)++;
    if ((type == kItemLabelBar && it->Type == kItemLabel) || (type == kItemBar && it->Type == kItemBar)) {
      putchar('\n');
      cols = it->Value > 0 && it->Value <= kMenuWidth ? static_cast<int>(it->Value) : 3;
      width = kMenuWidth / cols;
      used = 0;
      continue;
    }
    int len = it->TextLen;
    if (len + used > kMenuWidth || (used > 0 && len > width - 5)) {
      putchar('\n');
      used = 0;
    }
    (*pNumber)++;
    if (it->State == kItemHidden) continue;
    char cell[kMenuWidth * 4];
    if (it->szText[0] == '~') {
      snprintf(cell, sizeof cell, " %c) %s%*s", it->HotKey, ShownLabel(it),
               width - len - 3 > 0 ? width - len - 3 : 0, "");
    } else {
      snprintf(cell, sizeof cell, "%2i) %s%*s", it->HotKey, it->szText,
               width - len - 5 > 0 ? width - len - 5 : 0, "");
    }
    int cut = width - 2 > 0 ? width - 2 : 0;
    if (static_cast<int>(strlen(cell)) > cut) cell[cut] = '\0';
    printf("%s ", cell);
    if (len > width - cols) {
      putchar('\n');
      used = 0;
    } else {
      used += width;
    }
  }
  return pLast;
}

int FindSelection(TextMenu* pMenu, int limit) {
  char* line = LineBuf;
  char* p = line;
  while (*p && *p != ' ' && *p != '\t') p++;
  while (*p == ' ' || *p == '\t') p++;
  pOption = p;

  TextMenuItem* items = pMenu->pItems;
  if (isdigit(static_cast<unsigned char>(line[0]))) {
    errno = 0;
    long n = strtol(line, nullptr, 10);
    if (errno || n <= 0 || n > INT_MAX) return 0;
    for (int i = 0; i < limit && items[i].szText; i++) {
      if (items[i].szText[0] != '~' && items[i].State == kItemNormal && items[i].HotKey == n &&
          items[i].Type > kItemBar) {
        return i + 1;
      }
    }
    return 0;
  }
  int key = tolower(static_cast<unsigned char>(line[0]));
  if (key == 'h' && (pMenu->Flags & kMenuHelp)) {
    if (pfnTextMenuHelp) pfnTextMenuHelp(pMenu);
    return 0;
  }
  if (key == 's' && (pMenu->Flags & kMenuSaveAs)) {
    SaveAsk(pMenu);
    return 0;
  }
  if (key == 's' && (pMenu->Flags & kMenuSaveExit)) {
    exit(SaveMenuFile(pMenu, kSettingsDefault) ? 0 : 1);
  }
  for (int i = 0; i < limit && items[i].szText; i++) {
    if (items[i].szText[0] == '~' && items[i].State == kItemNormal &&
        tolower(items[i].HotKey) == key && key) {
      return i + 1;
    }
  }
  return 0;
}

bool ProcessSelection(TextMenu* pMenu, int index, const char* option) {
  TextMenuItem* it = ItemAt(pMenu, index);
  if (!it) return false;
  bool ok = false;
  switch (it->Type) {
    case kItemAccept:
      if (!TestNames(pMenu)) return false;
      [[fallthrough]];
    case kItemCancel:
    case kItemExit:
    case kItemCommand:
      return !it->pfnAction || it->pfnAction(pMenu, it) == 0;
    case kItemSubmenu: {
      TextMenu* pSub = ValidateMenu(pMenu, index);
      g_flLastRunChanged = false;
      if (pSub) RunMenu(pSub, nullptr, 1);
      if (pMenu->pfnOnShow) pMenu->pfnOnShow(pMenu);
      return g_flLastRunChanged;
    }
    case kItemOneOf:
      ok = NextChoice(pMenu, index, it, option);
      break;
    case kItemSomeOf: {
      intptr_t before = it->Value;
      ProcessStateValue(pMenu, index, option && *option ? option : nullptr);
      return it->Value != before;  // the picker has called the action itself
    }
    case kItemText:
    case kItemOptText:
    case kItemInt:
    case kItemFloat:
      ok = TakeValue(it, option);
      break;
    default:
      return false;
  }
  if (ok && it->pfnAction) it->pfnAction(pMenu, it);
  return ok;
}

int RunMenu(TextMenu* pMenu, const char* path, int interactive) {
  if (pMenu->pfnOnShow) pMenu->pfnOnShow(pMenu);
  if (flExitTextMenu) return 0;
  int dotCol = InitMenu(pMenu);
  if (path) {
    if (!OpenInputFile(path, 0)) {
      TextMenuItem* pCancel = FindTextMenuItem(pMenu, kItemCancel);
      if (pCancel && pCancel->pfnAction) pCancel->pfnAction(pMenu, pCancel);
      return 0;
    }
    LoadMenu(pMenu);
    CloseInputFile();
  }
  if (!interactive) {
    if (pMenu->pfnOnFinish) pMenu->pfnOnFinish(pMenu);
    return 0;
  }
  const char* title = pMenu->szTitle ? pMenu->szTitle : "";
  int titleLen = static_cast<int>(strcspn(title, "\r\n"));
  bool flChanged = false;
  bool flReinit = false;
  for (;;) {
    int limit = PrintMenu(pMenu, dotCol, titleLen);
    if (!Gets(LineBuf, kLineBufSize)) {
      if (!(pMenu->Flags & kMenuLeaveAtEnd)) InputEnded();
      putchar('\n');  // what follows starts on a line of its own
      fflush(stdout);
      if (!(pMenu->Flags & kMenuKeepValues)) FreeMenu(pMenu);
      g_flLastRunChanged = flChanged;
      return 0;
    }
    if (LineBuf[0] || (pMenu->Flags & kMenuEnterSelects)) {
      int sel = FindSelection(pMenu, limit);
      if (!sel) continue;
      TextMenuItem* it = &pMenu->pItems[sel - 1];
      int type = it->Type;
      bool ok = ProcessSelection(pMenu, sel - 1, pOption);
      if (!(pMenu->Flags & kMenuLeaveByOldType)) type = it->Type;
      if (flExitTextMenu || (ok && type >= kItemAccept && type <= kItemExit)) {
        if (!(pMenu->Flags & kMenuKeepValues)) FreeMenu(pMenu);
        g_flLastRunChanged = flChanged;
        return 0;
      }
      if (ok && type == kItemCommand && (pMenu->Flags & kMenuCommandReinit)) {
        dotCol = InitMenu(pMenu);
        flReinit = true;
      } else if (!flReinit && ok) {
        flChanged = true;
      }
      continue;
    }

    // An empty line asks to leave.
    if (pMenu->szSaveQuestion) {
      if (flChanged) {
        int answer = PromptYN("%s", pMenu->szSaveQuestion);
        if (answer < 0) InputEnded();
        if (answer == 1) {
          if (!TestNames(pMenu)) continue;
          if (pMenu->pfnOnFinish) pMenu->pfnOnFinish(pMenu);
          if (!(pMenu->Flags & kMenuKeepValues)) FreeMenu(pMenu);
          g_flLastRunChanged = true;
          return 0;
        }
      }
    } else if (pMenu->pfnOnFinish) {
      pMenu->pfnOnFinish(pMenu);
    }
    char question[kNlsStrBufSize];
    bool flByName = pMenu->ppName && *pMenu->ppName;
    if (flByName) {
      Nlssnprintf(question, sizeof question, pDrvCoreDB, 25, 1017, *pMenu->ppName);
    } else {
      Nlssnprintf(question, sizeof question, pDrvCoreDB, 25, 1018, my_name ? my_name : "");
    }
    int answer = PromptYN("%s", question);
    if (answer < 0) InputEnded();
    if (answer == 1) {
      if (!(pMenu->Flags & kMenuKeepValues)) FreeMenu(pMenu);
      if (!flByName) putchar('\n');
      fflush(stdout);
      g_flLastRunChanged = flChanged;
      return 0;
    }
    if (pMenu->pfnOnShow) pMenu->pfnOnShow(pMenu);
  }
}
