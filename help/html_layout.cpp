// html_layout.cpp - the text image of a page: writing text into rows of 132 characters, the
// title and the body elements, and packing the rows into the page's text.
// Every page is laid out in one image that starts small and doubles when the layout needs
// more rows; after packing the written part is cleared for the next page. Nothing is written
// past it: a write beyond the largest image is cut. The packed text is one exact allocation.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "help/html.h"
#include "help/html_private.h"

const char HtmlKeys[] =
    ",p,/p,b,/b,font,/font,a,/a,tr,/tr,br,table,fitab,/table,td,/td,h1,h2,h3,h4,h5,h6"
    ",/h1,/h2,/h3,/h4,/h5,/h6,ol,/ol,li,/li,div,/div,img,";

LayoutState Layout;

namespace {

constexpr int kFirstRows = 256;                // rows of a new image at most
constexpr long kMaxImageBytes = 256L << 20;    // the largest image; writes past it are cut
constexpr int kListPrefixSize = 32;

// HtmlKeys as an open-addressed table of names packed into 64-bit keys (lower case).
struct TagTable {
  uint64_t aKey[128];
  int aKind[128];
  bool flReady;
};
TagTable Tags;

// The name in lower case packed into 8 bytes; 0 when it is longer than 8 or empty.
uint64_t PackTagName(const char* name) {
  uint64_t key = 0;
  int i = 0;
  for (; name[i]; i++) {
    if (i == 8) return 0;
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
    key |= static_cast<uint64_t>(c) << (8 * i);
  }
  return key;
}

unsigned TagSlot(uint64_t key) { return static_cast<unsigned>((key * 0x9E3779B97F4A7C15ull) >> 57); }

void IndexTags() {
  char szName[16];
  int kind = 0;
  for (const char* p = HtmlKeys + 1; *p; kind++) {
    const char* q = strchr(p, ',');
    snprintf(szName, sizeof szName, "%.*s", static_cast<int>(q - p), p);
    uint64_t key = PackTagName(szName);
    unsigned s = TagSlot(key);
    while (Tags.aKey[s]) s = (s + 1) & 127;
    Tags.aKey[s] = key;
    Tags.aKind[s] = kind + 1;
    p = q + 1;
  }
  Tags.flReady = true;
}

HtmlPage* Page() { return pCurrentPage; }

// Makes the image hold nBytes; false when that is beyond the largest image.
bool GrowImage(long nBytes) {
  long nHave = static_cast<long>(Layout.nRows) * kTextRowWidth;
  if (nBytes <= nHave) return true;
  if (nBytes > kMaxImageBytes) return false;
  long nRows = Layout.nRows;
  while (nRows * kTextRowWidth < nBytes) nRows *= 2;
  if (nRows * kTextRowWidth > kMaxImageBytes) nRows = kMaxImageBytes / kTextRowWidth;
  auto* pNew = static_cast<char*>(AdjustMem(Layout.pImage, static_cast<int>(nRows * kTextRowWidth)));
  if (!pNew) return false;
  Layout.pImage = Page()->pImage = pNew;
  Layout.nRows = static_cast<int>(nRows);
  return true;
}

// Appends a pointer to the anchor to the page's Links (link and item from the arena).
void AppendLink(HtmlAnchor* pAnchor) {
  struct AnchorSlot {
    Link link;
    HtmlAnchor* pAnchor;
  };
  auto* pSlot = static_cast<AnchorSlot*>(HelpAlloc(sizeof(AnchorSlot)));
  if (!pSlot) return;
  pSlot->pAnchor = pAnchor;
  pSlot->link.pItem = &pSlot->pAnchor;
  pSlot->link.Size = sizeof pAnchor;
  ListPushLink(&Page()->Links, &pSlot->link);
}

// One line break: the next row, at the cell's left column (0 outside tables).
inline void LineBreak(int* row, int* col, int left) {
  (*row)++;
  *col = left;
}

// Whether row holds any character.
bool RowHasText(int row) {
  if (row < 0 || row >= Layout.nRows) return false;
  const char* p = Layout.pImage + static_cast<long>(row) * kTextRowWidth;
  for (int i = 0; i < kTextRowWidth; i++) {
    if (p[i]) return true;
  }
  return false;
}

// The elements of one level: a whole body (table null) or one table's rows and cells.
struct Level {
  TextTable* pTable;
  int depth;      // nesting depth of pTable, 0 for the body
  int row, col;
  int cellLeft;   // left column of the current cell (0 outside tables)
  int rowTop;     // top row of the current table row
  int tableRow;   // index of the current table row, -1 before the first
  int cell;       // index of the current cell, -1 before the first
  bool flRowOpen;
  bool flCut;     // the current row or cell lies beyond the table's work arrays
};

void LayOutBody(HtmlFile* file, Level* L);

void BeginRow(Level* L) {
  TextTable* t = L->pTable;
  L->flRowOpen = true;
  L->tableRow++;
  L->rowTop = L->row;
  L->cell = -1;
  L->cellLeft = t->X + t->Pad + 1;
  L->col = t->X + 1;
  L->flCut = L->tableRow >= t->RowCount;
}

void EndRow(Level* L) {
  if (!L->flRowOpen) return;
  TextTable* t = L->pTable;
  int nHeight = L->tableRow < t->RowCount ? t->pRowHeights[L->tableRow] : 0;
  L->row = L->rowTop + nHeight + 1;
  L->flRowOpen = false;
}

void BeginCell(Level* L) {
  TextTable* t = L->pTable;
  if (!L->flRowOpen) BeginRow(L);
  L->row = L->rowTop;
  L->cell++;
  if (L->cell > 0) {
    int nPrev = L->cell - 1 < t->ColCount ? t->pColWidths[L->cell - 1] : 0;
    L->cellLeft += nPrev + 2 * t->Pad + 1;
  }
  L->col = L->cellLeft;
  L->flCut = L->tableRow >= t->RowCount || L->cell >= t->ColCount;
}

// A table inside this level: sized unless it is already, then laid out at the current place.
void PlaceTable(HtmlFile* file, Level* L, HtmlElement* pElem, bool flSized) {
  List* pBody = &Page()->Body;
  TextTable* t = L->pTable;
  if (L->depth + 1 > kMaxTableDepth || L->flCut) {
    SkipTableElements(pBody);
    return;
  }
  TextTable* pNested;
  if (flSized) {
    pNested = static_cast<TextTable*>(pElem->pData);
  } else {
    if (Layout.flListMode) LineBreak(&L->row, &L->col, L->cellLeft);
    int available = t && L->cell >= 0 && L->cell < t->ColCount ? t->pColWidths[L->cell] : 0;
    Link* pSaved = pBody->pWalk;
    pNested = SizeTable(pElem, available, L->depth + 1);
    pBody->pWalk = pSaved;
    if (!pNested) {
      SkipTableElements(pBody);
      return;
    }
  }
  if (t) {
    pNested->X = L->cellLeft;
    pNested->Y = L->col > L->cellLeft ? L->row + 1 : L->row;
  } else {
    pNested->X = L->col;
    pNested->Y = L->row;
  }
  Level inner{};
  inner.pTable = pNested;
  inner.depth = L->depth + 1;
  LayOutBody(file, &inner);
  L->row = pNested->Y + pNested->Height;
  L->col = pNested->X;
}

void LayOutTag(HtmlFile* file, Level* L, HtmlElement* pElem) {
  TextTable* t = L->pTable;
  switch (HtmlTagKind(pElem->szTag)) {
    case kTagP:
      if (!t) {
        LineBreak(&L->row, &L->col, 0);
        LineBreak(&L->row, &L->col, 0);
      }
      break;
    case kTagEndP:
      if (!t) LineBreak(&L->row, &L->col, 0);
      break;
    case kTagBr: case kTagH1: case kTagH2: case kTagH3: case kTagH4: case kTagH5: case kTagH6:
    case kTagDiv:
      LineBreak(&L->row, &L->col, L->cellLeft);
      break;
    case kTagEndH1: case kTagEndH2: case kTagEndH3: case kTagEndH4: case kTagEndH5:
    case kTagEndH6: case kTagEndDiv:
      LineBreak(&L->row, &L->col, L->cellLeft);
      LineBreak(&L->row, &L->col, L->cellLeft);
      break;
    case kTagA: {
      auto* pAnchor = static_cast<HtmlAnchor*>(pElem->pData);
      if (!pAnchor) break;
      pAnchor->Start = L->row;
      pAnchor->End = L->col;
      if (pAnchor->Kind == 2) PrintText(file, &L->row, &L->col, "<", 1, 0);
      AppendLink(pAnchor);
      Layout.pOpenAnchor = pAnchor;
      break;
    }
    case kTagEndA: {
      HtmlAnchor* pAnchor = Layout.pOpenAnchor;
      if (!pAnchor) break;
      if (pAnchor->Kind == 2) PrintText(file, &L->row, &L->col, ">", 1, 0);
      long nEnd = static_cast<long>(L->row) * kTextRowWidth + L->col;
      long nStart = static_cast<long>(pAnchor->Start) * kTextRowWidth + pAnchor->End;
      // A closing tag laid out before its anchor (in an earlier cell of a table, or after a
      // cell moved back up) leaves the anchor empty rather than ending before it begins.
      pAnchor->Len = static_cast<int32_t>(nEnd > nStart ? nEnd - nStart : 0);
      Layout.pOpenAnchor = nullptr;
      break;
    }
    case kTagTr:
      if (t) {
        EndRow(L);
        BeginRow(L);
      }
      break;
    case kTagTd:
      if (t) BeginCell(L);
      break;
    case kTagEndTr:
      if (t) EndRow(L);
      break;
    case kTagOl:
      Layout.nListCounter = 0;
      Layout.flListMode = true;
      break;
    case kTagEndOl:
      Layout.flListMode = false;
      LineBreak(&L->row, &L->col, L->cellLeft);
      break;
    case kTagLi:
      if (Layout.flListMode) {
        char szPrefix[kListPrefixSize];
        LineBreak(&L->row, &L->col, L->cellLeft);
        int n = snprintf(szPrefix, sizeof szPrefix, "   %i. ", ++Layout.nListCounter);
        PrintText(file, &L->row, &L->col, szPrefix, n, 0);
      }
      break;
    case kTagTable:
      PlaceTable(file, L, pElem, false);
      break;
    case kTagFitab:
      PlaceTable(file, L, pElem, true);
      break;
    default:  // b, /b, font, /font, /td, /li, img and unknown tags
      break;
  }
}

void LayOutBody(HtmlFile* file, Level* L) {
  List* pBody = &Page()->Body;
  TextTable* t = L->pTable;
  bool flFirst = !t;
  if (t) {
    DrawTableArea(file, t);
    L->row = t->Y + 1;
    L->cellLeft = L->col = t->X + t->Pad + 1;
    L->tableRow = L->cell = -1;
  }
  for (;;) {
    auto* pElem = static_cast<HtmlElement*>(ListWalk(pBody, flFirst ? 0 : 1));
    flFirst = false;
    if (!pElem) break;
    if (!pElem->szTag) {
      if (!L->flCut) PrintText(file, &L->row, &L->col, static_cast<char*>(pElem->pData), pElem->Len, 0);
      continue;
    }
    if (t && HtmlTagKind(pElem->szTag) == kTagEndTable) {
      EndRow(L);
      return;
    }
    LayOutTag(file, L, pElem);
  }
}

}  // namespace

