// Display records. There is no window system: a display is a headless
// surface on a virtual 1920 x 1080 x 32 monitor, with the state a windowed
// display would have (position, size, title, flags, pointer, input state,
// event handlers). Its pixels are three back buffers (bitmap handles of the
// pixel engine) and a framebuffer holding what a window would show.
#pragma once

#include <cstdint>

#include "core/services/object_registry.h"
#include "display/event_handlers.h"
#include "display/output.h"
#include "gfx/effects/gradients.h"

struct VmState;
struct AppletInfo;
struct CoreContext;

enum DisplayState : uint32_t { DISPSTATE_CLOSED = 0, DISPSTATE_OPEN = 1, DISPSTATE_MINIMIZED = 2 };

enum DisplayMode : uint32_t {
    DISPMODE_WINDOWED = 1,
    DISPMODE_FULLSCREEN = 2,
    DISPMODE_ASK = 3,
    DISPMODE_MODEREQUESTER = 4,
    DISPMODE_FAKEFULLSCREEN = 6,
};

// Window flag bits (the display flags of the applet's display descriptions).
enum DisplayFlag : uint32_t {
    DISPFLAG_BORDERLESS = 0x1,
    DISPFLAG_SIZEABLE = 0x2,
    DISPFLAG_FIXED = 0x4,
    DISPFLAG_NOMODESWITCH = 0x8,
    DISPFLAG_HIDEPOINTER = 0x10,
    DISPFLAG_NOHIDE = 0x20,
    DISPFLAG_AUTOSCALE = 0x40,
    DISPFLAG_SMOOTHSCALE = 0x80,
    DISPFLAG_LAYERSCALE = 0x100,
    DISPFLAG_HIDDEN = 0x800,
    DISPFLAG_LAYERS = 0x1000,
    DISPFLAG_NOCLOSE = 0x4000,
    DISPFLAG_KEEPPROPORTIONS = 0x8000,
    DISPFLAG_FITSCALE = 0x10000,
    DISPFLAG_KEEPSCREENON = 0x40000,
    DISPFLAG_HIDEFROMTASKBAR = 0x80000,
    DISPFLAG_HIDEOPTIONSMENU = 0x100000,
    DISPFLAG_NOHARDWARESCALE = 0x200000,
    DISPFLAG_DISABLEBLANKER = 0x1000000,
    DISPFLAG_REMEMBERPOSITION = 0x8000000,
};

// A callback that a plugin attached to a display; `message` 5 is a frame.
struct DisplayCallback {
    DisplayCallback* next;
    int (*function)(void* display, uint32_t message, void* userData);
    void* userData;
};

// A pointer image as the platform keeps it for a headless display.
struct PointerImage {
    int32_t width;
    int32_t height;
    int32_t hotX;
    int32_t hotY;
    uint32_t* argb;  // width * height pixels, owned
};

struct Display {
    ObjectHeader header;
    // Output selection (read and written by the blit and graphics code).
    uint32_t outputMode;  // 1 background picture, 3 brush or anim frame, 21 display, 28 mask, 30 alpha
    void* outputTarget;
    void* targetMask;
    void* targetAlpha;
    uint32_t layersEnabled;
    void* shownBGPic;
    uint32_t shownBGPicId;
    uint32_t doubleBuffer;
    uint32_t adapterDoubleBuffer;
    uint32_t refreshPending;
    uint32_t state;  // DisplayState
    void* backBuffers[3];
    uint32_t scaleFlag;
    int32_t scaledWidth;
    int32_t scaledHeight;
    double scaleFactorX;
    double scaleFactorY;
    struct RefreshRectList* refreshRects;  // display/refresh_rects, null until used
    // Pointer.
    PointerImage* pointer;
    ObjectHeader* pointerObject;  // the script's pointer shown (gfx/pointers), null for the default
    uint32_t pointerKind;  // 0 system, 1 busy, 2 custom
    uint32_t pointerHidden;
    DisplayCallback* callbacks;
    uint64_t lastFrameMicros;  // monotonic time of the last frame (frame limiter)
    // Window.
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
    int32_t mouseX;
    int32_t mouseY;
    uint32_t mouseButtons;
    int32_t borderLeft;
    int32_t borderTop;
    int32_t borderWidth;   // left + right
    int32_t borderHeight;  // top + bottom
    uint32_t windowFlags;  // DisplayFlag bits
    char title[256];
    int32_t marginLeft;
    int32_t marginRight;
    uint32_t active;
    uint32_t fullScreen;
    uint32_t mode;  // DisplayMode
    uint32_t autoScale;
    uint32_t layerScale;
    uint32_t smoothScale;
    uint32_t menu;  // id of the attached menu, 0 none
    int32_t orientation;
    int32_t density;
    uint32_t keyboard;
    double xdpi;
    double ydpi;
    int32_t monitor;  // 1-based
    uint32_t requesterOpen;
    uint32_t hidden;
    uint32_t keyStates[8];  // pressed keys gathered since the last reset
    EventHandler handlers[kDisplayEventCount];
    // Pixels: the display's own output record, the picture selected as
    // output instead (null: the display itself), and what the window shows.
    OutputRecord output;
    OutputRecord* selectedOutput;
    struct Framebuffer* framebuffer;
    // What the display shows without a background picture (DisplayOptions).
    uint32_t backColor;
    uint32_t fillStyle;
    uint32_t textureBrush;
    int32_t textureX;
    int32_t textureY;
    GradientSpec gradient;
    // What the desktop shows around the display (DisplayOptions).
    uint32_t backfillKind;
    uint32_t backfillColor;
    uint32_t backfillEndColor;
    uint32_t backfillBrush;
};

