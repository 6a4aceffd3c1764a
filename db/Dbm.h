// Dbm.h - keyed record files (Dbm*) and the in-memory typed-record database (DbT*/DbmT*).
// A database is <tool>/db/<name>.kdb (or, for a DbT handle, a path). A change writes the whole
// file to <file>_new under an exclusive lock, syncs it, renames it over the database and syncs
// the directory, so readers and a crash see either the old or the new file whole, and
// concurrent writers in several processes are serialised (no completed change is lost).
// Changes return 1 or 0; reads return a data length, 0 when there is none. One thread.
//
//   OFFSET  SIZE  RECORD FILE (every length little-endian, one record after another)
//        0     2  body length N (not scrambled)
//        2     N  body as one chained-XOR block: key length K (2), key with NUL (K), data
//
//   OFFSET  SIZE  HEADED FILE (every length big-endian)
//        0     6  "TKDBAA"
//        6   <=9  record count, decimal, then a NUL, then rand() filler up to offset 15
//       16        records: N (2), K (2), key with NUL (K, own XOR block), data (N-2-K, own block)
//
// Chained XOR of a block p[0..n-1]: s[i] = p[i] ^ p[i+1], s[n-1] = p[n-1] (41 42 43 -> 03 01 43).
// Limits: key, NUL and data at most 65525 bytes in a record file, 65533 in a headed file;
// larger stores are refused with result 0 and the file unchanged.
#ifndef KORVI_DB_DBM_H
#define KORVI_DB_DBM_H

#include <cstdint>
#include <cstdio>
#include <ctime>

constexpr int kDbmRecBufSize = 65536;     // record buffer: length and body of one record
constexpr int kDbmMaxBody = 0xFFF7;       // 65527: longest body of a record file
constexpr int kDbmMaxKeyData = 65525;     // key, NUL and data of a record file
constexpr int kDbTMaxKeyData = 65533;     // key, NUL and data of a headed file
constexpr int kDbTHeaderSize = 16;        // header of a headed image
constexpr int kDbTWorkAreaSize = 65535;   // process-wide area a plain-image walk unscrambles into

// One link of the chain the record-list queries return. pBlock holds the key with its NUL and
// then the data (N bytes, pool); pData points at the data inside it.
struct DbLink {
  DbLink* pNext;          // next link, null at the end
  unsigned char* pBlock;  // pool block: key, NUL, data
  unsigned char* pData;   // pBlock + K
  int32_t DataLen;        // N - K - 2
};

// Record descriptor filled by a walk step.
struct DbTRec {
  uint16_t RecLen;  // N
  uint16_t KeyLen;  // K, the key's bytes with its NUL
  char* pKey;       // plain key in the work area (plain images only)
};

// Handle of a typed-record database held whole in memory (pool, zero-filled by DbTOpen).
struct DbT {
  char* szName;              // the name or path given to DbTOpen
  unsigned char flSwap;      // 1: 16-bit lengths are byte-swapped between memory and image
  int32_t Flags;             // 2 = no refresh before reads and removals; 4 = no automatic archive
  unsigned char* pImage;     // the image (pool block), null while no file was found
  int32_t ImageLen;          // bytes of the image in use
  time_t MTime;              // modification time (seconds) of the file the image was loaded from
  int32_t Pos;               // data cursor of DbmTGetData/DbmTPutData
  int32_t NextRec;           // offset of the record the next walk step reads
  int32_t RecordCount;       // records of a headed image
  unsigned char flChanged;   // set whenever the image is loaded or changed
  int32_t DbType;            // 0 new, 1 plain record file, 2 headed

  // Private to the library: the file the image came from, its lookup index, the image block.
  char* szPath;              // resolved path (pool), formed for the pToolPath below
  const char* pPathTool;     // pToolPath when szPath was formed
  int64_t MTimeNs;           // nanoseconds of the modification time
  uint64_t FileDev, FileIno; // identity of the loaded file
  int64_t FileSize;          // its size
  int32_t ImageCap;          // bytes allocated for the image (at least ImageLen)
  void* pIndex;              // hash index key -> first record (pool), null when not built
  int32_t IndexMask;         // slots - 1
  const unsigned char* pIndexImage;  // image and length the index describes
  int32_t IndexImageLen;
  int32_t IndexCount;        // keys in the index
  int32_t flDupKeys;         // the index found a key twice in the image (a hand-written file)
  int32_t flLocked;          // this handle holds the writer lock (inside a store or removal)
};

