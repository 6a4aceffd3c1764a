// Tests of the linked lists: push order, pops, finds, moves, copies, walks and deletion.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/List.h"
#include "base/MemMgr.h"

namespace {

void* Push(List* l, const char* text) { return ListPushItem(l, text, int(strlen(text)) + 1); }

std::vector<std::string> WalkForward(List* l) {
  std::vector<std::string> v;
  for (void* p = ListWalk(l, 0); p; p = ListWalk(l, 1)) v.push_back(static_cast<char*>(p));
  return v;
}

std::vector<std::string> WalkBackward(List* l) {
  std::vector<std::string> v;
  for (void* p = ListWalkBackward(l, 0); p; p = ListWalkBackward(l, 1))
    v.push_back(static_cast<char*>(p));
  return v;
}

using Texts = std::vector<std::string>;

// Nodes in use over the whole pool (dedicated blocks aside).
int UsedNodes() {
  int n = 0;
  for (MemBlock* b = pMemB; b; b = b->pNext)
    if (b->BlockSize == kBlockSize) n += kNodesPerBlock - b->FreeNodeCount;
  return n;
}

// Links agree with Count, Size and each other in both directions.
void ExpectConsistent(const List* l) {
  int n = 0, nSize = 0;
  const Link* pPrev = nullptr;
  for (const Link* k = l->pFirst; k; pPrev = k, k = k->pNext) {
    EXPECT_EQ(k->pPrev, pPrev);
    n++;
    nSize += k->Size;
  }
  EXPECT_EQ(l->pLast, pPrev);
  EXPECT_EQ(l->Count, n);
  EXPECT_EQ(l->Size, nSize);
}

TEST(ListPushItem, QueueOrderByDefaultStackOrderWithPushFront) {
  List* q = ListCreate();
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->Count, 0);
  EXPECT_EQ(q->flPushFront, 0);
  for (const char* t : {"A", "B", "C"}) Push(q, t);
  EXPECT_EQ(WalkForward(q), (Texts{"A", "B", "C"}));
  EXPECT_EQ(WalkBackward(q), (Texts{"C", "B", "A"}));
  ExpectConsistent(q);

  List s{};  // a zero-filled embedded list
  s.flPushFront = 1;
  for (const char* t : {"A", "B", "C"}) Push(&s, t);
  EXPECT_EQ(WalkForward(&s), (Texts{"C", "B", "A"}));
  ExpectConsistent(&s);
  ListDelAllItems(&s);
  ListDel(q);
}

TEST(ListPushItem, CopiesBytesOrZeroFillsAndRefusesEmptyItems) {
  List l{};
  char data[5] = {'x', 'y', 'z', 'w', 'v'};
  char* p = static_cast<char*>(ListPushItem(&l, data, 5));
  ASSERT_NE(p, nullptr);
  EXPECT_NE(p, data);
  EXPECT_EQ(memcmp(p, data, 5), 0);
  data[0] = 'Q';
  EXPECT_EQ(p[0], 'x');
  char* z = static_cast<char*>(ListPushItem(&l, nullptr, 3));
  ASSERT_NE(z, nullptr);
  EXPECT_EQ(z[0] | z[1] | z[2], 0);
  EXPECT_EQ(l.Count, 2);
  EXPECT_EQ(l.Size, 8);
  EXPECT_EQ(ListPushItem(&l, data, 0), nullptr);
  EXPECT_EQ(ListPushItem(&l, data, -1), nullptr);
  EXPECT_EQ(ListPushItem(nullptr, data, 4), nullptr);
  EXPECT_EQ(l.Count, 2);
  EXPECT_EQ(l.Size, 8);
  EXPECT_EQ(ListPopFirstItem(&l, 0), p);
  EXPECT_EQ(l.Size, 3);
  EXPECT_EQ(l.Count, 1);
  PutMem(p);  // a popped item belongs to the caller
  ListDelAllItems(&l);
}

