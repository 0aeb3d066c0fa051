// The video loader chain and its two kinds of back end: video decoder
// plugins, asked in the order of their capability list under the loader
// list's rules, and the inbuilt decoder on FFmpeg's libraries when the list
// allows "inbuilt". The inbuilt decoder lives in libqm_ffmpeg.so, loaded on
// the first video that reaches it, so that applets without videos do not
// pay for linking FFmpeg; when the module is missing, such videos fail to
// load like any other undecodable file. Hostile files are bounded
// everywhere: a picture larger than kMaxVideoPixels is refused, and the
// search for the first frame gives up after a bounded number of packets.
#include "media/video_decoder.h"

#include <cstdio>
#include <cstring>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/stream.h"
#include "core/plugins/capability_lists.h"
#include "core/plugins/loader_lists.h"
#include "core/plugins/plugin_loader.h"
#include "media/ffmpeg_module.h"
#include "media/media_modules.h"
#include "platform/posix/os_memory.h"

namespace {

// Packets read while looking for the first picture.
constexpr int kMaxPacketsToFirstFrame = 4096;

// ---------------------------------------------------------------------------
// The inbuilt decoder, in libqm_ffmpeg.so

// The module's table, or null when it could not be loaded.
const QmFfApi* FfmpegModule()
{
    static const QmFfApi* api = LoadModuleNearProgram(QM_FFMPEG_MODULE_NAME, LoadFfmpegModuleFrom);
    return api;
}

struct InbuiltVideo {
    StreamHandle* stream;
    QmStreamIo io;  // the module keeps a pointer to it
    const QmFfApi* api;
    void* video;
};

uint32_t InbuiltFirstFrame(void* raw, uint32_t* argb)
{
    auto* v = static_cast<InbuiltVideo*>(raw);
    return v->api->firstFrame(v->video, argb) ? uint32_t{ERR_VIDEOFRAME} : 0u;
}

void InbuiltClose(void* raw)
{
    auto* v = static_cast<InbuiltVideo*>(raw);
    if (!v) return;
    if (v->video) v->api->close(v->video);
    StreamClose(v->stream);
    OsFreeMem(v);
}

const VideoBackEndOps kInbuiltOps = {InbuiltFirstFrame, InbuiltClose};

// ---------------------------------------------------------------------------
// Plugins

struct PluginVideo {
    PluginInfo* info;
    void* video;
    int32_t width;
    int32_t height;
};

uint32_t PluginFirstFrame(void* raw, uint32_t* argb)
{
    auto* p = static_cast<PluginVideo*>(raw);
    PluginInfo* info = p->info;
    for (int read = 0; read < kMaxPacketsToFirstFrame; ++read) {
        QmVideoPacket packet{};
        if (reinterpret_cast<QmNextPacketFunc>(info->NextPacket)(p->video, &packet) != 1) break;
        int got = 0;
        if (packet.kind == QM_PACKET_VIDEO) {
            int64_t time = 0;
            got = reinterpret_cast<QmDecodeVideoFrameFunc>(info->DecodeVideoFrame)(p->video, &packet, argb, p->width,
                                                                                   &time);
        }
        reinterpret_cast<QmFreePacketFunc>(info->FreePacket)(p->video, &packet);
        if (got == 1) return 0;
        if (got < 0) break;
    }
    return ERR_VIDEOFRAME;
}

void PluginCloseVideo(void* raw)
{
    auto* p = static_cast<PluginVideo*>(raw);
    if (!p) return;
    if (p->video) reinterpret_cast<QmCloseVideoFunc>(p->info->CloseVideo)(p->video);
    OsFreeMem(p);
}

const VideoBackEndOps kPluginVideoOps = {PluginFirstFrame, PluginCloseVideo};

// 0 when a plugin took the file, 1 when none did, else an error.
uint32_t OpenThroughPlugins(const char* file, const char* loaderList, VideoBackEnd* out)
{
    BuildLoaderChain(loaderList, PLUGINCAPS_VIDEO);
    for (PluginListNode* node = GetPluginListForCapability(PLUGINCAPS_VIDEO); node; node = node->next) {
        PluginInfo* info = node->info;
        if (!PluginPassesLoaderList(info, loaderList) || IsForeignCallForm(info)) continue;
        QmVideoInfo d{};
        void* video = reinterpret_cast<QmOpenVideoFunc>(info->OpenVideo)(file, &d);
        if (!video) continue;
        auto* p = static_cast<PluginVideo*>(OsAllocMem(sizeof(PluginVideo), 1));
        if (!p) {
            reinterpret_cast<QmCloseVideoFunc>(info->CloseVideo)(video);
            return ERR_MEM;
        }
        *p = PluginVideo{info, video, d.width, d.height};
        if (!PlausibleVideoSize(d.width, d.height)) {
            PluginCloseVideo(p);
            continue;
        }
        out->ops = &kPluginVideoOps;
        out->state = p;
        out->producer = info;
        out->width = d.width;
        out->height = d.height;
        out->durationMs = d.durationMs > 0 ? d.durationMs : 0;
        int64_t frames = reinterpret_cast<QmGetVideoFramesFunc>(info->GetVideoFrames)(video);
        out->frames = frames > 0 ? frames : 0;
        out->canSeek = d.flags & QM_VIDEO_CANSEEK ? 1 : 0;
        const char* name = reinterpret_cast<QmGetVideoFormatFunc>(info->GetVideoFormat)(video);
        std::snprintf(out->format, sizeof out->format, "%s", name ? name : "");
        return 0;
    }
    return 1;
}

}  // namespace

