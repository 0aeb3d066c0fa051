// The decoders that libqm_sound.so holds, each on the libraries it is named
// after; module.cpp hands them to the player in one table.
#pragma once

#include "media/sound_module.h"

extern const QmSndDecoder kSndfileModuleDecoder;
extern const QmSndDecoder kMpg123ModuleDecoder;
extern const QmSndDecoder kTrackerModuleDecoder;
