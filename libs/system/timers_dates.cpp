// Timers, waits, dates and the catalog commands of the "system" library.
//
// A timer counts milliseconds as accumulated + (now - start) while it runs
// and holds `accumulated` while paused. Time comes from SystemState.clock,
// so that waits and timers can be driven by a clock of the caller's choice.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/glue/time_values.h"
#include "core/io/catalog.h"
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/number_conv.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "libs/system/system_library.h"
#include "platform/posix/os_memory.h"

namespace {

constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

uint32_t FindTimer(ObjectId id, Timer** out)
{
    *out = reinterpret_cast<Timer*>(FindObjectOfType(OBJ_TIMER, id));
    if (*out)
        return 0;
    if (id.handle)
        return ERR_FINDARRAY;
    SetErrorArgNumber(static_cast<int32_t>(id.id));
    return ERR_FINDTIMER;
}

int64_t Milliseconds(const OsTimeValue& t)
{
    return static_cast<int64_t>(t.seconds) * 1000 + t.microseconds / 1000;
}

OsTimeValue FromMilliseconds(uint32_t ms) { return OsTimeValue{ms / 1000, (ms % 1000) * 1000}; }

int64_t TimerValue(const Timer* t)
{
    OsTimeValue total = t->accumulated;
    if (!t->paused) {
        OsTimeValue now;
        SystemState.clock.now(&now);
        OsSubTime(&now, &t->start);
        OsAddTime(&total, &now);
    }
    return Milliseconds(total);
}

void RestartTimer(Timer* t, uint32_t ms)
{
    t->accumulated = FromMilliseconds(ms);
    SystemState.clock.now(&t->start);
    t->paused = 0;
}

void UnlinkTimer(Timer* t)
{
    ObjectHeader** link = reinterpret_cast<ObjectHeader**>(&SystemState.timers);
    while (*link && *link != &t->header)
        link = &(*link)->next;
    if (*link)
        *link = t->header.next;
}

void FreeTimer(VmState* vm, Timer* t)
{
    UnlinkTimer(t);
    FreeObjectDataList(vm, &t->header.dataList);
    OsFreeMem(t);
}

// Local time of the date clock.
bool LocalNow(struct tm* out)
{
    OsTimeValue now;
    SystemState.clock.wall(&now);
    time_t seconds = static_cast<time_t>(now.seconds);
    return localtime_r(&seconds, out) != nullptr;
}

// Reads `count` decimal digits; false when any is not a digit.
bool ReadDigits(const char* text, int count, int* out)
{
    int v = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        v = v * 10 + (text[i] - '0');
    }
    *out = v;
    return true;
}

// The fields of "dd-Mon-yyyy hh:mm:ss" (or its first 11 characters) in
// comparison order: year, month, day, hours, minutes, seconds.
uint32_t ParseLongDate(const char* text, size_t length, bool dateOnly, int fields[6])
{
    if (length != (dateOnly ? 11u : 20u) || text[2] != '-' || text[6] != '-')
        return ERR_INVALIDDATE;
    fields[1] = -1;
    for (int m = 0; m < 12; ++m)
        if (std::memcmp(text + 3, kMonthNames[m], 3) == 0)
            fields[1] = m;
    if (fields[1] < 0 || !ReadDigits(text, 2, &fields[2]) || !ReadDigits(text + 7, 4, &fields[0]))
        return ERR_INVALIDDATE;
    if (dateOnly)
        return 0;
    if (text[11] != ' ' || text[14] != ':' || text[17] != ':' || !ReadDigits(text + 12, 2, &fields[3]) ||
        !ReadDigits(text + 15, 2, &fields[4]) || !ReadDigits(text + 18, 2, &fields[5]))
        return ERR_INVALIDDATE;
    return 0;
}

}  // namespace

