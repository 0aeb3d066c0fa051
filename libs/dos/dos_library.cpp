// The "dos" library as a whole: its command and constant tables, its
// registration and clean-up, the file and directory lists, and the small
// helpers every command module of the library shares.
#include "libs/dos/dos_library.h"

#include <cstdio>
#include <cstring>

#include "core/io/errors.h"
#include "core/io/linked_files.h"
#include "core/io/number_conv.h"
#include "core/io/stream.h"
#include "core/io/virtual_files.h"
#include "core/services/arg_helpers.h"
#include "core/services/command_services.h"
#include "core/vm/vm.h"
#include "libs/dos/running_programs.h"
#include "platform/posix/os_memory.h"

DosLibraryState DosState{};

const CommandTableEntry kDosCommands[] = {
    {"OpenFile", CmdOpenFile},
    {"Eof", CmdEof},
    {"ReadChr", CmdReadChr},
    {"ReadLine", CmdReadLine},
    {"ReadString", CmdReadString},
    {"Seek", CmdSeek},
    {"WriteChr", CmdWriteChr},
    {"WriteLine", CmdWriteLine},
    {"WriteString", CmdWriteString},
    {"Exists", CmdExists},
    {"FileSize", CmdFileSize},
    {"PathPart", CmdPathPart},
    {"FilePart", CmdFilePart},
    {"MakeDirectory", CmdMakeDirectory},
    {"GetVolumeInfo", CmdGetVolumeInfo},
    {"DeleteFile", CmdDeleteFile},
    {"Execute", CmdExecute},
    {"Run", CmdRun},
    {"ChangeDirectory", CmdChangeDirectory},
    {"GetVolumeName", CmdGetVolumeName},
    {"CloseFile", CmdCloseFile},
    {"ReadDirectory", CmdReadDirectory},
    {"FullPath", CmdFullPath},
    {"CopyFile", CmdCopyFile},
    {"Rename", CmdRename},
    {"IsDirectory", CmdIsDirectory},
    {"CRC32", CmdCRC32},
    {"WriteShort", CmdWriteShort},
    {"WriteInt", CmdWriteInt},
    {"WriteFloat", CmdWriteFloat},
    {"ReadShort", CmdReadShort},
    {"ReadInt", CmdReadInt},
    {"ReadFloat", CmdReadFloat},
    {"FilePos", CmdFilePos},
    {"MatchPattern", CmdMatchPattern},
    {"FlushFile", CmdFlushFile},
    {"SetIOMode", CmdSetIOMode},
    {"GetFileAttributes", CmdGetFileAttributes},
    {"SetFileAttributes", CmdSetFileAttributes},
    {"GetTempFileName", CmdGetTempFileName},
    {"FileLength", CmdFileLength},
    {"CompressFile", CmdCompressFile},
    {"DecompressFile", CmdDecompressFile},
    {"OpenDirectory", CmdOpenDirectory},
    {"CloseDirectory", CmdCloseDirectory},
    {"NextDirectoryEntry", CmdNextDirectoryEntry},
    {"WriteFunction", CmdWriteFunction},
    {"ReadFunction", CmdReadFunction},
    {"DefineVirtualFile", CmdDefineVirtualFile},
    {"ReadTable", CmdReadTable},
    {"WriteTable", CmdWriteTable},
    {"GetCurrentDirectory", CmdGetCurrentDirectory},
    {"ApplyPatch", CmdApplyPatch},
    {"DefineVirtualFileFromString", CmdDefineVirtualFileFromString},
    {"UndefineVirtualStringFile", CmdUndefineVirtualStringFile},
    {"FileToString", CmdFileToString},
    {"StringToFile", CmdStringToFile},
    {"GetEnv", CmdGetEnv},
    {"SetEnv", CmdSetEnv},
    {"UnsetEnv", CmdUnsetEnv},
    {"MD5", CmdMD5},
    {"FileLines", CmdFileLines},
    {"FileAttributes", CmdFileAttributes},
    {"GetAsset", CmdGetAsset},
    {nullptr, nullptr},
};

