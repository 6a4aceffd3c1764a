// NlsCache.h - private to the catalogue: the texts of messages fetched by set and number,
// kept per catalogue handle so that a repeated fetch is a hash probe and a copy. A handle's
// texts are dropped when its image is loaded again or changed (the handle's flChanged, which
// the cache clears when it starts over, pImage and ImageLen).
#ifndef KORVI_NLS_NLSCACHE_H
#define KORVI_NLS_NLSCACHE_H

#include "db/Dbm.h"

// The cached text of message (set, number) of db and its length with the terminator in *len;
// null when it is not cached. The text stays valid until the next NlsCacheAdd or a change.
const char* NlsCacheFind(DbT* db, int set, int number, int* len);
// Keeps a copy of text (len bytes with its terminator) as message (set, number) of db.
// Nothing is kept when the pool is exhausted.
void NlsCacheAdd(DbT* db, int set, int number, const char* text, int len);

#endif  // KORVI_NLS_NLSCACHE_H
