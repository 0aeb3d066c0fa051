// The inbuilt picture codecs: decoders for PNG, JPEG, BMP, GIF and IFF ILBM
// that turn the bytes of a file into ARGB pixels (0xAARRGGBB words, rows of
// exactly the width), and the encoders behind the picture writers.
//
// Every file is hostile: sizes are checked against ImageDecodePixelLimit
// before anything is allocated, every read stays inside the data, run
// lengths and LZW codes are bounded by their rows and tables, and a broken
// file gives an error code, never a crash or an endless loop. Error paths
// free what they allocated, codec state included.
#pragma once

#include <cstddef>
#include <cstdint>

// A decoded picture. pixels come from OsAllocMem.
struct ImageData {
    int32_t width;
    int32_t height;
    uint32_t* pixels;           // null after a probe
    int32_t transparentColour;  // 0xRRGGBB, -1 none, -2 the pixels carry alpha
    uint32_t format;            // ImageFileFormat
};

enum ImageFileFormat : uint32_t {
    IMAGEFILE_UNKNOWN = 0,
    IMAGEFILE_ILBM = 1,
    IMAGEFILE_JPEG = 2,
    IMAGEFILE_PNG = 3,
    IMAGEFILE_BMP = 4,
    IMAGEFILE_GIF = 5,
};

// The largest picture a decoder accepts, in pixels (and 65535 per side).
// The fuzz targets lower it so that hostile headers cannot make them
// allocate for long.
extern uint64_t ImageDecodePixelLimit;

// 0 when the size is positive and within the limits, else ERR_BADDIMENSIONS.
uint32_t CheckImageSize(int64_t width, int64_t height);

// Sets the size and allocates the pixels (cleared with clear set) with one
// spare row after them: 0, ERR_BADDIMENSIONS or ERR_MEM.
uint32_t AllocImagePixels(ImageData* image, int64_t width, int64_t height, bool clear);

// Frees the pixels; the record may be reused.
void FreeImagePixels(ImageData* image);

// The format that the first bytes announce, or IMAGEFILE_UNKNOWN.
uint32_t SniffImageFormat(const uint8_t* data, size_t size);

// Decoders: with probe set only the size and the transparency are read.
// 0, or an error code (ERR_LOADPICTURE for a broken file, ERR_MEM,
// ERR_BADDIMENSIONS); on error nothing stays allocated.
uint32_t DecodePng(const uint8_t* data, size_t size, bool probe, ImageData* out);

// Bytes for a decoder that reads as it goes, so a file need not be in
// memory whole: read puts up to count bytes in buffer and answers how many
// (0 at the end or on an error). knownSize, when not 0, is how many bytes
// the source holds in all, which lets a header that claims more be refused
// before anything is allocated.
struct ImageByteSource {
    size_t (*read)(void* context, uint8_t* buffer, size_t count);
    void* context;
    uint64_t knownSize = 0;
};
// DecodePng and DecodeBmp reading from a source, from the first byte on.
uint32_t DecodePngSource(ImageByteSource* source, bool probe, ImageData* out);
uint32_t DecodeBmpSource(ImageByteSource* source, bool probe, ImageData* out);
uint32_t DecodeJpeg(const uint8_t* data, size_t size, bool probe, ImageData* out);
uint32_t DecodeBmp(const uint8_t* data, size_t size, bool probe, ImageData* out);
uint32_t DecodeGif(const uint8_t* data, size_t size, bool probe, ImageData* out);
uint32_t DecodeIlbm(const uint8_t* data, size_t size, bool probe, ImageData* out);

// The colour of a palette's transparent entry, changed to one that no
// other entry has, so that a mask built by colour marks exactly the
// transparent pixels.
uint32_t UniqueTransparentColour(const uint32_t* palette, uint32_t entries, uint32_t index);

// Sniffs and decodes with the matching decoder.
uint32_t DecodeImage(const uint8_t* data, size_t size, bool probe, ImageData* out);

// A growing output buffer of OsAllocMem memory for the encoders.
struct ByteBuffer {
    uint8_t* data = nullptr;
    size_t size = 0;
    size_t capacity = 0;
    bool failed = false;  // an allocation failed; later appends do nothing
};
bool AppendBytes(ByteBuffer* buffer, const void* bytes, size_t count);
void FreeByteBuffer(ByteBuffer* buffer);

// Encoders from ARGB rows of rowBytes bytes. 0, ERR_MEM or the codec's
// error (ERR_SAVEPNG, ERR_WRITEJPEG).
uint32_t EncodePng(const uint32_t* argb, size_t rowBytes, int32_t width, int32_t height, bool withAlpha,
                   ByteBuffer* out);
// quality is clamped to 1..100.
uint32_t EncodeJpeg(const uint32_t* argb, size_t rowBytes, int32_t width, int32_t height, int32_t quality,
                    ByteBuffer* out);
// A 24-plane ILBM, ByteRun1-compressed.
uint32_t EncodeIlbm(const uint32_t* argb, int32_t width, int32_t height, ByteBuffer* out);
