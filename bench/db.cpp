// Record database benchmarks, each beside its floor in the same run:
//   lookups of keys like "25_1001" in a headed image of 10,000 and 100,000 records of 20 to
//   200 bytes through DbmTGetRecord with refresh on (one status call per read) and with
//   flag 2, against an std::unordered_map holding the same data, and the status call alone;
//   a store (DbmTPutRecord) into a 1 MB database against writing 1 MB to a new file, syncing
//   it and renaming it over the old one.
// Run: bench_db --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/utils.h"
#include "db/Dbm.h"

namespace {

struct Data {
  std::vector<std::string> keys;
  std::vector<std::string> values;
  std::vector<int> order;  // random lookup sequence
  std::string path;
};

std::string& BenchDirName() {
  static std::string dir;
  return dir;
}

void RemoveBenchDir() {
  std::string cmd = "rm -rf '" + BenchDirName() + "'";
  if (system(cmd.c_str()) != 0) perror("rm");
}

std::string BenchDir() {
  std::string& dir = BenchDirName();
  if (dir.empty()) {
    char tmpl[] = "/tmp/kdbbenchXXXXXX";
    if (!mkdtemp(tmpl)) abort();
    dir = tmpl;
    atexit(RemoveBenchDir);
  }
  return dir;
}

// n records "set_number" with 20 to 200 bytes of data, written as a headed file.
const Data& Dataset(int n) {
  static std::unordered_map<int, Data> sets;
  auto it = sets.find(n);
  if (it != sets.end()) return it->second;
  Data& d = sets[n];
  std::mt19937 rng{unsigned(n)};
  for (int i = 0; i < n; i++) {
    d.keys.push_back(std::to_string(20 + i / 1000) + "_" + std::to_string(1000 + i % 1000));
    std::string v(20 + rng() % 181, ' ');
    for (char& c : v) c = char('a' + rng() % 26);
    d.values.push_back(v);
  }
  for (int i = 0; i < 1 << 16; i++) d.order.push_back(int(rng() % unsigned(n)));
  d.path = BenchDir() + "/lookup" + std::to_string(n) + ".kdb";
  unlink(d.path.c_str());
  DbT* db = DbTOpen(d.path.c_str(), 4);
  for (int i = 0; i < n; i++) {
    DbmTPutRecord(db, d.keys[size_t(i)].c_str(), d.values[size_t(i)].data(), int(d.values[size_t(i)].size()));
  }
  if (!DbmTArchiveDb(db)) abort();
  DbTClose(db);
  return d;
}

void BM_Floor_UnorderedMap(benchmark::State& state) {
  const Data& d = Dataset(int(state.range(0)));
  std::unordered_map<std::string, std::string> map;
  for (size_t i = 0; i < d.keys.size(); i++) map.emplace(d.keys[i], d.values[i]);
  char buf[256];
  size_t i = 0;
  for (auto _ : state) {
    auto it = map.find(d.keys[size_t(d.order[i++ & 0xFFFF])]);
    memcpy(buf, it->second.data(), it->second.size());
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_Floor_UnorderedMap)->Arg(10000)->Arg(100000);

void BM_Floor_Stat(benchmark::State& state) {
  const Data& d = Dataset(int(state.range(0)));
  struct stat st;
  for (auto _ : state) {
    benchmark::DoNotOptimize(stat(d.path.c_str(), &st));
  }
}
BENCHMARK(BM_Floor_Stat)->Arg(10000)->Arg(100000);

// The floor of a refreshing read: the status call and the map lookup, in one loop (a system
// call costs the following lookup some of its cached translations, as it does the database).
void BM_Floor_StatThenMap(benchmark::State& state) {
  const Data& d = Dataset(int(state.range(0)));
  std::unordered_map<std::string, std::string> map;
  for (size_t i = 0; i < d.keys.size(); i++) map.emplace(d.keys[i], d.values[i]);
  char buf[256];
  size_t i = 0;
  struct stat st;
  for (auto _ : state) {
    benchmark::DoNotOptimize(stat(d.path.c_str(), &st));
    auto it = map.find(d.keys[size_t(d.order[i++ & 0xFFFF])]);
    memcpy(buf, it->second.data(), it->second.size());
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_Floor_StatThenMap)->Arg(10000)->Arg(100000);

void Lookups(benchmark::State& state, int flags) {
  const Data& d = Dataset(int(state.range(0)));
  DbT* db = DbTOpen(d.path.c_str(), flags);
  char buf[256];
  size_t i = 0;
  if (DbmTGetRecord(db, d.keys[0].c_str(), buf) != int(d.values[0].size())) abort();
  for (auto _ : state) {
    benchmark::DoNotOptimize(DbmTGetRecord(db, d.keys[size_t(d.order[i++ & 0xFFFF])].c_str(), buf));
  }
  DbTClose(db);
}

void BM_DbmTGetRecord_Refresh(benchmark::State& state) { Lookups(state, 0); }
BENCHMARK(BM_DbmTGetRecord_Refresh)->Arg(10000)->Arg(100000);

void BM_DbmTGetRecord_Flag2(benchmark::State& state) { Lookups(state, 2); }
BENCHMARK(BM_DbmTGetRecord_Flag2)->Arg(10000)->Arg(100000);

// A 1 MB database: 8,000 records of about 120 bytes.
std::string MegabyteDb() {
  static std::string path;
  if (!path.empty()) return path;
  path = BenchDir() + "/mega.kdb";
  DbT* db = DbTOpen(path.c_str(), 4);
  std::string v(118, 'v');
  for (int i = 0; i < 8000; i++) {
    std::string key = "30_" + std::to_string(10000 + i);
    DbmTPutRecord(db, key.c_str(), v.data(), int(v.size()));
  }
  if (!DbmTArchiveDb(db)) abort();
  DbTClose(db);
  return path;
}

void BM_DbmTPutRecord_1MB(benchmark::State& state) {
  std::string path = MegabyteDb();
  DbT* db = DbTOpen(path.c_str(), 0);
  std::string v(118, 'w');
  int i = 0;
  for (auto _ : state) {
    std::string key = "30_" + std::to_string(10000 + (i++ % 8000));  // replaces a record
    if (!DbmTPutRecord(db, key.c_str(), v.data(), int(v.size()))) abort();
  }
  state.counters["bytes"] = db->ImageLen;
  DbTClose(db);
}
BENCHMARK(BM_DbmTPutRecord_1MB)->Unit(benchmark::kMicrosecond);

void BM_Floor_Write1MBSyncRename(benchmark::State& state) {
  std::string path = BenchDir() + "/copy.kdb", tmp = path + "_new";
  std::string src = MegabyteDb();
  FILE* f = fopen(src.c_str(), "rb");
  std::vector<char> bytes(1 << 21);
  bytes.resize(fread(bytes.data(), 1, bytes.size(), f));
  fclose(f);
  for (auto _ : state) {
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) abort();
    fsync(fd);
    close(fd);
    rename(tmp.c_str(), path.c_str());
  }
  state.counters["bytes"] = double(bytes.size());
}
BENCHMARK(BM_Floor_Write1MBSyncRename)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
