// utils_error.cpp - reports, the run log and questions about the environment.
// SysError and ErrorMsg type 2 end the program; the run log is /tmp/<my_name>.log.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/utils.h"

char* my_name = nullptr;
int flUseLog = 0;
char* pLogPath = nullptr;
char* pToolPath = nullptr;

void SysError(const char* fmt, ...) {
  int nErr = errno;
  fprintf(stderr, "\n%s: ", my_name ? my_name : "");
  va_list ap;
  va_start(ap, fmt);
  vfprintf(stderr, fmt, ap);
  va_end(ap);
  fprintf(stderr, " : %s\n", strerror(nErr));
  exit(1);
}
