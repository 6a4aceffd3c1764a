// HelpTty.cpp - the help menu's items: the current page shown through the menu toolkit, its text
// as the first item, one numbered item per link, then Exit Help, Contents and Back, and the item
// actions. The items live in one pool array grown as pages need; the link texts and the title
// are saved strings, released when the menu is rebuilt. Texts come from pDrvCoreDB (set 20
// items, set 30 title). The menu is run by HelpTtyRun.cpp.
#include <cstdio>
#include <cstring>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "help/HelpTty.h"
#include "nls/NlsUtils.h"

namespace {

// Capacity beyond the link items: the page text, the six common items and a spare.
constexpr int kHelpFixedItems = 7;

// State of the help menu beyond the named globals.
struct HelpTtyState {
  int nLinkItems;       // link items of the current build (their texts are saved strings)
  char* pTitle;         // the menu title made by the last build (saved string)
  char* aCommon[3];     // saved texts of the Exit Help, Contents and Back items
};
HelpTtyState Tty = {0, nullptr, {nullptr, nullptr, nullptr}};

void SetTitle(const char* title) {
  char* pNew = SaveStr_(title);
  if (Tty.pTitle) PutMem(Tty.pTitle);
  Tty.pTitle = HelpMenu.szTitle = pNew;
}

// The anchor's text without its link brackets, blanks for line feeds, at most 127 characters.
char* LinkItemText(const HtmlPage* pPage, const HtmlAnchor* pAnchor) {
  const char* image = pPage->pImage ? pPage->pImage : "";
  long nImage = static_cast<long>(strlen(image));
  long nFrom = static_cast<long>(pAnchor->Start) + 1;
  long nLen = static_cast<long>(pAnchor->Len) - 2;
  if (nFrom < 0) nFrom = 0;
  if (nFrom > nImage) nFrom = nImage;
  if (nLen > nImage - nFrom) nLen = nImage - nFrom;
  if (nLen > kHelpItemTextMax) nLen = kHelpItemTextMax;
  if (nLen < 0) nLen = 0;
  char* text = SaveStr("%.*s", static_cast<int>(nLen), image + nFrom);
  for (char* p = text; *p; p++) {
    if (*p == '\n' || *p == '\r') *p = ' ';
  }
  return text;
}

// The link items' texts of the last build go back to the pool.
void ReleaseLinkTexts() {
  for (int i = 1; i <= Tty.nLinkItems && i < HelpMenuItemCnt; i++) {
    PutMem(HelpMenuItems[i].szText);
    HelpMenuItems[i].szText = nullptr;
  }
  Tty.nLinkItems = 0;
}

// After a move: rebuild the items, 1; a move that failed keeps the menu and shows why.
int AfterMove(int moved) {
  if (!moved) return 0;
  TtyHelpBuildMenuItems();
  return 1;
}

}  // namespace

TextMenuItem* HelpMenuItems = nullptr;
int HelpMenuItemCnt = 0;
TextMenu HelpMenu = {nullptr, 1, nullptr, nullptr, nullptr, nullptr, nullptr, kHelpMenuFlags};

TextMenuItem HelpCommonItems[kHelpCommonItems] = {
    {(char*)"", kItemBar, 0, nullptr, nullptr, nullptr, 0, 1, 0, nullptr, 0, nullptr, -1, 0,
     nullptr, 0},
    {(char*)"", kItemBar, 0, nullptr, nullptr, nullptr, 0, 3, 0, nullptr, 0, nullptr, -1, 0,
     nullptr, 0},
    {(char*)"~e Exit Help", kItemExit, 0, nullptr, nullptr, nullptr, 0, 0, 0, nullptr, 0, nullptr,
     -1, 0, nullptr, 'e'},
    {(char*)"~c Contents", kItemCommand, 0, nullptr, nullptr, nullptr, 0, 0, 0, TtyHelpContents, 0,
     nullptr, -1, 0, nullptr, 'c'},
    {(char*)"~b Back", kItemCommand, 0, nullptr, nullptr, nullptr, 0, 0, 0, TtyHelpBack, 0, nullptr,
     -1, 0, nullptr, 'b'},
    {},
};

char* TtyHelpBuildMenuItems() {
  HtmlPage* pPage = pCurrentPage;
  if (!pPage) return nullptr;
  int nNeed = pPage->Links.Count + kHelpFixedItems;
  ReleaseLinkTexts();
  if (nNeed > HelpMenuItemCnt) {
    void* pNew = AdjustMem(HelpMenuItems, nNeed * static_cast<int>(sizeof(TextMenuItem)));
    if (!pNew) return nullptr;
    HelpMenuItems = static_cast<TextMenuItem*>(pNew);
    HelpMenuItemCnt = nNeed;
  }
  memset(HelpMenuItems, 0, static_cast<size_t>(HelpMenuItemCnt) * sizeof(TextMenuItem));
  HelpMenu.pItems = HelpMenuItems;

  TextMenuItem* it = HelpMenuItems;
  it->szText = pPage->pImage ? pPage->pImage : const_cast<char*>("");
  it->Type = kItemLabel;
  it->SavedValue = -1;
  it++;
  if (!pPage->szPage) pPage->szPage = const_cast<char*>("contents");

  int nLink = 0;
  for (Link* pa = pPage->Links.pFirst; pa; pa = pa->pNext) {
    HtmlAnchor* pAnchor = *static_cast<HtmlAnchor**>(pa->pItem);
    if (!pAnchor) break;
    // Name anchors are places, not links.
    if (pAnchor->Kind != 2 || pAnchor->Len <= 0) continue;
    it->szText = LinkItemText(pPage, pAnchor);
    it->TextLen = static_cast<int32_t>(strlen(it->szText));
    it->Type = kItemCommand;
    it->State = 0;
    it->HotKey = ++nLink;
    it->pfnAction = TtyHelpGotoLink;
    it->pUserData = pAnchor;
    it->SavedValue = -1;
    it++;
  }
  Tty.nLinkItems = nLink;

  for (int k = 0; k < 3; k++) {
    if (!Tty.aCommon[k]) {
      Tty.aCommon[k] = SaveStr_(NlsFetchString(pDrvCoreDB, nullptr, kNlsBySetNumber, 20, 150 + k));
    }
    HelpCommonItems[2 + k].szText = Tty.aCommon[k];
    HelpCommonItems[2 + k].HotKey = Tty.aCommon[k][0] ? Tty.aCommon[k][1] : 0;
  }
  for (int k = 0; k < kHelpCommonItems; k++) {
    *it = HelpCommonItems[k];
    if (it->szText) it->TextLen = static_cast<int32_t>(strlen(it->szText));
    it++;
  }

  char title[kNlsStrBufSize];
  Nlssnprintf(title, sizeof title, pDrvCoreDB, 30, 22, "Korvi");
  SetTitle(title);
  return HelpMenu.szTitle;
}

int TtyHelpGotoLink(TextMenu*, TextMenuItem* pItem) {
  if (!pItem || !pItem->pUserData) return 0;
  if (!ProcessLink(static_cast<HtmlAnchor*>(pItem->pUserData))) {
    PostMsg("%s", "");
    return 0;
  }
  return AfterMove(1);
}

int TtyHelpContents(TextMenu*, TextMenuItem*) { return AfterMove(HtmlSetHistory(0)); }

int TtyHelpBack(TextMenu*, TextMenuItem*) { return AfterMove(HtmlSetHistory(-1)); }
