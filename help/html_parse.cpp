// html_parse.cpp - loading help files, stepping through their top-level tags, and the element
// scan that decodes text runs and character references in place.
// The file text is NUL-terminated and every scan stops at that NUL; the write position of a
// text run never passes the read position, so decoding needs no second buffer.
#include <climits>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "help/html.h"
#include "help/html_private.h"

HtmlFile* aFile[kMaxHtmlFiles];
int FileIndex = 0;
int CurrentFile = 0;
HtmlPage* pCurrentPage = nullptr;

const char HTMLKeys[] =
    ",nbsp;,iexcl;,cent;,pound;,curren;,yen;,brvbar;,sect;,uml;,copy;,ordf;,laquo;,not;,shy;"
    ",reg;,macr;,deg;,plusmn;,sup2;,sup3;,acute;,micro;,para;,middot;,cedil;,sup1;,ordm;"
    ",raquo;,frac14;,frac12;,frac34;,iquest;,Agrave;,Aacute;,Acirc;,Atilde;,Auml;,Aring;"
    ",AElig;,Ccedil;,Egrave;,Eacute;,Ecirc;,Euml;,Igrave;,Iacute;,Icirc;,Iuml;,ETH;,Ntilde;"
    ",Ograve;,Oacute;,Ocirc;,Otilde;,Ouml;,times;,Oslash;,Ugrave;,Uacute;,Ucirc;,Uuml;"
    ",Yacute;,THORN;,szlig;,agrave;,aacute;,acirc;,atilde;,auml;,aring;,aelig;,ccedil;"
    ",egrave;,eacute;,ecirc;,euml;,igrave;,iacute;,icirc;,iuml;,eth;,ntilde;,ograve;,oacute;"
    ",ocirc;,otilde;,ouml;,divide;,oslash;,ugrave;,uacute;,ucirc;,uuml;,yacute;,thorn;,yuml;,";

const unsigned char HTMLKeySizes[97] = {
    0,                                                       // positions are 1-based
    5, 6, 5, 6, 7, 4, 7, 5, 4, 5, 5, 6, 4, 4, 4, 5,          // nbsp .. macr
    4, 7, 5, 5, 6, 6, 5, 7, 6, 5, 5, 6, 7, 7, 7, 7,          // deg .. iquest
    7, 7, 6, 7, 5, 6, 6, 7, 7, 7, 6, 5, 7, 7, 6, 5,          // Agrave .. Iuml
    4, 7, 7, 7, 6, 7, 5, 6, 7, 7, 7, 6, 5, 7, 6, 6,          // ETH .. szlig
    7, 7, 6, 7, 5, 6, 6, 7, 7, 7, 6, 5, 7, 7, 6, 5,          // agrave .. iuml
    4, 7, 7, 7, 6, 7, 5, 7, 7, 7, 7, 6, 5, 7, 6, 5,          // eth .. yuml
};

