// What the picture decoders' fuzz targets share: one decode of arbitrary
// bytes (a probe for inputs of odd length), which must either fail holding
// nothing or give a picture whose every pixel can be read. A lowered pixel
// limit keeps hostile headers from making each run allocate for long.
#pragma once

#include <cstddef>
#include <cstdint>

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
