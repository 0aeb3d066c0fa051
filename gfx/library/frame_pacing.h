// Frame pacing and refresh blocks of the graphics library: the software
// frame limiter behind VWait, the frame-rate limit, and the blocks within
// which drawing collects in the back buffer and is presented once at the
// end.
#pragma once

#include <cstdint>

struct Display;
struct VmState;

// The clock and the sleep the limiter uses; tests put their own in.
struct FrameClock {
    uint64_t (*nowMicros)();
    uint32_t (*sleepMs)(VmState* vm, uint32_t ms);  // 0, or the code that ended the wait
};
// Null puts the monotonic clock and the event-keeping wait back.
void SetFrameClock(const FrameClock* clock);

// Frames per second; values below 1 mean 60.
void SetFrameRateLimit(int32_t fps);
uint32_t GetFrameRateLimit();

// Nothing unless the display is open or force is set. When less time than
// a frame at the limit has passed since the display's last frame, sleeps
// for the rest of it; then the current time is the last frame time. A
// clock that went backwards never sleeps. 0, or the code that ended the
// sleep (a user abort).
uint32_t LimitFrameRate(VmState* vm, Display* display, int force);

// Waits for the next frame of the current display (AdapterVWait).
uint32_t WaitDisplayFrame(VmState* vm, uint32_t flag);

// 0 when the current output may hold a refresh block or async frames, else
// its error: a brush or anim frame, a mask or an alpha channel is refused,
// and a background picture unless bgpicAllowed.
uint32_t CheckDisplayOutput(const Display* display, bool bgpicAllowed);

// Commands.
uint32_t CmdVWait(VmState* vm);
uint32_t CmdSetFPSLimit(VmState* vm);
uint32_t CmdGetFPSLimit(VmState* vm);
uint32_t CmdBeginRefresh(VmState* vm);
uint32_t CmdEndRefresh(VmState* vm);
