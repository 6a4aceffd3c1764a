// SysCmd_run.cpp - running rows of the command table and capturing their output, and ShellSafe.
// SysCmd wraps every tool in "<sh> -c \"...\"" so the redirections apply inside the text sh
// runs; modes 1 and 2 print a progress dot and log the line, and append the tool's output to
// the run log. A command line that would not fit its 4095 characters is never run cut: it
// fails like a command that failed. Whether a command failed is read from system()'s exit
// status. An unresolved tool ends the program with exit code 0, a failed mode-2 command with 1.
#include <sys/wait.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "syscmd/SysCmd.h"

namespace {

constexpr int kCmdLineSize = 4096;   // SysCmd and the capture: at most 4095 characters
constexpr int kCmdLineSizeP = 512;   // SysCmdP: at most 511 characters
constexpr int kReadSize = 4096;      // captured lines arrive in pieces of at most 4095
constexpr int kSettleTries = 11;     // settle -1: looks for the tool's process this often

// A command line being built in a fixed buffer; an append that does not fit marks it cut.
struct CmdLine {
  char Text[kCmdLineSize];
  int Len = 0;
  int Size = kCmdLineSize;
  int flCut = 0;

  void AddV(const char* fmt, va_list ap) KORVI_PRINTF(2, 0) {
    if (flCut) return;
    int n = vsnprintf(Text + Len, Size - Len, fmt, ap);
    if (n < 0 || n >= Size - Len) {
      flCut = 1;
      Text[Len] = '\0';  // never run or show a cut line
      return;
    }
    Len += n;
  }
  void Add(const char* fmt, ...) KORVI_PRINTF(2, 3) {
    va_list ap;
    va_start(ap, fmt);
    AddV(fmt, ap);
    va_end(ap);
  }
};

[[noreturn]] void NoSysCmd(const char* name) {
  fprintf(stderr, szErrNoSysCmd, name);
  exit(0);
}

// Name of row index for the unresolved-tool message; rows beyond the table get "#<index>".
[[noreturn]] void NoSysCmdIndex(int index) {
  char szName[32];
  snprintf(szName, sizeof szName, "#%d", index);
  NoSysCmd(szName);
}

// How a command ended, from system()'s status, for the failure line.
void DescribeStatus(int status, char* out, size_t size) {
  if (status == -1)
    snprintf(out, size, "cannot run the shell: %s", strerror(errno));
  else if (WIFEXITED(status))
    snprintf(out, size, "exit status %d", WEXITSTATUS(status));
  else if (WIFSIGNALED(status))
    snprintf(out, size, "killed by signal %d", WTERMSIG(status));
  else
    snprintf(out, size, "status %d", status);
}

// Failure of a mode-1 or mode-2 command: logged as a warning (1) or an error (2); mode 2 also
// prints it on standard output and ends the program with exit code 1.
void CommandFailed(int mode, const char* reason) {
  PutLogMsg("%s: %s\n", mode == kSysCmdFatal ? szError : szWarningMsg, reason);
  if (mode == kSysCmdFatal) {
    printf("%s: %s\n", szError, reason);
    fflush(stdout);
    exit(1);
  }
}

// Where a logged command's output goes: the run log, or null for /dev/null (logging off, or a
// log path that is unsafe in a command line, or a log file that cannot be made safely).
const char* LogTarget() {
  if (!flUseLog) return nullptr;
  const char* pLog = GetLogFileName();
  if (!pLog || !pLog[0] || !ShellSafe(pLog, 0)) return nullptr;
  if (!PrepareLogFile()) return nullptr;
  return pLog;
}

void Settle(const ComRow& r) {
  if (r.Settle > 0) {
    sleep(static_cast<unsigned>(r.Settle));
  } else if (r.Settle == -1) {
    for (int i = 0; i < kSettleTries; i++) {
      if (i) sleep(1);
      if (char* pIds = GetSysPsIdList(r.pName)) {
        PutMem(pIds);
        return;
      }
    }
    PutLogMsg("ERROR: Time out for command %s\n", r.pName);
  }
}

// Resolves row index for a capture and starts it with popen; null when it cannot be started
// or the line does not fit. An unresolved tool ends the program.
FILE* StartCapture(int index, const char* fmt, va_list ap) KORVI_PRINTF(2, 0);
FILE* StartCapture(int index, const char* fmt, va_list ap) {
  if (index < 0) index = -index;
  if (index >= kComListRows) NoSysCmdIndex(index);
  CmdLine cl;
  if (index >= 2) {
    const ComRow& r = ComList[index];
    if (!r.pDir && flInitSysCmd) FillCmdPath(index);
    if (!r.pDir) NoSysCmd(r.pName);
    cl.Add("%s/%s %s ", r.pDir, r.pName, r.pArgs);
  }
  cl.AddV(fmt, ap);
  if (cl.flCut) return nullptr;
  fflush(stdout);
  fflush(stderr);
  return popen(cl.Text, "r");
}

int Keep(const char* line, const char* pattern) {
  return !pattern || !pattern[0] || strstr(line, pattern) != nullptr;
}

}  // namespace

