// kmenu - the settings of one print queue as a terminal menu: a program for trying the menu
// toolkit and the one its end-to-end tests drive.
//   kmenu [SETTINGS-FILE]
// Loads the file when it exists; "Accept", or a yes to the save question, writes every value
// back into it (whole, through a temporary file beside it). Without a file the values are
// printed on standard output when the menu is left. Messages come from the toolkit's catalogue
// <tool directory>/db/<language>/CoreString.kdb. Exit status 0; 1 without a catalogue; 2 for
// a bad command line. "h" opens the menu's help, <tool directory>/help/kmenu.html.
#include <cstdio>
#include <cstring>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "help/HelpTty.h"
#include "nls/NlsUtils.h"
#include "tty/TextMenu.h"

namespace {

const char* g_Path = nullptr;  // the settings file, or null

// ---------------------------------------------------------------------------
// Connection submenus
// ---------------------------------------------------------------------------

char g_Speeds[] = "_9600,_19200,_38400,_115200";
char g_Protocols[] = "_LPD,_IPP,_Raw socket";

TextMenuItem g_LocalItems[] = {
    {(char*)"Device", kItemText, 0, (char*)"Device path", nullptr, nullptr,
     (intptr_t) "/dev/lp0", 0, 0, nullptr, 0, (char*)"/A(1,60)+/+_+-", -1, 0, nullptr, 0},
    {(char*)"Speed", kItemOneOf, 0, nullptr, g_Speeds, nullptr, 2, 0,
     0, nullptr, 0, nullptr, -1, 0, nullptr, 0},
    {(char*)"~b Back", kItemExit, 0, nullptr, nullptr, nullptr, 0, 0, 0, nullptr, 0, nullptr, -1,
     0, nullptr, 0},
    {},
};

TextMenuItem g_NetItems[] = {
    {(char*)"Host", kItemText, 0, (char*)"Host name", nullptr, nullptr, (intptr_t) "printer1", 0,
     0, nullptr, 0, (char*)"A(1,63)+.+-", -1, 0, nullptr, 0},
    {(char*)"Port", kItemInt, 0, (char*)"Port", nullptr, nullptr, 515, 0, 0, nullptr, 0,
     (char*)"d(1,65535)", -1, 0, nullptr, 0},
    // The raw socket protocol sets the port to 9100 and gives the old one back when left.
    {(char*)"Protocol", kItemOneOf, 0, nullptr, g_Protocols, nullptr, 0, 0, 0,
     nullptr, 0, (char*)"S2{1,9100}", -1, 0, nullptr, 0},
    {(char*)"~b Back", kItemExit, 0, nullptr, nullptr, nullptr, 0, 0, 0, nullptr, 0, nullptr, -1,
     0, nullptr, 0},
    {},
};

char* g_LocalName = (char*)"the local port settings";
char* g_NetName = (char*)"the network settings";

// A submenu starts from its items' defaults each time it is shown: make the values the user
// gave (or a settings file loaded) its defaults first.
int KeepValues(TextMenu* pMenu) {
  for (TextMenuItem* it = pMenu->pItems; it->szText; it++) {
    if (it->TextLen == 0) return 0;  // never initialised: the table's defaults stand
    if (it->Type == kItemOneOf || it->Type == kItemInt || it->Type == kItemFloat) {
      it->Default = it->Value;
    }
  }
  return 0;
}

TextMenu g_Local = {(char*)"Local port", 1, nullptr, nullptr, &g_LocalName, KeepValues,
                    g_LocalItems, kMenuKeepValues};
TextMenu g_Net = {(char*)"Network printer", 2, nullptr, nullptr, &g_NetName, KeepValues,
                  g_NetItems, kMenuKeepValues | kMenuNoBlankLine};
TextMenu* g_Connections[] = {&g_Local, &g_Net, nullptr};

// ---------------------------------------------------------------------------
// The queue menu
// ---------------------------------------------------------------------------

enum : int {
  kIntro, kLabelBar, kLabelGap, kName, kDescription, kConnType, kConnection, kPaper, kCopies,
  kDarkness, kTrays, kBanner, kBannerText, kBar, kPaperList, kTestPage, kAccept, kCancel, kExit,
  kItemsEnd
};

// Forty input trays; trays 7 and 31 are not fitted (hidden choices).
char g_Trays[] =
    "_Tray 1: standard cassette for 500 sheets,_Tray 2: standard cassette for 500 sheets,"
    "_Tray 3: optional cassette for 500 sheets,_Tray 4: optional cassette for 500 sheets,"
    "_Tray 5: high-capacity feeder for 2000,_Tray 6: high-capacity feeder for 2000,"
    " Tray 7: envelope feeder (not fitted),_Tray 8: manual feed slot,"
    "_Tray 9: label stock,_Tray 10: transparencies,_Tray 11: heavy paper,_Tray 12: letterhead,"
    "_Tray 13: coloured paper,_Tray 14: recycled paper,_Tray 15: cheques,_Tray 16: forms,"
    "_Tray 17: invoices,_Tray 18: delivery notes,_Tray 19: card stock,_Tray 20: tab stock,"
    "_Tray 21: photo paper,_Tray 22: glossy paper,_Tray 23: matte paper,_Tray 24: banners,"
    "_Tray 25: postcards,_Tray 26: index cards,_Tray 27: A5 sheets,_Tray 28: B5 sheets,"
    "_Tray 29: statements,_Tray 30: executive sheets,"
    " Tray 31: second envelope feeder (not fitted),_Tray 32: bond paper,"
    "_Tray 33: archival paper,_Tray 34: carbonless forms,_Tray 35: pre-punched paper,"
    "_Tray 36: perforated paper,_Tray 37: security paper,_Tray 38: tracing paper,"
    "_Tray 39: vellum,_Tray 40: spare";
char g_Papers[] = "_A4,_Letter,_Legal,_A3,_Executive";
char g_ConnTypes[] = "_Local port,_Network";
char g_BannerChoices[] = "_Off,_On";

int PaperList(TextMenu* pMenu, TextMenuItem*) {
  ProcessStateValue(pMenu, kPaper, nullptr);
  return 0;
}

int TestPage(TextMenu* pMenu, TextMenuItem*) {
  PostMsg("A test page went to the queue %s.\n",
          reinterpret_cast<const char*>(pMenu->pItems[kName].Value));
  return 0;
}

int Finish(TextMenu* pMenu) {
  if (!g_Path) {
    FILE* pOld = pOut;
    pOut = stdout;
    StoreMenu(pMenu);
    pOut = pOld;
    return 0;
  }
  if (SaveMenuFile(pMenu, g_Path)) printf("Saved the settings in %s\n", g_Path);
  return 0;
}

int Accept(TextMenu* pMenu, TextMenuItem*) { return Finish(pMenu); }

TextMenuItem g_Items[kItemsEnd + 1];

TextMenu g_Queue = {(char*)"Print queue settings", 0, (char*)"Save the changes", Finish, nullptr,
                    nullptr, g_Items, kMenuSaveAs | kMenuHelp | kMenuNoBlankLine};

void Item(int index, const char* text, int type, intptr_t def = 0, const char* rule = nullptr,
          char* choices = nullptr, TextMenuItemFn action = nullptr) {
  TextMenuItem* it = &g_Items[index];
  it->szText = const_cast<char*>(text);
  it->Type = type;
  it->szPrompt = const_cast<char*>(text);
  it->szChoices = choices;
  it->Default = def;
  it->szRule = const_cast<char*>(rule);
  it->pfnAction = action;
  it->SavedValue = -1;
}

void BuildQueueMenu() {
  Item(kIntro, "Current values in brackets", kItemLabel);
  Item(kLabelBar, "", kItemLabelBar);
  Item(kLabelGap, "", kItemLabel);
  Item(kName, "Queue name", kItemText, (intptr_t) "lp0", "A(1,14)+_+-");
  Item(kDescription, "Description", kItemOptText, 0, "p(0,40)");
  Item(kConnType, "Connection type", kItemOneOf, 0, nullptr, g_ConnTypes);
  Item(kConnection, "Connection", kItemSubmenu, 0, "5.0 5.1");
  g_Items[kConnection].Value = reinterpret_cast<intptr_t>(g_Connections);
  // A3 sheets are printed one copy at a time; the copies come back for other sizes.
  Item(kPaper, "Paper size", kItemOneOf, 0, "S3{8,1}", g_Papers);
  Item(kCopies, "Copies", kItemInt, 1, "d(1,99)");
  Item(kDarkness, "Darkness", kItemFloat, MenuFloatWord(5.0), "f(0,10)");
  Item(kTrays, "Input trays", kItemSomeOf, 3, nullptr, g_Trays);
  Item(kBanner, "Banner page", kItemOneOf, 0, "H0{12}", g_BannerChoices);
  Item(kBannerText, "Banner text", kItemOptText, (intptr_t) "KORVI", "p(1,30)");
  Item(kBar, "", kItemBar);
  g_Items[kBar].Value = 3;
  Item(kPaperList, "Paper list", kItemCommand, 0, nullptr, nullptr, PaperList);
  Item(kTestPage, "Test page", kItemCommand, 0, nullptr, nullptr, TestPage);
  Item(kAccept, "~a Accept", kItemAccept, 0, nullptr, nullptr, Accept);
  Item(kCancel, "~c Cancel", kItemCancel);
  Item(kExit, "~x Exit", kItemExit);
  g_Items[kTrays].Value = 3;  // trays 1 and 2
}

}  // namespace

int main(int argc, char** argv) {
  my_name = SaveStr_(StripPath(argv[0]));
  if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
    fprintf(stderr, "usage: %s [settings-file]\n", my_name);
    return 2;
  }
  pToolPath = GetToolPath(argv[0]);
  pDrvCoreDB = NlsOpenDB("CoreString", 2);
  if (!pDrvCoreDB) {
    fprintf(stderr, "%s: no message catalogue under %s/db\n", my_name, pToolPath ? pToolPath : ".");
    return 1;
  }
  BuildQueueMenu();
  pTtyHtmlName = SaveStr("%s/help/kmenu.html", pToolPath ? pToolPath : ".");
  g_Path = argc == 2 ? argv[1] : nullptr;
  // A settings file that does not exist yet is written when the values are saved.
  RunMenu(&g_Queue, g_Path && FindFile_(g_Path, nullptr) ? g_Path : nullptr, 1);
  return 0;
}
