// khelp_main.cpp - the help program. "khelp --dump FILE.html" loads a help file, lays out
// every page and prints the pages' text one after another, each page followed by a form
// feed line. Exit status 0 after a dump, 1 when the file cannot be loaded, 2 for a wrong
// command line.
#include <cstdio>
#include <cstring>

#include "base/List.h"
#include "help/html.h"

namespace {

const char szUsage[] = "usage: khelp --dump FILE.html\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || strcmp(argv[1], "--dump") != 0) {
    fputs(szUsage, stderr);
    return 2;
  }
  HtmlFile* pFile = ParseHtmlFile(argv[2], nullptr);
  if (!pFile) {
    fprintf(stderr, "khelp: cannot load help file %s\n", argv[2]);
    return 1;
  }
  static char aOut[1 << 16];
  setvbuf(stdout, aOut, _IOFBF, sizeof aOut);
  for (Link* pl = pFile->Pages.pFirst; pl; pl = pl->pNext) {
    auto* pPage = static_cast<HtmlPage*>(pl->pItem);
    if (pPage->pImage) fputs(pPage->pImage, stdout);
    fputs("\f\n", stdout);
  }
  if (fflush(stdout) != 0) {
    perror("khelp");
    return 1;
  }
  return 0;
}
