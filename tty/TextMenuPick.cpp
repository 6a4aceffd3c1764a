// TextMenuPick.cpp - the full-screen picker of list items: the choices in columns of
// Height - 6 rows on the terminal's screen record, as many columns as fit, page after page;
// the user types choice numbers, or the save or cancel key. Drawn in the screen buffer
// (GetTermInfo, WriteString, Refresh); every page is drawn on blank cells.
// The picker's screen record, its texts (messages (25, 201) to (25, 205), fetched once) and the
// column widths live for the process, in one private record.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "nls/NlsUtils.h"
#include "tty/TextMenu.h"
#include "tty/TextMenu_private.h"

using namespace textmenu;

namespace {

struct PickState {
  TextScreen* pScreen;
  int ColIndex;                 // column at which the current page starts
  char CurSel[kPickSelSize];    // texts of the current choices on the page
  char* szSave;                 // (25, 201): its first character saves
  char* szCancel;               // (25, 202): its first character cancels
  char* szCurSel;               // (25, 203): a format with one "%s"
  char* szCurSelTrunc;          // (25, 204): the same for a cut selection
  char* szOption;               // (25, 205): the prompt in the last row
  int* pWidths;                 // widest choice of each column
  int nWidths;                  // entries pWidths holds
};
PickState g_Pick;

char* FetchOnce(char** pText, int number) {
  if (!*pText) *pText = NlsFetchString(pDrvCoreDB, nullptr, kNlsBySetNumber, 25, number);
  if (!*pText) *pText = SaveStr_("");
  return *pText;
}

int RowsPerColumn(const TextScreen* pScreen) { return pScreen->Height - 6; }

// Choice k as shown: without its marker.
const char* ChoiceText(const TextMenuItem* pItem, int k, int* pLen) {
  int len = 0;
  const char* p = ChoiceAt(pItem, k, &len);
  if (!p) return nullptr;
  if (*p == '_' || *p == ' ') {
    p++;
    len--;
  }
  *pLen = len;
  return p;
}

bool IsCurrent(const TextMenuItem* pItem, int k) {
  if (pItem->Type == kItemOneOf) return pItem->Value == k;
  return k < kMaxSetChoices && (static_cast<uint64_t>(pItem->Value) >> k & 1);
}

void AddCurSel(const char* text, int len, bool flBlank) {
  int have = static_cast<int>(strlen(g_Pick.CurSel));
  int room = kPickSelSize - 1 - have;
  if (len > room) len = room;
  memcpy(g_Pick.CurSel + have, text, len);
  have += len;
  if (flBlank && have < kPickSelSize - 1) g_Pick.CurSel[have++] = ' ';
  g_Pick.CurSel[have] = '\0';
}

// Formats a catalogue text with one text argument when its conversions allow it.
void WriteFormatted(TextScreen* pScreen, const char* fmt, const char* arg, int set, int number) {
  char out[kNlsStrBufSize + kPickSelSize];
  if (NlsCheckArgs(fmt, set, number)) {
    snprintf(out, sizeof out, fmt, arg);
  } else {
    snprintf(out, sizeof out, "%s", pErrBuf ? pErrBuf : "Error");
  }
  WriteString(pScreen, "%s", out);
}

}  // namespace

int GetColumnWidths(TextScreen* pScreen, TextMenuItem* pItem, int* widths) {
  int rows = RowsPerColumn(pScreen);
  if (rows <= 0) return 0;
  int widest = 0;
  for (int k = 0; k < pItem->ChoiceCount; k++) {
    int len = 0;
    if (!ChoiceText(pItem, k, &len)) break;
    int col = k / rows;
    if (k % rows == 0) widths[col] = 0;
    if (len > widths[col]) widths[col] = len;
    if (len > widest) widest = len;
  }
  return widest;
}

