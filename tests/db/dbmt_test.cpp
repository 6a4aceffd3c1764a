// Typed-record database: headed layout, both formats, refresh, flags, index, lists, damage.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "base/MemMgr.h"
#include "db/Dbm.h"
#include "db_test_util.h"

namespace {

using DbTFixture = DbTest;

std::string TGet(DbT* db, const char* key) {
  int n = DbmTGetRecordSize(db, key);
  std::string out(size_t(n) + 4, '#');
  int got = DbmTGetRecord(db, key, &out[0]);
  EXPECT_EQ(got, n);
  out.resize(size_t(got));
  return out;
}

std::string Keys(DbT* db) {
  char* p = DbmTGetRecordList(db, ",", ",");
  std::string s = p ? p : "(null)";
  PutMem(p);
  return s;
}

TEST_F(DbTFixture, OpenOfAMissingFileGivesANewHandle) {
  DbT* db = DbTOpen("t", 0);
  ASSERT_NE(db, nullptr);
  EXPECT_STREQ(db->szName, "t");
  EXPECT_EQ(db->DbType, 0);
  EXPECT_EQ(db->pImage, nullptr);
  EXPECT_EQ(db->flChanged, 0);
  char buf[8];
  EXPECT_EQ(DbmTGetRecord(db, "a", buf), 0);
  EXPECT_EQ(DbmTGetRecordList(db, ",", ","), nullptr);
  EXPECT_EQ(DbmTDeleteRecord(db, "a"), 0);
  EXPECT_FALSE(Exists(tool_ + "/db"));  // reads and removals create nothing
  testing::internal::CaptureStderr();
  EXPECT_EQ(DbmTArchiveDb(db), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: Can't write to t");
  DbTClose(db);
  EXPECT_EQ(DbTOpen(nullptr, 0), nullptr);
}

TEST_F(DbTFixture, FirstStoreWritesAHeadedFile) {
  DbT* db = DbTOpen("t", 0);
  ASSERT_EQ(DbmTPutRecord(db, "ab", "xyz", 3), 1);
  EXPECT_EQ(db->DbType, 2);
  EXPECT_EQ(db->RecordCount, 1);
  Bytes f = ReadBytes(DbFile("t"));
  ASSERT_EQ(f.size(), 26u);
  EXPECT_EQ(std::string(f.begin(), f.begin() + 8), std::string("TKDBAA1\0", 8));
  // N = 8, K = 3 big-endian; "ab\0" -> 03 62 00; "xyz" -> 01 03 7a.
  Bytes rec(f.begin() + 16, f.end());
  EXPECT_EQ(rec, (Bytes{0x00, 0x08, 0x00, 0x03, 0x03, 0x62, 0x00, 0x01, 0x03, 0x7a}));
  EXPECT_EQ(rec, HeadedRecord("ab", Str("xyz")));
  ASSERT_EQ(DbmTPutRecord(db, "c", "1", 1), 1);
  f = ReadBytes(DbFile("t"));
  EXPECT_EQ(std::string(f.begin(), f.begin() + 8), std::string("TKDBAA2\0", 8));
  DbTClose(db);
  // Read back by a fresh handle.
  db = DbTOpen("t", 0);
  EXPECT_EQ(db->DbType, 2);
  EXPECT_EQ(db->flSwap, 1);  // this machine is little-endian; headed lengths are big-endian
  EXPECT_EQ(db->RecordCount, 2);
  EXPECT_EQ(TGet(db, "ab"), "xyz");
  EXPECT_EQ(TGet(db, "c"), "1");
  DbTClose(db);
}

TEST_F(DbTFixture, UpdateHeaderWritesMagicCountAndFiller) {
  unsigned char image[16];
  memset(image, 0xEE, sizeof image);
  DbT h{};
  h.pImage = image;
  h.ImageCap = 16;
  h.RecordCount = 0;
  srand(1234);
  Bytes filler;
  for (int i = 0; i < 8; i++) filler.push_back((unsigned char)(rand() & 0xFF));
  srand(1234);
  UpdateHeader(&h);
  EXPECT_EQ(Bytes(image, image + 8), Cat({Str("TKDBAA0"), {0}}));
  EXPECT_EQ(Bytes(image + 8, image + 16), filler);
  h.RecordCount = 1234567890;  // at most 9 digits
  UpdateHeader(&h);
  EXPECT_EQ(Bytes(image, image + 16), Cat({Str("TKDBAA123456789"), {0}}));
  h.RecordCount = 42;
  UpdateHeader(&h);
  EXPECT_EQ(Bytes(image, image + 9), Cat({Str("TKDBAA42"), {0}}));
}

TEST_F(DbTFixture, ByteOrderProbe) {
  DbT h{};
  DbTSetDbType(&h, 1);
  EXPECT_EQ(h.DbType, 1);
  EXPECT_EQ(h.flSwap, 0);
  DbTSetDbType(&h, 2);
  EXPECT_EQ(h.flSwap, 1);
  DbTSetDbType(&h, 0);
  EXPECT_EQ(h.flSwap, 1);
  EXPECT_EQ(Bytes(TLBuf, TLBuf + 4), (Bytes{1, 2, 3, 4}));
}

TEST_F(DbTFixture, CursorTransferIsTheChainedXor) {
  unsigned char image[8] = {0};
  DbT h{};
  h.pImage = image;
  h.ImageLen = h.ImageCap = 8;
  h.Pos = 1;
  DbmTPutData(&h, "ABC", 3);
  EXPECT_EQ(Bytes(image + 1, image + 4), (Bytes{0x03, 0x01, 0x43}));
  EXPECT_EQ(h.Pos, 4);
  DbmTPutData(&h, "Z", 1);
  EXPECT_EQ(image[4], 'Z');  // one byte stays as it is
  DbmTPutData(&h, "12345", 5);  // would pass the image: nothing written
  EXPECT_EQ(h.Pos, 5);
  h.Pos = 1;
  char out[4] = {0};
  DbmTGetData(&h, out, 3);
  EXPECT_STREQ(out, "ABC");
  EXPECT_EQ(h.Pos, 4);
  DbmTGetData(&h, out, 0);
  EXPECT_EQ(h.Pos, 4);
  DbmTGetData(&h, out, 5);  // past the image: nothing read
  EXPECT_EQ(h.Pos, 4);
}

TEST_F(DbTFixture, CursorTransferOfEveryLength) {
  for (int n = 1; n <= 70; n++) {
    Bytes plain(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) plain[size_t(i)] = (unsigned char)(i * 37 + n);
    Bytes image(size_t(n) + 3, 0xAA);
    DbT h{};
    h.pImage = image.data();
    h.ImageLen = h.ImageCap = n + 3;
    h.Pos = 3;
    DbmTPutData(&h, plain.data(), n);
    EXPECT_EQ(Bytes(image.begin() + 3, image.end()), Scrambled(plain)) << n;
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 3), Bytes(3, 0xAA));
    Bytes back(size_t(n) + 1, 0x55);
    h.Pos = 3;
    DbmTGetData(&h, back.data(), n);
    EXPECT_EQ(Bytes(back.begin(), back.end() - 1), plain) << n;
    EXPECT_EQ(back.back(), 0x55);
  }
}

