// The inbuilt music decoders (the sample decoders and libopenmpt's tracker
// modules) on arbitrary bytes: open, read a bounded stretch, seek, close.
#include "sound_targets.h"
#include "media/sound_decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SoundSource source;
    if (OpenInbuiltSoundOnMemory(data, size, SOUNDFOR_MUSIC, &source) != 0) return 0;
    int16_t buffer[4096];
    for (int i = 0; i < 16 && ReadSoundSource(&source, buffer, 2048) > 0; ++i) {}
    if (source.format.canSeek) SeekSoundSource(&source, 0);
    ReadSoundSource(&source, buffer, 64);
    CloseSoundSource(&source);
    return 0;
}
