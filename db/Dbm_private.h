// Dbm_private.h - what the record-file and typed-record sources share: database paths, the
// chained XOR, 16-bit lengths, and the locked rewrite that publishes every change.
// A rewrite takes an exclusive lock on <file>_new (checking after the lock that the locked
// file is still the one under that name), truncates it, and on commit syncs it, renames it
// over <file> and syncs the directory before the lock goes with the descriptor.
#ifndef KORVI_DB_DBM_PRIVATE_H
#define KORVI_DB_DBM_PRIVATE_H

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

constexpr int kDbPathMax = 4096;  // every database path, NUL included

// "<tool>/db" (tool "." while pToolPath is unset) into buf; 0 when it does not fit.
int DbDirPath(char* buf, int size);
// "<tool>/db/<name>.<ext>" into buf; 0 when it does not fit.
int DbFilePath(char* buf, int size, const char* name, const char* ext);
// Creates the directory (and its missing parents) with permissions 777; 1 when it exists.
int DbMakeDir(const char* dir);

// Chained XOR of n bytes from src into dst (they may be the same area).
void DbScramble(unsigned char* dst, const unsigned char* src, int n);
// Undoes it: n bytes from src into dst (they may be the same area).
void DbUnscramble(unsigned char* dst, const unsigned char* src, int n);

// A 16-bit length in the machine's order, byte-swapped when swap is set.
inline unsigned DbGet16(const unsigned char* p, int swap) {
  uint16_t v;
  memcpy(&v, p, 2);
  return swap ? uint16_t(v << 8 | v >> 8) : v;
}
inline void DbPut16(unsigned char* p, unsigned v, int swap) {
  uint16_t w = uint16_t(v);
  if (swap) w = uint16_t(w << 8 | w >> 8);
  memcpy(p, &w, 2);
}
// A 16-bit length of a record file: little-endian on every machine.
inline unsigned DbGetLE16(const unsigned char* p) { return unsigned(p[1]) << 8 | p[0]; }
inline void DbPutLE16(unsigned char* p, unsigned v) {
  p[0] = (unsigned char)v;
  p[1] = (unsigned char)(v >> 8);
}

// One change being written: the locked rewrite file and the file it will replace.
struct DbRewrite {
  int fd;                     // locked descriptor of szNew, -1 when none
  char szNew[kDbPathMax];     // <target>_new
  char szTarget[kDbPathMax];  // the database file
};

// Creates the directory when missing, opens and locks <target>_new (mode 666) and empties it.
// 1 with rw->fd locked; 0 (nothing held) on failure.
int DbRewriteBegin(DbRewrite* rw, const char* target);
// Writes len bytes at the end of the rewrite file; 1 when all were written.
int DbRewriteWrite(DbRewrite* rw, const void* data, int64_t len);
// Syncs the rewrite file, renames it over the target, syncs the directory and releases the
// lock. When file is given it is the stream over rw->fd: flushed first and closed at the end.
// st (optional) receives the status of the file as published. 1 when the rename happened.
int DbRewriteCommit(DbRewrite* rw, FILE* file, struct stat* st);
// Gives the change up: removes the rewrite file, closes file or the descriptor (releasing
// the lock). The target is untouched.
void DbRewriteAbort(DbRewrite* rw, FILE* file);

#endif  // KORVI_DB_DBM_PRIVATE_H
