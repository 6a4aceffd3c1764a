// Record files: byte layout, every operation's results, matching, damage, limits.
#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "base/MemMgr.h"
#include "db/Dbm.h"
#include "db_test_util.h"

namespace {

using DbmFile = DbTest;

std::string Get(const char* name, const char* key) {
  int n = DbmGetRecordSize(name, key);
  std::string out(size_t(n) + 8, '#');
  int got = DbmGetRecord(name, key, &out[0]);
  EXPECT_EQ(got, n);
  out.resize(size_t(got));
  return out;
}

TEST_F(DbmFile, KnownRecordByteForByte) {
  ASSERT_EQ(DbmPutRecord("t", "ab", "xyz", 3), 1);
  // N = 8; body 03 00 'a' 'b' 00 'x' 'y' 'z' chained: 03 61 03 62 78 01 03 7a.
  Bytes want = {0x08, 0x00, 0x03, 0x61, 0x03, 0x62, 0x78, 0x01, 0x03, 0x7a};
  EXPECT_EQ(ReadBytes(DbFile("t")), want);
  EXPECT_EQ(want, PlainRecord("ab", Str("xyz")));
  EXPECT_FALSE(Exists(DbFile("t") + "_new"));  // the rewrite file became the database
  struct stat st;
  ASSERT_EQ(stat(DbFile("t").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
  ASSERT_EQ(stat((tool_ + "/db").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0777u);
}

TEST_F(DbmFile, PutDataScramblesTheBodyAndGetDataUndoesIt) {
  MakeDbDir();
  std::string path = tool_ + "/raw";
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  unsigned char rec[kDbmRecBufSize];
  unsigned char three[] = {0x03, 0x00, 0x41, 0x42, 0x43};
  memcpy(rec, three, sizeof three);
  ASSERT_EQ(PutData(f, rec), 1);
  unsigned char one[] = {0x01, 0x00, 0x41};
  memcpy(rec, one, sizeof one);
  ASSERT_EQ(PutData(f, rec), 1);
  fclose(f);
  Bytes want = {0x03, 0x00, 0x03, 0x01, 0x43, 0x01, 0x00, 0x41};  // 41 42 43 -> 03 01 43
  EXPECT_EQ(ReadBytes(path), want);

  WriteBytes(path, PlainRecord("k", Str("v1")));
  f = fopen(path.c_str(), "rb");
  ASSERT_EQ(GetData(f, rec), 1);
  Bytes body(rec, rec + 7);
  EXPECT_EQ(body, (Bytes{0x06, 0x00, 0x02, 0x00, 'k', 0, 'v'}));
  EXPECT_EQ(rec[7], '1');
  EXPECT_EQ(GetData(f, rec), 0);  // end of file
  fclose(f);
}

TEST_F(DbmFile, ReplacingStoreMovesTheKeyLast) {
  ASSERT_EQ(DbmPutRecord("t", "a", "x", 1), 1);
  ASSERT_EQ(DbmPutRecord("t", "b", "bb", 2), 1);
  ASSERT_EQ(DbmPutRecord("t", "a", "y", 1), 1);
  EXPECT_EQ(ReadBytes(DbFile("t")), Cat({PlainRecord("b", Str("bb")), PlainRecord("a", Str("y"))}));
  char buf[8] = {0};
  EXPECT_EQ(DbmGetRecord("t", "a", buf), 1);
  EXPECT_EQ(buf[0], 'y');
  char* list = DbmGetRecordList("t", ",", ",");
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list, ",b,a,");
  PutMem(list);
}

TEST_F(DbmFile, DataKeepsExactlyTheBytesGiven) {
  ASSERT_EQ(DbmPutRecord("t", "two", "hi", 2), 1);
  ASSERT_EQ(DbmPutRecord("t", "three", "hi", 3), 1);
  EXPECT_EQ(Get("t", "two"), std::string("hi"));
  EXPECT_EQ(Get("t", "three"), std::string("hi\0", 3));
  unsigned char bin[256];
  for (int i = 0; i < 256; i++) bin[i] = (unsigned char)i;
  ASSERT_EQ(DbmPutRecord("t", "bin", bin, 256), 1);
  std::string got = Get("t", "bin");
  ASSERT_EQ(got.size(), 256u);
  EXPECT_EQ(memcmp(got.data(), bin, 256), 0);
}

TEST_F(DbmFile, RefusesWhatItCannotStore) {
  EXPECT_EQ(DbmPutRecord(nullptr, "k", "x", 1), 0);
  EXPECT_EQ(DbmPutRecord("t", nullptr, "x", 1), 0);
  EXPECT_EQ(DbmPutRecord("t", "k", nullptr, 1), 0);
  EXPECT_EQ(DbmPutRecord("t", "k", "x", 0), 0);
  EXPECT_EQ(DbmPutRecord("t", "", "x", 1), 0);
  EXPECT_FALSE(Exists(DbFile("t")));
  ASSERT_EQ(DbmPutRecord("t", "k", "x", 1), 1);
  Bytes before = ReadBytes(DbFile("t"));
  // Key "big" with its NUL is 4 bytes: 65521 data bytes make 65525, the most a record holds.
  std::string data(65522, 'd');
  EXPECT_EQ(DbmPutRecord("t", "big", data.data(), 65522), 0);
  EXPECT_EQ(ReadBytes(DbFile("t")), before);
  EXPECT_FALSE(Exists(DbFile("t") + "_new"));
  ASSERT_EQ(DbmPutRecord("t", "big", data.data(), 65521), 1);
  EXPECT_EQ(DbmGetRecordSize("t", "big"), 65521);
  EXPECT_EQ(Get("t", "big"), data.substr(0, 65521));
  EXPECT_EQ(Get("t", "k"), "x");
}

TEST_F(DbmFile, ExactKeysAndPrefixes) {
  ASSERT_EQ(DbmPutRecord("t", "ab", "1", 1), 1);
  EXPECT_EQ(DbmGetRecordSize("t", "a"), 0);
  EXPECT_EQ(DbmGetRecordSize("t", "abc"), 0);
  ASSERT_EQ(DbmPutRecord("t", "a", "22", 2), 1);
  EXPECT_EQ(Get("t", "ab"), "1");
  EXPECT_EQ(Get("t", "a"), "22");
  ASSERT_EQ(DbmPutRecord("t", "abc", "3", 1), 1);
  ASSERT_EQ(DbmPutRecord("t", "b", "4", 1), 1);
  EXPECT_EQ(DbmDeleteRecords("t", "ab"), 1);
  char* list = DbmGetRecordList("t", "<", ">");
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list, "<a<b>");
  PutMem(list);
  EXPECT_EQ(DbmDeleteRecords("t", ""), 0);
  EXPECT_EQ(DbmDeleteRecords("t", nullptr), 0);
  EXPECT_EQ(DbmDeleteRecords("missing", "a"), 0);
}

TEST_F(DbmFile, DeleteRecord) {
  EXPECT_EQ(DbmDeleteRecord("t", "a"), 0);  // no database
  EXPECT_FALSE(Exists(DbFile("t")));
  ASSERT_EQ(DbmPutRecord("t", "a", "x", 1), 1);
  ASSERT_EQ(DbmPutRecord("t", "b", "y", 1), 1);
  Bytes before = ReadBytes(DbFile("t"));
  EXPECT_EQ(DbmDeleteRecord("t", "c"), 1);  // not there: rewritten unchanged
  EXPECT_EQ(ReadBytes(DbFile("t")), before);
  EXPECT_EQ(DbmDeleteRecord("t", "a"), 1);
  EXPECT_EQ(ReadBytes(DbFile("t")), PlainRecord("b", Str("y")));
  EXPECT_EQ(DbmDeleteRecord("t", nullptr), 0);
  EXPECT_FALSE(Exists(DbFile("t") + "_new"));
}

TEST_F(DbmFile, ReadsOfMissingDatabasesAndArguments) {
  char buf[16];
  EXPECT_EQ(DbmGetRecord("none", "a", buf), 0);
  EXPECT_EQ(DbmGetRecord(nullptr, "a", buf), 0);
  EXPECT_EQ(DbmGetRecordSize("none", "a"), 0);
  EXPECT_EQ(DbmGetNextRecord("none", buf), 0);
  EXPECT_EQ(DbmGetRecordList("none", ",", ","), nullptr);
  EXPECT_EQ(DbmGetDbLinkList("none", ""), nullptr);
  EXPECT_EQ(OpenDataBase("none", "kdb", "rb", 1), nullptr);
  EXPECT_EQ(DbmCopyRecord("none", "a", "b"), 0);
  MakeDbDir();
  WriteBytes(DbFile("empty"), {});
  EXPECT_EQ(DbmGetRecordList("empty", ",", ","), nullptr);  // not the "after" text alone
}

TEST_F(DbmFile, GetNextRecordWalksWithTheSharedPosition) {
  ASSERT_EQ(DbmPutRecord("t", "a", "first", 5), 1);
  ASSERT_EQ(DbmPutRecord("t", "b", "second!", 7), 1);
  char buf[16] = {0};
  EXPECT_EQ(DbmGetNextRecord("t", buf), 5);
  EXPECT_EQ(std::string(buf, 5), "first");
  EXPECT_EQ(DbmGetNextRecord("t", buf), 7);
  EXPECT_EQ(std::string(buf, 7), "second!");
  EXPECT_EQ(DbmGetNextRecord("t", buf), 0);
  EXPECT_EQ(DbmGetNextRecord("t", buf), 0);
  EXPECT_EQ(Ent2Get, 2);
  EXPECT_EQ(DbmGetNextRecord(nullptr, buf), 0);
}

TEST_F(DbmFile, CopyRecord) {
  ASSERT_EQ(DbmPutRecord("t", "a", "data", 4), 1);
  EXPECT_EQ(DbmCopyRecord("t", "a", "b"), 1);
  EXPECT_EQ(Get("t", "b"), "data");
  EXPECT_EQ(DbmCopyRecord("t", "zz", "c"), 0);
  EXPECT_EQ(DbmGetRecordSize("t", "c"), 0);
  EXPECT_EQ(DbmCopyRecord("t", nullptr, "c"), 0);
}

TEST_F(DbmFile, LinkListOfMatchingKeys) {
  ASSERT_EQ(DbmPutRecord("t", "25_1", "one", 3), 1);
  ASSERT_EQ(DbmPutRecord("t", "26_1", "x", 1), 1);
  ASSERT_EQ(DbmPutRecord("t", "25_2", "two2", 4), 1);
  DbLink* p = DbmGetDbLinkList("t", "25_");
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(reinterpret_cast<char*>(p->pBlock), "25_1");
  EXPECT_EQ(p->pData, p->pBlock + 5);
  EXPECT_EQ(p->DataLen, 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(p->pData), 3), "one");
  ASSERT_NE(p->pNext, nullptr);
  EXPECT_STREQ(reinterpret_cast<char*>(p->pNext->pBlock), "25_2");
  EXPECT_EQ(p->pNext->DataLen, 4);
  EXPECT_EQ(p->pNext->pNext, nullptr);
  DbmFreeDbLinkList(p);
  p = DbmGetDbLinkList("t", "");
  int n = 0;
  for (DbLink* q = p; q; q = q->pNext) n++;
  EXPECT_EQ(n, 3);
  DbmFreeDbLinkList(p);
  EXPECT_EQ(DbmGetDbLinkList("t", "nomatch"), nullptr);
  EXPECT_EQ(DbmGetDbLinkList("t", nullptr), nullptr);
}

TEST_F(DbmFile, DumpPrintsLengthsAndBody) {
  MakeDbDir();
  WriteBytes(tool_ + "/d.db", Cat({PlainRecord("ab", Str("x\ny")), PlainRecord("c", {0, 'z'})}));
  testing::internal::CaptureStdout();
  DumpDbm((tool_ + "/d").c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "8 3 ==>{ab.x.y}\n6 2 ==>{c..z}\n");
  testing::internal::CaptureStderr();
  DumpDbm((tool_ + "/missing").c_str());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: can't open file, " + tool_ + "/missing.db\n");
}

// The directory of the example: a.kdb, b.kdb, a.kdb_new, c.d.kdb, notes.txt.
TEST_F(DbmFile, DbListNamesTheDatabasesInDirectoryOrder) {
  EXPECT_EQ(DbmGetDbList(0), nullptr);  // no database directory
  MakeDbDir();
  for (const char* f : {"a.kdb", "b.kdb", "a.kdb_new", "c.d.kdb", "notes.txt"}) {
    WriteBytes(tool_ + "/db/" + f, Str("x"));
  }
  std::vector<std::string> order;
  DIR* d = opendir((tool_ + "/db").c_str());
  while (struct dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n == "a.kdb" || n == "b.kdb") order.push_back(n.substr(0, 1));
  }
  closedir(d);
  ASSERT_EQ(order.size(), 2u);
  char* list = DbmGetDbList(0);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(std::string(list), order[0] + "," + order[1]);
  PutMem(list);
  list = DbmGetDbList(1);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(std::string(list), " " + order[0] + " " + order[1]);
  PutMem(list);
}

