// The program's own path, full paths, the current directory and the
// programs the runtime starts. The path rules themselves (and the string
// forms of these paths) are in os_paths.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct OsThread;

// The full path of the running program's file; 0, or ERR_NAMETOOLONG when it
// does not fit the buffer (which is then empty), ERR_FINDPATH when it cannot
// be found out.
uint32_t OsGetProgramPath(char* buffer, size_t size);

// The absolute form of a script path (see OsFullPathString); 0 or
// ERR_NAMETOOLONG as above: no result is ever cut short.
uint32_t OsFullPath(const char* path, char* buffer, size_t size);

// Makes `path` the current directory and returns the previous one in a new
// buffer (OsAllocMem; the caller frees it); null when the change failed (the
// current directory then stays). With a null path only the current directory
// is returned. Script path rules apply ('\' is '/', "PROGDIR:").
char* OsChangeDir(const char* path);

// Splits a command line into arguments the way the Windows command line is
// split: blanks and tabs separate; double quotes group (and are removed);
// inside quotes "" is a literal quote; 2n backslashes before a quote give n
// backslashes, 2n+1 give n and a literal quote; other backslashes are literal.
std::vector<std::string> OsSplitArguments(const char* commandLine);

// Starts `program` with the arguments of the command line `arguments`
// (split as above; no shell is involved). A program name with a '/' is used
// as it is (relative to the current directory); a bare name is looked for in
// the current directory and then along PATH; script path rules apply. A
// synchronous run returns when the program has ended; an asynchronous one
// returns at once and the program is reaped in the background, so no zombie
// is left. 0 when the program was started (whatever its exit status),
// ERR_EXECUTE when it could not be, ERR_MEM.
uint32_t OsRunProgram(const char* program, const char* arguments, int asynchronous);

// Runs the program and waits for it, or for the stop request of `thread`
// (the thread that calls); after a stop the program runs on and is reaped in
// the background. Non-zero when the program was started.
int OsRunProgramWait(const char* program, const char* arguments, OsThread* thread);
