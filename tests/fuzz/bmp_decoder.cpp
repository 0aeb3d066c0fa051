// The BMP decoder on arbitrary bytes: it decodes or fails, and on failure
// holds nothing. A lowered pixel limit keeps hostile headers from making
// each run allocate for long.
#include <cstddef>
#include <cstdint>

#include "media/image_codecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ImageDecodePixelLimit = uint64_t{1} << 22;
    ImageData image{};
    image.transparentColour = -1;
    if (DecodeBmp(data, size, size & 1, &image) != 0)
        return image.pixels != nullptr;
    uint64_t sum = 0;
    if (image.pixels)
        for (int64_t i = 0; i < int64_t{image.width} * image.height; ++i)
            sum += image.pixels[i];
    FreeImagePixels(&image);
    return sum == 1;
}
