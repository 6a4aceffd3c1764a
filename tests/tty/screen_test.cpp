// Screen record: the grid printed in one pass, texts and rectangles kept inside the cells,
// the message box, the test pattern and the terminal size without a terminal.
#include <gtest/gtest.h>

#include <string>

#include "tests/tty/tty_test_util.h"
#include "tty/TextMenu.h"

using tty_test::GuardedScreen;
using tty_test::RunWithInput;

namespace {

std::string RefreshOutput(GuardedScreen& g) {
  return ktest::RunChild([&] { Refresh(&g.Screen); }).out;
}

}  // namespace

TEST(Refresh, PrintsTheGridInOneRunWithoutItsLastCell) {
  GuardedScreen g(4, 3, "abcdefghijkl");
  EXPECT_EQ(RefreshOutput(g), "abcdefghijk");
}

TEST(Refresh, LineFeedEndsItsRowAndZeroHidesTheRestOfARow) {
  GuardedScreen lf(4, 3, "abc\nefghijkl");
  EXPECT_EQ(RefreshOutput(lf), "abcefghijk");
  GuardedScreen zero(4, 3, std::string("ab\0dxfghijkl", 12));
  EXPECT_EQ(RefreshOutput(zero), "abxfghijk");
  GuardedScreen lfFirst(4, 2, "\nbcdefgh");
  EXPECT_EQ(RefreshOutput(lfFirst), "bcd");  // row 2 takes b, c, d and the unprinted last cell
}

TEST(Refresh, RowsWiderThanTheLineBufferPrintWhole) {
  GuardedScreen g(5000, 2, std::string(10000, 'w'));
  EXPECT_EQ(RefreshOutput(g), std::string(9999, 'w'));
  EXPECT_TRUE(g.GuardsIntact());
}

TEST(WriteString, OutOfRangePositionsAreClampedAndThePositionStays) {
  GuardedScreen g(4, 3);
  SetPosition(&g.Screen, 2, 0);  // row 0: row 1
  EXPECT_EQ(WriteString(&g.Screen, "%s", "xy"), 2);
  SetPosition(&g.Screen, 9, 2);  // column past the width: column 0
  EXPECT_EQ(WriteString(&g.Screen, "%d", 42), 2);
  EXPECT_EQ(g.Cells(), std::string("\0\0xy42\0\0\0\0\0\0", 12));
  EXPECT_EQ(g.Screen.CurCol, 0);
  EXPECT_EQ(g.Screen.CurRow, 2);
}

TEST(WriteString, RunsOnIntoTheNextRowAndIsCutAtTheGridsEnd) {
  GuardedScreen g(4, 3);
  SetPosition(&g.Screen, 2, 1);
  EXPECT_EQ(WriteString(&g.Screen, "abcdef"), 6);
  EXPECT_EQ(g.Cells().substr(2, 6), "abcdef");
  SetPosition(&g.Screen, 2, 3);
  EXPECT_EQ(WriteString(&g.Screen, "%s", "0123456789"), 2);
  EXPECT_EQ(g.Cells().substr(10), "01");
  SetPosition(&g.Screen, 4, 3);  // column == Width on the last row: the cell after the grid
  EXPECT_EQ(WriteString(&g.Screen, "zz"), 0);
  EXPECT_TRUE(g.GuardsIntact());
}

TEST(WriteString, OneTextIsAtMost511Characters) {
  GuardedScreen g(100, 10);
  EXPECT_EQ(WriteString(&g.Screen, "%s", std::string(700, 'q').c_str()), 511);
  EXPECT_EQ(g.Cells().find_first_not_of('q'), 511u);
}

TEST(FillArea, FillsRowsFromAZeroBasedRowAndReturnsTheRowCount) {
  GuardedScreen g(4, 3, "............");
  EXPECT_EQ(FillArea(&g.Screen, 1, 1, 2, 2, '#'), 2);
  EXPECT_EQ(g.Cells(), ".....##..##.");
  EXPECT_EQ(FillArea(&g.Screen, 3, 0, 2, 1, 'x'), 1);  // runs on into the next row
  EXPECT_EQ(g.Cells(), "...xx##..##.");
}