TEST_F(DbTFixture, PlainFilesReadTheSameAndStayPlain) {
  ASSERT_EQ(DbmPutRecord("p", "a", "1", 1), 1);
  ASSERT_EQ(DbmPutRecord("p", "bb", "22", 2), 1);
  ASSERT_EQ(DbmPutRecord("p", "ccc", "333", 3), 1);
  DbT* db = DbTOpen("p", 0);
  EXPECT_EQ(db->DbType, 1);
  EXPECT_EQ(db->flSwap, 0);
  EXPECT_EQ(TGet(db, "bb"), "22");
  EXPECT_EQ(Keys(db), ",a,bb,ccc,");
  // Removing the first record keeps the rest intact and readable.
  EXPECT_EQ(DbmTDeleteRecord(db, "a"), 1);
  EXPECT_EQ(TGet(db, "ccc"), "333");
  ASSERT_EQ(DbmTPutRecord(db, "d", "4444", 4), 1);
  EXPECT_EQ(db->DbType, 1);
  Bytes want = Cat({PlainRecord("bb", Str("22")), PlainRecord("ccc", Str("333")),
                    PlainRecord("d", Str("4444"))});
  EXPECT_EQ(ReadBytes(DbFile("p")), want);
  char buf[8] = {0};
  EXPECT_EQ(DbmGetRecord("p", "d", buf), 4);  // the record-file operations read it too
  EXPECT_STREQ(buf, "4444");
  DbTRec rec;
  ASSERT_EQ(FindTRecord(db, "ccc", &rec), 1);
  EXPECT_EQ(rec.RecLen, 9);
  EXPECT_EQ(rec.KeyLen, 4);
  EXPECT_STREQ(rec.pKey, "ccc");
  EXPECT_EQ(std::string(rec.pKey + 4, 3), "333");
  DbTClose(db);
}

