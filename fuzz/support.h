// support.h - what the fuzz targets share: a private scratch directory for the files a target
// writes, a file written from the input, and the report of a finding.
#ifndef KORVI_FUZZ_SUPPORT_H
#define KORVI_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

// The run's scratch directory (made on first use under /dev/shm, else /tmp; removed at exit).
const std::string& FuzzScratch();
// Writes the bytes to <scratch>/<name> (replacing it); returns the path.
std::string FuzzWriteFile(const std::string& name, const uint8_t* data, size_t size);
// Called first by every target's LLVMFuzzerInitialize: standard output goes to /dev/null (the
// code under test may print a great deal), and one pool allocation is held for the whole run,
// so that the pool does not map, zero and unmap a fresh block for every input.
void FuzzInit();
// A broken property: prints "FINDING: <text>" on standard error and aborts, so both
// libFuzzer and the corpus replay report the input.
[[noreturn]] void FuzzFinding(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
#define FUZZ_CHECK(cond, ...) \
  do {                        \
    if (!(cond)) FuzzFinding(__VA_ARGS__); \
  } while (0)

#endif  // KORVI_FUZZ_SUPPORT_H
