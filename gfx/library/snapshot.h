// The graphics library's picture-file commands: SaveSnapshot (the current
// display's window, its picture, or the whole monitor it is on, saved in
// any image format) and IsPicture (whether a file is a picture that a
// loader of the chain can open, and its size).
#pragma once

#include <cstdint>

struct VmState;

enum SnapshotType : int32_t { SNAPWINDOW = 0, SNAPDISPLAY = 1, SNAPDESKTOP = 2 };

// SaveSnapshot(file [, type [, format [, options]]]).
uint32_t CmdSaveSnapshot(VmState* vm);
// IsPicture(file [, {loader, adapter}]) -> ok, {width, height, alpha,
// vector, transparency}.
uint32_t CmdIsPicture(VmState* vm);