TEST_F(DbTFixture, ReplacingStoreKeepsOneRecordLastAndTheCount) {
  DbT* db = DbTOpen("t", 0);
  ASSERT_EQ(DbmTPutRecord(db, "a", "x", 1), 1);
  ASSERT_EQ(DbmTPutRecord(db, "b", "y", 1), 1);
  ASSERT_EQ(DbmTPutRecord(db, "a", "zz", 2), 1);
  EXPECT_EQ(db->RecordCount, 2);
  EXPECT_EQ(Keys(db), ",b,a,");
  EXPECT_EQ(TGet(db, "a"), "zz");
  Bytes f = ReadBytes(DbFile("t"));
  EXPECT_EQ(std::string(f.begin(), f.begin() + 8), std::string("TKDBAA2\0", 8));
  EXPECT_EQ(Bytes(f.begin() + 16, f.end()),
            Cat({HeadedRecord("b", Str("y")), HeadedRecord("a", Str("zz"))}));
  DbTClose(db);
}

TEST_F(DbTFixture, ExactAndPrefixMatching) {
  DbT* db = DbTOpen("t", 0);
  for (const char* k : {"a", "ab", "abc", "b"}) ASSERT_EQ(DbmTPutRecord(db, k, k, int(strlen(k))), 1);
  EXPECT_EQ(TGet(db, "ab"), "ab");
  EXPECT_EQ(DbmTGetRecordSize(db, "abcd"), 0);
  EXPECT_EQ(DbmTGetRecordSize(db, ""), 0);
  EXPECT_EQ(DbmTDeleteRecords(db, "ab"), 1);
  EXPECT_EQ(Keys(db), ",a,b,");
  EXPECT_EQ(db->RecordCount, 2);
  EXPECT_EQ(DbmTDeleteRecords(db, "zz"), 1);
  EXPECT_EQ(DbmTDeleteRecords(db, ""), 0);
  EXPECT_EQ(DbmTDeleteRecord(db, "zz"), 0);
  EXPECT_EQ(DbmTDeleteRecord(db, "a"), 1);
  EXPECT_EQ(Keys(db), ",b,");
  DbTClose(db);
  db = DbTOpen("t", 0);
  EXPECT_EQ(Keys(db), ",b,");
  EXPECT_EQ(PurgeTRecord(db, "b", 0), 1);  // the image only
  EXPECT_EQ(Keys(db), "(null)");
  DbTClose(db);
  db = DbTOpen("t", 0);
  EXPECT_EQ(Keys(db), ",b,");
  DbTClose(db);
}

