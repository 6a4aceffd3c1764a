// List.h - doubly linked lists of byte items, links and items allocated from the pool.
// A list owns its links and items; a popped item that is not freed passes to the caller,
// who returns it with PutMem. Items are told apart by address, never by content.
// A zero-filled List is empty and in queue order; flPushFront (set by the owner) makes it a
// stack. Every operation accepts a null list and then does nothing (null or 0 result).
#ifndef KORVI_BASE_LIST_H
#define KORVI_BASE_LIST_H

#include <cstdint>

struct Link {
  Link* pPrev;   // previous link, null at the front
  Link* pNext;   // next link, null at the end
  void* pItem;   // the item
  int32_t Size;  // item length in bytes
};

struct List {
  Link* pFirst;      // first link, null when empty
  Link* pLast;       // last link, null when empty
  Link* pWalk;       // the link the next walk step returns
  int32_t Count;     // number of links
  int32_t Size;      // sum of the links' Size
  char flPushFront;  // non-zero: push at the front (stack), zero: at the end (queue)
};

// A new empty list in queue order; null when the pool is exhausted.
List* ListCreate();
// Inserts a caller-made link at the front (flPushFront) or the end; Size grows by its Size.
void ListPushLink(List* pList, Link* pLink);
// Unlinks pLink (null: the first link) without freeing it. Membership is not checked.
// A walk cursor standing on the removed link is cleared (the walk ends).
void ListPopLink(List* pList, Link* pLink);
// Copies nLen bytes of pData (null: zero-filled) into a new item and inserts it; the item,
// or null for a null list, nLen <= 0 or exhaustion (the list is then unchanged).
void* ListPushItem(List* pList, const void* pData, int nLen);
// Removes the first link holding pItem (null: the first link) and frees the link; with
// flFree the item is freed and null returned, else the item passes to the caller. Null when
// the list is empty or does not hold pItem.
void* ListPopItem(List* pList, void* pItem, char flFree);
void* ListPopFirstItem(List* pList, char flFree);  // as ListPopItem on the first link
void* ListPopLastItem(List* pList, char flFree);   // as ListPopItem on the last link
// The n-th item from the front (1-based), or null.
void* ListFindItemN(List* pList, int n);
// 1-based position of the first link holding pItem, 0 if none.
int ListGetItemPos(List* pList, const void* pItem);
// Moves the link holding pItem from pSrc into pDst (by pDst's flPushFront), item not copied.
void ListMoveItem(void* pItem, List* pSrc, List* pDst);
// Pushes a byte copy of every item of pSrc (front to back, Size > 0) into pDst.
void ListCopy(List* pSrc, List* pDst);
// Frees every link and item; the list stays, empty.
void ListDelAllItems(List* pList);
// ListDelAllItems, then frees the List record itself.
void ListDel(List* pList);
// Prints "%3i) %li\n" per link: position and the item's first 32-bit word, signed.
void ListDump(List* pList);
// Walk: flContinue 0 starts at the front (backward: the end); returns the next item, null at
// the end. One cursor per list, shared by both directions; pushes do not move it.
void* ListWalk(List* pList, int flContinue);
void* ListWalkBackward(List* pList, int flContinue);

#endif  // KORVI_BASE_LIST_H
