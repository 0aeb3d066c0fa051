// The image-effect commands of the "brush" library: each changes a software
// brush in place through one of the effect front ends (gfx/effects/effects.h,
// gfx/effects/ripple_swirl.h). Their argument lists stand beside their entries in
// the library's command table (display/picture_libraries.cpp).
#pragma once

#include <cstdint>

struct VmState;

uint32_t CmdTintBrush(VmState* vm);
uint32_t CmdMixBrush(VmState* vm);
uint32_t CmdBrushToGray(VmState* vm);
uint32_t CmdBrushToMonochrome(VmState* vm);
uint32_t CmdFlipBrush(VmState* vm);
uint32_t CmdInvertBrush(VmState* vm);
uint32_t CmdSetBrushTransparency(VmState* vm);
uint32_t CmdReplaceColors(VmState* vm);
uint32_t CmdBlurBrush(VmState* vm);
uint32_t CmdEmbossBrush(VmState* vm);
uint32_t CmdEdgeBrush(VmState* vm);
uint32_t CmdSharpenBrush(VmState* vm);
uint32_t CmdSolarizeBrush(VmState* vm);
uint32_t CmdGammaBrush(VmState* vm);
uint32_t CmdContrastBrush(VmState* vm);
uint32_t CmdModulateBrush(VmState* vm);
uint32_t CmdSepiaToneBrush(VmState* vm);
uint32_t CmdCharcoalBrush(VmState* vm);
uint32_t CmdPixelateBrush(VmState* vm);
uint32_t CmdSwirlBrush(VmState* vm);
uint32_t CmdWaterRippleBrush(VmState* vm);
uint32_t CmdOilPaintBrush(VmState* vm);
uint32_t CmdQuantizeBrush(VmState* vm);
