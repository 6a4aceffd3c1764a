// DbmT.cpp - the typed-record database: a whole database file held in memory (the image)
// behind a DbT handle. Reads refresh the image when the file changed (one status call) and
// find keys through a hash index over the image, which every change and reload invalidates;
// the image stays the single source of truth and the first record with a key in image order
// is the one found. Changes are made in the image and archived whole through the locked
// rewrite (Dbm_io.cpp); a store or removal holds the lock from its refresh to the rename.
// A damaged record (lengths past the image, key not fitting its record, key without NUL) is
// cut from the image with everything after it; nothing is ever read past the image.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "db/Dbm.h"
#include "db/Dbm_private.h"

unsigned char TLBuf[4] = {0x01, 0x02, 0x03, 0x04};

namespace {

// Process-wide state of this file: the work area of plain images, a scratch area for keys,
// and the rewrite held by the handle inside a store or removal.
struct DbTState {
  unsigned char* pWorkArea;        // kDbTWorkAreaSize bytes (pool), never freed
  unsigned char KeyBuf[65536];     // a key unscrambled for lists and prefix matching
  unsigned char CopyBuf[65536];    // DbmTCopyRecord's data between its read and its store
  DbRewrite Held;                  // the locked rewrite of the handle with flLocked set
  DbT* pHolder;
} s;

// One slot of the index (8 bytes, so that the index of 100,000 records stays within 1 MB):
// a record whose key's scrambled bytes hash to a value whose top 16 bits are Tag.
struct IndexSlot {
  uint32_t Off1;    // offset of the record + 1; 0 = empty slot
  uint16_t Tag;     // hash >> 16: most other keys are told apart without touching the image
  uint16_t KeyLen;  // K of the record
};
static_assert(sizeof(IndexSlot) == 8, "two slots per 16 bytes");

inline uint16_t TagOf(uint32_t h) { return uint16_t(h >> 16); }

// Slots for n keys: a power of two, filled to at most 80 %.
inline uint32_t SlotsFor(int n) {
  uint32_t nSlots = 16;
  while (uint64_t(nSlots) * 4 < uint64_t(n) * 5 + 4) nSlots *= 2;
  return nSlots;
}

int IsLittleEndian() {
  uint32_t v;
  memcpy(&v, TLBuf, 4);
  return v != 0x01020304;
}

unsigned char* WorkArea() {
  if (!s.pWorkArea) s.pWorkArea = static_cast<unsigned char*>(GetMem(kDbTWorkAreaSize));
  return s.pWorkArea;
}

inline int FirstRecord(const DbT* pDb) { return pDb->DbType == 1 ? 0 : kDbTHeaderSize; }

void InvalidateIndex(DbT* pDb) { pDb->pIndexImage = nullptr; }

inline int IndexValid(const DbT* pDb) {
  return pDb->pIndex && pDb->pIndexImage && pDb->pIndexImage == pDb->pImage &&
         pDb->IndexImageLen == pDb->ImageLen;
}

// ===========================================================================
// The file behind a handle
// ===========================================================================

// The file of the handle, formed once per pToolPath.
const char* FilePath(DbT* pDb) {
  if (pDb->szPath && pDb->pPathTool == pToolPath) return pDb->szPath;
  PutMem(pDb->szPath);
  pDb->szPath = nullptr;
  const char* pName = pDb->szName;
  char szPath[kDbPathMax];
  int n;
  if (pName[0] == '/') {
    n = snprintf(szPath, sizeof szPath, strchr(pName, '.') ? "%s" : "%s.kdb", pName);
  } else if (pName[0] == '.') {
    n = snprintf(szPath, sizeof szPath, "%s", pName);
  } else {
    const char* pTool = (pToolPath && *pToolPath) ? pToolPath : ".";
    n = snprintf(szPath, sizeof szPath, "%s/db/%s.kdb", pTool, pName);
  }
  if (n <= 0 || n >= int(sizeof szPath)) return nullptr;
  char* p = static_cast<char*>(GetMem(n + 1));
  if (!p) return nullptr;
  memcpy(p, szPath, size_t(n) + 1);
  pDb->szPath = p;
  pDb->pPathTool = pToolPath;
  return p;
}

int SameFile(const DbT* pDb, const struct stat& st) {
  return pDb->MTime == st.st_mtime && pDb->MTimeNs == int64_t(st.st_mtim.tv_nsec) &&
         pDb->FileIno == uint64_t(st.st_ino) && pDb->FileDev == uint64_t(st.st_dev) &&
         pDb->FileSize == int64_t(st.st_size);
}

void NoteFile(DbT* pDb, const struct stat& st) {
  pDb->MTime = st.st_mtime;
  pDb->MTimeNs = int64_t(st.st_mtim.tv_nsec);
  pDb->FileIno = uint64_t(st.st_ino);
  pDb->FileDev = uint64_t(st.st_dev);
  pDb->FileSize = int64_t(st.st_size);
}

void ForgetFile(DbT* pDb) {
  pDb->MTime = 0;
  pDb->MTimeNs = -1;
  pDb->FileIno = pDb->FileDev = 0;
  pDb->FileSize = -1;
}

// Reads the whole file. 1 with *ppBuf (pool) and *pLen; 0 when it has no content (size 0, or
// unreadable after 10 attempts 1 second apart); -1 when it does not exist (any more).
int ReadWholeFile(const char* path, unsigned char** ppBuf, int* pLen, struct stat* st) {
  for (int attempt = 0; attempt < 10; attempt++) {
    if (attempt) sleep(1);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      if (errno == ENOENT) return -1;
      continue;
    }
    if (fstat(fd, st) != 0) {
      close(fd);
      continue;
    }
    if (!S_ISREG(st->st_mode) || st->st_size == 0 || st->st_size > INT_MAX - 64) {
      // Empty: at once. Not a file, or too large for an image: waiting will not help.
      close(fd);
      return 0;
    }
    int nSize = int(st->st_size);
    unsigned char* p = static_cast<unsigned char*>(GetMem(nSize));
    if (!p) {
      close(fd);
      return 0;
    }
    int nGot = 0;
    while (nGot < nSize) {
      ssize_t n = read(fd, p + nGot, size_t(nSize - nGot));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      nGot += int(n);
    }
    close(fd);
    if (nGot == 0) {
      PutMem(p);
      continue;
    }
    *ppBuf = p;
    *pLen = nGot;
    return 1;
  }
  return 0;
}

