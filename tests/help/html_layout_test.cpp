// Laying pages out as text: rows, titles, lists, links, tables, packing, and hostile tables.
#include <gtest/gtest.h>

#include <string>

#include "help_test_util.h"

using help_test::Body;
using help_test::Load;
using help_test::PageN;
using help_test::Text;

namespace {

// The table record of the n-th body element of the file's first page (a "fitab" element).
TextTable* TableAt(HtmlFile* f, int n) {
  HtmlElement* e = help_test::BodyElement(f, n);
  return e && e->szTag && std::string(e->szTag) == "fitab" ? static_cast<TextTable*>(e->pData)
                                                          : nullptr;
}

HtmlAnchor* AnchorAt(HtmlFile* f, int n) {
  return static_cast<HtmlAnchor*>(help_test::BodyElement(f, n)->pData);
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; i++) out += s;
  return out;
}

}  // namespace

TEST(BuildTextImage, ParagraphRowsAndLines) {
  HtmlFile* f = Load("<html><body><p>Hi</p></body></html>");
  EXPECT_EQ(PageN(f, 1)->Lines, 3);
  EXPECT_EQ(Text(f), "\n\nHi\n");
  // text on the last row counts as a row; br, headings and div break lines
  EXPECT_EQ(Body("a<br>b<h1>c</h1>d<div>e</div>f<x>g</y>"), "a\nb\nc\n\nd\ne\n\nfg\n");
  EXPECT_EQ(Body(""), "");
}

TEST(BuildTextImage, TitleCentredInEightyColumns) {
  HtmlFile* f = Load("<html><head><title>Twenty characters!!!</title></head><body>x</body></html>");
  EXPECT_EQ(Text(f), std::string(30, ' ') + "Twenty characters!!!\n\nx\n");
  std::string longTitle(90, 'T');
  f = Load("<html><head><TITLE>" + longTitle + "</TITLE></head></html>");
  EXPECT_EQ(Text(f), longTitle + "\n\n");
}

TEST(BuildTextBody, OrderedListNumbersItems) {
  EXPECT_EQ(Body("<ol><li>one</li><li>two</ol>after"), "\n   1. one\n   2. two\nafter\n");
  EXPECT_EQ(Body("<li>plain<ol><li>a</ol><ol><li>b</ol>"), "plain\n   1. a\n\n   1. b\n");
}

TEST(BuildTextBody, LinkBracketsAndOffsets) {
  HtmlFile* f = Load("<html><body><p>See <a href=x>More</a> and <a name=m>here</a>.</p></body></html>");
  std::string text = Text(f);
  EXPECT_EQ(text, "\n\nSee <More> and here.\n");
  HtmlAnchor* link = AnchorAt(f, 3);
  EXPECT_EQ(link->Len, 6);
  EXPECT_EQ(link->End - link->Start, 6);
  EXPECT_EQ(text.substr(link->Start, 6), "<More>");
  HtmlAnchor* name = AnchorAt(f, 7);
  EXPECT_EQ(text.substr(name->Start, name->End - name->Start), "here");
  List* links = &PageN(f, 1)->Links;
  ASSERT_EQ(links->Count, 2);
  EXPECT_EQ(*static_cast<HtmlAnchor**>(ListFindItemN(links, 1)), link);
  EXPECT_EQ(*static_cast<HtmlAnchor**>(ListFindItemN(links, 2)), name);
}

TEST(DrawTableArea, BorderedTwoCellTable) {
  HtmlFile* f = Load("<html><body><table border><tr><td>Ab</td><td>Cde</td></tr></table></body></html>");
  EXPECT_EQ(Text(f),
            ",--+---,\n"
            "|Ab|Cde|\n"
            "'--+---'\n");
  TextTable* t = TableAt(f, 1);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Width, 8);
  EXPECT_EQ(t->Height, 3);
  EXPECT_EQ(t->RowCount, 1);
  EXPECT_EQ(t->ColCount, 2);
  // two rows, padding of one character (7 pixels)
  EXPECT_EQ(Body("<table border=1 cellpadding=7><tr><td>a</td><td>bb</td></tr><tr><td>ccc</td></tr></table>"),
            ",-----+----,\n"
            "| a   | bb |\n"
            "|-----+----|\n"
            "| ccc |    |\n"
            "'-----+----'\n");
  // no border: the frame's places are blanks
  EXPECT_EQ(Body("<table><tr><td>a</td><td>b</td></tr></table>x"), "     \n a b \n     \nx\n");
}

