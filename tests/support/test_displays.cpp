#include "support/test_displays.h"

#include "core/glue/timers.h"
#include "core/vm/vm.h"
#include "display/display.h"
#include "display/display_library.h"
#include "display/event_library.h"

Display* MakeTestDisplay(VmState* vm, uint32_t id, int32_t width, int32_t height, bool open,
                         int32_t scaledWidth, int32_t scaledHeight,
                         const std::function<void(DisplayOptions*)>& adjust)
{
    DisplayOptions options;
    InitDisplayOptions(&options);
    options.width = width;
    options.height = height;
    options.scaleWidth = scaledWidth;
    options.scaleHeight = scaledHeight;
    if (adjust) adjust(&options);
    Display* d = nullptr;
    if (CreateDisplayRecord(vm, MakeObjectId(id), false, options, &d)) return nullptr;
    if (open && OpenDisplayRecord(d)) return nullptr;
    return d;
}

Display* OpenDisplayEventVm(VmState** vm)
{
    *vm = nullptr;
    if (InitPlatformGlue() != 0) return nullptr;
    *vm = VmOpenState();
    VmPushValue(*vm, VM_GLOBALSINDEX);
    if (OpenDisplayLibrary(*vm) != 0 || OpenEventLibrary(*vm) != 0) return nullptr;
    VmSetTop(*vm, 0);
    return MakeTestDisplay(*vm, 1, 320, 200);
}
