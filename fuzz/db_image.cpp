// db_image.cpp - the typed-record image: the input is a database file. It is loaded, walked,
// every key read, records stored, replaced and deleted in memory, and the image archived and
// loaded again. Properties: nothing reads or writes outside its buffers (the sanitizers), a
// stored record reads back as stored, a deleted one is gone, and the archived file loads with
// the same records as the image it was written from.
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "db/Dbm.h"
#include "fuzz/support.h"

namespace {

constexpr int kMaxWalk = 4096;  // records examined per input
constexpr int kMaxReads = 64;   // keys read back per input

// The keys of the image in walk order, as C strings (a key holding a NUL stops there).
std::vector<std::string> WalkKeys(DbT* db, int* nRecords) {
  std::vector<std::string> keys;
  DbTRec rec;
  *nRecords = 0;
  for (DbTRec* r = WalkDbTRecords(db, &rec, 0); r && *nRecords < kMaxWalk;
       r = WalkDbTRecords(db, &rec, 1)) {
    ++*nRecords;
    FUZZ_CHECK(db->NextRec <= db->ImageLen, "walk past the image: %d > %d", db->NextRec,
               db->ImageLen);
    FUZZ_CHECK(r->KeyLen + 2u <= r->RecLen + 0u || r->KeyLen == 0, "key %u longer than record %u",
               r->KeyLen, r->RecLen);
    std::string key;
    if (db->DbType == 1) {
      key.assign(r->pKey, strnlen(r->pKey, r->KeyLen));
    } else {
      std::vector<char> buf(size_t(r->KeyLen) + 1, 0);
      DbmTGetData(db, buf.data(), r->KeyLen);
      key = buf.data();
    }
    keys.push_back(key);
  }
  return keys;
}

std::string RecordList(DbT* db) {
  char* list = DbmTGetRecordList(db, "\n", "|");
  std::string s = list ? list : "";
  PutMem(list);
  return s;
}

void ReadBack(DbT* db, const char* key, const std::string& want) {
  int size = DbmTGetRecordSize(db, key);
  FUZZ_CHECK(size == int(want.size()), "size of %s is %d, stored %zu", key, size, want.size());
  std::vector<char> buf(want.size());
  FUZZ_CHECK(DbmTGetRecord(db, key, buf.data()) == size, "read of %s", key);
  FUZZ_CHECK(memcmp(buf.data(), want.data(), want.size()) == 0, "data of %s differs", key);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static std::string tool = FuzzScratch();
  pToolPath = &tool[0];
  mkdir((tool + "/db").c_str(), 0777);
  FuzzInit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzWriteFile("db/img.kdb", data, size);
  DbT* db = DbTOpen("img", 4);
  FUZZ_CHECK(db != nullptr, "no handle");
  FUZZ_CHECK(db->ImageLen >= 0 && (!db->pImage || db->ImageLen <= db->ImageCap),
             "image length %d, capacity %d", db->ImageLen, db->ImageCap);

  int nRecords;
  std::vector<std::string> keys = WalkKeys(db, &nRecords);
  for (size_t i = 0; i < keys.size() && i < size_t(kMaxReads); i++) {
    const char* key = keys[i].c_str();
    int n = DbmTGetRecordSize(db, key);
    FUZZ_CHECK(n >= 0 && n <= kDbTMaxKeyData, "size %d", n);
    std::vector<char> buf(size_t(n) + 1);
    FUZZ_CHECK(DbmTGetRecord(db, key, buf.data()) == n, "read length differs from size");
    char small[8];
    char* pBuf = small;
    FUZZ_CHECK(DbmTGetRecordV(db, key, &pBuf, int(sizeof small)) == n, "GetRecordV length");
    if (pBuf != small) PutMem(pBuf);
  }
  if (char* l = DbmTGetRecordListS(db, "a,k,\\,", "<", ">")) PutMem(l);
  int nLinks = 0;
  DbLink* chain = DbmTGetDbLinkList(db, "");
  for (DbLink* l = chain; l; l = l->pNext) {
    nLinks++;
    FUZZ_CHECK(l->DataLen >= 0, "link data length %d", l->DataLen);
  }
  DbmFreeDbLinkList(chain);
  FUZZ_CHECK(nLinks <= nRecords || nRecords == kMaxWalk, "%d links for %d records", nLinks,
             nRecords);

  // Changes in memory: a new key, an existing key replaced, a deletion, a prefix deletion.
  std::string fresh(reinterpret_cast<const char*>(data), size < 300 ? size : 300);
  if (fresh.empty()) fresh = "x";
  FUZZ_CHECK(DbmTPutRecord(db, "fuzz\001new", fresh.data(), int(fresh.size())) == 1, "store");
  ReadBack(db, "fuzz\001new", fresh);
  if (!keys.empty() && !keys[0].empty() && keys[0].size() < 4000) {
    FUZZ_CHECK(DbmTPutRecord(db, keys[0].c_str(), "replaced", 8) == 1, "replace");
    ReadBack(db, keys[0].c_str(), "replaced");
    DbmTDeleteRecords(db, keys[0].substr(0, 1).c_str());
    FUZZ_CHECK(DbmTGetRecordSize(db, keys[0].c_str()) == 0, "prefix deletion left the key");
  }
  if (DbmTGetRecordSize(db, "fuzz\001new") > 0) {
    FUZZ_CHECK(DbmTDeleteRecord(db, "fuzz\001new") == 1, "delete");
    FUZZ_CHECK(DbmTGetRecordSize(db, "fuzz\001new") == 0, "deleted key still there");
  }
  FUZZ_CHECK(DbmTPutRecord(db, "fuzz\002kept", "kept", 4) == 1, "store");

  // The image written out loads with the same records.
  std::string after = RecordList(db);
  FUZZ_CHECK(DbmTArchiveDb(db) == 1, "archive failed");
  DbT* again = DbTOpen("img", 4);
  FUZZ_CHECK(again && again->DbType == db->DbType, "type %d after archive, %d before",
             again ? again->DbType : -1, db->DbType);
  FUZZ_CHECK(RecordList(again) == after, "archived file reads differently");
  ReadBack(again, "fuzz\002kept", "kept");
  DbTClose(again);
  DbTClose(db);
  return 0;
}
