// NlsUtils_cache.cpp - the texts of fetched messages per catalogue handle (see NlsCache.h).
// A few handles are followed at once (the toolkit's, the help catalogue and the host's).
// Each keeps its texts one after another in a single pool block, every text behind a small
// header with its set, number and length, and finds them through an open-addressing table of
// 8-byte slots (a hash tag and the record's offset), grown at three quarters full. The table
// stays small enough to sit in the processor's cache; a look-up reads one slot line and then
// the one record it copies from, where the key is confirmed.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/MemMgr.h"
#include "nls/NlsCache.h"

namespace {

constexpr int kCachedHandles = 4;
constexpr uint32_t kFirstSlots = 256;
constexpr uint32_t kFirstTextBytes = 16 * 1024;
constexpr uint32_t kMaxTextBytes = 1u << 30;

struct Slot {
  uint32_t Tag;     // the key's hash tag, never 0; 0: empty
  uint32_t Offset;  // of the record in the handle's texts
};

struct Record {
  int32_t Set, Number;
  int32_t Len;  // bytes of Text with its terminator
  char Text[4];
};
constexpr uint32_t kRecordHead = offsetof(Record, Text);

struct HandleCache {
  DbT* pDb;                     // null: unused
  const unsigned char* pImage;  // the image the texts were read from
  int32_t ImageLen;
  uint32_t nSlots, nUsed;       // nSlots a power of two (0 before the first text)
  Slot* pSlots;                 // pool
  char* pTexts;                 // pool: the records, 4-byte aligned
  uint32_t nTextBytes, nTextCap;
};

struct Cache {
  HandleCache Handles[kCachedHandles];
  HandleCache* pLast;  // the handle of the last look-up, tried first
  int NextVictim;
} C;

// The key's hash: the slot index from the low half, the tag from the high half.
inline uint64_t Hash(int set, int number) {
  uint64_t k = (uint64_t(uint32_t(set)) << 32 | uint32_t(number)) * 0x9E3779B97F4A7C15ull;
  return k ^ (k >> 29);
}
inline uint32_t Tag(uint64_t h) { return uint32_t(h >> 32) | 1u; }

void Clear(HandleCache* hc) {
  if (hc->pSlots) PutMem(hc->pSlots);
  if (hc->pTexts) PutMem(hc->pTexts);
  hc->pSlots = nullptr;
  hc->pTexts = nullptr;
  hc->nSlots = hc->nUsed = 0;
  hc->nTextBytes = hc->nTextCap = 0;
}

// The handle's cache, emptied when the image is not the one its texts came from; null when
// db has no image.
HandleCache* Find(DbT* db, bool create) {
  if (!db->pImage) return nullptr;
  HandleCache* hc = C.pLast;
  if (!hc || hc->pDb != db) {
    hc = nullptr;
    for (HandleCache& h : C.Handles)
      if (h.pDb == db) hc = &h;
  }
  if (!hc) {
    if (!create) return nullptr;
    hc = &C.Handles[C.NextVictim];
    C.NextVictim = (C.NextVictim + 1) % kCachedHandles;
    Clear(hc);
    hc->pDb = db;
    db->flChanged = 1;  // whatever the handle held before is not ours
  }
  if (db->flChanged || hc->pImage != db->pImage || hc->ImageLen != db->ImageLen) {
    Clear(hc);
    db->flChanged = 0;
    hc->pImage = db->pImage;
    hc->ImageLen = db->ImageLen;
  }
  C.pLast = hc;
  return hc;
}

inline const Record* RecordAt(const HandleCache* hc, uint32_t offset) {
  return reinterpret_cast<const Record*>(hc->pTexts + offset);
}

// The slot holding (set, number), or the empty slot where it would go.
Slot* Probe(const HandleCache* hc, Slot* slots, uint32_t nSlots, int set, int number) {
  uint64_t h = Hash(set, number);
  uint32_t tag = Tag(h);
  for (uint32_t i = uint32_t(h) & (nSlots - 1);; i = (i + 1) & (nSlots - 1)) {
    Slot* s = &slots[i];
    if (!s->Tag) return s;
    if (s->Tag == tag) {
      const Record* r = RecordAt(hc, s->Offset);
      if (r->Set == set && r->Number == number) return s;
    }
  }
}

bool Grow(HandleCache* hc) {
  uint32_t n = hc->nSlots ? hc->nSlots * 2 : kFirstSlots;
  if (n > (1u << 24)) return false;
  Slot* slots = static_cast<Slot*>(GetMem(int(n * sizeof(Slot))));
  if (!slots) return false;
  for (uint32_t i = 0; i < hc->nSlots; i++) {
    const Slot& s = hc->pSlots[i];
    if (!s.Tag) continue;
    const Record* r = RecordAt(hc, s.Offset);
    *Probe(hc, slots, n, r->Set, r->Number) = s;
  }
  if (hc->pSlots) PutMem(hc->pSlots);
  hc->pSlots = slots;
  hc->nSlots = n;
  return true;
}

// Makes room for n more bytes of records; false when the pool is exhausted.
bool Reserve(HandleCache* hc, uint32_t n) {
  if (n <= hc->nTextCap - hc->nTextBytes) return true;
  uint32_t cap = hc->nTextCap ? hc->nTextCap : kFirstTextBytes;
  while (cap - hc->nTextBytes < n) {
    if (cap >= kMaxTextBytes) return false;
    cap *= 2;
  }
  char* texts = static_cast<char*>(GetMem(int(cap)));
  if (!texts) return false;
  if (hc->pTexts) {
    memcpy(texts, hc->pTexts, hc->nTextBytes);
    PutMem(hc->pTexts);
  }
  hc->pTexts = texts;
  hc->nTextCap = cap;
  return true;
}

}  // namespace

const char* NlsCacheFind(DbT* db, int set, int number, int* len) {
  HandleCache* hc = Find(db, false);
  if (!hc || !hc->nSlots || !set) return nullptr;
  const Slot* s = Probe(hc, hc->pSlots, hc->nSlots, set, number);
  if (!s->Tag) return nullptr;
  const Record* r = RecordAt(hc, s->Offset);
  *len = r->Len;
  return r->Text;
}

void NlsCacheAdd(DbT* db, int set, int number, const char* text, int len) {
  HandleCache* hc = Find(db, true);
  if (!hc || !set || len < 1 || uint32_t(len) > kMaxTextBytes / 2) return;
  if ((hc->nUsed + 1) * 4 > hc->nSlots * 3 && !Grow(hc)) return;
  Slot* s = Probe(hc, hc->pSlots, hc->nSlots, set, number);
  if (s->Tag) return;
  uint32_t size = (kRecordHead + uint32_t(len) + 3) & ~3u;
  if (!Reserve(hc, size)) return;
  auto* r = reinterpret_cast<Record*>(hc->pTexts + hc->nTextBytes);
  r->Set = set;
  r->Number = number;
  r->Len = len;
  memcpy(r->Text, text, size_t(len));
  *s = {Tag(Hash(set, number)), hc->nTextBytes};
  hc->nTextBytes += size;
  hc->nUsed++;
}
