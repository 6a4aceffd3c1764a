// install.h - the installer's package steps: the distribution's file list, the archive,
// the new installation through pkgadd or the upgrade file by file, the print-subsystem
// flag file and queue scripts written from the embedded templates, and the package list.
// Results follow the installer's rule: 1 success or yes, 0 failure or no. Functions that
// end the program say so. Paths of the package map and package list are checked before
// the step that uses them changes anything; a path unsafe for the shell ends the run (1).
#ifndef KORVI_INSTALLER_INSTALL_H
#define KORVI_INSTALLER_INSTALL_H

#include <cstdio>

#include "installer/setup.h"

// ===========================================================================
// Install: the package steps in order (package.cpp)
// ===========================================================================

// Runs the package steps for a new installation or an upgrade (pCurrentInstallDir set, the
// package recorded). A new installation holds <AD>/.kvln_unfinished from before pkgadd
// until its package list has run ("added" in it once pkgadd succeeded); a later run that
// finds it installs again, without pkgadd when that had succeeded. 0 when the steps ran or
// were not started (not root), 1 when the user quit at a "checkps" line of the package list.
int Install();

// Reads <dir>/disks, else <dir>/DISKS (upper-cased up to "end_of_list"), into LineBuf.
// Neither present: setup message 21 as an error line, exit 1. A list longer than 4095 bytes
// or naming a file of 128 characters or more: error line, exit 1.
void GetDisksData(const char* dir);

// Root check (setup message 35 and false for anyone else), package name, and the question
// when an older daemon-based product is in the application directory: "y"/"yes" go on,
// "n" removes its start-up links from /etc/rc2.d and goes on, "no" or end of input end
// the program with status 0, anything else asks again.
bool readyForInstallation();

// Appends the archive pieces ("pkg_tar." / "PKG_TAR." words of the work directory's
// file list) in list order to <work>/Solarisi386Kvln.tar.Z. A failed append exits 1.
void genZFile();

// Upgrades the installed package file by file from <work>/<pkg>/pkgmap with installf,
// then sets VERSION=4.50.29 in its pkginfo (kept as it is when it cannot be read). 1, or 0
// when a copy failed: that is reported, the version is not raised and flInstallFailed is
// set (a failed registration alone is no failure). A missing map: error line, exit 0; an entry unsafe for the shell
// or a line too long: exit 1 before the upgrade changes anything.
int upgradeSolarisPackage(const char* pkg, const char* workDir);

// GetFileLine that tells a cut line: 1 a whole logical line in LineBuf, 0 at the end, -1 a
// line longer than the reader takes (LineBuf holds its start; the rest was consumed, never
// to come back as a line). *lines: the physical lines it took.
int GetWholeFileLine(int* lines);

// 1 when one of the path's components is ".." (the path would climb out of its tree).
int PathClimbsOut(const char* path);

// The package map's words on one line: part, type, class, path, mode, owner, group.
enum : int { kMapPart, kMapType, kMapClass, kMapPath, kMapMode, kMapOwner, kMapGroup,
             kMapWords };

// Splits a copy of LineBuf (in buf, kLineBufSize bytes) into the package map's first seven
// words (words[kMapWords]) at blanks and line ends. 1 when all seven are there.
int SplitMapLine(char* buf, char** words);

// ===========================================================================
// The unpacked archive (unpacked.cpp)
// ===========================================================================

// Checks the tree unpacked into workDir before any of it is used: the work directory still
// closed to others; every member given to the user running setup; no device, pipe or
// socket, no link leading out of workDir, no hard link to a file outside it; <pkg>/pkgmap and
// pkg.list regular files nobody else may write; no file the map copies a link. A fault: error
// line naming the member, exit 1.
void CheckUnpackedTree(const char* workDir, const char* pkg);

// ===========================================================================
// Flag file and queue scripts (scripts.cpp)
// ===========================================================================

extern const char ScriptShShell[];  // "#!/bin/sh"

// The script templates, embedded from installer/templates/*.sh at build time: shell text
// with "%s" placeholders filled in order and "%%" standing for "%".
KORVI_EMBEDDED(KorviPrintkvlnScript);  // KorviPrintkvln: AD, kvln, log stem x2, kvln, kvln
KORVI_EMBEDDED(pv4DriverScript);       // v4DriverScript: AD, prefix
KORVI_EMBEDDED(pv5DriverScript);       // v5DriverScript: AD, prefix
KORVI_EMBEDDED(KorviKSFScript);        // KorviKSF: AD, prefix, spool dir, prefix x5
KORVI_EMBEDDED(SimpleScript);          // launcher: cd dir, program dir, program name

// Files below are written to "<file>.new" beside their place, every write and the close
// checked, then renamed over it; a failure is reported on standard error, leaves the old
// file in place and sets flInstallFailed.

// Writes " V5 ", " LPRng " or " CUPS " (CUPS wins) to <appDir>/.kp_cfg, mode 0644.
// 1 when written, else 0.
int createPrintingSubsystemFile(const char* appDir);

// Writes KorviPrintkvln, v4DriverScript, v5DriverScript and KorviKSF into pAppDir
// (KorviKSF spools under <spoolDir>/kvln) and, on an LPRng host, the printconf link.
// 1 when all four were written.
int createQueueScripts(const char* spoolDir);

// Each writes shell line, banner and filled template to path, mode 755.
// 1 when written, 0 when it could not be (reported on standard error).
int generateKorviPrintkvlnScript(const char* path, const char* shell, const char* tmpl);
int generatev4v5DriverScript(const char* path, const char* shell, const char* tmpl);
int generateKorviKSFScript(const char* path, const char* shell, const char* tmpl,
                           const char* spoolSubDir);

// Writes a launcher from the SimpleScript-like template with its three values; mode 755.
// 1 when written.
int GenSimpleScript(const char* path, const char* shell, const char* tmpl, const char* cdDir,
                    const char* progDir, const char* progName);

// Writes tmpl to f with each "%s" replaced by the next of the n values and "%%" by "%".
// 0 (nothing written) when the template holds another conversion or a count other than n.
int WriteTemplate(FILE* f, const char* tmpl, int n, const char* const* values);

// The banner comment block: vendor word and the current local year. Static buffer.
const char* ScriptBanner();

// ===========================================================================
// Package list (pkglist.cpp)
// ===========================================================================

// Runs <work>/<dirWord>/pkg.list. 0 at its end, 1 when a "checkps" line was answered
// with quit. A missing list: error line, exit 0.
int ProcessPkgList(const char* dirWord);

// Checks <work>/<dirWord>/pkg.list as ProcessPkgList does before running it, and runs
// nothing; also that no file it copies from the archive is (or holds) a link. A refused
// list ends the run (1); a missing one is left to ProcessPkgList.
void CheckPkgList(const char* dirWord);

#endif  // KORVI_INSTALLER_INSTALL_H
