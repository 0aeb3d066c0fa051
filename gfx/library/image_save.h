// Saving pictures: every picture that the system writes to a file goes
// through SaveArgbImage, which writes BMP itself, hands PNG, JPEG, GIF
// and IFF ILBM to the media writers, and any other format id to an image
// saver plugin. Files are replaced only when the whole picture was written.
#pragma once

#include <cstdint>

struct BitMapHandle;
struct VmState;

enum ImageFormatId : uint32_t {
    IMGFMT_BMP = 0,
    IMGFMT_PNG = 1,
    IMGFMT_JPEG = 2,
    IMGFMT_GIF = 3,
    IMGFMT_ILBM = 4,
};

// Defaults of the save options.
constexpr int32_t kDefaultSaveQuality = 90;
constexpr int32_t kDefaultSaveColors = 256;

// transparentColour: 0xRRGGBB, or -1 for none. Quality is clamped to
// 1..100 and colors to 2..256. 0 or an error code (ERR_WRITEFILE with the
// file name, ERR_WRITE, ERR_CLOSEFILE, ERR_MEM, ERR_UNKNOWNIMGOUT,
// ERR_SAVEIMAGE, the writers' own).
uint32_t SaveArgbImage(uint32_t format, const uint32_t* argb, int32_t width, int32_t height, const char* file,
                       int32_t transparentColour, bool hasAlpha, int32_t quality, int32_t colors, int32_t dither);

// Saves a bitmap. With readPixels the colour bitmap's own pixels are read
// (through the adapter for a video bitmap) and saved with alpha when an
// alpha plane is given; otherwise the ARGB is built from the bitmap, its
// mask and alpha planes and the transparent colour.
uint32_t SaveBitMapImage(uint32_t format, BitMapHandle* bitmap, int32_t width, int32_t height, const char* file,
                         BitMapHandle* mask, int32_t transparentColour, BitMapHandle* alpha, int32_t quality,
                         int32_t colors, int32_t dither, bool readPixels);

// The save options at the argument index: nothing when it is absent; a
// table gives "quality", "colors" and "dither"; a number is the quality.
void GetSaveOptions(VmState* vm, int index, int32_t* quality, int32_t* colors, int32_t* dither);

// The 24-bit BMP writer on its own (SaveArgbImage's format 0).
uint32_t SaveBmpImage(const char* file, const uint32_t* argb, int32_t width, int32_t height);
