// The "graphics" library: its command table in the library's documented
// order, its colour commands, the default draw tags and the option hooks.
// The other commands live with what they work on (frame pacing, pointers,
// clip regions, async drawing).
#include "gfx/library/graphics_library.h"

#include <cstring>
#include <initializer_list>

#include "core/io/error_codes.h"
#include "core/io/utilities.h"
#include "core/services/check_args.h"
#include "core/services/object_registry.h"
#include "core/vm/library_glue.h"
#include "display/display.h"
#include "display/library_support.h"
#include "display/output.h"
#include "display/rects.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/blits/clip_regions.h"
#include "gfx/blits/display_blit.h"
#include "gfx/library/async_draw.h"
#include "gfx/library/attribute_queries.h"
#include "gfx/library/frame_pacing.h"
#include "gfx/library/graphics_geometry.h"
#include "gfx/library/graphics_tables.h"
#include "gfx/library/pointers.h"
#include "gfx/library/snapshot.h"

uint32_t DefaultObjectTags[kObjectOptionWords];
uint32_t DefaultStyleTags[kStyleOptionWords];

namespace {

// Script colours are taken as 32-bit words.
uint32_t ColourArg(VmState* vm, int index) { return static_cast<uint32_t>(VmCheckInteger(vm, index)); }

uint32_t PushUnsigned(VmState* vm, uint32_t v)
{
    VmPushNumber(vm, v);
    return 1;
}

uint32_t CmdRed(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    return PushUnsigned(vm, (ColourArg(vm, 1) >> 16) & 255);
}

uint32_t CmdGreen(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    return PushUnsigned(vm, (ColourArg(vm, 1) >> 8) & 255);
}

uint32_t CmdBlue(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    return PushUnsigned(vm, ColourArg(vm, 1) & 255);
}

// The parts are not masked: RGB(256, 0, 0) is 0x1000000.
uint32_t CmdRGB(VmState* vm)
{
    CheckArgs(vm, 3, 3, 0, 0);
    int64_t r = VmCheckInteger(vm, 1), g = VmCheckInteger(vm, 2), b = VmCheckInteger(vm, 3);
    VmPushNumber(vm, static_cast<double>(r * 65536 + g * 256 + b));
    return 1;
}

uint32_t CmdARGB(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    return PushUnsigned(vm, ColourArg(vm, 1) << 24 | ColourArg(vm, 2));
}

uint32_t CmdMixRGB(VmState* vm)
{
    CheckArgs(vm, 2, 3, 0, 0);
    uint32_t c1 = ColourArg(vm, 1), c2 = ColourArg(vm, 2);
    int32_t ratio = VmOptInteger(vm, 3, 255);
    if (ratio < 0 || ratio > 255) return ERR_WRONGUSAGE;
    return PushUnsigned(vm, MixArgb(c1, c2, static_cast<uint32_t>(ratio)));
}

// What the display's depth keeps of a colour.
uint32_t CmdGetRealColor(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    uint32_t c = ColourArg(vm, 1);
    switch (PixelFormatBits(DisplayPixelFormat())) {
    case 15: c &= 0xF8F8F8; break;
    case 16: c &= 0xF8FCF8; break;
    default: break;
    }
    return PushUnsigned(vm, c);
}

uint32_t CmdGetRandomColor(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    int index = static_cast<int>(RandomDouble() * kRandomColorCount);
    if (index >= kRandomColorCount) index = kRandomColorCount - 1;
    uint32_t rgb = kRandomColors[index];
    return PushUnsigned(vm, ((rgb >> 8) & 15) * 17 << 16 | ((rgb >> 4) & 15) * 17 << 8 | (rgb & 15) * 17);
}

uint32_t CmdGetPen(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    int32_t n = VmCheckInteger(vm, 1);
    n = n < 0 ? 0 : n > 255 ? 255 : n;
    const OutputRecord* output = CurrentOutput();
    return PushUnsigned(vm, output && output->palette ? output->palette[n] : 0xFFFFFFFF);
}

uint32_t CmdDumpVideoTime(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    double ms = -1;
    if (TimedRefresh) ms = TimedRefresh->videoSeconds * 1000.0 + TimedRefresh->videoMicros / 1000;
    VmPushNumber(vm, ms);
    return 1;
}

uint32_t CmdIntersection(VmState* vm)
{
    CheckArgs(vm, 8, 8, 0, 0);
    int32_t v[8];
    for (int i = 0; i < 8; ++i) v[i] = VmCheckInteger(vm, i + 1);
    int32_t x, y, w, h;
    if (!ClipRect(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], &x, &y, &w, &h)) x = y = 0;
    for (int32_t r : {x, y, w, h}) VmPushNumber(vm, r);
    return 4;
}

