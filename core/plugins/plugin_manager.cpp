// The plugin manager: plugin records, the folder scan, loading on demand,
// activation and requirement.
#include "core/plugins/plugin_manager.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/messages.h"
#include "core/io/stream.h"
#include "core/io/utilities.h"
#include "core/plugins/adapter_streams.h"
#include "core/plugins/capability_lists.h"
#include "core/plugins/command_hooks.h"
#include "core/plugins/host_adapters.h"
#include "core/plugins/host_runtime.h"
#include "core/services/command_services.h"
#include "core/services/path_helpers.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"
#include "display/adapters.h"
#include "platform/posix/os_memory.h"

// A plugin's tables go to the VM glue as they are.
static_assert(sizeof(QmCommandEntry) == sizeof(CommandTableEntry) &&
                  offsetof(QmCommandEntry, function) == offsetof(CommandTableEntry, function),
              "command tables share one layout");
static_assert(sizeof(QmConstantEntry) == sizeof(ConstantTableEntry) &&
                  offsetof(QmConstantEntry, stringValue) == offsetof(ConstantTableEntry, text) &&
                  offsetof(QmConstantEntry, numberValue) == offsetof(ConstantTableEntry, number),
              "constant tables share one layout");

PluginRecord* PluginList = nullptr;
PluginInfo* DisplayAdapterPlugin = nullptr;

namespace {

constexpr char kExtension[] = ".qmp";
constexpr size_t kExtensionLength = 4;

bool HasPluginExtension(const char* name)
{
    size_t length = std::strlen(name);
    return length >= kExtensionLength && PluginNamesEqual(name + length - kExtensionLength, kExtension);
}

PluginRecord* FindRecordByName(const char* name)
{
    for (PluginRecord* record = PluginList; record; record = record->next)
        if (PluginNamesEqual(record->name, name))
            return record;
    return nullptr;
}

// A new zero-filled record at the tail; null when out of memory.
PluginRecord* AppendRecord(const char* name, const char* path)
{
    auto* record = static_cast<PluginRecord*>(OsAllocMem(sizeof(PluginRecord), 1));
    if (!record)
        return nullptr;
    record->name = HostCopyText(name);
    record->path = HostCopyText(path);
    if (!record->name || !record->path) {
        OsFreeMem(record->name);
        OsFreeMem(record->path);
        OsFreeMem(record);
        return nullptr;
    }
    PluginRecord** link = &PluginList;
    while (*link)
        link = &(*link)->next;
    *link = record;
    return record;
}

void FreeRecord(PluginRecord* record)
{
    OsFreeMem(record->name);
    OsFreeMem(record->path);
    OsFreeMem(record);
}

// A file met by the scan that is not loaded now.
void RecordPluginFile(const char* name, const char* path)
{
    if (!FindRecordByName(name))
        AppendRecord(name, path);  // out of memory only forgets the file
}

bool SkipListMatches(const char* skipList, const char* fileName)
{
    for (const char* entry = skipList; *entry; entry += std::strlen(entry) + 1) {
        if (entry[0] == '*')
            return true;
        std::string wanted = entry;
        if (!HasPluginExtension(entry))
            wanted += kExtension;
        if (PluginNamesEqual(wanted.c_str(), fileName))
            return true;
    }
    return false;
}

void ReportLoadFailure(uint32_t code)
{
    PrintFailed();
    if (CoreTags.quietFlag)
        return;
    char message[ERROR_MESSAGE_SIZE];
    GetErrorText(code, message, sizeof message);
    char line[ERROR_MESSAGE_SIZE + 64];
    FormatMessageText(GetString(MSG_PLUGIN_REASON), message, 0, line, sizeof line);
    DebugPrintf("%s\n", line);
}

bool IsLoaded(const PluginRecord* record)
{
    return record->node && record->node->info;
}

PluginInfo* InfoOf(const PluginRecord* record)
{
    return record->node->info;
}

// Calls fn(index) for each command library of a library plugin.
template <typename Fn>
void ForEachLibrary(PluginInfo* info, Fn&& fn)
{
    if (!(info->capabilities & PLUGINCAPS_LIBRARY) || IsForeignCallForm(info))
        return;
    int count = info->GetLibraryCount ? info->GetLibraryCount() : 1;
    for (int index = 0; index < count; ++index) {
        if (info->SetCurrentLibrary)
            info->SetCurrentLibrary(index);
        fn(info->GetBaseTable(), info->GetCommands(), info->GetConstants());
    }
}

void FreeSaverFormats(PluginInfo* info)
{
    for (QmSaverFormatNode* node = info->saverFormats; node;) {
        QmSaverFormatNode* next = node->next;
        OsFreeMem(node);
        node = next;
    }
    info->saverFormats = nullptr;
    OsFreeMem(info->imageSaverFormats);
    OsFreeMem(info->animSaverFormats);
    OsFreeMem(info->sampleSaverFormats);
    info->imageSaverFormats = info->animSaverFormats = info->sampleSaverFormats = nullptr;
}

// InitLibrary and RequirePlugin answer 0 or an error code. Any other answer
// would reach the script as a count of results or as one of the
// interpreter's request words: it is the plugin failing to load, named by
// its file and the entry point that answered.
uint32_t PluginAnswerCode(const PluginRecord* record, const char* entryPoint, int answer)
{
    if (answer == 0 || answer >= static_cast<int>(ERR_FIRST_BUILTIN))
        return static_cast<uint32_t>(answer);
    SetErrorText(PathFilePart(record->path));
    char detail[160];
    std::snprintf(detail, sizeof detail, "Its %s answered %d: a plugin answers 0 or an error code (1000 and up)",
                  entryPoint, answer);
    SetErrorDetail(ERR_LOADPLUGIN, detail);
    return ERR_LOADPLUGIN;
}

} // namespace

