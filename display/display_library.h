// The open and exit functions of the libraries of subsystem "displays,
// events, layers and picture objects" that start-up and shutdown call.
#pragma once

#include <cstdint>

struct VmState;

// Each registers its library (commands and object lists) with the globals
// table pushed by the caller; 0 or an error code.
uint32_t OpenDisplayLibrary(VmState* vm);
uint32_t OpenLayersLibrary(VmState* vm);
uint32_t RegisterBrushLibrary(VmState* vm);
uint32_t RegisterBGPicLibrary(VmState* vm);
uint32_t RegisterSpriteLibrary(VmState* vm);
uint32_t RegisterAnimLibrary(VmState* vm);
uint32_t RegisterMoveObjectLibrary(VmState* vm);

// The exits. None fails; each is safe when its library was never opened
// and when it runs twice.
void CloseDisplayLibrary(VmState* vm);
void FreeAllBrushes(VmState* vm);
void FreeAllBGPics(VmState* vm);
void FreeAllSprites(VmState* vm);
void FreeAllAnims(VmState* vm);
void CloseLayersLibrary(VmState* vm);

// Frees the cached frame data of the objects the flag bits select (1
// brushes, 2 anims, 4 text objects, 8 background pictures, 16 videos);
// CollectGarbage passes 31.
void FlushObjectCaches(VmState* vm, uint32_t flags);
