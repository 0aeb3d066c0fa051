// Video back ends: the decoder behind a video object, either a video
// decoder plugin or the inbuilt decoder on FFmpeg's libraries (libavformat,
// libavcodec, libswscale), chosen through the loader chain ("native" has
// no decoder here). A back end knows the video's size, length, frame count
// (or why it cannot know it), format name and whether it can seek, and decodes its first frame into
// ARGB pixels. The inbuilt decoder sits in a module of its own
// (ffmpeg_module.h), loaded when a video first needs it; it reads through
// the stream layer.
#pragma once

#include <cstddef>
#include <cstdint>

struct PluginInfo;
struct QmFfApi;
struct StreamHandle;

struct VideoBackEndOps {
    // The first frame as width x height ARGB pixels: 0 or ERR_VIDEOFRAME.
    uint32_t (*firstFrame)(void* state, uint32_t* argb);
    void (*close)(void* state);
};

struct VideoBackEnd {
    const VideoBackEndOps* ops;
    void* state;
    PluginInfo* producer;  // the decoder plugin, null for the inbuilt decoder
    int32_t width;
    int32_t height;
    int64_t durationMs;    // 0 when not known
    int64_t frames;        // 0 when not known
    uint32_t framesError;  // why frames is not known, when the decoder says
    int64_t positionMs;
    uint32_t canSeek;
    char format[64];
};

// Largest picture a video may have, in pixels.
constexpr int64_t kMaxVideoPixels = int64_t{1} << 26;

inline bool PlausibleVideoSize(int64_t width, int64_t height)
{
    return width > 0 && height > 0 && width <= 32768 && height <= 32768 && width * height <= kMaxVideoPixels;
}

// Opens a video through the loader chain: 0, or ERR_LOADVIDEO (no decoder
// took it, or it is broken; the name is kept), ERR_MEM.
uint32_t OpenVideoBackEnd(const char* file, const char* loaderList, const char* adapterList, VideoBackEnd** out);
void CloseVideoBackEnd(VideoBackEnd* backEnd);

// The inbuilt decoder on a stream the caller opened (it takes the stream
// over, also on failure); for OpenVideoBackEnd and the fuzz target.
uint32_t OpenInbuiltVideo(StreamHandle* stream, VideoBackEnd* out);

// Loads the inbuilt decoder's module from path (a file, or a bare name the
// dynamic linker searches for) and keeps it loaded: 0 and *api, or
// ERR_LOADVIDEO when it is missing, broken or of another version.
// OpenInbuiltVideo calls it on the first video.
uint32_t LoadFfmpegModuleFrom(const char* path, const QmFfApi** api);

// What GetAttribute asks of a video's back end: the playback position and
// the length in milliseconds, and the format's name.
int64_t OsVideoGetPosition(const VideoBackEnd* backEnd);
int64_t OsVideoGetDuration(const VideoBackEnd* backEnd);
const char* OsVideoGetFormatName(const VideoBackEnd* backEnd);
// The video's length in frames: 0, or why it is not known (ERR_SEEKFORMAT:
// it could only be counted by reading the video through and starting again;
// ERR_VIDEOFRAME: neither the decoder nor a bounded count could tell).
uint32_t GetVideoFrameCount(const VideoBackEnd* backEnd, int64_t* frames);
