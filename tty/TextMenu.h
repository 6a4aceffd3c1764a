// TextMenu.h - the terminal toolkit: screen record, prompts and validated entry, data-driven
// menus and their run loop. A menu is a TextMenu record over a zero-terminated array of
// TextMenuItem records, usually static tables of the host program whose texts the message
// catalogue fills (nls/NlsUtils.h: NlsTtyMenuCvt and the NlsTtyMenuItem*Cvt family).
// The menu records below are shared with the catalogue and kept in this header on purpose.
#ifndef KORVI_TTY_TEXTMENU_H
#define KORVI_TTY_TEXTMENU_H

#include <csignal>
#include <cstdint>

#include "base/utils.h"

// ===========================================================================
// Menu records (also filled by nls/NlsUtils.h; keep the field order)
// ===========================================================================

struct TextMenu;
struct TextMenuItem;

// Menu action (pfnOnFinish, pfnOnShow) and item action (pfnAction); an action item's result
// decides whether its selection succeeded.
typedef int (*TextMenuFn)(TextMenu* pMenu);
typedef int (*TextMenuItemFn)(TextMenu* pMenu, TextMenuItem* pItem);

// TextMenu.Flags bits.
constexpr uint16_t kMenuEnterSelects = 0x001;    // an empty line acts as a selection; no leave hint
constexpr uint16_t kMenuHelp = 0x002;            // "h" opens the help viewer; help hint shown
constexpr uint16_t kMenuKeepValues = 0x004;      // value buffers stay allocated after leaving
constexpr uint16_t kMenuSaveAs = 0x008;          // "s" saves the values into a file the user names
constexpr uint16_t kMenuSaveExit = 0x010;        // "s" saves into ".settings" and ends the process
constexpr uint16_t kMenuLeaveAtEnd = 0x020;      // end of input leaves the menu instead of ending the program
constexpr uint16_t kMenuCommandReinit = 0x040;   // a successful type-7 action re-initialises the menu
constexpr uint16_t kMenuLeaveByOldType = 0x080;  // leave decision by the item type before selection
constexpr uint16_t kMenuNoBlankLine = 0x100;     // no blank line between items

// TextMenuItem.Type.
enum : int32_t {
  kItemLabel = 0,      // the text; not selectable
  kItemLabelBar = 1,   // one line feed per following label
  kItemBlank = 2,      // a line with the running number of the items before it
  kItemBar = 3,        // the following items in columns
  kItemAccept = 4,     // every required text filled, then the action; leaves on success
  kItemCancel = 5,     // the action; leaves on success
  kItemExit = 6,       // as cancel
  kItemCommand = 7,    // the action; the menu stays
  kItemSubmenu = 8,    // runs the submenu
  kItemOneOf = 9,      // one choice of a list
  kItemSomeOf = 10,    // several choices of a list (bit set)
  kItemText = 11,      // required text
  kItemOptText = 12,   // optional text
  kItemInt = 13,       // integer
  kItemFloat = 14,     // float
};

// TextMenuItem.State.
enum : int32_t { kItemNormal = 0, kItemDimmed = 1, kItemHidden = 2 };

// Menu item. An array of them ends with an item whose szText is null.
struct TextMenuItem {
  char* szText;              // label; "~e Exit Help" has hot key e and shows "Exit Help"
  int32_t Type;              // kItem* above
  int32_t State;             // kItemNormal, kItemDimmed, kItemHidden
  char* szPrompt;            // prompt of a typed value
  char* szChoices;           // list items: choices separated by ",", each with a marker ("_" shown, " " hidden)
  char* szCurChoice;         // list items: the current choice's text
  intptr_t Default;          // initial value (a text for types 11 and 12)
  intptr_t Value;            // choice index, bit set, text buffer, integer, float, submenu(s), columns
  intptr_t PrevValue;        // value before the last change
  TextMenuItemFn pfnAction;  // the item's action
  int32_t TextLen;           // length of szText, set by InitMenu
  char* szRule;              // entry rule, condition list of a submenu, or state format of a list
  int32_t SavedValue;        // value saved by the "S" format action; -1 when none
  int32_t ChoiceCount;       // number of choices, set by InitMenu
  void* pUserData;           // the owner's; the toolkit does not read it
  int32_t HotKey;            // selection key set by InitMenu: "~" character, running number or 0
};

