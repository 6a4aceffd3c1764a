// html_table.cpp - tables: sizing (columns counted, then rows and columns measured in fixed
// work arrays of 1000 entries per dimension) and drawing the frame.
// A table is sized once: its element is renamed "fitab" and carries the TextTable. Sizes read
// from attributes are clamped, rows and columns past 1000 are left out, tables nested deeper
// than kMaxTableDepth are skipped whole, so no table writes outside its arrays or recurses
// without end.
#include <cstring>
#include <strings.h>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "help/html.h"
#include "help/html_private.h"

namespace {

constexpr int kPixelsPerChar = 7;
constexpr int kMaxPixels = 140;          // padding, spacing and border values in pixels
constexpr long kMaxWidthValue = 1000000; // a width attribute, pixels or percent
constexpr int kMaxColWidth = 1024;       // characters of one column
constexpr int kMaxTableWidth = 2048;     // characters of a table, frame included
constexpr int kMaxRowHeight = 4096;      // content rows of one table row
constexpr int kMaxTableHeight = 8192;    // rows of a table, frame included
constexpr int kMaxAttributes = 64;

// Work arrays, one set per nesting depth.
struct TableWork {
  int aRowHeight[kMaxTableCells];
  int aColWidth[kMaxTableCells];
  int aRequested[kMaxTableCells];
};
TableWork Work[kMaxTableDepth + 1];

int Clamp(long n, long lo, long hi) { return static_cast<int>(n < lo ? lo : n > hi ? hi : n); }

// The leading decimal number of text (a double quote skipped), without overflow; 0 when none.
long ReadNumber(const char* text, bool* pflPercent) {
  if (pflPercent) *pflPercent = false;
  if (!text) return 0;
  if (*text == '"') text++;
  long n = 0;
  for (; *text >= '0' && *text <= '9'; text++) {
    if (n < kMaxWidthValue) n = n * 10 + (*text - '0');
  }
  if (pflPercent) *pflPercent = (*text == '%');
  return n;
}

HtmlElement* NextElement(List* pBody) { return static_cast<HtmlElement*>(ListWalk(pBody, 1)); }

// Width a td asks for, or 0: N% of the table's width less its padding and separator, or N
// pixels.
int RequestedWidth(const TextTable* t, const HtmlElement* pTd) {
  const char* attr = static_cast<const char*>(pTd->pData);
  const char* p = attr ? StrCaseStr(attr, "width=") : nullptr;
  if (!p) return 0;
  bool flPercent;
  long n = ReadNumber(p + 6, &flPercent);
  long nChars = flPercent ? t->Width * (n > 100 ? 100 : n) / 100 - 2 * t->Pad - t->SepWidth
                          : n / kPixelsPerChar;
  return Clamp(nChars, 0, kMaxColWidth);
}

// What a table's rows and cells have measured so far.
struct Measure {
  int row;         // index of the current row, -1 before the first
  int nRows;       // rows closed
  int cell;        // index of the current cell, -1 before the first
  int nMaxCell;    // the largest cell index of a closed row
  int nCellLines;  // lines used in the current cell
  bool flRowOpen;
};

void CloseRow(Measure* m, TableWork* w) {
  if (!m->flRowOpen) return;
  m->flRowOpen = false;
  if (m->row < kMaxTableCells) {
    if (w->aRowHeight[m->row] == 0) w->aRowHeight[m->row] = m->nCellLines;
    m->nRows = m->row + 1;
  }
  if (m->cell > m->nMaxCell) m->nMaxCell = m->cell;
}

void OpenRow(Measure* m, TableWork* w) {
  m->flRowOpen = true;
  m->row++;
  if (m->row < kMaxTableCells) w->aRowHeight[m->row] = 0;
  m->nCellLines = 0;
  m->cell = -1;
}

// Adds lines of the current cell; the row is at least as high as the cell.
void AddCellLines(Measure* m, TableWork* w, int nLines) {
  m->nCellLines = Clamp(static_cast<long>(m->nCellLines) + nLines, 0, kMaxRowHeight);
  if (m->row < kMaxTableCells && w->aRowHeight[m->row] < m->nCellLines) {
    w->aRowHeight[m->row] = m->nCellLines;
  }
}

bool InCell(const Measure* m) {
  return m->flRowOpen && m->cell >= 0 && m->cell < kMaxTableCells && m->row < kMaxTableCells;
}

}  // namespace

