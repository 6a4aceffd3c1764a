// target_test.cpp - the cut of a path to its base directory and the same-directory test.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "installer/setup.h"
#include "tests/support/test_support.h"

namespace {

std::string Strip(const char* text) {
  std::string buf = text;
  char* p = StripToBaseName(buf.data());
  EXPECT_EQ(p, buf.data());
  return buf.c_str();
}

TEST(StripToBaseName, CutsAtProductThenVendorThenOneSlash) {
  EXPECT_EQ(Strip("/export/Korvi/kvln"), "/export");
  EXPECT_EQ(Strip("/export/Korvi"), "/export");
  EXPECT_EQ(Strip("/export/Korvi/kvln/bin"), "/export");
  EXPECT_EQ(Strip("/export/"), "/export");
  EXPECT_EQ(Strip("/export"), "/export");
  EXPECT_EQ(Strip("/data/kvlnx/Korvi/kvln"), "/data");
  EXPECT_EQ(Strip("/data/MyKorvi"), "/data/My");
  EXPECT_EQ(Strip("/"), "/");
  EXPECT_EQ(Strip("/export//"), "/export/");
  EXPECT_EQ(Strip("kvln"), "");
  EXPECT_EQ(Strip("Korvi/kvln"), "");
  EXPECT_EQ(Strip("/Korvi"), "/");
  EXPECT_EQ(Strip(""), "");
  EXPECT_EQ(StripToBaseName(nullptr), nullptr);
}

class SameDirectoryTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir((dir + "/a").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/b").c_str(), 0755), 0);
    ASSERT_EQ(symlink((dir + "/a").c_str(), (dir + "/link").c_str()), 0);
    tmp.Touch("file");
  }
  ktest::TempDir tmp{"samedir"};
  std::string dir = tmp.path;
};

TEST_F(SameDirectoryTest, ComparesDirectoriesNotTexts) {
  EXPECT_EQ(SameDirectory((dir + "/a").c_str(), (dir + "//a/").c_str()), 1);
  EXPECT_EQ(SameDirectory((dir + "/a").c_str(), (dir + "/b/../a").c_str()), 1);
  EXPECT_EQ(SameDirectory((dir + "/a").c_str(), (dir + "/link").c_str()), 1);
  EXPECT_EQ(SameDirectory("/", "//"), 1);
  EXPECT_EQ(SameDirectory((dir + "/a").c_str(), (dir + "/b").c_str()), 0);
  EXPECT_EQ(SameDirectory((dir + "/a").c_str(), (dir + "/missing").c_str()), 0);
  EXPECT_EQ(SameDirectory((dir + "/missing").c_str(), (dir + "/missing").c_str()), 0);
  EXPECT_EQ(SameDirectory((dir + "/file").c_str(), (dir + "/file").c_str()), 0);
  EXPECT_EQ(SameDirectory(nullptr, "/"), 0);
}

}  // namespace
