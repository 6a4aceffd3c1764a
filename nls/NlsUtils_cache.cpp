// NlsUtils_cache.cpp - the texts of fetched messages per catalogue handle (see NlsCache.h).
// A few handles are followed at once (the toolkit's, the help catalogue and the host's);
// each has an open-addressing table of (set, number, entry) slots, grown at half full, so that
// a probe compares keys in the table and touches only the one entry it copies from.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/MemMgr.h"
#include "nls/NlsCache.h"

namespace {

constexpr int kCachedHandles = 4;
constexpr uint32_t kFirstSlots = 256;

struct Entry {
  int32_t Len;  // bytes of Text with its terminator
  char Text[1];
};

struct Slot {
  int32_t Set, Number;  // Set 0: empty (fetches by set and number never use set 0)
  Entry* pEntry;        // pool
};

struct HandleCache {
  DbT* pDb;                     // null: unused
  const unsigned char* pImage;  // the image the texts were read from
  int32_t ImageLen;
  uint32_t nSlots, nUsed;       // nSlots a power of two (0 before the first text)
  Slot* pSlots;                 // pool
};

struct Cache {
  HandleCache Handles[kCachedHandles];
  int NextVictim;
} C;

inline uint32_t Hash(int set, int number) {
  uint32_t h = uint32_t(set) * 0x9E3779B1u ^ uint32_t(number) * 0x85EBCA77u;
  return h ^ (h >> 15);
}

void Clear(HandleCache* hc) {
  for (uint32_t i = 0; i < hc->nSlots; i++)
    if (hc->pSlots[i].Set) PutMem(hc->pSlots[i].pEntry);
  if (hc->pSlots) PutMem(hc->pSlots);
  hc->pSlots = nullptr;
  hc->nSlots = hc->nUsed = 0;
}

// The handle's cache, emptied when the image is not the one its texts came from; null when
// db has no image.
HandleCache* Find(DbT* db, bool create) {
  if (!db->pImage) return nullptr;
  HandleCache* hc = nullptr;
  for (HandleCache& h : C.Handles)
    if (h.pDb == db) hc = &h;
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
  return hc;
}

Slot* Probe(Slot* slots, uint32_t nSlots, int set, int number) {
  for (uint32_t i = Hash(set, number) & (nSlots - 1);; i = (i + 1) & (nSlots - 1)) {
    Slot* s = &slots[i];
    if (!s->Set || (s->Set == set && s->Number == number)) return s;
  }
}

bool Grow(HandleCache* hc) {
  uint32_t n = hc->nSlots ? hc->nSlots * 2 : kFirstSlots;
  if (n > (1u << 24)) return false;
  Slot* slots = static_cast<Slot*>(GetMem(int(n * sizeof(Slot))));
  if (!slots) return false;
  for (uint32_t i = 0; i < hc->nSlots; i++) {
    const Slot& s = hc->pSlots[i];
    if (s.Set) *Probe(slots, n, s.Set, s.Number) = s;
  }
  if (hc->pSlots) PutMem(hc->pSlots);
  hc->pSlots = slots;
  hc->nSlots = n;
  return true;
}

}  // namespace

const char* NlsCacheFind(DbT* db, int set, int number, int* len) {
  HandleCache* hc = Find(db, false);
  if (!hc || !hc->nSlots || !set) return nullptr;
  const Slot* s = Probe(hc->pSlots, hc->nSlots, set, number);
  if (!s->Set) return nullptr;
  *len = s->pEntry->Len;
  return s->pEntry->Text;
}

void NlsCacheAdd(DbT* db, int set, int number, const char* text, int len) {
  HandleCache* hc = Find(db, true);
  if (!hc || !set || len < 1) return;
  if ((hc->nUsed + 1) * 2 > hc->nSlots && !Grow(hc)) return;
  Slot* s = Probe(hc->pSlots, hc->nSlots, set, number);
  if (s->Set) return;
  Entry* e = static_cast<Entry*>(GetMem(int(offsetof(Entry, Text)) + len));
  if (!e) return;
  e->Len = len;
  memcpy(e->Text, text, size_t(len));
  *s = {set, number, e};
  hc->nUsed++;
}