void SkipTableElements(List* pBody) {
  int depth = 0;
  while (HtmlElement* pElem = NextElement(pBody)) {
    int kind = HtmlTagKind(pElem->szTag);
    if (kind == kTagTable || kind == kTagFitab) depth++;
    if (kind == kTagEndTable && depth-- == 0) return;
  }
}

int GetColumnCnt() {
  List* pBody = &pCurrentPage->Body;
  Link* pSaved = pBody->pWalk;
  int depth = 0, nBest = 0, n = 0;
  while (HtmlElement* pElem = NextElement(pBody)) {
    int kind = HtmlTagKind(pElem->szTag);
    if (kind == kTagTable || kind == kTagFitab) {
      depth++;
    } else if (kind == kTagEndTable) {
      if (depth-- == 0) break;
    } else if (depth == 0 && kind == kTagTr) {
      n = 0;
    } else if (depth == 0 && kind == kTagTd) {
      if (++n > nBest) nBest = n;
    }
  }
  pBody->pWalk = pSaved;
  return nBest < kMaxTableCells ? nBest : kMaxTableCells;
}

TextTable* SizeTable(HtmlElement* pElem, int available, int depth) {
  List* pBody = &pCurrentPage->Body;
  auto* t = static_cast<TextTable*>(GetMem(sizeof(TextTable)));
  if (!t || depth > kMaxTableDepth) {
    PutMem(t);
    SkipTableElements(pBody);
    return nullptr;
  }
  t->SepWidth = 1;

  // Attributes: border, cellspacing, cellpadding, width.
  int nBorder = 0, nSpacingPx = 0, nPadPx = 0;
  const char* szWidth = nullptr;
  char* apPiece[kMaxAttributes];
  int nPieces = ParseStr(static_cast<char*>(pElem->pData), " \t\n\r", apPiece, kMaxAttributes);
  for (int i = 0; i < nPieces; i++) {
    char* value = strchr(apPiece[i], '=');
    if (value) *value++ = '\0';
    switch (FindTokenC(apPiece[i], ",border,cellspacing,cellpadding,width,")) {
      case 1:
        t->flBorder = 1;
        nBorder = value ? Clamp(ReadNumber(value, nullptr), 0, kMaxPixels) : 1;
        break;
      case 2:
        nSpacingPx = Clamp(ReadNumber(value, nullptr), 0, kMaxPixels);
        break;
      case 3:
        nPadPx = Clamp(ReadNumber(value, nullptr), 0, kMaxPixels);
        break;
      case 4:
        szWidth = value ? value + (*value == '"') : nullptr;
        break;
    }
  }
  int nCols = GetColumnCnt();
  t->Spacing = nSpacingPx / kPixelsPerChar;
  t->Pad = nPadPx / kPixelsPerChar;
  if (szWidth) {
    bool flPercent;
    long w = ReadNumber(szWidth, &flPercent);
    if (flPercent) {
      if (available > 0) t->Width = Clamp(available * (w > 100 ? 100 : w) / 100, 0, kMaxTableWidth);
    } else {
      long nPx = w - 2L * nCols * nPadPx - (nCols + 1L) * nSpacingPx - (nCols + 1L) * nBorder;
      t->Width = Clamp(nPx / kPixelsPerChar, 0, kMaxTableWidth);
    }
  }

  // Rows and cells, up to this table's /table.
  TableWork* w = &Work[depth];
  memset(w->aColWidth, 0, sizeof w->aColWidth);
  memset(w->aRequested, 0, sizeof w->aRequested);
  Measure m{-1, 0, -1, -1, 0, false};
  while (HtmlElement* e = NextElement(pBody)) {
    if (!e->szTag) {
      if (InCell(&m)) {
        int nLen = e->Len < kMaxColWidth ? e->Len : kMaxColWidth;
        if (w->aColWidth[m.cell] < nLen) w->aColWidth[m.cell] = nLen;
        AddCellLines(&m, w, 1);
      }
      continue;
    }
    int kind = HtmlTagKind(e->szTag);
    if (kind == kTagTr) {
      CloseRow(&m, w);
      OpenRow(&m, w);
    } else if (kind == kTagTd) {
      if (!m.flRowOpen) OpenRow(&m, w);
      m.cell++;
      m.nCellLines = 0;  // a new cell starts empty, its /td written or not
      if (t->Width && m.cell < kMaxTableCells && !w->aRequested[m.cell]) {
        w->aRequested[m.cell] = RequestedWidth(t, e);
      }
    } else if (kind == kTagEndTd) {
      m.nCellLines = 0;
    } else if (kind == kTagTable || kind == kTagFitab) {
      TextTable* pNested;
      if (kind == kTagFitab) {
        pNested = static_cast<TextTable*>(e->pData);
        SkipTableElements(pBody);
      } else {
        int nAvail = InCell(&m) ? w->aRequested[m.cell] : 0;
        pNested = SizeTable(e, nAvail, depth + 1);
      }
      if (pNested && InCell(&m)) {
        if (w->aColWidth[m.cell] < pNested->Width) {
          w->aColWidth[m.cell] = Clamp(pNested->Width, 0, kMaxTableWidth);
        }
        AddCellLines(&m, w, pNested->Height);
      }
    } else if (kind == kTagEndTr) {
      CloseRow(&m, w);
    } else if (kind == kTagEndTable) {
      break;
    }
  }
  CloseRow(&m, w);

  memcpy(pElem->szTag, "fitab", 5);  // "table" in any case: the same length
  pElem->pData = t;
  t->RowCount = m.nRows;
  t->ColCount = nCols > m.nMaxCell + 1 ? nCols : m.nMaxCell + 1;
  if (t->ColCount > kMaxTableCells) t->ColCount = kMaxTableCells;
  if (szWidth && t->Width) {
    for (int c = 0; c < t->ColCount; c++) {
      if (w->aRequested[c]) w->aColWidth[c] = w->aRequested[c];
    }
  }
  long nSum = 0;
  for (int c = 0; c < t->ColCount; c++) nSum += w->aColWidth[c];
  if (!t->Width) {
    t->Width = Clamp(2L * t->Pad * t->ColCount + t->ColCount + 1 + nSum, 0, kMaxTableWidth);
  }
  long nHeight = t->RowCount + 1;
  for (int r = 0; r < t->RowCount; r++) nHeight += w->aRowHeight[r];
  t->Height = Clamp(nHeight, 0, kMaxTableHeight);
  if (t->RowCount) {
    t->pRowHeights = static_cast<int*>(GetMem(t->RowCount * static_cast<int>(sizeof(int))));
    if (t->pRowHeights) memcpy(t->pRowHeights, w->aRowHeight, t->RowCount * sizeof(int));
    else t->RowCount = 0;
  }
  if (t->ColCount) {
    t->pColWidths = static_cast<int*>(GetMem(t->ColCount * static_cast<int>(sizeof(int))));
    if (t->pColWidths) memcpy(t->pColWidths, w->aColWidth, t->ColCount * sizeof(int));
    else t->ColCount = 0;
  }
  return t;
}

