// NlsUtils_fetch.cpp - fetching numbered messages and printing with them as formats.
// Every fetch reads the record into StrBuf; a found text is copied to the caller's buffer or
// saved in the pool, a missing one comes back as its key. Texts are cut to the buffers at a
// character boundary and always terminated, whatever the catalogue file holds.
#include <cstdarg>
#include <cstring>

#include "base/MemMgr.h"
#include "nls/NlsCache.h"
#include "nls/NlsUtils.h"

DbT* pDrvCoreDB = nullptr;
DbT* pPrtHelpDB = nullptr;
DbT* pPrtCoreDB = nullptr;
char* pNLSLang = nullptr;

char StrBuf[kNlsStrBufSize];
char StrVal[kNlsStrValSize];
char TmpKey[kNlsTmpKeySize];
char* pErrBuf = nullptr;

namespace {

// The key of the last fetch by set and number, returned for a missing message.
char KeyBuf[kNlsKeySize];

// Writes v in decimal at p; returns the end.
char* PutDecimal(char* p, int v) {
  unsigned u = v < 0 ? 0u - unsigned(v) : unsigned(v);
  if (v < 0) *p++ = '-';
  char digits[10];
  int n = 0;
  do {
    digits[n++] = char('0' + u % 10);
    u /= 10;
  } while (u);
  while (n) *p++ = digits[--n];
  return p;
}

// Writes "<set>_<number>" into key (kNlsKeySize bytes); returns key.
char* ComposeKey(char* key, int set, int number) {
  char* p = PutDecimal(key, set);
  *p++ = '_';
  *PutDecimal(p, number) = 0;
  return key;
}

// Reads the record of key into StrBuf as a terminated text of at most 2047 characters.
// Returns the bytes to copy (with the terminator), 0 when there is no record.
int ReadText(DbT* db, const char* key) {
  char* p = StrBuf;
  int len = DbmTGetRecordV(db, key, &p, kNlsStrBufSize);
  if (len <= 0) return 0;
  if (p != StrBuf) {  // longer than StrBuf: keep what fits
    memcpy(StrBuf, p, kNlsStrBufSize);
    PutMem(p);
    len = kNlsStrBufSize;
  }
  if (StrBuf[len - 1] == 0) return len;
  if (len < kNlsStrBufSize) {
    StrBuf[len] = 0;
    return len + 1;
  }
  StrBuf[NlsCutText(StrBuf, kNlsStrBufSize - 1)] = 0;
  return int(strlen(StrBuf)) + 1;
}

// Mode 3: the whole text, saved (or the read's own pool block when it is longer than StrBuf).
char* ReadTextV(DbT* db, const char* key) {
  char* p = StrBuf;
  int len = DbmTGetRecordV(db, key, &p, kNlsStrBufSize);
  if (len <= 0) return nullptr;
  if (p == StrBuf) {
    if (len == kNlsStrBufSize && StrBuf[len - 1] != 0) {  // no room for a terminator here
      char* q = static_cast<char*>(GetMem(len + 1));
      if (q) memcpy(q, StrBuf, len);
      return q;
    }
    if (StrBuf[len - 1] != 0) StrBuf[len] = 0;
    return SaveStr_(StrBuf);
  }
  if (p[len - 1] != 0) {
    char* q = static_cast<char*>(AdjustMem(p, len + 1));
    if (!q) {
      PutMem(p);
      return nullptr;
    }
    q[len] = 0;
    p = q;
  }
  return p;
}

// Copies a missing message's key into out (kNlsStrBufSize bytes), cut and terminated.
void CopyKey(char* out, const char* key) {
  size_t n = NlsCutText(key, kNlsStrBufSize - 1);
  memcpy(out, key, n);
  out[n] = 0;
}

// Fetches message (set, number) of db for printing: the text (pool), or null when it is
// missing or its conversions are not those declared for it.
char* FetchFormat(DbT* db, int set, int number, int byKeyText) {
  char key[kNlsKeySize];
  ComposeKey(key, set, number);
  char* text = byKeyText ? NlsFetchString(db, nullptr, kNlsByKey, key)
                         : NlsFetchString(db, nullptr, kNlsBySetNumber, set, number);
  if (text == pErrBuf || text == key || text == KeyBuf) return nullptr;
  if (!NlsCheckArgs(text, set, number)) {
    PutMem(text);
    return nullptr;
  }
  return text;
}

}  // namespace

