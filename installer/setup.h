// setup.h - the installer's flow: its globals and fixed words, the setup messages and the
// agreement, the command line, the previous installation and the target, the free-space
// check, the running-process guard, the copy of the distribution and the clean-up.
// Results follow the installer's rule: 1 success or yes, 0 failure or no. Several steps
// end the program with exit(); each says so. All texts are saved strings of the pool,
// made once and kept for the life of the process. The package steps are in install.h.
#ifndef KORVI_INSTALLER_SETUP_H
#define KORVI_INSTALLER_SETUP_H

// ===========================================================================
// Fixed words
// ===========================================================================

inline constexpr const char kVendorWord[] = "Korvi";     // vendor word, directory names
inline constexpr const char kProductCode[] = "kvln";     // product code
inline constexpr const char kProductPrefix[] = "k";      // one-letter product prefix
inline constexpr const char kDefaultBase[] = "/opt";     // default base directory
inline constexpr const char kSetupVersion[] = "4.50.29"; // version of this installer
inline constexpr const char kArchiveName[] = "Solarisi386Kvln";  // archive <name>.tar.Z
inline constexpr const char kPackageName[] = "VLMRkvln";         // package instance
// The longest path the installer acts on (a work, application or distribution directory,
// the text of /opt/Korvi/kvln): the target system's limit less its NUL. Longer ones are
// refused before anything changes; every buffer a path passes through holds this much.
inline constexpr int kMaxPathLen = 1023;

// ===========================================================================
// Globals of the installer (defined in globals.cpp)
// ===========================================================================

extern char* pPathToSetup;        // distribution directory: the directory of argv[0]
extern char* pKorviInstallDir;    // work directory, default "/tmp/KorviInstall"
extern int flCreatedTmpDir;       // the work area named on the command line was made here
extern char* pCmdLineInstallDir;  // base directory named on the command line, or null
extern char* pCurrentInstallDir;  // base of the installation found under /opt, or null
extern char* pTargetInstallDir;   // base directory to install into
extern char* pAppDir;             // application directory <target>/Korvi/kvln
extern char* pKorviPkgName;       // "VLMRkvln", set by readyForInstallation
extern const char* pBinaryInstanceCheckList;  // the product's programs, comma-framed
// A file of the installation could not be copied or written (reported where it happened):
// the run goes on to its clean-up and then ends with status 1.
extern int flInstallFailed;

// ===========================================================================
// Data embedded at build time (installer/CMakeLists.txt: korvi_embed)
// ===========================================================================

// korvi_embed(<target> <NAME> <file>) defines NAME, the file's bytes followed by a NUL,
// and NAMELen, their count without the NUL. Declare them with this macro.
#define KORVI_EMBEDDED(NAME) \
  extern const char NAME[];  \
  extern const unsigned int NAME##Len

// ===========================================================================
// Setup messages and languages (nls.cpp)
// ===========================================================================

inline constexpr int kSetupMsgCount = 71;  // entries 0 to 70 in every table

// Indices of the setup messages the installer prints.
enum : int {
  kMsgCouldntOpen = 3,     // "ERROR: couldn't open %s"
  kMsgCantOpenDisks = 21,  // "can't open file, %sInstall/disks"
  kMsgNotRoot = 35,        // "%s is logged in\nYou must become root to run %s\n"
  kMsgNoWorkSpace = 49,    // work area too small (%s, %e)
  kMsgNoInstallSpace = 55, // install area too small (%s, %e)
  kMsgNoSharedSpace = 56,  // shared file system too small (%s, %s, %e)
  kMsgVersionFailed = 60,  // "failed ts get version"
  kMsgOldDaemon = 62,      // the older daemon's notice (%s four times)
  kMsgContinueYn = 63,     // "\nDo You want to continue with the installation? [yn] "
  kMsgMissingIsize = 65,   // size file missing
  kMsgProcsRunning = 66,   // 66 to 70: the process guard's report head, menu and prompt
  kMsgWouldYouLike = 67,
  kMsgWait30 = 68,
  kMsgQuit = 69,
  kMsgSelection = 70,
};

// The six setup message tables, filled from their data files on first use.
extern const char* NLS_ENGLISH[kSetupMsgCount];
extern const char* NLS_SPANISH[kSetupMsgCount];
extern const char* NLS_ITALIAN[kSetupMsgCount];
extern const char* NLS_FRENCH[kSetupMsgCount];
extern const char* NLS_GERMAN[kSetupMsgCount];
extern const char* NLS_PORTUGUESE[kSetupMsgCount];
extern const char** pCurLang;  // table chosen for the run; null until the first lookup

// The 21-line language mapping text of the agreement (UTF-8).
extern const char* pTransBuf;

// Setup message `index` (0 to 70) of the table LANG chooses; the table's own text.
// An index outside 0..70 gives the empty text.
const char* nlsSetupStrCvt(int index);

// Agreement language code ("en_US" when nothing matches), saved on the first call.
// Cuts the codeset suffix of LANG in the process environment.
const char* GetTargetNLSLang();