TEST_F(DbTFixture, FlagFourDefersTheArchive) {
  DbT* db = DbTOpen("t", 4);
  ASSERT_EQ(DbmTPutRecord(db, "a", "1", 1), 1);
  EXPECT_FALSE(Exists(DbFile("t")));
  EXPECT_EQ(TGet(db, "a"), "1");
  ASSERT_EQ(DbmTArchiveDb(db), 1);
  Bytes before = ReadBytes(DbFile("t"));
  EXPECT_EQ(Bytes(before.begin() + 16, before.end()), HeadedRecord("a", Str("1")));
  ASSERT_EQ(DbmTPutRecord(db, "b", "2", 1), 1);
  EXPECT_EQ(DbmTDeleteRecord(db, "a"), 1);
  EXPECT_EQ(ReadBytes(DbFile("t")), before);
  ASSERT_EQ(DbmTArchiveDb(db), 1);
  DbTClose(db);
  db = DbTOpen("t", 0);
  EXPECT_EQ(Keys(db), ",b,");
  DbTClose(db);
}

// Another process stores through its own handle; flag 2 does not look, flag 0 sees it at once
// (the same second included: the file is recognised by its identity, not the second alone).
TEST_F(DbTFixture, RefreshSeesAnotherProcessesChange) {
  DbT* db = DbTOpen("t", 0);
  ASSERT_EQ(DbmTPutRecord(db, "a", "1", 1), 1);
  DbT* frozen = DbTOpen("t", 2);
  EXPECT_EQ(TGet(frozen, "a"), "1");
  for (int round = 0; round < 3; round++) {
    pid_t pid = fork();
    if (pid == 0) {
      DbT* other = DbTOpen("t", 0);
      std::string v = std::to_string(round);
      int ok = DbmTPutRecord(other, "b", v.data(), int(v.size()));
      _exit(ok ? 0 : 1);
    }
    int status;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(TGet(db, "b"), std::to_string(round));
  }
  EXPECT_EQ(DbmTGetRecordSize(frozen, "b"), 0);
  EXPECT_EQ(Keys(db), ",a,b,");
  DbTUpDate(frozen);  // asked for explicitly, the refresh happens
  EXPECT_EQ(TGet(frozen, "b"), "2");
  // The file removed: the handle keeps its image.
  ASSERT_EQ(unlink(DbFile("t").c_str()), 0);
  EXPECT_EQ(TGet(db, "a"), "1");
  DbTClose(db);
  DbTClose(frozen);
}

TEST_F(DbTFixture, GetRecordV) {
  DbT* db = DbTOpen("t", 0);
  std::string big(3000, 'b'), fit(2048, 'f');
  ASSERT_EQ(DbmTPutRecord(db, "big", big.data(), 3000), 1);
  ASSERT_EQ(DbmTPutRecord(db, "fit", fit.data(), 2048), 1);
  char own[2048];
  char* p = own;
  EXPECT_EQ(DbmTGetRecordV(db, "big", &p, 2048), 3000);
  ASSERT_NE(p, own);
  EXPECT_EQ(std::string(p, 3000), big);
  PutMem(p);
  p = own;
  EXPECT_EQ(DbmTGetRecordV(db, "fit", &p, 2048), 2048);
  EXPECT_EQ(p, own);
  EXPECT_EQ(std::string(own, 2048), fit);
  EXPECT_EQ(DbmTGetRecordV(db, "none", &p, 2048), 0);
  EXPECT_EQ(DbmTGetRecordV(db, "fit", nullptr, 2048), 0);
  DbTClose(db);
}

TEST_F(DbTFixture, TestKeyName) {
  EXPECT_EQ(TestKeyName("25_1001", "20,25"), 1);
  EXPECT_EQ(TestKeyName("25_1001", "251"), 0);
  EXPECT_EQ(TestKeyName("25_1001", ""), 0);
  EXPECT_EQ(TestKeyName("25_1001", ",,25_,"), 1);
  EXPECT_EQ(TestKeyName("a,b", "a\\,"), 1);  // an escaped comma belongs to the name
  EXPECT_EQ(TestKeyName(nullptr, "a"), 0);
  EXPECT_EQ(TestKeyName("a", nullptr), 0);
}

