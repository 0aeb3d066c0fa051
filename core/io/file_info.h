// What examining a file or a directory yields, in the two shapes the runtime
// passes around: the platform's FileInfoRecord (times as 64-bit file times)
// and the script-facing DateStamp. The protection bits are the FILEATTR_
// values that scripts see.
#pragma once

#include <cstdint>

// Calendar time of a file: month is 0-based, year has four digits.
struct DateStamp {
    uint32_t second;
    uint32_t minute;
    uint32_t hour;
    uint32_t day;
    uint32_t month;
    uint32_t year;
};

// Slots of the three file times in FileInfoRecord::times and in the time
// arrays of OsDateToFileTime/OsSetFileTime.
enum FileTimeSlot : int {
    FILETIME_CREATION = 0,
    FILETIME_ACCESS = 1,
    FILETIME_MODIFICATION = 2,
};

enum FileInfoKind : uint32_t {
    FILEINFO_FILE = 0,
    FILEINFO_DIRECTORY = 1,
};

// The time unit of FileInfoRecord::times: 100-nanosecond ticks since
// 1 January 1601 UTC, so that every date a file system can hold is positive.
constexpr uint64_t FILETIME_TICKS_PER_SECOND = 10000000ull;
constexpr uint64_t FILETIME_UNIX_EPOCH = 116444736000000000ull;

struct FileInfoRecord {
    uint32_t kind;
    uint32_t unused;
    uint64_t size;
    uint32_t flags;
    char auxText[256];
    uint64_t times[3];
    uint32_t extra[2];
    const char* fullPath;
};

// Protection bits (the "flags" of an examination).
enum FileAttrBits : uint32_t {
    FILEATTR_READ_USR = 1,
    FILEATTR_WRITE_USR = 2,
    FILEATTR_DELETE_USR = 4,
    FILEATTR_EXECUTE_USR = 8,
    FILEATTR_PURE = 16,
    FILEATTR_ARCHIVE = 32,
    FILEATTR_SCRIPT = 64,
    FILEATTR_HIDDEN = 128,
    FILEATTR_SYSTEM = 256,
    FILEATTR_READ_GRP = 512,
    FILEATTR_WRITE_GRP = 1024,
    FILEATTR_EXECUTE_GRP = 2048,
    FILEATTR_READ_OTH = 4096,
    FILEATTR_WRITE_OTH = 8192,
    FILEATTR_EXECUTE_OTH = 16384,
    FILEATTR_READONLY = 32768,
    FILEATTR_NORMAL = 65536,
};

// Flags of objects that have no protection of their own (memory sources,
// linked files): read, write, execute and delete for the user.
constexpr uint32_t FILEATTR_DEFAULT = 15;
