// Clocks and date texts on clock_gettime and the C library's local time.
#include "platform/posix/os_time.h"

#include "core/io/error_codes.h"
#include "core/io/utilities.h"

#include <atomic>
#include <cstring>
#include <string>
#include <ctime>
#include <langinfo.h>
#include <locale.h>

namespace {

std::atomic<uint32_t> timerMode{0};

bool FormatLocal(const struct tm& local, const char* format, locale_t locale, char* out, size_t size)
{
    if (!out || size == 0)
        return false;
    size_t n = locale ? strftime_l(out, size, format, &local, locale)
                      : strftime(out, size, format, &local);
    if (n == 0) {
        out[0] = '\0';
        return false;
    }
    return true;
}

uint32_t Outcome(bool ok)
{
    return ok ? 0 : uint32_t{ERR_WRONGUSAGE};
}

} // namespace

void OsGetTime(OsTimeValue* out)
{
    timespec ts;
    clock_gettime((timerMode.load() & 1) ? CLOCK_REALTIME_COARSE : CLOCK_REALTIME, &ts);
    out->seconds = static_cast<uint32_t>(ts.tv_sec);
    out->microseconds = static_cast<uint32_t>(ts.tv_nsec / 1000);
}

void OsSetTimerMode(uint32_t mode)
{
    timerMode.store(mode);
}

double OsGetEpochSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

uint64_t OsMonotonicNanos()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

timespec OsMonotonicTimespec(uint64_t nanos)
{
    timespec ts;
    ts.tv_sec = static_cast<time_t>(nanos / 1000000000u);
    ts.tv_nsec = static_cast<long>(nanos % 1000000000u);
    return ts;
}

uint32_t OsFormatDateTime(int mode, char* text, size_t textSize, char* text2, size_t text2Size)
{
    if (text && textSize)
        text[0] = '\0';
    if (text2 && text2Size)
        text2[0] = '\0';

    time_t now = time(nullptr);
    struct tm local;
    if (!localtime_r(&now, &local))
        return ERR_WRONGUSAGE;

    switch (mode) {
    case 0:
        return Outcome(FormatLocal(local, "%m-%d-%y", nullptr, text, textSize));
    case 1:
        if (!FormatLocal(local, "%m-%d-%y", nullptr, text, textSize))
            return ERR_WRONGUSAGE;
        return Outcome(FormatLocal(local, "%H:%M:%S", nullptr, text2, text2Size));
    case 2:
        return Outcome(FormatLocal(local, "%H:%M:%S", nullptr, text, textSize));
    case 3: {
        // The weekday follows the user's locale settings (LC_ALL, LC_TIME,
        // LANG), not the process locale, which stays "C" for number parsing;
        // like every text of the runtime it is handed out in Latin-1.
        locale_t user = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "", static_cast<locale_t>(0));
        if (!user)
            user = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
        bool ok = FormatLocal(local, "%A", user, text, textSize);
        if (ok && user && std::strcmp(nl_langinfo_l(CODESET, user), "UTF-8") == 0) {
            std::string utf8(text);
            Utf8ToLatin1(utf8.c_str(), text);
        }
        if (user)
            freelocale(user);
        return Outcome(ok);
    }
    default:
        return ERR_WRONGUSAGE;
    }
}
