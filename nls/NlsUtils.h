// NlsUtils.h - the message catalogue: numbered messages in per-language typed-record databases
// (<tool>/db/<language>/<name>.kdb, one record per message under the key "<set>_<number>", its
// text stored with the terminating zero byte), language resolution from "trans.conf", printing
// with fetched formats, menu texts and help redirect names.
// Results that point into the fixed buffers below are valid until the next call of the same
// operation. A missing message comes back as its key ("25_1001"); printing one gives "Error".
// A fetched text is used as a printf format only when its conversions are those its caller
// passes (NlsCheckArgs); any other text prints "Error" too. Texts fetched by set and number
// are kept per handle (a repeated fetch does no lookup); the catalogue clears the handle's
// flChanged when it starts over after a load or change. One thread, nothing re-entrant.
// The menu records filled here (TextMenu, TextMenuItem) live in tty/TextMenu.h.
#ifndef KORVI_NLS_NLSUTILS_H
#define KORVI_NLS_NLSUTILS_H

#include <cstddef>
#include <cstdio>

#include "db/Dbm.h"
#include "tty/TextMenu.h"

constexpr int kNlsStrBufSize = 2048;     // StrBuf: record data of every fetch (texts up to 2047)
constexpr int kNlsStrValSize = 32;       // StrVal: NlsCalcStrVal's result (16 characters)
constexpr int kNlsTmpKeySize = 64;       // TmpKey: CheckForRedirect's key (up to 63 characters)
constexpr int kNlsMenuTextSize = 128;    // menu and item texts (up to 127 characters)
constexpr int kNlsGuiWorkSize = 1024;    // NlsGuiStrCvt's work buffer (messages up to 1023)
constexpr int kNlsTransSize = 8192;      // ParseTransFile's normalised table (up to 8191)
constexpr int kNlsKeySize = 32;          // a composed message key "%d_%d"
constexpr int kNlsArgsSize = 64;         // a conversion list from NlsFormatArgs (up to 63)
constexpr int kNlsSprintfMax = 65535;    // Nlssprintf writes at most 65534 characters

// Fetch modes of NlsFetchString.
enum : int {
  kNlsBySetNumber = 0,   // set, number: record of at most 2048 bytes
  kNlsByKey = 1,         // key text: record of at most 2048 bytes
  kNlsByKey2 = 2,        // the same as 1
  kNlsBySetNumberV = 3,  // set, number: record of any length; out is not used
};

// ===========================================================================
// Globals
// ===========================================================================

extern DbT* pDrvCoreDB;   // the toolkit's messages (sets 20, 25, 30 and the language table)
extern DbT* pPrtHelpDB;   // the help catalogue, source of redirect names
extern DbT* pPrtCoreDB;   // a further catalogue slot for the host program
extern char* pNLSLang;    // the resolved language (saved string), null until resolved

extern char StrBuf[kNlsStrBufSize];   // receives the record data of every fetch
extern char StrVal[kNlsStrValSize];   // result of NlsCalcStrVal
extern char TmpKey[kNlsTmpKeySize];   // result of CheckForRedirect
extern char* pErrBuf;                 // saved "Error", made on the first fetch, never released
// The language table, read once, is private to the catalogue: the installer's own language
// mapping already holds the name pTransBuf in this process.

// ===========================================================================
// Language resolution and catalogues
// ===========================================================================

// The language for LANG (codeset suffix dropped) by the table "trans.conf" of the tool
// directory, else message (999, 1) of en_US/CoreString, else "en_US". Resolved once and kept
// in pNLSLang; never null.
char* GetDesiredNLSLang();
// The language that a language table (as ParseTransFile gives it) names for the LANG value
// lang, its ".codeset" suffix dropped: the entry that lists it, else the table's "Default"
// language, else "en_US" (also for a null table). An unset or empty lang is looked up as
// "___LANG_NOT_SET___". A saved string, never null.
char* NlsTableLanguage(const char* table, const char* lang);
// Reads the language table file name of the tool directory and normalises it (words joined by
// blanks, "= " for "=", " \n" where a line feed ends a word or after the word "Default"). A
// saved string; null for a missing or empty file. A table above 8191 characters is cut after
// its last whole word that fits.
char* ParseTransFile(const char* name);
// Opens <tool>/db/<language>/<name>.kdb with the DbTOpen flags (2 no refresh, 4 no archive).
// Null when an en_US catalogue has no readable file; for another language the handle is given
// also when its file is missing (it finds nothing until the file appears).
DbT* NlsOpenDB(const char* name, int flags);

// ===========================================================================
// Fetching and printing
// ===========================================================================

