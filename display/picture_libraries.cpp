// The picture-object libraries ("brush", "bgpic", "sprite", "anim",
// "moveobject", "layers"). What opens here is each library's object list
// and the commands that resource preloading calls by name: LoadBrush and
// LoadBGPic load pictures (display/picture_loading.cpp), SaveBrush writes
// one (display/brush_save.cpp), LoadAnim and LoadSprite frame sets
// (display/anims.cpp, display/sprites.cpp). The layer lists belong to the
// background pictures (display/layers.cpp). The brush library also carries the
// image effects (display/brush_effects.cpp) and the transforms that give a
// brush a new picture (display/brush_transforms.cpp). Brush and background-picture
// records live in display/pictures.cpp.
#include "core/services/object_registry.h"
#include "display/anims.h"
#include "display/brush_effects.h"
#include "display/brush_save.h"
#include "display/brush_transforms.h"
#include "display/display_library.h"
#include "display/library_support.h"
#include "display/picture_loading.h"
#include "display/pictures.h"
#include "display/script_refs.h"
#include "display/sprites.h"

namespace {

// The effects' argument lists: the brush id, then the effect's own
// parameters; those in brackets may be left out and take the value shown
// (MixBrush's w and h: the source's size; WaterRippleBrush's centre: 0..1).
const CommandTableEntry kBrushCommands[] = {
    {"LoadBrush", CmdLoadBrush},
    {"SaveBrush", CmdSaveBrush},                        // id, file[, format IMGFMT_BMP, options]
    {"TintBrush", CmdTintBrush},                        // id, x, y, w, h, colour[, level 128] (0..255)
    {"MixBrush", CmdMixBrush},                          // id, source id[, dx 0, dy 0, sx 0, sy 0, w, h, level 128]
    {"BrushToGray", CmdBrushToGray},                    // id[, threshold flag 0]
    {"BrushToMonochrome", CmdBrushToMonochrome},        // id[, dither flag 0]
    {"FlipBrush", CmdFlipBrush},                        // id[, horizontal flag 1 (0: vertical)]
    {"InvertBrush", CmdInvertBrush},                    // id
    {"SetBrushTransparency", CmdSetBrushTransparency},  // id, colour
    {"ReplaceColors", CmdReplaceColors},                // id, {from, to, from, to, ...}
    {"BlurBrush", CmdBlurBrush},                        // id[, radius 0, strength 0] (0: the kernel's choice)
    {"EmbossBrush", CmdEmbossBrush},                    // id[, radius 0, strength 0]
    {"EdgeBrush", CmdEdgeBrush},                        // id[, radius 0, strength 0]
    {"SharpenBrush", CmdSharpenBrush},                  // id[, radius 0, strength 0]
    {"SolarizeBrush", CmdSolarizeBrush},                // id[, threshold 128] (0..255)
    {"GammaBrush", CmdGammaBrush},                      // id[, red 1.0, green 1.0, blue 1.0] (>= 0)
    {"ContrastBrush", CmdContrastBrush},                // id[, increase flag 1, steps 1] (>= 0)
    {"ModulateBrush", CmdModulateBrush},                // id[, brightness 1.0, saturation 1.0, hue 1.0] (0..100)
    {"SepiaToneBrush", CmdSepiaToneBrush},              // id[, level 204] (0..255)
    {"CharcoalBrush", CmdCharcoalBrush},                // id[, radius 0, strength 0]
    {"PixelateBrush", CmdPixelateBrush},                // id, cell (>= 1)
    {"SwirlBrush", CmdSwirlBrush},                      // id, degrees (cut to -359..359)
    {"WaterRippleBrush", CmdWaterRippleBrush},          // id, wavelength (>= 1), amplitude[, phase 0, cx 0.5, cy 0.5]
    {"OilPaintBrush", CmdOilPaintBrush},                // id[, radius 3] (>= 0)
    {"QuantizeBrush", CmdQuantizeBrush},                // id, colours (2..256)[, dither flag 0]
    {"ScaleBrush", CmdScaleBrush},                      // id, width, height (1..65536 or KEEPASPRAT)[, smooth flag 0]
    {"RotateBrush", CmdRotateBrush},                    // id, degrees[, scale x 1.0, scale y 1.0, smooth flag 0]
    {"DistortBrush", CmdDistortBrush},                  // id, method (DISTORT_*), {coefficients}[, alpha flag 0]
    {nullptr, nullptr},
};
const CommandTableEntry kBGPicCommands[] = {{"LoadBGPic", CmdLoadBGPic}, {nullptr, nullptr}};
const CommandTableEntry kSpriteCommands[] = {{"LoadSprite", CmdLoadSprite}, {nullptr, nullptr}};
const CommandTableEntry kAnimCommands[] = {{"LoadAnim", CmdLoadAnim}, {nullptr, nullptr}};
const CommandTableEntry kNoCommands[] = {{nullptr, nullptr}};

uint32_t OpenPictureLibrary(VmState* vm, const char* name, const CommandTableEntry* commands,
                            ObjectHeader** list)
{
    uint32_t error = list ? RegisterObjectList(list) : 0;
    if (!error) error = RegisterCommandTable(vm, name, commands);
    return error;
}

}  // namespace

uint32_t RegisterBrushLibrary(VmState* vm)
{
    uint32_t error = OpenPictureLibrary(vm, "brush", kBrushCommands, reinterpret_cast<ObjectHeader**>(&BrushList));
    if (!error && vm) VmRegisterConstants(vm, kBrushConstants, 0);
    return error;
}
uint32_t RegisterBGPicLibrary(VmState* vm)
{
    return OpenPictureLibrary(vm, "bgpic", kBGPicCommands, reinterpret_cast<ObjectHeader**>(&BGPicList));
}
uint32_t RegisterSpriteLibrary(VmState* vm)
{
    return OpenPictureLibrary(vm, "sprite", kSpriteCommands, reinterpret_cast<ObjectHeader**>(&SpriteList));
}
uint32_t RegisterAnimLibrary(VmState* vm)
{
    return OpenPictureLibrary(vm, "anim", kAnimCommands, reinterpret_cast<ObjectHeader**>(&AnimList));
}
uint32_t RegisterMoveObjectLibrary(VmState* vm) { return OpenPictureLibrary(vm, "moveobject", kNoCommands, nullptr); }
uint32_t OpenLayersLibrary(VmState* vm) { return OpenPictureLibrary(vm, "layers", kNoCommands, nullptr); }

void CloseLayersLibrary(VmState*) {}

void FlushObjectCaches(VmState*, uint32_t flags)
{
    // Anims on disk hold one decoded frame; the other pictures keep no
    // cached frames.
    if (flags & 2)
        FlushAnimCaches();
}
