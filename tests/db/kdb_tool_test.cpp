// The kdb tool, run as a program on files written by the library and by hand, in both formats.
#include <sys/wait.h>

#include <string>

#include "db/Dbm.h"
#include "db_test_util.h"

namespace {

using ktest::Result;

class KdbTool : public DbTest {
 public:
  // Runs kdb with the arguments (each single-quoted) and stdin from the given bytes.
  Result Run(const std::vector<std::string>& args, const std::string& in = "") {
    std::string cmd = ktest::Quote(ktest::Built("db/kdb"));
    for (const std::string& a : args) cmd += " " + ktest::Quote(a);
    ktest::WriteFile(F("stdin"), in);
    cmd += " <" + ktest::Quote(F("stdin")) + " >" + ktest::Quote(F("stdout")) + " 2>" +
           ktest::Quote(F("stderr"));
    Result r;
    r.status = ktest::Shell(cmd);
    r.out = ktest::ReadFile(F("stdout"));
    r.err = ktest::ReadFile(F("stderr"));
    return r;
  }
  std::string F(const std::string& name) const { return tool_ + "/" + name; }
};

TEST_F(KdbTool, PutGetListDeleteOnANewFile) {
  std::string f = F("new.kdb");
  std::string bin("a\0b\n\xff", 5);
  EXPECT_EQ(Run({"put", f, "k1"}, bin).status, 0);
  EXPECT_EQ(Run({"put", f, "k2"}, "two").status, 0);
  EXPECT_EQ(Run({"put", f, "k1"}, "one").status, 0);  // replaced, now last
  Bytes file = ReadBytes(f);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 8), std::string("TKDBAA2\0", 8));
  EXPECT_EQ(Bytes(file.begin() + 16, file.end()),
            Cat({HeadedRecord("k2", Str("two")), HeadedRecord("k1", Str("one"))}));
  Result r = Run({"list", f});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "k2\nk1\n");
  EXPECT_EQ(Run({"put", f, "bin"}, bin).status, 0);
  r = Run({"get", f, "bin"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, bin);  // the bytes unchanged, nothing added
  EXPECT_EQ(r.err, "");
  r = Run({"get", f, "zz"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "kdb: zz: no such key in " + f + "\n");
  EXPECT_EQ(Run({"del", f, "k2"}).status, 0);
  r = Run({"del", f, "k2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kdb: k2: no such key in " + f + "\n");
  EXPECT_EQ(Run({"put", f, "k10"}, "x").status, 0);
  EXPECT_EQ(Run({"delprefix", f, "k1"}).status, 0);
  EXPECT_EQ(Run({"list", f}).out, "bin\n");
  EXPECT_FALSE(Exists(f + "_new"));
}

TEST_F(KdbTool, DumpShowsFormatCountAndEscapedRecords) {
  std::string f = F("d.kdb");
  WriteBytes(f, Cat({Header("2"), HeadedRecord("a key", Str(std::string("x\"\\\n\r\t\x01\x7f\xc3", 9))),
                     HeadedRecord("b", Str("plain text"))}));
  Result r = Run({"dump", f});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "format: headed\n"
            "records: 2\n"
            "key \"a key\" data(9) \"x\\\"\\\\\\n\\r\\t\\x01\\x7f\\xc3\"\n"
            "key \"b\" data(10) \"plain text\"\n");
  WriteBytes(f, Cat({PlainRecord("p", Str("q"))}));
  EXPECT_EQ(Run({"dump", f}).out, "format: plain\nrecords: 1\nkey \"p\" data(1) \"q\"\n");
  WriteBytes(f, {});
  EXPECT_EQ(Run({"dump", f}).out, "format: empty\nrecords: 0\n");
}

TEST_F(KdbTool, HandWrittenPlainFileStaysPlain) {
  std::string f = F("plain.kdb");
  WriteBytes(f, Cat({PlainRecord("a", Str("1")), PlainRecord("b", Str("22"))}));
  EXPECT_EQ(Run({"list", f}).out, "a\nb\n");
  EXPECT_EQ(Run({"get", f, "b"}).out, "22");
  EXPECT_EQ(Run({"put", f, "c"}, "333").status, 0);
  EXPECT_EQ(Run({"del", f, "a"}).status, 0);
  EXPECT_EQ(ReadBytes(f), Cat({PlainRecord("b", Str("22")), PlainRecord("c", Str("333"))}));
}

TEST_F(KdbTool, FilesWrittenByTheLibrary) {
  ASSERT_EQ(DbmPutRecord("lib", "k", "plain", 5), 1);
  DbT* db = DbTOpen("cat", 0);
  ASSERT_EQ(DbmTPutRecord(db, "25_1001", "Hello", 5), 1);
  DbTClose(db);
  EXPECT_EQ(Run({"get", DbFile("lib"), "k"}).out, "plain");
  EXPECT_EQ(Run({"get", DbFile("cat"), "25_1001"}).out, "Hello");
  EXPECT_EQ(Run({"dump", DbFile("cat")}).out,
            "format: headed\nrecords: 1\nkey \"25_1001\" data(5) \"Hello\"\n");
  // And the library reads what the tool wrote.
  EXPECT_EQ(Run({"put", DbFile("cat"), "25_1002"}, "World").status, 0);
  db = DbTOpen("cat", 0);
  char buf[8] = {0};
  EXPECT_EQ(DbmTGetRecord(db, "25_1002", buf), 5);
  EXPECT_STREQ(buf, "World");
  DbTClose(db);
}

TEST_F(KdbTool, PathsAreTakenAsTheyAre) {
  // An absolute path without a dot, and a relative one: exactly those files.
  std::string abs = F("nodot");
  EXPECT_EQ(Run({"put", abs, "a"}, "1").status, 0);
  EXPECT_TRUE(Exists(abs));
  EXPECT_FALSE(Exists(abs + ".kdb"));
  EXPECT_EQ(Run({"get", abs, "a"}).out, "1");
  std::string cmd = "cd '" + tool_ + "' && " + KORVI_BINARY_DIR + "/db/kdb put sub/rel.db k </dev/null";
  EXPECT_NE(system(cmd.c_str()), 0);  // no data: refused
  cmd = "cd '" + tool_ + "' && echo -n v | " + KORVI_BINARY_DIR + "/db/kdb put sub/rel.db k";
  EXPECT_EQ(system(cmd.c_str()), 0);
  EXPECT_TRUE(Exists(F("sub/rel.db")));
}

TEST_F(KdbTool, Refusals) {
  std::string f = F("r.kdb");
  Result r = Run({"list", f});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kdb: " + f + ": no such database file\n");
  r = Run({"put", f, "k"}, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kdb: k: no data on standard input\n");
  EXPECT_FALSE(Exists(f));
  ASSERT_EQ(Run({"put", f, "k"}, "v").status, 0);
  Bytes before = ReadBytes(f);
  r = Run({"put", f, "big"}, std::string(65530, 'x'));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kdb: big: record too large (65534 bytes of key, NUL and data, at most 65533)\n");
  EXPECT_EQ(ReadBytes(f), before);
  EXPECT_EQ(Run({"put", f, "big"}, std::string(65529, 'x')).status, 0);
  EXPECT_EQ(Run({"get", f, "big"}).out.size(), 65529u);
  r = Run({"list", tool_});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kdb: " + tool_ + ": not a regular file\n");
  r = Run({"get", f, ""});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kdb: get: the key is empty\n");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"list"}, {"frob", f}, {"get", f}, {"list", f, "x"}}) {
    r = Run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("usage: kdb list FILE\n", 0), 0u);
  }
}

}  // namespace
