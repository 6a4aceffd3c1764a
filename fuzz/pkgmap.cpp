// pkgmap.cpp - the package map of an upgrade read and acted on with commands recorded, not
// run. Properties: no access outside a buffer; a map is either refused with status 1 before
// any command, or gives only plain command lines (no shell syntax beside the installer's own
// fixed texts) and writes nothing outside the scratch directory.
#include <sys/stat.h>

#include <string>

#include "fuzz/record_commands.h"
#include "fuzz/support.h"
#include "installer/install.h"
#include "installer/setup.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzInit();
  FuzzInstallerSetUp();
  mkdir((FuzzScratch() + "/work/VLMRkvln").c_str(), 0755);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzWriteFile("work/VLMRkvln/pkgmap", data, size);
  std::string work = FuzzScratch() + "/work";
  FuzzRecord rec = FuzzRecorded([&] { upgradeSolarisPackage("VLMRkvln", work.c_str()); });
  if (rec.Exited) {
    FUZZ_CHECK(rec.ExitStatus == 1, "exit status %d", rec.ExitStatus);
    FUZZ_CHECK(rec.Commands.empty(), "a refused map ran %zu commands first: %s",
               rec.Commands.size(), rec.Commands.empty() ? "" : rec.Commands[0].c_str());
    return 0;
  }
  // The version raise of the package record is a fixed text with its own sed expression.
  const std::vector<std::string> fixed = {
      std::string("sed -e\"s/VERSION=[0-9.].*/VERSION=") + kSetupVersion + "/\" ", " >> "};
  for (const std::string& cmd : rec.Commands)
    FUZZ_CHECK(FuzzCommandIsPlain(cmd, fixed), "command with shell syntax: %s", cmd.c_str());
  FUZZ_CHECK(rec.Writes.empty(), "write outside the scratch directory: %s",
             rec.Writes.empty() ? "" : rec.Writes[0].c_str());
  return 0;
}
