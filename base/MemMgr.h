// MemMgr.h - the process-wide memory pool and saved strings.
#ifndef KORVI_BASE_MEMMGR_H
#define KORVI_BASE_MEMMGR_H

#endif  // KORVI_BASE_MEMMGR_H