int SysCmd(int index, int mode, const char* fmt, ...) {
  int flQuiet = index <= 0;
  if (index < 0) index = -index;
  if (index >= kComListRows) NoSysCmdIndex(index);
  const ComRow& r = ComList[index];
  const ComRow& sh = ComList[kCmdSh];
  int flLogMode = mode == kSysCmdLog || mode == kSysCmdFatal;

  CmdLine cl;
  if (index >= 2) {
    if (flInitSysCmd) {
      if (!r.pDir) FillCmdPath(index);
      if (!sh.pDir) FillCmdPath(kCmdSh);
    }
    if (!r.pDir) NoSysCmd(r.pName);
    if (!sh.pDir) NoSysCmd(sh.pName);
    cl.Add("%s/%s -c \"%s/%s %s ", sh.pDir, sh.pName, r.pDir, r.pName, r.pArgs);
  }
  va_list ap;
  va_start(ap, fmt);
  cl.AddV(fmt, ap);
  va_end(ap);
  int nLogged = cl.Len;  // the logged line: everything up to the caller's text

  if (!flLogMode) {
    cl.Add(" 1>/dev/null 2>/dev/null");
  } else if (!flQuiet) {
    if (const char* pLog = LogTarget())
      cl.Add(" 1>>%s 2>>%s", pLog, pLog);
    else
      cl.Add(" 1>>/dev/null 2>>/dev/null");
  }
  if (index >= 2) cl.Add("\"");

  if (cl.flCut) {  // never run a cut command: it could name something else entirely
    if (flLogMode) CommandFailed(mode, "command line too long");
    return -1;
  }

  if (flLogMode && !flQuiet && flSysCmdLog) {
    putchar('.');
    fflush(stdout);
    char chSaved = cl.Text[nLogged];
    cl.Text[nLogged] = '\0';
    PutLogMsg("%s\n", cl.Text);
    cl.Text[nLogged] = chSaved;
  }

  fflush(stdout);
  fflush(stderr);
  int status = system(cl.Text);
  if (status != 0 && flLogMode) {
    char szReason[128];
    DescribeStatus(status, szReason, sizeof szReason);
    CommandFailed(mode, szReason);
  }
  if (index >= 2) Settle(r);
  return status;
}

CmdResponse* GetCmdResponse(int index, const char* pattern, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  FILE* f = StartCapture(index, fmt, ap);
  va_end(ap);
  if (!f) return nullptr;

  CmdResponse* pHead = nullptr;
  CmdResponse* pTail = nullptr;
  char buf[kReadSize];
  while (fgets(buf, sizeof buf, f)) {
    if (!Keep(buf, pattern)) continue;
    int len = static_cast<int>(strlen(buf));
    auto* pNode = static_cast<CmdResponse*>(GetMem(static_cast<int>(sizeof(CmdResponse)) + len));
    if (!pNode) continue;  // pool exhausted (already reported): read on so the tool can finish
    pNode->pText = reinterpret_cast<char*>(pNode + 1);
    memcpy(pNode->pText, buf, len + 1);
    if (pTail)
      pTail->pNext = pNode;
    else
      pHead = pNode;
    pTail = pNode;
  }
  pclose(f);
  return pHead;
}

