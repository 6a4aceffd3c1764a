// nls_fetch.cpp - the message catalogue over hostile files. The input is a LANG value (its
// first line), a language table (up to the first NUL byte) and a catalogue image (the rest).
// The table is normalised and LANG resolved by it; the image is opened as a catalogue and
// every message in it fetched in every mode, printed as a format, used for menu texts, a
// template and a help redirect.
// Properties: no access outside a buffer; a normalised table fits its 8191 characters, holds
// only blanks between its words and only words of the file; a resolved language is one word
// of the table (or en_US); a fetched text is the record's text (cut to 2047 characters only
// where the fixed buffer demands); a text printed as a format either has exactly the
// conversions its message is declared with and prints the same through Nlsfprintf and
// Nlssnprintf, or prints "Error"; fixed buffers come back terminated and within their sizes.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "db/Dbm.h"
#include "fuzz/support.h"
#include "nls/NlsUtils.h"

namespace {

constexpr int kMaxMessages = 16;  // messages examined per input (each is read through the file
                                  // check of every fetch: more would only slow the run)

// The number of arguments the printf conversions of text take; -1 for %n (never safe).
int CountConversions(const char* text) {
  int n = 0;
  for (const char* p = text; (p = strchr(p, '%'));) {
    p++;
    if (*p == '%') {
      p++;
      continue;
    }
    while (*p && strchr("-+ #0'", *p)) p++;
    while (*p && (strchr("0123456789.", *p) || *p == '*')) {
      if (*p == '*') n++;
      p++;
    }
    while (*p && strchr("hlLqjzt", *p)) p++;
    if (*p == 'n') return -1;
    n++;
    if (*p) p++;
  }
  return n;
}

// The classes of a declared argument list ("%d%d" declares two ints): one letter each.
std::string Classes(int set, int number) {
  char args[64];
  int n = NlsFormatArgs(NlsExpectedArgs(set, number), args, sizeof args);
  return n < 0 ? "?" : std::string(args, size_t(n));
}

// Prints message (set, number) with arguments of its declared classes through both printing
// operations; false when the classes are none this target passes.
bool PrintBoth(DbT* db, int set, int number, const std::string& classes, std::string* viaSn,
               std::string* viaF) {
  static char buf[8192];
  char* mem = nullptr;
  size_t memLen = 0;
  FILE* f = open_memstream(&mem, &memLen);
  FUZZ_CHECK(f, "open_memstream");
  bool known = true;
  if (classes.empty()) {
    Nlssnprintf(buf, sizeof buf, db, set, number);
    Nlsfprintf(f, db, set, number);
  } else if (classes == "i") {
    Nlssnprintf(buf, sizeof buf, db, set, number, 'q');
    Nlsfprintf(f, db, set, number, 'q');
  } else if (classes == "ii") {
    Nlssnprintf(buf, sizeof buf, db, set, number, 7, -42);
    Nlsfprintf(f, db, set, number, 7, -42);
  } else if (classes == "s") {
    Nlssnprintf(buf, sizeof buf, db, set, number, "word");
    Nlsfprintf(f, db, set, number, "word");
  } else if (classes == "is") {
    Nlssnprintf(buf, sizeof buf, db, set, number, 'c', "ab");
    Nlsfprintf(f, db, set, number, 'c', "ab");
  } else if (classes == "iis") {
    Nlssnprintf(buf, sizeof buf, db, set, number, 'x', 'y', "xz");
    Nlsfprintf(f, db, set, number, 'x', 'y', "xz");
  } else if (classes == "sss") {
    Nlssnprintf(buf, sizeof buf, db, set, number, "s1", "s2", "s3");
    Nlsfprintf(f, db, set, number, "s1", "s2", "s3");
  } else if (classes == "DD") {
    Nlssnprintf(buf, sizeof buf, db, set, number, 1.5L, 2.25L);
    Nlsfprintf(f, db, set, number, 1.5L, 2.25L);
  } else {
    known = false;
  }
  fclose(f);
  *viaSn = buf;
  viaF->assign(mem, memLen);
  free(mem);
  return known;
}

// One message of the image: key, and its text up to the first NUL.
struct Message {
  std::string key;
  std::string text;
};

std::vector<Message> Messages(DbT* db) {
  std::vector<Message> out;
  DbTRec rec;
  for (DbTRec* r = WalkDbTRecords(db, &rec, 0); r && out.size() < kMaxMessages;
       r = WalkDbTRecords(db, &rec, 1)) {
    std::string key;
    if (db->DbType == 1) {
      key.assign(r->pKey, strnlen(r->pKey, r->KeyLen));
    } else {
      std::vector<char> k(size_t(r->KeyLen) + 1, 0);
      DbmTGetData(db, k.data(), r->KeyLen);
      key = k.data();
    }
    if (key.empty()) continue;
    int size = DbmTGetRecordSize(db, key.c_str());  // the first record of the key is the one read
    if (size <= 0) continue;
    std::vector<char> data(size_t(size) + 1, 0);
    DbmTGetRecord(db, key.c_str(), data.data());
    out.push_back({key, std::string(data.data())});
  }
  return out;
}

// The text a fixed buffer of kNlsStrBufSize gives: whole, or cut to at most 2047 bytes
// without splitting a character.
bool IsCutOf(const std::string& got, const std::string& whole) {
  if (whole.size() < size_t(kNlsStrBufSize)) return got == whole;
  return got.size() <= size_t(kNlsStrBufSize - 1) && got.size() + 4 > size_t(kNlsStrBufSize - 1) &&
         whole.compare(0, got.size(), got) == 0;
}

void CheckTable(const char* table, const std::string& source) {
  size_t len = strlen(table);
  FUZZ_CHECK(len <= size_t(kNlsTransSize - 1), "table of %zu characters", len);
  FUZZ_CHECK(!strpbrk(table, "\t\r\v\f"), "white space other than blanks in the table");
  FUZZ_CHECK(!strstr(table, "  "), "two blanks in a row in the table");
  FUZZ_CHECK(len == 0 || table[len - 1] == ' ' || table[len - 1] == '\n', "table ends in a word");
  // Every word of the table is a word of the file ("=" stands alone after normalising).
  const char* p = table;
  while (*p) {
    p += strspn(p, " \n");
    size_t n = strcspn(p, " \n");
    if (!n) break;
    std::string word(p, n);
    FUZZ_CHECK(word == "=" || source.find(word) != std::string::npos, "word %s not in the file",
               word.c_str());
    p += n;
  }
}

void CheckLanguage(const char* table, const char* lang) {
  char* got = NlsTableLanguage(table, lang);
  FUZZ_CHECK(got && *got, "no language");
  FUZZ_CHECK(!strpbrk(got, " \t\r\n"), "language \"%s\" is no word", got);
  if (table && strcmp(got, "en_US") != 0) {
    FUZZ_CHECK(strstr(table, got), "language %s is not in the table", got);
  }
  // The same lookup gives the same language.
  char* again = NlsTableLanguage(table, lang);
  FUZZ_CHECK(strcmp(got, again) == 0, "%s, then %s", got, again);
  PutMem(got);
  PutMem(again);
}

void CheckMessage(DbT* db, const Message& m) {
  static char out[kNlsStrBufSize];
  // By key text: the record's text, cut to the buffer.
  memset(out, 'z', sizeof out);
  char* got = NlsFetchString(db, out, kNlsByKey, m.key.c_str());
  FUZZ_CHECK(got == out, "found message %s not in out", m.key.c_str());
  FUZZ_CHECK(memchr(out, 0, sizeof out), "out not terminated");
  FUZZ_CHECK(IsCutOf(out, m.text), "text of %s differs", m.key.c_str());

  int set, number, end = 0;
  if (sscanf(m.key.c_str(), "%d_%d%n", &set, &number, &end) != 2 || size_t(end) != m.key.size() ||
      !set || !number) {
    return;
  }
  char canon[32];
  snprintf(canon, sizeof canon, "%d_%d", set, number);
  if (m.key != canon) return;  // "007_1" is no message key
  // By set and number, twice (the second from the kept texts), and whole.
  for (int i = 0; i < 2; i++) {
    char* saved = NlsFetchString(db, nullptr, kNlsBySetNumber, set, number);
    FUZZ_CHECK(IsCutOf(saved, m.text), "saved text of %s differs (fetch %d)", canon, i + 1);
    PutMem(saved);
  }
  char* whole = NlsFetchString(db, nullptr, kNlsBySetNumberV, set, number);
  FUZZ_CHECK(m.text == whole, "whole text of %s differs", canon);
  PutMem(whole);

  // Printed as a format: the declared conversions and the same output both ways, or "Error".
  std::string classes = Classes(set, number), viaSn, viaF;
  if (!PrintBoth(db, set, number, classes, &viaSn, &viaF)) return;
  if (viaF.size() < 8191) {  // what Nlssnprintf's buffer holds whole
    FUZZ_CHECK(viaSn == viaF, "%s prints \"%s\" and formats \"%s\"", canon, viaF.c_str(),
               viaSn.c_str());
  }
  if (viaF != "Error") {
    char* format = NlsFetchString(db, nullptr, kNlsBySetNumber, set, number);
    int n = CountConversions(format);
    FUZZ_CHECK(n == int(classes.size()), "%s printed with %d conversions for %zu arguments",
               canon, n, classes.size());
    PutMem(format);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static std::string tool = FuzzScratch();
  pToolPath = &tool[0];
  mkdir((tool + "/db").c_str(), 0777);
  mkdir((tool + "/db/fz_FZ").c_str(), 0777);
  pNLSLang = SaveStr_("fz_FZ");  // catalogues open from db/fz_FZ
  FuzzInit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* begin = reinterpret_cast<const char*>(data);
  const char* end = begin + size;
  const char* nl = static_cast<const char*>(memchr(begin, '\n', size));
  std::string lang(begin, nl ? nl : end);
  lang = lang.c_str();  // up to a NUL
  const char* tableStart = nl ? nl + 1 : end;
  const char* nul = static_cast<const char*>(memchr(tableStart, 0, size_t(end - tableStart)));
  std::string source(tableStart, nul ? nul : end);
  const char* image = nul ? nul + 1 : end;

  // The language table.
  FuzzWriteFile("trans.conf", reinterpret_cast<const uint8_t*>(source.data()), source.size());
  char* table = ParseTransFile("trans.conf");
  FUZZ_CHECK(!table == source.empty(), "table %s for a file of %zu bytes",
             table ? "given" : "missing", source.size());
  if (table) CheckTable(table, source);
  CheckLanguage(table, lang.c_str());
  CheckLanguage(nullptr, lang.c_str());
  if (table) PutMem(table);

  // The catalogue.
  FuzzWriteFile("db/fz_FZ/Fuzz.kdb", reinterpret_cast<const uint8_t*>(image), size_t(end - image));
  DbT* db = NlsOpenDB("Fuzz", 4);
  FUZZ_CHECK(db, "no handle for another language's catalogue");
  std::vector<Message> messages = Messages(db);
  for (const Message& m : messages) CheckMessage(db, m);

  // A missing message: its key, also in out.
  static char out[kNlsStrBufSize];
  char* missing = NlsFetchString(db, out, kNlsBySetNumber, 77777, 1);
  if (missing != out) {
    FUZZ_CHECK(strcmp(missing, "77777_1") == 0 && strcmp(out, "77777_1") == 0, "missing key");
  }

  // Menu texts, a template and a help redirect from this catalogue.
  pDrvCoreDB = pPrtHelpDB = db;
  TextMenuItem items[3] = {};
  NlsTtyMenuItemCvt(items, 1003, 3);
  NlsTtyMenuItemPromptCvt(items, 1006, 3);
  for (TextMenuItem& it : items) {
    FUZZ_CHECK(strlen(it.szText) <= size_t(kNlsMenuTextSize - 1), "menu text too long");
    FUZZ_CHECK(strlen(it.szPrompt) <= size_t(kNlsMenuTextSize - 1), "prompt too long");
    PutMem(it.szText);
    PutMem(it.szPrompt);
  }
  char gui[300];
  std::string tmpl = source.substr(0, 200);
  NlsGuiStrCvt(tmpl.c_str(), 25, gui, sizeof gui);
  FUZZ_CHECK(memchr(gui, 0, sizeof gui), "template result not terminated");
  for (size_t i = 0; i < messages.size() && i < 4; i++) {
    if (messages[i].key.find('.') != std::string::npos) continue;  // would end the name
    std::string name = "page$$" + messages[i].key + ".Redirect";
    if (name.size() >= size_t(kNlsStrBufSize)) continue;
    snprintf(out, sizeof out, "%s", name.c_str());
    char* key = CheckForRedirect(out);
    FUZZ_CHECK(key == TmpKey && strlen(TmpKey) < size_t(kNlsTmpKeySize), "redirect key");
    FUZZ_CHECK(memchr(out, 0, sizeof out), "redirect text not terminated");
  }
  pDrvCoreDB = pPrtHelpDB = nullptr;
  DbTClose(db);
  return 0;
}
