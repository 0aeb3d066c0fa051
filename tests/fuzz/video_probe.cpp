// The inbuilt video decoder (FFmpeg's libraries) on arbitrary bytes
// through a ":::memory" stream: probing either fails holding nothing or
// gives a plausible size whose first frame decodes or fails cleanly. FFmpeg
// is not built with AddressSanitizer, so what it writes past the frame goes
// unseen until the heap breaks later on: words after the frame must keep
// the value they had.
#include <cstdlib>
#include <vector>

#include "media/video_decoder.h"
#include "tests/fuzz/memory_input.h"

// The decoder lives in a module loaded on the first video; loading it
// before the first input lets the fuzzer see its coverage from the start.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static const uint8_t empty[1] = {0};
    MemoryName name;
    VideoBackEnd backEnd{};
    if (StreamHandle* stream = OpenInputStream(empty, sizeof empty, &name); stream && OpenInbuiltVideo(stream, &backEnd) == 0)
        backEnd.ops->close(backEnd.state);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MemoryName name;
    StreamHandle* stream = OpenInputStream(data, size, &name);
    if (!stream) return 0;
    VideoBackEnd backEnd{};
    if (OpenInbuiltVideo(stream, &backEnd) != 0) return 0;
    if (int64_t{backEnd.width} * backEnd.height <= (int64_t{1} << 20)) {
        constexpr size_t kGuardWords = 64;
        constexpr uint32_t kGuard = 0xDEADBEEFu;
        size_t pixels = static_cast<size_t>(backEnd.width) * static_cast<size_t>(backEnd.height);
        std::vector<uint32_t> argb(pixels + kGuardWords, kGuard);
        backEnd.ops->firstFrame(backEnd.state, argb.data());
        for (size_t i = pixels; i < argb.size(); ++i)
            if (argb[i] != kGuard) std::abort();
    }
    backEnd.ops->close(backEnd.state);
    return 0;
}
