// The boundary between the player and libqm_ffmpeg.so, the module that holds
// the inbuilt video decoder on FFmpeg's libraries. FFmpeg costs tens of
// milliseconds of dynamic linking at every start, and most applets never
// open a video, so the player loads the module only when a video first
// needs the inbuilt decoder. Everything crosses as plain C: the player hands
// over its stream as callbacks (media/module_io.h), the module answers
// through one table of function pointers and error codes; nothing throws
// across.
#pragma once

#include <cstdint>

#include "media/module_io.h"

extern "C" {

struct QmFfVideoInfo {
    int32_t width;
    int32_t height;
    int64_t durationMs;  // 0 when not known
    int64_t frames;      // 0 when not known, and then framesError says why
    uint32_t framesError;
    uint32_t canSeek;
    char format[64];
};

struct QmFfApi {
    // Opens a video on io (which must outlive the video): 0 and *video, or
    // ERR_LOADVIDEO, ERR_MEM with *video null.
    uint32_t (*open)(const QmStreamIo* io, QmFfVideoInfo* info, void** video);
    // The first frame as width x height ARGB words: 0 or ERR_VIDEOFRAME.
    uint32_t (*firstFrame)(void* video, uint32_t* argb);
    void (*close)(void* video);
};

// Raised whenever QmFfApi or the records above change shape.
#define QM_FFMPEG_API_VERSION 3u
#define QM_FFMPEG_MODULE_NAME "libqm_ffmpeg.so"
#define QM_FFMPEG_ENTRY_NAME "QmFfmpegEntry"

// The module's one export: its table when it speaks version, else null.
// The player calls it once, before any video opens.
typedef const QmFfApi* (*QmFfmpegEntryFunc)(uint32_t version);
}
