// TextPrompt.cpp - the toolkit's prompts: yes/no questions, free text, the message that waits
// for Enter, name checks and the pass-phrase reader. Lines are read into LineBuf; at end of
// input every prompt returns at once with a result no answer gives (-1 or null). Catalogue
// texts are used as formats only when their conversions are the ones the message takes
// (NlsCheckArgs); any other text, and a missing one, shows as "Error".
// GetPassPhrase owns the terminal while it reads and gives it back as it found it.
#include <fcntl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "nls/NlsUtils.h"
#include "tty/TextMenu.h"
#include "tty/tty_private.h"

volatile sig_atomic_t signo;

namespace {

constexpr int kPromptWorkSize = 1024;   // PromptUser without a buffer: at most 1023 characters
constexpr int kMsgSize = 4096;          // a formatted catalogue message
constexpr int kCaught[] = {SIGINT, SIGHUP, SIGQUIT, SIGTERM, SIGTSTP, SIGTTIN, SIGTTOU};
constexpr int kNumCaught = sizeof kCaught / sizeof kCaught[0];
static_assert(kNumCaught == 7, "the seven signals the pass-phrase reader catches");

char PassPhrase[kPassPhraseSize];

bool IsNameChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-';
}

bool IsStopSignal(int sig) { return sig == SIGTSTP || sig == SIGTTIN || sig == SIGTTOU; }

void WriteFd(int fd, const char* text, size_t len) {
  while (len > 0) {
    ssize_t n = write(fd, text, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    len -= static_cast<size_t>(n);
  }
}

// Sets the terminal, retrying a call that a caught signal interrupted once.
bool SetTerminal(int fd, int when, const termios* settings) {
  for (int i = 0; i < 2; i++) {
    if (tcsetattr(fd, when, settings) == 0) return true;
    if (errno != EINTR) return false;
  }
  return false;
}

enum ReadEnd { kEndLine, kEndFull, kEndInput, kEndTimeout, kEndError, kEndSignal };

// One character at a time into PassPhrase, each awaited at most waitSeconds. The caught
// signals are blocked except while waiting, so none is missed between checks.
ReadEnd ReadQuietly(int fd, int waitSeconds, const sigset_t* pWaitMask, int* pnRead) {
  int n = 0;
  while (n < kPassPhraseSize - 1) {
    if (signo) return kEndSignal;
    fd_set fds;
    FD_ZERO(&fds);
    FD_SET(fd, &fds);
    struct timespec wait = {waitSeconds, 0};
    int r = pselect(fd + 1, &fds, nullptr, nullptr, &wait, pWaitMask);
    if (r < 0) {
      if (errno == EAGAIN || (errno == EINTR && !signo)) continue;
      return signo ? kEndSignal : kEndError;
    }
    if (r == 0) return kEndTimeout;
    char c;
    ssize_t k = read(fd, &c, 1);
    if (k < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return kEndError;
    }
    if (k == 0) return kEndInput;
    if (c == '\n' || c == '\r') return kEndLine;
    PassPhrase[n++] = c;
    *pnRead = n;
  }
  return kEndFull;
}

}  // namespace

// ===========================================================================
// Shared helpers (tty_private.h)
// ===========================================================================

char* ReadInputLine(char* buf, int size) {
  if (!Gets(buf, size)) return nullptr;
  if (static_cast<int>(strlen(buf)) == size - 1) {
    for (int c = getchar(); c != '\n' && c != EOF; c = getchar()) {
    }
  }
  return buf;
}

char* TtyFormatV(char* out, int size, const char* text, int set, int number, va_list ap) {
  if (text && NlsCheckArgs(text, set, number)) {
    vsnprintf(out, static_cast<size_t>(size), text, ap);
  } else {
    snprintf(out, static_cast<size_t>(size), "%s", "Error");
  }
  return out;
}

char* TtyMsgV(char* out, int size, int set, int number, va_list ap) {
  char text[kNlsStrBufSize];
  // A missing message comes back as its key, not in text; printed, it shows as "Error".
  bool flFound = NlsFetchString(pDrvCoreDB, text, kNlsBySetNumber, set, number) == text;
  text[kNlsStrBufSize - 1] = '\0';
  return TtyFormatV(out, size, flFound ? text : nullptr, set, number, ap);
}

char* TtyMsg(char* out, int size, int set, int number, ...) {
  va_list ap;
  va_start(ap, number);
  TtyMsgV(out, size, set, number, ap);
  va_end(ap);
  return out;
}

// ===========================================================================
// Prompts
// ===========================================================================