// Menu.
struct TextMenu {
  char* szTitle;             // title; its first line is measured for placement
  int32_t TitleStyle;        // 0 title and ":"; 1 centred; 2 right-aligned; other: no title
  char* szSaveQuestion;      // yes/no question when leaving after changes, or null
  TextMenuFn pfnOnFinish;    // called when the user leaves keeping the values
  char** ppName;             // the menu's name for the leave question, or null
  TextMenuFn pfnOnShow;      // called when the menu starts and before a redisplay
  TextMenuItem* pItems;      // the items, ended by an item whose szText is null
  uint16_t Flags;            // kMenu* bits
};

// ===========================================================================
// Menu model, state formats and settings files (TextMenuModel.cpp, TextMenuState.cpp,
// TextMenuFile.cpp)
// ===========================================================================
// Items are addressed by their 0-based position in pItems, in the state and condition
// languages and in settings files alike. Formats, conditions and settings files are text from
// outside and may be malformed: a reference to an item that does not exist, a value that does
// not fit its item, a format that applies itself again or a condition nested too deep is
// ignored, and the item keeps what it had. Nothing recurses more than kMenuMaxDepth levels.

constexpr int kMenuTextSize = 256;     // value buffer of a text item: at most 255 characters
constexpr int kMenuMaxDepth = 16;      // nesting of submenus, P actions and condition groups
constexpr int kMenuRefSize = 32;       // one item reference of a condition ("+12.3")

extern int flLoadedSettings;           // set once LoadMenu has read a settings file

// A float item (type 14) keeps its double in Default and Value, bit for bit.
double MenuFloat(intptr_t word);
intptr_t MenuFloatWord(double value);

// Sets TextLen, ChoiceCount, HotKey and the first values of every item (see the item types),
// SavedValue to -1 (nothing saved), applies the list items' formats; gives text items a 256-byte value buffer when they have none, holding Default (a text) or
// "". Returns the longest TextLen (the dot column of the menu display).
int InitMenu(TextMenu* pMenu);
// Releases the value buffers of the text items (types 11 and 12) and clears their Value.
void FreeMenu(TextMenu* pMenu);
// Number of items before the terminating item.
int MenuItemCount(const TextMenu* pMenu);
// The submenu of item index (type 8): Value itself without szRule, else the entry of the table
// in Value (ended by a null entry) at the position of the first condition of szRule
// (blank-separated) that holds, with index as the conditions' base.
// Null for a dimmed or hidden item, an index outside the menu or no condition holding.
TextMenu* ValidateMenu(TextMenu* pMenu, int index);
// The first item of that type, or null.
TextMenuItem* FindTextMenuItem(TextMenu* pMenu, int type);

// Choices of a list item (types 9, 10), 0-based; choice n starts with its marker, "_" shown
// or " " hidden. szCurChoice becomes a pool copy of choice Value (type 9 moves Value on,
// cyclically, past hidden choices); Hide/Show set the marker of choice n (others: nothing).
void UpdateStateSelection(TextMenuItem* pItem);
void HideStateSelection(TextMenuItem* pItem, int n);
void ShowStateSelection(TextMenuItem* pItem, int n);

// State reference "i.v", "+i.v" (item base + i) or "-i.v" (item base - i): 0 when that item's
// Value is not v (or the reference is malformed or names no item), else 2 when the item's State
// is not 0, else 1.
int TestState(TextMenu* pMenu, const char* ref, int base);
// A condition over state references: & (and), | (or), ! (not), parentheses, and a reference
// followed by A (the item has the value and is dimmed or hidden). ! binds tightest, then &,
// then |. False for an empty or malformed condition or one nested deeper than kMenuMaxDepth.
bool TestStateCondition(TextMenu* pMenu, const char* cond, int base);
// 1 when value is one of the numbers of list, or list holds "*"; else 0.
int TestFormatState(const char* list, intptr_t value);
// Applies the state format (szRule) of list item index: groups such as H1{5,6}, N0;2{3},
// P1{4}, S1{4,0} (see TextMenuState.cpp). Nothing for a dimmed or hidden item or one without
// a format. Leaves the shared tokenizer's scan and chTokenDel as they were.
void ProcessStateFormat(TextMenu* pMenu, int index);

