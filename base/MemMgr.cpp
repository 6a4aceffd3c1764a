// MemMgr.cpp - the memory pool: blocks of 2048 nodes of 32 bytes, first fit over the block
// list, the lowest-numbered run of free nodes inside a block, dedicated blocks above 64 KiB.
//
// Placement is defined by the MAT text (the first run of k blanks in the first block that has
// one), but searching texts block by block grows with the number of live allocations. So,
// beside the MAT and kept up to date on every change:
//   per block  a bitmap of free nodes; the number of free runs of each length, hence the
//              exact longest run (LongestFree); and per 64-node word the run lengths (1 to
//              15, and 16 or more) that may start in it, set when such a run appears and
//              cleared when a search finds none there, so that a search for k tests only
//              the words that can hold its answer, lowest first;
//   per pool   LongestFree of the standard blocks in list order with its maximum per group
//              of 16 (the first group, then the first block in it, whose value is >= k is
//              the first-fit block), and the blocks sorted by data address with a small
//              cache in front (FindBlock).
// The result is exactly the node the text search gives; MemFindRunText is that search, and
// MemBlockIsValid/MemPoolIsValid check every summary against the MAT (tests use both).
#include "base/MemMgr.h"

#include <fcntl.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/utils.h"

MemBlock* pMemB = nullptr;

