// Directories, volumes, attributes and programs. Directories are examined
// through the stream layer's locks, so folders served by directory
// adapters, linked files and host folders all answer alike; programs start
// through the platform, a program linked into the applet after it has been
// copied out to a temporary file.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <zlib.h>

#include "core/io/case_tables.h"
#include "core/io/errors.h"
#include "core/io/file_info.h"
#include "core/io/linked_files.h"
#include "core/io/number_conv.h"
#include "core/io/stream.h"
#include "core/io/virtual_names.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "core/services/path_helpers.h"
#include "core/vm/vm.h"
#include "display/display.h"
#include "libs/dos/dos_library.h"
#include "libs/dos/running_programs.h"
#include "libs/system/system_library.h"
#include "platform/posix/os_env.h"
#include "platform/posix/os_files.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_process.h"

namespace {

constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr size_t PATH_BUFFER = 4096;

// The "adapter" field of an options table at index, or null.
const char* AdapterOption(VmState* vm, int index, std::string* storage)
{
    if (VmType(vm, index) != VM_TTABLE)
        return nullptr;
    VmPushCString(vm, "adapter");
    VmRawGet(vm, index);
    const char* result = nullptr;
    if (VmType(vm, -1) == VM_TSTRING) {
        *storage = VmGetString(vm, -1);
        result = storage->c_str();
    }
    VmPop(vm, 1);
    return result;
}

void SetNumberField(VmState* vm, const char* key, double value)
{
    VmPushCString(vm, key);
    VmPushNumber(vm, value);
    VmRawSet(vm, -3);
}

void SetStringField(VmState* vm, const char* key, const char* value)
{
    VmPushCString(vm, key);
    VmPushCString(vm, value);
    VmRawSet(vm, -3);
}

// The three file times of an examination as date texts, in the order
// modification, last access, creation.
void FormatFileDates(const FileInfoRecord& info, char out[3][32])
{
    static const int slots[3] = {FILETIME_MODIFICATION, FILETIME_ACCESS, FILETIME_CREATION};
    for (int i = 0; i < 3; ++i) {
        DateStamp date{};
        if (!OsFileTimeToDate(info.times, &date, slots[i]))
            date = DateStamp{0, 0, 0, 1, 0, 1970};
        FormatDateString(date, out[i]);
    }
}

uint32_t RemoveDirectoryHandle(ObjectId id, VmState* vm)
{
    DosDirectory* d;
    if (uint32_t code = FindDirectoryHandle(id, &d))
        return code;
    auto** link = reinterpret_cast<ObjectHeader**>(&DosState.directories);
    while (*link != &d->header)
        link = &(*link)->next;
    *link = d->header.next;
    FreeDosDirectory(vm, d);
    return 0;
}

// The first word of a command line: a double-quoted word, or the text up
// to the first blank. False for a quote that is never closed.
bool SplitCommandLineWord(const char* line, std::string* word, const char** rest)
{
    while (*line == ' ' || *line == '\t')
        ++line;
    if (*line == '"') {
        const char* end = std::strchr(line + 1, '"');
        if (!end)
            return false;
        word->assign(line + 1, end);
        line = end + 1;
    } else {
        const char* end = line;
        while (*end && *end != ' ' && *end != '\t')
            ++end;
        word->assign(line, end);
        line = end;
    }
    while (*line == ' ' || *line == '\t')
        ++line;
    *rest = line;
    return true;
}

// `userValue`: the stack index of Run's value for the end handler (0 none).
uint32_t StartProgram(VmState* vm, const char* commandLine, bool asynchronous, bool resetInput, int userValue = 0)
{
    if (!*commandLine)
        return ERR_WRONGUSAGE;
    std::string program;
    const char* arguments;
    if (!SplitCommandLineWord(commandLine, &program, &arguments) || program.empty())
        return ERR_WRONGUSAGE;
    std::string resolved = ResolveLinkedFile(vm, program.c_str(), 0, nullptr);
    char tempName[PATH_BUFFER] = "";
    if (IsChunkName(resolved.c_str())) {
        // A program linked into the applet runs from a copy of its own.
        if (uint32_t code = MakeTempFileNameWithExt(tempName, sizeof tempName, resolved.c_str()))
            return code;
        uint32_t code = CopyStreamToFile(resolved.c_str(), nullptr, tempName, nullptr);
        if (!code && !OsSetFileAttributes(tempName, FILEATTR_READ_USR | FILEATTR_WRITE_USR | FILEATTR_EXECUTE_USR))
            code = ERR_WRITEFILE;
        if (code) {
            OsDeleteFile(tempName);
            return code;
        }
        resolved = tempName;
    }
    uint32_t code = asynchronous && WantsProgramEnd()
                        ? StartRunningProgram(vm, resolved.c_str(), arguments, userValue)
                        : OsRunProgram(resolved.c_str(), arguments, asynchronous ? 1 : 0);
    // A copy that ran to its end is not needed any more; one that still
    // runs stays in the temporary folder.
    if (*tempName && !asynchronous)
        OsDeleteFile(tempName);
    if (!code && resetInput && CurrentDisplay)
        ResetDisplayInputState(CurrentDisplay);
    if (code == ERR_EXECUTE)
        SetErrorText(program.c_str());
    return code;
}

} // namespace