// ===========================================================================
// Records of the image and the damage check
// ===========================================================================

// The record at off: its N, K and the offset of its scrambled key bytes. 0 (and the image
// cut at off) when the record is damaged; -1 at the end of the image.
int RecordAt(DbT* pDb, int off, unsigned* pN, unsigned* pK, int* pKeyOff) {
  const unsigned char* img = pDb->pImage;
  int nLen = pDb->ImageLen;
  if (off >= nLen) return -1;
  int flWhole = 0;
  unsigned n = 0, k = 0;
  if (off + 2 <= nLen) {
    n = DbGet16(img + off, pDb->flSwap);
    if (n >= 2 && int64_t(off) + 2 + n <= nLen) {
      const unsigned char* pBody = img + off + 2;
      if (pDb->DbType == 1) {
        // The plain body is one XOR block: p[0] is the XOR of all its bytes, and each
        // following plain byte is the previous one XOR the stored one.
        unsigned char p0 = 0;
        for (unsigned i = 0; i < n; i++) p0 ^= pBody[i];
        unsigned char kb[2] = {p0, (unsigned char)(p0 ^ pBody[0])};
        k = DbGet16(kb, pDb->flSwap);
        if (k >= 1 && k + 2 <= n) {
          unsigned char c = kb[1];
          for (unsigned i = 1; i < k + 1; i++) c ^= pBody[i];  // plain byte 2 + k - 1
          flWhole = c == 0;
        }
      } else {
        k = DbGet16(pBody, pDb->flSwap);
        flWhole = k >= 1 && k + 2 <= n && pBody[2 + k - 1] == 0;  // last byte is stored plain
      }
    }
  }
  if (!flWhole) {
    pDb->ImageLen = off;
    InvalidateIndex(pDb);
    return 0;
  }
  *pN = n;
  *pK = k;
  *pKeyOff = off + 4;
  return 1;
}

// Cuts the image at its first damaged record; returns the number of whole records.
int CheckImage(DbT* pDb) {
  int nRecords = 0;
  unsigned n, k;
  int keyOff;
  for (int off = FirstRecord(pDb); RecordAt(pDb, off, &n, &k, &keyOff) == 1; off += int(n) + 2) {
    nRecords++;
  }
  return nRecords;
}

// ===========================================================================
// The lookup index
// ===========================================================================

// Hash of a key as its scrambled bytes: t[i] = key[i] ^ key[i+1] for i < K - 1 (the last of
// them takes the NUL), which is what both formats store for every key byte but the last.
inline uint32_t HashStart(unsigned k) { return (2166136261u ^ k) * 16777619u; }
inline uint32_t HashByte(uint32_t h, unsigned char c) { return (h ^ c) * 16777619u; }

uint32_t HashStored(const unsigned char* pKey, unsigned k) {
  uint32_t h = HashStart(k);
  for (unsigned i = 0; i + 1 < k; i++) h = HashByte(h, pKey[i]);
  return h;
}

