// Host file system: deletion, folders, renaming, examination locks,
// directory scans, file times and protection bits, volumes.
#include "platform/posix/os_files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "core/glue/file_layer.h"
#include "core/io/error_codes.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_paths.h"

struct OsDirLock {
    std::string fullPath;
    bool isDirectory = false;
    DIR* scan = nullptr;
    std::string entryName;
    std::string entryPath;
};

namespace {

uint64_t TimespecToFileTime(int64_t seconds, int64_t nanoseconds)
{
    return static_cast<uint64_t>(seconds * static_cast<int64_t>(FILETIME_TICKS_PER_SECOND) +
                                 nanoseconds / 100) +
           FILETIME_UNIX_EPOCH;
}

uint32_t ModeToFlags(mode_t mode, const char* name)
{
    static const struct {
        mode_t host;
        uint32_t flag;
    } bits[] = {
        {S_IRUSR, FILEATTR_READ_USR}, {S_IWUSR, FILEATTR_WRITE_USR | FILEATTR_DELETE_USR},
        {S_IXUSR, FILEATTR_EXECUTE_USR}, {S_IRGRP, FILEATTR_READ_GRP},
        {S_IWGRP, FILEATTR_WRITE_GRP}, {S_IXGRP, FILEATTR_EXECUTE_GRP},
        {S_IROTH, FILEATTR_READ_OTH}, {S_IWOTH, FILEATTR_WRITE_OTH},
        {S_IXOTH, FILEATTR_EXECUTE_OTH},
    };
    uint32_t flags = 0;
    for (const auto& bit : bits)
        if (mode & bit.host)
            flags |= bit.flag;
    if (!(mode & S_IWUSR))
        flags |= FILEATTR_READONLY;
    if (name) {
        const char* slash = std::strrchr(name, '/');
        const char* leaf = slash ? slash + 1 : name;
        if (leaf[0] == '.' && leaf[1] != 0 && std::strcmp(leaf, "..") != 0)
            flags |= FILEATTR_HIDDEN;
    }
    return flags;
}

// statx gives the birth time where the file system keeps one; without it
// the modification time stands in for the creation time.
bool StatToInfo(int dirfd, const char* path, int flags, FileInfoRecord* info)
{
    struct statx sx;
    if (statx(dirfd, path, flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return false;
    std::memset(info, 0, sizeof(*info));
    bool isDir = S_ISDIR(sx.stx_mode);
    info->kind = isDir ? FILEINFO_DIRECTORY : FILEINFO_FILE;
    info->size = isDir ? 0 : sx.stx_size;
    info->flags = ModeToFlags(sx.stx_mode, path);
    uint64_t mtime = TimespecToFileTime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    info->times[FILETIME_MODIFICATION] = mtime;
    info->times[FILETIME_ACCESS] = TimespecToFileTime(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
    info->times[FILETIME_CREATION] = (sx.stx_mask & STATX_BTIME)
                                         ? TimespecToFileTime(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec)
                                         : mtime;
    return true;
}

} // namespace

int OsDeleteFile(const char* path)
{
    std::string host = OsHostPath(path);
    struct stat st;
    if (lstat(host.c_str(), &st) != 0)
        return 0;
    int rc = S_ISDIR(st.st_mode) ? rmdir(host.c_str()) : unlink(host.c_str());
    return rc == 0;
}

namespace {

// Read, not set and restored: umask() would change it for every thread.
mode_t ProcessUmask()
{
    FILE* status = std::fopen("/proc/self/status", "r");
    unsigned mask = 022;
    if (status) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "Umask: %o", &mask) == 1)
                break;
        std::fclose(status);
    }
    return static_cast<mode_t>(mask);
}

}  // namespace

