// Table 0 of the host interface: the standard runtime library a plugin
// uses instead of its own. The time and status wrappers copy between the
// library's structures and the plugin records field by field, so the
// records keep their layout whatever the library's is.
#include "core/plugins/host_runtime.h"

#include <sys/stat.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/io/case_tables.h"
#include "platform/posix/os_memory.h"

namespace {

void ToRecord(const struct tm& tm, QmTimeRecord* record)
{
    record->recordSize = sizeof(QmTimeRecord);
    record->second = tm.tm_sec;
    record->minute = tm.tm_min;
    record->hour = tm.tm_hour;
    record->dayOfMonth = tm.tm_mday;
    record->month = tm.tm_mon;
    record->year = tm.tm_year;
    record->weekday = tm.tm_wday;
    record->dayOfYear = tm.tm_yday;
    record->daylight = tm.tm_isdst;
    record->reserved[0] = record->reserved[1] = 0;
}

struct tm FromRecord(const QmTimeRecord* record)
{
    struct tm tm = {};
    tm.tm_sec = record->second;
    tm.tm_min = record->minute;
    tm.tm_hour = record->hour;
    tm.tm_mday = record->dayOfMonth;
    tm.tm_mon = record->month;
    tm.tm_year = record->year;
    tm.tm_wday = record->weekday;
    tm.tm_yday = record->dayOfYear;
    tm.tm_isdst = record->daylight;
    return tm;
}

void ToStatus(const struct stat& st, QmFileStatus* record)
{
    record->device = st.st_dev;
    record->inode = st.st_ino;
    record->mode = st.st_mode;
    record->links = static_cast<uint32_t>(st.st_nlink);
    record->user = st.st_uid;
    record->group = st.st_gid;
    record->specialDevice = st.st_rdev;
    record->size = st.st_size;
    record->accessTime = st.st_atime;
    record->modificationTime = st.st_mtime;
    record->changeTime = st.st_ctime;
}

// Like the library's own, one record that every call overwrites.
QmTimeRecord g_timeRecord;

QmTimeRecord* BrokenDown(const int64_t* time, bool local)
{
    if (!time)
        return nullptr;
    time_t t = static_cast<time_t>(*time);
    struct tm tm;
    if (!(local ? localtime_r(&t, &tm) : gmtime_r(&t, &tm)))
        return nullptr;
    ToRecord(tm, &g_timeRecord);
    return &g_timeRecord;
}

} // namespace

int HostVsscanf(const char*, const char*, va_list)
{
    std::fputs("*** vsscanf() not supported on this platform ***\n", stdout);
    return 0;
}

// The platform has the real function; the plugin's records are the
// platform's own structures.
int HostGetTimeOfDay(void* time, void* zone)
{
    return gettimeofday(static_cast<struct timeval*>(time), static_cast<struct timezone*>(zone));
}

int HostToLower(int c)
{
    return c >= 0 && c <= 255 ? ToLowerLatin1(static_cast<uint8_t>(c)) : c;
}

int HostToUpper(int c)
{
    return c >= 0 && c <= 255 ? ToUpperLatin1(static_cast<uint8_t>(c)) : c;
}

char* PluginStrToLower(char* text)
{
    for (char* p = text; *p; ++p)
        *p = static_cast<char>(ToLowerLatin1(static_cast<uint8_t>(*p)));
    return text;
}

char* PluginStrToUpper(char* text)
{
    for (char* p = text; *p; ++p)
        *p = static_cast<char>(ToUpperLatin1(static_cast<uint8_t>(*p)));
    return text;
}

int64_t HostTime(int64_t* out)
{
    int64_t now = static_cast<int64_t>(time(nullptr));
    if (out)
        *out = now;
    return now;
}

QmTimeRecord* HostLocalTime(const int64_t* time)
{
    return BrokenDown(time, true);
}

QmTimeRecord* HostGmTime(const int64_t* time)
{
    return BrokenDown(time, false);
}

char* HostAscTime(const QmTimeRecord* record)
{
    static char text[64];
    if (!record)
        return nullptr;
    struct tm tm = FromRecord(record);
    return asctime_r(&tm, text);
}

char* HostCTime(const int64_t* time)
{
    static char text[64];
    if (!time)
        return nullptr;
    time_t t = static_cast<time_t>(*time);
    return ctime_r(&t, text);
}

int64_t HostMkTime(QmTimeRecord* record)
{
    if (!record)
        return -1;
    struct tm tm = FromRecord(record);
    time_t t = mktime(&tm);
    if (t != static_cast<time_t>(-1))
        ToRecord(tm, record);
    return static_cast<int64_t>(t);
}

size_t HostStrFTime(char* buffer, size_t size, const char* format, const QmTimeRecord* record)
{
    if (!record)
        return 0;
    struct tm tm = FromRecord(record);
    return strftime(buffer, size, format, &tm);
}

long HostClock()
{
    return static_cast<long>(clock());
}

void HostDiffTime(int64_t time1, int64_t time2, double* out)
{
    if (out)
        *out = difftime(static_cast<time_t>(time1), static_cast<time_t>(time2));
}

int HostStat(const char* path, QmFileStatus* record)
{
    if (!record)
        return -1;
    struct stat st;
    int result = stat(path, &st);
    if (result == 0)
        ToStatus(st, record);
    return result;
}

int HostFStat(int fd, QmFileStatus* record)
{
    if (!record)
        return -1;
    struct stat st;
    int result = fstat(fd, &st);
    if (result == 0)
        ToStatus(st, record);
    return result;
}

int HostGetErrno()
{
    return errno;
}

void HostSetErrno(int value)
{
    errno = value;
}

void* HostAllocMem(size_t size, uint32_t flags)
{
    return OsAllocMem(size, (flags & QM_HOSTALLOC_ZERO) ? 1 : 0);
}

char* HostCopyText(const char* text)
{
    size_t length = std::strlen(text);
    auto* copy = static_cast<char*>(OsAllocMem(length + 1, 0));
    if (copy)
        std::memcpy(copy, text, length + 1);
    return copy;
}

void HostFreeMem(void* block)
{
    OsFreeMem(block);
}

uintptr_t HostTagValue(const QmTagItem* tags, uint32_t tag, uintptr_t fallback)
{
    for (const QmTagItem* t = tags; t && t->tag; ++t)
        if (t->tag == tag)
            return t->value;
    return fallback;
}
