// Loading and unloading one plugin library.
#include "core/plugins/plugin_loader.h"

#include <dlfcn.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/io/case_tables.h"
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/plugins/capability_lists.h"
#include "core/services/path_helpers.h"
#include "display/adapters.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_paths.h"

namespace {

// An entry point: its exported name and the byte offset of its slot.
struct SlotBinding {
    const char* name;
    size_t offset;
};

#define QM_SLOT(field) {#field, offsetof(PluginInfo, field)}

constexpr SlotBinding kExtensionSlots[] = {QM_SLOT(GetExtensions)};
constexpr SlotBinding kVectorSlots[] = {
    QM_SLOT(GetPathExtents), QM_SLOT(DrawPath), QM_SLOT(TranslatePath), QM_SLOT(GetCurrentPoint),
    QM_SLOT(CreateVectorFont), QM_SLOT(FreeVectorFont), QM_SLOT(OpenFont), QM_SLOT(CloseFont),
};
constexpr SlotBinding kVideoSlots[] = {
    QM_SLOT(OpenVideo), QM_SLOT(CloseVideo), QM_SLOT(NextPacket), QM_SLOT(FreePacket),
    QM_SLOT(DecodeVideoFrame), QM_SLOT(DecodeAudioFrame), QM_SLOT(SeekVideo), QM_SLOT(FlushAudio),
    QM_SLOT(FlushVideo), QM_SLOT(GetVideoFrames), QM_SLOT(GetVideoFormat),
};
constexpr SlotBinding kLibrarySlots[] = {
    QM_SLOT(GetBaseTable), QM_SLOT(GetCommands), QM_SLOT(GetConstants), QM_SLOT(InitLibrary),
    QM_SLOT(FreeLibrary),
};
constexpr SlotBinding kMultiLibrarySlots[] = {QM_SLOT(GetLibraryCount), QM_SLOT(SetCurrentLibrary)};
constexpr SlotBinding kConvertSlots[] = {QM_SLOT(GetScript), QM_SLOT(FreeScript)};
constexpr SlotBinding kImageSlots[] = {
    QM_SLOT(IsImage), QM_SLOT(LoadImage), QM_SLOT(GetImage), QM_SLOT(FreeImage), QM_SLOT(TransformImage),
};
constexpr SlotBinding kAnimSlots[] = {
    QM_SLOT(OpenAnim), QM_SLOT(LoadFrame), QM_SLOT(FreeFrame), QM_SLOT(GetFrameDelay), QM_SLOT(CloseAnim),
};
constexpr SlotBinding kSoundSlots[] = {
    QM_SLOT(OpenStream), QM_SLOT(CloseStream), QM_SLOT(SeekStream), QM_SLOT(StreamSamples),
    QM_SLOT(GetFormatName),
};
constexpr SlotBinding kSaveImageSlots[] = {QM_SLOT(RegisterImageSaver), QM_SLOT(SaveImage)};
constexpr SlotBinding kSaveAnimSlots[] = {
    QM_SLOT(RegisterAnimSaver), QM_SLOT(BeginAnimStream), QM_SLOT(WriteAnimFrame), QM_SLOT(FinishAnimStream),
};
constexpr SlotBinding kSaveSampleSlots[] = {QM_SLOT(RegisterSampleSaver), QM_SLOT(SaveSample)};
constexpr SlotBinding kRequireSlots[] = {QM_SLOT(RequirePlugin)};
constexpr SlotBinding kDisplaySlots[] = {
    QM_SLOT(HandleEvents), QM_SLOT(WaitEvents), QM_SLOT(ForceEventLoopIteration),
    QM_SLOT(DetermineBorderSizes), QM_SLOT(OpenDisplay), QM_SLOT(CloseDisplay), QM_SLOT(ChangeBufferSize),
    QM_SLOT(ShowHideDisplay), QM_SLOT(SizeMoveDisplay), QM_SLOT(SetDisplayTitle), QM_SLOT(ActivateDisplay),
    QM_SLOT(SetDisplayAttributes), QM_SLOT(CreatePointer), QM_SLOT(FreePointer), QM_SLOT(SetPointer),
    QM_SLOT(ShowHidePointer), QM_SLOT(MovePointer), QM_SLOT(GetMousePos), QM_SLOT(GetQualifiers),
    QM_SLOT(BltBitMap), QM_SLOT(RectFill), QM_SLOT(WritePixel), QM_SLOT(Line), QM_SLOT(Sleep), QM_SLOT(VWait),
    QM_SLOT(GetMonitorInfo), QM_SLOT(FreeMonitorInfo), QM_SLOT(GrabScreenPixels),
    QM_SLOT(FreeGrabScreenPixels), QM_SLOT(AllocVideoBitMap), QM_SLOT(FreeVideoBitMap),
    QM_SLOT(ReadVideoPixels), QM_SLOT(FreeVideoPixels), QM_SLOT(DoVideoBitMapMethod),
    QM_SLOT(BeginDoubleBuffer), QM_SLOT(EndDoubleBuffer), QM_SLOT(Flip), QM_SLOT(Cls), QM_SLOT(AllocBitMap),
    QM_SLOT(FreeBitMap), QM_SLOT(LockBitMap), QM_SLOT(UnLockBitMap), QM_SLOT(GetBitMapAttr),
};
constexpr SlotBinding kMainLoopSlots[] = {QM_SLOT(AdapterMainLoop)};
constexpr SlotBinding kTimerSlots[] = {QM_SLOT(RegisterTimer), QM_SLOT(FreeTimer)};
constexpr SlotBinding kRequesterSlots[] = {
    QM_SLOT(SystemRequest), QM_SLOT(FileRequest), QM_SLOT(PathRequest), QM_SLOT(StringRequest),
    QM_SLOT(ListRequest), QM_SLOT(FontRequest), QM_SLOT(ColorRequest), QM_SLOT(FreeRequest),
};
constexpr SlotBinding kFileAdapterSlots[] = {
    QM_SLOT(FOpen), QM_SLOT(FClose), QM_SLOT(FRead), QM_SLOT(FGetC), QM_SLOT(FWrite), QM_SLOT(FPutC),
    QM_SLOT(FSeek), QM_SLOT(FFlush), QM_SLOT(FEof), QM_SLOT(FStat), QM_SLOT(Stat),
};
constexpr SlotBinding kDirAdapterSlots[] = {QM_SLOT(OpenDir), QM_SLOT(CloseDir), QM_SLOT(NextDirEntry)};
constexpr SlotBinding kAudioSlots[] = {
    QM_SLOT(OpenAudio), QM_SLOT(CloseAudio), QM_SLOT(AllocAudioChannel), QM_SLOT(FreeAudioChannel),
    QM_SLOT(SetChannelAttributes),
};

#undef QM_SLOT

// One capability block: its entry points, and what a set bit of its
// extension word adds (more entry points) or changes (the loader list).
struct CapabilityBlock {
    uint32_t bit;
    const SlotBinding* slots;
    size_t slotCount;
    const SlotBinding* extraSlots;   // bound when extension bit 0x1 is set
    size_t extraCount;
    bool loaderList;                 // entered in its capability list unless extension bit 0x1
};

#define QM_BLOCK(bit, slots) bit, slots, sizeof(slots) / sizeof(slots[0])

// The binding order: extensions first, since their answers decide what the
// library and display blocks bind.
constexpr CapabilityBlock kBlocks[] = {
    {QM_BLOCK(PLUGINCAPS_EXTENSIONS, kExtensionSlots), nullptr, 0, false},
    {QM_BLOCK(PLUGINCAPS_VECTOR, kVectorSlots), nullptr, 0, false},
    {QM_BLOCK(PLUGINCAPS_VIDEO, kVideoSlots), nullptr, 0, true},
    {QM_BLOCK(PLUGINCAPS_LIBRARY, kLibrarySlots), kMultiLibrarySlots, 2, false},
    {QM_BLOCK(PLUGINCAPS_CONVERT, kConvertSlots), nullptr, 0, false},
    {QM_BLOCK(PLUGINCAPS_IMAGE, kImageSlots), nullptr, 0, true},
    {QM_BLOCK(PLUGINCAPS_ANIM, kAnimSlots), nullptr, 0, true},
    {QM_BLOCK(PLUGINCAPS_SOUND, kSoundSlots), nullptr, 0, true},
    {QM_BLOCK(PLUGINCAPS_SAVEIMAGE, kSaveImageSlots), nullptr, 0, false},
    {QM_BLOCK(PLUGINCAPS_SAVEANIM, kSaveAnimSlots), nullptr, 0, false},
    {QM_BLOCK(PLUGINCAPS_SAVESAMPLE, kSaveSampleSlots), nullptr, 0, false},
    {QM_BLOCK(PLUGINCAPS_REQUIRE, kRequireSlots), nullptr, 0, false},
    {QM_BLOCK(PLUGINCAPS_DISPLAYADAPTER, kDisplaySlots), kMainLoopSlots, 1, false},
    {QM_BLOCK(PLUGINCAPS_TIMERADAPTER, kTimerSlots), nullptr, 0, false},
    {QM_BLOCK(PLUGINCAPS_REQUESTERADAPTER, kRequesterSlots), nullptr, 0, false},
    {QM_BLOCK(PLUGINCAPS_FILEADAPTER, kFileAdapterSlots), nullptr, 0, false},
    {QM_BLOCK(PLUGINCAPS_DIRADAPTER, kDirAdapterSlots), nullptr, 0, false},
    {QM_BLOCK(PLUGINCAPS_AUDIOADAPTER, kAudioSlots), nullptr, 0, false},
};

#undef QM_BLOCK

constexpr const char* kReservedNames[] = {"default", "standard", "inbuilt", "quillmere", "system", "native"};

// Looks an entry point up and stores it in its slot; false when missing.
bool BindSlot(void* module, PluginInfo* info, const SlotBinding& binding)
{
    void* symbol = dlsym(module, binding.name);
    if (!symbol)
        return false;
    std::memcpy(reinterpret_cast<char*>(info) + binding.offset, &symbol, sizeof symbol);
    return true;
}

uint32_t BindSlots(void* module, PluginInfo* info, const SlotBinding* slots, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (!BindSlot(module, info, slots[i])) {
            SetErrorText(slots[i].name);
            return ERR_PLUGINSYMBOL;
        }
    }
    return 0;
}

