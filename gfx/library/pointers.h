// Mouse pointers (object type 36): the system pointer, the busy pointer,
// or an image made from a brush, kept by the display layer as a native
// pointer with its hot spot. A pointer that a display still shows when the
// script frees it is detached from its id and freed once no display shows
// it any more.
#pragma once

#include <cstdint>

#include "core/services/object_registry.h"

struct Display;
struct PointerImage;
struct VmState;

enum : uint32_t { STDPTR_SYSTEM = 0, STDPTR_BUSY = 1, STDPTR_CUSTOM = 2 };

// The size the headless platform gives its own cursors.
constexpr int32_t kPlatformCursorSize = 32;

struct PointerNode {
    ObjectHeader header;
    int32_t width;
    int32_t height;
    PointerImage* native;  // null for the system and busy pointers
    uint32_t kind;         // STDPTR_*
    uint32_t locked;
    uint32_t temporary;    // detached from its id while a display still shows it
};

extern PointerNode* PointerList;

// 0, ERR_FINDARRAY (handle) or ERR_FINDPOINTER; detached pointers are not found.
uint32_t FindPointer(ObjectId id, PointerNode** out);
// Called when a display is freed: it shows no pointer any more, and
// detached pointers that nothing shows now are freed.
void ReleaseDisplayPointer(VmState* vm, Display* display);
void FreeAllPointers(VmState* vm);

// Commands.
uint32_t CmdCreatePointer(VmState* vm);
uint32_t CmdFreePointer(VmState* vm);
uint32_t CmdSetPointer(VmState* vm);
uint32_t CmdShowPointer(VmState* vm);
uint32_t CmdHidePointer(VmState* vm);
uint32_t CmdMovePointer(VmState* vm);
