// The record database's limits, each at its size - 1, its size, size + 1 and ten times its
// size: keys (no fixed key buffer is left: every length a record holds works), the names of
// TestKeyName, the record size of each format, and the database path with its rewrite file.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "db/Dbm.h"
#include "db_test_util.h"

namespace {

using DbLimits = DbTest;

std::vector<size_t> Around(size_t size) { return {size - 1, size, size + 1, 10 * size}; }

TEST_F(DbLimits, LongKeysStoreReadAndDelete) {
  for (size_t len : Around(4096)) {
    std::string key(len, 'k');
    key.back() = 'z';
    DbT* db = DbTOpen("keys", 0);
    ASSERT_EQ(DbmTPutRecord(db, key.c_str(), "data", 4), 1) << len;
    char buf[8] = {};
    EXPECT_EQ(DbmTGetRecord(db, key.c_str(), buf), 4) << len;
    EXPECT_EQ(DbmTGetRecordSize(db, key.substr(0, len - 1).c_str()), 0) << len;
    char* list = DbmTGetRecordList(db, ",", "");
    EXPECT_EQ(std::string(list), "," + key);
    PutMem(list);
    EXPECT_EQ(DbmTDeleteRecord(db, key.c_str()), 1) << len;
    DbTClose(db);

    ASSERT_EQ(DbmPutRecord("plain", key.c_str(), "data", 4), 1) << len;
    EXPECT_EQ(DbmGetRecordSize("plain", key.c_str()), 4) << len;
    EXPECT_EQ(DbmDeleteRecord("plain", key.c_str()), 1) << len;
  }
}

// A name is compared whole: a key that differs only in the name's last character is no match,
// however long the name.
TEST_F(DbLimits, TestKeyNameComparesLongNamesWhole) {
  for (size_t len : Around(4096)) {
    std::string name(len, 'n');
    std::string other = name;
    other.back() = 'X';
    EXPECT_EQ(TestKeyName((name + "_1").c_str(), ("a," + name).c_str()), 1) << len;
    EXPECT_EQ(TestKeyName((other + "_1").c_str(), ("a," + name).c_str()), 0) << len;
    EXPECT_EQ(TestKeyName(name.substr(0, len - 1).c_str(), name.c_str()), 0) << len;
  }
}

// Key, NUL and data: at most 65533 bytes in a headed file, 65525 in a record file; a larger
// store is refused and the file keeps its records.
TEST_F(DbLimits, RecordSizeOfEachFormat) {
  for (int headed = 0; headed < 2; headed++) {
    size_t most = headed ? size_t(kDbTMaxKeyData) : size_t(kDbmMaxKeyData);
    for (size_t total : Around(most + 1)) {
      std::string data(total - 2, 'd');  // key "k" and its NUL make the other two bytes
      int ok;
      if (headed) {
        DbT* db = DbTOpen("size", 0);
        ASSERT_EQ(DbmTPutRecord(db, "first", "1", 1), 1);
        ok = DbmTPutRecord(db, "k", data.data(), int(data.size()));
        DbTClose(db);
      } else {
        ASSERT_EQ(DbmPutRecord("size", "first", "1", 1), 1);
        ok = DbmPutRecord("size", "k", data.data(), int(data.size()));
      }
      EXPECT_EQ(ok, total <= most ? 1 : 0) << total << (headed ? " headed" : " record file");
      EXPECT_EQ(DbmGetRecordSize("size", "first"), headed ? 0 : 1);  // record-file reader
      DbT* db = DbTOpen("size", 0);
      EXPECT_EQ(DbmTGetRecordSize(db, "first"), 1);
      EXPECT_EQ(DbmTGetRecordSize(db, "k"), total <= most ? int(total - 2) : 0) << total;
      DbTClose(db);
      unlink(DbFile("size").c_str());
    }
  }
}

// The database path and its rewrite file "<path>_new" must both fit 4096 bytes with the NUL:
// a path of 4091 characters works; a longer one is refused and nothing is written anywhere.
TEST_F(DbLimits, DatabasePathThatDoesNotFitIsRefused) {
  const size_t most = size_t(4096 - 1 - 4);
  for (size_t len : Around(most)) {
    // <tool>/db/<dirs>/<name>.kdb: directories of 200 characters, then a name to the length.
    std::string base = tool_ + "/db/";
    size_t rest = len - base.size() - 4;
    std::string rel;
    while (rest - rel.size() > 251) rel += std::string(200, 'd') + "/";
    std::string name = rel + std::string(rest - rel.size(), 'f');
    std::string path = base + name + ".kdb";
    ASSERT_EQ(path.size(), len);
    DbT* db = DbTOpen(name.c_str(), 0);
    int ok = DbmTPutRecord(db, "k", "v", 1);
    DbTClose(db);
    EXPECT_EQ(ok, len <= most ? 1 : 0) << len;
    EXPECT_EQ(DbmPutRecord((name + "p").c_str(), "p", "v", 1), len + 1 <= most ? 1 : 0) << len;
    struct stat st;
    EXPECT_EQ(stat(path.c_str(), &st) == 0, len <= most) << len;
  }
}

}  // namespace
