// support.cpp - scratch directory, input files and findings for the fuzz targets.
#include "fuzz/support.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "base/MemMgr.h"

namespace {

std::string gScratch;

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

void RemoveScratch() {
  if (!gScratch.empty()) nftw(gScratch.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace

const std::string& FuzzScratch() {
  if (gScratch.empty()) {
    struct stat st;
    std::string tmpl = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0
                           ? "/dev/shm/korvi-fuzz-XXXXXX"
                           : "/tmp/korvi-fuzz-XXXXXX";
    if (!mkdtemp(&tmpl[0])) {
      perror("fuzz: mkdtemp");
      abort();
    }
    gScratch = tmpl;
    atexit(RemoveScratch);
  }
  return gScratch;
}

std::string FuzzWriteFile(const std::string& name, const uint8_t* data, size_t size) {
  std::string path = FuzzScratch() + "/" + name;
  FILE* f = fopen(path.c_str(), "wb");
  if (!f || (size && fwrite(data, 1, size, f) != size) || fclose(f) != 0) {
    perror(path.c_str());
    abort();
  }
  return path;
}

void FuzzInit() {
  static void* pHeld = GetMem(16);
  (void)pHeld;
  fflush(stdout);
  int fd = open("/dev/null", O_WRONLY);
  if (fd >= 0) {
    dup2(fd, 1);
    close(fd);
  }
}

void FuzzFinding(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  fputs("FINDING: ", stderr);
  vfprintf(stderr, fmt, ap);
  fputs("\n", stderr);
  va_end(ap);
  abort();
}
