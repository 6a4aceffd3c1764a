// SysCmd.h - the system command layer: the table of known tools (ComList), their resolution on
// the search path, their execution through sh -c and the capture of their output; the process,
// disk and directory queries built on them; and ShellSafe, the check every outside text passes
// before it is formatted into a command line.
// Built with base/ as one library (kbase). Layers: installer -> syscmd -> base, db -> base;
// running a tool uses the pool and the run log of base/, and base/ calls back into this layer
// only where one of its functions runs a tool: creating, deleting and renaming files, the
// user and spooler probes, and the editors' final rename. Results: 0/null for failure or absence, 1 for success.
// SysCmd ends the program on an unresolved tool (exit 0) and on a failed mode-2 command (exit 1).
#ifndef KORVI_SYSCMD_SYSCMD_H
#define KORVI_SYSCMD_SYSCMD_H

#include <dirent.h>

#include "base/utils.h"

// ===========================================================================
// Command table
// ===========================================================================

// One row of ComList. pDir is null until resolved; it points into the split SearchPaths or PATH
// text when found at start-up (not owned), or is a saved string when found by the lazy lookup.
struct ComRow {
  const char* pName;  // tool file name; "" for rows 0 and 1, null for the terminating row
  const char* pArgs;  // default arguments, placed right after the tool's path ("" when none)
  const char* pDir;   // directory the tool was found in, or null
  int Settle;         // 0 none; n > 0 sleep n s after the command; -1 wait for the process
};

// Row indexes: part of the interface, callers name rows by these constants.
enum : int {
  kCmdNoneQuiet = 0,  // no tool: the caller's text alone, run quietly
  kCmdNone = 1,       // no tool: the caller's text alone
  kCmdCancel = 2,
  kCmdCat = 3,
  kCmdChgrp = 4,
  kCmdChmod = 5,
  kCmdChown = 6,
  kCmdClear = 7,
  kCmdCompress = 8,
  kCmdCp = 9,      // cp -p
  kCmdCpR = 10,    // cp -pr
  kCmdCupsd = 11,
  kCmdId = 12,
  kCmdEcho = 13,
  kCmdEjectF = 14,  // eject -f
  kCmdEjectQ = 15,  // eject -q
  kCmdFile = 16,
  kCmdLn = 17,
  kCmdLp = 18,
  kCmdLpc = 19,
  kCmdLpr = 20,
  kCmdLprm = 21,
  kCmdLpstat = 22,
  kCmdLs = 23,
  kCmdKill = 24,    // kill -KILL
  kCmdMv = 25,      // mv -f
  kCmdMkdir = 26,   // mkdir -p
  kCmdMore = 27,
  kCmdPing = 28,
  kCmdRm = 29,      // rm -f
  kCmdRmRf = 30,    // rm -rf
  kCmdSh = 31,      // the shell every command runs through
  kCmdSleep = 32,
  kCmdTarC = 33,    // tar cvfp
  kCmdTarX = 34,    // tar xvfp
  kCmdTouch = 35,
  kCmdUncompress = 36,
  kCmdWhoami = 37,
  kCmdZcat = 38,
  kCmdUname = 39,
  kCmdSed = 40,
  kCmdDu = 41,      // du -s
  kCmdCheckpc = 42,
  kCmdLpd = 43,
  kCmdPkgadd = 44,
  kCmdPkginfo = 45,
  kCmdPkgrm = 46,
  kCmdAccept = 47,
  kCmdDisable = 48,
  kCmdEnable = 49,
  kCmdLpadmin = 50,
  kCmdLpfilter = 51,
  kCmdLpsched = 52,
  kCmdLpshut = 53,
  kCmdLpsystem = 54,
  kCmdPs = 55,      // ps -e
  kCmdBar = 56,
  kCmdDf = 57,      // df -b
  kCmdLpq = 58,     // lpq -P
  kCmdYpcat = 59,
  kCmdReject = 60,
  kCmdPmadm = 61,
  kCmdSacadm = 62,
  kCmdVolcheck = 63,
  kCmdCapture = 64,
  kCmdLpset = 65,
  kCmdInstnetpr = 66,
  kCmdPiomkpq = 67,
  kCmdPiomiscExt = 68,
  kCmdPiomiscBase = 69,
  kCmdLsallq = 70,
  kCmdMkque = 71,
  kCmdMkquedev = 72,
  kCmdRmque = 73,
  kCmdRmquedev = 74,
  kCmdPiochdfq = 75,
  kCmdEnq = 76,
  kCmdLsquedev = 77,
  kCmdLsque = 78,
  kCmdStartsrc = 79,
  kCmdStopsrc = 80,
  kCmdLssrc = 81,
  kComListRows = 82,  // rows 0..81; ComList[82] is the terminating row (null name)
};

