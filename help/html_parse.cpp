// html_parse.cpp - loading help files, stepping through their top-level tags, and the element
// scan that decodes text runs and character references in place.
// The file text is NUL-terminated and every scan stops at that NUL; the write position of a
// text run never passes the read position, so decoding needs no second buffer.
#include <cstdio>
#include <cstring>
#include <strings.h>

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
// list releasing one frees nothing: the address lies inside its chunk.)
struct HelpArena {
  char* pNext;     // next free byte of the current chunk
  int nLeft;       // bytes left in it
  int nChunkSize;  // size of the next chunk
};
HelpArena Arena;

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
// one that names no Latin-1 character (above 255) gives "?", the value 0 gives nothing.
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
    *pch = nValue > 255 ? '?' : static_cast<int>(nValue);
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
  if (n <= 0) return nullptr;
  n = (n + 7) & ~7;
  if (n > Arena.nLeft) {
    if (!Arena.nChunkSize) Arena.nChunkSize = kFirstChunk;
    if (n > Arena.nChunkSize / 4) return GetMem(n);  // large: an allocation of its own
    auto* pChunk = static_cast<char*>(GetMem(Arena.nChunkSize - 1));
    if (!pChunk) return nullptr;
    Arena.pNext = pChunk;
    Arena.nLeft = Arena.nChunkSize;
    if (Arena.nChunkSize < kLargestChunk) Arena.nChunkSize *= 2;
  }
  void* p = Arena.pNext;
  Arena.pNext += n;
  Arena.nLeft -= n;
  return p;
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
    *w++ = c;
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

HtmlFile* ParseHtmlFile(const char* path, char* text) {
  if (!path || strncasecmp(path, "http://", 7) == 0) return nullptr;
  if (strncasecmp(path, "file://", 7) == 0) path += 7;
  const char* pHash = strchr(path, '#');
  int nName = pHash ? static_cast<int>(pHash - path) : static_cast<int>(strlen(path));
  char* szName = SaveStr("%.*s", nName, path);
  const char* target = pHash ? pHash + 1 : nullptr;

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
  if (flRead) {
    text = GetSavedFileContent(szName, nullptr);
    if (!text) {
      PutMem(szName);
      return nullptr;
    }
    // A NUL inside the file would end every scan there: it reads as a blank.
    for (char* p = text; (p = static_cast<char*>(memchr(p, '\0', text + SavedFileSize - p)));) {
      *p++ = ' ';
    }
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
  while (char* tag = GetKeyWord(pFile)) {
    char* attr;
    char* name = SplitTag(tag, &attr);
    if (strcasecmp(name, "html") == 0) {
      if (strstr(attr, "SkipPage")) {
        SkipPage(pFile);
      } else if (HtmlPage* pNew = BeginPage(pFile, attr)) {
        pPage = pNew;
      }
    } else if (strcasecmp(name, "head") == 0) {
      if (pPage && pPage->Head.Count == 0) ParseHtml(pFile, &pPage->Head, "head");
    } else if (strcasecmp(name, "body") == 0) {
      if (pPage) ParseHtml(pFile, &pPage->Body, "body");
    }
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
