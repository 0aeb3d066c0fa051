// Video objects: the list the runtime and GetAttribute read, guarded by the
// video-list lock because decoder threads touch the records. Decoding comes
// with its own issue; the list, the finder and the exits are here.
#pragma once

#include <cstdint>

#include "core/object_registry.h"

struct VmState;

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
    void* backEnd;       // the decoder's state, owned by it
};

extern Video* VideoList;

// 0, or ERR_FINDVIDEO (ERR_FINDARRAY for a handle id). Option bits are
// accepted for the callers that pass them and change nothing here.
uint32_t FindVideo(ObjectId id, Video** out, uint32_t options);

uint32_t OpenVideoLibrary(VmState* vm);
// Stops every video.
void StopAllVideos();
// Frees every video and the video-list lock.
void FreeAllVideos();

// The list lock, for the decoder side; null before the library opened.
void LockVideoList();
void UnlockVideoList();
// Creates the list lock (OpenVideoLibrary does it); 0 or ERR_SEMAPHORE.
uint32_t InitVideoList();
