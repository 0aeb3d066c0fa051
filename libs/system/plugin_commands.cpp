// Plugin commands of the "system" library: the plugin table, enabling and
// disabling plugins, asking for one and loading one by name.
#include <string>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/plugins/plugin_manager.h"
#include "core/services/check_args.h"
#include "libs/system/system_library.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_paths.h"

namespace {

constexpr const char* kPluginExtension = ".qmp";
constexpr uint32_t kFileTypeImage = 0, kFileTypeAnim = 1, kFileTypeSound = 2;
constexpr uint32_t kFileTypeFlagSave = 1;

std::string PluginFileName(const char* name)
{
    std::string file = name;
    size_t n = file.size(), e = std::char_traits<char>::length(kPluginExtension);
    if (n < e || !PluginNamesEqual(file.c_str() + n - e, kPluginExtension))
        file += kPluginExtension;
    return file;
}

PluginRecord* FindLoadedPlugin(const char* name)
{
    std::string file = PluginFileName(name);
    for (PluginRecord* r = PluginList; r; r = r->next)
        if (r->node && PluginNamesEqual(r->name, file.c_str()))
            return r;
    return nullptr;
}

void SetText(VmState* vm, const char* key, const char* text)
{
    VmPushString(vm, key);
    VmPushString(vm, text ? text : "");
    VmRawSet(vm, -3);
}

void SetNumber(VmState* vm, const char* key, double number)
{
    VmPushString(vm, key);
    VmPushNumber(vm, number);
    VmRawSet(vm, -3);
}

constexpr uint32_t kFileTypeFlagAlpha = 2;

const QmSaverFormat* FindFormatHook(const QmSaverFormat* hooks, uint32_t formatId)
{
    for (; hooks && hooks->formatId; ++hooks)
        if (hooks->formatId == formatId)
            return hooks;
    return nullptr;
}

// The file type of a saver format: the kind of saver whose registration
// announced the id (the capability when none did), and whether it keeps
// alpha.
uint32_t SaverFileType(const PluginInfo* info, uint32_t formatId, uint32_t* flags)
{
    *flags = kFileTypeFlagSave;
    if (const QmSaverFormat* hook = FindFormatHook(info->imageSaverFormats, formatId)) {
        if (hook->flags & QM_SAVERFORMAT_ALPHA)
            *flags |= kFileTypeFlagAlpha;
        return kFileTypeImage;
    }
    if (FindFormatHook(info->animSaverFormats, formatId))
        return kFileTypeAnim;
    if (FindFormatHook(info->sampleSaverFormats, formatId))
        return kFileTypeSound;
    if (info->capabilities & PLUGINCAPS_SAVEIMAGE)
        return kFileTypeImage;
    if (info->capabilities & PLUGINCAPS_SAVEANIM)
        return kFileTypeAnim;
    return kFileTypeSound;
}

uint32_t SetPluginDisabled(VmState* vm, uint32_t disabled)
{
    CheckArgs(vm, 1, 1, 0, 0);
    const char* name = VmCheckString(vm, 1, nullptr);
    PluginRecord* record = FindLoadedPlugin(name);
    if (!record) {
        SetErrorText(name);
        return ERR_FINDPLUGIN;
    }
    record->node->info->disabled = disabled;
    return 0;
}

struct OptionList {
    QmPluginOption* head = nullptr;
    ~OptionList()
    {
        while (QmPluginOption* r = head) {
            head = r->next;
            OsFreeMem(r);
        }
    }
};

// Reads the options table at index: the numbers "version", "revision" and
// "skiprequire", and every other string key as an option record.
uint32_t ReadLoadOptions(VmState* vm, int index, int* version, int* revision, bool* skipRequire, OptionList* list)
{
    QmPluginOption** tail = &list->head;
    VmPushNil(vm);
    while (VmNext(vm, index)) {
        int keyType = VmType(vm, -2), valueType = VmType(vm, -1);
        if (keyType != VM_TSTRING || (valueType != VM_TSTRING && valueType != VM_TNUMBER)) {
            VmPop(vm, 2);
            return ERR_WRONGUSAGE;
        }
        std::string key = VmGetString(vm, -2);
        if (key == "version" || key == "revision" || key == "skiprequire") {
            double v = VmGetNumber(vm, -1);
            if (key == "version")
                *version = static_cast<int>(v);
            else if (key == "revision")
                *revision = static_cast<int>(v);
            else
                *skipRequire = v != 0;
            VmPop(vm, 1);
            continue;
        }
        size_t keyLength = VmGetStringLength(vm, -2);
        size_t textLength = valueType == VM_TSTRING ? VmGetStringLength(vm, -1) + 1 : 0;
        auto* record = static_cast<QmPluginOption*>(
            OsAllocMem(sizeof(QmPluginOption) + keyLength + 1 + textLength, 1));
        if (!record) {
            VmPop(vm, 2);
            return ERR_MEM;
        }
        char* keyText = reinterpret_cast<char*>(record + 1);
        std::char_traits<char>::copy(keyText, VmGetString(vm, -2), keyLength + 1);
        record->key = keyText;
        if (valueType == VM_TSTRING) {
            char* text = keyText + keyLength + 1;
            std::char_traits<char>::copy(text, VmGetString(vm, -1), textLength);
            record->text = text;
        } else {
            record->number = VmGetNumber(vm, -1);
        }
        *tail = record;
        tail = &record->next;
        VmPop(vm, 1);
    }
    return 0;
}

}  // namespace

