// Async draw objects. A node may be freed by any step that finishes it, so
// whatever is needed of it afterwards (its done flag) is read first.
#include "gfx/library/async_draw.h"

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "core/vm/library_glue.h"
#include "display/display.h"
#include "display/framebuffer.h"
#include "display/layers.h"
#include "display/object_list.h"
#include "display/refresh_rects.h"
#include "display/script_refs.h"
#include "gfx/library/frame_pacing.h"
#include "platform/posix/os_memory.h"

AsyncDrawNode* AsyncDrawList;

namespace {

ObjectHeader** ListHead() { return reinterpret_cast<ObjectHeader**>(&AsyncDrawList); }

intptr_t Send(AsyncDrawNode* node, uint32_t message, intptr_t argument)
{
    return node->message ? node->message(message, argument, node->userData) : 0;
}

// After drawing into a background picture the display shows the picture
// again where the drawn object is on it; a node that names no object, or a
// display without layers, has the whole display presented.
void RefreshAfterBGPicDraw(VmState* vm, AsyncDrawNode* node)
{
    void* object = nullptr;
    Send(node, ADMSG_OBJECT, reinterpret_cast<intptr_t>(&object));
    Display* display = node->display;
    if (!object || !display->layersEnabled || MarkLayerDirty(vm, display, object, nullptr) != 0) {
        RefreshDisplay(vm, display, 0);
        return;
    }
    FlushRefreshRects(vm, display);
}

bool OutputIsBGPic(const AsyncDrawNode* node) { return node->display && node->display->outputMode == OUTPUT_BGPIC; }

}  // namespace

uint32_t CreateAsyncDrawObject(uint32_t kind, AsyncFrameFunction frame, void* spare,
                               AsyncFinishFunction finish, AsyncCleanupFunction cleanup,
                               AsyncMessageFunction message, void* userData, AsyncDrawNode** handle)
{
    *handle = nullptr;
    auto* node = static_cast<AsyncDrawNode*>(OsAllocMem(sizeof(AsyncDrawNode), 1));
    if (!node) return ERR_MEM;
    node->display = CurrentDisplay;
    node->kind = kind;
    node->frame = frame;
    node->spare = spare;
    node->finish = finish;
    node->cleanup = cleanup;
    node->message = message;
    node->userData = userData;
    AppendObject(ListHead(), &node->header, OBJ_ASYNCDRAW, ObjectId{0, 0}, true);
    *handle = node;
    return 0;
}

uint32_t FindAsyncDraw(ObjectId id, AsyncDrawNode** out)
{
    ObjectHeader* r;
    uint32_t error = FindObjectOrError(*ListHead(), id, ERR_FINDASYNCDRAW, &r);
    *out = reinterpret_cast<AsyncDrawNode*>(r);
    return error;
}

void FreeAsyncDrawNode(AsyncDrawNode* node, VmState* vm, uint32_t flag)
{
    UnlinkObject(ListHead(), &node->header);
    if (node->cleanup) node->cleanup(node->userData, flag);
    ReleaseObjectData(vm, &node->header);
    OsFreeMem(node);
}

uint32_t RunAsyncDrawFrame(VmState* vm, AsyncDrawNode* node, uint32_t finish)
{
    if (finish) {
        if (node->finish) node->finish(node->userData, 1);
        FreeAsyncDrawNode(node, vm, 1);
        return 0;
    }
    bool bgpic = OutputIsBGPic(node);
    if (bgpic) Send(node, ADMSG_BGPIC, 1);
    uint32_t error = node->frame ? node->frame(node->userData, &node->done) : 0;
    if (error) return error;
    if (bgpic) {
        Send(node, ADMSG_BGPIC, 0);
        RefreshAfterBGPicDraw(vm, node);
    }
    return 0;
}

void FreeAsyncDrawObjects(VmState* vm)
{
    while (AsyncDrawList) FreeAsyncDrawNode(AsyncDrawList, vm, 0);
}

void FreeDisplayAsyncDrawObjects(VmState* vm, Display* display)
{
    for (AsyncDrawNode* n = AsyncDrawList; n;) {
        auto* next = reinterpret_cast<AsyncDrawNode*>(n->header.next);
        if (n->display == display) FreeAsyncDrawNode(n, vm, 0);
        n = next;
    }
}

