// utils.h - the foundation's general utilities, one header for four concerns:
//   tokenizer and strings (utils_token.cpp, utils_string.cpp), file access (utils_file.cpp),
//   errors, run log and environment (utils_error.cpp), in-place text-file editing (utils_edit.cpp).
// Results are integers or pointers: 0 or null for failure or absence, 1 for success.
// Functions that return static or process-wide buffers say so; such a result is valid
// until the next call that uses the same buffer. Built with syscmd/ as one library.
// Layers: installer -> syscmd -> base, db -> base. base calls into syscmd only where one of
// its functions runs a tool: creating, deleting and renaming files, the user and spooler
// probes, and the editors' final rename.
#ifndef KORVI_BASE_UTILS_H
#define KORVI_BASE_UTILS_H

#include <cstddef>
#include <cstdio>

#include "base/MemMgr.h"  // also defines KORVI_PRINTF

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


// Private tools of the library, shared by its modules so that each small job is done once.
// The letter c in lower case, by the "C" locale whatever locale the program runs in.
inline unsigned char LowerC(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}
// Copies n characters of src into dst (size characters), cut to size - 1; dst may be src.
// Returns dst.
char* CopyCut(char* dst, size_t size, const char* src, size_t n);
// The directory part of path into out (size characters), as StripFn gives it: everything
// before the last "/", "/" when that is the first character, "." without "/". Cut to fit;
// 0 when it was cut. out may be path.
int DirPart(const char* path, char* out, size_t size);

// ===========================================================================
// File access and queries
// ===========================================================================

// Process-wide buffers and input-file state; each is overwritten by the next call that fills it.
constexpr int kLineBufSize = 4096;     // LineBuf: current logical input line, or a small file whole
constexpr int kLineSize = 262143;      // Line: the filtering reader's line, general scratch
constexpr int kInputFileNameSize = 256;
constexpr int kSearchBufSize = 512;    // the line found by FileSearch
extern char LineBuf[kLineBufSize];
extern int LineLen;                    // length of the pieces before the last of a continued line
extern FILE* pIn;                      // input file of the line readers (and of OpenIOFiles)
extern char InputFileName[kInputFileNameSize];
extern int FileStatus;                 // 0 open; 1 closed or at end; 2 open failed
extern char Line[kLineSize];
extern char* pLine;                    // start of Line after GetLine
extern int InPos;                      // file offset at which GetLine's line began
extern int LineCnt;                    // physical lines consumed by the last GetLine
extern int flInputFilterState;         // GetLine removes comments while set (initially 1)
extern int SavedFileSize;              // size of the last file GetSavedFileContent looked at

// Existence and status. FindFile looks the entry up in its directory's listing (any kind of
// entry, a dangling link too; a name holding a blank is never found). Forms: (dir, name),
// (dir, "a/b") joined then split, (path, null or ""), (null, path). 1 found, else 0.
int FindFile(const char* dir, const char* name);
// The same question through stat: "dir/name", or the one given. 1 when the status can be read.
int FindFile_(const char* dir, const char* name);
// Deepest existing ancestor of path (path itself included) as a saved string; sets *exists
// to 1 when that is path itself, leaves it alone otherwise. Null for a null or empty path.
// A path longer than 4103 characters is cut at a "/" first (so the answer is an ancestor).
char* FindExistingPath(const char* path, int* exists);
long GetFileSize(const char* path);    // bytes, 0 when there is no status
long GetFileTime(const char* path);    // modification time (epoch seconds), 0 when none
int GetFileType(const char* path);     // lstat: 1 directory, 2 symbolic link, 3 other, 0 none

// Opening. report: 2 SysError "can't open file, %s" (exit 1); 1 "ERROR: can't open file, %s\n"
// on stderr; other values silent. OpenFile closes `file` first when not null. A file opened
// for writing in a world-writable directory (such as /tmp) must be a regular file of this user
// with a single name (or be created by the open): a link, a hard link or another user's file
// there counts as an open failure.
FILE* OpenFile(FILE* file, const char* path, const char* mode, int report);
FILE* OpenFileF(FILE* file, const char* mode, int report, const char* fmt, ...) KORVI_PRINTF(4, 5);
// open(2) with the flags (mode 0644 when creating); failure prints "ERROR: can't open file, %s"
// (no newline) on stdout and returns a negative value.
int OpenRawFile(const char* path, int flags);

// Input-file line reader, one input file at a time.
// 1 opened (FileStatus 0). Failure: ErrorMsg(report, 0, "can't open file, %s"), FileStatus 2,
// LineBuf emptied, LineLen 0, result 0 (report 2 thus exits with code 0).
int OpenInputFile(const char* path, int report);
int OpenInputFileF(int report, const char* fmt, ...) KORVI_PRINTF(2, 3);
void CloseInputFile();                 // closes it if open; FileStatus 1
// Next logical line into LineBuf (backslash-newline continues it, both kept; newline kept;
// pieces of 510, at most 4095 in all). 1, or 0 at the end (file closed, FileStatus 1).
int GetFileLine();
// First word (split at any char of delims) of the next line not starting with "#", moved to
// the start of LineBuf; lines without words are skipped. 1, or 0 at the end or null delims.
int GetFileTextLine(const char* delims);