uint32_t HashQuery(const char* key, unsigned k) {
  const unsigned char* q = reinterpret_cast<const unsigned char*>(key);
  uint32_t h = HashStart(k);
  for (unsigned i = 0; i + 1 < k; i++) h = HashByte(h, (unsigned char)(q[i] ^ q[i + 1]));
  return h;
}

// Do the k - 1 stored key bytes at pKey belong to key (of k bytes with its NUL)? Both formats
// keep the key's NUL last (checked when the record was read), which makes this exact.
int StoredKeyIs(const unsigned char* pKey, const char* key, unsigned k) {
  const unsigned char* q = reinterpret_cast<const unsigned char*>(key);
  for (unsigned i = 0; i + 1 < k; i++) {
    if (pKey[i] != (unsigned char)(q[i] ^ q[i + 1])) return 0;
  }
  return 1;
}

// Builds the index over the current image; 0 when the pool cannot hold it.
int BuildIndex(DbT* pDb) {
  int nRecords = CheckImage(pDb);
  uint32_t nSlots = SlotsFor(nRecords);
  int64_t nBytes = int64_t(nSlots) * int64_t(sizeof(IndexSlot));
  if (nBytes > INT_MAX - 64) return 0;
  if (!pDb->pIndex || pDb->IndexMask != int32_t(nSlots - 1)) {
    PutMem(pDb->pIndex);
    pDb->pIndex = GetMem(int(nBytes));
    if (!pDb->pIndex) return 0;
  } else {
    memset(pDb->pIndex, 0, size_t(nBytes));
  }
  pDb->IndexMask = int32_t(nSlots - 1);
  IndexSlot* pSlots = static_cast<IndexSlot*>(pDb->pIndex);
  const unsigned char* img = pDb->pImage;
  unsigned n, k;
  int keyOff;
  pDb->flDupKeys = 0;
  for (int off = FirstRecord(pDb); RecordAt(pDb, off, &n, &k, &keyOff) == 1; off += int(n) + 2) {
    uint32_t h = HashStored(img + keyOff, k);
    uint32_t i = h & (nSlots - 1);
    for (;; i = (i + 1) & (nSlots - 1)) {
      IndexSlot* p = &pSlots[i];
      if (!p->Off1) {
        *p = {uint32_t(off) + 1, TagOf(h), uint16_t(k)};
        break;
      }
      if (p->Tag == TagOf(h) && p->KeyLen == k &&
          memcmp(img + p->Off1 - 1 + 4, img + keyOff, k - 1) == 0) {
        pDb->flDupKeys = 1;
        break;  // the same key earlier in the image wins
      }
    }
  }
  pDb->IndexCount = nRecords;
  pDb->pIndexImage = pDb->pImage;
  pDb->IndexImageLen = pDb->ImageLen;
  return 1;
}

// Adds the record just appended at off to a valid index (the key is new to the image); the
// index is dropped instead when it would grow too full.
void IndexAppend(DbT* pDb, int off, unsigned k) {
  uint32_t nSlots = uint32_t(pDb->IndexMask) + 1;
  if (SlotsFor(pDb->IndexCount + 1) > nSlots) {
    InvalidateIndex(pDb);
    return;
  }
  IndexSlot* pSlots = static_cast<IndexSlot*>(pDb->pIndex);
  uint32_t h = HashStored(pDb->pImage + off + 4, k);
  uint32_t i = h & (nSlots - 1);
  while (pSlots[i].Off1) i = (i + 1) & (nSlots - 1);
  pSlots[i] = {uint32_t(off) + 1, TagOf(h), uint16_t(k)};
  pDb->IndexCount++;
  pDb->pIndexImage = pDb->pImage;
  pDb->IndexImageLen = pDb->ImageLen;
}

constexpr uint32_t kTombstone = 0xFFFFFFFFu;  // Off1 of a removed key's slot (KeyLen 0)

// Takes out of a valid index the key whose record of size bytes at off was removed, and
// moves the offsets of the records after it down.
void IndexRemove(DbT* pDb, const char* key, int off, int size) {
  IndexSlot* pSlots = static_cast<IndexSlot*>(pDb->pIndex);
  uint32_t mask = uint32_t(pDb->IndexMask);
  unsigned k = unsigned(strlen(key)) + 1;
  for (uint32_t i = HashQuery(key, k) & mask; pSlots[i].Off1; i = (i + 1) & mask) {
    if (pSlots[i].Off1 == uint32_t(off) + 1) {
      pSlots[i] = {kTombstone, 0, 0};  // the probe chains through it stay whole
      break;
    }
  }
  const uint32_t uOff = uint32_t(off), uSize = uint32_t(size);
  for (uint32_t i = 0; i <= mask; i++) {  // branch-free: the offsets come in random order
    uint32_t o = pSlots[i].Off1;
    uint32_t flAfter = uint32_t(o != 0) & uint32_t(o != kTombstone) & uint32_t(o - 1 > uOff);
    pSlots[i].Off1 = o - (uSize & (0u - flAfter));
  }
}

