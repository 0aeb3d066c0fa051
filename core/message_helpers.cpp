// File-name error codes and '%' escaping.
#include "core/message_helpers.h"

#include "core/io/error_codes.h"
#include "platform/posix/os_memory.h"

#include <cstring>

bool IsFileNameError(uint32_t code)
{
    switch (code) {
    case ERR_LOADPICTURE:
    case ERR_READFILE:
    case ERR_OPENSOUND:
    case ERR_NOALPHA:
    case ERR_OPENANIM2:
    case ERR_OPENSOUND2:
    case ERR_LOADPICTURE2:
    case ERR_IMAGEERROR:
    case ERR_LOADVIDEO:
    case ERR_NOTRANSPARENCY:
        return true;
    default:
        return false;
    }
}

char* EscapePercent(const char* text)
{
    if (!text)
        return nullptr;
    size_t length = 0, percents = 0;
    for (const char* p = text; *p; ++p, ++length)
        percents += *p == '%';
    if (percents == 0)
        return nullptr;
    auto* copy = static_cast<char*>(OsAllocMem(length + percents + 1, 0));
    if (!copy)
        return nullptr;
    char* out = copy;
    for (const char* p = text; *p; ++p) {
        *out++ = *p;
        if (*p == '%')
            *out++ = '%';
    }
    *out = '\0';
    return copy;
}