uint32_t CmdStartTimer(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    bool useHandle = VmType(vm, 1) == VM_TNIL;
    ObjectId id = useHandle ? ObjectId{} : GetObjectIdArg(vm, 1);
    // A second timer under an id in use would be unreachable behind the
    // first; the new one takes the old one's place instead.
    if (!useHandle) {
        if (auto* old = reinterpret_cast<Timer*>(FindObjectOfType(OBJ_TIMER, id)))
            FreeTimer(vm, old);
    }
    auto* t = static_cast<Timer*>(OsAllocMem(sizeof(Timer), 1));
    if (!t)
        return ERR_MEM;
    t->header.type = OBJ_TIMER;
    t->header.id = id.id;
    t->header.handle = useHandle ? reinterpret_cast<uintptr_t>(t) : id.handle;
    RestartTimer(t, 0);
    ObjectHeader** link = reinterpret_cast<ObjectHeader**>(&SystemState.timers);
    while (*link)
        link = &(*link)->next;
    *link = &t->header;
    if (!useHandle)
        return 0;
    VmPushLightUserdata(vm, t);
    return 1;
}

uint32_t CmdGetTimer(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    Timer* t;
    if (uint32_t code = FindTimer(GetObjectIdArg(vm, 1), &t))
        return code;
    VmPushNumber(vm, static_cast<int32_t>(static_cast<uint32_t>(TimerValue(t))));
    return 1;
}

uint32_t CmdPauseTimer(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    Timer* t;
    if (uint32_t code = FindTimer(GetObjectIdArg(vm, 1), &t))
        return code;
    if (!t->paused) {
        OsTimeValue now;
        SystemState.clock.now(&now);
        OsSubTime(&now, &t->start);
        OsAddTime(&t->accumulated, &now);
        t->paused = 1;
    }
    return 0;
}

uint32_t CmdResumeTimer(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    Timer* t;
    if (uint32_t code = FindTimer(GetObjectIdArg(vm, 1), &t))
        return code;
    if (t->paused) {
        SystemState.clock.now(&t->start);
        t->paused = 0;
    }
    return 0;
}

uint32_t CmdResetTimer(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    Timer* t;
    if (uint32_t code = FindTimer(GetObjectIdArg(vm, 1), &t))
        return code;
    double ms = VmOptNumber(vm, 2, 0);
    RestartTimer(t, ms > 0 ? DoubleToLow32(ms) : 0);
    return 0;
}

uint32_t CmdStopTimer(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    Timer* t;
    if (uint32_t code = FindTimer(GetObjectIdArg(vm, 1), &t))
        return code;
    FreeTimer(vm, t);
    return 0;
}

uint32_t CmdWaitTimer(VmState* vm)
{
    CheckArgs(vm, 2, 3, 0, 0);
    Timer* t;
    if (uint32_t code = FindTimer(GetObjectIdArg(vm, 1), &t))
        return code;
    int64_t target = DoubleToInt64(VmCheckNumber(vm, 2));
    bool restart = VmOptInteger(vm, 3, 1) != 0;
    if (t->paused)
        return ERR_WRONGUSAGE;
    int64_t left = target - TimerValue(t);
    if (left > 0) {
        if (uint32_t code = SystemState.clock.sleep(left > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(left)))
            return code;
    }
    // The wait may have run event handlers that stopped this very timer.
    if (restart && FindObjectOfType(OBJ_TIMER, GetObjectIdArg(vm, 1)) == &t->header)
        RestartTimer(t, 0);
    return 0;
}

uint32_t CmdWait(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    int64_t n = DoubleToInt64(VmCheckNumber(vm, 1));
    int32_t unit = VmOptInteger(vm, 2, 2);
    if (n < 1)
        return 0;
    uint64_t perUnit = unit == 2 ? 20 : unit == 0 ? 1000 : 1;
    uint64_t ms = static_cast<uint64_t>(n) * perUnit;
    return SystemState.clock.sleep(ms > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ms));
}