uint32_t ScanPluginDirectory(const char* directory, const char* skipList, uint32_t* counter,
                             uint32_t (*progressStep)())
{
    FileLock* lock = OpenFileLock(directory, 1);
    if (!lock)
        return 0;
    FileInfoRecord info;
    void* scanWord = nullptr;
    if (ExamineLock(lock, &info) != 0 || info.kind != FILEINFO_DIRECTORY || DirScanBegin(lock, &scanWord) != 0) {
        CloseFileLock(lock);
        return 0;
    }
    uint32_t result = 0;
    const char* entryName = nullptr;
    int isDirectory = 0;
    while (DirScanNext(lock, reinterpret_cast<uintptr_t>(scanWord), &entryName, &isDirectory, nullptr)) {
        if (isDirectory || !HasPluginExtension(entryName))
            continue;
        if (counter) {
            ++*counter;
            continue;
        }
        // The scan's name buffer is overwritten by the next step.
        std::string name = entryName;
        std::string path = AddPart(directory, name);
        if (name[0] == '_') {
            RecordPluginFile(name.c_str() + 1, path.c_str());
        } else if (skipList && SkipListMatches(skipList, name.c_str())) {
            RecordPluginFile(name.c_str(), path.c_str());
        } else {
            PluginRecord* record = nullptr;
            uint32_t code = LoadPluginFile(path.c_str(), false, &record);
            if (code && code != PLUGIN_ALREADY_KNOWN)
                ReportLoadFailure(code);
        }
        if (progressStep) {
            result = progressStep();
            if (result)
                break;
        }
    }
    CloseFileLock(lock);
    return result;
}

uint32_t ScanPluginDirectories(const char* programPath, const char* runtimeTempDir, const char* skipList,
                               uint32_t* counter, uint32_t (*progressStep)())
{
    if (runtimeTempDir && *runtimeTempDir) {
        uint32_t code = ScanPluginDirectory(runtimeTempDir, skipList, counter, progressStep);
        if (code)
            return code;
    }
    if (programPath) {
        std::string directory(programPath, PathFilePart(programPath) - programPath);
        if (!directory.empty())
            return ScanPluginDirectory(directory.c_str(), skipList, counter, progressStep);
    }
    return 0;
}

uint32_t LoadPluginFile(const char* path, bool onDemand, PluginRecord** outRecord)
{
    std::string file = path;
    if (onDemand && !HasPluginExtension(path))
        file += kExtension;
    const char* name = PathFilePart(file.c_str());

    PluginRecord* record = FindRecordByName(name);
    if (record && (record->node || !onDemand)) {
        *outRecord = record;
        return PLUGIN_ALREADY_KNOWN;
    }
    std::string loadPath = file;
    if (record) {
        StreamHandle* probe = StreamOpen(file.c_str(), STREAM_READ);
        if (probe)
            StreamClose(probe);
        else
            loadPath = record->path;
    }

    PrintMessage(GetString(MSG_LOADING_PLUGIN), name, 1);
    uint32_t capabilities = 0;
    PluginNode* node = nullptr;
    uint32_t code = OpenPluginLibrary(loadPath.c_str(), &capabilities, &node);
    if (code)
        return code;
    if (!record) {
        record = AppendRecord(name, loadPath.c_str());
        if (!record) {
            UnloadPlugin(node);
            return ERR_MEM;
        }
    }
    record->node = node;
    record->capabilities = capabilities;
    if (capabilities & (PLUGINCAPS_FILEADAPTER | PLUGINCAPS_DIRADAPTER))
        InstallPluginStreamAdapters();
    PrintDone();
    *outRecord = record;
    return 0;
}

