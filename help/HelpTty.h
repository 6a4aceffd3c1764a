// HelpTty.h - help navigation: opening help, following links and named targets between the
// pages and files of the help (html.h), a history for "back" and "contents", and the help
// menu that shows the current page on the terminal through the menu toolkit (tty/TextMenu.h):
// the page text on top, one numbered item per link, then Exit Help, Contents and Back.
// Links are data: a link that leads nowhere (a missing or unreadable file, a missing target,
// a 101st file) prints its message on standard output and leaves the current place as it was.
// Every followed link records the place it leaves, so Back returns there. Results are 1 or 0.
// All state is process-wide (one thread).
#ifndef KORVI_HELP_HELPTTY_H
#define KORVI_HELP_HELPTTY_H

#include <cstdint>

#include "help/html.h"
#include "tty/TextMenu.h"

// One place in the help: a page of a loaded file and a text offset in it.
struct HelpPlace {
  int32_t File;        // index in aFile
  HtmlPage* pPage;     // the page
  int32_t TargetPos;   // text offset of the target in the page; 0 at its start
};

constexpr int kHelpHistorySize = 100;   // places kept for Back; further jumps are not recorded
constexpr int kHelpCommonItems = 6;     // the fixed tail of the help menu, terminator included
constexpr int kHelpItemTextMax = 127;   // characters of a link's item text
// The help menu's flags: no blank lines between items (0x100), leave by the item type from
// before the selection (0x080), re-initialise after a command that succeeds (0x040), an empty
// line is a selection (0x001), and end of input leaves the menu (0x020).
constexpr uint16_t kHelpMenuFlags = kMenuNoBlankLine | kMenuLeaveByOldType | kMenuCommandReinit |
                                    kMenuLeaveAtEnd | kMenuEnterSelects;

// ===========================================================================
// Globals
// ===========================================================================

extern HelpPlace History[kHelpHistorySize];  // places to go back to, oldest first
extern int HistoryI;                         // number of entries in History
extern int TargetPos;                        // text offset of the current target in the page
extern char flBuildingFile;                  // 1 while a help file is opened or a link followed

extern TextMenu HelpMenu;                    // the help menu (title centred, kHelpMenuFlags)
extern TextMenuItem* HelpMenuItems;          // its items (pool), grown as pages need
extern int HelpMenuItemCnt;                  // capacity of HelpMenuItems in items
extern TextMenuItem HelpCommonItems[kHelpCommonItems];  // two bars, Exit Help, Contents, Back,
                                                        // and the terminator

// What the toolkit's "h" key opens, set by the host program: a help file path ("#target"
// allowed), a help text used instead of reading that file (or null), and a title ("Help").
// Linking this module makes "h" work: pfnTextMenuHelp is set to TtyHelpKey at start-up.
extern char* pTtyHtmlName;
extern char* pTtyHtmlData;
extern char* pTtyHtmlTitle;

// ===========================================================================
// Navigation (HelpNav.cpp)
// ===========================================================================

// Opens help on path (text, when not null, is a writable help text used instead of the file):
// empties the history and loads the file (a "#target" in the path is reached). 1 on success;
// 0 for a null path, or after printing "Error reading HTML buffer\n" (with a text) or "Error in
// reading HTML file %s\n" on standard output, with flBuildingFile left set.
int HtmlHelp(const char* path, char* text);
// Makes the page of the current file named target (a leading "#" skipped), or the page holding
// a name anchor of that target, current, recording the place left; TargetPos becomes 0 or the
// anchor's offset. A target that matches nothing changes nothing.
void GoToTarget(const char* target);
// Records the current place when fewer than kHelpHistorySize are recorded; else nothing.
void SetHistory();
// Follows the anchor's target: "#t" within the current file, "name#t" within it when name is
// the start of the current file's name, else a file (relative to the current file's folder)
// and its target. Records the place left. 1 when it moved; 0, with "Error in reading file
// %s\n" or "Error in finding target %s\n" on standard output, when the place stays.
int ProcessLink(HtmlAnchor* pAnchor);
// Follows the link whose text holds offset in the current page (TargetPos becomes offset).
// Nothing while flBuildingFile is set, without a loaded file or without such a link.
void HtmlProcessLink(int offset);
// Mode 0 (contents): empties the history and goes to the first page of the file help was
// opened on. Mode -1 (back): goes to the newest entry and removes it. 0 when the history was
// empty (nothing changes), else 1.
int HtmlSetHistory(int mode);

// ===========================================================================
// The help menu (HelpTty.cpp: items and actions; HelpTtyRun.cpp: running it)
// ===========================================================================

// Opens help (HtmlHelp) and runs the help menu until the user leaves it (Exit Help, or end of
// input). 0 when path or title is null or the help did not open, else 1.
int TtyHtmlHelp(const char* path, char* text, const char* title);
// Builds the help menu's items from the current page: the page text, one item per link (text
// without the link's brackets, at most 127 characters, numbered from 1), then the common items
// with their catalogue texts (20, 150) to (20, 152). Returns the title, message (30, 22)
// formatted with "Korvi"; null when the pool is exhausted (the menu keeps its items).
char* TtyHelpBuildMenuItems();
// Item actions of the help menu. Each returns 1 when it moved and rebuilt the menu (a result
// the run loop reads as "stay"), 0 when nothing changed: a link that leads nowhere (its message
// shown until Enter), or an empty history.
int TtyHelpGotoLink(TextMenu* pMenu, TextMenuItem* pItem);
int TtyHelpContents(TextMenu* pMenu, TextMenuItem* pItem);
int TtyHelpBack(TextMenu* pMenu, TextMenuItem* pItem);
// The toolkit's "h" key: TtyHtmlHelp on pTtyHtmlName, pTtyHtmlData, pTtyHtmlTitle; when the
// help cannot open, its message stays until Enter.
void TtyHelpKey(TextMenu* pMenu);

#endif  // KORVI_HELP_HELPTTY_H
