// What the sound fuzz targets share. Include once per target.
#pragma once

#include "media/sound_decoders.h"

// The decoders live in a module loaded on the first sound that reaches
// them; loading it before the first input lets the fuzzer see its coverage
// from the start.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static const uint8_t empty[1] = {0};
    SoundSource source;
    if (OpenInbuiltSoundOnMemory(empty, sizeof empty, SOUNDFOR_MUSIC, &source) == 0) CloseSoundSource(&source);
    return 0;
}

// Leaks inside the packaged decoders that no caller can free: libsndfile's
// Ogg Vorbis reader leaves the vorbis_info it set up behind when a stream's
// headers are broken. They are the library's, not the runtime's, so the
// sound targets tell LeakSanitizer to pass them and catch every other leak.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:vorbis_info_init\n";
}

// Thousands of runs each list the suppression otherwise.
extern "C" const char* __lsan_default_options()
{
    return "print_suppressions=0";
}
