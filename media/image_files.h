// Picture files: the host image loader that the loader chains fall back on
// (the inbuilt decoders; "native" has none on this platform) and the
// writers of PNG, JPEG and IFF ILBM files. The GIF writer is gif_writer.h.
#pragma once

#include <cstddef>
#include <cstdint>

struct ImageData;

// Host modes of LoadImageFile.
enum HostImageMode : uint32_t {
    HOSTIMAGE_LOAD = 0,
    HOSTIMAGE_PROBE = 1,            // size and transparency only, no pixels
    HOSTIMAGE_TRANSPARENT_PEN = 2,  // the caller wants a transparent pen
};

// What the host loader answers beside the image.
struct HostImageInfo {
    int32_t width;
    int32_t height;
    int32_t transparentColour;  // -1 none, -2 the image carries alpha
    uint32_t hasAlpha;
};

// Largest picture file read into memory.
constexpr uint64_t kMaxImageFileSize = uint64_t{1} << 30;

// Loads (or probes) a picture file with the inbuilt decoders when the
// loader list allows "inbuilt". 0, or ERR_READFILE (cannot be opened or
// read), ERR_LOADPICTURE (no decoder took it, or it is broken), ERR_MEM,
// ERR_BADDIMENSIONS; the file name is kept for the message. In probe mode
// outImage may be null. outNative is set to 0 (the runtime's own decoder).
uint32_t LoadImageFile(const char* file, const char* loaderList, uint32_t options, uint32_t hostMode,
                       ImageData** outImage, uint32_t* outNative, HostImageInfo* outInfo);

// The decoded ARGB pixels (width x height, no row padding).
uint32_t* GetImageDataPixels(ImageData* image);

// Frees a decoded image; null is allowed.
void FreeImageData(ImageData* image);

// Reads a whole file through the stream layer into OsAllocMem memory:
// 0, ERR_READFILE (name kept) or ERR_MEM.
uint32_t ReadWholeImageFile(const char* file, const char* loaderList, uint8_t** outData, size_t* outSize);

struct SavePngBlock {
    const char* file;
    const uint32_t* argb;
    size_t bytesPerRow;
    int32_t width;
    int32_t height;
    uint32_t withAlpha;
    uint32_t result;  // 0 or the error code
};
void SavePng(SavePngBlock* block);

struct SaveJpegBlock {
    const uint32_t* argb;
    size_t bytesPerRow;
    int32_t width;
    int32_t height;
    int32_t quality;      // clamped to 1..100
    uint32_t reserved;
    uint8_t* memory;      // out: OsAllocMem block, the caller's to free
    size_t size;          // out
    uint32_t error;       // out: 0 or the error code
};
void SaveJpeg(SaveJpegBlock* block);

// Writes a 24-plane IFF ILBM file: 0 or an error code.
uint32_t SaveIlbm(const char* file, const uint32_t* argb, int32_t width, int32_t height);
