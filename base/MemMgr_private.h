// MemMgr_private.h - the pool's search machinery, shared by MemMgr.cpp (the interface, saved
// strings, validators) and MemMgr_search.cpp (its longer out-of-line steps). Not for callers.
// Beside the MAT, every block keeps a free-node bitmap, a start-of-allocation bitmap, the
// number of free runs of each length (hence its exact longest run) and per 64-node word the
// run lengths that may start there; the pool keeps a first-fit index over the blocks' longest
// runs and the blocks sorted by address behind a small cache. All of it is kept up to date on
// every change, and MemBlockIsValid/MemPoolIsValid check it against the MAT.
// The steps on the allocation paths are forced inline: they are short and run on every call.
#ifndef KORVI_BASE_MEMMGR_PRIVATE_H
#define KORVI_BASE_MEMMGR_PRIVATE_H

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/MemMgr.h"

#define KORVI_INLINE __attribute__((always_inline)) inline

namespace mempool {

constexpr uint64_t kAllOnes = ~uint64_t(0);
constexpr int kChunkSlots = 4096;

// A cached block with the bounds of its data area, so that a lookup need not read the header.
struct ChunkEntry {
  MemBlock* pBlock;
  const char* pData;
  const char* pEnd;  // pData + BlockSize (included)
};

// Pool state the header does not name: the zero device and the two search indexes.
struct PoolState {
  int fdZero = -1;                        // open /dev/zero, -1 until opened
  const char* pZeroPath = "/dev/zero";    // device MapBlock opens
  MemBlock* pTail = nullptr;              // last block of the list
  // First-fit index: standard blocks in list order (holes where blocks left), their
  // LongestFree per slot (aLeaf) and its maximum per group of 16 slots (aGroupMax).
  MemBlock** aSlot = nullptr;
  int16_t* aLeaf = nullptr;               // nSlotCap entries
  int16_t* aGroupMax = nullptr;           // GroupSlots() entries
  int nSlot = 0;                          // slots handed out (blocks and holes)
  int nSlotCap = 0;                       // a multiple of 16, or 0
  // All blocks sorted by pData, and their pData in a packed array for the search.
  MemBlock** aByAddr = nullptr;
  const char** aAddrKey = nullptr;
  int nByAddr = 0;
  int nByAddrCap = 0;
  // Last block found for each 64 KiB stretch of addresses (hashed); checked before use.
  ChunkEntry aChunk[kChunkSlots] = {};
};
extern PoolState Pool;  // defined in MemMgr.cpp

inline size_t ChunkSlot(const void* p) { return (uintptr_t(p) >> 16) & (kChunkSlots - 1); }

// ---------------------------------------------------------------------------
// Out of line (MemMgr_search.cpp)
// ---------------------------------------------------------------------------

// 1 when nodes i .. i + n - 1 lie in the block and are all free.
bool RangeFree(const MemBlock* b, int i, int n);
// Lowest node where a run of k free nodes starts, or -1. With pClean (the same block), words
// found to hold no such run lose their RunStarts marks.
int FindRun(const MemBlock* b, int k, MemBlock* pClean);
// The longest run length <= n that some run has, 0 if none.
int RunTop(const MemBlock* b, int n);
// Recomputes the first-fit index from the slots.
void TreeRebuild();
// Makes room for one more slot and one more address entry; false when memory is exhausted.
bool IndexReserve();
// Node of p when p starts a live allocation of standard block b, else -1.
int StartNode(const MemBlock* b, const void* p);

// ---------------------------------------------------------------------------
// Free-node bitmap
// ---------------------------------------------------------------------------

// Lowest free node >= pos, or -1.
KORVI_INLINE int NextFree(const MemBlock* b, int pos) {
  if (pos >= kNodesPerBlock) return -1;
  int w = pos >> 6;
  uint64_t x = b->FreeBits[w] & (kAllOnes << (pos & 63));
  while (!x) {
    if (++w == kFreeWords) return -1;
    x = b->FreeBits[w];
  }
  return w * 64 + __builtin_ctzll(x);
}

// Highest used node < pos, or -1.
KORVI_INLINE int PrevUsed(const MemBlock* b, int pos) {
  if (pos <= 0) return -1;
  int p = pos - 1;
  int w = p >> 6;
  int nBit = p & 63;
  uint64_t mask = nBit == 63 ? kAllOnes : ((uint64_t(1) << (nBit + 1)) - 1);
  uint64_t x = ~b->FreeBits[w] & mask;
  while (!x) {
    if (--w < 0) return -1;
    x = ~b->FreeBits[w];
  }
  return w * 64 + 63 - __builtin_clzll(x);
}

// Lowest used node >= pos, or kNodesPerBlock.
KORVI_INLINE int NextUsed(const MemBlock* b, int pos) {
  if (pos >= kNodesPerBlock) return kNodesPerBlock;
  int w = pos >> 6;
  uint64_t x = ~b->FreeBits[w] & (kAllOnes << (pos & 63));
  while (!x) {
    if (++w == kFreeWords) return kNodesPerBlock;
    x = ~b->FreeBits[w];
  }
  return w * 64 + __builtin_ctzll(x);
}

// Sets (free) or clears (used) bits i .. i + n - 1.
KORVI_INLINE void SetBits(MemBlock* b, int i, int n, bool flFree) {
  if ((i & 63) + n <= 64) {  // within one word
    uint64_t mask = (n == 64 ? kAllOnes : ((uint64_t(1) << n) - 1)) << (i & 63);
    if (flFree)
      b->FreeBits[i >> 6] |= mask;
    else
      b->FreeBits[i >> 6] &= ~mask;
    return;
  }
  while (n > 0) {
    int w = i >> 6;
    int nBit = i & 63;
    int nTake = 64 - nBit < n ? 64 - nBit : n;
    uint64_t mask = nTake == 64 ? kAllOnes : (((uint64_t(1) << nTake) - 1) << nBit);
    if (flFree)
      b->FreeBits[w] |= mask;
    else
      b->FreeBits[w] &= ~mask;
    i += nTake;
    n -= nTake;
  }
}


// Records that a run of n free nodes starts at node s.
KORVI_INLINE void NoteRunStart(MemBlock* b, int s, int n) {
  if (n > 0) b->RunStarts[s >> 6] |= uint16_t(n >= kRunMarks ? 0xffff : (1u << n) - 1);
}

// Bit w set when RunStarts[w] has a bit of nMark.
KORVI_INLINE uint32_t MarkedWords(const MemBlock* b, uint16_t nMark) {
#if defined(__SSE2__)
  const __m128i* p = reinterpret_cast<const __m128i*>(b->RunStarts);
  __m128i vMark = _mm_set1_epi16(short(nMark)), vZero = _mm_setzero_si128();
  __m128i v0 = _mm_cmpeq_epi16(_mm_and_si128(_mm_loadu_si128(p), vMark), vZero);
  __m128i v1 = _mm_cmpeq_epi16(_mm_and_si128(_mm_loadu_si128(p + 1), vMark), vZero);
  __m128i v2 = _mm_cmpeq_epi16(_mm_and_si128(_mm_loadu_si128(p + 2), vMark), vZero);
  __m128i v3 = _mm_cmpeq_epi16(_mm_and_si128(_mm_loadu_si128(p + 3), vMark), vZero);
  uint32_t nUnmarked = uint32_t(_mm_movemask_epi8(_mm_packs_epi16(v0, v1))) |
                       uint32_t(_mm_movemask_epi8(_mm_packs_epi16(v2, v3))) << 16;
  return ~nUnmarked;
#else
  uint32_t mask = 0;
  for (int w = 0; w < kFreeWords; w++) mask |= uint32_t((b->RunStarts[w] & nMark) != 0) << w;
  return mask;
#endif
}


// The RunStarts marks that word w deserves now: the lengths up to that of its longest run
// of free nodes that starts in it (a run at its bottom that comes from the word below does
// not; one at its top may go on into the next word); 16 or more mark all. Without branches.
KORVI_INLINE uint16_t WordMarks(const MemBlock* b, int w) {
  uint64_t x = b->FreeBits[w];
  uint64_t nCarry = w ? b->FreeBits[w - 1] >> 63 : 0;  // 1: the word below ends free
  // The free nodes at the bottom of the word, below its lowest used node, are a run that
  // started below when nCarry is 1. nNotX & -nNotX isolates the lowest used node (the lowest
  // set bit of ~x); minus 1 turns it into a mask of the nodes under it; and with -nCarry
  // (all ones or nothing) that mask is cleared from x only when the word below ends free.
  uint64_t nNotX = ~x;
  x &= ~(((nNotX & (0 - nNotX)) - 1) & (0 - nCarry));
  // The free nodes at the top of the word (| 1 keeps clz defined for a word all free) may
  // go on into the next word: then the run is that many plus the free nodes at the bottom of
  // the next one (| bit 63 keeps ctz defined, and caps the count for a next word all free).
  int nTop = __builtin_clzll(~x | 1);
  int nTopRun = nTop ? nTop + __builtin_ctzll(~b->FreeBits[w + 1] | (uint64_t(1) << 63)) : 0;
  // Longest run inside the word, by binary search without branches: a2 has bit p set when
  // nodes p and p + 1 are free, a4 when p .. p + 3 are, and so on. cur starts as "any node"
  // and n as 0; each step asks whether some start in cur has a run of n + 16 (then 8, 4, 2,
  // 1) free nodes, by testing the shifted map of that power of two, and when so keeps those
  // starts and adds the power to n. The selects compile to conditional moves.
  uint64_t a2 = x & (x >> 1), a4 = a2 & (a2 >> 2), a8 = a4 & (a4 >> 4), a16 = a8 & (a8 >> 8);
  uint64_t cur = kAllOnes;
  int n = 0;
  uint64_t t = cur & a16;
  cur = t ? t : cur;
  n += t ? 16 : 0;
  t = cur & (a8 >> n);
  cur = t ? t : cur;
  n += t ? 8 : 0;
  t = cur & (a4 >> n);
  cur = t ? t : cur;
  n += t ? 4 : 0;
  t = cur & (a2 >> n);
  cur = t ? t : cur;
  n += t ? 2 : 0;
  t = cur & (x >> n);
  n += t ? 1 : 0;
  n = nTopRun > n ? nTopRun : n;
  return uint16_t(n >= kRunMarks ? 0xffff : (1u << n) - 1);
}


// ---------------------------------------------------------------------------
// Run lengths of a block: how many free runs of each length, and the longest
// ---------------------------------------------------------------------------

// Without branches; length 0 (no run) is counted too, in an entry nothing reads. The count's
// step from 0 to 1 (RunAdd) or from 1 to 0 (RunRemove) gives the bit, shifted into place, that
// sets or clears length n in RunCountBits; other steps give 0 and leave the bitmap alone.
KORVI_INLINE void RunAdd(MemBlock* b, int n) {
  b->RunCountBits[n >> 6] |= uint64_t(b->RunCount[n]++ == 0) << (n & 63);
}

KORVI_INLINE void RunRemove(MemBlock* b, int n) {
  b->RunCountBits[n >> 6] &= ~(uint64_t(--b->RunCount[n] == 0) << (n & 63));
}



// ---------------------------------------------------------------------------
// First-fit index: LongestFree of the standard blocks in list order, maximum per group of 16
// ---------------------------------------------------------------------------

constexpr int kGroup = 16;  // slots per group

// Entries of aGroupMax: one per group, padded to whole vectors.
inline int GroupSlots(int nCap) { return (nCap / kGroup + kGroup - 1) / kGroup * kGroup; }

// Bit j set when a[j] >= k, for the 16 values from a.
KORVI_INLINE uint32_t AtLeast16(const int16_t* a, int k) {
#if defined(__SSE2__)
  __m128i vLess = _mm_set1_epi16(short(k - 1));
  __m128i v0 = _mm_cmpgt_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)), vLess);
  __m128i v1 = _mm_cmpgt_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8)), vLess);
  return uint32_t(_mm_movemask_epi8(_mm_packs_epi16(v0, v1)));