int HtmlTagKind(const char* name) {
  if (!name) return kTagOther;
  if (!Tags.flReady) IndexTags();
  uint64_t key = PackTagName(name);
  if (!key) return kTagOther;
  for (unsigned s = TagSlot(key); Tags.aKey[s]; s = (s + 1) & 127) {
    if (Tags.aKey[s] == key) return Tags.aKind[s];
  }
  return kTagOther;
}

int PrintText(HtmlFile* file, int* row, int* col, const char* text, int n, int fill) {
  (void)file;
  if (*row < 0) *row = 0;
  if (*col < 0) *col = 0;
  if (n <= 0 || !text) return *col;
  long nOffset = static_cast<long>(*row) * kTextRowWidth + *col;
  long nWrite = n;
  if (!GrowImage(nOffset + n)) {  // cut at the largest image
    long nRoom = static_cast<long>(Layout.nRows) * kTextRowWidth - nOffset;
    nWrite = nRoom > 0 ? nRoom : 0;
  }
  char* p = Layout.pImage + nOffset;
  if (nOffset + nWrite > Layout.nWritten) Layout.nWritten = nOffset + nWrite;
  if (nWrite == 1) {
    *p = text[0];
  } else if (nWrite > 0) {
    if (fill) {
      memset(p, text[0], static_cast<size_t>(nWrite));
    } else {
      memcpy(p, text, static_cast<size_t>(nWrite));
    }
  }
  if (n < kTextRowWidth) {
    *col += n;
  } else {  // a long text: the row and column where it ends
    long nEnd = *col + static_cast<long>(n);
    *row += static_cast<int>(nEnd / kTextRowWidth);
    *col = static_cast<int>(nEnd % kTextRowWidth);
  }
  return *col;
}

