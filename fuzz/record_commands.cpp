// record_commands.cpp - the recorded mode of record_commands.h: definitions of system, popen,
// pclose, sleep, exit, open and fopen that take the C library's place in a fuzz target.
#include "fuzz/record_commands.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <setjmp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "fuzz/support.h"
#include "installer/setup.h"
#include "syscmd/SysCmd.h"

namespace {

bool gOn = false;
FuzzRecord* gRec = nullptr;
jmp_buf gExitJump;
std::set<FILE*> gCaptures;

template <typename F>
F Real(const char* name) {
  static_assert(sizeof(F) == sizeof(void*), "function pointer");
  void* p = dlsym(RTLD_NEXT, name);
  if (!p) {
    fprintf(stderr, "fuzz: no %s in the C library\n", name);
    abort();
  }
  F f;
  memcpy(&f, &p, sizeof f);
  return f;
}

bool Outside(const char* path) {
  const std::string& s = FuzzScratch();
  return strncmp(path, s.c_str(), s.size()) != 0 || (path[s.size()] != '/' && path[s.size()]);
}

// Where a write outside the scratch directory goes instead.
std::string Elsewhere() { return FuzzScratch() + "/outside"; }

}  // namespace

extern "C" int system(const char* cmd) {
  static auto real = Real<int (*)(const char*)>("system");
  if (!gOn) return real(cmd);
  if (cmd) gRec->Commands.push_back(cmd);
  return 0;
}

extern "C" FILE* popen(const char* cmd, const char* mode) {
  static auto real = Real<FILE* (*)(const char*, const char*)>("popen");
  static auto realFopen = Real<FILE* (*)(const char*, const char*)>("fopen");
  if (!gOn) return real(cmd, mode);
  gRec->Commands.push_back(cmd ? cmd : "");
  FILE* f;
  if (cmd && strstr(cmd, "/uname ")) {
    static char release[] = "5.10\n";
    f = fmemopen(release, strlen(release), "r");
  } else {
    f = realFopen("/dev/null", "r");
  }
  if (f) gCaptures.insert(f);
  return f;
}

extern "C" int pclose(FILE* f) {
  static auto real = Real<int (*)(FILE*)>("pclose");
  if (gCaptures.erase(f)) return fclose(f) == 0 ? 0 : -1;
  return real(f);
}

extern "C" unsigned int sleep(unsigned int seconds) {
  static auto real = Real<unsigned int (*)(unsigned int)>("sleep");
  return gOn ? 0 : real(seconds);
}

extern "C" void exit(int status) noexcept {
  static auto real = Real<void (*)(int)>("exit");
  if (gOn) {
    gOn = false;
    gRec->Exited = true;
    gRec->ExitStatus = status;
    longjmp(gExitJump, 1);
  }
  real(status);
  __builtin_unreachable();
}

extern "C" int open(const char* path, int flags, ...) {
  static auto real = Real<int (*)(const char*, int, ...)>("open");
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = mode_t(va_arg(ap, int));
    va_end(ap);
  }
  if (gOn && (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) && Outside(path)) {
    gRec->Writes.push_back(path);
    unlink(Elsewhere().c_str());
    return real(Elsewhere().c_str(), (flags & ~O_DIRECTORY) | O_CREAT, mode ? mode : 0600);
  }
  return real(path, flags, mode);
}

extern "C" FILE* fopen(const char* path, const char* mode) {
  static auto real = Real<FILE* (*)(const char*, const char*)>("fopen");
  if (gOn && mode && strpbrk(mode, "wa+") && Outside(path)) {
    gRec->Writes.push_back(path);
    return real(Elsewhere().c_str(), mode);
  }
  return real(path, mode);
}

void FuzzInstallerSetUp() {
  const std::string& s = FuzzScratch();
  for (const char* dir : {"/bin", "/work", "/opt", "/opt/Korvi", "/opt/Korvi/kvln"})
    mkdir((s + dir).c_str(), 0755);
  for (int i = 2; i < kComListRows; i++) {
    std::string tool = s + "/bin/" + ComList[i].pName;
    int fd = open(tool.c_str(), O_WRONLY | O_CREAT, 0755);
    if (fd >= 0) close(fd);
  }
  static std::string search = s + "/bin";
  SearchPaths = &search[0];
  flUseLog = 0;
  my_name = SaveStr_("korvi-fuzz");
  InitSysCmdList();
  pKorviInstallDir = SaveStr("%s/work", s.c_str());
  pTargetInstallDir = SaveStr("%s/opt", s.c_str());
  pAppDir = SaveStr("%s/opt/Korvi/kvln", s.c_str());
}

FuzzRecord FuzzRecorded(const std::function<void()>& fn) {
  FuzzRecord rec;
  gRec = &rec;
  fflush(stdout);
  if (setjmp(gExitJump) == 0) {
    gOn = true;
    fn();
  }
  gOn = false;
  gRec = nullptr;
  CloseInputFile();  // an exit may have come while a file was being read
  for (FILE* f : gCaptures) fclose(f);
  gCaptures.clear();
  return rec;
}

bool FuzzCommandIsPlain(const std::string& cmd, const std::vector<std::string>& fixed) {
  std::string rest = cmd;
  std::vector<std::string> parts = {" 1>/dev/null 2>/dev/null", " 1>>/dev/null 2>>/dev/null"};
  parts.insert(parts.end(), fixed.begin(), fixed.end());
  std::string sh = std::string(ComList[kCmdSh].pDir ? ComList[kCmdSh].pDir : "") + "/sh -c \"";
  if (rest.compare(0, sh.size(), sh) == 0) {
    if (rest.empty() || rest.back() != '"') return false;
    rest = rest.substr(sh.size(), rest.size() - sh.size() - 1);
  }
  for (const std::string& p : parts) {
    for (size_t at; (at = rest.find(p)) != std::string::npos;) rest.replace(at, p.size(), " ");
  }
  for (char c : rest) {
    if (c == ' ' || c == '"') continue;
    if (!strchr("._/-+,:@%=", c) && !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
      return false;
  }
  // A quote opens and closes a path: an odd count would let the shell read on.
  size_t nQuotes = 0;
  for (char c : rest) nQuotes += c == '"';
  return nQuotes % 2 == 0;
}