#else
  uint32_t mask = 0;
  for (int j = 0; j < 16; j++) mask |= uint32_t(a[j] >= k) << j;
  return mask;
#endif
}

// The largest of the 16 values from a.
KORVI_INLINE int16_t Max16(const int16_t* a) {
#if defined(__SSE2__)
  __m128i v = _mm_max_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)),
                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8)));
  v = _mm_max_epi16(v, _mm_shuffle_epi32(v, 0x4e));
  v = _mm_max_epi16(v, _mm_shuffle_epi32(v, 0xb1));
  v = _mm_max_epi16(v, _mm_shufflelo_epi16(v, 0xb1));
  return int16_t(_mm_cvtsi128_si32(v));
#else
  int16_t m = a[0];
  for (int j = 1; j < 16; j++) m = a[j] > m ? a[j] : m;
  return m;
#endif
}

KORVI_INLINE void TreeSet(int slot, int32_t v) {
  int nGroup = slot / kGroup;
  int16_t* pLeaves = Pool.aLeaf + nGroup * kGroup;
#if defined(__SSE2__)
  // Whole vectors are read and written here as in TreeFirstFit: a wide read soon after a
  // narrow write of the same bytes would wait for that write to reach the cache.
  __m128i* p = reinterpret_cast<__m128i*>(pLeaves);
  __m128i vLane = _mm_set1_epi16(short(slot % kGroup)), vNew = _mm_set1_epi16(short(v));
  __m128i vIs0 = _mm_cmpeq_epi16(_mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7), vLane);
  __m128i vIs1 = _mm_cmpeq_epi16(_mm_setr_epi16(8, 9, 10, 11, 12, 13, 14, 15), vLane);
  __m128i v0 = _mm_loadu_si128(p), v1 = _mm_loadu_si128(p + 1);
  v0 = _mm_or_si128(_mm_andnot_si128(vIs0, v0), _mm_and_si128(vIs0, vNew));
  v1 = _mm_or_si128(_mm_andnot_si128(vIs1, v1), _mm_and_si128(vIs1, vNew));
  _mm_storeu_si128(p, v0);
  _mm_storeu_si128(p + 1, v1);
  __m128i vMax = _mm_max_epi16(v0, v1);
  vMax = _mm_max_epi16(vMax, _mm_shuffle_epi32(vMax, 0x4e));
  vMax = _mm_max_epi16(vMax, _mm_shuffle_epi32(vMax, 0xb1));
  vMax = _mm_max_epi16(vMax, _mm_shufflehi_epi16(_mm_shufflelo_epi16(vMax, 0xb1), 0xb1));
  // now every lane holds the maximum
  // Put it in lane nGroup % 8 of the vector of group maxima that holds it.
  __m128i* q = reinterpret_cast<__m128i*>(Pool.aGroupMax + nGroup / 8 * 8);
  __m128i vIsG = _mm_cmpeq_epi16(_mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7), _mm_set1_epi16(short(nGroup % 8)));
  __m128i vG = _mm_loadu_si128(q);
  _mm_storeu_si128(q, _mm_or_si128(_mm_andnot_si128(vIsG, vG), _mm_and_si128(vIsG, vMax)));
