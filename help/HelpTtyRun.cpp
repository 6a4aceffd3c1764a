// HelpTtyRun.cpp - running the help menu: TtyHtmlHelp opens help and runs the menu until the
// user leaves it; TtyHelpKey is what the toolkit's "h" key calls, set as its hook at start-up
// in every program that links this file (a program that names pTtyHtmlName does).
#include "help/HelpTty.h"

char* pTtyHtmlName = nullptr;
char* pTtyHtmlData = nullptr;
char* pTtyHtmlTitle = const_cast<char*>("Help");

// Linking the help menu gives the toolkit's "h" key its viewer.
[[maybe_unused]] static const bool flHelpKeySet = (pfnTextMenuHelp = TtyHelpKey, true);

int TtyHtmlHelp(const char* path, char* text, const char* title) {
  if (!path || !title || !HtmlHelp(path, text)) return 0;
  if (!TtyHelpBuildMenuItems()) return 0;  // it also titles the menu
  RunMenu(&HelpMenu, nullptr, 1);
  return 1;
}

void TtyHelpKey(TextMenu*) {
  if (pTtyHtmlName && !TtyHtmlHelp(pTtyHtmlName, pTtyHtmlData, pTtyHtmlTitle)) PostMsg("%s", "");
}
