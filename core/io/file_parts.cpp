// File parts of plain and ":::chunk" names, for messages and progress lines.
#include "core/io/file_parts.h"

#include <cstring>

#include "core/io/virtual_names.h"

size_t ChunkNameToFileName(const char* name, char* out, size_t outSize)
{
    if (outSize == 0)
        return 0;
    if (!name)
        name = "";
    const char* begin = name;
    const char* end = name + std::strlen(name);
    if (IsChunkName(name)) {
        const char* star = std::strchr(name, '*');
        if (star) {
            begin = star + 1;
            const char* question = std::strchr(begin, '?');
            if (question)
                end = question;
        }
    }
    // The runtime's own names (a memory name, a chunk name without its
    // display name) are no paths: none of their colons ends a volume name.
    bool path = begin != name || std::strncmp(name, ":::", 3) != 0;
    if (path && end - begin >= 2) {
        const char* part = nullptr;
        for (const char* p = begin; p < end; ++p)
            if (*p == '/' || *p == '\\')
                part = p + 1;
        if (!part) {
            const char* colon = static_cast<const char*>(std::memchr(begin, ':', end - begin));
            if (colon)
                part = colon + 1;
        }
        if (part)
            begin = part;
    }
    size_t length = static_cast<size_t>(end - begin);
    if (length >= outSize)
        length = outSize - 1;
    std::memmove(out, begin, length);
    out[length] = '\0';
    return length;
}