TEST(GetTextTable, SizedWidthsAndPercentages) {
  HtmlFile* f = Load("<html><body><table width=140 border=1><tr><td>x</td></tr></table></body></html>");
  EXPECT_EQ(TableAt(f, 1)->Width, 19);  // (140 - 2 x 1 border) / 7
  EXPECT_EQ(Text(f), "," + std::string(17, '-') + ",\n|x" + std::string(16, ' ') + "|\n'" +
                         std::string(17, '-') + "'\n");
  // a td's width: N% of the table's width less padding and separator, or N pixels
  f = Load("<html><body><table width=\"280\" border=0 cellpadding=7><tr><td width=\"50%\">a</td>"
           "<td width=70>b</td><td>c</td></tr></table></body></html>");
  TextTable* t = TableAt(f, 1);
  EXPECT_EQ(t->Width, (280 - 2 * 3 * 7 - 4 * 0) / 7);
  EXPECT_EQ(t->pColWidths[0], t->Width * 50 / 100 - 2 - 1);
  EXPECT_EQ(t->pColWidths[1], 10);
  EXPECT_EQ(t->pColWidths[2], 1);
  // a nested table of width 100% is as wide as its cell asks
  f = Load("<html><body><table width=420 border><tr><td width=\"50%\"><table width=\"100%\" border>"
           "<tr><td>in</td></tr></table></td><td>out</td></tr></table></body></html>");
  t = TableAt(f, 1);
  TextTable* nested = TableAt(f, 4);
  ASSERT_NE(nested, nullptr);
  EXPECT_EQ(nested->Width, t->Width * 50 / 100 - 1);
  EXPECT_EQ(t->pColWidths[0], nested->Width);
}

TEST(BuildTextBody, NestedTablesInsideCells) {
  EXPECT_EQ(Body("<table border cellpadding=7><tr><td>x</td><td><table border><tr><td>in</td></tr>"
                 "<tr><td>two</td></tr></table></td></tr><tr><td>last row</td><td>q</td></tr></table>"
                 "<p>after</p>"),
            ",----------+-------,\n"
            "| x        | ,---, |\n"
            "|          | |in | |\n"
            "|          | |---| |\n"
            "|          | |two| |\n"
            "|          | '---' |\n"
            "|----------+-------|\n"
            "| last row | q     |\n"
            "'----------+-------'\n"
            "\n"
            "\n"
            "after\n");
  // text before the nested table in the same cell puts the table one row lower
  EXPECT_EQ(Body("<table border><tr><td>a<table border><tr><td>b</td></tr></table></td></tr></table>"),
            ",---,\n"
            "|a  |\n"
            "|,-,|\n"
            "||b||\n"
            "|'-'|\n"
            "'---'\n");
}

TEST(PrintTextImage, PackingFillsGapsAndRunsOnLongRows) {
  // a table placed after text on a row: the gap before the frame reads as blanks
  EXPECT_EQ(Body("ab<table border><tr><td>c</td></tr></table>"), "ab,-,\n  |c|\n  '-'\n");
  // a text longer than a row runs on into the rows it covers and packs as one line
  std::string longText(300, 'x');
  HtmlFile* f = Load("<html><body>" + longText + " <a href=t>end</a></body></html>");
  std::string text = Text(f);
  EXPECT_EQ(text, longText + " <end>\n");
  HtmlAnchor* a = AnchorAt(f, 2);
  EXPECT_EQ(text.substr(a->Start, a->End - a->Start), "<end>");
}

TEST(PrintTextImage, TheImageGrowsWithTheLayout) {
  // three elements, thousands of rows
  EXPECT_EQ(Body(Repeat("<p>", 3000) + "x"), std::string(6000, '\n') + "x\n");
  std::string big(200000, 'y');
  EXPECT_EQ(Body("<p>" + big + "</p>"), "\n\n" + big + "\n");
}

