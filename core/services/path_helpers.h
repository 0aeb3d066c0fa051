// Joining a directory and a name, finding the file part of a path, and
// telling a plain file name from one that names another folder.
// '/' is the separator; a '\' that a script wrote counts as one too.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Appends `name` to the directory in `directory` (a buffer of `size` bytes),
// with a '/' between them unless the directory is empty or already ends in
// '/' or '\'. Answers 0, or ERR_NAMETOOLONG when the result would not fit,
// in which case the buffer is left as it was: a path is never cut short.
unsigned AddPart(char* directory, size_t size, const char* name);

// The same join into a string of its own.
std::string AddPart(std::string_view directory, std::string_view name);

// The file-name part: what follows the last '/', '\' or ':' (the whole
// path when it has none).
const char* PathFilePart(const char* path);

// True for a name that stays inside the folder it is joined to: not empty,
// not "." or "..", and without a '/', '\' or ':'.
bool IsPlainFileName(const char* name);
