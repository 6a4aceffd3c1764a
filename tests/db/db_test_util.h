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
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/utils.h"
#include "db/Dbm.h"

using Bytes = std::vector<unsigned char>;

inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const Bytes& b) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
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

// A fresh tool directory per test: pToolPath points at it, the working directory is it.
class DbTest : public testing::Test {
 public:
  void SetUp() override {
    char tmpl[] = "/tmp/kdbtestXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    tool_ = tmpl;
    toolBuf_ = tool_;
    pToolPath = &toolBuf_[0];
    ASSERT_EQ(getcwd(oldCwd_, sizeof oldCwd_) != nullptr, true);
    ASSERT_EQ(chdir(tool_.c_str()), 0);
    Ent2Get = 0;
  }
  void TearDown() override {
    pToolPath = nullptr;
    if (chdir(oldCwd_) != 0) perror("chdir");
    std::string cmd = "rm -rf '" + tool_ + "'";
    if (system(cmd.c_str()) != 0) perror("rm");
  }
  std::string DbFile(const std::string& name) const { return tool_ + "/db/" + name + ".kdb"; }
  void MakeDbDir() const { mkdir((tool_ + "/db").c_str(), 0777); }

  std::string tool_;
  std::string toolBuf_;
  char oldCwd_[4096];
};

#endif  // KORVI_TESTS_DB_DB_TEST_UTIL_H
