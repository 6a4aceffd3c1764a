// MemMgr.cpp - the memory pool: blocks of 2048 nodes of 32 bytes, first fit over the block
// list, the lowest-numbered run of free nodes inside a block, dedicated blocks above 64 KiB.
// This file holds the interface (block steps, GetMem, PutMem, AdjustMem), saved strings and
// pool texts, and the validators. Placement is defined by the MAT text (the first run of k
// blanks in the first block that has one); the summaries that find it without reading texts
// are the search machinery of MemMgr_private.h and MemMgr_search.cpp. The result is exactly
// the node the text search gives; MemFindRunText is that search, and MemBlockIsValid and
// MemPoolIsValid check every summary against the MAT (tests use both).
#include "base/MemMgr.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/MemMgr_private.h"
#include "base/utils.h"

#if defined(__SANITIZE_ADDRESS__)
#define KORVI_POOL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVI_POOL_ASAN 1
#endif
#endif
#ifdef KORVI_POOL_ASAN
#include <sanitizer/asan_interface.h>
#endif

MemBlock* pMemB = nullptr;

namespace mempool {
PoolState Pool;
}  // namespace mempool

using namespace mempool;

namespace {

constexpr int64_t kMaxBlockBytes = int64_t(0x7fffffff) / kDedicatedGranule * kDedicatedGranule;

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

// Under AddressSanitizer the pool tells it which of its bytes are handed out: free nodes (and
// the unused end of a dedicated block) are poisoned, so a read or write into them, or into a
// node given back, is reported like one into freed heap memory. Live allocations are open to
// the end of their last node, which the pool's callers may use. Without the sanitizer these
// do nothing.
inline void PoisonArea(const void* p, size_t n) {
#ifdef KORVI_POOL_ASAN
  ASAN_POISON_MEMORY_REGION(p, n);
#else
  (void)p, (void)n;
#endif
}

inline void OpenArea(const void* p, size_t n) {
#ifdef KORVI_POOL_ASAN
  ASAN_UNPOISON_MEMORY_REGION(p, n);
#else
  (void)p, (void)n;
#endif
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
  if (Pool.fdZero == -1) {
    Pool.fdZero = open(Pool.pZeroPath, O_RDWR | O_CLOEXEC);
    if (Pool.fdZero == -1) {
      // No device: the heap serves (not cleared; every user clears what it hands out).
      void* p = malloc(nBytes);
      if (p && pflHeap) *pflHeap = 1;
      return p;
    }
  }
  void* p = mmap(nullptr, nBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE, Pool.fdZero, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void PushBlock(MemBlock* b) {
  b->pNext = nullptr;
  b->pPrev = Pool.pTail;
  if (Pool.pTail)
    Pool.pTail->pNext = b;
  else
    pMemB = b;
  Pool.pTail = b;
  // Indexes (room was reserved by GetNewBlock).
  if (b->BlockSize == kBlockSize) {
    b->iSlot = Pool.nSlot++;
    Pool.aSlot[b->iSlot] = b;
    TreeSet(b->iSlot, b->LongestFree);
  } else {
    b->iSlot = -1;
  }
  int pos = AddrUpperBound(b->pData);
  memmove(Pool.aByAddr + pos + 1, Pool.aByAddr + pos, sizeof(MemBlock*) * (Pool.nByAddr - pos));
  memmove(Pool.aAddrKey + pos + 1, Pool.aAddrKey + pos, sizeof(char*) * (Pool.nByAddr - pos));
  Pool.aByAddr[pos] = b;
  Pool.aAddrKey[pos] = b->pData;
  Pool.nByAddr++;
}

void PopBlock(MemBlock* b) {
  if (b->pPrev)
    b->pPrev->pNext = b->pNext;
  else
    pMemB = b->pNext;
  if (b->pNext)
    b->pNext->pPrev = b->pPrev;
  else
    Pool.pTail = b->pPrev;
  if (b->iSlot >= 0) {
    Pool.aSlot[b->iSlot] = nullptr;
    TreeSet(b->iSlot, 0);
    b->iSlot = -1;
  }
  // Forget the block in the address cache.
  uintptr_t nFirst = uintptr_t(b->pData) >> 16, nLast = (uintptr_t(b->pData) + b->BlockSize) >> 16;
  for (uintptr_t c = nFirst; c <= nLast && c - nFirst < uintptr_t(kChunkSlots); c++)
    if (Pool.aChunk[c & (kChunkSlots - 1)].pBlock == b) Pool.aChunk[c & (kChunkSlots - 1)] = ChunkEntry{};
  int pos = AddrUpperBound(b->pData) - 1;
  if (pos >= 0 && Pool.aByAddr[pos] == b) {
    memmove(Pool.aByAddr + pos, Pool.aByAddr + pos + 1, sizeof(MemBlock*) * (Pool.nByAddr - pos - 1));
    memmove(Pool.aAddrKey + pos, Pool.aAddrKey + pos + 1, sizeof(char*) * (Pool.nByAddr - pos - 1));
    Pool.nByAddr--;
  }
}

void FreeBlock(MemBlock* b) {
  PopBlock(b);
  OpenArea(b->pData, b->nDataBytes);  // whatever is mapped there next starts open
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
  PoisonArea(b->pData, size_t(size));
  PushBlock(b);
  return b;
}


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
    OpenArea(b->pData, size_t(size));
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
    b = Pool.aSlot[slot];
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
  OpenArea(p, size_t(k) * kNodeSize);
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
  int k = i < kNodesPerBlock && nOff % kNodeSize == 0 && IsStart(b, i) ? StartLength(b, i) : 0;
  int flFreed = 0;
  if (k) {
    SetEntry(b, i, 0);
    MarkFree(b, i, k);
    PoisonArea(pEntry->pData + size_t(i) * kNodeSize, size_t(k) * kNodeSize);
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
  int64_t size = RoundSize(n);

  if (size > kDedicatedThreshold || flDedicated) {
    if (b->BlockSize < size) {
      if (size > kMaxBlockBytes) {
        errno = ENOMEM;
        ReportNoMemory();
        return nullptr;
      }
      void* q = GetMem(int(size));
      if (!q) return nullptr;
      // Copy what is in use; the rest of a heap-backed data area was never cleared.
      memcpy(q, p, flDedicated ? size_t(b->UsedBytes) : size_t(StartLength(b, i)) * kNodeSize);
      PutMem(p);
      return q;
    }
    if (b->UsedBytes > size) {
      memset(b->pData + size, 0, size_t(b->UsedBytes - size));
      PoisonArea(b->pData + size, size_t(b->UsedBytes - size));
    } else if (b->UsedBytes < size) {
      OpenArea(b->pData + b->UsedBytes, size_t(size - b->UsedBytes));
      memset(b->pData + b->UsedBytes, 0, size_t(size - b->UsedBytes));
    }
    b->UsedBytes = int32_t(size);
    return p;
  }

  int nOld = StartLength(b, i);  // nodes held now
  int k = int(size / kNodeSize);  // nodes wanted
  if (k == nOld) return p;
  if (k < nOld) {
    memset(b->pData + (i + k) * kNodeSize, 0, size_t(nOld - k) * kNodeSize);
    PoisonArea(b->pData + (i + k) * kNodeSize, size_t(nOld - k) * kNodeSize);
    SetEntry(b, i, k);
    MarkFree(b, i + k, nOld - k);
    return p;
  }
  int nMore = k - nOld;  // nodes to add
  if (RangeFree(b, i + nOld, nMore)) {
    MarkUsed(b, i + nOld, nMore, i + nOld);  // the free run starts right after the allocation
    OpenArea(b->pData + (i + nOld) * kNodeSize, size_t(nMore) * kNodeSize);
    memset(b->pData + (i + nOld) * kNodeSize, 0, size_t(nMore) * kNodeSize);
    SetEntry(b, i, k);
    return p;
  }
  if (i >= nMore && RangeFree(b, i - nMore, nMore)) {
    MarkUsed(b, i - nMore, nMore);
    char* q = b->pData + (i - nMore) * kNodeSize;
    OpenArea(q, size_t(nMore) * kNodeSize);
    memmove(q, p, size_t(nOld) * kNodeSize);
    memset(q + size_t(nOld) * kNodeSize, 0, size_t(nMore) * kNodeSize);
    SetEntry(b, i, 0);
    SetEntry(b, i - nMore, k);
    return q;
  }
  void* q = GetMem(int(size));
  if (!q) return nullptr;
  memcpy(q, p, size_t(nOld) * kNodeSize);
  PutMem(p);
  return q;
}

// ===========================================================================
// Saved strings and pool texts
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

int PoolTextAppend(PoolText* t, const char* s, int n) {
  if (t->flFailed) return 0;
  if (n < 0) n = 0;
  if (t->len + n + 1 > t->cap) {
    int cap = t->cap ? t->cap : 256;
    while (cap < t->len + n + 1) cap *= 2;
    char* p = static_cast<char*>(AdjustMem(t->p, cap));
    if (!p) {
      t->flFailed = 1;
      return 0;
    }
    t->p = p;
    t->cap = cap;
  }
  if (n) memcpy(t->p + t->len, s, size_t(n));
  t->len += n;
  t->p[t->len] = 0;
  return 1;
}

int PoolTextAppendStr(PoolText* t, const char* s) {
  return PoolTextAppend(t, s, s ? int(strlen(s)) : 0);
}

char* PoolTextTake(PoolText* t) {
  if (!t->p && !t->flFailed) PoolTextAppend(t, "", 0);
  if (t->flFailed) {
    PutMem(t->p);
    t->p = nullptr;
  }
  return t->p;
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
      if (b->iSlot <= lastSlot || b->iSlot >= Pool.nSlot || Pool.aSlot[b->iSlot] != b) return 0;
      if (Pool.aLeaf[b->iSlot] != b->LongestFree) return 0;
      lastSlot = b->iSlot;
    } else if (b->iSlot != -1) {
      return 0;
    }
  }
  if (pPrev != Pool.pTail || nBlocks != Pool.nByAddr) return 0;
  for (int i = 0; i < Pool.nByAddr; i++) {
    if (Pool.aAddrKey[i] != Pool.aByAddr[i]->pData) return 0;
    if (i && Pool.aAddrKey[i - 1] >= Pool.aAddrKey[i]) return 0;
  }
  for (int c = 0; c < kChunkSlots; c++) {  // the address cache names only live blocks
    const ChunkEntry& e = Pool.aChunk[c];
    if (!e.pBlock) continue;
    bool flLive = false;  // by address only: a stale entry must not be followed
    for (int i = 0; i < Pool.nByAddr && !flLive; i++) flLive = Pool.aByAddr[i] == e.pBlock;
    if (!flLive || e.pData != e.pBlock->pData || e.pEnd != e.pData + e.pBlock->BlockSize) return 0;
  }
  int nSlotted = 0;
  for (int i = 0; i < Pool.nSlotCap; i++) {
    bool flUsed = i < Pool.nSlot && Pool.aSlot[i];
    nSlotted += flUsed;
    if (!flUsed && Pool.aLeaf[i] != 0) return 0;
  }
  for (int j = 0; j < GroupSlots(Pool.nSlotCap); j++) {
    int16_t nMax = 0;
    for (int i = j * kGroup; i < (j + 1) * kGroup && i < Pool.nSlotCap; i++)
      nMax = Pool.aLeaf[i] > nMax ? Pool.aLeaf[i] : nMax;
    if (Pool.aGroupMax[j] != nMax) return 0;
  }
  return nSlotted == nStandard;
}

void MemSetZeroDevice(const char* path) {
  if (Pool.fdZero != -1) close(Pool.fdZero);
  Pool.fdZero = -1;
  Pool.pZeroPath = path ? path : "/dev/zero";
}
