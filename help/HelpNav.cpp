// HelpNav.cpp - help navigation: opening help, named targets, links between pages and files,
// and the history that Back and Contents walk.
// A link moves in steps that record nothing (the target search and the loading of a file), and
// only when it has arrived is the place it left recorded; a link that leads nowhere puts the
// current place back. This GoToTarget replaces the parser's weak one, so a target named in a
// path opened by HtmlHelp also records the first page as the place to go back to.
#include <cstdio>
#include <cstring>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "help/HelpTty.h"

HelpPlace History[kHelpHistorySize];
int HistoryI = 0;
int TargetPos = 0;
char flBuildingFile = 0;

namespace {

// State of the navigation beyond the named globals.
struct NavState {
  int nHomeFile;       // the file help was opened on: where Contents goes
  bool flNoRecord;     // a link is moving: GoToTarget records nothing
};
NavState Nav = {0, false};

HelpPlace CurrentPlace() { return {CurrentFile, pCurrentPage, TargetPos}; }

void RestorePlace(const HelpPlace& place) {
  CurrentFile = place.File;
  pCurrentPage = place.pPage;
  TargetPos = place.TargetPos;
}

void RecordPlace(const HelpPlace& place) {
  if (HistoryI < 0) HistoryI = 0;
  if (HistoryI >= kHelpHistorySize) return;
  History[HistoryI++] = place;
}

HtmlPage* FirstPage(int file) {
  if (file < 0 || file >= FileIndex || !aFile[file] || !aFile[file]->Pages.pFirst) return nullptr;
  return static_cast<HtmlPage*>(aFile[file]->Pages.pFirst->pItem);
}

// Moves to target in the current file (see GoToTarget); true when found.
bool FindTarget(const char* target) {
  if (!target || FileIndex == 0 || CurrentFile < 0 || CurrentFile >= FileIndex) return false;
  if (*target == '#') target++;
  for (Link* pl = aFile[CurrentFile]->Pages.pFirst; pl; pl = pl->pNext) {
    auto* pPage = static_cast<HtmlPage*>(pl->pItem);
    if (pPage->szPage && strcmp(pPage->szPage, target) == 0) {
      TargetPos = 0;
      if (!Nav.flNoRecord) SetHistory();
      pCurrentPage = pPage;
      return true;
    }
    for (Link* pa = pPage->Links.pFirst; pa; pa = pa->pNext) {
      HtmlAnchor* pAnchor = *static_cast<HtmlAnchor**>(pa->pItem);
      if (pAnchor->Kind == 1 && pAnchor->szTarget && strcmp(pAnchor->szTarget, target) == 0) {
        if (!Nav.flNoRecord) SetHistory();
        pCurrentPage = pPage;
        TargetPos = pAnchor->Start;
        return true;
      }
    }
  }
  return false;
}

// The path of a linked file: relative names are taken from the current file's folder.
char* LinkedPath(const char* name) {
  const char* szCurrent = FileIndex > 0 ? aFile[CurrentFile]->szName : "";
  const char* pSlash = strrchr(szCurrent, '/');
  if (name[0] == '/' || strstr(name, "://") || !pSlash) return SaveStr_(name);
  return SaveStr("%.*s/%s", static_cast<int>(pSlash - szCurrent), szCurrent, name);
}

// Moves to the place named by target T without recording; true when it arrived.
bool FollowTarget(const char* T) {
  if (T[0] == '#') {
    if (FindTarget(T)) return true;
    printf("Error in finding target %s\n", T);
    return false;
  }
  const char* pHash = strrchr(T, '#');
  if (pHash && FileIndex > 0) {
    const char* szOwn = StripPath(aFile[CurrentFile]->szName);
    size_t nName = static_cast<size_t>(pHash - T);
    if (strncmp(T, szOwn, nName) == 0 && nName <= strlen(szOwn)) {
      if (FindTarget(pHash + 1)) return true;
      printf("Error in finding target %s\n", T);
      return false;
    }
  }
  // Another file (or this one named by a path), then its target.
  pHash = strchr(T, '#');
  char* szFile = SaveStr("%.*s", pHash ? static_cast<int>(pHash - T) : static_cast<int>(strlen(T)), T);
  char* szPath = LinkedPath(szFile);
  PutMem(szFile);
  HtmlFile* pFile = FindHtmlFile(szPath);
  if (pFile && pFile->Pages.Count > 0) {
    pCurrentPage = static_cast<HtmlPage*>(pFile->Pages.pFirst->pItem);
  } else {
    pFile = ParseHtmlFile(szPath, nullptr);
  }
  PutMem(szPath);
  if (!pFile) {
    printf("Error in reading file %s\n", T);
    return false;
  }
  TargetPos = 0;
  if (pHash && pHash[1] && !FindTarget(pHash + 1)) {
    printf("Error in finding target %s\n", T);
    return false;
  }
  return true;
}

}  // namespace

int HtmlHelp(const char* path, char* text) {
  if (!path) return 0;
  HistoryI = 0;
  TargetPos = 0;
  flBuildingFile = 1;
  if (!ParseHtmlFile(path, text)) {
    if (text) {
      printf("Error reading HTML buffer\n");
    } else {
      printf("Error in reading HTML file %s\n", path);
    }
    fflush(stdout);
    return 0;
  }
  Nav.nHomeFile = CurrentFile;
  flBuildingFile = 0;
  return 1;
}

void GoToTarget(const char* target) { FindTarget(target); }

void SetHistory() { RecordPlace(CurrentPlace()); }

int ProcessLink(HtmlAnchor* pAnchor) {
  if (!pAnchor || !pAnchor->szTarget) return 0;
  flBuildingFile = 1;
  HelpPlace left = CurrentPlace();
  Nav.flNoRecord = true;
  bool flArrived = FollowTarget(pAnchor->szTarget);
  Nav.flNoRecord = false;
  if (flArrived) {
    RecordPlace(left);
  } else {
    RestorePlace(left);
    fflush(stdout);
  }
  flBuildingFile = 0;
  return flArrived ? 1 : 0;
}

void HtmlProcessLink(int offset) {
  if (flBuildingFile || FileIndex == 0 || !pCurrentPage || pCurrentPage->Links.Count == 0) return;
  for (Link* pa = pCurrentPage->Links.pFirst; pa; pa = pa->pNext) {
    HtmlAnchor* pAnchor = *static_cast<HtmlAnchor**>(pa->pItem);
    if (pAnchor->Kind == 2 && pAnchor->Start <= offset && offset < pAnchor->End) {
      TargetPos = offset;
      ProcessLink(pAnchor);
      return;
    }
  }
}

int HtmlSetHistory(int mode) {
  if (HistoryI <= 0) return 0;
  if (mode == 0) {
    HtmlPage* pFirst = FirstPage(Nav.nHomeFile);
    if (!pFirst) return 0;
    HistoryI = 0;
    CurrentFile = Nav.nHomeFile;
    pCurrentPage = pFirst;
    TargetPos = 0;
  } else if (mode == -1) {
    if (HistoryI > kHelpHistorySize) HistoryI = kHelpHistorySize;
    const HelpPlace& place = History[--HistoryI];
    CurrentFile = place.File;
    pCurrentPage = place.pPage;
  }
  return 1;
}
