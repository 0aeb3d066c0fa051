// Async draw objects (type 37): a transition, an object move or an anim
// that the script advances one frame per AsyncDrawFrame call instead of
// drawing all at once. The producer hands over its callbacks and state;
// this module owns the list, the script commands and the messages between
// them.
#pragma once

#include <cstdint>

#include "core/services/object_registry.h"

struct Display;
struct VmState;

enum : uint32_t { ADF_FX = 0, ADF_MOVEOBJECT = 1, ADF_ANIM = 2 };

// Messages to a producer's message function (argument -> answer).
enum : uint32_t {
    ADMSG_LAYERS0 = 0,     // layers changed (object argument); the producer decides
    ADMSG_LAYERS1 = 1,
    ADMSG_FRAMECOUNT = 2,  // -> number of frames
    ADMSG_CURFRAME = 3,    // -> current frame
    ADMSG_SEEK = 4,        // argument points at the wanted frame -> 0 or an error code
    ADMSG_DRAW = 5,        // draw the current state
    ADMSG_OBJECT = 6,      // argument points at where the drawn object goes
    ADMSG_PENDING = 7,     // argument points at where "still pending" goes
    ADMSG_BGPIC = 8,       // drawing into a background picture begins (1) or ends (0)
};

using AsyncFrameFunction = uint32_t (*)(void* userData, uint32_t* done);
using AsyncFinishFunction = void (*)(void* userData, uint32_t flag);
using AsyncCleanupFunction = void (*)(void* userData, uint32_t flag);
using AsyncMessageFunction = intptr_t (*)(uint32_t message, intptr_t argument, void* userData);

struct AsyncDrawNode {
    ObjectHeader header;
    Display* display;  // frames may only be drawn there
    uint32_t kind;     // ADF_*
    uint32_t done;
    AsyncFrameFunction frame;
    void* spare;
    AsyncFinishFunction finish;    // may be null
    AsyncCleanupFunction cleanup;  // flag 1 after a finish, 0 after a cancel
    AsyncMessageFunction message;  // may be null
    void* userData;
};

extern AsyncDrawNode* AsyncDrawList;

// Made on the current display; the handle is the node's address. 0 or ERR_MEM.
uint32_t CreateAsyncDrawObject(uint32_t kind, AsyncFrameFunction frame, void* spare,
                               AsyncFinishFunction finish, AsyncCleanupFunction cleanup,
                               AsyncMessageFunction message, void* userData, AsyncDrawNode** handle);
// 0, ERR_FINDARRAY (handle) or ERR_FINDASYNCDRAW.
uint32_t FindAsyncDraw(ObjectId id, AsyncDrawNode** out);
// With finish: completes the drawing and frees the node. Otherwise draws
// the next frame. 0 or the frame function's error (the node stays).
uint32_t RunAsyncDrawFrame(VmState* vm, AsyncDrawNode* node, uint32_t finish);
// Unlinks the node, calls its clean-up with flag and frees it.
void FreeAsyncDrawNode(AsyncDrawNode* node, VmState* vm, uint32_t flag);
// Cancels every node (shutdown), or those made on one display (its close).
void FreeAsyncDrawObjects(VmState* vm);
void FreeDisplayAsyncDrawObjects(VmState* vm, Display* display);

bool IsAsyncDrawTarget(const Display* display);
// The first non-zero answer of the ADF_FX nodes to ADMSG_PENDING, else 0.
intptr_t QueryAsyncDrawPending();
void BroadcastAsyncDrawMessage(uint32_t message, intptr_t argument);
// True when a node answers ADMSG_OBJECT with that object.
bool IsAsyncDrawSource(const void* object);

// Commands.
uint32_t CmdAsyncDrawFrame(VmState* vm);
uint32_t CmdCancelAsyncDraw(VmState* vm);
uint32_t CmdFinishAsyncDraw(VmState* vm);