uint32_t BindCapabilities(void* module, PluginInfo* info)
{
    uint32_t capabilities = info->capabilities;
    bool entered = false;
    for (const CapabilityBlock& block : kBlocks) {
        if (!(capabilities & block.bit))
            continue;
        entered = true;
        uint32_t code = BindSlots(module, info, block.slots, block.slotCount);
        if (code)
            return code;
        if (block.bit == PLUGINCAPS_EXTENSIONS) {
            for (int bit = 0; bit < 32; ++bit) {
                uint32_t capability = 1u << bit;
                if (capability == PLUGINCAPS_EXTENSIONS || !(capabilities & capability))
                    continue;
                info->extensions[bit] = IsForeignCallForm(info) ? 0 : info->GetExtensions(capability, 0);
            }
            continue;
        }
        bool extended = (ExtensionWord(info, block.bit) & 0x1) != 0;
        if (block.extraSlots && extended) {
            code = BindSlots(module, info, block.extraSlots, block.extraCount);
            if (code)
                return code;
        }
        if (block.loaderList && !extended) {
            code = AddPluginToCapabilityList(info, block.bit);
            if (code)
                return code;
        }
    }
    if (!entered) {
        char text[16];
        std::snprintf(text, sizeof text, "%lx", static_cast<unsigned long>(capabilities));
        SetErrorText(text);
        return ERR_PLUGINTYPE;
    }
    return 0;
}

