// TextMenuState.cpp - the state languages of menus: state references and conditions (which
// items have which values), and the state formats by which a list item's choice dims, hides,
// sets or re-applies other items.
//
// A state format is a series of groups "<action><numbers>{<targets>}", for example
// "H1{5,6} N0;2{3} P1{4} S1{7,2}": the group matches when the list item's Value is one of its
// numbers ("*" matches every value). For each target item t:
//   N  State of t = 1 (dimmed) when it matches, else 0;
//   H  State of t = 2 (hidden) when it matches, else 0;
//   P  when it matches, t's own format is applied and t's action called;
//   S  takes pairs t,v: when it matches, t's Value is saved and set to v; otherwise a saved
//      value is put back.
// Targets that name no item, S values that do not fit their item (a choice that does not
// exist; a text, float or submenu item) and a P that would apply a format already being
// applied are ignored.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/utils.h"
#include "tty/TextMenu.h"
#include "tty/TextMenu_private.h"

using namespace textmenu;

namespace {

// Strict decimal integer: an optional sign and digits, nothing else; 0 when malformed.
bool ParseInt(const char* text, long* pOut) {
  if (!text || !*text) return false;
  char* pEnd = nullptr;
  errno = 0;
  long v = strtol(text, &pEnd, 10);
  if (errno || pEnd == text || *pEnd || v < INT_MIN || v > INT_MAX) return false;
  if (!isdigit(static_cast<unsigned char>(text[0])) && text[0] != '-' && text[0] != '+') {
    return false;  // strtol would skip leading blanks
  }
  *pOut = v;
  return true;
}

// The condition being read: one read position shared by the nested calls.
struct CondScan {
  TextMenu* pMenu;
  int Base;
  const char* p;
  int Depth;
  bool flBad;
};

bool CondOr(CondScan* s);

// A reference, or a reference followed by "A"; ends at an operator, a parenthesis or the end.
bool CondRef(CondScan* s) {
  char ref[kMenuRefSize];
  int n = 0;
  while (*s->p && !strchr("&|!()A", *s->p)) {
    if (*s->p != ' ' && *s->p != '\t') {
      if (n >= kMenuRefSize - 1) {
        s->flBad = true;
        return false;
      }
      ref[n++] = *s->p;
    }
    s->p++;
  }
  ref[n] = '\0';
  if (n == 0) {
    s->flBad = true;
    return false;
  }
  int state = TestState(s->pMenu, ref, s->Base);
  if (*s->p == 'A') {
    s->p++;
    return state == 2;
  }
  return state != 0;
}

bool CondUnary(CondScan* s) {
  if (*s->p == '!' || *s->p == '(') {
    if (++s->Depth > kMenuMaxDepth) {
      s->flBad = true;
      return false;
    }
    bool v;
    if (*s->p++ == '!') {
      v = !CondUnary(s);
    } else {
      v = CondOr(s);
      if (*s->p == ')') {
        s->p++;
      } else {
        s->flBad = true;
      }
    }
    s->Depth--;
    return v;
  }
  return CondRef(s);
}

bool CondAnd(CondScan* s) {
  bool v = CondUnary(s);
  while (!s->flBad && *s->p == '&') {
    s->p++;
    bool r = CondUnary(s);
    v = v && r;
  }
  return v;
}

bool CondOr(CondScan* s) {
  bool v = CondAnd(s);
  while (!s->flBad && *s->p == '|') {
    s->p++;
    bool r = CondAnd(s);
    v = v || r;
  }
  return v;
}

// Items whose formats are being applied, innermost last (P re-applies formats).
struct FormatStack {
  int Index[kMenuMaxDepth];
  int Depth;
};
FormatStack g_Active;

bool FormatActive(int index) {
  for (int i = 0; i < g_Active.Depth; i++) {
    if (g_Active.Index[i] == index) return true;
  }
  return false;
}

// S on one target: a value only where it fits.
void SetSaved(TextMenuItem* t, bool flMatch, long v) {
  if (t->Type != kItemOneOf && t->Type != kItemSomeOf && t->Type != kItemInt) return;
  if (flMatch) {
    if (t->Type == kItemOneOf && (v < 0 || v >= t->ChoiceCount)) return;
    if (t->SavedValue < 0) t->SavedValue = static_cast<int32_t>(t->Value);
    t->Value = v;
  } else if (t->SavedValue >= 0) {
    t->Value = t->SavedValue;
    t->SavedValue = -1;
  } else {
    return;
  }
  if (t->Type == kItemOneOf) UpdateStateSelection(t);
}

constexpr char kFormatDelims[] = "{,.} ";

}  // namespace

