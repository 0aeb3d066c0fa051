// SaveBrush, the "brush" library's writer of a brush to a picture file.
#pragma once

#include <cstdint>

struct Brush;
struct VmState;

// Writes the brush in the format (IMGFMT_*, or a saver plugin's id) with
// its mask or alpha where the format stores them: 0 or the error of
// SaveArgbImage; ERR_HWBRUSH for a brush without software planes.
uint32_t SaveBrushPlanes(const Brush* brush, uint32_t format, const char* file, int32_t quality, int32_t colors,
                         int32_t dither);

// SaveBrush(id, file[, format IMGFMT_BMP, options]): options as GetSaveOptions reads them.
uint32_t CmdSaveBrush(VmState* vm);
