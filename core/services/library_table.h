// The table of the script libraries that start-up opens, in its fixed
// order, and the exits that shutdown runs in an order of its own.
//
// A library that is not built yet has a stand-in open function that
// registers it with an empty command table, and no exit; filling in its
// open function and its exit step is all a library needs to take part in
// start-up and shutdown.
#pragma once

#include <cstdint>

#include "core/services/command_services.h"

struct AppletInfo;
struct CoreContext;
struct VmState;

using LibraryOpenFunction = uint32_t (*)(VmState* vm);
using LibraryExitFunction = void (*)(VmState* vm);

struct LibraryTableEntry {
    const char* name;
    LibraryOpenFunction open;
};

constexpr int LIBRARY_COUNT = 21;
extern const LibraryTableEntry LibraryTable[LIBRARY_COUNT];

// The set-tag and get-tag handlers of the graphics and sound libraries,
// registered in this order after the libraries opened; null: not built yet.
extern const SetTagHandler LibrarySetTagHandlers[2];
extern const GetTagHandler LibraryGetTagHandlers[2];

// One step of shutdown's library exits; null: nothing to free yet.
struct LibraryExitStep {
    const char* what;
    LibraryExitFunction exit;
};
extern const LibraryExitStep LibraryExitSteps[];
extern const int LIBRARY_EXIT_STEP_COUNT;

// Registry "applet" and "clargs", "inclevels", the global "_g", then every
// library in table order; the first non-zero result is returned at once
// and the libraries behind it stay unopened. Then the tag handlers of the
// graphics and sound libraries.
uint32_t OpenAllLibraries(AppletInfo* applet, VmState* vm, CoreContext* context);

// The steps of OpenAllLibraries, for a caller that looks at each library as
// it opens (the command reference's generator): the registry entries, one
// library, the tag handlers.
void SetUpLibraryRegistry(AppletInfo* applet, VmState* vm, CoreContext* context);
uint32_t OpenLibrary(const LibraryTableEntry& library, VmState* vm);
uint32_t AddLibraryTagHandlers();

// Runs every exit step in shutdown's order; each is safe for a library that
// was never opened. Answers 0, or ERR_WRITE when a file the script left
// open lost written bytes as it was closed.
uint32_t CloseAllLibraries(VmState* vm);