#else
  pLeaves[slot % kGroup] = int16_t(v);
  Pool.aGroupMax[nGroup] = Max16(pLeaves);
#endif
}

// The first slot whose block has a run of k free nodes, or -1: the first group whose maximum
// allows k, then the first slot in it.
KORVI_INLINE int TreeFirstFit(int k) {
  int nGroups = GroupSlots(Pool.nSlotCap);
  for (int h = 0; h < nGroups; h += kGroup) {
    uint32_t mask = AtLeast16(Pool.aGroupMax + h, k);
    if (!mask) continue;
    int nGroup = h + __builtin_ctz(mask);
    return nGroup * kGroup + __builtin_ctz(AtLeast16(Pool.aLeaf + nGroup * kGroup, k));
  }
  return -1;
}


// Records a changed LongestFree of a standard block in the index.
KORVI_INLINE void NoteLongest(MemBlock* b, int32_t nLongest) {
  if (b->LongestFree == nLongest) return;
  b->LongestFree = nLongest;
  if (b->iSlot >= 0) TreeSet(b->iSlot, nLongest);
}


// Index of the first entry of aByAddr whose pData is above p.
KORVI_INLINE int AddrUpperBound(const void* p) {
  if (!Pool.nByAddr) return 0;
  const char* const* pBase = Pool.aAddrKey;
  const char* q = static_cast<const char*>(p);
  // Binary search without branches: the range [pBase, pBase + n) halves each step, moving to
  // its upper half when the key in the middle is not above q; pBase[0] <= q unless q is below
  // every key.
  for (int n = Pool.nByAddr; n > 1;) {
    int nHalf = n / 2;
    pBase = pBase[nHalf] <= q ? pBase + nHalf : pBase;
    n -= nHalf;
  }
  return int(pBase - Pool.aAddrKey) + (pBase[0] <= q);
}