uint32_t RegisterPluginLibrary(PluginRecord* record, VmState* vm, bool registerConstants, bool registerCommands)
{
    PluginInfo* info = InfoOf(record);
    // A plugin's library and constants enter the VM once, however often
    // the plugin is activated or required.
    bool commandsWanted = registerCommands && !info->libraryInitialised;
    bool constantsWanted = registerConstants && !record->constantsRegistered;
    if (!commandsWanted && !constantsWanted)
        return 0;
    ForEachLibrary(info, [&](const char* baseName, const QmCommandEntry* commands, const QmConstantEntry* constants) {
        if (commandsWanted && commands) {
            int top = VmGetTop(vm);
            auto* table = reinterpret_cast<const CommandTableEntry*>(commands);
            VmPushValue(vm, VM_GLOBALSINDEX);
            if (VmRegisterLibrary(vm, baseName, table, 0))
                RegisterLibrary(table, baseName ? baseName : "plugin");
            VmSetTop(vm, top);
        }
        if (constantsWanted && constants)
            VmRegisterConstants(vm, reinterpret_cast<const ConstantTableEntry*>(constants), 1);
    });
    if (constantsWanted)
        record->constantsRegistered = 1;
    if (!commandsWanted)
        return 0;
    info->libraryInitialised = 1;
    if (IsForeignCallForm(info))
        return 0;
    int top = VmGetTop(vm);
    int answer = info->InitLibrary(vm);
    VmSetTop(vm, top);
    return PluginAnswerCode(record, "InitLibrary", answer);
}

// More formats than any saver offers: a list this long never ends.
constexpr size_t kMaxSaverFormats = 4096;

uint32_t CollectPluginFormatHooks(VmState* vm, const char* prefix, QmRegisterSaverFunc registration,
                                  QmSaverFormat** destination, uint32_t moreBit, PluginInfo* info)
{
    if (*destination || IsForeignCallForm(info))
        return 0;
    size_t prefixLength = std::strlen(prefix);
    size_t count = 0;
    size_t nameBytes = 0;
    // The record is cleared once per pass, not per call: a plugin may walk
    // its list by reading back what it answered last. A list that never
    // ends is refused rather than waited for.
    QmSaverFormat format;
    std::memset(&format, 0, sizeof format);
    do {
        if (count == kMaxSaverFormats) {
            const PluginRecord* record = FindPluginByInfo(info);
            SetErrorText(record ? PathFilePart(record->path) : info->modulename ? info->modulename : "?");
            return ERR_LOADPLUGIN;
        }
        registration(&format);
        ++count;
        nameBytes += prefixLength + (format.name ? std::strlen(format.name) : 0) + 1;
    } while (format.flags & moreBit);

    auto* hooks = static_cast<QmSaverFormat*>(OsAllocMem((count + 2) * sizeof(QmSaverFormat), 1));
    auto* constants = static_cast<QmConstantEntry*>(OsAllocMem((count + 2) * sizeof(QmConstantEntry), 1));
    auto* names = static_cast<char*>(OsAllocMem(nameBytes, 0));
    if (!hooks || !constants || !names) {
        OsFreeMem(hooks);
        OsFreeMem(constants);
        OsFreeMem(names);
        return ERR_MEM;
    }
    char* cursor = names;
    size_t filled = 0;
    std::memset(&format, 0, sizeof format);
    do {
        registration(&format);
        hooks[filled] = format;
        const char* name = format.name ? format.name : "";
        size_t length = std::strlen(name);
        if (cursor + prefixLength + length + 1 > names + nameBytes)
            break;  // the plugin answered differently the second time
        std::memcpy(cursor, prefix, prefixLength);
        std::memcpy(cursor + prefixLength, name, length + 1);
        constants[filled].name = cursor;
        constants[filled].numberValue = static_cast<double>(format.formatId);
        cursor += prefixLength + length + 1;
        ++filled;
    } while ((format.flags & moreBit) && filled < count);

    VmRegisterConstants(vm, reinterpret_cast<const ConstantTableEntry*>(constants), 1);
    OsFreeMem(constants);
    OsFreeMem(names);
    *destination = hooks;
    return 0;
}

