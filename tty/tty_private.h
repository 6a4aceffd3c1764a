// tty_private.h - helpers the terminal toolkit's sources share; not part of its interface.
#ifndef KORVI_TTY_TTY_PRIVATE_H
#define KORVI_TTY_TTY_PRIVATE_H

#include <cstdarg>

#include "base/utils.h"

// Reads one line from standard input into buf (at most size - 1 characters, no line feed);
// the rest of a longer line is read and dropped. Null at end of input when nothing was read.
char* ReadInputLine(char* buf, int size);
// 1 when the printf conversions of text take the same arguments as those of shape.
int TtyArgsMatch(const char* text, const char* shape);
// Formats text with the arguments into out (size bytes, cut to fit) when its conversions are
// those of shape; otherwise out holds "Error". Returns out.
char* TtyFormatV(char* out, int size, const char* text, const char* shape, va_list ap);
// 1 when pDrvCoreDB holds message (set, number).
int TtyHasMsg(int set, int number);
// Message (set, number) of pDrvCoreDB formatted as TtyFormatV does. Returns out.
char* TtyMsgV(char* out, int size, int set, int number, const char* shape, va_list ap);
char* TtyMsg(char* out, int size, int set, int number, const char* shape, ...);
// GetPassPhrase with the wait for each character in seconds.
char* ReadPassPhrase(const char* prompt, int waitSeconds);

#endif  // KORVI_TTY_TTY_PRIVATE_H