const ConstantTableEntry kDosConstants[] = {
    {"FREESPACE", nullptr, 1},
    {"USEDSPACE", nullptr, 0},
    {"EOF", nullptr, -1},
    {"MODE_READWRITE", nullptr, MODE_READWRITE},
    {"MODE_WRITE", nullptr, MODE_WRITE},
    {"MODE_READ", nullptr, MODE_READ},
    {"COPYFILE_STATUS", nullptr, 0},
    {"COPYFILE_OVERWRITE", nullptr, 1},
    {"COPYFILE_UNPROTECT", nullptr, 2},
    {"DELETEFILE_STATUS", nullptr, 0},
    {"DELETEFILE_UNPROTECT", nullptr, 1},
    {"IO_BUFFERED", nullptr, 0},
    {"IO_UNBUFFERED", nullptr, 1},
    {"FILEATTR_NORMAL", nullptr, 65536},
    {"FILEATTR_READ_USR", nullptr, 1},
    {"FILEATTR_WRITE_USR", nullptr, 2},
    {"FILEATTR_DELETE_USR", nullptr, 4},
    {"FILEATTR_EXECUTE_USR", nullptr, 8},
    {"FILEATTR_READ_GRP", nullptr, 512},
    {"FILEATTR_WRITE_GRP", nullptr, 1024},
    {"FILEATTR_EXECUTE_GRP", nullptr, 2048},
    {"FILEATTR_READ_OTH", nullptr, 4096},
    {"FILEATTR_WRITE_OTH", nullptr, 8192},
    {"FILEATTR_EXECUTE_OTH", nullptr, 16384},
    {"FILEATTR_PURE", nullptr, 16},
    {"FILEATTR_ARCHIVE", nullptr, 32},
    {"FILEATTR_SCRIPT", nullptr, 64},
    {"FILEATTR_HIDDEN", nullptr, 128},
    {"FILEATTR_SYSTEM", nullptr, 256},
    {"FILEATTR_READONLY", nullptr, 32768},
    {"DOSTYPE_FILE", nullptr, 0},
    {"DOSTYPE_DIRECTORY", nullptr, 1},
    {"SEEK_BEGINNING", nullptr, 1},
    {"SEEK_CURRENT", nullptr, 0},
    {"SEEK_END", nullptr, 2},
    {nullptr, nullptr, 0},
};

namespace {

// Finds the record named by id on a list of records that start with an
// ObjectHeader: a handle matches the record it was given for, a number the
// record that was opened under that number.
ObjectHeader* FindOnList(ObjectHeader* first, ObjectId id, ObjectHeader*** outLink, ObjectHeader** head)
{
    ObjectHeader** link = head;
    for (ObjectHeader* h = first; h; link = &h->next, h = h->next) {
        bool match = id.handle ? h->handle == id.handle : (h->handle == 0 && h->id == id.id);
        if (match) {
            if (outLink)
                *outLink = link;
            return h;
        }
    }
    return nullptr;
}

ObjectHeader** FileListHead() { return reinterpret_cast<ObjectHeader**>(&DosState.files); }

} // namespace

void FreeDosDirectory(VmState* vm, DosDirectory* d)
{
    if (vm)
        FreeObjectDataList(vm, &d->header.dataList);
    CloseFileLock(d->lock);
    OsFreeMem(d);
}

uint32_t FreeDosFile(VmState* vm, DosFile* f)
{
    if (vm)
        FreeObjectDataList(vm, &f->header.dataList);
    uint32_t code = f->access == DOSACCESS_READ ? (StreamClose(f->stream), 0u) : StreamCloseWritten(f->stream);
    OsFreeMem(f);
    return code;
}

uint32_t FindFileHandle(ObjectId id, DosFile** out)
{
    *out = reinterpret_cast<DosFile*>(FindOnList(*FileListHead(), id, nullptr, FileListHead()));
    if (*out)
        return 0;
    if (id.handle)
        return ERR_FINDARRAY;
    SetErrorArgNumber(static_cast<int32_t>(id.id));
    return ERR_FINDFILE;
}

uint32_t RemoveFileHandle(ObjectId id, VmState* vm)
{
    ObjectHeader** link = nullptr;
    auto* f = reinterpret_cast<DosFile*>(FindOnList(*FileListHead(), id, &link, FileListHead()));
    if (!f) {
        DosFile* none;
        return FindFileHandle(id, &none);
    }
    *link = f->header.next;
    return FreeDosFile(vm, f);
}

uint32_t FindDirectoryHandle(ObjectId id, DosDirectory** out)
{
    auto** head = reinterpret_cast<ObjectHeader**>(&DosState.directories);
    *out = reinterpret_cast<DosDirectory*>(FindOnList(*head, id, nullptr, head));
    if (*out)
        return 0;
    if (id.handle)
        return ERR_FINDARRAY;
    SetErrorArgNumber(static_cast<int32_t>(id.id));
    return ERR_FINDDIR;
}

