// libqm_ffmpeg.so: the inbuilt video decoder on FFmpeg's libraries
// (libavformat, libavcodec, libswscale), loaded by the player on the first
// video that needs it (ffmpeg_module.h). It reads through the player's
// stream callbacks (an AVIOContext over QmFfIo), decodes on one thread and
// keeps FFmpeg's log quiet. Hostile files are bounded: the probe reads a
// limited amount, a picture larger than kMaxVideoPixels is refused, and the
// search for the first frame gives up after a bounded number of packets.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <cstdio>

#include "core/io/error_codes.h"
#include "media/ffmpeg_module.h"
#include "media/video_decoder.h"

namespace {

// Packets read while looking for the first picture.
constexpr int kMaxPacketsToFirstFrame = 4096;
constexpr int kIoBufferSize = 32768;

struct FfState {
    QmFfIo io;
    AVIOContext* avio;
    AVFormatContext* format;
    AVCodecContext* codec;
    int videoIndex;
};

int FfRead(void* opaque, uint8_t* buffer, int size)
{
    if (size <= 0) return 0;
    const QmFfIo* io = static_cast<const QmFfIo*>(opaque);
    size_t n = io->read(io->opaque, buffer, static_cast<size_t>(size));
    return n ? static_cast<int>(n) : AVERROR_EOF;
}

int64_t FfSeek(void* opaque, int64_t offset, int whence)
{
    const QmFfIo* io = static_cast<const QmFfIo*>(opaque);
    if (whence & AVSEEK_SIZE) return io->size(io->opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return -1;
    return io->seek(io->opaque, offset, whence);
}

void FfClose(void* raw)
{
    auto* s = static_cast<FfState*>(raw);
    if (!s) return;
    avcodec_free_context(&s->codec);
    avformat_close_input(&s->format);
    if (s->avio) {
        av_freep(&s->avio->buffer);
        avio_context_free(&s->avio);
    }
    av_free(s);
}

// Converts a decoded picture to ARGB words (BGRA bytes in memory).
uint32_t FfConvert(const AVFrame* frame, int32_t width, int32_t height, uint32_t* argb)
{
    if (!PlausibleVideoSize(frame->width, frame->height)) return ERR_VIDEOFRAME;
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

uint32_t FfOpen(const QmFfIo* io, QmFfVideoInfo* out, void** video)
{
    *video = nullptr;
    auto* s = static_cast<FfState*>(av_mallocz(sizeof(FfState)));
    if (!s) return ERR_MEM;
    s->io = *io;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    if (buffer)
        s->avio = avio_alloc_context(buffer, kIoBufferSize, 0, &s->io, FfRead, nullptr, io->seek ? FfSeek : nullptr);
    if (!s->avio) {
        av_free(buffer);
        FfClose(s);
        return ERR_MEM;
    }
    s->format = avformat_alloc_context();
    if (!s->format) {
        FfClose(s);
        return ERR_MEM;
    }
    s->format->pb = s->avio;
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
    AVStream* stream = s->format->streams[s->videoIndex];
    s->codec = avcodec_alloc_context3(decoder);
    if (!s->codec || avcodec_parameters_to_context(s->codec, stream->codecpar) < 0) {
        FfClose(s);
        return ERR_LOADVIDEO;
    }
    s->codec->thread_count = 1;
    if (avcodec_open2(s->codec, decoder, nullptr) < 0 ||
        !PlausibleVideoSize(stream->codecpar->width, stream->codecpar->height)) {
        FfClose(s);
        return ERR_LOADVIDEO;
    }
    *out = QmFfVideoInfo{};
    out->width = stream->codecpar->width;
    out->height = stream->codecpar->height;
    int64_t duration = 0;
    if (s->format->duration != AV_NOPTS_VALUE && s->format->duration > 0)
        duration = av_rescale(s->format->duration, 1000, AV_TIME_BASE);
    else if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        duration = av_rescale_q(stream->duration, stream->time_base, AVRational{1, 1000});
    out->durationMs = duration;
    if (stream->nb_frames > 0) {
        out->frames = stream->nb_frames;
    } else if (duration > 0 && stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0) {
        out->frames = av_rescale(duration, stream->avg_frame_rate.num, int64_t{1000} * stream->avg_frame_rate.den);
    }
    out->canSeek = s->avio->seekable & AVIO_SEEKABLE_NORMAL ? 1 : 0;
    std::snprintf(out->format, sizeof out->format, "%s", s->format->iformat->name);
    *video = s;
    return 0;
}

const QmFfApi kApi = {FfOpen, FfFirstFrame, FfClose};

}  // namespace

extern "C" __attribute__((visibility("default"))) const QmFfApi* QmFfmpegEntry(uint32_t version)
{
    if (version != QM_FFMPEG_API_VERSION) return nullptr;
    // Hostile files would otherwise fill the player's error stream.
    av_log_set_level(AV_LOG_QUIET);
    return &kApi;
}