// Fills a translated table from its data file: each entry the file holds with the same
// printf conversions as the English entry, the English entry otherwise (and always for
// 15, 16 and 57, the same text in every language). A bad line is logged; entries from it on
// stay English.
void FillSetupTable(const char** table, const char* data);

// Forgets the table and the agreement language chosen, as before the first lookup (for
// tests; the installer chooses once per run).
void ResetSetupLanguage();

// Parses a message data file (numbered, quoted, C escapes) into table[0..70]; entries the
// file lacks stay as they were. 1 when the whole text parsed, 0 at the first bad line
// (its 1-based number in *badLine when badLine is not null).
int ParseSetupMessages(const char* data, const char** table, int* badLine);

// ===========================================================================
// Agreement (eula.cpp)
// ===========================================================================

// Shows the agreement in the language of GetTargetNLSLang and reads the answer.
// True exactly when the first character read is "y" or "Y".
bool UserAcceptedEULA();

// The agreement text for a language code; English for an unknown code or a language
// without a text of its own.
const char* GetEULAText(const char* code);

// ===========================================================================
// Command line, previous installation and target (target.cpp)
// ===========================================================================

// Reads the arguments into pKorviInstallDir, flCreatedTmpDir and pCmdLineInstallDir.
// "-v" prints "<my_name> 4.50.29" on standard error and exits 0; a work area that cannot
// be made (or is not safe for the shell, or too long): setup message 3, exit 2; an install
// directory that is not safe for the shell, cuts to nothing or is too long: error, exit 1.
// Returns the index after the last argument examined.
int parseCommandLineOptions(int argc, char** argv);

// Base directory of the installation reached through /opt/Korvi/kvln, a saved string;
// null when there is none. A dangling link there is removed. The link's text is read whole;
// a base whose application directory would be longer than kMaxPathLen ends the run (1).
char* locatePreviousInstallation();

// Cuts text in place at the first "kvln", then at the first "Korvi", then drops one
// trailing "/" (not from "/"). Null gives null.
char* StripToBaseName(char* text);

// 1 when both paths name the same existing directory (device and inode), else 0.
int SameDirectory(const char* a, const char* b);

// Moves the application directory from base prevBase to base target (pAppDir) and
// points /opt/Korvi/kvln at it. Does nothing when both name the same directory. The tree is
// copied to <target>/Korvi/.kvln.new and the copy checked; then it is renamed into place,
// the link is replaced in one step by a rename, and the old tree is removed last; the
// journal of the move (FinishInterruptedMove) covers all of it. When a
// step before the switch fails, the copy is removed, the installation stays where it was
// (linked as it was), an error line is printed on standard output and the run ends (1).
void RelocateInstallation(const char* prevBase, const char* target);

// Ends a move of the installation that a stopped run left part-way, from the journal it
// keeps in /opt/Korvi/.kvln.move: when /opt/Korvi/kvln already leads to the new place, the
// old tree is removed; else /opt/Korvi/kvln is made to lead to the old tree again and the
// copy is removed. Says which on standard error ("WARNING: ..."). A journal that does not
// hold two application directories is removed and nothing else done; /opt/Korvi/kvln that
// cannot be put back ends the run (1). Without a journal, nothing happens.
void FinishInterruptedMove();

// Ends the run (1) before anything changes when the work directory, the new application
// directory and the installation found through /opt/Korvi/kvln (compared at their real
// locations) lie inside one another; the same directory for old and new is no nesting. A
// work area this run made is removed again.
void RefuseNestedPlaces();

// Creates <target>/Korvi/kvln (and the /opt/Korvi/kvln link for a base other than /opt)
// for a fresh installation. Failures end the program (1). What it made is remembered for
// RemoveCreatedInstallationDirectories.
void createInstallationDirectories(const char* target);

// Removes what the last createInstallationDirectories made (the link, the directories that
// did not exist before), after a fresh installation failed.
void RemoveCreatedInstallationDirectories();

// ===========================================================================
// Free-space check (space.cpp)
// ===========================================================================

// Returns when the work area and the target have room; otherwise prints a setup message
// (65, 49, 55, 56, or the full-disk notice) on standard output and exits 0.
void FreeSpaceForInstall(const char* workDir, const char* targetDir, const char* vendor);

// ===========================================================================
// Running-process guard (procguard.cpp)
// ===========================================================================

// Waits while programs of the comma list run, with a menu to wait or quit.
// True when the user chose to quit (end of input counts as quit); false when none runs.
bool QuitForRunningProcesses(const char* list);

// ===========================================================================
// One installer at a time (lock.cpp)
// ===========================================================================

// Takes the lock of the installer runs (/tmp/KorviInstall.lock) and holds it until exit.
// Another run holding it, or a lock that cannot be had: error line, exit 1, nothing changed.
void LockOutOtherRuns();

// ===========================================================================
// Copy of the distribution and clean-up (site.cpp)
// ===========================================================================

// Makes the work directory anew (root-owned, not world-writable; otherwise message 3 and
// exit 2), copies every file of the distribution's file list into it, runs Install. 0.
int installFromSite(const char* workDir);

// Removes the work directory and runs the product's queue tool for upgrade and clean-up.
void KorviClean(const char* workDir);

#endif  // KORVI_INSTALLER_SETUP_H