TEST_F(DbTFixture, ListsCopiesAndLinks) {
  DbT* db = DbTOpen("t", 0);
  ASSERT_EQ(DbmTPutRecord(db, "20_1", "x", 1), 1);
  ASSERT_EQ(DbmTPutRecord(db, "25_1", "one", 3), 1);
  ASSERT_EQ(DbmTPutRecord(db, "25_2", "two", 3), 1);
  char* s = DbmTGetRecordListS(db, "25", "[", "]");
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(s, "[25_1[25_2]");
  PutMem(s);
  EXPECT_EQ(DbmTGetRecordListS(db, "", "[", "]"), nullptr);
  EXPECT_EQ(DbmTGetRecordListS(db, "9", "[", "]"), nullptr);
  EXPECT_EQ(DbmTGetRecordList(db, nullptr, ","), nullptr);
  EXPECT_EQ(DbmTCopyRecord(db, "25_2", "30_1"), 1);
  EXPECT_EQ(TGet(db, "30_1"), "two");
  EXPECT_EQ(DbmTCopyRecord(db, "none", "30_2"), 0);
  DbLink* p = DbmTGetDbLinkList(db, "_1");
  ASSERT_NE(p, nullptr);
  std::map<std::string, std::string> got;
  for (DbLink* q = p; q; q = q->pNext) {
    EXPECT_EQ(q->pData, q->pBlock + strlen(reinterpret_cast<char*>(q->pBlock)) + 1);
    got[reinterpret_cast<char*>(q->pBlock)] = std::string(reinterpret_cast<char*>(q->pData), size_t(q->DataLen));
  }
  EXPECT_EQ(got, (std::map<std::string, std::string>{{"20_1", "x"}, {"25_1", "one"}, {"30_1", "two"}}));
  EXPECT_STREQ(reinterpret_cast<char*>(p->pBlock), "20_1");  // image order
  DbmFreeDbLinkList(p);
  DbTClose(db);
}

TEST_F(DbTFixture, WalkAndFind) {
  DbT* db = DbTOpen("t", 0);
  ASSERT_EQ(DbmTPutRecord(db, "k1", "data1", 5), 1);
  ASSERT_EQ(DbmTPutRecord(db, "k2", "d2", 2), 1);
  DbTRec rec;
  ASSERT_NE(WalkDbTRecords(db, &rec, 0), nullptr);
  EXPECT_EQ(rec.RecLen, 10);
  EXPECT_EQ(rec.KeyLen, 3);
  EXPECT_EQ(db->Pos, 20);  // at the key
  char key[3];
  DbmTGetData(db, key, 3);
  EXPECT_STREQ(key, "k1");
  ASSERT_NE(WalkDbTRecords(db, &rec, 1), nullptr);
  EXPECT_EQ(rec.RecLen, 7);
  EXPECT_EQ(WalkDbTRecords(db, &rec, 1), nullptr);
  ASSERT_EQ(FindTRecord(db, "k1", &rec), 1);
  char data[5];
  DbmTGetData(db, data, 5);  // the cursor stands at the data
  EXPECT_EQ(std::string(data, 5), "data1");
  EXPECT_EQ(FindTRecord(db, "k3", &rec), 0);
  EXPECT_EQ(FindTRecord(db, "", &rec), 0);
  DbTClose(db);
}

// A hand-written file may hold a key twice: the first in file order is the one read, a
// removal takes both.
TEST_F(DbTFixture, DuplicateKeysInAHandWrittenFile) {
  MakeDbDir();
  WriteBytes(DbFile("t"), Cat({Header("3"), HeadedRecord("k", Str("first")),
                               HeadedRecord("j", Str("j")), HeadedRecord("k", Str("second"))}));
  DbT* db = DbTOpen("t", 0);
  EXPECT_EQ(TGet(db, "k"), "first");
  EXPECT_EQ(DbmTDeleteRecord(db, "k"), 1);
  EXPECT_EQ(DbmTGetRecordSize(db, "k"), 0);
  EXPECT_EQ(Keys(db), ",j,");
  DbTClose(db);
}