uint32_t ActivatePlugin(VmState* vm, PluginRecord* record)
{
    if (!IsLoaded(record))
        return 0;
    PluginInfo* info = InfoOf(record);
    uint32_t code = 0;
    if ((info->capabilities & PLUGINCAPS_LIBRARY) && !(ExtensionWord(info, PLUGINCAPS_LIBRARY) & QM_LIBEXT_ON_REQUIRE))
        code = RegisterPluginLibrary(record, vm, true, true);
    if (!code && (info->capabilities & PLUGINCAPS_SAVEIMAGE))
        code = CollectPluginFormatHooks(vm, "imgfmt_", info->RegisterImageSaver, &info->imageSaverFormats,
                                         QM_SAVER_MORE_IMAGE, info);
    if (!code && (info->capabilities & PLUGINCAPS_SAVEANIM))
        code = CollectPluginFormatHooks(vm, "anmfmt_", info->RegisterAnimSaver, &info->animSaverFormats,
                                         QM_SAVER_MORE_ANIM, info);
    if (!code && (info->capabilities & PLUGINCAPS_SAVESAMPLE))
        code = CollectPluginFormatHooks(vm, "smpfmt_", info->RegisterSampleSaver, &info->sampleSaverFormats,
                                         QM_SAVER_MORE_SAMPLE, info);
    return code;
}

uint32_t FindOrLoadPlugin(VmState* vm, const char* name, int version, int revision, bool constantsOnly,
                          bool adaptersOnly, QmTagItem* tags, void* resultSlot)
{
    std::string wanted = name;
    if (HasPluginExtension(name))
        wanted.resize(wanted.size() - kExtensionLength);

    PluginRecord* found = nullptr;
    for (PluginRecord* record = PluginList; record && !found; record = record->next) {
        if (!record->node) {
            std::string stem = record->name;
            stem.resize(stem.size() >= kExtensionLength ? stem.size() - kExtensionLength : 0);
            if (!PluginNamesEqual(stem.c_str(), wanted.c_str()))
                continue;
            PrintMessage(GetString(MSG_LOADING_PLUGIN), record->name, 1);
            uint32_t code = OpenPluginLibrary(record->path, &record->capabilities, &record->node);
            if (!code) {
                if (record->capabilities & (PLUGINCAPS_FILEADAPTER | PLUGINCAPS_DIRADAPTER))
                    InstallPluginStreamAdapters();
                code = ActivatePlugin(vm, record);
            }
            if (code) {
                PrintFailed();
                return code;
            }
            PrintDone();
        }
        if (InfoOf(record)->modulename && PluginNamesEqual(InfoOf(record)->modulename, wanted.c_str()))
            found = record;
    }

    bool tooOld = found && (InfoOf(found)->version < version ||
                            (InfoOf(found)->version == version && InfoOf(found)->revision < revision));
    if (!found || tooOld) {
        std::string text = wanted + kExtension;
        if (version || revision)
            text += " " + std::to_string(version) + "." + std::to_string(revision);
        SetErrorText(text.c_str());
        return ERR_REQUIREPLUGIN;
    }
    PluginInfo* info = InfoOf(found);

    if ((info->capabilities & PLUGINCAPS_LIBRARY) && (ExtensionWord(info, PLUGINCAPS_LIBRARY) & QM_LIBEXT_ON_REQUIRE)) {
        uint32_t code = RegisterPluginLibrary(found, vm, true, !constantsOnly);
        if (code)
            return code;
    }
    if (!(info->capabilities & PLUGINCAPS_REQUIRE))
        return 0;
    if (adaptersOnly && !(info->capabilities & (PLUGINCAPS_FILEADAPTER | PLUGINCAPS_DIRADAPTER)))
        return 0;
    if (constantsOnly || found->requireCalled)
        return 0;

    QmTagItem list[3] = {};
    int n = 0;
    if (resultSlot)
        list[n++] = QmTagItem{1, reinterpret_cast<uintptr_t>(resultSlot)};
    if (tags)
        list[n++] = QmTagItem{2, reinterpret_cast<uintptr_t>(tags)};
    list[n] = QmTagItem{0, 0};
    found->requireCalled = 1;
    if (IsForeignCallForm(info))
        return 0;
    return PluginAnswerCode(found, "RequirePlugin", info->RequirePlugin(vm, version, revision, 0, list));
}

