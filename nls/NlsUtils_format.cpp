// NlsUtils_format.cpp - the printf conversions of catalogue texts and the argument lists that
// callers pass to each message. A fetched text becomes a format only when its conversions
// consume exactly the declared arguments (same number, order and class) and hold no %n.
// The table below lists every message of the toolkit and the help viewer that carries
// arguments; a message not listed takes none. Host programs declare theirs with
// NlsDeclareArgs.
#include <cstring>

#include "nls/NlsUtils.h"

namespace {

struct ArgDecl {
  int Set;
  int Number;
  const char* szFormat;  // the arguments, written as the conversions that take them
};

// Messages printed with arguments by the terminal toolkit and the help viewer.
constexpr ArgDecl kToolkitArgs[] = {
    {25, 203, "%s"},        // picker: the current selection
    {25, 204, "%s"},        // picker: the current selection, cut
    {25, 207, "%d%d"},      // screen too small: columns, rows
    {25, 208, "%d%d"},      // needed columns, needed rows
    {25, 510, "%s%s%s"},    // menu footer: save, help and leave hints
    {25, 1002, "%c"},       // bad character in a name
    {25, 1003, "%d%d"},     // integer out of range: min, max
    {25, 1004, "%d%d"},     // hexadecimal value out of range: min, max
    {25, 1006, "%c"},       // bad character in a float value
    {25, 1007, "%c%s"},     // character not allowed: the character, the extra allowed ones
    {25, 1008, "%c%s"},     // letter item: the character, the extra allowed ones
    {25, 1009, "%s"},       // excluded value
    {25, 1017, "%s"},       // leave question: the menu's name
    {25, 1018, "%s"},       // leave question: the program's name
    {25, 1024, "%Lg%Lg"},   // long number out of range: min, max
    {25, 1025, "%c%c%s"},   // literal mismatch: typed, expected, matched so far
    {30, 22, "%s"},         // help menu title: the vendor name
    {30, 42, "%d%d"},       // length out of range: min, max
    {30, 44, "%d"},         // length differs from the one allowed
};

constexpr int kMaxHostArgs = 256;

// Argument lists declared by the host program (NlsDeclareArgs), searched before the table.
struct HostArgs {
  int nDecls;
  ArgDecl Decls[kMaxHostArgs];
  char Formats[kMaxHostArgs][kNlsArgsSize];
} Host;

const ArgDecl* FindDecl(int set, int number) {
  for (int i = 0; i < Host.nDecls; i++)
    if (Host.Decls[i].Set == set && Host.Decls[i].Number == number) return &Host.Decls[i];
  for (const ArgDecl& d : kToolkitArgs)
    if (d.Set == set && d.Number == number) return &d;
  return nullptr;
}

}  // namespace

int NlsFormatArgs(const char* text, char* args, int size) {
  if (!args || size < 1) return -1;
  int n = 0;
  args[0] = 0;
  if (!text) return 0;
  auto add = [&](char c) {
    if (n + 1 >= size) return false;
    args[n++] = c;
    args[n] = 0;
    return true;
  };
  for (const char* p = text; *p; p++) {
    if (*p != '%') continue;
    p++;
    if (*p == '%') continue;
    // Flags, then width and precision, each a number or "*" (an int argument).
    while (*p && strchr("-+ #0'", *p)) p++;
    if (*p == '*') {
      if (!add('i')) return -1;
      p++;
    } else {
      while (*p >= '0' && *p <= '9') p++;
      if (*p == '$') return -1;  // positional arguments cannot be checked against a caller
    }
    if (*p == '.') {
      p++;
      if (*p == '*') {
        if (!add('i')) return -1;
        p++;
      } else {
        while (*p >= '0' && *p <= '9') p++;
      }
    }
    // Length modifier.
    char len = 0;  // 0 none, H hh/h, l, q (ll), j, z, t, L
    if (*p == 'h') {
      len = 'H';
      if (*++p == 'h') p++;
    } else if (*p == 'l') {
      len = 'l';
      if (*++p == 'l') {
        len = 'q';
        p++;
      }
    } else if (*p && strchr("qjztL", *p)) {
      len = *p++;
    }
    char cls;
    switch (*p) {
      case 'd': case 'i': case 'o': case 'u': case 'x': case 'X':
        if (len == 'L') return -1;
        cls = (len == 0 || len == 'H') ? 'i' : len;
        break;
      case 'c':
        if (len != 0 && len != 'l') return -1;
        // A wide character is a class of its own: printing a char as one fails in the C
        // library (and ends the whole text) for any character outside the locale.
        cls = len == 'l' ? 'W' : 'i';
        break;
      case 'C':
        if (len != 0) return -1;
        cls = 'W';
        break;
      case 's':
        if (len != 0 && len != 'l') return -1;
        cls = len == 'l' ? 'w' : 's';
        break;
      case 'S':
        if (len != 0) return -1;
        cls = 'w';
        break;
      case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
        if (len != 0 && len != 'l' && len != 'L') return -1;
        cls = len == 'L' ? 'D' : 'd';
        break;
      case 'p':
        if (len != 0) return -1;
        cls = 'p';
        break;
      default:  // %n, %m, an unknown letter or the end of the text
        return -1;
    }
    if (!add(cls)) return -1;
  }
  return n;
}

const char* NlsExpectedArgs(int set, int number) {
  const ArgDecl* d = FindDecl(set, number);
  return d ? d->szFormat : "";
}

int NlsDeclareArgs(int set, int number, const char* format) {
  char args[kNlsArgsSize];
  if (!format || strlen(format) >= size_t(kNlsArgsSize)) return 0;
  if (NlsFormatArgs(format, args, sizeof args) < 0) return 0;
  int i = 0;
  while (i < Host.nDecls && !(Host.Decls[i].Set == set && Host.Decls[i].Number == number)) i++;
  if (i == kMaxHostArgs) return 0;
  if (i == Host.nDecls) Host.nDecls++;
  strcpy(Host.Formats[i], format);
  Host.Decls[i] = {set, number, Host.Formats[i]};
  return 1;
}

int NlsCheckArgs(const char* text, int set, int number) {
  char want[kNlsArgsSize], got[kNlsArgsSize];
  if (NlsFormatArgs(NlsExpectedArgs(set, number), want, sizeof want) < 0) return 0;
  if (NlsFormatArgs(text, got, sizeof got) < 0) return 0;
  return strcmp(want, got) == 0;
}
