// TextScreen.cpp - the character-cell screen record: writing text and rectangles into the
// cells, printing the grid in one pass (Refresh), the framed message box (Overlay) and the
// terminal's size (GetTermInfo). Every write and read is bounded by the grid's Width x Height
// cells; what runs past the last cell is cut. Refresh keeps one file-private line buffer.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tty/TextMenu.h"

namespace {

char RefreshLine[kRefreshLineSize];

bool HasCells(const TextScreen* pScreen) {
  return pScreen && pScreen->pCells && pScreen->Width > 0 && pScreen->Height > 0;
}

long long CellCount(const TextScreen* pScreen) {
  return static_cast<long long>(pScreen->Width) * pScreen->Height;
}

void PutRun(int ch, long long count) {
  for (long long i = 0; i < count; i++) putchar(ch);
}

}  // namespace

void SetPosition(TextScreen* pScreen, int col, int row) {
  pScreen->CurCol = col;
  pScreen->CurRow = row;
}

void SetOvlInfo(TextScreen* pScreen, int col, int row, int width, int height) {
  pScreen->OvlCol = col;
  pScreen->OvlRow = row;
  pScreen->OvlWidth = width;
  pScreen->OvlHeight = height;
}

int WriteString(TextScreen* pScreen, const char* fmt, ...) {
  if (!HasCells(pScreen) || !fmt) return 0;
  if (pScreen->CurRow > pScreen->Height || pScreen->CurRow <= 0) pScreen->CurRow = 1;
  if (pScreen->CurCol > pScreen->Width || pScreen->CurCol <= 0) pScreen->CurCol = 0;
  char text[kWriteStringSize];
  va_list ap;
  va_start(ap, fmt);
  int nText = vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  if (nText < 0) return 0;
  if (nText > kWriteStringSize - 1) nText = kWriteStringSize - 1;
  long long target = static_cast<long long>(pScreen->CurRow - 1) * pScreen->Width + pScreen->CurCol;
  long long room = CellCount(pScreen) - target;
  if (room < nText) nText = room > 0 ? static_cast<int>(room) : 0;
  memcpy(pScreen->pCells + target, text, static_cast<size_t>(nText));
  return nText;
}

int FillArea(TextScreen* pScreen, int col, int row, int count, int rows, int ch) {
  if (!HasCells(pScreen) || count <= 0) return rows;
  long long width = pScreen->Width, nCells = CellCount(pScreen);
  // Rows this far above the grid end before its first cell: skip them without a loop.
  long long reach = (llabs(col) + static_cast<long long>(count)) / width;
  long long k = -static_cast<long long>(row) - reach - 2;
  if (k < 0) k = 0;
  for (; k < rows; k++) {
    long long start = (row + k) * width + col, end = start + count;
    if (start >= nCells) break;
    if (start < 0) start = 0;
    if (end > nCells) end = nCells;
    if (end > start) memset(pScreen->pCells + start, ch, static_cast<size_t>(end - start));
  }
  return rows;
}

int Refresh(TextScreen* pScreen) {
  if (HasCells(pScreen)) {
    const char* pCells = pScreen->pCells;
    long long nCells = CellCount(pScreen), iCell = 0;
    for (int row = 0; row < pScreen->Height; row++) {
      int nLine = 0;
      bool flHidden = false;  // a zero cell hides the rest of its row
      for (int col = 0; col < pScreen->Width && iCell < nCells; col++) {
        char c = pCells[iCell++];
        if (c == '\n') break;
        if (row == pScreen->Height - 1 && col == pScreen->Width - 1) continue;
        if (c == '\0') flHidden = true;
        if (flHidden) continue;
        RefreshLine[nLine++] = c;
        if (nLine == kRefreshLineSize - 1) {
          fwrite(RefreshLine, 1, static_cast<size_t>(nLine), stdout);
          nLine = 0;
        }
      }
      fwrite(RefreshLine, 1, static_cast<size_t>(nLine), stdout);
    }
  }
  fflush(stdout);
  return 0;
}

void Overlay(TextScreen* pScreen, const char* text, int wait) {
  int savedCol = pScreen->CurCol, savedRow = pScreen->CurRow;
  int width = pScreen->OvlWidth > 0 ? pScreen->OvlWidth : 1;
  if (!text) text = "";
  size_t len = strlen(text), pos = 0;
  MoveCursor(pScreen, pScreen->OvlCol, pScreen->OvlRow);
  PutRun('*', width + 4LL);
  putchar('\n');
  long long nRows = static_cast<long long>(pScreen->OvlHeight) + 3;
  for (long long k = 0; k < nRows; k++) {
    MoveCursor(pScreen, pScreen->OvlCol, pScreen->OvlRow + 1 + k);
    fputs("* ", stdout);
    bool flBlank = false;  // a line feed blanks the rest of its chunk
    for (int i = 0; i < width; i++) {
      char c = pos + i < len ? text[pos + i] : '\0';
      if (c == '\0' || c == '\n') flBlank = true;
      putchar(flBlank ? ' ' : c);
    }
    fputs(" *", stdout);
    pos += static_cast<size_t>(width);
    if (pos >= len) break;
  }
  // The box closes also when the text was cut, so the wait below is always announced.
  if (wait) {
    fputs("* Press enter", stdout);
    PutRun(' ', width - 8);
    putchar('*');
  }
  PutRun('*', width + 4LL);
  fflush(stdout);
  if (wait) {
    int c = getchar();
    (void)c;
  }
  MoveCursor(pScreen, savedCol, savedRow);
}

void NumberScreen(TextScreen* pScreen) {
  if (!HasCells(pScreen)) return;
  long long n = CellCount(pScreen) < kNumberScreenCells ? CellCount(pScreen) : kNumberScreenCells;
  for (long long i = 0; i < n; i++) pScreen->pCells[i] = static_cast<char>('0' + i % 10);
}

TextScreen* GetTermInfo(TextScreen* pScreen) {
  int width = kDefaultWidth, height = kDefaultHeight;
  struct winsize ws;
  if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 &&
      ws.ws_row > 0) {
    width = ws.ws_col < kMaxScreenWidth ? ws.ws_col : kMaxScreenWidth;
    height = ws.ws_row;
  }
  if (!pScreen) {
    pScreen = static_cast<TextScreen*>(GetMem(sizeof(TextScreen)));
    if (!pScreen) return nullptr;
  }
  if (!pScreen->pCells || pScreen->Width != width || pScreen->Height != height) {
    char* pCells = static_cast<char*>(GetMem(width * height));
    if (!pCells) return nullptr;
    PutMem(pScreen->pCells);
    pScreen->pCells = pCells;
  }
  pScreen->Width = width;
  pScreen->Height = height;
  return pScreen;
}

void MoveCursor(TextScreen*, int, int) {}

void ClearScreen(TextScreen*) {}