int AddSaverFormat(PluginInfo* info, uint32_t formatId, const char* name, const char* secondName,
                   const char* extension, uint32_t value, uint32_t flags)
{
    if (!name)
        name = "";
    if (!extension)
        extension = "";
    size_t nameLength = std::strlen(name) + 1;
    size_t secondLength = secondName ? std::strlen(secondName) + 1 : 0;
    size_t extensionLength = std::strlen(extension) + 1;
    auto* node = static_cast<QmSaverFormatNode*>(
        OsAllocMem(sizeof(QmSaverFormatNode) + nameLength + secondLength + extensionLength, 1));
    if (!node)
        return 0;
    char* text = reinterpret_cast<char*>(node + 1);
    std::memcpy(text, name, nameLength);
    node->name = text;
    text += nameLength;
    if (secondName) {
        std::memcpy(text, secondName, secondLength);
        node->secondName = text;
        text += secondLength;
    }
    std::memcpy(text, extension, extensionLength);
    node->extension = text;
    node->formatId = formatId;
    node->value = (flags & 0x1) ? value : 0;
    node->flags = flags;
    QmSaverFormatNode** link = &info->saverFormats;
    while (*link)
        link = &(*link)->next;
    *link = node;
    return 1;
}

int DumpPluginInfo(const char* fileName)
{
    StreamHandle* stream = StreamOpen(fileName, STREAM_WRITE);
    if (!stream)
        return 0;
    std::string text;
    auto line = [&text](const char* s) {
        if (s)
            text += s;
        text += '\n';
    };
    for (PluginRecord* record = PluginList; record; record = record->next) {
        if (!IsLoaded(record))
            continue;
        PluginInfo* info = InfoOf(record);
        char number[32];
        line("::plugin");
        std::snprintf(number, sizeof number, "%d.%d", info->version, info->revision);
        line(number);
        std::snprintf(number, sizeof number, "0x%.8x", info->capabilities);
        line(number);
        for (const char* field : {info->name, info->author, info->description, info->copyright, info->url,
                                  info->date, info->settings, info->helpfile})
            line(field);
        bool first = true;
        ForEachLibrary(info, [&](const char* baseName, const QmCommandEntry* commands, const QmConstantEntry*) {
            for (const QmCommandEntry* entry = commands; entry && entry->name; ++entry) {
                if (first)
                    line("::commands");
                first = false;
                line(baseName ? (std::string(baseName) + "." + entry->name).c_str() : entry->name);
            }
        });
        first = true;
        ForEachLibrary(info, [&](const char*, const QmCommandEntry*, const QmConstantEntry* constants) {
            for (const QmConstantEntry* entry = constants; entry && entry->name; ++entry) {
                if (first)
                    line("::constants");
                first = false;
                line(entry->name);
            }
        });
    }
    line("::end");
    StreamWrite(stream, text.data(), text.size());
    return StreamClose(stream);
}

void FreePluginLibraries(VmState* vm)
{
    for (PluginRecord* record = PluginList; record; record = record->next) {
        if (!IsLoaded(record))
            continue;
        PluginInfo* info = InfoOf(record);
        if (info->libraryInitialised && info->FreeLibrary && !IsForeignCallForm(info))
            info->FreeLibrary(vm);
        info->libraryInitialised = 0;
    }
}

void FreeAllPlugins()
{
    PluginRecord* record = PluginList;
    PluginList = nullptr;
    while (record) {
        PluginRecord* next = record->next;
        if (record->node) {
            FreeSaverFormats(record->node->info);
            UnloadPlugin(record->node);
        }
        FreeRecord(record);
        record = next;
    }
    // Adapters that no loaded plugin backs (set by hand) go as well.
    ForgetAdapterPlugin(DisplayAdapterPlugin);
    ForgetAdapterPlugin(TimerAdapterPlugin);
    FreeCommandHooks();
    RemovePluginStreamAdapters();
}

PluginRecord* FindPluginByInfo(const PluginInfo* info)
{
    for (PluginRecord* record = PluginList; record; record = record->next)
        if (record->node && record->node->info == info)
            return record;
    return nullptr;
}

uint32_t QueryAdapterCaps(uint32_t requested)
{
    const PluginInfo* adapter = DisplayAdapterPlugin;
    if (!adapter)
        return 0;
    uint32_t supported = 0;
    uint32_t flags = adapter->adapterFlags[QM_ADAPTERFLAGS_DISPLAY];
    if (flags & 0x10)
        supported |= 0x8;
    if (flags & 0x2)
        supported |= 0x20;
    uint32_t caps = adapter->displayAdapterCaps;
    if (caps & 0x1)
        supported |= 0x4;
    if (caps & 0x2)
        supported |= 0x10;
    if (caps & 0x4)
        supported |= 0x40;
    if (caps & 0x8)
        supported |= 0x80;
    return supported & requested;
}