TEST(FillArea, RectanglesOutsideTheGridAreCut) {
  GuardedScreen g(4, 3, "............");
  EXPECT_EQ(FillArea(&g.Screen, 2, 2, 50, 9, '+'), 9);
  EXPECT_EQ(g.Cells(), "..........++");
  EXPECT_EQ(FillArea(&g.Screen, -5, 1, 6, 1, '-'), 1);  // from cell -1 to cell 4
  EXPECT_EQ(g.Cells(), "-----.....++");
  FillArea(&g.Screen, -6, -1, 7, 1, '*');  // cells -10 to -4
  FillArea(&g.Screen, 0, -2000000000, 4, 2000000000, '*');
  FillArea(&g.Screen, 2000000000, 2000000000, 2000000000, 3, '*');
  EXPECT_EQ(g.Cells(), "-----.....++");
  FillArea(&g.Screen, -2000000000, 1, 1999999999, 1, '/');  // ends before cell 3
  EXPECT_EQ(g.Cells(), "///--.....++");
  EXPECT_TRUE(g.GuardsIntact());
}

TEST(Overlay, BoxWithWaitReadsOneCharacter) {
  GuardedScreen g(80, 24);
  SetOvlInfo(&g.Screen, 5, 5, 10, 1);
  auto c = RunWithInput("xy", [&] {
    Overlay(&g.Screen, "hello", 1);
    printf("|next=%c", getchar());
  });
  EXPECT_EQ(c.out, "**************\n* hello      ** Press enter  ***************|next=y");
}

TEST(Overlay, BoxWithoutWaitLineFeedsAndLongTexts) {
  GuardedScreen g(80, 24);
  SetPosition(&g.Screen, 7, 3);
  SetOvlInfo(&g.Screen, 0, 0, 4, 0);  // at most three rows of four characters
  auto c = RunWithInput("", [&] { Overlay(&g.Screen, "ab\ncdefg", 0); });
  EXPECT_EQ(c.out, "********\n* ab   ** defg *********");
  c = RunWithInput("", [&] { Overlay(&g.Screen, "abcdefghijklmnopq", 0); });
  EXPECT_EQ(c.out, "********\n* abcd ** efgh ** ijkl *********");
  c = RunWithInput("\n", [&] { Overlay(&g.Screen, "", 1); });
  EXPECT_EQ(c.out, "********\n*      ** Press enter*********");
  EXPECT_EQ(g.Screen.CurCol, 7);
  EXPECT_EQ(g.Screen.CurRow, 3);
}

TEST(NumberScreen, DigitPatternInTheFirst1920CellsOnly) {
  GuardedScreen g(80, 25);
  NumberScreen(&g.Screen);
  std::string cells = g.Cells();
  EXPECT_EQ(cells.substr(0, 12), "012345678901");
  EXPECT_EQ(cells.substr(80, 3), "012");
  EXPECT_EQ(cells.substr(1910, 10), "0123456789");
  EXPECT_EQ(cells.substr(1920), std::string(80, '\0'));
  GuardedScreen small(10, 3);
  NumberScreen(&small.Screen);
  EXPECT_EQ(small.Cells(), "012345678901234567890123456789");
  EXPECT_TRUE(small.GuardsIntact());
}

TEST(GetTermInfo, EightyByTwentyFourWithoutATerminalAndCellsKeptAtTheSameSize) {
  auto c = ktest::RunChild([] {
    TextScreen* s = GetTermInfo(nullptr);
    s->pCells[0] = 'k';
    TextScreen* again = GetTermInfo(s);
    printf("%dx%d %d %c", s->Width, s->Height, again == s, again->pCells[0]);
    TextScreen mine{};
    mine.Width = 3;
    mine.Height = 2;
    GetTermInfo(&mine);
    printf(" %dx%d %d", mine.Width, mine.Height, mine.pCells[80 * 24 - 1]);
  });
  EXPECT_EQ(c.out, "80x24 1 k 80x24 0");
}
