// utils_edit.cpp - line editors that change a text file in place the way a shell script would:
// copy "name.ext" line by line into "name.extout" beside it, changing, dropping or adding text,
// then "rm -f" the file and "mv" the copy into its place through system(). Each returns the mv's
// status. Names are checked before anything runs: over 127 characters, or holding a character
// that is not safe in a shell command, they end the program with "ERROR: ...". A copy that could
// not be written completely is removed and the file is left as it was. No state survives a call
// but the OpenIOFiles/ReplaceInputFile pair's Fn, FnOut and pOut.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "base/utils.h"
#include "syscmd/SysCmd.h"

char Fn[kEditNameSize];
char FnOut[kEditNameSize];
FILE* pOut = nullptr;

namespace {

constexpr int kPieceSize = 511;         // lines are read 510 characters at a time
constexpr int kCodesSize = 128;         // replacement characters of FileChangeChar: 127 at most
constexpr int kCommandSize = 2 * kEditNameSize + 16;

// One edit in progress: the two names and their streams.
struct Edit {
  char In[kEditNameSize];
  char Out[kEditNameSize];
  FILE* pIn;
  FILE* pOut;
  char Piece[kPieceSize];
};

// Builds "%s.%s" (or name alone for an empty ext) into in and, when out is given, "%s.%sout"
// (name.out for an empty ext) or, with flAppendOut, "<in>out". Refuses (exit 1) what does not
// fit or is not safe in a shell command.
void BuildNames(const char* name, const char* ext, char* in, char* out, int flAppendOut) {
  if (!name || !*name) ErrorMsg(2, 1, "no file name to edit");
  if (!ext) ext = "";
  int nIn = *ext ? snprintf(in, kEditNameSize, "%s.%s", name, ext)
                 : snprintf(in, kEditNameSize, "%s", name);
  int nOut = flAppendOut ? snprintf(out, kEditNameSize, "%sout", in)
                         : snprintf(out, kEditNameSize, "%s.%sout", name, ext);
  if (nIn < 0 || nIn >= kEditNameSize || nOut < 0 || nOut >= kEditNameSize)
    ErrorMsg(2, 1, "file name too long: %.60s...", name);
  ShellSafe(in, 2);
  ShellSafe(out, 2);
}

void OpenEdit(Edit* e, const char* name, const char* ext) {
  BuildNames(name, ext, e->In, e->Out, 0);
  e->pIn = OpenFile(nullptr, e->In, "rt", 2);
  e->pOut = OpenFile(nullptr, e->Out, "wt", 2);
}

int NextLine(Edit* e) { return fgets(e->Piece, kPieceSize, e->pIn) != nullptr; }

// Closes both files; "rm -f in" then "mv out in" (cmd is the command buffer). A copy that was
// not written completely is removed instead, and 1 is returned with the file unchanged.
int ReplaceWith(const char* in, const char* out, FILE* fin, FILE* fout, char* cmd, size_t size) {
  if (fin) fclose(fin);
  int flOk = 1;
  if (fout) {
    flOk = !ferror(fout);
    if (fclose(fout) != 0) flOk = 0;
  }
  if (!flOk) {
    fprintf(stderr, "ERROR: couldn't write %s\n", out);
    unlink(out);
    return 1;
  }
  snprintf(cmd, size, "rm -f %s", in);
  system(cmd);
  snprintf(cmd, size, "mv %s %s", out, in);
  return system(cmd);
}

int FinishEdit(Edit* e) {
  char szCmd[kCommandSize];
  return ReplaceWith(e->In, e->Out, e->pIn, e->pOut, szCmd, sizeof szCmd);
}

// Reads a character code written as "%i" reads it (decimal, 0x hexadecimal, 0 octal).
int ReadCode(const char* text, int* code) { return text && sscanf(text, "%i", code) == 1; }

// Where the pattern first occurs in line; never for a null or empty pattern.
char* Match(char* line, const char* pattern) {
  return pattern && *pattern ? strstr(line, pattern) : nullptr;
}

// Writes line with the first occurrence of pattern (at p) replaced by with.
void WriteReplaced(FILE* f, const char* line, const char* p, size_t patLen, const char* with) {
  fwrite(line, 1, static_cast<size_t>(p - line), f);
  fputs(with, f);
  fputs(p + patLen, f);
}

// Writes line with every character of code c replaced by the text with.
void WriteCharReplaced(FILE* f, const char* line, int c, const char* with) {
  for (const char* p = line; *p; p++) {
    if (static_cast<unsigned char>(*p) == c) fputs(with, f);
    else fputc(*p, f);
  }
}

// A numbering template: optional "%s<start>" (removed), optional "%#<m>" (the number's place).
struct Numbering {
  char* pText;      // the template without "%s<start>", in the pool
  char* pHash;      // "%#" in pText, or null
  const char* pAfter;  // the template text after "%#<m>"
  int Counter;
  int M;
};

void ParseTemplate(Numbering* n, const char* tmpl) {
  n->pText = SaveStr_(tmpl ? tmpl : "");
  n->Counter = 0;
  n->M = 0;
  if (char* p = strstr(n->pText, "%s")) {
    char* pEnd = p + 2;
    long v = strtol(p + 2, &pEnd, 10);
    n->Counter = static_cast<int>(v);
    memmove(p, pEnd, strlen(pEnd) + 1);
  }
  n->pHash = strstr(n->pText, "%#");
  n->pAfter = nullptr;
  if (n->pHash) {
    char* pEnd = n->pHash + 2;
    n->M = static_cast<int>(strtol(n->pHash + 2, &pEnd, 10));
    n->pAfter = pEnd;
  }
}

// Writes the prefix for the current counter, then counts the line.
void WritePrefix(FILE* f, Numbering* n) {
  if (!n->pHash) {
    fputs(n->pText, f);
  } else if (n->Counter >= n->M) {
    fwrite(n->pText, 1, static_cast<size_t>(n->pHash - n->pText), f);
    fprintf(f, "%05i", n->Counter - n->M);
    fputs(n->pAfter, f);
  }
  n->Counter++;
}

int InsertEdit(const char* name, const char* ext, const char* tmpl, const char* pattern,
               int flAll) {
  Edit e;
  OpenEdit(&e, name, ext);
  Numbering n;
  ParseTemplate(&n, tmpl);
  while (NextLine(&e)) {
    if (flAll || Match(e.Piece, pattern)) WritePrefix(e.pOut, &n);
    fputs(e.Piece, e.pOut);
  }
  PutMem(n.pText);
  return FinishEdit(&e);
}

}  // namespace