uint32_t ListDirectoryEntries(const char* path, const char* loaders, std::vector<DirectoryEntry>* out)
{
    FileLock* lock = OpenFileLock(path, STREAM_READ | FILELOCK_ADAPTERS, loaders);
    if (!lock) {
        SetErrorText(path);
        return ERR_LOCK2;
    }
    void* scan = nullptr;
    if (int code = DirScanBegin(lock, &scan)) {
        CloseFileLock(lock);
        SetErrorText(path);
        return static_cast<uint32_t>(code);
    }
    const char* name;
    int isDirectory;
    uint32_t code = 0;
    try {
        while (DirScanNext(lock, reinterpret_cast<uintptr_t>(scan), &name, &isDirectory, nullptr))
            out->push_back(DirectoryEntry{name, isDirectory != 0});
    } catch (const std::bad_alloc&) {
        code = ERR_MEM;
    }
    CloseFileLock(lock);
    return code;
}

void FormatDateString(const DateStamp& date, char out[32])
{
    std::snprintf(out, 32, "%.2u-%s-%u %.2u:%.2u:%.2u", date.day, kMonthNames[date.month % 12], date.year,
                  date.hour, date.minute, date.second);
}

bool ParseDateString(const char* text, DateStamp* out)
{
    auto digits = [&](size_t at, size_t count, uint32_t* value) {
        uint32_t v = 0;
        for (size_t i = 0; i < count; ++i) {
            char c = text[at + i];
            if (c < '0' || c > '9')
                return false;
            v = v * 10 + static_cast<uint32_t>(c - '0');
        }
        *value = v;
        return true;
    };
    if (std::strlen(text) != 20 || text[2] != '-' || text[6] != '-' || text[11] != ' ' || text[14] != ':' ||
        text[17] != ':')
        return false;
    DateStamp d{};
    if (!digits(0, 2, &d.day) || !digits(7, 4, &d.year) || !digits(12, 2, &d.hour) || !digits(15, 2, &d.minute) ||
        !digits(18, 2, &d.second))
        return false;
    if (d.day < 1 || d.day > 31 || d.hour > 23 || d.minute > 59 || d.second > 59)
        return false;
    bool found = false;
    for (uint32_t m = 0; m < 12 && !found; ++m) {
        bool same = true;
        for (int i = 0; i < 3; ++i)
            same = same && LowerCaseTable[static_cast<uint8_t>(text[3 + i])] ==
                               LowerCaseTable[static_cast<uint8_t>(kMonthNames[m][i])];
        if (same) {
            d.month = m;
            found = true;
        }
    }
    if (!found)
        return false;
    *out = d;
    return true;
}

void PushFileInfoTable(VmState* vm, const FileInfoRecord& info)
{
    VmNewTable(vm);
    bool directory = info.kind == FILEINFO_DIRECTORY;
    SetNumberField(vm, "type", directory ? 1 : 0);
    if (!directory)
        SetNumberField(vm, "size", static_cast<double>(info.size));
    SetNumberField(vm, "flags", info.flags);
    char dates[3][32];
    FormatFileDates(info, dates);
    SetStringField(vm, "time", dates[0]);
    SetStringField(vm, "lastaccesstime", dates[1]);
    SetStringField(vm, "creationtime", dates[2]);
}

uint32_t MakeDirectoryPath(const char* path)
{
    std::string p(path);
    for (size_t i = 1; i <= p.size(); ++i) {
        if (i < p.size() && p[i] != '/' && p[i] != '\\')
            continue;
        std::string prefix = p.substr(0, i);
        if (prefix.back() == ':' )
            continue;
        FileExamineRecord* record = static_cast<FileExamineRecord*>(OsAllocMem(sizeof(FileExamineRecord), 1));
        if (!record)
            return ERR_MEM;
        int exists = ExamineFileByName(prefix.c_str(), record, 0);
        uint32_t kind = record->kind;
        OsFreeMem(record);
        if (exists && kind == FILEINFO_DIRECTORY)
            continue;
        if (exists || OsMakeDir(prefix.c_str()) != 0) {
            SetErrorText(path);
            return ERR_CREATEDIR;
        }
    }
    return 0;
}

