// Dbm_file.cpp - keyed record files: each operation opens <tool>/db/<name>.kdb, scans it from
// the start and closes it. A change copies the file record by record into the locked rewrite
// file (Dbm_io.cpp) and publishes it by rename. A damaged record ends a scan as the end of
// the file does, so a damaged file reads up to the damage and is never read past its end.
// Results: 1/0 for changes, a data length (0 for none) for reads, pool strings for lists.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "db/Dbm.h"
#include "db/Dbm_private.h"

int Ent2Get = 0;

namespace {

// Process-wide state of this file: one record buffer, shared because no two calls that use
// it overlap (a change reads the old records, then builds the new one), the data a copy
// carries from its read to its store, and the rewrite that OpenNewDataBase hands out.
struct RecordFileState {
  unsigned char Rec[kDbmRecBufSize];   // the record being read, passed on or built
  unsigned char Copy[kDbmRecBufSize];  // DbmCopyRecord's data (DbmPutRecord builds in Rec)
  DbRewrite NewBase;                   // the stream owns its descriptor; the paths are spent
} rf;

inline unsigned RecLen(const unsigned char* rec) { return DbGetLE16(rec); }
inline unsigned RecKeyLen(const unsigned char* rec) { return DbGetLE16(rec + 2); }
inline char* RecKey(unsigned char* rec) { return reinterpret_cast<char*>(rec + 4); }

// Exact match of a caller's key (its bytes and NUL) with the record's key.
int KeyEquals(unsigned char* rec, const char* key) {
  size_t k = strlen(key) + 1;
  return RecKeyLen(rec) == k && memcmp(RecKey(rec), key, k) == 0;
}

// Opens the record file for reading without any report; null when it is missing. A headed
// file (written by the typed-record database) is no record file: null, and *pHeaded set, so
// that reads find nothing in it and changes leave it alone instead of rewriting it as garbage.
FILE* OpenForRead(const char* name, int* pHeaded = nullptr) {
  if (pHeaded) *pHeaded = 0;
  FILE* in = OpenDataBase(name, "kdb", "rb", 0);
  if (!in) return nullptr;
  char magic[5];
  if (fread(magic, 1, 5, in) == 5 && memcmp(magic, "TKDBA", 5) == 0) {
    fclose(in);
    if (pHeaded) *pHeaded = 1;
    return nullptr;
  }
  rewind(in);
  return in;
}

// Starts a change of database name: the locked rewrite file as a stream.
FILE* BeginChange(const char* name, DbRewrite* rw) {
  char szTarget[kDbPathMax];
  if (!DbFilePath(szTarget, sizeof szTarget, name, "kdb")) return nullptr;
  if (!DbRewriteBegin(rw, szTarget)) {
    fprintf(stderr, "ERROR: can't open file, %s_new\n", szTarget);
    return nullptr;
  }
  FILE* out = fdopen(rw->fd, "wb");
  if (!out) DbRewriteAbort(rw, nullptr);
  return out;
}

int DatabaseExists(const char* name) {
  char szPath[kDbPathMax];
  struct stat st;
  return DbFilePath(szPath, sizeof szPath, name, "kdb") && stat(szPath, &st) == 0;
}

// Ends a change: publishes the rewrite when ok, else gives it up. 1 when published.
int FinishChange(DbRewrite* rw, FILE* out, const char* name, int ok) {
  if (!ok) {
    DbRewriteAbort(rw, out);
    return 0;
  }
  if (!DbRewriteCommit(rw, out, nullptr)) {
    fprintf(stderr, "ERROR: Can't write to %s", name);
    return 0;
  }
  return 1;
}

// Removal common to DbmDeleteRecord (prefixLen 0) and DbmDeleteRecords.
int DeleteMatching(const char* name, const char* key, int prefixLen) {
  if (!DatabaseExists(name)) return 0;
  DbRewrite rw;
  FILE* out = BeginChange(name, &rw);
  if (!out) return 0;
  int flHeaded;
  FILE* in = OpenForRead(name, &flHeaded);
  if (!in) {
    DbRewriteAbort(&rw, out);
    if (flHeaded) fprintf(stderr, "ERROR: Can't write to %s", name);
    return 0;
  }
  int ok = PurgeRecord(name, in, out, key, prefixLen);
  fclose(in);
  return FinishChange(&rw, out, name, ok);
}

}  // namespace

