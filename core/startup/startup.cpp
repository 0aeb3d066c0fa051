// Start-up and shutdown: the program's life from the argument vector to the
// exit status. Every start-up step answers 0 or an error code; the first
// code ends start-up and goes to ShutdownRuntime, which always runs to the
// end, reports the code and frees everything, whichever step failed.
#include "core/startup/startup.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/glue/timers.h"
#include "core/io/catalog.h"
#include "core/io/errors.h"
#include "core/io/linked_files.h"
#include "core/io/messages.h"
#include "core/io/utilities.h"
#include "core/services/command_services.h"
#include "core/services/error_report.h"
#include "core/services/library_table.h"
#include "core/services/path_helpers.h"
#include "core/startup/applet.h"
#include "core/startup/options.h"
#include "core/startup/preload.h"
#include "core/startup/run_records.h"
#include "core/vm/vm.h"
#include "display/display.h"
#include "display/requesters.h"
#include "display/window_icons.h"
#include "gfx/effects/scale.h"
#include "gfx/library/gfx_cache.h"
#include "media/sound.h"
#include "platform/posix/os_console.h"
#include "platform/posix/os_env.h"
#include "platform/posix/os_files.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_paths.h"
#include "platform/posix/os_runloop.h"
#include "tools/qmasm/linked_block.h"

// The linker finds the block by its marker and patches the offset behind
// it; the section keeps it apart from other constants.
__attribute__((section(".qmlinked"), used))
const volatile unsigned char LinkedProgramBlock[LINKED_BLOCK_SIZE] = {
    'Q', 'u', 'i', 'l', 'l', 'm', 'e', 'r', 'e', 'L', 'i', 'n', 'k', 'e', 'd', 'P', 'r', 'o',
    'g', 'r', 'a', 'm', 'B', 'l', 'o', 'c', 'k', 0,   0,   0,   0,   0,   0xDE, 0xAD, 0xC0, 0xDE,
};

static_assert(LINKED_BLOCK_SIZE == kLinkedBlockSize);
static_assert(kLinkedBlockOffsetPos == 32 && kLinkedBlockNoApplet == 0xDEADC0DE);
static_assert(sizeof kLinkedBlockMarker <= kLinkedBlockMarkerArea);

const char VersionBlock[VERSION_BLOCK_SIZE] = "$VER: QuillmerePlayer 6.1";

StartupGlobals Startup;

