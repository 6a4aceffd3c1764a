// khelp_main.cpp - the help program.
//   khelp FILE.html[#target]   opens the help file in the terminal as the help menu: the page,
//                              its numbered links, Exit Help, Contents and Back. Texts come from
//                              the toolkit's catalogue <tool directory>/db/<language>/CoreString.
//   khelp --dump FILE.html     lays out every page of a help file and prints the pages' text
//                              one after another, each page followed by a form feed line.
// Exit status 0 after a dump or when the user leaves help, 1 when the file cannot be loaded,
// 2 for a wrong command line.
#include <cstdio>
#include <cstring>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "help/HelpTty.h"
#include "help/html.h"
#include "nls/NlsUtils.h"

namespace {

const char szUsage[] =
    "usage: khelp FILE.html[#target]\n"
    "       khelp --dump FILE.html\n";

int Dump(const char* path) {
  static char aOut[1 << 16];
  setvbuf(stdout, aOut, _IOFBF, sizeof aOut);
  if (DumpHtmlFile(path, stdout) == 0) {
    fprintf(stderr, "khelp: cannot load help file %s\n", path);
    return 1;
  }
  if (fflush(stdout) != 0) {
    perror("khelp");
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "--dump") == 0) return Dump(argv[2]);
  if (argc != 2 || argv[1][0] == '-') {
    fputs(szUsage, stderr);
    return 2;
  }
  my_name = SaveStr_(StripPath(argv[0]));
  pToolPath = GetToolPath(argv[0]);
  pDrvCoreDB = NlsOpenDB("CoreString", 2);  // without it the menu shows message keys
  return TtyHtmlHelp(argv[1], nullptr, pTtyHtmlTitle) ? 0 : 1;
}