int PutData(FILE* file, unsigned char* rec) {
  if (!file || !rec) return 0;
  unsigned n = RecLen(rec);
  if (n > unsigned(kDbmMaxBody)) return 0;  // the record buffer holds no more
  DbScramble(rec + 2, rec + 2, int(n));
  return fwrite(rec, 1, n + 2, file) == n + 2;
}

int GetData(FILE* file, unsigned char* rec) {
  if (!file || !rec) return 0;
  unsigned char len[2];
  if (fread(len, 1, 2, file) != 2) return 0;
  unsigned n = DbGetLE16(len);
  if (n < 2 || n > unsigned(kDbmMaxBody)) return 0;  // 0 ends the file; the rest is damage
  if (fread(rec + 2, 1, n, file) != n) return 0;
  DbUnscramble(rec + 2, rec + 2, int(n));
  unsigned k = RecKeyLen(rec);
  if (k == 0 || k + 2 > n || rec[4 + k - 1] != 0) return 0;
  rec[0] = len[0];
  rec[1] = len[1];
  return 1;
}

FILE* OpenDataBase(const char* name, const char* ext, const char* mode, char report) {
  if (!name || !ext || !mode) return nullptr;
  char szPath[kDbPathMax];
  if (!DbFilePath(szPath, sizeof szPath, name, ext)) return nullptr;
  for (int attempt = 0; attempt < 10; attempt++) {
    if (FILE* f = fopen(szPath, mode)) return f;
    if (errno == ENOENT) return nullptr;  // missing: not an error, no waiting
    if (report == 1) fprintf(stderr, "ERROR: can't open file, %s\n", szPath);
    if (attempt < 9) sleep(1);
  }
  return nullptr;
}

FILE* OpenNewDataBase(const char* name) {
  if (!name) return nullptr;
  return BeginChange(name, &rf.NewBase);
}