namespace {

uint32_t ReadLinkedOffset(const volatile unsigned char* block)
{
    const volatile unsigned char* b = block + kLinkedBlockOffsetPos;
    return (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
           (static_cast<uint32_t>(b[2]) << 8) | b[3];
}

void PrintBanner()
{
    DebugPrintf("QuillmerePlayer %d.%d [Linux] (C) Kestrom Delvonix\n", 6, 1);
    DebugPrintf("Runs compiled Quillmere applets with graphics, sound and networking\n");
    DebugPrintf(" \n");
}

// A temporary file or folder could not be made: the error names the
// folder it was to go in.
void NameTempFolder()
{
    char folder[1024] = "";
    OsGetTempDir(folder, sizeof folder);
    SetErrorText(folder);
}

}  // namespace

const char* MakeTempAppletName()
{
    char name[1024];
    if (OsGetTempFileName(name, sizeof name)) {
        NameTempFolder();
        return nullptr;
    }
    auto* node = static_cast<TempFileNode*>(OsAllocMem(sizeof(TempFileNode), 1));
    size_t length = std::strlen(name);
    char* copy = static_cast<char*>(OsAllocMem(length + 1, 0));
    if (!node || !copy) {
        OsFreeMem(node);
        OsFreeMem(copy);
        OsDeleteFile(name);
        NameTempFolder();
        return nullptr;
    }
    std::memcpy(copy, name, length + 1);
    node->name = copy;
    TempFileNode** tail = &Startup.tempFiles;
    while (*tail)
        tail = &(*tail)->next;
    *tail = node;
    return copy;
}

uint32_t EnsureRuntimeTempDirectory()
{
    if (Startup.tempDirectory[0])
        return 0;
    uint32_t error = OsCreateTempDirectory(Startup.tempDirectory, sizeof Startup.tempDirectory);
    if (error) {
        NameTempFolder();
        Startup.tempDirectory[0] = 0;
    }
    return error;
}

void FreeStartupGlobals()
{
    OsFreeMem(Startup.skipPlugins);
    OsFreeMem(Startup.requirePlugins);
    OsFreeMem(Startup.requireTags);
    Startup.skipPlugins = Startup.requirePlugins = Startup.requireTags = nullptr;
    if (Startup.tempDirectory[0]) {
        OsRemoveTempDirectory(Startup.tempDirectory);
        Startup.tempDirectory[0] = 0;
    }
    for (TempFileNode* node = Startup.tempFiles; node;) {
        TempFileNode* next = node->next;
        OsDeleteFile(node->name);
        OsFreeMem(node->name);
        OsFreeMem(node);
        node = next;
    }
    Startup.tempFiles = nullptr;
}

uint32_t AskForScriptFile(VmState* vm, CoreContext* context)
{
    FileRequestResult result{};
    uint32_t error =
        ShowFileRequester(vm, nullptr, GetString(MSG_SELECT_APPLET), "qma", REQ_NORMAL, "", "", 1, &result);
    if (error)
        return error;
    if (result.count == 0 || !result.names)
        return ERR_USERABORT;
    std::string path = AddPart(result.folder, result.names);
    OsFreeMem(result.names);
    if (!OsCopyPath(context->scriptPath, sizeof context->scriptPath, path.c_str(), path.size()))
        return ERR_NAMETOOLONG;
    return 0;
}

uint32_t InitRuntime(const volatile unsigned char* linkerBlock, VmState* vm, AppletInfo* applet,
                     const char* versionBlock, int argc, char** argv, CoreContext* context)
{
    InitCrc32Table();
    if (uint32_t error = InitPlatformGlue())
        return error;

    AppletSettings[0] = AppletSettings[3] = 0;
    AppletSettings[1] = AppletSettings[2] = -1;
    ResetStartupDisplayRecord(&StartupDisplayRecord);

    runtimeCatalog = OsOpenCatalog("Quillmere.catalog");
    InitAppletDisplayDefaults(applet);
    context->audioOpenValue = 30;

    uint32_t offset = ReadLinkedOffset(linkerBlock);
    if (offset != kLinkedBlockNoApplet) {
        Startup.appletOffset = offset;
        Startup.appletLinked = 1;
    }
    std::snprintf(Startup.versionString, sizeof Startup.versionString, "%s", versionBlock);

    OptionValues values{};
    uint32_t error = ParseCommandLine(argc, argv, context, &values);
    if ((error == 0 || error == ERR_CONFIG) && values.given[OPT_HELP]) {
        // The help is all that was asked for: no applet runs and the run
        // ends as a user's abort does, without a report.
        return PrintOptionHelp() ? ERR_USERABORT : ERR_WRITE;
    }
    if (error == ERR_CONFIG && !Startup.appletLinked)
        error = AskForScriptFile(vm, context);
    else if (error == ERR_CONFIG)
        error = 0;
    if (error)
        return error;
    if (Startup.appletLinked)
        std::memcpy(context->scriptPath, context->programPath, sizeof context->scriptPath);

    char* iniBuffer = nullptr;
    error = ReadIniOptions(&values, context, &iniBuffer);
    if (!error)
        error = ApplyStartupOptions(&values, context, applet);
    OsFreeMem(iniBuffer);
    if (error)
        return error;

    if (Startup.appletLinked || !DebugDeviceSet)
        context->quiet = 1;
    SetTags(nullptr, {{TAG_QUIET, context->quiet}, {TAG_END, 0}});
    if (!context->quiet)
        PrintBanner();

    if (uint32_t failed = InitCoreServices())
        return failed;
    if (uint32_t failed = OpenAllLibraries(applet, vm, context))
        return failed;
    SetTags(nullptr, {{SOUNDTAG_NOSOUND, context->noSound}, {SOUNDTAG_OPENVALUE, context->audioOpenValue},
                      {TAG_END, 0}});
    return 0;
}

uint32_t ShutdownRuntime(AppletInfo* applet, VmState* vm, uint32_t code, CoreContext* context)
{
    Startup.quitting = 1;
    FreeIconTable();
    FreeWindowIcons();
    FreeGfxCache();
    SetTags(nullptr, {{TAG_PIXELSWITCH, 0}, {TAG_QUIET, context->quiet}, {TAG_END, 0}});
    // Lost data outranks a clean or aborted end, never an earlier error.
    uint32_t lost = CloseAllLibraries(vm);
    if (lost && (code == 0 || code == ERR_USERABORT))
        code = lost;
    FreeScriptArguments(context);
    uint32_t reported = code >= 1 && code != ERR_USERABORT;
    ReportFatalError(code, context, vm);
    FreeCoreLists(vm);
    SetLinkedFiles(nullptr, 0);
    if (applet)
        FreeAppletInfoLists(applet);
    FreeStartupPluginLibraries(vm);
    VmCloseState(vm);
    UnloadStartupPlugins();
    FreeStartupGlobals();
    if (runtimeCatalog) {
        OsCloseCatalog(runtimeCatalog);
        runtimeCatalog = nullptr;
    }
    FreeAudio();
    FreeEffectCaches();
    if (OsCloseDebugChannel()) {
        // The console itself failed, so the report goes to the error stream.
        char message[256];
        GetErrorText(ERR_WRITE, message, sizeof message);
        std::fprintf(stderr, "QuillmerePlayer: %s\n", message);
        reported = 1;
    }
    OsShutdown();
    return reported;
}

namespace {

uint32_t RunScriptMain(VmState* vm)
{
    // The main chunk is the value StartScriptChunk left on the stack.
    return VmPCall(vm, 0, 0, 0);
}

}  // namespace

int CoreMain(int argc, char** argv)
{
    auto* context = static_cast<CoreContext*>(OsAllocMem(sizeof(CoreContext), 1));
    auto* applet = static_cast<AppletInfo*>(OsAllocMem(sizeof(AppletInfo), 1));
    if (!context || !applet) {
        OsFreeMem(context);
        OsFreeMem(applet);
        std::printf("Not enough memory.\n");
        return 1;
    }
    ProgramAppletInfo = applet;
    applet->versionMajor = 6;
    applet->versionMinor = 1;
    VmState* vm = VmOpenState();
    if (!vm) {
        std::printf("Not enough memory.\n");
        OsFreeMem(context);
        OsFreeMem(applet);
        ProgramAppletInfo = nullptr;
        return 1;
    }
    ProgramVmState = vm;

    uint32_t code = InitRuntime(LinkedProgramBlock, vm, applet, VersionBlock, argc, argv, context);
    if (!code && Startup.appletOffset)
        code = RunLinkedPluginBundle(context->programPath, &Startup.appletOffset);
    if (!code)
        code = ReadScriptFileHeader(context, applet);
    if (!code)
        code = LoadStartupPlugins(context);
    if (!code)
        code = LoadApplet(applet, vm, context);
    if (!code)
        code = StartScriptChunk(context);
    if (!code)
        code = PreloadResources(context, applet, vm);
    if (!code)
        code = OpenFirstDisplay(vm, applet, context);
    if (!code) {
        SetTags(nullptr, {{TAG_SCRIPTRUNNING, 1}, {TAG_END, 0}});
        OsSetScriptMain(RunScriptMain);
        code = OsRunMain(vm);
    }
    uint32_t reported = ShutdownRuntime(applet, vm, code, context);
    ProgramVmState = nullptr;
    ProgramAppletInfo = nullptr;
    OsFreeMem(context);
    OsFreeMem(applet);
    return reported ? 1 : 0;
}
