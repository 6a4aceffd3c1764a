// bench_syscmd - start-up resolution of the command table against this machine's real search
// path (the default SearchPaths, then PATH), next to its floor: listing the same directories
// once with plain opendir/readdir and doing nothing with the names. The target is
// InitSysCmdList within 1.5 times the floor.
#include <benchmark/benchmark.h>
#include <dirent.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "syscmd/SysCmd.h"

namespace {

const char kSearchPaths[] = "/usr/bin:/usr/ucb:/usr/sbin:/bin:/sbin:/usr/lib:/usr/lib/lp";

// The directories start-up lists, in its order: the search paths, then PATH.
std::vector<std::string> SearchDirs() {
  std::string all = kSearchPaths;
  if (const char* p = getenv("PATH")) all += std::string(":") + p;
  std::vector<std::string> dirs;
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(':', start);
    if (end == std::string::npos) end = all.size();
    if (end > start && all[start] == '/') dirs.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return dirs;
}

void BM_ListSearchDirsFloor(benchmark::State& state) {
  std::vector<std::string> dirs = SearchDirs();
  long nEntries = 0;
  for (auto _ : state) {
    nEntries = 0;
    for (const std::string& d : dirs) {
      DIR* h = opendir(d.c_str());
      if (!h) continue;
      while (struct dirent* e = readdir(h)) {
        benchmark::DoNotOptimize(e->d_name[0]);
        nEntries++;
      }
      closedir(h);
    }
  }
  state.counters["dirs"] = static_cast<double>(dirs.size());
  state.counters["entries"] = static_cast<double>(nEntries);
}
BENCHMARK(BM_ListSearchDirsFloor)->Unit(benchmark::kMicrosecond);

void BM_InitSysCmdList(benchmark::State& state) {
  flUseLog = 0;
  char szPaths[sizeof kSearchPaths];
  for (auto _ : state) {
    ResetSysCmdList();
    memcpy(szPaths, kSearchPaths, sizeof kSearchPaths);  // start-up splits it in place
    SearchPaths = szPaths;
    InitSysCmdList();
  }
  int nResolved = 0;
  for (int i = 2; i < kComListRows; i++) nResolved += ComList[i].pDir != nullptr;
  state.counters["resolved"] = nResolved;
  ResetSysCmdList();
}
BENCHMARK(BM_InitSysCmdList)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
