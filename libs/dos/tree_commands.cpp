// Recursive copying and deleting with progress callbacks, and the wildcard
// matching that filters both.
//
// A callback that answers "stop" (or a user abort) ends a walk without an
// error; a callback's own error ends it with that error.
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/io/errors.h"
#include "core/io/file_parts.h"
#include "core/io/linked_files.h"
#include "core/io/stream.h"
#include "core/io/virtual_names.h"
#include "core/io/whole_file.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "core/services/path_helpers.h"
#include "core/vm/error_hooks.h"
#include "core/vm/vm.h"
#include "libs/dos/dos_library.h"
#include "platform/posix/os_files.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_paths.h"

namespace {

constexpr size_t COPY_BLOCK = 16384;

enum CallbackAction : int {
    ACTION_STATUS = 0,     // COPYFILE_STATUS, DELETEFILE_STATUS
    ACTION_UNPROTECT_DELETE = 1,
    ACTION_OVERWRITE = 1,  // COPYFILE_OVERWRITE
    ACTION_UNPROTECT_COPY = 2,
};

struct CallbackField {
    const char* key;
    const char* text;  // null: the number
    double number;
};

// The script's callback and its user value (stack indices, 0 for none).
struct Walker {
    VmState* vm;
    int callback;
    int userdata;
    bool stopped;
};

// Calls the callback with a table of the fields and the user value.
uint32_t Ask(Walker& w, std::initializer_list<CallbackField> fields, double* answer)
{
    VmNewTable(w.vm);
    for (const CallbackField& f : fields) {
        VmPushCString(w.vm, f.key);
        if (f.text)
            VmPushCString(w.vm, f.text);
        else
            VmPushNumber(w.vm, f.number);
        VmRawSet(w.vm, -3);
    }
    if (w.userdata) {
        VmPushCString(w.vm, "userdata");
        VmPushValue(w.vm, w.userdata);
        VmRawSet(w.vm, -3);
    }
    return CallProgressCallback(w.vm, w.callback, answer);
}

bool Examine(const std::string& path, FileExamineRecord* record)
{
    return ExamineFileByName(path.c_str(), record, 0) != 0;
}

// A record on the heap: FileExamineRecord carries a 4 KB path.
struct ExamineBuffer {
    FileExamineRecord* record = static_cast<FileExamineRecord*>(OsAllocMem(sizeof(FileExamineRecord), 1));
    ~ExamineBuffer() { OsFreeMem(record); }
};

uint32_t DeleteOneFile(Walker& w, const std::string& path)
{
    ExamineBuffer info;
    if (!info.record)
        return ERR_MEM;
    if (!Examine(path, info.record)) {
        SetErrorText(path.c_str());
        return ERR_DELETEFILE;
    }
    if (info.record->flags & FILEATTR_READONLY) {
        if (!w.callback)
            return 0;
        double answer;
        if (uint32_t code = Ask(w, {{"action", nullptr, ACTION_UNPROTECT_DELETE}, {"file", path.c_str(), 0}}, &answer))
            return code;
        if (answer == -1 || VmAbortFlag) {
            w.stopped = true;
            return 0;
        }
        if (answer == 0)
            return 0;
        OsSetFileAttributes(path.c_str(), FILEATTR_NORMAL);
    }
    if (w.callback) {
        double answer;
        if (uint32_t code = Ask(w, {{"action", nullptr, ACTION_STATUS}, {"file", path.c_str(), 0}}, &answer))
            return code;
        if (answer == 1 || VmAbortFlag) {
            w.stopped = true;
            return 0;
        }
    }
    if (!OsDeleteFile(path.c_str())) {
        SetErrorText(path.c_str());
        return ERR_DELETEFILE;
    }
    return 0;
}

// Deletes the matching files of a folder (and of its subfolders when
// recursive); without a pattern the emptied folders go too, each last.
uint32_t DeleteTree(Walker& w, const std::string& path, const char* pattern, bool recursive)
{
    std::vector<DirectoryEntry> entries;
    if (uint32_t code = ListDirectoryEntries(path.c_str(), nullptr, &entries))
        return code == ERR_LOCK2 ? uint32_t{ERR_DELETEFILE} : code;
    for (const DirectoryEntry& e : entries) {
        std::string full = AddPart(path, e.name);
        uint32_t code = 0;
        // A link to a folder is an entry of this tree; its target is not.
        bool link = e.isDirectory && OsIsSymLink(full.c_str());
        if (e.isDirectory && !link) {
            if (recursive)
                code = DeleteTree(w, full, pattern, recursive);
        } else if (!pattern || MatchWildcard(pattern, e.name.c_str())) {
            code = DeleteOneFile(w, full);
        }
        if (code || w.stopped)
            return code;
    }
    return pattern ? 0u : DeleteOneFile(w, path);
}

struct CopyBuffer {
    uint8_t* bytes = static_cast<uint8_t*>(OsAllocMem(COPY_BLOCK, 0));
    StreamHandle* source = nullptr;
    ~CopyBuffer()
    {
        OsFreeMem(bytes);
        if (source)
            StreamClose(source);
    }
};

uint32_t CopyOneFile(Walker& w, const std::string& source, const std::string& destination)
{
    if (uint32_t code = RefuseSameFile(source, destination))
        return code;
    std::string sourcePath = IsChunkName(source.c_str()) ? source : OsFullPathString(source.c_str());
    {
        ExamineBuffer existing;
        if (!existing.record)
            return ERR_MEM;
        if (Examine(destination, existing.record)) {
            double answer = 1;
            if (w.callback) {
                if (uint32_t code = Ask(w,
                                        {{"action", nullptr, ACTION_OVERWRITE},
                                         {"source", sourcePath.c_str(), 0},
                                         {"destination", destination.c_str(), 0}},
                                        &answer))
                    return code;
                if (answer == -1 || VmAbortFlag) {
                    w.stopped = true;
                    return 0;
                }
                if (answer == 0)
                    return 0;
            }
            if (existing.record->flags & FILEATTR_READONLY) {
                if (!w.callback)
                    return 0;
                if (uint32_t code = Ask(w,
                                        {{"action", nullptr, ACTION_UNPROTECT_COPY},
                                         {"destination", destination.c_str(), 0}},
                                        &answer))
                    return code;
                if (answer == -1 || VmAbortFlag) {
                    w.stopped = true;
                    return 0;
                }
                if (answer == 0)
                    return 0;
                OsSetFileAttributes(destination.c_str(), FILEATTR_NORMAL);
            }
        }
    }
    CopyBuffer buffer;
    if (!buffer.bytes)
        return ERR_MEM;
    buffer.source = StreamOpen(source.c_str(), STREAM_READ | STREAM_ADAPTERS);
    if (!buffer.source) {
        SetErrorText(source.c_str());
        return ERR_READFILE;
    }
    FileInfoRecord info;
    bool examined = ExamineStream(buffer.source, &info) != 0;
    uint64_t size = 0;
    bool knownSize = StreamKnownSize(buffer.source, &size);
    // The copy goes to a new file that replaces the destination only when
    // complete: a copy that fails or is stopped leaves the old file whole.
    WholeFileWriter target;
    if (uint32_t code = BeginWholeFile(destination.c_str(), 0, &target))
        return code;
    uint64_t copied = 0;
    for (;;) {
        size_t got = DosRead(buffer.source, buffer.bytes, COPY_BLOCK);
        if (got == 0)
            break;
        if (DosWrite(target.stream, buffer.bytes, got) != got)
            return ERR_WRITE;
        copied += got;
        if (w.callback) {
            double answer;
            if (uint32_t code = Ask(w,
                                    {{"action", nullptr, ACTION_STATUS},
                                     {"source", sourcePath.c_str(), 0},
                                     {"destination", destination.c_str(), 0},
                                     {"copied", nullptr, static_cast<double>(copied)},
                                     {"filesize", nullptr, static_cast<double>(size)}},
                                    &answer))
                return code;
            // A copy stopped half way is removed, not left to pass for
            // the whole file.
            if (answer == 1 || VmAbortFlag) {
                w.stopped = true;
                return 0;
            }
        }
        if (got < COPY_BLOCK)
            break;
    }
    if (knownSize ? copied != size : !StreamEof(buffer.source))
        return ERR_READ;
    if (uint32_t code = CommitWholeFile(&target))
        return code;
    if (examined && !IsChunkName(source.c_str())) {
        OsSetFileTime(destination.c_str(), info.times);
        OsSetFileAttributes(destination.c_str(), info.flags);
    }
    return 0;
}

uint32_t CopyTree(Walker& w, const std::string& source, const std::string& destination, const char* pattern,
                  bool recursive)
{
    if (uint32_t code = MakeDirectoryPath(destination.c_str()))
        return code;
    std::vector<DirectoryEntry> entries;
    if (uint32_t code = ListDirectoryEntries(source.c_str(), nullptr, &entries))
        return code;
    for (const DirectoryEntry& e : entries) {
        std::string from = AddPart(source, e.name), to = AddPart(destination, e.name);
        uint32_t code = 0;
        if (e.isDirectory && OsIsSymLink(from.c_str())) {
            // Copied as the link it is: following it could copy a tree
            // into itself or reach far outside the source.
            if (!OsCopySymLink(from.c_str(), to.c_str())) {
                SetErrorText(to.c_str());
                code = ERR_WRITEFILE;
            }
        } else if (e.isDirectory) {
            if (recursive)
                code = CopyTree(w, from, to, pattern, recursive);
        } else if (!pattern || MatchWildcard(pattern, e.name.c_str())) {
            code = CopyOneFile(w, from, to);
        }
        if (code || w.stopped)
            return code;
    }
    return 0;
}

// An optional string argument: null when absent or nil.
const char* OptionalText(VmState* vm, int index)
{
    int t = VmType(vm, index);
    if (t == VM_TNONE || t == VM_TNIL)
        return nullptr;
    return VmCheckString(vm, index, nullptr);
}

int OptionalCallback(VmState* vm, int index)
{
    int t = VmType(vm, index);
    if (t == VM_TNONE || t == VM_TNIL)
        return 0;
    VmCheckFunction(vm, index);
    return index;
}

bool EndsWithSeparator(const std::string& path)
{
    return !path.empty() && (path.back() == '/' || path.back() == '\\');
}

} // namespace

