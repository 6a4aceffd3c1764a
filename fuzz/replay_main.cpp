// replay_main.cpp - runs a fuzz target over saved inputs without libFuzzer: every file named
// on the command line, and every file in every directory named there, once, in name order.
// Arguments starting with "-" (libFuzzer's options, such as -runs=0) are ignored, so a test
// runs the same command line against either build. Exit 0 when every input ran; a finding
// ends the run from inside the target (abort, or a sanitizer report).
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {

void AddInputs(const std::string& path, std::vector<std::string>* out) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    fprintf(stderr, "replay: cannot read %s\n", path.c_str());
    exit(2);
  }
  if (!S_ISDIR(st.st_mode)) {
    out->push_back(path);
    return;
  }
  DIR* d = opendir(path.c_str());
  if (!d) {
    fprintf(stderr, "replay: cannot read %s\n", path.c_str());
    exit(2);
  }
  std::vector<std::string> names;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(path + "/" + name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string& n : names) AddInputs(n, out);
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; i++)
    if (argv[i][0] != '-') AddInputs(argv[i], &inputs);
  if (inputs.empty()) {
    fprintf(stderr, "usage: %s [-options] FILE|DIR...\n", argv[0]);
    return 2;
  }
  for (const std::string& path : inputs) {
    fprintf(stderr, "replay: %s\n", path.c_str());
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    // An exact-size heap copy, so an overread of the input is caught by the sanitizers.
    uint8_t* copy = new uint8_t[bytes.size() ? bytes.size() : 1];
    std::copy(bytes.begin(), bytes.end(), copy);
    LLVMFuzzerTestOneInput(copy, bytes.size());
    delete[] copy;
  }
  fprintf(stderr, "replay: %zu inputs ran\n", inputs.size());
  return 0;
}
