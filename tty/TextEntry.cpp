// TextEntry.cpp - the entry-rule checker. A rule is a text of items read left to right:
// d(min,max) integer, D(min,max) long number, x(min,max) hexadecimal, f(min,max) float,
// A/a/p(min,max) letters-and-digits / letters / printable characters of a length, L or
// t(min,max) a length, !(text) an excluded value, any other character a literal; "+c"/"-c"
// after d, D, A, a, p allow or forbid c; "|" starts an alternative, "&" a further check of
// the whole value; a max of 0 switches a range or length check off. Results 0 to 4 (the
// kEntry* codes); a refusal is posted (PostMsg) before it is returned. Rules are data: every
// scan stops at the rule's end, numbers stop at 2147483647, a value past that is out of range.
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "nls/NlsUtils.h"
#include "tty/TextMenu.h"
#include "tty/tty_private.h"

char* pErrIntRange;
char* pErrFloatRange;
char* pErrLongRange;
char NlsBuf[kNlsBufSize];

namespace {

constexpr int kMsgSize = 4096;       // one posted refusal
constexpr int kCharSetSize = 256;    // distinct characters of a modifier set and the terminator

const char kInvalidDigit[] = "Invalid digit:  %c\n";
const char kLongNumberBadChar[] = "Invalid character '%c'\nThis text may contain \"0123456789.\"";
const char kFloatRange[] = "This number must be between %f to %f.";

// The modifiers of an item: characters allowed beside its class ("+c") and refused ("-c").
struct CharSets {
  char Extra[kCharSetSize];
  char Forbid[kCharSetSize];
};

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsPunct(unsigned char c) { return c > ' ' && c < 0x7f && !IsDigit(c) && !IsAlpha(c); }
int HexDigit(unsigned char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool InSet(const char* set, char c) { return c != '\0' && strchr(set, c) != nullptr; }

void AddToSet(char* set, char c) {
  size_t n = strlen(set);
  if (InSet(set, c) || n + 1 >= kCharSetSize) return;
  set[n] = c;
  set[n + 1] = '\0';
}

// A decimal number of a rule or range text: the digits at *pp (saturating at INT_MAX); the
// cursor then steps over them and one character more, never past the end.
int TakeNumber(const char** pp) {
  const char* p = *pp;
  long long n = 0;
  for (; IsDigit(static_cast<unsigned char>(*p)); p++) {
    if (n <= INT_MAX) n = n * 10 + (*p - '0');
  }
  if (*p) p++;
  *pp = p;
  return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

// "c(min,max)" from the letter on: the bounds; returns the text after the closing character.
const char* TakeBounds(const char* p, int* min, int* max) {
  p++;
  if (*p) p++;
  *min = TakeNumber(&p);
  *max = TakeNumber(&p);
  return p;
}

// "c(min,max)" with long-double or float bounds: the text after the next ")".
const char* TakeRealBounds(const char* p, long double* min, long double* max) {
  *min = *max = 0;
  if (!p[1]) return p + 1;
  const char* pBounds = p + 2;
  char* pEnd;
  long double lo = strtold(pBounds, &pEnd);
  if (pEnd != pBounds) {
    *min = lo;
    if (*pEnd == ',') {
      const char* pMax = pEnd + 1;
      long double hi = strtold(pMax, &pEnd);
      if (pEnd != pMax) *max = hi;
    }
  }
  const char* pClose = strchr(pBounds, ')');
  return pClose ? pClose + 1 : pBounds + strlen(pBounds);
}

const char* TakeModifiers(const char* p, CharSets* pSets) {
  while ((*p == '+' || *p == '-') && p[1]) {
    AddToSet(*p == '+' ? pSets->Extra : pSets->Forbid, p[1]);
    p += 2;
  }
  return p;
}

// Unsigned digits of the base at p ("0x" allowed before hexadecimal ones); *pValue saturates
// just above INT_MAX. Returns the end of the number, p itself when there is none.
const char* ReadNumber(const char* p, int base, long long* pValue) {
  if (base == 16 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
      HexDigit(static_cast<unsigned char>(p[2])) >= 0) {
    p += 2;
  }
  long long n = 0;
  for (;; p++) {
    int digit = base == 16 ? HexDigit(static_cast<unsigned char>(*p))
                           : (IsDigit(static_cast<unsigned char>(*p)) ? *p - '0' : -1);
    if (digit < 0) break;
    if (n <= INT_MAX) n = n * base + digit;
  }
  *pValue = n > INT_MAX ? static_cast<long long>(INT_MAX) + 1 : n;
  return p;
}

// The rule text after the next "|" when one comes before any "&"; null when none does.
const char* NextAlternative(const char* p) {
  for (; *p; p++) {
    if (*p == '|') return p + 1;
    if (*p == '&') return nullptr;
  }
  return nullptr;
}

// The next "|" or "&", or the end of the rule.
const char* NextJoin(const char* p) {
  while (*p && *p != '|' && *p != '&') p++;
  return p;
}

// Where the rule goes on after a number item: right after its text when max is 0 (no range
// check), at the next "|" or "&" when the number is in range; null when it is out of range.
template <typename T>
const char* AfterRange(bool flNumber, T number, T min, T max, const char* pEnd) {
  if (max == 0) return pEnd;
  if (flNumber && number >= min && number <= max) return NextJoin(pEnd);
  return nullptr;
}

bool LengthFits(const char* value, int min, int max) {
  if (max == 0) return true;
  size_t len = strlen(value);
  return len >= static_cast<size_t>(min < 0 ? 0 : min) && len <= static_cast<size_t>(max);
}

// Posts text, a fetched form of message (25, number), with the arguments ("Error" when its
// conversions are not the message's).
void PostText(const char* text, int number, ...) {
  char msg[kMsgSize];
  va_list ap;
  va_start(ap, number);
  TtyFormatV(msg, sizeof msg, text, 25, number, ap);
  va_end(ap);
  PostMsg("%s", msg);
}

// Posts message (set, number) of the catalogue with the arguments.
void PostCatalog(int set, int number, ...) {
  char msg[kMsgSize];
  va_list ap;
  va_start(ap, number);
  TtyMsgV(msg, sizeof msg, set, number, ap);
  va_end(ap);
  PostMsg("%s", msg);
}

void PostLength(int min, int max) {
  if (min == max) {
    PostCatalog(30, 44, min, max);
  } else {
    PostCatalog(30, 42, min, max);
  }
}

char* FetchKept(int number) {
  char text[kNlsStrBufSize];
  NlsFetchString(pDrvCoreDB, text, kNlsBySetNumber, 25, number);
  text[kNlsStrBufSize - 1] = '\0';
  return SaveStr_(text);
}

// 1 when value equals the text of "!(text)" that starts at p: up to the first unescaped ")"
// or the rule's end, with \n, \r, \t and \x (x itself) read as the tokenizer reads them.
bool EqualsExcluded(const char* value, const char* p) {
  for (;;) {
    char c = *p;
    if (c == '\0' || c == ')') return *value == '\0';
    if (c == '\\' && p[1]) {
      p++;
      c = *p == 'n' ? '\n' : *p == 'r' ? '\r' : *p == 't' ? '\t' : *p;
    }
    if (*value != c) return false;
    value++;
    p++;
  }
}

bool ClassAllows(char item, unsigned char c) {
  switch (item) {
    case 'A': return IsAlpha(c) || IsDigit(c);
    case 'a': return IsAlpha(c);
    default: return IsAlpha(c) || IsDigit(c) || IsPunct(c) || c == ' ';  // 'p'
  }
}

}  // namespace

int ValidateEntry(const char* value, const char* rule) {
  if (!rule) return kEntryValid;
  if (!pErrIntRange) {
    pErrIntRange = FetchKept(1003);
    pErrFloatRange = FetchKept(1004);
    pErrLongRange = FetchKept(1024);
  }
  if (!value) value = "";
  const char* pVal = value;  // value cursor
  const char* r = rule;      // rule cursor
  char copy[kEntryCopySize];  // the characters matched so far
  int nCopy = 0;
  copy[0] = '\0';
  auto restart = [&](const char* at) {
    r = at;
    pVal = value;
    nCopy = 0;
    copy[0] = '\0';
  };
  auto keep = [&](char c) {
    if (nCopy < kEntryCopySize - 1) {
      copy[nCopy++] = c;
      copy[nCopy] = '\0';
    }
  };
  // A character, length or literal failure tries the next alternative before it is reported.
  auto tryAlternative = [&](const char* from) {
    const char* pAlt = NextAlternative(from);
    if (pAlt) restart(pAlt);
    return pAlt != nullptr;
  };

  for (;;) {
    const char item = *r;
    switch (item) {
      case '\0':
      case '|':
        return kEntryValid;
      case ' ':
      case '\t':
      case '\n':
        r++;
        continue;
      case '&':
        restart(r + 1);
        continue;

      case 'd':
      case 'x': {
        int min, max;
        CharSets sets{};
        const char* pEnd = TakeBounds(r, &min, &max);
        if (item == 'd') {
          pEnd = TakeModifiers(pEnd, &sets);
          for (const char* q = value; *q; q++) {
            if (!IsDigit(static_cast<unsigned char>(*q)) || InSet(sets.Forbid, *q)) {
              PostMsg(kInvalidDigit, *q);
              return kEntryChar;
            }
          }
        }
        long long number;
        const char* pNumEnd = ReadNumber(pVal, item == 'd' ? 10 : 16, &number);
        bool flNumber = pNumEnd != pVal;
        pVal = *pNumEnd ? pNumEnd + 1 : pNumEnd;
        if (const char* pNext = AfterRange<long long>(flNumber, number, min, max, pEnd)) {
          r = pNext;
          continue;
        }
        if (item == 'd') {
          PostText(pErrIntRange, 1003, min, max);
        } else {
          PostText(pErrFloatRange, 1004, min, max);
        }
        return kEntryRange;
      }

      case 'D': {
        long double min, max;
        CharSets sets{};
        const char* pEnd = TakeModifiers(TakeRealBounds(r, &min, &max), &sets);
        for (const char* q = value; *q; q++) {
          if ((!IsDigit(static_cast<unsigned char>(*q)) && *q != '.') || InSet(sets.Forbid, *q)) {
            PostMsg(kLongNumberBadChar, *q);
            return kEntryChar;
          }
        }
        char* pNumEnd;
        long double number = strtold(pVal, &pNumEnd);
        if (const char* pNext = AfterRange(pNumEnd != pVal, number, min, max, pEnd)) {
          r = pNext;
          continue;
        }
        PostText(pErrLongRange, 1024, min, max);
        return kEntryRange;
      }

      case 'f': {
        long double min, max;
        const char* pEnd = TakeRealBounds(r, &min, &max);
        int nDots = 0;
        for (const char* q = pVal; *q; q++) {
          if (*q == '.') {
            nDots++;
          } else if (!IsDigit(static_cast<unsigned char>(*q))) {
            PostCatalog(25, 1006, *q);
            return kEntryChar;
          }
        }
        if (nDots > 1) {
          PostCatalog(25, 1020);
          return kEntryRange;
        }
        char* pNumEnd;
        float number = strtof(pVal, &pNumEnd);
        float fMin = static_cast<float>(min), fMax = static_cast<float>(max);
        if (const char* pNext = AfterRange(pNumEnd != pVal, number, fMin, fMax, pEnd)) {
          r = pNext;
          continue;
        }
        PostMsg(kFloatRange, static_cast<double>(fMin), static_cast<double>(fMax));
        return kEntryRange;
      }

      case 'A':
      case 'a':
      case 'p': {
        int min, max;
        CharSets sets{};
        const char* pEnd = TakeModifiers(TakeBounds(r, &min, &max), &sets);
        for (; *pVal; pVal++) {
          char c = *pVal;
          bool flAllowed = ClassAllows(item, static_cast<unsigned char>(c)) || InSet(sets.Extra, c);
          if (!flAllowed || InSet(sets.Forbid, c)) break;
          keep(c);
        }
        if (*pVal) {
          char bad = *pVal;
          if (tryAlternative(pEnd)) continue;
          PostCatalog(25, item == 'a' ? 1008 : 1007, bad, sets.Extra);
          return kEntryChar;
        }
        if (!LengthFits(value, min, max)) {
          if (tryAlternative(pEnd)) continue;
          PostLength(min, max);
          return kEntryLength;
        }
        r = pEnd;
        continue;
      }

      case 't':
      case 'L':
        if (item == 'L' || r[1] == '(') {
          int min, max;
          const char* pEnd = TakeBounds(r, &min, &max);
          if (!LengthFits(value, min, max)) {
            if (tryAlternative(pEnd)) continue;
            PostLength(min, max);
            return kEntryLength;
          }
          r = pEnd;
          continue;
        }
        [[fallthrough]];  // "t" without "(" excludes a value as "!" does
      case '!':
        if (EqualsExcluded(value, r[1] ? r + 2 : r + 1)) {
          PostCatalog(25, 1009, value);
          return kEntryExcluded;
        }
        return kEntryValid;

      default:  // a literal
        if (*pVal == item) {
          keep(item);
          pVal++;
          r++;
          continue;
        }
        char typed = *pVal;
        if (tryAlternative(r + 1)) continue;
        // Message (25, 1007) takes a character and a text; the mismatch has its own (25, 1025).
        if (nCopy > 0) PostCatalog(25, 1025, typed, item, copy);
        return kEntryChar;
    }
  }
}

int getMinMax(const char* range, int* min) {
  const char* p = range ? range : "";
  if (*p && !IsDigit(static_cast<unsigned char>(*p))) p++;
  int lo = TakeNumber(&p);
  int hi = TakeNumber(&p);
  if (min) *min = lo;
  return hi;
}

char* ValidateEntryLen(const char* value, const char* range) {
  long long len = value ? static_cast<long long>(strlen(value)) : 0;
  int min = 4, max = 4;
  if (range) max = getMinMax(range, &min);
  if (len >= min && len <= max) return nullptr;
  if (min == max) {
    TtyMsg(NlsBuf, kNlsBufSize, 30, 44, min);
  } else {
    TtyMsg(NlsBuf, kNlsBufSize, 30, 42, min, max);
  }
  return NlsBuf;
}

int ValidateEntryDigit(const char* value) {
  for (const char* p = value ? value : ""; *p; p++) {
    if (!IsDigit(static_cast<unsigned char>(*p))) return static_cast<unsigned char>(*p);
  }
  return 0;
}

int ValidateEntryTty(const char* value, const char* range) {
  if (char* pMsg = ValidateEntryLen(value, range)) {
    PostMsg("%s", pMsg);
    return kEntryLength;
  }
  if (int c = ValidateEntryDigit(value)) {
    PostMsg(kInvalidDigit, c);
    return kEntryChar;
  }
  return kEntryValid;
}
