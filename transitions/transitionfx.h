// The "transitionfx" library's open function. The effects themselves come
// with their own issue.
#pragma once

#include <cstdint>

struct VmState;

uint32_t RegisterTransitionFXLibrary(VmState* vm);
