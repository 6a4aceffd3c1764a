// MemMgr.h - the process-wide memory pool and saved strings.
// The pool takes 64 KiB blocks from the system (mmap of /dev/zero, or the heap when the
// device cannot be opened) and cuts them into 32-byte nodes, tracked per block by the MAT,
// a text of "U" (used) and " " (free), one character per node. Small requests go first fit
// over the block list to the lowest-numbered run of free nodes; requests above 64 KiB get a
// dedicated block. Every allocation and every byte a resize adds reads as zero. A block goes
// back to the system as soon as its last allocation does. One thread; never compacted.
// GetMem/AdjustMem return null on exhaustion; SaveStr/SaveStr_ end the program instead.
#ifndef KORVI_BASE_MEMMGR_H
#define KORVI_BASE_MEMMGR_H

#include <cstdarg>
#include <cstdint>

// printf-style argument checking of the library's formatting functions.
#define KORVI_PRINTF(f, a) __attribute__((format(printf, f, a)))

constexpr int kNodeSize = 32;                            // unit of allocation in a standard block
constexpr int kNodesPerBlock = 2048;                     // MAT length, node table length
constexpr int kBlockSize = kNodeSize * kNodesPerBlock;   // 65536: data area of a standard block
constexpr int kDedicatedThreshold = 65536;               // rounded sizes above this get a block of their own
constexpr int kDedicatedGranule = 65536;                 // a dedicated data area is a multiple of this
constexpr char kUsedMark = 'U';                          // MAT character of a used node
constexpr char kFreeMark = ' ';                          // MAT character of a free node
constexpr int kFreeWords = kNodesPerBlock / 64;          // words of the free-node bitmap
constexpr int kRunMarks = 16;                            // run lengths marked per bitmap word (16: 16 or more)

// Node table entry: non-zero only at the first node of an allocation.
struct MemNode {
  uint16_t NodeCount;  // length of the allocation in nodes
  void* pAddr;         // pData + 32 * node
};

// Header of one block; lives outside the data area, in a mapping of its own.
struct MemBlock {
  MemBlock* pNext;                  // next block, null at the tail
  MemBlock* pPrev;                  // previous block, null at the head
  int32_t BlockSize;                // 65536, or a multiple of 65536 for a dedicated block
  int32_t UsedBytes;                // dedicated block only: rounded size in use
  int32_t FreeNodeCount;            // " " in the MAT; 0 in a dedicated block
  char* pData;                      // node i starts at pData + 32 * i
  MemNode Nodes[kNodesPerBlock];    // node table
  char MAT[kNodesPerBlock + 1];     // "U"/" " per node, NUL-terminated
  // Private bookkeeping of the pool's search (MemMgr_private.h), kept beside the MAT, which
  // stays the authority for what is shown; callers never read or write these fields. The
  // fields used on every call first, together.
  int32_t LongestFree;              // longest run of free nodes; 0 in a dedicated block
  int32_t iSlot;                    // position in the first-fit index, -1 when not indexed
  uint64_t FreeBits[kFreeWords + 1];  // bit i set <=> MAT[i] == ' ' ([32] stays 0)
  uint64_t StartBits[kFreeWords + 1]; // bit i set <=> Nodes[i].NodeCount != 0 ([32] is 1: the
                                      // end); an allocation runs to the next start or free node
  uint16_t RunStarts[kFreeWords];   // bit k - 1: a run of k (16: 16 or more) free nodes may start
                                    // in this word; never missing when there is one
  uint64_t RunCountBits[kNodesPerBlock / 64 + 1];  // bit n (n >= 1) set <=> RunCount[n] != 0
  uint16_t RunCount[kNodesPerBlock + 1];  // [n]: number of runs of exactly n free nodes ([0] scratch)
  char flHeapHeader;                // header came from the heap, not a mapping
  char flHeapData;                  // data area came from the heap, not a mapping
  uint64_t nHeaderBytes;            // bytes obtained for the header
  uint64_t nDataBytes;              // bytes obtained for the data area
};

// ===========================================================================
// Globals
// ===========================================================================

