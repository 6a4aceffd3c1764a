// space.cpp - the free-space check before anything is copied.
// The distribution states its needs in "isize" (installed software) and "tsize" (work
// directory); each need gets 40 more, and only a finite figure of zero or more is a need. Free figures come from df -b, used figures from du -s,
// all compared as plain numbers in the units they come in. The check returns when there is
// room and otherwise ends the program with status 0 after a message; it never asks.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "installer/setup.h"
#include "syscmd/SysCmd.h"

namespace {

constexpr double kSizeMargin = 40;  // added to each need
constexpr double kFullDisk = 17;    // a file system with this much free or less is full

// The full-disk stop names the path it tested and what df reported free there.
constexpr char kFullDiskMsg[] =
    "There isn't enough space in %s to perform the installation activities: only %.0f bytes "
    "are free there. Free some space, or restart the installation procedure using an install "
    "area that has enough space: 'setup install /new_install_path'\n";

// The need stated in pPathToSetup/<name> plus the margin (a text without a number counts
// as 0); message 65 and exit 0 when the file cannot be read whole or states no finite size
// of zero or more (nan, inf or a negative figure would let any check pass, and so would a
// figure behind more zeros or blanks than LineBuf holds).
double ReadNeed(const char* name) {
  char* pPath = SaveStr("%s/%s", pPathToSetup, name);
  int flWhole = GetFileSize(pPath) < kLineBufSize;
  PutMem(pPath);
  double value = flWhole && GetFileContent(pPathToSetup, name) ? strtod(LineBuf, nullptr) : -1;
  if (!std::isfinite(value) || value < 0) {
    fputs(nlsSetupStrCvt(kMsgMissingIsize), stdout);
    fflush(stdout);
    exit(0);
  }
  return value + kSizeMargin;
}

[[noreturn]] void StopForSpace() {
  fflush(stdout);
  exit(0);
}

}  // namespace

void FreeSpaceForInstall(const char* workDir, const char* targetDir, const char* vendor) {
  double ni = ReadNeed("isize");
  double nw = ReadNeed("tsize");

  // Work area: its nearest existing path; an old work directory's space comes back.
  DiskSpace w = {}, t = {}, c = {};
  int flWorkExists = 0;
  char* pWorkPath = FindExistingPath(workDir, &flWorkExists);
  if (!pWorkPath || !GetDiskSpace(pWorkPath, &w)) return;  // cannot tell: no check
  if (flWorkExists) w.Avail += DUPath(workDir);

  // Target: the first of <target>/<vendor>/kvln, <target>/<vendor>, <target> that exists.
  char* pApp = SaveStr("%s/%s/%s", targetDir, vendor, kProductCode);
  char* pVendorDir = SaveStr("%s/%s", targetDir, vendor);
  char* pTested = nullptr;   // the path tested for a full disk
  char* pMeasured = nullptr; // the path T was measured at
  if (FindFile(pApp, nullptr)) {
    int flAppExists = 0;
    pMeasured = FindExistingPath(pApp, &flAppExists);
    GetDiskSpace(pMeasured, &t);
    if (flAppExists) t.Avail += DUPath(pApp);
  } else if (FindFile(pVendorDir, nullptr)) {
    pMeasured = pTested = pVendorDir;
    GetDiskSpace(pMeasured, &t);
  } else {
    // The target itself, or, when it does not exist yet, its nearest existing ancestor
    // ("/" at the latest): the file system the new directories will be made on.
    int flTargetExists = 0;
    pMeasured = pTested = FindExistingPath(targetDir, &flTargetExists);
    if (!pMeasured) pMeasured = pTested = SaveStr_("/");
    GetDiskSpace(pMeasured, &t);
  }

  if (pTested) {
    GetDiskSpace(pTested, &c);
    if (c.Avail <= kFullDisk) {
      printf(kFullDiskMsg, pTested, c.Avail);
      StopForSpace();
    }
  }

  if (strcmp(w.DfLine, t.DfLine) != 0) {
    if (nw > w.Avail) {
      printf(nlsSetupStrCvt(kMsgNoWorkSpace), workDir, nw);
      StopForSpace();
    }
    if (ni > t.Avail) {
      printf(nlsSetupStrCvt(kMsgNoInstallSpace), targetDir, ni);
      StopForSpace();
    }
  } else {
    c = DiskSpace{};
    GetDiskSpace(pMeasured, &c);
    double avail = (w.Avail > c.Avail || t.Avail > c.Avail) ? t.Avail - c.Avail + w.Avail
                                                            : MaxD(w.Avail, t.Avail);
    if (ni + nw > avail) {
      printf(nlsSetupStrCvt(kMsgNoSharedSpace), workDir, targetDir, ni + nw);
      StopForSpace();
    }
  }
  PutMem(pWorkPath);
  PutMem(pApp);
  PutMem(pVendorDir);
  if (pMeasured != pVendorDir) PutMem(pMeasured);
}
