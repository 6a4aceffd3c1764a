// Tests of the memory pool: placement (first fit over blocks, lowest run inside a block),
// block release, dedicated blocks, every resize path, zero fill, the dump format, saved
// strings and their fatal report, and that the fast search matches the plain MAT search.
#include <sys/mman.h>
#include <sys/resource.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/MemMgr.h"
#include "base/utils.h"

namespace {

std::vector<MemBlock*> Blocks() {
  std::vector<MemBlock*> v;
  for (MemBlock* b = pMemB; b; b = b->pNext) v.push_back(b);
  return v;
}

bool InPool(const MemBlock* pBlock) {
  for (MemBlock* b = pMemB; b; b = b->pNext)
    if (b == pBlock) return true;
  return false;
}

int NodeOf(const void* p) {
  MemBlock* b = FindBlock(p);
  return b ? int((static_cast<const char*>(p) - b->pData) / kNodeSize) : -1;
}

int NodeCountOf(const void* p) {
  MemBlock* b = FindBlock(p);
  return b ? b->Nodes[NodeOf(p)].NodeCount : -1;
}

std::string Mat(const MemBlock* b, int from, int n) { return std::string(b->MAT + from, n); }

#if defined(__SANITIZE_ADDRESS__)
#define POOL_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define POOL_TEST_ASAN 1
#endif
#endif
#ifdef POOL_TEST_ASAN
#include <sanitizer/asan_interface.h>
#endif

// Whether n bytes of pool memory are all zero, handed out or not (under AddressSanitizer the
// free nodes are poisoned: they are opened for the look and closed again).
bool AllZero(const void* p, size_t n) {
  const unsigned char* c = static_cast<const unsigned char*>(p);
#ifdef POOL_TEST_ASAN
  std::vector<bool> closed(n);
  for (size_t i = 0; i < n; i++) closed[i] = __asan_address_is_poisoned(c + i);
  ASAN_UNPOISON_MEMORY_REGION(c, n);
#endif
  bool zero = true;
  for (size_t i = 0; i < n && zero; i++) zero = !c[i];
#ifdef POOL_TEST_ASAN
  for (size_t i = 0; i < n; i++)
    if (closed[i]) ASAN_POISON_MEMORY_REGION(c + i, 1);
#endif
  return zero;
}

// Fills every free node of the blocks already in the pool (other tests leave saved strings
// behind), so that the next small request opens a fresh block whose placement the test owns.
class MemMgr : public testing::Test {
 protected:
  void SetUp() override {
    std::set<MemBlock*> before;
    for (MemBlock* b : Blocks()) before.insert(b);
    for (;;) {
      void* p = GetMem(1);
      ASSERT_NE(p, nullptr);
      if (!before.count(FindBlock(p))) {
        PutMem(p);
        break;
      }
      plugs_.push_back(p);
    }
    nBlocks_ = int(Blocks().size());
  }
  void TearDown() override {
    for (void* p : plugs_) PutMem(p);
    EXPECT_TRUE(MemPoolIsValid());
  }
  std::vector<void*> plugs_;
  int nBlocks_ = 0;
};

// ---------------------------------------------------------------------------

TEST_F(MemMgr, GetMemRoundsRequestPlusOneUpToWholeNodes) {
  EXPECT_EQ(GetMem(0), nullptr);
  EXPECT_EQ(GetMem(-5), nullptr);
  void* a = GetMem(1);
  void* b = GetMem(31);
  void* c = GetMem(32);
  void* d = GetMem(95);
  MemBlock* blk = FindBlock(a);
  ASSERT_NE(blk, nullptr);
  EXPECT_EQ(int(Blocks().size()), nBlocks_ + 1);
  EXPECT_EQ(blk, Blocks().back());  // appended at the tail
  EXPECT_EQ(a, blk->pData);
  EXPECT_EQ(NodeCountOf(a), 1);
  EXPECT_EQ(NodeOf(b), 1);
  EXPECT_EQ(NodeCountOf(b), 1);
  EXPECT_EQ(NodeOf(c), 2);
  EXPECT_EQ(NodeCountOf(c), 2);
  EXPECT_EQ(NodeOf(d), 4);
  EXPECT_EQ(NodeCountOf(d), 3);
  EXPECT_EQ(blk->Nodes[4].pAddr, d);
  EXPECT_EQ(blk->Nodes[3].NodeCount, 0);  // inside an allocation: no entry
  EXPECT_EQ(Mat(blk, 0, 8), "UUUUUUU ");
  EXPECT_EQ(blk->FreeNodeCount, 2048 - 7);
  EXPECT_EQ(blk->BlockSize, 65536);
  EXPECT_TRUE(AllZero(d, 96));
  EXPECT_TRUE(MemBlockIsValid(blk));
  for (void* p : {a, b, c, d}) PutMem(p);
}

TEST_F(MemMgr, AllocationsAreZeroFilledEvenOverOldContents) {
  char* a = static_cast<char*>(GetMem(100));
  memset(a, 0xAB, 128);
  void* keep = GetMem(1000);
  PutMem(a);
  char* b = static_cast<char*>(GetMem(100));
  EXPECT_EQ(b, a);  // same nodes again
  EXPECT_TRUE(AllZero(b, 128));
  PutMem(b);
  PutMem(keep);
}

TEST_F(MemMgr, LowestRunInBlockWinsOverTighterLaterRun) {
  void* p[6];
  int sizes[6] = {31, 95, 31, 31, 31, 31};  // nodes 0, 1-3, 4, 5, 6, 7
  for (int i = 0; i < 6; i++) p[i] = GetMem(sizes[i]);
  MemBlock* blk = FindBlock(p[0]);
  PutMem(p[1]);  // three free nodes at 1
  PutMem(p[3]);  // one free node at 5: fits tighter, but comes later
  EXPECT_EQ(Mat(blk, 0, 8), "U   U UU");
  void* q = GetMem(1);
  EXPECT_EQ(NodeOf(q), 1);
  void* r = GetMem(40);  // two nodes: 2-3
  EXPECT_EQ(NodeOf(r), 2);
  void* s = GetMem(40);  // two nodes: no run left below the tail
  EXPECT_EQ(NodeOf(s), 8);
  EXPECT_EQ(Mat(blk, 0, 10), "UUUUU UUUU");
  for (void* x : {p[0], p[2], p[4], p[5], q, r, s}) PutMem(x);
}

TEST_F(MemMgr, FirstFitWalksBlocksInListOrderAndAppendsNewBlocksAtTheTail) {
  void* big = GetMem(65503);  // 2047 nodes: one node left in the first fresh block
  MemBlock* b1 = FindBlock(big);
  EXPECT_EQ(b1->FreeNodeCount, 1);
  void* ded = GetMem(100000);  // a dedicated block between them
  void* two = GetMem(40);     // does not fit b1: a new block after the dedicated one
  MemBlock* b2 = FindBlock(two);
  ASSERT_NE(b1, b2);
  std::vector<MemBlock*> v = Blocks();
  ASSERT_GE(v.size(), 3u);
  EXPECT_EQ(v[v.size() - 3], b1);
  EXPECT_EQ(v[v.size() - 2], FindBlock(ded));
  EXPECT_EQ(v.back(), b2);
  EXPECT_EQ(b2->pPrev, FindBlock(ded));
  void* one = GetMem(1);  // fits the last node of b1, the earlier block
  EXPECT_EQ(FindBlock(one), b1);
  EXPECT_EQ(NodeOf(one), 2047);
  EXPECT_EQ(b1->FreeNodeCount, 0);
  void* again = GetMem(1);  // b1 full now: next block in list order with room
  EXPECT_EQ(FindBlock(again), b2);
  EXPECT_EQ(NodeOf(again), 2);
  for (void* x : {big, ded, two, one, again}) PutMem(x);
}

TEST_F(MemMgr, LastAllocationGoingReleasesTheBlock) {
  void* a = GetMem(10);
  void* b = GetMem(10);
  MemBlock* blk = FindBlock(a);
  PutMem(a);
  EXPECT_TRUE(InPool(blk));
  EXPECT_EQ(blk->FreeNodeCount, 2047);
  PutMem(b);
  EXPECT_FALSE(InPool(blk));
  EXPECT_EQ(FindBlock(b), nullptr);
  EXPECT_EQ(int(Blocks().size()), nBlocks_);
  void* c = GetMem(10);  // maps a new block
  EXPECT_EQ(int(Blocks().size()), nBlocks_ + 1);
  EXPECT_EQ(NodeOf(c), 0);
  PutMem(c);
}

#ifdef POOL_TEST_ASAN
TEST_F(MemMgr, TheSanitizerSeesNodesThatAreNotHandedOut) {
  char* b = static_cast<char*>(GetMem(10));  // keeps the block when a goes
  char* a = static_cast<char*>(GetMem(40));  // two nodes, a free one after them
  a[63] = 1;  // the end of the last node is the caller's
  EXPECT_DEATH(a[64] = 1, "use-after-poison");
  PutMem(a);
  EXPECT_DEATH(a[0] = 1, "use-after-poison");
  PutMem(b);
}
#endif

TEST_F(MemMgr, WholeBlockRequestAlwaysTakesAFreshStandardBlock) {
  void* small = GetMem(1);
  void* whole = GetMem(65535);  // (65535 + 1) = 65536: all 2048 nodes
  MemBlock* blk = FindBlock(whole);
  EXPECT_NE(blk, FindBlock(small));
  EXPECT_EQ(blk->BlockSize, 65536);
  EXPECT_EQ(whole, blk->pData);
  EXPECT_EQ(blk->Nodes[0].NodeCount, 2048);
  EXPECT_EQ(blk->FreeNodeCount, 0);
  EXPECT_EQ(std::string(blk->MAT), std::string(2048, 'U'));
  PutMem(whole);
  EXPECT_FALSE(InPool(blk));
  PutMem(small);
}

TEST_F(MemMgr, DedicatedBlocks) {
  char* p = static_cast<char*>(GetMem(65536));  // rounded 65568 > 65536: two granules
  MemBlock* blk = FindBlock(p);
  ASSERT_NE(blk, nullptr);
  EXPECT_EQ(p, blk->pData);
  EXPECT_EQ(blk->BlockSize, 131072);
  EXPECT_EQ(blk->UsedBytes, 65568);
  EXPECT_EQ(blk->FreeNodeCount, 0);
  EXPECT_EQ(std::string(blk->MAT), std::string(2048, 'U'));
  EXPECT_EQ(blk->Nodes[0].NodeCount, 0);
  EXPECT_TRUE(AllZero(p, 65568));
  void* q = GetMem(65536 * 3);  // 196609 rounded is 196640: four granules
  EXPECT_EQ(FindBlock(q)->BlockSize, 65536 * 4);
  // Any address inside a dedicated block returns the whole block.
  EXPECT_EQ(PutMem(p + 5000), 1);
  EXPECT_FALSE(InPool(blk));
  PutMem(q);
}

TEST_F(MemMgr, PutMemIgnoresWhatIsNotTheStartOfAnAllocation) {
  int onStack = 0;
  EXPECT_EQ(PutMem(nullptr), 0);
  EXPECT_EQ(PutMem(&onStack), 0);
  char* a = static_cast<char*>(GetMem(100));  // nodes 0-3
  MemBlock* blk = FindBlock(a);
  EXPECT_EQ(PutMem(a + 1), 0);    // inside the first node
  EXPECT_EQ(PutMem(a + 32), 0);   // a later node of the same allocation
  EXPECT_EQ(PutMem(blk->pData + 65536), 0);  // the block's end still belongs to the block
  EXPECT_EQ(blk->FreeNodeCount, 2044);
  EXPECT_EQ(NodeCountOf(a), 4);
  EXPECT_EQ(PutMem(a), 1);
  EXPECT_EQ(PutMem(a), 0);  // block gone: unknown
}

TEST_F(MemMgr, FindBlockCoversTheDataAreaInclusiveOfItsEnd) {
  char* a = static_cast<char*>(GetMem(1));
  MemBlock* blk = FindBlock(a);
  EXPECT_EQ(FindBlock(nullptr), nullptr);
  EXPECT_EQ(FindBlock(blk->pData + 65535), blk);
  EXPECT_EQ(FindBlock(blk->pData + 65536), blk);
  EXPECT_NE(FindBlock(blk->pData - 1), blk);
  EXPECT_NE(FindBlock(blk->pData + 65537), blk);
  PutMem(a);
}

// ---------------------------------------------------------------------------
// AdjustMem

TEST_F(MemMgr, AdjustMemNullAndZeroCases) {
  void* a = AdjustMem(nullptr, 40);
  EXPECT_EQ(NodeCountOf(a), 2);
  void* keep = GetMem(1);
  MemBlock* blk = FindBlock(a);
  EXPECT_EQ(AdjustMem(a, 0), nullptr);
  EXPECT_EQ(blk->MAT[0], ' ');
  EXPECT_EQ(blk->MAT[1], ' ');
  int onStack;
  void* b = AdjustMem(&onStack, 10);  // unknown: a new allocation
  EXPECT_EQ(NodeOf(b), 0);
  void* c = AdjustMem(static_cast<char*>(b) + 1, 100);  // inside an allocation: unknown too
  EXPECT_EQ(NodeOf(c), 3);
  EXPECT_EQ(NodeCountOf(c), 4);
  EXPECT_EQ(NodeCountOf(b), 1);
  PutMem(c);
  PutMem(b);
  PutMem(keep);
}

TEST_F(MemMgr, AdjustMemShrinksInPlaceAndFreesAndClearsTheTail) {
  char* a = static_cast<char*>(GetMem(200));  // 7 nodes
  void* keep = GetMem(1);                      // node 7
  memset(a, 'x', 224);
  MemBlock* blk = FindBlock(a);
  EXPECT_EQ(AdjustMem(a, 40), a);  // 2 nodes
  EXPECT_EQ(NodeCountOf(a), 2);
  EXPECT_EQ(Mat(blk, 0, 8), "UU     U");
  EXPECT_EQ(blk->FreeNodeCount, 2048 - 3);
  EXPECT_TRUE(AllZero(a + 64, 160));
  EXPECT_EQ(a[63], 'x');
  EXPECT_EQ(AdjustMem(a, 50), a);  // same node count: unchanged
  EXPECT_EQ(a[40], 'x');
  PutMem(a);
  PutMem(keep);
}

TEST_F(MemMgr, AdjustMemGrowsInPlaceOverFreeFollowingNodesWithZeroes) {
  char* a = static_cast<char*>(GetMem(20));   // node 0
  char* b = static_cast<char*>(GetMem(60));   // nodes 1-2
  void* c = GetMem(1);                         // node 3
  MemBlock* blk = FindBlock(a);
  memset(a, 'a', 32);
  memset(b, 0xEE, 64);
  PutMem(b);  // old contents stay in the freed nodes
  char* a2 = static_cast<char*>(AdjustMem(a, 90));  // 3 nodes: 0-2
  EXPECT_EQ(a2, a);
  EXPECT_EQ(NodeCountOf(a), 3);
  EXPECT_EQ(Mat(blk, 0, 5), "UUUU ");
  EXPECT_EQ(blk->FreeNodeCount, 2044);
  EXPECT_EQ(a[31], 'a');
  EXPECT_TRUE(AllZero(a + 32, 64));
  PutMem(a);
  PutMem(c);
}

TEST_F(MemMgr, AdjustMemGrowsInPlaceUpToTheBlocksEndButNotBeyond) {
  void* head = GetMem(65439);   // 2045 nodes
  char* a = static_cast<char*>(GetMem(31));  // node 2045, two free nodes after it
  MemBlock* blk = FindBlock(a);
  EXPECT_EQ(AdjustMem(a, 95), a);  // 3 nodes: 2045-2047
  EXPECT_EQ(blk->FreeNodeCount, 0);
  void* moved = AdjustMem(a, 127);  // 4 nodes: the NUL after the MAT ends the run
  EXPECT_NE(moved, a);
  EXPECT_NE(FindBlock(moved), blk);
  EXPECT_EQ(blk->FreeNodeCount, 3);
  PutMem(moved);
  PutMem(head);
}

TEST_F(MemMgr, AdjustMemGrowsDownwardKeepingTheContents) {
  void* a = GetMem(60);                       // nodes 0-1
  char* b = static_cast<char*>(GetMem(90));   // nodes 2-4
  void* c = GetMem(1);                        // node 5
  MemBlock* blk = FindBlock(b);
  memset(a, 0xEE, 64);
  for (int i = 0; i < 96; i++) b[i] = char('A' + i % 26);
  std::string before(b, 96);
  PutMem(a);
  char* b2 = static_cast<char*>(AdjustMem(b, 150));  // 5 nodes; next is used, 2 before free
  EXPECT_EQ(b2, blk->pData);
  EXPECT_EQ(std::string(b2, 96), before);  // overlapping move
  EXPECT_TRUE(AllZero(b2 + 96, 64));       // the old contents of nodes 3-4 are gone
  EXPECT_EQ(blk->Nodes[0].NodeCount, 5);
  EXPECT_EQ(blk->Nodes[0].pAddr, b2);
  EXPECT_EQ(blk->Nodes[2].NodeCount, 0);
  EXPECT_EQ(blk->Nodes[2].pAddr, nullptr);
  EXPECT_EQ(Mat(blk, 0, 7), "UUUUUU ");
  EXPECT_EQ(blk->FreeNodeCount, 2042);
  PutMem(b2);
  PutMem(c);
}

TEST_F(MemMgr, AdjustMemPrefersFollowingNodesToPrecedingOnes) {
  void* a = GetMem(1);
  char* b = static_cast<char*>(GetMem(1));
  void* c = GetMem(1);
  void* d = GetMem(1);
  PutMem(a);
  PutMem(c);
  EXPECT_EQ(AdjustMem(b, 40), b);
  PutMem(b);
  PutMem(d);
}

TEST_F(MemMgr, AdjustMemMovesWhenNeitherSideIsFree) {
  void* a = GetMem(1);                        // node 0
  char* b = static_cast<char*>(GetMem(40));   // nodes 1-2
  void* c = GetMem(1);                        // node 3
  MemBlock* blk = FindBlock(b);
  memcpy(b, "contents", 9);
  b[63] = 'z';
  char* b2 = static_cast<char*>(AdjustMem(b, 100));  // a = 128: 4 nodes wanted
  ASSERT_NE(b2, b);
  EXPECT_EQ(NodeOf(b2), 4);
  // The new place comes from GetMem of the rounded size, (128 + 1) rounded: 5 nodes.
  EXPECT_EQ(NodeCountOf(b2), 5);
  EXPECT_STREQ(b2, "contents");
  EXPECT_EQ(b2[63], 'z');
  EXPECT_TRUE(AllZero(b2 + 64, 160 - 64));
  EXPECT_EQ(Mat(blk, 0, 10), "U  UUUUUU ");
  EXPECT_EQ(blk->Nodes[1].NodeCount, 0);
  for (void* x : {a, c, static_cast<void*>(b2)}) PutMem(x);
}

TEST_F(MemMgr, AdjustMemBetweenStandardAndDedicated) {
  char* a = static_cast<char*>(GetMem(40));
  memcpy(a, "small", 6);
  char* d = static_cast<char*>(AdjustMem(a, 100000));  // to a dedicated block
  MemBlock* blk = FindBlock(d);
  ASSERT_NE(blk, nullptr);
  EXPECT_GT(blk->BlockSize, 65536);
  EXPECT_STREQ(d, "small");
  EXPECT_TRUE(AllZero(d + 64, 100000 - 64));
  EXPECT_EQ(FindBlock(a), nullptr);  // a was the only allocation of its block
  // A dedicated block stays dedicated and in place when it shrinks, even to a small size.
  memset(d, 'q', 100000);
  EXPECT_EQ(AdjustMem(d, 100), d);
  EXPECT_EQ(blk->UsedBytes, 128);
  EXPECT_TRUE(MemPoolIsValid());
  EXPECT_EQ(d[127], 'q');
  EXPECT_TRUE(AllZero(d + 128, 100000 - 128));
  PutMem(d);
}

TEST_F(MemMgr, AdjustMemOfADedicatedBlock) {
  char* d = static_cast<char*>(GetMem(120000));  // 120032 used of 131072
  MemBlock* blk = FindBlock(d);
  memset(d, 0x11, 120000);
  EXPECT_EQ(AdjustMem(d, 70000), d);  // shrink in place: a = 70016
  EXPECT_EQ(blk->UsedBytes, 70016);
  EXPECT_EQ(d[70015], 0x11);
  EXPECT_TRUE(AllZero(d + 70016, 120032 - 70016));
  EXPECT_EQ(AdjustMem(d, 131071), d);  // grow in place up to the whole area
  EXPECT_EQ(blk->UsedBytes, 131072);
  EXPECT_TRUE(AllZero(d + 70016, 131072 - 70016));
  char* e = static_cast<char*>(AdjustMem(d, 200000));  // beyond the area: moves
  ASSERT_NE(e, d);
  EXPECT_FALSE(InPool(blk));
  MemBlock* blk2 = FindBlock(e);
  EXPECT_EQ(blk2->BlockSize, 262144);
  EXPECT_EQ(e[70015], 0x11);
  EXPECT_TRUE(AllZero(e + 70016, 200000 - 70016));
  PutMem(e);
}

TEST_F(MemMgr, ExhaustionGivesNullAndTheReport) {
  void* a = GetMem(10);
  testing::internal::CaptureStderr();
  EXPECT_EQ(GetMem(INT_MAX), nullptr);
  EXPECT_EQ(AdjustMem(a, INT_MAX - 100), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: Unable to allocate memory\nERROR: Unable to allocate memory\n");
  EXPECT_EQ(NodeCountOf(a), 1);  // still there, unchanged
  PutMem(a);
}

// ---------------------------------------------------------------------------
// Block steps, MAT test, dump

TEST(TestMAT, CountsARunAndStopsAtTheFirstMismatchOrNul) {
  EXPECT_EQ(TestMAT("   U", ' ', 3), 1);
  EXPECT_EQ(TestMAT("   U", ' ', 4), 0);
  EXPECT_EQ(TestMAT("  ", ' ', 3), 0);  // the NUL ends the run
  EXPECT_EQ(TestMAT("U", ' ', 0), 1);
  EXPECT_EQ(TestMAT("UUU", 'U', 3), 1);
}

TEST(MapBlock, GivesZeroedPagesFromTheDeviceOrTheHeap) {
  char flHeap = 9;
  char* p = static_cast<char*>(MapBlock(65536, &flHeap));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(flHeap, 0);
  EXPECT_TRUE(AllZero(p, 65536 + 4096 - 1));
  p[65536] = 1;  // (size / page + 1) pages: a page beyond the size is there
  munmap(p, 65536 + 4096);
  MemSetZeroDevice("/nonexistent/zero-device");
  void* h = MapBlock(100, &flHeap);
  EXPECT_NE(h, nullptr);
  EXPECT_EQ(flHeap, 1);
  free(h);
  MemSetZeroDevice(nullptr);
}

TEST_F(MemMgr, HeapFallbackWorksTheSameWithoutTheZeroDevice) {
  MemSetZeroDevice("/nonexistent/zero-device");
  char* a = static_cast<char*>(GetMem(100));
  MemBlock* blk = FindBlock(a);
  ASSERT_NE(blk, nullptr);
  EXPECT_EQ(blk->flHeapData, 1);
  EXPECT_EQ(blk->flHeapHeader, 1);
  EXPECT_EQ(blk->FreeNodeCount, 2044);
  EXPECT_TRUE(AllZero(a, 128));
  char* d = static_cast<char*>(GetMem(70000));
  EXPECT_TRUE(AllZero(d, 70001));
  memset(d, 7, 70001);
  char* e = static_cast<char*>(AdjustMem(d, 131000));  // in place; heap area is not cleared
  EXPECT_EQ(e, d);
  EXPECT_TRUE(AllZero(e + 70016, 131008 - 70016));
  EXPECT_TRUE(MemPoolIsValid());
  PutMem(e);
  PutMem(a);
  EXPECT_FALSE(InPool(blk));
  MemSetZeroDevice(nullptr);
  void* m = GetMem(1);
  EXPECT_EQ(FindBlock(m)->flHeapData, 0);
  PutMem(m);
}

TEST_F(MemMgr, DumpMemPrintsEveryBlockInTheFixedFormat) {
  char* a = SaveStr_("hello");               // node 0
  char* b = static_cast<char*>(GetMem(40));  // nodes 1-2
  memcpy(b, "two nodes", 10);
  char* d = static_cast<char*>(GetMem(70000));
  MemBlock* blk = FindBlock(a);
  MemBlock* ded = FindBlock(d);
  testing::internal::CaptureStdout();
  DumpMem();
  std::string out = testing::internal::GetCapturedStdout();

  char head[400];
  snprintf(head, sizeof head,
           "\n============ Block(%li) size(65536) Free(2045) Used(3) FreeNodeCount(2045) SizeCnt(2045)"
           " <==(%li) (%li)==>\n\tBlock MAT:",
           long(intptr_t(blk)), long(intptr_t(blk->pPrev)), long(intptr_t(blk->pNext)));
  std::string expect = head;
  expect += "\n\tUUU" + std::string(61, '_');
  for (int i = 1; i < 32; i++) expect += "\n\t" + std::string(64, '_');
  expect += "\n\n\tAllocated Nodes:\n";
  char line[200];
  snprintf(line, sizeof line,
           "\tMAT index(     0) Memory Addr(%6li) nodes(    1) size(   32) Memory(hello)\n",
           long(intptr_t(a)));
  expect += line;
  snprintf(line, sizeof line,
           "\tMAT index(     1) Memory Addr(%6li) nodes(    2) size(   64) Memory(two nodes)\n",
           long(intptr_t(b)));
  expect += line;
  expect += "\n";
  snprintf(line, sizeof line,
           "\n============ Dedicated Block(%li) size(131072) FreeNodeCount(0) <==(%li) (%li)==>",
           long(intptr_t(d)), long(intptr_t(blk)), 0L);
  expect += line;
  ASSERT_EQ(ded->pPrev, blk);
  ASSERT_EQ(ded->pNext, nullptr);
  ASSERT_GE(out.size(), expect.size());
  EXPECT_EQ(out.substr(out.size() - expect.size()), expect);
  PutMem(d);
  PutMem(b);
  PutMem(a);
}

TEST_F(MemMgr, DumpMemNeverReadsPastAnAllocation) {
  char* a = static_cast<char*>(GetMem(31));
  char* b = static_cast<char*>(GetMem(31));
  memset(a, 'A', 32);  // no NUL in the allocation
  memset(b, 'B', 31);
  testing::internal::CaptureStdout();
  DumpMem();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Memory(" + std::string(32, 'A') + ")\n"), std::string::npos);
  PutMem(a);
  PutMem(b);
}

// ---------------------------------------------------------------------------
// Saved strings

TEST_F(MemMgr, SaveStrUsesAScratchAreaThatIsBackBeforeItReturns) {
  char* s = SaveStr("%s/%s", "a", "b");
  EXPECT_STREQ(s, "a/b");
  MemBlock* blk = FindBlock(s);
  EXPECT_EQ(NodeCountOf(s), 1);
  // The scratch area (8192 bytes: 257 nodes) opened the block and was returned afterwards.
  EXPECT_EQ(NodeOf(s), 257);
  EXPECT_EQ(blk->FreeNodeCount, 2047);
  EXPECT_TRUE(TestMAT(blk->MAT, ' ', 257));
  PutMem(s);
}

TEST_F(MemMgr, SaveStrSizesItsResultExactly) {
  char* s = SaveStr("%d-%s", 42, std::string(29, 'x').c_str());  // 32 characters
  EXPECT_EQ(strlen(s), 32u);
  EXPECT_EQ(NodeCountOf(s), 2);  // GetMem of length + 1: 34 bytes rounded to 64
  char* t = SaveStr_("abc");
  EXPECT_STREQ(t, "abc");
  EXPECT_EQ(NodeCountOf(t), 1);
  char* e = SaveStr_(nullptr);
  EXPECT_STREQ(e, "");
  char* f = SaveStr("%s", "");
  EXPECT_STREQ(f, "");
  for (char* x : {s, t, e, f}) PutMem(x);
}

TEST_F(MemMgr, SaveStrNeverCutsALongResult) {
  for (size_t n : {8191u, 8192u, 8193u, 100000u}) {
    std::string text(n, 'k');
    text[n - 1] = 'E';
    char* s = SaveStr("%s", text.c_str());
    EXPECT_EQ(strlen(s), n);
    EXPECT_EQ(s, text);
    PutMem(s);
  }
  std::string longFmt(5000, '.');  // scratch of 12288 bytes
  longFmt += "%s";
  char* s = SaveStr(longFmt.c_str(), std::string(20000, 'z').c_str());
  EXPECT_EQ(strlen(s), 25000u);
  EXPECT_EQ(s[24999], 'z');
  PutMem(s);
}

TEST(SaveStrDeathTest, ExhaustionEndsTheProgramWithTheSystemReport) {
  // /dev/null opens but cannot be mapped: every new block fails, with the system's reason.
  std::string text(100000, 't');  // needs a dedicated block
  EXPECT_EXIT(
      {
        my_name = const_cast<char*>("setup");
        MemSetZeroDevice("/dev/null");
        SaveStr_(text.c_str());
      },
      testing::ExitedWithCode(1),
      "^ERROR: Unable to allocate memory\n\nsetup: Unable to allocate memory : No such device\n$");
  EXPECT_EXIT(
      {
        my_name = const_cast<char*>("setup");
        MemSetZeroDevice("/dev/null");
        SaveStr("%s", text.c_str());
      },
      testing::ExitedWithCode(1), "\nsetup: Unable to allocate memory : No such device\n$");
}

TEST(SaveStrDeathTest, UnformattableTextEndsTheProgram) {
  EXPECT_EXIT(
      {
        my_name = const_cast<char*>("setup");
        static wchar_t bad[2];
        bad[0] = wchar_t(0xD800);  // a lone surrogate has no multibyte form
        SaveStr("%ls", bad);
      },
      testing::ExitedWithCode(1), "^\nsetup: Unable to format text : ");
}

TEST_F(MemMgr, FailedMappingGivesNullAndNothingStaysInThePool) {
  MemSetZeroDevice("/dev/null");
  testing::internal::CaptureStderr();
  EXPECT_EQ(GetMem(100000), nullptr);
  EXPECT_EQ(GetMem(10), nullptr);  // every existing block is full
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: Unable to allocate memory\nERROR: Unable to allocate memory\n");
  EXPECT_EQ(int(Blocks().size()), nBlocks_);
  MemSetZeroDevice(nullptr);
}

#if !defined(__SANITIZE_ADDRESS__)
TEST(SaveStrDeathTest, FailedMappingEndsTheProgram) {
  std::string text(200000, 't');
  EXPECT_EXIT(
      {
        my_name = const_cast<char*>("setup");
        rlimit lim;
        getrlimit(RLIMIT_AS, &lim);
        long nPages = 0;
        if (FILE* f = fopen("/proc/self/statm", "r")) {
          if (fscanf(f, "%ld", &nPages) != 1) nPages = 0;
          fclose(f);
        }
        lim.rlim_cur = rlim_t(nPages) * 4096 + 65536;
        setrlimit(RLIMIT_AS, &lim);
        SaveStr_(text.c_str());
      },
      testing::ExitedWithCode(1),
      "^ERROR: Unable to allocate memory\n\nsetup: Unable to allocate memory : Cannot allocate "
      "memory\n$");
}
#endif

// ---------------------------------------------------------------------------
// The fast search gives exactly the node the plain MAT search gives.

// Expected place of a request of k nodes by the plain rule: the first block in list order
// whose MAT has a run of k blanks, at the first such run; or node 0 of a new block.
std::pair<MemBlock*, int> ReferencePlace(int k) {
  for (MemBlock* b = pMemB; b; b = b->pNext) {
    if (b->FreeNodeCount < k) continue;
    int i = MemFindRunText(b, k);
    if (i >= 0) return {b, i};
  }
  return {nullptr, 0};
}

TEST(MemFindRun, MatchesTheTextSearchOnEveryRunLength) {
  std::mt19937 rng(7);
  std::vector<void*> live;
  for (int round = 0; round < 40; round++) {
    for (int j = 0; j < 300; j++) live.push_back(GetMem(int(rng() % 400) + 1));
    for (int j = 0; j < 150; j++) {
      size_t at = rng() % live.size();
      PutMem(live[at]);
      live[at] = live.back();
      live.pop_back();
    }
    for (MemBlock* b = pMemB; b; b = b->pNext)
      for (int k : {1, 2, 3, 5, 7, 13, 31, 63, 64, 65, 100, 500, 2048})
        ASSERT_EQ(MemFindRun(b, k), MemFindRunText(b, k)) << "k=" << k;
  }
  for (void* p : live) PutMem(p);
  EXPECT_TRUE(MemPoolIsValid());
}

TEST(GetMem, PlacesEveryRequestWhereThePlainFirstFitWould) {
  std::mt19937 rng(12345);
  std::vector<void*> live;
  int nChecked = 0;
  for (int step = 0; step < 60000; step++) {
    int op = int(rng() % 10);
    if (op < 5 || live.empty()) {
      int n = rng() % 8 == 0 ? int(rng() % 3000) + 1 : int(rng() % 200) + 1;
      if (rng() % 400 == 0) n = 65535 + int(rng() % 100000);  // a whole or a dedicated block
      int k = int((n + 1 + 31) / 32);
      std::pair<MemBlock*, int> want = ReferencePlace(k);
      void* p = GetMem(n);
      ASSERT_NE(p, nullptr);
      if (n >= 65536) {
        live.push_back(p);
        continue;
      }
      if (want.first) {
        ASSERT_EQ(FindBlock(p), want.first) << "step " << step;
        ASSERT_EQ(NodeOf(p), want.second) << "step " << step;
      } else {
        ASSERT_EQ(FindBlock(p)->pNext, nullptr);
        ASSERT_EQ(NodeOf(p), 0);
      }
      nChecked++;
      live.push_back(p);
    } else if (op < 9) {
      size_t at = rng() % live.size();
      PutMem(live[at]);
      live[at] = live.back();
      live.pop_back();
    } else {
      size_t at = rng() % live.size();
      int n = rng() % 50 == 0 ? 60000 + int(rng() % 60000) : int(rng() % 600) + 1;
      void* q = AdjustMem(live[at], n);
      ASSERT_NE(q, nullptr);
      live[at] = q;
    }
    if (step % 5000 == 0) {
      ASSERT_TRUE(MemPoolIsValid()) << "step " << step;
    }
    if (step == 30000) {  // drain most, so blocks empty out and leave the middle of the list
      while (live.size() > 500) {
        PutMem(live.back());
        live.pop_back();
      }
    }
  }
  EXPECT_GT(nChecked, 25000);
  EXPECT_TRUE(MemPoolIsValid());
  for (void* p : live) PutMem(p);
  EXPECT_TRUE(MemPoolIsValid());
}

TEST(GetMem, StaysFirstFitAcrossAHundredBlocks) {
  // Enough live allocations for the indexes to span many groups of blocks.
  std::mt19937 rng(4242);
  std::vector<void*> live;
  for (int i = 0; i < 60000; i++) live.push_back(GetMem(int(rng() % 200) + 1));
  ASSERT_TRUE(MemPoolIsValid());
  for (int step = 0; step < 40000; step++) {
    size_t at = rng() % live.size();
    PutMem(live[at]);
    int n = int(rng() % 200) + 1;
    bool flCheck = step % 8 == 0;
    std::pair<MemBlock*, int> want;
    if (flCheck) want = ReferencePlace((n + 1 + 31) / 32);
    void* p = GetMem(n);
    ASSERT_NE(p, nullptr);
    if (flCheck && want.first) {
      ASSERT_EQ(FindBlock(p), want.first) << "step " << step;
      ASSERT_EQ(NodeOf(p), want.second) << "step " << step;
    }
    live[at] = p;
    if (step % 10000 == 0) {
      ASSERT_TRUE(MemPoolIsValid()) << "step " << step;
    }
  }
  int nBlocks = 0;
  for (MemBlock* b = pMemB; b; b = b->pNext) nBlocks++;
  EXPECT_GT(nBlocks, 100);
  for (void* p : live) PutMem(p);
  EXPECT_TRUE(MemPoolIsValid());
}

}  // namespace
