// The host interface: the fixed block of tables through which plugins reach
// the runtime. Every slot holds a function: a slot whose service does not
// exist on this platform answers ERR_UNSUPPORTEDFEAT. The wrappers here
// adapt the system, stream, file-information, VM and plugin-list services to
// the plugins' records.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include FT_OUTLINE_H
#include FT_STROKER_H
#include FT_TRUETYPE_TABLES_H
#include FT_FONT_FORMATS_H
#include FT_ADVANCES_H

#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include "core/glue/time_values.h"
#include "core/glue/timers.h"
#include "core/io/base64.h"
#include "core/io/errors.h"
#include "core/io/file_parts.h"
#include "core/io/linked_files.h"
#include "core/io/md5.h"
#include "core/io/stream.h"
#include "core/io/utilities.h"
#include "core/io/virtual_names.h"
#include "core/io/whole_file.h"
#include "core/plugins/capability_lists.h"
#include "core/plugins/command_hooks.h"
#include "core/plugins/host_adapters.h"
#include "core/plugins/host_events.h"
#include "core/plugins/host_graphics.h"
#include "core/plugins/host_images.h"
#include "core/plugins/host_runtime.h"
#include "core/plugins/image_loaders.h"
#include "core/plugins/inbuilt_fonts.h"
#include "core/plugins/plugin_loader.h"
#include "core/plugins/plugin_manager.h"
#include "core/services/arg_helpers.h"
#include "core/services/command_services.h"
#include "core/services/object_registry.h"
#include "core/services/path_helpers.h"
#include "core/startup/run_records.h"
#include "core/startup/startup.h"
#include "core/vm/error_hooks.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"
#include "display/adapters.h"
#include "display/display.h"
#include "display/events.h"
#include "display/window_icons.h"
#include "draw/draw_library.h"
#include "gfx/bitmaps/bitmap.h"
#include "media/sound.h"
#include "platform/posix/os_console.h"
#include "platform/posix/os_env.h"
#include "platform/posix/os_files.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_paths.h"
#include "platform/posix/os_thread.h"
#include "platform/posix/os_time.h"

static_assert(sizeof(QmTimeValue) == sizeof(OsTimeValue), "time values share one layout");
static_assert(sizeof(QmTagItem) == sizeof(TagItem), "tag items share one layout");