// Fetches one message; see the kNls* modes for the further arguments. Found: with out (which
// must hold kNlsStrBufSize bytes) the text is copied there and out returned, else a saved
// copy (mode 3: a saved copy, or the pool block of a longer text; the caller owns either).
// Missing: the key text (in a buffer valid until the next fetch), also copied into out when
// given. A null db with a key text, or a zero set or number, gives pErrBuf ("Error").
// Texts are always zero-terminated; a record above 2048 bytes is cut to 2047 in modes 0 to 2.
char* NlsFetchString(DbT* db, char* out, int mode, ...);
// Prints message (set, number) as a printf format with the arguments. A missing message, or
// one whose conversions are not those declared for it (NlsCheckArgs), prints "Error".
// Returns the number of characters printed, or a negative number on an output error.
int Nlsfprintf(FILE* stream, DbT* db, int set, int number, ...);
// Formats message (set, number) into buffer as Nlsfprintf prints it ("Error" likewise).
// buffer must hold the result, the message (at most 2047 characters) with its arguments; a
// result is never longer than kNlsSprintfMax - 1. Returns the length written.
int Nlssprintf(char* buffer, DbT* db, int set, int number, ...);
// Nlssprintf into a buffer of size bytes: the result is cut to size - 1 bytes at a character
// boundary and always terminated. Returns the length written.
int Nlssnprintf(char* buffer, int size, DbT* db, int set, int number, ...);

// Length of text cut to at most max bytes without splitting a UTF-8 character.
size_t NlsCutText(const char* text, size_t max);

// ===========================================================================
// Format checks (a catalogue is data and may be wrong or hostile)
// ===========================================================================

// Writes the argument list that the printf conversions of text consume into args (size bytes),
// one class letter per argument: i int, l long, q long long, z size_t, j intmax_t, t ptrdiff_t,
// d double, D long double, s text, w wide text, W wide character (%lc, %C; %c is an i),
// p pointer ("*" widths count as i). Returns the
// number of arguments, or -1 for a text that is no safe format: %n, a positional "%1$",
// an unknown or incomplete conversion, or more arguments than args holds.
int NlsFormatArgs(const char* text, char* args, int size);
// The argument list that callers pass to message (set, number): the declared one, "" for a
// message nobody declared (it may then hold no conversions but "%%").
const char* NlsExpectedArgs(int set, int number);
// Declares (or replaces) the argument list a host program passes to message (set, number),
// written as a format ("%s %d"). 1, or 0 for an unsafe format or a full table.
int NlsDeclareArgs(int set, int number, const char* format);
// 1 when text may be printed with the arguments declared for message (set, number), else 0.
int NlsCheckArgs(const char* text, int set, int number);

// ===========================================================================
// Menu texts (message set 25 of pDrvCoreDB; texts up to 127 characters)
// ===========================================================================

// Stores a saved copy of message (25, number) in *text and returns it.
char* NlsTtyMenuCvt(char** text, int number);
// Fill count consecutive items from messages (25, first), (25, first + 1), ...: szText,
// szChoices (the state list) and szPrompt respectively, each a saved copy. Return count.
int NlsTtyMenuItemCvt(TextMenuItem* items, int first, int count);
int NlsTtyMenuItemStateCvt(TextMenuItem* items, int first, int count);
int NlsTtyMenuItemPromptCvt(TextMenuItem* items, int first, int count);

// ===========================================================================
// Templates, check values and help redirects
// ===========================================================================

// Copies tmpl into out (size bytes, cleared first) with the k-th "%s" replaced by message
// (set, k) of pDrvCoreDB, k from 1. The result is cut to size - 1 bytes. Returns out.
char* NlsGuiStrCvt(const char* tmpl, int set, char* out, int size);
// The 16-character check value "%08X%08X" of W (sum of position^2 x byte) and S (sum of bytes,
// signed), positions from 1, in StrVal: "abc" gives 0000056400000126, "" sixteen zeros.
char* NlsCalcStrVal(const char* text);
// For name "page$$intro.redirect" (".redirect" in any case): cuts name at that "." and returns
// the key after "$$" (pointing into name). Null, name unchanged, for any other name.
char* FindRedirect(char* name);
// Resolves a redirect name: the key goes into TmpKey (cut to 63 characters), and name, which
// must hold kNlsStrBufSize bytes, receives the record of that key in pPrtHelpDB (or the key
// when there is none). Returns TmpKey, or null (name unchanged) when name is no redirect.
char* CheckForRedirect(char* name);

#endif  // KORVI_NLS_NLSUTILS_H