uint32_t OsCreateSiblingTemp(const char* path, std::string* outTemp, std::string* outFinal)
{
    std::string host = OsFullPathString(path);
    // A link is replaced through: the file it names gets the new contents.
    char resolved[PATH_MAX];
    if (realpath(host.c_str(), resolved))
        host = resolved;
    size_t slash = host.rfind('/');
    std::string name = (slash == std::string::npos ? std::string(".") : host.substr(0, slash)) + "/.qmtmpXXXXXX";
    mode_t bits = 0666 & ~ProcessUmask();
    struct stat st;
    if (stat(host.c_str(), &st) == 0) {
        // A device or pipe is written where it is: it cannot be replaced.
        if (!S_ISREG(st.st_mode)) {
            outTemp->clear();
            *outFinal = host;
            return 0;
        }
        bits = st.st_mode & 07777;
    }
    int fd = mkstemp(name.data());
    if (fd < 0)
        return ERR_WRITEFILE;
    fchmod(fd, bits);
    close(fd);
    *outTemp = name;
    *outFinal = host;
    return 0;
}

bool OsIsSymLink(const char* path)
{
    struct stat st;
    return lstat(OsHostPath(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool OsIsDirectory(const char* path)
{
    struct stat st;
    return stat(OsHostPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int OsCopySymLink(const char* from, const char* to)
{
    std::string target(4096, '\0');
    ssize_t n = readlink(OsHostPath(from).c_str(), target.data(), target.size());
    if (n < 0 || static_cast<size_t>(n) >= target.size())
        return 0;
    target.resize(static_cast<size_t>(n));
    return symlink(target.c_str(), OsHostPath(to).c_str()) == 0;
}

bool OsSameFile(const char* a, const char* b)
{
    struct stat sa, sb;
    if (stat(OsHostPath(a).c_str(), &sa) == 0 && stat(OsHostPath(b).c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return OsFullPathString(a) == OsFullPathString(b);
}

int OsMakeDir(const char* path)
{
    return mkdir(OsHostPath(path).c_str(), 0777) == 0 ? 0 : 1;
}

int OsRename(const char* oldPath, const char* newPath)
{
    return rename(OsHostPath(oldPath).c_str(), OsHostPath(newPath).c_str()) == 0;
}

OsDirLock* OsStatFile(const char* name, uint32_t lockMode)
{
    if (lockMode & OSLOCK_WRITE)
        return nullptr;
    std::string full = OsFullPathString(name);
    struct stat st;
    if (stat(full.c_str(), &st) != 0)
        return nullptr;
    OsDirLock* lock = new (std::nothrow) OsDirLock;
    if (!lock)
        return nullptr;
    lock->fullPath = std::move(full);
    lock->isDirectory = S_ISDIR(st.st_mode);
    return lock;
}

void OsCloseDirScan(OsDirLock* lock)
{
    if (!lock)
        return;
    if (lock->scan)
        closedir(lock->scan);
    delete lock;
}

int OsCopyName(OsDirLock* lock, char* buffer, size_t size)
{
    return OsCopyPath(buffer, size, lock->fullPath.data(), lock->fullPath.size()) ? 1 : 0;
}

const char* OsLockPath(OsDirLock* lock)
{
    return lock->fullPath.c_str();
}

int OsDirScanBegin(OsDirLock* lock, void** outPointer)
{
    if (outPointer)
        *outPointer = nullptr;
    if (!lock->isDirectory)
        return ERR_NOTADIR;
    if (lock->scan)
        closedir(lock->scan);
    lock->scan = opendir(lock->fullPath.c_str());
    if (!lock->scan)
        return ERR_DIRLOCK;
    if (outPointer)
        *outPointer = lock->scan;
    return 0;
}

int OsDirScanFirstEntry(OsDirLock* lock, FileInfoRecord* info)
{
    if (!StatToInfo(AT_FDCWD, lock->fullPath.c_str(), 0, info))
        return ERR_EXAMINE;
    info->fullPath = lock->fullPath.c_str();
    return 0;
}

int OsNextDirEntry(OsDirLock* lock, uintptr_t scanWord, const char** outName, int* outIsDirectory,
                   FileInfoRecord* info)
{
    (void)scanWord;
    if (!lock->scan)
        return 0;
    for (;;) {
        errno = 0;
        struct dirent* entry = readdir(lock->scan);
        if (!entry)
            return 0;
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        lock->entryName = name;
        lock->entryPath = lock->fullPath;
        if (lock->entryPath.back() != '/')
            lock->entryPath += '/';
        lock->entryPath += name;

        FileInfoRecord local;
        FileInfoRecord* target = info ? info : &local;
        bool known = false;
        if (info || outIsDirectory) {
            // An entry that vanished between readdir and stat is still
            // reported, as a file of size 0: the scan must not stop early.
            known = StatToInfo(dirfd(lock->scan), name, 0, target);
            if (!known) {
                std::memset(target, 0, sizeof(*target));
                target->kind = (entry->d_type == DT_DIR) ? FILEINFO_DIRECTORY : FILEINFO_FILE;
            }
            target->fullPath = lock->entryPath.c_str();
        }
        if (outName)
            *outName = lock->entryName.c_str();
        if (outIsDirectory)
            *outIsDirectory = target->kind == FILEINFO_DIRECTORY;
        return 1;
    }
}

int OsExamineStream(OsFileHandle* handle, FileInfoRecord* info)
{
    std::memset(info, 0, sizeof(*info));
    if (handle->stream) {
        if (handle->writing)
            std::fflush(handle->stream);
        if (!StatToInfo(fileno(handle->stream), "", AT_EMPTY_PATH, info))
            return 0;
        // Hidden-ness follows the name, which the descriptor lacks.
        if (handle->fullPath && !handle->isRegion)
            info->flags |= ModeToFlags(S_IWUSR, handle->fullPath) & FILEATTR_HIDDEN;
    } else if (!handle->isRegion) {
        return 0;
    }
    if (handle->isRegion) {
        info->kind = FILEINFO_FILE;
        info->size = handle->size;
    }
    info->fullPath = handle->fullPath;
    return 1;
}

int OsDateToFileTime(const DateStamp* date, uint64_t* times, int slot)
{
    if (slot < 0 || slot > 2 || date->month > 11 || date->day < 1 || date->day > 31 ||
        date->hour > 23 || date->minute > 59 || date->second > 60 || date->year < 1601 ||
        date->year > 30827)
        return 0;
    struct tm tm;
    std::memset(&tm, 0, sizeof(tm));
    tm.tm_sec = static_cast<int>(date->second);
    tm.tm_min = static_cast<int>(date->minute);
    tm.tm_hour = static_cast<int>(date->hour);
    tm.tm_mday = static_cast<int>(date->day);
    tm.tm_mon = static_cast<int>(date->month);
    tm.tm_year = static_cast<int>(date->year) - 1900;
    tm.tm_isdst = -1;
    errno = 0;
    time_t t = mktime(&tm);
    if (t == static_cast<time_t>(-1) && errno != 0)
        return 0;
    // mktime folds impossible days (31 February) into the next month.
    if (tm.tm_mday != static_cast<int>(date->day) || tm.tm_mon != static_cast<int>(date->month))
        return 0;
    times[slot] = TimespecToFileTime(static_cast<int64_t>(t), 0);
    return 1;
}

int OsFileTimeToDate(const uint64_t* times, DateStamp* date, int slot)
{
    if (slot < 0 || slot > 2)
        return 0;
    int64_t ticks = static_cast<int64_t>(times[slot] - FILETIME_UNIX_EPOCH);
    int64_t seconds = ticks / static_cast<int64_t>(FILETIME_TICKS_PER_SECOND);
    if (ticks < 0 && ticks % static_cast<int64_t>(FILETIME_TICKS_PER_SECOND) != 0)
        --seconds;
    time_t t = static_cast<time_t>(seconds);
    struct tm tm;
    if (!localtime_r(&t, &tm))
        return 0;
    date->second = static_cast<uint32_t>(tm.tm_sec);
    date->minute = static_cast<uint32_t>(tm.tm_min);
    date->hour = static_cast<uint32_t>(tm.tm_hour);
    date->day = static_cast<uint32_t>(tm.tm_mday);
    date->month = static_cast<uint32_t>(tm.tm_mon);
    date->year = static_cast<uint32_t>(tm.tm_year + 1900);
    return 1;
}

int OsSetFileAttributes(const char* path, uint32_t flags)
{
    static const struct {
        uint32_t flag;
        mode_t host;
    } bits[] = {
        {FILEATTR_READ_USR, S_IRUSR}, {FILEATTR_WRITE_USR, S_IWUSR}, {FILEATTR_EXECUTE_USR, S_IXUSR},
        {FILEATTR_READ_GRP, S_IRGRP}, {FILEATTR_WRITE_GRP, S_IWGRP}, {FILEATTR_EXECUTE_GRP, S_IXGRP},
        {FILEATTR_READ_OTH, S_IROTH}, {FILEATTR_WRITE_OTH, S_IWOTH}, {FILEATTR_EXECUTE_OTH, S_IXOTH},
    };
    std::string host = OsHostPath(path);
    struct stat st;
    if (stat(host.c_str(), &st) != 0)
        return 0;
    mode_t mode = st.st_mode & 07777;
    mode_t given = 0;
    bool anyGiven = false;
    for (const auto& bit : bits) {
        if (flags & bit.flag) {
            given |= bit.host;
            anyGiven = true;
        }
    }
    if (anyGiven)
        mode = (mode & ~static_cast<mode_t>(0777)) | given;
    if (flags & FILEATTR_READONLY)
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    if (flags & FILEATTR_NORMAL)
        mode |= S_IRUSR | S_IWUSR;
    return chmod(host.c_str(), mode) == 0;
}

int OsSetFileTime(const char* path, const uint64_t* times)
{
    struct timespec ts[2];
    const int slots[2] = {FILETIME_ACCESS, FILETIME_MODIFICATION};
    for (int i = 0; i < 2; ++i) {
        uint64_t value = times[slots[i]];
        if (value == 0) {
            ts[i].tv_sec = 0;
            ts[i].tv_nsec = UTIME_OMIT;
            continue;
        }
        int64_t ticks = static_cast<int64_t>(value - FILETIME_UNIX_EPOCH);
        int64_t perSecond = static_cast<int64_t>(FILETIME_TICKS_PER_SECOND);
        int64_t seconds = ticks / perSecond;
        int64_t rest = ticks % perSecond;
        if (rest < 0) {
            rest += perSecond;
            --seconds;
        }
        ts[i].tv_sec = static_cast<time_t>(seconds);
        ts[i].tv_nsec = static_cast<long>(rest * 100);
    }
    return utimensat(AT_FDCWD, OsHostPath(path).c_str(), ts, 0) == 0;
}

int OsGetVolumeName(const char* path, char* name, size_t size)
{
    std::string full = OsFullPathString(path);
    struct stat st;
    if (stat(full.c_str(), &st) != 0)
        return ERR_STAT;
    // Climb towards the root until the device changes: the last folder on
    // the same device is the mount point.
    std::string mount = full;
    while (mount != "/") {
        size_t slash = mount.rfind('/');
        std::string parent = slash == 0 ? std::string("/") : mount.substr(0, slash);
        struct stat pst;
        if (stat(parent.c_str(), &pst) != 0 || pst.st_dev != st.st_dev)
            break;
        mount = parent;
    }
    if (!S_ISDIR(st.st_mode) && mount == full) {
        size_t slash = mount.rfind('/');
        mount = slash == 0 ? std::string("/") : mount.substr(0, slash);
    }
    return OsCopyPath(name, size, mount.data(), mount.size()) ? 0 : static_cast<int>(ERR_NAMETOOLONG);
}

int OsGetVolumeInfo(const char* path, uint64_t* freeBytes, uint64_t* usedBytes)
{
    struct statvfs vfs;
    if (statvfs(OsHostPath(path).c_str(), &vfs) != 0)
        return ERR_STAT;
    uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    if (freeBytes)
        *freeBytes = static_cast<uint64_t>(vfs.f_bavail) * unit;
    if (usedBytes)
        *usedBytes = static_cast<uint64_t>(vfs.f_blocks - vfs.f_bfree) * unit;
    return 0;
}
