// khelp_main.cpp - the help program. "khelp --dump FILE.html" loads a help file, lays out
// every page and prints the pages' text one after another, each page followed by a form
// feed line. Exit status 0 after a dump, 1 when the file cannot be loaded, 2 for a wrong
// command line.
#include <cstdio>
#include <cstring>

#include "help/html.h"

namespace {

const char szUsage[] = "usage: khelp --dump FILE.html\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || strcmp(argv[1], "--dump") != 0) {
    fputs(szUsage, stderr);
    return 2;
  }
  static char aOut[1 << 16];
  setvbuf(stdout, aOut, _IOFBF, sizeof aOut);
  if (DumpHtmlFile(argv[2], stdout) == 0) {
    fprintf(stderr, "khelp: cannot load help file %s\n", argv[2]);
    return 1;
  }
  if (fflush(stdout) != 0) {
    perror("khelp");
    return 1;
  }
  return 0;
}