uint32_t LoadFfmpegModuleFrom(const char* path, const QmFfApi** api)
{
    *api = LoadModuleTable(path, QM_FFMPEG_ENTRY_NAME, QM_FFMPEG_API_VERSION, +[](const QmFfApi* table) {
        return table->open && table->firstFrame && table->close;
    });
    return *api ? 0 : uint32_t{ERR_LOADVIDEO};
}

uint32_t OpenInbuiltVideo(StreamHandle* stream, VideoBackEnd* out)
{
    const QmFfApi* api = FfmpegModule();
    auto* v = api ? static_cast<InbuiltVideo*>(OsAllocMem(sizeof(InbuiltVideo), 1)) : nullptr;
    if (!v) {
        StreamClose(stream);
        return api ? uint32_t{ERR_MEM} : uint32_t{ERR_LOADVIDEO};
    }
    *v = InbuiltVideo{stream, ModuleIoOf(stream), api, nullptr};
    QmFfVideoInfo info{};
    uint32_t error = api->open(&v->io, &info, &v->video);
    if (error || !v->video) {
        v->video = nullptr;
        InbuiltClose(v);
        return error == ERR_MEM ? uint32_t{ERR_MEM} : uint32_t{ERR_LOADVIDEO};
    }
    out->ops = &kInbuiltOps;
    out->state = v;
    out->width = info.width;
    out->height = info.height;
    out->durationMs = info.durationMs;
    out->frames = info.frames;
    out->framesError = info.framesError;
    out->canSeek = info.canSeek;
    static_assert(sizeof out->format == sizeof info.format);
    std::memcpy(out->format, info.format, sizeof out->format);
    out->format[sizeof out->format - 1] = 0;
    return 0;
}

uint32_t OpenVideoBackEnd(const char* file, const char* loaderList, const char* adapterList, VideoBackEnd** out)
{
    *out = nullptr;
    auto* backEnd = static_cast<VideoBackEnd*>(OsAllocMem(sizeof(VideoBackEnd), 1));
    uint32_t error = backEnd ? OpenThroughPlugins(file, loaderList, backEnd) : ERR_MEM;
    if (error == 1) {
        error = ERR_LOADVIDEO;
        if (IsLoaderAllowed(loaderList, "inbuilt", false)) {
            StreamHandle* stream = StreamOpen(file, STREAM_READ | STREAM_ADAPTERS, adapterList);
            if (stream) error = OpenInbuiltVideo(stream, backEnd);
        }
    }
    if (error) {
        OsFreeMem(backEnd);
        // A video that does not fit in memory is named like any other that
        // cannot be loaded.
        if (error == ERR_MEM) error = ERR_LOADVIDEO;
        SetErrorText(file);
        return error;
    }
    *out = backEnd;
    return 0;
}

void CloseVideoBackEnd(VideoBackEnd* backEnd)
{
    if (!backEnd) return;
    if (backEnd->ops) backEnd->ops->close(backEnd->state);
    OsFreeMem(backEnd);
}

int64_t OsVideoGetPosition(const VideoBackEnd* backEnd) { return backEnd ? backEnd->positionMs : 0; }

int64_t OsVideoGetDuration(const VideoBackEnd* backEnd) { return backEnd ? backEnd->durationMs : 0; }

const char* OsVideoGetFormatName(const VideoBackEnd* backEnd) { return backEnd ? backEnd->format : ""; }

uint32_t GetVideoFrameCount(const VideoBackEnd* backEnd, int64_t* frames)
{
    *frames = 0;
    if (!backEnd) return ERR_VIDEOFRAME;
    if (backEnd->frames <= 0) return backEnd->framesError ? backEnd->framesError : uint32_t{ERR_VIDEOFRAME};
    *frames = backEnd->frames;
    return 0;
}