// The name check: the file part of the full path without its extension must
// name the module, a leading '_' aside; reserved names are refused unless
// the '_' form matched.
bool NameMatchesFile(const std::string& fullPath, const char* moduleName)
{
    if (!moduleName)
        return false;
    std::string stem = fullPath.substr(0, fullPath.size() >= 4 ? fullPath.size() - 4 : 0);
    size_t cut = stem.find_last_of("/\\");
    if (cut == std::string::npos)
        cut = stem.find_last_of(':');
    std::string filePart = cut == std::string::npos ? stem : stem.substr(cut + 1);
    if (!filePart.empty() && filePart[0] == '_' && PluginNamesEqual(filePart.c_str() + 1, moduleName))
        return true;
    if (!PluginNamesEqual(filePart.c_str(), moduleName))
        return false;
    for (const char* reserved : kReservedNames)
        if (PluginNamesEqual(moduleName, reserved))
            return false;
    return true;
}

} // namespace

bool PluginNamesEqual(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        uint8_t ca = ToLowerLatin1(static_cast<uint8_t>(*a));
        uint8_t cb = ToLowerLatin1(static_cast<uint8_t>(*b));
        if (ca != cb)
            return false;
        if (!ca)
            return true;
    }
}

uint32_t OpenPluginLibrary(const char* path, uint32_t* outCapabilities, PluginNode** outNode)
{
    auto* node = static_cast<PluginNode*>(OsAllocMem(sizeof(PluginNode), 1));
    if (!node)
        return ERR_MEM;

    std::string fullPath = OsFullPathString(OsHostPath(path).c_str());
    PluginInfo* info = nullptr;
    bool initialised = false;
    uint32_t code = 0;

    void* module = dlopen(fullPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        code = ERR_LOADPLUGIN;
    } else if (!(info = static_cast<PluginInfo*>(OsAllocMem(sizeof(PluginInfo), 1)))) {
        code = ERR_MEM;
    } else {
        auto init = reinterpret_cast<QmInitPluginFunc>(dlsym(module, "InitPlugin"));
        auto close = reinterpret_cast<QmClosePluginFunc>(dlsym(module, "ClosePlugin"));
        info->neededVersion = QM_HOST_VERSION;
        info->neededRevision = QM_HOST_REVISION;
        if (!init || !close || !init(info, GetPluginHostApi(), fullPath.c_str())) {
            code = ERR_LOADPLUGIN;
        } else {
            initialised = true;
            info->InitPlugin = init;
            info->ClosePlugin = close;
            if (!NameMatchesFile(fullPath, info->modulename)) {
                code = ERR_LOADPLUGIN;
            } else if (info->neededVersion > QM_HOST_VERSION ||
                       (info->neededVersion == QM_HOST_VERSION && info->neededRevision > QM_HOST_REVISION)) {
                char text[32];
                std::snprintf(text, sizeof text, "%d.%d", info->neededVersion, info->neededRevision);
                SetErrorText(text);
                code = ERR_NEWQMPLUGIN;
            } else {
                node->capabilities = info->capabilities;
                code = BindCapabilities(module, info);
            }
        }
    }

    if (code == 0) {
        node->info = info;
        node->module = module;
        *outCapabilities = node->capabilities;
        *outNode = node;
        return 0;
    }

    if (code == ERR_LOADPLUGIN)
        SetErrorText(PathFilePart(path));
    if (info) {
        // The plugin may have entered lists or set itself as an adapter in
        // InitPlugin.
        RemovePluginFromAllCapabilityLists(info);
        ForgetAdapterPlugin(info);
        if (initialised && !IsForeignCallForm(info))
            info->ClosePlugin();
    }
    if (module)
        dlclose(module);
    OsFreeMem(info);
    OsFreeMem(node);
    return code;
}

void UnloadPlugin(PluginNode* node)
{
    if (!node)
        return;
    PluginInfo* info = node->info;
    if (info) {
        RemovePluginFromAllCapabilityLists(info);
        ForgetAdapterPlugin(info);
        if (info->ClosePlugin && !IsForeignCallForm(info))
            info->ClosePlugin();
    }
    if (node->module)
        dlclose(node->module);
    OsFreeMem(info);
    OsFreeMem(node);
}
