// Path joining, the file part of a path and plain file names. Both forms
// of AddPart share the separator rule so that a path joined into a buffer
// and one joined into a string never differ.
#include "core/services/path_helpers.h"

#include "core/io/error_codes.h"

#include <cstring>

namespace {

bool NeedsSeparator(std::string_view directory)
{
    if (directory.empty())
        return false;
    char last = directory.back();
    return last != '/' && last != '\\';
}

} // namespace

unsigned AddPart(char* directory, size_t size, const char* name)
{
    size_t dirLength = strnlen(directory, size);
    if (dirLength == size)
        return ERR_NAMETOOLONG;
    bool separator = NeedsSeparator(std::string_view(directory, dirLength));
    size_t nameLength = std::strlen(name);
    if (dirLength + separator + nameLength + 1 > size)
        return ERR_NAMETOOLONG;
    char* out = directory + dirLength;
    if (separator)
        *out++ = '/';
    std::memcpy(out, name, nameLength + 1);
    return 0;
}

std::string AddPart(std::string_view directory, std::string_view name)
{
    std::string path(directory);
    if (NeedsSeparator(directory))
        path += '/';
    path += name;
    return path;
}

const char* PathFilePart(const char* path)
{
    const char* part = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\' || *p == ':')
            part = p + 1;
    return part;
}

bool IsPlainFileName(const char* name)
{
    // A name without a separator is its own file part.
    return *name && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 && PathFilePart(name) == name;
}