uint32_t CmdSetDrawTagsDefault(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    uint32_t options[kObjectOptionWords], style[kStyleOptionWords];
    std::memcpy(options, DefaultObjectTags, sizeof options);
    std::memcpy(style, DefaultStyleTags, sizeof style);
    if (uint32_t error = ReadObjectOptions(vm, 1, options, style, OBJOPT_DRAWTAGS)) return error;
    std::memcpy(DefaultObjectTags, options, sizeof options);
    std::memcpy(DefaultStyleTags, style, sizeof style);
    reinterpret_cast<uint8_t*>(DefaultStyleTags)[0] = 0;
    return 0;
}

// In the library's order; IsPicture, SaveSnapshot and GetAttribute join at
// their places when their modules register.
const CommandTableEntry kGraphicsCommands[] = {
    {"Red", CmdRed},
    {"Green", CmdGreen},
    {"Blue", CmdBlue},
    {"RGB", CmdRGB},
    {"ARGB", CmdARGB},
    {"MixRGB", CmdMixRGB},
    {"GetRealColor", CmdGetRealColor},
    {"GetRandomColor", CmdGetRandomColor},
    {"GetPen", CmdGetPen},
    {"VWait", CmdVWait},
    {"SetFPSLimit", CmdSetFPSLimit},
    {"GetFPSLimit", CmdGetFPSLimit},
    {"BeginRefresh", CmdBeginRefresh},
    {"EndRefresh", CmdEndRefresh},
    {"DumpVideoTime", CmdDumpVideoTime},
    {"Intersection", CmdIntersection},
    {"IsPicture", CmdIsPicture},
    {"SaveSnapshot", CmdSaveSnapshot},
    {"CreateClipRegion", CmdCreateClipRegion},
    {"SetClipRegion", CmdSetClipRegion},
    {"FreeClipRegion", CmdFreeClipRegion},
    {"AsyncDrawFrame", CmdAsyncDrawFrame},
    {"CancelAsyncDraw", CmdCancelAsyncDraw},
    {"FinishAsyncDraw", CmdFinishAsyncDraw},
    {"CreatePointer", CmdCreatePointer},
    {"FreePointer", CmdFreePointer},
    {"SetPointer", CmdSetPointer},
    {"ShowPointer", CmdShowPointer},
    {"HidePointer", CmdHidePointer},
    {"MovePointer", CmdMovePointer},
    {"SetDrawTagsDefault", CmdSetDrawTagsDefault},
    {"GetAttribute", CmdGetAttribute},
    {nullptr, nullptr},
};

}  // namespace

void ResetDefaultDrawTags()
{
    std::memset(DefaultObjectTags, 0, sizeof DefaultObjectTags);
    std::memset(DefaultStyleTags, 0, sizeof DefaultStyleTags);
    double identity[4];
    SetIdentityMatrix(identity);
    for (int i = 0; i < 4; ++i) SetOptionDouble(DefaultObjectTags, kObjectMatrixWord + 2 * i, identity[i]);
    SetOptionDouble(DefaultObjectTags, kObjectScaleWord, 1.0);
    SetOptionDouble(DefaultObjectTags, kObjectScaleWord + 2, 1.0);
    DefaultStyleTags[69] = 0x80000000;
    DefaultStyleTags[70] = 4;
    DefaultStyleTags[71] = 3;
    SetOptionDouble(DefaultStyleTags, 72, 5.0);
    SetOptionDouble(DefaultStyleTags, 74, 5.0 / 3.0);
    DefaultStyleTags[77] = 0;
    DefaultStyleTags[78] = 2;
}

uint32_t RegisterGraphicsLibrary(VmState* vm)
{
    uint32_t error = AllocFallbackDisplay();
    if (error) return error;
    ResetDefaultDrawTags();
    for (void* list : {static_cast<void*>(&PointerList), static_cast<void*>(&AsyncDrawList),
                       static_cast<void*>(&ClipRegionList)})
        if (!error) error = RegisterObjectList(list);
    if (!error) error = RegisterCommandTable(vm, "graphics", kGraphicsCommands);
    if (!error && vm) VmRegisterConstants(vm, kGraphicsConstants, 0);
    return error;
}

void FreeGraphicsResources(VmState* vm)
{
    FreeAsyncDrawObjects(vm);
    FreeAllClipRegions(vm);
    FreeAllPointers(vm);
    FreeFallbackDisplay();
}

int SetGraphicsOption(void*, uint32_t tag, intptr_t value)
{
    if (tag == 4) {
        SetMaskMode(static_cast<uint32_t>(value));
        return 1;
    }
    if (tag == 6) {
        // Out-of-range intensities are refused and leave the option as it was.
        SetAlphaIntensity(static_cast<int32_t>(value));
        return 1;
    }
    return 0;
}

int GetGraphicsOption(void*, uint32_t tag, void* pointer)
{
    uint32_t value;
    if (tag == 4) value = GraphicsMaskMode;
    else if (tag == 6) value = static_cast<uint32_t>(GraphicsAlphaIntensity);
    else return 0;
    if (pointer) std::memcpy(pointer, &value, sizeof value);
    return 1;
}
