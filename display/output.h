// The output selection: where drawing goes on the current display. Each
// display has an output record of its own (its size, active clip region
// and clip words, on-screen instances, alpha mode); a picture selected as
// output brings its own record. The graphics options of masks and alpha
// intensity, and the timed refresh block, are globals of the display layer.
#pragma once

#include <cstdint>

struct ClipRegion;
struct Display;

// Output modes of a display (its `outputMode` word).
enum : uint32_t {
    OUTPUT_BGPIC = 1,
    OUTPUT_BRUSH = 3,
    OUTPUT_DISPLAY = 21,
    OUTPUT_MASK = 28,
    OUTPUT_ALPHACHANNEL = 30,
};

// A sprite or other object shown on top of the output; blits that overlap
// one go through the sprite-protecting path of SafeBlt. An instance drawn
// through a clip region is tagged with it until the region goes.
struct OnScreenInstance {
    OnScreenInstance* next;
    uint32_t tag;
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
    void* taggedObject;
};

// Alpha modes of the output selection.
enum : uint32_t { OUTPUTALPHA_NONE = 0, OUTPUTALPHA_COPY = 1, OUTPUTALPHA_COMPOSITE = 2 };

struct OutputRecord {
    int32_t width;
    int32_t height;
    uint32_t* palette;  // null: the output has none
    ClipRegion* clipRegion;
    // Left, top, right, bottom of the active clip region (right and bottom
    // inclusive); the whole output without one.
    int32_t clipWords[4];
    OnScreenInstance* instances;
    uint32_t kind;       // 4 = anim frame
    uint32_t alphaMode;  // OUTPUTALPHA_*
    uint32_t state;      // 1 adds bit 8 to adapter blit modes
};

// The timed refresh block, present while one is open.
struct TimedRefreshBlock {
    uint32_t collecting;
    uint32_t pending;
    uint32_t videoSeconds;  // video time {seconds, microseconds}
    uint32_t videoMicros;
};
extern TimedRefreshBlock* TimedRefresh;

// Graphics options 4 (mask mode, MASKVISIBLE by default) and 6 (alpha
// intensity, -1 for none).
extern uint32_t GraphicsMaskMode;
extern int32_t GraphicsAlphaIntensity;
void SetMaskMode(uint32_t mode);
// -1..255; ERR_WRONGUSAGE for other values.
uint32_t SetAlphaIntensity(int32_t value);

// The current display's output record; null without a current display.
OutputRecord* CurrentOutput();
// The output record a display draws into now (its own unless a picture is
// selected).
OutputRecord* DisplayOutput(Display* display);

// Sets the four clip words to the whole output.
void ResetClipWords(OutputRecord* output);

// Calls visit for the record of every display and every background picture
// (the outputs a clip region can be active in).
void ForEachOutputRecord(void (*visit)(OutputRecord* output, void* user), void* user);
