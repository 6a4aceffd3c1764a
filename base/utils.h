// utils.h - the foundation's general utilities, one header for four concerns:
//   tokenizer and strings (utils_token.cpp, utils_string.cpp), file access (utils_file.cpp),
//   errors, run log and environment (utils_error.cpp), in-place text-file editing (utils_edit.cpp).
// Results are integers or pointers: 0 or null for failure or absence, 1 for success.
// Functions that return static or process-wide buffers say so; such a result is valid
// until the next call that uses the same buffer. Built with syscmd/ as one library.
#ifndef KORVI_BASE_UTILS_H
#define KORVI_BASE_UTILS_H

#include <cstddef>
#include <cstdio>

#include "base/MemMgr.h"

#define KORVI_PRINTF(f, a) __attribute__((format(printf, f, a)))

// ===========================================================================
// Tokenizer and string utilities
// ===========================================================================
// One shared tokenizer: a process-wide scan position that successive calls advance,
// GetTokenBuf receiving each token, chTokenDel the delimiter that ended the last one.
// Word lists are framed by their separator: ",y,yes,n,no," or ",install,-v".
//
// Fixed buffers are never overrun: a result longer than its buffer is CUT to the
// buffer's size less one (127 characters for a token and the 128-character path
// buffers, 255 for StripFn). A cut token still consumes its whole input, so the
// tokens after it are unaffected. Character classes are those of the "C" locale.

constexpr int kTokenBufSize = 128;      // GetTokenBuf and GetTokenD's out: at most 127 characters
constexpr int kPathBufSize = 128;       // StripExt, StripPath, StripPathExt, StripPathName
constexpr int kPathFnBufSize = 256;     // StripFn

// Passed as GetToken's input: continue the current scan in newline mode.
inline const char* const kTokenNewline = reinterpret_cast<const char*>(-1);

extern char* szTokenIn;                 // scan position after the last token; save it for nested scans
extern char GetTokenBuf[kTokenBufSize]; // the last token GetToken copied out
extern char chTokenDel;                 // last delimiter consumed by the last call, 0 when none

// Next token of the scan, copied (escapes \n \r \t converted, \x gives x) into GetTokenBuf;
// null when no token remains. input non-null starts a new scan of it (not changed); null
// continues; kTokenNewline continues in newline mode: a token ended by a newline gives null
// (the token is still in GetTokenBuf, chTokenDel is '\n', szTokenIn is not moved).
// Runs of delimiters never give empty tokens.
char* GetToken(const char* input, const char* delims);
// The same scan in place: NUL over the ending delimiter, returns a pointer into the
// (writable) input, escapes stepped over unconverted; kTokenNewline acts as null.
char* GetTokenParse(char* input, const char* delims);
// GetToken with the scan position in *cursor (read when input is null or kTokenNewline,
// written at the end) and the token in out (kTokenBufSize characters). Sets chTokenDel.
char* GetTokenD(const char* input, const char* delims, const char** cursor, char* out);
// The n-th token (1-based; n <= 1 gives the first) of input; null when fewer.
// Leaves the scan after that token.
char* GetTokenN(const char* input, const char* delims, int n);
// Number of tokens in input (0 for null). The ongoing scan, szTokenIn and GetTokenBuf
// are restored afterwards; chTokenDel is not.
int GetTokenCount(const char* input, const char* delims);
// Sets the scan position and szTokenIn to p (a nested scan's restore); returns p.
char* SetTokenBuf(const char* p);
// The current scan position.
char* GetTokenBufInput();
// Splits text in place at runs of delims into at most max tokens stored in array (first
// cleared: max entries set to null); no escapes. Returns the number stored.
int ParseStr(char* text, const char* delims, char** array, int max);

// 1-based position of word in a framed list (first character = separator, final separator
// optional; an empty word finds an empty element); 0 when absent or either is null.
int FindToken(const char* word, const char* list);
// FindToken ignoring case.
int FindTokenC(const char* word, const char* list);
// 1-based position of word among the pieces of list split at delim, the first piece starting
// at list's first character; exact comparison; 0 when absent or either is null.
int FindTokenWithDelim(const char* list, const char* word, char delim);

// Static buffers: each result is valid until the next call of the same function.
// Last element of a path (/a/b/c and /a/b/ give c and b); "/" and "" give themselves, null "".
char* StripPath(const char* path);
// Directory part: /a/b/c and /a/b/ give /a/b, /a gives "/", a name without "/", "" or null ".".
char* StripFn(const char* path);
// name up to the first "." that follows a character other than "." (file.tar.Z gives file).
char* StripExt(const char* name);
// Last element of path, cut like StripExt.
char* StripPathExt(const char* path);
// File name of path: the text after its last "/"; "" for null, ".", ".." and a path
// ending in "/" (or in "/." or "/.."); a text without "/" comes back whole.
char* StripPathName(const char* path);

// First character of text that is not a space; null stays null.
char* SkipSpace(const char* text);
// Removes every backslash of text in place; returns text.
char* StripAllBackslashes(char* text);
// Removes every non-printable character in place; keepNl non-zero keeps "\n" and "\r".
// Returns text (null for null).
char* StripNonPrint(char* text, int keepNl);
// Number of characters (0 for null).
int StrLen(const char* text);
// First unescaped c (a backslash skips itself and the next character); null when absent.
char* StrChr(const char* text, int c);
// n-th occurrence of c (1-based); null when fewer or text is null.
char* StrNChr(const char* text, int c, int n);
// First occurrence of pattern; null when absent, either is null or pattern is empty.
char* StrStr(const char* text, const char* pattern);
// StrStr ignoring case.
char* StrCaseStr(const char* text, const char* pattern);
// n-th (1-based) occurrence of pattern, occurrences may overlap; null when fewer.
char* StrNStr(const char* text, const char* pattern, int n);

// Sorts the words of a delim-separated list in place, ascending (stable for equal words);
// leading delims stay in front. Case-insensitive when ignoreCase. Returns list.
char* SortTokens(char* list, char delim, int ignoreCase);
// Copies len bytes, byte order reversed when reverse is non-zero; returns len.
int SetVarContent(void* dst, const void* src, int len, int reverse);
// The larger of a and b (a when a > b).
double MaxD(double a, double b);
// Converts a length between units 0 inches, 1 centimetres, 2 points; equal or unknown
// units give value unchanged.
float CvtFloatFormat(float value, int from, int to);
// Reads one line from standard input into buf, at most size - 1 characters, without its
// newline (a longer line is cut and its rest stays unread). Null at end of input when
// nothing was read (and for a null buf or size < 1).
char* Gets(char* buf, int size);


// ===========================================================================
// File access and queries
// ===========================================================================

// ===========================================================================
// Errors, run log and environment
// ===========================================================================

extern char* my_name;     // program base name; prefix of reports, name of the log file
extern int flUseLog;      // logging on
extern char* pLogPath;    // directory of the log file, "/tmp"
extern char* pToolPath;   // tool directory of the library subsystems (db/, trans.conf)

// Fatal: "\n<my_name>: <message> : <strerror(errno)>\n" on standard error, exit code 1.
[[noreturn]] void SysError(const char* fmt, ...) KORVI_PRINTF(1, 2);

// ===========================================================================
// In-place text-file editing
// ===========================================================================

#endif  // KORVI_BASE_UTILS_H
