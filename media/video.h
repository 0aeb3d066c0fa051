// Video objects: the list the runtime and GetAttribute read, guarded by the
// video-list lock because decoder threads touch the records; OpenVideo,
// which opens a video through its back end (video_decoder.h) and keeps its
// first frame as a bitmap; the finder and the exits.
#pragma once

#include <cstdint>

#include "core/services/object_registry.h"

struct VmState;
struct VideoBackEnd;
struct BitMapHandle;

struct Video {
    ObjectHeader header;
    int32_t width;
    int32_t height;
    uint32_t scaleMode;
    int32_t scaledWidth;
    int32_t scaledHeight;
    uint32_t durationMs;
    uint32_t canSeek;
    uint32_t playState;  // 0 stopped, 1 playing, 2 paused
    char loader[64];
    VideoBackEnd* backEnd;  // the decoder, owned
    BitMapHandle* frame;    // the first frame, owned
};

extern Video* VideoList;

// 0, or ERR_FINDVIDEO (ERR_FINDARRAY for a handle id). No command changes
// a video's frame in place, so no option is defined yet: pass 0.
uint32_t FindVideo(ObjectId id, Video** out, uint32_t options);

uint32_t OpenVideoLibrary(VmState* vm);
// OpenVideo(id, file[, options]): "loader" and "adapter" as for sounds.
uint32_t CmdOpenVideo(VmState* vm);

// Stops every video.
void StopAllVideos();
// Frees every video and the video-list lock.
void FreeAllVideos();

// The list lock, for the decoder side; null before the library opened.
void LockVideoList();
void UnlockVideoList();
// Creates the list lock (OpenVideoLibrary does it); 0 or ERR_SEMAPHORE.
uint32_t InitVideoList();