int PromptYN(const char* question, ...) {
  for (;;) {
    va_list ap;
    va_start(ap, question);
    vprintf(question ? question : "", ap);
    va_end(ap);
    fputs("? [y/n] ", stdout);
    fflush(stdout);
    if (!ReadInputLine(LineBuf, kLineBufSize)) return -1;
    if (LineBuf[0] == 'y') return 1;
    if (LineBuf[0] == 'n') return 0;
  }
}

char* PromptUser(const char* prompt, char* buf) {
  // The prompt is a format without arguments: "%%" prints "%", any other "%" prints as is.
  for (const char* p = prompt ? prompt : ""; *p; p++) {
    putchar(*p);
    if (p[0] == '%' && p[1] == '%') p++;
  }
  fflush(stdout);
  if (buf) return ReadInputLine(buf, kLineBufSize);
  char work[kPromptWorkSize];
  return ReadInputLine(work, sizeof work) ? SaveStr_(work) : nullptr;
}

char* PostMsg(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vprintf(fmt ? fmt : "", ap);
  va_end(ap);
  char msg[kMsgSize];
  fputs(TtyMsg(msg, sizeof msg, 25, 1001), stdout);
  fflush(stdout);
  return ReadInputLine(LineBuf, kLineBufSize);
}

int TestName(const char* name) {
  for (const char* p = name ? name : ""; *p; p++) {
    if (IsNameChar(static_cast<unsigned char>(*p))) continue;
    char msg[kMsgSize];
    fputs(TtyMsg(msg, sizeof msg, 25, 1002, *p), stdout);
    fputs(TtyMsg(msg, sizeof msg, 25, 1000), stdout);
    fflush(stdout);
    return ReadInputLine(LineBuf, kLineBufSize) ? 0 : -1;
  }
  return 1;
}

// ===========================================================================
// Pass phrase
// ===========================================================================

void handler(int sig) { signo = sig; }

char* ReadPassPhrase(const char* prompt, int waitSeconds) {
  for (;;) {
    memset(PassPhrase, 0, sizeof PassPhrase);
    signo = 0;
    int fdTty = open("/dev/tty", O_RDWR | O_NOCTTY);
    int fdIn = fdTty >= 0 ? fdTty : STDIN_FILENO;
    int fdOut = fdTty >= 0 ? fdTty : STDERR_FILENO;
    if (prompt) WriteFd(fdOut, prompt, strlen(prompt));

    struct sigaction act, old[kNumCaught];
    memset(&act, 0, sizeof act);
    act.sa_handler = handler;
    sigemptyset(&act.sa_mask);
    sigset_t caught, waitMask;
    sigemptyset(&caught);
    for (int i = 0; i < kNumCaught; i++) sigaddset(&caught, kCaught[i]);
    sigprocmask(SIG_BLOCK, &caught, &waitMask);  // waitMask: the caller's mask, for the waits
    for (int i = 0; i < kNumCaught; i++) sigaction(kCaught[i], &act, &old[i]);
    sigset_t blocked = waitMask;  // wait with the seven open, whatever the caller blocks
    for (int i = 0; i < kNumCaught; i++) sigdelset(&blocked, kCaught[i]);

    struct termios saved;
    bool flQuiet = false;
    if (tcgetattr(fdIn, &saved) == 0) {
      struct termios quiet = saved;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
      flQuiet = SetTerminal(fdIn, TCSAFLUSH, &quiet);
    }
    int nRead = 0;
    ReadEnd end = ReadQuietly(fdIn, waitSeconds, &blocked, &nRead);
    int savedErrno = errno;

    if (flQuiet) WriteFd(fdOut, "\n", 1);
    bool flRestored = !flQuiet || SetTerminal(fdIn, TCSANOW, &saved);
    for (int i = 0; i < kNumCaught; i++) sigaction(kCaught[i], &old[i], nullptr);
    sigprocmask(SIG_SETMASK, &waitMask, nullptr);
    // Put in the background, the process could not give the settings back while it caught
    // SIGTTOU; with the caller's action it now waits (stopped) until it can.
    if (!flRestored) SetTerminal(fdIn, TCSANOW, &saved);
    if (fdTty >= 0) close(fdTty);

    int sig = signo;
    if (sig) {
      memset(PassPhrase, 0, sizeof PassPhrase);
      kill(getpid(), sig);
      if (IsStopSignal(sig)) continue;  // stopped and continued: ask again
      errno = savedErrno;
      return nullptr;
    }
    char* pText = nullptr;
    if (end == kEndLine || end == kEndFull || (end == kEndInput && nRead > 0)) {
      pText = SaveStr_(PassPhrase);
    }
    memset(PassPhrase, 0, sizeof PassPhrase);
    errno = savedErrno;
    return pText;
  }
}

char* GetPassPhrase(const char* prompt) { return ReadPassPhrase(prompt, kPassPhraseWait); }
