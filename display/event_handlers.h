// The names of the script events that handlers can be installed for: 30
// that belong to a display (each display has its own slot per name) and 12
// that belong to the program (one global slot each). Names are matched
// without regard to case.
#pragma once

#include <cstdint>

constexpr int kDisplayEventCount = 30;
constexpr int kGlobalEventCount = 12;

// An installed handler (of an event slot, an interval or a timeout): a
// function (a registry reference) or a label (an instruction index), with a
// userdata value (a registry reference). -1 means none.
struct EventHandler {
    int32_t functionRef;
    int32_t userdataRef;
    int32_t label;
};
constexpr EventHandler kNoEventHandler{-1, -1, -1};

// The global event slots.
extern EventHandler GlobalEventHandlers[kGlobalEventCount];
// True while a function or a label is installed in the global slot.
bool HasGlobalEventHandler(int slot);

struct VmState;
// Releases the registry references of `count` handlers and empties them
// (no references are released without a VM).
void ReleaseEventHandlers(VmState* vm, EventHandler* handlers, int count);

extern const char* const DisplayEventNames[kDisplayEventCount];
extern const char* const GlobalEventNames[kGlobalEventCount];

// Global event slots that the media and network code post to.
enum GlobalEvent : int {
    GEVENT_SAMPLELOOP = 0,
    GEVENT_SAMPLEEND = 1,
    GEVENT_MUSICEND = 2,
    GEVENT_VIDEOEND = 3,
    GEVENT_RECEIVEDATA = 4,
    GEVENT_CONNECT = 5,
    GEVENT_DISCONNECT = 6,
    GEVENT_RECEIVEUDPDATA = 7,
    GEVENT_PROGRAMEND = 11,
};

// Per-display event slots that the platform posts to.
enum DisplayEvent : int {
    DEVENT_CLOSEWINDOW = 0,
    DEVENT_SIZEWINDOW = 1,
    DEVENT_MOVEWINDOW = 2,
    DEVENT_ACTIVEWINDOW = 3,
    DEVENT_INACTIVEWINDOW = 4,
    DEVENT_SHOWWINDOW = 5,
    DEVENT_HIDEWINDOW = 6,
    DEVENT_MOUSEDOWN = 8,
    DEVENT_MOUSEUP = 9,
    DEVENT_MOUSEMOVE = 10,
    DEVENT_RIGHTMOUSEDOWN = 11,
    DEVENT_KEYDOWN = 17,
    DEVENT_KEYUP = 18,
    DEVENT_USERMESSAGE = 29,
};

// Looks a name up among the display events first, then the global events.
// Returns the slot index and sets *global; -1 when the name is unknown.
int FindEventName(const char* name, bool* global);
