// The window icons of an applet: the icon images linked into it, loaded
// once before preloading and checked against the size each is declared at,
// and registered with every window that opens afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quillmere/plugin_abi.h"

// Loads every icon of the icon table (nothing for a script that is not an
// applet): 0, ERR_ICONDIMS ("%dx%d" of the picture) when a picture is not
// the size its record declares, or the loader's error.
uint32_t LoadWindowIcons(bool notApplet);

// Frees the loaded icons (shutdown).
void FreeWindowIcons();

// An icon as a window registers it: the icon resource of a desktop's icon
// files, a 40-byte bitmap info header (32 bits per pixel, the height
// doubled for the colour rows and the transparency mask rows after them)
// followed by the image body.
struct WindowIcon {
    int32_t width;
    int32_t height;
    uint8_t* data;  // owned
    size_t size;
};

// The resources of every loaded icon, for a window that opens: 0 with
// *count of them (none: null), or ERR_MEM with nothing kept.
uint32_t MakeWindowIcons(WindowIcon** out, uint32_t* count);
void FreeWindowIconList(WindowIcon* icons, uint32_t count);

// The icon list a plugin's window registers (host table 3 slots 14 and
// 15): 0 with *list (null without icons) or ERR_MEM.
uint32_t HostGetIconList(QmIconList** list);
void FreeIconList(QmIconList* list);