// ===========================================================================
// Globals
// ===========================================================================

extern int Ent2Get;               // position of DbmGetNextRecord, shared by all databases
extern unsigned char TLBuf[4];    // 01 02 03 04: the run-time byte-order probe

// ===========================================================================
// Record files (each call opens, scans and closes <tool>/db/<name>.kdb)
// ===========================================================================

// Scrambles the body of the record buffer (length, plain body) in place and writes N + 2
// bytes. 1 when written.
int PutData(FILE* file, unsigned char* rec);
// Reads one record into rec (length, then the unscrambled body). 0 at end of file, on a short
// read, a length of 0, or a damaged record (body above 65527 bytes, key not fitting the body,
// key without its NUL): a scan stops there and uses the records before it.
int GetData(FILE* file, unsigned char* rec);
// Opens "<tool>/db/<name>.<ext>" with the stdio mode; a missing file gives null at once, any
// other failure is retried 10 times 1 second apart (report 1 prints each failure).
FILE* OpenDataBase(const char* name, const char* ext, const char* mode, char report);
// Creates (mode 666, directory made when missing) and opens, empty, the rewrite file
// "<tool>/db/<name>.kdb_new", holding the writer lock until the stream is closed.
FILE* OpenNewDataBase(const char* name);
// Renames <name>.<oldExt> to <name>.<newExt> in the database directory (replacing the target)
// and syncs the directory; a missing source changes nothing.
void RenameDataBase(const char* name, const char* oldExt, const char* newExt);
// Copies records from in to out, dropping those whose key matches (exact when prefixLen is 0,
// else the first prefixLen bytes). 1 when copied to the end; 0 and a message on a failed write.
int PurgeRecord(const char* name, FILE* in, FILE* out, const char* key, int prefixLen);
// Stores data under key (replacing every record with that key; the new record goes last).
// 0 for missing arguments, len <= 0, an empty key, a record above 65525 bytes of key, NUL and
// data, or a failed write (the file is then unchanged).
int DbmPutRecord(const char* name, const char* key, const void* data, int len);
void DbmCreate();  // does nothing
void DbmDelete();  // does nothing
// Removes the key: 1 also when it was not present; 0 for a missing database or failure.
int DbmDeleteRecord(const char* name, const char* key);
// Removes every key that begins with prefix: 1 when the database was rewritten, else 0.
int DbmDeleteRecords(const char* name, const char* prefix);
// Copies the data of the first record with the key into dest (no terminator added); returns
// its length, 0 if none. dest must hold DbmGetRecordSize(name, key) bytes.
int DbmGetRecord(const char* name, const char* key, void* dest);
// Copies the data of record number Ent2Get into dest and advances Ent2Get; 0 past the end.
// dest must hold the longest data of the database (at most 65525 bytes).
int DbmGetNextRecord(const char* name, void* dest);
// Data length of the first record with the key, 0 if none.
int DbmGetRecordSize(const char* name, const char* key);
// before + key for every record, then after: a pool string, null for a missing or empty file.
char* DbmGetRecordList(const char* name, const char* before, const char* after);
// Prints every record of the file "<file>.db" as "N K ==>{body}" on standard output.
void DumpDbm(const char* file);
// Names of the databases (name.kdb) in the database directory, in directory order: flag 0
// "a,b", other flags " a b". A pool string, null when the directory cannot be read.
char* DbmGetDbList(int flag);
// Stores the data of srcKey under dstKey: the store's result, 0 when the source has no data.
int DbmCopyRecord(const char* name, const char* srcKey, const char* dstKey);
// Chain of every record whose key contains pattern (empty: all), in file order; null if none.
DbLink* DbmGetDbLinkList(const char* name, const char* pattern);
// Frees each link's block and the link.
void DbmFreeDbLinkList(DbLink* pLink);
// Writes the 16-byte header ("TKDBAA", RecordCount cut to 9 digits, NUL, rand() filler) at the
// start of the handle's image.
void UpdateHeader(DbT* pDb);