bool MatchWildcard(const char* pattern, const char* name)
{
    // One character of name against the item at p; *next receives the
    // item's end.
    auto matchOne = [](const char* p, unsigned char c, const char** next) {
        if (*p == '?') {
            *next = p + 1;
            return true;
        }
        if (*p == '#') {
            *next = p + 1;
            return c >= '0' && c <= '9';
        }
        if (*p == '[') {
            const char* q = p + 1;
            bool negate = *q == '!';
            if (negate)
                ++q;
            const char* close = std::strchr(q + (*q == ']' ? 1 : 0), ']');
            if (close) {
                bool in = false;
                for (const char* r = q; r < close; ++r) {
                    if (r + 2 < close && r[1] == '-') {
                        in = in || (c >= static_cast<unsigned char>(r[0]) && c <= static_cast<unsigned char>(r[2]));
                        r += 2;
                    } else {
                        in = in || c == static_cast<unsigned char>(*r);
                    }
                }
                *next = close + 1;
                return in != negate;
            }
        }
        *next = p + 1;
        return c == static_cast<unsigned char>(*p);
    };
    // Greedy matching that goes back only to the last '*': linear in
    // practice and never exponential, whatever the pattern.
    const char* p = pattern;
    const char* n = name;
    const char* starP = nullptr;
    const char* starN = nullptr;
    while (*n) {
        if (*p == '*') {
            while (*p == '*')
                ++p;
            starP = p;
            starN = n;
            continue;
        }
        const char* next;
        if (*p && matchOne(p, static_cast<unsigned char>(*n), &next)) {
            p = next;
            ++n;
            continue;
        }
        if (!starP)
            return false;
        p = starP;
        n = ++starN;
    }
    while (*p == '*')
        ++p;
    return *p == 0;
}