TEST(ListPopItem, PopsByAddressFromEitherEndOrTheMiddle) {
  List l{};
  void* a = Push(&l, "A");
  void* b = Push(&l, "BB");
  void* c = Push(&l, "CCC");
  void* d = Push(&l, "DDDD");
  int nOther = 0;
  EXPECT_EQ(ListPopItem(&l, &nOther, 0), nullptr);  // not in the list: no change
  EXPECT_EQ(l.Count, 4);
  EXPECT_EQ(ListPopItem(&l, c, 0), c);  // middle
  EXPECT_EQ(WalkForward(&l), (Texts{"A", "BB", "DDDD"}));
  ExpectConsistent(&l);
  EXPECT_EQ(ListPopLastItem(&l, 0), d);
  EXPECT_EQ(WalkBackward(&l), (Texts{"BB", "A"}));
  EXPECT_EQ(ListPopItem(&l, nullptr, 0), a);  // null item: the first
  ExpectConsistent(&l);
  EXPECT_EQ(ListPopItem(&l, b, 1), nullptr);  // freed: null even though it was removed
  EXPECT_EQ(l.Count, 0);
  EXPECT_EQ(l.Size, 0);
  EXPECT_EQ(l.pFirst, nullptr);
  EXPECT_EQ(l.pLast, nullptr);
  EXPECT_EQ(ListPopItem(&l, nullptr, 0), nullptr);
  EXPECT_EQ(ListPopFirstItem(&l, 0), nullptr);
  EXPECT_EQ(ListPopLastItem(&l, 1), nullptr);
  EXPECT_EQ(ListPopItem(nullptr, a, 0), nullptr);
  for (void* p : {a, c, d}) PutMem(p);
}

TEST(ListPopItem, FreeFlagReturnsTheItemToThePool) {
  List l{};
  int nUsed = UsedNodes();
  Push(&l, "only");
  EXPECT_EQ(UsedNodes(), nUsed + 3);  // a 5-byte item (1 node) and its link (2 nodes)
  EXPECT_EQ(ListPopLastItem(&l, 1), nullptr);
  EXPECT_EQ(UsedNodes(), nUsed);
}

TEST(ListFindItemN, CountsFromOneAndRejectsOutOfRange) {
  List l{};
  void* a = Push(&l, "A");
  void* b = Push(&l, "B");
  void* c = Push(&l, "C");
  EXPECT_EQ(ListFindItemN(&l, 1), a);
  EXPECT_EQ(ListFindItemN(&l, 2), b);
  EXPECT_EQ(ListFindItemN(&l, 3), c);
  EXPECT_EQ(ListFindItemN(&l, 0), nullptr);
  EXPECT_EQ(ListFindItemN(&l, -1), nullptr);
  EXPECT_EQ(ListFindItemN(&l, 4), nullptr);
  EXPECT_EQ(ListFindItemN(nullptr, 1), nullptr);
  EXPECT_EQ(ListGetItemPos(&l, c), l.Count);
  EXPECT_EQ(ListGetItemPos(&l, a), 1);
  EXPECT_EQ(ListGetItemPos(nullptr, a), 0);
  ListDelAllItems(&l);
}

TEST(ListGetItemPos, ItemsAreToldApartByAddressNotContent) {
  List l{};
  Push(&l, "same");
  void* second = Push(&l, "same");
  char copy[] = "same";
  EXPECT_EQ(ListGetItemPos(&l, second), 2);
  EXPECT_EQ(ListGetItemPos(&l, copy), 0);
  ListDelAllItems(&l);
}

