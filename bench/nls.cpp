// Message catalogue benchmark, beside its floor in the same run: NlsFetchString mode 0 with a
// caller's buffer on a catalogue of 10,000 messages (sets 1 to 20, numbers 1 to 500, texts of
// 20 to 120 bytes) opened with flag 2 (no refresh) and with refresh on (one status call per
// fetch), against the C library's catgets on the same messages in a catalogue made by gencat,
// alone and followed by copying the text into a buffer as NlsFetchString does.
// Run: bench_nls --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <nl_types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "nls/NlsUtils.h"

namespace {

constexpr int kSets = 20, kNumbers = 500;

struct Catalogues {
  std::string dir;
  std::vector<std::pair<int, int>> order;  // random lookup sequence
  DbT* flag2 = nullptr;
  DbT* refresh = nullptr;
  nl_catd catd = nl_catd(-1);
};

void RemoveDir(const std::string& dir) {
  std::string cmd = "rm -rf '" + dir + "'";
  if (system(cmd.c_str()) != 0) perror("rm");
}

const Catalogues& Setup() {
  static Catalogues c;
  if (!c.dir.empty()) return c;
  char tmpl[] = "/tmp/nlsbenchXXXXXX";
  if (!mkdtemp(tmpl)) abort();
  c.dir = tmpl;
  atexit([] { RemoveDir(c.dir); });

  std::mt19937 rng{42};
  std::string dbDir = c.dir + "/db/en_US";
  if (system(("mkdir -p '" + dbDir + "'").c_str()) != 0) abort();
  DbT* db = DbTOpen((dbDir + "/Bench.kdb").c_str(), 4);
  std::ofstream src(c.dir + "/bench.msg");
  for (int set = 1; set <= kSets; set++) {
    src << "$set " << set << "\n";
    for (int n = 1; n <= kNumbers; n++) {
      std::string text(20 + rng() % 101, ' ');
      for (char& ch : text) ch = char('a' + rng() % 26);
      src << n << " " << text << "\n";
      char key[32];
      snprintf(key, sizeof key, "%d_%d", set, n);
      DbmTPutRecord(db, key, text.c_str(), int(text.size() + 1));
      c.order.emplace_back(set, n);
    }
  }
  src.close();
  if (!DbmTArchiveDb(db)) abort();
  DbTClose(db);
  std::string gencat = "gencat '" + c.dir + "/bench.cat' '" + c.dir + "/bench.msg'";
  if (system(gencat.c_str()) != 0) abort();
  std::shuffle(c.order.begin(), c.order.end(), rng);

  pToolPath = SaveStr_(c.dir.c_str());
  pNLSLang = SaveStr_("en_US");
  c.flag2 = NlsOpenDB("Bench", 2);
  c.refresh = NlsOpenDB("Bench", 0);
  c.catd = catopen((c.dir + "/bench.cat").c_str(), 0);
  if (!c.flag2 || !c.refresh || c.catd == nl_catd(-1)) abort();
  return c;
}

void Fetch(benchmark::State& state, DbT* Catalogues::*which) {
  const Catalogues& c = Setup();
  DbT* db = c.*which;
  char out[kNlsStrBufSize];
  size_t i = 0;
  for (auto _ : state) {
    const auto& [set, n] = c.order[i++ % c.order.size()];
    benchmark::DoNotOptimize(NlsFetchString(db, out, kNlsBySetNumber, set, n));
  }
}

void BM_NlsFetchString_Flag2(benchmark::State& state) { Fetch(state, &Catalogues::flag2); }
void BM_NlsFetchString_Refresh(benchmark::State& state) { Fetch(state, &Catalogues::refresh); }

void BM_catgets(benchmark::State& state) {
  const Catalogues& c = Setup();
  size_t i = 0;
  for (auto _ : state) {
    const auto& [set, n] = c.order[i++ % c.order.size()];
    benchmark::DoNotOptimize(catgets(c.catd, set, n, ""));
  }
}

void BM_catgets_Copy(benchmark::State& state) {
  const Catalogues& c = Setup();
  char out[kNlsStrBufSize];
  size_t i = 0;
  for (auto _ : state) {
    const auto& [set, n] = c.order[i++ % c.order.size()];
    const char* text = catgets(c.catd, set, n, "");
    size_t len = strlen(text) + 1;
    memcpy(out, text, len);
    benchmark::DoNotOptimize(out);
  }
}

BENCHMARK(BM_NlsFetchString_Flag2);
BENCHMARK(BM_NlsFetchString_Refresh);
BENCHMARK(BM_catgets);
BENCHMARK(BM_catgets_Copy);

}  // namespace

BENCHMARK_MAIN();