bool IsAsyncDrawTarget(const Display* display)
{
    for (AsyncDrawNode* n = AsyncDrawList; n; n = reinterpret_cast<AsyncDrawNode*>(n->header.next))
        if (n->display == display) return true;
    return false;
}

intptr_t QueryAsyncDrawPending()
{
    for (AsyncDrawNode* n = AsyncDrawList; n; n = reinterpret_cast<AsyncDrawNode*>(n->header.next)) {
        if (n->kind != ADF_FX) continue;
        intptr_t pending = 0;
        Send(n, ADMSG_PENDING, reinterpret_cast<intptr_t>(&pending));
        if (pending) return pending;
    }
    return 0;
}

void BroadcastAsyncDrawMessage(uint32_t message, intptr_t argument)
{
    for (AsyncDrawNode* n = AsyncDrawList; n;) {
        auto* next = reinterpret_cast<AsyncDrawNode*>(n->header.next);
        Send(n, message, argument);
        n = next;
    }
}

bool IsAsyncDrawSource(const void* object)
{
    for (AsyncDrawNode* n = AsyncDrawList; n; n = reinterpret_cast<AsyncDrawNode*>(n->header.next)) {
        void* drawn = nullptr;
        Send(n, ADMSG_OBJECT, reinterpret_cast<intptr_t>(&drawn));
        if (drawn && drawn == object) return true;
    }
    return false;
}

namespace {

uint32_t FindArg(VmState* vm, AsyncDrawNode** node)
{
    return FindAsyncDraw(GetObjectIdArg(vm, 1), node);
}

// A frame asked for by number.
uint32_t SeekFrame(VmState* vm, AsyncDrawNode* node, int32_t frame, uint32_t* result)
{
    if (!node->display->layersEnabled) return ERR_NOLAYERS;
    int64_t current = Send(node, ADMSG_CURFRAME, 0), count = Send(node, ADMSG_FRAMECOUNT, 0);
    *result = 0;
    if ((frame > count || frame == 0) && node->done) {
        *result = 1;
        return RunAsyncDrawFrame(vm, node, 1);
    }
    if (frame > count) return SetRangeErrorDetail(ERR_ANIMFRAME, "frame", frame, 1, count);
    if (frame == current) return 0;
    if (frame == current + 1 || frame == 0) return RunAsyncDrawFrame(vm, node, 0);
    int32_t wanted = frame;
    if (intptr_t error = Send(node, ADMSG_SEEK, reinterpret_cast<intptr_t>(&wanted)))
        return static_cast<uint32_t>(error);
    if (OutputIsBGPic(node)) RefreshAfterBGPicDraw(vm, node);
    else Send(node, ADMSG_DRAW, 0);
    node->done = frame == count;
    *result = node->done;
    return 0;
}

}  // namespace

// AsyncDrawFrame(handle [, frame]) -> done
uint32_t CmdAsyncDrawFrame(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    Display* display = CurrentDisplay;
    if (!display) return ERR_WRONGUSAGE;
    if (uint32_t error = CheckDisplayOutput(display, true)) return error;
    AsyncDrawNode* node;
    if (uint32_t error = FindArg(vm, &node)) return error;
    if (node->display != display) return ERR_ADFWRONGDISP;
    uint32_t result = 0;
    if (VmType(vm, 2) <= VM_TNIL) {
        // A node whose last frame the previous call drew is finished (and
        // freed) by this one.
        result = node->done;
        if (uint32_t error = RunAsyncDrawFrame(vm, node, result)) return error;
    } else {
        int32_t frame = VmCheckInteger(vm, 2);
        if (uint32_t error = SeekFrame(vm, node, frame < 1 ? 0 : frame, &result)) return error;
    }
    VmPushNumber(vm, result);
    return 1;
}

uint32_t CmdCancelAsyncDraw(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    AsyncDrawNode* node;
    if (uint32_t error = FindArg(vm, &node)) return error;
    FreeAsyncDrawNode(node, vm, 0);
    return 0;
}

uint32_t CmdFinishAsyncDraw(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    AsyncDrawNode* node;
    if (uint32_t error = FindArg(vm, &node)) return error;
    uint32_t done = node->done;
    if (node->finish) node->finish(node->userData, done);
    FreeAsyncDrawNode(node, vm, done);
    return 0;
}