extern MemBlock* pMemB;  // head of the block list (standard and dedicated, in the order obtained)

// ===========================================================================
// Allocation
// ===========================================================================

// At least n + 1 zero-filled bytes ((n + 1) rounded up to 32); null for n <= 0 or on exhaustion
// (which also prints "ERROR: Unable to allocate memory" on standard error).
void* GetMem(int n);
// Returns the allocation that starts at p (any address inside a dedicated block frees that
// block). Null, unknown addresses and addresses inside an allocation free nothing. Result 0/1.
int PutMem(void* p);
// Resizes p to n bytes and returns its (possibly new) address; p null or unknown: GetMem(n);
// n 0: PutMem(p) and null. Added bytes read as zero. Null on exhaustion (p stays valid).
void* AdjustMem(void* p, int n);
// The block whose data area holds p (pData <= p <= pData + BlockSize), or null.
MemBlock* FindBlock(const void* p);

// ===========================================================================
// Saved strings (never null: exhaustion ends the program through SysError)
// ===========================================================================

// printf-style; a fresh allocation holding exactly the formatted text and its NUL. The text
// is formatted in an 8 KiB-or-larger scratch area; a longer result is formatted again into an
// allocation of its exact length, so a saved string is never cut.
char* SaveStr(const char* fmt, ...) KORVI_PRINTF(1, 2);
char* SaveStrV(const char* fmt, va_list ap) KORVI_PRINTF(1, 0);
// A fresh copy of text (length + 1 bytes); null text gives an empty string.
char* SaveStr_(const char* text);

// A text grown in pool memory, geometric growth through AdjustMem (so a long text costs
// linear time). Start from {}; p stays null until the first append (of any length, even
// nothing) and always holds a NUL after its len characters. Once the pool refuses to grow it,
// the text is failed: p keeps what was appended before, later appends are refused.
struct PoolText {
  char* p;
  int len;
  int cap;
  int flFailed;
};
// Appends n characters of s; 1, or 0 when the text is failed.
int PoolTextAppend(PoolText* t, const char* s, int n);
// Appends the text s (nothing for null).
int PoolTextAppendStr(PoolText* t, const char* s);
// The finished text, owned by the caller: "" when nothing was appended, null (and the text
// freed) when it failed or "" cannot be had.
char* PoolTextTake(PoolText* t);

// ===========================================================================
// Block steps and diagnostics
// ===========================================================================

// size bytes (plus up to one page) of zero-filled memory from /dev/zero; heap memory (not
// cleared) when the device cannot be opened, then *pflHeap is set. Null when the map fails.
void* MapBlock(uint64_t size, char* pflHeap);
// A new block of max(size, 65536) bytes appended at the tail, MAT all free; null with
// "ERROR: Unable to allocate memory" on standard error when memory is exhausted.
MemBlock* GetNewBlock(int size);
void PushBlock(MemBlock* pBlock);  // appends at the tail of the block list
void PopBlock(MemBlock* pBlock);   // unlinks from the block list
void FreeBlock(MemBlock* pBlock);  // unlinks and gives header and data back to the system
// 1 when the count characters from text all equal ch (1 for count 0), else 0; a NUL ends a run.
int TestMAT(const char* text, char ch, int count);
// Prints every block, its MAT and its allocations on standard output.
void DumpMem();

// For tests: 1 when the block's MAT, FreeNodeCount, node table, bitmap and longest run agree.
int MemBlockIsValid(const MemBlock* pBlock);
// For tests: 1 when every block is valid and the list and the search indexes agree.
int MemPoolIsValid();
// First node of the lowest run of k free nodes in the block, -1 if none: the fast search and
// the plain text search of the MAT, which must always agree.
int MemFindRun(const MemBlock* pBlock, int k);
int MemFindRunText(const MemBlock* pBlock, int k);
// For tests: the device that MapBlock opens (default "/dev/zero"); null restores the default.
// Changing it closes a device already open, so the next map opens the new path.
void MemSetZeroDevice(const char* path);

#endif  // KORVI_BASE_MEMMGR_H
