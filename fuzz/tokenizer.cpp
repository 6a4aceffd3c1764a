// tokenizer.cpp - the tokenizer family and the string helpers over one input. The first byte
// gives the number of delimiter characters that follow it (0 to 7), the rest is the text.
// Properties: no access outside a buffer, no token longer than 127 characters, GetTokenCount
// agrees with a GetToken scan, the in-place scan and the counted scan agree, a nested
// GetTokenCount leaves the scan where it was, and sorting keeps every character.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/utils.h"
#include "fuzz/support.h"

namespace {

constexpr int kMaxTokens = 20000;

// A heap copy of exactly the text and its NUL, so an overread is caught.
struct Text {
  explicit Text(const std::string& s) : p(new char[s.size() + 1]) { memcpy(p, s.c_str(), s.size() + 1); }
  ~Text() { delete[] p; }
  char* p;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzInit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t nDelims = data[0] % 8;
  if (size < 1 + nDelims) return 0;
  std::string delims(reinterpret_cast<const char*>(data + 1), nDelims);
  delims = delims.c_str();  // a NUL ends the delimiter set
  std::string text(reinterpret_cast<const char*>(data + 1 + nDelims), size - 1 - nDelims);
  text = text.c_str();
  Text in(text), dl(delims);

  // GetToken scan, with a nested count in the middle.
  int nScan = 0;
  for (char* t = GetToken(in.p, dl.p); t && nScan < kMaxTokens; t = GetToken(nullptr, dl.p)) {
    FUZZ_CHECK(strlen(GetTokenBuf) < size_t(kTokenBufSize), "token of %zu characters",
               strlen(GetTokenBuf));
    if (++nScan == 2) {
      char* pos = szTokenIn;
      GetTokenCount("a,b c", ", ");
      FUZZ_CHECK(szTokenIn == pos, "GetTokenCount moved the scan");
    }
  }
  int nCount = GetTokenCount(in.p, dl.p);
  FUZZ_CHECK(nCount == nScan || nScan == kMaxTokens, "GetTokenCount %d, scan %d", nCount, nScan);

  // Newline mode over the same text: it ends at the first token a newline ends.
  GetToken(in.p, dl.p);
  for (int i = 0; i < kMaxTokens && GetToken(kTokenNewline, dl.p); i++) {
  }

  // The scan with its own cursor gives the same tokens as the shared one.
  {
    char out[kTokenBufSize];
    const char* cursor = nullptr;
    int n = 0;
    GetToken(in.p, dl.p);
    for (char* t = GetTokenD(in.p, dl.p, &cursor, out); t && n < kMaxTokens;
         t = GetTokenD(nullptr, dl.p, &cursor, out)) {
      FUZZ_CHECK(strcmp(out, GetTokenBuf) == 0, "GetTokenD token %d differs", n);
      n++;
      GetToken(nullptr, dl.p);
    }
    FUZZ_CHECK(n == nScan || nScan == kMaxTokens, "GetTokenD %d tokens, GetToken %d", n, nScan);
  }

  // In place: as many tokens as the copying scan. A lone backslash at the very end is dropped
  // by the copying scan and kept as token text by the in-place one.
  size_t nTrailing = text.size() - 1 - text.find_last_not_of('\\');
  if (text.find_last_not_of('\\') == std::string::npos) nTrailing = text.size();
  if (nTrailing % 2 == 0) {
    Text w(text);
    int n = 0;
    for (char* t = GetTokenParse(w.p, dl.p); t && n < kMaxTokens; t = GetTokenParse(nullptr, dl.p))
      n++;
    FUZZ_CHECK(n == nScan || nScan == kMaxTokens, "GetTokenParse %d tokens, GetToken %d", n, nScan);
  }
  GetTokenN(in.p, dl.p, 3);
  {
    Text w(text);
    char* array[16];
    int n = ParseStr(w.p, dl.p, array, 16);
    FUZZ_CHECK(n >= 0 && n <= 16, "ParseStr stored %d", n);
    for (int i = 0; i < n; i++) FUZZ_CHECK(array[i] != nullptr, "ParseStr entry %d null", i);
  }

  // Framed lists and searches.
  FindToken("a", in.p);
  FindTokenC("A", in.p);
  FindTokenWithDelim(in.p, "a", ',');
  if (!text.empty()) {
    std::string word = text.substr(1, text.find(text[0], 1) == std::string::npos
                                          ? std::string::npos
                                          : text.find(text[0], 1) - 1);
    Text wd(word);
    FUZZ_CHECK(FindToken(wd.p, in.p) == 1, "first word of a framed list not found");
  }
  StrChr(in.p, ',');
  StrNChr(in.p, '/', 2);
  StrStr(in.p, dl.p);
  StrCaseStr(in.p, "aB");
  StrNStr(in.p, "a", 3);
  SkipSpace(in.p);

  // Paths: the static results stay within their buffers.
  FUZZ_CHECK(strlen(StripPath(in.p)) < size_t(kPathBufSize), "StripPath");
  FUZZ_CHECK(strlen(StripFn(in.p)) < size_t(kPathFnBufSize), "StripFn");
  FUZZ_CHECK(strlen(StripExt(in.p)) < size_t(kPathBufSize), "StripExt");
  FUZZ_CHECK(strlen(StripPathExt(in.p)) < size_t(kPathBufSize), "StripPathExt");
  FUZZ_CHECK(strlen(StripPathName(in.p)) < size_t(kPathBufSize), "StripPathName");

  // Rewriting in place.
  {
    Text w(text);
    for (int ic = 0; ic < 2; ic++) {
      SortTokens(w.p, delims.empty() ? ',' : delims[0], ic);
      std::string a = w.p, b = text;
      std::sort(a.begin(), a.end());
      std::sort(b.begin(), b.end());
      FUZZ_CHECK(a == b, "SortTokens changed the characters");
    }
    StripNonPrint(w.p, 1);
    StripAllBackslashes(w.p);
    FUZZ_CHECK(!strchr(w.p, '\\'), "a backslash is left");
  }
  return 0;
}
