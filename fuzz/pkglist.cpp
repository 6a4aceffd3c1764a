// pkglist.cpp - the package list "pkg.list" read and run with commands recorded, not run.
// Properties: no access outside a buffer; a list is either refused with status 1 before any
// command, or runs only plain command lines (no shell syntax beside the installer's own); the
// only writes outside the scratch directory are a launcher /usr/bin/<name> and the sed step's
// temporary file /tmp/<program name>.tmp.
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "fuzz/record_commands.h"
#include "fuzz/support.h"
#include "installer/install.h"
#include "installer/setup.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzInit();
  FuzzInstallerSetUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string dir = FuzzScratch() + "/work/pkg";
  mkdir(dir.c_str(), 0755);
  FuzzWriteFile("work/pkg/pkg.list", data, size);
  FuzzRecord rec = FuzzRecorded([] { ProcessPkgList("pkg"); });
  if (rec.Exited) {
    FUZZ_CHECK(rec.ExitStatus == 1, "exit status %d", rec.ExitStatus);
    FUZZ_CHECK(rec.Commands.empty() && rec.Writes.empty(),
               "a refused list ran %zu commands first: %s", rec.Commands.size(),
               rec.Commands.empty() ? "" : rec.Commands[0].c_str());
    return 0;
  }
  for (const std::string& cmd : rec.Commands) {
    // The package's own sed arguments are the one free text of the list (its author's edit).
    if (cmd.compare(0, 2, "{ ") == 0) continue;
    FUZZ_CHECK(FuzzCommandIsPlain(cmd, {}), "command with shell syntax: %s", cmd.c_str());
  }
  for (const std::string& w : rec.Writes) {
    if (w == "/tmp/korvi-fuzz.tmp") continue;  // the sed step's temporary file
    const char* name = w.c_str() + strlen("/usr/bin/");
    FUZZ_CHECK(w.compare(0, 9, "/usr/bin/") == 0 && !strchr(name, '/') && *name,
               "write outside the application directory: %s", w.c_str());
  }
  return 0;
}
