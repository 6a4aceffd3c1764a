// The help menu as a person uses it: khelp on the sample help set, and the "h" key of the
// toolkit's menu program, each in a tmux pane; screens are compared as text.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "../tty/pane_test_util.h"

namespace {

using pane_test::Pane;

const std::string kKhelp = std::string(KORVI_BINARY_DIR) + "/help/khelp";
const std::string kKmenu = std::string(KORVI_BINARY_DIR) + "/kmenu";
const std::string kIndex = std::string(KORVI_SOURCE_DIR) + "/help/sample/index.html";

// A help menu screen: the title, the page's rows, its numbered links and the common items.
std::string HelpScreen(const std::string& page, const std::string& links) {
  return "\n"
         "\n"
         "                                   Korvi Help\n"
         "\n" +
         page + "\n" + links +
         "\n"
         " e) Exit Help             c) Contents              b) Back\n"
         "\n"
         "\n"
         "Selection:";
}

// The sample's first page without its entity rows: the terminal shows Latin-1 bytes in its
// own way, and the dump tests pin them already.
const std::string kIndexScreen = HelpScreen(
    "                           Korvi Print Software Help\n"
    "\n"
    "\n"
    "Welcome\n"
    "\n"
    "\n"
    "\n"
    "This help set shows what the help viewer can do. Read the <installation steps> b\n"
    "elow, look at the <tables page>, or jump straight to the <queue overview>.\n"
    "\n"
    "Installation takes these steps:\n"
    "\n"
    "   1. Copy the distribution to a local disk.\n"
    "   2. Run setup as root and accept the agreement.\n"
    "   3. Answer the package questions.\n"
    "\n"
    "\n"
    "\n"
    "\n"
    "More: the <printing page> of the multi-page file.\n",
    " 1) installation steps\n"
    " 2) tables page\n"
    " 3) queue overview\n"
    " 4) printing page\n");

const std::string kTablesScreen = HelpScreen(
    "                                     Tables\n"
    "\n"
    "\n"
    "A framed table\n"
    "\n"
    ",--------+----------+----------------,\n"
    "| Queue  | Spooler  | Script         |\n"
    "|--------+----------+----------------|\n"
    "| laser1 | System V | KorviPrintkvln |\n"
    "|--------+----------+----------------|\n"
    "| color2 | CUPS     | v5DriverScript |\n"
    "'--------+----------+----------------'\n"
    "\n"
    "\n"
    "Queues and their options, nested:\n"
    ",------+-----------,\n"
    "|Option|Values     |\n"
    "|------+-----------|\n"
    "|Paper |,--+------,|\n"
    "|      ||A4|Letter||\n"
    "|      ||--+------||\n"
    "|      ||A3|Legal ||\n"
    "|      |'--+------'|\n"
    "|------+-----------|\n"
    "|Duplex|on         |\n"
    "|      |off        |\n"
    "'------+-----------'\n"
    "\n"
    "\n"
    "A table without a frame:\n"
    "\n"
    "  left   right\n"
    "\n"
    "\n"
    "\n"
    "Back to the <installation steps>.\n",
    " 1) installation steps\n");

// The screen without the two rows from the one beginning "Entities:".
std::string WithoutEntities(std::string s) {
  size_t at = s.find("\nEntities:");
  if (at == std::string::npos) return s;
  size_t end = s.find('\n', s.find('\n', at + 1) + 1);
  return s.erase(at + 1, end - at);
}

// Waits until the screen, seen through WithoutEntities, is screen (up to 30 s).
std::string WaitForHelp(Pane& pane, const std::string& screen) {
  std::string s;
  for (int i = 0; i < 600; i++) {
    s = WithoutEntities(pane.Screen());
    if (s == screen) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return s;
}

TEST(KhelpTerminal, PageLinksBackContentsAndExitHelp) {
  Pane pane("cd /tmp && " + kKhelp + " " + kIndex, 50);
  EXPECT_EQ(WaitForHelp(pane, kIndexScreen), kIndexScreen);
  pane.Line("3");  // tables.html#queues: another file, relative to this one
  EXPECT_EQ(WaitForHelp(pane, kTablesScreen), kTablesScreen);
  pane.Line("b");
  EXPECT_EQ(WaitForHelp(pane, kIndexScreen), kIndexScreen);
  pane.Line("2");
  EXPECT_EQ(WaitForHelp(pane, kTablesScreen), kTablesScreen);
  pane.Line("c");
  EXPECT_EQ(WaitForHelp(pane, kIndexScreen), kIndexScreen);
  pane.Line("b");  // nothing to go back to: the page stays
  pane.Line("");   // an empty line selects nothing
  EXPECT_EQ(WaitForHelp(pane, kIndexScreen), kIndexScreen);
  pane.Line("e");
  std::string end = kIndexScreen + " e\n[exit 0]";
  EXPECT_EQ(WaitForHelp(pane, end), end);
}

TEST(KhelpTerminal, EndOfInputLeavesHelpAndAMissingFileIsReported) {
  Pane pane("cd /tmp && " + kKhelp + " " + kIndex + "#install", 50);
  EXPECT_EQ(WaitForHelp(pane, kIndexScreen), kIndexScreen);
  pane.Key("C-d");
  std::string end = kIndexScreen + "\n[exit 0]";
  EXPECT_EQ(WaitForHelp(pane, end), end);

  Pane missing("cd /tmp && " + kKhelp + " nothing.html");
  std::string report = "Error in reading HTML file nothing.html\n[exit 1]";
  EXPECT_EQ(missing.WaitForScreen(report), report);
}

// The menu program's own screen, as it first shows.
const std::string kQueueScreen =
    "\n"
    "\n"
    "Print queue settings:\n"
    "\n"
    "Current values in brackets\n"
    "\n"
    "\n"
    " 1) Queue name ................ [lp0]\n"
    " 2) Description ............... []\n"
    " 3) Connection type ........... [1. Local port]\n"
    " 4) Local port\n"
    " 5) Paper size ................ [1. A4]\n"
    " 6) Copies .................... [1]\n"
    " 7) Darkness .................. [5.000]\n"
    " 8) Input trays ............... [1,2]\n"
    " 9) Banner page ............... [1. Off]\n"
    "11) Paper list           12) Test page             a) Accept\n"
    " c) Cancel                x) Exit\n"
    "\n"
    "s=save settings   h=help   Enter=leave\n"
    "Selection:";

TEST(MenuHelpKey, HOpensTheMenuProgramsHelpAndExitHelpReturnsToTheMenu) {
  Pane pane("cd /tmp && " + kKmenu);
  EXPECT_EQ(pane.WaitForScreen(kQueueScreen), kQueueScreen);
  pane.Line("h");
  std::string help = HelpScreen(
      "                              Print queue settings\n"
      "\n"
      "\n"
      "\n"
      "This menu holds the settings of one print queue.\n"
      "Type an item's number to change its value, or a letter for a command.\n"
      "\n"
      "\n"
      "The values: <what each value means>. Saving: <how the settings are kept>.\n"
      "\n"
      "\n"
      "Type e to leave this help and go back to the menu.\n",
      " 1) what each value means\n"
      " 2) how the settings are kept\n");
  EXPECT_EQ(pane.WaitForScreen(help), help);
  pane.Line("1");
  std::string values = HelpScreen(
      "                                   The values\n"
      "\n"
      "\n"
      "   1. Queue name: letters, digits, \"_\" and \"-\", up to 14 characters.\n"
      "   2. Connection: a local port or a network printer, each with a submenu.\n"
      "   3. Paper size, Copies and Darkness: what every job gets.\n"
      "   4. Input trays: a full-screen list; type the numbers to switch.\n"
      "\n"
      "\n"
      "Back to the <first page>.\n",
      " 1) first page\n");
  EXPECT_EQ(pane.WaitForScreen(values), values);
  pane.Line("E");
  EXPECT_EQ(pane.WaitForScreen(kQueueScreen), kQueueScreen);
  pane.Line("x");
  std::string end = kQueueScreen + " x\n[exit 0]";
  EXPECT_EQ(pane.WaitForScreen(end), end);
}

}  // namespace
