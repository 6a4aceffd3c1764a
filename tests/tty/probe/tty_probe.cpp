// tty_probe - runs one of the toolkit's prompts for the pseudo-terminal tests and prints what
// it returned, so a test can type into a real terminal and read the screen.
//   tty_probe yn | user | pass | passwait SECONDS | size
// "pass" prints the length and byte sum of the phrase (never the phrase) and whether the
// terminal echoes again afterwards.
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tty/TextMenu.h"
#include "tty/tty_private.h"

namespace {

const char* EchoState() {
  struct termios t;
  if (tcgetattr(STDIN_FILENO, &t) != 0) return "none";
  return (t.c_lflag & ECHO) ? "on" : "off";
}

void ShowPhrase(const char* phrase) {
  if (!phrase) {
    printf("pass=(none) echo=%s\n", EchoState());
    return;
  }
  unsigned sum = 0;
  for (const char* p = phrase; *p; p++) sum += static_cast<unsigned char>(*p);
  printf("pass=%zu sum=%u echo=%s\n", strlen(phrase), sum, EchoState());
}

}  // namespace

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  if (!strcmp(mode, "yn")) {
    printf("answer=%d\n", PromptYN("Continue"));
  } else if (!strcmp(mode, "user")) {
    char* p = PromptUser("Name: ", nullptr);
    printf("got=%s\n", p ? p : "(end)");
  } else if (!strcmp(mode, "pass")) {
    ShowPhrase(GetPassPhrase("Pass phrase: "));
  } else if (!strcmp(mode, "passwait") && argc > 2) {
    ShowPhrase(ReadPassPhrase("Pass phrase: ", atoi(argv[2])));
  } else if (!strcmp(mode, "size")) {
    TextScreen* s = GetTermInfo(nullptr);
    printf("size=%dx%d\n", s->Width, s->Height);
  } else {
    fprintf(stderr, "usage: tty_probe yn|user|pass|passwait SECONDS|size\n");
    return 2;
  }
  return 0;
}