// ===========================================================================
// Typed-record database (the image in memory; every read refreshes unless Flags holds 2)
// ===========================================================================

// New handle (refreshed at once); also when the file does not exist (no image, DbType 0).
// Null for a null name or an exhausted pool. A name beginning with "/" is a path (".kdb" is
// appended when it has no "."), one beginning with "." a path as it is; any other name is
// <tool>/db/<name>.kdb.
DbT* DbTOpen(const char* name, int flags);
// Frees the image, the index and the handle.
void DbTClose(DbT* pDb);
// Reloads the image when the file changed (modification time, size or identity); a missing
// file leaves the handle unchanged; an empty or unreadable file gives a new image (DbType 0).
// A damaged record and everything after it are cut from the image.
void DbTUpDate(DbT* pDb);
// Sets DbType and flSwap (1 when the type is not 1 and the machine is little-endian).
void DbTSetDbType(DbT* pDb, int type);
// One walk step (cont 0 starts at the first record): fills rec, leaves the cursor at the key
// (headed) or the body in the work area (plain). Null at the end or at a damaged record, which
// is cut from the image.
DbTRec* WalkDbTRecords(DbT* pDb, DbTRec* rec, int cont);
// Finds the first record with the key: 1 with the cursor at its data (headed) or its body in
// the work area (plain), else 0.
int FindTRecord(DbT* pDb, const char* key, DbTRec* rec);
// Removes from the image every record with the key (prefixLen 0) or the prefix. 1 if any.
int PurgeTRecord(DbT* pDb, const char* key, int prefixLen);
// Writes the image to the file (headed: header rewritten first). 1 when written; 0 and
// "ERROR: Can't write to <name>" when not (the file is then unchanged).
int DbmTArchiveDb(DbT* pDb);
// Stores data under key at the end of the image and, unless Flags holds 4, archives. 0 for
// missing arguments, len <= 0, an empty key, a record too large for the format, an exhausted
// pool (image unchanged) or a failed archive.
int DbmTPutRecord(DbT* pDb, const char* key, const void* data, int len);
// Removes the key: 0 when it was not there; else 1 (Flags 4) or the archive's result.
int DbmTDeleteRecord(DbT* pDb, const char* key);
// Removes every key beginning with prefix and archives when something went; 1, or 0 for
// missing arguments.
int DbmTDeleteRecords(DbT* pDb, const char* prefix);
// Copies the data of the key into dest (no terminator); its length, 0 if none. dest must hold
// DbmTGetRecordSize bytes.
int DbmTGetRecord(DbT* pDb, const char* key, void* dest);
// As DbmTGetRecord into *ppBuf; when the data is longer than capacity, a new pool block of the
// data length is put in *ppBuf first (the caller owns it; the old buffer is left alone).
int DbmTGetRecordV(DbT* pDb, const char* key, char** ppBuf, int capacity);
// Data length of the key, 0 if none.
int DbmTGetRecordSize(DbT* pDb, const char* key);
// Stores the data of srcKey under dstKey: the store's result, 0 when the source has no data.
int DbmTCopyRecord(DbT* pDb, const char* srcKey, const char* dstKey);
// before + key for every record, then after: a pool string, null when there are no records.
char* DbmTGetRecordList(DbT* pDb, const char* before, const char* after);
// The same for the keys that begin with one of the comma-separated names.
char* DbmTGetRecordListS(DbT* pDb, const char* names, const char* before, const char* after);
// 1 when key begins with one of the comma-separated names (empty names skipped), else 0.
// Backslash escapes in names as the tokenizer reads them; the shared tokenizer is not touched.
int TestKeyName(const char* key, const char* names);
// Chain of every record whose key contains pattern (empty: all), in image order; null if none.
DbLink* DbmTGetDbLinkList(DbT* pDb, const char* pattern);
// Writes n bytes as one chained-XOR block at the cursor and advances it (never past the image).
void DbmTPutData(DbT* pDb, const void* src, int n);
// Unscrambles n bytes at the cursor into dest and advances it (never past the image).
void DbmTGetData(DbT* pDb, void* dest, int n);

#endif  // KORVI_DB_DBM_H
