// db_test_util.h - what the record database tests share: a fresh tool directory per test
// (pToolPath points at it, databases live in its db/), raw file bytes, and the chained XOR
// written out independently of the library.
#ifndef KORVI_TESTS_DB_DB_TEST_UTIL_H
#define KORVI_TESTS_DB_DB_TEST_UTIL_H

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/utils.h"
#include "db/Dbm.h"
#include "tests/support/test_support.h"

using ktest::Exists;

using Bytes = std::vector<unsigned char>;

inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const Bytes& b) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

inline Bytes Scrambled(const Bytes& p) {
  Bytes s(p.size());
  for (size_t i = 0; i + 1 < p.size(); i++) s[i] = p[i] ^ p[i + 1];
  if (!p.empty()) s.back() = p.back();
  return s;
}

inline Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// One record of a record file, as the format lays it out (little-endian, one XOR block).
inline Bytes PlainRecord(const std::string& key, const Bytes& data) {
  size_t k = key.size() + 1, n = k + data.size() + 2;
  Bytes body = {uint8_t(k), uint8_t(k >> 8)};
  body.insert(body.end(), key.begin(), key.end());
  body.push_back(0);
  body.insert(body.end(), data.begin(), data.end());
  return Cat({{uint8_t(n), uint8_t(n >> 8)}, Scrambled(body)});
}

// One record of a headed file (big-endian, key and data scrambled apart).
inline Bytes HeadedRecord(const std::string& key, const Bytes& data) {
  size_t k = key.size() + 1, n = k + data.size() + 2;
  Bytes keyz(key.begin(), key.end());
  keyz.push_back(0);
  return Cat({{uint8_t(n >> 8), uint8_t(n), uint8_t(k >> 8), uint8_t(k)}, Scrambled(keyz),
              Scrambled(data)});
}

// A headed header with the given count text and zero filler.
inline Bytes Header(const std::string& count) {
  Bytes h = Str("TKDBAA" + count);
  h.resize(16, 0);
  return h;
}

struct Rec {
  std::string key;
  Bytes data;
};

inline Bytes Unscrambled(const unsigned char* s, size_t n) {
  Bytes p(s, s + n);
  for (size_t i = n; i-- > 1;) p[i - 1] = s[i - 1] ^ p[i];
  return p;
}

// Parses a whole file independently of the library; false when anything is left over or a
// record is damaged.
inline bool ParseFile(const Bytes& f, std::vector<Rec>* out) {
  out->clear();
  bool headed = f.size() >= 5 && memcmp(f.data(), "TKDBA", 5) == 0;
  size_t off = 0;
  if (headed) {
    if (f.size() < 16) return false;
    off = 16;
  }
  while (off < f.size()) {
    if (off + 2 > f.size()) return false;
    size_t n = headed ? (f[off] << 8 | f[off + 1]) : (f[off + 1] << 8 | f[off]);
    if (n < 2 || off + 2 + n > f.size()) return false;
    Rec r;
    if (headed) {
      size_t k = f[off + 2] << 8 | f[off + 3];
      if (k < 1 || k + 2 > n) return false;
      Bytes key = Unscrambled(&f[off + 4], k);
      if (key.back() != 0) return false;
      r.key.assign(key.begin(), key.end() - 1);
      r.data = Unscrambled(&f[off + 4 + k], n - 2 - k);
    } else {
      Bytes body = Unscrambled(&f[off + 2], n);
      size_t k = body[0] | body[1] << 8;
      if (k < 1 || k + 2 > n || body[2 + k - 1] != 0) return false;
      r.key.assign(body.begin() + 2, body.begin() + 2 + long(k) - 1);
      r.data.assign(body.begin() + 2 + long(k), body.end());
    }
    out->push_back(r);
    off += 2 + n;
  }
  if (headed && atoi(reinterpret_cast<const char*>(&f[6])) != int(out->size())) return false;
  return true;
}

// A fresh tool directory per test: pToolPath points at it, the working directory is it.
class DbTest : public testing::Test {
 public:
  void SetUp() override {
    toolBuf_ = tool_;
    pToolPath = &toolBuf_[0];
    ASSERT_EQ(getcwd(oldCwd_, sizeof oldCwd_) != nullptr, true);
    ASSERT_EQ(chdir(tool_.c_str()), 0);
    Ent2Get = 0;
  }
  void TearDown() override {
    pToolPath = nullptr;
    if (chdir(oldCwd_) != 0) perror("chdir");
  }
  std::string DbFile(const std::string& name) const { return tool_ + "/db/" + name + ".kdb"; }
  void MakeDbDir() const { mkdir((tool_ + "/db").c_str(), 0777); }

  ktest::TempDir tmp_{"kdbtest"};
  std::string tool_ = tmp_.path;
  std::string toolBuf_;
  char oldCwd_[4096];
};

#endif  // KORVI_TESTS_DB_DB_TEST_UTIL_H