uint32_t CmdOpenDirectory(VmState* vm)
{
    CheckArgs(vm, 2, 3, 0, 0);
    bool useHandle = VmType(vm, 1) == VM_TNIL;
    ObjectId id = useHandle ? ObjectId{} : GetObjectIdArg(vm, 1);
    const char* path = VmCheckString(vm, 2, nullptr);
    std::string storage;
    const char* loaders = AdapterOption(vm, 3, &storage);
    if (!useHandle) {
        DosDirectory* old;
        if (FindDirectoryHandle(id, &old) == 0)
            RemoveDirectoryHandle(id, vm);
    }
    FileLock* lock = OpenFileLock(path, STREAM_READ | FILELOCK_ADAPTERS, loaders);
    if (!lock) {
        SetErrorText(path);
        return ERR_LOCK2;
    }
    void* scan = nullptr;
    if (int code = DirScanBegin(lock, &scan)) {
        CloseFileLock(lock);
        SetErrorText(path);
        return static_cast<uint32_t>(code);
    }
    auto* d = static_cast<DosDirectory*>(OsAllocMem(sizeof(DosDirectory), 1));
    if (!d) {
        CloseFileLock(lock);
        return ERR_MEM;
    }
    d->header.type = OBJ_DIRECTORY;
    d->header.id = id.id;
    d->header.handle = useHandle ? reinterpret_cast<uintptr_t>(d) : id.handle;
    d->lock = lock;
    d->scanWord = reinterpret_cast<uintptr_t>(scan);
    auto** link = reinterpret_cast<ObjectHeader**>(&DosState.directories);
    while (*link)
        link = &(*link)->next;
    *link = &d->header;
    if (!useHandle)
        return 0;
    VmPushLightUserdata(vm, d);
    return 1;
}

uint32_t CmdCloseDirectory(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    return RemoveDirectoryHandle(GetObjectIdArg(vm, 1), vm);
}

uint32_t CmdNextDirectoryEntry(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    DosDirectory* d;
    if (uint32_t code = FindDirectoryHandle(GetObjectIdArg(vm, 1), &d))
        return code;
    if (d->endReached)
        return 0;
    const char* name;
    int isDirectory;
    FileInfoRecord info;
    if (!DirScanNext(d->lock, d->scanWord, &name, &isDirectory, &info)) {
        d->endReached = 1;
        return 0;
    }
    info.kind = isDirectory ? FILEINFO_DIRECTORY : info.kind;
    PushFileInfoTable(vm, info);
    SetStringField(vm, "name", name);
    return 1;
}

uint32_t CmdReadDirectory(VmState* vm)
{
    CheckArgs(vm, 3, 4, 0, 0);
    std::string path = VmCheckString(vm, 1, nullptr);
    VmCheckTable(vm, 2);
    VmCheckTable(vm, 3);
    bool sort = DosFlagArg(vm, 4, true);
    std::vector<DirectoryEntry> entries;
    if (uint32_t code = ListDirectoryEntries(path.c_str(), nullptr, &entries))
        return code;
    int32_t files = 0, directories = 0;
    for (const DirectoryEntry& e : entries) {
        VmPushLString(vm, e.name.data(), e.name.size());
        VmRawSetI(vm, e.isDirectory ? 3 : 2, e.isDirectory ? directories++ : files++);
    }
    VmPushCString(vm, "");
    VmRawSetI(vm, 2, files);
    VmPushCString(vm, "");
    VmRawSetI(vm, 3, directories);
    if (sort) {
        VmSetTop(vm, 3);
        if (files > 1)
            if (uint32_t c = QuickSortItems(vm, 2, false, 0, files - 1))
                return c;
        if (directories > 1)
            if (uint32_t c = QuickSortItems(vm, 3, false, 0, directories - 1))
                return c;
    }
    VmPushNumber(vm, files);
    VmPushNumber(vm, directories);
    return 2;
}

uint32_t CmdMakeDirectory(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    const char* path = VmCheckString(vm, 1, nullptr);
    if (!*path)
        return ERR_WRONGUSAGE;
    return MakeDirectoryPath(path);
}

