// kmenu end to end: the program runs in a tmux pane of 80 x 40, keys are typed with send-keys
// and each screen is read back with capture-pane and compared as text.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <string>

#include "tests/support/test_support.h"
#include "tests/tty/pane_test_util.h"

namespace {

const std::string kMenuProgram = std::string(KORVI_BINARY_DIR) + "/kmenu";

using pane_test::Pane;

// The queue menu with the values given, as the screen shows it.
std::string QueueScreen(const std::string& name, const std::string& description,
                        const std::string& connection, const std::string& paper,
                        const std::string& copies, const std::string& darkness,
                        const std::string& trays, const std::string& banner,
                        const std::string& bannerText, const std::string& tail) {
  std::string s =
      "\n"
      "\n"
      "Print queue settings:\n"
      "\n"
      "Current values in brackets\n"
      "\n"
      "\n"
      " 1) Queue name ................ [" + name + "]\n"
      " 2) Description ............... [" + description + "]\n"
      " 3) Connection type ........... [" + connection + "]\n"
      " 4) " + (connection == "1. Local port" ? "Local port" : "Network printer") + "\n"
      " 5) Paper size ................ [" + paper + "]\n"
      " 6) Copies .................... [" + copies + "]\n"
      " 7) Darkness .................. [" + darkness + "]\n"
      " 8) Input trays ............... [" + trays + "]\n"
      " 9) Banner page ............... [" + banner + "]\n";
  if (!bannerText.empty()) s += "10) Banner text ............... [" + bannerText + "]\n";
  s += "11) Paper list           12) Test page             a) Accept\n"
       " c) Cancel                x) Exit\n"
       "\n"
       "s=save settings   h=help   Enter=leave\n"
       "Selection:" + tail;
  return s;
}

// The picker's screen: the title row, the given choice rows from row 3 on, the frame.
std::string PickerScreen(const std::string& title, const std::string& choices,
                         const std::string& selected) {
  std::string s = std::string((80 - title.size()) / 2, ' ') + title + "\n\n" + choices;
  int rows = static_cast<int>(std::count(s.begin(), s.end(), '\n'));
  for (; rows < 37; rows++) s += "\n";
  return s + "s=Save                                  c=Cancel\n" + "Selected:" + (selected.empty() ? "" : " " + selected) + "\n" +
         "Type a number to switch a choice, Enter for the next page";
}

std::string Numbered(int from, int to, const char* const* names, int hidden1 = 0, int hidden2 = 0,
                     int current = 0) {
  std::string s;
  for (int i = from; i <= to; i++) {
    char row[128];
    const char* mark = i == current ? " ->" : "   ";
    if (i == hidden1 || i == hidden2) {
      snprintf(row, sizeof row, "%s     %s\n", mark, names[i - 1]);
    } else {
      snprintf(row, sizeof row, "%s %2d) %s\n", mark, i, names[i - 1]);
    }
    std::string r = row;
    while (r.size() > 1 && r[r.size() - 2] == ' ') r.erase(r.size() - 2, 1);
    s += r;
  }
  return s;
}

const char* const kTrays[] = {
    "Tray 1: standard cassette for 500 sheets", "Tray 2: standard cassette for 500 sheets",
    "Tray 3: optional cassette for 500 sheets", "Tray 4: optional cassette for 500 sheets",
    "Tray 5: high-capacity feeder for 2000", "Tray 6: high-capacity feeder for 2000",
    "Tray 7: envelope feeder (not fitted)", "Tray 8: manual feed slot", "Tray 9: label stock",
    "Tray 10: transparencies", "Tray 11: heavy paper", "Tray 12: letterhead",
    "Tray 13: coloured paper", "Tray 14: recycled paper", "Tray 15: cheques", "Tray 16: forms",
    "Tray 17: invoices", "Tray 18: delivery notes", "Tray 19: card stock", "Tray 20: tab stock",
    "Tray 21: photo paper", "Tray 22: glossy paper", "Tray 23: matte paper", "Tray 24: banners",
    "Tray 25: postcards", "Tray 26: index cards", "Tray 27: A5 sheets", "Tray 28: B5 sheets",
    "Tray 29: statements", "Tray 30: executive sheets",
    "Tray 31: second envelope feeder (not fitted)", "Tray 32: bond paper",
    "Tray 33: archival paper", "Tray 34: carbonless forms", "Tray 35: pre-punched paper",
    "Tray 36: perforated paper", "Tray 37: security paper", "Tray 38: tracing paper",
    "Tray 39: vellum", "Tray 40: spare"};
std::string NetScreen(const std::string& host, const std::string& port, const std::string& protocol) {
  return "\n\n" + std::string(65, ' ') + "Network printer\n\n 1) Host .... [" + host +
         "]\n 2) Port .... [" + port + "]\n 3) Protocol  [" + protocol +
         "]\n b) Back\n\nEnter=leave\nSelection:";
}

// Types line once the screen is complete, then expects the screen that follows.
void Step(Pane& pane, const std::string& line, const std::string& screen) {
  pane.Line(line);
  EXPECT_EQ(pane.WaitForScreen(screen), screen) << "after typing \"" << line << "\"";
}

const char* const kPapers[] = {"A4", "Letter", "Legal", "A3", "Executive"};

}  // namespace