// Offset of the first record with the key, -1 when there is none.
int LookUp(DbT* pDb, const char* key) {
  unsigned k = unsigned(strlen(key)) + 1;
  if (k > 0xFFFF) return -1;
  if (!IndexValid(pDb)) {
    if (!BuildIndex(pDb)) {
      // No room for an index: walk the image.
      unsigned n, kr;
      int keyOff;
      for (int off = FirstRecord(pDb); RecordAt(pDb, off, &n, &kr, &keyOff) == 1;
           off += int(n) + 2) {
        if (kr == k && StoredKeyIs(pDb->pImage + keyOff, key, k)) return off;
      }
      return -1;
    }
  }
  const IndexSlot* pSlots = static_cast<const IndexSlot*>(pDb->pIndex);
  uint32_t h = HashQuery(key, k);
  uint32_t mask = uint32_t(pDb->IndexMask);
  for (uint32_t i = h & mask;; i = (i + 1) & mask) {
    const IndexSlot* p = &pSlots[i];
    if (!p->Off1) return -1;
    if (p->Tag == TagOf(h) && p->KeyLen == k && StoredKeyIs(pDb->pImage + p->Off1 - 1 + 4, key, k)) {
      return int(p->Off1 - 1);
    }
  }
}

// ===========================================================================
// Removal, the writer lock, reads
// ===========================================================================

// The plain key of the record whose descriptor a walk step just filled: the work area for a
// plain image, else unscrambled at the cursor (which then stands at the data).
const char* WalkKey(DbT* pDb, DbTRec* rec) {
  if (pDb->DbType == 1) return rec->pKey;
  DbmTGetData(pDb, s.KeyBuf, rec->KeyLen);
  return reinterpret_cast<const char*>(s.KeyBuf);
}

// Removes matching records from the image (see PurgeTRecord); the block is shrunk when
// flShrink is set.
int PurgeImage(DbT* pDb, const char* key, int prefixLen, int flShrink) {
  if (!pDb || !pDb->pImage || !key || !*key) return 0;
  unsigned nKey = unsigned(strlen(key)) + 1;
  if (prefixLen < 0 || unsigned(prefixLen) > nKey) prefixLen = int(nKey);
  int flRemoved = 0, nRemoved = 0, offRemoved = 0, sizeRemoved = 0;
  int nOldLen = pDb->ImageLen;
  unsigned n, k;
  int keyOff;
  int off = FirstRecord(pDb);
  int flOnce = 0;  // the index knows the key is in the image once: stop after it
  if (prefixLen == 0) {
    off = LookUp(pDb, key);  // the first record with the key: none before it matches
    if (off < 0) {
      pDb->NextRec = pDb->ImageLen;
      return 0;
    }
    flOnce = IndexValid(pDb) && !pDb->flDupKeys;
  }
  while ((!flOnce || !nRemoved) && RecordAt(pDb, off, &n, &k, &keyOff) == 1) {
    int flMatch = 0;
    if (prefixLen == 0) {
      flMatch = k == nKey && StoredKeyIs(pDb->pImage + keyOff, key, k);
    } else if (k >= unsigned(prefixLen)) {
      if (pDb->DbType == 1) {
        unsigned char* pWork = WorkArea();
        if (pWork) {
          DbUnscramble(pWork, pDb->pImage + off + 2, int(n));
          flMatch = memcmp(pWork + 2, key, size_t(prefixLen)) == 0;
        }
      } else {
        DbUnscramble(s.KeyBuf, pDb->pImage + keyOff, int(k));
        flMatch = memcmp(s.KeyBuf, key, size_t(prefixLen)) == 0;
      }
    }
    if (!flMatch) {
      off += int(n) + 2;
      continue;
    }
    int end = off + int(n) + 2;
    memmove(pDb->pImage + off, pDb->pImage + end, size_t(pDb->ImageLen - end));
    pDb->ImageLen -= int(n) + 2;
    if (pDb->RecordCount > 0) pDb->RecordCount--;
    if (!nRemoved++) {
      offRemoved = off;
      sizeRemoved = int(n) + 2;
    }
    flRemoved = 1;
  }
  pDb->NextRec = pDb->ImageLen;
  if (flRemoved) {
    // One record of an exact key (the usual replacing store): the index follows the move.
    int flKeep = prefixLen == 0 && nRemoved == 1 && pDb->pIndex && pDb->pIndexImage == pDb->pImage &&
                 pDb->IndexImageLen == nOldLen;
    if (flKeep) IndexRemove(pDb, key, offRemoved, sizeRemoved);
    if (flShrink) {
      void* p = AdjustMem(pDb->pImage, pDb->ImageLen > 0 ? pDb->ImageLen : 1);
      if (p) {
        pDb->pImage = static_cast<unsigned char*>(p);
        pDb->ImageCap = pDb->ImageLen > 0 ? pDb->ImageLen : 1;
      }
    }
    pDb->flChanged = 1;
    if (flKeep) {
      pDb->pIndexImage = pDb->pImage;
      pDb->IndexImageLen = pDb->ImageLen;
    } else {
      InvalidateIndex(pDb);
    }
  }
  return flRemoved;
}

