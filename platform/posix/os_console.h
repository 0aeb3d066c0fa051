// The console and the debug-output channel. The console is standard output;
// the start-up option DEBUGDEVICE may send debug output to a file instead.
#pragma once

#include <cstdarg>
#include <cstddef>

// Sets up the debug-output channel from the DEBUGDEVICE value: "::file"
// followed by a path (host path rules: '\' and "PROGDIR:") writes to that
// file, created or emptied; "::hwnd" and any other value keep the console.
// Answers 0, or ERR_WRITEFILE (with the path as error text) when the file
// cannot be opened; the console is used then.
int OsOpenDebugChannel(const char* value);

// Closes a debug file and returns to the console, flushing both. Answers
// 0, or ERR_WRITE when any output of the run failed to reach its channel
// (a full disk, a closed or full standard output).
int OsCloseDebugChannel();

// Formats with a format of the program's own and writes to the debug
// channel; flushed when forceFlush is set or the channel is a file.
void OsWriteConsole(const char* format, va_list args);

// Reads one line of the console (standard input) into buffer without its
// line end, always terminated; the rest of a line too long for the buffer is
// dropped. Answers 0, or ERR_READ at the end of input with nothing read.
int OsReadConsole(char* buffer, size_t size);