TEST(GetTextTable, HostileTablesStayInsideTheirBounds) {
  // more than 1000 columns and rows: cut at 1000
  HtmlFile* f = Load("<html><body><table border><tr>" + Repeat("<td>c</td>", 1200) +
                     "</tr></table></body></html>");
  ASSERT_NE(TableAt(f, 1), nullptr);
  EXPECT_EQ(TableAt(f, 1)->ColCount, 1000);
  EXPECT_LE(TableAt(f, 1)->Width, 2048);
  f = Load("<html><body><table border>" + Repeat("<tr><td>r</td></tr>", 1100) + "</table>z</body></html>");
  EXPECT_EQ(TableAt(f, 1)->RowCount, 1000);
  EXPECT_EQ(Text(f).substr(0, 12), ",-,\n|r|\n|-|\n");
  // negative, huge and broken sizes
  f = Load("<html><body><table width=-50 cellpadding=-7 cellspacing=99999999999999999999 "
           "border=\"999999999999\"><tr><td width=99999999999%>a</td></tr></table></body></html>");
  TextTable* t = TableAt(f, 1);
  EXPECT_EQ(t->Pad, 0);
  EXPECT_EQ(t->Width, 0 + 3);  // no width from the attribute: 2 x 0 + 1 column + 1 + 1
  EXPECT_GE(t->Spacing, 0);
  f = Load("<html><body><table width=999999999 cellpadding=99999><tr><td width=999999999>a"
           "</td></tr></table></body></html>");
  EXPECT_LE(TableAt(f, 1)->Width, 2048);
  EXPECT_LE(TableAt(f, 1)->Pad, 20);
  // rows and cells with no tr, td or end tags, stray end tags
  EXPECT_EQ(Body("</table></tr><table border><td>a<td>b<tr><td>c</table>z"),
            ",-+-,\n|a|b|\n|-+-|\n|c| |\n'-+-'\nz\n");
  // "fitab" written in the text is no sized table: it reads as an unknown tag does
  EXPECT_EQ(Body("<fitab>a<table border><tr><td>b<FITAB border=1>c</td></tr></table>"),
            Body("<xyzzy>a<table border><tr><td>b<XYZZY border=1>c</td></tr></table>"));
}

TEST(GetTextTable, DeepNestingIsCut) {
  // 40 levels: the 33rd and deeper are left out, nothing runs away
  std::string html = Repeat("<table border><tr><td>", 40) + "core" + Repeat("</td></tr></table>", 40);
  std::string text = Body(html + "after");
  EXPECT_EQ(text.find("core"), std::string::npos);
  EXPECT_NE(text.find("after"), std::string::npos);
  // a thousand levels of unclosed tables
  text = Body(Repeat("<table><tr><td>", 1000) + "x");
  EXPECT_EQ(text.find('x'), std::string::npos);
}

// A table left open at the end of the body: whatever the layout wrote below the row where the
// walk ended still belongs to the page (its rows are counted in Lines).
TEST(BuildTextBody, RowsWrittenInsideAnOpenTableAreKept) {
  HtmlFile* f = Load("<html><body><table>x<br>y<br>z</body></html>");
  EXPECT_EQ(Text(f), " \n x\n y\n z\n");
  EXPECT_EQ(PageN(f, 1)->Lines, 4);
}

// An anchor whose closing tag is laid out before it (in a later cell, after the row moved
// back up to the row's top) is empty: it never ends before it begins.
TEST(BuildTextBody, LinkClosedBeforeItsStartIsEmpty) {
  HtmlFile* f = Load("<html><body><table border><tr><td><br><br><a href=x>L</td><td>m</a></td>"
                     "</tr></table></body></html>");
  ASSERT_EQ(PageN(f, 1)->Links.Count, 1);
  HtmlAnchor* a = *static_cast<HtmlAnchor**>(PageN(f, 1)->Links.pFirst->pItem);
  EXPECT_EQ(a->Len, 0);
  EXPECT_EQ(a->End, a->Start);
  EXPECT_EQ(Text(f).substr(size_t(a->Start), 2), "<L");
}
