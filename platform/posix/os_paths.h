// Path rules of the host: script paths may use '\' where the host wants '/',
// "PROGDIR:" stands for the folder of the running program, and full paths
// are built without a fixed-size buffer anywhere on the way.
#pragma once

#include <cstddef>
#include <string>

// The prefix that names the program's own folder (exact case).
inline constexpr char PROGDIR_PREFIX[] = "PROGDIR:";

// The path the host understands for a script path: every '\' becomes '/',
// and a leading "PROGDIR:" becomes the program's folder joined with the rest.
std::string OsHostPath(const char* path);

// Full path of the running program's file (from /proc/self/exe); empty when
// the host cannot tell.
const std::string& OsProgramFilePath();

// Folder of the running program's file, without a trailing '/'.
const std::string& OsProgramDirectory();

// Absolute form of path: relative paths are taken from the current
// directory; "." and ".." components and repeated '/' are folded. The path
// need not exist.
std::string OsFullPathString(const char* path);

// Bounded copy that refuses instead of truncating: false when text (with its
// terminator) does not fit; the buffer then holds an empty string.
bool OsCopyPath(char* buffer, size_t size, const char* text, size_t length);
