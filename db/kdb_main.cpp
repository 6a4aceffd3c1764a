// kdb_main.cpp - kdb, the command-line tool for record database files named by their path.
//   kdb list FILE             keys in file order, one a line
//   kdb get FILE KEY          the data bytes, unchanged, on standard output
//   kdb put FILE KEY          stores standard input's bytes (a new file is headed, a plain
//                             file stays plain)
//   kdb del FILE KEY          removes the key
//   kdb delprefix FILE PREFIX removes every key beginning with PREFIX
//   kdb dump FILE             format, record count, every key and data with unprintable
//                             bytes escaped
// Exit status: 0 done, 1 failed (absent key, missing file, refused store), 2 usage.
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "db/Dbm.h"

namespace {

const char kUsage[] =
    "usage: kdb list FILE\n"
    "       kdb get FILE KEY\n"
    "       kdb put FILE KEY < DATA\n"
    "       kdb del FILE KEY\n"
    "       kdb delprefix FILE PREFIX\n"
    "       kdb dump FILE\n";

// The name under which the library opens FILE itself: a path beginning with "/" is used as
// it is only when it holds a ".", and any other name is taken as a database name.
std::string HandleName(const std::string& file) {
  if (file[0] == '/') return file.find('.') == std::string::npos ? "/." + file : file;
  if (file[0] == '.') return file;
  return "./" + file;
}

// Key or data as a double-quoted text: printable ASCII as it is, \" \\ \n \r \t, else \xHH.
std::string Escaped(const unsigned char* p, size_t n) {
  std::string out = "\"";
  for (size_t i = 0; i < n; i++) {
    unsigned char c = p[i];
    char buf[8];
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c >= 0x20 && c < 0x7f) {
          out += char(c);
        } else {
          snprintf(buf, sizeof buf, "\\x%02x", c);
          out += buf;
        }
    }
  }
  return out + "\"";
}

// "kdb: <message>" on standard error; returns the exit status 1.
int Fail(const char* fmt, ...) KORVI_PRINTF(1, 2);
int Fail(const char* fmt, ...) {
  fprintf(stderr, "kdb: ");
  va_list ap;
  va_start(ap, fmt);
  vfprintf(stderr, fmt, ap);
  va_end(ap);
  fputc('\n', stderr);
  return 1;
}

// Every record of the image in order: key and data (unscrambled).
struct Record {
  std::string key;
  std::vector<unsigned char> data;
};

std::vector<Record> Records(DbT* pDb) {
  std::vector<Record> out;
  DbLink* pFirst = DbmTGetDbLinkList(pDb, "");
  for (DbLink* p = pFirst; p; p = p->pNext) {
    Record r;
    r.key = reinterpret_cast<const char*>(p->pBlock);
    r.data.assign(p->pData, p->pData + p->DataLen);
    out.push_back(std::move(r));
  }
  DbmFreeDbLinkList(pFirst);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  static char szName[] = "kdb";
  my_name = szName;
  if (argc < 3) {
    fputs(kUsage, stderr);
    return 2;
  }
  std::string cmd = argv[1], file = argv[2];
  int nArgs = (cmd == "list" || cmd == "dump") ? 3 : 4;
  if ((cmd != "list" && cmd != "dump" && cmd != "get" && cmd != "put" && cmd != "del" &&
       cmd != "delprefix") ||
      argc != nArgs || file.empty()) {
    fputs(kUsage, stderr);
    return 2;
  }
  const char* key = nArgs == 4 ? argv[3] : "";
  if (nArgs == 4 && !*key) return Fail("%s: the key is empty", cmd.c_str());

  struct stat st;
  int flExists = stat(file.c_str(), &st) == 0;
  if (!flExists && cmd != "put") return Fail("%s: no such database file", file.c_str());
  if (flExists && !S_ISREG(st.st_mode)) return Fail("%s: not a regular file", file.c_str());
  DbT* pDb = DbTOpen(HandleName(file).c_str(), 0);
  if (!pDb) return Fail("%s: out of memory", file.c_str());
  int rc = 0;

  if (cmd == "list") {
    for (const Record& r : Records(pDb)) printf("%s\n", r.key.c_str());
  } else if (cmd == "dump") {
    std::vector<Record> recs = Records(pDb);
    const char* pFormat = pDb->DbType == 2 ? "headed" : pDb->DbType == 1 ? "plain" : "empty";
    printf("format: %s\nrecords: %zu\n", pFormat, recs.size());
    for (const Record& r : recs) {
      printf("key %s data(%zu) %s\n",
             Escaped(reinterpret_cast<const unsigned char*>(r.key.data()), r.key.size()).c_str(),
             r.data.size(), Escaped(r.data.data(), r.data.size()).c_str());
    }
  } else if (cmd == "get") {
    DbTRec rec;
    if (!pDb->pImage || !FindTRecord(pDb, key, &rec)) {
      rc = Fail("%s: no such key in %s", key, file.c_str());
    } else {
      char* pBuf = nullptr;
      int n = DbmTGetRecordV(pDb, key, &pBuf, 0);  // sized by the record itself
      if (n > 0 && fwrite(pBuf, 1, size_t(n), stdout) != size_t(n)) rc = 1;
      PutMem(pBuf);
    }
  } else if (cmd == "put") {
    std::vector<char> data;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, stdin)) > 0) data.insert(data.end(), buf, buf + n);
    size_t limit = pDb->DbType == 1 ? kDbmMaxKeyData : kDbTMaxKeyData;
    size_t nRecord = strlen(key) + 1 + data.size();
    if (data.empty()) {
      rc = Fail("%s: no data on standard input", key);
    } else if (nRecord > limit) {
      std::string sizes = std::to_string(nRecord) + " bytes of key, NUL and data, at most " +
                          std::to_string(limit);
      rc = Fail("%s: record too large (%s)", key, sizes.c_str());
    } else if (!DbmTPutRecord(pDb, key, data.data(), int(data.size()))) {
      rc = (fputc('\n', stderr), Fail("%s: not stored in %s", key, file.c_str()));
    }
  } else if (cmd == "del") {
    DbTRec rec;
    if (!pDb->pImage || !FindTRecord(pDb, key, &rec)) {
      rc = Fail("%s: no such key in %s", key, file.c_str());
    } else if (!DbmTDeleteRecord(pDb, key)) {
      rc = (fputc('\n', stderr), Fail("%s: not removed from %s", key, file.c_str()));
    }
  } else if (cmd == "delprefix") {
    if (!DbmTDeleteRecords(pDb, key)) {
      fputc('\n', stderr);
      rc = Fail("%s: not removed from %s", key, file.c_str());
    }
  }
  DbTClose(pDb);
  if (fflush(stdout) != 0) rc = 1;
  return rc;
}
