// utils_token.cpp - the shared tokenizer and the framed word-list searches.
// One scan at a time: szIn is the scan position, szTokenIn the position after the last
// token (public, for nested scans), GetTokenBuf receives each token, chTokenDel the last
// delimiter consumed. A token longer than GetTokenBuf is cut to 127 characters but its
// whole text is consumed. Results are pointers (null: no token) or 1-based positions
// (0: absent). Built with syscmd/ as one library (kbase).
#include <cstring>

#include "base/utils.h"

char* szTokenIn = nullptr;
char GetTokenBuf[kTokenBufSize];
char chTokenDel = 0;

namespace {

char* szIn = nullptr;  // current scan position of GetToken and GetTokenParse

enum ScanEnd { kScanNone, kScanToken, kScanNewline };

bool IsDelim(char c, const char* delims) {
  return c != '\0' && delims && strchr(delims, c) != nullptr;
}

// The core scan: copies the next token from *pos into out (kTokenBufSize characters,
// cut to fit), converting escapes, and advances *pos. Sets chTokenDel.
ScanEnd ScanToken(const char** pos, const char* delims, bool flNewline, char* out) {
  const char* s = *pos;
  int nOut = 0;
  bool flText = false;
  ScanEnd end = kScanNone;
  for (;;) {
    char c = *s;
    if (c == '\0') break;
    if (c == '\\') {
      char e = s[1];
      if (e == '\0') {  // a trailing backslash is dropped and ends the input
        s++;
        break;
      }
      c = e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
      s += 2;
    } else if (IsDelim(c, delims)) {
      chTokenDel = c;
      s++;
      if (!flText) continue;  // leading delimiters are skipped
      if (flNewline && c == '\n') end = kScanNewline;
      break;
    } else {
      s++;
    }
    if (nOut < kTokenBufSize - 1) out[nOut++] = c;
    flText = true;
  }
  out[nOut] = '\0';
  *pos = s;
  if (end == kScanNewline) return end;
  return flText ? kScanToken : kScanNone;
}

bool EqualNoCase(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; i++) {
    if (LowerC(a[i]) != LowerC(b[i])) return false;
    if (a[i] == '\0') return true;
  }
  return true;
}

}  // namespace

char* GetToken(const char* input, const char* delims) {
  chTokenDel = 0;
  bool flNewline = input == kTokenNewline;
  if (input && !flNewline) szIn = const_cast<char*>(input);
  GetTokenBuf[0] = '\0';
  if (!szIn) return nullptr;
  const char* s = szIn;
  ScanEnd end = ScanToken(&s, delims, flNewline, GetTokenBuf);
  szIn = const_cast<char*>(s);
  if (end == kScanNewline) return nullptr;  // the line's last token stays in GetTokenBuf
  szTokenIn = szIn;
  return end == kScanToken ? GetTokenBuf : nullptr;
}

char* GetTokenD(const char* input, const char* delims, const char** cursor, char* out) {
  chTokenDel = 0;
  if (!out) return nullptr;
  out[0] = '\0';
  bool flNewline = input == kTokenNewline;
  const char* s = (input && !flNewline) ? input : (cursor ? *cursor : nullptr);
  if (!s) return nullptr;
  ScanEnd end = ScanToken(&s, delims, flNewline, out);
  if (cursor) *cursor = s;
  return end == kScanToken ? out : nullptr;
}

char* GetTokenParse(char* input, const char* delims) {
  chTokenDel = 0;
  if (input && input != kTokenNewline) szIn = input;
  if (!szIn) return nullptr;
  char* s = szIn;
  char* pStart = s;
  for (;;) {
    char c = *s;
    if (c == '\0') break;
    if (c == '\\') {  // an escape is token text, left as it is
      s++;
      if (*s) s++;
      continue;
    }
    if (IsDelim(c, delims)) {
      chTokenDel = c;
      *s++ = '\0';
      if (s - 1 == pStart) {  // still empty: skip the leading delimiter
        pStart = s;
        continue;
      }
      break;
    }
    s++;
  }
  szIn = s;
  szTokenIn = s;
  return *pStart ? pStart : nullptr;
}

char* GetTokenN(const char* input, const char* delims, int n) {
  char* p = GetToken(input, delims);
  for (int i = 1; p && i < n; i++) p = GetToken(nullptr, delims);
  return p;
}

int GetTokenCount(const char* input, const char* delims) {
  if (!input || input == kTokenNewline) return 0;
  char* pSaveIn = szIn;
  char* pSaveTokenIn = szTokenIn;
  char saveBuf[kTokenBufSize];
  memcpy(saveBuf, GetTokenBuf, sizeof saveBuf);
  int n = 0;
  for (char* p = GetToken(input, delims); p; p = GetToken(nullptr, delims)) n++;
  szIn = pSaveIn;
  szTokenIn = pSaveTokenIn;
  memcpy(GetTokenBuf, saveBuf, sizeof saveBuf);
  return n;
}

char* SetTokenBuf(const char* p) {
  szIn = const_cast<char*>(p);
  szTokenIn = szIn;
  return szIn;
}

char* GetTokenBufInput() { return szIn; }

int ParseStr(char* text, const char* delims, char** array, int max) {
  if (!array || max <= 0) return 0;
  for (int i = 0; i < max; i++) array[i] = nullptr;
  if (!text) return 0;
  int n = 0;
  char* s = text;
  while (n < max && *s) {
    while (IsDelim(*s, delims)) s++;
    if (!*s) break;
    array[n++] = s;
    while (*s && !IsDelim(*s, delims)) s++;
    if (!*s) break;
    *s++ = '\0';
  }
  return n;
}

// The first f word f in the list; else the final word after the last f (a list without its
// closing separator). The position is the number of f up to the matching one. The framed
// word is matched in place, so a word of any length can be looked up.
int FindToken(const char* word, const char* list) {
  if (!word || !list || !*list) return 0;
  char f = list[0];
  size_t nWord = strlen(word);
  const char* pMatch = nullptr;
  for (const char* p = list; (p = strchr(p, f)) != nullptr; p++) {
    if (strncmp(p + 1, word, nWord) == 0 && p[1 + nWord] == f) {
      pMatch = p;
      break;
    }
  }
  if (!pMatch) {
    const char* pLast = strrchr(list, f);
    if (strcmp(pLast + 1, word) == 0) pMatch = pLast;
  }
  if (!pMatch) return 0;
  int n = 0;
  for (const char* p = list; p <= pMatch; p++) n += (*p == f);
  return n;
}

int FindTokenC(const char* word, const char* list) {
  if (!word || !list || !*list) return 0;
  char f = list[0];
  size_t nWord = strlen(word);
  int n = 0;
  for (const char* p = list; *p; p++) {
    if (*p != f) continue;
    n++;
    // A match means nWord characters of the list follow p, so p[1 + nWord] is inside it.
    if (EqualNoCase(p + 1, word, nWord) &&
        (p[1 + nWord] == f || p[1 + nWord] == '\0'))
      return n;
  }
  return 0;
}

int FindTokenWithDelim(const char* list, const char* word, char delim) {
  if (!list || !word) return 0;
  size_t nWord = strlen(word);
  const char* p = list;
  for (int n = 1;; n++) {
    const char* pEnd = delim ? strchr(p, delim) : nullptr;
    size_t nPiece = pEnd ? static_cast<size_t>(pEnd - p) : strlen(p);
    if (nPiece == nWord && strncmp(p, word, nWord) == 0) return n;
    if (!pEnd) return 0;
    p = pEnd + 1;
  }
}
