// Buttons and key handlers: rectangles of a display and keys that the
// script asked to hear about (CreateButton, CreateKeyDown). When a display
// receives a mouse or key event, the matching objects fire their own script
// events before the display's handler runs.
#pragma once

#include <cstdint>

#include "core/services/object_registry.h"

struct VmState;
struct QueuedEvent;

struct ButtonRecord {
    ObjectHeader header;
    int32_t x1, y1, x2, y2;  // corners, both inclusive
    uint32_t inside;         // the pointer was inside at the last move
};

struct KeyHandlerRecord {
    ObjectHeader header;
    int32_t key;  // the key code the handler listens for
};

extern ButtonRecord* ButtonList;
extern KeyHandlerRecord* KeyHandlerList;

// The commands of the event library.
uint32_t CmdCreateButton(VmState* vm);
uint32_t CmdCreateKeyDown(VmState* vm);

uint32_t FindButton(ObjectId id, ButtonRecord** out);
uint32_t FindKeyHandler(ObjectId id, KeyHandlerRecord** out);

// The key code of a key name: one character is its own code; else "ESC",
// "RETURN", "SPACE", "TAB", "BACKSPACE", "DEL" (case-insensitive); -1
// for a name it does not know.
int32_t KeyCodeOfName(const char* name);

// Fires the button and key-handler events that a display's input event
// calls for: "OnButtonClick", "OnButtonRightClick", "OnButtonOver",
// "OnButtonOut" and "OnKeyDown", each a global script function (looked up
// under its lower-case name, as the VM keeps globals) called with
// a message {action, id, x, y, key}. 0 or the first handler's error.
uint32_t FireInputObjectEvents(VmState* vm, const QueuedEvent* event);

// Frees every button and key handler; at shutdown.
void FreeInputObjects(VmState* vm);