// Filtering reader on pIn: next line into Line with // and /* */ comments and leading space
// removed, cut at the line end and at 512 characters. Returns the physical lines consumed
// (an empty line counts), 0 at the end of file.
int GetLine();
int GetLineN(int n);                   // GetLine n times; the last result
int GetLinePos(long offset);           // seek pIn to offset, then GetLine
// Seek `file` to offset and read one line of at most size - 1 characters; buf or null.
char* fgetsp(char* buf, int size, FILE* file, long offset);

// Whole files. GetFileContent: "path/name" (or path when name is null) into LineBuf, at most
// 4095 bytes; 1, or 0 when it cannot be opened. GetFileContentR: into buf (size + 1 bytes).
int GetFileContent(const char* path, const char* name);
int GetFileContentR(const char* path, const char* name, char* buf, int size);
// The whole file "dir/name" (or dir) in a new pool allocation of size + 1 bytes, owned by the
// caller; null when missing, empty or unreadable; a 1-byte file gives "" (2-byte allocation).
char* GetSavedFileContent(const char* dir, const char* name);
// First line containing pattern (any line for null) in a 512-character static buffer, or
// null; lines are read 510 characters at a time; report goes to OpenFile.
char* FileSearch(const char* path, const char* pattern, int report);

// Changing the file system, through the command table (mkdir -p, touch, chmod, chown, chgrp
// fatal on failure; rm -rf, mv -f logged as warnings). Texts from outside are checked by the
// shell-text helper (refused: "ERROR: ..." and exit).
// CreateFile: mkdir -p dir when missing; with name, touch dir/name; then chmod perm, chown
// owner, chgrp group (each when given) the target (dir itself for a null name). 1 on success.
int CreateFile(const char* dir, const char* name, const char* perm, const char* owner,
               const char* group);
// rm -rf "dir/name" (or name alone for a null dir) when the entry exists. 1 when something
// was removed, 0 when nothing was there or rm failed.
int DeleteFile(const char* dir, const char* name);
int DeleteFile_(const char* path, const char* name);  // the same; (path, null) split as FindFile
// mv -f dir/name dir/newname (quiet) when name exists in dir; a null dir moves name to
// newname. 1 when moved, else 0.
int RenameFile(const char* dir, const char* name, const char* newname);
// Opens path with mode, writes the formatted text, fchmods perm when not 0, closes; 1.
// Failure: "ERROR: couldn't open %s\n" on stderr, 0.
int CreateTextFile(const char* path, const char* mode, int perm, const char* fmt, ...)
    KORVI_PRINTF(4, 5);
// Replaces whatever stands at path (a planted link, a pipe, an old file; never a directory)
// with a new empty regular file created exclusively with permission perm (umask ignored).
// 1 on success, 0 when it cannot (the entry is then left as it was or absent).
int CreateFreshFile(const char* path, int perm);
// Opens path for appending (or truncating when truncate is set) without following a link;
// null when it is missing, a link, not a regular file, another user's or hard-linked.
FILE* OpenRegularFile(const char* path, int truncate);

// ===========================================================================
// Errors, run log and environment
// ===========================================================================

extern char* my_name;     // program base name; prefix of reports, name of the log file
extern int flUseLog;      // logging on
extern char* pLogPath;    // directory of the log file, initially "/tmp"
extern char* pToolPath;   // tool directory of the library subsystems (db/, trans.conf)

// The fixed English message texts, shared with the command layer and the pool.
inline constexpr char szNoMemory[] = "Unable to allocate memory";
inline constexpr char szCantOpenFile[] = "can't open file, %s";
inline constexpr char szErrCantOpenFileNl[] = "ERROR: can't open file, %s\n";
inline constexpr char szErrCantOpenFile[] = "ERROR: can't open file, %s";
inline constexpr char szErrCouldntOpen[] = "ERROR: couldn't open %s\n";
inline constexpr char szErrorFmt[] = "ERROR: %s\n";
inline constexpr char szWarningFmt[] = "WARNING: %s\n";
inline constexpr char szError[] = "ERROR";
inline constexpr char szWarningMsg[] = "WARNING_MSG";
inline constexpr char szErrNoSysCmd[] = "ERROR: unable to locate system command '%s'\n";

// Fatal: "\n<my_name>: <message> : <strerror(errno)>\n" on standard error, exit code 1.
[[noreturn]] void SysError(const char* fmt, ...) KORVI_PRINTF(1, 2);
// Formats into Line. Type 1: "WARNING: %s\n" on stderr, returns. Type 2: "ERROR: %s\n" on
// stderr, exit(status). Other types: silent. Returns the length formatted or written.
int ErrorMsg(int type, int status, const char* fmt, ...) KORVI_PRINTF(3, 4);
// "<my_name>: <message>\n" on stderr; the program goes on. Returns the length written.
int errormsg(const char* fmt, ...) KORVI_PRINTF(1, 2);
[[noreturn]] void exit_app(int status);

