// TextMenu_private.h - what the menu sources share and the toolkit's users do not need: the
// walk over a list item's choices and the item bounds checks.
#ifndef KORVI_TTY_TEXTMENU_PRIVATE_H
#define KORVI_TTY_TEXTMENU_PRIVATE_H

#include "tty/TextMenu.h"

namespace textmenu {

// Choice n (0-based) of a list item: its first character (the marker) and its length up to the
// next "," or the end; empty pieces between commas are no choices. Null when there is none.
const char* ChoiceAt(const TextMenuItem* pItem, int n, int* pLen);
// Number of choices in szChoices.
int CountChoices(const char* choices);
// 1 when choice n exists and its marker is a blank.
int ChoiceHidden(const TextMenuItem* pItem, int n);
// Makes szCurChoice a pool copy of choice n (null when there is none).
void SetCurChoice(TextMenuItem* pItem, int n);
// The item at index, or null when index is outside the menu.
TextMenuItem* ItemAt(TextMenu* pMenu, int index);
// The submenu of item index under its conditions, as ValidateMenu gives it but also for a
// dimmed or hidden item (settings files keep a submenu's values whatever its item's state).
TextMenu* SubmenuOf(TextMenu* pMenu, int index);
// Bits a several-of item can hold.
constexpr int kMaxSetChoices = 63;

}  // namespace textmenu

#endif  // KORVI_TTY_TEXTMENU_PRIVATE_H
