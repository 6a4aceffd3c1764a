// file_line.cpp - the line readers over a file made of the input: GetFileLine (logical lines
// with continuations), GetFileTextLine (first words) and the filtering GetLine. Properties: no
// access outside a buffer, every line fits its buffer, and every reader comes to the end.
#include <cstring>
#include <string>

#include "base/utils.h"
#include "fuzz/support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzInit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = FuzzWriteFile("lines", data, size);
  size_t limit = size + 2;  // no reader can give more lines than bytes

  FUZZ_CHECK(OpenInputFile(path.c_str(), 0) == 1, "cannot open the input");
  size_t n = 0;
  while (GetFileLine()) {
    FUZZ_CHECK(++n <= limit, "GetFileLine does not end");
    FUZZ_CHECK(strnlen(LineBuf, kLineBufSize) < size_t(kLineBufSize), "LineBuf not terminated");
  }
  FUZZ_CHECK(FileStatus == 1, "file status %d at the end", FileStatus);

  FUZZ_CHECK(OpenInputFile(path.c_str(), 0) == 1, "cannot open the input");
  for (n = 0; GetFileTextLine(" \t,");) {
    FUZZ_CHECK(++n <= limit, "GetFileTextLine does not end");
    FUZZ_CHECK(strnlen(LineBuf, kLineBufSize) < size_t(kLineBufSize), "LineBuf not terminated");
  }
  CloseInputFile();

  FUZZ_CHECK(OpenInputFile(path.c_str(), 0) == 1, "cannot open the input");
  flInputFilterState = 1;
  for (n = 0; GetLine() > 0;) {
    FUZZ_CHECK(++n <= limit, "GetLine does not end");
    FUZZ_CHECK(strnlen(Line, kLineSize) <= 512, "filtered line of %zu characters",
               strnlen(Line, kLineSize));
  }
  CloseInputFile();

  GetFileContent(path.c_str(), nullptr);
  FUZZ_CHECK(strnlen(LineBuf, kLineBufSize) < size_t(kLineBufSize), "LineBuf not terminated");
  char small[17];
  GetFileContentR(path.c_str(), nullptr, small, 16);
  if (char* p = GetSavedFileContent(path.c_str(), nullptr)) {
    // A 1-byte file gives "" (the reader's documented rule); any other file its bytes.
    FUZZ_CHECK(size == 1 ? *p == 0 : memcmp(p, data, size) == 0, "saved content differs");
    PutMem(p);
  }
  return 0;
}
