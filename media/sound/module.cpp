// The one export of libqm_sound.so: the table of its decoders.
#include <mpg123.h>

#include "media/sound/decoders.h"

namespace {

const QmSndApi kApi = {kSndfileModuleDecoder, kMpg123ModuleDecoder, kTrackerModuleDecoder};

}  // namespace

extern "C" __attribute__((visibility("default"))) const QmSndApi* QmSoundEntry(uint32_t version)
{
    if (version != QM_SOUND_API_VERSION) return nullptr;
    // The player asks once, before any MPEG audio opens.
    mpg123_init();
    return &kApi;
}