// Settings file: one line per value, "%i[%i] %i %i" (types 9, 13), "%i[%s] %i %i" (11, 12),
// "%i[%.3f] %i %i" (14): item index, value, type, state; then for each type-8 item with a
// submenu "%i{", the submenu's lines, "}" (also when the item is dimmed or hidden: its
// values are kept). StoreMenu writes to pOut.
void StoreMenu(TextMenu* pMenu);
// Reads the lines of the open input file (OpenInputFile) into the menu. A line that does not
// parse, names no item, carries a type other than the item's (11 and 12 may trade places) or a
// value that does not fit is skipped. A "}" line ends a submenu's block (calling the action of
// its first type-4 item). A loaded list item applies its state format, but the values and
// states the file gives are those the items end with: a format changes only what the file
// does not give. Sets flLoadedSettings.
void LoadMenu(TextMenu* pMenu);
// Writes the menu's settings to path through "<path>_new", synced and renamed over path, so
// that the old file stays whole until the new one is. 1 on success; 0 after printing
// "ERROR: can't write file, <path>" on standard error (path then unchanged).
int SaveMenuFile(TextMenu* pMenu, const char* path);

// ===========================================================================
// Screen record and terminal output (TextScreen.cpp)
// ===========================================================================
// A screen is composed in memory, a grid of Width x Height one-byte cells, and printed whole
// by Refresh. No terminal control sequences are written: MoveCursor and ClearScreen are empty
// hooks, so a repaint prints after what is on the terminal and the terminal's own wrap at
// Width columns lays the rows out. Nothing is ever written or read outside the cells: texts
// and rectangles that run past the grid's last cell are cut there.

constexpr int kRefreshLineSize = 4096;  // Refresh's line buffer (a row prints in pieces of 4095)
constexpr int kWriteStringSize = 512;   // WriteString's format buffer: at most 511 characters
constexpr int kNumberScreenCells = 1920;  // NumberScreen's pattern: 24 rows of 80
constexpr int kMaxScreenWidth = 4095;   // widest screen GetTermInfo gives
constexpr int kDefaultWidth = 80;       // size when standard output is no terminal
constexpr int kDefaultHeight = 24;

struct TextScreen {
  int32_t Width;      // columns per row
  int32_t Height;     // rows
  int32_t CurCol;     // write position: column offset from the row start, 0-based
  int32_t CurRow;     // write position: row, 1-based
  int32_t OvlCol;     // message box: column
  int32_t OvlRow;     // message box: row
  int32_t OvlWidth;   // message box: characters of text per box row
  int32_t OvlHeight;  // message box: rows of text, plus three
  char* pCells;       // Width x Height cells, row after row; no terminator
};

// Set the write position; set the message box's position and size.
void SetPosition(TextScreen* pScreen, int col, int row);
void SetOvlInfo(TextScreen* pScreen, int col, int row, int width, int height);
// Formats (at most 511 characters) and copies the text into the cells from the write position
// on, running on into the next rows; a position out of range becomes row 1 / column 0. The
// position does not move. Returns the number of cells written.
int WriteString(TextScreen* pScreen, const char* fmt, ...) KORVI_PRINTF(2, 3);
// Sets count cells from row * Width + col on (row 0-based) to ch in each of rows rows, cut at
// the grid's bounds. Returns rows.
int FillArea(TextScreen* pScreen, int col, int row, int count, int rows, int ch);
// Prints the grid to standard output without line breaks: a line feed cell ends its row (the
// next row starts after it), a zero cell ends the visible part of its row, and the last cell
// of the last row is never printed (the terminal does not scroll). Flushes; returns 0.
int Refresh(TextScreen* pScreen);
// Prints a box of asterisks around text at OvlCol/OvlRow directly to standard output, rows of
// OvlWidth characters (a line feed blanks the rest of its row), at most OvlHeight + 3 rows.
// With wait non-zero the box ends in "Press enter" and one character is read from stdin.
void Overlay(TextScreen* pScreen, const char* text, int wait);
// Fills the first 1920 cells (as far as the grid goes) with "0123456789" repeated; every
// 80 cells start with "0".
void NumberScreen(TextScreen* pScreen);
// The screen record for the terminal on standard output (80 x 24 when it is none, at most
// 4095 columns): pScreen resized, or a new pool record when null. Cells are kept when the
// size did not change, else a fresh zero grid. Null only when memory is exhausted.
TextScreen* GetTermInfo(TextScreen* pScreen);
// Terminal-control hooks: write nothing.
void MoveCursor(TextScreen* pScreen, int col, int row);
void ClearScreen(TextScreen* pScreen);

