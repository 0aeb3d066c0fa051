// The video list and its lock.
#include "media/video.h"

#include "core/io/error_codes.h"
#include "display/object_list.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_thread.h"

Video* VideoList;

namespace {

OsMutex* g_videoLock;

}  // namespace

uint32_t InitVideoList()
{
    if (!g_videoLock) g_videoLock = OsCreateLock();
    return g_videoLock ? 0u : static_cast<uint32_t>(ERR_SEMAPHORE);
}

void LockVideoList()
{
    if (g_videoLock) OsLock(g_videoLock);
}

void UnlockVideoList()
{
    if (g_videoLock) OsUnlock(g_videoLock);
}

uint32_t FindVideo(ObjectId id, Video** out, uint32_t)
{
    ObjectHeader* r;
    LockVideoList();
    uint32_t error =
        FindObjectOrError(reinterpret_cast<ObjectHeader*>(VideoList), id, ERR_FINDVIDEO, &r);
    UnlockVideoList();
    *out = reinterpret_cast<Video*>(r);
    return error;
}

void StopAllVideos()
{
    LockVideoList();
    for (Video* v = VideoList; v; v = reinterpret_cast<Video*>(v->header.next)) v->playState = 0;
    UnlockVideoList();
}

void FreeAllVideos()
{
    LockVideoList();
    Video* v = VideoList;
    VideoList = nullptr;
    UnlockVideoList();
    while (v) {
        Video* next = reinterpret_cast<Video*>(v->header.next);
        OsFreeMem(v);
        v = next;
    }
    if (g_videoLock) OsDeleteLock(g_videoLock);
    g_videoLock = nullptr;
}