// Takes the writer lock for a change of the handle's file (none with Flags 4, where the
// owner archives later). 1 when the change may go ahead.
int LockForChange(DbT* pDb) {
  if (pDb->Flags & 4) return 1;
  if (s.pHolder) {  // never two at once: a lock left by a handle is given up first
    s.pHolder->flLocked = 0;
    DbRewriteAbort(&s.Held, nullptr);
    s.pHolder = nullptr;
  }
  const char* pPath = FilePath(pDb);
  if (!pPath || !DbRewriteBegin(&s.Held, pPath)) {
    fprintf(stderr, "ERROR: can't open file, %s_new\n", pPath ? pPath : pDb->szName);
    return 0;
  }
  pDb->flLocked = 1;
  s.pHolder = pDb;
  return 1;
}

// Gives up a lock that no archive consumed.
void Unlock(DbT* pDb) {
  if (!pDb->flLocked) return;
  DbRewriteAbort(&s.Held, nullptr);
  pDb->flLocked = 0;
  s.pHolder = nullptr;
}

// Refresh before a read or removal, unless the handle's flags say not to.
inline void Refresh(DbT* pDb) {
  if (!(pDb->Flags & 2)) DbTUpDate(pDb);
}

// Copies a found record's data (cursor at the data, or body in the work area) into dest.
void CopyFoundData(DbT* pDb, const DbTRec* rec, void* dest, int nData) {
  if (nData <= 0) return;
  if (pDb->DbType == 1) {
    memcpy(dest, rec->pKey + rec->KeyLen, size_t(nData));
  } else {
    DbmTGetData(pDb, dest, nData);
  }
}

// Key list, with names (null: every key).
char* KeyList(DbT* pDb, const char* names, const char* before, const char* after) {
  Refresh(pDb);
  if (!pDb->pImage) return nullptr;
  PoolText t = {};
  DbTRec rec;
  for (DbTRec* r = WalkDbTRecords(pDb, &rec, 0); r; r = WalkDbTRecords(pDb, &rec, 1)) {
    const char* pKey = WalkKey(pDb, r);
    if (names && !TestKeyName(pKey, names)) continue;
    PoolTextAppendStr(&t, before);
    PoolTextAppendStr(&t, pKey);
  }
  if (!t.p) return nullptr;  // no key (or the pool refused the first)
  PoolTextAppendStr(&t, after);
  return PoolTextTake(&t);
}

}  // namespace

// ===========================================================================
// Handles and refresh
// ===========================================================================

DbT* DbTOpen(const char* name, int flags) {
  if (!name) return nullptr;
  DbT* pDb = static_cast<DbT*>(GetMem(int(sizeof(DbT))));
  if (!pDb) return nullptr;
  size_t n = strlen(name);
  pDb->szName = static_cast<char*>(GetMem(int(n) + 1));
  if (!pDb->szName) {
    PutMem(pDb);
    return nullptr;
  }
  memcpy(pDb->szName, name, n + 1);
  pDb->flChanged = 0;
  pDb->Flags = flags;
  ForgetFile(pDb);
  DbTUpDate(pDb);
  return pDb;
}

void DbTClose(DbT* pDb) {
  if (!pDb) return;
  if (pDb->flLocked) Unlock(pDb);
  PutMem(pDb->pImage);
  PutMem(pDb->pIndex);
  PutMem(pDb->szPath);
  PutMem(pDb);  // the saved name stays in the pool
}

