// Console and debug channel on POSIX: standard output, or a file named by
// the DEBUGDEVICE option. Writers on several threads (plugins, media
// threads) may print at once; the lock keeps each write whole and the
// channel from being switched under it.
#include "platform/posix/os_console.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/utilities.h"
#include "platform/posix/os_paths.h"

namespace {

std::mutex channelLock;
FILE* debugFile = nullptr;
// Set by the first output that failed; a report must not look like success.
bool outputFailed = false;

} // namespace

int OsOpenDebugChannel(const char* value)
{
    std::lock_guard<std::mutex> guard(channelLock);
    if (!value || std::strncmp(value, "::file", 6) != 0)
        return 0;
    // "::file NAME" and "::fileNAME" name the same file.
    const char* path = value + 6;
    while (*path == ' ' || *path == '\t')
        path++;
    FILE* file = std::fopen(OsHostPath(path).c_str(), "w");
    if (!file) {
        SetErrorText(path);
        return static_cast<int>(ERR_WRITEFILE);
    }
    if (debugFile && std::fclose(debugFile) != 0)
        outputFailed = true;
    debugFile = file;
    return 0;
}

int OsCloseDebugChannel()
{
    std::lock_guard<std::mutex> guard(channelLock);
    if (debugFile && std::fclose(debugFile) != 0)
        outputFailed = true;
    debugFile = nullptr;
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        outputFailed = true;
    bool failed = outputFailed;
    outputFailed = false;
    return failed ? static_cast<int>(ERR_WRITE) : 0;
}

void OsWriteConsole(const char* format, va_list args)
{
    std::lock_guard<std::mutex> guard(channelLock);
    FILE* out = debugFile ? debugFile : stdout;
    if (std::vfprintf(out, format, args) < 0)
        outputFailed = true;
    if ((debugFile || forceFlush) && std::fflush(out) != 0)
        outputFailed = true;
}

int OsReadConsole(char* buffer, size_t size)
{
    if (!buffer || size == 0)
        return static_cast<int>(ERR_READ);
    std::fflush(stdout);
    size_t used = 0;
    int c;
    bool any = false;
    while ((c = std::getchar()) != EOF) {
        any = true;
        if (c == '\n')
            break;
        if (used + 1 < size)
            buffer[used++] = static_cast<char>(c);
    }
    if (used > 0 && buffer[used - 1] == '\r')
        --used;
    buffer[used] = '\0';
    return any ? 0 : static_cast<int>(ERR_READ);
}
