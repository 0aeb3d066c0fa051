// The display placement writer: a display that records its placement
// leaves it in the applet's preferences file when it closes, under
// "__placement"[display id], for resource preloading to restore next time.
#pragma once

#include <cstdint>

struct Display;
struct VmState;

// Writes the display's placement: 0, or the preferences file's error.
// Displays without DISPFLAG_REMEMBERPOSITION are left alone (0).
uint32_t WriteDisplayPlacement(VmState* vm, Display* display);