void RenameDataBase(const char* name, const char* oldExt, const char* newExt) {
  if (!name || !oldExt || !newExt) return;
  char szOld[kDbPathMax], szNew[kDbPathMax], szDir[kDbPathMax];
  if (!DbFilePath(szOld, sizeof szOld, name, oldExt) ||
      !DbFilePath(szNew, sizeof szNew, name, newExt) || !DbDirPath(szDir, sizeof szDir)) {
    return;
  }
  if (rename(szOld, szNew) != 0) return;  // a missing source changes nothing
  int fd = open(szDir, O_RDONLY);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

int PurgeRecord(const char* name, FILE* in, FILE* out, const char* key, int prefixLen) {
  if (!in || !out || !key) return 0;
  size_t nKey = strlen(key) + 1;
  if (prefixLen < 0 || size_t(prefixLen) > nKey) prefixLen = int(nKey);  // never past the key
  unsigned char* rec = rf.Rec;
  while (GetData(in, rec)) {
    unsigned k = RecKeyLen(rec);
    size_t l = prefixLen ? size_t(prefixLen) : k;
    int flMatch = l <= k && (prefixLen || l == nKey) && memcmp(RecKey(rec), key, l) == 0;
    if (flMatch) continue;
    if (!PutData(out, rec)) {
      fprintf(stderr, "ERROR: Can't write to %s", name ? name : "");
      return 0;
    }
  }
  return 1;
}

int DbmPutRecord(const char* name, const char* key, const void* data, int len) {
  if (!name || !key || !data || len <= 0 || !*key) return 0;
  size_t k = strlen(key) + 1;
  if (k + size_t(len) > size_t(kDbmMaxKeyData)) return 0;  // the 16-bit lengths cannot say it
  DbRewrite rw;
  FILE* out = BeginChange(name, &rw);
  if (!out) return 0;
  int ok = 1, flHeaded;
  if (FILE* in = OpenForRead(name, &flHeaded)) {
    ok = PurgeRecord(name, in, out, key, 0);
    fclose(in);
  } else if (flHeaded) {
    DbRewriteAbort(&rw, out);
    fprintf(stderr, "ERROR: Can't write to %s", name);
    return 0;
  }
  if (ok) {
    unsigned char* rec = rf.Rec;
    unsigned n = unsigned(len) + unsigned(k) + 2;
    DbPutLE16(rec, n);
    DbPutLE16(rec + 2, unsigned(k));
    memcpy(rec + 4, key, k);
    memcpy(rec + 4 + k, data, size_t(len));
    ok = PutData(out, rec);
    if (!ok) fprintf(stderr, "ERROR: Can't write to %s", name);
  }
  return FinishChange(&rw, out, name, ok);
}

void DbmCreate() {}
void DbmDelete() {}

int DbmDeleteRecord(const char* name, const char* key) {
  if (!name || !key) return 0;
  return DeleteMatching(name, key, 0);
}

int DbmDeleteRecords(const char* name, const char* prefix) {
  if (!name || !prefix || !*prefix) return 0;
  return DeleteMatching(name, prefix, int(strlen(prefix)));
}

int DbmGetRecord(const char* name, const char* key, void* dest) {
  if (!name || !key || !dest) return 0;
  FILE* in = OpenForRead(name);
  if (!in) return 0;
  unsigned char* rec = rf.Rec;
  int nData = 0;
  while (GetData(in, rec)) {
    if (!KeyEquals(rec, key)) continue;
    unsigned k = RecKeyLen(rec);
    nData = int(RecLen(rec) - k - 2);
    if (nData > 0) memcpy(dest, rec + 4 + k, size_t(nData));
    break;
  }
  fclose(in);
  return nData;
}

int DbmGetNextRecord(const char* name, void* dest) {
  if (!name || !dest) return 0;
  FILE* in = OpenForRead(name);
  if (!in) return 0;
  unsigned char* rec = rf.Rec;
  for (int i = 0; i <= Ent2Get; i++) {
    if (!GetData(in, rec)) {
      fclose(in);
      return 0;
    }
  }
  fclose(in);
  unsigned k = RecKeyLen(rec);
  int nData = int(RecLen(rec) - k - 2);
  if (nData > 0) memcpy(dest, rec + 4 + k, size_t(nData));
  Ent2Get++;
  return nData;
}

int DbmGetRecordSize(const char* name, const char* key) {
  if (!name || !key) return 0;
  FILE* in = OpenForRead(name);
  if (!in) return 0;
  unsigned char* rec = rf.Rec;
  int nData = 0;
  while (GetData(in, rec)) {
    if (KeyEquals(rec, key)) {
      nData = int(RecLen(rec) - RecKeyLen(rec) - 2);
      break;
    }
  }
  fclose(in);
  return nData;
}

char* DbmGetRecordList(const char* name, const char* before, const char* after) {
  if (!name) return nullptr;
  FILE* in = OpenForRead(name);
  if (!in) return nullptr;
  unsigned char* rec = rf.Rec;
  PoolText t = {};
  int nRecords = 0;
  while (GetData(in, rec)) {
    nRecords++;
    PoolTextAppendStr(&t, before);
    PoolTextAppendStr(&t, RecKey(rec));
  }
  fclose(in);
  if (nRecords == 0) return nullptr;
  PoolTextAppendStr(&t, after);
  return PoolTextTake(&t);
}

void DumpDbm(const char* file) {
  if (!file) return;
  char szPath[kDbPathMax];
  int n = snprintf(szPath, sizeof szPath, "%s.db", file);
  if (n <= 0 || n >= int(sizeof szPath)) return;
  FILE* in = fopen(szPath, "rb");
  if (!in) {
    fprintf(stderr, "ERROR: can't open file, %s\n", szPath);
    return;
  }
  unsigned char* rec = rf.Rec;
  while (GetData(in, rec)) {
    unsigned nLen = RecLen(rec);
    printf("%i %i ==>{", int(nLen), int(RecKeyLen(rec)));
    for (unsigned i = 4; i < nLen + 2; i++) {
      unsigned char c = rec[i];
      putchar(c >= 0x20 && c < 0x7f ? c : '.');
    }
    printf("}\n");
  }
  fclose(in);
}

char* DbmGetDbList(int flag) {
  char szDir[kDbPathMax];
  if (!DbDirPath(szDir, sizeof szDir)) return nullptr;
  DIR* d = opendir(szDir);
  if (!d) return nullptr;
  PoolText t = {};
  if (flag) PoolTextAppendStr(&t, " ");
  int nNames = 0;
  while (struct dirent* e = readdir(d)) {
    const char* pDot = strchr(e->d_name, '.');
    if (!pDot || pDot == e->d_name || strcmp(pDot, ".kdb") != 0) continue;
    if (nNames++) PoolTextAppendStr(&t, flag ? " " : ",");
    PoolTextAppend(&t, e->d_name, int(pDot - e->d_name));
  }
  closedir(d);
  return PoolTextTake(&t);  // no databases: ""
}

int DbmCopyRecord(const char* name, const char* srcKey, const char* dstKey) {
  if (!name || !srcKey || !dstKey) return 0;
  unsigned char* buf = rf.Copy;
  int nData = DbmGetRecord(name, srcKey, buf);
  if (nData == 0) return 0;
  return DbmPutRecord(name, dstKey, buf, nData);
}

DbLink* DbmGetDbLinkList(const char* name, const char* pattern) {
  if (!name || !pattern) return nullptr;
  FILE* in = OpenForRead(name);
  if (!in) return nullptr;
  unsigned char* rec = rf.Rec;
  DbLink* pFirst = nullptr;
  DbLink* pLast = nullptr;
  while (GetData(in, rec)) {
    if (!strstr(RecKey(rec), pattern)) continue;
    unsigned nLen = RecLen(rec), k = RecKeyLen(rec);
    DbLink* pLink = static_cast<DbLink*>(GetMem(int(sizeof(DbLink))));
    unsigned char* pBlock = static_cast<unsigned char*>(GetMem(int(nLen)));
    if (!pLink || !pBlock) {
      PutMem(pLink);
      PutMem(pBlock);
      continue;
    }
    memcpy(pBlock, rec + 4, nLen - 2);
    pLink->pBlock = pBlock;
    pLink->pData = pBlock + k;
    pLink->DataLen = int32_t(nLen - k - 2);
    if (pLast) {
      pLast->pNext = pLink;
    } else {
      pFirst = pLink;
    }
    pLast = pLink;
  }
  fclose(in);
  return pFirst;
}

void DbmFreeDbLinkList(DbLink* pLink) {
  while (pLink) {
    DbLink* pNext = pLink->pNext;
    PutMem(pLink->pBlock);
    PutMem(pLink);
    pLink = pNext;
  }
}

void UpdateHeader(DbT* pDb) {
  if (!pDb || !pDb->pImage || pDb->ImageCap < kDbTHeaderSize) return;
  char szCount[32];
  snprintf(szCount, sizeof szCount, "%li", long(pDb->RecordCount));
  szCount[9] = 0;  // at most 9 digits
  unsigned char* p = pDb->pImage;
  int n = snprintf(reinterpret_cast<char*>(p), kDbTHeaderSize, "TKDBAA%s", szCount);
  for (int i = n + 1; i < kDbTHeaderSize; i++) p[i] = (unsigned char)(rand() & 0xFF);
}