// ===========================================================================
// Prompts and validated entry (TextPrompt.cpp, TextEntry.cpp)
// ===========================================================================
// Line by line on standard input and output. Every text shown comes from pDrvCoreDB (set 25,
// set 30); a message that is missing, or whose conversions differ from the arguments given,
// shows as "Error". Every report goes through PostMsg, which waits for Enter. At end of input
// nothing asks again: each prompt returns a result that no answer gives (-1 or null).
// Lines are read into LineBuf (at most 4095 characters; the rest of a longer line is dropped).

// ValidateEntry's result codes.
enum : int {
  kEntryValid = 0,      // valid, or no rule
  kEntryRange = 1,      // number out of range, or more than one "." in a float value
  kEntryLength = 2,     // wrong length
  kEntryChar = 3,       // a character the rule does not allow
  kEntryExcluded = 4,   // a value the rule excludes
};

constexpr int kNlsBufSize = 65535;       // NlsBuf: ValidateEntryLen's message
constexpr int kPassPhraseSize = 257;     // at most 256 characters and the terminator
constexpr int kPassPhraseWait = 60;      // seconds GetPassPhrase waits for each character
constexpr int kEntryCopySize = 512;      // ValidateEntry's matched text: at most 511 characters

extern char* pErrIntRange;    // message (25, 1003), fetched on the first ValidateEntry
extern char* pErrFloatRange;  // message (25, 1004), hexadecimal range
extern char* pErrLongRange;   // message (25, 1024), long-number range
extern char NlsBuf[kNlsBufSize];
extern volatile sig_atomic_t signo;  // the last signal GetPassPhrase caught, 0 before

// Asks question (a printf format) + "? [y/n] " until a line starts with "y" (1) or "n" (0);
// -1 at end of input. Only those lower-case letters count: test for yes with == 1.
int PromptYN(const char* question, ...) KORVI_PRINTF(1, 2);
// Prints prompt ("%%" prints "%"; no arguments are taken) and reads one line into buf (which
// must hold 4096 bytes), returning buf; without buf a saved copy of the line (at most 1023
// characters). Null at end of input.
char* PromptUser(const char* prompt, char* buf);
// Prints the message, then message (25, 1001), and reads one line into LineBuf (the user
// presses Enter). LineBuf, or null at end of input.
char* PostMsg(const char* fmt, ...) KORVI_PRINTF(1, 2);
// 1 when name holds only letters, digits, "_" and "-". Otherwise reports the first other
// character (messages (25, 1002) and (25, 1000)), waits for Enter and gives 0, or -1 when
// input ended instead. Test for a valid name with == 1.
int TestName(const char* name);

// Checks value against an entry rule (codes above); reports a refusal through PostMsg.
// A null rule accepts. Malformed rules are read as far as they are sound, never past their end.
int ValidateEntry(const char* value, const char* rule);
// Range text "(4,8)" or "4-8": stores min (4) in *min and returns max (8); a first character
// that is not a digit is skipped. Numbers stop at 2147483647.
int getMinMax(const char* range, int* min);
// Null when the length of value (0 for null) is within range (4 to 4 without one); else the
// message (30, 44) or (30, 42) in NlsBuf.
char* ValidateEntryLen(const char* value, const char* range);
// The first character of value that is not a digit, or 0.
int ValidateEntryDigit(const char* value);
// Length, then digits: posts the refusal and gives 2 or 3; 0 when value passes.
int ValidateEntryTty(const char* value, const char* range);