void DbTUpDate(DbT* pDb) {
  if (!pDb || !pDb->szName) return;
  const char* pPath = FilePath(pDb);
  if (!pPath) return;
  struct stat st;
  if (stat(pPath, &st) != 0) return;  // missing: the handle is unchanged
  if (pDb->pImage && SameFile(pDb, st)) return;
  unsigned char* pNew = nullptr;
  int nNew = 0;
  int rc = ReadWholeFile(pPath, &pNew, &nNew, &st);
  if (rc < 0) return;  // gone between the status and the open
  PutMem(pDb->pImage);
  pDb->pImage = nullptr;
  InvalidateIndex(pDb);
  if (rc == 0) {
    // No content: a new image of its header alone.
    pDb->ImageLen = 0;
    pDb->Pos = pDb->NextRec = pDb->RecordCount = 0;
    ForgetFile(pDb);
    pDb->pImage = static_cast<unsigned char*>(GetMem(kDbTHeaderSize));
    pDb->ImageCap = pDb->pImage ? kDbTHeaderSize : 0;
    DbTSetDbType(pDb, 0);
    pDb->flChanged = 1;
    if (!pDb->pImage) return;
    UpdateHeader(pDb);
    pDb->ImageLen = kDbTHeaderSize;
    if (st.st_size == 0) NoteFile(pDb, st);  // an unreadable file is tried again next time
    return;
  }
  pDb->pImage = pNew;
  pDb->ImageCap = nNew;
  pDb->ImageLen = nNew;
  pDb->Pos = pDb->NextRec = 0;
  pDb->flChanged = 1;
  NoteFile(pDb, st);
  DbTSetDbType(pDb, nNew >= 5 && memcmp(pNew, "TKDBA", 5) == 0 ? 2 : 1);
  if (pDb->DbType == 2 && nNew < kDbTHeaderSize) {
    // A header cut short: give the image a whole one, so records go after it.
    void* p = AdjustMem(pDb->pImage, kDbTHeaderSize);
    if (p) {
      pDb->pImage = static_cast<unsigned char*>(p);
      pDb->ImageCap = pDb->ImageLen = kDbTHeaderSize;
      pDb->RecordCount = 0;
      UpdateHeader(pDb);
    } else {
      pDb->ImageLen = 0;
    }
  }
  // The header's count is not trusted: the image holds as many records as are whole.
  pDb->RecordCount = CheckImage(pDb);
}

void DbTSetDbType(DbT* pDb, int type) {
  if (!pDb) return;
  pDb->DbType = type;
  pDb->flSwap = (unsigned char)(type != 1 && IsLittleEndian());
}

// ===========================================================================
// Walk, cursor and lookup
// ===========================================================================

DbTRec* WalkDbTRecords(DbT* pDb, DbTRec* rec, int cont) {
  if (!pDb || !pDb->pImage || !rec) return nullptr;
  if (!cont) pDb->NextRec = FirstRecord(pDb);
  unsigned n, k;
  int keyOff;
  int off = pDb->NextRec;
  if (off < 0 || RecordAt(pDb, off, &n, &k, &keyOff) != 1) return nullptr;
  rec->RecLen = uint16_t(n);
  rec->KeyLen = uint16_t(k);
  pDb->Pos = off + 2;
  if (pDb->DbType == 1) {
    unsigned char* pWork = WorkArea();
    if (!pWork) return nullptr;
    DbmTGetData(pDb, pWork, int(n));
    rec->pKey = reinterpret_cast<char*>(pWork + 2);
  } else {
    pDb->Pos += 2;
    rec->pKey = nullptr;
  }
  pDb->NextRec = off + int(n) + 2;
  return rec;
}

void DbmTPutData(DbT* pDb, const void* src, int n) {
  if (!pDb || !pDb->pImage || !src || n <= 0) return;
  if (pDb->Pos < 0 || int64_t(pDb->Pos) + n > pDb->ImageCap) return;
  DbScramble(pDb->pImage + pDb->Pos, static_cast<const unsigned char*>(src), n);
  pDb->Pos += n;
}

void DbmTGetData(DbT* pDb, void* dest, int n) {
  if (!pDb || !pDb->pImage || !dest || n <= 0) return;
  if (pDb->Pos < 0 || int64_t(pDb->Pos) + n > pDb->ImageLen) return;
  DbUnscramble(static_cast<unsigned char*>(dest), pDb->pImage + pDb->Pos, n);
  pDb->Pos += n;
}

int FindTRecord(DbT* pDb, const char* key, DbTRec* rec) {
  if (!pDb || !pDb->pImage || !key || !*key || !rec) return 0;
  int off = LookUp(pDb, key);
  if (off < 0) return 0;
  pDb->NextRec = off;
  if (!WalkDbTRecords(pDb, rec, 1)) return 0;
  if (pDb->DbType != 1) pDb->Pos += rec->KeyLen;  // headed: the cursor goes on to the data
  return 1;
}

// ===========================================================================
// Changes
// ===========================================================================

int PurgeTRecord(DbT* pDb, const char* key, int prefixLen) {
  if (!pDb || !pDb->pImage || !key || !*key) return 0;
  Refresh(pDb);
  return PurgeImage(pDb, key, prefixLen, 1);
}