// Modes of SysCmd and SysCmdP.
enum : int {
  kSysCmdQuiet = 0,  // output discarded, never logged, failure ignored
  kSysCmdLog = 1,    // output appended to the run log, line logged, failure logged as a warning
  kSysCmdFatal = 2,  // as 1; failure logged and printed as "ERROR", then exit code 1
};

// ===========================================================================
// Globals
// ===========================================================================

extern ComRow ComList[kComListRows + 1];  // 82 rows and the terminating row
// Directories searched first, colon-separated. Writable: InitSysCmdList splits the text in place,
// so point it at a fresh writable text before each start-up (tests point it at fixtures).
extern char* SearchPaths;
extern char* FullSearchPath;  // saved "%s:%s" of SearchPaths and PATH; null until built
extern int flInitSysCmd;      // 1 until start-up: unresolved rows are looked up on first use
extern int flSysCmdLog;       // command logging on (set by start-up when flUseLog is set)

// ===========================================================================
// Resolution
// ===========================================================================

// Resolution, lazy or at start-up, never touches the shared tokenizer (its scan position,
// GetTokenBuf, chTokenDel), so neither does SysCmd nor any query: a caller may run commands
// in the middle of a GetToken scan.
// Start-up: resolves every row along SearchPaths then PATH (each directory listed once), sets
// SHELL to the resolved sh, clears flInitSysCmd and, with flUseLog, logs "initializing system".
void InitSysCmdList(void);
// Resolves every unresolved row whose tool is an entry of dir (dir itself is stored, not copied).
// 1 when rows remain unresolved afterwards or dir cannot be read, else 0.
int FillCmdPaths(const char* dir);
// Resolves one row along FullSearchPath (built on first need) with FindFile; 1 when found.
int FillCmdPath(int index);
// 1 when the row is resolved (index 2..81 with a directory); resolves lazily before start-up.
int TestCmd(int index);
// Forgets every resolution and FullSearchPath and sets flInitSysCmd again, as before start-up.
// For tests and tools that resolve the table more than once; the installer never calls it.
void ResetSysCmdList(void);

// ===========================================================================
// Execution and capture
// ===========================================================================

// Runs row |index| through "<sh> -c \"<dir>/<tool> <args> <text><redirections>\"" (rows 0 and 1:
// the text alone). A negative index or 0 is quiet: no dot, no log line, no redirection in modes
// 1 and 2. Failure is read from the exit status; mode 1 logs "WARNING_MSG: <reason>", mode 2
// logs and prints "ERROR: <reason>" and exits 1; the reason is "exit status N" or "killed by
// signal N". Output goes to the run log only when it is a safe regular file, else /dev/null.
// A line longer than 4095 characters is never run: it fails with "command line too long".
// Unresolved tool: "ERROR: unable to locate system command '%s'\n" on stderr, exit 0.
// Returns 0 on success, else the non-zero status of system() (-1 for a line too long).
int SysCmd(int index, int mode, const char* fmt, ...) KORVI_PRINTF(3, 4);
// Saved "%s/%s %s" of directory, tool and default arguments; null when unresolved.
char* GetCmd(int index);
// Saved "%s/%s" of directory and tool; null for an index above 81 or an unresolved row.
char* GetCmdNoFlags(int index);

