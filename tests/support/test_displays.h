// Displays for tests: a display record of a given size (scaled when a
// scaled size is given, with any other options `adjust` sets), opened
// unless asked otherwise; null on failure.
#pragma once

#include <cstdint>
#include <functional>

struct Display;
struct DisplayOptions;
struct VmState;

Display* MakeTestDisplay(VmState* vm, uint32_t id, int32_t width, int32_t height, bool open = true,
                         int32_t scaledWidth = 0, int32_t scaledHeight = 0,
                         const std::function<void(DisplayOptions*)>& adjust = nullptr);

// The platform with its timers up, a VM with the display and event
// libraries in its globals and display 1 (320 x 200) open in it; null
// display on failure.
Display* OpenDisplayEventVm(VmState** vm);
