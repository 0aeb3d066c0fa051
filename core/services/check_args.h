// The check at the top of every command handler: the argument count and the
// lowest applet version that may use the command.
#pragma once

#include <cstdint>

struct VmState;

// Raises ERR_TOOMANYARGS, ERR_MISSINGPARAMTR or ERR_OLDAPPLET through the VM
// (the handler does not continue); otherwise returns vm. A negative max
// means no upper bound; major 0 skips the version check.
VmState* CheckArgs(VmState* vm, int min, int max, uint32_t major, uint32_t minor);

// True before an applet is loaded, or when the applet's version is at least
// major.minor. When false, the required version ("%d.%d") has been stored
// as the error text for ERR_OLDAPPLET's message.
bool RequireAppletVersion(uint32_t major, uint32_t minor);

// Set only by the command reference's generator: each handler it calls
// notes its counts and version here in CheckArgs and stops there with
// ERR_USERABORT, before it does anything.
struct CheckArgsProbe {
    bool active;
    bool seen;
    int min, max;
    uint32_t major, minor;
};
extern CheckArgsProbe CheckArgsProbeState;
