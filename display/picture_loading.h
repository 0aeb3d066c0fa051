// Loading brushes and background pictures from files: the commands LoadBrush
// and LoadBGPic, which read a picture through the image loader chain and
// turn it into the record's colour, mask and alpha planes.
#pragma once

#include <cstdint>

struct VmState;

// LoadBrush(id or Nil, file [, options]) and LoadBGPic(id or Nil, file [,
// options]): with Nil the new record's handle is returned.
uint32_t CmdLoadBrush(VmState* vm);
uint32_t CmdLoadBGPic(VmState* vm);
