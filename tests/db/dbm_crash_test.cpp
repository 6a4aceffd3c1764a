// Writers killed at random moments and several writers at once: the database file is always
// whole, holds every record of the old or the new state, and no completed store is lost.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/MemMgr.h"
#include "db/Dbm.h"
#include "db_test_util.h"

namespace {

using DbCrash = DbTest;

struct Rec {
  std::string key;
  Bytes data;
};

Bytes Unscrambled(const unsigned char* s, size_t n) {
  Bytes p(s, s + n);
  for (size_t i = n; i-- > 1;) p[i - 1] = s[i - 1] ^ p[i];
  return p;
}

// Parses a whole file independently of the library; false when anything is left over or a
// record is damaged.
bool ParseFile(const Bytes& f, std::vector<Rec>* out) {
  out->clear();
  bool headed = f.size() >= 5 && memcmp(f.data(), "TKDBA", 5) == 0;
  size_t off = 0;
  if (headed) {
    if (f.size() < 16) return false;
    off = 16;
  }
  while (off < f.size()) {
    if (off + 2 > f.size()) return false;
    size_t n = headed ? (f[off] << 8 | f[off + 1]) : (f[off + 1] << 8 | f[off]);
    if (n < 2 || off + 2 + n > f.size()) return false;
    Rec r;
    if (headed) {
      size_t k = f[off + 2] << 8 | f[off + 3];
      if (k < 1 || k + 2 > n) return false;
      Bytes key = Unscrambled(&f[off + 4], k);
      if (key.back() != 0) return false;
      r.key.assign(key.begin(), key.end() - 1);
      r.data = Unscrambled(&f[off + 4 + k], n - 2 - k);
    } else {
      Bytes body = Unscrambled(&f[off + 2], n);
      size_t k = body[0] | body[1] << 8;
      if (k < 1 || k + 2 > n || body[2 + k - 1] != 0) return false;
      r.key.assign(body.begin() + 2, body.begin() + 2 + long(k) - 1);
      r.data.assign(body.begin() + 2 + long(k), body.end());
    }
    out->push_back(r);
    off += 2 + n;
  }
  if (headed && atoi(reinterpret_cast<const char*>(&f[6])) != int(out->size())) return false;
  return true;
}

std::string KeyOf(int i) { return "k" + std::to_string(i); }

// Data of key number i: 20 to 1200 bytes that tell the key apart.
std::string DataOf(int i) {
  std::string d = "data-" + std::to_string(i) + "-";
  d.resize(size_t(20 + (i * 97) % 1180), char('a' + i % 26));
  return d;
}

// Writes keys from the number the file already holds up to total, until killed.
[[noreturn]] void Writer(const char* name, int total, int flTyped) {
  for (;;) {
    DbT* db = DbTOpen(name, 0);
    int next = 0;
    while (DbmTGetRecordSize(db, KeyOf(next).c_str()) > 0) next++;
    DbTClose(db);
    if (next >= total) _exit(0);
    std::string d = DataOf(next);
    int ok;
    if (flTyped) {
      db = DbTOpen(name, 0);
      ok = DbmTPutRecord(db, KeyOf(next).c_str(), d.data(), int(d.size()));
      DbTClose(db);
    } else {
      ok = DbmPutRecord(name, KeyOf(next).c_str(), d.data(), int(d.size()));
    }
    if (!ok) _exit(3);
  }
}

// Kills writers at random moments until total keys are stored; after every kill the file
// must be whole and hold keys 0 to m - 1 in order, m never going down.
void KillWriters(const std::string& file, const char* name, int total, int flTyped) {
  srand(unsigned(getpid()));
  int m = 0, kills = 0, interrupted = 0;
  for (int round = 0; round < 2000 && m < total; round++) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) Writer(name, total, flTyped);
    usleep(useconds_t(rand() % 15000));
    if (kill(pid, SIGKILL) == 0) kills++;
    int status;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    if (WIFEXITED(status)) {
      ASSERT_EQ(WEXITSTATUS(status), 0);
    }
    if (Exists(file + "_new")) interrupted++;  // killed in the middle of a store
    if (!Exists(file)) continue;
    std::vector<Rec> recs;
    ASSERT_TRUE(ParseFile(ReadBytes(file), &recs)) << "torn file after round " << round;
    ASSERT_GE(int(recs.size()), m) << "a completed store was lost";
    m = int(recs.size());
    for (int i = 0; i < m; i++) {
      ASSERT_EQ(recs[size_t(i)].key, KeyOf(i));
      ASSERT_EQ(std::string(recs[size_t(i)].data.begin(), recs[size_t(i)].data.end()), DataOf(i));
    }
  }
  EXPECT_EQ(m, total);
  EXPECT_GT(kills, 10);
  EXPECT_GT(interrupted, 0);
  testing::Test::RecordProperty("kills", kills);
  testing::Test::RecordProperty("interrupted", interrupted);
}

