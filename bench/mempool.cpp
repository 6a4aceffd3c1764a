// bench_mempool - the pool against malloc+memset/free on the same workloads, in one run.
//
//   Churn/<live>: <live> allocations of 1 to 200 bytes stay live; each iteration frees one
//   chosen at random and allocates a new one of random size in its place (one allocate+free
//   pair). The pool's GetMem clears what it hands out, so the malloc side clears too.
//   Grow: a text grows from 16 bytes to 64 KiB, 64 bytes at a time (AdjustMem / realloc and
//   clearing the added bytes), then is freed. One small allocation stays live throughout, so
//   the pool keeps its block between iterations (an empty block goes back to the system); the
//   last step still takes and returns a dedicated block each time.
//
// Run (default preset build):
//   cmake --preset default && cmake --build build -j2 --target bench_mempool &&
//   build/bench/bench_mempool --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
// and compare the medians of Churn<Pool>/N with Churn<Malloc>/N.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "base/MemMgr.h"

namespace {

struct Op {
  uint32_t slot;
  int32_t size;
};

// The same random stream for both allocators.
const std::vector<Op>& Ops(int nLive) {
  static std::vector<Op> ops[3];
  int k = nLive == 1000 ? 0 : nLive == 10000 ? 1 : 2;
  if (ops[k].empty()) {
    std::mt19937 rng(20261208u + unsigned(nLive));
    ops[k].resize(1 << 20);
    for (Op& op : ops[k]) {
      op.slot = uint32_t(rng() % uint32_t(nLive));
      op.size = int32_t(rng() % 200) + 1;
    }
  }
  return ops[k];
}

struct Pool {
  static void* Get(int n) { return GetMem(n); }
  static void Put(void* p) { PutMem(p); }
};

struct Malloc {
  static void* Get(int n) {
    void* p = malloc(size_t(n) + 1);
    memset(p, 0, size_t(n) + 1);
    return p;
  }
  static void Put(void* p) { free(p); }
};

template <class A>
void Churn(benchmark::State& state) {
  int nLive = int(state.range(0));
  const std::vector<Op>& ops = Ops(nLive);
  std::vector<void*> live(static_cast<size_t>(nLive));
  std::mt19937 rng(7);
  for (void*& p : live) p = A::Get(int(rng() % 200) + 1);
  size_t mask = ops.size() - 1, at = 0;
  // Warm up into a steady, fragmented state before timing.
  for (int i = 0; i < 4 * nLive; i++, at = (at + 1) & mask) {
    A::Put(live[ops[at].slot]);
    live[ops[at].slot] = A::Get(ops[at].size);
  }
  for (auto _ : state) {
    const Op& op = ops[at];
    at = (at + 1) & mask;
    A::Put(live[op.slot]);
    void* p = A::Get(op.size);
    benchmark::DoNotOptimize(p);
    live[op.slot] = p;
  }
  for (void* p : live) A::Put(p);
  state.SetItemsProcessed(state.iterations());
}

void GrowPool(benchmark::State& state) {
  void* pKeep = GetMem(1);
  for (auto _ : state) {
    char* p = static_cast<char*>(GetMem(16));
    memset(p, 'x', 16);
    for (int n = 16; n < 65536;) {
      int nNew = n + 64;
      p = static_cast<char*>(AdjustMem(p, nNew));
      memset(p + n, 'x', 64);
      n = nNew;
    }
    benchmark::DoNotOptimize(p);
    PutMem(p);
  }
  PutMem(pKeep);
}

void GrowMalloc(benchmark::State& state) {
  void* pKeep = malloc(2);
  for (auto _ : state) {
    char* p = static_cast<char*>(malloc(17));
    memset(p, 0, 17);
    memset(p, 'x', 16);
    for (int n = 16; n < 65536;) {
      int nNew = n + 64;
      p = static_cast<char*>(realloc(p, size_t(nNew) + 1));
      memset(p + n, 0, 65);  // as AdjustMem: the added bytes read as zero
      memset(p + n, 'x', 64);
      n = nNew;
    }
    benchmark::DoNotOptimize(p);
    free(p);
  }
  free(pKeep);
}

BENCHMARK_TEMPLATE(Churn, Pool)->Arg(1000);
BENCHMARK_TEMPLATE(Churn, Malloc)->Arg(1000);
BENCHMARK_TEMPLATE(Churn, Pool)->Arg(10000);
BENCHMARK_TEMPLATE(Churn, Malloc)->Arg(10000);
BENCHMARK_TEMPLATE(Churn, Pool)->Arg(100000);
BENCHMARK_TEMPLATE(Churn, Malloc)->Arg(100000);
BENCHMARK(GrowPool);
BENCHMARK(GrowMalloc);

}  // namespace

BENCHMARK_MAIN();