TEST_F(DbmFile, RenameAndOpenNew) {
  FILE* f = OpenNewDataBase("n");
  ASSERT_NE(f, nullptr);
  unsigned char rec[kDbmRecBufSize];
  Bytes r = PlainRecord("k", Str("v"));
  Bytes plain = {r[0], r[1], 2, 0, 'k', 0, 'v'};
  memcpy(rec, plain.data(), plain.size());
  ASSERT_EQ(PutData(f, rec), 1);
  fclose(f);
  EXPECT_TRUE(Exists(DbFile("n") + "_new"));
  struct stat st;
  ASSERT_EQ(stat((DbFile("n") + "_new").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
  RenameDataBase("n", "kdb_new", "kdb");
  EXPECT_FALSE(Exists(DbFile("n") + "_new"));
  EXPECT_EQ(ReadBytes(DbFile("n")), r);
  RenameDataBase("n", "nothing", "kdb");  // missing source: nothing changes
  EXPECT_EQ(ReadBytes(DbFile("n")), r);
  DbmCreate();
  DbmDelete();
}

TEST_F(DbmFile, PurgeRecordMatchesExactOrByPrefix) {
  MakeDbDir();
  std::string in = tool_ + "/in", out = tool_ + "/out";
  WriteBytes(in, Cat({PlainRecord("a", Str("1")), PlainRecord("ab", Str("2")),
                      PlainRecord("abc", Str("3")), PlainRecord("b", Str("4"))}));
  FILE* fi = fopen(in.c_str(), "rb");
  FILE* fo = fopen(out.c_str(), "wb");
  EXPECT_EQ(PurgeRecord("t", fi, fo, "ab", 0), 1);
  fclose(fi);
  fclose(fo);
  EXPECT_EQ(ReadBytes(out), Cat({PlainRecord("a", Str("1")), PlainRecord("abc", Str("3")),
                                 PlainRecord("b", Str("4"))}));
  fi = fopen(in.c_str(), "rb");
  fo = fopen(out.c_str(), "wb");
  EXPECT_EQ(PurgeRecord("t", fi, fo, "ab", 2), 1);
  fclose(fi);
  fclose(fo);
  EXPECT_EQ(ReadBytes(out), Cat({PlainRecord("a", Str("1")), PlainRecord("b", Str("4"))}));
  // A failed write stops the copy with the message.
  fi = fopen(in.c_str(), "rb");
  fo = fopen(out.c_str(), "rb");
  testing::internal::CaptureStderr();
  EXPECT_EQ(PurgeRecord("t", fi, fo, "zz", 0), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: Can't write to t");
  fclose(fi);
  fclose(fo);
}

TEST_F(DbmFile, DamagedFilesReadUpToTheDamage) {
  MakeDbDir();
  Bytes good = Cat({PlainRecord("a", Str("1")), PlainRecord("b", Str("22"))});
  Bytes last = PlainRecord("c", Str("333"));
  // The last record cut short.
  WriteBytes(DbFile("t"), Cat({good, Bytes(last.begin(), last.end() - 2)}));
  char* list = DbmGetRecordList("t", ",", "");
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list, ",a,b");
  PutMem(list);
  EXPECT_EQ(Get("t", "b"), "22");
  EXPECT_EQ(DbmGetRecordSize("t", "c"), 0);
  // A length field cut in half, a zero length, a key length above the record length, a key
  // without its NUL, a length above the largest body: each ends the records there.
  Bytes badKey = Cat({{6, 0}, Scrambled({9, 0, 'c', 0, 'x', 'y'})});
  Bytes noNul = Cat({{6, 0}, Scrambled({2, 0, 'c', 'd', 'x', 'y'})});
  Bytes huge = {0xFF, 0xFF, 1, 2, 3};
  for (const Bytes& tail : {Bytes{5}, Bytes{0, 0, 1, 2}, badKey, noNul, huge}) {
    WriteBytes(DbFile("t"), Cat({good, tail, PlainRecord("d", Str("4"))}));
    list = DbmGetRecordList("t", ",", "");
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list, ",a,b");
    PutMem(list);
    EXPECT_EQ(DbmGetRecordSize("t", "d"), 0);
  }
  // A change keeps the whole records and drops the damage.
  ASSERT_EQ(DbmPutRecord("t", "e", "5", 1), 1);
  EXPECT_EQ(ReadBytes(DbFile("t")), Cat({good, PlainRecord("e", Str("5"))}));
}

}  // namespace

