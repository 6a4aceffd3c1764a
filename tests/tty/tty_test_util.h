// tty_test_util.h - what the terminal toolkit's tests share: a child process whose standard
// input is a given text (so prompts read answers, then end of input), a test catalogue of the
// toolkit's messages as pDrvCoreDB, and a screen record over cells with guard bytes on both
// sides, to see that nothing is written outside the grid.
#ifndef KORVI_TESTS_TTY_TEST_UTIL_H
#define KORVI_TESTS_TTY_TEST_UTIL_H

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "db/Dbm.h"
#include "nls/NlsUtils.h"
#include "tests/support/test_support.h"
#include "tty/TextMenu.h"

namespace tty_test {

using ktest::Result;

// Runs fn in a child with input as its standard input, output and error captured.
inline Result RunWithInput(const std::string& input, const std::function<void()>& fn) {
  return ktest::RunChild([&] {
    int fds[2];
    if (pipe(fds) != 0) abort();
    if (write(fds[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) abort();
    close(fds[1]);
    dup2(fds[0], 0);
    close(fds[0]);
    fn();
  });
}

// The toolkit's messages as the tests expect to see them.
inline const std::vector<std::pair<std::string, std::string>> kMessages = {
    {"25_1000", " Use letters, digits, _ and -.\n"},
    {"25_1001", "[Enter]"},
    {"25_1002", "Bad character '%c'."},
    {"25_1003", "Integer must be between %d and %d."},
    {"25_1004", "Hex value must be between %d and %d."},
    {"25_1024", "Number must be between %Lf and %Lf."},
    {"25_1006", "Bad character '%c' in a number."},
    {"25_1007", "'%c' is not allowed (also %s)."},
    {"25_1008", "'%c' is not a letter (also %s)."},
    {"25_1009", "The value %s is reserved."},
    {"25_1020", "Only one decimal point."},
    {"25_1025", "typed '%c', expected '%c' after \"%s\"."},
    {"30_42", "Enter %d to %d characters."},
    {"30_44", "Enter exactly %d characters."},
};

// Writes message (key, text) into the test catalogue.
inline void PutMessage(const std::string& key, const std::string& text) {
  DbmTPutRecord(pDrvCoreDB, key.c_str(), text.c_str(), static_cast<int>(text.size() + 1));
}

// Opens a fresh catalogue holding kMessages as pDrvCoreDB (children inherit it).
inline void OpenTestCatalogue() {
  char dir[] = "/tmp/korvi_tty_XXXXXX";
  if (!mkdtemp(dir)) abort();
  pDrvCoreDB = DbTOpen((std::string(dir) + "/CoreString.kdb").c_str(), 0);
  for (const auto& m : kMessages) PutMessage(m.first, m.second);
}

constexpr int kGuard = 64;
constexpr char kGuardByte = '#';

// A width x height screen whose cells sit between guard bytes; cells start as zeros.
struct GuardedScreen {
  std::vector<char> Mem;
  TextScreen Screen{};
  GuardedScreen(int width, int height, const std::string& cells = "")
      : Mem(static_cast<size_t>(width) * height + 2 * kGuard, kGuardByte) {
    Screen.Width = width;
    Screen.Height = height;
    Screen.CurRow = 1;
    Screen.pCells = Mem.data() + kGuard;
    std::fill(Screen.pCells, Screen.pCells + width * height, '\0');
    std::copy(cells.begin(), cells.end(), Screen.pCells);
  }
  std::string Cells() const {
    return std::string(Screen.pCells, static_cast<size_t>(Screen.Width) * Screen.Height);
  }
  bool GuardsIntact() const {
    for (int i = 0; i < kGuard; i++) {
      if (Mem[i] != kGuardByte || Mem[Mem.size() - 1 - i] != kGuardByte) return false;
    }
    return true;
  }
};

}  // namespace tty_test

#endif  // KORVI_TESTS_TTY_TEST_UTIL_H