uint32_t CmdMatchPattern(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    const char* name = VmCheckString(vm, 1, nullptr);
    const char* pattern = VmCheckString(vm, 2, nullptr);
    VmPushNumber(vm, MatchWildcard(pattern, PathFilePart(name)) ? 1 : 0);
    return 1;
}

uint32_t CmdDeleteFile(VmState* vm)
{
    CheckArgs(vm, 1, 5, 0, 0);
    std::string path = VmCheckString(vm, 1, nullptr);
    Walker w{vm, OptionalCallback(vm, 2), VmType(vm, 3) > VM_TNIL ? 3 : 0, false};
    const char* patternArg = OptionalText(vm, 4);
    std::string pattern = patternArg ? patternArg : "";
    bool recursive = DosFlagArg(vm, 5, true);
    if (path.empty() || IsChunkName(path.c_str()))
        return ERR_WRONGUSAGE;
    if (uint32_t code = RefuseLinkedFileName(path.c_str()))
        return code;
    ExamineBuffer info;
    if (!info.record)
        return ERR_MEM;
    if (!Examine(path, info.record)) {
        SetErrorText(path.c_str());
        return ERR_DELETEFILE;
    }
    bool directory = info.record->kind == FILEINFO_DIRECTORY && !OsIsSymLink(path.c_str());
    if (patternArg && !directory)
        return ERR_NODIRPATTERN;
    if (!directory)
        return DeleteOneFile(w, path);
    return DeleteTree(w, path, patternArg ? pattern.c_str() : nullptr, recursive);
}