// The display list and the current display (null until one exists).
extern Display* DisplayList;
extern Display* CurrentDisplay;

// Virtual monitor.
constexpr int32_t kMonitorWidth = 1920;
constexpr int32_t kMonitorHeight = 1080;
// The largest side of a display.
constexpr int32_t kMaxDisplaySize = 16384;

// A scaled display shows its back buffers at its scaled size.
inline bool DisplayIsScaled(const Display* d) { return d->scaleFlag && d->scaledWidth && d->scaledHeight; }

// 0 with the display, ERR_FINDDISPLAY (numeric id) or ERR_FINDARRAY (handle).
uint32_t FindDisplay(ObjectId id, Display** out);

// The options of a new display; fields left at their defaults are filled by
// InitDisplayOptions (640 x 480, centred on the monitor, windowed).
struct DisplayOptions {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
    uint32_t flags;
    uint32_t mode;
    int32_t scaleWidth;
    int32_t scaleHeight;
    int32_t monitor;
    uint32_t menu;  // id of the menu to attach, 0 none
    uint32_t bgpic;
    char title[256];
    // The picture of a display without a background picture.
    uint32_t color;
    uint32_t fillStyle;  // DisplayFillStyle
    uint32_t textureBrush;
    int32_t textureX;
    int32_t textureY;
    GradientSpec gradient;  // the fill style DISPLAYFILL_GRADIENT
    // The decoration of the screen around a full-screen display.
    uint32_t backfillKind;  // GetBackfillTypeName
    uint32_t backfillColor;  // the colour, or where a gradient starts
    uint32_t backfillEndColor;
    uint32_t backfillBrush;
};
void InitDisplayOptions(DisplayOptions* options);

// Makes a closed display record; with a handle id the record's address is
// its handle. An existing display with the same numeric id is replaced
// unless it is open (ERR_FREEADISPLAY). 0, ERR_MEM, ERR_DISPLAYSIZE for a
// size below 1 or above 16384.
uint32_t CreateDisplayRecord(VmState* vm, ObjectId id, bool useHandle,
                             const DisplayOptions& options, Display** out);
// Gives a closed display a new size: its output record, clip words and
// scale factors follow.
void SetDisplaySize(Display* display, int32_t width, int32_t height);
// Opens a display: state open, active, current when there was none. A
// display that shows a background picture takes the picture's size first.
uint32_t OpenDisplayRecord(Display* display);
// Closes it and drops its input state.
void CloseDisplayRecord(Display* display);
// Unlinks and frees a display (closing it first).
void FreeDisplayRecord(VmState* vm, Display* display);
// Frees every display (shutdown).
void FreeAllDisplays(VmState* vm);

// Opens display 1 before the script's main loop (declared by the applet or
// added with defaults by preloading). 0 or an error code.
uint32_t OpenFirstDisplay(VmState* vm, AppletInfo* applet, CoreContext* context);

// Monitors of the headless machine: one 1920 x 1080 monitor.
uint32_t GetDisplayMonitorRect(Display* display, int32_t* x, int32_t* y, int32_t* width,
                               int32_t* height);
uint32_t CountMonitors(Display* display);

// Drops the pressed keys and buttons gathered for the display.
void ResetDisplayInputState(Display* display);

const char* GetDisplayModeName(uint32_t mode);
const char* GetBackfillTypeName(uint32_t kind);

// Pointer images (the platform side of the adapter's pointer hooks).
uint32_t AdapterCreatePointerImage(const uint32_t* argb, int32_t width, int32_t height,
                                   int32_t hotX, int32_t hotY, PointerImage** outNative,
                                   int32_t* outWidth, int32_t* outHeight);
void AdapterSetDisplayPointer(Display* display, PointerImage* native, uint32_t kind);
void AdapterShowHidePointer(Display* display, bool show);
void AdapterMovePointer(Display* display, int32_t x, int32_t y);
void AdapterFreePointer(PointerImage* native);

// Plugin callbacks of a display.
uint32_t AddDisplayCallback(Display* display,
                            int (*function)(void* display, uint32_t message, void* userData),
                            void* userData, DisplayCallback** out);
void RemoveDisplayCallback(Display* display, DisplayCallback* callback);
// Calls every callback of the display with the message.
void SignalDisplayCallback(Display* display, uint32_t message);
