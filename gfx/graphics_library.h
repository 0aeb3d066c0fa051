// The "graphics" library: registration and the resources it frees at
// shutdown.
#pragma once

#include <cstdint>

struct VmState;

// Makes the fallback display, opens the clip-region list and registers the
// commands under "graphics" (with the globals table pushed). 0 or ERR_MEM.
uint32_t RegisterGraphicsLibrary(VmState* vm);
// Frees every clip region, the blit scratch buffer and the fallback
// display; safe when the library was never opened and when run twice.
void FreeGraphicsResources(VmState* vm);
