// record_commands.h - runs installer code in a mode that records commands instead of running
// them. Linked into a fuzz target, record_commands.cpp takes the place of the C library's
// system, popen, pclose, sleep and exit, and of open and fopen for writing: while a recorded
// run is on, a command line is kept (a capture gives no output but "5.10" for uname), a file
// opened for writing outside the scratch directory is kept as a write and sent to a scratch
// file, and an exit returns to the caller of the run. Outside a recorded run every call goes
// to the C library.
#ifndef KORVI_FUZZ_RECORD_COMMANDS_H
#define KORVI_FUZZ_RECORD_COMMANDS_H

#include <functional>
#include <string>
#include <vector>

struct FuzzRecord {
  std::vector<std::string> Commands;  // system() and popen() lines, in order
  std::vector<std::string> Writes;    // paths outside the scratch directory opened for writing
  bool Exited = false;                // the code ended the program
  int ExitStatus = 0;
};

// The installer's places for a recorded run, all under the scratch directory: the command
// table resolved to empty stand-ins in <scratch>/bin, the work directory <scratch>/work, the
// target <scratch>/opt and the application directory <scratch>/opt/Korvi/kvln. Logging off.
void FuzzInstallerSetUp();

// Runs fn recorded.
FuzzRecord FuzzRecorded(const std::function<void()>& fn);

// A recorded command line is plain when, beside the installer's own fixed parts (the shell
// row's -c quoting, the redirections to /dev/null, the quotes around paths), it holds only
// characters that ShellSafe lets through and blanks. fixed: further fixed texts to set aside.
bool FuzzCommandIsPlain(const std::string& cmd, const std::vector<std::string>& fixed);

#endif  // KORVI_FUZZ_RECORD_COMMANDS_H
