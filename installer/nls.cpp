// nls.cpp - the installer's languages: the six setup message tables and the choice of the
// agreement language.
// The tables are data files (installer/data/messages.<xx>.txt) embedded at build time and
// parsed into the pool on the first lookup; a translated entry that is missing, or whose
// printf conversions differ from the English entry's, shows the English text, so a
// translation can never make a message print the wrong arguments. LANG's codeset suffix
// (".ISO8859-1") is cut in the process environment itself, for the commands run later.
#include <cstdlib>
#include <cstring>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "installer/setup.h"

KORVI_EMBEDDED(SetupMessages_en);
KORVI_EMBEDDED(SetupMessages_es);
KORVI_EMBEDDED(SetupMessages_it);
KORVI_EMBEDDED(SetupMessages_fr);
KORVI_EMBEDDED(SetupMessages_ge);
KORVI_EMBEDDED(SetupMessages_pr);
KORVI_EMBEDDED(TransBufText);

const char* NLS_ENGLISH[kSetupMsgCount];
const char* NLS_SPANISH[kSetupMsgCount];
const char* NLS_ITALIAN[kSetupMsgCount];
const char* NLS_FRENCH[kSetupMsgCount];
const char* NLS_GERMAN[kSetupMsgCount];
const char* NLS_PORTUGUESE[kSetupMsgCount];
const char** pCurLang = nullptr;
const char* pTransBuf = TransBufText;

