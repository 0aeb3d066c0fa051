// The display placement writer. The whole preferences table is read (a
// new one when the file is missing), the display's entry replaced, and the
// table written back as a whole, so the applet's own preferences survive.
#include "display/display_placement.h"

#include "core/io/error_codes.h"
#include "core/services/option_tables.h"
#include "core/vm/vm.h"
#include "display/display.h"
#include "libs/system/system_library.h"

uint32_t WriteDisplayPlacement(VmState* vm, Display* display)
{
    if (!vm || !(display->windowFlags & DISPFLAG_REMEMBERPOSITION) || display->header.handle)
        return 0;
    int top = VmGetTop(vm);
    VmNewTable(vm);
    int prefs = VmGetTop(vm);
    uint32_t error = ReadPrefsFile(vm, prefs);
    if (error == ERR_READFILE) {
        VmSetTop(vm, prefs);
        VmNewTable(vm);
        error = 0;
    }
    if (!error) {
        VmPushString(vm, "__placement");
        VmRawGet(vm, prefs);
        if (VmType(vm, -1) != VM_TTABLE) {
            VmPop(vm, 1);
            VmNewTable(vm);
            VmPushString(vm, "__placement");
            VmPushValue(vm, -2);
            VmRawSet(vm, prefs);
        }
        int placements = VmGetTop(vm);
        VmNewTable(vm);
        int t = VmGetTop(vm);
        SetTableInt(vm, t, "active", display->active ? 1 : 0);
        SetTableInt(vm, t, "x", display->x);
        SetTableInt(vm, t, "y", display->y);
        SetTableInt(vm, t, "width", display->width);
        SetTableInt(vm, t, "height", display->height);
        SetTableInt(vm, t, "scalewidth", display->scaleFlag ? display->scaledWidth : 0);
        SetTableInt(vm, t, "scaleheight", display->scaleFlag ? display->scaledHeight : 0);
        SetTableInt(vm, t, "autoscale", display->autoScale ? 1 : 0);
        SetTableInt(vm, t, "layerscale", display->layerScale ? 1 : 0);
        SetTableInt(vm, t, "sizeable", (display->windowFlags & DISPFLAG_SIZEABLE) ? 1 : 0);
        // A headless window has no platform state of its own to keep.
        SetTableString(vm, t, "osdata", "");
        VmRawSetI(vm, placements, static_cast<int>(display->header.id));
        error = WritePrefsFile(vm, prefs);
    }
    VmSetTop(vm, top);
    return error;
}
