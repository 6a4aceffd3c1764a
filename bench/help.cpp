// Help viewer benchmarks: the whole khelp process dumping a generated help corpus
// (khelp --dump) beside the text browsers w3m, lynx and links2 dumping the same files, each
// a whole process per run:
//   Page25K  one page of about 25 KB: paragraphs, lists, links, entities, bordered and
//            nested tables;
//   File5M   a file of about 5 MB of such pages (200 pages, page="..." each);
//   File50M  ten times that, khelp only: its time should be about ten times File5M's.
// Besides the wall time of each run, the counter child_cpu_ms gives the run's user + system
// time (the child's own, from wait4): on a busy machine it is the steadier comparison.
// A browser that is not installed is skipped with a message; bench/help.sh installs them.
// Run: bench/help.sh   (or build/bench/bench_help --benchmark_repetitions=3)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string& CorpusDir() {
  static std::string dir;
  return dir;
}

void RemoveCorpus() {
  std::string cmd = "rm -rf '" + CorpusDir() + "'";
  if (system(cmd.c_str()) != 0) perror("rm");
}

// One page of the corpus, about 25 KB; n makes its names and numbers differ.
std::string HelpPage(int n) {
  std::string s;
  std::string id = std::to_string(n);
  s += "<h2>Chapter " + id + ": queues &amp; spoolers</h2>\n";
  for (int p = 0; p < 60; p++) {
    std::string k = std::to_string(p);
    s += "<p>Paragraph " + k + " of chapter " + id +
         " explains how the Korvi print software sends a job to the spooler. The "
         "caf&eacute; printer in K&ouml;ln uses &laquo;duplex&raquo; at 10&deg;C, &copy; 2026, "
         "&#65;&#x42;C. See <a href=\"#sec" + k + "\">section " + k + "</a> or the "
         "<a href=\"other.html#t" + k + "\">other file</a> and <b>bold words</b>.</p>\n";
    if (p % 6 == 0) {
      s += "<a name=\"sec" + k + "\"></a><ol>\n";
      for (int i = 0; i < 6; i++) s += "<li>Step " + std::to_string(i) + " of the list &nbsp;done\n";
      s += "</ol>\n";
    }
  }
  s += "<table border=1 cellpadding=7>\n<tr><td>Queue</td><td>Spooler</td><td>Script</td></tr>\n";
  for (int r = 0; r < 20; r++) {
    std::string k = std::to_string(r);
    s += "<tr><td>queue" + k + "</td><td>System V</td><td>KorviPrint" + k + "</td></tr>\n";
  }
  s += "</table>\n<table border=1 width=560><tr><td width=\"30%\">Option</td><td>Values</td></tr>\n";
  for (int r = 0; r < 6; r++) {
    s += "<tr><td>Paper " + std::to_string(r) +
         "</td><td><table border=1><tr><td>A4</td><td>Letter</td></tr>"
         "<tr><td>A3</td><td>Legal&nbsp;size</td></tr></table></td></tr>\n";
  }
  s += "</table>\n";
  return s;
}

std::string WriteCorpusFile(const std::string& name, int nPages) {
  std::string path = CorpusDir() + "/" + name;
  std::ofstream out(path);
  for (int i = 0; i < nPages; i++) {
    out << "<html page=\"p" << i << "\">\n<head><title>Help page " << i << "</title></head>\n<body>\n"
        << HelpPage(i) << "</body>\n</html>\n";
  }
  return path;
}

struct Corpus {
  std::string page25k, file5m, file50m;
};

const Corpus& GetCorpus() {
  static Corpus c;
  if (c.page25k.empty()) {
    char tmpl[] = "/tmp/khelpbenchXXXXXX";
    if (!mkdtemp(tmpl)) abort();
    CorpusDir() = tmpl;
    atexit(RemoveCorpus);
    c.page25k = WriteCorpusFile("page25k.html", 1);
    c.file5m = WriteCorpusFile("file5m.html", 200);
    c.file50m = WriteCorpusFile("file50m.html", 2000);
  }
  return c;
}

std::string KhelpPath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) abort();
  std::string self(buf, static_cast<size_t>(n));
  return self.substr(0, self.rfind('/')) + "/../help/khelp";
}

bool Installed(const std::string& program) {
  std::string cmd = "command -v " + program + " >/dev/null 2>&1";
  return system(cmd.c_str()) == 0;
}

// Runs argv with standard output to /dev/null, adding its user + system seconds to *pCpu;
// false when it fails.
bool RunWhole(const std::vector<std::string>& args, double* pCpu) {
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open("/dev/null", O_RDWR);
    dup2(fd, 0);
    dup2(fd, 1);
    dup2(fd, 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    setenv("HOME", CorpusDir().c_str(), 1);  // no user configuration
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage ru {};
  wait4(pid, &status, 0, &ru);
  *pCpu += ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

enum Tool { kKhelp, kW3m, kLynx, kLinks2 };
enum File { kPage25K, kFile5M, kFile50M };

void BM_Dump(benchmark::State& state) {
  auto tool = static_cast<Tool>(state.range(0));
  auto file = static_cast<File>(state.range(1));
  const Corpus& c = GetCorpus();
  const std::string& path = file == kPage25K ? c.page25k : file == kFile5M ? c.file5m : c.file50m;
  std::vector<std::string> args;
  switch (tool) {
    case kKhelp: args = {KhelpPath(), "--dump", path}; break;
    case kW3m: args = {"w3m", "-dump", "-T", "text/html", path}; break;
    case kLynx: args = {"lynx", "-dump", "-force_html", path}; break;
    case kLinks2: args = {"links2", "-dump", path}; break;
  }
  if (tool != kKhelp && !Installed(args[0])) {
    state.SkipWithError((args[0] + " is not installed (bench/help.sh installs it)").c_str());
    return;
  }
  double cpu = 0;
  for (auto _ : state) {
    if (!RunWhole(args, &cpu)) {
      state.SkipWithError((args[0] + " failed").c_str());
      return;
    }
  }
  state.counters["child_cpu_ms"] = 1000 * cpu / static_cast<double>(state.iterations());
  std::ifstream in(path, std::ios::ate | std::ios::binary);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.tellg()));
}

void DumpArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"tool", "file"});
  for (int file : {kPage25K, kFile5M}) {
    for (int tool : {kKhelp, kW3m, kLynx, kLinks2}) b->Args({tool, file});
  }
  b->Args({kKhelp, kFile50M});
}

}  // namespace

BENCHMARK(BM_Dump)->Apply(DumpArgs)->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
