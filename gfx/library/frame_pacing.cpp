// Frame pacing and refresh blocks. The limiter measures with the monotonic
// clock, so a change of the wall clock neither stalls nor rushes a script.
#include "gfx/library/frame_pacing.h"

#include "core/glue/timers.h"
#include "core/io/error_codes.h"
#include "core/services/check_args.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"
#include "display/adapters.h"
#include "display/display.h"
#include "display/framebuffer.h"
#include "platform/posix/os_time.h"

namespace {

uint64_t MonotonicMicros() { return OsMonotonicNanos() / 1000; }

const FrameClock kSystemClock{MonotonicMicros, OsTimedWait};
FrameClock g_clock = kSystemClock;
uint32_t g_frameRateLimit = 60;

// An anim frame is drawn into like a brush, but refused by its own name.
constexpr uint32_t kOutputKindAnimFrame = 4;

}  // namespace

void SetFrameClock(const FrameClock* clock) { g_clock = clock ? *clock : kSystemClock; }

void SetFrameRateLimit(int32_t fps) { g_frameRateLimit = fps < 1 ? 60 : static_cast<uint32_t>(fps); }

uint32_t GetFrameRateLimit() { return g_frameRateLimit; }

uint32_t LimitFrameRate(VmState* vm, Display* display, int force)
{
    if (!display || (display->state != DISPSTATE_OPEN && !force)) return 0;
    uint64_t frame = 1000000 / g_frameRateLimit;
    uint64_t now = g_clock.nowMicros();
    uint32_t error = 0;
    // A last frame time ahead of now (a clock that was set back) counts as
    // no time having passed to sleep for.
    if (display->lastFrameMicros && now >= display->lastFrameMicros) {
        uint64_t elapsed = now - display->lastFrameMicros;
        if (elapsed < frame) {
            // Rounded up, so the limit is never exceeded.
            error = g_clock.sleepMs(vm, static_cast<uint32_t>((frame - elapsed + 999) / 1000));
            now = g_clock.nowMicros();
        }
    }
    display->lastFrameMicros = now;
    return error;
}

uint32_t WaitDisplayFrame(VmState* vm, uint32_t flag) { return AdapterVWait(vm, CurrentDisplay, flag); }

uint32_t CheckDisplayOutput(const Display* display, bool bgpicAllowed)
{
    switch (display->outputMode) {
    case OUTPUT_BGPIC: return bgpicAllowed ? 0 : uint32_t{ERR_SELECTBG};
    case OUTPUT_BRUSH: {
        if (display->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
        const OutputRecord* output = display->selectedOutput;
        return output && output->kind == kOutputKindAnimFrame ? ERR_SELECTANIM : ERR_SELECTBRUSH;
    }
    case OUTPUT_MASK: return ERR_SELECTMASK;
    case OUTPUT_ALPHACHANNEL: return ERR_SELECTALPHACHANNEL;
    default: return 0;
    }
}

uint32_t CmdVWait(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    return WaitDisplayFrame(vm, 0);
}

uint32_t CmdSetFPSLimit(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    SetFrameRateLimit(VmCheckInteger(vm, 1));
    return 0;
}

uint32_t CmdGetFPSLimit(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    VmPushNumber(vm, GetFrameRateLimit());
    return 1;
}

// BeginRefresh([force]): only a scaled display (or a forced block) gains
// from collecting; elsewhere the block is accepted and does nothing.
uint32_t CmdBeginRefresh(VmState* vm)
{
    CheckArgs(vm, 0, 1, 0, 0);
    bool force = VmOptNumber(vm, 1, 0) != 0;
    Display* display = CurrentDisplay;
    if (!display) return ERR_WRONGUSAGE;
    bool scaled = display->scaleFlag && display->scaledWidth && display->scaledHeight;
    if ((!scaled && !force) || TimedRefresh) return 0;
    if (uint32_t error = CheckDisplayOutput(display, false)) return error;
    if (display->refreshPending) return ERR_WRONGUSAGE;
    display->refreshPending = 1;
    return 0;
}

uint32_t CmdEndRefresh(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    Display* display = CurrentDisplay;
    if (!display || !display->refreshPending) return 0;
    display->refreshPending = 0;
    RefreshDisplay(vm, display, 0);
    return 0;
}