void WriteScreenFrame(TextScreen* pScreen, TextMenuItem* pItem, const char* curSel) {
  int w = pScreen->Width, h = pScreen->Height;
  int x = (w - pItem->TextLen) / 2;
  SetPosition(pScreen, x > 0 ? x : 0, 1);
  WriteString(pScreen, "%s", pItem->szText);
  SetPosition(pScreen, 0, h - 2);
  WriteString(pScreen, "%s", g_Pick.szSave);
  SetPosition(pScreen, w / 2, h - 2);
  WriteString(pScreen, "%s", g_Pick.szCancel);
  SetPosition(pScreen, 0, h - 1);
  int fmtLen = static_cast<int>(strlen(g_Pick.szCurSel));
  int selLen = static_cast<int>(strlen(curSel));
  if (selLen > w - fmtLen + 2) {
    char cut[kPickSelSize];
    int keep = w - fmtLen - 1;
    if (keep < 0) keep = 0;
    if (keep > kPickSelSize - 1) keep = kPickSelSize - 1;
    memcpy(cut, curSel, keep);
    cut[keep] = '\0';
    WriteFormatted(pScreen, g_Pick.szCurSelTrunc, cut, 25, 204);
  } else {
    WriteFormatted(pScreen, g_Pick.szCurSel, curSel, 25, 203);
  }
  SetPosition(pScreen, 0, h);
  WriteString(pScreen, "%s", g_Pick.szOption);
}

int PrintPickOneManyScreen(TextMenuItem* pItem, uint64_t* pMask, int first) {
  TextScreen* s = g_Pick.pScreen;
  int count = pItem->ChoiceCount;
  if (first == 0) {
    s = g_Pick.pScreen = GetTermInfo(g_Pick.pScreen);
    if (!s) return -1;
    g_Pick.ColIndex = 0;
    FetchOnce(&g_Pick.szSave, 201);
    FetchOnce(&g_Pick.szCancel, 202);
    FetchOnce(&g_Pick.szCurSel, 203);
    FetchOnce(&g_Pick.szCurSelTrunc, 204);
    FetchOnce(&g_Pick.szOption, 205);
    *pMask = 0;
    int rows = RowsPerColumn(s);
    int nCols = rows > 0 ? (count + rows - 1) / rows : 0;
    if (nCols > g_Pick.nWidths) {
      PutMem(g_Pick.pWidths);
      g_Pick.pWidths = static_cast<int*>(GetMem(nCols * static_cast<int>(sizeof(int))));
      g_Pick.nWidths = g_Pick.pWidths ? nCols : 0;
    }
    int widest = g_Pick.pWidths ? GetColumnWidths(s, pItem, g_Pick.pWidths) : 0;
    int keys = static_cast<int>(strlen(g_Pick.szSave) + strlen(g_Pick.szCancel));
    int need = widest / 2 + 20;
    if (rows <= 0 || !g_Pick.pWidths || s->Width < keys || s->Width < need) {
      fflush(stdout);
      Nlsfprintf(stdout, pDrvCoreDB, 25, 206);
      Nlsfprintf(stdout, pDrvCoreDB, 25, 207, s->Width, s->Height);
      Nlsfprintf(stdout, pDrvCoreDB, 25, 208, keys > need ? keys : need, 7);
      fflush(stdout);
      int c;
      while ((c = getchar()) != EOF && c != '\n') {}  // one answer line
      return -1;
    }
  }
  int rows = RowsPerColumn(s);
  if (rows <= 0) return -1;
  if (first > 0) g_Pick.ColIndex = first / rows;  // pages start at a column's first choice
  int nCols = (count + rows - 1) / rows;

  ClearScreen(s);
  FillArea(s, 0, 0, s->Width, s->Height, ' ');
  // Columns that fit from the column index on: each takes its width + 7.
  int used = 0, nPage = 0;
  for (int c = g_Pick.ColIndex; c < nCols; c++) {
    int need = g_Pick.pWidths[c] + 7;
    if (used + need > s->Width) {
      if (nPage == 0 && g_Pick.pWidths[c] / 2 + 7 <= s->Width) {
        used = s->Width;
        nPage = 1;
      }
      break;
    }
    used += need;
    nPage++;
  }
  if (nPage == 0) nPage = 1;
  int shift = nPage >= 2 ? (s->Width - used) / nPage : 0;

  g_Pick.CurSel[0] = '\0';
  *pMask = 0;
  int shown = 0;
  int x = 0;
  for (int k = 0; k < rows * nPage && first + k < count; k++) {
    int c = k / rows;
    if (k > 0 && k % rows == 0) x += g_Pick.pWidths[g_Pick.ColIndex + c - 1] + 7;
    int xs = c > 0 ? x + shift : x;
    int row = 3 + k % rows;
    int choice = first + k;
    const char* p = ChoiceAt(pItem, choice, nullptr);
    if (!p) break;
    bool flHidden = *p == ' ';
    int len = 0;
    const char* text = ChoiceText(pItem, choice, &len);
    if (flHidden && k < 64) *pMask |= uint64_t{1} << k;
    if (IsCurrent(pItem, choice)) {
      SetPosition(s, xs, row);
      WriteString(s, " ->");
      AddCurSel(text, len, pItem->Type == kItemSomeOf);
    }
    if (!flHidden) {
      SetPosition(s, xs + 4, row);
      WriteString(s, "%2d) ", choice + 1);
    }
    int room = s->Width - xs - 7;
    SetPosition(s, xs + 8, row);
    if (c == 0 && len > room) {
      int keep = room - 3 > 0 ? room - 3 : 0;
      WriteString(s, "%.*s...", keep, text);
    } else {
      int fit = s->Width - xs - 8;
      WriteString(s, "%.*s", len < fit ? len : (fit > 0 ? fit : 0), text);
    }
    shown++;
  }
  WriteScreenFrame(s, pItem, g_Pick.CurSel);
  Refresh(s);
  MoveCursor(s, static_cast<int>(strlen(g_Pick.szOption)), s->Height);
  return first + shown < count ? shown : 0;
}

