// List.cpp - doubly linked lists of pool-allocated byte items.
// Links and items come from GetMem and go back with PutMem; every operation tolerates a null
// list. Searches are linear, pushes and pops at either end constant time.
#include "base/List.h"

#include <cstdio>
#include <cstring>

#include "base/MemMgr.h"

namespace {

Link* FindLink(List* pList, const void* pItem) {
  for (Link* pLink = pList->pFirst; pLink; pLink = pLink->pNext)
    if (pLink->pItem == pItem) return pLink;
  return nullptr;
}

// Unlinks pLink and frees it; the item is freed too with flFree (result null), else returned.
void* PopAndFree(List* pList, Link* pLink, char flFree) {
  ListPopLink(pList, pLink);
  void* pItem = pLink->pItem;
  PutMem(pLink);
  if (flFree) {
    if (pItem) PutMem(pItem);
    return nullptr;
  }
  return pItem;
}

}  // namespace

List* ListCreate() { return static_cast<List*>(GetMem(sizeof(List))); }

void ListPushLink(List* pList, Link* pLink) {
  if (!pList || !pLink) return;
  if (pList->Count == 0 || !pList->pFirst || !pList->pLast) {
    pList->pFirst = pList->pLast = pLink;
    pLink->pPrev = pLink->pNext = nullptr;
    pList->Count = 1;
  } else if (pList->flPushFront) {
    pLink->pPrev = nullptr;
    pLink->pNext = pList->pFirst;
    pList->pFirst->pPrev = pLink;
    pList->pFirst = pLink;
    pList->Count++;
  } else {
    pLink->pNext = nullptr;
    pLink->pPrev = pList->pLast;
    pList->pLast->pNext = pLink;
    pList->pLast = pLink;
    pList->Count++;
  }
  pList->Size += pLink->Size;
}

void ListPopLink(List* pList, Link* pLink) {
  if (!pList || pList->Count == 0) return;
  if (!pLink) pLink = pList->pFirst;
  if (!pLink) return;
  pList->Count--;
  pList->Size -= pLink->Size;
  if (pList->Count <= 0) {
    pList->pFirst = pList->pLast = nullptr;
  } else if (pLink == pList->pFirst) {
    pList->pFirst = pLink->pNext;
    if (pList->pFirst) pList->pFirst->pPrev = nullptr;
  } else if (pLink == pList->pLast) {
    pList->pLast = pLink->pPrev;
    if (pList->pLast) pList->pLast->pNext = nullptr;
  } else {
    if (pLink->pPrev) pLink->pPrev->pNext = pLink->pNext;
    if (pLink->pNext) pLink->pNext->pPrev = pLink->pPrev;
  }
  // A cursor left on a link that is no longer here would walk into freed memory.
  if (pList->pWalk == pLink) pList->pWalk = nullptr;
}

void* ListPushItem(List* pList, const void* pData, int nLen) {
  if (!pList || nLen <= 0) return nullptr;
  Link* pLink = static_cast<Link*>(GetMem(sizeof(Link)));
  if (!pLink) return nullptr;
  void* pItem = GetMem(nLen);
  if (!pItem) {
    PutMem(pLink);
    return nullptr;
  }
  if (pData) memcpy(pItem, pData, size_t(nLen));
  pLink->pItem = pItem;
  pLink->Size = nLen;
  ListPushLink(pList, pLink);
  return pItem;
}

void* ListPopItem(List* pList, void* pItem, char flFree) {
  if (!pList || pList->Count == 0 || !pList->pFirst) return nullptr;
  Link* pLink = pItem ? FindLink(pList, pItem) : pList->pFirst;
  if (!pLink) return nullptr;
  return PopAndFree(pList, pLink, flFree);
}

void* ListPopFirstItem(List* pList, char flFree) {
  if (!pList || pList->Count == 0 || !pList->pFirst) return nullptr;
  return PopAndFree(pList, pList->pFirst, flFree);
}

void* ListPopLastItem(List* pList, char flFree) {
  if (!pList || pList->Count == 0 || !pList->pLast) return nullptr;
  return PopAndFree(pList, pList->pLast, flFree);
}

void* ListFindItemN(List* pList, int n) {
  if (!pList || n <= 0 || n > pList->Count) return nullptr;
  Link* pLink = pList->pFirst;
  for (int i = 1; pLink && i < n; i++) pLink = pLink->pNext;
  return pLink ? pLink->pItem : nullptr;
}

int ListGetItemPos(List* pList, const void* pItem) {
  if (!pList) return 0;
  int nPos = 1;
  for (Link* pLink = pList->pFirst; pLink; pLink = pLink->pNext, nPos++)
    if (pLink->pItem == pItem) return nPos;
  return 0;
}

void ListMoveItem(void* pItem, List* pSrc, List* pDst) {
  if (!pSrc || !pDst || pSrc->Count == 0) return;
  Link* pLink = FindLink(pSrc, pItem);
  if (!pLink) return;
  ListPopLink(pSrc, pLink);
  ListPushLink(pDst, pLink);
}

void ListCopy(List* pSrc, List* pDst) {
  if (!pSrc || !pDst) return;
  // Bounded by the count at the start, so copying a list onto itself doubles it once.
  int nLeft = pSrc->Count;
  for (Link* pLink = pSrc->pFirst; pLink && nLeft > 0; pLink = pLink->pNext, nLeft--)
    if (pLink->Size > 0) ListPushItem(pDst, pLink->pItem, pLink->Size);
}

void ListDelAllItems(List* pList) {
  if (!pList) return;
  Link* pLink = pList->pFirst;
  while (pLink) {
    Link* pNext = pLink->pNext;
    if (pLink->pItem) PutMem(pLink->pItem);
    PutMem(pLink);
    pLink = pNext;
  }
  pList->pFirst = pList->pLast = pList->pWalk = nullptr;
  pList->Count = 0;
  pList->Size = 0;
}

void ListDel(List* pList) {
  if (!pList) return;
  ListDelAllItems(pList);
  PutMem(pList);
}

void ListDump(List* pList) {
  if (!pList) return;
  int nPos = 1;
  for (Link* pLink = pList->pFirst; pLink; pLink = pLink->pNext, nPos++) {
    int32_t nWord = 0;
    // The first 32-bit word; a shorter item reads as zero beyond its own bytes.
    int nBytes = pLink->Size < 0 ? 0 : pLink->Size < 4 ? pLink->Size : 4;
    if (pLink->pItem) memcpy(&nWord, pLink->pItem, size_t(nBytes));
    printf("%3i) %li\n", nPos, long(nWord));
  }
}

void* ListWalk(List* pList, int flContinue) {
  if (!pList) return nullptr;
  if (!flContinue) pList->pWalk = pList->pFirst;
  Link* pLink = pList->pWalk;
  if (!pLink) return nullptr;
  pList->pWalk = pLink->pNext;
  return pLink->pItem;
}

void* ListWalkBackward(List* pList, int flContinue) {
  if (!pList) return nullptr;
  if (!flContinue) pList->pWalk = pList->pLast;
  Link* pLink = pList->pWalk;
  if (!pLink) return nullptr;
  pList->pWalk = pLink->pPrev;
  return pLink->pItem;
}
