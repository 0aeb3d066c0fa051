// The "transitionfx" library: registered so that start-up finds it; its
// effects come with their own issue.
#include "transitions/transitionfx.h"

#include "display/library_support.h"

namespace {

const CommandTableEntry kNoCommands[] = {{nullptr, nullptr}};

}  // namespace

uint32_t RegisterTransitionFXLibrary(VmState* vm)
{
    return RegisterCommandTable(vm, "transitionfx", kNoCommands);
}