void BuildTextImage(HtmlFile* file) {
  HtmlPage* pPage = Page();
  if (!Layout.pImage) {
    Layout.pImage = static_cast<char*>(GetMem(kFirstRows * kTextRowWidth));
    Layout.nRows = Layout.pImage ? kFirstRows : 0;
  }
  Layout.pOpenAnchor = nullptr;
  Layout.nListCounter = 0;
  Layout.flListMode = false;
  pPage->pImage = Layout.pImage;
  pPage->Lines = 0;
  if (!Layout.pImage) return;
  int row = 0, col = 0;
  bool flTitle = false;
  for (Link* pl = pPage->Head.pFirst; pl; pl = pl->pNext) {
    auto* pElem = static_cast<HtmlElement*>(pl->pItem);
    if (pElem->szTag) {
      int k = FindTokenC(pElem->szTag, ",title,/title,");
      if (k) flTitle = (k == 1);
    } else if (flTitle) {
      int nBlanks = pElem->Len < kTitleWidth ? (kTitleWidth - pElem->Len) / 2 : 0;
      PrintText(file, &row, &col, " ", nBlanks, 1);
      PrintText(file, &row, &col, static_cast<char*>(pElem->pData), pElem->Len, 0);
      row += 2;
      col = 0;
    }
  }
  BuildTextBody(file, nullptr, row, 0);
}