int TestState(TextMenu* pMenu, const char* ref, int base) {
  if (!ref) return 0;
  const char* p = ref;
  int sign = 0;
  if (*p == '+' || *p == '-') sign = *p++ == '+' ? 1 : -1;
  if (!isdigit(static_cast<unsigned char>(*p))) return 0;
  char* pEnd = nullptr;
  long i = strtol(p, &pEnd, 10);
  if (*pEnd != '.' || i > INT_MAX) return 0;
  p = pEnd + 1;
  if (!isdigit(static_cast<unsigned char>(*p)) && !(*p == '-' && isdigit(static_cast<unsigned char>(p[1])))) {
    return 0;
  }
  errno = 0;
  long v = strtol(p, &pEnd, 10);
  if (*pEnd || errno) return 0;
  long index = sign ? base + sign * i : i;
  if (index < 0 || index > INT_MAX) return 0;
  TextMenuItem* it = ItemAt(pMenu, static_cast<int>(index));
  if (!it || it->Value != v) return 0;
  return it->State != kItemNormal ? 2 : 1;
}

bool TestStateCondition(TextMenu* pMenu, const char* cond, int base) {
  if (!cond || !*cond) return false;
  CondScan s{pMenu, base, cond, 0, false};
  bool v = CondOr(&s);
  if (s.flBad || *s.p) return false;  // malformed, too deep, or text left over (a stray ")")
  return v;
}

int TestFormatState(const char* list, intptr_t value) {
  if (!list) return 0;
  for (const char* p = list; *p;) {
    if (*p == '*') return 1;
    if (!isdigit(static_cast<unsigned char>(*p))) {
      p++;
      continue;
    }
    long long n = 0;
    while (isdigit(static_cast<unsigned char>(*p))) {
      if (n <= INT_MAX) n = n * 10 + (*p - '0');  // a longer number stays above every value
      p++;
    }
    if (n == value) return 1;
  }
  return 0;
}

void ProcessStateFormat(TextMenu* pMenu, int index) {
  TextMenuItem* it = ItemAt(pMenu, index);
  if (!it || !it->szRule || it->State != kItemNormal) return;
  if (FormatActive(index) || g_Active.Depth >= kMenuMaxDepth) return;
  g_Active.Index[g_Active.Depth++] = index;
  char chDel = chTokenDel;

  const char* cursor = it->szRule;
  char tok[kTokenBufSize];
  while (GetTokenD(nullptr, kFormatDelims, &cursor, tok)) {
    char action = tok[0];
    bool flMatch = TestFormatState(tok + 1, it->Value) == 1;
    char del = chTokenDel;
    if (del != '{') continue;  // no target list: not a group
    while (del != '}' && del != ' ' && del != '\0') {
      if (!GetTokenD(nullptr, kFormatDelims, &cursor, tok)) break;
      del = chTokenDel;
      long t = 0;
      bool flTarget = ParseInt(tok, &t);
      TextMenuItem* target = flTarget ? ItemAt(pMenu, static_cast<int>(t)) : nullptr;
      if (action == 'S') {  // a pair: the target, then its value
        if (del == '}' || del == ' ' || del == '\0') break;
        if (!GetTokenD(nullptr, kFormatDelims, &cursor, tok)) break;
        del = chTokenDel;
        long v = 0;
        if (target && ParseInt(tok, &v)) SetSaved(target, flMatch, v);
        continue;
      }
      if (!target) continue;
      switch (action) {
        case 'N':
          target->State = flMatch ? kItemDimmed : kItemNormal;
          break;
        case 'H':
          target->State = flMatch ? kItemHidden : kItemNormal;
          break;
        case 'P':
          if (flMatch && !FormatActive(static_cast<int>(t))) {
            ProcessStateFormat(pMenu, static_cast<int>(t));
            if (target->pfnAction) target->pfnAction(pMenu, target);
          }
          break;
        default:
          break;
      }
    }
  }

  chTokenDel = chDel;
  g_Active.Depth--;
}
