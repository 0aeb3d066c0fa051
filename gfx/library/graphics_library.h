// The "graphics" library: colour arithmetic, the frame-rate limit, refresh
// blocks, pointers, clip regions, async drawing and the constants that the
// drawing, display and object libraries share; registration, the option
// hooks of the runtime's tags 4 and 6, and the resources it frees at
// shutdown.
#pragma once

#include <cstdint>

#include "draw/object_options.h"

struct VmState;

// Makes the fallback display, sets the default draw tags, opens the
// pointer, async-draw and clip-region lists and registers the commands
// under "graphics" with the constants (with the globals table pushed).
// 0 or ERR_MEM.
uint32_t RegisterGraphicsLibrary(VmState* vm);
// Frees every async draw object, clip region and pointer, the blit scratch
// buffer and the fallback display; safe when the library was never opened
// and when run twice.
void FreeGraphicsResources(VmState* vm);

// The set-tag and get-tag handlers of the runtime's graphics options: tag
// 4 the mask mode, tag 6 the alpha intensity; other tags are not taken.
int SetGraphicsOption(void* context, uint32_t tag, intptr_t value);
int GetGraphicsOption(void* context, uint32_t tag, void* pointer);

// The default draw tags (object block and style block).
extern uint32_t DefaultObjectTags[kObjectOptionWords];
extern uint32_t DefaultStyleTags[kStyleOptionWords];
void ResetDefaultDrawTags();