int FileChange(const char* name, const char* ext, const char* pattern, const char* replacement) {
  Edit e;
  OpenEdit(&e, name, ext);
  size_t nPat = pattern ? strlen(pattern) : 0;
  while (NextLine(&e)) {
    if (char* p = Match(e.Piece, pattern))
      WriteReplaced(e.pOut, e.Piece, p, nPat, replacement ? replacement : "");
    else
      fputs(e.Piece, e.pOut);
  }
  return FinishEdit(&e);
}

int FileChangeChar(const char* name, const char* ext, const char* code, const char* codes) {
  int c = 0;
  if (!ReadCode(code, &c)) ErrorMsg(2, 1, "not a character code: %.40s", code ? code : "");
  char szWith[kCodesSize];
  int nWith = 0;
  if (codes) {
    const char* p = codes;
    for (;;) {
      int v = 0;
      if (!ReadCode(p, &v) || v == 0) break;
      if (nWith >= kCodesSize - 1) ErrorMsg(2, 1, "too many replacement characters: %.40s", codes);
      szWith[nWith++] = static_cast<char>(v);
      p = strchr(p, ',');
      if (!p) break;
      p++;
    }
  }
  szWith[nWith] = 0;
  Edit e;
  OpenEdit(&e, name, ext);
  while (NextLine(&e)) WriteCharReplaced(e.pOut, e.Piece, c, szWith);
  return FinishEdit(&e);
}

int FileDel(const char* name, const char* ext, int count, const char* pattern) {
  Edit e;
  OpenEdit(&e, name, ext);
  size_t nPat = pattern ? strlen(pattern) : 0;
  int nSeen = 0;
  while (NextLine(&e)) {
    char* p = Match(e.Piece, pattern);
    if (p && ++nSeen > count) WriteReplaced(e.pOut, e.Piece, p, nPat, "");
    else fputs(e.Piece, e.pOut);
  }
  return FinishEdit(&e);
}

