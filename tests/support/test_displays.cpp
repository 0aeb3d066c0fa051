#include "support/test_displays.h"

#include "display/display.h"

Display* MakeTestDisplay(VmState* vm, uint32_t id, int32_t width, int32_t height, bool open,
                         int32_t scaledWidth, int32_t scaledHeight)
{
    DisplayOptions options;
    InitDisplayOptions(&options);
    options.width = width;
    options.height = height;
    options.scaleWidth = scaledWidth;
    options.scaleHeight = scaledHeight;
    Display* d = nullptr;
    if (CreateDisplayRecord(vm, MakeObjectId(id), false, options, &d)) return nullptr;
    if (open && OpenDisplayRecord(d)) return nullptr;
    return d;
}
