// '%' escaping.
#include "core/services/message_helpers.h"

#include "platform/posix/os_memory.h"

#include <cstring>

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