TEST_F(DbTFixture, RefusesRecordsTooLargeForTheFormat) {
  DbT* db = DbTOpen("t", 0);
  ASSERT_EQ(DbmTPutRecord(db, "k", "v", 1), 1);
  Bytes before = ReadBytes(DbFile("t"));
  std::string data(65531, 'd');  // "ab" and its NUL are 3 bytes: 65530 is the most
  EXPECT_EQ(DbmTPutRecord(db, "ab", data.data(), 65531), 0);
  EXPECT_EQ(ReadBytes(DbFile("t")), before);
  EXPECT_EQ(Keys(db), ",k,");
  ASSERT_EQ(DbmTPutRecord(db, "ab", data.data(), 65530), 1);
  EXPECT_EQ(DbmTGetRecordSize(db, "ab"), 65530);
  DbTClose(db);
  db = DbTOpen("t", 0);
  EXPECT_EQ(TGet(db, "ab"), data.substr(0, 65530));
  EXPECT_EQ(DbmTPutRecord(db, "k", "v", 0), 0);
  EXPECT_EQ(DbmTPutRecord(db, "", "v", 1), 0);
  EXPECT_EQ(DbmTPutRecord(db, "k", nullptr, 1), 0);
  EXPECT_EQ(DbmTPutRecord(nullptr, "k", "v", 1), 0);
  DbTClose(db);
  // A plain file holds less: 65525 bytes of key, NUL and data.
  ASSERT_EQ(DbmPutRecord("p", "k", "v", 1), 1);
  db = DbTOpen("p", 0);
  before = ReadBytes(DbFile("p"));
  EXPECT_EQ(DbmTPutRecord(db, "ab", data.data(), 65523), 0);
  EXPECT_EQ(ReadBytes(DbFile("p")), before);
  ASSERT_EQ(DbmTPutRecord(db, "ab", data.data(), 65522), 1);
  EXPECT_EQ(DbmGetRecordSize("p", "ab"), 65522);
  DbTClose(db);
}

TEST_F(DbTFixture, PathsAndArchivingBesideTheOpenedFile) {
  std::string dir = tool_ + "/elsewhere";
  // "/..." without a dot gets ".kdb"; the rewrite sits beside the file and is renamed over it.
  std::string noDot = "/tmp/" + std::string(strrchr(tool_.c_str(), '/') + 1) + "/elsewhere/cat";
  ASSERT_EQ(noDot.find('.'), std::string::npos);
  DbT* db = DbTOpen(noDot.c_str(), 0);
  ASSERT_EQ(DbmTPutRecord(db, "a", "1", 1), 1);
  EXPECT_TRUE(Exists(dir + "/cat.kdb"));
  EXPECT_FALSE(Exists(dir + "/cat.kdb_new"));
  EXPECT_FALSE(Exists(tool_ + "/db"));
  DbTClose(db);
  // A path with a dot is taken as it is, also with another extension.
  db = DbTOpen((dir + "/other.dat").c_str(), 0);
  ASSERT_EQ(DbmTPutRecord(db, "b", "2", 1), 1);
  EXPECT_TRUE(Exists(dir + "/other.dat"));
  EXPECT_FALSE(Exists(dir + "/other.dat_new"));
  DbTClose(db);
  // A name beginning with "." is relative to the working directory.
  db = DbTOpen("./elsewhere/cat.kdb", 0);
  EXPECT_EQ(TGet(db, "a"), "1");
  DbTClose(db);
  // Plain names live in <tool>/db; a catalogue name may hold a directory.
  db = DbTOpen("en_US/CoreString", 0);
  ASSERT_EQ(DbmTPutRecord(db, "1_1", "hello", 5), 1);
  EXPECT_TRUE(Exists(tool_ + "/db/en_US/CoreString.kdb"));
  DbTClose(db);
}

