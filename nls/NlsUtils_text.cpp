// NlsUtils_text.cpp - texts built from messages: menu and item texts, templates, the check
// value of a text and help redirect names.
#include <cstdint>
#include <cstring>
#include <strings.h>

#include "base/MemMgr.h"
#include "nls/NlsUtils.h"

namespace {

// A saved copy of message (25, number) of pDrvCoreDB (its key when missing), cut to 127.
char* MenuText(int number) {
  char text[kNlsStrBufSize];
  NlsFetchString(pDrvCoreDB, text, kNlsBySetNumber, 25, number);
  text[NlsCutText(text, kNlsMenuTextSize - 1)] = 0;
  return SaveStr_(text);
}

int FillItems(TextMenuItem* items, int first, int count, char* TextMenuItem::*field) {
  if (!items) return 0;
  for (int i = 0; i < count; i++) items[i].*field = MenuText(first + i);
  return count;
}

}  // namespace

char* NlsTtyMenuCvt(char** text, int number) {
  char* p = MenuText(number);
  if (text) *text = p;
  return p;
}

int NlsTtyMenuItemCvt(TextMenuItem* items, int first, int count) {
  return FillItems(items, first, count, &TextMenuItem::szText);
}

int NlsTtyMenuItemStateCvt(TextMenuItem* items, int first, int count) {
  return FillItems(items, first, count, &TextMenuItem::szChoices);
}

int NlsTtyMenuItemPromptCvt(TextMenuItem* items, int first, int count) {
  return FillItems(items, first, count, &TextMenuItem::szPrompt);
}

char* NlsGuiStrCvt(const char* tmpl, int set, char* out, int size) {
  if (!out || size < 1) return out;
  memset(out, 0, size);
  if (!tmpl) return out;
  char work[kNlsStrBufSize];
  size_t len = 0, room = size_t(size) - 1;
  int k = 1;
  for (const char* p = tmpl; *p && len < room; p++) {
    if (p[0] == '%' && p[1] == 's') {
      NlsFetchString(pDrvCoreDB, work, kNlsBySetNumber, set, k++);
      size_t n = NlsCutText(work, kNlsGuiWorkSize - 1);
      if (n > room - len) n = NlsCutText(work, room - len);
      memcpy(out + len, work, n);
      len += n;
      p++;
    } else {
      out[len++] = *p;
    }
  }
  out[len] = 0;
  return out;
}

char* NlsCalcStrVal(const char* text) {
  uint32_t w = 0, s = 0, pos = 0;
  for (const char* p = text ? text : ""; *p; p++) {
    uint32_t v = uint32_t(int32_t(static_cast<signed char>(*p)));  // 32-bit wrap-around
    pos++;
    s += v;
    w += pos * pos * v;
  }
  snprintf(StrVal, sizeof StrVal, "%08X%08X", unsigned(w), unsigned(s));
  return StrVal;
}

char* FindRedirect(char* name) {
  if (!name) return nullptr;
  char* key = strstr(name, "$$");
  if (!key) return nullptr;
  key += 2;
  char* dot = strchr(key, '.');
  if (!dot || strncasecmp(dot, ".redirect", 9) != 0) return nullptr;
  *dot = 0;
  return key;
}

char* CheckForRedirect(char* name) {
  char* key = FindRedirect(name);
  if (!key) return nullptr;
  memset(TmpKey, 0, sizeof TmpKey);
  memcpy(TmpKey, key, NlsCutText(key, kNlsTmpKeySize - 1));
  // Without a help catalogue the name receives the key too, as for a missing record.
  if (NlsFetchString(pPrtHelpDB, name, kNlsByKey, TmpKey) == pErrBuf)
    memmove(name, TmpKey, strlen(TmpKey) + 1);
  return TmpKey;
}
