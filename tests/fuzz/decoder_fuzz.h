// What the picture decoders' fuzz targets share: one decode of arbitrary
// bytes (a probe for inputs of odd length), which must either fail holding
// nothing or give a picture whose every pixel can be read. A lowered pixel
// limit keeps hostile headers from making each run allocate for long.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "media/image_codecs.h"

inline int FuzzPictureDecoder(uint32_t (*decode)(const uint8_t*, size_t, bool, ImageData*), const uint8_t* data,
                              size_t size)
{
    ImageDecodePixelLimit = uint64_t{1} << 22;
    ImageData image{};
    image.transparentColour = -1;
    if (decode(data, size, size & 1, &image) != 0)
        return image.pixels != nullptr;
    uint64_t sum = 0;
    if (image.pixels)
        for (int64_t i = 0; i < int64_t{image.width} * image.height; ++i)
            sum += image.pixels[i];
    FreeImagePixels(&image);
    return sum == 1;
}

// Decoders that also read as the file goes: the same bytes handed over in
// uneven pieces (the size known or not) must give the same answer and the
// same pixels as from memory.
struct FuzzPieces {
    const uint8_t* data;
    size_t left;
    size_t calls;
};

inline size_t ReadFuzzPiece(void* context, uint8_t* buffer, size_t count)
{
    auto* p = static_cast<FuzzPieces*>(context);
    size_t n = 1 + p->calls++ % 5 * 97;
    n = n < count ? n : count;
    n = n < p->left ? n : p->left;
    std::memcpy(buffer, p->data, n);
    p->data += n;
    p->left -= n;
    return n;
}

inline int FuzzPictureDecoderRoutes(uint32_t (*decode)(const uint8_t*, size_t, bool, ImageData*),
                                    uint32_t (*decodeSource)(ImageByteSource*, bool, ImageData*), const uint8_t* data,
                                    size_t size)
{
    int result = FuzzPictureDecoder(decode, data, size);
    bool probe = size & 1;
    ImageData memory{}, streamed{};
    uint32_t want = decode(data, size, probe, &memory);
    FuzzPieces pieces{data, size, 0};
    ImageByteSource source{ReadFuzzPiece, &pieces};
    if (size & 2)
        source.knownSize = size;
    if (decodeSource(&source, probe, &streamed) != want ||
        (!want && (streamed.width != memory.width || streamed.height != memory.height)))
        __builtin_trap();
    if (memory.pixels &&
        (!streamed.pixels ||
         std::memcmp(memory.pixels, streamed.pixels, sizeof(uint32_t) * memory.width * memory.height) != 0))
        __builtin_trap();
    FreeImagePixels(&memory);
    FreeImagePixels(&streamed);
    return result;
}