int DbmTArchiveDb(DbT* pDb) {
  if (!pDb) return 0;
  if (!pDb->pImage) {
    Unlock(pDb);
    fprintf(stderr, "ERROR: Can't write to %s", pDb->szName);
    return 0;
  }
  if (pDb->DbType == 2) UpdateHeader(pDb);
  if (!pDb->flLocked) {
    int flags = pDb->Flags;
    pDb->Flags = 0;  // take the lock even where the owner archives by hand
    int ok = LockForChange(pDb);
    pDb->Flags = flags;
    if (!ok) return 0;
  }
  pDb->flLocked = 0;
  s.pHolder = nullptr;
  if (!DbRewriteWrite(&s.Held, pDb->pImage, pDb->ImageLen)) {
    DbRewriteAbort(&s.Held, nullptr);
    fprintf(stderr, "ERROR: Can't write to %s", pDb->szName);
    return 0;
  }
  struct stat st;
  if (!DbRewriteCommit(&s.Held, nullptr, &st)) {
    fprintf(stderr, "ERROR: Can't write to %s", pDb->szName);
    return 0;
  }
  NoteFile(pDb, st);  // the file now holds the image: no reload of our own change
  return 1;
}

int DbmTPutRecord(DbT* pDb, const char* key, const void* data, int len) {
  if (!pDb || !key || !data || len <= 0 || !*key) return 0;
  size_t k = strlen(key) + 1;
  if (k + size_t(len) > size_t(kDbTMaxKeyData)) return 0;  // no format can hold it
  if (!LockForChange(pDb)) return 0;
  Refresh(pDb);
  if (pDb->DbType == 0) DbTSetDbType(pDb, 2);
  unsigned char* pWork = pDb->DbType == 1 ? WorkArea() : nullptr;
  if (pDb->DbType == 1 && !pWork) {
    Unlock(pDb);
    return 0;
  }
  if (pDb->DbType == 1 && k + size_t(len) > size_t(kDbmMaxKeyData)) {
    Unlock(pDb);
    return 0;
  }
  int n = len + int(k) + 2;
  int flNewHeader = 0;
  if (pDb->ImageLen == 0 && pDb->DbType != 1) {
    pDb->ImageLen = kDbTHeaderSize;
    flNewHeader = 1;
  }
  int64_t nNeed = int64_t(pDb->ImageLen) + n + 2;
  if (nNeed > INT_MAX - 64) {
    Unlock(pDb);
    return 0;
  }
  int flIndexed = IndexValid(pDb);
  if (!pDb->pImage || pDb->ImageCap < nNeed) {
    void* p = AdjustMem(pDb->pImage, int(nNeed));
    if (!p) {
      if (flNewHeader) pDb->ImageLen = 0;
      Unlock(pDb);
      return 0;  // the image is as it was
    }
    pDb->pImage = static_cast<unsigned char*>(p);
    pDb->ImageCap = int(nNeed);
    if (flIndexed) pDb->pIndexImage = pDb->pImage;  // offsets are unchanged by a move
  }
  if (flNewHeader) {
    pDb->RecordCount = 0;
    UpdateHeader(pDb);
  }
  PurgeImage(pDb, key, 0, 0);
  flIndexed = IndexValid(pDb);
  unsigned char* img = pDb->pImage;
  int off = pDb->ImageLen;
  pDb->Pos = pDb->ImageLen;
  DbPut16(img + pDb->Pos, unsigned(n), pDb->flSwap);
  pDb->Pos += 2;
  if (pDb->DbType == 1) {
    DbPut16(pWork, unsigned(k), pDb->flSwap);
    memcpy(pWork + 2, key, k);
    memcpy(pWork + 2 + k, data, size_t(len));
    DbmTPutData(pDb, pWork, n);
  } else {
    DbPut16(img + pDb->Pos, unsigned(k), pDb->flSwap);
    pDb->Pos += 2;
    DbmTPutData(pDb, key, int(k));
    DbmTPutData(pDb, data, len);
  }
  pDb->RecordCount++;
  pDb->ImageLen += n + 2;
  pDb->flChanged = 1;
  if (flIndexed) {
    IndexAppend(pDb, off, unsigned(k));
  } else {
    InvalidateIndex(pDb);
  }
  if (pDb->Flags & 4) return 1;
  return DbmTArchiveDb(pDb);
}

int DbmTDeleteRecord(DbT* pDb, const char* key) {
  if (!pDb || !key || !*key) return 0;
  Refresh(pDb);
  if (!pDb->pImage) return 0;
  if (!LockForChange(pDb)) return 0;
  Refresh(pDb);
  if (!PurgeImage(pDb, key, 0, 1)) {
    Unlock(pDb);
    return 0;
  }
  if (pDb->Flags & 4) return 1;
  return DbmTArchiveDb(pDb);
}