TEST(ListMoveItem, MovesTheLinkByTheDestinationsOrder) {
  List src{}, dst{};
  void* a = Push(&src, "A");
  void* b = Push(&src, "BB");
  Push(&dst, "X");
  Push(&dst, "Y");
  dst.flPushFront = 1;
  ListMoveItem(b, &src, &dst);
  EXPECT_EQ(WalkForward(&src), (Texts{"A"}));
  EXPECT_EQ(WalkForward(&dst), (Texts{"BB", "X", "Y"}));
  EXPECT_EQ(ListFindItemN(&dst, 1), b);  // the same item, not a copy
  EXPECT_EQ(src.Size, 2);
  EXPECT_EQ(dst.Size, 7);
  ExpectConsistent(&src);
  ExpectConsistent(&dst);
  int nOther;
  ListMoveItem(&nOther, &src, &dst);  // not in the source: no change
  ListMoveItem(a, nullptr, &dst);
  ListMoveItem(a, &src, nullptr);
  EXPECT_EQ(src.Count, 1);
  EXPECT_EQ(dst.Count, 3);
  dst.flPushFront = 0;
  ListMoveItem(a, &src, &dst);
  EXPECT_EQ(WalkForward(&dst), (Texts{"BB", "X", "Y", "A"}));
  EXPECT_EQ(src.Count, 0);
  EXPECT_EQ(src.pFirst, nullptr);
  ListMoveItem(a, &src, &dst);  // empty source
  EXPECT_EQ(dst.Count, 4);
  ExpectConsistent(&dst);
  ListDelAllItems(&dst);
}

TEST(ListCopy, DuplicatesEveryItemIntoTheDestination) {
  List src{}, dst{};
  Push(&src, "one");
  Push(&src, "two");
  Link empty{};  // a caller-made link with no bytes is not copied
  int nZero = 0;
  empty.pItem = &nZero;
  ListPushLink(&src, &empty);
  Push(&dst, "zero");
  ListCopy(&src, &dst);
  EXPECT_EQ(WalkForward(&dst), (Texts{"zero", "one", "two"}));
  EXPECT_EQ(dst.Size, 5 + src.Size);
  char* copy = static_cast<char*>(ListFindItemN(&dst, 2));
  EXPECT_NE(copy, ListFindItemN(&src, 1));
  copy[0] = 'X';
  EXPECT_STREQ(static_cast<char*>(ListFindItemN(&src, 1)), "one");
  ListCopy(nullptr, &dst);
  ListCopy(&src, nullptr);
  EXPECT_EQ(dst.Count, 3);
  ListPopLink(&src, &empty);
  ListCopy(&src, &src);  // onto itself: each item once more, then stop
  EXPECT_EQ(WalkForward(&src), (Texts{"one", "two", "one", "two"}));
  ExpectConsistent(&src);
  ListDelAllItems(&src);
  ListDelAllItems(&dst);
}

TEST(ListPushLink, CallerMadeLinksAndPopLink) {
  List l{};
  Link x{}, y{}, z{};
  char cx = 'x', cy = 'y', cz = 'z';
  x.pItem = &cx;
  x.Size = 1;
  y.pItem = &cy;
  y.Size = 2;
  z.pItem = &cz;
  z.Size = 4;
  ListPushLink(&l, &x);
  ListPushLink(&l, &y);
  ListPushLink(&l, &z);
  ListPushLink(&l, nullptr);
  ListPushLink(nullptr, &x);
  EXPECT_EQ(l.Count, 3);
  EXPECT_EQ(l.Size, 7);
  ListPopLink(&l, &y);  // middle: neighbours joined, its own links left as they were
  EXPECT_EQ(x.pNext, &z);
  EXPECT_EQ(z.pPrev, &x);
  EXPECT_EQ(y.pPrev, &x);
  EXPECT_EQ(y.pNext, &z);
  EXPECT_EQ(l.Size, 5);
  ListPopLink(&l, nullptr);  // null: the first
  EXPECT_EQ(l.pFirst, &z);
  EXPECT_EQ(z.pPrev, nullptr);
  ListPopLink(&l, &z);
  EXPECT_EQ(l.Count, 0);
  EXPECT_EQ(l.pFirst, nullptr);
  EXPECT_EQ(l.pLast, nullptr);
  EXPECT_EQ(l.Size, 0);
  ListPopLink(&l, &z);  // empty: nothing
  EXPECT_EQ(l.Count, 0);
  // A list whose ends are null counts as empty: the next link becomes the only one.
  List odd{};
  odd.Count = 5;
  ListPushLink(&odd, &x);
  EXPECT_EQ(odd.Count, 1);
  EXPECT_EQ(odd.pFirst, &x);
  EXPECT_EQ(odd.pLast, &x);
  EXPECT_EQ(x.pPrev, nullptr);
  EXPECT_EQ(x.pNext, nullptr);
}

