// The animated-GIF reader on arbitrary bytes: opening must fail holding
// nothing or give frames that can each be composed and read; odd-length
// inputs also step backwards to exercise the restart.
#include <cstring>

#include "media/gif_anim.h"
#include "media/image_codecs.h"
#include "platform/posix/os_memory.h"

namespace {
volatile uint64_t g_sink;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ImageDecodePixelLimit = uint64_t{1} << 20;
    auto* copy = static_cast<uint8_t*>(OsAllocMem(size ? size : 1, 0));
    if (!copy)
        return 0;
    if (size)
        std::memcpy(copy, data, size);
    GifAnimDecoder* decoder = nullptr;
    GifAnimInfo info{};
    if (OpenGifAnim(copy, size, &decoder, &info) != 0) {
        // A failed open holds nothing.
        if (decoder)
            __builtin_trap();
        return 0;
    }
    uint64_t sum = 0;
    uint32_t frames = info.frameCount < 64 ? info.frameCount : 64;
    for (uint32_t f = 0; f < frames; ++f) {
        const uint32_t* pixels = nullptr;
        if (DecodeGifAnimFrame(decoder, f, &pixels) != 0)
            break;
        for (int64_t i = 0; i < int64_t{info.width} * info.height; ++i)
            sum += pixels[i];
        sum += static_cast<uint32_t>(GetGifAnimFrameDelay(decoder, f));
    }
    if ((size & 1) && frames > 1) {
        const uint32_t* pixels = nullptr;
        if (DecodeGifAnimFrame(decoder, 0, &pixels) == 0)
            sum += pixels[0];
    }
    CloseGifAnim(decoder);
    // libFuzzer reserves results other than 0; the sum keeps the reads.
    g_sink = g_sink + sum;
    return 0;
}