// Run log "<pLogPath>/<my_name>.log" ("/tmp" when pLogPath is null), opened and closed per
// message, no prefix or time stamp. Nothing while flUseLog is clear. The first message of the
// process replaces whatever stands at the path with a fresh regular file (permission 666) and
// truncates; later ones append and never follow a link. Unopenable: "ERROR: couldn't open %s\n".
void PutLogMsg(const char* fmt, ...) KORVI_PRINTF(1, 2);
// Makes sure the run log of this process exists as its own fresh regular file, as the first
// PutLogMsg would (without writing). Call before a command's output is appended to the log by
// the shell. 1 when the log is ready, 0 when logging is off or the file cannot be made.
int PrepareLogFile();
// The run log's path in a static buffer: "<pLogPath>/<my_name>.log".
const char* GetLogFileName();

char* GetEnv(const char* name);        // saved copy of the variable's value, null when unset
// Directory holding the program, from its invocation path (argv[0]), as a saved string, not
// normalised: /opt/kit/setup -> /opt/kit; ./setup -> <cwd>/.; ../kit/setup -> <cwd up>/kit;
// sub/setup -> <cwd>/sub. Null when the working directory cannot be read (or is too long).
char* GetToolPath(const char* invocation);
char* GetHostname();                   // saved, cut at the first newline/CR; null when unknown
// whoami's output (saved, cut at newline/CR); null when it cannot be started; without a
// resolvable whoami "root" for uid 0, else "User ID:  <uid>".
char* GetUserName();
int SniffLprng();                      // 1 when lpd -V 2>&1 prints a line containing "LPRng"
int SniffCUPS();                       // 1 when a process named cupsd runs

// ===========================================================================
// In-place text-file editing
// ===========================================================================

// Line editors that rewrite "name.ext" (name alone for an empty ext) through the temporary
// "name.extout" beside it, then "rm -f" the file and "mv" the copy into place through
// system(). Each returns the mv's status (0 on success). A file that cannot be opened ends
// the program (OpenFile report 2, exit 1); names over 127 characters or holding characters
// unsafe in a shell command are refused with "ERROR: ..." (exit 1) before anything is touched.
constexpr int kEditNameSize = 128;
extern char Fn[kEditNameSize];         // input file of OpenIOFiles
extern char FnOut[kEditNameSize];      // its output file: "<Fn>out"
extern FILE* pOut;                     // output stream of OpenIOFiles

// First occurrence of pattern in each line replaced by replacement.
int FileChange(const char* name, const char* ext, const char* pattern, const char* replacement);
// Every character of code `code` ("%i" text) replaced by the characters of the comma list
// `codes` (a 0 ends it; at most 127 characters); null codes deletes the character.
int FileChangeChar(const char* name, const char* ext, const char* code, const char* codes);
// Lines containing pattern: the first count stay; later ones lose the first occurrence.
int FileDel(const char* name, const char* ext, int count, const char* pattern);
// Lines containing pattern: the first count stay; later ones are deleted.
int FileDelLine(const char* name, const char* ext, int count, const char* pattern);
// As FileDelLine; each deleted line opens a pair that the next line holding closer (and not
// pattern) closes, that line being deleted too.
int FileDelLinePair(const char* name, const char* ext, int count, const char* pattern,
                    const char* closer);
// selector "b" keep from the match on; "a" keep up to the match, add a newline; "l" delete
// matching lines; "c" delete every char of code pattern ("%i"); "" remove the first
// occurrence. Unknown selector: 1, file unchanged, temporary file removed.
int FileDelFormat(const char* name, const char* ext, const char* selector, const char* pattern);
// A prefix from the numbering template ("%s<start>" sets the counter, "%#<m>" is replaced by
// counter - m as "%05i", no prefix while counter < m) before every line.
int FileInsert(const char* name, const char* ext, const char* tmpl);
// As FileInsert, only before lines containing pattern (only they count).
int FileSearchInsert(const char* name, const char* ext, const char* tmpl, const char* pattern);

// Opens Fn ("name.ext") as pIn and FnOut ("<Fn>out") as pOut (report 2); returns pOut.
FILE* OpenIOFiles(const char* name, const char* ext);
// Closes pIn and pOut, runs "rm -f <Fn>" and "mv <FnOut> <Fn>" (built in Line); mv's status.
int ReplaceInputFile();
// Upper camel case name from the words of text in a static 128-character buffer:
// "my printer.name" -> "MyPrinterName", "x-2y" -> "X2y".
char* GenName(const char* text);

#endif  // KORVI_BASE_UTILS_H