TEST_F(DbCrash, KilledTypedWritersLeaveTheFileWhole) {
  KillWriters(DbFile("crash"), "crash", 300, 1);
}

TEST_F(DbCrash, KilledRecordFileWritersLeaveTheFileWhole) {
  KillWriters(DbFile("crash"), "crash", 200, 0);
}

// Several processes store distinct keys at once (through both interfaces, on one file) while
// others read: every read sees a whole file, and at the end every key is there.
void ConcurrentWriters(DbTest* t, const char* name, int flHeaded) {
  const int kWriters = 4, kKeys = 40, kReaders = 2;
  std::string file = t->tool_ + "/db/" + name + ".kdb";
  if (flHeaded) {
    DbT* db = DbTOpen(name, 0);
    ASSERT_EQ(DbmTPutRecord(db, "start", "1", 1), 1);
    DbTClose(db);
  } else {
    ASSERT_EQ(DbmPutRecord(name, "start", "1", 1), 1);
  }
  std::vector<pid_t> readers, writers;
  for (int r = 0; r < kReaders; r++) {
    pid_t pid = fork();
    if (pid == 0) {
      DbT* db = DbTOpen(name, 0);
      for (;;) {
        std::vector<Rec> recs;
        if (!ParseFile(ReadBytes(file), &recs)) _exit(4);
        if (DbmTGetRecordSize(db, "start") != 1) _exit(5);
        char* list = DbmTGetRecordList(db, ",", ",");
        if (!list) _exit(6);
        PutMem(list);
      }
    }
    readers.push_back(pid);
  }
  for (int w = 0; w < kWriters; w++) {
    pid_t pid = fork();
    if (pid == 0) {
      DbT* db = DbTOpen(name, 0);
      for (int j = 0; j < kKeys; j++) {
        std::string key = "w" + std::to_string(w) + "_" + std::to_string(j);
        std::string d = DataOf(w * 100 + j);
        int ok = w % 2 && !flHeaded ? DbmPutRecord(name, key.c_str(), d.data(), int(d.size()))
                       : DbmTPutRecord(db, key.c_str(), d.data(), int(d.size()));
        if (!ok) _exit(7);
      }
      _exit(0);
    }
    writers.push_back(pid);
  }
  for (pid_t pid : writers) {
    int status;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer status " << status;
  }
  for (pid_t pid : readers) {
    int status;
    kill(pid, SIGKILL);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status)) << "a reader saw a torn file: status " << status;
  }
  std::vector<Rec> recs;
  ASSERT_TRUE(ParseFile(ReadBytes(file), &recs));
  EXPECT_EQ(recs.size(), size_t(kWriters * kKeys + 1));
  DbT* db = DbTOpen(name, 0);
  EXPECT_EQ(db->DbType, flHeaded ? 2 : 1);
  for (int w = 0; w < kWriters; w++) {
    for (int j = 0; j < kKeys; j++) {
      std::string key = "w" + std::to_string(w) + "_" + std::to_string(j);
      std::string want = DataOf(w * 100 + j);
      std::string got(want.size(), 0);
      EXPECT_EQ(DbmTGetRecord(db, key.c_str(), &got[0]), int(want.size())) << key;
      EXPECT_EQ(got, want);
    }
  }
  DbTClose(db);
  EXPECT_FALSE(Exists(file + "_new"));
}

TEST_F(DbCrash, ConcurrentWritersOnAHeadedFile) { ConcurrentWriters(this, "conc", 1); }

TEST_F(DbCrash, ConcurrentWritersOnAPlainFile) { ConcurrentWriters(this, "conc", 0); }

}  // namespace
