/* The display-adapter test plugin: set as the display adapter when it
 * loads, it feeds the next window event of its list into display 1 each
 * time the runtime pumps, as if from its own thread (the event waits for
 * the script) or from the script thread (the handlers run at once). */
#include <stddef.h>

#include "test_plugin_info.h"

static const PluginHostApi* host;
static uint32_t adapterAnswer = 0xFFFFFFFFu;
static uint32_t fed;
static uint32_t lastAnswer;

struct Step {
    int fromScriptThread;
    QmWindowEvent event;
};

/* A button at (10, 10) - (50, 30) and a key handler for Escape listen. */
static const struct Step steps[] = {
    {0, {QM_WINEVENT_MOUSEMOVE, 20, 20, 0}}, /* over the button */
    {0, {QM_WINEVENT_MOUSEDOWN, 60, 20, 0}}, /* beside it */
    {1, {QM_WINEVENT_MOUSEDOWN, 50, 30, 0}}, /* on its last pixel */
    {1, {QM_WINEVENT_MOUSEMOVE, 0, 0, 0}},   /* away from it */
    {1, {QM_WINEVENT_KEYDOWN, 0, 0, 'a'}},
    {1, {QM_WINEVENT_KEYDOWN, 0, 0, 27}},
};

EXPORT int InitPlugin(PluginInfo* info, const PluginHostApi* api, const char* path)
{
    (void)path;
    host = api;
    fed = 0;
    FillTestPluginInfo(info, PLUGINCAPS_DISPLAYADAPTER, "winadapter", "winadapter", "Feeds window events");
    adapterAnswer = ((QmSetAdapterFunc)host->graphics->slot[QM_GFX_SETDISPLAYADAPTER])(info, 0, NULL);
    return 1;
}

EXPORT void ClosePlugin(void) {}

EXPORT uint32_t HandleEvents(struct VmState* state)
{
    if (fed >= sizeof steps / sizeof steps[0])
        return 0;
    void* window = ((QmFindDisplayFunc)host->graphics->slot[QM_GFX_FINDDISPLAY])(1);
    if (!window)
        return 0;
    const struct Step* step = &steps[fed++];
    if (step->fromScriptThread)
        lastAnswer = ((QmHandleOsEventFunc)host->system->HandleOsEvent)(state, window, &step->event);
    else
        lastAnswer = ((QmOsEventCallbackFunc)host->system->OsEventCallback)(window, &step->event);
    return lastAnswer;
}

EXPORT uint32_t WaitEvents(struct VmState* state) { (void)state; return 0; }

/* 0: what SetDisplayAdapter answered; 1: events fed; 2: the host's last
 * answer to a fed event. */
EXPORT uint32_t AdapterProbe(uint32_t what)
{
    return what == 0 ? adapterAnswer : what == 1 ? fed : lastAnswer;
}

/* The rest of the display block: this adapter draws nothing itself (its
 * flags leave bitmaps and blits to the host), so none is called. */
EXPORT uint32_t GetBitMapAttr(void* native, uint32_t attr, const QmTagItem* tags)
{ (void)native; (void)attr; (void)tags; return 0; }
#define UNUSED_ENTRY(name) \
    EXPORT uintptr_t name(void) { return 0; }
UNUSED_ENTRY(ForceEventLoopIteration) UNUSED_ENTRY(DetermineBorderSizes) UNUSED_ENTRY(OpenDisplay)
UNUSED_ENTRY(CloseDisplay) UNUSED_ENTRY(ChangeBufferSize) UNUSED_ENTRY(ShowHideDisplay)
UNUSED_ENTRY(SizeMoveDisplay) UNUSED_ENTRY(SetDisplayTitle) UNUSED_ENTRY(ActivateDisplay)
UNUSED_ENTRY(SetDisplayAttributes) UNUSED_ENTRY(CreatePointer) UNUSED_ENTRY(FreePointer)
UNUSED_ENTRY(SetPointer) UNUSED_ENTRY(ShowHidePointer) UNUSED_ENTRY(MovePointer) UNUSED_ENTRY(GetMousePos)
UNUSED_ENTRY(GetQualifiers) UNUSED_ENTRY(BltBitMap) UNUSED_ENTRY(RectFill) UNUSED_ENTRY(WritePixel)
UNUSED_ENTRY(Line) UNUSED_ENTRY(Sleep) UNUSED_ENTRY(VWait) UNUSED_ENTRY(GetMonitorInfo)
UNUSED_ENTRY(FreeMonitorInfo) UNUSED_ENTRY(GrabScreenPixels) UNUSED_ENTRY(FreeGrabScreenPixels)
UNUSED_ENTRY(AllocVideoBitMap) UNUSED_ENTRY(FreeVideoBitMap) UNUSED_ENTRY(ReadVideoPixels)
UNUSED_ENTRY(FreeVideoPixels) UNUSED_ENTRY(DoVideoBitMapMethod) UNUSED_ENTRY(BeginDoubleBuffer)
UNUSED_ENTRY(EndDoubleBuffer) UNUSED_ENTRY(Flip) UNUSED_ENTRY(Cls) UNUSED_ENTRY(AllocBitMap)
UNUSED_ENTRY(FreeBitMap) UNUSED_ENTRY(LockBitMap) UNUSED_ENTRY(UnLockBitMap)