char* GetCmdResponseStr(int index, const char* pattern, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  FILE* f = StartCapture(index, fmt, ap);
  va_end(ap);
  if (!f) return nullptr;

  // When the pool refuses to grow the text, the rest is read and dropped.
  PoolText t = {};
  char buf[kReadSize];
  while (fgets(buf, sizeof buf, f)) {
    if (t.flFailed || !Keep(buf, pattern)) continue;
    int len = static_cast<int>(strlen(buf));
    int flNl = len > 0 && buf[len - 1] == '\n';
    // Reserved whole first, so that a line is kept with its newline or not at all.
    if (!PoolTextAppend(&t, buf, len + !flNl)) continue;
    if (!flNl) t.p[t.len - 1] = '\n';
  }
  pclose(f);
  return t.p;
}

void FreeResponseList(CmdResponse* list) {
  while (list) {
    CmdResponse* pNext = list->pNext;
    PutMem(list);
    list = pNext;
  }
}

int SysCmdP(int mode, const char* fmt, ...) {
  int flLogMode = mode == kSysCmdLog || mode == kSysCmdFatal;
  CmdLine cl;
  cl.Size = kCmdLineSizeP;
  va_list ap;
  va_start(ap, fmt);
  cl.AddV(fmt, ap);
  va_end(ap);

  int status;
  if (cl.flCut) {
    status = -1;
    if (flLogMode) fprintf(stderr, "%s: %s\n", szError, "command line too long");
  } else {
    if (flLogMode) printf("%s\n", cl.Text);
    fflush(stdout);
    fflush(stderr);
    status = system(cl.Text);
    if (status != 0 && flLogMode && !(status == -1 && errno == EINTR)) {
      char szReason[128];
      DescribeStatus(status, szReason, sizeof szReason);
      fprintf(stderr, "%s: %s\n", szError, szReason);
    }
  }
  if (status != 0 && mode == kSysCmdFatal) exit(1);
  return system("/usr/bin/sleep 1");
}

// ===========================================================================
// Checked shell text
// ===========================================================================

namespace {

int SafeChar(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return 1;
  return c && strchr("._/-+,:@%=", c) != nullptr;
}

// The text as shown in the refusal: printable ASCII as is, everything else as \n, \t or \ooo;
// cut with "..." when long.
void ShowText(const char* text, char* out, size_t size) {
  size_t n = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; p++) {
    char piece[8];
    if (*p == '\n')
      strcpy(piece, "\\n");
    else if (*p == '\t')
      strcpy(piece, "\\t");
    else if (*p == '\\')
      strcpy(piece, "\\\\");
    else if (*p < 0x20 || *p >= 0x7f)
      snprintf(piece, sizeof piece, "\\%03o", *p);
    else
      piece[0] = static_cast<char>(*p), piece[1] = '\0';
    size_t k = strlen(piece);
    if (n + k + 4 >= size) {
      strcpy(out + n, "...");
      return;
    }
    memcpy(out + n, piece, k);
    n += k;
  }
  out[n] = '\0';
}

}  // namespace

int ShellSafe(const char* text, int report) {
  const char* pWhy = nullptr;
  if (!text) {
    pWhy = "no text";
  } else if (text[0] == '-') {
    pWhy = "a leading '-'";
  } else {
    for (const char* p = text; *p; p++) {
      if (!SafeChar(static_cast<unsigned char>(*p))) {
        pWhy = "a character other than letters, digits and ._/-+,:@%=";
        break;
      }
    }
  }
  if (!pWhy) return 1;
  if (report == 1 || report == 2) {
    char szShown[512];
    ShowText(text ? text : "", szShown, sizeof szShown);
    char szMsg[768];
    snprintf(szMsg, sizeof szMsg, "unsafe text for a command, %s: \"%s\"", pWhy, szShown);
    fprintf(stderr, szErrorFmt, szMsg);
    PutLogMsg(szErrorFmt, szMsg);
    if (report == 2) exit(1);
  }
  return 0;
}