namespace {

// The record-file operations do not know the headed format: they find nothing in a headed
// file and refuse to rewrite it, so a catalogue is never turned into garbage.
TEST_F(DbmFile, HeadedFilesAreLeftAlone) {
  DbT* db = DbTOpen("h", 0);
  ASSERT_EQ(DbmTPutRecord(db, "a", "1", 1), 1);
  DbTClose(db);
  Bytes before = ReadBytes(DbFile("h"));
  char buf[8];
  EXPECT_EQ(DbmGetRecord("h", "a", buf), 0);
  EXPECT_EQ(DbmGetRecordList("h", ",", ","), nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(DbmPutRecord("h", "b", "2", 1), 0);
  EXPECT_EQ(DbmDeleteRecord("h", "a"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: Can't write to hERROR: Can't write to h");
  EXPECT_EQ(ReadBytes(DbFile("h")), before);
  EXPECT_FALSE(Exists(DbFile("h") + "_new"));
}

}  // namespace

namespace {

// When the rewrite file cannot be made, nothing changes: not the file, not the image.
TEST_F(DbmFile, AChangeThatCannotBeWrittenChangesNothing) {
  ASSERT_EQ(DbmPutRecord("t", "a", "1", 1), 1);
  DbT* db = DbTOpen("h", 0);
  ASSERT_EQ(DbmTPutRecord(db, "a", "1", 1), 1);
  Bytes plainBefore = ReadBytes(DbFile("t")), headedBefore = ReadBytes(DbFile("h"));
  ASSERT_EQ(mkdir((DbFile("t") + "_new").c_str(), 0777), 0);  // in the way of the rewrite file
  ASSERT_EQ(mkdir((DbFile("h") + "_new").c_str(), 0777), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(DbmPutRecord("t", "b", "2", 1), 0);
  EXPECT_EQ(DbmDeleteRecord("t", "a"), 0);
  EXPECT_EQ(DbmTPutRecord(db, "b", "2", 1), 0);
  EXPECT_EQ(DbmTDeleteRecord(db, "a"), 0);
  std::string t = "ERROR: can't open file, " + DbFile("t") + "_new\n";
  std::string h = "ERROR: can't open file, " + DbFile("h") + "_new\n";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), t + t + h + h);
  EXPECT_EQ(ReadBytes(DbFile("t")), plainBefore);
  EXPECT_EQ(ReadBytes(DbFile("h")), headedBefore);
  char buf[4];
  EXPECT_EQ(DbmTGetRecord(db, "a", buf), 1);
  EXPECT_EQ(DbmTGetRecordSize(db, "b"), 0);
  DbTClose(db);
}

}  // namespace
