// TextMenu.h - the terminal toolkit: screen record, prompts and validated entry, data-driven
// menus and their run loop. A menu is a TextMenu record over a zero-terminated array of
// TextMenuItem records, usually static tables of the host program whose texts the message
// catalogue fills (nls/NlsUtils.h: NlsTtyMenuCvt and the NlsTtyMenuItem*Cvt family).
// The menu records below are shared with the catalogue and kept in this header on purpose.
#ifndef KORVI_TTY_TEXTMENU_H
#define KORVI_TTY_TEXTMENU_H

#include <cstdint>

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

#endif  // KORVI_TTY_TEXTMENU_H
