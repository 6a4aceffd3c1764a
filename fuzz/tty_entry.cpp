// tty_entry.cpp - ValidateEntry over hostile rules and values. Each input is checked twice:
// as it stands (the rule is its first line, the value the rest), and as a rule built from its
// first bytes (one or two items of a known kind, joined by "|" or "&") with the rest as value.
// Properties: no access outside a buffer, a result is one of the five codes, the same check
// gives the same result; for a built rule, a value is accepted exactly when it satisfies the
// rule, and a refused value gets the code of the first item it fails. The length check
// (ValidateEntryLen, ValidateEntryTty) agrees with the range it is given.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/support.h"
#include "tty/TextMenu.h"

namespace {

// One item of a built rule.
struct Item {
  char kind;         // d A a p L ! or '=' (a literal text)
  int min, max;      // bounds (max 0: no check)
  std::string text;  // extra allowed characters (+c), the excluded text or the literal
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string RuleText(const Item& it) {
  std::string s;
  switch (it.kind) {
    case '!':
      return "!(" + it.text + ")";
    case '=':
      return it.text;
    default:
      s = std::string(1, it.kind) + "(" + std::to_string(it.min) + "," + std::to_string(it.max) + ")";
      if (it.kind != 'L')
        for (char c : it.text) s += std::string("+") + c;
      return s;
  }
}

bool LengthOk(const std::string& v, const Item& it) {
  return it.max == 0 || (v.size() >= size_t(it.min) && v.size() <= size_t(it.max));
}

// Whether the whole value satisfies the item, and the code it is refused with.
bool Satisfies(const std::string& v, const Item& it, int* code) {
  auto extra = [&](char c) { return it.kind != 'L' && it.text.find(c) != std::string::npos; };
  switch (it.kind) {
    case 'd': {
      for (char c : v) {
        if (!IsDigit(c)) {
          *code = kEntryChar;
          return false;
        }
      }
      *code = kEntryRange;
      if (it.max == 0) return true;
      if (v.empty()) return false;
      size_t nz = v.find_first_not_of('0');
      std::string digits = nz == std::string::npos ? "0" : v.substr(nz);
      if (digits.size() > 9) return false;
      long n = atol(digits.c_str());
      return n >= it.min && n <= it.max;
    }
    case 'A':
    case 'a':
    case 'p':
      for (char c : v) {
        bool ok = it.kind == 'a'   ? IsAlpha(c)
                  : it.kind == 'A' ? IsAlpha(c) || IsDigit(c)
                                   : c >= ' ' && c < 0x7f;
        if (!ok && !extra(c)) {
          *code = kEntryChar;
          return false;
        }
      }
      *code = kEntryLength;
      return LengthOk(v, it);
    case 'L':
      *code = kEntryLength;
      return LengthOk(v, it);
    case '!':
      *code = kEntryExcluded;
      return v != it.text;
    default:  // literal: the value begins with it
      *code = kEntryChar;
      return v.compare(0, it.text.size(), it.text) == 0;
  }
}

// An item from the input's bytes at *p (consumed).
Item MakeItem(const uint8_t*& p, const uint8_t* end) {
  auto next = [&]() -> uint8_t { return p < end ? *p++ : 0; };
  static const char kKinds[] = "dAapL!=";
  Item it;
  it.kind = kKinds[next() % 7];
  it.min = next() % 12;
  it.max = next() % 16;
  int nText = next() % 4;
  for (int i = 0; i < nText; i++) {
    char c = static_cast<char>(next());
    // Characters that would end the item or mean something to the rule are left out.
    if (c == 0 || c == ')' || c == '\\' || c == '|' || c == '&' || c == ' ' || c == '\t' ||
        c == '\n' || c == '+' || c == '-')
      continue;
    if (it.kind == '=' && strchr("dDxfAapLt!", c)) continue;
    it.text += c;
  }
  if (it.kind == '=' && it.text.empty()) it.text = "k";
  return it;
}

bool IsCharItem(char kind) { return strchr("AapL=", kind) != nullptr; }

void CheckBuilt(const uint8_t* data, size_t size) {
  const uint8_t* p = data;
  const uint8_t* end = data + size;
  Item a = MakeItem(p, end);
  int join = p < end ? *p++ % 3 : 0;  // 0 alone, 1 "|", 2 "&"
  Item b = MakeItem(p, end);
  std::string value(reinterpret_cast<const char*>(p), size_t(end - p));
  value = value.c_str();
  if (value.size() > 400) return;
  std::string rule = RuleText(a);
  if (join == 1) rule += "|" + RuleText(b);
  if (join == 2) rule += "&" + RuleText(b);

  int codeA = 0, codeB = 0;
  bool okA = Satisfies(value, a, &codeA), okB = Satisfies(value, b, &codeB);
  int got = ValidateEntry(value.c_str(), rule.c_str());
  int want;
  if (a.kind == '!') {
    want = okA ? kEntryValid : kEntryExcluded;  // "!" ends the check either way
  } else if (join == 0) {
    want = okA ? kEntryValid : codeA;
  } else if (join == 1) {
    // A character, length or literal failure tries the alternative; a number's does not.
    if (okA) want = kEntryValid;
    else if (!IsCharItem(a.kind)) want = codeA;
    else want = okB ? kEntryValid : (b.kind == '!' ? kEntryExcluded : codeB);
  } else {
    if (!okA) want = codeA;
    else want = okB ? kEntryValid : (b.kind == '!' ? kEntryExcluded : codeB);
  }
  // A literal followed by more items checks them at the value's rest, not the whole value.
  if (a.kind == '=' && join == 0) {
    FUZZ_CHECK(got == want, "rule \"%s\", value \"%s\": %d, expected %d", rule.c_str(),
               value.c_str(), got, want);
    return;
  }
  if (a.kind == '=' || b.kind == '=') return;
  FUZZ_CHECK(got == want, "rule \"%s\", value \"%s\": %d, expected %d", rule.c_str(),
             value.c_str(), got, want);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzInit();
  // Every refusal waits for Enter: standard input is at its end, so nothing waits.
  int fd = open("/dev/null", O_RDONLY);
  if (fd >= 0) {
    dup2(fd, 0);
    close(fd);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t nl = input.find('\n');
  std::string rule = input.substr(0, nl).c_str();
  std::string value = nl == std::string::npos ? "" : input.substr(nl + 1).c_str();

  int code = ValidateEntry(value.c_str(), rule.c_str());
  FUZZ_CHECK(code >= kEntryValid && code <= kEntryExcluded, "code %d", code);
  FUZZ_CHECK(ValidateEntry(value.c_str(), rule.c_str()) == code, "second check differs");
  FUZZ_CHECK(ValidateEntry(value.c_str(), nullptr) == kEntryValid, "no rule refuses");

  // The rule's text read as a range.
  int min = -1;
  int max = getMinMax(rule.c_str(), &min);
  FUZZ_CHECK(min >= 0 && max >= 0, "range %d to %d", min, max);
  char* msg = ValidateEntryLen(value.c_str(), rule.c_str());
  bool fits = value.size() >= size_t(min) && value.size() <= size_t(max);
  FUZZ_CHECK(!msg == fits, "length %zu against %d to %d: %s", value.size(), min, max,
             msg ? "refused" : "accepted");
  if (msg) FUZZ_CHECK(strlen(msg) < size_t(kNlsBufSize), "length message too long");
  int tty = ValidateEntryTty(value.c_str(), rule.c_str());
  FUZZ_CHECK(tty == (!fits ? kEntryLength : ValidateEntryDigit(value.c_str()) ? kEntryChar : 0),
             "ValidateEntryTty gives %d", tty);

  CheckBuilt(data, size);
  return 0;
}