// One captured output line; the text sits in the same pool allocation right after the node.
struct CmdResponse {
  CmdResponse* pNext;  // next line or null
  char* pText;         // the line as read, with its newline when it had one
};

// Runs row index ("<dir>/<tool> <args> <text>", no sh row, no redirection) with popen and
// returns its standard-output lines in order, only those containing pattern when pattern is
// non-empty; null when none, when the command cannot be started or its line would exceed
// 4095 characters. Standard error is not read. Nothing is logged. Unresolved tool: exit 0.
CmdResponse* GetCmdResponse(int index, const char* pattern, const char* fmt, ...)
    KORVI_PRINTF(3, 4);
// The same, as one pool text of the kept lines, each ending in a newline; null when none.
char* GetCmdResponseStr(int index, const char* pattern, const char* fmt, ...) KORVI_PRINTF(3, 4);
// Returns every node of a response list to the pool.
void FreeResponseList(CmdResponse* list);
// Runs a free-form command line (at most 511 characters) with system(); modes 1 and 2 echo it on
// standard output and report a failure with perror ("ERROR" prefix), mode 2 then exits 1.
// Always runs "/usr/bin/sleep 1" afterwards and returns that run's status.
int SysCmdP(int mode, const char* fmt, ...) KORVI_PRINTF(2, 3);

// ===========================================================================
// Checked shell text
// ===========================================================================

// Every text from outside the program (a path from the command line, a package map, a package
// list, a word of the file list) passes ShellSafe before it is formatted into a command line.
// Safe: non-null, made only of letters, digits and . _ / - + , : @ % =, and not starting with
// "-" (it would be read as an option). The empty text is safe.
// report 0: silent, returns 0 when refused. report 1: prints "ERROR: <reason>\n" on standard
// error (and logs it), returns 0. report 2: the same, then ends the program with exit code 1.
// Returns 1 when the text is safe; nothing is run either way.
int ShellSafe(const char* text, int report);

// ===========================================================================
// System queries
// ===========================================================================

// Blank-framed ids (" 12 345 ") of the processes whose ps -e command column equals name; null
// when none (and for null or ""). Uses Line as scratch; the shared tokenizer is not touched.
char* GetSysPsIdList(const char* name);
// names: comma-separated command names, every one looked for however long the list. Saved
// text of lines "%s (%s)\n" (name and id list) for each name that runs, cut at 1023
// characters; null when none does.
char* CheckProcTableForExecs(const char* names);
// Sends signal 9 to every process of the name (never to this process itself), stopping at the
// first one it may not kill; then sleeps one second. Returns 0.
int KillProcessByName(const char* name);

// Filled by GetDiskSpace from df -b.
struct DiskSpace {
  char DfLine[512];  // the data line as printed (cut to 511 characters)
  double Avail;      // value of the column headed "avail" (kilobytes on Solaris), 0 unknown
};

// Runs df -b on path and fills ds; 1 when the "avail" value was found, else 0 (also for a path
// ShellSafe refuses: nothing is run then).
int GetDiskSpace(const char* path, DiskSpace* ds);
// First number du -s prints for path (512-byte blocks on Solaris); 0 when none or unsafe path.
double DUPath(const char* path);
// 1 when at least needed (df's unit) is free for writing name into dir: an existing name's du
// size counts as free; a directory that does not exist yet is measured at its nearest existing
// ancestor. 0 when not enough or nothing can be measured.
int AvailSpace(const char* dir, const char* name, double needed);

// Name of the next entry of an open directory, or null at the end.
char* ReadDir(DIR* handle);
// Pool text " . .. a b " of every entry in directory order (caller owns it); null when dir
// cannot be opened.
char* GetDirFileList(const char* dir);
// The same form holding only entries whose text after their last "." equals ext, or with ext
// null every entry but "." and ".."; null when dir cannot be opened or nothing qualifies.
char* SearchDirFileList(const char* dir, const char* ext);
// Placeholder of the interface: does nothing, returns 0.
int SysGetSubnetMask(void);

#endif  // KORVI_SYSCMD_SYSCMD_H