int FileDelLine(const char* name, const char* ext, int count, const char* pattern) {
  Edit e;
  OpenEdit(&e, name, ext);
  int nSeen = 0;
  while (NextLine(&e)) {
    if (Match(e.Piece, pattern) && ++nSeen > count) continue;
    fputs(e.Piece, e.pOut);
  }
  return FinishEdit(&e);
}

int FileDelLinePair(const char* name, const char* ext, int count, const char* pattern,
                    const char* closer) {
  Edit e;
  OpenEdit(&e, name, ext);
  int nSeen = 0;
  int nPending = 0;
  while (NextLine(&e)) {
    if (Match(e.Piece, pattern)) {
      if (++nSeen > count) {
        nPending++;
        continue;
      }
    } else if (nPending > 0 && Match(e.Piece, closer)) {
      nPending--;
      continue;
    }
    fputs(e.Piece, e.pOut);
  }
  return FinishEdit(&e);
}

int FileDelFormat(const char* name, const char* ext, const char* selector, const char* pattern) {
  char chSel = selector ? selector[0] : 0;
  if (!strchr("balc", chSel) && chSel != 0) {
    // An unknown selector changes nothing; the names are still checked as for every edit.
    char szIn[kEditNameSize], szOut[kEditNameSize];
    BuildNames(name, ext, szIn, szOut, 0);
    return 1;
  }
  int c = 0;
  if (chSel == 'c' && !ReadCode(pattern, &c))
    ErrorMsg(2, 1, "not a character code: %.40s", pattern ? pattern : "");
  Edit e;
  OpenEdit(&e, name, ext);
  size_t nPat = pattern ? strlen(pattern) : 0;
  while (NextLine(&e)) {
    if (chSel == 'c') {
      WriteCharReplaced(e.pOut, e.Piece, c, "");
      continue;
    }
    char* p = Match(e.Piece, pattern);
    if (!p) {
      fputs(e.Piece, e.pOut);
    } else if (chSel == 'b') {
      fputs(p, e.pOut);
    } else if (chSel == 'a') {
      fwrite(e.Piece, 1, static_cast<size_t>(p - e.Piece) + nPat, e.pOut);
      fputc('\n', e.pOut);
    } else if (chSel == 0) {
      WriteReplaced(e.pOut, e.Piece, p, nPat, "");
    }  // 'l': the line is dropped
  }
  return FinishEdit(&e);
}

int FileInsert(const char* name, const char* ext, const char* tmpl) {
  return InsertEdit(name, ext, tmpl, nullptr, 1);
}

int FileSearchInsert(const char* name, const char* ext, const char* tmpl, const char* pattern) {
  return InsertEdit(name, ext, tmpl, pattern, 0);
}

FILE* OpenIOFiles(const char* name, const char* ext) {
  BuildNames(name, ext, Fn, FnOut, 1);
  pIn = OpenFile(pIn, Fn, "rt", 2);
  FileStatus = 0;
  pOut = OpenFile(pOut, FnOut, "wt", 2);
  return pOut;
}

int ReplaceInputFile() {
  FILE* fin = pIn;
  FILE* fout = pOut;
  pIn = nullptr;
  pOut = nullptr;
  FileStatus = 1;
  if (!Fn[0] || !FnOut[0]) {
    if (fin) fclose(fin);
    if (fout) fclose(fout);
    return 1;
  }
  return ReplaceWith(Fn, FnOut, fin, fout, Line, kLineSize);
}

char* GenName(const char* text) {
  static char szName[kEditNameSize];
  int n = 0;
  const char* p = text ? text : "";
  while (*p && !isalpha(static_cast<unsigned char>(*p))) p++;
  int flWordStart = 1;
  for (; *p && n < kEditNameSize - 1; p++) {
    unsigned char ch = static_cast<unsigned char>(*p);
    if (!isalnum(ch)) {
      flWordStart = 1;
      continue;
    }
    szName[n++] = static_cast<char>(flWordStart ? toupper(ch) : tolower(ch));
    flWordStart = 0;
  }
  szName[n] = 0;
  return szName;
}
