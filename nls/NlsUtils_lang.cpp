// NlsUtils_lang.cpp - language resolution and opening catalogues.
// The language table ("trans.conf" in the tool directory, else message (999, 1) of the
// en_US toolkit catalogue) maps names to catalogue directories, one entry a line:
//   fr_FR = fr_FR fr french fr_BE      names may continue on the following lines
//   Default en_US                       the language of a name that no entry lists
// The user's LANG (codeset suffix dropped) is looked up once per process.
#include <cstdlib>
#include <cstring>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "nls/NlsUtils.h"

namespace {

char* pTransBuf = nullptr;  // the language table, read once (saved string)

constexpr char kTransFile[] = "trans.conf";
constexpr char kFallbackLang[] = "en_US";
constexpr int kSearchSize = 256;  // " " LANG " ", LANG cut to fit

bool IsWordEnd(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Appends n bytes of text to the table (len of kNlsTransSize - 1 at most); false when full.
bool Append(char* table, int* len, const char* text, int n) {
  if (*len + n > kNlsTransSize - 1) return false;
  memcpy(table + *len, text, n);
  *len += n;
  table[*len] = 0;
  return true;
}

// A saved copy of the word at p: delimiters in delims skipped before it and ending it.
char* SaveWord(const char* p, const char* delims) {
  p += strspn(p, delims);
  size_t n = strcspn(p, delims);
  return n ? SaveStr("%.*s", int(n), p) : nullptr;
}

// The language that the "Default" line of the table names, or null.
char* FindDefault(const char* table) {
  const char* p = strstr(table, "Default");
  if (!p) return nullptr;
  p += 7;
  if (*p == '\n') return nullptr;
  p = strchr(p, ' ');
  if (!p) return nullptr;
  p += strspn(p, " \t");
  if (*p == '\r' || *p == '\n') return nullptr;
  return SaveWord(p, " \t\r\n");
}

// The language of the entry whose names include search, null when the table has none
// (found only before the first "=" gives en_US). The language is the word just before the
// entry's "=": an entry whose line runs on into the next one (a trailing blank, comment or
// carriage return) still gives its own language, not that of the line it is joined to.
char* FindLanguage(const char* table, const char* search) {
  const char* hit = strstr(table, search);
  if (!hit) return nullptr;
  const char* eq = hit;
  while (eq > table && *eq != '=') eq--;
  if (*eq != '=') return SaveStr_(kFallbackLang);
  const char* end = eq;
  while (end > table && (end[-1] == ' ' || end[-1] == '\t')) end--;
  const char* word = end;
  while (word > table && !strchr(" \t\r\n=", word[-1])) word--;
  if (word < end) return SaveStr("%.*s", int(end - word), word);
  // No word before the "=": the first word of its line.
  const char* line = eq;
  while (line > table && line[-1] != '\n') line--;
  char* lang = SaveWord(line, " =");
  return lang ? lang : SaveStr_(kFallbackLang);
}

}  // namespace

char* ParseTransFile(const char* name) {
  if (!name) return nullptr;
  char* content = GetSavedFileContent(pToolPath ? pToolPath : ".", name);
  if (!content) return nullptr;
  static char table[kNlsTransSize];
  int len = 0;
  table[0] = 0;
  int flAfterDefault = 0;
  for (const char* p = content; *p;) {
    if (IsWordEnd(*p)) {  // blanks and line ends between words (\v and \f too: no empty words)
      p++;
    } else if (*p == '#') {
      const char* end = p + strcspn(p, "\r\n");
      if (!*end) break;
      p = end;
    } else if (*p == '=') {
      if (!Append(table, &len, "= ", 2)) break;
      p++;
    } else {
      const char* word = p;
      while (*p && !IsWordEnd(*p)) p++;
      int n = int(p - word);
      int flEol = *p == '\n' || flAfterDefault;
      // A word that does not fit ends the table after the last whole word.
      if (len + n + 1 + flEol > kNlsTransSize - 1) break;
      Append(table, &len, word, n);
      Append(table, &len, flEol ? " \n" : " ", 1 + flEol);
      flAfterDefault = n == 7 && strncmp(word, "Default", 7) == 0;
    }
  }
  PutMem(content);
  return SaveStr_(table);
}

char* NlsTableLanguage(const char* table, const char* lang) {
  if (!lang || !*lang) lang = "___LANG_NOT_SET___";
  char search[kSearchSize];
  snprintf(search, sizeof search, " %.*s ", kSearchSize - 3, lang);
  if (char* dot = strchr(search, '.')) *dot = 0;
  char* found = nullptr;
  if (table) {
    found = FindLanguage(table, search);
    if (!found) found = FindDefault(table);
  }
  return found ? found : SaveStr_(kFallbackLang);
}

char* GetDesiredNLSLang() {
  if (pNLSLang) return pNLSLang;
  if (!pTransBuf) pTransBuf = ParseTransFile(kTransFile);
  if (!pTransBuf) {
    if (!pDrvCoreDB) pDrvCoreDB = DbTOpen("en_US/CoreString", 0);
    char* table = NlsFetchString(pDrvCoreDB, nullptr, kNlsBySetNumber, 999, 1);
    if (table != pErrBuf && strcmp(table, "999_1") != 0) pTransBuf = table;
  }
  pNLSLang = NlsTableLanguage(pTransBuf, getenv("LANG"));
  return pNLSLang;
}

DbT* NlsOpenDB(const char* name, int flags) {
  if (!name) return nullptr;
  char* lang = SaveStr_(GetDesiredNLSLang());
  const char* tool = pToolPath ? pToolPath : ".";
  // DbTOpen takes a name that begins with "/" or "." as a path.
  char* path = SaveStr("%s%s/db/%s/%s.kdb", (*tool == '/' || *tool == '.') ? "" : "./", tool,
                       lang, name);
  DbT* db = path ? DbTOpen(path, flags) : nullptr;
  if (db && db->DbType == 0 && strncmp(lang, kFallbackLang, 5) == 0) {
    DbTClose(db);
    db = nullptr;
  }
  PutMem(lang);
  PutMem(path);
  return db;
}
