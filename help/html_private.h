// html_private.h - what the parser and the layout share inside help/: the white-space test,
// the tag classifier over HtmlKeys, and the layout's own state.
#ifndef KORVI_HELP_HTML_PRIVATE_H
#define KORVI_HELP_HTML_PRIVATE_H

#include "help/html.h"

// Blank, tab, line feed, vertical tab, form feed, carriage return.
inline bool IsHtmlSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// n zero-filled bytes (8-byte aligned) from the help viewer's arena, kept until the next
// HelpArenaReset; null for n <= 0 or when the pool is exhausted.
void* HelpAlloc(int n);
// Lets go of everything taken from the arena; its chunks are kept and handed out again. Only
// for a caller that holds nothing from it any more (the dump, between pages).
void HelpArenaReset();

// The 1-based position of a tag name in HtmlKeys, ignoring case; 0 for other tags and text.
enum HtmlTag : int {
  kTagOther = 0, kTagP, kTagEndP, kTagB, kTagEndB, kTagFont, kTagEndFont, kTagA, kTagEndA,
  kTagTr, kTagEndTr, kTagBr, kTagTable, kTagFitab, kTagEndTable, kTagTd, kTagEndTd,
  kTagH1, kTagH2, kTagH3, kTagH4, kTagH5, kTagH6,
  kTagEndH1, kTagEndH2, kTagEndH3, kTagEndH4, kTagEndH5, kTagEndH6,
  kTagOl, kTagEndOl, kTagLi, kTagEndLi, kTagDiv, kTagEndDiv, kTagImg,
  kTagCount = kTagImg
};
int HtmlTagKind(const char* name);

// The layout's state: the image (one work area that every page is laid out in, cleared after
// packing), the packing work areas, and the page's open anchor and list.
struct LayoutState {
  char* pImage;             // rows of kTextRowWidth characters, zero-filled
  int nRows;                // rows allocated
  long nWritten;            // bytes of the image up to the last one written
  char* pPack;              // packing area, nPackSize bytes
  long nPackSize;
  int* pRowStart;           // packed offset of each row, nRowStartSize entries
  int nRowStartSize;
  HtmlAnchor* pOpenAnchor;  // the anchor of the last "a" not yet closed
  int nListCounter;         // the ordered list's item number
  bool flListMode;          // inside ol
};
extern LayoutState Layout;

// Skips the elements of a table (from its start tag, already walked) to its "/table".
void SkipTableElements(List* pBody);
// Sizes the table of element (walk cursor after it) at nesting depth; null when the pool is
// exhausted. The cursor ends after the table's "/table".
TextTable* SizeTable(HtmlElement* pElem, int available, int depth);

#endif  // KORVI_HELP_HTML_PRIVATE_H
