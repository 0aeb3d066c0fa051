// The video loader chain and its two kinds of back end: video decoder
// plugins, asked in the order of their capability list under the loader
// list's rules, and the inbuilt decoder on FFmpeg's libraries when the list
// allows "inbuilt". Hostile files are bounded everywhere: the probe reads
// a limited amount, a picture larger than kMaxVideoPixels is refused, and
// the search for the first frame gives up after a bounded number of
// packets.
#include "media/video_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <cstring>
#include <mutex>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/stream.h"
#include "core/plugins/capability_lists.h"
#include "core/plugins/loader_lists.h"
#include "core/plugins/plugin_loader.h"
#include "platform/posix/os_memory.h"

namespace {

// Packets read while looking for the first picture.
constexpr int kMaxPacketsToFirstFrame = 4096;
constexpr int kIoBufferSize = 32768;

bool PlausibleSize(int64_t width, int64_t height)
{
    return width > 0 && height > 0 && width <= 32768 && height <= 32768 && width * height <= kMaxVideoPixels;
}

// ---------------------------------------------------------------------------
// FFmpeg

struct FfState {
    StreamHandle* stream;
    AVIOContext* io;
    AVFormatContext* format;
    AVCodecContext* codec;
    int videoIndex;
};

int FfRead(void* opaque, uint8_t* buffer, int size)
{
    if (size <= 0) return 0;
    size_t n = StreamRead(static_cast<StreamHandle*>(opaque), buffer, static_cast<size_t>(size));
    return n ? static_cast<int>(n) : AVERROR_EOF;
}

int64_t FfSeek(void* opaque, int64_t offset, int whence)
{
    auto* stream = static_cast<StreamHandle*>(opaque);
    if (whence & AVSEEK_SIZE) return static_cast<int64_t>(StreamSize(stream));
    whence &= ~AVSEEK_FORCE;
    int mode = whence == SEEK_SET ? STREAM_SEEK_BEGINNING : whence == SEEK_END ? STREAM_SEEK_END : STREAM_SEEK_CURRENT;
    if (StreamSeek(stream, offset, mode) < 0) return -1;
    return StreamSeek(stream, 0, STREAM_SEEK_CURRENT);
}

void FfClose(void* raw)
{
    auto* s = static_cast<FfState*>(raw);
    if (!s) return;
    avcodec_free_context(&s->codec);
    avformat_close_input(&s->format);
    if (s->io) {
        av_freep(&s->io->buffer);
        avio_context_free(&s->io);
    }
    if (s->stream) StreamClose(s->stream);
    OsFreeMem(s);
}

// Converts a decoded picture to ARGB words (BGRA bytes in memory).
uint32_t FfConvert(const AVFrame* frame, int32_t width, int32_t height, uint32_t* argb)
{
    if (!PlausibleSize(frame->width, frame->height)) return ERR_VIDEOFRAME;
    SwsContext* sws = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), width,
                                     height, AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!sws) return ERR_VIDEOFRAME;
    uint8_t* planes[4] = {reinterpret_cast<uint8_t*>(argb), nullptr, nullptr, nullptr};
    int strides[4] = {width * 4, 0, 0, 0};
    int rows = sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides);
    sws_freeContext(sws);
    return rows == height ? 0u : uint32_t{ERR_VIDEOFRAME};
}

