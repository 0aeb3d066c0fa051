// libqm_ffmpeg.so: the inbuilt video decoder on FFmpeg's libraries
// (libavformat, libavcodec, libswscale), loaded by the player on the first
// video that needs it (ffmpeg_module.h). It reads through the player's
// stream callbacks (an AVIOContext over QmStreamIo), decodes on one thread and
// keeps FFmpeg's log quiet. Hostile files are bounded: no single allocation
// of FFmpeg's may exceed kMaxFfmpegAlloc (a header may declare gigabytes
// that the demuxers would zero-fill before they read a byte), the probe
// reads a limited amount, a picture larger than kMaxVideoPixels is refused,
// and the search for the first frame and the count of frames give up after
// a bounded number of packets.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/io/error_codes.h"
#include "media/ffmpeg_module.h"
#include "media/video_decoder.h"

namespace {

// Packets read while looking for the first picture.
constexpr int kMaxPacketsToFirstFrame = 4096;
// Packets counted for a video that tells neither its frame count nor its
// frame rate and length: some eleven hours at 25 frames a second.
constexpr int64_t kMaxCountedPackets = int64_t{1} << 20;
constexpr int kIoBufferSize = 32768;
// The largest single allocation FFmpeg may make: one 16-bit plane of the
// largest picture a video may have, and a little for the padding.
constexpr size_t kMaxFfmpegAlloc = static_cast<size_t>(kMaxVideoPixels) * 2 + (size_t{1} << 20);

struct FfState {
    QmStreamIo io;
    AVIOContext* avio;
    AVFormatContext* format;
    AVCodecContext* codec;
    const AVCodec* decoder;
    int videoIndex;
};

int FfRead(void* opaque, uint8_t* buffer, int size)
{
    if (size <= 0) return 0;
    const QmStreamIo* io = static_cast<const QmStreamIo*>(opaque);
    size_t n = io->read(io->opaque, buffer, static_cast<size_t>(size));
    return n ? static_cast<int>(n) : AVERROR_EOF;
}

int64_t FfSeek(void* opaque, int64_t offset, int whence)
{
    const QmStreamIo* io = static_cast<const QmStreamIo*>(opaque);
    if (whence & AVSEEK_SIZE) return static_cast<int64_t>(io->size(io->opaque));
    whence &= ~AVSEEK_FORCE;
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return -1;
    return io->seek(io->opaque, offset, whence);
}

void CloseDemuxer(FfState* s)
{
    avformat_close_input(&s->format);
    if (s->avio) {
        av_freep(&s->avio->buffer);
        avio_context_free(&s->avio);
    }
}

void FfClose(void* raw)
{
    auto* s = static_cast<FfState*>(raw);
    if (!s) return;
    avcodec_free_context(&s->codec);
    CloseDemuxer(s);
    av_free(s);
}

// Opens the container from where the stream stands and picks its video
// stream, which must have a plausible size: 0, ERR_MEM or ERR_LOADVIDEO.
// What was made stays for CloseDemuxer.
uint32_t OpenDemuxer(FfState* s)
{
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    if (buffer)
        s->avio = avio_alloc_context(buffer, kIoBufferSize, 0, &s->io, FfRead, nullptr, s->io.canSeek ? FfSeek : nullptr);
    if (!s->avio) {
        av_free(buffer);
        return ERR_MEM;
    }
    s->format = avformat_alloc_context();
    if (!s->format) return ERR_MEM;
    s->format->pb = s->avio;
    s->format->flags |= AVFMT_FLAG_CUSTOM_IO;
    s->format->probesize = 8 << 20;
    s->format->max_analyze_duration = 10 * int64_t{AV_TIME_BASE};
    // On failure FFmpeg frees the format context itself.
    if (avformat_open_input(&s->format, "", nullptr, nullptr) < 0 ||
        avformat_find_stream_info(s->format, nullptr) < 0)
        return ERR_LOADVIDEO;
    s->videoIndex = av_find_best_stream(s->format, AVMEDIA_TYPE_VIDEO, -1, -1, &s->decoder, 0);
    if (s->videoIndex < 0 || !s->decoder) return ERR_LOADVIDEO;
    const AVCodecParameters* par = s->format->streams[s->videoIndex]->codecpar;
    return PlausibleVideoSize(par->width, par->height) ? 0u : uint32_t{ERR_LOADVIDEO};
}

bool KnownRate(AVRational rate) { return rate.num > 0 && rate.den > 0; }

// The frames the container stores, else its frame rate (nominal, then
// average) times its length (the stream's, else the container's); 0 when
// neither is known.
int64_t StatedFrameCount(const AVFormatContext* format, const AVStream* stream)
{
    if (stream->nb_frames > 0) return stream->nb_frames;
    AVRational rate = KnownRate(stream->r_frame_rate) ? stream->r_frame_rate : stream->avg_frame_rate;
    if (!KnownRate(rate)) return 0;
    AVRational perFrame = av_inv_q(rate);
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0 && KnownRate(stream->time_base))
        return av_rescale_q(stream->duration, stream->time_base, perFrame);
    if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
        return av_rescale_q(format->duration, AV_TIME_BASE_Q, perFrame);
    return 0;
}