TextTable* GetTextTable(HtmlFile* file, HtmlElement* element, int available) {
  (void)file;
  return SizeTable(element, available, 1);
}

void DrawTableArea(HtmlFile* file, TextTable* t) {
  int nWidth = t->Width, nHeight = t->Height;
  if (nWidth <= 0 || nHeight <= 0) return;
  int row = t->Y, col = t->X;
  if (!t->flBorder) {
    for (int r = 0; r < nHeight; r++) {
      row = t->Y + r;
      col = t->X;
      PrintText(file, &row, &col, " ", nWidth, 1);
    }
    return;
  }
  char szLine[kMaxTableWidth];
  // One line of the frame: ends, the filling between, and the character at each separator.
  auto draw = [&](int r, char chEnd, char chFill, char chSep) {
    memset(szLine, chFill, static_cast<size_t>(nWidth));
    szLine[0] = szLine[nWidth - 1] = chEnd;
    long nPos = 0;
    for (int k = 0; k < t->ColCount - 1; k++) {
      nPos += t->pColWidths[k] + 2L * t->Pad + 1;
      if (nPos >= nWidth - 1) break;
      szLine[nPos] = chSep;
    }
    row = r;
    col = t->X;
    PrintText(file, &row, &col, szLine, nWidth, 0);
  };
  int nBottom = t->Y + nHeight - 1;
  int r = t->Y;
  for (int i = 0; i < t->RowCount && r < nBottom; i++) {
    draw(r++, '|', '-', '+');
    for (int k = 0; k < t->pRowHeights[i] && r < nBottom; k++) draw(r++, '|', ' ', '|');
  }
  draw(r, '\'', '-', '+');
  row = t->Y;
  col = t->X;
  PrintText(file, &row, &col, ",", 1, 0);
  row = t->Y;
  col = t->X + nWidth - 1;
  PrintText(file, &row, &col, ",", 1, 0);
}