void ProcessStateValue(TextMenu* pMenu, int index, const char* preset) {
  TextMenuItem* pItem = ItemAt(pMenu, index);
  if (!pItem || (pItem->Type != kItemOneOf && pItem->Type != kItemSomeOf)) return;
  intptr_t kept = pItem->Value;
  uint64_t mask = 0;
  int first = 0;
  for (;;) {
    int shown = PrintPickOneManyScreen(pItem, &mask, first);
    if (shown < 0) return;
    int next = shown ? first + shown : 0;
    const char* answer = preset;
    preset = nullptr;
    if (!answer) answer = Gets(LineBuf, kLineBufSize);
    if (!answer) {  // input ended: nothing was confirmed
      if (pItem->Value != kept) {
        pItem->PrevValue = pItem->Value;
        pItem->Value = kept;
        if (pItem->Type == kItemOneOf) SetCurChoice(pItem, static_cast<int>(kept));
        ProcessStateFormat(pMenu, index);
      }
      return;
    }
    int key = tolower(static_cast<unsigned char>(answer[0]));
    if (!answer[0]) {
      first = next;
      continue;
    }
    if (key == tolower(static_cast<unsigned char>(g_Pick.szSave[0]))) return;
    if (key == tolower(static_cast<unsigned char>(g_Pick.szCancel[0]))) {
      pItem->PrevValue = pItem->Value;
      pItem->Value = kept;
      if (pItem->Type == kItemOneOf) SetCurChoice(pItem, static_cast<int>(kept));
      ProcessStateFormat(pMenu, index);
      if (pItem->pfnAction) pItem->pfnAction(pMenu, pItem);
      return;
    }
    if (!isalnum(static_cast<unsigned char>(answer[0]))) continue;

    intptr_t value = pItem->Value;
    bool flTaken = false;
    const char* p = answer;
    while (*p) {
      while (*p == ',' || *p == ' ' || *p == '\t') p++;
      if (!*p) break;
      const char* word = p;
      while (*p && *p != ',' && *p != ' ' && *p != '\t') p++;
      if (!isalnum(static_cast<unsigned char>(*word))) continue;
      long n = strtol(word, nullptr, 10);
      if (n < 1 || n > pItem->ChoiceCount || ChoiceHidden(pItem, static_cast<int>(n - 1))) continue;
      if (pItem->Type == kItemOneOf) {
        value = n - 1;
      } else {
        if (n > kMaxSetChoices) continue;
        value = static_cast<intptr_t>(static_cast<uint64_t>(value) ^ (uint64_t{1} << (n - 1)));
      }
      flTaken = true;
    }
    if (!flTaken) continue;
    pItem->PrevValue = pItem->Value;
    pItem->Value = value;
    if (pItem->Type == kItemOneOf) SetCurChoice(pItem, static_cast<int>(value));
    ProcessStateFormat(pMenu, index);
    if (pItem->pfnAction) pItem->pfnAction(pMenu, pItem);
  }
}