// Writes c into the MAT for nodes i .. i + n - 1. Up to 8 characters without a branch on n
// (the sizes of successive calls vary at random): the 8 MAT characters from i are read,
// the first n replaced and all 8 written back (the terminating NUL is the last that may be
// rewritten, unchanged).
KORVI_INLINE void FillMat(MemBlock* b, int i, char c, int n) {
  char* p = b->MAT + i;
  if (n > 8 || i + 8 > kNodesPerBlock + 1) {
    memset(p, c, size_t(n));
    return;
  }
  uint64_t v;
  memcpy(&v, p, 8);
  uint64_t nMask = kAllOnes >> (64 - 8 * n);
  v = (v & ~nMask) | (0x0101010101010101ull * uint8_t(c) & nMask);
  memcpy(p, &v, 8);
}

// Marks the free nodes i .. i + k - 1 of a standard block used (MAT, bitmap, count, run
// lengths). Using nodes only shortens runs, so the search hints stay true.
KORVI_INLINE void MarkUsed(MemBlock* b, int i, int k, int s = -1) {
  if (s < 0) s = PrevUsed(b, i) + 1;  // the run that holds them: [s, e)
  int e = NextUsed(b, i);
  // The rest of the run now starts after them; when that is in the word where the run started,
  // its (shorter) lengths are marked there already.
  if (s != i || (i + k) >> 6 != i >> 6) NoteRunStart(b, i + k, e - i - k);
  FillMat(b, i, kUsedMark, k);
  SetBits(b, i, k, false);
  // The word where the run started may have marked it longer than anything it now holds.
  b->RunStarts[s >> 6] &= WordMarks(b, s >> 6);
  b->FreeNodeCount -= k;
  RunRemove(b, e - s);
  if (i > s) RunAdd(b, i - s);  // a new allocation starts its run: nothing left before it
  RunAdd(b, e - i - k);
  if (e - s == b->LongestFree && !b->RunCount[e - s]) NoteLongest(b, RunTop(b, e - s - 1));
}

