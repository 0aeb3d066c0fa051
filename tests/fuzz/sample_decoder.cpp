// The inbuilt sample decoders (libsndfile, libmpg123) on arbitrary bytes
// through a ":::memory" stream: an open either fails holding nothing or
// gives a sound whose frames can be read to the end within the size bound,
// and that LoadSample's block decoding takes whole or refuses within its
// budget (a small one for inputs of odd length, so that the full budget
// is met too).
#include <cstdlib>

#include "sound_targets.h"
#include "media/sound_decoders.h"
#include "platform/posix/os_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SoundSource source;
    if (OpenInbuiltSoundOnMemory(data, size, SOUNDFOR_SAMPLE, &source) != 0) return 0;
    int16_t buffer[4096];
    int64_t total = 0;
    for (int64_t n; (n = ReadSoundSource(&source, buffer, 2048)) > 0 && total < (int64_t{1} << 22);) total += n;
    CloseSoundSource(&source);
    if (OpenInbuiltSoundOnMemory(data, size, SOUNDFOR_SAMPLE, &source) != 0) std::abort();
    const uint64_t budget = size & 1 ? 4096 : uint64_t{4} << 20;
    void* pcm = nullptr;
    uint64_t bytes = 0;
    if (DecodeSamplePcm(&source, budget, &pcm, &bytes) == 0) {
        if (!pcm || !bytes || bytes > budget) std::abort();
        OsFreeMem(pcm);
    } else if (pcm) {
        std::abort();
    }
    CloseSoundSource(&source);
    return 0;
}
