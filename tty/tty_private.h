// tty_private.h - helpers the terminal toolkit's sources share; not part of its interface.
#ifndef KORVI_TTY_TTY_PRIVATE_H
#define KORVI_TTY_TTY_PRIVATE_H

#include <cstdarg>

#include "base/utils.h"

// Reads one line from standard input into buf (at most size - 1 characters, no line feed);
// the rest of a longer line is read and dropped. Null at end of input when nothing was read.
char* ReadInputLine(char* buf, int size);
// Formats text, a fetched form of message (set, number), with the arguments into out (size
// bytes, cut to fit) when its conversions are those the message takes (NlsCheckArgs);
// otherwise, and for a null text, out holds "Error". Returns out.
char* TtyFormatV(char* out, int size, const char* text, int set, int number, va_list ap);
// Message (set, number) of pDrvCoreDB formatted as TtyFormatV does ("Error" when missing).
char* TtyMsgV(char* out, int size, int set, int number, va_list ap);
char* TtyMsg(char* out, int size, int set, int number, ...);
// GetPassPhrase with the wait for each character in seconds.
char* ReadPassPhrase(const char* prompt, int waitSeconds);

#endif  // KORVI_TTY_TTY_PRIVATE_H