void BuildTextBody(HtmlFile* file, TextTable* table, int row, int col) {
  if (!Layout.pImage) return;
  Level top{};
  top.pTable = table;
  top.depth = table ? 1 : 0;
  top.row = row;
  top.col = col;
  LayOutBody(file, &top);
  if (!table) {
    // The page holds every row written: a table left open at the end has drawn its frame
    // below the row where the walk ended.
    long nLines = top.row + (RowHasText(top.row) ? 1 : 0);
    long nWrittenRows = (Layout.nWritten + kTextRowWidth - 1) / kTextRowWidth;
    Page()->Lines = static_cast<int32_t>(nWrittenRows > nLines ? nWrittenRows : nLines);
  }
}

namespace {

// Makes *pp (an area of *pnHave units of size nUnit) hold nNeed units.
template <typename T, typename N>
bool GrowArea(T** pp, N* pnHave, long nNeed) {
  if (nNeed <= *pnHave) return true;
  long nBytes = nNeed * static_cast<long>(sizeof(T));
  if (nBytes > 2 * kMaxImageBytes) return false;
  auto* pNew = static_cast<T*>(AdjustMem(*pp, static_cast<int>(nBytes)));
  if (!pNew) return false;
  *pp = pNew;
  *pnHave = static_cast<N>(nNeed);
  return true;
}

// Packs the image's first nLines rows into Layout.pPack with a line feed after each; a row's
// text is the stretch up to its last character (gaps read as blanks), and a row filled to its
// end whose next row starts with text runs on into it. Each row's packed offset goes to
// Layout.pRowStart (rows covered by a longer one: their place inside it). Returns the length.
long PackRows(int nLines) {
  const char* pImage = Layout.pImage;
  char* pText = Layout.pPack;
  long nPos = 0;
  for (int r = 0; r < nLines;) {
    const char* pRow = pImage + static_cast<long>(r) * kTextRowWidth;
    int nCover = 1, nLast = kTextRowWidth - 1;
    for (;;) {
      const char* pLastRow = pRow + static_cast<long>(nCover - 1) * kTextRowWidth;
      while (nLast >= 0 && !pLastRow[nLast]) nLast--;
      if (nLast != kTextRowWidth - 1 || r + nCover >= Layout.nRows || !pLastRow[kTextRowWidth])
        break;
      nCover++;
      nLast = kTextRowWidth - 1;
    }
    long nLen = static_cast<long>(nCover - 1) * kTextRowWidth + nLast + 1;
    for (int k = 0; k < nCover && r + k <= nLines; k++) {
      Layout.pRowStart[r + k] = static_cast<int>(nPos + static_cast<long>(k) * kTextRowWidth);
    }
    for (long i = 0; i < nLen; i++) pText[nPos + i] = pRow[i] ? pRow[i] : ' ';
    nPos += nLen;
    pText[nPos++] = '\n';
    r += nCover;
  }
  Layout.pRowStart[nLines] = static_cast<int>(nPos);
  return nPos;
}

}  // namespace