uint32_t CmdGetDate(VmState* vm)
{
    CheckArgs(vm, 0, 1, 0, 0);
    bool longForm = VmOptInteger(vm, 1, 0) != 0;
    struct tm now;
    if (!LocalNow(&now))
        return ERR_WRONGUSAGE;
    char text[64];
    if (longForm)
        std::snprintf(text, sizeof text, "%.2d-%s-%.4d %.2d:%.2d:%.2d", now.tm_mday, kMonthNames[now.tm_mon],
                      1900 + now.tm_year, now.tm_hour, now.tm_min, now.tm_sec);
    else
        std::strftime(text, sizeof text, "%m-%d-%y", &now);
    VmPushString(vm, text);
    return 1;
}

uint32_t CmdGetTime(VmState* vm)
{
    CheckArgs(vm, 0, 1, 0, 0);
    bool seconds = VmOptInteger(vm, 1, 0) != 0;
    struct tm now;
    if (!LocalNow(&now))
        return ERR_WRONGUSAGE;
    char text[16];
    std::strftime(text, sizeof text, seconds ? "%H:%M:%S" : "%H:%M", &now);
    VmPushString(vm, text);
    return 1;
}

uint32_t CmdGetWeekday(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    char text[128];
    if (uint32_t code = OsFormatDateTime(3, text, sizeof text, nullptr, 0))
        return code;
    VmPushString(vm, text);
    return 1;
}

uint32_t CmdGetDateNum(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    int32_t field = VmCheckInteger(vm, 1);
    struct tm now;
    if (!LocalNow(&now))
        return ERR_WRONGUSAGE;
    double value = 0;
    switch (field) {
    case 0: value = 1900.0 + now.tm_year; break;
    case 1: value = now.tm_mon + 1; break;
    case 2: value = now.tm_mday; break;
    case 3: value = now.tm_hour * 10000 + now.tm_min * 100 + now.tm_sec; break;
    default: break;
    }
    VmPushNumber(vm, value);
    return 1;
}

uint32_t CmdCompareDates(VmState* vm)
{
    CheckArgs(vm, 2, 3, 0, 0);
    size_t len1, len2;
    const char* d1 = VmCheckString(vm, 1, &len1);
    const char* d2 = VmCheckString(vm, 2, &len2);
    bool dateOnly = VmOptInteger(vm, 3, 0) != 0;
    int a[6], b[6];
    const char* bad = ParseLongDate(d1, len1, dateOnly, a) ? d1 : ParseLongDate(d2, len2, dateOnly, b) ? d2 : nullptr;
    if (bad) {
        char detail[160];
        std::snprintf(detail, sizeof detail, "Date \"%.64s\" is not of the form %s", bad,
                      dateOnly ? "dd-mmm-yyyy (07-Mar-2024)" : "dd-mmm-yyyy hh:mm:ss (07-Mar-2024 13:05:00)");
        SetErrorDetail(ERR_INVALIDDATE, detail);
        return ERR_INVALIDDATE;
    }
    int result = 0;
    for (int i = 0; i < (dateOnly ? 3 : 6) && result == 0; ++i)
        if (a[i] != b[i])
            result = a[i] > b[i] ? 1 : 2;
    VmPushNumber(vm, result);
    return 1;
}

uint32_t CmdOpenCatalog(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    const char* name = VmCheckString(vm, 1, nullptr);
    VmOptInteger(vm, 2, 0);  // the version is not checked
    if (SystemState.catalog)
        OsCloseCatalog(SystemState.catalog);
    SystemState.catalog = OsOpenCatalog(name);
    return 0;
}

uint32_t CmdCloseCatalog(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    if (SystemState.catalog)
        OsCloseCatalog(SystemState.catalog);
    SystemState.catalog = nullptr;
    return 0;
}

uint32_t CmdGetCatalogString(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    int32_t index = VmCheckInteger(vm, 1);
    const char* fallback = VmCheckString(vm, 2, nullptr);
    VmPushString(vm, OsGetCatalogString(SystemState.catalog, index, fallback));
    return 1;
}
