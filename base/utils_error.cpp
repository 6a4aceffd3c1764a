// utils_error.cpp - reports, the run log and questions about the environment.
// SysError, ErrorMsg type 2 and exit_app end the program. The run log is <pLogPath>/<my_name>.log
// ("/tmp/<my_name>.log"), opened and closed per message. /tmp is writable by every user, so the
// log is never reached through a planted link: the first message of a run replaces whatever
// stands at the path with a fresh regular file made exclusively (mode 666), and later messages
// open it without following links. Environment queries return saved strings or null.
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "base/utils.h"
#include "syscmd/SysCmd.h"

char* my_name = nullptr;
int flUseLog = 0;
namespace {
char szDefaultLogPath[] = "/tmp";
}
char* pLogPath = szDefaultLogPath;
char* pToolPath = nullptr;

namespace {

constexpr int kLogPathSize = 512;
constexpr int kMsgSize = 8192;  // ErrorMsg's first formatting buffer
constexpr int kCwdSize = 4096;  // the working directory; a longer one is refused

// State of the run log: the path whose run has begun (its first message replaced the file).
struct LogState {
  char Started[kLogPathSize];  // path of the log begun by this process, "" before
  char Path[kLogPathSize];     // last path built by GetLogFileName
};
LogState Log;

// Begins the run log at path when it has not been begun yet: replaces the entry with a fresh
// regular file. Returns the open stream (truncated on the first call, appending afterwards).
FILE* OpenLog(const char* path) {
  if (strcmp(Log.Started, path) != 0) {
    snprintf(Log.Started, sizeof Log.Started, "%s", path);
    if (!CreateFreshFile(path, 0666)) return nullptr;
    return OpenRegularFile(path, 1);
  }
  FILE* f = OpenRegularFile(path, 0);
  if (!f && GetFileType(path) == 0 && CreateFreshFile(path, 0666)) f = OpenRegularFile(path, 0);
  return f;
}

}  // namespace

void SysError(const char* fmt, ...) {
  int nErr = errno;
  fflush(stdout);
  fprintf(stderr, "\n%s: ", my_name ? my_name : "");
  va_list ap;
  va_start(ap, fmt);
  vfprintf(stderr, fmt, ap);
  va_end(ap);
  fprintf(stderr, " : %s\n", strerror(nErr));
  exit(1);
}

int ErrorMsg(int type, int status, const char* fmt, ...) {
  // A message is formatted beside Line first, so that an argument taken from Line (the
  // general scratch) is not overwritten while it is read; only a very long one goes directly.
  char szMsg[kMsgSize];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(szMsg, sizeof szMsg, fmt, ap);
  va_end(ap);
  if (n < 0) n = 0;
  if (n < kMsgSize) {
    memcpy(Line, szMsg, static_cast<size_t>(n) + 1);
  } else {
    va_start(ap, fmt);
    vsnprintf(Line, kLineSize, fmt, ap);
    va_end(ap);
    if (n >= kLineSize) n = kLineSize - 1;
  }
  if (type == 1) return fprintf(stderr, szWarningFmt, Line);
  if (type == 2) {
    fflush(stdout);
    fprintf(stderr, szErrorFmt, Line);
    exit(status);
  }
  return n;
}

int errormsg(const char* fmt, ...) {
  int n = fprintf(stderr, "%s: ", my_name ? my_name : "");
  va_list ap;
  va_start(ap, fmt);
  n += vfprintf(stderr, fmt, ap);
  va_end(ap);
  n += fprintf(stderr, "\n");
  return n;
}

void exit_app(int status) { exit(status); }

const char* GetLogFileName() {
  int n = snprintf(Log.Path, sizeof Log.Path, "%s/%s.log", pLogPath ? pLogPath : "/tmp",
                   my_name ? my_name : "");
  if (n < 0 || n >= kLogPathSize) Log.Path[0] = 0;  // never a cut name: that is another file
  return Log.Path;
}

int PrepareLogFile() {
  if (!flUseLog) return 0;
  const char* path = GetLogFileName();
  if (!*path) return 0;
  FILE* f = OpenLog(path);
  if (!f) return 0;
  fclose(f);
  return 1;
}

void PutLogMsg(const char* fmt, ...) {
  if (!flUseLog) return;
  const char* path = GetLogFileName();
  FILE* f = *path ? OpenLog(path) : nullptr;
  if (!f) {
    fprintf(stderr, szErrCouldntOpen, *path ? path : (my_name ? my_name : ""));
    return;
  }
  va_list ap;
  va_start(ap, fmt);
  vfprintf(f, fmt, ap);
  va_end(ap);
  fclose(f);
}

char* GetEnv(const char* name) {
  const char* pValue = name ? getenv(name) : nullptr;
  return pValue ? SaveStr_(pValue) : nullptr;
}

char* GetToolPath(const char* invocation) {
  if (!invocation || !*invocation) return nullptr;
  char szDir[kCwdSize];
  if (!DirPart(invocation, szDir, sizeof szDir)) return nullptr;
  if (invocation[0] == '/') return SaveStr_(szDir);

  char szCwd[kCwdSize];
  if (!getcwd(szCwd, sizeof szCwd)) return nullptr;  // unreadable or too long: refused
  if (strncmp(szDir, "./", 2) == 0 && szDir[2]) return SaveStr("%s/%s", szCwd, szDir + 2);
  if (strncmp(szDir, "../", 3) == 0) {
    const char* pRest = szDir;
    char szUp[kCwdSize];
    while (strncmp(pRest, "../", 3) == 0) {
      pRest += 3;
      DirPart(szCwd, szUp, sizeof szUp);  // always fits: never longer than szCwd
      memcpy(szCwd, szUp, sizeof szUp);
    }
    return SaveStr("%s/%s", szCwd, pRest);
  }
  return SaveStr("%s/%s", szCwd, szDir);
}

char* GetHostname() {
  char szHost[256] = {0};
  if (gethostname(szHost, sizeof szHost - 1) != 0) return nullptr;
  szHost[strcspn(szHost, "\r\n")] = 0;
  return SaveStr_(szHost);
}

char* GetUserName() {
  if (!TestCmd(kCmdWhoami)) {
    uid_t uid = getuid();
    return uid == 0 ? SaveStr_("root") : SaveStr("User ID:  %d", static_cast<int>(uid));
  }
  CmdResponse* pList = GetCmdResponse(kCmdWhoami, nullptr, "%s", "");
  if (!pList) return nullptr;
  char* pText = pList->pText;
  char* pName = SaveStr("%.*s", static_cast<int>(strcspn(pText, "\r\n")), pText);
  FreeResponseList(pList);
  return pName;
}

int SniffLprng() {
  if (!TestCmd(kCmdLpd)) return 0;
  CmdResponse* pList = GetCmdResponse(kCmdLpd, "LPRng", "%s", " -V 2>&1");
  if (!pList) return 0;
  FreeResponseList(pList);
  return 1;
}

int SniffCUPS() {
  char* pReport = CheckProcTableForExecs("cupsd");
  if (!pReport) return 0;
  PutMem(pReport);
  return 1;
}
