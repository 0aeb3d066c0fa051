// The commands of the "brush" library that give a software brush a new
// picture made from its old one: scaled, rotated (and scaled) by a matrix,
// or distorted by a plane map. Their argument lists stand beside their
// entries in the library's command table (display/picture_libraries.cpp).
#pragma once

#include <cstdint>

#include "core/vm/library_glue.h"

struct VmState;

uint32_t CmdScaleBrush(VmState* vm);
uint32_t CmdRotateBrush(VmState* vm);
uint32_t CmdDistortBrush(VmState* vm);

// The distortion methods as scripts name them (#DISTORT_AFFINE, ...).
extern const ConstantTableEntry kBrushConstants[];
