// help_test_util.h - what the help viewer's tests share: loading a help text under a fresh
// name, reading a page's text and elements, and running the khelp program (with the
// foundation's child runner and file helpers).
#ifndef KORVI_TESTS_HELP_TEST_UTIL_H
#define KORVI_TESTS_HELP_TEST_UTIL_H

#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

#include "base/MemMgr.h"
#include "help/html.h"
#include "help/html_private.h"

namespace help_test {

const std::string kSample = std::string(KORVI_SOURCE_DIR) + "/help/sample";
const std::string kExpected = std::string(KORVI_SOURCE_DIR) + "/tests/help/expected";
const std::string kKhelp = std::string(KORVI_BINARY_DIR) + "/help/khelp";

// Loads html (copied into the pool) as a help file of a name no other test uses.
inline HtmlFile* Load(const std::string& html) {
  static int nLoads = 0;
  std::string name = "mem" + std::to_string(++nLoads) + ".html";
  return ParseHtmlFile(name.c_str(), SaveStr_(html.c_str()));
}

inline HtmlPage* PageN(HtmlFile* file, int n) {
  return static_cast<HtmlPage*>(ListFindItemN(&file->Pages, n));
}

// The packed text of the file's first page.
inline std::string Text(HtmlFile* file) {
  HtmlPage* page = file ? PageN(file, 1) : nullptr;
  return page && page->pImage ? page->pImage : "";
}

// The page's body laid out from "<html><body>" + body.
inline std::string Body(const std::string& body) { return Text(Load("<html><body>" + body + "</body></html>")); }

// The elements of a list, one per entry: "<tag attributes>" or the text itself.
inline std::vector<std::string> Elements(List* list) {
  std::vector<std::string> out;
  for (Link* l = list->pFirst; l; l = l->pNext) {
    auto* e = static_cast<HtmlElement*>(l->pItem);
    if (!e->szTag) {
      out.push_back(static_cast<char*>(e->pData));
    } else if (HtmlTagKind(e->szTag) == kTagA || HtmlTagKind(e->szTag) == kTagFitab) {
      out.push_back("<" + std::string(e->szTag) + ">");
    } else {
      std::string attr = e->pData ? static_cast<char*>(e->pData) : "";
      out.push_back("<" + std::string(e->szTag) + (attr.empty() ? "" : " " + attr) + ">");
    }
  }
  return out;
}

// The n-th element of the first page's body (1-based).
inline HtmlElement* BodyElement(HtmlFile* file, int n) {
  return static_cast<HtmlElement*>(ListFindItemN(&PageN(file, 1)->Body, n));
}

using ktest::ReadFile;
using ktest::WriteFile;

// Runs khelp with the given arguments, standard output and error captured.
inline ktest::Result RunKhelp(const std::vector<std::string>& args) {
  return ktest::RunChild([&] {
    std::vector<char*> argv{const_cast<char*>(kKhelp.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  });
}

}  // namespace help_test

#endif  // KORVI_TESTS_HELP_TEST_UTIL_H
