// db_file.cpp - the record-file scan: the input is a record file. Every file operation reads
// it from the start (list, chain, numbered reads, keyed reads), then a store and deletions
// rewrite it. Properties: no access outside a buffer, the operations agree on the records the
// file holds, a stored record reads back, and a deleted one is gone.
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "db/Dbm.h"
#include "fuzz/support.h"

namespace {

constexpr int kMaxRecords = 4096;

std::string ReadKey(const char* name, const std::string& key) {
  int n = DbmGetRecordSize(name, key.c_str());
  FUZZ_CHECK(n >= 0 && n <= kDbmMaxKeyData, "size %d", n);
  std::vector<char> buf(size_t(n) + 1);
  FUZZ_CHECK(DbmGetRecord(name, key.c_str(), buf.data()) == n, "read length differs from size");
  return std::string(buf.data(), size_t(n));
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
  const char* name = "rec";
  FuzzWriteFile("db/rec.kdb", data, size);

  // The chain and the numbered reads see the same records in the same order.
  std::vector<std::string> keys;
  std::vector<int> lens;
  DbLink* chain = DbmGetDbLinkList(name, "");
  for (DbLink* l = chain; l && int(keys.size()) < kMaxRecords; l = l->pNext) {
    FUZZ_CHECK(l->DataLen >= 0 && l->pData >= l->pBlock, "link data length %d", l->DataLen);
    keys.push_back(reinterpret_cast<char*>(l->pBlock));
    lens.push_back(l->DataLen);
  }
  DbmFreeDbLinkList(chain);
  std::vector<char> buf(kDbmMaxKeyData + 1);
  Ent2Get = 0;
  size_t nNumbered = 0;
  for (int n; nNumbered < keys.size() + 1 && (n = DbmGetNextRecord(name, buf.data())) > 0;)
    nNumbered++;
  // A record with no data ends the numbered reads early, so only "not more" holds.
  FUZZ_CHECK(nNumbered <= keys.size(), "%zu numbered reads for %zu records", nNumbered,
             keys.size());
  if (char* list = DbmGetRecordList(name, ",", ",")) PutMem(list);
  for (size_t i = 0; i < keys.size() && i < 32; i++) ReadKey(name, keys[i]);

  // Changes rewrite the file: a store reads back, deletions remove.
  std::string fresh(reinterpret_cast<const char*>(data), size < 200 ? size : 200);
  if (fresh.empty()) fresh = "x";
  if (DbmPutRecord(name, "fuzz\001new", fresh.data(), int(fresh.size())) == 1) {
    FUZZ_CHECK(ReadKey(name, "fuzz\001new") == fresh, "stored record reads differently");
    FUZZ_CHECK(DbmDeleteRecord(name, "fuzz\001new") == 1, "delete");
    FUZZ_CHECK(DbmGetRecordSize(name, "fuzz\001new") == 0, "deleted key still there");
  } else {
    // Only a headed file is refused by the record-file operations (they would lose its header).
    FUZZ_CHECK(size >= 5 && memcmp(data, "TKDBA", 5) == 0, "store into a record file failed");
  }
  if (!keys.empty() && !keys[0].empty()) {
    DbmDeleteRecords(name, keys[0].substr(0, 1).c_str());
    FUZZ_CHECK(DbmGetRecordSize(name, keys[0].c_str()) == 0, "prefix deletion left the key");
  }
  return 0;
}
