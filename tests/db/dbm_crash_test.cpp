// Writers killed at random moments and several writers at once: the database file is always
// whole, holds every record of the old or the new state, and no acknowledged store is lost.
// The DISABLED_ tests are the same runs at scale (10,000 stores under kill -9; 8 writers and
// 8 readers): scripts/db_stress.sh runs them and prints their figures.
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/MemMgr.h"
#include "db/Dbm.h"
#include "db_test_util.h"

namespace {

// The tool directory in memory when /dev/shm is there: the scale runs rewrite gigabytes.
class DbCrash : public DbTest {
 public:
  void SetUp() override {
    DbTest::SetUp();
    char tmpl[] = "/dev/shm/kdbcrashXXXXXX";
    if (access("/dev/shm", W_OK) != 0 || !mkdtemp(tmpl)) return;
    rmdir(tool_.c_str());
    tool_ = toolBuf_ = tmpl;
    pToolPath = &toolBuf_[0];
    ASSERT_EQ(chdir(tool_.c_str()), 0);
  }
};

std::string KeyOf(int i) { return "k" + std::to_string(i); }

// Data of key number i: 20 to maxLen bytes that tell the key apart.
std::string DataOf(int i, int maxLen = 1200) {
  std::string d = "data-" + std::to_string(i) + "-";
  d.resize(size_t(20 + (i * 97) % (maxLen - 19)), char('a' + i % 26));
  return d;
}

// Writes keys from the number the file already holds up to total, until killed; after each
// store reports its number on ack (the acknowledgement the caller of a store gets).
[[noreturn]] void Writer(const char* name, int total, int flTyped, int maxLen, int ack) {
  for (;;) {
    // The file holds keys 0 to m - 1 (checked after every kill): the first missing key is
    // found by halving, so that a writer at 10,000 keys stores before its next kill.
    DbT* db = DbTOpen(name, 0);
    int next = 0, hi = total;
    while (next < hi) {
      int mid = next + (hi - next) / 2;
      if (DbmTGetRecordSize(db, KeyOf(mid).c_str()) > 0) {
        next = mid + 1;
      } else {
        hi = mid;
      }
    }
    DbTClose(db);
    if (next >= total) _exit(0);
    std::string d = DataOf(next, maxLen);
    int ok;
    if (flTyped) {
      db = DbTOpen(name, 0);
      ok = DbmTPutRecord(db, KeyOf(next).c_str(), d.data(), int(d.size()));
      DbTClose(db);
    } else {
      ok = DbmPutRecord(name, KeyOf(next).c_str(), d.data(), int(d.size()));
    }
    if (!ok) _exit(3);
    if (write(ack, &next, sizeof next) != sizeof next) _exit(4);
  }
}

// Kills writers at random moments until total keys are stored; after every kill the file
// must be whole and hold keys 0 to m - 1 in order, with every acknowledged key among them.
void KillWriters(const std::string& file, const char* name, int total, int flTyped,
                 int maxLen = 1200, int maxSleepUs = 15000) {
  srand(unsigned(getpid()));
  int m = 0, kills = 0, interrupted = 0, acked = -1, rounds = 0;
  for (; rounds < 40 * total && m < total; rounds++) {
    int ack[2];
    ASSERT_EQ(pipe2(ack, O_CLOEXEC), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(ack[0]);
      Writer(name, total, flTyped, maxLen, ack[1]);
    }
    close(ack[1]);
    usleep(useconds_t(rand() % maxSleepUs));
    if (kill(pid, SIGKILL) == 0) kills++;
    int status;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    if (WIFEXITED(status)) {
      ASSERT_EQ(WEXITSTATUS(status), 0);
    }
    for (int k; read(ack[0], &k, sizeof k) == sizeof k;) acked = k > acked ? k : acked;
    close(ack[0]);
    if (Exists(file + "_new")) interrupted++;  // killed in the middle of a store
    if (!Exists(file)) {
      ASSERT_EQ(acked, -1) << "a store was acknowledged but there is no file";
      continue;
    }
    std::vector<Rec> recs;
    ASSERT_TRUE(ParseFile(ReadBytes(file), &recs)) << "torn file after round " << rounds;
    ASSERT_GE(int(recs.size()), m) << "a completed store was lost";
    ASSERT_GT(int(recs.size()), acked) << "an acknowledged store was lost";
    m = int(recs.size());
    for (int i = 0; i < m; i++) {
      ASSERT_EQ(recs[size_t(i)].key, KeyOf(i));
      ASSERT_EQ(std::string(recs[size_t(i)].data.begin(), recs[size_t(i)].data.end()),
                DataOf(i, maxLen));
    }
  }
  EXPECT_EQ(m, total);
  EXPECT_GT(kills, 10);
  EXPECT_GT(interrupted, 0);
  testing::Test::RecordProperty("stores", m);
  testing::Test::RecordProperty("kills", kills);
  testing::Test::RecordProperty("interrupted", interrupted);
  printf("%d stores acknowledged and present after %d kills (%d in the middle of a store)\n", m,
         kills, interrupted);
}

TEST_F(DbCrash, KilledTypedWritersLeaveTheFileWhole) {
  KillWriters(DbFile("crash"), "crash", 300, 1);
}

TEST_F(DbCrash, KilledRecordFileWritersLeaveTheFileWhole) {
  KillWriters(DbFile("crash"), "crash", 200, 0);
}

TEST_F(DbCrash, DISABLED_TenThousandStoresUnderKill) {
  KillWriters(DbFile("crash"), "crash", 10000, 1, 100, 40000);
}

std::string WriterKey(int w, int j) { return "w" + std::to_string(w) + "_" + std::to_string(j); }

// Counters the readers share with the test (an anonymous shared mapping).
struct ReadCounts {
  long Reads;   // keyed reads checked against the data their key was written with
  long Scans;   // whole-file parses
};

// Several processes store distinct keys at once (through both interfaces, on one file) while
// others read: every read sees a whole file and whole records, and at the end every key is
// there.
void ConcurrentWriters(DbTest* t, const char* name, int flHeaded, int nWriters = 4,
                       int nKeys = 40, int nReaders = 2) {
  std::string file = t->tool_ + "/db/" + name + ".kdb";
  if (flHeaded) {
    DbT* db = DbTOpen(name, 0);
    ASSERT_EQ(DbmTPutRecord(db, "start", "1", 1), 1);
    DbTClose(db);
  } else {
    ASSERT_EQ(DbmPutRecord(name, "start", "1", 1), 1);
  }
  auto* counts = static_cast<ReadCounts*>(mmap(nullptr, sizeof(ReadCounts) * size_t(nReaders),
                                               PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS,
                                               -1, 0));
  ASSERT_NE(counts, MAP_FAILED);
  std::vector<pid_t> readers, writers;
  for (int r = 0; r < nReaders; r++) {
    pid_t pid = fork();
    if (pid == 0) {
      DbT* db = DbTOpen(name, 0);
      for (unsigned i = unsigned(r);; i++) {
        std::vector<Rec> recs;
        if (!ParseFile(ReadBytes(file), &recs)) _exit(4);
        counts[r].Scans++;
        if (DbmTGetRecordSize(db, "start") != 1) _exit(5);
        char* list = DbmTGetRecordList(db, ",", ",");
        if (!list) _exit(6);
        PutMem(list);
        // A key another process may be writing right now: absent or whole.
        int w = int(i % unsigned(nWriters)), j = int(i / unsigned(nWriters) % unsigned(nKeys));
        std::string want = DataOf(w * 1000 + j);
        std::string got(size_t(kDbTMaxKeyData), 0);
        int n = DbmTGetRecord(db, WriterKey(w, j).c_str(), &got[0]);
        if (n != 0 && (n != int(want.size()) || got.compare(0, want.size(), want) != 0)) _exit(8);
        counts[r].Reads++;
      }
    }
    readers.push_back(pid);
  }
  for (int w = 0; w < nWriters; w++) {
    pid_t pid = fork();
    if (pid == 0) {
      DbT* db = DbTOpen(name, 0);
      for (int j = 0; j < nKeys; j++) {
        std::string key = WriterKey(w, j);
        std::string d = DataOf(w * 1000 + j);
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
  long reads = 0, scans = 0;
  for (size_t r = 0; r < readers.size(); r++) {
    int status;
    kill(readers[r], SIGKILL);
    ASSERT_EQ(waitpid(readers[r], &status, 0), readers[r]);
    EXPECT_TRUE(WIFSIGNALED(status)) << "a reader saw a torn file or record: status " << status;
    reads += counts[r].Reads;
    scans += counts[r].Scans;
  }
  munmap(counts, sizeof(ReadCounts) * size_t(nReaders));
  std::vector<Rec> recs;
  ASSERT_TRUE(ParseFile(ReadBytes(file), &recs));
  EXPECT_EQ(recs.size(), size_t(nWriters * nKeys + 1));
  DbT* db = DbTOpen(name, 0);
  EXPECT_EQ(db->DbType, flHeaded ? 2 : 1);
  for (int w = 0; w < nWriters; w++) {
    for (int j = 0; j < nKeys; j++) {
      std::string want = DataOf(w * 1000 + j);
      std::string got(want.size(), 0);
      EXPECT_EQ(DbmTGetRecord(db, WriterKey(w, j).c_str(), &got[0]), int(want.size()))
          << WriterKey(w, j);
      EXPECT_EQ(got, want);
    }
  }
  DbTClose(db);
  EXPECT_FALSE(Exists(file + "_new"));
  testing::Test::RecordProperty("stores", nWriters * nKeys);
  testing::Test::RecordProperty("reads", int(reads));
  printf("%d writers stored %d records, all present; %d readers made %ld keyed reads and %ld "
         "whole-file parses, all whole\n",
         nWriters, nWriters * nKeys, nReaders, reads, scans);
}

TEST_F(DbCrash, ConcurrentWritersOnAHeadedFile) { ConcurrentWriters(this, "conc", 1); }

TEST_F(DbCrash, ConcurrentWritersOnAPlainFile) { ConcurrentWriters(this, "conc", 0); }

TEST_F(DbCrash, DISABLED_EightWritersEightReadersHeaded) {
  ConcurrentWriters(this, "conc", 1, 8, 250, 8);
}

TEST_F(DbCrash, DISABLED_EightWritersEightReadersPlain) {
  ConcurrentWriters(this, "conc", 0, 8, 250, 8);
}

}  // namespace
