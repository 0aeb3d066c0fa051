// The window icons of an applet: the icon images linked into it, loaded
// once before preloading and checked against the size each is declared at.
#pragma once

#include <cstdint>

// Loads every icon of the icon table (nothing for a script that is not an
// applet): 0, ERR_ICONDIMS ("%dx%d" of the picture) when a picture is not
// the size its record declares, or the loader's error.
uint32_t LoadWindowIcons(bool notApplet);

// The icons loaded, as the platform would hand them to its windows.
uint32_t CountWindowIcons();
void FreeWindowIcons();
