// The video list and its lock, and OpenVideo: a video whose back end
// opened and whose first frame decodes becomes a record; anything less is
// an error naming the file.
#include "media/video.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/linked_files.h"
#include "core/plugins/image_loaders.h"
#include "core/services/check_args.h"
#include "core/vm/vm.h"
#include "display/layers.h"
#include "display/library_support.h"
#include "display/object_list.h"
#include "display/script_refs.h"
#include "gfx/bitmaps/argb_exchange.h"
#include "gfx/bitmaps/bitmap.h"
#include "media/sound_commands.h"
#include "media/video_decoder.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_thread.h"

Video* VideoList;

namespace {

OsMutex* g_videoLock;

void FreeVideoRecord(Video* v)
{
    // A layer showing the video keeps its frame, not a pointer to it.
    ReleaseLayerObject(nullptr, OBJ_VIDEO, &v->header);
    CloseVideoBackEnd(v->backEnd);
    if (v->frame) FreeColorBitMap(v->frame);
    OsFreeMem(v);
}

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
        FreeVideoRecord(v);
        v = next;
    }
    if (g_videoLock) OsDeleteLock(g_videoLock);
    g_videoLock = nullptr;
}

uint32_t CmdOpenVideo(VmState* vm)
{
    CheckArgs(vm, 2, 3, 0, 0);
    CreateIdArg id = GetCreateIdArg(vm, 1);
    const std::string name = GetFileNameArg(vm, 2);
    const char* file = name.c_str();
    LoaderOptions options;
    ReadLoaderOptions(vm, 3, &options);
    VideoBackEnd* backEnd = nullptr;
    uint32_t error = OpenVideoBackEnd(file, options.loader[0] ? options.loader : nullptr,
                                      options.adapter[0] ? options.adapter : nullptr, &backEnd);
    if (error) return error;
    std::vector<uint32_t> argb;
    BitMapHandle* frame = nullptr;
    try {
        argb.resize(static_cast<size_t>(backEnd->width) * static_cast<size_t>(backEnd->height));
    } catch (const std::bad_alloc&) {
        error = ERR_MEM;
    }
    if (!error && backEnd->ops->firstFrame(backEnd->state, argb.data())) error = ERR_LOADVIDEO;
    if (!error)
        error = CreateBitMapFromArgb(argb.data(), -1, backEnd->width, backEnd->height, backEnd->width, 0, 0, nullptr,
                                     &frame, nullptr, nullptr);
    auto* v = error ? nullptr : static_cast<Video*>(OsAllocMem(sizeof(Video), 1));
    if (!v) {
        if (frame) FreeColorBitMap(frame);
        CloseVideoBackEnd(backEnd);
        // A first frame that cannot be decoded or held names the file, as
        // every other video that cannot be loaded does.
        if (!error || error == ERR_MEM) error = ERR_LOADVIDEO;
        if (error == ERR_LOADVIDEO) SetErrorText(file);
        return error;
    }
    v->width = backEnd->width;
    v->height = backEnd->height;
    v->scaledWidth = backEnd->width;
    v->scaledHeight = backEnd->height;
    uint64_t ms = backEnd->durationMs > 0 ? static_cast<uint64_t>(backEnd->durationMs) : 0;
    v->durationMs = ms < UINT32_MAX ? static_cast<uint32_t>(ms) : UINT32_MAX;
    v->canSeek = backEnd->canSeek;
    std::snprintf(v->loader, sizeof v->loader, "%s", GetLoaderName(backEnd->producer));
    v->backEnd = backEnd;
    v->frame = frame;
    LockVideoList();
    Video* old = id.newHandle ? nullptr
                              : reinterpret_cast<Video*>(FindObjectInList(reinterpret_cast<ObjectHeader*>(VideoList), id.id));
    if (old) UnlinkObject(reinterpret_cast<ObjectHeader**>(&VideoList), &old->header);
    AppendObject(reinterpret_cast<ObjectHeader**>(&VideoList), &v->header, OBJ_VIDEO, id.id, id.newHandle);
    UnlockVideoList();
    if (old) {
        ReleaseObjectData(vm, &old->header);
        FreeVideoRecord(old);
    }
    if (!id.newHandle) return 0;
    VmPushLightUserdata(vm, v);
    return 1;
}
