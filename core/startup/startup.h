// Start-up and shutdown of the runtime: the program's whole life from the
// argument vector to the exit status, and the program-wide state that the
// start-up steps share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "quillmere/plugin_abi.h"

struct AppletInfo;
struct CoreContext;
struct VmState;

// The linked-program block and the version block in the program's constant
// data. The block is read only through this volatile object: the linker
// patches the file, so its value must never be folded into the code.
constexpr size_t LINKED_BLOCK_SIZE = 45;
constexpr size_t VERSION_BLOCK_SIZE = 372;
extern const volatile unsigned char LinkedProgramBlock[LINKED_BLOCK_SIZE];
extern const char VersionBlock[VERSION_BLOCK_SIZE];

struct TempFileNode {
    TempFileNode* next;
    char* name;
};

// State shared by the start-up steps, the options and the loader.
struct StartupGlobals {
    uint32_t appletOffset;  // of a linked applet inside the program file, 0: none
    uint32_t appletLinked;
    uint32_t noChangeDir;
    uint32_t quitting;
    uint32_t overridePlacement;
    uint32_t debugOutput;
    uint32_t noDebug;
    char* skipPlugins;     // "a\0b\0\0" lists
    char* requirePlugins;
    char* requireTags;
    TempFileNode* tempFiles;
    char tempDirectory[1024];  // non-empty once the runtime made its own
    char versionString[VERSION_BLOCK_SIZE];
};
extern StartupGlobals Startup;

// Runs the whole player. Returns the process exit status: 0 for a normal
// end or a user abort, 1 when a fatal error was reported.
int CoreMain(int argc, char** argv);

uint32_t InitRuntime(const volatile unsigned char* linkerBlock, VmState* vm, AppletInfo* applet,
                     const char* versionBlock, int argc, char** argv, CoreContext* context);
// Always completes; `code` is the error that ended the run (0: none).
// Answers 1 when an error was reported, else 0.
uint32_t ShutdownRuntime(AppletInfo* applet, VmState* vm, uint32_t code, CoreContext* context);
uint32_t AskForScriptFile(VmState* vm, CoreContext* context);
// Plugins of the runtime's temporary directory and the program's
// directory, loaded and activated; 0 or the first error.
uint32_t LoadStartupPlugins(CoreContext* context);
// Shutdown's two plugin steps: the library plugins' exits (before the VM
// closes) and unloading every plugin (after).
void FreeStartupPluginLibraries(VmState* vm);
void UnloadStartupPlugins();
// Loads the plugins that REQUIREPLUGINS names, each with the settings that
// REQUIRETAGS gives it; their RequirePlugin answers go to *answer (bit 0:
// open the first display hidden). 0 or the first error.
uint32_t RequireStartupPlugins(VmState* vm, uint32_t* answer);

// Finds or loads the plugin, its RequirePlugin receiving the records
// linked into its settings list (the records stay the caller's); its
// answer goes to *answer. 0 or an error code.
uint32_t RequirePluginWithOptions(VmState* vm, const char* name, std::vector<QmPluginOption>* options,
                                  uint32_t* answer);

// A new unique temporary file, remembered for deletion at shutdown; null
// when none could be made (the temporary folder is then the error text).
const char* MakeTempAppletName();
// The runtime's own temporary directory, created on first use. 0 or
// ERR_CREATEDIR / ERR_NAMETOOLONG.
uint32_t EnsureRuntimeTempDirectory();
// Frees every start-up global (the option strings, temporary files and
// directory); safe to call more than once.
void FreeStartupGlobals();
