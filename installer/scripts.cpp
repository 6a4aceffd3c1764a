// scripts.cpp - the print-subsystem flag file and the generated shell scripts.
// The flag file <AD>/.kp_cfg names the host's spooler (" V5 ", " LPRng " or " CUPS ");
// the queue scripts read it each time they run. A script is the shell line, a banner
// comment with the vendor word and the current year, and an embedded template with its
// "%s" placeholders filled; it is written as a fresh file and given mode 755.
// A file that cannot be written is reported on standard error and skipped.
#include <cstring>
#include <ctime>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "installer/install.h"
#include "installer/setup.h"
#include "syscmd/SysCmd.h"

const char ScriptShShell[] = "#!/bin/sh";

namespace {

constexpr char kPrintConfDir[] = "/usr/share/printconf/util";
constexpr char kQueueScriptName[] = "KorviPrintkvln";
constexpr int kBannerSize = 256;

// Opens path as a new, empty regular file ("w+"): whatever stood there (an old script, a
// link) is replaced first, so a link never leads the write elsewhere. Null after
// "ERROR: can't open file, %s" on standard error.
FILE* OpenScriptFile(const char* path) {
  CreateFreshFile(path, 0755);
  return OpenFile(nullptr, path, "w+", 1);
}

// Shell line, banner and the filled template; closes the file and makes it mode 755.
int FinishScript(FILE* f, const char* path, const char* shell, const char* tmpl, int n,
                 const char* const* values) {
  fprintf(f, "%s\n", shell);
  fputs(ScriptBanner(), f);
  int flOk = WriteTemplate(f, tmpl, n, values);
  fclose(f);
  if (!flOk) fprintf(stderr, "ERROR: template of %s does not fit its values\n", path);
  SysCmd(kCmdChmod, kSysCmdQuiet, "755 %s", path);
  return 1;
}

int WriteScript(const char* path, const char* shell, const char* tmpl, int n,
                const char* const* values) {
  FILE* f = OpenScriptFile(path);
  if (!f) return 0;
  return FinishScript(f, path, shell, tmpl, n, values);
}

}  // namespace

const char* ScriptBanner() {
  static char szBanner[kBannerSize];
  time_t now = time(nullptr);
  struct tm tmNow;
  int year = localtime_r(&now, &tmNow) ? tmNow.tm_year + 1900 : 1970;
  snprintf(szBanner, sizeof szBanner,
           "#\n"
           "# %s print software, %d.\n"
           "# Written by the %s installer; it is written anew by every installation,\n"
           "# so changes made here do not last.\n"
           "#\n",
           kVendorWord, year, kVendorWord);
  return szBanner;
}

int WriteTemplate(FILE* f, const char* tmpl, int n, const char* const* values) {
  // First pass: count the placeholders and refuse any other conversion.
  int nFound = 0;
  for (const char* p = tmpl; *p; p++) {
    if (*p != '%') continue;
    if (p[1] == 's') nFound++;
    else if (p[1] != '%') return 0;
    p++;
  }
  if (nFound != n) return 0;
  int i = 0;
  const char* pRun = tmpl;
  for (const char* p = tmpl; *p; p++) {
    if (*p != '%') continue;
    fwrite(pRun, 1, p - pRun, f);
    if (p[1] == 's') fputs(values[i] ? values[i] : "", f), i++;
    else fputc('%', f);
    p++;
    pRun = p + 1;
  }
  fputs(pRun, f);
  return 1;
}

int createPrintingSubsystemFile(const char* appDir) {
  const char* pWord = " V5 ";
  if (SniffLprng()) pWord = " LPRng ";
  if (SniffCUPS()) pWord = " CUPS ";
  char* pPath = SaveStr("%s/.%sp_cfg", appDir, kProductPrefix);
  int flOk = CreateTextFile(pPath, "wt", 0644, "%s", pWord);
  PutMem(pPath);
  return flOk;
}

int generateKorviPrintkvlnScript(const char* path, const char* shell, const char* tmpl) {
  char szLog[32];
  snprintf(szLog, sizeof szLog, "kavlon%s", kProductCode);
  const char* values[] = {pAppDir, kProductCode, szLog, szLog, kProductCode, kProductCode};
  return WriteScript(path, shell, tmpl, 6, values);
}

int generatev4v5DriverScript(const char* path, const char* shell, const char* tmpl) {
  const char* values[] = {pAppDir, kProductPrefix};
  return WriteScript(path, shell, tmpl, 2, values);
}

int generateKorviKSFScript(const char* path, const char* shell, const char* tmpl,
                           const char* spoolSubDir) {
  const char* values[] = {pAppDir,        kProductPrefix, spoolSubDir,   kProductPrefix,
                          kProductPrefix, kProductPrefix, kProductPrefix, kProductPrefix};
  return WriteScript(path, shell, tmpl, 8, values);
}

void GenSimpleScript(const char* path, const char* shell, const char* tmpl, const char* cdDir,
                     const char* progDir, const char* progName) {
  const char* values[] = {cdDir, progDir, progName};
  WriteScript(path, shell, tmpl, 3, values);
}

void createQueueScripts(const char* spoolDir) {
  char* pPath = SaveStr("%s/%s", pAppDir, kQueueScriptName);
  generateKorviPrintkvlnScript(pPath, ScriptShShell, KorviPrintkvlnScript);
  PutMem(pPath);
  pPath = SaveStr("%s/v4DriverScript", pAppDir);
  generatev4v5DriverScript(pPath, ScriptShShell, pv4DriverScript);
  PutMem(pPath);
  pPath = SaveStr("%s/v5DriverScript", pAppDir);
  generatev4v5DriverScript(pPath, ScriptShShell, pv5DriverScript);
  PutMem(pPath);
  pPath = SaveStr("%s/%s%s", pAppDir, kVendorWord, "KSF");
  char* pSpool = SaveStr("%s/%s", spoolDir, kProductCode);
  generateKorviKSFScript(pPath, ScriptShShell, KorviKSFScript, pSpool);
  PutMem(pSpool);
  PutMem(pPath);

  // The LPRng print configuration tool looks for queue interface scripts in its own
  // directory: give it a link to ours unless it already has an entry of that name.
  if (SniffLprng() && FindFile(kPrintConfDir, nullptr) &&
      !FindFile(kPrintConfDir, kQueueScriptName)) {
    SysCmd(kCmdLn, kSysCmdLog, "-s %s/%s/%s/%s %s/%s", pTargetInstallDir, kVendorWord,
           kProductCode, kQueueScriptName, kPrintConfDir, kQueueScriptName);
  }
}