// Marks the used nodes i .. i + n - 1 free; the run they join starts at s and is m long, so
// runs of up to m nodes may now start at s.
KORVI_INLINE void MarkFree(MemBlock* b, int i, int n) {
  FillMat(b, i, kFreeMark, n);
  int s = PrevUsed(b, i) + 1, e = NextUsed(b, i + n);
  SetBits(b, i, n, true);
  b->FreeNodeCount += n;
  RunRemove(b, i - s);
  RunRemove(b, e - i - n);
  int m = e - s;
  RunAdd(b, m);
  NoteRunStart(b, s, m);
  if (m > b->LongestFree) NoteLongest(b, m);
}

// The first run of k free nodes in a standard block whose LongestFree is k or more. Such a
// run exists; should the search still miss it, LongestFree comes down so that the caller
// moves on (-1).
KORVI_INLINE int TakeRun(MemBlock* b, int k) {
  int i = FindRun(b, k, b);
  if (i < 0) NoteLongest(b, k - 1);
  return i;
}

// Node table entry i, and its start bit.
KORVI_INLINE void SetEntry(MemBlock* b, int i, int k) {
  b->Nodes[i].NodeCount = uint16_t(k);
  b->Nodes[i].pAddr = k ? b->pData + i * kNodeSize : nullptr;
  uint64_t nBit = uint64_t(1) << (i & 63);
  b->StartBits[i >> 6] = k ? b->StartBits[i >> 6] | nBit : b->StartBits[i >> 6] & ~nBit;
}

// 1 when an allocation starts at node i.
KORVI_INLINE bool IsStart(const MemBlock* b, int i) { return (b->StartBits[i >> 6] >> (i & 63)) & 1; }

// Length in nodes of the allocation that starts at node i: the allocations tile the used
// nodes, so it ends at the next start or free node. Read from the two bitmaps rather than
// the node table, whose entries are spread over 32 KiB per block.
KORVI_INLINE int StartLength(const MemBlock* b, int i) {
  int pos = i + 1;
  int w = pos >> 6;
  uint64_t x = (b->StartBits[w] | b->FreeBits[w]) & (kAllOnes << (pos & 63));
  while (!x) {  // StartBits[kFreeWords] ends every walk
    w++;
    x = b->StartBits[w] | b->FreeBits[w];
  }
  return w * 64 + __builtin_ctzll(x) - i;
}

// ---------------------------------------------------------------------------
// Address cache
// ---------------------------------------------------------------------------

// The cache entry for the block that holds p, or null.
KORVI_INLINE const ChunkEntry* FindEntry(const void* p) {
  const char* q = static_cast<const char*>(p);
  ChunkEntry& e = Pool.aChunk[ChunkSlot(p)];
  if (e.pBlock && e.pData <= q && q <= e.pEnd) return &e;
  if (!p) return nullptr;
  int pos = AddrUpperBound(p) - 1;
  if (pos < 0) return nullptr;
  MemBlock* b = Pool.aByAddr[pos];
  if (q > b->pData + b->BlockSize) return nullptr;
  e = ChunkEntry{b, b->pData, b->pData + b->BlockSize};
  return &e;
}

}  // namespace mempool

#endif  // KORVI_BASE_MEMMGR_PRIVATE_H
