// The foundation's fixed buffers, each at its size - 1, its size, size + 1 and ten times its
// size: what fits comes back whole, what does not is cut to the buffer less one and the input
// after it is unaffected; nothing is written past a buffer (the sanitizer build checks that).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/utils.h"
#include "tests/support/test_support.h"

using namespace ktest;

namespace {

std::vector<size_t> Around(size_t size) { return {size - 1, size, size + 1, 10 * size}; }

std::string Cut(const std::string& s, size_t size) { return s.substr(0, std::min(s.size(), size - 1)); }

TEST(Limits, TokensAreCutAt127AndTheScanGoesOn) {
  for (size_t len : Around(kTokenBufSize)) {
    std::string word(len, 'w');
    std::string in = word + ",next";
    ASSERT_STREQ(GetToken(in.c_str(), ","), Cut(word, kTokenBufSize).c_str()) << len;
    EXPECT_STREQ(GetToken(nullptr, ","), "next") << len;

    char out[kTokenBufSize];
    const char* cursor = nullptr;
    ASSERT_STREQ(GetTokenD(in.c_str(), ",", &cursor, out), Cut(word, kTokenBufSize).c_str());
    EXPECT_STREQ(GetTokenD(nullptr, ",", &cursor, out), "next") << len;
    EXPECT_STREQ(GetTokenN(in.c_str(), ",", 2), "next") << len;
    EXPECT_EQ(GetTokenCount(in.c_str(), ","), 2) << len;
  }
}

TEST(Limits, PathPartsAreCutToTheirBuffers) {
  for (size_t len : Around(kPathBufSize)) {
    std::string name(len, 'n');
    std::string path = "/dir/" + name;
    EXPECT_EQ(StripPath(path.c_str()), Cut(name, kPathBufSize)) << len;
    EXPECT_EQ(StripPathName(path.c_str()), Cut(name, kPathBufSize)) << len;
    EXPECT_EQ(StripPathExt((path + ".tar.Z").c_str()), Cut(name, kPathBufSize)) << len;
    EXPECT_EQ(StripExt((name + ".e").c_str()), Cut(name, kPathBufSize)) << len;
    EXPECT_EQ(strlen(GenName(name.c_str())), std::min(len, size_t(kEditNameSize - 1))) << len;
  }
  for (size_t len : Around(kPathFnBufSize)) {
    std::string dir(len, 'd');
    EXPECT_EQ(StripFn((dir + "/file").c_str()), Cut(dir, kPathFnBufSize)) << len;
  }
}

TEST(Limits, WholeFileReadsStopAtTheirBuffer) {
  char tmpl[] = "/tmp/klimitsXXXXXX";
  int fd = mkstemp(tmpl);
  ASSERT_GE(fd, 0);
  close(fd);
  for (size_t len : Around(kLineBufSize)) {
    std::string text(len, 'c');
    text.back() = 'E';
    WriteFile(tmpl, text);
    ASSERT_EQ(GetFileContent(tmpl, nullptr), 1);
    EXPECT_EQ(std::string(LineBuf), Cut(text, kLineBufSize)) << len;
    std::vector<char> buf(len + 1, '#');
    buf.push_back('!');  // a guard after the buffer the caller declared
    ASSERT_EQ(GetFileContentR(tmpl, nullptr, buf.data(), int(len / 2)), 1);
    EXPECT_EQ(std::string(buf.data()), text.substr(0, len / 2)) << len;
    EXPECT_EQ(buf.back(), '!');
  }
  unlink(tmpl);
}

TEST(Limits, GetsCutsAndLeavesTheRestUnread) {
  for (size_t len : Around(64)) {
    std::string line(len, 'g');
    Result c = RunChild([&] {
      FILE* in = tmpfile();
      fputs((line + "\nnext\n").c_str(), in);
      rewind(in);
      dup2(fileno(in), 0);
      char buf[64];
      printf("[%s]", Gets(buf, sizeof buf));
      printf("[%s]", Gets(buf, sizeof buf));
    });
    std::string first = Cut(line, 64);
    // The rest of a line that filled the buffer (its newline at least) is the next read.
    std::string second = Cut(line.substr(63), 64);
    EXPECT_EQ(c.out.substr(0, first.size() + 2), "[" + first + "]") << len;
    EXPECT_EQ(c.out.substr(first.size() + 2, second.size() + 2), "[" + second + "]") << len;
  }
}

}  // namespace
