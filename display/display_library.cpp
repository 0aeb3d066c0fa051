// The "display" library: its object list, CreateDisplay, and the exit that
// closes and frees every display.
#include <algorithm>
#include <cstdint>

#include "core/io/error_codes.h"
#include "core/io/number_conv.h"
#include "core/io/utilities.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "core/services/option_tables.h"
#include "core/vm/vm.h"
#include "display/display.h"
#include "display/display_library.h"
#include "display/library_support.h"
#include "display/menus.h"

namespace {

// Option keys that switch a window flag on.
struct FlagKey {
    const char* key;
    uint32_t flag;
};
constexpr FlagKey kFlagKeys[] = {
    {"borderless", DISPFLAG_BORDERLESS},   {"sizeable", DISPFLAG_SIZEABLE},
    {"fixed", DISPFLAG_FIXED},             {"nomodeswitch", DISPFLAG_NOMODESWITCH},
    {"hidepointer", DISPFLAG_HIDEPOINTER}, {"nohide", DISPFLAG_NOHIDE},
    {"smoothscale", DISPFLAG_SMOOTHSCALE}, {"hidden", DISPFLAG_HIDDEN},
    {"layers", DISPFLAG_LAYERS},           {"noclose", DISPFLAG_NOCLOSE},
    {"keepproportions", DISPFLAG_KEEPPROPORTIONS},
    {"fitscale", DISPFLAG_FITSCALE},       {"keepscreenon", DISPFLAG_KEEPSCREENON},
    {"hidefromtaskbar", DISPFLAG_HIDEFROMTASKBAR},
    {"hideoptionsmenu", DISPFLAG_HIDEOPTIONSMENU},
    {"nohardwarescale", DISPFLAG_NOHARDWARESCALE},
    {"disableblanker", DISPFLAG_DISABLEBLANKER},
    {"rememberposition", DISPFLAG_REMEMBERPOSITION},
};

// The special coordinate #CENTER is the middle of a band of 5000 either way.
bool IsCenter(int32_t v) { return v > -105000 && v < -95000; }

uint32_t ModeFromName(const char* name)
{
    for (uint32_t mode : {1u, 2u, 3u, 4u, 6u})
        if (!StrCaseCmp(name, GetDisplayModeName(mode))) return mode;
    return 0;
}

// The position that centres size on a monitor side, worked out in 64 bits:
// a declared size may be anything a script wrote (its check comes later).
int32_t CenteredOn(int64_t monitor, int64_t size)
{
    int64_t position = (monitor - size) / 2;
    return static_cast<int32_t>(std::clamp<int64_t>(position, INT32_MIN, INT32_MAX));
}

// The gradient keys; the colour list holds colour and position in turn.
void ReadGradient(VmState* vm, int table, GradientSpec* g)
{
    int32_t v;
    if (GetTableInt(vm, table, "gradientstyle", &v)) g->type = static_cast<uint32_t>(v);
    GetTableColor(vm, table, "gradientstartcolor", &g->color1);
    GetTableColor(vm, table, "gradientendcolor", &g->color2);
    GetTableInt(vm, table, "gradientangle", &g->angle);
    GetTableNumber(vm, table, "gradientcenterx", &g->centerX);
    GetTableNumber(vm, table, "gradientcentery", &g->centerY);
    GetTableNumber(vm, table, "gradientbalance", &g->conicalPosition);
    GetTableNumber(vm, table, "gradientborder", &g->radial);
    double list[2 * kGradientMaxStops];
    uint32_t count = 0;
    if (!GetTableNumbers(vm, table, "gradientcolors", list, 2 * kGradientMaxStops, &count)) return;
    g->stopCount = count / 2;
    for (uint32_t i = 0; i < g->stopCount; ++i) g->stops[i] = {DoubleToLow32(list[2 * i]), list[2 * i + 1]};
}

void ReadOptions(VmState* vm, int table, DisplayOptions* o)
{
    int32_t v;
    GetTableString(vm, table, "title", o->title, sizeof o->title);
    if (GetTableInt(vm, table, "width", &v)) o->width = v;
    if (GetTableInt(vm, table, "height", &v)) o->height = v;
    o->x = CenteredOn(kMonitorWidth, o->width);
    o->y = CenteredOn(kMonitorHeight, o->height);
    if (GetTableInt(vm, table, "x", &v) && !IsCenter(v)) o->x = v;
    if (GetTableInt(vm, table, "y", &v) && !IsCenter(v)) o->y = v;
    if (GetTableInt(vm, table, "scalewidth", &v)) o->scaleWidth = v;
    if (GetTableInt(vm, table, "scaleheight", &v)) o->scaleHeight = v;
    if (GetTableInt(vm, table, "monitor", &v)) o->monitor = v;
    if (GetTableInt(vm, table, "menu", &v) && v > 0) o->menu = static_cast<uint32_t>(v);
    if (GetTableInt(vm, table, "bgpic", &v)) o->bgpic = static_cast<uint32_t>(v);
    GetTableColor(vm, table, "color", &o->color);
    if (GetTableInt(vm, table, "fillstyle", &v)) o->fillStyle = static_cast<uint32_t>(v);
    if (GetTableInt(vm, table, "texturebrush", &v)) o->textureBrush = static_cast<uint32_t>(v);
    GetTableInt(vm, table, "texturex", &o->textureX);
    GetTableInt(vm, table, "texturey", &o->textureY);
    ReadGradient(vm, table, &o->gradient);
    VmPushString(vm, "backfill");
    VmGetTable(vm, table < 0 && table > VM_REGISTRYINDEX ? table - 1 : table);
    if (VmType(vm, -1) == VM_TTABLE) {
        int backfill = VmGetTop(vm);
        char type[32];
        if (GetTableString(vm, backfill, "type", type, sizeof type)) {
            for (uint32_t kind = 1; kind <= 4; ++kind)
                if (!StrCaseCmp(type, GetBackfillTypeName(kind))) o->backfillKind = kind;
        }
        GetTableColor(vm, backfill, "color", &o->backfillColor);
        GetTableColor(vm, backfill, "startcolor", &o->backfillColor);
        GetTableColor(vm, backfill, "endcolor", &o->backfillEndColor);
        if (GetTableInt(vm, backfill, "brush", &v)) o->backfillBrush = static_cast<uint32_t>(v);
    }
    VmPop(vm, 1);
    if (GetTableInt(vm, table, "scalemode", &v)) {
        if (v == 1) o->flags |= DISPFLAG_AUTOSCALE;
        if (v == 2) o->flags |= DISPFLAG_LAYERSCALE;
    }
    char mode[32];
    if (GetTableString(vm, table, "mode", mode, sizeof mode)) o->mode = ModeFromName(mode);
    for (const FlagKey& f : kFlagKeys)
        if (GetTableInt(vm, table, f.key, &v) && v) o->flags |= f.flag;
}

// CreateDisplay(id or Nil, [options]): a new, closed display; with Nil its
// handle is returned.
uint32_t CmdCreateDisplay(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    CreateIdArg id = GetCreateIdArg(vm, 1);
    DisplayOptions options;
    InitDisplayOptions(&options);
    if (VmType(vm, 2) == VM_TTABLE) ReadOptions(vm, 2, &options);
    Display* display;
    uint32_t error = CreateDisplayRecord(vm, id.id, id.newHandle, options, &display);
    if (error) return error;
    if (!id.newHandle) return 0;
    VmPushLightUserdata(vm, display);
    return 1;
}

const CommandTableEntry kDisplayCommands[] = {
    {"CreateDisplay", CmdCreateDisplay},
    {"CreateMenu", CmdCreateMenu},
    {nullptr, nullptr},
};

}  // namespace

uint32_t OpenDisplayLibrary(VmState* vm)
{
    uint32_t error = RegisterObjectList(&DisplayList);
    if (!error) error = RegisterObjectList(&MenuList);
    if (!error) error = RegisterCommandTable(vm, "display", kDisplayCommands);
    return error;
}

void CloseDisplayLibrary(VmState* vm)
{
    FreeAllDisplays(vm);
    FreeAllMenus();
}