uint32_t CmdChangeDirectory(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    const char* path = VmCheckString(vm, 1, nullptr);
    char* previous = OsChangeDir(path);
    if (!previous) {
        SetErrorText(path);
        return ERR_DIRLOCK;
    }
    OsFreeMem(previous);
    return 0;
}

uint32_t CmdGetCurrentDirectory(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    char* current = OsChangeDir(nullptr);
    if (!current)
        return ERR_FINDPATH;
    VmPushCString(vm, current);
    OsFreeMem(current);
    return 1;
}

uint32_t CmdGetVolumeName(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    const char* path = VmCheckString(vm, 1, nullptr);
    if (!*path)
        return ERR_WRONGUSAGE;
    char name[PATH_BUFFER];
    if (int code = OsGetVolumeName(path, name, sizeof name)) {
        SetErrorText(path);
        return static_cast<uint32_t>(code);
    }
    VmPushCString(vm, name);
    return 1;
}

uint32_t CmdGetVolumeInfo(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    const char* path = VmCheckString(vm, 1, nullptr);
    int64_t which = DoubleToInt64(VmCheckNumber(vm, 2));
    if (which != 0 && which != 1)
        return ERR_WRONGUSAGE;
    uint64_t freeBytes = 0, usedBytes = 0;
    if (int code = OsGetVolumeInfo(path, &freeBytes, &usedBytes)) {
        SetErrorText(path);
        return static_cast<uint32_t>(code);
    }
    VmPushNumber(vm, static_cast<double>(which == 1 ? freeBytes : usedBytes));
    return 1;
}

