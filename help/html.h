// html.h - HTML help files parsed into pages of flat element lists, and laid out as text.
// A help file is read once into one pool block; tags, entities and white space are decoded in
// place, so every element text is a terminated stretch of that block, kept for the life of
// the process. Each page is laid out once, at load time, into rows of 132 characters and
// packed into one text with a line feed after each row; anchors then hold text offsets.
// Files are never unloaded: the table holds 100. Results are pointers or none; a load that
// fails gives null. All state is process-wide (one thread).
//
// Beyond the plain scheme: every scan stops at the end of the text; a NUL byte inside a file
// reads as a blank; character references read without overflow, decimal or hexadecimal,
// and one that names no Latin-1 character gives "?"; control characters, written or
// referenced, give "?" (a referenced white-space character a blank), so a page holds only
// text and its line feeds; white space inside a text run folds to one blank; the image grows with the layout; tables are clamped to 1000 rows and columns,
// to bounded widths and paddings, and to 32 levels of nesting (deeper tables are left out).
#ifndef KORVI_HELP_HTML_H
#define KORVI_HELP_HTML_H

#include <cstdint>
#include <cstdio>

#include "base/List.h"

// An anchor, made for every "a" tag.
struct HtmlAnchor {
  char* szTarget;  // value of its name or href attribute (the last of them), null if neither
  int32_t Start;   // during layout the row, after packing the text offset of the anchor text
  int32_t End;     // during layout the column, after packing the offset just after the text
  int32_t Len;     // the anchor text's length in characters
  int32_t Kind;    // 1 name anchor, 2 link (href), 0 neither
};

// One item of a page's Head or Body.
struct HtmlElement {
  char* szTag;    // the tag name as written (case kept), null for a text element
  void* pData;    // text: the decoded text; tag: its attribute text; "a": its HtmlAnchor;
                  // a laid-out table ("fitab"): its TextTable
  int32_t Len;    // characters of the text or attribute text (before an anchor replaced it)
};

// One page: the part of a file between an html tag and the next.
struct HtmlPage {
  char* szPage;   // the name from page="...", or null
  char* pImage;   // the laid-out, packed text, null until built
  List Head;      // HtmlElement items of the head
  List Body;      // HtmlElement items of the body
  List Links;     // HtmlAnchor* items (pointers), in text order
  int32_t Lines;  // text rows of the page
};

// One loaded help file.
struct HtmlFile {
  char* szName;    // the path, without "file://" and without the "#target" part
  char* pContent;  // the whole text, decoded in place
  char* pCur;      // the parse cursor
  List Pages;      // HtmlPage items, in file order
};

// A table being laid out (the data of a "fitab" element).
struct TextTable {
  int32_t X;         // left column of the frame
  int32_t Y;         // top row of the frame
  int32_t Width;     // characters, frame included
  int32_t Height;    // rows, frame included
  int32_t Pad;       // cell padding in characters (pixels / 7)
  int32_t Spacing;   // cell spacing in characters (pixels / 7); placing does not use it
  int32_t SepWidth;  // width of a column separator: 1
  char flBorder;     // 1 when the table tag has a border attribute
  int* pRowHeights;  // content rows of each table row (RowCount entries)
  int* pColWidths;   // content width of each column (ColCount entries)
  int32_t RowCount;
  int32_t ColCount;
};

constexpr int kMaxHtmlFiles = 100;    // loaded files
constexpr int kTextRowWidth = 132;    // characters per row of the text image
constexpr int kTitleWidth = 80;       // titles are centred in this width
constexpr int kMaxTableCells = 1000;  // rows and columns of one table
constexpr int kMaxTableDepth = 32;    // levels of nested tables laid out

// ===========================================================================
// Globals
// ===========================================================================

extern HtmlFile* aFile[kMaxHtmlFiles];  // loaded files, FileIndex of them
extern int FileIndex;                   // number of loaded files
extern int CurrentFile;                 // index of the current file in aFile
extern HtmlPage* pCurrentPage;          // the current page
// The 96 Latin-1 entity names with their ";", comma-framed, "nbsp;" (160) to "yuml;" (255):
// position n (1-based) stands for the character 159 + n; HTMLKeySizes[n] is its length.
extern const char HTMLKeys[];
extern const unsigned char HTMLKeySizes[97];
// The tags the layout knows, comma-framed (compared ignoring case).
extern const char HtmlKeys[];

// ===========================================================================
// Parsing (html_parse.cpp)
// ===========================================================================

// Loads a help file (path may begin "file://" and end "#target"); text, when not null, is a
// writable NUL-terminated text used instead of reading the file (it is decoded in place and
// kept). A file already loaded is returned again, not read. Null for "http://" paths,
// unreadable files, files without pages, and when the table is full (a WARNING is printed).
// The file and its first page become current; a target moves to its page (GoToTarget).
HtmlFile* ParseHtmlFile(const char* path, char* text);
// Prints the laid-out text of every page of the help file at path to out, each page followed
// by a form feed line, laying out and releasing one page at a time (nothing of the file stays
// loaded; the file table is not used). Returns the pages printed: 0 for an "http://" path, an
// unreadable file or one without pages, which print nothing.
int DumpHtmlFile(const char* path, FILE* out);
// The loaded file of exactly that name, or null; on a hit CurrentFile becomes its index.
HtmlFile* FindHtmlFile(const char* path);
// The next tag's inner text from the file's cursor (NULs written over "<" and ">"), or null
// when no complete tag is left.
char* GetKeyWord(HtmlFile* file);
// Collects elements into list from the cursor to the end tag "/stop" (not appended) or the
// end of the text; the cursor ends after that end tag.
void ParseHtml(HtmlFile* file, List* list, const char* stop);
// Appends an element (tag null for text); for an "a" tag the attribute text is split in place
// into an HtmlAnchor that replaces it.
void AddAtribute(List* list, char* tag, char* data);
// Makes the page of the current file named target (a leading "#" skipped), or the page with a
// name anchor of that target, the current page. Navigation replaces this with a version that
// also records history; this one changes only pCurrentPage. No match changes nothing.
void GoToTarget(const char* target);

// ===========================================================================
// Layout (html_layout.cpp, html_table.cpp)
// ===========================================================================

// Builds the current page's image if it has none, packs it and turns anchors into offsets.
void PrintTextImage(HtmlFile* file);
// Lays out the current page: its title, centred, then its body.
void BuildTextImage(HtmlFile* file);
// Lays out body elements from the walk position: inside table (drawn first) or, with a null
// table, the whole body from its first element.
void BuildTextBody(HtmlFile* file, TextTable* table, int row, int col);
// Sizes the table whose element is given (the walk cursor stands after it); available is a
// width for percentages, 0 for none. The element becomes "fitab" with the table as its data.
// The walk cursor ends after the table's "/table".
TextTable* GetTextTable(HtmlFile* file, HtmlElement* element, int available);
// The largest number of td in one tr of the table whose elements follow the walk position
// (nested tables skipped); the cursor is restored.
int GetColumnCnt();
// Draws the table's frame (with a border) or blanks its area (without).
void DrawTableArea(HtmlFile* file, TextTable* table);
// Writes n characters of text (with fill: n copies of its first) at (*row, *col) of the
// current page's image, growing the image; returns the new column (also in *col, *row).
int PrintText(HtmlFile* file, int* row, int* col, const char* text, int n, int fill);

#endif  // KORVI_HELP_HTML_H