void PushPluginInfoTable(VmState* vm)
{
    VmNewTable(vm);
    int index = 0;
    for (PluginRecord* r = PluginList; r; r = r->next) {
        if (!r->node)
            continue;
        const PluginInfo* info = r->node->info;
        VmNewTable(vm);
        SetNumber(vm, "version", info->version);
        SetNumber(vm, "revision", info->revision);
        SetNumber(vm, "capabilities", info->capabilities);
        SetText(vm, "name", info->name);
        SetText(vm, "modulename", info->modulename);
        SetText(vm, "author", info->author);
        SetText(vm, "description", info->description);
        SetText(vm, "copyright", info->copyright);
        SetText(vm, "url", info->url);
        SetText(vm, "date", info->date);
        SetText(vm, "settings", info->settings);
        SetText(vm, "helpfile", info->helpfile);
        SetNumber(vm, "disabled", info->disabled ? 1 : 0);
        SetText(vm, "path", r->path);
        VmPushString(vm, "filetypes");
        VmNewTable(vm);
        int format = 0;
        for (const QmSaverFormatNode* f = info->saverFormats; f; f = f->next) {
            VmNewTable(vm);
            uint32_t flags = 0;
            SetNumber(vm, "type", SaverFileType(info, f->formatId, &flags));
            SetText(vm, "name", f->name);
            SetText(vm, "extensions", f->extension);
            SetText(vm, "mimetype", "");
            SetNumber(vm, "formatid", f->formatId);
            SetNumber(vm, "flags", flags);
            VmRawSetI(vm, -2, format++);
        }
        VmRawSet(vm, -3);
        VmRawSetI(vm, -2, index++);
    }
}

uint32_t CmdGetPlugins(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    PushPluginInfoTable(vm);
    return 1;
}

uint32_t CmdDisablePlugin(VmState* vm) { return SetPluginDisabled(vm, 1); }
uint32_t CmdEnablePlugin(VmState* vm) { return SetPluginDisabled(vm, 0); }

uint32_t CmdHavePlugin(VmState* vm)
{
    CheckArgs(vm, 1, 3, 0, 0);
    const char* name = VmCheckString(vm, 1, nullptr);
    int32_t version = VmOptInteger(vm, 2, 0);
    int32_t revision = VmOptInteger(vm, 3, 0);
    PluginRecord* record = FindLoadedPlugin(name);
    bool have = false;
    if (record) {
        const PluginInfo* info = record->node->info;
        have = info->version > version || (info->version == version && info->revision >= revision);
    }
    VmPushNumber(vm, have ? 1 : 0);
    return 1;
}

uint32_t CmdLoadPlugin(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    const char* name = VmCheckString(vm, 1, nullptr);
    int version = 0, revision = 0;
    bool skipRequire = false;
    OptionList options;
    if (VmType(vm, 2) != VM_TNONE && VmType(vm, 2) != VM_TNIL) {
        VmCheckTable(vm, 2);
        if (uint32_t code = ReadLoadOptions(vm, 2, &version, &revision, &skipRequire, &options))
            return code;
    }
    PluginRecord* record = nullptr;
    uint32_t code = LoadPluginFile(OsHostPath(name).c_str(), true, &record);
    if (code == PLUGIN_ALREADY_KNOWN) {
        SetErrorText(name);
        return ERR_PLUGINDOUBLET;
    }
    if (code)
        return code;
    if ((code = ActivatePlugin(vm, record)))
        return code;
    if (skipRequire)
        return 0;
    // Required by its module name: the file's may carry a leading '_'.
    return FindOrLoadPlugin(vm, record->node->info->modulename, version, revision, false, false,
                            reinterpret_cast<QmTagItem*>(options.head), nullptr);
}