namespace {

#define KORVI_INLINE __attribute__((always_inline)) inline

constexpr uint64_t kAllOnes = ~uint64_t(0);
constexpr int kChunkSlots = 4096;
constexpr int64_t kMaxBlockBytes = int64_t(0x7fffffff) / kDedicatedGranule * kDedicatedGranule;

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
PoolState g;

inline size_t ChunkSlot(const void* p) { return (uintptr_t(p) >> 16) & (kChunkSlots - 1); }

// Prints the exhaustion report of the block steps, keeping errno for a later SysError.
void ReportNoMemory() {
  int nErr = errno ? errno : ENOMEM;
  fprintf(stderr, "ERROR: %s\n", "Unable to allocate memory");
  errno = nErr;
}

uint64_t MapBytes(uint64_t size) {
  uint64_t nPage = uint64_t(getpagesize());
  return (size / nPage + 1) * nPage;
}

void ReleaseArea(void* p, uint64_t nBytes, char flHeap) {
  if (!p) return;
  if (flHeap)
    free(p);
  else
    munmap(p, nBytes);
}

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

// The RunStarts marks that word w deserves now: the lengths up to that of its longest run
// of free nodes that starts in it (a run at its bottom that comes from the word below does
// not; one at its top may go on into the next word); 16 or more mark all. Without branches.
KORVI_INLINE uint16_t WordMarks(const MemBlock* b, int w) {
  uint64_t x = b->FreeBits[w];
  uint64_t nCarry = w ? b->FreeBits[w - 1] >> 63 : 0;
  uint64_t nNotX = ~x;
  x &= ~(((nNotX & (0 - nNotX)) - 1) & (0 - nCarry));  // drop a run that started below
  int nTop = __builtin_clzll(~x | 1);
  int nTopRun = nTop ? nTop + __builtin_ctzll(~b->FreeBits[w + 1] | (uint64_t(1) << 63)) : 0;
  // Longest run inside the word, in halving steps: cur holds the starts of runs of n.
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
      // Runs inside the word: bit p of x means "nodes p .. p + k - 1 free"; runs of 2, 4, 8 as
      // k allows, then k, without branches for the usual sizes.
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

// ---------------------------------------------------------------------------
// Run lengths of a block: how many free runs of each length, and the longest
// ---------------------------------------------------------------------------

// Without branches; length 0 (no run) is counted too, in an entry nothing reads.
KORVI_INLINE void RunAdd(MemBlock* b, int n) {
  b->RunCountBits[n >> 6] |= uint64_t(b->RunCount[n]++ == 0) << (n & 63);
}

KORVI_INLINE void RunRemove(MemBlock* b, int n) {
  b->RunCountBits[n >> 6] &= ~(uint64_t(--b->RunCount[n] == 0) << (n & 63));
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
  int16_t* pLeaves = g.aLeaf + nGroup * kGroup;
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
  __m128i* q = reinterpret_cast<__m128i*>(g.aGroupMax + nGroup / 8 * 8);
  __m128i vIsG = _mm_cmpeq_epi16(_mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7), _mm_set1_epi16(short(nGroup % 8)));
  __m128i vG = _mm_loadu_si128(q);
  _mm_storeu_si128(q, _mm_or_si128(_mm_andnot_si128(vIsG, vG), _mm_and_si128(vIsG, vMax)));
#else
  pLeaves[slot % kGroup] = int16_t(v);
  g.aGroupMax[nGroup] = Max16(pLeaves);
#endif
}

// The first slot whose block has a run of k free nodes, or -1: the first group whose maximum
// allows k, then the first slot in it.
KORVI_INLINE int TreeFirstFit(int k) {
  int nGroups = GroupSlots(g.nSlotCap);
  for (int h = 0; h < nGroups; h += kGroup) {
    uint32_t mask = AtLeast16(g.aGroupMax + h, k);
    if (!mask) continue;
    int nGroup = h + __builtin_ctz(mask);
    return nGroup * kGroup + __builtin_ctz(AtLeast16(g.aLeaf + nGroup * kGroup, k));
  }
  return -1;
}

void TreeRebuild() {
  for (int i = 0; i < g.nSlotCap; i++) {
    MemBlock* b = i < g.nSlot ? g.aSlot[i] : nullptr;
    g.aLeaf[i] = int16_t(b ? b->LongestFree : 0);
  }
  int nGroups = GroupSlots(g.nSlotCap);
  for (int j = 0; j < nGroups; j++)
    g.aGroupMax[j] = j * kGroup < g.nSlotCap ? Max16(g.aLeaf + j * kGroup) : 0;
}

// Records a changed LongestFree of a standard block in the index.
KORVI_INLINE void NoteLongest(MemBlock* b, int32_t nLongest) {
  if (b->LongestFree == nLongest) return;
  b->LongestFree = nLongest;
  if (b->iSlot >= 0) TreeSet(b->iSlot, nLongest);
}

// Makes room for one more slot and one more address entry; false when memory is exhausted.
bool IndexReserve() {
  if (g.nSlot == g.nSlotCap) {
    // Squeeze out the holes first; grow when the index is more than half full.
    int n = 0;
    for (int i = 0; i < g.nSlot; i++) {
      if (!g.aSlot[i]) continue;
      g.aSlot[n] = g.aSlot[i];
      g.aSlot[n]->iSlot = n;
      n++;
    }
    g.nSlot = n;
    if (g.nSlotCap == 0 || n * 2 > g.nSlotCap) {
      int nCap = g.nSlotCap ? g.nSlotCap * 2 : kGroup;
      MemBlock** aSlot = static_cast<MemBlock**>(realloc(g.aSlot, sizeof(MemBlock*) * nCap));
      int16_t* aLeaf = aSlot ? static_cast<int16_t*>(malloc(sizeof(int16_t) * nCap)) : nullptr;
      int16_t* aGroupMax =
          aLeaf ? static_cast<int16_t*>(malloc(sizeof(int16_t) * GroupSlots(nCap))) : nullptr;
      if (aSlot) g.aSlot = aSlot;
      if (aGroupMax) {
        free(g.aLeaf);
        free(g.aGroupMax);
        g.aLeaf = aLeaf;
        g.aGroupMax = aGroupMax;
        g.nSlotCap = nCap;
      } else {
        free(aLeaf);
      }
    }
    if (g.nSlotCap) TreeRebuild();  // slots were renumbered
    if (g.nSlot == g.nSlotCap) return false;
  }
  if (g.nByAddr == g.nByAddrCap) {
    int nCap = g.nByAddrCap ? g.nByAddrCap * 2 : 64;
    MemBlock** a = static_cast<MemBlock**>(realloc(g.aByAddr, sizeof(MemBlock*) * nCap));
    if (!a) return false;
    g.aByAddr = a;
    const char** aKey = static_cast<const char**>(realloc(g.aAddrKey, sizeof(char*) * nCap));
    if (!aKey) return false;
    g.aAddrKey = aKey;
    g.nByAddrCap = nCap;
  }
  return true;
}

// Index of the first entry of aByAddr whose pData is above p.
KORVI_INLINE int AddrUpperBound(const void* p) {
  if (!g.nByAddr) return 0;
  const char* const* pBase = g.aAddrKey;
  const char* q = static_cast<const char*>(p);
  for (int n = g.nByAddr; n > 1;) {  // without branches: pBase[0] <= q unless q is below all
    int nHalf = n / 2;
    pBase = pBase[nHalf] <= q ? pBase + nHalf : pBase;
    n -= nHalf;
  }
  return int(pBase - g.aAddrKey) + (pBase[0] <= q);
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

// Node of p when p starts a live allocation of standard block b, else -1.
int StartNode(const MemBlock* b, const void* p) {
  size_t nOff = size_t(static_cast<const char*>(p) - b->pData);
  if (nOff % kNodeSize || nOff >= size_t(kBlockSize)) return -1;
  int i = int(nOff / kNodeSize);
  return IsStart(b, i) ? i : -1;
}

// Rounded size of a request: (n + 1) up to a multiple of 32.
int64_t RoundSize(int64_t n) { return (n + 1 + kNodeSize - 1) / kNodeSize * kNodeSize; }

}  // namespace

// ===========================================================================
// Block steps
// ===========================================================================

void* MapBlock(uint64_t size, char* pflHeap) {
  uint64_t nBytes = MapBytes(size);
  if (pflHeap) *pflHeap = 0;
  if (g.fdZero == -1) {
    g.fdZero = open(g.pZeroPath, O_RDWR | O_CLOEXEC);
    if (g.fdZero == -1) {
      // No device: the heap serves (not cleared; every user clears what it hands out).
      void* p = malloc(nBytes);
      if (p && pflHeap) *pflHeap = 1;
      return p;
    }
  }
  void* p = mmap(nullptr, nBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE, g.fdZero, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void PushBlock(MemBlock* b) {
  b->pNext = nullptr;
  b->pPrev = g.pTail;
  if (g.pTail)
    g.pTail->pNext = b;
  else
    pMemB = b;
  g.pTail = b;
  // Indexes (room was reserved by GetNewBlock).
  if (b->BlockSize == kBlockSize) {
    b->iSlot = g.nSlot++;
    g.aSlot[b->iSlot] = b;
    TreeSet(b->iSlot, b->LongestFree);
  } else {
    b->iSlot = -1;
  }
  int pos = AddrUpperBound(b->pData);
  memmove(g.aByAddr + pos + 1, g.aByAddr + pos, sizeof(MemBlock*) * (g.nByAddr - pos));
  memmove(g.aAddrKey + pos + 1, g.aAddrKey + pos, sizeof(char*) * (g.nByAddr - pos));
  g.aByAddr[pos] = b;
  g.aAddrKey[pos] = b->pData;
  g.nByAddr++;
}

void PopBlock(MemBlock* b) {
  if (b->pPrev)
    b->pPrev->pNext = b->pNext;
  else
    pMemB = b->pNext;
  if (b->pNext)
    b->pNext->pPrev = b->pPrev;
  else
    g.pTail = b->pPrev;
  if (b->iSlot >= 0) {
    g.aSlot[b->iSlot] = nullptr;
    TreeSet(b->iSlot, 0);
    b->iSlot = -1;
  }
  // Forget the block in the address cache.
  uintptr_t nFirst = uintptr_t(b->pData) >> 16, nLast = (uintptr_t(b->pData) + b->BlockSize) >> 16;
  for (uintptr_t c = nFirst; c <= nLast && c - nFirst < uintptr_t(kChunkSlots); c++)
    if (g.aChunk[c & (kChunkSlots - 1)].pBlock == b) g.aChunk[c & (kChunkSlots - 1)] = ChunkEntry{};
  int pos = AddrUpperBound(b->pData) - 1;
  if (pos >= 0 && g.aByAddr[pos] == b) {
    memmove(g.aByAddr + pos, g.aByAddr + pos + 1, sizeof(MemBlock*) * (g.nByAddr - pos - 1));
    memmove(g.aAddrKey + pos, g.aAddrKey + pos + 1, sizeof(char*) * (g.nByAddr - pos - 1));
    g.nByAddr--;
  }
}

void FreeBlock(MemBlock* b) {
  PopBlock(b);
  ReleaseArea(b->pData, b->nDataBytes, b->flHeapData);
  ReleaseArea(b, b->nHeaderBytes, b->flHeapHeader);
}

MemBlock* GetNewBlock(int size) {
  if (size < kBlockSize) size = kBlockSize;
  if (!IndexReserve()) {
    errno = ENOMEM;
    ReportNoMemory();
    return nullptr;
  }
  char flHeapHeader = 0, flHeapData = 0;
  void* pHeader = MapBlock(sizeof(MemBlock), &flHeapHeader);
  void* pData = pHeader ? MapBlock(uint64_t(size), &flHeapData) : nullptr;
  if (!pHeader || !pData) {
    int nErr = errno;
    ReleaseArea(pHeader, MapBytes(sizeof(MemBlock)), flHeapHeader);
    errno = nErr;
    ReportNoMemory();
    return nullptr;
  }
  MemBlock* b = static_cast<MemBlock*>(pHeader);
  memset(b, 0, sizeof(MemBlock));
  memset(b->MAT, kFreeMark, kNodesPerBlock);
  b->MAT[kNodesPerBlock] = '\0';
  for (int w = 0; w < kFreeWords; w++) b->FreeBits[w] = kAllOnes;
  b->StartBits[kFreeWords] = 1;  // the end of the block ends every allocation
  b->RunStarts[0] = 0xffff;  // one run of 2048 from node 0
  RunAdd(b, kNodesPerBlock);
  b->LongestFree = kNodesPerBlock;
  b->BlockSize = size;
  b->pData = static_cast<char*>(pData);
  b->FreeNodeCount = kNodesPerBlock;
  b->flHeapHeader = flHeapHeader;
  b->flHeapData = flHeapData;
  b->nHeaderBytes = MapBytes(sizeof(MemBlock));
  b->nDataBytes = MapBytes(uint64_t(size));
  PushBlock(b);
  return b;
}

namespace {
// The cache entry for the block that holds p, or null.
KORVI_INLINE const ChunkEntry* FindEntry(const void* p) {
  const char* q = static_cast<const char*>(p);
  ChunkEntry& e = g.aChunk[ChunkSlot(p)];
  if (e.pBlock && e.pData <= q && q <= e.pEnd) return &e;
  if (!p) return nullptr;
  int pos = AddrUpperBound(p) - 1;
  if (pos < 0) return nullptr;
  MemBlock* b = g.aByAddr[pos];
  if (q > b->pData + b->BlockSize) return nullptr;
  e = ChunkEntry{b, b->pData, b->pData + b->BlockSize};
  return &e;
}
}  // namespace

MemBlock* FindBlock(const void* p) {
  const ChunkEntry* e = FindEntry(p);
  return e ? e->pBlock : nullptr;
}

int TestMAT(const char* text, char ch, int count) {
  for (int i = 0; i < count; i++)
    if (text[i] != ch) return 0;
  return 1;
}

// ===========================================================================
// Searching a block
// ===========================================================================

int MemFindRun(const MemBlock* b, int k) {
  if (k <= 0) return 0;
  if (k > kNodesPerBlock || b->LongestFree < k) return -1;
  return FindRun(b, k, nullptr);
}

int MemFindRunText(const MemBlock* b, int k) {
  if (k <= 0) return 0;
  if (k > kNodesPerBlock) return -1;
  char aPattern[kNodesPerBlock + 1];
  memset(aPattern, kFreeMark, k);
  aPattern[k] = '\0';
  const char* p = strstr(b->MAT, aPattern);
  return p ? int(p - b->MAT) : -1;
}

// ===========================================================================
// Allocation
// ===========================================================================

void* GetMem(int n) {
  if (n <= 0) return nullptr;
  int64_t size = RoundSize(n);
  if (size > kDedicatedThreshold) {
    int64_t nBlock = (size + kDedicatedGranule - 1) / kDedicatedGranule * kDedicatedGranule;
    if (nBlock > kMaxBlockBytes) {
      errno = ENOMEM;
      ReportNoMemory();
      return nullptr;
    }
    MemBlock* b = GetNewBlock(int(nBlock));
    if (!b) return nullptr;
    memset(b->pData, 0, size_t(size));
    memset(b->MAT, kUsedMark, kNodesPerBlock);
    for (int w = 0; w < kFreeWords; w++) b->FreeBits[w] = 0;
    memset(b->RunStarts, 0, sizeof b->RunStarts);
    RunRemove(b, kNodesPerBlock);
    b->LongestFree = 0;
    b->FreeNodeCount = 0;
    b->UsedBytes = int32_t(size);
    return b->pData;
  }
  int k = int(size / kNodeSize);
  // First fit: the first block in list order whose longest free run is k or more.
  MemBlock* b = nullptr;
  int i = -1;
  for (int slot; i < 0 && (slot = TreeFirstFit(k)) >= 0;) {
    b = g.aSlot[slot];
    i = TakeRun(b, k);
  }
  if (i < 0) {
    b = GetNewBlock(kBlockSize);
    if (!b) return nullptr;
    i = TakeRun(b, k);
  }
  MarkUsed(b, i, k, i);  // a found run starts at i
  char* p = b->pData + i * kNodeSize;
  SetEntry(b, i, k);
  memset(p, 0, size_t(k) * kNodeSize);
  return p;
}

int PutMem(void* p) {
  const ChunkEntry* pEntry = FindEntry(p);
  if (!pEntry) return 0;
  MemBlock* b = pEntry->pBlock;
  if (pEntry->pEnd - pEntry->pData > kBlockSize) {  // dedicated
    FreeBlock(b);
    return 1;
  }
  // The node, from the cached bounds; its length from the bitmaps.
  size_t nOff = size_t(static_cast<const char*>(p) - pEntry->pData);
  int i = int(nOff / kNodeSize);
  int c = i < kNodesPerBlock && nOff % kNodeSize == 0 && IsStart(b, i) ? StartLength(b, i) : 0;
  int flFreed = 0;
  if (c) {
    SetEntry(b, i, 0);
    MarkFree(b, i, c);
    flFreed = 1;
  }
  if (b->FreeNodeCount == kNodesPerBlock) FreeBlock(b);
  return flFreed;
}

void* AdjustMem(void* p, int n) {
  if (n <= 0) {
    if (p) PutMem(p);
    return nullptr;
  }
  MemBlock* b = FindBlock(p);
  if (!b) return GetMem(n);
  bool flDedicated = b->BlockSize > kBlockSize;
  // Only the start of a live allocation can be resized; anything else is unknown.
  int i = flDedicated ? 0 : StartNode(b, p);
  if (flDedicated ? p != b->pData : i < 0) return GetMem(n);
  int64_t a = RoundSize(n);

  if (a > kDedicatedThreshold || flDedicated) {
    if (b->BlockSize < a) {
      if (a > kMaxBlockBytes) {
        errno = ENOMEM;
        ReportNoMemory();
        return nullptr;
      }
      void* q = GetMem(int(a));
      if (!q) return nullptr;
      // Copy what is in use; the rest of a heap-backed data area was never cleared.
      memcpy(q, p, flDedicated ? size_t(b->UsedBytes) : size_t(StartLength(b, i)) * kNodeSize);
      PutMem(p);
      return q;
    }
    if (b->UsedBytes > a)
      memset(b->pData + a, 0, size_t(b->UsedBytes - a));
    else if (b->UsedBytes < a)
      memset(b->pData + b->UsedBytes, 0, size_t(a - b->UsedBytes));
    b->UsedBytes = int32_t(a);
    return p;
  }

  int c = StartLength(b, i);
  int k = int(a / kNodeSize);
  if (k == c) return p;
  if (k < c) {
    memset(b->pData + (i + k) * kNodeSize, 0, size_t(c - k) * kNodeSize);
    SetEntry(b, i, k);
    MarkFree(b, i + k, c - k);
    return p;
  }
  int d = k - c;
  if (RangeFree(b, i + c, d)) {
    MarkUsed(b, i + c, d, i + c);  // the free run starts right after the allocation
    memset(b->pData + (i + c) * kNodeSize, 0, size_t(d) * kNodeSize);
    SetEntry(b, i, k);
    return p;
  }
  if (i >= d && RangeFree(b, i - d, d)) {
    MarkUsed(b, i - d, d);
    char* q = b->pData + (i - d) * kNodeSize;
    memmove(q, p, size_t(c) * kNodeSize);
    memset(q + size_t(c) * kNodeSize, 0, size_t(d) * kNodeSize);
    SetEntry(b, i, 0);
    SetEntry(b, i - d, k);
    return q;
  }
  void* q = GetMem(int(a));
  if (!q) return nullptr;
  memcpy(q, p, size_t(c) * kNodeSize);
  PutMem(p);
  return q;
}

// ===========================================================================
// Saved strings
// ===========================================================================

char* SaveStrV(const char* fmt, va_list ap) {
  if (!fmt) fmt = "";
  size_t nFmt = strlen(fmt);
  if (nFmt / 4096 + 2 > 0x7fffffff / 4096) {
    errno = ENOMEM;
    SysError("Unable to allocate memory");
  }
  int nScratch = int((nFmt / 4096 + 2) * 4096);
  char* pScratch = static_cast<char*>(GetMem(nScratch));
  if (!pScratch) SysError("Unable to allocate memory");
  va_list ap2;
  va_copy(ap2, ap);
  int nLen = vsnprintf(pScratch, size_t(nScratch), fmt, ap);
  if (nLen < 0) {
    va_end(ap2);
    SysError("Unable to format text");
  }
  if (nLen == 0x7fffffff) {
    va_end(ap2);
    errno = ENOMEM;
    SysError("Unable to allocate memory");
  }
  char* pText = static_cast<char*>(GetMem(nLen + 1));
  if (!pText) {
    va_end(ap2);
    SysError("Unable to allocate memory");
  }
  if (nLen < nScratch)
    memcpy(pText, pScratch, size_t(nLen) + 1);
  else
    vsnprintf(pText, size_t(nLen) + 1, fmt, ap2);  // longer than the scratch area: never cut
  va_end(ap2);
  PutMem(pScratch);
  return pText;
}

char* SaveStr(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  char* p = SaveStrV(fmt, ap);
  va_end(ap);
  return p;
}

char* SaveStr_(const char* text) {
  if (!text) text = "";
  size_t nLen = strlen(text);
  if (nLen >= 0x7fffffff) {
    errno = ENOMEM;
    SysError("Unable to allocate memory");
  }
  char* p = static_cast<char*>(GetMem(int(nLen) + 1));
  if (!p) SysError("Unable to allocate memory");
  memcpy(p, text, nLen + 1);
  return p;
}

// ===========================================================================
// Diagnostics
// ===========================================================================

void DumpMem() {
  for (MemBlock* b = pMemB; b; b = b->pNext) {
    if (b->BlockSize > kBlockSize) {
      printf("\n============ Dedicated Block(%li) size(%li) FreeNodeCount(%i) <==(%li) (%li)==>",
             long(intptr_t(b->pData)), long(b->BlockSize), b->FreeNodeCount,
             long(intptr_t(b->pPrev)), long(intptr_t(b->pNext)));
      continue;
    }
    int nFree = 0, nNodes = 0;
    for (int i = 0; i < kNodesPerBlock; i++) {
      nFree += b->MAT[i] == kFreeMark;
      nNodes += b->Nodes[i].NodeCount;
    }
    printf("\n============ Block(%li) size(%li) Free(%i) Used(%i) FreeNodeCount(%i) SizeCnt(%i)"
           " <==(%li) (%li)==>\n\tBlock MAT:",
           long(intptr_t(b)), long(b->BlockSize), nFree, kNodesPerBlock - nFree, b->FreeNodeCount,
           kNodesPerBlock - nNodes, long(intptr_t(b->pPrev)), long(intptr_t(b->pNext)));
    for (int i = 0; i < kNodesPerBlock; i++) {
      if (i % 64 == 0) fputs("\n\t", stdout);
      putchar(b->MAT[i] == kFreeMark ? '_' : kUsedMark);
    }
    fputs("\n\n\tAllocated Nodes:\n", stdout);
    for (int i = 0; i < kNodesPerBlock; i++) {
      const MemNode& nd = b->Nodes[i];
      if (!nd.NodeCount || !nd.pAddr) continue;
      // The contents as a text, never read past the allocation's own nodes.
      printf("\tMAT index(%6i) Memory Addr(%6li) nodes(%5i) size(%5i) Memory(%.*s)\n", i,
             long(intptr_t(nd.pAddr)), nd.NodeCount, nd.NodeCount * kNodeSize,
             nd.NodeCount * kNodeSize, static_cast<const char*>(nd.pAddr));
    }
    putchar('\n');
  }
}

int MemBlockIsValid(const MemBlock* b) {
  if (!b || b->MAT[kNodesPerBlock] != '\0') return 0;
  int nFree = 0;
  for (int i = 0; i < kNodesPerBlock; i++) {
    bool flFree = b->MAT[i] == kFreeMark;
    if (!flFree && b->MAT[i] != kUsedMark) return 0;
    if (flFree != bool((b->FreeBits[i >> 6] >> (i & 63)) & 1)) return 0;
    nFree += flFree;
  }
  if (nFree != b->FreeNodeCount) return 0;
  if (b->BlockSize > kBlockSize) {
    if (b->BlockSize % kDedicatedGranule || b->FreeNodeCount || b->LongestFree) return 0;
    if (b->UsedBytes <= 0 || b->UsedBytes > b->BlockSize) return 0;  // may have shrunk in place
    for (int i = 0; i < kNodesPerBlock; i++)
      if (b->Nodes[i].NodeCount || b->Nodes[i].pAddr || IsStart(b, i)) return 0;
    return 1;
  }
  if (b->BlockSize != kBlockSize) return 0;
  // The allocations tile the used nodes exactly: one entry at the start of each.
  if (b->StartBits[kFreeWords] != 1) return 0;
  for (int i = 0; i < kNodesPerBlock; i++) {
    if (IsStart(b, i) != (b->Nodes[i].NodeCount != 0)) return 0;
    if (IsStart(b, i) && StartLength(b, i) != b->Nodes[i].NodeCount) return 0;
  }
  for (int i = 0; i < kNodesPerBlock;) {
    const MemNode& nd = b->Nodes[i];
    if (!nd.NodeCount) {
      if (nd.pAddr || b->MAT[i] != kFreeMark) return 0;
      i++;
      continue;
    }
    if (nd.pAddr != b->pData + i * kNodeSize || i + nd.NodeCount > kNodesPerBlock) return 0;
    if (!TestMAT(b->MAT + i, kUsedMark, nd.NodeCount)) return 0;
    for (int j = i + 1; j < i + nd.NodeCount; j++)
      if (b->Nodes[j].NodeCount || b->Nodes[j].pAddr) return 0;
    i += nd.NodeCount;
  }
  int nLongest = 0;
  for (int i = 0, nRun = 0; i < kNodesPerBlock; i++) {
    nRun = b->MAT[i] == kFreeMark ? nRun + 1 : 0;
    if (nRun > nLongest) nLongest = nRun;
  }
  if (nLongest != b->LongestFree) return 0;
  // Run lengths counted right.
  int aCount[kNodesPerBlock + 1] = {0};
  for (int i = 0, nRun = 0; i <= kNodesPerBlock; i++) {
    if (i < kNodesPerBlock && b->MAT[i] == kFreeMark) {
      nRun++;
    } else if (nRun) {
      aCount[nRun]++;
      nRun = 0;
    }
  }
  for (int n = 1; n <= kNodesPerBlock; n++) {
    if (aCount[n] != b->RunCount[n]) return 0;
    if (bool((b->RunCountBits[n >> 6] >> (n & 63)) & 1) != (aCount[n] != 0)) return 0;
  }
  if (b->FreeBits[kFreeWords]) return 0;
  // Every run start is marked in its word for the lengths it has.
  for (int i = 0; i < kNodesPerBlock; i++) {
    if (b->MAT[i] != kFreeMark || (i && b->MAT[i - 1] == kFreeMark)) continue;
    int n = 0;
    while (i + n < kNodesPerBlock && b->MAT[i + n] == kFreeMark) n++;
    uint16_t nNeed = uint16_t(n >= kRunMarks ? 0xffff : (1u << n) - 1);
    if ((b->RunStarts[i >> 6] & nNeed) != nNeed) return 0;
  }
  return 1;
}

int MemPoolIsValid() {
  int nBlocks = 0, nStandard = 0, lastSlot = -1;
  const MemBlock* pPrev = nullptr;
  for (const MemBlock* b = pMemB; b; pPrev = b, b = b->pNext) {
    if (b->pPrev != pPrev || !MemBlockIsValid(b)) return 0;
    if (FindBlock(b->pData) != b) return 0;
    nBlocks++;
    if (b->BlockSize == kBlockSize) {
      nStandard++;
      if (b->iSlot <= lastSlot || b->iSlot >= g.nSlot || g.aSlot[b->iSlot] != b) return 0;
      if (g.aLeaf[b->iSlot] != b->LongestFree) return 0;
      lastSlot = b->iSlot;
    } else if (b->iSlot != -1) {
      return 0;
    }
  }
  if (pPrev != g.pTail || nBlocks != g.nByAddr) return 0;
  for (int i = 0; i < g.nByAddr; i++) {
    if (g.aAddrKey[i] != g.aByAddr[i]->pData) return 0;
    if (i && g.aAddrKey[i - 1] >= g.aAddrKey[i]) return 0;
  }
  for (int c = 0; c < kChunkSlots; c++) {  // the address cache names only live blocks
    const ChunkEntry& e = g.aChunk[c];
    if (!e.pBlock) continue;
    bool flLive = false;  // by address only: a stale entry must not be followed
    for (int i = 0; i < g.nByAddr && !flLive; i++) flLive = g.aByAddr[i] == e.pBlock;
    if (!flLive || e.pData != e.pBlock->pData || e.pEnd != e.pData + e.pBlock->BlockSize) return 0;
  }
  int nSlotted = 0;
  for (int i = 0; i < g.nSlotCap; i++) {
    bool flUsed = i < g.nSlot && g.aSlot[i];
    nSlotted += flUsed;
    if (!flUsed && g.aLeaf[i] != 0) return 0;
  }
  for (int j = 0; j < GroupSlots(g.nSlotCap); j++) {
    int16_t nMax = 0;
    for (int i = j * kGroup; i < (j + 1) * kGroup && i < g.nSlotCap; i++)
      nMax = g.aLeaf[i] > nMax ? g.aLeaf[i] : nMax;
    if (g.aGroupMax[j] != nMax) return 0;
  }
  return nSlotted == nStandard;
}

void MemSetZeroDevice(const char* path) {
  if (g.fdZero != -1) close(g.fdZero);
  g.fdZero = -1;
  g.pZeroPath = path ? path : "/dev/zero";
}