// Counts the video stream's packets to the end (or the bound), then opens
// the container afresh from its start, where the first frame is looked for.
// 0 with the count, ERR_SEEKFORMAT when the stream cannot go back to its
// start, ERR_VIDEOFRAME past the bound, or the reopening's error.
uint32_t CountFrames(FfState* s, int64_t* frames, uint32_t* reopenError)
{
    *frames = 0;
    *reopenError = 0;
    if (!s->io.canSeek || !(s->avio->seekable & AVIO_SEEKABLE_NORMAL)) return ERR_SEEKFORMAT;
    AVPacket* packet = av_packet_alloc();
    if (!packet) return ERR_MEM;
    int64_t count = 0, read = 0;
    for (; read < kMaxCountedPackets && av_read_frame(s->format, packet) >= 0; ++read) {
        count += packet->stream_index == s->videoIndex;
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    CloseDemuxer(s);
    if (s->io.seek(s->io.opaque, 0, SEEK_SET) != 0)
        *reopenError = ERR_LOADVIDEO;
    else
        *reopenError = OpenDemuxer(s);
    if (read >= kMaxCountedPackets) return ERR_VIDEOFRAME;
    *frames = count;
    return count > 0 ? 0u : uint32_t{ERR_VIDEOFRAME};
}

// Converts a decoded picture to ARGB words (BGRA bytes in memory). The
// scaler writes whole vectors of pixels, past the end of a row that is not
// a multiple of them and so past the end of a tight picture: it writes into
// rows padded to 64 bytes with one spare row below, and they are copied out.
uint32_t FfConvert(const AVFrame* frame, int32_t width, int32_t height, uint32_t* argb)
{
    if (!PlausibleVideoSize(frame->width, frame->height) || !PlausibleVideoSize(width, height)) return ERR_VIDEOFRAME;
    size_t rowBytes = static_cast<size_t>(width) * 4, stride = (rowBytes + 63) & ~size_t{63};
    auto* rows = static_cast<uint8_t*>(std::malloc(stride * (static_cast<size_t>(height) + 1)));
    SwsContext* sws = rows ? sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                            width, height, AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr, nullptr, nullptr)
                           : nullptr;
    int done = 0;
    if (sws && stride <= INT32_MAX) {
        uint8_t* planes[4] = {rows, nullptr, nullptr, nullptr};
        int strides[4] = {static_cast<int>(stride), 0, 0, 0};
        done = sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides);
    }
    if (done == height)
        for (int32_t y = 0; y < height; ++y)
            std::memcpy(argb + static_cast<size_t>(y) * width, rows + static_cast<size_t>(y) * stride, rowBytes);
    sws_freeContext(sws);
    std::free(rows);
    return done == height ? 0u : uint32_t{ERR_VIDEOFRAME};
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

uint32_t FfOpen(const QmStreamIo* io, QmFfVideoInfo* out, void** video)
{
    *video = nullptr;
    auto* s = static_cast<FfState*>(av_mallocz(sizeof(FfState)));
    if (!s) return ERR_MEM;
    s->io = *io;
    *out = QmFfVideoInfo{};
    uint32_t error = OpenDemuxer(s);
    if (!error) {
        out->frames = StatedFrameCount(s->format, s->format->streams[s->videoIndex]);
        if (out->frames <= 0) {
            uint32_t reopenError;
            out->framesError = CountFrames(s, &out->frames, &reopenError);
            error = reopenError;
        }
    }
    AVStream* stream = error ? nullptr : s->format->streams[s->videoIndex];
    if (stream) {
        s->codec = avcodec_alloc_context3(s->decoder);
        if (!s->codec || avcodec_parameters_to_context(s->codec, stream->codecpar) < 0) error = ERR_LOADVIDEO;
    }
    if (!error) {
        s->codec->thread_count = 1;
        if (avcodec_open2(s->codec, s->decoder, nullptr) < 0) error = ERR_LOADVIDEO;
    }
    if (error) {
        FfClose(s);
        return error == ERR_MEM ? uint32_t{ERR_MEM} : uint32_t{ERR_LOADVIDEO};
    }
    out->width = stream->codecpar->width;
    out->height = stream->codecpar->height;
    int64_t duration = 0;
    if (s->format->duration != AV_NOPTS_VALUE && s->format->duration > 0)
        duration = av_rescale(s->format->duration, 1000, AV_TIME_BASE);
    else if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        duration = av_rescale_q(stream->duration, stream->time_base, AVRational{1, 1000});
    out->durationMs = duration;
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
    av_max_alloc(kMaxFfmpegAlloc);
    return &kApi;
}