void PrintTextImage(HtmlFile* file) {
  HtmlPage* pPage = Page();
  if (!pPage) return;
  if (!pPage->pImage) BuildTextImage(file);
  if (!pPage->pImage || pPage->pImage != Layout.pImage) return;  // packed already
  int nLines = pPage->Lines < Layout.nRows ? pPage->Lines : Layout.nRows;
  long nBound = static_cast<long>(Layout.nRows) * kTextRowWidth + nLines + 1;
  char* pText = nullptr;
  if (GrowArea(&Layout.pPack, &Layout.nPackSize, nBound) &&
      GrowArea(&Layout.pRowStart, &Layout.nRowStartSize, nLines + 1L)) {
    long nLen = PackRows(nLines);
    pText = static_cast<char*>(HelpAlloc(static_cast<int>(nLen) + 1));
    if (pText) memcpy(pText, Layout.pPack, static_cast<size_t>(nLen));
    for (Link* pl = pPage->Links.pFirst; pl; pl = pl->pNext) {
      HtmlAnchor* pAnchor = *static_cast<HtmlAnchor**>(pl->pItem);
      int nRow = pAnchor->Start < 0 ? 0 : pAnchor->Start > nLines ? nLines : pAnchor->Start;
      long nStart = Layout.pRowStart[nRow] + static_cast<long>(pAnchor->End);
      long nEnd = nStart + pAnchor->Len;
      pAnchor->Start = static_cast<int32_t>(nStart < nLen ? nStart : nLen);
      pAnchor->End = static_cast<int32_t>(nEnd < nLen ? nEnd : nLen);
    }
  }
  pPage->pImage = pText;  // null only when the pool is exhausted
  memset(Layout.pImage, 0, static_cast<size_t>(Layout.nWritten));
  Layout.nWritten = 0;
}