int DbmTDeleteRecords(DbT* pDb, const char* prefix) {
  if (!pDb || !prefix || !*prefix) return 0;
  Refresh(pDb);
  if (!pDb->pImage) return 1;
  if (!LockForChange(pDb)) return 0;
  Refresh(pDb);
  if (!PurgeImage(pDb, prefix, int(strlen(prefix)), 1)) {
    Unlock(pDb);
    return 1;
  }
  if (pDb->Flags & 4) return 1;
  return DbmTArchiveDb(pDb);
}

// ===========================================================================
// Reads and lists
// ===========================================================================

int DbmTGetRecord(DbT* pDb, const char* key, void* dest) {
  if (!pDb || !key || !dest) return 0;
  Refresh(pDb);
  DbTRec rec;
  if (!FindTRecord(pDb, key, &rec)) return 0;
  int nData = int(rec.RecLen) - int(rec.KeyLen) - 2;
  CopyFoundData(pDb, &rec, dest, nData);
  return nData > 0 ? nData : 0;
}

int DbmTGetRecordV(DbT* pDb, const char* key, char** ppBuf, int capacity) {
  if (!pDb || !key || !ppBuf) return 0;
  Refresh(pDb);
  DbTRec rec;
  if (!FindTRecord(pDb, key, &rec)) return 0;
  int nData = int(rec.RecLen) - int(rec.KeyLen) - 2;
  if (nData <= 0) return 0;
  if (nData > capacity || !*ppBuf) {
    char* p = static_cast<char*>(GetMem(nData));
    if (!p) return 0;
    *ppBuf = p;
  }
  CopyFoundData(pDb, &rec, *ppBuf, nData);
  return nData;
}

int DbmTGetRecordSize(DbT* pDb, const char* key) {
  if (!pDb || !key) return 0;
  Refresh(pDb);
  DbTRec rec;
  if (!FindTRecord(pDb, key, &rec)) return 0;
  int nData = int(rec.RecLen) - int(rec.KeyLen) - 2;
  return nData > 0 ? nData : 0;
}

int DbmTCopyRecord(DbT* pDb, const char* srcKey, const char* dstKey) {
  if (!pDb || !srcKey || !dstKey) return 0;
  int nData = DbmTGetRecord(pDb, srcKey, s.CopyBuf);
  if (nData == 0) return 0;
  return DbmTPutRecord(pDb, dstKey, s.CopyBuf, nData);
}

char* DbmTGetRecordList(DbT* pDb, const char* before, const char* after) {
  if (!pDb || !before || !after) return nullptr;
  return KeyList(pDb, nullptr, before, after);
}

char* DbmTGetRecordListS(DbT* pDb, const char* names, const char* before, const char* after) {
  if (!pDb || !names || !*names || !before || !after) return nullptr;
  return KeyList(pDb, names, before, after);
}

int TestKeyName(const char* key, const char* names) {
  if (!key || !names) return 0;
  int flMatch = 0;
  const char* p = names;
  while (*p) {
    // One name up to the next comma, compared with the key's start as it is read; a
    // backslash takes the next character as it is (\n, \r, \t as the control characters),
    // as the tokenizer reads names. Names of any length are compared whole.
    const char* k = key;
    int n = 0, flSame = 1;
    while (*p && *p != ',') {
      char c = *p++;
      if (c == '\\') {
        if (!*p) break;
        c = *p++;
        c = c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
      }
      if (flSame && *k == c) {
        k++;
      } else {
        flSame = 0;
      }
      n++;
    }
    if (*p == ',') p++;
    if (n > 0 && flSame) flMatch = 1;
  }
  return flMatch;
}

DbLink* DbmTGetDbLinkList(DbT* pDb, const char* pattern) {
  if (!pDb || !pattern) return nullptr;
  Refresh(pDb);
  if (!pDb->pImage) return nullptr;
  DbLink* pFirst = nullptr;
  DbLink* pLast = nullptr;
  DbTRec rec;
  for (DbTRec* r = WalkDbTRecords(pDb, &rec, 0); r; r = WalkDbTRecords(pDb, &rec, 1)) {
    const char* pKey = WalkKey(pDb, r);
    if (!strstr(pKey, pattern)) continue;
    int n = r->RecLen, k = r->KeyLen;
    DbLink* pLink = static_cast<DbLink*>(GetMem(int(sizeof(DbLink))));
    unsigned char* pBlock = static_cast<unsigned char*>(GetMem(n));
    if (!pLink || !pBlock) {
      PutMem(pLink);
      PutMem(pBlock);
      continue;
    }
    memcpy(pBlock, pKey, size_t(k));
    CopyFoundData(pDb, r, pBlock + k, n - k - 2);
    pLink->pBlock = pBlock;
    pLink->pData = pBlock + k;
    pLink->DataLen = n - k - 2;
    if (pLast) {
      pLast->pNext = pLink;
    } else {
      pFirst = pLink;
    }
    pLast = pLink;
  }
  return pFirst;
}
