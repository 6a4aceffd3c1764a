// scripts.cpp - the print-subsystem flag file and the generated shell scripts.
// The flag file <AD>/.kp_cfg names the host's spooler (" V5 ", " LPRng " or " CUPS ");
// the queue scripts read it each time they run. A script is the shell line, a banner
// comment with the vendor word and the current year, and an embedded template with its
// "%s" placeholders filled. Each file is written to "<file>.new" beside its place, every
// write and the close checked, and renamed over it, so a full disk never leaves a cut or
// empty file. A file that cannot be written is reported on standard error and skipped, the
// old one staying in place; the run then ends with status 1 (flInstallFailed).
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// Opens a fresh temporary file "<path>.new" beside path (whatever stood there is replaced
// first, so a link never leads the write elsewhere). Null after "ERROR: can't open file, %s"
// with the path on standard error, also when a directory stands at path.
FILE* OpenBeside(const char* path, char** tmp) {
  *tmp = SaveStr("%s.new", path);
  FILE* f = nullptr;
  if (GetFileType(path) != 1 && CreateFreshFile(*tmp, 0600)) f = OpenFile(nullptr, *tmp, "w", 0);
  if (!f) {
    fprintf(stderr, szErrCantOpenFileNl, path);
    PutMem(*tmp);
    *tmp = nullptr;
  }
  return f;
}

// Ends a file opened by OpenBeside: every write and the close must have worked; it gets the
// permission perm and takes path's place by a rename. Otherwise the temporary file goes,
// path keeps what it held, "ERROR: can't write %s: %s" is printed on standard error and the
// run will end with status 1. 1 when the file is in place.
int PlaceBeside(FILE* f, char* tmp, const char* path, int perm) {
  int flOk = !ferror(f);
  if (fclose(f) != 0) flOk = 0;
  if (flOk && chmod(tmp, static_cast<mode_t>(perm)) != 0) flOk = 0;
  if (flOk && rename(tmp, path) != 0) flOk = 0;
  if (!flOk) {
    int err = errno;
    unlink(tmp);
    fprintf(stderr, "ERROR: can't write %s: %s\n", path, strerror(err));
    PutLogMsg("ERROR: can't write %s: %s\n", path, strerror(err));
    flInstallFailed = 1;
  }
  PutMem(tmp);
  return flOk;
}

// Shell line, banner and the filled template through a temporary file; mode 755.
int WriteScript(const char* path, const char* shell, const char* tmpl, int n,
                const char* const* values) {
  char* pTmp;
  FILE* f = OpenBeside(path, &pTmp);
  if (!f) {
    flInstallFailed = 1;
    return 0;
  }
  fprintf(f, "%s\n", shell);
  fputs(ScriptBanner(), f);
  int flFits = WriteTemplate(f, tmpl, n, values);
  if (!flFits) fprintf(stderr, "ERROR: template of %s does not fit its values\n", path);
  return PlaceBeside(f, pTmp, path, 0755);
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
  char* pTmp;
  int flOk = 0;
  if (FILE* f = OpenBeside(pPath, &pTmp)) {
    fputs(pWord, f);
    flOk = PlaceBeside(f, pTmp, pPath, 0644);
  } else {
    flInstallFailed = 1;
  }
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

int GenSimpleScript(const char* path, const char* shell, const char* tmpl, const char* cdDir,
                    const char* progDir, const char* progName) {
  const char* values[] = {cdDir, progDir, progName};
  return WriteScript(path, shell, tmpl, 3, values);
}

int createQueueScripts(const char* spoolDir) {
  char* pPath = SaveStr("%s/%s", pAppDir, kQueueScriptName);
  int flOk = generateKorviPrintkvlnScript(pPath, ScriptShShell, KorviPrintkvlnScript);
  PutMem(pPath);
  pPath = SaveStr("%s/v4DriverScript", pAppDir);
  flOk &= generatev4v5DriverScript(pPath, ScriptShShell, pv4DriverScript);
  PutMem(pPath);
  pPath = SaveStr("%s/v5DriverScript", pAppDir);
  flOk &= generatev4v5DriverScript(pPath, ScriptShShell, pv5DriverScript);
  PutMem(pPath);
  pPath = SaveStr("%s/%s%s", pAppDir, kVendorWord, "KSF");
  char* pSpool = SaveStr("%s/%s", spoolDir, kProductCode);
  flOk &= generateKorviKSFScript(pPath, ScriptShShell, KorviKSFScript, pSpool);
  PutMem(pSpool);
  PutMem(pPath);

  // The LPRng print configuration tool looks for queue interface scripts in its own
  // directory: give it a link to ours unless it already has an entry of that name.
  if (SniffLprng() && FindFile(kPrintConfDir, nullptr) &&
      !FindFile(kPrintConfDir, kQueueScriptName)) {
    SysCmd(kCmdLn, kSysCmdLog, "-s %s/%s/%s/%s %s/%s", pTargetInstallDir, kVendorWord,
           kProductCode, kQueueScriptName, kPrintConfDir, kQueueScriptName);
  }
  return flOk;
}