uint32_t CmdFullPath(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    size_t dirLength = 0, fileLength = 0;
    const char* directory = VmCheckString(vm, 1, &dirLength);
    const char* file = VmCheckString(vm, 2, &fileLength);
    try {
        std::string joined = AddPart(std::string_view(directory, dirLength), std::string_view(file, fileLength));
        VmPushLString(vm, joined.data(), joined.size());
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return 1;
}

uint32_t CmdRename(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    const char* oldName = VmCheckString(vm, 1, nullptr);
    const char* newName = VmCheckString(vm, 2, nullptr);
    if (!*oldName || !*newName || IsChunkName(oldName) || IsChunkName(newName))
        return ERR_WRONGUSAGE;
    std::string target = newName;
    const char* oldFile = PathFilePart(oldName);
    // A bare new name renames within the old name's folder.
    if (oldFile != oldName && PathFilePart(newName) == newName)
        target = std::string(oldName, oldFile) + newName;
    if (uint32_t code = RefuseLinkedFileName(oldName))
        return code;
    if (!OsRename(oldName, target.c_str())) {
        SetErrorText(oldName);
        return ERR_RENAME;
    }
    return 0;
}

uint32_t CmdIsDirectory(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    const char* path = VmCheckString(vm, 1, nullptr);
    const std::string examined = ResolveLinkedFile(vm, path, 0, nullptr);
    auto* record = static_cast<FileExamineRecord*>(OsAllocMem(sizeof(FileExamineRecord), 1));
    if (!record)
        return ERR_MEM;
    int ok = ExamineFileByName(examined.c_str(), record, 1);
    bool directory = record->kind == FILEINFO_DIRECTORY;
    OsFreeMem(record);
    if (!ok) {
        SetErrorText(path);
        return ERR_STAT;
    }
    VmPushNumber(vm, directory ? 1 : 0);
    return 1;
}

uint32_t CmdGetFileAttributes(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    std::string path = GetFileNameArg(vm, 1);
    std::string storage;
    const char* loaders = AdapterOption(vm, 2, &storage);
    FileInfoRecord info;
    std::memset(&info, 0, sizeof info);
    std::string fullPath;
    if (FileLock* lock = OpenFileLock(path.c_str(), STREAM_READ | FILELOCK_ADAPTERS, loaders)) {
        int code = ExamineLock(lock, &info);
        char buffer[PATH_BUFFER];
        if (!code && GetLockFullPath(lock, buffer, sizeof buffer))
            fullPath = buffer;
        CloseFileLock(lock);
        if (code) {
            SetErrorText(path.c_str());
            return static_cast<uint32_t>(code);
        }
    } else {
        StreamHandle* stream = StreamOpen(path.c_str(), STREAM_READ | STREAM_ADAPTERS, loaders);
        if (!stream) {
            SetErrorText(path.c_str());
            return ERR_READFILE;
        }
        int ok = ExamineStream(stream, &info);
        if (ok && info.fullPath)
            fullPath = info.fullPath;
        StreamClose(stream);
        if (!ok) {
            SetErrorText(path.c_str());
            return ERR_EXAMINE;
        }
    }
    bool isVirtual = IsChunkName(path.c_str());
    PushFileInfoTable(vm, info);
    SetStringField(vm, "path", isVirtual ? path.c_str() : fullPath.c_str());
    SetNumberField(vm, "virtual", isVirtual ? 1 : 0);
    return 1;
}

uint32_t CmdFileAttributes(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    DosFile* f;
    if (uint32_t code = FindFileHandle(GetObjectIdArg(vm, 1), &f))
        return code;
    FileInfoRecord info;
    if (!ExamineStream(f->stream, &info))
        return ERR_STAT;
    uint32_t flags = GetStreamFlags(f->stream);
    PushFileInfoTable(vm, info);
    SetStringField(vm, "path", info.fullPath ? info.fullPath : "");
    SetNumberField(vm, "streaming", (flags & STREAMFLAG_STREAMING) ? 1 : 0);
    SetNumberField(vm, "noseek", (flags & STREAMFLAG_NOSEEK) ? 1 : 0);
    return 1;
}

uint32_t CmdSetFileAttributes(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    const char* path = VmCheckString(vm, 1, nullptr);
    VmCheckTable(vm, 2);
    if (IsChunkName(path))
        return ERR_WRONGUSAGE;
    FileLock* lock = OpenFileLock(path, STREAM_READ | FILELOCK_ADAPTERS, nullptr);
    if (!lock) {
        SetErrorText(path);
        return ERR_LOCK2;
    }
    CloseFileLock(lock);
    // Every field is checked before anything changes, so that a bad date
    // leaves the file as it was.
    static const char* const timeFields[3] = {"creationtime", "lastaccesstime", "time"};
    static const int timeSlots[3] = {FILETIME_CREATION, FILETIME_ACCESS, FILETIME_MODIFICATION};
    uint64_t times[3] = {0, 0, 0};
    bool anyTime = false;
    for (int i = 0; i < 3; ++i) {
        VmPushCString(vm, timeFields[i]);
        VmRawGet(vm, 2);
        if (VmType(vm, -1) == VM_TSTRING) {
            DateStamp date;
            if (!ParseDateString(VmGetString(vm, -1), &date) || !OsDateToFileTime(&date, times, timeSlots[i])) {
                char detail[200];
                std::snprintf(detail, sizeof detail,
                              "Field %s: \"%.64s\" is no date of the form dd-mmm-yyyy hh:mm:ss "
                              "(07-Mar-2024 13:05:00) that a file can carry",
                              timeFields[i], VmGetString(vm, -1));
                SetErrorDetail(ERR_INVALIDDATE, detail);
                VmPop(vm, 1);
                return ERR_INVALIDDATE;
            }
            anyTime = true;
        }
        VmPop(vm, 1);
    }
    VmPushCString(vm, "flags");
    VmRawGet(vm, 2);
    if (VmType(vm, -1) == VM_TNUMBER) {
        uint32_t flags = DoubleToLow32(VmGetNumber(vm, -1));
        if (!OsSetFileAttributes(path, flags)) {
            SetErrorText(path);
            return ERR_SETFILEATTR;
        }
    }
    VmPop(vm, 1);
    if (anyTime && !OsSetFileTime(path, times)) {
        SetErrorText(path);
        return ERR_SETFILEDATE;
    }
    return 0;
}

uint32_t CmdCRC32(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    uLong crc = crc32(0, Z_NULL, 0);
    auto update = [](void* c, const uint8_t* data, size_t size) {
        auto* sum = static_cast<uLong*>(c);
        *sum = crc32(*sum, data, static_cast<uInt>(size));
    };
    if (uint32_t code = ReadFileArgInBlocks(vm, 1, update, &crc))
        return code;
    VmPushNumber(vm, static_cast<double>(static_cast<uint32_t>(crc)));
    return 1;
}

uint32_t CmdGetTempFileName(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    char name[PATH_BUFFER];
    if (uint32_t code = OsGetTempFileName(name, sizeof name))
        return code;
    VmPushCString(vm, name);
    return 1;
}

uint32_t CmdExecute(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    std::string line = VmCheckString(vm, 1, nullptr);
    return StartProgram(vm, line.c_str(), false, DosFlagArg(vm, 2, true));
}

uint32_t CmdRun(VmState* vm)
{
    CheckArgs(vm, 1, 3, 0, 0);
    std::string line = VmCheckString(vm, 1, nullptr);
    return StartProgram(vm, line.c_str(), true, DosFlagArg(vm, 2, true), VmType(vm, 3) == VM_TNONE ? 0 : 3);
}