uint32_t CmdCopyFile(VmState* vm)
{
    CheckArgs(vm, 2, 7, 0, 0);
    std::string source = GetFileNameArg(vm, 1);
    std::string destination = VmCheckString(vm, 2, nullptr);
    const char* newNameArg = OptionalText(vm, 3);
    std::string newName = newNameArg ? newNameArg : "";
    Walker w{vm, OptionalCallback(vm, 4), VmType(vm, 5) > VM_TNIL ? 5 : 0, false};
    const char* patternArg = OptionalText(vm, 6);
    std::string pattern = patternArg ? patternArg : "";
    const char* patternText = patternArg ? pattern.c_str() : nullptr;
    bool recursive = DosFlagArg(vm, 7, true);
    if (source.empty() && destination.empty())
        return ERR_WRONGUSAGE;
    ExamineBuffer info;
    if (!info.record)
        return ERR_MEM;
    if (!Examine(source, info.record)) {
        SetErrorText(source.c_str());
        return ERR_READFILE;
    }
    if (info.record->kind == FILEINFO_DIRECTORY) {
        std::string root = newNameArg ? AddPart(destination, newName) : destination;
        // A copy into the source's own tree would go on copying itself.
        std::string from = OsFullPathString(source.c_str()), to = OsFullPathString(root.c_str());
        if (to == from || to.compare(0, from.size() + 1, from + "/") == 0)
            return ERR_WRONGUSAGE;
        return CopyTree(w, source, root, patternText, recursive);
    }
    char fileName[1024];
    ChunkNameToFileName(source.c_str(), fileName, sizeof fileName);
    if (patternText && !MatchWildcard(patternText, fileName))
        return 0;
    // A single file goes into the destination folder under its own or the
    // new name; a destination that is no folder (and does not end in a
    // separator) is the copy's full name.
    std::string target;
    ExamineBuffer dest;
    if (!dest.record)
        return ERR_MEM;
    bool destIsFolder = EndsWithSeparator(destination) ||
                        (Examine(destination, dest.record) && dest.record->kind == FILEINFO_DIRECTORY);
    if (newNameArg || destIsFolder || destination.empty()) {
        if (!destination.empty())
            if (uint32_t code = MakeDirectoryPath(destination.c_str()))
                return code;
        target = AddPart(destination, newNameArg ? newName : std::string(fileName));
    } else {
        std::string folder(destination.c_str(), PathFilePart(destination.c_str()));
        if (!folder.empty())
            if (uint32_t code = MakeDirectoryPath(folder.c_str()))
                return code;
        target = destination;
    }
    return CopyOneFile(w, source, target);
}
