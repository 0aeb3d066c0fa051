// Adapter-served streams and locks. The stream layer offers a name to the
// file-adapter chain (and a lock to the directory chain first) through the
// hooks installed here; a plugin that takes it serves every later call.
#include "core/plugins/adapter_streams.h"

#include <cstring>
#include <string>

#include "core/io/stream.h"
#include "core/io/virtual_files.h"
#include "core/io/virtual_names.h"
#include "core/plugins/capability_lists.h"
#include "core/plugins/loader_lists.h"
#include "core/plugins/plugin_loader.h"
#include "platform/posix/os_files.h"
#include "platform/posix/os_memory.h"

static_assert(sizeof(QmDateStamp) == sizeof(DateStamp), "date stamps share one layout");

namespace {

PluginListNode* NodeOf(void* adapterNode)
{
    return static_cast<PluginListNode*>(adapterNode);
}

PluginInfo* AdapterOf(StreamHandle* handle)
{
    return NodeOf(handle->adapterNode)->info;
}

size_t AdapterRead(StreamHandle* handle, void* buffer, size_t count)
{
    int64_t n = AdapterOf(handle)->FRead(handle->fileHandle, buffer, static_cast<int64_t>(count));
    return n > 0 ? static_cast<size_t>(n) : 0;
}

size_t AdapterWrite(StreamHandle* handle, const void* buffer, size_t count)
{
    int64_t n = AdapterOf(handle)->FWrite(handle->fileHandle, buffer, static_cast<int64_t>(count));
    return n > 0 ? static_cast<size_t>(n) : 0;
}

int AdapterGetC(StreamHandle* handle)
{
    return AdapterOf(handle)->FGetC(handle->fileHandle);
}

int AdapterPutC(StreamHandle* handle, int byte)
{
    return AdapterOf(handle)->FPutC(handle->fileHandle, byte);
}

int AdapterFlush(StreamHandle* handle)
{
    return AdapterOf(handle)->FFlush(handle->fileHandle);
}

int AdapterEof(StreamHandle* handle)
{
    return AdapterOf(handle)->FEof(handle->fileHandle);
}

int64_t AdapterSeek(StreamHandle* handle, int64_t offset, int mode)
{
    return AdapterOf(handle)->FSeek(handle->fileHandle, offset, mode);
}

int AdapterExamine(StreamHandle* handle, FileInfoRecord* info)
{
    AdapterStatRecord record;
    PrepareAdapterStatRecord(&record);
    int answer = AdapterOf(handle)->FStat(handle->fileHandle, 0, &record, nullptr);
    if (answer)
        ConvertAdapterStatRecord(&record, info);
    return answer;
}

uint64_t AdapterSize(StreamHandle* handle)
{
    FileInfoRecord info;
    std::memset(&info, 0, sizeof info);
    return AdapterExamine(handle, &info) ? info.size : 0;
}

int AdapterClose(StreamHandle* handle)
{
    int answer = AdapterOf(handle)->FClose(handle->fileHandle);
    handle->fileHandle = nullptr;
    return answer;
}

const StreamOps kAdapterOps = {
    AdapterRead, AdapterWrite, AdapterGetC, AdapterPutC, AdapterFlush,
    AdapterEof, AdapterSeek, AdapterSize, AdapterExamine, AdapterClose,
};

uint32_t AdapterModeCode(uint32_t mode)
{
    if (mode & STREAM_WRITE)
        return QM_FOPEN_WRITE;
    if (mode & STREAM_READWRITE)
        return QM_FOPEN_READWRITE;
    return QM_FOPEN_READ;
}

// A memory block's size is also its region record's, which the tags take.
bool OpenAdapterStream(StreamHandle* handle, const char* name, uint32_t mode, const char* loaderList,
                       const ChunkNameParts* chunk, const uint8_t* memoryData, uint64_t)
{
    uint32_t code = AdapterModeCode(mode);
    BuildLoaderChain(loaderList, PLUGINCAPS_FILEADAPTER);

    // What an adapter that serves virtual names is told of them.
    bool isVirtual = chunk || memoryData || handle->region;
    std::string innerName;
    std::string container;
    QmTagItem tags[5] = {};
    int tagCount = 1;
    tags[0] = QmTagItem{QM_FOPENTAG_STREAMFLAGS, reinterpret_cast<uintptr_t>(&handle->flags)};
    if (isVirtual) {
        ChunkNameParts parts;
        if (chunk) {
            innerName.assign(chunk->displayName);
            container.assign(chunk->file);
            tags[tagCount++] = QmTagItem{QM_FOPENTAG_CONTAINER, reinterpret_cast<uintptr_t>(container.c_str())};
            tags[tagCount++] = QmTagItem{QM_FOPENTAG_OFFSET, static_cast<uintptr_t>(chunk->offset)};
            tags[tagCount++] = QmTagItem{QM_FOPENTAG_SIZE, static_cast<uintptr_t>(chunk->size)};
        } else {
            if (memoryData)
                innerName = "Unnamed";
            else if (ParseChunkName(name, &parts))
                innerName.assign(parts.displayName);
            tags[tagCount++] = QmTagItem{QM_FOPENTAG_DATA, reinterpret_cast<uintptr_t>(handle->region->data)};
            tags[tagCount++] = QmTagItem{QM_FOPENTAG_SIZE, static_cast<uintptr_t>(handle->region->size)};
        }
    }

    for (PluginListNode* node = GetPluginListForCapability(PLUGINCAPS_FILEADAPTER); node; node = node->next) {
        PluginInfo* info = node->info;
        if (!PluginPassesLoaderList(info, loaderList) || IsForeignCallForm(info))
            continue;
        bool servesVirtual = (info->adapterFlags[QM_ADAPTERFLAGS_FILE] & QM_FILEADAPTER_VIRTUAL) != 0;
        if (isVirtual && !servesVirtual)
            continue;
        handle->flags = 0;
        QmTagItem plainTags[2] = {tags[0], QmTagItem{0, 0}};
        void* answer = isVirtual ? info->FOpen(innerName.c_str(), static_cast<int>(code), tags)
                                 : info->FOpen(name, static_cast<int>(code), plainTags);
        if (answer) {
            handle->adapterNode = node;
            handle->fileHandle = answer;
            handle->mode = code | (mode & STREAM_SEEKEMULATION);
            handle->ops = &kAdapterOps;
            return true;
        }
    }
    handle->flags = 0;
    return false;
}

const char* StreamAdapterName(StreamHandle* handle)
{
    return AdapterOf(handle)->modulename;
}

bool OpenAdapterLock(FileLock* lock, const char* name, const char* loaderList)
{
    BuildLoaderChain(loaderList, PLUGINCAPS_DIRADAPTER);
    for (PluginListNode* node = GetPluginListForCapability(PLUGINCAPS_DIRADAPTER); node; node = node->next) {
        PluginInfo* info = node->info;
        if (!PluginPassesLoaderList(info, loaderList) || IsForeignCallForm(info))
            continue;
        void* answer = info->OpenDir(name, 0, nullptr);
        if (answer) {
            lock->dirAdapterNode = node;
            lock->handle = answer;
            return true;
        }
    }

    BuildLoaderChain(loaderList, PLUGINCAPS_FILEADAPTER);
    auto* record = static_cast<AdapterStatRecord*>(OsAllocMem(sizeof(AdapterStatRecord), 1));
    if (!record)
        return false;
    for (PluginListNode* node = GetPluginListForCapability(PLUGINCAPS_FILEADAPTER); node; node = node->next) {
        PluginInfo* info = node->info;
        if (!PluginPassesLoaderList(info, loaderList) || IsForeignCallForm(info))
            continue;
        PrepareAdapterStatRecord(record);
        if (info->Stat(name, 0, record, nullptr)) {
            lock->fileAdapterNode = node;
            lock->adapterData = record;
            return true;
        }
    }
    OsFreeMem(record);
    return false;
}

void CloseAdapterLock(FileLock* lock)
{
    if (lock->dirAdapterNode && lock->handle)
        NodeOf(lock->dirAdapterNode)->info->CloseDir(lock->handle);
    lock->handle = nullptr;
    OsFreeMem(lock->adapterData);
    lock->adapterData = nullptr;
}

int ExamineAdapterLock(FileLock* lock, FileInfoRecord* info)
{
    if (lock->fileAdapterNode) {
        std::memset(info, 0, sizeof *info);
        ConvertAdapterStatRecord(static_cast<AdapterStatRecord*>(lock->adapterData), info);
    } else {
        FillDefaultFileInfo(info, FILEINFO_DIRECTORY, 0);
    }
    return 0;
}

int NextAdapterEntry(FileLock* lock, const char** outName, int* outIsDirectory, FileInfoRecord* info)
{
    if (!lock->dirAdapterNode)
        return 0;
    AdapterStatRecord record;
    PrepareAdapterStatRecord(&record);
    if (!NodeOf(lock->dirAdapterNode)->info->NextDirEntry(lock->handle, &record, nullptr))
        return 0;
    if (info) {
        std::memset(info, 0, sizeof *info);
        ConvertAdapterStatRecord(&record, info);
    }
    const char* entry = record.path ? record.path : "";
    size_t length = std::strlen(entry);
    auto* copy = static_cast<char*>(OsAllocMem(length + 1, 0));
    if (!copy)
        return 0;
    std::memcpy(copy, entry, length + 1);
    OsFreeMem(lock->entryName);
    lock->entryName = copy;
    if (outName)
        *outName = lock->entryName;
    if (outIsDirectory)
        *outIsDirectory = record.type == 1;
    return 1;
}

const char* LockAdapterName(FileLock* lock)
{
    if (lock->dirAdapterNode)
        return NodeOf(lock->dirAdapterNode)->info->modulename;
    if (lock->fileAdapterNode)
        return NodeOf(lock->fileAdapterNode)->info->modulename;
    return nullptr;
}

bool StatThroughAdapters(const char* name, FileInfoRecord* info)
{
    for (PluginListNode* node = GetPluginListForCapability(PLUGINCAPS_FILEADAPTER); node; node = node->next) {
        PluginInfo* plugin = node->info;
        if (!PluginPassesLoaderList(plugin, nullptr) || IsForeignCallForm(plugin))
            continue;
        AdapterStatRecord record;
        PrepareAdapterStatRecord(&record);
        if (plugin->Stat(name, 0, &record, nullptr)) {
            std::memset(info, 0, sizeof *info);
            ConvertAdapterStatRecord(&record, info);
            return true;
        }
    }
    return false;
}

const StreamAdapterHooks kHooks = {
    OpenAdapterStream, StreamAdapterName, OpenAdapterLock, CloseAdapterLock,
    ExamineAdapterLock, NextAdapterEntry, LockAdapterName, StatThroughAdapters,
};

} // namespace