namespace {

// Position in ",en_US,es_ES,it_IT,fr_FR,ge_GE,pr_BR" -> table and its data file.
struct SetupTable {
  const char** pTable;
  const char* pData;
};
const SetupTable kSetupTables[] = {
    {NLS_ENGLISH, SetupMessages_en}, {NLS_SPANISH, SetupMessages_es},
    {NLS_ITALIAN, SetupMessages_it}, {NLS_FRENCH, SetupMessages_fr},
    {NLS_GERMAN, SetupMessages_ge},  {NLS_PORTUGUESE, SetupMessages_pr},
};
constexpr char kSetupLangList[] = ",en_US,es_ES,it_IT,fr_FR,ge_GE,pr_BR";
constexpr char kDefaultAgreementLang[] = "en_US";

char* pTargetLang = nullptr;  // agreement language code, saved on the first call

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes the quoted text starting after the opening quote at p into out (room for the
// whole rest of the line). Returns the position after the closing quote, or null when the
// text is not closed on this line or holds an unknown escape.
const char* DecodeQuoted(const char* p, char* out) {
  for (;;) {
    char c = *p++;
    if (c == '\0' || c == '\n' || c == '\r') return nullptr;
    if (c == '"') {
      *out = '\0';
      return p;
    }
    if (c != '\\') {
      *out++ = c;
      continue;
    }
    c = *p++;
    switch (c) {
      case 'n': *out++ = '\n'; break;
      case 't': *out++ = '\t'; break;
      case 'r': *out++ = '\r'; break;
      case '"': *out++ = '"'; break;
      case '\\': *out++ = '\\'; break;
      case 'x': {
        int hi = HexValue(p[0]);
        int lo = hi < 0 ? -1 : HexValue(p[1]);
        if (lo < 0 || (hi == 0 && lo == 0)) return nullptr;
        *out++ = static_cast<char>(hi * 16 + lo);
        p += 2;
        break;
      }
      default: return nullptr;
    }
  }
}

// The printf conversions of a format in order ("%s%e"), at most size - 1 characters.
// Flags, width and precision are left out; "%%" is no conversion.
void FormatSignature(const char* fmt, char* sig, int size) {
  int n = 0;
  for (const char* p = fmt; p && *p; p++) {
    if (*p != '%') continue;
    p++;
    while (*p && strchr("-+ #0123456789.lhLqjzt", *p)) p++;
    if (*p == '\0') break;
    if (*p == '%') continue;
    if (n < size - 1) sig[n++] = *p;
  }
  sig[n] = '\0';
}

// Fills a table from its data file (see FillSetupTable).
void LoadTable(const SetupTable& t) {
  if (!NLS_ENGLISH[0]) ParseSetupMessages(SetupMessages_en, NLS_ENGLISH, nullptr);
  if (t.pTable != NLS_ENGLISH) FillSetupTable(t.pTable, t.pData);
}

// LANG without its codeset suffix, also in the environment; null when unset.
const char* CutLang() {
  const char* pLang = getenv("LANG");
  if (!pLang) return nullptr;
  if (const char* pDot = strchr(pLang, '.')) {
    char* pCut = SaveStr("%.*s", static_cast<int>(pDot - pLang), pLang);
    setenv("LANG", pCut, 1);
    PutMem(pCut);
    pLang = getenv("LANG");
  }
  return pLang;
}

}  // namespace

int ParseSetupMessages(const char* data, const char** table, int* badLine) {
  int nLine = 0;
  for (const char* p = data; p && *p;) {
    nLine++;
    const char* pEnd = strchr(p, '\n');
    size_t len = pEnd ? static_cast<size_t>(pEnd - p) : strlen(p);
    const char* pNext = pEnd ? pEnd + 1 : p + len;
    const char* q = p;
    while (*q == ' ' || *q == '\t') q++;
    if (*q == '#' || *q == '\n' || *q == '\r' || *q == '\0') {
      p = pNext;
      continue;
    }
    int index = -1;
    if (*q >= '0' && *q <= '9') {
      index = 0;
      while (*q >= '0' && *q <= '9' && index < 1000) index = index * 10 + (*q++ - '0');
    }
    bool flOk = index >= 0 && index < kSetupMsgCount && (*q == ' ' || *q == '\t');
    while (flOk && (*q == ' ' || *q == '\t')) q++;
    char* pText = nullptr;
    if (flOk && *q == '"') {
      pText = static_cast<char*>(GetMem(static_cast<int>(len) + 1));
      q = pText ? DecodeQuoted(q + 1, pText) : nullptr;
      while (q && (*q == ' ' || *q == '\t' || *q == '\r')) q++;
      flOk = q && (*q == '\n' || *q == '\0');
    } else {
      flOk = false;
    }
    if (!flOk) {
      PutMem(pText);
      if (badLine) *badLine = nLine;
      return 0;
    }
    table[index] = pText;
    p = pNext;
  }
  return 1;
}

void FillSetupTable(const char** table, const char* data) {
  if (!NLS_ENGLISH[0]) ParseSetupMessages(SetupMessages_en, NLS_ENGLISH, nullptr);
  const char* own[kSetupMsgCount] = {};
  int badLine = 0;
  if (!ParseSetupMessages(data, own, &badLine))
    PutLogMsg("WARNING_MSG: setup messages: bad entry at line %d\n", badLine);
  for (int i = 0; i < kSetupMsgCount; i++) {
    char sigOwn[32], sigEn[32];
    FormatSignature(own[i], sigOwn, sizeof sigOwn);
    FormatSignature(NLS_ENGLISH[i], sigEn, sizeof sigEn);
    bool flShared = (i == 15 || i == 16 || i == 57);  // the same text in every table
    table[i] = (own[i] && !flShared && strcmp(sigOwn, sigEn) == 0) ? own[i] : NLS_ENGLISH[i];
  }
}

void ResetSetupLanguage() {
  pCurLang = nullptr;
  pTargetLang = nullptr;  // a saved string of a few bytes, left to the pool
}

const char* nlsSetupStrCvt(int index) {
  if (!pCurLang) {
    int n = 0;
    if (const char* pLang = CutLang()) n = FindToken(pLang, kSetupLangList);
    const SetupTable& t = kSetupTables[n >= 1 && n <= 6 ? n - 1 : 0];
    LoadTable(t);
    pCurLang = t.pTable;
  }
  if (index < 0 || index >= kSetupMsgCount || !pCurLang[index]) return "";
  return pCurLang[index];
}

const char* GetTargetNLSLang() {
  if (pTargetLang) return pTargetLang;
  const char* pLang = CutLang();
  if (!pLang) pLang = kDefaultAgreementLang;
  const char* pText = pTransBuf;
  size_t nText = strlen(pText);
  const char* pHit = *pLang ? strstr(pText, pLang) : pText;
  size_t s = pHit ? static_cast<size_t>(pHit - pText) : 0;
  if (!pHit || s + 8 >= nText) return pTargetLang = SaveStr_(kDefaultAgreementLang);
  // The nearest "=" at or before s + 7 names the line whose code applies.
  const char* pEq = nullptr;
  for (size_t i = s + 8; i-- > 0;) {
    if (pText[i] == '=') {
      pEq = pText + i;
      break;
    }
  }
  if (!pEq) return pTargetLang = SaveStr_(kDefaultAgreementLang);
  const char* pStart = pEq;
  while (pStart > pText && pStart[-1] != '\n') pStart--;
  while (*pStart == ' ' || *pStart == '=') pStart++;
  size_t n = strcspn(pStart, " =\n");
  if (n == 0) return pTargetLang = SaveStr_(kDefaultAgreementLang);
  return pTargetLang = SaveStr("%.*s", static_cast<int>(n), pStart);
}