// Reads a pass phrase (at most 256 characters) from /dev/tty (else standard input, prompt on
// standard error) with echo off, waiting up to 60 seconds for each character. The terminal's
// settings and the seven signal actions it catches are restored on every way out; a caught
// SIGINT, SIGHUP, SIGQUIT or SIGTERM is then delivered again, and after a stop signal the
// question starts over. A saved copy of the text; null when input ended before anything was
// typed, on a timeout, a read error or a caught signal.
char* GetPassPhrase(const char* prompt);
// Signal catcher of GetPassPhrase: stores the number in signo.
void handler(int sig);

// ===========================================================================
// Menu display and run loop (TextMenuRun.cpp), full-screen picker (TextMenuPick.cpp)
// ===========================================================================
// A menu is shown as a numbered list on an 80-column terminal (the "clear" command, then the
// whole menu), a line is read, the item it names is carried out, until the user leaves. Texts
// come from pDrvCoreDB, set 25. At end of input a menu ends the program (message (25, 1016)
// through SysError), or with kMenuLeaveAtEnd is left, and the picker ends as if cancelled:
// nothing asks forever.

constexpr int kMenuWidth = 80;         // display width of titles, bars and wrapping
constexpr int kPickSelSize = 64;       // the picker's current-selection text: 63 characters

extern int flExitTextMenu;             // set by an action: the running menu is left, and
                                       // RunMenu does nothing while it stays set
extern char* pOption;                  // second word of the selection line (in LineBuf)

// The help seam: "h" on a menu with kMenuHelp calls pfnTextMenuHelp (the help viewer sets it
// and opens the page its globals name); while it is null "h" does nothing.
typedef void (*TextMenuHelpFn)(TextMenu* pMenu);
extern TextMenuHelpFn pfnTextMenuHelp;

// 1 when every required text (type 11) before the first hidden item is filled; otherwise
// posts message (25, 1011), waits for Enter and returns 0.
int TestNames(TextMenu* pMenu);
// Runs the menu: pfnOnShow, InitMenu, settings loaded from path when given (a file that cannot
// be opened runs the first cancel item's action and returns), then, when interactive, the
// display-and-select loop until the user leaves. Returns 0.
int RunMenu(TextMenu* pMenu, const char* path, int interactive);
// Runs "clear" and prints the menu: title by TitleStyle, items, footer (message (25, 510)).
// dotCol: longest label (InitMenu); titleLen: length of the title's first line. Returns the
// number of items walked, FindSelection's limit.
int PrintMenu(TextMenu* pMenu, int dotCol, int titleLen);
// Prints the items after a bar (type 1: one line feed per label; type 3: every following item
// in columns, a type-3 item starting a new row). *pIndex counts the items consumed, *pNumber
// the numbered ones. Returns the last item consumed.
TextMenuItem* PrintMenuBarItem(TextMenuItem* pBar, int type, int* pIndex, int* pNumber);
// The item the line in LineBuf selects among the first limit items: a number, or a hot key
// (either case); "h" and "s" as the flags say. Sets pOption. 1-based index, or 0.
int FindSelection(TextMenu* pMenu, int limit);
// Carries out the selection of item index (0-based) with the option text (or "" / null).
// True when it took effect (see the item types).
bool ProcessSelection(TextMenu* pMenu, int index, const char* option);
// The full-screen picker for list item index (type 9 or 10); preset is taken as the first
// answer when not null.
void ProcessStateValue(TextMenu* pMenu, int index, const char* preset);
// Draws one page of the picker from choice first on (0 starts over: terminal size and texts).
// Bit k of *pMask is set when choice first + k is hidden (k < 64). Returns the choices shown,
// 0 when the choices ran out before the page was full, -1 when the terminal is too small
// (messages (25, 206) to (25, 208) shown, one character read).
int PrintPickOneManyScreen(TextMenuItem* pItem, uint64_t* pMask, int first);
// The widest choice of each column of Height - 6 choices into widths, which must hold
// (ChoiceCount + rows - 1) / rows entries; returns the widest of them (0 without rows).
int GetColumnWidths(TextScreen* pScreen, TextMenuItem* pItem, int* widths);
// The picker's frame: the label centred in row 1, the save and cancel texts in row Height - 2,
// the current selection in row Height - 1, the option prompt in the last row.
void WriteScreenFrame(TextScreen* pScreen, TextMenuItem* pItem, const char* curSel);

#endif  // KORVI_TTY_TEXTMENU_H