TEST_F(DbTFixture, EmptyAndOneByteFiles) {
  MakeDbDir();
  WriteBytes(DbFile("e"), {});
  DbT* db = DbTOpen("e", 0);
  ASSERT_NE(db->pImage, nullptr);
  EXPECT_EQ(db->DbType, 0);
  EXPECT_EQ(db->ImageLen, 16);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(db->pImage), 8), std::string("TKDBAA0\0", 8));
  EXPECT_EQ(Keys(db), "(null)");
  ASSERT_EQ(DbmTPutRecord(db, "a", "1", 1), 1);
  EXPECT_EQ(db->DbType, 2);
  Bytes f = ReadBytes(DbFile("e"));
  EXPECT_EQ(Bytes(f.begin() + 16, f.end()), HeadedRecord("a", Str("1")));
  DbTClose(db);
  WriteBytes(DbFile("one"), {7});
  db = DbTOpen("one", 0);
  EXPECT_EQ(db->DbType, 1);
  EXPECT_EQ(db->ImageLen, 0);  // the cut-short record is dropped
  DbTClose(db);
  db = DbTOpen("./db", 0);  // a directory: no content (and no waiting for it to become a file)
  EXPECT_EQ(db->DbType, 0);
  EXPECT_EQ(db->ImageLen, 16);
  DbTClose(db);
}

