// utils.h - the foundation's general utilities, one header for four concerns:
//   tokenizer and strings (utils_token.cpp, utils_string.cpp), file access (utils_file.cpp),
//   errors, run log and environment (utils_error.cpp), in-place text-file editing (utils_edit.cpp).
// Results are integers or pointers: 0 or null for failure or absence, 1 for success.
// Functions that return static or process-wide buffers say so; such a result is valid
// until the next call that uses the same buffer. Built with syscmd/ as one library.
#ifndef KORVI_BASE_UTILS_H
#define KORVI_BASE_UTILS_H

#include <cstddef>
#include <cstdio>

#include "base/MemMgr.h"

#define KORVI_PRINTF(f, a) __attribute__((format(printf, f, a)))

// ===========================================================================
// Tokenizer and string utilities
// ===========================================================================

// ===========================================================================
// File access and queries
// ===========================================================================

// ===========================================================================
// Errors, run log and environment
// ===========================================================================

extern char* my_name;     // program base name; prefix of reports, name of the log file
extern int flUseLog;      // logging on
extern char* pLogPath;    // directory of the log file, "/tmp"
extern char* pToolPath;   // tool directory of the library subsystems (db/, trans.conf)

// Fatal: "\n<my_name>: <message> : <strerror(errno)>\n" on standard error, exit code 1.
[[noreturn]] void SysError(const char* fmt, ...) KORVI_PRINTF(1, 2);

// ===========================================================================
// In-place text-file editing
// ===========================================================================

#endif  // KORVI_BASE_UTILS_H