size_t NlsCutText(const char* text, size_t max) {
  size_t n = strnlen(text, max + 1);
  if (n <= max) return n;
  // Step back over at most three UTF-8 continuation bytes so that no character is split.
  auto cont = [&](size_t k) { return (static_cast<unsigned char>(text[k]) & 0xC0) == 0x80; };
  size_t k = max;
  while (k > 0 && max - k < 3 && cont(k)) k--;
  return cont(k) ? max : k;
}

char* NlsFetchString(DbT* db, char* out, int mode, ...) {
  if (!pErrBuf) pErrBuf = SaveStr_("Error");
  va_list ap;
  va_start(ap, mode);
  int set = 0, number = 0;
  const char* key = nullptr;
  int flByKey = 0;
  if (mode == kNlsBySetNumber || mode == kNlsBySetNumberV) {
    set = va_arg(ap, int);
    number = va_arg(ap, int);
  } else if (mode == kNlsByKey || mode == kNlsByKey2) {
    key = va_arg(ap, const char*);
    flByKey = 1;
  } else {
    va_end(ap);
    return pErrBuf;
  }
  va_end(ap);
  if (flByKey ? !key || !*key || !db : !db && (!set || !number)) return pErrBuf;
  if (mode == kNlsBySetNumber && db) {  // a text fetched before: no lookup in the image
    if (!(db->Flags & 2)) DbTUpDate(db);
    int len;
    if (const char* text = NlsCacheFind(db, set, number, &len)) {
      if (!out) return SaveStr_(text);
      memcpy(out, text, size_t(len));
      return out;
    }
  }
  if (!flByKey) key = ComposeKey(KeyBuf, set, number);

  if (mode == kNlsBySetNumberV) {
    char* text = db ? ReadTextV(db, key) : nullptr;
    return text ? text : KeyBuf;
  }
  int len = db ? ReadText(db, key) : 0;
  if (len == 0) {
    if (out) CopyKey(out, key);
    return const_cast<char*>(key);
  }
  if (mode == kNlsBySetNumber) NlsCacheAdd(db, set, number, StrBuf, len);
  if (!out) return SaveStr_(StrBuf);
  memcpy(out, StrBuf, len);
  return out;
}

int Nlsfprintf(FILE* stream, DbT* db, int set, int number, ...) {
  if (!stream) return -1;
  char* text = FetchFormat(db, set, number, 1);
  if (!text) return fputs("Error", stream) < 0 ? -1 : 5;
  va_list ap;
  va_start(ap, number);
  int n = vfprintf(stream, text, ap);
  va_end(ap);
  PutMem(text);
  return n;
}

namespace {

int FormatInto(char* buffer, size_t size, DbT* db, int set, int number, va_list ap) {
  char* text = FetchFormat(db, set, number, 0);
  int n = vsnprintf(buffer, size, text ? text : "Error", ap);
  if (text) PutMem(text);
  if (n < 0) {
    buffer[0] = 0;
    return 0;
  }
  if (size_t(n) >= size) {  // cut: end at a character boundary
    n = int(NlsCutText(buffer, size - 1));
    buffer[n] = 0;
  }
  return n;
}

}  // namespace

int Nlssprintf(char* buffer, DbT* db, int set, int number, ...) {
  if (!buffer) return 0;
  va_list ap;
  va_start(ap, number);
  int n = FormatInto(buffer, kNlsSprintfMax, db, set, number, ap);
  va_end(ap);
  return n;
}

int Nlssnprintf(char* buffer, int size, DbT* db, int set, int number, ...) {
  if (!buffer || size < 1) return 0;
  va_list ap;
  va_start(ap, number);
  int n = FormatInto(buffer, size_t(size), db, set, number, ap);
  va_end(ap);
  return n;
}
