// nls_test_util.h - what the catalogue tests share: a fresh tool directory per test with the
// catalogue's handles and language cleared (the language table is read once per process, so
// a test that resolves a language does it in a child process), catalogues written record by record, and runs of
// the kcat program.
#ifndef KORVI_TESTS_NLS_NLS_TEST_UTIL_H
#define KORVI_TESTS_NLS_NLS_TEST_UTIL_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"
#include "base/utils.h"
#include "nls/NlsUtils.h"

namespace nls_test {

using ktest::Result;
using ktest::ReadFile;
using ktest::RunChild;
using ktest::WriteFile;
using Texts = std::vector<std::pair<std::string, std::string>>;  // key, text

const std::string kKcat = std::string(KORVI_BINARY_DIR) + "/nls/kcat";
const std::string kShippedDir = std::string(KORVI_BINARY_DIR);  // holds db/en_US/CoreString.kdb

// Runs kcat with the arguments; standard input is empty.
inline Result Kcat(std::vector<std::string> args) {
  return RunChild([&] {
    std::vector<char*> argv{const_cast<char*>(kKcat.c_str())};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    freopen("/dev/null", "r", stdin);
    execv(kKcat.c_str(), argv.data());
    _exit(127);
  });
}

class NlsTest : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/nls_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    Dir = tmpl;
    pToolPath = SaveStr_(tmpl);
    pNLSLang = nullptr;
    pDrvCoreDB = pPrtHelpDB = pPrtCoreDB = nullptr;
    const char* lang = getenv("LANG");
    flHadLang = lang != nullptr;
    if (lang) SavedLang = lang;
    unsetenv("LANG");
  }
  void TearDown() override {
    std::filesystem::remove_all(Dir);
    if (flHadLang) setenv("LANG", SavedLang.c_str(), 1);
  }
  // Writes <tool>/db/<lang>/<name>.kdb holding the texts, each with its zero byte.
  void MakeCatalogue(const std::string& lang, const std::string& name, const Texts& texts) {
    std::string dir = Dir + "/db/" + lang;
    std::filesystem::create_directories(dir);
    DbT* db = DbTOpen((dir + "/" + name + ".kdb").c_str(), 4);
    ASSERT_NE(db, nullptr);
    for (const auto& [key, text] : texts)
      ASSERT_EQ(DbmTPutRecord(db, key.c_str(), text.c_str(), int(text.size() + 1)), 1);
    ASSERT_EQ(DbmTArchiveDb(db), 1);
    DbTClose(db);
  }
  DbT* Open(const std::string& lang, const std::string& name) {
    return DbTOpen((Dir + "/db/" + lang + "/" + name + ".kdb").c_str(), 2);
  }
  std::string Dir;
  bool flHadLang = false;
  std::string SavedLang;
};

}  // namespace nls_test

#endif  // KORVI_TESTS_NLS_NLS_TEST_UTIL_H