TEST(kmenu, EditSaveAndLoadThroughAPseudoTerminal) {
  std::string dir = ::testing::TempDir() + "/kmenu_pty_" + std::to_string(getpid());
  mkdir(dir.c_str(), 0700);
  std::string cfg = dir + "/queue.cfg";
  unlink(cfg.c_str());
  std::string s;
  {
    Pane pane(kMenuProgram + " " + cfg);
    const std::string first =
        QueueScreen("lp0", "", "1. Local port", "1. A4", "1", "5.000", "1,2", "1. Off", "", "");
    EXPECT_EQ(pane.WaitForScreen(first), first);

    // A rejected entry and its message; the value stays.
    pane.Line("6 150");
    s = first + " 6 150\nThe number must be from 1 to 99.\nPress Enter to continue.";
    EXPECT_EQ(pane.WaitForScreen(s), s);
    pane.Line("");
    EXPECT_EQ(pane.WaitForScreen(first), first);

    // Values on the selection line and through the prompt. Each line is typed once the screen
    // before it is complete, as a person would.
    Step(pane, "6 12", QueueScreen("lp0", "", "1. Local port", "1. A4", "12", "5.000", "1,2", "1. Off", "", ""));
    Step(pane, "7 7.5", QueueScreen("lp0", "", "1. Local port", "1. A4", "12", "7.500", "1,2", "1. Off", "", ""));
    s = QueueScreen("lp0", "Second floor", "1. Local port", "1. A4", "12", "7.500", "1,2", "1. Off", "", "");
    Step(pane, "2 Second floor", s);
    Step(pane, "1", s + " 1\nQueue name:");
    Step(pane, "lp_main", QueueScreen("lp_main", "Second floor", "1. Local port", "1. A4", "12",
                                      "7.500", "1,2", "1. Off", "", ""));
    // The banner page on: its text is shown.
    Step(pane, "9", QueueScreen("lp_main", "Second floor", "1. Local port", "1. A4", "12", "7.500",
                                "1,2", "2. On", "KORVI", ""));

    // The several-of list in the picker: two pages, hidden trays without numbers.
    s = PickerScreen("Input trays", Numbered(1, 34, kTrays, 7, 31, 1),
                     "Tray 1: standard cassette for 500 sheets Tray 2: standard casse");
    s.replace(s.find("     2) Tray 2"), 3, " ->");
    Step(pane, "8", s);
    Step(pane, "", PickerScreen("Input trays", Numbered(35, 40, kTrays), ""));
    // Choices of both pages switched on (7 is hidden and ignored).
    Step(pane, "5,6 7,36", PickerScreen("Input trays", Numbered(35, 40, kTrays, 0, 0, 36),
                                        "Tray 36: perforated paper"));
    Step(pane, "s", QueueScreen("lp_main", "Second floor", "1. Local port", "1. A4", "12", "7.500",
                                "1,2,5,6,36", "2. On", "KORVI", ""));

    // The paper list from a command item; A3 prints one copy at a time.
    Step(pane, "11", PickerScreen("Paper size", Numbered(1, 5, kPapers, 0, 0, 1), "A4"));
    Step(pane, "4", PickerScreen("Paper size", Numbered(1, 5, kPapers, 0, 0, 4), "A3"));
    Step(pane, "s", QueueScreen("lp_main", "Second floor", "1. Local port", "4. A3", "1", "7.500",
                                "1,2,5,6,36", "2. On", "KORVI", ""));

    // The network submenu, reached once the connection type says so.
    Step(pane, "3", QueueScreen("lp_main", "Second floor", "2. Network", "4. A3", "1", "7.500",
                                "1,2,5,6,36", "2. On", "KORVI", ""));
    Step(pane, "4", NetScreen("printer1", "515", "1. LPD"));
    Step(pane, "1 print-host.example", NetScreen("print-host.example", "515", "1. LPD"));
    Step(pane, "3 3", NetScreen("print-host.example", "9100", "3. Raw socket"));
    Step(pane, "3 2", NetScreen("print-host.example", "515", "2. IPP"));
    const std::string last = QueueScreen("lp_main", "Second floor", "2. Network", "4. A3", "1",
                                         "7.500", "1,2,5,6,36", "2. On", "KORVI", "");
    Step(pane, "b", last);

    // Leaving asks the save question; yes writes the file.
    s = last + "\nSave the changes? [y/n]";
    Step(pane, "", s);
    Step(pane, "y", s + " y\nSaved the settings in " + cfg + "\n[exit 0]");
  }
  EXPECT_EQ(ktest::ReadFile(cfg),
            "3[lp_main] 11 0\n"
            "4[Second floor] 12 0\n"
            "5[1] 9 0\n"
            "7[3] 9 0\n"
            "8[1] 13 0\n"
            "9[7.500] 14 0\n"
            "11[1] 9 0\n"
            "12[KORVI] 12 0\n"
            "6{\n"
            "0[print-host.example] 11 0\n"
            "1[515] 13 0\n"
            "2[1] 9 0\n"
            "}\n");

  // Started again on the file, every value is back, the submenu's too.
  Pane pane(kMenuProgram + " " + cfg);
  const std::string last = QueueScreen("lp_main", "Second floor", "2. Network", "4. A3", "1",
                                       "7.500", "1,2", "2. On", "KORVI", "");
  EXPECT_EQ(pane.WaitForScreen(last), last);
  Step(pane, "4", NetScreen("print-host.example", "515", "2. IPP"));

  // A change made only in the submenu is a change: leaving asks the save question; "n" goes
  // on to the leave question.
  Step(pane, "2 631", NetScreen("print-host.example", "631", "2. IPP"));
  Step(pane, "b", last);
  s = last + "\nSave the changes? [y/n]";
  Step(pane, "", s);
  s += " n\nQuit kmenu? [y/n]";
  Step(pane, "n", s);
  Step(pane, "y", s + " y\n\n[exit 0]");
  EXPECT_EQ(ktest::ReadFile(cfg).find("631"), std::string::npos);
}