TEST(ListWalk, OneCursorPerListRestartedWithZero) {
  List l{};
  Push(&l, "A");
  Push(&l, "B");
  EXPECT_STREQ(static_cast<char*>(ListWalk(&l, 0)), "A");
  EXPECT_STREQ(static_cast<char*>(ListWalk(&l, 1)), "B");
  EXPECT_EQ(ListWalk(&l, 1), nullptr);
  EXPECT_EQ(ListWalk(&l, 1), nullptr);  // stays at the end
  Push(&l, "C");                        // pushes do not move the cursor
  EXPECT_EQ(ListWalk(&l, 1), nullptr);
  EXPECT_STREQ(static_cast<char*>(ListWalk(&l, 0)), "A");
  // Both directions share the cursor.
  EXPECT_STREQ(static_cast<char*>(ListWalk(&l, 1)), "B");
  EXPECT_STREQ(static_cast<char*>(ListWalkBackward(&l, 1)), "C");
  EXPECT_STREQ(static_cast<char*>(ListWalkBackward(&l, 1)), "B");
  EXPECT_STREQ(static_cast<char*>(ListWalkBackward(&l, 1)), "A");
  EXPECT_EQ(ListWalkBackward(&l, 1), nullptr);
  EXPECT_EQ(ListWalk(nullptr, 0), nullptr);
  EXPECT_EQ(ListWalkBackward(nullptr, 0), nullptr);
  List empty{};
  EXPECT_EQ(ListWalk(&empty, 0), nullptr);
  EXPECT_EQ(ListWalkBackward(&empty, 0), nullptr);
  ListDelAllItems(&l);
}

TEST(ListWalk, PoppingTheLinkUnderTheCursorEndsTheWalkInsteadOfReadingFreedMemory) {
  List l{};
  Push(&l, "A");
  void* b = Push(&l, "B");
  Push(&l, "C");
  EXPECT_STREQ(static_cast<char*>(ListWalk(&l, 0)), "A");  // cursor now on B
  ListPopItem(&l, b, 1);
  EXPECT_EQ(ListWalk(&l, 1), nullptr);
  EXPECT_EQ(WalkForward(&l), (Texts{"A", "C"}));
  // Popping the item just returned leaves the walk going.
  void* p = ListWalk(&l, 0);
  ListPopItem(&l, p, 1);
  EXPECT_STREQ(static_cast<char*>(ListWalk(&l, 1)), "C");
  ListDelAllItems(&l);
}

TEST(ListDel, FreesEveryLinkItemAndTheRecord) {
  int nUsed = UsedNodes();
  List* l = ListCreate();
  for (int i = 0; i < 10; i++) Push(l, "item");
  ListDelAllItems(l);
  EXPECT_EQ(l->Count, 0);
  EXPECT_EQ(l->Size, 0);
  EXPECT_EQ(l->pFirst, nullptr);
  EXPECT_EQ(l->pLast, nullptr);
  EXPECT_EQ(ListWalk(l, 1), nullptr);
  EXPECT_EQ(UsedNodes(), nUsed + 2);  // only the 40-byte record is left
  Push(l, "again");
  ListDel(l);
  EXPECT_EQ(UsedNodes(), nUsed);
  ListDel(nullptr);
  ListDelAllItems(nullptr);
}

TEST(ListDump, PrintsPositionAndTheFirstWordOfEachItem) {
  List l{};
  int32_t v[] = {7, -123456, 2147483647};
  for (int32_t x : v) ListPushItem(&l, &x, sizeof x);
  char two[2] = {1, 0};
  ListPushItem(&l, two, 2);
  testing::internal::CaptureStdout();
  ListDump(&l);
  ListDump(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "  1) 7\n  2) -123456\n  3) 2147483647\n  4) 1\n");
  ListDelAllItems(&l);
}

}  // namespace