namespace {

constexpr int kEntityCount = 96;
constexpr int kMaxEntityName = 15;  // characters after "&", ";" included
constexpr int kMaxAttributes = 64;  // pieces of an "a" tag's attribute text looked at
constexpr int kFirstChunk = 4096;        // bytes of the first arena chunk
constexpr int kLargestChunk = 1 << 20;   // chunks double up to this

// The help viewer's arena: elements, their links, anchors and page texts are taken from
// chunks of the pool by bumping a pointer; a help file has hundreds of thousands of elements
// and keeps them for the life of the process, so nothing here is released one by one. (A
// list releasing one frees nothing: the address lies inside its chunk.) The chunks are
// chained so that the dump, which needs a page only until it is printed, can start again
// from the first one (HelpArenaReset); a chunk used again is zeroed as it is handed out.
struct ArenaChunk {
  ArenaChunk* pNext;  // the next chunk of the chain, null at its end
  int32_t nSize;      // bytes after this header
  int32_t flReused;   // handed out before: zero what is taken from it
};
struct LargeBlock {   // an allocation of its own, chained for the reset
  LargeBlock* pNext;
  int64_t nPad;       // keeps the data 16-byte aligned
};
struct HelpArena {
  char* pNext;          // next free byte of the current chunk
  int nLeft;            // bytes left in it
  int nChunkSize;       // size of the next chunk
  ArenaChunk* pFirst;   // the chain, oldest first
  ArenaChunk* pCur;     // the chunk being used, null before the first
  LargeBlock* pLarge;   // allocations of their own, newest first
};
HelpArena Arena;

// Moves to the next chunk with room for n bytes: one of the chain after a reset, else a new
// one from the pool. False when the pool is exhausted.
bool NextChunk(int n) {
  ArenaChunk* c = Arena.pCur ? Arena.pCur->pNext : Arena.pFirst;
  while (c && c->nSize < n) c = c->pNext;  // too small for this request: left for now
  if (!c) {
    c = static_cast<ArenaChunk*>(GetMem(Arena.nChunkSize - 1));  // the pool adds the 1
    if (!c) return false;
    c->nSize = Arena.nChunkSize - static_cast<int>(sizeof(ArenaChunk));
    if (Arena.nChunkSize < kLargestChunk) Arena.nChunkSize *= 2;
    ArenaChunk** ppLink = &Arena.pFirst;
    while (*ppLink) ppLink = &(*ppLink)->pNext;
    *ppLink = c;
  }
  Arena.pCur = c;
  Arena.pNext = reinterpret_cast<char*>(c + 1);
  Arena.nLeft = c->nSize;
  return true;
}

// An element and the link that holds it.
struct ElementSlot {
  Link link;
  HtmlElement element;
};

// A zero-filled element appended to list, or null when the pool is exhausted.
HtmlElement* PushElement(List* list) {
  auto* pSlot = static_cast<ElementSlot*>(HelpAlloc(sizeof(ElementSlot)));
  if (!pSlot) return nullptr;
  pSlot->link.pItem = &pSlot->element;
  pSlot->link.Size = sizeof(HtmlElement);
  ListPushLink(list, &pSlot->link);
  return &pSlot->element;
}

// Where each entity name starts inside HTMLKeys, found once.
struct EntityIndex {
  const char* apName[kEntityCount + 1];
  bool flReady;
};
EntityIndex Entities;

void IndexEntities() {
  const char* p = HTMLKeys + 1;
  for (int n = 1; n <= kEntityCount; n++) {
    Entities.apName[n] = p;
    p += HTMLKeySizes[n] + 1;
  }
  Entities.flReady = true;
}

// The Latin-1 character of the entity name (with its ";", nLen characters), 0 if unknown.
int LookUpEntity(const char* name, int nLen) {
  if (!Entities.flReady) IndexEntities();
  for (int n = 1; n <= kEntityCount; n++) {
    if (HTMLKeySizes[n] == nLen && Entities.apName[n][0] == name[0] &&
        memcmp(Entities.apName[n], name, static_cast<size_t>(nLen)) == 0) {
      return 159 + n;
    }
  }
  return 0;
}

int DigitValue(char c, bool flHex) {
  if (c >= '0' && c <= '9') return c - '0';
  if (!flHex) return -1;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes the reference at p (which holds "&"). Returns the characters it takes, 0 when p
// begins no reference; *pch gets the character to write, 0 for none. A numeric reference
// ends after its digits (a ";" there is taken too); its value is read without overflow, and
// one that names no Latin-1 character (above 255) or a control character gives "?", a
// white-space character a blank, the value 0 nothing.
int DecodeReference(const char* p, int* pch) {
  *pch = 0;
  if (p[1] == '#') {
    const char* s = p + 2;
    bool flHex = (*s == 'x' || *s == 'X');
    if (flHex) s++;
    const char* pDigits = s;
    long nValue = 0;
    for (int d; (d = DigitValue(*s, flHex)) >= 0; s++) {
      if (nValue <= 255) nValue = nValue * (flHex ? 16 : 10) + d;
    }
    if (s == pDigits) return 0;  // "&#" without a number stays as written
    if (*s == ';') s++;
    int ch = nValue > 255 ? '?' : static_cast<int>(nValue);
    if (ch > 0 && IsHtmlSpace(static_cast<char>(ch))) {
      ch = ' ';  // as written white space reads
    } else if ((ch > 0 && ch < 32) || (ch >= 127 && ch < 160)) {
      ch = '?';  // a control character would reach the terminal
    }
    *pch = ch;
    return static_cast<int>(s - p);
  }
  if (strncasecmp(p + 1, "quot;", 5) == 0) {
    *pch = '"';
    return 6;
  }
  for (int i = 1; i <= kMaxEntityName && p[i]; i++) {
    if (p[i] == ';') {
      *pch = LookUpEntity(p + 1, i);
      return *pch ? i + 1 : 0;
    }
  }
  return 0;
}

// Splits a tag's inner text: leading white space skipped, the name cut at the next white
// space; *ppAttr gets the rest (empty when there is none).
char* SplitTag(char* tag, char** ppAttr) {
  while (IsHtmlSpace(*tag)) tag++;
  char* p = tag;
  while (*p && !IsHtmlSpace(*p)) p++;
  if (*p) *p++ = '\0';
  *ppAttr = p;
  return tag;
}

// Fills an anchor from the attribute text of an "a" tag, split in place.
void ParseAnchor(HtmlAnchor* pAnchor, char* attr) {
  char* apPiece[kMaxAttributes];
  int n = ParseStr(attr, " \t\n\r", apPiece, kMaxAttributes);
  for (int i = 0; i < n; i++) {
    char* pEq = strchr(apPiece[i], '=');
    if (!pEq) continue;
    *pEq = '\0';
    char* value = pEq + 1;
    if (*value == '"') {
      value++;
      if (char* q = strchr(value, '"')) *q = '\0';
    }
    if (strcasecmp(apPiece[i], "name") == 0) {
      pAnchor->szTarget = value;
      pAnchor->Kind = 1;
    } else if (strcasecmp(apPiece[i], "href") == 0) {
      pAnchor->szTarget = value;
      pAnchor->Kind = 2;
    }
  }
}

// The page an html tag begins, or null: a page="name" attribute, or the file's first page.
HtmlPage* BeginPage(HtmlFile* file, char* attr) {
  char* szPage = nullptr;
  if (char* p = StrCaseStr(attr, "page=\"")) {
    szPage = p + 6;
    if (char* q = strchr(szPage, '"')) *q = '\0';
  }
  if (!szPage && file->Pages.Count > 0) return nullptr;
  auto* pPage = static_cast<HtmlPage*>(ListPushItem(&file->Pages, nullptr, sizeof(HtmlPage)));
  if (pPage) pPage->szPage = szPage;
  return pPage;
}

// Moves the cursor past the next "/HTML" (any case) and the ">" after it, or to the end.
void SkipPage(HtmlFile* file) {
  char* p = StrCaseStr(file->pCur, "/HTML");
  char* q = p ? strchr(p, '>') : nullptr;
  file->pCur = q ? q + 1 : file->pCur + strlen(file->pCur);
}

}  // namespace

void* HelpAlloc(int n) {
  if (n <= 0 || n > INT_MAX - 64) return nullptr;
  n = (n + 7) & ~7;
  if (n > Arena.nLeft) {
    if (!Arena.nChunkSize) Arena.nChunkSize = kFirstChunk;
    if (n > Arena.nChunkSize / 4) {  // large: an allocation of its own
      auto* b = static_cast<LargeBlock*>(GetMem(n + static_cast<int>(sizeof(LargeBlock))));
      if (!b) return nullptr;
      b->pNext = Arena.pLarge;
      Arena.pLarge = b;
      return b + 1;
    }
    if (!NextChunk(n)) return nullptr;
  }
  void* p = Arena.pNext;
  Arena.pNext += n;
  Arena.nLeft -= n;
  if (Arena.pCur->flReused) memset(p, 0, static_cast<size_t>(n));
  return p;
}

void HelpArenaReset() {
  while (LargeBlock* b = Arena.pLarge) {
    Arena.pLarge = b->pNext;
    PutMem(b);
  }
  for (ArenaChunk* c = Arena.pFirst; c; c = c->pNext) c->flReused = 1;
  Arena.pCur = nullptr;
  Arena.pNext = nullptr;
  Arena.nLeft = 0;
}

HtmlFile* FindHtmlFile(const char* path) {
  if (!path) return nullptr;
  for (int i = 0; i < FileIndex; i++) {
    if (aFile[i] && strcmp(aFile[i]->szName, path) == 0) {
      CurrentFile = i;
      return aFile[i];
    }
  }
  return nullptr;
}

char* GetKeyWord(HtmlFile* file) {
  char* pOpen = strchr(file->pCur, '<');
  if (!pOpen) return nullptr;
  *pOpen = '\0';
  char* pClose = strchr(pOpen + 1, '>');
  if (!pClose) {
    file->pCur = pOpen + 1 + strlen(pOpen + 1);
    return nullptr;
  }
  *pClose = '\0';
  file->pCur = pClose + 1;
  return pOpen + 1;
}

void AddAtribute(List* list, char* tag, char* data) {
  // "fitab" names a table the layout has sized, whose data is its TextTable: written in the
  // text, it would have its attribute text taken for one. It is left out, as unknown tags
  // are by the layout.
  if (tag && HtmlTagKind(tag) == kTagFitab) return;
  HtmlElement* pElem = list ? PushElement(list) : nullptr;
  if (!pElem) return;
  pElem->szTag = tag;
  pElem->pData = data;
  pElem->Len = data ? static_cast<int32_t>(strlen(data)) : 0;
  if (tag && (tag[0] == 'a' || tag[0] == 'A') && tag[1] == '\0') {
    auto* pAnchor = static_cast<HtmlAnchor*>(HelpAlloc(sizeof(HtmlAnchor)));
    if (pAnchor && data) ParseAnchor(pAnchor, data);
    pElem->pData = pAnchor;  // null when the pool is exhausted: the layout skips it
  }
}

void ParseHtml(HtmlFile* file, List* list, const char* stop) {
  char* r = file->pCur;  // read position
  char* w = nullptr;     // write position of the open text run
  char* pRun = nullptr;  // start of the open text run, null when none is open
  bool flAfterInline = false;  // the last element ended an inline stretch (/a, /b, /font, img)
  while (*r) {
    char c = *r;
    if (c == '<') {
      if (pRun) {
        *w = '\0';
        AddAtribute(list, nullptr, pRun);
        pRun = nullptr;
      }
      char* pTag = r + 1;
      char* pClose = strchr(pTag, '>');
      if (pClose) {
        *pClose = '\0';
        r = pClose + 1;
      } else {
        r = pTag + strlen(pTag);  // the rest of the text is the tag
      }
      char* attr;
      char* name = SplitTag(pTag, &attr);
      if (name[0] == '/' && strcasecmp(name + 1, stop) == 0) {
        file->pCur = r;
        return;
      }
      AddAtribute(list, name, attr);
      int kind = HtmlTagKind(name);
      flAfterInline = kind == kTagEndA || kind == kTagEndB || kind == kTagEndFont || kind == kTagImg;
      continue;
    }
    if (c == '&') {
      int ch;
      if (int nTaken = DecodeReference(r, &ch)) {
        if (!pRun) pRun = w = r;
        if (ch) *w++ = static_cast<char>(ch);
        r += nTaken;
        continue;
      }
    }
    if (IsHtmlSpace(c)) {
      r++;
      if (!pRun && !flAfterInline) continue;
      if (!pRun) pRun = w = r - 1;  // the blank after an inline end tag separates words
      *w++ = ' ';
      while (IsHtmlSpace(*r)) r++;
      continue;
    }
    if (!pRun) pRun = w = r;
    // A control character as written never reaches the terminal either.
    *w++ = (static_cast<unsigned char>(c) < 32 || c == 127) ? '?' : c;
    r++;
  }
  file->pCur = r;  // an open run with no "<" after it is not appended
}

void __attribute__((weak)) GoToTarget(const char* target) {
  if (!target || FileIndex == 0) return;
  if (*target == '#') target++;
  for (Link* pl = aFile[CurrentFile]->Pages.pFirst; pl; pl = pl->pNext) {
    auto* pPage = static_cast<HtmlPage*>(pl->pItem);
    if (pPage->szPage && strcmp(pPage->szPage, target) == 0) {
      pCurrentPage = pPage;
      return;
    }
    for (Link* pa = pPage->Links.pFirst; pa; pa = pa->pNext) {
      HtmlAnchor* pAnchor = *static_cast<HtmlAnchor**>(pa->pItem);
      if (pAnchor->Kind == 1 && pAnchor->szTarget && strcmp(pAnchor->szTarget, target) == 0) {
        pCurrentPage = pPage;
        return;
      }
    }
  }
}

namespace {

// The file name of a help path: without "file://" and "#target" (pool), or null for an
// "http://" path. *pTarget gets the target, null when there is none.
char* HelpFileName(const char* path, const char** pTarget) {
  if (!path || strncasecmp(path, "http://", 7) == 0) return nullptr;
  if (strncasecmp(path, "file://", 7) == 0) path += 7;
  const char* pHash = strchr(path, '#');
  int nName = pHash ? static_cast<int>(pHash - path) : static_cast<int>(strlen(path));
  *pTarget = pHash ? pHash + 1 : nullptr;
  return SaveStr("%.*s", nName, path);
}

// The file's whole text (pool), NUL-terminated, or null when it cannot be read.
char* ReadHelpText(const char* szName) {
  char* text = GetSavedFileContent(szName, nullptr);
  if (!text) return nullptr;
  // A NUL inside the file would end every scan there: it reads as a blank.
  for (char* p = text; (p = static_cast<char*>(memchr(p, '\0', text + SavedFileSize - p)));) {
    *p++ = ' ';
  }
  return text;
}

// The file's whole text as a private, writable mapping, NUL-terminated, filled at once;
// *pnMapped gets its size for munmap. Null when it cannot be read.
char* MapHelpText(const char* szName, size_t* pnMapped) {
  int fd = open(szName, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
    close(fd);
    return nullptr;
  }
  size_t nSize = static_cast<size_t>(st.st_size);
  size_t nPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  size_t nMap = (nSize + 1 + nPage - 1) / nPage * nPage;  // room for the terminator
  void* p = mmap(nullptr, nMap, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p != MAP_FAILED &&
      mmap(p, nSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fd, 0) ==
          MAP_FAILED) {
    munmap(p, nMap);
    p = MAP_FAILED;
  }
  close(fd);
  if (p == MAP_FAILED) return nullptr;
  char* text = static_cast<char*>(p);
  text[nSize] = 0;
  for (char* q = text; (q = static_cast<char*>(memchr(q, '\0', text + nSize - q)));) *q++ = ' ';
  *pnMapped = nMap;
  return text;
}

// Takes the file's next top-level tag: an html tag begins a page (or skips one), head and
// body are parsed into the page being filled, *ppPage. False at the end of the text; *pflNew
// is true when this tag began a page.
bool ParseTopLevel(HtmlFile* file, HtmlPage** ppPage, bool* pflNew) {
  *pflNew = false;
  char* tag = GetKeyWord(file);
  if (!tag) return false;
  char* attr;
  char* name = SplitTag(tag, &attr);
  HtmlPage* pPage = *ppPage;
  if (strcasecmp(name, "html") == 0) {
    if (strstr(attr, "SkipPage")) {
      SkipPage(file);
    } else if (HtmlPage* pNew = BeginPage(file, attr)) {
      *ppPage = pNew;
      *pflNew = true;
    }
  } else if (strcasecmp(name, "head") == 0) {
    if (pPage && pPage->Head.Count == 0) ParseHtml(file, &pPage->Head, "head");
  } else if (strcasecmp(name, "body") == 0) {
    if (pPage) ParseHtml(file, &pPage->Body, "body");
  }
  return true;
}

// Lays out the page, writes its text and a form feed line to out, and lets go of everything
// the page took from the arena.
void DumpPage(HtmlFile* file, HtmlPage* pPage, FILE* out) {
  pCurrentPage = pPage;
  PrintTextImage(file);
  if (pPage->pImage) fputs(pPage->pImage, out);
  fputs("\f\n", out);
  pPage->pImage = nullptr;
  pPage->Head = pPage->Body = pPage->Links = List{};
  pCurrentPage = nullptr;
  HelpArenaReset();
}

}  // namespace

HtmlFile* ParseHtmlFile(const char* path, char* text) {
  const char* target;
  char* szName = HelpFileName(path, &target);
  if (!szName) return nullptr;

  if (HtmlFile* pFound = FindHtmlFile(szName); pFound && pFound->Pages.Count > 0) {
    PutMem(szName);
    pCurrentPage = static_cast<HtmlPage*>(pFound->Pages.pFirst->pItem);
    if (target) GoToTarget(target);
    return pFound;
  }
  if (FileIndex >= kMaxHtmlFiles) {
    ErrorMsg(1, 0, "help file %s not loaded: %d help files are loaded already", szName,
             kMaxHtmlFiles);
    PutMem(szName);
    return nullptr;
  }
  bool flRead = !text;
  if (flRead && !(text = ReadHelpText(szName))) {
    PutMem(szName);
    return nullptr;
  }
  auto* pFile = static_cast<HtmlFile*>(GetMem(sizeof(HtmlFile)));
  if (!pFile) {
    if (flRead) PutMem(text);
    PutMem(szName);
    return nullptr;
  }
  pFile->szName = szName;
  pFile->pContent = pFile->pCur = text;

  HtmlPage* pPage = nullptr;
  bool flNew;
  while (ParseTopLevel(pFile, &pPage, &flNew)) {
  }
  if (pFile->Pages.Count == 0) {
    if (flRead) PutMem(text);
    PutMem(szName);
    PutMem(pFile);
    return nullptr;
  }
  CurrentFile = FileIndex;
  aFile[FileIndex++] = pFile;
  for (Link* pl = pFile->Pages.pFirst; pl; pl = pl->pNext) {
    pCurrentPage = static_cast<HtmlPage*>(pl->pItem);
    PrintTextImage(pFile);
  }
  pCurrentPage = static_cast<HtmlPage*>(pFile->Pages.pFirst->pItem);
  if (target) GoToTarget(target);
  return pFile;
}

int DumpHtmlFile(const char* path, FILE* out) {
  const char* target;
  char* szName = HelpFileName(path, &target);
  if (!szName) return 0;
  HtmlFile file{};
  file.szName = szName;
  size_t nMapped = 0;
  file.pContent = file.pCur = MapHelpText(szName, &nMapped);
  if (!file.pContent) {
    PutMem(szName);
    return 0;
  }
  // A page is complete when the next one begins: it is printed and released then, so the
  // memory in use stays at about one page besides the file's text.
  HtmlPage* pPage = nullptr;
  HtmlPage* pFilling = nullptr;
  bool flNew;
  while (ParseTopLevel(&file, &pPage, &flNew)) {
    if (flNew) {
      if (pFilling) DumpPage(&file, pFilling, out);
      pFilling = pPage;
    }
  }
  if (pFilling) DumpPage(&file, pFilling, out);
  int nPages = file.Pages.Count;
  ListDelAllItems(&file.Pages);
  munmap(file.pContent, nMapped);
  PutMem(szName);
  return nPages;
}