uint32_t FfFirstFrame(void* raw, uint32_t* argb)
{
    auto* s = static_cast<FfState*>(raw);
    const AVCodecParameters* par = s->format->streams[s->videoIndex]->codecpar;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    uint32_t error = ERR_VIDEOFRAME;
    bool draining = false;
    for (int read = 0; packet && frame && read < kMaxPacketsToFirstFrame;) {
        int got = avcodec_receive_frame(s->codec, frame);
        if (got == 0) {
            error = FfConvert(frame, par->width, par->height, argb);
            break;
        }
        if (got != AVERROR(EAGAIN) || draining) break;
        int status = av_read_frame(s->format, packet);
        ++read;
        if (status < 0) {
            draining = true;
            avcodec_send_packet(s->codec, nullptr);
            continue;
        }
        if (packet->stream_index == s->videoIndex) avcodec_send_packet(s->codec, packet);
        av_packet_unref(packet);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    return error;
}

const VideoBackEndOps kFfOps = {FfFirstFrame, FfClose};

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
        if (!PlausibleSize(d.width, d.height)) {
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

uint32_t OpenInbuiltVideo(StreamHandle* stream, VideoBackEnd* out)
{
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    auto* s = static_cast<FfState*>(OsAllocMem(sizeof(FfState), 1));
    if (!s) {
        StreamClose(stream);
        return ERR_MEM;
    }
    s->stream = stream;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    if (buffer) s->io = avio_alloc_context(buffer, kIoBufferSize, 0, stream, FfRead, nullptr,
                                           IsStreamNoSeek(stream) ? nullptr : FfSeek);
    if (!s->io) {
        av_free(buffer);
        FfClose(s);
        return ERR_MEM;
    }
    s->format = avformat_alloc_context();
    if (!s->format) {
        FfClose(s);
        return ERR_MEM;
    }
    s->format->pb = s->io;
    s->format->flags |= AVFMT_FLAG_CUSTOM_IO;
    s->format->probesize = 8 << 20;
    s->format->max_analyze_duration = 10 * int64_t{AV_TIME_BASE};
    // On failure FFmpeg frees the format context itself.
    if (avformat_open_input(&s->format, "", nullptr, nullptr) < 0 ||
        avformat_find_stream_info(s->format, nullptr) < 0) {
        FfClose(s);
        return ERR_LOADVIDEO;
    }
    const AVCodec* decoder = nullptr;
    s->videoIndex = av_find_best_stream(s->format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (s->videoIndex < 0 || !decoder) {
        FfClose(s);
        return ERR_LOADVIDEO;
    }
    AVStream* video = s->format->streams[s->videoIndex];
    s->codec = avcodec_alloc_context3(decoder);
    if (!s->codec || avcodec_parameters_to_context(s->codec, video->codecpar) < 0) {
        FfClose(s);
        return ERR_LOADVIDEO;
    }
    s->codec->thread_count = 1;
    if (avcodec_open2(s->codec, decoder, nullptr) < 0 || !PlausibleSize(video->codecpar->width, video->codecpar->height)) {
        FfClose(s);
        return ERR_LOADVIDEO;
    }
    out->ops = &kFfOps;
    out->state = s;
    out->width = video->codecpar->width;
    out->height = video->codecpar->height;
    int64_t duration = 0;
    if (s->format->duration != AV_NOPTS_VALUE && s->format->duration > 0)
        duration = av_rescale(s->format->duration, 1000, AV_TIME_BASE);
    else if (video->duration != AV_NOPTS_VALUE && video->duration > 0)
        duration = av_rescale_q(video->duration, video->time_base, AVRational{1, 1000});
    out->durationMs = duration;
    if (video->nb_frames > 0) {
        out->frames = video->nb_frames;
    } else if (duration > 0 && video->avg_frame_rate.num > 0 && video->avg_frame_rate.den > 0) {
        out->frames = av_rescale(duration, video->avg_frame_rate.num, int64_t{1000} * video->avg_frame_rate.den);
    }
    out->canSeek = s->io->seekable & AVIO_SEEKABLE_NORMAL ? 1 : 0;
    std::snprintf(out->format, sizeof out->format, "%s", s->format->iformat->name);
    return 0;
}

uint32_t OpenVideoBackEnd(const char* file, const char* loaderList, const char* adapterList, VideoBackEnd** out)
{
    *out = nullptr;
    auto* backEnd = static_cast<VideoBackEnd*>(OsAllocMem(sizeof(VideoBackEnd), 1));
    if (!backEnd) return ERR_MEM;
    uint32_t error = OpenThroughPlugins(file, loaderList, backEnd);
    if (error == 1) {
        error = ERR_LOADVIDEO;
        if (IsLoaderAllowed(loaderList, "inbuilt", false)) {
            StreamHandle* stream = StreamOpen(file, STREAM_READ | STREAM_ADAPTERS, adapterList);
            if (stream) error = OpenInbuiltVideo(stream, backEnd);
        }
    }
    if (error) {
        OsFreeMem(backEnd);
        if (error != ERR_MEM) SetErrorText(file);
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