TEST_F(DbTFixture, DamagedImagesAreCutBeforeTheDamage) {
  MakeDbDir();
  Bytes good = Cat({HeadedRecord("a", Str("1")), HeadedRecord("b", Str("22"))});
  Bytes last = HeadedRecord("c", Str("333"));
  struct Case {
    const char* what;
    Bytes tail;
  } cases[] = {
      {"record cut short", Bytes(last.begin(), last.end() - 1)},  // (nothing may follow it)
      {"length cut in half", {0}},
      {"length past the end", {0xFF, 0xF0, 0x00, 0x02, 'c', 0}},
      {"key length above the record", {0x00, 0x04, 0x00, 0x09, 'c', 0}},
      {"key without NUL", {0x00, 0x05, 0x00, 0x02, 'c', 'd', 'x'}},
      {"zero key length", {0x00, 0x03, 0x00, 0x00, 'x'}},
      {"zero record length", {0x00, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes after = c.tail.size() == last.size() - 1 ? Bytes{} : HeadedRecord("d", Str("4"));
    WriteBytes(DbFile("t"), Cat({Header("999999999"), good, c.tail, after}));
    DbT* db = DbTOpen("t", 0);
    EXPECT_EQ(db->ImageLen, int(16 + good.size()));
    EXPECT_EQ(db->RecordCount, 2);  // the whole records, not the header's word
    EXPECT_EQ(Keys(db), ",a,b,");
    EXPECT_EQ(TGet(db, "b"), "22");
    EXPECT_EQ(DbmTGetRecordSize(db, "d"), 0);
    DbTClose(db);
  }
  // The same in a plain file.
  Bytes plainGood = Cat({PlainRecord("a", Str("1")), PlainRecord("b", Str("22"))});
  Bytes badKey = Cat({{6, 0}, Scrambled({9, 0, 'c', 0, 'x', 'y'})});
  Bytes noNul = Cat({{6, 0}, Scrambled({2, 0, 'c', 'd', 'x', 'y'})});
  Bytes plainLast = PlainRecord("c", Str("333"));
  Bytes plainCut(plainLast.begin(), plainLast.end() - 1);
  for (const Bytes& tail : {Bytes{5}, Bytes{0xF0, 0xFF, 1}, badKey, noNul, plainCut}) {
    Bytes after = tail == plainCut ? Bytes{} : PlainRecord("d", Str("4"));
    WriteBytes(DbFile("p"), Cat({plainGood, tail, after}));
    DbT* db = DbTOpen("p", 0);
    EXPECT_EQ(db->DbType, 1);
    EXPECT_EQ(db->ImageLen, int(plainGood.size()));
    EXPECT_EQ(Keys(db), ",a,b,");
    // A change writes back the whole records only.
    ASSERT_EQ(DbmTPutRecord(db, "e", "5", 1), 1);
    EXPECT_EQ(ReadBytes(DbFile("p")), Cat({plainGood, PlainRecord("e", Str("5"))}));
    DbTClose(db);
  }
  // A header cut short, and a silly count: records go after a whole header.
  for (const Bytes& head : {Str("TKDBA"), Cat({Str("TKDBAA-7"), {0}}), Str("TKDBAA99999999999999")}) {
    WriteBytes(DbFile("h"), head);
    DbT* db = DbTOpen("h", 0);
    EXPECT_EQ(db->DbType, 2);
    EXPECT_EQ(db->RecordCount, 0);
    ASSERT_EQ(DbmTPutRecord(db, "a", "1", 1), 1);
    Bytes f = ReadBytes(DbFile("h"));
    ASSERT_EQ(f.size(), 16 + HeadedRecord("a", Str("1")).size());
    EXPECT_EQ(std::string(f.begin(), f.begin() + 8), std::string("TKDBAA1\0", 8));
    DbTClose(db);
  }
}

// Random bytes after a header and in a plain file: never read past the image (the sanitizer
// build checks), and every listed key can be looked up.
TEST_F(DbTFixture, HostileBytesAreReadSafely) {
  MakeDbDir();
  srand(99);
  for (int round = 0; round < 300; round++) {
    Bytes b = round % 2 ? Header("5") : Bytes{};
    int n = rand() % 200;
    for (int i = 0; i < n; i++) b.push_back((unsigned char)(rand() % 4 == 0 ? 0 : rand() & 0xFF));
    WriteBytes(DbFile("h"), b);
    DbT* db = DbTOpen("h", 0);
    ASSERT_NE(db, nullptr);
    EXPECT_LE(db->ImageLen, int(std::max<size_t>(b.size(), 16)));
    DbLink* p = DbmTGetDbLinkList(db, "");
    for (DbLink* q = p; q; q = q->pNext) {
      const char* key = reinterpret_cast<char*>(q->pBlock);
      if (*key) {
        EXPECT_GE(DbmTGetRecordSize(db, key), 0);
      }
    }
    DbmFreeDbLinkList(p);
    char* s = DbmTGetRecordList(db, ",", ",");
    PutMem(s);
    DbTClose(db);
  }
}

// The index follows every change: lookups after stores, replacements, removals and reloads
// agree with a plain map (archiving every change, and in memory with flag 4).
TEST_F(DbTFixture, LookupsFollowEveryChange) {
  for (int flags : {0, 4}) {
    SCOPED_TRACE(flags);
    int nKeys = flags ? 900 : 60, nOps = flags ? 4000 : 400;
    DbT* db = DbTOpen(flags ? "mem" : "t", flags);
    std::map<std::string, std::string> want;
    srand(5);
    for (int i = 0; i < nOps; i++) {
      std::string key = std::to_string(rand() % nKeys) + "_" + std::to_string(rand() % 5);
      int op = rand() % 20;
      if (op < 14) {
        std::string v(size_t(1 + rand() % 40), char('a' + rand() % 26));
        ASSERT_EQ(DbmTPutRecord(db, key.c_str(), v.data(), int(v.size())), 1);
        want[key] = v;
      } else if (op < 17) {
        EXPECT_EQ(DbmTDeleteRecord(db, key.c_str()), want.erase(key) ? 1 : 0);
      } else if (op < 18) {
        std::string prefix = key.substr(0, 3);
        EXPECT_EQ(DbmTDeleteRecords(db, prefix.c_str()), 1);
        for (auto it = want.begin(); it != want.end();) {
          it = it->first.compare(0, prefix.size(), prefix) == 0 ? want.erase(it) : std::next(it);
        }
      } else if (op < 19) {
        if (flags) {
          ASSERT_EQ(DbmTArchiveDb(db), 1);
        }
        DbTClose(db);
        db = DbTOpen(flags ? "mem" : "t", flags);
      }
      std::string probe = std::to_string(rand() % nKeys) + "_" + std::to_string(rand() % 5);
      auto it = want.find(probe);
      ASSERT_EQ(TGet(db, probe.c_str()), it == want.end() ? "" : it->second) << probe << " at " << i;
    }
    for (const auto& kv : want) EXPECT_EQ(TGet(db, kv.first.c_str()), kv.second);
    EXPECT_EQ(db->RecordCount, int(want.size()));
    DbTClose(db);
  }
}

}  // namespace