uint32_t DosFileForRead(VmState* vm, int index, DosFile** out)
{
    if (uint32_t code = FindFileHandle(GetObjectIdArg(vm, index), out))
        return code;
    return (*out)->access == DOSACCESS_WRITE ? uint32_t{ERR_WRITEONLY} : 0u;
}

uint32_t DosFileForWrite(VmState* vm, int index, DosFile** out)
{
    if (uint32_t code = FindFileHandle(GetObjectIdArg(vm, index), out))
        return code;
    return (*out)->access == DOSACCESS_READ ? uint32_t{ERR_READONLY} : 0u;
}

size_t DosRead(StreamHandle* stream, void* buffer, size_t count)
{
    return DosState.ioMode ? StreamReadBytes(stream, buffer, count) : StreamRead(stream, buffer, count);
}

size_t DosWrite(StreamHandle* stream, const void* buffer, size_t count)
{
    if (count == 0)
        return 0;
    return DosState.ioMode ? StreamWriteBytes(stream, buffer, count) : StreamWrite(stream, buffer, count);
}

uint32_t ReadFileArgInBlocks(VmState* vm, int index, void (*consume)(void* context, const uint8_t* data, size_t size),
                             void* context)
{
    constexpr size_t kBlock = 65536;
    std::string name = GetFileNameArg(vm, index);
    StreamHandle* stream = StreamOpen(name.c_str(), STREAM_READ | STREAM_ADAPTERS);
    if (!stream) {
        SetErrorText(name.c_str());
        return ERR_READFILE;
    }
    auto* block = static_cast<uint8_t*>(OsAllocMem(kBlock, 0));
    if (!block) {
        StreamClose(stream);
        return ERR_MEM;
    }
    uint32_t code = 0;
    for (;;) {
        size_t got = DosRead(stream, block, kBlock);
        if (got)
            consume(context, block, got);
        if (got < kBlock) {
            if (!StreamEof(stream))
                code = ERR_READ;
            break;
        }
    }
    OsFreeMem(block);
    StreamClose(stream);
    return code;
}

bool DosFlagArg(VmState* vm, int index, bool fallback)
{
    if (VmType(vm, index) == VM_TNONE)
        return fallback;
    return DoubleToInt64(VmCheckNumber(vm, index)) != 0;
}

uint32_t CallProgressCallback(VmState* vm, int fn, double* outAnswer)
{
    VmPushValue(vm, fn);
    VmInsert(vm, -2);
    // While the callback runs, an error in it is its caller's to report,
    // not the script error handler's.
    CoreTags.errorHandlerNesting += 1;
    uint32_t code = VmPCall(vm, 1, 1, 0);
    CoreTags.errorHandlerNesting -= 1;
    if (code)
        return code;
    *outAnswer = VmType(vm, -1) == VM_TNUMBER ? VmGetNumber(vm, -1) : 0;
    VmPop(vm, 1);
    return 0;
}

uint32_t RegisterDosLibrary(VmState* vm)
{
    VmPushValue(vm, VM_GLOBALSINDEX);
    VmRegisterLibrary(vm, nullptr, kDosCommands, 0);
    if (uint32_t code = RegisterLibrary(kDosCommands, "dos"))
        return code;
    VmRegisterConstants(vm, kDosConstants, 0);
    if (uint32_t code = RegisterObjectList(&DosState.files))
        return code;
    if (uint32_t code = RegisterObjectList(&DosState.directories))
        return code;
    DosState.ioMode = 0;
    return 0;
}

uint32_t CleanupDosLibrary(VmState* vm)
{
    uint32_t firstError = 0;
    while (DosFile* f = DosState.files) {
        DosState.files = reinterpret_cast<DosFile*>(f->header.next);
        uint32_t code = FreeDosFile(vm, f);
        if (!firstError)
            firstError = code;
    }
    while (DosDirectory* d = DosState.directories) {
        DosState.directories = reinterpret_cast<DosDirectory*>(d->header.next);
        FreeDosDirectory(vm, d);
    }
    FreeAllVirtualStringFiles();
    FreeRunningPrograms(vm);
    DosState.ioMode = 0;
    return firstError;
}
