// utils_string.cpp - path and text functions, string searches, word sorting, units, Gets.
// StripPath, StripExt, StripPathExt, StripPathName return a static buffer of 128 characters
// each, StripFn one of 256: a result is valid until the next call of the same function,
// and a longer result is cut to fit. Character classes are those of the "C" locale,
// whatever locale the program runs in. Null inputs give null, 0 or an empty text.
// Built with syscmd/ as one library (kbase).
#include <cstdio>
#include <cstring>

#include "base/utils.h"

namespace {

char bufStripPath[kPathBufSize];
char bufStripFn[kPathFnBufSize];
char bufStripExt[kPathBufSize];
char bufStripPathExt[kPathBufSize];
char bufStripPathName[kPathBufSize];

bool IsSpaceC(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsPrintC(char c) { return c >= 0x20 && c <= 0x7e; }

// The last element of path: its start and length; a path of slashes only (or "") is its
// own element.
const char* LastElement(const char* path, size_t* pLen) {
  size_t n = strlen(path);
  size_t end = n;
  while (end > 0 && path[end - 1] == '/') end--;
  if (end == 0) {  // "", "/", "//": no element
    *pLen = n;
    return path;
  }
  size_t start = end;
  while (start > 0 && path[start - 1] != '/') start--;
  *pLen = end - start;
  return path + start;
}

// Length of name up to the first "." that follows a character other than ".".
size_t ExtLength(const char* name, size_t n) {
  for (size_t i = 1; i < n; i++) {
    if (name[i] == '.' && name[i - 1] != '.') return i;
  }
  return n;
}

bool IsPrefixOf(const char* text, const char* pattern, bool flNoCase) {
  for (; *pattern; text++, pattern++) {
    if (flNoCase ? LowerC(*text) != LowerC(*pattern) : *text != *pattern) return false;
  }
  return true;
}

const char* Search(const char* text, const char* pattern, bool flNoCase) {
  if (!text || !pattern || !*pattern) return nullptr;
  for (const char* p = text; *p; p++) {
    if (IsPrefixOf(p, pattern, flNoCase)) return p;
  }
  return nullptr;
}

// Compares two words given by start and length as strings: the first differing byte
// (unsigned, folded when flNoCase), else the shorter word is smaller.
int CompareWords(const char* a, size_t na, const char* b, size_t nb, bool flNoCase) {
  size_t n = na < nb ? na : nb;
  for (size_t i = 0; i < n; i++) {
    unsigned char ca = flNoCase ? LowerC(a[i]) : static_cast<unsigned char>(a[i]);
    unsigned char cb = flNoCase ? LowerC(b[i]) : static_cast<unsigned char>(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return na < nb ? -1 : na > nb ? 1 : 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Paths
// ---------------------------------------------------------------------------

char* CopyCut(char* dst, size_t size, const char* src, size_t n) {
  if (n > size - 1) n = size - 1;
  memmove(dst, src, n);
  dst[n] = '\0';
  return dst;
}

int DirPart(const char* path, char* out, size_t size) {
  const char* pSlash = strrchr(path, '/');
  size_t n = !pSlash || pSlash == path ? 1 : static_cast<size_t>(pSlash - path);
  CopyCut(out, size, pSlash ? path : ".", n);
  return n < size;
}

char* StripPath(const char* path) {
  if (!path) return CopyCut(bufStripPath, kPathBufSize, "", 0);
  size_t n;
  const char* p = LastElement(path, &n);
  return CopyCut(bufStripPath, kPathBufSize, p, n);
}

char* StripFn(const char* path) {
  DirPart(path ? path : "", bufStripFn, kPathFnBufSize);
  return bufStripFn;
}

char* StripExt(const char* name) {
  if (!name) return CopyCut(bufStripExt, kPathBufSize, "", 0);
  return CopyCut(bufStripExt, kPathBufSize, name, ExtLength(name, strlen(name)));
}

char* StripPathExt(const char* path) {
  if (!path) return CopyCut(bufStripPathExt, kPathBufSize, "", 0);
  size_t n;
  const char* p = LastElement(path, &n);
  return CopyCut(bufStripPathExt, kPathBufSize, p, ExtLength(p, n));
}

char* StripPathName(const char* path) {
  const char* p = path ? strrchr(path, '/') : nullptr;
  p = p ? p + 1 : path;
  if (!p || strcmp(p, ".") == 0 || strcmp(p, "..") == 0) p = "";
  return CopyCut(bufStripPathName, kPathBufSize, p, strlen(p));
}

// ---------------------------------------------------------------------------
// Texts
// ---------------------------------------------------------------------------

char* SkipSpace(const char* text) {
  if (!text) return nullptr;
  while (IsSpaceC(*text)) text++;
  return const_cast<char*>(text);
}

char* StripAllBackslashes(char* text) {
  if (!text) return nullptr;
  char* pOut = text;
  for (const char* p = text; *p; p++) {
    if (*p != '\\') *pOut++ = *p;
  }
  *pOut = '\0';
  return text;
}

char* StripNonPrint(char* text, int keepNl) {
  if (!text) return nullptr;
  char* pOut = text;
  for (const char* p = text; *p; p++) {
    if (IsPrintC(*p) || (keepNl && (*p == '\n' || *p == '\r'))) *pOut++ = *p;
  }
  *pOut = '\0';
  return text;
}

int StrLen(const char* text) { return text ? static_cast<int>(strlen(text)) : 0; }

char* StrChr(const char* text, int c) {
  if (!text) return nullptr;
  char ch = static_cast<char>(c);
  const char* p = text;
  while (*p) {
    if (*p == '\\') {
      if (!p[1]) return nullptr;
      p += 2;
      continue;
    }
    if (*p == ch) return const_cast<char*>(p);
    p++;
  }
  return ch == '\0' ? const_cast<char*>(p) : nullptr;
}

char* StrNChr(const char* text, int c, int n) {
  if (!text || n < 1) return nullptr;
  const char* p = text - 1;
  for (int i = 0; i < n; i++) {
    p = strchr(p + 1, c);
    if (!p || (*p == '\0' && i + 1 < n)) return nullptr;
  }
  return const_cast<char*>(p);
}

char* StrStr(const char* text, const char* pattern) {
  return const_cast<char*>(Search(text, pattern, false));
}

char* StrCaseStr(const char* text, const char* pattern) {
  return const_cast<char*>(Search(text, pattern, true));
}

char* StrNStr(const char* text, const char* pattern, int n) {
  if (n < 1) return nullptr;
  const char* p = Search(text, pattern, false);
  for (int i = 1; p && i < n; i++) p = Search(p + 1, pattern, false);
  return const_cast<char*>(p);
}

// ---------------------------------------------------------------------------
// Words, bytes, units, input
// ---------------------------------------------------------------------------

// Selection sort over a working copy: the smallest remaining word (the first of equal
// words) is appended to the output and removed from the copy. Words are the pieces between
// delims after the leading ones; a closing delim stays at the end, inner empty words sort
// first. The list keeps its length and its number of delims.
char* SortTokens(char* list, char delim, int ignoreCase) {
  if (!list || !delim) return list;
  char* pOut = list;
  while (*pOut == delim) pOut++;
  size_t nBody = strlen(pOut);
  if (nBody == 0) return list;
  bool flClosed = pOut[nBody - 1] == delim;
  if (flClosed) nBody--;
  char* pCopy = SaveStr_(pOut);  // ends the program when memory is exhausted
  pCopy[nBody] = '\0';
  const char delimSet[2] = {delim, '\0'};
  int nWords = 1;
  for (const char* p = pCopy; *p; p++) nWords += (*p == delim);
  for (int nLeft = nWords; nLeft > 0; nLeft--) {
    const char* pBest = pCopy;
    size_t nBest = strcspn(pCopy, delimSet);
    const char* p = pCopy + nBest;
    while (*p == delim) {
      const char* pWord = p + 1;
      size_t nWord = strcspn(pWord, delimSet);
      if (CompareWords(pWord, nWord, pBest, nBest, ignoreCase != 0) < 0) {
        pBest = pWord;
        nBest = nWord;
      }
      p = pWord + nWord;
    }
    memcpy(pOut, pBest, nBest);
    pOut += nBest;
    if (nLeft > 1) *pOut++ = delim;
    // Remove the word and one delim beside it (the one after, or before for the last).
    char* pCut = const_cast<char*>(pBest);
    size_t nCut = nBest;
    if (pCut[nCut] == delim) {
      nCut++;
    } else if (pCut > pCopy) {
      pCut--;
      nCut++;
    }
    memmove(pCut, pCut + nCut, strlen(pCut + nCut) + 1);
  }
  if (flClosed) *pOut++ = delim;
  *pOut = '\0';
  PutMem(pCopy);
  return list;
}

int SetVarContent(void* dst, const void* src, int len, int reverse) {
  if (!dst || !src || len <= 0) return len;
  unsigned char* d = static_cast<unsigned char*>(dst);
  const unsigned char* s = static_cast<const unsigned char*>(src);
  if (!reverse) {
    memmove(d, s, static_cast<size_t>(len));
  } else if (d == s) {
    for (int i = 0, j = len - 1; i < j; i++, j--) {
      unsigned char t = d[i];
      d[i] = d[j];
      d[j] = t;
    }
  } else {
    for (int i = 0; i < len; i++) d[i] = s[len - 1 - i];
  }
  return len;
}

double MaxD(double a, double b) { return a > b ? a : b; }

float CvtFloatFormat(float value, int from, int to) {
  if (from == to || from < 0 || from > 2 || to < 0 || to > 2) return value;
  switch (from * 3 + to) {
    case 0 * 3 + 1: return value * 2.54f;           // inches to centimetres
    case 0 * 3 + 2: return value * 72.0f;           // inches to points
    case 1 * 3 + 0: return value / 2.54f;           // centimetres to inches
    case 1 * 3 + 2: return value / 2.54f * 72.0f;   // centimetres to points
    case 2 * 3 + 0: return value / 72.0f;           // points to inches
    default: return value / 72.0f * 2.54f;          // points to centimetres
  }
}

// Only the end of input ends a line early: a byte 0xFF is text like any other.
char* Gets(char* buf, int size) {
  if (!buf || size < 1) return nullptr;
  int n = 0;
  while (n < size - 1) {
    int c = getchar();
    if (c == EOF) {
      buf[n] = '\0';
      return n > 0 ? buf : nullptr;
    }
    if (c == '\n') break;
    buf[n++] = static_cast<char>(c);
  }
  buf[n] = '\0';
  return buf;
}
