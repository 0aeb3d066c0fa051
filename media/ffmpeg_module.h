// The boundary between the player and libqm_ffmpeg.so, the module that holds
// the inbuilt video decoder on FFmpeg's libraries. FFmpeg costs tens of
// milliseconds of dynamic linking at every start, and most applets never
// open a video, so the player loads the module only when a video first
// needs the inbuilt decoder. Everything crosses as plain C: the player hands
// over its stream as read/seek/size callbacks, the module answers through
// one table of function pointers and error codes; nothing throws across.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// The player's stream, seen from the module.
struct QmFfIo {
    void* opaque;
    // Reads up to size bytes: the count, 0 at the end or on a read error.
    size_t (*read)(void* opaque, uint8_t* buffer, size_t size);
    // Moves to offset from origin (SEEK_SET, SEEK_CUR or SEEK_END): the new
    // position, or -1. Null when the stream cannot seek.
    int64_t (*seek)(void* opaque, int64_t offset, int origin);
    // The stream's length in bytes, or -1.
    int64_t (*size)(void* opaque);
};

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
    uint32_t (*open)(const QmFfIo* io, QmFfVideoInfo* info, void** video);
    // The first frame as width x height ARGB words: 0 or ERR_VIDEOFRAME.
    uint32_t (*firstFrame)(void* video, uint32_t* argb);
    void (*close)(void* video);
};

// Raised whenever QmFfApi or the records above change shape.
#define QM_FFMPEG_API_VERSION 2u
#define QM_FFMPEG_MODULE_NAME "libqm_ffmpeg.so"
#define QM_FFMPEG_ENTRY_NAME "QmFfmpegEntry"

// The module's one export: its table when it speaks version, else null.
// The player calls it once, before any video opens.
typedef const QmFfApi* (*QmFfmpegEntryFunc)(uint32_t version);
}
