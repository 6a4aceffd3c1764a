// help_html.cpp - HTML help files: the input is loaded as a help file (ParseHtmlFile with the
// input as its text), which splits it into pages, parses each page and lays it out into its
// packed text; then the same input is loaded again under another name, and both are unloaded.
// Properties: no access outside a buffer; every page has its text, which holds no more than
// its rows of 132 characters and a line feed each, and no control character but line feeds;
// every anchor's Start and End lie inside the page text, Start not after End; the same input
// lays out to the same pages and anchors.
#include <string>
#include <vector>

#include "base/List.h"
#include "base/MemMgr.h"
#include "fuzz/support.h"
#include "help/html.h"
#include "help/html_private.h"

namespace {

struct PageView {
  std::string name, text;
  std::vector<int> anchors;  // Start, End, Kind of each
};

std::vector<PageView> Examine(HtmlFile* file) {
  std::vector<PageView> pages;
  for (Link* pl = file->Pages.pFirst; pl; pl = pl->pNext) {
    auto* page = static_cast<HtmlPage*>(pl->pItem);
    FUZZ_CHECK(page->pImage, "page %zu has no text", pages.size());
    FUZZ_CHECK(page->Lines >= 0, "page of %d rows", page->Lines);
    PageView v;
    v.name = page->szPage ? page->szPage : "";
    v.text = page->pImage;
    long len = long(v.text.size());
    long rows = 0;
    for (char c : v.text) {
      rows += c == '\n';
      FUZZ_CHECK(c == '\n' || (static_cast<unsigned char>(c) >= 32 && c != 127),
                 "control character %d in the page text", static_cast<unsigned char>(c));
    }
    FUZZ_CHECK(rows <= page->Lines, "%ld lines packed of %d rows", rows, page->Lines);
    FUZZ_CHECK(len <= long(page->Lines) * (kTextRowWidth + 1), "%ld characters in %d rows", len,
               page->Lines);
    for (Link* la = page->Links.pFirst; la; la = la->pNext) {
      HtmlAnchor* a = *static_cast<HtmlAnchor**>(la->pItem);
      FUZZ_CHECK(a->Start >= 0 && a->Start <= a->End && a->End <= len,
                 "anchor %d..%d (length %d) in a text of %ld", a->Start, a->End, a->Len, len);
      v.anchors.insert(v.anchors.end(), {a->Start, a->End, a->Kind});
    }
    pages.push_back(v);
  }
  return pages;
}

// Takes the file out of the table and lets go of what it holds. Elements, links, anchors and
// page texts are the arena's (HelpArenaReset); a sized table's TextTable and its two arrays
// are the pool's, kept by its "fitab" element for as long as the file is loaded.
void Unload(HtmlFile* file) {
  for (Link* pl = file->Pages.pFirst; pl; pl = pl->pNext) {
    for (Link* pe = static_cast<HtmlPage*>(pl->pItem)->Body.pFirst; pe; pe = pe->pNext) {
      auto* e = static_cast<HtmlElement*>(pe->pItem);
      if (HtmlTagKind(e->szTag) != kTagFitab) continue;
      auto* t = static_cast<TextTable*>(e->pData);
      PutMem(t->pRowHeights);
      PutMem(t->pColWidths);
      PutMem(t);
    }
  }
  for (int i = 0; i < FileIndex; i++) {
    if (aFile[i] != file) continue;
    aFile[i] = aFile[--FileIndex];
    aFile[FileIndex] = nullptr;
    break;
  }
  ListDelAllItems(&file->Pages);
  PutMem(file->szName);
  PutMem(file);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzInit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> text1(data, data + size), text2(data, data + size);
  text1.push_back('\0');
  text2.push_back('\0');
  HtmlFile* one = ParseHtmlFile("one.html", text1.data());
  std::vector<PageView> pages1;
  if (one) pages1 = Examine(one);
  HtmlFile* two = ParseHtmlFile("two.html", text2.data());
  FUZZ_CHECK(!one == !two, "one load %s, the other not", one ? "succeeded" : "failed");
  if (two) {
    std::vector<PageView> pages2 = Examine(two);
    FUZZ_CHECK(pages1.size() == pages2.size(), "%zu pages, then %zu", pages1.size(),
               pages2.size());
    for (size_t i = 0; i < pages1.size(); i++) {
      FUZZ_CHECK(pages1[i].name == pages2[i].name, "page %zu named differently", i);
      FUZZ_CHECK(pages1[i].text == pages2[i].text, "page %zu laid out differently", i);
      FUZZ_CHECK(pages1[i].anchors == pages2[i].anchors, "page %zu anchors differ", i);
    }
  }
  pCurrentPage = nullptr;
  if (two) Unload(two);
  if (one) Unload(one);
  HelpArenaReset();
  return 0;
}