namespace {

template <typename To, typename From>
To As(From function)
{
    return reinterpret_cast<To>(function);
}

StreamHandle* S(QmStream* stream)
{
    return reinterpret_cast<StreamHandle*>(stream);
}

FileLock* L(QmFileLock* lock)
{
    return reinterpret_cast<FileLock*>(lock);
}

// The body of every slot whose service does not exist here. Plugins call
// it through the slot's own type; it reads no argument, and on this ABI
// the caller's arguments are the caller's to clean up.
uint32_t Unsupported()
{
    return ERR_UNSUPPORTEDFEAT;
}
const QmProc kUnsupported = As<QmProc>(Unsupported);

// ---------------------------------------------------------------------------
// Table 1

// Plugins call these slots through the interface's own types, so each slot
// holds a function of exactly that type (a call through a mismatched type is
// undefined even where the layouts agree).
void HostGetTime(QmTimeValue* t) { OsGetTime(reinterpret_cast<OsTimeValue*>(t)); }
void HostSubTime(QmTimeValue* a, const QmTimeValue* b)
{
    OsSubTime(reinterpret_cast<OsTimeValue*>(a), reinterpret_cast<const OsTimeValue*>(b));
}
void HostAddTime(QmTimeValue* a, const QmTimeValue* b)
{
    OsAddTime(reinterpret_cast<OsTimeValue*>(a), reinterpret_cast<const OsTimeValue*>(b));
}
int HostCmpTime(const QmTimeValue* a, const QmTimeValue* b)
{
    return OsCmpTime(reinterpret_cast<const OsTimeValue*>(a), reinterpret_cast<const OsTimeValue*>(b));
}
void* HostAddCommandHookEntry(void* reserved, void* call, void* error, void* userData)
{
    return HostAddCommandHook(reserved, call, error, userData);
}

uint32_t HostRegisterObjectType(void* listHead, const char* name, QmProc handler)
{
    uint32_t id = 0;
    if (RegisterObjectType(listHead, name, As<ObjectAttrHandler>(handler), &id, 0))
        return 0;
    return id;
}

int SetAdapterFlags(PluginInfo* info, uint32_t capability, uint32_t flags)
{
    if (capability == PLUGINCAPS_FILEADAPTER)
        info->adapterFlags[QM_ADAPTERFLAGS_FILE] = flags;
    return 0;
}

int HostGetErrorLocation(VmState*, const char** file, const char** command, int32_t* line)
{
    if (file)
        *file = errorScriptName ? errorScriptName : "";
    if (command)
        *command = errorFunctionName;
    if (line)
        *line = VmErrorLine;
    return 0;
}

QmLock* HostCreateLock()
{
    return reinterpret_cast<QmLock*>(OsCreateLock());
}
void HostDeleteLock(QmLock* lock)
{
    OsDeleteLock(reinterpret_cast<OsMutex*>(lock));
}
void HostLock(QmLock* lock)
{
    OsLock(reinterpret_cast<OsMutex*>(lock));
}
void HostUnlock(QmLock* lock)
{
    OsUnlock(reinterpret_cast<OsMutex*>(lock));
}

void* HostAddHook(uint32_t kind, void* function, void* userData, uint32_t foreign)
{
    return AddHook(kind, function, userData, foreign);
}
void HostSetRuntimeHookDisabled(void* hook, uint32_t disabled)
{
    SetHookDisabled(static_cast<HookRecord*>(hook), disabled);
}
void HostRemoveHook(void* hook)
{
    RemoveHook(static_cast<HookRecord*>(hook));
}

// The words plugins set through HostGetSetTags, by tag.
uintptr_t g_pluginWords[41];

uint32_t HostGetSetTags(QmTagItem* tags)
{
    const AppletInfo* applet = ProgramAppletInfo;
    uint32_t handled = 0;
    for (QmTagItem* tag = tags; tag && tag->tag; ++tag) {
        auto* out = reinterpret_cast<uintptr_t*>(tag->value);
        const char* text = nullptr;
        switch (tag->tag) {
        case QM_HOSTTAG_ZERO:
        case QM_HOSTTAG_VMSTATE:
            if (out)
                *out = tag->tag == QM_HOSTTAG_ZERO ? 0 : reinterpret_cast<uintptr_t>(GetEventVmState());
            ++handled;
            continue;
        case QM_HOSTTAG_WORD31:
        case QM_HOSTTAG_WORD33:
        case QM_HOSTTAG_WORD38:
        case QM_HOSTTAG_WORD39:
        case QM_HOSTTAG_WORD40:
            g_pluginWords[tag->tag] = tag->value;
            ++handled;
            continue;
        case QM_HOSTTAG_TITLE: text = applet ? applet->title : ""; break;
        case QM_HOSTTAG_VERSION: text = applet ? applet->version : ""; break;
        case QM_HOSTTAG_COPYRIGHT: text = applet ? applet->copyright : ""; break;
        case QM_HOSTTAG_AUTHOR: text = applet ? applet->author : ""; break;
        case QM_HOSTTAG_DESCRIPTION: text = applet ? applet->description : ""; break;
        case QM_HOSTTAG_IDENTIFIER: text = applet ? applet->identifier : ""; break;
        default:
            continue;
        }
        if (out)
            *out = reinterpret_cast<uintptr_t>(text);
        ++handled;
    }
    return handled;
}

void HostFreeObjectData(VmState* vm, void** list)
{
    if (list)
        FreeObjectDataList(vm, reinterpret_cast<ObjectDataEntry**>(list));
}

// Calls back for every display until the callback answers non-zero, and
// answers that. Displays here are records of the runtime's own: there is no
// window system whose list bit 0x2 would have to re-read first.
int HostForEachDisplay(int (*callback)(void* display, void* userData), void* userData, uint32_t)
{
    if (Startup.quitting || !callback)
        return 0;
    for (Display* display = DisplayList; display;) {
        auto* next = reinterpret_cast<Display*>(display->header.next);
        if (int answer = callback(display, userData))
            return answer;
        display = next;
    }
    return 0;
}

// Plugins may still pump from their own callbacks while the runtime shuts
// down; by then there is nothing left to pump for.
int HostPumpEvents(VmState* vm, uint32_t mode, uint32_t reserved, uint32_t* outCode)
{
    if (Startup.quitting) {
        if (outCode)
            *outCode = 0;
        return 0;
    }
    return PumpOsEvents(vm, mode, reserved, outCode);
}

uint32_t HostWaitEvents(VmState* vm, uint32_t mode, uint32_t reserved1, uint32_t reserved2)
{
    return Startup.quitting ? 0 : WaitForOsEvent(vm, mode, reserved1, reserved2);
}

// ---------------------------------------------------------------------------
// Table 2

uint32_t StreamModeOf(uint32_t flags)
{
    uint32_t mode;
    if (flags & QM_HOSTOPEN_SEEKEMULATION)
        mode = (flags & QM_HOSTOPEN_WRITE) ? 18 : (flags & QM_HOSTOPEN_READWRITE) ? 20 : 17;
    else
        mode = (flags & QM_HOSTOPEN_WRITE) ? 2 : (flags & QM_HOSTOPEN_READWRITE) ? 4 : 1;
    if (!(flags & QM_HOSTOPEN_NOADAPTERS))
        mode += STREAM_ADAPTERS;
    return mode;
}

QmStream* HostOpenStream(const char* name, uint32_t flags)
{
    // An old "svgimage" plugin opens the file that the script named.
    if (ImageLoaderCallerFileName)
        name = ImageLoaderCallerFileName;
    return reinterpret_cast<QmStream*>(StreamOpen(name, StreamModeOf(flags)));
}

QmStream* HostOpenStreamEx(const char* name, uint32_t flags, QmTagItem* tags)
{
    auto* loaderList = reinterpret_cast<const char*>(HostTagValue(tags, 1, 0));
    return reinterpret_cast<QmStream*>(StreamOpen(name, StreamModeOf(flags), loaderList));
}

int HostStreamClose(QmStream* s) { return StreamClose(S(s)); }
int64_t HostSeekStream(QmStream* s, int32_t position, int mode) { return StreamSeek(S(s), position, mode); }
size_t HostStreamRead(QmStream* s, void* b, size_t n) { return StreamRead(S(s), b, n); }
size_t HostStreamWrite(QmStream* s, const void* b, size_t n) { return StreamWrite(S(s), b, n); }
int HostStreamGetC(QmStream* s) { return StreamGetC(S(s)); }
int HostStreamPutC(QmStream* s, int c) { return StreamPutC(S(s), c); }
int HostStreamEof(QmStream* s) { return StreamEof(S(s)); }
int64_t HostStreamSeek(QmStream* s, int64_t o, int m) { return StreamSeek(S(s), o, m); }
uint32_t HostGetStreamFlags(QmStream* s) { return GetStreamFlags(S(s)); }
int HostStreamFlush(QmStream* s) { return StreamFlush(S(s)); }

QmFileLock* HostLockFile(const char* name, uint32_t flags)
{
    if (ImageLoaderCallerFileName)
        name = ImageLoaderCallerFileName;
    bool write = flags & QM_HOSTLOCK_WRITE;
    uint32_t mode = (flags & QM_HOSTLOCK_NOADAPTERS) ? (write ? 2 : 1) : (write ? 6 : 5);
    return reinterpret_cast<QmFileLock*>(OpenFileLock(name, mode));
}

void HostCloseFileLock(QmFileLock* lock) { CloseFileLock(L(lock)); }
int HostGetLockFullPath(QmFileLock* lock, char* b, size_t n) { return GetLockFullPath(L(lock), b, n); }
int HostDirScanBegin(QmFileLock* lock, void** word) { return DirScanBegin(L(lock), word); }
void HostNothing() {}

// The host buffers that name and comment point into without
// QM_FILEINFO_ALLOCATE; each call overwrites them.
std::string g_infoName;
std::string g_infoComment;

char* InfoText(const char* text, uint32_t flags, std::string* buffer)
{
    if (flags & QM_FILEINFO_ALLOCATE)
        return HostCopyText(text);
    *buffer = text;
    return buffer->data();
}

void HostConvertFileDate(const uint64_t* times, int slot, QmDateStamp* out)
{
    DateStamp date = {};
    OsFileTimeToDate(times, &date, slot);
    std::memcpy(out, &date, sizeof *out);
}

void FillPluginFileInfo(const FileInfoRecord& record, const char* name, uint32_t flags, QmFileInfo* info)
{
    std::memset(info, 0, sizeof *info);
    info->isDirectory = record.kind == FILEINFO_DIRECTORY ? 1 : 0;
    info->size = record.size;
    info->flags = record.flags;
    HostConvertFileDate(record.times, FILETIME_MODIFICATION, &info->modified);
    HostConvertFileDate(record.times, FILETIME_ACCESS, &info->accessed);
    HostConvertFileDate(record.times, FILETIME_CREATION, &info->created);
    info->name = InfoText(name ? name : "", flags, &g_infoName);
    info->comment = InfoText(record.auxText, flags, &g_infoComment);
}

int HostExamineLock(QmFileLock* lock, QmFileInfo* info, uint32_t flags)
{
    FileInfoRecord record;
    std::memset(&record, 0, sizeof record);
    int code = ExamineLock(L(lock), &record);
    if (code)
        return code;
    FillPluginFileInfo(record, record.fullPath ? record.fullPath : L(lock)->name, flags, info);
    return 0;
}

int HostNextDirEntry(QmFileLock* lock, void* scanWord, QmFileInfo* info, uint32_t flags)
{
    FileInfoRecord record;
    std::memset(&record, 0, sizeof record);
    const char* name = nullptr;
    int isDirectory = 0;
    if (!DirScanNext(L(lock), reinterpret_cast<uintptr_t>(scanWord), &name, &isDirectory, &record))
        return 0;
    record.kind = isDirectory ? FILEINFO_DIRECTORY : FILEINFO_FILE;
    FillPluginFileInfo(record, name, flags, info);
    return 1;
}

int HostExamineFile(const char* name, QmFileInfo* info, uint32_t flags)
{
    auto* record = static_cast<FileExamineRecord*>(OsAllocMem(sizeof(FileExamineRecord), 1));
    if (!record)
        return 0;
    int ok = ExamineFileByName(name, record, 1);
    if (ok) {
        std::memset(info, 0, sizeof *info);
        info->isDirectory = record->kind == FILEINFO_DIRECTORY ? 1 : 0;
        info->size = record->size;
        info->flags = record->flags;
        std::memcpy(&info->modified, &record->modified, sizeof info->modified);
        std::memcpy(&info->accessed, &record->accessed, sizeof info->accessed);
        std::memcpy(&info->created, &record->created, sizeof info->created);
        info->name = InfoText(record->fullPath, flags, &g_infoName);
        info->comment = InfoText(record->auxText, flags, &g_infoComment);
    }
    OsFreeMem(record);
    return ok;
}

int HostExamineStream(QmStream* stream, QmFileInfo* info, uint32_t flags)
{
    FileInfoRecord record;
    if (!ExamineStream(S(stream), &record))
        return 0;
    FillPluginFileInfo(record, record.fullPath, flags, info);
    return 1;
}

int HostGetCurrentDirectory(char* buffer, size_t size)
{
    return buffer && size && getcwd(buffer, size) ? 1 : 0;
}

int HostGetChunkRange(const char* name, char* fileName, size_t capacity, int64_t* offset, int64_t* size)
{
    ChunkNameParts parts;
    if (IsChunkName(name) && ParseChunkName(name, &parts) && !parts.isString) {
        if (!OsCopyPath(fileName, capacity, parts.file.data(), parts.file.size()))
            return 0;
        *offset = static_cast<int64_t>(parts.offset);
        *size = static_cast<int64_t>(parts.size);
        return 1;
    }
    *offset = -1;
    *size = -1;
    return OsCopyPath(fileName, capacity, name, std::strlen(name)) ? 1 : 0;
}

int HostDescribeChunk(const char* name, QmChunkDescription* record)
{
    ChunkNameParts parts;
    if (!IsChunkName(name) || !ParseChunkName(name, &parts) || parts.isString)
        return 0;
    if (!OsCopyPath(record->fileName, sizeof record->fileName, parts.file.data(), parts.file.size()))
        return 0;
    record->offset = parts.offset;
    record->size = parts.size;
    record->linkedFile = 0;
    return 1;
}

uint32_t HostWriteFile(const char* name, const void* data, uint32_t, size_t size, uint32_t flags)
{
    if (flags & QM_HOSTWRITE_RAW) {
        WholeFileWriter out;
        if (uint32_t code = BeginWholeFile(name, 0, &out))
            return code;
        if (StreamWrite(out.stream, data, size) != size)
            return ERR_WRITE;
        return CommitWholeFile(&out);
    }
    MemoryName memoryName;
    if (!MakeMemoryName(data, size, &memoryName))
        return ERR_MEM;
    return CopyStreamToFile(memoryName.c_str(), nullptr, name, nullptr);
}

// ---------------------------------------------------------------------------
// Table 3

void* HostAttachDisplayCallback(void* display, QmDisplayCallback callback, void* userData)
{
    DisplayCallback* record = nullptr;
    if (!display || AddDisplayCallback(static_cast<Display*>(display), callback, userData, &record))
        return nullptr;
    return record;
}

void* HostFindDisplay(uint32_t id)
{
    Display* display = nullptr;
    return FindDisplay(MakeObjectId(id), &display) ? nullptr : display;
}

// ---------------------------------------------------------------------------
// Table 8

uint32_t HostGetObjectIdArg(VmState* vm, int index, QmObjectId* out)
{
    ObjectId id = GetObjectIdArg(vm, index);
    out->id = id.id;
    out->handle = id.handle;
    return id.id;
}

uint32_t HostGetOptionalInt(VmState* vm, int index, uint32_t out[2])
{
    OptionalInt value = GetOptionalInt(vm, index);
    out[0] = static_cast<uint32_t>(value.value);
    out[1] = value.absent ? 1 : 0;
    return out[0];
}

// A file name as the file commands take it: linked files by the name they
// were linked under.
const char* HostGetFileNameArg(VmState* vm, int index)
{
    return GetFileNameArg(vm, index);
}

// The string builder: the plugin holds the VM's own record.
static_assert(sizeof(QmVmBuffer) == sizeof(VmStringBuilder) &&
                  offsetof(QmVmBuffer, state) == offsetof(VmStringBuilder, state) &&
                  offsetof(QmVmBuffer, buffer) == offsetof(VmStringBuilder, buffer),
              "the plugins' string builder is the VM's");

VmStringBuilder* B(QmVmBuffer* buffer)
{
    return reinterpret_cast<VmStringBuilder*>(buffer);
}
void HostBufferInit(VmState* vm, QmVmBuffer* b) { VmBufferInit(vm, B(b)); }
char* HostBufferPrepare(QmVmBuffer* b) { return VmBufferPrepare(B(b)); }
void HostBufferAddBytes(QmVmBuffer* b, const char* bytes, size_t n) { VmBufferAddBytes(B(b), bytes, n); }
void HostBufferAddString(QmVmBuffer* b, const char* text) { VmBufferAddString(B(b), text); }
void HostBufferAddValue(QmVmBuffer* b) { VmBufferAddValue(B(b)); }
void HostBufferPushResult(QmVmBuffer* b) { VmBufferPushResult(B(b)); }

// ---------------------------------------------------------------------------
// Table 12

QmPluginArrayEntry* GetPluginArray()
{
    size_t count = 0;
    for (PluginRecord* record = PluginList; record; record = record->next)
        if (record->node)
            ++count;
    if (!count)
        return nullptr;
    auto* array = static_cast<QmPluginArrayEntry*>(OsAllocMem(count * sizeof(QmPluginArrayEntry), 1));
    if (!array)
        return nullptr;
    size_t i = 0;
    for (PluginRecord* record = PluginList; record; record = record->next) {
        if (!record->node)
            continue;
        array[i].info = record->node->info;
        array[i].next = i + 1 < count ? &array[i + 1] : nullptr;
        ++i;
    }
    return array;
}

uint32_t SetPluginDisabled(PluginInfo* info, uint32_t value)
{
    info->disabled = value;
    return value;
}

void SetPluginUserData(PluginInfo* info, uintptr_t value)
{
    info->userData = value;
}

uintptr_t GetPluginUserData(PluginInfo* info)
{
    return info->userData;
}

// ---------------------------------------------------------------------------
// Table 13

char* HostEncodeBase64(const void* data, size_t length)
{
    auto* text = static_cast<char*>(OsAllocMem(Base64EncodedLength(length) + 1, 0));
    if (!text)
        return nullptr;
    EncodeBase64Bytes(data, length, text);
    text[Base64EncodedLength(length)] = '\0';
    return text;
}

void* HostDecodeBase64(const char* text, size_t length, size_t* outLength)
{
    std::string bytes = DecodeBase64String(text, length);
    void* block = OsAllocMem(bytes.size(), 0);
    if (!block)
        return nullptr;
    std::memcpy(block, bytes.data(), bytes.size());
    if (outLength)
        *outLength = bytes.size();
    return block;
}

uint32_t HostCrc32(const void* data, long length)
{
    return length < 1 ? 0xFFFFFFFFu : CalcCrc32(data, length);
}

// Empty input has a digest like any other; a negative length is no input
// at all and leaves the empty text.
void HostMd5Hex(const void* data, long length, char out[33])
{
    if (!out)
        return;
    if (length < 0 || (!data && length > 0))
        out[0] = '\0';
    else
        Md5Hex(length ? data : "", static_cast<size_t>(length), out);
}

// ---------------------------------------------------------------------------
// Table 7: FT_MulFix may be an inline of the headers.

FT_Long HostMulFix(FT_Long a, FT_Long b)
{
    return FT_MulFix(a, b);
}

// ---------------------------------------------------------------------------
// The tables

const QmRuntimeTable kRuntime = {
    malloc, calloc, realloc, free, strdup, fopen, fclose, fseek, ftell, fread, fwrite, fgetc, fputc, ferror,
    feof, vfprintf, vsnprintf, vprintf, qsort, HostVsscanf, strtod, strtol, strtoul, StrCaseCmp, StrNCaseCmp,
    HostToLower, HostToUpper, PluginStrToLower, PluginStrToUpper, HostGetTimeOfDay, HostTime, RoundToInt,
    HostLocalTime, HostGmTime, HostAscTime, HostCTime, HostMkTime, HostStrFTime, HostClock, HostDiffTime,
    clearerr, fileno, fflush, HostStat, HostFStat, nullptr, ungetc, rename, remove, HostGetErrno, HostSetErrno,
};

const QmSystemTable kSystem = {
    HostGetSetTags,
    AddUserErrorCode,
    SetErrorText,
    SetErrorArgNumber,
    GetErrorText,
    HostGetTime,
    HostSubTime,
    HostAddTime,
    HostCmpTime,
    OsDelay,
    OsFormatDateTime,
    HostAllocMem,
    HostFreeMem,
    HostAddHook,
    As<QmProc>(HostPostEventCode),
    As<QmProc>(OsEventCallback),
    RepaintAllDisplays,
    HostRegisterObjectType,
    HostFreeObjectData,
    AddSaverFormat,
    HostForEachDisplay,
    HostAddCommandHookEntry,
    HostRemoveCommandHook,
    HostHookCommand,
    HostSetHookErrorFunc,
    GetWordAt8,
    HostSetHookDisabled,
    As<QmProc>(HandleOsEvent),
    HostPumpEvents,
    HostWaitEvents,
    HostCreateLock,
    HostDeleteLock,
    HostLock,
    HostUnlock,
    HostSetRuntimeHookDisabled,
    HostRemoveHook,
    As<QmProc>(HostPostEventCodeV),
    OsWriteConsole,
    As<QmProc>(DispatchInterval),
    SetTimerAdapter,
    DebugPrintf,
    ConvertEncoding,
    HostFreeMem,
    AddPluginToCapabilityList,
    RemovePluginFromCapabilityList,
    SetAdapterFlags,
    As<QmProc>(DispatchPluginEvent),
    HostGetErrorLocation,
    As<QmProc>(HostQueuedEventCount),
};

const QmStreamTable kStreams = {
    HostOpenStream,
    HostStreamClose,
    HostSeekStream,
    HostStreamRead,
    HostStreamWrite,
    HostStreamGetC,
    HostStreamPutC,
    HostStreamEof,
    OsDeleteFile,
    HostLockFile,
    HostCloseFileLock,
    HostGetLockFullPath,
    HostExamineLock,
    HostDirScanBegin,
    HostNothing,
    HostNextDirEntry,
    OsMakeDir,
    OsRename,
    HostGetCurrentDirectory,
    OsGetTempFileName,
    AddPart,
    PathFilePart,
    ChunkNameToFileName,
    HostGetChunkRange,
    HostExamineFile,
    HostStreamSeek,
    HostGetStreamFlags,
    HostExamineStream,
    HostWriteFile,
    HostDescribeChunk,
    HostStreamFlush,
    MakeTempFileNameWithExt,
    HostOpenStreamEx,
};

QmGraphicsTable MakeGraphicsTable()
{
    QmGraphicsTable table;
    for (QmProc& slot : table.slot)
        slot = kUnsupported;
    table.slot[QM_GFX_OPENIMAGEFILE] = As<QmProc>(HostOpenImageFile);
    table.slot[QM_GFX_LOADIMAGEARGB] = As<QmProc>(HostLoadImageArgb);
    table.slot[QM_GFX_GETIMAGEPIXELS] = As<QmProc>(HostGetImagePixels);
    table.slot[QM_GFX_FREEIMAGEDATA] = As<QmProc>(HostFreeImageData);
    table.slot[QM_GFX_LOCKBRUSH] = As<QmProc>(HostLockBrush);
    table.slot[QM_GFX_UNLOCKBRUSH] = As<QmProc>(HostUnLockBitMap);
    table.slot[QM_GFX_GETBRUSHARGB] = As<QmProc>(HostGetBrushArgb);
    table.slot[QM_GFX_HOSTFREEMEM] = As<QmProc>(HostFreeMem);
    table.slot[QM_GFX_ATTACHDISPLAYCALLBACK] = As<QmProc>(HostAttachDisplayCallback);
    table.slot[QM_GFX_REMOVEDISPLAYCALLBACK] = As<QmProc>(RemoveDisplayCallback);
    table.slot[QM_GFX_SIGNALDISPLAYCALLBACK] = As<QmProc>(SignalDisplayCallback);
    table.slot[QM_GFX_CREATEBRUSH] = As<QmProc>(HostCreateBrush);
    table.slot[QM_GFX_SETDISPLAYADAPTER] = As<QmProc>(SetDisplayAdapter);
    table.slot[QM_GFX_LOCKBITMAP] = As<QmProc>(HostLockBitMap);
    table.slot[QM_GFX_UNLOCKBITMAP] = As<QmProc>(HostUnLockBitMap);
    table.slot[QM_GFX_FINDDISPLAY] = As<QmProc>(HostFindDisplay);
    table.slot[QM_GFX_BLTBITMAP] = As<QmProc>(HostBltBitMap);
    table.slot[QM_GFX_RECTFILL] = As<QmProc>(HostRectFill);
    table.slot[QM_GFX_WRITEPIXEL] = As<QmProc>(HostWritePixel);
    table.slot[QM_GFX_DRAWLINE] = As<QmProc>(HostDrawLine);
    table.slot[QM_GFX_GETPLANEDIM] = As<QmProc>(GetPlaneDim);
    table.slot[QM_GFX_ARGBTOPIXEL] = As<QmProc>(HostArgbToPixel);
    table.slot[QM_GFX_PIXELTOARGB] = As<QmProc>(HostPixelToArgb);
    table.slot[QM_GFX_FREEBRUSH] = As<QmProc>(HostFreeBrush);
    table.slot[QM_GFX_DISPLAYSIZE] = As<QmProc>(HostDisplaySize);
    table.slot[QM_GFX_GETICONLIST] = As<QmProc>(HostGetIconList);
    table.slot[QM_GFX_FREEICONLIST] = As<QmProc>(FreeIconList);
    table.slot[QM_GFX_BLTBITMAPMASKED] = As<QmProc>(HostBltBitMapMasked);
    table.slot[QM_GFX_REFRESHDISPLAY] = As<QmProc>(HostRefreshDisplay);
    table.slot[QM_GFX_POSTDISPLAYEVENT] = As<QmProc>(PostDisplayEventByWindow);
    return table;
}
const QmGraphicsTable kGraphics = MakeGraphicsTable();
const QmAudioTable kAudio = {{As<QmProc>(HostGetSampleData), As<QmProc>(HostSetSampleData), As<QmProc>(SetSoundAdapter)}};
const QmRequesterTable kRequesters = {{As<QmProc>(HostSystemRequest), As<QmProc>(HostFileRequest),
                                       As<QmProc>(HostPathRequest), As<QmProc>(SetRequesterAdapter)}};
const QmFontTable kFonts = {EnumerateFonts};

const QmFreeTypeTable kFreeType = {{
    As<QmProc>(FT_Init_FreeType), As<QmProc>(FT_Done_FreeType), As<QmProc>(FT_New_Face),
    As<QmProc>(FT_New_Memory_Face), As<QmProc>(FT_Load_Glyph), As<QmProc>(FT_Render_Glyph),
    As<QmProc>(FT_Get_Glyph), As<QmProc>(FT_Done_Glyph), As<QmProc>(FT_Outline_Transform),
    As<QmProc>(FT_Outline_Translate), As<QmProc>(FT_Outline_Get_Bitmap), As<QmProc>(FT_Outline_Get_CBox),
    As<QmProc>(FT_Outline_Decompose), As<QmProc>(FT_Done_Face), As<QmProc>(FT_Get_Char_Index),
    As<QmProc>(FT_Get_First_Char), As<QmProc>(FT_Get_Next_Char), As<QmProc>(FT_Set_Transform),
    As<QmProc>(FT_Set_Charmap), As<QmProc>(FT_Set_Pixel_Sizes), As<QmProc>(FT_Set_Char_Size),
    As<QmProc>(HostMulFix), As<QmProc>(FT_Vector_Transform), As<QmProc>(FT_Get_Kerning),
    As<QmProc>(FT_Get_Sfnt_Table), As<QmProc>(FT_Load_Sfnt_Table), As<QmProc>(FT_Get_X11_Font_Format),
    As<QmProc>(FT_Get_Name_Index), As<QmProc>(FT_Get_Glyph_Name), As<QmProc>(FT_Select_Charmap),
    As<QmProc>(FT_Get_Advance), As<QmProc>(FT_Library_Version), As<QmProc>(FT_Outline_Embolden),
    As<QmProc>(FT_Stroker_New), As<QmProc>(FT_Stroker_Set), As<QmProc>(FT_Stroker_Done),
    As<QmProc>(FT_Glyph_Stroke), As<QmProc>(FT_Glyph_To_Bitmap),
}};

const QmVmTable kVm = {
    VmGetTop, VmSetTop, VmPushValue, VmRemove, VmInsert, VmReplace, VmIsNativeFunction, VmIsNumber, VmIsString,
    VmIsUserdata, VmType, VmCompareRawEqual, VmCompareEqual, VmCompareLess, VmGetNumber, VmGetString,
    VmGetStringLength, VmGetNativeFunction, VmGetUserdata, VmGetPointer, VmPushNil, VmPushNumber, VmPushLString,
    VmPushString, VmPushLightUserdata, VmPushNativeClosure, VmGetTable, VmRawGet, VmRawGetI, VmNewTable,
    VmGetFunctionEnv, VmSetTable, VmRawSet, VmRawSetI, VmSetFunctionEnv, VmPCall, VmNext, VmConcat,
    VmPushUpvalues, VmGetUpvalue, VmSetUpvalue, VmNewUserdata, VmSetMetatable, VmGetMetatable, VmRaiseError,
    VmCheckString, VmOptString, VmCheckNumber, VmOptNumber, VmCheckInteger, VmOptInteger, VmCheckTable,
    VmCheckFunction,
    VmCheckType, VmRefValue, VmUnrefValue, HostGetObjectIdArg,
    VmNewNamedMetatable, VmGetNamedMetatable, VmCheckNamedUserdata,
    HostBufferInit, HostBufferPrepare, HostBufferAddBytes, HostBufferAddString, HostBufferAddValue,
    HostBufferPushResult,
    VmFindString,
    VmCheckStack, HostGetFileNameArg, HostGetOptionalInt, VmPushBoolean, VmGetBoolean, VmNewTableSized, VmTypeName, VmCall,
    VmGetGCThreshold, VmGetGCCount, VmSetGCThreshold,
};

const QmInbuiltFontTable kInbuiltFonts = {
    {kVeraSans, kVeraMono, kVeraSerif},
    {sizeof kVeraSans, sizeof kVeraMono, sizeof kVeraSerif},
};

const QmZlibTable kZlib = {{
    As<QmProc>(inflateInit_), As<QmProc>(inflate), As<QmProc>(inflateEnd), As<QmProc>(deflateInit_),
    As<QmProc>(deflate), As<QmProc>(deflateEnd), As<QmProc>(deflateReset), As<QmProc>(deflateParams),
    As<QmProc>(inflateReset), As<QmProc>(inflateSync), As<QmProc>(inflateInit2_), As<QmProc>(deflateInit2_),
    As<QmProc>(crc32),
}};

const QmJpegTable kJpeg = {{
    As<QmProc>(jpeg_CreateDecompress), As<QmProc>(jpeg_finish_decompress), As<QmProc>(jpeg_destroy_decompress),
    As<QmProc>(jpeg_std_error), As<QmProc>(jpeg_read_header), As<QmProc>(jpeg_mem_src),
    As<QmProc>(jpeg_start_decompress), As<QmProc>(jpeg_resync_to_restart), As<QmProc>(jpeg_CreateCompress),
    As<QmProc>(jpeg_finish_compress), As<QmProc>(jpeg_destroy_compress), As<QmProc>(jpeg_start_compress),
    As<QmProc>(jpeg_simple_progression), As<QmProc>(jpeg_mem_dest), As<QmProc>(jpeg_set_quality),
    As<QmProc>(jpeg_set_defaults), As<QmProc>(jpeg_default_colorspace), As<QmProc>(jpeg_destroy),
    As<QmProc>(jpeg_abort), As<QmProc>(jpeg_suppress_tables), As<QmProc>(jpeg_write_raw_data),
    As<QmProc>(jpeg_write_tables), As<QmProc>(jpeg_read_raw_data), As<QmProc>(jpeg_save_markers),
    As<QmProc>(jpeg_calc_output_dimensions),
}};

const QmPluginListTable kPluginList = {
    GetPluginArray, HostFreeMem, SetPluginDisabled, SetPluginUserData, GetPluginUserData,
};

const QmEncoderTable kEncoders = {HostEncodeBase64, HostDecodeBase64, HostCrc32, HostMd5Hex};

const PluginHostApi kHostApi = {
    QM_HOST_VERSION, QM_HOST_REVISION, &kRuntime, &kSystem, &kStreams, &kGraphics, &kAudio, &kRequesters,
    &kFonts, &kFreeType, &kVm, &kInbuiltFonts, &kZlib, &kJpeg, &kPluginList, &kEncoders,
};

} // namespace

const PluginHostApi* GetPluginHostApi()
{
    return &kHostApi;
}
