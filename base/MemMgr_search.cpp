// MemMgr_search.cpp - the longer steps of the pool's search machinery (MemMgr_private.h):
// the search of a block for a run of free nodes, the longest run below a length, the upkeep
// of the first-fit index and the address index, and the node a pointer starts.
#include <cstdlib>
#include <cstring>

#include "base/MemMgr_private.h"

namespace mempool {

// 1 when nodes i .. i + n - 1 lie in the block and are all free.
bool RangeFree(const MemBlock* b, int i, int n) {
  if (i < 0 || i + n > kNodesPerBlock) return false;
  while (n > 0) {  // word by word over the range only
    int nBit = i & 63;
    int nTake = 64 - nBit < n ? 64 - nBit : n;
    uint64_t mask = nTake == 64 ? kAllOnes : (((uint64_t(1) << nTake) - 1) << nBit);
    if ((b->FreeBits[i >> 6] & mask) != mask) return false;
    i += nTake;
    n -= nTake;
  }
  return true;
}

// The shifts that turn a bitmap word into the starts of k free bits, for k < 16: 1, 2, 4 as
// k allows and the rest (so that x &= x >> s over the four needs no branch on k).
struct RunShiftTable {
  uint8_t a[16][4];
  constexpr RunShiftTable() : a() {
    for (int k = 1; k < 16; k++) {
      int s1 = k >= 2 ? 1 : 0, s2 = k >= 4 ? 2 : 0, s3 = k >= 8 ? 4 : 0;
      a[k][0] = uint8_t(s1);
      a[k][1] = uint8_t(s2);
      a[k][2] = uint8_t(s3);
      a[k][3] = uint8_t(k - 1 - s1 - s2 - s3);
    }
  }
};
constexpr RunShiftTable kRunShifts;

// Lowest node where a run of k free nodes starts, or -1. With pClean (the same block), words
// found to hold no such run lose their RunStarts marks.
int FindRun(const MemBlock* b, int k, MemBlock* pClean) {
  // Only words marked in RunStarts for k can hold the start, lowest word first.
  uint16_t nMark = uint16_t(1u << ((k < kRunMarks ? k : kRunMarks) - 1));
  uint32_t cand = MarkedWords(b, nMark);
  if (k <= 64) {
    // A run of k <= 64 nodes that starts in word w lies in w or ends in w + 1.
    uint16_t nKeep = uint16_t(k <= kRunMarks ? nMark - 1 : 0xffff);  // marks kept after a miss
    for (; cand; cand &= cand - 1) {
      int w = __builtin_ctz(cand);
      uint64_t lo = b->FreeBits[w];
      // Runs inside the word: after x &= x >> s, bit p of x says that nodes p .. p + s are all
      // free, so each step lengthens what a bit stands for by s. The shifts 1, 2, 4 double it
      // (to runs of 2, 4, 8) as far as k allows and the last shift adds the rest, so that in
      // the end bit p means "nodes p .. p + k - 1 free"; a table gives the four shifts for
      // k < 16 (a shift of 0 changes nothing), so the usual sizes take no branch.
      uint64_t x = lo;
      if (k < 16) {
        const uint8_t* pShift = kRunShifts.a[k];
        x &= x >> pShift[0];
        x &= x >> pShift[1];
        x &= x >> pShift[2];
        x &= x >> pShift[3];
      } else {
        int t = 1;
        for (; 2 * t <= k; t *= 2) x &= x >> t;
        x &= x >> (k - t);
      }
      if (x) return w * 64 + __builtin_ctzll(x);
      // Else the word's top run continued at the bottom of the next word (lo is not all ones).
      int nTop = __builtin_clzll(~lo);
      uint64_t hi = b->FreeBits[w + 1];
      int nBottom = hi == kAllOnes ? 64 : __builtin_ctzll(~hi);
      if (nTop && nTop + nBottom >= k) return w * 64 + 64 - nTop;
      if (pClean) pClean->RunStarts[w] &= nKeep;  // none of k or more starts here
    }
    return -1;
  }
  if (!cand) return -1;
  for (int pos = __builtin_ctz(cand) * 64;;) {  // no run of 16 or more starts below
    int s = NextFree(b, pos);
    if (s < 0) return -1;
    int e = NextUsed(b, s);
    if (e - s >= k) return s;
    pos = e;
  }
}

// The longest run length <= n that some run has, 0 if none.
int RunTop(const MemBlock* b, int n) {
  int w = n >> 6;
  uint64_t x = b->RunCountBits[w] & (kAllOnes >> (63 - (n & 63)));
  while (!x) {
    if (--w < 0) return 0;
    x = b->RunCountBits[w];
  }
  return w * 64 + 63 - __builtin_clzll(x);
}

void TreeRebuild() {
  for (int i = 0; i < Pool.nSlotCap; i++) {
    MemBlock* b = i < Pool.nSlot ? Pool.aSlot[i] : nullptr;
    Pool.aLeaf[i] = int16_t(b ? b->LongestFree : 0);
  }
  int nGroups = GroupSlots(Pool.nSlotCap);
  for (int j = 0; j < nGroups; j++)
    Pool.aGroupMax[j] = j * kGroup < Pool.nSlotCap ? Max16(Pool.aLeaf + j * kGroup) : 0;
}

// Makes room for one more slot and one more address entry; false when memory is exhausted.
bool IndexReserve() {
  if (Pool.nSlot == Pool.nSlotCap) {
    // Squeeze out the holes first; grow when the index is more than half full.
    int n = 0;
    for (int i = 0; i < Pool.nSlot; i++) {
      if (!Pool.aSlot[i]) continue;
      Pool.aSlot[n] = Pool.aSlot[i];
      Pool.aSlot[n]->iSlot = n;
      n++;
    }
    Pool.nSlot = n;
    if (Pool.nSlotCap == 0 || n * 2 > Pool.nSlotCap) {
      int nCap = Pool.nSlotCap ? Pool.nSlotCap * 2 : kGroup;
      MemBlock** aSlot = static_cast<MemBlock**>(realloc(Pool.aSlot, sizeof(MemBlock*) * nCap));
      int16_t* aLeaf = aSlot ? static_cast<int16_t*>(malloc(sizeof(int16_t) * nCap)) : nullptr;
      int16_t* aGroupMax =
          aLeaf ? static_cast<int16_t*>(malloc(sizeof(int16_t) * GroupSlots(nCap))) : nullptr;
      if (aSlot) Pool.aSlot = aSlot;
      if (aGroupMax) {
        free(Pool.aLeaf);
        free(Pool.aGroupMax);
        Pool.aLeaf = aLeaf;
        Pool.aGroupMax = aGroupMax;
        Pool.nSlotCap = nCap;
      } else {
        free(aLeaf);
      }
    }
    if (Pool.nSlotCap) TreeRebuild();  // slots were renumbered
    if (Pool.nSlot == Pool.nSlotCap) return false;
  }
  if (Pool.nByAddr == Pool.nByAddrCap) {
    int nCap = Pool.nByAddrCap ? Pool.nByAddrCap * 2 : 64;
    MemBlock** a = static_cast<MemBlock**>(realloc(Pool.aByAddr, sizeof(MemBlock*) * nCap));
    if (!a) return false;
    Pool.aByAddr = a;
    const char** aKey = static_cast<const char**>(realloc(Pool.aAddrKey, sizeof(char*) * nCap));
    if (!aKey) return false;
    Pool.aAddrKey = aKey;
    Pool.nByAddrCap = nCap;
  }
  return true;
}

// Node of p when p starts a live allocation of standard block b, else -1.
int StartNode(const MemBlock* b, const void* p) {
  size_t nOff = size_t(static_cast<const char*>(p) - b->pData);
  if (nOff % kNodeSize || nOff >= size_t(kBlockSize)) return -1;
  int i = int(nOff / kNodeSize);
  return IsStart(b, i) ? i : -1;
}

}  // namespace mempool