void InstallPluginStreamAdapters()
{
    SetStreamAdapterHooks(&kHooks);
}

void RemovePluginStreamAdapters()
{
    if (CurrentStreamAdapterHooks() == &kHooks)
        SetStreamAdapterHooks(nullptr);
}

void PrepareAdapterStatRecord(AdapterStatRecord* record)
{
    static const QmDateStamp start = [] {
        uint64_t times[3] = {RuntimeStartFileTime(), 0, 0};
        DateStamp date = {};
        OsFileTimeToDate(times, &date, 0);
        QmDateStamp stamp;
        std::memcpy(&stamp, &date, sizeof stamp);
        return stamp;
    }();
    std::memset(record, 0, sizeof *record);
    record->modified = record->accessed = record->created = start;
}

void ConvertAdapterStatRecord(const AdapterStatRecord* record, FileInfoRecord* info)
{
    info->kind = record->type == 1 ? FILEINFO_DIRECTORY : FILEINFO_FILE;
    info->size = record->size;
    info->flags = record->flags;
    info->extra[0] = record->extra[0];
    info->extra[1] = record->extra[1];
    info->auxText[0] = '\0';
    if (record->auxText) {
        size_t length = strnlen(record->auxText, sizeof info->auxText - 1);
        std::memcpy(info->auxText, record->auxText, length);
        info->auxText[length] = '\0';
    }
    info->fullPath = record->path;
    const QmDateStamp* stamps[3] = {&record->created, &record->accessed, &record->modified};
    static_assert(FILETIME_CREATION == 0 && FILETIME_ACCESS == 1 && FILETIME_MODIFICATION == 2, "slot order");
    for (int slot = 0; slot < 3; ++slot) {
        DateStamp date;
        std::memcpy(&date, stamps[slot], sizeof date);
        OsDateToFileTime(&date, info->times, slot);
    }
}
